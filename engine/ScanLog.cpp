#include "engine/ScanLog.h"

#include "engine/SettingsRanges.h"

#include <cstdio>
#include <string>

#include "engine/Settings.h"
#include "engine/SharedRoutines.h"
#include "platform/Bytes.h"
#include "platform/Clock.h"
#include "platform/Files.h"

orb::ScanLogTotalsRecord ScanLogTotals;

namespace orb {

namespace {

constexpr const char* kEol = "\r\n";

// The frame written above the first entry and below every totals report.
std::string Frame() {
  std::string stars(102, '*');
  std::string framed = "*" + std::string(100, ' ') + "*";
  return stars + kEol + stars + kEol + framed + kEol + framed + kEol;
}

// Square feet for inches and pixels, square metres for centimetres.
const char* AreaUnitWord(int32_t lengthUnit) { return lengthUnit == 1 ? "meters" : "feet"; }

std::string TwoDigits(int64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02lld", static_cast<long long>(v));
  return buf;
}

}  // namespace

void ScanLogTotalsRecord::Encode(uint8_t* out) const {
  PutF64LE(out + 0, TotalArea);
  PutI32LE(out + 8, Scans);
  PutI32LE(out + 12, Rejected);
  PutI32LE(out + 16, Rgb);
  PutI32LE(out + 20, Grey);
  PutI32LE(out + 24, Colour256);
  PutI32LE(out + 28, Colour16);
  PutI32LE(out + 32, Bilevel);
  PutI32LE(out + 36, Edited);
  PutI64LE(out + 40, PeriodStart);
  PutI64LE(out + 48, LastReport);
}

void ScanLogTotalsRecord::Decode(const uint8_t* in) {
  TotalArea = GetF64LE(in + 0);
  Scans = GetI32LE(in + 8);
  Rejected = GetI32LE(in + 12);
  Rgb = GetI32LE(in + 16);
  Grey = GetI32LE(in + 20);
  Colour256 = GetI32LE(in + 24);
  Colour16 = GetI32LE(in + 28);
  Bilevel = GetI32LE(in + 32);
  Edited = GetI32LE(in + 36);
  PeriodStart = GetI64LE(in + 40);
  LastReport = GetI64LE(in + 48);
}

const char* ScanLogKindWord(uint32_t kind) {
  switch (kind) {
    case 0: return "RGB";
    case 1: return "256 color";
    case 2: return "16 color";
    case 3: return "Grayscale";
    case 5: return "Grayscale (Greenscale)";
    case 4:
    case 10: return "Black and white";
    case 6: return "Black and white (Greenscale)";
    case 7: return "Black and white (Separates)";
    default: return "";
  }
}

}  // namespace orb

int LoadScanLogTotals() {
  if (g_szDataFolder.empty()) return 0;
  if (auto bytes = orb::ReadFileBytes(orb::DataFile(orb::kScanLogTotalsFile),
                                      orb::ScanLogTotalsRecord::kSize)) {
    orb::ApplyFilePrefix(ScanLogTotals, *bytes);
  }
  orb::KeepScanLogTotalsInRange(ScanLogTotals);
  return 0;
}

SettingsWrite SaveScanLogTotals() {
  uint8_t bytes[orb::ScanLogTotalsRecord::kSize];
  ScanLogTotals.Encode(bytes);
  return orb::WriteDataFile(orb::kScanLogTotalsFile, bytes, sizeof bytes) ? SettingsWrite::Written : SettingsWrite::Failed;
}

