// The tools' apply pipeline on a metre-wide 600 dpi grey scan (23622 pixels a line) from
// and to uncompressed files, for brightness/contrast, sharpen and despeckle, at several
// lengths: the time grows with the length, the peak resident memory does not (the pipeline
// holds a few strips whatever the length). Compare the time per line with the filter's own
// in-memory figures of bench_filters.
//   bench_tool_apply [--benchmark_filter=...]   (ORB_BENCH_LONG=1 adds 32000 lines)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchUtil.h"
#include "engine/ImageState.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/LineWriter.h"
#include "engine/ReadWrite/TiffHeader.h"
#include "engine/ToolSettings.h"
#include "platform/imagemill/imagemill.h"
#include "tools/ApplyPipeline.h"

namespace {

namespace fs = std::filesystem;
constexpr int32_t kWidth = 23622;

// A private folder, removed with everything in it when the program ends.
fs::path Folder() { return orb::bench::WorkFolder("toolapply"); }

// A document-like grey page (paper noise, ruled lines, strokes and specks) written once per
// length through the program's own write stream.
std::string Page(int32_t lines, bool bilevel) {
  static std::map<std::pair<int32_t, bool>, std::string> made;
  auto key = std::make_pair(lines, bilevel);
  if (auto it = made.find(key); it != made.end()) return it->second;
  const std::string path = (Folder() / ((bilevel ? "bw" : "grey") + std::to_string(lines) + ".tif")).string();
  ImageState* s = orb::NewImageState();
  s->kind = bilevel ? IK_BW : IK_GREY;
  s->width = kWidth;
  s->height = lines;
  s->storedLineWidth = kWidth;
  s->bitsPerSample = 8;
  s->xDpi = s->yDpi = 600;
  s->fileHandle = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  LineWriter w(s);
  StartImageOutput(&w);
  OpenWriteStream(&w);
  std::mt19937 rng(7);
  std::vector<uint8_t> line(kWidth);
  for (int32_t y = 0; y < lines; ++y) {
    for (int32_t x = 0; x < kWidth; ++x) {
      int v = 235 + static_cast<int>(rng() % 16) - 8;
      if (y % 64 == 10 || x % 1500 == 7) v = 40;
      if ((y / 24) % 2 == 0 && (x / 12) % 5 == 1 && (x + y) % 7 < 2) v = 30;
      if (rng() % 2000 == 0) v = 0;
      line[static_cast<size_t>(x)] = bilevel ? (v < 128 ? 0 : 255) : static_cast<uint8_t>(v);
    }
    WriteLines(&w, line.data(), kWidth);
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

void Apply(benchmark::State& state, orb::tools::ApplyPlan plan, bool bilevel) {
  IM_Init();
  const auto lines = static_cast<int32_t>(state.range(0));
  const std::string in = Page(lines, bilevel);
  orb::SetTempFilesFolder(Folder().string());
  orb::FilterSettings fs = orb::FilterSettings::Current();
  fs.brightCont.Brightness = 20;
  fs.brightCont.Contrast = 30;
  fs.sharpen.Level = 5;
  fs.despeckle.SpeckWidth = 5;
  BWThresholdSettings.SoftwareThreshold = 0;
  long peakGrowth = 0;
  for (auto _ : state) {
    ImageState* image = orb::NewImageState();
    image->sourcePath = in;
    image->state = VS_OPENED;
    {
      LineReader probe(image);
      ProbeImageFile(&probe, false);
    }
    image->region = PixelRect{0, 0, image->width, image->height};
    ResetPeak();
    const long before = PeakRssKb();
    orb::tools::ApplyOutcome r = orb::tools::RunApplyPipeline(image, plan, fs);
    peakGrowth = std::max(peakGrowth, PeakRssKb() - before);
    if (r.result != orb::tools::ApplyResult::Applied) state.SkipWithError("apply failed");
    if (r.working != image) ::unlink(r.working->sourcePath.c_str());
    orb::FreeImageChain(image);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kWidth) * lines);
  state.counters["peak_growth_MB"] = static_cast<double>(peakGrowth) / 1024.0;
  state.counters["lines_per_s"] = benchmark::Counter(static_cast<double>(lines) * state.iterations(),
                                                     benchmark::Counter::kIsRate);
}

void Lengths(benchmark::internal::Benchmark* b) {
  b->Arg(2000)->Arg(8000);
  if (std::getenv("ORB_BENCH_LONG")) b->Arg(32000);
  b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
}

void BM_ApplyBrightContrast(benchmark::State& s) {
  Apply(s, {orb::FilterKind::BrightCont, 0, 0, orb::tools::KindRule::Keep}, false);
}
void BM_ApplySharpen(benchmark::State& s) { Apply(s, orb::tools::SharpenApply(5), false); }
void BM_ApplyDespeckle(benchmark::State& s) { Apply(s, orb::tools::DespeckleApply(), true); }

BENCHMARK(BM_ApplyBrightContrast)->Apply(Lengths);
BENCHMARK(BM_ApplySharpen)->Apply(Lengths);
BENCHMARK(BM_ApplyDespeckle)->Apply(Lengths);

}  // namespace
