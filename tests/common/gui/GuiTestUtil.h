#pragma once

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/window.h>

#include <wx/control.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

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

// Drags with the simulated pointer from a to b (client points of `w`) in six steps. Each
// press, move and release is waited for until the window has seen it: on a loaded machine
// the X server delivers late, and a fixed pause either wastes time or is too short.
inline void DragPointer(wxWindow* w, wxPoint a, wxPoint b, int button = wxMOUSE_BTN_LEFT) {
  int downs = 0, ups = 0, moves = 0;
  // A press soon after the last one at the same place comes as a double click.
  const auto down = button == wxMOUSE_BTN_RIGHT ? wxEVT_RIGHT_DOWN : wxEVT_LEFT_DOWN;
  const auto twice = button == wxMOUSE_BTN_RIGHT ? wxEVT_RIGHT_DCLICK : wxEVT_LEFT_DCLICK;
  const auto up = button == wxMOUSE_BTN_RIGHT ? wxEVT_RIGHT_UP : wxEVT_LEFT_UP;
  auto count = [](int* n) {
    return [n](wxMouseEvent& e) {
      ++*n;
      e.Skip();
    };
  };
  auto onDown = count(&downs), onUp = count(&ups), onMove = count(&moves);
  w->Bind(down, onDown);
  w->Bind(twice, onDown);
  w->Bind(up, onUp);
  w->Bind(wxEVT_MOTION, onMove);
  wxUIActionSimulator sim;
  sim.MouseMove(w->ClientToScreen(a));
  PumpUntil([&] { return moves > 0; }, 500);
  sim.MouseDown(button);
  PumpUntil([&] { return downs > 0; }, 2000);
  for (int s = 1; s <= 6; ++s) {
    const int seen = moves;
    sim.MouseMove(w->ClientToScreen(a + (b - a) * s / 6));
    PumpUntil([&] { return moves > seen; }, 500);
  }
  sim.MouseUp(button);
  PumpUntil([&] { return ups > 0; }, 2000);
  PumpUntil([] { return false; }, 10);
  w->Unbind(down, onDown);
  w->Unbind(twice, onDown);
  w->Unbind(up, onUp);
  w->Unbind(wxEVT_MOTION, onMove);
}

// The shown controls under `top` that were given less room than they need: GTK warns of
// each such control ("Negative content width", "gtk_box_gadget_distribute") whenever it
// is laid out. Each entry names the control's class, id and label, its size and its need.
inline void CollectSqueezed(wxWindow* w, std::vector<std::string>* out) {
  if (!w->IsShown()) return;
  if (auto* c = dynamic_cast<wxControl*>(w)) {
    const wxSize has = c->GetSize(), needs = c->GetBestSize();
    // An entry field or a drop-down may be narrower than its default width (it scrolls or
    // ellipsises its text, and forms size them so); it must still have its height. Buttons,
    // check boxes and labels are what GTK cannot shrink.
    const bool entry = dynamic_cast<wxTextCtrl*>(w) != nullptr || dynamic_cast<wxChoice*>(w) != nullptr ||
                       dynamic_cast<wxComboBox*>(w) != nullptr;
    if ((!entry && has.x < needs.x) || has.y < needs.y) {
      const wxString parent = w->GetParent() ? w->GetParent()->GetClassInfo()->GetClassName() : L"-";
      out->push_back(wxString(c->GetClassInfo()->GetClassName()).ToStdString() + " " + std::to_string(c->GetId()) +
                     " '" + c->GetLabel().ToStdString() + "' " + std::to_string(has.x) + "x" +
                     std::to_string(has.y) + " < " + std::to_string(needs.x) + "x" + std::to_string(needs.y) +
                     " in " + parent.ToStdString());
    }
  }
  for (wxWindow* child : w->GetChildren()) CollectSqueezed(child, out);
}
inline std::vector<std::string> SqueezedControls(wxWindow* top) {
  std::vector<std::string> out;
  if (top) CollectSqueezed(top, &out);
  return out;
}

}  // namespace orbtest
