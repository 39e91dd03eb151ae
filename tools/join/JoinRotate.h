// Turning a join item about its corner, for two-point alignment.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/ImageState.h"
#include "engine/SharedRoutines.h"

namespace orb::join {

// The size of `width` x `height` turned by `angle` degrees: the bounding box, its width
// rounded up to a multiple of 8.
struct TurnedSize {
  int32_t width = 0;
  int32_t height = 0;
};
TurnedSize TurnedSizeOf(int32_t width, int32_t height, double angle);

// Turns the RGB record `source` by `angle` degrees (direction 1 counter-clockwise, 0
// clockwise, with y up) into a new record appended to its chain, whose raw image file (in
// the temporary files folder) belongs to the record. Pixels by nearest neighbour; the
// uncovered corners white. Each of the `trackedCount` points (source pixels) is moved to
// where its pixel lies in the result. Null when the result could not be written (nothing
// changed then).
ImageState* RotateRgbRecord(ImageState* source, double angle, uint8_t direction, Point* tracked,
                            size_t trackedCount);

}  // namespace orb::join
