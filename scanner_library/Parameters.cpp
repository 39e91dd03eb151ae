// Vendor parameters, tone and colour tables and usage counters (SEND(10), data type 1).
#include <cstring>
#include <vector>

#include "scanner_library/ScsiCommands.h"
#include "scanner_library/TrennicInternal.h"
#include "scanner_library/trennic.h"

using orb::trennic::GetBE32;
using orb::trennic::PutBE16;
using orb::trennic::PutBE24;
using orb::trennic::PutBE32;

namespace {

constexpr int kColorTableSize = 65536;
constexpr int kTrcTableSize = 4097;
constexpr int kRgbBlockSize = 65536;

unsigned char Low(int v) { return static_cast<unsigned char>(v & 0xFF); }

}  // namespace

// SEND(10): byte 2 data type code 1, bytes 4-5 the parameter number, 6-8 the length.
bool CTrennic::SendParameter(int parameter, const unsigned char* data, int length,
                             bool recordError, bool ownCopy) {
  if (!IsOpen()) return false;
  orb::trennic::Cdb cdb(orb::trennic::Opcode::Send10);
  cdb.DataTypeCode(orb::trennic::kDataTypeParameter)
      .DataTypeQualifier(static_cast<uint16_t>(parameter))
      .TransferLength(static_cast<uint32_t>(length));
  std::vector<unsigned char> own;
  unsigned char* payload = const_cast<unsigned char*>(data);
  if (ownCopy && length > 0) {
    own.assign(data, data + length);
    payload = own.data();
  }
  return Command(cdb.data(), cdb.size(), length > 0 ? payload : nullptr, length,
                 length > 0 ? SCSI_DATA_OUT : SCSI_NO_DATA, recordError);
}

bool CTrennic::StopScan() {
  return Guard(false, [&] {
    if (!IsOpen()) return false;
    // May come from another thread while a read is pending: its own sense buffer, so the
    // reader's sense (and residue) stay its own.
    orb::trennic::Cdb cdb(orb::trennic::Opcode::Send10);
    cdb.DataTypeCode(orb::trennic::kDataTypeParameter).DataTypeQualifier(0).TransferLength(1);
    unsigned char data[1] = {0};
    unsigned char sense[16] = {};
    return Command(cdb.data(), cdb.size(), data, 1, SCSI_DATA_OUT, true, sense);
  });
}

bool CTrennic::SetFractionalSpeed(int speed) {
  return Guard(false, [&] {
    if (!IsOpen()) return false;
    fractionalSpeed_ = speed;
    unsigned char d[1] = {Low(speed)};
    return SendParameter(1, d, 1, true);
  });
}

bool CTrennic::SetMotorCount(int count) {
  return Guard(false, [&] {
    unsigned char d[5];
    PutBE32(d, static_cast<uint32_t>(count));
    d[4] = 1;
    return SendParameter(3, d, 5, false);
  });
}

bool CTrennic::SetPaperTransport(PaperTransportType type) {
  return Guard(false, [&] {
    unsigned char d[1] = {Low(type)};
    return SendParameter(6, d, 1, true);
  });
}

bool CTrennic::UnNormaliseScanner() {
  return Guard(false, [&] { return SendParameter(7, nullptr, 0, true); });
}

bool CTrennic::SetIllumination(IlluminationType type) {
  return Guard(false, [&] {
    unsigned char d[1] = {Low(type)};
    return SendParameter(8, d, 1, true);
  });
}

bool CTrennic::SetBrightness(int value) {
  return Guard(false, [&] {
    unsigned char d[1] = {Low(value)};
    return SendParameter(17, d, 1, true);
  });
}

bool CTrennic::SetBinaryThreshold(int value) {
  return Guard(false, [&] {
    unsigned char d[1] = {Low(value)};
    return SendParameter(18, d, 1, true);
  });
}

bool CTrennic::SetPaperStagingPosition(short position) {
  return Guard(false, [&] {
    unsigned char d[2];
    PutBE16(d, static_cast<uint16_t>(position));
    return SendParameter(22, d, 2, false);
  });
}

bool CTrennic::SetPostEndOfMediaRunOn(short runOn) {
  return Guard(false, [&] {
    unsigned char d[2];
    PutBE16(d, static_cast<uint16_t>(runOn));
    return SendParameter(23, d, 2, true);
  });
}

bool CTrennic::SetFrontBackAlign(unsigned char a, unsigned char b, unsigned char c) {
  return Guard(false, [&] {
    unsigned char d[3] = {a, b, c};
    return SendParameter(26, d, 3, true);
  });
}

bool CTrennic::SetFrontBackAlign(unsigned char a, unsigned char b, unsigned char c,
                                 unsigned char e, unsigned char f) {
  return Guard(false, [&] {
    unsigned char d[5] = {a, b, c, e, f};
    return SendParameter(26, d, 5, true);
  });
}

bool CTrennic::SetLeftRightStitch(unsigned char a, unsigned char b, unsigned char c) {
  return Guard(false, [&] {
    unsigned char d[3] = {a, b, c};
    return SendParameter(27, d, 3, false);
  });
}

bool CTrennic::SetLeftRightStitch(unsigned char a, unsigned char b, unsigned char c,
                                  unsigned char e, unsigned char f) {
  return Guard(false, [&] {
    unsigned char d[5] = {a, b, c, e, f};
    return SendParameter(27, d, 5, false);
  });
}

bool CTrennic::SetMotorControl(MotorControlType type) {
  return Guard(false, [&] {
    unsigned char d[1] = {Low(type)};
    return SendParameter(30, d, 1, false);
  });
}

