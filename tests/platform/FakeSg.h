// A SCSI generic driver for tests: a sysfs tree with one scanner and an ioctl that answers
// SG_IO with the fields the Linux kernel fills in struct sg_io_hdr.
#pragma once

#include <errno.h>
#include <scsi/sg.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/sg/PassThrough.h"

namespace orb::test {

// What the kernel reports for one SG_IO call.
struct SgAnswer {
  int rc = 0;          // the ioctl's result
  int err = 0;         // errno when rc < 0
  uint8_t status = 0;  // SCSI status byte as the target sent it (0x02 CHECK CONDITION)
  uint16_t hostStatus = 0;
  uint16_t driverStatus = 0;
  std::vector<uint8_t> sense;  // what the target returned as sense data
  std::vector<uint8_t> data;   // bytes moved to the host (data in)
  int resid = 0;               // bytes of the transfer that did not move

  // The target answered CHECK CONDITION with fixed-format sense: Linux adds DRIVER_SENSE.
  static SgAnswer Check(uint8_t key, uint8_t asc, uint8_t ascq, bool ili = false,
                        uint32_t information = 0) {
    SgAnswer a;
    a.status = 0x02;
    a.driverStatus = 0x08;
    a.sense.assign(18, 0);
    a.sense[0] = static_cast<uint8_t>(0x70 | (ili ? 0x80 : 0));
    a.sense[2] = static_cast<uint8_t>(key | (ili ? 0x20 : 0));
    a.sense[3] = static_cast<uint8_t>(information >> 24);
    a.sense[4] = static_cast<uint8_t>(information >> 16);
    a.sense[5] = static_cast<uint8_t>(information >> 8);
    a.sense[6] = static_cast<uint8_t>(information);
    a.sense[7] = 10;
    a.sense[12] = asc;
    a.sense[13] = ascq;
    return a;
  }
};

// Fills `hdr` as drivers/scsi/sg.c does at the end of a command.
inline int AnswerSgIo(const SgAnswer& a, sg_io_hdr_t* hdr) {
  if (a.rc < 0) {
    errno = a.err;
    return a.rc;
  }
  hdr->status = a.status;
  hdr->masked_status = static_cast<unsigned char>((a.status >> 1) & 0x7F);
  hdr->msg_status = 0;
  hdr->host_status = a.hostStatus;
  hdr->driver_status = a.driverStatus;
  const size_t senseLen = std::min<size_t>(a.sense.size(), hdr->mx_sb_len);
  if (senseLen) std::memcpy(hdr->sbp, a.sense.data(), senseLen);
  hdr->sb_len_wr = static_cast<unsigned char>(senseLen);
  const size_t n = std::min<size_t>(a.data.size(), hdr->dxfer_len);
  if (n && hdr->dxferp) std::memcpy(hdr->dxferp, a.data.data(), n);
  hdr->resid = a.resid;
  hdr->info = (a.status || a.hostStatus || a.driverStatus) ? SG_INFO_CHECK : SG_INFO_OK;
  hdr->duration = 1;
  return 0;
}

// A sysfs tree with host0 and one device of `type` at 0:0:`target`:0 as sg0, and /dev/sg0 as
// a plain file (opened, never read: the ioctl stands in for the driver).
class FakeSgTree {
 public:
  explicit FakeSgTree(const std::string& name, int target = 3, int type = 6) {
    namespace fs = std::filesystem;
    root_ = fs::path(::testing::TempDir()) / (name + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "class/scsi_host/host0");
    const fs::path dev = root_ / "devices" / ("0:0:" + std::to_string(target) + ":0");
    fs::create_directories(dev);
    std::ofstream(dev / "type") << type << "\n";
    fs::create_directories(root_ / "class/scsi_generic/sg0");
    fs::create_directory_symlink(dev, root_ / "class/scsi_generic/sg0/device");
    fs::create_directories(root_ / "dev");
    std::ofstream(root_ / "dev/sg0") << "";
  }
  ~FakeSgTree() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  // A manager over the tree whose SG_IO calls `answer` decides.
  std::shared_ptr<passthru::Manager> Manager(std::function<SgAnswer(const sg_io_hdr_t&)> answer) {
    return passthru::MakeScsiGenericManager(
        root_.string(), (root_ / "dev").string(),
        [answer = std::move(answer)](int, unsigned long request, void* arg) -> int {
          if (request != SG_IO) {
            errno = EINVAL;
            return -1;
          }
          auto* hdr = static_cast<sg_io_hdr_t*>(arg);
          if (hdr->interface_id != 'S') {
            errno = ENOSYS;
            return -1;
          }
          return AnswerSgIo(answer(*hdr), hdr);
        });
  }

 private:
  std::filesystem::path root_;
};

}  // namespace orb::test
