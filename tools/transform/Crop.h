// The crop tool: a rectangle the user drags out and adjusts over the image view by its
// inside and eight handles, and the cut of the working version down to it.
#pragma once

#include <cstdint>

#include "tools/ToolViewHooks.h"
#include "tools/transform/TransformRun.h"

namespace orb::tools {

struct CropRect {
  int32_t x = 0;
  int32_t y = 0;
  int32_t w = 0;
  int32_t h = 0;
  bool Empty() const { return x == 0 && y == 0 && w == 0 && h == 0; }
  bool operator==(const CropRect&) const = default;
};

// The middle half of the displayed region.
CropRect DefaultCropRect(const PixelRect& region);

// What a cut of `r` from a width x height image really takes: the rectangle held inside
// the image, its width rounded up to a multiple of 8 where the image has the columns
// (never past the end of a line).
CropRect CropTaken(const CropRect& r, int32_t width, int32_t height);

// Cuts `working` down to `r` (code 9). A rectangle with nothing inside the image gives
// NoImage and changes nothing.
ApplyOutcome CropImage(ImageState* working, const CropRect& r, const ApplyProgressFactory& progress = {});

// The tool's apply on the active image.
int CropActiveImage(const CropRect& r);

// The rectangle on the view: hit tests, the handles' drags and its overlay.
class CropHooks : public IToolViewHooks {
 public:
  // Parts under the mouse: -1 none, 0 inside, 1 to 8 the handles (top-left, left,
  // bottom-left, bottom, bottom-right, right, top-right, top).
  enum : int { kNone = -1, kInside = 0 };

  void SetShowing(bool on) { showing_ = on; }
  const CropRect& Rectangle() const { return rect_; }
  void SetRectangle(const CropRect& r) { rect_ = r; }
  // Clears the rectangle: the next paint puts the default one.
  void ResetRectangle() { rect_ = CropRect{}; }
  // The rectangle, the default one when none is set yet.
  CropRect Current(const ImageState& image);
  int Grabbed() const { return grabbed_; }

  bool IsShowing(const ViewContext& view) const override;
  uint16_t HitTest(const ViewContext& view, Point p) override;
  uint16_t OnButtonDown(const ViewContext& view, Point p) override;
  void OnDrag(const ViewContext& view, uint16_t mode, Point p) override;
  void Paint(const ViewContext& view, ViewCanvas& canvas) override;

 private:
  struct Screen {
    int32_t sx, sy, sw, sh, sx2, sy2;
  };
  Screen OnScreen(const ViewContext& view) const;
  bool Inside(Point img) const;
  // The handle zones matching a client point, in handle order.
  bool Zone(const Screen& s, Point c, int handle) const;
  void Resize(const ImageState& image, int32_t dx, int32_t dy);
  void Move(const ImageState& image, int32_t dx, int32_t dy);

  CropRect rect_;
  int grabbed_ = kNone;
  Point last_;
  bool showing_ = false;
};

}  // namespace orb::tools
