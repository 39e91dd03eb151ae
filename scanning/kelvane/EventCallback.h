// The scan button of a scanner on the image-acquisition list: the platform raises the
// scan-image event on a thread of its own, and this sink turns it into the command
// ID_SCANNER_BUTTON posted to the main frame. The frame owns one object; the identification
// registers it with the connection's device manager.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "common/Messages.h"
#include "platform/wia/Wia.h"

// Interface ids the object answers to.
inline constexpr const char* kIID_IUnknown = "{00000000-0000-0000-C000-000000000046}";
inline constexpr const char* kIID_IWiaEventCallback = "{AE6287B0-0084-11D2-973B-00A0C9068F2E}";

inline constexpr int32_t kS_OK = 0;
inline constexpr int32_t kS_FALSE = 1;
inline constexpr int32_t kE_NOINTERFACE = static_cast<int32_t>(0x80004002u);
inline constexpr int32_t kE_POINTER = static_cast<int32_t>(0x80004003u);

class CEventCallback final : public orb::wia::EventSink {
 public:
  CEventCallback() = default;
  // Ends the registration first: once it returns no event is delivered and none is still
  // being delivered, so the frame may go away.
  ~CEventCallback() override;
  CEventCallback(const CEventCallback&) = delete;
  CEventCallback& operator=(const CEventCallback&) = delete;

  // Stores the name and window, then registers for the scan-image event of all devices.
  // 0 on success, else the failing result.
  int32_t Register(const std::string& modelName,
                   const std::shared_ptr<orb::wia::DeviceManager>& deviceManager,
                   orb::WindowHandle window);
  void Unregister();

  int32_t QueryInterface(const char* iid, void** out);
  uint32_t AddRef() { return ++m_refCount; }
  uint32_t Release() { return --m_refCount; }

  int32_t ImageEventCallback(const std::string& eventId, const std::string& eventDescription,
                             const std::string& deviceId, const std::string& deviceDescription,
                             uint32_t deviceType, const std::string& itemName,
                             uint32_t eventType, uint32_t reserved) override;

 private:
  std::atomic<uint32_t> m_refCount{0};
  std::string m_modelName;
  std::atomic<orb::WindowHandle> m_window{nullptr};
  std::unique_ptr<orb::wia::EventRegistration> m_registration;
};
