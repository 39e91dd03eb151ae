#include "engine/ReadWrite/TiffHeader.h"

#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <vector>

#include "engine/EngineHost.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/StreamFiles.h"
#include "engine/ReadWrite/TiffTags.h"
#include "platform/Bytes.h"
#include "platform/imagemill/imagemill.h"

namespace {

constexpr int kMsgCannotRead = 201;

using orb::tiff::Tag;
using orb::tiff::Type;
constexpr uint16_t kShort = +Type::Short, kLong = +Type::Long, kRational = +Type::Rational;

uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
uint32_t Swap32(uint32_t v) { return __builtin_bswap32(v); }

// Bytes of one element of a TIFF type; 0 for unknown types.
uint32_t TypeSize(uint16_t type) {
  switch (static_cast<Type>(type)) {
    case Type::Byte: case Type::Ascii: case Type::SByte: case Type::Undefined: return 1;
    case Type::Short: case Type::SShort: return 2;
    case Type::Long: case Type::SLong: case Type::Float: case Type::Ifd: return 4;
    case Type::Rational: case Type::SRational: case Type::Double: return 8;
  }
  return 0;
}

// The value field holds the values themselves when they fit, else their offset. Values of
// two bytes are swapped in place one by one, an offset or a four-byte value as one word.
void SwapValueField(TiffEntry* e) {
  const uint64_t total = static_cast<uint64_t>(TypeSize(e->type)) * e->count;
  const uint32_t size = TypeSize(e->type);
  if (size == 0) return;
  if (total > 4) {
    e->value = Swap32(e->value);
  } else if (size == 2) {
    e->value = static_cast<uint32_t>(Swap16(static_cast<uint16_t>(e->value))) |
               (static_cast<uint32_t>(Swap16(static_cast<uint16_t>(e->value >> 16))) << 16);
  } else if (size == 4) {
    e->value = Swap32(e->value);
  }
}

// The whole n bytes at `at`, or false.
bool PRead(int fd, uint64_t at, void* buf, size_t n) {
  return orb::rw::ReadAt(fd, buf, n, at) == static_cast<int64_t>(n);
}

// Reads a file in the byte order of its header.
struct Endian {
  bool big = false;
  uint16_t U16(const uint8_t* p) const { return big ? orb::GetU16BE(p) : orb::GetU16LE(p); }
  uint32_t U32(const uint8_t* p) const { return big ? orb::GetU32BE(p) : orb::GetU32LE(p); }
};

// Reads `count` SHORT or LONG values of an entry (inline or at its offset), in chunks.
// `visit` returns false to stop; the function returns false when the values lie outside
// the file or a read fails.
template <typename Visit>
bool ForEachValue(int fd, uint64_t fileSize, const Endian& en, uint16_t type, uint32_t count,
                  uint64_t arrayAt, Visit visit) {
  const uint32_t size = type == kShort ? 2 : 4;
  if (arrayAt + static_cast<uint64_t>(size) * count > fileSize) return false;
  std::vector<uint8_t> buf(4096);
  uint32_t done = 0;
  while (done < count) {
    const uint32_t n = std::min<uint32_t>(count - done, static_cast<uint32_t>(buf.size() / size));
    if (!PRead(fd, arrayAt + static_cast<uint64_t>(done) * size, buf.data(), static_cast<size_t>(n) * size)) return false;
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t v = size == 2 ? en.U16(&buf[static_cast<size_t>(i) * 2]) : en.U32(&buf[static_cast<size_t>(i) * 4]);
      if (!visit(done + i, v)) return true;
    }
    done += n;
  }
  return true;
}

struct Raw {
  uint16_t kind;
  uint32_t photometric;
  int colours;  // colour map entries, 0 for none
  bool big;
  bool setsBlockHeight;
};

