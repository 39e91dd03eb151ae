// Quarter and half turns through the tile file, against ImageMagick's own rotation of the
// same file, for every image kind and for sizes on both sides of the 512-pixel tile.
#include "tools/transform/Rotate90.h"

#include "tests/tools/transform/TransformFixture.h"
#include "tools/ToolTable.h"

#include <cstring>

namespace {

using namespace orb::tools;
using namespace transform_test;

class Rotate90 : public Fixture {};

const char* MagickTurn(int dir) { return dir == kTurnLeft ? "-rotate -90" : dir == kTurnRight ? "-rotate 90" : "-rotate 180"; }

TEST(Rotate90Size, QuarterTurnsRoundTheWidthUpToEight) {
  struct Case {
    int w, h, dir, ew, eh;
  } cases[] = {
      {1000, 700, kTurnRight, 704, 1000}, {1000, 700, kTurnLeft, 704, 1000}, {1000, 700, kTurnHalf, 1000, 700},
      {1, 1, kTurnRight, 8, 1},           {512, 512, kTurnLeft, 512, 512},   {513, 9, kTurnRight, 16, 513},
  };
  for (const Case& c : cases) {
    const TurnedSize s = TurnSize(c.w, c.h, c.dir);
    EXPECT_EQ(s.width, c.ew) << c.w << "x" << c.h << " dir " << c.dir;
    EXPECT_EQ(s.height, c.eh);
  }
  // The region the user looked at turns with the image.
  const PixelRect r = TurnRegion(PixelRect{0, 0, 1000, 700}, 1000, 700, kTurnRight);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right, 700);
  EXPECT_EQ(r.bottom, 1000);
}

TEST(Rotate90Tile, TurnsATileAsTheFormulasSay) {
  // A 4 x 4 tile of numbered pixels against D[r][c] written out by hand.
  uint8_t s[16];
  for (int i = 0; i < 16; ++i) s[i] = static_cast<uint8_t>(i);
  uint8_t d[16];
  TurnTile(s, 4, d, 4, 4, 1, kTurnRight);
  const uint8_t right[16] = {12, 8, 4, 0, 13, 9, 5, 1, 14, 10, 6, 2, 15, 11, 7, 3};
  EXPECT_EQ(0, std::memcmp(d, right, 16));
  TurnTile(s, 4, d, 4, 4, 1, kTurnLeft);
  const uint8_t left[16] = {3, 7, 11, 15, 2, 6, 10, 14, 1, 5, 9, 13, 0, 4, 8, 12};
  EXPECT_EQ(0, std::memcmp(d, left, 16));
  // A half turn keeps the bytes of a colour pixel in their order.
  uint8_t rgb[12] = {10, 20, 30, 0, 0, 0, 0, 0, 0, 1, 2, 3};
  uint8_t out[12];
  TurnTile(rgb, 6, out, 6, 2, 3, kTurnHalf);
  const uint8_t half[12] = {1, 2, 3, 0, 0, 0, 0, 0, 0, 10, 20, 30};
  EXPECT_EQ(0, std::memcmp(out, half, 12));
}

// The plain turn: every result pixel looked up in the whole source held in memory; the
// columns a quarter turn adds are white.
std::vector<uint8_t> NaiveTurn(const std::vector<uint8_t>& src, int w, int h, int px, int dir, uint8_t white,
                               int* rw, int* rh) {
  const bool quarter = dir != kTurnHalf;
  *rw = quarter ? (h + 7) / 8 * 8 : w;
  *rh = quarter ? w : h;
  std::vector<uint8_t> out(static_cast<size_t>(*rw) * *rh * px, white);
  for (int y = 0; y < *rh; ++y) {
    for (int x = 0; x < (quarter ? h : w); ++x) {
      int sx, sy;
      if (dir == kTurnRight) {
        sx = y, sy = h - 1 - x;  // clockwise
      } else if (dir == kTurnLeft) {
        sx = w - 1 - y, sy = x;
      } else {
        sx = w - 1 - x, sy = h - 1 - y;
      }
      for (int b = 0; b < px; ++b) {
        out[(static_cast<size_t>(y) * *rw + x) * px + b] = src[(static_cast<size_t>(sy) * w + sx) * px + b];
      }
    }
  }
  return out;
}

uint8_t PaletteWhite(const ImageState& s) {
  if (s.kind != IK_PALETTE256 && s.kind != IK_PALETTE16) return 255;
  for (int i = s.kind == IK_PALETTE16 ? 15 : 255; i >= 0; --i) {
    const PaletteEntry& e = s.palette[static_cast<size_t>(i)];
    if (e.red == 255 && e.green == 255 && e.blue == 255) return static_cast<uint8_t>(i);
  }
  return 0;
}

