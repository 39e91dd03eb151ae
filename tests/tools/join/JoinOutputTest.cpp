// The joined image as ImageMagick reads it back: the canvas and its items in every mode,
// the seam removal, the two-point alignment of a copy turned by ImageMagick, and what a
// join does to the files around it.
#include "tools/join/JoinOutput.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "engine/EngineHost.h"
#include "engine/ReadWrite/LineReader.h"
#include "tests/tools/join/JoinTestUtil.h"

namespace {

using namespace orb::join;
using namespace jointest;

class JoinOutputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_.path() / "work");
    orb::SetTempFilesFolder(dir_ / "work");
    CancelFlag = 0;
  }
  void TearDown() override {
    orb::SetTempFilesFolder("");
    CancelFlag = 0;
  }
  std::string Add(JoinModel& m, const Picture& p, const std::string& name) {
    const std::string path = WriteTiff(dir_.path() / name, p);
    EXPECT_TRUE(m.AddItem(path));
    return path;
  }
  JoinReport Join(JoinModel& m, const std::string& name, bool crop, bool deleteSources = false) {
    JoinOptions o;
    o.outputPath = dir_ / name;
    o.cropToItems = crop;
    o.deleteSources = deleteSources;
    return WriteJoinedImage(m, o, nullptr);
  }
  static void Place(JoinModel& m, size_t i, int32_t left, int32_t top) {
    orb::Rect& r = m.items[i].rect;
    r = orb::Rect{left, top, left + r.Width(), top + r.Height()};
  }
  size_t FilesIn(const fs::path& p) const {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(p)) n += e.is_regular_file();
    return n;
  }
  // The picture's pixels at (x, y) equal the other's at (ox, oy) over w x h.
  static bool SameBlock(const Picture& a, int32_t x, int32_t y, const Picture& b, int32_t ox, int32_t oy, int32_t w,
                        int32_t h) {
    for (int32_t j = 0; j < h; ++j) {
      if (std::memcmp(a.At(x, y + j), b.At(ox, oy + j), static_cast<size_t>(w) * 3) != 0) return false;
    }
    return true;
  }
  Folder dir_;
};

TEST_F(JoinOutputTest, DefaultCanvasIsWhiteWhereNoItemLies) {
  JoinModel m;
  m.MakeCanvas(orb::JoinImagesRecord{});
  m.SetMode(kModeFree);
  const Picture a = Noise(300, 200, 1);
  Add(m, a, "a.tif");
  const JoinReport r = Join(m, "out.tif", false);
  ASSERT_EQ(r.result, JoinResult::Written);
  EXPECT_EQ(Shell("tiffinfo '" + dir_ / "out.tif" + "' 2>&1 | grep -c 'Compression Scheme: None'"), "1\n");
  const Picture out = ReadBack(dir_ / "out.tif");
  ASSERT_EQ(out.width, 3600);
  ASSERT_EQ(out.height, 3600);
  EXPECT_TRUE(SameBlock(out, 1650, 1700, a, 0, 0, 300, 200));
  for (const orb::Point p : {orb::Point{0, 0}, {3599, 3599}, {1649, 1800}, {1950, 1800}, {1800, 1699}, {1800, 1900}}) {
    EXPECT_TRUE(out.IsWhite(p.x, p.y)) << p.x << "," << p.y;
  }
  // The items went with the join; their files stay.
  EXPECT_TRUE(m.items.empty());
  EXPECT_TRUE(fs::exists(dir_ / "a.tif"));
  EXPECT_EQ(FilesIn(dir_.path() / "work"), 0u);
}

TEST_F(JoinOutputTest, CropToItemsGivesTheBoundingBoxOfTheTrimmedItems) {
  JoinModel m;
  m.MakeCanvas(orb::JoinImagesRecord{});
  m.SetMode(kModeFree);
  const Picture a = Noise(60, 40, 2);
  const Picture b = Noise(50, 30, 3);
  Add(m, a, "a.tif");
  Add(m, b, "b.tif");
  Place(m, 0, 100, 200);
  Place(m, 1, 300, 500);
  m.items[1].trim = Trim{2, 3, 4, 5};  // top, left, bottom, right
  ASSERT_EQ(Join(m, "out.tif", true).result, JoinResult::Written);
  const Picture out = ReadBack(dir_ / "out.tif");
  // From (100, 200) to (300 + 50 - 5, 500 + 30 - 4).
  ASSERT_EQ(out.width, 245);
  ASSERT_EQ(out.height, 326);
  EXPECT_TRUE(SameBlock(out, 0, 0, a, 0, 0, 60, 40));
  EXPECT_TRUE(SameBlock(out, 203, 302, b, 3, 2, 42, 24));
  EXPECT_TRUE(out.IsWhite(100, 100));
  EXPECT_TRUE(out.IsWhite(202, 310));  // the trimmed-off left column of b
  EXPECT_TRUE(out.IsWhite(210, 301));  // its trimmed-off top line
}

