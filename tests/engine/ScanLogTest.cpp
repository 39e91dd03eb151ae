#include <gtest/gtest.h>

#include <limits>

#include <ctime>
#include <string>

#include "engine/ScanLog.h"
#include "engine/Settings.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "tests/platform/TempFolder.h"

namespace {

using orb::testing::ScopedEnv;
using orb::testing::TempFolder;

// Thursday, December 10, 2026, 14:05:09 UTC.
constexpr std::time_t kNow = 1796911509;

class ScanLogFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ::tzset();
    orb::SetDefaultClock(&clock_);
    clock_.SetWallTime(kNow);
    g_szDataFolder = data_.path();
    MiscSettings = orb::MiscSettingsRecord();
    MiscSettings.ScanLogEnabled = 1;
    ScanLogTotals = orb::ScanLogTotalsRecord();
  }
  void TearDown() override {
    orb::SetDefaultClock(nullptr);
    g_szDataFolder.clear();
    ::tzset();
  }
  std::string Log() { return orb::ReadTextFile(data_ / "ScanLog.txt").value_or("<missing>"); }

  ScopedEnv tz_{"TZ", "UTC0"};
  orb::FakeClock clock_;
  TempFolder data_;
};

const std::string kStars(102, '*');
const std::string kFramed = "*" + std::string(100, ' ') + "*";
const std::string kFrame = kStars + "\r\n" + kStars + "\r\n" + kFramed + "\r\n" + kFramed + "\r\n";

TEST_F(ScanLogFiles, FirstEntryWithHeaderThenPlainEntries) {
  ASSERT_TRUE(AppendScanLog("/home/u/Documents/Orbalon/images/Scan-0001.tif", 1700, 2200, 200, 0,
                            0, 0, 75));
  std::string first =
      "Thursday, December 10, 2026, 14:05:09\r\n"
      "\t/home/u/Documents/Orbalon/images/Scan-0001.tif\r\n"
      "\t 8.50\" x 11.00\" @ 200dpi, RGB\r\n"
      "\tArea =  0.65 square feet, Scantime = 00:01:15, Status = Saved\r\n"
      "\r\n";
  EXPECT_EQ(Log(), kFrame + first);
  EXPECT_EQ(ScanLogTotals.PeriodStart, kNow);
  EXPECT_EQ(ScanLogTotals.Scans, 1);
  EXPECT_EQ(ScanLogTotals.Rgb, 1);

  clock_.Advance(std::chrono::hours(1));
  MiscSettings.LengthUnit = 1;
  ASSERT_TRUE(AppendScanLog("/s/b.tif", 1700, 2200, 200, 1, 7, 1, 3 * 3600 + 62));
  std::string second =
      "Thursday, December 10, 2026, 15:05:09\r\n"
      "\t/s/b.tif\r\n"
      "\t21.59cm x 27.94cm @ 200dpi, Black and white (Separates)\r\n"
      "\tArea =  0.06 square meters, Scantime = 03:01:02, Status = Rejected, Edited post scan\r\n"
      "\r\n";
  EXPECT_EQ(Log(), kFrame + first + second) << "no second header";
  EXPECT_EQ(ScanLogTotals.PeriodStart, kNow);
  EXPECT_EQ(ScanLogTotals.Scans, 2);
  EXPECT_EQ(ScanLogTotals.Rejected, 1);
  EXPECT_EQ(ScanLogTotals.Bilevel, 1);
  EXPECT_EQ(ScanLogTotals.Edited, 1);
}

