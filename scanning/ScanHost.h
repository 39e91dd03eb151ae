// What the scan logic needs of the program around it: messages to the frame and the thumbnail
// dialog, questions and messages by string id, a progress dialog, the message pump, the
// progressive display and the clock. The frame implements it over the toolkit; tests implement
// it with recorders, so a whole scan runs without a display.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/EngineHost.h"
#include "platform/Clock.h"

namespace orb {

class ScanHost {
 public:
  virtual ~ScanHost() = default;

  // Queues a message for the main frame (any thread).
  virtual void PostToFrame(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0) = 0;
  // Delivers a message to the main frame and returns once it has been handled (any thread).
  virtual void SendToFrame(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0) = 0;
  // Queues a message for the thumbnail dialog.
  virtual void PostToThumbnails(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0) = 0;

  // A Yes/No question: `prefix`, one blank and string `stringId`. True for Yes.
  virtual bool AskYesNo(int stringId, std::string_view prefix) = 0;
  // String `stringId` in a box with OK and Cancel. True for OK. The default asks Yes/No.
  virtual bool AskOkCancel(int stringId) { return AskYesNo(stringId, {}); }
  // String `stringId` of the language module in a message box.
  virtual void ShowMessage(int stringId, MessageIcon icon,
                           const std::vector<MessageArg>& args = {}) = 0;
  // A fixed text of the program.
  virtual void ShowText(std::string_view text, std::string_view caption, MessageIcon icon) = 0;

  // A modeless progress dialog with the caption string and `steps` units.
  virtual void ProgressBegin(int captionStringId, int steps) = 0;
  virtual void ProgressStep() = 0;
  // The progress dialog's text line: string `stringId`.
  virtual void ProgressText(int stringId) { (void)stringId; }
  virtual void ProgressEnd() = 0;
  virtual void WaitCursor(bool on) = 0;

  // The message pump of long operations (Esc sets CancelFlag).
  virtual void PumpMessages() = 0;
  // The progressive display of the scanned image, or null when there is none.
  virtual IDisplaySink* Display() = 0;
  // Changes the scan's image record where the display reads it: the display draws from the
  // record while the scan runs, so the scan threads never change it themselves. `change` is
  // carried out after every band, step and message asked for before it and before any asked
  // for after it; the call need not wait for it. A host without a thread of its own (the
  // default) carries it out at once.
  virtual void ChangeImageRecord(std::function<void()> change);
  // Time for every wait of a scan.
  virtual Clock& GetClock() = 0;
  // Free space test; the default asks the file system.
  virtual bool HasFreeSpace(const std::string& path, int64_t bytes);
};

// The host the program installs (the frame's); null until one is installed.
ScanHost* CurrentScanHost();
void SetScanHost(ScanHost* host);

}  // namespace orb
