#include "common/gui/AppMessage.h"

#include <wx/app.h>
#include <wx/thread.h>

wxDEFINE_EVENT(orbEVT_APP_MESSAGE, OrbMessageEvent);

OrbMessageEvent::OrbMessageEvent(uint32_t msg, uintptr_t wParam, intptr_t lParam)
    : wxEvent(0, orbEVT_APP_MESSAGE), m_msg(msg), m_wParam(wParam), m_lParam(lParam) {}

namespace orb::gui {
namespace {

bool Post(orb::WindowHandle target, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  wxQueueEvent(static_cast<wxEvtHandler*>(target), new OrbMessageEvent(msg, wParam, lParam));
  return true;
}

intptr_t Send(orb::WindowHandle target, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  if (!wxThread::IsMain()) {
    // Only the GUI thread may run a window's handler; elsewhere the message is queued.
    Post(target, msg, wParam, lParam);
    return 0;
  }
  OrbMessageEvent e(msg, wParam, lParam);
  static_cast<wxEvtHandler*>(target)->ProcessEvent(e);
  return e.Result();
}

}  // namespace

void InstallMessageTransport() { orb::SetMessageTransport({&Post, &Send}); }

void MessageMap::Attach(wxEvtHandler* owner) { owner->Bind(orbEVT_APP_MESSAGE, &MessageMap::Dispatch, this); }

void MessageMap::Dispatch(OrbMessageEvent& e) {
  auto it = m_handlers.find(e.Message());
  if (it == m_handlers.end()) {
    e.Skip();
    return;
  }
  e.SetResult(it->second(e.WParam(), e.LParam()));
}

}  // namespace orb::gui
