// Point filters fused into one pass over the lines.
//
// The tone curve, brightness/contrast, the grey black/white point and invert each change a
// byte through a table of its channel, and the mirror moves whole pixels without changing
// them: a run of these in a chain gives the same bytes when their tables are composed into
// one per channel and applied in a single pass, mirrored as it goes. A scan with three of
// them on then reads and writes each block once instead of three times.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace orb {

// A table for each channel of a line: byte i of a colour line is in channel i % 3; a grey
// line has one channel (table 0).
using ByteMaps = std::array<std::array<uint8_t, 256>, 3>;

class FusedPointPass {
 public:
  // `pixelBytes` 3 (colour) or 1 (grey); lines of `lineBytes`, a whole number of pixels.
  FusedPointPass(size_t pixelBytes, size_t lineBytes);

  // The pass then maps every byte through `maps` after what it did so far.
  void Then(const ByteMaps& maps);
  // The pass also reverses the pixels of each line (where in the run does not matter: a
  // table of a channel meets the same bytes before and after the move).
  void Mirror() { mirror_ = true; }

  // In place, on a band of whole lines. Safe on several threads at once (nothing changes).
  void Process(uint8_t* band, size_t length) const;

 private:
  void MapLine(uint8_t* line) const;
  void MirrorLine(uint8_t* line) const;

  size_t pixelBytes_;
  size_t lineBytes_;
  ByteMaps maps_;
  bool mirror_ = false;
};

}  // namespace orb
