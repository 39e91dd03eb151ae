// The colour-classification page's logic without widgets: which controls are enabled, the
// palette file path typed by the user, the marked areas of the image, feeding the image's
// colours to the classification control, the palette file written from what the control
// reported, the default scan palette, and the two ways a palette reaches the image
// (conversion into a palette image, one black-and-white image per palette colour).
//
// Every palette file is loaded through LoadPalette, which checks it: a file that is
// missing, cut short or maps a colour beyond its output colours is refused with a message
// naming it, and nothing is done with it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/ImageState.h"
#include "engine/PaletteFile.h"
#include "engine/SharedRoutines.h"
#include "tools/ApplyPipeline.h"

class _DTintwell;

namespace orb::tools {

// Messages of the page (language module ids).
inline constexpr int kMsgFolderMissing = 33006;
inline constexpr int kMsgPathIsFolder = 33007;
inline constexpr int kMsgTargetExists = 33009;      // "%s %s": the path, then this text
inline constexpr int kMsgSaveNotice = 34001;
inline constexpr int kStrReadingColours = 34002;   // progress while the histogram is built
inline constexpr int kStrPaletteColours = 34004;   // "%d": the palette's output colours
inline constexpr int kMsgPaletteUnreadable = 35390;  // "%s": a palette file that cannot be used
inline constexpr int kStrConverting = 35388;
inline constexpr int kStrSeparating = 35389;

// ----- enabling -------------------------------------------------------------------------

struct ColorClassEnabling {
  bool edit = false;        // 1352
  bool classify = false;    // 1347
  bool addArea = false;     // 1339
  bool apply = false;       // 1350
  bool defaultPal = false;  // 1334
  bool separate = false;    // 1330
};
// `kind` is the image's kind, -1 without an image.
ColorClassEnabling ColorClassEnablingFor(bool pathSet, bool scanning, int kind);

// The number of colours typed into the edit: its leading decimal number, 1..256.
int32_t ParseNumberOfColours(const std::string& text);

// ----- the palette path ------------------------------------------------------------------

struct PathCheck {
  enum Result { Cleared, Stored, FolderMissing, IsFolder } result = Cleared;
  std::string path;  // what is stored (Stored)
};
// The typed path, trimmed: empty clears it; a bare name takes the folder of the scan
// output file name (`outputName`, its folder; the current folder when it has none).
PathCheck CheckPalettePath(const std::string& typed, const std::string& outputName);

// ----- palette files ----------------------------------------------------------------------

// Loads and checks a palette file (its table mapped onto its output colours). False, with
// message 35390 naming the file unless `quiet`, when it cannot be used.
bool LoadPalette(const std::string& path, PaletteFile& file, bool quiet = false);
// The label under the path: the palette's output colours ("" when it cannot be read).
int PaletteOutputColours(const std::string& path);

// What the control reported last (PaletteModified).
struct ReportedPalette {
  std::array<uint8_t, 768> palette{};
  uint32_t colours = 0;
  std::vector<uint8_t> lut;  // 65536 entries once reported
};
// Writes the palette file of a finished classification: header 2, the reported colours as
// colours and output colours, the reported palette as both palettes, the identity map and
// the reported table. The file is replaced through a temporary beside it.
bool SaveReportedPalette(const std::string& path, const ReportedPalette& reported);
// The palette file becomes the scanner's default palette of 16-colour scans (at most 16
// output colours) or of 256-colour scans. False when the file cannot be used.
bool MakeDefaultScanPalette(const std::string& path);

// ----- areas --------------------------------------------------------------------------

// A marked rectangle of the image (image pixels).
struct ClassArea {
  int32_t left = 0, top = 0, width = 0, height = 0;
  int32_t extra1 = 0, extra2 = 0;
};
inline constexpr uint16_t kCursorAreaNone = 300;
inline constexpr uint16_t kCursorAreaInside = 302;
inline constexpr uint16_t kCursorAreaNWSE = 303;  // top-left or bottom-right corner
inline constexpr uint16_t kCursorAreaNESW = 304;  // bottom-left or top-right corner
inline constexpr uint16_t kCursorAreaNS = 305;    // top or bottom side
inline constexpr uint16_t kCursorAreaWE = 306;    // left or right side

class ClassAreas {
 public:
  const std::vector<ClassArea>& All() const { return m_areas; }
  int Current() const { return m_current; }
  bool Empty() const { return m_areas.empty(); }
  // A new area in the middle of `region` (a quarter in from each side), made current.
  void Add(const PixelRect& region);
  // Removes the current area; the one before it becomes current (not below 0).
  void RemoveCurrent();
  void Clear();
  // The cursor for an image point: a handle of an area, its inside, or none. The area hit
  // becomes current when `select`.
  uint16_t HitTest(Point p, bool select = false);
  // Drags the current area: a handle (the cursor HitTest gave when the drag started) by
  // (dx, dy), kept at least 3 pixels wide and high and inside width x height; the inside
  // moves the area, clipped to the image.
  void Drag(uint16_t grip, int32_t dx, int32_t dy, int32_t imageWidth, int32_t imageHeight);

 private:
  std::vector<ClassArea> m_areas;
  int m_current = -1;
};

// ----- classification --------------------------------------------------------------------

// Feeds the image's lines to the control's histogram: whole lines without areas, else the
// part of each line inside every area that holds it (overlapping areas count twice). The
// record's region is the whole image meanwhile and is restored. Esc stops it (false).
bool FeedHistogram(ImageState* image, const std::vector<ClassArea>& areas, _DTintwell& control,
                   const std::function<void(int lines)>& step = {});

// The index of a colour in a palette file's mapped table.
inline uint8_t ClassOf(const uint8_t* lut, uint8_t r, uint8_t g, uint8_t b) { return lut[PaletteCell(r, g, b)]; }

// ----- applying ------------------------------------------------------------------------

// Converts the working image (colour or palette) into a palette image through the palette
// file: a new undoable version of kind 1 (more than 16 output colours) or 2.
ApplyOutcome ConvertToPaletteImage(ImageState* working, const PaletteFile& file,
                                   const ApplyProgressFactory& progress = {});

// The separation targets: "<folder>/<name>_<k><ext>" for k = 1..colours, beside the source.
std::vector<std::string> SeparationTargets(const std::string& source, int colours);
// Writes one black-and-white image per output colour: pixel black where the image's colour
// maps to that colour. Each goes into a temporary beside its target and is renamed over it
// only when every image is complete; `replace` is asked for each existing target (false
// stops the whole separation before anything is written). False on Esc, a refused
// replacement or a failure (message shown); no target has then changed.
bool SeparateByColour(ImageState* working, const PaletteFile& file,
                      const std::function<bool(const std::string& target)>& replace,
                      const std::function<void(int lines)>& step = {});

}  // namespace orb::tools
