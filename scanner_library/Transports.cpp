// The two SCSI transports: the pass-through manager (tried first) and the still-image
// device list.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/sg/PassThrough.h"
#include "platform/sti/StiPassThrough.h"
#include "platform/sti/StillImage.h"
#include "scanner_library/ScsiCommands.h"
#include "scanner_library/trennic.h"

namespace {

namespace pt = orb::passthru;

// Held during every adapter inquiry, device-type request and the INQUIRY of the
// enumeration, as the pass-through managers expect one enumeration at a time.
std::mutex g_enumerationLock;

constexpr int64_t kCommandTimeoutMs = orb::passthru::kCommandTimeLimitMs;
constexpr int64_t kEnumerationTimeoutMs = 80000;
constexpr int kInquiryLength = 52;

bool VendorIs(const unsigned char* inquiry, const char* vendor, size_t n) {
  return std::memcmp(inquiry + 8, vendor, n) == 0;
}

void FillInfo(DeviceInfoType& info, int adapter, int target, const unsigned char* inq) {
  info.AdapterId = adapter;
  info.TargetId = target;
  // Bounded copies of exactly 8, 16 and 4 characters: a full field has no terminator,
  // a shorter text (a NUL inside) is zero-padded.
  auto copy = [](char* dst, const unsigned char* src, size_t n) {
    size_t len = 0;
    while (len < n && src[len] != 0) ++len;
    std::memcpy(dst, src, len);
    std::memset(dst + len, 0, n - len);
  };
  copy(info.VendorId, inq + 8, 8);
  copy(info.ProductId, inq + 16, 16);
  copy(info.ProductRevision, inq + 32, 4);
  info.InquiryByte36 = inq[36];
  info.InquiryByte37 = inq[37];
}

}  // namespace

// ---- CScsiCommand --------------------------------------------------------------------

CScsiCommand::CScsiCommand() = default;
CScsiCommand::~CScsiCommand() = default;

bool CScsiCommand::ExecScsiCommand(int dataLength, unsigned char* data, int cdbLength,
                                   unsigned char* cdb, unsigned char* sense,
                                   unsigned char direction) {
  unsigned char status = 0;
  bool ok = ExecScsiCommandStatus(dataLength, data, cdbLength, cdb, sense, direction, &status);
  srbStatus_.store(status);
  return ok;
}

bool CScsiCommand::GetSrbStatus() { return IsCompletedStatus(srbStatus_.load()); }

void CScsiCommand::SetCommandError(int srbStatus, int senseCode, int errorType) {
  std::lock_guard lock(errorMutex_);
  errSrb_ = srbStatus;
  errSense_ = senseCode;
  errType_ = errorType;
}

void CScsiCommand::GetCommandError(int* srbStatus, int* senseCode, int* errorType) {
  std::lock_guard lock(errorMutex_);
  if (srbStatus) *srbStatus = errSrb_;
  if (senseCode) *senseCode = errSense_;
  if (errorType) *errorType = errType_;
}

// ---- CASPIcommand --------------------------------------------------------------------

struct CASPIcommand::Impl {
  std::shared_ptr<pt::Manager> manager;
  std::unique_ptr<pt::AdapterInquiryRequest> adapterRequest;
  std::unique_ptr<pt::DeviceTypeRequest> deviceRequest;
  bool blocksPresent = false;
};

CASPIcommand::CASPIcommand() {
  impl_.reset(new (std::nothrow) Impl);
  if (!impl_) {
    SetCommandError(0, 0, TRENNIC_OUT_OF_MEMORY);
    return;
  }
  impl_->adapterRequest.reset(new (std::nothrow) pt::AdapterInquiryRequest);
  impl_->deviceRequest.reset(new (std::nothrow) pt::DeviceTypeRequest);
  impl_->blocksPresent = impl_->adapterRequest && impl_->deviceRequest;
  if (!impl_->blocksPresent) SetCommandError(0, 0, TRENNIC_OUT_OF_MEMORY);
}

CASPIcommand::~CASPIcommand() = default;

bool CASPIcommand::IsCompletedStatus(unsigned char s) const { return s == pt::kStatusCompleted; }

