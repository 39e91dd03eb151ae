// The main frame's own commands without a display: which scan-page button a command presses,
// the paper-sensor polling, undo, sending by e-mail and the enabling of menu commands.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/ImageState.h"

namespace orb {

// Commands of the frame.
namespace frame_cmds {
inline constexpr int kSavePreset = 32785;
inline constexpr int kUndo = 32792;
inline constexpr int kSaveAs = 32793;
inline constexpr int kScannerButton = 32797;
inline constexpr int kPressStop = 32798;
inline constexpr int kPressAccept = 32799;
inline constexpr int kPressReject = 32800;
inline constexpr int kRgbStatistics = 40016;
inline constexpr int kDisplayDuringScan = 40021;
inline constexpr int kDiskWritesDuringScan = 40022;
inline constexpr int kPressLoad = 40031;
inline constexpr int kPressUnload = 40032;
inline constexpr int kForceModelFlag = 40034;
inline constexpr int kPaperSensorPolling = 40036;
inline constexpr int kScanKey = 40038;
// The Scan item of the File menu (its shortcut F5) does what the scan key does.
inline constexpr int kMenuScan = 24605;
inline constexpr int kSendMail = 40039;
inline constexpr int kMagnifier = 1243;
inline constexpr int kDragScroll = 40029;
// The class library's commands, by name.
inline constexpr int kFileClose = 0xE102;
inline constexpr int kFileSave = 0xE103;
inline constexpr int kFileOpen = 0xE101;
inline constexpr int kFilePrint = 0xE107;
inline constexpr int kFilePrintSetup = 0xE106;
inline constexpr int kAppExit = 0xE141;
}  // namespace frame_cmds

// The scan output page's buttons a frame command presses, in order (empty: none), by the
// status word and the scanner's model code (the scan key).
std::vector<int> ButtonsPressedBy(int command, uint32_t status, int32_t modelCode);

// The texts of the two diagnostic switches after a flip to `nowOff`.
std::string DiskWritesSwitchText(bool nowOff);
std::string DisplaySwitchText(bool nowOff);
// The RGB statistics box text.
std::string RgbStatisticsText(const int avg[3], const int min[3], const int max[3]);

// ---------------------------------------------------------------- paper-sensor polling

// What the poll asks of the scanner; each returns false when the scanner did not answer.
class PaperSensorPort {
 public:
  virtual ~PaperSensorPort() = default;
  virtual bool SetPaperTransport(int mode) = 0;
  virtual bool SwitchSensorDiagnostic(bool on) = 0;
  // The sensor byte of the diagnostic results (byte 5), nullopt when not received.
  virtual std::optional<uint8_t> ReadSensorByte() = 0;
};

// The poll of timer 123: every tick (100 ms) either switches the sensor diagnostic on or,
// at least 50 ms later, reads the result; the GUI thread never waits. While a scan runs,
// the medium moves or the program is busy the scanner is left alone (a half-done reading
// is dropped). One Scan press happens each time a sheet has covered the sensors and left.
class PaperSensorPoll {
 public:
  static constexpr int kTimerId = 123;
  static constexpr int kTickMs = 100;
  static constexpr int kSettleMs = 50;

  explicit PaperSensorPoll(PaperSensorPort& port) : port_(port) {}

  bool On() const { return on_; }
  // Switching on sets paper transport 1, off sets 0.
  void Toggle();
  // One timer tick at `nowMs`; true when Scan is to be pressed (as the scanner's button).
  bool Tick(int64_t nowMs, uint32_t status);
  bool PaperSeen() const { return paperSeen_; }

 private:
  PaperSensorPort& port_;
  bool on_ = false;
  bool paperSeen_ = false;
  bool waiting_ = false;
  int64_t readAt_ = 0;
};

// ---------------------------------------------------------------- undo

// The string id of the undo command's text and whether it is enabled, by the newest
// version's operation code (0: nothing to undo; unknown codes: no text, enabled).
struct UndoLabel {
  int stringId = 0;
  bool enabled = true;
};
UndoLabel UndoLabelFor(uint32_t operationCode);

// Undoes the newest version of a chain: deletes the files only it owns (never a file an
// older version names, so never the user's own file), carries the view region back
// (mirrored for a mirror, not for operations that change the geometry), frees the newest
// version and returns the previous one; null (and nothing done) when there is nothing to undo.
// `deleteFile` removes one file.
template <class DeleteFn>
ImageState* UndoNewestVersion(ImageState* newest, DeleteFn deleteFile);

// ---------------------------------------------------------------- e-mail

// The program and arguments that hand the image to the desktop's mail program.
std::vector<std::string> MailCommand(const std::string& imagePath);
// Whether the mail program's exit status calls for the failure message (0 is success).
inline bool MailFailed(int exitStatus) { return exitStatus != 0; }

// ---------------------------------------------------------------- update handlers

struct CommandContext {
  uint32_t status = 0;
  bool batchMode = false;
  bool hasDocument = false;
  uint32_t workingState = 0;  // state of the active document's working record
  bool edited = false;        // its edited flag, or the file record has a successor
  uint32_t operationCode = 0;
  uint16_t kind = 0;
  bool mailAvailable = false;
  uint8_t magnifierFlag = 0;  // MiscSettings byte 549
  uint8_t dragScroll = 0;     // MiscSettings byte 1637
  bool thresholdBlocksMagnifier = false;  // threshold byte 16 set or its type is 2
};

struct CommandUi {
  bool enabled = true;
  std::optional<bool> checked;
  std::optional<int> textId;
  bool clearMagnifierFlag = false;
};
// The enabling of a command; nullopt for commands the frame does not update.
std::optional<CommandUi> UpdateCommand(int command, const CommandContext& c);

}  // namespace orb

// ---------------------------------------------------------------- template body

template <class DeleteFn>
ImageState* orb::UndoNewestVersion(ImageState* newest, DeleteFn deleteFile) {
  if (!newest || newest->operationCode == 0 || !newest->prev) return nullptr;
  ImageState* prev = newest->prev;
  for (const std::string* p : {&newest->sourcePath, &newest->rawPath}) {
    if (p->empty()) continue;
    bool older = false;
    for (const ImageState* o = prev; o && !older; o = o->prev) older = o->sourcePath == *p || o->rawPath == *p;
    if (!older) deleteFile(*p);
  }
  const uint32_t code = newest->operationCode;
  if (code != 6 && code != 7 && code != 9 && code != 10) {
    PixelRect r = newest->region;
    if (code == 1) {
      // The region's right edge is exclusive: the columns [left, right) mirror onto
      // [width - right, width - left).
      const int32_t w = prev->width;
      PixelRect m = r;
      m.left = w - r.right;
      m.right = w - r.left;
      r = m;
    }
    prev->region = r;
  }
  FreeImageState(newest);
  return prev;
}
