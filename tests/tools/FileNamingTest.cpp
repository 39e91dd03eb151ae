#include "tools/FileNaming.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using orb::ScanSettingsRecord;

ScanSettingsRecord Settings(std::vector<orb::NameCounter> counters = {}, char sep = '-') {
  ScanSettingsRecord s;
  s.NameSeparator[0] = sep;
  s.NameSeparator[1] = 0;
  for (int k = 0; k < 4; ++k) s.NameCounters[k] = orb::NameCounter{1, 9999, 1, 0};
  for (size_t k = 0; k < counters.size(); ++k) s.NameCounters[k] = counters[k];
  return s;
}

std::string Next(const std::string& name, ScanSettingsRecord& s) {
  CSetupFilenameDlg dlg(name, s);
  dlg.MakeNextFileName();
  char buf[260];
  dlg.GetFileName(buf, sizeof buf);
  return buf;
}

struct NextCase {
  const char* from;
  const char* to;
};

TEST(FileNaming, OneCounterTable) {
  const NextCase cases[] = {
      {"/home/u/images/Scan-0001.tif", "/home/u/images/Scan-0002.tif"},
      {"/home/u/images/Scan-0009.tif", "/home/u/images/Scan-0010.tif"},
      {"/home/u/images/Scan-9999.tif", "/home/u/images/Scan-0001.tif"},  // wraps to start 1
      {"Scan-0001", "Scan-0002"},                                          // no folder, no extension
      {"/x/Scan.tif", "/x/Scan.tif"},                                      // no separator
      {"/x/Scan-abc.tif", "/x/Scan-abc.tif"},                              // separator then a letter
      {"/x/Scan-.tif", "/x/Scan-.tif"},                                    // separator at the end
      {"/x/Job-7/Scan.tif", "/x/Job-7/Scan.tif"},                          // digits in the folder
      {"/x/Scan.t-01", "/x/Scan.t-01"},                                    // digits in the extension
      {"/x-1/a-1.b-1/Scan-05.t-01", "/x-1/a-1.b-1/Scan-06.t-01"},
      {"/x/Scan-99.tif", "/x/Scan-100.tif"},  // limit 9999: the number outgrows the run
  };
  for (const auto& c : cases) {
    auto s = Settings();
    EXPECT_EQ(Next(c.from, s), c.to) << c.from;
  }
}

TEST(FileNaming, CounterMayEqualItsLimit) {
  auto s = Settings({{3, 10, 1, 0}});
  EXPECT_EQ(Next("a-09", s), "a-10");
  EXPECT_EQ(Next("a-10", s), "a-03");
}

TEST(FileNaming, StepLargerThanOne) {
  auto s = Settings({{0, 100, 25, 0}});
  EXPECT_EQ(Next("p-050.png", s), "p-075.png");
  EXPECT_EQ(Next("p-100.png", s), "p-000.png");
}

TEST(FileNaming, CarryOnlyFirstCounterMovesOnlyOnWrap) {
  // Job-01-001 with counter 1 carry-only and counter 2 up to 999.
  auto s = Settings({{1, 99, 1, 1}, {1, 999, 1, 0}});
  EXPECT_EQ(Next("/d/Job-01-001.tif", s), "/d/Job-01-002.tif");
  EXPECT_EQ(Next("/d/Job-01-998.tif", s), "/d/Job-01-999.tif");
  EXPECT_EQ(Next("/d/Job-01-999.tif", s), "/d/Job-02-001.tif");
}

TEST(FileNaming, WithoutCarryOnlyBothAdvanceEveryCall) {
  auto s = Settings({{1, 99, 1, 0}, {1, 999, 1, 0}});
  EXPECT_EQ(Next("Job-01-001", s), "Job-02-002");
}

TEST(FileNaming, CarryRunsThroughFourCounters) {
  auto s = Settings({{0, 9, 1, 1}, {0, 9, 1, 1}, {0, 9, 1, 1}, {0, 9, 1, 0}});
  EXPECT_EQ(Next("n-1-9-9-9", s), "n-2-0-0-0");
  EXPECT_EQ(Next("n-1-9-8-9", s), "n-1-9-9-0");
  // A fifth counter is never looked at.
  EXPECT_EQ(Next("n-1-2-3-4-5", s), "n-1-2-3-5-5");
}

