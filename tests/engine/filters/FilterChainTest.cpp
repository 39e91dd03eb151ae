#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "engine/ImageState.h"
#include "engine/filters/BWThreshold.h"
#include "engine/filters/FilterChain.h"

namespace {

using orb::BuildFilterChain;
using orb::ChainPurpose;
using orb::FilterChain;
using orb::FilterKind;
using orb::FilterSet;
using orb::FilterSettings;
using orb::FilterTarget;
using K = FilterKind;

const FilterSet kAll{K::NoiseRemoval, K::Sharpen,    K::Mirror,    K::ToneCurve, K::BrightCont,
                     K::BWPoint,      K::Invert,     K::Threshold, K::Despeckle};

// A filter that only says it was called.
struct Recording final : orb::LineFilter {
  explicit Recording(std::vector<K>* log, K k) : log_(log), k_(k) {}
  void Process(uint8_t*, size_t) override { log_->push_back(k_); }
  std::vector<K>* log_;
  K k_;
};

TEST(FilterChainBuilder, EachPurposeRunsItsFiltersInItsFixedOrder) {
  struct Case {
    ChainPurpose purpose;
    std::vector<K> order;
  };
  // The orders as the passes are described: the in-scan chain (noise removal, sharpen,
  // mirror, tone curve, brightness/contrast, black/white point, invert, then threshold and
  // despeckle), a save's pending filters, the previews.
  const Case cases[] = {
      {ChainPurpose::ScanTone,
       {K::NoiseRemoval, K::Sharpen, K::Mirror, K::ToneCurve, K::BrightCont, K::BWPoint, K::Invert}},
      {ChainPurpose::ScanBilevel, {K::Threshold, K::Despeckle}},
      {ChainPurpose::Save, {K::Threshold, K::ToneCurve, K::BrightCont, K::BWPoint}},
      {ChainPurpose::PointPreview, {K::ToneCurve, K::BrightCont, K::BWPoint, K::Invert}},
      {ChainPurpose::DetailPreview, {K::NoiseRemoval, K::Sharpen}},
      {ChainPurpose::Tool,
       {K::NoiseRemoval, K::Sharpen, K::Mirror, K::ToneCurve, K::BrightCont, K::BWPoint, K::Invert,
        K::Threshold, K::Despeckle}},
  };
  for (const Case& c : cases) {
    std::vector<K> log;
    FilterChain chain = BuildFilterChain(c.purpose, kAll, FilterSettings{}, FilterTarget{IK_GREY, 4},
                                         [&](K k) { return std::make_unique<Recording>(&log, k); });
    uint8_t band[4] = {};
    chain.Process(band, sizeof band);
    EXPECT_EQ(log, c.order) << static_cast<int>(c.purpose);
    EXPECT_EQ(std::vector<K>(chain.Kinds().begin(), chain.Kinds().end()), c.order);
  }
}

TEST(FilterChainBuilder, OnlyTheFiltersSwitchedOnAreMadeAndOneThatCannotBeMadeIsLeftOut) {
  std::vector<K> log;
  FilterChain chain =
      BuildFilterChain(ChainPurpose::ScanTone, FilterSet{K::Invert, K::Mirror, K::Sharpen}, FilterSettings{},
                       FilterTarget{IK_GREY, 4}, [&](K k) -> std::unique_ptr<orb::LineFilter> {
                         if (k == K::Mirror) return nullptr;  // e.g. its buffers could not be had
                         return std::make_unique<Recording>(&log, k);
                       });
  uint8_t band[4] = {};
  chain.Process(band, sizeof band);
  EXPECT_EQ(log, (std::vector<K>{K::Sharpen, K::Invert}));
  EXPECT_TRUE(BuildFilterChain(ChainPurpose::Save, FilterSet{}, FilterSettings{}, {IK_GREY, 4}).Empty());
}

// A filter gets its settings when it is made: what changes afterwards does not reach it.
TEST(FilterChainBuilder, SettingsAreASnapshotTakenWhenTheChainIsMade) {
  FilterSettings fs;
  fs.bwPoint.White = 200;
  fs.bwPoint.Black = 50;
  const auto saved = BWPointSettings;
  BWPointSettings = fs.bwPoint;
  FilterChain chain = BuildFilterChain(ChainPurpose::PointPreview, FilterSet{K::BWPoint},
                                       FilterSettings::Current(), FilterTarget{IK_GREY, 4});
  fs.bwPoint.White = 100;          // the copy the chain was made from
  BWPointSettings.White = 100;     // and the process-wide record a page edits
  BWPointSettings.Black = 180;
  std::vector<uint8_t> band{150, 201, 49, 200};
  chain.Process(band.data(), band.size());
  BWPointSettings = saved;
  // White 200, Black 50: above 200 white, below 50 black, the rest unchanged.
  EXPECT_EQ(band, (std::vector<uint8_t>{150, 255, 0, 200}));
}

TEST(FilterChainBuilder, ToneCurveTablesAreSampledIntoTheSnapshotNotTheProcessWideRecord) {
  const auto saved = GammaSettings;
  GammaSettings = ToneCurveDefaults;
  GammaSettings.curves[0] = {{{0, 255}, {86, 170}, {172, 86}, {255, 0}}};  // falling
  const auto before = GammaSettings.tables;
  FilterChain chain = BuildFilterChain(ChainPurpose::PointPreview, FilterSet{K::ToneCurve},
                                       FilterSettings::Current(), FilterTarget{IK_GREY, 2});
  EXPECT_EQ(GammaSettings.tables, before);
  std::vector<uint8_t> band{0, 255};
  chain.Process(band.data(), band.size());
  GammaSettings = saved;
  EXPECT_GT(band[0], 200);  // the falling curve, sampled into the chain's own copy
  EXPECT_LT(band[1], 60);
}

// Lines whose every pixel is its line number plus ten: a 3 x 3 median and a level-0
// sharpen give their inner pixels back unchanged, each one line late (the edge pixels
// follow each filter's own rule).
std::vector<uint8_t> Stripes(size_t width, size_t lines) {
  std::vector<uint8_t> v(width * lines);
  for (size_t y = 0; y < lines; ++y)
    for (size_t x = 0; x < width; ++x) v[y * width + x] = static_cast<uint8_t>(10 + y);
  return v;
}

// The pixels of each line but its first and last.
std::vector<uint8_t> Inner(const std::vector<uint8_t>& v, size_t width) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < v.size(); ++i)
    if (i % width != 0 && i % width != width - 1) out.push_back(v[i]);
  return out;
}

