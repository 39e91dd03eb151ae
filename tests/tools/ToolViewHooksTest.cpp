#include "tools/ToolViewHooks.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using orb::Point;
using orb::Rect;

// A view showing image pixels from (100, 200) with 2.5 image pixels to a client pixel,
// the picture drawn from client point (10, 20).
ImageState ZoomedImage() {
  ImageState s;
  s.width = 4000;
  s.height = 3000;
  s.region = PixelRect{100, 200, 1100, 950};
  s.clientRect = PixelRect{10, 20, 410, 320};
  s.fitScale = 25000;
  return s;
}

struct ConvertCase {
  Point client;
  Point image;
};

TEST(ViewContextTest, ClientPointsBecomeImagePointsByTruncation) {
  ImageState s = ZoomedImage();
  orb::ViewContext view{&s};
  // (client - origin) x 2.5, truncated toward zero, plus the region's origin.
  const ConvertCase cases[] = {
      {{10, 20}, {100, 200}},
      {{14, 21}, {110, 202}},   // 4 x 2.5 = 10, 1 x 2.5 = 2.5 -> 2
      {{409, 319}, {1097, 947}},  // 399 x 2.5 = 997.5 -> 997, 299 x 2.5 = 747.5 -> 747
      {{9, 19}, {98, 198}},     // left of the picture: -2.5 -> -2
  };
  for (const ConvertCase& c : cases) {
    const Point got = view.ToImage(c.client);
    EXPECT_EQ(got.x, c.image.x) << c.client.x << "," << c.client.y;
    EXPECT_EQ(got.y, c.image.y) << c.client.x << "," << c.client.y;
  }
}

TEST(ViewContextTest, ImagePointsBecomeClientPoints) {
  ImageState s = ZoomedImage();
  orb::ViewContext view{&s};
  EXPECT_EQ(view.ToClient(Point{110, 202}), (Point{14, 20}));  // 10 / 2.5 = 4; 2 / 2.5 = 0.8 -> 0
  EXPECT_EQ(view.ToClient(Point{1100, 950}), (Point{410, 320}));
  s.fitScale = 0;  // never drawn: no division by zero
  EXPECT_EQ(view.ToClient(Point{500, 500}), (Point{10, 20}));
  EXPECT_EQ(view.Drawing(), (Rect{10, 20, 410, 320}));
}

// A small picture of distinct pixel values, to see which pixels an overlay touched.
struct Picture {
  int32_t w, h;
  std::vector<uint8_t> rgb;
  Picture(int32_t width, int32_t height) : w(width), h(height), rgb(static_cast<size_t>(width * height * 3)) {
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 7 + 3);
  }
  orb::ViewCanvas Canvas() { return orb::ViewCanvas(rgb.data(), w, h, static_cast<size_t>(w) * 3); }
  // Pixels whose first byte differs from `before`.
  int Changed(const Picture& before) const {
    int n = 0;
    for (size_t i = 0; i < rgb.size(); i += 3) n += rgb[i] != before.rgb[i] ? 1 : 0;
    return n;
  }
  bool Inverted(const Picture& before, int32_t x, int32_t y) const {
    const size_t i = (static_cast<size_t>(y) * w + x) * 3;
    return rgb[i] == static_cast<uint8_t>(~before.rgb[i]) && rgb[i + 1] == static_cast<uint8_t>(~before.rgb[i + 1]) &&
           rgb[i + 2] == static_cast<uint8_t>(~before.rgb[i + 2]);
  }
};

struct FrameCase {
  Rect r;
  int32_t thickness;
  int changed;  // pixels inverted once
};

