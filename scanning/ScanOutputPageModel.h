// The scan output page without widgets: the first tab of the scan settings sheet, where the
// user starts, stops and decides on a scan and sets colour mode, output format, resolution,
// size and output file name.
//
// The model keeps every control's state (shown, enabled, checked, bitmap, text, list items,
// selection, text selection) keyed by the control's id; each handler reads the controls it
// needs from there, writes the scan settings record at once (nothing is buffered) and
// updates the controls. The wx page copies what the user changed into the model before a
// handler runs and shows the controls afterwards; tests check the states as tables.
// Messages to the main frame, message boxes, the file dialogs and the one-shot timer of the
// resolution box go through ScanOutputPageHost.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Settings.h"

namespace orb {

// Control ids of the page.
namespace page_ids {
inline constexpr int kColourMode = 1006;
inline constexpr int kResolution = 1004;
inline constexpr int kSizeAuto = 1011;
inline constexpr int kSizeStandard = 1012;
inline constexpr int kSizeCustom = 1013;
inline constexpr int kPaperSize = 1003;
inline constexpr int kOrientation = 1005;
inline constexpr int kWidth = 1008;
inline constexpr int kLength = 1009;
inline constexpr int kLeft = 1420;
inline constexpr int kTop = 1421;
inline constexpr int kWidthLabel = 1014;
inline constexpr int kLengthLabel = 1015;
inline constexpr int kLeftLabel = 1418;
inline constexpr int kTopLabel = 1419;
inline constexpr int kFileName = 1018;
inline constexpr int kBatchScan = 1017;
inline constexpr int kScan = 32774;
inline constexpr int kAccept = 32775;
inline constexpr int kReject = 32776;
inline constexpr int kBrowse = 1019;
inline constexpr int kSetupFilename = 1384;
inline constexpr int kUnload = 1142;
inline constexpr int kLoad = 1143;
inline constexpr int kTotals = 1144;
// The output format of the colour mode's group. Its home is the general scan settings
// page; the output page offers it too, so a scan's format can be chosen where it starts.
inline constexpr int kOutputFormat = 1099;
}  // namespace page_ids

// Bitmaps of the page (images of the language module).
namespace page_bitmaps {
inline constexpr int kScanIdle = 137;
inline constexpr int kScanStop = 138;
inline constexpr int kScanAgain = 152;
inline constexpr int kAccept = 153;
inline constexpr int kReject = 154;
inline constexpr int kBatchOn = 139;
inline constexpr int kBatchOff = 140;
inline constexpr int kUnload = 227;
inline constexpr int kLoad = 228;
inline constexpr int kFileNaming = 316;
inline constexpr int kTotals = 325;
}  // namespace page_bitmaps

// Strings of the page.
namespace page_strings {
inline constexpr int kColourModes = 33002;  // seven names separated by "|"
inline constexpr int kPortrait = 33003;
inline constexpr int kLandscape = 33004;
inline constexpr int kCustomResolution = 33005;
inline constexpr int kBadFolder = 33006;
inline constexpr int kNameIsFolder = 33007;
inline constexpr int kPaletteFileSuffix = 33072;
inline constexpr int kAutoPaletteSuffix = 33073;
inline constexpr int kTotalsQuestion = 34007;
}  // namespace page_strings

struct ControlState {
  bool shown = true;
  bool enabled = true;
  bool checked = false;
  int bitmap = 0;
  std::string text;
  std::vector<std::string> items;
  int selection = -1;  // list row, -1 none
  int selFrom = -1;    // text selection in an edit (from == to: the caret)
  int selTo = -1;
  // A slider: its range, tick step and position.
  int low = 0;
  int high = 0;
  int tick = 0;
  int position = 0;
};

// The output format names of an image kind's group, in the order of its format index.
const std::vector<std::string>& FormatNamesForKind(int32_t kind);
// The format name the settings choose for a kind (the first of the group when the stored
// index is outside it); empty for kinds outside the groups.
std::string ChosenFormatName(const ScanSettingsRecord& s, int32_t kind);
// The names of an image kind's formats for a list box: the items at even positions of
// the module's list text (names and extensions alternate, "|" between them), in the
// order of the group's formats; the format names themselves where the text has fewer.
std::vector<std::string> FormatDisplayNames(int32_t kind, std::string_view listText);
// Whether the format leaves the image unpadded when a scan ends early.
bool FormatNeedsNoPad(int32_t kind, std::string_view formatName);

// The colour-mode list the scanner offers: the modes (ImageKind codes) in list order and the
// highest mode the scanner allows (-1: none). Empty for an unknown scanner.
struct ColourModeList {
  std::vector<int32_t> modes;
  int32_t maxMode = -1;
  bool colour = false;  // a colour scanner (the palette names get their suffixes)
};
ColourModeList ColourModesFor(const ScanSettingsRecord& s);

// Resolution bounds for a typed custom resolution.
struct ResolutionBounds {
  int32_t lower = 0;
  int32_t upper = 0;
};
ResolutionBounds CustomResolutionBounds(const ScanSettingsRecord& s);

// The number a custom resolution text holds: the text after "<caption>: " (or, without
// the caption, after its first blank), its first run of digits, saturated to int32;
// nullopt when there are no digits.
std::optional<int32_t> CustomResolutionNumber(std::string_view text, std::string_view caption);

class ScanOutputPageHost {
 public:
  virtual ~ScanOutputPageHost() = default;
  // Delivers a message to the main frame at once.
  virtual intptr_t SendToFrame(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0) = 0;
  // A string of the language module; empty when it has none.
  virtual std::string String(int id) = 0;
  // A message box with an exclamation mark.
  virtual void ShowMessage(int id) = 0;
  // A question with Yes and No; true for Yes.
  virtual bool AskYesNo(int id) = 0;
  // The file-naming dialog on a name part: the edited name part, nullopt on Cancel.
  virtual std::optional<std::string> RunSetupFilename(const std::string& namePart) = 0;
  // The save-file dialog starting at `path`: the chosen path, nullopt on Cancel.
  virtual std::optional<std::string> BrowseOutputFile(const std::string& path) = 0;
  // Starts the page's 50 ms one-shot timer, which runs SelectResolutionNumber.
  virtual void StartResolutionTimer() {}
  // The two tool-page hosts show the tool buttons that suit the colour mode.
  virtual void UpdateToolButtons() {}
  // The paper-size table is loaded (once, at initialisation).
  virtual void LoadPaperSizes() { ::LoadWindowSizes(); }
  // Writes the totals report into the scan log.
  virtual void WriteTotals();
  // The process-wide values the page reads.
  virtual uint32_t Status();
  virtual bool ScannerPresent();
  virtual bool BatchMode();
};

class ScanOutputPageModel {
 public:
  ScanOutputPageModel(ScanOutputPageHost& host, ScanSettingsRecord& scan = ScanSettings,
                      MiscSettingsRecord& misc = MiscSettings,
                      std::vector<std::string>* resolutions = nullptr,
                      std::vector<_WINDOWSIZES>* paperSizes = nullptr);

