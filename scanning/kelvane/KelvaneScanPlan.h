// The plan of one scan on a scanner of the Kelvane family, worked out before anything is sent
// to the scanner or opened on disk: a pure function of the scan settings, the tool settings
// that shape a scan, the paper-size table, the resolution list and, in automatic size mode,
// the area the scanner measured. The geometry, outputs and filters use the SCSI family's
// plan record; what this family sends its scanner is added.
#pragma once

#include <cstdint>
#include <optional>

#include "scanning/ScanPlan.h"

namespace orb::kelvane {

// Blocks hold at most this many bytes and lines.
inline constexpr int32_t kMaxBlockBytes = 1048576;
inline constexpr int32_t kMaxBlockLines = 98;
inline constexpr int kStrAutoPaletteCaption = 33049;

struct KelvanePlan {
  ScanPlan scan;  // geometry, area, outputs, filters, palette file

  // The window command.
  int32_t modeCode = 0;
  // One line as the scan hands it on before the palette mapping: 3 bytes a pixel in the
  // palette modes, one byte a pixel for a bilevel line the scanner sends packed.
  int32_t scanLineBytes = 0;
  bool packedBits = false;  // mode code 2: 1 bit a pixel on the wire
  int32_t linesPerBlock = 0;

  // Parameters, in the order they are sent.
  bool sendLeftOffset = false;
  bool leftOffsetOn = false;
  int32_t gammaOffset = 0, gammaLow = 0, gammaHigh = 255;
  float gamma = 1.0f;
  int32_t paperHandling = 1;
  bool sendThreshold = false;
  int32_t thresholdAdaptive = 0, threshold = 0, thresholdWindow = 0, thresholdDynamic = 0;
  uint8_t speed = 0;
  // The 7719, BN53 and Pv lines start before the buffers are made, the Ru and PVK lines once
  // everything is ready.
  bool startBeforeBuffers = true;
  // Automatic size mode sets LeftOffsetMode to 1 before the output checks.
  bool leftOffsetModeToOne = false;
};

// The mode code a colour mode sends, by the scanner's model and variant.
int32_t ModeCodeFor(int32_t colourMode, bool greyForBilevel, const ScanSettingsRecord& s);
// The speed value of a ScanSpeed setting: trunc((9 - ScanSpeed) x 0.5 + 0.5).
uint8_t SpeedFor(int32_t scanSpeed);
// Lines a block holds for a scan of `height` lines of `lineBytes` bytes.
int32_t BlockLinesFor(int32_t sizeMode, int32_t height, int32_t lineBytes);

std::optional<KelvanePlan> MakeKelvaneScanPlan(const ScanPlanInput& in, PlanError* error);

}  // namespace orb::kelvane
