#include "scanning/ScanPlan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orb {
namespace {

using K = ScanCommand::Kind;

struct PlanFixture {
  ScanSettingsRecord s;
  BWThresholdRecord threshold;
  GammaRecord tone;
  BrightContRecord bright;
  BWPointRecord bwPoint;
  DescreenRecord noise;
  SharpenRecord sharpen;
  MirrorRecord mirror;
  InvertRecord invert;
  DespeckleRecord despeckle;
  std::vector<_WINDOWSIZES> paper;
  std::vector<std::string> resolutions{"100 dpi", "50  dpi", "100 dpi", "200 dpi", "400 dpi",
                                       "800 dpi", ""};
  std::optional<ScanArea> autoArea;

  PlanFixture() {
    s.ScannerType = 0;
    s.OpticalDpi = 400;
    s.MaxWidth = 5399;
    s.ResolutionIndex = 0;
    SetTextField(s.ResolutionText, "100 dpi");
    s.SizeMode = 2;
    s.CustomWidth = 1001;
    s.CustomLength = 1100;
    s.AreaLeft = 0;
    s.AreaTop = 0;
    s.ColourMode = 0;
    s.ScanBrightness = 5;
    s.GammaRed = s.GammaGreen = s.GammaBlue = 1.5f;
    s.HardwareThreshold = 1;
    threshold.SoftwareThreshold = 0;
    threshold.ThresholdingType = 0;
    _WINDOWSIZES a4;
    SetTextField(a4.Name, "A4");
    a4.Width = 827;
    a4.Length = 1169;
    paper.push_back(a4);
  }

