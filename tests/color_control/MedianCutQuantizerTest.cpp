// The palette builder against hand-worked cases and a brute-force nearest-colour search.
#include "color_control/MedianCutQuantizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

namespace {

struct Result {
  bool ok = false;
  int made = -1;
  std::vector<uint8_t> lut = std::vector<uint8_t>(65536, 0xEE);
  std::vector<uint8_t> pal = std::vector<uint8_t>(768, 0xEE);
  std::vector<uint32_t> counts = std::vector<uint32_t>(256, 0);
};

Result RunOn(CMedianCutQuantizer& q, int requested) {
  Result r;
  r.ok = q.Run(requested, &r.made, r.lut.data(), r.pal.data(), r.counts.data());
  return r;
}

// `n` copies of one pixel fed as one line.
void Feed(CMedianCutQuantizer& q, uint8_t a, uint8_t b, uint8_t c, int n) {
  std::vector<uint8_t> line(static_cast<size_t>(n) * 3);
  for (int i = 0; i < n; ++i) { line[3 * i] = a; line[3 * i + 1] = b; line[3 * i + 2] = c; }
  q.AddPixels(line.data(), n, 1);
}

// The pixel at the centre of a cell, so a cell's colour is exactly what it holds.
void FeedCell(CMedianCutQuantizer& q, int c0, int c1, int c2, int n) {
  Feed(q, uint8_t(c0 * 8 + 4), uint8_t(c1 * 4 + 2), uint8_t(c2 * 8 + 4), n);
}

std::array<int, 3> Entry(const Result& r, int i) { return {r.pal[3 * i], r.pal[3 * i + 1], r.pal[3 * i + 2]}; }

// Nearest palette entry of each cell centre by a full search, lowest index on a tie.
std::vector<uint8_t> BruteForceMap(const std::vector<uint8_t>& pal, int n) {
  std::vector<uint8_t> lut(65536);
  for (int cell = 0; cell < 65536; ++cell) {
    const int x[3] = {(cell >> 11) * 8 + 4, ((cell >> 5) & 63) * 4 + 2, (cell & 31) * 8 + 4};
    long best = -1;
    for (int i = 0; i < n; ++i) {
      long d = 0;
      for (int k = 0; k < 3; ++k) d += long(x[k] - pal[3 * i + k]) * (x[k] - pal[3 * i + k]);
      if (best < 0 || d < best) { best = d; lut[cell] = uint8_t(i); }
    }
  }
  return lut;
}

TEST(MedianCutQuantizer, OneColourIsTheRoundedMeanOfCellCentres) {
  CMedianCutQuantizer q(24);
  Feed(q, 10, 20, 30, 3);    // cell centre 12, 22, 28
  Feed(q, 200, 100, 50, 1);  // cell centre 204, 102, 52
  const Result r = RunOn(q, 1);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.made, 1);
  EXPECT_EQ(Entry(r, 0), (std::array<int, 3>{60, 42, 34}));
  EXPECT_EQ(std::count(r.lut.begin(), r.lut.end(), 0), 65536);
  EXPECT_EQ(r.counts[0], 4u);
}

TEST(MedianCutQuantizer, ComponentsRoundToNearest) {
  CMedianCutQuantizer h(24);
  FeedCell(h, 0, 0, 0, 7);   // component 1: (7 x 2 + 6) / 8 = 2.5 -> 3
  FeedCell(h, 0, 1, 0, 1);
  EXPECT_EQ(Entry(RunOn(h, 1), 0), (std::array<int, 3>{4, 3, 4}));
  CMedianCutQuantizer t(24);
  FeedCell(t, 0, 0, 0, 2);   // component 2: (2 x 4 + 12) / 3 = 6.67 -> 7
  FeedCell(t, 0, 0, 1, 1);
  EXPECT_EQ(Entry(RunOn(t, 1), 0), (std::array<int, 3>{4, 2, 7}));
}

TEST(MedianCutQuantizer, EmptyHistogramGivesOneBlackEntryAndNoCounts) {
  for (int requested : {0, 1, 16, 256}) {
    CMedianCutQuantizer q(24);
    const Result r = RunOn(q, requested);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.made, 1) << requested;
    EXPECT_EQ(Entry(r, 0), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(std::count(r.lut.begin(), r.lut.end(), 0), 65536);
    EXPECT_EQ(std::accumulate(r.counts.begin(), r.counts.end(), 0u), 0u);
  }
}

TEST(MedianCutQuantizer, RequestedZeroActsAsOne) {
  CMedianCutQuantizer a(24), b(24);
  for (auto* q : {&a, &b}) { FeedCell(*q, 1, 2, 3, 5); FeedCell(*q, 30, 60, 30, 7); }
  const Result r0 = RunOn(a, 0), r1 = RunOn(b, 1);
  EXPECT_EQ(r0.made, 1);
  EXPECT_EQ(r0.pal, r1.pal);
  EXPECT_EQ(r0.counts[0], 12u);
}

