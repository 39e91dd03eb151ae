// The main frame's side of a Kelvane-family connection while it is built: connect the
// frame's connection object, start the status poll of a network scanner, register the scan
// button of an image-acquisition scanner, read the scanner's model and firmware and write
// the model's capabilities into the scan settings (KelvaneModels.h).
#pragma once

#include <cstdint>
#include <string>

#include "common/Messages.h"
#include "scanning/ScannerEntryPoints.h"

class CEventCallback;
class CKelvaneScanner;

namespace orb::kelvane {

inline constexpr const char* kVendorText = "TESSIVAN";
inline constexpr int32_t kScannerTypeKelvane = 80;

// "v" and the six decimal digits of the firmware number in pairs: 10203 gives "v01.02.03".
// Numbers outside 0..999999 are clamped, so the text always has nine characters.
std::string FirmwareText(int32_t firmware);

// Connects, identifies and fills *out; false (nothing written) when no transport could be
// opened or the scanner's model is not in the table (the scanner is then let go again,
// with a message).
bool ConnectForFrame(CKelvaneScanner& scanner, CEventCallback& callback, orb::WindowHandle frame,
                     IdentifiedScanner* out);

// Makes the frame's Kelvane identification entry point use these objects, unless something
// else was installed for it; true when it was installed. The objects must outlive the
// installation: UninstallFrameIdentification ends it.
bool InstallFrameIdentification(CKelvaneScanner* scanner, CEventCallback* callback,
                                orb::WindowHandle frame);
void UninstallFrameIdentification();

}  // namespace orb::kelvane
