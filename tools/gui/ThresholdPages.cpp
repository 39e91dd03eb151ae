#include "tools/gui/ThresholdPages.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>

#include "engine/AppStatus.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "tools/ToolDocumentHost.h"
#include "tools/ToolPageModels.h"
#include "tools/ToolTable.h"
#include "tools/gui/ToolStrings.h"

using namespace orb::tools;

namespace {

constexpr int kSkipPreview = -999;
constexpr int kSliders[] = {IDC_THR_SLIDER1, IDC_THR_SLIDER2, IDC_THR_SLIDER3};
constexpr int kLabels[] = {IDC_THR_LABEL1, IDC_THR_LABEL2, IDC_THR_LABEL3};
constexpr int kLabelNames[] = {kStrSlider1, kStrSlider2, kStrSlider3};
constexpr int kRadios[] = {IDC_THR_FIXED, IDC_THR_ADAPTIVE, IDC_THR_COMBINED};

bool ViewBusy() { return orb::HasStatus(orb::StatusBit::ViewRefresh); }

template <class T>
T* Find(wxWindow* w, int id) {
  return dynamic_cast<T*>(w->FindWindow(id));
}

int LabelOf(int slider) { return kLabels[slider - IDC_THR_SLIDER1]; }

}  // namespace

// ----- shared controls ------------------------------------------------------------------

void CThresholdControls::Build(wxSizer* sizer) {
  wxWindow* o = m_owner;
  if (m_page) sizer->Add(new wxCheckBox(o, IDC_THR_SOFTWARE, ToolStr(kStrSoftware)), 0, wxALL, 4);
  sizer->Add(new wxStaticText(o, wxID_ANY, ToolStr(kStrThresholding)), 0, wxLEFT | wxTOP, 4);
  const int names[] = {kStrFixed, kStrAdaptive, kStrCombined};
  for (int i = 0; i < 3; ++i) {
    auto* r = new wxRadioButton(o, kRadios[i], ToolStr(names[i]), wxDefaultPosition, wxDefaultSize,
                                i == 0 ? wxRB_GROUP : 0);
    r->Bind(wxEVT_RADIOBUTTON, [this, i](wxCommandEvent&) { SetType(i); });
    sizer->Add(r, 0, wxLEFT, 8);
  }
  auto* option = new wxCheckBox(o, IDC_THR_OPTION, ToolStr(kStrOption));
  auto* part = new wxCheckBox(o, IDC_THR_ADAPTIVE_PART, ToolStr(kStrAdaptivePart));
  option->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnOptionCheck(IDC_THR_OPTION); });
  part->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnOptionCheck(IDC_THR_ADAPTIVE_PART); });
  sizer->Add(option, 0, wxLEFT | wxTOP, 8);
  sizer->Add(part, 0, wxLEFT, 8);
  for (int i = 0; i < 3; ++i) {
    const SliderRange range = ThresholdSliderRange(kSliders[i], m_page);
    sizer->Add(new wxStaticText(o, kLabels[i], ToolStr(kLabelNames[i])), 0, wxLEFT | wxTOP, 4);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(new wxStaticText(o, 1378 + 2 * i, ToolStr(kStrLow)), 0, wxALIGN_CENTER_VERTICAL);
    row->Add(new wxSlider(o, kSliders[i], range.low, range.low, range.high, wxDefaultPosition, wxSize(130, -1)), 1);
    row->Add(new wxStaticText(o, 1379 + 2 * i, ToolStr(kStrHigh)), 0, wxALIGN_CENTER_VERTICAL);
    sizer->Add(row, 0, wxLEFT | wxRIGHT | wxEXPAND, 4);
  }
}

void CThresholdControls::ShowFields() {
  const int type = BWThresholdSettings.ThresholdingType;
  for (int id : kSliders) {
    if (int32_t* f = ThresholdField(BWThresholdSettings, type, id)) {
      if (auto* s = Find<wxSlider>(m_owner, id)) s->SetValue(*f);
    }
  }
}

