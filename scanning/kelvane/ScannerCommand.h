// The transports of the Kelvane scanner family. Each finds and opens a scanner, decides from
// what it found the scanner's escape-code base and generation, and carries numbered vendor
// escapes to it: CCommandTCIP over TCP/IP through the network component, CWIACommand
// through the image-acquisition device list and CCommandSTI through the still-image list.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/net/EscapeComponent.h"

namespace orb::wia {
class DeviceManager;
class ItemExtras;
class RootItem;
}  // namespace orb::wia
namespace orb::sti {
class Device;
class StillImage;
}  // namespace orb::sti

namespace orb::kelvane {

// A device name of the family and what it selects.
struct DeviceName {
  const char* name;
  int32_t escapeBase;
  int32_t generation;
};

// The six names, in the order they are tried.
const DeviceName* DeviceNames(size_t* count);
// The entry whose name `text` begins with (the image-acquisition rule), or null.
const DeviceName* MatchDeviceNamePrefix(std::string_view text);
// The entry whose name equals `text` (the still-image rule), or null.
const DeviceName* MatchDeviceNameExact(std::string_view text);

// The maker's name a still-image device's vendor description must contain.
inline constexpr const char* kMakerName = "Tessivane";

}  // namespace orb::kelvane

// The transport interface. Escape codes given to Escape are before the base.
class IScannerCommand {
 public:
  virtual ~IScannerCommand();
  virtual bool Open() = 0;
  virtual void Close() = 0;
  virtual bool Escape(int32_t code, const void* in, uint32_t inLength, void* out,
                      uint32_t outLength, uint32_t* actual) = 0;

  void SetLastError(int32_t code) { m_lastError = code; }
  // Returns the transport's error number and clears it.
  int32_t GetLastError() { return m_lastError.exchange(0); }
  // The device manager after an image-acquisition open (the scan-button events come
  // through it), else null.
  std::shared_ptr<orb::wia::DeviceManager> GetDeviceHandle() const { return m_deviceHandle; }
  int32_t GetGeneration() const { return m_generation; }
  int32_t GetEscapeBase() const { return m_escapeBase; }
  // The device name that matched; empty when none.
  const std::string& GetModelName() const { return m_modelName; }

 protected:
  std::atomic<int32_t> m_lastError{0};
  int32_t m_escapeBase = 0;
  int32_t m_generation = 0;
  std::shared_ptr<orb::wia::DeviceManager> m_deviceHandle;
  std::string m_modelName;
};

// Over TCP/IP through the network component.
class CCommandTCIP final : public IScannerCommand {
 public:
  CCommandTCIP();
  ~CCommandTCIP() override;
  // Keeps the address and ports when each is well formed (a dotted IPv4 address, decimal
  // ports 1-65535); false, with nothing kept, otherwise.
  bool SetAddress(const char* address, const char* port1, const char* port2);
  void SetTimeouts(orb::net::EscapeTimeouts timeouts);
  bool Open() override;
  void Close() override;
  bool Escape(int32_t code, const void* in, uint32_t inLength, void* out, uint32_t outLength,
              uint32_t* actual) override;

 private:
  std::unique_ptr<orb::net::EscapeComponent> m_component;
  orb::net::EscapeTimeouts m_timeouts;
  std::string m_address, m_port1, m_port2;
};

// Through the image-acquisition device list.
class CWIACommand final : public IScannerCommand {
 public:
  CWIACommand();
  ~CWIACommand() override;
  bool Open() override;
  void Close() override;
  bool Escape(int32_t code, const void* in, uint32_t inLength, void* out, uint32_t outLength,
              uint32_t* actual) override;

 private:
  bool FindDevice();
  std::shared_ptr<orb::wia::RootItem> m_rootItem;
  std::shared_ptr<orb::wia::ItemExtras> m_extras;
  bool m_found = false;
};

// Through the still-image device list.
class CCommandSTI final : public IScannerCommand {
 public:
  CCommandSTI();
  ~CCommandSTI() override;
  bool Open() override;
  void Close() override;
  bool Escape(int32_t code, const void* in, uint32_t inLength, void* out, uint32_t outLength,
              uint32_t* actual) override;

 private:
  std::unique_ptr<orb::sti::StillImage> m_stillImage;
  std::shared_ptr<orb::sti::Device> m_device;
  bool m_found = false;
};
