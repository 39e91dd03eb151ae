#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <memory>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

#include "engine/PaletteFile.h"
#include "engine/SharedRoutines.h"
#include "platform/Files.h"
#include "tests/platform/TempFolder.h"

namespace {

using orb::testing::ScopedEnv;
using orb::testing::TempFolder;

TEST(FileNumbers, IncrementCarriesLeftToTheFirstNonDigit) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"/scans/Scan-0001.tif", "/scans/Scan-0002.tif"},
      {"/scans/Scan-0009.tif", "/scans/Scan-0010.tif"},
      {"/scans/Scan-0099.tif", "/scans/Scan-0100.tif"},
      {"/scans/Scan-9999.tif", "/scans/Scan-0000.tif"},
      {"/scans/Scan9.tif", "/scans/Scan0.tif"},
      {"/scans/Scan.tif", "/scans/Scan.tif"},
      {"/scans/Scan-12", "/scans/Scan-13"},
      {"/v1.2/page", "/v1.2/page"},
      {"/v1/007", "/v1/008"},
      {"", ""},
  };
  for (const auto& c : cases) {
    std::string s = c.in;
    IncrementFileNumber(s);
    EXPECT_EQ(s, c.out) << c.in;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s", c.in);
    IncrementFileNumber(buf);
    EXPECT_STREQ(buf, c.out) << c.in;
  }
}

TEST(FileNumbers, StripNumberedSuffixTouchesOnlyTheFileName) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"/a/Scan-0001_[1 - 4].tif", "/a/Scan-0001.tif"},
      {"/a_[x]/Scan.tif", "/a_[x]/Scan.tif"},
      {"/a/Scan_[1 - 4]", "/a/Scan"},
      {"/a/Scan.tif", "/a/Scan.tif"},
  };
  for (const auto& c : cases) {
    std::string s = c.in;
    StripNumberedSuffix(s);
    EXPECT_EQ(s, c.out) << c.in;
  }
}

void WritePalette(const std::string& path, uint8_t n, uint8_t m) {
  auto p = std::make_unique<PaletteFile>();
  p->Header = 2;
  p->N = n;
  p->M = m;
  for (int i = 0; i <= n; ++i) p->Map[i] = static_cast<uint8_t>(i % (m + 1));
  ASSERT_TRUE(SavePaletteFile(path, *p));
}

TEST(FileNumbers, MakeNumberedNameOnlyForSeparates) {
  TempFolder dir;
  std::string apt = dir / "classes.apt";
  WritePalette(apt, 9, 3);
  std::string path = "/out/Scan-0001.tif";
  EXPECT_FALSE(MakeNumberedName(path, 4, apt));
  EXPECT_EQ(path, "/out/Scan-0001.tif");
  EXPECT_TRUE(MakeNumberedName(path, 7, apt));
  EXPECT_EQ(path, "/out/Scan-0001_[1 - 4].tif");
  EXPECT_TRUE(MakeNumberedName(path, 7, apt));
  EXPECT_EQ(path, "/out/Scan-0001_[1 - 4].tif") << "the suffix is not repeated";
  EXPECT_FALSE(MakeNumberedName(path, 7, dir / "missing.apt"));
  EXPECT_EQ(path, "/out/Scan-0001_[1 - 4].tif");
}

TEST(CutAtCharTest, CutsFromTheSecondCharacterOn) {
  char a[] = "a|b|c";
  CutAtChar('|', a);
  EXPECT_STREQ(a, "a");
  EXPECT_STREQ(a + 2, "b");
  EXPECT_STREQ(a + 4, "c");
  char b[] = "|ab";
  CutAtChar('|', b);
  EXPECT_STREQ(b, "|ab");
  char c[] = "|";
  CutAtChar('|', c);
  EXPECT_STREQ(c, "|");
  std::string d = "2026/3/7";
  CutAtChar('/', d);
  EXPECT_EQ(d.size(), 8u);
  EXPECT_STREQ(d.c_str(), "2026");
  EXPECT_STREQ(d.c_str() + 5, "3");
  CutAtChar('|', static_cast<char*>(nullptr));
}

TEST(Lengths, ParseLengthTable) {
  struct Case {
    const char* text;
    int dpi, unit, px;
  } cases[] = {
      {"8.5", 200, 0, 1700}, {"2.54", 100, 1, 100}, {"11", 300, 0, 3300},
      {"  1.5abc", 100, 0, 150}, {"abc", 200, 0, 0}, {"", 200, 1, 0},
      {"99.4", 0, 2, 99}, {"99.5", 0, 2, 100}, {"1.5", 0, 0, 0},
      {"-1", 100, 0, -99}, {"+2", 100, 0, 200}, {"1e3", 1, 0, 1000},
      {"1e300", 600, 0, 2147483647}, {"-1e300", 600, 0, -2147483647 - 1},
      {"2,5", 100, 0, 200},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParseLength(c.text, c.dpi, c.unit), c.px) << c.text << " " << c.dpi << " " << c.unit;
}

