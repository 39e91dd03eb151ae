// Shared helpers of the streaming filters.
//
// Every filter is a trio: an init that builds a state from the tool's settings record (the
// state keeps a pointer to the record, which must outlive it), a rows routine that works
// in place on a band of whole lines, and a free that releases what init allocated. The
// program uses them only through the line-filter contract (LineFilter.h), whose adapters
// own both the state and the record the state points to. Bands
// are buffer + length in bytes; lines carry one byte a sample (RGB three bytes a pixel in
// R, G, B order; grey, palette indexes and black and white one byte a pixel).
//
// The neighbourhood filters (noise removal, sharpen, adaptive threshold, despeckle) emit
// each line a fixed number of lines late. Each of them also has a Delay query and a Flush
// step: a caller that drops the first Delay() lines it gets back and appends what Flush
// returns at the end receives exactly one output line per input line, each in its place.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <vector>

namespace orb {

// Feeds `delay` padding lines through `rows` one at a time after `fed` real lines and
// copies the results that belong to real lines into `out`. Returns the number of lines
// written (min(fed, delay)), or -1 when `outLength` cannot hold them.
// `makePad` fills a scratch line with the padding for the next step.
// a * b, or false when it does not fit in a size_t.
inline bool MulSize(size_t a, size_t b, size_t* out) { return !__builtin_mul_overflow(a, b, out); }

template <class RowsFn, class PadFn>
int64_t FlushDelayedLines(RowsFn rows, PadFn makePad, int64_t fed, int64_t delay, size_t width,
                          uint8_t* out, size_t outLength) {
  if (width == 0 || delay <= 0 || fed <= 0) return 0;
  int64_t pending = std::min(fed, delay);
  if (out == nullptr || outLength / width < static_cast<size_t>(pending)) return -1;
  std::vector<uint8_t> line;
  try {
    line.resize(width);
  } catch (const std::exception&) {
    return -1;
  }
  int64_t firstPending = fed - pending;
  for (int64_t j = 0; j < delay; ++j) {
    makePad(line.data());
    rows(line.data(), width);
    int64_t src = fed + j - delay;  // the input line this output belongs to
    if (src >= firstPending)
      std::memcpy(out + static_cast<size_t>(src - firstPending) * width, line.data(), width);
  }
  return pending;
}

inline uint8_t ClampByte(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

}  // namespace orb
