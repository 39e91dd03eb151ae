// TIFF through libtiff, on the caller's file descriptor, row by row in bounded memory.
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/imagemill/MillInternal.h"
#include "platform/imagemill/TiffIo.h"

namespace mill {

// ---------------------------------------------------------------- file access

namespace {

struct FdCursor {
  int fd;
  uint64_t pos;
};

tmsize_t ProcRead(thandle_t h, void* buf, tmsize_t n) {
  auto* c = static_cast<FdCursor*>(h);
  if (n <= 0) return 0;
  tmsize_t done = 0;
  while (done < n) {
    const ssize_t r = ::pread(c->fd, static_cast<uint8_t*>(buf) + done,
                              static_cast<size_t>(n - done), static_cast<off_t>(c->pos));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += r;
    c->pos += static_cast<uint64_t>(r);
  }
  return done;
}

tmsize_t ProcWrite(thandle_t h, void* buf, tmsize_t n) {
  auto* c = static_cast<FdCursor*>(h);
  if (n <= 0) return 0;
  if (!WriteAt(c->fd, c->pos, buf, static_cast<size_t>(n))) return -1;
  c->pos += static_cast<uint64_t>(n);
  return n;
}

toff_t ProcSeek(thandle_t h, toff_t off, int whence) {
  auto* c = static_cast<FdCursor*>(h);
  int64_t base = 0;
  if (whence == SEEK_CUR) base = static_cast<int64_t>(c->pos);
  else if (whence == SEEK_END) base = FileSize(c->fd);
  const int64_t target = base + static_cast<int64_t>(off);
  if (target < 0) return static_cast<toff_t>(-1);
  c->pos = static_cast<uint64_t>(target);
  return c->pos;
}

int ProcClose(thandle_t) { return 0; }  // the caller owns the descriptor

toff_t ProcSize(thandle_t h) {
  const int64_t s = FileSize(static_cast<FdCursor*>(h)->fd);
  return s < 0 ? 0 : static_cast<toff_t>(s);
}

int ProcMap(thandle_t, void**, toff_t*) { return 0; }
void ProcUnmap(thandle_t, void*, toff_t) {}

int QuietHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Warnings of the decoders are damage they worked around; the rest (unknown tags and the
// like) are not.
int WarningHandler(TIFF*, void* user, const char* module, const char*, va_list) {
  static constexpr const char* kDecoders[] = {"Fax", "JPEGLib", "JPEGDecode", "LZWDecode",
                                              "PackBitsDecode", "ZIPDecode", "DumpModeDecode"};
  if (module && user)
    for (const char* d : kDecoders)
      if (std::strncmp(module, d, std::strlen(d)) == 0) static_cast<TiffFile*>(user)->MarkDamaged();
  return 1;
}

}  // namespace

TiffFile::TiffFile(int fd, const char* mode) : cursor_(new FdCursor{fd, 0}) {
  TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(opts, QuietHandler, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, WarningHandler, this);
  // No single allocation of a hostile file may take more than this.
  TIFFOpenOptionsSetMaxSingleMemAlloc(opts, 512 * 1024 * 1024);
  tif_ = TIFFClientOpenExt("imagemill", mode, static_cast<thandle_t>(cursor_), ProcRead,
                           ProcWrite, ProcSeek, ProcClose, ProcSize, ProcMap, ProcUnmap, opts);
  TIFFOpenOptionsFree(opts);
}

TiffFile::~TiffFile() { Close(); delete static_cast<FdCursor*>(cursor_); }

bool TiffFile::Close() {
  if (!tif_) return true;
  const bool ok = TIFFFlush(tif_) != 0 || TIFFGetMode(tif_) == O_RDONLY;
  TIFFClose(tif_);
  tif_ = nullptr;
  return ok;
}

// ---------------------------------------------------------------- reading

namespace {

// Copies `nbits` bits from the start of src to dst at a byte boundary.
void CopyBitsAligned(uint8_t* dst, const uint8_t* src, size_t nbits) {
  const size_t whole = nbits / 8;
  std::memcpy(dst, src, whole);
  const size_t rest = nbits % 8;
  if (rest) {
    const uint8_t mask = static_cast<uint8_t>(0xFF00 >> rest);
    dst[whole] = static_cast<uint8_t>((dst[whole] & ~mask) | (src[whole] & mask));
  }
}

// Samples of one row, contiguous (one plane) or separate (one plane a sample).
struct RowPlanes {
  std::vector<std::vector<uint8_t>> planes;
  uint16_t spp = 1;
  uint16_t bps = 8;
  bool separate = false;

