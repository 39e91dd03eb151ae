#include "color_control/MedianCutQuantizer.h"

#include <algorithm>
#include <new>

namespace {

constexpr int kBlock0 = 4, kBlock1 = 8, kBlock2 = 4;
constexpr int kBlockCells = kBlock0 * kBlock1 * kBlock2;
// Cell size of each axis in 8-bit units.
constexpr int kStep[3] = {8, 4, 8};
constexpr int32_t kFar = 0x7FFFFFFF;

int32_t* Lo(CMedianCutQuantizer::Box& b, int axis) { return &b.c0min + 2 * axis; }
int32_t* Hi(CMedianCutQuantizer::Box& b, int axis) { return &b.c0min + 2 * axis + 1; }
int32_t LoOf(const CMedianCutQuantizer::Box& b, int axis) { return (&b.c0min)[2 * axis]; }
int32_t HiOf(const CMedianCutQuantizer::Box& b, int axis) { return (&b.c0min)[2 * axis + 1]; }

int32_t Square(int32_t v) { return v * v; }

}  // namespace

CMedianCutQuantizer::CMedianCutQuantizer(int bitsPerPixel) : bits_(bitsPerPixel) {
  if (bits_ == 16 || bits_ == 24) histogram_.reset(new (std::nothrow) uint32_t[kCells]());
}

CMedianCutQuantizer::~CMedianCutQuantizer() = default;

void CMedianCutQuantizer::AddPixels(const uint8_t* pixels, int64_t pixelsPerLine, int64_t lines) {
  if (bits_ != 24 || !histogram_ || !pixels || pixelsPerLine <= 0 || lines <= 0) return;
  uint32_t* h = histogram_.get();
  const uint8_t* end = pixels + pixelsPerLine * lines * 3;
  for (const uint8_t* p = pixels; p != end; p += 3) {
    uint32_t& c = h[CellOf(p[0], p[1], p[2])];
    c += c < kSaturated;
  }
}

bool CMedianCutQuantizer::Run(int requested, int* colorsMade, uint8_t* lut, uint8_t* palette,
                              uint32_t* counts) {
  if ((bits_ != 16 && bits_ != 24) || !histogram_ || !lut || !palette || !counts) return false;
  uint32_t total = 0;  // wraps past 4 G pixels, as the threshold has always done
  for (int i = 0; i < kCells; ++i) total += histogram_[i];
  threshold_ = total / kNoiseDivisor;
  lut_ = lut;
  counts_ = counts;
  for (int c0 = 0; c0 < 32; ++c0) planes_[c0] = histogram_.get() + c0 * 2048;
  SelectColors(std::clamp(requested, 1, kMaxColors));
  FillInverseMap();
  for (int i = 0; i < kMaxColors; ++i) {
    for (int k = 0; k < 3; ++k) palette[3 * i + k] = palette_[k][i];
  }
  if (colorsMade) *colorsMade = colorsMade_;
  lut_ = nullptr;
  counts_ = nullptr;
  std::fill(std::begin(planes_), std::end(planes_), nullptr);
  return true;
}

bool CMedianCutQuantizer::PlaneHasColor(int axis, int v, const Box& b) const {
  int lo[3] = {b.c0min, b.c1min, b.c2min}, hi[3] = {b.c0max, b.c1max, b.c2max};
  lo[axis] = hi[axis] = v;
  for (int c0 = lo[0]; c0 <= hi[0]; ++c0) {
    for (int c1 = lo[1]; c1 <= hi[1]; ++c1) {
      for (int c2 = lo[2]; c2 <= hi[2]; ++c2) {
        if (Populated(c0, c1, c2)) return true;
      }
    }
  }
  return false;
}

void CMedianCutQuantizer::ShrinkAxis(int axis, Box& b) const {
  int32_t* lo = Lo(b, axis);
  int32_t* hi = Hi(b, axis);
  if (*hi > *lo) {
    for (int v = *lo; v <= *hi; ++v) {
      if (PlaneHasColor(axis, v, b)) { *lo = v; break; }
    }
  }
  if (*hi > *lo) {
    for (int v = *hi; v >= *lo; --v) {
      if (PlaneHasColor(axis, v, b)) { *hi = v; break; }
    }
  }
}

