// Paper extent and grey strip pre-scans: short low-resolution scans whose profiles give
// the paper's left edge and width.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "scanner_library/TrennicInternal.h"
#include "scanner_library/trennic.h"

namespace {

std::vector<unsigned char> ToneRamp() {
  std::vector<unsigned char> t(4097);
  t[0] = 0;
  for (int k = 1; k < 4097; ++k)
    t[static_cast<size_t>(k)] = static_cast<unsigned char>(
        std::clamp(static_cast<int>((k - 1) * 255.0 / 4097 + 0.5), 0, 255));
  return t;
}

// Mean of each 10-pixel block over `count` lines starting at `first`.
std::vector<double> Profile(const std::vector<unsigned char>& scan, int width, int first, int count) {
  const int blocks = width / 10;
  std::vector<double> p(static_cast<size_t>(blocks), 0.0);
  for (int b = 0; b < blocks; ++b) {
    double sum = 0;
    for (int y = first; y < first + count; ++y)
      for (int x = 10 * b; x < 10 * b + 10; ++x) sum += scan[static_cast<size_t>(y) * width + x];
    p[static_cast<size_t>(b)] = sum / (10.0 * count);
  }
  return p;
}

// Walks the difference profile from `from` towards `to` (inclusive) and returns the first
// block that differs from the run it interrupts by more than the tolerance, confirmed by
// the next block differing too; -1 when there is none. The run value follows the profile
// while it stays within the tolerance.
int FindEdge(const std::vector<double>& diff, int from, int to, double tolerance) {
  const int step = from <= to ? 1 : -1;
  if (from < 0 || from >= static_cast<int>(diff.size())) return -1;
  double run = diff[static_cast<size_t>(from)];
  for (int i = from; i != to + step; i += step) {
    if (i < 0 || i >= static_cast<int>(diff.size())) break;
    const double v = diff[static_cast<size_t>(i)];
    if (std::abs(v - run) > tolerance) {
      const int next = i + step;
      if (next >= 0 && next < static_cast<int>(diff.size()) &&
          std::abs(diff[static_cast<size_t>(next)] - run) > tolerance)
        return i;
    } else {
      run = v;
    }
  }
  return -1;
}

}  // namespace

bool CTrennic::GetPaperExtent(int* width, int* left, int stagingPosition) {
  return Guard(false, [&] {
    const bool twoCameras = info_.NumberOfCameras == 2;
    return GetPaperExtent(width, left, twoCameras, Has(orb::trennic::kCapPaperExtentRamp),
                          stagingPosition);
  });
}

bool CTrennic::GetPaperExtent(int* width, int* left, bool twoCameras, bool loadRamp,
                              int stagingPosition) {
  return Guard(false, [&] {
    // The large models scan by length: the model table says which, and how long.
    const int scanLength = paperExtentLength_;
    return PaperExtentScan(width, left, scanLength > 0, scanLength, twoCameras, loadRamp,
                           stagingPosition);
  });
}

bool CTrennic::GetPaperExtent(int* width, int* left, int scanLength, bool loadRamp,
                              int stagingPosition) {
  return Guard(false, [&] {
    return PaperExtentScan(width, left, true, scanLength, false, loadRamp, stagingPosition);
  });
}

