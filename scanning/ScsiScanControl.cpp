#include "scanning/ScsiScanControl.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>

#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "engine/ImageState.h"
#include "engine/PaletteFile.h"
#include "engine/ReadWrite/LineWriter.h"
#include "engine/ReadWrite/ScanOutput.h"
#include "engine/SharedRoutines.h"
#include "engine/ToolSettings.h"
#include "engine/filters/FilterChain.h"
#include "engine/quantise/Quantise.h"
#include "platform/Bytes.h"
#include "platform/Files.h"
#include "platform/TempNames.h"
#include "scanner_library/trennic.h"

namespace orb {
namespace {

constexpr const char* kTempCopyFailed = "Unable to create temporary TIFF file during scan";

// The filters of a plan's bits.
FilterSet FiltersOf(uint32_t bits) {
  static constexpr std::pair<InScanFilter, FilterKind> kMap[] = {
      {kFilterNoiseRemoval, FilterKind::NoiseRemoval}, {kFilterSharpen, FilterKind::Sharpen},
      {kFilterMirror, FilterKind::Mirror},             {kFilterToneCurve, FilterKind::ToneCurve},
      {kFilterBrightCont, FilterKind::BrightCont},     {kFilterBWPoint, FilterKind::BWPoint},
      {kFilterInvert, FilterKind::Invert},             {kFilterThreshold, FilterKind::Threshold},
      {kFilterDespeckle, FilterKind::Despeckle},
  };
  FilterSet set;
  for (const auto& [bit, kind] : kMap)
    if (bits & bit) set.Add(kind);
  return set;
}

// The record a writer works from: a copy of the scan's record taken before the scan runs. The
// writer's thread reads it and the writer notes its file and offsets in it, while the display
// draws from the scan's own record on its thread; what the scan's record must learn from the
// writer is handed over at the end (RecordChange).
std::unique_ptr<ImageState> WriterRecord(const ImageState& image) {
  auto copy = std::make_unique<ImageState>(image);
  copy->next = copy->prev = nullptr;
  copy->fileHandle = kNoFile;
  copy->rawFile.reset();
  copy->bitmaps = {};
  return copy;
}

// What the scan's record takes over from a closed writer's record.
std::function<void(ImageState&)> TakeOverFrom(const ImageState& writer) {
  const uint64_t offset = writer.dataOffset;
  return [offset](ImageState& image) {
    image.fileHandle = kNoFile;
    image.dataOffset = offset;
  };
}

// The output through the library's scan output writer.
class LibrarySink final : public ScanLineSink {
 public:
  LibrarySink(std::unique_ptr<ImageState> own, std::unique_ptr<LineWriter> w)
      : own_(std::move(own)), w_(std::move(w)) {}
  ~LibrarySink() override {
    if (!closed_) {
      ReleaseScanOutput(w_.get());
      CloseScanOutput(w_.get());
    }
  }
  void Write(const uint8_t* lines, int count, int lineBytes) override {
    WriteScanLines(w_.get(), lines, int64_t{count} * lineBytes);
  }
  void Release() override { ReleaseScanOutput(w_.get()); }
  bool Close(int32_t) override {
    closed_ = true;
    return CloseScanOutput(w_.get()) == 0;
  }
  bool ByLibrary() const override { return true; }
  std::function<void(ImageState&)> RecordChange() const override { return TakeOverFrom(*own_); }

