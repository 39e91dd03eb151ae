// Attaching simulated scanners: to the still-image device list (what ORB_SIM_SCANNER asks
// for, or what a test registers) and to a simulated pass-through bus.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/sg/PassThrough.h"
#include "platform/sim/SimScanner.h"

namespace orb::sim {

// The vendor description simulated SCSI scanners carry in the still-image device list.
constexpr const char* kSimVendorDescription = "Varnholt Imaging (simulated)";

// Reads ORB_SIM_SCANNER once per process and puts what it names on the scanner library's
// still-image device list (the program calls it at its start; the library itself reads no
// simulator variable): "scsi" (a TR6729) or a model's product key ("TK7402", "HALD24" ...);
// several may be separated by commas; names it does not know are left to others.
void AttachEnvironmentScanners();
// ORB_SIM_SCAN_SPEED, when set, paces those scanners' READs at that many image lines a
// second (see SimScanner::SetReadPace); a value that is not a positive number is ignored
// with a message on stderr.
//
// The scanners attached from the environment (empty when none).
std::vector<std::shared_ptr<SimScanner>> EnvironmentScanners();

// Reads a scan pace in lines a second ("120", "37.5", surrounding blanks allowed).
// "0" means no pacing and gives 0. Anything else that is not a finite number in
// (0, kMaxScanSpeed] gives nullopt and says why in `error`.
constexpr double kMaxScanSpeed = 1e6;
std::optional<double> ParseScanSpeed(std::string_view text, std::string& error);

// Registers a simulated scanner in the still-image device list for the lifetime of the
// object.
class ScopedStiScanner {
 public:
  explicit ScopedStiScanner(SimScannerConfig config = {});
  explicit ScopedStiScanner(std::shared_ptr<SimScanner> scanner,
                            std::string vendorDescription = kSimVendorDescription);
  ~ScopedStiScanner();
  ScopedStiScanner(const ScopedStiScanner&) = delete;
  ScopedStiScanner& operator=(const ScopedStiScanner&) = delete;
  SimScanner& scanner() { return *scanner_; }
  std::shared_ptr<SimScanner> shared() { return scanner_; }
  // Number of escape calls made on the device.
  int EscapeCount() const;

 private:
  std::shared_ptr<SimScanner> scanner_;
  int handle_ = 0;
  std::shared_ptr<struct StiEntryState> state_;
};

// A simulated pass-through bus: host adapters with devices on their targets.
class SimScsiBus final : public passthru::Manager {
 public:
  explicit SimScsiBus(int adapters);
  // Puts a device on (adapter, target); its peripheral type comes from its config.
  void Attach(int adapter, int target, std::shared_ptr<SimScanner> device);
  // What the adapter reports as its number of targets (default 8).
  void SetTargetCount(int adapter, int count);
  // The adapter inquiry fails this many times.
  void FailAdapterInquiry(int adapter, int times);
  // Execute requests are kept instead of carried out until CompleteHeld.
  void HoldCompletion(bool hold);
  // Carries out the held requests now (the device writes into their buffers).
  void CompleteHeld();
  size_t HeldCount() const;
  // The (adapter, target) pairs asked for their device type, in order.
  std::vector<std::pair<int, int>> DeviceTypeProbes() const;

  uint32_t GetSupportInfo() override;
  void SendAdapterInquiry(passthru::AdapterInquiryRequest& request) override;
  void SendDeviceType(passthru::DeviceTypeRequest& request) override;
  void SendExec(std::shared_ptr<passthru::ExecRequest> request) override;

 private:
  void Run(passthru::ExecRequest& request);
  int adapters_;
  mutable std::mutex mutex_;
  std::map<std::pair<int, int>, std::shared_ptr<SimScanner>> devices_;
  std::map<int, int> targetCounts_;
  std::map<int, int> inquiryFailures_;
  bool hold_ = false;
  std::vector<std::shared_ptr<passthru::ExecRequest>> held_;
  std::vector<std::pair<int, int>> probes_;
};

// Installs a pass-through loader for the lifetime of the object: the bus given, or none
// at all (a manager that cannot be loaded) when bus is null.
class ScopedPassThrough {
 public:
  explicit ScopedPassThrough(std::shared_ptr<SimScsiBus> bus);
  ~ScopedPassThrough();
  ScopedPassThrough(const ScopedPassThrough&) = delete;
  ScopedPassThrough& operator=(const ScopedPassThrough&) = delete;
};

}  // namespace orb::sim
