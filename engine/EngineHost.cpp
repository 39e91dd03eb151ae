#include "engine/EngineHost.h"

#include <cstdio>

std::atomic<uint32_t> AppStatus{0};
std::atomic<uint8_t> CancelFlag{0};

namespace orb {

EngineHost& Host() {
  static EngineHost host;
  return host;
}

void SetEngineHost(const EngineHost& host) { Host() = host; }

void Notify(int stringId, MessageIcon icon, const std::vector<MessageArg>& args) {
  if (INotifier* n = Host().notifier) {
    n->ShowMessage(stringId, icon, args);
    return;
  }
  // No user interface: keep the message visible to whoever runs the engine.
  std::fprintf(stderr, "orbalon: message %d\n", stringId);
}

void NotifyText(std::string_view text, std::string_view caption, MessageIcon icon) {
  if (INotifier* n = Host().notifier) {
    n->ShowText(text, caption, icon);
    return;
  }
  std::fprintf(stderr, "orbalon: %.*s\n", static_cast<int>(text.size()), text.data());
}

void PumpMessages() {
  if (IMessagePump* p = Host().pump) p->PumpMessages();
}

}  // namespace orb
