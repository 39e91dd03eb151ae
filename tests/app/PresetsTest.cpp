// Presets without a display: the description file's bytes, names, the file set of a save,
// what a load changes and keeps, deleting, and failures that must lose nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/Presets.h"
#include "common/AppGlobals.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "platform/Files.h"
#include "tests/common/TestUtil.h"

namespace {

namespace fs = std::filesystem;
using namespace orb::presets;

// The fifteen tools' extensions in their fixed order, written out here on their own.
const std::vector<std::string> kToolExts = {"thr", "mir", "inv", "bwp", "brc", "gma", "sha", "des",
                                            "dsp", "r90", "plt", "edt", "idx", "cls", "a2i"};

std::vector<uint8_t> Bytes(const fs::path& p) {
  auto b = orb::ReadFileBytes(p.string());
  return b ? *b : std::vector<uint8_t>{};
}

// ------------------------------------------------------------------ header bytes

TEST(PresetHeader, BytesAreEightFieldsOf32LaidOutByHand) {
  HeaderFields f;
  f[0] = "Maps";
  f[1] = "";
  f[2] = std::string(32, 'x');                      // exactly 32: no terminator
  f[3] = "0123456789012345678901234567890123456789";  // 40: the first 32
  f[4] = "a\xC3\xA9";                               // "aé" in UTF-8
  f[5] = std::string(31, 'b') + "\xC3\xA9";          // 33 bytes: the 2-byte character would straddle 32
  f[6] = "x y";
  f[7] = "last";
  const HeaderBytes h = EncodeHeader(f);

  uint8_t expected[256] = {};
  std::memcpy(expected + 0, "Maps", 4);
  std::memset(expected + 64, 'x', 32);
  std::memcpy(expected + 96, "01234567890123456789012345678901", 32);
  const uint8_t ae[] = {'a', 0xC3, 0xA9};
  std::memcpy(expected + 128, ae, 3);
  std::memset(expected + 160, 'b', 31);  // the cut character is dropped whole
  std::memcpy(expected + 192, "x y", 3);
  std::memcpy(expected + 224, "last", 4);
  ASSERT_EQ(h.size(), 256u);
  EXPECT_EQ(0, std::memcmp(h.data(), expected, 256));
}

TEST(PresetHeader, ReaderTakesUpToTheZeroTrimsTheEndAndDropsBrokenText) {
  uint8_t raw[256] = {};
  std::memcpy(raw + 0, "Title  \t", 8);                     // trailing white space goes
  std::memcpy(raw + 32, "ab\0garbage", 10);                  // bytes after the zero mean nothing
  std::memset(raw + 64, 'z', 32);                            // no terminator: all 32
  const uint8_t broken[] = {'o', 'k', 0xC3, 'x', 0xFF};      // a cut-off sequence and a stray byte
  std::memcpy(raw + 96, broken, sizeof broken);
  std::memcpy(raw + 128, "  lead", 6);                       // leading blanks stay
  HeaderFields f = DecodeHeader(raw, 256);
  EXPECT_EQ(f[0], "Title");
  EXPECT_EQ(f[1], "ab");
  EXPECT_EQ(f[2], std::string(32, 'z'));
  EXPECT_EQ(f[3], "ok");
  EXPECT_EQ(f[4], "  lead");
  EXPECT_EQ(f[7], "");

  // A short (damaged) file gives what it holds and empty fields for the rest.
  f = DecodeHeader(raw, 40);
  EXPECT_EQ(f[0], "Title");
  EXPECT_EQ(f[1], "ab");
  EXPECT_EQ(f[2], "");
}

TEST(PresetHeader, FortyCharactersShowAsTheirFirst32AfterARoundTrip) {
  HeaderFields f;
  f[3] = std::string(40, 'q');
  const HeaderBytes h = EncodeHeader(f);
  EXPECT_EQ(DecodeHeader(h.data(), h.size())[3], std::string(32, 'q'));
}

// ------------------------------------------------------------------ names

TEST(PresetNames, WhatANameMayBe) {
  struct Case {
    std::string name;
    NameProblem want;
  } cases[] = {
      {"Maps 600 dpi", NameProblem::None},
      {"Karte-\xC3\xBC", NameProblem::None},
      {"A.b", NameProblem::None},
      {"", NameProblem::Empty},
      {".hidden", NameProblem::BadCharacter},
      {"..", NameProblem::BadCharacter},
      {"../escape", NameProblem::BadCharacter},
      {"sub/dir", NameProblem::BadCharacter},
      {"all*", NameProblem::BadCharacter},
      {"one?", NameProblem::BadCharacter},
      {"[ab]", NameProblem::BadCharacter},
      {std::string("nul\0x", 5), NameProblem::BadCharacter},
      {"tab\there", NameProblem::BadCharacter},
      {"bad\xC3", NameProblem::BadCharacter},
      {std::string(251, 'n'), NameProblem::None},
      {std::string(252, 'n'), NameProblem::TooLong},
  };
  for (const Case& c : cases) EXPECT_EQ(CheckName(c.name), c.want) << c.name;
  EXPECT_EQ(TrimLeft("  \t name "), "name ");
  EXPECT_EQ(TrimLeft("   "), "");
  for (const char* n : {"_FactoryDefaults", "_factorydefaults", "_FACTORYDEFAULTS"}) EXPECT_TRUE(IsFactoryPreset(n)) << n;
  EXPECT_FALSE(IsFactoryPreset("_FactoryDefaults2"));
}

TEST(PresetNames, SelectionTriesAnExactMatchBeforeAPrefix) {
  const std::vector<std::string> names = {"Abc", "Ab", "maps", "Zed"};
  struct Case {
    const char* current;
    int want;
  } cases[] = {
      {"Ab", 1},     // exact, although "Abc" comes first and begins with it
      {"ab", 0},     // no exact match: the first beginning with it, any case
      {"MA", 2},
      {"none", 0},   // nothing matches: the first entry
      {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(SelectIndex(names, c.current), c.want) << c.current;
  EXPECT_EQ(SelectIndex({}, "Ab"), -1);
}

// ------------------------------------------------------------------ the store

class PresetStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_szDataFolder = dir_.path().string();
    ScanSettings = orb::ScanSettingsRecord();
    ThresholdBefore = BWThresholdSettings;
    BrightBefore = BrightContSettings;
    GammaBefore = GammaSettings;
    IndexBefore = IndexSettings;
    // The attached scanner and the connection of this machine.
    ScanSettings.ScannerType = 1;
    ScanSettings.ModelCode = 42;
    ScanSettings.ScannerSubType = 1;
    ScanSettings.OpticalDpi = 400;
    ScanSettings.MaxDpi = 9600;
    ScanSettings.MaxWidth = 5399;
    ScanSettings.CameraCount = 4;
    ScanSettings.MaxLength = 90000;
    orb::SetTextField(ScanSettings.OutputFileName, "/home/u/images/Scan-0007.tif");
    ScanSettings.NetworkOption = 1;
    orb::SetTextField(ScanSettings.ScannerAddress, "10.1.2.3");
    ScanSettings.NetworkPort1 = 5001;
    ScanSettings.NetworkPort2 = 5002;
    // Settings a preset carries.
    ScanSettings.ColourMode = 3;
    ScanSettings.ResolutionIndex = 4;
    ScanSettings.CustomWidth = 3600;
    BWThresholdSettings.FixedThreshhold = 77;
    BrightContSettings.Brightness = 40;
    GammaSettings.curves[1][2] = {100, 150};
    IndexSettings.enabled = 1;
  }
  void TearDown() override {
    BWThresholdSettings = ThresholdBefore;
    BrightContSettings = BrightBefore;
    GammaSettings = GammaBefore;
    IndexSettings = IndexBefore;
    for (auto& t : PresetTools()) t.refresh = nullptr;
  }
  fs::path Folder(const char* tag = "Vq") const { return dir_.path() / "presets" / tag; }
  std::set<std::string> FilesIn(const fs::path& folder) const {
    std::set<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
      names.insert(it->path().filename().string());
    return names;
  }

  orbtest::TempDir dir_;
  orb::BWThresholdRecord ThresholdBefore;
  orb::BrightContRecord BrightBefore;
  orb::GammaRecord GammaBefore;
  orb::IndexRecord IndexBefore;
};

TEST_F(PresetStoreTest, SaveWritesTheDescriptionTheScanCopyAndFifteenToolFiles) {
  PresetStore store(g_szDataFolder, "Vq");
  HeaderFields f;
  f[0] = "Blueprints";
  std::string error;
  ASSERT_TRUE(store.Save("A", f, &error)) << error;

  std::set<std::string> want = {"A.pst", "A.s"};
  for (const auto& e : kToolExts) want.insert("A." + e);
  EXPECT_EQ(FilesIn(Folder()), want);
  // The copy is the scan settings file as just written.
  const auto scanData = Bytes(dir_.path() / "ScanData.dat");
  EXPECT_EQ(scanData.size(), 1128u);
  EXPECT_EQ(Bytes(Folder() / "A.s"), scanData);
  // The header: 256 bytes, first field "Blueprints".
  const auto pst = Bytes(Folder() / "A.pst");
  ASSERT_EQ(pst.size(), 256u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(pst.data()), 11), std::string("Blueprints\0", 11));
  // A tool's file is its record's raw bytes: the threshold's fixed level at offset 4.
  const auto thr = Bytes(Folder() / "A.thr");
  ASSERT_EQ(thr.size(), 36u);
  EXPECT_EQ(thr[4], 77);
  EXPECT_EQ(Bytes(Folder() / "A.gma").size(), 1160u);
  EXPECT_EQ(store.List(), std::vector<std::string>{"A"});
  EXPECT_EQ(store.ReadHeader("A")->at(0), "Blueprints");
}

