// Calibration and camera alignment of a SCSI-family scanner against the simulated scanner,
// on a fake clock: the command sequences, the question by model, the light-only run, Esc,
// a failing, silent or hanging scanner, and what stays of the previous calibration.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/sim/SimAttach.h"
#include "platform/sim/SimScanner.h"
#include "scanner_library/trennic.h"
#include "scanning/ScannerService.h"
#include "tests/scanning/FakeScanHost.h"
#include "tests/scanning/ScanTestSupport.h"

namespace orb::test {
namespace {

using namespace service_strings;

class ServiceTest : public ScanTestBase {
 protected:
  void SetUp() override {
    ScanTestBase::SetUp();
    SetDefaultClock(&host.clock);
    Fresh();
    s.ModelCode = 9;
    s.CameraCount = 3;
  }
  // A newly attached scanner and a host that has shown nothing yet.
  void Fresh() {
    scanner_.reset();
    sti_.reset();
    noBus_.reset();
    host.messages.clear();
    host.icons.clear();
    host.questions.clear();
    host.progressTexts.clear();
    host.progressCaptions.clear();
    host.progressEnds = 0;
    host.progressSteps = 0;
    host.pumps = 0;
    host.escAtPump = 0;
    CancelFlag.store(0);
    noBus_ = std::make_unique<sim::ScopedPassThrough>(std::make_shared<sim::SimScsiBus>(0));
    sim::SimScannerConfig config;
    config.diagnosticMs = {{0x85, 6000}, {0x84, 12000}, {0x91, 15000}, {0xA2, 20000}};
    sti_ = std::make_unique<sim::ScopedStiScanner>(config);
    scanner_ = std::make_unique<CTrennic>();
    DeviceInfoType info{};
    ASSERT_TRUE(scanner_->Open(info));
    sim().SetServiceClock(&host.clock);
    sim().ClearLog();
  }
  void TearDown() override {
    scanner_.reset();
    sti_.reset();
    noBus_.reset();
    SetDefaultClock(nullptr);
    ScanTestBase::TearDown();
  }
  sim::SimScanner& sim() { return sti_->scanner(); }
  CTrennic& t() { return *scanner_; }

  // The service commands the scanner saw, in order: "P7" a parameter, "D85" a diagnostic
  // page started, "R" a results poll (runs of polls shown once).
  std::vector<std::string> Commands() {
    std::vector<std::string> out;
    for (const sim::CommandRecord& c : sim().Log()) {
      std::string code;
      if (c.cdb[0] == 0x2A) code = "P" + std::to_string((c.cdb[4] << 8) | c.cdb[5]);
      if (c.cdb[0] == 0x1D && !c.dataOut.empty()) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "D%02X", c.dataOut[0]);
        code = hex;
      }
      if (c.cdb[0] == 0x1C) code = "R";
      if (code.empty() || (code == "R" && !out.empty() && out.back() == "R")) continue;
      out.push_back(code);
    }
    return out;
  }

  FakeScanHost host;
  ScanSettingsRecord s;
  std::unique_ptr<sim::ScopedPassThrough> noBus_;
  std::unique_ptr<sim::ScopedStiScanner> sti_;
  std::unique_ptr<CTrennic> scanner_;
};

TEST_F(ServiceTest, CalibrationRunsDarkLampAndLightStepsAndSaysSo) {
  const int before = sim().CalibrationGeneration();
  EXPECT_EQ(CalibrateScsi(t(), host, s), ServiceOutcome::Completed);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"P7", "D85", "R", "P8", "D84", "R"}));
  EXPECT_EQ(sim().Parameter(8), std::vector<uint8_t>{1}) << "the lamp is switched on";
  EXPECT_EQ(host.questions, std::vector<std::string>{"ok:33051"});
  EXPECT_EQ(host.progressTexts, (std::vector<int>{kDarkText, kLampText, kLightText}));
  EXPECT_EQ(host.messages, std::vector<int>{kCalibrated});
  EXPECT_EQ(host.progressEnds.load(), 1);
  // Six seconds of dark step, a minute of lamp, twelve seconds of light step.
  EXPECT_GE(host.clock.NowMs(), 6000 + 60000 + 12000);
  EXPECT_LT(host.clock.NowMs(), 6000 + 60000 + 12000 + 500);
  EXPECT_EQ(sim().CalibrationGeneration(), before + 1);
  EXPECT_TRUE(sim().LastCalibrationHadDark());
  // A progress step every tenth poll or lamp wait: 60 + 600 + 120 waits.
  // (59 busy polls of the dark step, 600 lamp waits, 119 busy polls of the light step.)
  EXPECT_EQ(host.progressSteps.load(), 5 + 60 + 11);
}

