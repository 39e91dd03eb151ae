// JPEG 2000 through OpenJPEG. Written in tiles one band of tile rows at a time, so memory
// stays bounded whatever the height; read tile row by tile row (or, for a single-tile
// file, band by band through decode areas).
#include <openjpeg.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/Bytes.h"
#include "platform/imagemill/MillInternal.h"

namespace mill {

namespace {

constexpr uint32_t kTileW = 1024;
constexpr uint32_t kTileH = 256;
constexpr uint32_t kResBoxSize = 26;

void Quiet(const char*, void*) {}

// OpenJPEG works on one thread unless asked; nearly all the time of a JPEG 2000 file is
// spent inside it, so it gets one thread per processor this process may run on. Its
// threads split the code blocks of a tile, whose coding does not depend on the order they
// run in: the file is the same with any count. IMAGEMILL_JP2_THREADS sets the count (tests
// compare counts; 1 is the library's own single thread).
int Jp2Threads() {
  if (const char* env = std::getenv("IMAGEMILL_JP2_THREADS")) {
    const int v = std::atoi(env);
    if (v >= 1 && v <= 256) return v;
  }
  int n = 0;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) n = CPU_COUNT(&set);
  if (n <= 0) n = static_cast<int>(std::thread::hardware_concurrency());
  return std::clamp(n, 1, 64);
}

void UseThreads(opj_codec_t* codec) {
  const int n = Jp2Threads();
  if (n > 1 && opj_has_thread_support()) opj_codec_set_threads(codec, n);
}

// The stream of the codec on our descriptor. When writing, a capture-resolution box is
// slipped into the JP2 header as it goes out (OpenJPEG writes none); every later position
// moves by its size.
struct Jp2Io {
  int fd = -1;
  uint64_t pos = 0;  // physical
  uint64_t size = 0;
  bool writing = false;
  bool failed = false;
  uint64_t insertAt = UINT64_MAX;  // logical position after which `shift` applies
  uint64_t shift = 0;
  uint8_t resBox[kResBoxSize] = {};
  bool wantRes = false;
  bool firstWrite = true;
};

OPJ_SIZE_T IoRead(void* buf, OPJ_SIZE_T n, void* user) {
  auto* io = static_cast<Jp2Io*>(user);
  if (io->pos >= io->size) return static_cast<OPJ_SIZE_T>(-1);
  const size_t want = static_cast<size_t>(std::min<uint64_t>(n, io->size - io->pos));
  if (!ReadAt(io->fd, io->pos, buf, want)) return static_cast<OPJ_SIZE_T>(-1);
  io->pos += want;
  return want;
}

// Puts the resolution box at the end of the jp2h box of the first chunk written.
bool WriteFirst(Jp2Io* io, const uint8_t* data, size_t n) {
  size_t at = 0;
  while (at + 8 <= n) {
    const uint32_t len = orb::GetU32BE(data + at);
    if (len < 8) break;
    if (std::memcmp(data + at + 4, "jp2h", 4) == 0 && at + len <= n) {
      std::vector<uint8_t> out(data, data + n);
      orb::PutU32BE(out.data() + at, len + kResBoxSize);
      out.insert(out.begin() + static_cast<long>(at + len), io->resBox, io->resBox + kResBoxSize);
      if (!WriteAt(io->fd, io->pos, out.data(), out.size())) return false;
      io->insertAt = at + len;
      io->shift = kResBoxSize;
      io->pos += out.size();
      return true;
    }
    at += len;
  }
  if (!WriteAt(io->fd, io->pos, data, n)) return false;
  io->pos += n;
  return true;
}

OPJ_SIZE_T IoWrite(void* buf, OPJ_SIZE_T n, void* user) {
  auto* io = static_cast<Jp2Io*>(user);
  const auto* data = static_cast<const uint8_t*>(buf);
  if (io->firstWrite && io->pos == 0 && io->wantRes) {
    io->firstWrite = false;
    if (!WriteFirst(io, data, n)) {
      io->failed = true;
      return static_cast<OPJ_SIZE_T>(-1);
    }
    return n;
  }
  io->firstWrite = false;
  if (!WriteAt(io->fd, io->pos, data, n)) {
    io->failed = true;
    return static_cast<OPJ_SIZE_T>(-1);
  }
  io->pos += n;
  return n;
}

OPJ_OFF_T IoSkip(OPJ_OFF_T n, void* user) {
  auto* io = static_cast<Jp2Io*>(user);
  const int64_t target = static_cast<int64_t>(io->pos) + n;
  if (target < 0) return -1;
  if (!io->writing && static_cast<uint64_t>(target) > io->size) {
    io->pos = io->size;
    return -1;
  }
  io->pos = static_cast<uint64_t>(target);
  return n;
}

OPJ_BOOL IoSeek(OPJ_OFF_T n, void* user) {
  auto* io = static_cast<Jp2Io*>(user);
  if (n < 0) return OPJ_FALSE;
  uint64_t p = static_cast<uint64_t>(n);
  if (io->writing && p >= io->insertAt) p += io->shift;
  if (!io->writing && p > io->size) return OPJ_FALSE;
  io->pos = p;
  return OPJ_TRUE;
}

opj_stream_t* MakeStream(Jp2Io* io, bool input) {
  opj_stream_t* s = opj_stream_create(1 << 20, input ? OPJ_TRUE : OPJ_FALSE);
  if (!s) return nullptr;
  opj_stream_set_user_data(s, io, nullptr);
  if (input) {
    opj_stream_set_user_data_length(s, io->size);
    opj_stream_set_read_function(s, IoRead);
  } else {
    opj_stream_set_write_function(s, IoWrite);
  }
  opj_stream_set_skip_function(s, IoSkip);
  opj_stream_set_seek_function(s, IoSeek);
  return s;
}

// Capture resolution box in pixels per metre: "res " holding "resc".
void MakeResBox(uint8_t* b, int32_t xppm, int32_t yppm) {
  auto split = [](int32_t v, uint16_t* num, int8_t* exp) {
    int8_t e = 0;
    uint32_t n = v > 0 ? static_cast<uint32_t>(v) : 0;
    while (n > 65535) {
      n = (n + 5) / 10;
      ++e;
    }
    *num = static_cast<uint16_t>(n);
    *exp = e;
  };
  uint16_t vn, hn;
  int8_t ve, he;
  split(yppm, &vn, &ve);
  split(xppm, &hn, &he);
  orb::PutU32BE(b, kResBoxSize);
  std::memcpy(b + 4, "res ", 4);
  orb::PutU32BE(b + 8, kResBoxSize - 8);
  std::memcpy(b + 12, "resc", 4);
  orb::PutU16BE(b + 16, vn);
  orb::PutU16BE(b + 18, 1);
  orb::PutU16BE(b + 20, hn);
  orb::PutU16BE(b + 22, 1);
  b[24] = static_cast<uint8_t>(ve);
  b[25] = static_cast<uint8_t>(he);
}

// Finds the capture (else display) resolution of a JP2 file, in pixels per metre.
void ReadResolution(int fd, uint64_t size, ImageDesc& d) {
  uint64_t at = 0;
  for (int guard = 0; guard < 64 && at + 8 <= size; ++guard) {
    uint8_t h[8];
    if (!ReadAt(fd, at, h, 8)) return;
    uint64_t len = orb::GetU32BE(h);
    if (len == 0) len = size - at;
    if (len < 8 || at + len > size) return;
    if (std::memcmp(h + 4, "jp2h", 4) == 0) {
      std::vector<uint8_t> box(static_cast<size_t>(std::min<uint64_t>(len - 8, 4096)));
      if (!ReadAt(fd, at + 8, box.data(), box.size())) return;
      for (size_t i = 0; i + 8 <= box.size();) {
        const uint32_t l = orb::GetU32BE(&box[i]);
        if (l < 8 || i + l > box.size()) return;
        if (std::memcmp(&box[i + 4], "res ", 4) == 0) {
          int32_t best[2] = {0, 0};
          bool haveCapture = false;
          for (size_t j = i + 8; j + 18 <= i + l;) {
            const uint32_t sl = orb::GetU32BE(&box[j]);
            if (sl < 18 || j + sl > i + l) break;
            const bool capture = std::memcmp(&box[j + 4], "resc", 4) == 0;
            const bool display = std::memcmp(&box[j + 4], "resd", 4) == 0;
            if ((capture || (display && !haveCapture))) {
              auto val = [](uint16_t n, uint16_t dd, int8_t e) -> int32_t {
                if (dd == 0) return 0;
                double v = static_cast<double>(n) / dd;
                for (int k = 0; k < e && k < 9; ++k) v *= 10;
                for (int k = 0; k > e && k > -9; --k) v /= 10;
                return v > 0 && v < 2e9 ? static_cast<int32_t>(v + 0.5) : 0;
              };
              best[1] = val(orb::GetU16BE(&box[j + 8]), orb::GetU16BE(&box[j + 10]), static_cast<int8_t>(box[j + 16]));
              best[0] = val(orb::GetU16BE(&box[j + 12]), orb::GetU16BE(&box[j + 14]), static_cast<int8_t>(box[j + 17]));
              haveCapture = haveCapture || capture;
            }
            j += sl;
          }
          d.xPelsPerMeter = best[0];
          d.yPelsPerMeter = best[1];
          return;
        }
        i += l;
      }
      return;
    }
    at += len;
  }
}

struct Jp2Read {
  Jp2Io io;
  opj_codec_t* codec = nullptr;
  opj_stream_t* stream = nullptr;
  opj_image_t* image = nullptr;
  opj_codestream_info_v2_t* info = nullptr;
  ~Jp2Read() {
    if (info) opj_destroy_cstr_info(&info);
    if (image) opj_image_destroy(image);
    if (stream) opj_stream_destroy(stream);
    if (codec) opj_destroy_codec(codec);
  }
};

inline uint8_t To8(OPJ_INT32 v, const opj_image_comp_t& c) {
  if (c.sgnd) v += 1 << (c.prec - 1);
  if (v < 0) v = 0;
  const OPJ_INT32 max = (1 << c.prec) - 1;
  if (v > max) v = max;
  if (c.prec != 8) v = static_cast<OPJ_INT32>((static_cast<int64_t>(v) * 255 + max / 2) / max);
  return static_cast<uint8_t>(std::min(v, 255));
}

class Jp2Writer : public ImageWriter {
 public:
  explicit Jp2Writer(WriteSettings s) : s_(std::move(s)) {}
  ~Jp2Writer() override { Release(); }