TEST_F(JoinOutputTest, TheLaterOfTwoOverlappingItemsWins) {
  JoinModel m;
  m.MakeCanvas(orb::JoinImagesRecord{});
  m.SetMode(kModeFree);
  const Picture a = Noise(80, 80, 4);
  const Picture b = Noise(80, 80, 5);
  Add(m, a, "a.tif");
  Add(m, b, "b.tif");
  Place(m, 0, 0, 0);
  Place(m, 1, 40, 20);
  ASSERT_EQ(Join(m, "out.tif", true).result, JoinResult::Written);
  const Picture out = ReadBack(dir_ / "out.tif");
  ASSERT_EQ(out.width, 120);
  ASSERT_EQ(out.height, 100);
  EXPECT_TRUE(SameBlock(out, 40, 20, b, 0, 0, 80, 80));
  EXPECT_TRUE(SameBlock(out, 0, 0, a, 0, 0, 80, 20));
  EXPECT_TRUE(SameBlock(out, 0, 20, a, 0, 20, 40, 60));
}

TEST_F(JoinOutputTest, AlignmentWithinAFractionOfADegreeOnlyShifts) {
  JoinModel m;
  m.MakeCanvas(orb::JoinImagesRecord{});
  const Picture a = Noise(200, 100, 6);
  const Picture b = Noise(120, 90, 7);
  Add(m, a, "a.tif");
  Add(m, b, "b.tif");
  Place(m, 0, 0, 0);
  Place(m, 1, 1000, 1000);
  // A0-B0 is level; A1-B1 rises by 0.03 degrees (1 pixel in about 1900).
  m.points = {orb::Point{150, 20}, orb::Point{2050, 20}, orb::Point{1010, 1030}, orb::Point{2910, 1029}};
  ASSERT_LT(m.ComputeAlignAngle().angle, 0.05);
  ImageState* first = m.items[1].image;
  ASSERT_TRUE(m.RotateItems());
  EXPECT_EQ(m.items[1].Newest(), first);  // no turned record
  EXPECT_EQ(m.points[kA1], m.points[kA0]);
  EXPECT_EQ(m.items[1].rect, (orb::Rect{140, -10, 260, 80}));
}

// The doubled stretch left of the seam: the output line is the original line, 10 pixels
// shorter, white at its end. The seam may lie anywhere, even near the ends.
TEST_F(JoinOutputTest, SeamModeLeavesOutTheDoubledStretch) {
  struct Case {
    int32_t seam;     // seam column in the item
    bool shortened;   // the doubled stretch is found and left out
  };
  const Case cases[] = {{200, true}, {150, true}, {40, true}, {370, true}, {5, false}, {0, false}, {400, true}};
  const int32_t w = 400, h = 12, d = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seam);
    // The original lines are o; the scan repeats o's 10 columns before the seam after it.
    const Picture o = Noise(w, h, static_cast<uint32_t>(8 + c.seam));
    Picture scan(w, h);
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        const int32_t from = x < c.seam ? x : x - d;
        if (from >= 0) std::memcpy(scan.At(x, y), o.At(from, y), 3);
      }
    }
    JoinModel m;
    m.MakeCanvas(orb::JoinImagesRecord{});
    ASSERT_TRUE(m.SetMode(kModeSeam));
    Add(m, scan, "scan" + std::to_string(c.seam) + ".tif");
    Place(m, 0, 0, 0);
    m.points[kA0] = orb::Point{100, 3};
    m.points[kB0] = orb::Point{100 + d, 9};
    m.points[kA1] = orb::Point{c.seam, 5};
    const std::string name = "out" + std::to_string(c.seam) + ".tif";
    ASSERT_EQ(Join(m, name, true).result, JoinResult::Written);
    const Picture out = ReadBack(dir_ / name);
    ASSERT_EQ(out.width, w);
    ASSERT_EQ(out.height, h);
    if (c.shortened) {
      EXPECT_TRUE(SameBlock(out, 0, 0, o, 0, 0, w - d, h));
      for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = w - d; x < w; ++x) ASSERT_TRUE(out.IsWhite(x, y)) << x << "," << y;
      }
    } else if (c.seam == 0) {
      EXPECT_TRUE(SameBlock(out, 0, 0, scan, 0, 0, w, h));
    }
  }
}

