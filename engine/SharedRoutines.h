// Small routines shared by the whole program: free disk space, temporary and numbered file
// names, lengths in the user's unit, scale factors and rectangle fitting for the views,
// the tone tools' gamma and Bezier routines, the wait of the streams and the time stamps
// of the logs.
//
// Scale factors are integers in units of 1/10000. "Trunc" is rounding toward zero. Numbers
// are formatted and parsed the same way whatever the process locale is. The file-creation
// attributes (CreateSharedSecurityAttributes) live in platform/Files.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "engine/ImageState.h"
#include "platform/Event.h"
#include "platform/Files.h"

namespace orb {

struct Point {
  int32_t x = 0;
  int32_t y = 0;
  bool operator==(const Point&) const = default;
};

// Right and bottom exclusive, as the views use them.
struct Rect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  bool operator==(const Rect&) const = default;
};

// `value` in fixed notation with `precision` decimals, right-aligned in `width`
// characters (printf's "%*.*f", but never with the locale's decimal comma).
std::string FormatFixed(double value, int width, int precision);
// Reads a decimal number the way atof does (leading blanks, sign, digits, a point,
// an exponent; the rest ignored) with '.' as the decimal point whatever the locale.
// 0 when the text starts with no number.
double ParseDecimal(std::string_view text);

// The test HasFreeDiskSpace makes of a free-space answer: strictly more than needed; an
// unanswered query (nullopt) is never enough.
inline bool IsMoreThanNeeded(std::optional<uint64_t> available, uint64_t needed) {
  return available.has_value() && *available > needed;
}

// A path split the way output names are worked on: folder (with its trailing '/'), name
// part, extension (with its dot; the last dot of the file name, not a leading one).
struct SplitName {
  std::string folder;
  std::string name;
  std::string ext;
  std::string Join() const { return folder + name + ext; }
};
SplitName SplitFileName(std::string_view path);

}  // namespace orb

// True when the bytes available to the caller on the file system of `path` are strictly
// more than `needed`. A path not written yet is measured at its folder; an empty path
// (or null) means the current folder. False when they are not or the query fails.
bool HasFreeDiskSpace(const char* path, uint64_t needed);
inline bool HasFreeDiskSpace(const std::string& path, uint64_t needed) {
  return HasFreeDiskSpace(path.c_str(), needed);
}

// A fresh temporary file name "QelXXXXXX.tif" in `folder`: the name is reserved by
// creating the file, which is removed again before returning, as the callers create it
// themselves. False (and an empty `dest`) when the folder cannot hold a new file.
bool MakeTempTiffName(const std::string& folder, std::string& dest);

// Adds 1 to the decimal number at the end of the file name (before the extension), with
// carry to the left stopping at the first non-digit: "a0099.tif" -> "a0100.tif",
// "a9999.tif" -> "a0000.tif". A name without final digits is left as it is.
void IncrementFileNumber(std::string& path);
void IncrementFileNumber(char* path);

// Cuts the file name (not its folder or extension) at its first "_[".
void StripNumberedSuffix(std::string& path);

// Only while `colourMode` is 7 (black and white, separates): reads the palette file
// `palettePath` and renames the file part to "<name>_[1 - <output colours>]<ext>" (an
// earlier suffix of that form is replaced, not repeated). Other modes, or a palette file
// that cannot be read, leave the path as it is; the result says whether it changed.
bool MakeNumberedName(std::string& path, int32_t colourMode, const std::string& palettePath);

// Every occurrence of `ch` from the last position down to the second becomes NUL, which
// turns "a|b|c" into the items "a", "b", "c" and leaves a leading `ch` alone. Strings
// shorter than two characters stay as they are. The std::string form keeps its size, so
// callers may walk the items in data().
void CutAtChar(char ch, char* text);
void CutAtChar(char ch, std::string& text);

// A length typed by the user in pixels: unit 0 inch (value x dpi), 1 cm (value / 2.54 x
// dpi), other pixels (value); rounded half up by trunc(x + 0.5). dpi 0 or below gives 0
// for inches and centimetres; results beyond the int32 range are clamped.
int32_t ParseLength(std::string_view text, int32_t dpi, int32_t unit);

// A length in pixels in the user's unit: 0 "%5.2f\"" of inches, 1 "%5.2fcm", 2 "%dpx",
// other units empty. With a resolution of 0 or below inches and centimetres cannot be
// computed and the pixels are shown instead ("%dpx").
std::string FormatLength(int32_t unit, int64_t pixels, int32_t dpi);

// The larger of trunc(w1 x 10000 / w2) and trunc(h1 x 10000 / h2): the zoom that fits
// the first size into the second. `horizontalLarger` (optional) tells whether the
// horizontal ratio was strictly the larger. A ratio over a zero extent counts as 0, so
// callers see 0 where no fit exists; results are clamped to the int32 range.
int32_t ComputeFitScale(int32_t w1, int32_t h1, int32_t w2, int32_t h2,
                        bool* horizontalLarger = nullptr);

// trunc(a x 10000 / b), and 1 where that gives 0. A zero `b` gives 1 (no scale).
int32_t ComputeScale(int32_t a, int32_t b);

// Centres an image of the given size in the rectangle along one axis. Vertical: top =
// trunc((bottom - height) x 0.5 + 0.5), bottom = top + height, left = 0; the viewport
// origin (when asked for) becomes (0, top). Otherwise the same horizontally with origin
// (left, 0).
void CentreViewportOrigin(orb::Rect& rect, orb::Point* viewportOrigin, int32_t imageWidth,
                          int32_t imageHeight, bool vertical);