TEST(MedianCutQuantizer, ThreeCellsGiveThreeColoursWhateverIsAsked) {
  CMedianCutQuantizer q(24);
  FeedCell(q, 2, 10, 3, 5);
  FeedCell(q, 20, 40, 3, 6);
  FeedCell(q, 30, 60, 30, 7);
  const Result r = RunOn(q, 16);
  ASSERT_EQ(r.made, 3);
  std::vector<std::array<int, 3>> got = {Entry(r, 0), Entry(r, 1), Entry(r, 2)};
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (std::vector<std::array<int, 3>>{{20, 42, 28}, {164, 162, 28}, {244, 242, 244}}));
  // Each cell maps to its own colour and carries its own pixels.
  const int cells[3] = {2 * 2048 + 10 * 32 + 3, 20 * 2048 + 40 * 32 + 3, 30 * 2048 + 60 * 32 + 30};
  const uint32_t n[3] = {5, 6, 7};
  for (int k = 0; k < 3; ++k) {
    const int idx = r.lut[cells[k]];
    EXPECT_EQ(r.pal[3 * idx], (cells[k] >> 11) * 8 + 4);
    EXPECT_EQ(r.counts[idx], n[k]);
  }
}

TEST(MedianCutQuantizer, BelowFourHundredThousandPixelsEveryCellCounts) {
  CMedianCutQuantizer q(24);
  FeedCell(q, 0, 0, 0, 399998);
  FeedCell(q, 31, 63, 31, 1);  // a single pixel still shapes a box
  const Result r = RunOn(q, 2);
  EXPECT_EQ(q.NoiseThreshold(), 0u);
  ASSERT_EQ(r.made, 2);
  EXPECT_EQ(r.counts[r.lut[65535]], 1u);
  EXPECT_EQ(Entry(r, r.lut[65535]), (std::array<int, 3>{252, 254, 252}));
}

TEST(MedianCutQuantizer, NoiseCellsShapeNothingButPullColourAndCount) {
  // 800000 pixels: threshold 2, so cells of 1 and 2 pixels are noise.
  CMedianCutQuantizer q(24);
  FeedCell(q, 0, 0, 0, 799997);
  FeedCell(q, 31, 63, 31, 1);
  FeedCell(q, 16, 32, 16, 2);
  const Result r = RunOn(q, 4);
  EXPECT_EQ(q.NoiseThreshold(), 2u);
  ASSERT_EQ(r.made, 1);  // one populated cell: nothing to split
  EXPECT_EQ(Entry(r, 0), (std::array<int, 3>{4, 2, 4}));  // noise lies outside the shrunk box
  EXPECT_EQ(r.counts[0], 800000u);

  // Inside the bounds a noise cell pulls the mean: two big cells span the whole cube.
  CMedianCutQuantizer p(24);
  FeedCell(p, 0, 0, 0, 399999);
  FeedCell(p, 31, 63, 31, 399999);
  FeedCell(p, 31, 63, 0, 2);
  const Result s = RunOn(p, 1);
  const uint64_t t = 800000;
  const uint64_t e0 = (4 * 399999ull + 252 * 399999ull + 252 * 2ull + t / 2) / t;
  const uint64_t e2 = (4 * 399999ull + 252 * 399999ull + 4 * 2ull + t / 2) / t;
  EXPECT_EQ(Entry(s, 0)[0], int(e0));
  EXPECT_EQ(Entry(s, 0)[2], int(e2));
}

struct AxisCase {
  const char* name;
  std::array<int, 3> a, b, c;           // cells, one pixel each
  std::array<int, 3> alone, pairMean;   // the box colours after one split
};

TEST(MedianCutQuantizer, SplitAxisFollowsTheLongestSideWithTiesToOneThenZero) {
  const AxisCase cases[] = {
      // all three lengths 32: split along component 1 at c1 = 4 -> {A} and {B, C}
      {"equal", {0, 0, 0}, {4, 8, 4}, {0, 8, 0}, {4, 2, 4}, {20, 34, 20}},
      // L0 = L2 = 32 > L1 = 16: along component 0 at c0 = 2 -> {A} and {B, C}
      {"zero-two", {0, 0, 0}, {4, 4, 4}, {4, 0, 0}, {4, 2, 4}, {36, 10, 20}},
      // L2 = 32 longest: along component 2 at c2 = 2 -> {B} and {A, C}
      {"two", {0, 0, 0}, {1, 1, 4}, {0, 1, 0}, {12, 6, 36}, {4, 4, 4}},
  };
  for (const auto& k : cases) {
    CMedianCutQuantizer q(24);
    FeedCell(q, k.a[0], k.a[1], k.a[2], 1);
    FeedCell(q, k.b[0], k.b[1], k.b[2], 1);
    FeedCell(q, k.c[0], k.c[1], k.c[2], 1);
    const Result r = RunOn(q, 2);
    ASSERT_EQ(r.made, 2) << k.name;
    std::vector<std::array<int, 3>> got = {Entry(r, 0), Entry(r, 1)};
    std::vector<std::array<int, 3>> want = {k.alone, k.pairMean};
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want) << k.name;
  }
}

