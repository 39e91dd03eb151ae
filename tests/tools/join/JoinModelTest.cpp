// The join canvas's geometry: making the canvas, adding items, the mouse's hits and drags,
// nudges, modes and the alignment angle, with values worked out by hand.
#include "tools/join/JoinModel.h"

#include <gtest/gtest.h>

#include "tests/tools/join/JoinTestUtil.h"
#include "tools/ToolViewHooks.h"

namespace {

using namespace orb::join;
using namespace jointest;

class JoinModelTest : public ::testing::Test {
 protected:
  std::string Item(int32_t w, int32_t h, int dpi = 100) {
    ++n_;
    return WriteTiff(dir_ / ("item" + std::to_string(n_) + ".tif"), Noise(w, h, static_cast<uint32_t>(n_)), dpi);
  }
  static void Fresh(JoinModel& m) { m.MakeCanvas(orb::JoinImagesRecord{}); }
  Folder dir_;
  int n_ = 0;
};

TEST_F(JoinModelTest, DefaultCanvasIs3600SquareAt100Dpi) {
  JoinModel m;
  m.MakeCanvas(orb::JoinImagesRecord{});
  EXPECT_TRUE(m.canvas.exists);
  EXPECT_EQ(m.canvas.width, 3600);
  EXPECT_EQ(m.canvas.height, 3600);
  EXPECT_EQ(m.canvas.xDpi, 100);
  EXPECT_EQ(m.canvas.region, (orb::Rect{0, 0, 3600, 3600}));
  // Sizes below 100 are raised to 100.
  orb::JoinImagesRecord small;
  small.canvasWidth = 20;
  small.canvasHeight = 250;
  m.MakeCanvas(small);
  EXPECT_EQ(m.canvas.width, 100);
  EXPECT_EQ(m.canvas.height, 250);
}

TEST_F(JoinModelTest, SharperItemGrowsTheCanvasByTheResolutionRatio) {
  struct Case {
    int dpi;
    int32_t canvasSide;
    int32_t itemW, itemH;  // the item's rectangle on the canvas
  };
  // The canvas keeps its size in inches: 36 inches at 200 dpi are 7200 pixels, at 150 dpi
  // 5400; a 300 x 200 item of the canvas's resolution keeps its pixel size.
  const Case cases[] = {{200, 7200, 300, 200}, {150, 5400, 300, 200}, {100, 3600, 300, 200}, {50, 3600, 600, 400}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    JoinModel m;
    Fresh(m);
    ASSERT_TRUE(m.AddItem(Item(300, 200, c.dpi)));
    EXPECT_EQ(m.canvas.width, c.canvasSide);
    EXPECT_EQ(m.canvas.height, c.canvasSide);
    EXPECT_EQ(m.canvas.region, (orb::Rect{0, 0, c.canvasSide, c.canvasSide}));
    EXPECT_EQ(m.canvas.xDpi, std::max(c.dpi, 100));
    const orb::Rect& r = m.items[0].rect;
    EXPECT_EQ(r.Width(), c.itemW);
    EXPECT_EQ(r.Height(), c.itemH);
    // Centred.
    EXPECT_EQ(r.left, c.canvasSide / 2 - c.itemW / 2);
    EXPECT_EQ(r.top, c.canvasSide / 2 - c.itemH / 2);
  }
}

TEST_F(JoinModelTest, ItemsGetTheirPointsAndTheNewOneIsSelected) {
  JoinModel m;
    Fresh(m);
  ASSERT_TRUE(m.AddItem(Item(300, 200)));
  // Rectangle 1650..1950 x 1700..1900: q = 50, centre x 1800.
  EXPECT_EQ(m.points[kA0], (orb::Point{1800, 1750}));
  EXPECT_EQ(m.points[kB0], (orb::Point{1800, 1850}));
  EXPECT_EQ(m.selected, 0);
  ASSERT_TRUE(m.AddItem(Item(100, 41)));
  // 1750..1850 x 1780..1821: q = 10.
  EXPECT_EQ(m.points[kA1], (orb::Point{1800, 1790}));
  EXPECT_EQ(m.points[kB1], (orb::Point{1800, 1810}));
  EXPECT_EQ(m.points[kA0], (orb::Point{1800, 1750}));
  EXPECT_EQ(m.selected, 1);
}

TEST_F(JoinModelTest, FilesThatCannotJoinLeaveTheArrayAlone) {
  JoinModel m;
    Fresh(m);
  ASSERT_TRUE(m.AddItem(Item(30, 20)));
  const std::string grey = WriteTiff(dir_ / "grey.tif", Noise(30, 20, 1), 100, "-colorspace gray -type grayscale");
  EXPECT_FALSE(m.AddItem(grey));
  EXPECT_FALSE(m.AddItem(dir_ / "missing.tif"));
  EXPECT_EQ(m.items.size(), 1u);
  EXPECT_EQ(m.selected, 0);
}

TEST_F(JoinModelTest, ModesRuleTheButtonsAndSeamTakesOneItem) {
  struct Case {
    uint32_t mode;
    int items;
    bool add, join;
  };
  const Case cases[] = {
      {kModeFree, 0, true, false},  {kModeFree, 1, true, false},  {kModeFree, 3, true, true},
      {kModeAlign, 1, true, false}, {kModeAlign, 2, false, true}, {kModeAlign, 3, true, false},
      {kModeSeam, 0, true, false},  {kModeSeam, 1, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.mode) + "/" + std::to_string(c.items));
    JoinModel m;
    Fresh(m);
    m.SetMode(kModeFree);
    for (int i = 0; i < c.items; ++i) ASSERT_TRUE(m.AddItem(Item(40, 40)));
    ASSERT_TRUE(m.SetMode(c.mode));
    EXPECT_EQ(m.Buttons().add, c.add);
    EXPECT_EQ(m.Buttons().join, c.join);
  }
  JoinModel none;
  EXPECT_FALSE(none.Buttons().add);
  // Seam removal is refused with two items; the mode stays.
  JoinModel m;
    Fresh(m);
  ASSERT_TRUE(m.AddItem(Item(40, 40)));
  ASSERT_TRUE(m.AddItem(Item(40, 40)));
  EXPECT_FALSE(m.SetMode(kModeSeam));
  EXPECT_EQ(m.Mode(), kModeAlign);
  // With one item the seam goes to the item's centre and adding selects nothing.
  JoinModel s;
    Fresh(s);
  ASSERT_TRUE(s.SetMode(kModeSeam));
  ASSERT_TRUE(s.AddItem(Item(300, 200)));
  EXPECT_EQ(s.selected, -1);
  EXPECT_EQ(s.points[kA1], (orb::Point{1800, 1800}));
}

