#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "engine/filters/SpotRemoval.h"

namespace {

using Image = std::vector<std::vector<uint8_t>>;

// Whitens every 8-connected black component at most S wide and S + 1 high; everything
// else becomes 0 or 255.
Image ReferenceDespeckle(const Image& im, int S) {
  size_t H = im.size(), W = im[0].size();
  Image out(H, std::vector<uint8_t>(W, 255));
  std::vector<std::vector<int>> seen(H, std::vector<int>(W, 0));
  for (size_t y = 0; y < H; ++y)
    for (size_t x = 0; x < W; ++x) {
      if (im[y][x] != 0 || seen[y][x]) continue;
      std::vector<std::pair<size_t, size_t>> stack{{y, x}}, pix;
      seen[y][x] = 1;
      size_t x0 = x, x1 = x, y0 = y, y1 = y;
      while (!stack.empty()) {
        auto [cy, cx] = stack.back();
        stack.pop_back();
        pix.push_back({cy, cx});
        x0 = std::min(x0, cx), x1 = std::max(x1, cx), y0 = std::min(y0, cy), y1 = std::max(y1, cy);
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            long ny = static_cast<long>(cy) + dy, nx = static_cast<long>(cx) + dx;
            if (ny < 0 || nx < 0 || ny >= static_cast<long>(H) || nx >= static_cast<long>(W)) continue;
            if (im[static_cast<size_t>(ny)][static_cast<size_t>(nx)] == 0 && !seen[static_cast<size_t>(ny)][static_cast<size_t>(nx)]) {
              seen[static_cast<size_t>(ny)][static_cast<size_t>(nx)] = 1;
              stack.push_back({static_cast<size_t>(ny), static_cast<size_t>(nx)});
            }
          }
      }
      bool speck = static_cast<long>(x1 - x0 + 1) <= S && static_cast<long>(y1 - y0) <= S;
      if (!speck)
        for (auto [py, px] : pix) out[py][px] = 0;
    }
  return out;
}

// Streams the image through the filter (bands of `band` lines), drops the delayed lines
// and appends the flush.
Image Stream(const Image& im, int S, size_t band, std::vector<int32_t>* counters = nullptr) {
  orb::DespeckleRecord rec;
  rec.SpeckWidth = S;
  DespeckleState st;
  size_t W = im[0].size();
  EXPECT_NE(DespeckleInit(&st, &rec, W), nullptr);
  int delay = DespeckleDelay(&st);
  Image out;
  size_t fed = 0;
  for (size_t y = 0; y < im.size(); y += band) {
    size_t n = std::min(band, im.size() - y);
    std::vector<uint8_t> buf;
    for (size_t i = 0; i < n; ++i) buf.insert(buf.end(), im[y + i].begin(), im[y + i].end());
    int32_t c = DespeckleRows(&st, buf.data(), buf.size());
    if (counters) counters->push_back(c);
    for (size_t i = 0; i < n; ++i, ++fed)
      if (static_cast<int>(fed) >= delay)
        out.emplace_back(buf.begin() + static_cast<long>(i * W), buf.begin() + static_cast<long>((i + 1) * W));
  }
  std::vector<uint8_t> tail(static_cast<size_t>(delay) * W);
  int64_t got = DespeckleFlush(&st, tail.data(), tail.size());
  for (int64_t i = 0; i < got; ++i)
    out.emplace_back(tail.begin() + static_cast<long>(static_cast<size_t>(i) * W),
                     tail.begin() + static_cast<long>(static_cast<size_t>(i + 1) * W));
  DespeckleFree(&st);
  return out;
}

Image Blank(size_t h, size_t w) { return Image(h, std::vector<uint8_t>(w, 255)); }

void Rect(Image& im, size_t x, size_t y, size_t w, size_t h) {
  for (size_t j = y; j < y + h; ++j)
    for (size_t i = x; i < x + w; ++i) im[j][i] = 0;
}

bool AnyBlack(const Image& im) {
  for (auto& l : im)
    for (uint8_t v : l)
      if (v == 0) return true;
  return false;
}

