// The program's settings records and their files in the data folder.
//
//   "ScanData.dat"    ScanSettings   1128 bytes   scan settings, scanner identity, network
//   "MiscData.dat"    MiscSettings   2720 bytes   program settings
//   "WindowSizes.dat" paper sizes    80 bytes an entry, no header
//   "ScanLogTots.dat" ScanLogTotals  56 bytes     counters of the scan log (engine/ScanLog.h)
//
// Each record is a plain struct with fixed-width fields that every part of the program
// reads and writes directly, and an explicit little-endian byte codec: the layout on disk
// never depends on the compiler. Reserved bytes and the bytes after a text field's
// terminator are kept as read, so a load followed by a save reproduces the file byte for
// byte. A settings file shorter than 2 bytes counts as missing; a short file replaces a
// prefix of the record and leaves the rest at its defaults. Saves replace the file
// atomically (temporary file, then rename).
//
// Text fields hold UTF-8, NUL-terminated within their size; path fields are set with
// orb::SetTextField, which refuses (rather than cuts) a path that does not fit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine/RecordFields.h"
#include "platform/Bytes.h"

namespace orb {

// Size of every path field of the records.
inline constexpr size_t kPathField = 260;

// Sets a fixed text field when the whole text fits with its terminator; otherwise leaves
// the field unchanged and returns false (a cut path would name another file).
template <size_t N>
bool SetTextField(char (&field)[N], std::string_view text) {
  if (text.size() >= N || text.find('\0') != std::string_view::npos) return false;
  std::memcpy(field, text.data(), text.size());
  std::memset(field + text.size(), 0, N - text.size());
  return true;
}
// Reads a fixed text field up to its terminator (the whole field when it has none).
template <size_t N>
std::string TextField(const char (&field)[N]) {
  return GetText(reinterpret_cast<const uint8_t*>(field), N);
}

// One file-naming counter group of the scan settings.
struct NameCounter {
  int32_t Start = 1;
  int32_t Limit = 9999;
  int32_t Step = 1;
  int32_t CarryOnly = 0;  // a byte in an int32 slot
};

// "ScanData.dat". Comments give the byte offset of each field.
struct ScanSettingsRecord {
  static constexpr size_t kSize = 1128;