void CMedianCutQuantizer::UpdateBox(Box& b) const {
  for (int axis = 0; axis < 3; ++axis) ShrinkAxis(axis, b);
  b.volume = 0;
  for (int axis = 0; axis < 3; ++axis) b.volume += Square((HiOf(b, axis) - LoOf(b, axis)) * kStep[axis]);
  b.colors = 0;
  for (int c0 = b.c0min; c0 <= b.c0max; ++c0) {
    for (int c1 = b.c1min; c1 <= b.c1max; ++c1) {
      for (int c2 = b.c2min; c2 <= b.c2max; ++c2) b.colors += Populated(c0, c1, c2);
    }
  }
}

namespace {

// The earliest box with the strictly greatest value of `key` among those with volume > 0
// (colour-count rule) or the greatest volume; -1 when none qualifies.
int PickBox(const CMedianCutQuantizer::Box* boxes, int n, bool byColors) {
  int best = -1;
  int32_t top = 0;
  for (int i = 0; i < n; ++i) {
    const int32_t v = byColors ? boxes[i].colors : boxes[i].volume;
    if (v > top && boxes[i].volume > 0) { top = v; best = i; }
  }
  return best;
}

int LongestAxis(const CMedianCutQuantizer::Box& b) {
  const int32_t l0 = (b.c0max - b.c0min) * 8, l1 = (b.c1max - b.c1min) * 4, l2 = (b.c2max - b.c2min) * 8;
  if (l2 > l0 && l2 > l1) return 2;
  return l0 > l1 ? 0 : 1;
}

}  // namespace

int CMedianCutQuantizer::MedianCut(Box* boxes, int wanted) const {
  int n = 1;
  while (n < wanted) {
    const int pick = PickBox(boxes, n, 2 * n <= wanted);
    if (pick < 0) break;
    Box& old = boxes[pick];
    Box& added = boxes[n];
    added = old;
    const int axis = LongestAxis(old);
    const int32_t split = (HiOf(old, axis) + LoOf(old, axis)) / 2;
    *Hi(old, axis) = split;
    *Lo(added, axis) = split + 1;
    UpdateBox(old);
    UpdateBox(added);
    ++n;
  }
  return n;
}

void CMedianCutQuantizer::ComputeBoxColor(const Box& b, int index) {
  uint32_t total = 0;
  uint64_t sum[3] = {0, 0, 0};
  for (int c0 = b.c0min; c0 <= b.c0max; ++c0) {
    for (int c1 = b.c1min; c1 <= b.c1max; ++c1) {
      for (int c2 = b.c2min; c2 <= b.c2max; ++c2) {
        const uint32_t w = At(c0, c1, c2);
        if (w == 0) continue;
        total += w;
        sum[0] += uint64_t(c0 * 8 + 4) * w;
        sum[1] += uint64_t(c1 * 4 + 2) * w;
        sum[2] += uint64_t(c2 * 8 + 4) * w;
      }
    }
  }
  for (int k = 0; k < 3; ++k) {
    palette_[k][index] = total ? static_cast<uint8_t>((sum[k] + total / 2) / total) : 0;
  }
}

void CMedianCutQuantizer::SelectColors(int wanted) {
  std::unique_ptr<Box[]> boxes(new Box[kMaxColors]());
  boxes[0] = Box{0, 31, 0, 63, 0, 31, 0, 0};
  UpdateBox(boxes[0]);
  colorsMade_ = MedianCut(boxes.get(), wanted);
  for (int i = 0; i < colorsMade_; ++i) ComputeBoxColor(boxes[i], i);
}

void CMedianCutQuantizer::InverseMapFor(const uint8_t* palette, int colors, uint8_t* lut,
                                        uint32_t* counts) {
  colorsMade_ = std::clamp(colors, 1, kMaxColors);
  for (int i = 0; i < colorsMade_; ++i) {
    for (int k = 0; k < 3; ++k) palette_[k][i] = palette[3 * i + k];
  }
  static const uint32_t kNone[kCells] = {};
  const uint32_t* h = histogram_ ? histogram_.get() : kNone;
  for (int c0 = 0; c0 < 32; ++c0) planes_[c0] = h + c0 * 2048;
  lut_ = lut;
  counts_ = counts;
  FillInverseMap();
  lut_ = nullptr;
  counts_ = nullptr;
}

