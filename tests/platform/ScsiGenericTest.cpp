// The SCSI generic manager's reading of what SG_IO reports: each answer of the kernel becomes
// the request status the transports decide by.
#include <gtest/gtest.h>

#include "tests/platform/FakeSg.h"

namespace orb::test {
namespace {

namespace pt = orb::passthru;

struct StatusCase {
  const char* name;
  SgAnswer answer;
  uint8_t status;      // the request's status
  uint8_t senseKey;    // sense byte 2, as the request carries it back
  uint16_t ascAscq;    // sense bytes 12-13
};

std::vector<StatusCase> Cases() {
  SgAnswer good;
  SgAnswer timedOut;  // current kernels: the host adapter's time-out
  timedOut.hostStatus = 0x03;
  SgAnswer oldTimeout;  // older kernels: DRIVER_TIMEOUT
  oldTimeout.driverStatus = 0x06;
  SgAnswer noConnect;
  noConnect.hostStatus = 0x01;
  SgAnswer busy;  // BUSY status: no sense to go by
  busy.status = 0x08;
  SgAnswer shortGood;  // GOOD, but 100 bytes of the READ did not come
  shortGood.resid = 100;
  SgAnswer gone;
  gone.rc = -1;
  gone.err = ENODEV;
  SgAnswer ioError;
  ioError.rc = -1;
  ioError.err = EIO;
  return {
      {"good", good, pt::kStatusCompleted, 0, 0},
      // Every CHECK CONDITION comes with DRIVER_SENSE: it is the target's answer, with sense.
      {"not ready", SgAnswer::Check(0x02, 0x04, 0x02), pt::kStatusError, 0x02, 0x0402},
      {"short read", SgAnswer::Check(0x00, 0x00, 0x00, true, 80), pt::kStatusError, 0x20, 0},
      {"end of medium", SgAnswer::Check(0x00, 0x3B, 0x09, true, 0), pt::kStatusError, 0x20, 0x3B09},
      {"host time-out", timedOut, pt::kStatusAborted, 0, 0},
      {"driver time-out", oldTimeout, pt::kStatusAborted, 0, 0},
      {"no connection", noConnect, pt::kStatusNoDevice, 0, 0},
      {"busy", busy, pt::kStatusError, 0, 0},
      {"short with GOOD status", shortGood, pt::kStatusError, 0x20, 0},
      {"device gone", gone, pt::kStatusNoDevice, 0, 0},
      {"i/o error", ioError, pt::kStatusAborted, 0, 0},
  };
}

// A READ(10) of 200 bytes from the scanner at target 3.
std::shared_ptr<pt::ExecRequest> ReadRequest() {
  auto req = std::make_shared<pt::ExecRequest>();
  req->adapter = 0;
  req->target = 3;
  req->direction = pt::Direction::In;
  req->data.assign(200, 0);
  req->cdbLength = 10;
  req->cdb[0] = 0x28;
  req->cdb[8] = 200;
  return req;
}

TEST(ScsiGeneric, StatusesOfTheKernelBecomeRequestStatuses) {
  FakeSgTree tree("sgstatus");
  for (const StatusCase& c : Cases()) {
    uint32_t timeout = 0;
    auto m = tree.Manager([&](const sg_io_hdr_t& hdr) {
      timeout = hdr.timeout;
      return c.answer;
    });
    auto req = ReadRequest();
    m->SendExec(req);
    ASSERT_TRUE(req->done.IsSet()) << c.name;
    EXPECT_EQ(req->status.load(), c.status) << c.name;
    if (c.answer.rc == 0) {
      EXPECT_EQ(timeout, pt::kCommandTimeLimitMs) << c.name;
    }
    EXPECT_EQ(req->sense[2] & 0x2F, c.senseKey) << c.name;
    EXPECT_EQ(req->sense[12] << 8 | req->sense[13], c.ascAscq) << c.name;
  }
}

TEST(ScsiGeneric, ShortTransferWithGoodStatusCarriesItsResidue) {
  FakeSgTree tree("sgresid");
  SgAnswer a;
  a.resid = 100;
  a.data.assign(100, 7);
  auto m = tree.Manager([&](const sg_io_hdr_t&) { return a; });
  auto req = ReadRequest();
  m->SendExec(req);
  EXPECT_EQ(req->status.load(), pt::kStatusError);
  EXPECT_EQ(req->sense[0] & 0x80, 0x80);  // the information field holds the residue
  const uint32_t residue = uint32_t{req->sense[3]} << 24 | req->sense[4] << 16 | req->sense[5] << 8 | req->sense[6];
  EXPECT_EQ(residue, 100u);
  EXPECT_EQ(req->data[99], 7);
}

}  // namespace
}  // namespace orb::test