  uint32_t Sample(uint32_t x, uint16_t s) const {
    const uint8_t* p;
    uint64_t index;
    if (separate) {
      p = planes[s].data();
      index = x;
    } else {
      p = planes[0].data();
      index = static_cast<uint64_t>(x) * spp + s;
    }
    switch (bps) {
      case 8: return p[index];
      case 16: {
        uint16_t v;
        std::memcpy(&v, p + 2 * index, 2);
        return v;
      }
      default: {
        const uint64_t bit = index * bps;
        const uint32_t byte = p[bit / 8];
        const uint32_t shift = static_cast<uint32_t>(8 - bps - bit % 8);
        return (byte >> shift) & ((1u << bps) - 1);
      }
    }
  }
  // The sample scaled to 8 bits.
  uint8_t Sample8(uint32_t x, uint16_t s) const {
    const uint32_t v = Sample(x, s);
    switch (bps) {
      case 1: return v ? 255 : 0;
      case 2: return static_cast<uint8_t>(v * 85);
      case 4: return static_cast<uint8_t>(v * 17);
      case 8: return static_cast<uint8_t>(v);
      default: return static_cast<uint8_t>((v + 128) / 257);  // 16 bits, rounded
    }
  }
};

// Delivers the decoded rows of a TIFF one after another.
class TiffRowReader {
 public:
  TiffRowReader(TIFF* tif, uint32_t width, uint32_t height, uint16_t spp, uint16_t bps,
                bool separate)
      : tif_(tif), width_(width), height_(height), separate_(separate) {
    rows_.spp = spp;
    rows_.bps = bps;
    rows_.separate = separate;
    tiled_ = TIFFIsTiled(tif) != 0;
  }

  int Init() {
    const uint16_t planes = separate_ ? rows_.spp : 1;
    const uint64_t samplesPerRow = separate_ ? width_ : static_cast<uint64_t>(width_) * rows_.spp;
    rowBytes_ = (samplesPerRow * rows_.bps + 7) / 8;
    rows_.planes.assign(planes, std::vector<uint8_t>());
    if (tiled_) {
      uint32_t tw = 0, th = 0;
      if (!TIFFGetField(tif_, TIFFTAG_TILEWIDTH, &tw) || !TIFFGetField(tif_, TIFFTAG_TILELENGTH, &th) ||
          tw == 0 || th == 0)
        return IM_ERR_CORRUPT;
      tw_ = tw;
      th_ = th;
      const tmsize_t tileSize = TIFFTileSize(tif_);
      if (tileSize <= 0) return IM_ERR_CORRUPT;
      const uint64_t across = (width_ + tw - 1) / tw;
      const uint64_t tileRowBytes = separate_ ? (static_cast<uint64_t>(tw) * rows_.bps + 7) / 8
                                              : (static_cast<uint64_t>(tw) * rows_.spp * rows_.bps + 7) / 8;
      bandStride_ = across * tileRowBytes;
      const uint64_t band = bandStride_ * th * planes;
      if (band > (uint64_t{256} << 20)) return IM_ERR_UNSUPPORTED;
      tile_.resize(static_cast<size_t>(tileSize));
      band_.assign(planes, std::vector<uint8_t>(static_cast<size_t>(bandStride_ * th)));
      tileRowBytes_ = tileRowBytes;
    } else if (separate_) {
      // Separate planes are read strip by strip so that no strip is decoded twice.
      uint32_t rps = height_;
      TIFFGetFieldDefaulted(tif_, TIFFTAG_ROWSPERSTRIP, &rps);
      if (rps == 0 || rps > height_) rps = height_;
      rps_ = rps;
      const uint64_t need = rowBytes_ * rps * planes;
      if (need > (uint64_t{256} << 20)) return IM_ERR_UNSUPPORTED;
      band_.assign(planes, std::vector<uint8_t>(static_cast<size_t>(rowBytes_ * rps)));
    } else {
      const tmsize_t sl = TIFFScanlineSize(tif_);
      if (sl <= 0 || static_cast<uint64_t>(sl) < rowBytes_) return IM_ERR_CORRUPT;
      scan_.resize(static_cast<size_t>(sl));
    }
    for (auto& p : rows_.planes) p.resize(static_cast<size_t>(rowBytes_) + 8);
    return IM_OK;
  }

  // Decodes row y (called with y = 0, 1, 2 ...).
  int Next(uint32_t y) {
    if (tiled_) return NextTiled(y);
    if (separate_) return NextSeparateStrip(y);
    if (TIFFReadScanline(tif_, scan_.data(), y, 0) < 0) return IM_ERR_CORRUPT;
    std::memcpy(rows_.planes[0].data(), scan_.data(), static_cast<size_t>(rowBytes_));
    return IM_OK;
  }

