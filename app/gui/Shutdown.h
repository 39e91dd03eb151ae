// Ending the program when the session asks (SIGTERM, SIGINT, SIGHUP): the signal reaches the
// GUI thread at once through a pipe the event loop watches, every open modal dialog and
// message box is answered Cancel, and only when no dialog's loop is left on the stack is the
// frame closed, so that nothing is destroyed under a box that is still being answered.
#pragma once

#include <wx/modalhook.h>

#include <functional>
#include <vector>

class wxDialog;

namespace orb::gui {

// Keeps the modal dialogs and message boxes that are open, innermost last. While refusing,
// every dialog about to open is answered Cancel without being shown.
class ModalDialogs final : public wxModalDialogHook {
 public:
  ModalDialogs();
  ~ModalDialogs() override;
  size_t Open() const { return m_open.size(); }
  // Answers Cancel to every open dialog, innermost first; each returns when the loop that
  // shows it next runs.
  void CancelAll();
  void SetRefusing(bool refusing) { m_refusing = refusing; }

 protected:
  int Enter(wxDialog* dialog) override;
  void Exit(wxDialog* dialog) override;

 private:
  std::vector<wxDialog*> m_open;
  bool m_refusing = false;
};

// Routes the shutdown signals to `onSignal`, run on the GUI thread from the event loop
// (also while a modal dialog's loop runs). False when the pipe or a handler could not be set.
bool InstallShutdownSignals(std::function<void()> onSignal);
void RemoveShutdownSignals();

// Whether the GUI thread is at a point where the frame may be closed: no modal dialog open,
// the main loop running, no message pump (a decode or scan yielding) under way.
bool SafeToCloseFrame(const ModalDialogs& dialogs);

}  // namespace orb::gui
