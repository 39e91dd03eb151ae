#include "engine/resample/Resampler.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>
#include <vector>

#include "engine/resample/WorkerPool.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

IResampleFilter::~IResampleFilter() = default;

double Sinc(double x) {
  if (x == 0.0) return 1.0;
  const double a = 3.142 * x;
  return std::sin(a) / a;
}

double CResampleLanczos3Filter::GetWeight(double x) const {
  const double ax = std::fabs(x);
  if (ax < 3.0) return Sinc(ax) * Sinc(ax / 3.0);
  return 0.0;
}

namespace {

// Largest output line we hand back, in bytes (outLineBytes is 32-bit).
constexpr double kMaxLineBytes = 1 << 30;
// Below this many output bytes a line is cheaper to do on one thread.
constexpr int64_t kParallelMinBytes = 6000;

}  // namespace

struct ResamplerDenseTaps {
  int32_t taps = 0;                 // common tap count of every output column
  std::vector<int32_t> start;       // first source column of each output column
  std::vector<double> weights;      // outputWidth x taps
  struct Part {
    uint32_t colFrom = 0, colTo = 0;  // output columns of this part
    int32_t srcFrom = 0, srcTo = 0;   // source columns it reads (srcTo may pass the width)
    std::vector<double> src;          // those source samples as doubles
    std::vector<double> acc;          // vertical accumulators
  };
  std::vector<Part> parts;
  // Vertical windows of the lines being made in one call.
  struct Window {
    int32_t count = 0;
    double weightSum = 0.0;
    std::vector<int32_t> slot;
    std::vector<double> weight;
  };
  std::vector<Window> windows;
  std::vector<int32_t> windowLine;  // scratch: source lines of a window under construction
  // Source lines received but not yet resampled horizontally, and their ring slots.
  std::vector<unsigned char> waitingLines;
  std::vector<int32_t> waitingSlot;
  int32_t waiting = 0;
  int32_t waitingCapacity = 1;
  std::vector<double> windowWeight;
};