TEST(SeamWidth, KeepsToTheStoredWidthAndStaysInsideTheLine) {
  // A flat grey line matches at every width: the search's first best is the widest.
  std::vector<uint8_t> grey(300 * 3, 128);
  struct Case {
    int32_t seam, expected, stored;
    int32_t gap, storedAfter;
  };
  const Case cases[] = {
      {150, 10, 0, 10, 10},    // first line, a narrow stretch: the expected width
      {150, 100, 0, 128, 128}, // first line, wide: what is found
      {150, 100, 120, 120, 120},  // found 128, stored 120: more than 1 off keeps 120
      {150, 10, 11, 10, 10},   // found 128 is beyond 10 + 64: the expected 10, 1 off 11
      {20, 10, 0, 10, 10},     // windows of 20 pixels
      {299, 10, 0, 10, 10},    // one pixel on the right: no search
      {-5, 10, 0, 10, 10},     // outside the line
      {305, 10, 0, 10, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seam);
    int32_t stored = c.stored;
    EXPECT_EQ(FindSeamWidth(grey.data(), 300, c.seam, c.expected, stored), c.gap);
    EXPECT_EQ(stored, c.storedAfter);
  }
  // Copies never leave either line.
  std::vector<uint8_t> out(50 * 3, 255);
  CopySeamLine(grey.data(), 0, 300, 150, 400, out.data(), -20, 50);
  CopySeamLine(grey.data(), 290, 300, 150, 10, out.data(), 45, 50);
  CopySeamLine(grey.data(), 10, 5, 150, 10, out.data(), 0, 50);
  EXPECT_EQ(out[49 * 3], 128);
}

// Item 1 is item 0 turned by ImageMagick; its two marks tell the alignment where item 0's
// lie. The join turns it back onto item 0: its marks land on item 0's within a pixel.
TEST_F(JoinOutputTest, TwoPointAlignmentRestoresATurnedCopy) {
  struct Case {
    double degrees;  // ImageMagick turns clockwise on screen for positive angles
  };
  for (const Case c : {Case{7.0}, Case{-12.5}}) {
    SCOPED_TRACE(c.degrees);
    // A smooth picture (ImageMagick blends neighbours as it turns) whose blue never
    // drops below 64, so that only the marks are pure red or green.
    Picture base(400, 300);
    for (int32_t y = 0; y < 300; ++y)
      for (int32_t x = 0; x < 400; ++x)
        base.Set(x, y, static_cast<uint8_t>(x * 255 / 400), static_cast<uint8_t>(y * 255 / 300),
                 static_cast<uint8_t>(64 + (x + 2 * y) % 160));
    auto mark = [](Picture& p, int32_t cx, int32_t cy, uint8_t r, uint8_t g, uint8_t b) {
      for (int32_t y = cy - 4; y <= cy + 4; ++y)
        for (int32_t x = cx - 4; x <= cx + 4; ++x) p.Set(x, y, r, g, b);
    };
    // Item 0 carries red marks, its copy green ones at the same places.
    Picture red = base, green = base;
    const orb::Point p1{60, 80}, p2{330, 210};
    for (const orb::Point p : {p1, p2}) {
      mark(red, p.x, p.y, 255, 0, 0);
      mark(green, p.x, p.y, 0, 255, 0);
    }
    const std::string g = WriteTiff(dir_.path() / "green.tif", green);
    const std::string turned = dir_ / "turned.tif";
    ASSERT_EQ(std::system(("convert '" + g + "' -background white -filter point -rotate " + std::to_string(c.degrees) +
                           " +repage -type TrueColor -compress none '" + turned + "'")
                              .c_str()),
              0);
    const Picture t = ReadBack(turned);
    ASSERT_GT(t.width, 400);
    // Where ImageMagick put the green marks: the centres of the green pixels each side.
    auto centre = [](const Picture& p, bool left, double& cx, double& cy) {
      double sx = 0, sy = 0, n = 0;
      for (int32_t y = 0; y < p.height; ++y)
        for (int32_t x = 0; x < p.width; ++x) {
          const uint8_t* q = p.At(x, y);
          if (q[1] > 200 && q[0] < 60 && q[2] < 60 && (x < p.width / 2) == left) sx += x, sy += y, ++n;
        }
      cx = n ? sx / n : -1, cy = n ? sy / n : -1;
    };
    double t1x, t1y, t2x, t2y;
    centre(t, true, t1x, t1y);
    centre(t, false, t2x, t2y);
    ASSERT_GT(t1x, 0);

    JoinModel m;
    orb::JoinImagesRecord settings;
    settings.canvasWidth = settings.canvasHeight = 1200;
    m.MakeCanvas(settings);
    Add(m, red, "red.tif");
    ASSERT_TRUE(m.AddItem(turned));
    Place(m, 0, 500, 500);
    Place(m, 1, 100, 100);
    m.points = {orb::Point{500 + p1.x, 500 + p1.y}, orb::Point{500 + p2.x, 500 + p2.y},
                orb::Point{100 + static_cast<int32_t>(std::lround(t1x)), 100 + static_cast<int32_t>(std::lround(t1y))},
                orb::Point{100 + static_cast<int32_t>(std::lround(t2x)), 100 + static_cast<int32_t>(std::lround(t2y))}};
    EXPECT_NEAR(m.ComputeAlignAngle().angle, std::fabs(c.degrees), 0.5);
    ASSERT_EQ(Join(m, "aligned.tif", false).result, JoinResult::Written);
    const Picture out = ReadBack(dir_ / "aligned.tif");
    ASSERT_EQ(out.width, 1200);
    // Only the part of the canvas around item 0 matters.
    Picture near(500, 400);
    for (int32_t y = 0; y < 400; ++y) std::memcpy(near.At(0, y), out.At(450, 450 + y), 500 * 3);
    double o1x, o1y, o2x, o2y;
    centre(near, true, o1x, o1y);
    centre(near, false, o2x, o2y);
    EXPECT_NEAR(o1x + 450, 500 + p1.x, 1.0);
    EXPECT_NEAR(o1y + 450, 500 + p1.y, 1.0);
    // The marks are set on whole pixels: B's rounding tilts the line by up to half a
    // pixel over the 300 between the marks, which B (not A, the anchor) carries.
    EXPECT_NEAR(o2x + 450, 500 + p2.x, 1.5);
    EXPECT_NEAR(o2y + 450, 500 + p2.y, 1.5);
    // The picture between the marks matches item 0 too, but for the blending of the turns.
    double diff = 0;
    for (int32_t y = 120; y < 180; ++y)
      for (int32_t x = 150; x < 250; ++x)
        for (int k = 0; k < 3; ++k) diff += std::abs(out.At(500 + x, 500 + y)[k] - base.At(x, y)[k]);
    EXPECT_LT(diff / (60 * 100 * 3), 6.0);
    fs::remove(dir_ / "aligned.tif");
  }
}

