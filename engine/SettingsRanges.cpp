#include "engine/SettingsRanges.h"

#include <cmath>
#include <cstdint>

namespace orb {
namespace {

// Resets the fields that fail their check to the default record's value, by name.
class Reset {
 public:
  template <class T>
  void Check(const char* name, T& field, const T& fallback, bool ok) {
    if (ok) return;
    field = fallback;
    reset.emplace_back(name);
  }
  std::vector<std::string> reset;
};

template <class T>
bool Within(T v, T lo, T hi) {
  return v >= lo && v <= hi;
}

bool FiniteWithin(double v, double lo, double hi) { return std::isfinite(v) && v >= lo && v <= hi; }

// A gamma is "not set yet" (-1) or a usable exponent.
bool GammaOk(float g) { return g == -1.0f || FiniteWithin(g, 0.05, 20.0); }

constexpr int32_t kLargestLength = 16777215;  // 1/100 inch: the longest scan the scanners take
constexpr int kLastImageKind = 10;
constexpr int kLongestOutputList = 8;

}  // namespace

std::vector<std::string> KeepScanSettingsInRange(ScanSettingsRecord& s) {
  const ScanSettingsRecord d;
  Reset r;
  r.Check("MaxLength", s.MaxLength, d.MaxLength, Within(s.MaxLength, 100, kLargestLength));
  const int32_t widest = s.MaxWidth > 0 && s.MaxWidth < kLargestLength ? s.MaxWidth + 1 : kLargestLength;
  r.Check("CustomWidth", s.CustomWidth, d.CustomWidth, Within(s.CustomWidth, 100, widest));
  r.Check("CustomLength", s.CustomLength, d.CustomLength, Within(s.CustomLength, 100, s.MaxLength));
  r.Check("ResolutionIndex", s.ResolutionIndex, d.ResolutionIndex, Within(s.ResolutionIndex, 0, 63));
  r.Check("PaperSizeIndex", s.PaperSizeIndex, d.PaperSizeIndex, Within(s.PaperSizeIndex, 0, 255));
  r.Check("ColourMode", s.ColourMode, d.ColourMode, Within(s.ColourMode, -1, kLastImageKind));
  r.Check("WhiteLevel", s.WhiteLevel, d.WhiteLevel, Within(s.WhiteLevel, 0, 255));
  r.Check("BlackLevel", s.BlackLevel, d.BlackLevel, Within(s.BlackLevel, 0, 255));
  r.Check("ScanBrightness", s.ScanBrightness, d.ScanBrightness,
          s.ScanBrightness == -1 || Within(s.ScanBrightness, 1, 50));
  r.Check("ScanSpeed", s.ScanSpeed, d.ScanSpeed, Within(s.ScanSpeed, 0, 9));
  r.Check("LeftOffsetMode", s.LeftOffsetMode, d.LeftOffsetMode, Within(s.LeftOffsetMode, 0, 1));
  r.Check("MediaHandlingByte", s.MediaHandlingByte, d.MediaHandlingByte, s.MediaHandlingByte <= 2);
  r.Check("GammaRed", s.GammaRed, d.GammaRed, GammaOk(s.GammaRed));
  r.Check("GammaGreen", s.GammaGreen, d.GammaGreen, GammaOk(s.GammaGreen));
  r.Check("GammaBlue", s.GammaBlue, d.GammaBlue, GammaOk(s.GammaBlue));
  r.Check("StagingPosition", s.StagingPosition, d.StagingPosition, FiniteWithin(s.StagingPosition, 0.0, 1000.0));
  r.Check("RunOnLength", s.RunOnLength, d.RunOnLength, FiniteWithin(s.RunOnLength, 0.0, 1000.0));
  const auto format = [&](const char* name, int32_t& index, int32_t fallback) {
    r.Check(name, index, fallback, Within(index, 0, kLongestOutputList - 1));
  };
  format("FormatIndexRgb", s.FormatIndexRgb, d.FormatIndexRgb);
  format("FormatIndexPalette", s.FormatIndexPalette, d.FormatIndexPalette);
  format("FormatIndexGrey", s.FormatIndexGrey, d.FormatIndexGrey);
  format("FormatIndexBilevel", s.FormatIndexBilevel, d.FormatIndexBilevel);
  for (NameCounter& c : s.NameCounters) {
    const bool ok = c.Start >= 0 && c.Step >= 1 && c.Limit >= c.Start;
    r.Check("NameCounters", c, NameCounter{}, ok);
  }
  r.Check("AutoLoadDelay", s.AutoLoadDelay, d.AutoLoadDelay, Within(s.AutoLoadDelay, 0, 3600));
  r.Check("NetworkPort1", s.NetworkPort1, d.NetworkPort1, Within(s.NetworkPort1, 1, 65535));
  r.Check("NetworkPort2", s.NetworkPort2, d.NetworkPort2, Within(s.NetworkPort2, 1, 65535));
  return r.reset;
}

std::vector<std::string> KeepMiscSettingsInRange(MiscSettingsRecord& m) {
  const MiscSettingsRecord d;
  Reset r;
  r.Check("TooltipMode", m.TooltipMode, d.TooltipMode, Within(m.TooltipMode, 0, 2));
  r.Check("ZoomInStep", m.ZoomInStep, d.ZoomInStep, Within(m.ZoomInStep, 1, 1000));
  r.Check("ZoomOutStep", m.ZoomOutStep, d.ZoomOutStep, Within(m.ZoomOutStep, 1, 1000));
  r.Check("LengthUnit", m.LengthUnit, d.LengthUnit, Within(m.LengthUnit, 0, 2));
  r.Check("ActiveViewPage", m.ActiveViewPage, d.ActiveViewPage, Within(m.ActiveViewPage, 0, 31));
  for (int32_t* q : {&m.JpegQualityColour, &m.PdfJpegQualityColour, &m.PdfJpegQualityGrey, &m.JpegQualityGrey,
                     &m.TiffJpegQualityColour}) {
    r.Check("JpegQuality", *q, int32_t{100}, Within(*q, 1, 100));
  }
  r.Check("Jpeg2000Quality", m.Jpeg2000Quality, d.Jpeg2000Quality, Within(m.Jpeg2000Quality, 1, 1000));
  r.Check("MagnifierZoom", m.MagnifierZoom, d.MagnifierZoom, Within(m.MagnifierZoom, 1, 32));
  r.Check("MagnifierDiameter", m.MagnifierDiameter, d.MagnifierDiameter, Within(m.MagnifierDiameter, 16, 4000));
  r.Check("LastSaveAsType", m.LastSaveAsType, d.LastSaveAsType,
          m.LastSaveAsType == -1 || Within(m.LastSaveAsType, 1, kLongestOutputList));
  r.Check("LastSaveAsKind", m.LastSaveAsKind, d.LastSaveAsKind, Within(m.LastSaveAsKind, -1, kLastImageKind));
  return r.reset;
}

std::vector<std::string> KeepScanLogTotalsInRange(ScanLogTotalsRecord& t) {
  Reset r;
  r.Check("TotalArea", t.TotalArea, 0.0, FiniteWithin(t.TotalArea, 0.0, 1e15));
  for (int32_t* count : {&t.Scans, &t.Rgb, &t.Grey, &t.Colour256, &t.Colour16, &t.Bilevel, &t.Edited}) {
    r.Check("Count", *count, int32_t{0}, *count >= 0);
  }
  // The saved scans are counted as all scans less the rejected ones.
  r.Check("Rejected", t.Rejected, int32_t{0}, Within(t.Rejected, 0, t.Scans));
  return r.reset;
}

}  // namespace orb
