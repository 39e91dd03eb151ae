#include "engine/filters/NoiseRemoval.h"

#include <cstring>
#include <new>

#include "engine/ImageState.h"
#include "engine/filters/FilterCommon.h"
#include "engine/filters/MedianNetworks.h"

namespace {

bool Filters(int32_t kind) { return kind == IK_RGB || kind == IK_GREY || kind == IK_GREY_FROM_GREEN; }

size_t BytesPerPixel(int32_t kind) { return kind == IK_RGB ? 3 : 1; }

uint8_t* RingLine(NoiseRemovalState* s, std::vector<uint8_t>& v, int i) {
  size_t slot = (s->head + static_cast<size_t>(i)) % static_cast<size_t>(s->k);
  return v.data() + slot * s->width;
}

void ProcessLine(NoiseRemovalState* s, uint8_t* line) {
  const int k = s->k;
  const size_t W = s->width;
  const size_t bpp = BytesPerPixel(s->kind);
  const size_t pixels = W / bpp;
  const size_t h = static_cast<size_t>((k - 1) / 2);
  const bool lineMedians = k > 3;

  if (s->firstLine) {
    for (int i = 0; i < k; ++i) std::memcpy(RingLine(s, s->ring, i), line, W);
    s->firstLine = false;
  }
  // Move the ring up one line: the oldest slot becomes the newest.
  s->head = (s->head + 1) % static_cast<size_t>(k);
  std::memcpy(RingLine(s, s->ring, k - 1), line, W);

  // Bytes of pixels h .. pixels - h - 1.
  bool any = pixels > 2 * h;
  size_t begin = h * bpp, end = any ? (pixels - h) * bpp : 0;
  if (lineMedians) {
    // Each line's horizontal medians depend on that line alone: compute them once, when
    // the line enters the ring.
    uint8_t* med = RingLine(s, s->medians, k - 1);
    if (any)
      orb::HorizontalMedian(line + begin - h * bpp, bpp, k, med + begin, end - begin);
    if (s->fed == 0) {
      for (int i = 0; i < k - 1; ++i) std::memcpy(RingLine(s, s->medians, i), med, W);
    }
    if (any) {
      const uint8_t* srcs[7];
      for (int i = 0; i < k; ++i) srcs[i] = RingLine(s, s->medians, i) + begin;
      orb::MedianOfArrays(srcs, k, line + begin, end - begin);
    }
  } else if (any) {
    orb::Median3x3(RingLine(s, s->ring, 0), RingLine(s, s->ring, 1), RingLine(s, s->ring, 2), bpp,
                   begin, end, line);
  }
  ++s->counter;
  ++s->fed;
}

}  // namespace

NoiseRemovalState* NoiseRemovalInit(NoiseRemovalState* state, const orb::DescreenRecord* settings,
                                     int32_t kind, size_t width) {
  if (state == nullptr || settings == nullptr) return nullptr;
  *state = NoiseRemovalState{};
  state->settings = settings;
  state->kind = kind;
  state->width = width;
  state->firstLine = true;
  int level = settings->Level;
  if (level < 1 || level > 3) return state;  // passes bands through
  state->k = 2 * level + 1;
  state->counter = -(state->k + 1) / 2;
  try {
    size_t bytes = 0;
    if (!orb::MulSize(static_cast<size_t>(state->k), width, &bytes)) throw std::bad_alloc();
    state->ring.assign(bytes, 255);
    if (state->k > 3) state->medians.assign(bytes, 255);
  } catch (const std::exception&) {  // bad_alloc, or a size beyond any vector
    NoiseRemovalFree(state);
    return nullptr;
  }
  return state;
}

int32_t NoiseRemovalRows(NoiseRemovalState* state, uint8_t* band, size_t length) {
  if (state == nullptr) return 0;
  if (state->k == 0 || state->ring.empty() || !Filters(state->kind) || band == nullptr ||
      state->width == 0)
    return state->counter;
  // A Level switched off (outside 1..3) leaves the band alone; any valid Level keeps the
  // window the ring was built for.
  if (state->settings->Level < 1 || state->settings->Level > 3) return state->counter;
  size_t lines = length / state->width;
  for (size_t l = 0; l < lines; ++l) ProcessLine(state, band + l * state->width);
  return state->counter;
}

int NoiseRemovalDelay(const NoiseRemovalState* state) {
  if (state == nullptr || state->k == 0 || !Filters(state->kind)) return 0;
  return (state->k - 1) / 2;
}

int64_t NoiseRemovalFlush(NoiseRemovalState* state, uint8_t* out, size_t outLength) {
  int delay = NoiseRemovalDelay(state);
  if (delay == 0 || state->ring.empty()) return 0;
  return orb::FlushDelayedLines(
      [state](uint8_t* line, size_t n) { NoiseRemovalRows(state, line, n); },
      [state](uint8_t* line) { std::memset(line, 255, state->width); }, state->fed, delay,
      state->width, out, outLength);
}

void NoiseRemovalFree(NoiseRemovalState* state) {
  if (state == nullptr) return;
  std::vector<uint8_t>().swap(state->ring);
  std::vector<uint8_t>().swap(state->medians);
}
