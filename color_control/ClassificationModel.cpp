#include "color_control/ClassificationModel.h"

#include <algorithm>
#include <charconv>

#include "color_control/ColorValues.h"
#include "color_control/MedianCutQuantizer.h"

namespace {

// The twelve hue bands of the hue sort: lower bound inclusive, upper exclusive. The gaps
// between them are as they have always been; a hue in a gap joins no band.
constexpr double kBands[12][2] = {
    {0, 0.08339},         {0.0834, 0.16672},    {0.16673, 0.25011},   {0.25012, 0.33349},
    {0.3335, 0.41688},    {0.41689, 0.50027},   {0.50028, 0.58366},   {0.58367, 0.66705},
    {0.66706, 0.75044},   {0.75045, 0.83383},   {0.83384, 0.91722},   {0.91723, 1.0}};

bool ById(const ColorEntry& a, const ColorEntry& b) { return a.cellId < b.cellId; }

}  // namespace

void ColorEntry::SetColor(uint8_t r, uint8_t g, uint8_t b) {
  color = uint32_t(r) << 16 | uint32_t(g) << 8 | b;
  const ColorValues v = ComputeColorValues(r, g, b);
  hue = v.hue;
  saturation = v.saturation;
  lightness = v.lightness;
}

struct CClassificationModel::Snapshot {
  int kind = 0;  // 0 re-classification, 1 merge, 2 colour edit
  ClassificationTables tables;
  std::vector<ColorEntry> list;
  ColorEntry edited;  // kind 2: colour and values of one entry, found by cell id
};

CClassificationModel::CClassificationModel() { ResetList(); }
CClassificationModel::~CClassificationModel() = default;
void CClassificationModel::ClearUndo() { undo_.clear(); }

void CClassificationModel::ResetList() {
  list_.assign(256, ColorEntry{});
  for (int i = 0; i < 256; ++i) {
    list_[i].cellId = ColorEntry::kFirstCellId + i;
    list_[i].classifiedIndex = i;
  }
  undo_.clear();
  current_ = 0;
}

void CClassificationModel::FillFromPalette() {
  for (auto& e : list_) {
    const int i = e.classifiedIndex & 0xFF;
    if (e.classifiedIndex >= t_.colorCount) continue;
    e.SetColor(t_.palette[3 * i], t_.palette[3 * i + 1], t_.palette[3 * i + 2]);
    e.count = t_.counts[i];
  }
}

void CClassificationModel::MarkUnusedFrom(int colorCount) {
  for (auto& e : list_) {
    if (e.classifiedIndex >= colorCount) e.mergedInto = ColorEntry::kUnused;
  }
}

int CClassificationModel::PositionOfCell(int32_t cellId) const {
  for (size_t p = 0; p < list_.size(); ++p) {
    if (list_[p].cellId == cellId) return int(p);
  }
  return -1;
}

int CClassificationModel::RepresentativeOf(int position) const {
  if (position < 0 || position >= int(list_.size())) return -1;
  const ColorEntry& e = list_[position];
  return e.StandsAlone() ? position : PositionOfCell(e.mergedInto);
}

void CClassificationModel::RegroupAndOrder() {
  // Ties go by cell id, so the same list always sorts the same way.
  std::sort(list_.begin(), list_.end(), [](const ColorEntry& a, const ColorEntry& b) {
    return a.mergedInto != b.mergedInto ? a.mergedInto < b.mergedInto : a.cellId < b.cellId;
  });
  int n = t_.activeCount == 0 ? t_.colorCount : std::min(t_.activeCount, t_.colorCount);
  n = std::clamp(n, 0, int(list_.size()));
  const auto first = list_.begin(), last = list_.begin() + n;
  auto by = [&](auto key, bool descending) {
    std::sort(first, last, [&](const ColorEntry& a, const ColorEntry& b) {
      const auto ka = key(a), kb = key(b);
      if (ka != kb) return descending ? ka > kb : ka < kb;
      return a.cellId < b.cellId;
    });
  };
  switch (key_) {
    case SortKey::Index: std::sort(first, last, ById); break;
    case SortKey::Count: by([](const ColorEntry& e) { return e.count; }, true); break;
    case SortKey::Hue: by([](const ColorEntry& e) { return e.hue; }, false); SortBands(n); break;
    case SortKey::Lightness: by([](const ColorEntry& e) { return e.lightness; }, true); break;
    case SortKey::Saturation: by([](const ColorEntry& e) { return e.saturation; }, true); break;
  }
}

