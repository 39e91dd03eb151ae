// The strip table of a TIFF whose rows stopped before its planned length. libtiff sizes the
// table for the planned length when the first strip is written and keeps that size when the
// image length is lowered afterwards, so the file would list empty strips past the image's
// end (readers take them for damage). The directory is patched in place: both arrays list
// only the strips that hold rows, and a single strip's offset and count move into their
// entries, where a reader looks for a value that fits.
#include <cstring>

#include "platform/imagemill/MillInternal.h"

namespace mill {
namespace {

struct Order {
  bool big = false;  // "MM"
  uint64_t Get(const uint8_t* p, int n) const {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v |= uint64_t{p[big ? n - 1 - i : i]} << (8 * i);
    return v;
  }
  void Put(uint8_t* p, uint64_t v, int n) const {
    for (int i = 0; i < n; ++i) p[big ? n - 1 - i : i] = static_cast<uint8_t>(v >> (8 * i));
  }
};

int TypeSize(uint16_t type) {
  switch (type) {
    case 3: return 2;   // SHORT
    case 4: return 4;   // LONG
    case 16: return 8;  // LONG8
    default: return 0;
  }
}

}  // namespace

bool TrimTiffStripTable(int fd, uint32_t rows, uint32_t rowsPerStrip) {
  if (rows == 0 || rowsPerStrip == 0) return false;
  const uint64_t strips = (uint64_t{rows} + rowsPerStrip - 1) / rowsPerStrip;
  uint8_t head[16];
  if (!ReadAt(fd, 0, head, 8)) return false;
  Order o;
  if (head[0] == 'M' && head[1] == 'M') o.big = true;
  else if (!(head[0] == 'I' && head[1] == 'I')) return false;
  const uint64_t magic = o.Get(head + 2, 2);
  const bool bigTiff = magic == 43;
  if (magic != 42 && !bigTiff) return false;
  uint64_t ifd = 0;
  if (bigTiff) {
    if (!ReadAt(fd, 0, head, 16)) return false;
    ifd = o.Get(head + 8, 8);
  } else {
    ifd = o.Get(head + 4, 4);
  }
  const int countSize = bigTiff ? 8 : 2, entrySize = bigTiff ? 20 : 12, slot = bigTiff ? 8 : 4;
  uint8_t cnt[8];
  if (ifd == 0 || !ReadAt(fd, ifd, cnt, static_cast<size_t>(countSize))) return false;
  const uint64_t n = o.Get(cnt, countSize);
  if (n == 0 || n > 4096) return false;
  int patched = 0;
  for (uint64_t i = 0; i < n; ++i) {
    const uint64_t at = ifd + static_cast<uint64_t>(countSize) + i * static_cast<uint64_t>(entrySize);
    uint8_t e[20];
    if (!ReadAt(fd, at, e, static_cast<size_t>(entrySize))) return false;
    const uint16_t tag = static_cast<uint16_t>(o.Get(e, 2));
    if (tag != 273 && tag != 279) continue;
    const int size = TypeSize(static_cast<uint16_t>(o.Get(e + 2, 2)));
    if (size == 0) return false;
    const uint64_t count = o.Get(e + 4, bigTiff ? 8 : 4);
    if (count < strips) return false;  // the table is not the one written for these rows
    uint8_t* valueField = e + 4 + (bigTiff ? 8 : 4);
    if (count * static_cast<uint64_t>(size) > static_cast<uint64_t>(slot) &&
        strips * static_cast<uint64_t>(size) <= static_cast<uint64_t>(slot)) {
      // The values now fit in the entry: take them from the array they were in.
      uint8_t values[8] = {};
      if (!ReadAt(fd, o.Get(valueField, slot), values, static_cast<size_t>(strips) * static_cast<size_t>(size)))
        return false;
      std::memset(valueField, 0, static_cast<size_t>(slot));
      std::memcpy(valueField, values, static_cast<size_t>(strips) * static_cast<size_t>(size));
    }
    o.Put(e + 4, strips, bigTiff ? 8 : 4);
    if (!WriteAt(fd, at, e, static_cast<size_t>(entrySize))) return false;
    ++patched;
  }
  return patched == 2;
}

}  // namespace mill
