// A scanner object opened on a simulated scanner, with a test clock installed.
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include <memory>
#include <vector>

#include "platform/Clock.h"
#include "platform/sim/SimAttach.h"
#include "platform/sim/SimScanner.h"
#include "scanner_library/trennic.h"

namespace orb::test {

inline std::vector<uint8_t> Bytes(std::initializer_list<int> v) {
  std::vector<uint8_t> out;
  for (int b : v) out.push_back(static_cast<uint8_t>(b));
  return out;
}

class TrennicFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    orb::SetDefaultClock(&clock_);
    Attach(sim::SimScannerConfig{});
  }
  void TearDown() override {
    trennic_.reset();
    sti_.reset();
    noBus_.reset();
    orb::SetDefaultClock(nullptr);
  }
  // Opens a fresh scanner object on a simulated scanner with `config`, reached over the
  // still-image list (the pass-through manager sees an empty bus).
  void Attach(sim::SimScannerConfig config) {
    trennic_.reset();
    sti_.reset();
    // The old bus goes first: its end puts back the pass-through it replaced, which would
    // otherwise undo the new empty bus.
    noBus_.reset();
    noBus_ = std::make_unique<sim::ScopedPassThrough>(std::make_shared<sim::SimScsiBus>(0));
    sti_ = std::make_unique<sim::ScopedStiScanner>(std::move(config));
    trennic_ = std::make_unique<CTrennic>();
    ASSERT_TRUE(trennic_->Open(info_));
    sim().ClearLog();
  }
  sim::SimScanner& sim() { return sti_->scanner(); }
  CTrennic& t() { return *trennic_; }

  orb::FakeClock clock_;
  DeviceInfoType info_{};
  std::unique_ptr<sim::ScopedPassThrough> noBus_;
  std::unique_ptr<sim::ScopedStiScanner> sti_;
  std::unique_ptr<CTrennic> trennic_;
};

}  // namespace orb::test
