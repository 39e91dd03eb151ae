// The preset dialog: the user names a preset and fills in its eight description fields.
// Its OK saves the preset (the main frame's saver writes the whole set; without one the
// dialog writes only the description); a name that cannot be used, a declined overwrite or
// a failed write keeps the dialog open, and the current preset name changes only after a
// successful save. Also here: the main frame's preset save command and preset load.
#pragma once

#include <wx/dialog.h>

#include <array>
#include <functional>
#include <string>

#include "app/Presets.h"
#include "common/ResourceIds.h"

class wxTextCtrl;
class CMainFrame;

class CPresetDlg : public wxDialog {
 public:
  static constexpr int kTemplateId = orb::res::IDD_PRESET;
  static constexpr int kFirstFieldId = 1152;  // the eight fields are 1152 to 1159
  static constexpr int kNameId = 1161;
  static constexpr int kBrowseId = 1019;

  using Saver = std::function<bool(const std::string& name, const orb::presets::HeaderFields& fields,
                                   std::string* error)>;
  explicit CPresetDlg(wxWindow* parent, Saver saver = nullptr);

  wxTextCtrl* Field(int index) const { return m_fields[static_cast<size_t>(index)]; }
  wxTextCtrl* NameBox() const { return m_name; }
  // The OK button: ends the dialog with OK once SaveFromControls succeeded.
  void OnOK();
  // Checks the name (asking before an existing preset is replaced) and saves; false, with
  // the dialog kept open, when nothing was saved. The current preset name changes only
  // after a successful save.
  bool SaveFromControls();
  // Picks a name in a file dialog of the presets folder (command 1019).
  void BrowsePresets();

 private:
  bool FindControls();
  void BuildWithoutTemplate(wxWindow* parent);
  void FillFromCurrentPreset();
  void ShowMessage(int id, const wxString& arg = wxString());

  std::array<wxTextCtrl*, orb::presets::kFieldCount> m_fields{};
  wxTextCtrl* m_name = nullptr;
  Saver m_saver;
  bool m_headerMissing = false;
};

namespace orb::gui {

// Command 32785: the preset dialog; after OK the presets page is refreshed and the saved
// preset is loaded at once.
void SavePresetCommand(CMainFrame* frame);
// WM_LOAD_PRESET: loads the current preset (MiscSettings' preset name), says what could
// not be loaded, and refreshes the scan settings sheet's active page.
void LoadCurrentPreset(CMainFrame* frame);

}  // namespace orb::gui
