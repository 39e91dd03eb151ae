// The two threads of a running scan on a scanner of the SCSI family and the in-scan chain they
// feed. The read thread reads blocks of eight lines from the scanner and hands each over to the
// processing thread, which runs the filters on it, writes it to the working copy, draws it and
// writes it to the output. The read thread decides how the scan ends, completes or cuts the
// image, frees what the scan owns and tells the frame.
//
// The hand-over uses two transfer records and two events. The reader fills one record while the
// processor works on the other; before it hands a filled record over it waits until the
// processor has finished the previous one and clears the "done" event itself, so a block is
// never overwritten while it is processed and never lost. At the end the reader waits for the
// last block, closes the events and joins the processing thread before anything is freed.
//
// The scan's image record is drawn from on the host's thread while the scan runs, so neither
// thread changes it: the final height, the closed files' details and, for a cut image, the
// display bitmap and region go to the host, in order with the bands before them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/filters/FilterChain.h"
#include "engine/resample/WorkerPool.h"
#include "platform/Event.h"
#include "scanner_library/trennic.h"
#include "scanning/ScanHost.h"

struct ImageState;
class CAutoSize;

namespace orb {

// Where processed lines go: the output file or the working copy.
class ScanLineSink {
 public:
  virtual ~ScanLineSink() = default;
  virtual void Write(const uint8_t* lines, int count, int lineBytes) = 0;
  // The scan ended early and the image is cut or abandoned: let go of the writer's events.
  virtual void Release() = 0;
  // Completes the file with `lines` lines written. False when the file could not be finished.
  virtual bool Close(int32_t lines) = 0;
  // True when the sink is the library's output writer (written whatever the disk switch says).
  virtual bool ByLibrary() const = 0;
  // After Close: what the scan's image record takes over from the closed file (where its
  // lines start, its handle gone). The pipeline has it carried out where the record is drawn;
  // empty when there is nothing.
  virtual std::function<void(ImageState&)> RecordChange() const { return {}; }
};

// How a scan ended.
enum class ScanEnd {
  Complete,      // every line of the window arrived
  Stopped,       // the user (or the paper-end test through the scanner) stopped it
  EndOfMedium,   // the scanner reported the end of the paper, or sent nothing more after lines
  ReadError,     // the scanner reported a read error
  ScannerError,  // the scanner failed otherwise (or answered with an unknown result)
  NoData,        // the scanner delivered nothing for too long before the first line
};

struct ScanResult {
  ScanEnd end = ScanEnd::Complete;
  int32_t linesReceived = 0;
  int32_t finalHeight = 0;
  bool whiteFilled = false;
  bool fillCancelled = false;  // Esc during the white completion: the page is rejected
  bool cut = false;            // the image was cut to the lines received
  bool outputOk = true;
};

// Where a family whose scanner is not reached through the scanner library reads its blocks.
// Called on the read thread only.
class ScanBlockReader {
 public:
  virtual ~ScanBlockReader() = default;
  // Reads up to `requested` bytes into `buffer`; *returned is what came. The result says how
  // the read ended in the scanner library's terms.
  virtual ReadCompleteType Read(uint8_t* buffer, int32_t requested, int32_t* returned) = 0;
  // The reading ends for `why` (a stop, the end of the medium, a failure).
  virtual void Stop(ScanEnd why) = 0;
  // The scan is over and the frame was told.
  virtual void Finished() {}
};

// Everything a running scan owns, set up by the scan start and handed to the pipeline.
struct ScanPipelineSetup {
  CTrennic* scanner = nullptr;
  ScanHost* host = nullptr;
  ImageState* image = nullptr;
  int32_t lineBytes = 0;   // one line in memory
  int32_t height = 0;      // lines the window asks for
  int32_t xDpi = 0, yDpi = 0;
  int32_t widthPx = 0;
  uint16_t kind = 0;
  bool oneBitTransfer = false;
  uint8_t whiteIndex = 255;  // the value of a white pixel byte (palette scans: the lightest entry)
  // Early-end choices.
  bool plainTiff = false;   // OutputIsPlainTiff
  bool noPad = false;       // NoPadOutput
  // The software paper-end test.
  bool paperEndTest = false;
  CAutoSize* autoSize = nullptr;
  std::vector<uint8_t> colourTable;  // blue, green, red, spare per palette entry
  // Chain, in processing order (made by the chain builder).
  FilterChain toneChain;                     // noise removal ... invert
  std::unique_ptr<ScanLineSink> workingCopy;  // may be null
  FilterChain bilevelChain;                  // threshold, despeckle
  std::unique_ptr<ScanLineSink> output;
  // A family's own reader (then `scanner` is not used); null reads through `scanner`.
  std::unique_ptr<ScanBlockReader> reader;
  // Lines a block holds; 0 for ScanPipeline::kLinesPerBlock.
  int32_t linesPerBlock = 0;
  // Empty reads in a row that end the reading; 0 for the resolution's default.
  int noDataLimit = 0;
  // Palette scans whose scanner sends R, G, B: each pixel becomes entry
  // (R AND 0xF8) x 256 + (G AND 0xFC) x 8 + B / 8 of this 65536-byte table on arrival.
  std::vector<uint8_t> paletteLookup;
  // Optional: told of each step of a block's processing ("copy", "draw", "output").
  std::function<void(const char*)> trace;
  // Called once at the end on the read thread, after everything above was freed and before the
  // frame is told (the scan start keeps settings write-backs here).
  std::function<void(const ScanResult&)> onFinished;
};

// The process-wide switches of the frame's commands, read for every block.
extern std::atomic<uint8_t> DisplayDuringScanOff;
extern std::atomic<uint8_t> DiskWritesDuringScanOff;

class ScanPipeline {
 public:
  static constexpr int kLinesPerBlock = 8;

