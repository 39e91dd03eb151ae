// Reduce resolution: the values the page shows and commits, the result's size by both
// resolutions, the nearest-pixel path against a plain pick written here, and the Lanczos
// path against ImageMagick's Lanczos resize.
#include "tools/transform/ReduceRes.h"

#include <cmath>

#include "tests/tools/transform/TransformFixture.h"
#include "tools/ToolTable.h"

namespace {

using namespace orb::tools;
using namespace transform_test;

class ReduceRes : public Fixture {};

TEST(ReduceResValues, ShownAndCommittedValuesStayInRange) {
  struct Case {
    int value, dpi, shown, committed;
  } cases[] = {
      {600, 400, 399, 399}, {20, 400, 50, 50}, {45, 40, 50, 39}, {300, 600, 300, 300}, {50, 600, 50, 50},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReduceResShown(c.value, c.dpi), c.shown) << c.value << " at " << c.dpi;
    EXPECT_EQ(ReduceResCommitted(c.value, c.dpi), c.committed) << c.value << " at " << c.dpi;
  }
}

TEST(ReduceResValues, SizesFollowEachDirectionsResolution) {
  struct Case {
    int w, h, xdpi, ydpi, target, ew, eh;
  } cases[] = {
      {6000, 4000, 600, 600, 300, 3000, 2000},
      {1000, 500, 400, 200, 100, 250, 250},  // the height by the vertical resolution
      {7, 7, 300, 300, 100, 2, 2},
      {3, 3, 600, 600, 100, 0, 0},
      {100, 100, 0, 300, 50, 0, 0},  // no resolution: nothing to scale by
  };
  for (const Case& c : cases) {
    const ReducedSize s = ReduceResSize(c.w, c.h, c.xdpi, c.ydpi, c.target);
    EXPECT_EQ(s.width, c.ew) << c.w << "x" << c.h;
    EXPECT_EQ(s.height, c.eh) << c.w << "x" << c.h;
  }
}

TEST_F(ReduceRes, RefusesWhatItCannotReduce) {
  ImageState* src = Synth("r.tif", IK_GREY, 40, 30);
  src->xDpi = src->yDpi = 0;
  EXPECT_EQ(CheckReduceRes(*src, 100), ReduceCheck::NoResolution);
  EXPECT_EQ(ReduceResolution(src, 100).result, ApplyResult::NoImage);
  src->xDpi = src->yDpi = 300;
  EXPECT_EQ(CheckReduceRes(*src, 300), ReduceCheck::NotLower);
  EXPECT_EQ(CheckReduceRes(*src, 1), ReduceCheck::Empty);
  EXPECT_EQ(src->next, nullptr);
}

// Palette and black and white images keep every g-th pixel of every g-th line.
TEST_F(ReduceRes, PaletteAndBilevelPickTheNearestPixel) {
  for (int kind : {IK_PALETTE16, IK_PALETTE256, IK_BW}) {
    SCOPED_TRACE(kind);
    ImageState* src = Synth("p" + std::to_string(kind) + ".tif", kind, 403, 201, static_cast<unsigned>(kind));
    src->xDpi = src->yDpi = 400;
    const std::vector<uint8_t> pixels = ReadBack(src);
    ApplyOutcome out = ReduceResolution(src, 100);
    ASSERT_EQ(out.result, ApplyResult::Applied);
    ImageState* n = out.working;
    EXPECT_EQ(n->kind, kind);
    EXPECT_EQ(n->operationCode, kOpReduceRes);
    EXPECT_EQ(n->xDpi, 100);
    ASSERT_EQ(n->width, 100);
    ASSERT_EQ(n->height, 50);
    std::vector<uint8_t> expected;
    for (int y = 0; y < 50; ++y) {
      for (int x = 0; x < 100; ++x) expected.push_back(pixels[static_cast<size_t>(4 * y) * 403 + 4 * x]);
    }
    EXPECT_TRUE(ReadBack(n) == expected);
    EXPECT_EQ(ImageSize(n->sourcePath), "100 50");
    FreeImageState(n);
  }
}

// Colour and grey go through the Lanczos-3 resampler: close to ImageMagick's Lanczos.
TEST_F(ReduceRes, ColourAndGreyAreResampledLikeImageMagicksLanczos) {
  struct Case {
    const char* plan;
    const char* map;
  } cases[] = {{"-size 300x200 -seed 2 plasma: -blur 0x2 -type TrueColor -depth 8", "rgb"},
               {"-size 300x200 -seed 3 plasma: -blur 0x2 -colorspace gray -type grayscale -depth 8", "gray"}};
  int i = 0;
  for (const Case& c : cases) {
    const std::string in = Make("l" + std::to_string(i++) + ".tif", c.plan);
    ImageState* src = Open(in);
    src->xDpi = src->yDpi = 600;
    ApplyOutcome out = ReduceResolution(src, 300);
    ASSERT_EQ(out.result, ApplyResult::Applied);
    EXPECT_EQ(ImageSize(out.working->sourcePath), "150 100");
    EXPECT_NE(Shell("tiffinfo '" + out.working->sourcePath + "' 2>&1").find("Resolution: 300, 300"), std::string::npos);
    const std::string got = Samples(out.working->sourcePath, c.map);
    const std::string ref = Samples(in, c.map, "-filter Lanczos -resize 150x100!");
    ASSERT_EQ(got.size(), ref.size());
    double sum = 0;
    for (size_t k = 0; k < got.size(); ++k) sum += std::abs(int(uint8_t(got[k])) - int(uint8_t(ref[k])));
    EXPECT_LT(sum / got.size(), 3.0) << c.map;
  }
}

TEST_F(ReduceRes, EscKeepsTheImage) {
  ImageState* src = Synth("esc.tif", IK_RGB, 300, 400);
  src->xDpi = src->yDpi = 600;
  const size_t before = TempFiles();
  EscAfter esc(50);
  HostScope scope(&esc);
  EXPECT_EQ(ReduceResolution(src, 200).result, ApplyResult::Cancelled);
  EXPECT_EQ(src->next, nullptr);
  EXPECT_EQ(TempFiles(), before);
}

}  // namespace

namespace {

using namespace orb::tools;
using namespace transform_test;

TEST_F(ReduceRes, TheSettingFileHoldsFourBytes) {
  const std::string folder = dir_.string();
  EXPECT_EQ(LoadReduceResSetting(folder), 400);  // missing
  ASSERT_TRUE(SaveReduceResSetting(folder, 300));
  EXPECT_EQ(fs::file_size(dir_ / "ReduceRes.flt"), 4u);
  EXPECT_EQ(Shell("od -An -tx1 '" + (dir_ / "ReduceRes.flt").string() + "'"), " 2c 01 00 00\n");
  EXPECT_EQ(LoadReduceResSetting(folder), 300);
  fs::resize_file(dir_ / "ReduceRes.flt", 2);
  EXPECT_EQ(LoadReduceResSetting(folder), 400);  // short
}

}  // namespace
