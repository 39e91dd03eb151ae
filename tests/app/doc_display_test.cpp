// Progressive display, display rebuild with previews, channel statistics, magnifier
// content and print rendering, all into pixel buffers without a display.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>
#include <variant>
#include <vector>

#include "app/Display.h"
#include "app/Document.h"
#include "app/DisplaySink.h"
#include "engine/EngineHost.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "tests/common/TestUtil.h"
#include "tests/app/doc_test_util.h"

namespace {

// The display routines' results keep their numbers where callers outside see them.
static_assert(static_cast<int>(ShowOutcome::Done) == 0 && static_cast<int>(ShowOutcome::Stopped) == -1);
static_assert(static_cast<int>(RebuildOutcome::Rebuilt) == 1 && static_cast<int>(RebuildOutcome::Nothing) == 0 &&
              static_cast<int>(RebuildOutcome::OutOfMemory) == -1);

using orb::DisplayImage;

// A window of a fixed client size that records what it is asked to show.
class FakeSurface : public orb::DisplaySurface {
 public:
  FakeSurface(int32_t w, int32_t h) : w_(w), h_(h) {}
  orb::Rect ClientRect() const override { return orb::Rect{0, 0, w_, h_}; }
  void Resize(int32_t w, int32_t h) {
    w_ = w;
    h_ = h;
  }
  void PrepareView() override { ++prepared; }
  void ShowDisplayRows(int32_t first, int32_t count) override {
    shown.push_back({first, count});
  }
  void ShowFullSizeRow(int32_t row) override { fullRows.push_back(row); }
  void Invalidate(bool erase) override {
    ++invalidated;
    lastErase = erase;
  }
  int prepared = 0, invalidated = 0;
  bool lastErase = false;
  std::vector<std::pair<int32_t, int32_t>> shown;
  std::vector<int32_t> fullRows;

 private:
  int32_t w_, h_;
};

struct StatusGuard {
  uint32_t saved = AppStatus.load();
  ~StatusGuard() { AppStatus.store(saved); }
};

ImageState* MakeRecord(uint16_t kind, int32_t w, int32_t h, FakeSurface* surface) {
  ImageState* s = orb::NewImageState();
  s->kind = static_cast<ImageKind>(kind);
  s->width = w;
  s->height = h;
  s->storedLineWidth = orb::StoredLineWidthFor(kind, w);
  s->region = PixelRect{0, 0, w - 1, h - 1};
  s->viewWindow = surface;
  return s;
}

DisplayImage& Display(ImageState* s) { return *orb::AsDisplayImage(s->bitmaps[2]); }

TEST(DocDisplayFit, TableOfFits) {
  struct Case {
    int32_t rw, rh, cw, ch;
    bool open;
    int32_t factor, w, h;
  } cases[] = {
      {9999, 7999, 800, 600, false, 133316, 752, 600},  // 750 rounds up to 752
      {3, 3, 100, 100, false, 300, 100, 100},           // smaller than the window
      {100, 50, 0, 600, false, 0, 0, 0},                // no window: no fit
      {0, 0, 800, 600, false, 0, 0, 0},                 // empty region
      {1600, 5, 800, 600, true, 20000, 800, 600},       // open-ended: width fitted
      {400, 5, 800, 600, true, 10000, 400, 600},        // never below 1:1
  };
  for (const auto& c : cases) {
    orb::DisplayFit f = orb::ComputeDisplayFit(c.rw, c.rh, c.cw, c.ch, c.open);
    EXPECT_EQ(f.factor, c.factor) << c.rw << "x" << c.rh;
    EXPECT_EQ(f.width, c.w) << c.rw << "x" << c.rh;
    EXPECT_EQ(f.height, c.h) << c.rw << "x" << c.rh;
  }
}

TEST(DocDisplayBand, StartStepOfALargeImage) {
  FakeSurface view(800, 600);
  ImageState* s = MakeRecord(IK_RGB, 10000, 8000, &view);
  ProgressiveDisplay pd(s);
  DrawIncomingBand(1, &pd, nullptr, 0);
  ASSERT_NE(orb::AsDisplayImage(s->bitmaps[2]), nullptr);
  EXPECT_EQ(s->fitScale, 133316);
  EXPECT_EQ(Display(s).width, 752);
  EXPECT_EQ(Display(s).height, 600);
  EXPECT_EQ(s->visibleSource.right, 800);
  DrawIncomingBand(4, &pd, nullptr, 0);
  // The kept copy is made at the end.
  EXPECT_NE(s->bitmaps[0], nullptr);
  orb::FreeImageChain(s);
}

uint8_t ColourAt(int32_t x, int32_t y, int c) { return static_cast<uint8_t>(c == 0 ? x * 6 : c == 1 ? y * 12 : 7); }

TEST(DocDisplayBand, ColourReductionSamplesFirstRowOfEachDisplayRow) {
  StatusGuard g;
  AppStatus.store(orb::Bits(orb::StatusBit::FittedDisplay));
  FakeSurface view(10, 5);
  const int32_t w = 40, h = 20;
  ImageState* s = MakeRecord(IK_RGB, w, h, &view);
  ProgressiveDisplay pd(s);
  DrawIncomingBand(1, &pd, nullptr, 0);
  ASSERT_EQ(s->fitScale, 39000);
  DisplayImage& d = Display(s);
  ASSERT_EQ(d.width, 12);
  ASSERT_EQ(d.height, 4);
  std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) row[static_cast<size_t>(3 * x + c)] = ColourAt(x, y, c);
    DrawIncomingBand(2, &pd, row.data(), 1);
  }
  EXPECT_EQ(view.prepared, 1);
  EXPECT_FALSE(view.shown.empty());
  for (int32_t r = 0; r < d.height; ++r) {
    // The first image row that maps to display row r.
    int32_t y = 0;
    while (static_cast<int32_t>(y * 10000.0 / 39000) < r) ++y;
    for (int32_t x = 0; x < d.width; ++x) {
      const uint8_t* p = d.Row(r) + 3 * x;
      const int32_t c = x * 39000 / 10000;
      if (c >= w) {
        EXPECT_EQ(p[0], 255);  // beyond the image: white
        continue;
      }
      EXPECT_EQ(p[0], ColourAt(c, y, 0)) << r << "," << x;
      EXPECT_EQ(p[1], ColourAt(c, y, 1)) << r << "," << x;
      EXPECT_EQ(p[2], 7);
    }
  }
  DrawIncomingBand(4, &pd, nullptr, 0);
  EXPECT_EQ(view.invalidated, 1);
  EXPECT_FALSE(view.lastErase);  // the view was prepared during the run
  orb::FreeImageChain(s);
}

