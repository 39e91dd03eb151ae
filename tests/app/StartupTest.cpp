#include "app/Startup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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

// A palette file read by the layout alone (header, N, 65536 cells, palette, M, map,
// output palette), apart from the engine's reader.
struct ShippedPalette {
  bool ok = false;
  int n = 0, m = 0;
  std::string cells;
  std::vector<std::array<int, 3>> output;  // each cell's output colour through the map
  std::array<int, 3> ColourOf(int r, int g, int b) const {
    const auto cell = static_cast<size_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
    return output[static_cast<uint8_t>(cells[cell])];
  }
};

ShippedPalette ReadShippedPalette(const fs::path& path) {
  ShippedPalette p;
  const std::string b = ReadFile(path);
  if (b.size() < 65539) return p;
  auto at = [&](size_t i) { return static_cast<uint8_t>(b[i]); };
  p.n = at(1);
  p.cells = b.substr(2, 65536);
  size_t pos = 65538 + 3 * size_t(p.n + 1);
  if (b.size() <= pos) return p;
  p.m = at(pos++);
  const size_t end = pos + size_t(p.n + 1) + 3 * size_t(p.m + 1);
  if (b.size() != end || p.m > p.n) return p;
  std::vector<int> map;
  for (int i = 0; i <= p.n; ++i) map.push_back(at(pos++));
  std::vector<std::array<int, 3>> outs;
  for (int i = 0; i <= p.m; ++i, pos += 3) outs.push_back({at(pos), at(pos + 1), at(pos + 2)});
  for (int e : map) {
    if (e > p.m) return p;
    p.output.push_back(outs[static_cast<size_t>(e)]);
  }
  for (char c : p.cells)
    if (static_cast<uint8_t>(c) > p.n) return p;
  p.ok = true;
  return p;
}

TEST_F(StartupTest, ShippedInitialDataGivesAFreshDataFolderItsDefaultPalettes) {
  TempDir root;
  fs::path data = root.path() / "data/OrbalonData";
  ASSERT_TRUE(fs::is_directory(orbtest::ProgramFolder() / "OrbalonData"));
  EXPECT_EQ(orb::CopyInitialData(orbtest::ProgramFolder().string(), data.string()), 0);
  g_szDataFolder = data.string();
  orb::LoadAllSettings(data.string());
  struct Case {
    const char* name;
    const char* setting;
    int colours;
  };
  for (const Case& c : {Case{"def16.apt", ScanSettings.Palette16File, 16},
                        Case{"def256.apt", ScanSettings.Palette256File, 256}}) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(fs::path(c.setting), data / c.name);
    ShippedPalette p = ReadShippedPalette(data / c.name);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.n + 1, c.colours);
    // Paper and ink keep their colours; a saturated colour is not made grey.
    using C = std::array<int, 3>;
    EXPECT_EQ(p.ColourOf(255, 255, 255), (C{255, 255, 255}));
    // Black's cell may take the darkest grey of the larger palette.
    const C black = p.ColourOf(0, 0, 0);
    EXPECT_TRUE(black[0] == black[1] && black[1] == black[2] && black[0] <= 8) << black[0];
    EXPECT_EQ(p.ColourOf(255, 0, 0), (C{255, 0, 0}));
    EXPECT_EQ(p.ColourOf(0, 0, 255), (C{0, 0, 255}));
    // No cell lies further from its colour than one step of the palette's colour grid
    // (two steps of 255 for sixteen colours, the cube's 51 for 256).
    int worst = 0;
    for (int r = 4; r < 256; r += 8)
      for (int g = 2; g < 256; g += 4)
        for (int b = 4; b < 256; b += 8) {
          const C o = p.ColourOf(r, g, b);
          worst = std::max(worst, std::max({std::abs(o[0] - r), std::abs(o[1] - g), std::abs(o[2] - b)}));
        }
    EXPECT_LE(worst, c.colours == 16 ? 128 : 51);
  }
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