TEST(FilterChainBuilder, DelayedFiltersGiveOneLineOutPerLineInAfterTheirFlush) {
  constexpr size_t W = 6, H = 9;
  FilterSettings fs;
  fs.noise.Level = 1;    // 3 x 3: one line late
  fs.sharpen.Level = 0;  // one line late
  for (size_t band : {size_t{1}, size_t{4}, H}) {
    FilterChain chain = BuildFilterChain(ChainPurpose::DetailPreview, FilterSet{K::NoiseRemoval, K::Sharpen},
                                         fs, FilterTarget{IK_GREY, W});
    ASSERT_EQ(chain.Delay(), 2);
    const std::vector<uint8_t> in = Stripes(W, H);
    std::vector<uint8_t> work = in, out;
    for (size_t y = 0; y < H; y += band) {
      const size_t n = std::min(band, H - y);
      chain.Process(work.data() + y * W, n * W);
    }
    out.assign(work.begin() + 2 * W, work.end());  // the first two lines carry nothing yet
    std::vector<uint8_t> tail(2 * W);
    ASSERT_EQ(chain.Flush(tail.data(), tail.size()), 2);
    out.insert(out.end(), tail.begin(), tail.end());
    ASSERT_EQ(out.size(), in.size()) << "bands of " << band;
    EXPECT_EQ(Inner(out, W), Inner(in, W)) << "bands of " << band;
  }
}

