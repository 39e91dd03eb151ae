#include <gtest/gtest.h>

#include <thread>

#include "platform/Bytes.h"
#include "platform/Clock.h"
#include "platform/Event.h"

using namespace std::chrono_literals;
using orb::Event;
using orb::WaitResult;

TEST(Event, AutoResetReleasesOneWaitThenClears) {
  Event e(Event::Reset::Auto, true);
  EXPECT_EQ(e.WaitFor(0ms), WaitResult::Signaled);
  EXPECT_EQ(e.WaitFor(0ms), WaitResult::TimedOut);
}

TEST(Event, ManualResetStaysSetUntilReset) {
  Event e(Event::Reset::Manual, true);
  EXPECT_EQ(e.WaitFor(0ms), WaitResult::Signaled);
  EXPECT_EQ(e.WaitFor(0ms), WaitResult::Signaled);
  e.ResetEvent();
  EXPECT_EQ(e.WaitFor(1ms), WaitResult::TimedOut);
}

TEST(Event, SetFromAnotherThreadWakesWaiter) {
  Event e;
  std::thread t([&] { e.Set(); });
  EXPECT_EQ(e.Wait(), WaitResult::Signaled);
  t.join();
}

TEST(Event, CloseWakesBlockedWaiterAndFailsLaterWaits) {
  Event e;
  WaitResult got = WaitResult::Signaled;
  std::thread t([&] { got = e.Wait(); });
  std::this_thread::sleep_for(5ms);
  e.Close();
  t.join();
  EXPECT_EQ(got, WaitResult::Closed);
  e.Set();
  EXPECT_EQ(e.WaitFor(0ms), WaitResult::Closed);
  EXPECT_TRUE(e.IsClosed());
}

TEST(FakeClock, SleepAdvancesTimeWithoutWaiting) {
  orb::FakeClock c(1000);
  c.Sleep(60'000ms);
  EXPECT_EQ(c.NowMs(), 61'000);
  EXPECT_EQ(c.TotalSleptMs(), 60'000);
  EXPECT_EQ(c.SleepCount(), 1);
}

TEST(DefaultClock, CanBeReplacedAndRestored) {
  orb::FakeClock c(42);
  orb::SetDefaultClock(&c);
  EXPECT_EQ(orb::DefaultClock().NowMs(), 42);
  orb::SetDefaultClock(nullptr);
  EXPECT_NE(&orb::DefaultClock(), static_cast<orb::Clock*>(&c));
}

TEST(Bytes, LittleAndBigEndianRoundTrip) {
  uint8_t b[8] = {};
  orb::PutU32LE(b, 0x11223344u);
  EXPECT_EQ(b[0], 0x44);
  EXPECT_EQ(orb::GetU32LE(b), 0x11223344u);
  orb::PutI16LE(b, -2);
  EXPECT_EQ(orb::GetI16LE(b), -2);
  orb::PutU32BE(b, 0x11223344u);
  EXPECT_EQ(b[0], 0x11);
  EXPECT_EQ(orb::GetU32BE(b), 0x11223344u);
  orb::PutF64LE(b, 2.5);
  EXPECT_EQ(orb::GetF64LE(b), 2.5);
}

TEST(Bytes, TextFieldIsCutOnCharacterBoundaryAndTerminated) {
  uint8_t f[6];
  std::memset(f, 0xAA, sizeof f);
  orb::PutText(f, sizeof f, "abcd\xC3\xA9");  // "abcdé": é does not fit with the NUL
  EXPECT_EQ(orb::GetText(f, sizeof f), "abcd");
  EXPECT_EQ(f[4], 0);
  EXPECT_EQ(f[5], 0);
  orb::PutText(f, sizeof f, "ab");
  EXPECT_EQ(orb::GetText(f, sizeof f), "ab");
}
