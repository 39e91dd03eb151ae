#include "engine/filters/BrightCont.h"

#include <algorithm>
#include <new>

namespace orb {

void BuildBrightContTable(int32_t brightness, int32_t contrast, int16_t out[256]) {
  // Values outside the slider's range come only from damaged files; beyond them the
  // construction would write entries outside the table.
  contrast = std::clamp(contrast, -100, 100);
  brightness = std::clamp(brightness, -100, 100);
  int v[256];
  if (contrast >= 0) {
    double w = contrast / 100.0 * 256.0;
    int n = static_cast<int>(256.0 - w);
    int z = static_cast<int>(w * 0.5);
    for (int i = 0; i < 256; ++i) v[i] = 255;
    for (int i = 0; i < z && i < 256; ++i) v[i] = 0;
    if (n > 0) {
      double r = 256.0 / (256.0 - w);
      for (int j = 0; j < n && z + j < 256; ++j) v[z + j] = static_cast<int>(j * r);
    }
  } else {
    double a = contrast / -100.0;
    double o = a * 256.0 * 0.5;
    double step = (256.0 - o - o) * 0.00390625;
    double sum = o;
    for (int i = 0; i < 256; ++i) {
      sum += step;
      v[i] = static_cast<int>(sum);
    }
  }
  int d = static_cast<int>(brightness * 2.55);
  for (int i = 0; i < 256; ++i) {
    int x = static_cast<int16_t>(v[i] + d);
    out[i] = static_cast<int16_t>(std::clamp(x, 0, 255));
  }
}

}  // namespace orb

BrightContState* BrightContInit(BrightContState* state, const orb::BrightContRecord* settings,
                                int32_t kind, PaletteEntry* palette) {
  if (state == nullptr || settings == nullptr) return nullptr;
  state->settings = settings;
  state->kind = kind;
  state->palette = palette;
  try {
    state->table.assign(256 * 3, 0);
  } catch (const std::exception&) {
    state->table.clear();
    return nullptr;
  }
  int16_t t[256];
  orb::BuildBrightContTable(settings->Brightness, settings->Contrast, t);
  for (int i = 0; i < 256; ++i) {
    for (int c = 0; c < 3; ++c) state->table[static_cast<size_t>(i * 3 + c)] = static_cast<uint16_t>(t[i]);
    state->lut[i] = static_cast<uint8_t>(t[i]);
  }
  return state;
}

void BrightContRows(BrightContState* state, uint8_t* band, size_t length) {
  if (state == nullptr || state->table.empty()) return;
  const uint8_t* lut = state->lut;
  switch (state->kind) {
    case IK_RGB:
    case IK_GREY:
    case IK_GREY_FROM_GREEN:
      // All three channels share one mapping, so RGB is mapped byte by byte.
      if (band == nullptr) return;
      for (size_t i = 0; i < length; ++i) band[i] = lut[band[i]];
      break;
    case IK_PALETTE256:
    case IK_PALETTE16:
      if (state->palette == nullptr) return;
      for (int e = 0; e < 256; ++e) {
        PaletteEntry& p = state->palette[e];
        const uint16_t* t = state->table.data();
        p.red = t[std::min<unsigned>(p.red, 255) * 3 + 0];
        p.green = t[std::min<unsigned>(p.green, 255) * 3 + 1];
        p.blue = t[std::min<unsigned>(p.blue, 255) * 3 + 2];
      }
      break;
    default:
      break;
  }
}

void BrightContFree(BrightContState* state) {
  if (state == nullptr) return;
  std::vector<uint16_t>().swap(state->table);
}
