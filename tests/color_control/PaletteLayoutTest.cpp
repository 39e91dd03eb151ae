// Where the dialog's views put the colour cells, against the formulas of the dialog's
// layout: grid 16 to a row, histogram bars scaled to the largest count, cube by R, G, B.
#include "color_control/PaletteLayout.h"

#include <gtest/gtest.h>

#include <memory>

#include "color_control/ClassificationModel.h"

namespace {

// `n` colours with the given counts, in index order; `merged` of them merged into 0.
std::unique_ptr<CClassificationModel> Make(const std::vector<uint32_t>& counts, int merged = 0) {
  auto owned = std::make_unique<CClassificationModel>();
  CClassificationModel& m = *owned;
  auto& t = m.Tables();
  const int n = int(counts.size());
  for (int i = 0; i < n; ++i) {
    t.palette[3 * i] = uint8_t(i * 7);
    t.palette[3 * i + 1] = uint8_t(255 - i);
    t.palette[3 * i + 2] = uint8_t(i * 3);
    t.counts[i] = counts[i];
  }
  t.colorCount = t.requestedCount = t.activeCount = n;
  m.ResetList();
  m.MarkUnusedFrom(n);
  m.FillFromPalette();
  m.SetSortKey(SortKey::Index);
  m.SortAndRebuild();
  std::vector<uint8_t> flags(256, 0);
  for (int i = 1; i <= merged; ++i) flags[i] = 1;
  if (merged) m.MergeFlagged(flags, 0);
  return owned;
}

TEST(PaletteLayout, GridPlacesShownColoursSixteenToARow) {
  const auto pm = Make(std::vector<uint32_t>(40, 1), 3);
  auto& m = *pm;  // 37 stand alone
  const auto cells = LayoutCells(m, PaletteViewKind::Grid, 15 + 17 * 20, 20 + 18 * 10, 0);
  ASSERT_EQ(cells.size(), 37u);
  // width (W - 15) / 17 = 20, height (H - 20) / 18 = 10
  for (int k : {0, 15, 16, 36}) {
    EXPECT_EQ(cells[k].x, 15 + (k % 16) * 21) << k;
    EXPECT_EQ(cells[k].y, 20 + (k / 16) * 11) << k;
    EXPECT_EQ(cells[k].w, 20);
    EXPECT_EQ(cells[k].h, 10);
    EXPECT_TRUE(m.Entries()[cells[k].position].StandsAlone());
  }
  EXPECT_EQ(HitCell(cells, 15 + 21 + 5, 20 + 11 + 5), cells[17].position);
  EXPECT_EQ(HitCell(cells, 15 + 20, 25), -1);  // the gap between two cells
}

TEST(PaletteLayout, HistogramBarsScaleToTheLargestCountWithATwelvePixelFloor) {
  const auto pm = Make({1000, 500, 1, 0});
  auto& m = *pm;
  const int width = 15 + 17 * 10, height = 224;  // 200 pixels above the arrows
  const auto cells = LayoutCells(m, PaletteViewKind::Histogram, width, height, 0);
  ASSERT_EQ(cells.size(), 4u);
  const int base = height - kArrowHeight - 8;
  const int want[4] = {200, 100, 12, 12};
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(cells[k].h, want[k]) << k;
    EXPECT_EQ(cells[k].y + cells[k].h, base);
    EXPECT_EQ(cells[k].x, 10 + k * 11);
  }
  // Counts below the height are drawn as they are.
  const auto small = LayoutCells(*Make({50, 20}), PaletteViewKind::Histogram, width, height, 0);
  EXPECT_EQ(small[0].h, 50);
  EXPECT_EQ(small[1].h, 20);
}

TEST(PaletteLayout, HistogramShowsSixteenBarsFromTheScrollPosition) {
  const auto pm = Make(std::vector<uint32_t>(30, 5));
  auto& m = *pm;
  const auto cells = LayoutCells(m, PaletteViewKind::Histogram, 400, 300, 10);
  ASSERT_EQ(cells.size(), 16u);
  EXPECT_EQ(cells[0].position, 10);
  EXPECT_EQ(HistogramScrollMax(30, 30), 14);
  EXPECT_EQ(HistogramScrollMax(30, 16), 0);
  EXPECT_EQ(HistogramScrollMax(16, 16), 0);
}

TEST(PaletteLayout, CubeCellsGoRightByRedUpByGreenAndAlongTheDiagonalByBlue) {
  auto pm = Make({1, 1, 1});
  auto& m = *pm;
  auto& e = m.Entries();
  e[0].SetColor(0, 0, 0);
  e[1].SetColor(128, 64, 0);
  e[2].SetColor(0, 0, 224);
  const int width = 500, height = 400;
  const CubeFrame f = LayoutCube(width, height);
  EXPECT_EQ(f.side, 256);  // 0.64 x 400
  const auto cells = LayoutCells(m, PaletteViewKind::Cube, width, height, 0);
  ASSERT_EQ(cells.size(), 3u);
  EXPECT_EQ(cells[0].x, f.x0);
  EXPECT_EQ(cells[0].y, f.y0 - kCubeCell);
  EXPECT_EQ(cells[1].x, f.x0 + 128);
  EXPECT_EQ(cells[1].y, f.y0 - 64 - kCubeCell);
  // blue 224: 224 / 256 of the half side (128) times 5/7 = 80 to the right and up
  EXPECT_EQ(cells[2].x, f.x0 + 80);
  EXPECT_EQ(cells[2].y, f.y0 - 80 - kCubeCell);
}

TEST(PaletteLayout, HitTestPrefersTheCellDrawnLast) {
  const std::vector<CellRect> cells = {{0, 0, 12, 12, 4}, {6, 6, 12, 12, 9}};
  EXPECT_EQ(HitCell(cells, 8, 8), 9);
  EXPECT_EQ(HitCell(cells, 2, 2), 4);
  EXPECT_EQ(HitCell(cells, 30, 30), -1);
}

}  // namespace
