// The command set of the Kelvane family: each operation is one or two numbered escapes sent
// through an IScannerCommand. Generation 1 and generation 2 scanners speak two dialects;
// CKelvaneFunctionsV1 and CKelvaneFunctionsV2 build their bytes. Escape codes here are
// before the transport adds its base. Multi-byte values on the wire are 32-bit
// little-endian unless an operation says otherwise.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "platform/Clock.h"

class IScannerCommand;

// What GetInfo reads: the scanner's model code, its firmware number and a third value.
struct KelvaneInfoType {
  int32_t ModelCode = 0;
  int32_t Firmware = 0;
  int32_t Third = 0;
};

namespace orb::kelvane {

// Escape codes (before the transport's base).
enum Escape : int32_t {
  kEscSetWindow = 100,
  kEscEndScan = 101,
  kEscSetSpeed = 103,
  kEscStartScan = 104,
  kEscReadState = 113,
  kEscInfoV2 = 120,
  kEscWaitReady = 125,
  kEscDeviceFlags = 126,
  kEscInfoV1 = 130,
  kEscGammaV1 = 131,
  kEscThreshold = 132,
  kEscStatusV1 = 133,
  kEscPaperHandling = 136,
  kEscAreaSize = 137,
  kEscLeftOffsetV1 = 144,
  kEscReadData = 150,
  kEscUploadColourLut = 190,
  kEscUploadGreyLut = 191,
  kEscLeftOffsetV2 = 192,
};

// Window mode codes as the connection object and the scan run name them.
inline constexpr int32_t kModeColour = 0;
inline constexpr int32_t kModeGrey = 1;
inline constexpr int32_t kModeBlackWhite = 2;

// Generation 2's wire colour code of a window mode code; -1 for a code it refuses.
int32_t WireColourCode(int32_t modeCode);

// CRC-32/BZIP2: polynomial 0x04C11DB7, not reflected, initial value and final XOR 0xFFFFFFFF.
uint32_t Crc32Bzip2(const uint8_t* data, size_t size);

inline constexpr size_t kToneTableSize = 4096;
// Generation 2's tone table for (offset, low, high, gamma); false for low >= high or a gamma
// outside 1.0..3.0 (or not a number).
bool BuildToneTable(int32_t offset, int32_t low, int32_t high, float gamma,
                    std::array<uint8_t, kToneTableSize>& table);

// Generation 1's WaitReady gives up after this long without a ready answer.
inline constexpr int64_t kWaitReadyLimitMs = 120000;
inline constexpr int64_t kWaitReadyPollMs = 250;

}  // namespace orb::kelvane

class IKelvaneFunctions {
 public:
  virtual ~IKelvaneFunctions();
  virtual bool SetWindow(int32_t width, int32_t length, int32_t dpi, int32_t modeCode) = 0;
  virtual bool GetMediaFlags(uint8_t* first, uint8_t* second) = 0;
  virtual bool StartScan() = 0;
  virtual bool EndScan() = 0;
  // Reads up to `requested` bytes; *returned is what came.
  virtual bool ReadData(uint8_t* buffer, uint32_t requested, int32_t lineBytes,
                        uint32_t* returned) = 0;
  virtual bool SetSpeed(uint8_t value) = 0;
  virtual bool SetPaperHandling(int32_t value) = 0;
  virtual bool SetThreshold(int32_t adaptive, int32_t threshold, int32_t windowSize,
                            int32_t dynamic) = 0;
  virtual bool GetStatus(int32_t* s0, int32_t* s1, int32_t* s2, int32_t* s3) = 0;
  virtual bool GetAreaSize(int32_t flag, int32_t* width, int32_t* length) = 0;
  virtual bool SetLeftOffsetMode(bool on) = 0;
  virtual bool GetInfo(KelvaneInfoType& record) = 0;
  virtual bool SetGamma(int32_t offset, int32_t low, int32_t high, float gamma) = 0;
  virtual bool WaitReady() = 0;
  virtual int GetMaxResolution() = 0;
  virtual bool GetDeviceFlags(int32_t* a, int32_t* flags, int32_t* c);
  virtual bool GetReadState(int32_t* a, int32_t* b);
  virtual bool SetWindowEx(const std::array<int32_t, 6>& values, int32_t modeCode);
  virtual bool Reserved();
};

