// The scan run of a Kelvane-family scanner without any window: the scan start (area, palette
// pre-scan, plan, parameters, output, working copy, in-scan filters, the two threads), the
// stop request, the automatic size and the palette pre-scan. The reading and processing are
// the SCSI family's pipeline, reading through this family's connection object; the frame
// owns one object next to its CKelvaneScanner and tests drive it headless against the
// simulated scanners.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "scanning/ScanHost.h"
#include "scanning/ScanPipeline.h"
#include "scanning/ScannerFamilyOps.h"
#include "scanning/kelvane/KelvaneScanPlan.h"

class CKelvaneScanner;
struct ImageState;

namespace orb::kelvane {

inline constexpr const char* kInvalidScanParameters = "Invailid scan parameters";

class KelvaneScanControl {
 public:
  KelvaneScanControl(CKelvaneScanner& scanner, ScanHost& host);
  ~KelvaneScanControl();  // waits for a running scan
  KelvaneScanControl(const KelvaneScanControl&) = delete;
  KelvaneScanControl& operator=(const KelvaneScanControl&) = delete;

  // Starts a scan into `image` (the new scan document's working record) from ScanSettings
  // and the tool settings. True when the two threads run; false when nothing was started
  // (the reason was shown through the host, the scanner's status poll runs again).
  bool StartScan(ImageState* image);
  // The frame's stop request; the read thread acts on it.
  void StopScan();
  bool Scanning() const;
  // Waits until the running scan has ended. Never call it from the frame's handler of a
  // message the read thread sends and waits for.
  void WaitForScan();
  const KelvanePlan& LastPlan() const { return plan_; }
  ScanResult LastResult() const;

  // The automatic size: fills ScanWindowSize from the scanner's measure of the paper.
  void AutoSize();
  // The palette pre-scan of `width` x `length` hundredths of an inch; true when the
  // automatic palette file was written. False when it failed or Esc cut it short.
  bool MakeAutoPalette(int32_t width, int32_t length, int32_t colourMode);
  bool IsPaperPresent();

  // Replaces the in-scan filters (tests trace the chain with it).
  FilterMaker stageFactory;

 private:
  bool Abort(const PlanError& e, bool restartPoll);
  void RestartPoll();
  bool SendParameters(const KelvanePlan& k);
  bool PrepareImage(ImageState* image, const KelvanePlan& k, const std::string& outName,
                    std::vector<uint8_t>& lookup);
  ScanPipelineSetup MakeSetup(ImageState* image, const KelvanePlan& k);

  CKelvaneScanner& scanner_;
  ScanHost& host_;
  KelvanePlan plan_;
  std::unique_ptr<ScanPipeline> pipeline_;
  std::vector<std::unique_ptr<ScanPipeline>> retired_;
};

// The family's routines as the frame's scan workflow calls them.
class KelvaneFamilyOps final : public ScannerFamilyOps {
 public:
  explicit KelvaneFamilyOps(KelvaneScanControl& control) : c_(control) {}
  bool StartScan(ImageState* image) override { return c_.StartScan(image); }
  void StopScan() override { c_.StopScan(); }
  bool IsPaperPresent() override { return c_.IsPaperPresent(); }
  // Calibration, alignment and diagnostics are not offered for this family.
  int AlignScanner() override { return 0; }
  int ShowDiagnostics() override { return 0; }
  int Calibrate() override { return 0; }

 private:
  KelvaneScanControl& c_;
};

}  // namespace orb::kelvane
