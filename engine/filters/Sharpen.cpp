#include "engine/filters/Sharpen.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/ImageState.h"
#include "engine/filters/FilterCommon.h"

namespace {
bool Filters(int32_t kind) { return kind == IK_RGB || kind == IK_GREY || kind == IK_GREY_FROM_GREEN; }
}  // namespace

CSharpenLineFilter::CSharpenLineFilter(size_t width, const orb::SharpenRecord* settings,
                                       int32_t kind)
    : settings_(settings), kind_(kind), width_(width) {
  // Levels beyond the slider's range come only from damaged files.
  int level = settings ? std::clamp(settings->Level, -10, 10) : 0;
  k_ = level * 10.0 / 100.0;
  for (int diff = -2040; diff <= 2040; ++diff)
    delta_[static_cast<size_t>(diff + 2040)] = static_cast<int16_t>(static_cast<int>(diff * k_));
  try {
    size_t bytes = 0;
    if (!orb::MulSize(3, width, &bytes)) throw std::bad_alloc();
    ring_.assign(bytes, 255);
    colSum_.assign(width, 0);
    ok_ = true;
  } catch (const std::exception&) {  // bad_alloc, or a size beyond any vector
    Free();
  }
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
    uint16_t* cs = colSum_.data();
    const size_t end = pixels * bpp;
    for (size_t i = 0; i < end; ++i) cs[i] = static_cast<uint16_t>(a[i] + b[i] + c[i]);
    const int16_t* delta = delta_.data() + 2040;
    for (size_t i = bpp; i < end - bpp; ++i) {
      int centre = b[i];
      int nine = cs[i - bpp] + cs[i] + cs[i + bpp];
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
  std::vector<uint16_t>().swap(colSum_);
  ok_ = false;
}
