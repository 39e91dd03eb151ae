// The image tools' settings records.
//
// Each tool keeps one process-wide record for the whole run. The records are stored raw
// (the tool's ".flt" file, presets) in the fixed little-endian layouts below; every record
// is converted to and from its bytes explicitly, never by copying the struct, so the bytes
// on disk do not depend on padding or on the host. Bytes a record does not use are kept as
// read, so a load followed by a save reproduces the file byte for byte.
//
// The record types are ours (namespace orb); the process-wide instances carry the tools'
// names (`BrightContSettings`, `BWThresholdSettings`, ...) at global scope.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orb {

// Brightness/contrast, 12 bytes, "BrightCont.flt", presets "brc".
struct BrightContRecord {
  static constexpr size_t kSize = 12;
  static constexpr const char* kFileName = "BrightCont.flt";  // in the data folder
  static constexpr const char* kPresetExt = "brc";
  int32_t Brightness = 0;  // -100..100
  int32_t Contrast = 0;    // -100..100
  uint8_t enabled = 0;
  std::array<uint8_t, 3> reserved{};
  void Encode(uint8_t* out) const;
  void Decode(const uint8_t* in);
};

// White and black point, 12 bytes, "BWPoint.flt", presets "bwp".
struct BWPointRecord {
  static constexpr size_t kSize = 12;
  static constexpr const char* kFileName = "BWPoint.flt";  // in the data folder
  static constexpr const char* kPresetExt = "bwp";
  int32_t White = 255;
  int32_t Black = 0;
  uint8_t enabled = 0;
  std::array<uint8_t, 3> reserved{};
  void Encode(uint8_t* out) const;
  void Decode(const uint8_t* in);
};

// Black-and-white threshold, 36 bytes, "BWThreshold.flt", presets "thr".
struct BWThresholdRecord {
  static constexpr size_t kSize = 36;
  static constexpr const char* kFileName = "BWThreshold.flt";  // in the data folder
  static constexpr const char* kPresetExt = "thr";
  int32_t ThresholdingType = 0;    // 0 fixed, 1 adaptive, 2 error diffusion (combined)
  int32_t FixedThreshhold = 32;    // level of the fixed mode
  int32_t AdaptiveWindowSize = 20;
  int32_t AdaptiveDynamic = 9;     // percent
  uint8_t SoftwareThreshold = 1;   // the tool's enabled byte: scan grey, threshold here
  uint8_t DiffusionSerpentine = 0;
  uint8_t DiffusionHybrid = 0;
  uint8_t reserved = 0;
  int32_t DiffusionLevel = 32;
  int32_t HybridWindowSize = 20;
  int32_t HybridDynamic = 9;       // percent
  int32_t HybridDecisionWindow = 9;
  void Encode(uint8_t* out) const;
  void Decode(const uint8_t* in);
};

// Median noise removal ("descreen"), 8 bytes, "Descreen.flt", presets "des".
struct DescreenRecord {
  static constexpr size_t kSize = 8;
  static constexpr const char* kFileName = "Descreen.flt";  // in the data folder
  static constexpr const char* kPresetExt = "des";
  int32_t Level = 1;  // 1: 3x3, 2: 5x5, 3: 7x7
  uint8_t enabled = 0;
  uint8_t preview = 0;
  std::array<uint8_t, 2> reserved{};
  void Encode(uint8_t* out) const;
  void Decode(const uint8_t* in);
};

// Despeckle, 12 bytes, "Despeckle.flt", presets "dsp".
struct DespeckleRecord {
  static constexpr size_t kSize = 12;
  static constexpr const char* kFileName = "Despeckle.flt";  // in the data folder
  static constexpr const char* kPresetExt = "dsp";
  int32_t SpeckWidth = 5;
  int32_t SpeckHeight = 5;
  uint8_t enabled = 0;
  std::array<uint8_t, 3> reserved{};
  void Encode(uint8_t* out) const;
  void Decode(const uint8_t* in);
};

struct CurvePoint {
  int32_t x = 0;
  int32_t y = 0;
  bool operator==(const CurvePoint&) const = default;
};

// Tone curves, 1160 bytes, "Gamma.flt", presets "gma". Curves and tables in the order
// master, red, green, blue.
struct GammaRecord {
  static constexpr size_t kSize = 1160;
  static constexpr const char* kFileName = "Gamma.flt";  // in the data folder
  static constexpr const char* kPresetExt = "gma";
  static constexpr size_t kCurvesOffset = 8;
  static constexpr size_t kTablesOffset = 136;
  uint32_t Channel = 0;  // 0 master, 1 red, 2 green, 3 blue
  uint8_t enabled = 0;
  std::array<uint8_t, 3> reserved{};
  std::array<std::array<CurvePoint, 4>, 4> curves{};
  std::array<std::array<uint8_t, 256>, 4> tables{};
  void Encode(uint8_t* out) const;
  void Decode(const uint8_t* in);
};

