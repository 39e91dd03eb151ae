#include "scanning/ScanSettingsPages.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "common/Messages.h"
#include "engine/AppStatus.h"
#include "engine/ImageState.h"
#include "engine/PaletteFile.h"
#include "engine/SharedRoutines.h"
#include "platform/Files.h"

namespace orb {
namespace {

constexpr int kFormatBoxes[4] = {general_ids::kFormatRgb, general_ids::kFormatPalette,
                                 general_ids::kFormatGrey, general_ids::kFormatBilevel};
constexpr int kOptionButtons[4] = {general_ids::kOptionsRgb, general_ids::kOptionsPalette,
                                   general_ids::kOptionsGrey, general_ids::kOptionsBilevel};
// A kind of each group, for its list of format names.
constexpr int32_t kGroupKinds[4] = {IK_RGB, IK_PALETTE256, IK_GREY, IK_BW};
constexpr int kFormatLists[4] = {settings_strings::kFormatListRgb, settings_strings::kFormatListPalette,
                                 settings_strings::kFormatListGrey, settings_strings::kFormatListBilevel};

bool InRange(int32_t v, int32_t low, int32_t high) { return v >= low && v <= high; }

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool FolderIsWritable(const std::string& folder) {
  return IsDirectory(folder) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

FormatOptions FormatOptionsFor(int group, int row) {
  using D = FormatOptionsDialog;
  static const std::vector<FormatOptions> colour = {
      {true, D::Quality, 1}, {true, D::Quality, 6}, {true, D::Quality, 2}, {false, D::None, 0},
      {true, D::Tiff, 11},   {true, D::Tiff, 11},   {true, D::Tiff, 3},    {false, D::Quality, 0}};
  static const std::vector<FormatOptions> palette = {
      {false, D::None, 0}, {true, D::Tiff, 13}, {true, D::Tiff, 13}, {false, D::Quality, 0}};
  static const std::vector<FormatOptions> grey = {{true, D::Quality, 5}, {true, D::Quality, 4},
                                                  {false, D::None, 0},   {true, D::Tiff, 14},
                                                  {true, D::Tiff, 14},   {false, D::Quality, 0}};
  static const std::vector<FormatOptions> bilevel = {{false, D::None, 0}, {true, D::Tiff, 15},
                                                     {true, D::Tiff, 15},  {true, D::Tiff, 15},
                                                     {true, D::Tiff, 15},  {false, D::Quality, 0}};
  static const std::vector<FormatOptions>* const groups[4] = {&colour, &palette, &grey, &bilevel};
  if (group < 0 || group > 3) return {false, D::None, 0};
  const auto& table = *groups[group];
  if (row < 0 || static_cast<size_t>(row) >= table.size()) return {false, D::None, 0};
  return table[static_cast<size_t>(row)];
}

uint32_t ScanSettingsPageHost::Status() { return AppStatus.load(); }

int RepairPageFields(ScanSettingsRecord& s) {
  const ScanSettingsRecord d;
  int repaired = 0;
  auto fix = [&](bool bad, auto& field, auto value) {
    if (!bad) return;
    field = value;
    ++repaired;
  };
  int32_t* formats[4] = {&s.FormatIndexRgb, &s.FormatIndexPalette, &s.FormatIndexGrey, &s.FormatIndexBilevel};
  const int32_t formatDefaults[4] = {d.FormatIndexRgb, d.FormatIndexPalette, d.FormatIndexGrey,
                                     d.FormatIndexBilevel};
  for (int g = 0; g < 4; ++g) {
    const auto count = static_cast<int32_t>(FormatNamesForKind(kGroupKinds[g]).size());
    fix(!InRange(*formats[g], 0, count - 1), *formats[g], formatDefaults[g]);
  }
  fix(!InRange(s.AutoPalette16, 0, 1), s.AutoPalette16, d.AutoPalette16);
  fix(!InRange(s.AutoPalette256, 0, 1), s.AutoPalette256, d.AutoPalette256);
  // The gamma field's default is 1.5; the brightness the identification gives a new
  // scanner is 5.
  for (float* g : {&s.GammaRed, &s.GammaGreen, &s.GammaBlue})
    fix(!std::isfinite(*g) || *g > 10.0f, *g, 1.5f);
  const int32_t maxBrightness = s.ScannerType == 80 ? 20 : 50;
  fix(!InRange(s.ScanBrightness, 1, maxBrightness), s.ScanBrightness, 5);
  fix(s.MediaHandlingByte > 2, s.MediaHandlingByte, d.MediaHandlingByte);
  fix(!InRange(s.ScanSpeed, 1, 8), s.ScanSpeed, d.ScanSpeed);
  fix(!InRange(s.AutoLoadDelay, 0, 5), s.AutoLoadDelay, d.AutoLoadDelay);
  fix(!(s.StagingPosition >= -0.5 && s.StagingPosition <= 0.5), s.StagingPosition, d.StagingPosition);
  fix(!(s.RunOnLength >= 0.0 && s.RunOnLength <= 1.0), s.RunOnLength, d.RunOnLength);
  fix(!InRange(s.LeftOffsetMode, 0, 1), s.LeftOffsetMode, 0);
  return repaired;
}

// ---- shared ---------------------------------------------------------------------------

bool SettingsPageModel::Scanning() const { return (host_.Status() & Bits(ScanState::Scanning)) != 0; }

void SettingsPageModel::SetRadio(std::initializer_list<int> group, int checkedId) {
  for (int id : group) controls_[id].checked = id == checkedId;
}

void SettingsPageModel::SetCaretAtEnd(int id, const std::string& text) {
  ControlState& c = controls_[id];
  c.text = text;
  c.selFrom = c.selTo = static_cast<int>(text.size());
}

// ---- general page ---------------------------------------------------------------------

using namespace general_ids;

GeneralPageModel::GeneralPageModel(ScanSettingsPageHost& host, ScanSettingsRecord& scan,
                                   MiscSettingsRecord& misc)
    : SettingsPageModel(host, scan, misc) {
  for (int id : {kFormatRgb, kFormatPalette, kFormatGrey, kFormatBilevel, kOptionsRgb, kOptionsPalette,
                 kOptionsGrey, kOptionsBilevel, kPalette16File, kPalette16Auto, kPalette256File,
                 kPalette256Auto, kPalette16Edit, kPalette16Browse, kPalette256Edit, kPalette256Browse,
                 kHighResRgb, kHighResBilevel, kHighResGrey, kColourLabel1, kColourLabel2, kColourLabel3})
    controls_[id];
}

int GeneralPageModel::FormatBoxOf(int group) { return group >= 0 && group < 4 ? kFormatBoxes[group] : 0; }
int GeneralPageModel::OptionsButtonOf(int group) { return group >= 0 && group < 4 ? kOptionButtons[group] : 0; }

int32_t& GeneralPageModel::FormatIndex(int group) {
  switch (group) {
    case 0: return s_.FormatIndexRgb;
    case 1: return s_.FormatIndexPalette;
    case 2: return s_.FormatIndexGrey;
    default: return s_.FormatIndexBilevel;
  }
}

void GeneralPageModel::OnInitDialog() {
  for (int id : {kHighResRgb, kHighResBilevel, kHighResGrey}) {
    controls_[id].shown = false;
    controls_[id].bitmap = settings_bitmaps::kHighRes;
  }
  if (s_.HighResWindow) {
    controls_[kHighResBilevel].shown = true;
    if (s_.ScannerType == 1) controls_[kHighResRgb].shown = controls_[kHighResGrey].shown = true;
  }
  for (int id : kOptionButtons) controls_[id].bitmap = settings_bitmaps::kOptions;
  for (int g = 0; g < 4; ++g)
    controls_[kFormatBoxes[g]].items = FormatDisplayNames(kGroupKinds[g], host_.String(kFormatLists[g]));
  if (s_.ColourMode < 0) s_.ColourMode = 0;
}

void GeneralPageModel::OnSetActive() {
  RepairPageFields(s_);
  controls_[kHighResRgb].checked = s_.HighResRgb != 0;
  controls_[kHighResBilevel].checked = s_.HighResBilevel != 0;
  controls_[kHighResGrey].checked = s_.HighResGrey != 0;
  for (int g = 0; g < 4; ++g) controls_[kFormatBoxes[g]].selection = FormatIndex(g);
  SetCaretAtEnd(kPalette16Edit, TextField(s_.Palette16File));
  SetCaretAtEnd(kPalette256Edit, TextField(s_.Palette256File));

  SetRadio({kPalette16File, kPalette16Auto}, s_.AutoPalette16 ? kPalette16Auto : kPalette16File);
  SetRadio({kPalette256File, kPalette256Auto}, s_.AutoPalette256 ? kPalette256Auto : kPalette256File);
  const bool scanning = Scanning();
  for (int id : {kPalette16File, kPalette16Auto, kPalette256File, kPalette256Auto, kFormatRgb, kFormatPalette,
                 kFormatGrey, kFormatBilevel})
    controls_[id].enabled = !scanning;
  controls_[kPalette16Edit].enabled = controls_[kPalette16Browse].enabled = !s_.AutoPalette16 && !scanning;
  controls_[kPalette256Edit].enabled = controls_[kPalette256Browse].enabled = !s_.AutoPalette256 && !scanning;

  if (s_.ScannerSubType == 0) {
    // A grey scanner takes no palette and no colour: nothing of them can be changed.
    for (int id : {kPalette16File, kPalette16Auto, kPalette256File, kPalette256Auto, kPalette16Edit,
                   kPalette256Edit, kPalette16Browse, kPalette256Browse, kFormatRgb, kFormatPalette,
                   kColourLabel1, kColourLabel2, kColourLabel3})
      controls_[id].enabled = false;
  }
  for (int g = 0; g < 4; ++g) OnFormatCloseUp(g);
}

void GeneralPageModel::OnFormatCloseUp(int group) {
  const int box = FormatBoxOf(group);
  if (!box) return;
  const int row = controls_[box].selection;
  const auto count = static_cast<int>(FormatNamesForKind(kGroupKinds[group]).size());
  if (row >= 0 && row < count) FormatIndex(group) = row;
  controls_[kOptionButtons[group]].enabled = FormatOptionsFor(group, FormatIndex(group)).enabled;
}

void GeneralPageModel::OnFormatOptions(int group) {
  if (group < 0 || group > 3) return;
  const FormatOptions o = FormatOptionsFor(group, FormatIndex(group));
  controls_[kOptionButtons[group]].enabled = o.enabled;
  if (o.enabled && o.dialog != FormatOptionsDialog::None) host_.RunFormatOptions(o.dialog, o.argument);
}

void GeneralPageModel::OnPaletteRadio(int id) {
  const bool scanning = Scanning();
  if (id == kPalette16File || id == kPalette16Auto) {
    s_.AutoPalette16 = id == kPalette16Auto ? 1 : 0;
    SetRadio({kPalette16File, kPalette16Auto}, id);
    controls_[kPalette16Edit].enabled = controls_[kPalette16Browse].enabled = !s_.AutoPalette16 && !scanning;
  } else if (id == kPalette256File || id == kPalette256Auto) {
    s_.AutoPalette256 = id == kPalette256Auto ? 1 : 0;
    SetRadio({kPalette256File, kPalette256Auto}, id);
    controls_[kPalette256Edit].enabled = controls_[kPalette256Browse].enabled = !s_.AutoPalette256 && !scanning;
  }
}

bool GeneralPageModel::CheckPaletteFile(const std::string& path, int colours) {
  const int count = ReadPaletteOutputCount(path);
  const bool fits = count > 0 && (colours == 16 ? count <= 16 : count > 16);
  if (!fits) host_.ShowMessage(settings_strings::kBadPalette);
  return fits;
}

void GeneralPageModel::StorePalette(int colours, const std::string& path) {
  const bool stored = colours == 16 ? SetTextField(s_.Palette16File, path) : SetTextField(s_.Palette256File, path);
  if (!stored) host_.ShowMessage(settings_strings::kBadPalette);
}

void GeneralPageModel::OnBrowsePalette(int colours) {
  const int edit = colours == 16 ? kPalette16Edit : kPalette256Edit;
  const std::string stored = TextField(colours == 16 ? s_.Palette16File : s_.Palette256File);
  if (auto chosen = host_.BrowsePaletteFile(stored)) {
    if (CheckPaletteFile(*chosen, colours)) StorePalette(colours, *chosen);
  }
  SetCaretAtEnd(edit, TextField(colours == 16 ? s_.Palette16File : s_.Palette256File));
}

void GeneralPageModel::OnSetFocusPalette(int colours) {
  const int edit = colours == 16 ? kPalette16Edit : kPalette256Edit;
  SetCaretAtEnd(edit, controls_[edit].text);
}

void GeneralPageModel::OnKillFocusPalette(int colours) {
  const int edit = colours == 16 ? kPalette16Edit : kPalette256Edit;
  std::string path = controls_[edit].text;
  const std::string stored = TextField(colours == 16 ? s_.Palette16File : s_.Palette256File);
  if (!path.empty() && path != stored) {
    // A name without a folder, or a relative one, is taken in the output file's folder.
    if (path.front() != '/') {
      std::string base = FolderOf(TextField(s_.OutputFileName));
      if (base.empty()) base = ".";
      path = base + (base.back() == '/' ? "" : "/") + path;
    }
    if (IsDirectory(path)) {
      host_.ShowMessage(settings_strings::kNameIsFolder);
      refocus = edit;
    } else if (!FolderIsWritable(FolderOf(path))) {
      host_.ShowMessage(settings_strings::kFolderMissing);
      refocus = edit;
    } else if (CheckPaletteFile(path, colours)) {
      StorePalette(colours, path);
    }
  }
  SetCaretAtEnd(edit, TextField(colours == 16 ? s_.Palette16File : s_.Palette256File));
}

void GeneralPageModel::OnHighRes(int id) {
  const uint8_t v = controls_[id].checked ? 1 : 0;
  if (id == kHighResRgb) s_.HighResRgb = v;
  if (id == kHighResBilevel) s_.HighResBilevel = v;
  if (id == kHighResGrey) s_.HighResGrey = v;
}

// ---- extended page --------------------------------------------------------------------

using namespace extended_ids;

float GammaFromText(const std::string& text) {
  const double v = ParseDecimal(text);
  if (std::isnan(v)) return 0.0f;
  return static_cast<float>(std::clamp(v, 0.0, 10.0));
}

std::string GammaText(float gamma) { return FormatFixed(gamma, 2, 1); }

ExtendedPageModel::ExtendedPageModel(ScanSettingsPageHost& host, ScanSettingsRecord& scan,
                                     MiscSettingsRecord& misc)
    : SettingsPageModel(host, scan, misc) {
  for (int id : {kBrightness, kBrightnessLabel, kGammaRed, kGammaGreen, kGammaBlue, kRgbControlOn, kRgbControlOff,
                 kSpecialOn, kSpecialOff, kExtraOption, kLightOnly, kCalibrate, kAlign, kDiagnostics,
                 kSpecialLabel, kRgbControlLabel, kCalibrationLabel})
    controls_[id];
}

float& ExtendedPageModel::GammaField(int id) {
  if (id == kGammaGreen) return s_.GammaGreen;
  if (id == kGammaBlue) return s_.GammaBlue;
  return s_.GammaRed;
}

void ExtendedPageModel::OnInitDialog() {
  ControlState& slider = controls_[kBrightness];
  slider.low = 1;
  slider.high = s_.ScannerType == 80 ? 20 : 50;
  slider.tick = 5;
  for (float* g : {&s_.GammaRed, &s_.GammaGreen, &s_.GammaBlue})
    if (*g < 0.0f) *g = 1.0f;
  OnSetActive();
}

void ExtendedPageModel::OnSetActive() {
  for (float* g : {&s_.GammaRed, &s_.GammaGreen, &s_.GammaBlue})
    if (*g < 0.0f) *g = 1.0f;
  RepairPageFields(s_);
  SetRadio({kRgbControlOn, kRgbControlOff}, s_.RgbControl == 1 ? kRgbControlOn : kRgbControlOff);
  SetRadio({kSpecialOn, kSpecialOff}, s_.SpecialWindowOption == 1 ? kSpecialOn : kSpecialOff);

  const int32_t model = s_.ModelCode;
  const bool special = model == 17 || model == 21;
  for (int id : {kSpecialOn, kSpecialOff, kSpecialLabel}) controls_[id].shown = special;

  controls_[kBrightness].position = s_.ScanBrightness;
  controls_[kBrightnessLabel].text = std::to_string(s_.ScanBrightness);
  for (int id : {kGammaRed, kGammaGreen, kGammaBlue}) controls_[id].text = GammaText(GammaField(id));

  for (int id : {kRgbControlOn, kRgbControlOff, kRgbControlLabel}) controls_[id].shown = false;
  const bool idle = !Scanning();
  for (int id : {kBrightness, kGammaRed, kGammaGreen, kGammaBlue, kCalibrate, kAlign, kDiagnostics})
    controls_[id].enabled = idle;

  const bool kelvane = s_.ScannerType == 80;
  if (s_.ScannerVariant == 1 || model == 13 || kelvane) controls_[kAlign].enabled = controls_[kDiagnostics].enabled = false;
  if (s_.ScannerSubType == 0) {
    for (int id : {kGammaRed, kGammaGreen, kGammaBlue}) controls_[id].enabled = false;
    for (int id : {kRgbControlOn, kRgbControlOff, kRgbControlLabel}) controls_[id].shown = false;
  }
  if (model == 2 || model == 5 || model == 6 || model == 15) controls_[kAlign].enabled = false;
  if (kelvane) {
    const bool rgb = (model >= 61 && model <= 65) || (model >= 97 && model <= 104) || model == 106 || model == 107;
    for (int id : {kRgbControlOn, kRgbControlOff, kRgbControlLabel}) controls_[id].shown = rgb;
    if (!rgb) {
      s_.RgbControl = 0;
      SetRadio({kRgbControlOn, kRgbControlOff}, kRgbControlOff);
    }
    for (int id : {kCalibrate, kLightOnly, kCalibrationLabel}) controls_[id].enabled = false;
  }
  controls_[kExtraOption].checked = s_.WindowExtraOption != 0;
  controls_[kExtraOption].enabled = s_.FirmwareAtLeast != 0 && idle;
  controls_[kLightOnly].checked = s_.LightCalibrationOnly != 0;
}

void ExtendedPageModel::OnBrightnessScroll() {
  const ControlState& slider = controls_[kBrightness];
  const int position = std::clamp(slider.position, slider.low, std::max(slider.low, slider.high));
  s_.ScanBrightness = position;
  controls_[kBrightnessLabel].text = std::to_string(position);
}

void ExtendedPageModel::OnKillFocusGamma(int id) {
  if (id != kGammaRed && id != kGammaGreen && id != kGammaBlue) return;
  const float g = GammaFromText(controls_[id].text);
  GammaField(id) = g;
  controls_[id].text = GammaText(g);
  if (s_.ExtraSettingsFeature == 0) {
    for (int other : {kGammaRed, kGammaGreen, kGammaBlue}) {
      GammaField(other) = g;
      controls_[other].text = GammaText(g);
    }
  }
}

void ExtendedPageModel::OnRadio(int id) {
  switch (id) {
    case kRgbControlOn:
    case kRgbControlOff:
      s_.RgbControl = id == kRgbControlOn ? 1 : 0;
      SetRadio({kRgbControlOn, kRgbControlOff}, id);
      break;
    case kSpecialOn:
    case kSpecialOff:
      s_.SpecialWindowOption = id == kSpecialOn ? 1 : 0;
      SetRadio({kSpecialOn, kSpecialOff}, id);
      break;
    default: break;
  }
}

void ExtendedPageModel::OnCheck(int id) {
  const uint8_t v = controls_[id].checked ? 1 : 0;
  if (id == kExtraOption) s_.WindowExtraOption = v;
  if (id == kLightOnly) s_.LightCalibrationOnly = v;
}

void ExtendedPageModel::OnCalibrate() { host_.SendToFrame(WM_SCANNER_CALIBRATE); }
void ExtendedPageModel::OnAlign() { host_.SendToFrame(WM_SCANNER_ALIGN); }
void ExtendedPageModel::OnDiagnostics() { host_.PostToFrame(WM_SCANNER_DIAGNOSTICS); }

// ---- media handling page --------------------------------------------------------------

using namespace media_ids;

double LengthFromText(const std::string& text, int32_t unit, int32_t dpi, double low, double high) {
  std::string inches = text;
  if (unit == 1 || unit == 2) inches = FormatLength(0, ParseLength(text, dpi, unit), dpi);
  double v = ParseDecimal(inches);
  if (std::isnan(v)) v = low;
  return std::clamp(v, low, high);
}

std::string LengthText(double inches, int32_t unit, int32_t dpi) {
  // Pixels are rounded by size, so a negative length shows as far from 0 as the positive
  // one (rounding up would take half a pixel off a negative length).
  const int32_t pixels = ParseLength(FormatFixed(std::fabs(inches), 2, 2), dpi, 0);
  return FormatLength(unit, inches < 0 ? -int64_t{pixels} : pixels, dpi);
}

MediaPageModel::MediaPageModel(ScanSettingsPageHost& host, ScanSettingsRecord& scan, MiscSettingsRecord& misc)
    : SettingsPageModel(host, scan, misc) {
  for (int id : {kMediaHandling0, kMediaHandling1, kMediaHandling2, kUnload, kManualTransport, kVendorOption,
                 kLeftEdge0, kLeftEdge1, kLeftEdge1Alt, kSpeed, kSpeedLabel, kDelay, kDelayLabel, kStaging, kRunOn,
                 kTemplate1362, kTemplate1363, kTemplate1365, kTemplate1366, kTemplate1432, kTemplate1433})
    controls_[id];
}

void MediaPageModel::OnInitDialog() {
  ControlState& speed = controls_[kSpeed];
  speed.low = 1;
  speed.high = 8;
  speed.tick = 1;
  ControlState& delay = controls_[kDelay];
  delay.low = 0;
  delay.high = 5;
  delay.tick = 1;
  if (s_.PaperEndDetection == 1) {
    const std::string a = host_.String(settings_strings::kStagingCaption0);
    const std::string b = host_.String(settings_strings::kStagingCaption2);
    if (!a.empty()) controls_[kMediaHandling0].text = a;
    if (!b.empty()) controls_[kMediaHandling2].text = b;
  }
  OnSetActive();
}

void MediaPageModel::ShowLengths() {
  controls_[kStaging].text = LengthText(s_.StagingPosition, m_.LengthUnit, 100);
  controls_[kRunOn].text = LengthText(s_.RunOnLength, m_.LengthUnit, 1000);
}

void MediaPageModel::OnSetActive() {
  RepairPageFields(s_);
  static constexpr int kMediaRadios[3] = {kMediaHandling0, kMediaHandling1, kMediaHandling2};
  SetRadio({kMediaHandling0, kMediaHandling1, kMediaHandling2}, kMediaRadios[s_.MediaHandlingByte]);
  controls_[kVendorOption].checked = s_.WindowVendorOption != 0;
  controls_[kUnload].checked = s_.UnloadMode == 1;

  // Showing the page passes the transport settings to the scanner again.
  s_.ManualTransport = s_.ManualTransport ? 0 : 1;
  OnManualTransportClick();

  ShowLengths();
  controls_[kSpeed].position = s_.ScanSpeed;
  controls_[kSpeedLabel].text = std::to_string(s_.ScanSpeed);
  controls_[kDelay].position = s_.AutoLoadDelay;
  controls_[kDelayLabel].text = std::to_string(s_.AutoLoadDelay);

  const bool idle = !Scanning();
  for (int id : {kMediaHandling0, kMediaHandling1, kMediaHandling2, kLeftEdge0, kLeftEdge1, kSpeed})
    controls_[id].enabled = idle;
  for (int id : {kVendorOption, kUnload, kLeftEdge1Alt, kStaging, kRunOn}) controls_[id].shown = false;
  // The labels of the two lengths go with their edits.
  controls_[kTemplate1365].shown = controls_[kTemplate1366].shown = false;

  const int32_t model = s_.ModelCode;
  const bool altEdge = Kelvane() && model >= 60 && model <= 65;
  controls_[kLeftEdge1].shown = !altEdge;
  controls_[kLeftEdge1Alt].shown = altEdge;
  if (s_.MediaFeature) {
    s_.LeftOffsetMode = 1;
    for (int id : {kLeftEdge0, kLeftEdge1, kLeftEdge1Alt}) controls_[id].enabled = false;
  }
  if (s_.LeftOffsetMode != 0) {
    SetRadio({kLeftEdge0, kLeftEdge1, kLeftEdge1Alt}, altEdge ? kLeftEdge1Alt : kLeftEdge1);
  } else {
    s_.LeftOffsetMode = 0;
    SetRadio({kLeftEdge0, kLeftEdge1, kLeftEdge1Alt}, kLeftEdge0);
  }

  if (s_.ScannerType != 1) {
    controls_[kRunOn].enabled = false;
    controls_[kDelay].shown = controls_[kDelayLabel].shown = false;
  }
  if (s_.PaperEndDetection == 1) {
    for (int id : {kDelayLabel, kDelay, kManualTransport, kLeftEdge0, kLeftEdge1, kMediaHandling1, kVendorOption,
                   kUnload, kRunOn, kTemplate1362, kTemplate1365, kTemplate1366, kTemplate1433})
      controls_[id].shown = false;
    controls_[kTemplate1363].enabled = false;
  }
  if (Kelvane()) {
    for (int id : {kDelayLabel, kDelay, kManualTransport}) controls_[id].shown = false;
    if (model >= 81 && model <= 86) controls_[kLeftEdge0].enabled = controls_[kLeftEdge1].enabled = false;
    controls_[kMediaHandling0].enabled = model >= 84;
    controls_[kMediaHandling1].enabled = true;
    for (int id : {kVendorOption, kUnload, kStaging, kRunOn}) controls_[id].enabled = false;
    for (int id : {kTemplate1362, kTemplate1365, kTemplate1366, kTemplate1432, kTemplate1433})
      controls_[id].shown = false;
    controls_[kTemplate1363].enabled = true;
  }
}

void MediaPageModel::OnMediaRadio(int id) {
  static constexpr int kMediaRadios[3] = {kMediaHandling0, kMediaHandling1, kMediaHandling2};
  for (uint8_t v = 0; v < 3; ++v) {
    if (kMediaRadios[v] != id) continue;
    s_.MediaHandlingByte = v;
    SetRadio({kMediaHandling0, kMediaHandling1, kMediaHandling2}, id);
  }
}

void MediaPageModel::OnLeftEdgeRadio(int id) {
  if (id != kLeftEdge0 && id != kLeftEdge1 && id != kLeftEdge1Alt) return;
  s_.LeftOffsetMode = id == kLeftEdge0 ? 0 : 1;
  SetRadio({kLeftEdge0, kLeftEdge1, kLeftEdge1Alt}, id);
}

void MediaPageModel::OnUnloadClick() {
  s_.UnloadMode = s_.UnloadMode ? 0 : 1;
  controls_[kUnload].checked = s_.UnloadMode != 0;
}

void MediaPageModel::OnVendorOptionClick() {
  s_.WindowVendorOption = controls_[kVendorOption].checked ? 1 : 0;
}

void MediaPageModel::OnManualTransportClick() {
  s_.ManualTransport = s_.ManualTransport ? 0 : 1;
  controls_[kManualTransport].checked = s_.ManualTransport != 0;
  // The delay slider goes with its label; neither is offered where the scanner has no
  // automatic load delay.
  const bool delayOffered = s_.ScannerType == 1 && s_.PaperEndDetection != 1 && !Kelvane();
  controls_[kDelay].shown = controls_[kDelayLabel].shown = s_.ManualTransport == 0 && delayOffered;
  host_.SendToFrame(WM_APPLY_PAPER_TRANSPORT);
}

void MediaPageModel::OnScroll(int sliderId, SliderCode code) {
  ControlState& slider = controls_[sliderId];
  const int position = std::clamp(slider.position, slider.low, std::max(slider.low, slider.high));
  if (sliderId == kSpeed) {
    s_.ScanSpeed = position;
    controls_[kSpeedLabel].text = std::to_string(position);
  } else if (sliderId == kDelay) {
    s_.AutoLoadDelay = position;
    controls_[kDelayLabel].text = std::to_string(position);
    if (code == SliderCode::LineLeft || code == SliderCode::LineRight || code == SliderCode::ThumbPosition)
      host_.SendToFrame(WM_APPLY_PAPER_TRANSPORT);
  }
}

void MediaPageModel::OnKillFocusStaging() {
  s_.StagingPosition = LengthFromText(controls_[kStaging].text, m_.LengthUnit, 100, -0.5, 0.5);
  ShowLengths();
}

void MediaPageModel::OnKillFocusRunOn() {
  s_.RunOnLength = LengthFromText(controls_[kRunOn].text, m_.LengthUnit, 1000, 0.0, 1.0);
  ShowLengths();
}

}  // namespace orb
