// BMP by hand. The only place where pixels are blue-first: converted here, both ways.
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/Bytes.h"
#include "platform/imagemill/MillInternal.h"

namespace mill {

namespace {

constexpr uint32_t kFileHeader = 14;
constexpr uint32_t kInfoHeader = 40;

uint64_t StrideOf(int32_t width, int bpp) {
  return ((static_cast<uint64_t>(width) * static_cast<uint64_t>(bpp) + 31) / 32) * 4;
}

int MaskShift(uint32_t mask) {
  if (!mask) return 0;
  int s = 0;
  while (!(mask & 1u)) {
    mask >>= 1;
    ++s;
  }
  return s;
}
int MaskBits(uint32_t mask) {
  mask >>= MaskShift(mask);
  int n = 0;
  while (mask & 1u) {
    mask >>= 1;
    ++n;
  }
  return n;
}
uint8_t Channel(uint32_t v, uint32_t mask) {
  if (!mask) return 0;
  const int bits = MaskBits(mask);
  uint32_t c = (v & mask) >> MaskShift(mask);
  if (bits >= 8) return static_cast<uint8_t>(c >> (bits - 8));
  if (bits == 0) return 0;
  // Scale up to 8 bits.
  const uint32_t max = (1u << bits) - 1;
  return static_cast<uint8_t>((c * 255 + max / 2) / max);
}

class BmpWriter : public ImageWriter {
 public:
  int Begin(int fd, const ImageDesc& d) override {
    if (d.bitsPerPixel == 32) return IM_ERR_UNSUPPORTED;
    d_ = d;
    fd_ = fd;
    stride_ = StrideOf(d.width, d.bitsPerPixel);
    const uint32_t entries = d.bitsPerPixel <= 8 ? (1u << d.bitsPerPixel) : 0;
    offset_ = kFileHeader + kInfoHeader + 4 * entries;
    const uint64_t size = offset_ + stride_ * static_cast<uint64_t>(d.height);
    if (size > 0xFFFFFFFFu) return IM_ERR_TOO_LARGE;
    std::vector<uint8_t> h(offset_, 0);
    h[0] = 'B';
    h[1] = 'M';
    orb::PutU32LE(&h[2], static_cast<uint32_t>(size));
    orb::PutU32LE(&h[10], offset_);
    uint8_t* i = &h[kFileHeader];
    orb::PutU32LE(i, kInfoHeader);
    orb::PutI32LE(i + 4, d.width);
    orb::PutI32LE(i + 8, d.height);
    orb::PutU16LE(i + 12, 1);
    orb::PutU16LE(i + 14, static_cast<uint16_t>(d.bitsPerPixel));
    orb::PutU32LE(i + 20, static_cast<uint32_t>(stride_ * static_cast<uint64_t>(d.height)));
    orb::PutI32LE(i + 24, d.xPelsPerMeter);
    orb::PutI32LE(i + 28, d.yPelsPerMeter);
    orb::PutU32LE(i + 32, entries);
    std::vector<IM_RGBQUAD> table = d.colors;
    if (d.bitsPerPixel == 8 && d.grey) table = GreyTable(256);
    if (d.bitsPerPixel == 1 && table.size() >= 2 && std::memcmp(&table[0], &table[1], 4) == 0)
      table = GreyTable(2);  // no meaningful table: 0 black, 1 white
    for (uint32_t e = 0; e < entries && e < table.size(); ++e) {
      uint8_t* q = &h[kFileHeader + kInfoHeader + 4 * e];
      q[0] = table[e].rgbBlue;
      q[1] = table[e].rgbGreen;
      q[2] = table[e].rgbRed;
      q[3] = 0;
    }
    if (::ftruncate(fd, static_cast<off_t>(size)) != 0) return IM_ERR_IO;
    if (!WriteAt(fd, 0, h.data(), h.size())) return IM_ERR_IO;
    line_.assign(static_cast<size_t>(stride_), 0);
    return IM_OK;
  }

  int Row(const uint8_t* row) override {
    if (row_ >= d_.height) return IM_ERR_PARAM;
    const size_t n = d_.RowBytes();
    if (d_.bitsPerPixel == 24) {
      for (int32_t x = 0; x < d_.width; ++x) {
        const size_t p = 3 * static_cast<size_t>(x);
        line_[p] = row[p + 2];
        line_[p + 1] = row[p + 1];
        line_[p + 2] = row[p];
      }
    } else {
      std::memcpy(line_.data(), row, n);
    }
    const uint64_t at = offset_ + static_cast<uint64_t>(d_.height - 1 - row_) * stride_;
    if (!WriteAt(fd_, at, line_.data(), line_.size())) return IM_ERR_IO;
    ++row_;
    return IM_OK;
  }

  int Finish(bool) override { return IM_OK; }

