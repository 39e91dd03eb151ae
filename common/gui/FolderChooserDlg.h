// The folder chooser: a folder tree, the path field and a status line that shows the
// selected path while the user moves through the tree. BrowseForFolder (engine) shows it
// once InstallFolderChooser has been called.
#pragma once

#include <wx/dialog.h>

#include <string>

#include "engine/SharedRoutines.h"

class wxGenericDirCtrl;
class wxStaticText;
class wxTextCtrl;

namespace orb::gui {

class CFolderChooserDlg : public wxDialog {
 public:
  CFolderChooserDlg(wxWindow* parent, orb::FolderBrowseState& state);

  // The path the user chose: the field's text (a typed path, or the tree's selection).
  std::string ChosenPath() const;
  // Selects `path` in the tree, as a click would.
  void SelectPath(const std::string& path);
  wxString StatusText() const;
  wxString TreePath() const;

 private:
  void OnSelectionChanged();
  void OnPathTyped();

  orb::FolderBrowseState& m_state;
  wxGenericDirCtrl* m_tree = nullptr;
  wxTextCtrl* m_path = nullptr;
  wxStaticText* m_status = nullptr;
};

// BrowseForFolder shows the chooser over `parent` (the program's main window) from now on;
// RemoveFolderChooser takes it away again (the window is going).
void InstallFolderChooser(wxWindow* parent);
void RemoveFolderChooser();

}  // namespace orb::gui
