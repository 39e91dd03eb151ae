// JPEG 2000 through OpenJPEG. Written in tiles one band of tile rows at a time, so memory
// stays bounded whatever the height; read tile row by tile row (or, for a single-tile
// file, band by band through decode areas). Both ways several tiles are worked on at
// once, each on a codec of its own, as far as the memory budget allows.
#include <openjpeg.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/Bytes.h"
#include "platform/imagemill/CodecThreads.h"
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
int Jp2Threads() { return CodecThreads("IMAGEMILL_JP2_THREADS"); }

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

opj_stream_t* MakeStream(Jp2Io* io, bool input, size_t buffer = size_t{1} << 20) {
  opj_stream_t* s = opj_stream_create(buffer, input ? OPJ_TRUE : OPJ_FALSE);
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
  ~Jp2Read() { Close(); }
  void Close() {
    if (info) opj_destroy_cstr_info(&info);
    if (image) opj_image_destroy(image);
    if (stream) opj_stream_destroy(stream);
    if (codec) opj_destroy_codec(codec);
    info = nullptr;
    image = nullptr;
    stream = nullptr;
    codec = nullptr;
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

// How many tiles to code at once. An OpenJPEG codec holds about 18 bytes per sample of the
// tile it codes (coefficients, the tile's and the image's copies), 14 MB for a colour tile
// of 1024 x 256, and some megabytes more of its own whatever the tile (eight grey decoders
// took 110 MB where the samples alone said 40): the workers share 48 MB, so that memory stays
// well under 100 MB with the band of rows; when decoding, the processors they leave go to
// OpenJPEG's threads.
int TileWorkerCount(int threads, uint64_t tiles, uint64_t tileSamples) {
  constexpr uint64_t kBudget = uint64_t{48} << 20;
  constexpr uint64_t kBytesPerSample = 18;
  constexpr uint64_t kPerCodec = uint64_t{6} << 20;
  const uint64_t byMemory = std::max<uint64_t>(1, kBudget / (tileSamples * kBytesPerSample + kPerCodec));
  return static_cast<int>(std::min({static_cast<uint64_t>(std::max(threads, 1)), std::max<uint64_t>(tiles, 1), byMemory}));
}

// A codestream being written in memory (one tile's, see Jp2Writer::EncodeTile).
struct MemOut {
  std::vector<uint8_t>* data = nullptr;
  uint64_t pos = 0;
};

OPJ_SIZE_T MemWrite(void* buf, OPJ_SIZE_T n, void* user) {
  auto* m = static_cast<MemOut*>(user);
  if (m->pos + n > m->data->size()) m->data->resize(static_cast<size_t>(m->pos + n));
  std::memcpy(m->data->data() + m->pos, buf, n);
  m->pos += n;
  return n;
}
OPJ_OFF_T MemSkip(OPJ_OFF_T n, void* user) {
  auto* m = static_cast<MemOut*>(user);
  if (static_cast<int64_t>(m->pos) + n < 0) return -1;
  m->pos = static_cast<uint64_t>(static_cast<int64_t>(m->pos) + n);
  return n;
}
OPJ_BOOL MemSeek(OPJ_OFF_T n, void* user) {
  if (n < 0) return OPJ_FALSE;
  static_cast<MemOut*>(user)->pos = static_cast<uint64_t>(n);
  return OPJ_TRUE;
}

// Takes the tile-parts out of a one-tile codestream (SOC, main header, tile-parts, EOC)
// and gives them the tile index `index` of the whole image's grid. False when the
// codestream is not of that shape.
bool TileParts(const std::vector<uint8_t>& cs, uint32_t index, std::vector<uint8_t>& out) {
  const size_t n = cs.size();
  if (n < 4 || cs[0] != 0xFF || cs[1] != 0x4F || cs[n - 2] != 0xFF || cs[n - 1] != 0xD9) return false;
  size_t at = 2;
  while (at + 4 <= n && !(cs[at] == 0xFF && cs[at + 1] == 0x90)) {
    if (cs[at] != 0xFF) return false;
    at += 2 + orb::GetU16BE(&cs[at + 2]);
  }
  const size_t first = at;
  while (at + 12 <= n - 2) {
    if (cs[at] != 0xFF || cs[at + 1] != 0x90) return false;
    const uint32_t psot = orb::GetU32BE(&cs[at + 6]);
    if (psot < 14 || at + psot > n - 2) return false;
    at += psot;
  }
  if (at != n - 2 || index > 0xFFFF) return false;
  out.assign(cs.begin() + static_cast<long>(first), cs.end() - 2);
  for (size_t k = 0; k < out.size(); k += orb::GetU32BE(&out[k + 6])) orb::PutU16BE(&out[k + 4], static_cast<uint16_t>(index));
  return true;
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
    params_ = p;
    const int threads = Jp2Threads();
    const uint64_t tiles = uint64_t{tilesAcross_} * ((h + tdy_ - 1) / tdy_);
    // Lossless tiles are coded apart on several codecs at once (see FlushBandAtOnce); a
    // lossy tile's share of the bytes depends on the whole file, so lossy files keep one codec.
    workers_ = q >= 1000 && tiles > 1 ? TileWorkerCount(threads, tiles, uint64_t{tdx_} * tdy_ * static_cast<uint64_t>(comps_)) : 1;
    // OpenJPEG's own threads inside tiles coded at once would each keep their code-block
    // buffers: more than doubling the memory of a colour write for little more speed.
    innerThreads_ = workers_ > 1 ? 1 : threads;
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
    if (workers_ == 1) UseThreads(codec_);
    io_.fd = fd;
    io_.writing = true;
    if (d.xPelsPerMeter > 0 && d.yPelsPerMeter > 0) {
      io_.wantRes = true;
      MakeResBox(io_.resBox, d.xPelsPerMeter, d.yPelsPerMeter);
    }
    stream_ = MakeStream(&io_, false);
    if (!stream_) return IM_ERR_MEMORY;
    if (!opj_start_compress(codec_, image_, stream_)) return io_.failed ? IM_ERR_IO : IM_ERR_PARAM;
    if (workers_ > 1) {
      if (int rc = StartAtOnce(); rc != IM_OK) return rc;
    }
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
      if (workers_ > 1) {
        if (rc == IM_OK) rc = EndAtOnce();
      } else {
        if (rc == IM_OK && !opj_end_compress(codec_, stream_)) rc = IM_ERR_IO;
        if (rc == IM_OK && io_.failed) rc = IM_ERR_IO;
      }
    }
    Release();
    return rc;
  }

 private:
  // The file as one codec writes it, up to the end of its main header: OpenJPEG ends a
  // codestream of no tiles (its boxes, main header and end marker), and the tiles go in
  // place of the end marker. The codestream box's length is set at the end.
  int StartAtOnce() {
    const bool ended = opj_end_compress(codec_, stream_);
    const bool failed = io_.failed;
    opj_stream_destroy(stream_);
    opj_destroy_codec(codec_);
    opj_image_destroy(image_);
    stream_ = nullptr;
    codec_ = nullptr;
    image_ = nullptr;
    if (!ended || failed) return failed ? IM_ERR_IO : IM_ERR_PARAM;
    const int64_t size = FileSize(io_.fd);
    uint64_t at = 0;
    while (size > 0 && at + 8 <= static_cast<uint64_t>(size)) {
      uint8_t box[8];
      if (!ReadAt(io_.fd, at, box, 8)) return IM_ERR_IO;
      const uint32_t len = orb::GetU32BE(box);
      if (len < 8) return IM_ERR_PARAM;
      if (std::memcmp(box + 4, "jp2c", 4) == 0) {
        uint8_t eoc[2];
        if (len < 12 || !ReadAt(io_.fd, at + len - 2, eoc, 2)) return IM_ERR_IO;
        if (eoc[0] != 0xFF || eoc[1] != 0xD9) return IM_ERR_PARAM;
        boxAt_ = at;
        tail_ = at + len - 2;
        return IM_OK;
      }
      at += len;
    }
    return IM_ERR_PARAM;
  }

  int EndAtOnce() {
    static constexpr uint8_t kEoc[2] = {0xFF, 0xD9};
    if (!WriteAt(io_.fd, tail_, kEoc, 2)) return IM_ERR_IO;
    const uint64_t len = tail_ + 2 - boxAt_;
    uint8_t lbox[4];
    // A codestream past 4 GB: the box runs to the end of the file.
    orb::PutU32BE(lbox, len > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(len));
    return WriteAt(io_.fd, boxAt_, lbox, 4) ? IM_OK : IM_ERR_IO;
  }

  // Codes tile `tx` of the band on a codec of its own: a one-tile image whose grid starts
  // at the tile, so that code blocks and resolutions fall where they fall in the whole
  // image and the tile's coded bytes are the same as one codec's.
  bool EncodeTile(uint32_t tx, uint32_t tileRow, uint32_t bandRows, std::vector<uint8_t>& plane,
                  std::vector<uint8_t>& coded, std::vector<uint8_t>& out) const {
    const uint32_t w = static_cast<uint32_t>(d_.width);
    const uint32_t x0 = tx * tdx_, y0 = tileRow * tdy_;
    const uint32_t tw = std::min(tdx_, w - x0);
    const size_t comps = static_cast<size_t>(comps_);
    const size_t area = static_cast<size_t>(tw) * bandRows;
    plane.resize(area * comps);
    for (uint32_t r = 0; r < bandRows; ++r) {
      const uint8_t* src = band_.data() + (static_cast<size_t>(r) * w + x0) * comps;
      for (uint32_t x = 0; x < tw; ++x)
        for (size_t c = 0; c < comps; ++c) plane[c * area + static_cast<size_t>(r) * tw + x] = src[x * comps + c];
    }
    opj_image_cmptparm_t cp[3];
    std::memset(cp, 0, sizeof cp);
    for (size_t c = 0; c < comps; ++c) {
      cp[c].dx = 1;
      cp[c].dy = 1;
      cp[c].w = tw;
      cp[c].h = bandRows;
      cp[c].x0 = x0;
      cp[c].y0 = y0;
      cp[c].prec = 8;
    }
    opj_image_t* image = opj_image_tile_create(static_cast<OPJ_UINT32>(comps_), cp,
                                               comps_ == 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY);
    if (!image) return false;
    image->x0 = x0;
    image->y0 = y0;
    image->x1 = x0 + tw;
    image->y1 = y0 + bandRows;
    opj_cparameters_t p = params_;
    p.cp_tx0 = static_cast<int>(x0);
    p.cp_ty0 = static_cast<int>(y0);
    opj_codec_t* codec = opj_create_compress(OPJ_CODEC_J2K);
    opj_stream_t* stream = opj_stream_create(size_t{1} << 20, OPJ_FALSE);
    MemOut mem{&coded, 0};
    coded.clear();
    bool ok = codec && stream;
    if (ok) {
      opj_set_error_handler(codec, Quiet, nullptr);
      opj_set_warning_handler(codec, Quiet, nullptr);
      opj_set_info_handler(codec, Quiet, nullptr);
      opj_stream_set_user_data(stream, &mem, nullptr);
      opj_stream_set_write_function(stream, MemWrite);
      opj_stream_set_skip_function(stream, MemSkip);
      opj_stream_set_seek_function(stream, MemSeek);
      ok = opj_setup_encoder(codec, &p, image);
    }
    if (ok && innerThreads_ > 1 && opj_has_thread_support()) opj_codec_set_threads(codec, innerThreads_);
    ok = ok && opj_start_compress(codec, image, stream) &&
         opj_write_tile(codec, 0, plane.data(), static_cast<OPJ_UINT32>(plane.size()), stream) &&
         opj_end_compress(codec, stream);
    if (stream) opj_stream_destroy(stream);
    if (codec) opj_destroy_codec(codec);
    opj_image_destroy(image);
    coded.resize(static_cast<size_t>(std::min<uint64_t>(mem.pos, coded.size())));
    return ok && TileParts(coded, tileRow * tilesAcross_ + tx, out);
  }

  // The tiles of the band on `workers_` threads (this one among them), then written in order.
  int FlushBandAtOnce() {
    const uint32_t tileRow = (rows_ - 1) / tdy_;
    const uint32_t bandRows = rowInBand_;
    parts_.resize(tilesAcross_);
    std::atomic<uint32_t> next{0};
    std::atomic<bool> failed{false};
    auto work = [&] {
      std::vector<uint8_t> plane, coded;
      for (uint32_t tx = next++; tx < tilesAcross_ && !failed; tx = next++)
        if (!EncodeTile(tx, tileRow, bandRows, plane, coded, parts_[tx])) failed = true;
    };
    std::vector<std::thread> helpers;
    const uint32_t n = std::min<uint32_t>(static_cast<uint32_t>(workers_), tilesAcross_);
    for (uint32_t i = 1; i < n; ++i) helpers.emplace_back(work);
    work();
    for (auto& t : helpers) t.join();
    if (failed) return IM_ERR_PARAM;
    for (auto& part : parts_) {
      if (!WriteAt(io_.fd, tail_, part.data(), part.size())) return IM_ERR_IO;
      tail_ += part.size();
    }
    rowInBand_ = 0;
    return IM_OK;
  }

  int FlushBand() {
    if (workers_ > 1) return FlushBandAtOnce();
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
  opj_cparameters_t params_{};
  int workers_ = 1;       // tiles coded at once
  int innerThreads_ = 1;  // OpenJPEG's threads in each of them
  uint64_t boxAt_ = 0;    // the codestream box
  uint64_t tail_ = 0;     // where the next tile goes
  std::vector<std::vector<uint8_t>> parts_;  // the band's coded tiles
};

// What a decoder needs to know of the whole image to place a decoded region in its rows.
struct Jp2Layout {
  uint32_t ix0 = 0, iy0 = 0, ix1 = 0, iy1 = 0;
  int used = 1;  // components delivered: 1 (grey) or 3
  size_t rowBytes = 0;
};

// Opens a decoder on the file and reads its main header. `threads` are OpenJPEG's own,
// inside each tile; `buffer` is the stream's read buffer.
int OpenDecoder(Jp2Read& st, int fd, uint64_t size, bool raw, int threads, size_t buffer) {
  st.io.fd = fd;
  st.io.size = size;
  st.codec = opj_create_decompress(raw ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
  if (!st.codec) return IM_ERR_MEMORY;
  opj_set_error_handler(st.codec, Quiet, nullptr);
  opj_set_warning_handler(st.codec, Quiet, nullptr);
  opj_set_info_handler(st.codec, Quiet, nullptr);
  opj_dparameters_t p;
  opj_set_default_decoder_parameters(&p);
  if (!opj_setup_decoder(st.codec, &p)) return IM_ERR_CORRUPT;
  if (threads > 1 && opj_has_thread_support()) opj_codec_set_threads(st.codec, threads);
  st.stream = MakeStream(&st.io, true, buffer);
  if (!st.stream) return IM_ERR_MEMORY;
  if (!opj_read_header(st.stream, st.codec, &st.image) || !st.image) return IM_ERR_CORRUPT;
  return IM_OK;
}

// Places the components of the region last decoded into `img` in the rows of `band`, which
// holds image rows [bandY0, bandY0 + bandRows). False when the region lies outside it.
bool CopyRegion(const opj_image_t* img, const Jp2Layout& l, uint8_t* band, uint32_t bandY0, uint32_t bandRows) {
  const uint32_t w = l.ix1 - l.ix0;
  const size_t used = static_cast<size_t>(l.used);
  for (size_t c = 0; c < used; ++c) {
    const auto& comp = img->comps[c];
    if (!comp.data) return false;
    if (comp.x0 < l.ix0 || comp.y0 < l.iy0) return false;
    const uint32_t cx0 = comp.x0 - l.ix0, cy0 = comp.y0 - l.iy0;
    for (uint32_t r = 0; r < comp.h; ++r) {
      const uint32_t y = cy0 + r;
      if (y < bandY0 || y >= bandY0 + bandRows) return false;
      uint8_t* dst = band + static_cast<size_t>(y - bandY0) * l.rowBytes;
      const OPJ_INT32* src = comp.data + static_cast<size_t>(r) * comp.w;
      for (uint32_t x = 0; x < comp.w && cx0 + x < w; ++x) dst[static_cast<size_t>(cx0 + x) * used + c] = To8(src[x], comp);
    }
  }
  return true;
}

// Hands `rows` rows of `band` to the sink, numbering them from `next` on.
int EmitRows(ReadSink& sink, const uint8_t* band, uint32_t rows, size_t rowBytes, std::vector<uint8_t>& row,
             int32_t& next) {
  for (uint32_t r = 0; r < rows; ++r) {
    std::memcpy(row.data(), band + static_cast<size_t>(r) * rowBytes, rowBytes);
    if (int rc = sink.Row(row.data(), next, rowBytes); rc != IM_OK) return rc;
    ++next;
  }
  return IM_OK;
}

// The tile grid of a multi-tile file.
struct Jp2Grid {
  uint32_t across = 0, down = 0;
  uint32_t ty0 = 0, tdy = 0;
  // Image rows [top, top + rows) of tile row t, counted from the image's top.
  uint32_t Top(const Jp2Layout& l, uint32_t t) const {
    return static_cast<uint32_t>(std::max<uint64_t>(l.iy0, uint64_t{ty0} + uint64_t{t} * tdy) - l.iy0);
  }
  uint32_t Rows(const Jp2Layout& l, uint32_t t) const {
    const uint64_t top = std::max<uint64_t>(l.iy0, uint64_t{ty0} + uint64_t{t} * tdy);
    const uint64_t bottom = std::min<uint64_t>(l.iy1, uint64_t{ty0} + uint64_t{t + 1} * tdy);
    return bottom > top ? static_cast<uint32_t>(bottom - top) : 0;
  }
};

// Tile after tile on one decoder, with OpenJPEG's threads inside each tile.
int DecodeTilesInTurn(Jp2Read& st, const Jp2Layout& l, const Jp2Grid& g, ReadSink& sink, int32_t& next) {
  std::vector<uint8_t> band(static_cast<size_t>(g.tdy) * l.rowBytes), row(l.rowBytes);
  for (uint32_t t = 0; t < g.down; ++t) {
    const uint32_t n = g.Rows(l, t);
    if (n == 0) continue;
    for (uint32_t c = 0; c < g.across; ++c) {
      if (!opj_get_decoded_tile(st.codec, st.stream, st.image, t * g.across + c)) return IM_ERR_CORRUPT;
      if (!CopyRegion(st.image, l, band.data(), g.Top(l, t), n)) return IM_ERR_CORRUPT;
    }
    if (int rc = EmitRows(sink, band.data(), n, l.rowBytes, row, next); rc != IM_OK) return rc;
  }
  return IM_OK;
}

// How many tiles to decode at once (a decoder holds as much as an encoder).
int TileWorkers(int threads, const Jp2Grid& g, uint32_t tdx, int comps) {
  return TileWorkerCount(threads, uint64_t{g.across} * g.down, uint64_t{tdx} * g.tdy * static_cast<uint64_t>(comps));
}

// Several tiles at once, one decoder per worker over the same file (each reads with its
// own position). OpenJPEG's threads only split the code blocks of one tile, and its
// transforms and the placing of the pixels run on one thread; whole tiles on separate
// decoders keep every processor busy. Workers take tiles in file order and may decode one
// tile row ahead; a tile is placed in the band once the band's rows before it went to the
// sink, which sees them in order on the calling thread. Decoding is exact, so the pixels
// are the same as from one decoder.
class ParallelTileDecoder {
 public:
  // Stream buffer of a worker: it passes over the other workers' tiles, reading only
  // their headers; a small buffer keeps those reads small (tile data are read directly).
  static constexpr size_t kWorkerBuffer = size_t{64} << 10;

  ParallelTileDecoder(int fd, uint64_t size, bool raw, const Jp2Layout& l, const Jp2Grid& g)
      : fd_(fd), size_(size), raw_(raw), l_(l), g_(g), done_(g.down, 0) {}

  int Run(int workers, int innerThreads, ReadSink& sink, int32_t& next) {
    band_.resize(static_cast<size_t>(g_.tdy) * l_.rowBytes);
    std::vector<std::thread> threads;
    threads.reserve(static_cast<size_t>(workers));
    for (int i = 0; i < workers; ++i) threads.emplace_back([this, innerThreads] { Work(innerThreads); });
    const int rc = Deliver(sink, next);
    {
      std::lock_guard<std::mutex> lock(m_);
      stop_ = true;
    }
    cv_.notify_all();
    for (auto& t : threads) t.join();
    return rc != IM_OK ? rc : error_;
  }

 private:
  int Deliver(ReadSink& sink, int32_t& next) {
    std::vector<uint8_t> row(l_.rowBytes);
    for (uint32_t t = 0; t < g_.down; ++t) {
      {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [&] { return t >= failRow_ || done_[t] == g_.across; });
        if (t >= failRow_) return error_;
      }
      if (int rc = EmitRows(sink, band_.data(), g_.Rows(l_, t), l_.rowBytes, row, next); rc != IM_OK) return rc;
      {
        std::lock_guard<std::mutex> lock(m_);
        ++emitted_;
      }
      cv_.notify_all();
    }
    return IM_OK;
  }

  void Work(int innerThreads) {
    Jp2Read st;
    if (int rc = OpenDecoder(st, fd_, size_, raw_, innerThreads, kWorkerBuffer); rc != IM_OK) return Fail(rc, 0);
    const uint32_t total = g_.across * g_.down;
    for (;;) {
      uint32_t tile = 0;
      {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [&] { return Over(next_ / g_.across) || next_ >= total || next_ / g_.across <= emitted_ + 1; });
        if (next_ >= total || Over(next_ / g_.across)) return;
        tile = next_++;
      }
      const uint32_t t = tile / g_.across;
      const uint32_t n = g_.Rows(l_, t);
      if (n > 0 && !opj_get_decoded_tile(st.codec, st.stream, st.image, tile)) return Fail(IM_ERR_CORRUPT, t);
      {
        // The band holds tile row `emitted_`: wait until it is this tile's.
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [&] { return Over(t) || t <= emitted_; });
        if (Over(t)) return;
      }
      if (n > 0 && !CopyRegion(st.image, l_, band_.data(), g_.Top(l_, t), n)) return Fail(IM_ERR_CORRUPT, t);
      {
        std::lock_guard<std::mutex> lock(m_);
        ++done_[t];
      }
      cv_.notify_all();
    }
  }

  // Whether tile row t is no longer wanted: the sink stopped, or a tile of it or above it
  // failed (the rows above the damage still go out, as from one decoder).
  bool Over(uint32_t t) const { return stop_ || t >= failRow_; }

  void Fail(int rc, uint32_t t) {
    {
      std::lock_guard<std::mutex> lock(m_);
      if (t < failRow_) {
        failRow_ = t;
        error_ = rc;
      }
    }
    cv_.notify_all();
  }

  const int fd_;
  const uint64_t size_;
  const bool raw_;
  const Jp2Layout l_;
  const Jp2Grid g_;
  std::vector<uint8_t> band_;
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<uint32_t> done_;  // tiles placed, per tile row
  uint32_t next_ = 0;           // next tile to take
  uint32_t emitted_ = 0;        // tile rows handed to the sink
  bool stop_ = false;
  uint32_t failRow_ = UINT32_MAX;  // first tile row that failed
  int error_ = IM_OK;              // its error
};

}  // namespace

