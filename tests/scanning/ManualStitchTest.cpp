// The manual stitch dialog without a display, against the simulated scanner: the seam
// groups and values sent per camera count, dragging against releasing a slider, the round
// trip through the scanner's camera data, the test scan's settings and messages, zooming
// to a seam, and closing (during and after a test scan).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/Messages.h"
#include "engine/AppStatus.h"
#include "platform/Clock.h"
#include "platform/sim/SimAttach.h"
#include "platform/sim/SimScanner.h"
#include "scanner_library/trennic.h"
#include "scanning/ManualStitch.h"
#include "tests/scanning/ScanTestSupport.h"

namespace orb::test {
namespace {

using namespace stitch_ids;

class RecordingStitchHost final : public ManualStitchHost {
 public:
  intptr_t SendToFrame(uint32_t msg, uintptr_t w, intptr_t) override {
    sent.push_back({msg, w});
    return 0;
  }
  uint32_t Status() override { return status; }
  bool ActiveImage(int32_t* w, int32_t* h, int32_t* cw, int32_t* ch) override {
    if (!hasImage) return false;
    *w = 3000, *h = 1000, *cw = 800, *ch = 400;
    return true;
  }
  void ShowRegion(const Rect& r) override { regions.push_back(r); }
  void RefreshOutputPage() override { ++refreshes; }
  std::vector<std::pair<uint32_t, uintptr_t>> sent;
  std::vector<Rect> regions;
  uint32_t status = 0;
  bool hasImage = true;
  int refreshes = 0;
};

class StitchTest : public ScanTestBase {
 protected:
  void SetUp() override {
    ScanTestBase::SetUp();
    SetDefaultClock(&clock_);
    noBus_ = std::make_unique<sim::ScopedPassThrough>(std::make_shared<sim::SimScsiBus>(0));
    sti_ = std::make_unique<sim::ScopedStiScanner>(sim::SimScannerConfig{});
    scanner_ = std::make_unique<CTrennic>();
    DeviceInfoType info{};
    ASSERT_TRUE(scanner_->Open(info));
    ASSERT_TRUE(scanner_->SetLeftRightStitch(100, 110, 120, 130, 140));
    ASSERT_TRUE(scanner_->SetFrontBackAlign(3, 4, 5, 6, 7));
    sim().ClearLog();
    ScanSettings.CameraCount = 3;
    ScanSettings.MaxWidth = 3600;
    ScanSettings.OpticalDpi = 400;
    ScanSettings.ColourMode = 0;
    ScanSettings.ResolutionIndex = 2;
  }
  void TearDown() override {
    scanner_.reset();
    sti_.reset();
    noBus_.reset();
    SetDefaultClock(nullptr);
    ScanTestBase::TearDown();
  }
  sim::SimScanner& sim() { return sti_->scanner(); }

