#include "scanning/ScanPlan.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace orb {
namespace {

// Positions of the nineteen window values, in the order the scanner library takes them.
enum WindowSlot {
  kXRes, kYRes, kUlx, kUly, kWidth, kLength, kBrightness, kThreshold, kComposition, kBpp,
  kFlags, kOption, kVendor1, kVendor2, kVendor3, kVendor4, kVendor5, kVendor6, kLast,
  kSlots
};

WindowDescriptorType ToWindow(const std::array<int32_t, kSlots>& v) {
  WindowDescriptorType w{};
  w.XResolution = v[kXRes];
  w.YResolution = v[kYRes];
  w.UpperLeftX = v[kUlx];
  w.UpperLeftY = v[kUly];
  w.Width = v[kWidth];
  w.Length = v[kLength];
  w.Brightness = v[kBrightness];
  w.Threshold = v[kThreshold];
  w.ImageComposition = v[kComposition];
  w.BitsPerPixel = v[kBpp];
  w.Flags = v[kFlags];
  w.Option = v[kOption];
  w.Vendor[0] = v[kVendor1];
  w.Vendor[1] = v[kVendor2];
  w.Vendor[2] = v[kVendor3];
  w.Vendor[3] = v[kVendor4];
  w.Vendor[4] = v[kVendor5];
  w.Vendor[5] = v[kVendor6];
  w.VendorLast = v[kLast];
  return w;
}

bool IsJpegCode(uint32_t code) { return code == 2 || code == 0x40004; }

PlanError Fail(int id, std::string text = {}) { return PlanError{id, std::move(text)}; }

}  // namespace

ScanToolRecords CurrentScanToolRecords() {
  return ScanToolRecords{BWThresholdSettings, GammaSettings,  BrightContSettings,
                         BWPointSettings,     DescreenSettings, SharpenSettings,
                         MirrorSettings,      InvertSettings,   DespeckleSettings};
}

int32_t ScanResolution(const ScanPlanInput& in) {
  const ScanSettingsRecord& s = in.settings;
  std::string text;
  if (s.ResolutionIndex != 0) {
    // Entries past the first empty one do not exist.
    int32_t idx = s.ResolutionIndex;
    if (idx > 0 && static_cast<size_t>(idx) < in.resolutionList.size()) {
      bool ended = false;
      for (int32_t i = 0; i <= idx; ++i)
        if (in.resolutionList[i].empty()) ended = true;
      if (!ended) text = in.resolutionList[idx];
    }
  } else {
    text = TextField(s.ResolutionText);
  }
  return static_cast<int32_t>(std::atoi(text.c_str()));
}

uint32_t ScanOutputFormat(int32_t colourMode, const ScanSettingsRecord& s) {
  if (colourMode < 0 || colourMode > 6) return 0;
  return ChosenOutputFormat(s, colourMode);
}

std::optional<ScanArea> ResolveScanArea(const ScanPlanInput& in, PlanError* error) {
  const ScanSettingsRecord& s = in.settings;
  ScanArea a;
  if (s.SizeMode == 0) {
    if (!in.autoArea) {
      if (error) *error = Fail(kStrEmptyArea, "no automatic width measured");
      return std::nullopt;
    }
    a = *in.autoArea;
    a.top = in.autoArea->top;
  } else if (s.SizeMode == 2) {
    a.width = static_cast<int16_t>(s.CustomWidth);  // the custom width travels as 16 bits
    a.length = s.CustomLength;
    a.left = s.AreaLeft;
    a.top = s.AreaTop;
  } else {
    if (s.PaperSizeIndex < 0 || static_cast<size_t>(s.PaperSizeIndex) >= in.paperSizes.size()) {
      if (error) *error = Fail(kStrInvalidArgument, "Invalid argument");
      return std::nullopt;
    }
    const _WINDOWSIZES& e = in.paperSizes[s.PaperSizeIndex];
    a.width = e.Width;
    a.length = e.Length;
    a.left = e.Left;
    a.top = e.Top;
    if (s.Landscape != 0) std::swap(a.width, a.length);
  }
  return a;
}

