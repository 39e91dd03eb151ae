#include "app/gui/ViewConnectPage.h"

#include <wx/button.h>
#include <wx/msgdlg.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "common/AppGlobals.h"
#include "common/LanguageModule.h"
#include "common/gui/Resources.h"
#include "engine/Settings.h"

namespace res = orb::res;
using namespace orb::connection;

namespace {
wxString Text(int id) { return wxString::FromUTF8(orb::LoadString(id)); }
std::string Utf8(const wxString& s) { return std::string(s.utf8_str()); }
}  // namespace

CViewConnectPropPage::CViewConnectPropPage(wxWindow* parent) {
  if (!orb::gui::LoadPanelTemplate(this, parent, kTemplateId)) Create(parent, wxID_ANY);
  if (!FindControls()) BuildWithoutTemplate();
  m_local->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnLocal(); });
  m_network->Bind(wxEVT_RADIOBUTTON, [this](wxCommandEvent&) { OnNetwork(); });
  // Handled here and not passed on: the main frame's layout button has the same id.
  FindWindow(kApply)->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnApply(); });
  // No tooltips on this page.
  OnInitDialog();
}

bool CViewConnectPropPage::FindControls() {
  m_local = dynamic_cast<wxRadioButton*>(FindWindow(kLocal));
  m_network = dynamic_cast<wxRadioButton*>(FindWindow(kNetwork));
  m_address = dynamic_cast<wxTextCtrl*>(FindWindow(kAddress));
  m_port1 = dynamic_cast<wxTextCtrl*>(FindWindow(kPort1));
  m_port2 = dynamic_cast<wxTextCtrl*>(FindWindow(kPort2));
  return m_local && m_network && m_address && m_port1 && m_port2 && FindWindow(kApply) && FindWindow(kAddressLabel) &&
         FindWindow(kPortsLabel);
}

void CViewConnectPropPage::BuildWithoutTemplate() {
  // A module without the template (or with one that lacks a control): the controls, built here.
  DestroyChildren();
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  m_local = new wxRadioButton(this, kLocal, "Local", wxDefaultPosition, wxDefaultSize, wxRB_GROUP);
  m_network = new wxRadioButton(this, kNetwork, "Network");
  sizer->Add(m_local, 0, wxALL, 4);
  sizer->Add(m_network, 0, wxALL, 4);
  sizer->Add(new wxStaticText(this, kAddressLabel, "IP"), 0, wxLEFT, 4);
  m_address = new wxTextCtrl(this, kAddress, "");
  sizer->Add(m_address, 0, wxEXPAND | wxALL, 4);
  sizer->Add(new wxStaticText(this, kPortsLabel, "Ports"), 0, wxLEFT, 4);
  m_port1 = new wxTextCtrl(this, kPort1, "");
  m_port2 = new wxTextCtrl(this, kPort2, "");
  sizer->Add(m_port1, 0, wxEXPAND | wxALL, 4);
  sizer->Add(m_port2, 0, wxEXPAND | wxALL, 4);
  sizer->Add(new wxButton(this, kApply, "Apply"), 0, wxALL, 4);
  SetSizer(sizer);
}

void CViewConnectPropPage::EnableNetworkControls(bool enable) {
  for (int id : {kAddress, kPort1, kAddressLabel, kPortsLabel, kPort2}) FindWindow(id)->Enable(enable);
}

bool CViewConnectPropPage::OnInitDialog() {
  const Entered e = FromSettings(ScanSettings);
  m_network->SetValue(e.network);
  m_local->SetValue(!e.network);
  EnableNetworkControls(e.network);
  m_address->ChangeValue(wxString::FromUTF8(e.address));
  m_port1->ChangeValue(wxString::FromUTF8(e.port1));
  m_port2->ChangeValue(wxString::FromUTF8(e.port2));
  return true;
}

bool CViewConnectPropPage::OnSetActive() { return OnInitDialog(); }

void CViewConnectPropPage::OnLocal() { EnableNetworkControls(false); }
void CViewConnectPropPage::OnNetwork() { EnableNetworkControls(true); }

bool CViewConnectPropPage::OnApply() {
  Entered e;
  e.network = !m_local->GetValue();
  e.address = Utf8(m_address->GetValue());
  e.port1 = Utf8(m_port1->GetValue());
  e.port2 = Utf8(m_port2->GetValue());
  const wxString title = wxString::FromUTF8(g_szAppTitle);
  if (const int wrong = Check(e).control) {
    wxMessageBox(Text(wrong == kAddress ? res::IDS_ADDRESS_BAD : res::IDS_PORT_BAD), title, wxOK | wxICON_EXCLAMATION,
                 this);
    if (auto* box = dynamic_cast<wxTextCtrl*>(FindWindow(wrong))) {
      box->SetFocus();
      box->SelectAll();
    }
    return false;
  }
  Store(e, ScanSettings);
  if (SaveScanData() != SettingsWrite::Written) {
    wxMessageBox(wxString::Format(Text(res::IDS_CONNECTION_NOT_SAVED), wxString::FromUTF8(orb::DataFile(orb::kScanDataFile))),
                 title, wxOK | wxICON_EXCLAMATION, this);
    return false;
  }
  OnInitDialog();  // shows the stored values (a disabled field that held junk shows what is kept)
  return true;
}
