// A picture in memory written as a Windows BMP file, at the depth the caller asks for.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/ReadWrite/LineWriter.h"
#include "engine/ReadWrite/StreamFiles.h"
#include "engine/SharedRoutines.h"
#include "platform/Bytes.h"

namespace {

using Table = std::vector<ColourBytes>;

// The 16 colours of the standard 4-bit table.
constexpr ColourBytes kStandard16[16] = {
    {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0}, {0, 0, 128},   {128, 0, 128},
    {0, 128, 128},   {192, 192, 192}, {128, 128, 128}, {255, 0, 0}, {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
};

Table DefaultTable(int bits) {
  Table t;
  if (bits == 1) {
    t = {{0, 0, 0}, {255, 255, 255}};
  } else if (bits == 4) {
    t.assign(std::begin(kStandard16), std::end(kStandard16));
  } else {
    // The colour cube first, then greys that the cube's six levels do not hold.
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b)
          t.push_back({static_cast<uint8_t>(51 * r), static_cast<uint8_t>(51 * g), static_cast<uint8_t>(51 * b)});
    for (int i = 0; i < 40; ++i) {
      const auto v = static_cast<uint8_t>((i + 1) * 255 / 41);
      t.push_back({v, v, v});
    }
  }
  return t;
}

// The nearest table colour of a pixel, remembered per colour (pictures hold few colours
// compared with their pixels).
class Nearest {
 public:
  explicit Nearest(const Table& table) : table_(table), keys_(kSlots, kEmpty), values_(kSlots, 0) {}
  uint8_t operator()(uint8_t r, uint8_t g, uint8_t b) {
    const uint32_t key = (uint32_t{r} << 16) | (uint32_t{g} << 8) | b;
    const uint32_t slot = (key * 2654435761u) >> (32 - kSlotBits);
    if (keys_[slot] == key) return values_[slot];
    int best = 0, bestDist = std::numeric_limits<int>::max();
    for (size_t i = 0; i < table_.size(); ++i) {
      const int dr = r - table_[i].red, dg = g - table_[i].green, db = b - table_[i].blue;
      const int d = dr * dr + dg * dg + db * db;
      if (d < bestDist) {
        bestDist = d;
        best = static_cast<int>(i);
        if (d == 0) break;
      }
    }
    keys_[slot] = key;
    values_[slot] = static_cast<uint8_t>(best);
    return values_[slot];
  }

 private:
  static constexpr int kSlotBits = 12;
  static constexpr uint32_t kSlots = 1u << kSlotBits;
  static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
  const Table& table_;
  std::vector<uint32_t> keys_;
  std::vector<uint8_t> values_;
};

bool Writable(const orb::BitmapPixels& b, int bits) {
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24) return false;
  if (b.width <= 0 || b.height <= 0 || !b.pixels) return false;
  if (b.bitsPerPixel == 8) return b.colours && b.stride >= static_cast<size_t>(b.width);
  return b.bitsPerPixel == 24 && b.stride / 3 >= static_cast<size_t>(b.width);
}

// One picture row (counted from the bottom, as the file holds them) in the file's form.
void ConvertRow(const orb::BitmapPixels& b, int bits, int32_t fromBottom, Nearest* nearest, uint8_t* out,
                size_t rowBytes) {
  const int32_t y = b.bottomUp ? fromBottom : b.height - 1 - fromBottom;
  const uint8_t* src = b.pixels + static_cast<size_t>(y) * b.stride;
  std::memset(out, 0, rowBytes);
  const auto w = static_cast<size_t>(b.width);
  for (size_t x = 0; x < w; ++x) {
    ColourBytes c;
    if (b.bitsPerPixel == 8) {
      if (bits == 8) {
        out[x] = src[x];  // the bitmap's own table: its indexes stay
        continue;
      }
      c = b.colours[src[x]];
    } else {
      c = {src[3 * x], src[3 * x + 1], src[3 * x + 2]};
    }
    switch (bits) {
      case 24:
        out[3 * x] = c.blue;
        out[3 * x + 1] = c.green;
        out[3 * x + 2] = c.red;
        break;
      case 8: out[x] = (*nearest)(c.red, c.green, c.blue); break;
      case 4: out[x / 2] |= static_cast<uint8_t>((*nearest)(c.red, c.green, c.blue) << ((x & 1) ? 0 : 4)); break;
      default:
        if ((*nearest)(c.red, c.green, c.blue)) out[x / 8] |= static_cast<uint8_t>(0x80u >> (x & 7));
        break;
    }
  }
}

