#include "scanning/kelvane/KelvaneScanControl.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "engine/AppStatus.h"
#include "engine/ImageState.h"
#include "engine/PaletteFile.h"
#include "engine/Settings.h"
#include "engine/SharedRoutines.h"
#include "engine/ToolSettings.h"
#include "engine/quantise/Quantise.h"
#include "scanning/ResolutionList.h"
#include "scanning/ScsiScanControl.h"
#include "scanning/kelvane/KelvaneScanner.h"

namespace orb::kelvane {
namespace {

using std::chrono::milliseconds;

// Reads a scan's blocks through the connection object: the data, then the status, whose
// third value 1 says the scanner has reached the end of the medium.
class KelvaneReader final : public ScanBlockReader {
 public:
  KelvaneReader(CKelvaneScanner& scanner, int32_t lineSize) : k_(scanner), lineSize_(lineSize) {}

  ReadCompleteType Read(uint8_t* buffer, int32_t requested, int32_t* returned) override {
    *returned = 0;
    if (statusFailed_) return READ_FAILED;
    if (ended_) return READ_END_OF_MEDIUM;
    const uint32_t want = static_cast<uint32_t>(std::max(requested, 0));
    uint32_t got = 0;
    // A read may bring part of a line: the rest of it is read at once, so lines never slip.
    while (got < want) {
      uint32_t n = 0;
      if (!k_.ReadData(buffer + got, want - got, &n)) return READ_MEDIUM_ERROR;
      if (n == 0) break;
      got += std::min(n, want - got);
      if (got % static_cast<uint32_t>(lineSize_) == 0) break;
    }
    got -= got % static_cast<uint32_t>(lineSize_);
    if (got == 0) return READ_NO_DATA;
    *returned = static_cast<int32_t>(got);
    int32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    if (!k_.GetStatus(&s0, &s1, &s2, &s3))
      statusFailed_ = true;  // this block is kept; the next read reports the failure
    else if (s2 == 1)
      ended_ = true;
    return READ_COMPLETE;
  }
  void Stop(ScanEnd why) override {
    if (why == ScanEnd::Stopped) (void)k_.EndScan();
  }
  // EndScan is the last command of every scan; it restarts the status poll.
  void Finished() override { (void)k_.EndScan(); }

