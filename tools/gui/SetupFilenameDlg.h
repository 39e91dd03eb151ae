// The file-naming dialog: the name with its counters and, per counter, start, limit, step
// and carry-only. All logic is CSetupFilenameDlg's; this window only shows its controls.
#pragma once

#include <wx/dialog.h>
#include <wx/event.h>

#include <map>
#include <string>

#include "tools/FileNaming.h"

class wxTextCtrl;
class wxCheckBox;

namespace orb::gui {

// The module's dialog template 159; a module without it gets the controls built here.
class SetupFilenameDialog : public wxDialog {
 public:
  SetupFilenameDialog(wxWindow* parent, CSetupFilenameDlg& model);
  ~SetupFilenameDialog() override;
  // Shows the dialog; on OK the model's name and the counter settings are stored.
  int RunModal();

  // The window of a control id (tests).
  wxWindow* ControlWindow(int id) const;

 private:
  bool FindControls();
  void BuildWithoutTemplate(wxWindow* parent);
  void Pull();
  void Push();
  void OnOk(wxCommandEvent& e);
  void OnEditKillFocus(wxFocusEvent& e);
  void OnSeparatorSetFocus(wxFocusEvent& e);

  CSetupFilenameDlg& m_model;
  std::map<int, wxTextCtrl*> m_edits;
  std::map<int, wxCheckBox*> m_boxes;
  // Set while the dialog goes away: focus events of the dying controls change nothing.
  bool m_closing = false;
};

}  // namespace orb::gui
