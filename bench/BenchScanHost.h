// What the scan benchmarks share: a scan host with no window, no questions (every one
// answered yes), no progress and all the free space asked for (the clock is the benchmark's
// choice: a fake one leaves a scanner's settle times out of the figures); the settings of
// the metre-wide colour scan they time; the timed scan itself; and the disk's own pace for
// the same bytes, which bounds any scan into a file that is flushed when it closes.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/BenchUtil.h"
#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "engine/ImageState.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "platform/FlushBehind.h"
#include "scanning/ScanHost.h"

namespace orb::bench {

template <class ClockType>
class QuietScanHost final : public orb::ScanHost {
 public:
  void PostToFrame(uint32_t, uintptr_t, intptr_t) override {}
  void SendToFrame(uint32_t, uintptr_t, intptr_t) override {}
  void PostToThumbnails(uint32_t, uintptr_t, intptr_t) override {}
  bool AskYesNo(int, std::string_view) override { return true; }
  void ShowMessage(int, orb::MessageIcon, const std::vector<orb::MessageArg>&) override {}
  void ShowText(std::string_view, std::string_view, orb::MessageIcon) override {}
  void ProgressBegin(int, int) override {}
  void ProgressStep() override {}
  void ProgressEnd() override {}
  void WaitCursor(bool) override {}
  void PumpMessages() override {}
  orb::IDisplaySink* Display() override { return nullptr; }
  orb::Clock& GetClock() override { return clock_; }
  bool HasFreeSpace(const std::string&, int64_t) override { return true; }

 private:
  ClockType clock_;
};

// A metre-wide colour scan at `dpi` of `lines` lines into an uncompressed TIFF in `folder`,
// with the tone curve, brightness/contrast and mirror on; the settings are put back when
// this goes.
class MetreColourScan {
 public:
  static constexpr int kWidthHundredths = 3937;  // one metre

  MetreColourScan(int dpi, int lines, const std::string& folder)
      : output_(folder + "/bench.tif"),
        scan_(ScanSettings), gamma_(GammaSettings), brightCont_(BrightContSettings), mirror_(MirrorSettings) {
    orb::ScanSettingsRecord& s = ScanSettings;
    s.ResolutionIndex = 0;
    orb::SetTextField(s.ResolutionText, std::to_string(dpi) + " dpi");
    s.SizeMode = 2;
    s.CustomWidth = kWidthHundredths;
    s.CustomLength = lines * 100 / dpi;
    s.AreaLeft = s.AreaTop = 0;
    s.ColourMode = 0;
    s.FormatIndexRgb = 4;  // uncompressed TIFF
    s.OutputIsPlainTiff = 1;
    s.AutoPalette16 = s.AutoPalette256 = 0;
    orb::SetTextField(s.OutputFileName, output_);
    orb::SetTextField(MiscSettings.WorkingFolder, folder);
    GammaSettings.enabled = 1;
    BrightContSettings.enabled = 1;
    BrightContSettings.Brightness = 10;
    BrightContSettings.Contrast = 10;
    MirrorSettings.enabled = 1;
  }
  ~MetreColourScan() {
    ScanSettings = scan_;
    GammaSettings = gamma_;
    BrightContSettings = brightCont_;
    MirrorSettings = mirror_;
  }
  MetreColourScan(const MetreColourScan&) = delete;
  MetreColourScan& operator=(const MetreColourScan&) = delete;

  // Removes the last turn's output before the next scan, which would replace it otherwise.
  // A user's scans go to new names; replacing a file of hundreds of megabytes frees its
  // pages inside the rename (90 ms for 340 MB on ext4), the old file's cost and not the scan's.
  void ClearOutput() const { ::unlink(output_.c_str()); }

 private:
  std::string output_;
  orb::ScanSettingsRecord scan_;
  orb::GammaRecord gamma_;
  orb::BrightContRecord brightCont_;
  orb::MirrorRecord mirror_;
};

struct TimedScan {
  bool started = false;
  double seconds = 0;   // from the start command to the end of the scan's threads
  int64_t lines = 0;
  int64_t peakRssBytes = 0;
};

// One scan through `control` (a family's scan control) from start to its end, resident
// memory sampled every 2 ms (the poll's granularity is the timing's too).
template <class Control>
TimedScan RunTimedScan(Control& control) {
  TimedScan t;
  const auto start = std::chrono::steady_clock::now();
  ImageState* image = orb::NewImageState();
  t.started = control.StartScan(image);
  if (t.started) {
    while (control.Scanning()) {
      t.peakRssBytes = std::max(t.peakRssBytes, ResidentBytes());
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    control.WaitForScan();
    t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    t.lines = control.LastResult().linesReceived;
  }
  orb::FreeImageChain(image);
  CancelFlag.store(0);
  return t;
}

// Seconds to write `bytes` in 1 MB writes to a new file in `folder` and flush it to the
// disk, flushed as it grows and at the end as a scan's output is: the most any scan into
// that folder can do. -1 on failure.
inline double DiskSeconds(const std::string& folder, int64_t bytes) {
  const std::string path = folder + "/disk-pace.bin";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  // Bytes like a scan's, and no two 4 KB pages alike: a virtual disk that compresses or
  // shares equal blocks would otherwise take them faster than a scan's.
  std::vector<uint8_t> block(size_t{1} << 20);
  uint32_t x = 2463534242u;
  for (uint8_t& b : block) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  const auto start = std::chrono::steady_clock::now();
  orb::FlushBehind flusher(fd);
  bool ok = true;
  uint64_t page = 0;
  for (int64_t left = bytes; ok && left > 0;) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(block.size())));
    for (size_t at = 0; at + sizeof page <= n; at += 4096, ++page) std::memcpy(block.data() + at, &page, sizeof page);
    ok = ::write(fd, block.data(), n) == static_cast<ssize_t>(n);
    flusher.Wrote(static_cast<int64_t>(n));
    left -= static_cast<int64_t>(n);
  }
  flusher.Stop();
  ok = ok && !flusher.Failed() && ::fsync(fd) == 0;
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ::close(fd);
  ::unlink(path.c_str());
  return ok ? seconds : -1;
}

}  // namespace orb::bench
