#include "engine/resample/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

TEST(WorkerPool, EveryPartRunsExactlyOnceInEveryJob) {
  for (unsigned threads : {1u, 2u, 5u}) {
    orb::WorkerPool pool(threads);
    EXPECT_GE(pool.Size(), 1u);
    std::vector<std::atomic<int>> hits(7);
    for (int job = 0; job < 3000; ++job) {
      const unsigned parts = 1 + job % 7;
      for (auto& h : hits) h.store(0);
      pool.Run(parts, [&](unsigned p) { hits[p].fetch_add(1); });
      for (unsigned p = 0; p < 7; ++p) ASSERT_EQ(hits[p].load(), p < parts ? 1 : 0) << job;
    }
  }
}

TEST(WorkerPool, ZeroPartsDoesNothing) {
  orb::WorkerPool pool(3);
  int calls = 0;
  pool.Run(0, [&](unsigned) { ++calls; });
  EXPECT_EQ(calls, 0);
}