void CThresholdControls::SetType(int type) {
  if (ViewBusy()) return;
  BWThresholdSettings.ThresholdingType = type;
  for (int i = 0; i < 3; ++i) {
    if (auto* r = Find<wxRadioButton>(m_owner, kRadios[i])) r->SetValue(i == type);
  }
  ShowFields();
  if (auto* c = Find<wxCheckBox>(m_owner, IDC_THR_OPTION)) c->SetValue(BWThresholdSettings.DiffusionSerpentine != 0);
  if (auto* c = Find<wxCheckBox>(m_owner, IDC_THR_ADAPTIVE_PART)) c->SetValue(BWThresholdSettings.DiffusionHybrid != 0);
  const ControlVisibility v = ThresholdControls(type, BWThresholdSettings.DiffusionHybrid != 0, m_page);
  for (int id : v.shown) {
    if (wxWindow* w = m_owner->FindWindow(id)) w->Show();
  }
  for (int id : v.hidden) {
    if (wxWindow* w = m_owner->FindWindow(id)) w->Hide();
  }
  m_owner->Layout();
  // Each shown slider's label follows its value; the last one previews.
  switch (type) {
    case 0: OnHScroll(4, 0, IDC_THR_SLIDER1); break;
    case 1:
      OnHScroll(4, kSkipPreview, IDC_THR_SLIDER1);
      OnHScroll(4, 0, IDC_THR_SLIDER2);
      break;
    default:
      OnHScroll(4, kSkipPreview, IDC_THR_SLIDER1);
      OnHScroll(4, kSkipPreview, IDC_THR_SLIDER3);
      OnHScroll(4, 0, IDC_THR_SLIDER2);
      break;
  }
}

void CThresholdControls::OnOptionCheck(int id) {
  auto* c = Find<wxCheckBox>(m_owner, id);
  const uint8_t on = c && c->GetValue() ? 1 : 0;
  if (id == IDC_THR_OPTION) BWThresholdSettings.DiffusionSerpentine = on;
  if (id == IDC_THR_ADAPTIVE_PART) BWThresholdSettings.DiffusionHybrid = on;
  SetType(2);
}

void CThresholdControls::OnHScroll(int code, int position, int sliderId) {
  if (sliderId < IDC_THR_SLIDER1 || sliderId > IDC_THR_SLIDER3 || code >= kScrollEndScroll) return;
  auto* slider = Find<wxSlider>(m_owner, sliderId);
  int32_t* field = ThresholdField(BWThresholdSettings, BWThresholdSettings.ThresholdingType, sliderId);
  if (!slider || !field) return;
  if (ViewBusy()) {
    slider->SetValue(*field);
    return;
  }
  *field = slider->GetValue();
  if (auto* label = Find<wxStaticText>(m_owner, LabelOf(sliderId))) {
    label->SetLabel(wxString::FromUTF8(ThresholdSliderLabel(std::string(label->GetLabel().utf8_str()), *field)));
  }
  if (position == kSkipPreview) return;
  if (m_page && (!BWThresholdSettings.SoftwareThreshold || (sliderId == IDC_THR_SLIDER1 && orb::IsScanning()))) {
    return;
  }
  ImageState* image = ActiveToolImage();
  if (!image || (m_page && !image->linesOneBytePerPixel)) return;
  image->thresholdPending = 1;
  image->edited = 1;
  // The view follows when the thumb is let go, not while it is dragged.
  if (code != kScrollThumbTrack) GetToolDocumentHost()->UpdateView(kViewHintRepaint);
}

// ----- the page ---------------------------------------------------------------------------

CBWThreshTools::CBWThreshTools() : CToolPage(kToolThreshold), m_controls(this, true) {}

void CBWThreshTools::BuildControls(wxSizer* sizer) {
  m_controls.Build(sizer);
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  AddApply(row);
  sizer->Add(row);
  if (auto* c = dynamic_cast<wxCheckBox*>(FindWindow(IDC_THR_SOFTWARE))) {
    c->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnSoftwareThreshold(); });
  }
  Bind(wxEVT_SHOW, &CBWThreshTools::OnShow, this);
}