  const RowPlanes& rows() const { return rows_; }

 private:
  int NextSeparateStrip(uint32_t y) {
    if (y % rps_ == 0) {
      const uint32_t n = std::min(rps_, height_ - y);
      for (uint16_t s = 0; s < rows_.spp; ++s) {
        const uint32_t strip = TIFFComputeStrip(tif_, y, s);
        const tmsize_t want = static_cast<tmsize_t>(rowBytes_ * n);
        if (TIFFReadEncodedStrip(tif_, strip, band_[s].data(), want) < want) return IM_ERR_CORRUPT;
      }
    }
    const size_t off = static_cast<size_t>(rowBytes_ * (y % rps_));
    for (uint16_t s = 0; s < rows_.spp; ++s)
      std::memcpy(rows_.planes[s].data(), band_[s].data() + off, static_cast<size_t>(rowBytes_));
    return IM_OK;
  }

  int NextTiled(uint32_t y) {
    const uint16_t planes = separate_ ? rows_.spp : 1;
    if (y % th_ == 0) {
      const uint32_t ty = y;
      const uint64_t rowsHere = std::min<uint64_t>(th_, height_ - ty);
      for (uint16_t s = 0; s < planes; ++s) {
        for (uint32_t tx = 0; tx < width_; tx += tw_) {
          if (TIFFReadTile(tif_, tile_.data(), tx, ty, 0, s) < 0) return IM_ERR_CORRUPT;
          const uint64_t col = tx / tw_;
          for (uint64_t r = 0; r < rowsHere; ++r)
            std::memcpy(band_[s].data() + r * bandStride_ + col * tileRowBytes_,
                        tile_.data() + r * tileRowBytes_, static_cast<size_t>(tileRowBytes_));
        }
      }
    }
    const uint64_t r = y % th_;
    const uint64_t bitsPerRow = (separate_ ? 1u : rows_.spp) * static_cast<uint64_t>(rows_.bps) * width_;
    for (uint16_t s = 0; s < planes; ++s)
      CopyBitsAligned(rows_.planes[s].data(), band_[s].data() + r * bandStride_, static_cast<size_t>(bitsPerRow));
    return IM_OK;
  }

  TIFF* tif_;
  uint32_t width_, height_;
  bool separate_;
  bool tiled_ = false;
  uint64_t rowBytes_ = 0;
  RowPlanes rows_;
  std::vector<uint8_t> scan_;
  std::vector<uint8_t> tile_;
  std::vector<std::vector<uint8_t>> band_;
  uint32_t tw_ = 0, th_ = 0, rps_ = 0;
  uint64_t bandStride_ = 0, tileRowBytes_ = 0;
};

void ResolutionOf(TIFF* tif, ImageDesc& d) {
  float xr = 0, yr = 0;
  uint16_t unit = RESUNIT_INCH;
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  if (!TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xr)) xr = 0;
  if (!TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yr)) yr = xr;
  auto toPpm = [unit](float r) -> int32_t {
    if (!(r > 0) || r > 1e6f) return 0;
    if (unit == RESUNIT_CENTIMETER) return static_cast<int32_t>(r * 100.0f + 0.5f);
    if (unit == RESUNIT_INCH) return DpiToPpm(r);
    return 0;
  };
  d.xPelsPerMeter = toPpm(xr);
  d.yPelsPerMeter = toPpm(yr);
}

// Samples a photometric interpretation can mean: its colour channels and at most two more
// (alpha and the like). A bilevel image has one sample; thousands are a damaged or hostile
// file that would make every row enormous.
bool SamplesFit(uint16_t photometric, uint16_t bps, uint16_t spp) {
  switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
      return bps == 1 ? spp == 1 : spp <= 3;
    case PHOTOMETRIC_PALETTE:
      return spp == 1;
    case PHOTOMETRIC_RGB:
    case PHOTOMETRIC_YCBCR:
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB:
      return spp >= 3 && spp <= 5;
    case PHOTOMETRIC_SEPARATED:
      return spp <= 8;
    default:
      return spp <= 8;
  }
}