TEST_F(PresetStoreTest, LoadBringsBackThePresetButKeepsScannerOutputNameAndNetwork) {
  PresetStore store(g_szDataFolder, "Vq");
  std::string error;
  ASSERT_TRUE(store.Save("A", {}, &error)) << error;

  // Another scanner of the family is attached now and the user changed settings.
  ScanSettings.ModelCode = 43;
  ScanSettings.OpticalDpi = 600;
  ScanSettings.MaxWidth = 3599;
  ScanSettings.CameraCount = 3;
  ScanSettings.MaxLength = 50000;
  orb::SetTextField(ScanSettings.OutputFileName, "/home/u/images/Other-0001.tif");
  orb::SetTextField(ScanSettings.ScannerAddress, "192.168.7.9");
  ScanSettings.NetworkOption = 0;
  ScanSettings.NetworkPort1 = 702;
  ScanSettings.ColourMode = 4;
  ScanSettings.ResolutionIndex = 2;
  ScanSettings.CustomWidth = 850;
  BWThresholdSettings.FixedThreshhold = 10;
  BrightContSettings.Brightness = -5;
  GammaSettings.curves[1][2] = {0, 0};
  IndexSettings.enabled = 0;
  int refreshed = 0;
  ASSERT_TRUE(SetToolRefresh("brc", [&] { ++refreshed; }));

  PresetStore::LoadResult r = store.Load("A");
  EXPECT_TRUE(r.scanLoaded);
  EXPECT_FALSE(r.scanDamaged);
  EXPECT_EQ(r.toolsLoaded, 15);
  EXPECT_EQ(refreshed, 1);
  // From the preset:
  EXPECT_EQ(ScanSettings.ColourMode, 3);
  EXPECT_EQ(ScanSettings.ResolutionIndex, 4);
  EXPECT_EQ(ScanSettings.CustomWidth, 3600);
  EXPECT_EQ(BWThresholdSettings.FixedThreshhold, 77);
  EXPECT_EQ(BrightContSettings.Brightness, 40);
  EXPECT_EQ(GammaSettings.curves[1][2], (orb::CurvePoint{100, 150}));
  EXPECT_EQ(IndexSettings.enabled, 1);
  // As they were before the load:
  EXPECT_EQ(ScanSettings.ModelCode, 43);
  EXPECT_EQ(ScanSettings.OpticalDpi, 600);
  EXPECT_EQ(ScanSettings.MaxWidth, 3599);
  EXPECT_EQ(ScanSettings.CameraCount, 3);
  EXPECT_EQ(ScanSettings.MaxLength, 50000);
  EXPECT_EQ(orb::TextField(ScanSettings.OutputFileName), "/home/u/images/Other-0001.tif");
  EXPECT_EQ(orb::TextField(ScanSettings.ScannerAddress), "192.168.7.9");
  EXPECT_EQ(ScanSettings.NetworkOption, 0);
  EXPECT_EQ(ScanSettings.NetworkPort1, 702);
  // "ScanData.dat" holds the merged settings.
  orb::ScanSettingsRecord onDisk;
  auto bytes = Bytes(dir_.path() / "ScanData.dat");
  ASSERT_EQ(bytes.size(), 1128u);
  onDisk.Decode(bytes.data());
  EXPECT_EQ(onDisk.ColourMode, 3);
  EXPECT_EQ(onDisk.ModelCode, 43);
  EXPECT_EQ(orb::TextField(onDisk.ScannerAddress), "192.168.7.9");
}

