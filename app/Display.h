// Drawing an image into the pixel buffers its view shows.
//
// Three drawing families by image kind: colour (kind 0, R, G, B a pixel), indexed (kinds 1,
// 2, 3, 5: a palette index or grey value a byte) and bilevel (kinds 4, 6, 10: a byte a
// pixel, 0 black, anything else white; reduced by grey level or by "any black", as the
// display option of the settings says). Each family draws rows as they arrive (a decode or
// a scan), shows the whole image again from its line stream, rebuilds the fitted display
// in one pass over the rows it needs (with the pending tools previewed), fills the
// magnifier and renders for the printer.
//
// Everything here renders into DisplayImage buffers; no toolkit is involved. A window
// that shows an image implements DisplaySurface and is reached through the record's
// viewWindow field. The buffers belong to the GUI thread's records; a scan thread drawing
// bands writes rows under the buffer's lock and only tells the surface which rows
// changed, so the surface repaints them on its own thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "engine/ImageState.h"
#include "engine/SharedRoutines.h"

struct LineReader;

// Drag state of the view and the magnifier; 7 while the magnifier is dragged.
extern std::atomic<uint16_t> ViewDragMode;

namespace orb {

inline constexpr uint16_t kDragMagnifier = 7;
// Background of the view around the picture (R 255, G 255, B 240).
inline constexpr uint8_t kViewBackground[3] = {255, 255, 240};

// A display bitmap of this program: 24 bits a pixel in R, G, B order, or 8 bits a pixel
// through a 256-entry colour table. Rows are stored in the order they are drawn; with
// bottomUp the first stored row is the bottom of the picture.
struct DisplayImage : DisplayBitmap {
  std::array<ColourBytes, 256> colours{};
  bool bottomUp = false;
  // Held while rows are written from another thread and while the picture is copied.
  mutable std::mutex lock;

  uint8_t* Row(int32_t y) { return pixels.data() + static_cast<size_t>(y) * stride; }
  const uint8_t* Row(int32_t y) const { return pixels.data() + static_cast<size_t>(y) * stride; }
  // Row `y` of the picture counted from its top, as R, G, B bytes (width x 3).
  void PictureRowRgb(int32_t y, uint8_t* out) const;
};
using DisplayImagePtr = std::shared_ptr<DisplayImage>;

// A new white bitmap (all bytes 255), 24 or 8 bits a pixel; null when memory is short or
// the size is not positive.
DisplayImagePtr MakeDisplayImage(int32_t width, int32_t height, uint32_t bitsPerPixel,
                                 bool bottomUp);
// A copy of a display bitmap (null for null or when memory is short).
DisplayImagePtr CopyDisplayImage(const DisplayBitmapPtr& source);
// The record's bitmap as a display image (null when it is none of ours).
DisplayImage* AsDisplayImage(const DisplayBitmapPtr& bitmap);

// Rounded up to a multiple of 4 (a multiple stays).
inline int32_t RoundUp4(int32_t v) { return (v + 3) & ~3; }

// Where and how large the fitted display of a region is drawn in a client area.
struct DisplayFit {
  int32_t factor = 0;  // image pixels per display pixel x 10000; 0: no fit
  int32_t width = 0;   // display bitmap size, rounded up to 4
  int32_t height = 0;
  bool horizontalLarger = false;  // the width decided the factor: centre vertically
};
// Region extents are right - left and bottom - top. An open-ended scan fits only the
// width (factor at least 10000) and takes the client height.
DisplayFit ComputeDisplayFit(int32_t regionWidth, int32_t regionHeight, int32_t clientWidth,
                             int32_t clientHeight, bool openEnded = false);

// The window that shows an image (the view), its thumbnail or magnifier.
class DisplaySurface {
 public:
  virtual ~DisplaySurface() = default;
  // The client rectangle (0, 0, width, height).
  virtual Rect ClientRect() const = 0;
  // The first rows are about to be shown: the window clears itself and shows the display
  // bitmap centred (the record's clientRect holds where).
  virtual void PrepareView() {}
  // Rows [first, first + count) of the display bitmap are ready to be shown.
  virtual void ShowDisplayRows(int32_t first, int32_t count) { (void)first; (void)count; }
  // Full-size following wrote row `row` of the client-size bitmap.
  virtual void ShowFullSizeRow(int32_t row) { (void)row; }
  // Repaint everything (erase: clear the background first).
  virtual void Invalidate(bool erase) { (void)erase; }
};
// The surface of the record's view, kept in its viewWindow field (null: none).
inline DisplaySurface* SurfaceOf(const ImageState* image) {
  return image ? static_cast<DisplaySurface*>(image->viewWindow) : nullptr;
}
// The thumbnail window of the thumbnail dialog, drawn while the program scans or is busy
// (none by default).
void SetThumbnailSurface(DisplaySurface* surface);
DisplaySurface* ThumbnailSurface();
// The thumbnail picture of the running display and the red marker row of full-size
// following (y < 0: none).
DisplayImagePtr ThumbnailImage();
// The client-size bitmap of full-size following, while a run uses it.
DisplayImagePtr FullSizeImage();

// Per-channel statistics of the last colour rebuild, blue, green, red in that order.
struct ChannelStatistics {
  int32_t minimum = 256;
  int32_t maximum = -1;
  int32_t mean = 0;
};
std::array<ChannelStatistics, 3> LastChannelStatistics();

// The bilevel display option: grey-level reduction when its low byte is not 0.
bool BilevelGreyDisplay();
// True when a running scan has no known length (automatic width, length marker).
bool IsOpenEndedScan();

// A view that gets its real size while a display run is drawing into it (a scan's new
// view is created small and laid out a moment later): fits the run's display picture to
// the surface's present client size, so the rows still to come are drawn where the view
// shows them. Rows drawn before are not kept (the end of the run shows the whole image
// again). True while a run is drawing on `surface` (whether or not its size changed): the
// caller must not rebuild the display then. Call it on the thread that draws.
bool RefitProgressiveDisplay(DisplaySurface* surface);

}  // namespace orb