 private:
  ImageDesc d_;
  int fd_ = -1;
  uint64_t stride_ = 0;
  uint32_t offset_ = 0;
  int32_t row_ = 0;
  std::vector<uint8_t> line_;
};

// Run-length data fill the image from the bottom row up, so they are unpacked whole (one
// index a byte) before the rows go out top first; such files are small.
int ReadRle(int fd, uint64_t fileSize, uint64_t dataOff, bool four, const ImageDesc& d, ReadSink& sink) {
  constexpr uint64_t kLimit = uint64_t{256} << 20;
  const auto w = static_cast<uint64_t>(d.width), h = static_cast<uint64_t>(d.height);
  if (w * h > kLimit || dataOff >= fileSize || fileSize - dataOff > kLimit) return IM_ERR_UNSUPPORTED;
  // The caller sees the size before the image is unpacked in memory.
  if (int rc = sink.Header(d); rc != IM_OK) return rc;
  std::vector<uint8_t> in(static_cast<size_t>(fileSize - dataOff));
  if (!ReadAt(fd, dataOff, in.data(), in.size())) return IM_ERR_CORRUPT;
  std::vector<uint8_t> px(static_cast<size_t>(w * h), 0);
  uint64_t x = 0, y = 0;  // y counts rows from the bottom
  size_t i = 0;
  auto put = [&](uint8_t v) {
    if (x < w && y < h) px[static_cast<size_t>((h - 1 - y) * w + x)] = v;
    ++x;
  };
  bool end = false;
  while (!end && i + 1 < in.size() && y < h) {
    const uint8_t n = in[i], v = in[i + 1];
    i += 2;
    if (n > 0) {
      for (unsigned k = 0; k < n; ++k) put(four ? static_cast<uint8_t>((k & 1) ? v & 15 : v >> 4) : v);
    } else if (v == 0) {
      x = 0;
      ++y;
    } else if (v == 1) {
      end = true;
    } else if (v == 2) {
      if (i + 1 >= in.size()) return IM_ERR_CORRUPT;
      x += in[i];
      y += in[i + 1];
      i += 2;
    } else {
      const size_t bytes = four ? (v + 1u) / 2u : v;
      if (i + bytes > in.size()) return IM_ERR_CORRUPT;
      for (unsigned k = 0; k < v; ++k)
        put(four ? static_cast<uint8_t>((k & 1) ? in[i + k / 2] & 15 : in[i + k / 2] >> 4) : in[i + k]);
      i += (bytes + 1) & ~size_t{1};
    }
  }
  std::vector<uint8_t> out(d.RowBytes());
  for (uint64_t r = 0; r < h; ++r) {
    const uint8_t* src = px.data() + r * w;
    if (four) {
      std::fill(out.begin(), out.end(), 0);
      for (uint64_t k = 0; k < w; ++k) out[k >> 1] |= static_cast<uint8_t>((src[k] & 15) << ((k & 1) ? 0 : 4));
    } else {
      std::memcpy(out.data(), src, out.size());
    }
    if (int rc = sink.Row(out.data(), static_cast<int32_t>(r), out.size()); rc != IM_OK) return rc;
  }
  return IM_OK;
}

}  // namespace

int ReadBmp(int fd, ReadSink& sink) {
  const int64_t fileSize = FileSize(fd);
  uint8_t fh[kFileHeader + 4];
  if (fileSize < static_cast<int64_t>(sizeof fh) || !ReadAt(fd, 0, fh, sizeof fh)) return IM_ERR_CORRUPT;
  const uint32_t dataOff = orb::GetU32LE(&fh[10]);
  const uint32_t hsize = orb::GetU32LE(&fh[14]);
  if (hsize != 12 && (hsize < 40 || hsize > 1024)) return IM_ERR_CORRUPT;
  std::vector<uint8_t> ih(std::max<uint32_t>(hsize, 52), 0);
  if (!ReadAt(fd, kFileHeader, ih.data(), hsize)) return IM_ERR_CORRUPT;
  int32_t width, height;
  uint16_t bpp;
  uint32_t compression = 0, clrUsed = 0;
  int32_t xppm = 0, yppm = 0;
  if (hsize == 12) {
    width = orb::GetU16LE(&ih[4]);
    height = orb::GetI16LE(&ih[6]);
    bpp = orb::GetU16LE(&ih[10]);
  } else {
    width = orb::GetI32LE(&ih[4]);
    height = orb::GetI32LE(&ih[8]);
    bpp = orb::GetU16LE(&ih[14]);
    compression = orb::GetU32LE(&ih[16]);
    xppm = orb::GetI32LE(&ih[24]);
    yppm = orb::GetI32LE(&ih[28]);
    clrUsed = orb::GetU32LE(&ih[32]);
  }
  if (width <= 0 || height == 0 || height == INT32_MIN) return IM_ERR_CORRUPT;
  const bool topDown = height < 0;
  if (topDown) height = -height;
  uint32_t masks[3] = {0x00FF0000u, 0x0000FF00u, 0x000000FFu};
  if (bpp == 16) masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
  if (compression == 3 || compression == 6) {
    if (bpp != 16 && bpp != 32) return IM_ERR_UNSUPPORTED;
    uint8_t m[12];
    const uint64_t at = hsize >= 52 ? kFileHeader + 40 : kFileHeader + hsize;
    if (!ReadAt(fd, at, m, sizeof m)) return IM_ERR_CORRUPT;
    for (int i = 0; i < 3; ++i) masks[i] = orb::GetU32LE(m + 4 * i);
  } else if (compression == 1 || compression == 2) {
    if ((compression == 1 && bpp != 8) || (compression == 2 && bpp != 4) || hsize == 12) return IM_ERR_CORRUPT;
  } else if (compression != 0) {
    return IM_ERR_UNSUPPORTED;  // embedded JPEG or PNG data
  }
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return IM_ERR_UNSUPPORTED;

  ImageDesc d;
  d.width = width;
  d.height = height;
  d.xPelsPerMeter = xppm;
  d.yPelsPerMeter = yppm;
  bool invert = false;
  if (bpp <= 8) {
    const uint32_t max = 1u << bpp;
    uint32_t n = clrUsed == 0 || clrUsed > max ? max : clrUsed;
    const uint32_t entry = hsize == 12 ? 3 : 4;
    const uint64_t at = kFileHeader + hsize + ((compression == 3 && hsize == 40) ? 12 : 0);
    std::vector<uint8_t> t(n * entry);
    if (!ReadAt(fd, at, t.data(), t.size())) return IM_ERR_CORRUPT;
    d.colors.assign(max, IM_RGBQUAD{0, 0, 0, 0});
    for (uint32_t i = 0; i < n; ++i) d.colors[i] = IM_RGBQUAD{t[i * entry], t[i * entry + 1], t[i * entry + 2], 0};
    d.bitsPerPixel = bpp;
    if (bpp == 8 && IsGreyRamp(d.colors)) d.grey = true;
    if (bpp == 1 && OneBitSetIsDark(d.colors)) {
      // Set bits travel as white: flip the pixels and the table together.
      invert = true;
      std::swap(d.colors[0], d.colors[1]);
    }
  } else {
    d.bitsPerPixel = 24;
  }
  if (int rc = CheckDesc(d); rc != IM_OK) return rc;
  if (compression == 1 || compression == 2) {
    if (topDown) return IM_ERR_CORRUPT;
    return ReadRle(fd, static_cast<uint64_t>(fileSize), dataOff, compression == 2, d, sink);
  }
  const uint64_t stride = StrideOf(width, bpp);
  if (dataOff < kFileHeader + 12 || static_cast<uint64_t>(fileSize) < dataOff ||
      (static_cast<uint64_t>(fileSize) - dataOff) / stride < static_cast<uint64_t>(height))
    return IM_ERR_CORRUPT;
  if (int rc = sink.Header(d); rc != IM_OK) return rc;
  std::vector<uint8_t> in(static_cast<size_t>(stride));
  std::vector<uint8_t> out(d.RowBytes());
  for (int32_t y = 0; y < height; ++y) {
    const uint64_t at = dataOff + stride * static_cast<uint64_t>(topDown ? y : height - 1 - y);
    if (!ReadAt(fd, at, in.data(), in.size())) return IM_ERR_CORRUPT;
    switch (bpp) {
      case 1: case 4: case 8:
        std::memcpy(out.data(), in.data(), out.size());
        if (invert)
          for (auto& b : out) b = static_cast<uint8_t>(~b);
        break;
      case 24:
        for (int32_t x = 0; x < width; ++x) {
          const size_t p = 3 * static_cast<size_t>(x);
          out[p] = in[p + 2];
          out[p + 1] = in[p + 1];
          out[p + 2] = in[p];
        }
        break;
      default:
        for (int32_t x = 0; x < width; ++x) {
          const uint32_t v = bpp == 16 ? orb::GetU16LE(&in[2 * static_cast<size_t>(x)])
                                       : orb::GetU32LE(&in[4 * static_cast<size_t>(x)]);
          const size_t p = 3 * static_cast<size_t>(x);
          out[p] = Channel(v, masks[0]);
          out[p + 1] = Channel(v, masks[1]);
          out[p + 2] = Channel(v, masks[2]);
        }
        break;
    }
    if (int rc = sink.Row(out.data(), y, out.size()); rc != IM_OK) return rc;
  }
  return IM_OK;
}

std::unique_ptr<ImageWriter> MakeBmpWriter(const WriteSettings&) { return std::make_unique<BmpWriter>(); }

}  // namespace mill
