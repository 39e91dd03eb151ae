// The two-page split: a freshly scanned image of two facing pages becomes two image files,
// cut at a line the user drags over the view. The split runs from the scan's accept path.
//
// Which pixels go where: the split line itself belongs to neither page. A horizontal line
// at row p gives page 1 the rows above it and page 2 the rows below it; a vertical line at
// column p gives page 1 the columns left of it and page 2 the columns right of it, each
// page's width rounded down to a multiple of 8 (page 1 loses columns next to the line,
// page 2 at the image's right edge; a page narrower than 8 keeps its width).
#pragma once

#include <cstdint>
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

// Splits the working version's file into the two pages in the image's output format. The
// scanned file is renamed to "SplitSource" beside it while the pages are written, and
// removed when both are; on Esc or any failure the pages are removed and the scan gets its
// own name back. Free space for both pages is checked before anything is renamed.
SplitResult SplitScan(ImageState* working, int orientation, int32_t position,
                      const ApplyProgressFactory& progress = {});

// The split of the active document's scan from the accept path: 0 when it ran (also when
// cancelled), -1 without a document, without room or when the tool does not take part.
int SplitActiveScan(bool enabled, int orientation, int32_t position);

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
  void Paint(const ViewContext& view, ViewCanvas& canvas) override;

 private:
  bool OnLine(const ViewContext& view, Point p) const;

  bool enabled_ = false;
  const uint8_t* enabledByte_ = nullptr;
  int orientation_ = kSplitHorizontal;
  int32_t position_ = 0;
  int32_t lastDrag_ = 0;
};

}  // namespace orb::tools
