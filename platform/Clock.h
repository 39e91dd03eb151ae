// Time as the program sees it. Every poll, warm-up and tick goes through a Clock so that
// tests drive time with a FakeClock and never sleep for real.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <mutex>

namespace orb {

class Clock {
 public:
  using Ms = std::chrono::milliseconds;
  virtual ~Clock() = default;
  // Monotonic milliseconds since an arbitrary origin (the tick count).
  virtual int64_t NowMs() = 0;
  // Wall-clock time, for time stamps and schedules.
  virtual std::time_t WallTime() = 0;
  virtual void Sleep(Ms duration) = 0;
};

class SystemClock final : public Clock {
 public:
  int64_t NowMs() override;
  std::time_t WallTime() override;
  void Sleep(Ms duration) override;
};

// The process-wide clock; tests may replace it (and must restore it).
Clock& DefaultClock();
void SetDefaultClock(Clock* clock);  // nullptr restores the system clock

// A clock whose time moves only when told to, or by the sleeps made on it.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(int64_t startMs = 0, std::time_t wall = 1'700'000'000)
      : nowMs_(startMs), wall_(wall) {}
  int64_t NowMs() override { return nowMs_.load(); }
  std::time_t WallTime() override {
    return wall_.load() + static_cast<std::time_t>(nowMs_.load() / 1000);
  }
  void Sleep(Ms duration) override {
    sleptMs_ += duration.count();
    ++sleeps_;
    nowMs_ += duration.count();
  }
  void Advance(Ms duration) { nowMs_ += duration.count(); }
  void SetWallTime(std::time_t t) { wall_ = t - static_cast<std::time_t>(nowMs_.load() / 1000); }
  int64_t TotalSleptMs() const { return sleptMs_.load(); }
  int SleepCount() const { return sleeps_.load(); }

 private:
  std::atomic<int64_t> nowMs_;
  std::atomic<std::time_t> wall_;
  std::atomic<int64_t> sleptMs_{0};
  std::atomic<int> sleeps_{0};
};

}  // namespace orb
