// The scan output writer: every output format decodes back; bands, release and cancel.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "engine/ReadWrite/ScanOutput.h"
#include "engine/Settings.h"
#include "tests/engine/streams/StreamTestUtil.h"

using streams_test::DecodeFile;
using streams_test::Decoded;
using streams_test::FileSizeLimit;
using streams_test::HostScope;
using streams_test::Line;
using streams_test::MakeImage;
using streams_test::ReadAll;
using streams_test::TempDir;
using streams_test::WriteAllBytes;

namespace {

// All lines of the test image, one after the other.
std::vector<uint8_t> AllLines(const ImageState& img, int32_t from = 0, int32_t to = -1) {
  if (to < 0) to = img.height;
  std::vector<uint8_t> out;
  for (int32_t y = from; y < to; ++y) {
    auto l = Line(img, y);
    out.insert(out.end(), l.begin(), l.end());
  }
  return out;
}

// What a decoded row must equal: the test line cut to the pixels (palette images compare
// indices; lossy formats compare within `tolerance`).
void ExpectRows(const ImageState& img, const Decoded& d, int tolerance) {
  ASSERT_EQ(d.result, IM_OK);
  ASSERT_EQ(d.header.biWidth, img.width);
  ASSERT_EQ(d.header.biHeight, img.height);
  ASSERT_EQ(d.rows.size(), static_cast<size_t>(img.height));
  const size_t bytes = static_cast<size_t>(img.kind == IK_RGB ? 3 * img.width : img.width);
  double total = 0;
  int worst = 0;
  for (int32_t y = 0; y < img.height; ++y) {
    auto want = Line(img, y);
    want.resize(bytes);
    const auto& row = d.rows[static_cast<size_t>(y)];
    ASSERT_GE(row.size(), bytes);
    for (size_t x = 0; x < bytes; ++x) {
      int diff = std::abs(int(row[x]) - int(want[x]));
      total += diff;
      worst = std::max(worst, diff);
      if (tolerance == 0) {
        ASSERT_EQ(diff, 0) << "line " << y << " byte " << x;
      }
    }
  }
  if (tolerance > 0) {
    EXPECT_LT(total / (double(bytes) * img.height), tolerance);
  }
}

struct FormatCase {
  uint32_t code;
  uint16_t kind;
  int tolerance;  // 0 exact; else the mean difference allowed
};

class ScanOutputFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(ScanOutputFormats, EveryFormatDecodesBack) {
  HostScope host;
  TempDir dir;
  const FormatCase c = GetParam();
  // Smooth pixels for the lossy formats, the sharp test pattern for the others.
  ImageState* img = MakeImage(c.kind, 37, 29);
  img->outputFormat = c.code;
  img->sourcePath = dir.File("scan.out");
  img->photometric = PM_BLACK_IS_ZERO;
  LineWriter w(img);
  ASSERT_EQ(OpenScanOutput(&w), 0) << w.lastError;
  // Bands of different sizes, the last one ending on the last line.
  int32_t y = 0;
  for (int32_t band : {1, 7, 3, 18}) {
    auto lines = AllLines(*img, y, y + band);
    ASSERT_EQ(WriteScanLines(&w, lines.data(), static_cast<int64_t>(lines.size())), 0);
    y += band;
  }
  ASSERT_EQ(y, img->height);
  ReleaseScanOutput(&w);
  ASSERT_EQ(CloseScanOutput(&w), 0) << w.lastError;
  EXPECT_EQ(ReleaseScanOutput(&w), 0);  // again, after closing: harmless
  Decoded d = DecodeFile(img->sourcePath);
  if (c.tolerance == 0) {
    ExpectRows(*img, d, 0);
  } else {
    // JPEG of the sharp pattern: only the size and a loose likeness are checked.
    ASSERT_EQ(d.result, IM_OK);
    EXPECT_EQ(d.header.biWidth, img->width);
    EXPECT_EQ(d.header.biHeight, img->height);
    EXPECT_EQ(d.rows.size(), static_cast<size_t>(img->height));
    ExpectRows(*img, d, c.tolerance);
  }
  // Only the output remains: nothing written beside it is left behind.
  EXPECT_EQ(dir.CountFiles(), 1u);
  orb::FreeImageChain(img);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ScanOutputFormats,
    ::testing::Values(
        FormatCase{OF_TIFF, IK_RGB, 0}, FormatCase{OF_TIFF, IK_BW, 0},
        FormatCase{OF_TIFF, IK_PALETTE16, 0}, FormatCase{OF_TIFF, IK_PALETTE256, 0},
        FormatCase{OF_TIFF, IK_GREY, 0}, FormatCase{OF_TIFF_PACKBITS, IK_RGB, 0},
        FormatCase{OF_TIFF_PACKBITS, IK_BW, 0}, FormatCase{OF_TIFF_PACKBITS, IK_PALETTE16, 0},
        FormatCase{OF_TIFF_G3, IK_BW, 0}, FormatCase{OF_TIFF_G4, IK_BW, 0},
        FormatCase{OF_TIFF_JPEG, IK_RGB, 60}, FormatCase{OF_TIFF_JPEG, IK_GREY, 60},
        FormatCase{OF_JPEG, IK_RGB, 60}, FormatCase{OF_JPEG, IK_GREY, 60},
        FormatCase{OF_PNG, IK_RGB, 0}, FormatCase{OF_PNG, IK_GREY, 0},
        FormatCase{OF_PNG, IK_PALETTE256, 0}, FormatCase{OF_PNG, IK_PALETTE16, 0},
        FormatCase{OF_PNG, IK_BW, 0}, FormatCase{OF_PDF_JPEG, IK_RGB, 60},
        FormatCase{OF_PDF_JPEG, IK_GREY, 60}, FormatCase{OF_PDF_G4, IK_BW, 0},
        FormatCase{OF_JPEG2000, IK_RGB, 60}, FormatCase{OF_JPEG2000, IK_GREY, 60},
        FormatCase{OF_BMP, IK_RGB, 0}, FormatCase{OF_BMP, IK_GREY, 0},
        FormatCase{OF_BMP, IK_BW, 0}, FormatCase{OF_BMP, IK_PALETTE16, 0},
        FormatCase{OF_BMP, IK_PALETTE256, 0}));

TEST(ScanOutput, JpegTwoThousandLosslessSwitchGivesExactPixels) {
  HostScope host;
  TempDir dir;
  ImageState* img = MakeImage(IK_RGB, 21, 13);
  img->outputFormat = OF_JPEG2000;
  img->sourcePath = dir.File("lossless.jp2");
  const uint8_t saved = MiscSettings.LosslessJpeg2000;
  MiscSettings.LosslessJpeg2000 = 1;
  LineWriter w(img);
  ASSERT_EQ(OpenScanOutput(&w), 0);
  auto all = AllLines(*img);
  ASSERT_EQ(WriteScanLines(&w, all.data(), static_cast<int64_t>(all.size())), 0);
  ASSERT_EQ(CloseScanOutput(&w), 0);
  MiscSettings.LosslessJpeg2000 = saved;
  ExpectRows(*img, DecodeFile(img->sourcePath), 0);
  orb::FreeImageChain(img);
}

TEST(ScanOutput, ABandLargerThanTheBandBufferIsHandedOverInPieces) {
  HostScope host;
  TempDir dir;
  ImageState* img = MakeImage(IK_RGB, 1500, 700);  // 3.15 MB in one call
  img->outputFormat = OF_TIFF;
  img->sourcePath = dir.File("big.tif");
  LineWriter w(img);
  ASSERT_EQ(OpenScanOutput(&w), 0);
  EXPECT_LT(static_cast<size_t>(w.bandCapacity) * 4500, 3'150'000u);
  auto all = AllLines(*img);
  ASSERT_EQ(WriteScanLines(&w, all.data(), static_cast<int64_t>(all.size())), 0);
  ASSERT_EQ(CloseScanOutput(&w), 0);
  EXPECT_EQ(img->dataOffset, 8u);
  ExpectRows(*img, DecodeFile(img->sourcePath), 0);
  orb::FreeImageChain(img);
}

TEST(ScanOutput, BilevelWidth12WritesTwoBytesALineWithTheLastBitsClear) {
  HostScope host;
  TempDir dir;
  ImageState* img = MakeImage(IK_BW, 12, 2);
  img->outputFormat = OF_TIFF;
  img->sourcePath = dir.File("bw.tif");
  LineWriter w(img);
  ASSERT_EQ(OpenScanOutput(&w), 0);
  std::vector<uint8_t> lines(24, 255);
  ASSERT_EQ(WriteScanLines(&w, lines.data(), 24), 0);
  ASSERT_EQ(CloseScanOutput(&w), 0);
  auto bytes = ReadAll(img->sourcePath);
  ASSERT_GE(bytes.size(), 12u);
  EXPECT_EQ(bytes[8], 0xFF);
  EXPECT_EQ(bytes[9], 0xF0);
  EXPECT_EQ(bytes[10], 0xFF);
  EXPECT_EQ(bytes[11], 0xF0);
  orb::FreeImageChain(img);
}

TEST(ScanOutput, ReleasingRightAfterTheLastBandStillWritesEveryLine) {
  HostScope host;
  TempDir dir;
  for (int round = 0; round < 20; ++round) {
    ImageState* img = MakeImage(IK_GREY, 300, 50);
    img->outputFormat = OF_PNG;
    img->sourcePath = dir.File("r.png");
    LineWriter w(img);
    ASSERT_EQ(OpenScanOutput(&w), 0);
    auto all = AllLines(*img);
    ASSERT_EQ(WriteScanLines(&w, all.data(), static_cast<int64_t>(all.size())), 0);
    ReleaseScanOutput(&w);  // the scan ends at once, as the pipelines do
    ASSERT_EQ(CloseScanOutput(&w), 0);
    ExpectRows(*img, DecodeFile(img->sourcePath), 0);
    orb::FreeImageChain(img);
  }
}

TEST(ScanOutput, AScanCutShortKeepsTheLinesItGot) {
  HostScope host;
  TempDir dir;
  ImageState* img = MakeImage(IK_GREY, 64, 100);
  img->outputFormat = OF_TIFF;
  img->sourcePath = dir.File("cut.tif");
  LineWriter w(img);
  ASSERT_EQ(OpenScanOutput(&w), 0);
  auto part = AllLines(*img, 0, 40);
  ASSERT_EQ(WriteScanLines(&w, part.data(), static_cast<int64_t>(part.size())), 0);
  ReleaseScanOutput(&w);
  EXPECT_EQ(WriteScanLines(&w, part.data(), 64), -1);
  ASSERT_EQ(CloseScanOutput(&w), 0);
  auto bytes = ReadAll(img->sourcePath);
  ASSERT_GE(bytes.size(), 8u + 40 * 64);
  for (int y = 0; y < 40; ++y) {
    auto l = Line(*img, y);
    ASSERT_TRUE(std::equal(l.begin(), l.end(), bytes.begin() + 8 + 64 * y)) << y;
  }
  orb::FreeImageChain(img);
}

TEST(ScanOutput, CancelStopsAWaitingWriterWithinASecond) {
  HostScope host;
  TempDir dir;
  ImageState* img = MakeImage(IK_RGB, 50, 100);
  img->outputFormat = OF_PNG;
  img->sourcePath = dir.File("c.png");
  LineWriter w(img);  // the default poll of one second
  ASSERT_EQ(OpenScanOutput(&w), 0);
  auto part = AllLines(*img, 0, 10);
  ASSERT_EQ(WriteScanLines(&w, part.data(), static_cast<int64_t>(part.size())), 0);
  {
    // Once the band is taken the writer waits for the next one.
    std::unique_lock<std::mutex> lock(w.bandMutex);
    ASSERT_TRUE(w.bandChanged.wait_for(lock, std::chrono::seconds(3), [&] { return !w.bandFull; }));
  }
  auto t0 = std::chrono::steady_clock::now();
  CancelFlag.store(1);
  {
    std::unique_lock<std::mutex> lock(w.bandMutex);
    ASSERT_TRUE(w.bandChanged.wait_for(lock, std::chrono::seconds(3), [&] { return w.writerFinished; }));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1300));
  EXPECT_EQ(w.libraryResult, IM_STOPPED);
  EXPECT_EQ(WriteScanLines(&w, part.data(), static_cast<int64_t>(part.size())), -1);
  EXPECT_EQ(CloseScanOutput(&w), 0);
  orb::FreeImageChain(img);
}

