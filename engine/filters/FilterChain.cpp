#include "engine/filters/FilterChain.h"

#include <algorithm>
#include <cstring>

#include "engine/ImageState.h"
#include "engine/filters/BWThreshold.h"
#include "engine/resample/WorkerPool.h"

namespace orb {
namespace {

using K = FilterKind;

constexpr FilterKind kScanToneOrder[] = {K::NoiseRemoval, K::Sharpen,    K::Mirror,
                                         K::ToneCurve,    K::BrightCont, K::BWPoint, K::Invert};
constexpr FilterKind kScanBilevelOrder[] = {K::Threshold, K::Despeckle};
// A save thresholds first: the point filters then see the black and white result.
constexpr FilterKind kSaveOrder[] = {K::Threshold, K::ToneCurve, K::BrightCont, K::BWPoint};
constexpr FilterKind kPointPreviewOrder[] = {K::ToneCurve, K::BrightCont, K::BWPoint, K::Invert};
constexpr FilterKind kDetailPreviewOrder[] = {K::NoiseRemoval, K::Sharpen};
constexpr FilterKind kToolOrder[] = {K::NoiseRemoval, K::Sharpen, K::Mirror,
                                     K::ToneCurve,    K::BrightCont, K::BWPoint,
                                     K::Invert,       K::Threshold,  K::Despeckle};

}  // namespace

FilterSettings FilterSettings::Current() {
  return FilterSettings{DescreenSettings,   SharpenSettings,   MirrorSettings,
                        GammaSettings,      BrightContSettings, BWPointSettings,
                        InvertSettings,     BWThresholdSettings, DespeckleSettings};
}

std::span<const FilterKind> ChainOrder(ChainPurpose purpose) {
  switch (purpose) {
    case ChainPurpose::ScanTone: return kScanToneOrder;
    case ChainPurpose::ScanBilevel: return kScanBilevelOrder;
    case ChainPurpose::Save: return kSaveOrder;
    case ChainPurpose::PointPreview: return kPointPreviewOrder;
    case ChainPurpose::DetailPreview: return kDetailPreviewOrder;
    case ChainPurpose::Tool: return kToolOrder;
  }
  return {};
}

FilterChain BuildFilterChain(ChainPurpose purpose, FilterSet on, const FilterSettings& settings,
                             const FilterTarget& target, const FilterMaker& maker) {
  FilterChain chain;
  chain.lineBytes_ = target.lineBytes;
  for (FilterKind k : ChainOrder(purpose)) {
    if (!on.Has(k)) continue;
    std::unique_ptr<LineFilter> f = maker ? maker(k) : MakeLineFilter(k, settings, target);
    if (!f) continue;
    if (k == FilterKind::Threshold) chain.priming_ = ThresholdPrimingLines(settings.threshold);
    chain.filters_.push_back(std::move(f));
    chain.kinds_.push_back(k);
  }
  chain.FuseSteps(target);
  return chain;
}

void FilterChain::FuseSteps(const FilterTarget& target) {
  const bool colour = target.kind == IK_RGB;
  const bool grey = target.kind == IK_GREY || target.kind == IK_GREY_FROM_GREEN;
  const size_t pixelBytes = colour ? 3 : 1;
  const bool fusable = (colour || grey) && target.lineBytes > 0 && target.lineBytes % pixelBytes == 0;
  ByteMaps maps;
  for (size_t i = 0; i < filters_.size();) {
    // The longest run from i of filters that map bytes or mirror (one mirror at most).
    size_t end = i;
    bool mirrored = false;
    while (fusable && end < filters_.size()) {
      const bool mirrors = filters_[end]->Mirrors() && !mirrored;
      if (!mirrors && !filters_[end]->Maps(maps)) break;
      mirrored = mirrored || mirrors;
      ++end;
    }
    if (end - i < 2) {
      steps_.push_back({filters_[i].get(), nullptr});
      ++i;
      continue;
    }
    auto pass = std::make_unique<FusedPointPass>(pixelBytes, target.lineBytes);
    for (; i < end; ++i) {
      if (filters_[i]->Maps(maps))
        pass->Then(maps);
      else
        pass->Mirror();
    }
    steps_.push_back({nullptr, pass.get()});
    fused_.push_back(std::move(pass));
  }
}

void FilterChain::Process(uint8_t* band, size_t length) {
  for (const Step& s : steps_) {
    if (s.fused)
      s.fused->Process(band, length);
    else
      s.filter->Process(band, length);
  }
}

void FilterChain::ApplyToPalette() {
  for (auto& f : filters_) f->ApplyToPalette();
}

int FilterChain::Delay() const {
  int d = 0;
  for (const auto& f : filters_) d += f->Delay();
  return d;
}

int64_t FilterChain::Flush(uint8_t* out, size_t outLength) {
  const size_t lb = lineBytes_;
  if (lb == 0) return 0;
  // The lines held so far, in stream order: each filter first gets those of the filters
  // before it (band line j comes back as its line j - delay), then gives up its own.
  std::vector<uint8_t> held;
  for (auto& f : filters_) {
    if (!held.empty()) f->Process(held.data(), held.size());
    const int d = f->Delay();
    if (d <= 0) continue;
    std::vector<uint8_t> mine(static_cast<size_t>(d) * lb);
    const int64_t n = f->Flush(mine.data(), mine.size());
    if (n < 0) return -1;
    held.insert(held.end(), mine.begin(), mine.begin() + static_cast<ptrdiff_t>(n * static_cast<int64_t>(lb)));
  }
  if (held.size() > outLength || (!held.empty() && out == nullptr)) return -1;
  if (!held.empty()) std::memcpy(out, held.data(), held.size());
  return static_cast<int64_t>(held.size() / lb);
}

void FilterChain::ProcessImage(uint8_t* pixels, size_t stride, size_t lines) {
  for (auto& f : filters_) {
    f->Process(pixels, stride * lines);
    const int delay = f->Delay();
    if (delay <= 0) continue;
    const size_t d = std::min(static_cast<size_t>(delay), lines);
    std::memmove(pixels, pixels + d * stride, (lines - d) * stride);
    f->Flush(pixels + (lines - d) * stride, d * stride);
  }
}

FilterSet PendingPointFilters(const ImageState& image) {
  FilterSet s;
  if (image.toneCurvePending) s.Add(FilterKind::ToneCurve);
  if (image.brightnessPending) s.Add(FilterKind::BrightCont);
  if (image.bwPointPending) s.Add(FilterKind::BWPoint);
  return s;
}

FilterSet DetailPreviewFilters(const FilterSettings& settings) {
  FilterSet s;
  if (settings.noise.preview) s.Add(FilterKind::NoiseRemoval);
  if (settings.sharpen.preview) s.Add(FilterKind::Sharpen);
  return s;
}

bool ThresholdsOnTheWay(const ImageState& first, const ImageState& version) {
  return (first.state == VS_NORMAL && (version.thresholdPending || version.linesOneBytePerPixel)) ||
         version.kind == IK_BW_SAVED_AS_4;
}


bool LinesApart(const FilterChain& chain, int32_t kind) {
  if (chain.Empty() || kind == IK_PALETTE256 || kind == IK_PALETTE16) return false;
  for (FilterKind k : chain.Kinds()) {
    switch (k) {
      case FilterKind::Mirror:
      case FilterKind::ToneCurve:
      case FilterKind::BrightCont:
      case FilterKind::BWPoint:
      case FilterKind::Invert:
        break;
      case FilterKind::NoiseRemoval:
      case FilterKind::Sharpen:
      case FilterKind::Threshold:
      case FilterKind::Despeckle:
        return false;
    }
  }
  return true;
}

void ProcessInParts(FilterChain& chain, WorkerPool* pool, uint8_t* lines, size_t count, size_t lineBytes) {
  // Below this a part costs less than waking a thread for it.
  constexpr size_t kMinPartBytes = size_t{128} << 10;
  const size_t parts = pool ? std::min<size_t>({pool->Size(), count, count * lineBytes / kMinPartBytes}) : 1;
  if (parts < 2) {
    chain.Process(lines, count * lineBytes);
    return;
  }
  pool->Run(static_cast<unsigned>(parts), [&](unsigned p) {
    const size_t from = count * p / parts, to = count * (p + 1) / parts;
    chain.Process(lines + from * lineBytes, (to - from) * lineBytes);
  });
}

}  // namespace orb
