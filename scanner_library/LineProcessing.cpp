// Line processing: bilinear enlargement, 1-bit replication and camera-seam stitching.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "scanner_library/ScsiCommands.h"
#include "scanner_library/TrennicInternal.h"
#include "scanner_library/trennic.h"

// ---- CInterpolateData ----------------------------------------------------------------

namespace {
int LineBytes(int pixels, int bits) {
  if (bits == 1) return (pixels + 7) / 8;
  if (bits == 24) return 3 * pixels;
  return pixels;
}
}  // namespace

CInterpolateData::CInterpolateData(int width, double xFactor, double yFactor, int bitsPerPixel)
    : yFactor_(yFactor > 0 ? yFactor : 1.0),
      xFactor_(xFactor > 0 ? xFactor : 1.0),
      bitsPerPixel_(bitsPerPixel),
      width_(std::max(width, 1)) {
  inputLineLen_ = LineBytes(width_, bitsPerPixel_);
  outputPixels_ = static_cast<int>(width_ * xFactor_ + 0.5);
  outputLineLen_ = LineBytes(outputPixels_, bitsPerPixel_);
  for (auto& b : buffers_) {
    b.reset(new unsigned char[static_cast<size_t>(inputLineLen_) + 8]);
    std::memset(b.get(), 0, static_cast<size_t>(inputLineLen_) + 8);
  }
}

CInterpolateData::~CInterpolateData() = default;

unsigned char* CInterpolateData::getCurrentDataBuffer() {
  unsigned char* b = buffers_[index_].get();
  index_ ^= 1;
  return b;
}

// 0 the older line, 1 the newer (the one filled last).
unsigned char* CInterpolateData::getSortedBuffer(int which) {
  return which == 0 ? buffers_[index_].get() : buffers_[index_ ^ 1].get();
}

int CInterpolateData::clamp(int value, int low, int high) {
  if (value < low) return low;
  if (value >= high) return high - 1;
  return value;
}

double CInterpolateData::twoPointInterpolation(double a, double b, double t) {
  return (1 - t) * a + t * b;
}

double CInterpolateData::fourPointInterpolation(double p00, double p10, double p01, double p11,
                                                double dx, double dy) {
  return (1 - dy) * ((1 - dx) * p00 + dx * p10) + dy * ((1 - dx) * p01 + dx * p11);
}

double CInterpolateData::Sample(const unsigned char* line, int x, int channel) const {
  if (bitsPerPixel_ == 1) return (line[x / 8] & (0x80 >> (x % 8))) ? 1.0 : 0.0;
  if (bitsPerPixel_ == 24) return line[3 * x + channel];
  return line[x];
}

void CInterpolateData::ProduceLine(unsigned char* out, int i) {
  const unsigned char* rows[2] = {getSortedBuffer(0), getSortedBuffer(1)};
  const double fy = i / yFactor_;
  const double fly = std::floor(fy);
  const int y0 = clamp(static_cast<int>(fly), 0, 2);
  const int y1 = clamp(static_cast<int>(fly) + 1, 0, 2);
  const double dy = fy - fly;
  const int channels = bitsPerPixel_ == 24 ? 3 : 1;
  if (bitsPerPixel_ == 1) std::memset(out, 0, static_cast<size_t>(outputLineLen_));
  for (int j = 0; j < outputPixels_; ++j) {
    const double fx = j / xFactor_;
    const double flx = std::floor(fx);
    const int x0 = clamp(static_cast<int>(flx), 0, width_);
    const int x1 = clamp(static_cast<int>(flx) + 1, 0, width_);
    const double dx = fx - flx;
    for (int c = 0; c < channels; ++c) {
      const double v = fourPointInterpolation(Sample(rows[y0], x0, c), Sample(rows[y0], x1, c),
                                              Sample(rows[y1], x0, c), Sample(rows[y1], x1, c),
                                              dx, dy);
      if (bitsPerPixel_ == 1) {
        if (v > 0.5) out[j / 8] |= static_cast<unsigned char>(0x80 >> (j % 8));
      } else if (bitsPerPixel_ == 24) {
        out[3 * j + c] = static_cast<unsigned char>(std::clamp(v, 0.0, 255.0));
      } else {
        out[j] = static_cast<unsigned char>(std::clamp(v, 0.0, 255.0));
      }
    }
  }
}