// A one-byte record holding only the enabled byte: invert ("Invert.flt", "inv") and
// mirror ("Mirror.flt", "mir").
struct EnabledByteRecord {
  static constexpr size_t kSize = 1;
  uint8_t enabled = 0;
  void Encode(uint8_t* out) const;
  void Decode(const uint8_t* in);
};
using InvertRecord = EnabledByteRecord;
using MirrorRecord = EnabledByteRecord;
inline constexpr const char* kInvertFileName = "Invert.flt";
inline constexpr const char* kInvertPresetExt = "inv";
inline constexpr const char* kMirrorFileName = "Mirror.flt";
inline constexpr const char* kMirrorPresetExt = "mir";

// Sharpen/blur, 8 bytes, "Sharpen.flt", presets "sha".
struct SharpenRecord {
  static constexpr size_t kSize = 8;
  static constexpr const char* kFileName = "Sharpen.flt";  // in the data folder
  static constexpr const char* kPresetExt = "sha";
  int32_t Level = 0;  // -10..10: above 0 sharpen, below 0 blur
  uint8_t enabled = 0;
  uint8_t preview = 0;
  std::array<uint8_t, 2> reserved{};
  void Encode(uint8_t* out) const;
  void Decode(const uint8_t* in);
};

// Palette conversion, 8 bytes, "Palette.flt", presets "plt".
struct PaletteRecord {
  static constexpr size_t kSize = 8;
  static constexpr const char* kFileName = "Palette.flt";  // in the data folder
  static constexpr const char* kPresetExt = "plt";
  uint32_t ConvertTo = 0;  // conversion mode = ImageKind of the result
  uint8_t enabled = 0;
  std::array<uint8_t, 3> reserved{};
  void Encode(uint8_t* out) const;
  void Decode(const uint8_t* in);
};

// Quarter turns, 8 bytes, "Rotate90.flt", presets "r90".
struct Rotate90Record {
  static constexpr size_t kSize = 8;
  static constexpr const char* kFileName = "Rotate90.flt";  // in the data folder
  static constexpr const char* kPresetExt = "r90";
  int32_t Direction = 0;  // 0 left, 1 right, 2 half turn
  uint8_t enabled = 0;
  std::array<uint8_t, 3> reserved{};
  void Encode(uint8_t* out) const;
  void Decode(const uint8_t* in);
};

// Two-page split, 2 bytes, "AcceptAs2Images.flt", presets "a2i".
struct AcceptAs2ImagesRecord {
  static constexpr size_t kSize = 2;
  static constexpr const char* kFileName = "AcceptAs2Images.flt";  // in the data folder
  static constexpr const char* kPresetExt = "a2i";
  uint8_t orientation = 1;  // 0 horizontal split line, 1 vertical
  uint8_t enabled = 0;
  void Encode(uint8_t* out) const;
  void Decode(const uint8_t* in);
};

// Fixed 260-byte path field. Kept as raw bytes so that whatever follows the terminating
// NUL survives a load and save unchanged.
using PathField = std::array<uint8_t, 260>;
std::string GetPathField(const PathField& f);
void SetPathField(PathField& f, std::string_view path);

// Outside editor, 261 bytes, "Editor.flt", presets "edt".
struct EditorRecord {
  static constexpr size_t kSize = 261;
  static constexpr const char* kFileName = "Editor.flt";  // in the data folder
  static constexpr const char* kPresetExt = "edt";
  uint8_t enabled = 0;
  PathField AppName{};
  void Encode(uint8_t* out) const;
  void Decode(const uint8_t* in);
};

// Outside indexer, 521 bytes, "Index.flt", presets "idx".
struct IndexRecord {
  static constexpr size_t kSize = 521;
  static constexpr const char* kFileName = "Index.flt";  // in the data folder
  static constexpr const char* kPresetExt = "idx";
  uint8_t enabled = 0;
  PathField AppName{};
  PathField ProjName{};
  void Encode(uint8_t* out) const;
  void Decode(const uint8_t* in);
};

// Colour classification, 272 bytes, "ColorClass.flt", presets "cls".
struct ColorClassRecord {
  static constexpr size_t kSize = 272;
  static constexpr const char* kFileName = "ColorClass.flt";  // in the data folder
  static constexpr const char* kPresetExt = "cls";
  PathField PaletteFile{};
  std::array<uint8_t, 4> reserved1{};
  // Colours of a new classification, 1..256. A first start offers the most: the dialog
  // re-classifies only downward from the colours a classification made.
  int32_t NumColors = 256;
  uint8_t notice = 0;     // nonzero: show the notice before saving the palette
  std::array<uint8_t, 3> reserved2{};
  void Encode(uint8_t* out) const;
  void Decode(const uint8_t* in);
};