void CMedianCutQuantizer::FillInverseMap() {
  for (int c0 = 0; c0 < 32; c0 += kBlock0) {
    for (int c1 = 0; c1 < 64; c1 += kBlock1) {
      for (int c2 = 0; c2 < 32; c2 += kBlock2) FillInverseMapBlock(c0, c1, c2);
    }
  }
}

void CMedianCutQuantizer::FillInverseMapBlock(int c0, int c1, int c2) {
  const int mins[3] = {c0 * 8 + 4, c1 * 4 + 2, c2 * 8 + 4};
  const int maxs[3] = {mins[0] + 24, mins[1] + 28, mins[2] + 24};
  uint8_t candidates[kMaxColors];
  const int n = FindNearbyColors(mins, maxs, candidates);
  uint8_t best[kBlockCells];
  FindBestColors(mins, candidates, n, best);
  const uint8_t* b = best;
  for (int i0 = 0; i0 < kBlock0; ++i0) {
    for (int i1 = 0; i1 < kBlock1; ++i1) {
      for (int i2 = 0; i2 < kBlock2; ++i2, ++b) {
        const int cell = (c0 + i0) * 2048 + (c1 + i1) * 32 + (c2 + i2);
        lut_[cell] = *b;
        counts_[*b] += planes_[cell >> 11][cell & 2047];
      }
    }
  }
}

int CMedianCutQuantizer::FindNearbyColors(const int* mins, const int* maxs, uint8_t* candidates) const {
  int32_t least[kMaxColors];
  int32_t limit = kFar;
  for (int i = 0; i < colorsMade_; ++i) {
    int32_t lo = 0, hi = 0;
    for (int k = 0; k < 3; ++k) {
      const int x = palette_[k][i];
      const int centre = (mins[k] + maxs[k]) / 2;
      if (x < mins[k]) lo += Square(x - mins[k]);
      else if (x > maxs[k]) lo += Square(x - maxs[k]);
      hi += x <= centre ? Square(x - maxs[k]) : Square(x - mins[k]);
    }
    least[i] = lo;
    limit = std::min(limit, hi);
  }
  int n = 0;
  for (int i = 0; i < colorsMade_; ++i) {
    if (least[i] <= limit) candidates[n++] = static_cast<uint8_t>(i);
  }
  return n;
}

void CMedianCutQuantizer::FindBestColors(const int* mins, const uint8_t* candidates, int n,
                                         uint8_t* best) const {
  int32_t dist[kBlockCells];
  std::fill(std::begin(dist), std::end(dist), kFar);
  std::fill(best, best + kBlockCells, uint8_t{0});
  for (int c = 0; c < n; ++c) {
    const int i = candidates[c];
    const int x0 = palette_[0][i], x1 = palette_[1][i], x2 = palette_[2][i];
    const int32_t d0 = Square(mins[0] - x0) + Square(mins[1] - x1) + Square(mins[2] - x2);
    int32_t inc0 = (mins[0] - x0) * 2 * kStep[0] + kStep[0] * kStep[0];
    const int32_t inc1start = (mins[1] - x1) * 2 * kStep[1] + kStep[1] * kStep[1];
    const int32_t inc2start = (mins[2] - x2) * 2 * kStep[2] + kStep[2] * kStep[2];
    int32_t da = d0;
    int cell = 0;
    for (int i0 = 0; i0 < kBlock0; ++i0) {
      int32_t db = da, inc1 = inc1start;
      for (int i1 = 0; i1 < kBlock1; ++i1) {
        int32_t dc = db, inc2 = inc2start;
        for (int i2 = 0; i2 < kBlock2; ++i2, ++cell) {
          if (dc < dist[cell]) { dist[cell] = dc; best[cell] = static_cast<uint8_t>(i); }
          dc += inc2;
          inc2 += 2 * kStep[2] * kStep[2];
        }
        db += inc1;
        inc1 += 2 * kStep[1] * kStep[1];
      }
      da += inc0;
      inc0 += 2 * kStep[0] * kStep[0];
    }
  }
}
