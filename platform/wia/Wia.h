// The image-acquisition device list: devices registered in this process (the simulated
// scanners), enumerated with their id, name and description, created by id, driven through
// the escape call of their root item, and the events they raise (a scan-button press)
// delivered to registered callbacks on the device's own thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orb::wia {

// Result codes: 0 success, 1 "done, nothing more", negative failure.
constexpr int32_t kOk = 0;
constexpr int32_t kFalse = 1;
constexpr int32_t kFail = -1;
constexpr int32_t kNotFound = -2;
constexpr int32_t kInvalidArg = -3;

// Event ids, in the platform's registry form.
inline constexpr const char* kEventScanImage = "{A6C5A715-8C6E-11D2-977A-0000F87A926F}";
// Another event a device may raise (used to show that only the scan-button event counts).
inline constexpr const char* kEventDeviceConnected = "{A28BBADE-64B6-11D2-A231-00C04FA31809}";

struct DeviceProperties {
  std::string id;
  std::string name;
  std::string description;
  bool nameIsText = true;  // a name property of another type is not a text to compare
};

// The escape interface of a device's root item.
class ItemExtras {
 public:
  virtual ~ItemExtras() = default;
  virtual int32_t Escape(uint32_t code, const void* in, uint32_t inSize, void* out,
                         uint32_t outSize, uint32_t* returned) = 0;
};

// The root item of a created device; it may offer no escape interface (null).
class RootItem {
 public:
  virtual ~RootItem() = default;
  virtual std::shared_ptr<ItemExtras> Extras() = 0;
};

class DeviceEntry {
 public:
  virtual ~DeviceEntry() = default;
  virtual DeviceProperties Properties() const = 0;
  // Null when the device cannot be created.
  virtual std::shared_ptr<RootItem> Create() = 0;
};

// What receives events. Called on the thread that raised the event.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual int32_t ImageEventCallback(const std::string& eventId, const std::string& eventDescription,
                                     const std::string& deviceId,
                                     const std::string& deviceDescription, uint32_t deviceType,
                                     const std::string& itemName, uint32_t eventType,
                                     uint32_t reserved) = 0;
};

// Ends an event registration when destroyed; once the destructor returns the sink is not
// called again and no call to it is still running.
class EventRegistration {
 public:
  virtual ~EventRegistration() = default;
};

// Adds an entry to the process-wide list; returns its handle for Unregister.
int Register(std::shared_ptr<DeviceEntry> entry);
void Unregister(int handle);

// Delivers an event from the device with this id to every sink registered for it (on the
// calling thread). Returns the number of sinks called.
int RaiseEvent(const std::string& deviceId, const std::string& eventId);

// Faults of the platform itself, for tests: the manager cannot be created, or it returns
// no device enumerator.
struct PlatformFaults {
  bool noManager = false;
  bool noEnumerator = false;
};
void SetPlatformFaults(PlatformFaults faults);

class DeviceManager {
 public:
  // False when the list returned no enumerator.
  bool EnumDeviceInfo(std::vector<DeviceProperties>& out);
  int32_t CreateDevice(const std::string& deviceId, std::shared_ptr<RootItem>& out);
  // An empty deviceId registers for all devices.
  int32_t RegisterEventCallbackInterface(uint32_t flags, const std::string& deviceId,
                                         const std::string& eventId, EventSink* sink,
                                         std::unique_ptr<EventRegistration>& out);
};

// Creates the device manager; kFail under the noManager fault.
int32_t CreateDeviceManager(std::shared_ptr<DeviceManager>& out);

}  // namespace orb::wia
