#include "scanning/kelvane/KelvaneModels.h"

#include <filesystem>

#include "platform/Files.h"
#include "scanning/ScannerIdentification.h"

namespace orb::kelvane {

const std::vector<KelvaneModel>& KelvaneModelTable() {
  using L = ModelLine;
  static const std::vector<KelvaneModel> table = {
      {0, "QRD 7719m", 83, 0, 1, 400, 2400, 4000, 5, "QRDM", L::K7719},
      {1, "QRD 7719c", 82, 1, 1, 400, 2400, 4000, 5, "QRDC", L::K7719},
      {2, "QRD 7719e", 81, 1, 1, 400, 2400, 4000, 5, "QRDC", L::K7719},
      {3, "QRD BN53m", 84, 0, 1, 600, 9600, 4000, 5, "QRDM", L::BN53},
      {4, "QRD BN53c", 85, 1, 1, 600, 9600, 4000, 5, "QRDM", L::BN53},
      {5, "QRD BN53e", 86, 1, 1, 600, 9600, 4000, 5, "QRDM", L::BN53},
      {6, "QRD PV61m", 87, 0, 0, 600, 9600, 4200, 5, "QRDM", L::Pv},
      {7, "QRD PV61c", 88, 1, 0, 600, 9600, 4200, 5, "QRDM", L::Pv},
      {8, "QRD PV61e", 89, 1, 0, 600, 9600, 4200, 5, "QRDM", L::Pv},
      {9, "QRD PV34m", 90, 0, 0, 600, 9600, 2500, 5, "QRDM", L::Pv},
      {10, "QRD PV34c", 91, 1, 0, 600, 9600, 2500, 5, "QRDM", L::Pv},
      {11, "QRD PV34e", 92, 1, 0, 600, 9600, 2500, 5, "QRDM", L::Pv},
      {12, "QRD PV48m", 90, 0, 0, 600, 9600, 3600, 5, "QRDM", L::Pv},
      {13, "QRD PV48c", 91, 1, 0, 600, 9600, 3600, 5, "QRDM", L::Pv},
      {14, "QRD PV48e", 92, 1, 0, 600, 9600, 3600, 5, "QRDM", L::Pv},
      {20, "QRD Ru53m", 60, 0, 1, 600, 9600, 4000, 5, "QRDM", L::Ru},
      {21, "QRD Ru53c", 61, 1, 1, 600, 9600, 4000, 5, "QRDC", L::Ru},
      {22, "QRD Ru53e", 62, 1, 1, 600, 9600, 4000, 5, "QRDC", L::Ru},
      {23, "QRD PVK61m", 96, 0, 0, 600, 9600, 4200, 6, "QRDC", L::PVK},
      {24, "QRD PVK61c", 97, 1, 0, 600, 9600, 4200, 6, "QRDC", L::PVK},
      {25, "QRD PVK61e", 98, 1, 0, 600, 9600, 4200, 6, "QRDC", L::PVK},
      {26, "QRD PVK78m", 99, 0, 0, 600, 9600, 5600, 8, "QRDC", L::PVK},
      {27, "QRD PVK78c", 100, 1, 0, 600, 9600, 5600, 8, "QRDC", L::PVK},
      {28, "QRD PVK78e", 101, 1, 0, 600, 9600, 5600, 6, "QRDC", L::PVK},
      {29, "QRD PVK39m", 102, 0, 0, 600, 9600, 2800, 4, "QRDC", L::PVK},
      {30, "QRD PVK39C", 103, 1, 0, 600, 9600, 2800, 4, "QRDC", L::PVK},
      {31, "QRD PVK39e", 104, 1, 0, 600, 9600, 2800, 4, "QRDC", L::PVK},
      {32, "QRD Ru37m", 63, 0, 1, 600, 9600, 2400, 5, "QRDM", L::Ru},
      {33, "QRD Ru37c", 64, 1, 1, 600, 9600, 2400, 5, "QRDC", L::Ru},
      {34, "QRD Ru37e", 65, 1, 1, 600, 9600, 2400, 5, "QRDC", L::Ru},
      {35, "QRD PVK52m", 105, 0, 0, 600, 9600, 3800, 4, "QRDC", L::PVK},
      {36, "QRD PVK52C", 106, 1, 0, 600, 9600, 3800, 4, "QRDC", L::PVK},
      {37, "QRD PVK52e", 107, 1, 0, 600, 9600, 3800, 4, "QRDC", L::PVK},
  };
  return table;
}

const KelvaneModel* FindKelvaneModel(int32_t scannerCode) {
  for (const KelvaneModel& m : KelvaneModelTable())
    if (m.scannerCode == scannerCode) return &m;
  return nullptr;
}

LineDefaults DefaultsOf(ModelLine line) {
  const std::vector<int32_t> bn53 = {100, 200, 300, 400, 600, 1200};
  switch (line) {
    case ModelLine::K7719: return {{100, 200, 300, 400, 600, 800}, {}, {}, 0, 6, 1};
    case ModelLine::BN53: return {bn53, {}, {}, 0, 6, 1};
    case ModelLine::Pv: return {bn53, 10, 1.9f, 1, 6, 0};
    case ModelLine::Ru: return {bn53, 5, 1.7f, 0, 16, 0};
    case ModelLine::PVK: return {bn53, 5, 1.9f, 0, 16, 0};
  }
  return {};
}

void ApplyFamilyDefaults(ScanSettingsRecord& s) {
  s.ScannerType = 80;
  s.ExtraSettingsFeature = 0;
  s.HighResWindow = 0;
  s.ManualTransport = 1;
  s.FirmwareAtLeast = 0;
  s.HardwareThreshold = 1;
  s.ResolutionOption = 1;
  s.ResolutionOptionValue = 6;
  s.MediaFeature = 1;
  s.LeftOffsetMode = 1;
  s.WindowVendorOption = 1;
}

void ApplyModel(const KelvaneModel& m, ScanSettingsRecord& s, std::vector<std::string>& list,
                std::string& familyTag) {
  s.ModelCode = m.modelCode;
  s.ScannerSubType = m.subType;
  s.ScannerVariant = m.variant;
  s.OpticalDpi = m.opticalDpi;
  s.MaxDpi = m.maxDpi;
  s.MaxWidth = m.maxWidth;
  s.CameraCount = m.cameraCount;
  const LineDefaults d = DefaultsOf(m.line);
  if (d.brightness) s.ScanBrightness = *d.brightness;
  if (d.gamma) s.GammaRed = s.GammaGreen = s.GammaBlue = *d.gamma;
  s.FirmwareAtLeast = d.firmwareAtLeast;
  s.ResolutionOptionValue = d.resolutionOptionValue;
  s.MediaFeature = d.mediaFeature;
  list.assign(1, TextField(s.ResolutionText));
  for (int32_t dpi : d.resolutions) list.push_back(ResolutionEntry(dpi));
  list.push_back(std::string());  // the list ends at its first empty entry
  familyTag = m.tag;
}

bool ScannerChanged(const ScanSettingsRecord& s) {
  return s.ScannerType != s.StoredScannerType || s.ScannerSubType != s.StoredSubType ||
         s.ScannerVariant != s.StoredScannerVariant;
}

void ResetForChangedScanner(ScanSettingsRecord& s) {
  s.ScanBrightness = 5;
  const float gamma = s.ScannerVariant == 0 ? 1.9f : 1.7f;
  s.GammaRed = s.GammaGreen = s.GammaBlue = gamma;
  s.ColourMode = s.ScannerSubType == 1 ? 0 : 3;
}

bool WriteFactoryDefaultsPreset(const std::string& familyTag, std::string* error) {
  const std::string data = DataFolder();
  const std::string from = data + "/" + kScanDataFile;
  if (SaveScanData() != SettingsWrite::Written) {
    if (error) *error = "the scan settings could not be written to " + from;
    return false;
  }
  const std::string folder = data + "/presets/" + familyTag;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  const auto bytes = ReadFileBytes(from);
  if (!bytes) {
    if (error) *error = "the scan settings could not be read back from " + from;
    return false;
  }
  return WriteFileAtomically(folder + "/_FactoryDefaults.s", *bytes, error);
}

}  // namespace orb::kelvane
