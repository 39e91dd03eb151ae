#include "tools/transform/TransformRun.h"

#include <fcntl.h>
#include <unistd.h>

#include <new>

#include "engine/EngineHost.h"
#include "engine/SharedRoutines.h"
#include "engine/ToolSettings.h"
#include "platform/Files.h"

namespace orb::tools {
namespace {

uint32_t ResultFormat(int kind) {
  switch (kind) {
    case IK_RGB: return OF_RAW_RGB_LE;
    case IK_PALETTE256: return OF_RAW_PAL256_LE;
    case IK_PALETTE16: return OF_RAW_PAL16_LE;
    case IK_BW:
    case IK_BW_FROM_GREEN: return OF_RAW_BW_LE;
    default: return OF_RAW_GREY_LE;
  }
}

Photometric ResultPhotometric(int kind) {
  switch (kind) {
    case IK_RGB: return PM_RGB;
    case IK_PALETTE256:
    case IK_PALETTE16: return PM_PALETTE;
    default: return PM_BLACK_IS_ZERO;  // a white pixel is packed as a set bit
  }
}

}  // namespace

int32_t StreamPixelBytes(int kind) { return kind == IK_RGB ? 3 : 1; }
bool IsBilevelKind(int kind) { return kind == IK_BW || kind == IK_BW_FROM_GREEN; }
bool IsPaletteKind(int kind) { return kind == IK_PALETTE256 || kind == IK_PALETTE16; }

uint8_t WhiteIndex(const ImageState& image) {
  if (!IsPaletteKind(image.kind)) return 255;
  const int colours = image.kind == IK_PALETTE16 ? 16 : 256;
  // White, else the brightest colour: an index past the palette's colours would draw black.
  int best = colours - 1, bestSum = -1;
  for (int i = colours - 1; i >= 0; --i) {
    const PaletteEntry& e = image.palette[static_cast<size_t>(i)];
    const int sum = (e.red & 0xFF) + (e.green & 0xFF) + (e.blue & 0xFF);
    if (sum == 3 * 255) return static_cast<uint8_t>(i);
    if (sum > bestSum) best = i, bestSum = sum;
  }
  return static_cast<uint8_t>(best);
}

ImageKind GeometryResultKind(const ImageState& source, bool* keptGrey) {
  if (keptGrey) *keptGrey = false;
  if (!IsBilevelKind(source.kind)) return source.kind;
  const bool grey = source.state == VS_NORMAL &&
                    (BWThresholdSettings.SoftwareThreshold != 0 || BWThresholdSettings.ThresholdingType == 2);
  if (keptGrey) *keptGrey = grey;
  return grey ? IK_BW_SAVED_AS_4 : IK_BW;
}

// ----- SourceLines

bool SourceLines::Open() {
  saved_ = source_->region;
  source_->region = PixelRect{0, 0, source_->width, source_->height};
  reader_ = std::make_unique<LineReader>(source_);
  open_ = true;
  return OpenReadStream(reader_.get(), kReadSequential) == kReadOpenOk;
}

bool SourceLines::Next(uint8_t* line) {
  if (!open_ || read_ >= source_->height) return false;
  if (ReadLines(reader_.get(), line, kReadSequential, 0) != 1) return false;
  ++read_;
  return true;
}

bool SourceLines::SkipTo(int64_t y, uint8_t* line) {
  while (read_ <= y) {
    if (!Next(line)) return false;
  }
  return true;
}

void SourceLines::Close() {
  if (!open_) return;
  CloseReadStream(reader_.get());
  reader_.reset();
  source_->region = saved_;
  open_ = false;
}

// ----- NewVersion

ApplyResult NewVersion::Fail(int msg, const std::string& arg) {
  Notify(msg, MessageIcon::Error, {MessageArg{arg}});
  return ApplyResult::Failed;
}

ApplyResult NewVersion::Begin(const VersionShape& shape) {
  if (shape.width <= 0 || shape.height <= 0) return ApplyResult::NoImage;
  if (!MakeTempTiffName(TempFilesFolder(), path_)) return Fail(kMsgApplyWriteFailed, TempFilesFolder());
  image_ = PushImageState(source_);
  if (!image_) return ApplyResult::NoImage;
  ImageState& n = *image_;
  n.width = shape.width;
  n.height = shape.height;
  n.kind = shape.kind;
  n.region = PixelRect{0, 0, shape.width, shape.height};
  n.sourceForm = SF_OWN_TIFF;
  n.sourcePath = path_;
  n.rawPath.clear();
  n.rawFile.reset();
  n.fileHandle = kNoFile;
  for (auto& b : n.bitmaps) b.reset();
  n.rowOrder = 0;
  n.operationCode = 0;
  n.storedLineWidth = StoredLineWidthFor(n.kind, n.width);
  n.linesOneBytePerPixel = 0;
  n.thresholdDuringScan = 0;
  n.thresholdPending = 0;
  n.outputFormat = ResultFormat(n.kind);
  n.photometric = ResultPhotometric(n.kind);
  n.bitsPerSample = 8;
  n.samplesPerPixel = n.kind == IK_RGB ? 3 : 1;
  n.bitsPerPixel = n.kind == IK_RGB ? 24 : 8;
  const uint64_t needed = shape.spaceNeeded ? shape.spaceNeeded
                                            : static_cast<uint64_t>(n.storedLineWidth) *
                                                  static_cast<uint64_t>(n.height);
  if (!HasFreeDiskSpace(path_, needed)) {
    Notify(kMsgApplyNoRoom, MessageIcon::Error);
    CancelFlag = 1;
    return ApplyResult::NoRoom;
  }
  n.fileHandle = OpenSharedFile(path_, O_RDWR | O_CREAT | O_TRUNC);
  if (n.fileHandle < 0) return FailWrite();
  return ApplyResult::Applied;
}

ApplyResult NewVersion::StartOutput() {
  writer_ = std::make_unique<LineWriter>(image_);
  if (StartImageOutput(writer_.get()) != 0 || OpenWriteStream(writer_.get()) != 0) return FailWrite();
  writerOpen_ = true;
  return ApplyResult::Applied;
}

ApplyResult NewVersion::Write(const uint8_t* lines, int32_t count) {
  if (count <= 0) return ApplyResult::Applied;
  if (written_ + count > image_->height) count = static_cast<int32_t>(image_->height - written_);
  const int64_t bytes = static_cast<int64_t>(count) * image_->storedLineWidth;
  if (!writerOpen_ || WriteLines(writer_.get(), lines, bytes) != 0) return FailWrite();
  written_ += count;
  return ApplyResult::Applied;
}

void NewVersion::Close() {
  if (writerOpen_) {
    if (CloseWriteStream(writer_.get()) != 0) written_ = -1;  // the last lines did not reach the file
    writerOpen_ = false;
  }
  writer_.reset();
  if (image_ && image_->fileHandle >= 0) {
    ::close(image_->fileHandle);
    image_->fileHandle = kNoFile;
  }
}

ApplyResult NewVersion::Keep(uint32_t lastOperation) {
  Close();
  if (written_ != image_->height) return FailWrite();
  image_->operationCode = lastOperation;
  kept_ = true;
  return ApplyResult::Applied;
}

void NewVersion::Discard() {
  Close();
  if (kept_) return;
  if (!path_.empty()) ::unlink(path_.c_str());
  if (image_) FreeImageState(image_);
  image_ = nullptr;
}

// ----- helpers

RunProgress::RunProgress(const ApplyProgressFactory& factory, int captionId, int lines) {
  if (factory) p_ = factory(captionId, lines);
}

bool PumpAndCheckCancel() {
  PumpMessages();
  return IsCancelled();
}

bool TryAllocate(std::vector<uint8_t>& v, size_t bytes, uint8_t fill) {
  try {
    v.assign(bytes, fill);
    return true;
  } catch (const std::bad_alloc&) {
    v.clear();
    return false;
  }
}

}  // namespace orb::tools

#include "tools/ToolDocumentHost.h"

namespace orb::tools {

int ApplyTransformToActive(const TransformFn& fn, const RegionMap& region) {
  ToolDocumentHost* host = GetToolDocumentHost();
  ImageState* source = host ? host->ActiveImage() : nullptr;
  if (!source) return -1;
  const PixelRect old = source->region;
  ApplyProgressFactory progress = [host](int caption, int lines) { return host->MakeProgress(caption, lines); };
  CancelFlag = 0;
  ApplyOutcome out = fn(source, progress);
  if (out.result == ApplyResult::NoImage || out.result == ApplyResult::NoRoom) return -1;
  if (out.result == ApplyResult::Applied) host->SetWorkingImage(out.working);
  host->ImageChanged();
  host->UpdateView(kViewHintWholeImage);
  source->region = old;
  if (out.result == ApplyResult::Applied) {
    ImageState* n = out.working;
    n->region = region ? region(old) : PixelRect{0, 0, n->width, n->height};
  }
  host->UpdateView(kViewHintRedraw);
  return 0;
}

}  // namespace orb::tools
