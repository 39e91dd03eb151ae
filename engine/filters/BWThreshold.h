// Black-and-white threshold: grey lines (one byte a pixel) become bilevel lines, still one
// byte a pixel (0 black, 255 white). Modes by ThresholdingType: 0 fixed, 1 adaptive (the
// CIAT engine), 2 error diffusion, optionally mixed with the adaptive result (hybrid).
//
//   BWThresholdState st;
//   if (!BWThresholdInit(&st, &settings, W, capacity)) -> allocation failed
//   for each band: BWThresholdRows(&st, band, length, W);
//   at the end:    n = BWThresholdFlush(&st, out, outLength);   // optional
//   BWThresholdFree(&st);
//
// Read on every rows call: ThresholdingType, FixedThreshhold, DiffusionSerpentine,
// DiffusionLevel. Fixed at init: the windows and percents, DiffusionHybrid and
// HybridDecisionWindow (they size the buffers) - all from the record passed to init.
// A mode whose buffers init did not build (the type changed after init) leaves the band
// unchanged, as does a line width other than init's for modes 1 and 2.
//
// Error diffusion is deterministic: the first line's random errors come from `seed`, and
// the serpentine direction belongs to the state (left to right on its first line).
//
// Delay: mode 1 writes each line R / 2 lines late (first lines white); the hybrid writes
// R / 2 + K / 2 lines late; modes 0 and plain diffusion are not delayed. Flush feeds black
// lines (mirroring the engine's zero lines above the image) and returns the held lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/ToolSettings.h"
#include "engine/filters/AdaptiveThreshold.h"

struct BWThresholdState {
  const orb::BWThresholdRecord* settings = nullptr;
  std::unique_ptr<CIAT> engine;
  std::vector<uint8_t> adaptiveOut;  // hybrid: the adaptive line
  std::vector<int32_t> errCur;       // W + 1 entries
  std::vector<int32_t> errNext;
  // Hybrid: ring A (n lines), rings B and C (K lines), column counts P and Q.
  std::vector<uint8_t> ringA, ringB, ringC;
  std::vector<uint8_t*> A, B, C;
  std::vector<int32_t> P, Q;
  int n = 0;
  int K = 0;
  bool hybrid = false;
  size_t width = 0;
  size_t capacity = 0;
  bool leftToRight = true;  // serpentine direction of the next line
  int64_t fed = 0;
};

inline constexpr uint32_t kBWThresholdDefaultSeed = 0x5EED1234u;

BWThresholdState* BWThresholdInit(BWThresholdState* state, const orb::BWThresholdRecord* settings,
                                  size_t width, size_t capacity,
                                  uint32_t seed = kBWThresholdDefaultSeed);
void BWThresholdRows(BWThresholdState* state, uint8_t* band, size_t length, size_t width);
void BWThresholdFree(BWThresholdState* state);
// Sets the engine's percent and rebuilds its table; false for a state without engine.
bool BWThresholdSetLevel(BWThresholdState* state, int percent);
int BWThresholdDelay(const BWThresholdState* state);
int64_t BWThresholdFlush(BWThresholdState* state, uint8_t* out, size_t outLength);

namespace orb {
// The lines a save, the bilevel display or the batch engine read and pass through a
// converter before their first output line: AdaptiveWindowSize / 2 for the adaptive type,
// AdaptiveWindowSize / 4 for error diffusion with the hybrid, else 0.
int ThresholdPrimingLines(const BWThresholdRecord& settings);
// An odd window of at least 3: an even value is raised by 1.
int OddWindow(int window);
}  // namespace orb
