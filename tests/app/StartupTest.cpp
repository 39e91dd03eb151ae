#include "app/Startup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "engine/ScanLog.h"
#include "engine/Settings.h"
#include "tests/common/TestUtil.h"

namespace fs = std::filesystem;
using orbtest::ReadFile;
using orbtest::TempDir;
using orbtest::WriteFile;

namespace {

std::string Encoded(const orb::MiscSettingsRecord& r) {
  std::string bytes(orb::MiscSettingsRecord::kSize, '\0');
  r.Encode(reinterpret_cast<uint8_t*>(bytes.data()));
  return bytes;
}

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = g_szDataFolder;
    MiscSettings = orb::MiscSettingsRecord();
    ScanSettings = orb::ScanSettingsRecord();
  }
  void TearDown() override { g_szDataFolder = saved_; }
  std::string saved_;
};

TEST_F(StartupTest, FirstRunCopiesTheInitialDataBeforeTheSettingsAreRead) {
  TempDir root;
  fs::path prog = root.path() / "prog", data = root.path() / "data/OrbalonData";
  orb::MiscSettingsRecord shipped;
  shipped.LanguageId = 7;
  shipped.TooltipMode = 2;
  WriteFile(prog / "OrbalonData/MiscData.dat", Encoded(shipped));
  WriteFile(prog / "OrbalonData/presets/Vq/_FactoryDefaults.s", "scan settings");

  EXPECT_TRUE(orb::NeedsFirstRunCopy(data.string()));
  EXPECT_EQ(orb::CopyInitialData(prog.string(), data.string()), 0);
  EXPECT_FALSE(orb::NeedsFirstRunCopy(data.string()));
  EXPECT_EQ(ReadFile(data / "presets/Vq/_FactoryDefaults.s"), "scan settings");

  g_szDataFolder = data.string();
  orb::LoadAllSettings(data.string());
  EXPECT_EQ(MiscSettings.LanguageId, 7);
  EXPECT_EQ(MiscSettings.TooltipMode, 2);
}

TEST_F(StartupTest, WithoutInitialDataNothingIsCopiedOrMade) {
  TempDir root;
  fs::path data = root.path() / "data/OrbalonData";
  EXPECT_EQ(orb::CopyInitialData((root.path() / "prog").string(), data.string()), 0);
  EXPECT_FALSE(fs::exists(data));
  EXPECT_TRUE(orb::NeedsFirstRunCopy(data.string()));
}

TEST_F(StartupTest, ExitSavesCreateTheDataFolderAndSkipFilesThatCouldNotBeRead) {
  TempDir root;
  fs::path data = root.path() / "data/OrbalonData";
  g_szDataFolder = data.string();
  orb::SettingsSaveRule all = orb::LoadAllSettings(data.string());
  EXPECT_TRUE(all.scanData && all.miscData && all.scanLogTotals);
  MiscSettings.TooltipMode = 0;
  ASSERT_TRUE(orb::SaveAllSettings(data.string(), all));
  EXPECT_EQ(fs::file_size(data / "ScanData.dat"), orb::ScanSettingsRecord::kSize);
  EXPECT_EQ(fs::file_size(data / "MiscData.dat"), orb::MiscSettingsRecord::kSize);
  EXPECT_EQ(fs::file_size(data / orb::kScanLogTotalsFile), 56u);

  // A settings file that is there but cannot be read gave the defaults: it is not
  // written over at exit (here: a folder in its place, which no one can read as a file).
  fs::remove(data / "MiscData.dat");
  fs::create_directories(data / "MiscData.dat");
  WriteFile(data / "MiscData.dat/keep", "user's");
  orb::SettingsSaveRule rule = orb::LoadAllSettings(data.string());
  EXPECT_FALSE(rule.miscData);
  EXPECT_TRUE(rule.scanData);
  orb::SaveAllSettings(data.string(), rule);
  EXPECT_TRUE(fs::is_directory(data / "MiscData.dat"));
  EXPECT_EQ(ReadFile(data / "MiscData.dat/keep"), "user's");
}

}  // namespace