int ReadJp2(int fd, ReadSink& sink) {
  const int64_t size = FileSize(fd);
  if (size < 16) return IM_ERR_CORRUPT;
  uint8_t magic[4];
  if (!ReadAt(fd, 0, magic, 4)) return IM_ERR_CORRUPT;
  const bool raw = magic[0] == 0xFF && magic[1] == 0x4F;
  const int threads = Jp2Threads();
  Jp2Read st;
  if (int rc = OpenDecoder(st, fd, static_cast<uint64_t>(size), raw, threads, size_t{1} << 20); rc != IM_OK) return rc;
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
  Jp2Layout l;
  l.ix0 = img->x0;
  l.iy0 = img->y0;
  l.ix1 = img->x1;
  l.iy1 = img->y1;
  l.used = used;
  const uint32_t w = l.ix1 - l.ix0, h = l.iy1 - l.iy0;
  if (w > 0x7FFFFFFF || h > 0x7FFFFFFF) return IM_ERR_CORRUPT;
  ImageDesc d;
  d.width = static_cast<int32_t>(w);
  d.height = static_cast<int32_t>(h);
  d.bitsPerPixel = used == 3 ? 24 : 8;
  d.grey = used == 1;
  if (d.grey) d.colors = GreyTable(256);
  if (!raw) ReadResolution(fd, st.io.size, d);
  if (int rc = CheckDesc(d); rc != IM_OK) return rc;
  l.rowBytes = d.RowBytes();
  st.info = opj_get_cstr_info(st.codec);
  if (!st.info) return IM_ERR_CORRUPT;
  Jp2Grid g;
  g.across = st.info->tw;
  g.down = st.info->th;
  g.ty0 = st.info->ty0;
  g.tdy = st.info->tdy;
  if (g.across == 0 || g.down == 0) return IM_ERR_CORRUPT;
  if (int rc = sink.Header(d); rc != IM_OK) return rc;

  int32_t next = 0;
  if (g.across * g.down == 1) {
    // One tile: band by band through decode areas.
    std::vector<uint8_t> band, row(l.rowBytes);
    const uint32_t bandRows = std::max<uint32_t>(1, std::min<uint32_t>(h, static_cast<uint32_t>((16u << 20) / l.rowBytes)));
    band.resize(static_cast<size_t>(bandRows) * l.rowBytes);
    for (uint32_t y = 0; y < h; y += bandRows) {
      const uint32_t n = std::min(bandRows, h - y);
      if (!opj_set_decode_area(st.codec, img, static_cast<OPJ_INT32>(l.ix0), static_cast<OPJ_INT32>(l.iy0 + y),
                               static_cast<OPJ_INT32>(l.ix1), static_cast<OPJ_INT32>(l.iy0 + y + n)))
        return IM_ERR_CORRUPT;
      if (!opj_decode(st.codec, st.stream, img)) return IM_ERR_CORRUPT;
      if (!CopyRegion(img, l, band.data(), y, n)) return IM_ERR_CORRUPT;
      if (int rc = EmitRows(sink, band.data(), n, l.rowBytes, row, next); rc != IM_OK) return rc;
    }
  } else {
    if (g.tdy == 0) return IM_ERR_CORRUPT;
    const uint64_t bandBytes = uint64_t{g.tdy} * l.rowBytes;
    if (bandBytes > (uint64_t{256} << 20)) return IM_ERR_UNSUPPORTED;
    const int workers = TileWorkers(threads, g, st.info->tdx, used);
    if (workers > 1) {
      // The first decoder only read the header: it goes before the workers start theirs.
      st.Close();
      ParallelTileDecoder dec(fd, static_cast<uint64_t>(size), raw, l, g);
      if (int rc = dec.Run(workers, (threads + workers - 1) / workers, sink, next); rc != IM_OK) return rc;
    } else if (int rc = DecodeTilesInTurn(st, l, g, sink, next); rc != IM_OK) {
      return rc;
    }
  }
  return next == d.height ? IM_OK : IM_ERR_CORRUPT;
}

std::unique_ptr<ImageWriter> MakeJp2Writer(const WriteSettings& s) { return std::make_unique<Jp2Writer>(s); }

}  // namespace mill
