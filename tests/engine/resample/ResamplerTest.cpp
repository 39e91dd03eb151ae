#include "engine/resample/Resampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

double RefSinc(double x) { return x == 0.0 ? 1.0 : std::sin(3.142 * x) / (3.142 * x); }
double RefKernel(double x) {
  x = std::fabs(x);
  return x < 3.0 ? RefSinc(x) * RefSinc(x / 3.0) : 0.0;
}
unsigned char RefByte(double v) {
  if (v > 255) return 255;
  if (v < 0) return 0;
  return static_cast<unsigned char>(static_cast<int>(v + 1e-9));
}

struct Image {
  int w = 0, h = 0, ch = 1;
  std::vector<unsigned char> px;
  unsigned char& at(int x, int y, int c) { return px[(static_cast<size_t>(y) * w + x) * ch + c]; }
  unsigned char at(int x, int y, int c) const {
    return px[(static_cast<size_t>(y) * w + x) * ch + c];
  }
};

// The whole-image definition: every output sample from exactly its own source samples.
Image Reference(const Image& src, double sx, double sy) {
  const int ow = static_cast<int>(std::trunc(src.w * sx));
  const int oh = static_cast<int>(std::trunc(src.h * sy));
  const int chans = src.ch == 3 ? 3 : 1;
  Image mid{ow, src.h, src.ch, std::vector<unsigned char>(static_cast<size_t>(ow) * src.h * src.ch)};
  for (int i = 0; i < ow; ++i) {
    const double c = (i + 0.5) / sx;
    std::vector<std::pair<int, double>> list;
    if (sx < 1) {
      const double w = 3 / sx;
      for (int j = static_cast<int>(std::trunc(c - w)); j <= static_cast<int>(std::trunc(c + w)); ++j) {
        const double wt = RefKernel((c - j - 0.5) * sx);
        if (wt != 0 && j >= 0 && j < src.w) list.push_back({j, wt});
      }
    } else {
      for (int j = static_cast<int>(std::floor(c - 3)); j <= static_cast<int>(std::ceil(c + 3)); ++j) {
        const double wt = RefKernel(c - j - 0.5);
        if (wt != 0 && j >= 0 && j < src.w) list.push_back({j, wt});
      }
    }
    double sum = 0;
    for (auto& e : list) sum += e.second;
    for (int y = 0; y < src.h; ++y)
      for (int k = 0; k < chans; ++k) {
        double a = 0;
        for (auto& e : list) a += e.second * src.at(e.first, y, k);
        mid.at(i, y, k) = RefByte(a / sum);
      }
  }
  Image out{ow, oh, src.ch, std::vector<unsigned char>(static_cast<size_t>(ow) * oh * src.ch)};
  for (int y = 0; y < oh; ++y) {
    const double c = (y + 0.5) / sy;
    const double w = sy >= 1 ? 3.0 : 3.0 / sy;
    std::vector<std::pair<int, double>> list;
    for (int j = static_cast<int>(std::trunc(c - w)); j <= static_cast<int>(std::trunc(c + w)); ++j) {
      const double wt = sy >= 1 ? RefKernel(c - j - 0.5) : RefKernel((c - j - 0.5) * sy);
      if (wt != 0 && j >= 0 && j < src.h) list.push_back({j, wt});
    }
    double sum = 0;
    for (auto& e : list) sum += e.second;
    for (int x = 0; x < ow; ++x)
      for (int k = 0; k < chans; ++k) {
        double a = 0;
        for (auto& e : list) a += e.second * mid.at(x, e.first, k);
        out.at(x, y, k) = RefByte(a / sum);
      }
  }
  return out;
}

struct StreamResult {
  Image out;
  std::vector<int> countsPerLine;  // output lines handed back after each source line
  int streamed = 0;                // lines before the flush
};

