// Writes the benchmark's test image: a wide-format technical drawing scan with paper tone,
// grid and drawing lines, text-like strokes, coloured stamps, sensor noise and dust specks.
// Deterministic: the same size always gives the same bytes. 600 dpi, as a metre-wide scan.
//   make_test_image WIDTH HEIGHT OUTDIR   -> OUTDIR/rgb.tif, grey.tif, bilevel.tif
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/tools/TiffLines.h"

namespace {

inline uint32_t Hash(uint32_t a, uint32_t b, uint32_t c = 0) {
  uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u ^ (c + 0x165667B1u) * 0xC2B2AE3Du;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  h *= 0x297A2D39u;
  h ^= h >> 15;
  return h;
}

struct Px {
  int r, g, b;
};

Px Pixel(uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
  // Paper: warm white with a slow shading across the width.
  Px p{238 - static_cast<int>(12ull * x / w), 234 - static_cast<int>(8ull * y / h), 222};
  // Thin grid every 120 px, heavy drawing lines every 600 px.
  if (x % 120 == 0 || y % 120 == 0) p = {170, 180, 200};
  if (x % 600 < 3 || y % 600 < 3) p = {40, 45, 90};
  // Diagonal strokes of the drawing.
  if ((x + y) % 1700 < 2 || (x + 3 * y) % 2900 < 3) p = {30, 30, 30};
  // Text blocks: 5x7 glyphs of 4x5-pixel cells on a 28 x 44 pitch.
  const uint32_t by = y % 1200, bx = x % 3000;
  if (by >= 150 && by < 500 && bx >= 200 && bx < 2600) {
    const uint32_t cx = (x - 200) / 28, cy = (y - 150) / 44;
    const uint32_t gx = (x - 200) % 28, gy = (y - 150) % 44;
    if (gx < 20 && gy < 35) {
      const uint32_t glyph = Hash(cx, cy, 7) % 61;
      if (glyph < 55 && (Hash(glyph, (gy / 5) * 5 + gx / 4, 11) & 3) == 0) p = {20, 20, 25};
    }
  }
  // Red and blue stamps.
  if (x % 5000 >= 4000 && x % 5000 < 4600 && y % 2500 >= 1800 && y % 2500 < 2200) {
    if ((x / 6 + y / 6) % 3 != 0) p = (x / 5000) % 2 ? Px{200, 40, 40} : Px{50, 70, 190};
  }
  // Sensor noise, and dust specks (1 to 3 pixels).
  const uint32_t n = Hash(x, y);
  const int d = static_cast<int>(n % 13) - 6;
  p.r += d;
  p.g += d;
  p.b += d;
  const uint32_t sx = x / 3, sy = y / 3;
  if (Hash(sx, sy, 99) % 40000 == 0 && (Hash(x, y, 5) & 1)) p = {15, 15, 15};
  p.r = std::clamp(p.r, 0, 255);
  p.g = std::clamp(p.g, 0, 255);
  p.b = std::clamp(p.b, 0, 255);
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s WIDTH HEIGHT OUTDIR\n", argv[0]);
    return 2;
  }
  const uint32_t w = static_cast<uint32_t>(std::atol(argv[1]));
  const uint32_t h = static_cast<uint32_t>(std::atol(argv[2]));
  const std::string dir = argv[3];
  if (w == 0 || h == 0) return 2;
  orb::bench::TiffLineWriter rgb, grey, bilevel;
  if (!rgb.Open(dir + "/rgb.tif", w, h, 3) || !grey.Open(dir + "/grey.tif", w, h, 1) ||
      !bilevel.Open(dir + "/bilevel.tif", w, h, 1, 1)) {
    std::fprintf(stderr, "cannot create images in %s\n", dir.c_str());
    return 1;
  }
  // A scan names its resolution; the program reads such a file directly as its raw lines
  // (without one it would decode it through the imaging library into a raw file first).
  for (auto* f : {&rgb, &grey, &bilevel}) f->SetResolution(600.0f);
  const uint32_t band = 64;
  std::vector<uint8_t> c(static_cast<size_t>(w) * 3 * band), g(static_cast<size_t>(w) * band),
      b(static_cast<size_t>(w) * band);
  const unsigned threads = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
  for (uint32_t y0 = 0; y0 < h; y0 += band) {
    const uint32_t rows = std::min(band, h - y0);
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t)
      pool.emplace_back([&, t] {
        for (uint32_t r = t; r < rows; r += threads)
          for (uint32_t x = 0; x < w; ++x) {
            const Px p = Pixel(x, y0 + r, w, h);
            const size_t i = static_cast<size_t>(r) * w + x;
            c[3 * i] = static_cast<uint8_t>(p.r);
            c[3 * i + 1] = static_cast<uint8_t>(p.g);
            c[3 * i + 2] = static_cast<uint8_t>(p.b);
            const int v = (p.r * 299 + p.g * 587 + p.b * 114) / 1000;
            g[i] = static_cast<uint8_t>(v);
            b[i] = v < 140 ? 0 : 255;
          }
      });
    for (auto& t : pool) t.join();
    for (uint32_t r = 0; r < rows; ++r) {
      if (!rgb.Write(&c[static_cast<size_t>(r) * w * 3]) || !grey.Write(&g[static_cast<size_t>(r) * w]) ||
          !bilevel.Write(&b[static_cast<size_t>(r) * w])) {
        std::fprintf(stderr, "write failed\n");
        return 1;
      }
    }
  }
  return rgb.Close() && grey.Close() && bilevel.Close() ? 0 : 1;
}
