// Runs one engine operation streaming file -> filter -> file, for timing against other
// tools on the same image. A reader thread, the filter (on the calling thread, spreading
// work over cores where the operation allows) and a writer thread overlap; memory stays a
// few bands whatever the image height.
//   filter_driver OPERATION IN.tif OUT.tif
// Operations: resize-half, quantise-256, and, when built, brightness-contrast,
// bw-point, threshold, median-3, sharpen, adaptive-threshold, error-diffusion, despeckle.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/tools/TiffLines.h"
#include "engine/quantise/Quantise.h"
#include "engine/resample/Resampler.h"
#include "engine/resample/WorkerPool.h"

#if __has_include("engine/filters/BrightCont.h")
#include "engine/filters/BrightCont.h"
#define ORB_HAVE_BRIGHTCONT 1
#endif
#if __has_include("engine/filters/BWPoint.h")
#include "engine/filters/BWPoint.h"
#define ORB_HAVE_BWPOINT 1
#endif
#if __has_include("engine/filters/NoiseRemoval.h")
#include "engine/filters/NoiseRemoval.h"
#define ORB_HAVE_MEDIAN 1
#endif
#if __has_include("engine/filters/Sharpen.h")
#include "engine/filters/Sharpen.h"
#define ORB_HAVE_SHARPEN 1
#endif
#if __has_include("engine/filters/BWThreshold.h")
#include "engine/filters/BWThreshold.h"
#define ORB_HAVE_THRESHOLD 1
#endif
#if __has_include("engine/filters/SpotRemoval.h")
#include "engine/filters/SpotRemoval.h"
#define ORB_HAVE_DESPECKLE 1
#endif

