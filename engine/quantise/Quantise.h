// Median-cut colour quantiser over a 5-6-5 bit RGB histogram.
//
// One object serves one image: construct, AddPixels for every line, MakePalette once, then
// map each pixel through the inverse map:
//   index = inverseMap[(r >> 3) << 11 | (g >> 2) << 5 | (b >> 3)]
#pragma once

#include <cstdint>

class CQuantise {
public:
  struct Box {
    int32_t redMin, redMax;      // 0..31
    int32_t greenMin, greenMax;  // 0..63
    int32_t blueMin, blueMax;    // 0..31
    int32_t size;                // squared weighted extent
    int32_t occupied;            // cells above the noise threshold
  };
  static_assert(sizeof(Box) == 32);

  static constexpr int kCells = 65536;
  static constexpr int kMaxColours = 256;
  static constexpr uint32_t kSaturated = 0x7FFFFFFF;

  // Histogram cell of an 8-bit R, G, B pixel.
  static constexpr int CellOf(unsigned r, unsigned g, unsigned b) {
    return static_cast<int>((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
  }

  CQuantise();
  virtual ~CQuantise();
  CQuantise(const CQuantise&) = delete;
  CQuantise& operator=(const CQuantise&) = delete;

  // Packed R, G, B triples, rows x pixelsPerRow of them. A counter stops at 0x7FFFFFFF.
  void AddPixels(const unsigned char* pixels, int rows, int pixelsPerRow);

  // Median cut to at most `colours` (clamped to 1..256) and the inverse map of 65536
  // entries; the palette goes out as 256 R, G, B triples (entries past the count are left
  // as they were, black at first); usage counts (may be null) are added to, not cleared.
  // Returns 1, or 0 when there is no histogram (allocation failed), the pixel depth is not
  // 24 bits, the inverse map is null or working memory cannot be allocated.
  int MakePalette(int colours, int* colourCount, unsigned char* inverseMap,
                  unsigned char* paletteOut, int* usageCounts);

  // 16-bit pixels as big-endian 5-6-5 words, and 8-bit / 4-bit palette indices counted into
  // their own 256 counters (low nibble first). Only for the matching pixel depth.
  void AddPixels16(const unsigned char* words, int rows, int pixelsPerRow);
  void AddIndices8(const unsigned char* indices, int count);
  void AddIndices4(const unsigned char* packed, int bytes);
  void CopyIndexCounts(uint32_t* out256) const;

  int BitsPerPixel() const { return bitsPerPixel_; }
  void SetBitsPerPixel(int bits) { bitsPerPixel_ = bits; }
  bool Flag() const { return flag_ != 0; }
  void SetFlag(bool on) { flag_ = on ? 1 : 0; }
  bool HasHistogram() const { return histogram_ != nullptr; }
  uint32_t Counter(int cell) const { return histogram_ ? histogram_[cell] : 0; }
  unsigned NoiseThreshold() const { return threshold_; }

protected:
  // Where the histogram comes from; a test can make it fail.
  virtual uint32_t* AllocateHistogram();
  virtual Box* AllocateBoxes();

private:
  bool Occupied(int r, int g, int b) const;
  uint32_t At(int r, int g, int b) const { return rows_[r][g * 32 + b]; }
  void MedianCut(int colours, Box* boxes);
  void UpdateBox(Box& box) const;
  int SplitBoxes(Box* boxes, int colours) const;
  static int FindBiggestPopulation(const Box* boxes, int count);
  static int FindBiggestSize(const Box* boxes, int count);
  void ComputeColour(const Box& box, int index);
  void FillInverseMap();
  void FillInverseCell(int rc, int gc, int bc);
  int FindNearbyColours(int minR, int minG, int minB, unsigned char* candidates) const;

  uint32_t** rows_ = nullptr;          // 32 row pointers, only during MakePalette
  unsigned char* inverseMap_ = nullptr;
  int colourCount_ = 0;
  unsigned threshold_ = 0;
  int unused_ = 1;
  int* usage_ = nullptr;
  unsigned char red_[256] = {};
  unsigned char green_[256] = {};
  unsigned char blue_[256] = {};
  uint32_t* histogram_ = nullptr;
  int bitsPerPixel_ = 24;
  unsigned char flag_ = 0;
  uint32_t indexCounts_[256] = {};
  bool histogramTried_ = false;

  void EnsureHistogram();
};
