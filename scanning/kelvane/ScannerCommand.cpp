#include "scanning/kelvane/ScannerCommand.h"

#include <cstring>
#include <vector>

#include "platform/sti/StillImage.h"
#include "platform/wia/Wia.h"
#include "scanning/kelvane/KelvaneErrors.h"

namespace orb::kelvane {

namespace {

constexpr DeviceName kNames[] = {
    {"Kelvane Scanner", 0, 1},     {"Kelvane Bn Scanner", 200, 1}, {"Kelvane Pv Scanner", 400, 1},
    {"Drommel Pv Scanner", 400, 1}, {"KelvanePVk Scanner", 600, 2}, {"KelvaneRu Scanner", 800, 2},
};

// Network scanners report their model code; these select the generation-2 lines.
bool IsRuLineCode(int code) { return (code >= 20 && code <= 22) || (code >= 32 && code <= 34); }
bool IsPvkLineCode(int code) { return (code >= 23 && code <= 31) || (code >= 35 && code <= 37); }

constexpr uint32_t kStillImageVersion = 2;
constexpr uint32_t kStiModeStatusAndData = 3;
constexpr uint32_t kStiLockTimeoutMs = 5000;

}  // namespace

const DeviceName* DeviceNames(size_t* count) {
  if (count) *count = std::size(kNames);
  return kNames;
}

const DeviceName* MatchDeviceNamePrefix(std::string_view text) {
  for (const DeviceName& d : kNames)
    if (text.starts_with(d.name)) return &d;
  return nullptr;
}

const DeviceName* MatchDeviceNameExact(std::string_view text) {
  for (const DeviceName& d : kNames)
    if (text == d.name) return &d;
  return nullptr;
}

}  // namespace orb::kelvane

namespace kv = orb::kelvane;

IScannerCommand::~IScannerCommand() = default;

// ---- CCommandTCIP --------------------------------------------------------------------

CCommandTCIP::CCommandTCIP() = default;
CCommandTCIP::~CCommandTCIP() { Close(); }

bool CCommandTCIP::SetAddress(const char* address, const char* port1, const char* port2) {
  m_address.clear();
  m_port1.clear();
  m_port2.clear();
  if (!address || !port1 || !port2) return false;
  if (!orb::net::ParseIpv4(address) || !orb::net::ParsePort(port1) || !orb::net::ParsePort(port2))
    return false;
  m_address = address;
  m_port1 = port1;
  m_port2 = port2;
  return true;
}

void CCommandTCIP::SetTimeouts(orb::net::EscapeTimeouts timeouts) {
  m_timeouts = timeouts;
  if (m_component) m_component->SetTimeouts(timeouts);
}

bool CCommandTCIP::Open() {
  if (m_address.empty()) return false;
  m_modelName.clear();
  m_escapeBase = 0;
  m_generation = 0;
  m_component = std::make_unique<orb::net::EscapeComponent>();
  m_component->SetTimeouts(m_timeouts);
  // The open record: the texts were checked by SetAddress and fit their fields.
  uint8_t record[orb::net::kOpenRecordSize] = {};
  std::memcpy(record, m_address.data(), m_address.size());
  std::memcpy(record + 16, m_port1.data(), m_port1.size());
  std::memcpy(record + 22, m_port2.data(), m_port2.size());
  uint8_t modelCode = 0;
  uint32_t actual = 0;
  const int32_t status = m_component->Escape(orb::net::kEscapeOpen, record, sizeof record,
                                             &modelCode, 1, &actual);
  if (!orb::net::StatusSucceeded(status)) {
    m_component.reset();
    return false;
  }
  m_generation = 2;
  if (kv::IsRuLineCode(modelCode)) {
    m_escapeBase = 800;
    m_modelName = "KelvaneRu Scanner";
  } else if (kv::IsPvkLineCode(modelCode)) {
    m_escapeBase = 600;
    m_modelName = "KelvanePVk Scanner";
  }
  return true;
}

void CCommandTCIP::Close() { m_component.reset(); }

bool CCommandTCIP::Escape(int32_t code, const void* in, uint32_t inLength, void* out,
                          uint32_t outLength, uint32_t* actual) {
  if (actual) *actual = 0;
  if (!m_component) return false;
  return orb::net::StatusSucceeded(
      m_component->Escape(code + m_escapeBase, in, inLength, out, outLength, actual));
}

