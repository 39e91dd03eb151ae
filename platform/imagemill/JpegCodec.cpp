// JPEG through libjpeg-turbo, straight on the file descriptor, one scanline at a time.
#include <csetjmp>
#include <cstdio>
#include <cstring>
// jpeglib.h needs size_t and FILE first.
#include <jpeglib.h>
#include <jerror.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "platform/imagemill/JpegIo.h"
#include "platform/imagemill/MillInternal.h"

namespace mill {

namespace {

constexpr size_t kBuf = 64 * 1024;
constexpr JDIMENSION kJpegMax = 65500;
constexpr long kMaxDecodeMemory = 1024L << 20;

struct ErrorMgr {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

void ErrorExit(j_common_ptr cinfo) {
  auto* e = reinterpret_cast<ErrorMgr*>(cinfo->err);
  longjmp(e->jump, 1);
}
void Silent(j_common_ptr, int) {}

struct FdSource {
  jpeg_source_mgr pub;
  int fd;
  uint64_t pos;
  uint64_t end;
  bool truncated;
  JOCTET buf[kBuf];
};

void SrcInit(j_decompress_ptr) {}
boolean SrcFill(j_decompress_ptr cinfo) {
  auto* s = reinterpret_cast<FdSource*>(cinfo->src);
  ssize_t r = 0;
  if (s->pos < s->end) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kBuf, s->end - s->pos));
    r = ::pread(s->fd, s->buf, want, static_cast<off_t>(s->pos));
  }
  if (r <= 0) {
    // A truncated file: end it with an EOI so the decoder finishes with grey rows.
    s->buf[0] = 0xFF;
    s->buf[1] = JPEG_EOI;
    r = 2;
    // Data missing before the last row is a damaged file; a missing end marker alone is not.
    if (cinfo->global_state != 0 && cinfo->output_scanline < cinfo->output_height) s->truncated = true;
    WARNMS(cinfo, JWRN_JPEG_EOF);
  } else {
    s->pos += static_cast<uint64_t>(r);
  }
  s->pub.next_input_byte = s->buf;
  s->pub.bytes_in_buffer = static_cast<size_t>(r);
  return TRUE;
}
void SrcSkip(j_decompress_ptr cinfo, long n) {
  auto* s = reinterpret_cast<FdSource*>(cinfo->src);
  if (n <= 0) return;
  auto un = static_cast<size_t>(n);
  if (un <= s->pub.bytes_in_buffer) {
    s->pub.next_input_byte += un;
    s->pub.bytes_in_buffer -= un;
    return;
  }
  un -= s->pub.bytes_in_buffer;
  s->pub.bytes_in_buffer = 0;
  s->pos += un;
}
void SrcTerm(j_decompress_ptr) {}

struct FdDest {
  jpeg_destination_mgr pub;
  int fd;
  bool failed;
  JOCTET buf[kBuf];
};

void DstInit(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<FdDest*>(cinfo->dest);
  d->pub.next_output_byte = d->buf;
  d->pub.free_in_buffer = kBuf;
}
boolean DstEmpty(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<FdDest*>(cinfo->dest);
  if (!WriteAll(d->fd, d->buf, kBuf)) d->failed = true;
  d->pub.next_output_byte = d->buf;
  d->pub.free_in_buffer = kBuf;
  return TRUE;
}
void DstTerm(j_compress_ptr cinfo) {
  auto* d = reinterpret_cast<FdDest*>(cinfo->dest);
  const size_t n = kBuf - d->pub.free_in_buffer;
  if (n && !WriteAll(d->fd, d->buf, n)) d->failed = true;
}

// Runs the decoder; the parts between setjmp and the library calls hold no objects with
// destructors, so a longjmp out of libjpeg skips nothing.
struct JpegReadState {
  jpeg_decompress_struct cinfo;
  ErrorMgr err;
  FdSource* src = nullptr;
  std::vector<uint8_t> row;
  std::vector<uint8_t> cmykRow;  // CMYK files: the decoded row before it becomes RGB
  bool created = false;
  ImageDesc desc;
};

// CMYK ink to RGB light: each channel is what its ink and the black ink leave of white.
// Files with an Adobe marker store the inks inverted (0 is full ink), as Adobe writes them.
void CmykToRgb(const uint8_t* cmyk, uint8_t* rgb, size_t pixels, bool inverted) {
  for (size_t x = 0; x < pixels; ++x, cmyk += 4, rgb += 3) {
    const uint32_t k = inverted ? cmyk[3] : 255u - cmyk[3];
    for (int c = 0; c < 3; ++c) {
      const uint32_t v = inverted ? cmyk[c] : 255u - cmyk[c];
      rgb[c] = static_cast<uint8_t>((v * k + 127) / 255);
    }
  }
}

