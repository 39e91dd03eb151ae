// The median-cut quantiser: histogram, palette and inverse map, and the mapping pass.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "engine/quantise/Quantise.h"

namespace {

// A band of scanner-width lines with clustered colours, as a colour drawing has.
std::vector<unsigned char> Band(int width, int lines) {
  std::vector<unsigned char> v(static_cast<size_t>(width) * lines * 3);
  std::mt19937 rng(3);
  for (size_t i = 0; i < v.size(); i += 3) {
    const unsigned k = rng() % 16;
    v[i] = static_cast<unsigned char>(k * 16 + rng() % 24);
    v[i + 1] = static_cast<unsigned char>(255 - k * 12 - rng() % 20);
    v[i + 2] = static_cast<unsigned char>((k * 37 + rng() % 30) & 255);
  }
  return v;
}

void BM_QuantiseAddPixels(benchmark::State& state) {
  const int width = 23622, lines = 64;
  const auto band = Band(width, lines);
  CQuantise q;
  for (auto _ : state) q.AddPixels(band.data(), lines, width);
  state.SetItemsProcessed(state.iterations() * width * lines);
}

void BM_QuantiseMakePalette(benchmark::State& state) {
  const int width = 23622, lines = 64;
  const auto band = Band(width, lines);
  std::vector<unsigned char> map(65536), pal(768);
  std::vector<int> usage(256);
  for (auto _ : state) {
    state.PauseTiming();
    CQuantise q;
    q.AddPixels(band.data(), lines, width);
    state.ResumeTiming();
    int count = 0;
    benchmark::DoNotOptimize(q.MakePalette(static_cast<int>(state.range(0)), &count, map.data(), pal.data(), usage.data()));
  }
}

void BM_QuantiseMapPixels(benchmark::State& state) {
  const int width = 23622, lines = 64;
  const auto band = Band(width, lines);
  CQuantise q;
  q.AddPixels(band.data(), lines, width);
  std::vector<unsigned char> map(65536), pal(768), out(static_cast<size_t>(width) * lines);
  int count = 0;
  q.MakePalette(256, &count, map.data(), pal.data(), nullptr);
  for (auto _ : state) {
    const unsigned char* p = band.data();
    for (size_t i = 0; i < out.size(); ++i, p += 3) out[i] = map[CQuantise::CellOf(p[0], p[1], p[2])];
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * width * lines);
}

}  // namespace

BENCHMARK(BM_QuantiseAddPixels)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuantiseMakePalette)->Arg(256)->Arg(16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_QuantiseMapPixels)->Unit(benchmark::kMillisecond);