namespace {

// Clamped to 0..255 and converted toward zero. The quotient of two rounded sums can land a
// hair below a whole number it equals exactly (a flat area of 137 would come out 136 in a
// quarter of its pixels); a tolerance far above that rounding noise and far below any real
// fraction keeps such values whole.
constexpr double kWholeTolerance = 1e-9;
inline unsigned char ToByte(double v) {
  if (v > 255.0) return 255;
  if (v < 0.0) return 0;
  return static_cast<unsigned char>(static_cast<int>(v + kWholeTolerance));
}

void FreeContributors(ResamplerState* st) {
  if (st->contributors) {
    for (uint32_t i = 0; i < st->outputWidth; ++i) delete[] st->contributors[i].list;
    delete[] st->contributors;
    st->contributors = nullptr;
  }
}

// The vertical window of output line y: source lines and weights in order, left out where
// the weight is 0 or the line is outside 0 .. limit-1.
void BuildWindow(const ResamplerState* st, int32_t y, std::vector<int32_t>& lines,
                 std::vector<double>& weights) {
  lines.clear();
  weights.clear();
  const double s = st->kernel->GetSupport();
  const double c = (y + 0.5) / st->sy;
  double lo, hi;
  if (st->sy >= 1.0) {
    lo = std::trunc(c - s);
    hi = std::trunc(c + s);
  } else {
    const double w = s / st->sy;
    lo = std::trunc(c - w);
    hi = std::trunc(c + w);
  }
  const double limit = st->sourceHeightLimit;
  for (double jd = std::max(lo, -1.0); jd <= hi; jd += 1.0) {
    if (jd < 0 || jd >= limit) continue;
    const double wt = st->sy >= 1.0 ? st->kernel->GetWeight(c - jd - 0.5)
                                    : st->kernel->GetWeight((c - jd - 0.5) * st->sy);
    if (wt == 0.0) continue;
    lines.push_back(static_cast<int32_t>(jd));
    weights.push_back(wt);
  }
}

// Output lines the resampler's fixed delay makes available after L source lines.
int64_t AvailableAfter(const ResamplerState* st, int64_t L) {
  const double s = st->kernel->GetSupport();
  double n;
  if (st->sy >= 1.0)
    n = (static_cast<double>(L) - s + 1 - 0.000001) * st->sy - 0.5;
  else
    n = (static_cast<double>(L) - s / st->sy + 1 - 0.000001) * st->sy - 0.5;
  n = std::trunc(n);
  if (n < 0) return 0;
  if (n > 2147483647.0) return 2147483647;
  return static_cast<int64_t>(n);
}

// The inner loops. Each output sample is a sum of weight x sample products added in list
// order, then divided by the weight sum: the vector versions do exactly these operations
// (separate multiply and add, no fused multiply-add), only several samples at a time, so
// their results are identical to the plain loops.

// RGB: output pixel i of [from, to) from its dense taps.
void HorizontalRgb(const ResamplerState* st, const double* sd, int32_t srcFrom, uint32_t from,
                   uint32_t to, unsigned char* dst) {
  const ResamplerDenseTaps& d = *st->dense;
  const int32_t taps = d.taps;
  for (uint32_t i = from; i < to; ++i) {
    const double* wt = d.weights.data() + static_cast<size_t>(i) * taps;
    const double sum = st->contributors[i].weightSum;
    const double* s = sd + static_cast<size_t>(d.start[i] - srcFrom) * 3;
    double a0 = 0.0, a1 = 0.0, a2 = 0.0;
    for (int32_t k = 0; k < taps; ++k) {
      a0 += wt[k] * s[3 * k];
      a1 += wt[k] * s[3 * k + 1];
      a2 += wt[k] * s[3 * k + 2];
    }
    unsigned char* o = dst + static_cast<size_t>(i) * 3;
    if (sum == 0.0) {
      o[0] = o[1] = o[2] = 0;
    } else {
      o[0] = ToByte(a0 / sum);
      o[1] = ToByte(a1 / sum);
      o[2] = ToByte(a2 / sum);
    }
  }
}

// Vertical: o[t] from the window's ring lines at x .. x + n.
void VerticalRun(const ResamplerState* st, const ResamplerDenseTaps::Window& win, size_t lineBytes,
                 size_t x, size_t n, double* acc, unsigned char* o) {
  std::fill(acc, acc + n, 0.0);
  for (int32_t e = 0; e < win.count; ++e) {
    const unsigned char* r = st->ring + static_cast<size_t>(win.slot[e]) * lineBytes + x;
    const double wt = win.weight[e];
    for (size_t t = 0; t < n; ++t) acc[t] += wt * r[t];
  }
  const double sum = win.weightSum;
  for (size_t t = 0; t < n; ++t) o[t] = ToByte(acc[t] / sum);
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) inline void StoreRgb(const ResamplerState* st, uint32_t i,
                                                     __m256d acc, unsigned char* dst) {
  alignas(32) double a[4];
  _mm256_store_pd(a, acc);
  const double sum = st->contributors[i].weightSum;
  unsigned char* o = dst + static_cast<size_t>(i) * 3;
  if (sum == 0.0) {
    o[0] = o[1] = o[2] = 0;
  } else {
    o[0] = ToByte(a[0] / sum);
    o[1] = ToByte(a[1] / sum);
    o[2] = ToByte(a[2] / sum);
  }
}

__attribute__((target("avx2"))) void HorizontalRgbAvx2(const ResamplerState* st, const double* sd,
                                                       int32_t srcFrom, uint32_t from, uint32_t to,
                                                       unsigned char* dst) {
  const ResamplerDenseTaps& d = *st->dense;
  const int32_t taps = d.taps;
  uint32_t i = from;
  // Four pixels at a time: four independent sums keep the adder busy. Lanes hold R, G, B
  // and (ignored) the next pixel's R.
  for (; i + 4 <= to; i += 4) {
    const double* w0 = d.weights.data() + static_cast<size_t>(i) * taps;
    const double* w1 = w0 + taps;
    const double* w2 = w1 + taps;
    const double* w3 = w2 + taps;
    const double* s0 = sd + static_cast<size_t>(d.start[i] - srcFrom) * 3;
    const double* s1 = sd + static_cast<size_t>(d.start[i + 1] - srcFrom) * 3;
    const double* s2 = sd + static_cast<size_t>(d.start[i + 2] - srcFrom) * 3;
    const double* s3 = sd + static_cast<size_t>(d.start[i + 3] - srcFrom) * 3;
    __m256d a0 = _mm256_setzero_pd(), a1 = a0, a2 = a0, a3 = a0;
    for (int32_t k = 0; k < taps; ++k) {
      a0 = _mm256_add_pd(a0, _mm256_mul_pd(_mm256_set1_pd(w0[k]), _mm256_loadu_pd(s0 + 3 * k)));
      a1 = _mm256_add_pd(a1, _mm256_mul_pd(_mm256_set1_pd(w1[k]), _mm256_loadu_pd(s1 + 3 * k)));
      a2 = _mm256_add_pd(a2, _mm256_mul_pd(_mm256_set1_pd(w2[k]), _mm256_loadu_pd(s2 + 3 * k)));
      a3 = _mm256_add_pd(a3, _mm256_mul_pd(_mm256_set1_pd(w3[k]), _mm256_loadu_pd(s3 + 3 * k)));
    }
    StoreRgb(st, i, a0, dst);
    StoreRgb(st, i + 1, a1, dst);
    StoreRgb(st, i + 2, a2, dst);
    StoreRgb(st, i + 3, a3, dst);
  }
  for (; i < to; ++i) {
    const double* wt = d.weights.data() + static_cast<size_t>(i) * taps;
    const double* s = sd + static_cast<size_t>(d.start[i] - srcFrom) * 3;
    __m256d acc = _mm256_setzero_pd();
    for (int32_t k = 0; k < taps; ++k)
      acc = _mm256_add_pd(acc, _mm256_mul_pd(_mm256_set1_pd(wt[k]), _mm256_loadu_pd(s + 3 * k)));
    StoreRgb(st, i, acc, dst);
  }
}

__attribute__((target("avx2"))) void VerticalRunAvx2(const ResamplerState* st,
                                                     const ResamplerDenseTaps::Window& win,
                                                     size_t lineBytes, size_t x, size_t n,
                                                     double* acc, unsigned char* o) {
  const size_t n4 = n & ~size_t{3};
  std::fill(acc, acc + n, 0.0);
  for (int32_t e = 0; e < win.count; ++e) {
    const unsigned char* r = st->ring + static_cast<size_t>(win.slot[e]) * lineBytes + x;
    const double wt = win.weight[e];
    const __m256d w = _mm256_set1_pd(wt);
    size_t t = 0;
    for (; t < n4; t += 4) {
      int32_t four;
      std::memcpy(&four, r + t, 4);
      const __m256d v = _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(four)));
      _mm256_storeu_pd(acc + t, _mm256_add_pd(_mm256_loadu_pd(acc + t), _mm256_mul_pd(w, v)));
    }
    for (; t < n; ++t) acc[t] += wt * r[t];
  }
  const __m256d sum = _mm256_set1_pd(win.weightSum);
  const __m256d tol = _mm256_set1_pd(kWholeTolerance);
  const __m256d lo = _mm256_setzero_pd(), hi = _mm256_set1_pd(255.0);
  size_t t = 0;
  for (; t < n4; t += 4) {
    // Same as ToByte: values above 255 give 255, below 0 give 0 (v + tolerance stays below
    // 1 for any v < 0), the rest v + tolerance toward zero.
    __m256d v = _mm256_add_pd(_mm256_div_pd(_mm256_loadu_pd(acc + t), sum), tol);
    v = _mm256_min_pd(_mm256_max_pd(v, lo), hi);
    const __m128i i32 = _mm256_cvttpd_epi32(v);
    const __m128i b = _mm_packus_epi16(_mm_packus_epi32(i32, i32), _mm_setzero_si128());
    const int32_t four = _mm_cvtsi128_si32(b);
    std::memcpy(o + t, &four, 4);
  }
  const double s = win.weightSum;
  for (; t < n; ++t) o[t] = ToByte(acc[t] / s);
}