// How many decoded bytes one stored byte can at most become under a compression.
uint64_t MostBytesFromOne(uint16_t compression) {
  switch (compression) {
    case COMPRESSION_NONE: return 1;
    case COMPRESSION_PACKBITS: return 64;  // a 2-byte run gives 128 bytes
    case COMPRESSION_JPEG:
    case COMPRESSION_OJPEG: return 1024;   // a block of 64 samples costs at least 2 bits
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE: return 1100;  // deflate's limit is 1032
    case COMPRESSION_LZW: return 4096;      // a 12-bit code stands for at most ~4000 bytes
    default: return uint64_t{1} << 20;
  }
}

// The decoded image must fit in what its file can hold, so that no work is done for rows
// a small file merely claims: a fax line costs at least one bit, any other code its ratio.
bool FileCanHold(TIFF* tif, uint16_t compression, uint32_t h, uint16_t spp, bool separate) {
  const uint64_t fileBytes = static_cast<uint64_t>(TIFFGetSizeProc(tif)(TIFFClientdata(tif)));
  switch (compression) {
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
      return static_cast<uint64_t>(h) * (separate ? spp : 1) <= 8 * fileBytes + 8;
    default:
      break;
  }
  const uint64_t decoded =
      TIFFIsTiled(tif) ? static_cast<uint64_t>(TIFFTileSize64(tif)) * TIFFNumberOfTiles(tif)
                       : static_cast<uint64_t>(TIFFScanlineSize64(tif)) * h * (separate ? spp : 1);
  const uint64_t most = MostBytesFromOne(compression);
  const uint64_t limit = fileBytes > UINT64_MAX / most ? UINT64_MAX : fileBytes * most;
  // A little room for codecs that end a strip with a few bytes less than they decode.
  return decoded <= limit + (compression == COMPRESSION_NONE ? 0 : 4096);
}

// Anything the direct path does not cover, through libtiff's RGBA conversion.
int ReadTiffRgba(TIFF* tif, uint32_t w, uint32_t h, ReadSink& sink) {
  char emsg[1024] = {};
  if (!TIFFRGBAImageOK(tif, emsg)) return IM_ERR_UNSUPPORTED;
  TIFFRGBAImage img;
  if (!TIFFRGBAImageBegin(&img, tif, 0, emsg)) return IM_ERR_UNSUPPORTED;
  struct End {
    TIFFRGBAImage* i;
    ~End() { TIFFRGBAImageEnd(i); }
  } end{&img};
  img.req_orientation = ORIENTATION_TOPLEFT;
  ImageDesc d;
  d.width = static_cast<int32_t>(w);
  d.height = static_cast<int32_t>(h);
  d.bitsPerPixel = 24;
  ResolutionOf(tif, d);
  if (int rc = sink.Header(d); rc != IM_OK) return rc;
  uint32_t band = 64;
  uint32_t rps = 0;
  if (!TIFFIsTiled(tif) && TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &rps) && rps > 0 && rps <= 1024)
    band = rps;
  if (static_cast<uint64_t>(band) * w > (uint64_t{1} << 27)) band = 1;
  std::vector<uint32_t> raster(static_cast<size_t>(band) * w);
  std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
  for (uint32_t y = 0; y < h; y += band) {
    const uint32_t n = std::min(band, h - y);
    img.row_offset = static_cast<int>(y);
    img.col_offset = 0;
    if (!TIFFRGBAImageGet(&img, raster.data(), w, n)) return IM_ERR_CORRUPT;
    for (uint32_t r = 0; r < n; ++r) {
      const uint32_t* src = raster.data() + static_cast<size_t>(r) * w;
      for (uint32_t x = 0; x < w; ++x) {
        row[3 * x] = static_cast<uint8_t>(TIFFGetR(src[x]));
        row[3 * x + 1] = static_cast<uint8_t>(TIFFGetG(src[x]));
        row[3 * x + 2] = static_cast<uint8_t>(TIFFGetB(src[x]));
      }
      if (int rc = sink.Row(row.data(), static_cast<int32_t>(y + r), row.size()); rc != IM_OK) return rc;
    }
  }
  return IM_OK;
}

}  // namespace