  int Begin(int fd, const ImageDesc& d) override {
    if (!(d.bitsPerPixel == 24 || (d.bitsPerPixel == 8 && d.grey))) return IM_ERR_UNSUPPORTED;
    d_ = d;
    comps_ = d.bitsPerPixel == 24 ? 3 : 1;
    const uint32_t w = static_cast<uint32_t>(d.width), h = static_cast<uint32_t>(d.height);
    tdx_ = std::min(kTileW, w);
    tdy_ = std::min(kTileH, h);
    tilesAcross_ = (w + tdx_ - 1) / tdx_;
    opj_cparameters_t p;
    opj_set_default_encoder_parameters(&p);
    int res = 1;
    while (res < 6 && (1u << res) <= std::min(tdx_, tdy_)) ++res;
    p.numresolution = res;
    p.tcp_numlayers = 1;
    p.cp_disto_alloc = 1;
    const int q = std::clamp(s_.jp2Quality, 1, 1000);
    if (q >= 1000) {
      p.irreversible = 0;
      p.tcp_rates[0] = 0;
    } else {
      p.irreversible = 1;
      // Quality 1..999 to a compression ratio of 1000/q (999: nearly lossless, 1: 1000:1).
      p.tcp_rates[0] = std::max(1.0f, 1000.0f / static_cast<float>(q));
    }
    p.tile_size_on = OPJ_TRUE;
    p.cp_tx0 = 0;
    p.cp_ty0 = 0;
    p.cp_tdx = static_cast<int>(tdx_);
    p.cp_tdy = static_cast<int>(tdy_);
    p.tcp_mct = comps_ == 3 ? 1 : 0;
    opj_image_cmptparm_t cp[3];
    std::memset(cp, 0, sizeof cp);
    for (int i = 0; i < comps_; ++i) {
      cp[i].dx = 1;
      cp[i].dy = 1;
      cp[i].w = w;
      cp[i].h = h;
      cp[i].prec = 8;
      cp[i].sgnd = 0;
    }
    image_ = opj_image_tile_create(static_cast<OPJ_UINT32>(comps_), cp,
                                   comps_ == 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY);
    if (!image_) return IM_ERR_MEMORY;
    image_->x0 = 0;
    image_->y0 = 0;
    image_->x1 = w;
    image_->y1 = h;
    codec_ = opj_create_compress(OPJ_CODEC_JP2);
    if (!codec_) return IM_ERR_MEMORY;
    opj_set_error_handler(codec_, Quiet, nullptr);
    opj_set_warning_handler(codec_, Quiet, nullptr);
    opj_set_info_handler(codec_, Quiet, nullptr);
    if (!opj_setup_encoder(codec_, &p, image_)) return IM_ERR_PARAM;
    UseThreads(codec_);
    io_.fd = fd;
    io_.writing = true;
    if (d.xPelsPerMeter > 0 && d.yPelsPerMeter > 0) {
      io_.wantRes = true;
      MakeResBox(io_.resBox, d.xPelsPerMeter, d.yPelsPerMeter);
    }
    stream_ = MakeStream(&io_, false);
    if (!stream_) return IM_ERR_MEMORY;
    if (!opj_start_compress(codec_, image_, stream_)) return io_.failed ? IM_ERR_IO : IM_ERR_PARAM;
    band_.assign(static_cast<size_t>(tdy_) * w * static_cast<size_t>(comps_), 0);
    tile_.resize(static_cast<size_t>(tdx_) * tdy_ * static_cast<size_t>(comps_));
    started_ = true;
    return IM_OK;
  }

