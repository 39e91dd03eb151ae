// How the image view and the tool pages that work on the image with the mouse (crop,
// deskew, two-page split, join, colour classification, despeckle) talk to each other.
//
// A page implements IToolViewHooks and registers itself under its role while it exists.
// The view asks the registry which pages are showing for its image and, in its own fixed
// order (app/ViewInteraction.h), calls:
//   - HitTest on a mouse move without a drag: a cursor id, 0 for "nothing here";
//   - OnButtonDown on a left press: the drag mode the page takes (3, 4, 5, 6 or 8), 0 when
//     nothing of the page is under the point; the view then keeps that mode until release;
//   - OnDrag on each move while the page's drag runs, with the mode it returned;
//   - OnButtonUp when the button is released after the page's drag;
//   - Paint after the picture is drawn, to lay the page's overlay over it.
// Points are the view's client coordinates; ViewContext converts them to image pixels.
// Overlays are not drawn outside painting: a page changes its own state in the drag hooks,
// the view repaints, and Paint draws the overlay from that state by inverting the pixels
// under it (ViewCanvas), so an overlay stays visible on any picture.
//
// Everything here runs on the GUI thread; nothing here needs a display.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/ImageState.h"
#include "engine/SharedRoutines.h"

namespace orb {

// Values of the view's drag state (the process-wide ViewDragMode).
namespace drag {
enum : uint16_t {
  None = 0,
  RubberBand = 2,    // the view's rubber band, or drag-to-scroll
  Resize = 3,        // a page: resize by a handle (crop, classification area)
  Move = 4,          // a page: move a rectangle, a line end, the split line, an area
  JoinItem = 5,      // the join page: move an item
  JoinEdge = 6,      // the join page: move an edge of an item
  Magnifier = 7,     // the magnifier moves and its content is rendered
  JoinPoint = 8,     // the join page: move an alignment point or the seam line
  MagnifierRim = 9,  // the magnifier is resized by its rim
};
}  // namespace drag

// Cursor ids a hit test returns. 300 to 309 are the program's own cursors; the others
// are the standard system cursors by their usual numbers.
namespace cursor {
enum : uint16_t {
  None = 0,          // nothing hit: the view keeps its own cursor
  View = 300,        // the view's own cursor
  JoinItem = 301,    // over a join item
  JoinSelected = 302,  // over the selected join item
  DragScroll = 309,  // the view while drag-to-scroll is on
  MagnifierZoom1 = 257,
  MagnifierZoom2 = 258,
  MagnifierZoom4 = 259,
  Arrow = 32512,
  Cross = 32515,
  SizeNWSE = 32642,
  SizeNESW = 32643,
  SizeWE = 32644,
  SizeNS = 32645,
  SizeAll = 32646,
};
}  // namespace cursor

// The image the view shows and where: the working record's region (image pixels shown),
// clientRect (the client rectangle the picture is drawn in) and fitScale (image pixels per
// client pixel x 10000), as the view's last paint left them.
struct ViewContext {
  ImageState* image = nullptr;

  // image = region origin + trunc((client - drawing origin) x zoom / 10000).
  Point ToImage(Point client) const;
  // The client point of an image point (the inverse, truncated); the drawing origin
  // when the view has not been drawn yet.
  Point ToClient(Point imagePoint) const;
  // Image pixels per client pixel x 10000 (0 before the first paint).
  int32_t Zoom() const { return image ? image->fitScale : 0; }
  // The rectangle the picture is drawn in (client coordinates).
  Rect Drawing() const;
};

class ViewCanvas;

// Writes one line of text into the picture in the view's font. The view lends one to its
// canvas while it paints; a canvas without one (no display) leaves texts out.
class ViewTextWriter {
 public:
  virtual ~ViewTextWriter() = default;
  virtual int32_t TextWidth(const std::string& text) = 0;
  virtual int32_t LineHeight() = 0;
  // Inverts the pixels of the text's glyphs, the text's top left at `at`; nothing outside
  // `clip` changes.
  virtual void InvertText(ViewCanvas& canvas, Point at, const std::string& text, const Rect& clip) = 0;
};

// The view's picture as R, G, B bytes, while it is being painted. Pages draw their overlays
// into it; every drawing call is clipped to the picture.
class ViewCanvas {
 public:
  ViewCanvas(uint8_t* rgb, int32_t width, int32_t height, size_t stride)
      : m_rgb(rgb), m_width(width), m_height(height), m_stride(stride) {}
  int32_t Width() const { return m_width; }
  int32_t Height() const { return m_height; }
  uint8_t* Pixel(int32_t x, int32_t y) { return m_rgb + static_cast<size_t>(y) * m_stride + static_cast<size_t>(x) * 3; }

