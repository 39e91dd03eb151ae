// PNG through libpng, one row at a time (interlaced files, which libpng can only hand out
// whole, are read in memory up to a limit).
#include <png.h>

#include <algorithm>
#include <cstring>

#include "platform/imagemill/MillInternal.h"

namespace mill {

namespace {

constexpr size_t kInterlacedLimit = size_t{512} << 20;

struct PngIo {
  int fd;
  uint64_t pos;
  bool failed;
};

void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

void PngRead(png_structp png, png_bytep data, size_t n) {
  auto* io = static_cast<PngIo*>(png_get_io_ptr(png));
  if (!ReadAt(io->fd, io->pos, data, n)) png_error(png, "short read");
  io->pos += n;
}

void PngWrite(png_structp png, png_bytep data, size_t n) {
  auto* io = static_cast<PngIo*>(png_get_io_ptr(png));
  if (!WriteAt(io->fd, io->pos, data, n)) {
    io->failed = true;
    png_error(png, "write failed");
  }
  io->pos += n;
}
void PngFlush(png_structp) {}

struct PngReadState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  PngIo io{};
  ImageDesc desc;
  std::vector<uint8_t> row;    // as libpng delivers it
  std::vector<uint8_t> out;    // in the library's layout
  std::vector<uint8_t> whole;  // interlaced images only
  bool repackNibbles = false;
  int alphaChannels = 0;  // 2 (grey, alpha) or 4 (RGBA) when transparency is composited
  ~PngReadState() {
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  }
};

// A scanned document lies on white paper: what is transparent shows white.
inline uint8_t OverWhite(uint32_t v, uint32_t a) {
  return static_cast<uint8_t>((v * a + 255 * (255 - a) + 127) / 255);
}

int Emit(PngReadState& st, ReadSink& sink, uint8_t* src, int32_t y) {
  uint8_t* o = src;
  if (st.alphaChannels) {
    const size_t colours = static_cast<size_t>(st.alphaChannels - 1);
    const size_t n = static_cast<size_t>(st.desc.width);
    for (size_t x = 0; x < n; ++x) {
      const uint8_t* p = src + x * (colours + 1);
      for (size_t c = 0; c < colours; ++c) st.out[x * colours + c] = OverWhite(p[c], p[colours]);
    }
    o = st.out.data();
  } else if (st.repackNibbles) {
    std::fill(st.out.begin(), st.out.end(), 0);
    for (int32_t x = 0; x < st.desc.width; ++x)
      st.out[static_cast<size_t>(x) >> 1] |= static_cast<uint8_t>((src[x] & 15) << ((x & 1) ? 0 : 4));
    o = st.out.data();
  }
  return sink.Row(o, y, st.desc.RowBytes());
}

// No object with a destructor lives between setjmp and the libpng calls.
int DecodePng(PngReadState& st, ReadSink& sink) {
  png_structp png = st.png;
  png_infop info = st.info;
  if (setjmp(png_jmpbuf(png))) return IM_ERR_CORRUPT;
  png_set_read_fn(png, &st.io, PngRead);
  png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_set_chunk_malloc_max(png, 16u << 20);
  png_read_info(png, info);
  png_uint_32 w = 0, h = 0;
  int depth = 0, color = 0, interlace = 0;
  png_get_IHDR(png, info, &w, &h, &depth, &color, &interlace, nullptr, nullptr);
  ImageDesc& d = st.desc;
  d.width = static_cast<int32_t>(w);
  d.height = static_cast<int32_t>(h);
  if (depth == 16) png_set_scale_16(png);  // rounded, not cut
  const bool keyed = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (keyed && color != PNG_COLOR_TYPE_PALETTE) {
    // A transparent colour key becomes an alpha channel, composited below.
    png_set_tRNS_to_alpha(png);
    if (depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    color |= PNG_COLOR_MASK_ALPHA;
    depth = 8;
  }
  if (color & PNG_COLOR_MASK_ALPHA) st.alphaChannels = (color & PNG_COLOR_MASK_COLOR) ? 4 : 2;
  switch (color) {
    case PNG_COLOR_TYPE_PALETTE: {
      png_colorp pal = nullptr;
      int n = 0;
      if (!png_get_PLTE(png, info, &pal, &n) || !pal) return IM_ERR_CORRUPT;
      if (depth == 8) {
        d.bitsPerPixel = 8;
        d.colors.assign(256, IM_RGBQUAD{0, 0, 0, 0});
      } else {
        d.bitsPerPixel = 4;
        d.colors.assign(16, IM_RGBQUAD{0, 0, 0, 0});
        if (depth != 4) {
          png_set_packing(png);
          st.repackNibbles = true;
        }
      }
      png_bytep alpha = nullptr;
      int alphas = 0;
      if (keyed) png_get_tRNS(png, info, &alpha, &alphas, nullptr);
      for (int i = 0; i < n && static_cast<size_t>(i) < d.colors.size(); ++i) {
        const uint32_t a = alpha && i < alphas ? alpha[i] : 255;
        d.colors[static_cast<size_t>(i)] =
            IM_RGBQUAD{OverWhite(pal[i].blue, a), OverWhite(pal[i].green, a), OverWhite(pal[i].red, a), 0};
      }
      break;
    }
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      if (depth == 1 && color == PNG_COLOR_TYPE_GRAY) {
        d.bitsPerPixel = 1;
        d.colors = GreyTable(2);
      } else {
        if (depth < 8) png_set_expand_gray_1_2_4_to_8(png);
        d.bitsPerPixel = 8;
        d.grey = true;
        d.colors = GreyTable(256);
      }
      break;
    default:
      d.bitsPerPixel = 24;
      break;
  }
  png_uint_32 rx = 0, ry = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &rx, &ry, &unit) && unit == PNG_RESOLUTION_METER && rx <= 0x7FFFFFFF &&
      ry <= 0x7FFFFFFF) {
    d.xPelsPerMeter = static_cast<int32_t>(rx);
    d.yPelsPerMeter = static_cast<int32_t>(ry);
  }
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const size_t libRow = png_get_rowbytes(png, info);
  if (int rc = CheckDesc(d); rc != IM_OK) return rc;
  if (libRow < (st.repackNibbles ? static_cast<size_t>(d.width) : d.RowBytes())) return IM_ERR_CORRUPT;
  if (int rc = sink.Header(d); rc != IM_OK) return rc;
  st.out.resize(d.RowBytes());
  if (passes > 1) {
    const uint64_t total = static_cast<uint64_t>(libRow) * h;
    if (total > kInterlacedLimit) return IM_ERR_UNSUPPORTED;
    st.whole.resize(static_cast<size_t>(total));
    for (int p = 0; p < passes; ++p)
      for (png_uint_32 y = 0; y < h; ++y) png_read_row(png, st.whole.data() + y * libRow, nullptr);
    for (png_uint_32 y = 0; y < h; ++y)
      if (int rc = Emit(st, sink, st.whole.data() + y * libRow, static_cast<int32_t>(y)); rc != IM_OK) return rc;
  } else {
    st.row.resize(libRow);
    for (png_uint_32 y = 0; y < h; ++y) {
      png_read_row(png, st.row.data(), nullptr);
      if (int rc = Emit(st, sink, st.row.data(), static_cast<int32_t>(y)); rc != IM_OK) return rc;
    }
  }
  png_read_end(png, nullptr);
  return IM_OK;
}

