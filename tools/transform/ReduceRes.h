// Reducing an image to a lower resolution in dots per inch: colour and grey through the
// engine's Lanczos-3 resampler, palette and black and white images by the nearest source
// pixel so that palette indices stay valid. The width follows the horizontal resolution
// and the height the vertical one, so a scan with unequal resolutions comes out square.
#pragma once

#include <cstdint>
#include <string>

#include "tools/transform/TransformRun.h"

namespace orb::tools {

inline constexpr int32_t kReduceResMinimum = 50;
inline constexpr int32_t kReduceResDefault = 400;

// The value the page shows on a refresh: at most the image's resolution - 1, at least 50.
int32_t ReduceResShown(int32_t value, int32_t imageDpi);
// The value a typed entry becomes: below the image's resolution, else at least 50.
int32_t ReduceResCommitted(int32_t typed, int32_t imageDpi);

struct ReducedSize {
  int32_t width = 0;
  int32_t height = 0;
};
// trunc(W / xdpi x target) by trunc(H / ydpi x target); 0 x 0 when it cannot be made.
ReducedSize ReduceResSize(int32_t width, int32_t height, int32_t xDpi, int32_t yDpi, int32_t target);

enum class ReduceCheck {
  Ok,
  NoResolution,  // the image says nothing of its resolution
  NotLower,      // the target is not below the image's resolution
  Empty,         // the result would have no pixels
};
ReduceCheck CheckReduceRes(const ImageState& image, int32_t target);

// Resamples `working` into a new version of `target` dpi (code 10). A target that cannot be
// applied (see CheckReduceRes) gives NoImage and changes nothing.
ApplyOutcome ReduceResolution(ImageState* working, int32_t target, const ApplyProgressFactory& progress = {});

// The tool's apply on the active image.
int ReduceActiveImage(int32_t target);

// The tool's setting: the target resolution, 4 bytes little-endian in "ReduceRes.flt" in
// the data folder; 400 when the file is missing, short or holds a value below 1.
inline constexpr const char* kReduceResFile = "ReduceRes.flt";
int32_t LoadReduceResSetting(const std::string& folder);
bool SaveReduceResSetting(const std::string& folder, int32_t value);

// Message ids of the refusals.
inline constexpr int kMsgReduceNoResolution = 35700;
inline constexpr int kMsgReduceNotLower = 35701;

}  // namespace orb::tools
