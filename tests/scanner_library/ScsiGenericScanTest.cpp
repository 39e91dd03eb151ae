// The scanner library over the SCSI generic driver, with the kernel's answers given through a
// fake ioctl: a CHECK CONDITION is the scanner's answer with sense (Linux flags every one with
// DRIVER_SENSE), so a short READ delivers its bytes and a "not ready" unit still answers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/Clock.h"
#include "platform/sg/PassThrough.h"
#include "scanner_library/TrennicDevices.h"
#include "scanner_library/trennic.h"
#include "tests/platform/FakeSg.h"

namespace orb::test {
namespace {

namespace pt = orb::passthru;

class ScsiGenericScan : public ::testing::Test {
 protected:
  void SetUp() override {
    orb::SetDefaultClock(&clock_);
    orb::trennic::SetPassThroughManager([this] { return tree_.Manager([this](const sg_io_hdr_t& h) { return Answer(h); }); });
  }
  void TearDown() override {
    orb::trennic::SetPassThroughManager({});
    orb::SetDefaultClock(nullptr);
  }

  SgAnswer Answer(const sg_io_hdr_t& hdr) {
    const uint8_t op = hdr.cmdp[0];
    SgAnswer a;
    switch (op) {
      case 0x12: {  // INQUIRY
        a.data.assign(52, 0);
        std::memcpy(a.data.data() + 8, "TESSIVANTR6729          1.52", 28);
        a.data[36] = 1;
        return a;
      }
      case 0x00:  // TEST UNIT READY: becoming ready
        return SgAnswer::Check(0x02, 0x04, 0x02);
      case 0x28: {  // READ(10): the first one short, with incorrect length
        const uint32_t want = uint32_t{hdr.cmdp[6]} << 16 | hdr.cmdp[7] << 8 | hdr.cmdp[8];
        ++reads_;
        if (reads_ == 1) {
          a = SgAnswer::Check(0x00, 0x00, 0x00, true, want - 120);
          a.data.assign(120, 0x11);
          a.resid = static_cast<int>(want - 120);
        } else {
          a.data.assign(want, 0x22);
        }
        return a;
      }
      case 0x2A:  // SEND: refused as an illegal request
        return SgAnswer::Check(0x05, 0x24, 0x00);
      default:
        return a;  // GOOD
    }
  }

  orb::FakeClock clock_;
  FakeSgTree tree_{"sgscan"};
  int reads_ = 0;
};

TEST_F(ScsiGenericScan, CheckConditionIsTheScannersAnswerWithSense) {
  CTrennic t;
  DeviceInfoType info{};
  ASSERT_TRUE(t.Open(info));
  EXPECT_EQ(std::string(info.ProductId, 6), "TR6729");
  EXPECT_EQ(info.TargetId, 3);

  AditionalSenseCodeType asc = ASC_NONE;
  EXPECT_TRUE(t.UnitReady(&asc));
  EXPECT_EQ(asc, ASC_NOT_READY_INIT_REQUIRED);

  WindowDescriptorType w{};
  w.XResolution = w.YResolution = 200;
  w.Width = 200;
  w.Length = 10;
  w.ImageComposition = 2;
  w.BitsPerPixel = 8;
  ASSERT_TRUE(t.SetWindow(w, 0, false));
  ASSERT_TRUE(t.StartScan());
  std::vector<unsigned char> buf(200, 0);
  DataTransferType rec{200, buf.data(), 0};
  EXPECT_EQ(t.ReadData(&rec), READ_COMPLETE);
  EXPECT_EQ(rec.ReturnedBytes, 200);
  EXPECT_EQ(buf[119], 0x11);
  EXPECT_EQ(buf[120], 0x22);
  EXPECT_EQ(reads_, 2);

  // A refused command fails with the scanner's sense, as a SCSI error.
  EXPECT_FALSE(t.StopScan());
  EXPECT_EQ(t.GetLastTrennicError(), TRENNIC_SCSI_ERROR);
  EXPECT_EQ(t.GetLastTrennicScsiError(), 0x2400);
}

}  // namespace
}  // namespace orb::test
