// The tools' settings files and presets: missing, empty, short, full and long files, and
// damaged values brought back into their ranges.
#include "tools/ToolRecords.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/AppGlobals.h"
#include "engine/Settings.h"
#include "tools/ToolTable.h"
#include "tests/common/TestUtil.h"

namespace {

namespace fs = std::filesystem;
using namespace orb::tools;

std::vector<uint8_t> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
void WriteAll(const fs::path& p, const std::vector<uint8_t>& b) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}
std::vector<uint8_t> Le32(int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  return {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16), static_cast<uint8_t>(u >> 24)};
}
std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

class ToolRecords : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = orbtest::FreshTestFolder("toolrec");
    savedData_ = g_szDataFolder;
    savedTag_ = g_scanFamilyTag;
    g_szDataFolder = dir_.string();
    g_scanFamilyTag = "Vq";
    BrightContSettings = {};
    DespeckleSettings = {};
    BWThresholdSettings = {};
    GammaSettings = orb::MakeToneCurveDefaults();
  }
  void TearDown() override {
    g_szDataFolder = savedData_;
    g_scanFamilyTag = savedTag_;
    fs::remove_all(dir_);
  }
  fs::path dir_;
  std::string savedData_, savedTag_;
};

// What a brightness/contrast file does to the record (defaults 0, 0, off).
struct FileCase {
  const char* what;
  bool exists;
  std::vector<uint8_t> bytes;
  int32_t brightness, contrast;
  uint8_t enabled;
};

TEST_F(ToolRecords, SettingsFileTable) {
  const std::vector<FileCase> cases = {
      {"missing", false, {}, 0, 0, 0},
      {"empty", true, {}, 0, 0, 0},
      {"short: only the brightness", true, Le32(-40), -40, 0, 0},
      {"full", true, Cat({Le32(25), Le32(-7), {1, 0, 0, 0}}), 25, -7, 1},
      {"longer than the record", true, Cat({Le32(3), Le32(4), {1, 9, 9, 9}, {0xAA, 0xBB}}), 3, 4, 1},
      {"damaged: out of range", true, Cat({Le32(5000), Le32(-101), {7, 0, 0, 0}}), 100, -100, 1},
  };
  const fs::path file = dir_ / "BrightCont.flt";
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.what);
    BrightContSettings = {};
    fs::remove(file);
    if (c.exists) WriteAll(file, c.bytes);
    EXPECT_TRUE(LoadToolSettings(kToolBrightCont));
    EXPECT_EQ(BrightContSettings.Brightness, c.brightness);
    EXPECT_EQ(BrightContSettings.Contrast, c.contrast);
    EXPECT_EQ(BrightContSettings.enabled, c.enabled);
    // A missing file is there afterwards, empty.
    EXPECT_TRUE(fs::exists(file));
    if (!c.exists) {
      EXPECT_EQ(fs::file_size(file), 0u);
    }
  }
}

