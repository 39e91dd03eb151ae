#include "scanning/ScannerIdentification.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "scanning/ScannerEntryPoints.h"
#include "platform/Files.h"
#include "scanner_library/trennic.h"
#include "tests/scanning/ScanTestSupport.h"

namespace orb {
namespace {

class Identification : public test::ScanTestBase {
 protected:
  IdentifyResult Identify(const std::string& product, const std::string& revision = "1.52",
                          uint8_t byte36 = 1) {
    sim::SimScannerConfig c;
    c.product = product;
    c.revision = revision;
    c.byte36 = byte36;
    sim::ScopedStiScanner sti(c);
    CTrennic trennic;
    return IdentifyScsiScanner(trennic);
  }
};

TEST_F(Identification, InquiryPaddingIsNotPartOfTheShownNames) {
  // The device pads its 16-character product field with blanks; the series letter follows
  // the name itself, so the caption reads "TR6729e", not "TR6729          e".
  IdentifyResult r = Identify("TR6729");
  ASSERT_TRUE(r.matched);
  EXPECT_EQ(r.texts.product.rfind("TR6729", 0), 0u);
  EXPECT_EQ(r.texts.product.find(' '), std::string::npos) << r.texts.product;
  EXPECT_EQ(r.texts.revision, "1.52");
}

TEST_F(Identification, ModelTableByProductId) {
  struct Case { const char* product; int code; int optical; int maxWidth; int paperEnd; };
  const Case cases[] = {
      {"TR9020X", 7, 508, 4199, 0}, {"TR9020", 8, 508, 4199, 0},  {"TR6729", 3, 400, 5399, 0},
      {"HALD23", 21, 600, 2399, 1}, {"TK2231", 16, 600, 2400, 1}, {"TK7191", 19, 200, 3599, 0},
  };
  for (const Case& c : cases) {
    ScanSettings.CameraCount = 9;
    IdentifyResult r = Identify(c.product);
    EXPECT_TRUE(r.matched) << c.product;
    EXPECT_EQ(ScanSettings.ModelCode, c.code) << c.product;
    EXPECT_EQ(ScanSettings.OpticalDpi, c.optical) << c.product;
    EXPECT_EQ(ScanSettings.MaxWidth, c.maxWidth) << c.product;
    EXPECT_EQ(ScanSettings.PaperEndDetection, c.paperEnd) << c.product;
    EXPECT_EQ(ScanSettings.ScannerSubType, 1);
    EXPECT_EQ(ScanSettings.ExtraSettingsFeature, 1);
    EXPECT_EQ(g_scanFamilyTag, "Vq");
  }
  // TR9020X keeps the camera count it had.
  ScanSettings.CameraCount = 9;
  Identify("TR9020X");
  EXPECT_EQ(ScanSettings.CameraCount, 9);
  Identify("TK2231");
  EXPECT_EQ(ScanSettings.MaxLength, 3599);
  EXPECT_EQ(ScanSettings.MediaHandlingByte, 0);
}

TEST_F(Identification, ResolutionListEntries) {
  SetTextField(ScanSettings.ResolutionText, "150 dpi");
  Identify("TR5578");
  const auto& list = ResolutionList();
  ASSERT_GE(list.size(), 9u);
  EXPECT_EQ(list[0], "150 dpi");
  EXPECT_EQ(list[1], "64  dpi");
  EXPECT_EQ(list[2], "100 dpi");
  EXPECT_EQ(list[7], "1016 dpi");
  EXPECT_EQ(list[8], "");
  EXPECT_EQ(ResolutionEntry(50), "50  dpi");
}

TEST_F(Identification, FirmwareThresholdBySeries) {
  struct Case { const char* rev; uint8_t byte36; uint8_t atLeast; int type; };
  const Case cases[] = {
      {"1.52", 1, 1, 1}, {"1.51", 1, 0, 1},  // series 3: threshold 52
      {"1.37", 0, 1, 0}, {"1.36", 0, 0, 0},  // other series: 37
  };
  for (const Case& c : cases) {
    IdentifyResult r = Identify("TR6729", c.rev, c.byte36);
    EXPECT_EQ(ScanSettings.FirmwareAtLeast, c.atLeast) << c.rev << "/" << int(c.byte36);
    EXPECT_EQ(ScanSettings.ScannerType, c.type);
    EXPECT_EQ(ScanSettings.HardwareThreshold, c.byte36 ? 1 : 0);
    EXPECT_EQ(r.texts.revision, c.rev);
    EXPECT_EQ(r.texts.product.back() == 'e', c.byte36 != 0) << r.texts.product;
  }
  // A model whose table row forces it off.
  Identify("TR9014", "1.99", 1);
  EXPECT_EQ(ScanSettings.FirmwareAtLeast, 0);
  EXPECT_EQ(ScanSettings.MediaFeature, 1);
}

TEST_F(Identification, ChangeOfScannerResetsDefaultsAndWritesPreset) {
  ScanSettings.StoredScannerType = 80;  // a Kelvane scanner before
  ScanSettings.StoredSubType = 1;
  ScanSettings.GammaRed = 2.2f;
  ScanSettings.ScanBrightness = 17;
  ScanSettings.ColourMode = 3;
  IdentifyResult r = Identify("TR6729", "1.52", 0);
  EXPECT_TRUE(r.scannerChanged);
  EXPECT_FLOAT_EQ(ScanSettings.GammaRed, 1.5f);
  EXPECT_FLOAT_EQ(ScanSettings.GammaBlue, 1.5f);
  EXPECT_EQ(ScanSettings.ScanBrightness, 5);
  EXPECT_EQ(ScanSettings.ColourMode, 0);
  const std::string preset = g_szDataFolder + "/presets/Vq/_FactoryDefaults.s";
  auto saved = ReadFileBytes(g_szDataFolder + "/ScanData.dat");
  auto copy = ReadFileBytes(preset);
  ASSERT_TRUE(saved && copy);
  EXPECT_EQ(*saved, *copy);
  EXPECT_EQ(saved->size(), ScanSettingsRecord::kSize);

  // The same scanner again: nothing is reset.
  ScanSettings.ScanBrightness = 9;
  r = Identify("TR6729", "1.52", 0);
  EXPECT_FALSE(r.scannerChanged);
  EXPECT_EQ(ScanSettings.ScanBrightness, 9);
}

TEST_F(Identification, UnmatchedModelKeepsFamilyTag) {
  g_scanFamilyTag = "QRDM";
  IdentifyResult r = Identify("ZX1234");
  EXPECT_FALSE(r.matched);
  EXPECT_EQ(g_scanFamilyTag, "QRDM");
  EXPECT_EQ(ScanSettings.OpticalDpi, 400);
  EXPECT_EQ(ScanSettings.MaxDpi, 400);
  EXPECT_EQ(ScanSettings.MaxWidth, 5399);
  EXPECT_EQ(ScanSettings.CameraCount, 3);
  EXPECT_EQ(ResolutionList()[2], "400 dpi");
  EXPECT_FALSE(std::filesystem::exists(g_szDataFolder + "/presets"));
}

TEST_F(Identification, NoScannerAtAll) {
  sim::ScopedPassThrough none(nullptr);
  CTrennic trennic;
  IdentifyResult r = IdentifyScsiScanner(trennic);
  EXPECT_FALSE(r.matched);
  EXPECT_EQ(ScanSettings.MaxWidth, 5399);
}

TEST_F(Identification, FrameEntryPointUsesTheScanner) {
  const ScanningEntryPoints saved = GetScanningEntryPoints();
  sim::SimScannerConfig c;
  c.product = "HALD22";
  c.revision = "2.10";
  sim::ScopedStiScanner sti(c);
  CTrennic trennic;
  InstallScsiIdentification(&trennic);
  IdentifiedScanner found;
  EXPECT_TRUE(GetScanningEntryPoints().identifyScsi(&found));
  EXPECT_EQ(found.vendor, "TESSIVAN");
  EXPECT_EQ(found.model.substr(0, 6), "HALD22");
  EXPECT_EQ(found.firmware, "2.10");
  EXPECT_EQ(ScanSettings.ModelCode, 20);
  SetScanningEntryPoints(saved);
}

}  // namespace
}  // namespace orb
