// Identification over the whole model table.
#include <gtest/gtest.h>

#include <string>

#include "tests/scanner_library/TrennicFixture.h"

namespace orb::test {
namespace {

struct ModelCase {
  const char* product;
  int byte36;
  ScannerInfoType expect;  // device, series, optical, maximum, pixels, cameras
};

const ModelCase kCases[] = {
    {"TESTZK", 0, {99, 99, 0, 0, 0, 0}},
    {"TK2231", 0, {21, 2, 600, 600, 14400, 2}},
    {"TK2231", 1, {22, 3, 600, 600, 14400, 2}},
    {"TR8835", 0, {22, 2, 508, 508, 21336, 3}},
    {"TR8835", 7, {23, 3, 508, 508, 21336, 3}},
    {"TK3362", 0, {13, 2, 800, 800, 22404, 3}},
    {"TK3362", 1, {20, 3, 800, 800, 22404, 3}},
    {"TK5804", 0, {25, 3, 800, 1600, 21600, 3}},
    {"TR9014", 1, {26, 3, 508, 1016, 21336, 3}},
    {"TR9166", 0, {27, 3, 800, 1600, 33600, 5}},
    {"TR5578", 0, {28, 3, 508, 1016, 31496, 5}},
    {"TR6729", 0, {12, 2, 400, 800, 21600, 3}},
    {"TR6729", 1, {19, 3, 400, 800, 21600, 3}},
    {"TR9020", 0, {24, 3, 508, 1016, 21336, 3}},
    {"TR9020X", 0, {24, 3, 508, 1016, 21336, 3}},
    {"TR6641", 0, {11, 2, 300, 600, 14400, 2}},
    {"TR6641", 1, {18, 3, 300, 600, 14400, 2}},
    {"TR8857", 0, {10, 2, 400, 800, 16800, 3}},
    {"TR8857", 1, {17, 3, 400, 800, 16800, 3}},
    {"TR8846", 0, {9, 2, 300, 600, 12600, 2}},
    {"TR8846", 1, {16, 3, 300, 600, 12600, 2}},
    {"TK7402", 0, {8, 2, 400, 800, 14400, 2}},
    {"TK7402", 1, {15, 3, 400, 800, 14400, 2}},
    {"WQ331Z", 0, {34, 3, 400, 800, 14400, 2}},
    {"TK7403", 0, {31, 3, 400, 800, 14400, 2}},
    {"HALD21", 0, {29, 2, 400, 800, 14400, 2}},
    {"HALD21", 1, {30, 3, 400, 800, 14400, 2}},
    {"HALD22", 0, {33, 3, 400, 800, 14400, 3}},
    {"HALD23", 0, {35, 3, 600, 1200, 14400, 2}},
    {"HALD24", 0, {36, 3, 600, 1200, 21600, 3}},
    {"HALD26", 0, {37, 3, 400, 800, 9600, 2}},
    {"TK7190", 0, {14, 3, 200, 400, 7200, 1}},
    {"TK7191", 0, {14, 3, 200, 400, 7200, 1}},
    {"VM538+", 0, {2, 1, 400, 600, 15750, 3}},
    {"VM447+", 0, {3, 1, 400, 400, 15750, 3}},
    {"VM538", 0, {4, 1, 300, 600, 10500, 2}},
    {"VM512", 0, {6, 1, 300, 600, 10500, 2}},
    {"VM629", 0, {1, 1, 400, 800, 15750, 3}},
    {"VM615", 0, {5, 1, 400, 800, 15750, 3}},
    {"VM615-EXTRA", 0, {5, 1, 400, 800, 15750, 3}},
    {"VM53", 0, {0, 0, 0, 0, 0, 0}},
    {"QX1000", 0, {0, 0, 0, 0, 0, 0}},
};

class ModelTest : public TrennicFixture {};

TEST_F(ModelTest, ProductIdentificationSelectsTheModelRow) {
  for (const auto& c : kCases) {
    sim::SimScannerConfig cfg;
    cfg.product = c.product;
    cfg.byte36 = static_cast<uint8_t>(c.byte36);
    Attach(cfg);
    ScannerInfoType got{};
    ASSERT_TRUE(t().GetScannerInformationBlock(&got, 24));
    std::string label = std::string(c.product) + "/" + std::to_string(c.byte36);
    EXPECT_EQ(got.DeviceType, c.expect.DeviceType) << label;
    EXPECT_EQ(got.SeriesType, c.expect.SeriesType) << label;
    EXPECT_EQ(got.OpticalResolution, c.expect.OpticalResolution) << label;
    EXPECT_EQ(got.MaxResolution, c.expect.MaxResolution) << label;
    EXPECT_EQ(got.MaxPixelsAtOptical, c.expect.MaxPixelsAtOptical) << label;
    EXPECT_EQ(got.NumberOfCameras, c.expect.NumberOfCameras) << label;
    EXPECT_EQ(t().ScannerInfoGetScannerType(), c.expect.DeviceType);
    EXPECT_EQ(t().ScannerInfoGetScannerSeriesType(), c.expect.SeriesType);
    EXPECT_EQ(t().ScannerInfoOpticalResolution(), c.expect.OpticalResolution);
    EXPECT_EQ(t().ScannerInfoMaxResoltion(), c.expect.MaxResolution);
    EXPECT_EQ(t().ScannerInfoMaxPixelsAtOpticalResolution(), c.expect.MaxPixelsAtOptical);
    EXPECT_EQ(t().ScannerInfoNoOfCameras(), c.expect.NumberOfCameras);
  }
}

TEST_F(ModelTest, UnrecognisedProductAtASecondOpenClearsTheBlock) {
  ASSERT_EQ(t().ScannerInfoNoOfCameras(), 3);
  sim::SimScannerConfig cfg;
  cfg.product = "UNKNOWN";
  sim::ScopedStiScanner other(cfg);
  sti_.reset();  // only the unknown model remains in the list
  DeviceInfoType info{};
  ASSERT_TRUE(t().Open(info));
  ScannerInfoType got{};
  ASSERT_TRUE(t().GetScannerInformationBlock(&got, 24));
  EXPECT_EQ(got.NumberOfCameras, 0);
  EXPECT_EQ(got.DeviceType, 0);
  EXPECT_EQ(got.OpticalResolution, 0);
}

TEST_F(ModelTest, InformationBlockSizeChecks) {
  ScannerInfoType got;
  std::memset(&got, 0xAB, sizeof got);
  EXPECT_FALSE(t().GetScannerInformationBlock(&got, 25));
  EXPECT_EQ(got.DeviceType, static_cast<int32_t>(0xABABABAB));
  EXPECT_FALSE(t().GetScannerInformationBlock(&got, -1));
  EXPECT_FALSE(t().GetScannerInformationBlock(nullptr, 8));
  ASSERT_TRUE(t().GetScannerInformationBlock(&got, 8));
  EXPECT_EQ(got.DeviceType, 19);
  EXPECT_EQ(got.SeriesType, 3);
  EXPECT_EQ(got.OpticalResolution, static_cast<int32_t>(0xABABABAB));
}

}  // namespace
}  // namespace orb::test