TEST(DocDisplayBand, ViewSizedDuringTheRunGetsTheRestOfTheRowsAtItsSize) {
  // A scan's view is created small and laid out while the first bands arrive.
  StatusGuard g;
  AppStatus.store(orb::Bits(orb::StatusBit::FittedDisplay));
  FakeSurface view(20, 20);
  const int32_t w = 400, h = 300;
  ImageState* s = MakeRecord(IK_RGB, w, h, &view);
  ProgressiveDisplay pd(s);
  DrawIncomingBand(1, &pd, nullptr, 0);
  const int32_t smallWidth = Display(s).width;
  const std::vector<uint8_t> black(static_cast<size_t>(w) * 3, 0);
  for (int32_t y = 0; y < h / 2; ++y) DrawIncomingBand(2, &pd, black.data(), 1);

  view.Resize(200, 150);
  EXPECT_TRUE(orb::RefitProgressiveDisplay(&view));
  DisplayImage& d = Display(s);
  EXPECT_GT(d.width, smallWidth);
  EXPECT_GE(d.width, 200);
  const int32_t factor = s->fitScale;
  EXPECT_GT(factor, 10000);
  EXPECT_LT(factor, 21000);
  for (int32_t y = h / 2; y < h; ++y) DrawIncomingBand(2, &pd, black.data(), 1);
  // Rows that arrived after the refit are drawn where the resized view shows them.
  for (int32_t y : {h / 2 + 10, 3 * h / 4, h - 1}) {
    const int32_t r = static_cast<int32_t>(int64_t{y} * 10000 / factor);
    ASSERT_LT(r, d.height);
    EXPECT_EQ(d.Row(r)[0], 0) << "display row " << r << " of image row " << y;
  }
  DrawIncomingBand(4, &pd, nullptr, 0);
  EXPECT_FALSE(orb::RefitProgressiveDisplay(&view)) << "no run is drawing any more";
  orb::FreeImageChain(s);
}

