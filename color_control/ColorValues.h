// Hue, saturation and lightness of a palette colour, each 0..1 (pure red has hue 1.0).
#pragma once

#include <cstdint>

struct ColorValues {
  double hue = 0, saturation = 0, lightness = 0;
};

// A grey (all three bytes equal) has no hue; it gets 0, so it sorts with the reds of the
// first hue band however the list came to hold it.
ColorValues ComputeColorValues(uint8_t r, uint8_t g, uint8_t b);
