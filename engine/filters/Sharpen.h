// Sharpen/blur: a 3 x 3 Laplacian with a signed strength k = Level / 10 (above 0 sharpens,
// below 0 blurs), streaming with a ring of three lines.
//
//   CSharpenLineFilter f(W, &settings, kind);
//   if (!f.ok()) -> allocation failed
//   for each band: counter = f.Process(band, length);
//   at the end:    n = f.Flush(out, outLength);   // optional: the last line
//   f.Free();
//
// Kinds 0 (RGB, each channel), 3 and 5 (grey); other kinds pass through. Output is one line
// late (band line j receives filtered line j - 1, the first line filtered against copies of
// itself); the counter starts at -2 and reaches 0 with the first filtered line. Flush
// repeats the last line below the image, as the first is repeated above it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/ToolSettings.h"

class CSharpenLineFilter {
 public:
  CSharpenLineFilter(size_t width, const orb::SharpenRecord* settings, int32_t kind);
  ~CSharpenLineFilter() = default;
  CSharpenLineFilter(const CSharpenLineFilter&) = delete;
  CSharpenLineFilter& operator=(const CSharpenLineFilter&) = delete;

  bool ok() const { return ok_; }
  int32_t Process(uint8_t* band, size_t length);
  int Delay() const;
  int64_t Flush(uint8_t* out, size_t outLength);
  void Free();
  double strength() const { return k_; }

 private:
  void ProcessLine(uint8_t* line);
  void SharpenLanes(const uint8_t* a, const uint8_t* b, const uint8_t* c, size_t stride, size_t i,
                    uint8_t* out) const;
  uint8_t* Ring(int i) { return ring_.data() + ((head_ + static_cast<size_t>(i)) % 3) * width_; }

  const orb::SharpenRecord* settings_;
  int32_t kind_;
  std::vector<uint8_t> ring_;
  size_t head_ = 0;
  int32_t counter_ = -2;
  size_t width_;
  double k_ = 0.0;
  int16_t level_ = 0;
  bool exactDivide_ = false;  // the integer form gives the same results as the table
  bool firstLine_ = true;
  bool ok_ = false;
  int64_t fed_ = 0;
  // d = trunc((s - 8c) * k) for every possible s - 8c (-2040 .. 2040).
  std::array<int16_t, 4081> delta_{};
};
