#include "platform/sim/SimAttach.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/sti/StiPassThrough.h"
#include "platform/sti/StillImage.h"
#include "scanner_library/TrennicDevices.h"

namespace orb::sim {

namespace pt = orb::passthru;

// Shared by the list entry and the devices opened from it: who holds the device lock.
struct StiEntryState {
  std::mutex mutex;
  std::condition_variable cv;
  const void* owner = nullptr;
  int depth = 0;
  int escapes = 0;
};

namespace {

class SimStiDevice final : public orb::sti::Device {
 public:
  SimStiDevice(std::shared_ptr<SimScanner> scanner, std::shared_ptr<StiEntryState> state)
      : scanner_(std::move(scanner)), state_(std::move(state)) {}
  ~SimStiDevice() override {
    std::lock_guard lock(state_->mutex);
    if (state_->owner == this) {
      state_->owner = nullptr;
      state_->depth = 0;
      state_->cv.notify_all();
    }
  }

  int32_t LockDevice(uint32_t timeoutMs) override {
    std::unique_lock lock(state_->mutex);
    if (state_->owner != this &&
        !state_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return state_->owner == nullptr; }))
      return orb::sti::kTimeout;
    state_->owner = this;
    ++state_->depth;
    return orb::sti::kOk;
  }

  int32_t UnLockDevice() override {
    std::lock_guard lock(state_->mutex);
    if (state_->owner != this) return orb::sti::kFail;
    if (--state_->depth == 0) {
      state_->owner = nullptr;
      state_->cv.notify_all();
    }
    return orb::sti::kOk;
  }

  int32_t Escape(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                 uint32_t* returned) override {
    {
      std::lock_guard lock(state_->mutex);
      ++state_->escapes;
    }
    if (returned) *returned = 0;
    if (code != orb::sti::kEscapeScsiPassThrough || !in ||
        inSize < sizeof(orb::sti::StiPassThroughBlock))
      return orb::sti::kInvalidArg;
    orb::sti::StiPassThroughBlock block;
    std::memcpy(&block, in, sizeof block);
    if (block.length != sizeof block || block.cdbLength > 16) return orb::sti::kInvalidArg;
    pt::Direction dir = block.dataDirection == orb::sti::kPassThroughDataIn    ? pt::Direction::In
                        : block.dataDirection == orb::sti::kPassThroughDataOut ? pt::Direction::Out
                                                                                : pt::Direction::None;
    const uint32_t len = std::min(block.dataLength, out ? outSize : 0u);
    SimScanner::Result r = scanner_->Execute(block.cdb, block.cdbLength, dir,
                                             static_cast<uint8_t*>(out), len, block.timeLimitMs);
    if (block.srbStatus) *block.srbStatus = r.status;
    if (block.sense) std::memcpy(block.sense, r.sense, std::min<size_t>(block.senseLength, 18));
    if (returned) *returned = r.transferred;
    return orb::sti::kOk;
  }

 private:
  std::shared_ptr<SimScanner> scanner_;
  std::shared_ptr<StiEntryState> state_;
};

class SimStiEntry final : public orb::sti::DeviceEntry {
 public:
  SimStiEntry(std::shared_ptr<SimScanner> scanner, std::shared_ptr<StiEntryState> state,
              std::string vendor)
      : scanner_(std::move(scanner)), state_(std::move(state)), vendor_(std::move(vendor)) {
    static std::atomic<int> next{1};
    name_ = "orbsim-scsi-" + std::to_string(next++);
  }
  orb::sti::DeviceInformation Info() const override {
    orb::sti::DeviceInformation info;
    info.type = 1;
    info.internalName = name_;
    info.vendorDescription = vendor_;
    info.deviceDescription = scanner_->Config().product;
    return info;
  }
  std::shared_ptr<orb::sti::Device> Open(uint32_t) override {
    return std::make_shared<SimStiDevice>(scanner_, state_);
  }

 private:
  std::shared_ptr<SimScanner> scanner_;
  std::shared_ptr<StiEntryState> state_;
  std::string vendor_;
  std::string name_;
};

