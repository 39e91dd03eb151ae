#include "tools/gui/OutsideToolPages.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "common/gui/Resources.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "tools/ToolDocumentHost.h"
#include "tools/ToolTable.h"
#include "tools/outside/OutsideTools.h"

namespace {

using namespace orb::tools;

constexpr int kIdcBrowseProgram = 1019;
constexpr int kIdcBrowseProject = 1322;
constexpr int kIdcProgramEdit = 1291;
constexpr int kIdcProjectEdit = 1292;
constexpr int kStrProgram = 36441;
constexpr int kStrProject = 36442;
constexpr int kStrBrowse = 36443;
constexpr int kStrRun = 36444;
constexpr int kStrProgramFilter = 36445;
constexpr int kStrProjectFilter = 36446;

std::string Utf8(const wxString& s) { return std::string(s.utf8_str()); }

// The narrowest the path edit gets. The tab is narrower than a long path anyway: the edit
// takes what the Browse button leaves of the page's width and shows the path's end, so the
// row asks for no more than the narrowest tab gives and the button is never cut off.
constexpr int kPathEditMinWidth = 60;

// An edit with its caption and browse button; the text is checked when it loses the focus.
wxTextCtrl* AddPathRow(wxWindow* page, wxSizer* sizer, int captionId, int editId, int browseId, int filterId,
                       orb::PathField* field) {
  sizer->Add(new wxStaticText(page, wxID_ANY, orb::gui::Str(captionId)), 0, wxLEFT | wxTOP, 4);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  auto* edit = new wxTextCtrl(page, editId, "", wxDefaultPosition, wxSize(kPathEditMinWidth, -1));
  auto* browse = new wxButton(page, browseId, orb::gui::Str(kStrBrowse));
  row->Add(edit, 1, wxEXPAND);
  row->Add(browse, 0, wxLEFT, 4);
  sizer->Add(row, 0, wxEXPAND | wxALL, 4);
  auto show = [edit, field] {
    edit->ChangeValue(wxString::FromUTF8(orb::GetPathField(*field)));
    edit->SetInsertionPointEnd();
  };
  browse->Bind(wxEVT_BUTTON, [page, edit, field, filterId, show](wxCommandEvent&) {
    wxFileDialog dlg(page, orb::gui::Str(filterId), "", edit->GetValue(), orb::gui::Str(filterId),
                     wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    if (dlg.ShowModal() == wxID_OK) orb::SetPathField(*field, Utf8(dlg.GetPath()));
    show();
  });
  edit->Bind(wxEVT_KILL_FOCUS, [page, edit, field, show](wxFocusEvent& e) {
    e.Skip();
    const std::string typed = Utf8(edit->GetValue());
    if (typed == orb::GetPathField(*field)) return;
    if (typed.empty()) {
      orb::SetPathField(*field, "");
      return;
    }
    const TypedPath r = CheckTypedPath(typed, ScanSettings.OutputFileName);
    if (r.result != TypedPath::Ok) {
      wxMessageBox(orb::gui::Str(r.result == TypedPath::FolderMissing ? kMsgProgramFolderMissing
                                                                        : kMsgProgramNameIsFolder),
                   wxTheApp->GetAppDisplayName(), wxOK | wxICON_EXCLAMATION, page);
      edit->CallAfter([edit] { edit->SetFocus(); });
      return;
    }
    orb::SetPathField(*field, r.path);
    show();
  });
  return edit;
}

std::string ActiveImagePath() {
  ImageState* image = ActiveToolImage();
  return image ? image->sourcePath : std::string();
}

}  // namespace

CEditorTools::CEditorTools() : CToolPage(kToolEditor) {}

uint8_t* CEditorTools::EnabledByte() { return &EditorSettings.enabled; }

void CEditorTools::BuildControls(wxSizer* sizer) {
  AddToggle(sizer);
  m_program = AddPathRow(this, sizer, kStrProgram, kIdcProgramEdit, kIdcBrowseProgram, kStrProgramFilter,
                         &EditorSettings.AppName);
  auto* run = new wxButton(this, wxID_OK, orb::gui::Str(kStrRun));
  run->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); });
  sizer->Add(run, 0, wxALL, 4);
}

void CEditorTools::UpdateControls() {
  SetToggle(EditorSettings.enabled != 0);
  if (m_program) m_program->ChangeValue(wxString::FromUTF8(orb::GetPathField(EditorSettings.AppName)));
  OnEnable();
}

bool CEditorTools::TakeTypedProgram() {
  const TypedPath r = CheckTypedPath(Utf8(m_program->GetValue()), ScanSettings.OutputFileName);
  if (r.result != TypedPath::Ok) return false;
  orb::SetPathField(EditorSettings.AppName, r.path);
  return true;
}

int CEditorTools::Apply() {
  bool ran = false;
  const int r = RunEditor(EditorSettings, ActiveImagePath(), {}, &ran);
  // The editor may have changed the file: the view shows it again.
  if (ran) {
    if (ToolDocumentHost* host = GetToolDocumentHost(); host && host->ActiveImage()) {
      host->FileChanged();
      host->ImageChanged();
    }
  }
  return r;
}

void CEditorTools::OnOK() { Apply(); }

CIndexTools::CIndexTools() : CToolPage(kToolIndex) {}

uint8_t* CIndexTools::EnabledByte() { return &IndexSettings.enabled; }

void CIndexTools::BuildControls(wxSizer* sizer) {
  AddToggle(sizer);
  m_program = AddPathRow(this, sizer, kStrProgram, kIdcProgramEdit, kIdcBrowseProgram, kStrProgramFilter,
                         &IndexSettings.AppName);
  m_project = AddPathRow(this, sizer, kStrProject, kIdcProjectEdit, kIdcBrowseProject, kStrProjectFilter,
                         &IndexSettings.ProjName);
  auto* run = new wxButton(this, wxID_OK, orb::gui::Str(kStrRun));
  run->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); });
  sizer->Add(run, 0, wxALL, 4);
}

void CIndexTools::UpdateControls() {
  SetToggle(IndexSettings.enabled != 0);
  if (m_program) m_program->ChangeValue(wxString::FromUTF8(orb::GetPathField(IndexSettings.AppName)));
  if (m_project) m_project->ChangeValue(wxString::FromUTF8(orb::GetPathField(IndexSettings.ProjName)));
  OnEnable();
}

int CIndexTools::Apply() { return RunIndexer(IndexSettings, ActiveImagePath()); }

void CIndexTools::OnOK() { Apply(); }
