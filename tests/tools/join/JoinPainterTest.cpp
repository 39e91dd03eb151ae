// The canvas's drawing in a plain pixel buffer: items at their places, the later one on
// top, the selected one blended in free placement, frames in the other modes.
#include "tools/join/JoinPainter.h"

#include <gtest/gtest.h>

#include "engine/EngineHost.h"
#include "tests/tools/join/JoinTestUtil.h"

namespace {

using namespace orb::join;
using namespace jointest;

struct Screen {
  Screen() : rgb(200 * 150 * 3, 0), canvas(rgb.data(), 200, 150, 200 * 3) {}
  const uint8_t* At(int x, int y) const { return rgb.data() + (static_cast<size_t>(y) * 200 + x) * 3; }
  std::vector<uint8_t> rgb;
  orb::ViewCanvas canvas;
};

class JoinPainterTest : public ::testing::Test {
 protected:
  // A canvas of 400 x 300 shown at half size from client (0, 0); two flat items.
  void SetUp() override {
    orb::JoinImagesRecord s;
    s.canvasWidth = 400;
    s.canvasHeight = 300;
    model_.MakeCanvas(s);
    model_.SetMode(kModeFree);
    ASSERT_TRUE(model_.AddItem(WriteTiff(dir_ / "a.tif", Picture(100, 60, 40))));
    ASSERT_TRUE(model_.AddItem(WriteTiff(dir_ / "b.tif", Picture(40, 40, 200))));
    model_.items[0].rect = orb::Rect{0, 0, 100, 60};
    model_.items[1].rect = orb::Rect{80, 40, 120, 80};
    model_.UpdateVisible();
    record_.clientRect = PixelRect{0, 0, 200, 150};
    record_.region = PixelRect{0, 0, 399, 299};
    record_.fitScale = 20000;
    for (const JoinItem& item : model_.items) {
      pictures_.emplace_back();
      ASSERT_TRUE(BuildItemPicture(item.Newest(), 20000, pictures_.back()));
    }
  }
  Folder dir_;
  JoinModel model_;
  ImageState record_;
  std::vector<ItemPicture> pictures_;
};

TEST_F(JoinPainterTest, ItemsAtHalfSizeLaterOnTopSelectedBlended) {
  EXPECT_EQ(pictures_[0].width, 50);
  EXPECT_EQ(pictures_[0].height, 30);
  Screen s;
  PaintOptions o;
  o.alpha = 128;
  model_.selected = -1;
  PaintJoinCanvas(model_, pictures_, orb::ViewContext{&record_}, o, s.canvas);
  EXPECT_EQ(s.At(10, 10)[0], 40);   // item a
  EXPECT_EQ(s.At(45, 25)[0], 200);  // b over a
  EXPECT_EQ(s.At(150, 100)[0], 255);  // the white canvas
  // Selected in free placement: half b, half what lies below (a), edges and handles blue.
  Screen t;
  model_.selected = 1;
  PaintJoinCanvas(model_, pictures_, orb::ViewContext{&record_}, o, t.canvas);
  EXPECT_EQ(t.At(45, 25)[0], (200 * 128 + 40 * 127) / 255);
  EXPECT_EQ(t.At(50, 40)[2], 255);  // the bottom edge's handle
  EXPECT_EQ(t.At(50, 40)[0], 0);
}

TEST_F(JoinPainterTest, AlignmentFramesItemsAndShowsThePoints) {
  ASSERT_TRUE(model_.SetMode(kModeAlign));
  model_.selected = -1;
  model_.points = {orb::Point{20, 20}, orb::Point{20, 40}, orb::Point{300, 200}, orb::Point{300, 250}};
  Screen s;
  PaintJoinCanvas(model_, pictures_, orb::ViewContext{&record_}, PaintOptions{}, s.canvas);
  // Opaque b; a red frame around item 1 (b), a blue one around item 0.
  EXPECT_EQ(s.At(45, 25)[0], 200);
  const uint8_t* redFrame = s.At(60, 35);  // 2 pixels right of b's drawn right edge
  EXPECT_EQ(redFrame[0], 255);
  EXPECT_EQ(redFrame[1], 0);
  // A1's marker (red) at (150, 100) on the screen.
  EXPECT_EQ(s.At(151, 101)[0], 255);
  EXPECT_EQ(s.At(151, 101)[2], 0);
  // A0's marker (blue) at (10, 10).
  EXPECT_EQ(s.At(11, 11)[2], 255);
}

}  // namespace