struct EnvState {
  std::once_flag once;
  std::mutex mutex;
  std::vector<std::shared_ptr<SimScanner>> scanners;
};

EnvState& Env() {
  static EnvState s;
  return s;
}

}  // namespace

std::optional<double> ParseScanSpeed(std::string_view text, std::string& error) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    error = "empty value";
    return std::nullopt;
  }
  text = text.substr(first, text.find_last_not_of(" \t") - first + 1);
  double value = 0;
  // from_chars reads the same way whatever the locale says the decimal point is.
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value,
                                         std::chars_format::fixed);
  if (ec != std::errc() || end != text.data() + text.size()) {
    error = "not a number of lines per second";
    return std::nullopt;
  }
  if (!std::isfinite(value) || value < 0) {
    error = "must be a positive number of lines per second (0: no pacing)";
    return std::nullopt;
  }
  if (value > kMaxScanSpeed) {
    error = "more than " + std::to_string(static_cast<long long>(kMaxScanSpeed)) +
            " lines per second";
    return std::nullopt;
  }
  return value;
}

namespace {

// The pace asked for in the environment, 0 when none (or when the value is unusable).
double EnvironmentScanSpeed() {
  const char* value = std::getenv("ORB_SIM_SCAN_SPEED");
  if (!value) return 0;
  std::string error;
  std::optional<double> speed = ParseScanSpeed(value, error);
  if (!speed) {
    std::fprintf(stderr, "ORB_SIM_SCAN_SPEED=\"%s\" ignored: %s; scans run unpaced\n", value,
                 error.c_str());
    return 0;
  }
  return *speed;
}

}  // namespace

void AttachEnvironmentScanners() {
  EnvState& env = Env();
  std::call_once(env.once, [&] {
    const char* value = std::getenv("ORB_SIM_SCANNER");
    if (!value || !*value) return;
    const double speed = EnvironmentScanSpeed();
    std::stringstream list(value);
    std::string name;
    while (std::getline(list, name, ',')) {
      name.erase(0, name.find_first_not_of(" \t"));
      name.erase(name.find_last_not_of(" \t") + 1);
      const SimModel* model = nullptr;
      std::string lower = name;
      std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
      if (lower == "scsi")
        model = FindSimModel("TR6729");
      else
        model = FindSimModel(name);
      if (!model) continue;
      SimScannerConfig config = ConfigForModel(*model);
      config.feedsNextSheet = true;
      auto scanner = std::make_shared<SimScanner>(config);
      scanner->InsertPaper();
      if (speed > 0) scanner->SetReadPace(speed);
      auto state = std::make_shared<StiEntryState>();
      orb::trennic::RegisterStillImageDevice(
          std::make_shared<SimStiEntry>(scanner, state, kSimVendorDescription));
      std::lock_guard lock(env.mutex);
      env.scanners.push_back(scanner);
    }
  });
}

std::vector<std::shared_ptr<SimScanner>> EnvironmentScanners() {
  EnvState& env = Env();
  std::lock_guard lock(env.mutex);
  return env.scanners;
}

// ---- ScopedStiScanner ----------------------------------------------------------------

ScopedStiScanner::ScopedStiScanner(SimScannerConfig config)
    : ScopedStiScanner(std::make_shared<SimScanner>(std::move(config))) {}

ScopedStiScanner::ScopedStiScanner(std::shared_ptr<SimScanner> scanner, std::string vendor)
    : scanner_(std::move(scanner)), state_(std::make_shared<StiEntryState>()) {
  handle_ = orb::trennic::RegisterStillImageDevice(
      std::make_shared<SimStiEntry>(scanner_, state_, std::move(vendor)));
}

ScopedStiScanner::~ScopedStiScanner() { orb::trennic::UnregisterStillImageDevice(handle_); }

int ScopedStiScanner::EscapeCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->escapes;
}

// ---- SimScsiBus ----------------------------------------------------------------------

SimScsiBus::SimScsiBus(int adapters) : adapters_(std::clamp(adapters, 0, 255)) {}

