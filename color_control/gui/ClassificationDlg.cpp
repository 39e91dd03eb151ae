#include "color_control/gui/ClassificationDlg.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/colordlg.h>
#include <wx/dc.h>
#include <wx/dcclient.h>
#include <wx/radiobut.h>
#include <wx/scrolbar.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>
#include <wx/utils.h>
#include <wx/vlbox.h>

#include "color_control/gui/PaletteView.h"

// The colours merged into the current one, each item a swatch.
class MergeListBox : public wxVListBox {
public:
  MergeListBox(wxWindow* parent, CClassificationModel& m)
      : wxVListBox(parent, CClassificationDlg::kMergeList, wxDefaultPosition, wxSize(140, 90),
                   wxLB_MULTIPLE),
        model_(m) {}
  std::vector<int32_t> ids;
  void Fill(const std::vector<int32_t>& cellIds) {
    ids = cellIds;
    DeselectAll();
    SetItemCount(ids.size());
    Refresh();
  }

private:
  void OnDrawItem(wxDC& dc, const wxRect& rect, size_t n) const override {
    const int p = model_.PositionOfCell(ids[n]);
    if (p < 0) return;
    const ColorEntry& e = model_.Entries()[p];
    dc.SetBrush(wxBrush(wxColour(e.Red(), e.Green(), e.Blue())));
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.DrawRectangle(rect);
    if (IsSelected(n)) {
      dc.SetBrush(*wxTRANSPARENT_BRUSH);
      dc.SetPen(wxPen(*wxBLACK, 1, wxPENSTYLE_DOT));
      dc.DrawRectangle(wxRect(rect).Deflate(2));
    }
  }
  wxCoord OnMeasureItem(size_t) const override { return 16; }
  void OnDrawBackground(wxDC&, const wxRect&, size_t) const override {}
  CClassificationModel& model_;
};

namespace {
const int kSortStrings[5] = {3, 6, 4, 7, 5};  // Index, Count, Hue, Lightness, Saturation
}

CClassificationDlg::CClassificationDlg(wxWindow* parent, CTintwellCtrl& ctrl)
    : wxDialog(parent, wxID_ANY, wxString::FromUTF8(ctrl.Strings().Get(215)), wxDefaultPosition,
               wxDefaultSize, wxDEFAULT_DIALOG_STYLE),
      ctrl_(&ctrl), model_(ctrl.Model()), refresh_(this) {
  BuildControls();
  HueflockSettings s;
  if (!ctrl.SettingsFolder().empty()) s = HueflockSettings::Load(ctrl.SettingsFolder());
  ApplySettings(s);
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { if (ctrl_) ctrl_->OnRefreshTimer(); });
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { Finish(2); });
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Finish(1); }, wxID_OK);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Finish(2); }, wxID_CANCEL);
}

CClassificationDlg::~CClassificationDlg() {
  if (onGone) onGone();
}

