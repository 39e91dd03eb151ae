// The SCSI pass-through manager: host adapters, targets on them, and execute requests that
// complete now or later. The SCSI generic driver of Linux (SG_IO on /dev/sg*) is the real
// one; a simulated bus can be installed in its place. Request status codes keep the values
// of the classic pass-through managers, which the scanner library tests for.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Event.h"

namespace orb::passthru {

// Request status codes.
constexpr uint8_t kStatusPending = 0x00;
constexpr uint8_t kStatusCompleted = 0x01;
constexpr uint8_t kStatusAborted = 0x02;
constexpr uint8_t kStatusError = 0x04;  // the target answered CHECK CONDITION; sense is valid
constexpr uint8_t kStatusInvalidAdapter = 0x81;
constexpr uint8_t kStatusNoDevice = 0x82;

constexpr int kSenseLength = 14;   // sense bytes an execute request carries back
constexpr uint32_t kCommandTimeLimitMs = 80000;
constexpr uint8_t kDeviceTypeScanner = 6;
constexpr uint8_t kDeviceTypeUnknown = 0x1F;

enum class Direction : uint8_t { In, Out, None };

// Asks one host adapter about itself. uniqueParams[3] is the number of targets it offers.
struct AdapterInquiryRequest {
  uint8_t adapter = 0;
  std::atomic<uint8_t> status{kStatusPending};
  uint8_t adapterCount = 0;
  uint8_t uniqueParams[16] = {};
};

// Asks for the peripheral device type at (adapter, target, lun).
struct DeviceTypeRequest {
  uint8_t adapter = 0;
  uint8_t target = 0;
  uint8_t lun = 0;
  std::atomic<uint8_t> status{kStatusPending};
  uint8_t deviceType = kDeviceTypeUnknown;
};

// One command. The data travels in a buffer the request owns, so that a request the
// sender gave up on (a time-out) can still be completed by the device without touching
// memory that was handed back to its caller.
struct ExecRequest {
  uint8_t adapter = 0;
  uint8_t target = 0;
  uint8_t lun = 0;
  Direction direction = Direction::None;
  std::vector<uint8_t> data;
  uint8_t cdb[16] = {};
  uint8_t cdbLength = 0;
  uint8_t sense[kSenseLength] = {};
  // How long the device may take before the command is given up (the driver aborts it).
  uint32_t timeLimitMs = kCommandTimeLimitMs;
  uint8_t hostStatus = 0;
  uint8_t targetStatus = 0;
  std::atomic<uint8_t> status{kStatusPending};
  orb::Event done{orb::Event::Reset::Manual};

  // Called once by whoever carries the command out.
  void Complete(uint8_t finalStatus) {
    status.store(finalStatus);
    done.Set();
  }
};

class Manager {
 public:
  virtual ~Manager() = default;
  // High byte: the manager's status (kStatusCompleted when it works); low byte: the number
  // of host adapters.
  virtual uint32_t GetSupportInfo() = 0;
  virtual void SendAdapterInquiry(AdapterInquiryRequest& request) = 0;
  virtual void SendDeviceType(DeviceTypeRequest& request) = 0;
  // Starts the command; it may have completed when this returns, or complete later from
  // another thread.
  virtual void SendExec(std::shared_ptr<ExecRequest> request) = 0;
};

using ManagerLoader = std::function<std::shared_ptr<Manager>()>;

// Loads the pass-through manager: the installed loader's, else the SCSI generic one.
// Null when no manager can be loaded.
std::shared_ptr<Manager> LoadManager();
// Installs a loader for the whole process (a simulated bus, or one that fails to load);
// an empty function restores the SCSI generic manager.
void SetManagerLoader(ManagerLoader loader);

// The SCSI generic manager. Adapters are the SCSI hosts the kernel lists under
// <sysfsRoot>/class/scsi_host, numbered from 0 in ascending host order; targets are the
// SCSI ids (channel 0, LUN 0) of the generic devices under <sysfsRoot>/class/scsi_generic,
// opened as <devRoot>/sgN.
//
// `ioctl` stands in for the system call (tests give the driver's answers through it); empty
// means the real one.
using IoctlFunction = std::function<int(int fd, unsigned long request, void* arg)>;
std::shared_ptr<Manager> MakeScsiGenericManager(const std::string& sysfsRoot = "/sys",
                                                const std::string& devRoot = "/dev",
                                                IoctlFunction ioctl = {});

// Waits until the request completes or timeoutMs passes on `clock`. Real waits block on
// the completion event; with any other clock the wait polls and sleeps on that clock, so
// a test clock runs through a long time-out at once.
bool WaitForCompletion(ExecRequest& request, orb::Clock& clock, int64_t timeoutMs);

}  // namespace orb::passthru
