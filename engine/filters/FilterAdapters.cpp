// The adapters of the line-filter contract over each filter's trio (and the sharpen class).
// Each adapter owns its settings snapshot and its state: init runs in the constructor
// against the snapshot, free in the destructor, so no pass can forget a free step or keep
// reading a record that a page changes meanwhile.
#include <algorithm>

#include "engine/ImageState.h"
#include "engine/filters/BWPoint.h"
#include "engine/filters/BWThreshold.h"
#include "engine/filters/BrightCont.h"
#include "engine/filters/FilterChain.h"
#include "engine/filters/Invert.h"
#include "engine/filters/Mirror.h"
#include "engine/filters/NoiseRemoval.h"
#include "engine/filters/Sharpen.h"
#include "engine/filters/SpotRemoval.h"
#include "engine/filters/ToneCurve.h"

namespace orb {
namespace {

bool IsPaletteKind(int32_t kind) { return kind == IK_PALETTE256 || kind == IK_PALETTE16; }
bool IsGreyKind(int32_t kind) { return kind == IK_GREY || kind == IK_GREY_FROM_GREEN; }

// The same table for the three channels.
ByteMaps AllChannels(const uint8_t* table) {
  ByteMaps maps;
  for (auto& m : maps) std::copy(table, table + 256, m.begin());
  return maps;
}

// Settings snapshot and state of a trio; `ok` tells whether init succeeded.
template <class Record, class State>
struct TrioHolder {
  Record settings;
  State state;
  bool ok = false;
  explicit TrioHolder(const Record& r) : settings(r) {}
};

class BrightContFilter final : public LineFilter {
 public:
  BrightContFilter(const BrightContRecord& r, const FilterTarget& t) : h_(r) {
    h_.ok = BrightContInit(&h_.state, &h_.settings, t.kind, t.palette) != nullptr;
  }
  ~BrightContFilter() override { BrightContFree(&h_.state); }
  bool ok() const { return h_.ok; }
  void Process(uint8_t* band, size_t length) override { BrightContRows(&h_.state, band, length); }
  bool Maps(ByteMaps& maps) const override {
    if (!h_.ok || !(h_.state.kind == IK_RGB || IsGreyKind(h_.state.kind))) return false;
    maps = AllChannels(h_.state.lut);
    return true;
  }
  bool ApplyToPalette() override {
    if (!IsPaletteKind(h_.state.kind)) return false;
    BrightContRows(&h_.state, nullptr, 0);
    return true;
  }

 private:
  TrioHolder<BrightContRecord, BrightContState> h_;
};

class BWPointFilter final : public LineFilter {
 public:
  BWPointFilter(const BWPointRecord& r, const FilterTarget& t) : h_(r) {
    h_.ok = BWPointInit(&h_.state, &h_.settings, t.kind, t.palette) != nullptr;
  }
  bool ok() const { return h_.ok; }
  void Process(uint8_t* band, size_t length) override { BWPointRows(&h_.state, band, length); }
  // Grey only: a colour pixel is whitened or blackened by the mean of its three bytes.
  bool Maps(ByteMaps& maps) const override {
    if (!h_.ok || !IsGreyKind(h_.state.kind)) return false;
    // The identity through the filter itself: its table.
    uint8_t table[256];
    for (int v = 0; v < 256; ++v) table[v] = static_cast<uint8_t>(v);
    BWPointState state = h_.state;
    BWPointRows(&state, table, sizeof table);
    maps = AllChannels(table);
    return true;
  }
  bool ApplyToPalette() override {
    if (!IsPaletteKind(h_.state.kind)) return false;
    BWPointRows(&h_.state, nullptr, 0);
    return true;
  }

