// One version of an image: its pixel format, the file its pixels come from, the view and
// display bitmaps drawn from it, and its place in the chain of versions of one document.
// Every tool appends a copy (PushImageState) and undo frees the newest (FreeImageState).
//
// Ownership: the records of a chain belong to the chain (orb::ImageChain), which alone
// creates, links and frees them; next and prev are for walking it. A chain made by
// NewImageState lives until its last record is freed or FreeImageChain frees it whole. A
// copy of a record belongs to no chain (a standalone record is freed by FreeImageState).
// What a record holds (lookup table, display bitmaps, temporary raw image file) is held by
// shared ownership, so a copy never frees anything twice and nothing is freed while
// another version still uses it.
//
// The record is never stored, so it uses ordinary C++ members.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Kind of image. Codes 8 and 9 exist only while a file is read.
enum ImageKind : uint16_t {
  IK_RGB = 0,                  // three bytes a pixel, R, G, B
  IK_PALETTE256 = 1,           // one palette index a byte
  IK_PALETTE16 = 2,            // 16-colour palette
  IK_GREY = 3,                 // 8-bit grey
  IK_BW = 4,                   // black and white
  IK_GREY_FROM_GREEN = 5,      // grey taken from the green channel
  IK_BW_FROM_GREEN = 6,        // black and white taken from the green channel
  IK_BW_SEPARATES = 7,         // black and white, separates
  IK_CMYK32 = 8,               // four samples of 8 bits (photometric 5), read only
  IK_PALETTE16BIT = 9,         // 16-bit palette, read only
  IK_BW_SAVED_AS_4 = 10,       // black and white, saved as kind 4
};

// What a version is.
enum VersionState : uint32_t {
  VS_NORMAL = 0,       // a version made here (a scan and the tools' results)
  VS_OPENED = 1,       // opened from a file or by the batch engine
  VS_JOIN_CANVAS = 2,  // the page the join tool builds
};

// How a version's pixel data are reached.
enum SourceForm : uint32_t {
  SF_OWN_TIFF = 0,  // the source file is an uncompressed TIFF the program reads itself
  SF_LIBRARY = 1,   // the imaging library decodes the source file (into the raw image file)
  SF_RAW_FILE = 2,  // the raw image file holds the pixel data
};

// Photometric interpretation (the TIFF values): how a sample's value reads as a colour.
// The read streams expand black and white lines by it.
enum Photometric : uint32_t {
  PM_WHITE_IS_ZERO = 0,
  PM_BLACK_IS_ZERO = 1,
  PM_RGB = 2,
  PM_PALETTE = 3,
  PM_SEPARATED = 5,  // four samples, CMYK
};

// Output format: the low word names the container, the high word the compression.
// The 0x0FF000xx codes mark an uncompressed TIFF that the program reads itself.
enum OutputFormat : uint32_t {
  OF_TIFF = 1,
  OF_JPEG = 2,
  OF_PNG = 3,
  OF_PDF = 4,
  OF_JPEG2000 = 5,
  OF_BMP = 6,

  OF_COMPRESS_NONE = 0x00000,
  OF_COMPRESS_PACKBITS = 0x10000,
  OF_COMPRESS_G3 = 0x20000,
  OF_COMPRESS_G4 = 0x30000,
  OF_COMPRESS_JPEG = 0x40000,

  OF_TIFF_PACKBITS = 0x10001,
  OF_TIFF_G3 = 0x20001,
  OF_TIFF_G4 = 0x30001,
  OF_TIFF_JPEG = 0x40001,
  OF_PDF_G4 = 0x30004,
  OF_PDF_JPEG = 0x40004,

  // Internal codes: kind and byte order of an uncompressed TIFF read directly.
  OF_RAW_RGB_LE = 0x0FF00001,
  OF_RAW_RGB_BE = 0x0FF00002,
  OF_RAW_CMYK_LE = 0x0FF00003,
  OF_RAW_CMYK_BE = 0x0FF00004,
  OF_RAW_PAL256_LE = 0x0FF00005,
  OF_RAW_PAL256_BE = 0x0FF00006,
  OF_RAW_PAL16_LE = 0x0FF00007,
  OF_RAW_PAL16_BE = 0x0FF00008,
  OF_RAW_GREY_LE = 0x0FF00009,
  OF_RAW_GREY_BE = 0x0FF0000A,
  OF_RAW_BW_LE = 0x0FF0000B,
  OF_RAW_BW_BE = 0x0FF0000C,
};

