#include "scanning/gui/ScanToolsPropPage.h"

#include <wx/app.h>
#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/notebook.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>

#include "common/Messages.h"
#include "common/ResourceIds.h"
#include "common/gui/Resources.h"
#include "common/gui/WndWithToolTip.h"
#include "scanning/gui/ScanPropSheet.h"
#include "tools/FileNaming.h"
#include "tools/gui/SetupFilenameDlg.h"

using namespace orb::page_ids;

namespace {
CScanToolsPropPage* g_page = nullptr;

wxString W(const std::string& s) { return wxString::FromUTF8(s); }
// The save dialog of the output name: its title from the module and the filter of the
// scan output (without the closing "||" of a filter list, which the toolkit does not use).
constexpr int kStrBrowseTitle = orb::res::IDS_BROWSE_OUTPUT_TITLE;
const char* const kBrowseFilter =
    "Image Files (All supported formats)|*.tif;*.jpg;*.jp2;*.pdf;*.png;|All Files (*.*)|*.*";
std::string U(const wxString& s) { return std::string(s.ToUTF8()); }
}  // namespace

class CScanToolsPropPage::Host : public orb::ScanOutputPageHost {
 public:
  explicit Host(CScanToolsPropPage& page) : page_(page) {}
  intptr_t SendToFrame(uint32_t msg, uintptr_t w, intptr_t l) override {
    return orb::SendAppMessage(g_hMainFrame.load(), msg, w, l);
  }
  std::string String(int id) override { return U(orb::gui::Str(id)); }
  void ShowMessage(int id) override {
    wxMessageBox(orb::gui::Str(id), wxTheApp ? wxTheApp->GetAppDisplayName() : wxString(),
                 wxOK | wxICON_EXCLAMATION, &page_);
  }
  bool AskYesNo(int id) override {
    return wxMessageBox(orb::gui::Str(id), wxTheApp ? wxTheApp->GetAppDisplayName() : wxString(),
                        wxYES_NO | wxICON_QUESTION, &page_) == wxYES;
  }
  std::optional<std::string> RunSetupFilename(const std::string& namePart) override {
    CSetupFilenameDlg model(namePart);
    orb::gui::SetupFilenameDialog dlg(&page_, model);
    if (dlg.RunModal() != wxID_OK) return std::nullopt;
    return model.GetFileName();
  }
  std::optional<std::string> BrowseOutputFile(const std::string& path) override {
    wxFileDialog dlg(&page_, orb::gui::Str(kStrBrowseTitle), wxString(), W(path), kBrowseFilter,
                     wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    dlg.SetPath(W(path));
    if (dlg.ShowModal() != wxID_OK) return std::nullopt;
    return U(dlg.GetPath());
  }
  void StartResolutionTimer() override { page_.m_resolutionTimer.StartOnce(50); }

 private:
  CScanToolsPropPage& page_;
};

CScanToolsPropPage::CScanToolsPropPage(wxWindow* parent) : m_resolutionTimer(this) {
  m_host = std::make_unique<Host>(*this);
  m_model = std::make_unique<orb::ScanOutputPageModel>(*m_host);
  Build(parent);
  m_model->OnInitDialog();
  Push();
  g_page = this;
  // A timer with an owner delivers to the owner: handlers bound on the timer itself never run.
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Run([this] { m_model->SelectResolutionNumber(); }); },
       m_resolutionTimer.GetId());
  if (auto* book = dynamic_cast<wxNotebook*>(parent)) {
    book->Bind(wxEVT_NOTEBOOK_PAGE_CHANGED, [this, book](wxBookCtrlEvent& e) {
      if (e.GetSelection() >= 0 && book->GetPage(static_cast<size_t>(e.GetSelection())) == this) OnSetActive();
      e.Skip();
    });
  }
  CallAfter([this] { OnSetActive(); });
}

CScanToolsPropPage::~CScanToolsPropPage() {
  if (g_page == this) g_page = nullptr;
  m_resolutionTimer.Stop();
  // The controls go while this page is whole; their last focus events change nothing.
  m_pushing = true;
  DestroyChildren();
  m_controls.clear();
}

CScanToolsPropPage* CScanToolsPropPage::Current() { return g_page; }

