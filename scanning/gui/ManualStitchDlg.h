// The manual stitch dialog as a window: the module's dialog template 217, modeless, a thin
// view over orb::ManualStitchModel with its 250 ms timer.
#pragma once

#include <wx/dialog.h>
#include <wx/timer.h>

#include <functional>
#include <map>
#include <memory>

#include "scanning/ManualStitch.h"

class CTrennic;

class CManualStitchDlg : public wxDialog {
 public:
  CManualStitchDlg(wxWindow* parent, CTrennic& scanner);
  ~CManualStitchDlg() override;

  // Shows the dialog (a new window, or the open one raised). Returns it.
  static CManualStitchDlg* Show(wxWindow* parent, CTrennic& scanner);
  // The open dialog, null when none.
  static CManualStitchDlg* Current();

  orb::ManualStitchModel& Model() { return *m_model; }
  wxWindow* ControlWindow(int id) const;
  // OK and Cancel (both close the same way).
  void CloseDialog();
  // One tick of the 250 ms timer (tests call it directly).
  void Tick();

  // How the dialog reaches the active document's image: its size and the view's client
  // size (false when there is none), and showing a region of it. Installed by the program.
  struct ImageAccess {
    std::function<bool(int32_t*, int32_t*, int32_t*, int32_t*)> size;
    std::function<void(const orb::Rect&)> showRegion;
    std::function<void()> refreshOutputPage;
  };
  static void SetImageAccess(ImageAccess access);

 private:
  class Host;
  void Pull();
  void Push();
  template <class F>
  void Run(F handler);

  std::unique_ptr<Host> m_host;
  std::unique_ptr<orb::ManualStitchModel> m_model;
  std::map<int, wxWindow*> m_controls;
  wxTimer m_timer;
  bool m_pushing = false;
  bool m_closing = false;
};
