// Streams one large RGB image file -> read stream -> write stream -> file, the way every
// tool moves an image, and times `cp` of the same file in the same run. Counters:
//   stream_MBps  throughput of the stream copy (source bytes per second)
//   cp_MBps      throughput of cp on the same file
//   ratio        stream time / cp time (1.0 means as fast as copying the bytes)
//   dd_MBps, ratio_dd  the same against dd with 1 MB blocks: a plain read/write copy through
//                user space, which is what a stream does at the least (cp copies inside
//                the kernel)
//   rss_growth_MB  resident memory the stream copy added over the process's level before it
//
// The image is 23622 x 8000 pixels (a metre-wide scan at 600 dpi, 8000 lines: 567 MB);
// the "height" argument runs a quarter of it too, to show the memory does not follow the
// height. Files go to $ORB_BENCH_DIR (default $TMPDIR or /tmp) and are removed afterwards.
#include <benchmark/benchmark.h>

#include "bench/BenchUtil.h"
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/ImageState.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/LineWriter.h"

namespace {

constexpr int32_t kWidth = 23622;

std::string WorkFolder() { return orb::bench::WorkFolder("streams"); }
using orb::bench::ResidentBytes;

ImageState* RgbImage(int32_t height) {
  ImageState* s = orb::NewImageState();
  s->kind = IK_RGB;
  s->width = kWidth;
  s->height = height;
  s->xDpi = s->yDpi = 600;
  s->storedLineWidth = 3 * kWidth;
  s->bitsPerSample = 8;
  s->samplesPerPixel = 3;
  s->bitsPerPixel = 24;
  s->photometric = PM_RGB;
  s->region = PixelRect{0, 0, kWidth - 1, height - 1};
  return s;
}

// Streams `src` into a new uncompressed TIFF at `dst`. False on any failure.
bool StreamCopy(ImageState* src, const std::string& dst) {
  ImageState* out = RgbImage(src->height);
  out->fileHandle = ::open(dst.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  bool ok = out->fileHandle >= 0;
  LineReader reader(src);
  LineWriter writer(out);
  ok = ok && OpenReadStream(&reader, kReadSequential) == kReadOpenOk;
  ok = ok && StartImageOutput(&writer) == 0 && OpenWriteStream(&writer) == 0;
  // As the apply pipeline moves lines: read straight into the write stream's own buffer,
  // a strip at a time.
  const size_t lineBytes = static_cast<size_t>(src->storedLineWidth);
  for (int32_t y = 0; ok && y < src->height;) {
    int32_t room = 0;
    uint8_t* lines = WriteSpace(&writer, &room);
    const int32_t n = std::min(room, src->height - y);
    ok = lines && n > 0 && ReadLineRun(&reader, lines, n, lineBytes) == n && CommitLines(&writer, n) == 0;
    y += n;
  }
  CloseReadStream(&reader);
  if (writer.streamOpen && CloseWriteStream(&writer) != 0) ok = false;
  if (out->fileHandle >= 0) ::close(out->fileHandle);
  out->fileHandle = kNoFile;
  orb::FreeImageChain(out);
  return ok;
}

// The source: an uncompressed TIFF written by the write stream (varied pixels).
ImageState* MakeSource(int32_t height) {
  const std::string path = WorkFolder() + "/src-" + std::to_string(height) + ".tif";
  ImageState* img = RgbImage(height);
  img->sourceForm = SF_RAW_FILE;
  img->rawPath = path;
  if (std::filesystem::exists(path)) {
    img->dataOffset = 8;
    return img;
  }
  img->fileHandle = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  LineWriter w(img);
  StartImageOutput(&w);
  OpenWriteStream(&w);
  std::vector<uint8_t> line(3 * static_cast<size_t>(kWidth));
  for (int32_t y = 0; y < height; ++y) {
    for (size_t x = 0; x < line.size(); ++x) line[x] = static_cast<uint8_t>(x * 7 + y * 3);
    WriteLines(&w, line.data(), static_cast<int64_t>(line.size()));
  }
  CloseWriteStream(&w);
  ::close(img->fileHandle);
  img->fileHandle = kNoFile;
  return img;
}

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void BM_StreamCopyVsCp(benchmark::State& state) {
  const int32_t height = static_cast<int32_t>(state.range(0));
  ImageState* src = MakeSource(height);
  const std::string dst = WorkFolder() + "/dst.tif";
  const std::string cpDst = WorkFolder() + "/cp.tif";
  const std::string cpCommand = "cp '" + src->rawPath + "' '" + cpDst + "'";
  const std::string ddCommand =
      "dd if='" + src->rawPath + "' of='" + cpDst + "' bs=1M status=none";
  const double bytes = 3.0 * kWidth * height;
  double streamTotal = 0, cpTotal = 0, ddTotal = 0;
  int64_t rssGrowth = 0;
  for (auto _ : state) {
    // cp first, then the stream: both find the source in the page cache, and both write a
    // new file of the same size.
    std::filesystem::remove(cpDst);
    auto t0 = std::chrono::steady_clock::now();
    if (std::system(cpCommand.c_str()) != 0) state.SkipWithError("cp failed");
    const double cpTime = Seconds(t0);
    std::filesystem::remove(cpDst);
    t0 = std::chrono::steady_clock::now();
    if (std::system(ddCommand.c_str()) != 0) state.SkipWithError("dd failed");
    ddTotal += Seconds(t0);
    std::filesystem::remove(dst);
    const int64_t before = ResidentBytes();
    t0 = std::chrono::steady_clock::now();
    if (!StreamCopy(src, dst)) state.SkipWithError("stream copy failed");
    const double streamTime = Seconds(t0);
    rssGrowth = std::max<int64_t>(rssGrowth, ResidentBytes() - before);
    state.SetIterationTime(streamTime);
    streamTotal += streamTime;
    cpTotal += cpTime;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["stream_MBps"] = bytes / (streamTotal / n) / 1e6;
  state.counters["cp_MBps"] = bytes / (cpTotal / n) / 1e6;
  state.counters["ratio"] = streamTotal / cpTotal;
  state.counters["dd_MBps"] = bytes / (ddTotal / n) / 1e6;
  state.counters["ratio_dd"] = streamTotal / ddTotal;
  state.counters["rss_growth_MB"] = static_cast<double>(rssGrowth) / 1e6;
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1e3;
  state.SetBytesProcessed(static_cast<int64_t>(bytes * n));
  std::filesystem::remove(dst);
  std::filesystem::remove(cpDst);
  std::filesystem::remove(src->rawPath);
  orb::FreeImageChain(src);
}

BENCHMARK(BM_StreamCopyVsCp)
    ->Arg(2000)
    ->Arg(8000)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
