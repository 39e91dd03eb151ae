#include "engine/quantise/Quantise.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdlib>
#include <random>
#include <set>
#include <tuple>
#include <vector>

namespace {

struct Rgb {
  unsigned char r, g, b;
};

std::vector<unsigned char> Pixels(const std::vector<std::pair<Rgb, int>>& runs) {
  std::vector<unsigned char> px;
  for (const auto& [c, n] : runs)
    for (int i = 0; i < n; ++i) px.insert(px.end(), {c.r, c.g, c.b});
  return px;
}

struct Result {
  int ok = 0;
  int count = -1;
  std::vector<unsigned char> map = std::vector<unsigned char>(65536, 0xEE);
  std::vector<unsigned char> palette = std::vector<unsigned char>(768, 0);
  std::vector<int> usage = std::vector<int>(256, 0);
};

Result Quantise(CQuantise& q, const std::vector<unsigned char>& px, int colours) {
  Result r;
  q.AddPixels(px.data(), 1, static_cast<int>(px.size() / 3));
  r.ok = q.MakePalette(colours, &r.count, r.map.data(), r.palette.data(), r.usage.data());
  return r;
}

Rgb Entry(const Result& r, int i) { return {r.palette[3 * i], r.palette[3 * i + 1], r.palette[3 * i + 2]}; }

// The 8-bit colour the quantiser gives a histogram cell's pixels when alone in a box.
Rgb CellCentre(unsigned char r, unsigned char g, unsigned char b) {
  return {static_cast<unsigned char>((r >> 3) * 8 + 4), static_cast<unsigned char>((g >> 2) * 4 + 2),
          static_cast<unsigned char>((b >> 3) * 8 + 4)};
}

bool Same(Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

class FailingHistogram : public CQuantise {
protected:
  uint32_t* AllocateHistogram() override { return nullptr; }
};

class FailingBoxes : public CQuantise {
protected:
  Box* AllocateBoxes() override { return nullptr; }
};

// A histogram that starts with one cell just below saturation.
class NearlyFull : public CQuantise {
protected:
  uint32_t* AllocateHistogram() override {
    auto* h = static_cast<uint32_t*>(std::calloc(kCells, sizeof(uint32_t)));
    if (h) h[CellOf(10, 20, 30)] = 0x7FFFFFFE;
    return h;
  }
};

}  // namespace

TEST(Quantise, HistogramCellIndex) {
  EXPECT_EQ(CQuantise::CellOf(0, 0, 0), 0);
  EXPECT_EQ(CQuantise::CellOf(255, 255, 255), 65535);
  EXPECT_EQ(CQuantise::CellOf(8, 4, 8), (1 << 11) | (1 << 5) | 1);
  EXPECT_EQ(CQuantise::CellOf(7, 3, 7), 0);
  CQuantise q;
  const unsigned char px[] = {8, 4, 8, 9, 5, 15, 0, 0, 0};
  q.AddPixels(px, 1, 3);
  EXPECT_EQ(q.Counter(CQuantise::CellOf(8, 4, 8)), 2u);
  EXPECT_EQ(q.Counter(0), 1u);
}

TEST(Quantise, SingleColourImageGivesOneEntryForEveryCell) {
  CQuantise q;
  Result r = Quantise(q, Pixels({{{100, 150, 200}, 1000}}), 256);
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.count, 1);
  EXPECT_TRUE(Same(Entry(r, 0), CellCentre(100, 150, 200)));
  for (unsigned char m : r.map) ASSERT_EQ(m, 0);
  EXPECT_EQ(r.usage[0], 1000);
}

TEST(Quantise, OneColourIsTheWeightedMeanOfTheImage) {
  CQuantise q;
  // three black pixels (cell centre 4, 2, 4) and one white (252, 254, 252)
  Result r = Quantise(q, Pixels({{{0, 0, 0}, 3}, {{255, 255, 255}, 1}}), 1);
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.count, 1);
  // (3 x 4 + 252 + 2) / 4 = 66, (3 x 2 + 254 + 2) / 4 = 65
  EXPECT_TRUE(Same(Entry(r, 0), Rgb{66, 65, 66}));
}

TEST(Quantise, SmallImagesHaveNoNoiseThreshold) {
  CQuantise q;
  Result r = Quantise(q, Pixels({{{0, 0, 0}, 1}, {{255, 0, 0}, 399998}}), 2);
  EXPECT_EQ(q.NoiseThreshold(), 0u);
  EXPECT_EQ(r.count, 2);  // the lone pixel's cell still counts
}