TEST_F(PresetStoreTest, AColourPresetOnAScannerWithoutColourWarns) {
  struct Case {
    int32_t subType;
    int32_t presetMode;
    bool warn;
  } cases[] = {{0, 0, true}, {0, 2, true}, {0, 3, false}, {0, -1, false}, {1, 0, false}};
  PresetStore store(g_szDataFolder, "Vq");
  for (const Case& c : cases) {
    ScanSettings.ScannerSubType = 1;
    ScanSettings.ColourMode = c.presetMode;
    std::string error;
    ASSERT_TRUE(store.Save("C", {}, &error)) << error;
    ScanSettings.ScannerSubType = c.subType;
    EXPECT_EQ(store.Load("C").colourWarning, c.warn) << c.subType << " " << c.presetMode;
    EXPECT_EQ(ScanSettings.ColourMode, c.presetMode);  // loaded all the same
  }
}

TEST_F(PresetStoreTest, PresetsOfOneFamilyAreNotThoseOfAnother) {
  PresetStore vq(g_szDataFolder, "Vq");
  std::string error;
  ASSERT_TRUE(vq.Save("A", {}, &error)) << error;
  PresetStore qrdc(g_szDataFolder, "QRDC");
  EXPECT_TRUE(qrdc.List().empty());
  EXPECT_FALSE(qrdc.Exists("A"));
  EXPECT_FALSE(qrdc.ReadHeader("A"));
  BrightContSettings.Brightness = 1;
  EXPECT_EQ(qrdc.Load("A").toolsLoaded, 0);
  EXPECT_EQ(BrightContSettings.Brightness, 1);
  // Without a family there is no folder at all.
  PresetStore none(g_szDataFolder, "");
  EXPECT_FALSE(none.Save("B", {}, &error));
  EXPECT_TRUE(none.List().empty());
}

