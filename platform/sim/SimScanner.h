// A simulated scanner of the SCSI family: a device model that answers the command set
// (TEST UNIT READY, INQUIRY, SET WINDOW, SEND(10) parameters and tables, SCAN, READ(10),
// OBJECT POSITION, SEND DIAGNOSTIC / RECEIVE DIAGNOSTIC RESULTS, READ BUFFER,
// WRITE BUFFER), keeps a log of every command for tests, and takes injected faults.
// It is reached only through the transports (the still-image device list or a simulated
// pass-through bus), never called by the scanner library directly.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clock.h"
#include "platform/sg/PassThrough.h"

namespace orb::sim {

// What the simulator knows about each model it can pretend to be.
struct SimModel {
  const char* product;
  int opticalDpi;
  int pixelsAtOptical;
  int cameras;
  uint8_t byte36;
};
const SimModel* FindSimModel(std::string_view product);  // case-insensitive, exact key
const std::vector<SimModel>& SimModels();

struct Sense {
  uint8_t key = 0;
  uint8_t asc = 0;
  uint8_t ascq = 0;
};

// The synthetic sheet: paper of a known size on a backing of another tone. Positions and
// sizes are in 1/1200 inch, measured from the scan line's left end and the start of the
// scan (the first line the scanner reads).
struct SheetPattern {
  int paperLeft = 1200;     // 1 inch in from the left end of the scan line
  int paperWidth = 12000;   // 10 inches
  int paperTop = 600;       // half an inch of backing before the paper
  int paperLength = 12000;  // 10 inches
  uint8_t backingGrey = 40;
  uint8_t paperGrey = 235;
};

struct SimScannerConfig {
  std::string vendor = "TESSIVAN";
  std::string product = "TR6729";
  std::string revision = "1.52";
  uint8_t byte36 = 1;
  uint8_t byte37 = 0;
  uint8_t peripheralType = 6;  // scanner
  int opticalDpi = 400;
  int pixelsAtOptical = 21600;
  int cameras = 3;
  SheetPattern sheet;
  // Extra pixels the scanner feeds after the paper's end before it reports the end of the
  // medium, in 1/1200 inch (the run-on parameter adds to it).
  int runOn = 0;
  // Seam shift in pixels at the window resolution of the camera to the right of each seam
  // (shift[k] for seam k), applied when the library stitches.
  std::array<int, 5> seamShift{};
  // How the read that takes the medium's last line ends: false, it completes and the next
  // READ reports the end of the medium; true, it reports the end of the medium itself
  // (CHECK CONDITION with a valid residue of 0) together with its data.
  bool endOfMediumWithLastData = false;
  // A feeder that always holds another sheet: a sheet leaving the scanner is followed at
  // once by the next one at the entry. The scanner a user attaches for the program has it,
  // so that scan after scan works without anyone inserting paper.
  bool feedsNextSheet = false;
  // 0: every line is rendered as it is read. N > 0: the first N lines of a window are
  // rendered once and line i is delivered as line i mod N, kept from scan to scan while the
  // window and the tables stay the same. A source that costs a copy, for benchmarks that
  // time what receives the lines rather than the drawing of the sheet.
  int repeatLines = 0;
  // How long the service steps started by a diagnostic page take, in milliseconds on the
  // scanner's clock (see SetDiagnosticDuration); pages not named take two polls.
  std::map<uint8_t, int64_t> diagnosticMs;
};
SimScannerConfig ConfigForModel(const SimModel& model);

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb&) const = default;
};

// The sheet's colour at a point (1/1200 inch): backing outside the paper; on the paper a
// grid of solid colour blocks (one per inch square, [300, 900) of each inch in both
// directions) on a fine deterministic texture.
Rgb SheetColor(const SheetPattern& sheet, int64_t x, int64_t y);
// The colour of scan pixel (px, py) at the resolutions given, sampled at its centre;
// px and py count from the scan line's left end and the scan's first line.
Rgb SamplePixel(const SheetPattern& sheet, int xRes, int yRes, int64_t px, int64_t py);
// The solid block colours, in the order the grid uses them.
const std::array<Rgb, 6>& BlockColors();

