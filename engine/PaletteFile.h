// Palette files (".apt"): a classification of all colours into up to 256 palette colours,
// a lookup table from every 5-6-5-bit RGB cell to a palette colour, and a map of the
// palette colours onto a smaller set of output colours.
//
// File layout, bytes in order, no padding: header (1, a marker set by the writer, not
// checked), N (1, colours - 1), lookup table (65536, indexed by
// (R >> 3) x 2048 + (G >> 2) x 32 + (B >> 3)), palette (3 x (N + 1), R G B), M (1, output
// colours - 1), map (N + 1, each 0..M), output palette (3 x (M + 1)).
#pragma once

#include <cstdint>
#include <string>

#include "engine/ImageState.h"

// The record in memory: fixed slots of which the first N + 1 (M + 1) entries are used.
struct PaletteFile {
  uint8_t Header = 0;
  uint8_t N = 0;
  uint8_t Lookup[65536] = {};
  uint8_t Palette[768] = {};
  uint8_t M = 0;
  uint8_t Map[256] = {};
  uint8_t OutputPalette[768] = {};
};

// The lookup table of the last palette file loaded: each 5-6-5 cell's output colour.
extern uint8_t ColourLookupTable[65536];

// Reads a palette file into `record`. Fails (false) on a file that cannot be opened, is cut
// short, has more output colours than colours, or maps a colour beyond the output colours;
// the record may then hold part of the file and nothing else changes. On success the
// lookup table has been rewritten through the map (each cell gives its output colour) and
// copied into ColourLookupTable, and, when `outputPalette` (256 entries) is given, the
// output colours are stored in it as 16-bit components 0..255.
bool LoadPaletteFile(const std::string& path, PaletteFile& record,
                     PaletteEntry* outputPalette = nullptr);

// Writes the record in file order with the sizes given by its N and M, replacing the file
// atomically. False when it cannot be written (the old file then stays).
bool SavePaletteFile(const std::string& path, const PaletteFile& record);

namespace orb {

// Index of a colour's 5-6-5 cell in a palette lookup table.
inline uint32_t PaletteCell(uint8_t r, uint8_t g, uint8_t b) {
  return (static_cast<uint32_t>(r >> 3) << 11) | (static_cast<uint32_t>(g >> 2) << 5) |
         static_cast<uint32_t>(b >> 3);
}

// Number of output colours (M + 1) of a palette file without loading it into any table;
// 0 when the file cannot be read or is not a valid palette file.
int ReadPaletteOutputCount(const std::string& path);

}  // namespace orb
