// Display-free rules of the main frame and its sheets.
#pragma once

#include <cstdint>
#include <string>

namespace orb {

// The family tag when no scanner was identified, from the scanner type and sub-type saved
// at the last save: types 0, 1 and -1 give "Vq"; type 80 gives "QRDM" for sub-type 0 and
// "QRDC" for 1; anything else leaves `current` unchanged.
std::string FamilyTagFromSaved(int savedType, int savedSubType, const std::string& current);

// The caption of the scan settings sheet's first tab: "<scanner> (<model>: <firmware>)"
// with a scanner, "<scanner> (<no scanner>)" without; at most 127 bytes, cut on a UTF-8
// character boundary.
inline constexpr size_t kTabCaptionMax = 127;
std::string ScannerTabCaption(bool scannerPresent, const std::string& scannerText,
                              const std::string& model, const std::string& firmware,
                              const std::string& noScannerText);

// Whether the identified scanner differs from the one saved (type or sub-type), which
// makes the factory-defaults preset current.
inline bool ScannerChanged(int type, int subType, int savedType, int savedSubType) {
  return type != savedType || subType != savedSubType;
}

// Width of the view options sheet in dialog units: wider for the languages whose texts
// need it (primary language ids 0x11 and 0x12).
inline int ViewSheetWidthDialogUnits(int primaryLanguageId) {
  return (primaryLanguageId == 0x11 || primaryLanguageId == 0x12) ? 165 : 140;
}

// Page order of the view options sheet (tab index).
enum ViewPage : int { kPagePresets = 0, kPageTools = 1, kPageOtherTools = 2, kPageSettings = 3,
                      kPageConnection = 4, kViewPageCount = 5 };
// A stored page index that is out of range opens the presets page.
inline int ClampViewPage(int index) { return index >= 0 && index < kViewPageCount ? index : 0; }

}  // namespace orb

namespace orb {
// The full path of a program found in $PATH, empty when there is none.
std::string FindProgramInPath(const std::string& name);
}  // namespace orb
