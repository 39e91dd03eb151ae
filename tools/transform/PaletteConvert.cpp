#include "tools/transform/PaletteConvert.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/EngineHost.h"
#include "engine/PaletteFile.h"
#include "engine/Settings.h"
#include "engine/SharedRoutines.h"
#include "engine/filters/FilterChain.h"
#include "engine/quantise/Quantise.h"
#include "tools/ToolTable.h"

namespace orb::tools {
namespace {

constexpr int kCaptionConvert = 33046;

ImageKind ResultKind(int mode) {
  switch (mode) {
    case kToRgb: return IK_RGB;
    case kTo256: return IK_PALETTE256;
    case kTo16: return IK_PALETTE16;
    case kToGrey: return IK_GREY;
    default: return IK_BW;
  }
}

uint8_t Low(uint16_t v) { return static_cast<uint8_t>(v & 0xFF); }

class ConvertRun {
 public:
  ConvertRun(ImageState* source, int mode, std::string folder)
      : src_(source), out_(source), mode_(mode), folder_(std::move(folder)) {}
  ~ConvertRun() {
    if (!kept_ && !palettePath_.empty()) ::unlink(palettePath_.c_str());
  }
  ApplyOutcome Run(const ApplyProgressFactory& factory);

 private:
  ApplyResult Prepare();
  ApplyResult Pointwise(RunProgress& progress);
  ApplyResult Adaptive(RunProgress& progress);
  ApplyResult Threshold(RunProgress& progress);
  void MapLine(const uint8_t* in, uint8_t* out) const;
  ApplyResult ReadFail() { return out_.Fail(kMsgApplyReadFailed, src_->sourcePath); }

  ImageState* src_;
  NewVersion out_;
  int mode_;
  std::string folder_;
  std::string palettePath_;
  bool kept_ = false;
  std::unique_ptr<uint8_t[]> lut_;
};

ApplyResult ConvertRun::Prepare() {
  bool keptGrey = false;
  ImageKind kind = ResultKind(mode_);
  if (kind == IK_BW) {
    ImageState probe = *src_;
    probe.kind = IK_BW;
    kind = GeometryResultKind(probe, &keptGrey);
  }
  VersionShape shape{kind, src_->width, src_->height, 0};
  shape.spaceNeeded = 2 * static_cast<uint64_t>(StoredLineWidthFor(kind, src_->width)) *
                      static_cast<uint64_t>(src_->height);
  ApplyResult r = out_.Begin(shape);
  if (r != ApplyResult::Applied) return r;
  ImageState& n = *out_.Image();
  if (keptGrey) n.edited = 1;
  if (mode_ == kToGrey || mode_ == kToBilevel) SetGreyRamp(&n);
  if (mode_ == kTo256 && src_->kind != IK_RGB) {
    // The source's colours stay at their indices.
    std::copy_n(src_->palette.begin(), 16, n.palette.begin());
    n.palette2 = n.palette;
  }
  if (mode_ != kTo256) n.paletteFilePath.clear();
  return ApplyResult::Applied;
}

void ConvertRun::MapLine(const uint8_t* in, uint8_t* out) const {
  const int32_t w = src_->width;
  const auto& pal = src_->palette;
  const bool fromPalette = IsPaletteKind(src_->kind);
  if (mode_ == kToRgb) {
    for (int32_t x = 0; x < w; ++x, out += 3) {
      if (fromPalette) {
        const PaletteEntry& e = pal[in[x]];
        out[0] = Low(e.red), out[1] = Low(e.green), out[2] = Low(e.blue);
      } else {
        out[0] = out[1] = out[2] = in[x];
      }
    }
  } else if (mode_ == kToGrey && src_->kind == IK_RGB) {
    for (int32_t x = 0; x < w; ++x, in += 3) out[x] = static_cast<uint8_t>((in[0] + in[1] + in[2]) / 3);
  } else if (mode_ == kToGrey && fromPalette) {
    for (int32_t x = 0; x < w; ++x) {
      const PaletteEntry& e = pal[in[x]];
      out[x] = static_cast<uint8_t>((Low(e.red) + Low(e.green) + Low(e.blue)) / 3);
    }
  } else {
    std::memcpy(out, in, static_cast<size_t>(w));  // the same indices or grey values
  }
}

ApplyResult ConvertRun::Pointwise(RunProgress& progress) {
  std::vector<uint8_t> in, line;
  if (!TryAllocate(in, static_cast<size_t>(src_->storedLineWidth) + 1) ||
      !TryAllocate(line, out_.LineBytes() + 1))
    return out_.FailWrite();
  SourceLines lines(src_);
  if (!lines.Open()) return ReadFail();
  for (int32_t y = 0; y < src_->height; ++y) {
    if (PumpAndCheckCancel()) return ApplyResult::Cancelled;
    if (!lines.Next(in.data())) return ReadFail();
    if (lut_) {
      const uint8_t* p = in.data();
      for (int32_t x = 0; x < src_->width; ++x, p += 3) line[static_cast<size_t>(x)] = lut_[PaletteCell(p[0], p[1], p[2])];
    } else {
      MapLine(in.data(), line.data());
    }
    const ApplyResult w = out_.Write(line.data(), 1);
    if (w != ApplyResult::Applied) return w;
    progress.Step();
  }
  return ApplyResult::Applied;
}

ApplyResult ConvertRun::Adaptive(RunProgress& progress) {
  const int colours = mode_ == kTo16 ? 16 : 256;
  auto q = std::make_unique<CQuantise>();
  std::vector<uint8_t> in;
  if (!TryAllocate(in, static_cast<size_t>(src_->storedLineWidth))) return out_.FailWrite();
  {
    SourceLines lines(src_);
    if (!lines.Open()) return ReadFail();
    for (int32_t y = 0; y < src_->height; ++y) {
      if (PumpAndCheckCancel()) return ApplyResult::Cancelled;
      if (!lines.Next(in.data())) return ReadFail();
      q->AddPixels(in.data(), 1, src_->width);
    }
  }
  lut_.reset(new (std::nothrow) uint8_t[kLookupTableSize]);
  auto file = std::make_unique<PaletteFile>();
  int count = 0;
  uint8_t rgb[768] = {};
  if (!lut_ || !q->MakePalette(colours, &count, lut_.get(), rgb, nullptr)) return out_.FailWrite();
  q.reset();
  ImageState& n = *out_.Image();
  for (int i = 0; i < 256; ++i) {
    n.palette[static_cast<size_t>(i)] = PaletteEntry{rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]};
  }
  n.palette2 = n.palette;
  // The palette file: every colour maps to itself.
  file->Header = 2;
  file->N = file->M = static_cast<uint8_t>(colours - 1);
  std::memcpy(file->Lookup, lut_.get(), kLookupTableSize);
  std::memcpy(file->Palette, rgb, sizeof rgb);
  std::memcpy(file->OutputPalette, rgb, sizeof rgb);
  for (int i = 0; i < colours; ++i) file->Map[i] = static_cast<uint8_t>(i);
  const std::string folder = folder_.empty() ? DataFolder() : folder_;
  palettePath_ = folder + "/" + SplitFileName(n.sourcePath).name + ".apt.tmp";
  if (!SavePaletteFile(palettePath_, *file)) {
    const std::string p = palettePath_;
    palettePath_.clear();
    return out_.Fail(kMsgApplyWriteFailed, p);
  }
  n.paletteFilePath = palettePath_;
  return Pointwise(progress);
}

ApplyResult ConvertRun::Threshold(RunProgress& progress) {
  const size_t bytes = static_cast<size_t>(src_->storedLineWidth);
  FilterTarget target{src_->kind, bytes, nullptr, bytes};
  FilterChain chain = BuildFilterChain(ChainPurpose::Tool, FilterSet{FilterKind::Threshold},
                                       FilterSettings::Current(), target);
  const int delay = chain.Delay();
  std::vector<uint8_t> line, rest;
  if (!TryAllocate(line, bytes) || !TryAllocate(rest, bytes * static_cast<size_t>(std::max(delay, 1))))
    return out_.FailWrite();
  SourceLines lines(src_);
  if (!lines.Open()) return ReadFail();
  for (int32_t y = 0; y < src_->height; ++y) {
    if (PumpAndCheckCancel()) return ApplyResult::Cancelled;
    if (!lines.Next(line.data())) return ReadFail();
    chain.Process(line.data(), bytes);
    // The first `delay` lines bring nothing out yet.
    if (y >= delay) {
      const ApplyResult w = out_.Write(line.data(), 1);
      if (w != ApplyResult::Applied) return w;
    }
    progress.Step();
  }
  if (delay > 0) {
    const int64_t got = chain.Flush(rest.data(), rest.size());
    if (got < 0) return out_.FailWrite();
    return out_.Write(rest.data(), static_cast<int32_t>(got));
  }
  return ApplyResult::Applied;
}

ApplyOutcome ConvertRun::Run(const ApplyProgressFactory& factory) {
  ApplyResult r = Prepare();
  if (r == ApplyResult::Applied) r = out_.StartOutput();
  const bool adaptive = src_->kind == IK_RGB && (mode_ == kTo256 || mode_ == kTo16);
  RunProgress progress(factory, kCaptionConvert, adaptive ? 2 * src_->height : src_->height);
  if (r == ApplyResult::Applied) {
    if (adaptive) {
      r = Adaptive(progress);
    } else if (mode_ == kToBilevel) {
      r = Threshold(progress);
    } else {
      r = Pointwise(progress);
    }
  }
  if (r == ApplyResult::Applied) r = out_.Keep(kOpPalette);
  if (r != ApplyResult::Applied) return {r, src_};
  kept_ = true;
  return {ApplyResult::Applied, out_.Image()};
}

}  // namespace