TEST(DocDisplayBand, RowsDrawnBeforeARefitStayInTheViewAndTheNavigatorPicture) {
  // A fast scanner delivers the top of the sheet before the new scan's view is laid out:
  // those rows must not turn white in the resized picture, nor in the picture the navigator
  // keeps after the run.
  StatusGuard g;
  AppStatus.store(orb::Bits(orb::StatusBit::FittedDisplay));
  FakeSurface view(40, 40);
  const int32_t w = 400, h = 400;
  ImageState* s = MakeRecord(IK_RGB, w, h, &view);
  ProgressiveDisplay pd(s);
  DrawIncomingBand(1, &pd, nullptr, 0);
  std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
  auto shade = [](int32_t y) { return static_cast<uint8_t>(y < 200 ? 0 : 100); };
  for (int32_t y = 0; y < h; ++y) {
    if (y == h / 2) {
      view.Resize(200, 200);
      ASSERT_TRUE(orb::RefitProgressiveDisplay(&view));
    }
    std::fill(row.begin(), row.end(), shade(y));
    DrawIncomingBand(2, &pd, row.data(), 1);
  }
  auto check = [&](const DisplayImage& d, const char* what) {
    // Every picture row shows the shade of the image row it stands for (the row at the
    // change of shade may show either); none is left white.
    for (int32_t r = 0; r < d.height; ++r) {
      const int32_t y = static_cast<int32_t>(int64_t{r} * h / d.height);
      if (std::abs(y - 200) <= 4) continue;
      for (int32_t x : {0, d.width / 2, d.width - 5}) {
        EXPECT_EQ(d.Row(r)[x * 3], shade(y)) << what << " row " << r << " column " << x;
      }
    }
  };
  check(Display(s), "view");
  DrawIncomingBand(4, &pd, nullptr, 0);
  ASSERT_NE(orb::AsDisplayImage(s->bitmaps[0]), nullptr);
  check(*orb::AsDisplayImage(s->bitmaps[0]), "navigator");
  orb::FreeImageChain(s);
}

TEST(DocDisplayBand, EnlargementShowsNothingUntilTheEnd) {
  StatusGuard g;
  AppStatus.store(orb::Bits(orb::StatusBit::FittedDisplay));
  FakeSurface view(16, 16);
  ImageState* s = MakeRecord(IK_GREY, 5, 5, &view);
  ProgressiveDisplay pd(s);
  DrawIncomingBand(1, &pd, nullptr, 0);
  const int32_t f = s->fitScale;
  ASSERT_LT(f, 10000);
  std::vector<uint8_t> row(5);
  for (int32_t y = 0; y < 5; ++y) {
    for (int32_t x = 0; x < 5; ++x) row[static_cast<size_t>(x)] = static_cast<uint8_t>(10 * y + x);
    DrawIncomingBand(2, &pd, row.data(), 1);
  }
  EXPECT_TRUE(view.shown.empty());
  DrawIncomingBand(4, &pd, nullptr, 0);
  EXPECT_EQ(view.invalidated, 1);
  EXPECT_TRUE(view.lastErase);  // never prepared: erase
  DisplayImage& d = Display(s);
  for (int32_t r = 0; r < d.height; ++r) {
    const int32_t y = std::min(r * f / 10000, 4);
    const int32_t x = 3;
    const int32_t c = std::min(x * f / 10000, 4);
    EXPECT_EQ(d.Row(r)[x], 10 * y + c) << "row " << r;
  }
  orb::FreeImageChain(s);
}

TEST(DocDisplayBand, BottomUpImagesAreNotPaintedDuringTheRun) {
  StatusGuard g;
  AppStatus.store(orb::Bits(orb::StatusBit::FittedDisplay));
  FakeSurface view(10, 10);
  ImageState* s = MakeRecord(IK_RGB, 100, 100, &view);
  s->rowOrder = 1;
  ProgressiveDisplay pd(s);
  DrawIncomingBand(1, &pd, nullptr, 0);
  std::vector<uint8_t> row(300, 0);
  for (int i = 0; i < 100; ++i) DrawIncomingBand(2, &pd, row.data(), 1);
  EXPECT_TRUE(view.shown.empty());
  DrawIncomingBand(4, &pd, nullptr, 0);
  EXPECT_EQ(view.invalidated, 1);
  EXPECT_TRUE(Display(s).bottomUp);
  orb::FreeImageChain(s);
}

TEST(DocDisplayBand, FailedStartDrawsNothingAndReleasesNothing) {
  FakeSurface view(0, 0);
  ImageState* s = MakeRecord(IK_RGB, 100, 100, &view);
  ProgressiveDisplay pd(s);
  DrawIncomingBand(1, &pd, nullptr, 0);
  std::vector<uint8_t> row(300, 0);
  DrawIncomingBand(2, &pd, row.data(), 1);
  DrawIncomingBand(4, &pd, nullptr, 0);
  EXPECT_EQ(s->bitmaps[2], nullptr);
  EXPECT_EQ(view.invalidated, 0);
  orb::FreeImageChain(s);
}