TEST(Lengths, FormatLengthTable) {
  struct Case {
    int unit;
    int64_t px;
    int dpi;
    const char* text;
  } cases[] = {
      {0, 1700, 200, " 8.50\""}, {0, 2200, 200, "11.00\""}, {1, 1700, 200, "21.59cm"},
      {1, 100, 254, " 1.00cm"},  {2, 1700, 200, "1700px"},  {3, 1700, 200, ""},
      {0, 1700, 0, "1700px"},    {1, 5, -3, "5px"},         {0, 10000000000, 1, "10000000000.00\""},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatLength(c.unit, c.px, c.dpi), c.text);
}

TEST(Lengths, NumbersIgnoreTheLocale) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = old ? old : "C";
  // Any installed locale with a decimal comma will do; skip the check when none is.
  const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "C.UTF-8"};
  for (const char* n : names)
    if (std::setlocale(LC_NUMERIC, n)) break;
  EXPECT_EQ(FormatLength(0, 1700, 200), " 8.50\"");
  EXPECT_EQ(ParseLength("8.5", 200, 0), 1700);
  EXPECT_EQ(orb::FormatFixed(0.645, 5, 2), " 0.65");
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(Scales, ComputeScaleAndFitScale) {
  EXPECT_EQ(ComputeScale(0, 5), 1);
  EXPECT_EQ(ComputeScale(5, 0), 1) << "no division by zero";
  EXPECT_EQ(ComputeScale(1, 3), 3333);
  EXPECT_EQ(ComputeScale(-1, 3), -3333);
  bool horizontal = true;
  EXPECT_EQ(ComputeFitScale(2000, 1000, 500, 500, &horizontal), 40000);
  EXPECT_TRUE(horizontal);
  EXPECT_EQ(ComputeFitScale(1000, 2000, 500, 500, &horizontal), 40000);
  EXPECT_FALSE(horizontal);
  EXPECT_EQ(ComputeFitScale(1000, 1000, 500, 500, &horizontal), 20000);
  EXPECT_FALSE(horizontal) << "equal ratios: not strictly larger";
  EXPECT_EQ(ComputeFitScale(1000, 1000, 0, 500, &horizontal), 20000);
  EXPECT_FALSE(horizontal);
  EXPECT_EQ(ComputeFitScale(1000, 1000, 0, 0), 0) << "no fit into nothing";
  EXPECT_EQ(ComputeFitScale(2000000000, 1, 1, 1), 2147483647);
  EXPECT_EQ(ComputeFitScale(7, 3, 3, 7), 23333);
}

TEST(Scales, CentreViewportOrigin) {
  orb::Rect r{0, 0, 800, 600};
  orb::Point origin{-1, -1};
  CentreViewportOrigin(r, &origin, 301, 200, false);
  EXPECT_EQ(r, (orb::Rect{250, 0, 551, 600}));
  EXPECT_EQ(origin, (orb::Point{250, 0}));
  orb::Rect v{0, 0, 800, 600};
  CentreViewportOrigin(v, &origin, 800, 201, true);
  EXPECT_EQ(v, (orb::Rect{0, 200, 800, 401}));
  EXPECT_EQ(origin, (orb::Point{0, 200}));
  orb::Rect big{0, 0, 100, 100};
  CentreViewportOrigin(big, nullptr, 300, 10, false);
  EXPECT_EQ(big, (orb::Rect{-99, 0, 201, 100}));  // trunc(-99.5) is -99
}

TEST(Scales, FitRectToAspectKeepsInsideTheImage) {
  // A 1000 x 1000 region into a 400 x 200 client: the vertical ratio (50000) is the larger,
  // so the width changes to half the client width x 5.
  orb::Rect r{0, 0, 1000, 1000};
  FitRectToAspect(r, orb::Rect{0, 0, 400, 200}, 5000, 5000);
  EXPECT_EQ(r, (orb::Rect{0, 0, 2000, 1000}));  // centre 500 +-1000, moved right by 500
  orb::Rect h{100, 100, 900, 300};              // 800 x 200 into 200 x 200: width larger
  FitRectToAspect(h, orb::Rect{0, 0, 200, 200}, 1000, 1000);
  EXPECT_EQ(h, (orb::Rect{100, 0, 900, 800}));  // centre 200 +-400, moved down by 200
  orb::Rect clip{0, 0, 100, 1000};
  FitRectToAspect(clip, orb::Rect{0, 0, 1000, 100}, 500, 2000);
  EXPECT_EQ(clip, (orb::Rect{0, 0, 500, 1000})) << "wider than the image: clipped";
}

TEST(Tone, GammaTable) {
  uint8_t t[4096];
  BuildGammaTable12To8(t, 1.0);
  EXPECT_EQ(t[4095], 255);
  EXPECT_EQ(t[2048], 128);
  EXPECT_EQ(t[0], 0);
  BuildGammaTable12To8(2.2, t);
  EXPECT_EQ(t[4095], 255);
  EXPECT_GT(t[1024], 128);
  for (int i = 1; i < 4096; ++i) ASSERT_GE(t[i], t[i - 1]);
  uint8_t z[4096];
  BuildGammaTable12To8(z, 0.0);
  EXPECT_EQ(z[2048], 128) << "gamma 0 is taken as 1";
  BuildGammaTable12To8(z, std::nan(""));
  EXPECT_EQ(z[2048], 128);
}