void CScanToolsPropPage::Build(wxWindow* parent) {
  if (!orb::gui::LoadPanelTemplate(this, parent, kTemplateId) || !FindControls()) BuildWithoutTemplate(parent);
  if (auto* name = dynamic_cast<wxTextCtrl*>(m_controls[kFileName]))
    name->SetMaxLength(static_cast<unsigned long>(orb::kPathField - 1));
  orb::gui::ApplyToolTips(this, MiscSettings.TooltipMode);
  BindEvents();
}

bool CScanToolsPropPage::FindControls() {
  m_controls.clear();
  for (const auto& [id, state] : m_model->Controls()) {
    wxWindow* w = FindWindow(orb::res::WxCommandId(id));
    if (!w) return false;
    m_controls[id] = w;
  }
  return true;
}

void CScanToolsPropPage::BuildWithoutTemplate(wxWindow* parent) {
  // A module without the page's template (or with one that lacks a control): the controls
  // built here.
  if (!GetHandle()) Create(parent, wxID_ANY);
  DestroyChildren();
  SetSizer(nullptr);
  m_controls.clear();
  auto bitmapOr = [](int bitmapId) { return orb::gui::ModuleBitmap(bitmapId); };
  auto button = [&](int id, const char* label, int bitmapId) -> wxWindow* {
    wxBitmap bmp = bitmapId ? bitmapOr(bitmapId) : wxBitmap();
    // Ids of 32767 and above do not fit the toolkit: the button carries the moved id.
    wxButton* b = new wxButton(this, orb::res::WxCommandId(id), label);
    if (bmp.IsOk()) b->SetBitmap(bmp);
    m_controls[id] = b;
    return b;
  };
  auto label = [&](int id, const char* text) {
    auto* s = new wxStaticText(this, id, text);
    m_controls[id] = s;
    return s;
  };
  auto edit = [&](int id, int width) {
    auto* e = new wxTextCtrl(this, id, "", wxDefaultPosition, wxSize(width, -1), wxTE_PROCESS_ENTER);
    m_controls[id] = e;
    return e;
  };

  auto* top = new wxBoxSizer(wxHORIZONTAL);
  // Scan, Accept, Reject and the medium buttons.
  auto* actions = new wxBoxSizer(wxVERTICAL);
  actions->Add(button(kScan, "Scan", orb::page_bitmaps::kScanIdle), 0, wxEXPAND | wxBOTTOM, 4);
  auto* decide = new wxBoxSizer(wxHORIZONTAL);
  decide->Add(button(kAccept, "Accept", 0), 1, wxRIGHT, 4);
  decide->Add(button(kReject, "Reject", 0), 1);
  actions->Add(decide, 0, wxEXPAND | wxBOTTOM, 4);
  auto* medium = new wxBoxSizer(wxHORIZONTAL);
  medium->Add(button(kUnload, "Unload", 0), 1, wxRIGHT, 4);
  medium->Add(button(kLoad, "Load", 0), 1);
  actions->Add(medium, 0, wxEXPAND);
  top->Add(actions, 0, wxALL, 6);

  // Colour mode and resolution.
  auto* modes = new wxFlexGridSizer(2, 4, 6);
  modes->Add(new wxStaticText(this, wxID_ANY, "Colour mode"), 0, wxALIGN_CENTER_VERTICAL);
  auto* colour = new wxChoice(this, kColourMode, wxDefaultPosition, wxSize(220, -1));
  m_controls[kColourMode] = colour;
  modes->Add(colour, 0, wxEXPAND);
  modes->Add(new wxStaticText(this, wxID_ANY, "Resolution"), 0, wxALIGN_CENTER_VERTICAL);
  auto* res = new wxComboBox(this, kResolution, "", wxDefaultPosition, wxSize(220, -1), 0, nullptr,
                             wxCB_DROPDOWN | wxTE_PROCESS_ENTER);
  m_controls[kResolution] = res;
  modes->Add(res, 0, wxEXPAND);
  modes->Add(new wxStaticText(this, wxID_ANY, "Output format"), 0, wxALIGN_CENTER_VERTICAL);
  auto* format = new wxChoice(this, kOutputFormat, wxDefaultPosition, wxSize(220, -1));
  m_controls[kOutputFormat] = format;
  modes->Add(format, 0, wxEXPAND);
  top->Add(modes, 0, wxALL, 6);

  // Size.
  auto* size = new wxFlexGridSizer(4, 4, 6);
  auto* rAuto = new wxRadioButton(this, kSizeAuto, "Automatic width", wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
  auto* rStd = new wxRadioButton(this, kSizeStandard, "Paper size");
  auto* rCustom = new wxRadioButton(this, kSizeCustom, "Custom");
  m_controls[kSizeAuto] = rAuto;
  m_controls[kSizeStandard] = rStd;
  m_controls[kSizeCustom] = rCustom;
  size->Add(rAuto);
  size->Add(rStd);
  size->Add(rCustom);
  size->AddSpacer(1);
  auto* paper = new wxChoice(this, kPaperSize, wxDefaultPosition, wxSize(150, -1));
  auto* orient = new wxChoice(this, kOrientation, wxDefaultPosition, wxSize(110, -1));
  m_controls[kPaperSize] = paper;
  m_controls[kOrientation] = orient;
  size->Add(paper);
  size->Add(orient);
  size->AddSpacer(1);
  size->AddSpacer(1);
  size->Add(label(kWidthLabel, "Width"), 0, wxALIGN_CENTER_VERTICAL);
  size->Add(edit(kWidth, 80));
  size->Add(label(kLengthLabel, "Length"), 0, wxALIGN_CENTER_VERTICAL);
  size->Add(edit(kLength, 80));
  size->Add(label(kLeftLabel, "Left"), 0, wxALIGN_CENTER_VERTICAL);
  size->Add(edit(kLeft, 80));
  size->Add(label(kTopLabel, "Top"), 0, wxALIGN_CENTER_VERTICAL);
  size->Add(edit(kTop, 80));
  top->Add(size, 0, wxALL, 6);

  // Output name, naming, batch scanning, totals.
  auto* out = new wxBoxSizer(wxVERTICAL);
  auto* nameRow = new wxBoxSizer(wxHORIZONTAL);
  nameRow->Add(edit(kFileName, 360), 1, wxRIGHT, 4);
  nameRow->Add(button(kBrowse, "...", 0), 0, wxRIGHT, 4);
  nameRow->Add(button(kSetupFilename, "Naming", 0));
  out->Add(nameRow, 0, wxEXPAND | wxBOTTOM, 6);
  auto* extra = new wxBoxSizer(wxHORIZONTAL);
  auto* batch = new wxToggleButton(this, kBatchScan, "Batch scanning");
  m_controls[kBatchScan] = batch;
  extra->Add(batch, 0, wxRIGHT, 4);
  extra->Add(button(kTotals, "Totals", 0));
  out->Add(extra);
  top->Add(out, 1, wxALL, 6);
  SetSizer(top);
}

void CScanToolsPropPage::BindEvents() {
  auto* batch = m_controls[kBatchScan];
  auto* colour = m_controls[kColourMode];
  auto* format = m_controls[kOutputFormat];
  auto* paper = m_controls[kPaperSize];
  auto* orient = m_controls[kOrientation];
  auto* rAuto = m_controls[kSizeAuto];
  auto* rStd = m_controls[kSizeStandard];
  auto* rCustom = m_controls[kSizeCustom];
  auto* res = m_controls[kResolution];
  auto* name = m_controls[kFileName];
  Bind(wxEVT_BUTTON, &CScanToolsPropPage::OnButton, this);
  batch->Bind(wxEVT_TOGGLEBUTTON, [this](wxCommandEvent&) { Run([this] { m_model->ToggleBatchScan(); }); });
  colour->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { Run([this] { m_model->OnColourModeCloseUp(); }); });
  format->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { Run([this] { m_model->OnOutputFormatCloseUp(); }); });
  paper->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { Run([this] { m_model->OnPaperSizeCloseUp(); }); });
  orient->Bind(wxEVT_CHOICE, [this](wxCommandEvent&) { Run([this] { m_model->OnOrientationCloseUp(); }); });
  rAuto->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { Run([this] { m_model->OnSizeAuto(); }); });
  rStd->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { Run([this] { m_model->OnSizeStandard(); }); });
  rCustom->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { Run([this] { m_model->OnSizeCustom(); }); });
  res->Bind(wxEVT_COMBOBOX, [this](wxCommandEvent&) { Run([this] { m_model->OnResolutionCloseUp(); }); });
  res->Bind(wxEVT_TEXT, [this](wxCommandEvent&) {
    if (!m_pushing) Run([this] { m_model->OnResolutionEditUpdate(); });
  });
  res->Bind(wxEVT_SET_FOCUS, [this](wxFocusEvent& e) {
    Run([this] { m_model->SelectResolutionNumber(); });
    e.Skip();
  });
  res->Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& e) {
    Run([this] { m_model->OnResolutionKillFocus(); });
    e.Skip();
  });
  auto kill = [this](int id, void (orb::ScanOutputPageModel::*h)()) {
    m_controls[id]->Bind(wxEVT_KILL_FOCUS, [this, h](wxFocusEvent& e) {
      Run([this, h] { (m_model.get()->*h)(); });
      e.Skip();
    });
    m_controls[id]->Bind(wxEVT_TEXT_ENTER, [this, h](wxCommandEvent&) { Run([this, h] { (m_model.get()->*h)(); }); });
  };
  kill(kWidth, &orb::ScanOutputPageModel::OnKillFocusWidth);
  kill(kLength, &orb::ScanOutputPageModel::OnKillFocusLength);
  kill(kLeft, &orb::ScanOutputPageModel::OnKillFocusLeftOffset);
  kill(kTop, &orb::ScanOutputPageModel::OnKillFocusTopOffset);
  kill(kFileName, &orb::ScanOutputPageModel::OnKillFocusFileName);
  name->Bind(wxEVT_SET_FOCUS, [this](wxFocusEvent& e) {
    Run([this] { m_model->OnSetFocusFileName(); });
    e.Skip();
  });
}

