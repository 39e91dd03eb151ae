// The connection object: transport order, the checks of a window, every error number, the
// model figures, the status-poll thread and both transports against both generations.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "common/LanguageModule.h"
#include "engine/Settings.h"
#include "platform/sim/SimKelvane.h"
#include "scanning/kelvane/KelvaneScanner.h"
#include "tests/common/ProcessUtil.h"
#include "tests/kelvane/PostCapture.h"

namespace kv = orb::kelvane;
using kv::ConnectionKind;
using kv::test::PostCapture;
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

// Points the program settings at a network scanner (or turns the network off) for a test.
class NetworkSettings {
 public:
  NetworkSettings(bool on, const std::string& address = "", int port1 = 702, int port2 = 704)
      : saved_(ScanSettings) {
    ScanSettings.NetworkOption = on ? 1 : 0;
    std::memset(ScanSettings.ScannerAddress, 0, sizeof ScanSettings.ScannerAddress);
    std::memcpy(ScanSettings.ScannerAddress, address.data(),
                std::min(address.size(), sizeof ScanSettings.ScannerAddress));
    ScanSettings.NetworkPort1 = port1;
    ScanSettings.NetworkPort2 = port2;
  }
  ~NetworkSettings() { ScanSettings = saved_; }

 private:
  decltype(ScanSettings) saved_;
};

orb::WindowHandle FrameWindow() {
  static int frame;
  return &frame;
}

// A generation-2 scanner (code 20) served on loopback, with the settings pointing at it.
struct NetworkScanner {
  explicit NetworkScanner(std::shared_ptr<SimKelvane> sim = Scanner(2, "KelvaneRu Scanner", 20))
      : s(std::move(sim)), server(s), settings(true, "127.0.0.1", server.Port()) {}
  std::shared_ptr<SimKelvane> s;
  SimKelvaneServer server;
  NetworkSettings settings;
};

}  // namespace

TEST(KelvaneConnect, NetworkFirstThenImageAcquisitionThenStillImage) {
  auto net = Scanner(2, "KelvaneRu Scanner", 21);
  auto wiaScanner = Scanner(1, "Kelvane Bn Scanner", 4);
  auto stiScanner = Scanner(2, "KelvanePVk Scanner", 24);
  SimKelvaneServer server(net);
  auto sti = std::make_unique<ScopedKelvaneSti>(stiScanner);
  auto wia = std::make_unique<ScopedKelvaneWia>(wiaScanner);
  {
    NetworkSettings settings(true, "127.0.0.1", server.Port());
    CKelvaneScanner k;
    ASSERT_TRUE(k.Connect());
    EXPECT_EQ(k.GetConnectionKind(), ConnectionKind::Network);
    EXPECT_EQ(k.GetModelCode(), 21);
    EXPECT_EQ(k.GetGeneration(), 2);
  }
  {
    NetworkSettings settings(false);
    CKelvaneScanner k;
    ASSERT_TRUE(k.Connect());
    EXPECT_EQ(k.GetConnectionKind(), ConnectionKind::Local);
    EXPECT_EQ(k.GetModelName(), "Kelvane Bn Scanner");
    EXPECT_EQ(k.GetModelCode(), 4);
    EXPECT_NE(k.GetDeviceHandle(), nullptr);
  }
  {
    // A network scanner that is not there: the local lists are tried next.
    NetworkSettings settings(true, "127.0.0.1", 1);
    CKelvaneScanner k;
    ASSERT_TRUE(k.Connect());
    EXPECT_EQ(k.GetModelName(), "Kelvane Bn Scanner");
  }
  wia.reset();
  {
    NetworkSettings settings(false);
    CKelvaneScanner k;
    ASSERT_TRUE(k.Connect());
    EXPECT_EQ(k.GetModelName(), "KelvanePVk Scanner");
    EXPECT_EQ(k.GetModelCode(), 24);
    EXPECT_EQ(k.GetDeviceHandle(), nullptr);
  }
  sti.reset();
  {
    NetworkSettings settings(true, "not an address");
    CKelvaneScanner k;
    EXPECT_FALSE(k.Connect());
    EXPECT_FALSE(k.IsConnected());
    EXPECT_EQ(k.GetConnectionKind(), ConnectionKind::None);
    EXPECT_EQ(k.GetLastError(), kv::kErrNotConnected);
  }
}