TEST(DocDisplayBand, AnyBlackKeepsAThinLineAtEveryReduction) {
  StatusGuard g;
  AppStatus.store(orb::Bits(orb::StatusBit::FittedDisplay));
  const int32_t savedOption = MiscSettings.DisplayOption;
  MiscSettings.DisplayOption = 0;
  for (int32_t client : {100, 37, 9}) {
    FakeSurface view(client, client);
    ImageState* s = MakeRecord(IK_BW, 800, 800, &view);
    ProgressiveDisplay pd(s);
    DrawIncomingBand(1, &pd, nullptr, 0);
    const int32_t f = s->fitScale;
    std::vector<uint8_t> white(800, 255), black(800, 0);
    for (int32_t y = 0; y < 800; ++y) DrawIncomingBand(2, &pd, y == 401 ? black.data() : white.data(), 1);
    DrawIncomingBand(4, &pd, nullptr, 0);
    DisplayImage& d = Display(s);
    const int32_t lineRow = static_cast<int32_t>(401 * 10000.0 / f);
    for (int32_t x = 0; x * static_cast<int64_t>(f) / 10000 < 800 && x < d.width; ++x) {
      EXPECT_EQ(d.Row(lineRow)[x], 0) << "client " << client << " x " << x;
    }
    EXPECT_EQ(d.Row(0)[0], 255);
    orb::FreeImageChain(s);
  }
  MiscSettings.DisplayOption = savedOption;
}

TEST(DocDisplayBand, GreyLevelHalfBlackBoxShowsBlack) {
  StatusGuard g;
  AppStatus.store(orb::Bits(orb::StatusBit::FittedDisplay));
  const int32_t savedOption = MiscSettings.DisplayOption;
  MiscSettings.DisplayOption = 1;
  FakeSurface view(20, 20);
  ImageState* s = MakeRecord(IK_BW, 41, 41, &view);
  ProgressiveDisplay pd(s);
  DrawIncomingBand(1, &pd, nullptr, 0);
  ASSERT_EQ(s->fitScale, 20000);
  // Left half: every even column black (half of each 2 x 2 box); right half white.
  std::vector<uint8_t> row(41, 255);
  for (int32_t x = 0; x < 20; x += 2) row[static_cast<size_t>(x)] = 0;
  for (int32_t y = 0; y < 41; ++y) DrawIncomingBand(2, &pd, row.data(), 1);
  DrawIncomingBand(4, &pd, nullptr, 0);
  DisplayImage& d = Display(s);
  EXPECT_EQ(d.Row(3)[2], 0);
  EXPECT_EQ(d.Row(3)[15], 255);
  MiscSettings.DisplayOption = savedOption;
  orb::FreeImageChain(s);
}

// ----- rebuild over real files -----------------------------------------------------------

class DocRebuild : public ::testing::Test {
 protected:
  void SetUp() override {
    orb::SetTempFilesFolder(dir.path().string());
    savedStatus = AppStatus.load();
  }
  void TearDown() override {
    AppStatus.store(savedStatus);
    orb::SetTempFilesFolder("");
  }
  // Opens a file the way a document does, drawing into `view`.
  ImageState* Open(const std::string& path, FakeSurface* view) {
    ImageState* s = orb::NewImageState();
    s->viewWindow = view;
    EXPECT_EQ(orb::OpenImageIntoDocument(s, path, nullptr), orb::OpenResult::Opened);
    return s;
  }
  orbtest::TempDir dir;
  uint32_t savedStatus = 0;
};

TEST_F(DocRebuild, OwnTiffOpensAndStatisticsOfWhiteImage) {
  const std::string path = (dir.path() / "white.tif").string();
  ASSERT_TRUE(doctest::WritePattern(path, OF_TIFF, {64, 48, 24, false, [](int32_t, int32_t, int) { return uint8_t{255}; }}));
  FakeSurface view(32, 32);
  ImageState* s = Open(path, &view);
  EXPECT_EQ(s->sourceForm, 0u);  // read by the program itself
  ASSERT_NE(s->bitmaps[2], nullptr);
  ProgressiveDisplay pd(s);
  s->region = PixelRect{0, 0, 64, 48};
  ASSERT_EQ(RebuildDisplayRgb(&pd), RebuildOutcome::Rebuilt);
  for (const auto& st : orb::LastChannelStatistics()) {
    EXPECT_EQ(st.minimum, 255);
    EXPECT_EQ(st.maximum, 255);
    EXPECT_EQ(st.mean, 255);
  }
  // An empty region samples nothing.
  s->region = PixelRect{10, 10, 10, 10};
  EXPECT_EQ(RebuildDisplayRgb(&pd), RebuildOutcome::Nothing);
  for (const auto& st : orb::LastChannelStatistics()) {
    EXPECT_EQ(st.minimum, 256);
    EXPECT_EQ(st.maximum, -1);
    EXPECT_EQ(st.mean, 0);
  }
  orb::FreeImageChain(s);
}

