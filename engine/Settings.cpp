#include "engine/Settings.h"

#include "engine/SettingsRanges.h"

#include <cstdio>
#include <cstdlib>

#include "platform/Files.h"
#include "platform/Folders.h"

orb::ScanSettingsRecord ScanSettings;
orb::MiscSettingsRecord MiscSettings;
std::vector<_WINDOWSIZES> WindowSizes;
_WINDOWSIZES ScanWindowSize;

std::string g_szDataFolder;
std::string g_szUserFolder;
std::string g_szProgramFolder;

const std::string& DataFolder() { return g_szDataFolder; }
const std::string& ProgramFolder() { return g_szProgramFolder; }
std::string WorkingFolder() { return orb::TextField(MiscSettings.WorkingFolder); }

namespace orb {

namespace {

// The address the connection page offers until the user enters the scanner's own.
constexpr const char* kDefaultScannerAddress = "192.168.0.100";

template <class R, class V>
void VisitScanSettings(R& r, V&& v) {
  v(0, r.ScannerType);
  v(4, r.ModelCode);
  v(8, r.ScannerSubType);
  v(12, r.ScannerVariant);
  v(16, r.OpticalDpi);
  v(20, r.MaxDpi);
  v(24, r.MaxWidth);
  v(28, r.WindowVendorOption);
  v(32, r.StagingPosition);
  v(40, r.RunOnLength);
  v(48, r.MediaHandlingByte);
  v(49, r.Reserved49);
  v(51, r.OutputFileName);
  v(311, r.Reserved311);
  v(312, r.ResolutionIndex);
  v(316, r.ResolutionText);
  v(332, r.SizeMode);
  v(336, r.PaperSizeIndex);
  v(340, r.Landscape);
  v(344, r.CustomWidth);
  v(348, r.CustomLength);
  v(352, r.ColourMode);
  v(356, r.Reserved356);
  v(360, r.WhiteLevel);
  v(364, r.BlackLevel);
  v(368, r.ScanBrightness);
  v(372, r.ScanSpeed);
  v(376, r.LeftOffsetMode);
  v(380, r.GammaRed);
  v(384, r.GammaGreen);
  v(388, r.GammaBlue);
  v(392, r.AutoPalette16);
  v(396, r.AutoPalette256);
  v(400, r.Palette16File);
  v(660, r.Palette256File);
  v(920, r.BatchScan);
  v(924, r.FormatIndexRgb);
  v(928, r.FormatIndexPalette);
  v(932, r.FormatIndexGrey);
  v(936, r.FormatIndexBilevel);
  v(940, r.AreaLeft);
  v(944, r.AreaRight);
  v(948, r.AreaTop);
  v(952, r.AreaBottom);
  v(956, r.OutputIsPlainTiff);
  v(957, r.UnloadMode);
  v(958, r.RgbControl);
  v(959, r.HardwareThreshold);
  v(960, r.HighResWindow);
  v(961, r.HighResRgb);
  v(962, r.HighResBilevel);
  v(963, r.HighResGrey);
  v(964, r.ResolutionOption);
  v(965, r.Reserved965);
  v(968, r.AutoLoadDelay);
  v(972, r.Reserved972);
  v(976, r.CameraCount);
  v(980, r.FirmwareAtLeast);
  v(981, r.WindowExtraOption);
  v(982, r.LightCalibrationOnly);
  v(983, r.MediaFeature);
  v(984, r.PaperEndDetection);
  v(988, r.MaxLength);
  v(992, r.ManualTransport);
  v(993, r.NameSeparator);
  for (size_t i = 0; i < 4; ++i) {
    const size_t at = 996 + 16 * i;
    v(at, r.NameCounters[i].Start);
    v(at + 4, r.NameCounters[i].Limit);
    v(at + 8, r.NameCounters[i].Step);
    v(at + 12, r.NameCounters[i].CarryOnly);
  }
  v(1060, r.ResolutionOptionValue);
  v(1064, r.NoPadOutput);
  v(1065, r.SpecialWindowOption);
  v(1066, r.Reserved1066);
  v(1072, r.ScanStartTime);
  v(1080, r.ExtraSettingsFeature);
  v(1084, r.StoredScannerType);
  v(1088, r.Reserved1088);
  v(1092, r.StoredSubType);
  v(1096, r.StoredScannerVariant);
  v(1100, r.NetworkOption);
  v(1101, r.ScannerAddress);
  v(1117, r.Reserved1117);
  v(1120, r.NetworkPort1);
  v(1124, r.NetworkPort2);
}

template <class R, class V>
void VisitMiscSettings(R& r, V&& v) {
  v(0, r.TooltipMode);
  v(4, r.WorkingFolder);
  v(264, r.ZoomInStep);
  v(268, r.ZoomOutStep);
  v(272, r.LengthUnit);
  v(276, r.ActiveViewPage);
  v(280, r.PresetName);
  v(540, r.LanguageId);
  v(542, r.SubLanguageId);
  v(544, r.JpegQualityColour);
  v(548, r.ShowAboutBox);
  v(549, r.MagnifierShown);
  v(550, r.Reserved550);
  v(552, r.MagnifierZoom);
  v(556, r.OpenFolder);
  v(816, r.BatchCurrentSettings);
  v(817, r.BatchAutomatic);
  v(818, r.BatchLog);
  v(819, r.BatchUseFolder);
  v(820, r.BatchOutputFolder);
  v(1080, r.BatchUseFormat);
  v(1081, r.Reserved1081);
  v(1084, r.BatchFormatIndex);
  v(1088, r.BatchDelete);
  v(1089, r.BatchSchedule);
  v(1090, r.Reserved1090);
  v(1092, r.BatchRunYear);
  v(1096, r.BatchRunMonth);
  v(1100, r.BatchRunDay);
  v(1104, r.BatchRunHour);
  v(1108, r.BatchRunMinute);
  v(1112, r.BatchRunSecond);
  v(1116, r.BatchAddFolder);
  v(1376, r.BatchFolder);
  v(1636, r.ShowSettingsSheets);
  v(1637, r.DragScroll);
  v(1638, r.LosslessJpeg2000);
  v(1639, r.Reserved1639);
  v(1640, r.Jpeg2000Quality);
  v(1644, r.DisplayOption);
  v(1648, r.MagnifierDiameter);
  v(1652, r.ScanLogEnabled);
  v(1653, r.Reserved1653);
  v(1656, r.PdfJpegQualityColour);
  v(1660, r.PdfJpegQualityGrey);
  v(1664, r.JpegQualityGrey);
  v(1668, r.TiffJpegQualityColour);
  v(1672, r.IccProfile);
  v(1932, r.TiffCopyright);
  v(2192, r.TiffArtist);
  v(2452, r.LastSaveAsPath);
  v(2712, r.LastSaveAsType);
  v(2716, r.LastSaveAsKind);
}

// A default path built from a folder: set when it fits, else the field is emptied so
// that no cut (and therefore wrong) path is ever used.
template <size_t N>
void SetDefaultPath(char (&field)[N], const std::string& path) {
  if (!SetTextField(field, path)) {
    std::memset(field, 0, N);
    std::fprintf(stderr, "orbalon: path too long for a settings field: %s\n", path.c_str());
  }
}

_WINDOWSIZES MakeSize(const char* name, int32_t width, int32_t length) {
  _WINDOWSIZES w;
  SetTextField(w.Name, name);
  w.Width = width;
  w.Length = length;
  return w;
}

bool FitsScanner(const _WINDOWSIZES& w) {
  return w.Width <= ScanSettings.MaxWidth && w.Length <= ScanSettings.MaxLength;
}

}  // namespace

// ---- data folder files ---------------------------------------------------------------

std::string DataFile(const char* name) { return JoinPath(g_szDataFolder, name); }

bool WriteDataFile(const char* name, const uint8_t* bytes, size_t size) {
  if (g_szDataFolder.empty()) return false;
  EnsureFolder(g_szDataFolder);
  std::string error;
  if (!WriteFileAtomically(DataFile(name), bytes, size, &error)) {
    std::fprintf(stderr, "orbalon: %s\n", error.c_str());
    return false;
  }
  return true;
}

// ---- records ------------------------------------------------------------------------

ScanSettingsRecord::ScanSettingsRecord() {
  SetTextField(ResolutionText, "100 dpi");
  SetTextField(ScannerAddress, kDefaultScannerAddress);
}

void ScanSettingsRecord::Encode(uint8_t* out) const { VisitScanSettings(*this, FieldWriter{out}); }
void ScanSettingsRecord::Decode(const uint8_t* in) { VisitScanSettings(*this, FieldReader{in}); }

MiscSettingsRecord::MiscSettingsRecord() { SetTextField(PresetName, "_FactoryDefaults"); }

void MiscSettingsRecord::Encode(uint8_t* out) const { VisitMiscSettings(*this, FieldWriter{out}); }
void MiscSettingsRecord::Decode(const uint8_t* in) { VisitMiscSettings(*this, FieldReader{in}); }

template <class R>
bool SameBytes(const R& a, const R& b) {
  uint8_t x[R::kSize], y[R::kSize];
  a.Encode(x);
  b.Encode(y);
  return std::memcmp(x, y, R::kSize) == 0;
}

bool ScanSettingsRecord::operator==(const ScanSettingsRecord& o) const { return SameBytes(*this, o); }
bool MiscSettingsRecord::operator==(const MiscSettingsRecord& o) const { return SameBytes(*this, o); }

std::vector<FieldSpan> ScanSettingsLayout() {
  std::vector<FieldSpan> spans;
  ScanSettingsRecord r;
  VisitScanSettings(r, FieldLayout{&spans});
  return spans;
}

std::vector<FieldSpan> MiscSettingsLayout() {
  std::vector<FieldSpan> spans;
  MiscSettingsRecord r;
  VisitMiscSettings(r, FieldLayout{&spans});
  return spans;
}

const std::vector<_WINDOWSIZES>& BuiltInWindowSizes() {
  static const std::vector<_WINDOWSIZES> table = {
      MakeSize("ANSI A  8.5 x 11\"", 850, 1100),   MakeSize("ANSI B  11 x 17\"", 1100, 1700),
      MakeSize("ANSI C  17 x 22\"", 1700, 2200),   MakeSize("ANSI D  22 x 34\"", 2200, 3400),
      MakeSize("ANSI E  34 x 44\"", 3400, 4400),   MakeSize("ANSI E+ 36 x 46\"", 3600, 4600),
      MakeSize("ARCH A   9 x 12\"", 900, 1200),    MakeSize("ARCH B  12 x 18\"", 1200, 1800),
      MakeSize("ARCH C  18 x 24\"", 1800, 2400),   MakeSize("ARCH D  24 x 36\"", 2400, 3600),
      MakeSize("ARCH E  36 x 48\"", 3600, 4800),   MakeSize("ISO A0  84 x 118cm", 3307, 4677),
      MakeSize("ISO A1  59.4 x 84cm", 2339, 3307), MakeSize("ISO A2  42 x 59.4cm", 1654, 2339),
      MakeSize("ISO A3  29.7 x 42cm", 1169, 1654), MakeSize("ISO A4  21 x 29.7cm", 827, 1169),
  };
  return table;
}

void SetUpProcessFolders() {
  g_szDataFolder = DataFolderPath();
  g_szUserFolder = UserFolderPath();
  g_szProgramFolder = ProgramFolderPath();
  EnsureUserFolders();
}

const std::vector<uint32_t>& OutputFormatList(int imageKind) {
  static const std::vector<uint32_t> colour = {2, 5, 0x40004, 3, 1, 0x10001, 0x40001, 6};
  static const std::vector<uint32_t> palette = {3, 1, 0x10001, 6};
  static const std::vector<uint32_t> grey = {2, 0x40004, 3, 1, 0x10001, 6};
  static const std::vector<uint32_t> bilevel = {0x30004, 1, 0x20001, 0x30001, 0x10001, 6};
  static const std::vector<uint32_t> none;
  switch (imageKind) {
    case 0: return colour;
    case 1:
    case 2: return palette;
    case 3:
    case 5: return grey;
    case 4:
    case 6: return bilevel;
    default: return none;
  }
}

uint32_t ChosenOutputFormat(const ScanSettingsRecord& s, int imageKind) {
  int32_t choice;
  switch (imageKind) {
    case 0: choice = s.FormatIndexRgb; break;
    case 1:
    case 2: choice = s.FormatIndexPalette; break;
    case 3:
    case 5: choice = s.FormatIndexGrey; break;
    case 4:
    case 6: choice = s.FormatIndexBilevel; break;
    default: return 0;
  }
  const auto& list = OutputFormatList(imageKind);
  if (choice < 0 || static_cast<size_t>(choice) >= list.size()) return 0;
  return list[static_cast<size_t>(choice)];
}

void LocaleLanguageIds(uint16_t* primary, uint16_t* sub) {
  const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::string locale;
  for (const char* n : names) {
    const char* v = std::getenv(n);
    if (v && *v) {
      locale = v;
      break;
    }
  }
  std::string lang = locale.substr(0, locale.find_first_of("_.@"));
  std::string region;
  size_t us = locale.find('_');
  if (us != std::string::npos) region = locale.substr(us + 1, 2);

  struct Lang {
    const char* code;
    uint16_t id;
  };
  static const Lang langs[] = {
      {"ar", 1},  {"bg", 2},  {"ca", 3},  {"zh", 4},  {"cs", 5},  {"da", 6},  {"de", 7},
      {"el", 8},  {"en", 9},  {"es", 10}, {"fi", 11}, {"fr", 12}, {"he", 13}, {"hu", 14},
      {"is", 15}, {"it", 16}, {"ja", 17}, {"ko", 18}, {"nl", 19}, {"nb", 20}, {"no", 20},
      {"pl", 21}, {"pt", 22}, {"ro", 24}, {"ru", 25}, {"hr", 26}, {"sk", 27}, {"sq", 28},
      {"sv", 29}, {"th", 30}, {"tr", 31}, {"id", 33}, {"uk", 34}, {"sl", 36}, {"et", 37},
      {"lv", 38}, {"lt", 39}, {"vi", 42},
  };
  // Country variants that are not the language's first sub-language.
  struct Variant {
    const char* lang;
    const char* region;
    uint16_t sub;
  };
  static const Variant variants[] = {
      {"en", "GB", 2}, {"en", "AU", 3}, {"en", "CA", 4}, {"en", "NZ", 5}, {"en", "IE", 6},
      {"de", "CH", 2}, {"de", "AT", 3}, {"fr", "BE", 2}, {"fr", "CA", 3}, {"fr", "CH", 4},
      {"es", "MX", 2}, {"es", "ES", 3}, {"it", "CH", 2}, {"nl", "BE", 2}, {"pt", "PT", 2},
      {"zh", "CN", 2}, {"sv", "FI", 2},
  };
  *primary = 9;
  *sub = 1;
  for (const Lang& l : langs) {
    if (lang == l.code) {
      *primary = l.id;
      for (const Variant& v : variants)
        if (lang == v.lang && region == v.region) *sub = v.sub;
      return;
    }
  }
}

}  // namespace orb

