// Where the colour cells of the classification dialog's three views lie in the view
// frame, in frame pixels, and which cell a point falls on.
#pragma once

#include <vector>

class CClassificationModel;

enum class PaletteViewKind { Grid = 0, Histogram = 1, Cube = 2 };

struct CellRect {
  int x, y, w, h;
  int position;  // list position of the entry shown
  bool Contains(int px, int py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

struct HistogramArrows {
  CellRect left, right;  // position -1 (left) and -2 (right)
};

inline constexpr int kBarsShown = 16;
inline constexpr int kArrowHeight = 16;
inline constexpr int kCubeCell = 12;

// Cells in drawing order (a later cell covers an earlier one).
std::vector<CellRect> LayoutCells(const CClassificationModel& m, PaletteViewKind kind, int width,
                                  int height, int scroll);
HistogramArrows LayoutArrows(int width, int height);
// The last cell drawn under the point, or -1.
int HitCell(const std::vector<CellRect>& cells, int x, int y);
// Side of the cube and its front bottom-left corner.
struct CubeFrame {
  int side, x0, y0;
};
CubeFrame LayoutCube(int width, int height);
// The histogram scroll range: 0..max, 0 (no scrolling) unless both counts exceed 16.
int HistogramScrollMax(int colorCount, int activeCount);
