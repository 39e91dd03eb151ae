// The one contract every line filter is used through: the scan road, document saving, the
// display previews, the tool pages' apply pipeline and the batch engine all hold filters as
// LineFilter objects made by the chain builder (FilterChain.h), never the trios directly.
//
// A filter is made for one pass over one image: it takes a copy of its settings record when
// it is made (so a page that edits the process-wide record meanwhile does not reach a
// running pass), allocates what it needs, and releases it when destroyed.
//
//   Process(band, length)   in place, a band of whole lines of the line width it was made for
//   Delay()                 band line j carries stream line j - Delay() (0: a point filter)
//   Flush(out, outLength)   after the last band: the Delay() lines still held, into out
//   ApplyToPalette()        palette kinds: remaps the palette it was made with, once
//   Maps(maps), Mirrors()   what the chain needs to fuse a run of point filters (FusedPoint.h)
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/filters/FusedPoint.h"

namespace orb {

class LineFilter {
 public:
  virtual ~LineFilter() = default;
  LineFilter() = default;
  LineFilter(const LineFilter&) = delete;
  LineFilter& operator=(const LineFilter&) = delete;

  virtual void Process(uint8_t* band, size_t length) = 0;
  virtual int Delay() const { return 0; }
  // Lines written (at most Delay(), fewer for a shorter stream); -1 when out is too small.
  virtual int64_t Flush(uint8_t* /*out*/, size_t /*outLength*/) { return 0; }
  // False for a filter that has nothing to do on a palette (it works on the lines).
  virtual bool ApplyToPalette() { return false; }
  // True when Process changes each byte of the lines through a table of its channel and does
  // nothing else (colour lines: byte i in channel i % 3; grey: the three tables alike):
  // `maps` then holds the tables.
  virtual bool Maps(ByteMaps& /*maps*/) const { return false; }
  // True when Process only reverses the order of the pixels of each line.
  virtual bool Mirrors() const { return false; }
};

}  // namespace orb