wxWindow* CScanToolsPropPage::ControlWindow(int id) const {
  auto it = m_controls.find(id);
  return it == m_controls.end() ? nullptr : it->second;
}

void CScanToolsPropPage::Pull() {
  auto& m = *m_model;
  if (auto* c = dynamic_cast<wxChoice*>(m_controls[kColourMode])) m.Control(kColourMode).selection = c->GetSelection();
  if (auto* c = dynamic_cast<wxChoice*>(m_controls[kPaperSize])) m.Control(kPaperSize).selection = c->GetSelection();
  if (auto* c = dynamic_cast<wxChoice*>(m_controls[kOrientation])) m.Control(kOrientation).selection = c->GetSelection();
  if (auto* c = dynamic_cast<wxChoice*>(m_controls[kOutputFormat])) m.Control(kOutputFormat).selection = c->GetSelection();
  if (auto* c = dynamic_cast<wxComboBox*>(m_controls[kResolution])) {
    auto& r = m.Control(kResolution);
    r.text = U(c->GetValue());
    int sel = c->GetSelection();
    // Typed text that is no longer the row's entry counts as typed (no row).
    if (sel >= 0 && static_cast<size_t>(sel) < r.items.size() && r.items[static_cast<size_t>(sel)] != r.text) sel = -1;
    r.selection = sel;
  }
  for (int id : {kWidth, kLength, kLeft, kTop, kFileName}) {
    if (auto* e = dynamic_cast<wxTextCtrl*>(m_controls[id])) m.Control(id).text = U(e->GetValue());
  }
}

