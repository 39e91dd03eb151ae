#include "engine/quantise/Quantise.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr int kRedLevels = 32;
constexpr int kGreenLevels = 64;
constexpr int kBlueLevels = 32;

inline int Sq(int v) { return v * v; }

}  // namespace

CQuantise::CQuantise() = default;

CQuantise::~CQuantise() {
  std::free(histogram_);
  delete[] rows_;
}

uint32_t* CQuantise::AllocateHistogram() {
  return static_cast<uint32_t*>(std::calloc(kCells, sizeof(uint32_t)));
}

CQuantise::Box* CQuantise::AllocateBoxes() { return new (std::nothrow) Box[kMaxColours]; }

void CQuantise::EnsureHistogram() {
  if (!histogramTried_) {
    histogramTried_ = true;
    histogram_ = AllocateHistogram();
  }
}

void CQuantise::AddPixels(const unsigned char* pixels, int rows, int pixelsPerRow) {
  EnsureHistogram();
  if (bitsPerPixel_ != 24 || !histogram_ || rows < 1 || pixelsPerRow < 1 || !pixels) return;
  const size_t n = static_cast<size_t>(rows) * static_cast<size_t>(pixelsPerRow);
  uint32_t* h = histogram_;
  const unsigned char* p = pixels;
  for (size_t i = 0; i < n; ++i, p += 3) {
    uint32_t& c = h[CellOf(p[0], p[1], p[2])];
    if (c < kSaturated) ++c;
  }
}

void CQuantise::AddPixels16(const unsigned char* words, int rows, int pixelsPerRow) {
  EnsureHistogram();
  if (bitsPerPixel_ != 16 || !histogram_ || rows < 1 || pixelsPerRow < 1 || !words) return;
  const size_t n = static_cast<size_t>(rows) * static_cast<size_t>(pixelsPerRow);
  for (size_t i = 0; i < n; ++i) {
    const unsigned hi = words[2 * i], lo = words[2 * i + 1];
    const unsigned r = hi >> 3, g = (hi & 7) << 3 | lo >> 5, b = lo & 31;
    uint32_t& c = histogram_[r << 11 | g << 5 | b];
    if (c < kSaturated) ++c;
  }
}

void CQuantise::AddIndices8(const unsigned char* indices, int count) {
  if (bitsPerPixel_ != 8 || !indices) return;
  for (int i = 0; i < count; ++i)
    if (indexCounts_[indices[i]] < kSaturated) ++indexCounts_[indices[i]];
}

void CQuantise::AddIndices4(const unsigned char* packed, int bytes) {
  if (bitsPerPixel_ != 4 || !packed) return;
  for (int i = 0; i < bytes; ++i) {
    const unsigned lo = packed[i] & 15, hi = packed[i] >> 4;
    if (indexCounts_[lo] < kSaturated) ++indexCounts_[lo];
    if (indexCounts_[hi] < kSaturated) ++indexCounts_[hi];
  }
}

void CQuantise::CopyIndexCounts(uint32_t* out256) const {
  if (out256) std::memcpy(out256, indexCounts_, sizeof(indexCounts_));
}

bool CQuantise::Occupied(int r, int g, int b) const { return At(r, g, b) > threshold_; }

int CQuantise::MakePalette(int colours, int* colourCount, unsigned char* inverseMap,
                           unsigned char* paletteOut, int* usageCounts) {
  EnsureHistogram();
  if (bitsPerPixel_ == 8 || bitsPerPixel_ == 4 || bitsPerPixel_ == 1) return 0;
  if (!histogram_ || !inverseMap) return 0;

  uint64_t sum = 0;
  for (int i = 0; i < kCells; ++i) sum += histogram_[i];
  threshold_ = static_cast<unsigned>(sum / 400000);

  rows_ = new (std::nothrow) uint32_t*[kRedLevels];
  if (!rows_) return 0;
  for (int r = 0; r < kRedLevels; ++r) rows_[r] = histogram_ + r * kGreenLevels * kBlueLevels;
  Box* boxes = AllocateBoxes();
  if (!boxes) {
    delete[] rows_;
    rows_ = nullptr;
    return 0;
  }
  inverseMap_ = inverseMap;
  usage_ = usageCounts;

  MedianCut(std::clamp(colours, 1, kMaxColours), boxes);
  FillInverseMap();

  if (paletteOut) {
    for (int i = 0; i < kMaxColours; ++i) {
      paletteOut[3 * i] = red_[i];
      paletteOut[3 * i + 1] = green_[i];
      paletteOut[3 * i + 2] = blue_[i];
    }
  }
  if (colourCount) *colourCount = colourCount_;
  delete[] boxes;
  delete[] rows_;
  rows_ = nullptr;
  inverseMap_ = nullptr;
  usage_ = nullptr;
  return 1;
}

