// Control of a scanner of the SCSI family without any window: identification, the scan start
// (plan, pre-scans, tables and parameters, output, working copy, in-scan filters, threads),
// the stop request, the width and palette pre-scans, paper sensing and paper moves. The main
// frame owns one object next to its CTrennic and calls it from its handlers; tests drive it
// headless against the simulated scanner.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CQuantise;

#include "scanning/ScannerFamilyOps.h"
#include "engine/Settings.h"
#include "scanning/AutoSize.h"
#include "scanning/PaperHandling.h"
#include "scanning/ScanHost.h"
#include "scanning/ScanPipeline.h"
#include "scanning/ScanPlan.h"
#include "scanning/ScannerIdentification.h"

class CTrennic;
struct ImageState;

namespace orb {

// Message string ids of the pre-scans.
inline constexpr int kStrAutoSizeCaption = 33048;
inline constexpr int kStrPreScanCaption = 33049;
inline constexpr int kStrNoEdges = 33069;
inline constexpr int kStrNoLeftEdge = 33070;
inline constexpr int kStrNoRightEdge = 33071;

class ScsiScanControl {
 public:
  ScsiScanControl(CTrennic& scanner, ScanHost& host);
  ~ScsiScanControl();  // waits for a running scan and paper move
  ScsiScanControl(const ScsiScanControl&) = delete;
  ScsiScanControl& operator=(const ScsiScanControl&) = delete;

  // Identification; fills ScanSettings, the resolution list and the family tag.
  IdentifyResult Identify();

  // Starts a scan into `image` (the new scan document's working record) from ScanSettings and
  // the tool settings. True when the two threads run; false when nothing was started (the
  // reason was shown through the host).
  bool StartScan(ImageState* image);
  // The frame's stop request; the read thread acts on it.
  void StopScan();
  // True while a scan's threads run.
  bool Scanning() const;
  // Waits until the running scan has ended (its frame message sent). Never call it from the
  // frame's handler of a message the read thread sends and waits for.
  void WaitForScan();
  // The plan and result of the last scan (for the frame and tests).
  const ScanPlan& LastPlan() const { return plan_; }
  ScanResult LastResult() const;

  // The width pre-scan: fills `area` (top already set). False when it could not start.
  bool AutoSizePass(_WINDOWSIZES& area);
  // The palette pre-scan of the area; true when the automatic palette file was written.
  bool PreScanPass(int32_t width, int32_t length, int32_t colourMode);

  bool IsPaperPresent();
  void ApplyStaging();
  void ApplyTransport();
  void Unload(bool synchronous);
  void Load(bool synchronous);

  // Names of the two pages of a split scan, when the split tool is there to make them.
  std::function<std::vector<std::string>(const std::string&)> splitPageNames;
  // Replaces the in-scan filters (tests trace the chain with it); null for a filter that
  // is to be left out.
  FilterMaker stageFactory;
  // Passed on to the pipeline.
  std::function<void(const char*)> trace;

 private:
  bool Abort(const PlanError& e);
  void SendTables(const ScanPlan& plan);

  CTrennic& scanner_;
  ScanHost& host_;
  PaperMover mover_;
  ScanPlan plan_;
  std::unique_ptr<ScanPipeline> pipeline_;
  // Finished scans whose read thread may still be delivering its last message to the frame
  // (a new scan may be started from the frame's handler of that very message).
  std::vector<std::unique_ptr<ScanPipeline>> retired_;
};

// Shared by the scan starts of every family.
// Describes the scan's image in its record from the plan: output path, resolution, kind, size,
// line layout and, for grey-ramp scans, the grey palette.
void DescribeScanImage(const ScanPlan& plan, const std::string& outName, ImageState* image);
// Opens the plan's output into setup.output and, when the plan asks for one, the working copy
// into setup.workingCopy (a copy that cannot be made is reported and left out). False, with
// the message shown, when the output cannot be created.
bool OpenScanSinks(ScanHost& host, ImageState* image, const ScanPlan& plan,
                   const std::string& outName, ScanPipelineSetup& setup);
// The filters of a plan's InScanFilter bits.
FilterSet InScanFilterSet(uint32_t bits);
// The pipeline set-up both families start from: host, image, line layout, size, resolution,
// kind, the output options of the settings and a palette scan's white entry.
ScanPipelineSetup BasePipelineSetup(ScanHost& host, ImageState* image, const ScanPlan& plan);
// The automatic palette of a palette pre-scan (16 colours for colour mode 2, else 256) made by
// `quantiser` from what it was given, saved as the mode's "AutoPalette16.tmp" or
// "AutoPalette256.tmp" in the data folder with the family's palette file `header`. False when
// no palette could be made or saved.
bool SaveAutoPalette(CQuantise& quantiser, int32_t colourMode, uint8_t header);

// The SCSI family's routines as the frame's scan workflow calls them.
class ScsiFamilyOps final : public ScannerFamilyOps {
 public:
  explicit ScsiFamilyOps(ScsiScanControl& control) : c_(control) {}
  bool StartScan(ImageState* image) override { return c_.StartScan(image); }
  void StopScan() override { c_.StopScan(); }
  bool IsPaperPresent() override { return c_.IsPaperPresent(); }
  void LoadMedium(bool wait) override { c_.Load(wait); }
  void UnloadMedium(bool wait) override { c_.Unload(wait); }
  void ApplyPaperStaging() override { c_.ApplyStaging(); }
  void ApplyPaperTransport() override { c_.ApplyTransport(); }

 private:
  ScsiScanControl& c_;
};

}  // namespace orb