TEST(Tone, BezierPoints) {
  orb::Point line[4] = {{0, 0}, {85, 85}, {170, 170}, {255, 255}};
  EXPECT_EQ(EvalBezierPoint(line, 0.0), (orb::Point{0, 0}));
  EXPECT_EQ(EvalBezierPoint(line, 1.0), (orb::Point{255, 255}));
  EXPECT_EQ(EvalBezierPoint(line, 0.5), (orb::Point{128, 128}));  // 127.5 rounds up
  orb::Point curve[4] = {{0, 0}, {0, 255}, {255, 255}, {255, 0}};
  orb::Point p;
  EvalBezierPoint(curve, 0.5, &p);
  EXPECT_EQ(p, (orb::Point{128, 191}));  // 127.5, 191.25
}

TEST(Direction, Codes) {
  EXPECT_EQ(GetDirectionCode(5, 5, 5, 5), 0);
  EXPECT_EQ(GetDirectionCode(5, 6, 5, 5), 1);
  EXPECT_EQ(GetDirectionCode(5, 5, 5, 6), 3);
  EXPECT_EQ(GetDirectionCode(4, 5, 5, 5), 2);
  EXPECT_EQ(GetDirectionCode(6, 5, 5, 5), 4);
  EXPECT_EQ(GetDirectionCode(6, 4, 5, 5), 4);
}

TEST(DiskSpace, ExactlyTheNeededBytesIsNotEnough) {
  EXPECT_FALSE(orb::IsMoreThanNeeded(uint64_t{1000}, 1000));
  EXPECT_TRUE(orb::IsMoreThanNeeded(uint64_t{1001}, 1000));
  EXPECT_FALSE(orb::IsMoreThanNeeded(std::nullopt, 0));
}

TEST(DiskSpace, RealQueryOfTheFolder) {
  TempFolder dir;
  bool checked = false;
  for (int attempt = 0; attempt < 20 && !checked; ++attempt) {
    auto before = orb::AvailableDiskBytes(dir.path());
    ASSERT_TRUE(before.has_value());
    bool exact = HasFreeDiskSpace(dir.path(), *before);
    bool less = HasFreeDiskSpace(dir.path(), *before - 1);
    auto after = orb::AvailableDiskBytes(dir.path());
    if (before == after) {  // nobody else wrote meanwhile
      EXPECT_FALSE(exact);
      EXPECT_TRUE(less);
      checked = true;
    }
  }
  EXPECT_TRUE(HasFreeDiskSpace(dir / "later/scan.tif", 0));
  EXPECT_TRUE(HasFreeDiskSpace(static_cast<const char*>(nullptr), 0));
  EXPECT_FALSE(HasFreeDiskSpace(dir.path(), UINT64_MAX));
  if (!checked) GTEST_SKIP() << "free space kept changing under other writers";
}

TEST(TempNames, TempTiffNameIsFreshAndUnique) {
  TempFolder dir;
  std::string a, b;
  ASSERT_TRUE(MakeTempTiffName(dir.path(), a));
  ASSERT_TRUE(MakeTempTiffName(dir.path(), b));
  EXPECT_NE(a, b);
  EXPECT_EQ(a.rfind(dir / "Qel", 0), 0u) << a;
  EXPECT_EQ(a.substr(a.size() - 4), ".tif");
  EXPECT_FALSE(orb::FileExists(a)) << "the reserving file is removed";
  EXPECT_FALSE(MakeTempTiffName(dir / "no/such", a));
  EXPECT_TRUE(a.empty());
}

TEST(Waits, WaitReturnsTheResult) {
  orb::Event e(orb::Event::Reset::Auto, true);
  EXPECT_EQ(WaitForSemaphoreOrWarn(e, __LINE__), orb::WaitResult::Signaled);
  orb::Event closed;
  std::thread t([&] { closed.Close(); });
  EXPECT_EQ(WaitForSemaphoreOrWarn(closed, __LINE__), orb::WaitResult::Closed);
  t.join();
}

class TimeZone {
 public:
  explicit TimeZone(const char* tz) : env_("TZ", tz) { ::tzset(); }
  ~TimeZone() { ::tzset(); }

 private:
  ScopedEnv env_;
};

TEST(TimeStamps, LongFormInTheGivenZone) {
  {
    TimeZone utc("UTC0");
    EXPECT_EQ(FormatTimeStamp(0), "Thursday, January 1, 1970, 00:00:00");
    EXPECT_EQ(FormatTimeStamp(1796911509), "Thursday, December 10, 2026, 14:05:09");
  }
  {
    TimeZone cet("CET-1");
    EXPECT_EQ(FormatTimeStamp(1796911509), "Thursday, December 10, 2026, 15:05:09");
  }
}

}  // namespace
