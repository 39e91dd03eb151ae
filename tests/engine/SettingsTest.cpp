#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/Settings.h"
#include "platform/Files.h"
#include "tests/platform/TempFolder.h"

namespace {

static_assert(static_cast<int>(SettingsWrite::Written) == 0 && static_cast<int>(SettingsWrite::Failed) == -1);

using orb::testing::ScopedEnv;
using orb::testing::TempFolder;

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(gen());
  return v;
}

// A random record whose fields with a range hold values in it, so a load keeps every byte.
std::vector<uint8_t> InRangeScanBytes(unsigned seed) {
  auto bytes = RandomBytes(orb::ScanSettingsRecord::kSize, seed);
  orb::ScanSettingsRecord s;
  s.Decode(bytes.data());
  s.MaxWidth = 5999;
  s.MaxLength = 90000;
  s.CustomWidth = 4200;
  s.CustomLength = 88000;
  s.ResolutionIndex = 3;
  s.PaperSizeIndex = 7;
  s.ColourMode = 3;
  s.WhiteLevel = 240;
  s.BlackLevel = 12;
  s.ScanBrightness = 20;
  s.ScanSpeed = 5;
  s.LeftOffsetMode = 1;
  s.MediaHandlingByte = 2;
  s.GammaRed = 1.8f;
  s.GammaGreen = 2.2f;
  s.GammaBlue = -1.0f;
  s.StagingPosition = 1.5;
  s.RunOnLength = 0.25;
  s.FormatIndexRgb = 7;
  s.FormatIndexPalette = 0;
  s.FormatIndexGrey = 5;
  s.FormatIndexBilevel = 2;
  for (auto& c : s.NameCounters) c = orb::NameCounter{3, 500, 2, 1};
  s.AutoLoadDelay = 30;
  s.NetworkPort1 = 8000;
  s.NetworkPort2 = 8001;
  s.Encode(bytes.data());
  return bytes;
}

class SettingsFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ScanSettings = orb::ScanSettingsRecord();
    MiscSettings = orb::MiscSettingsRecord();
    WindowSizes.clear();
    g_szDataFolder = data_.path();
    g_szUserFolder = user_.path();
  }
  void TearDown() override {
    g_szDataFolder.clear();
    g_szUserFolder.clear();
  }
  std::string DataFile(const char* name) { return data_ / name; }
  std::vector<uint8_t> Read(const char* name) { return orb::ReadFileBytes(DataFile(name)).value(); }
  void Write(const char* name, const std::vector<uint8_t>& bytes) {
    ASSERT_TRUE(orb::WriteFileAtomically(DataFile(name), bytes));
  }

  TempFolder data_;
  TempFolder user_;
};

void ExpectTiles(const std::vector<orb::FieldSpan>& spans, size_t size) {
  size_t next = 0;
  for (const auto& s : spans) {
    EXPECT_EQ(s.offset, next) << "gap or overlap before offset " << s.offset;
    next = s.offset + s.width;
  }
  EXPECT_EQ(next, size);
}

TEST(SettingsLayout, FieldsTileTheRecordsExactly) {
  ExpectTiles(orb::ScanSettingsLayout(), orb::ScanSettingsRecord::kSize);
  ExpectTiles(orb::MiscSettingsLayout(), orb::MiscSettingsRecord::kSize);
}

TEST(SettingsLayout, EveryByteSurvivesDecodeThenEncode) {
  auto scan = RandomBytes(orb::ScanSettingsRecord::kSize, 1);
  orb::ScanSettingsRecord s;
  s.Decode(scan.data());
  std::vector<uint8_t> out(scan.size(), 0);
  s.Encode(out.data());
  EXPECT_EQ(out, scan);

  auto misc = RandomBytes(orb::MiscSettingsRecord::kSize, 2);
  orb::MiscSettingsRecord m;
  m.Decode(misc.data());
  std::vector<uint8_t> out2(misc.size(), 0);
  m.Encode(out2.data());
  EXPECT_EQ(out2, misc);
}

TEST(SettingsLayout, SnapshotComparisonSeesEveryByte) {
  orb::ScanSettingsRecord a, b;
  EXPECT_TRUE(a == b);
  b.Reserved965[2] = 1;
  EXPECT_FALSE(a == b);
  b = a;
  b.GammaRed = 1.5f;
  EXPECT_FALSE(a == b);
  orb::MiscSettingsRecord m, n;
  EXPECT_TRUE(m == n);
  n.TiffArtist[259] = 'x';
  EXPECT_FALSE(m == n);
}

