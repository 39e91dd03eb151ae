#include "common/Messages.h"

// AppStatus and CancelFlag themselves are defined with the engine, which polls them.

std::atomic<orb::WindowHandle> g_hMainFrame{nullptr};
std::atomic<orb::WindowHandle> g_hThumbDlg{nullptr};
std::atomic<orb::WindowHandle> g_hToolsPage{nullptr};
std::atomic<orb::WindowHandle> g_hOtherToolsPage{nullptr};

namespace orb {
namespace {
std::atomic<bool (*)(WindowHandle, uint32_t, uintptr_t, intptr_t)> g_post{nullptr};
std::atomic<intptr_t (*)(WindowHandle, uint32_t, uintptr_t, intptr_t)> g_send{nullptr};
}  // namespace

void SetMessageTransport(const MessageTransport& transport) {
  g_post.store(transport.post);
  g_send.store(transport.send);
}

bool PostAppMessage(WindowHandle target, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  auto post = g_post.load();
  if (target == nullptr || post == nullptr) return false;
  return post(target, msg, wParam, lParam);
}

intptr_t SendAppMessage(WindowHandle target, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
  auto send = g_send.load();
  if (target == nullptr || send == nullptr) return 0;
  return send(target, msg, wParam, lParam);
}

}  // namespace orb