// One command as the scanner saw it.
struct CommandRecord {
  std::vector<uint8_t> cdb;
  passthru::Direction direction = passthru::Direction::None;
  std::vector<uint8_t> dataOut;  // what the host sent
  uint32_t dataLength = 0;       // the host buffer's length
  uint32_t transferred = 0;      // bytes moved
  uint8_t status = 0;            // passthru status code
  Sense sense;
};

// The parsed SET WINDOW block.
struct SimWindow {
  bool valid = false;
  int xRes = 0, yRes = 0;
  int upperLeftX = 0, upperLeftY = 0, width = 0, length = 0;
  int brightness = 0, threshold = 0, composition = 0, bitsPerPixel = 0, flags = 0, option = 0;
  uint8_t stitchAlign[4] = {};
  uint8_t cameraStitch = 0;
  uint8_t libraryStitches = 0;
  uint8_t vendor[6] = {};
  uint8_t vendorLast = 0;
  std::vector<uint8_t> raw;  // the 56 bytes as received
};

enum class PaperState { None, AtEntry, Loaded, Scanning, Ejected };

class SimScanner {
 public:
  struct Result {
    uint8_t status = passthru::kStatusCompleted;
    uint8_t sense[18] = {};
    uint32_t transferred = 0;
  };

  explicit SimScanner(SimScannerConfig config = {});
  ~SimScanner();
  SimScanner(const SimScanner&) = delete;
  SimScanner& operator=(const SimScanner&) = delete;

  const SimScannerConfig& Config() const { return config_; }

  // Carries out one command. `data` is the host buffer of `dataLength` bytes. A command the
  // scanner holds back (a stalled READ) is given up after `timeLimitMs` on the process-wide
  // clock (0: no limit), as a driver aborts a command that takes too long: it then ends
  // with the aborted status and moves nothing.
  Result Execute(const uint8_t* cdb, int cdbLength, passthru::Direction direction,
                 uint8_t* data, uint32_t dataLength, uint32_t timeLimitMs = 0);

  // ---- the log ----
  std::vector<CommandRecord> Log() const;
  std::vector<CommandRecord> LogOf(uint8_t opcode) const;
  void ClearLog();
  size_t CommandCount() const;

  // ---- faults ----
  // The nth command from now (1 = the next) that has `opcode` (-1: any) fails with CHECK
  // CONDITION and `sense`.
  void FailCommand(int nth, Sense sense, int opcode = -1);
  // The next `count` TEST UNIT READY commands answer CHECK CONDITION with `sense`.
  void SetUnitReadySense(Sense sense, int count);
  // Reading faults of the scan: a read error (sense 0x03/0x11/0x00) when the read reaches
  // output line `line`; `count` READs in a row that deliver nothing (from the next READ);
  // every READ delivers at most `bytes` (0 = no limit).
  void FailReadAtLine(int line);
  void EmptyReads(int count);
  // From output line `line` on, every READ delivers nothing (a scanner that ends a sheet by
  // sending no more data).
  void NoDataFromLine(int line);
  void ShortReads(uint32_t bytes);
  // READs block until StopScan (or ReleaseReads) instead of delivering.
  void StallReads(bool stall);
  void ReleaseReads();
  // Number of READs that are blocked right now.
  int StalledReads() const;
  // Delivers the image at `linesPerSecond` output lines a second, as a real scanner's
  // mechanics would: each READ returns only after the time its lines take, waited on
  // `clock` (nullptr: the process-wide clock at the time of the READ). 0 or less: no
  // pacing (the default).
  void SetReadPace(double linesPerSecond, orb::Clock* clock = nullptr);
  double ReadPace() const;

  // ---- paper ----
  void InsertPaper();
  void RemovePaper();
  PaperState Paper() const;
  bool PaperPresent() const;

