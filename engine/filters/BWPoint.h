// White/black point filter: levels above White become white, levels below Black black,
// the rest is unchanged. White and Black are read on every rows call. No free step.
//
//   BWPointState st;
//   BWPointInit(&st, &settings, kind, palette);
//   BWPointRows(&st, band, length);     // palette kinds: one call with length 0
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/ImageState.h"
#include "engine/ToolSettings.h"

struct BWPointState {
  const orb::BWPointRecord* settings = nullptr;
  int32_t kind = 0;
  PaletteEntry* palette = nullptr;
};

BWPointState* BWPointInit(BWPointState* state, const orb::BWPointRecord* settings, int32_t kind,
                          PaletteEntry* palette);
void BWPointRows(BWPointState* state, uint8_t* band, size_t length);