TEST(Quantise, CellsAtOrBelowTheThresholdAreNotOccupied) {
  CQuantise q;
  // 800000 pixels: threshold 2; a cell of 2 pixels is noise and does not get a box.
  Result r = Quantise(q, Pixels({{{0, 0, 0}, 2}, {{255, 0, 0}, 799998}}), 2);
  EXPECT_EQ(q.NoiseThreshold(), 2u);
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.count, 1);
  EXPECT_TRUE(Same(Entry(r, 0), CellCentre(255, 0, 0)));
}

TEST(Quantise, EqualRedAndGreenExtentsSplitOnGreen) {
  CQuantise q;
  // Red cells 0 and 4 (weighted 32), green cells 0 and 8 (weighted 32), blue 0.
  const Rgb a{0, 0, 0}, b{32, 32, 0}, c{0, 32, 0};
  Result r = Quantise(q, Pixels({{a, 10}, {b, 10}, {c, 10}}), 2);
  ASSERT_EQ(r.count, 2);
  // Green split at 4: {a} and {b, c}; a red split would have given {a, c} and {b}.
  EXPECT_TRUE(Same(Entry(r, 0), CellCentre(0, 0, 0)));
  EXPECT_TRUE(Same(Entry(r, 1), Rgb{20, 34, 4}));  // mean of (36,34,4) and (4,34,4)
}

TEST(Quantise, WellSeparatedColoursEachGetTheirOwnEntry) {
  const std::vector<Rgb> colours = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 0, 255},
                                    {0, 255, 0}, {128, 128, 0}};
  std::vector<std::pair<Rgb, int>> runs;
  for (size_t i = 0; i < colours.size(); ++i) runs.push_back({colours[i], 100 + static_cast<int>(i)});
  CQuantise q;
  Result r = Quantise(q, Pixels(runs), 16);
  ASSERT_EQ(r.ok, 1);
  ASSERT_EQ(r.count, 6);
  for (size_t i = 0; i < colours.size(); ++i) {
    const Rgb c = colours[i];
    const int idx = r.map[CQuantise::CellOf(c.r, c.g, c.b)];
    EXPECT_TRUE(Same(Entry(r, idx), CellCentre(c.r, c.g, c.b))) << i;
    EXPECT_EQ(r.usage[idx], 100 + static_cast<int>(i));
  }
}

// The inverse map holds, for every cell, the nearest palette entry to the cell's centre
// (first entry on a tie); usage counts add every cell's pixels to its entry.
TEST(Quantise, InverseMapIsTheNearestEntryForEveryCell) {
  std::mt19937 rng(5);
  std::vector<unsigned char> px(3 * 50000);
  for (size_t i = 0; i < px.size(); i += 3) {
    // clustered colours, so the boxes differ in population
    const unsigned base = rng() % 8 * 32;
    px[i] = static_cast<unsigned char>(base + rng() % 32);
    px[i + 1] = static_cast<unsigned char>(rng() % 256);
    px[i + 2] = static_cast<unsigned char>(255 - base - rng() % 32);
  }
  for (int colours : {256, 16, 7}) {
    CQuantise q;
    Result r = Quantise(q, px, colours);
    ASSERT_EQ(r.ok, 1);
    ASSERT_EQ(r.count, colours);
    std::set<std::tuple<int, int, int>> distinct;
    for (int i = 0; i < r.count; ++i) distinct.insert({r.palette[3 * i], r.palette[3 * i + 1], r.palette[3 * i + 2]});
    EXPECT_GT(distinct.size(), static_cast<size_t>(colours) * 9 / 10);
    long long used = 0;
    for (int u : r.usage) used += u;
    EXPECT_EQ(used, 50000);
    for (int cell = 0; cell < 65536; ++cell) {
      const int R = (cell >> 11) * 8 + 4, G = ((cell >> 5) & 63) * 4 + 2, B = (cell & 31) * 8 + 4;
      int best = 0, bestD = INT_MAX;
      for (int i = 0; i < r.count; ++i) {
        const int d = (R - r.palette[3 * i]) * (R - r.palette[3 * i]) +
                      (G - r.palette[3 * i + 1]) * (G - r.palette[3 * i + 1]) +
                      (B - r.palette[3 * i + 2]) * (B - r.palette[3 * i + 2]);
        if (d < bestD) {
          bestD = d;
          best = i;
        }
      }
      ASSERT_EQ(r.map[cell], best) << "cell " << cell << " colours " << colours;
    }
  }
}