TEST(ViewCanvasTest, FramesInvertEachPixelOnceAndTwiceRestore) {
  const FrameCase cases[] = {
      {{2, 2, 7, 6}, 1, 14},    // 5 x 4: perimeter 2 x 5 + 2 x 2
      {{2, 2, 10, 10}, 2, 48},  // 8 x 8 less the 4 x 4 inside
      {{2, 2, 5, 5}, 4, 9},     // thicker than half: the whole 3 x 3
      {{5, 5, 5, 9}, 1, 0},     // empty
  };
  for (const FrameCase& c : cases) {
    Picture pic(16, 12);
    const Picture before = pic;
    orb::ViewCanvas canvas = pic.Canvas();
    canvas.InvertFrame(c.r, c.thickness);
    EXPECT_EQ(pic.Changed(before), c.changed) << c.r.left << "," << c.r.right;
    canvas.InvertFrame(c.r, c.thickness);
    EXPECT_EQ(pic.rgb, before.rgb) << "drawn twice: " << c.r.left << "," << c.r.right;
  }
}

TEST(ViewCanvasTest, ClippedFrameTouchesOnlyItsVisiblePart) {
  Picture pic(16, 12);
  const Picture before = pic;
  orb::ViewCanvas canvas = pic.Canvas();
  canvas.InvertFrame(Rect{-3, -3, 3, 3}, 1);  // right column x = 2 and bottom row y = 2 show
  EXPECT_EQ(pic.Changed(before), 5);          // (0..2, 2) and (2, 0..1)
  EXPECT_TRUE(pic.Inverted(before, 2, 2));
  EXPECT_TRUE(pic.Inverted(before, 0, 2));
  EXPECT_TRUE(pic.Inverted(before, 2, 0));
  EXPECT_FALSE(pic.Inverted(before, 1, 1));
}

TEST(ViewCanvasTest, LinesInvertEveryPixelOfTheirLongerAxisOnce) {
  struct LineCase {
    Point a, b;
    int changed;
  };
  const LineCase cases[] = {
      {{1, 1}, {10, 1}, 10},   // horizontal, both ends
      {{3, 9}, {3, 2}, 8},     // vertical, upward
      {{0, 0}, {11, 11}, 12},  // diagonal
      {{1, 2}, {13, 6}, 13},   // shallow: one pixel a column
      {{-5, 4}, {4, 4}, 5},    // starts off the picture
  };
  for (const LineCase& c : cases) {
    Picture pic(16, 12);
    const Picture before = pic;
    orb::ViewCanvas canvas = pic.Canvas();
    canvas.InvertLine(c.a, c.b);
    EXPECT_EQ(pic.Changed(before), c.changed) << c.a.x << "," << c.a.y;
    if (c.a.x >= 0) {
      EXPECT_TRUE(pic.Inverted(before, c.a.x, c.a.y));
    }
    EXPECT_TRUE(pic.Inverted(before, c.b.x, c.b.y));
    canvas.InvertLine(c.a, c.b);
    EXPECT_EQ(pic.rgb, before.rgb);
  }
}

TEST(ViewCanvasTest, CopiedPixelsAreClippedToThePicture) {
  Picture pic(8, 6);
  orb::ViewCanvas canvas = pic.Canvas();
  std::vector<uint8_t> red(4 * 4 * 3, 0);
  for (size_t i = 0; i < red.size(); i += 3) red[i] = 255;
  canvas.CopyPixels(6, 4, red.data(), 4, 4, 12);  // only 2 x 2 land on the picture
  int reds = 0;
  for (size_t i = 0; i < pic.rgb.size(); i += 3) reds += pic.rgb[i] == 255 && pic.rgb[i + 1] == 0 ? 1 : 0;
  EXPECT_EQ(reds, 4);
  EXPECT_EQ(pic.rgb[(5 * 8 + 7) * 3], 255);
}

// A crop-like page: a rectangle in image pixels that can be grabbed inside and moved.
class FakeRectanglePage : public orb::IToolViewHooks {
 public:
  bool showing = true;
  Rect area{200, 300, 400, 500};  // image pixels
  Point grabbed;
  int drags = 0;