void CClassificationDlg::BuildControls() {
  auto* top = new wxBoxSizer(wxHORIZONTAL);
  auto* left = new wxBoxSizer(wxVERTICAL);
  view_ = new PaletteView(this, kViewFrame, model_);
  view_->onSelect = [this](int p) { MakeCurrent(p); };
  view_->onMerge = [this](int p) { OnMerge(p); };
  view_->onScrolled = [this](int s) { if (scroll_) scroll_->SetThumbPosition(s); };
  left->Add(view_, 1, wxEXPAND | wxALL, 4);
  scroll_ = new wxScrollBar(this, kScroll);
  scroll_->Bind(wxEVT_SCROLL_CHANGED, &CClassificationDlg::OnHistScroll, this);
  scroll_->Bind(wxEVT_SCROLL_THUMBTRACK, &CClassificationDlg::OnHistScroll, this);
  scroll_->Bind(wxEVT_SCROLL_LINEUP, &CClassificationDlg::OnHistScroll, this);
  scroll_->Bind(wxEVT_SCROLL_LINEDOWN, &CClassificationDlg::OnHistScroll, this);
  scroll_->Bind(wxEVT_SCROLL_PAGEUP, &CClassificationDlg::OnHistScroll, this);
  scroll_->Bind(wxEVT_SCROLL_PAGEDOWN, &CClassificationDlg::OnHistScroll, this);
  left->Add(scroll_, 0, wxEXPAND | wxLEFT | wxRIGHT, 4);
  auto* views = new wxBoxSizer(wxHORIZONTAL);
  for (int i = 0; i < 3; ++i) {
    radios_[i] = new wxRadioButton(this, kGrid + i, wxString::FromUTF8(ctrl_->Strings().Get(kGrid + i)),
                                   wxDefaultPosition, wxDefaultSize, i == 0 ? wxRB_GROUP : 0);
    radios_[i]->Bind(wxEVT_RADIOBUTTON, &CClassificationDlg::OnViewRadio, this);
    views->Add(radios_[i], 0, wxALL, 4);
  }
  left->Add(views);
  auto* countRow = new wxBoxSizer(wxHORIZONTAL);
  count_ = new wxSlider(this, kCountSlider, 1, 1, 2, wxDefaultPosition, wxSize(160, -1));
  count_->Bind(wxEVT_SCROLL_CHANGED, &CClassificationDlg::OnCountSlider, this);
  count_->Bind(wxEVT_SCROLL_THUMBTRACK, &CClassificationDlg::OnCountSlider, this);
  countBox_ = new wxTextCtrl(this, kCountBox, "0", wxDefaultPosition, wxSize(50, -1), wxTE_PROCESS_ENTER);
  // A number typed into the box moves the slider, within its range.
  countBox_->Bind(wxEVT_TEXT_ENTER, [this](wxCommandEvent&) {
    long v = 0;
    if (countBox_->GetValue().ToLong(&v)) count_->SetValue(std::clamp(int(v), count_->GetMin(), count_->GetMax()));
    countBox_->ChangeValue(wxString::Format("%d", count_->GetValue()));
  });
  classify_ = new wxButton(this, kClassify, "Classify");
  classify_->Bind(wxEVT_BUTTON, &CClassificationDlg::OnClassify, this);
  countRow->Add(count_, 1, wxALL, 4);
  countRow->Add(countBox_, 0, wxALL, 4);
  countRow->Add(classify_, 0, wxALL, 4);
  left->Add(countRow, 0, wxEXPAND);
  mergedTo_ = new wxStaticText(this, kMergedTo, "");
  left->Add(mergedTo_, 0, wxALL, 4);
  top->Add(left, 1, wxEXPAND);

  auto* right = new wxBoxSizer(wxVERTICAL);
  sort_ = new wxChoice(this, kSortCombo);
  for (int id : kSortStrings) sort_->Append(wxString::FromUTF8(ctrl_->Strings().Get(id)));
  sort_->Bind(wxEVT_CHOICE, &CClassificationDlg::OnSort, this);
  right->Add(sort_, 0, wxEXPAND | wxALL, 4);
  auto* labels = new wxFlexGridSizer(2, 2, 4);
  sortName_ = new wxStaticText(this, kSortName, "");
  sortValue_ = new wxStaticText(this, kSortValue, "", wxDefaultPosition, wxSize(70, -1));
  countLabel_ = new wxStaticText(this, kCountLabel, "", wxDefaultPosition, wxSize(70, -1));
  labels->Add(sortName_);
  labels->Add(sortValue_);
  labels->Add(new wxStaticText(this, wxID_ANY, wxString::FromUTF8(ctrl_->Strings().Get(6)) + ":"));
  labels->Add(countLabel_);
  right->Add(labels, 0, wxALL, 4);
  auto* edit = new wxBoxSizer(wxHORIZONTAL);
  swatch_ = new wxPanel(this, kSwatch, wxDefaultPosition, wxSize(40, 120), wxBORDER_SIMPLE);
  edit->Add(swatch_, 0, wxALL, 4);
  const wxColour boxBg[3] = {*wxRED, *wxGREEN, *wxBLUE}, boxFg[3] = {*wxWHITE, *wxBLACK, *wxWHITE};
  for (int k = 0; k < 3; ++k) {
    auto* col = new wxBoxSizer(wxVERTICAL);
    rgb_[k] = new wxSlider(this, kRed + k, 0, 0, 255, wxDefaultPosition, wxSize(-1, 120), wxSL_VERTICAL);
    rgb_[k]->Bind(wxEVT_SCROLL_THUMBTRACK, &CClassificationDlg::OnColorSlider, this);
    rgb_[k]->Bind(wxEVT_SCROLL_THUMBRELEASE, &CClassificationDlg::OnColorSlider, this);
    rgb_[k]->Bind(wxEVT_SCROLL_LINEUP, &CClassificationDlg::OnColorSlider, this);
    rgb_[k]->Bind(wxEVT_SCROLL_LINEDOWN, &CClassificationDlg::OnColorSlider, this);
    rgb_[k]->Bind(wxEVT_SCROLL_PAGEUP, &CClassificationDlg::OnColorSlider, this);
    rgb_[k]->Bind(wxEVT_SCROLL_PAGEDOWN, &CClassificationDlg::OnColorSlider, this);
    rgb_[k]->Bind(wxEVT_SCROLL_TOP, &CClassificationDlg::OnColorSlider, this);
    rgb_[k]->Bind(wxEVT_SCROLL_BOTTOM, &CClassificationDlg::OnColorSlider, this);
    rgbBox_[k] = new wxTextCtrl(this, kRedBox + k, "0", wxDefaultPosition, wxSize(40, -1), wxTE_READONLY);
    rgbBox_[k]->SetBackgroundColour(boxBg[k]);
    rgbBox_[k]->SetForegroundColour(boxFg[k]);
    col->Add(rgb_[k], 1, wxALIGN_CENTER);
    col->Add(rgbBox_[k], 0, wxALIGN_CENTER);
    edit->Add(col, 0, wxALL, 2);
  }
  swatch_->Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
    wxPaintDC dc(swatch_);
    const ColorEntry& e = model_.Entries()[model_.Current()];
    dc.SetBrush(wxBrush(wxColour(e.Red(), e.Green(), e.Blue())));
    dc.DrawRectangle(wxPoint(0, 0), swatch_->GetClientSize());
  });
  right->Add(edit);
  undo_ = new wxButton(this, kUndo, "Undo");
  undo_->Bind(wxEVT_BUTTON, &CClassificationDlg::OnUndo, this);
  right->Add(undo_, 0, wxALL, 4);
  mergeLabel_ = new wxStaticText(this, kMergeLabel, wxString::FromUTF8(ctrl_->Strings().Get(261)));
  right->Add(mergeLabel_, 0, wxLEFT, 4);
  mergeList_ = new MergeListBox(this, model_);
  right->Add(mergeList_, 0, wxEXPAND | wxALL, 4);
  unmerge_ = new wxButton(this, kUnmerge, wxString::FromUTF8(ctrl_->Strings().Get(260)));
  unmerge_->Bind(wxEVT_BUTTON, &CClassificationDlg::OnUnmerge, this);
  right->Add(unmerge_, 0, wxALL, 4);
  auto* toggles = new wxGridSizer(2, 2, 2);
  pick_ = new wxToggleButton(this, kPick, "Pick");
  area_ = new wxToggleButton(this, kArea, "Area");
  rgbDisplay_ = new wxToggleButton(this, kRgbDisplay, "RGB");
  palDisplay_ = new wxToggleButton(this, kPaletteDisplay, "Palette");
  for (auto* t : {pick_, area_, rgbDisplay_, palDisplay_}) {
    t->Bind(wxEVT_TOGGLEBUTTON, &CClassificationDlg::OnToggle, this);
    toggles->Add(t, 0, wxEXPAND);
  }
  replace_ = new wxCheckBox(this, kReplace, "Replace");
  replace_->Bind(wxEVT_CHECKBOX, &CClassificationDlg::OnReplace, this);
  auto* choose = new wxButton(this, kChooseColor, "Colour...");
  choose->Bind(wxEVT_BUTTON, &CClassificationDlg::OnChooseColor, this);
  toggles->Add(replace_);
  toggles->Add(choose);
  right->Add(toggles, 0, wxALL, 4);
  auto* help = new wxButton(this, kHelp, "Help");
  help->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
    if (ctrl_) wxLaunchDefaultApplication(wxString::FromUTF8(ctrl_->HelpFile()));
  });
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  buttons->Add(help, 0, wxALL, 2);
  buttons->Add(new wxButton(this, wxID_OK, "OK"), 0, wxALL, 2);
  buttons->Add(new wxButton(this, wxID_CANCEL, "Cancel"), 0, wxALL, 2);
  right->Add(buttons);
  top->Add(right, 0, wxEXPAND);
  SetSizerAndFit(top);
  palDisplay_->SetValue(true);
  undo_->Disable();
}

