// Identification of a scanner of the SCSI family: opens it through the scanner library, reads
// its inquiry data and fills the model part of the scan settings, the resolution list and the
// family tag. When the scanner differs from the one the settings were saved with, a few scan
// settings go back to their defaults and are stored as the family's factory-defaults preset.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Settings.h"
#include "scanning/ResolutionList.h"

class CTrennic;

namespace orb {

// One row of the model table.
struct ScsiModel {
  const char* id;          // compared over its own length
  int32_t modelCode;
  int32_t opticalDpi;
  int32_t maxDpi;
  int32_t maxWidth;        // hundredths of an inch
  int32_t cameraCount;     // 0: left as it was
  std::vector<int32_t> resolutions;
  int firmwareAtLeast = -1;  // 0: forced off; -1: from the firmware number
  uint8_t mediaFeature = 0;
  uint8_t resolutionOption = 0;  // 1: also ResolutionOptionValue 6
  int32_t maxLength = 16777215;
  bool clearMediaHandling = false;
  int32_t paperEndDetection = 0;
};

// The table, in comparison order.
const std::vector<ScsiModel>& ScsiModelTable();
// The row matching a product identification, or null.
const ScsiModel* MatchScsiModel(std::string_view product);
// A resolution list entry: "64  dpi", "100 dpi", "1016 dpi".
std::string ResolutionEntry(int32_t dpi);

// The three inquiry texts the frame shows in its title, each its fixed-width field.
struct ScannerIdentityTexts {
  std::string vendor;    // 8 characters
  std::string product;   // 16 characters, "e" appended for series 3
  std::string revision;  // 4 characters
};

struct IdentifyResult {
  bool matched = false;
  bool scannerChanged = false;  // the factory defaults were reset and the preset written
  ScannerIdentityTexts texts;
};

// Fills ScanSettings and the process-wide resolution list and family tag from the scanner
// behind `scanner`. A changed scanner saves the settings to the data folder and copies them to
// the family's factory-defaults preset there.
IdentifyResult IdentifyScsiScanner(CTrennic& scanner);

// Makes the main frame's SCSI-family identification entry point run IdentifyScsiScanner on
// `scanner` (the frame's scanner object, which must outlive the frame); the Kelvane entry
// point stays as it is.
void InstallScsiIdentification(CTrennic* scanner);

}  // namespace orb
