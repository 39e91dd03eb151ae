// Adaptive threshold engine: thresholds grey lines against the mean of a square window
// centred on each pixel, streaming. It keeps a ring of recent lines with running column
// sums and writes each output line R / 2 lines after its input (the first R / 2 output
// lines are white). A dark pixel starts a hysteresis run: following pixels within
// counter / 2 of the threshold stay dark while the counter shrinks.
//
//   CIAT e;
//   if (!e.Init(win, win / 2, W, R, percent)) -> allocation failed (the engine then
//                                                 leaves its output untouched: false)
//   e.ThresholdRows(src, dst, lines);   // src and dst may be the same buffer
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class CIAT {
 public:
  CIAT();  // window 28, ring 28 lines, percent 17
  virtual ~CIAT();
  CIAT(const CIAT&) = delete;
  CIAT& operator=(const CIAT&) = delete;

  // Stores the values, allocates the zeroed ring and column sums and builds the table.
  // Returns false when an allocation failed.
  bool Init(int window, int half, size_t width, int ringLines, int percent);
  bool Init(int window, int half, size_t width, int ringLines, int percent, uint8_t darkLimit,
            uint8_t upperLimit);
  // Stores the percent and refills the table; false when there is no table.
  bool MakeThresholdTable(int percent);
  // Thresholds `lines` lines of W bytes from src into dst (0 dark, 255 light). False when
  // a pointer is null or the engine has no buffers; true otherwise (also for 0 lines).
  bool ThresholdRows(const uint8_t* src, uint8_t* dst, size_t lines);

  void SwapOutputs();   // dark 255, light 0
  void ZeroBuffers();   // clears the ring and the column sums
  void SetWidth(size_t width);  // lowers W (never raises it past the allocation)

  int Delay() const { return ringLines_ / 2; }
  int percent() const { return percent_; }
  size_t width() const { return width_; }
  const uint8_t* table() const { return table_.empty() ? nullptr : table_.data(); }

 private:
  bool AllocateBuffers();
  bool BuildTable();
  void MakeOutputLine(const uint8_t* ringLine, uint8_t* out);

  uint8_t darkLimit_ = 0;
  uint8_t lightOut_ = 255;
  uint8_t darkOut_ = 0;
  uint8_t upperLimit_ = 255;
  size_t width_ = 0;
  int window_ = 28;
  int ringLines_ = 28;
  int percent_ = 17;
  int half_ = 14;
  int writeSlot_ = 0;
  int counter_ = 28;
  int64_t received_ = 0;
  int readSlot_ = 0;
  std::vector<uint8_t> table_;
  std::vector<uint8_t> ring_;
  // Column sums with zero padding past W: a line narrower than the window reads sums up
  // to index 2h - 1, which lie beyond the line.
  std::vector<int32_t> colSums_;
  size_t allocWidth_ = 0;
};