TEST_F(DocRebuild, StatisticsAreKeptBlueGreenRed) {
  const std::string path = (dir.path() / "rgb.tif").string();
  ASSERT_TRUE(doctest::WritePattern(path, OF_TIFF, {20, 20, 24, false, [](int32_t, int32_t, int c) {
                                      return static_cast<uint8_t>(c == 0 ? 200 : c == 1 ? 100 : 10);
                                    }}));
  FakeSurface view(20, 20);
  ImageState* s = Open(path, &view);
  s->region = PixelRect{0, 0, 20, 20};
  ProgressiveDisplay pd(s);
  ASSERT_EQ(RebuildDisplayRgb(&pd), RebuildOutcome::Rebuilt);
  auto st = orb::LastChannelStatistics();
  EXPECT_EQ(st[0].mean, 10);   // blue
  EXPECT_EQ(st[1].mean, 100);  // green
  EXPECT_EQ(st[2].mean, 200);  // red
  orb::FreeImageChain(s);
}

TEST_F(DocRebuild, BrightnessPreviewChangesOnlyTheShownPicture) {
  const std::string path = (dir.path() / "grey.tif").string();
  ASSERT_TRUE(doctest::WritePattern(path, OF_TIFF, {16, 16, 24, false, [](int32_t, int32_t, int) { return uint8_t{100}; }}));
  FakeSurface view(16, 16);
  ImageState* s = Open(path, &view);
  s->region = PixelRect{0, 0, 16, 16};
  const auto savedBc = BrightContSettings;
  BrightContSettings.Brightness = 60;
  s->brightnessPending = 1;
  ProgressiveDisplay pd(s);
  ASSERT_EQ(RebuildDisplayRgb(&pd), RebuildOutcome::Rebuilt);
  DisplayImage* third = orb::AsDisplayImage(s->bitmaps[2]);
  DisplayImage* fourth = orb::AsDisplayImage(s->bitmaps[3]);
  ASSERT_TRUE(third && fourth);
  EXPECT_EQ(fourth->Row(3)[3], 100);  // the picture without previews
  EXPECT_NE(third->Row(3)[3], 100);
  BrightContSettings = savedBc;
  orb::FreeImageChain(s);
}

TEST_F(DocRebuild, PaletteImageKeepsIndicesAndRestoresColours) {
  const std::string path = (dir.path() / "pal.png").string();
  ASSERT_TRUE(doctest::WritePattern(path, OF_PNG, {16, 16, 8, true, [](int32_t x, int32_t, int) {
                                      return static_cast<uint8_t>(x * 10);
                                    }}));
  FakeSurface view(16, 16);
  ImageState* s = Open(path, &view);
  ASSERT_EQ(s->kind, IK_PALETTE256);
  s->region = PixelRect{0, 0, 16, 16};
  const auto savedBc = BrightContSettings;
  BrightContSettings.Brightness = 80;
  s->brightnessPending = 1;
  ProgressiveDisplay pd(s);
  ASSERT_EQ(RebuildDisplayIndexed(&pd), RebuildOutcome::Rebuilt);
  DisplayImage* d = orb::AsDisplayImage(s->bitmaps[2]);
  EXPECT_EQ(d->Row(2)[5], 50);  // the index, not a colour
  const ColourBytes changed = d->colours[50];
  s->brightnessPending = 0;
  ASSERT_EQ(RebuildDisplayIndexed(&pd), RebuildOutcome::Rebuilt);
  d = orb::AsDisplayImage(s->bitmaps[2]);
  EXPECT_EQ(d->Row(2)[5], 50);
  EXPECT_NE(d->colours[50].red, changed.red);
  EXPECT_EQ(d->colours[50].red, s->palette2[50].red & 0xFF);
  BrightContSettings = savedBc;
  orb::FreeImageChain(s);
}

