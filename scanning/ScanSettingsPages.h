// The general, extended and media handling pages of the scan settings sheet without widgets.
//
// Like the scan output page's model, each keeps its controls' states keyed by control id,
// writes the scan settings record at once from its handlers (nothing is buffered, so there
// is nothing to commit or throw away) and says what to show. The wx pages copy what the
// user changed into the model before a handler runs and show the states afterwards.
// Messages to the main frame, message boxes and the file and option dialogs go through
// ScanSettingsPageHost.
//
// A value of the record that a page cannot show (an index outside its list, a position
// outside its slider, a length outside its limits, a gamma that is not a number) is replaced
// by the field's default when the page is shown, so the page and the next scan agree.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/Settings.h"
#include "scanning/ScanOutputPageModel.h"

namespace orb {

// ---- general page ---------------------------------------------------------------------
namespace general_ids {
inline constexpr int kFormatRgb = 1047;
inline constexpr int kFormatPalette = 1049;
inline constexpr int kFormatGrey = 1050;
inline constexpr int kFormatBilevel = 1052;
inline constexpr int kOptionsRgb = 1450;
inline constexpr int kOptionsPalette = 1451;
inline constexpr int kOptionsGrey = 1452;
inline constexpr int kOptionsBilevel = 1453;
inline constexpr int kPalette16File = 1024;
inline constexpr int kPalette16Auto = 1023;
inline constexpr int kPalette256File = 1022;
inline constexpr int kPalette256Auto = 1025;
inline constexpr int kPalette16Edit = 1030;
inline constexpr int kPalette16Browse = 1031;
inline constexpr int kPalette256Edit = 1028;
inline constexpr int kPalette256Browse = 1029;
inline constexpr int kHighResRgb = 1340;
inline constexpr int kHighResBilevel = 1341;
inline constexpr int kHighResGrey = 1342;
// Labels of the template that go with the colour settings.
inline constexpr int kColourLabel1 = 1101;
inline constexpr int kColourLabel2 = 1106;
inline constexpr int kColourLabel3 = 1435;
}  // namespace general_ids

namespace settings_strings {
inline constexpr int kFormatListRgb = 33105;
inline constexpr int kFormatListPalette = 33106;
inline constexpr int kFormatListBilevel = 33107;
inline constexpr int kFormatListGrey = 33108;
inline constexpr int kBadPalette = 33075;
inline constexpr int kFolderMissing = 33006;
inline constexpr int kNameIsFolder = 33007;
inline constexpr int kStagingCaption0 = 1289;
inline constexpr int kStagingCaption2 = 1290;
}  // namespace settings_strings

namespace settings_bitmaps {
inline constexpr int kHighRes = 295;
inline constexpr int kOptions = 326;
}  // namespace settings_bitmaps

// The options dialog of an output format.
enum class FormatOptionsDialog : int { None = -1, Quality = 0, Tiff = 10 };
struct FormatOptions {
  bool enabled;
  FormatOptionsDialog dialog;
  int argument;
};
// The options of row `row` of a format group (0 colour, 1 palette, 2 grey, 3 black and
// white); a row outside the group has none.
FormatOptions FormatOptionsFor(int group, int row);

class ScanSettingsPageHost {
 public:
  virtual ~ScanSettingsPageHost() = default;
  virtual intptr_t SendToFrame(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0) = 0;
  virtual void PostToFrame(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0) = 0;
  // A string of the language module; empty when it has none.
  virtual std::string String(int id) = 0;
  // A message box with an exclamation mark.
  virtual void ShowMessage(int id) = 0;
  // The open-file dialog for a palette file, starting at `path`; nullopt on Cancel.
  virtual std::optional<std::string> BrowsePaletteFile(const std::string& path) {
    (void)path;
    return std::nullopt;
  }
  // The compression-quality or TIFF options dialog, modal.
  virtual void RunFormatOptions(FormatOptionsDialog dialog, int argument) {
    (void)dialog;
    (void)argument;
  }
  // The process-wide status word.
  virtual uint32_t Status();
};

// Controls and handlers shared by the pages.
class SettingsPageModel {
 public:
  SettingsPageModel(ScanSettingsPageHost& host, ScanSettingsRecord& scan, MiscSettingsRecord& misc)
      : host_(host), s_(scan), m_(misc) {}
  ControlState& Control(int id) { return controls_[id]; }
  const std::map<int, ControlState>& Controls() const { return controls_; }

 protected:
  bool Scanning() const;
  void SetRadio(std::initializer_list<int> group, int checkedId);
  void SetCaretAtEnd(int id, const std::string& text);

  ScanSettingsPageHost& host_;
  ScanSettingsRecord& s_;
  MiscSettingsRecord& m_;
  std::map<int, ControlState> controls_;
};

class GeneralPageModel : public SettingsPageModel {
 public:
  GeneralPageModel(ScanSettingsPageHost& host, ScanSettingsRecord& scan = ScanSettings,
                   MiscSettingsRecord& misc = MiscSettings);

  void OnInitDialog();
  void OnSetActive();
  // A format box closed up on its selection (group 0 colour .. 3 black and white).
  void OnFormatCloseUp(int group);
  void OnFormatOptions(int group);
  void OnPaletteRadio(int id);
  void OnBrowsePalette(int colours);
  void OnSetFocusPalette(int colours);
  void OnKillFocusPalette(int colours);
  void OnHighRes(int id);

