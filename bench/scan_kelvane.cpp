// A metre-wide colour scan at 600 dpi from a simulated Kelvane scanner over loopback TCP,
// through the whole scan run (reader and processing threads, three in-scan filters,
// uncompressed TIFF output), against the rate at which the same scanner delivers the same
// window over the same connection to a bare read loop. The ratio of the two rates is the
// scan run's cost over a bare read; resident memory is reported for two sheet lengths to
// show that it does not grow with the sheet.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
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
constexpr int kWidthHundredths = 3937;  // one metre
constexpr int kScannerCode = 27;        // a 56-inch generation-2 model

using QuietHost = orb::bench::QuietScanHost<orb::FakeClock>;

int64_t ResidentKb() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atoll(line.c_str() + 6);
  return 0;
}

std::string TempFolder() {
  std::string t = (std::filesystem::temp_directory_path() / "orbkbenchXXXXXX").string();
  char* made = ::mkdtemp(t.data());
  return made ? std::string(made) : std::string(".");
}

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
  const std::string folder = TempFolder();
  {
    Rig rig(lines, folder);
    if (!rig.ok) state.SkipWithError("no scanner");
    int64_t total = 0;
    for (auto _ : state) total += ReadRaw(rig.scanner, lines);
    state.counters["lines_per_s"] = benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
  }
  ScanSettings = saved;
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}

void BM_KelvaneScanRun(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  const std::string folder = TempFolder();
  const orb::ScanSettingsRecord saved = ScanSettings;
  Rig rig(lines, folder);
  if (!rig.ok) {
    state.SkipWithError("no scanner");
    return;
  }
  QuietHost host;
  orb::kelvane::KelvaneScanControl control(rig.scanner, host);
  orb::ScanSettingsRecord& s = ScanSettings;
  s.ResolutionIndex = 0;
  orb::SetTextField(s.ResolutionText, std::to_string(kDpi) + " dpi");
  s.SizeMode = 2;
  s.CustomWidth = kWidthHundredths;
  s.CustomLength = lines * 100 / kDpi;
  s.AreaLeft = s.AreaTop = 0;
  s.ColourMode = 0;
  s.FormatIndexRgb = 4;  // uncompressed TIFF
  s.OutputIsPlainTiff = 1;
  s.AutoPalette16 = s.AutoPalette256 = 0;
  orb::SetTextField(s.OutputFileName, folder + "/bench.tif");
  orb::SetTextField(MiscSettings.WorkingFolder, folder);
  GammaSettings.enabled = 1;
  BrightContSettings.enabled = 1;
  BrightContSettings.Brightness = 10;
  BrightContSettings.Contrast = 10;
  MirrorSettings.enabled = 1;

  // The raw rate of the same window over the same connection, outside the timed loop.
  const auto rawStart = std::chrono::steady_clock::now();
  const int64_t rawLines = ReadRaw(rig.scanner, lines);
  const double rawSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - rawStart).count();
  const double rawRate = rawSeconds > 0 ? static_cast<double>(rawLines) / rawSeconds : 0.0;

  int64_t total = 0, peakRss = 0;
  double scanSeconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    ImageState* image = orb::NewImageState();
    if (!control.StartScan(image)) {
      state.SkipWithError("the scan did not start");
      orb::FreeImageChain(image);
      break;
    }
    while (control.Scanning()) {
      peakRss = std::max(peakRss, ResidentKb());
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    control.WaitForScan();
    scanSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    total += control.LastResult().linesReceived;
    orb::FreeImageChain(image);
    CancelFlag.store(0);
  }
  state.counters["lines_per_s"] = benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
  state.counters["raw_lines_per_s"] = rawRate;
  if (rawRate > 0 && scanSeconds > 0)
    state.counters["rate_ratio"] = (static_cast<double>(total) / scanSeconds) / rawRate;
  state.counters["peak_rss_MB"] = static_cast<double>(peakRss) / 1024.0;
  state.counters["line_bytes"] = static_cast<double>(control.LastPlan().scan.lineBytes);
  state.counters["block_lines"] = static_cast<double>(control.LastPlan().linesPerBlock);

  GammaSettings.enabled = 0;
  BrightContSettings.enabled = 0;
  MirrorSettings.enabled = 0;
  ScanSettings = saved;
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}

}  // namespace

BENCHMARK(BM_KelvaneRawDelivery)->Arg(1200)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KelvaneScanRun)->Arg(1200)->Arg(4800)->Unit(benchmark::kMillisecond)->UseRealTime();
