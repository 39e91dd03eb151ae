#include "color_control/PaletteLayout.h"

#include <algorithm>

#include "color_control/ClassificationModel.h"

namespace {

std::vector<int> ShownPositions(const CClassificationModel& m) {
  std::vector<int> shown;
  const auto& list = m.Entries();
  for (int p = 0; p < int(list.size()); ++p) {
    if (list[p].StandsAlone()) shown.push_back(p);
  }
  return shown;
}

std::vector<CellRect> Grid(const std::vector<int>& shown, int width, int height) {
  const int w = std::max(1, (width - 15) / 17), h = std::max(1, (height - 20) / 18);
  std::vector<CellRect> cells;
  for (int k = 0; k < int(shown.size()); ++k) {
    cells.push_back({15 + (k % 16) * (w + 1), 20 + (k / 16) * (h + 1), w, h, shown[k]});
  }
  return cells;
}

std::vector<CellRect> Histogram(const CClassificationModel& m, const std::vector<int>& shown,
                                int width, int height, int scroll) {
  const int w = std::max(1, (width - 15) / 17);
  const int avail = std::max(1, height - kArrowHeight - 8);
  uint32_t largest = 0;
  for (const auto& e : m.Entries()) largest = std::max(largest, e.count);
  const double scale = double(avail) / std::max<double>(avail, largest);
  std::vector<CellRect> cells;
  for (int k = std::max(0, scroll); k < int(shown.size()) && int(cells.size()) < kBarsShown; ++k) {
    const int bar = std::max(12, int(m.Entries()[shown[k]].count * scale));
    const int x = 10 + int(cells.size()) * (w + 1);
    cells.push_back({x, avail - bar, w, bar, shown[k]});
  }
  return cells;
}

std::vector<CellRect> Cube(const CClassificationModel& m, const std::vector<int>& shown, int width,
                           int height) {
  const CubeFrame f = LayoutCube(width, height);
  std::vector<CellRect> cells;
  for (int p : shown) {
    const ColorEntry& e = m.Entries()[p];
    const double depth = e.Blue() / 256.0 * (f.side / 2.0) * 5 / 7;
    const int x = f.x0 + int(e.Red() * f.side / 256.0 + depth);
    const int y = f.y0 - int(e.Green() * f.side / 256.0 + depth) - kCubeCell;
    cells.push_back({x, y, kCubeCell, kCubeCell, p});
  }
  return cells;
}

}  // namespace

CubeFrame LayoutCube(int width, int height) {
  const int side = int(0.64 * std::min(width, height));
  return {side, 10, height - 10};
}

std::vector<CellRect> LayoutCells(const CClassificationModel& m, PaletteViewKind kind, int width,
                                  int height, int scroll) {
  const auto shown = ShownPositions(m);
  switch (kind) {
    case PaletteViewKind::Grid: return Grid(shown, width, height);
    case PaletteViewKind::Histogram: return Histogram(m, shown, width, height, scroll);
    case PaletteViewKind::Cube: return Cube(m, shown, width, height);
  }
  return {};
}

HistogramArrows LayoutArrows(int width, int height) {
  const int w = std::max(1, (width - 15) / 17);
  const int y = height - kArrowHeight - 4;
  return {{10, y, w, kArrowHeight, -1}, {10 + (kBarsShown - 1) * (w + 1), y, w, kArrowHeight, -2}};
}

int HitCell(const std::vector<CellRect>& cells, int x, int y) {
  for (auto it = cells.rbegin(); it != cells.rend(); ++it) {
    if (it->Contains(x, y)) return it->position;
  }
  return -1;
}

int HistogramScrollMax(int colorCount, int activeCount) {
  return colorCount > kBarsShown && activeCount > kBarsShown ? activeCount - kBarsShown : 0;
}