TEST(SettingsLayout, KnownOffsetsAndLittleEndian) {
  orb::ScanSettingsRecord s;
  s.ColourMode = 0x01020304;
  s.NetworkPort2 = 704;
  s.ScanStartTime = 0x1122334455667788;
  s.GammaGreen = 1.5f;
  s.NameCounters[3].CarryOnly = 7;
  std::vector<uint8_t> b(orb::ScanSettingsRecord::kSize);
  s.Encode(b.data());
  EXPECT_EQ(b[352], 0x04);
  EXPECT_EQ(b[355], 0x01);
  EXPECT_EQ(orb::GetI32LE(&b[1124]), 704);
  EXPECT_EQ(orb::GetI64LE(&b[1072]), 0x1122334455667788);
  EXPECT_EQ(orb::GetF32LE(&b[384]), 1.5f);
  EXPECT_EQ(orb::GetI32LE(&b[996 + 3 * 16 + 12]), 7);
  EXPECT_EQ(orb::GetText(&b[316], 16), "100 dpi");
  EXPECT_EQ(orb::GetText(&b[993], 3), "-");

  orb::MiscSettingsRecord m;
  m.LanguageId = 7;
  m.ScanLogEnabled = 1;
  m.LengthUnit = 1;
  std::vector<uint8_t> mb(orb::MiscSettingsRecord::kSize);
  m.Encode(mb.data());
  EXPECT_EQ(orb::GetU16LE(&mb[540]), 7);
  EXPECT_EQ(mb[1652], 1);
  EXPECT_EQ(orb::GetI32LE(&mb[272]), 1);
  EXPECT_EQ(orb::GetText(&mb[280], 260), "_FactoryDefaults");
  EXPECT_EQ(mb[1080], 1);
  EXPECT_EQ(mb[1089], 1);
  EXPECT_EQ(mb[816], 0);
  EXPECT_EQ(mb[817], 1);
  EXPECT_EQ(orb::GetI32LE(&mb[2712]), -1);
}

TEST_F(SettingsFiles, ScanDefaultsWhenNoFile) {
  EXPECT_EQ(LoadScanData(), 0);
  const auto& s = ScanSettings;
  EXPECT_EQ(orb::TextField(s.OutputFileName), user_ / "images/Scan-0001.tif");
  EXPECT_EQ(orb::TextField(s.Palette16File), data_ / "def16.apt");
  EXPECT_EQ(orb::TextField(s.Palette256File), data_ / "def256.apt");
  EXPECT_EQ(orb::TextField(s.ResolutionText), "100 dpi");
  EXPECT_EQ(s.GammaRed, -1.0f);
  EXPECT_EQ(s.GammaBlue, -1.0f);
  EXPECT_EQ(s.ColourMode, -1);
  EXPECT_EQ(s.ScanBrightness, -1);
  EXPECT_EQ(s.StoredScannerType, -1) << "the first identification counts as a new scanner";
  EXPECT_EQ(s.ResolutionIndex, 2);
  EXPECT_EQ(s.SizeMode, 1);
  EXPECT_EQ(s.CustomWidth, 850);
  EXPECT_EQ(s.CustomLength, 1100);
  EXPECT_EQ(s.MaxLength, 16777215);
  EXPECT_EQ(s.CameraCount, 3);
  EXPECT_EQ(s.ExtraSettingsFeature, 1);
  EXPECT_EQ(s.NetworkPort1, 702);
  EXPECT_EQ(s.NetworkPort2, 704);
  EXPECT_FALSE(orb::TextField(s.ScannerAddress).empty());
  EXPECT_EQ(orb::TextField(s.NameSeparator), "-");
  for (const auto& c : s.NameCounters) {
    EXPECT_EQ(c.Start, 1);
    EXPECT_EQ(c.Limit, 9999);
    EXPECT_EQ(c.Step, 1);
    EXPECT_EQ(c.CarryOnly, 0);
  }
  // Every default format choice selects uncompressed TIFF.
  for (int kind : {0, 1, 3, 4}) EXPECT_EQ(orb::ChosenOutputFormat(s, kind), 1u) << kind;
  EXPECT_FALSE(orb::FileExists(DataFile("ScanData.dat"))) << "loading creates no file";
}