  ScanPlanInput Input() {
    return ScanPlanInput{s,
                         ScanToolRecords{threshold, tone, bright, bwPoint, noise, sharpen, mirror,
                                         invert, despeckle},
                         paper,
                         resolutions,
                         autoArea,
                         "/data"};
  }
  ScanPlan Plan() {
    PlanError e;
    auto p = MakeScanPlan(Input(), &e);
    EXPECT_TRUE(p.has_value()) << e.stringId << " " << e.text;
    return p.value_or(ScanPlan{});
  }
  PlanError Error() {
    PlanError e;
    auto p = MakeScanPlan(Input(), &e);
    EXPECT_FALSE(p.has_value());
    return e;
  }
};

std::vector<ScanCommand> Of(const ScanPlan& p, K kind) {
  std::vector<ScanCommand> out;
  for (const auto& c : p.commands)
    if (c.kind == kind) out.push_back(c);
  return out;
}

// Width in pixels by colour mode: RGB rounds down to 12, the others to 16.
TEST(ScanPlan, WidthRoundingByColourMode) {
  struct Case { int mode; int32_t width; int32_t lineBytes; };
  const Case cases[] = {{0, 996, 2988}, {3, 992, 992}, {5, 992, 992}, {1, 992, 992},
                        {4, 992, 992}};
  for (const Case& c : cases) {
    PlanFixture f;
    f.s.ColourMode = c.mode;
    ScanPlan p = f.Plan();
    EXPECT_EQ(p.widthPx, c.width) << "mode " << c.mode;
    EXPECT_EQ(p.lineBytes, c.lineBytes) << "mode " << c.mode;
    EXPECT_EQ(p.window.Width, c.width);
    EXPECT_EQ(p.heightPx, 1100);
  }
}

TEST(ScanPlan, PaperIndexAtTableCountIsInvalidArgument) {
  PlanFixture f;
  f.s.SizeMode = 1;
  f.s.PaperSizeIndex = 1;  // the table holds one entry
  EXPECT_EQ(f.Error().stringId, kStrInvalidArgument);
  f.s.PaperSizeIndex = 0;
  ScanPlan p = f.Plan();
  EXPECT_EQ(p.area.width, 827);
  f.s.Landscape = 1;
  p = f.Plan();
  EXPECT_EQ(p.area.width, 1169);
  EXPECT_EQ(p.area.length, 827);
}

TEST(ScanPlan, ToneTablesOneWhenGammasEqualElseThree) {
  PlanFixture f;
  auto tables = Of(f.Plan(), K::LoadTrcTable);
  ASSERT_EQ(tables.size(), 1u);
  EXPECT_EQ(tables[0].a0, 0);
  EXPECT_FLOAT_EQ(static_cast<float>(tables[0].gamma), 1.5f);

  f.s.GammaBlue = 1.6f;
  tables = Of(f.Plan(), K::LoadTrcTable);
  ASSERT_EQ(tables.size(), 3u);
  EXPECT_EQ(tables[0].a0, 1);
  EXPECT_EQ(tables[1].a0, 2);
  EXPECT_EQ(tables[2].a0, 3);
  EXPECT_FLOAT_EQ(static_cast<float>(tables[2].gamma), 1.6f);
}

TEST(ScanPlan, UpperLeftXRule) {
  struct Case { int sizeMode; int leftOffsetMode; int32_t areaLeft; int32_t ulx; };
  const Case cases[] = {
      {0, 0, 0, 1},     // automatic width: never 0
      {2, 1, 0, 1},     // left offset mode 1: never 0
      {2, 1, 150, 150},
      {2, 0, 150, 0},   // custom area with left offset mode 0 starts at the edge
      {0, 0, 150, 150},
  };
  for (const Case& c : cases) {
    PlanFixture f;
    f.s.SizeMode = c.sizeMode;
    f.s.LeftOffsetMode = c.leftOffsetMode;
    f.s.AreaLeft = c.areaLeft;
    if (c.sizeMode == 0) f.autoArea = ScanArea{1000, 1100, c.areaLeft, 0};
    EXPECT_EQ(f.Plan().window.UpperLeftX, c.ulx)
        << c.sizeMode << "/" << c.leftOffsetMode << "/" << c.areaLeft;
  }
}

TEST(ScanPlan, SpeedStagingAndCommandOrder) {
  PlanFixture f;
  f.s.ScanSpeed = 3;
  f.s.StagingPosition = 0.5;
  f.s.RgbControl = 1;
  ScanPlan p = f.Plan();
  std::vector<K> kinds;
  for (auto& c : p.commands) kinds.push_back(c.kind);
  EXPECT_EQ(kinds, (std::vector<K>{K::SetWindow, K::SetFractionalSpeed, K::LoadTrcTable,
                                   K::SetPaperStagingPosition, K::RGBControl, K::StartScan}));
  EXPECT_EQ(Of(p, K::SetFractionalSpeed)[0].a0, 6);
  EXPECT_EQ(Of(p, K::SetPaperStagingPosition)[0].a0, 200);
  EXPECT_EQ(Of(p, K::RGBControl)[0].a0, 1);

  // Palette scans send the colour table first; mode 6 never asks for RGB control.
  f.s.ColourMode = 1;
  f.s.FormatIndexPalette = 1;
  p = f.Plan();
  EXPECT_EQ(p.commands.front().kind, K::LoadColorTranslationTable);
  f.s.ColourMode = 6;
  EXPECT_EQ(Of(f.Plan(), K::RGBControl)[0].a0, 0);
}

TEST(ScanPlan, HighResolutionFlagBand) {
  struct Case { int scannerType; int mode; int dpi; bool modeByte; int flags; };
  const Case cases[] = {
      {1, 0, 200, true, 139},  {1, 0, 400, true, 139},  {1, 0, 100, true, 131},
      {1, 0, 800, true, 131},  {1, 0, 200, false, 131}, {0, 0, 200, true, 131},
      {1, 3, 200, true, 139},  {1, 5, 200, true, 139},  {1, 4, 200, true, 139},
      {1, 1, 200, true, 131},  {0, 6, 800, true, 139},  {0, 6, 400, true, 131},
  };
  for (const Case& c : cases) {
    PlanFixture f;
    f.s.ScannerType = c.scannerType;
    f.s.HighResWindow = 1;
    f.s.HighResRgb = f.s.HighResGrey = f.s.HighResBilevel = c.modeByte ? 1 : 0;
    f.s.ColourMode = c.mode;
    SetTextField(f.s.ResolutionText, std::to_string(c.dpi) + " dpi");
    f.s.CustomWidth = 400;
    f.s.CustomLength = 200;
    f.s.MaxWidth = 5399;
    EXPECT_EQ(f.Plan().window.Flags, c.flags)
        << "type " << c.scannerType << " mode " << c.mode << " dpi " << c.dpi;
  }
}

TEST(ScanPlan, Mode6At800DpiThresholdsInTheScanner) {
  PlanFixture f;
  f.s.ScannerType = 0;
  f.s.HighResWindow = 1;
  f.s.HighResBilevel = 1;
  f.s.ColourMode = 6;
  f.threshold.SoftwareThreshold = 1;
  f.threshold.FixedThreshhold = 30;
  SetTextField(f.s.ResolutionText, "800 dpi");
  f.s.CustomWidth = 200;
  f.s.CustomLength = 100;
  ScanPlan p = f.Plan();
  EXPECT_EQ(p.window.BitsPerPixel, 1);
  EXPECT_EQ(p.window.ImageComposition, 0);
  EXPECT_EQ(p.window.Threshold, 255 - 120);
  EXPECT_EQ(p.window.VendorLast, 2);
  EXPECT_TRUE(p.oneBitTransfer);
  EXPECT_FALSE(p.inScanFilters & kFilterThreshold);
}

TEST(ScanPlan, BilevelThresholdRule) {
  PlanFixture f;
  f.s.ColourMode = 4;
  // Hardware fixed threshold: 1 bit from the scanner.
  f.threshold.FixedThreshhold = 10;
  ScanPlan p = f.Plan();
  EXPECT_EQ(p.window.BitsPerPixel, 1);
  EXPECT_EQ(p.window.Threshold, 215);
  EXPECT_TRUE(Of(p, K::SetIAT).empty());
  EXPECT_EQ(p.workingCopyKind, 4);
  // Adaptive in the scanner: threshold 0 and SetIAT before the window.
  f.threshold.ThresholdingType = 1;
  f.threshold.AdaptiveWindowSize = 21;
  f.threshold.AdaptiveDynamic = 7;
  p = f.Plan();
  EXPECT_EQ(p.window.Threshold, 0);
  ASSERT_EQ(p.commands[0].kind, K::SetIAT);
  EXPECT_EQ(p.commands[0].a0, 21);
  EXPECT_EQ(p.commands[0].a1, 7);
  // No threshold in the scanner: grey is scanned and thresholded here, and the setting sticks.
  f.s.HardwareThreshold = 0;
  p = f.Plan();
  EXPECT_EQ(p.window.BitsPerPixel, 8);
  EXPECT_EQ(p.window.ImageComposition, 2);
  EXPECT_TRUE(p.forceSoftwareThreshold);
  EXPECT_TRUE(p.scannedGrey);
  EXPECT_TRUE(p.inScanFilters & kFilterThreshold);
  EXPECT_EQ(p.workingCopyKind, 10);
  ApplyPlanToSettings(p, f.s, f.threshold);
  EXPECT_EQ(f.threshold.SoftwareThreshold, 1);
}

TEST(ScanPlan, WorkingCopyRule) {
  struct Case { int mode; int formatIndex; bool copy; uint32_t format; };
  const Case cases[] = {
      {0, 4, false, 1},    // uncompressed TIFF of an RGB scan: the output is the raw image
      {0, 0, true, 2},     // JPEG
      {3, 3, false, 1},
      {3, 2, true, 3},
      {4, 1, true, 1},     // black and white always has one
      {1, 1, false, 1},
      {1, 0, true, 3},
  };
  for (const Case& c : cases) {
    PlanFixture f;
    f.s.ColourMode = c.mode;
    f.s.FormatIndexRgb = f.s.FormatIndexGrey = f.s.FormatIndexBilevel = f.s.FormatIndexPalette =
        c.formatIndex;
    ScanPlan p = f.Plan();
    EXPECT_EQ(p.outputFormat, c.format) << c.mode << "/" << c.formatIndex;
    EXPECT_EQ(p.workingCopy, c.copy) << c.mode << "/" << c.formatIndex;
    EXPECT_EQ(p.outputByLibrary, c.format != 1);
  }
}

TEST(ScanPlan, RefusesWhatHasNoGeometry) {
  for (int mode : {7, 8, 10, -1}) {
    PlanFixture f;
    f.s.ColourMode = mode;
    EXPECT_EQ(f.Error().stringId, kStrInvalidArgument) << mode;
  }
  PlanFixture f;
  f.s.CustomWidth = 0;
  EXPECT_EQ(f.Error().stringId, kStrEmptyArea);
  f.s.CustomWidth = 100;
  f.s.AreaLeft = 5399;  // right edge clipped to the maximum width: nothing left
  EXPECT_EQ(f.Error().stringId, kStrEmptyArea);
  PlanFixture g;
  g.s.FormatIndexRgb = 8;  // outside the list
  EXPECT_EQ(g.Error().stringId, kStrInvalidArgument);
}

TEST(ScanPlan, AreaWriteBackAndResolutionList) {
  PlanFixture f;
  f.s.ResolutionIndex = 3;  // "200 dpi"
  f.s.AreaLeft = 5000;
  f.s.CustomWidth = 1000;
  f.s.AreaTop = 50;
  ScanPlan p = f.Plan();
  EXPECT_EQ(p.xDpi, 200);
  EXPECT_EQ(p.areaRight, 5399);
  EXPECT_EQ(p.areaBottom, 1150);
  EXPECT_EQ(p.widthPx, 798 - 798 % 12);
  EXPECT_EQ(p.window.UpperLeftY, 100);
  // An index past the end of the list gives no resolution.
  f.s.ResolutionIndex = 6;
  EXPECT_EQ(f.Error().stringId, kStrInvalidArgument);
}

TEST(ScanPlan, LongSheetsComputeIn64Bits) {
  PlanFixture f;
  f.s.ColourMode = 0;
  f.s.FormatIndexRgb = 4;
  SetTextField(f.s.ResolutionText, "600 dpi");
  f.s.MaxWidth = 6200;
  f.s.CustomWidth = 6000;
  f.s.CustomLength = 100000;  // 1000 inches
  ScanPlan p = f.Plan();
  EXPECT_EQ(p.heightPx, 600000);
  EXPECT_EQ(p.outputBytes, int64_t{36000 * 3} * 600000);
}

TEST(ScanPlan, JpegHeightLimit) {
  PlanFixture f;
  f.s.FormatIndexRgb = 0;  // JPEG
  f.s.CustomLength = 40000;
  EXPECT_EQ(f.Error().stringId, kStrJpegTooHigh);
  f.s.SizeMode = 0;
  f.autoArea = ScanArea{1000, 40000, 0, 0};
  ScanPlan p = f.Plan();
  EXPECT_EQ(p.heightPx, kJpegClampedHeight);
  EXPECT_TRUE(p.jpegHeightClamped);
}

TEST(ScanPlan, VendorValueAndWindowOptions) {
  PlanFixture f;
  f.s.WindowVendorOption = 1;
  EXPECT_EQ(f.Plan().window.Vendor[5], 48);
  f.s.WindowVendorOption = 0;
  EXPECT_EQ(f.Plan().window.Vendor[5], 0);
  f.s.SizeMode = 0;
  f.autoArea = ScanArea{1000, 1000, 0, 0};
  EXPECT_EQ(f.Plan().window.Vendor[5], 48);
  f.s.PaperEndDetection = 1;
  EXPECT_EQ(f.Plan().window.Vendor[5], 0);

  f.s.ModelCode = 17;
  f.s.SpecialWindowOption = 1;
  f.s.WindowExtraOption = 1;
  f.s.FirmwareAtLeast = 1;
  ScanPlan p = f.Plan();
  EXPECT_TRUE(p.windowSpecial);
  EXPECT_EQ(p.windowExtraOption, 1);
  f.s.ModelCode = 16;
  f.s.FirmwareAtLeast = 0;
  p = f.Plan();
  EXPECT_FALSE(p.windowSpecial);
  EXPECT_EQ(p.windowExtraOption, 0);
}

TEST(ScanPlan, PaletteScansFilterTheirPalette) {
  PlanFixture f;
  f.s.ColourMode = 2;
  f.s.AutoPalette16 = 1;
  f.invert.enabled = 1;
  f.tone.enabled = 1;
  f.mirror.enabled = 1;
  f.noise.enabled = 1;
  ScanPlan p = f.Plan();
  EXPECT_EQ(p.paletteFile, "/data/AutoPalette16.tmp");
  EXPECT_TRUE(p.paletteIsAuto);
  EXPECT_EQ(p.paletteFilters, kFilterToneCurve | kFilterInvert);
  EXPECT_EQ(p.inScanFilters, kFilterMirror);  // indices are only moved, never changed
  f.s.AutoPalette16 = 0;
  SetTextField(f.s.Palette16File, "/p/def16.apt");
  EXPECT_EQ(f.Plan().paletteFile, "/p/def16.apt");
}

TEST(ScanPlan, InScanFiltersByColourMode) {
  PlanFixture f;
  f.noise.enabled = f.sharpen.enabled = f.mirror.enabled = f.tone.enabled = 1;
  f.bright.enabled = f.bwPoint.enabled = f.invert.enabled = f.despeckle.enabled = 1;
  f.s.ColourMode = 0;
  EXPECT_EQ(f.Plan().inScanFilters, kFilterNoiseRemoval | kFilterSharpen | kFilterMirror |
                                        kFilterToneCurve | kFilterBrightCont | kFilterBWPoint |
                                        kFilterInvert);
  f.s.ColourMode = 4;
  f.threshold.SoftwareThreshold = 1;
  EXPECT_EQ(f.Plan().inScanFilters,
            kFilterMirror | kFilterInvert | kFilterThreshold | kFilterDespeckle);
}

}  // namespace
}  // namespace orb
