#include "tools/gui/FilterPages.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/tglbtn.h>

#include "engine/ToolSettings.h"
#include "tools/ApplyPipeline.h"
#include "tools/ToolDocumentHost.h"
#include "tools/ToolPageModels.h"
#include "tools/ToolTable.h"
#include "tools/gui/ToolStrings.h"

using namespace orb::tools;

namespace {

constexpr int kBrightSlider = 1021, kBrightText = 1035, kContrastSlider = 1078, kContrastText = 1026;
constexpr int kWhiteSlider = 1085, kWhiteText = 1086, kBlackSlider = 1087, kBlackText = 1088;
constexpr int kSharpenSlider = 1179, kSharpenText = 1180;
constexpr int kNoiseSlider = 1082;
constexpr int kSpeckSlider = 1183, kSpeckText = 1182;

// Draws the view through the pending filter while the page's guard is held.
void Preview(bool& guard, PendingFilter which) {
  guard = true;
  PreviewPendingFilter(which);
  guard = false;
}

}  // namespace

// ----- brightness and contrast -----------------------------------------------------------

CBrightContTools::CBrightContTools() : CToolPage(kToolBrightCont) {}

uint8_t* CBrightContTools::EnabledByte() { return &BrightContSettings.enabled; }

void CBrightContTools::BuildControls(wxSizer* sizer) {
  AddToggle(sizer);
  AddSlider(sizer, kBrightSlider, 0, 200, kStrBrightness, kBrightText, nullptr);
  AddSlider(sizer, kContrastSlider, 0, 200, kStrContrast, kContrastText, nullptr);
  AddResetAndApply(sizer);
}

void CBrightContTools::UpdateControls() {
  ShowSlider(kBrightSlider, BrightContPosition(BrightContSettings.Brightness), kBrightText, BrightContSettings.Brightness);
  ShowSlider(kContrastSlider, BrightContPosition(BrightContSettings.Contrast), kContrastText, BrightContSettings.Contrast);
  SetToggle(BrightContSettings.enabled != 0);
  OnEnable();
}

void CBrightContTools::OnHScroll(int code, int position, int sliderId) {
  if (sliderId != kBrightSlider && sliderId != kContrastSlider) return;
  int32_t& value = sliderId == kBrightSlider ? BrightContSettings.Brightness : BrightContSettings.Contrast;
  if (m_guard) {
    SetSliderPosition(sliderId, BrightContPosition(value));
    return;
  }
  if (code >= kScrollEndScroll) return;
  const int v = BrightContValue(SliderPosition(sliderId));
  if (position != -1 && v == value) return;
  value = v;
  ShowValue(sliderId == kBrightSlider ? kBrightText : kContrastText, v);
  Preview(m_guard, PendingFilter::BrightCont);
}

void CBrightContTools::OnReset() {
  BrightContSettings.Brightness = 0;
  BrightContSettings.Contrast = 0;
  AfterReset(kBrightSlider);
}

// ----- white and black point ----------------------------------------------------------

CBWPointTools::CBWPointTools() : CToolPage(kToolBWPoint) {}

uint8_t* CBWPointTools::EnabledByte() { return &BWPointSettings.enabled; }

void CBWPointTools::BuildControls(wxSizer* sizer) {
  AddToggle(sizer);
  AddSlider(sizer, kWhiteSlider, 0, 255, kStrWhitePoint, kWhiteText, nullptr);
  AddSlider(sizer, kBlackSlider, 0, 255, kStrBlackPoint, kBlackText, nullptr);
  AddResetAndApply(sizer);
}

void CBWPointTools::UpdateControls() {
  ShowSlider(kWhiteSlider, BWPointSettings.White, kWhiteText, BWPointSettings.White);
  ShowSlider(kBlackSlider, BWPointSettings.Black, kBlackText, BWPointSettings.Black);
  SetToggle(BWPointSettings.enabled != 0);
  OnEnable();
}