// Shared by both generations: the escapes whose bytes do not differ.
class CKelvaneFunctionsBase : public IKelvaneFunctions {
 public:
  explicit CKelvaneFunctionsBase(IScannerCommand* transport) : m_transport(transport) {}
  bool SetPaperHandling(int32_t value) override;
  bool SetThreshold(int32_t adaptive, int32_t threshold, int32_t windowSize,
                    int32_t dynamic) override;

 protected:
  // One escape; *actual (when given) is what came back.
  bool Send(int32_t code, const std::vector<uint8_t>& in, void* out, uint32_t outLength,
            uint32_t* actual = nullptr);
  // One escape whose answer must fill `outLength` bytes (a short answer is a failure).
  bool SendFull(int32_t code, const std::vector<uint8_t>& in, void* out, uint32_t outLength);
  // One escape answered with one acknowledgement byte that carries nothing.
  bool SendAck(int32_t code, const std::vector<uint8_t>& in);
  bool AreaSize(int32_t flag, int32_t* r1, int32_t* r2);

  IScannerCommand* m_transport;
};

class CKelvaneFunctionsV1 final : public CKelvaneFunctionsBase {
 public:
  explicit CKelvaneFunctionsV1(IScannerCommand* transport, orb::Clock* clock = nullptr);
  bool SetWindow(int32_t width, int32_t length, int32_t dpi, int32_t modeCode) override;
  bool GetMediaFlags(uint8_t* first, uint8_t* second) override;
  bool StartScan() override;
  bool EndScan() override;
  bool ReadData(uint8_t* buffer, uint32_t requested, int32_t lineBytes,
                uint32_t* returned) override;
  bool SetSpeed(uint8_t value) override;
  bool GetStatus(int32_t* s0, int32_t* s1, int32_t* s2, int32_t* s3) override;
  bool GetAreaSize(int32_t flag, int32_t* width, int32_t* length) override;
  bool SetLeftOffsetMode(bool on) override;
  bool GetInfo(KelvaneInfoType& record) override;
  bool SetGamma(int32_t offset, int32_t low, int32_t high, float gamma) override;
  bool WaitReady() override;
  int GetMaxResolution() override;

 private:
  orb::Clock* m_clock;
};

class CKelvaneFunctionsV2 final : public CKelvaneFunctionsBase {
 public:
  explicit CKelvaneFunctionsV2(IScannerCommand* transport) : CKelvaneFunctionsBase(transport) {}
  bool SetWindow(int32_t width, int32_t length, int32_t dpi, int32_t modeCode) override;
  bool GetMediaFlags(uint8_t* first, uint8_t* second) override;
  bool StartScan() override;
  bool EndScan() override;
  bool ReadData(uint8_t* buffer, uint32_t requested, int32_t lineBytes,
                uint32_t* returned) override;
  bool SetSpeed(uint8_t value) override;
  bool GetStatus(int32_t* s0, int32_t* s1, int32_t* s2, int32_t* s3) override;
  bool GetAreaSize(int32_t flag, int32_t* width, int32_t* length) override;
  bool SetLeftOffsetMode(bool on) override;
  bool GetInfo(KelvaneInfoType& record) override;
  bool SetGamma(int32_t offset, int32_t low, int32_t high, float gamma) override;
  bool WaitReady() override;
  int GetMaxResolution() override;
  bool GetDeviceFlags(int32_t* a, int32_t* flags, int32_t* c) override;
  bool GetReadState(int32_t* a, int32_t* b) override;
  bool SetWindowEx(const std::array<int32_t, 6>& values, int32_t modeCode) override;

  // Sends the tone table by the wire colour code of the last accepted window.
  bool UploadLut(const std::array<uint8_t, orb::kelvane::kToneTableSize>& table);
  // The wire colour code of the last accepted window; 9999 before any.
  int32_t WireCode() const { return m_wireCode; }

 private:
  bool SendWindow(const std::array<int32_t, 7>& fields, int32_t wire);
  int32_t m_wireCode = 9999;
};
