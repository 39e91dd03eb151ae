#include "engine/filters/BWThreshold.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <random>

#include "engine/filters/FilterCommon.h"

namespace orb {
int OddWindow(int window) {
  if (window % 2 == 0) ++window;
  return std::max(window, 3);
}
}  // namespace orb

namespace {

std::unique_ptr<CIAT> MakeEngine(int window, int percent, size_t width) {
  int a = orb::OddWindow(window);
  auto e = std::make_unique<CIAT>();
  if (!e->Init(a, a / 2, width, a, percent)) return nullptr;
  return e;
}

void Fixed(const orb::BWThresholdRecord* s, uint8_t* band, size_t length) {
  int t = 255 - 5 * s->FixedThreshhold;
  uint8_t lut[256];
  for (int v = 0; v < 256; ++v) lut[v] = v < t ? 0 : 255;
  for (size_t i = 0; i < length; ++i) band[i] = lut[band[i]];
}

// One line of error diffusion in direction dir (+1 or -1).
template <bool Serpentine>
void DiffuseLine(uint8_t* line, size_t W, int32_t* cur, int32_t* next, int level, bool ltr) {
  const int L = level - 32;
  int T = (level - 19) / 2;
  if (T < 1) T = 1;
  const long w = static_cast<long>(W);
  const long dir = ltr ? 1 : -1;
  long x = ltr ? 0 : w - 1;
  for (long i = 0; i < w; ++i, x += dir) {
    int v = std::clamp(line[x] + cur[x], 0, 255);
    int e;
    if constexpr (Serpentine) {
      if (v < 128) {
        line[x] = 0;
        e = v - L;
      } else {
        line[x] = 255;
        e = v - (255 - L);
      }
    } else {
      if (v < T) {
        line[x] = 0;
        e = v + (255 - T);
      } else {
        line[x] = 255;
        e = v - (255 - T);
      }
    }
    int q = e >> 4;  // floor(e / 16)
    long ahead = x + dir, behind = x - dir;
    // Shares aimed outside the line are dropped.
    if (ahead >= 0 && ahead < w) {
      cur[ahead] += 7 * q;
      next[ahead] += q;
    }
    if (behind >= 0 && behind < w) next[behind] += 3 * q;
    next[x] += 5 * q;
  }
}

void HybridMix(BWThresholdState* s, uint8_t* line) {
  const size_t W = s->width;
  const int n = s->n, K = s->K;
  // A[i] := A[i-1] for i = n-1 .. 1 with A[0] the diffused line.
  uint8_t* recycled = s->A[static_cast<size_t>(n - 1)];
  for (int i = n - 1; i >= 2; --i) s->A[static_cast<size_t>(i)] = s->A[static_cast<size_t>(i - 1)];
  s->A[1] = recycled;
  std::memcpy(s->A[1], line, W);

  int32_t* P = s->P.data();
  int32_t* Q = s->Q.data();
  const uint8_t* bOld = s->B[static_cast<size_t>(K - 1)];
  const uint8_t* cOld = s->C[static_cast<size_t>(K - 1)];
  for (size_t x = 0; x < W; ++x) {
    P[x] -= bOld[x] != 0;
    Q[x] -= cOld[x] != 0;
  }
  uint8_t* bRec = s->B[static_cast<size_t>(K - 1)];
  uint8_t* cRec = s->C[static_cast<size_t>(K - 1)];
  for (int i = K - 1; i >= 1; --i) {
    s->B[static_cast<size_t>(i)] = s->B[static_cast<size_t>(i - 1)];
    s->C[static_cast<size_t>(i)] = s->C[static_cast<size_t>(i - 1)];
  }
  s->B[0] = bRec;
  s->C[0] = cRec;
  std::memcpy(s->B[0], s->A[static_cast<size_t>(n - 1)], W);
  std::memcpy(s->C[0], s->adaptiveOut.data(), W);
  for (size_t x = 0; x < W; ++x) {
    P[x] += s->B[0][x] != 0;
    Q[x] += s->C[0][x] != 0;
  }

  const size_t h = static_cast<size_t>(K / 2);
  int64_t sP = 0, sQ = 0;
  for (int i = 0; i < K; ++i) {  // P and Q are zero past W
    sP += P[i];
    sQ += Q[i];
  }
  const uint8_t* bh = s->B[h];
  const uint8_t* ch = s->C[h];
  const int64_t needP = 2 * static_cast<int64_t>(K);
  const int64_t limitQ = static_cast<int64_t>(K - 1) * K - static_cast<int64_t>(h);
  for (size_t x = h; x + h < W; ++x) {
    sP += P[x + h] - P[x - h];
    sQ += Q[x + h] - Q[x - h];
    line[x] = (sP >= needP && sQ < limitQ) ? ch[x] : bh[x];
  }
  // The edge columns come from the same delayed line as the rest, so the whole output
  // line shows one input line.
  for (size_t x = 0; x < std::min(h, W); ++x) line[x] = bh[x];
  for (size_t x = W > h ? W - h : 0; x < W; ++x) line[x] = bh[x];
}

}  // namespace

