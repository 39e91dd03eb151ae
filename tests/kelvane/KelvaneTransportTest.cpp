// The three transports against simulated scanners on the device lists and on a loopback
// TCP server: which device each opens, the escape base and generation it decides, its error
// numbers, and a network connection that drops or stops answering.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/sim/SimKelvane.h"
#include "platform/wia/Wia.h"
#include "scanning/kelvane/KelvaneErrors.h"
#include "scanning/kelvane/ScannerCommand.h"
#include "tests/common/ProcessUtil.h"

namespace kv = orb::kelvane;
using orb::sim::KelvaneConfigFor;
using orb::sim::KelvaneFault;
using orb::sim::ScopedKelvaneSti;
using orb::sim::ScopedKelvaneWia;
using orb::sim::SimKelvane;
using orb::sim::SimKelvaneServer;

namespace {

std::shared_ptr<SimKelvane> Scanner(int generation, const std::string& name, int32_t code) {
  return std::make_shared<SimKelvane>(KelvaneConfigFor(generation, name, code));
}

// A status escape that goes through: the answer is the 16 status bytes of generation 1.
bool Status(IScannerCommand& t) {
  uint8_t one = 0, out[16];
  uint32_t got = 0;
  return t.Escape(133, &one, 1, out, sizeof out, &got) && got == 16;
}

}  // namespace

TEST(KelvaneDeviceNames, TableAndMatchingRules) {
  size_t n = 0;
  const kv::DeviceName* names = kv::DeviceNames(&n);
  ASSERT_EQ(n, 6u);
  struct Row { const char* name; int32_t base, generation; };
  const Row rows[] = {{"Kelvane Scanner", 0, 1},      {"Kelvane Bn Scanner", 200, 1},
                      {"Kelvane Pv Scanner", 400, 1}, {"Drommel Pv Scanner", 400, 1},
                      {"KelvanePVk Scanner", 600, 2}, {"KelvaneRu Scanner", 800, 2}};
  for (size_t i = 0; i < n; ++i) {
    EXPECT_STREQ(names[i].name, rows[i].name);
    EXPECT_EQ(names[i].escapeBase, rows[i].base);
    EXPECT_EQ(names[i].generation, rows[i].generation);
  }
  EXPECT_EQ(kv::MatchDeviceNamePrefix("Kelvane Pv Scanner #2")->escapeBase, 400);
  EXPECT_EQ(kv::MatchDeviceNameExact("Kelvane Pv Scanner #2"), nullptr);
  EXPECT_EQ(kv::MatchDeviceNameExact("KelvaneRu Scanner")->escapeBase, 800);
  EXPECT_EQ(kv::MatchDeviceNamePrefix("Kelvane"), nullptr);
  EXPECT_EQ(kv::MatchDeviceNamePrefix("kelvane scanner"), nullptr);
}

TEST(KelvaneWia, EscapeGoesOutWithTheBaseOfTheName) {
  auto s = Scanner(1, "Kelvane Bn Scanner", 3);
  ScopedKelvaneWia wia(s);
  CWIACommand t;
  ASSERT_TRUE(t.Open());
  EXPECT_EQ(t.GetModelName(), "Kelvane Bn Scanner");
  EXPECT_EQ(t.GetEscapeBase(), 200);
  EXPECT_EQ(t.GetGeneration(), 1);
  EXPECT_NE(t.GetDeviceHandle(), nullptr);
  uint8_t one = 1, ack = 0;
  uint32_t got = 0;
  // Start needs a window first: the device refuses, but the escape went out.
  (void)t.Escape(104, &one, 1, &ack, 1, &got);
  const auto log = s->Log();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().raw, 304);
  EXPECT_EQ(log.back().code, 104);
}

TEST(KelvaneWia, NameIsMatchedByItsBeginning) {
  SimKelvane::Result r;
  (void)r;
  auto s = std::make_shared<SimKelvane>(KelvaneConfigFor(1, "Kelvane Pv Scanner (USB 2)", 6));
  ScopedKelvaneWia wia(s);
  CWIACommand t;
  ASSERT_TRUE(t.Open());
  EXPECT_EQ(t.GetEscapeBase(), 400);
  EXPECT_EQ(t.GetModelName(), "Kelvane Pv Scanner (USB 2)");
  EXPECT_TRUE(Status(t));

  // The same description on the still-image list is not one of the names.
  ScopedKelvaneSti sti(s);
  CCommandSTI st;
  EXPECT_FALSE(st.Open());
}