TEST_F(DocRebuild, NeighbourhoodPreviewsOnlyAtOneToOne) {
  const std::string path = (dir.path() / "n.tif").string();
  ASSERT_TRUE(doctest::WritePattern(path, OF_TIFF, {40, 40, 24, false, [](int32_t x, int32_t, int) { return uint8_t(x * 5); }}));
  FakeSurface exact(40, 40), reduced(39, 39);
  ImageState* s = Open(path, &exact);
  s->region = PixelRect{0, 0, 40, 40};
  const auto savedD = DescreenSettings;
  const auto savedS = SharpenSettings;
  DescreenSettings.preview = 1;
  SharpenSettings.preview = 1;
  ProgressiveDisplay pd(s);
  ASSERT_EQ(RebuildDisplayRgb(&pd), RebuildOutcome::Rebuilt);
  EXPECT_EQ(s->fitScale, 10000);
  EXPECT_EQ(DescreenSettings.preview, 1);
  EXPECT_EQ(SharpenSettings.preview, 1);
  s->viewWindow = &reduced;
  ASSERT_EQ(RebuildDisplayRgb(&pd), RebuildOutcome::Rebuilt);
  EXPECT_NE(s->fitScale, 10000);
  EXPECT_EQ(DescreenSettings.preview, 0);
  EXPECT_EQ(SharpenSettings.preview, 0);
  DescreenSettings = savedD;
  SharpenSettings = savedS;
  orb::FreeImageChain(s);
}

TEST_F(DocRebuild, JoinCanvasShowsOnlyTheHatch) {
  FakeSurface view(40, 40);
  ImageState* s = MakeRecord(IK_RGB, 40, 40, &view);
  s->state = VS_JOIN_CANVAS;
  s->region = PixelRect{0, 0, 40, 40};
  ProgressiveDisplay pd(s);
  ASSERT_EQ(RebuildDisplayRgb(&pd), RebuildOutcome::Rebuilt);
  DisplayImage& d = Display(s);
  EXPECT_EQ(d.Row(0)[0], 216);
  EXPECT_EQ(d.Row(0)[2], 255);
  EXPECT_EQ(d.Row(1)[3 * 2], 255);  // between the hatch lines: white
  orb::FreeImageChain(s);
}

TEST_F(DocRebuild, BilevelRebuildWindows) {
  const std::string path = (dir.path() / "bw.tif").string();
  // One black pixel at (47, 0) of a white 800-wide image.
  ASSERT_TRUE(doctest::WritePattern(path, OF_TIFF, {800, 16, 1, false, [](int32_t x, int32_t y, int) {
                                      return static_cast<uint8_t>(x == 47 && y == 0 ? 0 : 255);
                                    }}));
  FakeSurface view(10, 10);
  ImageState* s = Open(path, &view);
  s->region = PixelRect{0, 0, 800, 16};
  ProgressiveDisplay pd(s);
  ASSERT_EQ(RebuildDisplayBilevel(&pd), RebuildOutcome::Rebuilt);
  ASSERT_EQ(s->fitScale, 800000);
  // k = 40: display column 0 covers source columns 0..39, column 1 covers 40..119.
  DisplayImage& d = Display(s);
  EXPECT_EQ(d.Row(0)[0], 255);
  EXPECT_EQ(d.Row(0)[1], 0);
  orb::FreeImageChain(s);
}

TEST_F(DocRebuild, MagnifierOverTheTopLeftCorner) {
  const std::string path = (dir.path() / "m.tif").string();
  ASSERT_TRUE(doctest::WritePattern(path, OF_TIFF, {10, 10, 24, false, [](int32_t x, int32_t y, int) {
                                      return static_cast<uint8_t>(10 * y + x);
                                    }}));
  FakeSurface view(10, 10);
  ImageState* s = Open(path, &view);
  const int32_t savedZoom = MiscSettings.MagnifierZoom;
  MiscSettings.MagnifierZoom = 4;
  s->magnifierSource = PixelRect{-2, -2, 3, 3};
  ProgressiveDisplay pd(s);
  orb::DisplayImagePtr lens;
  ASSERT_EQ(RenderMagnifierRgb(&pd, 20, &lens), RebuildOutcome::Rebuilt);
  ASSERT_TRUE(lens);
  EXPECT_EQ(lens->Row(0)[0], 255);       // outside the image
  EXPECT_EQ(lens->Row(8)[3 * 8], 0);     // image pixel (0, 0) from lens (8, 8)
  EXPECT_EQ(lens->Row(11)[3 * 11], 0);   // ... a 4 x 4 block
  EXPECT_EQ(lens->Row(12)[3 * 12], 11);  // image pixel (1, 1)
  MiscSettings.MagnifierZoom = savedZoom;
  orb::FreeImageChain(s);
}

