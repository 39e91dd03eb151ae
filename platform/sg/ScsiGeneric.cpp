// The pass-through manager over the Linux SCSI generic driver.
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "platform/sg/PassThrough.h"

namespace orb::passthru {

namespace {

namespace fs = std::filesystem;

std::mutex g_loaderMutex;
ManagerLoader g_loader;

// What the kernel reports in sg_io_hdr (see scsi/sg.h and the SCSI generic HOWTO).
constexpr uint8_t kScsiGood = 0x00;
constexpr uint8_t kScsiCheckCondition = 0x02;
constexpr uint16_t kDidOk = 0x00;
constexpr uint16_t kDidNoConnect = 0x01;
constexpr uint16_t kDidBadTarget = 0x04;
constexpr uint16_t kDriverCodeMask = 0x07;  // DRIVER_OK, DRIVER_BUSY ... DRIVER_HARD
constexpr uint16_t kDriverTimeout = 0x06;
constexpr uint16_t kDriverSense = 0x08;     // a flag: the sense buffer was filled

// Sense data saying that `residue` bytes of the transfer did not move (valid information
// field, incorrect length), as a scanner reports a short READ.
void ShortTransferSense(uint8_t* sense, uint32_t residue) {
  std::memset(sense, 0, kSenseLength);
  sense[0] = 0xF0;
  sense[2] = 0x20;
  sense[3] = static_cast<uint8_t>(residue >> 24);
  sense[4] = static_cast<uint8_t>(residue >> 16);
  sense[5] = static_cast<uint8_t>(residue >> 8);
  sense[6] = static_cast<uint8_t>(residue);
  sense[7] = 6;
}

// The request status of a finished SG_IO call, in the pass-through manager's terms: the
// transport takes "error" (status 4) with its sense as the device's answer and decides by
// the sense; "aborted" and "no device" mean the command never got an answer. Linux sets
// DRIVER_SENSE on every CHECK CONDITION, so that flag alone is no failure of the driver.
uint8_t MapSgIoStatus(const sg_io_hdr_t& hdr, uint8_t* sense) {
  if (hdr.host_status != kDidOk)
    return hdr.host_status == kDidNoConnect || hdr.host_status == kDidBadTarget ? kStatusNoDevice
                                                                                : kStatusAborted;
  const uint16_t driverCode = hdr.driver_status & kDriverCodeMask;
  if (driverCode == kDriverTimeout) return kStatusAborted;
  if (hdr.status == kScsiGood && driverCode == 0) {
    // A device that ends a transfer short with GOOD status: said as a short read is said.
    if (hdr.resid > 0 && hdr.dxfer_direction == SG_DXFER_FROM_DEV) {
      ShortTransferSense(sense, static_cast<uint32_t>(hdr.resid));
      return kStatusError;
    }
    return kStatusCompleted;
  }
  const bool senseValid =
      (hdr.status == kScsiCheckCondition || (hdr.driver_status & kDriverSense)) && hdr.sb_len_wr > 0;
  if (!senseValid) std::memset(sense, 0, kSenseLength);
  return kStatusError;
}

// "H:C:I:L" as the kernel names a SCSI device.
bool ParseHctl(const std::string& name, int& h, int& c, int& i, int& l) {
  return std::sscanf(name.c_str(), "%d:%d:%d:%d", &h, &c, &i, &l) == 4;
}

class ScsiGenericManager final : public Manager {
 public:
  ScsiGenericManager(std::string sysfsRoot, std::string devRoot, IoctlFunction ioctl)
      : sysfs_(std::move(sysfsRoot)), dev_(std::move(devRoot)), ioctl_(std::move(ioctl)) {
    if (!ioctl_) ioctl_ = [](int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); };
    Scan();
  }
  ~ScsiGenericManager() override {
    for (auto& [node, fd] : fds_) ::close(fd);
  }

  uint32_t GetSupportInfo() override {
    std::lock_guard lock(mutex_);
    size_t n = std::min<size_t>(hosts_.size(), 255);
    return (uint32_t{kStatusCompleted} << 8) | static_cast<uint32_t>(n);
  }

  void SendAdapterInquiry(AdapterInquiryRequest& request) override {
    std::lock_guard lock(mutex_);
    if (request.adapter >= hosts_.size()) {
      request.status = kStatusInvalidAdapter;
      return;
    }
    int host = hosts_[request.adapter];
    int maxTarget = 0;
    for (const auto& d : devices_)
      if (d.host == host && d.channel == 0 && d.lun == 0) maxTarget = std::max(maxTarget, d.id + 1);
    request.adapterCount = static_cast<uint8_t>(std::min<size_t>(hosts_.size(), 255));
    std::memset(request.uniqueParams, 0, sizeof request.uniqueParams);
    request.uniqueParams[3] = static_cast<uint8_t>(std::min(maxTarget, 255));
    request.status = kStatusCompleted;
  }

  void SendDeviceType(DeviceTypeRequest& request) override {
    std::lock_guard lock(mutex_);
    request.deviceType = kDeviceTypeUnknown;
    if (request.adapter >= hosts_.size()) {
      request.status = kStatusInvalidAdapter;
      return;
    }
    const Device* d = Find(request.adapter, request.target, request.lun);
    if (!d) {
      request.status = kStatusNoDevice;
      return;
    }
    request.deviceType = static_cast<uint8_t>(d->type & 0x1F);
    request.status = kStatusCompleted;
  }

