#include "engine/ToolSettings.h"

#include "platform/Files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <concepts>
#include <cstring>
#include <type_traits>

#include "engine/RecordFields.h"
#include "platform/Bytes.h"

namespace orb {

namespace {

// One visitor per record: its fields at their offsets, in record order.
template <class R, class V>
void Fields(R& r, V&& v) requires std::same_as<std::remove_const_t<R>, BrightContRecord> {
  v(0, r.Brightness);
  v(4, r.Contrast);
  v(8, r.enabled);
  v(9, r.reserved);
}

template <class R, class V>
void Fields(R& r, V&& v) requires std::same_as<std::remove_const_t<R>, BWPointRecord> {
  v(0, r.White);
  v(4, r.Black);
  v(8, r.enabled);
  v(9, r.reserved);
}

template <class R, class V>
void Fields(R& r, V&& v) requires std::same_as<std::remove_const_t<R>, BWThresholdRecord> {
  v(0, r.ThresholdingType);
  v(4, r.FixedThreshhold);
  v(8, r.AdaptiveWindowSize);
  v(12, r.AdaptiveDynamic);
  v(16, r.SoftwareThreshold);
  v(17, r.DiffusionSerpentine);
  v(18, r.DiffusionHybrid);
  v(19, r.reserved);
  v(20, r.DiffusionLevel);
  v(24, r.HybridWindowSize);
  v(28, r.HybridDynamic);
  v(32, r.HybridDecisionWindow);
}

template <class R, class V>
void Fields(R& r, V&& v) requires std::same_as<std::remove_const_t<R>, DescreenRecord> {
  v(0, r.Level);
  v(4, r.enabled);
  v(5, r.preview);
  v(6, r.reserved);
}

template <class R, class V>
void Fields(R& r, V&& v) requires std::same_as<std::remove_const_t<R>, DespeckleRecord> {
  v(0, r.SpeckWidth);
  v(4, r.SpeckHeight);
  v(8, r.enabled);
  v(9, r.reserved);
}

template <class R, class V>
void Fields(R& r, V&& v) requires std::same_as<std::remove_const_t<R>, GammaRecord> {
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

template <class R, class V>
void Fields(R& r, V&& v) requires std::same_as<std::remove_const_t<R>, EnabledByteRecord> {
  v(0, r.enabled);
}

template <class R, class V>
void Fields(R& r, V&& v) requires std::same_as<std::remove_const_t<R>, SharpenRecord> {
  v(0, r.Level);
  v(4, r.enabled);
  v(5, r.preview);
  v(6, r.reserved);
}

template <class R, class V>
void Fields(R& r, V&& v) requires std::same_as<std::remove_const_t<R>, PaletteRecord> {
  v(0, r.ConvertTo);
  v(4, r.enabled);
  v(5, r.reserved);
}

template <class R, class V>
void Fields(R& r, V&& v) requires std::same_as<std::remove_const_t<R>, Rotate90Record> {
  v(0, r.Direction);
  v(4, r.enabled);
  v(5, r.reserved);
}

template <class R, class V>
void Fields(R& r, V&& v) requires std::same_as<std::remove_const_t<R>, AcceptAs2ImagesRecord> {
  v(0, r.orientation);
  v(1, r.enabled);
}

template <class R, class V>
void Fields(R& r, V&& v) requires std::same_as<std::remove_const_t<R>, EditorRecord> {
  v(0, r.enabled);
  v(1, r.AppName);
}

template <class R, class V>
void Fields(R& r, V&& v) requires std::same_as<std::remove_const_t<R>, IndexRecord> {
  v(0, r.enabled);
  v(1, r.AppName);
  v(261, r.ProjName);
}

template <class R, class V>
void Fields(R& r, V&& v) requires std::same_as<std::remove_const_t<R>, ColorClassRecord> {
  v(0, r.PaletteFile);
  v(260, r.reserved1);
  v(264, r.NumColors);
  v(268, r.notice);
  v(269, r.reserved2);
}

template <class R, class V>
void Fields(R& r, V&& v) requires std::same_as<std::remove_const_t<R>, JoinImagesRecord> {
  v(0, r.canvasWidth);
  v(4, r.canvasHeight);
  v(8, r.alpha);
  v(12, r.showEdges);
  v(13, r.deleteSources);
  v(14, r.reserved1);
  v(16, r.mode);
  v(20, r.cropToItems);
  v(21, r.reserved2);
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
