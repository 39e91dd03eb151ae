#include "scanning/gui/ManualStitchDlg.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "common/gui/Resources.h"
#include "common/gui/WndWithToolTip.h"
#include "scanning/gui/ControlBinding.h"

using namespace orb::stitch_ids;

namespace {
CManualStitchDlg* g_dialog = nullptr;
CManualStitchDlg::ImageAccess& Access() {
  static CManualStitchDlg::ImageAccess access;
  return access;
}
}  // namespace

class CManualStitchDlg::Host final : public orb::ManualStitchHost {
 public:
  intptr_t SendToFrame(uint32_t msg, uintptr_t w, intptr_t l) override {
    return orb::SendAppMessage(g_hMainFrame.load(), msg, w, l);
  }
  bool ActiveImage(int32_t* w, int32_t* h, int32_t* cw, int32_t* ch) override {
    return Access().size && Access().size(w, h, cw, ch);
  }
  void ShowRegion(const orb::Rect& r) override {
    if (Access().showRegion) Access().showRegion(r);
  }
  void RefreshOutputPage() override {
    if (Access().refreshOutputPage) Access().refreshOutputPage();
  }
};

void CManualStitchDlg::SetImageAccess(ImageAccess access) { Access() = std::move(access); }

CManualStitchDlg* CManualStitchDlg::Current() { return g_dialog; }

CManualStitchDlg* CManualStitchDlg::Show(wxWindow* parent, CTrennic& scanner) {
  if (g_dialog) {
    g_dialog->Raise();
    return g_dialog;
  }
  auto* dlg = new CManualStitchDlg(parent, scanner);
  dlg->wxDialog::Show();
  return dlg;
}

CManualStitchDlg::CManualStitchDlg(wxWindow* parent, CTrennic& scanner) : m_timer(this) {
  g_dialog = this;
  m_host = std::make_unique<Host>();
  m_model = std::make_unique<orb::ManualStitchModel>(scanner, *m_host);
  if (!orb::gui::LoadDialogTemplate(this, parent, kTemplateId)) {
    // A module without the template: a bare dialog that can still be closed.
    Create(parent, wxID_ANY, wxString::FromUTF8(g_szAppTitle));
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxALL, 8);
    SetSizerAndFit(sizer);
  }
  m_controls = orb::gui::FindModelControls(this, m_model->Controls());
  if (wxWindow* ok = FindWindow(wxID_OK)) m_controls[kOk] = ok;
  orb::gui::ApplyToolTips(this, MiscSettings.TooltipMode);

  for (int k = 0; k < 5; ++k) {
    for (int id : {kFrontBack[k], kStitch[k]}) {
      orb::gui::BindScroll(ControlWindow(id), [this, id](wxScrollEvent& e) {
        orb::SliderCode code;
        if (orb::gui::SliderCodeOf(e.GetEventType(), &code)) Run([this, id, code] { m_model->OnScroll(id, code); });
        e.Skip();
      });
    }
  }
  Bind(wxEVT_BUTTON, [this](wxCommandEvent& e) {
    const int id = e.GetId();
    if (id == wxID_OK || id == wxID_CANCEL) return CloseDialog();
    if (id == kTestScan) return Run([this] { m_model->OnTestScan(); });
    if (id == kStop) return Run([this] { m_model->OnStop(); });
    if (id == kRevert) return Run([this] { m_model->Revert(); });
    for (int z = 0; z < 4; ++z)
      if (id == kZoom[z]) return Run([this, z] { m_model->OnZoom(z + 1); });
    e.Skip();
  });
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { CloseDialog(); });
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Tick(); }, m_timer.GetId());

  m_model->OnInitDialog();
  Push();
  // Hidden seam groups narrow the dialog to what is shown.
  Fit();
  m_timer.Start(250);
}

CManualStitchDlg::~CManualStitchDlg() {
  m_timer.Stop();
  if (g_dialog == this) g_dialog = nullptr;
  m_pushing = true;
}

wxWindow* CManualStitchDlg::ControlWindow(int id) const {
  auto it = m_controls.find(id);
  return it == m_controls.end() ? nullptr : it->second;
}

void CManualStitchDlg::Pull() {
  for (auto& [id, w] : m_controls) orb::gui::PullControl(w, m_model->Control(id));
}

void CManualStitchDlg::Push() {
  m_pushing = true;
  for (auto& [id, w] : m_controls) {
    orb::ControlState c = m_model->Control(id);
    // Value texts and labels are shown as the model says, even "0".
    orb::gui::PushControl(id, w, c);
  }
  m_pushing = false;
  Layout();
}

template <class F>
void CManualStitchDlg::Run(F handler) {
  if (m_pushing || m_closing) return;
  Pull();
  handler();
  Push();
}

void CManualStitchDlg::Tick() {
  if (m_closing) return;
  bool closeNow = false;
  Run([&] { closeNow = m_model->OnTimer(); });
  if (closeNow) {
    m_closing = true;
    m_timer.Stop();
    if (g_dialog == this) g_dialog = nullptr;
    Destroy();
  }
}

void CManualStitchDlg::CloseDialog() {
  if (m_closing) return;
  bool goNow = false;
  Run([&] { goNow = m_model->OnClose(); });
  if (!goNow) return;  // the test scan is being stopped; the timer finishes the close
  m_closing = true;
  m_timer.Stop();
  if (g_dialog == this) g_dialog = nullptr;
  Destroy();
}
