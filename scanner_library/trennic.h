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

 private:
  void SetLastError(int srbStatus, int senseCode, ErrorTrennicType type);
  void SetScsiCommandError();
  void ScannerDetailsInquiry(const char* productId, int inquiryByte36);
  bool IsOpen() const;
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
};