TEST(KelvaneConnect, NetworkAddressIsValidated) {
  CKelvaneScanner k;
  EXPECT_FALSE(k.SetNetworkAddress("300.1.1.1", "702", "704"));
  EXPECT_FALSE(k.SetNetworkAddress("127.0.0.1", "0", "704"));
  EXPECT_FALSE(k.SetNetworkAddress(nullptr, "702", "704"));
  EXPECT_FALSE(k.ConnectTcpIp());
  EXPECT_EQ(k.GetLastError(), kv::kErrNotConnected);
  EXPECT_TRUE(k.SetNetworkAddress("127.0.0.1", "702", "704"));
}

TEST(KelvaneConnect, AScannerThatDoesNotAnswerInfoStillConnects) {
  auto s = Scanner(2, "KelvaneRu Scanner", 22);
  s->InjectFault(120, KelvaneFault::Fail);
  ScopedKelvaneWia wia(s);
  NetworkSettings settings(false);
  CKelvaneScanner k;
  EXPECT_TRUE(k.Connect());
  EXPECT_EQ(k.GetModelCode(), 0);
  EXPECT_EQ(k.GetLastError(), kv::kErrGetInfo);
}

TEST(KelvaneErrors, NotConnectedGives10001Everywhere) {
  CKelvaneScanner k;
  uint8_t a, b, buf[4];
  uint32_t got;
  int32_t i, j, m, n;
  KelvaneInfoType info;
  const std::vector<std::pair<const char*, std::function<bool()>>> calls = {
      {"SetWindow", [&] { return k.SetWindow(1000, 1000, 100, 0); }},
      {"SetWindowEx", [&] { return k.SetWindowEx({1000, 1000, 0, 0, 100, 0}, 0); }},
      {"GetMediaFlags", [&] { return k.GetMediaFlags(&a, &b); }},
      {"StartScan", [&] { return k.StartScan(); }},
      {"EndScan", [&] { return k.EndScan(); }},
      {"ReadData", [&] { return k.ReadData(buf, 4, &got); }},
      {"SetSpeed", [&] { return k.SetSpeed(1); }},
      {"SetPaperHandling", [&] { return k.SetPaperHandling(1); }},
      {"SetThreshold", [&] { return k.SetThreshold(1, 2, 3, 4); }},
      {"SetLeftOffsetMode", [&] { return k.SetLeftOffsetMode(true); }},
      {"GetAreaSize", [&] { return k.GetAreaSize(0, &i, &j); }},
      {"GetStatus", [&] { return k.GetStatus(&i, &j, &m, &n); }},
      {"GetInfo", [&] { return k.GetInfo(info); }},
      {"SetGamma", [&] { return k.SetGamma(0, 0, 255, 1.5f); }},
      {"WaitReady", [&] { return k.WaitReady(); }},
  };
  for (const auto& [name, call] : calls) {
    EXPECT_FALSE(call()) << name;
    EXPECT_EQ(k.GetLastError(), kv::kErrNotConnected) << name;
    EXPECT_EQ(k.GetLastError(), 0) << name << ": read twice";
  }
  EXPECT_EQ(k.GetMaxResolution(), 9600);
  EXPECT_EQ(k.GetLastError(), kv::kErrNotConnected);
  EXPECT_EQ(k.GetMinResolution(), 0);
  EXPECT_EQ(k.GetOpticalResolution(), 0);
  EXPECT_EQ(k.GetScanWidthInches(), 0.0);
  EXPECT_EQ(k.GetLastError(), kv::kErrNotConnected);
}

