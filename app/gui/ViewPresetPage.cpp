#include "app/gui/ViewPresetPage.h"

#include <wx/listbox.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

#include "app/Presets.h"
#include "common/AppGlobals.h"
#include "common/LanguageModule.h"
#include "common/Messages.h"
#include "common/gui/Resources.h"
#include "common/gui/WndWithToolTip.h"
#include "engine/Settings.h"

namespace res = orb::res;
using orb::presets::PresetStore;

namespace {
wxString Text(int id) { return wxString::FromUTF8(orb::LoadString(id)); }
}  // namespace

CViewPresetPropPage::CViewPresetPropPage(wxWindow* parent) {
  if (orb::gui::LoadPanelTemplate(this, parent, kTemplateId)) {
    m_list = dynamic_cast<wxListBox*>(FindWindow(kListId));
    for (size_t i = 0; i < kFieldIds.size(); ++i) m_texts[i] = dynamic_cast<wxStaticText*>(FindWindow(kFieldIds[i]));
  } else {
    Create(parent, wxID_ANY);
  }
  bool all = m_list != nullptr;
  for (auto* t : m_texts) all = all && t;
  if (!all) BuildWithoutTemplate();
  orb::gui::ApplyToolTips(this, MiscSettings.TooltipMode);
  m_list->Bind(wxEVT_LISTBOX, [this](wxCommandEvent&) { OnPresetSelect(); });
  m_list->Bind(wxEVT_KEY_DOWN, &CViewPresetPropPage::OnListKey, this);
}

void CViewPresetPropPage::BuildWithoutTemplate() {
  // A module without the template (or with one that lacks a control): the controls, built here.
  DestroyChildren();
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  m_list = new wxListBox(this, kListId, wxDefaultPosition, wxSize(-1, 140));
  sizer->Add(m_list, 1, wxEXPAND | wxALL, 6);
  for (size_t i = 0; i < kFieldIds.size(); ++i) {
    m_texts[i] = new wxStaticText(this, kFieldIds[i], "");
    sizer->Add(m_texts[i], 0, wxEXPAND | wxLEFT | wxRIGHT, 6);
  }
  SetSizer(sizer);
}

bool CViewPresetPropPage::OnSetActive() {
  PresetStore store = PresetStore::Current();
  store.EnsureFactoryPreset(orb::LoadString(res::IDS_PRESET_FACTORY_TEXT));
  const std::vector<std::string> names = store.List();
  m_list->Clear();
  for (const auto& n : names) m_list->Append(wxString::FromUTF8(n));
  const int index = orb::presets::SelectIndex(names, orb::TextField(MiscSettings.PresetName));
  if (index >= 0) m_list->SetSelection(index);
  ShowPresetDetails();
  return true;
}

void CViewPresetPropPage::ShowPresetDetails() {
  const int sel = m_list->GetSelection();
  if (sel == wxNOT_FOUND) return;
  const std::string name(m_list->GetString(static_cast<unsigned>(sel)).utf8_str());
  auto fields = PresetStore::Current().ReadHeader(name);
  if (!fields) {
    // The displays keep what they showed.
    wxMessageBox(wxString::Format(Text(res::IDS_PRESET_NO_HEADER), wxString::FromUTF8(name)),
                 wxString::FromUTF8(g_szAppTitle), wxOK | wxICON_EXCLAMATION, this);
    return;
  }
  for (size_t i = 0; i < m_texts.size(); ++i) m_texts[i]->SetLabelText(wxString::FromUTF8((*fields)[i]));
  Layout();
}

void CViewPresetPropPage::OnPresetSelect() {
  const int sel = m_list->GetSelection();
  if (sel == wxNOT_FOUND) return;
  const std::string name(m_list->GetString(static_cast<unsigned>(sel)).utf8_str());
  if (!orb::SetTextField(MiscSettings.PresetName, name)) return;  // listed names always fit
  ShowPresetDetails();
  // Loads every setting of the preset before it returns.
  orb::SendAppMessage(g_hMainFrame.load(), WM_LOAD_PRESET);
  m_list->SetFocus();
}

void CViewPresetPropPage::OnDeleteKey(int index) {
  if (index < 0 || index >= static_cast<int>(m_list->GetCount())) return;
  const std::string name(m_list->GetString(static_cast<unsigned>(index)).utf8_str());
  const wxString title = wxString::FromUTF8(g_szAppTitle);
  if (orb::presets::IsFactoryPreset(name)) {
    wxMessageBox(Text(res::IDS_PRESET_FACTORY_DELETE), title, wxOK, this);
  } else if (wxMessageBox(Text(res::IDS_PRESET_DELETE_ASK), title, wxOK | wxCANCEL | wxICON_QUESTION, this) == wxOK) {
    std::string error;
    if (PresetStore::Current().Delete(name, &error) == PresetStore::DeleteResult::Failed)
      wxMessageBox(wxString::FromUTF8(error), title, wxOK | wxICON_EXCLAMATION, this);
  }
  OnSetActive();
}

void CViewPresetPropPage::OnListKey(wxKeyEvent& e) {
  // The list does nothing of its own with keys (an arrow key would load the next preset);
  // Delete removes the entry with the caret, Tab still moves the focus.
  const int key = e.GetKeyCode();
  if (key == WXK_DELETE || key == WXK_NUMPAD_DELETE) OnDeleteKey(m_list->GetSelection());
  else if (key == WXK_TAB) e.Skip();
}