void CClassificationDlg::ApplySettings(const HueflockSettings& s) {
  const int key = std::clamp(s.sortKey, 0, 4);
  model_.SetSortKey(SortKey(key));
  sort_->SetSelection(key);
  view_kind_ = std::clamp(s.view, 0, 2);
  radios_[view_kind_]->SetValue(true);
  view_->SetKind(PaletteViewKind(view_kind_));
  // The switch is stored here and applied by the refresh after a classification.
  model_.SetReplacement(false, uint32_t(s.replaceColor));
  replace_->SetValue(s.replaceOn != 0);
  Centre();
  if (s.top != -1 && s.left != -1) {
    const wxSize sz = GetSize();
    SetSize(s.left, s.top, sz.x + 5, sz.y + 7);
  }
  sortName_->SetLabel(sort_->GetStringSelection() + ":");
}

void CClassificationDlg::RedrawAll() {
  UpdateScrollBar();
  view_->Refresh();
  swatch_->Refresh();
  undo_->Enable(model_.CanUndo());
  UpdateLabels();
}

void CClassificationDlg::UpdateScrollBar() {
  const auto& t = model_.Tables();
  const int max = HistogramScrollMax(t.colorCount, t.activeCount);
  const bool show = view_kind_ == 1 && max > 0;
  if (!show) view_->SetScroll(0);
  scroll_->SetScrollbar(view_->Scroll(), 1, max + 1, 16);
  scroll_->Show(show);
  Layout();
}