// ---- _WINDOWSIZES --------------------------------------------------------------------

void _WINDOWSIZES::Encode(uint8_t* out) const {
  std::memcpy(out, Name, sizeof Name);
  orb::PutI32LE(out + 64, Width);
  orb::PutI32LE(out + 68, Length);
  orb::PutI32LE(out + 72, Left);
  orb::PutI32LE(out + 76, Top);
}

void _WINDOWSIZES::Decode(const uint8_t* in) {
  std::memcpy(Name, in, sizeof Name);
  Width = orb::GetI32LE(in + 64);
  Length = orb::GetI32LE(in + 68);
  Left = orb::GetI32LE(in + 72);
  Top = orb::GetI32LE(in + 76);
}

// ---- load and save --------------------------------------------------------------------

int LoadScanData() {
  auto& s = ScanSettings;
  orb::SetDefaultPath(s.OutputFileName, orb::JoinPath(g_szUserFolder, "images/Scan-0001.tif"));
  orb::SetDefaultPath(s.Palette16File, orb::JoinPath(g_szDataFolder, "def16.apt"));
  orb::SetDefaultPath(s.Palette256File, orb::JoinPath(g_szDataFolder, "def256.apt"));
  s.GammaRed = s.GammaGreen = s.GammaBlue = -1.0f;
  s.FormatIndexRgb = 4;
  s.FormatIndexPalette = 1;
  s.FormatIndexGrey = 3;
  s.FormatIndexBilevel = 1;
  s.ScanBrightness = -1;
  s.ColourMode = -1;
  if (!g_szDataFolder.empty()) {
    if (auto bytes = orb::ReadFileBytes(orb::DataFile(orb::kScanDataFile),
                                        orb::ScanSettingsRecord::kSize)) {
      orb::ApplyFilePrefix(s, *bytes);
    }
  }
  orb::SetTextField(s.ResolutionText, "100 dpi");
  orb::KeepScanSettingsInRange(s);
  return 0;
}