// What the raw header writer does for an output format code.
Raw RawFor(const ImageState& s) {
  switch (s.outputFormat) {
    case OF_RAW_RGB_LE: case OF_RAW_RGB_BE: return {IK_RGB, PM_RGB, 0, s.outputFormat == OF_RAW_RGB_BE, true};
    case OF_RAW_PAL256_LE: case OF_RAW_PAL256_BE: return {IK_PALETTE256, PM_PALETTE, 256, s.outputFormat == OF_RAW_PAL256_BE, true};
    case OF_RAW_PAL16_LE: case OF_RAW_PAL16_BE: return {IK_PALETTE16, PM_PALETTE, 16, s.outputFormat == OF_RAW_PAL16_BE, true};
    case OF_RAW_GREY_LE: case OF_RAW_GREY_BE: return {IK_GREY, PM_BLACK_IS_ZERO, 0, s.outputFormat == OF_RAW_GREY_BE, true};
    case OF_RAW_BW_LE: case OF_RAW_BW_BE: return {IK_BW, PM_BLACK_IS_ZERO, 0, s.outputFormat == OF_RAW_BW_BE, true};
    default: return {s.kind, s.photometric, 0, false, false};  // 32-bit pair and any other code
  }
}

// Byte positions of the raw image file header: the directory right after the 8-byte file
// header, then its next-directory word, the two resolutions and the colour map.
struct RawLayout {
  static constexpr uint32_t kDirAt = 8;
  static constexpr uint32_t kEntriesAt = kDirAt + 2;
  uint32_t entries;  // directory entries
  uint32_t colours;  // colour map entries
  explicit RawLayout(const Raw& raw)
      : entries(raw.colours ? 14 : 13), colours(static_cast<uint32_t>(raw.colours)) {}
  static constexpr uint32_t EntryAt(uint32_t i) { return kEntriesAt + orb::tiff::kEntryBytes * i; }
  static constexpr uint32_t ValueAt(uint32_t i) { return EntryAt(i) + 8; }
  uint32_t NextDirAt() const { return EntryAt(entries); }
  uint32_t XResAt() const { return NextDirAt() + 4; }
  uint32_t YResAt() const { return XResAt() + 8; }
  uint32_t MapAt() const { return YResAt() + 8; }
  uint32_t DataAt() const { return MapAt() + 6 * colours; }
};

}  // namespace

namespace orb {

uint32_t RawImageHeaderSize(uint32_t outputFormat) {
  ImageState s;
  s.outputFormat = outputFormat;
  return RawLayout(RawFor(s)).DataAt();
}

uint32_t InternalFormatFor(uint16_t kind, bool bigEndian) {
  uint32_t le = 0;
  switch (kind) {
    case IK_RGB: le = OF_RAW_RGB_LE; break;
    case IK_CMYK32: le = OF_RAW_CMYK_LE; break;
    case IK_PALETTE256: le = OF_RAW_PAL256_LE; break;
    case IK_PALETTE16: le = OF_RAW_PAL16_LE; break;
    case IK_GREY: case IK_GREY_FROM_GREEN: le = OF_RAW_GREY_LE; break;
    case IK_BW: case IK_BW_FROM_GREEN: le = OF_RAW_BW_LE; break;
    default: return 0;
  }
  return bigEndian ? le + 1 : le;
}

}  // namespace orb

bool IsTiffFile(LineReader* reader) {
  if (!reader || !reader->image || reader->image->fileHandle < 0) return false;
  const int fd = reader->image->fileHandle;
  ::lseek(fd, 0, SEEK_SET);
  uint8_t m[4];
  if (!PRead(fd, 0, m, 4)) return false;
  const uint32_t word = orb::GetU32LE(m);
  return word == orb::tiff::kMagicLittleEndian || word == orb::tiff::kMagicBigEndian;
}

