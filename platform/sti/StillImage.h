// The still-image device list: devices registered in this process (the simulated
// scanners), found by their vendor description and opened for escape calls. The escape
// call is the only way commands reach a device; each device decides what its escape codes
// mean.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orb::sti {

// Result codes of the calls: 0 success, negative failure.
constexpr int32_t kOk = 0;
constexpr int32_t kFail = -1;
constexpr int32_t kNotFound = -2;
constexpr int32_t kTimeout = -3;
constexpr int32_t kInvalidArg = -4;

// The escape code that carries a SCSI command block (see StiPassThroughBlock).
constexpr uint32_t kEscapeScsiPassThrough = 0x1002;

struct DeviceInformation {
  uint32_t type = 0;             // device type (1 scanner)
  std::string internalName;      // passed to CreateDevice
  std::string vendorDescription;
  std::string deviceDescription;
};

// An opened device.
class Device {
 public:
  virtual ~Device() = default;
  // Exclusive use of the device for one opened handle; a handle may lock again while it
  // holds the lock (the lock counts), another handle waits up to timeoutMs.
  virtual int32_t LockDevice(uint32_t timeoutMs) = 0;
  virtual int32_t UnLockDevice() = 0;
  virtual int32_t Escape(uint32_t code, const void* in, uint32_t inSize, void* out,
                         uint32_t outSize, uint32_t* returned) = 0;
};

// Something that can be listed and opened.
class DeviceEntry {
 public:
  virtual ~DeviceEntry() = default;
  virtual DeviceInformation Info() const = 0;
  virtual std::shared_ptr<Device> Open(uint32_t mode) = 0;
};

// Adds an entry to the process-wide list; returns its handle for Unregister.
int Register(std::shared_ptr<DeviceEntry> entry);
void Unregister(int handle);
size_t RegisteredCount();

// The interface a client creates to walk the list and open a device.
class StillImage {
 public:
  int32_t GetDeviceList(uint32_t type, uint32_t flags, std::vector<DeviceInformation>& out);
  int32_t CreateDevice(const std::string& internalName, uint32_t mode,
                       std::shared_ptr<Device>& out);
};

int32_t StiCreateInstance(uint32_t version, std::unique_ptr<StillImage>& out);

}  // namespace orb::sti
