// Two-page split: page sizes and where each page starts, the page names, the pages written
// against ImageMagick's crops of the scan, Esc giving the scan its name back, and the line
// on the view.
#include "tools/transform/Split.h"

#include "engine/Settings.h"
#include "tests/tools/transform/TransformFixture.h"

namespace {

using namespace orb::tools;
using namespace transform_test;

class Split : public Fixture {
 protected:
  void SetUp() override {
    Fixture::SetUp();
    saved_ = ScanSettings;
    ScanSettings = orb::ScanSettingsRecord{};
    ScanSettings.NameSeparator[0] = '-';
    for (auto& c : ScanSettings.NameCounters) c = orb::NameCounter{1, 9999, 1, 0};
  }
  void TearDown() override {
    ScanSettings = saved_;
    Fixture::TearDown();
  }
  orb::ScanSettingsRecord saved_;
};

TEST(SplitLayout, PagesAndWhereTheyStart) {
  struct Case {
    int w, h, orientation, p;
    SplitPages e;
  } cases[] = {
      // Vertical pages are rounded down to 8 and page 2 starts where page 1 ends (at 496
      // for a line at 500, as written for the tool); a horizontal line's row goes to neither.
      {1000, 300, kSplitVertical, 500, {496, 300, 0, 0, 496, 300, 496, 0, 500}},
      {1000, 1000, kSplitHorizontal, 400, {1000, 400, 0, 0, 1000, 599, 0, 401, 400}},
      {1000, 300, kSplitVertical, 0, {1, 300, 0, 0, 992, 300, 1, 0, 1}},      // held inside
      {1000, 300, kSplitVertical, 5000, {992, 300, 0, 0, 1, 300, 992, 0, 998}},
      {20, 10, kSplitHorizontal, 9, {20, 8, 0, 0, 20, 1, 0, 9, 8}},
      {12, 5, kSplitVertical, 5, {5, 5, 0, 0, 6, 5, 5, 0, 5}},                 // narrower than 8: kept
  };
  for (const Case& c : cases) {
    const SplitPages s = SplitLayout(c.w, c.h, c.orientation, c.p);
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " at " + std::to_string(c.p));
    EXPECT_EQ(s.width1, c.e.width1);
    EXPECT_EQ(s.height1, c.e.height1);
    EXPECT_EQ(s.width2, c.e.width2);
    EXPECT_EQ(s.height2, c.e.height2);
    EXPECT_EQ(s.x2, c.e.x2);
    EXPECT_EQ(s.y2, c.e.y2);
    EXPECT_EQ(s.position, c.e.position);
    EXPECT_TRUE(s.Valid());
  }
  EXPECT_FALSE(SplitLayout(2, 100, kSplitVertical, 1).Valid());
}

TEST_F(Split, PageNamesFollowTheCountersOrGetPageSuffixes) {
  std::string a, b;
  MakeSplitPageNames("/scans/Scan-0001.tif", &a, &b);
  EXPECT_EQ(a, "/scans/Scan-0001.tif");
  EXPECT_EQ(b, "/scans/Scan-0002.tif");
  MakeSplitPageNames("/scans/Scan.tif", &a, &b);
  EXPECT_EQ(a, "/scans/Scan-Page1.tif");
  EXPECT_EQ(b, "/scans/Scan-Page2.tif");
}

TEST_F(Split, WritesBothPagesAndRemovesTheSource) {
  struct Case {
    int kind, orientation, p;
    const char* crop1;
    const char* crop2;
    const char* size1;
    const char* size2;
  } cases[] = {
      {IK_GREY, kSplitVertical, 500, "496x60+0+0", "496x60+496+0", "496 60", "496 60"},
      {IK_RGB, kSplitHorizontal, 40, "1000x40+0+0", "1000x19+0+41", "1000 40", "1000 19"},
      {IK_BW, kSplitVertical, 333, "328x60+0+0", "664x60+328+0", "328 60", "664 60"},
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(i);
    const std::string scan = Path("Scan-00" + std::to_string(10 + i) + ".tif");
    const std::string next = Path("Scan-00" + std::to_string(11 + i) + ".tif");
    ImageState* src = Synth("made.tif", c.kind, 1000, 60, static_cast<unsigned>(i + 1));
    fs::rename(src->sourcePath, scan);
    src->sourcePath = scan;
    src->state = VS_NORMAL;
    const std::string copy = Path("copy" + std::to_string(i) + ".tif");
    fs::copy_file(scan, copy);
    ASSERT_EQ(SplitScan(src, c.orientation, c.p), SplitResult::Split);
    EXPECT_FALSE(fs::exists(Path("SplitSource.tif")));
    EXPECT_EQ(ImageSize(scan), c.size1);
    EXPECT_EQ(ImageSize(next), c.size2);
    EXPECT_TRUE(Samples(scan, "gray") == Samples(copy, "gray", std::string("-crop ") + c.crop1 + " +repage"));
    EXPECT_TRUE(Samples(next, "gray") == Samples(copy, "gray", std::string("-crop ") + c.crop2 + " +repage"));
    EXPECT_NE(Shell("tiffinfo '" + next + "' 2>&1").find("Image Width"), std::string::npos);
    fs::remove(scan);
    fs::remove(next);
    Forget(src);
    i += 2;
  }
}

