// Scans of the simulated sheet read to the end of the medium in every read mode, and the
// raw reader's carry, limits, sense mapping and stop.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/scanner_library/TrennicFixture.h"

namespace orb::test {
namespace {

WindowDescriptorType Window(int res, int bits, int ulx, int uly, int width, int length,
                            int flags = 131) {
  WindowDescriptorType w{};
  w.XResolution = w.YResolution = res;
  w.UpperLeftX = ulx;
  w.UpperLeftY = uly;
  w.Width = width;
  w.Length = length;
  w.Threshold = 128;
  w.ImageComposition = bits == 24 ? 5 : bits == 1 ? 0 : 2;
  w.BitsPerPixel = bits;
  w.Flags = flags;
  return w;
}

class ScanReadTest : public TrennicFixture {
 protected:
  // Everything the scanner will deliver for the window just set, line by line.
  std::vector<std::vector<uint8_t>> Delivered() {
    std::vector<std::vector<uint8_t>> lines;
    for (int i = 0; i < sim().DeliveredLineCount(); ++i) lines.push_back(sim().RenderDeliveredLine(i));
    return lines;
  }
  // Reads whole lines of `lineBytes`, `linesPerRead` at a time, until the end of the medium.
  std::vector<uint8_t> ReadToEnd(int lineBytes, int linesPerRead, ReadCompleteType* last = nullptr) {
    std::vector<uint8_t> all, block(static_cast<size_t>(lineBytes) * linesPerRead);
    for (int guard = 0; guard < 100000; ++guard) {
      DataTransferType rec{lineBytes * linesPerRead, block.data(), 0};
      ReadCompleteType r = t().ReadData(&rec);
      all.insert(all.end(), block.begin(), block.begin() + rec.ReturnedBytes);
      if (r != READ_COMPLETE) {
        if (last) *last = r;
        break;
      }
    }
    return all;
  }
};

std::vector<uint8_t> Widen(const std::vector<uint8_t>& line, bool doubling) {
  const int n = static_cast<int>(line.size() / 3);
  std::vector<uint8_t> out;
  for (int i = 0; i < n;) {
    for (int k = 0; k < (doubling ? 1 : 2) && i < n; ++k, ++i)
      out.insert(out.end(), line.begin() + 3 * i, line.begin() + 3 * i + 3);
    // Halfway to the next pixel, each half taken before adding; past the line's last
    // pixel the inserted one repeats it.
    const int prev = i - 1;
    for (int c = 0; c < 3; ++c)
      out.push_back(i < n ? uint8_t((line[3 * i + c] >> 1) + (line[3 * prev + c] >> 1))
                          : line[3 * prev + c]);
  }
  return out;
}

TEST_F(ScanReadTest, PlainScanDeliversExactlyWhatTheScannerRendered) {
  for (int bits : {24, 8, 1}) {
    ASSERT_TRUE(t().SetWindow(Window(200, bits, 200, 150, 192, 120), 0, false));
    ASSERT_TRUE(t().StartScan());
    auto lines = Delivered();
    ASSERT_EQ(lines.size(), 120u);
    const int lineBytes = bits == 24 ? 576 : bits == 8 ? 192 : 24;
    ReadCompleteType last = READ_COMPLETE;
    auto got = ReadToEnd(lineBytes, 8, &last);
    EXPECT_EQ(last, READ_END_OF_MEDIUM);
    std::vector<uint8_t> want;
    for (auto& l : lines) want.insert(want.end(), l.begin(), l.end());
    EXPECT_EQ(got, want) << bits;
  }
  // The colour blocks really are in the picture: 200 dpi pixel (300, 200) is at
  // 1.5 inch, 1 inch: 0.5 inch into the paper both ways, inside the first block.
  ASSERT_TRUE(t().SetWindow(Window(200, 24, 0, 0, 400, 320), 0, false));
  ASSERT_TRUE(t().StartScan());
  auto all = ReadToEnd(1200, 8);
  ASSERT_EQ(all.size(), 1200u * 320);
  const size_t p = (200 * 400 + 300) * 3;
  EXPECT_EQ(all[p], sim::BlockColors()[0].r);
  EXPECT_EQ(all[p + 1], sim::BlockColors()[0].g);
  EXPECT_EQ(all[p + 2], sim::BlockColors()[0].b);
}

TEST_F(ScanReadTest, InterpolatedModesWidenEachLine) {
  for (int res : {800, 600}) {
    const int width = res == 800 ? 768 : 576;
    ASSERT_TRUE(t().SetWindow(Window(res, 24, res, res, width, 64), 0, false));
    ASSERT_EQ(t().GetReadMode(), 1);
    ASSERT_TRUE(t().StartScan());
    auto lines = Delivered();
    ASSERT_EQ(lines.size(), 64u);
    ASSERT_EQ(lines[0].size(), 3u * 384);
    std::vector<uint8_t> want;
    for (auto& l : lines) {
      auto w = Widen(l, res == 800);
      ASSERT_EQ(w.size(), 3u * width);
      want.insert(want.end(), w.begin(), w.end());
    }
    ReadCompleteType last = READ_COMPLETE;
    auto got = ReadToEnd(3 * width, 8, &last);
    EXPECT_EQ(last, READ_END_OF_MEDIUM);
    EXPECT_EQ(got, want) << res;
  }
}

// The pixel inserted after a line's last one repeats it whole: an odd level keeps its low
// bit (halving both halves would give 2 x (p / 2)).
TEST_F(ScanReadTest, InsertedPixelAtTheLineEndRepeatsTheLastPixel) {
  for (int res : {800, 600}) {
    const int width = res == 800 ? 768 : 576;  // 384 scanner pixels: 768 doubled, 576 by 3-for-2
    ASSERT_TRUE(t().SetWindow(Window(res, 24, res, res, width, 64), 0, false));
    ASSERT_TRUE(t().StartScan());
    auto lines = Delivered();
    ReadCompleteType last = READ_COMPLETE;
    auto got = ReadToEnd(3 * width, 8, &last);
    ASSERT_EQ(got.size(), 3u * width * lines.size());
    int oddLevels = 0;
    for (size_t y = 0; y < lines.size(); ++y) {
      const uint8_t* in = lines[y].data() + lines[y].size() - 3;
      const uint8_t* out = got.data() + 3 * width * (y + 1) - 3;
      for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(out[c], in[c]) << res << " line " << y << " channel " << c;
        oddLevels += in[c] & 1;
      }
    }
    EXPECT_GT(oddLevels, 0) << "the sheet gave no odd level to test with";
  }
}

TEST_F(ScanReadTest, DownScaledModeDropsRepeatedLinesAndPicksNearestPixels) {
  ASSERT_TRUE(t().SetWindow(Window(500, 24, 500, 500, 480, 100), 0, false));
  ASSERT_EQ(t().GetReadMode(), 2);
  ASSERT_TRUE(t().StartScan());
  auto lines = Delivered();  // 400 dpi across, 600 dpi down
  ASSERT_EQ(lines[0].size(), 3u * 384);
  std::vector<uint8_t> want;
  int lastEmitted = -1;
  for (size_t i = 0; i < lines.size(); ++i) {
    const int number = static_cast<int>(i * 8333 / 10000);
    if (number == lastEmitted) continue;
    lastEmitted = number;
    auto wide = Widen(lines[i], false);  // 400 -> 600
    for (int j = 0; j < 480; ++j) {
      const int e = j * 12000 / 10000;
      want.insert(want.end(), wide.begin() + 3 * e, wide.begin() + 3 * e + 3);
    }
  }
  ReadCompleteType last = READ_COMPLETE;
  auto got = ReadToEnd(3 * 480, 4, &last);
  EXPECT_EQ(last, READ_END_OF_MEDIUM);
  EXPECT_EQ(got.size(), want.size());
  EXPECT_EQ(got, want);
  // 1 bit, the same way on packed bits.
  ASSERT_TRUE(t().SetWindow(Window(500, 1, 0, 500, 480, 50), 0, false));
  ASSERT_EQ(t().GetReadMode(), 2);
  ASSERT_TRUE(t().StartScan());
  lines = Delivered();
  want.clear();
  lastEmitted = -1;
  for (size_t i = 0; i < lines.size(); ++i) {
    const int number = static_cast<int>(i * 8333 / 10000);
    if (number == lastEmitted) continue;
    lastEmitted = number;
    std::vector<uint8_t> out(60, 0);
    for (int j = 0; j < 480; ++j) {
      const int e = j * 12000 / 10000;
      if (lines[i][e / 8] & (0x80 >> (e % 8))) out[j / 8] |= uint8_t(0x80 >> (j % 8));
    }
    want.insert(want.end(), out.begin(), out.end());
  }
  got = ReadToEnd(60, 8);
  EXPECT_EQ(got, want);
}

TEST_F(ScanReadTest, DownScaledRequestOfPartLinesIsRefused) {
  ASSERT_TRUE(t().SetWindow(Window(500, 24, 0, 0, 480, 100), 0, false));
  ASSERT_TRUE(t().StartScan());
  std::vector<uint8_t> buf(3 * 480 * 2);
  DataTransferType rec{3 * 480 * 3 / 2, buf.data(), 0};
  sim().ClearLog();
  EXPECT_EQ(t().ReadData(&rec), READ_NOT_WHOLE_LINES);
  EXPECT_EQ(rec.ReturnedBytes, 0);
  EXPECT_EQ(sim().LogOf(0x28).size(), 0u);
}

TEST_F(ScanReadTest, LargeScaleModeEnlargesBothWays) {
  ASSERT_TRUE(t().SetWindow(Window(1000, 24, 1000, 1000, 960, 500), 0, false));
  ASSERT_EQ(t().GetReadMode(), 3);
  ASSERT_TRUE(t().StartScan());
  const int input = sim().DeliveredLineCount();
  ASSERT_EQ(input, 200);
  ReadCompleteType last = READ_COMPLETE;
  auto got = ReadToEnd(3 * 960, 8, &last);
  EXPECT_EQ(last, READ_END_OF_MEDIUM);
  // The first line is read ahead; each further line brings 2 or 3 lines, alternately.
  const size_t lines = got.size() / (3 * 960);
  EXPECT_EQ(got.size() % (3 * 960), 0u);
  EXPECT_EQ(lines, static_cast<size_t>((input - 1) / 2 * 5 + ((input - 1) % 2) * 2));
  // Inside the first colour block (0.25..0.75 inch into the paper both ways) the colour is
  // kept: the window starts 1 inch in and 1 inch down, 0.5 inch into the paper.
  const auto block = sim::BlockColors()[0];
  for (int y : {50, 150}) {
    for (int x : {400, 500}) {
      const size_t p = (static_cast<size_t>(y) * 960 + x) * 3;
      EXPECT_NEAR(got[p], block.r, 1) << x << "," << y;
      EXPECT_NEAR(got[p + 1], block.g, 1);
      EXPECT_NEAR(got[p + 2], block.b, 1);
    }
  }
}

TEST_F(ScanReadTest, HalfLineModeInsertsMeanLines) {
  ASSERT_TRUE(t().SetWindow(Window(300, 8, 0, 300, 600, 101, 139), 0, false));
  ASSERT_EQ(t().GetReadMode(), 3);
  ASSERT_TRUE(t().StartScan());
  auto lines = Delivered();
  ASSERT_EQ(lines.size(), 51u);
  std::vector<uint8_t> want;
  for (size_t i = 1; i < lines.size(); ++i) {
    want.insert(want.end(), lines[i - 1].begin(), lines[i - 1].end());
    for (size_t x = 0; x < 600; ++x) want.push_back(uint8_t((lines[i - 1][x] >> 1) + (lines[i][x] >> 1)));
  }
  auto got = ReadToEnd(600, 3);
  EXPECT_EQ(got, want);
}

TEST_F(ScanReadTest, ReplicatedModeDoublesBitsAndLines) {
  ASSERT_TRUE(t().SetWindow(Window(800, 1, 800, 800, 640, 81, 139), 0, false));
  ASSERT_EQ(t().GetReadMode(), 4);
  ASSERT_TRUE(t().StartScan());
  auto lines = Delivered();
  ASSERT_EQ(lines.size(), 41u);
  ASSERT_EQ(lines[0].size(), 40u);
  std::vector<uint8_t> want;
  for (auto& l : lines) {
    std::vector<uint8_t> d(80, 0);
    for (int x = 0; x < 640; ++x)
      if (l[static_cast<size_t>(x / 2 / 8)] & (0x80 >> ((x / 2) % 8))) d[x / 8] |= uint8_t(0x80 >> (x % 8));
    want.insert(want.end(), d.begin(), d.end());
    want.insert(want.end(), d.begin(), d.end());
  }
  // An odd number of lines per read: the second copy is owed across reads.
  auto got = ReadToEnd(80, 3);
  EXPECT_EQ(got, want);
}

TEST_F(ScanReadTest, OddRequestIsReadEvenAndTheSurplusByteCarried) {
  ASSERT_TRUE(t().SetWindow(Window(200, 8, 0, 0, 101, 50), 0, false));
  ASSERT_TRUE(t().StartScan());
  auto lines = Delivered();
  std::vector<uint8_t> stream;
  for (auto& l : lines) stream.insert(stream.end(), l.begin(), l.end());
  sim().ClearLog();
  // The caller's buffer is exactly 101 bytes: nothing may land beyond it.
  auto buf = std::make_unique<uint8_t[]>(101);
  DataTransferType rec{101, buf.get(), 0};
  ASSERT_EQ(t().ReadData(&rec), READ_COMPLETE);
  EXPECT_EQ(rec.ReturnedBytes, 101);
  EXPECT_EQ(std::vector<uint8_t>(buf.get(), buf.get() + 101), std::vector<uint8_t>(stream.begin(), stream.begin() + 101));
  ASSERT_EQ(t().ReadData(&rec), READ_COMPLETE);
  EXPECT_EQ(std::vector<uint8_t>(buf.get(), buf.get() + 101), std::vector<uint8_t>(stream.begin() + 101, stream.begin() + 202));
  auto reads = sim().LogOf(0x28);
  ASSERT_EQ(reads.size(), 2u);
  EXPECT_EQ(reads[0].cdb[8], 102);
  EXPECT_EQ(reads[1].cdb[8], 100);
}

TEST_F(ScanReadTest, LargeRequestsAreSplitIntoTransfersOfAtMost65532) {
  ASSERT_TRUE(t().SetWindow(Window(200, 24, 0, 0, 1000, 100), 0, false));
  ASSERT_TRUE(t().StartScan());
  sim().ClearLog();
  std::vector<uint8_t> buf(150000);
  DataTransferType rec{150000, buf.data(), 0};
  ASSERT_EQ(t().ReadData(&rec), READ_COMPLETE);
  auto reads = sim().LogOf(0x28);
  ASSERT_EQ(reads.size(), 3u);
  EXPECT_EQ(reads[0].cdb[6] << 16 | reads[0].cdb[7] << 8 | reads[0].cdb[8], 65532);
  EXPECT_EQ(reads[2].cdb[6] << 16 | reads[2].cdb[7] << 8 | reads[2].cdb[8], 150000 - 2 * 65532);
}

TEST_F(ScanReadTest, ShortReadsAreCountedByTheirResidue) {
  ASSERT_TRUE(t().SetWindow(Window(200, 8, 0, 0, 300, 40), 0, false));
  ASSERT_TRUE(t().StartScan());
  auto lines = Delivered();
  sim().ShortReads(700);
  auto got = ReadToEnd(300, 8);
  std::vector<uint8_t> want;
  for (auto& l : lines) want.insert(want.end(), l.begin(), l.end());
  EXPECT_EQ(got, want);
}

TEST_F(ScanReadTest, EmptyReadLimitSleepsFromTheTenthAndGivesUpAtFifteen) {
  ASSERT_TRUE(t().SetWindow(Window(200, 8, 0, 0, 100, 40), 0, false));
  ASSERT_TRUE(t().StartScan());
  sim().EmptyReads(100);
  sim().ClearLog();
  std::vector<uint8_t> buf(800);
  DataTransferType rec{800, buf.data(), 0};
  EXPECT_EQ(t().ReadData(&rec), READ_NO_DATA);
  EXPECT_EQ(sim().LogOf(0x28).size(), 15u);
  EXPECT_EQ(clock_.SleepCount(), 6);
  EXPECT_EQ(clock_.TotalSleptMs(), 300);
}

TEST_F(ScanReadTest, EmptyReadLimitGrowsForModelsThatStartFarDown) {
  sim::SimScannerConfig cfg;
  cfg.product = "HALD24";  // device type 36, optical 600
  cfg.opticalDpi = 600;
  cfg.pixelsAtOptical = 21600;
  Attach(cfg);
  ASSERT_TRUE(t().SetFractionalSpeed(2));
  ASSERT_TRUE(t().SetWindow(Window(600, 8, 0, 1500, 100, 40), 0, false));
  ASSERT_TRUE(t().StartScan());
  sim().EmptyReads(1000);
  sim().ClearLog();
  std::vector<uint8_t> buf(800);
  DataTransferType rec{800, buf.data(), 0};
  EXPECT_EQ(t().ReadData(&rec), READ_NO_DATA);
  EXPECT_EQ(sim().LogOf(0x28).size(), static_cast<size_t>(1500 / 600 * 2 * 20 + 10));
}

TEST_F(ScanReadTest, EmptyReadsBelowTheLimitAreWaitedOut) {
  ASSERT_TRUE(t().SetWindow(Window(200, 8, 0, 0, 100, 40), 0, false));
  ASSERT_TRUE(t().StartScan());
  auto first = sim().RenderDeliveredLine(0);
  sim().EmptyReads(12);
  std::vector<uint8_t> buf(100);
  DataTransferType rec{100, buf.data(), 0};
  EXPECT_EQ(t().ReadData(&rec), READ_COMPLETE);
  EXPECT_EQ(buf, first);
  EXPECT_EQ(clock_.SleepCount(), 3);
}

TEST_F(ScanReadTest, SenseMapsToReadResults) {
  struct Case {
    const char* name;
    std::function<void(sim::SimScanner&)> fault;
    ReadCompleteType expect;
    int returnedLines;
  };
  const Case cases[] = {
      {"read error at line 5", [](sim::SimScanner& s) { s.FailReadAtLine(5); }, READ_MEDIUM_ERROR, 5},
      {"other sense", [](sim::SimScanner& s) { s.FailCommand(1, {0x04, 0x44, 0x00}, 0x28); }, READ_FAILED, 0},
      {"end of medium at once", [](sim::SimScanner&) {}, READ_COMPLETE, 8},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(t().SetWindow(Window(200, 8, 0, 0, 100, 40), 0, false));
    ASSERT_TRUE(t().StartScan());
    c.fault(sim());
    std::vector<uint8_t> buf(800);
    DataTransferType rec{800, buf.data(), 0};
    EXPECT_EQ(t().ReadData(&rec), c.expect) << c.name;
    EXPECT_EQ(rec.ReturnedBytes, c.returnedLines * 100) << c.name;
    EXPECT_TRUE(t().StopScan());
  }
  EXPECT_EQ(t().GetLastTrennicError(), TRENNIC_SCSI_ERROR);
}

TEST_F(ScanReadTest, LinesArrivingWithTheEndOfMediumAreDelivered) {
  // 43 lines to the end; reads of 8 lines: the last read brings 3 lines and the end.
  ASSERT_TRUE(t().SetWindow(Window(200, 8, 0, 0, 100, 43), 0, false));
  ASSERT_TRUE(t().StartScan());
  auto lines = Delivered();
  std::vector<uint8_t> buf(800);
  int total = 0;
  ReadCompleteType r;
  do {
    DataTransferType rec{800, buf.data(), 0};
    r = t().ReadData(&rec);
    if (r == READ_END_OF_MEDIUM) {
      EXPECT_EQ(rec.ReturnedBytes, 300);
      EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 100), lines[40]);
    }
    total += rec.ReturnedBytes;
  } while (r == READ_COMPLETE);
  EXPECT_EQ(r, READ_END_OF_MEDIUM);
  EXPECT_EQ(total, 4300);
}