void CClassificationDlg::ShowComponents() {
  const ColorEntry& e = model_.Entries()[model_.Current()];
  const uint8_t v[3] = {e.Red(), e.Green(), e.Blue()};
  for (int k = 0; k < 3; ++k) {
    rgb_[k]->SetValue(255 - v[k]);
    rgbBox_[k]->ChangeValue(wxString::Format("%d", v[k]));
  }
}

void CClassificationDlg::UpdateLabels() {
  const int cur = model_.Current();
  sortValue_->SetLabel(model_.SortValueText(cur));
  countLabel_->SetLabel(wxString::Format("%u", model_.Entries()[cur].count));
  const auto& t = model_.Tables();
  const bool merged = t.activeCount != 0 && t.activeCount != t.requestedCount;
  std::string text = ctrl_ ? ctrl_->Strings().Get(8) : "Merged to %d colors";
  const size_t at = text.find("%d");
  if (at != std::string::npos) text.replace(at, 2, std::to_string(t.activeCount));
  mergedTo_->SetLabel(wxString::FromUTF8(text));
  mergedTo_->Show(merged);
}

void CClassificationDlg::MakeCurrent(int position) {
  model_.SelectCurrent(position);
  ShowComponents();
  const auto ids = model_.MergeListOf(model_.Current());
  mergeList_->Fill(ids);
  for (wxWindow* w : std::initializer_list<wxWindow*>{mergeList_, mergeLabel_, unmerge_}) w->Enable(!ids.empty());
  RedrawAll();
}

void CClassificationDlg::SetCountRange(int max, int pos) {
  count_->SetRange(1, std::max(1, max));
  count_->SetValue(std::max(1, pos));
  countBox_->ChangeValue(wxString::Format("%d", pos));
}

void CClassificationDlg::EnableClassify(bool on) {
  count_->Enable(on);
  countBox_->Enable(on);
  classify_->Enable(on);
}

void CClassificationDlg::OnSort(wxCommandEvent&) {
  model_.SetSortKey(SortKey(std::clamp(sort_->GetSelection(), 0, 4)));
  model_.SortAndRebuild();
  sortName_->SetLabel(sort_->GetStringSelection() + ":");
  RedrawAll();
}

void CClassificationDlg::OnViewRadio(wxCommandEvent& e) {
  view_kind_ = e.GetId() - kGrid;
  view_->SetKind(PaletteViewKind(view_kind_));
  RedrawAll();
}

void CClassificationDlg::OnClassify(wxCommandEvent&) {
  if (!ctrl_ || !ctrl_->Reclassify(count_->GetValue())) return;
  view_->SetScroll(0);
  MakeCurrent(0);
}

void CClassificationDlg::OnUndo(wxCommandEvent&) {
  model_.Undo();
  const auto& t = model_.Tables();
  SetCountRange(t.requestedCount, t.requestedCount);
  MakeCurrent(model_.Current());
}

void CClassificationDlg::OnUnmerge(wxCommandEvent&) {
  std::vector<int32_t> chosen;
  for (size_t i = 0; i < mergeList_->ids.size(); ++i) {
    if (mergeList_->IsSelected(i)) chosen.push_back(mergeList_->ids[i]);
  }
  if (chosen.empty()) return;
  model_.Unmerge(chosen);
  MakeCurrent(model_.Current());
}

