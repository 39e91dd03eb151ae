// Paper extent pre-scans on sheets with known edges.
#include <gtest/gtest.h>

#include <vector>

#include "tests/scanner_library/TrennicFixture.h"

namespace orb::test {
namespace {

sim::SimScannerConfig Sheet(const char* product, int cameras, int optical, int pixels,
                            double leftInch, double widthInch) {
  sim::SimScannerConfig c;
  c.product = product;
  c.cameras = cameras;
  c.opticalDpi = optical;
  c.pixelsAtOptical = pixels;
  c.sheet.paperLeft = static_cast<int>(leftInch * 1200);
  c.sheet.paperWidth = static_cast<int>(widthInch * 1200);
  c.sheet.paperTop = 300;  // a quarter inch of backing, then paper
  c.sheet.paperLength = 24000;
  return c;
}

class PaperExtentTest : public TrennicFixture {};

TEST_F(PaperExtentTest, LengthDrivenVariantForTheLargeModels) {
  // TR6729: scan length 5400, so 5300 pixels at 100 dpi centred on 26.5 inches.
  Attach(Sheet("TR6729", 3, 400, 21600, 16.5, 20.0));
  sim().InsertPaper();
  int width = 0, left = 0;
  ASSERT_TRUE(t().GetPaperExtent(&width, &left, 123));
  // Paper blocks 165..364 at 100 dpi: width (364 - 165) x 10 + 20, left 165 x 10 + 40.
  EXPECT_NEAR(left, 1690, 10);
  EXPECT_NEAR(width, 2010, 20);
  const auto w = sim().Window();
  EXPECT_EQ(w.width, 5300);
  EXPECT_EQ(w.length, 200);
  EXPECT_EQ(w.xRes, 100);
  EXPECT_EQ(w.vendor[4], 48);
  EXPECT_EQ(w.flags, 131);
  // The caller's staging position is back; the paper was loaded again.
  EXPECT_EQ(sim().StagingPosition(), 123);
  EXPECT_EQ(sim().LogOf(0x2A).front().dataOut, Bytes({0xFF, 0x9C}));  // -100 first
  EXPECT_EQ(sim().FractionalSpeed(), 2);
  // Series 3: the linear tone ramp was loaded.
  ASSERT_TRUE(sim().Parameter(39).has_value());
  EXPECT_EQ((*sim().Parameter(39))[4097 - 1], 255);
}

TEST_F(PaperExtentTest, CentredVariantTwoAndThreeCameras) {
  struct Case {
    const char* product;
    int cameras, optical, pixels, lineWidth;
    double leftInch, widthInch;
    int left, width;
  };
  const Case cases[] = {
      {"HALD24", 3, 600, 21600, 3930, 9.6, 20.0, 960, 1990},
      {"HALD23", 2, 600, 14400, 3500, 7.5, 20.0, 750, 1990},
  };
  for (const auto& c : cases) {
    Attach(Sheet(c.product, c.cameras, c.optical, c.pixels, c.leftInch, c.widthInch));
    sim().InsertPaper();
    int width = 0, left = 0;
    ASSERT_TRUE(t().GetPaperExtent(&width, &left, 0)) << c.product;
    EXPECT_NEAR(left, c.left, 10) << c.product;
    EXPECT_NEAR(width, c.width, 20) << c.product;
    EXPECT_EQ(sim().Window().width, c.lineWidth) << c.product;
    EXPECT_EQ(sim().Window().length, 100) << c.product;
  }
}

TEST_F(PaperExtentTest, PaperFarOffCentreOrMissingIsNotReported) {
  Attach(Sheet("HALD24", 3, 600, 21600, 1.0, 10.0));
  sim().InsertPaper();
  int width = -1, left = -1;
  EXPECT_FALSE(t().GetPaperExtent(&width, &left, 7));
  EXPECT_EQ(width, -1);
  EXPECT_EQ(sim().StagingPosition(), 7);
  // No paper: loading is refused, the staging position is still restored.
  Attach(Sheet("HALD24", 3, 600, 21600, 9.6, 20.0));
  EXPECT_FALSE(t().GetPaperExtent(&width, &left, 9));
  EXPECT_EQ(sim().StagingPosition(), 9);
}

TEST_F(PaperExtentTest, ShortScanMovesThePaperBackAndFails) {
  Attach(Sheet("HALD24", 3, 600, 21600, 9.6, 20.0));
  sim().InsertPaper();
  sim().FailReadAtLine(50);
  int width = 0, left = 0;
  EXPECT_FALSE(t().GetPaperExtent(&width, &left, 0));
  auto moves = sim().LogOf(0x31);
  ASSERT_FALSE(moves.empty());
  EXPECT_EQ(moves.back().cdb, Bytes({0x31, 3, 0xFF, 0xFF, 0x8D, 0, 0, 0, 0, 0}));
}

TEST_F(PaperExtentTest, GreyStripIsFound) {
  auto cfg = Sheet("HALD24", 3, 600, 21600, 10.0, 8.0);
  cfg.sheet.paperTop = 0;
  Attach(cfg);
  sim().InsertPaper();
  int left = 0, width = 0, level = 0;
  ASSERT_TRUE(t().GetGreyStripInfo(&left, &width, 0, 30, &level, 34, false));
  // 400 dpi: paper from 4000 to 7200 pixels.
  EXPECT_NEAR(left, 4000, 10);
  EXPECT_NEAR(width, 3200, 20);
  EXPECT_GT(level, 150);
}

}  // namespace
}  // namespace orb::test
