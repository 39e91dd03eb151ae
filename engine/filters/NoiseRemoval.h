// Median noise removal over a 3 x 3, 5 x 5 or 7 x 7 window, streaming with a ring of lines.
//
//   NoiseRemovalState st;
//   if (!NoiseRemovalInit(&st, &settings, kind, W)) -> allocation failed (nothing to free)
//   for each band: counter = NoiseRemovalRows(&st, band, length);
//   at the end:    n = NoiseRemovalFlush(&st, out, outLength);   // optional
//   NoiseRemovalFree(&st);
//
// Kinds 0 (RGB, each channel by itself), 3 and 5 (grey) are filtered; other kinds, and a
// Level outside 1..3, pass through. Output is NoiseRemovalDelay() = (k - 1) / 2 lines late:
// band line j receives the filtered stream line j - delay, and the top of the image is
// extended by repeating its first line. The returned counter reaches 0 with the call that
// carries the first filtered line. Flush feeds white lines to bring out the last `delay`
// lines (fewer for a shorter image) into `out` and returns how many it wrote.
// 3 x 3 is the true median of nine; 5 x 5 and 7 x 7 the median of the k line medians.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/ToolSettings.h"

struct NoiseRemovalState {
  const orb::DescreenRecord* settings = nullptr;
  int32_t kind = 0;
  int32_t counter = 0;  // lines processed - (delay + 1)
  size_t width = 0;     // W, bytes per line
  bool firstLine = true;
  // The window size is fixed at init: the ring was built for it, so a Level changed
  // later cannot make a rows call reach past the ring.
  int k = 0;
  int64_t fed = 0;  // lines given to rows
  std::vector<uint8_t> ring;    // k lines, oldest first at `head`
  std::vector<uint8_t> medians; // 5 x 5 and 7 x 7: the k lines' horizontal medians
  size_t head = 0;
};

NoiseRemovalState* NoiseRemovalInit(NoiseRemovalState* state, const orb::DescreenRecord* settings,
                                     int32_t kind, size_t width);
int32_t NoiseRemovalRows(NoiseRemovalState* state, uint8_t* band, size_t length);
int NoiseRemovalDelay(const NoiseRemovalState* state);
int64_t NoiseRemovalFlush(NoiseRemovalState* state, uint8_t* out, size_t outLength);
void NoiseRemovalFree(NoiseRemovalState* state);