namespace orb {

inline constexpr uint32_t OutputContainer(uint32_t format) { return format & 0xFFFF; }
inline constexpr uint32_t OutputCompression(uint32_t format) { return format >> 16; }
inline constexpr bool IsInternalFormat(uint32_t format) {
  return format >= OF_RAW_RGB_LE && format <= OF_RAW_BW_BE;
}
// Big-endian internal codes are the even ones.
inline constexpr bool IsBigEndianInternalFormat(uint32_t format) {
  return IsInternalFormat(format) && (format & 1) == 0;
}

// A display bitmap: a pixel buffer the engine renders into and the view shows. The display
// code may derive richer bitmaps from it; the record only holds and releases them.
struct DisplayBitmap {
  virtual ~DisplayBitmap() = default;
  int32_t width = 0;
  int32_t height = 0;
  uint32_t bitsPerPixel = 0;
  size_t stride = 0;
  std::vector<uint8_t> pixels;
};
using DisplayBitmapPtr = std::shared_ptr<DisplayBitmap>;

// Removes the temporary raw image file when the last version naming it is freed.
class TempFileOwner {
 public:
  explicit TempFileOwner(std::string path) : path_(std::move(path)) {}
  ~TempFileOwner();
  TempFileOwner(const TempFileOwner&) = delete;
  TempFileOwner& operator=(const TempFileOwner&) = delete;
  const std::string& path() const { return path_; }
  // The file is kept (for example it became the user's file by a rename).
  void Keep() { keep_ = true; }

 private:
  std::string path_;
  bool keep_ = false;
};

}  // namespace orb

struct PaletteEntry {
  uint16_t red = 0;
  uint16_t green = 0;
  uint16_t blue = 0;
};

struct ColourBytes {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
};

// Inclusive pixel rectangle.
struct PixelRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

inline constexpr int kNoFile = -1;
inline constexpr size_t kLookupTableSize = 65536;

namespace orb {
class ImageChain;

// The chain a record belongs to. A copy of a record belongs to none: only the chain sets it.
class ChainMembership {
 public:
  ChainMembership() = default;
  ChainMembership(const ChainMembership&) {}
  ChainMembership& operator=(const ChainMembership&) { return *this; }
  ImageChain* chain() const { return chain_; }

 private:
  friend class ImageChain;
  ImageChain* chain_ = nullptr;
};
// A holder outside the chain that keeps a pointer to one record (the magnifier) and must
// drop it when the record is freed, whichever road frees it: the record calls it as it
// goes. A copied record starts unwatched.
class RecordWatch {
 public:
  RecordWatch() = default;
  RecordWatch(const RecordWatch&) {}
  RecordWatch& operator=(const RecordWatch&) { return *this; }
  ~RecordWatch() {
    if (gone_) gone_();
  }
  void Set(const void* holder, std::function<void()> gone) {
    holder_ = holder;
    gone_ = std::move(gone);
  }
  // Only the holder that set the watch can end it.
  void Clear(const void* holder) {
    if (holder_ != holder) return;
    holder_ = nullptr;
    gone_ = nullptr;
  }

 private:
  const void* holder_ = nullptr;
  std::function<void()> gone_;
};
}  // namespace orb

struct ImageState {
  // ----- chain
  ImageState* next = nullptr;  // newer version (set by the chain only)
  ImageState* prev = nullptr;  // older version (set by the chain only)
  orb::ChainMembership member;
  VersionState state = VS_NORMAL;
  // Which operation made this version (undo reads it; 0 after a save).
  uint32_t operationCode = 0;

  // ----- pixel format
  ImageKind kind = IK_RGB;
  int32_t width = 0;
  int32_t height = 0;
  // Samples per line as the streams count them (see orb::StoredLineWidthFor).
  int32_t storedLineWidth = 0;
  uint32_t bitsPerSample = 0;
  uint32_t samplesPerPixel = 0;
  uint32_t bitsPerPixel = 0;  // 8, 16, 24 or 32 after reading
  // The read streams expand black and white lines by it.
  Photometric photometric = PM_WHITE_IS_ZERO;
  uint8_t rowOrder = 0;  // 0: top line first
  int32_t xDpi = 0;
  int32_t yDpi = 0;
  std::array<PaletteEntry, 256> palette;
  std::array<PaletteEntry, 256> palette2;  // the palette as loaded; the display restores it
  std::string paletteFilePath;  // ".apt" belonging to the image, empty when none
  std::array<ColourBytes, 256> classPalette;
  int32_t lutColourCount = 0;
  // 65536 entries, one per 5-6-5 RGB cell, or null.
  std::shared_ptr<uint8_t[]> lookupTable;
  PixelRect region;  // inclusive rectangle the streams deliver

