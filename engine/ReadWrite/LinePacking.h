// Conversions between the one-byte-per-sample lines that the streams hand their users and
// the packed lines stored in files: black and white 8 pixels a byte (most significant bit
// first), 16 colours two pixels a byte (high nibble first).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace orb {

// Packs `pixels` bytes into ceil(pixels / 8) bytes: a set bit for every non-zero byte.
// Bits past the last pixel stay clear.
inline void PackNonZeroBits(const uint8_t* in, size_t pixels, uint8_t* out) {
  size_t full = pixels / 8;
  for (size_t i = 0; i < full; ++i, in += 8) {
    out[i] = static_cast<uint8_t>(((in[0] != 0) << 7) | ((in[1] != 0) << 6) |
                                  ((in[2] != 0) << 5) | ((in[3] != 0) << 4) |
                                  ((in[4] != 0) << 3) | ((in[5] != 0) << 2) |
                                  ((in[6] != 0) << 1) | (in[7] != 0));
  }
  size_t rest = pixels % 8;
  if (rest != 0) {
    uint8_t b = 0;
    for (size_t k = 0; k < rest; ++k) {
      if (in[k] != 0) b |= static_cast<uint8_t>(0x80u >> k);
    }
    out[full] = b;
  }
}

// The reverse of PackNonZeroBits with a choice of what a set and a clear bit become.
inline void ExpandBits(const uint8_t* in, size_t pixels, uint8_t* out, uint8_t setValue,
                       uint8_t clearValue) {
  for (size_t i = 0; i < pixels; ++i) {
    out[i] = (in[i >> 3] & (0x80u >> (i & 7))) ? setValue : clearValue;
  }
}

// Two pixels a byte, the even pixel in the high nibble; an odd last pixel gets a zero low
// nibble. Values above 15 keep their low four bits.
inline void PackNibbles(const uint8_t* in, size_t pixels, uint8_t* out) {
  size_t pairs = pixels / 2;
  for (size_t i = 0; i < pairs; ++i) {
    out[i] = static_cast<uint8_t>(((in[2 * i] & 0x0F) << 4) | (in[2 * i + 1] & 0x0F));
  }
  if (pixels % 2 != 0) out[pairs] = static_cast<uint8_t>((in[pixels - 1] & 0x0F) << 4);
}

// One byte a pixel from two pixels a byte; `pixels` is even for stored 16-colour lines.
inline void ExpandNibbles(const uint8_t* in, size_t pixels, uint8_t* out) {
  for (size_t i = 0; i < pixels; ++i) {
    out[i] = (i & 1) ? (in[i >> 1] & 0x0F) : (in[i >> 1] >> 4);
  }
}

}  // namespace orb
