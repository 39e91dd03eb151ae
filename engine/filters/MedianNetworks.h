// Element-wise median networks over byte arrays: the same fixed compare-and-swap sequence
// is applied to every position of a run of bytes, so the compiler turns each step into
// vector min/max instructions. Exact: these are sorting networks, not approximations.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace orb {

inline constexpr size_t kMedianChunk = 256;

// dst[i] = median of srcs[0][i] .. srcs[n-1][i] for i < count; n is 3, 5 or 7.
void MedianOfArrays(const uint8_t* const* srcs, int n, uint8_t* dst, size_t count);

// dst[i] = median of src[i + j*stride] for j = 0 .. n-1 (a horizontal window starting at
// src[i]); n is 3, 5 or 7.
void HorizontalMedian(const uint8_t* src, size_t stride, int n, uint8_t* dst, size_t count);

// 3 x 3 median of three lines (a, b, c) at byte positions [begin, end), neighbours `stride`
// bytes apart, written to dst[begin..end). Uses sorted columns: the median of nine is the
// median of (largest column minimum, median of column medians, smallest column maximum).
void Median3x3(const uint8_t* a, const uint8_t* b, const uint8_t* c, size_t stride, size_t begin,
               size_t end, uint8_t* dst);

}  // namespace orb
