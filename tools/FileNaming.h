// Numbered output file names: "Scan-0001.tif" becomes "Scan-0002.tif" after an accepted scan.
//
// A counter in a file name is the separator character of the scan settings followed at
// once by a run of decimal digits; the run's length is the counter's width. Up to four
// counters are recognised, from the left of the name part only (the folder and the
// extension are never searched). Each counter has a start, limit, step and (for the first
// three) a carry-only flag in the scan settings; the last counter always advances.
//
// CSetupFilenameDlg is both the routine that computes the next name (used without any
// window by the accept handler and the split tool) and the state of the file-naming dialog:
// the dialog's controls are kept here as texts and flags keyed by their control ids, so the
// whole dialog logic runs without a display; tools/gui/SetupFilenameDlg.* shows it.
//
// Every name is bounded to the 260-byte path field it is stored in: an advance or an edit
// that would make the full name longer leaves the name as it was.
#pragma once

#include "engine/SharedRoutines.h"  // SplitFileName

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/ResourceIds.h"
#include "engine/Settings.h"

namespace orb {

// Longest name (in bytes, without the terminator) a 260-byte field holds.
inline constexpr size_t kMaxFileNameBytes = kPathField - 1;
// Digits a counter is written with at most when the dialog pads it to a typed limit.
inline constexpr size_t kMaxCounterDigits = 10;
inline constexpr int kMaxNameCounters = 4;

// One counter found in a name part.
struct NameCounterRun {
  size_t pos = 0;     // index of the first digit in the name part
  size_t width = 0;   // number of digits
  int64_t value = 0;  // the digits read as a decimal number (saturating)
  std::string digits; // the digits as they stand
};

// The counters of a name part (no folder, no extension), left to right, at most four.
std::vector<NameCounterRun> FindNameCounters(std::string_view namePart, char separator);


// Reads a number the dialog's edits hold: leading blanks, an optional sign, decimal digits;
// anything else ends it; no digits give 0; values beyond int32 are clamped.
int32_t ParseCounterText(std::string_view text);

// "%0*d": value zero-padded to `width`.
std::string FormatCounter(int64_t value, size_t width);

// The advance of the counters alone: each counter's new value by the settings.
std::vector<int64_t> AdvanceCounters(const std::vector<NameCounterRun>& counters,
                                     const NameCounter (&settings)[4]);

// Control ids of the file-naming dialog.
namespace naming_ids {
inline constexpr int kName = 1384;
inline constexpr int kSeparator = 1385;
inline constexpr int kStart[4] = {1386, 1393, 1401, 1408};
inline constexpr int kLimit[4] = {1387, 1396, 1404, 1411};
inline constexpr int kStep[4] = {1388, 1399, 1406, 1413};
inline constexpr int kCarry[3] = {1380, 1381, 1382};
inline constexpr int kTemplate = orb::res::IDD_FILE_NAMING;
}  // namespace naming_ids

}  // namespace orb

class CSetupFilenameDlg {
 public:
  // The controls of the dialog as texts and flags.
  struct Controls {
    std::string name;       // 1384
    std::string separator;  // 1385, at most one character
    std::array<std::string, 4> start, limit, step;
    std::array<bool, 3> carry{};  // 1380..1382
    std::array<bool, 4> counterEnabled{};
    std::array<bool, 3> carryEnabled{};
  };

  // Copies the name (a full path, or the name part when the dialog is shown). A name too
  // long for the field is cut on a character boundary.
  explicit CSetupFilenameDlg(std::string_view fileName,
                             orb::ScanSettingsRecord& settings = ScanSettings);

  // Replaces the object's file name by the next one. False when the name has no counter
  // or the next name would not fit the field (the name then stays as it was).
  bool MakeNextFileName();
  // Copies the file name into a buffer of `size` bytes (NUL-terminated, cut on a character
  // boundary when too long) and returns it.
  void GetFileName(char* dest, size_t size) const;
  const std::string& GetFileName() const { return fileName_; }

  // --- The dialog, without a display ---
  // Fills the controls from the object's name and the settings, then UpdateCounterFields.
  void OnInitDialog();
  // The counters of the name control give the start fields, limits and enable states.
  void UpdateCounterFields();
  // A limit edit lost the focus: every counter is written with its start padded to the
  // length of its limit text, then the fields are refreshed.
  void OnKillFocusLimit();
  // A start edit lost the focus: every counter's digits become its start text.
  void OnKillFocusStart();
  void OnSetFocusSeparator();
  // Every occurrence of the separator seen at set-focus becomes the new one.
  void OnKillFocusSeparator();
  // Stores the name into the object and the counter settings into the settings record.
  void OnOK();

  Controls& controls() { return c_; }
  const Controls& controls() const { return c_; }

 private:
  char SeparatorChar() const;
  // Sets the name control when the name fits the field.
  void SetNameControl(std::string name);

  std::string fileName_;
  orb::ScanSettingsRecord& settings_;
  Controls c_;
  std::string separatorAtFocus_;
};
