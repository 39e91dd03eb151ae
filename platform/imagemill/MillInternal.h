// Shared pieces of the imaging library's codecs (not part of its public interface).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/imagemill/imagemill.h"

namespace mill {

// A decoded or to-be-encoded image, in the library's row layout (see imagemill.h).
struct ImageDesc {
  int32_t width = 0;
  int32_t height = 0;
  int bitsPerPixel = 0;  // 1, 4, 8, 24 or 32
  bool grey = false;     // 8-bit grey (also: 1-bit with no meaningful table)
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  std::vector<IM_RGBQUAD> colors;  // 2, 16 or 256 entries for 1, 4, 8 bits

  size_t RowBytes() const {
    return (static_cast<size_t>(width) * static_cast<size_t>(bitsPerPixel) + 7) / 8;
  }
};

// Largest row the library handles: 256 MB (a colour row of 89 million pixels, 3.7 km at
// 600 dpi). Anything wider is a damaged or hostile file, not a scan.
inline constexpr size_t kMaxRowBytes = size_t{256} << 20;

// Where a reader delivers the image.
class ReadSink {
 public:
  virtual ~ReadSink() = default;
  // 0 to go on, else the code that stops the read.
  virtual int Header(const ImageDesc& desc) = 0;
  // 0 to go on, else the code that stops the read (IM_STOPPED).
  virtual int Row(uint8_t* row, int32_t index, size_t bytes) = 0;
};

// Settings of one write, taken from the process-wide values at the write's start.
struct WriteSettings {
  int jpegQuality = 75;
  int jp2Quality = 1000;  // lossless unless asked
  int tiffJpegQuality = 75;
  std::string iccProfilePath;
  std::string copyright;
  std::string artist;
};
WriteSettings TakeWriteSettings();

// Push-style writer of one image.
class ImageWriter {
 public:
  virtual ~ImageWriter() = default;
  virtual int Begin(int fd, const ImageDesc& desc) = 0;
  // One row of desc.RowBytes() bytes, top first.
  virtual int Row(const uint8_t* row) = 0;
  // `count` rows laid one after the other; a writer that can take them whole (without a
  // copy per row) overrides it.
  virtual int Rows(const uint8_t* rows, uint32_t count, size_t rowBytes) {
    for (uint32_t i = 0; i < count; ++i)
      if (int rc = Row(rows + static_cast<size_t>(i) * rowBytes); rc != IM_OK) return rc;
    return IM_OK;
  }
  // `complete` is false when the image ended early; what was written is kept.
  virtual int Finish(bool complete) = 0;
  // Where the pixel data start (uncompressed TIFF only).
  virtual uint32_t DataOffset() const { return 0; }
};

std::unique_ptr<ImageWriter> MakeWriter(uint32_t format, const WriteSettings& settings,
                                        int* error);
// A writer of an image whose rows may stop before its height (IM_OPEN_LENGTH): the file is
// the rows that came, in `format`.
std::unique_ptr<ImageWriter> MakeOpenLengthWriter(uint32_t format, const WriteSettings& settings,
                                                  int* error);

// Readers: each decodes the file open on fd (from offset 0) into the sink.
int ReadTiff(int fd, ReadSink& sink);
int ReadJpeg(int fd, ReadSink& sink);
int ReadPng(int fd, ReadSink& sink);
int ReadJp2(int fd, ReadSink& sink);
int ReadPdf(int fd, ReadSink& sink);
int ReadBmp(int fd, ReadSink& sink);

// Writers.
std::unique_ptr<ImageWriter> MakeTiffWriter(uint32_t compression, const WriteSettings& s);
std::unique_ptr<ImageWriter> MakeJpegWriter(const WriteSettings& s);
std::unique_ptr<ImageWriter> MakePngWriter(const WriteSettings& s);
std::unique_ptr<ImageWriter> MakeJp2Writer(const WriteSettings& s);
std::unique_ptr<ImageWriter> MakePdfWriter(uint32_t compression, const WriteSettings& s);
std::unique_ptr<ImageWriter> MakeBmpWriter(const WriteSettings& s);

// ---- helpers ----

// After a TIFF write closed with fewer rows than planned: the strip table lists only the
// strips that hold `rows`. False when the directory is not as written.
bool TrimTiffStripTable(int fd, uint32_t rows, uint32_t rowsPerStrip);

// Whole-buffer positional I/O; false on error or short transfer.
bool ReadAt(int fd, uint64_t offset, void* buf, size_t n);
bool WriteAt(int fd, uint64_t offset, const void* buf, size_t n);
bool WriteAll(int fd, const void* buf, size_t n);
int64_t FileSize(int fd);

// Once per process: lets the allocator keep freed working memory for the next tile or strip
// instead of handing it back to the system (see MillUtil.cpp).
void KeepFreedMemory();

// A stdio stream on a duplicate of fd, positioned at `offset`; closing it leaves fd open.
FILE* DupStream(int fd, const char* mode, uint64_t offset);

// An unlinked temporary file (removed by the system when closed).
class TempFile {
 public:
  TempFile();
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// Colour tables.
std::vector<IM_RGBQUAD> GreyTable(int entries);
bool IsGreyRamp(const std::vector<IM_RGBQUAD>& colors);
// For a 1-bit image: true when entry 0 is brighter than entry 1 (set bits are dark).
bool OneBitSetIsDark(const std::vector<IM_RGBQUAD>& colors);

// Held within 32 bits: a damaged file's resolution must not overflow the conversion.
inline int32_t DpiToPpm(double dpi) {
  const double ppm = dpi * 39.37 + 0.5;
  if (!(ppm >= 0)) return 0;  // negative or not a number
  return ppm >= 2147483647.0 ? 2147483647 : static_cast<int32_t>(ppm);
}
inline double PpmToDpi(int32_t ppm) { return ppm / 39.37; }

// Sanity limits on a described image; IM_OK or an error code.
int CheckDesc(const ImageDesc& d);

}  // namespace mill
