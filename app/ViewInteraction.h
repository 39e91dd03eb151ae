// What the image view does with the mouse, without a window: which tool page a press, a
// move or a drag goes to (tools/ToolViewHooks.h), the rubber band and what it zooms to,
// drag-to-scroll, the cursor, the status-bar readouts, the context menus and the colour
// pick and colour collection for the colour-classification control.
//
// The view's wx handlers (app/gui/OrbalonDoc.cpp) translate mouse events into these calls
// and carry out what comes back.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "engine/ImageState.h"
#include "engine/SharedRoutines.h"
#include "tools/ToolViewHooks.h"

namespace orb {

// Mouse input is ignored, not queued, while a scan runs or the program is busy or
// rebuilding the view.
bool ViewMouseBlocked(uint32_t status);

// The tool pages that take part for the view now, looked up once per event.
struct ShowingTools {
  IToolViewHooks* join = nullptr;
  IToolViewHooks* crop = nullptr;
  IToolViewHooks* deskew = nullptr;
  IToolViewHooks* split = nullptr;
  IToolViewHooks* colourClass = nullptr;
  IToolViewHooks* despeckle = nullptr;
  static ShowingTools For(const ViewContext& view);
};

// A press that a page claimed: the drag mode and the page that owns the drag.
struct ToolPress {
  uint16_t mode = drag::None;
  IToolViewHooks* owner = nullptr;
};
// Left button down: the join page first, then exactly one of crop, deskew, colour
// classification (only while the split line is not in use) or the split line.
ToolPress PressTools(const ShowingTools& tools, const ViewContext& view, Point p);
// Mouse move: the cursor id (300, or 309 with drag-to-scroll, unless a page's hit test
// names one): the join page, then exactly one of deskew, crop, colour classification
// (taken only when it names neither 300 nor 309) or the split line.
uint16_t MoveCursor(const ShowingTools& tools, const ViewContext& view, Point p, bool dragScroll);

// The rectangle spanned by two points, left/top the smaller.
Rect NormalisedRect(Point a, Point b);
// `p` moved into `r` (right and bottom exclusive); an empty `r` leaves `p`.
Point ClampIntoRect(Point p, const Rect& r);
// A rubber band's rectangle in image pixels: both corners converted.
PixelRect BandToImageRect(const Rect& band, const ViewContext& view);

enum class BandResult { ZoomToRect, Click, Nothing };
// Both sides non-zero: zoom to it; both zero: a click; one zero: nothing.
BandResult ClassifyBand(const PixelRect& imageRect);

// Drag-to-scroll: the shift in image pixels (trunc((start - p) x zoom / 10000)) and the
// region moved by it, keeping its size and staying inside the image.
Point ScrollShift(Point start, Point p, int32_t zoom);
PixelRect ShiftRegion(const PixelRect& region, Point shift, int32_t imageWidth, int32_t imageHeight);

// The cursor to show after a move without a drag.
struct CursorChoice {
  enum class Kind { ControlPick, ControlMerge, Program, System } kind = Kind::Program;
  uint16_t id = cursor::View;
};
CursorChoice ChooseCursor(uint32_t status, uint16_t cursorId);

// The status bar's readouts: the label (trailing blanks removed) with the colour, or with
// the image point.
std::string PixelReadout(std::string_view label, ColourBytes colour);
std::string PositionReadout(std::string_view label, Point imagePoint);

// What a right button release does.
struct RightRelease {
  enum class Kind { Menu, DespeckleBand, ZoomOut } kind = Kind::ZoomOut;
  int menu = 0;  // the menu resource for Kind::Menu
};
struct RightReleaseInput {
  bool joinCanvas = false;
  uint16_t cursorId = cursor::View;
  uint32_t joinMode = 1;  // the join settings' mode value
  bool colourClassShown = false;
  bool areaMergeRequested = false;
  uint16_t dragMode = drag::None;
};
RightRelease RightButtonRelease(const RightReleaseInput& in);
// The speck size a right-button band over the image sets: the larger side, or nothing
// when a side is zero.
std::optional<int32_t> SpeckSizeOfBand(const PixelRect& imageRect);

// The classification lookup table's cell of a colour: (R & 0xF8) x 256 | (G & 0xFC) x 8 |
// B / 8, the colour's 5-6-5 cell.
size_t ColourCell(ColourBytes c);
// The colour of pixel `x` of a stored line of `image`: three bytes for colour images, the
// palette entry (the low byte of each channel) for indexed and grey ones, black or white
// for black-and-white lines (one byte a pixel, 0 black).
ColourBytes LinePixelColour(const ImageState& image, const uint8_t* line, int32_t x);
// The class of the image's pixel at `imagePoint`, read through the line stream; nothing
// when the image has no lookup table, the point lies outside it or the line cannot be read.
std::optional<uint8_t> PickColourClass(ImageState* image, Point imagePoint);

// Colour collection: the flags of every class met in `area` (image pixels, clipped to
// the image). `pump` runs between lines and returns false to stop (Esc): then, as when
// the image has no lookup table or cannot be read, nothing is returned.
std::optional<std::array<uint32_t, 256>> CollectColourClasses(ImageState* image, const Rect& area,
                                                             const std::function<bool()>& pump);

// Where a press, move or release went: the drag state the view keeps between events.
struct ViewDrag {
  uint16_t mode = drag::None;
  IToolViewHooks* owner = nullptr;  // the page whose drag runs (modes 3 to 8 but 7)
  Point start, current;             // the rubber band's corners, client points
  Point press;                      // where the left button went down (drag-to-scroll)
  bool rightBand = false;           // the band was started by the right button
};

}  // namespace orb
