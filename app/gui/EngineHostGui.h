// The engine's ways to reach the user, on the wx side: message boxes with the language
// module's texts, and the message pump of long operations on the GUI thread.
#pragma once

namespace orb::gui {

// Installs the notifier and the message pump into the engine host (what other parts have
// installed there, such as the progressive display, is kept).
void InstallEngineHost();

// While a long operation pumps messages, keyboard input is taken away from the windows:
// Esc sets CancelFlag, other keys are dropped. The application's event filter calls this;
// true when the event was consumed.
bool FilterPumpedKey(int eventType, int keyCode);

}  // namespace orb::gui