  // ---- diagnostics ----
  // How the job a diagnostic page starts ends: after `polls` RECEIVE DIAGNOSTIC RESULTS
  // commands it reads completed (or failed). Pages without a setting take 2 polls and pass.
  void SetDiagnosticOutcome(uint8_t page, int polls, bool fail);
  // The job a diagnostic page starts takes `ms` milliseconds on the scanner's clock and
  // then reads completed (or failed); a negative `ms` never ends (a scanner that hangs in
  // the step until it is stopped).
  void SetDiagnosticDuration(uint8_t page, int64_t ms, bool fail);
  // The status byte a step of `page` ends with instead of completed or failed (a scanner
  // that reports both bits, say).
  void SetDiagnosticEndStatus(uint8_t page, uint8_t status);
  // The clock the step durations are measured on (nullptr: the process-wide clock).
  void SetServiceClock(orb::Clock* clock);
  // The scanner's stored calibration: it is replaced only when a light normalisation step
  // completes (with the dark data of the step before it in the same run, if any); an
  // un-normalise, a failed or a stopped step leave it as it was. Counts from 1 (the
  // factory calibration).
  int CalibrationGeneration() const;
  // Whether the last light step used fresh dark data, and whether the lamp was on for it.
  bool LastCalibrationHadDark() const;
  // Auto alignment results the scanner reaches.
  void SetAlignmentResults(std::array<uint8_t, 5> leftRight, std::array<uint8_t, 5> frontBack);

  // ---- state read back ----
  SimWindow Window() const;
  std::optional<std::vector<uint8_t>> Parameter(int number) const;  // last data sent
  std::array<uint8_t, 4096> ToneTable(int channel) const;           // 0 red, 1 green, 2 blue
  std::vector<uint8_t> ColorTable() const;                          // empty until sent
  std::vector<uint8_t> RgbTable() const;                            // blocks as received
  int FractionalSpeed() const;
  int StagingPosition() const;
  int RunOnParameter() const;
  bool Scanning() const;
  bool Normalised() const;
  int Illumination() const;
  std::array<uint32_t, 8> Counters() const;
  void SetCounters(std::array<uint32_t, 8> counters);
  std::map<uint32_t, std::vector<uint8_t>> Firmware() const;
  std::array<uint8_t, 5> LeftRightStitch() const;
  std::array<uint8_t, 5> FrontBackAlign() const;

  // ---- the image (see SimImage.cpp) ----
  // The lines the scanner delivers for the current window, as it renders them: `line` is
  // the output line index, the result the bytes of one delivered line.
  std::vector<uint8_t> RenderDeliveredLine(int line) const;
  // Bytes of one delivered line, and the number of lines up to the end of the medium.
  uint32_t DeliveredLineBytes() const;
  int DeliveredLineCount() const;

 private:
  struct Job {
    uint8_t page = 0;
    int pollsLeft = 0;
    bool fail = false;
    bool active = false;
    bool stopped = false;
    int64_t startMs = 0;
    int64_t durationMs = -1;  // -1: ends by polls
    bool endless = false;
    bool finished = false;
  };
  int64_t ServiceNowLocked() const;
  void FinishJobLocked();

  Result Dispatch(const uint8_t* cdb, int cdbLength, passthru::Direction direction,
                  uint8_t* data, uint32_t dataLength, uint32_t timeLimitMs,
                  std::unique_lock<std::mutex>& lock);
  Result Check(Sense s, uint32_t residue = 0, bool ili = false, bool eom = false,
               bool residueValid = false) const;
  Result Inquiry(const uint8_t* cdb, uint8_t* data, uint32_t dataLength);
  Result SetWindow(const uint8_t* cdb, const uint8_t* data, uint32_t dataLength);
  Result Send(const uint8_t* cdb, const uint8_t* data, uint32_t dataLength);
  Result ObjectPosition(const uint8_t* cdb);
  Result SendDiagnostic(const uint8_t* cdb, const uint8_t* data, uint32_t dataLength);
  Result ReceiveDiagnostic(const uint8_t* cdb, uint8_t* data, uint32_t dataLength);
  Result ReadBuffer(const uint8_t* cdb, uint8_t* data, uint32_t dataLength);
  Result WriteBuffer(const uint8_t* cdb, const uint8_t* data, uint32_t dataLength);
  Result StartScan();
  Result Read(const uint8_t* cdb, uint8_t* data, uint32_t dataLength, uint32_t timeLimitMs,
              std::unique_lock<std::mutex>& lock);
  // Waits while READs are stalled; false when `timeLimitMs` (not 0) passed first.
  bool WaitWhileStalledLocked(uint32_t timeLimitMs, std::unique_lock<std::mutex>& lock);
  void StopScanLocked();
  // Waits out the time `bytes` of delivered image take at the read pace, with the mutex
  // released so that a stop can come in meanwhile.
  void PaceLocked(uint32_t bytes, std::unique_lock<std::mutex>& lock);
  uint8_t PaperBits() const;
  // The scanned sheet leaves (the next one arrives when the feeder has one).
  void EjectSheet();