StreamResult Stream(const Image& src, double sx, double sy, int threads, bool flush = true) {
  ResamplerState st;
  ResamplerInit(&st);
  ResamplerSetScale(&st, sx, sy);
  ResamplerSetSizes(&st, src.h, src.ch, src.w);
  orb::ResamplerSetThreads(&st, threads);
  StreamResult r;
  EXPECT_TRUE(ResamplerPrepare(&st));
  r.out.w = static_cast<int>(st.outputWidth);
  r.out.ch = src.ch;
  auto take = [&](unsigned char* buf, int32_t bytes, int32_t count) {
    EXPECT_EQ(bytes, r.out.w * src.ch);
    r.out.px.insert(r.out.px.end(), buf, buf + static_cast<size_t>(bytes) * count);
    r.out.h += count;
  };
  for (int y = 0; y < src.h; ++y) {
    unsigned char* buf = nullptr;
    int32_t bytes = 0, count = -1;
    ResamplerProcessRows(&st, src.px.data() + static_cast<size_t>(y) * src.w * src.ch, &buf,
                         &bytes, &count);
    r.countsPerLine.push_back(count);
    take(buf, bytes, count);
  }
  r.streamed = r.out.h;
  if (flush) {
    for (int guard = 0; guard < 100000; ++guard) {
      unsigned char* buf = nullptr;
      int32_t bytes = 0, count = -1;
      ResamplerFlush(&st, &buf, &bytes, &count);
      if (count == 0) break;
      take(buf, bytes, count);
    }
  }
  EXPECT_EQ(st.linesDelivered, r.out.h);
  ResamplerFree(&st);
  return r;
}

Image Noise(int w, int h, int ch, unsigned seed) {
  Image im{w, h, ch, std::vector<unsigned char>(static_cast<size_t>(w) * h * ch)};
  std::mt19937 rng(seed);
  for (auto& p : im.px) p = static_cast<unsigned char>(rng() & 0xFF);
  // Hard edges too: whole black and white rows and columns.
  for (int y = 0; y < h; y += 7)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < ch; ++c) im.at(x, y, c) = (y / 7) % 2 ? 255 : 0;
  return im;
}

}  // namespace

TEST(ResampleKernel, WeightsAtKnownDistances) {
  CResampleLanczos3Filter k;
  EXPECT_EQ(k.GetSupport(), 3.0);
  EXPECT_EQ(k.GetWeight(0.0), 1.0);
  EXPECT_EQ(k.GetWeight(3.0), 0.0);
  EXPECT_EQ(k.GetWeight(-3.5), 0.0);
  EXPECT_EQ(k.GetWeight(-1.5), k.GetWeight(1.5));
  // 3.142 is not pi: the weights at whole distances are tiny but not 0.
  EXPECT_NEAR(k.GetWeight(1.0), -0.000107, 0.000005);
  EXPECT_NEAR(k.GetWeight(2.0), 0.0000536, 0.000003);
  EXPECT_EQ(Sinc(0.0), 1.0);
}

TEST(Resampler, ScaleOneIsNotAnExactCopy) {
  // A stripe of 200 between columns of 255, and the same on an image of one line.
  for (int h : {15, 1}) {
    Image im{15, h, 1, std::vector<unsigned char>(15 * h, 255)};
    for (int y = 0; y < h; ++y) im.at(7, y, 0) = 200;
    StreamResult r = Stream(im, 1.0, 1.0, 1);
    ASSERT_EQ(r.out.w, 15);
    ASSERT_EQ(r.out.h, h);
    for (int y = 0; y < h; ++y) {
      EXPECT_EQ(r.out.at(7, y, 0), 199) << h;
      EXPECT_EQ(r.out.at(6, y, 0), 255);
      EXPECT_EQ(r.out.at(0, y, 0), 255);
    }
  }
}

TEST(Resampler, FlatImageStaysFlatAtAnyScale) {
  const double scales[] = {0.1, 0.33, 0.5, 0.75, 1.0, 1.25, 2.0, 3.0};
  for (double s : scales) {
    for (int ch : {1, 3}) {
      for (int v : {1, 37, 137, 200, 254, 255}) {
        Image im{40, 30, ch, std::vector<unsigned char>(40 * 30 * ch, static_cast<unsigned char>(v))};
        StreamResult r = Stream(im, s, s, 1);
        ASSERT_EQ(r.out.h, static_cast<int>(std::trunc(30 * s))) << s;
        for (unsigned char got : r.out.px) ASSERT_EQ(got, v) << "scale " << s << " ch " << ch;
      }
    }
  }
}

