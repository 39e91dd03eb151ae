// Little-endian field access for the stored records. Every record that goes to disk is
// built from these, never by copying a struct, so its layout does not depend on the
// compiler's padding or on the host's byte order.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace orb {

inline uint8_t GetU8(const uint8_t* p) { return p[0]; }
inline void PutU8(uint8_t* p, uint8_t v) { p[0] = v; }

inline uint16_t GetU16LE(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline void PutU16LE(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline int16_t GetI16LE(const uint8_t* p) { return static_cast<int16_t>(GetU16LE(p)); }
inline void PutI16LE(uint8_t* p, int16_t v) { PutU16LE(p, static_cast<uint16_t>(v)); }

inline uint32_t GetU32LE(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void PutU32LE(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline int32_t GetI32LE(const uint8_t* p) { return static_cast<int32_t>(GetU32LE(p)); }
inline void PutI32LE(uint8_t* p, int32_t v) { PutU32LE(p, static_cast<uint32_t>(v)); }

inline uint64_t GetU64LE(const uint8_t* p) {
  return static_cast<uint64_t>(GetU32LE(p)) | (static_cast<uint64_t>(GetU32LE(p + 4)) << 32);
}
inline void PutU64LE(uint8_t* p, uint64_t v) {
  PutU32LE(p, static_cast<uint32_t>(v));
  PutU32LE(p + 4, static_cast<uint32_t>(v >> 32));
}
inline int64_t GetI64LE(const uint8_t* p) { return static_cast<int64_t>(GetU64LE(p)); }
inline void PutI64LE(uint8_t* p, int64_t v) { PutU64LE(p, static_cast<uint64_t>(v)); }

inline float GetF32LE(const uint8_t* p) { return std::bit_cast<float>(GetU32LE(p)); }
inline void PutF32LE(uint8_t* p, float v) { PutU32LE(p, std::bit_cast<uint32_t>(v)); }
inline double GetF64LE(const uint8_t* p) { return std::bit_cast<double>(GetU64LE(p)); }
inline void PutF64LE(uint8_t* p, double v) { PutU64LE(p, std::bit_cast<uint64_t>(v)); }

inline uint16_t GetU16BE(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline void PutU16BE(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline uint32_t GetU32BE(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline void PutU32BE(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}

// Length of the longest prefix of `s` that fits in `limit` bytes without splitting a
// UTF-8 sequence.
inline size_t Utf8PrefixLength(std::string_view s, size_t limit) {
  if (s.size() <= limit) return s.size();
  size_t n = limit;
  // Step back over continuation bytes to the start of the cut sequence.
  while (n > 0 && (static_cast<uint8_t>(s[n]) & 0xC0) == 0x80) --n;
  return n;
}

// A fixed text field of `size` bytes: the text, cut on a character boundary so that a
// terminating NUL always fits, then NUL padding.
inline void PutText(uint8_t* p, size_t size, std::string_view s) {
  if (size == 0) return;
  size_t n = Utf8PrefixLength(s, size - 1);
  std::memcpy(p, s.data(), n);
  std::memset(p + n, 0, size - n);
}

// Reads a fixed text field up to its first NUL (or its full size when it has none).
inline std::string GetText(const uint8_t* p, size_t size) {
  const void* z = std::memchr(p, 0, size);
  size_t n = z ? static_cast<size_t>(static_cast<const uint8_t*>(z) - p) : size;
  return std::string(reinterpret_cast<const char*>(p), n);
}

// Copies `s` into a char buffer of `size` bytes, cut on a character boundary and
// NUL-terminated; the bounded replacement for strcpy into the records' path fields.
inline void CopyText(char* dst, size_t size, std::string_view s) {
  PutText(reinterpret_cast<uint8_t*>(dst), size, s);
}

}  // namespace orb
