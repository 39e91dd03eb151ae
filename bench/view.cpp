// Pointing at a metre-wide image (23622 x 40000 colour, an uncompressed TIFF of 2.8 GB):
// the time from a mouse move to the magnifier redrawn at zoom 4, and from a navigator drag
// to the view redrawn at actual size. Both must stay well under a frame interval of the
// eye (goal: 30 ms) so that the lens and the view follow the hand.
// Counters:
//   ms_per_move     mean milliseconds per lens move (render of its content included)
//   ms_per_drag     mean milliseconds per navigator drag (region moved, display rebuilt)
//   worst_ms        the slowest single move or drag
//   open_s          seconds to open the image and draw the fitted view (once, not timed
//                   per iteration; the navigator's picture is made in this one pass)
//   peak_rss_MB     this process's peak resident memory
// Each move and each drag goes to a point far from the last one, so no row the previous
// one read is still in the program's buffers (the system's file cache still helps, as it
// does for a user who has just opened the image).
// Files go to a private folder under $ORB_BENCH_DIR (default $TMPDIR or /tmp).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "app/Display.h"
#include "app/DisplaySink.h"
#include "app/Document.h"
#include "app/LupeView.h"
#include "app/ViewGeometry.h"
#include "bench/BenchDrawing.h"
#include "bench/BenchUtil.h"
#include "engine/AppStatus.h"
#include "engine/EngineHost.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/Settings.h"

namespace {

constexpr int32_t kWidth = 23622;
constexpr int32_t kHeight = 40000;

class Surface : public orb::DisplaySurface {
 public:
  orb::Rect ClientRect() const override { return client; }
  orb::Rect client{0, 0, 1600, 1000};
};

// The image, opened once for every benchmark of the program.
struct Opened {
  Opened() {
    const std::string path = orb::bench::WorkFolder("view") + "/wide.tif";
    if (!orb::bench::WriteDrawing(path, OF_TIFF, kWidth, kHeight)) return;
    orb::SetTempFilesFolder(orb::bench::WorkFolder("view"));
    host = orb::Host();
    orb::EngineHost withSink = host;
    withSink.display = &sink;
    orb::SetEngineHost(withSink);
    image = orb::NewImageState();
    image->viewWindow = &surface;
    const auto t0 = std::chrono::steady_clock::now();
    if (orb::OpenImageIntoDocument(image, path, nullptr) != orb::OpenResult::Opened) {
      orb::FreeImageChain(image);
      image = nullptr;
    }
    openSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  ~Opened() {
    orb::FreeImageChain(image);
    orb::SetEngineHost(host);
  }
  orb::ProgressiveDisplaySink sink;
  orb::EngineHost host;
  Surface surface;
  ImageState* image = nullptr;
  double openSeconds = 0;
};

Opened& Image() {
  static Opened opened;
  return opened;
}

// Points spread over [0, n) that never repeat the neighbourhood of the last one.
int32_t Spread(uint32_t& seed, int32_t n) {
  seed = seed * 1664525u + 1013904223u;
  return static_cast<int32_t>((seed >> 8) % static_cast<uint32_t>(std::max(n, 1)));
}

double PeakMB() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

void Report(benchmark::State& state, const char* name, double total, double worst) {
  const double n = static_cast<double>(std::max<int64_t>(state.iterations(), 1));
  state.counters[name] = total / n * 1000.0;
  state.counters["worst_ms"] = worst * 1000.0;
  state.counters["open_s"] = Image().openSeconds;
  state.counters["peak_rss_MB"] = PeakMB();
}

void BM_LensMoveZoom4(benchmark::State& state) {
  Opened& o = Image();
  if (!o.image) {
    state.SkipWithError("the test image did not open");
    return;
  }
  MiscSettings.MagnifierDiameter = 300;
  MiscSettings.MagnifierZoom = 4;
  // The whole image fitted into the view, as after opening.
  o.surface.client = orb::Rect{0, 0, 1600, 1000};
  o.image->region = PixelRect{0, 0, kWidth - 1, kHeight - 1};
  ProgressiveDisplay fitted(o.image);
  FinishImageDisplay(&fitted);
  const orb::Rect drawn = orb::ViewContext{o.image}.Drawing();
  CLupeView lens;
  lens.SetImage(o.image);
  uint32_t seed = 7;
  double total = 0, worst = 0;
  for (auto _ : state) {
    const int32_t x = drawn.left + Spread(seed, drawn.Width());
    const int32_t y = drawn.top + Spread(seed, drawn.Height());
    const auto t0 = std::chrono::steady_clock::now();
    lens.MoveTo(true, x, y);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!lens.Content()) state.SkipWithError("the lens shows nothing");
    total += s;
    worst = std::max(worst, s);
  }
  Report(state, "ms_per_move", total, worst);
}

void BM_NavigatorDrag(benchmark::State& state) {
  Opened& o = Image();
  if (!o.image) {
    state.SkipWithError("the test image did not open");
    return;
  }
  ImageState* w = o.image;
  o.surface.client = orb::Rect{0, 0, 1600, 1000};
  // The navigator's picture and the frame of an actual-size view.
  const orb::Rect thumb = orb::NavigatorThumbRect(w->bitmaps[0] ? w->bitmaps[0]->width : 200,
                                                  w->bitmaps[0] ? w->bitmaps[0]->height : 150, 200, 150);
  w->region = orb::RegionForHint(orb::kHintActualSize, PixelRect{0, 0, kWidth - 1, kHeight - 1}, 1600, 1000, kWidth,
                                 kHeight, MiscSettings.ZoomInStep, MiscSettings.ZoomOutStep);
  orb::Rect frame = orb::NavigatorFrame(w->region, kWidth, kHeight, thumb);
  uint32_t seed = 11;
  double total = 0, worst = 0;
  for (auto _ : state) {
    const int32_t dx = Spread(seed, thumb.Width()) - thumb.Width() / 2;
    const int32_t dy = Spread(seed, thumb.Height()) - thumb.Height() / 2;
    const auto t0 = std::chrono::steady_clock::now();
    frame = orb::MoveNavigatorFrame(frame, dx, dy, thumb);
    w->region = orb::FitRegionToClient(orb::NavigatorRegion(frame, thumb, kWidth, kHeight), 1600, 1000, kWidth, kHeight);
    orb::SetStatus(orb::StatusBit::ViewRefresh);
    ProgressiveDisplay display(w);
    const ShowOutcome shown = FinishImageDisplay(&display);
    orb::ClearStatus(orb::StatusBit::ViewRefresh);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (shown != ShowOutcome::Done || !w->bitmaps[2]) state.SkipWithError("the view was not redrawn");
    total += s;
    worst = std::max(worst, s);
  }
  Report(state, "ms_per_drag", total, worst);
}

BENCHMARK(BM_LensMoveZoom4)->Iterations(200)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NavigatorDrag)->Iterations(100)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
