// The scanning subsystem's entry points that the main frame calls while it is created.
// Until the scanning subsystem installs its own, identification reports "no scanner".
#pragma once

#include <functional>
#include <string>

namespace orb {

struct IdentifiedScanner {
  std::string vendor;
  std::string model;
  std::string firmware;
  // The identification found another scanner than the one the settings were saved with
  // (it has then reset and saved the scan settings itself).
  bool changed = false;
};

struct ScanningEntryPoints {
  // Each returns true when a scanner of its family was found and fills *out.
  std::function<bool(IdentifiedScanner* out)> identifyKelvane;
  std::function<bool(IdentifiedScanner* out)> identifyScsi;
};

// Installed by the scanning subsystem before the main frame is created.
void SetScanningEntryPoints(ScanningEntryPoints entryPoints);
const ScanningEntryPoints& GetScanningEntryPoints();

// The no-scanner entry points: used while nothing else is installed.
bool IdentifyNoScanner(IdentifiedScanner* out);

}  // namespace orb