  int32_t ScannerType = 0;          // 0: 0/1 SCSI family, 80 Kelvane family
  int32_t ModelCode = 0;            // 4
  int32_t ScannerSubType = 0;       // 8: 0 grey/bilevel only, 1 colour
  int32_t ScannerVariant = 0;       // 12
  int32_t OpticalDpi = 0;           // 16
  int32_t MaxDpi = 0;               // 20
  int32_t MaxWidth = 0;             // 24: 1/100 inch, minus 1
  int32_t WindowVendorOption = 1;   // 28: media-handling check box, read for the scan window
  double StagingPosition = 0.0;     // 32: inches
  double RunOnLength = 0.0;         // 40: run-on after the end of the medium
  uint8_t MediaHandlingByte = 1;    // 48: radio choice 0, 1, 2
  uint8_t Reserved49[2] = {};       // 49
  char OutputFileName[kPathField] = {};  // 51: full path of the next scan's output
  uint8_t Reserved311[1] = {};      // 311
  int32_t ResolutionIndex = 2;      // 312
  char ResolutionText[16] = {};     // 316: "100 dpi" after every load
  int32_t SizeMode = 1;             // 332: 0 automatic width, 2 custom, else paper size
  int32_t PaperSizeIndex = 0;       // 336
  int32_t Landscape = 0;            // 340: non-zero swaps width and length
  int32_t CustomWidth = 850;        // 344: 1/100 inch
  int32_t CustomLength = 1100;      // 348: 1/100 inch
  int32_t ColourMode = -1;          // 352: ImageKind, -1 not chosen yet
  int32_t Reserved356 = 0;          // 356
  int32_t WhiteLevel = 255;         // 360
  int32_t BlackLevel = 0;           // 364
  int32_t ScanBrightness = -1;      // 368: extended page slider, -1 not chosen yet
  int32_t ScanSpeed = 8;            // 372
  int32_t LeftOffsetMode = 0;       // 376
  float GammaRed = -1.0f;           // 380: -1 not set yet
  float GammaGreen = -1.0f;         // 384
  float GammaBlue = -1.0f;          // 388
  int32_t AutoPalette16 = 0;        // 392
  int32_t AutoPalette256 = 0;       // 396
  char Palette16File[kPathField] = {};   // 400
  char Palette256File[kPathField] = {};  // 660
  int32_t BatchScan = 0;            // 920
  int32_t FormatIndexRgb = 4;       // 924: position in the colour output list
  int32_t FormatIndexPalette = 1;   // 928
  int32_t FormatIndexGrey = 3;      // 932
  int32_t FormatIndexBilevel = 1;   // 936
  int32_t AreaLeft = 0;             // 940: 1/100 inch
  int32_t AreaRight = 0;            // 944
  int32_t AreaTop = 0;              // 948
  int32_t AreaBottom = 0;           // 952
  uint8_t OutputIsPlainTiff = 1;    // 956: tested by the scan reader at the end
  uint8_t UnloadMode = 1;           // 957: read by the paper load/unload threads
  uint8_t RgbControl = 0;           // 958
  uint8_t HardwareThreshold = 0;    // 959: model capability
  uint8_t HighResWindow = 0;        // 960: model capability
  uint8_t HighResRgb = 0;           // 961: general page check boxes 961..963
  uint8_t HighResBilevel = 0;       // 962
  uint8_t HighResGrey = 0;          // 963
  uint8_t ResolutionOption = 0;     // 964: model capability
  uint8_t Reserved965[3] = {};      // 965
  int32_t AutoLoadDelay = 1;        // 968
  uint8_t Reserved972[4] = {};      // 972
  int32_t CameraCount = 3;          // 976: per-model index set by identification
  uint8_t FirmwareAtLeast = 0;      // 980
  uint8_t WindowExtraOption = 0;    // 981
  uint8_t LightCalibrationOnly = 0; // 982
  uint8_t MediaFeature = 0;         // 983
  int32_t PaperEndDetection = 0;    // 984: model mode word
  int32_t MaxLength = 16777215;     // 988: 1/100 inch
  uint8_t ManualTransport = 0;      // 992
  char NameSeparator[3] = {'-', 0, 0};  // 993
  NameCounter NameCounters[4] = {};     // 996: four groups of four int32
  int32_t ResolutionOptionValue = 0;    // 1060
  uint8_t NoPadOutput = 0;          // 1064: tested with 956 at the end of a scan
  uint8_t SpecialWindowOption = 0;  // 1065
  uint8_t Reserved1066[6] = {};     // 1066
  int64_t ScanStartTime = 0;        // 1072: start time while scanning, then the duration (s)
  int32_t ExtraSettingsFeature = 1; // 1080: gamma link flag (one tone value for all channels)
  int32_t StoredScannerType = -1;   // 1084: scanner type at the last save
  int32_t Reserved1088 = -1;        // 1088
  int32_t StoredSubType = -1;       // 1092
  int32_t StoredScannerVariant = -1;  // 1096
  uint8_t NetworkOption = 0;        // 1100: non-zero connects over the network
  char ScannerAddress[16] = {};     // 1101: dotted IPv4 text
  uint8_t Reserved1117[3] = {};     // 1117
  int32_t NetworkPort1 = 702;       // 1120
  int32_t NetworkPort2 = 704;       // 1124

  ScanSettingsRecord();
  void Encode(uint8_t* out) const;
  void Decode(const uint8_t* in);
  // Equal when the stored bytes are equal (a snapshot copy detects changes this way).
  bool operator==(const ScanSettingsRecord& other) const;
};

// "MiscData.dat".
struct MiscSettingsRecord {
  static constexpr size_t kSize = 2720;