TEST_F(SettingsFiles, ScanFileOfOneByteIsIgnored) {
  Write("ScanData.dat", {0x55});
  LoadScanData();
  EXPECT_EQ(ScanSettings.ScannerType, 0);
  EXPECT_EQ(ScanSettings.ColourMode, -1);
}

TEST_F(SettingsFiles, ShortScanFileFillsAPrefix) {
  auto bytes = InRangeScanBytes(3);
  bytes.resize(600);
  Write("ScanData.dat", bytes);
  LoadScanData();
  std::vector<uint8_t> now(orb::ScanSettingsRecord::kSize);
  ScanSettings.Encode(now.data());
  for (size_t i = 0; i < 600; ++i) {
    if (i >= 316 && i < 332) continue;  // resolution text, set after every load
    ASSERT_EQ(now[i], bytes[i]) << "offset " << i;
  }
  EXPECT_EQ(orb::TextField(ScanSettings.ResolutionText), "100 dpi");
  EXPECT_EQ(orb::TextField(ScanSettings.Palette256File), data_ / "def256.apt");
  EXPECT_EQ(ScanSettings.FormatIndexRgb, 4);
  EXPECT_EQ(ScanSettings.NetworkPort1, 702);
}

TEST_F(SettingsFiles, ResolutionTextIsResetOnEveryLoad) {
  orb::ScanSettingsRecord s;
  orb::SetTextField(s.ResolutionText, "600 dpi");
  std::vector<uint8_t> b(orb::ScanSettingsRecord::kSize);
  s.Encode(b.data());
  Write("ScanData.dat", b);
  LoadScanData();
  EXPECT_EQ(orb::TextField(ScanSettings.ResolutionText), "100 dpi");
}

TEST_F(SettingsFiles, ScanSaveThenLoadIsByteIdentical) {
  auto bytes = InRangeScanBytes(4);
  Write("ScanData.dat", bytes);
  LoadScanData();
  ASSERT_EQ(SaveScanData(), SettingsWrite::Written);
  auto first = Read("ScanData.dat");
  ASSERT_EQ(first.size(), orb::ScanSettingsRecord::kSize);
  for (size_t i = 0; i < first.size(); ++i) {
    bool changedBySaveOrLoad = (i >= 316 && i < 332) || (i >= 1084 && i < 1088) ||
                               (i >= 1092 && i < 1100);
    if (!changedBySaveOrLoad) {
      ASSERT_EQ(first[i], bytes[i]) << "offset " << i;
    }
  }
  // The stored identity is a copy of the current one.
  EXPECT_EQ(orb::GetI32LE(&first[1084]), orb::GetI32LE(&first[0]));
  EXPECT_EQ(orb::GetI32LE(&first[1092]), orb::GetI32LE(&first[8]));
  EXPECT_EQ(orb::GetI32LE(&first[1096]), orb::GetI32LE(&first[12]));
  ScanSettings = orb::ScanSettingsRecord();
  LoadScanData();
  SaveScanData();
  EXPECT_EQ(Read("ScanData.dat"), first);
}

