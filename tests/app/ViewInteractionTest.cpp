// The view's mouse logic without a window: which page a press or move goes to, the rubber
// band, drag-to-scroll, cursors, readouts, context menus, colour pick and collection.
#include "app/ViewInteraction.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/AppStatus.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/TiffHeader.h"
#include "tests/app/doc_test_util.h"
#include "tests/common/TestUtil.h"
#include "tests/common/OpenedImage.h"

namespace {

using orb::Point;
using orb::Rect;

bool Same(const PixelRect& a, const PixelRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
std::string Str(const PixelRect& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
         std::to_string(r.bottom);
}

TEST(ViewMouseBlocked, ScanningBusyAndRebuildingBlockOtherBitsDoNot) {
  const struct {
    uint32_t status;
    bool blocked;
  } cases[] = {
      {0u, false},
      {orb::Bits(orb::ScanState::Scanning), true},
      {orb::Bits(orb::ScanState::DecisionPending), false},  // a finished scan waits: the user may look
      {orb::Bits(orb::StatusBit::Opening), true},
      {orb::Bits(orb::StatusBit::ViewRefresh), true},
      {orb::Bits(orb::StatusBit::FittedDisplay), false},
      {orb::Bits(orb::StatusBit::ColourPickRequested | orb::StatusBit::ClassPreview), false},
  };
  for (const auto& c : cases) EXPECT_EQ(orb::ViewMouseBlocked(c.status), c.blocked) << std::hex << c.status;
}

// A page that answers with fixed values and counts what it was asked.
class FixedPage : public orb::IToolViewHooks {
 public:
  FixedPage(uint16_t press, uint16_t hit) : m_press(press), m_hit(hit) {}
  bool IsShowing(const orb::ViewContext&) const override { return true; }
  uint16_t HitTest(const orb::ViewContext&, Point) override { return ++hits, m_hit; }
  uint16_t OnButtonDown(const orb::ViewContext&, Point) override { return ++presses, m_press; }
  void OnDrag(const orb::ViewContext&, uint16_t, Point) override {}
  int presses = 0, hits = 0;

 private:
  uint16_t m_press, m_hit;
};

TEST(ViewPressTools, JoinFirstThenExactlyOneOfCropDeskewClassificationOrSplit) {
  ImageState s;
  orb::ViewContext view{&s};
  FixedPage join(orb::drag::JoinItem, 0), crop(orb::drag::Resize, 0), deskew(orb::drag::Move, 0),
      cc(orb::drag::Move, 0), split(orb::drag::Move, 0), nothing(0, 0);

  orb::ShowingTools t;
  t.join = &join;
  orb::ToolPress p = orb::PressTools(t, view, Point{1, 1});
  EXPECT_EQ(p.mode, orb::drag::JoinItem);
  EXPECT_EQ(p.owner, &join);

  t.crop = &crop;  // a later claim replaces the join page's
  t.deskew = &deskew;
  p = orb::PressTools(t, view, Point{1, 1});
  EXPECT_EQ(p.mode, orb::drag::Resize);
  EXPECT_EQ(p.owner, &crop);
  EXPECT_EQ(deskew.presses, 0) << "only one of crop and deskew is asked";

  // A page that claims nothing leaves the join page's drag.
  t.crop = &nothing;
  p = orb::PressTools(t, view, Point{1, 1});
  EXPECT_EQ(p.owner, &join);

  orb::ShowingTools u;
  u.colourClass = &cc;
  u.split = &split;
  p = orb::PressTools(u, view, Point{1, 1});
  EXPECT_EQ(p.owner, &split);
  EXPECT_EQ(cc.presses, 0) << "the split line in use keeps the classification page out";
  u.split = nullptr;
  p = orb::PressTools(u, view, Point{1, 1});
  EXPECT_EQ(p.owner, &cc);

  EXPECT_EQ(orb::PressTools(orb::ShowingTools{}, view, Point{1, 1}).mode, orb::drag::None);
}

TEST(ViewMoveCursor, PagesNameTheCursorInTheirOrder) {
  ImageState s;
  orb::ViewContext view{&s};
  FixedPage join(0, orb::cursor::JoinItem), crop(0, orb::cursor::SizeAll), deskew(0, 0),
      ccOver(0, orb::cursor::SizeNS), ccNothing(0, orb::cursor::View), split(0, orb::cursor::SizeWE);
  orb::ShowingTools none;
  EXPECT_EQ(orb::MoveCursor(none, view, Point{}, false), orb::cursor::View);
  EXPECT_EQ(orb::MoveCursor(none, view, Point{}, true), orb::cursor::DragScroll);

  orb::ShowingTools t;
  t.join = &join;
  t.deskew = &deskew;  // deskew is asked before crop on a move, and names nothing here
  t.crop = &crop;
  EXPECT_EQ(orb::MoveCursor(t, view, Point{}, false), orb::cursor::JoinItem);
  EXPECT_EQ(crop.hits, 0);

  orb::ShowingTools c;
  c.colourClass = &ccNothing;  // "over nothing" does not take drag-to-scroll's cursor away
  EXPECT_EQ(orb::MoveCursor(c, view, Point{}, true), orb::cursor::DragScroll);
  c.colourClass = &ccOver;
  EXPECT_EQ(orb::MoveCursor(c, view, Point{}, true), orb::cursor::SizeNS);
  c.split = &split;
  EXPECT_EQ(orb::MoveCursor(c, view, Point{}, false), orb::cursor::SizeWE);
}

// A view whose picture starts at client (cl, ct), showing the region from (rl, rt) at `zoom`.
ImageState Shown(int32_t rl, int32_t rt, int32_t cl, int32_t ct, int32_t zoom) {
  ImageState s;
  s.width = 5000;
  s.height = 4000;
  s.region = PixelRect{rl, rt, rl + 1000, rt + 800};
  s.clientRect = PixelRect{cl, ct, cl + 400, ct + 320};
  s.fitScale = zoom;
  return s;
}

TEST(ViewRubberBand, BandsMapToImageRectanglesAtEveryZoomAndScroll) {
  const struct {
    ImageState shown;
    Rect band;
    PixelRect image;
    orb::BandResult result;
  } cases[] = {
      // Reduced 2.5 times, scrolled to (100, 200), picture from (10, 20).
      {Shown(100, 200, 10, 20, 25000), {10, 20, 50, 60}, {100, 200, 200, 300}, orb::BandResult::ZoomToRect},
      // One to one at the origin.
      {Shown(0, 0, 0, 0, 10000), {5, 6, 15, 26}, {5, 6, 15, 26}, orb::BandResult::ZoomToRect},
      // Enlarged twice: a band 1 pixel high is no image pixel high, so nothing happens.
      {Shown(40, 30, 4, 0, 5000), {4, 0, 24, 1}, {40, 30, 50, 30}, orb::BandResult::Nothing},
      // A click without movement.
      {Shown(40, 30, 4, 0, 5000), {8, 8, 8, 8}, {42, 34, 42, 34}, orb::BandResult::Click},
      // Reduced 3.3333 times, scrolled far: truncation of each corner.
      {Shown(3000, 2000, 0, 7, 33333), {3, 10, 9, 16}, {3009, 2009, 3029, 2029}, orb::BandResult::ZoomToRect},
  };
  for (const auto& c : cases) {
    ImageState s = c.shown;
    orb::ViewContext view{&s};
    const PixelRect r = orb::BandToImageRect(c.band, view);
    EXPECT_TRUE(Same(r, c.image)) << Str(r);
    EXPECT_EQ(orb::ClassifyBand(r), c.result) << Str(r);
  }
}

TEST(ViewRubberBand, CornersAreNormalisedAndPressesClampedIntoThePicture) {
  EXPECT_EQ(orb::NormalisedRect(Point{50, 10}, Point{20, 40}), (Rect{20, 10, 50, 40}));
  const Rect picture{10, 20, 410, 320};
  EXPECT_EQ(orb::ClampIntoRect(Point{0, 500}, picture), (Point{10, 319}));
  EXPECT_EQ(orb::ClampIntoRect(Point{200, 100}, picture), (Point{200, 100}));
  EXPECT_EQ(orb::ClampIntoRect(Point{900, -4}, picture), (Point{409, 20}));
  EXPECT_EQ(orb::ClampIntoRect(Point{7, 7}, Rect{}), (Point{7, 7}));  // nothing drawn yet
}

TEST(ViewDragToScroll, ShiftsAreWholeImagePixelsAndTheRegionStaysInside) {
  EXPECT_EQ(orb::ScrollShift(Point{100, 100}, Point{90, 110}, 25000), (Point{25, -25}));
  EXPECT_EQ(orb::ScrollShift(Point{100, 100}, Point{90, 110}, 33333), (Point{33, -33}));
  EXPECT_EQ(orb::ScrollShift(Point{100, 100}, Point{99, 101}, 5000), (Point{0, 0}));  // half a pixel
  const struct {
    PixelRect region;
    Point shift;
    PixelRect moved;
  } cases[] = {
      {{100, 100, 300, 200}, {50, -30}, {150, 70, 350, 170}},
      {{100, 100, 300, 200}, {-500, 0}, {0, 100, 200, 200}},    // stops at the left edge, same size
      {{100, 100, 300, 200}, {0, 400}, {100, 400, 300, 500}},   // and at the bottom
      {{0, 0, 1200, 500}, {30, 0}, {0, 0, 1200, 500}},          // wider than the image: stays at 0
  };
  for (const auto& c : cases) {
    const PixelRect r = orb::ShiftRegion(c.region, c.shift, 1000, 500);
    EXPECT_TRUE(Same(r, c.moved)) << Str(r);
  }
}

TEST(ViewCursor, ControlRequestsComeBeforeTheProgramsAndSystemsCursors) {
  using Kind = orb::CursorChoice::Kind;
  const uint32_t pick = orb::Bits(orb::StatusBit::ColourPickRequested);
  const uint32_t merge = orb::Bits(orb::StatusBit::AreaMergeRequested);
  const struct {
    uint32_t status;
    uint16_t id;
    Kind kind;
  } cases[] = {
      {pick, 301, Kind::ControlPick},      {pick | merge, 300, Kind::ControlPick},
      {merge, 301, Kind::Program},         {merge, 309, Kind::Program},
      {merge, 300, Kind::ControlMerge},    {merge, 32646, Kind::ControlMerge},
      {0, 300, Kind::Program},             {0, 309, Kind::Program},
      {0, 32644, Kind::System},            {0, 299, Kind::System},
  };
  for (const auto& c : cases) {
    const orb::CursorChoice got = orb::ChooseCursor(c.status, c.id);
    EXPECT_EQ(got.kind, c.kind) << std::hex << c.status << " " << std::dec << c.id;
    EXPECT_EQ(got.id, c.id);
  }
}

TEST(ViewReadout, LabelsLoseTrailingBlanksAndCarryTheValues) {
  EXPECT_EQ(orb::PixelReadout("RGB       ", ColourBytes{1, 22, 255}), "RGB (1,22,255)");
  EXPECT_EQ(orb::PositionReadout("Position \t ", Point{5, -1}), "Position (x=5, y=-1)");
  EXPECT_EQ(orb::PositionReadout("", Point{23622, 40000}), " (x=23622, y=40000)");
}

TEST(ViewRightButton, MenusBandOrZoomOutInTheirOrder) {
  using Kind = orb::RightRelease::Kind;
  const struct {
    orb::RightReleaseInput in;
    Kind kind;
    int menu;
  } cases[] = {
      {{true, 302, 1, false, false, 0}, Kind::Menu, 140},
      {{true, 302, 2, false, false, 0}, Kind::Menu, 142},
      {{true, 302, 3, false, false, 0}, Kind::Menu, 138},
      {{true, 301, 1, true, false, 0}, Kind::Menu, 141},
      {{true, 301, 2, false, false, 0}, Kind::Menu, 143},
      {{true, 301, 0, false, false, 0}, Kind::Menu, 137},
      {{false, 301, 1, false, false, 0}, Kind::ZoomOut, 0},           // not a join canvas
      {{false, 32646, 1, true, false, 0}, Kind::Menu, 135},
      {{false, 32646, 1, true, true, 0}, Kind::Menu, 136},
      {{false, 300, 1, true, false, 0}, Kind::ZoomOut, 0},            // over no area
      {{false, 309, 1, true, false, 2}, Kind::DespeckleBand, 0},
      {{false, 300, 1, false, false, 2}, Kind::DespeckleBand, 0},
      {{false, 300, 1, false, false, 0}, Kind::ZoomOut, 0},
  };
  for (const auto& c : cases) {
    const orb::RightRelease r = orb::RightButtonRelease(c.in);
    EXPECT_EQ(r.kind, c.kind) << c.in.cursorId << " mode " << c.in.joinMode;
    EXPECT_EQ(r.menu, c.menu) << c.in.cursorId << " mode " << c.in.joinMode;
  }
}

TEST(ViewRightButton, DespeckleBandSetsTheLargerSide) {
  EXPECT_EQ(orb::SpeckSizeOfBand(PixelRect{10, 10, 15, 22}), 12);  // 5 x 12
  EXPECT_EQ(orb::SpeckSizeOfBand(PixelRect{10, 10, 40, 22}), 30);
  EXPECT_EQ(orb::SpeckSizeOfBand(PixelRect{10, 10, 10, 22}), std::nullopt);
  EXPECT_EQ(orb::SpeckSizeOfBand(PixelRect{10, 10, 15, 10}), std::nullopt);
}

// The 5-6-5 cell as the palette builder indexes its table: (R >> 3) x 2048 + (G >> 2) x 32
// + (B >> 3).
size_t ReferenceCell(int r, int g, int b) { return static_cast<size_t>((r >> 3) * 2048 + (g >> 2) * 32 + (b >> 3)); }

TEST(ViewColourPick, CellsAreTheColoursFiveSixFiveIndex) {
  for (int r : {0, 7, 8, 200, 255}) {
    for (int g : {0, 3, 4, 129, 255}) {
      for (int b : {0, 7, 8, 77, 255}) {
        EXPECT_EQ(orb::ColourCell(ColourBytes{static_cast<uint8_t>(r), static_cast<uint8_t>(g),
                                              static_cast<uint8_t>(b)}),
                  ReferenceCell(r, g, b));
      }
    }
  }
}

class ViewColourFile : public ::testing::Test {
 protected:
  // A 16 x 8 colour image whose red is 16 x column and green 30 x row, with a table that
  // classes a colour by its red's top five bits.
  ImageState* Colour(bool withTable = true) {
    const std::string path = (dir.path() / "c.tif").string();
    EXPECT_TRUE(doctest::WritePattern(path, OF_TIFF, {16, 8, 24, false, [](int32_t x, int32_t y, int c) {
                                        return static_cast<uint8_t>(c == 0 ? x * 16 : c == 1 ? y * 30 : 9);
                                      }}));
    return Describe(path, withTable);
  }
  ImageState* Describe(const std::string& path, bool withTable) {
    ImageState* s = orbtest::OpenedImage(path);
    if (withTable) {
      s->lookupTable = std::shared_ptr<uint8_t[]>(new uint8_t[kLookupTableSize]);
      for (size_t cell = 0; cell < kLookupTableSize; ++cell) s->lookupTable[cell] = static_cast<uint8_t>(cell >> 11);
    }
    images.push_back(s);
    return s;
  }
  void TearDown() override {
    for (ImageState* s : images) orb::FreeImageChain(s);
  }
  orbtest::TempDir dir;
  std::vector<ImageState*> images;
};

TEST_F(ViewColourFile, PickTakesTheClassOfTheImagePixelUnderThePoint) {
  ImageState* s = Colour();
  EXPECT_EQ(orb::PickColourClass(s, Point{5, 3}), 10);   // red 80 -> 80 >> 3
  EXPECT_EQ(orb::PickColourClass(s, Point{15, 7}), 30);  // red 240
  EXPECT_EQ(orb::PickColourClass(s, Point{16, 0}), std::nullopt);  // right of the image
  EXPECT_EQ(orb::PickColourClass(s, Point{0, -1}), std::nullopt);
  EXPECT_EQ(orb::PickColourClass(nullptr, Point{0, 0}), std::nullopt);
  ImageState* bare = Colour(false);
  EXPECT_EQ(orb::PickColourClass(bare, Point{5, 3}), std::nullopt) << "no table: nothing picked";
}

TEST_F(ViewColourFile, CollectionFlagsExactlyTheClassesOfTheArea) {
  ImageState* s = Colour();
  int pumped = 0;
  auto flags = orb::CollectColourClasses(s, Rect{2, 1, 6, 4}, [&] { return ++pumped, true; });
  ASSERT_TRUE(flags.has_value());
  EXPECT_EQ(pumped, 3) << "once a line";
  std::array<uint32_t, 256> expect{};
  for (int x = 2; x < 6; ++x) expect[static_cast<size_t>(x * 16) >> 3] = 1;  // red 32..80
  EXPECT_EQ(*flags, expect);

  // An area reaching past the image is clipped to it.
  flags = orb::CollectColourClasses(s, Rect{14, 6, 40, 90}, nullptr);
  ASSERT_TRUE(flags.has_value());
  std::array<uint32_t, 256> edge{};
  edge[28] = edge[30] = 1;
  EXPECT_EQ(*flags, edge);
}

TEST_F(ViewColourFile, EscOrNoTableCollectsNothing) {
  ImageState* s = Colour();
  int pumped = 0;
  EXPECT_EQ(orb::CollectColourClasses(s, Rect{0, 0, 16, 8}, [&] { return ++pumped < 3; }), std::nullopt);
  EXPECT_EQ(pumped, 3) << "stops at the line where Esc came";
  ImageState* bare = Colour(false);
  EXPECT_EQ(orb::CollectColourClasses(bare, Rect{0, 0, 16, 8}, nullptr), std::nullopt);
}

TEST_F(ViewColourFile, IndexedAndBlackAndWhiteImagesPickThroughTheirColours) {
  const std::string grey = (dir.path() / "g.tif").string();
  ASSERT_TRUE(doctest::WritePattern(grey, OF_TIFF, {8, 2, 8, false, [](int32_t x, int32_t, int) {
                                      return static_cast<uint8_t>(x * 32);
                                    }}));
  ImageState* g = Describe(grey, true);
  EXPECT_EQ(orb::PickColourClass(g, Point{3, 1}), 96 >> 3);  // grey 96 through the grey ramp

  const std::string bw = (dir.path() / "b.tif").string();
  ASSERT_TRUE(doctest::WritePattern(bw, OF_TIFF, {16, 2, 1, false, [](int32_t x, int32_t, int) {
                                      return static_cast<uint8_t>(x < 8 ? 0 : 1);
                                    }}));
  ImageState* b = Describe(bw, true);
  EXPECT_EQ(orb::PickColourClass(b, Point{2, 0}), 0);    // black
  EXPECT_EQ(orb::PickColourClass(b, Point{12, 1}), 31);  // white: red 255 >> 3
}

}  // namespace