TEST(KelvaneWia, ErrorNumbersOfTheOpen) {
  {
    CWIACommand t;  // nothing on the list
    EXPECT_FALSE(t.Open());
    EXPECT_EQ(t.GetLastError(), kv::kErrNotConnected);
    EXPECT_EQ(t.GetLastError(), 0);
  }
  {
    auto other = Scanner(1, "Flatbed 3000", 1);
    ScopedKelvaneWia wia(other);
    CWIACommand t;
    EXPECT_FALSE(t.Open());
    EXPECT_EQ(t.GetLastError(), kv::kErrNotConnected);
  }
  {
    auto s = Scanner(2, "KelvaneRu Scanner", 20);
    ScopedKelvaneWia wia(s, {.cannotCreate = true});
    CWIACommand t;
    EXPECT_FALSE(t.Open());
    EXPECT_EQ(t.GetLastError(), kv::kErrWiaCannotCreate);
  }
  {
    auto s = Scanner(2, "KelvaneRu Scanner", 20);
    ScopedKelvaneWia wia(s, {.noEscape = true});
    CWIACommand t;
    EXPECT_FALSE(t.Open());
    EXPECT_EQ(t.GetLastError(), kv::kErrWiaNoEscape);
    EXPECT_FALSE(Status(t));
  }
  {
    auto s = Scanner(2, "KelvaneRu Scanner", 20);
    ScopedKelvaneWia wia(s, {.nameIsText = false});
    CWIACommand t;
    EXPECT_FALSE(t.Open());
    EXPECT_EQ(t.GetLastError(), kv::kErrNotConnected);
  }
  {
    auto s = Scanner(2, "KelvaneRu Scanner", 20);
    ScopedKelvaneWia wia(s);
    orb::wia::SetPlatformFaults({.noEnumerator = true});
    CWIACommand t;
    EXPECT_FALSE(t.Open());
    EXPECT_EQ(t.GetLastError(), kv::kErrWiaNoEnumerator);
    orb::wia::SetPlatformFaults({.noManager = true});
    EXPECT_FALSE(t.Open());
    orb::wia::SetPlatformFaults({});
    EXPECT_TRUE(t.Open());
  }
}

TEST(KelvaneSti, SkipsADeviceOfTheMakerOutsideTheTable) {
  auto other = Scanner(2, "Kelvane Xy Scanner", 20);
  auto ru = Scanner(2, "KelvaneRu Scanner", 21);
  ScopedKelvaneSti a(other);
  ScopedKelvaneSti b(ru);
  CCommandSTI t;
  ASSERT_TRUE(t.Open());
  EXPECT_EQ(t.GetEscapeBase(), 800);
  EXPECT_EQ(t.GetGeneration(), 2);
  EXPECT_EQ(t.GetModelName(), "KelvaneRu Scanner");
  EXPECT_EQ(t.GetDeviceHandle(), nullptr);
  uint8_t one = 0, out[12];
  uint32_t got = 0;
  EXPECT_TRUE(t.Escape(126, &one, 1, out, sizeof out, &got));
  EXPECT_EQ(ru->Log().back().raw, 926);
  EXPECT_TRUE(other->Log().empty());
}

TEST(KelvaneSti, OnlyTheMakersDevicesAreCandidates) {
  auto s = Scanner(1, "Kelvane Scanner", 1);
  ScopedKelvaneSti sti(s, "Someone Else Imaging");
  CCommandSTI t;
  EXPECT_FALSE(t.Open());
  uint32_t got = 0;
  EXPECT_FALSE(t.Escape(133, nullptr, 0, nullptr, 0, &got));  // no device: no escape
}

TEST(KelvaneTcp, AddressesAndPortsAreChecked) {
  CCommandTCIP t;
  struct Case { const char *a, *p1, *p2; bool ok; };
  const Case cases[] = {
      {"127.0.0.1", "702", "704", true},   {"10.1.2.3", "1", "65535", true},
      {"256.0.0.1", "702", "704", false},  {"localhost", "702", "704", false},
      {"1.2.3", "702", "704", false},      {"127.0.0.1 ", "702", "704", false},
      {"127.0.0.1", "0", "704", false},    {"127.0.0.1", "65536", "704", false},
      {"127.0.0.1", "70a", "704", false},  {"127.0.0.1", "", "704", false},
      {"127.0.0.1", "702", "-1", false},   {nullptr, "702", "704", false},
      {"127.0.0.1", nullptr, "704", false}, {"127.0.0.1", "702", nullptr, false},
      {"1234567890.1234567890", "702", "704", false},
  };
  for (const Case& c : cases) EXPECT_EQ(t.SetAddress(c.a, c.p1, c.p2), c.ok) << (c.a ? c.a : "null");
  EXPECT_FALSE(t.Open());  // the last address was refused: nothing kept
}