bool PlanModeAndArea(const ScanPlanInput& in, ScanPlan& p, PlanError* error) {
  const ScanSettingsRecord& s = in.settings;
  auto fail = [&](PlanError e) {
    if (error) *error = std::move(e);
    return false;
  };
  const int32_t mode = s.ColourMode;
  // Only the modes this family has a geometry for; anything else would build a window from
  // undefined values.
  if (mode < 0 || mode > 6) return fail(Fail(kStrInvalidArgument, "colour mode not supported"));
  p.colourMode = mode;

  p.xDpi = p.yDpi = ScanResolution(in);
  if (p.xDpi <= 0) return fail(Fail(kStrInvalidArgument, "no scan resolution"));

  PlanError areaError;
  auto area = ResolveScanArea(in, &areaError);
  if (!area) return fail(areaError);
  p.area = *area;

  // Write-back values of the area.
  p.customWidth = p.area.width;
  p.areaLeft = p.area.left;
  p.areaRight = std::min<int64_t>(int64_t{p.area.left} + p.area.width, s.MaxWidth);
  p.areaTop = p.area.top;
  p.areaBottom = static_cast<int32_t>(
      std::min<int64_t>(int64_t{p.area.top} + p.area.length, INT32_MAX));
  p.customLength = p.area.length;
  if (int64_t{p.areaRight} - p.areaLeft < 1 || int64_t{p.areaBottom} - p.areaTop < 1)
    return fail(Fail(kStrEmptyArea));
  return true;
}

void ChooseInScanFilters(const ScanToolRecords& t, ScanPlan& p) {
  const int32_t mode = p.colourMode;
  const bool toneMode = (mode == 0 || mode == 3 || mode == 5);
  if (t.noise.enabled && toneMode) p.inScanFilters |= kFilterNoiseRemoval;
  if (t.sharpen.enabled && toneMode) p.inScanFilters |= kFilterSharpen;
  if (t.mirror.enabled) p.inScanFilters |= kFilterMirror;
  if (t.toneCurve.enabled && toneMode) p.inScanFilters |= kFilterToneCurve;
  if (t.brightCont.enabled && toneMode) p.inScanFilters |= kFilterBrightCont;
  if (t.bwPoint.enabled && toneMode) p.inScanFilters |= kFilterBWPoint;
  // Palette lines hold indices: inverting them would pick unrelated colours, so palette scans
  // invert their palette instead.
  if (t.invert.enabled) {
    if (p.paletteMode)
      p.paletteFilters |= kFilterInvert;
    else
      p.inScanFilters |= kFilterInvert;
  }
  if (p.scannedGrey) p.inScanFilters |= kFilterThreshold;
  if (t.despeckle.enabled && p.bilevel) p.inScanFilters |= kFilterDespeckle;
}