namespace {

int ReadTiffDirectory(TIFF* tif, ReadSink& sink) {
  uint32_t w = 0, h = 0;
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h))
    return IM_ERR_CORRUPT;
  if (w == 0 || h == 0 || w > 0x7FFFFFFFu || h > 0x7FFFFFFFu) return IM_ERR_CORRUPT;
  uint16_t spp = 1, bps = 1, planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
  uint16_t sampleFormat = SAMPLEFORMAT_UINT, photometric = 0, inkset = INKSET_CMYK;
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
  TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkset);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
    photometric = spp >= 3 ? PHOTOMETRIC_RGB : (bps == 1 ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
  if (spp == 0 || bps == 0) return IM_ERR_CORRUPT;
  if (!TIFFIsCODECConfigured(compression)) return IM_ERR_UNSUPPORTED;
  if (!SamplesFit(photometric, bps, spp)) return IM_ERR_CORRUPT;
  if (sampleFormat != SAMPLEFORMAT_UINT && sampleFormat != SAMPLEFORMAT_VOID) return IM_ERR_UNSUPPORTED;

  const bool separate = planar == PLANARCONFIG_SEPARATE;
  const bool bpsOk = bps == 1 || bps == 2 || bps == 4 || bps == 8 || bps == 16;
  bool jpegYcc = false;
  if (photometric == PHOTOMETRIC_YCBCR && compression == COMPRESSION_JPEG && !separate && bps == 8 &&
      spp == 3) {
    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    jpegYcc = true;
  }

  enum class Out { None, Bilevel, Grey, Palette, Rgb, Cmyk } out = Out::None;
  if (compression == COMPRESSION_OJPEG || !bpsOk) {
    out = Out::None;
  } else if (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK) {
    out = bps == 1 ? Out::Bilevel : Out::Grey;
  } else if (photometric == PHOTOMETRIC_PALETTE && spp == 1 && bps <= 8) {
    out = Out::Palette;
  } else if ((photometric == PHOTOMETRIC_RGB || jpegYcc) && spp >= 3 && bps >= 8) {
    out = Out::Rgb;
  } else if (photometric == PHOTOMETRIC_SEPARATED && inkset == INKSET_CMYK && spp >= 4 && bps >= 8) {
    out = Out::Cmyk;
  }
  if (out == Out::None) {
    if (!FileCanHold(tif, compression, h, spp, separate)) return IM_ERR_CORRUPT;
    return ReadTiffRgba(tif, w, h, sink);
  }

  ImageDesc d;
  d.width = static_cast<int32_t>(w);
  d.height = static_cast<int32_t>(h);
  ResolutionOf(tif, d);
  const bool invert = photometric == PHOTOMETRIC_MINISWHITE;
  switch (out) {
    case Out::Bilevel:
      d.bitsPerPixel = 1;
      d.colors = GreyTable(2);
      break;
    case Out::Grey:
      d.bitsPerPixel = 8;
      d.grey = true;
      d.colors = GreyTable(256);
      break;
    case Out::Palette: {
      uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
      if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b) return IM_ERR_CORRUPT;
      const size_t n = size_t{1} << bps;
      // Some writers store 8-bit values in the 16-bit map.
      bool eightBit = true;
      for (size_t i = 0; i < n; ++i)
        if (r[i] > 255 || g[i] > 255 || b[i] > 255) eightBit = false;
      d.bitsPerPixel = bps == 8 ? 8 : 4;
      d.colors.assign(bps == 8 ? 256 : 16, IM_RGBQUAD{0, 0, 0, 0});
      for (size_t i = 0; i < n; ++i) {
        auto c = [eightBit](uint16_t v) { return static_cast<uint8_t>(eightBit ? v : (v + 128u) / 257u); };
        d.colors[i] = IM_RGBQUAD{c(b[i]), c(g[i]), c(r[i]), 0};
      }
      break;
    }
    case Out::Rgb:
      d.bitsPerPixel = 24;
      break;
    case Out::Cmyk:
      d.bitsPerPixel = 32;
      break;
    case Out::None:
      break;
  }
  const uint16_t readSpp = jpegYcc ? 3 : spp;
  // Nothing is allocated for a file that cannot hold what it claims.
  if (int rc = CheckDesc(d); rc != IM_OK) return rc;
  if (static_cast<uint64_t>(TIFFScanlineSize64(tif)) > 2 * kMaxRowBytes) return IM_ERR_TOO_LARGE;
  if (!FileCanHold(tif, compression, h, spp, separate)) return IM_ERR_CORRUPT;
  TiffRowReader reader(tif, w, h, readSpp, bps, separate);
  if (int rc = reader.Init(); rc != IM_OK) return rc;
  if (int rc = sink.Header(d); rc != IM_OK) return rc;

  std::vector<uint8_t> row(d.RowBytes() + 8);
  const RowPlanes& rp = reader.rows();
  for (uint32_t y = 0; y < h; ++y) {
    if (int rc = reader.Next(y); rc != IM_OK) return rc;
    uint8_t* o = row.data();
    switch (out) {
      case Out::Bilevel:
        if (spp == 1) {
          std::memcpy(o, rp.planes[0].data(), d.RowBytes());
        } else {
          std::fill(row.begin(), row.end(), 0);
          for (uint32_t x = 0; x < w; ++x)
            if (rp.Sample(x, 0)) o[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
        }
        if (invert)
          for (size_t i = 0; i < d.RowBytes(); ++i) o[i] = static_cast<uint8_t>(~o[i]);
        break;
      case Out::Grey:
        if (spp == 1 && bps == 8) std::memcpy(o, rp.planes[0].data(), w);
        else
          for (uint32_t x = 0; x < w; ++x) o[x] = rp.Sample8(x, 0);
        if (invert)
          for (uint32_t x = 0; x < w; ++x) o[x] = static_cast<uint8_t>(255 - o[x]);
        break;
      case Out::Palette:
        if (bps == 8) {
          std::memcpy(o, rp.planes[0].data(), w);
        } else if (bps == 4) {
          std::memcpy(o, rp.planes[0].data(), d.RowBytes());
        } else {
          std::fill(row.begin(), row.end(), 0);
          for (uint32_t x = 0; x < w; ++x)
            o[x >> 1] |= static_cast<uint8_t>((rp.Sample(x, 0) & 15) << ((x & 1) ? 0 : 4));
        }
        break;
      case Out::Rgb:
        if (!separate && readSpp == 3 && bps == 8) std::memcpy(o, rp.planes[0].data(), size_t{3} * w);
        else
          for (uint32_t x = 0; x < w; ++x)
            for (uint16_t s = 0; s < 3; ++s) o[3 * x + s] = rp.Sample8(x, s);
        break;
      case Out::Cmyk:
        for (uint32_t x = 0; x < w; ++x)
          for (uint16_t s = 0; s < 4; ++s) o[4 * x + s] = rp.Sample8(x, s);
        break;
      case Out::None:
        break;
    }
    if (int rc = sink.Row(o, static_cast<int32_t>(y), d.RowBytes()); rc != IM_OK) return rc;
  }
  return IM_OK;
}

}  // namespace

