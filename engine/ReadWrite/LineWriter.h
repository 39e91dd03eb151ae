// Write streams and the image output set-up.
//
// Tools, the batch engine and the scan pipelines write their results line by line through
// a LineWriter: the user hands over lines one byte per sample, the stream packs black and
// white (8 pixels a byte) and 16-colour (two a byte) lines, collects them in two
// alternating buffers of up to 1 MB, and a writer thread passes each full buffer to the
// imaging library, so that the user's filtering and the library's encoding overlap. The
// output is always an uncompressed TIFF in the file the user created and stored in the
// image's fileHandle.
//
// The scan output writer (ScanOutput.h) uses the same handle with its own fields.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/ImageState.h"
#include "platform/Event.h"
#include "platform/FlushBehind.h"
#include "platform/imagemill/imagemill.h"

struct LineWriter {
  explicit LineWriter(ImageState* image);
  // Ends a stream or scan output that is still open (its thread is stopped and joined).
  ~LineWriter();
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  ImageState* image;
  IM_WRITECONTEXT context{};
  uint32_t outputFormat = 0;  // scan output: the format written
  // Write stream: lines in the filling buffer. Scan output: next line of the band.
  int32_t lineCount = 0;
  int outputHandle = -1;  // scan output: the file the library writes (not code 1)
  // Scan output: BITMAPINFOHEADER (40 bytes) and its colour table, blue, green, red, 0.
  std::vector<uint8_t> bitmapInfo;
  std::vector<uint8_t> bufferA;  // write stream buffer A; scan output band buffer
  std::vector<uint8_t> bufferB;
  uint8_t* filling = nullptr;
  uint8_t* writing = nullptr;
  int32_t linesPerBuffer = 0;  // write stream: lines a buffer holds; scan output: band lines
  int32_t buffersCompleted = 0;
  int32_t bytesPerWrittenLine = 0;

  // Write stream.
  std::unique_ptr<orb::Event> blockFull;   // auto-reset: a buffer waits for the writer
  std::unique_ptr<orb::Event> writerIdle;  // manual-reset, set: the writer is not writing
  bool streamOpen = false;
  bool outputStarted = false;  // StartImageOutput succeeded
  std::atomic<int> writeResult{IM_OK};  // first failure of the library while writing
  // Set before OpenWriteStream when the owner makes the file durable as it closes it
  // (fsync): the file is flushed as it grows (FlushBehind), so that the flush at the end
  // waits for the last of it only instead of the whole file.
  bool writeBehind = false;
  std::unique_ptr<orb::FlushBehind> flushBehind;

  // Scan output.
  std::mutex bandMutex;
  std::condition_variable bandChanged;
  bool bandFull = false;        // a band waits in the band buffer
  bool released = false;        // ReleaseScanOutput: no more bands will come
  bool writerFinished = false;  // the writer thread is done
  int32_t bandCapacity = 0;     // lines the band buffer holds
  int libraryResult = IM_OK;    // what the library's write returned
  // Set before OpenScanOutput when the lines may stop before the image's height (a scan):
  // the file is finished at the lines handed over, in every format, and the cancel flag
  // (which a cut scan raises) does not drop a band already handed over.
  bool openLength = false;
  bool scanOpen = false;
  std::string tempPath;  // the file written beside the target until it is complete
  // The waits for the next band or a free band buffer look at CancelFlag this often.
  std::chrono::milliseconds pollInterval{1000};

  std::thread thread;  // the writer thread of either use
  std::atomic<bool> stopRequested{false};
  std::string lastError;
};

// Fills the write context from the image and starts the library's uncompressed TIFF write
// into image->fileHandle. Returns IM_WriteStart's result (0 when started).
int StartImageOutput(LineWriter* writer);
// Prepares buffers, events and the writer thread. 0, or -1 when out of memory.
int OpenWriteStream(LineWriter* writer);
// Takes byteCount / storedLineWidth lines of stored line width bytes each. 0, or -1 once
// the library failed to write (a full disk, a codec error) or the stream is not open.
int WriteLines(LineWriter* writer, const uint8_t* lines, int64_t byteCount);
// Room for lines the user fills in place, for kinds written as held (one byte a sample,
// nothing to pack): the next free line of the filling buffer, `*lines` set to how many
// lines fit there. Null (and 0) for black and white and 16-colour streams, a stream that
// is not open, or after a failure; WriteLines serves those.
uint8_t* WriteSpace(LineWriter* writer, int32_t* lines);
// Hands over the first `count` lines at WriteSpace's pointer, as WriteLines would have
// taken them. 0, or -1 once the library failed, or when count exceeds the room.
int CommitLines(LineWriter* writer, int32_t count);
// Writes what is left, ends the library's write (data offset from the library) and
// releases the stream. 0, or -1 when any write failed.
int CloseWriteStream(LineWriter* writer);

// True when `*dimension` exceeds what the JPEG codes (2 and 0x40004) allow; with `clamp`
// it becomes 32760, with `showMessage` the user is told.
bool CheckJpegSizeLimit(uint32_t outputFormat, int32_t* dimension, bool showMessage, bool clamp);

namespace orb {

inline constexpr int32_t kJpegSideLimit = 32767;
inline constexpr int32_t kJpegClampedSide = 32760;

// Bytes of one line handed to the library by a write stream.
int32_t WrittenLineBytes(const ImageState& image);

// trunc(dpi x 39.37), held within 32 bits: a damaged file's resolution must not overflow
// the headers' 32-bit field.
int32_t PixelsPerMetre(int32_t dpi);

// The TIFF output texts (colour profile path, copyright, artist), from the settings.
struct TiffTexts {
  std::string iccProfile;
  std::string copyright;
  std::string artist;
};
TiffTexts CurrentTiffTexts();

}  // namespace orb
