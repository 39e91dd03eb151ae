// Line mirroring: reverses whole lines left to right, in place.
//
//   MirrorState st;  MirrorInit(&st, kind);
//   MirrorRows(&st, band, length, lineBytes);   // length / lineBytes whole lines
//   MirrorFree(&st);
//
// Kind 0 reverses the 3-byte pixels keeping each pixel's bytes in order; kinds 1-6 and 10
// reverse the bytes; any other kind is left unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

struct MirrorState {
  int32_t kind = 0;
};

MirrorState* MirrorInit(MirrorState* state, int32_t kind);
void MirrorRows(MirrorState* state, uint8_t* band, size_t length, size_t lineBytes);
void MirrorFree(MirrorState* state);
void ReverseLineBytes(uint8_t* line, size_t n);
void MirrorRgbLine(uint8_t* line, size_t n);
