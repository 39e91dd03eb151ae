// Helpers shared by the library's sources; not part of the exported interface.
#pragma once

#include <cstdint>
#include <new>

#include "scanner_library/trennic.h"

namespace orb::trennic {

inline void PutBE16(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}
inline void PutBE24(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 16);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v);
}
inline void PutBE32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}
inline uint32_t GetBE32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// What sets a model apart from the rest of its family (the model table gives each model its
// flags).
enum ModelCapability : uint32_t {
  // Far down a sheet the scanner takes long to bring its lines: the reader waits through more
  // empty reads there.
  kCapSlowLowerBands = 1u << 0,
  // With stitch alignment the seams sit 4/3 of a pixel (at the window's resolution) further on.
  kCapStitchAlignShift = 1u << 1,
  // The paper-extent pre-scan loads a linear tone ramp first.
  kCapPaperExtentRamp = 1u << 2,
};

// Whether the stitcher's best shift stands out in its profile of squared differences: the
// dip at bestValue is deeper than twice any other dip, each dip measured against its
// neighbouring maximum.
bool DistinctMinimum(const int64_t* profile, int count, int64_t bestValue);

}  // namespace orb::trennic

template <class R, class F>
R CTrennic::Guard(R failed, F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    SetLastError(0, 0, TRENNIC_OUT_OF_MEMORY);
  } catch (...) {
    // Nothing else is expected from the members; whatever it is stays inside the library,
    // and is not passed off as a shortage of memory.
    SetLastError(0, 0, TRENNIC_INTERNAL_FAILURE);
  }
  return failed;
}