int EffectivePaletteMode(int mode) {
  if (mode == kToGreyGreen) return kToGrey;
  if (mode == kToBilevelGreen) return kToBilevel;
  return mode;
}

bool IsOfferedConversion(int kind, int mode) {
  mode = EffectivePaletteMode(mode);
  switch (kind) {
    case IK_RGB: return mode == kTo256 || mode == kTo16 || mode == kToGrey;
    case IK_PALETTE256: return mode == kToRgb || mode == kToGrey;
    case IK_PALETTE16: return mode == kToRgb || mode == kTo256 || mode == kToGrey;
    case IK_GREY:
    case IK_GREY_FROM_GREEN: return mode == kToRgb || mode == kTo256 || mode == kToBilevel;
    case IK_BW:
    case IK_BW_FROM_GREEN: return mode == kToRgb || mode == kTo256 || mode == kToGrey;
    default: return false;
  }
}

ApplyOutcome ConvertToPalette(ImageState* working, int mode, const ApplyProgressFactory& progress,
                              const std::string& paletteFolder) {
  if (!working || working->width <= 0 || working->height <= 0) return {ApplyResult::NoImage, working};
  if (!IsOfferedConversion(working->kind, mode)) return {ApplyResult::NoImage, working};
  CancelFlag = 0;
  ConvertRun run(working, EffectivePaletteMode(mode), paletteFolder);
  return run.Run(progress);
}

int ConvertActiveImage(int mode) {
  return ApplyTransformToActive(
      [mode](ImageState* s, const ApplyProgressFactory& p) { return ConvertToPalette(s, mode, p); },
      [](const PixelRect& r) { return r; });
}

}  // namespace orb::tools