TEST_F(JoinOutputTest, DeleteSourcesOnlyAfterTheOutputIsWritten) {
  JoinModel m;
  m.MakeCanvas(orb::JoinImagesRecord{});
  m.SetMode(kModeFree);
  const std::string a = Add(m, Noise(30, 30, 12), "a.tif");
  const std::string b = Add(m, Noise(30, 30, 13), "b.tif");
  const std::string before = Shell("md5sum < '" + a + "'");
  // An item's own file is no output name: refused, nothing touched.
  EXPECT_EQ(Join(m, "a.tif", true, true).result, JoinResult::OutputIsItem);
  EXPECT_EQ(Shell("md5sum < '" + a + "'"), before);
  EXPECT_EQ(m.items.size(), 2u);
  // An output that cannot be written: the sources stay, no temporary is left.
  JoinOptions bad;
  bad.outputPath = dir_ / "no-such-folder/out.tif";
  bad.deleteSources = true;
  EXPECT_NE(WriteJoinedImage(m, bad, nullptr).result, JoinResult::Written);
  EXPECT_TRUE(fs::exists(a));
  EXPECT_TRUE(fs::exists(b));
  EXPECT_EQ(m.items.size(), 2u);
  // Esc during the join: no output, the sources and items stay.
  class EscAtOnce final : public IJoinProgress {
   public:
    void Step() override { CancelFlag = 1; }
  } esc;
  JoinOptions o;
  o.outputPath = dir_ / "cancelled.tif";
  o.deleteSources = true;
  EXPECT_EQ(WriteJoinedImage(m, o, &esc).result, JoinResult::Cancelled);
  EXPECT_FALSE(fs::exists(o.outputPath));
  EXPECT_TRUE(fs::exists(a));
  EXPECT_EQ(m.items.size(), 2u);
  EXPECT_EQ(FilesIn(dir_.path()), 2u);
  // A good join removes them afterwards, and keeps its output.
  CancelFlag = 0;
  ASSERT_EQ(Join(m, "out.tif", true, true).result, JoinResult::Written);
  EXPECT_FALSE(fs::exists(a));
  EXPECT_FALSE(fs::exists(b));
  EXPECT_EQ(ReadBack(dir_ / "out.tif").width, 30);
}

}  // namespace
