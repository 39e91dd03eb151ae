// What the tool pages decide, as tables: the buttons each image kind offers, the slider
// mappings, the white/black order rule, the threshold page's controls and the tone-curve
// graph.
#include "tools/ToolPageModels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "engine/ImageState.h"
#include "tools/ToolTable.h"

namespace {

using namespace orb::tools;

std::set<int> Set(const std::vector<int>& v) { return {v.begin(), v.end()}; }

TEST(ToolButtons, ByImageKind) {
  struct Row {
    const char* what;
    bool attached;
    int kind;
    int state;
    std::set<int> shown;
    std::set<int> hidden;
  };
  const std::set<int> colourShown = {1061, 1062, 1064, 1065, 1066, 1067, 1068, 1069, 1070, 1071, 1072, 1093};
  const std::set<int> paletteShown = {1061, 1062, 1064, 1065, 1066, 1068, 1070, 1071, 1093};
  const std::set<int> bilevelShown = {1061, 1062, 1063, 1064, 1068, 1069, 1070, 1093};
  const std::set<int> bilevelHidden = {1065, 1066, 1067, 1071, 1072};
  auto with = [](std::set<int> s, int id) {
    s.insert(id);
    return s;
  };
  const Row rows[] = {
      {"colour", true, IK_RGB, VS_OPENED, colourShown, {1063, 1073}},
      {"grey", true, IK_GREY, VS_OPENED, colourShown, {1063, 1073}},
      {"grey from green", true, IK_GREY_FROM_GREEN, VS_NORMAL, colourShown, {1063, 1073}},
      {"256 colours", true, IK_PALETTE256, VS_OPENED, paletteShown, {1063, 1067, 1069, 1072, 1073}},
      {"16 colours", true, IK_PALETTE16, VS_OPENED, paletteShown, {1063, 1067, 1069, 1072, 1073}},
      {"bilevel scan", true, IK_BW, VS_NORMAL, with(bilevelShown, 1073), bilevelHidden},
      {"bilevel file", true, IK_BW, VS_OPENED, bilevelShown, with(bilevelHidden, 1073)},
      {"kind 10", true, IK_BW_SAVED_AS_4, VS_NORMAL, with(bilevelShown, 1073), bilevelHidden},
      {"no image, scan mode bilevel", false, IK_BW, VS_OPENED, with(bilevelShown, 1073), bilevelHidden},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    ToolButtonPlan p = ViewToolButtons(r.attached, r.kind, r.state);
    EXPECT_TRUE(p.change);
    EXPECT_EQ(Set(p.shown), r.shown);
    EXPECT_EQ(Set(p.hidden), r.hidden);
  }
  for (int kind : {7, 8, 9, 11, 65535}) {
    SCOPED_TRACE(kind);
    ToolButtonPlan p = ViewToolButtons(true, kind, VS_OPENED);
    EXPECT_FALSE(p.change);
    EXPECT_EQ(ActiveToolAfter(p, kToolSharpen), kToolSharpen);
  }
}

TEST(ToolButtons, JoinCanvasOffersOnlyDeskewAndOpensIt) {
  ToolButtonPlan p = ViewToolButtons(true, IK_RGB, VS_JOIN_CANVAS);
  EXPECT_EQ(p.shown, std::vector<int>{kToolDeskew});
  EXPECT_EQ(p.hidden.size(), 13u);
  EXPECT_EQ(ActiveToolAfter(p, 0), kToolDeskew);
}

TEST(ToolButtons, APaletteImageClosesAToolItHides) {
  ToolButtonPlan p = ViewToolButtons(true, IK_PALETTE256, VS_OPENED);
  for (int closed : {1063, 1067, 1069, 1072, 1073}) EXPECT_EQ(ActiveToolAfter(p, closed), 0) << closed;
  EXPECT_EQ(ActiveToolAfter(p, kToolMirror), kToolMirror);
}

TEST(Sliders, MappingsAndScrollCodes) {
  EXPECT_EQ(BrightContValue(0), -100);
  EXPECT_EQ(BrightContValue(100), 0);
  EXPECT_EQ(BrightContValue(200), 100);
  EXPECT_EQ(SharpenLevel(0), -10);
  EXPECT_EQ(SharpenLevel(10), 0);
  EXPECT_EQ(SharpenLevel(20), 10);
  for (int code = 0; code <= 9; ++code) {
    const bool takes = code != 5 && code < 8;
    EXPECT_EQ(TakesValue(code), takes) << code;
  }
  EXPECT_EQ(DespeckleShownWidth(250), 100);
  EXPECT_EQ(DespeckleShownWidth(-3), 0);
}

TEST(Sliders, WhiteNeverBelowBlack) {
  struct Row {
    bool white;
    int whitePos, blackPos;
    std::optional<int> putBack;
  };
  const Row rows[] = {
      {true, 40, 60, 60},             // white dragged below black: white sits on black
      {false, 100, 120, 100},         // black dragged above white: black sits on white
      {true, 80, 80, std::nullopt},   // equal is allowed
      {false, 80, 80, std::nullopt},
      {true, 200, 10, std::nullopt},
  };
  for (const Row& r : rows) EXPECT_EQ(BWPointOrderRule(r.white, r.whitePos, r.blackPos), r.putBack);
}

TEST(Threshold, LabelsCarryTheValue) {
  EXPECT_EQ(ThresholdSliderLabel("Threshold (32)", 40), "Threshold (40)");
  EXPECT_EQ(ThresholdSliderLabel("Window", 9), "Window (9)");
}

TEST(Threshold, ControlsByType) {
  struct Row {
    int type;
    bool part;
    std::set<int> mustShow;
    std::set<int> mustHide;
  };
  const Row rows[] = {
      {0, false, {1001, 1441, 1438, 1378, 1379}, {1429, 1458, 1442, 1443, 1439, 1440, 1380, 1383}},
      {1, false, {1001, 1441, 1442, 1438, 1439, 1378, 1381}, {1429, 1458, 1443, 1440, 1382, 1383}},
      {2, false, {1429, 1458, 1442, 1439, 1380, 1381}, {1001, 1441, 1443, 1438, 1440, 1378, 1382}},
      {2, true, {1429, 1458, 1441, 1442, 1443, 1438, 1440, 1383}, {1001}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.type * 10 + r.part);
    ControlVisibility v = ThresholdControls(r.type, r.part, true);
    const std::set<int> shown = Set(v.shown), hidden = Set(v.hidden);
    for (int id : r.mustShow) EXPECT_TRUE(shown.count(id) && !hidden.count(id)) << id;
    for (int id : r.mustHide) EXPECT_TRUE(hidden.count(id) && !shown.count(id)) << id;
  }
  // The dialog has no software check to show or hide.
  ControlVisibility d = ThresholdControls(0, false, false);
  EXPECT_EQ(std::count(d.shown.begin(), d.shown.end(), 1001), 0);
}

TEST(Threshold, SlidersEditTheTypesFields) {
  orb::BWThresholdRecord r;
  EXPECT_EQ(ThresholdField(r, 0, 1441), &r.FixedThreshhold);
  EXPECT_EQ(ThresholdField(r, 0, 1442), nullptr);
  EXPECT_EQ(ThresholdField(r, 1, 1441), &r.AdaptiveDynamic);
  EXPECT_EQ(ThresholdField(r, 1, 1442), &r.AdaptiveWindowSize);
  EXPECT_EQ(ThresholdField(r, 2, 1441), &r.HybridDynamic);
  EXPECT_EQ(ThresholdField(r, 2, 1442), &r.DiffusionLevel);
  EXPECT_EQ(ThresholdField(r, 2, 1443), &r.HybridDecisionWindow);
  EXPECT_EQ(ThresholdSliderRange(1443, true).high, 32);
  EXPECT_EQ(ThresholdSliderRange(1441, false).high, 100);
}

TEST(CurveGraph, MappingHitTestAndDrag) {
  CurveGraph g{255, 255};  // one pixel a level
  EXPECT_EQ(g.ToGraph({0, 0}), (orb::Point{0, 255}));
  EXPECT_EQ(g.ToGraph({255, 255}), (orb::Point{255, 0}));
  EXPECT_EQ(g.InputAt(100), 100);
  EXPECT_EQ(g.OutputAt(100), 155);
  std::array<orb::CurvePoint, 4> pts = {{{0, 0}, {86, 86}, {172, 172}, {255, 255}}};
  // The end points' boxes are kept 3 pixels inside: a click there finds them.
  EXPECT_EQ(g.HitTest(pts, 3, 252), 0);
  EXPECT_EQ(g.HitTest(pts, 86 + 5, 169 - 5), 1);
  EXPECT_EQ(g.HitTest(pts, 86 + 6, 169), -1);
  EXPECT_EQ(g.HitTest(pts, 130, 130), -1);
  EXPECT_EQ(g.HitTest(pts, -3, 100), -1);
  // Dragging point 0 sideways changes only its output level.
  DragCurvePoint(pts, 0, g, 90, 200);
  EXPECT_EQ(pts[0], (orb::CurvePoint{0, 55}));
  DragCurvePoint(pts, 2, g, 120, 40);
  EXPECT_EQ(pts[2], (orb::CurvePoint{120, 215}));
  // The factory curve is a straight diagonal.
  std::array<orb::CurvePoint, 4> straight = {{{0, 0}, {86, 86}, {172, 172}, {255, 255}}};
  for (const orb::Point& p : g.Polyline(straight)) EXPECT_NEAR(p.x + p.y, 255, 1);
}

TEST(CurveGraph, ChannelNames) {
  EXPECT_EQ(SplitChannelNames("Master|Red|Green|Blue"), (std::vector<std::string>{"Master", "Red", "Green", "Blue"}));
}

}  // namespace