// A record whose stored line width is not set yet (a document between versions) still
// gets whole rows: the lens reads by pixel, never past the row it was given (the address
// sanitizer build sees any such read).
TEST_F(DocRebuild, MagnifierOfARecordWithoutItsStoredWidthStaysInsideTheRow) {
  const std::string path = (dir.path() / "w.tif").string();
  ASSERT_TRUE(doctest::WritePattern(path, OF_TIFF, {40, 10, 24, false, [](int32_t x, int32_t, int) {
                                      return static_cast<uint8_t>(x);
                                    }}));
  FakeSurface view(10, 10);
  ImageState* s = Open(path, &view);
  s->storedLineWidth = 0;
  const int32_t savedZoom = MiscSettings.MagnifierZoom;
  MiscSettings.MagnifierZoom = 1;
  s->magnifierSource = PixelRect{20, 0, 40, 10};
  ProgressiveDisplay pd(s);
  orb::DisplayImagePtr lens;
  ASSERT_EQ(RenderMagnifierRgb(&pd, 20, &lens), RebuildOutcome::Rebuilt);
  ASSERT_TRUE(lens);
  EXPECT_EQ(lens->width, 20);
  MiscSettings.MagnifierZoom = savedZoom;
  orb::FreeImageChain(s);
}

TEST_F(DocRebuild, PrintRendersTheRegionFittedToThePage) {
  const std::string path = (dir.path() / "p.tif").string();
  ASSERT_TRUE(doctest::WritePattern(path, OF_TIFF, {100, 50, 24, false, [](int32_t x, int32_t, int c) {
                                      return static_cast<uint8_t>(c == 0 ? x : 0);
                                    }}));
  FakeSurface view(10, 10);
  ImageState* s = Open(path, &view);
  s->region = PixelRect{0, 0, 100, 50};
  ProgressiveDisplay pd(s);
  orb::DisplayImagePtr page;
  ASSERT_EQ(RenderImageForPrint(&pd, 200, 200, &page), ShowOutcome::Done);
  ASSERT_TRUE(page);
  EXPECT_EQ(page->width, 200);
  EXPECT_EQ(page->height, 100);
  EXPECT_EQ(page->Row(0)[3 * 100], 50);
  EXPECT_EQ(RenderImageForPrint(&pd, 0, 200, &page), ShowOutcome::Stopped);  // no page: nothing printed
  orb::FreeImageChain(s);
}

TEST_F(DocRebuild, DecodedFileIsDrawnWhileItArrives) {
  const std::string path = (dir.path() / "d.jpg").string();
  ASSERT_TRUE(doctest::WritePattern(path, OF_JPEG, {300, 200, 24, false, [](int32_t, int32_t, int) { return uint8_t{20}; }}));
  orb::ProgressiveDisplaySink sink;
  orb::EngineHost host = orb::Host();
  orb::EngineHost withSink = host;
  withSink.display = &sink;
  orb::SetEngineHost(withSink);
  FakeSurface view(100, 100);
  ImageState* s = Open(path, &view);
  orb::SetEngineHost(host);
  EXPECT_EQ(s->sourceForm, 2u);
  EXPECT_FALSE(s->rawPath.empty());
  ASSERT_NE(s->bitmaps[2], nullptr);
  EXPECT_GT(view.prepared, 0);
  EXPECT_FALSE(view.shown.empty());
  EXPECT_NEAR(Display(s).Row(10)[30], 20, 3);
  EXPECT_EQ(AppStatus.load() & 0x200001F0u, 0u);
  orb::FreeImageChain(s);
}

TEST_F(DocRebuild, UnreadableFilesAreRefusedWithAMessageNamingThem) {
  const std::string bad = (dir.path() / "bad.png").string();
  orbtest::WriteFile(bad, "not an image at all");
  const std::string fifo = (dir.path() / "pipe.tif").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = (dir.path() / "folder.tif").string();
  std::filesystem::create_directory(folder);
  const struct {
    std::string path;
    orb::OpenResult result;
    int message;
  } cases[] = {
      {bad, orb::OpenResult::DecodeFailed, 201},
      {(dir.path() / "missing.tif").string(), orb::OpenResult::CannotOpen, 35230},
      {fifo, orb::OpenResult::CannotOpen, 35231},
      {folder, orb::OpenResult::CannotOpen, 35231},
  };
  // A pipe nobody writes to must not hold the caller: should the open wait after all, a
  // writer turns up late and the time taken shows it.
  std::thread late([fifo] {
    std::this_thread::sleep_for(std::chrono::seconds(3));
    int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
  });
  for (const auto& c : cases) {
    doctest::KeptMessages kept;
    ImageState* s = orb::NewImageState();
    {
      doctest::KeepMessages here(&kept);
      const auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(orb::OpenImageIntoDocument(s, c.path, nullptr), c.result) << c.path;
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.path;
    }
    EXPECT_EQ(kept.ids, std::vector<int>{c.message}) << c.path;
    EXPECT_EQ(kept.texts, std::vector<std::string>{c.path});
    orb::FreeImageChain(s);
  }
  late.join();
}

}  // namespace

