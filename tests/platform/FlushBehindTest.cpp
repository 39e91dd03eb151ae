#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/FlushBehind.h"
#include "tests/platform/TempFolder.h"

namespace {

using orb::testing::TempFolder;

// Waits up to two seconds for `flusher` to have done `n` flushes.
bool FlushesReach(const orb::FlushBehind& flusher, int n) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (flusher.Flushes() < n && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return flusher.Flushes() >= n;
}

TEST(FlushBehind, FlushesOnceAStepIsWrittenAndNotBefore) {
  TempFolder dir;
  const int fd = ::open((dir / "grows.bin").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
  ASSERT_GE(fd, 0);
  std::vector<char> bytes(4096, 'x');
  orb::FlushBehind flusher(fd, 3 * 4096);
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), 4096);
    flusher.Wrote(4096);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(flusher.Flushes(), 0) << "two thirds of a step";
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), 4096);
  flusher.Wrote(4096);
  EXPECT_TRUE(FlushesReach(flusher, 1));
  flusher.Stop();
  EXPECT_FALSE(flusher.Failed());
  flusher.Stop();  // a second stop is harmless
  ::close(fd);
}

TEST(FlushBehind, AFailedFlushIsKeptForTheOwner) {
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  {
    orb::FlushBehind flusher(pipeEnds[1], 1);  // a pipe cannot be flushed
    flusher.Wrote(1);
    ASSERT_TRUE(FlushesReach(flusher, 1));
    flusher.Stop();
    EXPECT_TRUE(flusher.Failed());
  }
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);
}

TEST(FlushBehind, StopsAtOnceWhenNothingWasWritten) {
  const auto start = std::chrono::steady_clock::now();
  {
    orb::FlushBehind flusher(-1);
    EXPECT_EQ(flusher.Flushes(), 0);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

}  // namespace
