#include "engine/filters/Mirror.h"

#include <utility>

MirrorState* MirrorInit(MirrorState* state, int32_t kind) {
  if (state == nullptr) return nullptr;
  state->kind = kind;
  return state;
}

void ReverseLineBytes(uint8_t* line, size_t n) {
  for (size_t i = 0; i < n / 2; ++i) std::swap(line[i], line[n - 1 - i]);
}

void MirrorRgbLine(uint8_t* line, size_t n) {
  size_t pixels = n / 3;
  for (size_t i = 0; i < pixels / 2; ++i) {
    uint8_t* a = line + 3 * i;
    uint8_t* b = line + (n - 3 - 3 * i);
    std::swap(a[0], b[0]);
    std::swap(a[1], b[1]);
    std::swap(a[2], b[2]);
  }
}

void MirrorRows(MirrorState* state, uint8_t* band, size_t length, size_t lineBytes) {
  if (state == nullptr || band == nullptr || lineBytes == 0) return;
  size_t lines = length / lineBytes;
  void (*fn)(uint8_t*, size_t) = nullptr;
  switch (state->kind) {
    case 0:
      fn = MirrorRgbLine;
      break;
    case 1: case 2: case 3: case 4: case 5: case 6: case 10:
      fn = ReverseLineBytes;
      break;
    default:
      return;
  }
  for (size_t l = 0; l < lines; ++l) fn(band + l * lineBytes, lineBytes);
}

void MirrorFree(MirrorState*) {}
