// PNG through libpng, one row at a time (interlaced files, which libpng can only hand out
// whole, are read in memory up to a limit). Written with libpng's header and our own
// image data: the rows are deflated in blocks on several threads.
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/Bytes.h"
#include "platform/imagemill/CodecThreads.h"
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

// The zlib stream of a PNG file's image data, deflated in blocks on several threads, as
// parallel gzip tools do: every block is raw deflate data ending on a byte boundary (a
// sync flush), primed with the 32 KB before it as its dictionary, so the blocks join
// into one stream that any inflater reads and compress nearly as well as one stream.
// Deflating is nearly all the time of writing a PNG; on one thread it was slower than
// the rest of a conversion together. Blocks have a fixed size, so the file is the same
// with any number of threads.
class ParallelDeflate {
 public:
  static constexpr size_t kBlock = size_t{256} << 10;
  static constexpr size_t kWindow = size_t{32} << 10;
  // What comes out, in order, on the thread that adds the data; false stops the stream.
  using Out = bool (*)(void* user, const uint8_t* data, size_t n);

  ParallelDeflate(int level, int threads, Out out, void* user) : level_(level), out_(out), user_(user) {
    threads_ = std::max(1, threads);
    maxInFlight_ = static_cast<size_t>(threads_) * 2;
    current_ = TakeJob();
    for (int i = 0; i < threads_; ++i) workers_.emplace_back([this] { Work(); });
  }
  ~ParallelDeflate() { Stop(); }
  ParallelDeflate(const ParallelDeflate&) = delete;
  ParallelDeflate& operator=(const ParallelDeflate&) = delete;

  // IM_OK, IM_ERR_IO when the output refused data, IM_ERR_MEMORY when zlib failed.
  int Add(const uint8_t* data, size_t n) {
    while (n > 0) {
      if (rc_ != IM_OK) return rc_;
      const size_t room = kBlock - (current_->in.size() - current_->dict);
      const size_t take = std::min(room, n);
      current_->in.insert(current_->in.end(), data, data + take);
      data += take;
      n -= take;
      if (current_->in.size() - current_->dict == kBlock) Dispatch(false);
    }
    return rc_;
  }

  // Ends the stream: the last block, then the checksum of all the data.
  int Finish() {
    if (rc_ != IM_OK) return rc_;
    Dispatch(true);
    while (rc_ == IM_OK && !order_.empty()) WriteFront();
    if (rc_ != IM_OK) return rc_;
    uint8_t sum[4];
    orb::PutU32BE(sum, static_cast<uint32_t>(adler_));
    if (!out_(user_, sum, 4)) rc_ = IM_ERR_IO;
    return rc_;
  }

  // The two bytes that open the stream (32 KB window, default level).
  static constexpr uint8_t kHeader[2] = {0x78, 0x9C};

 private:
  struct Job {
    std::vector<uint8_t> in;  // dictionary, then the block's data
    size_t dict = 0;
    bool last = false;
    std::vector<uint8_t> out;
    uLong adler = 0;
    bool done = false;
    bool ok = false;
  };

  std::unique_ptr<Job> TakeJob() {
    std::unique_ptr<Job> j;
    if (!free_.empty()) {
      j = std::move(free_.back());
      free_.pop_back();
    } else {
      j = std::make_unique<Job>();
      j->in.reserve(kWindow + kBlock);
    }
    j->in.clear();
    j->dict = 0;
    j->last = false;
    j->done = false;
    j->ok = false;
    return j;
  }

  void Dispatch(bool last) {
    std::unique_ptr<Job> next = TakeJob();
    // The next block's dictionary: the last 32 KB of data before it.
    const size_t data = current_->in.size() - current_->dict;
    if (data >= kWindow) {
      next->in.assign(current_->in.end() - static_cast<long>(kWindow), current_->in.end());
    } else {
      next->in.assign(current_->in.begin(), current_->in.end());  // this one's dictionary and data
      if (next->in.size() > kWindow) next->in.erase(next->in.begin(), next->in.end() - static_cast<long>(kWindow));
    }
    next->dict = next->in.size();
    current_->last = last;
    Job* j = current_.get();
    {
      std::lock_guard<std::mutex> lock(m_);
      order_.push_back(std::move(current_));
      pending_.push_back(j);
    }
    cv_.notify_all();
    current_ = std::move(next);
    while (rc_ == IM_OK && order_.size() >= maxInFlight_) WriteFront();
    // Whatever is ready goes out now, so that the output keeps pace.
    while (rc_ == IM_OK && !order_.empty() && FrontDone()) WriteFront();
  }

  bool FrontDone() {
    std::lock_guard<std::mutex> lock(m_);
    return order_.front()->done;
  }

  void WriteFront() {
    std::unique_ptr<Job> j;
    {
      std::unique_lock<std::mutex> lock(m_);
      done_.wait(lock, [&] { return order_.front()->done; });
      j = std::move(order_.front());
      order_.pop_front();
    }
    if (!j->ok) {
      rc_ = IM_ERR_MEMORY;
    } else {
      const size_t n = j->in.size() - j->dict;
      adler_ = adler32_combine(adler_, j->adler, static_cast<z_off_t>(n));
      if (!j->out.empty() && !out_(user_, j->out.data(), j->out.size())) rc_ = IM_ERR_IO;
    }
    free_.push_back(std::move(j));
  }