bool CTrennic::LoadColorTranslationTable(unsigned char* table) {
  return Guard(false, [&] {
    if (!table) return false;
    // The cache counts only once a table was accepted: the first table always goes out.
    if (colorCacheValid_ && colorCache_ &&
        std::memcmp(table, colorCache_.get(), kColorTableSize) == 0)
      return true;
    if (!IsOpen()) return false;
    colorCacheValid_ = false;
    if (!SendParameter(35, table, kColorTableSize, true, false)) return false;
    if (colorCache_) {
      std::memcpy(colorCache_.get(), table, kColorTableSize);
      colorCacheValid_ = true;
    }
    return true;
  });
}

bool CTrennic::LoadTrcTable(unsigned char* table) {
  return Guard(false, [&] {
    if (!table) return false;
    return SendParameter(39, table, kTrcTableSize, true, false);
  });
}

bool CTrennic::SetFilter(FilterType type) {
  return Guard(false, [&] {
    unsigned char d[1] = {Low(type)};
    return SendParameter(48, d, 1, false);
  });
}

bool CTrennic::RGBControl(RGBControlType type) {
  return Guard(false, [&] {
    unsigned char d[1] = {Low(type)};
    return SendParameter(50, d, 1, false);
  });
}

bool CTrennic::LoadCameraMappingInfo(unsigned char* data) {
  return Guard(false, [&] {
    if (!data) return false;
    return SendParameter(51, data, 1536, false, false);
  });
}

bool CTrennic::SetPaperStage(int value) {
  return Guard(false, [&] {
    unsigned char d[5];
    PutBE32(d, static_cast<uint32_t>(value));
    d[4] = 1;
    return SendParameter(53, d, 5, true);
  });
}

bool CTrennic::SetPaperLength(int value) {
  return Guard(false, [&] {
    unsigned char d[5];
    PutBE32(d, static_cast<uint32_t>(value));
    d[4] = 1;
    return SendParameter(54, d, 5, true);
  });
}

bool CTrennic::SetAutoLoadDelay(int delay) {
  return Guard(false, [&] {
    unsigned char d[1] = {Low(delay)};
    return SendParameter(55, d, 1, true);
  });
}

bool CTrennic::SetMotorCorrection(int a, int b, int c, int e) {
  return Guard(false, [&] {
    unsigned char d[9];
    PutBE16(d, static_cast<uint32_t>(a));
    PutBE16(d + 2, static_cast<uint32_t>(b));
    PutBE16(d + 4, static_cast<uint32_t>(c));
    PutBE16(d + 6, static_cast<uint32_t>(e));
    d[8] = 1;
    return SendParameter(56, d, 9, false);
  });
}

bool CTrennic::SetIAT(int windowSize, unsigned char a, unsigned char b, unsigned char c,
                      unsigned char e) {
  return Guard(false, [&] {
    unsigned char d[6] = {0, Low(windowSize), a, b, c, e};
    return SendParameter(80, d, 6, true);
  });
}

bool CTrennic::LoadRGBTable(unsigned char* table) {
  return Guard(false, [&] {
    if (!table) return false;
    for (int k = 0; k < 16; ++k)
      if (!SendParameter(k << 8 | 0x31, table + static_cast<size_t>(k) * kRgbBlockSize,
                         kRgbBlockSize, false, false))
        return false;
    return true;
  });
}

bool CTrennic::LoadRGBTable(unsigned char* table, unsigned int length) {
  return Guard(false, [&] {
    if (!table) return false;
    unsigned int k = 0;
    size_t offset = 0;
    while (length - offset >= static_cast<size_t>(kRgbBlockSize)) {
      if (!SendParameter(static_cast<int>(k << 8 | 0x31), table + offset, kRgbBlockSize, true,
                         false))
        return false;
      ++k;
      offset += kRgbBlockSize;
    }
    if (offset < length) {
      if (!SendParameter(static_cast<int>(k << 8 | 0x31), table + offset,
                         static_cast<int>(length - offset), true, false))
        return false;
    }
    return true;
  });
}

bool CTrennic::SetPass(unsigned char* data) {
  return Guard(false, [&] { return data && SendParameter(112, data, 8, true, false); });
}

bool CTrennic::ResetInternallySetIncrementalCounters(unsigned char* data) {
  return Guard(false, [&] { return data && SendParameter(113, data, 4, true, false); });
}

bool CTrennic::ResetExternallySetIncrementaCounters(unsigned char* data) {
  return Guard(false, [&] { return data && SendParameter(114, data, 4, true, false); });
}

bool CTrennic::IncrementExternalCounters(unsigned char* data) {
  return Guard(false, [&] { return data && SendParameter(115, data, 8, false, false); });
}

bool CTrennic::SetCounters(unsigned char* data) {
  return Guard(false, [&] {
    if (!data || !IsOpen()) return false;
    for (int i = 0; i < 8; ++i) {
      uint32_t v;
      std::memcpy(&v, data + 4 * i, 4);
      PutBE32(data + 4 * i, v);
    }
    return SendParameter(116, data, 33, true, false);
  });
}

bool CTrennic::ReadCounters(unsigned char* data) {
  return Guard(false, [&] {
    if (!data || !IsOpen()) return false;
    orb::trennic::Cdb cdb(orb::trennic::Opcode::ReadBuffer);
    cdb.BufferMode(orb::trennic::kBufferVendorData).TransferLength(32);
    if (!Command(cdb.data(), cdb.size(), data, 32, SCSI_DATA_IN, true)) return false;
    for (int i = 0; i < 8; ++i) {
      uint32_t v = GetBE32(data + 4 * i);
      std::memcpy(data + 4 * i, &v, 4);
    }
    return true;
  });
}