int DecodeJpeg(JpegReadState& st, int fd, uint64_t offset, uint64_t end, ReadSink& sink,
               const ImageDesc* override) {
  st.cinfo.err = jpeg_std_error(&st.err.pub);
  st.err.pub.error_exit = ErrorExit;
  st.err.pub.emit_message = Silent;
  if (setjmp(st.err.jump)) return IM_ERR_CORRUPT;
  jpeg_create_decompress(&st.cinfo);
  st.created = true;
  st.cinfo.src = &st.src->pub;
  st.src->pub.init_source = SrcInit;
  st.src->pub.fill_input_buffer = SrcFill;
  st.src->pub.skip_input_data = SrcSkip;
  st.src->pub.resync_to_restart = jpeg_resync_to_restart;
  st.src->pub.term_source = SrcTerm;
  st.src->pub.bytes_in_buffer = 0;
  st.src->pub.next_input_byte = nullptr;
  st.src->fd = fd;
  st.src->pos = offset;
  st.src->end = end;
  st.src->truncated = false;
  if (jpeg_read_header(&st.cinfo, TRUE) != JPEG_HEADER_OK) return IM_ERR_CORRUPT;
  ImageDesc& d = st.desc;
  switch (st.cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
      st.cinfo.out_color_space = JCS_GRAYSCALE;
      d.bitsPerPixel = 8;
      d.grey = true;
      d.colors = GreyTable(256);
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      // Read as CMYK (libjpeg turns YCCK into CMYK) and handed out as RGB.
      st.cinfo.out_color_space = JCS_CMYK;
      d.bitsPerPixel = 24;
      break;
    default:
      st.cinfo.out_color_space = JCS_RGB;
      d.bitsPerPixel = 24;
      break;
  }
  // Progressive and multi-scan files keep every coefficient in memory: cap it, so that a
  // huge one is refused rather than exhausting the machine.
  st.cinfo.mem->max_memory_to_use = kMaxDecodeMemory;
  // The size is known from the frame header: the caller sees it before anything large
  // is allocated.
  d.width = static_cast<int32_t>(st.cinfo.image_width);
  d.height = static_cast<int32_t>(st.cinfo.image_height);
  if (override) {
    d.xPelsPerMeter = override->xPelsPerMeter;
    d.yPelsPerMeter = override->yPelsPerMeter;
  } else if (st.cinfo.density_unit == 1) {
    d.xPelsPerMeter = DpiToPpm(st.cinfo.X_density);
    d.yPelsPerMeter = DpiToPpm(st.cinfo.Y_density);
  } else if (st.cinfo.density_unit == 2) {
    d.xPelsPerMeter = st.cinfo.X_density * 100;
    d.yPelsPerMeter = st.cinfo.Y_density * 100;
  }
  if (int rc = CheckDesc(d); rc != IM_OK) return rc;
  if (int rc = sink.Header(d); rc != IM_OK) return rc;
  jpeg_start_decompress(&st.cinfo);
  const bool cmyk = st.cinfo.out_color_space == JCS_CMYK;
  const int components = cmyk ? 4 : d.bitsPerPixel / 8;
  if (static_cast<int32_t>(st.cinfo.output_width) != d.width ||
      static_cast<int32_t>(st.cinfo.output_height) != d.height ||
      static_cast<int>(st.cinfo.output_components) != components)
    return IM_ERR_CORRUPT;
  st.row.resize(d.RowBytes());
  if (cmyk) st.cmykRow.resize(static_cast<size_t>(d.width) * 4);
  const bool inverted = st.cinfo.saw_Adobe_marker != 0;
  while (st.cinfo.output_scanline < st.cinfo.output_height) {
    JSAMPROW p = cmyk ? st.cmykRow.data() : st.row.data();
    const int32_t y = static_cast<int32_t>(st.cinfo.output_scanline);
    if (jpeg_read_scanlines(&st.cinfo, &p, 1) != 1) return IM_ERR_CORRUPT;
    if (cmyk) CmykToRgb(st.cmykRow.data(), st.row.data(), static_cast<size_t>(d.width), inverted);
    if (int rc = sink.Row(st.row.data(), y, st.row.size()); rc != IM_OK) return rc;
  }
  jpeg_finish_decompress(&st.cinfo);
  return st.src->truncated ? IM_ERR_CORRUPT : IM_OK;
}