bool ReadTiffEntry(LineReader* reader, TiffEntry* entry) {
  if (!reader || !reader->image || !entry) return false;
  uint8_t b[12];
  size_t got = 0;
  while (got < sizeof b) {
    const ssize_t r = ::read(reader->image->fileHandle, b + got, sizeof b - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  entry->tag = orb::GetU16LE(b);
  entry->type = orb::GetU16LE(b + 2);
  entry->count = orb::GetU32LE(b + 4);
  entry->value = orb::GetU32LE(b + 8);
  return true;
}

void SwapTiffEntryToHost(TiffEntry* e) {
  e->tag = Swap16(e->tag);
  e->type = Swap16(e->type);
  e->count = Swap32(e->count);
  SwapValueField(e);  // by the host type and count
}

void SwapTiffEntryToBigEndian(TiffEntry* e) {
  SwapValueField(e);  // by the host type and count, before they are swapped
  e->tag = Swap16(e->tag);
  e->type = Swap16(e->type);
  e->count = Swap32(e->count);
}

int ReadTiffHeader(LineReader* reader) {
  if (!reader || !reader->image || reader->image->fileHandle < 0) return -1;
  ImageState& image = *reader->image;
  image.fillOrder2 = 0;
  const int fd = image.fileHandle;
  const int64_t ssize = orb::rw::FileSize(fd);
  if (ssize < 8) return -1;
  const auto fileSize = static_cast<uint64_t>(ssize);
  uint8_t head[8];
  if (!PRead(fd, 0, head, 8)) return -1;
  Endian en;
  en.big = head[0] == 'M' && head[1] == 'M';
  const uint64_t dir = en.U32(head + 4);
  if (dir < 8 || dir + 2 > fileSize) return -1;
  uint8_t cnt[2];
  if (!PRead(fd, dir, cnt, 2)) return -1;
  const uint32_t n = en.U16(cnt);
  // The whole directory, with its next-directory word, must lie inside the file.
  if (n == 0 || dir + 2 + uint64_t{orb::tiff::kEntryBytes} * n + 4 > fileSize) return -1;
  if (::lseek(fd, static_cast<off_t>(dir + 2), SEEK_SET) < 0) return -1;

  int64_t width = -1, height = -1;
  uint32_t bitsPerSample = 1, samples = 1, photometric = PM_WHITE_IS_ZERO, orientation = 0, planar = 1;
  uint32_t rowsPerStrip = 0xFFFFFFFFu;
  uint32_t stripCount = 0;
  uint16_t stripType = kLong;
  uint64_t stripOffsetsPos = 0, stripByteCountsPos = 0;
  bool several = false, fillOrder2 = false, refuse = false;
  uint64_t resOffset = 0;
  uint32_t resUnit = 2;
  uint64_t mapOffset = 0;
  uint32_t mapCount = 0;
  uint16_t mapType = 0;

  for (uint32_t i = 0; i < n && !refuse; ++i) {
    TiffEntry e;
    if (!ReadTiffEntry(reader, &e)) return -1;
    if (en.big) SwapTiffEntryToHost(&e);
    const uint64_t valuePos = dir + 2 + uint64_t{orb::tiff::kEntryBytes} * i + 8;
    const uint32_t value = (e.type == kShort && e.count == 1) ? (e.value & 0xFFFFu) : e.value;
    const bool shortOrLong = e.type == kShort || e.type == kLong;
    switch (static_cast<Tag>(e.tag)) {
      case Tag::ImageWidth:
        width = value;
        refuse = !shortOrLong;
        break;
      case Tag::ImageLength:
        height = value;
        refuse = !shortOrLong;
        break;
      case Tag::BitsPerSample:
        if (e.count == 1) {
          bitsPerSample = value;
        } else if (e.count == 3 || e.count == 4) {
          // Every sample must be 8 bits: a 16-bit colour file read as 8 bits would be garbage.
          bool all8 = true;
          if (e.type != kShort ||
              !ForEachValue(fd, fileSize, en, kShort, e.count, e.value, [&](uint32_t, uint32_t v) {
                if (v != 8) all8 = false;
                return all8;
              }))
            return -1;
          if (!all8) return -1;
          bitsPerSample = 8;
        } else {
          return -1;
        }
        break;
      case Tag::Compression:
        if (value != orb::tiff::kCompressionNone) return -1;
        break;
      case Tag::Photometric:
        photometric = value;
        break;
      case Tag::FillOrder:
        fillOrder2 = value == orb::tiff::kFillOrderLsbFirst;
        break;
      case Tag::StripOffsets:
        if (!shortOrLong || e.count == 0) return -1;
        stripType = e.type;
        stripCount = e.count;
        // Values that fit the field (one LONG, or up to two SHORTs) stand in it.
        stripOffsetsPos = TypeSize(e.type) * static_cast<uint64_t>(e.count) <= 4 ? valuePos : e.value;
        several = e.count > 1;
        break;
      case Tag::Orientation:
        orientation = value;
        break;
      case Tag::SamplesPerPixel:
        if (value != 1 && value != 3 && value != 4) return -1;
        samples = value;
        break;
      case Tag::RowsPerStrip:
        rowsPerStrip = value;
        break;
      case Tag::StripByteCounts:
        stripByteCountsPos = TypeSize(e.type) * static_cast<uint64_t>(e.count) <= 4 ? valuePos : e.value;
        break;
      case Tag::XResolution:
      case Tag::YResolution:
        if (e.type != kRational) return -1;
        resOffset = e.value;
        break;
      case Tag::PlanarConfig:
        planar = value;
        break;
      case Tag::ResolutionUnit:
        resUnit = value;
        break;
      case Tag::ColorMap:
        mapOffset = e.value;
        mapCount = e.count;
        mapType = e.type;
        break;
      case Tag::TileWidth: case Tag::TileLength: case Tag::TileOffsets: case Tag::TileByteCounts:
        return -1;  // tiles
      case Tag::SampleFormat: {
        // Only unsigned integer samples.
        if (e.type != kShort) return -1;
        if (e.count <= 2) {
          constexpr uint32_t kUnsigned = orb::tiff::kSampleFormatUnsigned;
          if ((e.value & 0xFFFF) != kUnsigned || (e.count == 2 && (e.value >> 16) != kUnsigned)) return -1;
        } else {
          bool ok = true;
          if (!ForEachValue(fd, fileSize, en, kShort, e.count, e.value, [&](uint32_t, uint32_t v) {
                ok = ok && v == orb::tiff::kSampleFormatUnsigned;
                return ok;
              }) || !ok)
            return -1;
        }
        break;
      }
      case Tag::NewSubfileType:
        break;  // a page's kind does not change how its pixels are read
      default:
        break;  // a tag the reader does not use (the value came from the file)
    }
  }
  if (refuse) return -1;
  if (width < 1 || height < 1 || width > 0x3FFFFFFF || height > 0x7FFFFFFF || stripCount == 0) return -1;
  if (fillOrder2) return -1;  // bits from the least significant: the library reverses them
  if (samples < 1) samples = 1;
  if (bitsPerSample < 1) bitsPerSample = 1;
  if (planar == orb::tiff::kPlanarSeparate && samples > 1) return -1;

  // Kind and stored line width.
  const auto w = static_cast<int32_t>(width);
  uint16_t kind;
  int32_t stored;
  uint32_t bitsPerPixel;
  bool clearRegion = false;
  if (samples == 1 && bitsPerSample == 1 && photometric <= PM_BLACK_IS_ZERO) {
    kind = IK_BW, stored = w, bitsPerPixel = 8;
  } else if (samples == 1 && bitsPerSample == 8 && photometric == PM_BLACK_IS_ZERO) {
    // Grey with white as zero would come out inverted: only black-is-zero is read here.
    kind = IK_GREY, stored = w, bitsPerPixel = 8;
  } else if (samples == 1 && bitsPerSample == 4 && photometric == PM_PALETTE) {
    kind = IK_PALETTE16, stored = w + (w & 1), bitsPerPixel = 8;
  } else if (samples == 1 && bitsPerSample == 8 && photometric == PM_PALETTE) {
    kind = IK_PALETTE256, stored = w, bitsPerPixel = 8;
  } else if (samples == 3 && bitsPerSample == 8 && photometric == PM_RGB) {
    kind = IK_RGB, stored = 3 * w, bitsPerPixel = 24;
  } else if (samples == 4 && bitsPerSample == 8 && photometric == PM_SEPARATED) {
    kind = IK_CMYK32, stored = 4 * w, bitsPerPixel = 32, clearRegion = true;
  } else {
    return -1;  // 16-bit palettes, 16-bit grey, alpha, other layouts: the library reads them
  }
  const uint64_t bytesPerLine = kind == IK_BW ? (static_cast<uint64_t>(w) + 7) / 8
                                : kind == IK_PALETTE16 ? static_cast<uint64_t>(stored) / 2
                                                       : static_cast<uint64_t>(stored);

  // Colour map.
  std::array<PaletteEntry, 256> palette = image.palette;
  if (kind == IK_PALETTE16 || kind == IK_PALETTE256) {
    const uint32_t entries = kind == IK_PALETTE256 ? 256 : 16;
    if (mapType != kShort || mapCount < 3 * entries || mapOffset == 0) return -1;
    std::vector<uint16_t> map;
    map.reserve(3 * entries);
    if (!ForEachValue(fd, fileSize, en, kShort, mapCount, mapOffset, [&](uint32_t idx, uint32_t v) {
          if (idx >= 3 * entries) return false;
          map.push_back(static_cast<uint16_t>(v));
          return true;
        }))
      return -1;
    if (map.size() != 3 * entries) return -1;
    auto eight = [](uint16_t v) { return static_cast<uint16_t>((v > 255 ? v >> 8 : v) & 0xFF); };
    for (uint32_t i = 0; i < entries; ++i)
      palette[i] = PaletteEntry{eight(map[i]), eight(map[entries + i]), eight(map[2 * entries + i])};
  }

  // Resolution.
  if (resOffset < 1 || resOffset + 8 > fileSize) return -1;
  uint8_t rat[8];
  if (!PRead(fd, resOffset, rat, 8)) return -1;
  const uint32_t num = en.U32(rat), den = en.U32(rat + 4);
  if (den == 0) return -1;
  uint64_t dpi = num / den;
  if (resUnit == orb::tiff::kResolutionUnitCm) dpi = static_cast<uint64_t>(static_cast<double>(num) / den * 2.54);
  if (dpi < 50 || dpi > 0x7FFFFFFF) dpi = dpi < 50 ? 100 : 0x7FFFFFFF;

  // Strips: the first strip's offset, and all strips one after another without gaps.
  uint64_t first = 0;
  if (several) {
    if (rowsPerStrip < 1 || rowsPerStrip == 0xFFFFFFFFu) return -1;
    const uint64_t strips = (static_cast<uint64_t>(height) + rowsPerStrip - 1) / rowsPerStrip;
    if (stripCount < strips) return -1;
    const uint64_t stripBytes = static_cast<uint64_t>(rowsPerStrip) * bytesPerLine;
    bool contiguous = true;
    if (!ForEachValue(fd, fileSize, en, stripType, static_cast<uint32_t>(strips), stripOffsetsPos,
                      [&](uint32_t idx, uint32_t v) {
                        if (idx == 0) first = v;
                        else if (v != first + idx * stripBytes) contiguous = false;
                        return contiguous;
                      }))
      return -1;
    if (!contiguous) return -1;
  } else {
    uint8_t b[4];
    if (!PRead(fd, stripOffsetsPos, b, 4)) return -1;
    first = stripType == kShort ? en.U16(b) : en.U32(b);
  }
  if (first < 8 || first + bytesPerLine * static_cast<uint64_t>(height) > fileSize) return -1;

  // Accepted: fill the record.
  image.width = w;
  image.height = static_cast<int32_t>(height);
  image.blockWidth = static_cast<uint32_t>(w);
  image.blockHeight = static_cast<uint32_t>(height);
  if (several && rowsPerStrip < static_cast<uint64_t>(height)) image.blockHeight = rowsPerStrip;
  image.bitsPerSample = bitsPerSample;
  image.samplesPerPixel = samples;
  image.bitsPerPixel = bitsPerPixel;
  image.photometric = static_cast<Photometric>(photometric);
  image.orientation = orientation;
  image.kind = static_cast<ImageKind>(kind);
  image.storedLineWidth = stored;
  image.outputFormat = orb::InternalFormatFor(kind, en.big);
  image.palette = palette;
  image.palette2 = image.palette;
  image.xDpi = image.yDpi = static_cast<int32_t>(dpi);
  image.stripOffsetsPos = stripOffsetsPos;
  image.severalStrips = several ? 1 : 0;
  image.stripCount = stripCount;
  image.stripByteCountsPos = stripByteCountsPos;
  image.dataOffset = first;
  image.rowOrder = 0;
  if (clearRegion) reader->regionFlag = 0;
  return 0;
}

int64_t WriteRawImageHeader(LineReader* reader) {
  if (!reader || !reader->image || reader->image->fileHandle < 0) return -1;
  ImageState& s = *reader->image;
  s.fillOrder2 = 0;
  const Raw raw = RawFor(s);
  if (raw.setsBlockHeight) s.blockHeight = 256;
  s.stripCount = 1;
  const RawLayout at(raw);
  const uint32_t xresAt = at.XResAt(), yresAt = at.YResAt(), mapAt = at.MapAt();
  const uint32_t dataOffset = at.DataAt();
  const uint16_t bps = (s.kind == IK_BW || s.kind == IK_BW_FROM_GREEN) ? 1
                       : s.kind == IK_PALETTE16                       ? 4
                                                                      : static_cast<uint16_t>(s.bitsPerSample);
  std::vector<TiffEntry> entries = {
      {+Tag::NewSubfileType, kLong, 1, 0},
      {+Tag::ImageWidth, kLong, 1, static_cast<uint32_t>(s.width)},
      {+Tag::ImageLength, kLong, 1, static_cast<uint32_t>(s.height)},
      {+Tag::BitsPerSample, kShort, 1, bps},
      {+Tag::Compression, kShort, 1, orb::tiff::kCompressionNone},
      {+Tag::Photometric, kShort, 1, raw.photometric & 0xFFFF},
      {+Tag::StripOffsets, kLong, 1, dataOffset},
      {+Tag::Orientation, kShort, 1, orb::tiff::kOrientationUnset},
      {+Tag::SamplesPerPixel, kShort, 1, s.samplesPerPixel & 0xFFFF},
      {+Tag::RowsPerStrip, kLong, 1, static_cast<uint32_t>(s.height)},
      {+Tag::StripByteCounts, kLong, 1, 0},
      {+Tag::XResolution, kRational, 1, xresAt},
      {+Tag::YResolution, kRational, 1, yresAt},
  };
  if (raw.colours) entries.push_back({+Tag::ColorMap, kShort, 3u * static_cast<uint32_t>(raw.colours), mapAt});

  std::vector<uint8_t> h(dataOffset, 0);
  h[0] = h[1] = raw.big ? 'M' : 'I';
  auto put16 = [&](size_t at, uint16_t v) { raw.big ? orb::PutU16BE(&h[at], v) : orb::PutU16LE(&h[at], v); };
  auto put32 = [&](size_t at, uint32_t v) { raw.big ? orb::PutU32BE(&h[at], v) : orb::PutU32LE(&h[at], v); };
  put16(2, orb::tiff::kVersion);
  put32(4, RawLayout::kDirAt);
  put16(RawLayout::kDirAt, static_cast<uint16_t>(at.entries));
  for (size_t i = 0; i < entries.size(); ++i) {
    TiffEntry e = entries[i];
    if (raw.big) SwapTiffEntryToBigEndian(&e);
    // The entry's words as they now stand are stored little-endian (host order).
    uint8_t* p = &h[RawLayout::EntryAt(static_cast<uint32_t>(i))];
    orb::PutU16LE(p, e.tag);
    orb::PutU16LE(p + 2, e.type);
    orb::PutU32LE(p + 4, e.count);
    orb::PutU32LE(p + 8, e.value);
  }
  put32(at.NextDirAt(), 0);
  const auto res = static_cast<uint32_t>(s.xDpi) & 0xFFFFu;
  put32(xresAt, res);
  put32(xresAt + 4, 1);
  put32(yresAt, res);
  put32(yresAt + 4, 1);
  // The colour map goes out in the machine's order whatever the header says.
  for (int i = 0; i < raw.colours; ++i) {
    const auto c = static_cast<size_t>(raw.colours);
    orb::PutU16LE(&h[mapAt + 2 * i], s.palette[static_cast<size_t>(i)].red);
    orb::PutU16LE(&h[mapAt + 2 * (c + static_cast<size_t>(i))], s.palette[static_cast<size_t>(i)].green);
    orb::PutU16LE(&h[mapAt + 2 * (2 * c + static_cast<size_t>(i))], s.palette[static_cast<size_t>(i)].blue);
  }
  // Where the stream writer completes the length, rows per strip and strip size at the end.
  auto valueAt = [&](Tag t) -> uint64_t {
    for (size_t i = 0; i < entries.size(); ++i)
      if (entries[i].tag == +t) return RawLayout::ValueAt(static_cast<uint32_t>(i));
    return 0;
  };
  s.lengthValuePos = valueAt(Tag::ImageLength);
  s.rowsPerStripValuePos = valueAt(Tag::RowsPerStrip);
  s.stripByteCountsPos = valueAt(Tag::StripByteCounts);
  s.stripOffsetsPos = 0;
  s.severalStrips = 0;
  s.dataOffset = dataOffset;
  const int fd = s.fileHandle;
  if (!orb::rw::WriteAt(fd, h.data(), h.size(), 0)) return -1;
  ::lseek(fd, static_cast<off_t>(dataOffset), SEEK_SET);
  return dataOffset;
}

int StopAtFirstLine(void*, uint8_t*, int, int) { return IM_STOPPED; }

int ProbeImageFile(LineReader* reader, bool showMessage) {
  if (!reader || !reader->image) return -1;
  ImageState& image = *reader->image;
  reader->regionFlag = 1;
  const bool scanning = orb::IsScanning();
  int fd = ::open(image.sourcePath.c_str(), (scanning ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) return -1;
  const int saved = image.fileHandle;
  image.fileHandle = fd;
  bool own = false;
  if (IsTiffFile(reader)) own = ReadTiffHeader(reader) == 0;
  ::close(fd);
  image.fileHandle = saved;
  bool ok = own;
  if (own) {
    image.sourceForm = SF_OWN_TIFF;
  } else {
    fd = ::open(image.sourcePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      image.rowOrder = 0;
      const int rc = IM_ReadByCallback(fd, StopAtFirstLine, ReadHeaderCallback, reader);
      ::close(fd);
      // The probe itself stops every decode at its first row: that stop means readable.
      if (rc == IM_OK || rc == IM_STOPPED) {
        image.sourceForm = SF_LIBRARY;
        ok = true;
      }
    }
  }
  if (!ok) {
    if (showMessage) orb::Notify(kMsgCannotRead, orb::MessageIcon::Exclamation);
    return -1;
  }
  if (reader->regionFlag) image.region = PixelRect{0, 0, image.width - 1, image.height - 1};
  return 0;
}
