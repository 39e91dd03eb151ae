#include "platform/sti/StillImage.h"

#include <algorithm>
#include <mutex>
#include <utility>

namespace orb::sti {

namespace {

struct Registry {
  std::mutex mutex;
  int next = 1;
  std::vector<std::pair<int, std::shared_ptr<DeviceEntry>>> entries;
};

Registry& TheRegistry() {
  static Registry r;
  return r;
}

}  // namespace

int Register(std::shared_ptr<DeviceEntry> entry) {
  if (!entry) return 0;
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  int h = r.next++;
  r.entries.emplace_back(h, std::move(entry));
  return h;
}

void Unregister(int handle) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  std::erase_if(r.entries, [&](const auto& e) { return e.first == handle; });
}

size_t RegisteredCount() {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  return r.entries.size();
}

int32_t StillImage::GetDeviceList(uint32_t type, uint32_t, std::vector<DeviceInformation>& out) {
  out.clear();
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  for (const auto& [h, e] : r.entries) {
    DeviceInformation info = e->Info();
    if (type == 0 || info.type == type) out.push_back(std::move(info));
  }
  return kOk;
}

int32_t StillImage::CreateDevice(const std::string& internalName, uint32_t mode,
                                 std::shared_ptr<Device>& out) {
  out.reset();
  std::shared_ptr<DeviceEntry> entry;
  {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    for (const auto& [h, e] : r.entries)
      if (e->Info().internalName == internalName) {
        entry = e;
        break;
      }
  }
  if (!entry) return kNotFound;
  out = entry->Open(mode);
  return out ? kOk : kFail;
}

int32_t StiCreateInstance(uint32_t version, std::unique_ptr<StillImage>& out) {
  if (version < 1) return kInvalidArg;
  out = std::make_unique<StillImage>();
  return kOk;
}

}  // namespace orb::sti