SettingsWrite SaveScanData() {
  auto& s = ScanSettings;
  s.StoredScannerType = s.ScannerType;
  s.StoredSubType = s.ScannerSubType;
  s.StoredScannerVariant = s.ScannerVariant;
  uint8_t bytes[orb::ScanSettingsRecord::kSize];
  s.Encode(bytes);
  return orb::WriteDataFile(orb::kScanDataFile, bytes, sizeof bytes) ? SettingsWrite::Written : SettingsWrite::Failed;
}

int LoadMiscData() {
  auto& m = MiscSettings;
  std::string images = orb::JoinPath(g_szUserFolder, "images");
  orb::SetDefaultPath(m.WorkingFolder, g_szUserFolder);
  orb::SetDefaultPath(m.OpenFolder, images);
  orb::SetDefaultPath(m.BatchOutputFolder, images);
  std::optional<std::vector<uint8_t>> bytes;
  if (!g_szDataFolder.empty())
    bytes = orb::ReadFileBytes(orb::DataFile(orb::kMiscDataFile), orb::MiscSettingsRecord::kSize);
  if (bytes && bytes->size() >= 2) {
    orb::ApplyFilePrefix(m, *bytes);
  } else {
    orb::LocaleLanguageIds(&m.LanguageId, &m.SubLanguageId);
  }
  orb::KeepMiscSettingsInRange(m);
  return 0;
}