TEST_F(ToolRecords, SavedRecordIsTheRecordsBytesAndReadsBack) {
  BrightContSettings.Brightness = -12;
  BrightContSettings.Contrast = 34;
  BrightContSettings.enabled = 1;
  ASSERT_TRUE(SaveToolSettings(kToolBrightCont));
  EXPECT_EQ(ReadAll(dir_ / "BrightCont.flt"), Cat({Le32(-12), Le32(34), {1, 0, 0, 0}}));
  BrightContSettings = {};
  ASSERT_TRUE(LoadToolSettings(kToolBrightCont));
  EXPECT_EQ(BrightContSettings.Brightness, -12);
  EXPECT_EQ(BrightContSettings.Contrast, 34);
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(ToolRecords, DespeckleWidthIsKeptWithinTheSliderRange) {
  const std::pair<int32_t, int32_t> cases[] = {{250, 100}, {-3, 0}, {5, 5}, {100, 100}, {0, 0}};
  for (auto [stored, shown] : cases) {
    SCOPED_TRACE(stored);
    WriteAll(dir_ / "Despeckle.flt", Cat({Le32(stored), Le32(5), {0, 0, 0, 0}}));
    LoadToolSettings(kToolDespeckle);
    EXPECT_EQ(DespeckleSettings.SpeckWidth, shown);
  }
}

TEST_F(ToolRecords, DamagedValuesOfEveryFilterComeBackIntoRange) {
  orb::DescreenRecord noise;
  noise.Level = 9;
  EXPECT_FALSE(KeepInRange(noise).empty());
  EXPECT_EQ(noise.Level, 3);
  noise.Level = 0;
  KeepInRange(noise);
  EXPECT_EQ(noise.Level, 1);

  orb::SharpenRecord sharpen;
  sharpen.Level = -99;
  KeepInRange(sharpen);
  EXPECT_EQ(sharpen.Level, -10);

  orb::BWPointRecord bw;
  bw.White = 10;
  bw.Black = 300;
  KeepInRange(bw);
  EXPECT_EQ(bw.Black, 255);
  EXPECT_GE(bw.White, bw.Black);

  orb::BWThresholdRecord thr;
  thr.ThresholdingType = 7;
  thr.AdaptiveWindowSize = -4;
  thr.HybridDecisionWindow = 0;
  KeepInRange(thr);
  EXPECT_EQ(thr.ThresholdingType, 0);
  EXPECT_EQ(thr.AdaptiveWindowSize, 1);
  EXPECT_EQ(thr.HybridDecisionWindow, 2);

  orb::GammaRecord g = orb::MakeToneCurveDefaults();
  g.Channel = 12;
  g.curves[2][1] = {-5, 999};
  KeepInRange(g);
  EXPECT_EQ(g.Channel, 0u);
  EXPECT_EQ(g.curves[2][1], (orb::CurvePoint{0, 255}));

  // A sound record is left alone.
  orb::BrightContRecord sound;
  sound.Brightness = 100;
  EXPECT_TRUE(KeepInRange(sound).empty());
}

TEST_F(ToolRecords, ThresholdWithoutFileIsFixedAt32InSoftware) {
  ASSERT_TRUE(LoadToolSettings(kToolThreshold));
  EXPECT_EQ(BWThresholdSettings.ThresholdingType, 0);
  EXPECT_EQ(BWThresholdSettings.FixedThreshhold, 32);
  EXPECT_EQ(BWThresholdSettings.SoftwareThreshold, 1);
}

TEST_F(ToolRecords, ToneCurvesStartFromTheFactoryCurvesUnderAShortFile) {
  GammaSettings.curves[0][1] = {10, 200};  // a change the file does not cover
  WriteAll(dir_ / "Gamma.flt", Cat({Le32(2), {1, 0, 0, 0}}));
  ASSERT_TRUE(LoadToolSettings(kToolGamma));
  EXPECT_EQ(GammaSettings.Channel, 2u);
  EXPECT_EQ(GammaSettings.enabled, 1);
  EXPECT_EQ(GammaSettings.curves[0][1], (orb::CurvePoint{86, 86}));
}

TEST_F(ToolRecords, PresetsGoIntoTheFamilyFolderAndAMissingPresetChangesNothing) {
  SharpenSettings = {};
  SharpenSettings.Level = 4;
  ASSERT_TRUE(SaveToolPreset(kToolSharpen, "fine"));
  const fs::path preset = dir_ / "presets" / "Vq" / "fine.sha";
  ASSERT_TRUE(fs::exists(preset));
  EXPECT_EQ(ReadAll(preset), Cat({Le32(4), {0, 0, 0, 0}}));
  SharpenSettings.Level = -2;
  ASSERT_TRUE(LoadToolPreset(kToolSharpen, "fine"));
  EXPECT_EQ(SharpenSettings.Level, 4);
  ASSERT_TRUE(LoadToolPreset(kToolSharpen, "nothing"));
  EXPECT_EQ(SharpenSettings.Level, 4);
  EXPECT_TRUE(fs::exists(dir_ / "presets" / "Vq" / "nothing.sha"));
}

TEST_F(ToolRecords, ToolTableNamesTheFilesAndExtensions) {
  struct Row {
    int id;
    const char* file;
    const char* ext;
    size_t bytes;
    OkAction ok;
  };
  const Row rows[] = {
      {kToolDespeckle, "Despeckle.flt", "dsp", 12, OkAction::Pipeline},
      {kToolBrightCont, "BrightCont.flt", "brc", 12, OkAction::PostApply},
      {kToolBWPoint, "BWPoint.flt", "bwp", 12, OkAction::PostApply},
      {kToolSharpen, "Sharpen.flt", "sha", 8, OkAction::Pipeline},
      {kToolMirror, "Mirror.flt", "mir", 1, OkAction::Pipeline},
      {kToolInvert, "Invert.flt", "inv", 1, OkAction::Pipeline},
      {kToolGamma, "Gamma.flt", "gma", 1160, OkAction::PostApply},
      {kToolDescreen, "Descreen.flt", "des", 8, OkAction::Pipeline},
      {kToolThreshold, "BWThreshold.flt", "thr", 36, OkAction::PostApply},
  };
  for (const Row& r : rows) {
    const ToolPageInfo* t = FindTool(r.id);
    ASSERT_NE(t, nullptr) << r.id;
    EXPECT_STREQ(t->settingsFile, r.file);
    EXPECT_STREQ(t->presetExt, r.ext);
    EXPECT_EQ(t->recordBytes, r.bytes);
    EXPECT_EQ(t->ok, r.ok);
    EXPECT_EQ(ToolSettingsPath(r.id), dir_.string() + "/" + r.file);
  }
  EXPECT_EQ(FindTool(4242), nullptr);
  EXPECT_TRUE(ToolSettingsPath(kToolCrop).empty());
}

// The main frame's presets carry fifteen tools in a fixed order, the extensions of the
// tool table; reduce resolution and join keep preset files of their own outside them.
TEST_F(ToolRecords, FramePresetsListFifteenToolsInTheirFileOrder) {
  const char* exts[] = {"thr", "mir", "inv", "bwp", "brc", "gma", "sha", "des",
                        "dsp", "r90", "plt", "edt", "idx", "cls", "a2i"};
  const auto list = FramePresetTools();
  ASSERT_EQ(list.size(), std::size(exts));
  for (size_t i = 0; i < list.size(); ++i) {
    const ToolPageInfo* t = FindTool(list[i].toolId);
    ASSERT_NE(t, nullptr) << i;
    EXPECT_STREQ(t->presetExt, exts[i]) << i;
    EXPECT_EQ(ToolRecordBytes(list[i].toolId).size(), t->recordBytes) << exts[i];
    EXPECT_EQ(FactoryToolRecordBytes(list[i].toolId).size(), t->recordBytes) << exts[i];
  }
  for (const auto& entry : list) EXPECT_NE(entry.toolId, kToolReduceRes);
  for (const auto& entry : list) EXPECT_NE(entry.toolId, kToolJoin);
}

// Bytes laid over a record through the tool's id (as a preset load does) are kept in range
// as a settings file's are; short ones replace a prefix.
TEST_F(ToolRecords, RecordBytesFromAPresetAreKeptInRange) {
  const auto bytes = Cat({Le32(500), Le32(-7), {1, 0, 0, 0}});
  ASSERT_TRUE(SetToolRecordBytes(kToolBrightCont, bytes.data(), bytes.size()));
  EXPECT_EQ(BrightContSettings.Brightness, 100);
  EXPECT_EQ(BrightContSettings.Contrast, -7);
  EXPECT_EQ(BrightContSettings.enabled, 1);
  EXPECT_EQ(ToolRecordBytes(kToolBrightCont), Cat({Le32(100), Le32(-7), {1, 0, 0, 0}}));
  const auto shortBytes = Le32(-30);
  ASSERT_TRUE(SetToolRecordBytes(kToolBrightCont, shortBytes.data(), shortBytes.size()));
  EXPECT_EQ(BrightContSettings.Brightness, -30);
  EXPECT_EQ(BrightContSettings.Contrast, -7);
  const auto speck = Cat({Le32(0), Le32(9999)});
  ASSERT_TRUE(SetToolRecordBytes(kToolDespeckle, speck.data(), speck.size()));
  EXPECT_TRUE(KeepInRange(DespeckleSettings).empty());
  EXPECT_FALSE(SetToolRecordBytes(kToolCrop, bytes.data(), bytes.size()));
  // The tone curves' factory record is the factory curves, not zeros.
  const auto gamma = FactoryToolRecordBytes(kToolGamma);
  const auto defaults = orb::EncodeRecord(orb::MakeToneCurveDefaults());
  EXPECT_TRUE(std::equal(gamma.begin(), gamma.end(), defaults.begin(), defaults.end()));
}

}  // namespace