TEST_F(JoinModelTest, HitsAndDragsOfItemsAndEdges) {
  JoinModel m;
    Fresh(m);
  m.SetMode(kModeFree);
  ASSERT_TRUE(m.AddItem(Item(300, 200)));  // 1650..1950 x 1700..1900
  ASSERT_TRUE(m.AddItem(Item(100, 100)));  // 1750..1850 x 1750..1850, on top
  const HitContext hc;                     // one canvas pixel a screen pixel
  // The later item wins where they overlap; it is the selected one.
  EXPECT_EQ(m.HitTest({1800, 1800}, hc), orb::cursor::JoinSelected);
  EXPECT_EQ(m.hovered, 1);
  EXPECT_EQ(m.HitTest({1700, 1800}, hc), orb::cursor::JoinItem);
  EXPECT_EQ(m.hovered, 0);
  EXPECT_EQ(m.HitTest({100, 100}, hc), orb::cursor::None);
  // Edges of the selected item: top and bottom resize up and down, the sides across.
  EXPECT_EQ(m.HitTest({1800, 1752}, hc), orb::cursor::SizeNS);
  EXPECT_EQ(m.HitTest({1753, 1800}, hc), orb::cursor::SizeWE);

  // Moving the item by its middle.
  EXPECT_EQ(m.ButtonDown({1800, 1800}, hc), orb::drag::JoinItem);
  m.Drag(orb::drag::JoinItem, {1810, 1795});
  EXPECT_EQ(m.items[1].rect, (orb::Rect{1760, 1745, 1860, 1845}));
  EXPECT_EQ(m.points[kA1], (orb::Point{1810, 1770}));
  // Not past the canvas's top-left corner, nor its bottom-right.
  m.Drag(orb::drag::JoinItem, {-5000, -5000});
  EXPECT_EQ(m.items[1].rect, (orb::Rect{0, 0, 100, 100}));
  m.Drag(orb::drag::JoinItem, {9000, 9000});
  EXPECT_EQ(m.items[1].rect, (orb::Rect{3499, 3499, 3599, 3599}));

  // Dragging the top edge past the bottom stops one pixel short.
  EXPECT_EQ(m.ButtonDown({3549, 3499}, hc), orb::drag::JoinEdge);
  m.Drag(orb::drag::JoinEdge, {3549, 3530});
  EXPECT_EQ(m.items[1].trim.top, 31);
  m.Drag(orb::drag::JoinEdge, {3549, 9999});
  EXPECT_EQ(m.items[1].Trimmed().Height(), 1);
  m.items[1].trim = Trim{};
  // The right edge: pulled in, never pushed out.
  EXPECT_EQ(m.ButtonDown({3599, 3560}, hc), orb::drag::JoinEdge);
  m.Drag(orb::drag::JoinEdge, {3589, 3560});
  EXPECT_EQ(m.items[1].trim.right, 10);
  m.Drag(orb::drag::JoinEdge, {3700, 3560});
  EXPECT_EQ(m.items[1].trim.right, 0);
  EXPECT_EQ(m.items[1].visible, m.items[1].Trimmed());
}