 private:
  TrioHolder<BWPointRecord, BWPointState> h_;
};

class ToneCurveFilter final : public LineFilter {
 public:
  // The tables are sampled into the snapshot: the process-wide record is not written.
  ToneCurveFilter(const GammaRecord& r, const FilterTarget& t) : h_(r) {
    h_.ok = BuildToneCurveTables(&h_.state, &h_.settings, t.kind, t.palette) != nullptr;
  }
  bool ok() const { return h_.ok; }
  void Process(uint8_t* band, size_t length) override { ApplyToneCurveRow(&h_.state, band, length); }
  bool Maps(ByteMaps& maps) const override {
    if (!h_.ok || h_.state.red == nullptr) return false;
    if (IsGreyKind(h_.state.kind)) {
      maps = AllChannels(h_.settings.tables[0].data());
      return true;
    }
    if (h_.state.kind != IK_RGB) return false;
    const uint8_t* tables[3] = {h_.state.red, h_.state.green, h_.state.blue};
    for (size_t c = 0; c < 3; ++c) std::copy(tables[c], tables[c] + 256, maps[c].begin());
    return true;
  }
  bool ApplyToPalette() override {
    if (!IsPaletteKind(h_.state.kind)) return false;
    ApplyToneCurveRow(&h_.state, nullptr, 0);
    return true;
  }

 private:
  TrioHolder<GammaRecord, ToneCurveState> h_;
};

class InvertFilter final : public LineFilter {
 public:
  InvertFilter(const FilterTarget& t) : kind_(t.kind), palette_(t.palette) { InvertInit(&state_); }
  ~InvertFilter() override { InvertFree(&state_); }
  void Process(uint8_t* band, size_t length) override { InvertRow(band, length); }
  bool Maps(ByteMaps& maps) const override {
    if (!(kind_ == IK_RGB || IsGreyKind(kind_))) return false;
    uint8_t table[256];
    for (int v = 0; v < 256; ++v) table[v] = static_cast<uint8_t>(v);
    InvertRow(table, sizeof table);
    maps = AllChannels(table);
    return true;
  }
  // Palette lines hold indexes: inverting them would pick unrelated colours, so a palette
  // image inverts its colours instead.
  bool ApplyToPalette() override {
    if (!IsPaletteKind(kind_) || palette_ == nullptr) return false;
    for (int i = 0; i < 256; ++i) {
      PaletteEntry& e = palette_[i];
      e.red = static_cast<uint16_t>(255 - std::min<uint16_t>(e.red, 255));
      e.green = static_cast<uint16_t>(255 - std::min<uint16_t>(e.green, 255));
      e.blue = static_cast<uint16_t>(255 - std::min<uint16_t>(e.blue, 255));
    }
    return true;
  }

 private:
  InvertState state_;
  int32_t kind_;
  PaletteEntry* palette_;
};

class MirrorFilter final : public LineFilter {
 public:
  MirrorFilter(const FilterTarget& t) : lineBytes_(t.lineBytes) { MirrorInit(&state_, t.kind); }
  ~MirrorFilter() override { MirrorFree(&state_); }
  void Process(uint8_t* band, size_t length) override { MirrorRows(&state_, band, length, lineBytes_); }
  bool Mirrors() const override { return state_.kind == IK_RGB || IsGreyKind(state_.kind); }

 private:
  MirrorState state_;
  size_t lineBytes_;
};

class NoiseRemovalFilter final : public LineFilter {
 public:
  NoiseRemovalFilter(const DescreenRecord& r, const FilterTarget& t) : h_(r) {
    h_.ok = NoiseRemovalInit(&h_.state, &h_.settings, t.kind, t.lineBytes) != nullptr;
  }
  ~NoiseRemovalFilter() override { NoiseRemovalFree(&h_.state); }
  bool ok() const { return h_.ok; }
  void Process(uint8_t* band, size_t length) override { NoiseRemovalRows(&h_.state, band, length); }
  int Delay() const override { return NoiseRemovalDelay(&h_.state); }
  int64_t Flush(uint8_t* out, size_t n) override { return NoiseRemovalFlush(&h_.state, out, n); }

