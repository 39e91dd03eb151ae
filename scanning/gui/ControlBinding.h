// Copies control states between a display-free page model (orb::ControlState by control id)
// and the wx controls of a page or dialog: what the user changed into the model before a
// handler runs, what the model says to show afterwards.
#pragma once

#include <wx/event.h>
#include <wx/window.h>

#include <functional>
#include <map>

#include "scanning/ScanOutputPageModel.h"
#include "scanning/ScanSettingsPages.h"

namespace orb::gui {

// The controls of `root` named by the model's ids (the module's template names them by
// their ids); a control the template lacks is left out.
std::map<int, wxWindow*> FindModelControls(wxWindow* root, const std::map<int, ControlState>& controls);

// User input of one control into its state (selection, text, check, slider position).
void PullControl(wxWindow* w, ControlState& c);
// One state onto its control (shown, enabled, items, selection, text, check, range and
// position, label, bitmap).
void PushControl(int id, wxWindow* w, const ControlState& c);

// The part's scroll code of a slider's scroll event (SliderCode::EndScroll for the final
// "changed" event); false for an event that is not a scroll.
bool SliderCodeOf(wxEventType type, SliderCode* code);
// Binds `handler` to every scroll event of a slider (wx has no one event type for them).
void BindScroll(wxWindow* slider, std::function<void(wxScrollEvent&)> handler);

}  // namespace orb::gui