bool CASPIcommand::HostAdapterInquiry(int adapter, int* targetCount) {
  std::lock_guard lock(g_enumerationLock);
  auto& r = *impl_->adapterRequest;
  r.adapter = static_cast<uint8_t>(adapter);
  r.status = pt::kStatusPending;
  std::memset(r.uniqueParams, 0, sizeof r.uniqueParams);
  impl_->manager->SendAdapterInquiry(r);
  // Managers that answer later are polled: 150 ms first, then 100 ms at a time, bounded.
  orb::Clock& clock = orb::DefaultClock();
  if (r.status.load() == pt::kStatusPending) {
    const int64_t start = clock.NowMs();
    clock.Sleep(orb::Clock::Ms(150));
    while (r.status.load() == pt::kStatusPending &&
           clock.NowMs() - start < kEnumerationTimeoutMs)
      clock.Sleep(orb::Clock::Ms(100));
  }
  if (r.status.load() != pt::kStatusCompleted) return false;
  *targetCount = r.uniqueParams[3];
  return true;
}

int CASPIcommand::GetDeviceType(int adapter, int target) {
  std::lock_guard lock(g_enumerationLock);
  auto& r = *impl_->deviceRequest;
  r.adapter = static_cast<uint8_t>(adapter);
  r.target = static_cast<uint8_t>(target);
  r.lun = 0;
  r.status = pt::kStatusPending;
  r.deviceType = pt::kDeviceTypeUnknown;
  impl_->manager->SendDeviceType(r);
  orb::Clock& clock = orb::DefaultClock();
  if (r.status.load() == pt::kStatusPending) {
    const int64_t start = clock.NowMs();
    clock.Sleep(orb::Clock::Ms(100));
    while (r.status.load() == pt::kStatusPending &&
           clock.NowMs() - start < kEnumerationTimeoutMs)
      clock.Sleep(orb::Clock::Ms(50));
  }
  if (r.status.load() != pt::kStatusCompleted) return -1;
  return r.deviceType;
}

bool CASPIcommand::OpenScanner(DeviceInfoType& info, int) {
  if (!impl_ || !impl_->blocksPresent) {
    SetCommandError(0, 0, TRENNIC_NO_PASSTHROUGH);
    return false;
  }
  if (targetId_ != -1) return true;
  if (!flag_) {
    impl_->manager = pt::LoadManager();
    if (!impl_->manager) {
      SetCommandError(0, 0, TRENNIC_NO_PASSTHROUGH);
      return false;
    }
    flag_ = 1;
  }
  uint32_t support = impl_->manager->GetSupportInfo();
  if (((support >> 8) & 0xFF) != pt::kStatusCompleted) return false;
  const int adapters = static_cast<int>(support & 0xFF);
  for (int adapter = adapters - 1; adapter >= 0 && targetId_ == -1; --adapter) {
    int targets = 0;
    if (!HostAdapterInquiry(adapter, &targets) && !HostAdapterInquiry(adapter, &targets))
      targets = 8;
    if (targets == 0 || targets > 8) targets = 8;
    for (int target = 0; target < targets && targetId_ == -1; ++target) {
      if (GetDeviceType(adapter, target) != pt::kDeviceTypeScanner) continue;
      adapterId_ = adapter;
      targetId_ = target;
      std::vector<unsigned char> inquiry;
      try {
        inquiry.assign(kInquiryLength, 0);
      } catch (const std::bad_alloc&) {
        adapterId_ = targetId_ = -1;
        SetCommandError(0, 0, TRENNIC_OUT_OF_MEMORY);
        return false;
      }
      orb::trennic::Cdb cdb(orb::trennic::Opcode::Inquiry);
      cdb.AllocationLength(kInquiryLength);
      unsigned char sense[16] = {};
      bool ok;
      {
        std::lock_guard lock(g_enumerationLock);
        ok = ExecScsiCommand(kInquiryLength, inquiry.data(), cdb.size(), cdb.data(), sense,
                             SCSI_DATA_IN);
      }
      if (ok && (VendorIs(inquiry.data(), "TESSIVAN", 8) || VendorIs(inquiry.data(), "KORVA", 5))) {
        FillInfo(info, adapter, target, inquiry.data());
      } else {
        adapterId_ = targetId_ = -1;
      }
    }
  }
  return targetId_ != -1;
}