  int Row(const uint8_t* row) override {
    if (!started_) return IM_ERR_IO;
    const size_t rowBytes = d_.RowBytes();
    std::memcpy(band_.data() + static_cast<size_t>(rowInBand_) * rowBytes, row, rowBytes);
    ++rowInBand_;
    ++rows_;
    if (rowInBand_ == tdy_ || rows_ == static_cast<uint32_t>(d_.height)) return FlushBand();
    return IM_OK;
  }

  int Finish(bool complete) override {
    int rc = IM_OK;
    if (started_) {
      if (!complete) {
        // A JPEG 2000 file cannot end early: the missing rows are written white.
        std::vector<uint8_t> white(d_.RowBytes(), 255);
        while (rc == IM_OK && rows_ < static_cast<uint32_t>(d_.height)) rc = Row(white.data());
      }
      if (rc == IM_OK && !opj_end_compress(codec_, stream_)) rc = IM_ERR_IO;
      if (rc == IM_OK && io_.failed) rc = IM_ERR_IO;
    }
    Release();
    return rc;
  }

 private:
  int FlushBand() {
    const uint32_t w = static_cast<uint32_t>(d_.width);
    const uint32_t bandRows = rowInBand_;
    const uint32_t tileRow = (rows_ - 1) / tdy_;
    for (uint32_t tx = 0; tx < tilesAcross_; ++tx) {
      const uint32_t x0 = tx * tdx_;
      const uint32_t tw = std::min(tdx_, w - x0);
      const size_t plane = static_cast<size_t>(tw) * bandRows;
      for (uint32_t r = 0; r < bandRows; ++r) {
        const uint8_t* src = band_.data() + (static_cast<size_t>(r) * w + x0) * static_cast<size_t>(comps_);
        for (uint32_t x = 0; x < tw; ++x)
          for (int c = 0; c < comps_; ++c)
            tile_[static_cast<size_t>(c) * plane + static_cast<size_t>(r) * tw + x] = src[x * static_cast<size_t>(comps_) + static_cast<size_t>(c)];
      }
      const OPJ_UINT32 index = tileRow * tilesAcross_ + tx;
      if (!opj_write_tile(codec_, index, tile_.data(), static_cast<OPJ_UINT32>(plane * static_cast<size_t>(comps_)), stream_))
        return io_.failed ? IM_ERR_IO : IM_ERR_PARAM;
    }
    rowInBand_ = 0;
    return IM_OK;
  }

