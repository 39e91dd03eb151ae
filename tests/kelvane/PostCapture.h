// Catches the messages posted to windows while a test runs.
#pragma once

#include <chrono>
#include <mutex>
#include <vector>

#include "common/Messages.h"
#include "tests/common/ProcessUtil.h"

namespace orb::kelvane::test {

struct Posted {
  orb::WindowHandle window;
  uint32_t msg;
  uintptr_t wParam;
  intptr_t lParam;
};

class PostCapture {
 public:
  PostCapture() {
    Current() = this;
    orb::MessageTransport t;
    t.post = [](orb::WindowHandle w, uint32_t m, uintptr_t wp, intptr_t lp) {
      PostCapture* c = Current();
      if (!c || !w) return false;
      std::lock_guard lock(c->mutex_);
      c->posts_.push_back({w, m, wp, lp});
      return true;
    };
    t.send = [](orb::WindowHandle, uint32_t, uintptr_t, intptr_t) -> intptr_t { return 0; };
    orb::SetMessageTransport(t);
  }
  ~PostCapture() {
    orb::SetMessageTransport({});
    Current() = nullptr;
  }
  std::vector<Posted> Posts() const {
    std::lock_guard lock(mutex_);
    return posts_;
  }
  size_t Count() const {
    std::lock_guard lock(mutex_);
    return posts_.size();
  }
  // Waits (bounded) until at least n messages arrived.
  bool WaitFor(size_t n, std::chrono::milliseconds limit = std::chrono::seconds(5)) const {
    return orbtest::WaitFor([&] { return Count() >= n; }, limit, std::chrono::milliseconds(2));
  }

 private:
  static PostCapture*& Current() {
    static PostCapture* c = nullptr;
    return c;
  }
  mutable std::mutex mutex_;
  std::vector<Posted> posts_;
};

}  // namespace orb::kelvane::test