// Every kind, every direction, sizes around the tile: the turned version read back equals
// the plain turn, and its file is read by the outside readers with the turned size.
TEST_F(Rotate90, MatchesAPlainTurnForEveryKindSizeAndDirection) {
  const std::pair<int, int> sizes[] = {{1, 1}, {511, 511}, {512, 512}, {513, 513}, {1000, 700}, {999, 37}};
  int made = 0;
  for (const KindPlan& k : Kinds()) {
    for (auto [w, h] : sizes) {
      ImageState* src = Synth("in" + std::to_string(made) + ".tif", k.kind, w, h, static_cast<unsigned>(made + 1));
      ++made;
      ASSERT_EQ(src->kind, k.kind) << k.name;
      const std::vector<uint8_t> pixels = ReadBack(src);
      const size_t before = TempFiles();
      const int px = src->kind == IK_RGB ? 3 : 1;
      for (int dir : {kTurnLeft, kTurnRight, kTurnHalf}) {
        SCOPED_TRACE(std::string(k.name) + " " + std::to_string(w) + "x" + std::to_string(h) + " dir " +
                     std::to_string(dir));
        ApplyOutcome out = TurnImage(src, dir);
        ASSERT_EQ(out.result, ApplyResult::Applied);
        ImageState* n = out.working;
        EXPECT_EQ(n->operationCode, kOpRotate90);
        int rw = 0, rh = 0;
        const std::vector<uint8_t> expected = NaiveTurn(pixels, w, h, px, dir, PaletteWhite(*src), &rw, &rh);
        const std::string file = n->sourcePath;
        EXPECT_EQ(n->width, rw);
        EXPECT_EQ(n->height, rh);
        const std::vector<uint8_t> got = ReadBack(n);
        EXPECT_TRUE(got == expected) << "the turned pixels differ";
        FreeImageState(n);
        // The tile file never stays behind.
        ::unlink(file.c_str());
        EXPECT_EQ(TempFiles(), before);
      }
    }
  }
}

// ImageMagick's own turn of the same file, for each kind at 600 x 333 (two tiles wide).
TEST_F(Rotate90, MatchesImageMagick) {
  int made = 0;
  for (const KindPlan& k : Kinds()) {
    ImageState* src = Synth("im" + std::to_string(made) + ".tif", k.kind, 600, 333, static_cast<unsigned>(made + 7));
    ++made;
    const std::string in = src->sourcePath;
    for (int dir : {kTurnLeft, kTurnRight, kTurnHalf}) {
      SCOPED_TRACE(std::string(k.name) + " dir " + std::to_string(dir));
      ApplyOutcome out = TurnImage(src, dir);
      ASSERT_EQ(out.result, ApplyResult::Applied);
      const std::string file = out.working->sourcePath;
      const bool half = dir == kTurnHalf;
      EXPECT_NE(Shell("tiffinfo '" + file + "' 2>&1").find(half ? "Image Width: 600 Image Length: 333"
                                                                : "Image Width: 336 Image Length: 600"),
                std::string::npos);
      EXPECT_TRUE(Samples(file, "rgb", half ? "" : "-crop 333x600+0+0 +repage") == Samples(in, "rgb", MagickTurn(dir)));
      if (!half) {
        EXPECT_EQ(Samples(file, "gray", "-crop 3x600+333+0 +repage"), std::string(1800, '\xff'));
      }
      FreeImageState(out.working);
    }
  }
}

TEST_F(Rotate90, SmallStripsGiveTheSameResult) {
  const std::string in = MakeKind("strips.tif", Kinds()[0], 700, 1100);
  ImageState* src = Open(in);
  SetTurnStripBudget(3 * 1104 * 5);  // a few result lines a strip
  ApplyOutcome out = TurnImage(src, kTurnLeft);
  SetTurnStripBudget(0);
  ASSERT_EQ(out.result, ApplyResult::Applied);
  EXPECT_EQ(Samples(out.working->sourcePath, "rgb", "-crop 1100x700+0+0 +repage"), Samples(in, "rgb", "-rotate -90"));
}

TEST_F(Rotate90, EscLeavesTheImageAndNoFiles) {
  ImageState* src = Open(MakeKind("esc.tif", Kinds()[1], 600, 1200));
  EscAfter esc(700);  // in the second pass' first lines
  HostScope scope(&esc);
  ApplyOutcome out = TurnImage(src, kTurnRight);
  EXPECT_EQ(out.result, ApplyResult::Cancelled);
  EXPECT_EQ(out.working, src);
  EXPECT_EQ(src->next, nullptr);
  EXPECT_EQ(TempFiles(), 0u);
  EXPECT_EQ(src->region.bottom, src->height);
}

TEST_F(Rotate90, AMissingSourceSaysSoAndChangesNothing) {
  const std::string in = MakeKind("gone.tif", Kinds()[1], 30, 20);
  ImageState* src = Open(in);
  fs::remove(in);
  KeptIds kept;
  HostScope scope(nullptr, &kept);
  ApplyOutcome out = TurnImage(src, kTurnLeft);
  EXPECT_EQ(out.result, ApplyResult::Failed);
  EXPECT_EQ(src->next, nullptr);
  EXPECT_EQ(TempFiles(), 0u);
  EXPECT_EQ(kept.ids, std::vector<int>{kMsgApplyReadFailed});
}

}  // namespace
