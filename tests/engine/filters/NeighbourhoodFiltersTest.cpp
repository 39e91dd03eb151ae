#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "engine/ImageState.h"
#include "engine/filters/MedianNetworks.h"
#include "engine/filters/NoiseRemoval.h"
#include "engine/filters/Sharpen.h"

namespace {

using Image = std::vector<std::vector<uint8_t>>;

Image RandomImage(size_t lines, size_t width, unsigned seed, int levels = 256) {
  std::mt19937 rng(seed);
  Image im(lines, std::vector<uint8_t>(width));
  for (auto& l : im)
    for (auto& b : l) b = static_cast<uint8_t>(rng() % static_cast<unsigned>(levels) * (255 / (levels - 1)));
  return im;
}

uint8_t MedianOf(std::vector<uint8_t> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The filter's definition, written plainly: stream line j (0-based) filtered from the
// lines j - h .. j + h (lines above the top repeat the first line).
std::vector<uint8_t> ReferenceMedianLine(const Image& im, int j, int k, size_t bpp) {
  int h = (k - 1) / 2;
  size_t W = im[0].size();
  size_t pixels = W / bpp;
  // The band line that carries stream line j is input line j + h: its ends keep that
  // line's input (or padding) values.
  std::vector<uint8_t> out = (j + h < static_cast<int>(im.size())) ? im[static_cast<size_t>(j + h)]
                                                                    : std::vector<uint8_t>(W, 255);
  auto lineAt = [&](int y) -> const std::vector<uint8_t>& {
    static std::vector<uint8_t> white;
    white.assign(W, 255);
    if (y < 0) return im[0];
    if (y >= static_cast<int>(im.size())) return white;
    return im[static_cast<size_t>(y)];
  };
  for (size_t x = static_cast<size_t>(h); x + static_cast<size_t>(h) < pixels; ++x) {
    for (size_t c = 0; c < bpp; ++c) {
      if (k == 3) {
        std::vector<uint8_t> v;
        for (int dy = -h; dy <= h; ++dy)
          for (int dx = -h; dx <= h; ++dx) v.push_back(lineAt(j + dy)[(x + static_cast<size_t>(dx)) * bpp + c]);
        out[x * bpp + c] = MedianOf(v);
      } else {
        std::vector<uint8_t> meds;
        for (int dy = -h; dy <= h; ++dy) {
          std::vector<uint8_t> v;
          for (int dx = -h; dx <= h; ++dx) v.push_back(lineAt(j + dy)[(x + static_cast<size_t>(dx)) * bpp + c]);
          meds.push_back(MedianOf(v));
        }
        out[x * bpp + c] = MedianOf(meds);
      }
    }
  }
  return out;
}

TEST(MedianNetworks, SortAllZeroOneInputs) {
  for (int n : {3, 5, 7}) {
    for (unsigned bits = 0; bits < (1u << n); ++bits) {
      std::vector<std::vector<uint8_t>> cols(static_cast<size_t>(n), std::vector<uint8_t>(1));
      std::vector<const uint8_t*> srcs;
      int ones = 0;
      for (int i = 0; i < n; ++i) {
        cols[static_cast<size_t>(i)][0] = (bits >> i) & 1;
        ones += (bits >> i) & 1;
        srcs.push_back(cols[static_cast<size_t>(i)].data());
      }
      uint8_t out = 9;
      orb::MedianOfArrays(srcs.data(), n, &out, 1);
      EXPECT_EQ(out, ones > n / 2 ? 1 : 0) << n << " " << bits;
    }
  }
}

struct StreamResult {
  Image out;        // one output line per input line, in place
  std::vector<int32_t> counters;
};

StreamResult StreamNoise(const Image& im, int level, int32_t kind, size_t bandLines) {
  orb::DescreenRecord r;
  r.Level = level;
  NoiseRemovalState st;
  size_t W = im[0].size();
  EXPECT_NE(NoiseRemovalInit(&st, &r, kind, W), nullptr);
  StreamResult res;
  int delay = NoiseRemovalDelay(&st);
  size_t fed = 0;
  for (size_t y = 0; y < im.size(); y += bandLines) {
    size_t n = std::min(bandLines, im.size() - y);
    std::vector<uint8_t> band;
    for (size_t i = 0; i < n; ++i) band.insert(band.end(), im[y + i].begin(), im[y + i].end());
    res.counters.push_back(NoiseRemovalRows(&st, band.data(), band.size()));
    for (size_t i = 0; i < n; ++i, ++fed)
      if (static_cast<int>(fed) >= delay)
        res.out.emplace_back(band.begin() + static_cast<long>(i * W), band.begin() + static_cast<long>((i + 1) * W));
  }
  std::vector<uint8_t> tail(static_cast<size_t>(delay) * W);
  int64_t got = NoiseRemovalFlush(&st, tail.data(), tail.size());
  for (int64_t i = 0; i < got; ++i)
    res.out.emplace_back(tail.begin() + static_cast<long>(static_cast<size_t>(i) * W),
                         tail.begin() + static_cast<long>(static_cast<size_t>(i + 1) * W));
  NoiseRemovalFree(&st);
  return res;
}

TEST(NoiseRemoval, MatchesDefinitionWithFlushForEveryLevelAndBanding) {
  for (int level : {1, 2, 3}) {
    for (int32_t kind : {IK_GREY, IK_RGB}) {
      size_t bpp = kind == IK_RGB ? 3 : 1;
      for (size_t pixels : {size_t{17}, size_t{41}}) {  // shorter and longer than a vector
      Image im = RandomImage(23, pixels * bpp, static_cast<unsigned>(level * 10 + kind));
      for (size_t band : {1, 4, 23}) {
        StreamResult r = StreamNoise(im, level, kind, band);
        ASSERT_EQ(r.out.size(), im.size());
        for (size_t j = 0; j < im.size(); ++j)
          ASSERT_EQ(r.out[j], ReferenceMedianLine(im, static_cast<int>(j), 2 * level + 1, bpp))
              << "level " << level << " kind " << kind << " band " << band << " line " << j;
      }
      }
    }
  }
}

TEST(NoiseRemoval, MedianOfLineMediansAndLineDelay) {
  // A single white pixel in black is removed by 3 x 3.
  Image im(5, std::vector<uint8_t>(5, 0));
  im[2][2] = 255;
  StreamResult r = StreamNoise(im, 1, IK_GREY, 5);
  ASSERT_EQ(r.out.size(), 5u);
  for (size_t j = 0; j < 5; ++j) {
    EXPECT_EQ(r.out[j], ReferenceMedianLine(im, static_cast<int>(j), 3, 1));
    for (size_t x = 1; x < 4; ++x) EXPECT_EQ(r.out[j][x], 0) << j << "," << x;
  }

  // 5 x 5: three lines (0,0,0,255,255) and two white lines: the median of line medians is
  // 0 although 16 of 25 values are white.
  Image w(5, std::vector<uint8_t>(5, 255));
  w[0] = w[1] = w[2] = {0, 0, 0, 255, 255};
  EXPECT_EQ(ReferenceMedianLine(w, 2, 5, 1)[2], 0);
  orb::DescreenRecord rec;
  rec.Level = 2;
  NoiseRemovalState st;
  ASSERT_NE(NoiseRemovalInit(&st, &rec, IK_GREY, 5), nullptr);
  std::vector<uint8_t> band;
  for (auto& l : w) band.insert(band.end(), l.begin(), l.end());
  EXPECT_EQ(NoiseRemovalRows(&st, band.data(), band.size()), 2);  // -3 + 5
  // Band line 4 carries stream line 2.
  EXPECT_EQ(band[4 * 5 + 2], 0);
  NoiseRemovalFree(&st);

  // Counter: starts at -(k+1)/2, reaches 0 with stream line h.
  rec.Level = 3;
  ASSERT_NE(NoiseRemovalInit(&st, &rec, IK_GREY, 8), nullptr);
  std::vector<uint8_t> line(8, 9);
  std::vector<int32_t> cs;
  for (int i = 0; i < 5; ++i) cs.push_back(NoiseRemovalRows(&st, line.data(), 8));
  EXPECT_EQ(cs, (std::vector<int32_t>{-3, -2, -1, 0, 1}));
  NoiseRemovalFree(&st);
}

TEST(NoiseRemoval, OneLineImageAndRgbEnds) {
  Image one = RandomImage(1, 9, 3);
  StreamResult r = StreamNoise(one, 1, IK_GREY, 1);
  ASSERT_EQ(r.out.size(), 1u);
  EXPECT_EQ(r.out[0], ReferenceMedianLine(one, 0, 3, 1));

  Image rgb = RandomImage(3, 12, 4);  // 4 pixels
  orb::DescreenRecord rec;
  NoiseRemovalState st;
  ASSERT_NE(NoiseRemovalInit(&st, &rec, IK_RGB, 12), nullptr);
  std::vector<uint8_t> l0 = rgb[0];
  NoiseRemovalRows(&st, l0.data(), 12);
  for (size_t b : {0u, 1u, 2u, 9u, 10u, 11u}) EXPECT_EQ(l0[b], rgb[0][b]);
  NoiseRemovalFree(&st);
}

TEST(NoiseRemoval, OtherKindsAndLevelsPassThrough) {
  for (auto [level, kind] : {std::pair{1, IK_PALETTE256}, {1, IK_BW}, {2, IK_BW_SAVED_AS_4}, {0, IK_GREY}, {4, IK_GREY}}) {
    orb::DescreenRecord rec;
    rec.Level = level;
    NoiseRemovalState st;
    ASSERT_NE(NoiseRemovalInit(&st, &rec, kind, 4), nullptr);
    int32_t before = st.counter;
    std::vector<uint8_t> band{0, 255, 0, 255, 255, 0, 255, 0, 1, 2, 3, 4};
    auto copy = band;
    EXPECT_EQ(NoiseRemovalRows(&st, band.data(), band.size()), before);
    EXPECT_EQ(band, copy);
    NoiseRemovalFree(&st);
  }
}

TEST(NoiseRemoval, LevelChangedAfterInitKeepsTheRingsWindow) {
  orb::DescreenRecord rec;
  rec.Level = 1;
  NoiseRemovalState st;
  ASSERT_NE(NoiseRemovalInit(&st, &rec, IK_GREY, 16), nullptr);
  rec.Level = 3;  // would need a 7-line ring
  Image im = RandomImage(10, 16, 8);
  std::vector<uint8_t> band;
  for (auto& l : im) band.insert(band.end(), l.begin(), l.end());
  NoiseRemovalRows(&st, band.data(), band.size());
  EXPECT_EQ(std::vector<uint8_t>(band.begin() + 16 * 5, band.begin() + 16 * 6),
            ReferenceMedianLine(im, 4, 3, 1));
  rec.Level = 0;  // switched off: the band passes unchanged
  std::vector<uint8_t> more(16, 7);
  int32_t c = st.counter;
  EXPECT_EQ(NoiseRemovalRows(&st, more.data(), 16), c);
  EXPECT_EQ(more, std::vector<uint8_t>(16, 7));
  NoiseRemovalFree(&st);
}

TEST(NoiseRemoval, FlushNeedsRoom) {
  orb::DescreenRecord rec;
  rec.Level = 2;
  NoiseRemovalState st;
  ASSERT_NE(NoiseRemovalInit(&st, &rec, IK_GREY, 6), nullptr);
  std::vector<uint8_t> band(6 * 3, 100);
  NoiseRemovalRows(&st, band.data(), band.size());
  std::vector<uint8_t> small(6);
  EXPECT_EQ(NoiseRemovalFlush(&st, small.data(), small.size()), -1);
  NoiseRemovalFree(&st);
}

// Sharpen by its definition: stream line j filtered against lines j-1, j, j+1.
std::vector<uint8_t> ReferenceSharpenLine(const Image& im, int j, int level, size_t bpp) {
  double k = level * 10.0 / 100.0;
  size_t W = im[0].size();
  size_t n = im.size();
  auto at = [&](int y) -> const std::vector<uint8_t>& {
    return im[static_cast<size_t>(std::clamp(y, 0, static_cast<int>(n) - 1))];
  };
  std::vector<uint8_t> out = at(j + 1);
  size_t pixels = W / bpp;
  for (size_t x = 1; x + 1 < pixels; ++x) {
    for (size_t c = 0; c < bpp; ++c) {
      int centre = at(j)[x * bpp + c];
      int s = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          if (dy || dx) s += at(j + dy)[(x + static_cast<size_t>(dx)) * bpp + c];
      int d = static_cast<int>((s - 8 * centre) * k);
      out[x * bpp + c] = static_cast<uint8_t>(std::clamp(centre - d, 0, 255));
    }
  }
  return out;
}

Image StreamSharpen(const Image& im, int level, int32_t kind, size_t bandLines) {
  orb::SharpenRecord rec;
  rec.Level = level;
  size_t W = im[0].size();
  CSharpenLineFilter f(W, &rec, kind);
  EXPECT_TRUE(f.ok());
  Image out;
  size_t fed = 0;
  for (size_t y = 0; y < im.size(); y += bandLines) {
    size_t n = std::min(bandLines, im.size() - y);
    std::vector<uint8_t> band;
    for (size_t i = 0; i < n; ++i) band.insert(band.end(), im[y + i].begin(), im[y + i].end());
    f.Process(band.data(), band.size());
    for (size_t i = 0; i < n; ++i, ++fed)
      if (static_cast<int>(fed) >= f.Delay())
        out.emplace_back(band.begin() + static_cast<long>(i * W), band.begin() + static_cast<long>((i + 1) * W));
  }
  std::vector<uint8_t> tail(W);
  if (f.Flush(tail.data(), tail.size()) == 1) out.push_back(tail);
  f.Free();
  return out;
}

TEST(Sharpen, MatchesDefinitionWithFlush) {
  for (int level = -10; level <= 10; ++level) {
    for (int32_t kind : {IK_GREY, IK_RGB}) {
      size_t bpp = kind == IK_RGB ? 3 : 1;
      Image im = RandomImage(9, 37 * bpp, static_cast<unsigned>(level + 50));
      for (size_t band : {1, 3, 9}) {
        Image out = StreamSharpen(im, level, kind, band);
        ASSERT_EQ(out.size(), im.size());
        for (size_t j = 0; j < im.size(); ++j) {
          std::vector<uint8_t> want = ReferenceSharpenLine(im, static_cast<int>(j), level, bpp);
          if (j + 1 == im.size()) {
            // The flushed last line's own ends come from the repeated last line.
            want.front() = im.back().front();
          }
          ASSERT_EQ(out[j], want) << "level " << level << " line " << j;
        }
      }
    }
  }
}

TEST(Sharpen, CentreWeightsAndLineDelay) {
  auto centre = [](int level) {
    orb::SharpenRecord rec;
    rec.Level = level;
    CSharpenLineFilter f(3, &rec, IK_GREY);
    std::vector<uint8_t> band{90, 90, 90, 90, 100, 90, 90, 90, 90};
    int32_t c = f.Process(band.data(), band.size());
    EXPECT_EQ(c, 1);
    // Band line 2 carries stream line 1.
    return static_cast<int>(band[7]);
  };
  EXPECT_EQ(centre(10), 180);
  EXPECT_EQ(centre(-1), 92);
  EXPECT_EQ(centre(0), 100);

  orb::SharpenRecord rec;
  rec.Level = 10;
  CSharpenLineFilter two(2, &rec, IK_GREY);
  std::vector<uint8_t> band{0, 255, 255, 0};
  EXPECT_EQ(two.Process(band.data(), 4), 0);
  EXPECT_EQ(band, (std::vector<uint8_t>{0, 255, 255, 0}));

  CSharpenLineFilter bw(4, &rec, IK_BW);
  std::vector<uint8_t> b4{0, 255, 0, 255};
  EXPECT_EQ(bw.Process(b4.data(), 4), -2);
  EXPECT_EQ(b4, (std::vector<uint8_t>{0, 255, 0, 255}));
}

}  // namespace
