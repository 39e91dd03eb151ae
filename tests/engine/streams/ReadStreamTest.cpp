// Read streams over stored files (the raw image file or a plain TIFF read directly).
#include <gtest/gtest.h>

#include <thread>

#include "engine/ReadWrite/LineReader.h"
#include "engine/ToolSettings.h"
#include "tests/engine/streams/StreamTestUtil.h"

using streams_test::HostScope;
using streams_test::Line;
using streams_test::MakeImage;
using streams_test::SleeperClock;
using streams_test::TempDir;
using streams_test::WriteAllBytes;

namespace {

constexpr uint64_t kHeader = 186;

// The stored (file) form of a line, packed the way files hold it; written out by hand
// here so that the stream's own packing is not used to check itself.
std::vector<uint8_t> Stored(const ImageState& img, const std::vector<uint8_t>& line) {
  std::vector<uint8_t> out;
  if (img.kind == IK_BW || img.kind == IK_BW_FROM_GREEN) {
    out.assign((line.size() + 7) / 8, 0);
    for (size_t x = 0; x < line.size(); ++x) {
      bool white = line[x] != 0;
      bool bit = img.photometric == 1 ? white : !white;
      if (bit) out[x / 8] = static_cast<uint8_t>(out[x / 8] | (0x80 >> (x % 8)));
    }
  } else if (img.kind == IK_PALETTE16) {
    for (size_t x = 0; x < line.size(); x += 2) {
      out.push_back(static_cast<uint8_t>((line[x] << 4) | line[x + 1]));
    }
  } else {
    out = line;
  }
  return out;
}

// Writes a raw image file of `img` (a header of kHeader bytes, then the lines).
void WriteRaw(ImageState* img, const std::string& path, int32_t lines = -1) {
  if (lines < 0) lines = img->height;
  std::vector<uint8_t> bytes(kHeader, 0x11);
  for (int32_t y = 0; y < lines; ++y) {
    auto s = Stored(*img, Line(*img, y));
    bytes.insert(bytes.end(), s.begin(), s.end());
  }
  WriteAllBytes(path, bytes);
  img->sourceForm = SF_RAW_FILE;
  img->rawPath = path;
  img->dataOffset = kHeader;
}

struct Shape {
  uint16_t kind;
  int32_t width;
  int32_t height;
};

class StoredReadTest : public ::testing::TestWithParam<Shape> {};

TEST_P(StoredReadTest, DeliversEveryLineInOrderAndByNumber) {
  HostScope host;
  TempDir dir;
  const Shape s = GetParam();
  ImageState* img = MakeImage(s.kind, s.width, s.height);
  WriteRaw(img, dir.File("raw.tif"));

  LineReader seq(img);
  ASSERT_EQ(OpenReadStream(&seq, kReadSequential), kReadOpenOk);
  std::vector<uint8_t> got(static_cast<size_t>(img->storedLineWidth));
  for (int32_t y = 0; y < s.height; ++y) {
    ASSERT_EQ(ReadLines(&seq, got.data(), kReadSequential, 0), 1);
    ASSERT_EQ(got, Line(*img, y)) << "line " << y;
  }
  EXPECT_EQ(CloseReadStream(&seq), 1);
  EXPECT_EQ(img->fileHandle, kNoFile);

  LineReader rnd(img);
  ASSERT_EQ(OpenReadStream(&rnd, kReadByNumber), kReadOpenOk);
  for (int32_t y : {s.height - 1, 0, s.height / 2}) {
    ASSERT_EQ(ReadLines(&rnd, got.data(), kReadByNumber, y), 1);
    EXPECT_EQ(got, Line(*img, y)) << "line " << y;
  }
  CloseReadStream(&rnd);
  orb::FreeImageChain(img);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, StoredReadTest,
    ::testing::Values(Shape{IK_RGB, 7, 5}, Shape{IK_PALETTE256, 9, 4}, Shape{IK_GREY, 1, 3},
                      Shape{IK_BW, 1, 6}, Shape{IK_BW, 9, 5}, Shape{IK_BW, 13, 4},
                      Shape{IK_BW_FROM_GREEN, 16, 3}, Shape{IK_PALETTE16, 5, 4},
                      Shape{IK_PALETTE16, 1, 3}, Shape{IK_PALETTE16, 8, 2},
                      // Several 256 KB blocks, with lines crossing block ends.
                      Shape{IK_RGB, 1001, 300}, Shape{IK_BW, 4099, 700},
                      // A line wider than the block buffer.
                      Shape{IK_RGB, 100000, 3}));

TEST(StoredRead, BilevelExpandsByPhotometricAndOneBytePerPixelLinesPassAsStored) {
  HostScope host;
  TempDir dir;
  ImageState* img = MakeImage(IK_BW, 9, 1);
  // Bits 1010 0000 1: photometric 1 (black is zero) reads set bits as white.
  std::vector<uint8_t> file(kHeader, 0);
  file.push_back(0xA0);
  file.push_back(0x80);
  WriteAllBytes(dir.File("bw.tif"), file);
  img->sourceForm = SF_RAW_FILE;
  img->rawPath = dir.File("bw.tif");
  img->dataOffset = kHeader;
  std::vector<uint8_t> got(9);
  for (uint32_t photometric : {1u, 0u}) {
    img->photometric = static_cast<Photometric>(photometric);
    LineReader r(img);
    ASSERT_EQ(OpenReadStream(&r, kReadSequential), kReadOpenOk);
    ASSERT_EQ(ReadLines(&r, got.data(), kReadSequential, 0), 1);
    const uint8_t w = photometric == 1 ? 255 : 0, b = 255 - w;
    EXPECT_EQ(got, (std::vector<uint8_t>{w, b, w, b, b, b, b, b, w})) << photometric;
  }
  img->linesOneBytePerPixel = 1;
  std::vector<uint8_t> bytes(kHeader, 0);
  for (uint8_t v : {0, 255, 7, 0, 255, 255, 1, 2, 3}) bytes.push_back(v);
  WriteAllBytes(dir.File("bw.tif"), bytes);
  LineReader r(img);
  ASSERT_EQ(OpenReadStream(&r, kReadSequential), kReadOpenOk);
  ASSERT_EQ(ReadLines(&r, got.data(), kReadSequential, 0), 1);
  EXPECT_EQ(got, (std::vector<uint8_t>{0, 255, 7, 0, 255, 255, 1, 2, 3}));
  CloseReadStream(&r);
  orb::FreeImageChain(img);
}

TEST(StoredRead, StartsAtTheRegionTopAndReadsThePlainSourceOfForm0) {
  HostScope host;
  TempDir dir;
  ImageState* img = MakeImage(IK_GREY, 4, 6);
  WriteRaw(img, dir.File("plain.tif"));
  img->sourceForm = SF_OWN_TIFF;
  img->sourcePath = img->rawPath;
  img->rawPath = dir.File("nothing-here.tif");
  img->region.top = 2;
  LineReader r(img);
  ASSERT_EQ(OpenReadStream(&r, kReadSequential), kReadOpenOk);
  std::vector<uint8_t> got(4);
  ASSERT_EQ(ReadLines(&r, got.data(), kReadSequential, 0), 1);
  EXPECT_EQ(got, Line(*img, 2));
  CloseReadStream(&r);
  orb::FreeImageChain(img);
}

TEST(StoredRead, AScannedBilevelImageThresholdedByTheScanIsReadFromItsOutputFile) {
  HostScope host;
  TempDir dir;
  ImageState* img = MakeImage(IK_BW, 8, 1);
  img->state = VS_NORMAL;
  WriteAllBytes(dir.File("out.tif"), {0, 0, 0, 0, 0xF0});
  WriteAllBytes(dir.File("raw.tif"), {0, 0, 0, 0, 0x0F});
  img->sourcePath = dir.File("out.tif");
  img->rawPath = dir.File("raw.tif");
  img->sourceForm = SF_RAW_FILE;
  img->dataOffset = 4;
  const auto saved = BWThresholdSettings;
  std::vector<uint8_t> got(8);
  for (int thresholdOn : {1, 0}) {
    img->thresholdDuringScan = static_cast<uint8_t>(thresholdOn);
    // The threshold tool as set now (the opposite) does not choose the file.
    BWThresholdSettings.SoftwareThreshold = static_cast<uint8_t>(!thresholdOn);
    BWThresholdSettings.ThresholdingType = thresholdOn ? 0 : 2;
    LineReader r(img);
    ASSERT_EQ(OpenReadStream(&r, kReadSequential), kReadOpenOk);
    ASSERT_EQ(ReadLines(&r, got.data(), kReadSequential, 0), 1);
    EXPECT_EQ(got[0], thresholdOn ? 255 : 0) << thresholdOn;
  }
  BWThresholdSettings = saved;
  orb::FreeImageChain(img);
}

TEST(StoredRead, PastTheEndOfAFinishedFileLinesComeOutWhiteWithoutWaiting) {
  HostScope host;
  TempDir dir;
  ImageState* img = MakeImage(IK_GREY, 5, 4);
  WriteRaw(img, dir.File("short.tif"), 2);  // two of four lines
  SleeperClock clock;
  LineReader r(img);
  r.clock = &clock;
  ASSERT_EQ(OpenReadStream(&r, kReadSequential), kReadOpenOk);
  std::vector<uint8_t> got(5);
  for (int y = 0; y < 2; ++y) ASSERT_EQ(ReadLines(&r, got.data(), kReadSequential, 0), 1);
  for (int y = 2; y < 4; ++y) {
    ASSERT_EQ(ReadLines(&r, got.data(), kReadSequential, 0), 1);
    EXPECT_EQ(got, std::vector<uint8_t>(5, 255));
  }
  ASSERT_EQ(ReadLines(&r, got.data(), kReadByNumber, 3), 1);
  EXPECT_EQ(got, std::vector<uint8_t>(5, 255));
  EXPECT_EQ(clock.sleeps.load(), 0);
  CloseReadStream(&r);
  orb::FreeImageChain(img);
}

TEST(StoredRead, FollowsAFileThatARunningScanStillAppendsTo) {
  HostScope host;
  TempDir dir;
  // 200 KB lines: the file needs to grow past one 256 KB block twice.
  ImageState* img = MakeImage(IK_RGB, 70000, 6);
  const std::string path = dir.File("growing.tif");
  WriteRaw(img, path, 1);
  AppStatus.store(orb::Bits(orb::ScanState::Scanning));

  // The "scan": a thread that appends one more line each time the stream sleeps, and
  // tells the sleeper when the line is in the file.
  orb::Event appendNow(orb::Event::Reset::Auto, false);
  orb::Event appended(orb::Event::Reset::Auto, false);
  std::thread scan([&] {
    for (int32_t y = 1; y < img->height; ++y) {
      if (appendNow.Wait() != orb::WaitResult::Signaled) return;
      std::ofstream f(path, std::ios::binary | std::ios::app);
      auto s = Line(*img, y);
      f.write(reinterpret_cast<const char*>(s.data()), static_cast<std::streamsize>(s.size()));
      f.close();
      appended.Set();
    }
  });
  SleeperClock clock;
  int linesInFile = 1;
  clock.onSleep = [&](int) {
    if (linesInFile >= img->height) return;
    appendNow.Set();
    appended.Wait();
    ++linesInFile;
  };
  LineReader r(img);
  r.clock = &clock;
  ASSERT_EQ(OpenReadStream(&r, kReadSequential), kReadOpenOk);
  std::vector<uint8_t> got(static_cast<size_t>(img->storedLineWidth));
  for (int32_t y = 0; y < img->height; ++y) {
    ASSERT_EQ(ReadLines(&r, got.data(), kReadSequential, 0), 1) << y;
    ASSERT_EQ(got, Line(*img, y)) << y;
  }
  EXPECT_GT(clock.sleeps.load(), 0);
  EXPECT_LE(clock.sleeps.load(), img->height);
  appendNow.Close();
  scan.join();
  CloseReadStream(&r);
  orb::FreeImageChain(img);
}

TEST(StoredRead, AScanThatStopsDeliveringEndsAfter25ReadsOneSecondApart) {
  HostScope host;
  TempDir dir;
  ImageState* img = MakeImage(IK_GREY, 100000, 8);  // 800 KB, far more than is there
  WriteRaw(img, dir.File("stalled.tif"), 1);
  AppStatus.store(orb::Bits(orb::ScanState::Scanning));
  SleeperClock clock;
  LineReader r(img);
  r.clock = &clock;
  EXPECT_EQ(OpenReadStream(&r, kReadSequential), kReadOpenGrowingShort);
  EXPECT_EQ(clock.sleeps.load(), 24);
  EXPECT_EQ(clock.NowMs(), 24 * 1000);

  // Opened while the file held enough, a read that needs more fails the same way.
  WriteRaw(img, dir.File("stalled.tif"), 3);
  SleeperClock clock2;
  LineReader r2(img);
  r2.clock = &clock2;
  ASSERT_EQ(OpenReadStream(&r2, kReadSequential), kReadOpenOk);
  std::vector<uint8_t> got(static_cast<size_t>(img->storedLineWidth));
  for (int y = 0; y < 3; ++y) ASSERT_EQ(ReadLines(&r2, got.data(), kReadSequential, 0), 1);
  EXPECT_EQ(clock2.sleeps.load(), 0);
  EXPECT_EQ(ReadLines(&r2, got.data(), kReadSequential, 0), 0);
  EXPECT_EQ(clock2.sleeps.load(), 24);
  CloseReadStream(&r);
  CloseReadStream(&r2);
  orb::FreeImageChain(img);
}

TEST(StoredRead, MissingFileFailsToOpenAndReadsNothing) {
  HostScope host;
  TempDir dir;
  ImageState* img = MakeImage(IK_GREY, 4, 4);
  img->sourceForm = SF_RAW_FILE;
  img->rawPath = dir.File("gone.tif");
  LineReader r(img);
  EXPECT_EQ(OpenReadStream(&r, kReadSequential), kReadOpenFailed);
  std::vector<uint8_t> got(4);
  EXPECT_EQ(ReadLines(&r, got.data(), kReadSequential, 0), 0);
  EXPECT_FALSE(r.lastError.empty());
  EXPECT_EQ(CloseReadStream(&r), 1);
  orb::FreeImageChain(img);
}

TEST(StoredRead, AFailingReadIsReportedAndFailsTheOpening) {
  streams_test::FakeNotifier notifier;
  HostScope host(&notifier);
  TempDir dir;
  ImageState* img = MakeImage(IK_GREY, 4, 4);
  img->sourceForm = SF_RAW_FILE;
  img->rawPath = dir.path();  // a folder opens, but reading it fails
  LineReader r(img);
  EXPECT_EQ(OpenReadStream(&r, kReadSequential), kReadOpenFailed);
  ASSERT_EQ(notifier.texts.size(), 1u);
  EXPECT_EQ(notifier.texts[0],
            "The resorce of your system is not enough, please free your c: space,and try again!");
  CloseReadStream(&r);
  LineReader byNumber(img);
  ASSERT_EQ(OpenReadStream(&byNumber, kReadByNumber), kReadOpenOk);
  std::vector<uint8_t> got(4);
  EXPECT_EQ(ReadLines(&byNumber, got.data(), kReadByNumber, 1), 0);
  CloseReadStream(&byNumber);
  orb::FreeImageChain(img);
}

TEST(StoredRead, OffsetsBeyond4GBAreReachedByLineNumber) {
  HostScope host;
  TempDir dir;
  // A sparse raw file of 5 GiB.
  ImageState* img = MakeImage(IK_GREY, 65536, 82000);  // 82000 x 64 KiB = 5.0 GiB
  const std::string path = dir.File("big.tif");
  {
    std::ofstream f(path, std::ios::binary);
    f.write(std::string(kHeader, '\0').data(), kHeader);
  }
  const uint64_t line = 81999;
  const uint64_t pos = kHeader + line * 65536ull;
  {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>(pos));
    std::vector<char> marker(65536, 'x');
    marker[0] = 'A';
    f.write(marker.data(), static_cast<std::streamsize>(marker.size()));
  }
  img->sourceForm = SF_RAW_FILE;
  img->rawPath = path;
  img->dataOffset = kHeader;
  LineReader r(img);
  ASSERT_EQ(OpenReadStream(&r, kReadByNumber), kReadOpenOk);
  std::vector<uint8_t> got(65536);
  ASSERT_EQ(ReadLines(&r, got.data(), kReadByNumber, static_cast<int>(line)), 1);
  EXPECT_EQ(got[0], 'A');
  EXPECT_EQ(got[1], 'x');
  CloseReadStream(&r);
  orb::FreeImageChain(img);
}

}  // namespace