TEST_F(ServiceTest, TheQuestionIsAskedExceptForFourModels) {
  struct Case {
    int model;
    bool asked;
  };
  const Case cases[] = {{2, false}, {5, false}, {6, false}, {15, false}, {3, true}, {13, true}, {22, true}};
  for (const Case& c : cases) {
    host.questions.clear();
    s.ModelCode = c.model;
    s.LightCalibrationOnly = 1;
    EXPECT_EQ(CalibrateScsi(t(), host, s), ServiceOutcome::Completed) << c.model;
    EXPECT_EQ(host.questions.size(), c.asked ? 1u : 0u) << c.model;
  }
  host.answerYes = false;
  s.ModelCode = 3;
  sim().ClearLog();
  host.messages.clear();
  EXPECT_EQ(CalibrateScsi(t(), host, s), ServiceOutcome::Declined);
  EXPECT_TRUE(sim().Log().empty()) << "Cancel sends nothing";
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(ServiceTest, LightOnlyCalibrationSkipsTheDarkStepAndTheLamp) {
  s.LightCalibrationOnly = 1;
  EXPECT_EQ(CalibrateScsi(t(), host, s), ServiceOutcome::Completed);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"D84", "R"}));
  EXPECT_LT(host.clock.NowMs(), 13000) << "no minute of lamp warm-up";
  EXPECT_FALSE(sim().LastCalibrationHadDark());
  EXPECT_EQ(host.messages, std::vector<int>{kCalibrated});
}

TEST_F(ServiceTest, EscDuringTheLampWaitEndsWithTheLightStepsMessage) {
  // The dark step takes 60 polls (one pump each); Esc comes 100 waits into the lamp.
  host.escAtPump = 160;
  const int before = sim().CalibrationGeneration();
  EXPECT_EQ(CalibrateScsi(t(), host, s), ServiceOutcome::Cancelled);
  EXPECT_EQ(host.messages, std::vector<int>{kLightFailed});
  EXPECT_EQ(host.icons.back(), MessageIcon::Error);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"P7", "D85", "R", "P8"})) << "no light step";
  EXPECT_EQ(sim().CalibrationGeneration(), before) << "the previous calibration stays";
  EXPECT_EQ(host.progressEnds.load(), 1);
}

TEST_F(ServiceTest, EachFailingStepShowsItsOwnMessageAndKeepsTheCalibration) {
  struct Case {
    uint8_t page;
    uint8_t endStatus;  // 0: the step fails; else the status it ends with
    int message;
  };
  const Case cases[] = {{0x85, 0, kDarkFailed}, {0x84, 0, kLightFailed}, {0x84, 0x81, kLightFailed}};
  for (const Case& c : cases) {
    Fresh();
    const int before = sim().CalibrationGeneration();
    if (c.endStatus)
      sim().SetDiagnosticEndStatus(c.page, c.endStatus);  // both bits: a failure
    else
      sim().SetDiagnosticDuration(c.page, 3000, true);
    EXPECT_EQ(CalibrateScsi(t(), host, s), ServiceOutcome::Failed) << int(c.page);
    EXPECT_EQ(host.messages, std::vector<int>{c.message}) << int(c.page);
    EXPECT_EQ(sim().CalibrationGeneration(), before);
  }
}

TEST_F(ServiceTest, AHangingStepIsStoppedAtItsLimitAndASilentScannerEndsTheStep) {
  sim().SetDiagnosticDuration(0x85, -1, false);
  ServiceLimits limits;
  limits.stepLimitMs = 30000;
  EXPECT_EQ(CalibrateScsi(t(), host, s, limits), ServiceOutcome::TimedOut);
  EXPECT_EQ(host.messages, std::vector<int>{kDarkFailed});
  const auto commands = Commands();
  ASSERT_GE(commands.size(), 2u);
  EXPECT_EQ(commands.back(), "D80") << "the hanging step is stopped";
  EXPECT_GE(host.clock.NowMs(), 30000);
  EXPECT_LT(host.clock.NowMs(), 31000);

  host.messages.clear();
  s.LightCalibrationOnly = 1;
  sim().FailCommand(1, {0x04, 0x44, 0x00}, 0x1C);
  sim().FailCommand(1, {0x04, 0x44, 0x00}, 0x1C);
  sim().FailCommand(1, {0x04, 0x44, 0x00}, 0x1C);
  EXPECT_EQ(CalibrateScsi(t(), host, s), ServiceOutcome::NoAnswer);
  EXPECT_EQ(host.messages, std::vector<int>{kLightFailed});
}

