// The family's SCSI commands by name: the opcodes, a command block with named field
// setters, and the SET WINDOW parameter block with named fields. Numbers wider than a byte are
// big-endian in both.
#pragma once

#include <cstdint>
#include <cstring>

#include "scanner_library/TrennicInternal.h"

namespace orb::trennic {

enum class Opcode : uint8_t {
  TestUnitReady = 0x00,
  Inquiry = 0x12,
  Scan = 0x1B,
  ReceiveDiagnosticResults = 0x1C,
  SendDiagnostic = 0x1D,
  SetWindow = 0x24,
  Read10 = 0x28,
  Send10 = 0x2A,
  ObjectPosition = 0x31,
  WriteBuffer = 0x3B,
  ReadBuffer = 0x3C,
};

// SEND(10) data type code of the vendor parameters and tables.
constexpr uint8_t kDataTypeParameter = 1;
// SEND DIAGNOSTIC byte 1: page format; with the standard self-test bit.
constexpr uint8_t kDiagnosticPageFormat = 0x10;
constexpr uint8_t kDiagnosticSelfTest = 0x14;
// WRITE BUFFER mode: download and save; READ BUFFER mode: vendor data (the counters).
constexpr uint8_t kBufferDownloadAndSave = 5;
constexpr uint8_t kBufferVendorData = 1;

// A command descriptor block: 6 bytes for the opcodes below 0x20, 10 above.
class Cdb {
 public:
  explicit Cdb(Opcode op) : size_(static_cast<uint8_t>(op) < 0x20 ? 6 : 10) {
    b_[0] = static_cast<unsigned char>(op);
  }
  unsigned char* data() { return b_; }
  const unsigned char* data() const { return b_; }
  int size() const { return size_; }

  // 6-byte commands.
  Cdb& AllocationLength(uint8_t n) { return Put8(4, n); }             // INQUIRY
  Cdb& WindowListLength(uint8_t n) { return Put8(4, n); }             // SCAN
  Cdb& ParameterListLength(uint16_t n) { return Put16(3, n); }        // SEND / RECEIVE DIAGNOSTIC
  Cdb& DiagnosticFlags(uint8_t flags) { return Put8(1, flags); }      // SEND DIAGNOSTIC
  // 10-byte commands.
  Cdb& TransferLength(uint32_t n) { return Put24(6, n); }             // READ, SEND, SET WINDOW, buffers
  Cdb& DataTypeCode(uint8_t code) { return Put8(2, code); }           // SEND(10)
  Cdb& DataTypeQualifier(uint16_t q) { return Put16(4, q); }          // SEND(10): parameter number
  Cdb& BufferMode(uint8_t mode) { return Put8(1, mode); }             // WRITE / READ BUFFER
  Cdb& BufferOffset(uint32_t offset) { return Put24(3, offset); }     // WRITE BUFFER
  Cdb& PositionType(uint8_t type) { return Put8(1, type); }           // OBJECT POSITION
  Cdb& PositionCount(uint32_t count) { return Put24(2, count); }      // OBJECT POSITION

 private:
  Cdb& Put8(int at, uint8_t v) {
    b_[at] = v;
    return *this;
  }
  Cdb& Put16(int at, uint32_t v) {
    PutBE16(b_ + at, v);
    return *this;
  }
  Cdb& Put24(int at, uint32_t v) {
    PutBE24(b_ + at, v);
    return *this;
  }
  unsigned char b_[10] = {};
  int size_;
};

// The 56-byte SET WINDOW parameter list: an 8-byte header and one window descriptor.
class WindowFields {
 public:
  static constexpr int kSize = 56;
  static constexpr uint16_t kDescriptorLength = 0x30;

  explicit WindowFields(unsigned char* block) : b_(block) {}
  // All zero with the header's descriptor length.
  void Clear() {
    std::memset(b_, 0, kSize);
    PutBE16(b_ + 6, kDescriptorLength);
  }

  void SetXResolution(int v) { PutBE16(b_ + 10, static_cast<uint32_t>(v)); }
  void SetYResolution(int v) { PutBE16(b_ + 12, static_cast<uint32_t>(v)); }
  void SetUpperLeftX(int v) { PutBE32(b_ + 14, static_cast<uint32_t>(v)); }
  void SetUpperLeftY(int v) { PutBE32(b_ + 18, static_cast<uint32_t>(v)); }
  void SetWidth(int v) { PutBE32(b_ + 22, static_cast<uint32_t>(v)); }
  void SetLength(int v) { PutBE32(b_ + 26, static_cast<uint32_t>(v)); }
  void SetBrightness(int v) { b_[30] = Low(v); }
  void SetThreshold(int v) { b_[31] = Low(v); }
  void SetComposition(int v) { b_[33] = Low(v); }
  void SetBitsPerPixel(int v) { b_[34] = Low(v); }
  void SetFlags(int v) { b_[37] = Low(v); }
  void SetOption(int v) { b_[40] = Low(v); }
  void SetStitchAlign(bool on) { std::memset(b_ + 42, on ? 1 : 0, 4); }
  void SetCameraStitch(unsigned char v) { b_[46] = v; }
  void SetLibraryStitches(bool on) { b_[47] = on ? 1 : 0; }
  void SetVendor(int i, int v) { b_[48 + i] = Low(v); }  // i = 0 .. 5
  void SetVendorLast(int v) { b_[55] = Low(v); }

  int XResolution() const { return (b_[10] << 8) | b_[11]; }
  int UpperLeftX() const { return static_cast<int>(GetBE32(b_ + 14)); }
  int Width() const { return static_cast<int>(GetBE32(b_ + 22)); }
  int Composition() const { return b_[33]; }
  int BitsPerPixel() const { return b_[34]; }
  unsigned char CameraStitch() const { return b_[46]; }

 private:
  static unsigned char Low(int v) { return static_cast<unsigned char>(v & 0xFF); }
  unsigned char* b_;
};

}  // namespace orb::trennic
