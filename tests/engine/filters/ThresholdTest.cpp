#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "engine/filters/AdaptiveThreshold.h"
#include "engine/filters/BWThreshold.h"

namespace {

using Image = std::vector<std::vector<uint8_t>>;

Image RandomImage(size_t lines, size_t width, unsigned seed) {
  std::mt19937 rng(seed);
  Image im(lines, std::vector<uint8_t>(width));
  for (auto& l : im)
    for (auto& b : l) b = static_cast<uint8_t>(rng() % 256);
  return im;
}

std::vector<uint8_t> Flatten(const Image& im) {
  std::vector<uint8_t> v;
  for (auto& l : im) v.insert(v.end(), l.begin(), l.end());
  return v;
}

// The engine's result written from its definition: output line j + R/2 shows input line j
// against the mean of the R-1 lines up to input line j + R/2 (zeros before the first) over
// the columns [x-h, x+h-1], held at [W-2h, W-1] near the right end.
Image ReferenceAdaptive(const Image& im, int win, int R, int percent) {
  size_t W = im[0].size();
  size_t lines = im.size();
  long h = std::min<long>((win + 1) / 2, static_cast<long>(W));
  int half = win / 2;
  Image out(lines, std::vector<uint8_t>(W, 255));
  int counter = 2 * half;
  for (size_t o = static_cast<size_t>(R / 2); o < lines; ++o) {
    size_t j = o - static_cast<size_t>(R / 2);
    std::vector<long> cs(W + 2 * static_cast<size_t>(h) + 1, 0);
    for (long y = static_cast<long>(o) - (R - 2); y <= static_cast<long>(o); ++y)
      if (y >= 0)
        for (size_t x = 0; x < W; ++x) cs[x] += im[static_cast<size_t>(y)][x];
    bool dark = false;
    for (long x = 0; x < static_cast<long>(W); ++x) {
      long lo, hi;
      if (x <= h) {
        lo = 0;
        hi = x + h - 1;
      } else if (x <= static_cast<long>(W) - h) {
        lo = x - h;
        hi = x + h - 1;
      } else {
        lo = static_cast<long>(W) - 2 * h;
        hi = static_cast<long>(W) - 1;
      }
      long sum = 0;
      for (long c = lo; c <= hi; ++c) sum += cs[static_cast<size_t>(c)];
      long m = std::min<long>(sum / (static_cast<long>(win) * R), 255);
      int t = std::clamp(static_cast<int>(m - static_cast<double>(percent * m) / 100.0), 0, 255);
      int p = im[j][static_cast<size_t>(x)];
      uint8_t v = 255;
      if (p <= t && p < 255) {
        v = 0;
        dark = true;
        counter = 2 * half;
      } else if (dark) {
        if (p <= t + counter / 2) {
          v = 0;
          if (counter > 0) --counter;
        } else {
          dark = false;
          counter = 2 * half;
        }
      }
      out[o][static_cast<size_t>(x)] = v;
    }
  }
  return out;
}

TEST(CIAT, MatchesDefinitionInAnyBanding) {
  struct Case {
    int win;
    size_t W;
    int percent;
  };
  for (Case c : {Case{25, 60, 10}, Case{5, 13, 0}, Case{3, 40, 30}, Case{25, 7, 5}, Case{25, 1, 5}}) {
    // Smooth-ish content so the hysteresis path is exercised.
    Image im = RandomImage(40, c.W, static_cast<unsigned>(c.win + c.W));
    for (auto& l : im)
      for (size_t x = 1; x < l.size(); ++x) l[x] = static_cast<uint8_t>((l[x] / 8) + 100 + (l[x - 1] % 3));
    Image want = ReferenceAdaptive(im, c.win, c.win, c.percent);
    for (size_t band : {1u, 7u, 40u}) {
      CIAT e;
      ASSERT_TRUE(e.Init(c.win, c.win / 2, c.W, c.win, c.percent));
      Image got;
      for (size_t y = 0; y < im.size(); y += band) {
        size_t n = std::min(band, im.size() - y);
        Image part(im.begin() + static_cast<long>(y), im.begin() + static_cast<long>(y + n));
        std::vector<uint8_t> buf = Flatten(part);
        ASSERT_TRUE(e.ThresholdRows(buf.data(), buf.data(), n));
        for (size_t i = 0; i < n; ++i)
          got.emplace_back(buf.begin() + static_cast<long>(i * c.W), buf.begin() + static_cast<long>((i + 1) * c.W));
      }
      for (size_t j = 0; j < im.size(); ++j)
        ASSERT_EQ(got[j], want[j]) << "win " << c.win << " W " << c.W << " band " << band << " line " << j;
    }
  }
}

TEST(CIAT, TableAndDelay) {
  CIAT e;  // window 28, percent 17
  ASSERT_TRUE(e.Init(25, 12, 10, 25, 17));
  EXPECT_EQ(e.table()[100], 83);
  ASSERT_TRUE(e.MakeThresholdTable(0));
  for (int i = 0; i < 256; ++i) EXPECT_EQ(e.table()[i], i);
  EXPECT_EQ(e.Delay(), 12);

  // Window 25: the first 12 output lines are white, output line 12 shows input line 0.
  Image im(13, std::vector<uint8_t>(10, 255));
  im[0] = std::vector<uint8_t>(10, 0);
  std::vector<uint8_t> buf = Flatten(im);
  ASSERT_TRUE(e.ThresholdRows(buf.data(), buf.data(), 13));
  for (size_t i = 0; i < 12 * 10; ++i) ASSERT_EQ(buf[i], 255);
  for (size_t i = 120; i < 130; ++i) EXPECT_EQ(buf[i], 0);

  EXPECT_FALSE(e.ThresholdRows(nullptr, buf.data(), 1));
  EXPECT_TRUE(e.ThresholdRows(buf.data(), buf.data(), 0));
  CIAT empty;
  EXPECT_FALSE(empty.MakeThresholdTable(3));
}

TEST(CIAT, SwappedOutputsAndNarrowerWidth) {
  Image im = RandomImage(12, 20, 21);
  CIAT a, b;
  ASSERT_TRUE(a.Init(5, 2, 20, 5, 10));
  ASSERT_TRUE(b.Init(5, 2, 20, 5, 10));
  b.SwapOutputs();
  std::vector<uint8_t> ba = Flatten(im), bb = Flatten(im);
  ASSERT_TRUE(a.ThresholdRows(ba.data(), ba.data(), 12));
  ASSERT_TRUE(b.ThresholdRows(bb.data(), bb.data(), 12));
  for (size_t i = 0; i < ba.size(); ++i) ASSERT_EQ(ba[i], 255 - bb[i]);

  CIAT c;
  ASSERT_TRUE(c.Init(5, 2, 20, 5, 10));
  c.SetWidth(40);  // never beyond what was allocated
  EXPECT_EQ(c.width(), 20u);
  c.SetWidth(8);
  EXPECT_EQ(c.width(), 8u);
}

orb::BWThresholdRecord Rec(int type) {
  orb::BWThresholdRecord r;
  r.ThresholdingType = type;
  return r;
}

TEST(BWThreshold, FixedMode) {
  auto r = Rec(0);
  r.FixedThreshhold = 0;
  BWThresholdState st;
  ASSERT_NE(BWThresholdInit(&st, &r, 256, 256), nullptr);
  std::vector<uint8_t> band(256);
  for (int i = 0; i < 256; ++i) band[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  BWThresholdRows(&st, band.data(), 256, 256);
  for (int i = 0; i < 255; ++i) EXPECT_EQ(band[static_cast<size_t>(i)], 0);
  EXPECT_EQ(band[255], 255);

  r.FixedThreshhold = 51;  // read on every call; T = 0: all white
  for (int i = 0; i < 256; ++i) band[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  BWThresholdRows(&st, band.data(), 256, 256);
  EXPECT_EQ(band, std::vector<uint8_t>(256, 255));

  r.FixedThreshhold = 32;  // T = 95
  band = {94, 95, 96};
  BWThresholdRows(&st, band.data(), 3, 3);
  EXPECT_EQ(band, (std::vector<uint8_t>{0, 255, 255}));

  r.ThresholdingType = 3;
  band = {1, 2, 3};
  BWThresholdRows(&st, band.data(), 3, 3);
  EXPECT_EQ(band, (std::vector<uint8_t>{1, 2, 3}));
  BWThresholdFree(&st);
}

TEST(BWThreshold, OddWindows) {
  EXPECT_EQ(orb::OddWindow(24), 25);
  EXPECT_EQ(orb::OddWindow(4), 5);
  EXPECT_EQ(orb::OddWindow(1), 3);
  EXPECT_EQ(orb::OddWindow(0), 3);
  EXPECT_EQ(orb::OddWindow(7), 7);
}

TEST(BWThreshold, AdaptiveModeBandsLargerThanCapacityAndFlush) {
  auto r = Rec(1);
  r.AdaptiveWindowSize = 24;
  r.AdaptiveDynamic = 8;
  Image im = RandomImage(30, 50, 5);
  Image want = ReferenceAdaptive(im, 25, 25, 8);

  BWThresholdState st;
  ASSERT_NE(BWThresholdInit(&st, &r, 50, 50), nullptr);  // capacity: one line
  EXPECT_EQ(BWThresholdDelay(&st), 12);
  std::vector<uint8_t> band = Flatten(im);
  BWThresholdRows(&st, band.data(), band.size(), 50);  // 30 lines at once
  for (size_t j = 0; j < 12 * 50; ++j) ASSERT_EQ(band[j], 255);
  for (size_t j = 12; j < 30; ++j)
    ASSERT_EQ(std::vector<uint8_t>(band.begin() + static_cast<long>(j * 50), band.begin() + static_cast<long>((j + 1) * 50)), want[j]);

  // Flush: the last 12 lines, computed with black lines below the image.
  std::vector<uint8_t> tail(12 * 50);
  ASSERT_EQ(BWThresholdFlush(&st, tail.data(), tail.size()), 12);
  Image padded = im;
  for (int i = 0; i < 12; ++i) padded.emplace_back(50, 0);
  Image wantPadded = ReferenceAdaptive(padded, 25, 25, 8);
  for (size_t j = 0; j < 12; ++j)
    EXPECT_EQ(std::vector<uint8_t>(tail.begin() + static_cast<long>(j * 50), tail.begin() + static_cast<long>((j + 1) * 50)),
              wantPadded[30 + j]);
  BWThresholdFree(&st);
}

TEST(BWThreshold, WidthOtherThanInitsIsLeftAlone) {
  auto r = Rec(1);
  BWThresholdState st;
  ASSERT_NE(BWThresholdInit(&st, &r, 8, 8), nullptr);
  std::vector<uint8_t> band(32, 7);
  BWThresholdRows(&st, band.data(), band.size(), 16);
  EXPECT_EQ(band, std::vector<uint8_t>(32, 7));
  BWThresholdFree(&st);

  auto f = Rec(0);  // type changed to adaptive after init: no engine, band unchanged
  ASSERT_NE(BWThresholdInit(&st, &f, 8, 8), nullptr);
  f.ThresholdingType = 1;
  BWThresholdRows(&st, band.data(), 8, 8);
  EXPECT_EQ(band, std::vector<uint8_t>(32, 7));
  EXPECT_FALSE(BWThresholdSetLevel(&st, 5));
  BWThresholdFree(&st);
}

// Plain Floyd-Steinberg as defined for the serpentine variant.
Image ReferenceSerpentine(const Image& im, int level, std::vector<int32_t> firstErr, bool ltr) {
  size_t W = im[0].size();
  std::vector<int32_t> next = firstErr;
  next.resize(W, 0);
  Image out = im;
  int L = level - 32;
  for (auto& line : out) {
    std::vector<int32_t> cur = next;
    std::fill(next.begin(), next.end(), 0);
    long dir = ltr ? 1 : -1;
    for (long i = 0, x = ltr ? 0 : static_cast<long>(W) - 1; i < static_cast<long>(W); ++i, x += dir) {
      int v = std::clamp(line[static_cast<size_t>(x)] + cur[static_cast<size_t>(x)], 0, 255);
      int e;
      if (v < 128) {
        line[static_cast<size_t>(x)] = 0;
        e = v - L;
      } else {
        line[static_cast<size_t>(x)] = 255;
        e = v - (255 - L);
      }
      int q = e >= 0 ? e / 16 : -((-e + 15) / 16);
      auto add = [&](std::vector<int32_t>& a, long at, int val) {
        if (at >= 0 && at < static_cast<long>(W)) a[static_cast<size_t>(at)] += val;
      };
      add(cur, x + dir, 7 * q);
      add(next, x - dir, 3 * q);
      add(next, x, 5 * q);
      add(next, x + dir, q);
    }
    ltr = !ltr;
  }
  return out;
}

TEST(BWThreshold, SerpentineIsFloydSteinbergWithSeededFirstErrors) {
  auto r = Rec(2);
  r.DiffusionSerpentine = 1;
  r.DiffusionLevel = 32;
  Image im = RandomImage(9, 31, 11);
  BWThresholdState st;
  ASSERT_NE(BWThresholdInit(&st, &r, 31, 31, 77), nullptr);
  std::vector<int32_t> first(st.errNext.begin(), st.errNext.begin() + 31);
  for (int32_t v : first) {
    EXPECT_GE(v, 0);
    EXPECT_LE(v, 254);
  }
  std::vector<uint8_t> band = Flatten(im);
  BWThresholdRows(&st, band.data(), 4 * 31, 31);  // direction carries over between bands
  BWThresholdRows(&st, band.data() + 4 * 31, 5 * 31, 31);
  EXPECT_EQ(band, Flatten(ReferenceSerpentine(im, 32, first, true)));
  BWThresholdFree(&st);

  // Same seed, same result; the direction belongs to each state, so two interleaved
  // passes do not disturb each other.
  BWThresholdState a, b;
  ASSERT_NE(BWThresholdInit(&a, &r, 31, 31, 77), nullptr);
  ASSERT_NE(BWThresholdInit(&b, &r, 31, 31, 77), nullptr);
  std::vector<uint8_t> ba = Flatten(im), bb = Flatten(im);
  for (size_t l = 0; l < 9; ++l) {
    BWThresholdRows(&a, ba.data() + l * 31, 31, 31);
    if (l % 2 == 0) BWThresholdRows(&b, bb.data() + l * 31, 31, 31);
  }
  for (size_t l = 1; l < 9; l += 2) BWThresholdRows(&b, bb.data() + l * 31, 31, 31);
  EXPECT_EQ(std::vector<uint8_t>(ba.begin(), ba.begin() + 31), std::vector<uint8_t>(bb.begin(), bb.begin() + 31));
  BWThresholdFree(&a);
  BWThresholdFree(&b);

  BWThresholdState c;
  ASSERT_NE(BWThresholdInit(&c, &r, 31, 31, 78), nullptr);
  EXPECT_NE(std::vector<int32_t>(c.errNext.begin(), c.errNext.begin() + 31), first);
  BWThresholdFree(&c);
}

TEST(BWThreshold, VariantPExample) {
  auto r = Rec(2);
  r.DiffusionSerpentine = 0;
  r.DiffusionLevel = 64;  // T = 22
  BWThresholdState st;
  ASSERT_NE(BWThresholdInit(&st, &r, 3, 3), nullptr);
  std::fill(st.errNext.begin(), st.errNext.end(), 0);
  std::vector<uint8_t> band{0, 0, 0};
  BWThresholdRows(&st, band.data(), 3, 3);
  // 0 -> black, e = 233, q = 14: the next pixel gets 98 and turns white, e = -135,
  // q = -9: the third gets -63 and stays black.
  EXPECT_EQ(band, (std::vector<uint8_t>{0, 255, 0}));
  BWThresholdFree(&st);
}

TEST(BWThreshold, HybridUsesTheGivenRecordAndFlushes) {
  BWThresholdSettings.DiffusionHybrid = 0;
  auto r = Rec(2);
  r.DiffusionSerpentine = 1;
  r.DiffusionHybrid = 1;
  r.HybridWindowSize = 6;  // -> 7, n = 5
  r.HybridDecisionWindow = 4;
  Image im = RandomImage(20, 40, 3);
  BWThresholdState st;
  ASSERT_NE(BWThresholdInit(&st, &r, 40, 40), nullptr);
  EXPECT_TRUE(st.hybrid);
  EXPECT_EQ(st.n, 5);
  EXPECT_EQ(BWThresholdDelay(&st), 3 + 2);
  std::vector<uint8_t> band = Flatten(im);
  BWThresholdRows(&st, band.data(), band.size(), 40);
  for (uint8_t v : band) ASSERT_TRUE(v == 0 || v == 255);
  std::vector<uint8_t> tail(5 * 40);
  EXPECT_EQ(BWThresholdFlush(&st, tail.data(), tail.size()), 5);
  BWThresholdFree(&st);

  // Decision window below 2 and wider than the line are handled.
  r.HybridDecisionWindow = 0;
  ASSERT_NE(BWThresholdInit(&st, &r, 40, 40), nullptr);
  EXPECT_EQ(st.K, 2);
  BWThresholdFree(&st);
  r.HybridDecisionWindow = 60;
  ASSERT_NE(BWThresholdInit(&st, &r, 40, 40), nullptr);
  band = Flatten(im);
  BWThresholdRows(&st, band.data(), band.size(), 40);
  BWThresholdFree(&st);
}

// The hybrid mix from its definition, over whole histories: B[m] is the diffused line
// from n - 2 + m lines ago (255 while it still comes from the initial ring A, 0 before
// ring B was filled), C[m] the adaptive line from m lines ago; P and Q count non-zero
// values over the K lines of B and C.
Image ReferenceHybrid(const Image& diffused, const Image& adaptive, int n, int K) {
  size_t W = diffused[0].size();
  long h = K / 2;
  Image out = diffused;
  auto B = [&](long i, long m, size_t x) -> int {
    if (i - m < 0) return 0;
    long src = i - m - (n - 2);
    return src < 0 ? 255 : diffused[static_cast<size_t>(src)][x];
  };
  auto C = [&](long i, long m, size_t x) -> int {
    return i - m < 0 ? 0 : adaptive[static_cast<size_t>(i - m)][x];
  };
  for (long i = 0; i < static_cast<long>(diffused.size()); ++i) {
    std::vector<long> P(std::max<size_t>(W, static_cast<size_t>(K)), 0), Q(P.size(), 0);
    for (size_t x = 0; x < W; ++x)
      for (long m = 0; m < K; ++m) {
        P[x] += B(i, m, x) != 0;
        Q[x] += C(i, m, x) != 0;
      }
    long sP = 0, sQ = 0;
    for (long j = 0; j < K; ++j) sP += P[static_cast<size_t>(j)], sQ += Q[static_cast<size_t>(j)];
    auto& line = out[static_cast<size_t>(i)];
    for (size_t x = 0; x < W; ++x) line[x] = static_cast<uint8_t>(B(i, h, x));
    for (long x = h; x + h < static_cast<long>(W); ++x) {
      sP += P[static_cast<size_t>(x + h)] - P[static_cast<size_t>(x - h)];
      sQ += Q[static_cast<size_t>(x + h)] - Q[static_cast<size_t>(x - h)];
      bool useAdaptive = sP >= 2 * K && sQ < (K - 1) * K - h;
      line[static_cast<size_t>(x)] = static_cast<uint8_t>(useAdaptive ? C(i, h, static_cast<size_t>(x)) : B(i, h, static_cast<size_t>(x)));
    }
  }
  return out;
}

TEST(BWThreshold, HybridMatchesDefinition) {
  for (int K : {2, 3, 6}) {
    auto r = Rec(2);
    r.DiffusionSerpentine = 1;
    r.DiffusionLevel = 40;
    r.DiffusionHybrid = 1;
    r.HybridWindowSize = 8;  // -> 9, n = 6
    r.HybridDynamic = 12;
    r.HybridDecisionWindow = K;
    Image im = RandomImage(30, 45, static_cast<unsigned>(K));
    for (auto& l : im)  // a page with some structure so both sides of the rule occur
      for (size_t x = 0; x < l.size(); ++x) l[x] = static_cast<uint8_t>(x % 15 < 5 ? l[x] / 4 : 140 + l[x] / 3);
    BWThresholdState st;
    ASSERT_NE(BWThresholdInit(&st, &r, 45, 45, 9), nullptr);
    std::vector<int32_t> first(st.errNext.begin(), st.errNext.begin() + 45);
    std::vector<uint8_t> band = Flatten(im);
    BWThresholdRows(&st, band.data(), band.size(), 45);
    Image want = ReferenceHybrid(ReferenceSerpentine(im, 40, first, true), ReferenceAdaptive(im, 9, 9, 12), 6, K);
    EXPECT_EQ(band, Flatten(want)) << "K " << K;
    // The rule picks the adaptive line somewhere, and somewhere not.
    Image never = ReferenceHybrid(ReferenceSerpentine(im, 40, first, true), Image(30, std::vector<uint8_t>(45, 0)), 6, K);
    EXPECT_NE(Flatten(want), Flatten(never));
    BWThresholdFree(&st);
  }
}

TEST(BWThreshold, HybridAllBlackAndAllWhite) {
  // On a flat white image everything is white; on a flat black image the diffusion and
  // the adaptive lines agree on black once the rings are full.
  auto r = Rec(2);
  r.DiffusionSerpentine = 1;
  r.DiffusionHybrid = 1;
  r.HybridWindowSize = 5;
  r.HybridDecisionWindow = 2;
  for (uint8_t level : {uint8_t(255), uint8_t(0)}) {
    BWThresholdState st;
    ASSERT_NE(BWThresholdInit(&st, &r, 30, 30), nullptr);
    std::fill(st.errNext.begin(), st.errNext.end(), 0);
    std::vector<uint8_t> band(30 * 30, level);
    BWThresholdRows(&st, band.data(), band.size(), 30);
    int delay = BWThresholdDelay(&st);
    for (size_t i = static_cast<size_t>(delay + 2) * 30; i < band.size(); ++i) ASSERT_EQ(band[i], level) << i;
    BWThresholdFree(&st);
  }
}

}  // namespace
