#include "app/gui/PresetDlg.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/msgdlg.h>
#include <wx/notebook.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/gui/MainFrame.h"
#include "app/gui/ViewPresetPage.h"
#include "app/gui/ViewPropSheet.h"
#include "common/AppGlobals.h"
#include "common/LanguageModule.h"
#include "common/gui/Resources.h"
#include "common/gui/WndWithToolTip.h"
#include "engine/Settings.h"
#include "scanning/gui/ScanPropSheet.h"
#include "scanning/gui/ScanToolsPropPage.h"

namespace res = orb::res;
using orb::presets::PresetStore;

namespace {

wxString Text(int id) { return wxString::FromUTF8(orb::LoadString(id)); }
std::string Utf8(const wxString& s) { return std::string(s.utf8_str()); }

}  // namespace

CPresetDlg::CPresetDlg(wxWindow* parent, Saver saver) : m_saver(std::move(saver)) {
  if (!orb::gui::LoadDialogTemplate(this, parent, kTemplateId) || !FindControls()) BuildWithoutTemplate(parent);
  FillFromCurrentPreset();
  orb::gui::ApplyToolTips(this, MiscSettings.TooltipMode);
  if (GetSizer()) GetSizer()->SetSizeHints(this);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); }, wxID_OK);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { BrowsePresets(); }, kBrowseId);
  // A description that cannot be read is reported once the dialog is up.
  Bind(wxEVT_INIT_DIALOG, [this](wxInitDialogEvent& e) {
    e.Skip();
    if (m_headerMissing)
      CallAfter([this] { ShowMessage(res::IDS_PRESET_NO_HEADER, m_name->GetValue()); });
  });
  m_name->SetFocus();
}

bool CPresetDlg::FindControls() {
  for (int i = 0; i < static_cast<int>(m_fields.size()); ++i)
    m_fields[static_cast<size_t>(i)] = dynamic_cast<wxTextCtrl*>(FindWindow(kFirstFieldId + i));
  m_name = dynamic_cast<wxTextCtrl*>(FindWindow(kNameId));
  bool all = m_name && FindWindow(kBrowseId) && FindWindow(wxID_OK);
  for (auto* f : m_fields) all = all && f;
  return all;
}

void CPresetDlg::BuildWithoutTemplate(wxWindow* parent) {
  // A module without the template (or with one that lacks a control): the controls, built here.
  if (!GetHandle()) Create(parent, wxID_ANY, wxTheApp ? wxTheApp->GetAppDisplayName() : wxString());
  DestroyChildren();
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  m_name = new wxTextCtrl(this, kNameId, "", wxDefaultPosition, wxSize(220, -1));
  row->Add(m_name, 1, wxEXPAND);
  row->Add(new wxButton(this, kBrowseId, "...", wxDefaultPosition, wxSize(32, -1)), 0, wxLEFT, 4);
  sizer->Add(row, 0, wxEXPAND | wxALL, 6);
  for (int i = 0; i < static_cast<int>(m_fields.size()); ++i) {
    m_fields[static_cast<size_t>(i)] = new wxTextCtrl(this, kFirstFieldId + i, "");
    sizer->Add(m_fields[static_cast<size_t>(i)], 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 6);
  }
  sizer->Add(CreateButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxALL, 6);
  SetSizer(sizer);
}

void CPresetDlg::FillFromCurrentPreset() {
  const std::string current = orb::TextField(MiscSettings.PresetName);
  PresetStore store = PresetStore::Current();
  if (orb::presets::IsFactoryPreset(current)) store.EnsureFactoryPreset(orb::LoadString(res::IDS_PRESET_FACTORY_TEXT));
  if (auto fields = store.ReadHeader(current)) {
    for (size_t i = 0; i < m_fields.size(); ++i) m_fields[i]->ChangeValue(wxString::FromUTF8((*fields)[i]));
  } else {
    m_headerMissing = true;
  }
  m_name->ChangeValue(wxString::FromUTF8(current));
}

void CPresetDlg::ShowMessage(int id, const wxString& arg) {
  wxString text = Text(id);
  if (!arg.empty()) text = wxString::Format(text, arg);
  wxMessageBox(text, wxString::FromUTF8(g_szAppTitle), wxOK | wxICON_EXCLAMATION, this);
}

void CPresetDlg::OnOK() {
  if (SaveFromControls()) EndModal(wxID_OK);
}

