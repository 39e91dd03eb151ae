#include "platform/wia/Wia.h"

#include <algorithm>
#include <mutex>
#include <utility>

namespace orb::wia {

namespace {

// One registration's sink. The mutex is held while the sink runs, so that ending the
// registration waits for a call in progress.
struct Slot {
  std::mutex mutex;
  EventSink* sink = nullptr;
  std::string deviceId;
  std::string eventId;
};

struct Registry {
  std::mutex mutex;
  int next = 1;
  std::vector<std::pair<int, std::shared_ptr<DeviceEntry>>> entries;
  std::vector<std::shared_ptr<Slot>> slots;
  PlatformFaults faults;
};

Registry& TheRegistry() {
  static Registry r;
  return r;
}

class Registration final : public EventRegistration {
 public:
  explicit Registration(std::shared_ptr<Slot> slot) : slot_(std::move(slot)) {}
  ~Registration() override {
    Registry& r = TheRegistry();
    {
      std::lock_guard lock(r.mutex);
      std::erase(r.slots, slot_);
    }
    std::lock_guard lock(slot_->mutex);
    slot_->sink = nullptr;
  }

 private:
  std::shared_ptr<Slot> slot_;
};

}  // namespace

int Register(std::shared_ptr<DeviceEntry> entry) {
  if (!entry) return 0;
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  const int h = r.next++;
  r.entries.emplace_back(h, std::move(entry));
  return h;
}

void Unregister(int handle) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  std::erase_if(r.entries, [&](const auto& e) { return e.first == handle; });
}

void SetPlatformFaults(PlatformFaults faults) {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  r.faults = faults;
}

int RaiseEvent(const std::string& deviceId, const std::string& eventId) {
  Registry& r = TheRegistry();
  std::vector<std::shared_ptr<Slot>> slots;
  std::string description;
  {
    std::lock_guard lock(r.mutex);
    slots = r.slots;
    for (const auto& [h, e] : r.entries) {
      DeviceProperties p = e->Properties();
      if (p.id == deviceId) description = p.description;
    }
  }
  int called = 0;
  for (const auto& s : slots) {
    std::lock_guard lock(s->mutex);
    if (!s->sink || s->eventId != eventId || (!s->deviceId.empty() && s->deviceId != deviceId))
      continue;
    s->sink->ImageEventCallback(eventId, "", deviceId, description, 1, "", 1, 0);
    ++called;
  }
  return called;
}

bool DeviceManager::EnumDeviceInfo(std::vector<DeviceProperties>& out) {
  out.clear();
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  if (r.faults.noEnumerator) return false;
  for (const auto& [h, e] : r.entries) out.push_back(e->Properties());
  return true;
}

int32_t DeviceManager::CreateDevice(const std::string& deviceId, std::shared_ptr<RootItem>& out) {
  out.reset();
  std::shared_ptr<DeviceEntry> entry;
  {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    for (const auto& [h, e] : r.entries)
      if (e->Properties().id == deviceId) {
        entry = e;
        break;
      }
  }
  if (!entry) return kNotFound;
  out = entry->Create();
  return out ? kOk : kFail;
}

int32_t DeviceManager::RegisterEventCallbackInterface(uint32_t, const std::string& deviceId,
                                                      const std::string& eventId, EventSink* sink,
                                                      std::unique_ptr<EventRegistration>& out) {
  out.reset();
  if (!sink || eventId.empty()) return kInvalidArg;
  auto slot = std::make_shared<Slot>();
  slot->sink = sink;
  slot->deviceId = deviceId;
  slot->eventId = eventId;
  Registry& r = TheRegistry();
  {
    std::lock_guard lock(r.mutex);
    r.slots.push_back(slot);
  }
  out = std::make_unique<Registration>(std::move(slot));
  return kOk;
}

int32_t CreateDeviceManager(std::shared_ptr<DeviceManager>& out) {
  out.reset();
  Registry& r = TheRegistry();
  {
    std::lock_guard lock(r.mutex);
    if (r.faults.noManager) return kFail;
  }
  out = std::make_shared<DeviceManager>();
  return kOk;
}

}  // namespace orb::wia
