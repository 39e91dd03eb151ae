#include "app/FrameCommands.h"

#include <cstdio>

#include "engine/AppStatus.h"

namespace orb {

namespace {
constexpr int kScanButton = 32774, kAcceptButton = 32775, kRejectButton = 32776;
constexpr int kUnloadButton = 1142, kLoadButton = 1143;
}  // namespace

std::vector<int> ButtonsPressedBy(int command, uint32_t status, int32_t modelCode) {
  const bool scanning = ScanStateOf(status) == ScanState::Scanning;
  const bool pending = ScanStateOf(status) == ScanState::DecisionPending;
  using namespace frame_cmds;
  switch (command) {
    case kScannerButton: return scanning ? std::vector<int>{} : std::vector<int>{kScanButton};
    case kPressStop: return scanning ? std::vector<int>{kScanButton} : std::vector<int>{};
    case kPressAccept: return pending ? std::vector<int>{kAcceptButton} : std::vector<int>{};
    case kPressReject: return pending ? std::vector<int>{kRejectButton} : std::vector<int>{};
    case kPressLoad: return scanning ? std::vector<int>{} : std::vector<int>{kLoadButton};
    case kPressUnload: return scanning ? std::vector<int>{} : std::vector<int>{kUnloadButton};
    case kScanKey: {
      if (scanning) return {};
      const bool acceptThenScan = modelCode == 17 || modelCode == 20 || modelCode == 21 || modelCode == 22;
      if (acceptThenScan) {
        std::vector<int> b;
        if (pending) b.push_back(kAcceptButton);
        b.push_back(kScanButton);
        return b;
      }
      return {pending ? kAcceptButton : kScanButton};
    }
    default: return {};
  }
}

std::string DiskWritesSwitchText(bool nowOff) {
  return nowOff ? "Writes to disk during scan are DISABLED (Uncomp TIFF only)"
                : "Writes to disk during scan are enabled (Uncomp TIFF only)";
}

std::string DisplaySwitchText(bool nowOff) {
  return nowOff ? "Image display during scan is DISABLED (Uncomp TIFF only)"
                : "Image display during scan is enabled (Uncomp TIFF only)";
}

std::string RgbStatisticsText(const int avg[3], const int mn[3], const int mx[3]) {
  char buf[512];
  std::snprintf(buf, sizeof buf,
                "     RGB statistics for current view \n                                     \n"
                "            Red    Green     Blue    \n Avg:    %03d      %03d       %03d   \n"
                " Min:     %03d      %03d       %03d  \n Max:    %03d      %03d       %03d   \n",
                avg[0], avg[1], avg[2], mn[0], mn[1], mn[2], mx[0], mx[1], mx[2]);
  return buf;
}

// ---------------------------------------------------------------- paper-sensor polling

void PaperSensorPoll::Toggle() {
  on_ = !on_;
  waiting_ = false;
  port_.SetPaperTransport(on_ ? 1 : 0);
}

bool PaperSensorPoll::Tick(int64_t nowMs, uint32_t status) {
  if (!on_) return false;
  // The scanner belongs to the scan threads while a scan runs and to the paper mover while
  // the medium moves; a busy program starts no other work.
  if (ScanStateOf(status) == ScanState::Scanning || HasStatus(status, StatusBit::MediumMoving | StatusBit::Busy)) {
    waiting_ = false;
    return false;
  }
  if (!waiting_) {
    if (port_.SwitchSensorDiagnostic(true)) {
      waiting_ = true;
      readAt_ = nowMs + kSettleMs;
    }
    return false;
  }
  if (nowMs < readAt_) return false;
  waiting_ = false;
  std::optional<uint8_t> sensors = port_.ReadSensorByte();
  if (!sensors) return false;  // no answer: nothing is concluded
  if (*sensors & 3) {
    paperSeen_ = true;
    return false;
  }
  if (paperSeen_) {
    paperSeen_ = false;
    return true;
  }
  return false;
}

// ---------------------------------------------------------------- undo

UndoLabel UndoLabelFor(uint32_t code) {
  static const int ids[] = {33020, 33017, 33029, 33033, 33035, 33037, 33045, 33041, 33039, 33043, 33151, 33047};
  if (code == 0) return {33020, false};
  if (code < sizeof ids / sizeof ids[0]) return {ids[code], true};
  return {0, true};
}

// ---------------------------------------------------------------- e-mail

std::vector<std::string> MailCommand(const std::string& imagePath) {
  return {"xdg-email", "--attach", imagePath};
}

// ---------------------------------------------------------------- update handlers

std::optional<CommandUi> UpdateCommand(int command, const CommandContext& c) {
  using namespace frame_cmds;
  const bool blocked = HasStatus(c.status, StatusBit::Busy) || ScanStateOf(c.status) == ScanState::Scanning;
  CommandUi ui;
  switch (command) {
    case kUndo: {
      UndoLabel l = UndoLabelFor(c.hasDocument ? c.operationCode : 0);
      ui.enabled = c.hasDocument && l.enabled;
      ui.textId = l.stringId;
      return ui;
    }
    case kMagnifier:
      if (!c.hasDocument) return std::nullopt;
      if (c.workingState == 0 && (c.kind == 4 || c.kind == 6) && c.thresholdBlocksMagnifier) {
        ui.enabled = false;
        ui.clearMagnifierFlag = true;
        ui.checked = false;
      } else {
        ui.checked = c.magnifierFlag != 0;
      }
      return ui;
    case kDragScroll:
      ui.checked = c.dragScroll != 0;
      return ui;
    // The scan buttons' commands do something only in their scan state: offered then only.
    case kPressStop:
      ui.enabled = ScanStateOf(c.status) == ScanState::Scanning;
      return ui;
    case kPressAccept:
    case kPressReject:
      ui.enabled = ScanStateOf(c.status) == ScanState::DecisionPending && !HasStatus(c.status, StatusBit::Busy);
      return ui;
    case kFileClose: ui.enabled = c.hasDocument && c.workingState != 0 && !c.batchMode; break;
    case kFileSave: ui.enabled = c.hasDocument && c.workingState != 0 && c.edited && !c.batchMode; break;
    case kFileOpen:
    case kAppExit: ui.enabled = !c.batchMode; break;
    case kSaveAs:
    case kFilePrint: ui.enabled = c.hasDocument; break;
    case kSendMail: ui.enabled = c.mailAvailable && c.hasDocument; break;
    case kFilePrintSetup:
    case kSavePreset: ui.enabled = true; break;
    default: return std::nullopt;
  }
  if (blocked) ui.enabled = false;
  return ui;
}

}  // namespace orb
