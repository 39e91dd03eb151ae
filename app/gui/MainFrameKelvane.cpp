// The frame's connection to a Kelvane-family scanner: made before the scanner is identified,
// so that the identification reaches it; the scan button's command, posted by the status poll
// or the button callback from their own threads, arrives here as a private message and runs
// as the menu command. Both are stopped before the frame goes.
#include "app/gui/MainFrame.h"
#include "common/ResourceIds.h"
#include "scanning/kelvane/EventCallback.h"
#include "scanning/kelvane/KelvaneConnection.h"
#include "scanning/kelvane/KelvaneScanner.h"

void CMainFrame::InitKelvane() {
  if (m_kelvane) return;
  m_kelvane = std::make_unique<CKelvaneScanner>();
  m_eventCallback = std::make_unique<CEventCallback>();
  m_installedKelvaneIdentification = orb::kelvane::InstallFrameIdentification(
      m_kelvane.get(), m_eventCallback.get(), orb::gui::HandleOf(this));
  m_messages.On(orb::kelvane::kWmCommand, [this](uintptr_t command, intptr_t) -> intptr_t {
    wxCommandEvent e(wxEVT_MENU, orb::res::WxCommandId(static_cast<int>(command)));
    e.SetEventObject(this);
    ProcessWindowEvent(e);
    return 0;
  });
}

void CMainFrame::ShutdownKelvane() {
  // Nothing may post to the frame once it is gone: end the button's registration and the
  // poll thread first.
  if (m_eventCallback) m_eventCallback->Unregister();
  if (m_kelvane) m_kelvane->Disconnect();
  if (m_installedKelvaneIdentification) orb::kelvane::UninstallFrameIdentification();
  m_installedKelvaneIdentification = false;
  m_eventCallback.reset();
  m_kelvane.reset();
}
