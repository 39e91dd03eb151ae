#include "tools/ToolPageModels.h"

#include <algorithm>
#include <cmath>

#include "engine/ImageState.h"
#include "tools/ToolTable.h"

namespace orb::tools {

// ----- buttons ------------------------------------------------------------------------

ToolButtonPlan ViewToolButtons(bool attached, int kind, int state) {
  ToolButtonPlan p;
  if (attached && state == VS_JOIN_CANVAS) {
    p.change = true;
    p.shown = {kToolDeskew};
    p.hidden = {kToolCrop,   kToolDespeckle, kToolPalette, kToolBrightCont, kToolBWPoint, kToolSharpen,  kToolMirror,
                kToolInvert, kToolRotate90,  kToolGamma,   kToolDescreen,   kToolThreshold, kToolReduceRes};
    p.forcedTool = kToolDeskew;
    return p;
  }
  switch (kind) {
    case IK_RGB:
    case IK_GREY:
    case IK_GREY_FROM_GREEN:
      p.change = true;
      p.shown = {kToolDeskew, kToolCrop,     kToolPalette, kToolBrightCont, kToolBWPoint,  kToolSharpen,
                 kToolMirror, kToolInvert,   kToolRotate90, kToolGamma,     kToolDescreen, kToolReduceRes};
      p.hidden = {kToolDespeckle, kToolThreshold};
      break;
    case IK_PALETTE256:
    case IK_PALETTE16:
      p.change = true;
      p.shown = {kToolDeskew, kToolCrop, kToolPalette, kToolBrightCont, kToolBWPoint, kToolMirror, kToolRotate90,
                 kToolGamma,  kToolReduceRes};
      p.hidden = {kToolDespeckle, kToolSharpen, kToolInvert, kToolDescreen, kToolThreshold};
      break;
    case IK_BW:
    case IK_BW_FROM_GREEN:
    case IK_BW_SAVED_AS_4:
      p.change = true;
      p.shown = {kToolDeskew, kToolCrop, kToolDespeckle, kToolPalette, kToolMirror, kToolInvert, kToolRotate90,
                 kToolReduceRes};
      p.hidden = {kToolBrightCont, kToolBWPoint, kToolSharpen, kToolGamma, kToolDescreen};
      if (attached && state == VS_OPENED) {
        p.hidden.push_back(kToolThreshold);
      } else {
        p.shown.push_back(kToolThreshold);
      }
      break;
    default:
      break;
  }
  return p;
}

int ActiveToolAfter(const ToolButtonPlan& plan, int active) {
  if (plan.forcedTool) return plan.forcedTool;
  if (std::find(plan.hidden.begin(), plan.hidden.end(), active) != plan.hidden.end()) return 0;
  return active;
}

// ----- sliders ------------------------------------------------------------------------

std::optional<int> BWPointOrderRule(bool white, int whitePosition, int blackPosition) {
  if (white && whitePosition < blackPosition) return blackPosition;
  if (!white && blackPosition > whitePosition) return whitePosition;
  return std::nullopt;
}

int DespeckleShownWidth(int32_t speckWidth) { return std::clamp(speckWidth, 0, 100); }

std::string ThresholdSliderLabel(const std::string& label, int value) {
  const size_t blank = label.find(' ');
  const std::string name = blank == std::string::npos ? label : label.substr(0, blank);
  return name + " (" + std::to_string(value) + ")";
}

// ----- threshold page -------------------------------------------------------------------

ControlVisibility ThresholdControls(int type, bool adaptivePart, bool page) {
  ControlVisibility v;
  // One id at a time: GCC 12 at -O3 reports a range insert of a short list as an overflow.
  auto show = [&](std::initializer_list<int> ids) {
    for (int id : ids) v.shown.push_back(id);
  };
  auto hide = [&](std::initializer_list<int> ids) {
    for (int id : ids) v.hidden.push_back(id);
  };
  switch (type) {
    case 1:
      if (page) show({IDC_THR_SOFTWARE});
      show({IDC_THR_SLIDER1, IDC_THR_LABEL1, IDC_THR_SLIDER2, IDC_THR_LABEL2, 1378, 1379, 1380, 1381});
      hide({IDC_THR_OPTION, IDC_THR_ADAPTIVE_PART, IDC_THR_SLIDER3, IDC_THR_LABEL3, 1382, 1383});
      break;
    case 2:
      show({IDC_THR_OPTION, IDC_THR_ADAPTIVE_PART, IDC_THR_SLIDER2, IDC_THR_LABEL2, 1380, 1381});
      if (page) hide({IDC_THR_SOFTWARE});
      if (adaptivePart) {
        show({IDC_THR_SLIDER1, IDC_THR_LABEL1, IDC_THR_SLIDER3, IDC_THR_LABEL3, 1378, 1379, 1382, 1383});
      } else {
        hide({IDC_THR_SLIDER1, IDC_THR_LABEL1, IDC_THR_SLIDER3, IDC_THR_LABEL3, 1378, 1379, 1382, 1383});
      }
      break;
    default:
      if (page) show({IDC_THR_SOFTWARE});
      show({IDC_THR_SLIDER1, IDC_THR_LABEL1, 1378, 1379});
      hide({IDC_THR_OPTION, IDC_THR_ADAPTIVE_PART, IDC_THR_SLIDER2, IDC_THR_LABEL2, IDC_THR_SLIDER3, IDC_THR_LABEL3,
            1380, 1381, 1382, 1383});
      break;
  }
  return v;
}

int32_t* ThresholdField(BWThresholdRecord& r, int type, int sliderId) {
  switch (type) {
    case 0: return sliderId == IDC_THR_SLIDER1 ? &r.FixedThreshhold : nullptr;
    case 1:
      if (sliderId == IDC_THR_SLIDER1) return &r.AdaptiveDynamic;
      if (sliderId == IDC_THR_SLIDER2) return &r.AdaptiveWindowSize;
      return nullptr;
    case 2:
      if (sliderId == IDC_THR_SLIDER1) return &r.HybridDynamic;
      if (sliderId == IDC_THR_SLIDER2) return &r.DiffusionLevel;
      if (sliderId == IDC_THR_SLIDER3) return &r.HybridDecisionWindow;
      return nullptr;
    default: return nullptr;
  }
}

SliderRange ThresholdSliderRange(int sliderId, bool page) {
  if (sliderId == IDC_THR_SLIDER3) return page ? SliderRange{2, 32} : SliderRange{2, 50};
  return page ? SliderRange{1, 64} : SliderRange{1, 100};
}

// ----- tone-curve graph ---------------------------------------------------------------

orb::Point CurveGraph::ToGraph(const CurvePoint& p) const {
  return orb::Point{static_cast<int32_t>(std::trunc(p.x * sx())), static_cast<int32_t>(std::trunc((255 - p.y) * sy()))};
}

orb::Point CurveGraph::ClampedBox(const CurvePoint& p) const {
  orb::Point q = ToGraph(p);
  q.x = std::clamp(q.x, 3, std::max(3, width - 3));
  q.y = std::clamp(q.y, 3, std::max(3, height - 3));
  return q;
}

int CurveGraph::InputAt(int x) const { return sx() > 0 ? static_cast<int>(std::trunc(x / sx())) : 0; }
int CurveGraph::OutputAt(int y) const { return sy() > 0 ? 255 - static_cast<int>(std::trunc(y / sy())) : 0; }

bool CurveGraph::Near(int x, int y) const { return x >= -2 && x <= width + 2 && y >= -2 && y <= height + 2; }

int CurveGraph::HitTest(const std::array<CurvePoint, 4>& points, int x, int y) const {
  if (!Near(x, y)) return -1;
  for (int i = 0; i < 4; ++i) {
    const orb::Point c = ClampedBox(points[static_cast<size_t>(i)]);
    if (std::abs(c.x - x) <= 5 && std::abs(c.y - y) <= 5) return i;
  }
  return -1;
}

std::vector<orb::Point> CurveGraph::Polyline(const std::array<CurvePoint, 4>& points) const {
  orb::Point ctrl[4];
  for (size_t i = 0; i < 4; ++i) ctrl[i] = orb::Point{points[i].x, points[i].y};
  std::vector<orb::Point> out;
  out.reserve(256);
  for (int i = 0; i < 256; ++i) {
    const orb::Point p = EvalBezierPoint(ctrl, i / 256.0);
    out.push_back(ToGraph(CurvePoint{p.x, p.y}));
  }
  return out;
}

void DragCurvePoint(std::array<CurvePoint, 4>& points, int picked, const CurveGraph& g, int x, int y) {
  if (picked < 0 || picked > 3 || g.sy() <= 0) return;
  CurvePoint& p = points[static_cast<size_t>(picked)];
  // The graph's edges keep the values in 0..255 (the cursor is held inside the graph).
  p.y = std::clamp(static_cast<int32_t>(std::trunc(255 - y / g.sy())), 0, 255);
  if (picked == 1 || picked == 2) p.x = std::clamp(g.InputAt(x), 0, 255);
}

std::vector<std::string> SplitChannelNames(const std::string& text) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t bar = text.find('|', start);
    names.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return names;
}

}  // namespace orb::tools
