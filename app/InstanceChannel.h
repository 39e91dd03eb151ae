// The local socket through which a second start asks the running instance to raise
// itself. The running instance listens on a Unix socket in the user's private runtime
// folder; a request is one text line, answered with "ok".
#pragma once

#include <functional>
#include <string>
#include <thread>

namespace orb {

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

}  // namespace orb