TEST(KelvaneTcp, ModelCodeDecidesBaseAndName) {
  struct Case { int32_t code; int32_t base; const char* name; };
  for (const Case c : {Case{33, 800, "KelvaneRu Scanner"}, Case{20, 800, "KelvaneRu Scanner"},
                       Case{23, 600, "KelvanePVk Scanner"}, Case{37, 600, "KelvanePVk Scanner"},
                       Case{40, 0, ""}}) {
    SCOPED_TRACE(c.code);
    auto config = KelvaneConfigFor(2, "KelvaneRu Scanner", c.code);
    config.escapeBase = c.base;
    auto s = std::make_shared<SimKelvane>(config);
    SimKelvaneServer server(s);
    ASSERT_TRUE(server.Running()) << server.Error();
    CCommandTCIP t;
    ASSERT_TRUE(t.SetAddress("127.0.0.1", server.PortText().c_str(), "704"));
    ASSERT_TRUE(t.Open());  // also for a code outside both lines
    EXPECT_EQ(t.GetGeneration(), 2);
    EXPECT_EQ(t.GetEscapeBase(), c.base);
    EXPECT_EQ(t.GetModelName(), c.name);
    const auto open = s->Log().front();
    EXPECT_EQ(open.raw, 1);
    ASSERT_EQ(open.in.size(), 28u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(open.in.data())), "127.0.0.1");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(open.in.data() + 16)), server.PortText());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(open.in.data() + 22)), "704");
    uint8_t one = 0, out[12];
    uint32_t got = 0;
    EXPECT_TRUE(t.Escape(126, &one, 1, out, sizeof out, &got));
    EXPECT_EQ(got, 12u);
    EXPECT_EQ(s->Log().back().raw, 126 + c.base);
  }
}

TEST(KelvaneTcp, NoServerFailsTheOpen) {
  int port = 0;
  {
    SimKelvaneServer gone(Scanner(2, "KelvaneRu Scanner", 20));
    port = gone.Port();
  }
  CCommandTCIP t;
  ASSERT_TRUE(t.SetAddress("127.0.0.1", std::to_string(port).c_str(), "704"));
  EXPECT_FALSE(t.Open());
  uint32_t got = 0;
  EXPECT_FALSE(t.Escape(126, nullptr, 0, nullptr, 0, &got));
}

TEST(KelvaneTcp, DisconnectInTheMiddleOfAnExchange) {
  auto s = Scanner(2, "KelvaneRu Scanner", 20);
  SimKelvaneServer server(s);
  CCommandTCIP t;
  ASSERT_TRUE(t.SetAddress("127.0.0.1", server.PortText().c_str(), "704"));
  ASSERT_TRUE(t.Open());
  s->InjectFault(126, KelvaneFault::Drop);
  uint8_t one = 0, out[12];
  uint32_t got = 99;
  EXPECT_FALSE(t.Escape(126, &one, 1, out, sizeof out, &got));
  EXPECT_EQ(got, 0u);
  // The connection is gone: later escapes fail at once instead of reading stale bytes.
  EXPECT_FALSE(t.Escape(126, &one, 1, out, sizeof out, &got));
  // Opening again reaches the scanner again.
  ASSERT_TRUE(t.Open());
  EXPECT_TRUE(t.Escape(126, &one, 1, out, sizeof out, &got));
  EXPECT_EQ(server.Connections(), 2);
}

TEST(KelvaneTcp, AnUnansweredEscapeTimesOut) {
  auto s = Scanner(2, "KelvaneRu Scanner", 20);
  SimKelvaneServer server(s);
  CCommandTCIP t;
  t.SetTimeouts({.connectMs = 1000, .replyMs = 150});
  ASSERT_TRUE(t.SetAddress("127.0.0.1", server.PortText().c_str(), "704"));
  ASSERT_TRUE(t.Open());
  s->InjectFault(113, KelvaneFault::NoAnswer);
  uint8_t one = 0, out[8];
  uint32_t got = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(t.Escape(113, &one, 1, out, sizeof out, &got));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_FALSE(t.Escape(113, &one, 1, out, sizeof out, &got));  // dropped, not desynchronised
}

TEST(KelvaneTcp, BusyAndRefusedAnswersFail) {
  auto s = Scanner(2, "KelvaneRu Scanner", 20);
  SimKelvaneServer server(s);
  CCommandTCIP t;
  ASSERT_TRUE(t.SetAddress("127.0.0.1", server.PortText().c_str(), "704"));
  ASSERT_TRUE(t.Open());
  uint8_t one = 0, out[12];
  uint32_t got = 0;
  s->InjectFault(126, KelvaneFault::Busy);
  EXPECT_FALSE(t.Escape(126, &one, 1, out, sizeof out, &got));  // status 1 is not success
  s->InjectFault(126, KelvaneFault::Fail);
  EXPECT_FALSE(t.Escape(126, &one, 1, out, sizeof out, &got));
  EXPECT_TRUE(t.Escape(126, &one, 1, out, sizeof out, &got));  // the connection stays
  EXPECT_EQ(server.Connections(), 1);
}

TEST(KelvaneTcp, ServerStopsByItself) {
  auto s = Scanner(2, "KelvaneRu Scanner", 20);
  SimKelvaneServer server(s, "127.0.0.1", 0, 200);
  ASSERT_TRUE(server.Running());
  orbtest::WaitFor([&] { return !server.Running(); }, std::chrono::seconds(5), std::chrono::milliseconds(10));
  EXPECT_FALSE(server.Running());
}
