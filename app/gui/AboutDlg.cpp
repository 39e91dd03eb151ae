#include "app/gui/AboutDlg.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/xrc/xmlres.h>

#include "common/gui/Resources.h"
#include "engine/Settings.h"

namespace {

// The program's version block.
constexpr const char* kProductName = "Orbalon";
constexpr const char* kProductVersion = "0, 1, 0, 0";
constexpr const char* kLegalCopyright = "Copyright (C) 2026 the Orbalon developers";
const wxColour kCream(250, 241, 208);

}  // namespace

CAboutDlg::CAboutDlg(wxWindow* parent) {
  m_fromModule = LoadTemplate(parent);
  if (!m_fromModule) BuildWithoutTemplate(parent);
  SetBackgroundColour(kCream);
  SetScaledText(kTitleId, TitleLine(kProductName, kProductVersion), 2.0);
  SetScaledText(kLineId, orb::gui::Str(kLineString), 2.0);
  SetScaledText(kCopyrightId, kLegalCopyright, 1.5);
  m_showAtStart = dynamic_cast<wxCheckBox*>(FindWindow(kShowAtStartId));
  if (m_showAtStart) m_showAtStart->SetValue(MiscSettings.ShowAboutBox != 0);
  if (GetSizer()) GetSizer()->SetSizeHints(this);
  CentreOnParent();
}

bool CAboutDlg::LoadTemplate(wxWindow* parent) { return orb::gui::LoadDialogTemplate(this, parent, kTemplateId); }

void CAboutDlg::BuildWithoutTemplate(wxWindow* parent) {
  Create(parent, wxID_ANY, wxString(kProductName));
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  for (int id : {kTitleId, kLineId, kCopyrightId}) sizer->Add(new wxStaticText(this, id, wxString()), 0, wxALL, 10);
  sizer->Add(new wxCheckBox(this, kShowAtStartId, wxString()), 0, wxLEFT | wxRIGHT, 10);
  sizer->Add(CreateButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxALL, 10);
  SetSizer(sizer);
}

void CAboutDlg::SetScaledText(int id, const wxString& text, double scale) {
  auto* t = dynamic_cast<wxStaticText*>(FindWindow(id));
  if (!t) return;
  wxFont f = t->GetFont();
  // Whole points, as a font made from a height would have.
  f.SetPointSize(static_cast<int>(f.GetPointSize() * scale));
  t->SetFont(f);
  t->SetLabel(text);
  t->SetBackgroundColour(kCream);
  t->SetForegroundColour(*wxBLACK);
}

wxString CAboutDlg::TitleLine(const wxString& product, const wxString& version) {
  wxString text = wxString::Format("%s v%s", product, version);
  text.Replace(",", ".");
  return text;
}

void CAboutDlg::StoreChoice() {
  if (m_showAtStart) MiscSettings.ShowAboutBox = m_showAtStart->GetValue() ? 1 : 0;
}

namespace orb::gui {

void ShowAboutBox(wxWindow* parent) {
  CAboutDlg dlg(parent);
  if (dlg.ShowModal() == wxID_OK) dlg.StoreChoice();
}

}  // namespace orb::gui