TEST_F(ScanLogFiles, KindWordsAndCounters) {
  struct Case {
    uint32_t kind;
    const char* word;
  } cases[] = {{0, "RGB"},
               {1, "256 color"},
               {2, "16 color"},
               {3, "Grayscale"},
               {5, "Grayscale (Greenscale)"},
               {4, "Black and white"},
               {10, "Black and white"},
               {6, "Black and white (Greenscale)"},
               {7, "Black and white (Separates)"},
               {9, ""}};
  MiscSettings.LengthUnit = 2;
  for (const auto& c : cases) {
    ASSERT_TRUE(AppendScanLog("f", 10, 20, 100, 0, c.kind, 0, 0));
    EXPECT_NE(Log().find("\t10px x 20px @ 100dpi, " + std::string(c.word) + "\r\n"),
              std::string::npos)
        << c.kind;
  }
  EXPECT_EQ(ScanLogTotals.Rgb, 1);
  EXPECT_EQ(ScanLogTotals.Colour256, 1);
  EXPECT_EQ(ScanLogTotals.Colour16, 1);
  EXPECT_EQ(ScanLogTotals.Grey, 2);
  EXPECT_EQ(ScanLogTotals.Bilevel, 4);
  EXPECT_EQ(ScanLogTotals.Scans, 10);
}

TEST_F(ScanLogFiles, DisabledLogWritesNothing) {
  MiscSettings.ScanLogEnabled = 0;
  EXPECT_FALSE(AppendScanLog("f", 10, 20, 100, 0, 0, 0, 0));
  EXPECT_FALSE(orb::FileExists(data_ / "ScanLog.txt"));
  EXPECT_EQ(ScanLogTotals.Scans, 0);
}

TEST_F(ScanLogFiles, ResolutionZeroLogsPixelsAndNoArea) {
  ASSERT_TRUE(AppendScanLog("f", 1700, 2200, 0, 0, 3, 0, 0));
  EXPECT_NE(Log().find("\t1700px x 2200px @ 0dpi, Grayscale\r\n"), std::string::npos);
  EXPECT_NE(Log().find("\tArea =  0.00 square feet"), std::string::npos);
  EXPECT_EQ(ScanLogTotals.TotalArea, 0.0);
}

TEST_F(ScanLogFiles, TotalsReport) {
  ASSERT_TRUE(AppendScanLog("a", 1700, 2200, 200, 0, 0, 0, 10));
  ASSERT_TRUE(AppendScanLog("b", 1700, 2200, 200, 1, 4, 1, 10));
  ASSERT_TRUE(AppendScanLog("c", 2400, 2400, 200, 0, 3, 0, 10));
  std::string before = Log();
  clock_.Advance(std::chrono::hours(50) + std::chrono::minutes(7));
  ASSERT_TRUE(WriteScanLogTotals());
  std::string report =
      "\r\n"
      "Totals for Thursday, December 10, 2026, 14:05:09 through \r\n"
      "           Saturday, December 12, 2026, 16:12:09 (2 days, 2 hours, 7 minutes elapsed)\r\n"
      "               Total square feet:   2.30\r\n"
      "               Total saved scans: 2\r\n"
      "               Total rejected scans: 1\r\n"
      "               Total scans: 3\r\n"
      "               Total RGB scans: 1\r\n"
      "               Total 256 color scans: 0\r\n"
      "               Total 16 color scans: 0\r\n"
      "               Total Grayscale scans: 1\r\n"
      "               Total Black and white scans: 1\r\n"
      "               Total edited post scan: 1\r\n"
      "\r\n"
      "\r\n" +
      kFrame;
  EXPECT_EQ(Log(), before + report);
  EXPECT_EQ(ScanLogTotals.Scans, 0);
  EXPECT_EQ(ScanLogTotals.TotalArea, 0.0);
  EXPECT_EQ(ScanLogTotals.PeriodStart, kNow + 50 * 3600 + 7 * 60);
}

TEST_F(ScanLogFiles, TotalsOfMoreThanAYearCountAllDays) {
  ASSERT_TRUE(AppendScanLog("a", 100, 100, 100, 0, 0, 0, 0));
  clock_.Advance(std::chrono::hours(24 * 400));
  ASSERT_TRUE(WriteScanLogTotals());
  EXPECT_NE(Log().find("(400 days, 0 hours, 0 minutes elapsed)"), std::string::npos);
}

TEST_F(ScanLogFiles, TotalsOnAnEmptyLogDoNothing) {
  ScanLogTotals.Scans = 4;
  EXPECT_FALSE(WriteScanLogTotals());
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(ScanLogTotals.Scans, 4);
}