int CInterpolateData::interpolateYby2(unsigned char* out, int* pending, int maxLines) {
  const int n = 2;
  const int first = *pending;
  int count = n - first;
  if (maxLines < count) {
    count = std::max(maxLines, 0);
    *pending += count;
  } else {
    *pending = 0;
  }
  const unsigned char* older = getSortedBuffer(0);
  const unsigned char* newer = getSortedBuffer(1);
  for (int k = 0; k < count; ++k) {
    unsigned char* o = out + static_cast<size_t>(k) * outputLineLen_;
    const int i = first + k;
    if (i % 2 == 0) {
      std::memcpy(o, older, static_cast<size_t>(outputLineLen_));
    } else if (bitsPerPixel_ == 1) {
      for (int b = 0; b < outputLineLen_; ++b) o[b] = older[b] & newer[b];
    } else {
      for (int b = 0; b < outputLineLen_; ++b)
        o[b] = static_cast<unsigned char>((older[b] >> 1) + (newer[b] >> 1));
    }
  }
  return count * outputLineLen_;
}

int CInterpolateData::interpolateData(unsigned char* out, int* pending, int maxLines) {
  if (yFactor_ == 2.0 && xFactor_ == 1.0) return interpolateYby2(out, pending, maxLines);
  const int n = static_cast<int>(yFactor_ + carry_ + 0.0001);
  const int first = *pending;
  int count = n - first;
  if (maxLines < count) {
    count = std::max(maxLines, 0);
    *pending += count;
  } else {
    carry_ = yFactor_ + carry_ - n;
    *pending = 0;
  }
  for (int k = 0; k < count; ++k) ProduceLine(out + static_cast<size_t>(k) * outputLineLen_, first + k);
  return count * outputLineLen_;
}

// ---- CReplicateData ------------------------------------------------------------------

CReplicateData::CReplicateData(int width) : width_(std::max(width, 1)) {
  for (int i = 0; i < 256; ++i) {
    uint16_t v = 0;
    for (int bit = 7; bit >= 0; --bit) {
      v = static_cast<uint16_t>(v << 2);
      if (i & (1 << bit)) v |= 3;
    }
    table_[i] = v;  // high byte: the doubled high nibble
  }
  buffer_.reset(new unsigned char[static_cast<size_t>(getInputLineLen()) + 8]);
  std::memset(buffer_.get(), 0, static_cast<size_t>(getInputLineLen()) + 8);
  (void)xFactor_;
  (void)yFactor_;
  (void)bitsPerPixel_;
}

CReplicateData::~CReplicateData() = default;

int CReplicateData::replicateData(unsigned char* out) {
  const int outLen = getOutputLineLen();
  for (int i = 0; i < getInputLineLen(); ++i) {
    const uint16_t v = table_[buffer_[static_cast<size_t>(i)]];
    if (2 * i < outLen) out[2 * i] = static_cast<unsigned char>(v >> 8);
    if (2 * i + 1 < outLen) out[2 * i + 1] = static_cast<unsigned char>(v & 0xFF);
  }
  return outLen;
}

// ---- CHStitch ------------------------------------------------------------------------

namespace orb::trennic {

namespace {

// How far the profile must climb from the local minimum at i before it falls again: the lower
// of the maxima on either side (a side that is not there does not count). A dip beside a
// small bump is shallow however high the profile rises elsewhere.
int64_t DipDepth(const int64_t* p, int count, int i) {
  int64_t left = -1, right = -1;
  for (int j = i - 1; j >= 0 && p[j] >= p[j + 1]; --j) left = p[j];
  for (int j = i + 1; j < count && p[j] >= p[j - 1]; ++j) right = p[j];
  int64_t peak;
  if (left < 0 && right < 0) return 0;
  if (left < 0) peak = right;
  else if (right < 0) peak = left;
  else peak = std::min(left, right);
  return peak - p[i];
}

}  // namespace

bool DistinctMinimum(const int64_t* profile, int count, int64_t bestValue) {
  std::vector<int> minima;
  for (int i = 0; i < count; ++i) {
    const bool leftOk = i == 0 || profile[i] < profile[i - 1];
    const bool rightOk = i == count - 1 || profile[i] <= profile[i + 1];
    if (leftOk && rightOk) minima.push_back(i);
  }
  int64_t bestDepth = -1;
  size_t bestIndex = 0;
  for (size_t m = 0; m < minima.size(); ++m)
    if (profile[minima[m]] == bestValue) {
      bestDepth = DipDepth(profile, count, minima[m]);
      bestIndex = m;
      break;
    }
  if (bestDepth <= 0) return false;
  for (size_t m = 0; m < minima.size(); ++m)
    if (m != bestIndex && 2 * DipDepth(profile, count, minima[m]) > bestDepth) return false;
  return true;
}

}  // namespace orb::trennic