  // Inverts every pixel of `r` (right and bottom exclusive).
  void InvertRect(const Rect& r);
  // Inverts a frame `thickness` pixels wide along the inside of `r`; each pixel once.
  void InvertFrame(const Rect& r, int32_t thickness);
  // Inverts the pixels of the line from a to b, both ends included, each pixel once.
  void InvertLine(Point a, Point b);
  // Copies `width` x `height` R, G, B pixels to (x, y), clipped (a join canvas draws its
  // picture this way).
  void CopyPixels(int32_t x, int32_t y, const uint8_t* rgb, int32_t width, int32_t height, size_t stride);
  // Inverts one pixel (outside the picture: nothing).
  void InvertPixel(int32_t x, int32_t y);

  // The view's text writer for this paint; null without one.
  ViewTextWriter* TextWriter() const { return m_text; }
  void SetTextWriter(ViewTextWriter* writer) { m_text = writer; }

 private:
  uint8_t* m_rgb;
  int32_t m_width;
  int32_t m_height;
  size_t m_stride;
  ViewTextWriter* m_text = nullptr;
};

// What the view needs of the colour-classification control for the colour pick and the
// colour collection. The classification page provides it while it holds a control.
class IColourPicking {
 public:
  virtual ~IColourPicking() = default;
  // Shows the control's colour-pick cursor over the view.
  virtual void SetCursorToSelectCurrentColor() = 0;
  // Makes class `classIndex` the control's current colour.
  virtual void SetCurrentColor(uint8_t classIndex) = 0;
  // Shows the control's area-merge cursor over the view.
  virtual void SetCursorToAreaMerge() = 0;
  // Merges every class whose flag is non-zero into the current colour.
  virtual void MergeAreaToCurrentColor(const std::array<uint32_t, 256>& flags) = 0;
  // The page's current area in image pixels (right and bottom exclusive).
  virtual Rect CurrentArea() const = 0;
};

// The hooks of a tool page that works on the view.
class IToolViewHooks {
 public:
  virtual ~IToolViewHooks() = default;

  // Whether the page takes part for the view's image now: its window is shown (the split
  // page: its line is in use for this image; the join page: the image is its canvas).
  virtual bool IsShowing(const ViewContext& view) const = 0;
  // Mouse move without a drag: the cursor id for what lies under `p`, cursor::None for
  // nothing.
  virtual uint16_t HitTest(const ViewContext& view, Point p) = 0;
  // Left button down at `p`: the drag mode the page takes (drag::Resize, drag::Move,
  // drag::JoinItem, drag::JoinEdge, drag::JoinPoint) or drag::None.
  virtual uint16_t OnButtonDown(const ViewContext& view, Point p) = 0;
  // A move while the page's drag of `mode` runs. The view repaints afterwards.
  virtual void OnDrag(const ViewContext& view, uint16_t mode, Point p) = 0;
  // The button went up after the page's drag of `mode` (the join page renders its items
  // again after an item or edge drag).
  virtual void OnButtonUp(const ViewContext& view, uint16_t mode, Point p) {
    (void)view, (void)mode, (void)p;
  }
  // After the view drew its picture: the page's overlay.
  virtual void Paint(const ViewContext& view, ViewCanvas& canvas) { (void)view, (void)canvas; }
  // True when the page draws the whole picture itself in Paint (the join canvas); the
  // view then draws only its background.
  virtual bool PaintsPicture(const ViewContext& view) const { return (void)view, false; }
  // The view rebuilt its display (zoom, scroll, a new image).
  virtual void OnViewUpdated(const ViewContext& view) { (void)view; }
  // A command of the view's context menus; true when the page handled it.
  virtual bool OnViewCommand(const ViewContext& view, int id) { return (void)view, (void)id, false; }
  // The page's settings record was changed by the view: show it in the controls.
  virtual void UpdateControls() {}
  // The colour-classification control, when this page holds one.
  virtual IColourPicking* ColourPicking() { return nullptr; }
};

// The pages by what they do on the view.
enum class ViewToolRole : uint8_t { Join, Crop, Deskew, Split, ColourClass, Despeckle, Count };

// Registers `page` for `role` (replacing an earlier one); null clears the role.
void RegisterViewTool(ViewToolRole role, IToolViewHooks* page);
// Clears `role` when `page` is still the one registered (a page's destructor calls it).
void UnregisterViewTool(ViewToolRole role, const IToolViewHooks* page);
// The page registered for `role`, or null.
IToolViewHooks* RegisteredViewTool(ViewToolRole role);
// The page of `role` when it is registered and showing for `view`, else null.
IToolViewHooks* ShowingViewTool(ViewToolRole role, const ViewContext& view);

// Registers a page for the span of its own life.
class ScopedViewTool {
 public:
  ScopedViewTool(ViewToolRole role, IToolViewHooks* page) : m_role(role), m_page(page) {
    RegisterViewTool(role, page);
  }
  ~ScopedViewTool() { UnregisterViewTool(m_role, m_page); }
  ScopedViewTool(const ScopedViewTool&) = delete;
  ScopedViewTool& operator=(const ScopedViewTool&) = delete;

 private:
  ViewToolRole m_role;
  IToolViewHooks* m_page;
};

}  // namespace orb
