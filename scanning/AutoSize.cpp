#include "scanning/AutoSize.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

CAutoSize::CAutoSize(int32_t lineBytes, int32_t resolution)
    : lineBytes_(std::max(lineBytes, 0)), resolution_(resolution) {
  lines_.assign(static_cast<size_t>(lineBytes_) * kCapacity, 0);
}

CAutoSize::~CAutoSize() = default;

void CAutoSize::AddLine(const uint8_t* line) {
  if (linesAdded_ >= capacity_ || !line) return;
  std::memcpy(lines_.data() + static_cast<size_t>(linesAdded_) * lineBytes_, line,
              static_cast<size_t>(lineBytes_));
  ++linesAdded_;
}

void CAutoSize::DetectEdges() {
  const int32_t w = lineBytes_;
  leftEdge_ = rightEdge_ = -1;
  if (w < 2) return;
  const int n = kCapacity / 4;
  std::vector<int32_t> d(static_cast<size_t>(w));
  for (int32_t x = 0; x < w; ++x) {
    int64_t top = 0, bottom = 0;
    for (int y = 0; y < n; ++y) {
      top += lines_[static_cast<size_t>(y) * w + x];
      bottom += lines_[static_cast<size_t>(kCapacity - n + y) * w + x];
    }
    d[x] = std::abs(static_cast<int32_t>(top / n) - static_cast<int32_t>(bottom / n));
  }
  // Signed neighbour differences, added up.
  int64_t diffSum = 0;
  for (int32_t x = 1; x < w; ++x) diffSum += d[x] - d[x - 1];
  int32_t t = static_cast<int32_t>(static_cast<double>(diffSum) / w + 0.5);
  if (t < 5) t = 5;

  int32_t histogram[256] = {};
  for (int32_t x = 1; x < w; ++x) {
    d[x] = d[x] > 2 * t ? d[x] - t : 0;
    ++histogram[std::clamp(d[x], 0, 255)];
  }
  int64_t sum = 0;
  for (int32_t x = 0; x < w; ++x) sum += d[x];
  const int32_t m = static_cast<int32_t>(static_cast<double>(sum) / w + 0.5);
  int mode = 0;
  for (int i = 1; i < 256; ++i)
    if (histogram[i] > histogram[mode]) mode = i;
  if (t < mode) t += m;
  threshold_ = t;

  const int32_t perHundredth = std::max(resolution_ / 100, 1);
  for (int32_t x = 1; x <= w - 2; ++x)
    if (d[x] > t) {
      leftEdge_ = x / perHundredth;
      break;
    }
  for (int32_t x = w - 1; x >= 0; --x)
    if (d[x] > t) {
      rightEdge_ = x / perHundredth;
      break;
    }
}

void CAutoSize::WidenEdges(int32_t* left, int32_t* right) {
  if (leftEdge_ >= 0 && rightEdge_ >= 0) {
    const int32_t perHundredth = std::max(resolution_ / 100, 1);
    leftEdge_ = std::max(0, leftEdge_ - 20);
    rightEdge_ = std::min((lineBytes_ - 1) / perHundredth, rightEdge_ + 20);
  }
  if (left) *left = leftEdge_;
  if (right) *right = rightEdge_;
}

bool CAutoSize::DetectPaperEnd(const uint8_t* block, int32_t byteCount, int32_t widthPx,
                               uint16_t kind, const uint8_t* colourTable) {
  if (!block || widthPx < 1 || byteCount <= 0) return false;
  const int64_t pixelBytes = kind == 0 ? 3 : 1;
  const int64_t lines = byteCount / (pixelBytes * widthPx);
  if (lines <= 0) return false;
  if (columnMeans_.size() != static_cast<size_t>(widthPx)) columnMeans_.assign(widthPx, 0);
  std::fill(columnMeans_.begin(), columnMeans_.end(), 0);
  const bool palette = (kind == 1 || kind == 2) && colourTable;
  const int entries = kind == 2 ? 16 : 256;
  for (int64_t y = 0; y < lines; ++y) {
    const uint8_t* line = block + y * pixelBytes * widthPx;
    for (int32_t x = 0; x < widthPx; ++x) {
      int32_t v = 0;
      if (kind == 0) {
        const uint8_t* p = line + 3 * static_cast<int64_t>(x);
        v = (p[0] + p[1] + p[2]) / 3;
      } else if (palette) {
        const int idx = line[x] < entries ? line[x] : entries - 1;
        const uint8_t* c = colourTable + 4 * idx;
        v = (c[0] + c[1] + c[2]) / 3;
      } else if (kind == 3) {
        v = line[x];
      }
      columnMeans_[x] += v;
    }
  }
  for (auto& m : columnMeans_) m /= lines;
  for (int32_t x = 1; x <= widthPx - 2; ++x) {
    if (std::llabs(columnMeans_[x] - columnMeans_[x - 1]) > 2 * int64_t{threshold_}) {
      paperSeen_ = 1;
      return false;
    }
  }
  if (paperSeen_) {
    paperSeen_ = 0;
    return true;
  }
  return false;
}

namespace orb {
namespace {
std::unique_ptr<CAutoSize>& Slot() {
  static std::unique_ptr<CAutoSize> detector;
  return detector;
}
}  // namespace

CAutoSize* CurrentAutoSize() { return Slot().get(); }
void ReplaceAutoSize(CAutoSize* detector) { Slot().reset(detector); }

}  // namespace orb