std::atomic<bool> g_vectorCode{true};

bool HaveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have && g_vectorCode.load(std::memory_order_relaxed);
}
#else
std::atomic<bool> g_vectorCode{true};
bool HaveAvx2() { return false; }
#endif

// Works one part (a range of output columns): the horizontal pass of every waiting source
// line into its ring slot, then the vertical pass of each window into out.
void RunPart(ResamplerState* st, ResamplerDenseTaps::Part& part, int32_t windows, unsigned char* out) {
  ResamplerDenseTaps& d = *st->dense;
  const int32_t ch = st->channels;
  const int32_t lineBytes = static_cast<int32_t>(st->outputWidth) * ch;
  const int32_t taps = d.taps;
  const size_t srcBytes = static_cast<size_t>(st->sourceWidth) * ch;
  for (int32_t pl = 0; pl < d.waiting; ++pl) {
    const unsigned char* srcLine = d.waitingLines.data() + static_cast<size_t>(pl) * srcBytes;
    const int32_t slot = d.waitingSlot[pl];
    // Source samples as doubles once; columns past the width read as 0 with weight 0.
    const int32_t from = part.srcFrom, to = part.srcTo;
    const int32_t w = st->sourceWidth;
    double* sd = part.src.data();
    if (ch == 3) {
      for (int32_t p = from; p < to; ++p) {
        double* o = sd + static_cast<size_t>(p - from) * 3;
        if (p < w) {
          const unsigned char* s = srcLine + static_cast<size_t>(p) * 3;
          o[0] = s[0];
          o[1] = s[1];
          o[2] = s[2];
        } else {
          o[0] = o[1] = o[2] = 0.0;
        }
      }
    } else {
      for (int32_t p = from; p < to; ++p)
        sd[p - from] = p < w ? srcLine[static_cast<size_t>(p) * ch] : 0.0;
    }
    unsigned char* dst = st->ring + static_cast<size_t>(slot) * lineBytes;
    if (ch == 3) {
#if defined(__x86_64__)
      if (HaveAvx2())
        HorizontalRgbAvx2(st, sd, from, part.colFrom, part.colTo, dst);
      else
#endif
        HorizontalRgb(st, sd, from, part.colFrom, part.colTo, dst);
    } else {
      auto put = [&](uint32_t i, double a) {
        const double sum = st->contributors[i].weightSum;
        dst[static_cast<size_t>(i) * ch] = sum == 0.0 ? 0 : ToByte(a / sum);
      };
      uint32_t i = part.colFrom;
      // Four columns at a time: independent sums, each still added in its own order.
      for (; i + 4 <= part.colTo; i += 4) {
        const double* w0 = d.weights.data() + static_cast<size_t>(i) * taps;
        const double* s0 = sd + (d.start[i] - from);
        const double* s1 = sd + (d.start[i + 1] - from);
        const double* s2 = sd + (d.start[i + 2] - from);
        const double* s3 = sd + (d.start[i + 3] - from);
        double a0 = 0.0, a1 = 0.0, a2 = 0.0, a3 = 0.0;
        for (int32_t k = 0; k < taps; ++k) {
          a0 += w0[k] * s0[k];
          a1 += w0[taps + k] * s1[k];
          a2 += w0[2 * taps + k] * s2[k];
          a3 += w0[3 * taps + k] * s3[k];
        }
        put(i, a0);
        put(i + 1, a1);
        put(i + 2, a2);
        put(i + 3, a3);
      }
      for (; i < part.colTo; ++i) {
        const double* wt = d.weights.data() + static_cast<size_t>(i) * taps;
        const double* s = sd + (d.start[i] - from);
        double a0 = 0.0;
        for (int32_t k = 0; k < taps; ++k) a0 += wt[k] * s[k];
        put(i, a0);
      }
    }
  }
  // Vertical: whole sample runs, so the inner loops go straight along memory.
  const size_t x0 = static_cast<size_t>(part.colFrom) * ch;
  const size_t x1 = static_cast<size_t>(part.colTo) * ch;
  constexpr size_t kChunk = 1024;
  double* acc = part.acc.data();
  for (int32_t v = 0; v < windows; ++v) {
    const ResamplerDenseTaps::Window& win = d.windows[v];
    unsigned char* o = out + static_cast<size_t>(v) * lineBytes;
    for (size_t x = x0; x < x1; x += kChunk) {
      const size_t n = std::min(kChunk, x1 - x);
      if (win.weightSum == 0.0) {
        std::memset(o + x, 0, n);
        continue;
      }
#if defined(__x86_64__)
      if (HaveAvx2()) {
        VerticalRunAvx2(st, win, lineBytes, x, n, acc, o + x);
        continue;
      }
#endif
      VerticalRun(st, win, lineBytes, x, n, acc, o + x);
    }
    if (ch != 3 && ch != 1) {
      // Only the first byte of each pixel is a result; keep the others at 0.
      for (uint32_t i = part.colFrom; i < part.colTo; ++i)
        std::memset(o + static_cast<size_t>(i) * ch + 1, 0, ch - 1);
    }
  }
}