// Join canvas, 24 bytes, "JoinImages.flt", presets "joi".
struct JoinImagesRecord {
  static constexpr size_t kSize = 24;
  static constexpr const char* kFileName = "JoinImages.flt";  // in the data folder
  static constexpr const char* kPresetExt = "joi";
  int32_t canvasWidth = 3600;
  int32_t canvasHeight = 3600;
  uint32_t alpha = 255;
  uint8_t showEdges = 1;
  uint8_t deleteSources = 0;
  std::array<uint8_t, 2> reserved1{};
  uint32_t mode = 1;
  uint8_t cropToItems = 1;
  std::array<uint8_t, 3> reserved2{};
  void Encode(uint8_t* out) const;
  void Decode(const uint8_t* in);
};

struct FieldSpan;
// Offset and width of every field of a record, in record order (its codec's own list).
template <class R>
std::vector<FieldSpan> RecordLayout();

template <class R>
using RecordBytes = std::array<uint8_t, R::kSize>;

template <class R>
RecordBytes<R> EncodeRecord(const R& r) {
  RecordBytes<R> b{};
  r.Encode(b.data());
  return b;
}

template <class R>
R DecodeRecord(const RecordBytes<R>& b) {
  R r;
  r.Decode(b.data());
  return r;
}

// Overlays the first `n` bytes of `data` on the record (a short file replaces a prefix
// and leaves the rest as it was; bytes past the record's size are ignored).
template <class R>
void DecodeRecordPrefix(R& r, const uint8_t* data, size_t n) {
  if (n == 0) return;
  RecordBytes<R> b = EncodeRecord(r);
  for (size_t i = 0; i < n && i < R::kSize; ++i) b[i] = data[i];
  r.Decode(b.data());
}

// Reads a record file over the record: a missing or empty file leaves it unchanged, a
// short one replaces a prefix. Returns false only when an existing file cannot be read.
template <class R>
bool LoadRecordFile(const std::string& path, R& r);

// Writes the record's bytes to a temporary file beside `path` and renames it over the
// target, so a failure never leaves a truncated file. Returns false on failure.
template <class R>
bool SaveRecordFile(const std::string& path, const R& r);

bool ReadRecordFilePrefix(const std::string& path, uint8_t* buf, size_t cap, size_t* got, bool* exists);
bool WriteRecordFileBytes(const std::string& path, const uint8_t* data, size_t n);

template <class R>
bool LoadRecordFile(const std::string& path, R& r) {
  RecordBytes<R> b{};
  size_t got = 0;
  bool exists = false;
  if (!ReadRecordFilePrefix(path, b.data(), b.size(), &got, &exists)) return !exists;
  DecodeRecordPrefix(r, b.data(), got);
  return true;
}

template <class R>
bool SaveRecordFile(const std::string& path, const R& r) {
  RecordBytes<R> b = EncodeRecord(r);
  return WriteRecordFileBytes(path, b.data(), b.size());
}

// The factory tone curves: straight curves through (0,0), (86,86), (172,172), (255,255)
// and identity tables.
GammaRecord MakeToneCurveDefaults();

}  // namespace orb

static_assert(orb::BrightContRecord::kSize == 12);
static_assert(orb::BWPointRecord::kSize == 12);
static_assert(orb::BWThresholdRecord::kSize == 36);
static_assert(orb::DescreenRecord::kSize == 8);
static_assert(orb::DespeckleRecord::kSize == 12);
static_assert(orb::GammaRecord::kSize == 1160);
static_assert(orb::GammaRecord::kTablesOffset + 4 * 256 == orb::GammaRecord::kSize);
static_assert(orb::EnabledByteRecord::kSize == 1);
static_assert(orb::SharpenRecord::kSize == 8);
static_assert(orb::PaletteRecord::kSize == 8);
static_assert(orb::Rotate90Record::kSize == 8);
static_assert(orb::AcceptAs2ImagesRecord::kSize == 2);
static_assert(orb::EditorRecord::kSize == 1 + 260);
static_assert(orb::IndexRecord::kSize == 1 + 260 + 260);
static_assert(orb::ColorClassRecord::kSize == 272);
static_assert(orb::JoinImagesRecord::kSize == 24);

// The process-wide records, one per tool, at their defaults until a file is loaded.
extern orb::BrightContRecord BrightContSettings;
extern orb::BWPointRecord BWPointSettings;
extern orb::BWThresholdRecord BWThresholdSettings;
extern orb::DescreenRecord DescreenSettings;
extern orb::DespeckleRecord DespeckleSettings;
extern orb::GammaRecord GammaSettings;
extern orb::InvertRecord InvertSettings;
extern orb::MirrorRecord MirrorSettings;
extern orb::SharpenRecord SharpenSettings;
extern orb::PaletteRecord PaletteSettings;
extern orb::Rotate90Record Rotate90Settings;
extern orb::AcceptAs2ImagesRecord AcceptAs2ImagesSettings;
extern orb::EditorRecord EditorSettings;
extern orb::IndexRecord IndexSettings;
extern orb::ColorClassRecord ColorClassSettings;
extern orb::JoinImagesRecord JoinImagesSettings;
// The factory tone-curve record; loading and resetting the tone curves start from it.
extern const orb::GammaRecord ToneCurveDefaults;