TEST_F(SettingsFiles, ValuesOutsideTheirRangesTakeTheirFieldsDefaults) {
  const orb::ScanSettingsRecord ds;
  orb::ScanSettingsRecord s;
  s.MaxWidth = 3599;  // a 36-inch scanner
  s.CustomWidth = 3700;
  s.CustomLength = 99;
  s.ColourMode = 11;
  s.WhiteLevel = 256;
  s.ScanBrightness = 0;
  s.GammaGreen = std::numeric_limits<float>::quiet_NaN();
  s.StagingPosition = -2.0;
  s.FormatIndexGrey = 8;
  s.NameCounters[2] = orb::NameCounter{10, 5, 1, 0};  // a limit below the start
  s.NetworkPort2 = 70000;
  s.ScanSpeed = 8;  // in range: kept
  std::vector<uint8_t> sb(orb::ScanSettingsRecord::kSize);
  s.Encode(sb.data());
  Write("ScanData.dat", sb);
  orb::MiscSettingsRecord m;
  m.LengthUnit = 7;
  m.TooltipMode = -3;
  m.ZoomInStep = 0;
  m.Jpeg2000Quality = 1001;
  m.PdfJpegQualityGrey = 0;
  m.MagnifierDiameter = -300;
  m.LastSaveAsType = 0;
  m.LastSaveAsKind = 12;
  m.ZoomOutStep = 25;  // in range: kept
  std::vector<uint8_t> mb(orb::MiscSettingsRecord::kSize);
  m.Encode(mb.data());
  Write("MiscData.dat", mb);

  LoadScanData();
  LoadMiscData();
  const auto& S = ScanSettings;
  EXPECT_EQ(S.MaxWidth, 3599);
  EXPECT_EQ(S.CustomWidth, ds.CustomWidth);
  EXPECT_EQ(S.CustomLength, ds.CustomLength);
  EXPECT_EQ(S.ColourMode, -1);
  EXPECT_EQ(S.WhiteLevel, 255);
  EXPECT_EQ(S.ScanBrightness, -1);
  EXPECT_EQ(S.GammaGreen, -1.0f);
  EXPECT_EQ(S.StagingPosition, 0.0);
  EXPECT_EQ(S.FormatIndexGrey, 3);
  EXPECT_EQ(S.NameCounters[2].Start, 1);
  EXPECT_EQ(S.NameCounters[2].Limit, 9999);
  EXPECT_EQ(S.NetworkPort2, 704);
  EXPECT_EQ(S.ScanSpeed, 8);
  const auto& M = MiscSettings;
  EXPECT_EQ(M.LengthUnit, 0);
  EXPECT_EQ(M.TooltipMode, 1);
  EXPECT_EQ(M.ZoomInStep, 100);
  EXPECT_EQ(M.Jpeg2000Quality, 500);
  EXPECT_EQ(M.PdfJpegQualityGrey, 100);
  EXPECT_EQ(M.MagnifierDiameter, 300);
  EXPECT_EQ(M.LastSaveAsType, -1);
  EXPECT_EQ(M.LastSaveAsKind, -1);
  EXPECT_EQ(M.ZoomOutStep, 25);
}

TEST_F(SettingsFiles, RandomSettingsFilesLoadIntoUsableValues) {
  for (unsigned seed = 10; seed < 30; ++seed) {
    Write("ScanData.dat", RandomBytes(orb::ScanSettingsRecord::kSize, seed));
    Write("MiscData.dat", RandomBytes(orb::MiscSettingsRecord::kSize, seed + 100));
    LoadScanData();
    LoadMiscData();
    // The width and length fields show numbers in one of the three units.
    EXPECT_GE(MiscSettings.LengthUnit, 0);
    EXPECT_LE(MiscSettings.LengthUnit, 2);
    EXPECT_GE(ScanSettings.CustomWidth, 100);
    EXPECT_GE(ScanSettings.CustomLength, 100);
    EXPECT_LE(ScanSettings.CustomLength, ScanSettings.MaxLength);
    EXPECT_GE(MiscSettings.ZoomInStep, 1);
    EXPECT_GE(MiscSettings.Jpeg2000Quality, 1);
    EXPECT_LE(MiscSettings.Jpeg2000Quality, 1000);
  }
}

TEST_F(SettingsFiles, MiscDefaultsTakeTheLanguageFromTheLocale) {
  ScopedEnv all("LC_ALL", nullptr);
  ScopedEnv msg("LC_MESSAGES", nullptr);
  ScopedEnv lang("LANG", "de_AT.UTF-8");
  LoadMiscData();
  EXPECT_EQ(MiscSettings.LanguageId, 7);
  EXPECT_EQ(MiscSettings.SubLanguageId, 3);
  EXPECT_EQ(orb::TextField(MiscSettings.WorkingFolder), user_.path());
  EXPECT_EQ(orb::TextField(MiscSettings.OpenFolder), user_ / "images");
  EXPECT_EQ(orb::TextField(MiscSettings.BatchOutputFolder), user_ / "images");
  EXPECT_EQ(orb::TextField(MiscSettings.PresetName), "_FactoryDefaults");
  EXPECT_EQ(MiscSettings.TooltipMode, 1);
  EXPECT_EQ(MiscSettings.Jpeg2000Quality, 500);
  EXPECT_EQ(MiscSettings.MagnifierDiameter, 300);
  EXPECT_EQ(MiscSettings.ScanLogEnabled, 0);
  EXPECT_EQ(WorkingFolder(), user_.path());
}

