// Model identification by the INQUIRY product identification, and the information block.
#include <cstring>

#include "scanner_library/TrennicInternal.h"
#include "scanner_library/trennic.h"

namespace {

using orb::trennic::kCapPaperExtentRamp;
using orb::trennic::kCapSlowLowerBands;
using orb::trennic::kCapStitchAlignShift;

struct ModelRow {
  const char* key;
  int optical, maximum, pixels, cameras;
  int deviceType;       // with byte 36 = 0 for rows that choose by it
  int deviceTypeAlt;    // with byte 36 != 0; 0 when the row does not choose
  int series;           // 0 for rows that choose by byte 36
  uint32_t caps;        // ModelCapability flags (with byte 36 = 0 for rows that choose)
  uint32_t capsAlt;     // with byte 36 != 0
  int paperExtentLength;  // the length-driven paper-extent pre-scan's length; 0: by width
};

constexpr uint32_t R = kCapPaperExtentRamp;
constexpr uint32_t kSlow = kCapSlowLowerBands;

// Six-character keys first; the five-character keys are tried only when none matched.
constexpr ModelRow kModels[] = {
    {"TESTZK", 0, 0, 0, 0, 99, 0, 99, 0, 0, 0},
    {"TK2231", 600, 600, 14400, 2, 21, 22, 0, R, R, 0},
    {"TR8835", 508, 508, 21336, 3, 22, 23, 0, R, R, 0},
    {"TK3362", 800, 800, 22404, 3, 13, 20, 0, R, R, 2800},
    {"TK5804", 800, 1600, 21600, 3, 25, 0, 3, R, 0, 0},
    {"TR9014", 508, 1016, 21336, 3, 26, 0, 3, R, 0, 0},
    {"TR9166", 800, 1600, 33600, 5, 27, 0, 3, R, 0, 0},
    {"TR5578", 508, 1016, 31496, 5, 28, 0, 3, R, 0, 0},
    {"TR6729", 400, 800, 21600, 3, 12, 19, 0, R, R, 5400},
    {"TR9020", 508, 1016, 21336, 3, 24, 0, 3, R, 0, 0},
    {"TR6641", 300, 600, 14400, 2, 11, 18, 0, R, R, 4800},
    {"TR8857", 400, 800, 16800, 3, 10, 17, 0, R, R, 4200},
    {"TR8846", 300, 600, 12600, 2, 9, 16, 0, R, R, 0},
    {"TK7402", 400, 800, 14400, 2, 8, 15, 0, R, R, 3600},
    {"WQ331Z", 400, 800, 14400, 2, 34, 0, 3, R, 0, 0},
    {"TK7403", 400, 800, 14400, 2, 31, 0, 3, R, 0, 0},
    {"HALD21", 400, 800, 14400, 2, 29, 30, 0, R, R | kSlow | kCapStitchAlignShift, 3600},
    {"HALD22", 400, 800, 14400, 3, 33, 0, 3, R | kSlow, 0, 0},
    {"HALD23", 600, 1200, 14400, 2, 35, 0, 3, R | kSlow, 0, 0},
    {"HALD24", 600, 1200, 21600, 3, 36, 0, 3, R | kSlow, 0, 0},
    {"HALD26", 400, 800, 9600, 2, 37, 0, 3, R | kSlow, 0, 0},
    {"TK7190", 200, 400, 7200, 1, 14, 0, 3, R, 0, 3600},
    {"TK7191", 200, 400, 7200, 1, 14, 0, 3, R, 0, 3600},
    {"VM538+", 400, 600, 15750, 3, 2, 0, 1, R, 0, 0},
    {"VM447+", 400, 400, 15750, 3, 3, 0, 1, R, 0, 0},
    {"VM538", 300, 600, 10500, 2, 4, 0, 1, R, 0, 0},
    {"VM512", 300, 600, 10500, 2, 6, 0, 1, 0, 0, 0},
    {"VM629", 400, 800, 15750, 3, 1, 0, 1, R, 0, 0},
    {"VM615", 400, 800, 15750, 3, 5, 0, 1, 0, 0, 0},
};

}  // namespace

void CTrennic::ScannerDetailsInquiry(const char* productId, int inquiryByte36) {
  info_ = ScannerInfoType{};
  capabilities_ = 0;
  paperExtentLength_ = 0;
  if (!productId) return;
  const ModelRow* match = nullptr;
  for (size_t pass = 0; pass < 2 && !match; ++pass) {
    const size_t wanted = pass == 0 ? 6 : 5;
    for (const auto& row : kModels) {
      const size_t n = std::strlen(row.key);
      if (n == wanted && std::strncmp(productId, row.key, n) == 0) {
        match = &row;
        break;
      }
    }
  }
  if (!match) return;
  info_.OpticalResolution = match->optical;
  info_.MaxResolution = match->maximum;
  info_.MaxPixelsAtOptical = match->pixels;
  info_.NumberOfCameras = match->cameras;
  paperExtentLength_ = match->paperExtentLength;
  capabilities_ = match->caps;
  if (match->series == 0) {
    const bool alt = inquiryByte36 != 0;
    info_.DeviceType = alt ? match->deviceTypeAlt : match->deviceType;
    info_.SeriesType = alt ? SERIES_3 : SERIES_2;
    if (alt) capabilities_ = match->capsAlt;
  } else {
    info_.DeviceType = match->deviceType;
    info_.SeriesType = match->series;
  }
}

bool CTrennic::GetScannerInformationBlock(ScannerInfoType* out, int size) {
  if (!out || static_cast<unsigned>(size) > sizeof(ScannerInfoType)) return false;
  std::memcpy(out, &info_, static_cast<size_t>(size));
  return true;
}

ScannerDeviceType CTrennic::ScannerInfoGetScannerType() {
  return static_cast<ScannerDeviceType>(info_.DeviceType);
}
ScannerSeriesType CTrennic::ScannerInfoGetScannerSeriesType() {
  return static_cast<ScannerSeriesType>(info_.SeriesType);
}
int CTrennic::ScannerInfoOpticalResolution() { return info_.OpticalResolution; }
int CTrennic::ScannerInfoMaxResoltion() { return info_.MaxResolution; }
int CTrennic::ScannerInfoMaxPixelsAtOpticalResolution() { return info_.MaxPixelsAtOptical; }
int CTrennic::ScannerInfoNoOfCameras() { return info_.NumberOfCameras; }
