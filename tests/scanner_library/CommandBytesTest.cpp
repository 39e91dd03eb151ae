// Every setter, table load, counter command and diagnostic page: the exact command block
// and data the scanner receives.
#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "tests/scanner_library/TrennicFixture.h"

namespace orb::test {
namespace {

struct CommandCase {
  const char* name;
  std::function<bool(CTrennic&)> call;
  std::vector<uint8_t> cdb;
  std::vector<uint8_t> data;
};

std::vector<uint8_t> Send10(int param, int length) {
  return Bytes({0x2A, 0, 1, 0, (param >> 8) & 0xFF, param & 0xFF, (length >> 16) & 0xFF,
                (length >> 8) & 0xFF, length & 0xFF, 0});
}

std::vector<uint8_t> Diag(int length) { return Bytes({0x1D, 0x10, 0, (length >> 8) & 0xFF, length & 0xFF, 0}); }

std::vector<uint8_t> Page(int page, std::vector<uint8_t> params) {
  std::vector<uint8_t> d(4 + params.size(), 0);
  d[0] = static_cast<uint8_t>(page);
  d[3] = static_cast<uint8_t>(params.size());
  for (size_t i = 0; i < params.size(); ++i) d[4 + i] = params[i];
  return d;
}

unsigned char g_pass[8] = {1, 2, 3, 4, 5, 6, 7, 8};
unsigned char g_four[4] = {9, 8, 7, 6};

const std::vector<CommandCase>& Cases() {
  static const std::vector<CommandCase> cases = {
      {"StopScan", [](CTrennic& t) { return t.StopScan(); }, Send10(0, 1), Bytes({0})},
      {"SetFractionalSpeed", [](CTrennic& t) { return t.SetFractionalSpeed(0x106); }, Send10(1, 1), Bytes({6})},
      {"SetMotorCount", [](CTrennic& t) { return t.SetMotorCount(0x01020304); }, Send10(3, 5), Bytes({1, 2, 3, 4, 1})},
      {"SetPaperTransport", [](CTrennic& t) { return t.SetPaperTransport(TRANSPORT_MANUAL); }, Send10(6, 1), Bytes({2})},
      {"UnNormaliseScanner", [](CTrennic& t) { return t.UnNormaliseScanner(); }, Send10(7, 0), {}},
      {"SetIllumination", [](CTrennic& t) { return t.SetIllumination(ILLUMINATION_ON); }, Send10(8, 1), Bytes({1})},
      {"SetBrightness", [](CTrennic& t) { return t.SetBrightness(-3); }, Send10(17, 1), Bytes({0xFD})},
      {"SetBinaryThreshold", [](CTrennic& t) { return t.SetBinaryThreshold(200); }, Send10(18, 1), Bytes({200})},
      {"SetPaperStagingPosition", [](CTrennic& t) { return t.SetPaperStagingPosition(-100); }, Send10(22, 2), Bytes({0xFF, 0x9C})},
      {"SetPostEndOfMediaRunOn", [](CTrennic& t) { return t.SetPostEndOfMediaRunOn(250); }, Send10(23, 2), Bytes({0, 250})},
      {"SetFrontBackAlign3", [](CTrennic& t) { return t.SetFrontBackAlign(1, 2, 3); }, Send10(26, 3), Bytes({1, 2, 3})},
      {"SetFrontBackAlign5", [](CTrennic& t) { return t.SetFrontBackAlign(1, 2, 3, 4, 5); }, Send10(26, 5), Bytes({1, 2, 3, 4, 5})},
      {"SetLeftRightStitch3", [](CTrennic& t) { return t.SetLeftRightStitch(7, 8, 9); }, Send10(27, 3), Bytes({7, 8, 9})},
      {"SetLeftRightStitch5", [](CTrennic& t) { return t.SetLeftRightStitch(7, 8, 9, 10, 11); }, Send10(27, 5), Bytes({7, 8, 9, 10, 11})},
      {"SetMotorControl", [](CTrennic& t) { return t.SetMotorControl(MOTOR_CONTROL_1); }, Send10(30, 1), Bytes({1})},
      {"SetFilter", [](CTrennic& t) { return t.SetFilter(static_cast<FilterType>(3)); }, Send10(48, 1), Bytes({3})},
      {"RGBControl", [](CTrennic& t) { return t.RGBControl(RGB_CONTROL_ON); }, Send10(50, 1), Bytes({1})},
      {"SetPaperStage", [](CTrennic& t) { return t.SetPaperStage(0x0A0B0C0D); }, Send10(53, 5), Bytes({10, 11, 12, 13, 1})},
      {"SetPaperLength", [](CTrennic& t) { return t.SetPaperLength(-2); }, Send10(54, 5), Bytes({0xFF, 0xFF, 0xFF, 0xFE, 1})},
      {"SetAutoLoadDelay", [](CTrennic& t) { return t.SetAutoLoadDelay(30); }, Send10(55, 1), Bytes({30})},
      {"SetMotorCorrection", [](CTrennic& t) { return t.SetMotorCorrection(0x1234, 2, 3, 4); }, Send10(56, 9),
       Bytes({0x12, 0x34, 0, 2, 0, 3, 0, 4, 1})},
      {"SetIAT", [](CTrennic& t) { return t.SetIAT(200, 0, 255, 255, 200); }, Send10(80, 6),
       Bytes({0, 0xC8, 0, 0xFF, 0xFF, 0xC8})},
      {"SetPass", [](CTrennic& t) { return t.SetPass(g_pass); }, Send10(112, 8), Bytes({1, 2, 3, 4, 5, 6, 7, 8})},
      {"ResetInternal", [](CTrennic& t) { return t.ResetInternallySetIncrementalCounters(g_four); }, Send10(113, 4), Bytes({9, 8, 7, 6})},
      {"ResetExternal", [](CTrennic& t) { return t.ResetExternallySetIncrementaCounters(g_four); }, Send10(114, 4), Bytes({9, 8, 7, 6})},
      {"IncrementExternal", [](CTrennic& t) { return t.IncrementExternalCounters(g_pass); }, Send10(115, 8), Bytes({1, 2, 3, 4, 5, 6, 7, 8})},
      {"SetObjectPosition", [](CTrennic& t) { return t.SetObjectPosition(OBJECT_MOVE_RELATIVE, -115); },
       Bytes({0x31, 3, 0xFF, 0xFF, 0x8D, 0, 0, 0, 0, 0}), {}},
      {"StopCurrentDiagnostic", [](CTrennic& t) { return t.StopCurrentDiagnostic(); }, Diag(4), Page(0x80, {})},
      {"MagnificationDiagnostic", [](CTrennic& t) { return t.MagnificationDiagnostic(0x1FF); }, Diag(5), Page(0x81, Bytes({0xFF}))},
      {"CameraLevelsDiagnostic", [](CTrennic& t) { return t.CameraLevelsDiagnostic(2); }, Diag(5), Page(0x83, Bytes({2}))},
      {"LightNormalisation", [](CTrennic& t) { return t.LightNormalisationDiagnostic(); }, Diag(4), Page(0x84, {})},
      {"DarkNormalisation", [](CTrennic& t) { return t.DarkNormalisationDiagnostic(); }, Diag(4), Page(0x85, {})},
      {"AccuracyDiagnostic", [](CTrennic& t) { return t.AccuracyDiagnostic(0x0102, 0x0304); }, Diag(8), Page(0x8B, Bytes({1, 2, 3, 4}))},
      {"CameraAlignmentDiagnostic", [](CTrennic& t) { return t.CameraAlignmentDiagnostic(1, 2, 3, 0x100, 5, 6); }, Diag(16),
       Page(0x8C, Bytes({0, 1, 0, 2, 0, 3, 1, 0, 0, 5, 0, 6}))},
      {"SwitchSensorDiagnostic", [](CTrennic& t) { return t.SwitchSensorDiagnostic(1); }, Diag(5), Page(0x8E, Bytes({1}))},
      {"AutoFrontBack", [](CTrennic& t) { return t.AutoFrontBackDiagnostic(); }, Diag(4), Page(0x91, {})},
      {"AutoLeftRight", [](CTrennic& t) { return t.AutoLeftRightDiagnostic(); }, Diag(4), Page(0xA2, {})},
      {"CameraTRCLineRam", [](CTrennic& t) { return t.CameraTRCLineRamDiagnostic(1, 2); }, Diag(6), Page(0xB0, Bytes({1, 2}))},
      {"CameraCoefficientMemory", [](CTrennic& t) { return t.CameraCoefficientMemoryDiagnostic(3, 4); }, Diag(6), Page(0xB1, Bytes({3, 4}))},
      {"PaletteRam", [](CTrennic& t) { return t.PaletteRamDiagnostic(1); }, Diag(5), Page(0xB2, Bytes({1}))},
      {"FlagRam", [](CTrennic& t) { return t.FlagRamDiagnostic(1); }, Diag(5), Page(0xB3, Bytes({1}))},
      {"ColourDelayRAM", [](CTrennic& t) { return t.ColourDelayRAMDiagnostic(1); }, Diag(5), Page(0xB4, Bytes({1}))},
      {"VariableResLineDelay", [](CTrennic& t) { return t.VariableResLineDelayDiagnostic(1); }, Diag(5), Page(0xB5, Bytes({1}))},
      {"OutputFIFO", [](CTrennic& t) { return t.OutputFIFODiagnostic(1); }, Diag(5), Page(0xB6, Bytes({1}))},
      {"DSPActive", [](CTrennic& t) { return t.DSPActiveDiagnostic(1); }, Diag(5), Page(0xB7, Bytes({1}))},
      {"DSPFIFO", [](CTrennic& t) { return t.DSPFIFODiagnostic(1); }, Diag(5), Page(0xB8, Bytes({1}))},
      {"VqCameraTRCLineRam", [](CTrennic& t) { return t.VqCameraTRCLineRamDiagnostic(5, 6); }, Diag(6), Page(0xB0, Bytes({5, 6}))},
      {"VqFlagRam", [](CTrennic& t) { return t.VqFlagRamDiagnostic(2); }, Diag(5), Page(0xB1, Bytes({2}))},
      {"VqVariableResRam", [](CTrennic& t) { return t.VqVariableResRamDiagnostic(2); }, Diag(5), Page(0xB2, Bytes({2}))},
      {"VqFilterRam", [](CTrennic& t) { return t.VqFilterRamDiagnostic(2); }, Diag(5), Page(0xB3, Bytes({2}))},
      {"VqDSP", [](CTrennic& t) { return t.VqDSPDiagnostic(2); }, Diag(5), Page(0xB4, Bytes({2}))},
      {"VqDSPThresholdFIFO", [](CTrennic& t) { return t.VqDSPThresholdFIFODiagnostic(2); }, Diag(5), Page(0xB5, Bytes({2}))},
      {"VqSrgbRam", [](CTrennic& t) { return t.VqSrgbRamDiagnostic(2); }, Diag(5), Page(0xB6, Bytes({2}))},
      {"VqPaletteRam", [](CTrennic& t) { return t.VqPaletteRamDiagnostic(2); }, Diag(5), Page(0xB7, Bytes({2}))},
      {"VqOutputFifo", [](CTrennic& t) { return t.VqOutputFifoDiagnostic(2); }, Diag(5), Page(0xB8, Bytes({2}))},
      {"VqImageDataPath", [](CTrennic& t) { return t.VqImageDataPathDiagnostic(2); }, Diag(5), Page(0xB9, Bytes({2}))},
      {"VqSelfTest", [](CTrennic& t) { return t.VqSelfTestDiagnostic(2); }, Diag(5), Page(0xBA, Bytes({2}))},
      {"SelfTestDiagnostic", [](CTrennic& t) { return t.SelfTestDiagnostic(); }, Bytes({0x1D, 0x14, 0, 0, 0, 0}), {}},
  };
  return cases;
}

class CommandBytesTest : public TrennicFixture {};

TEST_F(CommandBytesTest, EachCallSendsItsExactCommandAndData) {
  for (const auto& c : Cases()) {
    sim().ClearLog();
    EXPECT_TRUE(c.call(t())) << c.name;
    auto log = sim().Log();
    ASSERT_EQ(log.size(), 1u) << c.name;
    EXPECT_EQ(log[0].cdb, c.cdb) << c.name;
    EXPECT_EQ(log[0].dataOut, c.data) << c.name;
  }
}

TEST_F(CommandBytesTest, EachCallReturnsFalseWhenTheScannerRefuses) {
  for (const auto& c : Cases()) {
    sim().FailCommand(1, {0x05, 0x24, 0x00});
    EXPECT_FALSE(c.call(t())) << c.name;
  }
}

TEST_F(CommandBytesTest, SetCountersSwapsTheCallersBufferAndReadCountersSwapsBack) {
  unsigned char buf[33];
  for (int i = 0; i < 8; ++i) {
    uint32_t v = 0x01000000u * static_cast<uint32_t>(i + 1) + 0x20;
    std::memcpy(buf + 4 * i, &v, 4);
  }
  buf[32] = 0x77;
  ASSERT_TRUE(t().SetCounters(buf));
  auto log = sim().Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].cdb, Send10(116, 33));
  EXPECT_EQ(log[0].dataOut[0], 0x01);
  EXPECT_EQ(log[0].dataOut[3], 0x20);
  EXPECT_EQ(log[0].dataOut[32], 0x77);
  EXPECT_EQ(buf[0], 0x01);  // the caller's buffer holds the big-endian values afterwards
  unsigned char back[32] = {};
  ASSERT_TRUE(t().ReadCounters(back));
  EXPECT_EQ(sim().Log().back().cdb, Bytes({0x3C, 1, 0, 0, 0, 0, 0, 0, 32, 0}));
  for (int i = 0; i < 8; ++i) {
    uint32_t v;
    std::memcpy(&v, back + 4 * i, 4);
    EXPECT_EQ(v, 0x01000000u * static_cast<uint32_t>(i + 1) + 0x20);
  }
}

