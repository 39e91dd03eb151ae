// Shared helpers of the line stream tests: a private temporary folder, image records of
// every kind with deterministic pixels, and fakes of the engine's host interfaces.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/EngineHost.h"
#include "engine/ImageState.h"
#include "platform/Clock.h"

namespace streams_test {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = ::testing::TempDir() + "streamsXXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    char* made = ::mkdtemp(buf.data());
    if (made) path_ = made;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  size_t CountFiles() const {
    size_t n = 0;
    for (auto& e : std::filesystem::directory_iterator(path_)) {
      (void)e;
      ++n;
    }
    return n;
  }

 private:
  std::string path_;
};

inline std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline void WriteAllBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A record of `kind`, `width` x `height`, 300 dpi, with a 16/256-colour palette that is
// not the grey ramp, so that palette mix-ups show.
inline ImageState* MakeImage(uint16_t kind, int32_t width, int32_t height) {
  ImageState* s = orb::NewImageState();
  s->state = VS_OPENED;  // an opened image
  s->kind = static_cast<ImageKind>(kind);
  s->width = width;
  s->height = height;
  s->xDpi = s->yDpi = 300;
  s->storedLineWidth = orb::StoredLineWidthFor(kind, width);
  s->region = PixelRect{0, 0, width - 1, height - 1};
  s->bitsPerSample = 8;
  switch (kind) {
    case IK_RGB:
      s->samplesPerPixel = 3;
      s->bitsPerPixel = 24;
      s->photometric = PM_RGB;
      break;
    case IK_PALETTE256:
    case IK_PALETTE16:
      s->samplesPerPixel = 1;
      s->bitsPerPixel = 8;
      s->photometric = PM_PALETTE;
      for (int i = 0; i < 256; ++i) {
        s->palette[i] = PaletteEntry{static_cast<uint16_t>((i * 37) & 0xFF),
                                     static_cast<uint16_t>((i * 91 + 13) & 0xFF),
                                     static_cast<uint16_t>(255 - i)};
      }
      s->palette2 = s->palette;
      break;
    default:
      s->samplesPerPixel = 1;
      s->bitsPerPixel = 8;
      s->photometric = PM_BLACK_IS_ZERO;
      break;
  }
  return s;
}

// Line `y` of a kind, one byte per sample, as the streams hand it to their users.
inline std::vector<uint8_t> Line(const ImageState& image, int32_t y) {
  const size_t slw = static_cast<size_t>(image.storedLineWidth);
  std::vector<uint8_t> line(slw);
  for (size_t x = 0; x < slw; ++x) {
    uint32_t v = static_cast<uint32_t>(x * 7 + static_cast<size_t>(y) * 13 + (x * y) % 5);
    switch (image.kind) {
      case IK_BW:
      case IK_BW_FROM_GREEN:
        line[x] = ((x + static_cast<size_t>(y)) % 3 == 0) ? 0 : 255;
        break;
      case IK_PALETTE16:
        // The pad pixel of an odd width is 0, as the streams deliver it.
        line[x] = x < static_cast<size_t>(image.width) ? static_cast<uint8_t>(v & 0x0F) : 0;
        break;
      default:
        line[x] = static_cast<uint8_t>(v);
        break;
    }
  }
  return line;
}

class FakeNotifier : public orb::INotifier {
 public:
  void ShowMessage(int stringId, orb::MessageIcon, const std::vector<orb::MessageArg>& a) override {
    std::lock_guard<std::mutex> lock(m);
    ids.push_back(stringId);
    args = a;
  }
  void ShowText(std::string_view text, std::string_view, orb::MessageIcon) override {
    std::lock_guard<std::mutex> lock(m);
    texts.emplace_back(text);
  }
  std::mutex m;
  std::vector<int> ids;
  std::vector<orb::MessageArg> args;
  std::vector<std::string> texts;
};

class FakeDisplay : public orb::IDisplaySink {
 public:
  void UpdateTitle(ImageState*) override { ++titles; }
  void BeginProgressiveDisplay(ImageState*) override { ++begun; }
  void DrawIncomingBand(orb::BandStep step, const uint8_t* rows, int count) override {
    steps.push_back(step);
    if (step == kStepBand && rows && count == 1) {
      rowsSeen.emplace_back(rows, rows + rowBytes);
    }
  }
  void EndProgressiveDisplay() override { ++ended; }
  size_t rowBytes = 0;
  int titles = 0, begun = 0, ended = 0;
  std::vector<orb::BandStep> steps;
  std::vector<std::vector<uint8_t>> rowsSeen;
};

class FakePump : public orb::IMessagePump {
 public:
  void PumpMessages() override {
    ++calls;
    if (escAtCall > 0 && calls == escAtCall) CancelFlag.store(1);
  }
  int calls = 0;
  int escAtCall = 0;
};

// Installs the given fakes for one test and clears the process-wide flags around it.
class HostScope {
 public:
  explicit HostScope(orb::INotifier* n = nullptr, orb::IDisplaySink* d = nullptr,
                     orb::IMessagePump* p = nullptr) {
    orb::SetEngineHost(orb::EngineHost{n, d, p});
    CancelFlag.store(0);
    AppStatus.store(0);
  }
  ~HostScope() {
    orb::SetEngineHost(orb::EngineHost{});
    CancelFlag.store(0);
    AppStatus.store(0);
  }
};

