#include "scanning/kelvane/KelvaneConnection.h"

#include <algorithm>
#include <cstdio>

#include "engine/Settings.h"
#include "scanning/kelvane/EventCallback.h"
#include "scanning/kelvane/KelvaneScanner.h"

namespace orb::kelvane {

std::string FirmwareText(int32_t firmware) {
  const int32_t n = std::clamp<int32_t>(firmware, 0, 999999);
  char text[40];  // room for any int the compiler assumes; the clamp keeps it to nine
  std::snprintf(text, sizeof text, "v%02d.%02d.%02d", n / 10000, (n / 100) % 100, n % 100);
  return text;
}

bool ConnectForFrame(CKelvaneScanner& scanner, CEventCallback& callback, orb::WindowHandle frame,
                     IdentifiedScanner* out) {
  if (!scanner.Connect()) return false;
  if (ScanSettings.NetworkOption) scanner.StartStatusWatch(frame);
  callback.Unregister();
  if (scanner.GetDeviceHandle())
    callback.Register(scanner.GetModelName(), scanner.GetDeviceHandle(), frame);
  ScanSettings.ScannerType = kScannerTypeKelvane;
  KelvaneInfoType info;
  const bool haveInfo = scanner.GetInfo(info);
  if (out) {
    *out = IdentifiedScanner{};
    out->vendor = kVendorText;
    out->model = scanner.GetModelName();
    if (out->model.empty()) out->model = "Kelvane scanner code " + std::to_string(scanner.GetModelCode());
    out->firmware = haveInfo ? FirmwareText(info.Firmware) : std::string();
  }
  return true;
}

namespace {

struct Installed {
  CKelvaneScanner* scanner = nullptr;
  CEventCallback* callback = nullptr;
  orb::WindowHandle frame = nullptr;
};

Installed& Current() {
  static Installed i;
  return i;
}

bool IdentifyInstalled(IdentifiedScanner* out) {
  Installed& i = Current();
  if (!i.scanner || !i.callback) return IdentifyNoScanner(out);
  return ConnectForFrame(*i.scanner, *i.callback, i.frame, out);
}

bool IsDefault(const std::function<bool(IdentifiedScanner*)>& entry) {
  auto* plain = entry.target<bool (*)(IdentifiedScanner*)>();
  return plain && *plain == &IdentifyNoScanner;
}

}  // namespace

bool InstallFrameIdentification(CKelvaneScanner* scanner, CEventCallback* callback,
                                orb::WindowHandle frame) {
  ScanningEntryPoints entries = GetScanningEntryPoints();
  if (!IsDefault(entries.identifyKelvane)) return false;
  Current() = {scanner, callback, frame};
  entries.identifyKelvane = &IdentifyInstalled;
  SetScanningEntryPoints(std::move(entries));
  return true;
}

void UninstallFrameIdentification() {
  Current() = {};
  ScanningEntryPoints entries = GetScanningEntryPoints();
  auto* plain = entries.identifyKelvane.target<bool (*)(IdentifiedScanner*)>();
  if (plain && *plain == &IdentifyInstalled) {
    entries.identifyKelvane = &IdentifyNoScanner;
    SetScanningEntryPoints(std::move(entries));
  }
}

}  // namespace orb::kelvane
