// orb-kelvane-sim: a simulated Kelvane network scanner. Point the program's connection page
// at the address and first port it prints; it serves until interrupted (Ctrl+C) or until
// --seconds have passed. Send it SIGUSR1 to press its scan button.
//
//   orb-kelvane-sim [--address 127.0.0.1] [--port 702] [--code 20] [--seconds 3600]
#include <atomic>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "platform/sim/SimKelvane.h"

namespace {

std::atomic<int> g_signal{0};
extern "C" void OnSignal(int sig) { g_signal.store(sig); }

bool ParseInt(const char* text, int lo, int hi, int* out) {
  int v = 0;
  const char* end = text + std::strlen(text);
  auto [p, ec] = std::from_chars(text, end, v);
  if (ec != std::errc() || p != end || v < lo || v > hi) return false;
  *out = v;
  return true;
}

int Usage() {
  std::fprintf(stderr,
               "usage: orb-kelvane-sim [--address IPV4] [--port 1-65535] [--code 20-37] "
               "[--seconds N]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string address = "127.0.0.1";
  int port = 702, code = 20, seconds = 3600;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return Usage();
    const char* v = argv[++i];
    if (a == "--address")
      address = v;
    else if (a == "--port" ? !ParseInt(v, 1, 65535, &port)
             : a == "--code" ? !ParseInt(v, 20, 37, &code)
             : a == "--seconds" ? !ParseInt(v, 1, 86400, &seconds)
                                : true)
      return Usage();
  }
  const std::string name = (code >= 20 && code <= 22) || (code >= 32 && code <= 34)
                               ? "KelvaneRu Scanner"
                               : "KelvanePVk Scanner";
  auto scanner = std::make_shared<orb::sim::SimKelvane>(orb::sim::KelvaneConfigFor(2, name, code));
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGUSR1, OnSignal);
  orb::sim::SimKelvaneServer server(scanner, address, static_cast<uint16_t>(port), seconds * 1000);
  if (!server.Running()) {
    std::fprintf(stderr, "orb-kelvane-sim: %s\n", server.Error().c_str());
    return 1;
  }
  std::printf("simulated %s (scanner code %d) on %s port %u\n", name.c_str(), code,
              address.c_str(), static_cast<unsigned>(server.Port()));
  std::fflush(stdout);
  while (server.Running()) {
    const int sig = g_signal.exchange(0);
    if (sig == SIGUSR1) {
      scanner->PressButton();
      std::printf("scan button pressed\n");
      std::fflush(stdout);
    } else if (sig != 0) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  server.Stop();
  return 0;
}
