// The command set's escapes against byte tables laid out by hand from the command tables,
// the CRC against its published check values, and the generation-2 tone table against
// values worked out on paper.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "platform/Clock.h"
#include "scanning/kelvane/KelvaneFunctions.h"
#include "tests/kelvane/RecordingTransport.h"

namespace kv = orb::kelvane;
using kv::test::RecordingTransport;
using Bytes = std::vector<uint8_t>;

namespace {

// CRC-32/BZIP2 written out bit by bit, apart from the table-driven one under test.
uint32_t ReferenceCrc(const uint8_t* p, size_t n) {
  uint32_t crc = 0xFFFFFFFF;
  for (size_t i = 0; i < n; ++i) {
    crc ^= uint32_t(p[i]) << 24;
    for (int k = 0; k < 8; ++k) crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
  }
  return ~crc;
}

struct GoldenCase {
  const char* name;
  std::function<bool(IKelvaneFunctions&)> call;
  int32_t code;
  Bytes bytes;
};

void CheckGolden(IKelvaneFunctions& f, RecordingTransport& t, const GoldenCase& c) {
  SCOPED_TRACE(c.name);
  t.sent.clear();
  EXPECT_TRUE(c.call(f));
  ASSERT_EQ(t.sent.size(), 1u);
  EXPECT_EQ(t.sent[0].code, c.code);
  EXPECT_EQ(t.sent[0].in, c.bytes);
}

}  // namespace

TEST(KelvaneCrc, CheckValuesOfTheBzip2Variant) {
  const std::string nine = "123456789", abc = "abc";
  EXPECT_EQ(kv::Crc32Bzip2(reinterpret_cast<const uint8_t*>(nine.data()), nine.size()), 0xFC891918u);
  EXPECT_EQ(kv::Crc32Bzip2(reinterpret_cast<const uint8_t*>(abc.data()), abc.size()), 0x648CBB73u);
  EXPECT_EQ(kv::Crc32Bzip2(nullptr, 0), 0u);
}

TEST(KelvaneCommandSetV1, EscapeBytesMatchTheTable) {
  RecordingTransport t(1);
  CKelvaneFunctionsV1 f(&t);
  const std::vector<GoldenCase> cases = {
      {"SetWindow 1000x2000 300 dpi mode 7", [](auto& f) { return f.SetWindow(1000, 2000, 300, 7); }, 100,
       {0xE8, 0x03, 0, 0, 0xD0, 0x07, 0, 0, 0, 0, 0, 0, 0x2C, 0x01, 0, 0, 7, 0, 0, 0}},
      {"StartScan", [](auto& f) { return f.StartScan(); }, 104, {1}},
      {"EndScan", [](auto& f) { return f.EndScan(); }, 101, {1}},
      {"SetSpeed 0 sends 1", [](auto& f) { return f.SetSpeed(0); }, 103, {1}},
      {"SetSpeed 3 sends 3", [](auto& f) { return f.SetSpeed(3); }, 103, {3}},
      {"SetSpeed 5 sends 4", [](auto& f) { return f.SetSpeed(5); }, 103, {4}},
      {"SetSpeed 7 sends 4", [](auto& f) { return f.SetSpeed(7); }, 103, {4}},
      {"SetSpeed 9 sends 9", [](auto& f) { return f.SetSpeed(9); }, 103, {9}},
      {"SetPaperHandling 2", [](auto& f) { return f.SetPaperHandling(2); }, 136, {2, 0, 0, 0}},
      {"SetThreshold", [](auto& f) { return f.SetThreshold(1, 128, 15, 300); }, 132,
       {1, 0, 0, 0, 0x80, 0, 0, 0, 0x0F, 0, 0, 0, 0x2C, 0x01, 0, 0}},
      {"SetLeftOffsetMode on", [](auto& f) { return f.SetLeftOffsetMode(true); }, 144, {1, 0, 0, 0}},
      {"SetLeftOffsetMode off", [](auto& f) { return f.SetLeftOffsetMode(false); }, 144, {0, 0, 0, 0}},
      // 1.9f is 0x3FF33333.
      {"SetGamma", [](auto& f) { return f.SetGamma(5, 0, 255, 1.9f); }, 131,
       {5, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0x33, 0x33, 0xF3, 0x3F}},
  };
  for (const auto& c : cases) CheckGolden(f, t, c);
}

