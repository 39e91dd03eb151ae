// Memory and speed of the imaging library on a scan-size image: a metre-wide colour scan
// at 600 dpi (23622 x 40000 RGB, 2.8 GB of pixels) written as TIFF and read back, with
// the process's peak resident memory reported. Rows stream both ways, so the peak stays
// far below the image size.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/imagemill/imagemill.h"

namespace {

struct Job {
  int width;
  int height;
  int bits;
  uint64_t checksum = 0;
};

int Header(void* u, IM_BITMAPINFOHEADER* h, IM_RGBQUAD* colors, int* grey) {
  auto* j = static_cast<Job*>(u);
  h->biSize = 40;
  h->biWidth = j->width;
  h->biHeight = j->height;
  h->biPlanes = 1;
  h->biBitCount = static_cast<uint16_t>(j->bits);
  h->biXPelsPerMeter = h->biYPelsPerMeter = 23622;
  *grey = j->bits == 8;
  (void)colors;
  return 0;
}

int Lines(void*, uint8_t* line, int row, int bytes) {
  for (int i = 0; i < bytes; ++i) line[i] = static_cast<uint8_t>(i + row);
  return 0;
}

int ReadHeader(void*, IM_BITMAPINFOHEADER*, IM_RGBQUAD*, int*) { return 0; }
int ReadLines(void* u, uint8_t* line, int, int bytes) {
  auto* j = static_cast<Job*>(u);
  j->checksum += line[0] + line[bytes - 1];
  return 0;
}

double PeakResidentMb() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

std::string TempPath(const char* ext) {
  const char* dir = std::getenv("TMPDIR");
  std::string p = std::string(dir && *dir ? dir : "/tmp") + "/imagemill_bench_XXXXXX";
  const int fd = ::mkstemp(p.data());
  if (fd >= 0) ::close(fd);
  std::filesystem::remove(p);
  return p + ext;
}

void WriteRead(benchmark::State& state, uint32_t format, const char* ext, int width, int height, int bits) {
  const std::string path = TempPath(ext);
  Job job{width, height, bits};
  uint64_t bytes = 0;
  for (auto _ : state) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    const int w = IM_WriteByCallback(fd, format, Lines, Header, &job);
    ::close(fd);
    fd = ::open(path.c_str(), O_RDONLY);
    const int r = IM_ReadByCallback(fd, ReadLines, ReadHeader, &job);
    ::close(fd);
    if (w != IM_OK || r != IM_OK) state.SkipWithError("write or read failed");
    bytes += static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * static_cast<uint64_t>(bits / 8) * 2;
    benchmark::DoNotOptimize(job.checksum);
  }
  std::error_code ec;
  state.counters["file_MB"] = static_cast<double>(std::filesystem::file_size(path, ec)) / 1048576.0;
  std::filesystem::remove(path, ec);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  state.counters["peak_rss_MB"] = PeakResidentMb();
}

// The full scan: 23622 x 40000 RGB as uncompressed TIFF.
void BM_TiffScanSizeRgb(benchmark::State& state) { WriteRead(state, 1, ".tif", 23622, 40000, 24); }
BENCHMARK(BM_TiffScanSizeRgb)->Iterations(1)->Unit(benchmark::kSecond);

// Other codecs on a band of the same width.
void BM_TiffJpegBand(benchmark::State& state) { WriteRead(state, 0x40001, ".tif", 23622, 2000, 24); }
void BM_JpegBand(benchmark::State& state) { WriteRead(state, 2, ".jpg", 23622, 2000, 24); }
void BM_PngBand(benchmark::State& state) { WriteRead(state, 3, ".png", 23622, 2000, 24); }
void BM_Jp2Band(benchmark::State& state) { WriteRead(state, 5, ".jp2", 23622, 2000, 24); }
void BM_BmpBand(benchmark::State& state) { WriteRead(state, 6, ".bmp", 23622, 2000, 24); }
BENCHMARK(BM_TiffJpegBand)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegBand)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PngBand)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Jp2Band)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpBand)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
