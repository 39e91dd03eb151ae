#include "app/gui/ProgressDlg.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/gauge.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/utils.h>

#include "common/LanguageModule.h"
#include "common/gui/Resources.h"
#include "engine/EngineHost.h"

CProgressDlg::CProgressDlg(wxWindow* parent, const wxString& text, int32_t lower, int32_t upper, bool showCancel)
    : m_parent(parent), m_text(text), m_model(lower, upper), m_showCancel(showCancel) {}

CProgressDlg::~CProgressDlg() { EndWindow(); }

bool CProgressDlg::CreateWindow() {
  if (orb::gui::LoadDialogTemplate(this, m_parent, kTemplateId)) {
    m_textCtrl = dynamic_cast<wxStaticText*>(FindWindow(kTextId));
    m_bar = dynamic_cast<wxGauge*>(FindWindow(kBarId));
  }
  if (!GetHandle() || !m_textCtrl || !m_bar || !FindWindow(wxID_CANCEL)) {
    // A module without the template (or with one that lacks a control).
    if (!GetHandle() && !wxDialog::Create(m_parent, wxID_ANY, wxTheApp ? wxTheApp->GetAppDisplayName() : wxString(),
                                          wxDefaultPosition, wxDefaultSize, wxCAPTION))
      return false;
    DestroyChildren();
    SetSizer(nullptr);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    m_textCtrl = new wxStaticText(this, kTextId, wxString());
    m_bar = new wxGauge(this, kBarId, 100, wxDefaultPosition, wxSize(300, -1));
    sizer->Add(m_textCtrl, 0, wxALL | wxEXPAND, 8);
    sizer->Add(m_bar, 0, wxLEFT | wxRIGHT | wxEXPAND, 8);
    sizer->Add(new wxButton(this, wxID_CANCEL), 0, wxALL | wxALIGN_CENTER, 8);
    SetSizer(sizer);
  }
  m_textCtrl->SetLabel(m_text);
  m_bar->SetRange(100);
  m_bar->SetValue(0);
  wxWindow* cancel = FindWindow(wxID_CANCEL);
  cancel->Show(m_showCancel);
  cancel->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnCancel(); });
  GetSizer()->SetSizeHints(this);
  CentreOnParent();
  Show(true);
  // The rest of the program takes no input meanwhile; the busy cursor shows.
  m_disabler = std::make_unique<wxWindowDisabler>(this);
  m_busy = std::make_unique<wxBusyCursor>();
  Update();
  return true;
}

void CProgressDlg::Step() {
  if (m_model.Step() && m_bar && !m_ended) {
    m_bar->SetValue(std::min(100, m_bar->GetValue() + m_model.Increment()));
  }
}

void CProgressDlg::SetStepFraction(double percent) { m_model.SetStepFraction(percent); }

void CProgressDlg::SetText(const wxString& text) {
  m_text = text;
  if (m_textCtrl) m_textCtrl->SetLabel(text);
}

int CProgressDlg::BarValue() const { return m_bar ? m_bar->GetValue() : 0; }

void CProgressDlg::EndWindow() {
  if (m_ended) return;
  m_ended = true;
  m_busy.reset();
  m_disabler.reset();
  if (GetHandle()) Hide();
}

void CProgressDlg::OnOK() { EndWindow(); }

void CProgressDlg::OnCancel() {
  CancelFlag.store(1);
  EndWindow();
}

namespace orb::gui {
namespace {

class DialogProgress : public orb::ProgressReporter {
 public:
  DialogProgress(wxWindow* parent, int captionId, int lines)
      : m_dlg(new CProgressDlg(parent, wxString::FromUTF8(orb::LoadString(captionId)), 0, lines, true)) {
    m_dlg->CreateWindow();
  }
  ~DialogProgress() override {
    if (!m_dlg->Ended()) m_dlg->OnOK();
    m_dlg->Destroy();
  }
  void Step() override { m_dlg->Step(); }

 private:
  CProgressDlg* m_dlg;
};

}  // namespace

orb::ProgressFactory DocumentProgressFactory(wxWindow* parent) {
  return [parent](int captionId, int lines) -> std::unique_ptr<orb::ProgressReporter> {
    return std::make_unique<DialogProgress>(parent, captionId, lines);
  };
}

}  // namespace orb::gui
