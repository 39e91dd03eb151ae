// Brightness/contrast point filter.
//
//   BrightContState st;
//   if (!BrightContInit(&st, &settings, kind, palette)) -> allocation failed, nothing to free
//   BrightContRows(&st, band, length);   // every band; once with length 0 for palette kinds
//   BrightContFree(&st);
//
// Brightness and Contrast are read in init only. Kinds 0 (RGB) and 3, 5 (grey) are mapped
// byte by byte; kinds 1 and 2 remap the palette given to init (each call remaps it again,
// so palette images make exactly one call, with an empty band); other kinds pass through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/ImageState.h"
#include "engine/ToolSettings.h"

struct BrightContState {
  const orb::BrightContRecord* settings = nullptr;
  int32_t kind = 0;
  PaletteEntry* palette = nullptr;  // 256 entries; may be null for non-palette kinds
  // 256 entries of three equal 16-bit values, one per channel (1536 bytes).
  std::vector<uint16_t> table;
  uint8_t lut[256] = {};  // low bytes of the table, for the pixel loops
};

namespace orb {
// The 256-entry mapping of a brightness/contrast pair (values clamped to 0..255).
void BuildBrightContTable(int32_t brightness, int32_t contrast, int16_t out[256]);
}  // namespace orb

BrightContState* BrightContInit(BrightContState* state, const orb::BrightContRecord* settings,
                                int32_t kind, PaletteEntry* palette);
void BrightContRows(BrightContState* state, uint8_t* band, size_t length);
void BrightContFree(BrightContState* state);
