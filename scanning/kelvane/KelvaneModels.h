// The Kelvane family's models: the table by the scanner code GetInfo reads, the defaults of
// each model line, and the identification that writes a model's capabilities into the scan
// settings (resolution list and family tag included). A scanner other than the one the
// settings were saved with resets a few scan settings and stores them as the family's
// factory-defaults preset.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/Settings.h"

namespace orb::kelvane {

enum class ModelLine { K7719, BN53, Pv, Ru, PVK };

struct KelvaneModel {
  int32_t scannerCode;
  const char* name;  // the display name
  int32_t modelCode;
  int32_t subType;   // 1: a colour model
  int32_t variant;
  int32_t opticalDpi;
  int32_t maxDpi;
  int32_t maxWidth;  // hundredths of an inch
  int32_t cameraCount;
  const char* tag;   // the family tag: names the presets sub-folder
  ModelLine line;
};

// What each model line sets besides its table row.
struct LineDefaults {
  std::vector<int32_t> resolutions;     // after the custom entry
  std::optional<int32_t> brightness;    // unset: left as it was
  std::optional<float> gamma;           // all three gammas; unset: left as they were
  uint8_t firmwareAtLeast = 0;
  int32_t resolutionOptionValue = 6;
  uint8_t mediaFeature = 1;
};

const std::vector<KelvaneModel>& KelvaneModelTable();
// The row of a scanner code, or null for a code outside the table.
const KelvaneModel* FindKelvaneModel(int32_t scannerCode);
LineDefaults DefaultsOf(ModelLine line);

// The model-code groups other parts of the scan test.
inline bool Is7719(int32_t m) { return m >= 81 && m <= 83; }
inline bool IsBn53(int32_t m) { return m >= 84 && m <= 86; }
inline bool IsPvLine(int32_t m) { return m >= 87 && m <= 92; }
inline bool IsRuLine(int32_t m) { return m >= 60 && m <= 65; }
inline bool IsPvkLine(int32_t m) { return m >= 96 && m <= 107; }

// The values every model starts from.
void ApplyFamilyDefaults(ScanSettingsRecord& s);
// Writes the row and its line's defaults, the resolution list (entry 0 a copy of the
// resolution text) and the family tag.
void ApplyModel(const KelvaneModel& m, ScanSettingsRecord& s, std::vector<std::string>& list,
                std::string& familyTag);
// True when the scanner differs from the one the settings were saved with.
bool ScannerChanged(const ScanSettingsRecord& s);
// The scan settings a changed scanner starts with.
void ResetForChangedScanner(ScanSettingsRecord& s);
// Saves the scan settings and copies them to the factory-defaults preset of `familyTag` in
// the data folder. False when either file could not be written.
bool WriteFactoryDefaultsPreset(const std::string& familyTag, std::string* error = nullptr);

}  // namespace orb::kelvane
