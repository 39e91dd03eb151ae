// Read streams: every image the program processes after opening is read line by line
// through a LineReader over one ImageState.
//
// A stream either reads the stored lines of an uncompressed file (the source TIFF itself,
// or the image's raw image file) in blocks of 256 KB, or, for an image only the imaging
// library can decode, runs the library on a decoder thread that hands the reader one line
// at a time and at the same time fills a new raw image file, so that every later stream
// reads that file. Users always receive one byte per sample: black and white lines as 0
// or 255, 16-colour lines one palette index per byte.
//
// The same two library callbacks serve the probe of a file (fields only) and the
// document's opening on the GUI thread (AppStatus bit 0x20000000), where they fill the raw
// image file and feed the progressive display row by row.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/ImageState.h"
#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/imagemill/imagemill.h"

// Modes of OpenReadStream and ReadLines.
inline constexpr int kReadSequential = 0x10;  // line after line
inline constexpr int kReadByNumber = 0x110;   // any line by its number

// Results of OpenReadStream.
inline constexpr int kReadOpenOk = 1;
inline constexpr int kReadOpenNoRandomAccess = 0;  // decode form asked for kReadByNumber
inline constexpr int kReadOpenGrowingShort = 0;    // stored form: a scan did not deliver
inline constexpr int kReadOpenFailed = -1;
inline constexpr int kReadOpenNoRawFile = -2;

// Size of the block buffer of a stored-form stream.
inline constexpr size_t kReadBlockBytes = 0x40000;

struct LineReader {
  explicit LineReader(ImageState* image);
  // Closes a stream that is still open (stops and joins its decoder).
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  ImageState* image;
  // Set by the image-file probe before it reads a header; the header readers clear it for
  // kinds 8 and 9; when still set after a successful probe the probe sets the region.
  int32_t regionFlag = 0;

  // Stored form: the block buffer (at least 256 KB, and never less than one line), the
  // next unread byte in it and the end of its valid bytes.
  std::vector<uint8_t> block;
  size_t readPos = 0;
  size_t validEnd = 0;
  uint64_t filePos = 0;  // file offset of the byte after the block's valid bytes
  std::vector<uint8_t> packedLine;  // one stored packed line on its way to unpacking
  // A file that holds its lines bottom-up (the record's rowOrder) is read going up from
  // its end: the image line delivered next, and the stored lines in the block.
  int64_t nextLine = 0;
  int64_t blockFirst = 0;
  int64_t blockLines = 0;

  // Decode form: the one-line hand-over between the decoder thread and the reader.
  std::unique_ptr<orb::Event> lineFree;   // auto-reset, created set: the line was taken
  std::unique_ptr<orb::Event> lineReady;  // auto-reset: a line waits in lineBuffer
  std::vector<uint8_t> lineBuffer;        // one decoded line, one byte per sample
  std::vector<uint8_t> decodeBlock;       // packed lines collected for the raw image file
  int32_t linesPerBlock = 0;
  int32_t bytesPerLine = 0;  // bytes of one stored line in the file
  int32_t linesCollected = 0;
  int sourceHandle = -1;  // the source file the imaging library decodes

  // The clock of the waits for a file that a running scan still writes.
  orb::Clock* clock;
  // Folder of the raw image file made by decoding; empty: orb::TempFilesFolder().
  std::string tempFolder;

  // What the stream is doing (all reset by CloseReadStream).
  int openMode = 0;
  bool storedOpen = false;
  bool decodeOpen = false;   // a decoder thread serves this stream
  bool guiDecode = false;    // the GUI-thread opening fills the raw image file
  bool bitsInverted = false; // the decoded 1-bit table puts white first
  uint64_t rawWritePos = 0;  // end of the raw image file's data so far
  int32_t rowsDecoded = 0;   // rows written into the raw image file
  std::thread decoder;
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> linePending{false};
  std::atomic<bool> decoderDone{false};
  std::atomic<int> decodeResult{IM_OK};
  std::atomic<bool> failed{false};  // a decode, read or raw-file write failed
  std::string lastError;            // why, for logs (set before `failed`)
};

// Opens `reader`'s image for reading; see kRead* for modes and results.
int OpenReadStream(LineReader* reader, int mode);
// One line of stored line width bytes into `dest`: the next one (kReadSequential) or line
// `lineNumber` counted from the top of the image (kReadByNumber; decode form: the next);
// a record whose rowOrder says bottom-up is read from the end of its file.
// 1 delivered; 0 on a read failure, a failed decode, or past the last decoded line.
int ReadLines(LineReader* reader, uint8_t* dest, int mode, int lineNumber);
// Up to `count` lines one after the other (kReadSequential), line i at dest + i x stride,
// exactly as that many ReadLines calls would deliver them. A stream of top-down lines
// stored as delivered, in a file no scan still writes, reads what its block does not hold
// straight into `dest` when `stride` is the stored line's size. The lines delivered: fewer
// than count only on a failure.
int32_t ReadLineRun(LineReader* reader, uint8_t* dest, int32_t count, size_t stride);
// Releases what the stream holds; a decoder still running is stopped and joined. An image
// of source form 1 turns into form 2 only when its raw image file was completed.
int CloseReadStream(LineReader* reader);

// The imaging library's callbacks of every read (user data: the LineReader).
int ReadHeaderCallback(void* user, IM_BITMAPINFOHEADER* header, IM_RGBQUAD* colors, int* grey);
int ReadLinesCallback(void* user, uint8_t* line, int row, int bytes);

namespace orb {

// Bytes of one stored line of `image` in its file (packed black and white and 16 colours).
int32_t StoredLineBytes(const ImageState& image);
// True when the image's black and white lines are stored packed 8 pixels a byte.
bool IsPackedBilevel(const ImageState& image);

// Folder of the temporary raw image files: the one set here, else the working folder of
// the settings.
std::string TempFilesFolder();
void SetTempFilesFolder(const std::string& folder);

}  // namespace orb