// A clock whose sleeps run a hook instead of waiting (for a file that grows meanwhile).
class SleeperClock : public orb::Clock {
 public:
  int64_t NowMs() override { return now_.load(); }
  std::time_t WallTime() override { return 1'700'000'000; }
  void Sleep(Ms d) override {
    now_ += d.count();
    ++sleeps;
    if (onSleep) onSleep(sleeps.load());
  }
  std::function<void(int)> onSleep;
  std::atomic<int> sleeps{0};

 private:
  std::atomic<int64_t> now_{0};
};

}  // namespace streams_test

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>

#include "platform/imagemill/imagemill.h"
#include "tests/common/ProcessUtil.h"

namespace streams_test {

// What the imaging library decodes from a file, rows converted to the one-byte-a-sample
// form of the streams (1-bit through the colour table to 0/255, 4-bit to indices).
struct Decoded {
  int result = IM_ERR_PARAM;
  IM_BITMAPINFOHEADER header{};
  std::vector<IM_RGBQUAD> colors;
  int grey = 0;
  std::vector<std::vector<uint8_t>> rows;
};

inline int DecodeHeader(void* user, IM_BITMAPINFOHEADER* h, IM_RGBQUAD* c, int* grey) {
  auto* d = static_cast<Decoded*>(user);
  d->header = *h;
  size_t n = h->biBitCount <= 8 ? (size_t{1} << h->biBitCount) : 0;
  if (c) d->colors.assign(c, c + n);
  d->grey = grey ? *grey : 0;
  return 0;
}

inline int DecodeRow(void* user, uint8_t* line, int, int bytes) {
  auto* d = static_cast<Decoded*>(user);
  const size_t w = static_cast<size_t>(d->header.biWidth);
  std::vector<uint8_t> row;
  switch (d->header.biBitCount) {
    case 1: {
      auto lum = [](const IM_RGBQUAD& q) { return q.rgbRed + q.rgbGreen + q.rgbBlue; };
      const bool whiteFirst = d->colors.size() == 2 && lum(d->colors[0]) > lum(d->colors[1]);
      for (size_t x = 0; x < w; ++x) {
        bool bit = (line[x / 8] >> (7 - x % 8)) & 1;
        row.push_back((bit != whiteFirst) ? 255 : 0);
      }
      break;
    }
    case 4:
      for (size_t x = 0; x < w; ++x) row.push_back((x & 1) ? (line[x / 2] & 15) : (line[x / 2] >> 4));
      break;
    default:
      row.assign(line, line + bytes);
      break;
  }
  d->rows.push_back(std::move(row));
  return 0;
}

inline Decoded DecodeFile(const std::string& path) {
  Decoded d;
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return d;
  d.result = IM_ReadByCallback(fd, DecodeRow, DecodeHeader, &d);
  ::close(fd);
  return d;
}

using orbtest::FileSizeLimit;

}  // namespace streams_test

namespace streams_test {

// Writes `img`'s test lines (Line) into `path` as `code` straight through the imaging
// library, to make source files that only the library can decode.
struct EncodeJob {
  const ImageState* img;
};

inline int EncodeHeader(void* user, IM_BITMAPINFOHEADER* h, IM_RGBQUAD* c, int* grey) {
  const ImageState& img = *static_cast<EncodeJob*>(user)->img;
  *h = IM_BITMAPINFOHEADER{};
  h->biSize = 40;
  h->biWidth = img.width;
  h->biHeight = img.height;
  h->biPlanes = 1;
  h->biXPelsPerMeter = h->biYPelsPerMeter = static_cast<int32_t>(img.xDpi * 39.37);
  *grey = 0;
  switch (img.kind) {
    case IK_RGB: h->biBitCount = 24; break;
    case IK_GREY: h->biBitCount = 8; *grey = 1; break;
    case IK_PALETTE256: h->biBitCount = 8; break;
    case IK_PALETTE16: h->biBitCount = 4; break;
    case IK_BW: h->biBitCount = 1; break;
    default: return IM_STOPPED;
  }
  if (img.kind == IK_BW) {
    c[0] = IM_RGBQUAD{0, 0, 0, 0};
    c[1] = IM_RGBQUAD{255, 255, 255, 0};
  } else if (img.kind == IK_GREY) {
    for (int i = 0; i < 256; ++i) c[i] = IM_RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
  } else if (img.kind != IK_RGB) {
    for (int i = 0; i < 256; ++i) {
      c[i] = IM_RGBQUAD{uint8_t(img.palette[i].blue), uint8_t(img.palette[i].green),
                        uint8_t(img.palette[i].red), 0};
    }
  }
  return 0;
}

inline int EncodeRow(void* user, uint8_t* dest, int row, int bytes) {
  const ImageState& img = *static_cast<EncodeJob*>(user)->img;
  auto l = Line(img, row);
  std::memset(dest, 0, static_cast<size_t>(bytes));
  for (size_t x = 0; x < static_cast<size_t>(img.width); ++x) {
    if (img.kind == IK_BW) {
      if (l[x]) dest[x / 8] = static_cast<uint8_t>(dest[x / 8] | (0x80 >> (x % 8)));
    } else if (img.kind == IK_PALETTE16) {
      dest[x / 2] = static_cast<uint8_t>(dest[x / 2] | ((x & 1) ? l[x] : (l[x] << 4)));
    }
  }
  if (img.kind != IK_BW && img.kind != IK_PALETTE16) {
    std::memcpy(dest, l.data(), std::min(l.size(), static_cast<size_t>(bytes)));
  }
  return 0;
}

inline int EncodeFile(const std::string& path, uint32_t code, const ImageState& img) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) return IM_ERR_IO;
  EncodeJob job{&img};
  int r = IM_WriteByCallback(fd, code, EncodeRow, EncodeHeader, &job);
  ::close(fd);
  return r;
}

}  // namespace streams_test
