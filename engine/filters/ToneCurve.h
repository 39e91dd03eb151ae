// Tone curves: every channel value through a 256-entry table sampled from a cubic Bezier
// curve (one master curve, or one each for red, green and blue). No free step.
//
//   ToneCurveState st;
//   BuildToneCurveTables(&st, &settings, kind, palette);  // writes the record's tables
//   ApplyToneCurveRow(&st, band, length);                 // palette kinds: once, length 0
//
// The tables live in the settings record, which init writes and rows reads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/ImageState.h"
#include "engine/ToolSettings.h"

struct ToneCurveState {
  orb::GammaRecord* settings = nullptr;
  int32_t kind = 0;
  PaletteEntry* palette = nullptr;
  const uint8_t* red = nullptr;
  const uint8_t* green = nullptr;
  const uint8_t* blue = nullptr;
};

namespace orb {
// The point of the cubic Bezier curve at parameter t, each coordinate rounded by adding
// 0.5 and truncating.
CurvePoint ToneCurvePointAt(const std::array<CurvePoint, 4>& p, double t);
// Samples a curve into a table at t = i / 256, clamping y to 0..255.
void SampleToneCurve(const std::array<CurvePoint, 4>& p, uint8_t table[256]);
}  // namespace orb

ToneCurveState* BuildToneCurveTables(ToneCurveState* state, orb::GammaRecord* settings,
                                     int32_t kind, PaletteEntry* palette);
void ApplyToneCurveRow(ToneCurveState* state, uint8_t* band, size_t length);
// A block whose colour pixels arrive blue, green, red (the scanner's order): each pixel
// (b0, b1, b2) becomes (red[b2], green[b1], blue[b0]), so the tables apply to the right
// channels and the block leaves in the engine's R, G, B order. Other kinds as above.
void ApplyToneCurveLineBuffer(ToneCurveState* state, uint8_t* block, size_t length);
