// The magnifier's and the navigator's geometry.
#include <gtest/gtest.h>

#include <string>

#include "app/ViewGeometry.h"
#include "tools/ToolViewHooks.h"

namespace {

using orb::Point;
using orb::Rect;

std::string Str(const PixelRect& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
         std::to_string(r.bottom);
}
bool Same(const PixelRect& a, const PixelRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(LensGeometry, SourceRectangleCoversTheDiameterOverTheZoom) {
  const struct {
    int32_t d, z;
    PixelRect src;
  } cases[] = {
      {300, 2, {925, 425, 1075, 575}},
      {300, 1, {850, 350, 1150, 650}},
      {300, 4, {963, 463, 1038, 538}},  // D div 8 = 37, D div 4 = 75
      {204, 4, {975, 475, 1026, 526}},
  };
  for (const auto& c : cases) {
    const PixelRect r = orb::LensSource(Point{1000, 500}, c.d, c.z);
    EXPECT_TRUE(Same(r, c.src)) << c.d << " x" << c.z << ": " << Str(r);
  }
}

TEST(LensGeometry, DamagedSettingsFallBackToTheDefaults) {
  const struct {
    int32_t d, z;
    int32_t wantD, wantZ;
  } cases[] = {
      {300, 2, 300, 2}, {32, 4, 32, 4},       {2048, 1, 2048, 1},
      {0, 1, 300, 1},   {100000, 2, 300, 2},  {-40, 4, 300, 4},
      {300, 3, 300, 1}, {300, 0, 300, 1},     {300, -2, 300, 1}, {31, 8, 300, 1},
  };
  for (const auto& c : cases) {
    const orb::LensSettings s = orb::SanitizedLens(c.d, c.z);
    EXPECT_EQ(s.diameter, c.wantD) << c.d;
    EXPECT_EQ(s.zoom, c.wantZ) << c.z;
  }
  // A source rectangle from damaged values is never empty nor the whole world.
  const PixelRect r = orb::LensSource(Point{0, 0}, 0, 3);
  EXPECT_EQ(r.right - r.left, 300);
}

TEST(LensGeometry, RightClicksCycleTheZoomAndItsCursor) {
  EXPECT_EQ(orb::NextLensZoom(1), 2);
  EXPECT_EQ(orb::NextLensZoom(2), 4);
  EXPECT_EQ(orb::NextLensZoom(4), 1);
  EXPECT_EQ(orb::NextLensZoom(3), 4);
  EXPECT_EQ(orb::NextLensZoom(0), 1);
  EXPECT_EQ(orb::NextLensZoom(77), 1);
  EXPECT_EQ(orb::LensZoomCursor(1), 257);
  EXPECT_EQ(orb::LensZoomCursor(2), 258);
  EXPECT_EQ(orb::LensZoomCursor(4), 259);
}

TEST(LensGeometry, RimDragSetsAMultipleOfFourWithinLimits) {
  EXPECT_EQ(orb::ResizedLensDiameter(101.0), 204);  // ((101 x 2 + 4) div 4) x 4
  EXPECT_EQ(orb::ResizedLensDiameter(150.9), 304);  // trunc 150: (304 div 4) x 4
  EXPECT_EQ(orb::ResizedLensDiameter(5.0), orb::kLensMinDiameter);
  EXPECT_EQ(orb::ResizedLensDiameter(1e12), orb::kLensMaxDiameter);
  EXPECT_EQ(orb::ResizedLensDiameter(-3.0), orb::kLensMinDiameter);
}

TEST(LensGeometry, RimTestFindsTheCirclePointInTheCursorsDirection) {
  const Rect box{0, 0, 300, 300};  // centre (150, 150), radius 150
  const struct {
    Point p;
    bool onRim;
    uint16_t cursor;
  } cases[] = {
      {{150, 5}, true, orb::cursor::SizeNS},     // straight above the centre: the top point
      {{150, 296}, true, orb::cursor::SizeNS},   // straight below
      {{150, 150}, false, 0},                    // the centre itself
      {{150, 30}, false, 0},                     // above the centre, 30 inside the rim
      {{295, 150}, true, orb::cursor::SizeWE},   // right
      {{4, 160}, true, orb::cursor::SizeWE},     // left, slightly down (slope below 0.5)
      {{47, 47}, true, orb::cursor::SizeNWSE},   // up-left at 45 degrees
      {{253, 253}, true, orb::cursor::SizeNWSE},  // down-right
      {{253, 47}, true, orb::cursor::SizeNESW},  // up-right
      {{47, 253}, true, orb::cursor::SizeNESW},  // down-left
      {{80, 80}, false, 0},                      // inside
  };
  for (const auto& c : cases) {
    const orb::RimHit hit = orb::LensRimTest(box, c.p);
    EXPECT_EQ(hit.onRim, c.onRim) << c.p.x << "," << c.p.y;
    EXPECT_EQ(hit.cursor, c.cursor) << c.p.x << "," << c.p.y;
  }
}

TEST(LensGeometry, BoxAndInside) {
  EXPECT_EQ(orb::LensBox(Point{200, 100}, 300), (Rect{50, -50, 350, 250}));
  const Rect box = orb::LensBox(Point{200, 100}, 300);
  EXPECT_TRUE(orb::InsideLens(box, Point{200, 100}));
  EXPECT_TRUE(orb::InsideLens(box, Point{350, 100}));
  EXPECT_FALSE(orb::InsideLens(box, Point{340, 220}));  // in the square's corner, off the circle
}

TEST(NavigatorGeometry, PortraitIsCentredAcrossLandscapeDown) {
  EXPECT_EQ(orb::NavigatorThumbRect(100, 200, 200, 100), (Rect{75, 0, 125, 100}));
  EXPECT_EQ(orb::NavigatorThumbRect(200, 50, 100, 100), (Rect{0, 38, 100, 63}));
  EXPECT_EQ(orb::NavigatorThumbRect(0, 50, 100, 100), (Rect{}));  // no picture
}

TEST(NavigatorGeometry, FrameAndRegionConvertBothWays) {
  const Rect thumb{0, 50, 200, 150};
  EXPECT_EQ(orb::NavigatorFrame(PixelRect{1000, 500, 2000, 1000}, 4000, 2000, thumb), (Rect{50, 75, 100, 100}));
  EXPECT_EQ(orb::NavigatorFrame(PixelRect{0, 0, 4000, 2000}, 4000, 2000, thumb), thumb);
  EXPECT_TRUE(Same(orb::NavigatorRegion(Rect{50, 75, 100, 100}, thumb, 4000, 2000), {1000, 500, 2000, 1000}));
  // A frame reaching out of the picture gives a region clamped to the image.
  EXPECT_TRUE(Same(orb::NavigatorRegion(Rect{-10, 40, 210, 100}, thumb, 4000, 2000), {0, 0, 4000, 1000}));
}

TEST(NavigatorGeometry, MovedFramesStayInsideTheThumbnail) {
  const Rect thumb{0, 50, 200, 150};
  const Rect frame{50, 75, 100, 100};
  EXPECT_EQ(orb::MoveNavigatorFrame(frame, 150, -40, thumb), (Rect{150, 50, 200, 75}));
  EXPECT_EQ(orb::MoveNavigatorFrame(frame, -80, 90, thumb), (Rect{0, 125, 50, 150}));
  EXPECT_EQ(orb::MoveNavigatorFrame(frame, 3, 4, thumb), (Rect{53, 79, 103, 104}));
  EXPECT_EQ(orb::MoveNavigatorFrame(Rect{10, 50, 210, 150}, 5, 5, thumb), thumb);  // as large as T
  EXPECT_TRUE(Same(orb::NavigatorRegion(orb::MoveNavigatorFrame(frame, 150, -40, thumb), thumb, 4000, 2000),
                   {3000, 0, 4000, 500}));
}

TEST(NavigatorGeometry, BandsOfTwoPixelsOrLessDoNotCount) {
  EXPECT_FALSE(orb::NavigatorBandCounts(Point{10, 10}, Point{12, 40}));
  EXPECT_FALSE(orb::NavigatorBandCounts(Point{10, 10}, Point{40, 8}));
  EXPECT_TRUE(orb::NavigatorBandCounts(Point{10, 10}, Point{13, 13}));
  EXPECT_TRUE(orb::NavigatorBandCounts(Point{10, 10}, Point{7, 7}));
}

}  // namespace