  // Whether `path` is a palette file for the `colours` (16 or 256) palette mode; refuses it
  // with message 33075 otherwise (an unreadable file too). Reads the file only: no table of
  // the program changes.
  bool CheckPaletteFile(const std::string& path, int colours);

  static int FormatBoxOf(int group);
  static int OptionsButtonOf(int group);

  // The edit that is to take the focus back after a refused path (0: none); the view
  // clears it.
  int refocus = 0;

 private:
  int32_t& FormatIndex(int group);
  void StorePalette(int colours, const std::string& path);
};

// ---- extended page --------------------------------------------------------------------
namespace extended_ids {
inline constexpr int kBrightness = 1084;
inline constexpr int kBrightnessLabel = 1034;
inline constexpr int kGammaRed = 1037;
inline constexpr int kGammaGreen = 1038;
inline constexpr int kGammaBlue = 1039;
inline constexpr int kRgbControlOn = 1296;
inline constexpr int kRgbControlOff = 1297;
inline constexpr int kSpecialOn = 1298;
inline constexpr int kSpecialOff = 1299;
inline constexpr int kExtraOption = 1373;
inline constexpr int kLightOnly = 1374;
inline constexpr int kCalibrate = 1051;
inline constexpr int kAlign = 1054;
inline constexpr int kDiagnostics = 1117;
inline constexpr int kSpecialLabel = 1431;
inline constexpr int kRgbControlLabel = 1434;
inline constexpr int kCalibrationLabel = 1436;
}  // namespace extended_ids

// The gamma a typed text gives: read as a decimal number, limited to 0 .. 10.
float GammaFromText(const std::string& text);
// A gamma as the page shows it ("%2.1f").
std::string GammaText(float gamma);

class ExtendedPageModel : public SettingsPageModel {
 public:
  ExtendedPageModel(ScanSettingsPageHost& host, ScanSettingsRecord& scan = ScanSettings,
                    MiscSettingsRecord& misc = MiscSettings);

  void OnInitDialog();
  void OnSetActive();
  void OnBrightnessScroll();  // reads the slider's position
  void OnKillFocusGamma(int id);
  void OnRadio(int id);
  void OnCheck(int id);
  void OnCalibrate();
  void OnAlign();
  void OnDiagnostics();

 private:
  float& GammaField(int id);
};

// ---- media handling page --------------------------------------------------------------
namespace media_ids {
inline constexpr int kMediaHandling0 = 1040;
inline constexpr int kMediaHandling1 = 1041;
inline constexpr int kMediaHandling2 = 1042;
inline constexpr int kUnload = 1229;
inline constexpr int kManualTransport = 1231;
inline constexpr int kVendorOption = 1043;
inline constexpr int kLeftEdge0 = 1132;
inline constexpr int kLeftEdge1 = 1134;
inline constexpr int kLeftEdge1Alt = 1133;
inline constexpr int kSpeed = 1033;
inline constexpr int kSpeedLabel = 1036;
inline constexpr int kDelay = 1138;
inline constexpr int kDelayLabel = 1089;
inline constexpr int kStaging = 1136;
inline constexpr int kRunOn = 1137;
// Labels and frames of the template that go with the controls above.
inline constexpr int kTemplate1362 = 1362;
inline constexpr int kTemplate1363 = 1363;
inline constexpr int kTemplate1365 = 1365;
inline constexpr int kTemplate1366 = 1366;
inline constexpr int kTemplate1432 = 1432;
inline constexpr int kTemplate1433 = 1433;
}  // namespace media_ids

// Scroll codes of a slider notification.
enum class SliderCode : int {
  LineLeft = 0,
  LineRight = 1,
  PageLeft = 2,
  PageRight = 3,
  ThumbPosition = 4,
  ThumbTrack = 5,
  Left = 6,
  Right = 7,
  EndScroll = 8,
};

// A length typed in the user's unit as inches: centimetres and pixels are read at `dpi`
// (ParseLength) and turned into inches (FormatLength) first; limited to [low, high].
double LengthFromText(const std::string& text, int32_t unit, int32_t dpi, double low, double high);
// Inches in the user's unit, through "%2.2f" inches and `dpi`.
std::string LengthText(double inches, int32_t unit, int32_t dpi);

class MediaPageModel : public SettingsPageModel {
 public:
  MediaPageModel(ScanSettingsPageHost& host, ScanSettingsRecord& scan = ScanSettings,
                 MiscSettingsRecord& misc = MiscSettings);

  void OnInitDialog();
  void OnSetActive();
  void OnMediaRadio(int id);
  void OnLeftEdgeRadio(int id);
  void OnUnloadClick();
  void OnManualTransportClick();
  void OnVendorOptionClick();
  // A slider moved (the model reads its position).
  void OnScroll(int sliderId, SliderCode code);
  void OnKillFocusStaging();
  void OnKillFocusRunOn();

 private:
  bool Kelvane() const { return s_.ScannerType == 80; }
  void ShowLengths();
};

// Replaces the values of the record the settings pages cannot show by their fields'
// defaults. Returns the number of fields replaced.
int RepairPageFields(ScanSettingsRecord& s);

}  // namespace orb
