#include "app/gui/OutputOptionDlgs.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <filesystem>

#include <unistd.h>

#include "common/LanguageModule.h"
#include "common/ResourceIds.h"
#include "common/gui/Resources.h"
#include "app/SaveFormats.h"
#include "engine/Settings.h"
#include "platform/Files.h"

namespace {

constexpr int kMsgProfileFolderBad = 33006;
constexpr int kMsgProfileIsFolder = 33007;
constexpr int kStrProfileTitle = orb::res::IDS_PROFILE_TITLE;

wxString Text(int id) { return wxString::FromUTF8(orb::LoadString(id)); }

}  // namespace

// ----- quality -----------------------------------------------------------------------------

CJpegQuality::CJpegQuality(int kind, wxWindow* parent) : m_kind(kind) {
  if (!orb::gui::LoadDialogTemplate(this, parent, kTemplateId) || !FindControls()) BuildWithoutTemplate(parent);
  const int max = orb::QualityMaximum(kind);
  m_slider->SetRange(1, max);
  m_slider->SetValue(orb::StoredQuality(kind));
  m_low->SetLabel("1");
  m_high->SetLabel(wxString::Format("%d", max));
  ShowNumber();
  m_lossless->Show(kind == orb::kQualityJpeg2000);
  if (kind == orb::kQualityJpeg2000) {
    m_lossless->SetValue(MiscSettings.LosslessJpeg2000 != 0);
    EnableQuality(MiscSettings.LosslessJpeg2000 == 0);
  }
  m_slider->Bind(wxEVT_SLIDER, [this](wxCommandEvent& e) {
    ShowNumber();
    e.Skip();
  });
  m_lossless->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnLosslessClicked(); });
  if (GetSizer()) GetSizer()->SetSizeHints(this);
  Layout();
}

bool CJpegQuality::FindControls() {
  m_slider = dynamic_cast<wxSlider*>(FindWindow(kSliderId));
  m_number = dynamic_cast<wxTextCtrl*>(FindWindow(kNumberId));
  m_low = dynamic_cast<wxStaticText*>(FindWindow(kLowLabelId));
  m_high = dynamic_cast<wxStaticText*>(FindWindow(kHighLabelId));
  m_lossless = dynamic_cast<wxCheckBox*>(FindWindow(kLosslessId));
  return m_slider && m_number && m_low && m_high && m_lossless;
}

void CJpegQuality::BuildWithoutTemplate(wxWindow* parent) {
  // A module without the template (or with one that lacks a control): the controls the
  // dialog needs, built here.
  if (!GetHandle()) Create(parent, wxID_ANY, wxTheApp ? wxTheApp->GetAppDisplayName() : wxString());
  DestroyChildren();
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  m_low = new wxStaticText(this, kLowLabelId, "1");
  m_slider = new wxSlider(this, kSliderId, 1, 1, 100, wxDefaultPosition, wxSize(220, -1));
  m_high = new wxStaticText(this, kHighLabelId, "100");
  m_number = new wxTextCtrl(this, kNumberId, "", wxDefaultPosition, wxSize(60, -1), wxTE_READONLY);
  row->Add(m_low, 0, wxALIGN_CENTER_VERTICAL | wxALL, 4);
  row->Add(m_slider, 1, wxALIGN_CENTER_VERTICAL | wxALL, 4);
  row->Add(m_high, 0, wxALIGN_CENTER_VERTICAL | wxALL, 4);
  row->Add(m_number, 0, wxALIGN_CENTER_VERTICAL | wxALL, 4);
  sizer->Add(row, 0, wxEXPAND | wxALL, 6);
  m_lossless = new wxCheckBox(this, kLosslessId, "Lossless");
  sizer->Add(m_lossless, 0, wxALL, 6);
  sizer->Add(CreateButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxALL, 6);
  SetSizer(sizer);
}

int CJpegQuality::Quality() const { return m_slider->GetValue(); }

void CJpegQuality::SetQuality(int value) {
  m_slider->SetValue(value);
  ShowNumber();
}

void CJpegQuality::ShowNumber() { m_number->ChangeValue(wxString::Format("%d", m_slider->GetValue())); }

void CJpegQuality::EnableQuality(bool enable) {
  m_slider->Enable(enable);
  m_low->Enable(enable);
  m_high->Enable(enable);
  m_number->Enable(enable);
}

