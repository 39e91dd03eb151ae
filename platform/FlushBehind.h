// Flushing a file to the disk while it is still being written.
//
// A file that must be durable when it is closed (fsync before it is renamed to the user's
// name) would otherwise make its last step wait for every byte it holds: a scan of a few
// hundred megabytes written in a third of a second then waits as long again at the end.
// Starting writeback from the writing thread (sync_file_range) is not enough on disks that
// cache writes themselves, virtual disks among them: only a flush empties the device's
// cache, and the final one still had nearly the whole file to push. FlushBehind runs the
// flushes on a thread of its own each time another step of bytes has been written, so the
// disk works beside the writer and the final flush waits for the last step only.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace orb {

class FlushBehind {
 public:
  static constexpr int64_t kDefaultStep = int64_t{16} << 20;

  // Flushes `fd` (fdatasync) each time another `step` bytes are reported written. The
  // descriptor stays the caller's and must stay open until Stop.
  explicit FlushBehind(int fd, int64_t step = kDefaultStep);
  // Stops the thread (see Stop).
  ~FlushBehind();
  FlushBehind(const FlushBehind&) = delete;
  FlushBehind& operator=(const FlushBehind&) = delete;

  // Called by the writing thread after each write. Never waits for the disk: a flush that
  // is still running when the next step is reached is followed by one more.
  void Wrote(int64_t bytes);
  // Waits for a flush under way and ends the thread. The owner's own final flush follows.
  void Stop();
  // True when a flush failed. The failure must be taken from here: the kernel reports a
  // writeback error to one flush of a descriptor only, and this thread may have taken it.
  bool Failed() const { return failed_.load(); }
  // Flushes done so far.
  int Flushes() const { return flushes_.load(); }

 private:
  void Run();

  const int fd_;
  const int64_t step_;
  int64_t sinceFlush_ = 0;  // writing thread only
  std::mutex mutex_;
  std::condition_variable wake_;
  bool due_ = false;
  bool stop_ = false;
  std::atomic<bool> failed_{false};
  std::atomic<int> flushes_{0};
  std::thread thread_;
};

}  // namespace orb