bool CPresetDlg::SaveFromControls() {
  const std::string name = orb::presets::TrimLeft(Utf8(m_name->GetValue()));
  if (name.empty()) return false;  // nothing typed: the dialog stays as it is
  auto refuse = [this](int id, const wxString& arg = wxString()) {
    ShowMessage(id, arg);
    m_name->SetFocus();
    return false;
  };
  switch (orb::presets::CheckName(name)) {
    case orb::presets::NameProblem::None: break;
    case orb::presets::NameProblem::TooLong: return refuse(res::IDS_PRESET_NAME_LONG);
    case orb::presets::NameProblem::Empty:
    case orb::presets::NameProblem::BadCharacter: return refuse(res::IDS_PRESET_NAME_BAD);
  }
  if (orb::presets::IsFactoryPreset(name)) return refuse(res::IDS_PRESET_FACTORY_REPLACE);
  PresetStore store = PresetStore::Current();
  if (!store.HasFamily()) return refuse(res::IDS_PRESET_NO_FAMILY);
  if (store.Exists(name) &&
      wxMessageBox(Text(res::IDS_PRESET_EXISTS), wxString::FromUTF8(g_szAppTitle), wxYES_NO | wxICON_EXCLAMATION,
                   this) != wxYES) {
    m_name->SetFocus();
    return false;
  }
  orb::presets::HeaderFields fields;
  for (size_t i = 0; i < m_fields.size(); ++i) fields[i] = Utf8(m_fields[i]->GetValue());
  std::string error;
  const bool saved = m_saver ? m_saver(name, fields, &error) : store.WriteHeader(name, fields, &error);
  if (!saved) return refuse(res::IDS_PRESET_NOT_SAVED, wxString::FromUTF8(error));
  orb::SetTextField(MiscSettings.PresetName, name);  // fits: CheckName bounds the length
  return true;
}

void CPresetDlg::BrowsePresets() {
  PresetStore store = PresetStore::Current();
  wxFileDialog dlg(this, Text(res::IDS_PRESET_BROWSE_TITLE), wxString::FromUTF8(store.Folder()), m_name->GetValue(),
                   "Presets(*.pst)|*.pst", wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
  if (dlg.ShowModal() != wxID_OK) return;  // the typed name stays
  m_name->ChangeValue(wxFileName(dlg.GetPath()).GetName());
}

namespace orb::gui {

namespace {

// The scan settings sheet's active page shows the settings again.
void RefreshScanSheet(CMainFrame* frame) {
  if (auto* page = CScanToolsPropPage::Current()) page->OnSetActive();
  CScanPropSheet* sheet = frame ? frame->ScanSheet() : nullptr;
  if (!sheet || !sheet->GetTabControl()) return;
  wxNotebook* tabs = sheet->GetTabControl();
  const int index = tabs->GetSelection();
  if (index <= 0) return;  // the scan output page was refreshed above
  wxBookCtrlEvent e(wxEVT_NOTEBOOK_PAGE_CHANGED, tabs->GetId(), index, index);
  e.SetEventObject(tabs);
  tabs->GetEventHandler()->ProcessEvent(e);
}

}  // namespace

void SavePresetCommand(CMainFrame* frame) {
  CPresetDlg dlg(frame, [](const std::string& name, const presets::HeaderFields& fields, std::string* error) {
    return PresetStore::Current().Save(name, fields, error);
  });
  if (dlg.ShowModal() != wxID_OK) return;
  if (frame && frame->ViewSheet()) {
    if (auto* page = dynamic_cast<CViewPresetPropPage*>(frame->ViewSheet()->GetPage(kPagePresets))) page->OnSetActive();
  }
  LoadCurrentPreset(frame);
}

void LoadCurrentPreset(CMainFrame* frame) {
  const std::string name = TextField(MiscSettings.PresetName);
  PresetStore store = PresetStore::Current();
  if (presets::IsFactoryPreset(name)) store.EnsureFactoryPreset(LoadString(res::IDS_PRESET_FACTORY_TEXT));
  const PresetStore::LoadResult r = store.Load(name);
  const wxString title = wxString::FromUTF8(g_szAppTitle);
  if (r.colourWarning) wxMessageBox(Text(res::IDS_PRESET_COLOUR_ON_GREY), title, wxOK | wxICON_EXCLAMATION, frame);
  if (r.scanDamaged)
    wxMessageBox(wxString::Format(Text(res::IDS_PRESET_SCAN_DAMAGED), wxString::FromUTF8(name)), title,
                 wxOK | wxICON_EXCLAMATION, frame);
  if (!r.toolsUnreadable.empty()) {
    std::string tools;
    for (const auto& t : r.toolsUnreadable) tools += (tools.empty() ? "" : ", ") + t;
    wxMessageBox(wxString::Format(Text(res::IDS_PRESET_TOOLS_UNREAD), wxString::FromUTF8(name), wxString::FromUTF8(tools)),
                 title, wxOK | wxICON_EXCLAMATION, frame);
  }
  RefreshScanSheet(frame);
}

}  // namespace orb::gui
