// How the image engine reaches the user interface without knowing it.
//
// The engine never includes a toolkit header. Where it must tell the user something, draw
// rows as they arrive or let the user press Esc during a long operation on the GUI thread,
// it calls one of the small interfaces below. The GUI installs its implementations at
// start-up with SetEngineHost; tests install fakes. With nothing installed the calls are
// harmless no-ops (a notifier falls back to standard error), so engine code never checks.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine/AppStatus.h"

struct ImageState;

// Set by Esc in the message pump and by a progress dialog's Cancel button; cleared by
// whoever starts a long operation; polled by every long operation.
extern std::atomic<uint8_t> CancelFlag;

namespace orb {

inline bool IsCancelled() { return CancelFlag.load() != 0; }

enum class MessageIcon { None, Information, Exclamation, Error };

// One argument of a formatted message: the GUI fills the language module's printf-style
// text with them in order (%d takes a number, %s a text).
using MessageArg = std::variant<int64_t, std::string>;

class INotifier {
 public:
  virtual ~INotifier() = default;
  // String `stringId` of the language module, formatted with `args`, in a message box.
  virtual void ShowMessage(int stringId, MessageIcon icon,
                           const std::vector<MessageArg>& args = {}) = 0;
  // A fixed text of the program itself (not from the language module).
  virtual void ShowText(std::string_view text, std::string_view caption, MessageIcon icon) = 0;
};

// The steps of a progressive display run; the numbers are those of the display routines'
// step argument.
enum class BandStep : int { Start = 1, Rows = 2, End = 4 };

// The progressive display: one run at a time, fed band by band.
class IDisplaySink {
 public:
  static constexpr BandStep kStepStart = BandStep::Start;
  static constexpr BandStep kStepBand = BandStep::Rows;
  static constexpr BandStep kStepEnd = BandStep::End;

  virtual ~IDisplaySink() = default;
  // Updates the title of the active view's document and repaints the image's view now.
  virtual void UpdateTitle(ImageState* image) = 0;
  // Creates the progressive display for `image` (the active view's image).
  virtual void BeginProgressiveDisplay(ImageState* image) = 0;
  // Start, `count` rows (stored lines, one after the other), end.
  virtual void DrawIncomingBand(BandStep step, const uint8_t* rows, int count) = 0;
  // Deletes the progressive display made by BeginProgressiveDisplay.
  virtual void EndProgressiveDisplay() = 0;
};

// The message pump of long operations on the GUI thread: removes pending keyboard
// messages (Esc sets CancelFlag) and dispatches the rest.
class IMessagePump {
 public:
  virtual ~IMessagePump() = default;
  virtual void PumpMessages() = 0;
};

struct EngineHost {
  INotifier* notifier = nullptr;
  IDisplaySink* display = nullptr;
  IMessagePump* pump = nullptr;
};

// The installed host (none by default). Installing happens before any worker thread
// runs; the pointers are read without locks afterwards.
EngineHost& Host();
void SetEngineHost(const EngineHost& host);

// Null-safe front ends of the interfaces.
void Notify(int stringId, MessageIcon icon, const std::vector<MessageArg>& args = {});
void NotifyText(std::string_view text, std::string_view caption, MessageIcon icon);
void PumpMessages();

}  // namespace orb
