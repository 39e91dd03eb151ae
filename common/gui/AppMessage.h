// The private messages as wx events: one event type carrying (message, wParam, lParam),
// queued with wxQueueEvent from any thread or processed at once on the GUI thread.
#pragma once

#include <wx/event.h>

#include <functional>
#include <map>

#include "common/Messages.h"

class OrbMessageEvent : public wxEvent {
 public:
  OrbMessageEvent(uint32_t msg = 0, uintptr_t wParam = 0, intptr_t lParam = 0);
  wxEvent* Clone() const override { return new OrbMessageEvent(*this); }

  uint32_t Message() const { return m_msg; }
  uintptr_t WParam() const { return m_wParam; }
  intptr_t LParam() const { return m_lParam; }
  intptr_t Result() const { return m_result; }
  void SetResult(intptr_t r) { m_result = r; }

 private:
  uint32_t m_msg;
  uintptr_t m_wParam;
  intptr_t m_lParam;
  intptr_t m_result = 0;
};

wxDECLARE_EVENT(orbEVT_APP_MESSAGE, OrbMessageEvent);

namespace orb::gui {

// Makes orb::PostAppMessage / SendAppMessage reach wx windows (handles are wxEvtHandler*).
void InstallMessageTransport();

inline orb::WindowHandle HandleOf(wxEvtHandler* h) { return static_cast<orb::WindowHandle>(h); }

// A window's table of private-message handlers. The owner calls Attach(this) once.
class MessageMap {
 public:
  using Handler = std::function<intptr_t(uintptr_t wParam, intptr_t lParam)>;
  void Attach(wxEvtHandler* owner);
  void On(uint32_t msg, Handler handler) { m_handlers[msg] = std::move(handler); }
  bool Handles(uint32_t msg) const { return m_handlers.count(msg) != 0; }

 private:
  void Dispatch(OrbMessageEvent& e);
  std::map<uint32_t, Handler> m_handlers;
};

}  // namespace orb::gui