  void SendExec(std::shared_ptr<ExecRequest> request) override {
    int fd = -1;
    {
      std::lock_guard lock(mutex_);
      const Device* d = request->adapter < hosts_.size()
                            ? Find(request->adapter, request->target, request->lun)
                            : nullptr;
      if (!d) {
        request->Complete(request->adapter < hosts_.size() ? kStatusNoDevice
                                                           : kStatusInvalidAdapter);
        return;
      }
      fd = OpenNode(d->node);
    }
    if (fd < 0) {
      request->Complete(kStatusNoDevice);
      return;
    }
    uint8_t sense[32] = {};
    sg_io_hdr_t hdr{};
    hdr.interface_id = 'S';
    switch (request->direction) {
      case Direction::In: hdr.dxfer_direction = SG_DXFER_FROM_DEV; break;
      case Direction::Out: hdr.dxfer_direction = SG_DXFER_TO_DEV; break;
      case Direction::None: hdr.dxfer_direction = SG_DXFER_NONE; break;
    }
    if (request->data.empty()) hdr.dxfer_direction = SG_DXFER_NONE;
    hdr.cmd_len = request->cdbLength;
    hdr.mx_sb_len = sizeof sense;
    hdr.dxfer_len = static_cast<unsigned>(request->data.size());
    hdr.dxferp = request->data.empty() ? nullptr : request->data.data();
    hdr.cmdp = request->cdb;
    hdr.sbp = sense;
    // The kernel aborts the command itself at the limit; the buffer is ours again on return.
    hdr.timeout = request->timeLimitMs;
    int rc;
    do {
      rc = ioctl_(fd, SG_IO, &hdr);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
      request->Complete(errno == ENODEV || errno == ENXIO ? kStatusNoDevice : kStatusAborted);
      return;
    }
    const uint8_t status = MapSgIoStatus(hdr, sense);
    std::memcpy(request->sense, sense, kSenseLength);
    request->hostStatus = static_cast<uint8_t>(hdr.host_status);
    request->targetStatus = hdr.status;
    request->Complete(status);
  }

 private:
  struct Device {
    int host, channel, id, lun, type;
    std::string node;
  };

  void Scan() {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(fs::path(sysfs_) / "class/scsi_host", ec)) {
      int n = 0;
      if (std::sscanf(e.path().filename().c_str(), "host%d", &n) == 1) hosts_.push_back(n);
    }
    std::sort(hosts_.begin(), hosts_.end());
    for (const auto& e : fs::directory_iterator(fs::path(sysfs_) / "class/scsi_generic", ec)) {
      std::string name = e.path().filename();
      if (name.rfind("sg", 0) != 0) continue;
      std::error_code ec2;
      fs::path target = fs::canonical(e.path() / "device", ec2);
      if (ec2) continue;
      Device d{};
      if (!ParseHctl(target.filename(), d.host, d.channel, d.id, d.lun)) continue;
      std::ifstream typeFile(target / "type");
      if (!(typeFile >> d.type)) d.type = kDeviceTypeUnknown;
      d.node = (fs::path(dev_) / name).string();
      devices_.push_back(d);
    }
  }

  const Device* Find(uint8_t adapter, uint8_t target, uint8_t lun) const {
    int host = hosts_[adapter];
    for (const auto& d : devices_)
      if (d.host == host && d.channel == 0 && d.id == target && d.lun == lun) return &d;
    return nullptr;
  }

  int OpenNode(const std::string& node) {
    auto it = fds_.find(node);
    if (it != fds_.end()) return it->second;
    int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) fds_[node] = fd;
    return fd;
  }

  std::string sysfs_, dev_;
  IoctlFunction ioctl_;
  std::mutex mutex_;
  std::vector<int> hosts_;
  std::vector<Device> devices_;
  std::map<std::string, int> fds_;
};

}  // namespace

std::shared_ptr<Manager> MakeScsiGenericManager(const std::string& sysfsRoot,
                                                const std::string& devRoot, IoctlFunction ioctl) {
  return std::make_shared<ScsiGenericManager>(sysfsRoot, devRoot, std::move(ioctl));
}

std::shared_ptr<Manager> LoadManager() {
  ManagerLoader loader;
  {
    std::lock_guard lock(g_loaderMutex);
    loader = g_loader;
  }
  if (loader) return loader();
  return MakeScsiGenericManager();
}

void SetManagerLoader(ManagerLoader loader) {
  std::lock_guard lock(g_loaderMutex);
  g_loader = std::move(loader);
}

bool WaitForCompletion(ExecRequest& request, orb::Clock& clock, int64_t timeoutMs) {
  if (request.status.load() != kStatusPending) return true;
  if (dynamic_cast<orb::SystemClock*>(&clock)) {
    return request.done.WaitFor(std::chrono::milliseconds(timeoutMs)) == orb::WaitResult::Signaled ||
           request.status.load() != kStatusPending;
  }
  const int64_t start = clock.NowMs();
  for (;;) {
    if (request.status.load() != kStatusPending) return true;
    int64_t elapsed = clock.NowMs() - start;
    if (elapsed >= timeoutMs) return false;
    clock.Sleep(orb::Clock::Ms(std::min<int64_t>(100, timeoutMs - elapsed)));
  }
}

}  // namespace orb::passthru
