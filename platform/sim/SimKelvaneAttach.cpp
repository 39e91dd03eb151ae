// The simulated Kelvane scanners on the device lists, on a TCP port, and from the
// environment.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>

#include "platform/net/EscapeWire.h"
#include "platform/sim/SimAttach.h"
#include "platform/sim/SimKelvane.h"
#include "platform/sti/StillImage.h"
#include "platform/wia/Wia.h"

namespace orb::sim {

namespace {

int NextSerial() {
  static std::atomic<int> next{1};
  return next++;
}

class KelvaneExtras final : public orb::wia::ItemExtras {
 public:
  explicit KelvaneExtras(std::shared_ptr<SimKelvane> s) : scanner_(std::move(s)) {}
  int32_t Escape(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                 uint32_t* returned) override {
    if (returned) *returned = 0;
    SimKelvane::Result r = scanner_->Escape(static_cast<int32_t>(code),
                                            static_cast<const uint8_t*>(in), inSize,
                                            static_cast<uint8_t*>(out), outSize);
    if (returned) *returned = r.actual;
    if (r.status == 1) return orb::wia::kFalse;
    return r.status == 0 ? orb::wia::kOk : orb::wia::kFail;
  }

 private:
  std::shared_ptr<SimKelvane> scanner_;
};

class KelvaneRootItem final : public orb::wia::RootItem {
 public:
  KelvaneRootItem(std::shared_ptr<SimKelvane> s, bool noEscape)
      : scanner_(std::move(s)), noEscape_(noEscape) {}
  std::shared_ptr<orb::wia::ItemExtras> Extras() override {
    if (noEscape_) return nullptr;
    return std::make_shared<KelvaneExtras>(scanner_);
  }

 private:
  std::shared_ptr<SimKelvane> scanner_;
  bool noEscape_;
};

class KelvaneWiaEntry final : public orb::wia::DeviceEntry {
 public:
  KelvaneWiaEntry(std::shared_ptr<SimKelvane> s, std::string id, ScopedKelvaneWia::Options o)
      : scanner_(std::move(s)), id_(std::move(id)), options_(o) {}
  orb::wia::DeviceProperties Properties() const override {
    orb::wia::DeviceProperties p;
    p.id = id_;
    p.name = scanner_->Config().deviceName;
    p.description = scanner_->Config().deviceName;
    p.nameIsText = options_.nameIsText;
    return p;
  }
  std::shared_ptr<orb::wia::RootItem> Create() override {
    if (options_.cannotCreate) return nullptr;
    return std::make_shared<KelvaneRootItem>(scanner_, options_.noEscape);
  }

 private:
  std::shared_ptr<SimKelvane> scanner_;
  std::string id_;
  ScopedKelvaneWia::Options options_;
};

class KelvaneStiDevice final : public orb::sti::Device {
 public:
  explicit KelvaneStiDevice(std::shared_ptr<SimKelvane> s) : scanner_(std::move(s)) {}
  int32_t LockDevice(uint32_t) override { return orb::sti::kOk; }
  int32_t UnLockDevice() override { return orb::sti::kOk; }
  int32_t Escape(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                 uint32_t* returned) override {
    if (returned) *returned = 0;
    SimKelvane::Result r = scanner_->Escape(static_cast<int32_t>(code),
                                            static_cast<const uint8_t*>(in), inSize,
                                            static_cast<uint8_t*>(out), outSize);
    if (returned) *returned = r.actual;
    return r.status == 0 ? orb::sti::kOk : orb::sti::kFail;
  }

 private:
  std::shared_ptr<SimKelvane> scanner_;
};

class KelvaneStiEntry final : public orb::sti::DeviceEntry {
 public:
  KelvaneStiEntry(std::shared_ptr<SimKelvane> s, std::string vendor)
      : scanner_(std::move(s)), vendor_(std::move(vendor)),
        name_("orbsim-kelvane-sti-" + std::to_string(NextSerial())) {}
  orb::sti::DeviceInformation Info() const override {
    orb::sti::DeviceInformation info;
    info.type = 1;
    info.internalName = name_;
    info.vendorDescription = vendor_;
    info.deviceDescription = scanner_->Config().deviceName;
    return info;
  }
  std::shared_ptr<orb::sti::Device> Open(uint32_t) override {
    return std::make_shared<KelvaneStiDevice>(scanner_);
  }

 private:
  std::shared_ptr<SimKelvane> scanner_;
  std::string vendor_;
  std::string name_;
};

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

constexpr int kPollMs = 50;           // how often the server looks at its stop flag
constexpr int kRequestBodyMs = 5000;  // a started request must arrive within this

}  // namespace

// ---- ScopedKelvaneWia ----------------------------------------------------------------

ScopedKelvaneWia::ScopedKelvaneWia(std::shared_ptr<SimKelvane> scanner, Options options)
    : scanner_(std::move(scanner)), id_("orbsim-kelvane-wia-" + std::to_string(NextSerial())) {
  handle_ = orb::wia::Register(std::make_shared<KelvaneWiaEntry>(scanner_, id_, options));
}

ScopedKelvaneWia::~ScopedKelvaneWia() { orb::wia::Unregister(handle_); }

void ScopedKelvaneWia::PressButton() {
  scanner_->PressButton();
  // The platform delivers device events on a thread of its own.
  std::thread raiser([id = id_] { orb::wia::RaiseEvent(id, orb::wia::kEventScanImage); });
  raiser.join();
}

void ScopedKelvaneWia::RaiseOtherEvent() {
  std::thread raiser([id = id_] { orb::wia::RaiseEvent(id, orb::wia::kEventDeviceConnected); });
  raiser.join();
}

// ---- ScopedKelvaneSti ----------------------------------------------------------------

ScopedKelvaneSti::ScopedKelvaneSti(std::shared_ptr<SimKelvane> scanner, std::string vendor) {
  handle_ = orb::sti::Register(std::make_shared<KelvaneStiEntry>(std::move(scanner), std::move(vendor)));
}

ScopedKelvaneSti::~ScopedKelvaneSti() { orb::sti::Unregister(handle_); }

// ---- SimKelvaneServer ----------------------------------------------------------------

SimKelvaneServer::SimKelvaneServer(std::shared_ptr<SimKelvane> scanner, std::string address,
                                   uint16_t port, int lifetimeMs)
    : scanner_(std::move(scanner)) {
  if (!listener_.Listen(address, port, &error_)) return;
  running_ = true;
  thread_ = std::thread([this, lifetimeMs] { Run(lifetimeMs); });
}

SimKelvaneServer::~SimKelvaneServer() { Stop(); }

void SimKelvaneServer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  listener_.Close();
  running_ = false;
}

