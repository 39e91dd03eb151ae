#include "tools/ApplyPipeline.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "engine/EngineHost.h"
#include "engine/SharedRoutines.h"
#include "engine/ToolSettings.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/LineWriter.h"
#include "engine/resample/WorkerPool.h"
#include "platform/Files.h"
#include "tools/ToolTable.h"

namespace orb::tools {
namespace {

constexpr size_t kStripBytes = size_t{1} << 20;
constexpr int32_t kMaxStripLines = 256;

constexpr int kCaptionMirror = 33019;
constexpr int kCaptionInvert = 33028;
constexpr int kCaptionSharpen = 33032;
constexpr int kCaptionBlur = 33034;
constexpr int kCaptionNoise = 33036;
constexpr int kCaptionDespeckle = 33038;

bool IsBilevelKind(int kind) { return kind == IK_BW || kind == IK_BW_FROM_GREEN; }

// The internal code of an uncompressed TIFF this program wrote, by kind.
uint32_t ToolResultFormat(int kind) {
  switch (kind) {
    case IK_RGB: return OF_RAW_RGB_LE;
    case IK_PALETTE256: return OF_RAW_PAL256_LE;
    case IK_PALETTE16: return OF_RAW_PAL16_LE;
    case IK_BW:
    case IK_BW_FROM_GREEN: return OF_RAW_BW_LE;
    default: return OF_RAW_GREY_LE;
  }
}

Photometric ToolResultPhotometric(int kind) {
  switch (kind) {
    case IK_RGB: return PM_RGB;
    case IK_PALETTE256:
    case IK_PALETTE16: return PM_PALETTE;
    // The write stream packs a white pixel as a set bit.
    default: return PM_BLACK_IS_ZERO;
  }
}

// A black and white version of a scan that the program thresholds itself stays grey (kind
// 10) and is thresholded on its way out; any other becomes plain black and white.
bool KeepsGreyForThreshold(const ImageState& n) {
  return n.state == VS_NORMAL &&
         (BWThresholdSettings.SoftwareThreshold != 0 || BWThresholdSettings.ThresholdingType == 2);
}

// Sets the new version's kind and tells whether its lines are to be thresholded first.
bool ApplyKindRule(const ApplyPlan& plan, const ImageState& source, ImageState& n) {
  const bool bilevelSource = IsBilevelKind(source.kind) || source.kind == IK_BW_SAVED_AS_4;
  if (plan.kindRule == KindRule::Keep) return false;
  if (plan.kindRule == KindRule::Bilevel && !IsBilevelKind(source.kind)) return false;
  if (plan.kindRule == KindRule::Despeckle && !bilevelSource) return false;
  const bool grey = KeepsGreyForThreshold(n);
  n.kind = grey ? IK_BW_SAVED_AS_4 : IK_BW;
  if (grey) n.edited = 1;
  return grey && plan.kindRule == KindRule::Despeckle;
}

// The new version: the source's pixels' shape, a file of its own, nothing drawn yet.
void PrepareNewVersion(const ImageState& source, ImageState& n, const std::string& path) {
  n.width = source.width;
  n.height = source.height;
  n.state = source.state;
  n.kind = source.kind;
  n.region = PixelRect{0, 0, source.width, source.height};
  n.sourceForm = SF_OWN_TIFF;
  n.sourcePath = path;
  n.rawPath.clear();
  n.rawFile.reset();
  n.fileHandle = kNoFile;
  n.bitmaps[0].reset();
  n.bitmaps[2].reset();
  n.rowOrder = 0;
  n.operationCode = 0;
}

void FinishFormat(ImageState& n) {
  n.storedLineWidth = StoredLineWidthFor(n.kind, n.width);
  n.linesOneBytePerPixel = 0;
  n.thresholdDuringScan = 0;
  n.outputFormat = ToolResultFormat(n.kind);
  n.photometric = ToolResultPhotometric(n.kind);
  if (n.kind != IK_RGB) n.bitsPerSample = 8;
  if (n.kind == IK_RGB) {
    n.bitsPerSample = 8;
    n.samplesPerPixel = 3;
    n.bitsPerPixel = 24;
  } else {
    n.samplesPerPixel = 1;
    n.bitsPerPixel = 8;
  }
}

class NullProgress final : public IApplyProgress {
 public:
  void Step(int) override {}
};

// One run: owns what it opens and undoes it unless it is kept.
class ApplyRun {
 public:
  ApplyRun(ImageState* source, const ApplyPlan& plan, const FilterSettings& settings,
           const LineTransform* transform = nullptr)
      : source_(source), plan_(plan), settings_(settings), transform_(transform) {}
  ~ApplyRun() { Discard(); }

