// The page names beside the split line: a long path fitted to its band with "...", where
// each name stands beside a vertical or over and under a horizontal line, and the overlay
// writing them through the view's text writer (not while the line is dragged).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/Settings.h"
#include "tools/transform/Split.h"

namespace {

using namespace orb::tools;
using orb::Point;
using orb::Rect;

// A font of 6 pixels a character (UTF-8 sequences count once) and lines 10 pixels high.
int32_t Width6(const std::string& text) {
  int32_t chars = 0;
  for (unsigned char c : text) chars += (c & 0xC0) != 0x80;
  return 6 * chars;
}

TEST(SplitNames, PathsFitTheirBandWithDots) {
  struct Case {
    const char* path;
    int32_t width;
    const char* shown;
  } cases[] = {
      {"/scans/Scan-Page1.tif", 126, "/scans/Scan-Page1.tif"},  // 21 characters: fits exactly
      {"/scans/Scan-Page1.tif", 120, "/s.../Scan-Page1.tif"},   // the folder's end goes first
      {"/scans/Scan-Page1.tif", 108, ".../Scan-Page1.tif"},     // the whole folder gone
      {"/scans/Scan-Page1.tif", 100, "...can-Page1.tif"},       // then the name's start
      {"/scans/Scan-Page1.tif", 18, "..."},
      {"/scans/Scan-Page1.tif", 17, ""},                        // not even the dots
      {"/données/été.tif", 96, "/données/été.tif"},
      {"/données/été.tif", 90, "/don.../été.tif"},
      {"/x/été.tif", 54, "...té.tif"},                          // never half a character
      {"Scan.tif", 30, "...if"},                                // a name without a folder
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " in " + std::to_string(c.width));
    const std::string shown = FitPathToWidth(c.path, c.width, Width6);
    EXPECT_EQ(shown, c.shown);
    EXPECT_LE(Width6(shown), c.width);
  }
}

TEST(SplitNames, WhereTheNamesStand) {
  const Rect picture{10, 20, 410, 320};
  const std::string p1 = "/s/Scan-Page1.tif", p2 = "/s/Scan-Page2.tif";  // 17 characters, 102 pixels
  struct Case {
    const char* what;
    int orientation;
    int32_t lineAt;
    Rect band1, band2;
    Point at1, at2;
    const char* text1;
    const char* text2;
  } cases[] = {
      // Vertical: page 1 ends 10 pixels left of the line, page 2 starts 10 pixels right of
      // it, both at the picture's top.
      {"vertical", kSplitVertical, 200, {10, 20, 190, 320}, {210, 20, 410, 320}, {88, 20}, {210, 20},
       "/s/Scan-Page1.tif", "/s/Scan-Page2.tif"},
      // Near the left edge page 1 has 40 pixels: six characters.
      {"vertical near the edge", kSplitVertical, 60, {10, 20, 50, 320}, {70, 20, 410, 320}, {14, 20}, {70, 20},
       "...tif", "/s/Scan-Page2.tif"},
      // Horizontal: centred; page 1 sits 5 pixels above the line, page 2 starts 5 below it.
      {"horizontal", kSplitHorizontal, 170, {10, 20, 410, 165}, {10, 175, 410, 320}, {159, 155}, {159, 175},
       "/s/Scan-Page1.tif", "/s/Scan-Page2.tif"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto labels = SplitNameLabels(picture, c.lineAt, c.orientation, p1, p2, Width6, 10);
    EXPECT_EQ(labels[0].band, c.band1);
    EXPECT_EQ(labels[1].band, c.band2);
    EXPECT_EQ(labels[0].at, c.at1);
    EXPECT_EQ(labels[1].at, c.at2);
    EXPECT_EQ(labels[0].text, c.text1);
    EXPECT_EQ(labels[1].text, c.text2);
  }
  // A line at the picture's right edge leaves page 2 no room: no name.
  const auto edge = SplitNameLabels(picture, 405, kSplitVertical, p1, p2, Width6, 10);
  EXPECT_EQ(edge[0].text, p1);
  EXPECT_EQ(edge[1].text, "");
}

// Keeps what the overlay writes, and marks each text's top left in the picture.
class KeptTexts : public orb::ViewTextWriter {
 public:
  int32_t TextWidth(const std::string& text) override { return Width6(text); }
  int32_t LineHeight() override { return 10; }
  void InvertText(orb::ViewCanvas& canvas, Point at, const std::string& text, const Rect& clip) override {
    texts.push_back(text);
    ats.push_back(at);
    clips.push_back(clip);
    canvas.InvertPixel(at.x, at.y);
  }
  std::vector<std::string> texts;
  std::vector<Point> ats;
  std::vector<Rect> clips;
};

class SplitOverlay : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = ScanSettings;
    ScanSettings = orb::ScanSettingsRecord{};
    ScanSettings.NameSeparator[0] = '-';
    ScanSettings.PaperEndDetection = 1;
    // The scanned file is the document's; the view shows a later version of it.
    file_.sourcePath = "/scans/Scan.tif";
    file_.state = VS_NORMAL;
    working_.state = VS_NORMAL;
    working_.sourcePath = "/tmp/Qel0001.tif";
    working_.prev = &file_;
    working_.width = 400;
    working_.height = 300;
    working_.region = PixelRect{0, 0, 400, 300};
    working_.clientRect = PixelRect{10, 20, 410, 320};
    working_.fitScale = 10000;
    pixels_.assign(static_cast<size_t>(kW) * kH * 3, 255);
  }
  void TearDown() override {
    working_.prev = nullptr;
    ScanSettings = saved_;
  }
  uint8_t Red(int32_t x, int32_t y) const { return pixels_[(static_cast<size_t>(y) * kW + static_cast<size_t>(x)) * 3]; }

  static constexpr int32_t kW = 420, kH = 330;
  orb::ScanSettingsRecord saved_;
  ImageState file_, working_;
  std::vector<uint8_t> pixels_;
};