bool CTrennic::PaperExtentScan(int* width, int* left, bool lengthDriven, int scanLength,
                               bool twoCameras, bool loadRamp, int stagingPosition) {
  if (!width || !left || !IsOpen()) return false;
  if (lengthDriven && scanLength <= 100 + 20 * 12) return false;
  AditionalSenseCodeType asc = ASC_NONE;
  if (!UnitReady(&asc) || (asc != 0 && asc != 0x0402)) return false;
  const short staging = static_cast<short>(stagingPosition);
  SetPaperStagingPosition(static_cast<short>(lengthDriven ? -100 : -75));
  auto restore = [&] { SetPaperStagingPosition(staging); };
  if (!SetObjectPosition(OBJECT_LOAD, 0)) {
    restore();
    return false;
  }
  const int lineWidth = lengthDriven ? scanLength - 100 : (twoCameras ? 3500 : 3930);
  const int lines = lengthDriven ? 200 : 100;
  WindowDescriptorType w{};
  w.XResolution = w.YResolution = 100;
  w.Width = lineWidth;
  w.Length = lines;
  w.Threshold = 128;
  w.ImageComposition = 2;
  w.BitsPerPixel = 8;
  w.Flags = 131;
  w.Vendor[4] = 48;
  auto fail = [&] {
    restore();
    SetObjectPosition(OBJECT_MOVE_RELATIVE, -115);
    return false;
  };
  if (!SetWindow(w, 0, false)) return fail();
  SetFractionalSpeed(2);
  if (loadRamp) {
    std::vector<unsigned char> ramp = ToneRamp();
    LoadTrcTable(ramp.data());
  }
  if (!StartScan()) return fail();
  const size_t capacity = lengthDriven ? 2u << 20 : 512u << 10;
  const int total = lineWidth * lines;
  if (static_cast<size_t>(total) > capacity) return fail();
  std::vector<unsigned char> scan(capacity, 0);
  int got = 0;
  for (int attempt = 0; attempt < 40 && got < total; ++attempt) {
    DataTransferType rec{total - got, scan.data() + got, 0};
    const ReadCompleteType r = ReadDataIn(&rec);
    got += rec.ReturnedBytes;
    if (r != READ_NO_DATA) break;
  }
  if (got < total) return fail();

  const int paperLine = lengthDriven ? 160 : 80;
  const std::vector<double> reference = Profile(scan, lineWidth, 2, 5);
  const std::vector<double> paper = Profile(scan, lineWidth, paperLine, 10);
  std::vector<double> diff(reference.size());
  for (size_t i = 0; i < diff.size(); ++i) diff[i] = paper[i] - reference[i];
  const int blocks = static_cast<int>(diff.size());
  const int centre = lengthDriven ? (scanLength - 100) / 20 : (twoCameras ? 175 : 196);

  struct Try {
    int left, right;
    bool valid;
  };
  std::vector<Try> tries;
  double tolerance = 7.0;
  for (int k = 0; k < 6; ++k, tolerance -= 0.75) {
    const int right = FindEdge(diff, blocks - 1, 11, tolerance);
    const int leftEdge = FindEdge(diff, 2, blocks / 2, tolerance);
    const bool valid = right >= 11 && leftEdge >= 0 && right - leftEdge >= 61 &&
                       std::abs(leftEdge + right - 2 * centre) <= 19;
    tries.push_back({leftEdge, right, valid});
  }
  const Try* chosen = nullptr;
  for (size_t k = 1; k < tries.size() && !chosen; ++k)
    if (tries[k].valid) chosen = &tries[k];
  if (!chosen && tries[0].valid) chosen = &tries[0];
  restore();
  SetObjectPosition(OBJECT_LOAD, 0);
  if (!chosen) return false;
  if (lengthDriven) {
    *width = (chosen->right - chosen->left) * 10 + 20;
    *left = chosen->left * 10 + 40;
  } else {
    *width = (chosen->right - chosen->left) * 10;
    *left = chosen->left * 10;
  }
  return true;
}

bool CTrennic::GetGreyStripInfo(int* left, int* width, int stagingPosition, int minimumContrast,
                                int* meanLevel, int lines, bool loadRamp) {
  return Guard(false, [&] {
    if (!left || !width || !IsOpen()) return false;
    const bool series1 = info_.SeriesType == 1;
    const int res = series1 ? 300 : 400;
    const int lineWidth = series1 ? 10500 : 15720;
    const int scanLines = 40;
    const int averaged = std::clamp(lines, 1, 34);
    const short staging = static_cast<short>(stagingPosition);
    auto restore = [&] { SetPaperStagingPosition(staging); };
    WindowDescriptorType w{};
    w.XResolution = w.YResolution = res;
    w.Width = lineWidth;
    w.Length = scanLines;
    w.Threshold = 128;
    w.ImageComposition = 5;
    w.BitsPerPixel = 24;
    w.Flags = 131;
    if (!SetWindow(w, 0, false)) {
      restore();
      return false;
    }
    if (loadRamp) {
      std::vector<unsigned char> ramp = ToneRamp();
      LoadTrcTable(ramp.data());
    }
    if (!StartScan()) {
      restore();
      return false;
    }
    const int total = 3 * lineWidth * scanLines;
    std::vector<unsigned char> scan(2u << 20, 0);
    int got = 0;
    for (int attempt = 0; attempt < 40 && got < total; ++attempt) {
      DataTransferType rec{total - got, scan.data() + got, 0};
      const ReadCompleteType r = ReadDataIn(&rec);
      got += rec.ReturnedBytes;
      if (r != READ_NO_DATA) break;
    }
    restore();
    if (got < total) return false;
    // Column means of the three channels over the lines averaged, in blocks of 10.
    const int blocks = lineWidth / 10;
    std::vector<double> level(static_cast<size_t>(blocks), 0.0);
    for (int b = 0; b < blocks; ++b) {
      double sum = 0;
      for (int y = 0; y < averaged; ++y)
        for (int x = 10 * b; x < 10 * b + 10; ++x)
          for (int c = 0; c < 3; ++c) sum += scan[(static_cast<size_t>(y) * lineWidth + x) * 3 + c];
      level[static_cast<size_t>(b)] = sum / (30.0 * averaged);
    }
    const double tol = std::max(1, minimumContrast);
    const int l = FindEdge(level, 0, blocks - 1, tol);
    const int r = FindEdge(level, blocks - 1, 0, tol);
    if (l < 0 || r < l) return false;
    *left = l * 10;
    *width = (r - l + 1) * 10;
    if (meanLevel) {
      double sum = 0;
      for (int b = l; b <= r; ++b) sum += level[static_cast<size_t>(b)];
      *meanLevel = static_cast<int>(sum / (r - l + 1) + 0.5);
    }
    return true;
  });
}
