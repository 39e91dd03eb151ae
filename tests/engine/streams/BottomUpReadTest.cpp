// Read streams over files that hold their lines bottom-up (the record's rowOrder): the
// users still receive the image's top line first.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/ReadWrite/LineReader.h"
#include "tests/engine/streams/StreamTestUtil.h"

using streams_test::HostScope;
using streams_test::Line;
using streams_test::MakeImage;
using streams_test::TempDir;
using streams_test::WriteAllBytes;

namespace {

constexpr uint64_t kHeader = 100;

// Black and white lines packed as files hold them (photometric 1: set bits white),
// written out by hand so that the stream's own packing does not check itself.
std::vector<uint8_t> Stored(const ImageState& img, const std::vector<uint8_t>& line) {
  if (img.kind != IK_BW) return line;
  std::vector<uint8_t> out((line.size() + 7) / 8, 0);
  for (size_t x = 0; x < line.size(); ++x) {
    if (line[x] != 0) out[x / 8] = static_cast<uint8_t>(out[x / 8] | (0x80 >> (x % 8)));
  }
  return out;
}

// A raw image file holding the image's bottom line first; only the `lines` bottom lines
// when fewer are given (a file cut short).
void WriteBottomUp(ImageState* img, const std::string& path, int32_t lines = -1) {
  if (lines < 0) lines = img->height;
  std::vector<uint8_t> bytes(kHeader, 0x5A);
  for (int32_t k = 0; k < lines; ++k) {
    auto s = Stored(*img, Line(*img, img->height - 1 - k));
    bytes.insert(bytes.end(), s.begin(), s.end());
  }
  WriteAllBytes(path, bytes);
  img->sourceForm = SF_RAW_FILE;
  img->rawPath = path;
  img->dataOffset = kHeader;
  img->rowOrder = 1;
}

struct Shape {
  uint16_t kind;
  int32_t width, height;
};

class BottomUpRead : public ::testing::TestWithParam<Shape> {};

TEST_P(BottomUpRead, LinesComeOutTopFirstInOrderAndByNumber) {
  HostScope host;
  TempDir dir;
  const Shape s = GetParam();
  ImageState* img = MakeImage(s.kind, s.width, s.height);
  WriteBottomUp(img, dir.File("raw.tif"));
  std::vector<uint8_t> got(static_cast<size_t>(img->storedLineWidth));

  LineReader seq(img);
  ASSERT_EQ(OpenReadStream(&seq, kReadSequential), kReadOpenOk);
  for (int32_t y = 0; y < s.height; ++y) {
    ASSERT_EQ(ReadLines(&seq, got.data(), kReadSequential, 0), 1);
    ASSERT_EQ(got, Line(*img, y)) << "line " << y;
  }
  CloseReadStream(&seq);

  LineReader rnd(img);
  ASSERT_EQ(OpenReadStream(&rnd, kReadByNumber), kReadOpenOk);
  for (int32_t y : {0, s.height - 1, s.height / 2, std::min(1, s.height - 1)}) {
    ASSERT_EQ(ReadLines(&rnd, got.data(), kReadByNumber, y), 1);
    EXPECT_EQ(got, Line(*img, y)) << "line " << y;
  }
  CloseReadStream(&rnd);
  orb::FreeImageChain(img);
}

INSTANTIATE_TEST_SUITE_P(Kinds, BottomUpRead,
                         ::testing::Values(Shape{IK_GREY, 3, 1}, Shape{IK_RGB, 7, 5}, Shape{IK_BW, 13, 6},
                                           // Several 256 KB blocks, refilled going up.
                                           Shape{IK_RGB, 1001, 300},
                                           // A line wider than the block buffer.
                                           Shape{IK_GREY, 300000, 3}));

TEST(BottomUpReadRegion, StartsAtTheRegionsTopLine) {
  HostScope host;
  TempDir dir;
  ImageState* img = MakeImage(IK_GREY, 5, 8);
  WriteBottomUp(img, dir.File("raw.tif"));
  img->region.top = 3;
  LineReader r(img);
  ASSERT_EQ(OpenReadStream(&r, kReadSequential), kReadOpenOk);
  std::vector<uint8_t> got(5);
  for (int32_t y = 3; y < 8; ++y) {
    ASSERT_EQ(ReadLines(&r, got.data(), kReadSequential, 0), 1);
    EXPECT_EQ(got, Line(*img, y)) << "line " << y;
  }
  // Past the image's last line: white, as a top-down file reads.
  ASSERT_EQ(ReadLines(&r, got.data(), kReadSequential, 0), 1);
  EXPECT_EQ(got, std::vector<uint8_t>(5, 255));
  CloseReadStream(&r);
  orb::FreeImageChain(img);
}

TEST(BottomUpReadShort, AFileCutShortReadsWhiteAtTheTop) {
  HostScope host;
  TempDir dir;
  ImageState* img = MakeImage(IK_GREY, 4, 6);
  // Only the bottom four lines were written: image lines 0 and 1 are missing.
  WriteBottomUp(img, dir.File("raw.tif"), 4);
  std::vector<uint8_t> got(4);
  for (int mode : {kReadSequential, kReadByNumber}) {
    LineReader r(img);
    ASSERT_EQ(OpenReadStream(&r, mode), kReadOpenOk);
    for (int32_t y = 0; y < 6; ++y) {
      ASSERT_EQ(ReadLines(&r, got.data(), mode, y), 1);
      EXPECT_EQ(got, y < 2 ? std::vector<uint8_t>(4, 255) : Line(*img, y)) << "mode " << mode << " line " << y;
    }
    CloseReadStream(&r);
  }
  orb::FreeImageChain(img);
}

}  // namespace