TEST(KelvaneErrors, EachFailingCommandHasItsNumber) {
  uint8_t a, b, buf[64];
  uint32_t got;
  int32_t i, j, m, n;
  KelvaneInfoType info;
  struct Case {
    const char* name;
    int generation;
    int32_t escape;
    std::function<bool(CKelvaneScanner&)> call;
    int32_t error;
  };
  const std::vector<Case> cases = {
      {"SetWindow", 2, 100, [](auto& k) { return k.SetWindow(1000, 1000, 200, 0); }, kv::kErrSetWindow},
      {"SetWindowEx", 2, 100, [](auto& k) { return k.SetWindowEx({1000, 1000, 0, 0, 200, 0}, 0); }, kv::kErrSetWindow},
      {"SetSpeed", 2, 103, [](auto& k) { return k.SetSpeed(3); }, kv::kErrSetSpeed},
      {"SetGamma", 1, 131, [](auto& k) { return k.SetGamma(0, 0, 255, 1.5f); }, kv::kErrSetGamma},
      {"SetThreshold", 2, 132, [](auto& k) { return k.SetThreshold(1, 2, 3, 4); }, kv::kErrSetThreshold},
      {"StartScan", 2, 104, [](auto& k) { return k.StartScan(); }, kv::kErrStartScan},
      {"EndScan", 1, 101, [](auto& k) { return k.EndScan(); }, kv::kErrEndScan},
      {"ReadData", 1, 150, [&](auto& k) { return k.ReadData(buf, 64, &got); }, kv::kErrReadData},
      {"GetStatus", 1, 133, [&](auto& k) { return k.GetStatus(&i, &j, &m, &n); }, kv::kErrGetStatus},
      {"WaitReady", 1, 125, [](auto& k) { return k.WaitReady(); }, kv::kErrGetStatus},
      {"SetPaperHandling", 2, 136, [](auto& k) { return k.SetPaperHandling(1); }, kv::kErrPaperHandling},
      {"GetAreaSize", 2, 137, [&](auto& k) { return k.GetAreaSize(0, &i, &j); }, kv::kErrAreaSize},
      {"GetInfo", 2, 120, [&](auto& k) { return k.GetInfo(info); }, kv::kErrGetInfo},
      {"GetMediaFlags (no number)", 2, 126, [&](auto& k) { return k.GetMediaFlags(&a, &b); }, 0},
      {"SetLeftOffsetMode (no number)", 2, 192, [](auto& k) { return k.SetLeftOffsetMode(true); }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto s = c.generation == 1 ? Scanner(1, "Kelvane Bn Scanner", 3) : Scanner(2, "KelvaneRu Scanner", 20);
    ScopedKelvaneWia wia(s);
    NetworkSettings settings(false);
    CKelvaneScanner k;
    ASSERT_TRUE(k.Connect());
    ASSERT_TRUE(k.SetWindow(1000, 1000, 200, 0));
    ASSERT_TRUE(k.StartScan());
    s->InjectFault(c.escape, KelvaneFault::Fail);
    EXPECT_FALSE(c.call(k));
    EXPECT_EQ(k.GetLastError(), c.error);
  }
}

TEST(KelvaneErrors, WindowChecksInTheirOrder) {
  struct Case { int32_t model; int32_t width, length, dpi; int32_t error; };
  const Case cases[] = {
      {3, 511, 599, 20000, kv::kErrLengthTooSmall},  // length first
      {3, 511, 600, 20000, kv::kErrWidthTooSmall},   // width before the resolution
      {3, 512, 600, 9601, kv::kErrResolutionTooHigh},
      {3, 512, 600, 99, kv::kErrResolutionTooLow},
      {3, 512, 600, 50, kv::kErrResolutionTooLow},   // model code above 2: at least 100
      {1, 512, 600, 50, 0},                          // model codes 0-2: 50 passes
      {1, 512, 600, 49, kv::kErrResolutionTooLow},
      {3, 512, 600, 9600, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.model << " " << c.width << "x" << c.length << " " << c.dpi);
    auto s = Scanner(1, "Kelvane Bn Scanner", c.model);
    ScopedKelvaneWia wia(s);
    NetworkSettings settings(false);
    CKelvaneScanner k;
    ASSERT_TRUE(k.Connect());
    const int before = s->EscapeCount(100);
    EXPECT_EQ(k.SetWindow(c.width, c.length, c.dpi, 0), c.error == 0);
    EXPECT_EQ(k.GetLastError(), c.error);
    EXPECT_EQ(s->EscapeCount(100) - before, c.error == 0 ? 1 : 0);  // refused before sending
  }
}

TEST(KelvaneErrors, EveryNumberHasAnEnglishText) {
  std::ifstream in(std::string(ORB_TEST_DATA_DIR) + "/../../lang/en/strings.txt");
  ASSERT_TRUE(in);
  std::stringstream text;
  text << in.rdbuf();
  std::map<int, std::string> strings;
  std::string error;
  ASSERT_TRUE(orb::ParseStringTable(text.str(), &strings, &error)) << error;
  for (int32_t e : kv::kAllErrors) {
    ASSERT_TRUE(strings.count(e)) << e;
    EXPECT_FALSE(strings[e].empty()) << e;
  }
}

TEST(KelvaneModel, LineBytesByMode) {
  auto s = Scanner(2, "KelvaneRu Scanner", 20);
  ScopedKelvaneWia wia(s);
  NetworkSettings settings(false);
  CKelvaneScanner k;
  ASSERT_TRUE(k.Connect());
  struct Case { int32_t mode; int32_t bytes; };
  for (const Case c : {Case{0, 3003}, Case{7, 3003}, Case{6, 3003}, Case{1, 1001}, Case{2, 126}}) {
    EXPECT_TRUE(k.SetWindow(1001, 1000, 200, c.mode));
    EXPECT_EQ(k.GetLineBytes(), c.bytes) << c.mode;
  }
  EXPECT_FALSE(k.SetWindow(1001, 1000, 200, 3));  // generation 2 refuses it
  EXPECT_EQ(k.GetLineBytes(), 126);               // unchanged for codes 3 and 4
}

TEST(KelvaneModel, ResolutionsAndWidthByModelCode) {
  struct Case { int32_t code; int optical; int minimum; double inches; };
  const Case cases[] = {
      {0, 400, 50, 40.0},  {2, 400, 50, 40.0},  {3, 600, 100, 40.0}, {6, 600, 100, 42.0},
      {9, 600, 100, 25.0}, {12, 600, 100, 36.0}, {15, 600, 100, 28.0}, {17, 600, 100, 28.0},
      {18, 400, 100, 40.0}, {19, 400, 100, 40.0}, {20, 600, 100, 40.0}, {23, 600, 100, 42.0},
      {26, 600, 100, 56.0}, {29, 600, 100, 28.0}, {32, 600, 100, 24.0}, {35, 600, 100, 38.0},
      {37, 600, 100, 38.0}, {38, 400, 100, 40.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    auto s = Scanner(1, "Kelvane Scanner", c.code);
    ScopedKelvaneSti sti(s);
    NetworkSettings settings(false);
    CKelvaneScanner k;
    ASSERT_TRUE(k.Connect());
    EXPECT_EQ(k.GetOpticalResolution(), c.optical);
    EXPECT_EQ(k.GetMinResolution(), c.minimum);
    EXPECT_EQ(k.GetMaxResolution(), 9600);
    EXPECT_EQ(k.GetScanWidthInches(), c.inches);
  }
}

TEST(KelvaneModel, AreaSizeInHundredthsOfAnInch) {
  for (int generation : {1, 2}) {
    SCOPED_TRACE(generation);
    auto config = generation == 1 ? KelvaneConfigFor(1, "Kelvane Bn Scanner", 3)
                                  : KelvaneConfigFor(2, "KelvaneRu Scanner", 20);
    config.paperWidthPixels = 600 * 36;   // 36 inches at 600 dpi
    config.paperLengthPixels = 600 * 24;
    auto s = std::make_shared<SimKelvane>(config);
    ScopedKelvaneWia wia(s);
    NetworkSettings settings(false);
    CKelvaneScanner k;
    ASSERT_TRUE(k.Connect());
    int32_t w = 0, l = 0;
    EXPECT_TRUE(k.GetAreaSize(1, &w, &l));
    EXPECT_EQ(w, 3600);
    EXPECT_EQ(l, 2400);
    s->SetPaper(false);
    EXPECT_FALSE(k.GetAreaSize(1, &w, &l));
    EXPECT_EQ(k.GetLastError(), kv::kErrAreaSize);
  }
}

// ---- The status-poll thread ----------------------------------------------------------

TEST(KelvanePoll, OnePostPerPollWhateverBitsAreSet) {
  PostCapture posts;
  // Generation 2 reports the button in bit 4 of the device flags (status bit 0) and another
  // request in bit 6 (status bit 2); bit 2 of the flags becomes status bit 3, which asks
  // for nothing. Several requests at once still post the command once per poll.
  struct Case { int32_t deviceBits; size_t perPoll; };
  for (const Case c : {Case{0, 0}, Case{0x10, 1}, Case{0x40, 1}, Case{0x04, 0}, Case{0x50, 1},
                       Case{0x54, 1}}) {
    SCOPED_TRACE(c.deviceBits);
    NetworkScanner net;
    net.s->SetStatusBits(c.deviceBits);
    CKelvaneScanner k;
    k.SetPollIntervalMs(100000);  // the thread waits; this test polls by hand
    ASSERT_TRUE(k.Connect());
    ASSERT_TRUE(k.StartStatusWatch(FrameWindow()));
    const size_t before = posts.Count();
    k.PollOnce();
    k.PollOnce();
    k.StopStatusWatch();
    ASSERT_EQ(posts.Count() - before, 2 * c.perPoll);
    for (size_t i = before; i < posts.Count(); ++i)
      EXPECT_EQ(posts.Posts()[i].wParam, uintptr_t{ID_SCANNER_BUTTON});
  }
}

TEST(KelvanePoll, WatchRunsOnlyOnANetworkConnectionAndPostsTheButton) {
  PostCapture posts;
  NetworkScanner net;
  CKelvaneScanner k;
  k.SetPollIntervalMs(5);
  ASSERT_TRUE(k.Connect());
  ASSERT_TRUE(k.StartStatusWatch(FrameWindow()));
  EXPECT_TRUE(k.WatchRunning());
  net.s->PressButton();
  ASSERT_TRUE(posts.WaitFor(1));
  const auto p = posts.Posts().front();
  EXPECT_EQ(p.window, FrameWindow());
  EXPECT_EQ(p.msg, kv::kWmCommand);
  EXPECT_EQ(p.wParam, uintptr_t{ID_SCANNER_BUTTON});
  EXPECT_EQ(p.lParam, 0);
  // The button was latched once: one post, however often the thread polls.
  const int polls = net.s->EscapeCount(126);
  orbtest::WaitFor([&] { return net.s->EscapeCount(126) >= polls + 5; }, std::chrono::seconds(5),
                   std::chrono::milliseconds(2));
  EXPECT_EQ(posts.Count(), 1u);
  k.StopStatusWatch();
  EXPECT_FALSE(k.WatchRunning());
  const int afterStop = net.s->EscapeCount(126);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(net.s->EscapeCount(126), afterStop);  // stopped means no more commands

  // A local connection has no watch.
  auto local = Scanner(2, "KelvaneRu Scanner", 20);
  ScopedKelvaneWia wia(local);
  NetworkSettings off(false);
  CKelvaneScanner l;
  ASSERT_TRUE(l.Connect());
  EXPECT_FALSE(l.StartStatusWatch(FrameWindow()));
  EXPECT_FALSE(l.WatchRunning());
}

TEST(KelvanePoll, ScanCommandsStopTheWatchAndEndScanRestartsIt) {
  PostCapture posts;
  NetworkScanner net;
  CKelvaneScanner k;
  k.SetPollIntervalMs(5);
  ASSERT_TRUE(k.Connect());
  ASSERT_TRUE(k.StartStatusWatch(FrameWindow()));
  ASSERT_TRUE(k.SetWindow(1000, 1000, 200, 1));
  EXPECT_FALSE(k.WatchRunning());
  ASSERT_TRUE(k.StartScan());
  EXPECT_FALSE(k.WatchRunning());
  ASSERT_TRUE(k.EndScan());
  EXPECT_TRUE(k.WatchRunning());
  // A refused window starts no scan: the watch comes back at once, so the button lives.
  EXPECT_FALSE(k.SetWindow(100, 1000, 200, 1));
  EXPECT_TRUE(k.WatchRunning());
  net.s->InjectFault(100, KelvaneFault::Fail);
  EXPECT_FALSE(k.SetWindow(1000, 1000, 200, 1));
  EXPECT_EQ(k.GetLastError(), kv::kErrSetWindow);
  EXPECT_TRUE(k.WatchRunning());
  // Area size and info stop it around their commands and start it again.
  int32_t w, l;
  EXPECT_TRUE(k.GetAreaSize(0, &w, &l));
  EXPECT_TRUE(k.WatchRunning());
  KelvaneInfoType info;
  EXPECT_TRUE(k.GetInfo(info));
  EXPECT_EQ(info.ModelCode, 20);
  EXPECT_TRUE(k.WatchRunning());
  // While it runs the status comes from its cache, without a command of its own.
  k.StopStatusWatch();
  k.SetPollIntervalMs(100000);
  ASSERT_TRUE(k.StartStatusWatch(FrameWindow()));
  const size_t before = net.s->Log().size();
  int32_t a, b, c, d;
  EXPECT_TRUE(k.GetStatus(&a, &b, &c, &d));
  EXPECT_EQ(net.s->Log().size(), before);
  // A new connect turns the watch off.
  ASSERT_TRUE(k.Connect());
  EXPECT_FALSE(k.WatchEnabled());
  EXPECT_FALSE(k.WatchRunning());
}

TEST(KelvanePoll, AScannerThatStopsAnsweringDoesNotHangTheStop) {
  PostCapture posts;
  NetworkScanner net;
  CKelvaneScanner k;
  k.SetPollIntervalMs(1);
  k.SetNetworkTimeouts({.connectMs = 1000, .replyMs = 200});
  ASSERT_TRUE(k.Connect());
  net.s->InjectFault(orb::sim::kAnyEscape, KelvaneFault::NoAnswer, 1000);
  ASSERT_TRUE(k.StartStatusWatch(FrameWindow()));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto start = std::chrono::steady_clock::now();
  k.StopStatusWatch();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_FALSE(k.WatchRunning());
  int32_t a, b, c, d;
  EXPECT_FALSE(k.GetStatus(&a, &b, &c, &d));  // the connection is gone: an error, no hang
  EXPECT_EQ(k.GetLastError(), kv::kErrGetStatus);
}

TEST(KelvanePoll, ThreadsDoNotInterleaveTheirExchanges) {
  // The poll thread polls as fast as it can while this thread reads a scan over the same
  // connection: every answer must be the one to its own request.
  PostCapture posts;
  NetworkScanner net;
  CKelvaneScanner k;
  k.SetPollIntervalMs(0);
  ASSERT_TRUE(k.Connect());
  ASSERT_TRUE(k.SetWindow(1000, 1200, 200, 1));
  ASSERT_TRUE(k.StartScan());
  ASSERT_TRUE(k.StartStatusWatch(FrameWindow()));
  std::vector<uint8_t> block(1000 * 10);
  int64_t offset = 0;
  for (int i = 0; i < 120; ++i) {
    uint32_t got = 0;
    ASSERT_TRUE(k.ReadData(block.data(), static_cast<uint32_t>(block.size()), &got));
    ASSERT_EQ(got, block.size());
    for (uint32_t j = 0; j < got; j += 97) {
      const int64_t at = offset + j;
      ASSERT_EQ(block[j], SimKelvane::SheetByte(at / 1000, at % 1000)) << i << " " << j;
    }
    offset += got;
  }
  k.StopStatusWatch();
}

// ---- Both transports against both generations -----------------------------------------

struct Road {
  const char* name;
  int generation;
  const char* device;
  int32_t code;
  enum { Wia, Sti, Tcp } via;
};

class KelvaneRoads : public testing::TestWithParam<Road> {};

TEST_P(KelvaneRoads, ConnectSetUpScanAndEnd) {
  const Road r = GetParam();
  auto config = KelvaneConfigFor(r.generation, r.device, r.code);
  config.maxBytesPerRead = 2500;  // reads return less than asked
  auto s = std::make_shared<SimKelvane>(config);
  std::unique_ptr<ScopedKelvaneWia> wia;
  std::unique_ptr<ScopedKelvaneSti> sti;
  std::unique_ptr<SimKelvaneServer> server;
  if (r.via == Road::Wia) wia = std::make_unique<ScopedKelvaneWia>(s);
  if (r.via == Road::Sti) sti = std::make_unique<ScopedKelvaneSti>(s);
  if (r.via == Road::Tcp) server = std::make_unique<SimKelvaneServer>(s);
  NetworkSettings settings(r.via == Road::Tcp, "127.0.0.1", server ? server->Port() : 702);
  CKelvaneScanner k;
  ASSERT_TRUE(k.Connect());
  EXPECT_EQ(k.GetGeneration(), r.generation);
  EXPECT_EQ(k.GetModelCode(), r.code);
  const int32_t width = 800, length = 600;
  ASSERT_TRUE(k.SetWindow(width, length, 100, 1));
  EXPECT_TRUE(k.SetGamma(0, 0, 255, 1.8f));
  EXPECT_TRUE(k.SetPaperHandling(1));
  EXPECT_TRUE(k.SetSpeed(3));
  EXPECT_TRUE(k.WaitReady());
  ASSERT_TRUE(k.StartScan());
  std::vector<uint8_t> block(width * 7);
  int64_t received = 0;
  int32_t s0, s1, s2 = 0, s3;
  for (int pass = 0; pass < 1000 && s2 != 1; ++pass) {
    uint32_t got = 0;
    if (!k.ReadData(block.data(), static_cast<uint32_t>(block.size()), &got)) break;
    ASSERT_LE(got, 2500u);
    for (uint32_t j = 0; j < got; ++j) {
      const int64_t at = received + j;
      ASSERT_EQ(block[j], SimKelvane::SheetByte(at / width, at % width));
    }
    received += got;
    ASSERT_TRUE(k.GetStatus(&s0, &s1, &s2, &s3));
    if (got == 0) break;
  }
  EXPECT_EQ(received, int64_t{width} * length);
  EXPECT_EQ(s2, 1);  // the scanner reports the end of the sheet
  EXPECT_TRUE(k.EndScan());
  EXPECT_EQ(s->LutUploads(), r.generation == 2 ? 1 : 0);
  uint8_t first = 0, second = 0;
  EXPECT_TRUE(k.GetMediaFlags(&first, &second));
  EXPECT_EQ(first, 1);
}

INSTANTIATE_TEST_SUITE_P(
    All, KelvaneRoads,
    testing::Values(Road{"gen1_wia", 1, "Kelvane Bn Scanner", 4, Road::Wia},
                    Road{"gen1_sti", 1, "Kelvane Pv Scanner", 7, Road::Sti},
                    Road{"gen2_wia", 2, "KelvanePVk Scanner", 25, Road::Wia},
                    Road{"gen2_sti", 2, "KelvaneRu Scanner", 21, Road::Sti},
                    Road{"gen2_tcp_ru", 2, "KelvaneRu Scanner", 33, Road::Tcp},
                    Road{"gen2_tcp_pvk", 2, "KelvanePVk Scanner", 30, Road::Tcp}),
    [](const testing::TestParamInfo<Road>& info) { return std::string(info.param.name); });

TEST(KelvaneErrors, ShortAndBusyAnswersAreFailuresWithTheirNumber) {
  struct Case { const char* name; int generation; KelvaneFault fault; int32_t escape; };
  const Case cases[] = {
      {"short status, generation 1", 1, KelvaneFault::ShortAnswer, 133},
      {"busy status, generation 1", 1, KelvaneFault::Busy, 133},
      {"short device flags, generation 2", 2, KelvaneFault::ShortAnswer, 126},
      {"short read state, generation 2", 2, KelvaneFault::ShortAnswer, 113},
      {"busy read state, generation 2", 2, KelvaneFault::Busy, 113},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto s = c.generation == 1 ? Scanner(1, "Kelvane Bn Scanner", 3) : Scanner(2, "KelvaneRu Scanner", 20);
    ScopedKelvaneWia wia(s);
    NetworkSettings settings(false);
    CKelvaneScanner k;
    ASSERT_TRUE(k.Connect());
    s->InjectFault(c.escape, c.fault);
    int32_t a = 7, b = 7, d = 7, e = 7;
    EXPECT_FALSE(k.GetStatus(&a, &b, &d, &e));
    EXPECT_EQ(k.GetLastError(), kv::kErrGetStatus);
    EXPECT_EQ(b, 0);
    EXPECT_TRUE(k.GetStatus(&a, &b, &d, &e));  // the next answer is whole again
  }
}

TEST(KelvaneErrors, AShortReadIsDataNotAnError) {
  auto s = Scanner(1, "Kelvane Bn Scanner", 3);
  ScopedKelvaneWia wia(s);
  NetworkSettings settings(false);
  CKelvaneScanner k;
  ASSERT_TRUE(k.Connect());
  ASSERT_TRUE(k.SetWindow(1000, 1000, 200, 1));
  ASSERT_TRUE(k.StartScan());
  s->InjectFault(150, KelvaneFault::ShortAnswer);
  std::vector<uint8_t> block(4000);
  uint32_t got = 0;
  EXPECT_TRUE(k.ReadData(block.data(), 4000, &got));
  EXPECT_EQ(got, 2000u);
  EXPECT_EQ(block[1999], SimKelvane::SheetByte(1, 999));
}
