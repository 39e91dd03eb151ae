#include "scanning/kelvane/EventCallback.h"

#include <cstring>

#include "scanning/kelvane/KelvaneScanner.h"

CEventCallback::~CEventCallback() { Unregister(); }

void CEventCallback::Unregister() { m_registration.reset(); }

int32_t CEventCallback::Register(const std::string& modelName,
                                 const std::shared_ptr<orb::wia::DeviceManager>& deviceManager,
                                 orb::WindowHandle window) {
  Unregister();
  m_modelName = modelName;
  m_window = window;
  if (!deviceManager) return orb::wia::kInvalidArg;
  return deviceManager->RegisterEventCallbackInterface(0, "", orb::wia::kEventScanImage, this,
                                                       m_registration);
}

int32_t CEventCallback::QueryInterface(const char* iid, void** out) {
  if (!out) return kE_POINTER;
  if (iid && (std::strcmp(iid, kIID_IUnknown) == 0 || std::strcmp(iid, kIID_IWiaEventCallback) == 0)) {
    *out = this;
    AddRef();
    return kS_OK;
  }
  *out = nullptr;
  return kE_NOINTERFACE;
}

int32_t CEventCallback::ImageEventCallback(const std::string& eventId, const std::string&,
                                           const std::string&, const std::string& deviceDescription,
                                           uint32_t, const std::string&, uint32_t, uint32_t) {
  // Devices of the family share their first eight characters ("Kelvane "), so a button on
  // any of them counts.
  constexpr size_t kCompared = 8;
  if (deviceDescription.compare(0, kCompared, m_modelName, 0, kCompared) == 0 &&
      eventId == orb::wia::kEventScanImage)
    orb::PostAppMessage(m_window.load(), orb::kelvane::kWmCommand, ID_SCANNER_BUTTON, 0);
  return kS_FALSE;
}