 private:
  TrioHolder<DescreenRecord, NoiseRemovalState> h_;
};

class SharpenFilter final : public LineFilter {
 public:
  SharpenFilter(const SharpenRecord& r, const FilterTarget& t)
      : settings_(r), filter_(t.lineBytes, &settings_, t.kind) {}
  ~SharpenFilter() override { filter_.Free(); }
  bool ok() const { return filter_.ok(); }
  void Process(uint8_t* band, size_t length) override { filter_.Process(band, length); }
  int Delay() const override { return filter_.Delay(); }
  int64_t Flush(uint8_t* out, size_t n) override { return filter_.Flush(out, n); }

 private:
  SharpenRecord settings_;  // before the filter: it is made from it
  CSharpenLineFilter filter_;
};

class ThresholdFilter final : public LineFilter {
 public:
  ThresholdFilter(const BWThresholdRecord& r, const FilterTarget& t) : h_(r), width_(std::max<size_t>(t.lineBytes, 1)) {
    const size_t capacity = t.capacity ? t.capacity : width_;
    h_.ok = BWThresholdInit(&h_.state, &h_.settings, width_, capacity) != nullptr;
  }
  ~ThresholdFilter() override { BWThresholdFree(&h_.state); }
  bool ok() const { return h_.ok; }
  void Process(uint8_t* band, size_t length) override { BWThresholdRows(&h_.state, band, length, width_); }
  int Delay() const override { return BWThresholdDelay(&h_.state); }
  int64_t Flush(uint8_t* out, size_t n) override { return BWThresholdFlush(&h_.state, out, n); }

 private:
  TrioHolder<BWThresholdRecord, BWThresholdState> h_;
  size_t width_;
};

class DespeckleFilter final : public LineFilter {
 public:
  DespeckleFilter(const DespeckleRecord& r, const FilterTarget& t) : h_(r) {
    h_.ok = DespeckleInit(&h_.state, &h_.settings, t.lineBytes) != nullptr;
  }
  ~DespeckleFilter() override { DespeckleFree(&h_.state); }
  bool ok() const { return h_.ok; }
  void Process(uint8_t* band, size_t length) override { DespeckleRows(&h_.state, band, length); }
  int Delay() const override { return DespeckleDelay(&h_.state); }
  int64_t Flush(uint8_t* out, size_t n) override { return DespeckleFlush(&h_.state, out, n); }

 private:
  TrioHolder<DespeckleRecord, DespeckleState> h_;
};

// Made, or null when its init failed.
template <class F, class... Args>
std::unique_ptr<LineFilter> Made(Args&&... args) {
  auto f = std::make_unique<F>(std::forward<Args>(args)...);
  if (!f->ok()) return nullptr;
  return f;
}

}  // namespace

std::unique_ptr<LineFilter> MakeLineFilter(FilterKind kind, const FilterSettings& s,
                                           const FilterTarget& t) {
  switch (kind) {
    case FilterKind::NoiseRemoval: return Made<NoiseRemovalFilter>(s.noise, t);
    case FilterKind::Sharpen: return Made<SharpenFilter>(s.sharpen, t);
    case FilterKind::Mirror: return std::make_unique<MirrorFilter>(t);
    case FilterKind::ToneCurve: return Made<ToneCurveFilter>(s.toneCurve, t);
    case FilterKind::BrightCont: return Made<BrightContFilter>(s.brightCont, t);
    case FilterKind::BWPoint: return Made<BWPointFilter>(s.bwPoint, t);
    case FilterKind::Invert: return std::make_unique<InvertFilter>(t);
    case FilterKind::Threshold: return Made<ThresholdFilter>(s.threshold, t);
    case FilterKind::Despeckle: return Made<DespeckleFilter>(s.despeckle, t);
  }
  return nullptr;
}

}  // namespace orb
