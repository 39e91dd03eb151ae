// One version of an image: its geometry, kind, palette, the file its pixels come from, the
// display bitmaps drawn from it, and its links to the older and newer versions of the same
// document. A document keeps its versions as a doubly linked chain of these records; every
// tool appends a copy (PushImageState) and undo frees the newest (FreeImageState).
//
// The record is never stored, so it uses ordinary C++ members; what it owns (lookup table,
// display bitmaps, temporary raw image file) is held by shared ownership so that a copy
// never frees anything twice and nothing is freed while another version still uses it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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

struct ImageState {
  // 0 normal version; 1 opened from a file or by the batch engine; 2 join canvas.
  uint32_t state = 0;
  // 0 the source file is an uncompressed TIFF read directly; 1 the imaging library must
  // decode it; 2 the raw image file holds the pixel data.
  uint32_t sourceForm = 0;
  void* view = nullptr;        // the view object that shows the image
  void* viewWindow = nullptr;  // its window
  uint32_t words[6] = {};      // no fixed use here
  void* magnifierWindow = nullptr;
  // Display bitmaps, first to fifth. The third is the display bitmap the view draws from,
  // the fourth the one the colour pick reads, the fifth the view's off-screen bitmap.
  std::array<orb::DisplayBitmapPtr, 5> bitmaps;

  std::string sourcePath;   // the file the image came from or is saved to
  std::string rawPath;      // temporary ".tif" holding the pixels (source form 1 or 2)
  // Shared claim on the raw image file: removed when the last version holding it goes.
  std::shared_ptr<orb::TempFileOwner> rawFile;
  int fileHandle = kNoFile;  // file currently opened by a stream or reader

  int32_t xDpi = 0;
  int32_t yDpi = 0;
  int32_t width = 0;
  int32_t height = 0;
  // Samples per line as the streams count them (see orb::StoredLineWidthFor).
  int32_t storedLineWidth = 0;
  uint32_t blockWidth = 0;   // strip or tile width of the source
  uint32_t blockHeight = 0;  // rows per strip or tile height of the source
  uint32_t bitsPerSample = 0;
  uint32_t samplesPerPixel = 0;
  uint32_t bitsPerPixel = 0;  // 8, 16, 24 or 32 after reading
  uint32_t scanWords[8] = {};  // used by the scanning and document code

  uint8_t rowOrder = 0;  // 0: top line first
  uint16_t kind = IK_RGB;  // ImageKind
  uint32_t outputFormat = 0;  // OutputFormat
  uint8_t fillOrder2 = 0;  // the TIFF declared FillOrder 2
  uint64_t dataOffset = 0;  // first pixel line in the open file

  PixelRect magnifierSource;  // the magnifier's source rectangle, image pixels
  uint32_t displayWords[8] = {};  // further words of the view and the display

  PixelRect region;  // inclusive rectangle the streams deliver

  // View placement.
  PixelRect clientRect;
  PixelRect visibleSource;
  int32_t fitScale = 0;      // x 10000, region into client rectangle
  int32_t displayScale = 0;  // x 10000, display bitmap into client rectangle

  std::array<PaletteEntry, 256> palette;
  std::array<PaletteEntry, 256> palette2;
  std::string paletteFilePath;  // ".apt" belonging to the image, empty when none
  std::array<ColourBytes, 256> classPalette;
  int32_t lutColourCount = 0;
  // 65536 entries, one per 5-6-5 RGB cell, or null.
  std::shared_ptr<uint8_t[]> lookupTable;

  uint32_t orientation = 0;  // TIFF Orientation of a directly read file (kept, not applied)
  uint32_t photometric = 0;  // 0 white is zero, 1 black is zero, 2 RGB, 3 palette, 5 separated

  // Positions of values in the open TIFF file.
  uint64_t lengthValuePos = 0;         // ImageLength value of the raw image file
  uint64_t stripOffsetsPos = 0;        // StripOffsets value (one strip) or its array
  uint32_t severalStrips = 0;          // set when the file has more than one strip
  uint32_t stripWord = 0;              // cleared with the above
  uint64_t rowsPerStripValuePos = 0;   // RowsPerStrip value of the raw image file
  uint32_t stripCount = 0;
  uint64_t stripByteCountsPos = 0;     // StripByteCounts value (one strip) or its array

  ImageState* next = nullptr;  // newer version
  ImageState* prev = nullptr;  // older version
  uint32_t operationCode = 0;

  // Processing flags.
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
// else null. The record's claim on its raw image file is dropped with it.
ImageState* FreeImageState(ImageState* state);

namespace orb {

// A new first record of a document: everything cleared, both palettes the grey ramp.
ImageState* NewImageState();
// Frees every record of the chain holding `any`.
void FreeImageChain(ImageState* any);
// Names a new raw image file for this record, owned by it (and by later copies).
void SetRawImageFile(ImageState* state, const std::string& path);
// Both palettes to the grey ramp.
void SetGreyRamp(ImageState* state);
// Samples per line as the streams count them, for a kind and width.
int32_t StoredLineWidthFor(uint16_t kind, int32_t width);

}  // namespace orb
