// A small event object with the semantics the worker threads were written for:
// auto-reset (one waiter is released and the event clears) or manual-reset (stays set
// until Reset), a wait with an optional time-out, and Close, which wakes every waiter
// and makes all later waits fail, so that a thread blocked on a closed event ends.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace orb {

enum class WaitResult { Signaled, TimedOut, Closed };

class Event {
 public:
  enum class Reset { Auto, Manual };

  explicit Event(Reset mode = Reset::Auto, bool initiallySet = false)
      : manual_(mode == Reset::Manual), set_(initiallySet) {}
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void ResetEvent();
  // Waits without a time limit.
  WaitResult Wait();
  WaitResult WaitFor(std::chrono::milliseconds timeout);
  void Close();
  bool IsClosed() const;
  bool IsSet() const;

 private:
  bool ConsumeLocked();

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  const bool manual_;
  bool set_;
  bool closed_ = false;
};

}  // namespace orb