TEST_F(SettingsFiles, LocaleLanguageTable) {
  struct Case {
    const char* lang;
    uint16_t primary, sub;
  } cases[] = {{"C", 9, 1},           {"POSIX", 9, 1},       {"en_US.UTF-8", 9, 1},
               {"en_GB.UTF-8", 9, 2}, {"fr_FR.UTF-8", 12, 1}, {"fr_CA", 12, 3},
               {"ja_JP.UTF-8", 17, 1}, {"xx_YY", 9, 1},       {"pt_BR.UTF-8", 22, 1}};
  ScopedEnv all("LC_ALL", nullptr);
  ScopedEnv msg("LC_MESSAGES", nullptr);
  for (const auto& c : cases) {
    ScopedEnv lang("LANG", c.lang);
    uint16_t p = 0, s = 0;
    orb::LocaleLanguageIds(&p, &s);
    EXPECT_EQ(p, c.primary) << c.lang;
    EXPECT_EQ(s, c.sub) << c.lang;
  }
}

TEST_F(SettingsFiles, MiscFileWinsOverFolderDefaultsAndLocale) {
  orb::MiscSettingsRecord m;
  m.LanguageId = 12;
  orb::SetTextField(m.WorkingFolder, "/var/tmp/work");
  m.LengthUnit = 1;
  std::vector<uint8_t> b(orb::MiscSettingsRecord::kSize);
  m.Encode(b.data());
  b[1639] = 0xAB;  // a reserved byte
  Write("MiscData.dat", b);
  ScopedEnv lang("LC_ALL", "de_DE.UTF-8");
  LoadMiscData();
  EXPECT_EQ(MiscSettings.LanguageId, 12);
  EXPECT_EQ(orb::TextField(MiscSettings.WorkingFolder), "/var/tmp/work");
  EXPECT_EQ(MiscSettings.LengthUnit, 1);
  ASSERT_EQ(SaveMiscData(), SettingsWrite::Written);
  EXPECT_EQ(Read("MiscData.dat"), b);
}

TEST_F(SettingsFiles, SaveCreatesAMissingDataFolder) {
  g_szDataFolder = data_ / "not/yet";
  EXPECT_EQ(SaveMiscData(), SettingsWrite::Written);
  EXPECT_EQ(orb::FileSize(data_ / "not/yet/MiscData.dat").value(), orb::MiscSettingsRecord::kSize);
}

TEST_F(SettingsFiles, SaveFailureIsReportedAndKeepsTheOldFile) {
  // The data "folder" is a file: nothing can be written below it.
  ASSERT_TRUE(orb::WriteFileAtomically(data_ / "plain", std::string_view("x")));
  g_szDataFolder = data_ / "plain";
  EXPECT_EQ(SaveScanData(), SettingsWrite::Failed);
  EXPECT_EQ(SaveMiscData(), SettingsWrite::Failed);
  EXPECT_EQ(SaveWindowSizes(), SettingsWrite::Failed);
}

TEST_F(SettingsFiles, TooLongFolderLeavesPathFieldsEmptyNotCut) {
  g_szUserFolder = "/" + std::string(300, 'u');
  LoadScanData();
  LoadMiscData();
  EXPECT_EQ(orb::TextField(ScanSettings.OutputFileName), "");
  EXPECT_EQ(orb::TextField(MiscSettings.WorkingFolder), "");
  EXPECT_EQ(orb::TextField(ScanSettings.Palette16File), data_ / "def16.apt");
}

TEST(SettingsText, SetTextFieldRefusesWhatDoesNotFit) {
  char field[8];
  ASSERT_TRUE(orb::SetTextField(field, "1234567"));
  EXPECT_FALSE(orb::SetTextField(field, "12345678"));
  EXPECT_EQ(orb::TextField(field), "1234567");
  EXPECT_FALSE(orb::SetTextField(field, std::string_view("a\0b", 3)));
}

std::vector<std::string> Names() {
  std::vector<std::string> n;
  for (const auto& w : WindowSizes) n.push_back(orb::TextField(w.Name));
  return n;
}

