#include "engine/PaletteFile.h"

#include <cstring>
#include <memory>
#include <vector>

#include "platform/Files.h"

uint8_t ColourLookupTable[65536];

namespace {

constexpr size_t kLookupSize = 65536;

// Largest possible file: 2 + 65536 + 768 + 1 + 256 + 768.
constexpr size_t kMaxFileSize = 2 + kLookupSize + 768 + 1 + 256 + 768;

// Parses the file into the record; false on any inconsistency. Does not remap.
bool ParsePaletteBytes(const std::vector<uint8_t>& f, PaletteFile& r) {
  size_t at = 0;
  auto take = [&](void* dst, size_t n) {
    if (f.size() - at < n) return false;
    std::memcpy(dst, f.data() + at, n);
    at += n;
    return true;
  };
  if (!take(&r.Header, 1) || !take(&r.N, 1) || !take(r.Lookup, kLookupSize)) return false;
  size_t colours = size_t{r.N} + 1;
  if (!take(r.Palette, 3 * colours) || !take(&r.M, 1)) return false;
  size_t outputs = size_t{r.M} + 1;
  if (outputs > colours) return false;
  if (!take(r.Map, colours)) return false;
  for (size_t i = 0; i < colours; ++i)
    if (r.Map[i] > r.M) return false;
  return take(r.OutputPalette, 3 * outputs);
}

}  // namespace

bool LoadPaletteFile(const std::string& path, PaletteFile& record, PaletteEntry* outputPalette) {
  auto bytes = orb::ReadFileBytes(path, kMaxFileSize);
  if (!bytes || !ParsePaletteBytes(*bytes, record)) return false;
  size_t outputs = size_t{record.M} + 1;
  if (outputPalette) {
    for (size_t i = 0; i < outputs; ++i) {
      outputPalette[i].red = record.OutputPalette[3 * i];
      outputPalette[i].green = record.OutputPalette[3 * i + 1];
      outputPalette[i].blue = record.OutputPalette[3 * i + 2];
    }
  }
  // A lookup entry beyond the file's colours has no map entry: it goes to output colour 0
  // rather than through a map slot the file did not fill.
  for (size_t c = 0; c < kLookupSize; ++c) {
    uint8_t e = record.Lookup[c];
    record.Lookup[c] = e <= record.N ? record.Map[e] : 0;
  }
  std::memcpy(ColourLookupTable, record.Lookup, kLookupSize);
  return true;
}

bool SavePaletteFile(const std::string& path, const PaletteFile& r) {
  size_t colours = size_t{r.N} + 1;
  size_t outputs = size_t{r.M} + 1;
  std::vector<uint8_t> f;
  f.reserve(kMaxFileSize);
  f.push_back(r.Header);
  f.push_back(r.N);
  f.insert(f.end(), r.Lookup, r.Lookup + kLookupSize);
  f.insert(f.end(), r.Palette, r.Palette + 3 * colours);
  f.push_back(r.M);
  f.insert(f.end(), r.Map, r.Map + colours);
  f.insert(f.end(), r.OutputPalette, r.OutputPalette + 3 * outputs);
  return orb::WriteFileAtomically(path, f);
}

namespace orb {

int ReadPaletteOutputCount(const std::string& path) {
  auto bytes = ReadFileBytes(path, kMaxFileSize);
  if (!bytes) return 0;
  auto record = std::make_unique<PaletteFile>();
  if (!ParsePaletteBytes(*bytes, *record)) return 0;
  return record->M + 1;
}

}  // namespace orb