// One display run over one record.
struct ProgressiveDisplay {
  explicit ProgressiveDisplay(ImageState* image) : image(image) {}
  ~ProgressiveDisplay() = default;
  ImageState* image;
  LineReader* reader = nullptr;  // used by the whole-image show and printing
};

// Steps (low four bits): 1 start, 2 `count` stored lines at `rows`, 4 end. Always 0.
int DrawIncomingBand(int step, ProgressiveDisplay* display, const uint8_t* rows, int count);
// Outcome of a run over the whole image (the show, printing); the routines' values are
// 0 and -1.
enum class ShowOutcome : int {
  Done = 0,
  Stopped = -1,  // Esc, memory short, or (printing) the region does not fit the page
};
// Outcome of a rebuild of the fitted display or of the magnifier content; the routines'
// values are 1, 0 and -1.
enum class RebuildOutcome : int {
  Rebuilt = 1,
  Nothing = 0,  // no fit, or no record to draw
  OutOfMemory = -1,
};

// Shows the whole image again from its line stream, then updates the document's title.
ShowOutcome FinishImageDisplay(ProgressiveDisplay* display);

// Rebuild of the fitted display.
RebuildOutcome RebuildDisplayRgb(ProgressiveDisplay* display);
RebuildOutcome RebuildDisplayIndexed(ProgressiveDisplay* display);
RebuildOutcome RebuildDisplayBilevelGrey(ProgressiveDisplay* display);
RebuildOutcome RebuildDisplayBilevel(ProgressiveDisplay* display);

// Whole-image show of each family.
ShowOutcome ShowImageRgb(ProgressiveDisplay* display);
ShowOutcome ShowImageIndexed(ProgressiveDisplay* display);
ShowOutcome ShowImageBilevel(ProgressiveDisplay* display);

// Magnifier content: the record's magnifierSource at the settings' magnifier zoom into a
// square of `side` pixels (stored in *out): Rebuilt, or OutOfMemory.
RebuildOutcome RenderMagnifierRgb(ProgressiveDisplay* display, int32_t side, orb::DisplayImagePtr* out);
RebuildOutcome RenderMagnifierIndexed(ProgressiveDisplay* display, int32_t side, orb::DisplayImagePtr* out);
RebuildOutcome RenderMagnifierBilevel(ProgressiveDisplay* display, int32_t side, orb::DisplayImagePtr* out);
// The magnifier content of the record by its kind (null surface: the record's magnifier).
RebuildOutcome RenderMagnifierContent(ProgressiveDisplay* display, int32_t side, orb::DisplayImagePtr* out);

// Printing: the region fitted into a page of `pageWidth` x `pageHeight` device pixels,
// rendered into *out.
ShowOutcome PrintImageRgb(ProgressiveDisplay* display, int32_t pageWidth, int32_t pageHeight,
                  orb::DisplayImagePtr* out);
ShowOutcome PrintImageIndexed(ProgressiveDisplay* display, int32_t pageWidth, int32_t pageHeight,
                      orb::DisplayImagePtr* out);
ShowOutcome PrintImageBilevel(ProgressiveDisplay* display, int32_t pageWidth, int32_t pageHeight,
                      orb::DisplayImagePtr* out);
ShowOutcome RenderImageForPrint(ProgressiveDisplay* display, int32_t pageWidth, int32_t pageHeight,
                        orb::DisplayImagePtr* out);