TEST(FileNaming, CarryOnlyCounterWithoutNeighbourNeverAdvances) {
  auto s = Settings({{1, 9999, 1, 1}});
  EXPECT_EQ(Next("Scan-0001.tif", s), "Scan-0001.tif");
  // The fourth counter always advances even with its (ineffective) flag set.
  auto t = Settings({{0, 9, 1, 0}, {0, 9, 1, 0}, {0, 9, 1, 0}, {0, 9, 1, 1}});
  EXPECT_EQ(Next("n-1-1-1-1", t), "n-2-2-2-2");
}

TEST(FileNaming, OtherSeparator) {
  auto s = Settings({}, '_');
  EXPECT_EQ(Next("/a-1/Scan_0041-x.tif", s), "/a-1/Scan_0042-x.tif");
}

TEST(FileNaming, EmptySeparatorFindsNoCounter) {
  auto s = Settings({}, '\0');
  EXPECT_EQ(Next("Scan-0001.tif", s), "Scan-0001.tif");
}

TEST(FileNaming, VeryLongDigitRunWrapsInsteadOfOverflowing) {
  auto s = Settings();
  EXPECT_EQ(Next("a-99999999999999999999999.tif", s), "a-00000000000000000000001.tif");
}

TEST(FileNaming, NameNeverOutgrowsItsField) {
  auto s = Settings({{1, 999999, 1, 0}});
  std::string folder = "/" + std::string(243, 'f') + "/";
  std::string name = folder + "Scan-99999.tif";  // 259 bytes: full
  ASSERT_EQ(name.size(), 259u);
  CSetupFilenameDlg dlg(name, s);
  EXPECT_FALSE(dlg.MakeNextFileName());  // 100000 would not fit
  EXPECT_EQ(dlg.GetFileName(), name);
  // A too small buffer gets a terminated prefix.
  char small[8];
  dlg.GetFileName(small, sizeof small);
  EXPECT_EQ(std::string(small), "/ffffff");
}

TEST(FileNaming, SplitKeepsDotsOfFolders) {
  auto p = orb::SplitFileName("/a.b/c.d.tif");
  EXPECT_EQ(p.folder, "/a.b/");
  EXPECT_EQ(p.name, "c.d");
  EXPECT_EQ(p.ext, ".tif");
  p = orb::SplitFileName("/a.b/noext");
  EXPECT_EQ(p.name, "noext");
  EXPECT_EQ(p.ext, "");
}

// --- the dialog without a display ---

TEST(FileNamingDialog, InitFindsCountersAndSetsLimits) {
  auto s = Settings({{1, 500, 1, 1}, {1, 99999, 2, 0}});
  CSetupFilenameDlg dlg("Job-01-0042", s);
  dlg.OnInitDialog();
  const auto& c = dlg.controls();
  EXPECT_EQ(c.separator, "-");
  EXPECT_EQ(c.start[0], "01");  // the start of a counter is its current number
  EXPECT_EQ(c.start[1], "0042");
  EXPECT_EQ(c.limit[0], "99");    // "500" is longer than the width 2
  EXPECT_EQ(c.limit[1], "9999");  // "99999" is longer than the width 4
  EXPECT_EQ(c.step[1], "2");
  EXPECT_TRUE(c.counterEnabled[0]);
  EXPECT_TRUE(c.counterEnabled[1]);
  EXPECT_FALSE(c.counterEnabled[2]);
  EXPECT_TRUE(c.carryEnabled[0]);   // counter 2 exists
  EXPECT_TRUE(c.carry[0]);
  EXPECT_FALSE(c.carryEnabled[1]);  // counter 3 does not
  EXPECT_FALSE(c.carry[1]);
}

