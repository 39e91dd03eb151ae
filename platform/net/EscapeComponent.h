// The network component that carries numbered escape commands to a scanner over TCP/IP.
// Escape 1 with the open record connects to the address and first port it names and
// forwards the record, whose one-byte answer is the scanner's model code; every other
// escape is one request and one reply on that connection (EscapeWire.h).
//
// Exchanges are serialised: two threads never interleave their bytes on the connection. A
// time-out or a broken reply drops the connection (a late answer would be read as the
// answer to the next request); later escapes fail with kStatusNotConnected until the next
// open.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/net/EscapeWire.h"
#include "platform/net/Socket.h"

namespace orb::net {

struct EscapeTimeouts {
  int connectMs = 3000;
  int replyMs = 10000;  // also bounds each wait while a long reply arrives
};

class EscapeComponent {
 public:
  EscapeComponent() = default;
  ~EscapeComponent();
  EscapeComponent(const EscapeComponent&) = delete;
  EscapeComponent& operator=(const EscapeComponent&) = delete;

  void SetTimeouts(EscapeTimeouts t);
  // Carries one escape; returns the reply's status or one of the kStatus failures.
  int32_t Escape(int32_t code, const void* in, uint32_t inLength, void* out, uint32_t outLength,
                 uint32_t* actual);
  void Disconnect();
  bool Connected() const;

 private:
  int32_t Open(const void* in, uint32_t inLength, void* out, uint32_t outLength, uint32_t* actual);
  int32_t Exchange(int32_t code, const void* in, uint32_t inLength, void* out, uint32_t outLength,
                   uint32_t* actual);
  int32_t Drop(IoResult why);

  mutable std::mutex mutex_;
  TcpConnection connection_;
  EscapeTimeouts timeouts_;
};

}  // namespace orb::net