void SimKelvaneServer::Run(int lifetimeMs) {
  const int64_t deadline = NowMs() + lifetimeMs;
  while (!stop_ && NowMs() < deadline) {
    orb::net::TcpConnection client;
    if (listener_.Accept(kPollMs, client) != orb::net::IoResult::Ok) continue;
    ++connections_;
    Serve(client, deadline);
  }
  running_ = false;
}

void SimKelvaneServer::Serve(orb::net::TcpConnection& client, int64_t deadlineMs) {
  using orb::net::IoResult;
  while (!stop_ && NowMs() < deadlineMs) {
    uint8_t header[orb::net::kRequestHeaderSize];
    // The first byte is awaited in short steps so that a stop is seen; the rest of a
    // started request must follow promptly.
    const IoResult first = client.ReceiveAll(header, 1, kPollMs);
    if (first == IoResult::TimedOut) continue;
    if (first != IoResult::Ok) return;
    if (client.ReceiveAll(header + 1, sizeof header - 1, kRequestBodyMs) != IoResult::Ok) return;
    const orb::net::RequestHeader h = orb::net::DecodeRequest(header);
    if (h.inLength > orb::net::kMaxEscapeBytes || h.outLength > orb::net::kMaxEscapeBytes) return;
    std::vector<uint8_t> in(h.inLength), out(h.outLength);
    if (h.inLength && client.ReceiveAll(in.data(), in.size(), kRequestBodyMs) != IoResult::Ok)
      return;
    const SimKelvane::Result r =
        scanner_->Escape(h.code, in.data(), h.inLength, out.data(), h.outLength);
    if (r.noAnswer) continue;  // the client gives up waiting and drops the connection
    const auto reply = orb::net::EncodeReply({r.status, r.actual});
    if (r.drop) {
      // Half a reply, then the connection goes down.
      (void)client.SendAll(reply.data(), reply.size() / 2, kRequestBodyMs);
      client.Close();
      return;
    }
    if (client.SendAll(reply.data(), reply.size(), kRequestBodyMs) != IoResult::Ok) return;
    if (r.actual && client.SendAll(out.data(), r.actual, kRequestBodyMs) != IoResult::Ok) return;
  }
}

// ---- From the environment ------------------------------------------------------------

namespace {

struct KelvaneEnv {
  std::once_flag once;
  std::mutex mutex;
  std::vector<std::shared_ptr<SimKelvane>> scanners;
  std::vector<std::unique_ptr<ScopedKelvaneWia>> wia;
  std::vector<std::unique_ptr<ScopedKelvaneSti>> sti;
};

KelvaneEnv& Env() {
  // Never destroyed: the lists may be walked until the process ends.
  static KelvaneEnv* env = new KelvaneEnv;
  return *env;
}

}  // namespace

namespace {

// ORB_SIM_SCAN_SPEED as the SCSI simulators read it; 0 (unpaced) when unset or unusable.
double EnvironmentPace() {
  const char* value = std::getenv("ORB_SIM_SCAN_SPEED");
  if (!value) return 0;
  std::string error;
  return ParseScanSpeed(value, error).value_or(0);
}

}  // namespace

void AttachEnvironmentKelvaneScanners() {
  KelvaneEnv& env = Env();
  std::call_once(env.once, [&] {
    const char* value = std::getenv("ORB_SIM_SCANNER");
    if (!value || !*value) return;
    const double pace = EnvironmentPace();
    std::stringstream list(value);
    std::string name;
    while (std::getline(list, name, ',')) {
      name.erase(0, name.find_first_not_of(" \t"));
      name.erase(name.find_last_not_of(" \t") + 1);
      std::transform(name.begin(), name.end(), name.begin(), ::tolower);
      const bool sti = name.size() > 4 && name.ends_with("-sti");
      const std::string model = sti ? name.substr(0, name.size() - 4) : name;
      std::shared_ptr<SimKelvane> scanner;
      SimKelvaneConfig config;
      if (model == "kelvane1")
        config = KelvaneConfigFor(1, "Kelvane Bn Scanner", 4);
      else if (model == "kelvane2")
        config = KelvaneConfigFor(2, "KelvaneRu Scanner", 21);
      else
        continue;
      config.linesPerSecond = pace;
      scanner = std::make_shared<SimKelvane>(std::move(config));
      std::lock_guard lock(env.mutex);
      env.scanners.push_back(scanner);
      if (sti)
        env.sti.push_back(std::make_unique<ScopedKelvaneSti>(scanner));
      else
        env.wia.push_back(std::make_unique<ScopedKelvaneWia>(scanner));
    }
  });
}

std::vector<std::shared_ptr<SimKelvane>> EnvironmentKelvaneScanners() {
  KelvaneEnv& env = Env();
  std::lock_guard lock(env.mutex);
  return env.scanners;
}

}  // namespace orb::sim
