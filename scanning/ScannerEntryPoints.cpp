#include "scanning/ScannerEntryPoints.h"

namespace orb {
namespace {
ScanningEntryPoints& Current() {
  static ScanningEntryPoints e{&IdentifyNoScanner, &IdentifyNoScanner};
  return e;
}
}  // namespace

bool IdentifyNoScanner(IdentifiedScanner* out) {
  if (out) *out = IdentifiedScanner{};
  return false;
}

void SetScanningEntryPoints(ScanningEntryPoints entryPoints) {
  if (!entryPoints.identifyKelvane) entryPoints.identifyKelvane = &IdentifyNoScanner;
  if (!entryPoints.identifyScsi) entryPoints.identifyScsi = &IdentifyNoScanner;
  Current() = std::move(entryPoints);
}

const ScanningEntryPoints& GetScanningEntryPoints() { return Current(); }

}  // namespace orb