void CQuantise::MedianCut(int colours, Box* boxes) {
  boxes[0] = Box{0, kRedLevels - 1, 0, kGreenLevels - 1, 0, kBlueLevels - 1, 0, 0};
  UpdateBox(boxes[0]);
  const int count = SplitBoxes(boxes, colours);
  for (int i = 0; i < count; ++i) ComputeColour(boxes[i], i);
  colourCount_ = count;
}

void CQuantise::UpdateBox(Box& b) const {
  auto planeR = [&](int r) {
    for (int g = b.greenMin; g <= b.greenMax; ++g)
      for (int bl = b.blueMin; bl <= b.blueMax; ++bl)
        if (Occupied(r, g, bl)) return true;
    return false;
  };
  auto planeG = [&](int g) {
    for (int r = b.redMin; r <= b.redMax; ++r)
      for (int bl = b.blueMin; bl <= b.blueMax; ++bl)
        if (Occupied(r, g, bl)) return true;
    return false;
  };
  auto planeB = [&](int bl) {
    for (int r = b.redMin; r <= b.redMax; ++r)
      for (int g = b.greenMin; g <= b.greenMax; ++g)
        if (Occupied(r, g, bl)) return true;
    return false;
  };
  if (b.redMin < b.redMax) {
    for (int r = b.redMin; r <= b.redMax; ++r)
      if (planeR(r)) { b.redMin = r; break; }
    for (int r = b.redMax; r >= b.redMin; --r)
      if (planeR(r)) { b.redMax = r; break; }
  }
  if (b.greenMin < b.greenMax) {
    for (int g = b.greenMin; g <= b.greenMax; ++g)
      if (planeG(g)) { b.greenMin = g; break; }
    for (int g = b.greenMax; g >= b.greenMin; --g)
      if (planeG(g)) { b.greenMax = g; break; }
  }
  if (b.blueMin < b.blueMax) {
    for (int bl = b.blueMin; bl <= b.blueMax; ++bl)
      if (planeB(bl)) { b.blueMin = bl; break; }
    for (int bl = b.blueMax; bl >= b.blueMin; --bl)
      if (planeB(bl)) { b.blueMax = bl; break; }
  }
  b.size = Sq(8 * (b.redMax - b.redMin)) + Sq(4 * (b.greenMax - b.greenMin)) +
           Sq(8 * (b.blueMax - b.blueMin));
  int occupied = 0;
  for (int r = b.redMin; r <= b.redMax; ++r)
    for (int g = b.greenMin; g <= b.greenMax; ++g)
      for (int bl = b.blueMin; bl <= b.blueMax; ++bl)
        if (Occupied(r, g, bl)) ++occupied;
  b.occupied = occupied;
}

int CQuantise::FindBiggestPopulation(const Box* boxes, int count) {
  int best = -1, most = 0;
  for (int i = 0; i < count; ++i)
    if (boxes[i].occupied > most && boxes[i].size > 0) {
      most = boxes[i].occupied;
      best = i;
    }
  return best;
}

int CQuantise::FindBiggestSize(const Box* boxes, int count) {
  int best = -1, largest = 0;
  for (int i = 0; i < count; ++i)
    if (boxes[i].size > largest) {
      largest = boxes[i].size;
      best = i;
    }
  return best;
}

int CQuantise::SplitBoxes(Box* boxes, int colours) const {
  int count = 1;
  if (colours < 2) return count;
  while (count < colours) {
    const int pick = 2 * count <= colours ? FindBiggestPopulation(boxes, count)
                                          : FindBiggestSize(boxes, count);
    if (pick < 0) break;
    Box& b = boxes[pick];
    Box& nb = boxes[count];
    const int lr = 8 * (b.redMax - b.redMin);
    const int lg = 4 * (b.greenMax - b.greenMin);
    const int lb = 8 * (b.blueMax - b.blueMin);
    int axis = 1, longest = lg;
    if (lr > longest) {
      axis = 0;
      longest = lr;
    }
    if (lb > longest) axis = 2;
    nb = b;
    switch (axis) {
      case 0: {
        const int mid = (b.redMin + b.redMax) / 2;
        b.redMax = mid;
        nb.redMin = mid + 1;
        break;
      }
      case 1: {
        const int mid = (b.greenMin + b.greenMax) / 2;
        b.greenMax = mid;
        nb.greenMin = mid + 1;
        break;
      }
      default: {
        const int mid = (b.blueMin + b.blueMax) / 2;
        b.blueMax = mid;
        nb.blueMin = mid + 1;
        break;
      }
    }
    UpdateBox(b);
    UpdateBox(nb);
    ++count;
  }
  return count;
}

