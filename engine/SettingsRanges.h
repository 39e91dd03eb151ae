// What a stored settings value may be. A settings file that was damaged (or written by
// something else) must not reach the program as it is: a length unit of 7 leaves the
// width and length fields blank, a negative count turns up in the scan log. Each field
// with a known range that holds a value outside it takes its default again; fields
// without a range (texts, flags read as zero or not) are left as read.
#pragma once

#include <string>
#include <vector>

#include "engine/ScanLog.h"
#include "engine/Settings.h"

namespace orb {

// Each returns the names of the fields that were reset (empty when all were in range).
std::vector<std::string> KeepScanSettingsInRange(ScanSettingsRecord& s);
std::vector<std::string> KeepMiscSettingsInRange(MiscSettingsRecord& m);
std::vector<std::string> KeepScanLogTotalsInRange(ScanLogTotalsRecord& t);

}  // namespace orb