  // Image synthesis (SimImage.cpp), called with the mutex held.
  void PrepareScanLocked();
  std::vector<uint8_t> RenderLineLocked(int line) const;
  uint32_t LineBytesLocked() const;
  int LineCountLocked() const;

  SimScannerConfig config_;
  mutable std::mutex mutex_;
  std::condition_variable readCv_;
  std::vector<CommandRecord> log_;

  struct PendingFault {
    int remaining;
    int opcode;
    Sense sense;
  };
  std::vector<PendingFault> faults_;
  Sense turSense_;
  int turSenseCount_ = 0;
  int failReadAtLine_ = -1;
  int noDataFromLine_ = -1;
  int emptyReads_ = 0;
  uint32_t shortReads_ = 0;
  bool stallReads_ = false;
  double paceLinesPerSecond_ = 0;
  orb::Clock* paceClock_ = nullptr;
  double paceOwedMs_ = 0;  // the part of a millisecond not waited yet
  int stalled_ = 0;
  uint64_t stallGeneration_ = 0;

  PaperState paper_ = PaperState::None;
  std::map<uint8_t, std::pair<int, bool>> diagOutcomes_;
  Job job_;
  int sensorMode_ = 0;
  std::array<uint8_t, 5> alignLR_{96, 101, 99, 103, 100};  // within the stitch range 0..200
  std::array<uint8_t, 5> alignFB_{6, 8, 7, 7, 9};  // within the front/back range 0..14
  bool normalisedDark_ = false;
  bool normalisedLight_ = false;
  std::map<uint8_t, std::pair<int64_t, bool>> diagDurations_;
  std::map<uint8_t, uint8_t> diagEndStatus_;
  orb::Clock* serviceClock_ = nullptr;
  bool freshDark_ = false;        // a dark step completed since the last un-normalise
  int calibrationGeneration_ = 1;
  bool lastCalibrationDark_ = false;

  SimWindow window_;
  std::map<int, std::vector<uint8_t>> params_;
  std::array<std::array<uint8_t, 4096>, 3> tone_{};
  std::vector<uint8_t> colorTable_;
  std::vector<uint8_t> rgbTable_;
  int fractionalSpeed_ = 1;
  int staging_ = 0;
  int runOnParam_ = 0;
  int illumination_ = 0;
  std::array<uint8_t, 5> lrStitch_{};
  std::array<uint8_t, 5> fbAlign_{};
  std::array<uint32_t, 8> counters_{};
  std::map<uint32_t, std::vector<uint8_t>> firmware_;

  // The running scan.
  bool scanning_ = false;
  bool stopRequested_ = false;
  int64_t readPos_ = 0;   // bytes delivered so far
  int lineCount_ = 0;     // lines up to the end of the medium
  uint32_t lineBytes_ = 0;
  std::vector<uint8_t> lineCache_;
  int cachedLine_ = -1;
  // repeatLines: the rendered lines, and what they were rendered for.
  std::vector<std::vector<uint8_t>> repeated_;
  std::vector<uint8_t> repeatedFor_;
  // Camera segments of the delivered line: content pixels [contentStart, +length) as the
  // camera sees them, displaced by `displacement` pixels.
  struct Segment {
    int contentStart;
    int length;
    int displacement;
  };
  std::vector<Segment> segments_;
};

}  // namespace orb::sim
