// Helpers of the imaging library's tests: synthetic images, writing and reading them
// through the library's callbacks, and pixel comparison.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/imagemill/imagemill.h"
#include "tests/common/ProcessUtil.h"

namespace milltest {

enum class Kind { Rgb, Grey, Pal256, Pal16, Bw, BwMinIsWhite };

inline const char* KindName(Kind k) {
  switch (k) {
    case Kind::Rgb: return "Rgb";
    case Kind::Grey: return "Grey";
    case Kind::Pal256: return "Pal256";
    case Kind::Pal16: return "Pal16";
    case Kind::Bw: return "Bw";
    case Kind::BwMinIsWhite: return "BwMinIsWhite";
  }
  return "?";
}

struct Image {
  IM_BITMAPINFOHEADER h{};
  std::vector<IM_RGBQUAD> colors;  // 256 entries of room
  int grey = 0;
  std::vector<std::vector<uint8_t>> rows;  // packed rows in the library's layout

  size_t RowBytes() const { return (static_cast<size_t>(h.biWidth) * h.biBitCount + 7) / 8; }
  std::array<uint8_t, 3> Pixel(int x, int y) const {
    const uint8_t* r = rows[static_cast<size_t>(y)].data();
    auto fromTable = [&](unsigned i) {
      if (h.biBitCount == 8 && grey) return std::array<uint8_t, 3>{uint8_t(i), uint8_t(i), uint8_t(i)};
      const IM_RGBQUAD& q = colors[i];
      return std::array<uint8_t, 3>{q.rgbRed, q.rgbGreen, q.rgbBlue};
    };
    switch (h.biBitCount) {
      case 1: return fromTable((r[x >> 3] >> (7 - (x & 7))) & 1);
      case 4: return fromTable((r[x >> 1] >> ((x & 1) ? 0 : 4)) & 15);
      case 8: return fromTable(r[x]);
      case 24: return {r[3 * x], r[3 * x + 1], r[3 * x + 2]};
      default: return {r[4 * x], r[4 * x + 1], r[4 * x + 2]};
    }
  }
};

inline Image MakeImage(Kind kind, int w, int h, int dpi = 300) {
  Image im;
  im.h.biSize = 40;
  im.h.biWidth = w;
  im.h.biHeight = h;
  im.h.biPlanes = 1;
  im.h.biXPelsPerMeter = static_cast<int32_t>(dpi * 39.37);
  im.h.biYPelsPerMeter = static_cast<int32_t>(dpi * 39.37);
  im.colors.assign(256, IM_RGBQUAD{0, 0, 0, 0});
  switch (kind) {
    case Kind::Rgb: im.h.biBitCount = 24; break;
    case Kind::Grey:
      im.h.biBitCount = 8;
      im.grey = 1;
      for (int i = 0; i < 256; ++i) im.colors[i] = IM_RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
      break;
    case Kind::Pal256:
      im.h.biBitCount = 8;
      for (int i = 0; i < 256; ++i)
        im.colors[i] = IM_RGBQUAD{uint8_t(i * 7), uint8_t(255 - i), uint8_t(i * 3 + 1), 0};
      break;
    case Kind::Pal16:
      im.h.biBitCount = 4;
      for (int i = 0; i < 16; ++i)
        im.colors[i] = IM_RGBQUAD{uint8_t(i * 16), uint8_t(200 - i * 9), uint8_t(i * 5 + 30), 0};
      break;
    case Kind::Bw:
      im.h.biBitCount = 1;
      im.colors[0] = IM_RGBQUAD{0, 0, 0, 0};
      im.colors[1] = IM_RGBQUAD{255, 255, 255, 0};
      break;
    case Kind::BwMinIsWhite:
      im.h.biBitCount = 1;
      im.colors[0] = IM_RGBQUAD{255, 255, 255, 0};
      im.colors[1] = IM_RGBQUAD{0, 0, 0, 0};
      break;
  }
  im.rows.assign(static_cast<size_t>(h), std::vector<uint8_t>(im.RowBytes(), 0));
  for (int y = 0; y < h; ++y) {
    uint8_t* r = im.rows[static_cast<size_t>(y)].data();
    for (int x = 0; x < w; ++x) {
      switch (im.h.biBitCount) {
        case 24:  // smooth, so that lossy codecs stay close
          r[3 * x] = uint8_t(x * 255 / (w > 1 ? w - 1 : 1));
          r[3 * x + 1] = uint8_t(y * 255 / (h > 1 ? h - 1 : 1));
          r[3 * x + 2] = uint8_t(((x + y) * 128) / (w + h) + 64);
          break;
        case 8:
          r[x] = im.grey ? uint8_t((x * 2 + y) * 255 / (2 * w + h)) : uint8_t((x * 13 + y * 7) & 255);
          break;
        case 4:
          r[x >> 1] |= uint8_t(((x + 3 * y) & 15) << ((x & 1) ? 0 : 4));
          break;
        case 1: {
          const bool on = ((x / 3 + y / 2) % 3 == 0) || x == y;
          if (on) r[x >> 3] |= uint8_t(0x80 >> (x & 7));
          break;
        }
      }
    }
  }
  return im;
}

class TempDir {
 public:
  TempDir() {
    std::string t = ::testing::TempDir() + "/millXXXXXX";
    if (::mkdtemp(t.data())) path_ = t;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct WriteCtx {
  const Image* im;
  int stopHeader = 0;
  int stopAtRow = -1;
  int rowsAsked = 0;
  int lastBytes = 0;
};

inline int WriteHeaderCb(void* user, IM_BITMAPINFOHEADER* h, IM_RGBQUAD* colors, int* grey) {
  auto* c = static_cast<WriteCtx*>(user);
  if (c->stopHeader) return c->stopHeader;
  *h = c->im->h;
  std::memcpy(colors, c->im->colors.data(), 256 * sizeof(IM_RGBQUAD));
  *grey = c->im->grey;
  return 0;
}

inline int WriteLinesCb(void* user, uint8_t* line, int row, int bytes) {
  auto* c = static_cast<WriteCtx*>(user);
  if (row == c->stopAtRow) return IM_STOPPED;
  ++c->rowsAsked;
  c->lastBytes = bytes;
  const auto& src = c->im->rows[static_cast<size_t>(row)];
  std::memcpy(line, src.data(), std::min<size_t>(static_cast<size_t>(bytes), src.size()));
  return 0;
}

inline int OpenNew(const std::string& path) { return ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644); }

inline int WriteImage(const std::string& path, uint32_t format, const Image& im, WriteCtx* ctxOut = nullptr) {
  WriteCtx local{&im};
  WriteCtx& ctx = ctxOut ? *ctxOut : local;
  ctx.im = &im;
  const int fd = OpenNew(path);
  if (fd < 0) return -100;
  const int rc = IM_WriteByCallback(fd, format, WriteLinesCb, WriteHeaderCb, &ctx);
  ::close(fd);
  return rc;
}

struct ReadCtx {
  Image im;
  int headerCalls = 0;
  int stopHeader = 0;
  int stopAtRow = -1;
  int lastRow = -1;
  bool order = true;
};

inline int ReadHeaderCb(void* user, IM_BITMAPINFOHEADER* h, IM_RGBQUAD* colors, int* grey) {
  auto* c = static_cast<ReadCtx*>(user);
  ++c->headerCalls;
  c->im.h = *h;
  c->im.colors.assign(colors, colors + 256);
  c->im.grey = *grey;
  return c->stopHeader;
}

inline int ReadLinesCb(void* user, uint8_t* line, int row, int bytes) {
  auto* c = static_cast<ReadCtx*>(user);
  if (row != c->lastRow + 1) c->order = false;
  c->lastRow = row;
  if (row == c->stopAtRow) return IM_STOPPED;
  c->im.rows.emplace_back(line, line + bytes);
  return 0;
}

inline int ReadImage(const std::string& path, ReadCtx* ctx) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return -100;
  const int rc = IM_ReadByCallback(fd, ReadLinesCb, ReadHeaderCb, ctx);
  ::close(fd);
  return rc;
}

// Largest and mean absolute channel difference between two images of one size.
struct Diff {
  int max = 0;
  double mean = 0;
};
inline Diff Compare(const Image& a, const Image& b) {
  Diff d;
  long long sum = 0, n = 0;
  for (int y = 0; y < a.h.biHeight; ++y)
    for (int x = 0; x < a.h.biWidth; ++x) {
      const auto p = a.Pixel(x, y), q = b.Pixel(x, y);
      for (int c = 0; c < 3; ++c) {
        const int e = std::abs(int(p[c]) - int(q[c]));
        d.max = std::max(d.max, e);
        sum += e;
        ++n;
      }
    }
  d.mean = n ? double(sum) / double(n) : 0;
  return d;
}

inline bool HaveTool(const char* name) {
  const std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

// Runs a shell command; returns its exit status and fills `out` with its standard output.
inline int RunTool(const std::string& cmd, std::string* out = nullptr) { return orbtest::ShellExit(cmd + " 2>&1", out); }

}  // namespace milltest
