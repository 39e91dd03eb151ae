// Resolutions from damaged files (XResolution 4e9 and the like) reach the output headers as
// the largest 32-bit pixels per metre, never through an overflowing conversion.
#include <gtest/gtest.h>

#include <limits>

#include "engine/ReadWrite/BmpOutput.h"
#include "engine/ReadWrite/LineWriter.h"
#include "engine/ReadWrite/ScanOutput.h"
#include "platform/Bytes.h"
#include "tests/engine/streams/StreamTestUtil.h"

using streams_test::DecodeFile;
using streams_test::HostScope;
using streams_test::Line;
using streams_test::MakeImage;
using streams_test::ReadAll;
using streams_test::TempDir;
using streams_test::WriteAllBytes;

namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

TEST(ResolutionClamp, PixelsPerMetreTruncatesAndHoldsWithin32Bits) {
  struct Case {
    int32_t dpi;
    int32_t ppm;  // trunc(dpi x 39.37), worked out apart
  };
  for (const Case& c : {Case{300, 11811}, Case{0, 0}, Case{-5, -196}, Case{54545454, 2147454523},
                        Case{60000000, kMax}, Case{kMax, kMax}, Case{-60000000, kMin}, Case{kMin, kMin}}) {
    EXPECT_EQ(orb::PixelsPerMetre(c.dpi), c.ppm) << c.dpi;
  }
}

TEST(ResolutionClamp, HugeResolutionsAreWrittenClampedByEveryWriter) {
  HostScope host;
  TempDir dir;
  // The scan's BMP.
  ImageState* bmp = MakeImage(IK_GREY, 4, 2);
  bmp->xDpi = bmp->yDpi = kMax;
  bmp->sourcePath = dir.File("huge.bmp");
  WriteAllBytes(dir.File("s.raw"), std::vector<uint8_t>(8, 7));
  ASSERT_EQ(SaveScanAsBmp(*bmp, dir.File("s.raw")), kBmpOk);
  const auto b = ReadAll(bmp->sourcePath);
  ASSERT_GE(b.size(), 46u);
  EXPECT_EQ(orb::GetI32LE(&b[38]), kMax);
  EXPECT_EQ(orb::GetI32LE(&b[42]), kMax);
  orb::FreeImageChain(bmp);

  // The scan output writer, through the library and through the uncompressed write context.
  for (uint32_t code : {uint32_t{OF_BMP}, uint32_t{OF_TIFF}, uint32_t{OF_PNG}}) {
    SCOPED_TRACE(code);
    ImageState* img = MakeImage(IK_GREY, 5, 3);
    img->xDpi = img->yDpi = 60000000;
    img->outputFormat = code;
    img->sourcePath = dir.File("out");
    LineWriter w(img);
    ASSERT_EQ(OpenScanOutput(&w), 0) << w.lastError;
    std::vector<uint8_t> band;
    for (int32_t y = 0; y < 3; ++y) {
      auto l = Line(*img, y);
      band.insert(band.end(), l.begin(), l.end());
    }
    ASSERT_EQ(WriteScanLines(&w, band.data(), static_cast<int64_t>(band.size())), 0);
    ReleaseScanOutput(&w);
    ASSERT_EQ(CloseScanOutput(&w), 0) << w.lastError;
    const auto d = DecodeFile(img->sourcePath);
    EXPECT_EQ(d.result, IM_OK);
    EXPECT_EQ(d.header.biHeight, 3);
    // BMP keeps pixels per metre as they are; the others store what a reader may refuse.
    if (code == OF_BMP) {
      EXPECT_EQ(d.header.biXPelsPerMeter, kMax);
    }
    EXPECT_GE(d.header.biXPelsPerMeter, 0);
    orb::FreeImageChain(img);
  }
}

}  // namespace
