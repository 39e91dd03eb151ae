// Preview latency of the tools that show their effect in the view: from a changed
// brightness value to the fitted display drawn again, as the brightness page's slider does
// it (the pending flag set, the view's display finished again from the rows it needs), on
// a metre-wide 600 dpi colour scan (23622 pixels a line) shown fitted in an 800 x 600 view.
//   ms_per_preview  wall time of one redraw, the mean of the timed iterations
//   display_w/_h    the fitted display's size (its rows are the image rows a redraw reads)
//   rss_growth_MB   resident memory the redraws added at their peak
// The image is an uncompressed TIFF written once per length into a private folder under
// $ORB_BENCH_DIR (default $TMPDIR or /tmp), removed when the program ends; the first
// preview after the opening is left out, so the figures are those of a warm file.
//   bench_tool_preview [--benchmark_filter=...]   (ORB_BENCH_LONG=1 adds 40000 lines)
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/Display.h"
#include "app/DisplaySink.h"
#include "app/Document.h"
#include "bench/BenchUtil.h"
#include "engine/EngineHost.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ToolSettings.h"
#include "platform/imagemill/imagemill.h"

namespace {

constexpr int32_t kWidth = 23622;

const std::string& Folder() { return orb::bench::WorkFolder("toolpreview"); }

int GenHeader(void* user, IM_BITMAPINFOHEADER* h, IM_RGBQUAD*, int*) {
  h->biSize = 40;
  h->biWidth = kWidth;
  h->biHeight = *static_cast<int32_t*>(user);
  h->biPlanes = 1;
  h->biBitCount = 24;
  h->biXPelsPerMeter = h->biYPelsPerMeter = 23622;
  return IM_OK;
}

// A plan: paper with a grid of dark lines and a light gradient.
int GenLines(void*, uint8_t* line, int row, int bytes) {
  for (int i = 0; i + 2 < bytes; i += 3) {
    const int x = i / 3;
    const bool ink = x % 100 < 2 || row % 100 < 2;
    const auto v = ink ? uint8_t{20} : static_cast<uint8_t>(255 - (x + row) % 32);
    line[i] = v;
    line[i + 1] = v;
    line[i + 2] = ink ? uint8_t{120} : v;
  }
  return IM_OK;
}

std::string MakeFile(int32_t height) {
  const std::string path = Folder() + "/plan-" + std::to_string(height) + ".tif";
  if (std::filesystem::exists(path)) return path;
  IM_Init();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int rc = fd >= 0 ? IM_WriteByCallback(fd, OF_TIFF, GenLines, GenHeader, &height) : -1;
  if (fd >= 0) ::close(fd);
  return rc == IM_OK ? path : std::string();
}

class Surface : public orb::DisplaySurface {
 public:
  orb::Rect ClientRect() const override { return orb::Rect{0, 0, 800, 600}; }
  void ShowDisplayRows(int32_t, int32_t count) override {
    rows += count;
    peak = std::max(peak, orb::bench::ResidentBytes());
  }
  void Invalidate(bool) override { peak = std::max(peak, orb::bench::ResidentBytes()); }
  int64_t rows = 0;
  int64_t peak = 0;
};

void BM_BrightnessPreview(benchmark::State& state) {
  const auto height = static_cast<int32_t>(state.range(0));
  const std::string path = MakeFile(height);
  if (path.empty()) {
    state.SkipWithError("cannot write the test image");
    return;
  }
  orb::SetTempFilesFolder(Folder());
  orb::ProgressiveDisplaySink sink;
  const orb::EngineHost host = orb::Host();
  orb::EngineHost withSink = host;
  withSink.display = &sink;
  orb::SetEngineHost(withSink);
  Surface surface;
  ImageState* image = orb::NewImageState();
  image->viewWindow = &surface;
  if (orb::OpenImageIntoDocument(image, path, nullptr) != orb::OpenResult::Opened || !image->bitmaps[2]) {
    state.SkipWithError("the image did not open");
    orb::FreeImageChain(image);
    orb::SetEngineHost(host);
    return;
  }
  const auto saved = BrightContSettings;
  auto preview = [&](int brightness) {
    BrightContSettings.Brightness = brightness;
    image->brightnessPending = 1;
    image->edited = 1;
    ProgressiveDisplay display(image);
    return FinishImageDisplay(&display);
  };
  preview(10);  // the first redraw after the opening reads a cold file
  const int64_t before = orb::bench::ResidentBytes();
  surface.peak = before;
  double total = 0;
  int brightness = 20;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    if (preview(brightness) != ShowOutcome::Done) state.SkipWithError("the preview was not drawn");
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    brightness = brightness == 20 ? 40 : 20;
  }
  const double n = static_cast<double>(std::max<int64_t>(state.iterations(), 1));
  state.counters["ms_per_preview"] = total / n * 1000.0;
  state.counters["display_h"] = image->bitmaps[2] ? image->bitmaps[2]->height : 0;
  state.counters["display_w"] = image->bitmaps[2] ? image->bitmaps[2]->width : 0;
  state.counters["rss_growth_MB"] = static_cast<double>(surface.peak - before) / (1024.0 * 1024.0);
  BrightContSettings = saved;
  orb::FreeImageChain(image);
  orb::SetEngineHost(host);
}

void Lengths(benchmark::internal::Benchmark* b) {
  b->Arg(8000);
  if (std::getenv("ORB_BENCH_LONG")) b->Arg(40000);
  b->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();
}

BENCHMARK(BM_BrightnessPreview)->Apply(Lengths);

}  // namespace