std::vector<uint8_t> Headers(const orb::BitmapPixels& b, int bits, const Table& table, uint64_t rowBytes) {
  const auto dataOffset = static_cast<uint32_t>(54 + 4 * table.size());
  std::vector<uint8_t> head(dataOffset, 0);
  head[0] = 'B';
  head[1] = 'M';
  orb::PutU32LE(&head[2], static_cast<uint32_t>(dataOffset + rowBytes * static_cast<uint64_t>(b.height)));
  orb::PutU32LE(&head[10], dataOffset);
  uint8_t* info = &head[14];
  orb::PutU32LE(info, 40);
  orb::PutI32LE(info + 4, b.width);
  orb::PutI32LE(info + 8, b.height);
  orb::PutU16LE(info + 12, 1);
  orb::PutU16LE(info + 14, static_cast<uint16_t>(bits));
  // Pixels per metre as every BMP of the program gives them.
  orb::PutI32LE(info + 24, b.xDpi > 0 ? orb::PixelsPerMetre(b.xDpi) : 0);
  orb::PutI32LE(info + 28, b.yDpi > 0 ? orb::PixelsPerMetre(b.yDpi) : 0);
  for (size_t i = 0; i < table.size(); ++i) {
    uint8_t* e = &head[54 + 4 * i];
    e[0] = table[i].blue;
    e[1] = table[i].green;
    e[2] = table[i].red;
  }
  return head;
}

}  // namespace

bool SaveBitmapAsBmpFile(const orb::BitmapPixels& bitmap, const std::string& path, int bitsPerPixel) {
  if (!Writable(bitmap, bitsPerPixel)) return false;
  Table table;
  if (bitsPerPixel != 24) {
    if (bitmap.bitsPerPixel == 8 && bitsPerPixel == 8) {
      table.assign(bitmap.colours, bitmap.colours + 256);
    } else {
      table = DefaultTable(bitsPerPixel);
    }
  }
  const uint64_t rowBytes = (static_cast<uint64_t>(bitsPerPixel) * static_cast<uint64_t>(bitmap.width) + 31) / 32 * 4;
  if (54 + 4 * table.size() + rowBytes * static_cast<uint64_t>(bitmap.height) > std::numeric_limits<uint32_t>::max()) {
    return false;  // the file's size field cannot hold it
  }
  const std::vector<uint8_t> head = Headers(bitmap, bitsPerPixel, table, rowBytes);

  std::string temp;
  const int fd = orb::rw::CreateBeside(path, &temp);
  if (fd < 0) return false;
  bool ok = orb::rw::WriteAll(fd, head.data(), head.size());
  // A band of rows at a time: bounded memory whatever the height.
  const auto bandRows = static_cast<int32_t>(std::max<uint64_t>(1, (uint64_t{1} << 20) / rowBytes));
  std::vector<uint8_t> band(static_cast<size_t>(rowBytes) * static_cast<size_t>(bandRows));
  Nearest nearest(table);
  for (int32_t y = 0; ok && y < bitmap.height; y += bandRows) {
    const int32_t n = std::min(bandRows, bitmap.height - y);
    for (int32_t k = 0; k < n; ++k) {
      ConvertRow(bitmap, bitsPerPixel, y + k, &nearest, band.data() + static_cast<size_t>(k) * rowBytes, rowBytes);
    }
    ok = orb::rw::WriteAll(fd, band.data(), static_cast<size_t>(n) * rowBytes);
  }
  ok = ::close(fd) == 0 && ok;  // CommitBeside flushes it before it takes the name
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  return orb::rw::CommitBeside(temp, path);
}