TEST_F(PresetStoreTest, AMissingFolderListsNothing) {
  PresetStore store((dir_.path() / "nowhere").string(), "Vq");
  EXPECT_TRUE(store.List().empty());
}

TEST_F(PresetStoreTest, ADamagedScanCopyLeavesTheLiveSettingsAndTheFileAlone) {
  PresetStore store(g_szDataFolder, "Vq");
  std::string error;
  ASSERT_TRUE(store.Save("A", {}, &error)) << error;
  for (size_t size : {size_t{0}, size_t{1}, size_t{100}, size_t{1127}, size_t{1129}}) {
    SCOPED_TRACE(size);
    orbtest::WriteFile(Folder() / "A.s", std::string(size, '\xEE'));
    ScanSettings.ColourMode = 4;
    ASSERT_EQ(SaveScanData(), SettingsWrite::Written);
    const auto before = Bytes(dir_.path() / "ScanData.dat");
    PresetStore::LoadResult r = store.Load("A");
    EXPECT_TRUE(r.scanDamaged);
    EXPECT_FALSE(r.scanLoaded);
    EXPECT_EQ(ScanSettings.ColourMode, 4);
    EXPECT_EQ(Bytes(dir_.path() / "ScanData.dat"), before);
    EXPECT_EQ(r.toolsLoaded, 15);  // the tools' files are whole
  }
}

TEST_F(PresetStoreTest, AShortToolFileReplacesOnlyTheStartOfTheRecord) {
  PresetStore store(g_szDataFolder, "Vq");
  std::string error;
  ASSERT_TRUE(store.Save("A", {}, &error)) << error;
  // Brightness 9 (4 bytes) only; contrast and the enabled byte stay as they are.
  orbtest::WriteFile(Folder() / "A.brc", std::string("\x09\0\0\0", 4));
  BrightContSettings.Contrast = 33;
  BrightContSettings.enabled = 1;
  store.Load("A");
  EXPECT_EQ(BrightContSettings.Brightness, 9);
  EXPECT_EQ(BrightContSettings.Contrast, 33);
  EXPECT_EQ(BrightContSettings.enabled, 1);
}