CHStitch::CHStitch() = default;

CHStitch::CHStitch(int bitsPerPixel, int leftExtra, int rightExtra, int* seamPositions,
                   int seamCount, int overlap, int width, int searchRange)
    : overlap_(std::max(overlap, 0)),
      range_(std::max(searchRange, 0)),
      bytesPerPixel_(std::max(bitsPerPixel / 8, 1)),
      seamCount_(std::clamp(seamCount, 0, 5)),
      leftExtra_(std::max(leftExtra, 0)) {
  rightExtraBytes_ = std::max(rightExtra, 0) * bytesPerPixel_;
  outputLen_ = width * bytesPerPixel_;
  inputLen_ = (width + leftExtra_ + std::max(rightExtra, 0) + 2 * overlap_ * seamCount_) *
              bytesPerPixel_;
  seamTable_[0] = 0;
  for (int k = 0; k < seamCount_; ++k)
    seamTable_[k + 1] = 2 * overlap_ * k + seamPositions[k] + overlap_;
  profile_.reset(new int64_t[static_cast<size_t>(2 * range_ + 1)]);
  joined_.reset(new unsigned char[static_cast<size_t>(outputLen_ + leftExtra_ * bytesPerPixel_) + 8]);
}

CHStitch::~CHStitch() = default;

void CHStitch::WriteData(unsigned char* in, unsigned char* out, int) {
  const int bpp = bytesPerPixel_;
  const int w = overlap_;
  const int r = range_;
  const int inPixels = inputLen_ / bpp;
  auto at = [&](int pixel) { return std::clamp(pixel, 0, inPixels - 1); };
  // The joined line is built with the left extra still in front (the first seam's
  // overlap may reach into it) and the window's own pixels are taken from behind it, so
  // the output is exactly `width` pixels of the window and nothing lands past it.
  const int joinedLen = outputLen_ + leftExtra_ * bpp;
  unsigned char* joined = joined_.get();
  int written = 0;  // bytes of the joined line
  auto copyPixels = [&](int from, int to) {  // input pixels [from, to)
    for (int p = from; p < to && written + bpp <= joinedLen; ++p) {
      std::memcpy(joined + written, in + static_cast<size_t>(at(p)) * bpp, static_cast<size_t>(bpp));
      written += bpp;
    }
  };
  int pos = 0;
  for (int k = 0; k < seamCount_; ++k) {
    const int seam = seamTable_[k + 1];
    const int n = 2 * (w - r);
    // 1. The sum of squared differences between the left camera's overlap and the right
    //    camera's, for each shift.
    const int count = 2 * r;
    int best = 0;
    int64_t bestValue = -1;
    for (int j = -r; j < r; ++j) {
      int64_t ssd = 0;
      const int left = seam - w - n / 2;
      const int right = seam + w - n / 2 + j;
      for (int p = 0; p < n; ++p) {
        const unsigned char* a = in + static_cast<size_t>(at(left + p)) * bpp;
        const unsigned char* b = in + static_cast<size_t>(at(right + p)) * bpp;
        for (int c = 0; c < bpp; ++c) {
          const int d = a[c] - b[c];
          ssd += d * d;
        }
      }
      profile_[static_cast<size_t>(j + r)] = ssd;
      if (bestValue < 0 || ssd < bestValue || (ssd == bestValue && j == 0)) {
        bestValue = ssd;
        best = j;
      }
    }
    // 2. Distinctness: the best shift counts only when it is a real dip and no other dip
    //    is half as deep.
    const bool accepted = count > 0 && orb::trennic::DistinctMinimum(profile_.get(), count, bestValue);
    // 3. The offset used for this line.
    double d;
    if (accepted) {
      d = (best + running_[k]) / 2;
    } else {
      d = running_[k];
      best = static_cast<int>(std::trunc(running_[k] + 0.5));
    }
    // 4. Input up to the seam's left overlap.
    copyPixels(pos, seam - 2 * w);
    // 5. The 3w pixels from seam - 2w become w pixels, stretched by the offset.
    double scale = (w + d) / w;
    if (scale <= 0.05) scale = 1.0;
    const int base = seam - 2 * w;
    for (int i = 0; i < w && written + bpp <= joinedLen; ++i) {
      const double src = i / scale;
      const int i0 = static_cast<int>(src);
      const double f = src - i0;
      const unsigned char* a = in + static_cast<size_t>(at(base + i0)) * bpp;
      const unsigned char* b = in + static_cast<size_t>(at(base + i0 + 1)) * bpp;
      for (int c = 0; c < bpp; ++c)
        joined[written + c] = static_cast<unsigned char>(a[c] * (1 - f) + b[c] * f);
      written += bpp;
    }
    // 6. Continue after the right camera's overlap.
    pos = seam + w;
    running_[k] = (best + running_[k]) / 2;
  }
  copyPixels(pos, (inputLen_ - rightExtraBytes_) / bpp);
  if (written < joinedLen) std::memset(joined + written, 0xFF, static_cast<size_t>(joinedLen - written));
  std::memcpy(out, joined + static_cast<size_t>(leftExtra_) * bpp, static_cast<size_t>(outputLen_));
}

