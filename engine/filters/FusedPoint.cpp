#include "engine/filters/FusedPoint.h"

#include <utility>

namespace orb {

FusedPointPass::FusedPointPass(size_t pixelBytes, size_t lineBytes)
    : pixelBytes_(pixelBytes == 3 ? 3 : 1), lineBytes_(lineBytes) {
  for (auto& map : maps_)
    for (int v = 0; v < 256; ++v) map[static_cast<size_t>(v)] = static_cast<uint8_t>(v);
}

void FusedPointPass::Then(const ByteMaps& maps) {
  for (size_t c = 0; c < 3; ++c)
    for (auto& v : maps_[c]) v = maps[c][v];
}

void FusedPointPass::Process(uint8_t* band, size_t length) const {
  if (band == nullptr || lineBytes_ == 0) return;
  for (size_t at = 0; at + lineBytes_ <= length; at += lineBytes_) {
    if (mirror_)
      MirrorLine(band + at);
    else
      MapLine(band + at);
  }
}

void FusedPointPass::MapLine(uint8_t* line) const {
  const uint8_t* m0 = maps_[0].data();
  if (pixelBytes_ == 1) {
    for (size_t i = 0; i < lineBytes_; ++i) line[i] = m0[line[i]];
    return;
  }
  const uint8_t* m1 = maps_[1].data();
  const uint8_t* m2 = maps_[2].data();
  for (size_t i = 0; i < lineBytes_; i += 3) {
    line[i] = m0[line[i]];
    line[i + 1] = m1[line[i + 1]];
    line[i + 2] = m2[line[i + 2]];
  }
}

// Each pair of pixels from the two ends swaps places, mapped on the way; a middle pixel
// stays where it is, mapped.
void FusedPointPass::MirrorLine(uint8_t* line) const {
  const uint8_t* m0 = maps_[0].data();
  const size_t pixels = lineBytes_ / pixelBytes_;
  if (pixels == 0) return;
  if (pixelBytes_ == 1) {
    for (size_t i = 0, j = pixels - 1; i < j; ++i, --j) {
      const uint8_t a = m0[line[i]];
      line[i] = m0[line[j]];
      line[j] = a;
    }
    if (pixels % 2 == 1) line[pixels / 2] = m0[line[pixels / 2]];
    return;
  }
  const uint8_t* m1 = maps_[1].data();
  const uint8_t* m2 = maps_[2].data();
  for (size_t i = 0, j = pixels - 1; i < j; ++i, --j) {
    uint8_t* a = line + 3 * i;
    uint8_t* b = line + 3 * j;
    const uint8_t a0 = m0[a[0]], a1 = m1[a[1]], a2 = m2[a[2]];
    a[0] = m0[b[0]];
    a[1] = m1[b[1]];
    a[2] = m2[b[2]];
    b[0] = a0;
    b[1] = a1;
    b[2] = a2;
  }
  if (pixels % 2 == 1) {
    uint8_t* p = line + 3 * (pixels / 2);
    p[0] = m0[p[0]];
    p[1] = m1[p[1]];
    p[2] = m2[p[2]];
  }
}

}  // namespace orb