  ApplyOutcome Run(const ApplyProgressFactory& progress);

 private:
  ApplyResult Prepare();
  ApplyResult Stream(IApplyProgress& progress);
  ApplyResult StreamTransform(IApplyProgress& progress);
  bool OpenStreams();
  ApplyResult WriteOut(const uint8_t* lines, int32_t count, IApplyProgress& progress);
  bool HasWriteSpace();
  ApplyResult CommitInPlace(uint8_t* lines, int32_t skip, int32_t count, IApplyProgress& progress);
  void CloseStreams();
  void Discard();
  ApplyResult Fail(int msg, const std::string& arg) {
    Notify(msg, MessageIcon::Error, {MessageArg{arg}});
    return ApplyResult::Failed;
  }

  ImageState* source_;
  ApplyPlan plan_;
  FilterSettings settings_;
  const LineTransform* transform_;
  ImageState* new_ = nullptr;
  std::string path_;
  std::unique_ptr<LineReader> reader_;
  std::unique_ptr<LineWriter> writer_;
  bool thresholdFirst_ = false;
  bool readerOpen_ = false;
  bool writerOpen_ = false;
  bool kept_ = false;
  PixelRect savedRegion_{};
  int64_t written_ = 0;
};

ApplyResult ApplyRun::Prepare() {
  if (!MakeTempTiffName(TempFilesFolder(), path_)) return Fail(kMsgApplyWriteFailed, TempFilesFolder());
  new_ = PushImageState(source_);
  if (!new_) return ApplyResult::NoImage;
  PrepareNewVersion(*source_, *new_, path_);
  if (transform_) {
    transform_->prepare(*source_, *new_);
  } else {
    thresholdFirst_ = ApplyKindRule(plan_, *source_, *new_);
    if (plan_.resultKind >= 0) new_->kind = static_cast<ImageKind>(plan_.resultKind);
  }
  FinishFormat(*new_);
  const uint64_t needed = static_cast<uint64_t>(new_->storedLineWidth) * static_cast<uint64_t>(new_->height);
  if (!HasFreeDiskSpace(path_, needed)) {
    Notify(kMsgApplyNoRoom, MessageIcon::Error);
    CancelFlag = 1;
    return ApplyResult::NoRoom;
  }
  new_->fileHandle = OpenSharedFile(path_, O_RDWR | O_CREAT | O_TRUNC);
  if (new_->fileHandle < 0) return Fail(kMsgApplyWriteFailed, path_);
  return ApplyResult::Applied;
}

ApplyOutcome ApplyRun::Run(const ApplyProgressFactory& progress) {
  ApplyResult r = Prepare();
  if (r != ApplyResult::Applied) return {r, source_};
  // The stream delivers the source's region: the whole image for the duration.
  savedRegion_ = source_->region;
  source_->region = PixelRect{0, 0, source_->width, source_->height};
  std::unique_ptr<IApplyProgress> p = progress ? progress(plan_.captionId, new_->height) : nullptr;
  NullProgress none;
  r = transform_ ? StreamTransform(p ? *p : none) : Stream(p ? *p : none);
  CloseStreams();
  source_->region = savedRegion_;
  if (r == ApplyResult::Applied && written_ != new_->height) r = Fail(kMsgApplyWriteFailed, path_);
  if (r != ApplyResult::Applied) return {r, source_};
  new_->operationCode = plan_.lastOperation;
  kept_ = true;
  return {ApplyResult::Applied, new_};
}

ApplyResult ApplyRun::Stream(IApplyProgress& progress) {
  const size_t lineBytes = static_cast<size_t>(new_->storedLineWidth);
  const int32_t strip = StripLines(lineBytes);
  FilterSet on = plan_.filters.Empty() ? FilterSet{plan_.filter} : plan_.filters;
  if (thresholdFirst_) on.Add(FilterKind::Threshold);
  const int32_t filterKind = plan_.resultKind >= 0 ? source_->kind : new_->kind;
  FilterTarget target{filterKind, lineBytes, new_->palette.data(), lineBytes * static_cast<size_t>(strip)};
  FilterChain chain = BuildFilterChain(ChainPurpose::Tool, on, settings_, target);
  if (new_->kind == IK_PALETTE256 || new_->kind == IK_PALETTE16) chain.ApplyToPalette();

  reader_ = std::make_unique<LineReader>(source_);
  if (OpenReadStream(reader_.get(), kReadSequential) != kReadOpenOk) return Fail(kMsgApplyReadFailed, source_->sourcePath);
  readerOpen_ = true;
  writer_ = std::make_unique<LineWriter>(new_);
  if (StartImageOutput(writer_.get()) != 0 || OpenWriteStream(writer_.get()) != 0) {
    return Fail(kMsgApplyWriteFailed, path_);
  }
  writerOpen_ = true;

  // Lines the write stream takes as they are are read, filtered and left in its own buffer;
  // the others go through one band, made once for the whole run.
  const bool inPlace = SourceLineBytes(*source_) == static_cast<int32_t>(lineBytes) && HasWriteSpace();
  std::vector<uint8_t> band;
  try {
    if (!inPlace) band.resize(lineBytes * static_cast<size_t>(strip));
  } catch (const std::bad_alloc&) {
    return Fail(kMsgApplyWriteFailed, path_);
  }
  const int delay = chain.Delay();
  // Made once for the run; its threads sleep between strips.
  std::unique_ptr<WorkerPool> pool;
  if (LinesApart(chain, filterKind)) {
    try {
      pool = std::make_unique<WorkerPool>();
    } catch (const std::exception&) {
      pool.reset();  // no threads: this one does it all
    }
  }
  int64_t read = 0;
  while (read < new_->height) {
    PumpMessages();
    if (IsCancelled()) return ApplyResult::Cancelled;
    int32_t room = strip;
    uint8_t* lines = inPlace ? WriteSpace(writer_.get(), &room) : band.data();
    if (!lines || room <= 0) return Fail(kMsgApplyWriteFailed, path_);
    const int32_t n = static_cast<int32_t>(std::min<int64_t>({strip, room, new_->height - read}));
    if (ReadLineRun(reader_.get(), lines, n, lineBytes) != n) return Fail(kMsgApplyReadFailed, source_->sourcePath);
    ProcessInParts(chain, pool.get(), lines, static_cast<size_t>(n), lineBytes);
    // Band line j carries stream line read + j - delay: the first `delay` lines of the
    // stream bring nothing out yet.
    const int64_t skip = std::clamp<int64_t>(delay - read, 0, n);
    read += n;
    const ApplyResult w = inPlace ? CommitInPlace(lines, static_cast<int32_t>(skip), n, progress)
                                  : WriteOut(lines + skip * lineBytes, static_cast<int32_t>(n - skip), progress);
    if (w != ApplyResult::Applied) return w;
  }
  if (delay > 0) {
    std::vector<uint8_t> rest(static_cast<size_t>(delay) * lineBytes);
    const int64_t got = chain.Flush(rest.data(), rest.size());
    if (got < 0) return Fail(kMsgApplyWriteFailed, path_);
    return WriteOut(rest.data(), static_cast<int32_t>(got), progress);
  }
  return ApplyResult::Applied;
}

bool ApplyRun::OpenStreams() {
  reader_ = std::make_unique<LineReader>(source_);
  if (OpenReadStream(reader_.get(), kReadSequential) != kReadOpenOk) {
    Fail(kMsgApplyReadFailed, source_->sourcePath);
    return false;
  }
  readerOpen_ = true;
  writer_ = std::make_unique<LineWriter>(new_);
  if (StartImageOutput(writer_.get()) != 0 || OpenWriteStream(writer_.get()) != 0) {
    Fail(kMsgApplyWriteFailed, path_);
    return false;
  }
  writerOpen_ = true;
  return true;
}

ApplyResult ApplyRun::StreamTransform(IApplyProgress& progress) {
  const size_t inBytes = static_cast<size_t>(SourceLineBytes(*source_));
  const size_t outBytes = static_cast<size_t>(new_->storedLineWidth);
  const int32_t strip = StripLines(std::max(inBytes, outBytes));
  if (!OpenStreams()) return ApplyResult::Failed;
  std::vector<uint8_t> in, out;
  try {
    in.resize(inBytes * static_cast<size_t>(strip));
    out.resize(outBytes * static_cast<size_t>(strip));
  } catch (const std::bad_alloc&) {
    return Fail(kMsgApplyWriteFailed, path_);
  }
  for (int64_t done = 0; done < new_->height;) {
    PumpMessages();
    if (IsCancelled()) return ApplyResult::Cancelled;
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(strip, new_->height - done));
    if (ReadLineRun(reader_.get(), in.data(), n, inBytes) != n) return Fail(kMsgApplyReadFailed, source_->sourcePath);
    transform_->convert(in.data(), n, out.data());
    done += n;
    const ApplyResult w = WriteOut(out.data(), n, progress);
    if (w != ApplyResult::Applied) return w;
  }
  return ApplyResult::Applied;
}

bool ApplyRun::HasWriteSpace() {
  int32_t room = 0;
  return WriteSpace(writer_.get(), &room) != nullptr && room > 0;
}

// `count` lines filtered in the write stream's buffer at `lines`, of which the first `skip`
// carry nothing yet (a delayed filter's start): the others move up over them.
ApplyResult ApplyRun::CommitInPlace(uint8_t* lines, int32_t skip, int32_t count, IApplyProgress& progress) {
  const size_t lb = static_cast<size_t>(new_->storedLineWidth);
  int32_t keep = count - skip;
  if (keep <= 0) return ApplyResult::Applied;
  if (skip > 0) std::memmove(lines, lines + static_cast<size_t>(skip) * lb, static_cast<size_t>(keep) * lb);
  // Never more lines than the image has, as WriteOut.
  keep = static_cast<int32_t>(std::min<int64_t>(keep, new_->height - written_));
  if (CommitLines(writer_.get(), keep) != 0) return Fail(kMsgApplyWriteFailed, path_);
  written_ += keep;
  progress.Step(keep);
  return ApplyResult::Applied;
}

ApplyResult ApplyRun::WriteOut(const uint8_t* lines, int32_t count, IApplyProgress& progress) {
  if (count <= 0) return ApplyResult::Applied;
  // Never more lines than the image has (a filter handing out extra lines would make a
  // taller file than its header says).
  count = static_cast<int32_t>(std::min<int64_t>(count, new_->height - written_));
  const int64_t bytes = static_cast<int64_t>(count) * new_->storedLineWidth;
  if (WriteLines(writer_.get(), lines, bytes) != 0) return Fail(kMsgApplyWriteFailed, path_);
  written_ += count;
  progress.Step(count);
  return ApplyResult::Applied;
}

void ApplyRun::CloseStreams() {
  if (writerOpen_) {
    if (CloseWriteStream(writer_.get()) != 0 && written_ == new_->height) {
      written_ = -1;  // the last strips did not reach the file
    }
    writerOpen_ = false;
  }
  if (readerOpen_) {
    CloseReadStream(reader_.get());
    readerOpen_ = false;
  }
  if (new_ && new_->fileHandle >= 0) {
    ::close(new_->fileHandle);
    new_->fileHandle = kNoFile;
  }
  writer_.reset();
  reader_.reset();
}

void ApplyRun::Discard() {
  CloseStreams();
  if (kept_) return;
  if (!path_.empty()) ::unlink(path_.c_str());
  if (new_) FreeImageState(new_);
  new_ = nullptr;
}

}  // namespace