namespace {

TEST(DocDisplayBand, OpenEndedScanWrapsLikeAChart) {
  StatusGuard g;
  AppStatus.store(orb::Bits(orb::StatusBit::FittedDisplay) | orb::Bits(orb::ScanState::Scanning));
  const auto saved = ScanSettings;
  ScanSettings.SizeMode = 0;
  ScanSettings.CustomLength = 0xFFFF;
  FakeSurface view(100, 52);
  ImageState* s = MakeRecord(IK_GREY, 201, 100000, &view);
  ProgressiveDisplay pd(s);
  DrawIncomingBand(1, &pd, nullptr, 0);
  ASSERT_EQ(s->fitScale, 20000);
  DisplayImage& d = Display(s);
  ASSERT_EQ(d.height, 52);
  std::vector<uint8_t> row(201);
  // Rows 0..103 fill display rows 0..51; row 104 maps to display row 52 = row 0 again.
  for (int32_t y = 0; y <= 104; ++y) {
    std::fill(row.begin(), row.end(), static_cast<uint8_t>(y));
    DrawIncomingBand(2, &pd, row.data(), 1);
  }
  EXPECT_EQ(d.Row(0)[5], 104);
  EXPECT_EQ(d.Row(1)[5], 2);
  DrawIncomingBand(4, &pd, nullptr, 0);
  ScanSettings = saved;
  orb::FreeImageChain(s);
}

TEST(DocDisplayBand, FullSizeFollowingCopiesTheVisibleColumnsAndWraps) {
  StatusGuard g;
  AppStatus.store(orb::Bits(orb::StatusBit::FullSizeDisplay));
  FakeSurface view(8, 3);
  ImageState* s = MakeRecord(IK_GREY, 10, 20, &view);
  ProgressiveDisplay pd(s);
  DrawIncomingBand(1, &pd, nullptr, 0);
  s->visibleSource.left = 5;  // scrolled right: only 5 columns remain
  std::vector<uint8_t> row(10);
  for (int32_t y = 0; y < 4; ++y) {
    for (int32_t x = 0; x < 10; ++x) row[static_cast<size_t>(x)] = static_cast<uint8_t>(10 * y + x);
    DrawIncomingBand(2, &pd, row.data(), 1);
  }
  orb::DisplayImagePtr full = orb::FullSizeImage();
  ASSERT_TRUE(full);
  EXPECT_EQ(full->width, 8);
  EXPECT_EQ(full->Row(0)[0], 35);   // row 3 wrapped onto the top row
  EXPECT_EQ(full->Row(0)[4], 39);
  EXPECT_EQ(full->Row(0)[5], 255);  // beyond the row: white, never read past it
  EXPECT_EQ(full->Row(1)[0], 15);
  EXPECT_EQ(view.fullRows, (std::vector<int32_t>{0, 1, 2, 0}));
  DrawIncomingBand(4, &pd, nullptr, 0);
  orb::FreeImageChain(s);
}

TEST(DocDisplayBand, ThumbnailIsDrawnWhileBusy) {
  StatusGuard g;
  AppStatus.store(orb::Bits(orb::StatusBit::FittedDisplay) | orb::Bits(orb::StatusBit::Opening));
  FakeSurface view(50, 50), thumb(10, 10);
  orb::SetThumbnailSurface(&thumb);
  ImageState* s = MakeRecord(IK_RGB, 100, 100, &view);
  ProgressiveDisplay pd(s);
  DrawIncomingBand(1, &pd, nullptr, 0);
  std::vector<uint8_t> row(300);
  for (int32_t y = 0; y < 100; ++y) {
    std::fill(row.begin(), row.end(), static_cast<uint8_t>(y));
    DrawIncomingBand(2, &pd, row.data(), 1);
  }
  orb::DisplayImagePtr t = orb::ThumbnailImage();
  ASSERT_TRUE(t);
  EXPECT_EQ(t->width, 12);
  EXPECT_EQ(thumb.prepared, 1);
  EXPECT_FALSE(thumb.shown.empty());
  EXPECT_EQ(t->Row(5)[0], 50);  // thumbnail row 5 samples image row 50
  DrawIncomingBand(4, &pd, nullptr, 0);
  // The kept copy replaces the thumbnail in the first bitmap.
  EXPECT_NE(s->bitmaps[0], nullptr);
  EXPECT_NE(s->bitmaps[0], t);
  orb::SetThumbnailSurface(nullptr);
  orb::FreeImageChain(s);
}

}  // namespace
