// Image synthesis of the simulated scanner: one synthetic sheet rendered at the window's
// resolution, composition and bit depth, split into camera segments when the host
// stitches.
#include <algorithm>
#include <cstring>

#include "platform/sim/SimScanner.h"

namespace orb::sim {

namespace {

constexpr std::array<Rgb, 6> kBlocks = {{{220, 30, 30},
                                         {30, 180, 60},
                                         {40, 60, 200},
                                         {230, 210, 40},
                                         {40, 200, 210},
                                         {200, 50, 180}}};

uint32_t Hash(int64_t a, int64_t b) {
  uint64_t h = static_cast<uint64_t>(a) * 0x9E3779B97F4A7C15ULL ^
               (static_cast<uint64_t>(b) + 0x632BE59BD9B4E019ULL) * 0xC2B2AE3D27D4EB4FULL;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ULL;
  h ^= h >> 32;
  return static_cast<uint32_t>(h);
}

int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

}  // namespace

const std::array<Rgb, 6>& BlockColors() { return kBlocks; }

Rgb SheetColor(const SheetPattern& s, int64_t x, int64_t y) {
  const int64_t u = x - s.paperLeft;
  const int64_t v = y - s.paperTop;
  if (u < 0 || v < 0 || u >= s.paperWidth || v >= s.paperLength)
    return {s.backingGrey, s.backingGrey, s.backingGrey};
  const int64_t cu = u / 1200, cv = v / 1200, iu = u % 1200, iv = v % 1200;
  if (iu >= 300 && iu < 900 && iv >= 300 && iv < 900)
    return kBlocks[static_cast<size_t>((cu + 2 * cv) % 6)];
  const uint32_t h = Hash(u / 24, v / 24);
  auto tone = [&](uint32_t bits) {
    return static_cast<uint8_t>(std::max<int>(0, s.paperGrey - static_cast<int>(bits & 63)));
  };
  return {tone(h), tone(h >> 6), tone(h >> 12)};
}

Rgb SamplePixel(const SheetPattern& sheet, int xRes, int yRes, int64_t px, int64_t py) {
  // Centre of the pixel, in 1/1200 inch.
  const int64_t x = FloorDiv((2 * px + 1) * 600, xRes);
  const int64_t y = FloorDiv((2 * py + 1) * 600, yRes);
  return SheetColor(sheet, x, y);
}

uint32_t SimScanner::LineBytesLocked() const {
  if (!window_.valid) return 0;
  const uint32_t w = static_cast<uint32_t>(window_.width);
  switch (window_.bitsPerPixel) {
    case 24: return 3 * w;
    case 8: return w;
    case 4: return (w + 1) / 2;
    default: return (w + 7) / 8;
  }
}

int SimScanner::LineCountLocked() const {
  if (!window_.valid) return 0;
  // The medium ends after the paper plus the run-on (the configured one and the run-on
  // parameter in thousandths of an inch).
  const int64_t end = int64_t{config_.sheet.paperTop} + config_.sheet.paperLength +
                      config_.runOn + int64_t{runOnParam_} * 12 / 10;
  const int64_t linesToEnd = (end * window_.yRes + 1199) / 1200 - window_.upperLeftY;
  return static_cast<int>(std::clamp<int64_t>(linesToEnd, 0, window_.length));
}

void SimScanner::PrepareScanLocked() {
  lineBytes_ = LineBytesLocked();
  lineCount_ = LineCountLocked();
  segments_.clear();
  const int W = window_.width;
  const int S = config_.opticalDpi;
  const int xr = window_.xRes;
  if (window_.libraryStitches && config_.cameras >= 2 && S > 0) {
    // The host asked for overlapping camera strips: every seam inside the window carries
    // `w` pixels of each camera beyond its boundary, 2w pixels in all per seam.
    const int w = xr * 40 / S;
    const int c = config_.pixelsAtOptical / config_.cameras;
    for (int t = config_.cameras - 1; t >= 0; --t) {
      const int content = W - 2 * w * t;
      if (content <= 0) continue;
      std::vector<int> bounds;
      for (int j = 1; j < config_.cameras; ++j) {
        const int b = static_cast<int>(int64_t{j} * c * xr / S) - window_.upperLeftX;
        if (b > 0 && b < content) bounds.push_back(b);
      }
      if (static_cast<int>(bounds.size()) != t) continue;
      int start = 0, displacement = 0;
      for (int k = 0; k <= t; ++k) {
        const int end = k < t ? bounds[static_cast<size_t>(k)] + w : content;
        segments_.push_back({start, end - start, displacement});
        if (k < t) {
          start = bounds[static_cast<size_t>(k)] - w;
          displacement += config_.seamShift[static_cast<size_t>(std::min(k, 4))];
        }
      }
      break;
    }
  }
  if (segments_.empty()) segments_.push_back({0, W, 0});
}

std::vector<uint8_t> SimScanner::RenderLineLocked(int line) const {
  const uint32_t bytes = LineBytesLocked();
  std::vector<uint8_t> out(bytes, 0);
  if (!window_.valid) return out;
  const int bpp = window_.bitsPerPixel;
  const int threshold = window_.threshold ? window_.threshold : 128;
  const bool palette = window_.composition == 3 && colorTable_.size() == 65536;
  const int64_t py = int64_t{window_.upperLeftY} + line;
  int x = 0;
  for (const auto& seg : segments_) {
    for (int i = 0; i < seg.length; ++i, ++x) {
      if (x >= window_.width) break;
      const int64_t px = int64_t{window_.upperLeftX} + seg.contentStart + i + seg.displacement;
      const Rgb c = SamplePixel(config_.sheet, window_.xRes, window_.yRes, px, py);
      // The tone tables take 12-bit values.
      const uint8_t r = tone_[0][c.r * 16 + 8];
      const uint8_t g = tone_[1][c.g * 16 + 8];
      const uint8_t b = tone_[2][c.b * 16 + 8];
      const uint8_t grey = static_cast<uint8_t>((c.r * 299 + c.g * 587 + c.b * 114) / 1000);
      const uint8_t toned = tone_[1][grey * 16 + 8];
      switch (bpp) {
        case 24:
          out[3 * static_cast<size_t>(x)] = r;
          out[3 * static_cast<size_t>(x) + 1] = g;
          out[3 * static_cast<size_t>(x) + 2] = b;
          break;
        case 8:
          out[static_cast<size_t>(x)] =
              palette ? colorTable_[static_cast<size_t>((r >> 3) * 2048 + (g >> 2) * 32 + (b >> 3))]
                      : toned;
          break;
        case 4:
          out[static_cast<size_t>(x) / 2] |=
              static_cast<uint8_t>((toned >> 4) << (x % 2 ? 0 : 4));
          break;
        default:
          // 1 white, 0 black, most significant bit first.
          if (toned > threshold) out[static_cast<size_t>(x) / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
          break;
      }
    }
  }
  return out;
}

}  // namespace orb::sim