// ---- SetAdvancedHorizontalStitch ------------------------------------------------------

void CTrennic::SetAdvancedHorizontalStitch(WindowBlock& block) {
  orb::trennic::WindowFields fields(block.b);
  fields.SetLibraryStitches(false);
  stitcher_.reset();
  stitchBuffer_.reset();
  constexpr int kPaletteComposition = 3;
  const int bits = fields.BitsPerPixel();
  if (fields.CameraStitch() == 0 || (bits != 24 && bits != 8) || fields.Composition() == kPaletteComposition ||
      info_.NumberOfCameras < 2)
    return;
  const int xr = fields.XResolution();
  const int S = info_.OpticalResolution;
  const int P = info_.MaxPixelsAtOptical;
  const int cameras = info_.NumberOfCameras;
  const int width = fields.Width();
  const int ulx = fields.UpperLeftX();
  if (xr <= 0 || S <= 0 || P <= 0 || width <= 0) return;
  const double l = static_cast<double>(width) / xr * S;
  int s = ulx == 0 ? static_cast<int>(P - l) / 2 : static_cast<int>(static_cast<int64_t>(S) * ulx / xr);
  const int c = P / cameras;
  if (c <= 0) return;
  int t = static_cast<int>((s + l) / c) - s / c;
  if (t == cameras) --t;
  if (t <= 0) return;
  t = std::min(t, 5);
  // Overlap of 40 optical pixels each side of a seam, searched over 12.
  const int w = xr * 40 / S;
  const int r = static_cast<int>(12.0 / S * xr);
  if (w <= 0 || w - r <= 0) return;  // no overlap to compare at this resolution
  const int f = s / c + 1;
  int A = 0, e = 0;
  int seams[5] = {};
  for (int k = 0; k < t; ++k) {
    const int D = (k + f) * c - s;
    if (k == 0 && D < 40) {
      A = (40 - D) * xr / S;
      e = 40 - D;
    }
    double inner = static_cast<double>((k + f) * c + e - s);
    if (Has(orb::trennic::kCapStitchAlignShift) && stitchAlign_) inner += xr * 4.0 / 3.0;
    seams[k] = static_cast<int>(inner * xr / S);
  }
  // Right extra when the window ends less than 40 optical pixels after a seam.
  int E = 0;
  for (int j = 0; j < cameras; ++j) {
    const int C = static_cast<int>(s + l - static_cast<double>(j) * c);
    if (C > 0 && C < 40) E = (40 - C) * xr / S;
  }
  s -= e;
  stitcher_.reset(new CHStitch(bits, A, E, seams, t, w, width, r));
  const int widened = 2 * w * t + width + A + E;
  fields.SetWidth(widened);
  fields.SetUpperLeftX(std::max(1, static_cast<int>(static_cast<int64_t>(s) * xr / S)));
  fields.SetLibraryStitches(true);
  stitchBuffer_.reset(new unsigned char[static_cast<size_t>(widened) * (bits / 8) + 8]);
}