TEST_F(Split, EscGivesTheScanItsNameBack) {
  const std::string scan = Path("Scan.tif");
  ImageState* src = Synth("made.tif", IK_GREY, 200, 400);
  fs::rename(src->sourcePath, scan);
  src->sourcePath = scan;
  const std::string before = Samples(scan, "gray");
  EscAfter esc(100);
  HostScope scope(&esc);
  EXPECT_EQ(SplitScan(src, kSplitHorizontal, 200), SplitResult::Cancelled);
  EXPECT_EQ(src->sourcePath, scan);
  EXPECT_EQ(Samples(scan, "gray"), before);
  EXPECT_FALSE(fs::exists(Path("Scan-Page1.tif")));
  EXPECT_FALSE(fs::exists(Path("Scan-Page2.tif")));
  EXPECT_FALSE(fs::exists(Path("SplitSource.tif")));
}

TEST_F(Split, ASourceThatCannotBeRenamedChangesNothing) {
  ImageState* src = Synth("made.tif", IK_GREY, 50, 40);
  src->sourcePath = Path("missing/Scan.tif");
  KeptIds kept;
  HostScope scope(nullptr, &kept);
  EXPECT_EQ(SplitScan(src, kSplitHorizontal, 20), SplitResult::Failed);
  EXPECT_EQ(kept.ids, std::vector<int>{kMsgSplitFailed});
  EXPECT_EQ(src->sourcePath, Path("missing/Scan.tif"));
}

TEST_F(Split, TheLineOnTheView) {
  ImageState image;
  image.width = 400;
  image.height = 300;
  image.region = PixelRect{0, 0, 400, 300};
  image.clientRect = PixelRect{0, 0, 400, 300};
  image.fitScale = 10000;
  image.state = VS_NORMAL;
  const orb::ViewContext view{&image};
  SplitHooks hooks;
  hooks.SetEnabled(true);
  ScanSettings.PaperEndDetection = 0;
  EXPECT_FALSE(hooks.IsShowing(view));
  ScanSettings.PaperEndDetection = 1;
  EXPECT_TRUE(hooks.IsShowing(view));
  hooks.SetOrientation(kSplitVertical);
  hooks.CenterSplitLine(image);
  EXPECT_EQ(hooks.Position(), 200);
  EXPECT_EQ(hooks.HitTest(view, {201, 50}), orb::cursor::SizeWE);
  EXPECT_EQ(hooks.HitTest(view, {150, 50}), orb::cursor::None);
  ASSERT_EQ(hooks.OnButtonDown(view, {200, 50}), orb::drag::Move);
  hooks.OnDrag(view, orb::drag::Move, {260, 80});
  EXPECT_EQ(hooks.Position(), 260);
  hooks.OnDrag(view, orb::drag::Move, {-400, 80});
  EXPECT_EQ(hooks.Position(), 1);  // never below the first column
  hooks.OnDrag(view, orb::drag::Move, {900, 80});
  EXPECT_EQ(hooks.Position(), 398);
  // Switching the orientation puts the line back in the middle.
  hooks.SetOrientation(kSplitHorizontal);
  hooks.CenterSplitLine(image);
  EXPECT_EQ(hooks.Position(), 150);
  EXPECT_EQ(hooks.HitTest(view, {50, 151}), orb::cursor::SizeNS);
}

}  // namespace
