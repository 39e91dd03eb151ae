#include "engine/filters/MedianNetworks.h"

#include <cstring>

namespace orb {

namespace {

// Sixteen bytes at a time with the compiler's vector extension: min and max of unsigned
// bytes map to single instructions (pminub / pmaxub on x86-64, umin / umax on ARM).
using V = uint8_t __attribute__((vector_size(16)));
constexpr size_t kV = sizeof(V);

inline V Load(const uint8_t* p) {
  V v;
  std::memcpy(&v, p, kV);
  return v;
}
inline void Store(uint8_t* p, V v) { std::memcpy(p, &v, kV); }
inline V Min(V a, V b) { return a < b ? a : b; }
inline V Max(V a, V b) { return a < b ? b : a; }
inline uint8_t Min(uint8_t a, uint8_t b) { return std::min(a, b); }
inline uint8_t Max(uint8_t a, uint8_t b) { return std::max(a, b); }

template <class T>
inline void Cs(T& a, T& b) {
  T lo = Min(a, b);
  b = Max(a, b);
  a = lo;
}

// Sorting networks (verified exhaustively on all 0/1 inputs by the tests); only the middle
// element is used.
template <class T>
inline T Median3(T a, T b, T c) {
  return Max(Min(a, b), Min(Max(a, b), c));
}
template <class T>
inline T Median5(T* v) {
  Cs(v[0], v[1]); Cs(v[3], v[4]); Cs(v[2], v[4]); Cs(v[2], v[3]); Cs(v[0], v[3]);
  Cs(v[0], v[2]); Cs(v[1], v[4]); Cs(v[1], v[3]); Cs(v[1], v[2]);
  return v[2];
}
template <class T>
inline T Median7(T* v) {
  Cs(v[0], v[6]); Cs(v[2], v[3]); Cs(v[4], v[5]); Cs(v[0], v[2]); Cs(v[1], v[4]); Cs(v[3], v[6]);
  Cs(v[0], v[1]); Cs(v[2], v[5]); Cs(v[3], v[4]); Cs(v[1], v[2]); Cs(v[4], v[6]); Cs(v[2], v[3]);
  Cs(v[4], v[5]); Cs(v[1], v[2]); Cs(v[3], v[4]); Cs(v[5], v[6]);
  return v[3];
}
template <int N, class T>
inline T MedianN(T* v) {
  if constexpr (N == 3) return Median3(v[0], v[1], v[2]);
  if constexpr (N == 5) return Median5(v);
  if constexpr (N == 7) return Median7(v);
}

// Runs `one(i)` (vector at byte i) over [0, count) and `scalar(i)` for a tail too short
// for a vector. Every output position is independent, so the last vector may overlap.
template <class VecFn, class ScalarFn>
inline void ForPositions(size_t count, VecFn one, ScalarFn scalar) {
  if (count < kV) {
    for (size_t i = 0; i < count; ++i) scalar(i);
    return;
  }
  size_t i = 0;
  for (; i + kV <= count; i += kV) one(i);
  if (i < count) one(count - kV);
}

template <int N>
void MedianOfArraysN(const uint8_t* const* srcs, uint8_t* dst, size_t count) {
  // dst may be one of the sources' lines only when it is not among srcs.
  ForPositions(
      count,
      [&](size_t i) {
        V v[N];
        for (int j = 0; j < N; ++j) v[j] = Load(srcs[j] + i);
        Store(dst + i, MedianN<N>(v));
      },
      [&](size_t i) {
        uint8_t v[N];
        for (int j = 0; j < N; ++j) v[j] = srcs[j][i];
        dst[i] = MedianN<N>(v);
      });
}

template <int N>
void HorizontalMedianN(const uint8_t* src, size_t stride, uint8_t* dst, size_t count) {
  ForPositions(
      count,
      [&](size_t i) {
        V v[N];
        for (int j = 0; j < N; ++j) v[j] = Load(src + i + static_cast<size_t>(j) * stride);
        Store(dst + i, MedianN<N>(v));
      },
      [&](size_t i) {
        uint8_t v[N];
        for (int j = 0; j < N; ++j) v[j] = src[i + static_cast<size_t>(j) * stride];
        dst[i] = MedianN<N>(v);
      });
}

// Median of nine from sorted columns: the median of (largest column minimum, median of
// the column medians, smallest column maximum).
template <class T>
inline T Median9FromColumns(T a0, T a1, T a2, T b0, T b1, T b2, T c0, T c1, T c2) {
  Cs(a0, b0); Cs(b0, c0); Cs(a0, b0);
  Cs(a1, b1); Cs(b1, c1); Cs(a1, b1);
  Cs(a2, b2); Cs(b2, c2); Cs(a2, b2);
  T maxLo = Max(Max(a0, a1), a2);
  T minHi = Min(Min(c0, c1), c2);
  T medMid = Median3(b0, b1, b2);
  return Median3(maxLo, medMid, minHi);
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
  const size_t s = stride;
  const uint8_t* A = a + begin;
  const uint8_t* B = b + begin;
  const uint8_t* C = c + begin;
  uint8_t* D = dst + begin;
  ForPositions(
      end - begin,
      [&](size_t i) {
        Store(D + i, Median9FromColumns(Load(A + i - s), Load(A + i), Load(A + i + s),
                                        Load(B + i - s), Load(B + i), Load(B + i + s),
                                        Load(C + i - s), Load(C + i), Load(C + i + s)));
      },
      [&](size_t i) {
        D[i] = Median9FromColumns(A[i - s], A[i], A[i + s], B[i - s], B[i], B[i + s], C[i - s],
                                  C[i], C[i + s]);
      });
}

}  // namespace orb
