#include "platform/Clock.h"

#include <thread>

namespace orb {

int64_t SystemClock::NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::time_t SystemClock::WallTime() { return std::time(nullptr); }

void SystemClock::Sleep(Ms duration) { std::this_thread::sleep_for(duration); }

namespace {
SystemClock g_systemClock;
std::atomic<Clock*> g_clock{&g_systemClock};
}  // namespace

Clock& DefaultClock() { return *g_clock.load(); }

void SetDefaultClock(Clock* clock) { g_clock.store(clock ? clock : &g_systemClock); }

}  // namespace orb
