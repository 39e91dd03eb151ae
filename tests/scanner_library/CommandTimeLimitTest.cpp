// Every command of either transport has a time limit, the simulated devices included: a READ
// the scanner holds back fails when the limit has passed on the clock, without anyone
// stopping the scan, and the scanner object reports a SCSI error.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/sg/PassThrough.h"
#include "tests/common/ProcessUtil.h"
#include "tests/scanner_library/TrennicFixture.h"

namespace orb::test {
namespace {

// Waits (in real time, bounded) until `done` holds; only a failing test waits long.
bool WaitUntil(const std::function<bool()>& done) {
  return orbtest::WaitFor(done, std::chrono::seconds(20), std::chrono::milliseconds(1));
}

// Starts a READ on its own thread while the scanner holds reads back; after `advanceMs` on the
// clock the READ has ended as a failed command (endsThen) or is still held.
void HeldReadEndsAt(CTrennic& t, sim::SimScanner& s, orb::FakeClock& clock, int64_t advanceMs,
                    bool endsThen) {
  WindowDescriptorType w{};
  w.XResolution = w.YResolution = 200;
  w.Width = 100;
  w.Length = 400;
  w.ImageComposition = 2;
  w.BitsPerPixel = 8;
  ASSERT_TRUE(t.SetWindow(w, 0, false));
  ASSERT_TRUE(t.StartScan());
  s.StallReads(true);
  std::atomic<int> result{-1};
  std::vector<uint8_t> buf(800);
  std::thread reader([&] {
    DataTransferType rec{800, buf.data(), 0};
    result = t.ReadData(&rec);
  });
  struct Release {
    sim::SimScanner& s;
    std::thread& r;
    ~Release() {
      s.StallReads(false);
      r.join();
    }
  } release{s, reader};
  ASSERT_TRUE(WaitUntil([&] { return s.StalledReads() > 0; }));
  clock.Advance(std::chrono::milliseconds(advanceMs));
  if (!endsThen) {
    // Not yet: the READ is still held a while later.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(result.load(), -1);
    EXPECT_EQ(s.StalledReads(), 1);
    return;
  }
  ASSERT_TRUE(WaitUntil([&] { return result.load() != -1; })) << "the held READ has no time limit";
  EXPECT_EQ(result.load(), READ_FAILED);
  EXPECT_EQ(t.GetLastTrennicError(), TRENNIC_SCSI_ERROR);
}

class StillImageTimeLimit : public TrennicFixture {};

TEST_F(StillImageTimeLimit, AHeldReadIsHeldUpToTheLimit) {
  HeldReadEndsAt(t(), sim(), clock_, passthru::kCommandTimeLimitMs - 1000, false);
}

TEST_F(StillImageTimeLimit, AHeldReadFailsAtTheLimit) {
  HeldReadEndsAt(t(), sim(), clock_, passthru::kCommandTimeLimitMs, true);
}

class PassThroughTimeLimit : public ::testing::Test {
 protected:
  void SetUp() override {
    orb::SetDefaultClock(&clock_);
    bus_->Attach(0, 0, dev_);
    ASSERT_TRUE(t_.Open(info_));
  }
  void TearDown() override { orb::SetDefaultClock(nullptr); }
  orb::FakeClock clock_;
  std::shared_ptr<sim::SimScsiBus> bus_ = std::make_shared<sim::SimScsiBus>(1);
  std::shared_ptr<sim::SimScanner> dev_ = std::make_shared<sim::SimScanner>();
  sim::ScopedPassThrough pt_{bus_};
  CTrennic t_;
  DeviceInfoType info_{};
};

TEST_F(PassThroughTimeLimit, AHeldReadFailsAtTheLimit) {
  HeldReadEndsAt(t_, *dev_, clock_, passthru::kCommandTimeLimitMs, true);
}

}  // namespace
}  // namespace orb::test
