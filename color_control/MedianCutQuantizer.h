// Median-cut palette builder of the colour-classification control.
//
// Counts pixels into a 32 x 64 x 32 histogram of their three bytes as they arrive (the
// builder does not care which byte is red), cuts the populated colour space into at most
// 256 boxes, and maps every one of the 65536 cells to the nearest box colour:
//   index = lut[(byte0 >> 3) * 2048 + (byte1 >> 2) * 32 + (byte2 >> 3)]
#pragma once

#include <cstdint>
#include <memory>

class CMedianCutQuantizer {
public:
  static constexpr int kCells = 65536;
  static constexpr int kMaxColors = 256;
  static constexpr uint32_t kSaturated = 0x7FFFFFFF;
  // One noise count per this many pixels: cells at or below it shape no box.
  static constexpr uint32_t kNoiseDivisor = 400000;

  struct Box {
    int32_t c0min, c0max, c1min, c1max, c2min, c2max;  // inclusive, in cell units
    int32_t volume;  // squared diagonal in 8-bit units
    int32_t colors;  // populated cells inside
  };

  static constexpr int CellOf(unsigned b0, unsigned b1, unsigned b2) {
    return static_cast<int>((b0 >> 3) * 2048 + (b1 >> 2) * 32 + (b2 >> 3));
  }

  // 16 or 24 bits per pixel get a histogram; any other depth leaves the builder without.
  explicit CMedianCutQuantizer(int bitsPerPixel);
  ~CMedianCutQuantizer();
  CMedianCutQuantizer(const CMedianCutQuantizer&) = delete;
  CMedianCutQuantizer& operator=(const CMedianCutQuantizer&) = delete;

  // Lines of packed 3-byte pixels; only a 24-bit builder counts them.
  void AddPixels(const uint8_t* pixels, int64_t pixelsPerLine, int64_t lines);

  // Palette of at most `requested` colours (0 acts as 1). The caller clears `counts`;
  // the run adds each cell's pixels to the count of the index it maps to. `palette` gets
  // 256 entries of three bytes in the order the pixels came in. False, with nothing
  // written, when the builder has no histogram or its depth is not 16/24 bits.
  bool Run(int requested, int* colorsMade, uint8_t* lut, uint8_t* palette, uint32_t* counts);

  // The inverse map alone, for a palette of `colors` entries given in pixel byte order
  // (a stored palette): every cell gets its nearest entry, lowest index on a tie, and the
  // cell's pixels (none without a histogram) are added to `counts`.
  void InverseMapFor(const uint8_t* palette, int colors, uint8_t* lut, uint32_t* counts);

  bool HasHistogram() const { return histogram_ != nullptr; }
  uint32_t Count(int cell) const { return histogram_ ? histogram_[cell] : 0; }
  uint32_t NoiseThreshold() const { return threshold_; }

private:
  uint32_t At(int c0, int c1, int c2) const { return planes_[c0][c1 * 32 + c2]; }
  bool Populated(int c0, int c1, int c2) const { return At(c0, c1, c2) > threshold_; }
  bool PlaneHasColor(int axis, int v, const Box& b) const;
  void ShrinkAxis(int axis, Box& b) const;
  void UpdateBox(Box& b) const;
  int MedianCut(Box* boxes, int wanted) const;
  void ComputeBoxColor(const Box& b, int index);
  void SelectColors(int wanted);
  void FillInverseMap();
  void FillInverseMapBlock(int c0, int c1, int c2);
  int FindNearbyColors(const int* mins, const int* maxs, uint8_t* candidates) const;
  void FindBestColors(const int* mins, const uint8_t* candidates, int n, uint8_t* best) const;

  int bits_;
  std::unique_ptr<uint32_t[]> histogram_;
  // Only during a run.
  const uint32_t* planes_[32] = {};
  uint8_t* lut_ = nullptr;
  uint32_t* counts_ = nullptr;
  uint32_t threshold_ = 0;
  int colorsMade_ = 0;
  uint8_t palette_[3][kMaxColors] = {};
};