BWThresholdState* BWThresholdInit(BWThresholdState* state, const orb::BWThresholdRecord* settings,
                                  size_t width, size_t capacity, uint32_t seed) {
  if (state == nullptr || settings == nullptr) return nullptr;
  BWThresholdFree(state);
  *state = BWThresholdState{};
  state->settings = settings;
  state->width = width;
  state->capacity = capacity;
  try {
    switch (settings->ThresholdingType) {
      case 1:
        state->engine = MakeEngine(settings->AdaptiveWindowSize, settings->AdaptiveDynamic, width);
        if (!state->engine) return nullptr;
        break;
      case 2: {
        state->errCur.assign(width + 1, 0);
        state->errNext.assign(width + 1, 0);
        std::minstd_rand rng(seed == 0 ? 1u : seed);
        for (size_t x = 0; x < width; ++x) state->errNext[x] = static_cast<int32_t>(rng() % 255);
        state->hybrid = settings->DiffusionHybrid != 0;
        if (state->hybrid) {
          int a = orb::OddWindow(settings->HybridWindowSize);
          state->engine = MakeEngine(a, settings->HybridDynamic, width);
          if (!state->engine) {
            BWThresholdFree(state);
            return nullptr;
          }
          state->adaptiveOut.assign(width, 255);
          state->n = a / 2 + 2;
          state->K = std::max(settings->HybridDecisionWindow, 2);
          const size_t n = static_cast<size_t>(state->n), K = static_cast<size_t>(state->K);
          size_t bytesA = 0, bytesK = 0;
          if (!orb::MulSize(n, width, &bytesA) || !orb::MulSize(K, width, &bytesK))
            throw std::bad_alloc();
          state->ringA.assign(bytesA, 255);
          state->ringB.assign(bytesK, 0);
          state->ringC.assign(bytesK, 0);
          state->P.assign(std::max(width, K) + 1, 0);
          state->Q.assign(std::max(width, K) + 1, 0);
          for (size_t i = 0; i < n; ++i) state->A.push_back(state->ringA.data() + i * width);
          for (size_t i = 0; i < K; ++i) {
            state->B.push_back(state->ringB.data() + i * width);
            state->C.push_back(state->ringC.data() + i * width);
          }
        }
        break;
      }
      default:
        break;
    }
  } catch (const std::exception&) {  // bad_alloc, or a size beyond any vector
    BWThresholdFree(state);
    return nullptr;
  }
  return state;
}

void BWThresholdRows(BWThresholdState* state, uint8_t* band, size_t length, size_t width) {
  if (state == nullptr || state->settings == nullptr || band == nullptr || width == 0) return;
  const orb::BWThresholdRecord* s = state->settings;
  switch (s->ThresholdingType) {
    case 0:
      Fixed(s, band, length);
      state->fed += static_cast<int64_t>(length / width);
      break;
    case 1: {
      if (!state->engine || state->hybrid || width != state->width) return;
      size_t lines = length / width;
      // The engine copies each line into its ring before writing its output line, so it
      // works in place: a band of any height is handled.
      state->engine->ThresholdRows(band, band, lines);
      state->fed += static_cast<int64_t>(lines);
      break;
    }
    case 2: {
      if (state->errCur.empty() || width != state->width) return;
      if (state->hybrid && !state->engine) return;
      const size_t W = width;
      size_t lines = length / W;
      for (size_t l = 0; l < lines; ++l) {
        uint8_t* line = band + l * W;
        if (state->hybrid) state->engine->ThresholdRows(line, state->adaptiveOut.data(), 1);
        std::swap(state->errCur, state->errNext);
        std::fill(state->errNext.begin(), state->errNext.end(), 0);
        if (s->DiffusionSerpentine) {
          DiffuseLine<true>(line, W, state->errCur.data(), state->errNext.data(), s->DiffusionLevel,
                            state->leftToRight);
          state->leftToRight = !state->leftToRight;
        } else {
          DiffuseLine<false>(line, W, state->errCur.data(), state->errNext.data(),
                             s->DiffusionLevel, l % 2 == 0);
        }
        if (state->hybrid) HybridMix(state, line);
        ++state->fed;
      }
      break;
    }
    default:
      break;
  }
}

void BWThresholdFree(BWThresholdState* state) {
  if (state == nullptr) return;
  state->engine.reset();
  std::vector<uint8_t>().swap(state->adaptiveOut);
  std::vector<int32_t>().swap(state->errCur);
  std::vector<int32_t>().swap(state->errNext);
  std::vector<uint8_t>().swap(state->ringA);
  std::vector<uint8_t>().swap(state->ringB);
  std::vector<uint8_t>().swap(state->ringC);
  state->A.clear();
  state->B.clear();
  state->C.clear();
  std::vector<int32_t>().swap(state->P);
  std::vector<int32_t>().swap(state->Q);
}

bool BWThresholdSetLevel(BWThresholdState* state, int percent) {
  if (state == nullptr || !state->engine) return false;
  return state->engine->MakeThresholdTable(percent);
}

int BWThresholdDelay(const BWThresholdState* state) {
  if (state == nullptr || state->settings == nullptr) return 0;
  switch (state->settings->ThresholdingType) {
    case 1:
      return state->engine && !state->hybrid ? state->engine->Delay() : 0;
    case 2:
      return state->hybrid && state->engine ? state->engine->Delay() + state->K / 2 : 0;
    default:
      return 0;
  }
}

int64_t BWThresholdFlush(BWThresholdState* state, uint8_t* out, size_t outLength) {
  int delay = BWThresholdDelay(state);
  if (delay == 0) return 0;
  const size_t W = state->width;
  return orb::FlushDelayedLines(
      [state, W](uint8_t* line, size_t len) { BWThresholdRows(state, line, len, W); },
      [W](uint8_t* line) { std::memset(line, 0, W); }, state->fed, delay, W, out, outLength);
}

int orb::ThresholdPrimingLines(const orb::BWThresholdRecord& t) {
  if (t.ThresholdingType == 1) return std::max(0, t.AdaptiveWindowSize / 2);
  if (t.ThresholdingType == 2 && t.DiffusionHybrid) return std::max(0, t.AdaptiveWindowSize / 4);
  return 0;
}
