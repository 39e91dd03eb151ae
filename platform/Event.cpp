#include "platform/Event.h"

namespace orb {

void Event::Set() {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    set_ = true;
  }
  if (manual_)
    cv_.notify_all();
  else
    cv_.notify_one();
}

void Event::ResetEvent() {
  std::lock_guard lock(mutex_);
  set_ = false;
}

bool Event::ConsumeLocked() {
  if (!set_) return false;
  if (!manual_) set_ = false;
  return true;
}

WaitResult Event::Wait() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return closed_ || set_; });
  if (closed_) return WaitResult::Closed;
  ConsumeLocked();
  return WaitResult::Signaled;
}

WaitResult Event::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  bool ready = cv_.wait_for(lock, timeout, [this] { return closed_ || set_; });
  if (closed_) return WaitResult::Closed;
  if (!ready) return WaitResult::TimedOut;
  ConsumeLocked();
  return WaitResult::Signaled;
}

void Event::Close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    set_ = false;
  }
  cv_.notify_all();
}

bool Event::IsClosed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

bool Event::IsSet() const {
  std::lock_guard lock(mutex_);
  return set_;
}

}  // namespace orb