  int32_t TooltipMode = 1;          // 0: 0 off, 1 first line, 2 whole text
  char WorkingFolder[kPathField] = {'.'};  // 4: temporary files; the user folder at every load
  int32_t ZoomInStep = 100;         // 264: percent
  int32_t ZoomOutStep = 50;         // 268: percent
  int32_t LengthUnit = 0;           // 272: 0 inch, 1 cm, 2 pixels
  int32_t ActiveViewPage = 1;       // 276: page of the view options sheet
  char PresetName[kPathField] = {}; // 280: "_FactoryDefaults"
  uint16_t LanguageId = 9;          // 540: primary language id
  uint16_t SubLanguageId = 0;       // 542
  int32_t JpegQualityColour = 100;  // 544: quality kind 1
  uint8_t ShowAboutBox = 1;         // 548
  uint8_t MagnifierShown = 0;       // 549
  uint8_t Reserved550[2] = {};      // 550
  int32_t MagnifierZoom = 1;        // 552
  char OpenFolder[kPathField] = {}; // 556: image folder of the open dialog
  // 816: batch file setup dialog: current-settings, automatic, log, folder bytes.
  uint8_t BatchCurrentSettings = 0;
  uint8_t BatchAutomatic = 1;
  uint8_t BatchLog = 1;
  uint8_t BatchUseFolder = 1;
  char BatchOutputFolder[kPathField] = {};  // 820
  // 1080..1115: further choices of the batch file setup dialog.
  uint8_t BatchUseFormat = 1;       // 1080
  uint8_t Reserved1081[3] = {};     // 1081
  int32_t BatchFormatIndex = 0;     // 1084: format combo index
  uint8_t BatchDelete = 0;          // 1088
  uint8_t BatchSchedule = 1;        // 1089
  uint8_t Reserved1090[2] = {};     // 1090
  int32_t BatchRunYear = 0;         // 1092
  int32_t BatchRunMonth = 0;        // 1096
  int32_t BatchRunDay = 0;          // 1100
  int32_t BatchRunHour = 0;         // 1104
  int32_t BatchRunMinute = 0;       // 1108
  int32_t BatchRunSecond = 0;       // 1112
  char BatchAddFolder[kPathField] = {};    // 1116: last folder files were added from
  char BatchFolder[kPathField] = {};       // 1376: folder of batch files
  uint8_t ShowSettingsSheets = 1;   // 1636: 1 sheets shown, 0 compact layout
  uint8_t DragScroll = 0;           // 1637
  uint8_t LosslessJpeg2000 = 0;     // 1638
  uint8_t Reserved1639[1] = {};     // 1639
  int32_t Jpeg2000Quality = 500;    // 1640: 1..1000, quality kind 6
  int32_t DisplayOption = 1;        // 1644: through its low byte
  int32_t MagnifierDiameter = 300;  // 1648: pixels
  uint8_t ScanLogEnabled = 0;       // 1652
  uint8_t Reserved1653[3] = {};     // 1653
  int32_t PdfJpegQualityColour = 100;   // 1656: quality kind 2
  int32_t PdfJpegQualityGrey = 100;     // 1660: quality kind 4
  int32_t JpegQualityGrey = 100;        // 1664: quality kind 5
  int32_t TiffJpegQualityColour = 100;  // 1668: quality kind 3
  char IccProfile[kPathField] = {};     // 1672
  char TiffCopyright[kPathField] = {};  // 1932
  char TiffArtist[kPathField] = {};     // 2192
  char LastSaveAsPath[kPathField] = {}; // 2452
  int32_t LastSaveAsType = -1;      // 2712: position from 1 of the file type
  int32_t LastSaveAsKind = -1;      // 2716: image kind of the last save-as

  MiscSettingsRecord();
  void Encode(uint8_t* out) const;
  void Decode(const uint8_t* in);
  bool operator==(const MiscSettingsRecord& other) const;
};

}  // namespace orb

// One paper size, 80 bytes: a "WindowSizes.dat" entry.
struct _WINDOWSIZES {
  static constexpr size_t kSize = 80;
  char Name[64] = {};   // display name
  int32_t Width = 0;    // 1/100 inch
  int32_t Length = 0;   // 1/100 inch
  int32_t Left = 0;     // reserved (0) in the table; the working record's area origin
  int32_t Top = 0;
  void Encode(uint8_t* out) const;
  void Decode(const uint8_t* in);
};

