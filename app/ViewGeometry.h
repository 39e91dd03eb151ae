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

// ----- magnifier --------------------------------------------------------------------------
// The lens is a circle of diameter D (client pixels) showing image pixels enlarged Z times
// (1, 2 or 4), so it is always D pixels across.

inline constexpr int32_t kLensDefaultDiameter = 300;
inline constexpr int32_t kLensDefaultZoom = 1;
// A lens smaller than this has no room for its rim; one larger covers any screen.
inline constexpr int32_t kLensMinDiameter = 32;
inline constexpr int32_t kLensMaxDiameter = 2048;

struct LensSettings {
  int32_t diameter = kLensDefaultDiameter;
  int32_t zoom = kLensDefaultZoom;
};
// The stored diameter and zoom as the lens uses them: a value a damaged settings file left
// (a diameter out of range, a zoom other than 1, 2 or 4) falls back to its default.
LensSettings SanitizedLens(int32_t diameter, int32_t zoom);
// The source rectangle (image pixels) of a lens of diameter D at zoom Z centred on the
// image point `centre`: D / Z pixels across, starting D / (2Z) before the centre.
PixelRect LensSource(Point centre, int32_t diameter, int32_t zoom);
// The zoom after a right click: 1 -> 2 -> 4 -> 1 (anything else becomes 1).
int32_t NextLensZoom(int32_t zoom);
// The zoom cursor (257, 258, 259) of a zoom.
uint16_t LensZoomCursor(int32_t zoom);
// The diameter after a rim drag to `distance` client pixels from the centre, a multiple
// of 4, kept within the limits.
int32_t ResizedLensDiameter(double distance);

// Whether a point lies on the lens's rim (within 10 pixels of the circle point in its
// direction) and the sizing cursor to show there.
struct RimHit {
  bool onRim = false;
  uint16_t cursor = 0;
};
// `box`: the lens's square in the same coordinates as `p`.
RimHit LensRimTest(const Rect& box, Point p);
// Whether `p` lies inside the lens's circle (rim included).
bool InsideLens(const Rect& box, Point p);
// The lens's square around a centre.
Rect LensBox(Point centre, int32_t diameter);

// ----- navigator --------------------------------------------------------------------------
// The navigator shows the whole image reduced into its client area (the thumbnail
// rectangle T, centred along the axis with room) and a frame around the part the view
// shows.

// T for a display bitmap of `bitmapWidth` x `bitmapHeight` in a client area.
Rect NavigatorThumbRect(int32_t bitmapWidth, int32_t bitmapHeight, int32_t clientWidth, int32_t clientHeight);
// The frame of `region` (image of `imageWidth` x `imageHeight`) in T. Rounding shows at
// the left and top edges.
Rect NavigatorFrame(const PixelRect& region, int32_t imageWidth, int32_t imageHeight, const Rect& thumb);
// The region a frame in T stands for, kept inside the image.
PixelRect NavigatorRegion(const Rect& frame, const Rect& thumb, int32_t imageWidth, int32_t imageHeight);
// A frame moved by (dx, dy) and kept inside T (the pointer is confined so the frame cannot
// leave it).
Rect MoveNavigatorFrame(const Rect& frame, int32_t dx, int32_t dy, const Rect& thumb);
// A navigator rubber band counts only when it spans more than 2 pixels both ways.
inline bool NavigatorBandCounts(Point anchor, Point last) {
  return (anchor.x - last.x > 2 || last.x - anchor.x > 2) && (anchor.y - last.y > 2 || last.y - anchor.y > 2);
}

}  // namespace orb