TEST_F(JoinModelTest, ZoomWidensTheToleranceInCanvasPixels) {
  JoinModel m;
    Fresh(m);
  m.SetMode(kModeFree);
  ASSERT_TRUE(m.AddItem(Item(300, 200)));  // top edge at y 1700
  HitContext far;
  far.zoom = 100000;  // ten canvas pixels a screen pixel: 6 screen pixels are 60
  EXPECT_EQ(m.HitTest({1800, 1660}, far), orb::cursor::SizeNS);
  EXPECT_EQ(m.HitTest({1800, 1660}, HitContext{}), orb::cursor::None);
}

TEST_F(JoinModelTest, AlignmentPointsAreGrabbedBeforeItems) {
  JoinModel m;
    Fresh(m);
  ASSERT_TRUE(m.AddItem(Item(300, 200)));
  ASSERT_TRUE(m.AddItem(Item(100, 100)));
  const HitContext hc;
  EXPECT_EQ(m.HitTest({1805, 1780}, hc), orb::cursor::SizeAll);  // A1 at 1800, 1775
  EXPECT_EQ(m.ButtonDown({1801, 1776}, hc), orb::drag::JoinPoint);
  m.Drag(orb::drag::JoinPoint, {1811, 1770});
  EXPECT_EQ(m.points[kA1], (orb::Point{1810, 1769}));
  EXPECT_EQ(m.selected, -1);
  m.Drag(orb::drag::JoinPoint, {-100, -100});
  EXPECT_EQ(m.points[kA1], (orb::Point{0, 0}));
}

TEST_F(JoinModelTest, NudgesMoveTheItemAndItsPoints) {
  JoinModel m;
    Fresh(m);
  ASSERT_TRUE(m.AddItem(Item(300, 200)));
  m.Nudge(1, 0);
  m.Nudge(0, -1);
  EXPECT_EQ(m.items[0].rect, (orb::Rect{1651, 1699, 1951, 1899}));
  EXPECT_EQ(m.points[kA0], (orb::Point{1801, 1749}));
  // At the corner the item stops, and the points with it.
  for (int i = 0; i < 2000; ++i) m.Nudge(-1, 0);
  EXPECT_EQ(m.items[0].rect.left, 0);
  EXPECT_EQ(m.points[kA0].x, 150);
}

TEST_F(JoinModelTest, RemoveAndSelectByHover) {
  JoinModel m;
    Fresh(m);
  m.SetMode(kModeFree);
  ASSERT_TRUE(m.AddItem(Item(300, 200)));
  ASSERT_TRUE(m.AddItem(Item(100, 100)));
  const HitContext hc;
  m.HitTest({1700, 1800}, hc);
  m.SelectHovered();
  EXPECT_EQ(m.selected, 0);
  m.HitTest({1800, 1800}, hc);
  m.RemoveHovered();
  EXPECT_EQ(m.items.size(), 1u);
  EXPECT_EQ(m.selected, 0);
  m.HitTest({1700, 1800}, hc);
  m.RemoveHovered();
  EXPECT_TRUE(m.items.empty());
  EXPECT_EQ(m.selected, -1);
}

TEST_F(JoinModelTest, OutputExtentIsTheCanvasOrTheTrimmedItems) {
  JoinModel m;
    Fresh(m);
  m.SetMode(kModeFree);
  ASSERT_TRUE(m.AddItem(Item(300, 200)));
  ASSERT_TRUE(m.AddItem(Item(100, 100)));
  m.items[1].rect = orb::Rect{3000, 100, 3100, 200};
  m.items[1].trim = Trim{5, 6, 7, 8};
  EXPECT_EQ(m.OutputExtent(false), (orb::Rect{0, 0, 3600, 3600}));
  EXPECT_EQ(m.OutputExtent(true), (orb::Rect{1650, 105, 3092, 1900}));
}

TEST(JoinAlignAngle, TurnsTheShortWayRound) {
  struct Case {
    const char* what;
    orb::Point a0, b0, a1, b1;
    double angle;
    uint8_t direction;  // 1 counter-clockwise
  };
  // Canvas 1000 high; y grows downward on the canvas, upward for the angles.
  const Case cases[] = {
      {"parallel", {0, 500}, {100, 500}, {10, 600}, {110, 600}, 0, 0},
      {"item 1 rises by 45", {0, 500}, {100, 500}, {0, 500}, {100, 400}, 45, 0},
      {"item 1 falls by 45", {0, 500}, {100, 500}, {0, 500}, {100, 600}, 45, 1},
      {"10 against 350", {0, 500}, {985, 326}, {0, 500}, {985, 674}, 20, 1},
      {"30 against 120 degrees", {0, 500}, {866, 0}, {0, 500}, {-500, -366}, 90, 0},
      {"a point pair that coincides", {0, 500}, {100, 500}, {5, 5}, {5, 5}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    JoinModel m;
    m.canvas.height = 1000;
    m.points = {c.a0, c.b0, c.a1, c.b1};
    const AlignAngle a = m.ComputeAlignAngle();
    EXPECT_NEAR(a.angle, c.angle, 0.05);
    if (c.angle > 0) {
      EXPECT_EQ(a.direction, c.direction);
    }
  }
}

}  // namespace