void CClassificationModel::SortBands(int n) {
  for (const auto& band : kBands) {
    int p = 0;
    while (p < n && !(list_[p].hue >= band[0] && list_[p].hue < band[1])) ++p;
    if (p == n) continue;
    int q = p;
    while (q < n && list_[q].hue < band[1]) ++q;
    std::sort(list_.begin() + p, list_.begin() + q, [](const ColorEntry& a, const ColorEntry& b) {
      return a.saturation != b.saturation ? a.saturation > b.saturation : a.cellId < b.cellId;
    });
  }
}

void CClassificationModel::Sort() {
  const int32_t currentId = list_[std::clamp(current_, 0, 255)].cellId;
  RegroupAndOrder();
  current_ = std::max(0, PositionOfCell(currentId));
}

void CClassificationModel::Rebuild() {
  int map[256];
  std::fill(std::begin(map), std::end(map), -1);
  const int requested = std::clamp(t_.requestedCount, 0, 256);
  for (int p = 0; p < requested; ++p) {
    const int v = list_[p].classifiedIndex & 0xFF;
    if (map[v] >= 0) continue;
    const int rep = RepresentativeOf(p);
    map[v] = rep < 0 ? 255 : rep;
  }
  for (int c = 0; c < 65536; ++c) {
    const int m = map[t_.baseLut[c]];
    t_.lut[c] = m < 0 ? t_.baseLut[c] : uint8_t(m);
  }
  const int active = std::clamp(t_.activeCount, 0, 256);
  for (int p = 0; p < active; ++p) WritePaletteEntry(p, list_[p].color);
  ApplyReplacement();
  Report();
}

void CClassificationModel::Report() const {
  if (sink_) sink_(t_.palette.data(), uint32_t(std::max(0, t_.activeCount)), t_.lut.data());
}

void CClassificationModel::WritePaletteEntry(int position, uint32_t rgb) {
  if (position < 0 || position >= 256) return;
  t_.palette[3 * position] = uint8_t(rgb >> 16);
  t_.palette[3 * position + 1] = uint8_t(rgb >> 8);
  t_.palette[3 * position + 2] = uint8_t(rgb);
}

void CClassificationModel::PushListSnapshot(int kind) {
  auto s = std::make_unique<Snapshot>();
  s->kind = kind;
  s->tables = t_;
  s->list = list_;
  undo_.push_back(std::move(s));
}

bool CClassificationModel::MergeFlagged(const std::vector<uint8_t>& flagged, int target) {
  const int rep = RepresentativeOf(target);
  if (rep < 0 || list_[target].flagged) return false;
  std::vector<int> from;
  for (int i = 0; i < int(flagged.size()) && i < int(list_.size()); ++i) {
    if (flagged[i] && i != target && i != rep && list_[i].StandsAlone()) from.push_back(i);
  }
  if (from.empty()) return false;
  PushListSnapshot(1);
  ColorEntry& to = list_[rep];
  for (int i : from) {
    ColorEntry& src = list_[i];
    for (auto& e : list_) {
      if (e.mergedInto != src.cellId) continue;
      e.mergedInto = to.cellId;
      src.count -= e.count;
      to.count += e.count;
    }
    src.mergedInto = to.cellId;
    to.count += src.count;
    src.flagged = 0;
    src.hasMerges = 0;
    to.hasMerges = 1;
    --t_.activeCount;
  }
  SortAndRebuild();
  return true;
}

bool CClassificationModel::MergeAreaIntoCurrent(const uint32_t* flagsByIndex) {
  std::vector<uint8_t> flags(256, 0);
  const int active = std::clamp(t_.activeCount, 0, 256);
  for (int p = 0; p < active; ++p) flags[p] = flagsByIndex[p] == 1;
  for (auto& e : list_) e.flagged = 0;
  return MergeFlagged(flags, current_);
}

std::vector<int32_t> CClassificationModel::MergeListOf(int position) const {
  std::vector<int32_t> ids;
  if (position < 0 || position >= int(list_.size())) return ids;
  for (const auto& e : list_) {
    if (e.mergedInto == list_[position].cellId) ids.push_back(e.cellId);
  }
  return ids;
}

void CClassificationModel::Unmerge(const std::vector<int32_t>& cellIds) {
  std::vector<int32_t> reps;
  for (int32_t id : cellIds) {
    const int p = PositionOfCell(id);
    if (p < 0 || list_[p].StandsAlone() || list_[p].mergedInto == ColorEntry::kUnused) continue;
    const int rep = PositionOfCell(list_[p].mergedInto);
    if (rep >= 0) {
      list_[rep].count -= list_[p].count;
      reps.push_back(list_[rep].cellId);
    }
    list_[p].mergedInto = ColorEntry::kSelf;
    ++t_.activeCount;
  }
  for (int32_t id : reps) {
    const int p = PositionOfCell(id);
    list_[p].hasMerges = !MergeListOf(p).empty();
  }
  SortAndRebuild();
}

