#include "platform/InstanceChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace orb {
namespace {

bool MakeAddress(const std::string& path, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof addr->sun_path) return false;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Reads one line (without its newline), waiting at most timeoutMs for each piece.
bool ReadLine(int fd, std::string* line, int timeoutMs) {
  line->clear();
  char c;
  while (line->size() < 4096) {
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return !line->empty();
    if (c == '\n') return true;
    line->push_back(c);
  }
  return true;
}

bool WriteAll(int fd, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    ssize_t n = ::send(fd, s.data() + done, s.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string SingleInstanceName() { return "orbalon-" + std::to_string(::getuid()); }

std::string InstanceSocketPath(const std::string& name) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat st {};
  if (runtime && *runtime && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode))
    return std::string(runtime) + "/" + name + ".sock";
  // A private folder in /tmp, used only when it is ours and closed to others; else one in
  // the home folder (nobody else can put a socket there for us to talk to).
  std::string dir = "/tmp/" + name + "-" + std::to_string(::getuid());
  ::mkdir(dir.c_str(), 0700);
  struct stat ds {};
  if (::lstat(dir.c_str(), &ds) != 0 || !S_ISDIR(ds.st_mode) || ds.st_uid != ::getuid() ||
      (ds.st_mode & 077) != 0) {
    const char* home = std::getenv("HOME");
    dir = std::string(home && *home ? home : ".") + "/." + name;
    ::mkdir(dir.c_str(), 0700);
  }
  return dir + "/" + name + ".sock";
}

bool InstanceServer::Start(const std::string& path, Handler handler, std::string* error) {
  Stop();
  sockaddr_un addr;
  if (!MakeAddress(path, &addr)) {
    if (error) *error = "socket path too long: " + path;
    return false;
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = std::strerror(errno);
    return false;
  }
  ::unlink(path.c_str());
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0) {
    if (error) *error = std::strerror(errno);
    ::close(fd);
    return false;
  }
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    if (error) *error = std::strerror(errno);
    ::close(fd);
    ::unlink(path.c_str());
    return false;
  }
  listenFd_ = fd;
  wakeRead_ = pipeFds[0];
  wakeWrite_ = pipeFds[1];
  path_ = path;
  handler_ = std::move(handler);
  thread_ = std::thread([this] { Loop(); });
  return true;
}

void InstanceServer::Stop() {
  if (listenFd_ < 0) return;
  char c = 'x';
  while (::write(wakeWrite_, &c, 1) < 0 && errno == EINTR) {
  }
  if (thread_.joinable()) thread_.join();
  ::close(listenFd_);
  ::close(wakeRead_);
  ::close(wakeWrite_);
  ::unlink(path_.c_str());
  listenFd_ = wakeRead_ = wakeWrite_ = -1;
}

void InstanceServer::Loop() {
  for (;;) {
    pollfd p[2] = {{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    int r = ::poll(p, 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (p[1].revents) return;
    if (!(p[0].revents & POLLIN)) continue;
    int c = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) continue;
    std::string line;
    // A client that connects and says nothing cannot hold the server for long.
    if (ReadLine(c, &line, 1000)) {
      if (handler_) handler_(line);
      WriteAll(c, "ok\n");
    }
    ::close(c);
  }
}

bool SendInstanceRequest(const std::string& path, const std::string& request, int timeoutMs) {
  return DeliverInstanceRequest(path, request, timeoutMs, nullptr) == RequestResult::Acknowledged;
}

RequestResult DeliverInstanceRequest(const std::string& path, const std::string& request, int timeoutMs,
                                     const std::function<void(pid_t listener)>& connected) {
  sockaddr_un addr;
  if (!MakeAddress(path, &addr)) return RequestResult::NoListener;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return RequestResult::NoListener;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return RequestResult::NoListener;
  }
  if (connected) {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0) connected(cred.pid);
  }
  std::string reply;
  const bool ok = WriteAll(fd, request + "\n") && ReadLine(fd, &reply, timeoutMs) && reply == "ok";
  ::close(fd);
  return ok ? RequestResult::Acknowledged : RequestResult::NotAcknowledged;
}

}  // namespace orb
