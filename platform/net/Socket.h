// TCP sockets with bounded waits: a client connection and a listener, IPv4 only. Every
// blocking call takes a time-out, so no caller can hang on a peer that stops answering.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace orb::net {

enum class IoResult { Ok, TimedOut, Closed, Failed };

// A dotted IPv4 address ("127.0.0.1"); nullopt for anything else (names, IPv6, trailing text).
std::optional<uint32_t> ParseIpv4(const std::string& text);
// A decimal port 1..65535 with nothing around it; nullopt otherwise.
std::optional<uint16_t> ParsePort(const std::string& text);

class TcpConnection {
 public:
  TcpConnection() = default;
  explicit TcpConnection(int fd) : fd_(fd) {}
  ~TcpConnection();
  TcpConnection(TcpConnection&& other) noexcept;
  TcpConnection& operator=(TcpConnection&& other) noexcept;
  TcpConnection(const TcpConnection&) = delete;
  TcpConnection& operator=(const TcpConnection&) = delete;

  // Connects to address:port (network byte order is handled here), waiting at most timeoutMs.
  static IoResult Connect(const std::string& address, uint16_t port, int timeoutMs,
                          TcpConnection& out);

  bool IsOpen() const { return fd_ >= 0; }
  // Sends all bytes; each wait for room in the send buffer is bounded by timeoutMs.
  IoResult SendAll(const void* data, size_t size, int timeoutMs);
  // Receives exactly size bytes; each wait for data is bounded by timeoutMs.
  IoResult ReceiveAll(void* data, size_t size, int timeoutMs);
  // Stops both directions now; a thread blocked in a wait on it wakes at once.
  void Shutdown();
  void Close();

 private:
  int fd_ = -1;
};

// Listens on an IPv4 address; port 0 asks the system for a free port.
class TcpListener {
 public:
  TcpListener() = default;
  ~TcpListener();
  TcpListener(const TcpListener&) = delete;
  TcpListener& operator=(const TcpListener&) = delete;

  bool Listen(const std::string& address, uint16_t port, std::string* error);
  uint16_t Port() const { return port_; }
  // Waits at most timeoutMs for a client.
  IoResult Accept(int timeoutMs, TcpConnection& out);
  void Close();

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace orb::net