void CBWThreshTools::HardwareRule() {
  if (ScanSettings.HardwareThreshold) return;
  BWThresholdSettings.SoftwareThreshold = 1;
  if (auto* c = dynamic_cast<wxCheckBox*>(FindWindow(IDC_THR_SOFTWARE))) {
    c->SetValue(true);
    c->Hide();
  }
}

void CBWThreshTools::UpdateControls() {
  if (auto* c = dynamic_cast<wxCheckBox*>(FindWindow(IDC_THR_SOFTWARE))) c->SetValue(BWThresholdSettings.SoftwareThreshold != 0);
  HardwareRule();
  m_controls.SetType(BWThresholdSettings.ThresholdingType);
}

void CBWThreshTools::OnHScroll(int code, int position, int sliderId) { m_controls.OnHScroll(code, position, sliderId); }

void CBWThreshTools::OnSoftwareThreshold() {
  if (orb::HasStatus(orb::StatusBit::ViewRefresh)) return;
  auto* c = dynamic_cast<wxCheckBox*>(FindWindow(IDC_THR_SOFTWARE));
  BWThresholdSettings.SoftwareThreshold = c && c->GetValue() ? 1 : 0;
  // Which buttons the hosts offer may change with it.
  if (s_refreshHosts) s_refreshHosts();
}

void CBWThreshTools::EnableControls(bool enable) {
  for (int id : {IDC_THR_FIXED, IDC_THR_ADAPTIVE, IDC_THR_COMBINED, IDC_THR_SLIDER2, IDC_THR_SOFTWARE}) {
    if (wxWindow* w = FindWindow(id)) w->Enable(enable);
  }
  for (int id : {IDC_THR_SLIDER1, IDC_THR_SLIDER3}) {
    if (wxWindow* w = FindWindow(id)) w->Enable(true);
  }
  HardwareRule();
  ImageState* image = ActiveToolImage();
  if (ScanSettings.ScannerType == 0 && ScanSettings.HighResWindow && ScanSettings.HighResBilevel && image &&
      image->xDpi == 800) {
    for (int id : {IDC_THR_SLIDER1, IDC_THR_SLIDER2, IDC_THR_SLIDER3, IDC_THR_FIXED, IDC_THR_ADAPTIVE}) {
      if (wxWindow* w = FindWindow(id)) w->Enable(false);
    }
  }
}

void CBWThreshTools::OnShow(wxShowEvent& e) {
  e.Skip();
  ImageState* image = ActiveToolImage();
  if (!e.IsShown() || !image) return;
  // Once a tool changed the image, its threshold is what it is.
  const bool enable = image->operationCode == 0;
  for (int id : {IDC_THR_SLIDER1, IDC_THR_SLIDER2, IDC_THR_SLIDER3, IDC_THR_FIXED, IDC_THR_ADAPTIVE, IDC_THR_COMBINED}) {
    if (wxWindow* w = FindWindow(id)) w->Enable(enable);
  }
}

// ----- the dialog -------------------------------------------------------------------------

CBWThreshDlg::CBWThreshDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, ToolStr(kStrThresholdDlgTitle)), m_controls(this, false) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  m_controls.Build(sizer);
  sizer->Add(CreateButtonSizer(wxOK | wxCANCEL), 0, wxALL | wxEXPAND, 6);
  SetSizerAndFit(sizer);
  Bind(wxEVT_SCROLL_CHANGED, [this](wxScrollEvent& e) { m_controls.OnHScroll(4, e.GetPosition(), e.GetId()); });
  Bind(wxEVT_SCROLL_THUMBTRACK, [this](wxScrollEvent& e) { m_controls.OnHScroll(5, e.GetPosition(), e.GetId()); });
  m_controls.SetType(BWThresholdSettings.ThresholdingType);
  CentreOnParent();
}

int CBWThreshDlg::RunModal() { return ShowModal() == wxID_OK ? 0 : -1; }
