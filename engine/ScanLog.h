// The scan log: "ScanLog.txt" in the data folder gets a five-line entry for every accepted
// or rejected scan (while the log is enabled in MiscSettings) and, on request, a totals
// report; ScanLogTotals counts the scans between two reports and is kept in
// "ScanLogTots.dat" (56 bytes). Lines end in CR LF; the log only grows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/Settings.h"

namespace orb {

struct ScanLogTotalsRecord {
  static constexpr size_t kSize = 56;
  double TotalArea = 0.0;    // 0: square feet or square metres, as each entry logged it
  int32_t Scans = 0;         // 8: scans logged
  int32_t Rejected = 0;      // 12
  int32_t Rgb = 0;           // 16
  int32_t Grey = 0;          // 20: kinds 3 and 5
  int32_t Colour256 = 0;     // 24
  int32_t Colour16 = 0;      // 28
  int32_t Bilevel = 0;       // 32: kinds 4, 6, 7 and 10
  int32_t Edited = 0;        // 36: edited after scanning
  int64_t PeriodStart = 0;   // 40: start of the counting period, seconds since 1970 (UTC)
  int64_t LastReport = 0;    // 48: time of the last totals report
  void Encode(uint8_t* out) const;
  void Decode(const uint8_t* in);
};

inline constexpr const char* kScanLogTotalsFile = "ScanLogTots.dat";
inline constexpr const char* kScanLogFile = "ScanLog.txt";

// The word a log entry gives an image kind; empty for kinds the log does not name.
const char* ScanLogKindWord(uint32_t imageKind);

}  // namespace orb

static_assert(orb::ScanLogTotalsRecord::kSize == 56);

extern orb::ScanLogTotalsRecord ScanLogTotals;

// Reads "ScanLogTots.dat" over ScanLogTotals when it holds 2 bytes or more. Returns 0.
int LoadScanLogTotals();
// Writes ScanLogTotals.
SettingsWrite SaveScanLogTotals();

// Appends one entry for a finished scan and counts it in ScanLogTotals: the output file,
// its width and length in pixels, the horizontal resolution, whether it was rejected, its
// ImageKind, whether it was edited after scanning and how long the scan took. Does
// nothing while MiscSettings.ScanLogEnabled is clear. The time comes from
// orb::DefaultClock(). True when an entry was written.
bool AppendScanLog(const std::string& outputFile, int32_t width, int32_t length, int32_t dpi,
                   uint8_t rejected, uint32_t imageKind, uint8_t edited, int64_t scanSeconds);

// Appends the totals report of ScanLogTotals and starts a new counting period. Does
// nothing (and keeps the totals) when the log is missing or empty. True when written.
bool WriteScanLogTotals();
