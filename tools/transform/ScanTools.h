// The transforms the main frame runs on a scan of its own, through the same code as the
// tool pages' apply: after the scan completes, the palette conversion and the rotation that
// are switched on for scans; when the scan is accepted, the two-page split. Each works on
// the active document's working version (ToolDocumentHost).
#pragma once

#include <cstdint>
#include <string>

#include "tools/transform/Split.h"

namespace orb::tools {

// Whether the palette conversion runs after a scan: it is switched on and its mode is not
// black and white (which needs the threshold dialog, so it never runs by itself).
bool PaletteConvertsScans();
// The conversion and the rotation of the scan (each -1 when nothing was done).
int ConvertScan();
int TurnScan();

// The split of the accepted scan whose file is `scanPath`, its pages written in `format`,
// at the line where the split page's view hooks hold it (the image's middle without the
// page).
SplitResult SplitAcceptedScan(const std::string& scanPath, uint32_t format);

}  // namespace orb::tools