unsigned char CASPIcommand::Send(int dataLength, unsigned char* data, int cdbLength,
                                 const unsigned char* cdb, unsigned char* sense,
                                 unsigned char direction) {
  // The request owns its data buffer: if the wait times out, the device may still write
  // into it later, so it stays with the request (and the manager) and the caller's
  // buffer is left alone.
  std::memset(sense, 0, pt::kSenseLength);
  auto request = std::make_shared<pt::ExecRequest>();
  request->adapter = static_cast<uint8_t>(adapterId_);
  request->target = static_cast<uint8_t>(targetId_);
  request->lun = 0;
  request->direction = direction == SCSI_DATA_IN    ? pt::Direction::In
                       : direction == SCSI_DATA_OUT ? pt::Direction::Out
                                                    : pt::Direction::None;
  const size_t n = dataLength > 0 && data ? static_cast<size_t>(dataLength) : 0;
  if (request->direction == pt::Direction::Out)
    request->data.assign(data, data + n);
  else if (request->direction == pt::Direction::In)
    request->data.assign(n, 0);
  request->cdbLength = static_cast<uint8_t>(std::clamp(cdbLength, 0, 16));
  std::memcpy(request->cdb, cdb, request->cdbLength);
  std::memset(request->sense, 0, sizeof request->sense);
  impl_->manager->SendExec(request);
  if (!pt::WaitForCompletion(*request, orb::DefaultClock(), kCommandTimeoutMs))
    return pt::kStatusPending;
  std::memcpy(sense, request->sense, pt::kSenseLength);
  if (request->direction == pt::Direction::In && n) std::memcpy(data, request->data.data(), n);
  return request->status.load();
}

// Sends one command when a pass-through manager is there; false (with the error recorded)
// when it is not or memory ran out, so no exception leaves the library.
bool CASPIcommand::GuardedSend(int dataLength, unsigned char* data, int cdbLength,
                               const unsigned char* cdb, unsigned char* sense,
                               unsigned char direction, unsigned char* status) {
  if (!impl_ || !impl_->manager) {
    SetCommandError(0, 0, TRENNIC_NO_PASSTHROUGH);
    return false;
  }
  try {
    *status = Send(dataLength, data, cdbLength, cdb, sense, direction);
  } catch (const std::bad_alloc&) {
    SetCommandError(0, 0, TRENNIC_OUT_OF_MEMORY);
    return false;
  }
  return true;
}

bool CASPIcommand::ExecScsiCommandStatus(int dataLength, unsigned char* data, int cdbLength,
                                         unsigned char* cdb, unsigned char* sense,
                                         unsigned char direction, unsigned char* srbStatus) {
  *srbStatus = pt::kStatusPending;
  unsigned char status;
  if (!GuardedSend(dataLength, data, cdbLength, cdb, sense, direction, &status)) return false;
  *srbStatus = status;
  if (status == pt::kStatusCompleted) return true;
  if (status == pt::kStatusError && (sense[2] & 0x20)) return true;
  SetCommandError(status, sense[12] << 8 | sense[13], TRENNIC_SCSI_ERROR);
  return false;
}

bool CASPIcommand::ExecTestUnitScsiCommand(int dataLength, unsigned char* data, int cdbLength,
                                           unsigned char* cdb, unsigned char* sense,
                                           unsigned char direction) {
  unsigned char status;
  if (!GuardedSend(dataLength, data, cdbLength, cdb, sense, direction, &status)) return false;
  if (status == pt::kStatusCompleted) return true;
  if (status == pt::kStatusError && (sense[2] & 0x0F) != 0) {
    SetCommandError(status, sense[12] << 8 | sense[13], TRENNIC_SCSI_ERROR);
    return true;
  }
  return false;
}

// ---- CSTIcommand ---------------------------------------------------------------------

struct CSTIcommand::Impl {
  std::unique_ptr<orb::sti::StillImage> stillImage;
  std::shared_ptr<orb::sti::Device> device;
};

CSTIcommand::CSTIcommand() : impl_(new (std::nothrow) Impl) {
  if (!impl_) SetCommandError(0, 0, TRENNIC_OUT_OF_MEMORY);
}

CSTIcommand::~CSTIcommand() = default;

bool CSTIcommand::IsCompletedStatus(unsigned char s) const { return (s & 0x3F) == 1; }