SettingsWrite SaveMiscData() {
  uint8_t bytes[orb::MiscSettingsRecord::kSize];
  MiscSettings.Encode(bytes);
  return orb::WriteDataFile(orb::kMiscDataFile, bytes, sizeof bytes) ? SettingsWrite::Written : SettingsWrite::Failed;
}

int LoadWindowSizes() {
  WindowSizes.clear();
  std::optional<std::vector<uint8_t>> bytes;
  // A paper-size table of more than a few thousand entries is not a paper-size table.
  constexpr size_t kMaxEntries = 65536;
  if (!g_szDataFolder.empty())
    bytes = orb::ReadFileBytes(orb::DataFile(orb::kWindowSizesFile),
                               kMaxEntries * _WINDOWSIZES::kSize);
  if (bytes && bytes->size() >= 2) {
    for (size_t at = 0; at + _WINDOWSIZES::kSize <= bytes->size(); at += _WINDOWSIZES::kSize) {
      _WINDOWSIZES w;
      w.Decode(bytes->data() + at);
      if (orb::FitsScanner(w)) WindowSizes.push_back(w);
    }
  } else {
    for (const _WINDOWSIZES& w : orb::BuiltInWindowSizes()) {
      if (w.Name[0] == 0) break;
      if (orb::FitsScanner(w)) WindowSizes.push_back(w);
    }
  }
  return 0;
}

SettingsWrite SaveWindowSizes() {
  std::vector<uint8_t> bytes(WindowSizes.size() * _WINDOWSIZES::kSize);
  for (size_t i = 0; i < WindowSizes.size(); ++i)
    WindowSizes[i].Encode(bytes.data() + i * _WINDOWSIZES::kSize);
  return orb::WriteDataFile(orb::kWindowSizesFile, bytes.data(), bytes.size()) ? SettingsWrite::Written : SettingsWrite::Failed;
}
