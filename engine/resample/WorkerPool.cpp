#include "engine/resample/WorkerPool.h"

#include <algorithm>

namespace orb {

unsigned WorkerPool::DefaultThreads() {
  unsigned n = std::thread::hardware_concurrency();
  if (n == 0) n = 1;
  return std::min(n, 8u);
}

WorkerPool::WorkerPool(unsigned threads) {
  size_ = threads == 0 ? DefaultThreads() : threads;
  for (unsigned i = 1; i < size_; ++i) {
    try {
      workers_.emplace_back([this] { WorkerLoop(); });
    } catch (...) {
      break;  // fewer threads than asked: the work still gets done
    }
  }
  size_ = static_cast<unsigned>(workers_.size()) + 1;
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (auto& t : workers_) t.join();
}

// Parts are handed out under the mutex: a job has a few parts of tens of microseconds to
// milliseconds each, so the lock is nothing beside them, and a worker that wakes late can
// only see the current job's counters.
void WorkerPool::TakeParts(std::unique_lock<std::mutex>& lock) {
  while (next_ < parts_) {
    const unsigned part = next_++;
    const auto* job = job_;
    lock.unlock();
    (*job)(part);
    lock.lock();
    if (++finished_ == parts_) done_.notify_one();
  }
}

void WorkerPool::WorkerLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  uint64_t seen = 0;
  for (;;) {
    wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
    if (stop_) return;
    seen = generation_;
    TakeParts(lock);
  }
}

void WorkerPool::Run(unsigned parts, const std::function<void(unsigned)>& job) {
  if (parts == 0) return;
  if (workers_.empty() || parts == 1) {
    for (unsigned p = 0; p < parts; ++p) job(p);
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  job_ = &job;
  parts_ = parts;
  next_ = 0;
  finished_ = 0;
  ++generation_;
  // Only as many workers as there are parts beyond the caller's own are woken.
  if (parts - 1 >= workers_.size()) {
    wake_.notify_all();
  } else {
    for (unsigned i = 0; i + 1 < parts; ++i) wake_.notify_one();
  }
  TakeParts(lock);
  done_.wait(lock, [&] { return finished_ == parts_; });
  job_ = nullptr;
}

}  // namespace orb