 private:
  std::unique_ptr<ImageState> own_;  // declared first: the writer refers to it
  std::unique_ptr<LineWriter> w_;
  bool closed_ = false;
};

// An uncompressed TIFF written through a write stream: the plain output or the working copy.
// The output is written into a file beside its target and renamed over the target once it is
// complete, so a scan that fails never leaves a broken file under the user's name.
class StreamSink final : public ScanLineSink {
 public:
  StreamSink(std::unique_ptr<ImageState> own, std::unique_ptr<LineWriter> w,
             std::string filePath, std::string finalPath, int32_t plannedHeight, int32_t lineBytes)
      : own_(std::move(own)), image_(own_.get()), w_(std::move(w)), filePath_(std::move(filePath)),
        finalPath_(std::move(finalPath)), planned_(plannedHeight), lineBytes_(lineBytes) {}
  ~StreamSink() override {
    if (!closed_) {
      failed_ = true;  // never completed: nothing is kept under the user's name
      Close(0);
    }
  }
  void Write(const uint8_t* lines, int count, int lineBytes) override {
    if (WriteLines(w_.get(), lines, int64_t{count} * lineBytes) != 0) failed_ = true;
  }
  void Release() override {}
  bool Close(int32_t lines) override {
    if (closed_) return !failed_;
    closed_ = true;
    if (CloseWriteStream(w_.get()) != 0) failed_ = true;
    if (lines <= 0 && !finalPath_.empty()) failed_ = true;  // no image to keep
    const int fd = image_->fileHandle;
    if (fd >= 0) {
      // Only a file that takes the user's name must reach the disk: the working copy is a
      // temporary file, worth nothing after a crash, and flushing it would only take the
      // disk's time from the output.
      if (!finalPath_.empty() && ::fsync(fd) != 0) failed_ = true;
      ::close(fd);
    }
    image_->fileHandle = kNoFile;
    // A file cut short was closed by the library at the lines it got: its length and strip
    // table say so.
    if (!finalPath_.empty()) {
      if (!failed_ && ::rename(filePath_.c_str(), finalPath_.c_str()) != 0) failed_ = true;
      if (failed_) ::unlink(filePath_.c_str());
    }
    return !failed_;
  }
  bool ByLibrary() const override { return false; }
  // The document reads its raw image from this file: where its lines start.
  std::function<void(ImageState&)> RecordChange() const override { return TakeOverFrom(*image_); }

