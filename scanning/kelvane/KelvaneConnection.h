// The main frame's side of a Kelvane-family connection while it is built: connect the
// frame's connection object, start the status poll of a network scanner, register the scan
// button of an image-acquisition scanner, and read what the frame shows of the scanner.
// The model table and the scan settings each model sets come with the family's scan run;
// until then a connected scanner is shown by its device name and makes the settings name
// the family, whose scan the program reports as not available.
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

// Connects and fills *out; false (nothing written) when no transport could be opened.
bool ConnectForFrame(CKelvaneScanner& scanner, CEventCallback& callback, orb::WindowHandle frame,
                     IdentifiedScanner* out);

// Makes the frame's Kelvane identification entry point use these objects, unless something
// else was installed for it; true when it was installed. The objects must outlive the
// installation: UninstallFrameIdentification ends it.
bool InstallFrameIdentification(CKelvaneScanner* scanner, CEventCallback* callback,
                                orb::WindowHandle frame);
void UninstallFrameIdentification();

}  // namespace orb::kelvane