void CBWPointTools::OnHScroll(int code, int position, int sliderId) {
  if (sliderId != kWhiteSlider && sliderId != kBlackSlider) return;
  const bool white = sliderId == kWhiteSlider;
  if (auto back = BWPointOrderRule(white, SliderPosition(kWhiteSlider), SliderPosition(kBlackSlider))) {
    SetSliderPosition(sliderId, *back);
    return;
  }
  int32_t& value = white ? BWPointSettings.White : BWPointSettings.Black;
  if (m_guard) {
    SetSliderPosition(sliderId, value);
    return;
  }
  if (code >= kScrollEndScroll) return;
  const int v = SliderPosition(sliderId);
  if (position != -1 && v == value) return;
  value = v;
  ShowValue(white ? kWhiteText : kBlackText, v);
  Preview(m_guard, PendingFilter::BWPoint);
}

void CBWPointTools::OnReset() {
  BWPointSettings.White = 255;
  BWPointSettings.Black = 0;
  AfterReset(kWhiteSlider);
}

// ----- the preview at actual size ------------------------------------------------------

void CPreviewToolPage::AddPreviewCheck(wxSizer* sizer) {
  m_preview = AddPreview(sizer);
  m_preview->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnPreview(); });
  // The display switches the preview off when it no longer shows actual size; the check
  // follows the record.
  m_preview->Bind(wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) { e.Check(PreviewByte() != 0); });
  Bind(wxEVT_SHOW, &CPreviewToolPage::OnShow, this);
}

void CPreviewToolPage::OnPreview() {
  PreviewByte() = m_preview && m_preview->GetValue() ? 1 : 0;
  if (ToolDocumentHost* host = GetToolDocumentHost(); host && host->ActiveImage()) {
    host->UpdateView(PreviewByte() ? kViewHintActualSize : kViewHintRedraw);
  }
}

void CPreviewToolPage::PreviewCleared() {
  if (m_preview) m_preview->SetValue(PreviewByte() != 0);
}

void CPreviewToolPage::ClearPreviewCheck() {
  PreviewByte() = 0;
  if (m_preview) m_preview->SetValue(false);
}

void CPreviewToolPage::RedrawPreview() {
  if (!PreviewByte()) return;
  if (ToolDocumentHost* host = GetToolDocumentHost(); host && host->ActiveImage()) host->UpdateView(kViewHintActualSize);
}

void CPreviewToolPage::OnShow(wxShowEvent& e) {
  e.Skip();
  if (!e.IsShown() && PreviewByte() == 1) {
    if (m_preview) m_preview->SetValue(false);
    OnPreview();
  }
}

// ----- sharpen and blur -------------------------------------------------------------------

CSharpenTools::CSharpenTools() : CPreviewToolPage(kToolSharpen) { SharpenSettings.preview = 0; }

uint8_t* CSharpenTools::EnabledByte() { return &SharpenSettings.enabled; }
uint8_t& CSharpenTools::PreviewByte() { return SharpenSettings.preview; }

void CSharpenTools::BuildControls(wxSizer* sizer) {
  AddToggle(sizer);
  AddSlider(sizer, kSharpenSlider, 0, 20, kStrSharpenLevel, kSharpenText, nullptr);
  AddPreviewCheck(sizer);
  AddResetAndApply(sizer);
}

void CSharpenTools::UpdateControls() {
  ShowSlider(kSharpenSlider, SharpenPosition(SharpenSettings.Level), kSharpenText, SharpenSettings.Level);
  SetToggle(SharpenSettings.enabled != 0);
  OnEnable();
}

void CSharpenTools::OnHScroll(int code, int, int sliderId) {
  if (sliderId != kSharpenSlider || !TakesValue(code)) return;
  SharpenSettings.Level = SharpenLevel(SliderPosition(kSharpenSlider));
  ShowValue(kSharpenText, SharpenSettings.Level);
  RedrawPreview();
}

void CSharpenTools::OnReset() {
  SharpenSettings.Level = 0;
  AfterReset(kSharpenSlider);
}