// Makes output lines from linesProduced up to (not including) target, at most the output
// buffer's capacity, each only when every source line of its window has arrived. The
// waiting source lines are resampled horizontally in the same sweep; when no line is due
// and the waiting room is not full, nothing runs yet (fewer, larger jobs for the threads).
int32_t MakeLines(ResamplerState* st, int64_t target, bool force) {
  ResamplerDenseTaps& d = *st->dense;
  int32_t made = 0;
  while (st->linesProduced + made < target && made < st->outputCapacity) {
    const int32_t y = st->linesProduced + made;
    BuildWindow(st, y, d.windowLine, d.windowWeight);
    if (!d.windowLine.empty() && d.windowLine.back() >= st->linesReceived) break;
    ResamplerDenseTaps::Window& win = d.windows[made];
    win.count = 0;
    win.weightSum = 0.0;
    win.slot.clear();
    win.weight.clear();
    for (size_t e = 0; e < d.windowLine.size(); ++e) {
      const int32_t j = d.windowLine[e];
      const int32_t s = j % st->ringSlots;
      // The ring is sized so this always holds; never read a line that has gone.
      if (st->ringLineOf[s] != j) continue;
      win.slot.push_back(s);
      win.weight.push_back(d.windowWeight[e]);
      win.weightSum += d.windowWeight[e];
      ++win.count;
    }
    ++made;
  }
  if (made == 0 && !force && d.waiting < d.waitingCapacity) return 0;
  const unsigned parts = static_cast<unsigned>(d.parts.size());
  auto job = [&](unsigned p) { RunPart(st, d.parts[p], made, st->outputBuffer); };
  if (st->pool && parts > 1) {
    st->pool->Run(parts, job);
  } else {
    for (unsigned p = 0; p < parts; ++p) job(p);
  }
  d.waiting = 0;
  return made;
}

}  // namespace