  explicit ScanPipeline(ScanPipelineSetup setup);
  ~ScanPipeline();  // joins both threads
  ScanPipeline(const ScanPipeline&) = delete;
  ScanPipeline& operator=(const ScanPipeline&) = delete;

  // Starts the read thread and the processing thread.
  void Start();
  // The stop request of the frame; the read thread acts on it.
  void RequestStop() { stopRequested_.store(true); }
  // Waits for the read thread to finish the scan (including the frame's message).
  void Join();
  bool Finished() const { return finished_.load(); }
  // True once the read thread has stopped reading from the scanner.
  bool ReadingDone() const { return readingDone_.load(); }
  // True once the read thread has returned (after the frame's message was delivered).
  bool ThreadsDone() const { return exited_.load(); }
  const ScanResult& Result() const { return result_; }
  int32_t LinesReceived() const { return linesReceived_.load(); }

 private:
  struct Block {
    std::vector<uint8_t> buffer;
    int32_t requested = 0;
    int32_t returned = 0;
  };

  // What the read loop keeps between reads.
  struct ReadProgress {
    int32_t lineSize = 0;  // bytes of one line as the scanner sends it
    bool dataCame = false;
    int noData = 0;        // empty reads in a row
    int noDataLimit = 1;
  };
  // How one read ends the scan, or nothing when the reading goes on.
  std::optional<ScanEnd> AfterRead(ReadCompleteType result, Block* rec, ReadProgress& progress);
  void ReadThread();
  void ProcessThread();
  void ProcessBlock(Block& block);
  void HandOver(Block*& filled);
  void HandOverWholeLines(Block* rec, int32_t lineSize);
  void FillWithWhite(bool stopped);
  void Finish();
  int32_t BlockLines() const;
  // Bytes of one line as it arrives (before unpacking and palette mapping).
  int32_t ArrivingLineBytes() const;
  void StopScanner(ScanEnd why);
  void MapToPalette(Block& blk) const;

  ScanPipelineSetup s_;
  Block a_, b_;
  Block* readRecord_ = &a_;
  Block* readyRecord_ = &a_;
  std::vector<uint8_t> unpack_;
  // Shares a block's tone filtering out over the cores when the chain allows it.
  std::unique_ptr<WorkerPool> pool_;
  int64_t blockCount_ = 0;
  std::atomic<int32_t> linesReceived_{0};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> readingDone_{false};
  std::atomic<bool> exited_{false};
  Event dataReady_{Event::Reset::Auto, false};
  Event blockDone_{Event::Reset::Manual, true};
  std::thread reader_;
  std::thread processor_;
  ScanResult result_;
};

// Before a new scan: false while `current` still runs. Otherwise the finished pipeline joins
// `retired` (its read thread may still be delivering its last message to the frame, perhaps
// the very handler that starts the new scan) and the retired ones whose threads have returned
// are freed.
bool RetireFinishedPipeline(std::unique_ptr<ScanPipeline>& current,
                            std::vector<std::unique_ptr<ScanPipeline>>& retired);

}  // namespace orb