int32_t SourceLineBytes(const ImageState& image) {
  // A record whose stored line width was never set still reads whole lines.
  return std::max({image.storedLineWidth, StoredLineWidthFor(image.kind, image.width), 1});
}

int32_t StripLines(size_t lineBytes) {
  if (lineBytes == 0) return 1;
  return static_cast<int32_t>(std::clamp<size_t>(kStripBytes / lineBytes, 1, kMaxStripLines));
}

ApplyPlan InvertApply() { return {FilterKind::Invert, kCaptionInvert, kOpInvert, KindRule::Bilevel}; }
ApplyPlan MirrorApply() { return {FilterKind::Mirror, kCaptionMirror, kOpMirror, KindRule::Bilevel}; }
ApplyPlan NoiseRemovalApply() { return {FilterKind::NoiseRemoval, kCaptionNoise, kOpNoiseRemoval, KindRule::Keep}; }
ApplyPlan SharpenApply(int32_t level) {
  return level > 0 ? ApplyPlan{FilterKind::Sharpen, kCaptionSharpen, kOpSharpen, KindRule::Keep}
                   : ApplyPlan{FilterKind::Sharpen, kCaptionBlur, kOpBlur, KindRule::Keep};
}
ApplyPlan DespeckleApply() {
  return {FilterKind::Despeckle, kCaptionDespeckle, kOpDespeckle, KindRule::Despeckle};
}

ApplyOutcome RunApplyPipeline(ImageState* working, const ApplyPlan& plan, const FilterSettings& settings,
                              const ApplyProgressFactory& progress) {
  if (!working || working->width <= 0 || working->height <= 0) return {ApplyResult::NoImage, working};
  CancelFlag = 0;
  ApplyRun run(working, plan, settings);
  return run.Run(progress);
}

ApplyOutcome RunLineTransform(ImageState* working, const ApplyPlan& plan, const LineTransform& transform,
                              const ApplyProgressFactory& progress) {
  if (!working || working->width <= 0 || working->height <= 0) return {ApplyResult::NoImage, working};
  CancelFlag = 0;
  ApplyRun run(working, plan, FilterSettings::Current(), &transform);
  return run.Run(progress);
}

}  // namespace orb::tools
