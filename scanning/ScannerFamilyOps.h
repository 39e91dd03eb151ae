// The routines a scanner family offers the program's scan workflow (start and stop a scan,
// paper sensing, medium moves, the service operations). Each family's scan control
// implements them; the workflow dispatches to the family the settings name.
#pragma once

#include "engine/ImageState.h"

namespace orb {

// The routines of one scanner family. A family whose code is absent has none (null).
class ScannerFamilyOps {
 public:
  virtual ~ScannerFamilyOps() = default;
  // Starts a scan into the scan document's working record; false when none was started
  // (the family has shown its own message).
  virtual bool StartScan(ImageState* image) = 0;
  virtual void StopScan() = 0;
  virtual bool IsPaperPresent() = 0;
  virtual void LoadMedium(bool wait) { (void)wait; }
  virtual void UnloadMedium(bool wait) { (void)wait; }
  virtual int AlignScanner() { return 0; }
  virtual int ShowDiagnostics() { return 0; }
  virtual int Calibrate() { return 0; }
  virtual void ApplyPaperStaging() {}
  virtual void ApplyPaperTransport() {}
};

}  // namespace orb