TEST_F(ServiceTest, EscStopsTheStepAfterAnotherWaitExceptInTheSecondAlignmentStep) {
  for (bool waitBeforeStop : {true, false}) {
    CancelFlag.store(0);
    (void)t().AutoFrontBackDiagnostic();
    host.escAtPump = host.pumps.load() + 1;
    const int64_t start = host.clock.TotalSleptMs();
    EXPECT_EQ(PollDiagnosticStep(t(), host, waitBeforeStop, ServiceLimits{}), ServiceOutcome::Cancelled);
    EXPECT_EQ(host.clock.TotalSleptMs() - start, waitBeforeStop ? 200 : 100);
    EXPECT_EQ(Commands().back(), "D80");
  }
}

TEST_F(ServiceTest, AlignmentRunsBothStepsAndLeavesTheScannersResults) {
  sim().SetAlignmentResults({101, 102, 103, 104, 105}, {1, 2, 3, 4, 5});
  EXPECT_EQ(AlignScannerScsi(t(), host, s), ServiceOutcome::Completed);
  EXPECT_EQ(host.questions, std::vector<std::string>{"ok:33052"});
  EXPECT_EQ(host.progressCaptions, std::vector<int>{kAlignCaption});
  EXPECT_EQ(host.progressTexts, std::vector<int>{kLeftRightText});
  EXPECT_EQ(host.messages, std::vector<int>{kAligned});
  const auto commands = Commands();
  // The camera data read first (to put it back should the alignment not complete).
  ASSERT_GE(commands.size(), 4u);
  EXPECT_EQ(commands[0], "DA6");
  EXPECT_EQ(std::vector<std::string>(commands.end() - 4, commands.end()),
            (std::vector<std::string>{"D91", "R", "DA2", "R"}));
  EXPECT_EQ(sim().LeftRightStitch(), (std::array<uint8_t, 5>{101, 102, 103, 104, 105}));
  EXPECT_EQ(sim().FrontBackAlign(), (std::array<uint8_t, 5>{1, 2, 3, 4, 5}));
  EXPECT_GE(host.clock.NowMs(), 35000);
}

TEST_F(ServiceTest, AnAlignmentThatDoesNotCompleteRestoresThePreviousSeams) {
  struct Case {
    uint8_t failingPage;
    int cameraCount;
    int message;
  };
  const Case cases[] = {{0xA2, 3, kLeftRightFailed}, {0xA2, 5, kLeftRightFailed}, {0x91, 5, kFrontBackFailed}};
  for (const Case& c : cases) {
    Fresh();
    s.CameraCount = c.cameraCount;
    ASSERT_TRUE(t().SetFrontBackAlign(7, 8, 9, 10, 11));
    ASSERT_TRUE(t().SetLeftRightStitch(90, 91, 92, 93, 94));
    sim().SetAlignmentResults({1, 1, 1, 1, 1}, {2, 2, 2, 2, 2});
    sim().SetDiagnosticDuration(c.failingPage, 4000, true);
    EXPECT_EQ(AlignScannerScsi(t(), host, s), ServiceOutcome::Failed);
    EXPECT_EQ(host.messages, std::vector<int>{c.message});
    // The values are put back in the form the camera count takes (three or five seams).
    const size_t n = c.cameraCount >= 5 ? 5 : 3;
    const std::array<uint8_t, 5> fb = sim().FrontBackAlign(), lr = sim().LeftRightStitch();
    const std::vector<uint8_t> fbBefore = {7, 8, 9, 10, 11}, lrBefore = {90, 91, 92, 93, 94};
    EXPECT_EQ(std::vector<uint8_t>(fb.begin(), fb.begin() + n), std::vector<uint8_t>(fbBefore.begin(), fbBefore.begin() + n))
        << int(c.failingPage);
    EXPECT_EQ(std::vector<uint8_t>(lr.begin(), lr.begin() + n), std::vector<uint8_t>(lrBefore.begin(), lrBefore.begin() + n));
    EXPECT_EQ(sim().Parameter(26)->size(), n);
  }
}

TEST_F(ServiceTest, EscDuringAlignmentStopsAndRestores) {
  ASSERT_TRUE(t().SetFrontBackAlign(7, 8, 9));
  sim().SetAlignmentResults({1, 1, 1, 1, 1}, {2, 2, 2, 2, 2});
  host.escAtPump = 200;  // inside the left/right step (front/back takes 150 polls)
  EXPECT_EQ(AlignScannerScsi(t(), host, s), ServiceOutcome::Cancelled);
  EXPECT_EQ(host.messages, std::vector<int>{kLeftRightFailed});
  EXPECT_EQ(sim().FrontBackAlign()[0], 7);
  host.answerYes = false;
  host.messages.clear();
  EXPECT_EQ(AlignScannerScsi(t(), host, s), ServiceOutcome::Declined);
  EXPECT_TRUE(host.messages.empty());
}

}  // namespace
}  // namespace orb::test
