#include "color_control/ColorValues.h"

#include <algorithm>

ColorValues ComputeColorValues(uint8_t r8, uint8_t g8, uint8_t b8) {
  const double r = r8 / 255.0, g = g8 / 255.0, b = b8 / 255.0;
  const double mx = std::max({r, g, b}), mn = std::min({r, g, b});
  ColorValues v;
  v.lightness = (mx + mn) / 2;
  const double delta = mx - mn;
  v.saturation = delta;
  if (v.lightness <= 0 || delta <= 0) return v;
  v.saturation = v.lightness <= 0.5 ? delta / (mx + mn) : delta / (2 - mx - mn);
  const double rc = (mx - r) / delta, gc = (mx - g) / delta, bc = (mx - b) / delta;
  double h;
  if (r == mx) h = g == mn ? 5 + bc : 1 - gc;
  else if (g == mx) h = b == mn ? 1 + rc : 3 - bc;
  else h = r == mn ? 3 + gc : 5 - rc;
  v.hue = h / 6;
  return v;
}
