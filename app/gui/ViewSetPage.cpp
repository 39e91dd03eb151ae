#include "app/gui/ViewSetPage.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/docview.h>
#include <wx/msgdlg.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "app/ViewGeometry.h"
#include "app/gui/OrbalonDoc.h"
#include "common/AppGlobals.h"
#include "common/LanguageModule.h"
#include "common/gui/Resources.h"
#include "common/gui/WndWithToolTip.h"
#include "engine/AppStatus.h"
#include "engine/Settings.h"
#include "engine/SharedRoutines.h"
#include "scanning/gui/ScanToolsPropPage.h"

namespace res = orb::res;
using namespace orb::general;

namespace {

wxString Text(int id) { return wxString::FromUTF8(orb::LoadString(id)); }
constexpr int kRadioIds[] = {kTooltipNone, kTooltipFirstLine, kTooltipWhole, kUnitInch, kUnitCm};

COrbalonDoc* ActiveDocument() {
  wxDocManager* docs = wxDocManager::GetDocumentManager();
  return docs ? dynamic_cast<COrbalonDoc*>(docs->GetCurrentDocument()) : nullptr;
}

}  // namespace

CViewSetPropPage::CViewSetPropPage(wxWindow* parent) {
  if (!orb::gui::LoadPanelTemplate(this, parent, kTemplateId)) Create(parent, wxID_ANY);
  if (!FindControls()) BuildWithoutTemplate();
  BindControls();
  OnInitDialog();
}

wxRadioButton* CViewSetPropPage::Radio(int id) const { return dynamic_cast<wxRadioButton*>(FindWindow(id)); }

bool CViewSetPropPage::FindControls() {
  m_folder = dynamic_cast<wxTextCtrl*>(FindWindow(kWorkFolder));
  m_language = dynamic_cast<wxChoice*>(FindWindow(kLanguage));
  m_display = dynamic_cast<wxCheckBox*>(FindWindow(kDisplayOption));
  m_scanLog = dynamic_cast<wxCheckBox*>(FindWindow(kScanLog));
  bool all = m_folder && m_language && m_display && m_scanLog && FindWindow(kBrowse);
  for (int id : kRadioIds) all = all && Radio(id);
  return all;
}

void CViewSetPropPage::BuildWithoutTemplate() {
  // A module without the template (or with one that lacks a control): the controls, built here.
  DestroyChildren();
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(new wxRadioButton(this, kTooltipNone, "None", wxDefaultPosition, wxDefaultSize, wxRB_GROUP), 0, wxALL, 2);
  sizer->Add(new wxRadioButton(this, kTooltipFirstLine, "Short"), 0, wxALL, 2);
  sizer->Add(new wxRadioButton(this, kTooltipWhole, "Full text"), 0, wxALL, 2);
  sizer->Add(new wxRadioButton(this, kUnitInch, "in", wxDefaultPosition, wxDefaultSize, wxRB_GROUP), 0, wxALL, 2);
  sizer->Add(new wxRadioButton(this, kUnitCm, "cm"), 0, wxALL, 2);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  m_folder = new wxTextCtrl(this, kWorkFolder, "", wxDefaultPosition, wxDefaultSize, wxTE_PROCESS_ENTER);
  row->Add(m_folder, 1, wxEXPAND);
  row->Add(new wxButton(this, kBrowse, "...", wxDefaultPosition, wxSize(32, -1)), 0, wxLEFT, 4);
  sizer->Add(row, 0, wxEXPAND | wxALL, 4);
  m_language = new wxChoice(this, kLanguage);
  sizer->Add(m_language, 0, wxEXPAND | wxALL, 4);
  m_display = new wxCheckBox(this, kDisplayOption, "Grey levels");
  sizer->Add(m_display, 0, wxALL, 4);
  m_scanLog = new wxCheckBox(this, kScanLog, "Scan log");
  sizer->Add(m_scanLog, 0, wxALL, 4);
  SetSizer(sizer);
}

void CViewSetPropPage::BindControls() {
  for (int id : {kTooltipNone, kTooltipFirstLine, kTooltipWhole})
    Radio(id)->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnTooltipMode(); });
  for (int id : {kUnitInch, kUnitCm}) Radio(id)->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnLengthUnit(); });
  m_display->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnDisplayOption(); });
  m_scanLog->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnScanLog(); });
  m_language->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { OnLanguageCloseUp(); });
  FindWindow(kBrowse)->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnBrowseFolder(); });
  m_folder->Bind(wxEVT_SET_FOCUS, [this](wxFocusEvent& e) {
    if (!m_applying) ShowWorkFolder();
    e.Skip();
  });
  m_folder->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& e) {
    e.Skip();
    // Checked once the focus has settled: a message box must not open inside the change.
    CallAfter([this] { ApplyWorkFolder(); });
  });
  m_folder->Bind(wxEVT_TEXT_ENTER, [this](wxCommandEvent&) { ApplyWorkFolder(); });
}

void CViewSetPropPage::ApplyTips() {
  // The radio buttons sit in static boxes, which are their parents.
  orb::gui::ApplyToolTips(this, MiscSettings.TooltipMode);
  for (wxWindow* child : GetChildren())
    if (dynamic_cast<wxStaticBox*>(child)) orb::gui::ApplyToolTips(child, MiscSettings.TooltipMode);
}

