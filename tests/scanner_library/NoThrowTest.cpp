// Nothing thrown below the library comes out of it: an allocation failure in the layers
// under a call becomes error type 2 and a plain failure result.
#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <stdexcept>
#include <vector>

#include "platform/sti/StillImage.h"
#include "scanner_library/TrennicDevices.h"
#include "tests/scanner_library/TrennicFixture.h"

namespace orb::test {
namespace {

// What the failing device throws: std::bad_alloc, or (when set) something else.
std::atomic<bool> g_throwOther{false};

// A still-image device in front of a simulated scanner that runs out of memory on demand.
class FailingDevice final : public orb::sti::Device {
 public:
  FailingDevice(std::shared_ptr<orb::sti::Device> inner, std::atomic<bool>* fail)
      : inner_(std::move(inner)), fail_(fail) {}
  int32_t LockDevice(uint32_t ms) override { return inner_->LockDevice(ms); }
  int32_t UnLockDevice() override { return inner_->UnLockDevice(); }
  int32_t Escape(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                 uint32_t* returned) override {
    if (fail_->load()) {
      if (g_throwOther.load()) throw std::runtime_error("the device's driver failed");
      throw std::bad_alloc();
    }
    return inner_->Escape(code, in, inSize, out, outSize, returned);
  }

 private:
  std::shared_ptr<orb::sti::Device> inner_;
  std::atomic<bool>* fail_;
};

class FailingEntry final : public orb::sti::DeviceEntry {
 public:
  explicit FailingEntry(std::atomic<bool>* fail) : fail_(fail) {}
  orb::sti::DeviceInformation Info() const override {
    orb::sti::DeviceInformation i;
    i.type = 1;
    i.internalName = "failing-scanner";
    i.vendorDescription = "Varnholt (test)";
    return i;
  }
  std::shared_ptr<orb::sti::Device> Open(uint32_t mode) override {
    std::unique_ptr<orb::sti::StillImage> si;
    orb::sti::StiCreateInstance(2, si);
    std::vector<orb::sti::DeviceInformation> list;
    si->GetDeviceList(0, 0, list);
    for (const auto& d : list)
      if (d.internalName != "failing-scanner") {
        std::shared_ptr<orb::sti::Device> inner;
        si->CreateDevice(d.internalName, mode, inner);
        return std::make_shared<FailingDevice>(inner, fail_);
      }
    return nullptr;
  }

 private:
  std::atomic<bool>* fail_;
};

TEST(NoThrowTest, AllocationFailureBelowACallBecomesErrorTypeTwo) {
  orb::FakeClock clock;
  orb::SetDefaultClock(&clock);
  {
    sim::ScopedPassThrough none(nullptr);
    std::atomic<bool> fail{false};
    const int handle = orb::trennic::RegisterStillImageDevice(std::make_shared<FailingEntry>(&fail));
    sim::ScopedStiScanner behind;  // listed after the failing entry, so Open takes the entry
    CTrennic t;
    DeviceInfoType info{};
    ASSERT_TRUE(t.Open(info));
    WindowDescriptorType w{};
    w.XResolution = w.YResolution = 200;
    w.Width = 100;
    w.Length = 10;
    w.BitsPerPixel = 8;
    w.ImageComposition = 2;
    w.Flags = 131;
    ASSERT_TRUE(t.SetWindow(w, 0, false));
    ASSERT_TRUE(t.StartScan());
    fail = true;
    EXPECT_FALSE(t.SetFractionalSpeed(2));
    EXPECT_EQ(t.GetLastTrennicError(), TRENNIC_OUT_OF_MEMORY);
    std::vector<unsigned char> buf(100);
    DataTransferType rec{100, buf.data(), 0};
    EXPECT_EQ(t.ReadData(&rec), READ_FAILED);
    AditionalSenseCodeType asc;
    EXPECT_FALSE(t.UnitReady(&asc));
    EXPECT_FALSE(t.StopScan());
    // The device lock was given back on the way out.
    std::unique_ptr<orb::sti::StillImage> si;
    orb::sti::StiCreateInstance(2, si);
    std::vector<orb::sti::DeviceInformation> list;
    si->GetDeviceList(0, 0, list);
    std::shared_ptr<orb::sti::Device> other;
    ASSERT_EQ(si->CreateDevice(list.back().internalName, 3, other), orb::sti::kOk);
    EXPECT_EQ(other->LockDevice(0), orb::sti::kOk);
    other->UnLockDevice();
    // Anything else thrown below is a failure of its own kind, not a shortage of memory.
    g_throwOther = true;
    EXPECT_FALSE(t.SetFractionalSpeed(2));
    EXPECT_EQ(t.GetLastTrennicError(), TRENNIC_INTERNAL_FAILURE);
    EXPECT_EQ(t.ReadData(&rec), READ_FAILED);
    g_throwOther = false;
    fail = false;
    EXPECT_TRUE(t.SetFractionalSpeed(2));
    orb::trennic::UnregisterStillImageDevice(handle);
  }
  orb::SetDefaultClock(nullptr);
}

}  // namespace
}  // namespace orb::test
