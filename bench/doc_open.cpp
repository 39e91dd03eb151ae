// Opening a metre-wide scan as a document, from the call to the fully drawn fitted
// display, against `vipsthumbnail` making an image of the same size from the same file
// (libvips' own way to a fitted view: every pixel decoded once, shrunk on the fly).
// Counters:
//   open_s        seconds from the open to the drawn display
//   vips_s        seconds of `vipsthumbnail file --size WxH` to the display's width and
//                 height, written as a vips file (0 when vipsthumbnail is not installed)
//   ratio         open_s / vips_s
//   rss_growth_MB resident memory the opening added at its peak, sampled each time display
//                 rows are shown. What it measures is the display's own rows (the fitted
//                 bitmap, whose height follows the image's height when the width decides
//                 the fit: about 0.4 MB at 2000 lines and 3 MB at 8000); the decoding and
//                 the raw image file's writing add nothing that stays
//   peak_rss_MB   this process's peak resident memory up to the end of the openings (the
//                 test image's writing included), taken before vipsthumbnail runs: a whole
//                 process timed from outside also counts its children, and vipsthumbnail's
//                 own peak (vips_peak_MB, about 170 MB) is most of such a figure
//   vips_peak_MB  vipsthumbnail's peak resident memory (0 when it did not run)
//   display_w, display_h  the fitted display's size
//   drawn_rows    display rows shown while the file was still decoding
//
// Arguments: compression (0 uncompressed TIFF: the program's own reader and the one-pass
// rebuild; 1 PackBits: the imaging library decodes while the display is drawn band by
// band) and the height (8000 lines: 567 MB of pixels; 2000 lines to compare the memory).
// Files go to a private folder under $ORB_BENCH_DIR (default $TMPDIR or /tmp), removed
// when the program ends.
#include <benchmark/benchmark.h>

#include "bench/BenchDrawing.h"
#include "bench/BenchUtil.h"
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/Display.h"
#include "app/DisplaySink.h"
#include "app/Document.h"
#include "engine/EngineHost.h"
#include "engine/ReadWrite/LineReader.h"
#include "platform/imagemill/imagemill.h"

namespace {

constexpr int32_t kWidth = 23622;

std::string WorkFolder() { return orb::bench::WorkFolder("docopen"); }
using orb::bench::ResidentBytes;

std::string MakeFile(uint32_t format, int32_t height) {
  const std::string path = WorkFolder() + "/scan-" + std::to_string(format) + "-" + std::to_string(height) + ".tif";
  return orb::bench::WriteDrawing(path, format, kWidth, height) ? path : std::string();
}

// The window the image is drawn into: counts the rows shown and samples the memory.
class Surface : public orb::DisplaySurface {
 public:
  orb::Rect ClientRect() const override { return orb::Rect{0, 0, 800, 600}; }
  void ShowDisplayRows(int32_t, int32_t count) override {
    rows += count;
    peak = std::max(peak, ResidentBytes());
  }
  void Invalidate(bool) override { peak = std::max(peak, ResidentBytes()); }
  int64_t rows = 0;
  int64_t peak = 0;
};

// Peak resident memory in MB of this process, or of the largest child it has waited for.
double PeakMB(int who) {
  rusage u{};
  ::getrusage(who, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

double ThumbnailSeconds(const std::string& path, int32_t w, int32_t h) {
  if (w <= 0 || h <= 0) return 0.0;
  const std::string out = WorkFolder() + "/thumb.v";
  const std::string cmd = "vipsthumbnail '" + path + "' --size " + std::to_string(w) + "x" +
                          std::to_string(h) + " -o '" + out + "' > /dev/null 2>&1";
  const auto t0 = std::chrono::steady_clock::now();
  const int rc = std::system(cmd.c_str());
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::filesystem::remove(out);
  return rc == 0 ? s : 0.0;
}

void BM_OpenToDrawn(benchmark::State& state) {
  const uint32_t format = state.range(0) ? OF_TIFF_PACKBITS : OF_TIFF;
  const int32_t height = static_cast<int32_t>(state.range(1));
  const std::string path = MakeFile(format, height);
  if (path.empty()) {
    state.SkipWithError("cannot write the test image");
    return;
  }
  orb::SetTempFilesFolder(WorkFolder());
  orb::ProgressiveDisplaySink sink;
  orb::EngineHost host = orb::Host();
  orb::EngineHost withSink = host;
  withSink.display = &sink;
  orb::SetEngineHost(withSink);
  double total = 0;
  int64_t growth = 0, drawn = 0;
  int32_t shownW = 0, shownH = 0;
  for (auto _ : state) {
    Surface surface;
    const int64_t before = ResidentBytes();
    surface.peak = before;
    ImageState* image = orb::NewImageState();
    image->viewWindow = &surface;
    const auto t0 = std::chrono::steady_clock::now();
    const orb::OpenResult r = orb::OpenImageIntoDocument(image, path, nullptr);
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (r != orb::OpenResult::Opened || !image->bitmaps[2]) state.SkipWithError("the image did not open");
    growth = std::max(growth, surface.peak - before);
    if (image->bitmaps[2]) {
      shownW = image->bitmaps[2]->width;
      shownH = image->bitmaps[2]->height;
    }
    drawn = surface.rows;
    orb::FreeImageChain(image);
  }
  orb::SetEngineHost(host);
  const double open = total / static_cast<double>(std::max<int64_t>(state.iterations(), 1));
  state.counters["peak_rss_MB"] = PeakMB(RUSAGE_SELF);
  const double vips = ThumbnailSeconds(path, shownW, shownH);
  state.counters["vips_peak_MB"] = vips > 0 ? PeakMB(RUSAGE_CHILDREN) : 0.0;
  state.counters["open_s"] = open;
  state.counters["vips_s"] = vips;
  state.counters["ratio"] = vips > 0 ? open / vips : 0.0;
  state.counters["rss_growth_MB"] = static_cast<double>(growth) / (1024.0 * 1024.0);
  state.counters["drawn_rows"] = static_cast<double>(drawn);
  state.counters["display_w"] = shownW;
  state.counters["display_h"] = shownH;
}

BENCHMARK(BM_OpenToDrawn)
    ->Args({0, 8000})
    ->Args({1, 8000})
    ->Args({1, 2000})
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace
