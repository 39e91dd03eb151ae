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

// ----- two sliders previewed on the working image ----------------------------------------

void CSliderPairPage::BuildControls(wxSizer* sizer) {
  AddToggle(sizer);
  for (const Slider& s : m_pair.sliders)
    AddSlider(sizer, s.sliderId, m_pair.low, m_pair.high, s.captionId, s.textId, nullptr);
  AddResetAndApply(sizer);
}

void CSliderPairPage::UpdateControls() {
  for (const Slider& s : m_pair.sliders) ShowSlider(s.sliderId, m_pair.position(*s.value), s.textId, *s.value);
  SetToggle(*m_pair.enabled != 0);
  OnEnable();
}

void CSliderPairPage::OnHScroll(int code, int position, int sliderId) {
  const Slider& first = m_pair.sliders[0];
  const Slider& second = m_pair.sliders[1];
  if (sliderId != first.sliderId && sliderId != second.sliderId) return;
  const Slider& s = sliderId == first.sliderId ? first : second;
  if (m_pair.orderRule) {
    if (auto back = m_pair.orderRule(&s == &first, SliderPosition(first.sliderId), SliderPosition(second.sliderId))) {
      SetSliderPosition(sliderId, *back);
      return;
    }
  }
  int32_t& value = *s.value;
  if (m_guard) {
    SetSliderPosition(sliderId, m_pair.position(value));
    return;
  }
  if (code >= kScrollEndScroll) return;
  const int v = m_pair.valueAt(SliderPosition(sliderId));
  if (position != -1 && v == value) return;
  value = v;
  ShowValue(s.textId, v);
  Preview(m_guard, m_pair.filter);
}

void CSliderPairPage::OnReset() {
  for (const Slider& s : m_pair.sliders) *s.value = s.resetValue;
  AfterReset(m_pair.sliders[0].sliderId);
}

// Brightness and contrast: positions 0..200 show -100..100.
CBrightContTools::CBrightContTools()
    : CSliderPairPage(Pair{kToolBrightCont,
                           {Slider{kBrightSlider, kBrightText, kStrBrightness, &BrightContSettings.Brightness, 0},
                            Slider{kContrastSlider, kContrastText, kStrContrast, &BrightContSettings.Contrast, 0}},
                           0, 200, &BrightContSettings.enabled, BrightContPosition, BrightContValue, nullptr,
                           PendingFilter::BrightCont}) {}

// White and black point: the positions are the levels, and the white point never goes
// below the black one.
CBWPointTools::CBWPointTools()
    : CSliderPairPage(Pair{kToolBWPoint,
                           {Slider{kWhiteSlider, kWhiteText, kStrWhitePoint, &BWPointSettings.White, 255},
                            Slider{kBlackSlider, kBlackText, kStrBlackPoint, &BWPointSettings.Black, 0}},
                           0, 255, &BWPointSettings.enabled, [](int v) { return v; }, [](int p) { return p; },
                           BWPointOrderRule, PendingFilter::BWPoint}) {}

// ----- one level with a preview at actual size (sharpen/blur, noise removal) ------------

CPreviewToolPage::CPreviewToolPage(const Level& level) : CToolPage(level.toolId), m_level(level) {
  // A preview is never switched on by the settings file.
  *m_level.preview = 0;
}

void CPreviewToolPage::BuildControls(wxSizer* sizer) {
  AddToggle(sizer);
  AddSlider(sizer, m_level.sliderId, m_level.low, m_level.high, m_level.captionId, m_level.textId, nullptr);
  m_preview = AddPreview(sizer);
  m_preview->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { OnPreview(); });
  // The display switches the preview off when it no longer shows actual size; the check
  // follows the record.
  m_preview->Bind(wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) { e.Check(PreviewByte() != 0); });
  Bind(wxEVT_SHOW, &CPreviewToolPage::OnShow, this);
  AddResetAndApply(sizer);
}

void CPreviewToolPage::UpdateControls() {
  const int32_t level = *m_level.level;
  ShowSlider(m_level.sliderId, m_level.position(level), m_level.textId, level);
  SetToggle(*m_level.enabled != 0);
  OnEnable();
}

void CPreviewToolPage::OnHScroll(int code, int, int sliderId) {
  if (sliderId != m_level.sliderId || !TakesValue(code)) return;
  *m_level.level = m_level.levelAt(SliderPosition(m_level.sliderId));
  if (m_level.textId) ShowValue(m_level.textId, *m_level.level);
  RedrawPreview();
}

void CPreviewToolPage::OnReset() {
  *m_level.level = m_level.resetLevel;
  AfterReset(m_level.sliderId);
}

void CPreviewToolPage::OnOK() {
  if (m_level.idleLevel && *m_level.level == *m_level.idleLevel) return;
  ClearPreviewCheck();
  ApplyToolToActiveImage(m_level.plan(*m_level.level));
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

// Sharpen (positive levels) and blur (negative ones); level 0 changes nothing.
CSharpenTools::CSharpenTools()
    : CPreviewToolPage(Level{kToolSharpen, kSharpenSlider, 0, 20, kStrSharpenLevel, kSharpenText,
                             &SharpenSettings.Level, &SharpenSettings.enabled, &SharpenSettings.preview,
                             [](int32_t level) { return SharpenPosition(level); },
                             [](int position) { return static_cast<int32_t>(SharpenLevel(position)); }, 0, 0,
                             [](int32_t level) { return SharpenApply(level); }}) {}

// Noise removal: the window size is the slider's position.
CDescreenTools::CDescreenTools()
    : CPreviewToolPage(Level{kToolDescreen, kNoiseSlider, 1, 3, kStrNoiseWindow, 0, &DescreenSettings.Level,
                             &DescreenSettings.enabled, &DescreenSettings.preview,
                             [](int32_t level) { return static_cast<int>(level); },
                             [](int position) { return static_cast<int32_t>(position); }, 1, std::nullopt,
                             [](int32_t) { return NoiseRemovalApply(); }}) {}

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
