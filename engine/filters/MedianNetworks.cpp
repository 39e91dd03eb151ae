#include "engine/filters/MedianNetworks.h"

namespace orb {

namespace {

struct Pair {
  int a, b;
};
// Sorting networks (verified exhaustively on all 0/1 inputs by the tests).
constexpr Pair kNet3[] = {{0, 1}, {1, 2}, {0, 1}};
constexpr Pair kNet5[] = {{0, 1}, {3, 4}, {2, 4}, {2, 3}, {0, 3}, {0, 2}, {1, 4}, {1, 3}, {1, 2}};
constexpr Pair kNet7[] = {{0, 6}, {2, 3}, {4, 5}, {0, 2}, {1, 4}, {3, 6}, {0, 1}, {2, 5},
                          {3, 4}, {1, 2}, {4, 6}, {2, 3}, {4, 5}, {1, 2}, {3, 4}, {5, 6}};

inline void CompareSwap(uint8_t* __restrict x, uint8_t* __restrict y, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    uint8_t lo = std::min(x[i], y[i]);
    uint8_t hi = std::max(x[i], y[i]);
    x[i] = lo;
    y[i] = hi;
  }
}

template <int N, size_t M>
void RunNetwork(uint8_t (&v)[N][kMedianChunk], const Pair (&net)[M], size_t n) {
  for (const Pair& p : net) CompareSwap(v[p.a], v[p.b], n);
}

template <int N>
void MedianChunk(uint8_t (&v)[N][kMedianChunk], size_t n, uint8_t* dst) {
  if constexpr (N == 3) RunNetwork(v, kNet3, n);
  if constexpr (N == 5) RunNetwork(v, kNet5, n);
  if constexpr (N == 7) RunNetwork(v, kNet7, n);
  std::copy(v[N / 2], v[N / 2] + n, dst);
}

template <int N>
void MedianOfArraysN(const uint8_t* const* srcs, uint8_t* dst, size_t count) {
  uint8_t v[N][kMedianChunk];
  for (size_t off = 0; off < count; off += kMedianChunk) {
    size_t n = std::min(kMedianChunk, count - off);
    for (int j = 0; j < N; ++j) std::copy(srcs[j] + off, srcs[j] + off + n, v[j]);
    MedianChunk<N>(v, n, dst + off);
  }
}

template <int N>
void HorizontalMedianN(const uint8_t* src, size_t stride, uint8_t* dst, size_t count) {
  uint8_t v[N][kMedianChunk];
  for (size_t off = 0; off < count; off += kMedianChunk) {
    size_t n = std::min(kMedianChunk, count - off);
    for (int j = 0; j < N; ++j) {
      const uint8_t* s = src + off + static_cast<size_t>(j) * stride;
      std::copy(s, s + n, v[j]);
    }
    MedianChunk<N>(v, n, dst + off);
  }
}

}  // namespace

void MedianOfArrays(const uint8_t* const* srcs, int n, uint8_t* dst, size_t count) {
  switch (n) {
    case 3: MedianOfArraysN<3>(srcs, dst, count); break;
    case 5: MedianOfArraysN<5>(srcs, dst, count); break;
    case 7: MedianOfArraysN<7>(srcs, dst, count); break;
    default: break;
  }
}

void HorizontalMedian(const uint8_t* src, size_t stride, int n, uint8_t* dst, size_t count) {
  switch (n) {
    case 3: HorizontalMedianN<3>(src, stride, dst, count); break;
    case 5: HorizontalMedianN<5>(src, stride, dst, count); break;
    case 7: HorizontalMedianN<7>(src, stride, dst, count); break;
    default: break;
  }
}

void Median3x3(const uint8_t* a, const uint8_t* b, const uint8_t* c, size_t stride, size_t begin,
               size_t end, uint8_t* dst) {
  if (end <= begin) return;
  // Sorted columns over [begin - stride, end + stride).
  uint8_t lo[kMedianChunk + 16], mid[kMedianChunk + 16], hi[kMedianChunk + 16];
  for (size_t off = begin; off < end; off += kMedianChunk) {
    size_t n = std::min(kMedianChunk, end - off);
    size_t base = off - stride;
    size_t m = n + 2 * stride;
    for (size_t i = 0; i < m; ++i) {
      uint8_t x = a[base + i], y = b[base + i], z = c[base + i];
      uint8_t l1 = std::min(x, y), h1 = std::max(x, y);
      uint8_t l = std::min(l1, z), h2 = std::max(l1, z);
      uint8_t md = std::min(h1, h2), h = std::max(h1, h2);
      lo[i] = l;
      mid[i] = md;
      hi[i] = h;
    }
    uint8_t* out = dst + off;
    const size_t s = stride;
    for (size_t i = 0; i < n; ++i) {
      uint8_t maxLo = std::max(std::max(lo[i], lo[i + s]), lo[i + 2 * s]);
      uint8_t minHi = std::min(std::min(hi[i], hi[i + s]), hi[i + 2 * s]);
      uint8_t p = mid[i], q = mid[i + s], r = mid[i + 2 * s];
      uint8_t medMid = std::max(std::min(p, q), std::min(std::max(p, q), r));
      out[i] = std::max(std::min(maxLo, medMid), std::min(std::max(maxLo, medMid), minHi));
    }
  }
}

}  // namespace orb