  ControlState& Control(int id) { return controls_[id]; }
  const std::map<int, ControlState>& Controls() const { return controls_; }
  int Focus() const { return focus_; }
  void SetFocus(int id) { focus_ = id; }

  void OnInitDialog();
  void OnSetActive();

  // Buttons.
  void OnScan();
  void OnAcceptPage();
  void OnRejectPage();
  void OnUnloadMedium();
  void OnLoadMedium();
  void ToggleBatchScan();
  void OnReportTotals();
  void OnBrowseOutputFile();
  void OnSetupFilename();

  // Colour mode, paper size and orientation (the lists' selections are read from the model).
  void OnColourModeCloseUp();
  void OnPaperSizeCloseUp();
  void OnOrientationCloseUp();
  void OnOutputFormatCloseUp();

  // Size mode and the custom area.
  void OnSizeAuto();
  void OnSizeStandard();
  void OnSizeCustom();
  void UpdateSizeControls();
  void OnKillFocusWidth();
  void OnKillFocusLength();
  void OnKillFocusLeftOffset();
  void OnKillFocusTopOffset();
  void ValidateCustomArea();

  // Resolution box.
  void OnResolutionCloseUp();
  void SelectResolutionNumber();
  void OnResolutionEditUpdate();
  void OnResolutionKillFocus();

  // Output file name edit.
  void OnSetFocusFileName();
  void OnKillFocusFileName();

 private:
  std::string Str(int id);
  std::string CustomCaption();
  std::string CustomEntryText(std::string_view number);
  void FillResolutionBox();
  void FillOutputFormatBox();
  int32_t* FormatIndexField(int32_t kind);
  void SetCustomResolution(int32_t dpi);
  void SetEditCaretAtEnd(int id, const std::string& text);
  void ShowSizeEdit(int id, int labelId, bool shown, bool enabled);
  void WriteLengthEdit(int id, int32_t value);
  int32_t ReadLengthEdit(int id);
  bool StoreOutputName(const std::string& path);

  ScanOutputPageHost& host_;
  ScanSettingsRecord& s_;
  MiscSettingsRecord& m_;
  std::vector<std::string>* resolutions_;
  std::vector<_WINDOWSIZES>* paperSizes_;
  std::map<int, ControlState> controls_;
  int focus_ = 0;
  bool greyScanner_ = false;
};

}  // namespace orb