class PngWriter : public ImageWriter {
 public:
  explicit PngWriter(WriteSettings s) : s_(std::move(s)) {}
  ~PngWriter() override { Destroy(); }

  int Begin(int fd, const ImageDesc& d) override {
    if (d.bitsPerPixel == 32) return IM_ERR_UNSUPPORTED;
    d_ = d;
    io_ = PngIo{fd, 0, false};
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    if (!png_) return IM_ERR_MEMORY;
    info_ = png_create_info_struct(png_);
    if (!info_) return IM_ERR_MEMORY;
    invert_ = d.bitsPerPixel == 1 && OneBitSetIsDark(d.colors);
    if (d.bitsPerPixel == 4 || (d.bitsPerPixel == 8 && !d.grey)) {
      const size_t n = size_t{1} << d.bitsPerPixel;
      for (size_t i = 0; i < n; ++i)
        palette_[i] = png_color{d.colors[i].rgbRed, d.colors[i].rgbGreen, d.colors[i].rgbBlue};
    }
    line_.resize(d.RowBytes());
    return Guard([&] {
      png_set_write_fn(png_, &io_, PngWrite, PngFlush);
      png_set_user_limits(png_, 0x7FFFFFFF, 0x7FFFFFFF);
      int color = PNG_COLOR_TYPE_RGB, depth = 8;
      if (d_.bitsPerPixel == 1) {
        color = PNG_COLOR_TYPE_GRAY;
        depth = 1;
      } else if (d_.bitsPerPixel == 4) {
        color = PNG_COLOR_TYPE_PALETTE;
        depth = 4;
      } else if (d_.bitsPerPixel == 8) {
        color = d_.grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_PALETTE;
      }
      png_set_IHDR(png_, info_, static_cast<png_uint_32>(d_.width), static_cast<png_uint_32>(d_.height),
                   depth, color, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
      if (color == PNG_COLOR_TYPE_PALETTE)
        png_set_PLTE(png_, info_, palette_, 1 << d_.bitsPerPixel);
      if (d_.xPelsPerMeter > 0 && d_.yPelsPerMeter > 0)
        png_set_pHYs(png_, info_, static_cast<png_uint_32>(d_.xPelsPerMeter),
                     static_cast<png_uint_32>(d_.yPelsPerMeter), PNG_RESOLUTION_METER);
      // No row filter, as libvips chooses by default: trying every filter on every row
      // made writing a third slower for files a few per cent smaller, and scans are mostly
      // paper and line art, where filtering gains least.
      png_set_filter(png_, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
      png_write_info(png_, info_);
    });
  }

  int Row(const uint8_t* row) override {
    if (!png_) return IM_ERR_IO;
    std::memcpy(line_.data(), row, line_.size());
    if (invert_)
      for (auto& b : line_) b = static_cast<uint8_t>(~b);
    return Guard([&] { png_write_row(png_, line_.data()); });
  }

  int Finish(bool complete) override {
    int rc = IM_OK;
    if (png_ && complete) rc = Guard([&] { png_write_end(png_, nullptr); });
    Destroy();
    return rc;
  }

 private:
  template <typename F>
  int Guard(F&& f) {
    if (setjmp(png_jmpbuf(png_))) return io_.failed ? IM_ERR_IO : IM_ERR_PARAM;
    f();
    return IM_OK;
  }
  void Destroy() {
    if (png_) png_destroy_write_struct(&png_, info_ ? &info_ : nullptr);
    png_ = nullptr;
    info_ = nullptr;
  }

  WriteSettings s_;
  ImageDesc d_;
  PngIo io_{};
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
  png_color palette_[256] = {};
  std::vector<uint8_t> line_;
  bool invert_ = false;
};

}  // namespace

int ReadPng(int fd, ReadSink& sink) {
  PngReadState st;
  st.io = PngIo{fd, 0, false};
  st.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (!st.png) return IM_ERR_MEMORY;
  st.info = png_create_info_struct(st.png);
  if (!st.info) return IM_ERR_MEMORY;
  return DecodePng(st, sink);
}

std::unique_ptr<ImageWriter> MakePngWriter(const WriteSettings& s) {
  return std::make_unique<PngWriter>(s);
}

}  // namespace mill