TEST(ScanOutput, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
  HostScope host;
  TempDir dir;
  ImageState* img = MakeImage(IK_RGB, 1000, 1000);
  img->outputFormat = OF_TIFF;
  img->sourcePath = dir.File("old.tif");
  WriteAllBytes(img->sourcePath, {'k', 'e', 'e', 'p'});
  LineWriter w(img);
  int closed = 0;
  {
    FileSizeLimit limit(200 * 1000);
    ASSERT_EQ(OpenScanOutput(&w), 0);
    auto all = AllLines(*img);
    WriteScanLines(&w, all.data(), static_cast<int64_t>(all.size()));
    closed = CloseScanOutput(&w);
  }
  EXPECT_EQ(closed, -1);
  EXPECT_FALSE(w.lastError.empty());
  EXPECT_EQ(ReadAll(img->sourcePath), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
  EXPECT_EQ(dir.CountFiles(), 1u);
  orb::FreeImageChain(img);
}

TEST(ScanOutput, AKindNoOutputHoldsIsReportedAndLeavesNoFile) {
  HostScope host;
  TempDir dir;
  ImageState* img = MakeImage(IK_CMYK32, 6, 4);
  img->sourcePath = dir.File("cmyk.out");
  img->outputFormat = OF_TIFF;
  {
    LineWriter w(img);
    EXPECT_EQ(OpenScanOutput(&w), -1);
    EXPECT_FALSE(w.lastError.empty());
  }
  img->outputFormat = OF_PNG;
  {
    LineWriter w(img);
    ASSERT_EQ(OpenScanOutput(&w), 0);
    std::vector<uint8_t> lines(4 * 24, 1);
    WriteScanLines(&w, lines.data(), static_cast<int64_t>(lines.size()));
    EXPECT_EQ(CloseScanOutput(&w), -1);
  }
  EXPECT_EQ(dir.CountFiles(), 0u);
  orb::FreeImageChain(img);
}

TEST(ScanOutput, AnOutputThatCannotBeCreatedIsRefused) {
  HostScope host;
  TempDir dir;
  ImageState* img = MakeImage(IK_GREY, 10, 10);
  img->outputFormat = OF_PNG;
  img->sourcePath = dir.File("missing/folder/x.png");
  LineWriter w(img);
  EXPECT_EQ(OpenScanOutput(&w), -1);
  EXPECT_FALSE(w.lastError.empty());
  std::vector<uint8_t> line(10, 1);
  EXPECT_EQ(WriteScanLines(&w, line.data(), 10), -1);
  EXPECT_EQ(CloseScanOutput(&w), -1);
  orb::FreeImageChain(img);
}

}  // namespace
