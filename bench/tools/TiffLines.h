// Line-at-a-time TIFF input and output for the benchmark programs: uncompressed, chunky,
// 8-bit grey, RGB or palette, and 1-bit bilevel unpacked to one byte a pixel (0 / 255).
#pragma once

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace orb::bench {

class TiffLineReader {
public:
  bool Open(const std::string& path) {
    tif_ = TIFFOpen(path.c_str(), "rm");  // no memory map: resident memory stays small
    if (!tif_) return false;
    uint32_t w = 0, h = 0;
    uint16_t spp = 1, bps = 8, photo = PHOTOMETRIC_MINISBLACK;
    TIFFGetField(tif_, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif_, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_PHOTOMETRIC, &photo);
    width = w;
    height = h;
    channels = spp;
    bits = bps;
    minIsWhite = photo == PHOTOMETRIC_MINISWHITE;
    if ((bits != 8 && bits != 1) || (bits == 1 && spp != 1)) return false;
    raw_.resize(TIFFScanlineSize(tif_));
    return true;
  }
  ~TiffLineReader() {
    if (tif_) TIFFClose(tif_);
  }
  size_t LineBytes() const { return static_cast<size_t>(width) * channels; }
  // Next line into out (LineBytes() bytes).
  bool Read(uint8_t* out) {
    if (row_ >= height) return false;
    if (bits == 8) {
      if (TIFFReadScanline(tif_, out, row_++) < 0) return false;
      return true;
    }
    if (TIFFReadScanline(tif_, raw_.data(), row_++) < 0) return false;
    for (uint32_t x = 0; x < width; ++x) {
      const bool set = (raw_[x >> 3] >> (7 - (x & 7))) & 1;
      out[x] = (set != minIsWhite) ? 255 : 0;
    }
    return true;
  }
  void Rewind() { row_ = 0; }

  uint32_t width = 0, height = 0;
  int channels = 1, bits = 8;
  bool minIsWhite = false;

private:
  TIFF* tif_ = nullptr;
  uint32_t row_ = 0;
  std::vector<uint8_t> raw_;
};

class TiffLineWriter {
public:
  // bits 1 packs bytes (0 black, else white) into a bilevel image.
  bool Open(const std::string& path, uint32_t w, uint32_t h, int channels, int bits = 8,
            const uint16_t* palette = nullptr) {
    const double bytes = static_cast<double>(w) * h * channels * bits / 8.0;
    tif_ = TIFFOpen(path.c_str(), bytes > 3.9e9 ? "w8" : "w");
    if (!tif_) return false;
    width_ = w;
    bits_ = bits;
    TIFFSetField(tif_, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif_, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif_, TIFFTAG_SAMPLESPERPIXEL, channels);
    TIFFSetField(tif_, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif_, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    if (palette) {
      TIFFSetField(tif_, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
      TIFFSetField(tif_, TIFFTAG_COLORMAP, palette, palette + 256, palette + 512);
    } else {
      TIFFSetField(tif_, TIFFTAG_PHOTOMETRIC, channels == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    }
    const size_t lineBytes = (static_cast<size_t>(w) * channels * bits + 7) / 8;
    TIFFSetField(tif_, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(std::max<size_t>(1, (1 << 20) / lineBytes)));
    packed_.resize(lineBytes);
    return true;
  }
  // Resolution tags, in dots per inch; call after Open, before the first line.
  void SetResolution(float dpi) {
    TIFFSetField(tif_, TIFFTAG_XRESOLUTION, dpi);
    TIFFSetField(tif_, TIFFTAG_YRESOLUTION, dpi);
    TIFFSetField(tif_, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  }
  bool Write(const uint8_t* line) {
    if (bits_ == 8) return TIFFWriteScanline(tif_, const_cast<uint8_t*>(line), row_++) >= 0;
    std::fill(packed_.begin(), packed_.end(), 0);
    for (uint32_t x = 0; x < width_; ++x)
      if (line[x]) packed_[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    return TIFFWriteScanline(tif_, packed_.data(), row_++) >= 0;
  }
  bool Close() {
    if (!tif_) return false;
    TIFFClose(tif_);
    tif_ = nullptr;
    return true;
  }
  ~TiffLineWriter() { Close(); }

private:
  TIFF* tif_ = nullptr;
  uint32_t width_ = 0;
  uint32_t row_ = 0;
  int bits_ = 8;
  std::vector<uint8_t> packed_;
};

}  // namespace orb::bench
