// The field codecs of the stored records. Each record has one visitor that lists its fields
// with their offsets, v(offset, field), in record order; handing it a FieldWriter encodes the
// record, a FieldReader decodes it and a FieldLayout lists its spans, so the three can never
// disagree about where a field lies. The bytes themselves go through platform/Bytes.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/Bytes.h"

namespace orb {

// Offset and width of a field.
struct FieldSpan {
  size_t offset;
  size_t width;
};

struct FieldWriter {
  uint8_t* out;
  void operator()(size_t o, const int32_t& v) const { PutI32LE(out + o, v); }
  void operator()(size_t o, const uint32_t& v) const { PutU32LE(out + o, v); }
  void operator()(size_t o, const int16_t& v) const { PutI16LE(out + o, v); }
  void operator()(size_t o, const uint16_t& v) const { PutU16LE(out + o, v); }
  void operator()(size_t o, const uint8_t& v) const { PutU8(out + o, v); }
  void operator()(size_t o, const int64_t& v) const { PutI64LE(out + o, v); }
  void operator()(size_t o, const float& v) const { PutF32LE(out + o, v); }
  void operator()(size_t o, const double& v) const { PutF64LE(out + o, v); }
  template <size_t N>
  void operator()(size_t o, const char (&v)[N]) const { std::memcpy(out + o, v, N); }
  template <size_t N>
  void operator()(size_t o, const uint8_t (&v)[N]) const { std::memcpy(out + o, v, N); }
  template <size_t N>
  void operator()(size_t o, const std::array<uint8_t, N>& v) const { std::memcpy(out + o, v.data(), N); }
};

struct FieldReader {
  const uint8_t* in;
  void operator()(size_t o, int32_t& v) const { v = GetI32LE(in + o); }
  void operator()(size_t o, uint32_t& v) const { v = GetU32LE(in + o); }
  void operator()(size_t o, int16_t& v) const { v = GetI16LE(in + o); }
  void operator()(size_t o, uint16_t& v) const { v = GetU16LE(in + o); }
  void operator()(size_t o, uint8_t& v) const { v = GetU8(in + o); }
  void operator()(size_t o, int64_t& v) const { v = GetI64LE(in + o); }
  void operator()(size_t o, float& v) const { v = GetF32LE(in + o); }
  void operator()(size_t o, double& v) const { v = GetF64LE(in + o); }
  template <size_t N>
  void operator()(size_t o, char (&v)[N]) const { std::memcpy(v, in + o, N); }
  template <size_t N>
  void operator()(size_t o, uint8_t (&v)[N]) const { std::memcpy(v, in + o, N); }
  template <size_t N>
  void operator()(size_t o, std::array<uint8_t, N>& v) const { std::memcpy(v.data(), in + o, N); }
};

struct FieldLayout {
  std::vector<FieldSpan>* spans;
  template <class T>
  void operator()(size_t o, const T& v) const {
    spans->push_back({o, sizeof v});
  }
};

}  // namespace orb