void SimScsiBus::Attach(int adapter, int target, std::shared_ptr<SimScanner> device) {
  std::lock_guard lock(mutex_);
  devices_[{adapter, target}] = std::move(device);
}

void SimScsiBus::SetTargetCount(int adapter, int count) {
  std::lock_guard lock(mutex_);
  targetCounts_[adapter] = count;
}

void SimScsiBus::FailAdapterInquiry(int adapter, int times) {
  std::lock_guard lock(mutex_);
  inquiryFailures_[adapter] = times;
}

void SimScsiBus::HoldCompletion(bool hold) {
  std::lock_guard lock(mutex_);
  hold_ = hold;
}

void SimScsiBus::CompleteHeld() {
  std::vector<std::shared_ptr<pt::ExecRequest>> held;
  {
    std::lock_guard lock(mutex_);
    held.swap(held_);
  }
  for (auto& r : held) Run(*r);
}

size_t SimScsiBus::HeldCount() const {
  std::lock_guard lock(mutex_);
  return held_.size();
}

std::vector<std::pair<int, int>> SimScsiBus::DeviceTypeProbes() const {
  std::lock_guard lock(mutex_);
  return probes_;
}

uint32_t SimScsiBus::GetSupportInfo() {
  return (uint32_t{pt::kStatusCompleted} << 8) | static_cast<uint32_t>(adapters_);
}

void SimScsiBus::SendAdapterInquiry(pt::AdapterInquiryRequest& request) {
  std::lock_guard lock(mutex_);
  if (request.adapter >= adapters_) {
    request.status = pt::kStatusInvalidAdapter;
    return;
  }
  auto f = inquiryFailures_.find(request.adapter);
  if (f != inquiryFailures_.end() && f->second > 0) {
    --f->second;
    request.status = pt::kStatusAborted;
    return;
  }
  auto t = targetCounts_.find(request.adapter);
  request.adapterCount = static_cast<uint8_t>(adapters_);
  request.uniqueParams[3] = static_cast<uint8_t>(t != targetCounts_.end() ? t->second : 8);
  request.status = pt::kStatusCompleted;
}

void SimScsiBus::SendDeviceType(pt::DeviceTypeRequest& request) {
  std::lock_guard lock(mutex_);
  probes_.emplace_back(request.adapter, request.target);
  if (request.adapter >= adapters_) {
    request.status = pt::kStatusInvalidAdapter;
    return;
  }
  auto it = devices_.find({request.adapter, request.target});
  if (it == devices_.end() || request.lun != 0) {
    request.deviceType = pt::kDeviceTypeUnknown;
    request.status = pt::kStatusNoDevice;
    return;
  }
  request.deviceType = it->second->Config().peripheralType;
  request.status = pt::kStatusCompleted;
}

void SimScsiBus::SendExec(std::shared_ptr<pt::ExecRequest> request) {
  {
    std::lock_guard lock(mutex_);
    if (hold_) {
      held_.push_back(std::move(request));
      return;
    }
  }
  Run(*request);
}

void SimScsiBus::Run(pt::ExecRequest& request) {
  std::shared_ptr<SimScanner> device;
  {
    std::lock_guard lock(mutex_);
    auto it = devices_.find({request.adapter, request.target});
    if (it != devices_.end()) device = it->second;
  }
  if (!device) {
    request.Complete(pt::kStatusNoDevice);
    return;
  }
  SimScanner::Result r =
      device->Execute(request.cdb, request.cdbLength, request.direction, request.data.data(),
                      static_cast<uint32_t>(request.data.size()), request.timeLimitMs);
  std::memcpy(request.sense, r.sense, pt::kSenseLength);
  request.Complete(r.status);
}

// ---- ScopedPassThrough ---------------------------------------------------------------

ScopedPassThrough::ScopedPassThrough(std::shared_ptr<SimScsiBus> bus) {
  orb::trennic::SetPassThroughManager([bus]() -> std::shared_ptr<pt::Manager> { return bus; });
}

ScopedPassThrough::~ScopedPassThrough() { orb::trennic::SetPassThroughManager({}); }

}  // namespace orb::sim
