// The main frame's scan workflow and commands in the running program: the scan messages,
// the frame commands that press the scan page's buttons, the paper-sensor poll and the
// diagnostic switches. The scanning itself goes through the frame's own scanner object,
// scan control and scan host. The decisions are the display-free models'
// (app/ScanDecision.h, app/FrameCommands.h); this object only connects them to the frame,
// its documents and the scan output page.
#pragma once

#include <wx/event.h>
#include <wx/timer.h>

#include <memory>

class CMainFrame;

namespace orb::gui {

class MainFrameCommands : public wxEvtHandler {
 public:
  // Sets up the scan workflow over the frame's scanner family and the scan output page.
  explicit MainFrameCommands(CMainFrame* frame);
  ~MainFrameCommands() override;

  // Binds the scan messages and the commands to the frame (after its menus exist).
  void Attach();

  // The commands object of the running program (null when none exists).
  static MainFrameCommands* Current();
  // Waits for a running scan to end (tests and shutdown).
  void WaitForScan();

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

// Creates the frame's commands object, owned by the frame (destroyed with it); call first
// thing while the frame is built.
MainFrameCommands* InstallMainFrameCommands(CMainFrame* frame);

}  // namespace orb::gui
