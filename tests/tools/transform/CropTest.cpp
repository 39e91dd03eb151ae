// Crop: the default rectangle, what a cut really takes at the image's edges, the cut
// against ImageMagick's crop, and the rectangle's handles and moves on the view.
#include "tools/transform/Crop.h"

#include "tests/tools/transform/TransformFixture.h"
#include "tools/ToolTable.h"

namespace {

using namespace orb::tools;
using namespace transform_test;

class Crop : public Fixture {};

TEST(CropRectangle, DefaultIsTheMiddleHalfOfTheRegion) {
  EXPECT_EQ(DefaultCropRect(PixelRect{0, 0, 1000, 800}), (CropRect{250, 200, 500, 400}));
  EXPECT_EQ(DefaultCropRect(PixelRect{100, 40, 301, 141}), (CropRect{150, 65, 100, 50}));
}

TEST(CropRectangle, WhatACutTakes) {
  struct Case {
    CropRect asked;
    CropRect taken;
  } cases[] = {
      {{10, 10, 20, 5}, {10, 10, 24, 5}},      // width up to a multiple of 8
      {{995, 0, 3, 1}, {995, 0, 5, 1}},        // never past the end of the line
      {{999, 799, 1, 1}, {999, 799, 1, 1}},    // one pixel
      {{-5, -5, 10, 10}, {0, 0, 8, 5}},        // held inside the image
      {{900, 700, 500, 500}, {900, 700, 100, 100}},
      {{2000, 10, 5, 5}, {0, 0, 0, 0}},        // nothing inside
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CropTaken(c.asked, 1000, 800), c.taken) << c.asked.x << "," << c.asked.y << " " << c.asked.w;
  }
}

TEST_F(Crop, CutsAsImageMagickDoesForEveryKind) {
  int made = 0;
  for (const KindPlan& k : Kinds()) {
    SCOPED_TRACE(k.name);
    ImageState* src = Synth("c" + std::to_string(made) + ".tif", k.kind, 301, 77, static_cast<unsigned>(made + 3));
    ++made;
    for (CropRect r : {CropRect{13, 5, 100, 40}, CropRect{296, 76, 3, 1}, CropRect{0, 0, 301, 77}}) {
      ApplyOutcome out = CropImage(src, r);
      ASSERT_EQ(out.result, ApplyResult::Applied);
      const CropRect t = CropTaken(r, 301, 77);
      const std::string geometry = std::to_string(t.w) + "x" + std::to_string(t.h);
      EXPECT_EQ(out.working->operationCode, kOpCrop);
      EXPECT_EQ(ImageSize(out.working->sourcePath), std::to_string(t.w) + " " + std::to_string(t.h));
      EXPECT_TRUE(Samples(out.working->sourcePath, "rgb") ==
                  Samples(src->sourcePath, "rgb",
                          "-crop " + geometry + "+" + std::to_string(t.x) + "+" + std::to_string(t.y) + " +repage"))
          << geometry;
      FreeImageState(out.working);
    }
  }
}

TEST_F(Crop, NothingInsideChangesNothing) {
  ImageState* src = Synth("n.tif", IK_GREY, 30, 20);
  EXPECT_EQ(CropImage(src, CropRect{40, 0, 5, 5}).result, ApplyResult::NoImage);
  EXPECT_EQ(src->next, nullptr);
}

// A view at actual size: client and image pixels are the same.
struct ViewAtActualSize {
  ImageState image;
  ViewAtActualSize(int w, int h) {
    image.width = w;
    image.height = h;
    image.region = PixelRect{0, 0, w, h};
    image.clientRect = PixelRect{0, 0, w, h};
    image.fitScale = 10000;
  }
  orb::ViewContext View() { return orb::ViewContext{&image}; }
};