void CScanToolsPropPage::Push() {
  m_pushing = true;
  auto& m = *m_model;
  for (auto& [id, w] : m_controls) {
    const orb::ControlState& c = m.Control(id);
    if (w->IsShown() != c.shown) w->Show(c.shown);
    if (w->IsEnabled() != c.enabled) w->Enable(c.enabled);
    if (auto* ch = dynamic_cast<wxChoice*>(w)) {
      wxArrayString items;
      for (const auto& s : c.items) items.Add(W(s));
      if (ch->GetStrings() != items) ch->Set(items);
      if (ch->GetSelection() != c.selection) ch->SetSelection(c.selection);
    } else if (auto* cb = dynamic_cast<wxComboBox*>(w)) {
      wxArrayString items;
      for (const auto& s : c.items) items.Add(W(s));
      if (cb->GetStrings() != items) cb->Set(items);
      if (c.selection >= 0 && cb->GetSelection() != c.selection) cb->SetSelection(c.selection);
      if (U(cb->GetValue()) != c.text) cb->ChangeValue(W(c.text));
      if (c.selFrom >= 0 && c.selTo >= c.selFrom) static_cast<wxTextEntry*>(cb)->SetSelection(static_cast<long>(c.selFrom), static_cast<long>(c.selTo));
    } else if (auto* e = dynamic_cast<wxTextCtrl*>(w)) {
      if (U(e->GetValue()) != c.text) e->ChangeValue(W(c.text));
      if (id == kFileName && c.selFrom >= 0) e->SetInsertionPoint(c.selFrom);
    } else if (auto* r = dynamic_cast<wxRadioButton*>(w)) {
      if (c.checked && !r->GetValue()) r->SetValue(true);
    } else if (auto* t = dynamic_cast<wxToggleButton*>(w)) {
      if (t->GetValue() != c.checked) t->SetValue(c.checked);
      if (c.bitmap) {
        wxBitmap bmp = orb::gui::ModuleBitmap(c.bitmap);
        if (bmp.IsOk()) t->SetBitmap(bmp);
      }
    } else if (auto* b = dynamic_cast<wxButton*>(w)) {
      if (c.bitmap) {
        wxBitmap bmp = orb::gui::ModuleBitmap(c.bitmap);
        if (bmp.IsOk()) b->SetBitmap(bmp);
      }
      // Without the module's pictures the Scan button says what it will do.
      if (id == kScan) {
        const char* label = c.bitmap == orb::page_bitmaps::kScanStop    ? "Stop"
                            : c.bitmap == orb::page_bitmaps::kScanAgain ? "Scan again"
                                                                        : "Scan";
        if (b->GetLabel() != label) b->SetLabel(label);
      }
    }
  }
  m_pushing = false;
  Layout();
}