TEST(FileNamingDialog, LimitKeptOnlyWhenAboveStartAndNotWider) {
  struct Case {
    const char* name;
    const char* limit;
    const char* kept;
  } cases[] = {{"a-42", "50", "50"}, {"a-02", "5", "5"},   {"a-42", "42", "99"},
               {"a-42", "10", "99"}, {"a-42", "100", "99"}, {"a-42", "x", "99"}};
  for (const auto& c : cases) {
    auto s = Settings();
    CSetupFilenameDlg dlg(c.name, s);
    dlg.OnInitDialog();
    dlg.controls().limit[0] = c.limit;
    dlg.UpdateCounterFields();
    EXPECT_EQ(dlg.controls().limit[0], c.kept) << c.limit;
  }
}

TEST(FileNamingDialog, TypedLimitWidensTheCounter) {
  auto s = Settings();
  CSetupFilenameDlg dlg("Scan-0007", s);
  dlg.OnInitDialog();
  dlg.controls().limit[0] = "50000";
  dlg.OnKillFocusLimit();
  EXPECT_EQ(dlg.controls().name, "Scan-00007");
  EXPECT_EQ(dlg.controls().limit[0], "50000");
  // An absurd limit text never makes a counter wider than an int32 can fill.
  dlg.controls().limit[0] = std::string(300, '9');
  dlg.OnKillFocusLimit();
  EXPECT_EQ(dlg.controls().name, "Scan-0000000007");
}

TEST(FileNamingDialog, TypedStartReplacesDigits) {
  auto s = Settings();
  CSetupFilenameDlg dlg("A-001-01", s);
  dlg.OnInitDialog();
  dlg.controls().start[1] = "5";
  dlg.OnKillFocusStart();
  EXPECT_EQ(dlg.controls().name, "A-001-5");
  EXPECT_EQ(dlg.controls().start[1], "5");
  EXPECT_EQ(dlg.controls().limit[1], "9");
}

TEST(FileNamingDialog, SeparatorChangeRewritesTheName) {
  auto s = Settings();
  CSetupFilenameDlg dlg("Job-01-001", s);
  dlg.OnInitDialog();
  dlg.OnSetFocusSeparator();
  dlg.controls().separator = "_";
  dlg.OnKillFocusSeparator();
  EXPECT_EQ(dlg.controls().name, "Job_01_001");
  // A multi-byte character is no separator: the old one comes back, the name stays.
  dlg.OnSetFocusSeparator();
  dlg.controls().separator = "\xC3\xA9";
  dlg.OnKillFocusSeparator();
  EXPECT_EQ(dlg.controls().separator, "_");
  EXPECT_EQ(dlg.controls().name, "Job_01_001");
}

TEST(FileNamingDialog, OkStoresSettingsAndCancelDoesNot) {
  auto s = Settings();
  {
    CSetupFilenameDlg dlg("Pg-01-001", s);
    dlg.OnInitDialog();
    dlg.controls().step[1] = "5";
    dlg.controls().carry[0] = true;
    dlg.controls().start[2] = "junk";  // not a number: stored as 0
    // No OnOK: a cancelled dialog leaves the settings alone.
  }
  EXPECT_EQ(s.NameCounters[1].Step, 1);
  CSetupFilenameDlg dlg("Pg-01-001", s);
  dlg.OnInitDialog();
  dlg.controls().step[1] = "5";
  dlg.controls().carry[0] = true;
  dlg.controls().start[2] = "junk";
  dlg.controls().separator = "-";
  dlg.OnOK();
  EXPECT_EQ(s.NameCounters[1].Step, 5);
  EXPECT_EQ(s.NameCounters[0].CarryOnly, 1);
  EXPECT_EQ(s.NameCounters[0].Start, 1);  // the start field held "01"
  EXPECT_EQ(s.NameCounters[2].Start, 0);
  EXPECT_EQ(dlg.GetFileName(), "Pg-01-001");
  EXPECT_EQ(Next("Pg-01-001", s), "Pg-01-006");
}

TEST(FileNamingDialog, ParseCounterText) {
  EXPECT_EQ(orb::ParseCounterText("  42abc"), 42);
  EXPECT_EQ(orb::ParseCounterText("-7"), -7);
  EXPECT_EQ(orb::ParseCounterText(""), 0);
  EXPECT_EQ(orb::ParseCounterText("x1"), 0);
  EXPECT_EQ(orb::ParseCounterText("99999999999999"), INT32_MAX);
}

}  // namespace
