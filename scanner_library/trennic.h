// Trennic: the command library for scanners of the SCSI family. One CTrennic object
// drives one scanner; every member returns its result and leaves a last-error triple
// (SRB status, sense code, error type) that the caller reads back. Nothing throws out of
// the library.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#define TRENNIC_API __attribute__((visibility("default")))

// ---- enums ---------------------------------------------------------------------------

// Kind of the last failure recorded in a scanner object or a transport.
enum ErrorTrennicType : int32_t {
  TRENNIC_NO_ERROR = 0,
  TRENNIC_SCSI_ERROR = 1,          // a command failed; SRB status and sense code are kept
  TRENNIC_OUT_OF_MEMORY = 2,
  TRENNIC_NO_PASSTHROUGH = 3,      // the pass-through manager could not be loaded
  TRENNIC_INTERNAL_FAILURE = 4,    // the library failed inside itself (not out of memory)
  TRENNIC_WINDOW_XY_MISMATCH = 5,  // a window with X resolution != Y resolution was refused
};

// Result of ReadData.
enum ReadCompleteType : int32_t {
  READ_COMPLETE = 0,
  READ_FAILED = 1,          // a SCSI error, no scanner open, or out of memory
  READ_END_OF_MEDIUM = 2,   // sense 0x3B/0x09
  READ_NO_DATA = 3,         // too many empty reads in a row
  READ_MEDIUM_ERROR = 4,    // sense 0x11/0x00
  READ_NOT_WHOLE_LINES = 5, // request not a whole number of output lines (down-scaled mode)
};

// Generation of the scanner model; 0 until a model is recognised.
enum ScannerSeriesType : int32_t {
  SERIES_UNKNOWN = 0,
  SERIES_1 = 1,
  SERIES_2 = 2,
  SERIES_3 = 3,
  SERIES_TEST = 99,
};

// Model number of the model table (1 to 37, 99 the test model); 0 when unknown.
enum ScannerDeviceType : int32_t { DEVICE_UNKNOWN = 0, DEVICE_TEST = 99 };

// ASC << 8 | ASCQ.
enum AditionalSenseCodeType : int32_t {
  ASC_NONE = 0,
  ASC_NOT_READY_INIT_REQUIRED = 0x0402,
  ASC_UNRECOVERED_READ_ERROR = 0x1100,
  ASC_END_OF_MEDIUM = 0x3B09,
};

// The scanner's positioning codes for OBJECT POSITION.
enum ObjectCommandType : int32_t {
  OBJECT_UNLOAD = 0,
  OBJECT_LOAD = 1,
  OBJECT_MOVE_RELATIVE = 3,
  OBJECT_UNLOAD_THROUGH = 4,
  OBJECT_LOAD_STAGED = 5,
};

// Scanner codes passed through unchanged.
enum PaperTransportType : int32_t { TRANSPORT_AUTOMATIC = 0, TRANSPORT_1 = 1, TRANSPORT_MANUAL = 2 };
enum IlluminationType : int32_t { ILLUMINATION_OFF = 0, ILLUMINATION_ON = 1 };
enum MotorControlType : int32_t { MOTOR_CONTROL_0 = 0, MOTOR_CONTROL_1 = 1 };
enum FilterType : int32_t { FILTER_NONE = 0 };
enum RGBControlType : int32_t { RGB_CONTROL_OFF = 0, RGB_CONTROL_ON = 1 };

// ---- records -------------------------------------------------------------------------

// Filled by Open: who answered and its INQUIRY identification. The text fields are
// fixed-width without terminator (a shorter text is zero-padded).
struct DeviceInfoType {
  int32_t AdapterId;
  int32_t TargetId;
  char VendorId[8];
  char ProductId[16];
  char ProductRevision[4];
  int32_t InquiryByte36;  // selects the series of some models
  int32_t InquiryByte37;
};
static_assert(sizeof(DeviceInfoType) == 44);