// Gives `rect` the aspect of `reference` (which starts at 0, 0) about its centre, then
// moves it back inside 0..widthLimit and 0..heightLimit and clips it to them.
void FitRectToAspect(orb::Rect& rect, const orb::Rect& reference, int32_t widthLimit,
                     int32_t heightLimit);

// The 12-bit to 8-bit tone table of a scan: entry i = trunc(min(255, i^(1/gamma) x 256 /
// 4095^(1/gamma))). A gamma of 0 or one that is not a finite number gives the straight
// table of gamma 1.
void BuildGammaTable12To8(uint8_t* table4096, double gamma);
inline void BuildGammaTable12To8(double gamma, uint8_t* table4096) {
  BuildGammaTable12To8(table4096, gamma);
}

// The point at t (0..1) of the cubic Bezier curve over four control points, each
// coordinate rounded by trunc(value + 0.5).
orb::Point EvalBezierPoint(const orb::Point* points4, double t);
void EvalBezierPoint(const orb::Point* points4, double t, orb::Point* dest);

// Quadrant of the step from (x1, y1) to (x2, y2): 1 when x1 >= x2 and y1 > y2; 2 when
// x1 < x2 and y1 >= y2; 3 when x1 <= x2 and y1 < y2; 4 when x1 > x2 and y1 <= y2; 0 for
// equal points (tested in this order).
int GetDirectionCode(int32_t x1, int32_t y1, int32_t x2, int32_t y2);

// Waits for the event without a time limit and returns the wait's result. A wait that
// ends because the event was closed is reported on standard error with `sourceLine`.
orb::WaitResult WaitForSemaphoreOrWarn(orb::Event& event, int sourceLine);

// The local time of `t` in the long form of the logs, e.g.
// "Thursday, December 10, 2026, 14:05:09" (English names whatever the locale; the time
// zone is the process's, TZ included). Empty when the time cannot be converted.
std::string FormatTimeStamp(std::time_t t);

// ---- the folder chooser

namespace orb {

// Results of BrowseForFolder.
inline constexpr int kFolderChosen = 1;
inline constexpr int kFolderNotChosen = 2;
// Message shown when the chosen path is no folder the program can use.
inline constexpr int kMsgNotAPlainFolder = 33025;

// What a path is to the folder chooser and the working-folder field.
enum class FolderCheck {
  Usable,       // an existing folder the user may enter and write into
  Missing,      // nothing exists at the path (or it cannot be looked at)
  NotAFolder,   // a file, a device or a pipe
  NotWritable,  // a folder the user may not enter or write into (a read-only folder)
};
FolderCheck CheckFolder(const std::string& path);

// The state of an open folder chooser, without any window: where it starts, what is
// selected and the status line that shows the selection.
class FolderBrowseState {
 public:
  // Starts at `initial`; when that is no folder, at its nearest existing parent folder,
  // else at the home folder, else at "/".
  explicit FolderBrowseState(const std::string& initial);
  const std::string& StartFolder() const { return start_; }
  // The selection changed (a click in the tree or a typed path).
  void Select(const std::string& path);
  const std::string& Selected() const { return selected_; }
  // The chooser's status line: the selected path.
  const std::string& StatusText() const { return selected_; }

 private:
  std::string start_;
  std::string selected_;
};

// The platform's folder chooser: shows it over `state` and gives the chosen path, or
// nullopt when the user cancelled. Installed by the GUI; none by default.
using FolderChooser = std::function<std::optional<std::string>(FolderBrowseState& state)>;
void SetFolderChooser(FolderChooser chooser);

}  // namespace orb

// Lets the user choose a folder, starting at `path`. kFolderChosen when a usable folder was
// chosen; when the chosen path is no usable folder, message 33025 (exclamation icon) and
// kFolderNotChosen; cancel (or no chooser installed) gives kFolderNotChosen. The chosen path
// is written into `path` whenever the user chose one, usable or not; a cancel leaves it.
int BrowseForFolder(std::string& path);

// ---- bitmaps as BMP files

namespace orb {

// A picture in memory as SaveBitmapAsBmpFile reads it: `height` rows of `width` pixels,
// `stride` bytes apart, the top row first unless `bottomUp`. 24 bits a pixel as R, G, B,
// or 8 bits a pixel as indexes into `colours` (256 entries).
struct BitmapPixels {
  int32_t width = 0;
  int32_t height = 0;
  uint32_t bitsPerPixel = 0;
  const uint8_t* pixels = nullptr;
  size_t stride = 0;
  bool bottomUp = false;
  const ColourBytes* colours = nullptr;
  int32_t xDpi = 0;  // 0: no resolution is written
  int32_t yDpi = 0;
};

}  // namespace orb

// Writes `bitmap` as an uncompressed Windows BMP at `path` with 1, 4, 8 or 24 bits a pixel:
// the 40-byte info header, a colour table of 2^bits entries (none at 24 bits), rows of
// ((bits x width + 31) / 32) x 4 bytes from the bottom row up. An 8-bit bitmap written at
// 8 bits keeps its table and indexes; otherwise the table is the default one of the
// depth (black and white; the 16 standard colours; the 6 x 6 x 6 colour cube followed by
// 40 greys) and every pixel takes its nearest table colour. The file is written beside `path` and
// renamed over it: false (and any older file left as it was) when it cannot be created or
// written, or for a bitmap or depth this cannot write.
bool SaveBitmapAsBmpFile(const orb::BitmapPixels& bitmap, const std::string& path,
                         int bitsPerPixel);
