#include "engine/filters/Invert.h"

InvertState* InvertInit(InvertState* state) { return state; }

void InvertRow(uint8_t* band, size_t length) {
  if (band == nullptr) return;
  for (size_t i = 0; i < length; ++i) band[i] = static_cast<uint8_t>(~band[i]);
}

void InvertFree(InvertState*) {}
