#include "engine/filters/Sharpen.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/ImageState.h"
#include "engine/filters/FilterCommon.h"

namespace {

bool Filters(int32_t kind) { return kind == IK_RGB || kind == IK_GREY || kind == IK_GREY_FROM_GREEN; }

using U8 = uint8_t __attribute__((vector_size(8)));
using I16 = int16_t __attribute__((vector_size(16)));
constexpr size_t kLanes = 8;

inline I16 Widen(const uint8_t* p) {
  U8 v;
  std::memcpy(&v, p, sizeof v);
  return __builtin_convertvector(v, I16);
}

// (s - 8c) x Level / 10 truncated toward zero, eight samples at a time in 16-bit lanes
// (|diff x Level| <= 20400). Used for the levels where this equals the double-precision
// product truncated (every level but +-7, where 0.7 is not exact; the tests compare both
// for every difference).
void SharpenLanesImpl(const uint8_t* a, const uint8_t* b, const uint8_t* c, size_t s, size_t i,
                      uint8_t* out, int16_t level) {
  I16 centre = Widen(b + i);
  I16 nine = Widen(a + i - s) + Widen(a + i) + Widen(a + i + s) + Widen(b + i - s) + centre +
             Widen(b + i + s) + Widen(c + i - s) + Widen(c + i) + Widen(c + i + s);
  I16 diff = nine - centre * static_cast<int16_t>(9);
  I16 d = (diff * level) / static_cast<int16_t>(10);
  I16 v = centre - d;
  const I16 zero = {};
  const I16 top = zero + static_cast<int16_t>(255);
  v = v < zero ? zero : v;
  v = v > top ? top : v;
  U8 r = __builtin_convertvector(v, U8);
  std::memcpy(out + i, &r, sizeof r);
}

}  // namespace

CSharpenLineFilter::CSharpenLineFilter(size_t width, const orb::SharpenRecord* settings,
                                       int32_t kind)
    : settings_(settings), kind_(kind), width_(width) {
  // Levels beyond the slider's range come only from damaged files.
  int level = settings ? std::clamp(settings->Level, -10, 10) : 0;
  k_ = level * 10.0 / 100.0;
  level_ = static_cast<int16_t>(level);
  exactDivide_ = true;
  for (int diff = -2040; diff <= 2040; ++diff) {
    int d = static_cast<int>(diff * k_);
    delta_[static_cast<size_t>(diff + 2040)] = static_cast<int16_t>(d);
    if (d != diff * level / 10) exactDivide_ = false;
  }
  try {
    size_t bytes = 0;
    if (!orb::MulSize(3, width, &bytes)) throw std::bad_alloc();
    ring_.assign(bytes, 255);
    ok_ = true;
  } catch (const std::exception&) {  // bad_alloc, or a size beyond any vector
    Free();
  }
}

void CSharpenLineFilter::SharpenLanes(const uint8_t* a, const uint8_t* b, const uint8_t* c,
                                      size_t stride, size_t i, uint8_t* out) const {
  SharpenLanesImpl(a, b, c, stride, i, out, level_);
}

void CSharpenLineFilter::ProcessLine(uint8_t* line) {
  const size_t W = width_;
  if (firstLine_) {
    for (int i = 0; i < 3; ++i) std::memcpy(Ring(i), line, W);
    firstLine_ = false;
  }
  head_ = (head_ + 1) % 3;
  std::memcpy(Ring(2), line, W);

  const size_t bpp = kind_ == IK_RGB ? 3 : 1;
  const size_t pixels = W / bpp;
  if (pixels >= 3) {
    const uint8_t* a = Ring(0);
    const uint8_t* b = Ring(1);
    const uint8_t* c = Ring(2);
    const size_t begin = bpp, end = (pixels - 1) * bpp;
    size_t done = begin;
    if (exactDivide_ && end - begin >= kLanes) {
      auto one = [&](size_t i) { SharpenLanes(a, b, c, bpp, i, line); };
      for (; done + kLanes <= end; done += kLanes) one(done);
      if (done < end) one(end - kLanes);  // overlapping last step: outputs are independent
      done = end;
    }
    const int16_t* delta = delta_.data() + 2040;
    for (size_t i = done; i < end; ++i) {
      int centre = b[i];
      int nine = a[i - bpp] + a[i] + a[i + bpp] + b[i - bpp] + centre + b[i + bpp] + c[i - bpp] +
                 c[i] + c[i + bpp];
      int diff = nine - 9 * centre;  // sum of the 8 neighbours - 8 x centre
      line[i] = orb::ClampByte(centre - delta[diff]);
    }
  }
  ++counter_;
  ++fed_;
}

int32_t CSharpenLineFilter::Process(uint8_t* band, size_t length) {
  if (!ok_ || !Filters(kind_) || band == nullptr || width_ == 0) return counter_;
  size_t lines = length / width_;
  for (size_t l = 0; l < lines; ++l) ProcessLine(band + l * width_);
  return counter_;
}

int CSharpenLineFilter::Delay() const { return ok_ && Filters(kind_) ? 1 : 0; }

int64_t CSharpenLineFilter::Flush(uint8_t* out, size_t outLength) {
  if (Delay() == 0) return 0;
  return orb::FlushDelayedLines([this](uint8_t* line, size_t n) { Process(line, n); },
                                [this](uint8_t* line) { std::memcpy(line, Ring(2), width_); },
                                fed_, 1, width_, out, outLength);
}

void CSharpenLineFilter::Free() {
  std::vector<uint8_t>().swap(ring_);
  ok_ = false;
}
