#include "engine/SharedRoutines.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "engine/PaletteFile.h"
#include "platform/Folders.h"
#include "platform/TempNames.h"

namespace orb {

namespace {

int32_t ClampToInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);  // truncates toward zero
}

// Where the file name's stem ends: the start of its extension, or the end of the path.
size_t StemEnd(const std::string& path, size_t nameStart) {
  size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || dot < nameStart) return path.size();
  return dot;
}

size_t NameStart(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? 0 : slash + 1;
}

}  // namespace

std::string FormatFixed(double value, int width, int precision) {
  char buf[512];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, precision);
  std::string s = res.ec == std::errc() ? std::string(buf, res.ptr) : std::string("0");
  if (width > 0 && s.size() < static_cast<size_t>(width))
    s.insert(0, static_cast<size_t>(width) - s.size(), ' ');
  return s;
}

double ParseDecimal(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size() || text[i] == '+' || text[i] == '-') return 0.0;
  double v = 0.0;
  auto res = std::from_chars(text.data() + i, text.data() + text.size(), v,
                             std::chars_format::general);
  if (res.ec == std::errc::result_out_of_range) {
    // from_chars leaves v alone; tell huge from tiny by the exponent's sign.
    std::string_view rest = text.substr(i, static_cast<size_t>(res.ptr - (text.data() + i)));
    size_t e = rest.find_first_of("eE");
    bool tiny = e != std::string_view::npos && e + 1 < rest.size() && rest[e + 1] == '-';
    v = tiny ? 0.0 : std::numeric_limits<double>::infinity();
  } else if (res.ec != std::errc()) {
    return 0.0;
  }
  return negative ? -v : v;
}


SplitName SplitFileName(std::string_view path) {
  SplitName s;
  size_t slash = path.rfind('/');
  size_t fileStart = slash == std::string_view::npos ? 0 : slash + 1;
  s.folder = std::string(path.substr(0, fileStart));
  std::string_view file = path.substr(fileStart);
  size_t dot = file.rfind('.');
  if (dot == std::string_view::npos || dot == 0) {
    s.name = std::string(file);
  } else {
    s.name = std::string(file.substr(0, dot));
    s.ext = std::string(file.substr(dot));
  }
  return s;
}

}  // namespace orb

bool HasFreeDiskSpace(const char* path, uint64_t needed) {
  auto available = orb::AvailableDiskBytes(path && *path ? std::string(path) : std::string("."));
  return orb::IsMoreThanNeeded(available, needed);
}

bool MakeTempTiffName(const std::string& folder, std::string& dest) {
  dest.clear();
  std::string pattern = orb::JoinPath(folder.empty() ? std::string(".") : folder, "Qel" + orb::OwnerMark() + "XXXXXX.tif");
  int fd = ::mkstemps(pattern.data(), 4);
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(pattern.c_str());
  dest = pattern;
  return true;
}

void IncrementFileNumber(std::string& path) {
  size_t nameStart = orb::NameStart(path);
  size_t end = orb::StemEnd(path, nameStart);
  for (size_t i = end; i > nameStart; --i) {
    char& c = path[i - 1];
    if (c < '0' || c > '9') return;
    if (c != '9') {
      ++c;
      return;
    }
    c = '0';
  }
}

void IncrementFileNumber(char* path) {
  if (!path) return;
  std::string s(path);
  IncrementFileNumber(s);
  std::memcpy(path, s.data(), s.size());  // same length: digits only changed
}

void StripNumberedSuffix(std::string& path) {
  size_t nameStart = orb::NameStart(path);
  size_t end = orb::StemEnd(path, nameStart);
  size_t mark = path.find("_[", nameStart);
  if (mark == std::string::npos || mark >= end) return;
  path.erase(mark, end - mark);
}

