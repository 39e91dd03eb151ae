#include "tools/gui/SetupFilenameDlg.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <vector>

#include "common/gui/Resources.h"
#include "common/gui/WndWithToolTip.h"
#include "engine/Settings.h"

namespace orb::gui {
namespace {
using namespace orb::naming_ids;

wxString Text(const std::string& s) { return wxString::FromUTF8(s); }
std::string Utf8(const wxString& s) { return std::string(s.ToUTF8()); }
}  // namespace

SetupFilenameDialog::SetupFilenameDialog(wxWindow* parent, CSetupFilenameDlg& model) : m_model(model) {
  if (!LoadDialogTemplate(this, parent, kTemplate) || !FindControls()) BuildWithoutTemplate(parent);
  m_edits[kName]->SetMaxLength(static_cast<unsigned long>(orb::kMaxFileNameBytes));
  m_edits[kSeparator]->SetMaxLength(1);
  if (GetSizer()) GetSizer()->SetSizeHints(this);
  ApplyToolTips(this, MiscSettings.TooltipMode);

  for (auto& [id, edit] : m_edits) edit->Bind(wxEVT_KILL_FOCUS, &SetupFilenameDialog::OnEditKillFocus, this);
  m_edits[kSeparator]->Bind(wxEVT_SET_FOCUS, &SetupFilenameDialog::OnSeparatorSetFocus, this);
  Bind(wxEVT_BUTTON, &SetupFilenameDialog::OnOk, this, wxID_OK);

  m_model.OnInitDialog();
  Push();
}

bool SetupFilenameDialog::FindControls() {
  std::vector<int> edits = {kName, kSeparator};
  for (int k = 0; k < 4; ++k) edits.insert(edits.end(), {kStart[k], kLimit[k], kStep[k]});
  for (int id : edits) {
    auto* e = dynamic_cast<wxTextCtrl*>(FindWindow(id));
    if (!e) return false;
    m_edits[id] = e;
  }
  for (int id : kCarry) {
    auto* b = dynamic_cast<wxCheckBox*>(FindWindow(id));
    if (!b) return false;
    m_boxes[id] = b;
  }
  return true;
}

void SetupFilenameDialog::BuildWithoutTemplate(wxWindow* parent) {
  // A module without the dialog's template (or with one that lacks a control).
  if (!GetHandle()) Create(parent, wxID_ANY, "File naming");
  DestroyChildren();
  SetSizer(nullptr);
  m_edits.clear();
  m_boxes.clear();
  auto* top = new wxBoxSizer(wxVERTICAL);
  auto* nameRow = new wxFlexGridSizer(2, 4, 8);
  nameRow->AddGrowableCol(1);
  auto addEdit = [&](wxSizer* sizer, int id, int width, long style = 0) {
    auto* e = new wxTextCtrl(this, id, "", wxDefaultPosition, wxSize(width, -1), style);
    m_edits[id] = e;
    sizer->Add(e, 0, wxEXPAND);
    return e;
  };
  nameRow->Add(new wxStaticText(this, wxID_ANY, "File name"), 0, wxALIGN_CENTER_VERTICAL);
  addEdit(nameRow, kName, 320);
  nameRow->Add(new wxStaticText(this, wxID_ANY, "Separator"), 0, wxALIGN_CENTER_VERTICAL);
  addEdit(nameRow, kSeparator, 40);
  top->Add(nameRow, 0, wxEXPAND | wxALL, 8);
  auto* grid = new wxFlexGridSizer(5, 4, 8);
  for (const char* h : {"", "Start", "Limit", "Step", "Carry only"}) grid->Add(new wxStaticText(this, wxID_ANY, h));
  for (int k = 0; k < 4; ++k) {
    grid->Add(new wxStaticText(this, wxID_ANY, wxString::Format("Counter %d", k + 1)), 0, wxALIGN_CENTER_VERTICAL);
    addEdit(grid, kStart[k], 90);
    addEdit(grid, kLimit[k], 90);
    addEdit(grid, kStep[k], 60);
    if (k < 3) {
      auto* b = new wxCheckBox(this, kCarry[k], "");
      m_boxes[kCarry[k]] = b;
      grid->Add(b, 0, wxALIGN_CENTER);
    } else {
      grid->AddSpacer(1);
    }
  }
  top->Add(grid, 0, wxALL, 8);
  top->Add(CreateStdDialogButtonSizer(wxOK | wxCANCEL), 0, wxEXPAND | wxALL, 8);
  SetSizer(top);
}

SetupFilenameDialog::~SetupFilenameDialog() {
  // The controls go while this object is whole, so their last focus events find it intact.
  m_closing = true;
  DestroyChildren();
}

wxWindow* SetupFilenameDialog::ControlWindow(int id) const {
  if (auto it = m_edits.find(id); it != m_edits.end()) return it->second;
  if (auto it = m_boxes.find(id); it != m_boxes.end()) return it->second;
  return nullptr;
}

void SetupFilenameDialog::Pull() {
  auto& c = m_model.controls();
  c.name = Utf8(m_edits[kName]->GetValue());
  c.separator = Utf8(m_edits[kSeparator]->GetValue());
  for (int k = 0; k < 4; ++k) {
    c.start[k] = Utf8(m_edits[kStart[k]]->GetValue());
    c.limit[k] = Utf8(m_edits[kLimit[k]]->GetValue());
    c.step[k] = Utf8(m_edits[kStep[k]]->GetValue());
    if (k < 3) c.carry[k] = m_boxes[kCarry[k]]->GetValue();
  }
}

void SetupFilenameDialog::Push() {
  const auto& c = m_model.controls();
  auto set = [&](int id, const std::string& v) {
    if (Utf8(m_edits[id]->GetValue()) != v) m_edits[id]->ChangeValue(Text(v));
  };
  set(kName, c.name);
  set(kSeparator, c.separator);
  for (int k = 0; k < 4; ++k) {
    set(kStart[k], c.start[k]);
    set(kLimit[k], c.limit[k]);
    set(kStep[k], c.step[k]);
    for (int id : {kStart[k], kLimit[k], kStep[k]}) m_edits[id]->Enable(c.counterEnabled[k]);
    if (k < 3) {
      m_boxes[kCarry[k]]->SetValue(c.carry[k]);
      m_boxes[kCarry[k]]->Enable(c.carryEnabled[k]);
    }
  }
}

void SetupFilenameDialog::OnEditKillFocus(wxFocusEvent& e) {
  e.Skip();
  if (m_closing) return;
  const int id = e.GetId();
  Pull();
  if (id == kName) m_model.UpdateCounterFields();
  else if (id == kSeparator) m_model.OnKillFocusSeparator();
  for (int k = 0; k < 4; ++k) {
    if (id == kLimit[k]) m_model.OnKillFocusLimit();
    if (id == kStart[k]) m_model.OnKillFocusStart();
  }
  Push();
}

void SetupFilenameDialog::OnSeparatorSetFocus(wxFocusEvent& e) {
  e.Skip();
  if (m_closing) return;
  Pull();
  m_model.OnSetFocusSeparator();
}

void SetupFilenameDialog::OnOk(wxCommandEvent& e) {
  Pull();
  m_model.OnOK();
  e.Skip();  // the dialog ends with wxID_OK
}

int SetupFilenameDialog::RunModal() { return ShowModal(); }

}  // namespace orb::gui