std::optional<ScanPlan> MakeScanPlan(const ScanPlanInput& in, PlanError* error) {
  const ScanSettingsRecord& s = in.settings;
  const ScanToolRecords& t = in.tools;
  ScanPlan p;
  auto fail = [&](PlanError e) -> std::optional<ScanPlan> {
    if (error) *error = std::move(e);
    return std::nullopt;
  };

  PlanError stepError;
  if (!PlanModeAndArea(in, p, &stepError)) return fail(std::move(stepError));
  const int32_t mode = p.colourMode;

  // Height and width in pixels, in 64 bits so that long sheets at high resolutions cannot wrap.
  const int64_t height64 = static_cast<int64_t>(p.yDpi / 100.0 * p.area.length);
  int64_t width64 = static_cast<int64_t>(p.xDpi / 100.0 * (int64_t{p.areaRight} - p.areaLeft));
  if (height64 > INT32_MAX) return fail(Fail(kStrInvalidArgument, "scan too long"));

  // Software thresholding when the scanner has no threshold of its own.
  bool software = t.threshold.SoftwareThreshold != 0;
  if (s.HardwareThreshold == 0) {
    p.forceSoftwareThreshold = true;
    software = true;
  }

  const bool bilevelMode = (mode == 4 || mode == 6);
  const bool inBand = s.ScannerType == 1 && s.HighResWindow != 0 &&
                      s.OpticalDpi / 4 < p.xDpi && p.xDpi <= s.OpticalDpi;
  int32_t flags = 131;
  switch (mode) {
    case 0: if (inBand && s.HighResRgb) flags = 139; break;
    case 3: case 5: if (inBand && s.HighResGrey) flags = 139; break;
    case 4: if (inBand && s.HighResBilevel) flags = 139; break;
    case 6:
      if (inBand && s.HighResBilevel) flags = 139;
      if (s.ScannerType == 0 && s.HighResWindow && s.HighResBilevel && p.xDpi == 800) {
        flags = 139;
        software = false;  // the scanner thresholds at this resolution
      }
      break;
    default: break;
  }
  p.softwareThreshold = bilevelMode && software;
  const bool greyForBilevel = software || t.threshold.ThresholdingType == 2;

  // Geometry by colour mode.
  if (mode == 0) {
    width64 -= width64 % 12;
    p.bitsPerSample = 8; p.samplesPerPixel = 3; p.bitsPerPixel = 24;
  } else {
    width64 -= width64 % 16;
    p.bitsPerSample = 8; p.samplesPerPixel = 1; p.bitsPerPixel = 8;
  }
  if (width64 < 1 || height64 < 1) return fail(Fail(kStrEmptyArea));
  p.widthPx = static_cast<int32_t>(width64);
  p.heightPx = static_cast<int32_t>(height64);
  p.lineBytes = static_cast<int32_t>(mode == 0 ? 3 * width64 : width64);
  p.greyRampPalette = (mode == 3 || mode == 5 || bilevelMode);
  p.bilevel = bilevelMode;
  p.scannedGrey = bilevelMode && greyForBilevel;

  p.outputFormat = ScanOutputFormat(mode, s);
  if (p.outputFormat == 0) return fail(Fail(kStrInvalidArgument, "output format not in the list"));

  // Palette modes.
  if (mode == 1 || mode == 2) {
    p.paletteMode = true;
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
  if (IsJpegCode(p.outputFormat) && p.heightPx > 32767) {
    if (s.SizeMode == 0) {
      p.heightPx = kJpegClampedHeight;
      p.jpegHeightClamped = true;
    } else {
      return fail(Fail(kStrJpegTooHigh, "JPEG"));
    }
  }
  p.outputBytes = int64_t{p.lineBytes} * p.heightPx;
  p.checkDiskSpace = s.SizeMode != 0;

  // The window.
  std::array<int32_t, kSlots> w{};
  w[kXRes] = p.xDpi;
  w[kYRes] = p.yDpi;
  int32_t ulx = static_cast<int32_t>(p.xDpi / 100.0 * p.areaLeft + 0.5);
  if (ulx == 0 && (s.SizeMode == 0 || s.LeftOffsetMode == 1))
    ulx = 1;
  else if (s.SizeMode != 0 && s.LeftOffsetMode == 0)
    ulx = 0;
  w[kUlx] = ulx;
  w[kUly] = static_cast<int32_t>(p.yDpi / 100.0 * p.areaTop + 0.5);
  w[kWidth] = p.widthPx;
  w[kLength] = p.heightPx;
  w[kBrightness] = s.ScanBrightness;
  int32_t vendor6 = s.WindowVendorOption == 1 ? 48 : 0;
  if (s.SizeMode == 0) vendor6 = s.PaperEndDetection == 1 ? 0 : 48;
  w[kVendor6] = vendor6;
  w[kFlags] = flags;
  switch (mode) {
    case 0: w[kComposition] = 5; w[kBpp] = 24; break;
    case 1: case 2: w[kComposition] = 3; w[kBpp] = 8; break;
    case 3: w[kComposition] = 2; w[kBpp] = 8; break;
    case 5: w[kComposition] = 2; w[kBpp] = 8; w[kLast] = 2; break;
    case 4: case 6:
      if (mode == 6) w[kLast] = 2;
      if (greyForBilevel) {
        w[kComposition] = 2;
        w[kBpp] = 8;
      } else {
        w[kComposition] = 0;
        w[kBpp] = 1;
        w[kThreshold] = 255 - 4 * t.threshold.FixedThreshhold;
        if (t.threshold.ThresholdingType == 1) w[kThreshold] = 0;
      }
      break;
    default: break;
  }
  p.window = ToWindow(w);
  p.oneBitTransfer = w[kBpp] == 1;
  p.windowExtraOption = (s.WindowExtraOption && s.FirmwareAtLeast) ? 1 : 0;
  p.windowSpecial = (s.ModelCode == 17 || s.ModelCode == 21) && s.SpecialWindowOption != 0;

  // Commands, in the order the scanner gets them.
  using K = ScanCommand::Kind;
  if (p.paletteMode) p.commands.push_back({K::LoadColorTranslationTable});
  if (bilevelMode && !greyForBilevel && t.threshold.ThresholdingType == 1)
    p.commands.push_back({K::SetIAT, t.threshold.AdaptiveWindowSize, t.threshold.AdaptiveDynamic});
  p.commands.push_back({K::SetWindow, p.windowExtraOption, p.windowSpecial ? 1 : 0});
  p.commands.push_back({K::SetFractionalSpeed, 9 - s.ScanSpeed});
  if (bilevelMode && greyForBilevel) {
    // Grey taken for a threshold or a diffusion in software is taken linear: the tone curve
    // of grey and colour pictures would lift the mid greys past the level (at a gamma of 1.5
    // a sheet grey of 86 arrives as 124 and comes out white), where the scanner's own
    // threshold of the same setting makes them black.
    p.commands.push_back({K::LoadTrcTable, 0, 0, 1.0f});
  } else if (s.GammaRed == s.GammaGreen && s.GammaRed == s.GammaBlue) {
    p.commands.push_back({K::LoadTrcTable, 0, 0, s.GammaRed});
  } else {
    p.commands.push_back({K::LoadTrcTable, 1, 0, s.GammaRed});
    p.commands.push_back({K::LoadTrcTable, 2, 0, s.GammaGreen});
    p.commands.push_back({K::LoadTrcTable, 3, 0, s.GammaBlue});
  }
  p.commands.push_back({K::SetPaperStagingPosition,
                        static_cast<int16_t>(static_cast<int32_t>(s.OpticalDpi * s.StagingPosition))});
  p.commands.push_back({K::RGBControl, (s.RgbControl == 1 && mode != 6) ? 1 : 0});
  p.commands.push_back({K::StartScan});

  // Outputs.
  p.outputByLibrary = p.outputFormat != 1;
  p.workingCopy = !(p.outputFormat == 1 && !bilevelMode);
  p.workingCopyKind = bilevelMode ? (greyForBilevel ? 10 : 4) : mode;

  ChooseInScanFilters(t, p);
  return p;
}

void ApplyPlanToSettings(const ScanPlan& plan, ScanSettingsRecord& s, BWThresholdRecord& threshold) {
  s.CustomWidth = plan.customWidth;
  s.AreaLeft = plan.areaLeft;
  s.AreaRight = plan.areaRight;
  s.AreaTop = plan.areaTop;
  s.AreaBottom = plan.areaBottom;
  s.CustomLength = plan.customLength;
  if (plan.forceSoftwareThreshold) threshold.SoftwareThreshold = 1;
}

}  // namespace orb
