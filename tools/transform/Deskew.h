// Straightening a skewed scan: the angle from a reference line the user lays along an edge
// (or measured on a reduced copy of the image), and the rotation by that angle into a new,
// larger version whose uncovered corners are white. The rotation reads the source once,
// in order, keeping only the source lines the current band of result rows reaches, so
// memory grows with the width and the angle, never with the height.
#pragma once

#include <cstdint>

#include "tools/ToolViewHooks.h"
#include "tools/transform/TransformRun.h"

namespace orb::tools {

struct DeskewAngle {
  double angle = 0.0;  // degrees, 0 to 45
  uint8_t flag = 0;    // 0: the content turns clockwise to straighten, 1: counter-clockwise
};

struct LinePoint {
  int32_t x = 0;
  int32_t y = 0;
};

// The angle of the line from A to B (image pixels, y downwards) to the nearest horizontal
// or vertical. A line exactly at 0 or 45 degrees, or with a leg of 0, keeps `previous`.
DeskewAngle AngleFromLine(LinePoint a, LinePoint b, DeskewAngle previous);

// The rotation's signed angle in degrees: positive turns the content counter-clockwise.
double SignedDeskewAngle(const DeskewAngle& a);

struct DeskewGeometry {
  int32_t width = 0;   // rounded up to a multiple of 8
  int32_t height = 0;
  double x0 = 0.0;     // the result's corner in the turned source's frame (y upwards)
  double y0 = 0.0;
  double c = 1.0;
  double s = 0.0;
};
DeskewGeometry DeskewSize(int32_t width, int32_t height, double signedDegrees);

// Where the result's pixel (x, y) comes from; false when outside the source (white).
bool DeskewSourcePixel(const DeskewGeometry& g, int32_t width, int32_t height, int32_t x, int32_t y,
                       int32_t* sx, int32_t* sy);

// Rotates `working` into a new version (code 6). An angle of 0 is not applied (NoImage).
ApplyOutcome DeskewImage(ImageState* working, const DeskewAngle& angle, const ApplyProgressFactory& progress = {});

// Measures the skew of the text lines or edges of an image within +-maxDegrees, on a copy
// reduced to about 2000 pixels a side. False when the image cannot be read or holds no ink.
bool MeasureSkew(ImageState* working, double maxDegrees, DeskewAngle* out);

// The tool's apply on the active image.
int DeskewActiveImage(const DeskewAngle& angle);

// The reference line on the view: two ends the user drags; each drag measures the angle.
class DeskewHooks : public IToolViewHooks {
 public:
  void SetShowing(bool on) { showing_ = on; }
  const DeskewAngle& Angle() const { return angle_; }
  void SetAngle(const DeskewAngle& a) { angle_ = a; }
  LinePoint A() const { return a_; }
  LinePoint B() const { return b_; }
  void SetLine(LinePoint a, LinePoint b) { a_ = a, b_ = b; }
  // A and B a quarter of the region in from its sides, at its middle height; angle 0.
  void ResetLine(const PixelRect& region);
  // Called after each drag moved an end (the page shows the angle).
  void SetOnChange(std::function<void()> f) { onChange_ = std::move(f); }

  bool IsShowing(const ViewContext& view) const override { return showing_ && view.image; }
  uint16_t HitTest(const ViewContext& view, Point p) override;
  uint16_t OnButtonDown(const ViewContext& view, Point p) override;
  void OnDrag(const ViewContext& view, uint16_t mode, Point p) override;
  void Paint(const ViewContext& view, ViewCanvas& canvas) override;

 private:
  int EndAt(const ViewContext& view, Point p) const;  // 0 none, 1 A, 2 B (B wins)

  LinePoint a_, b_;
  DeskewAngle angle_;
  int picked_ = 0;
  bool showing_ = false;
  std::function<void()> onChange_;
};

}  // namespace orb::tools