int ReadTiffFile(TiffFile& file, ReadSink& sink) {
  const int rc = ReadTiffDirectory(file.tif(), sink);
  return rc == IM_OK && file.damaged() ? IM_ERR_CORRUPT : rc;
}

int ReadTiff(int fd, ReadSink& sink) {
  TiffFile file(fd, "rm");
  if (!file.tif()) return IM_ERR_CORRUPT;
  return ReadTiffFile(file, sink);
}

// ---------------------------------------------------------------- writing

namespace {

// Files whose pixels could pass this size are written as BigTIFF: 4 GB, less than the room
// classic offsets leave. IMAGEMILL_BIGTIFF_ABOVE (bytes) lowers it, so that tests can see
// the switch without writing gigabytes.
uint64_t BigTiffThreshold() {
  uint64_t limit = uint64_t{1} << 32;
  if (const char* env = std::getenv("IMAGEMILL_BIGTIFF_ABOVE")) {
    char* end = nullptr;
    const unsigned long long v = std::strtoull(env, &end, 10);
    if (end != env && v > 0 && v < limit) limit = v;
  }
  return limit;
}

class TiffWriter : public ImageWriter {
 public:
  TiffWriter(uint32_t compression, WriteSettings s) : compression_(compression), s_(std::move(s)) {}

