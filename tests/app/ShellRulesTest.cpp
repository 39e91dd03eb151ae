#include <gtest/gtest.h>

#include <map>

#include "app/CommandLine.h"
#include "app/FrameRules.h"
#include "common/ToolTipText.h"

namespace {

CcmdInfo Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "orbalon");
  CcmdInfo info;
  orb::ParseCommandLine(args, info);
  return info;
}

TEST(CommandLine, LastParameterWinsAndBatchRuleIsCaseSensitive) {
  struct Case {
    std::vector<std::string> args;
    bool splash;
    std::string file;
    bool batch;
  } cases[] = {
      {{}, true, "", false},
      {{"/data/a.tif"}, false, "/data/a.tif", false},
      {{"/data/a.tif", "/data/b.png"}, false, "/data/b.png", false},
      {{"/jobs/run.bch"}, false, "/jobs/run.bch", true},
      {{"/jobs/RUN.BCH"}, false, "/jobs/RUN.BCH", false},
      {{"/jobs/run.Bch"}, false, "/jobs/run.Bch", false},
      {{".bch"}, false, ".bch", true},
      {{"bch"}, false, "bch", false},
      // A batch file followed by an image: batch mode stays on, the image is the file.
      {{"/jobs/run.bch", "/data/a.tif"}, false, "/data/a.tif", true},
      // Switches are not commands: they become the file name without their '-'.
      {{"-p"}, false, "p", false},
      {{"-"}, false, "-", false},
  };
  for (const auto& c : cases) {
    CcmdInfo info = Parse(c.args);
    std::string label = c.args.empty() ? "(none)" : c.args.back();
    EXPECT_EQ(info.m_bShowSplash, c.splash) << label;
    EXPECT_EQ(info.m_strFileName, c.file) << label;
    EXPECT_EQ(info.m_bBatch, c.batch) << label;
  }
}

TEST(CommandLine, FileNamesThatAreNotUtf8TextAreShownByteForByte) {
  const struct {
    std::string name;
    bool valid;
    std::string shown;
  } cases[] = {
      {"/scans/plan.tif", true, "/scans/plan.tif"},
      {"/scans/pl\xC3\xA4ne.tif", true, "/scans/pl\xC3\xA4ne.tif"},           // ä
      {"/scans/\xF0\x9F\x93\x84.tif", true, "/scans/\xF0\x9F\x93\x84.tif"},  // a four-byte character
      {"/scans/scan\xE9.tif", false, "/scans/scan\\xE9.tif"},              // Latin-1 é
      {"/scans/\xC0\xAF.tif", false, "/scans/\\xC0\\xAF.tif"},          // an overlong '/'
      {"/scans/\xED\xA0\x80.tif", false, "/scans/\\xED\\xA0\\x80.tif"},  // a surrogate
      {"/scans/cut\xC3", false, "/scans/cut\\xC3"},                      // cut in the middle
  };
  for (const auto& c : cases) {
    EXPECT_EQ(orb::IsValidUtf8(c.name), c.valid) << c.shown;
    EXPECT_EQ(orb::PrintableFileName(c.name), c.shown);
  }
  // The arguments come as the system passed them: this test program's own first one.
  const std::vector<std::string> args = orb::RawProcessArguments();
  ASSERT_FALSE(args.empty());
  EXPECT_NE(args[0].find("app_tests"), std::string::npos) << args[0];
}

TEST(ToolTip, ModesFirstLineAndFallback) {
  std::map<int, std::string> table = {{33008, "general tip"}, {1100, "first\nsecond"},
                                      {1101, "single"}, {1102, ""}, {1103, "\nonly second"}};
  auto lookup = [&](int id) { auto it = table.find(id); return it == table.end() ? std::string() : it->second; };
  struct Case {
    int mode, id;
    const char* expected;
  } cases[] = {
      {0, 1100, ""},            {1, 1100, "first"},       {2, 1100, "first\nsecond"},
      {1, 1101, "single"},      {2, 1101, "single"},      {1, 1102, "general tip"},
      {2, 4242, "general tip"}, {1, 1103, "general tip"}, {2, 1103, "\nonly second"},
      {1, 0, ""},               {2, -5, ""},              {2, 0xFFFF, ""},
      {3, 1100, ""},            {-1, 1100, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(orb::ToolTipText(c.mode, c.id, lookup), c.expected) << c.mode << "/" << c.id;
}

TEST(FrameRules, FamilyTagFromTheSavedScanner) {
  struct Case {
    int type, sub;
    const char* current;
    const char* expected;
  } cases[] = {
      {0, 5, "", "Vq"},     {1, 0, "QRDC", "Vq"},  {-1, 1, "", "Vq"},   {80, 0, "", "QRDM"},
      {80, 1, "Vq", "QRDC"}, {80, 2, "Vq", "Vq"},  {80, 2, "", ""},     {7, 0, "QRDM", "QRDM"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(orb::FamilyTagFromSaved(c.type, c.sub, c.current), c.expected) << c.type << "/" << c.sub;
}

TEST(FrameRules, ScannerTabCaptionIsBoundedOnACharacterBoundary) {
  EXPECT_EQ(orb::ScannerTabCaption(false, "Scanner", "M", "F", "no scanner found"),
            "Scanner (no scanner found)");
  EXPECT_EQ(orb::ScannerTabCaption(true, "Scanner", "QX-42", "1.07", "none"), "Scanner (QX-42: 1.07)");
  // 121 ASCII bytes then two-byte characters: the cut never splits one.
  std::string model(121, 'm');
  for (int i = 0; i < 10; ++i) model += "\xC3\xA9";
  std::string caption = orb::ScannerTabCaption(true, "S", model, "F", "");
  EXPECT_LE(caption.size(), orb::kTabCaptionMax);
  EXPECT_EQ(caption.size(), 126u);  // "S (" + 121 + one two-byte character, the next would pass 127
  EXPECT_NE(static_cast<unsigned char>(caption.back()) & 0xC0, 0xC0);
}

TEST(FrameRules, ViewSheetWidthAndPageIndex) {
  EXPECT_EQ(orb::ViewSheetWidthDialogUnits(9), 140);
  EXPECT_EQ(orb::ViewSheetWidthDialogUnits(0x11), 165);
  EXPECT_EQ(orb::ViewSheetWidthDialogUnits(0x12), 165);
  EXPECT_EQ(orb::ClampViewPage(3), 3);
  EXPECT_EQ(orb::ClampViewPage(5), 0);
  EXPECT_EQ(orb::ClampViewPage(-1), 0);
  EXPECT_TRUE(orb::ScannerChanged(80, 1, 80, 0));
  EXPECT_TRUE(orb::ScannerChanged(0, 1, 80, 1));
  EXPECT_FALSE(orb::ScannerChanged(80, 1, 80, 1));
}

}  // namespace