// The scan window as the caller asks for it (positions and sizes in pixels at the
// window's resolution).
struct WindowDescriptorType {
  int32_t XResolution;
  int32_t YResolution;
  int32_t UpperLeftX;
  int32_t UpperLeftY;
  int32_t Width;
  int32_t Length;
  int32_t Brightness;
  int32_t Threshold;
  int32_t ImageComposition;  // 0 line art, 2 grey, 3 palette, 5 colour
  int32_t BitsPerPixel;      // 1, 4, 8 or 24
  int32_t Flags;             // low byte sent; 8 selects the half-line modes
  int32_t Option;
  int32_t Vendor[6];
  int32_t VendorLast;
};
static_assert(sizeof(WindowDescriptorType) == 19 * 4);

// One read: the caller's buffer holds at least RequestedBytes.
struct DataTransferType {
  int32_t RequestedBytes;
  unsigned char* Buffer;
  int32_t ReturnedBytes;
};

struct ScannerInfoType {
  int32_t DeviceType;          // ScannerDeviceType
  int32_t SeriesType;          // ScannerSeriesType
  int32_t OpticalResolution;
  int32_t MaxResolution;
  int32_t MaxPixelsAtOptical;
  int32_t NumberOfCameras;
};
static_assert(sizeof(ScannerInfoType) == 24);

// RECEIVE DIAGNOSTIC RESULTS page: byte 4 is the running step's status (bit 7 failed,
// bit 0 completed, bits 1-2 busy); byte 5 bit 2 is set when paper is present.
struct ReceiveResultsType {
  unsigned char Data[128];
};
constexpr int kResultsStatusByte = 4;
constexpr unsigned char kResultsFailed = 0x80;
constexpr unsigned char kResultsCompleted = 0x01;
constexpr unsigned char kResultsBusy = 0x06;
constexpr int kResultsPaperByte = 5;
constexpr unsigned char kResultsPaperPresent = 0x04;

// Camera data: byte 4 busy bits (mask 6); bytes 5, 6, 7, 10, 11 the left/right stitch
// values of seams 1 to 5; bytes 37, 38, 39, 13, 14 their front/back values.
struct DramDataType {
  unsigned char Data[128];
};

// ---- transports ----------------------------------------------------------------------

// Direction codes of a command.
constexpr unsigned char SCSI_DATA_IN = 0;
constexpr unsigned char SCSI_DATA_OUT = 1;
constexpr unsigned char SCSI_NO_DATA = 2;

// A SCSI pass-through transport: finds the scanner and carries commands to it.
class TRENNIC_API CScsiCommand {
 public:
  CScsiCommand();
  virtual ~CScsiCommand();
  CScsiCommand(const CScsiCommand&) = delete;
  CScsiCommand& operator=(const CScsiCommand&) = delete;

  // Finds and opens the first scanner of the family and fills the record.
  virtual bool OpenScanner(DeviceInfoType& info, int unused) = 0;
  virtual bool ExecScsiCommand(int dataLength, unsigned char* data, int cdbLength,
                               unsigned char* cdb, unsigned char* sense,
                               unsigned char direction);
  virtual bool ExecTestUnitScsiCommand(int dataLength, unsigned char* data, int cdbLength,
                                       unsigned char* cdb, unsigned char* sense,
                                       unsigned char direction) = 0;
  // Whether the last command's SRB status reads completed.
  virtual bool GetSrbStatus();

  // The same command, returning its own SRB status, so that a reader is not confused by a
  // command another thread sent meanwhile.
  virtual bool ExecScsiCommandStatus(int dataLength, unsigned char* data, int cdbLength,
                                     unsigned char* cdb, unsigned char* sense,
                                     unsigned char direction, unsigned char* srbStatus) = 0;
  virtual bool IsCompletedStatus(unsigned char srbStatus) const = 0;

  void SetCommandError(int srbStatus, int senseCode, int errorType);
  void GetCommandError(int* srbStatus, int* senseCode, int* errorType);

  int TargetId() const { return targetId_; }
  int AdapterId() const { return adapterId_; }

 protected:
  std::atomic<unsigned char> srbStatus_{0};
  int targetId_ = -1;
  int adapterId_ = -1;
  unsigned char flag_ = 0;  // manager loaded (pass-through) / device matched (still image)

 private:
  std::mutex errorMutex_;
  int errSrb_ = 0;
  int errSense_ = 0;
  int errType_ = 0;
};

