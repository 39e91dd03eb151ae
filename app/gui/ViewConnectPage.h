// The connection page of the view options sheet: the scanner on this computer or on the
// network, with its IPv4 address and two ports. Apply checks the entries, stores them in
// the scan settings and writes "ScanData.dat" at once; the rules are
// app/ConnectionModel.h's.
#pragma once

#include <wx/panel.h>

#include "app/ConnectionModel.h"
#include "app/gui/ViewPropSheet.h"
#include "common/ResourceIds.h"

class wxRadioButton;
class wxTextCtrl;

class CViewConnectPropPage : public wxPanel, public CSheetPage {
 public:
  static constexpr int kTemplateId = orb::res::IDD_PAGE_CONNECTION;

  explicit CViewConnectPropPage(wxWindow* parent);

  // Shows the settings in force (a loaded preset keeps them, but entries not applied go).
  bool OnInitDialog();
  bool OnSetActive() override;
  void OnLocal();
  void OnNetwork();
  // True when the entries were stored and written.
  bool OnApply();

  wxRadioButton* LocalButton() const { return m_local; }
  wxRadioButton* NetworkButton() const { return m_network; }
  wxTextCtrl* AddressBox() const { return m_address; }
  wxTextCtrl* PortBox(int which) const { return which == 1 ? m_port1 : m_port2; }

 private:
  bool FindControls();
  void BuildWithoutTemplate();
  void EnableNetworkControls(bool enable);

  wxRadioButton* m_local = nullptr;
  wxRadioButton* m_network = nullptr;
  wxTextCtrl* m_address = nullptr;
  wxTextCtrl* m_port1 = nullptr;
  wxTextCtrl* m_port2 = nullptr;
};
