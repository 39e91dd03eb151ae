// The join tool's writer on four colour pieces of a metre-wide 600 dpi scan (23622 pixels a
// line), joined side by side and two by two, at several lengths: the time grows with the
// length, the peak resident memory does not (a line of each piece and one output line).
//   bench_join [--benchmark_filter=...]   (ORB_BENCH_LONG=1 adds 8000 lines)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "engine/ImageState.h"
#include "engine/ReadWrite/LineWriter.h"
#include "tools/join/JoinOutput.h"

namespace {

constexpr int32_t kWidth = 23622;

orb::bench::WorkDir& Work() {
  static orb::bench::WorkDir dir("join");
  return dir;
}

// One colour piece of `lines` lines (a ramp with a seed of its own), written once.
std::string Piece(int32_t lines, int index) {
  static std::map<std::pair<int32_t, int>, std::string> made;
  const auto key = std::make_pair(lines, index);
  if (auto it = made.find(key); it != made.end()) return it->second;
  const std::string path = Work().path() + "/piece" + std::to_string(index) + "_" + std::to_string(lines) + ".tif";
  ImageState* s = orb::NewImageState();
  s->kind = IK_RGB;
  s->width = kWidth;
  s->height = lines;
  s->storedLineWidth = 3 * kWidth;
  s->bitsPerSample = 8;
  s->samplesPerPixel = 3;
  s->bitsPerPixel = 24;
  s->outputFormat = OF_RAW_RGB_LE;
  s->xDpi = s->yDpi = 600;
  s->fileHandle = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  LineWriter w(s);
  StartImageOutput(&w);
  OpenWriteStream(&w);
  std::vector<uint8_t> line(static_cast<size_t>(kWidth) * 3);
  for (int32_t y = 0; y < lines; ++y) {
    for (int32_t x = 0; x < kWidth; ++x) {
      uint8_t* p = line.data() + static_cast<size_t>(x) * 3;
      p[0] = static_cast<uint8_t>(x + index * 50);
      p[1] = static_cast<uint8_t>(y);
      p[2] = static_cast<uint8_t>((x ^ y) + index);
    }
    WriteLines(&w, line.data(), static_cast<int64_t>(line.size()));
  }
  CloseWriteStream(&w);
  ::close(s->fileHandle);
  s->fileHandle = -1;
  orb::FreeImageChain(s);
  made[key] = path;
  return path;
}

long PeakRssKb() {
  std::ifstream in("/proc/self/status");
  std::string k;
  long v = 0;
  while (in >> k) {
    if (k == "VmHWM:") {
      in >> v;
      return v;
    }
  }
  return 0;
}
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

void Join(benchmark::State& state, int columns) {
  const auto lines = static_cast<int32_t>(state.range(0));
  std::vector<std::string> pieces;
  for (int i = 0; i < 4; ++i) pieces.push_back(Piece(lines, i));
  const std::string out = Work().path() + "/joined.tif";
  long peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    orb::join::JoinModel model;
    model.MakeCanvas(orb::JoinImagesRecord{});
    model.SetMode(orb::join::kModeFree);
    for (const std::string& p : pieces) model.AddItem(p);
    const int rows = 4 / columns;
    model.canvas.width = columns * kWidth;
    model.canvas.height = rows * lines;
    for (int i = 0; i < 4; ++i) {
      const int32_t left = (i % columns) * kWidth;
      const int32_t top = (i / columns) * lines;
      model.items[static_cast<size_t>(i)].rect = orb::Rect{left, top, left + kWidth, top + lines};
    }
    orb::join::JoinOptions options;
    options.outputPath = out;
    ResetPeak();
    state.ResumeTiming();
    const orb::join::JoinReport r = orb::join::WriteJoinedImage(model, options, nullptr);
    if (r.result != orb::join::JoinResult::Written) state.SkipWithError("join failed");
    peak = std::max(peak, PeakRssKb());
  }
  state.counters["peak_MB"] = static_cast<double>(peak) / 1024.0;
  state.SetBytesProcessed(state.iterations() * 4 * static_cast<int64_t>(kWidth) * 3 * lines);
}

void BM_JoinSideBySide(benchmark::State& s) { Join(s, 4); }
void BM_JoinTwoByTwo(benchmark::State& s) { Join(s, 2); }

void Lengths(benchmark::internal::Benchmark* b) {
  b->Arg(1000)->Arg(4000);
  if (std::getenv("ORB_BENCH_LONG")) b->Arg(8000);
  b->Unit(benchmark::kMillisecond)->Iterations(2);
}

BENCHMARK(BM_JoinSideBySide)->Apply(Lengths);
BENCHMARK(BM_JoinTwoByTwo)->Apply(Lengths);

}  // namespace
