#include "engine/ToolSettings.h"

#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Bytes.h"

namespace orb {

namespace {

template <size_t N>
void PutBytes(uint8_t* p, const std::array<uint8_t, N>& a) {
  std::memcpy(p, a.data(), N);
}
template <size_t N>
void GetBytes(const uint8_t* p, std::array<uint8_t, N>& a) {
  std::memcpy(a.data(), p, N);
}

}  // namespace

void BrightContRecord::Encode(uint8_t* out) const {
  PutI32LE(out + 0, Brightness);
  PutI32LE(out + 4, Contrast);
  PutU8(out + 8, enabled);
  PutBytes(out + 9, reserved);
}
void BrightContRecord::Decode(const uint8_t* in) {
  Brightness = GetI32LE(in + 0);
  Contrast = GetI32LE(in + 4);
  enabled = GetU8(in + 8);
  GetBytes(in + 9, reserved);
}

void BWPointRecord::Encode(uint8_t* out) const {
  PutI32LE(out + 0, White);
  PutI32LE(out + 4, Black);
  PutU8(out + 8, enabled);
  PutBytes(out + 9, reserved);
}
void BWPointRecord::Decode(const uint8_t* in) {
  White = GetI32LE(in + 0);
  Black = GetI32LE(in + 4);
  enabled = GetU8(in + 8);
  GetBytes(in + 9, reserved);
}

void BWThresholdRecord::Encode(uint8_t* out) const {
  PutI32LE(out + 0, ThresholdingType);
  PutI32LE(out + 4, FixedThreshhold);
  PutI32LE(out + 8, AdaptiveWindowSize);
  PutI32LE(out + 12, AdaptiveDynamic);
  PutU8(out + 16, SoftwareThreshold);
  PutU8(out + 17, DiffusionSerpentine);
  PutU8(out + 18, DiffusionHybrid);
  PutU8(out + 19, reserved);
  PutI32LE(out + 20, DiffusionLevel);
  PutI32LE(out + 24, HybridWindowSize);
  PutI32LE(out + 28, HybridDynamic);
  PutI32LE(out + 32, HybridDecisionWindow);
}
void BWThresholdRecord::Decode(const uint8_t* in) {
  ThresholdingType = GetI32LE(in + 0);
  FixedThreshhold = GetI32LE(in + 4);
  AdaptiveWindowSize = GetI32LE(in + 8);
  AdaptiveDynamic = GetI32LE(in + 12);
  SoftwareThreshold = GetU8(in + 16);
  DiffusionSerpentine = GetU8(in + 17);
  DiffusionHybrid = GetU8(in + 18);
  reserved = GetU8(in + 19);
  DiffusionLevel = GetI32LE(in + 20);
  HybridWindowSize = GetI32LE(in + 24);
  HybridDynamic = GetI32LE(in + 28);
  HybridDecisionWindow = GetI32LE(in + 32);
}

void DescreenRecord::Encode(uint8_t* out) const {
  PutI32LE(out + 0, Level);
  PutU8(out + 4, enabled);
  PutU8(out + 5, preview);
  PutBytes(out + 6, reserved);
}
void DescreenRecord::Decode(const uint8_t* in) {
  Level = GetI32LE(in + 0);
  enabled = GetU8(in + 4);
  preview = GetU8(in + 5);
  GetBytes(in + 6, reserved);
}

void DespeckleRecord::Encode(uint8_t* out) const {
  PutI32LE(out + 0, SpeckWidth);
  PutI32LE(out + 4, SpeckHeight);
  PutU8(out + 8, enabled);
  PutBytes(out + 9, reserved);
}
void DespeckleRecord::Decode(const uint8_t* in) {
  SpeckWidth = GetI32LE(in + 0);
  SpeckHeight = GetI32LE(in + 4);
  enabled = GetU8(in + 8);
  GetBytes(in + 9, reserved);
}

void GammaRecord::Encode(uint8_t* out) const {
  PutU32LE(out + 0, Channel);
  PutU8(out + 4, enabled);
  PutBytes(out + 5, reserved);
  uint8_t* p = out + kCurvesOffset;
  for (const auto& curve : curves) {
    for (const auto& pt : curve) {
      PutI32LE(p, pt.x);
      PutI32LE(p + 4, pt.y);
      p += 8;
    }
  }
  p = out + kTablesOffset;
  for (const auto& t : tables) {
    PutBytes(p, t);
    p += 256;
  }
}
void GammaRecord::Decode(const uint8_t* in) {
  Channel = GetU32LE(in + 0);
  enabled = GetU8(in + 4);
  GetBytes(in + 5, reserved);
  const uint8_t* p = in + kCurvesOffset;
  for (auto& curve : curves) {
    for (auto& pt : curve) {
      pt.x = GetI32LE(p);
      pt.y = GetI32LE(p + 4);
      p += 8;
    }
  }
  p = in + kTablesOffset;
  for (auto& t : tables) {
    GetBytes(p, t);
    p += 256;
  }
}

void EnabledByteRecord::Encode(uint8_t* out) const { PutU8(out, enabled); }
void EnabledByteRecord::Decode(const uint8_t* in) { enabled = GetU8(in); }

void SharpenRecord::Encode(uint8_t* out) const {
  PutI32LE(out + 0, Level);
  PutU8(out + 4, enabled);
  PutU8(out + 5, preview);
  PutBytes(out + 6, reserved);
}
void SharpenRecord::Decode(const uint8_t* in) {
  Level = GetI32LE(in + 0);
  enabled = GetU8(in + 4);
  preview = GetU8(in + 5);
  GetBytes(in + 6, reserved);
}

void PaletteRecord::Encode(uint8_t* out) const {
  PutU32LE(out + 0, ConvertTo);
  PutU8(out + 4, enabled);
  PutBytes(out + 5, reserved);
}
void PaletteRecord::Decode(const uint8_t* in) {
  ConvertTo = GetU32LE(in + 0);
  enabled = GetU8(in + 4);
  GetBytes(in + 5, reserved);
}

void Rotate90Record::Encode(uint8_t* out) const {
  PutI32LE(out + 0, Direction);
  PutU8(out + 4, enabled);
  PutBytes(out + 5, reserved);
}
void Rotate90Record::Decode(const uint8_t* in) {
  Direction = GetI32LE(in + 0);
  enabled = GetU8(in + 4);
  GetBytes(in + 5, reserved);
}

void AcceptAs2ImagesRecord::Encode(uint8_t* out) const {
  PutU8(out + 0, orientation);
  PutU8(out + 1, enabled);
}
void AcceptAs2ImagesRecord::Decode(const uint8_t* in) {
  orientation = GetU8(in + 0);
  enabled = GetU8(in + 1);
}

std::string GetPathField(const PathField& f) { return GetText(f.data(), f.size()); }

void SetPathField(PathField& f, std::string_view path) { PutText(f.data(), f.size(), path); }

void EditorRecord::Encode(uint8_t* out) const {
  PutU8(out + 0, enabled);
  PutBytes(out + 1, AppName);
}
void EditorRecord::Decode(const uint8_t* in) {
  enabled = GetU8(in + 0);
  GetBytes(in + 1, AppName);
}

void IndexRecord::Encode(uint8_t* out) const {
  PutU8(out + 0, enabled);
  PutBytes(out + 1, AppName);
  PutBytes(out + 261, ProjName);
}
void IndexRecord::Decode(const uint8_t* in) {
  enabled = GetU8(in + 0);
  GetBytes(in + 1, AppName);
  GetBytes(in + 261, ProjName);
}

void ColorClassRecord::Encode(uint8_t* out) const {
  PutBytes(out + 0, PaletteFile);
  PutBytes(out + 260, reserved1);
  PutI32LE(out + 264, NumColors);
  PutU8(out + 268, notice);
  PutBytes(out + 269, reserved2);
}
void ColorClassRecord::Decode(const uint8_t* in) {
  GetBytes(in + 0, PaletteFile);
  GetBytes(in + 260, reserved1);
  NumColors = GetI32LE(in + 264);
  notice = GetU8(in + 268);
  GetBytes(in + 269, reserved2);
}

void JoinImagesRecord::Encode(uint8_t* out) const {
  PutI32LE(out + 0, canvasWidth);
  PutI32LE(out + 4, canvasHeight);
  PutU32LE(out + 8, alpha);
  PutU8(out + 12, showEdges);
  PutU8(out + 13, deleteSources);
  PutBytes(out + 14, reserved1);
  PutU32LE(out + 16, mode);
  PutU8(out + 20, cropToItems);
  PutBytes(out + 21, reserved2);
}
void JoinImagesRecord::Decode(const uint8_t* in) {
  canvasWidth = GetI32LE(in + 0);
  canvasHeight = GetI32LE(in + 4);
  alpha = GetU32LE(in + 8);
  showEdges = GetU8(in + 12);
  deleteSources = GetU8(in + 13);
  GetBytes(in + 14, reserved1);
  mode = GetU32LE(in + 16);
  cropToItems = GetU8(in + 20);
  GetBytes(in + 21, reserved2);
}

GammaRecord MakeToneCurveDefaults() {
  GammaRecord g;
  for (auto& curve : g.curves) curve = {{{0, 0}, {86, 86}, {172, 172}, {255, 255}}};
  for (auto& t : g.tables)
    for (int i = 0; i < 256; ++i) t[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  return g;
}

bool ReadRecordFilePrefix(const std::string& path, uint8_t* buf, size_t cap, size_t* got,
                          bool* exists) {
  *got = 0;
  *exists = false;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  *exists = true;
  size_t n = 0;
  while (n < cap) {
    ssize_t r = ::read(fd, buf + n, cap - n);
    if (r < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return false;
    }
    if (r == 0) break;
    n += static_cast<size_t>(r);
  }
  ::close(fd);
  *got = n;
  return true;
}

bool WriteRecordFileBytes(const std::string& path, const uint8_t* data, size_t n) {
  return orb::WriteFileAtomically(path, data, n);
}

}  // namespace orb

orb::BrightContRecord BrightContSettings;
orb::BWPointRecord BWPointSettings;
orb::BWThresholdRecord BWThresholdSettings;
orb::DescreenRecord DescreenSettings;
orb::DespeckleRecord DespeckleSettings;
orb::GammaRecord GammaSettings = orb::MakeToneCurveDefaults();
orb::InvertRecord InvertSettings;
orb::MirrorRecord MirrorSettings;
orb::SharpenRecord SharpenSettings;
orb::PaletteRecord PaletteSettings;
orb::Rotate90Record Rotate90Settings;
orb::AcceptAs2ImagesRecord AcceptAs2ImagesSettings;
orb::EditorRecord EditorSettings;
orb::IndexRecord IndexSettings;
orb::ColorClassRecord ColorClassSettings;
orb::JoinImagesRecord JoinImagesSettings;
const orb::GammaRecord ToneCurveDefaults = orb::MakeToneCurveDefaults();
