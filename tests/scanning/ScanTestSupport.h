// Shared set-up of the scanning tests: a private data folder, the process-wide settings saved
// and restored around each test, and a simulated scanner on the still-image device list.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "platform/sim/SimAttach.h"
#include "scanning/ResolutionList.h"

namespace orb::test {

inline std::string MakeTempDir() {
  std::string base = ::testing::TempDir();
  if (base.empty() || base.back() != '/') base += '/';
  std::string tmpl = base + "orbscanXXXXXX";
  char* made = ::mkdtemp(tmpl.data());
  return made ? std::string(made) : std::string();
}

class ScanTestBase : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    ASSERT_FALSE(dir_.empty());
    savedData_ = g_szDataFolder;
    savedSettings_ = ScanSettings;
    savedMisc_ = MiscSettings;
    savedThreshold_ = BWThresholdSettings;
    savedTone_ = GammaSettings;
    savedBright_ = BrightContSettings;
    savedBWPoint_ = BWPointSettings;
    savedNoise_ = DescreenSettings;
    savedSharpen_ = SharpenSettings;
    savedMirror_ = MirrorSettings;
    savedInvert_ = InvertSettings;
    savedDespeckle_ = DespeckleSettings;
    savedSplit_ = AcceptAs2ImagesSettings;
    savedTag_ = g_scanFamilyTag;
    savedList_ = ResolutionList();
    g_szDataFolder = dir_ + "/data";
    std::filesystem::create_directories(g_szDataFolder);
    std::filesystem::create_directories(dir_ + "/work");
    SetTextField(MiscSettings.WorkingFolder, dir_ + "/work");
    CancelFlag.store(0);
    AppStatus.store(0);
  }
  void TearDown() override {
    ScanSettings = savedSettings_;
    MiscSettings = savedMisc_;
    BWThresholdSettings = savedThreshold_;
    GammaSettings = savedTone_;
    BrightContSettings = savedBright_;
    BWPointSettings = savedBWPoint_;
    DescreenSettings = savedNoise_;
    SharpenSettings = savedSharpen_;
    MirrorSettings = savedMirror_;
    InvertSettings = savedInvert_;
    DespeckleSettings = savedDespeckle_;
    AcceptAs2ImagesSettings = savedSplit_;
    g_szDataFolder = savedData_;
    g_scanFamilyTag = savedTag_;
    ResolutionList() = savedList_;
    CancelFlag.store(0);
    AppStatus.store(0);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string dir_;

 private:
  std::string savedData_;
  ScanSettingsRecord savedSettings_;
  MiscSettingsRecord savedMisc_;
  BWThresholdRecord savedThreshold_;
  GammaRecord savedTone_;
  BrightContRecord savedBright_;
  BWPointRecord savedBWPoint_;
  DescreenRecord savedNoise_;
  SharpenRecord savedSharpen_;
  MirrorRecord savedMirror_;
  InvertRecord savedInvert_;
  DespeckleRecord savedDespeckle_;
  AcceptAs2ImagesRecord savedSplit_;
  std::string savedTag_;
  std::vector<std::string> savedList_;
};

}  // namespace orb::test
