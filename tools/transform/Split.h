// The two-page split: a freshly scanned image of two facing pages becomes two image files,
// cut at a line the user drags over the view. The split runs from the scan's accept path.
//
// Which pixels go where. A horizontal line at row p gives page 1 the rows above it and
// page 2 the rows below it; the line's own row goes to neither. A vertical line at column p
// makes page 1 p columns wide and page 2 W - p - 1 columns wide, each rounded down to a
// multiple of 8 (a page narrower than 8 keeps its width), and page 2 takes the columns
// that follow page 1's in the line: at 500 in a line of 1000, page 1 is columns 0-495 and
// page 2 columns 496-991, so page 2 holds the line's own column and the few columns left
// of it that page 1's rounding gave up, and the image's last columns go to neither.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "tools/ToolViewHooks.h"
#include "tools/transform/TransformRun.h"

namespace orb::tools {

enum SplitOrientation : uint8_t { kSplitHorizontal = 0, kSplitVertical = 1 };

struct SplitPages {
  int32_t width1 = 0, height1 = 0, x1 = 0, y1 = 0;  // page 1 and where it starts in the source
  int32_t width2 = 0, height2 = 0, x2 = 0, y2 = 0;
  int32_t position = 0;  // the line, held inside the image
  bool Valid() const { return width1 > 0 && height1 > 0 && width2 > 0 && height2 > 0; }
};
// The position held so that both pages keep pixels: 1 to size - 2.
int32_t ClampSplitPosition(int32_t position, int32_t size);
SplitPages SplitLayout(int32_t width, int32_t height, int orientation, int32_t position);

// Page 1 is the scanned file's name and page 2 the next name the naming counters give;
// without a counter, "<name>-Page1<ext>" and "<name>-Page2<ext>" in the same folder.
void MakeSplitPageNames(const std::string& path, std::string* page1, std::string* page2);

// Whether the split takes part for this image: the tool is on, the image is a fresh scan
// and the scanner detects the paper's end.
bool SplitApplies(const ImageState* image, bool enabled);

enum class SplitResult { Split, Cancelled, NoImage, NoRoom, Failed };

// Where the pages go: the scanned file they replace (the page names are made from it when
// the split runs) and their output format. Empty or 0: the working version's own path and
// format (an internal format writes TIFF).
struct SplitOutput {
  std::string scanPath;
  uint32_t format = 0;
};

// Splits the working version (the scan, or what the tools made of it after the scan) into
// the two pages. The scanned file is renamed to "SplitSource" beside it while the pages are
// written, and removed when both are; on Esc or any failure the pages are removed and the
// scan gets its own name back. Free space for both pages is checked before anything is
// renamed. After a split the working version names page 1.
SplitResult SplitScan(ImageState* working, int orientation, int32_t position,
                      const ApplyProgressFactory& progress = {}, const SplitOutput& output = {});

// The split of the active document's scan from the accept path. NoImage without a document
// or when the tool does not take part (off, not a scan, a scanner that does not detect the
// paper's end).
SplitResult SplitActiveScan(bool enabled, int orientation, int32_t position, const SplitOutput& output = {});

// The page names shown beside the split line on the view, in client pixels.
struct SplitNameLabel {
  Rect band;         // where the name may stand; nothing of it shows outside
  std::string text;  // the name as shown (empty: none)
  Point at;          // the top left of the text
};
// A text's width in the view's font.
using TextWidthFn = std::function<int32_t(const std::string&)>;
// `path` as it fits `width`: whole when it does, else with the end of its folder part given
// up for "..." (the file name is kept as long as it can be), else "..." and the end of the
// name; empty when not even "..." fits.
std::string FitPathToWidth(const std::string& path, int32_t width, const TextWidthFn& textWidth);
// Where the two names go for a line at client coordinate `lineAt` (x of a vertical line, y
// of a horizontal one) over the picture `drawing`: beside a vertical line, page 1 ends 10
// pixels left of it and page 2 starts 10 pixels right of it, both at the picture's top;
// over and under a horizontal line, both centred, page 1 ending 5 pixels above it and page 2
// starting 5 pixels below it.
std::array<SplitNameLabel, 2> SplitNameLabels(const Rect& drawing, int32_t lineAt, int orientation,
                                              const std::string& page1, const std::string& page2,
                                              const TextWidthFn& textWidth, int32_t lineHeight);

// Message ids.
inline constexpr int kMsgSplitNoRoom = 33018;
inline constexpr int kMsgSplitFailed = 35702;  // "%s": the file that could not be written or renamed

// The split line on the view.
class SplitHooks : public IToolViewHooks {
 public:
  void SetEnabled(bool on) { enabled_ = on; }
  // Follows a setting's enabled byte instead (the page's record).
  void SetEnabledSource(const uint8_t* byte) { enabledByte_ = byte; }
  bool Enabled() const { return enabledByte_ ? *enabledByte_ != 0 : enabled_; }
  int Orientation() const { return orientation_; }
  void SetOrientation(int o) { orientation_ = o == kSplitVertical ? kSplitVertical : kSplitHorizontal; }
  int32_t Position() const { return position_; }
  void SetPosition(int32_t p) { position_ = p; }
  // The line in the middle of the image: half its height (horizontal) or width (vertical).
  void CenterSplitLine(const ImageState& image);

  bool IsShowing(const ViewContext& view) const override;
  uint16_t HitTest(const ViewContext& view, Point p) override;
  uint16_t OnButtonDown(const ViewContext& view, Point p) override;
  void OnDrag(const ViewContext& view, uint16_t mode, Point p) override;
  void OnButtonUp(const ViewContext& view, uint16_t mode, Point p) override;
  // The dashed line, and beside it the names of the two pages the split would write (left
  // out while the line is dragged).
  void Paint(const ViewContext& view, ViewCanvas& canvas) override;

 private:
  bool OnLine(const ViewContext& view, Point p) const;
  void PaintNames(const ViewContext& view, ViewCanvas& canvas, Point lineAt) const;

  bool enabled_ = false;
  const uint8_t* enabledByte_ = nullptr;
  int orientation_ = kSplitHorizontal;
  int32_t position_ = 0;
  int32_t lastDrag_ = 0;
  bool dragging_ = false;
};

}  // namespace orb::tools