  FakeClock clock_;
  RecordingStitchHost host;
  std::unique_ptr<sim::ScopedPassThrough> noBus_;
  std::unique_ptr<sim::ScopedStiScanner> sti_;
  std::unique_ptr<CTrennic> scanner_;
};

TEST(SeamGroups, ShownGroupsAndValuesSentByCameraCount) {
  struct Case {
    int cameraCount, groups, sent;
  };
  const Case cases[] = {{2, 2, 3}, {1, 3, 3}, {3, 5, 3}, {5, 5, 5}, {0, 5, 3}};
  for (const Case& c : cases) {
    EXPECT_EQ(VisibleSeamGroups(c.cameraCount), c.groups) << c.cameraCount;
    EXPECT_EQ(SeamValuesSent(c.cameraCount), c.sent) << c.cameraCount;
  }
}

TEST(SeamZoom, RegionAroundEachSeamInsideTheImage) {
  struct Case {
    int seam, width, height, cw, ch, cameras;
    bool some;
    Rect region;
  };
  const Case cases[] = {
      // r = 2: 50 lines high, 100 pixels wide around k x (width / cameras).
      {1, 3000, 1000, 800, 400, 3, true, {950, 475, 1050, 525}},
      {2, 3000, 1000, 800, 400, 3, true, {1950, 475, 2050, 525}},
      {1, 3000, 1000, 400, 400, 2, true, {1475, 475, 1525, 525}},
      {3, 3000, 1000, 800, 400, 3, false, {}},  // k x (width / cameras) is the image's end
      {1, 3000, 1000, 800, 400, 0, false, {}},  // no cameras: nothing to divide by
      {1, 0, 0, 800, 400, 3, false, {}},
      {5, 3000, 1000, 800, 400, 3, false, {}},
      {1, 60, 30, 800, 0, 1, false, {}},        // one camera: seam 1 is the image's end
      {1, 120, 30, 800, 400, 2, true, {10, 0, 110, 30}},  // kept inside a small image
  };
  for (const Case& c : cases) {
    const auto r = SeamZoomRegion(c.seam, c.width, c.height, c.cw, c.ch, c.cameras);
    ASSERT_EQ(r.has_value(), c.some) << "seam " << c.seam << " cameras " << c.cameras;
    if (r) {
      EXPECT_EQ(*r, c.region) << "seam " << c.seam << " cameras " << c.cameras;
    }
  }
}

TEST_F(StitchTest, OpeningShowsTheScannersValuesAndSendsThemBack) {
  ManualStitchModel dlg(*scanner_, host);
  dlg.OnInitDialog();
  const int fb[5] = {3, 4, 5, 6, 7};
  const int st[5] = {100, 110, 120, 130, 140};
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(dlg.Control(kFrontBack[k]).position, 14 - fb[k]);
    EXPECT_EQ(dlg.Control(kFrontBackText[k]).text, std::to_string(fb[k]));
    EXPECT_EQ(dlg.Control(kStitch[k]).position, st[k]);
    EXPECT_EQ(dlg.Control(kStitchText[k]).text, std::to_string(st[k]));
    EXPECT_TRUE(dlg.Control(kSeamLabel[k]).shown) << "camera count 3 shows all five groups";
  }
  EXPECT_EQ(sim().Parameter(26), (std::vector<uint8_t>{3, 4, 5})) << "three values for camera count 3";
  EXPECT_EQ(sim().Parameter(27), (std::vector<uint8_t>{100, 110, 120}));
  EXPECT_EQ(TextField(ScanSettings.OutputFileName), WorkingFolder() + "/~QelManualStitch.tmp");
}

TEST_F(StitchTest, TwoCameraCountShowsTwoGroupsAndSendsThreeValues) {
  ScanSettings.CameraCount = 2;
  ManualStitchModel dlg(*scanner_, host);
  dlg.OnInitDialog();
  for (int k = 0; k < 5; ++k) EXPECT_EQ(dlg.Control(kSeamLabel[k]).shown, k < 2) << k;
  EXPECT_TRUE(dlg.Control(kZoom[0]).shown);
  for (int z = 1; z < 4; ++z) EXPECT_FALSE(dlg.Control(kZoom[z]).shown) << z;
  EXPECT_EQ(sim().Parameter(26)->size(), 3u);
  ScanSettings.CameraCount = 5;
  ManualStitchModel five(*scanner_, host);
  five.OnInitDialog();
  EXPECT_EQ(sim().Parameter(26), (std::vector<uint8_t>{3, 4, 5, 6, 7}));
}

TEST_F(StitchTest, DraggingChangesOnlyTheTextReleasingSendsAllValuesOfThatKind) {
  ScanSettings.CameraCount = 5;
  ManualStitchModel dlg(*scanner_, host);
  dlg.OnInitDialog();
  sim().ClearLog();
  dlg.Control(kStitch[1]).position = 150;
  dlg.OnScroll(kStitch[1], SliderCode::ThumbTrack);
  EXPECT_EQ(dlg.Control(kStitchText[1]).text, "150");
  EXPECT_TRUE(sim().Log().empty()) << "nothing is sent while the thumb is dragged";
  dlg.OnScroll(kStitch[1], SliderCode::EndScroll);
  EXPECT_TRUE(sim().Log().empty());
  dlg.OnScroll(kStitch[1], SliderCode::ThumbPosition);
  EXPECT_EQ(sim().Parameter(27), (std::vector<uint8_t>{100, 150, 120, 130, 140}));
  EXPECT_EQ(sim().Parameter(26), (std::vector<uint8_t>{3, 4, 5, 6, 7})) << "the other kind is not sent";

  // A front/back slider at its top (position 0) sends 14.
  dlg.Control(kFrontBack[4]).position = 0;
  dlg.OnScroll(kFrontBack[4], SliderCode::LineLeft);
  EXPECT_EQ(dlg.Control(kFrontBackText[4]).text, "14");
  EXPECT_EQ(sim().Parameter(26), (std::vector<uint8_t>{3, 4, 5, 6, 14}));
  for (SliderCode code : {SliderCode::LineRight, SliderCode::PageLeft, SliderCode::PageRight, SliderCode::Left,
                          SliderCode::Right}) {
    sim().ClearLog();
    dlg.OnScroll(kFrontBack[0], code);
    EXPECT_EQ(sim().LogOf(0x2A).size(), 1u) << static_cast<int>(code);
  }
}

TEST_F(StitchTest, ValuesRoundTripThroughTheScannersMemoryAndRevertGoesBack) {
  ScanSettings.CameraCount = 5;
  {
    ManualStitchModel dlg(*scanner_, host);
    dlg.OnInitDialog();
    dlg.Control(kStitch[0]).position = 77;
    dlg.OnScroll(kStitch[0], SliderCode::ThumbPosition);
    dlg.Control(kFrontBack[2]).position = 10;  // value 4
    dlg.OnScroll(kFrontBack[2], SliderCode::ThumbPosition);
    dlg.Revert();
    EXPECT_EQ(dlg.Control(kStitch[0]).position, 100) << "revert shows the values read at opening";
    EXPECT_EQ(sim().Parameter(27)->at(0), 100) << "and sends them";
    dlg.Control(kStitch[0]).position = 77;
    dlg.OnScroll(kStitch[0], SliderCode::ThumbPosition);
    EXPECT_TRUE(dlg.OnClose());
  }
  ManualStitchModel again(*scanner_, host);
  again.OnInitDialog();
  EXPECT_EQ(again.Control(kStitch[0]).position, 77);
  EXPECT_EQ(again.Control(kStitchText[0]).text, "77");
}

TEST_F(StitchTest, UnreadableOrOutOfRangeCameraDataShowsSafeValues) {
  sim().FailCommand(1, {0x04, 0x44, 0x00}, 0x1D);  // the camera data cannot be asked for
  ManualStitchModel dlg(*scanner_, host);
  dlg.OnInitDialog();
  EXPECT_EQ(dlg.Control(kStitchText[0]).text, "0");
  EXPECT_EQ(dlg.Control(kFrontBack[0]).position, 14);
  ASSERT_TRUE(scanner_->SetFrontBackAlign(200, 4, 5));
  ManualStitchModel high(*scanner_, host);
  high.OnInitDialog();
  EXPECT_EQ(high.Control(kFrontBack[0]).position, 0) << "a value beyond 14 sits at the slider's end";
  EXPECT_EQ(high.Control(kFrontBackText[0]).text, "14");
}

TEST_F(StitchTest, TestScanSetsTheTestSettingsAndAsksTheFrameToScan) {
  ManualStitchModel dlg(*scanner_, host);
  dlg.OnInitDialog();
  dlg.OnTestScan();
  const ScanSettingsRecord& s = ScanSettings;
  EXPECT_EQ(s.CustomWidth, 3600);
  EXPECT_EQ(s.CustomLength, 3000);
  EXPECT_EQ(s.SizeMode, 2);
  EXPECT_EQ(s.ResolutionIndex, 0);
  EXPECT_EQ(TextField(s.ResolutionText), "400");
  EXPECT_EQ(s.ColourMode, 3);
  EXPECT_FLOAT_EQ(s.GammaGreen, 1.0f);
  EXPECT_EQ(s.ScanSpeed, 3);
  EXPECT_EQ(s.ScanBrightness, 5);
  EXPECT_EQ(s.WindowVendorOption, 1);
  EXPECT_EQ(s.OutputIsPlainTiff, 1);
  EXPECT_EQ(host.sent, (std::vector<std::pair<uint32_t, uintptr_t>>{
                           {WM_SCANNER_LOAD, 1}, {WM_SCAN_BATCH_WAIT, WM_SCAN_NEW_DOCUMENT}}));
  host.sent.clear();
  host.status = Bits(ScanState::DecisionPending);
  dlg.OnTestScan();
  EXPECT_EQ(host.sent, (std::vector<std::pair<uint32_t, uintptr_t>>{{WM_SCAN_BATCH_WAIT, WM_SCAN_DISCARD_RESTART}}));
}

TEST_F(StitchTest, TimerFollowsTheScanState) {
  ManualStitchModel dlg(*scanner_, host);
  dlg.OnInitDialog();
  struct Case {
    uint32_t status;
    bool idleControls, stop, zoom;
  };
  const Case cases[] = {{0, true, false, false}, {1, false, true, false}, {2, true, false, true}};
  for (const Case& c : cases) {
    host.status = c.status;
    EXPECT_FALSE(dlg.OnTimer());
    for (int id : {kTestScan, kOk, kRevert, kStitch[0], kFrontBackText[2]})
      EXPECT_EQ(dlg.Control(id).enabled, c.idleControls) << c.status << " " << id;
    EXPECT_EQ(dlg.Control(kStop).enabled, c.stop) << c.status;
    EXPECT_EQ(dlg.Control(kZoom[0]).enabled, c.zoom) << c.status;
  }
}

TEST_F(StitchTest, ClosingAfterATestScanRejectsItAndRestoresTheSettings) {
  const ScanSettingsRecord user = ScanSettings;
  ManualStitchModel dlg(*scanner_, host);
  dlg.OnInitDialog();
  dlg.OnTestScan();
  host.sent.clear();
  host.status = Bits(ScanState::DecisionPending);
  EXPECT_TRUE(dlg.OnClose());
  EXPECT_EQ(host.sent, (std::vector<std::pair<uint32_t, uintptr_t>>{{WM_SCAN_REJECT_PAGE, 0}}));
  EXPECT_TRUE(ScanSettings == user);
  EXPECT_EQ(host.refreshes, 1);
}

TEST_F(StitchTest, ClosingWhileTheTestScanRunsStopsItAndRestoresOnlyOnceItHasEnded) {
  const ScanSettingsRecord user = ScanSettings;
  ManualStitchModel dlg(*scanner_, host);
  dlg.OnInitDialog();
  dlg.OnTestScan();
  host.sent.clear();
  host.status = Bits(ScanState::Scanning);
  EXPECT_FALSE(dlg.OnClose());
  EXPECT_EQ(host.sent, (std::vector<std::pair<uint32_t, uintptr_t>>{{WM_SCAN_STOP, 0}}));
  EXPECT_EQ(ScanSettings.ColourMode, 3) << "the running scan keeps its settings";
  EXPECT_FALSE(dlg.OnTimer());
  EXPECT_EQ(ScanSettings.ColourMode, 3);
  host.status = Bits(ScanState::DecisionPending);  // the stopped scan has ended
  EXPECT_TRUE(dlg.OnTimer());
  EXPECT_EQ(host.sent.back(), (std::pair<uint32_t, uintptr_t>{WM_SCAN_REJECT_PAGE, 0}));
  EXPECT_TRUE(ScanSettings == user);
}

TEST_F(StitchTest, ZoomShowsTheSeamRegionOfTheActiveImage) {
  ManualStitchModel dlg(*scanner_, host);
  dlg.OnInitDialog();
  dlg.OnZoom(2);
  ASSERT_EQ(host.regions.size(), 1u);
  EXPECT_EQ(host.regions[0], (Rect{1950, 475, 2050, 525}));
  dlg.OnZoom(3);  // past the image for three cameras
  host.hasImage = false;
  dlg.OnZoom(1);
  EXPECT_EQ(host.regions.size(), 1u);
}

}  // namespace
}  // namespace orb::test
