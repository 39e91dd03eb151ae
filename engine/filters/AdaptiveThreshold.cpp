#include "engine/filters/AdaptiveThreshold.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "engine/filters/FilterCommon.h"

CIAT::CIAT() = default;
CIAT::~CIAT() = default;

bool CIAT::Init(int window, int half, size_t width, int ringLines, int percent) {
  return Init(window, half, width, ringLines, percent, 0, 255);
}

bool CIAT::Init(int window, int half, size_t width, int ringLines, int percent, uint8_t darkLimit,
                uint8_t upperLimit) {
  window_ = std::max(window, 1);
  half_ = std::max(half, 0);
  width_ = width;
  // Two lines at least: the ring cycles through R - 1 slots.
  ringLines_ = std::max(ringLines, 2);
  percent_ = percent;
  counter_ = 2 * half_;
  writeSlot_ = readSlot_ = 0;
  received_ = 0;
  darkLimit_ = darkLimit;
  lightOut_ = 255;
  darkOut_ = 0;
  upperLimit_ = upperLimit;
  bool ok = AllocateBuffers();
  ok = BuildTable() && ok;
  return ok;
}

bool CIAT::AllocateBuffers() {
  try {
    size_t h = static_cast<size_t>((window_ + 1) / 2);
    size_t ringBytes = 0;
    if (!orb::MulSize(static_cast<size_t>(ringLines_), width_, &ringBytes)) throw std::bad_alloc();
    ring_.assign(ringBytes, 0);
    colSums_.assign(width_ + 2 * h + 1, 0);
    allocWidth_ = width_;
    return true;
  } catch (const std::exception&) {  // bad_alloc, or a size beyond any vector
    std::vector<uint8_t>().swap(ring_);
    std::vector<int32_t>().swap(colSums_);
    allocWidth_ = 0;
    return false;
  }
}

bool CIAT::BuildTable() {
  try {
    table_.assign(256, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return MakeThresholdTable(percent_);
}

bool CIAT::MakeThresholdTable(int percent) {
  percent_ = percent;
  if (table_.size() != 256) return false;
  for (int i = 0; i < 256; ++i) {
    double v = i - static_cast<double>(percent * i) / 100.0;
    // A percent beyond 0..100 would give values outside a byte; clamp them.
    table_[static_cast<size_t>(i)] = static_cast<uint8_t>(std::clamp(static_cast<int>(v), 0, 255));
  }
  return true;
}

void CIAT::SwapOutputs() {
  darkOut_ = 255;
  lightOut_ = 0;
}

void CIAT::ZeroBuffers() {
  std::fill(ring_.begin(), ring_.end(), 0);
  std::fill(colSums_.begin(), colSums_.end(), 0);
}

void CIAT::SetWidth(size_t width) { width_ = std::min(width, allocWidth_); }

void CIAT::MakeOutputLine(const uint8_t* p, uint8_t* out) {
  const size_t W = width_;
  const size_t h = std::min(static_cast<size_t>((window_ + 1) / 2), W);
  const int64_t area = static_cast<int64_t>(window_) * ringLines_;
  const int32_t* cs = colSums_.data();
  const uint8_t* table = table_.data();
  int64_t sum = 0;
  for (size_t i = 0; i < h; ++i) sum += cs[i];
  bool dark = false;
  int counter = counter_;
  const int reset = 2 * half_;
  for (size_t x = 0; x < W; ++x) {
    int64_t m = std::min<int64_t>(sum / area, 255);
    int t = table[m];
    int v = p[x];
    uint8_t o = lightOut_;
    if ((v <= t || v < darkLimit_) && v < upperLimit_) {
      o = darkOut_;
      dark = true;
      counter = reset;
    } else if (dark) {
      if (v <= t + counter / 2) {
        o = darkOut_;
        if (counter > 0) --counter;
      } else {
        dark = false;
        counter = reset;
      }
    }
    out[x] = o;
    if (x < h) {
      sum += cs[x + h];
    } else if (x + h < W) {
      sum += cs[x + h] - cs[x - h];
    }
  }
  counter_ = counter;
}

bool CIAT::ThresholdRows(const uint8_t* src, uint8_t* dst, size_t lines) {
  if (src == nullptr || dst == nullptr) return false;
  if (lines == 0) return true;
  if (ring_.empty() || table_.size() != 256 || colSums_.size() < width_) return false;
  const size_t W = width_;
  const int slots = ringLines_ - 1;
  for (size_t l = 0; l < lines; ++l) {
    const uint8_t* in = src + l * W;
    uint8_t* out = dst + l * W;
    uint8_t* slot = ring_.data() + static_cast<size_t>(writeSlot_) * W;
    int32_t* cs = colSums_.data();
    for (size_t x = 0; x < W; ++x) {
      cs[x] += static_cast<int32_t>(in[x]) - static_cast<int32_t>(slot[x]);
      slot[x] = in[x];
    }
    if (received_ >= ringLines_ / 2) {
      MakeOutputLine(ring_.data() + static_cast<size_t>(readSlot_) * W, out);
      if (++readSlot_ >= slots) readSlot_ = 0;
    } else {
      std::memset(out, lightOut_, W);
    }
    if (++writeSlot_ >= slots) writeSlot_ = 0;
    ++received_;
  }
  return true;
}