TEST(FilterChainBuilder, AWholeImageKeepsEveryLineInItsPlace) {
  constexpr size_t W = 5, H = 7;
  FilterSettings fs;
  fs.noise.Level = 1;
  fs.sharpen.Level = 0;
  FilterChain chain = BuildFilterChain(ChainPurpose::DetailPreview, FilterSet{K::NoiseRemoval, K::Sharpen}, fs,
                                       FilterTarget{IK_GREY, W});
  std::vector<uint8_t> img = Stripes(W, H);
  chain.ProcessImage(img.data(), W, H);
  EXPECT_EQ(Inner(img, W), Inner(Stripes(W, H), W));
}

TEST(FilterChainBuilder, FlushIntoTooSmallABufferFails) {
  FilterSettings fs;
  fs.sharpen.Level = 0;
  FilterChain chain = BuildFilterChain(ChainPurpose::DetailPreview, FilterSet{K::Sharpen}, fs, {IK_GREY, 4});
  std::vector<uint8_t> band(8, 100);
  chain.Process(band.data(), band.size());
  uint8_t small[3];
  EXPECT_EQ(chain.Flush(small, sizeof small), -1);
}

TEST(FilterChainBuilder, PaletteKindsRemapThePaletteOnceAndInvertItsColours) {
  std::array<PaletteEntry, 256> pal{};
  for (size_t i = 0; i < pal.size(); ++i) {
    const auto v = static_cast<uint16_t>(i);
    pal[i] = PaletteEntry{v, v, v};
  }
  FilterSettings fs;
  fs.brightCont.Brightness = 100;  // contrast 0: 0 becomes 254, everything from 1 up 255
  FilterChain chain = BuildFilterChain(ChainPurpose::PointPreview, FilterSet{K::BrightCont, K::Invert}, fs,
                                       FilterTarget{IK_PALETTE256, 8, pal.data()});
  chain.ApplyToPalette();
  EXPECT_EQ(pal[0].red, 255 - 254);
  EXPECT_EQ(pal[1].green, 0);
  EXPECT_EQ(pal[200].blue, 0);
  // Not a palette kind: the palette is left alone.
  std::array<PaletteEntry, 256> grey = pal;
  BuildFilterChain(ChainPurpose::PointPreview, FilterSet{K::Invert}, fs, FilterTarget{IK_GREY, 8, grey.data()})
      .ApplyToPalette();
  EXPECT_EQ(grey[0].red, pal[0].red);
}

TEST(ThresholdPriming, LinesReadAheadByType) {
  struct Case {
    int32_t type, window;
    uint8_t hybrid;
    int lines;
  };
  // Adaptive: the window size / 2; error diffusion with the hybrid: / 4; else none.
  const Case cases[] = {{1, 25, 0, 12}, {1, 20, 0, 10}, {2, 25, 1, 6}, {2, 25, 0, 0},
                        {0, 25, 1, 0},  {1, -4, 0, 0}};
  for (const Case& c : cases) {
    orb::BWThresholdRecord r;
    r.ThresholdingType = c.type;
    r.AdaptiveWindowSize = c.window;
    r.DiffusionHybrid = c.hybrid;
    EXPECT_EQ(orb::ThresholdPrimingLines(r), c.lines) << c.type << "/" << c.window;
    FilterSettings fs;
    fs.threshold = r;
    EXPECT_EQ(BuildFilterChain(ChainPurpose::Save, FilterSet{K::Threshold}, fs, {IK_BW, 30}).PrimingLines(),
              c.lines);
  }
}

TEST(ThresholdOnTheWay, ScannedGreyBilevelAndKindTenVersions) {
  struct Case {
    uint32_t firstState;
    uint8_t pending, oneByte;
    uint16_t kind;
    bool on;
  };
  const Case cases[] = {{0, 1, 0, IK_BW, true},  {0, 0, 1, IK_BW, true},  {0, 0, 0, IK_BW, false},
                        {1, 1, 1, IK_BW, false}, {1, 0, 0, IK_BW_SAVED_AS_4, true}};
  for (const Case& c : cases) {
    ImageState first, version;
    first.state = static_cast<VersionState>(c.firstState);
    version.thresholdPending = c.pending;
    version.linesOneBytePerPixel = c.oneByte;
    version.kind = static_cast<ImageKind>(c.kind);
    EXPECT_EQ(orb::ThresholdsOnTheWay(first, version), c.on);
  }
}

}  // namespace

