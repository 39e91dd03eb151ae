#include "tools/gui/ToolPage.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/tglbtn.h>

#include "common/Messages.h"
#include "common/gui/AppMessage.h"
#include "common/gui/Resources.h"
#include "engine/Settings.h"
#include "tools/ToolPageModels.h"
#include "tools/ToolRecords.h"
#include "tools/ToolTable.h"
#include "tools/gui/ToolStrings.h"

using namespace orb::tools;

std::function<void()> CToolPage::s_refreshHosts;

CToolPage::CToolPage(int toolId) : m_toolId(toolId) { LoadSettings(); }

CToolPage::~CToolPage() { SaveSettings(); }

bool CToolPage::Create(wxWindow* parent) {
  if (!wxPanel::Create(parent, wxID_ANY)) return false;
  Hide();
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  BuildControls(sizer);
  SetSizer(sizer);
  Bind(wxEVT_SCROLL_TOP, &CToolPage::OnSliderEvent, this);
  Bind(wxEVT_SCROLL_BOTTOM, &CToolPage::OnSliderEvent, this);
  Bind(wxEVT_SCROLL_LINEUP, &CToolPage::OnSliderEvent, this);
  Bind(wxEVT_SCROLL_LINEDOWN, &CToolPage::OnSliderEvent, this);
  Bind(wxEVT_SCROLL_PAGEUP, &CToolPage::OnSliderEvent, this);
  Bind(wxEVT_SCROLL_PAGEDOWN, &CToolPage::OnSliderEvent, this);
  Bind(wxEVT_SCROLL_THUMBTRACK, &CToolPage::OnSliderEvent, this);
  Bind(wxEVT_SCROLL_THUMBRELEASE, &CToolPage::OnSliderEvent, this);
  Bind(wxEVT_SCROLL_CHANGED, &CToolPage::OnSliderEvent, this);
  Bind(wxEVT_CHAR_HOOK, &CToolPage::OnCharHook, this);
  UpdateControls();
  RefreshToolTips();
  return true;
}

void CToolPage::LoadSettings() {
  if (FindTool(m_toolId)) LoadToolSettings(m_toolId);
}

void CToolPage::SaveSettings() {
  if (FindTool(m_toolId)) SaveToolSettings(m_toolId);
}

void CToolPage::SavePreset(const std::string& name) { SaveToolPreset(m_toolId, name); }

void CToolPage::LoadPreset(const std::string& name) {
  LoadToolPreset(m_toolId, name);
  UpdateControls();
}

void CToolPage::EnableChildren(bool enable) {
  for (wxWindow* child : GetChildren()) child->Enable(enable);
}

void CToolPage::OnEnable() {
  const bool on = ToggleOn();
  if (m_toggle) {
    wxBitmap bmp = orb::gui::ModuleBitmap(on ? IDB_TOGGLE_ON : IDB_TOGGLE_OFF);
    if (bmp.IsOk()) m_toggle->SetBitmap(bmp);
  }
  wxWindow* host = GetParent() ? GetParent()->GetParent() : nullptr;
  orb::PostAppMessage(orb::gui::HandleOf(host), WM_TOOL_ENABLE, static_cast<uintptr_t>(m_toolId), on ? 1 : 0);
  if (uint8_t* b = EnabledByte()) *b = on ? 1 : 0;
}

void CToolPage::PostApply() {
  wxWindow* host = GetParent() ? GetParent()->GetParent() : nullptr;
  orb::PostAppMessage(orb::gui::HandleOf(host), WM_TOOL_APPLY, static_cast<uintptr_t>(m_toolId), 0);
}

void CToolPage::OnHScroll(int, int, int) {}

void CToolPage::OnSliderEvent(wxScrollEvent& e) {
  static const std::pair<wxEventType, int> kCodes[] = {
      {wxEVT_SCROLL_LINEUP, 0},     {wxEVT_SCROLL_LINEDOWN, 1},   {wxEVT_SCROLL_PAGEUP, 2},
      {wxEVT_SCROLL_PAGEDOWN, 3},   {wxEVT_SCROLL_THUMBRELEASE, 4}, {wxEVT_SCROLL_THUMBTRACK, 5},
      {wxEVT_SCROLL_TOP, 6},        {wxEVT_SCROLL_BOTTOM, 7},     {wxEVT_SCROLL_CHANGED, 8},
  };
  for (const auto& [type, code] : kCodes) {
    if (e.GetEventType() == type) {
      OnHScroll(code, e.GetPosition(), e.GetId());
      return;
    }
  }
}