TEST(Resampler, HalfScaleColumnZeroUsesSourceColumnsZeroToSix) {
  ResamplerState st;
  ResamplerInit(&st);
  ResamplerSetScale(&st, 0.5, 0.5);
  ResamplerSetSizes(&st, 10, 1, 100);
  ASSERT_TRUE(ResamplerPrepare(&st));
  EXPECT_EQ(st.outputWidth, 50u);
  EXPECT_EQ(st.ringLines, 13);
  EXPECT_EQ(ResamplerGetHalfWindow(&st), 6);
  const ResamplerContributor& c0 = st.contributors[0];
  ASSERT_GT(c0.count, 0);
  EXPECT_EQ(c0.list[0].pixel, 0);
  EXPECT_EQ(c0.list[c0.count - 1].pixel, 6);
  double sum = 0;
  for (int e = 0; e < c0.count; ++e) sum += c0.list[e].weight;
  EXPECT_EQ(sum, c0.weightSum);
  ResamplerFree(&st);
  EXPECT_EQ(st.contributors, nullptr);
}

TEST(Resampler, FirstOutputLineTiming) {
  struct Case {
    double sy;
    std::vector<int> counts;  // per source line, from the first
  };
  const Case cases[] = {
      {1.0, {0, 0, 0, 1, 1, 1}},
      {2.0, {0, 0, 1, 2, 2, 2}},
  };
  for (const Case& c : cases) {
    Image im{8, 20, 1, std::vector<unsigned char>(8 * 20, 9)};
    StreamResult r = Stream(im, 1.0, c.sy, 1);
    for (size_t i = 0; i < c.counts.size(); ++i)
      EXPECT_EQ(r.countsPerLine[i], c.counts[i]) << "sy " << c.sy << " line " << i;
  }
}

TEST(Resampler, StreamingAloneLeavesTheLastLinesAndFlushDeliversThem) {
  Image im{6, 1000, 1, std::vector<unsigned char>(6 * 1000, 50)};
  StreamResult without = Stream(im, 0.5, 0.5, 1, false);
  EXPECT_EQ(without.out.h, 496);
  StreamResult with = Stream(im, 0.5, 0.5, 1, true);
  EXPECT_EQ(with.streamed, 496);
  EXPECT_EQ(with.out.h, 500);
}

// Every output sample equals the whole-image definition, for shrinking and enlarging,
// grey and RGB, on one thread and several; this also proves no window ever reads a ring
// line that has already been replaced or has not arrived yet.
TEST(Resampler, MatchesWholeImageDefinition) {
  const double scales[] = {0.1, 0.23, 0.3, 0.5, 0.77, 0.9, 1.0, 1.5, 2.0, 2.3, 3.7};
  for (bool vector : {true, false})
  for (double s : scales)
    for (int ch : {1, 3})
      for (int threads : {1, 3}) {
        orb::ResamplerUseVectorCode(vector);
        Image im = Noise(53, 61, ch, static_cast<unsigned>(s * 100) + ch);
        Image want = Reference(im, s, s);
        StreamResult got = Stream(im, s, s, threads);
        ASSERT_EQ(got.out.w, want.w);
        ASSERT_EQ(got.out.h, want.h) << s;
        for (size_t i = 0; i < want.px.size(); ++i)
          ASSERT_EQ(got.out.px[i], want.px[i])
              << "scale " << s << " ch " << ch << " threads " << threads << " vector " << vector
              << " at " << i;
      }
  orb::ResamplerUseVectorCode(true);
}

TEST(Resampler, DifferentScalesPerAxis) {
  Image im = Noise(40, 50, 3, 7);
  Image want = Reference(im, 0.6, 1.7);
  StreamResult got = Stream(im, 0.6, 1.7, 2);
  ASSERT_EQ(got.out.h, want.h);
  EXPECT_EQ(got.out.px, want.px);
}

TEST(Resampler, OtherChannelCountsComputeOnlyTheFirstByte) {
  Image im{20, 20, 4, std::vector<unsigned char>(20 * 20 * 4, 77)};
  StreamResult r = Stream(im, 0.5, 0.5, 1);
  ASSERT_EQ(r.out.w, 10);
  for (int y = 0; y < r.out.h; ++y)
    for (int x = 0; x < r.out.w; ++x) {
      EXPECT_EQ(r.out.at(x, y, 0), 77);
      EXPECT_EQ(r.out.at(x, y, 1), 0);
    }
}