TEST(Despeckle, SizeTable) {
  struct Case {
    int S;
    size_t w, h;
    bool removed;
  };
  const Case cases[] = {
      {2, 2, 2, true},  {2, 3, 2, false}, {2, 2, 3, true}, {2, 2, 4, false},
      {3, 1, 4, true},  {3, 1, 5, false}, {3, 4, 1, false}, {1, 1, 1, true},
  };
  for (const Case& c : cases) {
    Image im = Blank(12, 12);
    Rect(im, 4, 3, c.w, c.h);
    Image out = Stream(im, c.S, 5);
    ASSERT_EQ(out.size(), im.size());
    EXPECT_EQ(!AnyBlack(out), c.removed) << "S " << c.S << " " << c.w << "x" << c.h;
    EXPECT_EQ(out, ReferenceDespeckle(im, c.S));
  }
}

TEST(Despeckle, DiagonalIsOneComponentAndGreyBecomesWhite) {
  Image im = Blank(8, 8);
  im[2][2] = im[3][3] = im[4][4] = 0;
  im[6][1] = 200;
  Image out = Stream(im, 2, 8);
  EXPECT_EQ(out[2][2], 0);
  EXPECT_EQ(out[4][4], 0);
  EXPECT_EQ(out[6][1], 255);
}

TEST(Despeckle, EarlyLinesAndCounter) {
  orb::DespeckleRecord rec;
  rec.SpeckWidth = 2;
  DespeckleState st;
  ASSERT_NE(DespeckleInit(&st, &rec, 4), nullptr);
  std::vector<uint8_t> band{0, 200, 255, 7, 0, 200, 255, 7, 9, 9, 0, 0};
  EXPECT_EQ(DespeckleRows(&st, band.data(), band.size()), 1);
  // Lines 0 and 1 come back as they went in; line 2 as itself, bilevel.
  EXPECT_EQ(band, (std::vector<uint8_t>{0, 200, 255, 7, 0, 200, 255, 7, 255, 255, 0, 0}));
  DespeckleFree(&st);
}

TEST(Despeckle, MatchesComponentDefinitionOnRandomImages) {
  for (int S : {0, 1, 2, 3, 5}) {
    for (unsigned seed = 0; seed < 6; ++seed) {
      std::mt19937 rng(seed * 31 + static_cast<unsigned>(S));
      Image im = Blank(45, 37);
      for (auto& l : im)
        for (auto& v : l) v = (rng() % 100 < 30) ? 0 : static_cast<uint8_t>(1 + rng() % 255);
      for (size_t band : {1u, 7u}) {
        Image out = Stream(im, S, band);
        ASSERT_EQ(out, ReferenceDespeckle(im, S)) << "S " << S << " seed " << seed << " band " << band;
      }
    }
  }
}

TEST(Despeckle, LargeShapesAcrossManyLines) {
  // A long frame, a spiral-ish snake and specks: large components are dissolved on the
  // way and never erased.
  Image im = Blank(120, 90);
  Rect(im, 0, 0, 90, 1);
  Rect(im, 0, 119, 90, 1);
  Rect(im, 0, 0, 1, 120);
  for (size_t y = 5; y < 115; y += 6) Rect(im, 10, y, 60, 1), Rect(im, y % 12 ? 10 : 69, y, 1, 6);
  for (size_t y = 3; y < 115; y += 9) Rect(im, 80, y, 2, 2);
  Image out = Stream(im, 3, 16);
  EXPECT_EQ(out, ReferenceDespeckle(im, 3));
}

TEST(Despeckle, FullWidthHalftoneLinesWithTensOfThousandsOfRuns) {
  const size_t W = 33600;
  Image im = Blank(10, W);
  for (size_t y = 1; y < 10; y += 2)
    for (size_t x = (y / 2) % 2; x < W; x += 2) im[y][x] = 0;  // 16800 isolated dots a line
  Image out = Stream(im, 1, 3);
  EXPECT_FALSE(AnyBlack(out));
  // Dots touching at their corners from line to line form one wide component: kept.
  Image mesh = Blank(6, W);
  for (size_t y = 0; y < 6; ++y)
    for (size_t x = y % 2; x < W; x += 2) mesh[y][x] = 0;
  EXPECT_EQ(Stream(mesh, 2, 6), mesh);
}

TEST(Despeckle, FlushOfAShortImage) {
  Image im = Blank(2, 6);
  im[1][2] = 0;
  Image out = Stream(im, 4, 2);  // shorter than the delay
  ASSERT_EQ(out.size(), 2u);
  EXPECT_FALSE(AnyBlack(out));
}

}  // namespace
