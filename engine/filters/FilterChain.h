// The chain builder: the only place where chains of line filters are made. A caller says
// what the chain is for (its purpose fixes the order), which filters are on, the settings
// records to take them from and what the filters work on; the builder makes each filter
// through its adapter over the filter's trio and returns the chain, which owns them.
//
//   FilterChain tone = BuildFilterChain(ChainPurpose::ScanTone, plan.filters,
//                                       FilterSettings::Current(), {kind, lineBytes});
//   tone.Process(block, length);        // every filter in order, in place
//
// A filter that cannot be made (its buffers could not be allocated) is left out, as the
// passes always did: the lines then go through the others unchanged by it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "engine/ToolSettings.h"
#include "engine/filters/LineFilter.h"

struct ImageState;
struct PaletteEntry;

namespace orb {

class WorkerPool;

enum class FilterKind : uint8_t {
  NoiseRemoval,
  Sharpen,
  Mirror,
  ToneCurve,
  BrightCont,
  BWPoint,
  Invert,
  Threshold,
  Despeckle,
};

// Which filters are on.
class FilterSet {
 public:
  constexpr FilterSet() = default;
  constexpr FilterSet(std::initializer_list<FilterKind> kinds) {
    for (FilterKind k : kinds) Add(k);
  }
  constexpr FilterSet& Add(FilterKind k) {
    bits_ |= Bit(k);
    return *this;
  }
  constexpr bool Has(FilterKind k) const { return (bits_ & Bit(k)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr bool operator==(const FilterSet&) const = default;

 private:
  static constexpr uint32_t Bit(FilterKind k) { return 1u << static_cast<unsigned>(k); }
  uint32_t bits_ = 0;
};

// What a chain is for. Each purpose has its fixed order; filters outside it are not made.
enum class ChainPurpose {
  ScanTone,       // in a scan, before the working copy: noise removal, sharpen, mirror,
                  // tone curve, brightness/contrast, black/white point, invert
  ScanBilevel,    // in a scan, after the working copy: threshold, despeckle
  Save,           // the pending filters of a save (and the bilevel display's converter):
                  // threshold, tone curve, brightness/contrast, black/white point
  PointPreview,   // the display's point previews, and a palette scan's palette at start:
                  // tone curve, brightness/contrast, black/white point, invert
  DetailPreview,  // the display's neighbourhood previews: noise removal, sharpen
  Tool,           // one tool's pass (apply pipeline, batch): every filter, in-scan order
};

// The records the filters are made from. Copied when a chain is built: each filter keeps
// its own snapshot, so later changes of these (or of the process-wide records) do not
// reach a pass that runs.
struct FilterSettings {
  DescreenRecord noise;
  SharpenRecord sharpen;
  MirrorRecord mirror;
  GammaRecord toneCurve;
  BrightContRecord brightCont;
  BWPointRecord bwPoint;
  InvertRecord invert;
  BWThresholdRecord threshold;
  DespeckleRecord despeckle;
  // The process-wide records as they are now.
  static FilterSettings Current();
};

// What the filters work on.
struct FilterTarget {
  int32_t kind = 0;        // ImageKind of the lines
  size_t lineBytes = 0;    // bytes of one line (the pixel count for one-byte kinds)
  // The palette the point filters remap for the palette kinds (ApplyToPalette); may be null.
  PaletteEntry* palette = nullptr;
  // Largest band in bytes that Process will be given (the threshold sizes its buffers by
  // it); 0: one line.
  size_t capacity = 0;
};

// Makes a filter; tests put recording filters in place of the real ones with it. A null
// result leaves the filter out.
using FilterMaker = std::function<std::unique_ptr<LineFilter>(FilterKind)>;

class FilterChain {
 public:
  FilterChain() = default;
  FilterChain(FilterChain&&) = default;
  FilterChain& operator=(FilterChain&&) = default;

  // Every filter in order, in place on a band of whole lines. A run of two or more point
  // filters (and the mirror) on colour or grey lines goes in one fused pass, same bytes out.
  void Process(uint8_t* band, size_t length);
  // Palette kinds: each filter remaps the palette once.
  void ApplyToPalette();
  // Lines from a line going in to its result coming out of the last filter.
  int Delay() const;
  // After the last band: the lines the chain still holds (Delay() at most), each through
  // the filters after the one that held it. Lines written, -1 when out is too small.
  int64_t Flush(uint8_t* out, size_t outLength);
  // A whole image held in memory (`lines` lines of `stride` bytes, the line width the chain
  // was made for): each filter in turn over all of it, its output moved back so that every
  // line keeps its place.
  void ProcessImage(uint8_t* pixels, size_t stride, size_t lines);
  // Lines a save or a bilevel display reads and passes through the chain before its first
  // output line: the converter's start-up lag (ThresholdPrimingLines), 0 without one.
  int PrimingLines() const { return priming_; }

  bool Empty() const { return filters_.empty(); }
  size_t Size() const { return filters_.size(); }
  std::span<const FilterKind> Kinds() const { return kinds_; }

 private:
  friend FilterChain BuildFilterChain(ChainPurpose, FilterSet, const FilterSettings&,
                                      const FilterTarget&, const FilterMaker&);
  // What Process runs: each filter, or a fused pass in place of a run of point filters.
  struct Step {
    LineFilter* filter = nullptr;
    const FusedPointPass* fused = nullptr;
  };
  void FuseSteps(const FilterTarget& target);

  std::vector<std::unique_ptr<LineFilter>> filters_;
  std::vector<FilterKind> kinds_;
  std::vector<std::unique_ptr<FusedPointPass>> fused_;
  std::vector<Step> steps_;
  size_t lineBytes_ = 0;
  int priming_ = 0;
};

FilterChain BuildFilterChain(ChainPurpose purpose, FilterSet on, const FilterSettings& settings,
                             const FilterTarget& target, const FilterMaker& maker = {});

// True when a band may go through `chain` in parts on several threads with the same bytes
// coming out: the point filters and the mirror work on each line by itself and change
// nothing of their own while they do (their tables are made with them). On a palette image
// the point filters remap the palette instead, so those stay on one thread.
bool LinesApart(const FilterChain& chain, int32_t kind);

// `count` lines of `lineBytes` through the chain, in parts of whole lines on `pool` when there
// is one (the chain must be LinesApart) and the band is large enough to share.
void ProcessInParts(FilterChain& chain, WorkerPool* pool, uint8_t* lines, size_t count, size_t lineBytes);

// The adapter of one filter over its trio (what the builder uses); null when it cannot be
// made.
std::unique_ptr<LineFilter> MakeLineFilter(FilterKind kind, const FilterSettings& settings,
                                           const FilterTarget& target);

// The order of a purpose.
std::span<const FilterKind> ChainOrder(ChainPurpose purpose);

// ----- which filters are on ------------------------------------------------------------

// The pending point filters of an image version (tone curve, brightness/contrast,
// black/white point).
FilterSet PendingPointFilters(const ImageState& image);
// The neighbourhood previews switched on in the records.
FilterSet DetailPreviewFilters(const FilterSettings& settings);
// A black and white version whose lines hold grey is thresholded on its way out (to a file
// or the display): a scan's version with the threshold pending or its lines one byte a
// pixel, or a version kept as kind 10. `first` is the document's first version.
bool ThresholdsOnTheWay(const ImageState& first, const ImageState& version);

}  // namespace orb
