#include "common/gui/FolderChooserDlg.h"

#include <wx/button.h>
#include <wx/dirctrl.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/weakref.h>

#include "common/gui/Resources.h"

namespace orb::gui {

namespace {

// The chooser's title and the label of its path field.
constexpr int kStrChooserTitle = 35250;
constexpr int kStrChooserFolder = 35251;

wxString FromUtf8(const std::string& s) { return wxString::FromUTF8(s); }

}  // namespace

CFolderChooserDlg::CFolderChooserDlg(wxWindow* parent, orb::FolderBrowseState& state)
    : wxDialog(parent, wxID_ANY, Str(kStrChooserTitle), wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      m_state(state) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  m_status = new wxStaticText(this, wxID_ANY, FromUtf8(m_state.StatusText()), wxDefaultPosition, wxDefaultSize,
                              wxST_ELLIPSIZE_MIDDLE);
  sizer->Add(m_status, 0, wxEXPAND | wxALL, 8);
  m_tree = new wxGenericDirCtrl(this, wxID_ANY, FromUtf8(m_state.StartFolder()), wxDefaultPosition,
                                wxSize(420, 320), wxDIRCTRL_DIR_ONLY | wxDIRCTRL_3D_INTERNAL);
  sizer->Add(m_tree, 1, wxEXPAND | wxLEFT | wxRIGHT, 8);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(new wxStaticText(this, wxID_ANY, Str(kStrChooserFolder)), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
  m_path = new wxTextCtrl(this, wxID_ANY, FromUtf8(m_state.Selected()));
  row->Add(m_path, 1, wxALIGN_CENTER_VERTICAL);
  sizer->Add(row, 0, wxEXPAND | wxALL, 8);
  sizer->Add(CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);
  SetSizerAndFit(sizer);
  m_tree->Bind(wxEVT_DIRCTRL_SELECTIONCHANGED, [this](wxTreeEvent&) { OnSelectionChanged(); });
  m_path->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { OnPathTyped(); });
}

void CFolderChooserDlg::OnSelectionChanged() {
  const wxString path = m_tree->GetPath();
  if (path.empty()) return;
  m_state.Select(std::string(path.utf8_str()));
  m_status->SetLabel(FromUtf8(m_state.StatusText()));
  m_path->ChangeValue(path);
}

void CFolderChooserDlg::OnPathTyped() {
  m_state.Select(std::string(m_path->GetValue().utf8_str()));
  m_status->SetLabel(FromUtf8(m_state.StatusText()));
}

std::string CFolderChooserDlg::ChosenPath() const { return std::string(m_path->GetValue().utf8_str()); }

void CFolderChooserDlg::SelectPath(const std::string& path) {
  m_tree->SetPath(FromUtf8(path));
  OnSelectionChanged();
}

wxString CFolderChooserDlg::StatusText() const { return m_status->GetLabel(); }

wxString CFolderChooserDlg::TreePath() const { return m_tree->GetPath(); }

void InstallFolderChooser(wxWindow* parent) {
  wxWeakRef<wxWindow> owner(parent);
  orb::SetFolderChooser([owner](orb::FolderBrowseState& state) -> std::optional<std::string> {
    CFolderChooserDlg dlg(owner.get(), state);
    if (dlg.ShowModal() != wxID_OK) return std::nullopt;
    return dlg.ChosenPath();
  });
}

void RemoveFolderChooser() { orb::SetFolderChooser({}); }

}  // namespace orb::gui
