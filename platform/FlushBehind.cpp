#include "platform/FlushBehind.h"

#include <unistd.h>

namespace orb {

FlushBehind::FlushBehind(int fd, int64_t step) : fd_(fd), step_(step > 0 ? step : kDefaultStep) {
  thread_ = std::thread(&FlushBehind::Run, this);
}

FlushBehind::~FlushBehind() { Stop(); }

void FlushBehind::Wrote(int64_t bytes) {
  sinceFlush_ += bytes;
  if (sinceFlush_ < step_) return;
  sinceFlush_ = 0;
  {
    std::lock_guard lock(mutex_);
    due_ = true;
  }
  wake_.notify_one();
}

void FlushBehind::Stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void FlushBehind::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return due_ || stop_; });
    if (stop_) return;
    due_ = false;
    lock.unlock();
    if (::fdatasync(fd_) != 0) failed_.store(true);
    flushes_.fetch_add(1);
    lock.lock();
  }
}

}  // namespace orb
