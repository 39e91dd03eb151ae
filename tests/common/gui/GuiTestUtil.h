#pragma once

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/window.h>

#include <chrono>
#include <functional>

namespace orbtest {

// Runs pending events (a loop exists even outside wxApp::OnRun) until `done` holds or a
// bound of rounds passes; no sleeping on a clock.
inline bool PumpUntil(const std::function<bool()>& done, int rounds = 2000) {
  wxEventLoopGuarantor loop;
  for (int i = 0; i < rounds; ++i) {
    wxTheApp->ProcessPendingEvents();
    wxTheApp->Yield(true);
    wxTheApp->ProcessIdle();
    if (done()) return true;
    wxMilliSleep(1);
  }
  return done();
}

}  // namespace orbtest