TEST_F(CommandBytesTest, TableLoadsSendTheCallersTables) {
  std::vector<unsigned char> trc(4097);
  trc[0] = 2;
  for (int i = 1; i < 4097; ++i) trc[static_cast<size_t>(i)] = static_cast<unsigned char>(255 - (i - 1) / 16);
  ASSERT_TRUE(t().LoadTrcTable(trc.data()));
  auto log = sim().Log();
  EXPECT_EQ(log.back().cdb, Send10(39, 4097));
  EXPECT_EQ(log.back().dataOut, std::vector<uint8_t>(trc.begin(), trc.end()));
  EXPECT_EQ(sim().ToneTable(1)[0], 255);  // channel 2 is green
  EXPECT_EQ(sim().ToneTable(0)[0], 0);

  std::vector<unsigned char> map(1536, 0x5C);
  ASSERT_TRUE(t().LoadCameraMappingInfo(map.data()));
  EXPECT_EQ(sim().Log().back().cdb, Send10(51, 1536));
  EXPECT_EQ(sim().Log().back().dataOut.size(), 1536u);
}

TEST_F(CommandBytesTest, RgbTableOfGivenLengthSendsWholeBlocksThenTheRest) {
  struct Case {
    unsigned length;
    std::vector<std::pair<int, int>> blocks;  // parameter, length
  };
  const Case cases[] = {
      {100000, {{0x0031, 65536}, {0x0131, 34464}}},
      {196608, {{0x0031, 65536}, {0x0131, 65536}, {0x0231, 65536}}},
      {10, {{0x0031, 10}}},
  };
  std::vector<unsigned char> table(196608);
  std::iota(table.begin(), table.end(), 0);
  for (const auto& c : cases) {
    sim().ClearLog();
    ASSERT_TRUE(t().LoadRGBTable(table.data(), c.length)) << c.length;
    auto log = sim().Log();
    ASSERT_EQ(log.size(), c.blocks.size()) << c.length;
    for (size_t i = 0; i < log.size(); ++i) {
      EXPECT_EQ(log[i].cdb, Send10(c.blocks[i].first, c.blocks[i].second));
      EXPECT_EQ(log[i].dataOut[0], table[i * 65536]);
    }
  }
  std::vector<unsigned char> full(16 * 65536, 3);
  sim().ClearLog();
  ASSERT_TRUE(t().LoadRGBTable(full.data()));
  auto log = sim().Log();
  ASSERT_EQ(log.size(), 16u);
  EXPECT_EQ(log[15].cdb, Send10(0x0F31, 65536));
  // The first failure ends the load.
  sim().ClearLog();
  sim().FailCommand(2, {0x05, 0x26, 0x00});
  EXPECT_FALSE(t().LoadRGBTable(full.data()));
  EXPECT_EQ(sim().Log().size(), 2u);
}

