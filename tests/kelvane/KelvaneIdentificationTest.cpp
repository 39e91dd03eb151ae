// Identification of a Kelvane-family scanner: the model table by scanner code, the defaults
// of each model line, the firmware text, the scanner change that writes the factory-defaults
// preset, and a scanner code outside the table.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/AppGlobals.h"
#include "engine/Settings.h"
#include "platform/Files.h"
#include "platform/sim/SimKelvane.h"
#include "scanning/ResolutionList.h"
#include "scanning/ScanHost.h"
#include "scanning/kelvane/EventCallback.h"
#include "scanning/kelvane/KelvaneConnection.h"
#include "scanning/kelvane/KelvaneModels.h"
#include "scanning/kelvane/KelvaneScanner.h"
#include "tests/scanning/FakeScanHost.h"
#include "tests/scanning/ScanTestSupport.h"

namespace kv = orb::kelvane;
using orb::sim::KelvaneConfigFor;
using orb::sim::SimKelvane;

namespace {

class KelvaneIdentify : public orb::test::ScanTestBase {
 protected:
  void SetUp() override {
    ScanTestBase::SetUp();
    ScanSettings.NetworkOption = 0;
    savedHost_ = orb::CurrentScanHost();
    orb::SetScanHost(&host_);
  }
  void TearDown() override {
    orb::SetScanHost(savedHost_);
    ScanTestBase::TearDown();
  }
  // Identifies a simulated scanner of `code` on the image-acquisition list.
  bool Identify(int32_t code, int generation = 2, int32_t firmware = -1) {
    auto config = KelvaneConfigFor(generation, generation == 1 ? "Kelvane Bn Scanner"
                                                               : "KelvaneRu Scanner", code);
    if (firmware >= 0) config.firmware = firmware;
    auto sim = std::make_shared<SimKelvane>(config);
    orb::sim::ScopedKelvaneWia wia(sim);
    CKelvaneScanner scanner;
    CEventCallback callback;
    static int frame;
    const bool found = kv::ConnectForFrame(scanner, callback, &frame, &out_);
    connected_ = scanner.IsConnected();
    callback.Unregister();
    scanner.Disconnect();
    return found;
  }
  // Stored values of the same scanner: no scanner change.
  void StoreCurrentScanner(int32_t type, int32_t sub, int32_t variant) {
    ScanSettings.StoredScannerType = type;
    ScanSettings.StoredSubType = sub;
    ScanSettings.StoredScannerVariant = variant;
  }
  std::string PresetPath(const std::string& tag) const {
    return g_szDataFolder + "/presets/" + tag + "/_FactoryDefaults.s";
  }
  orb::IdentifiedScanner out_;
  bool connected_ = false;
  orb::test::FakeScanHost host_;
  orb::ScanHost* savedHost_ = nullptr;
};

TEST_F(KelvaneIdentify, ModelTableRowsByScannerCode) {
  struct Case {
    int32_t code;
    const char* name;
    int32_t model, sub, variant, optical, maxWidth, cameras;
    const char* tag;
  };
  const Case cases[] = {
      {0, "QRD 7719m", 83, 0, 1, 400, 4000, 5, "QRDM"},
      {4, "QRD BN53c", 85, 1, 1, 600, 4000, 5, "QRDM"},   // a colour model, yet "QRDM"
      {9, "QRD PV34m", 90, 0, 0, 600, 2500, 5, "QRDM"},
      {12, "QRD PV48m", 90, 0, 0, 600, 3600, 5, "QRDM"},  // same model code, wider
      {21, "QRD Ru53c", 61, 1, 1, 600, 4000, 5, "QRDC"},
      {23, "QRD PVK61m", 96, 0, 0, 600, 4200, 6, "QRDC"},  // a mono model, yet "QRDC"
      {28, "QRD PVK78e", 101, 1, 0, 600, 5600, 6, "QRDC"},
      {37, "QRD PVK52e", 107, 1, 0, 600, 3800, 4, "QRDC"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    ASSERT_TRUE(Identify(c.code));
    EXPECT_EQ(out_.vendor, "TESSIVAN");
    EXPECT_EQ(out_.model, c.name);
    EXPECT_EQ(ScanSettings.ScannerType, 80);
    EXPECT_EQ(ScanSettings.ModelCode, c.model);
    EXPECT_EQ(ScanSettings.ScannerSubType, c.sub);
    EXPECT_EQ(ScanSettings.ScannerVariant, c.variant);
    EXPECT_EQ(ScanSettings.OpticalDpi, c.optical);
    EXPECT_EQ(ScanSettings.MaxWidth, c.maxWidth);
    EXPECT_EQ(ScanSettings.CameraCount, c.cameras);
    EXPECT_EQ(g_scanFamilyTag, c.tag);
  }
}

TEST_F(KelvaneIdentify, LineDefaultsAndResolutionList) {
  struct Case {
    int32_t code;
    int32_t brightness;  // -99: left as it was
    float gamma;         // 0: left as it was
    int firmwareAtLeast, optionValue, mediaFeature;
    const char* top;     // last entry of the list
  };
  const Case cases[] = {
      {1, -99, 0.0f, 0, 6, 1, "800 dpi"},   {3, -99, 0.0f, 0, 6, 1, "1200 dpi"},
      {7, 10, 1.9f, 1, 6, 0, "1200 dpi"},   {20, 5, 1.7f, 0, 16, 0, "1200 dpi"},
      {26, 5, 1.9f, 0, 16, 0, "1200 dpi"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    orb::SetTextField(ScanSettings.ResolutionText, "333");
    ScanSettings.ScanBrightness = 7;
    ScanSettings.GammaRed = ScanSettings.GammaGreen = ScanSettings.GammaBlue = 1.3f;
    // The stored scanner is the one found: no scanner change touches the values.
    const kv::KelvaneModel* m = kv::FindKelvaneModel(c.code);
    ASSERT_NE(m, nullptr);
    StoreCurrentScanner(80, m->subType, m->variant);
    ASSERT_TRUE(Identify(c.code));
    EXPECT_FALSE(out_.changed);
    EXPECT_EQ(ScanSettings.ScanBrightness, c.brightness == -99 ? 7 : c.brightness);
    EXPECT_FLOAT_EQ(ScanSettings.GammaGreen, c.gamma == 0.0f ? 1.3f : c.gamma);
    EXPECT_EQ(ScanSettings.FirmwareAtLeast, c.firmwareAtLeast);
    EXPECT_EQ(ScanSettings.ResolutionOptionValue, c.optionValue);
    EXPECT_EQ(ScanSettings.MediaFeature, c.mediaFeature);
    EXPECT_EQ(ScanSettings.HardwareThreshold, 1);
    EXPECT_EQ(ScanSettings.LeftOffsetMode, 1);
    EXPECT_EQ(ScanSettings.ManualTransport, 1);
    const auto& list = orb::ResolutionList();
    ASSERT_EQ(list.size(), 8u);
    EXPECT_EQ(list[0], "333");
    EXPECT_EQ(list[1], "100 dpi");
    EXPECT_EQ(list[6], c.top);
    EXPECT_EQ(list[7], "");
  }
}

TEST_F(KelvaneIdentify, FirmwareTextInPairsOfDigits) {
  ASSERT_TRUE(Identify(3, 1, 123456));
  EXPECT_EQ(out_.firmware, "v12.34.56");
  ASSERT_TRUE(Identify(3, 1, 5));
  EXPECT_EQ(out_.firmware, "v00.00.05");
  // Generation 2 reports major and minor: 1.2 is the number 10200.
  ASSERT_TRUE(Identify(20, 2, 0x0102));
  EXPECT_EQ(out_.firmware, "v01.02.00");
}

TEST_F(KelvaneIdentify, FirstRunWithAnotherScannerWritesTheFactoryDefaultsPreset) {
  // The settings were saved with a SCSI-family scanner; a colour Ru-line scanner is found.
  StoreCurrentScanner(0, 1, 0);
  ScanSettings.ColourMode = 3;
  ScanSettings.ScanBrightness = 9;
  ASSERT_TRUE(Identify(21));
  EXPECT_TRUE(out_.changed);
  EXPECT_EQ(ScanSettings.ColourMode, 0);
  EXPECT_FLOAT_EQ(ScanSettings.GammaRed, 1.7f);
  EXPECT_FLOAT_EQ(ScanSettings.GammaBlue, 1.7f);
  EXPECT_EQ(ScanSettings.ScanBrightness, 5);
  // The settings were saved (the stored copies now name this scanner) and copied.
  EXPECT_EQ(ScanSettings.StoredScannerType, 80);
  EXPECT_EQ(ScanSettings.StoredScannerVariant, 1);
  const auto saved = orb::ReadFileBytes(g_szDataFolder + "/ScanData.dat");
  const auto preset = orb::ReadFileBytes(PresetPath("QRDC"));
  ASSERT_TRUE(saved && preset);
  EXPECT_EQ(*saved, *preset);
  // Found again: no change, the preset is not written again.
  std::filesystem::remove(PresetPath("QRDC"));
  ASSERT_TRUE(Identify(21));
  EXPECT_FALSE(out_.changed);
  EXPECT_FALSE(std::filesystem::exists(PresetPath("QRDC")));
}

TEST_F(KelvaneIdentify, AMonoPvLineScannerStartsInGrey) {
  StoreCurrentScanner(80, 1, 1);
  ASSERT_TRUE(Identify(6));  // QRD PV61m: sub-type 0, variant 0
  EXPECT_TRUE(out_.changed);
  EXPECT_EQ(ScanSettings.ColourMode, 3);
  EXPECT_FLOAT_EQ(ScanSettings.GammaRed, 1.9f);
  EXPECT_TRUE(std::filesystem::exists(PresetPath("QRDM")));
}

TEST_F(KelvaneIdentify, AnUnknownScannerCodeIsLetGoWithAMessage) {
  for (int32_t code : {15, 19, 38}) {
    SCOPED_TRACE(code);
    ScanSettings.ScannerType = 0;
    ScanSettings.ModelCode = 7;
    host_.texts.clear();
    EXPECT_FALSE(Identify(code));
    EXPECT_FALSE(connected_);
    EXPECT_EQ(ScanSettings.ScannerType, 0);  // nothing written
    EXPECT_EQ(ScanSettings.ModelCode, 7);
    ASSERT_EQ(host_.texts.size(), 1u);
    EXPECT_NE(host_.texts[0].find(std::to_string(code)), std::string::npos) << host_.texts[0];
  }
}

}  // namespace