TEST(MedianCutQuantizer, InverseMapMatchesBruteForceOnRandomImages) {
  std::mt19937 rng(11);
  for (int requested : {2, 7, 16, 64, 256}) {
    CMedianCutQuantizer q(24);
    std::vector<uint8_t> px(3 * 20000);
    for (auto& v : px) v = uint8_t(rng());
    q.AddPixels(px.data(), 200, 100);
    const Result r = RunOn(q, requested);
    ASSERT_TRUE(r.ok);
    ASSERT_LE(r.made, requested);
    EXPECT_EQ(r.lut, BruteForceMap(r.pal, r.made)) << requested;
    EXPECT_EQ(std::accumulate(r.counts.begin(), r.counts.end(), 0u), 20000u);
  }
}

TEST(MedianCutQuantizer, InverseMapOfGivenPalettesMatchesBruteForce) {
  std::mt19937 rng(5);
  for (int n : {1, 2, 3, 17, 100, 256}) {
    std::vector<uint8_t> pal(768);
    for (auto& v : pal) v = uint8_t(rng());
    // Duplicates and coarse values force ties.
    if (n > 3) { for (int k = 0; k < 3; ++k) pal[3 + k] = pal[k]; for (int i = 0; i < 3 * n; i += 7) pal[i] &= 0xF0; }
    CMedianCutQuantizer q(24);
    std::vector<uint8_t> lut(65536);
    std::vector<uint32_t> counts(256);
    q.InverseMapFor(pal.data(), n, lut.data(), counts.data());
    EXPECT_EQ(lut, BruteForceMap(pal, n)) << n;
  }
}

TEST(MedianCutQuantizer, CellHalfwayBetweenTwoColoursTakesTheLowerIndex) {
  // Cell (0, 0, 0) has centre (4, 2, 4); both entries lie 4 away along component 0.
  for (bool swap : {false, true}) {
    std::vector<uint8_t> pal = {8, 2, 4, 0, 2, 4};
    if (swap) std::swap_ranges(pal.begin(), pal.begin() + 3, pal.begin() + 3);
    CMedianCutQuantizer q(24);
    std::vector<uint8_t> lut(65536);
    std::vector<uint32_t> counts(256);
    q.InverseMapFor(pal.data(), 2, lut.data(), counts.data());
    EXPECT_EQ(lut[0], 0);
  }
}

TEST(MedianCutQuantizer, PaletteAndTableFollowTheByteOrderFedIn) {
  CMedianCutQuantizer q(24);
  Feed(q, 200, 100, 10, 3);  // fed as B, G, R
  Feed(q, 20, 240, 250, 3);
  const Result r = RunOn(q, 2);
  ASSERT_EQ(r.made, 2);
  const int first = r.lut[(200 >> 3) * 2048 + (100 >> 2) * 32 + (10 >> 3)];
  const int second = r.lut[(20 >> 3) * 2048 + (240 >> 2) * 32 + (250 >> 3)];
  EXPECT_NE(first, second);
  EXPECT_EQ(Entry(r, first), (std::array<int, 3>{204, 102, 12}));
  EXPECT_EQ(Entry(r, second), (std::array<int, 3>{20, 242, 252}));
}

TEST(MedianCutQuantizer, PixelsAccumulateAcrossCallsAndLines) {
  CMedianCutQuantizer q(24);
  const uint8_t two[] = {0, 0, 0, 255, 255, 255};
  q.AddPixels(two, 1, 2);
  q.AddPixels(two, 2, 1);
  EXPECT_EQ(q.Count(0), 2u);
  EXPECT_EQ(q.Count(65535), 2u);
}

TEST(MedianCutQuantizer, OtherDepthsCountNothingAndOnlyHistogramDepthsRun) {
  for (int bits : {1, 4, 8, 32}) {
    CMedianCutQuantizer q(bits);
    EXPECT_FALSE(q.HasHistogram());
    Feed(q, 1, 2, 3, 4);
    const Result r = RunOn(q, 4);
    EXPECT_FALSE(r.ok) << bits;
    EXPECT_EQ(r.made, -1);
    EXPECT_EQ(r.lut[0], 0xEE);
    EXPECT_EQ(r.pal[0], 0xEE);
  }
  CMedianCutQuantizer q16(16);
  EXPECT_TRUE(q16.HasHistogram());
  Feed(q16, 1, 2, 3, 4);  // 3-byte pixels are counted by a 24-bit builder only
  EXPECT_EQ(q16.Count(0), 0u);
  EXPECT_TRUE(RunOn(q16, 4).ok);
}

}  // namespace