  bool IsShowing(const orb::ViewContext&) const override { return showing; }
  uint16_t HitTest(const orb::ViewContext& v, Point p) override {
    return Inside(v.ToImage(p)) ? orb::cursor::SizeAll : orb::cursor::None;
  }
  uint16_t OnButtonDown(const orb::ViewContext& v, Point p) override {
    grabbed = v.ToImage(p);
    return Inside(grabbed) ? orb::drag::Move : orb::drag::None;
  }
  void OnDrag(const orb::ViewContext& v, uint16_t mode, Point p) override {
    if (mode != orb::drag::Move) return;
    const Point now = v.ToImage(p);
    area = Rect{area.left + now.x - grabbed.x, area.top + now.y - grabbed.y, area.right + now.x - grabbed.x,
                area.bottom + now.y - grabbed.y};
    grabbed = now;
    ++drags;
  }
  void Paint(const orb::ViewContext& v, orb::ViewCanvas& canvas) override {
    const Point a = v.ToClient(Point{area.left, area.top}), b = v.ToClient(Point{area.right, area.bottom});
    canvas.InvertFrame(Rect{a.x, a.y, b.x, b.y}, 1);
  }

 private:
  bool Inside(Point p) const { return p.x >= area.left && p.x < area.right && p.y >= area.top && p.y < area.bottom; }
};

TEST(ToolViewRegistryTest, ShowingPageIsFoundByRoleAndLeavesWithItsScope) {
  ImageState s = ZoomedImage();
  orb::ViewContext view{&s};
  FakeRectanglePage page;
  {
    orb::ScopedViewTool scope(orb::ViewToolRole::Crop, &page);
    EXPECT_EQ(orb::ShowingViewTool(orb::ViewToolRole::Crop, view), &page);
    EXPECT_EQ(orb::ShowingViewTool(orb::ViewToolRole::Deskew, view), nullptr);
    page.showing = false;  // a hidden page keeps its place but is not asked
    EXPECT_EQ(orb::RegisteredViewTool(orb::ViewToolRole::Crop), &page);
    EXPECT_EQ(orb::ShowingViewTool(orb::ViewToolRole::Crop, view), nullptr);
    // Another page leaving does not take this page's place away.
    FakeRectanglePage other;
    orb::UnregisterViewTool(orb::ViewToolRole::Crop, &other);
    EXPECT_EQ(orb::RegisteredViewTool(orb::ViewToolRole::Crop), &page);
  }
  EXPECT_EQ(orb::RegisteredViewTool(orb::ViewToolRole::Crop), nullptr);
  orb::RegisterViewTool(orb::ViewToolRole::Count, &page);  // not a role: ignored
  EXPECT_EQ(orb::RegisteredViewTool(orb::ViewToolRole::Count), nullptr);
}

TEST(ToolViewRegistryTest, FakePageGrabsMovesAndPaintsThroughTheContext) {
  ImageState s = ZoomedImage();
  orb::ViewContext view{&s};
  FakeRectanglePage page;
  orb::ScopedViewTool scope(orb::ViewToolRole::Crop, &page);
  orb::IToolViewHooks* hooks = orb::ShowingViewTool(orb::ViewToolRole::Crop, view);
  ASSERT_NE(hooks, nullptr);
  // Client (50, 60) is image (200, 300): the rectangle's corner.
  EXPECT_EQ(hooks->HitTest(view, Point{50, 60}), orb::cursor::SizeAll);
  EXPECT_EQ(hooks->HitTest(view, Point{49, 60}), orb::cursor::None);
  EXPECT_EQ(hooks->OnButtonDown(view, Point{49, 60}), orb::drag::None);
  ASSERT_EQ(hooks->OnButtonDown(view, Point{50, 60}), orb::drag::Move);
  hooks->OnDrag(view, orb::drag::Move, Point{54, 62});  // 10 and 5 image pixels
  EXPECT_EQ(page.area, (Rect{210, 305, 410, 505}));

  Picture pic(420, 330);
  const Picture before = pic;
  orb::ViewCanvas canvas = pic.Canvas();
  hooks->Paint(view, canvas);
  // (210, 305) -> client (54, 62); (410, 505) -> (134, 142).
  EXPECT_TRUE(pic.Inverted(before, 54, 62));
  EXPECT_TRUE(pic.Inverted(before, 133, 141));
  EXPECT_FALSE(pic.Inverted(before, 60, 80));
  EXPECT_EQ(pic.Changed(before), 2 * 80 + 2 * 78);
}

}  // namespace
