#include "scanning/PaperHandling.h"

#include <array>
#include <cstdint>

#include "common/Messages.h"
#include "scanner_library/trennic.h"
#include "scanning/ScanHost.h"

namespace orb {

bool IsPaperPresentScsi(CTrennic& scanner, Clock& clock) {
  if (!scanner.SwitchSensorDiagnostic(0)) return false;
  clock.Sleep(std::chrono::milliseconds(200));
  ReceiveResultsType results{};
  if (!scanner.ReceiveResultsDiagnostic(&results, static_cast<int>(sizeof(results)))) return false;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&results);
  return (bytes[5] & 4) != 0;
}

void ApplyPaperStaging(CTrennic& scanner, const ScanSettingsRecord& s) {
  if (IsScanning()) return;
  scanner.SetPaperStagingPosition(
      static_cast<short>(static_cast<int32_t>(s.OpticalDpi * s.StagingPosition)));
  scanner.SetPostEndOfMediaRunOn(static_cast<short>(static_cast<int32_t>(s.RunOnLength * 1000)));
}

void ApplyPaperTransport(CTrennic& scanner, const ScanSettingsRecord& s) {
  if (IsScanning()) return;
  if (s.ManualTransport == 0) {
    scanner.SetPaperTransport(static_cast<PaperTransportType>(0));
    scanner.SetAutoLoadDelay(s.AutoLoadDelay);
  } else {
    scanner.SetPaperTransport(static_cast<PaperTransportType>(2));
  }
}

int UnloadCommand(const ScanSettingsRecord& s) { return s.UnloadMode != 0 ? 0 : 4; }
int LoadCommand(const ScanSettingsRecord& s) { return s.ScannerType == 1 ? 5 : 1; }

PaperMover::~PaperMover() { Join(); }

void PaperMover::Join() {
  if (worker_.joinable()) worker_.join();
}

void PaperMover::Unload(const ScanSettingsRecord& s, bool synchronous) {
  Move(UnloadCommand(s), synchronous);
}

void PaperMover::Load(const ScanSettingsRecord& s, bool synchronous) {
  Move(LoadCommand(s), synchronous);
}

void PaperMover::Move(int command, bool synchronous) {
  Join();
  if (synchronous) {
    host_.WaitCursor(true);
    (void)scanner_.SetObjectPosition(static_cast<ObjectCommandType>(command), 0);
    host_.WaitCursor(false);
    return;
  }
  worker_ = std::thread([this, command] {
    host_.SendToFrame(WM_SCANNER_BUSY, 1);
    (void)scanner_.SetObjectPosition(static_cast<ObjectCommandType>(command), 0);
    host_.SendToFrame(WM_SCANNER_BUSY, 0);
  });
}

}  // namespace orb