 private:
  std::unique_ptr<ImageState> own_;  // the writer's record
  ImageState* image_;
  std::unique_ptr<LineWriter> w_;
  std::string filePath_;
  std::string finalPath_;
  int32_t planned_;
  int32_t lineBytes_;
  bool closed_ = false;
  bool failed_ = false;
};

// Opens an uncompressed TIFF stream over `image` into a new file at `path`; a `durable` one
// is flushed as it grows (its sink flushes the rest when it closes it).
std::unique_ptr<LineWriter> OpenStream(ImageState* image, const std::string& path, bool durable) {
  auto w = std::make_unique<LineWriter>(image);
  const int fd = OpenSharedFile(path, O_RDWR | O_CREAT | O_TRUNC);
  if (fd < 0) return nullptr;
  image->fileHandle = fd;
  w->writeBehind = durable;
  // The library's output starts first: the stream's writer thread feeds it.
  if (StartImageOutput(w.get()) != 0 || OpenWriteStream(w.get()) != 0) {
    w.reset();
    ::close(fd);
    image->fileHandle = kNoFile;
    ::unlink(path.c_str());
    return nullptr;
  }
  return w;
}

// A name beside `target` for the file that becomes it.
std::string PartName(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  return target + ".part" + orb::OwnerMark() + std::to_string(++counter);
}

uint8_t LightestIndex(const ImageState& image, int entries) {
  int best = 0;
  long bestSum = -1;
  for (int i = 0; i < entries; ++i) {
    const auto& e = image.palette[i];
    const long sum = long{e.red} + e.green + e.blue;
    if (sum > bestSum) {
      bestSum = sum;
      best = i;
    }
  }
  return static_cast<uint8_t>(best);
}

}  // namespace

void DescribeScanImage(const ScanPlan& p, const std::string& outName, ImageState* image) {
  image->sourcePath = outName;
  image->xDpi = p.xDpi;
  image->yDpi = p.yDpi;
  image->paletteFilePath.clear();
  image->kind = static_cast<ImageKind>(p.colourMode);
  image->width = p.widthPx;
  image->height = p.heightPx;
  image->storedLineWidth = p.lineBytes;
  image->bitsPerSample = static_cast<uint32_t>(p.bitsPerSample);
  image->samplesPerPixel = static_cast<uint32_t>(p.samplesPerPixel);
  image->bitsPerPixel = static_cast<uint32_t>(p.bitsPerPixel);
  image->outputFormat = p.outputFormat;
  // Scanned lines are 0 black and 255 white (grey and black and white alike).
  image->photometric = p.colourMode == 0 ? PM_RGB : (p.paletteMode ? PM_PALETTE : PM_BLACK_IS_ZERO);
  image->linesOneBytePerPixel = p.bilevel ? 1 : 0;
  image->thresholdDuringScan = p.scannedGrey ? 1 : 0;
  if (p.greyRampPalette) {
    SetGreyRamp(image);
    image->palette2 = image->palette;
  }
}

bool OpenScanSinks(ScanHost& host, ImageState* image, const ScanPlan& p, const std::string& outName,
                   ScanPipelineSetup& setup) {
  if (p.outputByLibrary) {
    auto own = WriterRecord(*image);
    auto w = std::make_unique<LineWriter>(own.get());
    // A scan may end before its window does (a stop, the end of the paper, a cut): the
    // file is finished at the lines that came, whatever the format.
    w->openLength = true;
    if (OpenScanOutput(w.get()) != 0) {
      host.ShowText("Unable to create the output file " + outName, "", MessageIcon::Error);
      return false;
    }
    setup.output = std::make_unique<LibrarySink>(std::move(own), std::move(w));
  } else {
    const std::string part = PartName(outName);
    auto own = WriterRecord(*image);
    auto w = OpenStream(own.get(), part, true);
    if (!w) {
      host.ShowText("Unable to create the output file " + outName, "", MessageIcon::Error);
      return false;
    }
    setup.output = std::make_unique<StreamSink>(std::move(own), std::move(w), part, outName,
                                                p.heightPx, p.lineBytes);
  }

  // The working copy: the raw image the document works on.
  if (p.workingCopy) {
    std::string temp;
    bool made = MakeTempTiffName(WorkingFolder(), temp);
    std::unique_ptr<LineWriter> w;
    auto copy = WriterRecord(*image);
    if (made) {
      copy->outputFormat = 1;
      copy->sourcePath = temp;
      copy->kind = static_cast<ImageKind>(p.workingCopyKind);
      w = OpenStream(copy.get(), temp, false);
    }
    if (w) {
      SetRawImageFile(image, temp);
      image->sourceForm = SF_RAW_FILE;
      setup.workingCopy = std::make_unique<StreamSink>(std::move(copy), std::move(w), temp,
                                                       std::string(), p.heightPx, p.lineBytes);
    } else {
      host.ShowText(kTempCopyFailed, "", MessageIcon::Exclamation);
    }
  }

  return true;
}

FilterSet InScanFilterSet(uint32_t bits) { return FiltersOf(bits); }

bool SaveAutoPalette(CQuantise& quantiser, int32_t colourMode, uint8_t header) {
  const int colours = colourMode == 2 ? 16 : 256;
  auto pal = std::make_unique<PaletteFile>();
  int count = 0;
  std::vector<uint8_t> rgb(768, 0);
  const bool made = quantiser.MakePalette(colours, &count, pal->Lookup, rgb.data(), nullptr) == 1;
  count = std::clamp(count, 1, colours);
  pal->Header = header;
  pal->N = static_cast<uint8_t>(count - 1);
  std::memcpy(pal->Palette, rgb.data(), 768);
  pal->M = static_cast<uint8_t>(count - 1);
  for (int i = 0; i < 256; ++i) pal->Map[i] = static_cast<uint8_t>(i < count ? i : 0);
  std::memcpy(pal->OutputPalette, rgb.data(), 768);
  const std::string path = DataFolder() + (colourMode == 2 ? "/AutoPalette16.tmp" : "/AutoPalette256.tmp");
  return made && SavePaletteFile(path, *pal);
}

ScanPipelineSetup BasePipelineSetup(ScanHost& host, ImageState* image, const ScanPlan& p) {
  const ScanSettingsRecord& s = ScanSettings;
  ScanPipelineSetup setup;
  setup.host = &host;
  setup.image = image;
  setup.lineBytes = p.lineBytes;
  setup.height = p.heightPx;
  setup.xDpi = p.xDpi;
  setup.yDpi = p.yDpi;
  setup.widthPx = p.widthPx;
  setup.kind = static_cast<uint16_t>(p.colourMode);
  setup.plainTiff = s.OutputIsPlainTiff != 0;
  setup.noPad = s.NoPadOutput != 0;
  // A white line of a palette scan is the palette's lightest colour.
  if (p.paletteMode) setup.whiteIndex = LightestIndex(*image, p.colourMode == 2 ? 16 : 256);
  return setup;
}

ScsiScanControl::ScsiScanControl(CTrennic& scanner, ScanHost& host)
    : scanner_(scanner), host_(host), mover_(scanner, host) {}

ScsiScanControl::~ScsiScanControl() {
  if (pipeline_) pipeline_->Join();
  for (auto& p : retired_) p->Join();
  mover_.Join();
}

IdentifyResult ScsiScanControl::Identify() {
  return IdentifyScsiScanner(scanner_);
}

bool ScsiScanControl::Scanning() const { return pipeline_ && !pipeline_->Finished(); }

void ScsiScanControl::WaitForScan() {
  if (pipeline_) pipeline_->Join();
}

ScanResult ScsiScanControl::LastResult() const {
  return pipeline_ ? pipeline_->Result() : ScanResult{};
}

void ScsiScanControl::StopScan() {
  if (!pipeline_ || pipeline_->Finished()) return;
  pipeline_->RequestStop();
  // The scanner may be holding a READ back: the stop goes to it now, not after that read
  // returns (the library takes a stop from another thread while a read is pending).
  if (!pipeline_->ReadingDone()) (void)scanner_.StopScan();
}

bool ScsiScanControl::Abort(const PlanError& e) {
  host_.WaitCursor(false);
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

void ScsiScanControl::SendTables(const ScanPlan& plan) {
  std::vector<uint8_t> table(4097);
  for (const ScanCommand& c : plan.commands) {
    if (c.kind != ScanCommand::Kind::LoadTrcTable) continue;
    table[0] = static_cast<uint8_t>(c.a0);
    BuildGammaTable12To8(c.gamma, table.data() + 1);
    (void)scanner_.LoadTrcTable(table.data());
  }
}

bool ScsiScanControl::StartScan(ImageState* image) {
  if (!image) return false;
  if (!RetireFinishedPipeline(pipeline_, retired_)) return false;
  ScanSettingsRecord& s = ScanSettings;

  // Would the scan overwrite a file?
  const std::string outName = TextField(s.OutputFileName);
  std::vector<std::string> names{outName};
  if (s.PaperEndDetection == 1 && AcceptAs2ImagesSettings.enabled == 1 && splitPageNames)
    names = splitPageNames(outName);
  for (const std::string& n : names) {
    if (::access(n.c_str(), R_OK) == 0 && !host_.AskYesNo(kStrOverwrite, n)) return false;
  }

  ScanWindowSize = _WINDOWSIZES{};
  std::optional<ScanArea> autoArea;
  if (s.SizeMode == 0) {
    ScanWindowSize.Top = s.AreaTop;
    AutoSizePass(ScanWindowSize);
    autoArea = ScanArea{ScanWindowSize.Width, ScanWindowSize.Length, ScanWindowSize.Left,
                        ScanWindowSize.Top};
  }
  std::vector<std::string>& list = ResolutionList();
  ScanPlanInput in{s, CurrentScanToolRecords(), WindowSizes, list, autoArea, DataFolder()};
  PlanError error;
  auto area = ResolveScanArea(in, &error);
  if (!area) return Abort(error);
  ScanWindowSize.Width = area->width;
  ScanWindowSize.Length = area->length;
  ScanWindowSize.Left = area->left;
  ScanWindowSize.Top = area->top;

  if ((s.AutoPalette16 && s.ColourMode == 2) || (s.AutoPalette256 && s.ColourMode == 1)) {
    if (!PreScanPass(area->width, area->length, s.ColourMode)) return false;
  }

  auto plan = MakeScanPlan(in, &error);
  if (!plan) return Abort(error);
  ApplyPlanToSettings(*plan, s, BWThresholdSettings);
  if (plan->checkDiskSpace) {
    if (!host_.HasFreeSpace(outName, plan->outputBytes)) return Abort(PlanError{kStrNoSpaceOutput, {}});
    if (!host_.HasFreeSpace(WorkingFolder(), plan->outputBytes))
      return Abort(PlanError{kStrNoSpaceWorking, {}});
  }
  plan_ = *plan;
  const ScanPlan& p = plan_;

  DescribeScanImage(p, outName, image);

  // Palette scans: the palette file, the tone filters on its colours, the table to the scanner.
  std::vector<uint8_t> lookup;
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
    BuildFilterChain(ChainPurpose::PointPreview, FiltersOf(p.paletteFilters), FilterSettings::Current(), target)
        .ApplyToPalette();
    image->palette2 = image->palette;
  }

  image->region = PixelRect{0, 0, p.widthPx - 1, p.heightPx - 1};

  // Tables and parameters, in the scanner's order.
  host_.WaitCursor(true);
  using K = ScanCommand::Kind;
  for (const ScanCommand& c : p.commands) {
    switch (c.kind) {
      case K::LoadColorTranslationTable:
        (void)scanner_.LoadColorTranslationTable(lookup.data());
        break;
      case K::SetIAT:
        (void)scanner_.SetIAT(c.a0, 0, 255, 255, static_cast<unsigned char>(c.a1));
        break;
      case K::SetWindow:
        if (!scanner_.SetWindow(p.window, static_cast<unsigned char>(c.a0), c.a1 != 0)) {
          host_.WaitCursor(false);
          host_.ShowText("SetWindowFailed", "", MessageIcon::Error);
          return false;
        }
        break;
      case K::SetFractionalSpeed:
        (void)scanner_.SetFractionalSpeed(c.a0);
        break;
      case K::LoadTrcTable: {
        std::vector<uint8_t> table(4097);
        table[0] = static_cast<uint8_t>(c.a0);
        BuildGammaTable12To8(c.gamma, table.data() + 1);
        (void)scanner_.LoadTrcTable(table.data());
        break;
      }
      case K::SetPaperStagingPosition:
        CancelFlag.store(0);
        (void)scanner_.SetPaperStagingPosition(static_cast<short>(c.a0));
        break;
      case K::RGBControl:
        (void)scanner_.RGBControl(static_cast<RGBControlType>(c.a0));
        break;
      case K::StartScan:
        s.ScanStartTime = static_cast<int64_t>(host_.GetClock().WallTime());
        if (!scanner_.StartScan()) {
          host_.WaitCursor(false);
          return false;
        }
        break;
    }
  }

  // From here the scan runs: set up the pipeline.
  ScanPipelineSetup setup = BasePipelineSetup(host_, image, p);
  setup.scanner = &scanner_;
  setup.oneBitTransfer = p.oneBitTransfer;
  setup.paperEndTest = s.SizeMode == 0 && s.PaperEndDetection == 1 &&
                       s.CustomLength == kToEndOfPaper;
  setup.autoSize = CurrentAutoSize();
  if (p.paletteMode) {
    const int entries = p.colourMode == 2 ? 16 : 256;
    setup.colourTable.assign(static_cast<size_t>(entries) * 4, 0);
    for (int i = 0; i < entries; ++i) {
      setup.colourTable[i * 4 + 0] = static_cast<uint8_t>(image->palette[i].blue);
      setup.colourTable[i * 4 + 1] = static_cast<uint8_t>(image->palette[i].green);
      setup.colourTable[i * 4 + 2] = static_cast<uint8_t>(image->palette[i].red);
    }
  }

  SetDisplayMode(StatusBit::FittedDisplay);

  if (IDisplaySink* d = host_.Display()) {
    d->BeginProgressiveDisplay(image);
    d->DrawIncomingBand(IDisplaySink::kStepStart, nullptr, 0);
  }

  // The output and the working copy.
  if (!OpenScanSinks(host_, image, p, outName, setup)) {
    scanner_.StopScan();
    host_.WaitCursor(false);
    return false;
  }

  // The in-scan filters, in processing order.
  {
    const FilterSettings settings = FilterSettings::Current();
    const FilterSet on = FiltersOf(p.inScanFilters);
    FilterTarget target{p.colourMode, static_cast<size_t>(p.lineBytes), nullptr,
                        static_cast<size_t>(ScanPipeline::kLinesPerBlock) * static_cast<size_t>(p.lineBytes)};
    setup.toneChain = BuildFilterChain(ChainPurpose::ScanTone, on, settings, target, stageFactory);
    setup.bilevelChain = BuildFilterChain(ChainPurpose::ScanBilevel, on, settings, target, stageFactory);
  }
  setup.trace = trace;

  // At the end: the measured length of an automatic-width scan.
  const int32_t sizeMode = s.SizeMode;
  const int32_t yDpi = p.yDpi;
  setup.onFinished = [sizeMode, yDpi](const ScanResult& r) {
    if (sizeMode == 0 && yDpi > 0)
      ScanSettings.CustomLength = static_cast<int32_t>(r.linesReceived / (yDpi / 100.0));
  };

  pipeline_ = std::make_unique<ScanPipeline>(std::move(setup));
  pipeline_->Start();
  host_.WaitCursor(false);
  return true;
}

bool ScsiScanControl::AutoSizePass(_WINDOWSIZES& area) {
  ScanSettingsRecord& s = ScanSettings;
  host_.ProgressBegin(kStrAutoSizeCaption, 30);
  const bool cutLater = s.OutputIsPlainTiff || s.NoPadOutput;
  WindowDescriptorType w{};
  w.XResolution = w.YResolution = 100;
  w.UpperLeftX = 0;
  w.UpperLeftY = s.PaperEndDetection == 1 ? std::max(area.Top - 50, 0) : 0;
  w.Width = s.MaxWidth;
  w.Length = cutLater ? 300 : kToEndOfPaper;
  w.ImageComposition = 2;
  w.BitsPerPixel = 8;
  w.Flags = 131;
  w.Vendor[5] = s.PaperEndDetection == 1 ? 0 : 48;
  (void)scanner_.SetWindow(w, 0, false);
  const int m = s.ModelCode;
  (void)scanner_.SetFractionalSpeed((m == 17 || m == 20 || m == 21 || m == 22) ? 2 : 1);
  std::vector<uint8_t> table(4097);
  table[0] = 0;
  BuildGammaTable12To8(1.0, table.data() + 1);
  (void)scanner_.LoadTrcTable(table.data());

  const int32_t lineBytes = std::max(s.MaxWidth, 1);
  std::vector<uint8_t> buffer(1048576);
  const int32_t linesPerRead = std::max<int32_t>(1, static_cast<int32_t>(buffer.size() / lineBytes));
  if (static_cast<size_t>(lineBytes) > buffer.size()) buffer.resize(static_cast<size_t>(lineBytes));
  ReplaceAutoSize(new CAutoSize(lineBytes, 100));
  CAutoSize* detector = CurrentAutoSize();

  if (!scanner_.StartScan()) {
    host_.ProgressEnd();
    return false;
  }
  for (int i = 0; i < 10; ++i) host_.ProgressStep();
  int64_t received = 0;
  int noData = 0;
  bool edgesDone = false;
  bool reading = true;
  while (reading && received < w.Length) {
    host_.PumpMessages();
    const int64_t want = std::min<int64_t>(linesPerRead, w.Length - received);
    DataTransferType t{};
    t.RequestedBytes = static_cast<int32_t>(want * lineBytes);
    t.Buffer = buffer.data();
    t.ReturnedBytes = 0;
    const ReadCompleteType r = scanner_.ReadData(&t);
    const int64_t got = std::clamp(t.ReturnedBytes, 0, t.RequestedBytes) / lineBytes;
    reading = false;  // a value the library does not define ends the pass too
    auto take = [&] {
      for (int64_t i = 0; i < got; ++i) {
        if (received + i < CAutoSize::kCapacity) detector->AddLine(buffer.data() + i * lineBytes);
      }
      received += got;
      if (!edgesDone && received >= CAutoSize::kCapacity) {
        edgesDone = true;
        for (int i = 0; i < 10; ++i) host_.ProgressStep();
        detector->DetectEdges();
        int32_t left = -1, right = -1;
        detector->WidenEdges(&left, &right);
        area.Width = right - left;
        area.Length = kToEndOfPaper;
        area.Left = left;
        if (s.PaperEndDetection != 1) area.Top = 0;
      }
    };
    switch (r) {
      case READ_COMPLETE:
        take();
        reading = true;
        break;
      case READ_END_OF_MEDIUM:
        take();
        scanner_.StopScan();
        break;
      case READ_NO_DATA:
        if (++noData >= 21) break;
        host_.GetClock().Sleep(std::chrono::milliseconds(20));
        reading = true;
        break;
      case READ_FAILED:
      case READ_MEDIUM_ERROR:
      case READ_NOT_WHOLE_LINES:
        reading = false;
        break;
    }
  }
  // A sheet that ended before the edges could be measured still gets a length.
  if (!edgesDone) area.Length = kToEndOfPaper;
  if (!cutLater) area.Length = static_cast<int32_t>(received);
  Load(true);
  host_.ProgressEnd();

  const int32_t le = detector->LeftEdge(), re = detector->RightEdge();
  if (le < 0 || re < 0) {
    host_.ShowMessage(le < 0 && re < 0 ? kStrNoEdges : (le < 0 ? kStrNoLeftEdge : kStrNoRightEdge),
                      MessageIcon::Error);
    area.Width = s.MaxWidth;
    area.Left = 0;
  }
  return true;
}

bool ScsiScanControl::PreScanPass(int32_t width, int32_t length, int32_t colourMode) {
  ScanSettingsRecord& s = ScanSettings;
  host_.ProgressBegin(kStrPreScanCaption, std::max(length, 1));
  Load(true);
  WindowDescriptorType w{};
  w.XResolution = w.YResolution = 100;
  int32_t ulx = ScanWindowSize.Left;
  ulx = (ulx + 15) / 16 * 16;
  if (ulx == 0 && s.LeftOffsetMode == 1) ulx = 1;
  else if (ulx == 1 && s.LeftOffsetMode == 0) ulx = 0;
  w.UpperLeftX = ulx;
  w.UpperLeftY = ScanWindowSize.Top;
  w.Width = width;
  w.Length = length;
  w.Brightness = s.ScanBrightness;
  w.ImageComposition = 5;
  w.BitsPerPixel = 24;
  w.Flags = 131;
  w.Vendor[5] = 48;
  (void)scanner_.SetWindow(w, 0, false);
  const int m = s.ModelCode;
  (void)scanner_.SetFractionalSpeed((m == 17 || m == 20 || m == 21 || m == 22) ? 2 : 1);
  ScanPlan tones;
  if (s.GammaRed == s.GammaGreen && s.GammaRed == s.GammaBlue) {
    tones.commands.push_back({ScanCommand::Kind::LoadTrcTable, 0, 0, s.GammaRed});
  } else {
    tones.commands.push_back({ScanCommand::Kind::LoadTrcTable, 1, 0, s.GammaRed});
    tones.commands.push_back({ScanCommand::Kind::LoadTrcTable, 2, 0, s.GammaGreen});
    tones.commands.push_back({ScanCommand::Kind::LoadTrcTable, 3, 0, s.GammaBlue});
  }
  SendTables(tones);

  const int64_t lineBytes = 3 * int64_t{std::max(width, 1)};
  std::vector<uint8_t> buffer(std::max<size_t>(1048576, static_cast<size_t>(lineBytes)));
  const int64_t linesPerRead = std::max<int64_t>(1, static_cast<int64_t>(buffer.size()) / lineBytes);
  auto quantiser = std::make_unique<CQuantise>();

  if (!scanner_.StartScan()) {
    host_.ProgressEnd();
    return false;
  }
  CancelFlag.store(0);
  int64_t received = 0;
  int noData = 0;
  bool ok = true;
  bool stopSent = false;
  while (received < length) {
    host_.PumpMessages();
    if (CancelFlag.load() && !stopSent) {
      scanner_.StopScan();
      stopSent = true;
    }
    DataTransferType t{};
    t.RequestedBytes = static_cast<int32_t>(std::min<int64_t>(linesPerRead, length - received) * lineBytes);
    t.Buffer = buffer.data();
    t.ReturnedBytes = 0;
    const ReadCompleteType r = scanner_.ReadData(&t);
    bool reading = false;  // a value the library does not define ends the pre-scan too
    switch (r) {
      case READ_COMPLETE:
      case READ_END_OF_MEDIUM: {
        // The lines that came with the end of the medium are the sheet's colours too.
        const int64_t got = std::clamp(t.ReturnedBytes, 0, t.RequestedBytes) / lineBytes;
        if (got > 0) quantiser->AddPixels(buffer.data(), static_cast<int>(got), width);
        received += got;
        for (int64_t i = 0; i < got; ++i) host_.ProgressStep();
        reading = r == READ_COMPLETE && got > 0;
        break;
      }
      case READ_NO_DATA:
        if (++noData >= 21 || CancelFlag.load()) {
          ok = false;
          reading = false;
          break;
        }
        host_.GetClock().Sleep(std::chrono::milliseconds(20));
        reading = true;
        break;
      case READ_FAILED:
        host_.GetClock().Sleep(std::chrono::milliseconds(20));
        if (scanner_.GetLastTrennicError() == TRENNIC_SCSI_ERROR) {
          host_.GetClock().Sleep(std::chrono::milliseconds(20));
        } else {
          host_.ShowText("Scan Thread Timed out, Lines scanned = " + std::to_string(received), "",
                         MessageIcon::None);
        }
        ok = false;
        reading = false;
        break;
      case READ_MEDIUM_ERROR:
      case READ_NOT_WHOLE_LINES:
        // The pre-scan cannot go on (retrying would never end).
        ok = false;
        reading = false;
        break;
    }
    if (!reading) break;
  }
  // A pre-scan that was cancelled, or that saw nothing, has no colours to build a palette from.
  if (CancelFlag.load() || received == 0) ok = false;

  if (ok) ok = SaveAutoPalette(*quantiser, colourMode, 0);
  quantiser.reset();
  Load(true);
  host_.ProgressEnd();
  return ok;
}

bool ScsiScanControl::IsPaperPresent() { return IsPaperPresentScsi(scanner_, host_.GetClock()); }
void ScsiScanControl::ApplyStaging() { ApplyPaperStaging(scanner_, ScanSettings); }
void ScsiScanControl::ApplyTransport() { ApplyPaperTransport(scanner_, ScanSettings); }
void ScsiScanControl::Unload(bool synchronous) { mover_.Unload(ScanSettings, synchronous); }
void ScsiScanControl::Load(bool synchronous) { mover_.Load(ScanSettings, synchronous); }

}  // namespace orb