TEST_F(ScanReadTest, EndOfMediumComesAfterThePaperAndTheRunOn) {
  sim::SimScannerConfig cfg;
  cfg.sheet.paperTop = 0;
  cfg.sheet.paperLength = 1200;  // one inch of paper
  Attach(cfg);
  ASSERT_TRUE(t().SetPostEndOfMediaRunOn(250));  // a quarter inch more
  ASSERT_TRUE(t().SetWindow(Window(100, 8, 0, 0, 100, 0xFFFFFF), 0, false));
  ASSERT_TRUE(t().StartScan());
  ReadCompleteType last = READ_COMPLETE;
  auto got = ReadToEnd(100, 8, &last);
  EXPECT_EQ(last, READ_END_OF_MEDIUM);
  EXPECT_EQ(got.size(), 125u * 100);
}

TEST_F(ScanReadTest, ReadWithoutOpenOrRecordFails) {
  CTrennic closed;
  std::vector<uint8_t> buf(10);
  DataTransferType rec{10, buf.data(), 7};
  EXPECT_EQ(closed.ReadData(&rec), READ_FAILED);
  EXPECT_EQ(rec.ReturnedBytes, 0);
  EXPECT_EQ(t().ReadData(nullptr), READ_FAILED);
  DataTransferType noBuffer{10, nullptr, 0};
  EXPECT_EQ(t().ReadData(&noBuffer), READ_FAILED);
}