class TRENNIC_API CASPIcommand : public CScsiCommand {
 public:
  CASPIcommand();
  ~CASPIcommand() override;
  bool OpenScanner(DeviceInfoType& info, int unused) override;
  bool ExecTestUnitScsiCommand(int dataLength, unsigned char* data, int cdbLength,
                               unsigned char* cdb, unsigned char* sense,
                               unsigned char direction) override;
  bool ExecScsiCommandStatus(int dataLength, unsigned char* data, int cdbLength,
                             unsigned char* cdb, unsigned char* sense, unsigned char direction,
                             unsigned char* srbStatus) override;
  bool IsCompletedStatus(unsigned char srbStatus) const override;

 private:
  bool HostAdapterInquiry(int adapter, int* targetCount);
  int GetDeviceType(int adapter, int target);
  // Sends one command; the status of the request (0 while still pending).
  unsigned char Send(int dataLength, unsigned char* data, int cdbLength, const unsigned char* cdb,
                     unsigned char* sense, unsigned char direction);
  bool GuardedSend(int dataLength, unsigned char* data, int cdbLength, const unsigned char* cdb,
                   unsigned char* sense, unsigned char direction, unsigned char* status);

  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class TRENNIC_API CSTIcommand : public CScsiCommand {
 public:
  CSTIcommand();
  ~CSTIcommand() override;
  bool OpenScanner(DeviceInfoType& info, int unused) override;
  bool ExecTestUnitScsiCommand(int dataLength, unsigned char* data, int cdbLength,
                               unsigned char* cdb, unsigned char* sense,
                               unsigned char direction) override;
  bool ExecScsiCommandStatus(int dataLength, unsigned char* data, int cdbLength,
                             unsigned char* cdb, unsigned char* sense, unsigned char direction,
                             unsigned char* srbStatus) override;
  bool IsCompletedStatus(unsigned char srbStatus) const override;

 private:
  unsigned GetDataDirection(unsigned char direction) const;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// ---- line processing -----------------------------------------------------------------

// Enlarges lines in X and Y by bilinear interpolation (1, 8 or 24 bits per pixel).
class TRENNIC_API CInterpolateData {
 public:
  CInterpolateData(int width, double xFactor, double yFactor, int bitsPerPixel);
  virtual ~CInterpolateData();
  CInterpolateData(const CInterpolateData&) = delete;
  CInterpolateData& operator=(const CInterpolateData&) = delete;

  int getInputLineLen() const { return inputLineLen_; }
  int getOutputLineLen() const { return outputLineLen_; }
  // The buffer to fill with the next input line; the two buffers alternate.
  unsigned char* getCurrentDataBuffer();
  // Writes the output lines owed for the newest input line, at most maxLines of them;
  // `pending` counts the lines of this input line already delivered (0 for a new line;
  // non-zero on return when lines are still owed). Returns the bytes written.
  int interpolateData(unsigned char* out, int* pending, int maxLines);

 private:
  int interpolateYby2(unsigned char* out, int* pending, int maxLines);
  static int clamp(int value, int low, int high);
  static double fourPointInterpolation(double p00, double p10, double p01, double p11, double dx,
                                       double dy);
  static double twoPointInterpolation(double a, double b, double t);
  unsigned char* getSortedBuffer(int which);
  double Sample(const unsigned char* line, int x, int channel) const;
  void ProduceLine(unsigned char* out, int lineInBatch);

  double yFactor_;
  double xFactor_;
  double carry_ = 0.0;
  int bitsPerPixel_;
  int width_;
  int inputLineLen_;
  int outputPixels_;
  int outputLineLen_;
  std::unique_ptr<unsigned char[]> buffers_[2];
  int index_ = 0;
};

// Doubles 1-bit lines in both directions.
class TRENNIC_API CReplicateData {
 public:
  explicit CReplicateData(int width);
  virtual ~CReplicateData();
  CReplicateData(const CReplicateData&) = delete;
  CReplicateData& operator=(const CReplicateData&) = delete;

  int getInputLineLen() const { return (width_ + 7) / 8; }
  int getOutputLineLen() const { return (2 * width_ + 7) / 8; }
  unsigned char* getCurrentDataBuffer() { return buffer_.get(); }
  // Writes the doubled input line (getOutputLineLen bytes); returns that length.
  int replicateData(unsigned char* out);

 private:
  uint16_t table_[256];
  double xFactor_ = 2.0;
  double yFactor_ = 2.0;
  int bitsPerPixel_ = 1;
  int width_;
  std::unique_ptr<unsigned char[]> buffer_;
};

// Joins the overlapping strips of several cameras into one seamless line.
class TRENNIC_API CHStitch {
 public:
  CHStitch();
  CHStitch(int bitsPerPixel, int leftExtra, int rightExtra, int* seamPositions, int seamCount,
           int overlap, int width, int searchRange);
  virtual ~CHStitch();
  CHStitch(const CHStitch&) = delete;
  CHStitch& operator=(const CHStitch&) = delete;

  // One widened input line to one output line of exactly `width` pixels.
  void WriteData(unsigned char* input, unsigned char* output, int unused);
  int InputLineLength() const { return inputLen_; }
  int OutputLineLength() const { return outputLen_; }
  // The offset the seam follows now (pixels), for inspection.
  double SeamOffset(int seam) const { return seam >= 0 && seam < 5 ? running_[seam] : 0.0; }

 private:
  int inputLen_ = 0;
  int outputLen_ = 0;
  int seamTable_[6] = {};
  int overlap_ = 0;
  int range_ = 0;
  int bytesPerPixel_ = 1;
  int seamCount_ = 0;
  int leftExtra_ = 0;
  int rightExtraBytes_ = 0;
  double running_[5] = {};
  std::unique_ptr<int64_t[]> profile_;
  std::unique_ptr<unsigned char[]> joined_;
};

// ---- the scanner object --------------------------------------------------------------

class TRENNIC_API CTrennic {
 public:
  CTrennic();
  ~CTrennic();
  CTrennic(const CTrennic&) = delete;
  CTrennic& operator=(const CTrennic&) = delete;

  static uint32_t ToBigEndian32(uint32_t v);
  static uint16_t ToBigEndian16(uint16_t v);

  // Frame.
  bool Open(DeviceInfoType& info);
  ErrorTrennicType GetLastTrennicError();
  unsigned short GetLastTrennicScsiError();
  bool UnitReady(AditionalSenseCodeType* out);
  bool SetObjectPosition(ObjectCommandType type, int count);

  // Model information.
  bool GetScannerInformationBlock(ScannerInfoType* out, int size);
  ScannerDeviceType ScannerInfoGetScannerType();
  ScannerSeriesType ScannerInfoGetScannerSeriesType();
  int ScannerInfoOpticalResolution();
  int ScannerInfoMaxResoltion();
  int ScannerInfoMaxPixelsAtOpticalResolution();
  int ScannerInfoNoOfCameras();

  // Parameters, tables and counters.
  bool StopScan();
  bool SetFractionalSpeed(int speed);
  bool SetMotorCount(int count);
  bool SetPaperTransport(PaperTransportType type);
  bool UnNormaliseScanner();
  bool SetIllumination(IlluminationType type);
  bool SetBrightness(int value);
  bool SetBinaryThreshold(int value);
  bool SetPaperStagingPosition(short position);
  bool SetPostEndOfMediaRunOn(short runOn);
  bool SetFrontBackAlign(unsigned char a, unsigned char b, unsigned char c);
  bool SetFrontBackAlign(unsigned char a, unsigned char b, unsigned char c, unsigned char d,
                         unsigned char e);
  bool SetLeftRightStitch(unsigned char a, unsigned char b, unsigned char c);
  bool SetLeftRightStitch(unsigned char a, unsigned char b, unsigned char c, unsigned char d,
                          unsigned char e);
  bool SetMotorControl(MotorControlType type);
  bool LoadColorTranslationTable(unsigned char* table);
  bool LoadTrcTable(unsigned char* table);
  bool SetFilter(FilterType type);
  bool RGBControl(RGBControlType type);
  bool LoadCameraMappingInfo(unsigned char* data);
  bool SetPaperStage(int value);
  bool SetPaperLength(int value);
  bool SetAutoLoadDelay(int delay);
  bool SetMotorCorrection(int a, int b, int c, int d);
  bool SetIAT(int windowSize, unsigned char a, unsigned char b, unsigned char c,
              unsigned char d);
  bool LoadRGBTable(unsigned char* table);
  bool LoadRGBTable(unsigned char* table, unsigned int length);
  bool SetPass(unsigned char* data);
  bool ResetInternallySetIncrementalCounters(unsigned char* data);
  bool ResetExternallySetIncrementaCounters(unsigned char* data);
  bool IncrementExternalCounters(unsigned char* data);
  bool SetCounters(unsigned char* data);
  bool ReadCounters(unsigned char* data);

  // Diagnostics, firmware and reset.
  bool StopCurrentDiagnostic();
  bool MagnificationDiagnostic(int value);
  bool CameraLevelsDiagnostic(int value);
  bool LightNormalisationDiagnostic();
  bool DarkNormalisationDiagnostic();
  bool AccuracyDiagnostic(int a, int b);
  bool CameraAlignmentDiagnostic(int a, int b, int c, int d, int e, int f);
  bool SwitchSensorDiagnostic(int value);
  bool AutoFrontBackDiagnostic();
  bool AutoLeftRightDiagnostic();
  bool RetrieveDramDiagnostic(DramDataType* out);
  bool CameraTRCLineRamDiagnostic(int a, int b);
  bool CameraCoefficientMemoryDiagnostic(int a, int b);
  bool PaletteRamDiagnostic(int value);
  bool FlagRamDiagnostic(int value);
  bool ColourDelayRAMDiagnostic(int value);
  bool VariableResLineDelayDiagnostic(int value);
  bool OutputFIFODiagnostic(int value);
  bool DSPActiveDiagnostic(int value);
  bool DSPFIFODiagnostic(int value);
  bool VqCameraTRCLineRamDiagnostic(int a, int b);
  bool VqFlagRamDiagnostic(int value);
  bool VqVariableResRamDiagnostic(int value);
  bool VqFilterRamDiagnostic(int value);
  bool VqDSPDiagnostic(int value);
  bool VqDSPThresholdFIFODiagnostic(int value);
  bool VqSrgbRamDiagnostic(int value);
  bool VqPaletteRamDiagnostic(int value);
  bool VqOutputFifoDiagnostic(int value);
  bool VqImageDataPathDiagnostic(int value);
  bool VqSelfTestDiagnostic(int value);
  bool SelfTestDiagnostic();
  bool ReceiveResultsDiagnostic(ReceiveResultsType* out, int length);
  bool WriteBuffer(unsigned char* data, int length, unsigned long offset);
  bool WriteBuffer(unsigned char* data, int length);
  bool ResetDevice();

  // Scan window and reads.
  bool SetWindow(const WindowDescriptorType& window, unsigned char stitch, bool stitchAlign);
  bool StartScan();
  ReadCompleteType ReadData(DataTransferType* record);
  // Reads one chunk of trunc(requested / (resolution / base) + 0.5) bytes (base 300 with
  // the flag, else 400) and widens it to at most the requested count.
  ReadCompleteType ReadInterpolatedData(DataTransferType* record, int resolution, bool flag);
  // How ReadData delivers lines for the window last set: 0 plain, 1 interpolated,
  // 2 down-scaled, 3 large scale (or half lines), 4 replicated.
  int GetReadMode() const { return static_cast<int>(readMode_); }

  // Paper extent and grey strip pre-scans.
  bool GetPaperExtent(int* width, int* left, int stagingPosition);
  bool GetPaperExtent(int* width, int* left, bool twoCameras, bool loadRamp, int stagingPosition);
  bool GetPaperExtent(int* width, int* left, int scanLength, bool loadRamp, int stagingPosition);
  // Scans a grey strip and reports its left edge and width (pixels at the scan resolution)
  // and its mean level; minimumContrast is the level step that marks the strip's edges,
  // lines the number of lines averaged (at most 34).
  bool GetGreyStripInfo(int* left, int* width, int stagingPosition, int minimumContrast,
                        int* meanLevel, int lines, bool loadRamp);

 private:
  struct WindowBlock {
    unsigned char b[56];
  };
  // How the lines of the window last set are read (GetReadMode gives the number).
  enum class ReadMode : int { Plain = 0, Interpolated = 1, DownScaled = 2, LargeScale = 3, Replicated = 4 };
  bool SetWindowEx(const WindowDescriptorType& window, int scanResolution, unsigned char stitch);
  bool SendWindowBlock(WindowBlock& block);
  void SetAdvancedHorizontalStitch(WindowBlock& block);
  ReadCompleteType ReadDataIn(DataTransferType* record);
  ReadCompleteType ReadDataRaw(DataTransferType* record);
  ReadCompleteType ReadLargeScaleData(DataTransferType* record);
  ReadCompleteType ReadReplicatedData(DataTransferType* record);
  ReadCompleteType ReadDownScaledData(DataTransferType* record);
  ReadCompleteType ReadInterpolatedData(DataTransferType* record, int target, int scan);
  bool InterpolateRGB(unsigned char* src, unsigned char* dst, int srcLength, int resolution,
                      int flag);
  bool NInterpolateRGB(unsigned char* src, unsigned char* dst, int srcLength, int resolution,
                       int flag);
  void WidenLine(const unsigned char* src, unsigned char* dst, int srcPixels, int maxOut,
                 bool doubling);
  bool PaperExtentScan(int* width, int* left, bool lengthDriven, int scanLength, bool twoCameras,
                       bool loadRamp, int stagingPosition);
  void SetLastError(int srbStatus, int senseCode, ErrorTrennicType type);
  void SetScsiCommandError();
  void ScannerDetailsInquiry(const char* productId, int inquiryByte36);
  bool IsOpen() const;
  bool Has(uint32_t capability) const { return (capabilities_ & capability) != 0; }
  // Runs a member body; an exception (out of memory) becomes error type 2 and `failed`.
  template <class R, class F>
  R Guard(R failed, F&& body) noexcept;
  // The common frame: open check, data in an own copy or the caller's memory, send,
  // copy the transport's error triple on failure when `recordError`.
  bool Command(const unsigned char* cdb, int cdbLength, unsigned char* data, int dataLength,
               unsigned char direction, bool recordError, unsigned char* sense = nullptr);
  bool SendParameter(int parameter, const unsigned char* data, int length, bool recordError,
                     bool ownCopy = true);
  bool SendDiagnosticPage(unsigned char page, const unsigned char* params, int length);

  ScannerInfoType info_{};
  uint32_t capabilities_ = 0;    // the model's ModelCapability flags
  int paperExtentLength_ = 0;    // the length-driven paper-extent pre-scan's length, 0 when none
  int adapterId_ = -1;
  int targetId_ = -1;
  unsigned char reserved_ = 0;
  std::mutex errorMutex_;
  int lastSrbStatus_ = 0;
  int lastSenseCode_ = 0;
  unsigned char sense_[16] = {};
  int lastErrorType_ = 0;
  std::unique_ptr<unsigned char[]> colorCache_;
  bool colorCacheValid_ = false;
  char productId_[16] = {};
  int fractionalSpeed_ = 1;
  std::unique_ptr<CScsiCommand> transport_;

  // Scan state.
  ReadMode readMode_ = ReadMode::Plain;
  int bandUpperLeftY_ = 0;
  int scanResolution_ = 0;
  int targetResolution_ = 0;
  int intermediateResolution_ = 0;
  int deliveredLines_ = 0;
  // Down-scaled mode.
  int inBytesPerLine_ = 0, outBytesPerLine_ = 0, inPixels_ = 0, outPixels_ = 0;
  int downBits_ = 0, xStep_ = 0, yStep_ = 0;
  int sourceLine_ = -1, lastEmitted_ = -1;
  std::unique_ptr<int[]> indexTable_;
  std::unique_ptr<unsigned char[]> lineBuffer_;
  // Interpolator / replicator.
  double xScale_ = 1.0, yScale_ = 1.0;
  int scaleWidth_ = 0, scaleBits_ = 0, pendingLines_ = 0;
  bool linesOwed_ = false;
  bool mediumEnded_ = false;  // the scan's last line is in; only owed lines remain
  std::unique_ptr<CInterpolateData> interpolator_;
  std::unique_ptr<CReplicateData> replicator_;
  // Stitching.
  bool stitchAlign_ = false;
  std::unique_ptr<CHStitch> stitcher_;
  std::unique_ptr<unsigned char[]> stitchBuffer_;
  // Raw reader: the byte carried from an odd-length read.
  unsigned char carryByte_ = 0;
  bool carryValid_ = false;
  int windowBits_ = 0;
  int windowWidth_ = 0;
};