  void Release() {
    if (stream_) opj_stream_destroy(stream_);
    if (codec_) opj_destroy_codec(codec_);
    if (image_) opj_image_destroy(image_);
    stream_ = nullptr;
    codec_ = nullptr;
    image_ = nullptr;
    started_ = false;
  }

  WriteSettings s_;
  ImageDesc d_;
  int comps_ = 1;
  uint32_t tdx_ = 0, tdy_ = 0, tilesAcross_ = 0;
  uint32_t rowInBand_ = 0, rows_ = 0;
  Jp2Io io_;
  opj_codec_t* codec_ = nullptr;
  opj_stream_t* stream_ = nullptr;
  opj_image_t* image_ = nullptr;
  std::vector<uint8_t> band_, tile_;
  bool started_ = false;
};

}  // namespace

int ReadJp2(int fd, ReadSink& sink) {
  Jp2Read st;
  const int64_t size = FileSize(fd);
  if (size < 16) return IM_ERR_CORRUPT;
  st.io.fd = fd;
  st.io.size = static_cast<uint64_t>(size);
  uint8_t magic[4];
  if (!ReadAt(fd, 0, magic, 4)) return IM_ERR_CORRUPT;
  const bool raw = magic[0] == 0xFF && magic[1] == 0x4F;
  st.codec = opj_create_decompress(raw ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
  if (!st.codec) return IM_ERR_MEMORY;
  opj_set_error_handler(st.codec, Quiet, nullptr);
  opj_set_warning_handler(st.codec, Quiet, nullptr);
  opj_set_info_handler(st.codec, Quiet, nullptr);
  opj_dparameters_t p;
  opj_set_default_decoder_parameters(&p);
  if (!opj_setup_decoder(st.codec, &p)) return IM_ERR_CORRUPT;
  UseThreads(st.codec);
  st.stream = MakeStream(&st.io, true);
  if (!st.stream) return IM_ERR_MEMORY;
  if (!opj_read_header(st.stream, st.codec, &st.image) || !st.image) return IM_ERR_CORRUPT;
  opj_image_t* img = st.image;
  if (img->numcomps < 1 || img->x1 <= img->x0 || img->y1 <= img->y0) return IM_ERR_CORRUPT;
  const int used = img->numcomps >= 3 ? 3 : 1;
  if (img->color_space == OPJ_CLRSPC_SYCC || img->color_space == OPJ_CLRSPC_EYCC ||
      img->color_space == OPJ_CLRSPC_CMYK)
    return IM_ERR_UNSUPPORTED;
  for (int c = 0; c < used; ++c) {
    const auto& comp = img->comps[c];
    if (comp.dx != 1 || comp.dy != 1 || comp.prec < 1 || comp.prec > 16) return IM_ERR_UNSUPPORTED;
  }
  // Decoding a tile moves the image's bounds to the tile's: keep the whole image's.
  const uint32_t ix0 = img->x0, iy0 = img->y0, ix1 = img->x1, iy1 = img->y1;
  const uint32_t w = ix1 - ix0, h = iy1 - iy0;
  if (w > 0x7FFFFFFF || h > 0x7FFFFFFF) return IM_ERR_CORRUPT;
  ImageDesc d;
  d.width = static_cast<int32_t>(w);
  d.height = static_cast<int32_t>(h);
  d.bitsPerPixel = used == 3 ? 24 : 8;
  d.grey = used == 1;
  if (d.grey) d.colors = GreyTable(256);
  if (!raw) ReadResolution(fd, st.io.size, d);
  if (int rc = CheckDesc(d); rc != IM_OK) return rc;
  st.info = opj_get_cstr_info(st.codec);
  if (!st.info) return IM_ERR_CORRUPT;
  const uint32_t tilesAcross = st.info->tw, tilesDown = st.info->th;
  if (tilesAcross == 0 || tilesDown == 0) return IM_ERR_CORRUPT;
  if (int rc = sink.Header(d); rc != IM_OK) return rc;
  std::vector<uint8_t> row(d.RowBytes());

  // Emits rows [y0, y1) from component data covering image rectangle (cx0, cy0, cw, ch).
  std::vector<uint8_t> band;
  int32_t next = 0;
  auto copyFrom = [&](uint32_t bandY0, uint32_t bandRows) {
    // Component data of the decoded region land in `band`, one row of the image each.
    for (int c = 0; c < used; ++c) {
      const auto& comp = img->comps[c];
      if (!comp.data) return false;
      if (comp.x0 < ix0 || comp.y0 < iy0) return false;
      const uint32_t cx0 = comp.x0 - ix0, cy0 = comp.y0 - iy0;
      for (uint32_t r = 0; r < comp.h; ++r) {
        const uint32_t y = cy0 + r;
        if (y < bandY0 || y >= bandY0 + bandRows) return false;
        uint8_t* dst = band.data() + static_cast<size_t>(y - bandY0) * d.RowBytes();
        const OPJ_INT32* src = comp.data + static_cast<size_t>(r) * comp.w;
        for (uint32_t x = 0; x < comp.w && cx0 + x < w; ++x)
          dst[static_cast<size_t>(cx0 + x) * static_cast<size_t>(used) + static_cast<size_t>(c)] = To8(src[x], comp);
      }
    }
    return true;
  };
  auto emit = [&](uint32_t rows) -> int {
    for (uint32_t r = 0; r < rows; ++r) {
      std::memcpy(row.data(), band.data() + static_cast<size_t>(r) * d.RowBytes(), row.size());
      if (int rc = sink.Row(row.data(), next, row.size()); rc != IM_OK) return rc;
      ++next;
    }
    return IM_OK;
  };

  if (tilesAcross * tilesDown == 1) {
    const uint32_t bandRows = std::max<uint32_t>(1, std::min<uint32_t>(h, static_cast<uint32_t>((16u << 20) / d.RowBytes())));
    band.resize(static_cast<size_t>(bandRows) * d.RowBytes());
    for (uint32_t y = 0; y < h; y += bandRows) {
      const uint32_t n = std::min(bandRows, h - y);
      if (!opj_set_decode_area(st.codec, img, static_cast<OPJ_INT32>(ix0), static_cast<OPJ_INT32>(iy0 + y),
                               static_cast<OPJ_INT32>(ix1), static_cast<OPJ_INT32>(iy0 + y + n)))
        return IM_ERR_CORRUPT;
      if (!opj_decode(st.codec, st.stream, img)) return IM_ERR_CORRUPT;
      if (!copyFrom(y, n)) return IM_ERR_CORRUPT;
      if (int rc = emit(n); rc != IM_OK) return rc;
    }
  } else {
    const uint32_t tdy = st.info->tdy, ty0 = st.info->ty0;
    if (tdy == 0) return IM_ERR_CORRUPT;
    const uint64_t maxBand = static_cast<uint64_t>(tdy) * d.RowBytes();
    if (maxBand > (uint64_t{256} << 20)) return IM_ERR_UNSUPPORTED;
    band.resize(static_cast<size_t>(maxBand));
    for (uint32_t t = 0; t < tilesDown; ++t) {
      // Rows of this tile row inside the image.
      const uint64_t top = std::max<uint64_t>(iy0, static_cast<uint64_t>(ty0) + static_cast<uint64_t>(t) * tdy);
      const uint64_t bottom = std::min<uint64_t>(iy1, static_cast<uint64_t>(ty0) + static_cast<uint64_t>(t + 1) * tdy);
      if (bottom <= top) continue;
      const uint32_t bandY0 = static_cast<uint32_t>(top - iy0);
      const uint32_t n = static_cast<uint32_t>(bottom - top);
      for (uint32_t c = 0; c < tilesAcross; ++c) {
        if (!opj_get_decoded_tile(st.codec, st.stream, img, t * tilesAcross + c)) return IM_ERR_CORRUPT;
        if (!copyFrom(bandY0, n)) return IM_ERR_CORRUPT;
      }
      if (int rc = emit(n); rc != IM_OK) return rc;
    }
  }
  return next == d.height ? IM_OK : IM_ERR_CORRUPT;
}

std::unique_ptr<ImageWriter> MakeJp2Writer(const WriteSettings& s) { return std::make_unique<Jp2Writer>(s); }

}  // namespace mill
