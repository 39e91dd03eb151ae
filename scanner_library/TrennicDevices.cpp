#include "scanner_library/TrennicDevices.h"

namespace orb::trennic {

int RegisterStillImageDevice(std::shared_ptr<orb::sti::DeviceEntry> entry) {
  return orb::sti::Register(std::move(entry));
}

void UnregisterStillImageDevice(int handle) { orb::sti::Unregister(handle); }

size_t StillImageDeviceCount() { return orb::sti::RegisteredCount(); }

void SetPassThroughManager(orb::passthru::ManagerLoader loader) {
  orb::passthru::SetManagerLoader(std::move(loader));
}

}  // namespace orb::trennic