template <class F>
void CScanToolsPropPage::Run(F handler) {
  if (m_pushing) return;
  Pull();
  handler();
  Push();
}

void CScanToolsPropPage::OnButton(wxCommandEvent& e) {
  auto& m = *m_model;
  switch (orb::res::CommandFromWx(e.GetId())) {
    case kScan: Run([&] { m.OnScan(); }); break;
    case kAccept: Run([&] { m.OnAcceptPage(); }); break;
    case kReject: Run([&] { m.OnRejectPage(); }); break;
    case kUnload: Run([&] { m.OnUnloadMedium(); }); break;
    case kLoad: Run([&] { m.OnLoadMedium(); }); break;
    case kTotals: Run([&] { m.OnReportTotals(); }); break;
    case kBrowse: Run([&] { m.OnBrowseOutputFile(); }); break;
    case kSetupFilename: Run([&] { m.OnSetupFilename(); }); break;
    default: e.Skip(); break;
  }
}

void CScanToolsPropPage::PressButton(int id) {
  wxWindow* w = ControlWindow(id);
  if (!w || !w->IsEnabled()) return;
  if (id == kBatchScan) {
    Run([this] { m_model->ToggleBatchScan(); });
    return;
  }
  wxCommandEvent e(wxEVT_BUTTON, orb::res::WxCommandId(id));
  e.SetEventObject(w);
  OnButton(e);
}

bool CScanToolsPropPage::OnSetActive() {
  Run([this] { m_model->OnSetActive(); });
  return true;
}

void CScanToolsPropPage::ToggleBatchScan() { Run([this] { m_model->ToggleBatchScan(); }); }

void CScanToolsPropPage::ValidateCustomArea() { Run([this] { m_model->ValidateCustomArea(); }); }

namespace orb::gui {
void InstallScanOutputPage() {
  CScanPropSheet::SetPageFactory(CScanPropSheet::kScanOutput,
                                 [](wxWindow* parent) -> wxWindow* { return new CScanToolsPropPage(parent); });
}
}  // namespace orb::gui
