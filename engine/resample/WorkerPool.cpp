#include "engine/resample/WorkerPool.h"

#include <algorithm>
#include <chrono>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ORB_PAUSE() _mm_pause()
#else
#define ORB_PAUSE() std::this_thread::yield()
#endif

namespace orb {

namespace {
// Jobs of a streaming filter arrive every few tens of microseconds; a worker that has just
// finished one waits this long for the next before it goes to sleep.
constexpr auto kSpin = std::chrono::microseconds(100);
}  // namespace

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
    stop_.store(true);
  }
  wake_.notify_all();
  for (auto& t : workers_) t.join();
}

// next_ packs the job's generation (high half) with the next part (low half), so that a
// worker that wakes late for an old job can never take a part of a newer one.
void WorkerPool::TakeParts(uint64_t gen) {
  for (;;) {
    uint64_t v = next_.load(std::memory_order_acquire);
    if ((v >> 32) != (gen & 0xFFFFFFFFu)) return;
    const unsigned part = static_cast<unsigned>(v & 0xFFFFFFFFu);
    const unsigned parts = parts_.load(std::memory_order_acquire);
    const auto* job = job_.load(std::memory_order_acquire);
    if (part >= parts) return;
    if (!next_.compare_exchange_weak(v, v + 1, std::memory_order_acq_rel)) continue;
    (*job)(part);
    finished_.fetch_add(1, std::memory_order_acq_rel);
  }
}

void WorkerPool::WorkerLoop() {
  uint64_t seen = 0;
  for (;;) {
    // Spin briefly for the next job, then sleep.
    const auto until = std::chrono::steady_clock::now() + kSpin;
    bool got = false;
    for (int i = 0;; ++i) {
      if (stop_.load(std::memory_order_acquire)) return;
      if (generation_.load(std::memory_order_acquire) != seen) {
        got = true;
        break;
      }
      ORB_PAUSE();
      if ((i & 63) == 63 && std::chrono::steady_clock::now() > until) break;
    }
    if (!got) {
      std::unique_lock<std::mutex> lock(mutex_);
      ++sleepers_;
      wake_.wait(lock, [&] { return stop_.load() || generation_.load() != seen; });
      --sleepers_;
      if (stop_.load()) return;
    }
    seen = generation_.load(std::memory_order_acquire);
    TakeParts(seen);
  }
}

void WorkerPool::Run(unsigned parts, const std::function<void(unsigned)>& job) {
  if (parts == 0) return;
  if (workers_.empty() || parts == 1) {
    for (unsigned p = 0; p < parts; ++p) job(p);
    return;
  }
  const uint64_t gen = generation_.load(std::memory_order_relaxed) + 1;
  // First make the counter untakeable, so that a worker still looking at the previous job
  // cannot pair an old counter value with the new job and part count.
  next_.store((gen & 0xFFFFFFFFu) << 32 | 0xFFFFFFFFu, std::memory_order_seq_cst);
  job_.store(&job, std::memory_order_release);
  parts_.store(parts, std::memory_order_release);
  finished_.store(0, std::memory_order_release);
  next_.store((gen & 0xFFFFFFFFu) << 32, std::memory_order_release);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    generation_.store(gen, std::memory_order_release);
    if (sleepers_ > 0) wake_.notify_all();
  }
  TakeParts(gen);
  while (finished_.load(std::memory_order_acquire) < parts) ORB_PAUSE();
}

}  // namespace orb
