// The join canvas and its items, without a display: where the items lie, what the mouse
// hits and drags, the alignment points and the seam, the join modes' rules and the extent
// of the joined image. The page (tools/gui/join) keeps one model and draws it; the output
// writer (JoinOutput.h) writes it.
//
// Coordinates are canvas pixels unless a name says "screen": the view converts with the
// canvas record's zoom (canvas pixels per screen pixel x 10000).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/ImageState.h"
#include "engine/SharedRoutines.h"
#include "engine/ToolSettings.h"

namespace orb::join {

enum Mode : uint32_t { kModeFree = 0, kModeAlign = 1, kModeSeam = 2 };

// Message ids of the language module.
inline constexpr int kMsgNotJoinable = 33150;     // not an uncompressed RGB TIFF
inline constexpr int kMsgSeamOneItem = 34006;     // seam removal takes exactly one item
inline constexpr int kMsgJoinSaveAs = 34005;      // before the save dialog
inline constexpr int kMsgJoinNoRoom = 33018;      // not enough free disk space
inline constexpr int kStrJoinProgress = 33099;    // progress caption
inline constexpr int kMsgJoinOutputIsItem = 35470;  // "%s": an item's own file as output
inline constexpr int kMsgJoinWriteFailed = 35471;   // "%s": the output could not be written
inline constexpr int kMsgJoinReadFailed = 35472;    // "%s": an item could not be read

// Edges of an item, as grabbed.
enum Edge : int { kEdgeNone = 0, kEdgeTop = 1, kEdgeLeft = 2, kEdgeBottom = 3, kEdgeRight = 4 };

// Alignment points: A0 and B0 on item 0, A1 and B1 on item 1; in seam mode A1 is the seam.
enum PointIndex : int { kA0 = 0, kB0 = 1, kA1 = 2, kB1 = 3 };

struct Trim {
  int32_t top = 0;
  int32_t left = 0;
  int32_t bottom = 0;
  int32_t right = 0;
};

struct JoinItem {
  ImageState* image = nullptr;  // first record (the added file); rotations hang on its chain
  Rect rect;                    // on the canvas, right and bottom exclusive
  Rect visible;                 // trimmed rectangle within the displayed region
  Trim trim;

  ImageState* Newest() const { return GetLastImageState(image); }
  Rect Trimmed() const {
    return Rect{rect.left + trim.left, rect.top + trim.top, rect.right - trim.right, rect.bottom - trim.bottom};
  }
};

// The canvas's geometry (the canvas document's record mirrors it).
struct Canvas {
  bool exists = false;
  int32_t width = 0;
  int32_t height = 0;
  int32_t xDpi = 100;
  int32_t yDpi = 100;
  Rect region;  // displayed part, right and bottom exclusive
};

// What the page's add and join buttons may do now.
struct ButtonStates {
  bool add = false;
  bool join = false;
};

// The turn that brings item 1's points parallel to item 0's: `angle` degrees, direction
// flag 1 counter-clockwise (y up), 0 clockwise, as the rotation takes it.
struct AlignAngle {
  double angle = 0;
  uint8_t direction = 0;
};

// Sizes the hit tests need: the zoom and the point markers' size on screen.
struct HitContext {
  int32_t zoom = 10000;        // canvas pixels per screen pixel x 10000
  int32_t markerWidth = 16;    // screen pixels
  int32_t markerHeight = 16;
  int32_t ScreenToCanvas(int32_t n) const {
    return static_cast<int32_t>(static_cast<int64_t>(zoom) * n / 10000);
  }
};

// The join array and the page's state over it. It owns its items' record chains.
class JoinModel {
 public:
  JoinModel() = default;
  ~JoinModel();
  JoinModel(const JoinModel&) = delete;
  JoinModel& operator=(const JoinModel&) = delete;

  // The canvas at the settings' size: a new one at 100 dpi, an existing one keeps its dpi.
  void MakeCanvas(const orb::JoinImagesRecord& settings);
  // Adds the file as the last item: false (nothing changed) when it cannot be an item.
  bool AddItem(const std::string& path);
  // Frees every item (their later records and files with them) and empties the array.
  void Clear();

  // The mode, or false when seam removal is asked with two or more items (the mode stays).
  bool SetMode(uint32_t mode);
  uint32_t Mode() const { return mode_; }
  ButtonStates Buttons() const;

  // Hit test of a mouse move: a cursor id (orb::cursor), 0 for nothing; sets the hovered item.
  uint16_t HitTest(Point c, const HitContext& hc);
  // Left button down: the drag mode (orb::drag) taken, 0 for none.
  uint16_t ButtonDown(Point c, const HitContext& hc);
  // A move while a drag of `mode` runs.
  void Drag(uint16_t mode, Point c);

  // Context commands on the hovered (or selected) item.
  void RemoveHovered();
  void SelectHovered();
  void ClearSelection() { selected = -1; }
  void SetAlignPointOnHovered(bool first);
  void Nudge(int32_t dx, int32_t dy);

  // Sets `visible` of every item: its trimmed rectangle within the displayed region.
  void UpdateVisible();
  // The joined image's rectangle: the canvas, or with `cropToItems` the union of the
  // items' trimmed rectangles (empty when there is none).
  Rect OutputExtent(bool cropToItems) const;
  // The turn of item 1 that aligns its points with item 0's.
  AlignAngle ComputeAlignAngle() const;
  // Two-point alignment: turns item 1 (a new record on its chain) and moves it so that A1
  // lies on A0. False when the turn could not be written (the items are unchanged).
  bool RotateItems();

  Canvas canvas;
  std::vector<JoinItem> items;
  std::array<Point, 4> points{};
  int selected = -1;
  int hovered = -1;
  bool edgesShown[4] = {true, true, true, true};  // top, left, bottom, right

 private:
  void MoveSelected(int32_t dx, int32_t dy);
  void PlacePoints(const Rect& r, int which);
  void SeamToCentre();
  int ItemPointBase(int item) const { return item == 0 ? kA0 : kA1; }
  int HitPoint(Point c, const HitContext& hc) const;
  bool HitSeam(Point c, const HitContext& hc) const;
  int HitEdge(const JoinItem& item, Point c, const HitContext& hc) const;

  uint32_t mode_ = kModeAlign;
  int grabbedEdge_ = kEdgeNone;
  int grabbedPoint_ = -1;
  Point last_;
};

// Rectangle helpers (right and bottom exclusive).
Rect Intersect(const Rect& a, const Rect& b);
bool IsEmpty(const Rect& r);
Rect Inflate(const Rect& r, int32_t by);
bool Contains(const Rect& r, Point p);

// The direction of the step from a to b in degrees, 0 to 360, with y measured upward
// (canvasHeight - y); 0 when the points coincide.
double DirectionAngle(Point a, Point b, int32_t canvasHeight);

}  // namespace orb::join