void CToolPage::OnCharHook(wxKeyEvent& e) {
  if (e.GetKeyCode() == WXK_RETURN || e.GetKeyCode() == WXK_NUMPAD_ENTER) {
    OnOK();
    return;
  }
  e.Skip();
}

wxBitmapToggleButton* CToolPage::AddToggle(wxSizer* sizer) {
  wxBitmap off = orb::gui::ModuleBitmap(IDB_TOGGLE_OFF);
  if (!off.IsOk()) off = wxBitmap(16, 16);
  m_toggle = new wxBitmapToggleButton(this, IDC_TOOL_ENABLE, off);
  m_toggle->Bind(wxEVT_TOGGLEBUTTON, [this](wxCommandEvent&) { OnEnable(); });
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(m_toggle, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
  row->Add(new wxStaticText(this, wxID_ANY, ToolStr(kStrToggleCaption)), 0, wxALIGN_CENTER_VERTICAL);
  sizer->Add(row, 0, wxALL, 4);
  return m_toggle;
}

wxButton* CToolPage::AddReset(wxSizer* sizer) {
  auto* b = new wxButton(this, IDC_TOOL_RESET, ToolStr(kStrReset));
  wxBitmap bmp = orb::gui::ModuleBitmap(IDB_RESET);
  if (bmp.IsOk()) b->SetBitmap(bmp);
  b->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnReset(); });
  sizer->Add(b, 0, wxALL, 4);
  return b;
}

wxButton* CToolPage::AddApply(wxSizer* sizer) {
  auto* b = new wxButton(this, wxID_OK, ToolStr(kStrApply));
  b->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); });
  sizer->Add(b, 0, wxALL, 4);
  return b;
}

wxCheckBox* CToolPage::AddPreview(wxSizer* sizer) {
  auto* c = new wxCheckBox(this, IDC_TOOL_PREVIEW, ToolStr(kStrPreview));
  sizer->Add(c, 0, wxALL, 4);
  return c;
}

wxSlider* CToolPage::AddSlider(wxSizer* sizer, int id, int low, int high, int captionId, int textId,
                               wxStaticText** text) {
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  row->Add(new wxStaticText(this, wxID_ANY, ToolStr(captionId)), 0, wxALIGN_CENTER_VERTICAL | wxRIGHT, 6);
  wxStaticText* t = textId ? new wxStaticText(this, textId, "0", wxDefaultPosition, wxSize(40, -1)) : nullptr;
  if (t) row->Add(t, 0, wxALIGN_CENTER_VERTICAL);
  if (text) *text = t;
  sizer->Add(row, 0, wxLEFT | wxRIGHT | wxTOP, 4);
  auto* s = new wxSlider(this, id, low, low, high, wxDefaultPosition, wxSize(170, -1));
  sizer->Add(s, 0, wxLEFT | wxRIGHT | wxEXPAND, 4);
  return s;
}

void CToolPage::AddResetAndApply(wxSizer* sizer) {
  auto* row = new wxBoxSizer(wxHORIZONTAL);
  AddReset(row);
  AddApply(row);
  sizer->Add(row);
}

int CToolPage::SliderPosition(int sliderId) const {
  auto* s = dynamic_cast<wxSlider*>(FindWindow(sliderId));
  return s ? s->GetValue() : 0;
}

void CToolPage::SetSliderPosition(int sliderId, int position) {
  if (auto* s = dynamic_cast<wxSlider*>(FindWindow(sliderId))) s->SetValue(position);
}

void CToolPage::ShowSlider(int sliderId, int position, int textId, int value) {
  SetSliderPosition(sliderId, position);
  if (textId) ShowValue(textId, value);
}

void CToolPage::AfterReset(int sliderId) {
  UpdateControls();
  OnHScroll(orb::tools::kScrollThumbPosition, -1, sliderId);
}

void CToolPage::SetToggle(bool on) {
  if (m_toggle) m_toggle->SetValue(on);
}

bool CToolPage::ToggleOn() const { return m_toggle && m_toggle->GetValue(); }

void CToolPage::ShowValue(int textId, int value) {
  if (auto* t = dynamic_cast<wxStaticText*>(FindWindow(textId))) t->SetLabel(wxString::Format("%d", value));
}

void CDummyTools::BuildControls(wxSizer* sizer) {
  if (m_textId) {
    auto* t = new wxStaticText(this, wxID_ANY, ToolStr(m_textId));
    t->Wrap(180);
    sizer->Add(t, 0, wxALL, 8);
  }
}