bool CJpegQuality::QualityControlsEnabled() const { return m_slider->IsEnabled(); }
bool CJpegQuality::LosslessShown() const { return m_lossless->IsShown(); }

void CJpegQuality::OnLosslessClicked() {
  // The flag changes at once and stays even when the dialog is cancelled.
  MiscSettings.LosslessJpeg2000 = MiscSettings.LosslessJpeg2000 ? 0 : 1;
  m_lossless->SetValue(MiscSettings.LosslessJpeg2000 != 0);
  EnableQuality(MiscSettings.LosslessJpeg2000 == 0);
}

void CJpegQuality::Store() {
  if (int32_t* field = orb::QualityField(m_kind)) *field = m_slider->GetValue();
}

// ----- TIFF options ------------------------------------------------------------------------

CTiffOpt::CTiffOpt(int kind, wxWindow* parent) : m_kind(kind) {
  if (!orb::gui::LoadDialogTemplate(this, parent, kTemplateId) || !FindControls()) BuildWithoutTemplate(parent);
  m_profile->ChangeValue(wxString::FromUTF8(orb::TextField(MiscSettings.IccProfile)));
  m_copyright->ChangeValue(wxString::FromUTF8(orb::TextField(MiscSettings.TiffCopyright)));
  m_artist->ChangeValue(wxString::FromUTF8(orb::TextField(MiscSettings.TiffArtist)));
  m_slider->SetRange(1, 100);
  m_slider->SetValue(orb::StoredQuality(orb::kQualityTiffJpeg));
  const bool quality = kind == orb::kQualityTiffJpeg;
  for (int id : {kQualityLabelId, CJpegQuality::kLowLabelId, kSliderId, CJpegQuality::kHighLabelId, kNumberId})
    FindWindow(id)->Show(quality);
  m_number->ChangeValue(wxString::Format("%d", m_slider->GetValue()));
  if (GetSizer()) GetSizer()->SetSizeHints(this);
  m_slider->Bind(wxEVT_SLIDER, [this](wxCommandEvent& e) {
    m_number->ChangeValue(wxString::Format("%d", m_slider->GetValue()));
    e.Skip();
  });
  FindWindow(kBrowseId)->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnBrowseProfile(); });
  m_profile->Bind(wxEVT_KILL_FOCUS, &CTiffOpt::OnProfileKillFocus, this);
}

bool CTiffOpt::FindControls() {
  m_slider = dynamic_cast<wxSlider*>(FindWindow(kSliderId));
  m_number = dynamic_cast<wxTextCtrl*>(FindWindow(kNumberId));
  m_profile = dynamic_cast<wxTextCtrl*>(FindWindow(kProfileId));
  m_copyright = dynamic_cast<wxTextCtrl*>(FindWindow(kCopyrightId));
  m_artist = dynamic_cast<wxTextCtrl*>(FindWindow(kArtistId));
  bool others = true;
  for (int id : {kQualityLabelId, CJpegQuality::kLowLabelId, CJpegQuality::kHighLabelId, kBrowseId})
    others = others && FindWindow(id);
  return m_slider && m_number && m_profile && m_copyright && m_artist && others;
}

void CTiffOpt::BuildWithoutTemplate(wxWindow* parent) {
  if (!GetHandle()) Create(parent, wxID_ANY, wxTheApp ? wxTheApp->GetAppDisplayName() : wxString());
  DestroyChildren();
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  auto* grid = new wxFlexGridSizer(2, wxSize(6, 6));
  grid->AddGrowableCol(1);
  grid->Add(new wxStaticText(this, kProfileLabelId, "ICC profile"), 0, wxALIGN_CENTER_VERTICAL);
  auto* profileRow = new wxBoxSizer(wxHORIZONTAL);
  m_profile = new wxTextCtrl(this, kProfileId, "", wxDefaultPosition, wxSize(260, -1));
  profileRow->Add(m_profile, 1, wxEXPAND);
  profileRow->Add(new wxButton(this, kBrowseId, "...", wxDefaultPosition, wxSize(32, -1)), 0, wxLEFT, 4);
  grid->Add(profileRow, 1, wxEXPAND);
  grid->Add(new wxStaticText(this, wxID_ANY, "Copyright"), 0, wxALIGN_CENTER_VERTICAL);
  m_copyright = new wxTextCtrl(this, kCopyrightId, "");
  grid->Add(m_copyright, 1, wxEXPAND);
  grid->Add(new wxStaticText(this, wxID_ANY, "Artist"), 0, wxALIGN_CENTER_VERTICAL);
  m_artist = new wxTextCtrl(this, kArtistId, "");
  grid->Add(m_artist, 1, wxEXPAND);
  grid->Add(new wxStaticText(this, kQualityLabelId, "JPEG quality"), 0, wxALIGN_CENTER_VERTICAL);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(new wxStaticText(this, CJpegQuality::kLowLabelId, "1"), 0, wxALIGN_CENTER_VERTICAL);
  m_slider = new wxSlider(this, kSliderId, 1, 1, 100);
  row->Add(m_slider, 1, wxEXPAND);
  row->Add(new wxStaticText(this, CJpegQuality::kHighLabelId, "100"), 0, wxALIGN_CENTER_VERTICAL);
  m_number = new wxTextCtrl(this, kNumberId, "", wxDefaultPosition, wxSize(60, -1), wxTE_READONLY);
  row->Add(m_number, 0, wxLEFT, 4);
  grid->Add(row, 1, wxEXPAND);
  sizer->Add(grid, 1, wxEXPAND | wxALL, 8);
  sizer->Add(CreateButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxALL, 6);
  SetSizer(sizer);
}