TEST_F(ScanReadTest, StopScanFromAnotherThreadEndsAPendingRead) {
  ASSERT_TRUE(t().SetWindow(Window(200, 8, 0, 0, 100, 400), 0, false));
  ASSERT_TRUE(t().StartScan());
  sim().StallReads(true);
  std::atomic<int> result{-1};
  std::vector<uint8_t> buf(800);
  std::thread reader([&] {
    DataTransferType rec{800, buf.data(), 0};
    result = t().ReadData(&rec);
  });
  while (sim().StalledReads() == 0) std::this_thread::yield();
  EXPECT_EQ(result.load(), -1);
  EXPECT_TRUE(t().StopScan());
  reader.join();
  EXPECT_EQ(result.load(), READ_END_OF_MEDIUM);
  // The stop went out as SEND(10) parameter 0 while the read was pending.
  auto sends = sim().LogOf(0x2A);
  ASSERT_FALSE(sends.empty());
  EXPECT_EQ(sends.back().cdb, Bytes({0x2A, 0, 1, 0, 0, 0, 0, 0, 1, 0}));
}

TEST_F(ScanReadTest, PaletteGreyAndThresholdedSheetsFollowTheTables) {
  // A colour table that maps every cell to its red level / 8: the scanner's palette
  // indices follow the uploaded table.
  std::vector<unsigned char> table(65536);
  for (int i = 0; i < 65536; ++i) table[static_cast<size_t>(i)] = static_cast<unsigned char>(i >> 11);
  ASSERT_TRUE(t().LoadColorTranslationTable(table.data()));
  auto w = Window(100, 8, 100, 100, 100, 20);
  w.ImageComposition = 3;
  ASSERT_TRUE(t().SetWindow(w, 0, false));
  ASSERT_TRUE(t().StartScan());
  auto got = ReadToEnd(100, 4);
  ASSERT_EQ(got.size(), 2000u);
  const auto block = sim::BlockColors()[0];
  // Pixel (40, 15) at 100 dpi: 1.4 in, 1.15 in -> paper (0.4, 0.65) -> first block.
  EXPECT_EQ(got[15 * 100 + 40], block.r >> 3);
  // A tone table inverting grey is applied by the scanner.
  std::vector<unsigned char> trc(4097);
  trc[0] = 0;
  for (int k = 1; k < 4097; ++k) trc[static_cast<size_t>(k)] = static_cast<unsigned char>(255 - (k - 1) / 16);
  ASSERT_TRUE(t().LoadTrcTable(trc.data()));
  ASSERT_TRUE(t().SetWindow(Window(100, 8, 0, 0, 100, 20), 0, false));
  ASSERT_TRUE(t().StartScan());
  got = ReadToEnd(100, 4);
  EXPECT_EQ(got[0], 255 - 40);  // backing grey 40, inverted
}

}  // namespace
}  // namespace orb::test

