// Finding the paper's side edges in the first 300 lines of a width pre-scan, and the paper's
// end during the real scan. One detector lives from one width pre-scan to the next; the real
// scan's paper-end test uses its threshold.
#pragma once

#include <cstdint>
#include <vector>

class CAutoSize {
 public:
  static constexpr int32_t kCapacity = 300;

  CAutoSize(int32_t lineBytes, int32_t resolution);
  virtual ~CAutoSize();
  CAutoSize(const CAutoSize&) = delete;
  CAutoSize& operator=(const CAutoSize&) = delete;

  // Appends one grey line (line bytes long); lines beyond the capacity are ignored.
  void AddLine(const uint8_t* line);
  // Finds both edges (hundredths of an inch, -1 when not found) and the threshold.
  void DetectEdges();
  // Widens found edges by 0.2 inch on each side, within the line.
  void WidenEdges(int32_t* left, int32_t* right);
  // Once per block of the real scan: true once, in the first block without paper structure
  // after blocks with structure. `colourTable` holds blue, green, red, spare per entry for the
  // palette kinds 1 and 2.
  bool DetectPaperEnd(const uint8_t* block, int32_t byteCount, int32_t widthPx, uint16_t kind,
                      const uint8_t* colourTable);

  int32_t LinesAdded() const { return linesAdded_; }
  int32_t LeftEdge() const { return leftEdge_; }
  int32_t RightEdge() const { return rightEdge_; }
  int32_t Threshold() const { return threshold_; }
  void SetThreshold(int32_t t) { threshold_ = t; }
  bool PaperSeen() const { return paperSeen_ != 0; }

 private:
  std::vector<uint8_t> lines_;      // the line buffer
  int32_t linesAdded_ = 0;          // the write position, in lines
  std::vector<int64_t> columnMeans_;
  int32_t capacity_ = kCapacity;
  int32_t lineBytes_ = 0;
  int32_t resolution_ = 0;
  int32_t leftEdge_ = -1;
  int32_t rightEdge_ = -1;
  int32_t threshold_ = 5;
  uint8_t paperSeen_ = 0;
};

namespace orb {
// The detector of the last width pre-scan (null before the first); owned process-wide.
CAutoSize* CurrentAutoSize();
// Replaces the process-wide detector (the previous one is deleted).
void ReplaceAutoSize(CAutoSize* detector);
}  // namespace orb