void CClassificationDlg::OnMerge(int target) {
  std::vector<uint8_t> flags;
  for (const auto& e : model_.Entries()) flags.push_back(e.flagged);
  const int32_t targetId = model_.Entries()[target].cellId;
  if (!model_.MergeFlagged(flags, target)) return;
  MakeCurrent(model_.RepresentativeOf(model_.PositionOfCell(targetId)));
}

void CClassificationDlg::OnColorSlider(wxScrollEvent& e) {
  const wxEventType t = e.GetEventType();
  const bool dragStep = t == wxEVT_SCROLL_THUMBTRACK;
  const bool newDrag = !dragStep || !inDrag_;
  if (t == wxEVT_SCROLL_THUMBRELEASE) {
    inDrag_ = false;
    return;
  }
  inDrag_ = dragStep;
  const int k = e.GetId() - kRed;
  const uint8_t v = uint8_t(255 - std::clamp(e.GetPosition(), 0, 255));
  model_.EditCurrentComponent(k, v, newDrag);
  rgbBox_[k]->ChangeValue(wxString::Format("%d", v));
  undo_->Enable(model_.CanUndo());
  UpdateLabels();
  swatch_->Refresh();
  view_->Refresh();
}

void CClassificationDlg::OnCountSlider(wxScrollEvent& e) {
  countBox_->ChangeValue(wxString::Format("%d", e.GetPosition()));
}

void CClassificationDlg::OnHistScroll(wxScrollEvent& e) { view_->SetScroll(e.GetPosition()); }

void CClassificationDlg::OnToggle(wxCommandEvent& e) {
  if (!ctrl_) return;
  const bool on = e.IsChecked();
  switch (e.GetId()) {
    case kPick:
      if (on) {
        area_->SetValue(false);
        ctrl_->Fire(kEvCancelRequestMergeArea);
      }
      ctrl_->Fire(on ? kEvRequestCurrentColor : kEvCancelRequestCurrentColor);
      break;
    case kArea:
      if (on) {
        pick_->SetValue(false);
        ctrl_->Fire(kEvCancelRequestCurrentColor);
      }
      ctrl_->Fire(on ? kEvRequestMergeArea : kEvCancelRequestMergeArea);
      break;
    case kRgbDisplay:
      palDisplay_->SetValue(false);
      rgbDisplay_->SetValue(true);
      ctrl_->Fire(kEvDisplayUsingRGB);
      break;
    case kPaletteDisplay:
      rgbDisplay_->SetValue(false);
      palDisplay_->SetValue(true);
      ctrl_->Fire(kEvDisplayUsingPalette);
      break;
  }
}

void CClassificationDlg::OnReplace(wxCommandEvent&) {
  model_.SetReplacement(replace_->GetValue(), model_.ReplacementColor());
}

void CClassificationDlg::OnChooseColor(wxCommandEvent&) {
  wxColourData data;
  const uint32_t c = model_.ReplacementColor();
  data.SetColour(wxColour(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF));
  wxColourDialog dlg(this, &data);
  if (dlg.ShowModal() != wxID_OK) return;
  const wxColour got = dlg.GetColourData().GetColour();
  model_.SetReplacement(model_.ReplacementOn(), uint32_t(got.Red()) | got.Green() << 8 | got.Blue() << 16);
}

void CClassificationDlg::Finish(uint32_t state) {
  if (!ctrl_ || IsBeingDeleted()) return;
  refresh_.Stop();
  HueflockSettings s;
  s.sortKey = int32_t(model_.Key());
  s.view = view_kind_;
  const wxPoint at = GetPosition();
  s.top = at.y;
  s.left = at.x;
  s.replaceOn = replace_->GetValue() ? 1 : 0;
  s.replaceColor = int32_t(model_.ReplacementColor());
  const std::string folder = ctrl_->SettingsFolder();
  CTintwellCtrl* ctrl = ctrl_;
  // The host may release the control from its HueflockDlgClosed handler: the dialog
  // then hears of it through Detach and touches the control no more.
  ctrl->OnDialogClosing(state);
  if (!folder.empty()) s.Save(folder);
  Destroy();
  if (ctrl_) ctrl_->OnDialogDestroyed();
}
