#include "platform/net/Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>

namespace orb::net {

namespace {

// Waits for the descriptor to become ready for `events`, restarting after signals.
IoResult WaitReady(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  for (;;) {
    const int r = ::poll(&p, 1, timeoutMs);
    if (r > 0) return (p.revents & POLLNVAL) ? IoResult::Failed : IoResult::Ok;
    if (r == 0) return IoResult::TimedOut;
    if (errno != EINTR) return IoResult::Failed;
  }
}

bool SetNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL, 0);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

sockaddr_in MakeAddress(uint32_t ip, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = ip;
  return a;
}

}  // namespace

std::optional<uint32_t> ParseIpv4(const std::string& text) {
  in_addr a{};
  if (text.empty() || text.size() > 15 || ::inet_pton(AF_INET, text.c_str(), &a) != 1)
    return std::nullopt;
  return a.s_addr;
}

std::optional<uint16_t> ParsePort(const std::string& text) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || p != end || value < 1 || value > 65535)
    return std::nullopt;
  return static_cast<uint16_t>(value);
}

// ---- TcpConnection -------------------------------------------------------------------

TcpConnection::~TcpConnection() { Close(); }

TcpConnection::TcpConnection(TcpConnection&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

TcpConnection& TcpConnection::operator=(TcpConnection&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

IoResult TcpConnection::Connect(const std::string& address, uint16_t port, int timeoutMs,
                                TcpConnection& out) {
  out.Close();
  const std::optional<uint32_t> ip = ParseIpv4(address);
  if (!ip || port == 0) return IoResult::Failed;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return IoResult::Failed;
  TcpConnection c(fd);
  if (!SetNonBlocking(fd)) return IoResult::Failed;
  const sockaddr_in a = MakeAddress(*ip, port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    if (errno != EINPROGRESS) return IoResult::Failed;
    const IoResult w = WaitReady(fd, POLLOUT, timeoutMs);
    if (w != IoResult::Ok) return w;
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0)
      return IoResult::Failed;
  }
  // Requests are small and answered at once: do not hold them back for coalescing.
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  out = std::move(c);
  return IoResult::Ok;
}

IoResult TcpConnection::SendAll(const void* data, size_t size, int timeoutMs) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    if (fd_ < 0) return IoResult::Closed;
    const ssize_t n = ::send(fd_, p, size, MSG_NOSIGNAL);
    if (n > 0) {
      p += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const IoResult w = WaitReady(fd_, POLLOUT, timeoutMs);
      if (w != IoResult::Ok) return w;
      continue;
    }
    return (errno == EPIPE || errno == ECONNRESET) ? IoResult::Closed : IoResult::Failed;
  }
  return IoResult::Ok;
}

IoResult TcpConnection::ReceiveAll(void* data, size_t size, int timeoutMs) {
  auto* p = static_cast<uint8_t*>(data);
  while (size > 0) {
    if (fd_ < 0) return IoResult::Closed;
    const ssize_t n = ::recv(fd_, p, size, 0);
    if (n > 0) {
      p += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n == 0) return IoResult::Closed;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      const IoResult w = WaitReady(fd_, POLLIN, timeoutMs);
      if (w != IoResult::Ok) return w;
      continue;
    }
    return errno == ECONNRESET ? IoResult::Closed : IoResult::Failed;
  }
  return IoResult::Ok;
}

void TcpConnection::Shutdown() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

void TcpConnection::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

// ---- TcpListener ---------------------------------------------------------------------

TcpListener::~TcpListener() { Close(); }

bool TcpListener::Listen(const std::string& address, uint16_t port, std::string* error) {
  Close();
  auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + ": " + std::strerror(errno);
    Close();
    return false;
  };
  const std::optional<uint32_t> ip = ParseIpv4(address);
  if (!ip) {
    if (error) *error = "not an IPv4 address: " + address;
    return false;
  }
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return fail("socket");
  const int one = 1;
  ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a = MakeAddress(*ip, port);
  if (::bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) return fail("bind");
  if (::listen(fd_, 4) != 0) return fail("listen");
  if (!SetNonBlocking(fd_)) return fail("fcntl");
  socklen_t len = sizeof a;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) return fail("getsockname");
  port_ = ntohs(a.sin_port);
  return true;
}

IoResult TcpListener::Accept(int timeoutMs, TcpConnection& out) {
  if (fd_ < 0) return IoResult::Closed;
  const IoResult w = WaitReady(fd_, POLLIN, timeoutMs);
  if (w != IoResult::Ok) return w;
  const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return (errno == EAGAIN || errno == EINTR) ? IoResult::TimedOut : IoResult::Failed;
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  out = TcpConnection(fd);
  return IoResult::Ok;
}

void TcpListener::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  port_ = 0;
}

}  // namespace orb::net
