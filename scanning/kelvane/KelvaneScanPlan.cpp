#include "scanning/kelvane/KelvaneScanPlan.h"

#include <algorithm>
#include <cstdint>

#include "scanning/kelvane/KelvaneModels.h"

namespace orb::kelvane {
namespace {

PlanError Fail(int id, std::string text = {}) { return PlanError{id, std::move(text)}; }

bool IsJpegCode(uint32_t code) { return code == 2 || code == 0x40004; }

}  // namespace

int32_t ModeCodeFor(int32_t colourMode, bool greyForBilevel, const ScanSettingsRecord& s) {
  const bool v0 = s.ScannerVariant == 0;
  switch (colourMode) {
    case 0: case 1: case 2: return s.RgbControl ? 7 : 0;
    case 3: return (v0 && s.ModelCode <= 92) ? 5 : 1;
    case 4: return greyForBilevel ? ((v0 && s.ModelCode < 93) ? 5 : 1) : 2;
    case 5: return 1;
    case 6: return greyForBilevel ? 1 : 2;
    default: return -1;
  }
}

uint8_t SpeedFor(int32_t scanSpeed) {
  return static_cast<uint8_t>(static_cast<int32_t>((9 - scanSpeed) * 0.5 + 0.5));
}

int32_t BlockLinesFor(int32_t sizeMode, int32_t height, int32_t lineBytes) {
  if (lineBytes <= 0) return 1;
  const int64_t image = int64_t{height} * lineBytes;
  int64_t lines;
  if (sizeMode != 0 && image >= 1 && image <= kMaxBlockBytes - 1)
    lines = height;  // a small image is read in one block
  else
    lines = kMaxBlockBytes / lineBytes;
  return static_cast<int32_t>(std::clamp<int64_t>(lines, 1, kMaxBlockLines));
}

std::optional<KelvanePlan> MakeKelvaneScanPlan(const ScanPlanInput& in, PlanError* error) {
  const ScanSettingsRecord& s = in.settings;
  const ScanToolRecords& t = in.tools;
  KelvanePlan k;
  ScanPlan& p = k.scan;
  auto fail = [&](PlanError e) -> std::optional<KelvanePlan> {
    if (error) *error = std::move(e);
    return std::nullopt;
  };

  PlanError stepError;
  if (!PlanModeAndArea(in, p, &stepError)) return fail(std::move(stepError));
  const int32_t mode = p.colourMode;

  // Every colour mode cuts the width to a multiple of 8 pixels.
  const int64_t height64 = static_cast<int64_t>(p.yDpi / 100.0 * p.area.length);
  int64_t width64 = static_cast<int64_t>(p.xDpi / 100.0 * (int64_t{p.areaRight} - p.areaLeft));
  width64 -= width64 % 8;
  if (height64 > INT32_MAX / 3) return fail(Fail(kStrInvalidArgument, "scan too long"));
  if (width64 < 8 || height64 < 1) return fail(Fail(kStrEmptyArea));
  p.widthPx = static_cast<int32_t>(width64);
  p.heightPx = static_cast<int32_t>(height64);

  bool software = t.threshold.SoftwareThreshold != 0;
  if (s.HardwareThreshold == 0) {
    p.forceSoftwareThreshold = true;
    software = true;
  }
  const bool bilevelMode = (mode == 4 || mode == 6);
  const bool greyForBilevel = software || t.threshold.ThresholdingType == 2;
  p.bilevel = bilevelMode;
  p.softwareThreshold = bilevelMode && software;
  p.scannedGrey = bilevelMode && greyForBilevel;
  p.greyRampPalette = (mode >= 3);
  p.paletteMode = (mode == 1 || mode == 2);
  k.modeCode = ModeCodeFor(mode, greyForBilevel, s);
  k.packedBits = k.modeCode == 2;
  const int32_t w = p.widthPx;
  if (mode == 0) {
    p.bitsPerSample = 8; p.samplesPerPixel = 3; p.bitsPerPixel = 24;
    p.lineBytes = 3 * w;
  } else {
    p.bitsPerSample = 8; p.samplesPerPixel = 1; p.bitsPerPixel = 8;
    p.lineBytes = w;
  }
  k.scanLineBytes = p.paletteMode ? 3 * w : p.lineBytes;
  p.oneBitTransfer = k.packedBits;

  p.outputFormat = ScanOutputFormat(mode, s);
  if (p.outputFormat == 0) return fail(Fail(kStrInvalidArgument, "output format not in the list"));

  if (p.paletteMode) {
    const bool autoPal = (mode == 1 && s.AutoPalette256) || (mode == 2 && s.AutoPalette16);
    p.paletteIsAuto = autoPal;
    if (autoPal)
      p.paletteFile = in.dataFolder + (mode == 1 ? "/AutoPalette256.tmp" : "/AutoPalette16.tmp");
    else
      p.paletteFile = mode == 1 ? TextField(s.Palette256File) : TextField(s.Palette16File);
    if (t.toneCurve.enabled) p.paletteFilters |= kFilterToneCurve;
    if (t.brightCont.enabled) p.paletteFilters |= kFilterBrightCont;
    if (t.bwPoint.enabled) p.paletteFilters |= kFilterBWPoint;
  }

  // Output checks.
  k.leftOffsetModeToOne = s.SizeMode == 0;
  if (IsJpegCode(p.outputFormat) && p.heightPx > 32767) {
    if (s.SizeMode != 0) return fail(Fail(kStrJpegTooHigh, "JPEG"));
    p.heightPx = kJpegClampedHeight;
    p.jpegHeightClamped = true;
  }
  p.outputBytes = int64_t{p.lineBytes} * p.heightPx;
  p.checkDiskSpace = s.SizeMode != 0;

  // The scanner's parameters.
  const int32_t m = s.ModelCode;
  k.sendLeftOffset = IsPvLine(m) || IsRuLine(m) || IsPvkLine(m);
  const int32_t leftOffsetMode = k.leftOffsetModeToOne ? 1 : s.LeftOffsetMode;
  k.leftOffsetOn = leftOffsetMode != 1;
  k.gammaOffset = s.ScanBrightness;
  k.gammaLow = s.BlackLevel;
  k.gammaHigh = s.WhiteLevel;
  k.gamma = s.GammaRed;
  k.paperHandling = s.MediaHandlingByte == 1 ? 0 : (s.MediaHandlingByte == 0 && m >= 84 ? 2 : 1);
  k.sendThreshold = k.modeCode == 2;
  k.thresholdAdaptive = t.threshold.ThresholdingType == 1 ? 1 : 0;
  k.threshold = t.threshold.FixedThreshhold;
  k.thresholdWindow = t.threshold.AdaptiveWindowSize;
  k.thresholdDynamic = t.threshold.AdaptiveDynamic;
  k.speed = SpeedFor(s.ScanSpeed);
  k.startBeforeBuffers = m < 96 && !IsRuLine(m);
  k.linesPerBlock = BlockLinesFor(s.SizeMode, p.heightPx, k.scanLineBytes);

  // Outputs and filters.
  p.outputByLibrary = p.outputFormat != 1;
  p.workingCopy = !(p.outputFormat == 1 && !bilevelMode);
  p.workingCopyKind = bilevelMode ? (greyForBilevel ? 10 : 4) : mode;
  ChooseInScanFilters(t, p);
  return k;
}

}  // namespace orb::kelvane
