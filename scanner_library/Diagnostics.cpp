// Diagnostic pages (SEND DIAGNOSTIC / RECEIVE DIAGNOSTIC RESULTS) and firmware download.
#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/Clock.h"
#include "scanner_library/ScsiCommands.h"
#include "scanner_library/TrennicInternal.h"
#include "scanner_library/trennic.h"

using orb::trennic::PutBE16;
using orb::trennic::PutBE24;

namespace {
unsigned char Low(int v) { return static_cast<unsigned char>(v & 0xFF); }
constexpr int kBlock = 65536;
}  // namespace

// One page: page code, 0, 0, parameter length, parameters.
bool CTrennic::SendDiagnosticPage(unsigned char page, const unsigned char* params, int length) {
  std::vector<unsigned char> list(4 + static_cast<size_t>(length), 0);
  list[0] = page;
  list[3] = static_cast<unsigned char>(length);
  if (length > 0) std::memcpy(list.data() + 4, params, static_cast<size_t>(length));
  orb::trennic::Cdb cdb(orb::trennic::Opcode::SendDiagnostic);
  cdb.DiagnosticFlags(orb::trennic::kDiagnosticPageFormat)
      .ParameterListLength(static_cast<uint16_t>(list.size()));
  return Command(cdb.data(), cdb.size(), list.data(), static_cast<int>(list.size()), SCSI_DATA_OUT,
                 true);
}

#define TRENNIC_PAGE0(name, page) \
  bool CTrennic::name() { \
    return Guard(false, [&] { return SendDiagnosticPage(page, nullptr, 0); }); \
  }
#define TRENNIC_PAGE1(name, page) \
  bool CTrennic::name(int v) { \
    return Guard(false, [&] { \
      unsigned char p[1] = {Low(v)}; \
      return SendDiagnosticPage(page, p, 1); \
    }); \
  }
#define TRENNIC_PAGE2(name, page) \
  bool CTrennic::name(int a, int b) { \
    return Guard(false, [&] { \
      unsigned char p[2] = {Low(a), Low(b)}; \
      return SendDiagnosticPage(page, p, 2); \
    }); \
  }

TRENNIC_PAGE0(StopCurrentDiagnostic, 0x80)
TRENNIC_PAGE1(MagnificationDiagnostic, 0x81)
TRENNIC_PAGE1(CameraLevelsDiagnostic, 0x83)
TRENNIC_PAGE0(LightNormalisationDiagnostic, 0x84)
TRENNIC_PAGE0(DarkNormalisationDiagnostic, 0x85)
TRENNIC_PAGE1(SwitchSensorDiagnostic, 0x8E)
TRENNIC_PAGE0(AutoFrontBackDiagnostic, 0x91)
TRENNIC_PAGE0(AutoLeftRightDiagnostic, 0xA2)
TRENNIC_PAGE2(CameraTRCLineRamDiagnostic, 0xB0)
TRENNIC_PAGE2(CameraCoefficientMemoryDiagnostic, 0xB1)
TRENNIC_PAGE1(PaletteRamDiagnostic, 0xB2)
TRENNIC_PAGE1(FlagRamDiagnostic, 0xB3)
TRENNIC_PAGE1(ColourDelayRAMDiagnostic, 0xB4)
TRENNIC_PAGE1(VariableResLineDelayDiagnostic, 0xB5)
TRENNIC_PAGE1(OutputFIFODiagnostic, 0xB6)
TRENNIC_PAGE1(DSPActiveDiagnostic, 0xB7)
TRENNIC_PAGE1(DSPFIFODiagnostic, 0xB8)
TRENNIC_PAGE2(VqCameraTRCLineRamDiagnostic, 0xB0)
TRENNIC_PAGE1(VqFlagRamDiagnostic, 0xB1)
TRENNIC_PAGE1(VqVariableResRamDiagnostic, 0xB2)
TRENNIC_PAGE1(VqFilterRamDiagnostic, 0xB3)
TRENNIC_PAGE1(VqDSPDiagnostic, 0xB4)
TRENNIC_PAGE1(VqDSPThresholdFIFODiagnostic, 0xB5)
TRENNIC_PAGE1(VqSrgbRamDiagnostic, 0xB6)
TRENNIC_PAGE1(VqPaletteRamDiagnostic, 0xB7)
TRENNIC_PAGE1(VqOutputFifoDiagnostic, 0xB8)
TRENNIC_PAGE1(VqImageDataPathDiagnostic, 0xB9)
TRENNIC_PAGE1(VqSelfTestDiagnostic, 0xBA)

#undef TRENNIC_PAGE0
#undef TRENNIC_PAGE1
#undef TRENNIC_PAGE2

