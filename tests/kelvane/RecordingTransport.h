// A transport that records every escape and answers from a queue of canned replies, so the
// command set's bytes can be held against tables laid out by hand.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <vector>

#include "scanning/kelvane/ScannerCommand.h"

namespace orb::kelvane::test {

struct Sent {
  int32_t code;
  std::vector<uint8_t> in;
  uint32_t outLength;
};

struct Canned {
  bool ok = true;
  std::vector<uint8_t> reply;
};

class RecordingTransport final : public IScannerCommand {
 public:
  explicit RecordingTransport(int generation = 1) { m_generation = generation; }
  bool Open() override { return true; }
  void Close() override {}
  bool Escape(int32_t code, const void* in, uint32_t inLength, void* out, uint32_t outLength,
              uint32_t* actual) override {
    const auto* b = static_cast<const uint8_t*>(in);
    sent.push_back({code, std::vector<uint8_t>(b, b + (b ? inLength : 0)), outLength});
    Canned c;
    if (!replies.empty()) {
      c = replies.front();
      replies.pop_front();
    } else {
      c.reply.assign(outLength, 0);  // a scanner that answers zeros in full
    }
    const uint32_t n = std::min<uint32_t>(outLength, static_cast<uint32_t>(c.reply.size()));
    if (n) std::memcpy(out, c.reply.data(), n);
    *actual = n;
    return c.ok;
  }
  void Queue(std::vector<uint8_t> reply, bool ok = true) { replies.push_back({ok, std::move(reply)}); }
  void QueueInts(std::initializer_list<int32_t> values) {
    std::vector<uint8_t> r;
    for (int32_t v : values)
      for (int i = 0; i < 4; ++i) r.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    Queue(std::move(r));
  }
  void Fail() { replies.push_back({false, {}}); }

  std::vector<Sent> sent;
  std::deque<Canned> replies;
};

}  // namespace orb::kelvane::test