 private:
  CKelvaneScanner& k_;
  int32_t lineSize_;
  bool ended_ = false;
  bool statusFailed_ = false;
};

// The block of the palette pre-scan: whole lines within 1 MB (the whole image when smaller),
// at most 98 lines.
int32_t PreScanBlockLines(int32_t length, int64_t lineBytes) {
  int64_t lines = kMaxBlockBytes / std::max<int64_t>(lineBytes, 1);
  lines = std::min<int64_t>(lines, length);
  return static_cast<int32_t>(std::clamp<int64_t>(lines, 1, kMaxBlockLines));
}

}  // namespace

KelvaneScanControl::KelvaneScanControl(CKelvaneScanner& scanner, ScanHost& host)
    : scanner_(scanner), host_(host) {}

KelvaneScanControl::~KelvaneScanControl() {
  if (pipeline_) pipeline_->Join();
  for (auto& p : retired_) p->Join();
}

bool KelvaneScanControl::Scanning() const { return pipeline_ && !pipeline_->Finished(); }

void KelvaneScanControl::WaitForScan() {
  if (pipeline_) pipeline_->Join();
}

ScanResult KelvaneScanControl::LastResult() const {
  return pipeline_ ? pipeline_->Result() : ScanResult{};
}

void KelvaneScanControl::StopScan() {
  // Only the read thread talks to the scanner during a scan: it sends EndScan itself.
  if (pipeline_ && !pipeline_->Finished()) pipeline_->RequestStop();
}

bool KelvaneScanControl::IsPaperPresent() {
  uint8_t first = 0, second = 0;
  return scanner_.GetMediaFlags(&first, &second) && second != 0;
}

void KelvaneScanControl::RestartPoll() {
  // EndScan starts the status poll again after a window command stopped it, so the scan
  // button stays alive after a start that failed.
  (void)scanner_.EndScan();
}

bool KelvaneScanControl::Abort(const PlanError& e, bool restartPoll) {
  host_.WaitCursor(false);
  if (restartPoll) RestartPoll();
  if (e.stringId == kStrInvalidArgument)
    host_.ShowText("Invalid argument: " + e.text, "", MessageIcon::Error);
  else if (e.stringId == kStrJpegTooHigh)
    host_.ShowMessage(kStrJpegTooHigh, MessageIcon::Exclamation, {std::string("JPEG"), int64_t{32767}});
  else if (e.stringId != 0)
    host_.ShowMessage(e.stringId, MessageIcon::Error);
  else if (!e.text.empty())
    host_.ShowText(e.text, "", MessageIcon::Error);
  return false;
}

void KelvaneScanControl::AutoSize() {
  const ScanSettingsRecord& s = ScanSettings;
  // An output that is cut at the paper's end scans to it; otherwise the scanner measures
  // the length first.
  const int32_t flag = (!s.OutputIsPlainTiff && !s.NoPadOutput) ? 1 : 0;
  int32_t width = 0, length = 0;
  (void)scanner_.GetAreaSize(flag, &width, &length);
  ScanWindowSize.Width = width;
  ScanWindowSize.Length = flag == 1 ? length : kToEndOfPaper;
  ScanWindowSize.Left = 0;
  ScanWindowSize.Top = 0;
  host_.GetClock().Sleep(milliseconds(250));
}

bool KelvaneScanControl::MakeAutoPalette(int32_t width, int32_t length, int32_t colourMode) {
  ScanSettingsRecord& s = ScanSettings;
  host_.ProgressBegin(kStrAutoPaletteCaption, s.SizeMode == 0 ? 100 : std::max(length, 1));
  length = std::min(length, 65536);
  if (!scanner_.SetWindow(width, length, 100, kModeColour)) {
    host_.ProgressEnd();
    host_.ShowText("SetWindowFailed", "", MessageIcon::Error);
    return false;
  }
  Clock& clock = host_.GetClock();
  clock.Sleep(milliseconds(200));
  (void)scanner_.SetGamma(s.ScanBrightness, s.BlackLevel, s.WhiteLevel, s.GammaRed);
  clock.Sleep(milliseconds(200));
  (void)scanner_.SetPaperHandling(3);
  clock.Sleep(milliseconds(200));
  (void)scanner_.SetSpeed(2);
  clock.Sleep(milliseconds(200));
  CancelFlag.store(0);
  if (!scanner_.StartScan()) {
    host_.ProgressEnd();
    RestartPoll();
    return false;
  }

  const int64_t lineBytes = 3 * int64_t{width};
  const int32_t blockLines = PreScanBlockLines(length, lineBytes);
  std::vector<uint8_t> buffer(static_cast<size_t>(lineBytes) * static_cast<size_t>(blockLines));
  auto quantiser = std::make_unique<CQuantise>();
  int32_t received = 0;
  bool endSent = false;
  KelvaneReader reader(scanner_, static_cast<int32_t>(lineBytes));
  while (received < length) {
    host_.PumpMessages();
    if (CancelFlag.load() && !endSent) {
      (void)scanner_.EndScan();  // the scanner stops delivering; what it still sends is read
      endSent = true;
    }
    const int32_t lines = std::min(blockLines, length - received);
    int32_t got = 0;
    if (reader.Read(buffer.data(), static_cast<int32_t>(lines * lineBytes), &got) != READ_COMPLETE) break;
    const int32_t gotLines = static_cast<int32_t>(got / lineBytes);
    quantiser->AddPixels(buffer.data(), gotLines, width);
    received += gotLines;
    for (int32_t i = 0; i < gotLines; ++i) host_.ProgressStep();
  }
  buffer = {};

  // A pre-scan cut short by Esc, or one that saw nothing, has no palette to offer.
  bool ok = !CancelFlag.load() && received > 0;
  if (ok) ok = SaveAutoPalette(*quantiser, colourMode, 2);
  quantiser.reset();
  host_.ProgressEnd();
  (void)scanner_.WaitReady();
  (void)scanner_.EndScan();
  return ok;
}

bool KelvaneScanControl::SendParameters(const KelvanePlan& k) {
  const ScanPlan& p = k.scan;
  Clock& clock = host_.GetClock();
  if (k.sendLeftOffset) (void)scanner_.SetLeftOffsetMode(k.leftOffsetOn);
  if (!scanner_.SetWindow(p.widthPx, p.heightPx, p.xDpi, k.modeCode)) {
    // A refused window restarts the status poll itself.
    host_.ShowText(kInvalidScanParameters, "", MessageIcon::None);
    return false;
  }
  clock.Sleep(milliseconds(200));
  (void)scanner_.SetGamma(k.gammaOffset, k.gammaLow, k.gammaHigh, k.gamma);
  clock.Sleep(milliseconds(200));
  (void)scanner_.SetPaperHandling(k.paperHandling);
  clock.Sleep(milliseconds(200));
  if (k.sendThreshold) {
    (void)scanner_.SetThreshold(k.thresholdAdaptive, k.threshold, k.thresholdWindow,
                                k.thresholdDynamic);
    clock.Sleep(milliseconds(200));
  }
  host_.WaitCursor(true);
  (void)scanner_.SetSpeed(k.speed);
  clock.Sleep(milliseconds(200));
  return true;
}

bool KelvaneScanControl::PrepareImage(ImageState* image, const KelvanePlan& k,
                                      const std::string& outName, std::vector<uint8_t>& lookup) {
  const ScanPlan& p = k.scan;
  DescribeScanImage(p, outName, image);
  if (p.paletteMode) {
    if (p.paletteIsAuto) image->paletteFilePath = p.paletteFile;
    auto pal = std::make_unique<PaletteFile>();
    if (!LoadPaletteFile(p.paletteFile, *pal, image->palette.data())) {
      // Scanning with a palette that was not read would give an image of unknown colours.
      host_.ShowText("Unable to read the palette file " + p.paletteFile, "", MessageIcon::Error);
      return false;
    }
    lookup.assign(pal->Lookup, pal->Lookup + kLookupTableSize);
    FilterTarget target{p.colourMode, static_cast<size_t>(p.lineBytes), image->palette.data()};
    BuildFilterChain(ChainPurpose::PointPreview, InScanFilterSet(p.paletteFilters),
                     FilterSettings::Current(), target)
        .ApplyToPalette();
    image->palette2 = image->palette;
  }
  image->region = PixelRect{0, 0, p.widthPx - 1, p.heightPx - 1};
  return true;
}

ScanPipelineSetup KelvaneScanControl::MakeSetup(ImageState* image, const KelvanePlan& k) {
  const ScanPlan& p = k.scan;
  const ScanSettingsRecord& s = ScanSettings;
  ScanPipelineSetup setup = BasePipelineSetup(host_, image, p);
  setup.oneBitTransfer = k.packedBits;
  setup.linesPerBlock = k.linesPerBlock;
  setup.noDataLimit = 1;  // a block of nothing ends the reading
  const int32_t lineSize = k.packedBits ? k.scanLineBytes / 8 : k.scanLineBytes;
  setup.reader = std::make_unique<KelvaneReader>(scanner_, lineSize);
  const FilterSettings settings = FilterSettings::Current();
  const FilterSet on = InScanFilterSet(p.inScanFilters);
  FilterTarget target{p.colourMode, static_cast<size_t>(p.lineBytes), nullptr,
                      static_cast<size_t>(k.linesPerBlock) * static_cast<size_t>(p.lineBytes)};
  setup.toneChain = BuildFilterChain(ChainPurpose::ScanTone, on, settings, target, stageFactory);
  setup.bilevelChain = BuildFilterChain(ChainPurpose::ScanBilevel, on, settings, target, stageFactory);
  const int32_t sizeMode = s.SizeMode;
  const int32_t yDpi = p.yDpi;
  setup.onFinished = [sizeMode, yDpi](const ScanResult& r) {
    if (sizeMode == 0 && yDpi > 0)
      ScanSettings.CustomLength = static_cast<int32_t>(r.linesReceived / (yDpi / 100.0));
  };
  return setup;
}

bool KelvaneScanControl::StartScan(ImageState* image) {
  if (!image) return false;
  if (!RetireFinishedPipeline(pipeline_, retired_)) return false;
  ScanSettingsRecord& s = ScanSettings;

  const std::string outName = TextField(s.OutputFileName);
  if (::access(outName.c_str(), R_OK) == 0 && !host_.AskYesNo(kStrOverwrite, outName)) return false;

  // The scan area.
  ScanWindowSize = _WINDOWSIZES{};
  std::optional<ScanArea> autoArea;
  if (s.SizeMode == 0) {
    AutoSize();
    autoArea = ScanArea{ScanWindowSize.Width, ScanWindowSize.Length, 0, 0};
  }
  std::vector<std::string>& list = ResolutionList();
  ScanPlanInput in{s, CurrentScanToolRecords(), WindowSizes, list, autoArea, DataFolder()};
  PlanError error;
  auto area = ResolveScanArea(in, &error);
  if (!area) return Abort(error, false);

  if ((s.AutoPalette16 && s.ColourMode == 2) || (s.AutoPalette256 && s.ColourMode == 1)) {
    if (area->width <= 200) return Abort(PlanError{kStrEmptyArea, {}}, false);
    if (!MakeAutoPalette(area->width - area->width % 4, area->length, s.ColourMode)) return false;
    host_.GetClock().Sleep(milliseconds(250));
  }

  auto plan = MakeKelvaneScanPlan(in, &error);
  if (!plan) return Abort(error, false);
  ApplyPlanToSettings(plan->scan, s, BWThresholdSettings);
  if (plan->leftOffsetModeToOne) s.LeftOffsetMode = 1;
  if (plan->scan.checkDiskSpace) {
    if (!host_.HasFreeSpace(outName, plan->scan.outputBytes))
      return Abort(PlanError{kStrNoSpaceOutput, {}}, false);
    if (!host_.HasFreeSpace(WorkingFolder(), plan->scan.outputBytes))
      return Abort(PlanError{kStrNoSpaceWorking, {}}, false);
  }
  plan_ = *plan;
  const KelvanePlan& k = plan_;

  std::vector<uint8_t> lookup;
  if (!PrepareImage(image, k, outName, lookup)) return false;
  if (!SendParameters(k)) {
    host_.WaitCursor(false);
    return false;
  }
  CancelFlag.store(0);
  s.ScanStartTime = static_cast<int64_t>(host_.GetClock().WallTime());
  if (k.startBeforeBuffers) {
    if (!scanner_.StartScan()) return Abort(PlanError{}, true);
    host_.GetClock().Sleep(milliseconds(2000));
  }

  ScanPipelineSetup setup = MakeSetup(image, k);
  setup.paletteLookup = std::move(lookup);
  SetDisplayMode(StatusBit::FittedDisplay);
  if (IDisplaySink* d = host_.Display()) {
    d->BeginProgressiveDisplay(image);
    d->DrawIncomingBand(IDisplaySink::kStepStart, nullptr, 0);
  }
  // A start that fails from here lets go of everything it made: writers and their files,
  // the working copy, filters and buffers; no thread runs.
  auto undo = [&] {
    setup = ScanPipelineSetup{};
    SetRawImageFile(image, std::string());
    if (IDisplaySink* d = host_.Display()) d->EndProgressiveDisplay();
  };
  if (!OpenScanSinks(host_, image, k.scan, outName, setup)) {
    undo();
    return Abort(PlanError{}, true);
  }
  if (!k.startBeforeBuffers) {
    if (!scanner_.StartScan()) {
      undo();
      return Abort(PlanError{}, true);
    }
    host_.GetClock().Sleep(milliseconds(20));
  }
  pipeline_ = std::make_unique<ScanPipeline>(std::move(setup));
  pipeline_->Start();
  host_.WaitCursor(false);
  return true;
}

}  // namespace orb::kelvane
