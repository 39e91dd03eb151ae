// Writes the default palette files of the initial data folder: "def16.apt" (the sixteen
// colours every display knows) and "def256.apt" (a 6x6x6 colour cube and the greys
// between its steps). Every 5-6-5 cell is classified to the palette colour nearest its
// centre; each palette colour is its own output colour.
//
// Usage: make_default_palettes <folder>
#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/PaletteFile.h"

namespace {

using Colour = std::array<int, 3>;

std::vector<Colour> SixteenColours() {
  return {{0, 0, 0},     {128, 0, 0},   {0, 128, 0},   {128, 128, 0}, {0, 0, 128},   {128, 0, 128},
          {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0}, {0, 255, 0},   {255, 255, 0},
          {0, 0, 255},   {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
}

std::vector<Colour> TwoHundredFiftySixColours() {
  std::vector<Colour> c;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) c.push_back({r * 51, g * 51, b * 51});
  // Forty greys that the cube's six do not have: documents are mostly grey.
  for (int i = 1; c.size() < 256; ++i) {
    const int v = i * 255 / 41;
    if (v % 51 != 0) c.push_back({v, v, v});
  }
  return c;
}

int Nearest(const std::vector<Colour>& palette, const Colour& c) {
  int best = 0;
  long bestDistance = -1;
  for (size_t i = 0; i < palette.size(); ++i) {
    long d = 0;
    for (int k = 0; k < 3; ++k) d += long(c[k] - palette[i][k]) * (c[k] - palette[i][k]);
    if (bestDistance < 0 || d < bestDistance) {
      bestDistance = d;
      best = static_cast<int>(i);
    }
  }
  return best;
}

bool Write(const std::string& path, const std::vector<Colour>& palette) {
  auto rec = std::make_unique<PaletteFile>();
  rec->Header = 2;
  rec->N = rec->M = static_cast<uint8_t>(palette.size() - 1);
  for (size_t i = 0; i < palette.size(); ++i) {
    for (int k = 0; k < 3; ++k) rec->Palette[3 * i + k] = rec->OutputPalette[3 * i + k] = static_cast<uint8_t>(palette[i][k]);
    rec->Map[i] = static_cast<uint8_t>(i);
  }
  for (int r = 0; r < 32; ++r)
    for (int g = 0; g < 64; ++g)
      for (int b = 0; b < 32; ++b) {
        const Colour centre{(r << 3) | 4, (g << 2) | 2, (b << 3) | 4};
        rec->Lookup[orb::PaletteCell(static_cast<uint8_t>(r << 3), static_cast<uint8_t>(g << 2),
                                     static_cast<uint8_t>(b << 3))] = static_cast<uint8_t>(Nearest(palette, centre));
      }
  return SavePaletteFile(path, *rec);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  if (!Write(folder + "/def16.apt", SixteenColours()) || !Write(folder + "/def256.apt", TwoHundredFiftySixColours())) {
    std::fprintf(stderr, "%s: cannot write the palette files into %s\n", argv[0], folder.c_str());
    return 1;
  }
  return 0;
}
