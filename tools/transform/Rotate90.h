// Turning an image by a quarter or half turn through the disk: the image is cut into tiles
// of 512 x 512 pixels, each tile is turned in memory and written to a tile file in the
// working folder, and the result is put together from the tile file in the turned order.
// Memory holds one band of 512 source lines, then one strip of result lines, whatever the
// image's height; every tile is written once and read once by its file offset.
#pragma once

#include <cstdint>

#include "tools/transform/TransformRun.h"

namespace orb::tools {

enum TurnDirection : int { kTurnLeft = 0, kTurnRight = 1, kTurnHalf = 2 };

inline constexpr int32_t kTurnTile = 512;

struct TurnedSize {
  int32_t width = 0;
  int32_t height = 0;
};
// A quarter turn makes the width the old height rounded up to a multiple of 8 (the added
// columns are white) and the height the old width; a half turn keeps the size.
TurnedSize TurnSize(int32_t width, int32_t height, int direction);
// The displayed region after the turn (a half turn turns it too).
PixelRect TurnRegion(const PixelRect& r, int32_t width, int32_t height, int direction);

// Turns one square tile of `side` x `side` pixels of `pixelBytes` bytes; `srcStride` and
// `dstStride` are the bytes between rows.
void TurnTile(const uint8_t* src, size_t srcStride, uint8_t* dst, size_t dstStride, int32_t side,
              int32_t pixelBytes, int direction);

// Turns `working` into a new version (code 7). The tile file is made with a unique name in
// the working folder and is gone when the run ends, whatever ends it.
ApplyOutcome TurnImage(ImageState* working, int direction, const ApplyProgressFactory& progress = {});

// The tool's apply on the active image (0, or -1 with nothing to turn or the disk short).
int TurnActiveImage(int direction);

// Strip memory the assembly may use (tests make it small to cross strip edges).
void SetTurnStripBudget(size_t bytes);

}  // namespace orb::tools
