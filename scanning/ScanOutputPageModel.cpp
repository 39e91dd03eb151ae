#include "scanning/ScanOutputPageModel.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>

#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "engine/ImageState.h"
#include "engine/ScanLog.h"
#include "engine/SharedRoutines.h"
#include "platform/Files.h"
#include "scanning/ResolutionList.h"

namespace orb {
namespace {

using namespace page_ids;

// Texts used when the language module lacks one, so the page never shows empty lists.
std::string FallbackString(int id) {
  switch (id) {
    case page_strings::kColourModes:
      return "Colour|256 Colours|16 Colours|Greyscale|Black and White|Greyscale (green)|"
             "Black and White (green)";
    case page_strings::kPortrait: return "Portrait";
    case page_strings::kLandscape: return "Landscape";
    case page_strings::kCustomResolution: return "Custom";
    case page_strings::kPaletteFileSuffix: return " (palette file)";
    case page_strings::kAutoPaletteSuffix: return " (automatic palette)";
    default: return {};
  }
}

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// The four groups of image kinds that share an output-format list.
enum class FormatGroup { Colour, Palette, Grey, Bilevel, None };

FormatGroup GroupOf(int32_t kind) {
  switch (kind) {
    case IK_RGB: return FormatGroup::Colour;
    case IK_PALETTE256:
    case IK_PALETTE16: return FormatGroup::Palette;
    case IK_GREY:
    case IK_GREY_FROM_GREEN: return FormatGroup::Grey;
    case IK_BW:
    case IK_BW_FROM_GREEN:
    case IK_BW_SEPARATES:
    case IK_BW_SAVED_AS_4: return FormatGroup::Bilevel;
    default: return FormatGroup::None;  // the kinds only met while a file is read
  }
}

bool FolderIsWritable(const std::string& folder) {
  std::string f = folder.empty() ? std::string(".") : folder;
  return IsDirectory(f) && ::access(f.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

const std::vector<std::string>& FormatNamesForKind(int32_t kind) {
  static const std::vector<std::string> colour = {"jpg", "jp2", "pdf-jpeg", "png", "tif-uncompressed",
                                                  "tif-packbits", "tif-jpeg", "bmp"};
  static const std::vector<std::string> palette = {"png", "tif-uncompressed", "tif-packbits", "bmp"};
  static const std::vector<std::string> grey = {"jpg", "pdf-jpeg", "png", "tif-uncompressed", "tif-packbits", "bmp"};
  static const std::vector<std::string> bilevel = {"pdf-g4", "tif-uncompressed", "tif-g3", "tif-g4", "tif-packbits",
                                                   "bmp"};
  static const std::vector<std::string> none;
  switch (GroupOf(kind)) {
    case FormatGroup::Colour: return colour;
    case FormatGroup::Palette: return palette;
    case FormatGroup::Grey: return grey;
    case FormatGroup::Bilevel: return bilevel;
    case FormatGroup::None: return none;
  }
  return none;
}

std::string ChosenFormatName(const ScanSettingsRecord& s, int32_t kind) {
  const auto& names = FormatNamesForKind(kind);
  if (names.empty()) return {};
  int32_t index = 0;
  switch (GroupOf(kind)) {
    case FormatGroup::Colour: index = s.FormatIndexRgb; break;
    case FormatGroup::Palette: index = s.FormatIndexPalette; break;
    case FormatGroup::Grey: index = s.FormatIndexGrey; break;
    case FormatGroup::Bilevel:
    case FormatGroup::None: index = s.FormatIndexBilevel; break;
  }
  if (index < 0 || static_cast<size_t>(index) >= names.size()) index = 0;
  return names[static_cast<size_t>(index)];
}

std::vector<std::string> FormatDisplayNames(int32_t kind, std::string_view listText) {
  std::vector<std::string> names = FormatNamesForKind(kind);
  size_t from = 0;
  for (size_t item = 0, row = 0; row < names.size() && from <= listText.size(); ++item) {
    size_t bar = listText.find('|', from);
    std::string_view text = listText.substr(from, bar == std::string_view::npos ? std::string_view::npos : bar - from);
    if (item % 2 == 0 && !text.empty()) names[row] = std::string(text);
    if (item % 2 == 0) ++row;
    if (bar == std::string_view::npos) break;
    from = bar + 1;
  }
  return names;
}

bool FormatNeedsNoPad(int32_t kind, std::string_view f) {
  switch (GroupOf(kind)) {
    case FormatGroup::Colour: return f == "jpg" || f == "pdf-jpeg" || f == "png" || f == "tif-packbits" || f == "bmp";
    case FormatGroup::Palette: return f == "png" || f == "tif-packbits";
    case FormatGroup::Grey: return f == "jpg" || f == "pdf-jpeg" || f == "png" || f == "tif-packbits";
    case FormatGroup::Bilevel: return f == "pdf-g4" || f == "tif-g3" || f == "tif-g4" || f == "tif-packbits";
    case FormatGroup::None: return false;
  }
  return false;
}

ColourModeList ColourModesFor(const ScanSettingsRecord& s) {
  ColourModeList l;
  l.colour = s.ScannerSubType != 0;
  auto range = [&](int from, int to) {
    for (int m = from; m <= to; ++m) l.modes.push_back(m);
  };
  if (s.ScannerType == 0 || s.ScannerType == 1) {
    l.maxMode = 6;
    l.colour ? range(0, 6) : range(3, 4);
  } else if (s.ScannerType == 80 &&
             (s.ScannerVariant == 1 ||
              (s.ScannerVariant == 0 && s.ModelCode >= 96 && s.ModelCode <= 107))) {
    l.maxMode = 4;
    l.colour ? range(0, 4) : range(3, 4);
  } else if (s.ScannerType == 80 && s.ScannerVariant == 0 && s.ModelCode < 93) {
    l.maxMode = 6;
    l.colour ? range(0, 6) : range(3, 6);
  }
  return l;
}

ResolutionBounds CustomResolutionBounds(const ScanSettingsRecord& s) {
  ResolutionBounds b;
  bool kelvane = s.ScannerType == 80;
  bool paletteMode = s.ColourMode == 1 || s.ColourMode == 2;
  int64_t optionUpper = static_cast<int64_t>(s.ResolutionOptionValue) * s.OpticalDpi;
  b.lower = kelvane ? 100 : static_cast<int32_t>(std::lround(s.OpticalDpi / 8.0));
  int64_t upper = s.MaxDpi;
  if (kelvane) {
    upper = s.ModelCode >= 87 && s.ModelCode <= 92 ? 9600 : optionUpper;
  } else if (s.ResolutionOption && !paletteMode) {
    upper = optionUpper;
  }
  // A model without its factor (or any other missing value) must not make every number
  // "too high": fall back to the maximum resolution, never below the lower bound.
  if (upper <= 0) upper = s.MaxDpi;
  upper = std::clamp<int64_t>(upper, b.lower, INT32_MAX);
  b.upper = static_cast<int32_t>(upper);
  return b;
}

std::optional<int32_t> CustomResolutionNumber(std::string_view text, std::string_view caption) {
  std::string prefix = std::string(caption) + ": ";
  size_t i;
  if (!caption.empty() && text.substr(0, prefix.size()) == prefix) {
    i = prefix.size();
  } else {
    size_t blank = text.find(' ');
    if (blank == std::string_view::npos) return std::nullopt;
    i = blank + 1;
  }
  while (i < text.size() && text[i] == ' ') ++i;
  if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
  int64_t v = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    if (v <= INT32_MAX) v = v * 10 + (text[i] - '0');
    ++i;
  }
  return static_cast<int32_t>(std::min<int64_t>(v, INT32_MAX));
}

void ScanOutputPageHost::WriteTotals() { ::WriteScanLogTotals(); }
uint32_t ScanOutputPageHost::Status() { return AppStatus.load(); }
bool ScanOutputPageHost::ScannerPresent() { return g_bScannerPresent.load() != 0; }
bool ScanOutputPageHost::BatchMode() { return g_bBatchMode.load() != 0; }

ScanOutputPageModel::ScanOutputPageModel(ScanOutputPageHost& host, ScanSettingsRecord& scan,
                                         MiscSettingsRecord& misc,
                                         std::vector<std::string>* resolutions,
                                         std::vector<_WINDOWSIZES>* paperSizes)
    : host_(host),
      s_(scan),
      m_(misc),
      resolutions_(resolutions ? resolutions : &ResolutionList()),
      paperSizes_(paperSizes ? paperSizes : &WindowSizes) {
  for (int id : {kColourMode, kResolution, kSizeAuto, kSizeStandard, kSizeCustom, kPaperSize,
                 kOrientation, kWidth, kLength, kLeft, kTop, kWidthLabel, kLengthLabel, kLeftLabel,
                 kTopLabel, kFileName, kBatchScan, kScan, kAccept, kReject, kBrowse,
                 kSetupFilename, kUnload, kLoad, kTotals, kOutputFormat}) {
    controls_[id] = ControlState{};
  }
}

std::string ScanOutputPageModel::Str(int id) {
  std::string s = host_.String(id);
  return s.empty() ? FallbackString(id) : s;
}

std::string ScanOutputPageModel::CustomCaption() { return Str(page_strings::kCustomResolution); }

std::string ScanOutputPageModel::CustomEntryText(std::string_view number) {
  return CustomCaption() + ": " + std::string(number) + " dpi";
}

void ScanOutputPageModel::SetEditCaretAtEnd(int id, const std::string& text) {
  ControlState& c = controls_[id];
  c.text = text;
  c.selFrom = c.selTo = static_cast<int>(text.size());
}

// ---------------------------------------------------------------- initialisation

void ScanOutputPageModel::FillResolutionBox() {
  ControlState& box = controls_[kResolution];
  box.items.clear();
  const auto& list = *resolutions_;
  for (size_t i = 0; i < list.size() && !list[i].empty(); ++i) {
    box.items.push_back(i == 0 ? CustomCaption() + ": " + list[0] : list[i]);
  }
  if (box.items.empty()) box.items.push_back(CustomEntryText(std::to_string(100)));
  if (s_.ResolutionIndex < 0 || static_cast<size_t>(s_.ResolutionIndex) >= box.items.size())
    s_.ResolutionIndex = 0;
}

void ScanOutputPageModel::OnInitDialog() {
  controls_[kAccept].bitmap = page_bitmaps::kAccept;
  controls_[kReject].bitmap = page_bitmaps::kReject;
  controls_[kUnload].bitmap = page_bitmaps::kUnload;
  controls_[kLoad].bitmap = page_bitmaps::kLoad;
  controls_[kSetupFilename].bitmap = page_bitmaps::kFileNaming;
  controls_[kTotals].bitmap = page_bitmaps::kTotals;
  controls_[kScan].bitmap = page_bitmaps::kScanIdle;
  controls_[kResolution].selFrom = controls_[kResolution].selTo = 0;
  FillResolutionBox();
  host_.LoadPaperSizes();
  controls_[kResolution].selection = s_.ResolutionIndex;
  controls_[kResolution].text = controls_[kResolution].items[static_cast<size_t>(s_.ResolutionIndex)];
  SetEditCaretAtEnd(kFileName, TextField(s_.OutputFileName));
}

// ---------------------------------------------------------------- activation

void ScanOutputPageModel::OnSetActive() {
  const uint32_t status = host_.Status();
  const ScanState state = ScanStateOf(status);
  const bool kelvane = s_.ScannerType == 80;

  // 1. The scanner's paper staging follows the settings while no scan runs.
  if (state != ScanState::Scanning) host_.SendToFrame(WM_APPLY_PAPER_STAGING);

  // 2. Colour modes.
  ColourModeList modes = ColourModesFor(s_);
  greyScanner_ = !modes.colour;
  ControlState& cm = controls_[kColourMode];
  cm.items.clear();
  if (!modes.modes.empty()) {
    if (s_.ColourMode > modes.maxMode) s_.ColourMode = modes.maxMode;
    std::string all = Str(page_strings::kColourModes);
    std::vector<std::string> names;
    size_t from = 0;
    for (;;) {
      size_t bar = all.find('|', from);
      names.push_back(all.substr(from, bar == std::string::npos ? std::string::npos : bar - from));
      if (bar == std::string::npos) break;
      from = bar + 1;
    }
    names.resize(std::max<size_t>(names.size(), 7));
    if (modes.colour) {
      names[1] += Str(s_.AutoPalette256 ? page_strings::kAutoPaletteSuffix : page_strings::kPaletteFileSuffix);
      names[2] += Str(s_.AutoPalette16 ? page_strings::kAutoPaletteSuffix : page_strings::kPaletteFileSuffix);
    }
    for (int32_t m : modes.modes) cm.items.push_back(names[static_cast<size_t>(m)]);
  }

  // 3. Buttons by scan state.
  ControlState& scan = controls_[kScan];
  ControlState& accept = controls_[kAccept];
  ControlState& reject = controls_[kReject];
  bool nameEnabled = state == ScanState::Idle;
  switch (state) {
    case ScanState::Idle:
      scan.bitmap = page_bitmaps::kScanIdle;
      accept.shown = reject.shown = false;
      scan.shown = true;
      focus_ = kScan;
      break;
    case ScanState::Scanning:
      scan.bitmap = page_bitmaps::kScanStop;
      accept.shown = reject.shown = false;
      scan.shown = true;
      focus_ = kScan;
      break;
    case ScanState::DecisionPending:
      scan.bitmap = page_bitmaps::kScanAgain;
      accept.shown = reject.shown = true;
      scan.shown = !kelvane;  // the Kelvane family offers only Accept and Reject
      focus_ = kAccept;
      break;
  }
  controls_[kFileName].enabled = controls_[kBrowse].enabled = controls_[kSetupFilename].enabled = nameEnabled;
  bool settingsEnabled = state != ScanState::Scanning;
  for (int id : {kBatchScan, kPaperSize, kOrientation, kWidth, kWidthLabel, kLength, kLengthLabel, kLeft,
                 kLeftLabel, kTop, kTopLabel, kSizeAuto, kSizeCustom, kSizeStandard, kResolution,
                 kColourMode, kTotals, kOutputFormat}) {
    controls_[id].enabled = settingsEnabled;
  }
  if (HasStatus(status, StatusBit::MediumMoving)) {
    scan.enabled = controls_[kUnload].enabled = controls_[kLoad].enabled = false;
  } else {
    scan.enabled = true;
    controls_[kUnload].enabled = controls_[kLoad].enabled = settingsEnabled;
  }

  // 4. The stored values into the controls.
  int row = s_.ColourMode - (greyScanner_ ? 3 : 0);
  if (row < 0 || row >= static_cast<int>(cm.items.size())) row = cm.items.empty() ? -1 : 0;
  cm.selection = row;
  ControlState& res = controls_[kResolution];
  if (res.items.empty()) FillResolutionBox();
  if (s_.ResolutionIndex < 0 || static_cast<size_t>(s_.ResolutionIndex) >= res.items.size())
    s_.ResolutionIndex = 0;
  res.selection = s_.ResolutionIndex;
  res.text = res.items[static_cast<size_t>(s_.ResolutionIndex)];
  if (cm.selection >= 0) OnColourModeCloseUp();
  UpdateSizeControls();
  s_.BatchScan = s_.BatchScan ? 0 : 1;
  ToggleBatchScan();
  WriteLengthEdit(kWidth, s_.CustomWidth);
  WriteLengthEdit(kLength, s_.CustomLength);
  WriteLengthEdit(kLeft, s_.AreaLeft);
  WriteLengthEdit(kTop, s_.AreaTop);
  SetEditCaretAtEnd(kFileName, TextField(s_.OutputFileName));

  // 5. What the scanner and the program's mode allow.
  if (!host_.ScannerPresent()) scan.enabled = controls_[kUnload].enabled = controls_[kLoad].enabled = false;
  if (host_.BatchMode()) scan.enabled = false;
  controls_[kBatchScan].shown = controls_[kUnload].shown = controls_[kLoad].shown = true;
  if (s_.PaperEndDetection == 1) {
    controls_[kBatchScan].shown = controls_[kUnload].shown = controls_[kLoad].shown = false;
    if (s_.MediaHandlingByte == 2) controls_[kLoad].shown = true;
  }
  if (kelvane) controls_[kUnload].shown = controls_[kLoad].shown = false;
  controls_[kTotals].shown = m_.ScanLogEnabled != 0;
}

// ---------------------------------------------------------------- buttons

void ScanOutputPageModel::OnScan() {
  const uint32_t status = host_.Status();
  // The button is disabled while the medium moves; a press that arrives then is dropped.
  if (HasStatus(status, StatusBit::MediumMoving)) return;
  // A state word outside the three states (3) matches no case and sends nothing.
  switch (ScanStateOf(status)) {
    case ScanState::Idle: host_.SendToFrame(WM_SCAN_BATCH_WAIT, WM_SCAN_NEW_DOCUMENT); break;
    case ScanState::Scanning: host_.SendToFrame(WM_SCAN_STOP); break;
    case ScanState::DecisionPending: host_.SendToFrame(WM_SCAN_BATCH_WAIT, WM_SCAN_DISCARD_RESTART); break;
  }
}

void ScanOutputPageModel::OnAcceptPage() { host_.SendToFrame(WM_SCAN_ACCEPT_PAGE); }
void ScanOutputPageModel::OnRejectPage() { host_.SendToFrame(WM_SCAN_REJECT_PAGE); }
void ScanOutputPageModel::OnUnloadMedium() { host_.SendToFrame(WM_SCANNER_UNLOAD, 0); }
void ScanOutputPageModel::OnLoadMedium() { host_.SendToFrame(WM_SCANNER_LOAD, 0); }

void ScanOutputPageModel::ToggleBatchScan() {
  s_.BatchScan = s_.BatchScan ? 0 : 1;
  ControlState& b = controls_[kBatchScan];
  if (s_.BatchScan) {
    s_.MediaHandlingByte = 1;
    b.bitmap = page_bitmaps::kBatchOn;
    b.checked = true;
  } else {
    b.bitmap = page_bitmaps::kBatchOff;
    b.checked = false;
  }
}

void ScanOutputPageModel::OnReportTotals() {
  if (host_.AskYesNo(page_strings::kTotalsQuestion)) host_.WriteTotals();
}

bool ScanOutputPageModel::StoreOutputName(const std::string& path) {
  return SetTextField(s_.OutputFileName, path);
}

void ScanOutputPageModel::OnBrowseOutputFile() {
  std::string start = TextField(s_.OutputFileName);
  std::optional<std::string> chosen = host_.BrowseOutputFile(start);
  StoreOutputName(chosen.value_or(start));
  OnColourModeCloseUp();
}

void ScanOutputPageModel::OnSetupFilename() {
  SplitName parts = SplitFileName(TextField(s_.OutputFileName));
  std::optional<std::string> name = host_.RunSetupFilename(parts.name);
  if (name) {
    parts.name = *name;
    StoreOutputName(parts.Join());  // a name too long for the field leaves the old one
    SetEditCaretAtEnd(kFileName, TextField(s_.OutputFileName));
    OnColourModeCloseUp();
  }
}

// ---------------------------------------------------------------- colour mode

void ScanOutputPageModel::OnColourModeCloseUp() {
  ControlState& cm = controls_[kColourMode];
  if (cm.selection >= 0 && cm.selection < static_cast<int>(cm.items.size()))
    s_.ColourMode = cm.selection + (greyScanner_ ? 3 : 0);
  s_.NoPadOutput = 0;
  const int32_t kind = s_.ColourMode;
  const std::string format = ChosenFormatName(s_, kind);
  const std::string ext = format.substr(0, 3);
  s_.OutputIsPlainTiff = format == "tif-uncompressed" ? 1 : 0;
  if (FormatNeedsNoPad(kind, format)) s_.NoPadOutput = 1;
  FillOutputFormatBox();

  // Palette modes cannot exceed the maximum resolution with a custom number.
  ControlState& res = controls_[kResolution];
  if ((kind == 1 || kind == 2) && res.selection == 0 && s_.ResolutionOption) {
    std::optional<int32_t> n = CustomResolutionNumber(res.text, CustomCaption());
    if (n) SetCustomResolution(std::min(*n, std::max(s_.MaxDpi, 1)));
  }

  host_.UpdateToolButtons();

  // The output name gets the format's extension; an unknown extension stays in the name.
  if (!ext.empty()) {
    SplitName parts = SplitFileName(TextField(s_.OutputFileName));
    bool known = false;
    if (parts.ext.size() > 1) {
      std::string old = parts.ext.substr(1, 3);
      for (int group : {0, 1, 3, 4}) {
        for (const auto& name : FormatNamesForKind(group)) {
          if (SameLetters(old, name.substr(0, 3))) known = true;
        }
      }
    }
    if (!known) parts.name += parts.ext;
    parts.ext = "." + ext;
    StoreOutputName(parts.Join());
  }
  SetEditCaretAtEnd(kFileName, TextField(s_.OutputFileName));
  controls_[kSizeAuto].enabled = ScanStateOf(host_.Status()) != ScanState::Scanning;

  if (s_.PaperEndDetection == 1 &&
      (!s_.OutputIsPlainTiff || kind == 4 || kind == 6 || kind == 7 || kind == 10)) {
    controls_[kSizeAuto].enabled = false;
    if (s_.SizeMode == 0) OnSizeCustom();
  }
}

int32_t* ScanOutputPageModel::FormatIndexField(int32_t kind) {
  switch (GroupOf(kind)) {
    case FormatGroup::Colour: return &s_.FormatIndexRgb;
    case FormatGroup::Palette: return &s_.FormatIndexPalette;
    case FormatGroup::Grey: return &s_.FormatIndexGrey;
    case FormatGroup::Bilevel: return &s_.FormatIndexBilevel;
    case FormatGroup::None: return nullptr;
  }
  return nullptr;
}

void ScanOutputPageModel::FillOutputFormatBox() {
  ControlState& box = controls_[kOutputFormat];
  int listId = 0;
  switch (GroupOf(s_.ColourMode)) {
    case FormatGroup::Colour: listId = g_outputFormatListIds.colour; break;
    case FormatGroup::Palette: listId = g_outputFormatListIds.palette; break;
    case FormatGroup::Grey: listId = g_outputFormatListIds.grey; break;
    case FormatGroup::Bilevel: listId = g_outputFormatListIds.bilevel; break;
    case FormatGroup::None: break;
  }
  box.items = FormatDisplayNames(s_.ColourMode, listId ? host_.String(listId) : std::string());
  const int32_t* index = FormatIndexField(s_.ColourMode);
  box.selection = -1;
  if (index && *index >= 0 && *index < static_cast<int32_t>(box.items.size()))
    box.selection = *index;
  else if (!box.items.empty())
    box.selection = 0;
}

void ScanOutputPageModel::OnOutputFormatCloseUp() {
  const ControlState& box = controls_[kOutputFormat];
  int32_t* index = FormatIndexField(s_.ColourMode);
  if (index && box.selection >= 0 && box.selection < static_cast<int>(box.items.size())) *index = box.selection;
  OnColourModeCloseUp();
}

void ScanOutputPageModel::OnPaperSizeCloseUp() {
  int row = controls_[kPaperSize].selection;
  if (row >= 0 && static_cast<size_t>(row) < paperSizes_->size()) s_.PaperSizeIndex = row;
}

void ScanOutputPageModel::OnOrientationCloseUp() {
  int row = controls_[kOrientation].selection;
  if (row == 0 || row == 1) s_.Landscape = row;
}

// ---------------------------------------------------------------- size

void ScanOutputPageModel::OnSizeAuto() {
  s_.SizeMode = 0;
  UpdateSizeControls();
}
void ScanOutputPageModel::OnSizeStandard() {
  s_.SizeMode = 1;
  UpdateSizeControls();
}
void ScanOutputPageModel::OnSizeCustom() {
  s_.SizeMode = 2;
  UpdateSizeControls();
}

void ScanOutputPageModel::ShowSizeEdit(int id, int labelId, bool shown, bool enabled) {
  controls_[id].shown = controls_[labelId].shown = shown;
  controls_[id].enabled = enabled;
}

void ScanOutputPageModel::UpdateSizeControls() {
  const bool scanning = ScanStateOf(host_.Status()) == ScanState::Scanning;
  controls_[kSizeAuto].checked = s_.SizeMode == 0;
  controls_[kSizeCustom].checked = s_.SizeMode == 2;
  controls_[kSizeStandard].checked = s_.SizeMode != 0 && s_.SizeMode != 2;
  // The offsets stay hidden in every mode.
  ShowSizeEdit(kLeft, kLeftLabel, false, s_.LeftOffsetMode != 0 && !scanning);
  ShowSizeEdit(kTop, kTopLabel, false, !scanning);
  ControlState& paper = controls_[kPaperSize];
  ControlState& orient = controls_[kOrientation];
  if (s_.SizeMode == 0) {
    paper.shown = orient.shown = false;
    ShowSizeEdit(kWidth, kWidthLabel, true, false);
    ShowSizeEdit(kLength, kLengthLabel, true, false);
  } else if (s_.SizeMode == 2) {
    paper.shown = orient.shown = false;
    ShowSizeEdit(kWidth, kWidthLabel, true, !scanning);
    ShowSizeEdit(kLength, kLengthLabel, true, !scanning);
  } else {
    paper.shown = orient.shown = true;
    paper.items.clear();
    for (const auto& w : *paperSizes_) paper.items.push_back(TextField(w.Name));
    if (s_.PaperSizeIndex < 0 || static_cast<size_t>(s_.PaperSizeIndex) >= paper.items.size())
      s_.PaperSizeIndex = 0;
    paper.selection = paper.items.empty() ? -1 : s_.PaperSizeIndex;
    orient.items = {Str(page_strings::kPortrait), Str(page_strings::kLandscape)};
    orient.selection = s_.Landscape ? 1 : 0;
    ShowSizeEdit(kWidth, kWidthLabel, false, !scanning);
    ShowSizeEdit(kLength, kLengthLabel, false, !scanning);
  }
}

void ScanOutputPageModel::WriteLengthEdit(int id, int32_t value) {
  controls_[id].text = FormatLength(m_.LengthUnit, value, 100);
}

int32_t ScanOutputPageModel::ReadLengthEdit(int id) {
  return ParseLength(controls_[id].text, 100, m_.LengthUnit);
}

void ScanOutputPageModel::OnKillFocusWidth() {
  s_.CustomWidth = std::clamp(ReadLengthEdit(kWidth), 100, std::max(s_.MaxWidth, 100));
  WriteLengthEdit(kWidth, s_.CustomWidth);
}

void ScanOutputPageModel::OnKillFocusLength() {
  s_.CustomLength = std::clamp(ReadLengthEdit(kLength), 100, std::max(s_.MaxLength, 100));
  WriteLengthEdit(kLength, s_.CustomLength);
}

void ScanOutputPageModel::OnKillFocusLeftOffset() {
  s_.AreaLeft = std::min(ReadLengthEdit(kLeft), s_.MaxWidth);
  WriteLengthEdit(kLeft, s_.AreaLeft);
}

void ScanOutputPageModel::OnKillFocusTopOffset() {
  s_.AreaTop = ReadLengthEdit(kTop);
  WriteLengthEdit(kTop, s_.AreaTop);
}

void ScanOutputPageModel::ValidateCustomArea() {
  if (s_.SizeMode != 2) return;
  OnKillFocusWidth();
  OnKillFocusLength();
}

// ---------------------------------------------------------------- resolution box

void ScanOutputPageModel::SetCustomResolution(int32_t dpi) {
  std::string number = std::to_string(dpi);
  ControlState& res = controls_[kResolution];
  if (res.items.empty()) res.items.push_back({});
  res.items[0] = CustomEntryText(number);
  res.selection = 0;
  res.text = res.items[0];
  s_.ResolutionIndex = 0;
  std::string text = number + " dpi";
  SetTextField(s_.ResolutionText, text);
  auto& list = *resolutions_;
  if (list.empty()) list.push_back({});
  list[0] = text;
}

void ScanOutputPageModel::OnResolutionCloseUp() { host_.StartResolutionTimer(); }

void ScanOutputPageModel::SelectResolutionNumber() {
  ControlState& res = controls_[kResolution];
  if (res.selection < 0) return;
  s_.ResolutionIndex = res.selection;
  if (res.selection == 0) {
    std::string prefix = CustomCaption() + ": ";
    size_t from = res.text.compare(0, prefix.size(), prefix) == 0 ? prefix.size() : res.text.find(' ') + 1;
    size_t last = res.text.rfind(' ');
    if (from == 0 || last == std::string::npos || last < from) last = res.text.size();
    res.selFrom = static_cast<int>(std::min(from, res.text.size()));
    res.selTo = static_cast<int>(last);
  } else {
    res.selFrom = 0;
    res.selTo = static_cast<int>(res.text.size());
  }
}

void ScanOutputPageModel::OnResolutionEditUpdate() {
  ControlState& res = controls_[kResolution];
  if (res.selection == 0 || res.selection < 0) {
    // Keep only the digits the user typed, between the caption and the unit.
    std::string prefix = CustomCaption() + ": ";
    std::string_view rest = res.text;
    if (rest.substr(0, prefix.size()) == prefix) rest.remove_prefix(prefix.size());
    size_t last = rest.rfind(' ');
    if (last != std::string_view::npos) rest = rest.substr(0, last);
    std::string digits;
    for (char ch : rest) {
      if (std::isdigit(static_cast<unsigned char>(ch)) && digits.size() < 9) digits += ch;
    }
    res.text = prefix + digits + " dpi";
    res.selFrom = res.selTo = static_cast<int>(prefix.size() + digits.size());
  } else if (res.selection < static_cast<int>(res.items.size())) {
    res.text = res.items[static_cast<size_t>(res.selection)];
  }
}

void ScanOutputPageModel::OnResolutionKillFocus() {
  ControlState& res = controls_[kResolution];
  if (res.selection >= 0) return;
  std::string prefix = CustomCaption() + ": ";
  std::optional<int32_t> n;
  if (res.text.compare(0, prefix.size(), prefix) == 0) n = CustomResolutionNumber(res.text, CustomCaption());
  if (!n) {
    // Not a custom entry: the stored row comes back.
    int row = s_.ResolutionIndex;
    if (row < 0 || row >= static_cast<int>(res.items.size())) row = 0;
    res.selection = res.items.empty() ? -1 : row;
    if (!res.items.empty()) res.text = res.items[static_cast<size_t>(row)];
    return;
  }
  ResolutionBounds b = CustomResolutionBounds(s_);
  SetCustomResolution(std::clamp(*n, b.lower, b.upper));
  host_.StartResolutionTimer();
}

// ---------------------------------------------------------------- output file name

void ScanOutputPageModel::OnSetFocusFileName() {
  ControlState& c = controls_[kFileName];
  c.selFrom = c.selTo = static_cast<int>(c.text.size());
}

void ScanOutputPageModel::OnKillFocusFileName() {
  SplitName typed = SplitFileName(controls_[kFileName].text);
  SplitName stored = SplitFileName(TextField(s_.OutputFileName));
  if (typed.folder.empty()) typed.folder = stored.folder;
  std::string folder = typed.folder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::string full = typed.Join();
  if (!FolderIsWritable(folder)) {
    host_.ShowMessage(page_strings::kBadFolder);
    focus_ = kFileName;
  } else if (IsDirectory(full)) {
    host_.ShowMessage(page_strings::kNameIsFolder);
    focus_ = kFileName;
  } else {
    StoreOutputName(full);  // a name too long for the field leaves the stored one
  }
  SetEditCaretAtEnd(kFileName, TextField(s_.OutputFileName));
  OnColourModeCloseUp();
}

}  // namespace orb