void CQuantise::ComputeColour(const Box& b, int index) {
  uint64_t total = 0, rs = 0, gs = 0, bs = 0;
  for (int r = b.redMin; r <= b.redMax; ++r)
    for (int g = b.greenMin; g <= b.greenMax; ++g)
      for (int bl = b.blueMin; bl <= b.blueMax; ++bl) {
        const uint64_t n = At(r, g, bl);
        if (n == 0) continue;
        total += n;
        rs += n * static_cast<uint64_t>(8 * r + 4);
        gs += n * static_cast<uint64_t>(4 * g + 2);
        bs += n * static_cast<uint64_t>(8 * bl + 4);
      }
  if (total == 0) return;  // no pixels: the entry stays as it was
  red_[index] = static_cast<unsigned char>((rs + total / 2) / total);
  green_[index] = static_cast<unsigned char>((gs + total / 2) / total);
  blue_[index] = static_cast<unsigned char>((bs + total / 2) / total);
}

void CQuantise::FillInverseMap() {
  for (int rc = 0; rc < 8; ++rc)
    for (int gc = 0; gc < 8; ++gc)
      for (int bc = 0; bc < 8; ++bc) FillInverseCell(rc, gc, bc);
}

int CQuantise::FindNearbyColours(int minR, int minG, int minB, unsigned char* candidates) const {
  const int maxR = minR + 24, maxG = minG + 28, maxB = minB + 24;
  const int cR = (minR + maxR) >> 1, cG = (minG + maxG) >> 1, cB = (minB + maxB) >> 1;
  int minDist[256];
  int bound = INT_MAX;
  auto axis = [](int x, int lo, int hi, int centre, int& mind, int& maxd) {
    if (x < lo) {
      mind += Sq(x - lo);
      maxd += Sq(x - hi);
    } else if (x > hi) {
      mind += Sq(x - hi);
      maxd += Sq(x - lo);
    } else {
      maxd += x <= centre ? Sq(x - hi) : Sq(x - lo);
    }
  };
  for (int i = 0; i < colourCount_; ++i) {
    int mind = 0, maxd = 0;
    axis(red_[i], minR, maxR, cR, mind, maxd);
    axis(green_[i], minG, maxG, cG, mind, maxd);
    axis(blue_[i], minB, maxB, cB, mind, maxd);
    minDist[i] = mind;
    bound = std::min(bound, maxd);
  }
  int n = 0;
  for (int i = 0; i < colourCount_; ++i)
    if (minDist[i] <= bound) candidates[n++] = static_cast<unsigned char>(i);
  return n;
}

void CQuantise::FillInverseCell(int rc, int gc, int bc) {
  const int minR = 32 * rc + 4, minG = 32 * gc + 2, minB = 32 * bc + 4;
  unsigned char candidates[256];
  const int n = FindNearbyColours(minR, minG, minB, candidates);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 8; ++j)
      for (int k = 0; k < 4; ++k) {
        const int R = minR + 8 * i, G = minG + 4 * j, B = minB + 8 * k;
        int best = 0, bestDist = INT_MAX;
        for (int c = 0; c < n; ++c) {
          const int idx = candidates[c];
          const int d = Sq(R - red_[idx]) + Sq(G - green_[idx]) + Sq(B - blue_[idx]);
          if (d < bestDist) {
            bestDist = d;
            best = idx;
          }
        }
        const int cell = (rc * 4 + i) << 11 | (gc * 8 + j) << 5 | (bc * 4 + k);
        inverseMap_[cell] = static_cast<unsigned char>(best);
        if (usage_) {
          const int64_t u = static_cast<int64_t>(usage_[best]) + histogram_[cell];
          usage_[best] = u > INT_MAX ? INT_MAX : static_cast<int>(u);
        }
      }
}