namespace {

using orb::bench::TiffLineReader;
using orb::bench::TiffLineWriter;

constexpr uint32_t kBandLines = 64;

struct Band {
  std::vector<uint8_t> data;
  uint32_t lines = 0;
};

// Bands are made once and handed round: the reader fills one, the filter works it, the
// writer empties it and gives it back. A new band per band of lines cost page faults and
// zero-filling of megabytes each time (glibc gives blocks this large back to the system).
class BandPool {
public:
  std::unique_ptr<Band> Get(size_t bytes) {
    std::unique_ptr<Band> b;
    {
      std::lock_guard<std::mutex> l(m_);
      for (auto it = free_.begin(); it != free_.end(); ++it)
        if ((*it)->data.capacity() >= bytes) {
          b = std::move(*it);
          free_.erase(it);
          break;
        }
    }
    if (!b) b = std::make_unique<Band>();
    b->data.resize(bytes);  // within the capacity: nothing is allocated or cleared
    b->lines = 0;
    return b;
  }
  void Put(std::unique_ptr<Band> b) {
    if (!b) return;
    std::lock_guard<std::mutex> l(m_);
    free_.push_back(std::move(b));
  }

private:
  std::mutex m_;
  std::vector<std::unique_ptr<Band>> free_;
};

BandPool& Pool() {
  static BandPool pool;
  return pool;
}

template <class T>
class Queue {
public:
  explicit Queue(size_t cap) : cap_(cap) {}
  void Push(T v) {
    std::unique_lock<std::mutex> l(m_);
    notFull_.wait(l, [&] { return q_.size() < cap_; });
    q_.push_back(std::move(v));
    notEmpty_.notify_one();
  }
  std::optional<T> Pop() {
    std::unique_lock<std::mutex> l(m_);
    notEmpty_.wait(l, [&] { return !q_.empty() || closed_; });
    if (q_.empty()) return std::nullopt;
    T v = std::move(q_.front());
    q_.pop_front();
    notFull_.notify_one();
    return v;
  }
  void Close() {
    std::lock_guard<std::mutex> l(m_);
    closed_ = true;
    notEmpty_.notify_all();
  }

private:
  size_t cap_;
  std::deque<T> q_;
  bool closed_ = false;
  std::mutex m_;
  std::condition_variable notEmpty_, notFull_;
};

// Reads the whole image band by band on its own thread.
class BandSource {
public:
  explicit BandSource(TiffLineReader& r) : r_(r), q_(3) {
    t_ = std::thread([this] {
      const size_t lb = r_.LineBytes();
      for (uint32_t y = 0; y < r_.height; y += kBandLines) {
        const uint32_t lines = std::min(kBandLines, r_.height - y);
        auto b = Pool().Get(lb * lines);
        b->lines = lines;
        for (uint32_t i = 0; i < b->lines; ++i)
          if (!r_.Read(b->data.data() + i * lb)) {
            failed = true;
            b->lines = i;
            break;
          }
        q_.Push(std::move(b));
        if (failed) break;
      }
      q_.Close();
    });
  }
  ~BandSource() { t_.join(); }
  std::unique_ptr<Band> Next() {
    auto v = q_.Pop();
    return v ? std::move(*v) : nullptr;
  }
  std::atomic<bool> failed{false};

private:
  TiffLineReader& r_;
  Queue<std::unique_ptr<Band>> q_;
  std::thread t_;
};

// Collects output lines into bands and writes them on its own thread.
class BandSink {
public:
  BandSink(TiffLineWriter& w, size_t lineBytes) : w_(w), lb_(lineBytes), q_(3) {
    t_ = std::thread([this] {
      while (auto b = q_.Pop()) {
        for (uint32_t i = 0; i < (*b)->lines; ++i)
          if (!w_.Write((*b)->data.data() + i * lb_)) failed = true;
        Pool().Put(std::move(*b));
      }
    });
    Fresh();
  }
  ~BandSink() { Finish(); }
  void Put(const uint8_t* lines, uint32_t count) {
    while (count > 0) {
      const uint32_t n = std::min(count, kBandLines - cur_->lines);
      std::memcpy(cur_->data.data() + cur_->lines * lb_, lines, n * lb_);
      cur_->lines += n;
      lines += n * lb_;
      count -= n;
      if (cur_->lines == kBandLines) {
        q_.Push(std::move(cur_));
        Fresh();
      }
    }
  }
  // Hands a whole band over without a copy.
  void PutBand(std::unique_ptr<Band> b) {
    if (cur_->lines) {
      q_.Push(std::move(cur_));
      Fresh();
    }
    q_.Push(std::move(b));
  }
  void Finish() {
    if (done_) return;
    done_ = true;
    if (cur_ && cur_->lines) q_.Push(std::move(cur_));
    q_.Close();
    t_.join();
  }
  std::atomic<bool> failed{false};

private:
  void Fresh() { cur_ = Pool().Get(kBandLines * lb_); }
  TiffLineWriter& w_;
  size_t lb_;
  Queue<std::unique_ptr<Band>> q_;
  std::unique_ptr<Band> cur_;
  std::thread t_;
  bool done_ = false;
};

int Fail(const char* what) {
  std::fprintf(stderr, "filter_driver: %s\n", what);
  return 1;
}

// Splits [0, lines) of a band over the pool for filters that keep nothing between lines.
void PerLines(orb::WorkerPool& pool, Band& b, size_t lineBytes,
              const std::function<void(uint8_t*, size_t)>& fn) {
  const unsigned parts = std::min<unsigned>(pool.Size(), b.lines);
  pool.Run(parts, [&](unsigned p) {
    const uint32_t from = b.lines * p / parts, to = b.lines * (p + 1) / parts;
    if (to > from) fn(b.data.data() + from * lineBytes, (to - from) * lineBytes);
  });
}

int Resize(const std::string& in, const std::string& out) {
  TiffLineReader r;
  if (!r.Open(in) || r.bits != 8) return Fail("cannot read input");
  ResamplerState st;
  ResamplerInit(&st);
  ResamplerSetScale(&st, 0.5, 0.5);
  ResamplerSetSizes(&st, static_cast<int32_t>(r.height), r.channels, static_cast<int32_t>(r.width));
  if (!ResamplerPrepare(&st)) return Fail("resampler refused the sizes");
  TiffLineWriter w;
  const uint32_t oh = static_cast<uint32_t>(r.height * 0.5);
  if (!w.Open(out, st.outputWidth, oh, r.channels)) return Fail("cannot create output");
  {
    BandSink sink(w, static_cast<size_t>(st.outputWidth) * r.channels);
    BandSource src(r);
    const size_t lb = r.LineBytes();
    while (auto b = src.Next()) {
      for (uint32_t i = 0; i < b->lines; ++i) {
        unsigned char* o = nullptr;
        int32_t bytes = 0, count = 0;
        ResamplerProcessRows(&st, b->data.data() + i * lb, &o, &bytes, &count);
        if (count) sink.Put(o, count);
      }
      Pool().Put(std::move(b));
    }
    for (;;) {
      unsigned char* o = nullptr;
      int32_t bytes = 0, count = 0;
      ResamplerFlush(&st, &o, &bytes, &count);
      if (!count) break;
      sink.Put(o, count);
    }
    sink.Finish();
    if (src.failed || sink.failed) return Fail("read or write failed");
  }
  ResamplerFree(&st);
  return w.Close() ? 0 : 1;
}

int Quantise256(const std::string& in, const std::string& out) {
  TiffLineReader r;
  if (!r.Open(in) || r.bits != 8 || r.channels != 3) return Fail("need an RGB input");
  auto q = std::make_unique<CQuantise>();
  {
    BandSource src(r);
    while (auto b = src.Next()) {
      q->AddPixels(b->data.data(), static_cast<int>(b->lines), static_cast<int>(r.width));
      Pool().Put(std::move(b));
    }
    if (src.failed) return Fail("read failed");
  }
  std::vector<unsigned char> map(65536), pal(768);
  std::vector<int> usage(256, 0);
  int count = 0;
  if (!q->MakePalette(256, &count, map.data(), pal.data(), usage.data())) return Fail("no palette");
  uint16_t cmap[768];
  for (int i = 0; i < 256; ++i)
    for (int c = 0; c < 3; ++c) cmap[c * 256 + i] = static_cast<uint16_t>(pal[3 * i + c] * 257);
  TiffLineWriter w;
  if (!w.Open(out, r.width, r.height, 1, 8, cmap)) return Fail("cannot create output");
  r.Rewind();
  orb::WorkerPool pool;
  {
    BandSink sink(w, r.width);
    BandSource src(r);
    while (auto b = src.Next()) {
      auto o = Pool().Get(static_cast<size_t>(r.width) * b->lines);
      o->lines = b->lines;
      const size_t n = o->data.size();
      const unsigned parts = pool.Size();
      pool.Run(parts, [&](unsigned p) {
        const size_t from = n * p / parts, to = n * (p + 1) / parts;
        const uint8_t* s = b->data.data() + from * 3;
        for (size_t i = from; i < to; ++i, s += 3) o->data[i] = map[CQuantise::CellOf(s[0], s[1], s[2])];
      });
      Pool().Put(std::move(b));
      sink.PutBand(std::move(o));
    }
    sink.Finish();
    if (src.failed || sink.failed) return Fail("read or write failed");
  }
  return w.Close() ? 0 : 1;
}

// A filter that works a band in place and keeps nothing between lines.
int PointFilter(const std::string& in, const std::string& out,
                const std::function<void(uint8_t*, size_t)>& rows) {
  TiffLineReader r;
  if (!r.Open(in) || r.bits != 8) return Fail("cannot read input");
  TiffLineWriter w;
  if (!w.Open(out, r.width, r.height, r.channels)) return Fail("cannot create output");
  orb::WorkerPool pool;
  {
    BandSink sink(w, r.LineBytes());
    BandSource src(r);
    while (auto b = src.Next()) {
      PerLines(pool, *b, r.LineBytes(), rows);
      sink.PutBand(std::move(b));
    }
    sink.Finish();
    if (src.failed || sink.failed) return Fail("read or write failed");
  }
  return w.Close() ? 0 : 1;
}

// A filter that hands each line back `delay` lines late: the first `delay` lines it
// returns are dropped, and `flush` brings out the last ones, so output lines = input lines.
// `columns` > 1 runs that many independent filters on overlapping column stripes (each
// stripe's edge columns are recomputed by its neighbour), which only neighbourhood filters
// of a fixed 1-pixel reach may do.
struct DelayedFilter {
  std::function<void(uint8_t*, size_t)> rows;
  std::function<int64_t(uint8_t*, size_t)> flush;
  int delay = 0;
};

int Delayed(const std::string& in, const std::string& out, int outBits,
            const std::function<std::unique_ptr<DelayedFilter>(size_t width)>& make, int reach) {
  TiffLineReader r;
  if (!r.Open(in) || (r.bits != 8 && r.bits != 1)) return Fail("cannot read input");
  TiffLineWriter w;
  if (!w.Open(out, r.width, r.height, r.channels, outBits)) return Fail("cannot create output");
  const size_t lb = r.LineBytes();
  const size_t px = static_cast<size_t>(r.channels);
  // Column stripes with `reach` pixels of overlap on each side; reach < 0: one stripe.
  orb::WorkerPool pool;
  unsigned parts = reach >= 0 ? std::max(1u, std::min<unsigned>(pool.Size(), r.width / 256)) : 1;
  if (const char* e = std::getenv("ORB_DRIVER_ONE_STRIPE"); e && *e == '1') parts = 1;
  struct Stripe {
    size_t x0, x1, s0, s1;  // owned columns [x0, x1), stored columns [s0, s1)
    std::unique_ptr<DelayedFilter> f;
    std::vector<uint8_t> buf;
  };
  std::vector<Stripe> stripes(parts);
  for (unsigned p = 0; p < parts; ++p) {
    Stripe& s = stripes[p];
    s.x0 = r.width * p / parts;
    s.x1 = r.width * (p + 1) / parts;
    const size_t reachPx = reach > 0 ? static_cast<size_t>(reach) : 0;
    s.s0 = s.x0 >= reachPx ? s.x0 - reachPx : 0;
    s.s1 = std::min<size_t>(r.width, s.x1 + reachPx);
    s.f = make((s.s1 - s.s0) * px);
    if (!s.f) return Fail("filter init failed");
  }
  const int delay = stripes[0].f->delay;
  int64_t toDrop = delay;
  uint32_t written = 0;
  {
    BandSink sink(w, lb);
    BandSource src(r);
    auto emit = [&](Band& b, uint32_t from) {
      if (b.lines > from) {
        const uint32_t n = std::min(b.lines - from, r.height - written);
        sink.Put(b.data.data() + from * lb, n);
        written += n;
      }
    };
    while (auto b = src.Next()) {
      if (parts == 1) {
        stripes[0].f->rows(b->data.data(), b->lines * lb);
      } else {
        // Every stripe copies its input (overlap included) before any writes back.
        pool.Run(parts, [&](unsigned p) {
          Stripe& s = stripes[p];
          const size_t sw = (s.s1 - s.s0) * px;
          s.buf.resize(sw * b->lines);
          for (uint32_t i = 0; i < b->lines; ++i)
            std::memcpy(s.buf.data() + i * sw, b->data.data() + i * lb + s.s0 * px, sw);
          s.f->rows(s.buf.data(), sw * b->lines);
        });
        pool.Run(parts, [&](unsigned p) {
          Stripe& s = stripes[p];
          const size_t sw = (s.s1 - s.s0) * px;
          for (uint32_t i = 0; i < b->lines; ++i)
            std::memcpy(b->data.data() + i * lb + s.x0 * px, s.buf.data() + i * sw + (s.x0 - s.s0) * px,
                        (s.x1 - s.x0) * px);
        });
      }
      const uint32_t drop = static_cast<uint32_t>(std::min<int64_t>(toDrop, b->lines));
      toDrop -= drop;
      emit(*b, drop);
      Pool().Put(std::move(b));
    }
    if (delay > 0) {
      Band tail;
      tail.lines = static_cast<uint32_t>(delay);
      tail.data.assign(lb * delay, 255);
      if (parts == 1) {
        const int64_t n = stripes[0].f->flush(tail.data.data(), tail.data.size());
        tail.lines = n > 0 ? static_cast<uint32_t>(n) : 0;
      } else {
        int64_t n = 0;
        for (auto& s : stripes) {
          const size_t sw = (s.s1 - s.s0) * px;
          s.buf.assign(sw * delay, 255);
          n = s.f->flush(s.buf.data(), s.buf.size());
          for (int64_t i = 0; i < n; ++i)
            std::memcpy(tail.data.data() + i * lb + s.x0 * px, s.buf.data() + i * sw + (s.x0 - s.s0) * px,
                        (s.x1 - s.x0) * px);
        }
        tail.lines = n > 0 ? static_cast<uint32_t>(n) : 0;
      }
      emit(tail, 0);
    }
    sink.Finish();
    if (src.failed || sink.failed) return Fail("read or write failed");
  }
  if (written != r.height) return Fail("wrong number of output lines");
  return w.Close() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s OPERATION IN.tif OUT.tif\n", argv[0]);
    return 2;
  }
  const std::string op = argv[1], in = argv[2], out = argv[3];
  if (op == "resize-half") return Resize(in, out);
  if (op == "quantise-256") return Quantise256(in, out);
#ifdef ORB_HAVE_BRIGHTCONT
  if (op == "brightness-contrast") {
    orb::BrightContRecord s;
    s.Brightness = 20;
    s.Contrast = 30;
    BrightContState st;
    if (!BrightContInit(&st, &s, 0, nullptr)) return Fail("init failed");
    const int rc = PointFilter(in, out, [&](uint8_t* b, size_t n) { BrightContRows(&st, b, n); });
    BrightContFree(&st);
    return rc;
  }
#endif
#ifdef ORB_HAVE_BWPOINT
  if (op == "bw-point") {
    orb::BWPointRecord s;
    s.White = 220;
    s.Black = 40;
    BWPointState st;
    BWPointInit(&st, &s, 0, nullptr);
    return PointFilter(in, out, [&](uint8_t* b, size_t n) { BWPointRows(&st, b, n); });
  }
#endif
#ifdef ORB_HAVE_MEDIAN
  if (op == "median-3") {
    static orb::DescreenRecord s;
    s.Level = 1;
    return Delayed(in, out, 8, [](size_t width) -> std::unique_ptr<DelayedFilter> {
      auto st = std::make_shared<NoiseRemovalState>();
      if (!NoiseRemovalInit(st.get(), &s, 0, width)) return nullptr;
      auto f = std::make_unique<DelayedFilter>();
      f->delay = NoiseRemovalDelay(st.get());
      f->rows = [st](uint8_t* b, size_t n) { NoiseRemovalRows(st.get(), b, n); };
      f->flush = [st](uint8_t* o, size_t n) {
        const int64_t r = NoiseRemovalFlush(st.get(), o, n);
        NoiseRemovalFree(st.get());
        return r;
      };
      return f;
    }, 3);
  }
#endif
#ifdef ORB_HAVE_SHARPEN
  if (op == "sharpen") {
    static orb::SharpenRecord s;
    s.Level = 5;
    return Delayed(in, out, 8, [](size_t width) -> std::unique_ptr<DelayedFilter> {
      auto f = std::make_shared<CSharpenLineFilter>(width, &s, 0);
      if (!f->ok()) return nullptr;
      auto d = std::make_unique<DelayedFilter>();
      d->delay = f->Delay();
      d->rows = [f](uint8_t* b, size_t n) { f->Process(b, n); };
      d->flush = [f](uint8_t* o, size_t n) {
        const int64_t r = f->Flush(o, n);
        f->Free();
        return r;
      };
      return d;
    }, 3);
  }
#endif
#ifdef ORB_HAVE_THRESHOLD
  // Fixed threshold keeps nothing between pixels: column stripes, one state each.
  // Adaptive and error diffusion carry state along the line: one stripe.
  auto threshold = [&](int type, int reach) {
    static orb::BWThresholdRecord s;
    s.ThresholdingType = type;
    s.FixedThreshhold = 25;  // the level: cut-off 255 - 5 x 25 = 130, near the 128 of the others
    s.AdaptiveWindowSize = 25;
    s.AdaptiveDynamic = 9;
    s.DiffusionHybrid = 0;
    s.DiffusionSerpentine = 1;
    return Delayed(in, out, 1, [](size_t width) -> std::unique_ptr<DelayedFilter> {
      auto st = std::make_shared<BWThresholdState>();
      if (!BWThresholdInit(st.get(), &s, width, width * kBandLines)) return nullptr;
      auto f = std::make_unique<DelayedFilter>();
      f->delay = BWThresholdDelay(st.get());
      f->rows = [st, width](uint8_t* b, size_t n) { BWThresholdRows(st.get(), b, n, width); };
      f->flush = [st](uint8_t* o, size_t n) {
        const int64_t r = BWThresholdFlush(st.get(), o, n);
        BWThresholdFree(st.get());
        return r;
      };
      return f;
    }, reach);
  };
  if (op == "threshold") return threshold(0, 0);
  if (op == "adaptive-threshold") return threshold(1, -1);
  if (op == "error-diffusion") return threshold(2, -1);
#endif
#ifdef ORB_HAVE_DESPECKLE
  if (op == "despeckle") {
    static orb::DespeckleRecord s;
    s.SpeckWidth = 3;
    s.SpeckHeight = 3;
    return Delayed(in, out, 1, [](size_t width) -> std::unique_ptr<DelayedFilter> {
      auto st = std::make_shared<DespeckleState>();
      if (!DespeckleInit(st.get(), &s, width)) return nullptr;
      auto f = std::make_unique<DelayedFilter>();
      f->delay = DespeckleDelay(st.get());
      f->rows = [st](uint8_t* b, size_t n) { DespeckleRows(st.get(), b, n); };
      f->flush = [st](uint8_t* o, size_t n) {
        const int64_t r = DespeckleFlush(st.get(), o, n);
        DespeckleFree(st.get());
        return r;
      };
      return f;
    }, -1);
  }
#endif
  std::fprintf(stderr, "filter_driver: operation %s is not built\n", op.c_str());
  return 3;
}