bool CTiffOpt::QualityShown() const { return m_slider->IsShown(); }

void CTiffOpt::SetTexts(const wxString& profile, const wxString& copyright, const wxString& artist) {
  m_profile->ChangeValue(profile);
  m_copyright->ChangeValue(copyright);
  m_artist->ChangeValue(artist);
}

void CTiffOpt::SetQuality(int value) {
  m_slider->SetValue(value);
  m_number->ChangeValue(wxString::Format("%d", value));
}

void CTiffOpt::Store() {
  auto cut = [](const wxString& s) {
    // At most 259 characters, then bounded in bytes by the field itself.
    return std::string(s.Left(259).utf8_str());
  };
  orb::SetTextField(MiscSettings.IccProfile, cut(m_profile->GetValue()));
  orb::SetTextField(MiscSettings.TiffCopyright, cut(m_copyright->GetValue()));
  orb::SetTextField(MiscSettings.TiffArtist, cut(m_artist->GetValue()));
  if (m_kind == orb::kQualityTiffJpeg) MiscSettings.TiffJpegQualityColour = m_slider->GetValue();
}

void CTiffOpt::OnBrowseProfile() {
  const wxString start = m_profile->GetValue();
  wxFileDialog dlg(this, Text(kStrProfileTitle), wxFileName(start).GetPath(), wxFileName(start).GetFullName(),
                   "ICC Color Profiles (*.icm, *.icc)|*.icm;*.icc;", wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  m_profile->ChangeValue(dlg.ShowModal() == wxID_OK ? dlg.GetPath() : start);
}

int CTiffOpt::CheckProfilePath() const {
  const std::string text(m_profile->GetValue().utf8_str());
  if (text.empty()) return 0;
  std::filesystem::path p(text);
  std::filesystem::path folder = p.parent_path();
  if (folder.empty()) {
    // A bare name is taken from the folder of the scan output name.
    folder = std::filesystem::path(orb::TextField(ScanSettings.OutputFileName)).parent_path();
    p = folder / p;
  }
  if (!orb::IsDirectory(folder.string()) || ::access(folder.c_str(), W_OK) != 0) return kMsgProfileFolderBad;
  if (orb::IsDirectory(p.string())) return kMsgProfileIsFolder;
  return 0;
}

void CTiffOpt::OnProfileKillFocus(wxFocusEvent& e) {
  e.Skip();
  // Leaving for Cancel never warns: the user can always get out of the dialog.
  if (e.GetWindow() && e.GetWindow()->GetId() == wxID_CANCEL) return;
  // The message is shown after the focus change has finished, once per text, so that it
  // never fights the window taking the focus nor comes back at every click.
  if (m_checkPending) return;
  const wxString text = m_profile->GetValue();
  if (text == m_lastWarned) return;
  m_checkPending = true;
  CallAfter([this, text] {
    const int msg = CheckProfilePath();
    if (msg != 0) {
      m_lastWarned = text;
      wxMessageBox(Text(msg), GetTitle(), wxOK | wxICON_EXCLAMATION, this);
      m_profile->SetFocus();
    }
    m_checkPending = false;
  });
}
