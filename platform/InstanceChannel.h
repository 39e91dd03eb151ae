// The local socket through which a second start asks the running instance to raise
// itself (or to run a batch file), and through which the scheduler hands a due batch to a
// running main program. The running instance listens on a Unix socket in the user's
// private runtime folder; a request is one text line, answered with "ok".
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <thread>

namespace orb {

// The requests the main program's instance answers: "raise", and "batch " followed by the
// path of a batch file to run (handed over by a second start or by the scheduler).
inline constexpr const char* kRaiseRequest = "raise";
inline constexpr const char* kRunBatchRequest = "batch ";

// Name of the main program's single-instance lock and socket for the current user.
std::string SingleInstanceName();

// $XDG_RUNTIME_DIR/<name>.sock, else a private folder /tmp/<name>-<uid>/ (made 0700).
std::string InstanceSocketPath(const std::string& name);

class InstanceServer {
 public:
  using Handler = std::function<void(const std::string& request)>;
  InstanceServer() = default;
  ~InstanceServer() { Stop(); }
  InstanceServer(const InstanceServer&) = delete;
  InstanceServer& operator=(const InstanceServer&) = delete;

  // Listens at `path` (a stale socket left there is replaced: only the holder of the
  // single-instance lock starts a server). `handler` runs on the server's own thread.
  bool Start(const std::string& path, Handler handler, std::string* error);
  void Stop();
  bool Running() const { return listenFd_ >= 0; }

 private:
  void Loop();
  int listenFd_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::string path_;
  Handler handler_;
  std::thread thread_;
};

// Sends one request line and waits up to timeoutMs for the answer; true when the running
// instance acknowledged it.
bool SendInstanceRequest(const std::string& path, const std::string& request, int timeoutMs);

enum class RequestResult {
  NoListener,        // nobody listens at the path (no running instance, or not yet)
  Acknowledged,      // the running instance took the request
  NotAcknowledged,   // a listener was reached but did not answer "ok" in time
};
// Sends one request line like SendInstanceRequest. `connected` (when given) gets the
// process id of the listener once the connection stands, before the request is sent.
RequestResult DeliverInstanceRequest(const std::string& path, const std::string& request, int timeoutMs,
                                     const std::function<void(pid_t listener)>& connected);

}  // namespace orb