void CSharpenTools::OnOK() {
  if (SharpenSettings.Level == 0) return;
  ClearPreviewCheck();
  ApplyToolToActiveImage(SharpenApply(SharpenSettings.Level));
}

// ----- noise removal ----------------------------------------------------------------

CDescreenTools::CDescreenTools() : CPreviewToolPage(kToolDescreen) { DescreenSettings.preview = 0; }

uint8_t* CDescreenTools::EnabledByte() { return &DescreenSettings.enabled; }
uint8_t& CDescreenTools::PreviewByte() { return DescreenSettings.preview; }

void CDescreenTools::BuildControls(wxSizer* sizer) {
  AddToggle(sizer);
  AddSlider(sizer, kNoiseSlider, 1, 3, kStrNoiseWindow, 0, nullptr);
  AddPreviewCheck(sizer);
  AddResetAndApply(sizer);
}

void CDescreenTools::UpdateControls() {
  ShowSlider(kNoiseSlider, DescreenSettings.Level, 0, 0);
  SetToggle(DescreenSettings.enabled != 0);
  OnEnable();
}

void CDescreenTools::OnHScroll(int code, int, int sliderId) {
  if (sliderId != kNoiseSlider || !TakesValue(code)) return;
  DescreenSettings.Level = SliderPosition(kNoiseSlider);
  RedrawPreview();
}

void CDescreenTools::OnReset() {
  DescreenSettings.Level = 1;
  AfterReset(kNoiseSlider);
}

void CDescreenTools::OnOK() {
  ClearPreviewCheck();
  ApplyToolToActiveImage(NoiseRemovalApply());
}

// ----- despeckle ------------------------------------------------------------------------

CDespeckleTools::CDespeckleTools() : CToolPage(kToolDespeckle) {}

uint8_t* CDespeckleTools::EnabledByte() { return &DespeckleSettings.enabled; }

void CDespeckleTools::BuildControls(wxSizer* sizer) {
  // The toggle changes only through the settings file and presets.
  AddToggle(sizer)->GetContainingSizer()->ShowItems(false);
  AddSlider(sizer, kSpeckSlider, 1, 100, kStrSpeckSize, kSpeckText, nullptr);
  AddResetAndApply(sizer);
}

void CDespeckleTools::UpdateControls() {
  DespeckleSettings.SpeckWidth = DespeckleShownWidth(DespeckleSettings.SpeckWidth);
  ShowSlider(kSpeckSlider, DespeckleSettings.SpeckWidth, kSpeckText, DespeckleSettings.SpeckWidth);
  SetToggle(DespeckleSettings.enabled != 0);
  OnEnable();
}

void CDespeckleTools::OnHScroll(int code, int, int sliderId) {
  if (sliderId != kSpeckSlider || code >= kScrollEndScroll) return;
  DespeckleSettings.SpeckWidth = SliderPosition(kSpeckSlider);
  ShowValue(kSpeckText, DespeckleSettings.SpeckWidth);
}

void CDespeckleTools::OnReset() {
  DespeckleSettings.SpeckWidth = 5;
  AfterReset(kSpeckSlider);
}

void CDespeckleTools::OnOK() { ApplyToolToActiveImage(DespeckleApply()); }

// ----- invert and mirror ----------------------------------------------------------------

CApplyOnlyTools::CApplyOnlyTools(int toolId, uint8_t& enabled, Plan plan)
    : CToolPage(toolId), m_enabled(enabled), m_plan(plan) {}

void CApplyOnlyTools::BuildControls(wxSizer* sizer) {
  AddToggle(sizer);
  AddApply(sizer);
}

void CApplyOnlyTools::UpdateControls() {
  SetToggle(m_enabled != 0);
  OnEnable();
}

void CApplyOnlyTools::OnOK() { ApplyToolToActiveImage(m_plan()); }

CInvertTools::CInvertTools() : CApplyOnlyTools(kToolInvert, InvertSettings.enabled, InvertApply) {}

CMirrorTools::CMirrorTools() : CApplyOnlyTools(kToolMirror, MirrorSettings.enabled, MirrorApply) {}
