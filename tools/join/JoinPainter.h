// Drawing the join canvas into the view's picture, without a display: each item as a
// small picture at the view's zoom (built once per zoom from the item's lines), the
// selected item semi-transparent in free placement, frames, edges, handles, the alignment
// points and the seam.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/ToolViewHooks.h"
#include "tools/join/JoinModel.h"

namespace orb::join {

// An item at a zoom: R, G, B pixels, one for every zoom / 10000 item pixels.
struct ItemPicture {
  const ImageState* record = nullptr;  // the record it was made from
  int32_t zoom = 0;
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgb;
};

// Samples the item's newest record at `zoom` (nearest neighbour, lines read by number).
// False when its file cannot be read (the picture is then empty).
bool BuildItemPicture(ImageState* record, int32_t zoom, ItemPicture& out);

struct PaintOptions {
  uint8_t alpha = 255;  // opacity of the selected item in free placement
  int32_t markerSize = 16;  // screen pixels of an alignment point's marker
};

// Colours of the canvas's drawing.
inline constexpr uint8_t kBackground[3] = {255, 255, 240};
inline constexpr uint8_t kBlue[3] = {0, 0, 255};
inline constexpr uint8_t kRed[3] = {255, 0, 0};

// Paints the canvas and its items into `canvas` (the view's client picture).
void PaintJoinCanvas(const JoinModel& model, const std::vector<ItemPicture>& pictures, const ViewContext& view,
                     const PaintOptions& options, ViewCanvas& canvas);

}  // namespace orb::join