bool CViewSetPropPage::OnInitDialog() {
  const int tip = TooltipRadioFor(MiscSettings.TooltipMode);
  for (int id : {kTooltipNone, kTooltipFirstLine, kTooltipWhole}) Radio(id)->SetValue(id == tip);
  const int unit = UnitRadioFor(MiscSettings.LengthUnit);
  for (int id : {kUnitInch, kUnitCm}) Radio(id)->SetValue(id == unit);
  m_display->SetValue((MiscSettings.DisplayOption & 0xFF) != 0);
  m_scanLog->SetValue(MiscSettings.ScanLogEnabled != 0);
  ShowWorkFolder();
  ApplyTips();
  return true;
}

bool CViewSetPropPage::OnSetActive() {
  m_language->Clear();
  m_languages = ListLanguages(ProgramFolder());
  for (const auto& l : m_languages) m_language->Append(wxString::FromUTF8(l.name));
  const int sel = LanguageIndex(m_languages, MiscSettings.LanguageId);
  if (sel >= 0) m_language->SetSelection(sel);
  return true;
}

void CViewSetPropPage::OnTooltipMode() {
  auto mode = TooltipModeFor(Radio(kTooltipNone)->GetValue(), Radio(kTooltipFirstLine)->GetValue(),
                             Radio(kTooltipWhole)->GetValue());
  if (!mode) return;
  MiscSettings.TooltipMode = *mode;
  ApplyTips();
}

void CViewSetPropPage::RefreshScanOutputPage() {
  if (auto* page = CScanToolsPropPage::Current()) page->OnSetActive();
}

void CViewSetPropPage::OnLengthUnit() {
  auto unit = UnitFor(Radio(kUnitInch)->GetValue(), Radio(kUnitCm)->GetValue());
  if (!unit) return;
  MiscSettings.LengthUnit = *unit;
  RefreshScanOutputPage();
  if (COrbalonDoc* doc = ActiveDocument()) doc->UpdateTitle();
}

void CViewSetPropPage::OnDisplayOption() {
  if (!DisplayOptionMayChange(AppStatus.load())) {
    m_display->SetValue((MiscSettings.DisplayOption & 0xFF) != 0);
    return;
  }
  MiscSettings.DisplayOption = m_display->GetValue() ? 1 : 0;
  if (COrbalonDoc* doc = ActiveDocument()) {
    if (COrbalonView* view = doc->View()) view->UpdateView(orb::kHintRedraw);
  }
}

void CViewSetPropPage::OnScanLog() {
  MiscSettings.ScanLogEnabled = m_scanLog->GetValue() ? 1 : 0;
  RefreshScanOutputPage();
}

void CViewSetPropPage::ShowWorkFolder() {
  m_folder->ChangeValue(wxString::FromUTF8(orb::TextField(MiscSettings.WorkingFolder)));
  m_folder->SetInsertionPointEnd();
  m_folder->ShowPosition(m_folder->GetLastPosition());
}

void CViewSetPropPage::ApplyWorkFolder() {
  if (m_applying) return;
  const std::string path(m_folder->GetValue().utf8_str());
  if (path == orb::TextField(MiscSettings.WorkingFolder)) return;
  m_applying = true;
  const wxString title = wxString::FromUTF8(g_szAppTitle);
  bool take = false;
  switch (CheckWorkFolder(path)) {
    case FolderCheck::Accept: take = true; break;
    case FolderCheck::Empty: break;
    case FolderCheck::TooLong: wxMessageBox(Text(res::IDS_FOLDER_TOO_LONG), title, wxOK | wxICON_WARNING, this); break;
    case FolderCheck::NotPlain:
      wxMessageBox(wxString::Format(Text(res::IDS_FOLDER_NOT_PLAIN), wxString::FromUTF8(path)), title,
                   wxOK | wxICON_WARNING, this);
      break;
    case FolderCheck::AskCreate:
      if (wxMessageBox(Text(res::IDS_FOLDER_CREATE_ASK), title, wxYES_NO | wxICON_WARNING, this) != wxYES) break;
      take = CreateWorkFolder(path);
      if (!take) wxMessageBox(Text(res::IDS_FOLDER_NOT_CREATED), title, wxOK | wxICON_WARNING, this);
      break;
  }
  if (take) orb::SetTextField(MiscSettings.WorkingFolder, path);
  ShowWorkFolder();
  m_applying = false;
}

void CViewSetPropPage::OnBrowseFolder() {
  std::string path(m_folder->GetValue().utf8_str());
  if (path.size() >= orb::kPathField) path.resize(orb::kPathField - 1);
  if (BrowseForFolder(path) != orb::kFolderChosen) return;
  m_folder->ChangeValue(wxString::FromUTF8(path));
  ApplyWorkFolder();
}

void CViewSetPropPage::OnLanguageCloseUp() {
  const int sel = m_language->GetSelection();
  if (sel < 0 || sel >= static_cast<int>(m_languages.size())) return;
  const int id = m_languages[static_cast<size_t>(sel)].id;
  if (id == MiscSettings.LanguageId) return;
  MiscSettings.LanguageId = static_cast<uint16_t>(id);  // the sub-language stays
  wxMessageBox(Text(res::IDS_LANGUAGE_NEXT_START), wxString::FromUTF8(g_szAppTitle), wxOK, this);
}