  // ----- file
  SourceForm sourceForm = SF_OWN_TIFF;
  std::string sourcePath;   // the file the image came from or is saved to
  std::string rawPath;      // temporary ".tif" holding the pixels (source form 1 or 2)
  // Shared claim on the raw image file: removed when the last version holding it goes.
  std::shared_ptr<orb::TempFileOwner> rawFile;
  int fileHandle = kNoFile;  // file currently opened by a stream or reader
  uint32_t outputFormat = 0;  // OutputFormat
  uint32_t blockWidth = 0;   // strip or tile width of the source
  uint32_t blockHeight = 0;  // rows per strip or tile height of the source
  uint8_t fillOrder2 = 0;  // the TIFF declared FillOrder 2
  uint64_t dataOffset = 0;  // first pixel line in the open file
  uint32_t orientation = 0;  // TIFF Orientation of a directly read file (kept, not applied)
  // Positions of values in the open TIFF file.
  uint64_t lengthValuePos = 0;         // ImageLength value of the raw image file
  uint64_t stripOffsetsPos = 0;        // StripOffsets value (one strip) or its array
  uint32_t severalStrips = 0;          // set when the file has more than one strip
  uint64_t rowsPerStripValuePos = 0;   // RowsPerStrip value of the raw image file
  uint32_t stripCount = 0;
  uint64_t stripByteCountsPos = 0;     // StripByteCounts value (one strip) or its array

  // ----- view and display
  void* view = nullptr;        // the view object that shows the image
  void* viewWindow = nullptr;  // its window
  void* magnifierWindow = nullptr;
  orb::RecordWatch magnifierWatch;  // the magnifier holding this record, told when it goes
  // Display bitmaps, first to fifth. The third is the display bitmap the view draws from,
  // the fourth the one the colour pick reads, the fifth the view's off-screen bitmap.
  std::array<orb::DisplayBitmapPtr, 5> bitmaps;
  PixelRect magnifierSource;  // the magnifier's source rectangle, image pixels
  PixelRect clientRect;
  PixelRect visibleSource;
  int32_t fitScale = 0;      // x 10000, region into client rectangle
  int32_t displayScale = 0;  // x 10000, display bitmap into client rectangle

  // ----- processing flags
  uint8_t edited = 0;
  uint8_t thresholdPending = 0;
  uint8_t bwPointPending = 0;
  uint8_t toneCurvePending = 0;
  uint8_t linesOneBytePerPixel = 0;
  uint8_t brightnessPending = 0;
  uint8_t thresholdDuringScan = 0;
};

// The last record of the chain holding `any`; null for null.
ImageState* GetLastImageState(ImageState* any);
// Appends a copy of the last record of the chain holding `any` and returns it; null for null.
// The copy takes over the lookup table and starts without the first and third bitmaps.
ImageState* PushImageState(ImageState* any);
// Frees one record and returns the record taking its place: the next, else the previous,
// else null. The record's claim on its raw image file is dropped with it; a chain whose
// last record goes is freed with it.
ImageState* FreeImageState(ImageState* state);

namespace orb {

// The versions of one document's image, oldest first: the chain owns them, links them and
// frees them.
class ImageChain {
 public:
  explicit ImageChain(std::unique_ptr<ImageState> first);
  ~ImageChain();
  ImageChain(const ImageChain&) = delete;
  ImageChain& operator=(const ImageChain&) = delete;

  static ImageChain* Of(const ImageState* record) { return record ? record->member.chain() : nullptr; }
  ImageState* First() const { return versions_.empty() ? nullptr : versions_.front().get(); }
  ImageState* Last() const { return versions_.empty() ? nullptr : versions_.back().get(); }
  bool Empty() const { return versions_.empty(); }
  // PushImageState: a copy of the last record appended.
  ImageState* Push();
  // FreeImageState: frees `record`; the record taking its place (next, else previous).
  ImageState* Free(ImageState* record);
  // Takes `record` out of the chain and hands it over (it then belongs to no chain).
  std::unique_ptr<ImageState> Take(ImageState* record);

 private:
  size_t IndexOf(const ImageState* record) const;
  void Adopt(ImageState* record);
  void Relink();
  std::vector<std::unique_ptr<ImageState>> versions_;
};

// A new first record of a document in a chain of its own: everything cleared, both
// palettes the grey ramp.
ImageState* NewImageState();
// Frees every record of the chain holding `any` (or `any` itself when it is in none).
void FreeImageChain(ImageState* any);
// Takes a record out of its chain (a record in none is handed over as it is).
std::unique_ptr<ImageState> TakeImageState(ImageState* record);
// A new chain whose only record is `first`; returns it.
ImageState* StartImageChain(std::unique_ptr<ImageState> first);
// Names a new raw image file for this record, owned by it (and by later copies).
void SetRawImageFile(ImageState* state, const std::string& path);
// Both palettes to the grey ramp.
void SetGreyRamp(ImageState* state);
// Samples per line as the streams count them, for a kind and width.
int32_t StoredLineWidthFor(uint16_t kind, int32_t width);

}  // namespace orb
