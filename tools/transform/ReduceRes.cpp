#include "tools/transform/ReduceRes.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <vector>

#include "engine/EngineHost.h"
#include "engine/resample/Resampler.h"
#include "platform/Files.h"
#include "tools/ToolTable.h"

namespace orb::tools {
namespace {

constexpr int kCaptionReduce = 1418;

bool Resampled(int kind) { return kind == IK_RGB || kind == IK_GREY || kind == IK_GREY_FROM_GREEN; }

// Frees the resampler whatever ends the run.
struct ResamplerGuard {
  ResamplerState st;
  ResamplerGuard() { ResamplerInit(&st); }
  ~ResamplerGuard() { ResamplerFree(&st); }
};

class ReduceRun {
 public:
  ReduceRun(ImageState* source, int32_t target) : src_(source), out_(source), target_(target) {}
  ApplyOutcome Run(const ApplyProgressFactory& factory);

 private:
  ApplyResult Lanczos(RunProgress& progress);
  ApplyResult Nearest(RunProgress& progress);
  ApplyResult Emit(const uint8_t* lines, int32_t bytes, int32_t count);

  ImageState* src_;
  NewVersion out_;
  int32_t target_;
  std::vector<uint8_t> line_;  // one result line
  int32_t px_ = 1;
};

// Result lines from the resampler's lines (`bytes` each); a line shorter than the result's
// (the resampler's rounding) repeats its last pixel.
ApplyResult ReduceRun::Emit(const uint8_t* lines, int32_t bytes, int32_t count) {
  const size_t want = static_cast<size_t>(out_.Image()->width) * static_cast<size_t>(px_);
  for (int32_t i = 0; i < count && out_.Written() < out_.Image()->height; ++i) {
    const uint8_t* l = lines + static_cast<size_t>(i) * static_cast<size_t>(bytes);
    const size_t have = std::min(want, static_cast<size_t>(bytes));
    std::memcpy(line_.data(), l, have);
    for (size_t b = have; b < want; b += static_cast<size_t>(px_)) std::memcpy(&line_[b], &line_[b - px_], px_);
    const ApplyResult w = out_.Write(line_.data(), 1);
    if (w != ApplyResult::Applied) return w;
  }
  return ApplyResult::Applied;
}

ApplyResult ReduceRun::Lanczos(RunProgress& progress) {
  ResamplerGuard rs;
  ResamplerSetScale(&rs.st, static_cast<double>(target_) / src_->xDpi, static_cast<double>(target_) / src_->yDpi);
  ResamplerSetSizes(&rs.st, src_->height, px_, src_->width);
  if (!ResamplerPrepare(&rs.st)) return out_.FailWrite();
  std::vector<uint8_t> in;
  if (!TryAllocate(in, static_cast<size_t>(std::max(src_->storedLineWidth, 1)))) return out_.FailWrite();
  SourceLines lines(src_);
  if (!lines.Open()) return out_.Fail(kMsgApplyReadFailed, src_->sourcePath);
  unsigned char* got = nullptr;
  int32_t bytes = 0, count = 0;
  for (int32_t y = 0; y < src_->height; ++y) {
    if (PumpAndCheckCancel()) return ApplyResult::Cancelled;
    if (!lines.Next(in.data())) return out_.Fail(kMsgApplyReadFailed, src_->sourcePath);
    ResamplerProcessRows(&rs.st, in.data(), &got, &bytes, &count);
    const ApplyResult w = Emit(got, bytes, count);
    if (w != ApplyResult::Applied) return w;
    progress.Step();
  }
  do {
    ResamplerFlush(&rs.st, &got, &bytes, &count);
    const ApplyResult w = Emit(got, bytes, count);
    if (w != ApplyResult::Applied) return w;
  } while (count > 0);
  // The resampler's rounding may leave the last line owed: it repeats the one before.
  while (out_.Written() > 0 && out_.Written() < out_.Image()->height) {
    const ApplyResult w = out_.Write(line_.data(), 1);
    if (w != ApplyResult::Applied) return w;
  }
  return ApplyResult::Applied;
}

ApplyResult ReduceRun::Nearest(RunProgress& progress) {
  std::vector<uint8_t> in;
  if (!TryAllocate(in, static_cast<size_t>(std::max(src_->storedLineWidth, 1)))) return out_.FailWrite();
  SourceLines lines(src_);
  if (!lines.Open()) return out_.Fail(kMsgApplyReadFailed, src_->sourcePath);
  const ImageState& n = *out_.Image();
  // Source column of every result column, computed once.
  std::vector<int32_t> col(static_cast<size_t>(n.width));
  for (int32_t x = 0; x < n.width; ++x) {
    col[static_cast<size_t>(x)] = static_cast<int32_t>(static_cast<int64_t>(x) * src_->xDpi / target_);
  }
  for (int32_t y = 0; y < n.height; ++y) {
    if (PumpAndCheckCancel()) return ApplyResult::Cancelled;
    const int64_t sy = std::min<int64_t>(static_cast<int64_t>(y) * src_->yDpi / target_, src_->height - 1);
    if (sy >= lines.Read() && !lines.SkipTo(sy, in.data())) return out_.Fail(kMsgApplyReadFailed, src_->sourcePath);
    for (int32_t x = 0; x < n.width; ++x) {
      const size_t s = static_cast<size_t>(col[static_cast<size_t>(x)]) * static_cast<size_t>(px_);
      std::memcpy(&line_[static_cast<size_t>(x) * static_cast<size_t>(px_)], &in[s], static_cast<size_t>(px_));
    }
    const ApplyResult w = out_.Write(line_.data(), 1);
    if (w != ApplyResult::Applied) return w;
    progress.Step();
  }
  return ApplyResult::Applied;
}

ApplyOutcome ReduceRun::Run(const ApplyProgressFactory& factory) {
  const ReducedSize size = ReduceResSize(src_->width, src_->height, src_->xDpi, src_->yDpi, target_);
  px_ = StreamPixelBytes(src_->kind);
  VersionShape shape{GeometryResultKind(*src_, nullptr), size.width, size.height, 0};
  ApplyResult r = out_.Begin(shape);
  if (r == ApplyResult::Applied) {
    ImageState& n = *out_.Image();
    n.xDpi = n.yDpi = target_;
    if (n.kind == IK_BW_SAVED_AS_4) n.edited = 1;
    if (!TryAllocate(line_, out_.LineBytes(), WhiteIndex(*src_))) r = out_.FailWrite();
  }
  if (r == ApplyResult::Applied) r = out_.StartOutput();
  const bool lanczos = Resampled(src_->kind);
  RunProgress progress(factory, kCaptionReduce, lanczos ? src_->height : size.height);
  if (r == ApplyResult::Applied) r = lanczos ? Lanczos(progress) : Nearest(progress);
  if (r == ApplyResult::Applied) r = out_.Keep(kOpReduceRes);
  if (r != ApplyResult::Applied) return {r, src_};
  return {ApplyResult::Applied, out_.Image()};
}

}  // namespace

int32_t ReduceResShown(int32_t value, int32_t imageDpi) {
  if (value >= imageDpi) value = imageDpi - 1;
  return std::max(value, kReduceResMinimum);
}

int32_t ReduceResCommitted(int32_t typed, int32_t imageDpi) {
  if (typed >= imageDpi) return imageDpi - 1;
  return std::max(typed, kReduceResMinimum);
}

ReducedSize ReduceResSize(int32_t width, int32_t height, int32_t xDpi, int32_t yDpi, int32_t target) {
  if (xDpi <= 0 || yDpi <= 0 || target <= 0 || width <= 0 || height <= 0) return {};
  return {static_cast<int32_t>(static_cast<int64_t>(width) * target / xDpi),
          static_cast<int32_t>(static_cast<int64_t>(height) * target / yDpi)};
}

ReduceCheck CheckReduceRes(const ImageState& image, int32_t target) {
  if (image.xDpi <= 0 || image.yDpi <= 0) return ReduceCheck::NoResolution;
  if (target <= 0 || target >= image.xDpi) return ReduceCheck::NotLower;
  const ReducedSize s = ReduceResSize(image.width, image.height, image.xDpi, image.yDpi, target);
  if (s.width <= 0 || s.height <= 0) return ReduceCheck::Empty;
  return ReduceCheck::Ok;
}

ApplyOutcome ReduceResolution(ImageState* working, int32_t target, const ApplyProgressFactory& progress) {
  if (!working || working->width <= 0 || working->height <= 0) return {ApplyResult::NoImage, working};
  if (CheckReduceRes(*working, target) != ReduceCheck::Ok) return {ApplyResult::NoImage, working};
  CancelFlag = 0;
  ReduceRun run(working, target);
  return run.Run(progress);
}

int ReduceActiveImage(int32_t target) {
  ImageState* image = ActiveToolImage();
  if (!image) return -1;
  switch (CheckReduceRes(*image, target)) {
    case ReduceCheck::NoResolution:
      Notify(kMsgReduceNoResolution, MessageIcon::Exclamation);
      return -1;
    case ReduceCheck::NotLower:
    case ReduceCheck::Empty:
      Notify(kMsgReduceNotLower, MessageIcon::Exclamation);
      return -1;
    case ReduceCheck::Ok: break;
  }
  const int32_t x = image->xDpi, y = image->yDpi;
  return ApplyTransformToActive(
      [target](ImageState* s, const ApplyProgressFactory& p) { return ReduceResolution(s, target, p); },
      [x, y, target](const PixelRect& r) {
        auto sx = [&](int32_t v) { return static_cast<int32_t>(static_cast<int64_t>(v) * target / x); };
        auto sy = [&](int32_t v) { return static_cast<int32_t>(static_cast<int64_t>(v) * target / y); };
        return PixelRect{sx(r.left), sy(r.top), sx(r.right), sy(r.bottom)};
      });
}

int32_t LoadReduceResSetting(const std::string& folder) {
  if (folder.empty()) return kReduceResDefault;
  std::ifstream in(folder + "/" + kReduceResFile, std::ios::binary);
  uint8_t b[4];
  if (!in.read(reinterpret_cast<char*>(b), 4)) return kReduceResDefault;
  const auto v = static_cast<int32_t>(static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                                      static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24);
  return v >= 1 ? v : kReduceResDefault;
}

bool SaveReduceResSetting(const std::string& folder, int32_t value) {
  if (folder.empty()) return false;
  const auto u = static_cast<uint32_t>(value);
  const std::vector<uint8_t> b{static_cast<uint8_t>(u & 0xFF), static_cast<uint8_t>(u >> 8 & 0xFF),
                               static_cast<uint8_t>(u >> 16 & 0xFF), static_cast<uint8_t>(u >> 24 & 0xFF)};
  return WriteFileAtomically(folder + "/" + kReduceResFile, b);
}

}  // namespace orb::tools
