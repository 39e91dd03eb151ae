// How many threads a codec of the library may work on.
#pragma once

#include <sched.h>

#include <algorithm>
#include <cstdlib>
#include <thread>

namespace mill {

// One per processor this process may run on (its affinity, so a process pinned to two
// processors gets two), at most 64. The environment variable `env` sets the count instead
// (tests compare counts; 1 works on the calling thread's share alone).
inline int CodecThreads(const char* env) {
  if (const char* v = std::getenv(env)) {
    const int n = std::atoi(v);
    if (n >= 1 && n <= 256) return n;
  }
  int n = 0;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) n = CPU_COUNT(&set);
  if (n <= 0) n = static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(n, 1, 64);
}

}  // namespace mill
