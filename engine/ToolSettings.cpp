#include "engine/ToolSettings.h"

#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <concepts>
#include <cstring>
#include <tuple>
#include <type_traits>

#include "engine/RecordFields.h"
#include "platform/Bytes.h"

namespace orb {

namespace {

// Every record lays its fields one after another from offset 0, without gaps (the layout
// test checks that each fills its record exactly): a field's offset is the sum of the
// widths before it.
template <class V, class... F>
void Packed(V&& v, F&... fields) {
  size_t at = 0;
  ((v(at, fields), at += sizeof fields), ...);
}

// A record of type X, or a const one.
template <class R, class X>
concept RecordOf = std::same_as<std::remove_const_t<R>, X>;

// Each record's fields in record order.
template <RecordOf<BrightContRecord> R>
auto Tie(R& r) { return std::tie(r.Brightness, r.Contrast, r.enabled, r.reserved); }
template <RecordOf<BWPointRecord> R>
auto Tie(R& r) { return std::tie(r.White, r.Black, r.enabled, r.reserved); }
template <RecordOf<BWThresholdRecord> R>
auto Tie(R& r) {
  return std::tie(r.ThresholdingType, r.FixedThreshhold, r.AdaptiveWindowSize, r.AdaptiveDynamic, r.SoftwareThreshold,
                  r.DiffusionSerpentine, r.DiffusionHybrid, r.reserved, r.DiffusionLevel, r.HybridWindowSize,
                  r.HybridDynamic, r.HybridDecisionWindow);
}
template <RecordOf<DescreenRecord> R>
auto Tie(R& r) { return std::tie(r.Level, r.enabled, r.preview, r.reserved); }
template <RecordOf<DespeckleRecord> R>
auto Tie(R& r) { return std::tie(r.SpeckWidth, r.SpeckHeight, r.enabled, r.reserved); }
template <RecordOf<EnabledByteRecord> R>
auto Tie(R& r) { return std::tie(r.enabled); }
template <RecordOf<SharpenRecord> R>
auto Tie(R& r) { return std::tie(r.Level, r.enabled, r.preview, r.reserved); }
template <RecordOf<PaletteRecord> R>
auto Tie(R& r) { return std::tie(r.ConvertTo, r.enabled, r.reserved); }
template <RecordOf<Rotate90Record> R>
auto Tie(R& r) { return std::tie(r.Direction, r.enabled, r.reserved); }
template <RecordOf<AcceptAs2ImagesRecord> R>
auto Tie(R& r) { return std::tie(r.orientation, r.enabled); }
template <RecordOf<EditorRecord> R>
auto Tie(R& r) { return std::tie(r.enabled, r.AppName); }
template <RecordOf<IndexRecord> R>
auto Tie(R& r) { return std::tie(r.enabled, r.AppName, r.ProjName); }
template <RecordOf<ColorClassRecord> R>
auto Tie(R& r) { return std::tie(r.PaletteFile, r.reserved1, r.NumColors, r.notice, r.reserved2); }
template <RecordOf<JoinImagesRecord> R>
auto Tie(R& r) {
  return std::tie(r.canvasWidth, r.canvasHeight, r.alpha, r.showEdges, r.deleteSources, r.reserved1, r.mode,
                  r.cropToItems, r.reserved2);
}

template <class R, class V>
void Fields(R& r, V&& v) {
  std::apply([&v](auto&... fields) { Packed(v, fields...); }, Tie(r));
}

// The curves and tables lie after the header in blocks of their own.
template <RecordOf<GammaRecord> R, class V>
void Fields(R& r, V&& v) {
  v(0, r.Channel);
  v(4, r.enabled);
  v(5, r.reserved);
  for (size_t c = 0; c < r.curves.size(); ++c) {
    for (size_t i = 0; i < r.curves[c].size(); ++i) {
      const size_t at = GammaRecord::kCurvesOffset + 32 * c + 8 * i;
      v(at, r.curves[c][i].x);
      v(at + 4, r.curves[c][i].y);
    }
  }
  for (size_t t = 0; t < r.tables.size(); ++t) v(GammaRecord::kTablesOffset + 256 * t, r.tables[t]);
}

}  // namespace

// Every record's codec and layout from its visitor.
#define ORB_RECORD_CODEC(R)                                                  \
  void R::Encode(uint8_t* out) const { Fields(*this, FieldWriter{out}); }   \
  void R::Decode(const uint8_t* in) { Fields(*this, FieldReader{in}); }     \
  template <>                                                               \
  std::vector<FieldSpan> RecordLayout<R>() {                                \
    std::vector<FieldSpan> spans;                                           \
    R r;                                                                    \
    Fields(r, FieldLayout{&spans});                                         \
    return spans;                                                           \
  }

ORB_RECORD_CODEC(BrightContRecord)
ORB_RECORD_CODEC(BWPointRecord)
ORB_RECORD_CODEC(BWThresholdRecord)
ORB_RECORD_CODEC(DescreenRecord)
ORB_RECORD_CODEC(DespeckleRecord)
ORB_RECORD_CODEC(GammaRecord)
ORB_RECORD_CODEC(EnabledByteRecord)
ORB_RECORD_CODEC(SharpenRecord)
ORB_RECORD_CODEC(PaletteRecord)
ORB_RECORD_CODEC(Rotate90Record)
ORB_RECORD_CODEC(AcceptAs2ImagesRecord)
ORB_RECORD_CODEC(EditorRecord)
ORB_RECORD_CODEC(IndexRecord)
ORB_RECORD_CODEC(ColorClassRecord)
ORB_RECORD_CODEC(JoinImagesRecord)
#undef ORB_RECORD_CODEC

std::string GetPathField(const PathField& f) { return GetText(f.data(), f.size()); }

void SetPathField(PathField& f, std::string_view path) { PutText(f.data(), f.size(), path); }

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
