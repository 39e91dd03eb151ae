// A metre-wide colour scan at 600 dpi from a simulated Kelvane scanner over loopback TCP,
// through the whole scan run (reader and processing threads, three in-scan filters,
// uncompressed TIFF output), against the rate at which the same scanner delivers the same
// window over the same connection to a bare read loop. The ratio of the two rates is the
// scan run's cost over a bare read. The output is flushed to the disk when it closes, so a
// scan can go no faster than the disk takes its bytes: the disk's pace for the same bytes
// is measured beside it, and bound_ratio compares the scan with the slower of scanner and
// disk. Set TMPDIR (or ORB_BENCH_DIR) to a memory-backed folder to take the disk out.
// Resident memory is reported for two sheet lengths to show that it does not grow with the
// sheet.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchScanHost.h"
#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "engine/ImageState.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "platform/sim/SimKelvane.h"
#include "scanning/ScanHost.h"
#include "scanning/kelvane/EventCallback.h"
#include "scanning/kelvane/KelvaneConnection.h"
#include "scanning/kelvane/KelvaneScanControl.h"
#include "scanning/kelvane/KelvaneScanner.h"

namespace {

constexpr int kDpi = 600;
constexpr int kWidthHundredths = orb::bench::MetreColourScan::kWidthHundredths;
constexpr int kScannerCode = 27;        // a 56-inch generation-2 model

using QuietHost = orb::bench::QuietScanHost<orb::FakeClock>;

// A simulated scanner served on loopback, connected and identified.
struct Rig {
  Rig(int lines, const std::string& dataFolder) {
    // The identification keeps the family's factory-defaults preset in the data folder.
    g_szDataFolder = dataFolder;
    auto config = orb::sim::KelvaneConfigFor(2, "KelvanePVk Scanner", kScannerCode);
    config.paperLengthPixels = lines + 600;
    sim = std::make_shared<orb::sim::SimKelvane>(config);
    server = std::make_unique<orb::sim::SimKelvaneServer>(sim);
    ScanSettings.NetworkOption = 1;
    std::memset(ScanSettings.ScannerAddress, 0, sizeof ScanSettings.ScannerAddress);
    std::strcpy(ScanSettings.ScannerAddress, "127.0.0.1");
    ScanSettings.NetworkPort1 = server->Port();
    static int frame;
    orb::IdentifiedScanner who;
    ok = orb::kelvane::ConnectForFrame(scanner, callback, &frame, &who);
    // The poll is the frame's: a benchmark has no button to hear.
    scanner.StopStatusWatch();
    ScanSettings.NetworkOption = 0;
  }
  ~Rig() { scanner.Disconnect(); }
  std::shared_ptr<orb::sim::SimKelvane> sim;
  std::unique_ptr<orb::sim::SimKelvaneServer> server;
  CKelvaneScanner scanner;
  CEventCallback callback;
  bool ok = false;
};

int WidthPixels() { return kDpi * kWidthHundredths / 100 / 8 * 8; }

// Reads `lines` colour lines in the scan run's blocks with nothing done to them.
int64_t ReadRaw(CKelvaneScanner& k, int lines) {
  const int64_t lineBytes = 3 * int64_t{WidthPixels()};
  const int block = static_cast<int>(std::min<int64_t>(98, 1048576 / lineBytes));
  std::vector<uint8_t> buffer(static_cast<size_t>(lineBytes * block));
  if (!k.SetWindow(WidthPixels(), lines, kDpi, 0) || !k.StartScan()) return 0;
  int64_t got = 0;
  while (got < lines) {
    const int want = static_cast<int>(std::min<int64_t>(block, lines - got));
    uint32_t n = 0;
    if (!k.ReadData(buffer.data(), static_cast<uint32_t>(want * lineBytes), &n) || n == 0) break;
    int32_t s0, s1, s2, s3;
    if (!k.GetStatus(&s0, &s1, &s2, &s3)) break;
    got += n / lineBytes;
  }
  k.EndScan();
  return got;
}

void BM_KelvaneRawDelivery(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  const orb::ScanSettingsRecord saved = ScanSettings;
  // Removed with everything in it however the benchmark ends.
  const orb::bench::WorkDir work("kscan");
  const std::string& folder = work.path();
  {
    Rig rig(lines, folder);
    if (!rig.ok) state.SkipWithError("no scanner");
    int64_t total = 0;
    for (auto _ : state) total += ReadRaw(rig.scanner, lines);
    state.counters["lines_per_s"] = benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
  }
  ScanSettings = saved;
}

// Each turn reads the window raw, scans it whole and writes its bytes to the disk, in that
// order, so that the three rates are paired however the machine's pace drifts.
void BM_KelvaneScanRun(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  // Removed with everything in it however the benchmark ends.
  const orb::bench::WorkDir work("kscan");
  const std::string& folder = work.path();
  // Made first: the settings it keeps are put back after the rig's connection settings too.
  const orb::bench::MetreColourScan settings(kDpi, lines, folder);
  Rig rig(lines, folder);
  if (!rig.ok) {
    state.SkipWithError("no scanner");
    return;
  }
  QuietHost host;
  orb::kelvane::KelvaneScanControl control(rig.scanner, host);

  int64_t total = 0, rawTotal = 0, peakRss = 0;
  double scanSeconds = 0, rawSeconds = 0, diskSeconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const auto rawStart = std::chrono::steady_clock::now();
    rawTotal += ReadRaw(rig.scanner, lines);
    rawSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - rawStart).count();
    state.ResumeTiming();
    settings.ClearOutput();
    const orb::bench::TimedScan t = orb::bench::RunTimedScan(control);
    if (!t.started) {
      state.SkipWithError("the scan did not start");
      break;
    }
    scanSeconds += t.seconds;
    total += t.lines;
    peakRss = std::max(peakRss, t.peakRssBytes);
    state.PauseTiming();
    diskSeconds += orb::bench::DiskSeconds(folder, t.lines * control.LastPlan().scan.lineBytes);
    state.ResumeTiming();
  }
  const double rate = scanSeconds > 0 ? static_cast<double>(total) / scanSeconds : 0.0;
  const double rawRate = rawSeconds > 0 ? static_cast<double>(rawTotal) / rawSeconds : 0.0;
  const double diskRate = diskSeconds > 0 ? static_cast<double>(total) / diskSeconds : 0.0;
  state.counters["lines_per_s"] = rate;
  state.counters["raw_lines_per_s"] = rawRate;
  // The scan's rate over the scanner's own: 1.0 means the scan run adds nothing to its pace.
  if (rawRate > 0) state.counters["rate_ratio"] = rate / rawRate;
  // Writing and flushing the same bytes: a scan into a file cannot go faster than its disk.
  state.counters["disk_lines_per_s"] = diskRate;
  if (rawRate > 0 && diskRate > 0) state.counters["bound_ratio"] = rate / std::min(rawRate, diskRate);
  state.counters["peak_rss_MB"] = static_cast<double>(peakRss) / (1024.0 * 1024.0);
  state.counters["line_bytes"] = static_cast<double>(control.LastPlan().scan.lineBytes);
  state.counters["block_lines"] = static_cast<double>(control.LastPlan().linesPerBlock);
}

}  // namespace

BENCHMARK(BM_KelvaneRawDelivery)->Arg(1200)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KelvaneScanRun)->Arg(1200)->Arg(4800)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
