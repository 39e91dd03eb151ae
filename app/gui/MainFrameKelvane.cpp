// The frame's connection to a Kelvane-family scanner: made before the scanner is identified,
// so that the identification reaches it; the scan button's command, posted by the status poll
// or the button callback from their own threads, arrives here as a private message and runs
// as the menu command. The family's scan run goes through the frame's scan host, like the
// SCSI family's. Scan, button registration and poll are ended before the frame goes.
#include "app/gui/MainFrame.h"
#include "app/gui/ScanHostGui.h"
#include "common/AppGlobals.h"
#include "common/ResourceIds.h"
#include "scanning/kelvane/EventCallback.h"
#include "scanning/kelvane/KelvaneConnection.h"
#include "scanning/kelvane/KelvaneScanControl.h"
#include "scanning/kelvane/KelvaneScanner.h"

void CMainFrame::InitKelvane() {
  if (m_kelvane) return;
  m_kelvane = std::make_unique<CKelvaneScanner>();
  m_eventCallback = std::make_unique<CEventCallback>();
  m_installedKelvaneIdentification = orb::kelvane::InstallFrameIdentification(
      m_kelvane.get(), m_eventCallback.get(), orb::gui::HandleOf(this));
  if (m_scanHost) {
    m_kelvaneScan = std::make_unique<orb::kelvane::KelvaneScanControl>(*m_kelvane, *m_scanHost);
    m_kelvaneOps = std::make_unique<orb::kelvane::KelvaneFamilyOps>(*m_kelvaneScan);
  }
  m_messages.On(orb::kelvane::kWmCommand, [this](uintptr_t command, intptr_t) -> intptr_t {
    wxCommandEvent e(wxEVT_MENU, orb::res::WxCommandId(static_cast<int>(command)));
    e.SetEventObject(this);
    ProcessWindowEvent(e);
    return 0;
  });
  // The scan writes into a document that closes with the frame: it ends first.
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& e) {
    if (m_kelvaneScan && m_kelvaneScan->Scanning()) {
      EndKelvaneScanNow();
      m_scanHost->SetDetached(false);
      // What the scan asked for at its end is done while its document is still there.
      m_scanHost->Flush();
    }
    e.Skip();
  });
}

orb::ScannerFamilyOps* CMainFrame::KelvaneFamily() { return m_kelvaneOps.get(); }

void CMainFrame::EndKelvaneScanNow() {
  if (!m_kelvaneScan) return;
  // Nothing may wait for the GUI thread while it waits for the scan.
  m_scanHost->SetDetached(true);
  if (m_kelvaneScan->Scanning()) {
    // The page is given up: a stopped scan is not completed with white lines.
    CancelFlag.store(1);
    m_kelvaneScan->StopScan();
  }
  m_kelvaneScan->WaitForScan();
}

void CMainFrame::ShutdownKelvane() {
  if (m_kelvaneScan) {
    EndKelvaneScanNow();
    m_scanHost->SetDetached(false);
  }
  m_kelvaneOps.reset();
  m_kelvaneScan.reset();
  // Nothing may post to the frame once it is gone: end the button's registration and the
  // poll thread first.
  if (m_eventCallback) m_eventCallback->Unregister();
  if (m_kelvane) m_kelvane->Disconnect();
  if (m_installedKelvaneIdentification) orb::kelvane::UninstallFrameIdentification();
  m_installedKelvaneIdentification = false;
  m_eventCallback.reset();
  m_kelvane.reset();
}