TEST(Resampler, UnusableSettingsAreRefused) {
  struct Case {
    double sx, sy;
    int h, ch, w;
  };
  const Case cases[] = {{0, 1, 10, 1, 10}, {1, -1, 10, 1, 10},   {NAN, 1, 10, 1, 10},
                        {1, 1, 10, 1, 0},  {1, 1, 10, 0, 10},    {0.01, 1, 10, 1, 50},
                        {1, 1, -5, 1, 10}, {1e9, 1, 10, 3, 1000}};
  for (const Case& c : cases) {
    ResamplerState st;
    ResamplerInit(&st);
    ResamplerSetScale(&st, c.sx, c.sy);
    ResamplerSetSizes(&st, c.h, c.ch, c.w);
    EXPECT_FALSE(ResamplerPrepare(&st)) << c.sx << " " << c.sy << " " << c.w;
    unsigned char line[64] = {};
    int32_t count = -1, bytes = 0;
    unsigned char* buf = nullptr;
    ResamplerProcessRows(&st, line, &buf, &bytes, &count);
    EXPECT_EQ(count, 0);
    ResamplerFree(&st);
  }
}

// More lines than the declared height: lines past it are left out of every window; a
// window left with no line at all (weight sum 0) gives 0 instead of dividing by zero.
TEST(Resampler, LinesPastTheDeclaredHeightAreLeftOut) {
  ResamplerState st;
  ResamplerInit(&st);
  ResamplerSetScale(&st, 1.0, 1.0);
  ResamplerSetSizes(&st, 2, 1, 10);
  ASSERT_TRUE(ResamplerPrepare(&st));
  std::vector<unsigned char> line(10, 90);
  std::vector<unsigned char> got;
  for (int y = 0; y < 20; ++y) {
    unsigned char* buf = nullptr;
    int32_t bytes = 0, count = 0;
    ResamplerProcessRows(&st, line.data(), &buf, &bytes, &count);
    got.insert(got.end(), buf, buf + static_cast<size_t>(bytes) * count);
  }
  ASSERT_GE(got.size(), 10u * 10);
  for (int x = 0; x < 10; ++x) {
    EXPECT_EQ(got[x], 90);              // line 0: its window holds lines 0 and 1
    EXPECT_EQ(got[9 * 10 + x], 0);      // line 9: no line of its window exists
  }
  ResamplerFree(&st);
}

TEST(Resampler, CloseInputAndScaleGetters) {
  ResamplerState st;
  ResamplerInit(&st);
  EXPECT_EQ(st.sourceHeightLimit, 2147483647);
  ResamplerSetScale(&st, 0.25, 2.0);
  double sx = 0, sy = 0;
  ResamplerGetScale(&st, &sx, &sy);
  EXPECT_EQ(sx, 0.25);
  EXPECT_EQ(sy, 2.0);
  ResamplerSetSizes(&st, 0, 1, 16);
  ASSERT_TRUE(ResamplerPrepare(&st));
  EXPECT_EQ(st.sourceHeightLimit, 2147483647);  // no height given: no limit
  EXPECT_EQ(ResamplerGetHalfWindow(&st), 0);
  unsigned char line[16] = {};
  ResamplerProcessRows(&st, line, nullptr, nullptr, nullptr);
  ResamplerCloseInput(&st);
  EXPECT_EQ(st.sourceHeightLimit, 1);
  ResamplerRelease(&st);
}

// Images shorter than a window still give trunc(H x sy) lines once flushed, each from the
// lines that exist.
TEST(Resampler, ShortImagesAfterFlush) {
  struct Case {
    int h;
    double s;
    int lines;
  };
  const Case cases[] = {{1, 1.0, 1}, {2, 0.5, 1}, {3, 2.0, 6}, {1, 0.3, 0}, {5, 0.25, 1}, {2, 3.5, 7}};
  for (const Case& c : cases) {
    Image im = Noise(9, c.h, 3, static_cast<unsigned>(c.h));
    StreamResult r = Stream(im, 1.0, c.s, 1);
    ASSERT_EQ(r.out.h, c.lines) << c.h << " x " << c.s;
    Image want = Reference(im, 1.0, c.s);
    EXPECT_EQ(r.out.px, want.px) << c.h << " x " << c.s;
  }
}