namespace {

// Settings under which every point filter changes something, the three colour channels
// each their own way.
FilterSettings EveryPointFilterChanges() {
  FilterSettings fs;
  fs.toneCurve = ToneCurveDefaults;
  fs.toneCurve.Channel = 1;
  fs.toneCurve.curves[1] = {{{0, 255}, {86, 170}, {172, 86}, {255, 0}}};  // red falls
  fs.toneCurve.curves[2] = {{{0, 40}, {86, 120}, {172, 200}, {255, 255}}};  // green lifted
  fs.toneCurve.curves[3] = {{{0, 0}, {128, 0}, {128, 255}, {255, 255}}};   // blue steep
  for (int v = 0; v < 256; ++v) fs.toneCurve.tables[0][static_cast<size_t>(v)] = static_cast<uint8_t>(v / 2 + 60);
  fs.brightCont.Brightness = 20;
  fs.brightCont.Contrast = -15;
  fs.bwPoint.White = 200;
  fs.bwPoint.Black = 50;
  return fs;
}

std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  for (auto& b : v) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  return v;
}

}  // namespace

// A run of point filters and the mirror goes through the lines in one pass: every subset of
// them, on colour and grey lines of odd and even widths, gives the bytes of the filters run
// one after the other.
TEST(FilterChainBuilder, FusedPointFiltersGiveTheBytesOfTheFiltersOneByOne) {
  const K point[] = {K::Mirror, K::ToneCurve, K::BrightCont, K::BWPoint, K::Invert};
  const FilterSettings fs = EveryPointFilterChanges();
  for (int32_t kind : {int32_t{IK_RGB}, int32_t{IK_GREY}, int32_t{IK_GREY_FROM_GREEN}}) {
    for (size_t width : {size_t{7}, size_t{8}, size_t{1}}) {
      const size_t lineBytes = width * (kind == IK_RGB ? 3 : 1);
      const FilterTarget target{kind, lineBytes};
      for (unsigned bits = 1; bits < 32; ++bits) {
        FilterSet on;
        for (unsigned b = 0; b < 5; ++b)
          if (bits & (1u << b)) on.Add(point[b]);
        const std::vector<uint8_t> lines = Noise(lineBytes * 5, bits * 31 + static_cast<uint32_t>(width));
        std::vector<uint8_t> oneByOne = lines;
        for (K k : orb::ChainOrder(ChainPurpose::ScanTone)) {
          if (!on.Has(k)) continue;
          auto f = orb::MakeLineFilter(k, fs, target);
          ASSERT_NE(f, nullptr);
          f->Process(oneByOne.data(), oneByOne.size());
        }
        FilterChain chain = BuildFilterChain(ChainPurpose::ScanTone, on, fs, target);
        std::vector<uint8_t> got = lines;
        chain.Process(got.data(), got.size());
        EXPECT_EQ(got, oneByOne) << "kind " << kind << ", width " << width << ", filters " << bits;
      }
    }
  }
}

// The same, worked out by hand: mirrored and inverted colour pixels.
TEST(FilterChainBuilder, AMirroredInvertedColourLineByHand) {
  FilterChain chain = BuildFilterChain(ChainPurpose::ScanTone, FilterSet{K::Mirror, K::Invert},
                                       FilterSettings{}, FilterTarget{IK_RGB, 9});
  std::vector<uint8_t> line{1, 2, 3, 4, 5, 6, 7, 8, 9};
  chain.Process(line.data(), line.size());
  EXPECT_EQ(line, (std::vector<uint8_t>{248, 247, 246, 251, 250, 249, 254, 253, 252}));
}