void ResamplerInit(ResamplerState* st) {
  if (!st) return;
  *st = ResamplerState{};
}

void ResamplerSetScale(ResamplerState* st, double sx, double sy) {
  if (!st) return;
  st->sx = sx;
  st->sy = sy;
}

void ResamplerSetSizes(ResamplerState* st, int32_t sourceHeight, int32_t channels,
                       int32_t sourceWidth) {
  if (!st) return;
  st->sourceHeight = sourceHeight;
  st->channels = channels;
  st->sourceWidth = sourceWidth;
}

namespace orb {
void ResamplerUseVectorCode(bool on) { g_vectorCode.store(on); }

void ResamplerSetThreads(ResamplerState* st, int32_t threads) {
  if (st) st->threads = threads < 0 ? 0 : threads;
}
}  // namespace orb

bool ResamplerPrepare(ResamplerState* st) {
  if (!st) return false;
  ResamplerFree(st);
  const double sx = st->sx, sy = st->sy;
  if (!(sx > 0.0) || !(sy > 0.0) || !std::isfinite(sx) || !std::isfinite(sy)) return false;
  if (st->sourceWidth <= 0 || st->channels <= 0 || st->sourceHeight < 0) return false;
  const double outW = std::trunc(static_cast<double>(st->sourceWidth) * sx);
  if (outW < 1.0 || outW * st->channels > kMaxLineBytes) return false;
  const double ringD = sy < 1.0 ? std::floor(1.0 + 2.0 * 3.0 / sy) : 7.0;
  // Output lines come out a fixed number of lines late (AvailableAfter), so a window's
  // first line can lie up to about 1/sy lines before the last R lines; the ring keeps that
  // many more, so no line is overwritten while a window still needs it.
  const double slotsD = ringD + 2.0 + (sy < 1.0 ? std::ceil(1.0 / sy) : 0.0);
  const double capD = std::trunc(sy + 1.0) * 2.0 + 2.0;
  const double lineBytes = outW * st->channels;
  if (slotsD * lineBytes > 4e9 || capD * lineBytes > 4e9) return false;

  st->linesReceived = 0;
  st->linesProduced = 0;
  st->linesDelivered = 0;
  st->ringSlot = 0;
  st->flushed = false;
  if (st->sourceHeight != 0) st->sourceHeightLimit = st->sourceHeight;
  st->outputWidth = static_cast<uint32_t>(outW);
  st->ringLines = static_cast<int32_t>(ringD);
  st->ringSlots = static_cast<int32_t>(slotsD);
  st->outputCapacity = static_cast<int32_t>(capD);

  try {
    st->kernel = new CResampleLanczos3Filter();
    const double s = st->kernel->GetSupport();
    const uint32_t ow = st->outputWidth;
    st->contributors = new ResamplerContributor[ow];
    auto* d = new ResamplerDenseTaps();
    st->dense = d;
    d->start.assign(ow, 0);
    int32_t taps = 1;
    for (uint32_t i = 0; i < ow; ++i) {
      const double c = (i + 0.5) / sx;
      double lo, hi, scale;
      if (sx < 1.0) {
        const double w = s / sx;
        lo = std::trunc(c - w);
        hi = std::trunc(c + w);
        scale = sx;
      } else {
        lo = std::floor(c - s);
        hi = std::ceil(c + s);
        scale = 1.0;
      }
      lo = std::max(lo, 0.0);
      hi = std::min(hi, static_cast<double>(st->sourceWidth) - 1.0);
      ResamplerContributor& con = st->contributors[i];
      const int32_t room = hi >= lo ? static_cast<int32_t>(hi - lo) + 1 : 0;
      con.list = new ResamplerContribution[room > 0 ? room : 1];
      for (double jd = lo; jd <= hi; jd += 1.0) {
        const double wt = st->kernel->GetWeight((c - jd - 0.5) * scale);
        if (wt == 0.0) continue;
        con.list[con.count++] = {static_cast<int32_t>(jd), wt};
        con.weightSum += wt;
      }
      if (con.count > 0) {
        d->start[i] = con.list[0].pixel;
        taps = std::max(taps, con.list[con.count - 1].pixel - con.list[0].pixel + 1);
      }
    }
    d->taps = taps;
    d->weights.assign(static_cast<size_t>(ow) * taps, 0.0);
    for (uint32_t i = 0; i < ow; ++i) {
      const ResamplerContributor& con = st->contributors[i];
      for (int32_t e = 0; e < con.count; ++e)
        d->weights[static_cast<size_t>(i) * taps + (con.list[e].pixel - d->start[i])] =
            con.list[e].weight;
    }

    const size_t lb = static_cast<size_t>(lineBytes);
    st->ring = new unsigned char[lb * (st->ringSlots + 1)]();
    st->ringLineOf = new int32_t[st->ringSlots];
    std::fill(st->ringLineOf, st->ringLineOf + st->ringSlots, -1);
    st->outputBuffer = new unsigned char[lb * st->outputCapacity]();
    d->windows.resize(st->outputCapacity);
    // Room for the source lines that arrive between two output lines, so that usually
    // one job per output line does all the work.
    d->waitingCapacity = static_cast<int32_t>(std::min(64.0, std::ceil(1.0 / sy) + 1.0));
    d->waitingLines.assign(static_cast<size_t>(st->sourceWidth) * st->channels * d->waitingCapacity, 0);
    d->waitingSlot.assign(d->waitingCapacity, 0);

    unsigned parts = 1;
    if (st->threads != 1 && static_cast<int64_t>(lb) >= kParallelMinBytes) {
      parts = st->threads > 1 ? static_cast<unsigned>(st->threads) : orb::WorkerPool::DefaultThreads();
      parts = std::min<unsigned>(parts, ow);
    } else if (st->threads > 1) {
      parts = std::min<unsigned>(static_cast<unsigned>(st->threads), ow);
    }
    d->parts.resize(parts);
    for (unsigned p = 0; p < parts; ++p) {
      auto& part = d->parts[p];
      part.colFrom = static_cast<uint32_t>(static_cast<uint64_t>(ow) * p / parts);
      part.colTo = static_cast<uint32_t>(static_cast<uint64_t>(ow) * (p + 1) / parts);
      int32_t from = std::numeric_limits<int32_t>::max(), to = 0;
      for (uint32_t i = part.colFrom; i < part.colTo; ++i) {
        from = std::min(from, d->start[i]);
        to = std::max(to, d->start[i] + taps);
      }
      if (part.colFrom == part.colTo) from = to = 0;
      part.srcFrom = from;
      part.srcTo = to;
      part.src.assign(static_cast<size_t>(to - from) * (st->channels == 3 ? 3 : 1) + 1, 0.0);
      part.acc.assign(1024, 0.0);
    }
    if (parts > 1) st->pool = new orb::WorkerPool(parts);
  } catch (const std::bad_alloc&) {
    ResamplerFree(st);
    return false;
  } catch (const std::system_error&) {
    ResamplerFree(st);
    return false;
  }
  return true;
}