bool AppendScanLog(const std::string& outputFile, int32_t width, int32_t length, int32_t dpi,
                   uint8_t rejected, uint32_t imageKind, uint8_t edited, int64_t scanSeconds) {
  if (!MiscSettings.ScanLogEnabled || g_szDataFolder.empty()) return false;
  const std::string path = orb::DataFile(orb::kScanLogFile);
  const std::time_t now = orb::DefaultClock().WallTime();
  const int32_t unit = MiscSettings.LengthUnit;
  orb::ScanLogTotalsRecord totals = ScanLogTotals;

  std::string text;
  if (orb::FileSize(path).value_or(0) == 0) {
    text += orb::Frame();
    totals.PeriodStart = now;
  }
  text += FormatTimeStamp(now) + orb::kEol;
  text += "\t" + outputFile + orb::kEol;

  text += "\t" + FormatLength(unit, width, dpi) + " x " + FormatLength(unit, length, dpi) +
          " @ " + std::to_string(dpi) + "dpi, " + orb::ScanLogKindWord(imageKind) + orb::kEol;
  switch (imageKind) {
    case 0: ++totals.Rgb; break;
    case 1: ++totals.Colour256; break;
    case 2: ++totals.Colour16; break;
    case 3:
    case 5: ++totals.Grey; break;
    case 4:
    case 6:
    case 7:
    case 10: ++totals.Bilevel; break;
    default: break;
  }

  // Without a resolution there is no physical size to log.
  double area = 0.0;
  if (dpi > 0) area = (static_cast<double>(width) / dpi / 12.0) * (static_cast<double>(length) / dpi / 12.0);
  if (unit == 1) area *= 0.0929;
  totals.TotalArea += area;

  int64_t d = scanSeconds < 0 ? 0 : scanSeconds;
  text += "\tArea = " + orb::FormatFixed(area, 5, 2) + " square " + orb::AreaUnitWord(unit) +
          ", Scantime = " + orb::TwoDigits(d / 3600) + ":" + orb::TwoDigits(d / 60 % 60) + ":" +
          orb::TwoDigits(d % 60) + ", Status = ";
  if (rejected) {
    text += "Rejected";
    ++totals.Rejected;
  } else {
    text += "Saved";
  }
  if (edited) {
    text += ", Edited post scan";
    ++totals.Edited;
  }
  text += orb::kEol;
  text += orb::kEol;
  ++totals.Scans;

  std::string error;
  if (!orb::AppendToFile(path, text, &error)) {
    std::fprintf(stderr, "orbalon: %s\n", error.c_str());
    return false;
  }
  ScanLogTotals = totals;
  return true;
}

bool WriteScanLogTotals() {
  if (g_szDataFolder.empty()) return false;
  const std::string path = orb::DataFile(orb::kScanLogFile);
  if (orb::FileSize(path).value_or(0) == 0) {
    orb::AppendToFile(path, "");  // an empty log is created, as any use of it does
    return false;
  }
  const std::time_t now = orb::DefaultClock().WallTime();
  const auto& t = ScanLogTotals;
  const char* unitWord = orb::AreaUnitWord(MiscSettings.LengthUnit);

  int64_t elapsed = static_cast<int64_t>(now) - t.PeriodStart;
  if (elapsed < 0) elapsed = 0;
  std::string text = orb::kEol;
  text += "Totals for " + FormatTimeStamp(static_cast<std::time_t>(t.PeriodStart)) +
          " through " + orb::kEol;
  text += "           " + FormatTimeStamp(now) + " (" + std::to_string(elapsed / 86400) +
          " days, " + std::to_string(elapsed % 86400 / 3600) + " hours, " +
          std::to_string(elapsed % 3600 / 60) + " minutes elapsed)" + orb::kEol;
  const std::string indent(15, ' ');
  auto line = [&](const std::string& s) { text += indent + s + orb::kEol; };
  line(std::string("Total square ") + unitWord + ": " + orb::FormatFixed(t.TotalArea, 6, 2));
  line("Total saved scans: " + std::to_string(t.Scans - t.Rejected));
  line("Total rejected scans: " + std::to_string(t.Rejected));
  line("Total scans: " + std::to_string(t.Scans));
  line("Total RGB scans: " + std::to_string(t.Rgb));
  line("Total 256 color scans: " + std::to_string(t.Colour256));
  line("Total 16 color scans: " + std::to_string(t.Colour16));
  line("Total Grayscale scans: " + std::to_string(t.Grey));
  line("Total Black and white scans: " + std::to_string(t.Bilevel));
  line("Total edited post scan: " + std::to_string(t.Edited));
  text += orb::kEol;
  text += orb::kEol;
  text += orb::Frame();

  std::string error;
  if (!orb::AppendToFile(path, text, &error)) {
    std::fprintf(stderr, "orbalon: %s\n", error.c_str());
    return false;
  }
  ScanLogTotals = orb::ScanLogTotalsRecord();
  ScanLogTotals.PeriodStart = now;
  return true;
}
