#include "scanning/ScanHost.h"

#include <atomic>

#include "platform/Files.h"

namespace orb {

bool ScanHost::HasFreeSpace(const std::string& path, int64_t bytes) {
  auto available = AvailableDiskBytes(path);
  return available && bytes >= 0 && *available > static_cast<uint64_t>(bytes);
}

void ScanHost::ChangeImageRecord(std::function<void()> change) {
  if (change) change();
}

namespace {
std::atomic<ScanHost*> g_host{nullptr};
}

ScanHost* CurrentScanHost() { return g_host.load(); }
void SetScanHost(ScanHost* host) { g_host.store(host); }

}  // namespace orb