TEST_F(CommandBytesTest, ColourTableIsSentOnceUnlessTheFirstSendFailed) {
  std::vector<unsigned char> table(65536, 0);  // equal to a fresh cache's zeros: still sent
  ASSERT_TRUE(t().LoadColorTranslationTable(table.data()));
  ASSERT_TRUE(t().LoadColorTranslationTable(table.data()));
  EXPECT_EQ(sim().LogOf(0x2A).size(), 1u);
  EXPECT_EQ(sim().ColorTable().size(), 65536u);

  table[1234] = 9;
  sim().ClearLog();
  sim().FailCommand(1, {0x05, 0x26, 0x00});
  EXPECT_FALSE(t().LoadColorTranslationTable(table.data()));
  ASSERT_TRUE(t().LoadColorTranslationTable(table.data()));
  EXPECT_EQ(sim().LogOf(0x2A).size(), 2u);
  EXPECT_EQ(sim().ColorTable()[1234], 9);
  // Back to a table that was sent before: different from the last one, so sent again.
  table[1234] = 0;
  sim().ClearLog();
  ASSERT_TRUE(t().LoadColorTranslationTable(table.data()));
  EXPECT_EQ(sim().LogOf(0x2A).size(), 1u);
}

TEST_F(CommandBytesTest, ColourTableAfterAFailedSendOfAnotherTableIsSentAgain) {
  std::vector<unsigned char> a(65536, 1), b(65536, 2);
  ASSERT_TRUE(t().LoadColorTranslationTable(a.data()));
  sim().FailCommand(1, {0x05, 0x26, 0x00});
  EXPECT_FALSE(t().LoadColorTranslationTable(b.data()));
  sim().ClearLog();
  // The scanner may hold a damaged table now: the cache no longer vouches for `a`.
  ASSERT_TRUE(t().LoadColorTranslationTable(a.data()));
  EXPECT_EQ(sim().LogOf(0x2A).size(), 1u);
}

TEST_F(CommandBytesTest, NullTablesAreRefusedWithoutSending) {
  EXPECT_FALSE(t().LoadColorTranslationTable(nullptr));
  EXPECT_FALSE(t().LoadTrcTable(nullptr));
  EXPECT_FALSE(t().LoadRGBTable(nullptr));
  EXPECT_FALSE(t().LoadRGBTable(nullptr, 10));
  EXPECT_FALSE(t().LoadCameraMappingInfo(nullptr));
  EXPECT_FALSE(t().SetCounters(nullptr));
  EXPECT_FALSE(t().ReadCounters(nullptr));
  EXPECT_FALSE(t().WriteBuffer(nullptr, 10, 0));
  EXPECT_EQ(sim().CommandCount(), 0u);
}

}  // namespace
}  // namespace orb::test