static_assert(orb::ScanSettingsRecord::kSize == 1128);
static_assert(orb::MiscSettingsRecord::kSize == 2720);
static_assert(_WINDOWSIZES::kSize == 80);

// The process-wide records, loaded once at start-up and used by every part of the program.
extern orb::ScanSettingsRecord ScanSettings;
extern orb::MiscSettingsRecord MiscSettings;
// The paper-size table (rebuilt by LoadWindowSizes) and the working record of the
// current scan area.
extern std::vector<_WINDOWSIZES> WindowSizes;
extern _WINDOWSIZES ScanWindowSize;

// The program's folders, set by start-up before any settings file is read: the data
// folder (settings, presets, logs), the user folder (its "images" folder holds the scans)
// and the folder of the executable. No trailing slash.
extern std::string g_szDataFolder;
extern std::string g_szUserFolder;
extern std::string g_szProgramFolder;

const std::string& DataFolder();
const std::string& ProgramFolder();
// The working folder of MiscSettings (temporary image files).
std::string WorkingFolder();

// Outcome of writing a settings file; the save routines' values are 0 and -1.
enum class SettingsWrite : int {
  Written = 0,
  Failed = -1,  // the file could not be written; the old file stays
};

// Each load starts from the defaults the file does not override and never fails: a
// missing, unreadable or too short (< 2 bytes) file leaves the defaults. Returns 0.
int LoadScanData();
// Copies scanner type, sub-type and variant into their stored copies, then writes the
// record.
SettingsWrite SaveScanData();
int LoadMiscData();
SettingsWrite SaveMiscData();
// Rebuilds WindowSizes from "WindowSizes.dat" (or the built-in table when the file is
// missing or shorter than 2 bytes), keeping the sizes within ScanSettings.MaxWidth and
// MaxLength. Returns 0.
int LoadWindowSizes();
// Writes WindowSizes to "WindowSizes.dat".
SettingsWrite SaveWindowSizes();

namespace orb {

// File names in the data folder.
inline constexpr const char* kScanDataFile = "ScanData.dat";
inline constexpr const char* kMiscDataFile = "MiscData.dat";
inline constexpr const char* kWindowSizesFile = "WindowSizes.dat";

// Offset and width of every field in record order; the codecs are built from the same
// lists, so a check that they tile the record checks the codecs.
std::vector<FieldSpan> ScanSettingsLayout();
std::vector<FieldSpan> MiscSettingsLayout();

// Full path of a file in the data folder.
std::string DataFile(const char* name);
// Replaces a file of the data folder atomically, creating the data folder when it is
// missing. False (reported on standard error) when it cannot be written.
bool WriteDataFile(const char* name, const uint8_t* bytes, size_t size);

// The built-in paper sizes, in order.
const std::vector<_WINDOWSIZES>& BuiltInWindowSizes();

// Sets the three folder values from the XDG environment (see platform/Folders.h) and
// creates the user folder and its images folder when missing. The data folder is not
// created here.
void SetUpProcessFolders();

// The output format codes the four format choices of ScanSettings index into, by image
// kind group (colour; palette; grey; black and white).
const std::vector<uint32_t>& OutputFormatList(int imageKind);
// ScanSettings' format choice for an image kind translated into an output format code;
// 0 when the kind or the stored position is outside the lists.
uint32_t ChosenOutputFormat(const ScanSettingsRecord& settings, int imageKind);

// Fills the record from the bytes of a settings file: fewer than 2 bytes change nothing,
// otherwise the bytes (at most the record's size) replace a prefix of the record.
template <class R>
void ApplyFilePrefix(R& record, const std::vector<uint8_t>& file) {
  if (file.size() < 2) return;
  uint8_t bytes[R::kSize];
  record.Encode(bytes);
  std::memcpy(bytes, file.data(), file.size() < R::kSize ? file.size() : R::kSize);
  record.Decode(bytes);
}

// Language ids of the user's locale (LC_ALL, LC_MESSAGES, LANG), used when there is no
// "MiscData.dat": the primary id (9 English, 7 German ...) and the sub-language id.
// Unknown locales give English.
void LocaleLanguageIds(uint16_t* primary, uint16_t* sub);

}  // namespace orb