class JpegWriter : public ImageWriter {
 public:
  explicit JpegWriter(WriteSettings s) : s_(std::move(s)) {}
  ~JpegWriter() override {
    if (created_) jpeg_destroy_compress(&cinfo_);
  }

  int Begin(int fd, const ImageDesc& d) override {
    if (!(d.bitsPerPixel == 24 || (d.bitsPerPixel == 8 && d.grey))) return IM_ERR_UNSUPPORTED;
    if (static_cast<uint32_t>(d.width) > kJpegMax || static_cast<uint32_t>(d.height) > kJpegMax)
      return IM_ERR_TOO_LARGE;
    d_ = d;
    dest_ = std::make_unique<FdDest>();
    dest_->fd = fd;
    dest_->failed = false;
    return Guard([&] {
      cinfo_.err = jpeg_std_error(&err_.pub);
      err_.pub.error_exit = ErrorExit;
      err_.pub.emit_message = Silent;
      jpeg_create_compress(&cinfo_);
      created_ = true;
      cinfo_.dest = &dest_->pub;
      dest_->pub.init_destination = DstInit;
      dest_->pub.empty_output_buffer = DstEmpty;
      dest_->pub.term_destination = DstTerm;
      cinfo_.image_width = static_cast<JDIMENSION>(d.width);
      cinfo_.image_height = static_cast<JDIMENSION>(d.height);
      cinfo_.input_components = d.bitsPerPixel == 24 ? 3 : 1;
      cinfo_.in_color_space = d.bitsPerPixel == 24 ? JCS_RGB : JCS_GRAYSCALE;
      jpeg_set_defaults(&cinfo_);
      jpeg_set_quality(&cinfo_, std::clamp(s_.jpegQuality, 1, 100), TRUE);
      cinfo_.density_unit = 1;
      cinfo_.X_density = static_cast<UINT16>(std::clamp<double>(std::round(PpmToDpi(d.xPelsPerMeter)), 1, 65535));
      cinfo_.Y_density = static_cast<UINT16>(std::clamp<double>(std::round(PpmToDpi(d.yPelsPerMeter)), 1, 65535));
      jpeg_start_compress(&cinfo_, TRUE);
    });
  }

  int Row(const uint8_t* row) override {
    if (!created_) return IM_ERR_IO;
    int rc = Guard([&] {
      JSAMPROW p = const_cast<JSAMPROW>(row);
      jpeg_write_scanlines(&cinfo_, &p, 1);
    });
    if (rc == IM_OK && dest_->failed) rc = IM_ERR_IO;
    return rc;
  }

  int Finish(bool complete) override {
    if (!created_) return IM_ERR_IO;
    int rc = IM_OK;
    if (complete) rc = Guard([&] { jpeg_finish_compress(&cinfo_); });
    else rc = Guard([&] { DstTerm(&cinfo_); });  // keep what was encoded so far
    if (rc == IM_OK && dest_->failed) rc = IM_ERR_IO;
    jpeg_destroy_compress(&cinfo_);
    created_ = false;
    return rc;
  }

 private:
  template <typename F>
  int Guard(F&& f) {
    if (setjmp(err_.jump)) return IM_ERR_IO;
    f();
    return IM_OK;
  }

  WriteSettings s_;
  ImageDesc d_;
  jpeg_compress_struct cinfo_{};
  ErrorMgr err_{};
  std::unique_ptr<FdDest> dest_;
  bool created_ = false;
};

}  // namespace

int ReadJpegRange(int fd, uint64_t offset, uint64_t end, ReadSink& sink, const ImageDesc* resolution) {
  auto st = std::make_unique<JpegReadState>();
  auto src = std::make_unique<FdSource>();
  st->src = src.get();
  const int rc = DecodeJpeg(*st, fd, offset, end, sink, resolution);
  if (st->created) jpeg_destroy_decompress(&st->cinfo);
  return rc;
}

int ReadJpeg(int fd, ReadSink& sink) {
  const int64_t size = FileSize(fd);
  if (size <= 0) return IM_ERR_CORRUPT;
  return ReadJpegRange(fd, 0, static_cast<uint64_t>(size), sink, nullptr);
}

std::unique_ptr<ImageWriter> MakeJpegWriter(const WriteSettings& s) {
  return std::make_unique<JpegWriter>(s);
}

}  // namespace mill