TEST(KelvaneCommandSetV1, ReadStatusInfoAndAreaDecodeTheirReplies) {
  RecordingTransport t(1);
  CKelvaneFunctionsV1 f(&t);
  uint8_t buffer[4096];
  uint32_t got = 0;
  t.Queue(Bytes(1000, 0xAB));  // a read that returns less than asked
  EXPECT_TRUE(f.ReadData(buffer, 4096, 300, &got));
  EXPECT_EQ(got, 1000u);
  EXPECT_EQ(t.sent.back().code, 150);
  EXPECT_EQ(t.sent.back().in, (Bytes{0x00, 0x10, 0, 0, 1, 0, 0, 0}));
  EXPECT_EQ(t.sent.back().outLength, 4096u);

  int32_t s0 = -1, s1 = -1, s2 = -1, s3 = -1;
  t.QueueInts({9, 5, 1, 7});
  EXPECT_TRUE(f.GetStatus(&s0, &s1, &s2, &s3));
  EXPECT_EQ(t.sent.back().code, 133);
  EXPECT_EQ(t.sent.back().in.size(), 1u);
  EXPECT_EQ((std::array{s0, s1, s2, s3}), (std::array{0, 5, 1, 7}));  // d0 is dropped

  KelvaneInfoType info{11, 12, 13};
  t.QueueInts({3, 10203, 4});
  EXPECT_TRUE(f.GetInfo(info));
  EXPECT_EQ(t.sent.back().code, 130);
  EXPECT_EQ(t.sent.back().in, (Bytes{11, 0, 0, 0, 12, 0, 0, 0, 13, 0, 0, 0}));
  EXPECT_EQ(info.ModelCode, 3);
  EXPECT_EQ(info.Firmware, 10203);
  EXPECT_EQ(info.Third, 4);

  int32_t w = 0, l = 0;
  t.QueueInts({1, 21600, 28800});
  EXPECT_TRUE(f.GetAreaSize(1, &w, &l));
  EXPECT_EQ(t.sent.back().in, (Bytes{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(w, 2160000);
  EXPECT_EQ(l, 2880000);
  t.QueueInts({1, 0, 28800});
  EXPECT_FALSE(f.GetAreaSize(1, &w, &l));  // no width: no paper
}

TEST(KelvaneCommandSetV1, MediaFlagsFromTheFourthStatusValue) {
  struct Case { int32_t d3; uint8_t first, second; };
  for (const Case c : {Case{3, 1, 1}, Case{7, 1, 0}, Case{1, 0, 0}, Case{2, 0, 0}, Case{0, 0, 0}}) {
    RecordingTransport t(1);
    CKelvaneFunctionsV1 f(&t);
    t.QueueInts({0, 0, 0, c.d3});
    uint8_t first = 9, second = 9;
    EXPECT_TRUE(f.GetMediaFlags(&first, &second));
    EXPECT_EQ(first, c.first) << c.d3;
    EXPECT_EQ(second, c.second) << c.d3;
  }
}

TEST(KelvaneCommandSetV1, FailedOrShortAnswersFailAndLeaveOutputsCleared) {
  RecordingTransport t(1);
  CKelvaneFunctionsV1 f(&t);
  int32_t s0 = 5, s1 = 5, s2 = 5, s3 = 5;
  t.Fail();
  EXPECT_FALSE(f.GetStatus(&s0, &s1, &s2, &s3));
  EXPECT_EQ((std::array{s0, s1, s2, s3}), (std::array{0, 0, 0, 0}));
  t.Queue(Bytes(8, 0xFF));  // half a status record
  EXPECT_FALSE(f.GetStatus(&s0, &s1, &s2, &s3));
  EXPECT_EQ(s1, 0);
  t.Fail();
  EXPECT_FALSE(f.StartScan());
  IKelvaneFunctions& base = f;
  int32_t a, b, c;
  EXPECT_FALSE(base.GetDeviceFlags(&a, &b, &c));
  EXPECT_FALSE(base.GetReadState(&a, &b));
  EXPECT_FALSE(base.SetWindowEx({1, 2, 3, 4, 5, 6}, 0));
  EXPECT_FALSE(base.Reserved());
}

TEST(KelvaneCommandSetV1, MaxResolutionByModelCode) {
  struct Case { bool ok; int32_t model; int expected; };
  for (const Case c : {Case{true, 0, 400}, Case{true, 2, 400}, Case{true, 3, 600}, Case{true, 20, 600},
                       Case{false, 5, 400}}) {
    RecordingTransport t(1);
    CKelvaneFunctionsV1 f(&t);
    if (c.ok) t.QueueInts({c.model, 0, 0});
    else t.Fail();
    EXPECT_EQ(f.GetMaxResolution(), c.expected) << c.model;
  }
}

TEST(KelvaneCommandSetV1, WaitReadyPollsEvery250msAndGivesUp) {
  orb::FakeClock clock;
  RecordingTransport t(1);
  CKelvaneFunctionsV1 f(&t, &clock);
  t.QueueInts({0});
  t.QueueInts({0});
  t.QueueInts({1});
  EXPECT_TRUE(f.WaitReady());
  ASSERT_EQ(t.sent.size(), 3u);
  EXPECT_EQ(t.sent[0].code, 125);
  EXPECT_EQ(t.sent[0].in, (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(clock.TotalSleptMs(), 500);

  // A scanner that never gets ready: given up on after the limit, not waited for forever.
  RecordingTransport never(1);
  CKelvaneFunctionsV1 g(&never, &clock);
  const int64_t before = clock.NowMs();
  EXPECT_FALSE(g.WaitReady());
  EXPECT_GE(clock.NowMs() - before, kv::kWaitReadyLimitMs);
  EXPECT_LE(clock.NowMs() - before, kv::kWaitReadyLimitMs + kv::kWaitReadyPollMs);

  RecordingTransport failing(1);
  CKelvaneFunctionsV1 h(&failing, &clock);
  failing.Fail();
  EXPECT_FALSE(h.WaitReady());
}

TEST(KelvaneCommandSetV2, EscapeBytesMatchTheTable) {
  RecordingTransport t(2);
  CKelvaneFunctionsV2 f(&t);
  const std::vector<GoldenCase> cases = {
      {"SetWindow 1000x2000 300 dpi mode 7 (wire 4)", [](auto& f) { return f.SetWindow(1000, 2000, 300, 7); }, 100,
       {0xE8, 0x03, 0, 0, 0xD0, 0x07, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x2C, 0x01, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0}},
      {"SetWindowEx", [](auto& f) { return f.SetWindowEx({1, 2, 3, 4, 5, 6}, 8); }, 100,
       {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0, 6, 0, 0, 0, 5, 0, 0, 0}},
      {"StartScan", [](auto& f) { return f.StartScan(); }, 104, {1, 0, 0, 0}},
      {"EndScan", [](auto& f) { return f.EndScan(); }, 101, {1, 0, 0, 0}},
      {"SetSpeed 0 sends 0", [](auto& f) { return f.SetSpeed(0); }, 103, {0, 0, 0, 0}},
      {"SetSpeed 3 sends 2", [](auto& f) { return f.SetSpeed(3); }, 103, {2, 0, 0, 0}},
      {"SetSpeed 6 sends 4", [](auto& f) { return f.SetSpeed(6); }, 103, {4, 0, 0, 0}},
      {"SetSpeed 9 sends 8", [](auto& f) { return f.SetSpeed(9); }, 103, {8, 0, 0, 0}},
      {"SetLeftOffsetMode", [](auto& f) { return f.SetLeftOffsetMode(true); }, 192, {1, 0, 0, 0}},
      {"SetPaperHandling", [](auto& f) { return f.SetPaperHandling(3); }, 136, {3, 0, 0, 0}},
  };
  for (const auto& c : cases) CheckGolden(f, t, c);
}

TEST(KelvaneCommandSetV2, WindowModesMapOrAreRefusedWithoutSending) {
  struct Case { int32_t mode; int32_t wire; };
  for (const Case c : {Case{0, 0}, Case{1, 1}, Case{2, 2}, Case{6, 3}, Case{7, 4}, Case{8, 5}}) {
    RecordingTransport t(2);
    CKelvaneFunctionsV2 f(&t);
    EXPECT_TRUE(f.SetWindow(1000, 1000, 200, c.mode));
    ASSERT_EQ(t.sent.size(), 1u);
    EXPECT_EQ(t.sent[0].in[24], c.wire) << c.mode;
    EXPECT_EQ(f.WireCode(), c.wire);
  }
  for (int32_t mode : {3, 4, 5, 9, -1}) {
    RecordingTransport t(2);
    CKelvaneFunctionsV2 f(&t);
    EXPECT_FALSE(f.SetWindow(1000, 1000, 200, mode)) << mode;
    EXPECT_TRUE(t.sent.empty()) << mode;
    EXPECT_EQ(f.WireCode(), 9999);
  }
  // A refused window keeps the code of the last accepted one.
  RecordingTransport t(2);
  CKelvaneFunctionsV2 f(&t);
  ASSERT_TRUE(f.SetWindow(1000, 1000, 200, 1));
  t.Fail();
  EXPECT_FALSE(f.SetWindow(1000, 1000, 200, 0));
  EXPECT_EQ(f.WireCode(), 1);
}

TEST(KelvaneCommandSetV2, StatusCombinesDeviceFlagsAndReadState) {
  struct Case {
    const char* name;
    int32_t a, r1, c, q;
    std::array<int32_t, 4> s;
  };
  const Case cases[] = {
      {"nothing set", 0, 0, 0, 0, {0, 0, 0, 0}},
      {"button bit 4 -> flags 1", 0, 0x10, 0, 0, {0, 1, 0, 0}},
      {"bit 6 -> 4, bit 2 -> 8", 0, 0x44, 0, 0, {0, 12, 0, 0}},
      {"c bit 1 sets bit 2 of s3", 1, 0, 2, 0, {0, 0, 0, 5}},
      {"read state bit 0 wins over bit 1", 0, 0, 0, 3, {0, 0, 1, 0}},
      {"read state bit 1 -> 2", 0, 0, 0, 2, {0, 0, 2, 0}},
      {"bit 3 -> 8", 0, 0, 0, 8, {8, 0, 0, 0}},
      {"bit 4 wins over bit 3", 0, 0, 0, 24, {16, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingTransport t(2);
    CKelvaneFunctionsV2 f(&t);
    t.QueueInts({c.a, c.r1, c.c});
    t.QueueInts({0, c.q});
    int32_t s0, s1, s2, s3;
    EXPECT_TRUE(f.GetStatus(&s0, &s1, &s2, &s3));
    EXPECT_EQ((std::array{s0, s1, s2, s3}), c.s);
    ASSERT_EQ(t.sent.size(), 2u);
    EXPECT_EQ(t.sent[0].code, 126);
    EXPECT_EQ(t.sent[1].code, 113);
    EXPECT_EQ(t.sent[0].in.size(), 1u);
    EXPECT_EQ(t.sent[1].in.size(), 1u);
  }
}

TEST(KelvaneCommandSetV2, MediaFlags) {
  struct Case { int32_t a, c; uint8_t first, second; };
  for (const Case k : {Case{1, 3, 1, 1}, Case{3, 3, 1, 0}, Case{1, 2, 1, 0}, Case{0, 3, 0, 1}}) {
    RecordingTransport t(2);
    CKelvaneFunctionsV2 f(&t);
    t.QueueInts({k.a, 0, k.c});
    uint8_t first = 9, second = 9;
    EXPECT_TRUE(f.GetMediaFlags(&first, &second));
    EXPECT_EQ(first, k.first);
    EXPECT_EQ(second, k.second);
  }
}

TEST(KelvaneCommandSetV2, ReadDataAsksTheReadStateFirst) {
  uint8_t buffer[64];
  uint32_t got = 7;
  {
    RecordingTransport t(2);
    CKelvaneFunctionsV2 f(&t);
    t.QueueInts({0, 1});  // nothing more will come
    EXPECT_FALSE(f.ReadData(buffer, 64, 8, &got));
    EXPECT_EQ(got, 0u);
    ASSERT_EQ(t.sent.size(), 1u);
    EXPECT_EQ(t.sent[0].code, 113);
  }
  {
    RecordingTransport t(2);
    CKelvaneFunctionsV2 f(&t);
    t.QueueInts({100, 2});
    EXPECT_TRUE(f.ReadData(buffer, 0, 8, &got));
    EXPECT_EQ(t.sent.size(), 1u);  // a request of nothing sends no read
  }
  {
    RecordingTransport t(2);
    CKelvaneFunctionsV2 f(&t);
    t.QueueInts({100, 2});
    t.Queue(Bytes(40, 0x11));
    EXPECT_TRUE(f.ReadData(buffer, 64, 8, &got));
    EXPECT_EQ(got, 40u);
    ASSERT_EQ(t.sent.size(), 2u);
    EXPECT_EQ(t.sent[1].code, 150);
    EXPECT_EQ(t.sent[1].in, (Bytes{64, 0, 0, 0, 1, 0, 0, 0}));
  }
}

TEST(KelvaneCommandSetV2, InfoAreaAndMaxResolution) {
  RecordingTransport t(2);
  CKelvaneFunctionsV2 f(&t);
  std::vector<int32_t> block(12, 0);
  block[0] = 6;
  block[1] = 33;
  block[3] = 0x0102;
  Bytes reply;
  for (int32_t v : block)
    for (int i = 0; i < 4; ++i) reply.push_back(static_cast<uint8_t>(v >> (8 * i)));
  t.Queue(reply);
  KelvaneInfoType info;
  EXPECT_TRUE(f.GetInfo(info));
  EXPECT_EQ(t.sent.back().code, 120);
  EXPECT_EQ(t.sent.back().in, Bytes(48, 0));
  EXPECT_EQ(info.ModelCode, 33);
  EXPECT_EQ(info.Firmware, 10200);
  EXPECT_EQ(info.Third, 6);

  int32_t w = 0, l = 0;
  t.QueueInts({1, 28800, 21540});
  EXPECT_TRUE(f.GetAreaSize(0, &w, &l));
  EXPECT_EQ(w, 2160000);  // (21540 + 60) x 100
  EXPECT_EQ(l, 2880000);
  t.QueueInts({0, 28800, -60});
  EXPECT_FALSE(f.GetAreaSize(0, &w, &l));

  t.Fail();
  EXPECT_EQ(f.GetMaxResolution(), 600);
  EXPECT_TRUE(f.WaitReady());
}

TEST(KelvaneToneTable, ValuesWorkedOutByHand) {
  std::array<uint8_t, kv::kToneTableSize> t{};
  ASSERT_TRUE(kv::BuildToneTable(0, 0, 255, 1.0f, t));  // R = 4096
  EXPECT_EQ(t[0], 0);
  EXPECT_EQ(t[4095], 255);
  EXPECT_EQ(t[2048], 128);  // 2048 x 255 / 4096 = 127.5, rounded up
  EXPECT_EQ(t[1], 0);       // 0.06 rounds to 0
  ASSERT_TRUE(kv::BuildToneTable(0, 0, 255, 2.0f, t));  // sqrt(x) x 255 / 64
  EXPECT_EQ(t[1024], 128);  // 32 x 3.984375 = 127.5
  EXPECT_EQ(t[16], 16);     // 4 x 3.984375 = 15.94
  ASSERT_TRUE(kv::BuildToneTable(10, 0, 255, 1.0f, t));
  EXPECT_EQ(t[1], 10);
  EXPECT_EQ(t[4095], 255);  // 265 clamped
  ASSERT_TRUE(kv::BuildToneTable(-20, 16, 128, 1.0f, t));  // R = 2048 - 256 = 1792
  EXPECT_EQ(t[256], 0);     // at and below 16 x low: 0
  EXPECT_EQ(t[257], 0);     // 0.14 - 20 clamped
  EXPECT_EQ(t[2048], 235);  // 1792 x 255 / 1792 - 20
}

TEST(KelvaneToneTable, RefusedParameters) {
  std::array<uint8_t, kv::kToneTableSize> t{};
  EXPECT_FALSE(kv::BuildToneTable(0, 100, 100, 1.5f, t));
  EXPECT_FALSE(kv::BuildToneTable(0, 200, 100, 1.5f, t));
  EXPECT_FALSE(kv::BuildToneTable(0, 0, 255, 0.99f, t));
  EXPECT_FALSE(kv::BuildToneTable(0, 0, 255, 3.01f, t));
  EXPECT_FALSE(kv::BuildToneTable(0, 0, 255, std::nanf(""), t));
  EXPECT_TRUE(kv::BuildToneTable(0, 0, 255, 3.0f, t));
}

TEST(KelvaneToneTable, UploadByWindowModeWithCrcMostSignificantByteFirst) {
  std::array<uint8_t, kv::kToneTableSize> table{};
  ASSERT_TRUE(kv::BuildToneTable(3, 10, 200, 1.8f, table));
  struct Case { int32_t mode; int32_t escape; size_t copies; };
  for (const Case c : {Case{0, 190, 3}, Case{7, 0, 0}, Case{1, 191, 1}, Case{2, 191, 1}, Case{6, 0, 0},
                       Case{8, 0, 0}}) {
    SCOPED_TRACE(c.mode);
    RecordingTransport t(2);
    CKelvaneFunctionsV2 f(&t);
    ASSERT_TRUE(f.SetWindow(1000, 1000, 200, c.mode));
    t.sent.clear();
    EXPECT_TRUE(f.SetGamma(3, 10, 200, 1.8f));
    if (c.copies == 0) {
      EXPECT_TRUE(t.sent.empty());  // these windows take no table
      continue;
    }
    ASSERT_EQ(t.sent.size(), 1u);
    const Bytes& sent = t.sent[0].in;
    EXPECT_EQ(t.sent[0].code, c.escape);
    EXPECT_EQ(t.sent[0].outLength, 0u);
    ASSERT_EQ(sent.size(), c.copies * 4096 + 4);
    for (size_t k = 0; k < c.copies; ++k)
      EXPECT_TRUE(std::equal(table.begin(), table.end(), sent.begin() + k * 4096));
    const uint32_t crc = ReferenceCrc(sent.data(), sent.size() - 4);
    EXPECT_EQ(sent[sent.size() - 4], crc >> 24);
    EXPECT_EQ(sent[sent.size() - 3], (crc >> 16) & 0xFF);
    EXPECT_EQ(sent[sent.size() - 2], (crc >> 8) & 0xFF);
    EXPECT_EQ(sent[sent.size() - 1], crc & 0xFF);
  }
}

TEST(KelvaneToneTable, NoUploadBeforeAWindowOrWithBadParameters) {
  RecordingTransport t(2);
  CKelvaneFunctionsV2 f(&t);
  EXPECT_FALSE(f.SetGamma(0, 0, 255, 1.5f));  // no window yet
  ASSERT_TRUE(f.SetWindow(1000, 1000, 200, 1));
  t.sent.clear();
  EXPECT_FALSE(f.SetGamma(0, 0, 255, 0.5f));
  EXPECT_FALSE(f.SetGamma(0, 255, 0, 1.5f));
  EXPECT_TRUE(t.sent.empty());
  t.Fail();
  EXPECT_FALSE(f.SetGamma(0, 0, 255, 1.5f));  // the upload itself refused
}

TEST(KelvaneCommandSet, NoTransportFailsEverything) {
  CKelvaneFunctionsV1 v1(nullptr);
  CKelvaneFunctionsV2 v2(nullptr);
  int32_t a, b, c, d;
  for (IKelvaneFunctions* f : {static_cast<IKelvaneFunctions*>(&v1), static_cast<IKelvaneFunctions*>(&v2)}) {
    EXPECT_FALSE(f->StartScan());
    EXPECT_FALSE(f->GetStatus(&a, &b, &c, &d));
    EXPECT_FALSE(f->SetPaperHandling(1));
  }
  EXPECT_FALSE(v2.SetWindow(1000, 1000, 100, 0));
  EXPECT_EQ(v2.WireCode(), 9999);
}
