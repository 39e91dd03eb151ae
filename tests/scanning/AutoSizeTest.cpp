#include "scanning/AutoSize.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// 300 grey lines: the first quarter shows the empty scanner (all `background`); from line 150
// on, columns [left, right] show the paper (`paper`).
void Feed(CAutoSize& a, int width, int left, int right, uint8_t background, uint8_t paper) {
  std::vector<uint8_t> line(width);
  for (int y = 0; y < 300; ++y) {
    for (int x = 0; x < width; ++x)
      line[x] = (y >= 150 && x >= left && x <= right) ? paper : background;
    a.AddLine(line.data());
  }
}

TEST(AutoSize, FindsAndWidensKnownEdges) {
  CAutoSize a(3599, 100);
  Feed(a, 3599, 120, 3000, 200, 50);
  a.DetectEdges();
  EXPECT_EQ(a.LeftEdge(), 120);
  EXPECT_EQ(a.RightEdge(), 3000);
  int32_t left = 0, right = 0;
  a.WidenEdges(&left, &right);
  EXPECT_EQ(left, 100);
  EXPECT_EQ(right - left, 2920);
}

TEST(AutoSize, EdgesInHundredthsAtHigherResolutionAndClampedWidening) {
  CAutoSize a(800, 200);  // 4 inches at 200 dpi
  Feed(a, 800, 300, 795, 220, 40);
  a.DetectEdges();
  EXPECT_EQ(a.LeftEdge(), 150);
  EXPECT_EQ(a.RightEdge(), 397);
  int32_t left = -2, right = -2;
  a.WidenEdges(&left, &right);
  EXPECT_EQ(left, 130);
  EXPECT_EQ(right, 399);  // (800 - 1) / 2
}

TEST(AutoSize, UniformScanHasNoEdgesAndThresholdAtLeastFive) {
  CAutoSize a(500, 100);
  Feed(a, 500, 0, -1, 180, 180);
  a.DetectEdges();
  EXPECT_EQ(a.LeftEdge(), -1);
  EXPECT_EQ(a.RightEdge(), -1);
  EXPECT_EQ(a.Threshold(), 5);
  int32_t left = 0, right = 0;
  a.WidenEdges(&left, &right);
  EXPECT_EQ(left, -1);
  EXPECT_EQ(right, -1);
}

TEST(AutoSize, PaperEndReportedOnceAfterStructure) {
  CAutoSize a(64, 100);
  a.SetThreshold(5);
  const int width = 64;
  std::vector<uint8_t> structured(width * 8), blank(width * 8, 255);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < width; ++x) structured[y * width + x] = (x / 8) % 2 ? 0 : 255;
  EXPECT_FALSE(a.DetectPaperEnd(blank.data(), width * 8, width, 3, nullptr));  // nothing seen yet
  EXPECT_FALSE(a.DetectPaperEnd(structured.data(), width * 8, width, 3, nullptr));
  EXPECT_TRUE(a.PaperSeen());
  EXPECT_FALSE(a.DetectPaperEnd(structured.data(), width * 8, width, 3, nullptr));
  EXPECT_TRUE(a.DetectPaperEnd(blank.data(), width * 8, width, 3, nullptr));
  EXPECT_FALSE(a.DetectPaperEnd(blank.data(), width * 8, width, 3, nullptr));
}

TEST(AutoSize, PaperEndOnRgbAndPaletteBlocks) {
  CAutoSize a(16, 100);
  a.SetThreshold(5);
  const int width = 16;
  std::vector<uint8_t> rgb(3 * width * 2, 255);
  for (int y = 0; y < 2; ++y)
    for (int c = 0; c < 3; ++c) rgb[(y * width + 7) * 3 + c] = 0;
  EXPECT_FALSE(a.DetectPaperEnd(rgb.data(), static_cast<int32_t>(rgb.size()), width, 0, nullptr));
  EXPECT_TRUE(a.PaperSeen());
  std::vector<uint8_t> plain(3 * width * 2, 128);
  EXPECT_TRUE(a.DetectPaperEnd(plain.data(), static_cast<int32_t>(plain.size()), width, 0, nullptr));

  // Palette indices are judged by their colours: index 1 is as light as index 0 here.
  std::vector<uint8_t> table(256 * 4, 0);
  for (int i = 0; i < 2; ++i) table[i * 4] = table[i * 4 + 1] = table[i * 4 + 2] = 250;
  std::vector<uint8_t> indices(width * 2, 0);
  indices[5] = indices[width + 5] = 1;
  CAutoSize b(16, 100);
  b.SetThreshold(5);
  EXPECT_FALSE(b.DetectPaperEnd(indices.data(), width * 2, width, 1, table.data()));
  EXPECT_FALSE(b.PaperSeen());
}

TEST(AutoSize, IgnoresLinesBeyondCapacityAndEmptyBlocks) {
  CAutoSize a(10, 100);
  std::vector<uint8_t> line(10, 1);
  for (int i = 0; i < 400; ++i) a.AddLine(line.data());
  EXPECT_EQ(a.LinesAdded(), 300);
  EXPECT_FALSE(a.DetectPaperEnd(line.data(), 0, 10, 3, nullptr));
  EXPECT_FALSE(a.DetectPaperEnd(line.data(), 5, 10, 3, nullptr));  // less than a line
}

}  // namespace