  int Begin(int fd, const ImageDesc& d) override {
    d_ = d;
    fd_ = fd;
    const bool bilevelOnly = compression_ == 2 || compression_ == 3;
    if (bilevelOnly && d.bitsPerPixel != 1) return IM_ERR_UNSUPPORTED;
    if (compression_ == 4 && !(d.bitsPerPixel == 24 || (d.bitsPerPixel == 8 && d.grey)))
      return IM_ERR_UNSUPPORTED;
    // Past 4 GB (with room for the directory and any growth of the compression) the
    // classic offsets overflow: switch to BigTIFF.
    const uint64_t raw = static_cast<uint64_t>(d.RowBytes()) * static_cast<uint64_t>(d.height);
    big_ = raw + raw / 64 + (64u << 20) >= BigTiffThreshold();
    file_ = std::make_unique<TiffFile>(fd, big_ ? "w8" : "w");
    TIFF* tif = file_->tif();
    if (!tif) return IM_ERR_IO;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(d.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(d.height));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    uint16_t comp = COMPRESSION_NONE;
    switch (compression_) {
      case 1: comp = COMPRESSION_PACKBITS; break;
      case 2: comp = COMPRESSION_CCITTFAX3; break;
      case 3: comp = COMPRESSION_CCITTFAX4; break;
      case 4: comp = COMPRESSION_JPEG; break;
      default: break;
    }
    TIFFSetField(tif, TIFFTAG_COMPRESSION, comp);
    switch (d.bitsPerPixel) {
      case 1:
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                     OneBitSetIsDark(d.colors) ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
        break;
      case 4:
      case 8:
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, d.bitsPerPixel);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        if (d.bitsPerPixel == 8 && d.grey) {
          TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        } else {
          TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
          const size_t n = size_t{1} << d.bitsPerPixel;
          map_.assign(3 * n, 0);
          for (size_t i = 0; i < n && i < d.colors.size(); ++i) {
            map_[i] = static_cast<uint16_t>(d.colors[i].rgbRed * 257);
            map_[n + i] = static_cast<uint16_t>(d.colors[i].rgbGreen * 257);
            map_[2 * n + i] = static_cast<uint16_t>(d.colors[i].rgbBlue * 257);
          }
          TIFFSetField(tif, TIFFTAG_COLORMAP, map_.data(), map_.data() + n, map_.data() + 2 * n);
        }
        break;
      case 24:
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        break;
      case 32:
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_SEPARATED);
        TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK);
        break;
      default:
        return IM_ERR_UNSUPPORTED;
    }
    if (comp == COMPRESSION_JPEG) {
      TIFFSetField(tif, TIFFTAG_JPEGQUALITY, std::clamp(s_.tiffJpegQuality, 1, 100));
      if (d.bitsPerPixel == 24) {
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
      }
    }
    if (comp == COMPRESSION_CCITTFAX3) TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_2DENCODING);
    if (d.xPelsPerMeter > 0 || d.yPelsPerMeter > 0) {
      const int32_t xp = d.xPelsPerMeter > 0 ? d.xPelsPerMeter : d.yPelsPerMeter;
      const int32_t yp = d.yPelsPerMeter > 0 ? d.yPelsPerMeter : d.xPelsPerMeter;
      TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
      TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(std::round(PpmToDpi(xp))));
      TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(std::round(PpmToDpi(yp))));
    }
    if (!s_.artist.empty()) TIFFSetField(tif, TIFFTAG_ARTIST, s_.artist.c_str());
    if (!s_.copyright.empty()) TIFFSetField(tif, TIFFTAG_COPYRIGHT, s_.copyright.c_str());
    if (!s_.iccProfilePath.empty() && d.bitsPerPixel == 24) {
      std::ifstream in(s_.iccProfilePath, std::ios::binary);
      if (in) {
        in.seekg(0, std::ios::end);
        const std::streamoff len = in.tellg();
        if (len > 128 && len < (16 << 20)) {
          in.seekg(0);
          icc_.resize(static_cast<size_t>(len));
          if (in.read(reinterpret_cast<char*>(icc_.data()), len))
            TIFFSetField(tif, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(icc_.size()), icc_.data());
        }
      }
    }
    // Strips of about 256 KB. A JPEG strip is a JPEG stream of its own, whose set-up (tables,
    // colour conversion and sampling buffers of the whole width) costs as much as coding a
    // few rows: 128 rows (at most 16 MB of pixels), a multiple of the 16-row MCU.
    uint32_t rps = static_cast<uint32_t>(std::max<size_t>(1, (256u << 10) / std::max<size_t>(1, d.RowBytes())));
    if (comp == COMPRESSION_JPEG) {
      const size_t fit = (16u << 20) / std::max<size_t>(1, d.RowBytes());
      rps = static_cast<uint32_t>(std::clamp<size_t>(fit, 16, 128) / 16 * 16);
    }
    rps = std::min<uint32_t>(rps, static_cast<uint32_t>(d.height));
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rps);
    stripRows_ = rps;
    if (comp == COMPRESSION_JPEG) {
      // libjpeg takes the rows one by one; a strip of 128 rows is never held whole.
      scratch_.resize(static_cast<size_t>(std::max<tmsize_t>(TIFFScanlineSize(tif), static_cast<tmsize_t>(d.RowBytes()))));
    } else {
      if (static_cast<uint64_t>(TIFFScanlineSize64(tif)) != d.RowBytes()) return IM_ERR_PARAM;
      // Rows gather in one strip buffer, made once, that libtiff codes (or, uncompressed,
      // writes as it is) in one call: no copy of every row into libtiff's own buffer.
      rowsPerStrip_ = rps;
      strip_.resize(static_cast<size_t>(rps) * d.RowBytes());
    }
    return IM_OK;
  }

  int Row(const uint8_t* row) override {
    if (!file_ || !file_->tif()) return IM_ERR_IO;
    const size_t rb = d_.RowBytes();
    if (!strip_.empty()) {
      std::memcpy(strip_.data() + static_cast<size_t>(inStrip_) * rb, row, rb);
      ++inStrip_;
      ++row_;
      if (inStrip_ == rowsPerStrip_ || row_ == static_cast<uint32_t>(d_.height)) return FlushStrip();
      return IM_OK;
    }
    std::memcpy(scratch_.data(), row, rb);
    if (TIFFWriteScanline(file_->tif(), scratch_.data(), row_, 0) < 0) return IM_ERR_IO;
    ++row_;
    return IM_OK;
  }

  // Uncompressed strips are written straight from the caller's rows: only rows that do not
  // fill a strip of their own wait in the strip buffer.
  int Rows(const uint8_t* rows, uint32_t count, size_t rowBytes) override {
    if (compression_ != 0 || strip_.empty() || rowBytes != d_.RowBytes())
      return ImageWriter::Rows(rows, count, rowBytes);
    if (!file_ || !file_->tif()) return IM_ERR_IO;
    const uint32_t height = static_cast<uint32_t>(d_.height);
    while (count > 0) {
      const uint32_t stripEnd = std::min(height, (row_ / rowsPerStrip_ + 1) * rowsPerStrip_);
      const uint32_t whole = stripEnd - row_;
      if (inStrip_ != 0 || count < whole) {
        if (int rc = Row(rows); rc != IM_OK) return rc;
        rows += rowBytes;
        --count;
        continue;
      }
      const tmsize_t n = static_cast<tmsize_t>(whole) * static_cast<tmsize_t>(rowBytes);
      // libtiff takes a non-const pointer but only writes the bytes out.
      if (TIFFWriteRawStrip(file_->tif(), row_ / rowsPerStrip_, const_cast<uint8_t*>(rows), n) != n)
        return IM_ERR_IO;
      row_ += whole;
      rows += static_cast<size_t>(n);
      count -= whole;
    }
    return IM_OK;
  }

  int Finish(bool complete) override {
    if (!file_) return IM_ERR_IO;
    const int flushed = file_->tif() ? FlushStrip() : IM_ERR_IO;
    // An image ended early keeps the rows written and says so in its length, so that
    // the file stays a valid, shorter image.
    const bool shorter = !complete && file_->tif() && row_ > 0 && row_ < static_cast<uint32_t>(d_.height);
    if (shorter) TIFFSetField(file_->tif(), TIFFTAG_IMAGELENGTH, row_);
    bool ok = file_->tif() && file_->Close();
    file_.reset();
    if (ok && shorter) ok = TrimTiffStripTable(fd_, row_, stripRows_);
    return ok && flushed == IM_OK ? IM_OK : IM_ERR_IO;
  }

  uint32_t DataOffset() const override { return big_ ? 16 : 8; }

 private:
  // Writes the rows gathered in the strip buffer (fewer than a strip at the image's end).
  int FlushStrip() {
    if (inStrip_ == 0) return IM_OK;
    const tmsize_t n = static_cast<tmsize_t>(inStrip_) * static_cast<tmsize_t>(d_.RowBytes());
    const uint32_t strip = (row_ - 1) / rowsPerStrip_;
    inStrip_ = 0;
    // Uncompressed rows go out as they are, without libtiff's copy into its own buffer.
    const tmsize_t written = compression_ == 0 ? TIFFWriteRawStrip(file_->tif(), strip, strip_.data(), n)
                                               : TIFFWriteEncodedStrip(file_->tif(), strip, strip_.data(), n);
    return written == n ? IM_OK : IM_ERR_IO;
  }

  uint32_t compression_;
  WriteSettings s_;
  ImageDesc d_;
  bool big_ = false;
  std::unique_ptr<TiffFile> file_;
  std::vector<uint16_t> map_;
  std::vector<uint8_t> icc_;
  std::vector<uint8_t> scratch_;  // TIFF with JPEG: one row
  std::vector<uint8_t> strip_;    // other compressions: one strip of rows
  uint32_t rowsPerStrip_ = 0;
  uint32_t stripRows_ = 0;  // the file's rows per strip, whatever the compression
  int fd_ = -1;
  uint32_t inStrip_ = 0;
  uint32_t row_ = 0;
};

}  // namespace

std::unique_ptr<ImageWriter> MakeTiffWriter(uint32_t compression, const WriteSettings& s) {
  return std::make_unique<TiffWriter>(compression, s);
}

}  // namespace mill
