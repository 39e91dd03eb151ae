// The geometry of the image view without a window: which part of the image the view shows
// (the record's region), how zooming, scrolling and the update hints move it, where the
// scroll bars stand and where the display bitmap is drawn in the client area.
//
// Regions here are the view's: left, top, right, bottom in image pixels with the extent
// right - left (the whole image is 0, 0, width, height).
#pragma once

#include <cstdint>

#include "engine/ImageState.h"
#include "engine/SharedRoutines.h"

namespace orb {

// Update hints of the view.
enum ViewHint : int {
  kHintNone = 0,
  kHintZoomOut = 1,
  kHintActualSize = 2,
  kHintZoomIn = 3,
  kHintRepaint = 4,   // no refresh of the thumbnail dialog
  kHintRedraw = 5,
  kHintWholeImage = 6,
};

// Scales the region about its centre by `percent` (above 0 zoom in by percent / 400 a
// side, below 0 zoom out by percent / 100), kept inside the image. A step too small to
// move each side by more than 2 pixels leaves the region as it is.
PixelRect ZoomRegion(const PixelRect& region, int32_t percent, int32_t imageWidth, int32_t imageHeight);

// The region of hints 1 to 6 before it is fitted to the client's aspect.
PixelRect RegionForHint(int hint, const PixelRect& region, int32_t clientWidth, int32_t clientHeight,
                        int32_t imageWidth, int32_t imageHeight, int32_t zoomInStep, int32_t zoomOutStep);

// The region fitted to the aspect of the client area and kept inside the image.
PixelRect FitRegionToClient(const PixelRect& region, int32_t clientWidth, int32_t clientHeight,
                            int32_t imageWidth, int32_t imageHeight);

// Zoom in at a clicked client point: the region keeps its size and is centred at the
// image point under `point` (drawing rectangle and zoom factor x 10000 of the last draw).
PixelRect CentreRegionAt(const PixelRect& region, Point point, const PixelRect& drawing, int32_t zoom);

enum class ScrollCode { LineUp, LineDown, PageUp, PageDown, ThumbPosition, ThumbTrack, Top, Bottom, EndScroll };

// Moves one axis of the region ([start, end) on an image extent `size`).
void ScrollAxis(int32_t& start, int32_t& end, int32_t size, ScrollCode code, int32_t position);
// The scroll bar position of one axis: the size when the region reaches the far edge, 0
// when it starts at 0, else its centre.
int32_t ScrollBarPosition(int32_t start, int32_t end, int32_t size);

struct ScrollArrows {
  bool up = true, down = true, left = true, right = true;  // enabled
};
ScrollArrows ScrollArrowsFor(const PixelRect& region, int32_t imageWidth, int32_t imageHeight);

// Where the display bitmap goes in the client area: its scale against the client (x
// 10000), the drawn size (rounded up to 4) and the target rectangle, centred along the
// axis that has room.
struct DrawPlacement {
  int32_t scale = 0;
  int32_t width = 0;
  int32_t height = 0;
  Rect target;
};
DrawPlacement PlaceDisplayBitmap(int32_t bitmapWidth, int32_t bitmapHeight, int32_t clientWidth,
                                 int32_t clientHeight);

// The magnifier's push buttons of an inspection batch: left edges for a client width.
inline int32_t SaveButtonLeft(int32_t clientWidth) { return clientWidth / 3 - 64; }
inline int32_t DiscardButtonLeft(int32_t clientWidth) { return 2 * (clientWidth / 3) - 64; }

}  // namespace orb
