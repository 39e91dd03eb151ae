// The view's region under zoom, update hints, scrolling, and where the display is drawn.
#include <gtest/gtest.h>

#include "app/ViewGeometry.h"

#include <vector>

namespace {



bool Same(const PixelRect& a, const PixelRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(DocViewZoom, TableOfZooms) {
  struct Case {
    PixelRect region;
    int32_t percent, w, h;
    PixelRect expect;
  } cases[] = {
      {{0, 0, 8, 8}, 100, 100, 100, {2, 2, 6, 6}},          // 8 x 8 becomes 4 x 4
      {{0, 0, 6, 6}, 100, 100, 100, {0, 0, 6, 6}},          // dx = 2.0: unchanged
      {{0, 0, 100, 100}, -50, 100, 100, {0, 0, 100, 100}},  // zoom out of the whole image
      {{40, 40, 60, 60}, -50, 100, 100, {31, 31, 69, 69}},  // each side out by about half
      {{0, 0, 400, 200}, 100, 400, 200, {100, 50, 300, 150}},
      {{10, 10, 20, 20}, 0, 100, 100, {10, 10, 20, 20}},    // no step
  };
  for (const auto& c : cases) {
    PixelRect r = orb::ZoomRegion(c.region, c.percent, c.w, c.h);
    EXPECT_TRUE(Same(r, c.expect)) << c.region.left << "," << c.region.right << " " << c.percent << " -> " << r.left
                                   << "," << r.top << "," << r.right << "," << r.bottom;
  }
}

TEST(DocViewHints, ActualSizeAndWholeImage) {
  // Actual size about the centre when it fits inside the image.
  PixelRect r = orb::RegionForHint(orb::kHintActualSize, {0, 0, 2000, 1000}, 400, 300, 2000, 1000, 100, 50);
  EXPECT_TRUE(Same(r, {800, 350, 1200, 650}));
  // An image smaller than the client area is shown whole.
  r = orb::RegionForHint(orb::kHintActualSize, {0, 0, 100, 80}, 400, 300, 100, 80, 100, 50);
  EXPECT_TRUE(Same(r, {0, 0, 100, 80}));
  r = orb::RegionForHint(orb::kHintWholeImage, {5, 5, 10, 10}, 400, 300, 100, 80, 100, 50);
  EXPECT_TRUE(Same(r, {0, 0, 100, 80}));
  for (int hint : {orb::kHintRepaint, orb::kHintRedraw, orb::kHintNone}) {
    r = orb::RegionForHint(hint, {5, 6, 10, 12}, 400, 300, 100, 80, 100, 50);
    EXPECT_TRUE(Same(r, {5, 6, 10, 12})) << hint;
  }
}

TEST(DocViewZoom, ZoomInAtAPointCentresThere) {
  PixelRect drawing{0, 0, 400, 300};
  // Zoom factor 2 image pixels a client pixel: client (100, 50) is image (200, 100).
  PixelRect r = orb::CentreRegionAt({0, 0, 800, 600}, {100, 50}, drawing, 20000);
  EXPECT_TRUE(Same(r, {-200, -200, 600, 400}));
}

TEST(DocViewScroll, TableOfScrolls) {
  struct Case {
    int32_t start, end, size;
    orb::ScrollCode code;
    int32_t pos;
    int32_t s2, e2;
  } cases[] = {
      {100, 200, 1000, orb::ScrollCode::LineDown, 0, 125, 225},
      {100, 200, 1000, orb::ScrollCode::LineUp, 0, 75, 175},
      {100, 200, 1000, orb::ScrollCode::PageDown, 0, 150, 250},
      {10, 110, 1000, orb::ScrollCode::PageUp, 0, 0, 100},
      {900, 1000, 1000, orb::ScrollCode::LineDown, 0, 900, 1000},  // at the bottom: stays
      {0, 100, 1000, orb::ScrollCode::ThumbTrack, 500, 450, 550},
      {0, 100, 1000, orb::ScrollCode::ThumbPosition, 990, 900, 1000},
      {100, 200, 1000, orb::ScrollCode::EndScroll, 0, 100, 200},
  };
  for (const auto& c : cases) {
    int32_t s = c.start, e = c.end;
    orb::ScrollAxis(s, e, c.size, c.code, c.pos);
    EXPECT_EQ(s, c.s2) << static_cast<int>(c.code);
    EXPECT_EQ(e, c.e2) << static_cast<int>(c.code);
  }
}

TEST(DocViewScroll, BarPositionAndArrows) {
  EXPECT_EQ(orb::ScrollBarPosition(900, 1000, 1000), 1000);
  EXPECT_EQ(orb::ScrollBarPosition(0, 100, 1000), 0);
  EXPECT_EQ(orb::ScrollBarPosition(100, 201, 1000), 150);
  orb::ScrollArrows a = orb::ScrollArrowsFor({0, 900, 50, 1000}, 100, 1000);
  EXPECT_FALSE(a.down);
  EXPECT_TRUE(a.up);
  EXPECT_FALSE(a.left);
  EXPECT_TRUE(a.right);
}

TEST(DocViewDraw, DisplayIsCentredAlongTheAxisWithRoom) {
  orb::DrawPlacement p = orb::PlaceDisplayBitmap(752, 600, 800, 600);
  EXPECT_EQ(p.scale, 10000);
  EXPECT_EQ(p.width, 752);
  EXPECT_EQ(p.target.left, 24);
  EXPECT_EQ(p.target.top, 0);
  p = orb::PlaceDisplayBitmap(800, 300, 800, 600);
  EXPECT_EQ(p.target.left, 0);
  EXPECT_EQ(p.target.top, 150);
  EXPECT_EQ(p.target.bottom, 450);
  p = orb::PlaceDisplayBitmap(100, 100, 0, 0);
  EXPECT_EQ(p.scale, 0);
}

}  // namespace

#include "app/DocumentProgress.h"
#include "app/SaveFormats.h"
#include "engine/Settings.h"

namespace {

TEST(DocProgress, BarStepsOverTheRange) {
  orb::ProgressModel thousand(0, 1000);
  EXPECT_EQ(thousand.Increment(), 10);
  std::vector<int> moves;
  for (int i = 1; i <= 1000; ++i)
    if (thousand.Step()) moves.push_back(i);
  ASSERT_EQ(moves.size(), 10u);
  EXPECT_EQ(moves.front(), 100);
  EXPECT_EQ(moves[1], 200);
  orb::ProgressModel four(0, 4);
  EXPECT_EQ(four.step(), 1.0);
  EXPECT_EQ(four.Increment(), 25);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(four.Step());
  // Equal ends: done at once, no division by zero.
  orb::ProgressModel empty(7, 7);
  EXPECT_EQ(empty.Increment(), 100);
  EXPECT_TRUE(empty.Step());
  orb::ProgressModel fraction(0, 200);
  fraction.SetStepFraction(25);
  EXPECT_EQ(fraction.step(), 50.0);
  EXPECT_EQ(fraction.Increment(), 25);
}

TEST(DocQuality, EveryKindHasItsOwnField) {
  const auto saved = MiscSettings;
  MiscSettings.JpegQualityColour = 11;
  MiscSettings.PdfJpegQualityColour = 22;
  MiscSettings.TiffJpegQualityColour = 33;
  MiscSettings.PdfJpegQualityGrey = 44;
  MiscSettings.JpegQualityGrey = 55;
  MiscSettings.Jpeg2000Quality = 666;
  const int32_t expect[] = {0, 11, 22, 33, 44, 55, 666};
  for (int kind = 1; kind <= 6; ++kind) EXPECT_EQ(orb::StoredQuality(kind), expect[kind]) << kind;
  EXPECT_EQ(orb::QualityField(11), nullptr);
  EXPECT_EQ(orb::QualityMaximum(6), 1000);
  MiscSettings.JpegQualityColour = 5000;  // a damaged settings file
  EXPECT_EQ(orb::StoredQuality(1), 100);
  MiscSettings = saved;
}

}  // namespace