void ResamplerProcessRows(ResamplerState* st, const unsigned char* sourceLine,
                          unsigned char** outBuffer, int32_t* outLineBytes, int32_t* outCount) {
  if (outCount) *outCount = 0;
  if (!st || !st->ring || !st->dense) return;
  const int32_t lineBytes = static_cast<int32_t>(st->outputWidth) * st->channels;
  if (outBuffer) *outBuffer = st->outputBuffer;
  if (outLineBytes) *outLineBytes = lineBytes;
  if (!sourceLine || st->flushed || st->linesReceived == 2147483647) return;

  const int32_t line = st->linesReceived++;
  const int32_t slot = line % st->ringSlots;
  st->ringLineOf[slot] = line;
  st->ringSlot = (slot + 1) % st->ringSlots;
  ResamplerDenseTaps& d = *st->dense;
  const size_t srcBytes = static_cast<size_t>(st->sourceWidth) * st->channels;
  std::memcpy(d.waitingLines.data() + static_cast<size_t>(d.waiting) * srcBytes, sourceLine, srcBytes);
  d.waitingSlot[d.waiting++] = slot;
  const int64_t n = AvailableAfter(st, st->linesReceived);
  const int32_t made = MakeLines(st, n, false);
  st->linesProduced += made;
  st->linesDelivered += made;
  if (outCount) *outCount = made;
}

