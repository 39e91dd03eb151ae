#include "engine/filters/ToneCurve.h"

#include <algorithm>

namespace orb {

CurvePoint ToneCurvePointAt(const std::array<CurvePoint, 4>& p, double t) {
  double mt = 1.0 - t;
  double b0 = mt * mt * mt;
  double b1 = 3.0 * mt * mt * t;
  double b2 = 3.0 * mt * t * t;
  double b3 = t * t * t;
  double x = b0 * p[0].x + b1 * p[1].x + b2 * p[2].x + b3 * p[3].x;
  double y = b0 * p[0].y + b1 * p[1].y + b2 * p[2].y + b3 * p[3].y;
  return CurvePoint{static_cast<int32_t>(x + 0.5), static_cast<int32_t>(y + 0.5)};
}

void SampleToneCurve(const std::array<CurvePoint, 4>& p, uint8_t table[256]) {
  for (int i = 0; i < 256; ++i) {
    CurvePoint pt = ToneCurvePointAt(p, i * 0.00390625);
    table[i] = static_cast<uint8_t>(std::clamp<int32_t>(pt.y, 0, 255));
  }
}

}  // namespace orb

ToneCurveState* BuildToneCurveTables(ToneCurveState* state, orb::GammaRecord* settings,
                                     int32_t kind, PaletteEntry* palette) {
  if (state == nullptr || settings == nullptr) return nullptr;
  state->settings = settings;
  state->kind = kind;
  state->palette = palette;
  auto& tb = settings->tables;
  if (settings->Channel == 0) {
    orb::SampleToneCurve(settings->curves[0], tb[0].data());
    state->red = state->green = state->blue = tb[0].data();
  } else {
    for (int c = 1; c <= 3; ++c) orb::SampleToneCurve(settings->curves[c], tb[c].data());
    state->red = tb[1].data();
    state->green = tb[2].data();
    state->blue = tb[3].data();
  }
  return state;
}

namespace {

void ApplyToPalette(ToneCurveState* s) {
  if (s->palette == nullptr) return;
  for (int e = 0; e < 256; ++e) {
    PaletteEntry& p = s->palette[e];
    p.red = s->red[std::min<unsigned>(p.red, 255)];
    p.green = s->green[std::min<unsigned>(p.green, 255)];
    p.blue = s->blue[std::min<unsigned>(p.blue, 255)];
  }
}

// Grey lines take the master table as stored, whatever channel is selected.
void ApplyToGrey(ToneCurveState* s, uint8_t* band, size_t length) {
  const uint8_t* t = s->settings->tables[0].data();
  for (size_t i = 0; i < length; ++i) band[i] = t[band[i]];
}

}  // namespace

void ApplyToneCurveRow(ToneCurveState* state, uint8_t* band, size_t length) {
  if (state == nullptr || state->red == nullptr) return;
  switch (state->kind) {
    case IK_RGB: {
      if (band == nullptr) return;
      // Pixels are R, G, B in memory: each byte goes through its own channel's table.
      const uint8_t* r = state->red;
      const uint8_t* g = state->green;
      const uint8_t* b = state->blue;
      size_t pixels = length / 3;
      for (size_t i = 0; i < pixels; ++i) {
        uint8_t* p = band + 3 * i;
        p[0] = r[p[0]];
        p[1] = g[p[1]];
        p[2] = b[p[2]];
      }
      break;
    }
    case IK_PALETTE256:
    case IK_PALETTE16:
      ApplyToPalette(state);
      break;
    case IK_GREY:
    case IK_GREY_FROM_GREEN:
      if (band != nullptr) ApplyToGrey(state, band, length);
      break;
    default:
      break;
  }
}

void ApplyToneCurveLineBuffer(ToneCurveState* state, uint8_t* block, size_t length) {
  if (state == nullptr || state->red == nullptr) return;
  if (state->kind != IK_RGB) {
    ApplyToneCurveRow(state, block, length);
    return;
  }
  if (block == nullptr) return;
  const uint8_t* r = state->red;
  const uint8_t* g = state->green;
  const uint8_t* b = state->blue;
  size_t pixels = length / 3;
  for (size_t i = 0; i < pixels; ++i) {
    uint8_t* p = block + 3 * i;
    uint8_t b0 = p[0], b1 = p[1], b2 = p[2];
    p[0] = r[b2];
    p[1] = g[b1];
    p[2] = b[b0];
  }
}