TEST_F(SettingsFiles, PaperSizesFilteredByMaximumWidthAndLength) {
  ScanSettings.MaxWidth = 0;
  LoadWindowSizes();
  EXPECT_TRUE(WindowSizes.empty()) << "no scanner identified";

  ScanSettings.MaxWidth = 100000;
  ScanSettings.MaxLength = 16777215;
  LoadWindowSizes();
  ASSERT_EQ(WindowSizes.size(), 16u);
  EXPECT_EQ(Names().front(), "ANSI A  8.5 x 11\"");
  EXPECT_EQ(Names().back(), "ISO A4  21 x 29.7cm");
  EXPECT_EQ(WindowSizes[11].Width, 3307);
  EXPECT_EQ(WindowSizes[11].Length, 4677);

  // A 24-inch scanner (2399) that scans up to 36 inches.
  ScanSettings.MaxWidth = 2399;
  ScanSettings.MaxLength = 3600;
  LoadWindowSizes();
  EXPECT_EQ(Names(), (std::vector<std::string>{
                         "ANSI A  8.5 x 11\"", "ANSI B  11 x 17\"", "ANSI C  17 x 22\"",
                         "ANSI D  22 x 34\"", "ARCH A   9 x 12\"", "ARCH B  12 x 18\"",
                         "ARCH C  18 x 24\"", "ISO A1  59.4 x 84cm", "ISO A2  42 x 59.4cm",
                         "ISO A3  29.7 x 42cm", "ISO A4  21 x 29.7cm"}));
}

TEST_F(SettingsFiles, PaperSizeFileReplacesTheBuiltInTable) {
  std::vector<uint8_t> bytes;
  auto add = [&](const char* name, int w, int l) {
    _WINDOWSIZES e;
    orb::SetTextField(e.Name, name);
    e.Width = w;
    e.Length = l;
    uint8_t b[80];
    e.Encode(b);
    bytes.insert(bytes.end(), b, b + 80);
  };
  add("Small", 500, 700);
  add("Too wide", 5000, 700);
  add("Too long", 500, 9000);
  add("Fits", 1000, 1000);
  bytes.insert(bytes.end(), 40, 0x11);  // a cut last entry is not read
  Write("WindowSizes.dat", bytes);
  ScanSettings.MaxWidth = 3599;
  ScanSettings.MaxLength = 5000;
  LoadWindowSizes();
  EXPECT_EQ(Names(), (std::vector<std::string>{"Small", "Fits"}));

  ASSERT_EQ(SaveWindowSizes(), SettingsWrite::Written);
  auto saved = Read("WindowSizes.dat");
  ASSERT_EQ(saved.size(), 160u);
  EXPECT_TRUE(std::equal(saved.begin(), saved.begin() + 80, bytes.begin()));
  EXPECT_TRUE(std::equal(saved.begin() + 80, saved.end(), bytes.begin() + 240));

  Write("WindowSizes.dat", {1});
  ScanSettings.MaxWidth = 100000;
  LoadWindowSizes();
  EXPECT_EQ(WindowSizes.size(), 16u) << "a file of 1 byte counts as missing";
}

TEST(SettingsFormats, ChoicesMapToOutputCodes) {
  orb::ScanSettingsRecord s;
  s.FormatIndexRgb = 0;
  s.FormatIndexGrey = 1;
  s.FormatIndexBilevel = 3;
  EXPECT_EQ(orb::ChosenOutputFormat(s, 0), 2u);
  EXPECT_EQ(orb::ChosenOutputFormat(s, 5), 0x40004u);
  EXPECT_EQ(orb::ChosenOutputFormat(s, 6), 0x30001u);
  s.FormatIndexPalette = 9;
  EXPECT_EQ(orb::ChosenOutputFormat(s, 2), 0u) << "a position outside the list";
  EXPECT_EQ(orb::ChosenOutputFormat(s, 42), 0u);
}

TEST(SettingsFolders, SetUpFromTheEnvironment) {
  TempFolder home;
  ScopedEnv h("HOME", home.path().c_str());
  ScopedEnv d("XDG_DATA_HOME", nullptr);
  ScopedEnv docs("XDG_DOCUMENTS_DIR", (home / "Docs").c_str());
  orb::SetUpProcessFolders();
  EXPECT_EQ(DataFolder(), home / ".local/share/OrbalonData");
  EXPECT_EQ(g_szUserFolder, home / "Docs/Orbalon");
  EXPECT_TRUE(orb::IsDirectory(home / "Docs/Orbalon/images"));
  EXPECT_FALSE(ProgramFolder().empty());
  g_szDataFolder.clear();
  g_szUserFolder.clear();
  g_szProgramFolder.clear();
}

}  // namespace
