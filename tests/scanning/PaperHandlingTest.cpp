#include "scanning/PaperHandling.h"

#include <gtest/gtest.h>

#include "scanner_library/trennic.h"
#include "tests/scanning/FakeScanHost.h"
#include "tests/scanning/ScanTestSupport.h"

namespace orb {
namespace {

constexpr uint8_t kSendDiagnostic = 0x1D;
constexpr uint8_t kReceiveDiagnostic = 0x1C;
constexpr uint8_t kSend10 = 0x2A;
constexpr uint8_t kObjectPosition = 0x31;

// A clock that notes how many commands the scanner had seen at each sleep.
class WatchingClock final : public Clock {
 public:
  explicit WatchingClock(sim::SimScanner& s) : sim_(s) {}
  int64_t NowMs() override { return now_; }
  std::time_t WallTime() override { return 0; }
  void Sleep(Ms d) override {
    now_ += d.count();
    sleeps.push_back({d.count(), sim_.CommandCount()});
  }
  std::vector<std::pair<int64_t, size_t>> sleeps;

 private:
  sim::SimScanner& sim_;
  int64_t now_ = 0;
};

class PaperHandling : public test::ScanTestBase {
 protected:
  void SetUp() override {
    ScanTestBase::SetUp();
    sti_ = std::make_unique<sim::ScopedStiScanner>(sim::SimScannerConfig{});
    trennic_ = std::make_unique<CTrennic>();
    DeviceInfoType info{};
    trennic_->Open(info);
    sim().ClearLog();
  }
  void TearDown() override {
    trennic_.reset();
    sti_.reset();
    ScanTestBase::TearDown();
  }
  sim::SimScanner& sim() { return sti_->scanner(); }
  std::unique_ptr<sim::ScopedStiScanner> sti_;
  std::unique_ptr<CTrennic> trennic_;
};

TEST_F(PaperHandling, SensorSequenceWaitsBetweenSwitchAndRead) {
  WatchingClock clock(sim());
  sim().InsertPaper();
  EXPECT_TRUE(IsPaperPresentScsi(*trennic_, clock));
  auto log = sim().Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].cdb[0], kSendDiagnostic);
  EXPECT_EQ(log[1].cdb[0], kReceiveDiagnostic);
  ASSERT_EQ(clock.sleeps.size(), 1u);
  EXPECT_EQ(clock.sleeps[0].first, 200);
  EXPECT_EQ(clock.sleeps[0].second, 1u);  // after the switch, before the read

  sim().RemovePaper();
  EXPECT_FALSE(IsPaperPresentScsi(*trennic_, clock));
}

TEST_F(PaperHandling, FailedReceiveIsNoPaper) {
  FakeClock clock;
  sim().InsertPaper();
  sim().FailCommand(1, sim::Sense{0x05, 0x24, 0x00}, kReceiveDiagnostic);
  EXPECT_FALSE(IsPaperPresentScsi(*trennic_, clock));
  sim().FailCommand(1, sim::Sense{0x05, 0x24, 0x00}, kSendDiagnostic);
  EXPECT_FALSE(IsPaperPresentScsi(*trennic_, clock));
  EXPECT_TRUE(IsPaperPresentScsi(*trennic_, clock));
}

TEST_F(PaperHandling, StagingAndRunOnValues) {
  struct Case { int optical; double staging; double runOn; int sentStaging; int sentRunOn; };
  const Case cases[] = {{400, 0.5, 0.25, 200, 250}, {400, -0.25, 0.0, -100, 0}, {600, 1.0, 1.5, 600, 1500}};
  for (const Case& c : cases) {
    ScanSettingsRecord s;
    s.OpticalDpi = c.optical;
    s.StagingPosition = c.staging;
    s.RunOnLength = c.runOn;
    ApplyPaperStaging(*trennic_, s);
    EXPECT_EQ(sim().StagingPosition(), c.sentStaging);
    EXPECT_EQ(sim().RunOnParameter(), c.sentRunOn);
  }
}

TEST_F(PaperHandling, NothingChangesWhileScanning) {
  ScanSettingsRecord s;
  s.OpticalDpi = 400;
  s.StagingPosition = 0.5;
  AppStatus.store(1);
  ApplyPaperStaging(*trennic_, s);
  ApplyPaperTransport(*trennic_, s);
  EXPECT_EQ(sim().CommandCount(), 0u);
  AppStatus.store(0);
  s.ManualTransport = 0;
  ApplyPaperTransport(*trennic_, s);
  EXPECT_EQ(sim().LogOf(kSend10).size(), 2u);  // transport mode, then the load delay
  sim().ClearLog();
  s.ManualTransport = 1;
  ApplyPaperTransport(*trennic_, s);
  EXPECT_EQ(sim().LogOf(kSend10).size(), 1u);
}

TEST_F(PaperHandling, LoadAndUnloadCommands) {
  test::FakeScanHost host;
  ScanSettingsRecord s;
  struct Case { int scannerType; int unloadMode; bool load; int command; };
  const Case cases[] = {{0, 1, false, 0}, {0, 0, false, 4}, {1, 0, true, 5}, {0, 0, true, 1}};
  for (const Case& c : cases) {
    s.ScannerType = c.scannerType;
    s.UnloadMode = static_cast<uint8_t>(c.unloadMode);
    sim().ClearLog();
    {
      PaperMover mover(*trennic_, host);
      if (c.load) mover.Load(s, true); else mover.Unload(s, true);
    }
    auto log = sim().LogOf(kObjectPosition);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].cdb[1], c.command);
  }
  EXPECT_TRUE(host.Messages().empty());  // synchronous moves tell nobody
}

TEST_F(PaperHandling, AsynchronousMoveMarksTheScannerBusy) {
  test::FakeScanHost host;
  ScanSettingsRecord s;
  s.UnloadMode = 1;
  {
    PaperMover mover(*trennic_, host);
    mover.Unload(s, false);
    mover.Join();
  }
  auto msgs = host.Messages();
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(msgs[0].msg, WM_SCANNER_BUSY);
  EXPECT_EQ(msgs[0].wParam, 1u);
  EXPECT_EQ(msgs[0].how, 'S');
  EXPECT_EQ(msgs[1].msg, WM_SCANNER_BUSY);
  EXPECT_EQ(msgs[1].wParam, 0u);
  EXPECT_EQ(sim().LogOf(kObjectPosition).size(), 1u);
}

}  // namespace
}  // namespace orb
