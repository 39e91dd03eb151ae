// The scan logic's way into the running program: messages to the main frame through the
// private-message event, questions and messages by string id from the language module, the
// progress dialog, the wait cursor, the message pump and the progressive display of the scan
// document's view.
//
// The scan threads call most of this from their own threads. Nothing they ask for is done on
// their thread: every action is queued, in the order it was asked for, and carried out on the
// GUI thread. A band to draw is copied before the call returns, so the scan can reuse its
// buffer at once; the queue of bands waiting to be drawn is bounded, and a scan that runs ahead
// of the screen waits for it instead of growing the queue. A message sent to the frame (and a
// question or message box) makes the calling worker wait until the GUI thread has handled it;
// on the GUI thread itself it is handled at once.
//
// While the frame waits on the GUI thread for a scan's threads to end (closing, destruction),
// it detaches the host: nothing then waits for the GUI thread, questions answer No and the
// bounded queue stops holding the scan back, so the wait cannot deadlock.
#pragma once

#include <wx/event.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "scanning/ScanHost.h"

class CProgressDlg;
class wxWindow;

namespace orb::gui {

class ScanHostGui final : public orb::ScanHost {
 public:
  // The default bound of the bands waiting to be drawn.
  static constexpr size_t kDefaultQueueLimit = size_t{64} << 20;

  // `frame` receives the messages (and runs the queued actions); `parent` owns the progress
  // dialog and the message boxes.
  ScanHostGui(wxEvtHandler* frame, wxWindow* parent);
  ~ScanHostGui() override;
  ScanHostGui(const ScanHostGui&) = delete;
  ScanHostGui& operator=(const ScanHostGui&) = delete;

  void PostToFrame(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0) override;
  void SendToFrame(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0) override;
  void PostToThumbnails(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0) override;
  bool AskYesNo(int stringId, std::string_view prefix) override;
  bool AskOkCancel(int stringId) override;
  void ShowMessage(int stringId, MessageIcon icon, const std::vector<MessageArg>& args = {}) override;
  void ShowText(std::string_view text, std::string_view caption, MessageIcon icon) override;
  void ProgressBegin(int captionStringId, int steps) override;
  void ProgressStep() override;
  void ProgressText(int stringId) override;
  void ProgressEnd() override;
  void WaitCursor(bool on) override;
  void PumpMessages() override;
  IDisplaySink* Display() override;
  Clock& GetClock() override;
  // Queued with the display's actions: the record is the display's while the scan runs.
  void ChangeImageRecord(std::function<void()> change) override;

  // See the top of the file. Detaching also releases every worker waiting right now.
  void SetDetached(bool detached);
  bool Detached() const;
  // Carries out every queued action now (GUI thread).
  void Flush();
  // Ends the host for good: queued actions are dropped, waiting workers released, the
  // progress dialog closed and the wait cursor ended. The destructor does it too.
  void Shutdown();

  // The clock of the scan's waits (the default clock unless set).
  void SetClock(Clock* clock);
  // The bound of the bands waiting to be drawn (tests lower it).
  void SetQueueLimit(size_t bytes);
  // The largest number of band bytes that ever waited at once.
  size_t PeakQueuedBytes() const;
  // The progress dialog shown now, or null (GUI thread).
  CProgressDlg* ProgressDialog() const;

 private:
  struct Core;
  class Sink;
  std::shared_ptr<Core> core_;
  std::unique_ptr<Sink> sink_;
};

}  // namespace orb::gui