bool MakeNumberedName(std::string& path, int32_t colourMode, const std::string& palettePath) {
  if (colourMode != 7) return false;
  int outputs = orb::ReadPaletteOutputCount(palettePath);
  if (outputs <= 0) return false;
  StripNumberedSuffix(path);
  size_t end = orb::StemEnd(path, orb::NameStart(path));
  path.insert(end, "_[1 - " + std::to_string(outputs) + "]");
  return true;
}

void CutAtChar(char ch, char* text) {
  if (!text) return;
  size_t n = std::strlen(text);
  if (n < 2) return;
  for (size_t i = n - 1; i >= 1; --i)
    if (text[i] == ch) text[i] = '\0';
}

void CutAtChar(char ch, std::string& text) {
  size_t n = std::strlen(text.c_str());
  if (n < 2) return;
  for (size_t i = n - 1; i >= 1; --i)
    if (text[i] == ch) text[i] = '\0';
}

int32_t ParseLength(std::string_view text, int32_t dpi, int32_t unit) {
  double v = orb::ParseDecimal(text);
  double pixels;
  if (unit == 0 || unit == 1) {
    if (dpi <= 0) return 0;
    pixels = (unit == 0 ? v : v / 2.54) * dpi + 0.5;
  } else {
    pixels = v + 0.5;
  }
  return orb::ClampToInt32(pixels);
}

std::string FormatLength(int32_t unit, int64_t pixels, int32_t dpi) {
  if ((unit == 0 || unit == 1) && dpi <= 0) unit = 2;
  switch (unit) {
    case 0: return orb::FormatFixed(static_cast<double>(pixels) / dpi, 5, 2) + "\"";
    case 1: return orb::FormatFixed(static_cast<double>(pixels) / dpi * 2.54, 5, 2) + "cm";
    case 2: return std::to_string(pixels) + "px";
    default: return {};
  }
}

int32_t ComputeFitScale(int32_t w1, int32_t h1, int32_t w2, int32_t h2, bool* horizontalLarger) {
  int32_t x = w2 == 0 ? 0 : orb::ClampToInt32(w1 * 10000.0 / w2);
  int32_t y = h2 == 0 ? 0 : orb::ClampToInt32(10000.0 * h1 / h2);
  if (horizontalLarger) *horizontalLarger = x > y;
  return std::max(x, y);
}

int32_t ComputeScale(int32_t a, int32_t b) {
  if (b == 0) return 1;
  int32_t s = orb::ClampToInt32(a * 10000.0 / b);
  return s == 0 ? 1 : s;
}

void CentreViewportOrigin(orb::Rect& rect, orb::Point* viewportOrigin, int32_t imageWidth,
                          int32_t imageHeight, bool vertical) {
  if (vertical) {
    rect.top = orb::ClampToInt32((static_cast<double>(rect.bottom) - imageHeight) * 0.5 + 0.5);
    rect.bottom = rect.top + imageHeight;
    rect.left = 0;
    if (viewportOrigin) *viewportOrigin = {0, rect.top};
  } else {
    rect.left = orb::ClampToInt32((static_cast<double>(rect.right) - imageWidth) * 0.5 + 0.5);
    rect.right = rect.left + imageWidth;
    rect.top = 0;
    if (viewportOrigin) *viewportOrigin = {rect.left, 0};
  }
}

