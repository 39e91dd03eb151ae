// Interpolation, replication and camera stitching, alone and through a scan.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "scanner_library/TrennicInternal.h"
#include "tests/scanner_library/TrennicFixture.h"

namespace orb::test {
namespace {

TEST(InterpolateData, YFactorTwoAndAHalfAlternatesTwoAndThreeLines) {
  CInterpolateData interp(10, 1.0, 2.5, 8);
  EXPECT_EQ(interp.getInputLineLen(), 10);
  EXPECT_EQ(interp.getOutputLineLen(), 10);
  std::memset(interp.getCurrentDataBuffer(), 100, 10);
  std::vector<unsigned char> out(10 * 8);
  std::vector<int> batches;
  for (int k = 0; k < 6; ++k) {
    std::memset(interp.getCurrentDataBuffer(), 100 + 20 * (k + 1), 10);
    int pending = 0;
    batches.push_back(interp.interpolateData(out.data(), &pending, 8) / 10);
    EXPECT_EQ(pending, 0);
  }
  EXPECT_EQ(batches, (std::vector<int>{2, 3, 2, 3, 2, 3}));
}

TEST(InterpolateData, LinesThatDoNotFitAreOwedAndDeliveredNext) {
  CInterpolateData interp(4, 1.0, 3.0, 8);
  std::memset(interp.getCurrentDataBuffer(), 0, 4);
  std::memset(interp.getCurrentDataBuffer(), 90, 4);
  std::vector<unsigned char> out(12);
  int pending = 0;
  EXPECT_EQ(interp.interpolateData(out.data(), &pending, 2), 8);
  EXPECT_EQ(pending, 2);
  EXPECT_EQ(out[0], 0);   // line 0: the older line
  EXPECT_EQ(out[4], 30);  // line 1: a third of the way
  EXPECT_EQ(interp.interpolateData(out.data(), &pending, 2), 4);
  EXPECT_EQ(pending, 0);
  EXPECT_EQ(out[0], 60);  // line 2
}

TEST(InterpolateData, OneBitLinesAreInterpolatedAndThresholded) {
  CInterpolateData interp(8, 2.0, 1.0, 1);
  EXPECT_EQ(interp.getOutputLineLen(), 2);
  unsigned char* a = interp.getCurrentDataBuffer();
  a[0] = 0xF0;
  unsigned char* b = interp.getCurrentDataBuffer();
  b[0] = 0xF0;
  std::vector<unsigned char> out(2);
  int pending = 0;
  EXPECT_EQ(interp.interpolateData(out.data(), &pending, 1), 2);
  // 16 pixels from 8: the first four doubled (pixel 7 blends 1 and 0 at 0.5: cleared).
  EXPECT_EQ(out[0], 0xFE);
  EXPECT_EQ(out[1], 0x00);
}

TEST(ReplicateData, DoublesBitsMostSignificantFirst) {
  CReplicateData rep(10);
  EXPECT_EQ(rep.getInputLineLen(), 2);
  EXPECT_EQ(rep.getOutputLineLen(), 3);
  unsigned char* in = rep.getCurrentDataBuffer();
  in[0] = 0x80;
  in[1] = 0xC0;  // pixels 8 and 9 set
  unsigned char out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(rep.replicateData(out), 3);
  EXPECT_EQ(out[0], 0xC0);
  EXPECT_EQ(out[1], 0x00);
  EXPECT_EQ(out[2], 0xF0);
  EXPECT_EQ(out[3], 0xAA);  // nothing past the output line
}

// A synthetic two-strip line: content c(x) seen by the left strip up to the seam plus w,
// by the right strip from the seam minus w shifted by `shift`.
TEST(HStitch, FindsTheSeamShiftAndDropsTheOverlaps) {
  const int w = 40, r = 12, width = 400, seamPos = 200, shift = 5;
  auto content = [](int x) {
    return static_cast<unsigned char>(128 + 90 * std::sin(x * 0.13) + 30 * std::sin(x * 0.41));
  };
  std::vector<unsigned char> in;
  for (int x = 0; x < seamPos + w; ++x) in.push_back(content(x));
  for (int x = seamPos - w; x < width; ++x) in.push_back(content(x + shift));
  int seams[1] = {seamPos};
  CHStitch st(8, 0, 0, seams, 1, w, width, r);
  ASSERT_EQ(st.InputLineLength(), static_cast<int>(in.size()));
  ASSERT_EQ(st.OutputLineLength(), width);
  std::vector<unsigned char> out(width + 16, 0xEE);
  for (int line = 0; line < 30; ++line) st.WriteData(in.data(), out.data(), 0);
  EXPECT_NEAR(st.SeamOffset(0), -shift, 0.01);
  for (int x = 0; x < seamPos - w; ++x) EXPECT_EQ(out[x], content(x)) << x;
  for (int x = seamPos; x < width; ++x) EXPECT_EQ(out[x], content(x + shift)) << x;
  EXPECT_EQ(out[width], 0xEE);
}

TEST(HStitch, UniformOverlapKeepsTheRunningOffset) {
  const int w = 20, width = 200;
  std::vector<unsigned char> in(width + 2 * w, 128);
  int seams[1] = {100};
  CHStitch st(24 / 3 * 3, 0, 0, seams, 1, w, width, 6);  // 24 bits
  std::vector<unsigned char> rgb((width + 2 * w) * 3, 128), out(width * 3);
  st.WriteData(rgb.data(), out.data(), 0);
  EXPECT_EQ(st.SeamOffset(0), 0.0);
  (void)in;
}

// The best shift is taken when no other dip is more than half as deep as the best one, each
// dip measured from its minimum up to its neighbouring maximum (the lower one when there are
// two), not up to the highest point of the whole profile.
TEST(HStitch, DipsAreMeasuredAgainstTheirNeighbouringMaximum) {
  struct Case {
    const char* name;
    std::vector<int64_t> profile;
    bool accepted;
  };
  const Case cases[] = {
      // Dip at 280 beside a bump of 300: 20 deep, against the best's 200 (300 - 100).
      // Measured against the global maximum it would be 720 deep and reject the shift.
      {"shallow dip beside a small bump", {1000, 100, 300, 280, 1000}, true},
      // A second dip of 600 against the best's 900: more than half as deep.
      {"second deep dip", {1000, 100, 1000, 400, 1000}, false},
      // Exactly half as deep (450 of 900) does not reject.
      {"second dip exactly half", {1000, 100, 1000, 550, 1000}, true},
      // No dip at all: a flat profile has nothing that stands out.
      {"flat", {500, 500, 500, 500}, false},
      // One dip at the profile's end, climbing only to one side.
      {"dip at the end", {900, 700, 400, 100}, true},
  };
  for (const Case& c : cases) {
    const int64_t best = *std::min_element(c.profile.begin(), c.profile.end());
    EXPECT_EQ(orb::trennic::DistinctMinimum(c.profile.data(), static_cast<int>(c.profile.size()), best),
              c.accepted)
        << c.name;
  }
}

sim::SimScannerConfig StitchConfig(const char* product, int cameras, int pixels,
                                   std::array<int, 5> shifts) {
  sim::SimScannerConfig c;
  c.product = product;
  c.opticalDpi = 400;
  c.pixelsAtOptical = pixels;
  c.cameras = cameras;
  c.seamShift = shifts;
  c.sheet.paperLeft = 0;
  c.sheet.paperWidth = 120000;
  c.sheet.paperTop = 0;
  c.sheet.paperLength = 120000;
  return c;
}

WindowDescriptorType ColourWindow(int ulx, int uly, int width, int length, int comp = 5,
                                  int bits = 24) {
  WindowDescriptorType w{};
  w.XResolution = w.YResolution = 400;
  w.UpperLeftX = ulx;
  w.UpperLeftY = uly;
  w.Width = width;
  w.Length = length;
  w.ImageComposition = comp;
  w.BitsPerPixel = bits;
  w.Flags = 131;
  w.Threshold = 128;
  return w;
}

class StitchScanTest : public TrennicFixture {
 protected:
  // Scans and checks: exactly `width` pixels a line; outside the seam zones every pixel is
  // the sheet's (shifted by the cameras already passed); inside them, after a few lines,
  // the stretched overlap stays close to the sheet.
  void ScanAndCheck(int ulx, int width, const std::vector<int>& boundaries,
                    const std::vector<int>& shifts) {
    const int lines = 40, uly = 400;
    ASSERT_TRUE(t().SetWindow(ColourWindow(ulx, uly, width, lines), 1, false));
    auto block = sim().Window();
    ASSERT_EQ(block.libraryStitches, 1);
    ASSERT_EQ(block.width, width + 2 * 40 * static_cast<int>(boundaries.size()));
    ASSERT_TRUE(t().StartScan());
    std::vector<unsigned char> buf(static_cast<size_t>(3 * width) * 4);
    const auto& sheet = sim().Config().sheet;
    int line = 0;
    double zoneError = 0;
    int zoneCount = 0;
    for (;;) {
      DataTransferType rec{3 * width * 4, buf.data(), 0};
      const ReadCompleteType r = t().ReadData(&rec);
      ASSERT_EQ(rec.ReturnedBytes % (3 * width), 0);
      for (int l = 0; l < rec.ReturnedBytes / (3 * width); ++l, ++line) {
        const unsigned char* px = buf.data() + static_cast<size_t>(l) * 3 * width;
        for (int q = 0; q < width; ++q) {
          int displacement = 0;
          bool zone = false;
          for (size_t k = 0; k < boundaries.size(); ++k) {
            if (q >= boundaries[k]) displacement += shifts[k];
            if (q >= boundaries[k] - 40 && q < boundaries[k]) zone = true;
          }
          if (zone) {
            // The stretched part: compare with the sheet where it came from.
            size_t k = 0;
            while (k + 1 < boundaries.size() && q >= boundaries[k + 1] - 40) ++k;
            const int before = displacement;
            const double src = (q - (boundaries[k] - 40)) * 40.0 / (40 - shifts[k]);
            const auto c = sim::SamplePixel(sheet, 400, 400,
                                            ulx + boundaries[k] - 40 + before + std::lround(src),
                                            uly + line);
            if (line >= 10) {
              zoneError += std::abs(px[3 * q] - c.r);
              ++zoneCount;
            }
            continue;
          }
          const auto c = sim::SamplePixel(sheet, 400, 400, ulx + q + displacement, uly + line);
          ASSERT_EQ(px[3 * q], c.r) << "line " << line << " pixel " << q;
          ASSERT_EQ(px[3 * q + 1], c.g) << "line " << line << " pixel " << q;
          ASSERT_EQ(px[3 * q + 2], c.b) << "line " << line << " pixel " << q;
        }
      }
      if (r != READ_COMPLETE) {
        EXPECT_EQ(r, READ_END_OF_MEDIUM);
        break;
      }
    }
    EXPECT_EQ(line, lines);
    ASSERT_GT(zoneCount, 0);
    // Texture cells are 8 pixels: a seam out of place by a pixel or more would show as
    // a large mean error.
    EXPECT_LT(zoneError / zoneCount, 12.0);
  }
};

TEST_F(StitchScanTest, TwoCamerasWithAKnownSeamShiftComeOutSeamless) {
  Attach(StitchConfig("TK7402", 2, 14400, {4, 0, 0, 0, 0}));
  ScanAndCheck(7000, 480, {200}, {4});
}

TEST_F(StitchScanTest, ThreeCamerasWithSeamShiftsComeOutSeamless) {
  Attach(StitchConfig("TR6729", 3, 21600, {3, -5, 0, 0, 0}));
  ScanAndCheck(7000, 7600, {200, 7400}, {3, -5});
}

TEST_F(StitchScanTest, WindowStartingCloseBeforeASeamGetsALeftExtra) {
  Attach(StitchConfig("TK7402", 2, 14400, {}));
  // 10 optical pixels before the boundary at 7200: 30 pixels more on the left.
  ASSERT_TRUE(t().SetWindow(ColourWindow(7190, 0, 400, 10), 1, false));
  auto w = sim().Window();
  EXPECT_EQ(w.libraryStitches, 1);
  EXPECT_EQ(w.upperLeftX, 7160);
  EXPECT_EQ(w.width, 400 + 80 + 30);
  ASSERT_TRUE(t().StartScan());
  std::vector<unsigned char> buf(3 * 400 * 10);
  DataTransferType rec{3 * 400 * 10, buf.data(), 0};
  ASSERT_EQ(t().ReadData(&rec), READ_COMPLETE);
  // The first pixels are the window's own, not the left extra.
  const auto c = sim::SamplePixel(sim().Config().sheet, 400, 400, 7190, 0);
  EXPECT_EQ(buf[0], c.r);
}

TEST_F(StitchScanTest, WindowsThatAreNeverStitched) {
  struct Case {
    const char* name;
    sim::SimScannerConfig config;
    WindowDescriptorType window;
    unsigned char stitch;
  };
  const Case cases[] = {
      {"one camera", StitchConfig("TK7190", 1, 7200, {}), ColourWindow(100, 0, 400, 10), 1},
      {"1 bit", StitchConfig("TK7402", 2, 14400, {}), ColourWindow(7000, 0, 480, 10, 0, 1), 1},
      {"4 bit", StitchConfig("TK7402", 2, 14400, {}), ColourWindow(7000, 0, 480, 10, 2, 4), 1},
      {"palette composition", StitchConfig("TK7402", 2, 14400, {}), ColourWindow(7000, 0, 480, 10, 3, 8), 1},
      {"stitch byte 0", StitchConfig("TK7402", 2, 14400, {}), ColourWindow(7000, 0, 480, 10), 0},
      {"no seam crossed", StitchConfig("TK7402", 2, 14400, {}), ColourWindow(100, 0, 480, 10), 1},
  };
  for (const auto& c : cases) {
    Attach(c.config);
    ASSERT_TRUE(t().SetWindow(c.window, c.stitch, false)) << c.name;
    EXPECT_EQ(sim().Window().libraryStitches, 0) << c.name;
  }
  // Where the overlap would be 0 pixels (8 dpi on a 400 dpi scanner) nothing is stitched.
  Attach(StitchConfig("TK7402", 2, 14400, {}));
  auto w = ColourWindow(140, 0, 10, 10);
  w.XResolution = w.YResolution = 8;
  ASSERT_TRUE(t().SetWindow(w, 1, false));
  EXPECT_EQ(sim().Window().libraryStitches, 0);
}

}  // namespace
}  // namespace orb::test
