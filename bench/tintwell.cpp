// The colour-classification control's palette builder: counting pixels, the median cut
// with its inverse map, and mapping pixels through the table.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "color_control/MedianCutQuantizer.h"

namespace {

// A band of scanner-width lines: paper, lines and coloured areas with sensor noise.
std::vector<uint8_t> Band(int width, int lines) {
  std::vector<uint8_t> v(size_t(width) * lines * 3);
  std::mt19937 rng(7);
  const uint8_t inks[6][3] = {{236, 232, 220}, {40, 45, 90}, {200, 40, 40}, {50, 70, 190}, {30, 30, 30}, {90, 160, 80}};
  for (size_t i = 0; i < v.size(); i += 3) {
    const auto& c = inks[(i / 3 / 97 + rng() % 3) % 6];
    for (int k = 0; k < 3; ++k) v[i + k] = uint8_t(std::clamp<int>(c[k] + int(rng() % 17) - 8, 0, 255));
  }
  return v;
}

constexpr int kWidth = 23622, kLines = 64;

void BM_TintwellAddPixels(benchmark::State& state) {
  const auto band = Band(kWidth, kLines);
  CMedianCutQuantizer q(24);
  for (auto _ : state) q.AddPixels(band.data(), kWidth, kLines);
  state.SetItemsProcessed(state.iterations() * kWidth * kLines);
}
BENCHMARK(BM_TintwellAddPixels);

void BM_TintwellRun(benchmark::State& state) {
  const auto band = Band(kWidth, kLines);
  CMedianCutQuantizer q(24);
  q.AddPixels(band.data(), kWidth, kLines);
  std::vector<uint8_t> lut(65536), pal(768);
  std::vector<uint32_t> counts(256);
  int made = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(q.Run(int(state.range(0)), &made, lut.data(), pal.data(), counts.data()));
  }
  state.counters["colours"] = made;
}
BENCHMARK(BM_TintwellRun)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond);

void BM_TintwellMap(benchmark::State& state) {
  const auto band = Band(kWidth, kLines);
  CMedianCutQuantizer q(24);
  q.AddPixels(band.data(), kWidth, kLines);
  std::vector<uint8_t> lut(65536), pal(768), out(size_t(kWidth) * kLines);
  std::vector<uint32_t> counts(256);
  int made = 0;
  q.Run(256, &made, lut.data(), pal.data(), counts.data());
  for (auto _ : state) {
    const uint8_t* p = band.data();
    for (size_t i = 0; i < out.size(); ++i, p += 3) out[i] = lut[CMedianCutQuantizer::CellOf(p[0], p[1], p[2])];
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kLines);
}
BENCHMARK(BM_TintwellMap);

}  // namespace
