// Paper sensing, staging, transport and paper moves of a scanner of the SCSI family, outside a
// scan. The frame's handlers call these; the asynchronous moves run on a short worker thread
// that tells the frame when the medium starts and stops moving.
#pragma once

#include <memory>
#include <thread>

#include "engine/Settings.h"
#include "platform/Clock.h"

class CTrennic;

namespace orb {

class ScanHost;

// Switches the paper sensor on, waits 200 ms and reads the sensor. False when the scanner did
// not answer (a result page that was not received is never read).
bool IsPaperPresentScsi(CTrennic& scanner, Clock& clock);

// Sends the staging position and the run-on (nothing while a scan runs).
void ApplyPaperStaging(CTrennic& scanner, const ScanSettingsRecord& s);
// Sends the transport mode and, for automatic loading, its delay (nothing while a scan runs).
void ApplyPaperTransport(CTrennic& scanner, const ScanSettingsRecord& s);

// The object command of an unload or a load.
int UnloadCommand(const ScanSettingsRecord& s);
int LoadCommand(const ScanSettingsRecord& s);

// Moves the paper. Synchronous: on the caller's thread with the wait cursor. Asynchronous: on a
// worker thread that sends WM_SCANNER_BUSY 1 to the frame, issues the command and sends
// WM_SCANNER_BUSY 0. The previous worker is joined before a new one starts.
class PaperMover {
 public:
  PaperMover(CTrennic& scanner, ScanHost& host) : scanner_(scanner), host_(host) {}
  ~PaperMover();
  PaperMover(const PaperMover&) = delete;
  PaperMover& operator=(const PaperMover&) = delete;

  void Unload(const ScanSettingsRecord& s, bool synchronous);
  void Load(const ScanSettingsRecord& s, bool synchronous);
  // Waits for a running asynchronous move.
  void Join();

 private:
  void Move(int command, bool synchronous);

  CTrennic& scanner_;
  ScanHost& host_;
  std::thread worker_;
};

}  // namespace orb
