#include "engine/filters/BWPoint.h"

BWPointState* BWPointInit(BWPointState* state, const orb::BWPointRecord* settings, int32_t kind,
                          PaletteEntry* palette) {
  if (state == nullptr || settings == nullptr) return nullptr;
  state->settings = settings;
  state->kind = kind;
  state->palette = palette;
  return state;
}

void BWPointRows(BWPointState* state, uint8_t* band, size_t length) {
  if (state == nullptr || state->settings == nullptr) return;
  const int white = state->settings->White;
  const int black = state->settings->Black;
  switch (state->kind) {
    case IK_RGB: {
      if (band == nullptr) return;
      size_t pixels = length / 3;
      for (size_t i = 0; i < pixels; ++i) {
        uint8_t* p = band + 3 * i;
        int level = (p[0] + p[1] + p[2]) / 3;
        // The test for white comes first, so White below Black still whitens.
        if (level > white) {
          p[0] = p[1] = p[2] = 255;
        } else if (level < black) {
          p[0] = p[1] = p[2] = 0;
        }
      }
      break;
    }
    case IK_GREY:
    case IK_GREY_FROM_GREEN: {
      if (band == nullptr) return;
      uint8_t lut[256];
      for (int v = 0; v < 256; ++v)
        lut[v] = static_cast<uint8_t>(v > white ? 255 : (v < black ? 0 : v));
      for (size_t i = 0; i < length; ++i) band[i] = lut[band[i]];
      break;
    }
    case IK_PALETTE256:
    case IK_PALETTE16: {
      if (state->palette == nullptr) return;
      for (int e = 0; e < 256; ++e) {
        PaletteEntry& p = state->palette[e];
        int level = (static_cast<int16_t>(p.red) + static_cast<int16_t>(p.green) +
                     static_cast<int16_t>(p.blue)) / 3;
        if (level > white) {
          p.red = p.green = p.blue = 255;
        } else if (level < black) {
          p.red = p.green = p.blue = 0;
        }
      }
      break;
    }
    default:
      break;
  }
}