void ResamplerFlush(ResamplerState* st, unsigned char** outBuffer, int32_t* outLineBytes,
                    int32_t* outCount) {
  if (outCount) *outCount = 0;
  if (!st || !st->ring || !st->dense) return;
  if (outBuffer) *outBuffer = st->outputBuffer;
  if (outLineBytes) *outLineBytes = static_cast<int32_t>(st->outputWidth) * st->channels;
  st->flushed = true;
  if (st->sourceHeightLimit > st->linesReceived) st->sourceHeightLimit = st->linesReceived;
  const int64_t target =
      static_cast<int64_t>(std::trunc(static_cast<double>(st->linesReceived) * st->sy));
  const int32_t made = MakeLines(st, target, true);
  st->linesProduced += made;
  st->linesDelivered += made;
  if (outCount) *outCount = made;
}

void ResamplerFree(ResamplerState* st) {
  if (!st) return;
  delete st->pool;
  st->pool = nullptr;
  delete st->kernel;
  st->kernel = nullptr;
  FreeContributors(st);
  delete[] st->ring;
  st->ring = nullptr;
  delete[] st->ringLineOf;
  st->ringLineOf = nullptr;
  delete[] st->outputBuffer;
  st->outputBuffer = nullptr;
  delete st->dense;
  st->dense = nullptr;
}

void ResamplerRelease(ResamplerState* st) { ResamplerFree(st); }

void ResamplerCloseInput(ResamplerState* st) {
  if (st) st->sourceHeightLimit = st->linesReceived;
}

int32_t ResamplerGetHalfWindow(const ResamplerState* st) {
  if (!st) return 0;
  return st->sy < 1.0 ? st->ringLines / 2 : 0;
}

void ResamplerGetScale(const ResamplerState* st, double* sx, double* sy) {
  if (!st) return;
  if (sx) *sx = st->sx;
  if (sy) *sy = st->sy;
}