bool CTrennic::AccuracyDiagnostic(int a, int b) {
  return Guard(false, [&] {
    unsigned char p[4];
    PutBE16(p, static_cast<uint32_t>(a));
    PutBE16(p + 2, static_cast<uint32_t>(b));
    return SendDiagnosticPage(0x8B, p, 4);
  });
}

bool CTrennic::CameraAlignmentDiagnostic(int a, int b, int c, int d, int e, int f) {
  return Guard(false, [&] {
    const int v[6] = {a, b, c, d, e, f};
    unsigned char p[12];
    for (int i = 0; i < 6; ++i) PutBE16(p + 2 * i, static_cast<uint32_t>(v[i]));
    return SendDiagnosticPage(0x8C, p, 12);
  });
}

bool CTrennic::SelfTestDiagnostic() {
  return Guard(false, [&] {
    orb::trennic::Cdb cdb(orb::trennic::Opcode::SendDiagnostic);
    cdb.DiagnosticFlags(orb::trennic::kDiagnosticSelfTest);
    return Command(cdb.data(), cdb.size(), nullptr, 0, SCSI_NO_DATA, true);
  });
}

bool CTrennic::ReceiveResultsDiagnostic(ReceiveResultsType* out, int length) {
  return Guard(false, [&] {
    if (!out || length < 0 || !IsOpen()) return false;
    orb::trennic::Cdb cdb(orb::trennic::Opcode::ReceiveDiagnosticResults);
    cdb.ParameterListLength(static_cast<uint16_t>(length));
    // The record holds 128 bytes; a longer answer is received aside and cut to it.
    if (length <= static_cast<int>(sizeof out->Data))
      return Command(cdb.data(), cdb.size(), out->Data, length, SCSI_DATA_IN, true);
    std::vector<unsigned char> buffer(static_cast<size_t>(length), 0);
    if (!Command(cdb.data(), cdb.size(), buffer.data(), length, SCSI_DATA_IN, true)) return false;
    std::memcpy(out->Data, buffer.data(), sizeof out->Data);
    return true;
  });
}

bool CTrennic::RetrieveDramDiagnostic(DramDataType* out) {
  return Guard(false, [&] {
    if (!out) return false;
    if (!SendDiagnosticPage(0xA6, nullptr, 0)) return false;
    out->Data[4] = 6;
    orb::Clock& clock = orb::DefaultClock();
    for (int i = 0; i < 6 && (out->Data[4] & 6) == 6; ++i) {
      clock.Sleep(orb::Clock::Ms(250));
      orb::trennic::Cdb cdb(orb::trennic::Opcode::ReceiveDiagnosticResults);
      cdb.ParameterListLength(128);
      if (!Command(cdb.data(), cdb.size(), out->Data, 128, SCSI_DATA_IN, true)) return false;
    }
    return true;
  });
}

bool CTrennic::WriteBuffer(unsigned char* data, int length, unsigned long offset) {
  return Guard(false, [&] {
    // An empty or negative load sends nothing: there is no empty block to write.
    if (!data || length <= 0 || !IsOpen()) return false;
    const int blocks = (length + kBlock - 1) / kBlock;
    for (int i = 0; i < blocks; ++i) {
      const int n = std::min(length - i * kBlock, kBlock);
      orb::trennic::Cdb cdb(orb::trennic::Opcode::WriteBuffer);
      cdb.BufferMode(orb::trennic::kBufferDownloadAndSave)
          .BufferOffset(static_cast<uint32_t>(offset + static_cast<unsigned long>(i) * kBlock))
          .TransferLength(static_cast<uint32_t>(n));
      if (!Command(cdb.data(), cdb.size(), data + static_cast<size_t>(i) * kBlock, n,
                   SCSI_DATA_OUT, true))
        return false;
    }
    return true;
  });
}

bool CTrennic::WriteBuffer(unsigned char* data, int length) {
  return Guard(false, [&] {
    if (!data || length <= 0 || !IsOpen()) return false;
    // Whole blocks at 0x80000 + i x 64 KB, then the rest as one short block: a load is
    // either written completely or reported as failed.
    const int blocks = (length + kBlock - 1) / kBlock;
    for (int i = 0; i < blocks; ++i) {
      const int n = std::min(length - i * kBlock, kBlock);
      orb::trennic::Cdb cdb(orb::trennic::Opcode::WriteBuffer);
      cdb.BufferMode(orb::trennic::kBufferDownloadAndSave)
          .BufferOffset(static_cast<uint32_t>(0x80000 + i * kBlock))
          .TransferLength(static_cast<uint32_t>(n));
      if (!Command(cdb.data(), cdb.size(), data + static_cast<size_t>(i) * kBlock, n,
                   SCSI_DATA_OUT, false))
        return false;
    }
    return true;
  });
}
