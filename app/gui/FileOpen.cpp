#include "app/gui/FileOpen.h"

#include <wx/filedlg.h>
#include <wx/filename.h>

#include "engine/Settings.h"

namespace orb::gui {

const char* const kOpenImageFilter =
    "Image Files (All supported formats)|*.tif;*.tiff;*.jpg;*.jpeg;*.jp2;*.pdf;*.png|All Files (*.*)|*.*";

std::vector<wxDocument*> OpenImageFiles(wxDocManager* manager, const wxArrayString& paths) {
  std::vector<wxDocument*> docs;
  if (!manager) return docs;
  for (const wxString& path : paths) {
    if (path.empty()) continue;
    if (wxDocument* doc = manager->CreateDocument(path, wxDOC_SILENT)) docs.push_back(doc);
  }
  return docs;
}

void OnFileOpen(wxDocManager* manager, wxWindow* parent) {
  const wxFileName start(wxString::FromUTF8(orb::TextField(MiscSettings.OpenFolder)));
  const wxString folder = start.DirExists() ? start.GetFullPath() : start.GetPath();
  wxFileDialog dlg(parent, wxEmptyString, folder, wxEmptyString, kOpenImageFilter,
                   wxFD_OPEN | wxFD_FILE_MUST_EXIST | wxFD_MULTIPLE);
  if (dlg.ShowModal() != wxID_OK) return;
  wxArrayString paths;
  dlg.GetPaths(paths);
  // The next dialog starts where this one ended: the folder when several files were
  // chosen, else the file itself.
  const wxString remembered = paths.size() > 1 ? wxFileName(paths[0]).GetPath() : (paths.empty() ? wxString() : paths[0]);
  orb::SetTextField(MiscSettings.OpenFolder, std::string(remembered.utf8_str()));
  OpenImageFiles(manager, paths);
}

}  // namespace orb::gui

// ----- About box -----------------------------------------------------------------------------

#include <wx/checkbox.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "common/LanguageModule.h"

namespace {

// The program's version block.
constexpr const char* kProductName = "Orbalon";
constexpr const char* kProductVersion = "0, 1, 0, 0";
constexpr const char* kLegalCopyright = "Copyright (C) 2026 the Orbalon developers";
constexpr int kStrAboutLine = 33092;
const wxColour kCream(250, 241, 208);

wxStaticText* ScaledText(wxWindow* parent, int id, const wxString& text, double scale) {
  auto* t = new wxStaticText(parent, id, text);
  wxFont f = t->GetFont();
  f.SetFractionalPointSize(f.GetFractionalPointSize() * scale);
  t->SetFont(f);
  t->SetBackgroundColour(kCream);
  t->SetForegroundColour(*wxBLACK);
  return t;
}

}  // namespace

CAboutDlg::CAboutDlg(wxWindow* parent) : wxDialog(parent, wxID_ANY, wxString("About ") + kProductName) {
  SetBackgroundColour(kCream);
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(ScaledText(this, kTitleId, TitleLine(kProductName, kProductVersion), 2.0), 0, wxALL, 10);
  sizer->Add(ScaledText(this, kLineId, wxString::FromUTF8(orb::LoadString(kStrAboutLine)), 2.0), 0,
             wxLEFT | wxRIGHT, 10);
  sizer->Add(ScaledText(this, kCopyrightId, kLegalCopyright, 1.5), 0, wxALL, 10);
  m_showAtStart = new wxCheckBox(this, kShowAtStartId, "Show this box at start");
  m_showAtStart->SetValue(MiscSettings.ShowAboutBox != 0);
  sizer->Add(m_showAtStart, 0, wxLEFT | wxRIGHT, 10);
  sizer->Add(CreateButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxALL, 10);
  SetSizerAndFit(sizer);
}

wxString CAboutDlg::TitleLine(const wxString& product, const wxString& version) {
  wxString text = wxString::Format("%s v%s", product, version);
  text.Replace(",", ".");
  return text;
}

void CAboutDlg::StoreChoice() { MiscSettings.ShowAboutBox = m_showAtStart->GetValue() ? 1 : 0; }

namespace orb::gui {

void ShowAboutBox(wxWindow* parent) {
  CAboutDlg dlg(parent);
  if (dlg.ShowModal() == wxID_OK) dlg.StoreChoice();
}

}  // namespace orb::gui
