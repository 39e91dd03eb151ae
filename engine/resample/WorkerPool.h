// A small pool of worker threads that runs one job split into parts and waits for all of
// them. Filters use it to spread the columns or lines of one band over several cores while
// every output sample is still computed by exactly the same arithmetic as on one thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace orb {

class WorkerPool {
public:
  // threads is the number of parts that can run at once, the calling thread included;
  // 0 picks the number of cores (at most 8). A pool of 1 runs everything inline.
  explicit WorkerPool(unsigned threads = 0);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  unsigned Size() const { return size_; }

  // Runs job(part) for part = 0 .. parts-1 and returns when all are done. The calling
  // thread takes part of the work. Not re-entrant.
  void Run(unsigned parts, const std::function<void(unsigned)>& job);

  static unsigned DefaultThreads();

private:
  void WorkerLoop();
  // Takes and runs parts of the current job until none is left; `lock` holds mutex_ on
  // entry and on return, and is released while a part runs.
  void TakeParts(std::unique_lock<std::mutex>& lock);

  unsigned size_ = 1;
  std::vector<std::thread> workers_;
  // Everything below is guarded by mutex_. Workers and the caller sleep on the two
  // conditions, never spin: on a machine busier than its cores a spinning thread takes
  // the time the thread it waits for needs.
  std::mutex mutex_;
  std::condition_variable wake_;  // a new job, or stop
  std::condition_variable done_;  // the last part of the job finished
  const std::function<void(unsigned)>* job_ = nullptr;
  unsigned parts_ = 0;
  unsigned next_ = 0;      // next part to take
  unsigned finished_ = 0;  // parts done
  uint64_t generation_ = 0;
  bool stop_ = false;
};

}  // namespace orb
