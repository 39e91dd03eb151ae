#include "platform/net/EscapeComponent.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace orb::net {

namespace {

// A zero-padded text field of the open record, cut at its first NUL.
std::string Field(const uint8_t* p, size_t n) {
  size_t len = 0;
  while (len < n && p[len] != 0) ++len;
  return std::string(reinterpret_cast<const char*>(p), len);
}

}  // namespace

EscapeComponent::~EscapeComponent() { Disconnect(); }

void EscapeComponent::SetTimeouts(EscapeTimeouts t) {
  std::lock_guard lock(mutex_);
  timeouts_ = t;
}

void EscapeComponent::Disconnect() {
  std::lock_guard lock(mutex_);
  connection_.Close();
}

bool EscapeComponent::Connected() const {
  std::lock_guard lock(mutex_);
  return connection_.IsOpen();
}

int32_t EscapeComponent::Escape(int32_t code, const void* in, uint32_t inLength, void* out,
                                uint32_t outLength, uint32_t* actual) {
  if (actual) *actual = 0;
  if ((inLength && !in) || (outLength && !out) || inLength > kMaxEscapeBytes ||
      outLength > kMaxEscapeBytes)
    return kStatusBadArgument;
  std::lock_guard lock(mutex_);
  if (code == kEscapeOpen) return Open(in, inLength, out, outLength, actual);
  if (!connection_.IsOpen()) return kStatusNotConnected;
  return Exchange(code, in, inLength, out, outLength, actual);
}

int32_t EscapeComponent::Open(const void* in, uint32_t inLength, void* out, uint32_t outLength,
                              uint32_t* actual) {
  connection_.Close();
  if (inLength < kOpenRecordSize) return kStatusBadArgument;
  const auto* record = static_cast<const uint8_t*>(in);
  const std::optional<uint16_t> port = ParsePort(Field(record + 16, 6));
  const std::string address = Field(record, 16);
  if (!ParseIpv4(address) || !port) return kStatusBadArgument;
  const IoResult c = TcpConnection::Connect(address, *port, timeouts_.connectMs, connection_);
  if (c != IoResult::Ok) return c == IoResult::TimedOut ? kStatusTimedOut : kStatusNotConnected;
  return Exchange(kEscapeOpen, in, inLength, out, outLength, actual);
}

int32_t EscapeComponent::Exchange(int32_t code, const void* in, uint32_t inLength, void* out,
                                  uint32_t outLength, uint32_t* actual) {
  const auto header = EncodeRequest({code, inLength, outLength});
  IoResult r = connection_.SendAll(header.data(), header.size(), timeouts_.replyMs);
  if (r == IoResult::Ok && inLength) r = connection_.SendAll(in, inLength, timeouts_.replyMs);
  if (r != IoResult::Ok) return Drop(r);
  uint8_t replyBytes[kReplyHeaderSize];
  r = connection_.ReceiveAll(replyBytes, sizeof replyBytes, timeouts_.replyMs);
  if (r != IoResult::Ok) return Drop(r);
  const ReplyHeader reply = DecodeReply(replyBytes);
  if (reply.actual > outLength) {
    connection_.Close();
    return kStatusProtocol;
  }
  if (reply.actual) {
    r = connection_.ReceiveAll(out, reply.actual, timeouts_.replyMs);
    if (r != IoResult::Ok) return Drop(r);
  }
  if (actual) *actual = reply.actual;
  return reply.status;
}

int32_t EscapeComponent::Drop(IoResult why) {
  connection_.Close();
  switch (why) {
    case IoResult::TimedOut: return kStatusTimedOut;
    case IoResult::Closed: return kStatusConnectionLost;
    case IoResult::Ok:
    case IoResult::Failed: break;
  }
  return kStatusConnectionLost;
}

}  // namespace orb::net
