// The framing of numbered escape commands on a TCP connection, shared by the network
// component (the client) and any device server. All fields are little-endian.
//
//   request: int32 escape code, uint32 input length, uint32 output length, input bytes
//   reply:   int32 status, uint32 actual output length, that many output bytes
//
// A status that is not negative and not kStatusFalse is success. The actual length never
// exceeds the output length the request allowed; a peer that breaks that is dropped.
#pragma once

#include <array>
#include <cstdint>

#include "platform/Bytes.h"

namespace orb::net {

inline constexpr size_t kRequestHeaderSize = 12;
inline constexpr size_t kReplyHeaderSize = 8;
// Neither side accepts a larger input or output: a scan block is at most 1 MB.
inline constexpr uint32_t kMaxEscapeBytes = 16u << 20;

// Status values of a reply and of the component's Escape.
inline constexpr int32_t kStatusOk = 0;
inline constexpr int32_t kStatusFalse = 1;  // answered, but the command was not carried out
inline constexpr int32_t kStatusFailed = -1;            // the device refused the command
inline constexpr int32_t kStatusNotConnected = -2;      // no connection (never opened or dropped)
inline constexpr int32_t kStatusTimedOut = -3;          // no answer in time; connection dropped
inline constexpr int32_t kStatusConnectionLost = -4;    // the peer closed or reset the connection
inline constexpr int32_t kStatusBadArgument = -5;       // bad buffers or lengths
inline constexpr int32_t kStatusProtocol = -6;          // the peer broke the framing

inline bool StatusSucceeded(int32_t status) { return status >= 0 && status != kStatusFalse; }

struct RequestHeader {
  int32_t code = 0;
  uint32_t inLength = 0;
  uint32_t outLength = 0;
};

struct ReplyHeader {
  int32_t status = 0;
  uint32_t actual = 0;
};

inline std::array<uint8_t, kRequestHeaderSize> EncodeRequest(const RequestHeader& h) {
  std::array<uint8_t, kRequestHeaderSize> b{};
  PutI32LE(b.data(), h.code);
  PutU32LE(b.data() + 4, h.inLength);
  PutU32LE(b.data() + 8, h.outLength);
  return b;
}

inline RequestHeader DecodeRequest(const uint8_t* b) {
  return {GetI32LE(b), GetU32LE(b + 4), GetU32LE(b + 8)};
}

inline std::array<uint8_t, kReplyHeaderSize> EncodeReply(const ReplyHeader& h) {
  std::array<uint8_t, kReplyHeaderSize> b{};
  PutI32LE(b.data(), h.status);
  PutU32LE(b.data() + 4, h.actual);
  return b;
}

inline ReplyHeader DecodeReply(const uint8_t* b) { return {GetI32LE(b), GetU32LE(b + 4)}; }

// The record escape 1 carries to open a connection: the address (16 bytes) and the two
// ports (6 bytes each) as zero-padded decimal text.
inline constexpr int32_t kEscapeOpen = 1;
inline constexpr size_t kOpenRecordSize = 28;

}  // namespace orb::net
