// The process-wide status word and the names of its bits.
//
// Every part of the program (the frame, the documents, the view, the scan threads, the
// engine's streams) reads AppStatus; the bits are named here once and tested and changed
// only through the helpers below, each change one atomic step.
//
// Two fields are values, not flags: the scan state in bits 0-1 (0 idle, 1 scanning,
// 2 a finished scan waits for the decision; bit 2 is the medium-moving flag, so the state
// never reaches it) and the display mode in bits 4-7 (fitted or full size; whoever sets a
// mode clears the whole field, so the two modes never stand together).
#pragma once

#include <atomic>
#include <cstdint>

// Defined with the engine (EngineHost.cpp), which polls it during long operations.
extern std::atomic<uint32_t> AppStatus;

namespace orb {

enum class StatusBit : uint32_t {
  None = 0,
  ScanStateField = 0x3,
  MediumMoving = 0x4,            // a worker thread moves the medium
  FittedDisplay = 0x10,          // the progressive display paints the reduced picture
  FullSizeDisplay = 0x20,        // the progressive display follows the rows at full size
  DisplayField = 0xF0,
  Opening = 0x100,               // a file is being opened and decoded (the program is busy)
  ViewRefresh = 0x200,           // the view rebuilds its display
  Busy = Opening | ViewRefresh,
  ProgramClose = 0x10000,        // the program, not the user, closes a document
  ClassRgb = 0x100000,           // the image shows in RGB while its colours are classified
  ClassPreview = 0x200000,       // the colour-classification preview is shown
  ClassField = 0xF00000,         // the classification's display bits (20 to 23)
  ColourPickRequested = 0x1000000,
  AreaMergeRequested = 0x2000000,
  JoinCanvas = 0x10000000,       // the join tool is creating its canvas document
  DecodingOnGuiThread = 0x20000000,
};

enum class ScanState : uint32_t { Idle = 0, Scanning = 1, DecisionPending = 2 };

constexpr uint32_t Bits(StatusBit b) { return static_cast<uint32_t>(b); }
constexpr uint32_t Bits(ScanState s) { return static_cast<uint32_t>(s); }
constexpr StatusBit operator|(StatusBit a, StatusBit b) { return StatusBit(Bits(a) | Bits(b)); }

// Whether any of `bits` is set in `word` (the current status word by default).
constexpr bool HasStatus(uint32_t word, StatusBit bits) { return (word & Bits(bits)) != 0; }
inline bool HasStatus(StatusBit bits) { return HasStatus(AppStatus.load(), bits); }
// Whether `word` holds exactly `bits` and nothing else.
constexpr bool StatusIsExactly(uint32_t word, StatusBit bits) { return word == Bits(bits); }

inline void SetStatus(StatusBit bits) { AppStatus.fetch_or(Bits(bits)); }
inline void ClearStatus(StatusBit bits) { AppStatus.fetch_and(~Bits(bits)); }
// Sets or clears `bits` as `on` says.
inline void PutStatus(StatusBit bits, bool on) { on ? SetStatus(bits) : ClearStatus(bits); }
// Clears `field` and sets `bits` in one step.
inline void ReplaceStatus(StatusBit field, StatusBit bits) {
  uint32_t cur = AppStatus.load();
  while (!AppStatus.compare_exchange_weak(cur, (cur & ~Bits(field)) | Bits(bits))) {
  }
}

constexpr ScanState ScanStateOf(uint32_t word) { return ScanState(word & Bits(StatusBit::ScanStateField)); }
inline ScanState CurrentScanState() { return ScanStateOf(AppStatus.load()); }
inline void SetScanState(ScanState state) { ReplaceStatus(StatusBit::ScanStateField, StatusBit(Bits(state))); }
inline bool IsScanning() { return CurrentScanState() == ScanState::Scanning; }

// Sets the display mode (fitted or full size), with `extra` bits beside it.
inline void SetDisplayMode(StatusBit mode, StatusBit extra = StatusBit::None) {
  ReplaceStatus(StatusBit::DisplayField, mode | extra);
}

}  // namespace orb
