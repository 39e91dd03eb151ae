// Sorting, merging, splitting, undo and colour edits of the classification list.
#include "color_control/ClassificationModel.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "color_control/ColorValues.h"
#include "color_control/MedianCutQuantizer.h"

namespace {

struct Reported {
  int calls = 0;
  std::vector<uint8_t> pal, lut;
  uint32_t n = 0;
};

// A classification of `rgb.size()` colours with the given pixel counts; cell c of the base
// table holds c % n.
struct Fixture {
  CClassificationModel m;
  Reported last;
  explicit Fixture(const std::vector<uint32_t>& rgb, const std::vector<uint32_t>& counts,
                   SortKey key = SortKey::Index) {
    const int n = int(rgb.size());
    auto& t = m.Tables();
    for (int i = 0; i < n; ++i) {
      t.palette[3 * i] = uint8_t(rgb[i] >> 16);
      t.palette[3 * i + 1] = uint8_t(rgb[i] >> 8);
      t.palette[3 * i + 2] = uint8_t(rgb[i]);
      t.counts[i] = counts[i];
    }
    for (int c = 0; c < 65536; ++c) t.baseLut[c] = uint8_t(c % n);
    t.lut = t.baseLut;
    t.colorCount = t.requestedCount = t.activeCount = n;
    m.SetPaletteSink([this](const uint8_t* p, uint32_t k, const uint8_t* l) {
      ++last.calls;
      last.pal.assign(p, p + 768);
      last.lut.assign(l, l + 65536);
      last.n = k;
    });
    m.ResetList();
    m.MarkUnusedFrom(n);
    m.FillFromPalette();
    m.SetSortKey(key);
    m.SortAndRebuild();
  }
  // List position of the colour classified as `index`.
  int Pos(int index) const { return m.PositionOfCell(ColorEntry::kFirstCellId + index); }
  const ColorEntry& E(int index) const { return m.Entries()[Pos(index)]; }
  int RepIndex(int index) const {
    const auto& e = E(index);
    return e.StandsAlone() ? index : e.mergedInto - ColorEntry::kFirstCellId;
  }
  void Merge(int from, int into) {
    std::vector<uint8_t> flags(256, 0);
    flags[Pos(from)] = 1;
    m.MergeFlagged(flags, Pos(into));
  }
};

const std::vector<uint32_t> kFive = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x808080};
const std::vector<uint32_t> kCounts = {10, 20, 30, 40, 50};

struct Step {
  char op;            // 'm' merge a into b, 'u' unmerge a, 'z' undo
  int a, b;
  int active;
  std::map<int, int> rep;        // index -> representing index
  std::map<int, uint32_t> count;  // index -> count
};

TEST(ClassificationModel, MergeUnmergeUndoSequences) {
  const std::vector<std::vector<Step>> runs = {
      {{'m', 1, 0, 4, {{1, 0}}, {{0, 30}, {1, 20}}},
       // A merged further carries its own merges along: B is re-pointed to C.
       {'m', 0, 2, 3, {{0, 2}, {1, 2}}, {{2, 60}, {0, 10}, {1, 20}}},
       {'u', 1, 0, 4, {{1, 1}, {0, 2}}, {{2, 40}, {1, 20}}},
       // Unmerging records nothing: the undo goes back before the second merge.
       {'z', 0, 0, 4, {{1, 0}, {0, 0}, {2, 2}}, {{0, 30}, {2, 30}}},
       {'z', 0, 0, 5, {{0, 0}, {1, 1}}, {{0, 10}, {1, 20}}}},
      {{'m', 3, 4, 4, {{3, 4}}, {{4, 90}}},
       {'m', 2, 4, 3, {{2, 4}, {3, 4}}, {{4, 120}}},
       {'u', 3, 0, 4, {{3, 3}, {2, 4}}, {{4, 80}, {3, 40}}},
       {'u', 2, 0, 5, {{2, 2}}, {{4, 50}, {2, 30}}}},
  };
  for (size_t r = 0; r < runs.size(); ++r) {
    Fixture f(kFive, kCounts);
    for (size_t s = 0; s < runs[r].size(); ++s) {
      const Step& st = runs[r][s];
      if (st.op == 'm') f.Merge(st.a, st.b);
      if (st.op == 'u') f.m.Unmerge({ColorEntry::kFirstCellId + st.a});
      if (st.op == 'z') f.m.Undo();
      SCOPED_TRACE(testing::Message() << "run " << r << " step " << s);
      EXPECT_EQ(f.m.Tables().activeCount, st.active);
      EXPECT_EQ(f.last.n, uint32_t(st.active));
      for (auto [i, rep] : st.rep) EXPECT_EQ(f.RepIndex(i), rep) << "index " << i;
      for (auto [i, c] : st.count) EXPECT_EQ(f.E(i).count, c) << "index " << i;
    }
  }
}