  void Work() {
    z_stream z{};
    const bool ready = deflateInit2(&z, level_, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    for (;;) {
      Job* j = nullptr;
      {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [&] { return stop_ || !pending_.empty(); });
        if (pending_.empty()) break;
        j = pending_.front();
        pending_.pop_front();
      }
      const bool ok = ready && Deflate(z, *j);
      {
        std::lock_guard<std::mutex> lock(m_);
        j->ok = ok;
        j->done = true;
      }
      done_.notify_all();
    }
    if (ready) deflateEnd(&z);
  }

  static bool Deflate(z_stream& z, Job& j) {
    if (deflateReset(&z) != Z_OK) return false;
    if (j.dict > 0 && deflateSetDictionary(&z, j.in.data(), static_cast<uInt>(j.dict)) != Z_OK) return false;
    const size_t n = j.in.size() - j.dict;
    j.adler = adler32(adler32(0L, Z_NULL, 0), j.in.data() + j.dict, static_cast<uInt>(n));
    j.out.resize(deflateBound(&z, static_cast<uLong>(n)) + 64);
    z.next_in = j.in.data() + j.dict;
    z.avail_in = static_cast<uInt>(n);
    size_t used = 0;
    for (;;) {
      z.next_out = j.out.data() + used;
      z.avail_out = static_cast<uInt>(j.out.size() - used);
      const int rc = deflate(&z, j.last ? Z_FINISH : Z_SYNC_FLUSH);
      used = j.out.size() - z.avail_out;
      if (rc == Z_STREAM_ERROR) return false;
      // A flush is complete when room is left over; the last block when the stream ended.
      if (j.last ? rc == Z_STREAM_END : (z.avail_in == 0 && z.avail_out > 0)) break;
      j.out.resize(j.out.size() + j.out.size() / 2 + 64);
    }
    j.out.resize(used);
    return true;
  }

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(m_);
      stop_ = true;
      pending_.clear();
    }
    cv_.notify_all();
    for (auto& t : workers_) t.join();
    workers_.clear();
  }

  const int level_;
  Out out_;
  void* user_;
  int threads_ = 1;
  size_t maxInFlight_ = 2;
  int rc_ = IM_OK;
  uLong adler_ = 1;  // of no data
  std::unique_ptr<Job> current_;
  std::vector<std::unique_ptr<Job>> free_;
  std::vector<std::thread> workers_;
  std::mutex m_;
  std::condition_variable cv_;    // work for the workers
  std::condition_variable done_;  // a block finished
  std::deque<std::unique_ptr<Job>> order_;  // handed out, in stream order
  std::deque<Job*> pending_;                // not yet taken by a worker
  bool stop_ = false;
};

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
    if (!deflate_) {
      // libpng wrote the signature and the header chunks; the image data are ours.
      deflate_ = std::make_unique<ParallelDeflate>(kLevel, CodecThreads("IMAGEMILL_PNG_THREADS"), &PngWriter::Idat,
                                                   this);
    }
    static constexpr uint8_t kNoFilter = 0;
    if (int rc = deflate_->Add(&kNoFilter, 1); rc != IM_OK) return rc;
    if (!invert_) return deflate_->Add(row, line_.size());
    for (size_t i = 0; i < line_.size(); ++i) line_[i] = static_cast<uint8_t>(~row[i]);
    return deflate_->Add(line_.data(), line_.size());
  }

  int Finish(bool complete) override {
    int rc = IM_OK;
    if (png_ && complete) {
      if (!deflate_) rc = IM_ERR_PARAM;  // an image has at least one row
      if (rc == IM_OK) rc = deflate_->Finish();
      if (rc == IM_OK && !Chunk("IEND", nullptr, 0, nullptr, 0)) rc = IM_ERR_IO;
    }
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
  // zlib's default level, as libpng and libvips use.
  static constexpr int kLevel = 6;

  // One chunk: its length, type, `head` and `data` as its contents, and their CRC.
  bool Chunk(const char* type, const uint8_t* head, size_t headLen, const uint8_t* data, size_t n) {
    const size_t len = headLen + n;
    if (len > 0x7FFFFFFF) return false;
    uint8_t pre[8];
    orb::PutU32BE(pre, static_cast<uint32_t>(len));
    std::memcpy(pre + 4, type, 4);
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, pre + 4, 4);
    if (headLen) crc = crc32(crc, head, static_cast<uInt>(headLen));
    if (n) crc = crc32_z(crc, data, n);
    uint8_t post[4];
    orb::PutU32BE(post, static_cast<uint32_t>(crc));
    const bool ok = WriteAt(io_.fd, io_.pos, pre, 8) && (!headLen || WriteAt(io_.fd, io_.pos + 8, head, headLen)) &&
                    (!n || WriteAt(io_.fd, io_.pos + 8 + headLen, data, n)) &&
                    WriteAt(io_.fd, io_.pos + 8 + len, post, 4);
    io_.pos += 12 + len;
    return ok;
  }

  // Deflated data as they come, one IDAT chunk each; the first opens the zlib stream.
  static bool Idat(void* user, const uint8_t* data, size_t n) {
    auto* w = static_cast<PngWriter*>(user);
    const bool first = !w->idatStarted_;
    w->idatStarted_ = true;
    return w->Chunk("IDAT", first ? ParallelDeflate::kHeader : nullptr, first ? 2 : 0, data, n);
  }

  void Destroy() {
    deflate_.reset();
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
  std::unique_ptr<ParallelDeflate> deflate_;
  bool idatStarted_ = false;
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
