// The streaming Lanczos-3 resampler on full scanner-width lines.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "engine/resample/Resampler.h"

namespace {

std::vector<unsigned char> NoiseLines(size_t bytes, int lines) {
  std::vector<unsigned char> v(bytes * lines);
  std::mt19937 rng(1);
  for (auto& b : v) b = static_cast<unsigned char>(rng());
  return v;
}

// args: line width in pixels, bytes per pixel, threads (0 = automatic), scale x 100
void BM_ResampleLines(benchmark::State& state) {
  const int32_t width = static_cast<int32_t>(state.range(0));
  const int32_t ch = static_cast<int32_t>(state.range(1));
  const double scale = state.range(3) / 100.0;
  const int kLines = 64;
  const auto src = NoiseLines(static_cast<size_t>(width) * ch, kLines);
  int64_t lines = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ResamplerState st;
    ResamplerInit(&st);
    ResamplerSetScale(&st, scale, scale);
    ResamplerSetSizes(&st, 1 << 20, ch, width);
    orb::ResamplerSetThreads(&st, static_cast<int32_t>(state.range(2)));
    if (!ResamplerPrepare(&st)) {
      state.SkipWithError("prepare failed");
      break;
    }
    state.ResumeTiming();
    for (int i = 0; i < 4; ++i)
      for (int y = 0; y < kLines; ++y) {
        unsigned char* out = nullptr;
        int32_t bytes = 0, count = 0;
        ResamplerProcessRows(&st, src.data() + static_cast<size_t>(y) * width * ch, &out, &bytes, &count);
        benchmark::DoNotOptimize(out);
        ++lines;
      }
    state.PauseTiming();
    ResamplerFree(&st);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(lines);
  state.SetBytesProcessed(lines * width * ch);
}

void BM_ResamplerPrepare(benchmark::State& state) {
  for (auto _ : state) {
    ResamplerState st;
    ResamplerInit(&st);
    ResamplerSetScale(&st, 0.5, 0.5);
    ResamplerSetSizes(&st, 8000, 3, 23622);
    orb::ResamplerSetThreads(&st, 1);
    benchmark::DoNotOptimize(ResamplerPrepare(&st));
    ResamplerFree(&st);
  }
}

}  // namespace

BENCHMARK(BM_ResampleLines)
    ->ArgNames({"width", "ch", "threads", "scale%"})
    ->Args({23622, 3, 1, 50})
    ->Args({23622, 3, 0, 50})
    ->Args({23622, 1, 1, 50})
    ->Args({23622, 1, 0, 50})
    ->Args({23622, 3, 0, 100})
    ->Args({23622, 1, 0, 33})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ResamplerPrepare)->Unit(benchmark::kMillisecond);
