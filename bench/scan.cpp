// A metre-wide colour scan at 600 dpi through the whole scan pipeline (reader and processing
// threads, three in-scan filters, uncompressed TIFF output), against the delivery rate of the
// same lines through the scanner library alone. The simulated scanner is fed pre-rendered
// lines (it draws the first 32 lines of the window once and delivers them over and over), so
// that its drawing of the sheet, which took nearly all of the reader thread's time, is out
// of the figures: what is timed is the pipeline's own ceiling. The ratio of the two rates is
// the pipeline's cost over a bare read; resident memory is reported for several sheet
// lengths to show that it does not grow with the sheet.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchScanHost.h"
#include "common/Messages.h"
#include "engine/ImageState.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "platform/sim/SimAttach.h"
#include "scanner_library/trennic.h"
#include "scanning/ScsiScanControl.h"

namespace {

constexpr int kDpi = 600;
constexpr int kWidthHundredths = orb::bench::MetreColourScan::kWidthHundredths;

using QuietHost = orb::bench::QuietScanHost<orb::SystemClock>;


orb::sim::SimScannerConfig MetreScanner(int lines) {
  orb::sim::SimScannerConfig c;
  c.product = "HALD24";
  c.opticalDpi = kDpi;
  c.pixelsAtOptical = 24000;  // 40 inches
  c.cameras = 3;
  c.sheet.paperLeft = 0;
  c.sheet.paperWidth = 48000;
  c.sheet.paperLength = lines * 1200 / kDpi + 1200;
  c.repeatLines = 32;
  return c;
}


// Reads `lines` lines of 3 bytes a pixel straight from the scanner library; the lines read.
int64_t ReadRaw(CTrennic& trennic, int lines) {
  const int width = kDpi * kWidthHundredths / 100 / 12 * 12;
  std::vector<uint8_t> buffer(static_cast<size_t>(width) * 3 * 8);
  WindowDescriptorType w{};
  w.XResolution = w.YResolution = kDpi;
  w.Width = width;
  w.Length = lines;
  w.ImageComposition = 5;
  w.BitsPerPixel = 24;
  w.Flags = 131;
  trennic.SetWindow(w, 0, false);
  trennic.StartScan();
  int64_t got = 0;
  while (got < lines) {
    DataTransferType t{};
    t.RequestedBytes = std::min<int>(8, static_cast<int>(lines - got)) * width * 3;
    t.Buffer = buffer.data();
    if (trennic.ReadData(&t) != READ_COMPLETE) break;
    got += t.ReturnedBytes / (width * 3);
  }
  trennic.StopScan();
  return got;
}

// The delivery rate of the pre-rendered lines through the scanner library alone.
void BM_RawDelivery(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  orb::sim::ScopedStiScanner sti(MetreScanner(lines));
  CTrennic trennic;
  DeviceInfoType info{};
  trennic.Open(info);
  int64_t total = 0;
  for (auto _ : state) total += ReadRaw(trennic, lines);
  state.counters["lines_per_s"] = benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
}

// The same lines through the whole scan: threads, tone curve, brightness/contrast and mirror,
// and an uncompressed TIFF output.
void BM_ScanPipeline(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  // Removed with everything in it however the benchmark ends.
  const orb::bench::WorkDir work("scan");
  const std::string& folder = work.path();
  orb::sim::ScopedStiScanner sti(MetreScanner(lines));
  CTrennic trennic;
  DeviceInfoType info{};
  trennic.Open(info);
  QuietHost host;
  orb::ScsiScanControl control(trennic, host);

  const orb::bench::MetreColourScan settings(kDpi, lines, folder);
  orb::ScanSettingsRecord& s = ScanSettings;
  s.ScannerType = 0;
  s.OpticalDpi = kDpi;
  s.MaxWidth = kWidthHundredths;
  s.GammaRed = s.GammaGreen = s.GammaBlue = 1.0f;

  // The raw rate of the same sheet, measured once outside the timed loop.
  const auto rawStart = std::chrono::steady_clock::now();
  const int64_t rawLines = ReadRaw(trennic, lines);
  const double rawSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - rawStart).count();
  const double rawRate = rawSeconds > 0 ? static_cast<double>(rawLines) / rawSeconds : 0.0;

  int64_t total = 0;
  int64_t peakRss = 0;
  double scanSeconds = 0;
  for (auto _ : state) {
    settings.ClearOutput();
    const orb::bench::TimedScan t = orb::bench::RunTimedScan(control);
    if (!t.started) {
      state.SkipWithError("the scan did not start");
      break;
    }
    scanSeconds += t.seconds;
    total += t.lines;
    peakRss = std::max(peakRss, t.peakRssBytes);
  }
  state.counters["lines_per_s"] = benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
  state.counters["raw_lines_per_s"] = rawRate;
  // Pipeline rate over raw rate: 1.0 means the pipeline adds nothing to the scanner's pace.
  if (rawRate > 0 && scanSeconds > 0)
    state.counters["rate_ratio"] = (static_cast<double>(total) / scanSeconds) / rawRate;
  state.counters["peak_rss_MB"] = static_cast<double>(peakRss) / (1024.0 * 1024.0);
  state.counters["line_bytes"] = static_cast<double>(control.LastPlan().lineBytes);
}

}  // namespace

BENCHMARK(BM_RawDelivery)->Arg(1200)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScanPipeline)->Arg(1200)->Arg(4800)->Unit(benchmark::kMillisecond)->UseRealTime();
