// Despeckle: removes small black specks from bilevel lines (one byte a pixel, 0 black, any
// other value white), streaming. The 8-connected black components are followed run by
// run; a component no more than S pixels wide and S + 1 lines high (S = SpeckWidth, read
// in init) is whitened when it is complete. Output lines hold only 0 and 255.
//
//   DespeckleState st;
//   if (!DespeckleInit(&st, &settings, W)) -> allocation failed
//   for each band: counter = DespeckleRows(&st, band, length);
//   at the end:    n = DespeckleFlush(&st, out, outLength);   // optional
//   DespeckleFree(&st);
//
// Output is DespeckleDelay() = S + 1 lines late: stream lines 0 .. S - 1 come back as they
// went in, line S as a copy of itself with non-zero bytes set to 255, and from line S + 1
// on the band line receives the despeckled line i - S - 1. The counter is the number of
// lines processed minus S. Flush feeds white lines to complete the last components and
// returns the last S + 1 lines (fewer for a shorter image).
//
// Every table (runs of a line, waiting lines, components) grows as needed: lines of tens
// of thousands of runs (halftone at full scanner width) are handled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/ToolSettings.h"

namespace orb {
class DespeckleEngine;
}

struct DespeckleState {
  const orb::DespeckleRecord* settings = nullptr;
  size_t width = 0;
  int32_t limit = 0;     // S
  int32_t counter = 0;   // lines processed - S
  int64_t lineIndex = -1;
  int64_t fed = 0;
  bool failed = false;  // an allocation failed during rows; later bands pass unchanged
  std::unique_ptr<orb::DespeckleEngine> engine;
  DespeckleState();
  ~DespeckleState();
  DespeckleState(const DespeckleState&) = delete;
  DespeckleState& operator=(const DespeckleState&) = delete;
};

DespeckleState* DespeckleInit(DespeckleState* state, const orb::DespeckleRecord* settings,
                              size_t width);
int32_t DespeckleRows(DespeckleState* state, uint8_t* band, size_t length);
int DespeckleDelay(const DespeckleState* state);
int64_t DespeckleFlush(DespeckleState* state, uint8_t* out, size_t outLength);
void DespeckleFree(DespeckleState* state);