namespace orb::test {
namespace {

class ScanReadExtraTest : public TrennicFixture {};

TEST_F(ScanReadExtraTest, DownScaledFourBitPicksNibblesHighFirst) {
  WindowDescriptorType w{};
  w.XResolution = w.YResolution = 500;
  w.UpperLeftY = 500;
  w.Width = 480;
  w.Length = 40;
  w.ImageComposition = 2;
  w.BitsPerPixel = 4;
  w.Flags = 131;
  ASSERT_TRUE(t().SetWindow(w, 0, false));
  ASSERT_EQ(t().GetReadMode(), 2);
  ASSERT_TRUE(t().StartScan());
  std::vector<std::vector<uint8_t>> lines;
  for (int i = 0; i < sim().DeliveredLineCount(); ++i) lines.push_back(sim().RenderDeliveredLine(i));
  std::vector<uint8_t> want;
  int lastEmitted = -1;
  for (size_t i = 0; i < lines.size(); ++i) {
    const int number = static_cast<int>(i * 8333 / 10000);
    if (number == lastEmitted) continue;
    lastEmitted = number;
    std::vector<uint8_t> out(240, 0);
    for (int j = 0; j < 480; ++j) {
      const int e = j * 12000 / 10000;
      const int v = (lines[i][e / 2] >> (e % 2 ? 0 : 4)) & 15;
      out[j / 2] |= uint8_t(v << (j % 2 ? 0 : 4));
    }
    want.insert(want.end(), out.begin(), out.end());
  }
  std::vector<uint8_t> got, block(240 * 8);
  for (;;) {
    DataTransferType rec{240 * 8, block.data(), 0};
    const ReadCompleteType r = t().ReadData(&rec);
    got.insert(got.end(), block.begin(), block.begin() + rec.ReturnedBytes);
    if (r != READ_COMPLETE) break;
  }
  EXPECT_EQ(got, want);
}

TEST_F(ScanReadExtraTest, ExportedInterpolatedReadWidensOneChunk) {
  WindowDescriptorType w{};
  w.XResolution = w.YResolution = 400;
  w.Width = 200;
  w.Length = 40;
  w.ImageComposition = 5;
  w.BitsPerPixel = 24;
  w.Flags = 131;
  ASSERT_TRUE(t().SetWindow(w, 0, false));
  ASSERT_TRUE(t().StartScan());
  const auto line = sim().RenderDeliveredLine(0);
  std::vector<uint8_t> buf(1200 + 16, 0xEE);
  DataTransferType rec{1200, buf.data(), 0};
  ASSERT_EQ(t().ReadInterpolatedData(&rec, 800, false), READ_COMPLETE);
  EXPECT_EQ(rec.ReturnedBytes, 1200);
  EXPECT_EQ(sim().LogOf(0x28).back().cdb[8] | sim().LogOf(0x28).back().cdb[7] << 8, 600);
  // Pixel 0 copied, pixel 1 halfway to the next, pixel 2 the scanner's second pixel.
  EXPECT_EQ(buf[0], line[0]);
  EXPECT_EQ(buf[3], (line[0] >> 1) + (line[3] >> 1));
  EXPECT_EQ(buf[6], line[3]);
  EXPECT_EQ(buf[1200], 0xEE);
}

}  // namespace
}  // namespace orb::test
