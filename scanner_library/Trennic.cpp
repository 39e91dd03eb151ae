// The scanner object: construction, Open, the last-error triple and the common command
// frame.
#include <cstring>
#include <exception>
#include <new>
#include <vector>

#include "scanner_library/ScsiCommands.h"
#include "scanner_library/TrennicInternal.h"
#include "scanner_library/trennic.h"

uint32_t CTrennic::ToBigEndian32(uint32_t v) {
  return ((v & 0xFF) << 24) | ((v & 0xFF00) << 8) | ((v >> 8) & 0xFF00) | (v >> 24);
}

uint16_t CTrennic::ToBigEndian16(uint16_t v) {
  return static_cast<uint16_t>((v << 8) | (v >> 8));
}

CTrennic::CTrennic() : colorCache_(new (std::nothrow) unsigned char[65536]) {}

CTrennic::~CTrennic() = default;

void CTrennic::SetLastError(int srbStatus, int senseCode, ErrorTrennicType type) {
  std::lock_guard lock(errorMutex_);
  lastSrbStatus_ = srbStatus;
  lastSenseCode_ = senseCode;
  lastErrorType_ = type;
}

void CTrennic::SetScsiCommandError() {
  if (!transport_) return;
  int srb = 0, sense = 0, type = 0;
  transport_->GetCommandError(&srb, &sense, &type);
  SetLastError(srb, sense, static_cast<ErrorTrennicType>(type));
}

ErrorTrennicType CTrennic::GetLastTrennicError() {
  std::lock_guard lock(errorMutex_);
  return static_cast<ErrorTrennicType>(lastErrorType_);
}

unsigned short CTrennic::GetLastTrennicScsiError() {
  std::lock_guard lock(errorMutex_);
  return static_cast<unsigned short>(lastSenseCode_ & 0xFFFF);
}

bool CTrennic::IsOpen() const { return transport_ && adapterId_ != -1 && targetId_ != -1; }

bool CTrennic::Open(DeviceInfoType& info) {
  return Guard(false, [&] {
    transport_.reset();
    adapterId_ = targetId_ = -1;
    // A failed open leaves a record that names no scanner and matches no model.
    std::memset(&info, 0, sizeof info);
    info.AdapterId = info.TargetId = -1;

    bool ok = false;
    {
      std::unique_ptr<CScsiCommand> aspi(new (std::nothrow) CASPIcommand);
      if (!aspi) {
        SetLastError(0, 0, TRENNIC_OUT_OF_MEMORY);
        return false;
      }
      ok = aspi->OpenScanner(info, 0);
      if (ok) transport_ = std::move(aspi);
    }
    if (!ok) {
      std::unique_ptr<CScsiCommand> sti(new (std::nothrow) CSTIcommand);
      if (!sti) {
        SetLastError(0, 0, TRENNIC_OUT_OF_MEMORY);
        return false;
      }
      ok = sti->OpenScanner(info, 0);
      transport_ = std::move(sti);
    }
    if (ok) {
      adapterId_ = info.AdapterId;
      targetId_ = info.TargetId;
    } else {
      std::memset(&info, 0, sizeof info);
      info.AdapterId = info.TargetId = -1;
    }
    char product[17] = {};
    std::memcpy(product, info.ProductId, 16);
    ScannerDetailsInquiry(product, info.InquiryByte36);
    return ok;
  });
}

bool CTrennic::UnitReady(AditionalSenseCodeType* out) {
  return Guard(false, [&] {
    if (out) *out = ASC_NONE;
    if (!IsOpen()) return false;
    orb::trennic::Cdb cdb(orb::trennic::Opcode::TestUnitReady);
    std::memset(sense_, 0, sizeof sense_);
    bool ok = transport_->ExecTestUnitScsiCommand(0, nullptr, cdb.size(), cdb.data(), sense_,
                                                  SCSI_NO_DATA);
    if (out) *out = static_cast<AditionalSenseCodeType>(sense_[12] << 8 | sense_[13]);
    return ok;
  });
}

bool CTrennic::SetObjectPosition(ObjectCommandType type, int count) {
  return Guard(false, [&] {
    if (!IsOpen()) return false;
    orb::trennic::Cdb cdb(orb::trennic::Opcode::ObjectPosition);
    cdb.PositionType(static_cast<uint8_t>(type)).PositionCount(static_cast<uint32_t>(count));
    unsigned char sense[16] = {};
    if (!transport_->ExecScsiCommand(0, nullptr, cdb.size(), cdb.data(), sense, SCSI_NO_DATA)) {
      SetScsiCommandError();
      return false;
    }
    return true;
  });
}

bool CTrennic::Command(const unsigned char* cdbIn, int cdbLength, unsigned char* data,
                       int dataLength, unsigned char direction, bool recordError,
                       unsigned char* sense) {
  if (!IsOpen()) return false;
  unsigned char cdb[16] = {};
  std::memcpy(cdb, cdbIn, static_cast<size_t>(cdbLength));
  unsigned char* senseBuffer = sense ? sense : sense_;
  if (!transport_->ExecScsiCommand(dataLength, data, cdbLength, cdb, senseBuffer, direction)) {
    if (recordError) SetScsiCommandError();
    return false;
  }
  return true;
}

bool CTrennic::ResetDevice() { return true; }