TEST(ClassificationModel, MergedPixelsMapToTheTargetsNewIndex) {
  Fixture f(kFive, kCounts);
  f.Merge(1, 3);
  ASSERT_EQ(f.last.n, 4u);
  // Palette in list order, one entry shorter; every cell follows its colour.
  for (int i = 0; i < 5; ++i) {
    const int shown = f.Pos(f.RepIndex(i));
    ASSERT_LT(shown, 4);
    const uint32_t rgb = kFive[f.RepIndex(i)];
    EXPECT_EQ(f.last.pal[3 * shown], uint8_t(rgb >> 16));
    EXPECT_EQ(f.last.pal[3 * shown + 1], uint8_t(rgb >> 8));
    EXPECT_EQ(f.last.pal[3 * shown + 2], uint8_t(rgb));
    EXPECT_EQ(f.last.lut[i], shown) << i;        // cell i holds base index i
    EXPECT_EQ(f.last.lut[5 + i], shown) << i;
  }
  EXPECT_EQ(f.last.lut[1], f.last.lut[3]);
}

TEST(ClassificationModel, MergingOntoAFlaggedCellIsRefused) {
  Fixture f(kFive, kCounts);
  f.m.Entries()[f.Pos(2)].flagged = 1;
  std::vector<uint8_t> flags(256, 0);
  flags[f.Pos(1)] = flags[f.Pos(2)] = 1;
  const int calls = f.last.calls;
  EXPECT_FALSE(f.m.MergeFlagged(flags, f.Pos(2)));
  EXPECT_EQ(f.m.Tables().activeCount, 5);
  EXPECT_FALSE(f.m.CanUndo());
  EXPECT_EQ(f.last.calls, calls);
}

TEST(ClassificationModel, AreaMergeTakesPaletteIndicesFlaggedOne) {
  Fixture f(kFive, kCounts);
  f.m.SelectCurrent(f.Pos(0));
  std::vector<uint32_t> flags(256, 0);
  flags[f.Pos(0)] = 1;  // the current colour itself is skipped
  flags[f.Pos(2)] = 1;
  flags[f.Pos(4)] = 2;  // only 1 means flagged
  EXPECT_TRUE(f.m.MergeAreaIntoCurrent(flags.data()));
  EXPECT_EQ(f.RepIndex(2), 0);
  EXPECT_EQ(f.RepIndex(4), 4);
  EXPECT_EQ(f.m.Tables().activeCount, 4);
  EXPECT_EQ(f.E(0).count, 40u);
}

TEST(ClassificationModel, ReclassifyAfterMergeUndoesToTheMergedState) {
  CMedianCutQuantizer q(24);
  std::vector<uint8_t> px;
  for (int i = 0; i < 5; ++i) {
    for (int k = 0; k < 10; ++k) px.insert(px.end(), {uint8_t(i * 50), uint8_t(200 - i * 40), uint8_t(i * 60)});
  }
  q.AddPixels(px.data(), 50, 1);
  Fixture f(kFive, kCounts);
  f.Merge(1, 0);
  ASSERT_TRUE(f.m.Reclassify(q, 4));
  EXPECT_EQ(f.m.Tables().colorCount, 4);
  EXPECT_EQ(f.m.Tables().activeCount, 4);
  EXPECT_EQ(f.m.Tables().requestedCount, 4);
  EXPECT_EQ(f.last.n, 4u);
  f.m.Undo();
  EXPECT_EQ(f.m.Tables().requestedCount, 5);
  EXPECT_EQ(f.m.Tables().colorCount, 5);
  EXPECT_EQ(f.m.Tables().activeCount, 4);
  EXPECT_EQ(f.RepIndex(1), 0);
  EXPECT_EQ(f.E(0).count, 30u);
  EXPECT_TRUE(f.m.CanUndo());  // the merge is still there to undo
}

TEST(ClassificationModel, OneDragOfAColourSliderIsOneUndoStep) {
  Fixture f(kFive, kCounts);
  f.m.SelectCurrent(f.Pos(2));
  f.m.EditCurrentComponent(0, 10, true);
  f.m.EditCurrentComponent(0, 20, false);
  f.m.EditCurrentComponent(1, 30, false);
  EXPECT_EQ(f.m.UndoDepth(), 1u);
  EXPECT_EQ(f.E(2).color, 0x141EFFu);
  EXPECT_EQ(f.last.pal[3 * f.Pos(2)], 20);
  f.m.Undo();
  EXPECT_EQ(f.E(2).color, 0x0000FFu);
  EXPECT_EQ(f.last.pal[3 * f.Pos(2) + 2], 255);
  EXPECT_EQ(f.last.pal[3 * f.Pos(2)], 0);
  EXPECT_FALSE(f.m.CanUndo());
}

TEST(ClassificationModel, ReplacementColourTakesTheCurrentEntryOnly) {
  Fixture f(kFive, kCounts);
  f.m.SelectCurrent(f.Pos(1));
  f.m.SetReplacement(true, 0x0000FF);  // COLORREF red
  const int p1 = f.Pos(1);
  EXPECT_EQ((std::vector<int>{f.last.pal[3 * p1], f.last.pal[3 * p1 + 1], f.last.pal[3 * p1 + 2]}),
            (std::vector<int>{255, 0, 0}));
  f.m.SelectCurrent(f.Pos(2));  // the old entry gets its own colour back
  EXPECT_EQ(f.last.pal[3 * p1 + 1], 255);
  EXPECT_EQ(f.last.pal[3 * f.Pos(2)], 255);
  f.m.SetReplacement(false, 0x0000FF);
  EXPECT_EQ(f.last.pal[3 * f.Pos(2)], 0);
}

