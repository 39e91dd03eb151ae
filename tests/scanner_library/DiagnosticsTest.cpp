// Diagnostic results, DRAM retrieval, firmware download.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "tests/scanner_library/TrennicFixture.h"

namespace orb::test {
namespace {

class DiagnosticsTest : public TrennicFixture {};

TEST_F(DiagnosticsTest, ReceiveResultsAllocationLength) {
  ReceiveResultsType r{};
  ASSERT_TRUE(t().ReceiveResultsDiagnostic(&r, 300));
  EXPECT_EQ(sim().Log().back().cdb, Bytes({0x1C, 0, 0, 0x01, 0x2C, 0}));
  ASSERT_TRUE(t().ReceiveResultsDiagnostic(&r, 128));
  EXPECT_EQ(sim().Log().back().cdb, Bytes({0x1C, 0, 0, 0, 128, 0}));
  EXPECT_FALSE(t().ReceiveResultsDiagnostic(nullptr, 128));
  EXPECT_FALSE(t().ReceiveResultsDiagnostic(&r, -1));
}

TEST_F(DiagnosticsTest, StepsArePolledUntilCompletedOrFailedInByteFour) {
  sim().SetDiagnosticOutcome(0x85, 3, false);
  sim().SetDiagnosticOutcome(0x84, 2, true);
  ASSERT_TRUE(t().DarkNormalisationDiagnostic());
  ReceiveResultsType r{};
  int polls = 0;
  do {
    ASSERT_TRUE(t().ReceiveResultsDiagnostic(&r, 128));
    ++polls;
  } while (!(r.Data[kResultsStatusByte] & (kResultsCompleted | kResultsFailed)));
  EXPECT_EQ(polls, 4);
  EXPECT_EQ(r.Data[kResultsStatusByte], kResultsCompleted);

  ASSERT_TRUE(t().LightNormalisationDiagnostic());
  polls = 0;
  do {
    ASSERT_TRUE(t().ReceiveResultsDiagnostic(&r, 128));
    ++polls;
  } while (!(r.Data[kResultsStatusByte] & (kResultsCompleted | kResultsFailed)));
  EXPECT_EQ(polls, 3);
  EXPECT_EQ(r.Data[kResultsStatusByte], kResultsFailed);
}

TEST_F(DiagnosticsTest, StopCurrentDiagnosticMarksTheStepFailed) {
  sim().SetDiagnosticOutcome(0x91, 50, false);
  ASSERT_TRUE(t().AutoFrontBackDiagnostic());
  ReceiveResultsType r{};
  ASSERT_TRUE(t().ReceiveResultsDiagnostic(&r, 128));
  EXPECT_EQ(r.Data[4], kResultsBusy);
  ASSERT_TRUE(t().StopCurrentDiagnostic());
  ASSERT_TRUE(t().ReceiveResultsDiagnostic(&r, 128));
  EXPECT_EQ(r.Data[4] & kResultsFailed, kResultsFailed);
}

TEST_F(DiagnosticsTest, PaperSensorIsByteFiveBitTwo) {
  ReceiveResultsType r{};
  ASSERT_TRUE(t().SwitchSensorDiagnostic(0));
  ASSERT_TRUE(t().ReceiveResultsDiagnostic(&r, 128));
  EXPECT_EQ(r.Data[kResultsPaperByte] & kResultsPaperPresent, 0);
  sim().InsertPaper();
  ASSERT_TRUE(t().ReceiveResultsDiagnostic(&r, 128));
  EXPECT_EQ(r.Data[kResultsPaperByte] & kResultsPaperPresent, kResultsPaperPresent);
  ASSERT_TRUE(t().SetObjectPosition(OBJECT_LOAD, 0));
  EXPECT_EQ(sim().Paper(), sim::PaperState::Loaded);
  ASSERT_TRUE(t().SetObjectPosition(OBJECT_UNLOAD_THROUGH, 0));
  ASSERT_TRUE(t().ReceiveResultsDiagnostic(&r, 128));
  EXPECT_EQ(r.Data[kResultsPaperByte] & kResultsPaperPresent, 0);
  // Loading with no paper is refused by the scanner.
  EXPECT_FALSE(t().SetObjectPosition(OBJECT_LOAD_STAGED, 0));
  EXPECT_EQ(t().GetLastTrennicScsiError(), 0x3A00);
}

TEST_F(DiagnosticsTest, DramRetrievalPollsWhileBusyAndFillsSeamValues) {
  sim().SetDiagnosticOutcome(0xA6, 2, false);
  ASSERT_TRUE(t().SetLeftRightStitch(11, 12, 13, 14, 15));
  ASSERT_TRUE(t().SetFrontBackAlign(21, 22, 23, 24, 25));
  sim().ClearLog();
  DramDataType d{};
  ASSERT_TRUE(t().RetrieveDramDiagnostic(&d));
  EXPECT_EQ(sim().LogOf(0x1C).size(), 3u);
  EXPECT_EQ(clock_.TotalSleptMs(), 750);
  EXPECT_EQ(d.Data[4] & 6, 0);
  const int lr[] = {5, 6, 7, 10, 11}, fb[] = {37, 38, 39, 13, 14};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(d.Data[lr[i]], 11 + i);
    EXPECT_EQ(d.Data[fb[i]], 21 + i);
  }
}

TEST_F(DiagnosticsTest, DramRetrievalGivesUpAfterSixReceives) {
  sim().SetDiagnosticOutcome(0xA6, 1000, false);
  DramDataType d{};
  ASSERT_TRUE(t().RetrieveDramDiagnostic(&d));
  EXPECT_EQ(sim().LogOf(0x1C).size(), 6u);
  EXPECT_EQ(clock_.SleepCount(), 6);
  EXPECT_EQ(clock_.TotalSleptMs(), 1500);
}

TEST_F(DiagnosticsTest, DramRetrievalStopsOnAFailedReceive) {
  sim().SetDiagnosticOutcome(0xA6, 1000, false);
  sim().FailCommand(2, {0x04, 0x44, 0x00}, 0x1C);
  DramDataType d{};
  EXPECT_FALSE(t().RetrieveDramDiagnostic(&d));
  EXPECT_EQ(t().GetLastTrennicScsiError(), 0x4400);
}

TEST_F(DiagnosticsTest, AlignmentStepsLeaveTheirResults) {
  sim().SetAlignmentResults({1, 2, 3, 4, 5}, {6, 7, 8, 9, 10});
  ASSERT_TRUE(t().AutoLeftRightDiagnostic());
  ReceiveResultsType r{};
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(t().ReceiveResultsDiagnostic(&r, 128));
  EXPECT_EQ(r.Data[4], kResultsCompleted);
  EXPECT_EQ(sim().LeftRightStitch()[2], 3);
}

struct FirmwareCase {
  int length;
  std::vector<std::pair<uint32_t, uint32_t>> blocks;  // offset, length
};

TEST_F(DiagnosticsTest, WriteBufferWritesWholeAndPartBlocksAndNeverAnEmptyOne) {
  const FirmwareCase cases[] = {
      {150000, {{0, 65536}, {0x10000, 65536}, {0x20000, 18928}}},
      {65536, {{0, 65536}}},
      {100, {{0, 100}}},
      {131072, {{0, 65536}, {0x10000, 65536}}},
  };
  std::vector<unsigned char> fw(150000);
  std::iota(fw.begin(), fw.end(), 0);
  for (const auto& c : cases) {
    sim().ClearLog();
    ASSERT_TRUE(t().WriteBuffer(fw.data(), c.length, 0)) << c.length;
    auto log = sim().Log();
    ASSERT_EQ(log.size(), c.blocks.size()) << c.length;
    for (size_t i = 0; i < log.size(); ++i) {
      const auto [off, len] = c.blocks[i];
      EXPECT_EQ(log[i].cdb, Bytes({0x3B, 5, 0, int(off >> 16), int(off >> 8) & 0xFF, int(off & 0xFF),
                                   int(len >> 16), int(len >> 8) & 0xFF, int(len & 0xFF), 0}));
      EXPECT_EQ(log[i].dataOut.size(), len);
    }
  }
  sim().ClearLog();
  EXPECT_FALSE(t().WriteBuffer(fw.data(), 0, 0));
  EXPECT_FALSE(t().WriteBuffer(fw.data(), -5, 0));
  EXPECT_EQ(sim().CommandCount(), 0u);
  // Offsets add up.
  ASSERT_TRUE(t().WriteBuffer(fw.data(), 70000, 0x100));
  auto fwMap = sim().Firmware();
  ASSERT_EQ(fwMap.count(0x10100), 1u);
  EXPECT_EQ(fwMap.count(0x100), 1u);
  EXPECT_EQ(fwMap.at(0x10100).size(), 70000u - 65536u);
}

TEST_F(DiagnosticsTest, WriteBufferStopsAtTheFirstFailure) {
  std::vector<unsigned char> fw(200000, 1);
  sim().FailCommand(2, {0x04, 0x44, 0x00});
  EXPECT_FALSE(t().WriteBuffer(fw.data(), 200000, 0));
  EXPECT_EQ(sim().CommandCount(), 2u);
  EXPECT_EQ(t().GetLastTrennicScsiError(), 0x4400);
}

TEST_F(DiagnosticsTest, FirmwareLoadAtTheFixedOffsetIsNeverTruncated) {
  std::vector<unsigned char> fw(150000, 7);
  ASSERT_TRUE(t().WriteBuffer(fw.data(), 150000));
  auto log = sim().Log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].cdb, Bytes({0x3B, 5, 0, 0x08, 0, 0, 0x01, 0, 0, 0}));
  EXPECT_EQ(log[1].cdb, Bytes({0x3B, 5, 0, 0x09, 0, 0, 0x01, 0, 0, 0}));
  EXPECT_EQ(log[2].cdb, Bytes({0x3B, 5, 0, 0x0A, 0, 0, 0, 0x49, 0xF0, 0}));
  sim().ClearLog();
  sim().FailCommand(1, {0x04, 0x44, 0x00});
  EXPECT_FALSE(t().WriteBuffer(fw.data(), 150000));
  EXPECT_EQ(sim().CommandCount(), 1u);
}

}  // namespace
}  // namespace orb::test
