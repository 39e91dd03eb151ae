#include "scanning/gui/ControlBinding.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/radiobut.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "common/ResourceIds.h"
#include "common/gui/Resources.h"

namespace orb::gui {
namespace {
wxString W(const std::string& s) { return wxString::FromUTF8(s); }
std::string U(const wxString& s) { return std::string(s.ToUTF8()); }
}  // namespace

std::map<int, wxWindow*> FindModelControls(wxWindow* root, const std::map<int, ControlState>& controls) {
  std::map<int, wxWindow*> found;
  for (const auto& [id, state] : controls) {
    if (wxWindow* w = root->FindWindow(orb::res::WxCommandId(id))) found[id] = w;
  }
  return found;
}

void PullControl(wxWindow* w, ControlState& c) {
  if (auto* ch = dynamic_cast<wxChoice*>(w)) {
    c.selection = ch->GetSelection();
  } else if (auto* e = dynamic_cast<wxTextCtrl*>(w)) {
    c.text = U(e->GetValue());
  } else if (auto* cb = dynamic_cast<wxCheckBox*>(w)) {
    c.checked = cb->GetValue();
  } else if (auto* r = dynamic_cast<wxRadioButton*>(w)) {
    c.checked = r->GetValue();
  } else if (auto* s = dynamic_cast<wxSlider*>(w)) {
    c.position = s->GetValue();
  }
}

void PushControl(int id, wxWindow* w, const ControlState& c) {
  if (w->IsShown() != c.shown) w->Show(c.shown);
  if (w->IsEnabled() != c.enabled) w->Enable(c.enabled);
  if (auto* ch = dynamic_cast<wxChoice*>(w)) {
    wxArrayString items;
    for (const auto& s : c.items) items.Add(W(s));
    if (ch->GetStrings() != items) ch->Set(items);
    if (ch->GetSelection() != c.selection && c.selection < static_cast<int>(ch->GetCount()))
      ch->SetSelection(c.selection);
  } else if (auto* e = dynamic_cast<wxTextCtrl*>(w)) {
    if (U(e->GetValue()) != c.text) e->ChangeValue(W(c.text));
    if (c.selFrom >= 0 && c.selTo >= c.selFrom) e->SetSelection(c.selFrom, c.selTo);
  } else if (auto* cb = dynamic_cast<wxCheckBox*>(w)) {
    if (cb->GetValue() != c.checked) cb->SetValue(c.checked);
  } else if (auto* r = dynamic_cast<wxRadioButton*>(w)) {
    if (c.checked && !r->GetValue()) r->SetValue(true);
    if (!c.text.empty() && U(r->GetLabel()) != c.text) r->SetLabel(W(c.text));
  } else if (auto* s = dynamic_cast<wxSlider*>(w)) {
    if (c.high > c.low && (s->GetMin() != c.low || s->GetMax() != c.high)) s->SetRange(c.low, c.high);
    if (c.tick > 0) s->SetTickFreq(c.tick);
    if (s->GetValue() != c.position) s->SetValue(c.position);
  } else if (auto* t = dynamic_cast<wxStaticText*>(w)) {
    if (!c.text.empty() && U(t->GetLabel()) != c.text) t->SetLabel(W(c.text));
  } else if (auto* b = dynamic_cast<wxButton*>(w)) {
    if (c.bitmap) {
      wxBitmap bmp = ModuleBitmap(c.bitmap);
      if (bmp.IsOk()) b->SetBitmap(bmp);
    }
  }
  (void)id;
}

bool SliderCodeOf(wxEventType type, SliderCode* code) {
  SliderCode c;
  if (type == wxEVT_SCROLL_LINEUP) c = SliderCode::LineLeft;
  else if (type == wxEVT_SCROLL_LINEDOWN) c = SliderCode::LineRight;
  else if (type == wxEVT_SCROLL_PAGEUP) c = SliderCode::PageLeft;
  else if (type == wxEVT_SCROLL_PAGEDOWN) c = SliderCode::PageRight;
  else if (type == wxEVT_SCROLL_THUMBRELEASE) c = SliderCode::ThumbPosition;
  else if (type == wxEVT_SCROLL_THUMBTRACK) c = SliderCode::ThumbTrack;
  else if (type == wxEVT_SCROLL_TOP) c = SliderCode::Left;
  else if (type == wxEVT_SCROLL_BOTTOM) c = SliderCode::Right;
  else if (type == wxEVT_SCROLL_CHANGED) c = SliderCode::EndScroll;
  else return false;
  if (code) *code = c;
  return true;
}

void BindScroll(wxWindow* slider, std::function<void(wxScrollEvent&)> handler) {
  if (!slider) return;
  for (wxEventType t : {wxEVT_SCROLL_TOP, wxEVT_SCROLL_BOTTOM, wxEVT_SCROLL_LINEUP, wxEVT_SCROLL_LINEDOWN,
                        wxEVT_SCROLL_PAGEUP, wxEVT_SCROLL_PAGEDOWN, wxEVT_SCROLL_THUMBTRACK,
                        wxEVT_SCROLL_THUMBRELEASE, wxEVT_SCROLL_CHANGED})
    slider->Bind(wxEventTypeTag<wxScrollEvent>(t), handler);
}

}  // namespace orb::gui