TEST(ClassificationModel, SortKeysOrderTheActiveEntriesWithTiesByIndex) {
  // red, green, blue, yellow, grey, dark red; counts with a tie.
  const std::vector<uint32_t> rgb = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x808080, 0x800000};
  const std::vector<uint32_t> counts = {5, 9, 5, 1, 7, 9};
  struct Case { SortKey key; std::vector<int> order; };
  const Case cases[] = {
      {SortKey::Index, {0, 1, 2, 3, 4, 5}},
      {SortKey::Count, {1, 5, 4, 0, 2, 3}},
      // grey has hue 0; pure reds (hue 1.0) come last; yellow 1/6, green 1/3, blue 2/3
      {SortKey::Hue, {4, 3, 1, 2, 0, 5}},
      {SortKey::Lightness, {4, 0, 1, 2, 3, 5}},  // grey 0.502 over the pure colours' 0.5
      {SortKey::Saturation, {0, 1, 2, 3, 5, 4}},
  };
  for (const auto& c : cases) {
    Fixture f(rgb, counts, c.key);
    std::vector<int> got;
    for (int p = 0; p < 6; ++p) got.push_back(f.m.Entries()[p].classifiedIndex);
    EXPECT_EQ(got, c.order) << int(c.key);
  }
}

TEST(ClassificationModel, HueBandsSortBySaturationAndPureRedsStayLast) {
  // Hues 0.927 (saturation 0.5) and 0.950 (saturation 1) share the last band; two pure
  // reds (hue 1.0) belong to none. With the reds merged away the band reaches the end of
  // the sorted part.
  const std::vector<uint32_t> rgb = {0xFF0000, 0xC04078, 0xFF004D, 0x800000};
  const std::vector<uint32_t> counts = {1, 1, 1, 1};
  Fixture f(rgb, counts, SortKey::Hue);
  ASSERT_GT(f.E(1).hue, 0.91723);
  ASSERT_LT(f.E(1).hue, f.E(2).hue);
  std::vector<int> got;
  for (int p = 0; p < 4; ++p) got.push_back(f.m.Entries()[p].classifiedIndex);
  EXPECT_EQ(got, (std::vector<int>{2, 1, 0, 3}));  // saturation 1.0 before 0.5, reds after
  f.Merge(0, 3);
  f.Merge(3, 2);
  EXPECT_EQ(f.m.Tables().activeCount, 2);
  EXPECT_EQ(f.m.Entries()[0].classifiedIndex, 2);
  EXPECT_EQ(f.m.Entries()[1].classifiedIndex, 1);
}

TEST(ColorValues, HueSaturationLightness) {
  struct Case { uint8_t r, g, b; double h, s, l; };
  const Case cases[] = {
      {255, 0, 0, 1.0, 1.0, 0.5},         {0, 255, 0, 1.0 / 3, 1.0, 0.5},
      {0, 0, 255, 2.0 / 3, 1.0, 0.5},     {255, 255, 0, 1.0 / 6, 1.0, 0.5},
      {128, 128, 128, 0.0, 0.0, 128 / 255.0},  {0, 0, 0, 0, 0, 0},
      {255, 255, 128, 1.0 / 6, 1.0, (1 + 128 / 255.0) / 2},
      {128, 0, 0, 1.0, 1.0, 64 / 255.0},  {255, 0, 128, (5 + (1 - 128 / 255.0)) / 6, 1.0, 0.5},
      {0, 255, 255, 0.5, 1.0, 0.5},       {255, 0, 255, 5.0 / 6, 1.0, 0.5},
  };
  for (const auto& c : cases) {
    const ColorValues v = ComputeColorValues(c.r, c.g, c.b);
    EXPECT_NEAR(v.hue, c.h, 1e-9) << int(c.r) << "," << int(c.g) << "," << int(c.b);
    EXPECT_NEAR(v.saturation, c.s, 1e-9);
    EXPECT_NEAR(v.lightness, c.l, 1e-9);
  }
}

TEST(ClassificationModel, SortValueTextFollowsTheKey) {
  Fixture f(kFive, kCounts, SortKey::Hue);
  EXPECT_EQ(f.m.SortValueText(f.Pos(3)), "60.0");
  f.m.SetSortKey(SortKey::Count);
  EXPECT_EQ(f.m.SortValueText(f.Pos(3)), "40");
  f.m.SetSortKey(SortKey::Index);
  EXPECT_EQ(f.m.SortValueText(f.Pos(3)), "3");
  f.m.SetSortKey(SortKey::Lightness);
  EXPECT_EQ(f.m.SortValueText(f.Pos(4)), "50.2");
}

}  // namespace
