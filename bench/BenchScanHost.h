// A scan host for the scan benchmarks: no window, no questions (every one answered yes),
// no progress, and all the free space asked for. The clock is the benchmark's choice: a
// fake one leaves a scanner's settle times out of the figures.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/Messages.h"
#include "scanning/ScanHost.h"

namespace orb::bench {

template <class ClockType>
class QuietScanHost final : public orb::ScanHost {
 public:
  void PostToFrame(uint32_t, uintptr_t, intptr_t) override {}
  void SendToFrame(uint32_t, uintptr_t, intptr_t) override {}
  void PostToThumbnails(uint32_t, uintptr_t, intptr_t) override {}
  bool AskYesNo(int, std::string_view) override { return true; }
  void ShowMessage(int, orb::MessageIcon, const std::vector<orb::MessageArg>&) override {}
  void ShowText(std::string_view, std::string_view, orb::MessageIcon) override {}
  void ProgressBegin(int, int) override {}
  void ProgressStep() override {}
  void ProgressEnd() override {}
  void WaitCursor(bool) override {}
  void PumpMessages() override {}
  orb::IDisplaySink* Display() override { return nullptr; }
  orb::Clock& GetClock() override { return clock_; }
  bool HasFreeSpace(const std::string&, int64_t) override { return true; }

 private:
  ClockType clock_;
};

}  // namespace orb::bench
