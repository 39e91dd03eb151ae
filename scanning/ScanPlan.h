// The plan of one scan on a scanner of the SCSI family: what the settings ask for, worked out
// before anything is sent to the scanner or opened on disk. Planning is a pure function of its
// inputs (the scan settings, the tool settings that shape a scan, the paper-size table, the
// resolution list and, for the automatic width, the area the width pre-scan measured), so it can
// be checked case by case; the scan session carries the plan out.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "scanner_library/trennic.h"

namespace orb {

// A scan area in hundredths of an inch (the working values of the scan window record).
struct ScanArea {
  int32_t width = 0;
  int32_t length = 0;
  int32_t left = 0;
  int32_t top = 0;
};

inline constexpr int32_t kToEndOfPaper = 16777215;  // a length that runs to the paper's end
inline constexpr int32_t kJpegClampedHeight = 32760;

// Message string ids of the language module used by the scan start.
inline constexpr int kStrOverwrite = 33009;
inline constexpr int kStrNoSpaceWorking = 33018;
inline constexpr int kStrNoSpaceOutput = 33027;
inline constexpr int kStrEmptyArea = 33083;
inline constexpr int kStrReadError = 33089;
inline constexpr int kStrJpegTooHigh = 34009;
inline constexpr int kStrInvalidArgument = 87;  // no language text: shown as "Invalid argument"

// What stops a scan before it starts.
struct PlanError {
  int stringId = 0;   // language-module string, 0 when `text` is a fixed text
  std::string text;   // a fixed text, or extra detail for the log
};

// One command of the scan start, sent to the scanner in list order.
struct ScanCommand {
  enum class Kind {
    LoadColorTranslationTable,  // table comes from the palette file at execution
    SetIAT,                     // a0 window size, a1 dynamic
    SetWindow,                  // the plan's window; a0 extra option byte, a1 special flag
    SetFractionalSpeed,         // a0 speed
    LoadTrcTable,               // a0 channel byte, gamma
    SetPaperStagingPosition,    // a0 position (16 bits)
    RGBControl,                 // a0 0 or 1
    StartScan,
  };
  Kind kind;
  int32_t a0 = 0;
  int32_t a1 = 0;
  double gamma = 0.0;
  bool operator==(const ScanCommand&) const = default;
};

// The in-scan filters a scan creates (one bit each, in processing order).
enum InScanFilter : uint32_t {
  kFilterNoiseRemoval = 1u << 0,
  kFilterSharpen = 1u << 1,
  kFilterMirror = 1u << 2,
  kFilterToneCurve = 1u << 3,
  kFilterBrightCont = 1u << 4,
  kFilterBWPoint = 1u << 5,
  kFilterInvert = 1u << 6,
  kFilterThreshold = 1u << 7,
  kFilterDespeckle = 1u << 8,
};

struct ScanPlan {
  // Geometry of the image.
  int32_t xDpi = 0, yDpi = 0;
  int32_t widthPx = 0;
  int32_t heightPx = 0;
  int32_t lineBytes = 0;  // one line in memory (3 bytes a pixel for RGB, 1 otherwise)
  int32_t bitsPerSample = 8, samplesPerPixel = 1, bitsPerPixel = 8;
  int32_t colourMode = 0;  // the ImageKind of the scan
  uint32_t outputFormat = 0;
  bool greyRampPalette = false;
  bool bilevel = false;      // colour modes 4 and 6
  bool scannedGrey = false;  // bilevel scanned in grey, thresholded in software
  bool softwareThreshold = false;  // in effect for this scan

  // The area as written back to the settings.
  ScanArea area;
  int32_t areaLeft = 0, areaRight = 0, areaTop = 0, areaBottom = 0;
  int32_t customWidth = 0, customLength = 0;
  // True when the settings' software-threshold byte is to be set (no threshold in the scanner).
  bool forceSoftwareThreshold = false;

  // The scanner's side.
  WindowDescriptorType window{};
  uint8_t windowExtraOption = 0;
  bool windowSpecial = false;
  bool oneBitTransfer = false;  // the scanner sends 1 bit a pixel; unpacked by the reader
  std::vector<ScanCommand> commands;

  // Palette modes: the palette file and the filters applied to its colours at start.
  bool paletteMode = false;
  std::string paletteFile;
  bool paletteIsAuto = false;  // a pre-scan's palette; the path becomes the image's second temp
  uint32_t paletteFilters = 0;  // kFilterToneCurve | kFilterBrightCont | kFilterBWPoint

  // Outputs.
  bool outputByLibrary = false;  // everything but uncompressed TIFF
  bool workingCopy = false;
  int32_t workingCopyKind = 0;
  uint32_t inScanFilters = 0;
  int64_t outputBytes = 0;  // line bytes x height, for the free-space tests
  bool checkDiskSpace = false;
  bool jpegHeightClamped = false;
};

// The tool settings records a scan start reads.
struct ScanToolRecords {
  const BWThresholdRecord& threshold;
  const GammaRecord& toneCurve;
  const BrightContRecord& brightCont;
  const BWPointRecord& bwPoint;
  const DescreenRecord& noise;
  const SharpenRecord& sharpen;
  const MirrorRecord& mirror;
  const InvertRecord& invert;
  const DespeckleRecord& despeckle;
};
// The process-wide records.
ScanToolRecords CurrentScanToolRecords();

struct ScanPlanInput {
  const ScanSettingsRecord& settings;
  ScanToolRecords tools;
  std::span<const _WINDOWSIZES> paperSizes;
  // Entries of the resolution list (entry 0 the custom entry); empty entries end it.
  std::span<const std::string> resolutionList;
  // For the automatic width: the area the width pre-scan filled.
  std::optional<ScanArea> autoArea;
  std::string dataFolder;
};

// The scan area of step "area" alone (before any pre-scan runs for the palette): the paper size,
// the custom area, or for the automatic width the given pre-scan area. Error for a paper index
// outside the table.
std::optional<ScanArea> ResolveScanArea(const ScanPlanInput& in, PlanError* error);

// The resolution of the scan in dpi: entry ResolutionIndex of the list when non-zero, else the
// resolution text; the number at the start of the text. 0 when there is none.
int32_t ScanResolution(const ScanPlanInput& in);

// The steps both scanner families share at the start of a plan: the colour mode (0..6), the
// resolution, the area and its write-back values. False, with the error, when one of them
// stops the scan.
bool PlanModeAndArea(const ScanPlanInput& in, ScanPlan& p, PlanError* error);

// The output format code for a colour mode and format index, 0 when the index is outside the list.
uint32_t ScanOutputFormat(int32_t colourMode, const ScanSettingsRecord& s);

// The whole plan, or the error that stops the scan. The area used is ResolveScanArea's.
// The in-scan filters (and a palette scan's palette filters) of a plan whose mode, palette
// and bilevel fields are set, from the tool records; both scanner families choose them so.
void ChooseInScanFilters(const ScanToolRecords& t, ScanPlan& p);
std::optional<ScanPlan> MakeScanPlan(const ScanPlanInput& in, PlanError* error);

// Writes the plan's area and threshold decision back to the settings records.
void ApplyPlanToSettings(const ScanPlan& plan, ScanSettingsRecord& s, BWThresholdRecord& threshold);

}  // namespace orb