void FitRectToAspect(orb::Rect& rect, const orb::Rect& reference, int32_t widthLimit,
                     int32_t heightLimit) {
  bool horizontal = false;
  int64_t s = ComputeFitScale(rect.Width(), rect.Height(), reference.right, reference.bottom,
                              &horizontal);
  if (horizontal) {
    int64_t half = static_cast<int64_t>(reference.bottom / 2) * s / 10000;
    int64_t centre = (static_cast<int64_t>(rect.top) + rect.bottom) / 2;
    rect.top = static_cast<int32_t>(std::clamp<int64_t>(centre - half, INT32_MIN, INT32_MAX));
    rect.bottom = static_cast<int32_t>(std::clamp<int64_t>(centre + half, INT32_MIN, INT32_MAX));
  } else {
    int64_t half = static_cast<int64_t>(reference.right / 2) * s / 10000;
    int64_t centre = (static_cast<int64_t>(rect.left) + rect.right) / 2;
    rect.left = static_cast<int32_t>(std::clamp<int64_t>(centre - half, INT32_MIN, INT32_MAX));
    rect.right = static_cast<int32_t>(std::clamp<int64_t>(centre + half, INT32_MIN, INT32_MAX));
  }
  auto keepInside = [](int32_t& lo, int32_t& hi, int32_t limit) {
    if (lo < 0) {
      hi -= lo;
      lo = 0;
    }
    if (hi > limit) {
      lo -= hi - limit;
      hi = limit;
    }
    lo = std::max(lo, 0);
    hi = std::min(hi, limit);
  };
  keepInside(rect.top, rect.bottom, heightLimit);
  keepInside(rect.left, rect.right, widthLimit);
}

void BuildGammaTable12To8(uint8_t* table, double gamma) {
  if (!table) return;
  if (gamma == 0.0 || !std::isfinite(gamma)) gamma = 1.0;
  double inv = 1.0 / gamma;
  double top = std::pow(4095.0, inv);
  for (int i = 0; i < 4096; ++i) {
    double v = std::pow(static_cast<double>(i), inv) * 256.0 / top;
    v = std::min(255.0, v);
    table[i] = static_cast<uint8_t>(std::isnan(v) || v < 0 ? 0 : v);
  }
}

orb::Point EvalBezierPoint(const orb::Point* p, double t) {
  double u = 1.0 - t;
  double b0 = u * u * u, b1 = 3 * u * u * t, b2 = 3 * u * t * t, b3 = t * t * t;
  double x = b0 * p[0].x + b1 * p[1].x + b2 * p[2].x + b3 * p[3].x;
  double y = b0 * p[0].y + b1 * p[1].y + b2 * p[2].y + b3 * p[3].y;
  return {orb::ClampToInt32(x + 0.5), orb::ClampToInt32(y + 0.5)};
}

void EvalBezierPoint(const orb::Point* points4, double t, orb::Point* dest) {
  if (dest) *dest = EvalBezierPoint(points4, t);
}

int GetDirectionCode(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
  if (x1 >= x2 && y1 > y2) return 1;
  if (x1 < x2 && y1 >= y2) return 2;
  if (x1 <= x2 && y1 < y2) return 3;
  if (x1 > x2 && y1 <= y2) return 4;
  return 0;
}

orb::WaitResult WaitForSemaphoreOrWarn(orb::Event& event, int sourceLine) {
  orb::WaitResult r = event.Wait();
  if (r != orb::WaitResult::Signaled)
    std::fprintf(stderr, "orbalon: wait at line %d ended without a signal\n", sourceLine);
  return r;
}

std::string FormatTimeStamp(std::time_t t) {
  static const char* const kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                      "Thursday", "Friday", "Saturday"};
  static const char* const kMonths[] = {"January", "February", "March",     "April",
                                        "May",     "June",     "July",      "August",
                                        "September", "October", "November", "December"};
  struct tm tm{};
  if (!::localtime_r(&t, &tm)) return {};
  if (tm.tm_wday < 0 || tm.tm_wday > 6 || tm.tm_mon < 0 || tm.tm_mon > 11) return {};
  char buf[128];
  int n = std::snprintf(buf, sizeof buf, "%s, %s %d, %lld, %02d:%02d:%02d", kDays[tm.tm_wday],
                        kMonths[tm.tm_mon], tm.tm_mday, static_cast<long long>(tm.tm_year) + 1900,
                        tm.tm_hour, tm.tm_min, tm.tm_sec);
  if (n < 0) return {};
  return std::string(buf, std::min<size_t>(static_cast<size_t>(n), 127));
}
