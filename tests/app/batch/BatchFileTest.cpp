// Batch files as the editor, the engine and the file-removal dialog read and write them:
// expected texts and values are those a batch file holds by its format, written out here
// by hand.
#include "app/batch/BatchFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/Ini.h"
#include "tests/common/TestUtil.h"

namespace {

namespace fs = std::filesystem;
using namespace orb::batch;

class BatchFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = orbtest::FreshTestFolder("bch");
    path_ = (dir_ / "job.bch").string();
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Put(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string Text(const std::string& p) const { return orbtest::ReadFile(p); }
  fs::path dir_;
  std::string path_;
};

TEST_F(BatchFile, PrivateProfileReadsAsBatchReadersExpect) {
  Put("[general]\nholdforqc = 0 \nCreateLog=7abc\nSaveAsLocation=\n[Files]\nFile0=/a.tif\nFile2=/c.tif\n"
      "[Long]\nv=" + std::string(400, 'x') + "\n");
  struct Case {
    const char* section;
    const char* key;
    int def;
    int expect;
  } ints[] = {{"General", "HoldForQC", 1, 0},     // names compare without case, blanks go
              {"General", "CreateLog", 0, 7},     // the leading number
              {"General", "SaveAsLocation", 5, 5},  // empty value: the default
              {"General", "AutoRun", 0, 0},       // missing key
              {"Nowhere", "HoldForQC", 1, 1}};    // missing section
  for (const Case& c : ints) {
    EXPECT_EQ(orb::GetPrivateProfileInt(c.section, c.key, c.def, path_), c.expect) << c.key;
  }
  EXPECT_EQ(orb::GetPrivateProfileString("Files", "File1", kNotFound, path_, kPathBuffer), kNotFound);
  EXPECT_EQ(orb::GetPrivateProfileString("Long", "v", "", path_, kPathBuffer).size(), 259u);
  EXPECT_TRUE(orb::GetPrivateProfileSection("Absent", path_).empty());
}

TEST_F(BatchFile, FileListStopsAtTheFirstGapAndAtNotFound) {
  Put("[Files]\nFile0=/a.tif\nFile2=/c.tif\n");
  EXPECT_EQ(ReadFileList(path_), (std::vector<std::string>{"/a.tif"}));
  Put("[Files]\nFile0=/a.tif\nFile1=NotFound\nFile2=/c.tif\n");
  EXPECT_EQ(ReadFileList(path_), (std::vector<std::string>{"/a.tif"}));
  EXPECT_EQ(ReadFileEntry(path_, 0), std::optional<std::string>("/a.tif"));
  EXPECT_EQ(ReadFileEntry(path_, 1), std::nullopt);
  Put("[General]\nHoldForQC=1\n");
  EXPECT_TRUE(ReadFileList(path_).empty());
}

TEST_F(BatchFile, AddingAndRemovingRewriteTheListWithoutGaps) {
  Put("[General]\nHoldForQC=1\n");
  ASSERT_TRUE(AddFiles(path_, {"/x/1.tif", "/x/2.tif", "/x/1.tif"}));
  ASSERT_TRUE(AddFiles(path_, {"/x/2.tif", "/x/3.tif"}));
  EXPECT_EQ(ReadFileList(path_), (std::vector<std::string>{"/x/1.tif", "/x/2.tif", "/x/3.tif"}));
  ASSERT_TRUE(RemoveFiles(path_, {1}));
  EXPECT_EQ(orb::GetPrivateProfileString("Files", "File1", "", path_), "/x/3.tif");
  EXPECT_EQ(orb::GetPrivateProfileString("Files", "File2", "gone", path_), "gone");
  ASSERT_TRUE(RemoveFiles(path_, {0, 1}));
  EXPECT_TRUE(ReadFileList(path_).empty());
  EXPECT_EQ(orb::GetPrivateProfileInt("General", "HoldForQC", 0, path_), 1);  // the rest stays
}

TEST_F(BatchFile, GeneralDefaultsDifferBetweenEditorAndEngine) {
  Put("[General]\nCreateLog=1\n");
  EXPECT_FALSE(ReadEngineGeneral(path_).hold);
  EXPECT_TRUE(ReadEngineGeneral(path_).log);
  EXPECT_FALSE(ReadEditorGeneral(path_).automatic);
  // A held batch writes no log, whatever CreateLog says.
  Put("[General]\nHoldForQC=1\nCreateLog=1\nSaveAsLocation=/out\n");
  EXPECT_TRUE(ReadEngineGeneral(path_).hold);
  EXPECT_FALSE(ReadEngineGeneral(path_).log);
  EXPECT_EQ(ReadEngineGeneral(path_).location, "/out/");
}

TEST_F(BatchFile, WritingGeneralKeepsOnlyTheChosenKeys) {
  Put("[General]\nHoldForQC=0\nCreateLog=1\nSaveAsFormat=png\nAutoRun=2026/3/7,14:5:0\n[Files]\nFile0=/a.tif\n");
  EditorGeneral hold;
  ASSERT_TRUE(WriteGeneral(path_, hold));
  EXPECT_EQ(orb::GetPrivateProfileSection("General", path_), (std::vector<std::string>{"HoldForQC=1"}));
  EXPECT_EQ(ReadFileList(path_).size(), 1u);
  EditorGeneral a;
  a.automatic = a.log = a.formatBox = a.scheduleBox = true;
  a.format = "tif-g4";
  a.folder = "/not/written";
  a.runDate = {2026, 3, 7, 14, 5, 0};
  ASSERT_TRUE(WriteGeneral(path_, a));
  EXPECT_EQ(orb::GetPrivateProfileSection("General", path_),
            (std::vector<std::string>{"HoldForQC=0", "CreateLog=1", "SaveAsFormat=tif-g4", "DeleteOriginalFiles=0",
                                      "AutoRun=2026/3/7,14:5:0"}));
  const EditorGeneral back = ReadEditorGeneral(path_);
  EXPECT_TRUE(back.automatic && back.log && back.formatBox && back.scheduleBox && !back.folderBox);
  EXPECT_EQ(back.runDate, (RunDate{2026, 3, 7, 14, 5, 0}));
  EXPECT_TRUE(ReadEngineGeneral(path_).scheduled);
  EXPECT_EQ(ParseRunDate("2026/3"), std::nullopt);
}

TEST_F(BatchFile, SectionPresenceSwitchesOperationsOn) {
  Put("[Invert]\nInvert=False\n[Mirror]\n[BinaryThreshold]\nThresholdingType=2\n[NoiseRemoval]\nLevel=2\n");
  const Recipe r = ReadRecipe(path_);
  EXPECT_TRUE(r.invert);
  EXPECT_FALSE(r.mirror);  // an empty section does not count
  EXPECT_TRUE(r.threshold);
  EXPECT_EQ(r.thresholdValues.ThresholdingType, 1);
  // Missing keys take the engine's defaults.
  EXPECT_EQ(r.thresholdValues.FixedThreshhold, 64);
  EXPECT_EQ(r.thresholdValues.AdaptiveWindowSize, 25);
  EXPECT_EQ(r.thresholdValues.AdaptiveDynamic, 25);
  EXPECT_EQ(r.noiseValues.Level, 2);
  EXPECT_FALSE(r.gamma || r.palette || r.rotate || r.sharpen || r.despeckle || r.brightCont || r.bwPoint);
}

TEST_F(BatchFile, ToolRecordsRoundTripThroughTheSections) {
  orb::BWThresholdRecord thr;
  thr.ThresholdingType = 1;
  thr.FixedThreshhold = 90;
  thr.AdaptiveWindowSize = 31;
  thr.AdaptiveDynamic = 12;
  orb::DespeckleRecord dsp;
  dsp.enabled = 1;
  dsp.SpeckWidth = 3;
  dsp.SpeckHeight = 4;
  orb::BrightContRecord bc;
  bc.enabled = 1;
  bc.Brightness = -20;
  bc.Contrast = 35;
  orb::BWPointRecord bwp;
  bwp.enabled = 1;
  bwp.White = 240;
  bwp.Black = 10;
  orb::DescreenRecord noise;
  noise.enabled = 1;
  noise.Level = 3;
  orb::GammaRecord gamma;
  gamma.enabled = 1;
  gamma.Channel = 2;
  for (int c = 0; c < 4; ++c) {
    for (int i = 0; i < 4; ++i) gamma.curves[c][i] = {c * 10 + i, 255 - i * 7};
    for (int i = 0; i < 256; ++i) gamma.tables[c][i] = static_cast<uint8_t>(255 - i / (c + 1));
  }
  orb::InvertRecord inv;
  inv.enabled = 1;
  orb::MirrorRecord mir;  // off: no section
  orb::PaletteRecord pal;
  pal.enabled = 1;
  pal.ConvertTo = 4;
  orb::Rotate90Record rot;
  rot.enabled = 1;
  rot.Direction = 2;
  orb::SharpenRecord sh;
  sh.enabled = 1;
  sh.Level = -4;
  orb::EditorRecord ed;
  ed.enabled = 1;
  orb::SetPathField(ed.AppName, "/usr/bin/editor");
  orb::IndexRecord ix;
  const ToolRecordSet set{&thr, &dsp, &bc, &bwp, &noise, &gamma, &inv, &mir, &pal, &rot, &sh, &ed, &ix};
  Put("");
  ASSERT_TRUE(WriteProcessingSections(path_, set));
  // The written texts, as a batch file holds them.
  EXPECT_EQ(orb::GetPrivateProfileString("Invert", "Invert", "", path_), "True");
  EXPECT_EQ(orb::GetPrivateProfileString("Gamma", "BezierControlPointsRed", "", path_),
            "10,255,11,248,12,241,13,234,");
  EXPECT_EQ(orb::GetPrivateProfileString("Editor", "AppName", "", path_), "/usr/bin/editor");
  EXPECT_TRUE(orb::GetPrivateProfileSection("Mirror", path_).empty());
  EXPECT_TRUE(orb::GetPrivateProfileSection("Indexer", path_).empty());
  const Recipe r = ReadRecipe(path_);
  EXPECT_TRUE(r.threshold && r.despeckle && r.brightCont && r.bwPoint && r.noise && r.gamma && r.invert && r.palette &&
              r.rotate && r.sharpen);
  EXPECT_FALSE(r.mirror);
  EXPECT_EQ(r.thresholdValues.FixedThreshhold, 90);
  EXPECT_EQ(r.thresholdValues.AdaptiveWindowSize, 31);
  EXPECT_EQ(r.thresholdValues.AdaptiveDynamic, 12);
  EXPECT_EQ(r.despeckleValues.SpeckHeight, 4);
  EXPECT_EQ(r.brightContValues.Brightness, -20);
  EXPECT_EQ(r.bwPointValues.Black, 10);
  EXPECT_EQ(r.noiseValues.Level, 3);
  EXPECT_EQ(r.gammaValues.Channel, 2u);
  EXPECT_EQ(r.gammaValues.curves, gamma.curves);
  EXPECT_EQ(r.gammaValues.tables, gamma.tables);
  EXPECT_EQ(r.paletteValues.ConvertTo, 4u);
  EXPECT_EQ(r.rotateValues.Direction, 2);
  EXPECT_EQ(r.sharpenValues.Level, -4);
  // The threshold goes into a batch file only with the palette tool on at black and white.
  pal.ConvertTo = 3;
  Put("");
  ASSERT_TRUE(WriteProcessingSections(path_, set));
  EXPECT_FALSE(ReadRecipe(path_).threshold);
}

TEST_F(BatchFile, FormatNamesAreAllowedByKind) {
  struct Case {
    int kind;
    const char* name;
    std::optional<uint32_t> format;
  } cases[] = {{0, "jpg", 2u},        {0, "tif-jpeg", 0x40001u}, {0, "tif-g4", std::nullopt},
               {1, "png", 3u},        {2, "jpg", std::nullopt},  {3, "pdf-jpeg", 0x40004u},
               {3, "jp2", std::nullopt}, {4, "TIF-G4", 0x30001u}, {4, "pdf-g4", 0x30004u},
               {4, "jpg", std::nullopt}, {5, "png", std::nullopt}, {4, "tif-g4 ", std::nullopt}};
  for (const Case& c : cases) EXPECT_EQ(SaveAsFormatFor(c.kind, c.name), c.format) << c.kind << " " << c.name;
}

TEST_F(BatchFile, ScheduleFileHoldsThePathAlone) {
  const std::string root = (dir_ / "data").string();
  ASSERT_TRUE(WriteScheduleFile(root, "/jobs/night run.bch"));
  const std::string sch = (dir_ / "data" / "Scheduled" / "night run.sch").string();
  EXPECT_EQ(ScheduleFilePath(root, "/jobs/night run.bch"), sch);
  EXPECT_EQ(Text(sch), "/jobs/night run.bch");
  std::ofstream(dir_ / "data" / "Scheduled" / "processing.flg") << "";
  EndScheduledRun(root, "/jobs/night run.bch");
  EXPECT_FALSE(fs::exists(sch));
  EXPECT_FALSE(fs::exists(dir_ / "data" / "Scheduled" / "processing.flg"));
  EXPECT_EQ(LogPathFor("/jobs/night run.bch"), "/jobs/night run.log");
}

}  // namespace