TEST_F(PresetStoreTest, DeleteRemovesExactlyThePresetsFiles) {
  PresetStore store(g_szDataFolder, "Vq");
  std::string error;
  for (const char* name : {"A", "A.b", "AB", "a"}) ASSERT_TRUE(store.Save(name, {}, &error)) << name << error;
  orbtest::WriteFile(Folder() / "A.extra", "x");  // any extension of A
  const auto others = [&] {
    std::set<std::string> left;
    for (const auto& f : FilesIn(Folder()))
      if (f.rfind("A.b.", 0) == 0 || f.rfind("AB.", 0) == 0 || f.rfind("a.", 0) == 0) left.insert(f);
    return left;
  }();
  EXPECT_EQ(store.Delete("A", &error), PresetStore::DeleteResult::Deleted);
  EXPECT_EQ(FilesIn(Folder()), others);
  EXPECT_EQ(store.List(), (std::vector<std::string>{"a", "A.b", "AB"}));
  // Patterns are names like any other: nothing matches "*".
  EXPECT_EQ(store.Delete("*", &error), PresetStore::DeleteResult::Failed);
  EXPECT_EQ(FilesIn(Folder()), others);
}

TEST_F(PresetStoreTest, TheFactoryPresetCannotBeDeletedOrOverwritten) {
  PresetStore store(g_szDataFolder, "Vq");
  store.EnsureFactoryPreset("Factory settings");
  const auto before = FilesIn(Folder());
  ASSERT_TRUE(before.count("_FactoryDefaults.pst"));
  std::string error;
  for (const char* name : {"_FactoryDefaults", "_factoryDEFAULTS"}) {
    EXPECT_EQ(store.Delete(name, &error), PresetStore::DeleteResult::Protected) << name;
    EXPECT_FALSE(store.Save(name, {}, &error)) << name;
  }
  EXPECT_EQ(FilesIn(Folder()), before);
}

TEST_F(PresetStoreTest, TheFactoryPresetGetsFactoryToolFilesButKeepsWhatExists) {
  PresetStore store(g_szDataFolder, "QRDM");
  orbtest::WriteFile(Folder("QRDM") / "_FactoryDefaults.brc", "keep");
  store.EnsureFactoryPreset("Factory settings");
  EXPECT_EQ(store.List(), std::vector<std::string>{"_FactoryDefaults"});
  EXPECT_EQ(store.ReadHeader("_FactoryDefaults")->at(0), "Factory settings");
  EXPECT_EQ(orbtest::ReadFile(Folder("QRDM") / "_FactoryDefaults.brc"), "keep");
  // The threshold's factory record: fixed type 0, level 32, enabled byte 1 at offset 16.
  const auto thr = Bytes(Folder("QRDM") / "_FactoryDefaults.thr");
  ASSERT_EQ(thr.size(), 36u);
  EXPECT_EQ(thr[4], 32);
  EXPECT_EQ(thr[16], 1);
  // The tone curves' factory tables are the identity.
  const auto gma = Bytes(Folder("QRDM") / "_FactoryDefaults.gma");
  ASSERT_EQ(gma.size(), 1160u);
  EXPECT_EQ(gma[136 + 200], 200);
  EXPECT_FALSE(fs::exists(Folder("QRDM") / "_FactoryDefaults.s"));  // the scanner's identification writes it
}

TEST_F(PresetStoreTest, AFailedWriteLeavesTheOldPresetWholeAndNoStagedFiles) {
  std::string error;
  ASSERT_TRUE(PresetStore(g_szDataFolder, "Vq").Save("A", {}, &error)) << error;
  std::map<std::string, std::vector<uint8_t>> before;
  for (const auto& f : FilesIn(Folder())) before[f] = Bytes(Folder() / f);

  for (int failAt : {1, 2, 5, 17}) {
    SCOPED_TRACE(failAt);
    int calls = 0;
    PresetStore failing(g_szDataFolder, "Vq", [&](const std::string& path, const std::vector<uint8_t>& b,
                                                   std::string* why) {
      if (++calls == failAt) {
        if (why) *why = "No space left on device";
        return false;
      }
      return orb::WriteFileAtomically(path, b, why);
    });
    BrightContSettings.Brightness = -99;
    HeaderFields f;
    f[0] = "changed";
    error.clear();
    EXPECT_FALSE(failing.Save("A", f, &error));
    EXPECT_NE(error.find("No space left"), std::string::npos) << error;
    std::map<std::string, std::vector<uint8_t>> after;
    for (const auto& name : FilesIn(Folder())) after[name] = Bytes(Folder() / name);
    EXPECT_EQ(after, before);
  }
}

}  // namespace
