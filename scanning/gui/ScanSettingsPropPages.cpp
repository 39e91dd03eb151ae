#include "scanning/gui/ScanSettingsPropPages.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/notebook.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "common/ResourceIds.h"
#include "common/gui/Resources.h"
#include "common/gui/WndWithToolTip.h"
#include "scanning/gui/ControlBinding.h"
#include "scanning/gui/ScanPropSheet.h"

namespace orb::gui {
namespace {

FormatOptionsRunner& OptionsRunner() {
  static FormatOptionsRunner runner;
  return runner;
}

wxString W(const std::string& s) { return wxString::FromUTF8(s); }
std::string U(const wxString& s) { return std::string(s.ToUTF8()); }
wxString Caption() { return wxTheApp ? wxTheApp->GetAppDisplayName() : wxString(); }
const char* const kPaletteFilter = "Palette Files(*.apt)|*.apt";

}  // namespace

void SetFormatOptionsRunner(FormatOptionsRunner runner) { OptionsRunner() = std::move(runner); }

class SettingsPageView::Host final : public orb::ScanSettingsPageHost {
 public:
  explicit Host(wxWindow& page) : page_(page) {}
  intptr_t SendToFrame(uint32_t msg, uintptr_t w, intptr_t l) override {
    return orb::SendAppMessage(g_hMainFrame.load(), msg, w, l);
  }
  void PostToFrame(uint32_t msg, uintptr_t w, intptr_t l) override {
    (void)orb::PostAppMessage(g_hMainFrame.load(), msg, w, l);
  }
  std::string String(int id) override { return U(Str(id)); }
  void ShowMessage(int id) override { wxMessageBox(Str(id), Caption(), wxOK | wxICON_EXCLAMATION, &page_); }
  std::optional<std::string> BrowsePaletteFile(const std::string& path) override {
    wxFileDialog dlg(&page_, wxString(), wxString(), W(path), kPaletteFilter,
                     wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    if (!path.empty()) dlg.SetPath(W(path));
    if (dlg.ShowModal() != wxID_OK) return std::nullopt;
    return U(dlg.GetPath());
  }
  void RunFormatOptions(orb::FormatOptionsDialog dialog, int argument) override {
    if (OptionsRunner()) OptionsRunner()(&page_, dialog, argument);
  }

 private:
  wxWindow& page_;
};

SettingsPageView::SettingsPageView() { host_ = std::make_unique<Host>(*this); }

SettingsPageView::~SettingsPageView() {
  // The controls go while the page is whole; their last focus events change nothing.
  pushing_ = true;
  DestroyChildren();
  controls_.clear();
}

wxWindow* SettingsPageView::ControlWindow(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

void SettingsPageView::Build(wxWindow* parent, int templateId, const std::map<int, ControlState>& controls) {
  if (!LoadPanelTemplate(this, parent, templateId)) Create(parent, wxID_ANY);
  controls_ = FindModelControls(this, controls);
  ApplyToolTips(this, MiscSettings.TooltipMode);
}

void SettingsPageView::BindActivation(wxWindow* parent) {
  if (auto* book = dynamic_cast<wxNotebook*>(parent)) {
    book->Bind(wxEVT_NOTEBOOK_PAGE_CHANGED, [this, book](wxBookCtrlEvent& e) {
      if (e.GetSelection() >= 0 && book->GetPage(static_cast<size_t>(e.GetSelection())) == this) OnSetActive();
      e.Skip();
    });
  }
}

template <class E>
void SettingsPageView::On(int id, const wxEventTypeTag<E>& type, std::function<void()> f) {
  wxWindow* w = ControlWindow(id);
  if (!w) return;
  w->Bind(type, [this, f](E& e) {
    Run(f);
    e.Skip();
  });
}

void SettingsPageView::OnKillFocus(int id, std::function<void()> f) {
  wxWindow* w = ControlWindow(id);
  if (!w) return;
  w->Bind(wxEVT_KILL_FOCUS, [this, f](wxFocusEvent& e) {
    Run(f);
    e.Skip();
  });
  w->Bind(wxEVT_TEXT_ENTER, [this, f](wxCommandEvent&) { Run(f); });
}

void SettingsPageView::Pull() {
  for (auto& [id, w] : controls_) PullControl(w, State(id));
}

void SettingsPageView::Push() {
  pushing_ = true;
  for (auto& [id, w] : controls_) PushControl(id, w, State(id));
  pushing_ = false;
  Layout();
}

}  // namespace orb::gui

using orb::gui::SettingsPageView;

// ---- general page ---------------------------------------------------------------------

CGenScanSetPropPage::CGenScanSetPropPage(wxWindow* parent) {
  using namespace orb::general_ids;
  model_ = std::make_unique<orb::GeneralPageModel>(*host_);
  Build(parent, kTemplateId, model_->Controls());
  for (int g = 0; g < 4; ++g) {
    On(orb::GeneralPageModel::FormatBoxOf(g), wxEVT_CHOICE, [this, g] { model_->OnFormatCloseUp(g); });
    On(orb::GeneralPageModel::OptionsButtonOf(g), wxEVT_BUTTON, [this, g] { model_->OnFormatOptions(g); });
  }
  for (int id : {kPalette16File, kPalette16Auto, kPalette256File, kPalette256Auto})
    On(id, wxEVT_RADIOBUTTON, [this, id] { model_->OnPaletteRadio(id); });
  On(kPalette16Browse, wxEVT_BUTTON, [this] { model_->OnBrowsePalette(16); });
  On(kPalette256Browse, wxEVT_BUTTON, [this] { model_->OnBrowsePalette(256); });
  for (int colours : {16, 256}) {
    const int edit = colours == 16 ? kPalette16Edit : kPalette256Edit;
    On(edit, wxEVT_SET_FOCUS, [this, colours] { model_->OnSetFocusPalette(colours); });
    OnKillFocus(edit, [this, colours, edit] {
      model_->OnKillFocusPalette(colours);
      if (model_->refocus == edit) {
        model_->refocus = 0;
        if (wxWindow* w = ControlWindow(edit)) w->CallAfter([w] { w->SetFocus(); });
      }
    });
  }
  for (int id : {kHighResRgb, kHighResBilevel, kHighResGrey})
    On(id, wxEVT_CHECKBOX, [this, id] { model_->OnHighRes(id); });
  model_->OnInitDialog();
  Push();
  BindActivation(parent);
  CallAfter([this] { OnSetActive(); });
}

void CGenScanSetPropPage::OnSetActive() { Run([this] { model_->OnSetActive(); }); }

// ---- extended page --------------------------------------------------------------------

CGenScanSetExPropPage::CGenScanSetExPropPage(wxWindow* parent) {
  using namespace orb::extended_ids;
  model_ = std::make_unique<orb::ExtendedPageModel>(*host_);
  Build(parent, kTemplateId, model_->Controls());
  orb::gui::BindScroll(ControlWindow(kBrightness), [this](wxScrollEvent& e) {
    Run([this] { model_->OnBrightnessScroll(); });
    e.Skip();
  });
  for (int id : {kGammaRed, kGammaGreen, kGammaBlue}) OnKillFocus(id, [this, id] { model_->OnKillFocusGamma(id); });
  for (int id : {kRgbControlOn, kRgbControlOff, kSpecialOn, kSpecialOff})
    On(id, wxEVT_RADIOBUTTON, [this, id] { model_->OnRadio(id); });
  for (int id : {kExtraOption, kLightOnly}) On(id, wxEVT_CHECKBOX, [this, id] { model_->OnCheck(id); });
  On(kCalibrate, wxEVT_BUTTON, [this] { model_->OnCalibrate(); });
  On(kAlign, wxEVT_BUTTON, [this] { model_->OnAlign(); });
  On(kDiagnostics, wxEVT_BUTTON, [this] { model_->OnDiagnostics(); });
  model_->OnInitDialog();
  Push();
  BindActivation(parent);
}

void CGenScanSetExPropPage::OnSetActive() { Run([this] { model_->OnSetActive(); }); }

// ---- media handling page --------------------------------------------------------------

CScanMediaHandlingPropPage::CScanMediaHandlingPropPage(wxWindow* parent) {
  using namespace orb::media_ids;
  model_ = std::make_unique<orb::MediaPageModel>(*host_);
  Build(parent, kTemplateId, model_->Controls());
  for (int id : {kMediaHandling0, kMediaHandling1, kMediaHandling2})
    On(id, wxEVT_RADIOBUTTON, [this, id] { model_->OnMediaRadio(id); });
  for (int id : {kLeftEdge0, kLeftEdge1, kLeftEdge1Alt})
    On(id, wxEVT_RADIOBUTTON, [this, id] { model_->OnLeftEdgeRadio(id); });
  On(kUnload, wxEVT_CHECKBOX, [this] { model_->OnUnloadClick(); });
  On(kManualTransport, wxEVT_CHECKBOX, [this] { model_->OnManualTransportClick(); });
  On(kVendorOption, wxEVT_CHECKBOX, [this] { model_->OnVendorOptionClick(); });
  for (int id : {kSpeed, kDelay}) {
    orb::gui::BindScroll(ControlWindow(id), [this, id](wxScrollEvent& e) {
      orb::SliderCode code;
      if (orb::gui::SliderCodeOf(e.GetEventType(), &code)) Run([this, id, code] { model_->OnScroll(id, code); });
      e.Skip();
    });
  }
  OnKillFocus(kStaging, [this] { model_->OnKillFocusStaging(); });
  OnKillFocus(kRunOn, [this] { model_->OnKillFocusRunOn(); });
  model_->OnInitDialog();
  Push();
  BindActivation(parent);
}

void CScanMediaHandlingPropPage::OnSetActive() { Run([this] { model_->OnSetActive(); }); }

namespace orb::gui {
void InstallScanSettingsPages() {
  CScanPropSheet::SetPageFactory(CScanPropSheet::kGeneral,
                                 [](wxWindow* parent) -> wxWindow* { return new CGenScanSetPropPage(parent); });
  CScanPropSheet::SetPageFactory(CScanPropSheet::kMedia,
                                 [](wxWindow* parent) -> wxWindow* { return new CScanMediaHandlingPropPage(parent); });
  CScanPropSheet::SetPageFactory(CScanPropSheet::kExtended,
                                 [](wxWindow* parent) -> wxWindow* { return new CGenScanSetExPropPage(parent); });
}
}  // namespace orb::gui