TEST(CropHooks, HandlesGiveTheirCursorsAndDragsFollowTheRules) {
  ViewAtActualSize v(1000, 800);
  CropHooks hooks;
  hooks.SetShowing(true);
  EXPECT_TRUE(hooks.IsShowing(v.View()));
  // The first use puts the default rectangle (250, 200, 500, 400).
  struct Hit {
    orb::Point p;
    uint16_t cursor;
  } hits[] = {
      {{252, 202}, orb::cursor::SizeNWSE}, {{252, 400}, orb::cursor::SizeWE},   {{252, 598}, orb::cursor::SizeNESW},
      {{500, 598}, orb::cursor::SizeNS},   {{748, 598}, orb::cursor::SizeNWSE}, {{748, 400}, orb::cursor::SizeWE},
      {{748, 202}, orb::cursor::SizeNESW}, {{500, 202}, orb::cursor::SizeNS},   {{400, 300}, orb::cursor::SizeAll},
      {{100, 100}, orb::cursor::None},
  };
  for (const Hit& h : hits) EXPECT_EQ(hooks.HitTest(v.View(), h.p), h.cursor) << h.p.x << "," << h.p.y;
  EXPECT_EQ(hooks.Rectangle(), (CropRect{250, 200, 500, 400}));

  // Bottom-right handle: width and height grow with the mouse.
  EXPECT_EQ(hooks.OnButtonDown(v.View(), {748, 598}), orb::drag::Resize);
  EXPECT_EQ(hooks.Grabbed(), 5);
  hooks.OnDrag(v.View(), orb::drag::Resize, {768, 608});
  EXPECT_EQ(hooks.Rectangle(), (CropRect{250, 200, 520, 410}));
  // Past the image's right edge: held one pixel inside.
  hooks.OnDrag(v.View(), orb::drag::Resize, {1400, 608});
  EXPECT_EQ(hooks.Rectangle(), (CropRect{250, 200, 749, 410}));
  // Top-left handle pulled until the width would fall below 3: refused.
  hooks.SetRectangle(CropRect{250, 200, 10, 10});
  EXPECT_EQ(hooks.OnButtonDown(v.View(), {251, 201}), orb::drag::Resize);
  hooks.OnDrag(v.View(), orb::drag::Resize, {260, 201});
  EXPECT_EQ(hooks.Rectangle(), (CropRect{250, 200, 10, 10}));

  // Moving the inside: held inside the image.
  hooks.SetRectangle(CropRect{100, 100, 200, 100});
  EXPECT_EQ(hooks.OnButtonDown(v.View(), {200, 150}), orb::drag::Move);
  hooks.OnDrag(v.View(), orb::drag::Move, {150, 120});
  EXPECT_EQ(hooks.Rectangle(), (CropRect{50, 70, 200, 100}));
  hooks.OnDrag(v.View(), orb::drag::Move, {-500, -500});
  EXPECT_EQ(hooks.Rectangle(), (CropRect{0, 0, 200, 100}));
  hooks.OnDrag(v.View(), orb::drag::Move, {2000, 2000});
  EXPECT_EQ(hooks.Rectangle(), (CropRect{799, 699, 200, 100}));
  // Outside the rectangle nothing is grabbed.
  EXPECT_EQ(hooks.OnButtonDown(v.View(), {10, 10}), orb::drag::None);
}

TEST(CropHooks, PaintInvertsTheFrameAndHandles) {
  ViewAtActualSize v(100, 80);
  CropHooks hooks;
  hooks.SetShowing(true);
  std::vector<uint8_t> rgb(100 * 80 * 3, 0);
  orb::ViewCanvas canvas(rgb.data(), 100, 80, 300);
  hooks.Paint(v.View(), canvas);  // the default rectangle (25, 20, 50, 40)
  auto at = [&](int x, int y) { return rgb[(static_cast<size_t>(y) * 100 + x) * 3]; };
  EXPECT_EQ(at(40, 20), 255);  // top edge, between the handles
  EXPECT_EQ(at(40, 40), 0);    // inside
  EXPECT_EQ(at(70, 55), 255);  // bottom-right handle
  EXPECT_EQ(at(10, 10), 0);    // outside
}

}  // namespace
