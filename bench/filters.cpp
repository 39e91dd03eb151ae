// Throughput of the streaming filters on a band of a metre-wide 600 dpi scan
// (23622 pixels, 256 lines), fed in bands of 32 lines as the scan and tool pipelines do.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <memory>
#include <vector>

#include "engine/ImageState.h"
#include "engine/filters/BWPoint.h"
#include "engine/filters/BWThreshold.h"
#include "engine/filters/FilterChain.h"
#include "engine/filters/BrightCont.h"
#include "engine/filters/SpotRemoval.h"
#include "engine/filters/Invert.h"
#include "engine/filters/Mirror.h"
#include "engine/filters/NoiseRemoval.h"
#include "engine/filters/Sharpen.h"
#include "engine/filters/ToneCurve.h"

namespace {

constexpr size_t kWidth = 23622;
constexpr size_t kLines = 256;
constexpr size_t kBandLines = 32;

// A document-like grey or RGB band: paper with noise, ruled lines, text-like strokes and
// specks.
std::vector<uint8_t> MakeBand(size_t bpp) {
  std::mt19937 rng(42);
  const size_t W = kWidth * bpp;
  std::vector<uint8_t> v(W * kLines);
  for (size_t y = 0; y < kLines; ++y) {
    for (size_t x = 0; x < kWidth; ++x) {
      int base = 235 + static_cast<int>(rng() % 16) - 8;
      if (y % 64 == 10 || x % 1500 == 7) base = 40;                             // ruled lines
      if ((y / 24) % 2 == 0 && (x / 12) % 5 == 1 && (x + y) % 7 < 2) base = 30;  // strokes
      if (rng() % 2000 == 0) base = 0;                                            // specks
      for (size_t c = 0; c < bpp; ++c)
        v[y * W + x * bpp + c] = static_cast<uint8_t>(std::clamp(base + static_cast<int>(c) * 3, 0, 255));
    }
  }
  return v;
}

const std::vector<uint8_t>& Grey() {
  static const std::vector<uint8_t> v = MakeBand(1);
  return v;
}
const std::vector<uint8_t>& Rgb() {
  static const std::vector<uint8_t> v = MakeBand(3);
  return v;
}
const std::vector<uint8_t>& Bilevel() {
  static const std::vector<uint8_t> v = [] {
    std::vector<uint8_t> b = Grey();
    for (auto& x : b) x = x < 128 ? 0 : 255;
    return b;
  }();
  return v;
}

// Runs `pass` (init, bands, flush, free over the whole band) once per iteration on a fresh
// copy of the source.
template <class Pass>
void RunPasses(benchmark::State& st, const std::vector<uint8_t>& src, Pass pass) {
  std::vector<uint8_t> work(src.size());
  for (auto _ : st) {
    st.PauseTiming();
    std::memcpy(work.data(), src.data(), src.size());
    st.ResumeTiming();
    pass(work.data(), src.size() / kLines);
    benchmark::DoNotOptimize(work.data());
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * static_cast<int64_t>(src.size()));
}

template <class Fn>
void ForBands(uint8_t* data, size_t W, Fn fn) {
  for (size_t y = 0; y < kLines; y += kBandLines) fn(data + y * W, kBandLines * W);
}

void BM_BrightCont(benchmark::State& st, int32_t kind) {
  orb::BrightContRecord r;
  r.Brightness = 10;
  r.Contrast = 30;
  RunPasses(st, kind == IK_RGB ? Rgb() : Grey(), [&](uint8_t* d, size_t W) {
    BrightContState s;
    BrightContInit(&s, &r, kind, nullptr);
    ForBands(d, W, [&](uint8_t* b, size_t n) { BrightContRows(&s, b, n); });
    BrightContFree(&s);
  });
}

void BM_BWPoint(benchmark::State& st, int32_t kind) {
  orb::BWPointRecord r;
  r.White = 220;
  r.Black = 50;
  RunPasses(st, kind == IK_RGB ? Rgb() : Grey(), [&](uint8_t* d, size_t W) {
    BWPointState s;
    BWPointInit(&s, &r, kind, nullptr);
    ForBands(d, W, [&](uint8_t* b, size_t n) { BWPointRows(&s, b, n); });
  });
}

void BM_ToneCurve(benchmark::State& st, int32_t kind) {
  orb::GammaRecord g = ToneCurveDefaults;
  g.curves[0][1] = {86, 120};
  RunPasses(st, kind == IK_RGB ? Rgb() : Grey(), [&](uint8_t* d, size_t W) {
    ToneCurveState s;
    BuildToneCurveTables(&s, &g, kind, nullptr);
    ForBands(d, W, [&](uint8_t* b, size_t n) { ApplyToneCurveRow(&s, b, n); });
  });
}

void BM_Invert(benchmark::State& st, int32_t kind) {
  RunPasses(st, kind == IK_RGB ? Rgb() : Grey(), [&](uint8_t* d, size_t W) {
    ForBands(d, W, [&](uint8_t* b, size_t n) { InvertRow(b, n); });
  });
}

void BM_Mirror(benchmark::State& st, int32_t kind) {
  RunPasses(st, kind == IK_RGB ? Rgb() : Grey(), [&](uint8_t* d, size_t W) {
    MirrorState s;
    MirrorInit(&s, kind);
    ForBands(d, W, [&](uint8_t* b, size_t n) { MirrorRows(&s, b, n, W); });
  });
}

void BM_NoiseRemoval(benchmark::State& st, int32_t kind, int level) {
  orb::DescreenRecord r;
  r.Level = level;
  std::vector<uint8_t> tail(7 * kWidth * 3);
  RunPasses(st, kind == IK_RGB ? Rgb() : Grey(), [&](uint8_t* d, size_t W) {
    NoiseRemovalState s;
    NoiseRemovalInit(&s, &r, kind, W);
    ForBands(d, W, [&](uint8_t* b, size_t n) { NoiseRemovalRows(&s, b, n); });
    NoiseRemovalFlush(&s, tail.data(), tail.size());
    NoiseRemovalFree(&s);
  });
}

void BM_Sharpen(benchmark::State& st, int32_t kind) {
  orb::SharpenRecord r;
  r.Level = 5;
  std::vector<uint8_t> tail(kWidth * 3);
  RunPasses(st, kind == IK_RGB ? Rgb() : Grey(), [&](uint8_t* d, size_t W) {
    CSharpenLineFilter f(W, &r, kind);
    ForBands(d, W, [&](uint8_t* b, size_t n) { f.Process(b, n); });
    f.Flush(tail.data(), tail.size());
    f.Free();
  });
}

void BM_Threshold(benchmark::State& st, int type, bool hybrid) {
  orb::BWThresholdRecord r;
  r.ThresholdingType = type;
  r.DiffusionSerpentine = 1;
  r.DiffusionHybrid = hybrid;
  std::vector<uint8_t> tail(64 * kWidth);
  RunPasses(st, Grey(), [&](uint8_t* d, size_t W) {
    BWThresholdState s;
    BWThresholdInit(&s, &r, W, kBandLines * W);
    ForBands(d, W, [&](uint8_t* b, size_t n) { BWThresholdRows(&s, b, n, W); });
    BWThresholdFlush(&s, tail.data(), tail.size());
    BWThresholdFree(&s);
  });
}

// Halftone: isolated dots every other pixel on every other line, tens of thousands of runs
// and components a line.
const std::vector<uint8_t>& Halftone() {
  static const std::vector<uint8_t> v = [] {
    std::vector<uint8_t> b(kWidth * kLines, 255);
    for (size_t y = 0; y < kLines; y += 2)
      for (size_t x = (y / 2) % 2; x < kWidth; x += 2) b[y * kWidth + x] = 0;
    return b;
  }();
  return v;
}

void BM_Despeckle(benchmark::State& st, bool halftone) {
  orb::DespeckleRecord r;
  r.SpeckWidth = 5;
  std::vector<uint8_t> tail(7 * kWidth);
  RunPasses(st, halftone ? Halftone() : Bilevel(), [&](uint8_t* d, size_t W) {
    DespeckleState s;
    DespeckleInit(&s, &r, W);
    ForBands(d, W, [&](uint8_t* b, size_t n) { DespeckleRows(&s, b, n); });
    DespeckleFlush(&s, tail.data(), tail.size());
    DespeckleFree(&s);
  });
}

// The scan's whole tone chain on RGB bands: through the chain builder's contract, and wired
// by hand from the trios as the scan did before, to show what the contract costs.
orb::FilterSettings ToneChainSettings() {
  orb::FilterSettings fs;
  fs.noise.Level = 1;
  fs.sharpen.Level = 3;
  fs.toneCurve = ToneCurveDefaults;
  fs.toneCurve.curves[0][1] = {86, 120};
  fs.brightCont.Brightness = 10;
  fs.brightCont.Contrast = 30;
  fs.bwPoint.White = 220;
  fs.bwPoint.Black = 50;
  return fs;
}

void BM_ToneChain(benchmark::State& st, bool contract) {
  orb::FilterSettings fs = ToneChainSettings();
  using K = orb::FilterKind;
  const orb::FilterSet all{K::NoiseRemoval, K::Sharpen, K::Mirror, K::ToneCurve, K::BrightCont, K::BWPoint, K::Invert};
  RunPasses(st, Rgb(), [&](uint8_t* d, size_t W) {
    if (contract) {
      orb::FilterChain chain = orb::BuildFilterChain(orb::ChainPurpose::ScanTone, all, fs, {IK_RGB, W});
      ForBands(d, W, [&](uint8_t* b, size_t n) { chain.Process(b, n); });
      return;
    }
    NoiseRemovalState nr;
    NoiseRemovalInit(&nr, &fs.noise, IK_RGB, W);
    CSharpenLineFilter sh(W, &fs.sharpen, IK_RGB);
    MirrorState mi;
    MirrorInit(&mi, IK_RGB);
    ToneCurveState tc;
    BuildToneCurveTables(&tc, &fs.toneCurve, IK_RGB, nullptr);
    BrightContState bc;
    BrightContInit(&bc, &fs.brightCont, IK_RGB, nullptr);
    BWPointState bw;
    BWPointInit(&bw, &fs.bwPoint, IK_RGB, nullptr);
    ForBands(d, W, [&](uint8_t* b, size_t n) {
      NoiseRemovalRows(&nr, b, n);
      sh.Process(b, n);
      MirrorRows(&mi, b, n, W);
      ApplyToneCurveRow(&tc, b, n);
      BrightContRows(&bc, b, n);
      BWPointRows(&bw, b, n);
      InvertRow(b, n);
    });
    NoiseRemovalFree(&nr);
    sh.Free();
    BrightContFree(&bc);
  });
}

// A scan's point filters (mirror, tone curve, brightness/contrast) through the chain, which
// runs them in one fused pass, against the same filters one after the other.
void BM_ScanPointFilters(benchmark::State& st, bool fused) {
  const orb::FilterSettings fs = ToneChainSettings();
  using K = orb::FilterKind;
  const K kinds[] = {K::Mirror, K::ToneCurve, K::BrightCont};
  RunPasses(st, Rgb(), [&](uint8_t* d, size_t W) {
    const orb::FilterTarget target{IK_RGB, W};
    if (fused) {
      orb::FilterChain chain =
          orb::BuildFilterChain(orb::ChainPurpose::ScanTone, orb::FilterSet{kinds[0], kinds[1], kinds[2]}, fs, target);
      ForBands(d, W, [&](uint8_t* b, size_t n) { chain.Process(b, n); });
      return;
    }
    std::vector<std::unique_ptr<orb::LineFilter>> filters;
    for (K k : kinds) filters.push_back(orb::MakeLineFilter(k, fs, target));
    ForBands(d, W, [&](uint8_t* b, size_t n) {
      for (auto& f : filters) f->Process(b, n);
    });
  });
}

}  // namespace

BENCHMARK_CAPTURE(BM_BrightCont, grey, IK_GREY)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BrightCont, rgb, IK_RGB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BWPoint, grey, IK_GREY)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BWPoint, rgb, IK_RGB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ToneCurve, rgb, IK_RGB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Invert, rgb, IK_RGB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Mirror, rgb, IK_RGB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_NoiseRemoval, grey3, IK_GREY, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_NoiseRemoval, rgb3, IK_RGB, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_NoiseRemoval, rgb5, IK_RGB, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_NoiseRemoval, rgb7, IK_RGB, 3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Sharpen, grey, IK_GREY)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Sharpen, rgb, IK_RGB)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Threshold, fixed, 0, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Threshold, adaptive, 1, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Threshold, diffusion, 2, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Threshold, hybrid, 2, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Despeckle, document, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Despeckle, halftone, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ToneChain, trios, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ToneChain, contract, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScanPointFilters, one_by_one, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScanPointFilters, fused, true)->Unit(benchmark::kMillisecond);