TEST_F(ScanLogFiles, DamagedTotalsNeverReachTheLogAsNegativeNumbers) {
  // A damaged totals file: negative counts, more rejected scans than scans, a NaN area.
  orb::ScanLogTotalsRecord t;
  t.TotalArea = std::numeric_limits<double>::quiet_NaN();
  t.Scans = 5;
  t.Rejected = 9;
  t.Rgb = -3;
  t.Edited = -2147483647;
  t.Grey = 4;
  t.PeriodStart = kNow;
  std::vector<uint8_t> bytes(orb::ScanLogTotalsRecord::kSize);
  t.Encode(bytes.data());
  ASSERT_TRUE(orb::WriteFileAtomically(data_ / "ScanLogTots.dat", bytes));
  LoadScanLogTotals();
  EXPECT_EQ(ScanLogTotals.Scans, 5);
  EXPECT_EQ(ScanLogTotals.Rejected, 0);
  EXPECT_EQ(ScanLogTotals.Rgb, 0);
  EXPECT_EQ(ScanLogTotals.Edited, 0);
  EXPECT_EQ(ScanLogTotals.Grey, 4);
  EXPECT_EQ(ScanLogTotals.TotalArea, 0.0);
  ASSERT_TRUE(AppendScanLog("a", 1700, 2200, 200, 1, 0, 0, 10));
  ASSERT_TRUE(WriteScanLogTotals());
  const std::string log = Log();
  EXPECT_EQ(log.find(": -"), std::string::npos) << log;
  EXPECT_EQ(log.find("nan"), std::string::npos) << log;
  EXPECT_NE(log.find("Total saved scans: 5\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Total rejected scans: 1\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Total scans: 6\r\n"), std::string::npos) << log;
}

TEST_F(ScanLogFiles, TotalsRecordFile) {
  ScanLogTotals.TotalArea = 12.5;
  ScanLogTotals.Scans = 7;
  ScanLogTotals.Edited = 2;
  ScanLogTotals.PeriodStart = kNow;
  ScanLogTotals.LastReport = -5;
  ASSERT_EQ(SaveScanLogTotals(), SettingsWrite::Written);
  auto bytes = orb::ReadFileBytes(data_ / "ScanLogTots.dat").value();
  ASSERT_EQ(bytes.size(), 56u);
  EXPECT_EQ(orb::GetF64LE(&bytes[0]), 12.5);
  EXPECT_EQ(orb::GetI32LE(&bytes[8]), 7);
  EXPECT_EQ(orb::GetI32LE(&bytes[36]), 2);
  EXPECT_EQ(orb::GetI64LE(&bytes[40]), kNow);
  EXPECT_EQ(orb::GetI64LE(&bytes[48]), -5);

  ScanLogTotals = orb::ScanLogTotalsRecord();
  LoadScanLogTotals();
  EXPECT_EQ(ScanLogTotals.Scans, 7);
  EXPECT_EQ(ScanLogTotals.LastReport, -5);
  ASSERT_EQ(SaveScanLogTotals(), SettingsWrite::Written);
  EXPECT_EQ(orb::ReadFileBytes(data_ / "ScanLogTots.dat").value(), bytes);

  ScanLogTotals = orb::ScanLogTotalsRecord();
  ASSERT_TRUE(orb::WriteFileAtomically(data_ / "ScanLogTots.dat", std::vector<uint8_t>{9}));
  LoadScanLogTotals();
  EXPECT_EQ(ScanLogTotals.TotalArea, 0.0) << "1 byte counts as missing";
  ASSERT_TRUE(orb::WriteFileAtomically(data_ / "ScanLogTots.dat",
                                       std::vector<uint8_t>(bytes.begin(), bytes.begin() + 12)));
  LoadScanLogTotals();
  EXPECT_EQ(ScanLogTotals.Scans, 7);
  EXPECT_EQ(ScanLogTotals.Rejected, 0) << "only the prefix is read";
}

}  // namespace