TEST_F(SplitOverlay, TheNamesOfBothPagesStandBesideTheLine) {
  const orb::ViewContext view{&working_};
  SplitHooks hooks;
  hooks.SetEnabled(true);
  hooks.SetOrientation(kSplitVertical);
  hooks.SetPosition(200);
  ASSERT_TRUE(hooks.IsShowing(view));
  orb::ViewCanvas canvas(pixels_.data(), kW, kH, static_cast<size_t>(kW) * 3);
  KeptTexts writer;
  canvas.SetTextWriter(&writer);
  hooks.Paint(view, canvas);
  // The line at client x 210 (image column 200); the pages named from the scanned file.
  EXPECT_EQ(Red(210, 20), 0);
  ASSERT_EQ(writer.texts.size(), 2u);
  EXPECT_EQ(writer.texts[0], "/scans/Scan-Page1.tif");
  EXPECT_EQ(writer.texts[1], "/scans/Scan-Page2.tif");
  EXPECT_EQ(writer.ats[0], (Point{200 - 126, 20}));  // ends 10 pixels left of the line
  EXPECT_EQ(writer.ats[1], (Point{220, 20}));
  EXPECT_EQ(writer.clips[0], (Rect{10, 20, 200, 320}));
  EXPECT_EQ(writer.clips[1], (Rect{220, 20, 410, 320}));

  // While the line is dragged only the line is drawn; the names come back after release.
  ASSERT_EQ(hooks.OnButtonDown(view, {210, 100}), orb::drag::Move);
  hooks.OnDrag(view, orb::drag::Move, {230, 100});
  writer.texts.clear();
  hooks.Paint(view, canvas);
  EXPECT_TRUE(writer.texts.empty());
  hooks.OnButtonUp(view, orb::drag::Move, {230, 100});
  hooks.Paint(view, canvas);
  EXPECT_EQ(writer.texts.size(), 2u);
  EXPECT_EQ(writer.ats[3], (Point{240, 20}));  // page 2 follows the moved line
}

TEST_F(SplitOverlay, WithoutATextWriterOnlyTheLineIsDrawn) {
  const orb::ViewContext view{&working_};
  SplitHooks hooks;
  hooks.SetEnabled(true);
  hooks.SetOrientation(kSplitHorizontal);
  hooks.SetPosition(150);
  orb::ViewCanvas canvas(pixels_.data(), kW, kH, static_cast<size_t>(kW) * 3);
  hooks.Paint(view, canvas);
  EXPECT_EQ(Red(10, 170), 0);    // the dash at the picture's left
  EXPECT_EQ(Red(14, 170), 255);  // and the gap after it
  size_t changed = 0;
  for (uint8_t v : pixels_) changed += v != 255;
  EXPECT_EQ(changed, 3u * 50 * 4);  // 50 dashes of 4 pixels across 400: nothing else
}

}  // namespace
