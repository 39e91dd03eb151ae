// What the tool pages decide, without their windows: which tool buttons an image offers,
// slider positions and values, the order rule of the white and black points, the threshold
// page's visible controls, and the tone-curve graph's mapping and hit test. The wx pages
// show what these say.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/SharedRoutines.h"
#include "engine/ToolSettings.h"

namespace orb::tools {

// ----- the tools page's buttons -------------------------------------------------------

struct ToolButtonPlan {
  bool change = false;           // kinds 7, 8, 9 and above 10 leave the buttons as they are
  std::vector<int> shown;
  std::vector<int> hidden;
  int forcedTool = 0;            // a join canvas opens the deskew tool
};
// `attached`: an image is shown (else `kind` is the scan settings' colour mode and `state`
// is not read).
ToolButtonPlan ViewToolButtons(bool attached, int kind, int state);
// The active tool after the plan: closed (0) when its button is hidden.
int ActiveToolAfter(const ToolButtonPlan& plan, int active);

// ----- sliders -------------------------------------------------------------------------

// Scroll codes of a slider (the platform's numbering): 4 when the thumb is let go, 5 while
// it is dragged, 8 at the end of tracking.
inline constexpr int kScrollThumbPosition = 4;
inline constexpr int kScrollThumbTrack = 5;
inline constexpr int kScrollEndScroll = 8;
// A code after which the value is taken (not while the thumb is dragged, not at the end).
inline bool TakesValue(int code) { return code >= 0 && code < kScrollEndScroll && code != kScrollThumbTrack; }

// Brightness and contrast: position 0..200 shows value -100..100.
inline int BrightContValue(int position) { return position - 100; }
inline int BrightContPosition(int value) { return value + 100; }
// Sharpen and blur: position 0..20 shows level -10..10.
inline int SharpenLevel(int position) { return position - 10; }
inline int SharpenPosition(int level) { return level + 10; }

// The white point never below the black point: the position a moved slider is put back
// to, or nothing when the move stands. `white`: the white slider moved.
std::optional<int> BWPointOrderRule(bool white, int whitePosition, int blackPosition);

// The despeckle size the page shows and stores: 0..100.
int DespeckleShownWidth(int32_t speckWidth);

// A threshold slider's label: its name (the text up to its first blank) and the value,
// "name (value)".
std::string ThresholdSliderLabel(const std::string& label, int value);

// ----- the threshold page's controls -------------------------------------------------

inline constexpr int IDC_THR_SOFTWARE = 1001;
inline constexpr int IDC_THR_FIXED = 1074;
inline constexpr int IDC_THR_ADAPTIVE = 1079;
inline constexpr int IDC_THR_COMBINED = 1090;
inline constexpr int IDC_THR_OPTION = 1429;
inline constexpr int IDC_THR_ADAPTIVE_PART = 1458;
inline constexpr int IDC_THR_SLIDER1 = 1441;
inline constexpr int IDC_THR_SLIDER2 = 1442;
inline constexpr int IDC_THR_SLIDER3 = 1443;
inline constexpr int IDC_THR_LABEL1 = 1438;
inline constexpr int IDC_THR_LABEL2 = 1439;
inline constexpr int IDC_THR_LABEL3 = 1440;

struct ControlVisibility {
  std::vector<int> shown;
  std::vector<int> hidden;
};
// The controls a thresholding type shows and hides; `adaptivePart` is byte 18, `page`
// the tool page (the dialog has no check 1001).
ControlVisibility ThresholdControls(int type, bool adaptivePart, bool page);
// The record field a threshold slider edits for a type (null: the slider is hidden).
int32_t* ThresholdField(BWThresholdRecord& r, int type, int sliderId);
// Slider ranges of the page and of the dialog.
struct SliderRange {
  int low = 0;
  int high = 0;
};
SliderRange ThresholdSliderRange(int sliderId, bool page);

// ----- the tone-curve graph ----------------------------------------------------------

struct CurveGraph {
  int width = 0;
  int height = 0;
  double sx() const { return width / 255.0; }
  double sy() const { return height / 255.0; }
  // A curve point (input across, output up) drawn in the graph.
  orb::Point ToGraph(const CurvePoint& p) const;
  // The point as its box is drawn: its centre kept 3 pixels inside the graph.
  orb::Point ClampedBox(const CurvePoint& p) const;
  // A graph pixel read as input and output level.
  int InputAt(int x) const;
  int OutputAt(int y) const;
  // The control point (0..3) under a graph pixel, -1 for none.
  int HitTest(const std::array<CurvePoint, 4>& points, int x, int y) const;
  // Within [-2, w + 2] x [-2, h + 2].
  bool Near(int x, int y) const;
  // 256 samples of the curve mapped to the graph, in order.
  std::vector<orb::Point> Polyline(const std::array<CurvePoint, 4>& points) const;
};
// Drags the picked point to a graph pixel: the end points (0 and 3) move only up and down.
void DragCurvePoint(std::array<CurvePoint, 4>& points, int picked, const CurveGraph& g, int x, int y);
// The channel names of string 33031 ("master|red|green|blue").
std::vector<std::string> SplitChannelNames(const std::string& text);

}  // namespace orb::tools