// ---- CWIACommand ---------------------------------------------------------------------

CWIACommand::CWIACommand() = default;
CWIACommand::~CWIACommand() { Close(); }

bool CWIACommand::Open() {
  Close();
  m_found = false;
  m_modelName.clear();
  if (orb::wia::CreateDeviceManager(m_deviceHandle) != orb::wia::kOk || !m_deviceHandle) {
    m_deviceHandle.reset();
    return false;
  }
  if (FindDevice()) return true;
  Close();
  return false;
}

bool CWIACommand::FindDevice() {
  std::vector<orb::wia::DeviceProperties> devices;
  if (!m_deviceHandle->EnumDeviceInfo(devices)) {
    SetLastError(kv::kErrWiaNoEnumerator);
    return false;
  }
  const orb::wia::DeviceProperties* match = nullptr;
  const kv::DeviceName* name = nullptr;
  for (const auto& d : devices) {
    if (!d.nameIsText) continue;
    if ((name = kv::MatchDeviceNamePrefix(d.name))) {
      match = &d;
      break;
    }
  }
  if (!match) {
    SetLastError(kv::kErrNotConnected);
    return false;
  }
  m_modelName = match->name;
  if (m_deviceHandle->CreateDevice(match->id, m_rootItem) != orb::wia::kOk || !m_rootItem) {
    SetLastError(kv::kErrWiaCannotCreate);
    return false;
  }
  m_escapeBase = name->escapeBase;
  m_generation = name->generation;
  m_extras = m_rootItem->Extras();
  if (!m_extras) {
    SetLastError(kv::kErrWiaNoEscape);
    return false;
  }
  m_found = true;
  return true;
}

void CWIACommand::Close() {
  m_extras.reset();
  m_rootItem.reset();
  m_deviceHandle.reset();
}

bool CWIACommand::Escape(int32_t code, const void* in, uint32_t inLength, void* out,
                         uint32_t outLength, uint32_t* actual) {
  if (actual) *actual = 0;
  if (!m_extras) return false;
  return m_extras->Escape(static_cast<uint32_t>(code + m_escapeBase), in, inLength, out,
                          outLength, actual) == orb::wia::kOk;
}

// ---- CCommandSTI ---------------------------------------------------------------------

CCommandSTI::CCommandSTI() = default;
CCommandSTI::~CCommandSTI() { Close(); }

bool CCommandSTI::Open() {
  m_modelName.clear();
  m_found = false;
  Close();
  if (orb::sti::StiCreateInstance(kv::kStillImageVersion, m_stillImage) != orb::sti::kOk ||
      !m_stillImage)
    return false;
  std::vector<orb::sti::DeviceInformation> list;
  if (m_stillImage->GetDeviceList(0, 0, list) != orb::sti::kOk) return false;
  const orb::sti::DeviceInformation* match = nullptr;
  for (const auto& d : list) {
    if (d.vendorDescription.find(kv::kMakerName) == std::string::npos) continue;
    if (const kv::DeviceName* name = kv::MatchDeviceNameExact(d.deviceDescription)) {
      match = &d;
      m_found = true;
      m_modelName = d.deviceDescription;
      m_escapeBase = name->escapeBase;
      m_generation = name->generation;
      break;
    }
  }
  if (!match) return false;
  if (m_stillImage->CreateDevice(match->internalName, kv::kStiModeStatusAndData, m_device) !=
          orb::sti::kOk ||
      !m_device) {
    m_device.reset();
    return false;
  }
  return true;
}

void CCommandSTI::Close() {
  m_device.reset();
  m_stillImage.reset();
}

bool CCommandSTI::Escape(int32_t code, const void* in, uint32_t inLength, void* out,
                         uint32_t outLength, uint32_t* actual) {
  if (actual) *actual = 0;
  if (!m_device) return false;
  if (m_device->LockDevice(kv::kStiLockTimeoutMs) != orb::sti::kOk) return false;
  const int32_t r = m_device->Escape(static_cast<uint32_t>(code + m_escapeBase), in, inLength,
                                     out, outLength, actual);
  m_device->UnLockDevice();
  return r == orb::sti::kOk;
}
