// The program's own reader of plain uncompressed TIFF files, the raw image file header,
// and the probe that prepares any image file for reading.
//
// The own reader accepts only what it can read exactly as one run of stored lines from
// the first strip on; everything else (compression, tiles, separate planes, other sample
// layouts, bit order 2, damaged directories, zero resolution denominators) is refused so
// that the imaging library reads the file instead.
#pragma once

#include <cstdint>

#include "engine/ImageState.h"

struct LineReader;

// One 12-byte directory entry, its fields loaded from the file as little-endian words.
struct TiffEntry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  uint32_t value = 0;  // the value field: a value that fits in 4 bytes, or an offset
};
static_assert(sizeof(TiffEntry) == 12);

// True when the image's open file starts with "II" 42 or "MM" 0 42.
bool IsTiffFile(LineReader* reader);
// Fills the reader's image from the header and first directory of its open file:
// 0 the program reads the pixel lines itself, -1 it cannot (the imaging library must).
int ReadTiffHeader(LineReader* reader);
// Writes the raw image file header into the image's open (new, empty) file and records
// the data offset and value positions; returns the file's size, or -1 when writing failed.
int64_t WriteRawImageHeader(LineReader* reader);
// Reads the entry at the open file's current position; false at the end of the file.
bool ReadTiffEntry(LineReader* reader, TiffEntry* entry);
// Byte order of an entry read from a big-endian file into host order, and back.
void SwapTiffEntryToHost(TiffEntry* entry);
void SwapTiffEntryToBigEndian(TiffEntry* entry);
// Prepares the reader's image (source path set) for reading: 0 readable (source form 0 or
// 1 set), -1 not (message 201 when `showMessage`).
int ProbeImageFile(LineReader* reader, bool showMessage);
// A lines callback that stops every decode at its first row.
int StopAtFirstLine(void* user, uint8_t* line, int row, int bytes);

namespace orb {

// Size in bytes of the raw image file header for an output format code.
uint32_t RawImageHeaderSize(uint32_t outputFormat);
// Internal output format code for a kind read directly from a file of the given byte
// order; 0 when the kind has none.
uint32_t InternalFormatFor(uint16_t kind, bool bigEndian);

}  // namespace orb
