#include "engine/AppStatus.h"

#include <gtest/gtest.h>

namespace {

using orb::Bits;
using orb::ScanState;
using orb::StatusBit;

// Restores the process-wide word after each test.
class AppStatusTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = AppStatus.load(); }
  void TearDown() override { AppStatus.store(saved_); }

 private:
  uint32_t saved_ = 0;
};

// The values other programs' files and the documented word fix; every name keeps its number.
TEST_F(AppStatusTest, NamesKeepTheDocumentedValues) {
  struct Case {
    StatusBit bit;
    uint32_t value;
  } cases[] = {
      {StatusBit::MediumMoving, 0x4},           {StatusBit::FittedDisplay, 0x10},
      {StatusBit::FullSizeDisplay, 0x20},       {StatusBit::Opening, 0x100},
      {StatusBit::ViewRefresh, 0x200},          {StatusBit::Busy, 0x300},
      {StatusBit::ProgramClose, 0x10000},       {StatusBit::ClassPreview, 0x200000},
      {StatusBit::ColourPickRequested, 0x1000000}, {StatusBit::AreaMergeRequested, 0x2000000},
      {StatusBit::JoinCanvas, 0x10000000},      {StatusBit::DecodingOnGuiThread, 0x20000000},
  };
  for (const Case& c : cases) EXPECT_EQ(Bits(c.bit), c.value) << c.value;
  EXPECT_EQ(Bits(ScanState::Idle), 0u);
  EXPECT_EQ(Bits(ScanState::Scanning), 1u);
  EXPECT_EQ(Bits(ScanState::DecisionPending), 2u);
}

// The scan state and the medium-moving flag once shared a four-bit mask; now neither
// disturbs the other.
TEST_F(AppStatusTest, ScanStateAndMediumMovingAreIndependent) {
  AppStatus.store(0x4 | 0x100);
  orb::SetScanState(ScanState::Scanning);
  EXPECT_EQ(AppStatus.load(), 0x4u | 0x100u | 0x1u);
  EXPECT_EQ(orb::CurrentScanState(), ScanState::Scanning);
  EXPECT_TRUE(orb::IsScanning());
  orb::SetScanState(ScanState::DecisionPending);
  EXPECT_EQ(AppStatus.load(), 0x4u | 0x100u | 0x2u);
  orb::ClearStatus(StatusBit::MediumMoving);
  EXPECT_EQ(orb::CurrentScanState(), ScanState::DecisionPending);
  EXPECT_EQ(AppStatus.load(), 0x100u | 0x2u);
}

// Setting one display mode clears the other, whichever was set before, and keeps the rest.
TEST_F(AppStatusTest, DisplayModesExcludeEachOther) {
  struct Case {
    uint32_t before;
    StatusBit mode;
    StatusBit extra;
    uint32_t after;
  } cases[] = {
      {0x20 | 0x1, StatusBit::FittedDisplay, StatusBit::None, 0x10 | 0x1},
      {0x10 | 0x1, StatusBit::FullSizeDisplay, StatusBit::None, 0x20 | 0x1},
      {0x10000 | 0x20, StatusBit::FittedDisplay, StatusBit::Opening | StatusBit::DecodingOnGuiThread,
       0x10000 | 0x10 | 0x100 | 0x20000000},
  };
  for (const Case& c : cases) {
    AppStatus.store(c.before);
    orb::SetDisplayMode(c.mode, c.extra);
    EXPECT_EQ(AppStatus.load(), c.after) << c.before;
  }
}

TEST_F(AppStatusTest, TestsSetAndClearBitsByName) {
  AppStatus.store(0x2);
  EXPECT_FALSE(orb::HasStatus(StatusBit::Busy));
  orb::SetStatus(StatusBit::ViewRefresh);
  EXPECT_TRUE(orb::HasStatus(StatusBit::Busy));
  EXPECT_FALSE(orb::HasStatus(StatusBit::Opening));
  EXPECT_FALSE(orb::StatusIsExactly(AppStatus.load(), StatusBit::ViewRefresh));
  orb::PutStatus(StatusBit::MediumMoving, true);
  EXPECT_EQ(AppStatus.load(), 0x2u | 0x200u | 0x4u);
  orb::PutStatus(StatusBit::MediumMoving, false);
  orb::ClearStatus(StatusBit::DisplayField | StatusBit::Opening | StatusBit::ViewRefresh);
  EXPECT_EQ(AppStatus.load(), 0x2u);
  orb::SetScanState(ScanState::Idle);
  orb::SetStatus(StatusBit::ViewRefresh);
  EXPECT_TRUE(orb::StatusIsExactly(AppStatus.load(), StatusBit::ViewRefresh));
}

}  // namespace