unsigned CSTIcommand::GetDataDirection(unsigned char direction) const {
  if (direction == SCSI_DATA_IN) return orb::sti::kPassThroughDataIn;
  if (direction == SCSI_DATA_OUT) return orb::sti::kPassThroughDataOut;
  return orb::sti::kPassThroughNoData;
}

bool CSTIcommand::OpenScanner(DeviceInfoType& info, int) {
  if (!impl_) {
    SetCommandError(0, 0, TRENNIC_OUT_OF_MEMORY);
    return false;
  }
  impl_->device.reset();
  impl_->stillImage.reset();
  flag_ = 0;
  adapterId_ = targetId_ = -1;
  try {
    if (orb::sti::StiCreateInstance(2, impl_->stillImage) != orb::sti::kOk) return false;
    std::vector<orb::sti::DeviceInformation> list;
    if (impl_->stillImage->GetDeviceList(0, 0, list) != orb::sti::kOk) return false;
    const orb::sti::DeviceInformation* match = nullptr;
    for (const auto& d : list)
      if (d.vendorDescription.find("Varnholt") != std::string::npos) {
        match = &d;
        flag_ = 1;
        break;
      }
    if (!match) return false;
    if (impl_->stillImage->CreateDevice(match->internalName, 3, impl_->device) != orb::sti::kOk ||
        !impl_->device)
      return false;
    adapterId_ = targetId_ = 0;
    info.AdapterId = info.TargetId = 0;
    std::vector<unsigned char> inquiry(kInquiryLength, 0);
    orb::trennic::Cdb cdb(orb::trennic::Opcode::Inquiry);
    cdb.AllocationLength(kInquiryLength);
    unsigned char sense[16] = {};
    if (ExecScsiCommand(kInquiryLength, inquiry.data(), cdb.size(), cdb.data(), sense,
                        SCSI_DATA_IN) &&
        VendorIs(inquiry.data(), "TESSIVAN", 8)) {
      FillInfo(info, 0, 0, inquiry.data());
      return true;
    }
  } catch (const std::bad_alloc&) {
    SetCommandError(0, 0, TRENNIC_OUT_OF_MEMORY);
  }
  adapterId_ = targetId_ = -1;
  info.AdapterId = info.TargetId = -1;
  flag_ = 0;
  return false;
}

bool CSTIcommand::ExecScsiCommandStatus(int dataLength, unsigned char* data, int cdbLength,
                                        unsigned char* cdb, unsigned char* sense,
                                        unsigned char direction, unsigned char* srbStatus) {
  *srbStatus = 0;
  if (!impl_ || !impl_->device) return false;
  unsigned char status = 0;
  orb::sti::StiPassThroughBlock block;
  std::memset(sense, 0, orb::sti::kPassThroughSenseLength);
  block.dataDirection = GetDataDirection(direction);
  block.cdbLength = static_cast<uint8_t>(std::clamp(cdbLength, 0, 16));
  std::memcpy(block.cdb, cdb, block.cdbLength);
  block.dataLength = dataLength > 0 && data ? static_cast<uint32_t>(dataLength) : 0;
  block.srbStatus = &status;
  block.sense = sense;
  block.timeLimitMs = static_cast<uint32_t>(kCommandTimeoutMs);
  uint32_t returned = 0;
  // Only the status byte decides; the lock and escape results are informational.
  {
    struct Unlock {
      orb::sti::Device* d;
      ~Unlock() { d->UnLockDevice(); }
    };
    impl_->device->LockDevice(5000);
    Unlock unlock{impl_->device.get()};
    impl_->device->Escape(orb::sti::kEscapeScsiPassThrough, &block, sizeof block, data,
                          block.dataLength, &returned);
  }
  *srbStatus = status;
  if ((status & 0x3F) == 1) return true;
  if ((status & 0x3F) == 4 && (sense[2] & 0x20)) return true;
  SetCommandError(status, sense[12] << 8 | sense[13], TRENNIC_SCSI_ERROR);
  return false;
}

bool CSTIcommand::ExecTestUnitScsiCommand(int dataLength, unsigned char* data, int cdbLength,
                                          unsigned char* cdb, unsigned char* sense,
                                          unsigned char direction) {
  bool ok = ExecScsiCommand(dataLength, data, cdbLength, cdb, sense, direction);
  return ok || (sense[2] & 0x0F) != 0;
}
