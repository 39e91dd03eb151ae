// The scan output page as a window: the first tab of the scan settings sheet. The page
// holds widgets only; every handler copies what the user changed into
// orb::ScanOutputPageModel, runs the model's handler and shows the model's control states.
#pragma once

#include <wx/panel.h>
#include <wx/timer.h>

#include <map>
#include <memory>

#include "scanning/ScanOutputPageModel.h"

class CScanToolsPropPage : public wxPanel {
 public:
  // The page is the module's template 102; a module without it gets the controls built here.
  static constexpr int kTemplateId = 102;
  explicit CScanToolsPropPage(wxWindow* parent);
  ~CScanToolsPropPage() override;

  // The page of the running program (null when none exists).
  static CScanToolsPropPage* Current();

  // Called by the frame and the other pages.
  bool OnSetActive();
  void ToggleBatchScan();
  void ValidateCustomArea();
  // Presses a button as a click would (the frame's commands).
  void PressButton(int id);

  orb::ScanOutputPageModel& Model() { return *m_model; }
  wxWindow* ControlWindow(int id) const;

 private:
  class Host;
  void Build(wxWindow* parent);
  bool FindControls();
  void BuildWithoutTemplate(wxWindow* parent);
  void BindEvents();
  void Pull();
  void Push();
  template <class F>
  void Run(F handler);
  void OnButton(wxCommandEvent& e);

  std::unique_ptr<Host> m_host;
  std::unique_ptr<orb::ScanOutputPageModel> m_model;
  std::map<int, wxWindow*> m_controls;
  wxTimer m_resolutionTimer;
  bool m_pushing = false;
};

namespace orb::gui {
// Makes the scan settings sheet build its first page as CScanToolsPropPage.
void InstallScanOutputPage();
}  // namespace orb::gui
