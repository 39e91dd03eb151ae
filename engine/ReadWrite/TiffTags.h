// Names of the TIFF directory fields and values the program's own TIFF reader and writer
// use, so that no code of ours spells a tag as a bare number. Header only: the numbers are
// those of the TIFF 6.0 directory.
#pragma once

#include <cstdint>

namespace orb::tiff {

enum class Tag : uint16_t {
  NewSubfileType = 254,
  ImageWidth = 256,
  ImageLength = 257,
  BitsPerSample = 258,
  Compression = 259,
  Photometric = 262,
  FillOrder = 266,
  StripOffsets = 273,
  Orientation = 274,
  SamplesPerPixel = 277,
  RowsPerStrip = 278,
  StripByteCounts = 279,
  XResolution = 282,
  YResolution = 283,
  PlanarConfig = 284,
  ResolutionUnit = 296,
  ColorMap = 320,
  TileWidth = 322,
  TileLength = 323,
  TileOffsets = 324,
  TileByteCounts = 325,
  SampleFormat = 339,
};

// Field types of a directory entry.
enum class Type : uint16_t {
  Byte = 1,
  Ascii = 2,
  Short = 3,
  Long = 4,
  Rational = 5,
  SByte = 6,
  Undefined = 7,
  SShort = 8,
  SLong = 9,
  SRational = 10,
  Float = 11,
  Double = 12,
  Ifd = 13,
};

// Values of the fields above that the reader tests and the writer sets.
inline constexpr uint32_t kCompressionNone = 1;
inline constexpr uint32_t kFillOrderLsbFirst = 2;
inline constexpr uint32_t kPlanarSeparate = 2;
inline constexpr uint32_t kResolutionUnitCm = 3;
inline constexpr uint32_t kSampleFormatUnsigned = 1;
inline constexpr uint32_t kOrientationUnset = 0;

// The first four bytes of a file, read as one little-endian word.
inline constexpr uint32_t kMagicLittleEndian = 0x002A4949u;  // "II" 42
inline constexpr uint32_t kMagicBigEndian = 0x2A004D4Du;     // "MM" 0 42
inline constexpr uint16_t kVersion = 42;

// One directory entry is 12 bytes: tag, type, count and the value field.
inline constexpr uint32_t kEntryBytes = 12;

constexpr uint16_t operator+(Tag t) { return static_cast<uint16_t>(t); }
constexpr uint16_t operator+(Type t) { return static_cast<uint16_t>(t); }

}  // namespace orb::tiff
