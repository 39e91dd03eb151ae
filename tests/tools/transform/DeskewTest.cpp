// Deskew: the angle from the reference line, the size of the turned image, the turned
// pixels against a plain per-pixel rotation written here, white corners read back by
// ImageMagick, and the angle measured on a page that ImageMagick tilted.
#include "tools/transform/Deskew.h"

#include <cmath>

#include "tests/tools/transform/TransformFixture.h"
#include "tools/ToolTable.h"

namespace {

using namespace orb::tools;
using namespace transform_test;

class Deskew : public Fixture {};

TEST(DeskewAngle, FromTheReferenceLine) {
  struct Case {
    LinePoint a, b;
    double angle;
    int flag;
  } cases[] = {
      {{100, 500}, {1100, 483}, std::atan2(17.0, 1000.0) * 180 / M_PI, 0},  // rising to the right
      {{100, 500}, {1100, 517}, std::atan2(17.0, 1000.0) * 180 / M_PI, 1},  // falling to the right
      {{500, 500}, {300, 465}, std::atan2(35.0, 200.0) * 180 / M_PI, 1},    // direction about 170
      {{100, 900}, {200, 400}, std::atan2(100.0, 500.0) * 180 / M_PI, 1},   // steeper than 45
  };
  for (const Case& c : cases) {
    const DeskewAngle r = AngleFromLine(c.a, c.b, DeskewAngle{7, 0});
    EXPECT_NEAR(r.angle, c.angle, 0.01) << c.b.x << "," << c.b.y;
    EXPECT_EQ(r.flag, c.flag) << c.b.x << "," << c.b.y;
  }
  EXPECT_NEAR(AngleFromLine({100, 500}, {1100, 483}, {}).angle, 0.97, 0.005);
  // A leg of 0 or exactly 45 degrees keeps what was there.
  for (LinePoint b : {LinePoint{900, 500}, LinePoint{100, 100}, LinePoint{500, 100}}) {
    const DeskewAngle r = AngleFromLine({100, 500}, b, DeskewAngle{3.5, 1});
    EXPECT_EQ(r.angle, 3.5);
    EXPECT_EQ(r.flag, 1);
  }
}

TEST(DeskewSize, TheTurnedImageHoldsTheWholeSource) {
  struct Case {
    int w, h;
    double deg;
    int ew, eh;
  } cases[] = {
      {1000, 800, 1.0, 1016, 818}, {1000, 800, -1.0, 1016, 818}, {1, 1, 0.5, 8, 2},
      {100, 50, 45.0, 112, 107},   {23622, 2000, 0.7, 23648, 2289},
  };
  for (const Case& c : cases) {
    const DeskewGeometry g = DeskewSize(c.w, c.h, c.deg);
    // The same numbers from the corners, rounded as stated: width up to 8, height up.
    const double r = c.deg * M_PI / 180, cs = std::cos(r), sn = std::fabs(std::sin(r));
    EXPECT_EQ(g.width, (static_cast<int>(std::ceil(c.w * cs + c.h * sn)) + 7) / 8 * 8);
    EXPECT_EQ(g.width, c.ew) << c.w << "x" << c.h << " by " << c.deg;
    EXPECT_EQ(g.height, c.eh) << c.w << "x" << c.h << " by " << c.deg;
  }
}

// The plain rotation: each result pixel looked up in the whole source held in memory.
std::vector<uint8_t> NaiveDeskew(const std::vector<uint8_t>& src, int w, int h, int px, double deg, uint8_t white,
                                 int* rw, int* rh) {
  const double th = deg * M_PI / 180, c = std::cos(th), s = std::sin(th);
  const double xs[4] = {0, w * c, -h * s, w * c - h * s}, ys[4] = {0, w * s, h * c, w * s + h * c};
  const double minX = *std::min_element(xs, xs + 4), maxX = *std::max_element(xs, xs + 4);
  const double minY = *std::min_element(ys, ys + 4), maxY = *std::max_element(ys, ys + 4);
  *rw = (static_cast<int>(std::ceil(maxX - minX - 1e-9)) + 7) / 8 * 8;
  *rh = static_cast<int>(std::ceil(maxY - minY - 1e-9));
  const double x0 = std::trunc(minX), y0 = std::trunc(minY);
  std::vector<uint8_t> out(static_cast<size_t>(*rw) * *rh * px, white);
  for (int y = 0; y < *rh; ++y) {
    const double yy = y0 + *rh - 1 - y;
    for (int x = 0; x < *rw; ++x) {
      const double xx = x0 + x;
      const double fx = xx * c + yy * s, fy = yy * c - xx * s;
      if (fx < 0 || fy < 0) continue;
      const int sx = static_cast<int>(fx), sy = static_cast<int>(fy);
      if (sx >= w || sy >= h) continue;
      for (int b = 0; b < px; ++b) {
        out[(static_cast<size_t>(y) * *rw + x) * px + b] = src[(static_cast<size_t>(h - 1 - sy) * w + sx) * px + b];
      }
    }
  }
  return out;
}

TEST_F(Deskew, TurnedPixelsMatchAPlainRotationForEveryKind) {
  int made = 0;
  for (const KindPlan& k : Kinds()) {
    ImageState* src = Synth("k" + std::to_string(made) + ".tif", k.kind, 157, 93, static_cast<unsigned>(made + 1));
    ++made;
    ASSERT_EQ(src->kind, k.kind) << k.name;
    const std::vector<uint8_t> pixels = ReadBack(src);
    const int px = k.kind == IK_RGB ? 3 : 1;
    for (DeskewAngle a : {DeskewAngle{1.0, 0}, DeskewAngle{7.5, 1}, DeskewAngle{33.0, 0}}) {
      SCOPED_TRACE(std::string(k.name) + " " + std::to_string(a.angle) + " flag " + std::to_string(a.flag));
      ApplyOutcome out = DeskewImage(src, a);
      ASSERT_EQ(out.result, ApplyResult::Applied);
      EXPECT_EQ(out.working->operationCode, kOpDeskew);
      int rw = 0, rh = 0;
      uint8_t white = 255;
      if (k.kind == IK_PALETTE256 || k.kind == IK_PALETTE16) {
        // The last palette colour that is white, else 255.
        for (int i = k.kind == IK_PALETTE16 ? 15 : 255; i >= 0; --i) {
          const PaletteEntry& e = src->palette[static_cast<size_t>(i)];
          if (e.red == 255 && e.green == 255 && e.blue == 255) {
            white = static_cast<uint8_t>(i);
            break;
          }
        }
      }
      const std::vector<uint8_t> expected =
          NaiveDeskew(pixels, 157, 93, px, a.flag ? a.angle : -a.angle, white, &rw, &rh);
      EXPECT_EQ(out.working->width, rw);
      EXPECT_EQ(out.working->height, rh);
      EXPECT_EQ(ImageSize(out.working->sourcePath), std::to_string(rw) + " " + std::to_string(rh));
      const std::vector<uint8_t> got = ReadBack(out.working);
      ASSERT_EQ(got.size(), expected.size());
      const auto miss = std::mismatch(got.begin(), got.end(), expected.begin());
      EXPECT_TRUE(miss.first == got.end()) << "first difference at byte " << (miss.first - got.begin()) << ": "
                                           << int(*miss.first) << " for " << int(*miss.second);
      FreeImageState(out.working);
    }
  }
}

TEST_F(Deskew, AThousandByEightHundredByOneDegreeHasWhiteCorners) {
  const std::string in = Make("page.tif", "-size 1000x800 xc:gray40 -type TrueColor -depth 8");
  ImageState* src = Open(in);
  ApplyOutcome out = DeskewImage(src, DeskewAngle{1.0, 0});
  ASSERT_EQ(out.result, ApplyResult::Applied);
  const std::string file = out.working->sourcePath;
  EXPECT_EQ(ImageSize(file), "1016 818");
  for (const char* at : {"0,0", "1015,0", "0,817", "1015,817"}) {
    EXPECT_EQ(Shell("convert '" + file + "' -format '%[pixel:p{" + at + "}]' info:"), "srgb(255,255,255)") << at;
  }
  EXPECT_EQ(Shell("convert '" + file + "' -format '%[pixel:p{508,409}]' info:"), "srgb(102,102,102)");
}

TEST_F(Deskew, AZeroAngleIsNotApplied) {
  ImageState* src = Open(Make("zero.tif", "-size 20x20 xc:white -depth 8"));
  EXPECT_EQ(DeskewImage(src, DeskewAngle{0, 0}).result, ApplyResult::NoImage);
  EXPECT_EQ(DeskewImage(src, DeskewAngle{50, 0}).result, ApplyResult::NoImage);
  EXPECT_EQ(src->next, nullptr);
}

TEST_F(Deskew, EscRemovesThePartialResult) {
  ImageState* src = Open(Make("esc.tif", "-size 300x900 gradient: -depth 8"));
  const size_t before = TempFiles();
  EscAfter esc(200);
  HostScope scope(&esc);
  ApplyOutcome out = DeskewImage(src, DeskewAngle{2, 1});
  EXPECT_EQ(out.result, ApplyResult::Cancelled);
  EXPECT_EQ(src->next, nullptr);
  EXPECT_EQ(TempFiles(), before);
}

// A page of text-like bars tilted by ImageMagick: the measured angle lies within 0.02
// degree of the tilt, in the right sense.
TEST_F(Deskew, MeasuresTheTiltOfASyntheticPage) {
  std::string bars;
  for (int y = 60; y < 740; y += 24) {
    for (int x = 80; x < 900; x += 90) {
      bars += "rectangle " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(x + 70) + "," +
              std::to_string(y + 9) + " ";
    }
  }
  const std::string page = Make("page.tif", "-size 1000x800 xc:white -fill black -draw '" + bars + "' -depth 8");
  struct Case {
    double tilt;  // ImageMagick's, clockwise
    int flag;
  } cases[] = {{1.0, 1}, {-1.0, 0}, {0.7, 1}, {-3.3, 0}};
  for (const Case& c : cases) {
    const std::string in = Make("tilt" + std::to_string(c.tilt) + ".tif",
                                "'" + page + "' -background white -rotate " + std::to_string(c.tilt) +
                                    " -alpha off -colorspace gray -threshold 50% -depth 1");
    ImageState* src = Open(in);
    DeskewAngle a;
    ASSERT_TRUE(MeasureSkew(src, 5.0, &a));
    EXPECT_NEAR(a.angle, std::fabs(c.tilt), 0.02) << c.tilt;
    EXPECT_EQ(a.flag, c.flag) << c.tilt;
  }
}

TEST_F(Deskew, ABlankPageHasNothingToMeasure) {
  ImageState* src = Open(Make("blank.tif", "-size 200x100 xc:white -depth 8"));
  DeskewAngle a;
  EXPECT_FALSE(MeasureSkew(src, 5.0, &a));
}

}  // namespace

