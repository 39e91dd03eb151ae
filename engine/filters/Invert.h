// Invert: every byte of the band becomes its complement (255 - v), whatever it holds
// (colour or grey values, palette indexes, bilevel bytes, packed bilevel lines).
#pragma once

#include <cstddef>
#include <cstdint>

struct InvertState {
  int32_t unused = 0;
};

InvertState* InvertInit(InvertState* state);
void InvertRow(uint8_t* band, size_t length);
void InvertFree(InvertState* state);
