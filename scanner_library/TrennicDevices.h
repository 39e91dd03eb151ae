// Devices on the library's transports that the system does not list by itself: an entry on
// the still-image device list, or a pass-through manager in place of the SCSI generic
// driver. A program (or a test) puts its devices here before it opens a scanner; the library
// itself attaches nothing.
#pragma once

#include <memory>

#include "platform/sg/PassThrough.h"
#include "platform/sti/StillImage.h"
#include "scanner_library/trennic.h"

namespace orb::trennic {

// Adds a device to the still-image list the library searches; returns the handle that
// removes it again.
TRENNIC_API int RegisterStillImageDevice(std::shared_ptr<orb::sti::DeviceEntry> entry);
TRENNIC_API void UnregisterStillImageDevice(int handle);
// Number of devices on the still-image list.
TRENNIC_API size_t StillImageDeviceCount();

// The pass-through manager the library loads from now on; an empty loader restores the SCSI
// generic driver.
TRENNIC_API void SetPassThroughManager(orb::passthru::ManagerLoader loader);

}  // namespace orb::trennic
