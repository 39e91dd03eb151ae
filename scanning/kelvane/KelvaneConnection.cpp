#include "scanning/kelvane/KelvaneConnection.h"

#include <algorithm>
#include <cstdio>

#include "common/AppGlobals.h"
#include "engine/Settings.h"
#include "scanning/ResolutionList.h"
#include "scanning/ScanHost.h"
#include "scanning/kelvane/KelvaneModels.h"
#include "scanning/kelvane/EventCallback.h"
#include "scanning/kelvane/KelvaneScanner.h"

namespace orb::kelvane {

std::string FirmwareText(int32_t firmware) {
  const int32_t n = std::clamp<int32_t>(firmware, 0, 999999);
  char text[40];  // room for any int the compiler assumes; the clamp keeps it to nine
  std::snprintf(text, sizeof text, "v%02d.%02d.%02d", n / 10000, (n / 100) % 100, n % 100);
  return text;
}

namespace {

// Tells the user of a connected scanner this program does not know; the frame goes on to the
// other family.
void ReportUnknownModel(int32_t code, const std::string& device) {
  const std::string text = "The scanner \"" + device + "\" reports the model code " +
                           std::to_string(code) +
                           ", which this program does not know. It is not used.";
  if (ScanHost* host = CurrentScanHost())
    host->ShowText(text, "", MessageIcon::Exclamation);
  else
    std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace

bool ConnectForFrame(CKelvaneScanner& scanner, CEventCallback& callback, orb::WindowHandle frame,
                     IdentifiedScanner* out) {
  if (!scanner.Connect()) return false;
  if (ScanSettings.NetworkOption) scanner.StartStatusWatch(frame);
  callback.Unregister();
  if (scanner.GetDeviceHandle())
    callback.Register(scanner.GetModelName(), scanner.GetDeviceHandle(), frame);
  KelvaneInfoType info;
  const bool haveInfo = scanner.GetInfo(info);
  const KelvaneModel* model = haveInfo ? FindKelvaneModel(info.ModelCode) : nullptr;
  if (!model) {
    // Settings for a model nobody knows would be guesses: nothing is written, the scanner
    // is let go (its button included) and the user is told.
    const int32_t code = haveInfo ? info.ModelCode : scanner.GetModelCode();
    const std::string device = scanner.GetModelName();
    callback.Unregister();
    scanner.Disconnect();
    ReportUnknownModel(code, device);
    return false;
  }
  ScanSettingsRecord& s = ScanSettings;
  ApplyFamilyDefaults(s);
  ApplyModel(*model, s, ResolutionList(), g_scanFamilyTag);
  bool changed = false;
  if (ScannerChanged(s)) {
    changed = true;
    ResetForChangedScanner(s);
    std::string error;
    if (!WriteFactoryDefaultsPreset(g_scanFamilyTag, &error))
      std::fprintf(stderr, "factory-defaults preset not written: %s\n", error.c_str());
  }
  if (out) {
    *out = IdentifiedScanner{};
    out->vendor = kVendorText;
    out->model = model->name;
    out->firmware = FirmwareText(info.Firmware);
    out->changed = changed;
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
