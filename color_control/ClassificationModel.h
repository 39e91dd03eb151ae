// The classification as the user edits it: the palette and lookup tables the host gets,
// the list of colour entries in display (and palette) order, merges, the undo list and
// the replacement colour. No window knows more than this; the dialog only draws it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CMedianCutQuantizer;

struct ColorEntry {
  static constexpr int32_t kSelf = -1;          // stands for itself
  static constexpr int32_t kUnused = 0x7FFFFFFE;
  static constexpr int32_t kFirstCellId = 5101;

  uint8_t flagged = 0, pendingFlag = 0, pendingUnflag = 0, dropTarget = 0, hasMerges = 0;
  int32_t mergedInto = kSelf;  // cell id of the representing colour
  int32_t cellId = kFirstCellId;
  uint32_t count = 0;          // own pixels plus those of colours merged into it
  int32_t classifiedIndex = 0;
  uint32_t color = 0;          // 0x00RRGGBB
  double hue = 0, saturation = 0, lightness = 0;

  bool StandsAlone() const { return mergedInto == kSelf; }
  uint8_t Red() const { return uint8_t(color >> 16); }
  uint8_t Green() const { return uint8_t(color >> 8); }
  uint8_t Blue() const { return uint8_t(color); }
  void SetColor(uint8_t r, uint8_t g, uint8_t b);
};

enum class SortKey : int32_t { Index = 0, Count = 1, Hue = 2, Lightness = 3, Saturation = 4 };

// What the control hands to the host: palette R, G, B by index and the 5-6-5 table.
struct ClassificationTables {
  std::array<uint8_t, 65536> lut{};
  std::array<uint8_t, 65536> baseLut{};  // as classified or set, before merges and sorting
  std::array<uint8_t, 768> palette{};
  std::array<uint32_t, 256> counts{};
  int32_t colorCount = 0;
  int32_t requestedCount = 0;
  int32_t activeCount = 0;
};

class CClassificationModel {
public:
  using PaletteSink = std::function<void(const uint8_t* pal, uint32_t n, const uint8_t* lut)>;

  CClassificationModel();
  ~CClassificationModel();

  void SetPaletteSink(PaletteSink sink) { sink_ = std::move(sink); }
  ClassificationTables& Tables() { return t_; }
  const ClassificationTables& Tables() const { return t_; }
  const std::vector<ColorEntry>& Entries() const { return list_; }
  std::vector<ColorEntry>& Entries() { return list_; }

  // A fresh list (entry i: cell 5101 + i, classified index i), no undo, current 0.
  void ResetList();
  // Colours, values and counts of the entries from the tables' palette, by classified index.
  void FillFromPalette();
  // Entries from the colour count onward are unused.
  void MarkUnusedFrom(int colorCount);

  // Sorting regroups and reorders the list; Rebuild remaps the table and palette to the
  // list order and reports them. Every edit below ends in both.
  void SetSortKey(SortKey k) { key_ = k; }
  SortKey Key() const { return key_; }
  void Sort();
  void Rebuild();
  void SortAndRebuild() { Sort(); Rebuild(); }
  void Report() const;

  // Flags by list position; refused (false) when the target is flagged itself.
  bool MergeFlagged(const std::vector<uint8_t>& flagged, int target);
  bool MergeAreaIntoCurrent(const uint32_t* flagsByIndex);
  void Unmerge(const std::vector<int32_t>& cellIds);
  std::vector<int32_t> MergeListOf(int position) const;
  bool CanUndo() const { return !undo_.empty(); }
  size_t UndoDepth() const { return undo_.size(); }
  void Undo();
  void ClearUndo();
  bool Reclassify(CMedianCutQuantizer& builder, int requested);

  // 0 red, 1 green, 2 blue; `newDrag` records an undo snapshot first.
  void EditCurrentComponent(int component, uint8_t value, bool newDrag);

  int Current() const { return current_; }
  void SelectCurrent(int position);
  int PositionOfCell(int32_t cellId) const;
  int RepresentativeOf(int position) const;

  void SetReplacement(bool on, uint32_t colorref);
  bool ReplacementOn() const { return replaceOn_; }
  uint32_t ReplacementColor() const { return replaceColor_; }
  // Restores the current entry's own colour in the palette without changing the switch.
  void WithdrawReplacement();
  void ApplyReplacement();

  // The count sort key value shown beside the current colour ("%d" or "%3.1f").
  std::string SortValueText(int position) const;

private:
  struct Snapshot;
  void PushListSnapshot(int kind);
  void RegroupAndOrder();
  void SortBands(int n);
  void WritePaletteEntry(int position, uint32_t rgb);

  ClassificationTables t_;
  std::vector<ColorEntry> list_;
  std::vector<std::unique_ptr<Snapshot>> undo_;  // most recent last
  PaletteSink sink_;
  SortKey key_ = SortKey::Lightness;
  int current_ = 0;
  bool replaceOn_ = false;
  uint32_t replaceColor_ = 0x00FF00;  // COLORREF: red in the low byte
};