TEST(Quantise, UsageCountsAreAddedToNotCleared) {
  CQuantise q;
  q.AddPixels(Pixels({{{9, 9, 9}, 5}}).data(), 1, 5);
  std::vector<unsigned char> map(65536), pal(768);
  std::vector<int> usage(256, 0);
  usage[0] = 7;
  int count = 0;
  ASSERT_EQ(q.MakePalette(4, &count, map.data(), pal.data(), usage.data()), 1);
  EXPECT_EQ(usage[0], 12);
}

TEST(Quantise, SaturatedCounterStays) {
  NearlyFull q;
  const unsigned char px[] = {10, 20, 30, 10, 20, 30, 10, 20, 30};
  q.AddPixels(px, 1, 3);
  EXPECT_EQ(q.Counter(CQuantise::CellOf(10, 20, 30)), 0x7FFFFFFFu);
  // Usage counts stop at the largest int rather than wrapping.
  q.AddPixels(Pixels({{{12, 21, 31}, 3}}).data(), 1, 3);
  std::vector<unsigned char> map(65536), pal(768);
  std::vector<int> usage(256, 0);
  int count = 0;
  ASSERT_EQ(q.MakePalette(1, &count, map.data(), pal.data(), usage.data()), 1);
  EXPECT_EQ(usage[0], INT_MAX);
}

TEST(Quantise, EmptyHistogramGivesOneBlackEntry) {
  CQuantise q;
  Result r;
  r.ok = q.MakePalette(256, &r.count, r.map.data(), r.palette.data(), r.usage.data());
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.count, 1);
  EXPECT_TRUE(Same(Entry(r, 0), Rgb{0, 0, 0}));
  for (unsigned char m : r.map) ASSERT_EQ(m, 0);
  EXPECT_EQ(r.usage[0], 0);
}

TEST(Quantise, ColourCountsOutsideTheRangeAreClamped) {
  for (int asked : {0, -3, 1000}) {
    CQuantise q;
    Result r = Quantise(q, Pixels({{{0, 0, 0}, 5}, {{255, 255, 255}, 5}}), asked);
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.count, asked > 256 ? 2 : 1) << asked;
  }
}

TEST(Quantise, FailuresAreReported) {
  std::vector<unsigned char> map(65536), pal(768);
  int count = -1;
  const auto px = Pixels({{{1, 2, 3}, 4}});
  {
    FailingHistogram q;
    q.AddPixels(px.data(), 1, 4);  // nothing happens, nothing crashes
    EXPECT_FALSE(q.HasHistogram());
    EXPECT_EQ(q.MakePalette(16, &count, map.data(), pal.data(), nullptr), 0);
  }
  {
    FailingBoxes q;
    q.AddPixels(px.data(), 1, 4);
    EXPECT_EQ(q.MakePalette(16, &count, map.data(), pal.data(), nullptr), 0);
  }
  for (int bits : {8, 4, 1}) {
    CQuantise q;
    q.SetBitsPerPixel(bits);
    q.AddPixels(px.data(), 1, 4);
    EXPECT_EQ(q.Counter(CQuantise::CellOf(1, 2, 3)), 0u);
    EXPECT_EQ(q.MakePalette(16, &count, map.data(), pal.data(), nullptr), 0) << bits;
  }
  CQuantise q;
  q.AddPixels(px.data(), 1, 4);
  EXPECT_EQ(q.MakePalette(16, &count, nullptr, pal.data(), nullptr), 0);
  EXPECT_EQ(count, -1);
}

TEST(Quantise, OtherPixelDepthsFeedTheirOwnCounters) {
  CQuantise q16;
  q16.SetBitsPerPixel(16);
  const unsigned char words[] = {0xF8, 0x1F, 0x07, 0xE0};
  q16.AddPixels16(words, 1, 2);
  // 0xF81F: red 31, green (0 << 3) | 0 = 0, blue 31; 0x07E0: red 0, green 63, blue 0
  EXPECT_EQ(q16.Counter(31 << 11 | 31), 1u);
  EXPECT_EQ(q16.Counter(63 << 5), 1u);

  CQuantise q4;
  q4.SetBitsPerPixel(4);
  const unsigned char packed[] = {0x21, 0x11};
  q4.AddIndices4(packed, 2);
  std::array<uint32_t, 256> counts{};
  q4.CopyIndexCounts(counts.data());
  EXPECT_EQ(counts[1], 3u);
  EXPECT_EQ(counts[2], 1u);

  CQuantise q8;
  q8.SetBitsPerPixel(8);
  const unsigned char idx[] = {200, 200, 3};
  q8.AddIndices8(idx, 3);
  q8.CopyIndexCounts(counts.data());
  EXPECT_EQ(counts[200], 2u);
  EXPECT_EQ(counts[3], 1u);
}