namespace {

using namespace orb::tools;

TEST(DeskewHooks, DraggingAnEndMeasuresTheLine) {
  ImageState image;
  image.width = 1200;
  image.height = 1000;
  image.region = PixelRect{0, 0, 1200, 1000};
  image.clientRect = PixelRect{0, 0, 1200, 1000};
  image.fitScale = 10000;
  const orb::ViewContext view{&image};
  DeskewHooks hooks;
  hooks.SetShowing(true);
  int changes = 0;
  hooks.SetOnChange([&] { ++changes; });
  hooks.ResetLine(image.region);
  EXPECT_EQ(hooks.A().x, 300);
  EXPECT_EQ(hooks.A().y, 500);
  EXPECT_EQ(hooks.B().x, 900);
  EXPECT_EQ(hooks.Angle().angle, 0);
  EXPECT_EQ(hooks.HitTest(view, {903, 503}), orb::cursor::SizeAll);
  EXPECT_EQ(hooks.HitTest(view, {600, 500}), orb::cursor::None);
  ASSERT_EQ(hooks.OnButtonDown(view, {902, 502}), orb::drag::Move);
  hooks.OnDrag(view, orb::drag::Move, {1300, 483});
  EXPECT_EQ(changes, 1);
  EXPECT_NEAR(hooks.Angle().angle, std::atan2(17.0, 1000.0) * 180 / M_PI, 0.01);
  EXPECT_EQ(hooks.Angle().flag, 0);
  // The line is drawn by inverting: painting twice restores the picture.
  std::vector<uint8_t> rgb(1200 * 1000 * 3, 40), before = rgb;
  orb::ViewCanvas canvas(rgb.data(), 1200, 1000, 3600);
  hooks.Paint(view, canvas);
  EXPECT_NE(rgb, before);
  hooks.Paint(view, canvas);
  EXPECT_EQ(rgb, before);
}

}  // namespace