void CClassificationModel::Undo() {
  if (undo_.empty()) return;
  std::unique_ptr<Snapshot> s = std::move(undo_.back());
  undo_.pop_back();
  if (s->kind == 2) {
    const int p = PositionOfCell(s->edited.cellId);
    if (p >= 0) {
      ColorEntry& e = list_[p];
      e.color = s->edited.color;
      e.hue = s->edited.hue;
      e.saturation = s->edited.saturation;
      e.lightness = s->edited.lightness;
      if (p < t_.activeCount) WritePaletteEntry(p, e.color);
      if (p == current_) ApplyReplacement();
    }
  } else {
    const int32_t currentId = list_[current_].cellId;
    t_ = s->tables;
    list_ = s->list;
    current_ = std::max(0, PositionOfCell(currentId));
    SortAndRebuild();
  }
  Report();
}

bool CClassificationModel::Reclassify(CMedianCutQuantizer& builder, int requested) {
  PushListSnapshot(0);
  std::sort(list_.begin(), list_.end(), ById);
  for (int p = 0; p < int(list_.size()); ++p) {
    const int32_t id = list_[p].cellId;
    list_[p] = ColorEntry{};
    list_[p].cellId = id;
    list_[p].classifiedIndex = p;
  }
  t_.counts.fill(0);
  t_.requestedCount = requested;
  if (!builder.Run(requested, &t_.colorCount, t_.lut.data(), t_.palette.data(), t_.counts.data())) {
    t_ = undo_.back()->tables;
    list_ = undo_.back()->list;
    undo_.pop_back();
    return false;
  }
  t_.baseLut = t_.lut;
  t_.activeCount = t_.colorCount;
  current_ = 0;
  MarkUnusedFrom(t_.colorCount);
  FillFromPalette();
  SortAndRebuild();
  return true;
}

void CClassificationModel::EditCurrentComponent(int component, uint8_t value, bool newDrag) {
  ColorEntry& e = list_[current_];
  if (newDrag) {
    auto s = std::make_unique<Snapshot>();
    s->kind = 2;
    s->edited = e;
    undo_.push_back(std::move(s));
  }
  uint8_t rgb[3] = {e.Red(), e.Green(), e.Blue()};
  rgb[std::clamp(component, 0, 2)] = value;
  e.SetColor(rgb[0], rgb[1], rgb[2]);
  // While editing, the host sees the colour being made, not the replacement.
  WritePaletteEntry(current_, e.color);
  Report();
}

void CClassificationModel::SelectCurrent(int position) {
  if (position < 0 || position >= int(list_.size())) return;
  list_[current_].flagged = 0;
  list_[position].flagged = 0;
  if (position == current_) return;
  WithdrawReplacement();
  current_ = position;
  if (replaceOn_) {
    ApplyReplacement();
    Report();
  }
}

void CClassificationModel::WithdrawReplacement() {
  if (current_ < t_.activeCount) WritePaletteEntry(current_, list_[current_].color);
}

void CClassificationModel::ApplyReplacement() {
  if (!replaceOn_ || current_ >= t_.activeCount) return;
  const uint32_t rgb = (replaceColor_ & 0xFF) << 16 | (replaceColor_ & 0xFF00) | (replaceColor_ >> 16 & 0xFF);
  WritePaletteEntry(current_, rgb);
}

void CClassificationModel::SetReplacement(bool on, uint32_t colorref) {
  WithdrawReplacement();
  replaceOn_ = on;
  replaceColor_ = colorref & 0xFFFFFF;
  ApplyReplacement();
  Report();
}

std::string CClassificationModel::SortValueText(int position) const {
  const ColorEntry& e = list_[std::clamp(position, 0, 255)];
  double v = 0;
  switch (key_) {
    case SortKey::Index: return std::to_string(e.cellId - ColorEntry::kFirstCellId);
    case SortKey::Count: return std::to_string(e.count);
    case SortKey::Hue: v = e.hue * 360; break;
    case SortKey::Lightness: v = e.lightness * 100; break;
    case SortKey::Saturation: v = e.saturation * 100; break;
  }
  // One decimal whatever the locale says.
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 1);
  return std::string(buf, r.ptr);
}
