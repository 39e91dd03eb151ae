#include "app/gui/Shutdown.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/evtloopsrc.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <memory>

namespace orb::gui {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int g_pipe[2] = {-1, -1};

void OnSignal(int sig) {
  // Only what a signal handler may do: one byte into a non-blocking pipe.
  const int saved = errno;
  const char c = static_cast<char>(sig);
  [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &c, 1);
  errno = saved;
}

class PipeReader final : public wxEventLoopSourceHandler {
 public:
  explicit PipeReader(std::function<void()> onSignal) : m_onSignal(std::move(onSignal)) {}
  void OnReadWaiting() override {
    char buf[64];
    bool any = false;
    while (::read(g_pipe[0], buf, sizeof buf) > 0) any = true;
    if (!any || !m_onSignal) return;
    m_onSignal();
    // Closing the frame leaves its deletion (and the end of the loop) to idle time, and a
    // descriptor's callback is no event that brings idle time: without a wake-up an idle
    // window would end only at the next mouse movement.
    wxWakeUpIdle();
  }
  void OnWriteWaiting() override {}
  void OnExceptionWaiting() override {}

 private:
  std::function<void()> m_onSignal;
};

std::unique_ptr<PipeReader> g_reader;
std::unique_ptr<wxEventLoopSource> g_source;

// The toolkit runs its own message boxes in a loop of its own that wx cannot end; the
// toolkit's call that answers such a dialog is looked up in the loaded toolkit itself.
bool AnswerNativeDialog(wxDialog* dialog) {
  using Response = void (*)(void*, int);
  using TypeOf = unsigned long (*)();
  using IsA = int (*)(void*, unsigned long);
  static const auto response = reinterpret_cast<Response>(::dlsym(RTLD_DEFAULT, "gtk_dialog_response"));
  static const auto dialogType = reinterpret_cast<TypeOf>(::dlsym(RTLD_DEFAULT, "gtk_dialog_get_type"));
  static const auto isA = reinterpret_cast<IsA>(::dlsym(RTLD_DEFAULT, "g_type_check_instance_is_a"));
  void* widget = dialog->GetHandle();
  if (!response || !dialogType || !isA || !widget || !isA(widget, dialogType())) return false;
  constexpr int kResponseCancel = -6;  // GTK_RESPONSE_CANCEL
  response(widget, kResponseCancel);
  return true;
}

}  // namespace

ModalDialogs::ModalDialogs() { Register(); }
ModalDialogs::~ModalDialogs() { Unregister(); }

int ModalDialogs::Enter(wxDialog* dialog) {
  if (m_refusing) return wxID_CANCEL;
  m_open.push_back(dialog);
  return wxID_NONE;
}

void ModalDialogs::Exit(wxDialog* dialog) {
  auto it = std::find(m_open.rbegin(), m_open.rend(), dialog);
  if (it != m_open.rend()) m_open.erase(std::next(it).base());
}

void ModalDialogs::CancelAll() {
  for (auto it = m_open.rbegin(); it != m_open.rend(); ++it) {
    wxDialog* dialog = *it;
    if (dialog->IsModal()) {
      dialog->EndModal(wxID_CANCEL);
    } else {
      AnswerNativeDialog(dialog);
    }
  }
}

bool InstallShutdownSignals(std::function<void()> onSignal) {
  RemoveShutdownSignals();
  if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  g_reader = std::make_unique<PipeReader>(std::move(onSignal));
  g_source.reset(wxEventLoopBase::AddSourceForFD(g_pipe[0], g_reader.get(), wxEVENT_SOURCE_INPUT));
  if (!g_source) {
    RemoveShutdownSignals();
    return false;
  }
  struct sigaction sa {};
  sa.sa_handler = &OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  bool ok = true;
  for (int sig : kSignals) ok = ::sigaction(sig, &sa, nullptr) == 0 && ok;
  return ok;
}

void RemoveShutdownSignals() {
  if (g_pipe[0] >= 0) {
    struct sigaction sa {};
    sa.sa_handler = SIG_DFL;
    sigemptyset(&sa.sa_mask);
    for (int sig : kSignals) ::sigaction(sig, &sa, nullptr);
  }
  g_source.reset();
  g_reader.reset();
  for (int& fd : g_pipe) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

bool SafeToCloseFrame(const ModalDialogs& dialogs) {
  if (dialogs.Open() != 0) return false;
  wxEventLoopBase* loop = wxEventLoopBase::GetActive();
  return loop && loop->IsMain() && !loop->IsYielding();
}

}  // namespace orb::gui
