#include "engine/ReadWrite/LineReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "engine/EngineHost.h"
#include "engine/ReadWrite/LinePacking.h"
#include "engine/ReadWrite/StreamFiles.h"
#include "engine/ReadWrite/TiffHeader.h"
#include "engine/Settings.h"
#include "platform/Files.h"

namespace {

constexpr int kMsgNotEnoughDiskSpace = 33018;
constexpr char kReadFailedText[] =
    "The resorce of your system is not enough, please free your c: space,and try again!";
// A file a running scan still writes is read up to this many times, one second apart.
constexpr int kGrowingFileReads = 25;
constexpr auto kGrowingFileWait = std::chrono::milliseconds(1000);

std::mutex g_tempFolderMutex;
std::string g_tempFolder;

void Fail(LineReader* r, const std::string& why) {
  if (!r->failed.load()) r->lastError = why;
  r->failed.store(true);
}

void CloseFd(int* fd) {
  if (*fd >= 0) ::close(*fd);
  *fd = -1;
}

// Unpacks one stored line (n bytes at `in`) into one byte a sample at `dest`.
void ExpandStoredLine(const ImageState& image, const uint8_t* in, uint8_t* dest) {
  const size_t slw = static_cast<size_t>(std::max(image.storedLineWidth, 0));
  if (orb::IsPackedBilevel(image)) {
    // Photometric 1 (black is zero): a set bit is white; otherwise a set bit is black.
    if (image.photometric == PM_BLACK_IS_ZERO) {
      orb::ExpandBits(in, slw, dest, 255, 0);
    } else {
      orb::ExpandBits(in, slw, dest, 0, 255);
    }
  } else if (image.kind == IK_PALETTE16) {
    orb::ExpandNibbles(in, slw, dest);
  } else {
    std::memcpy(dest, in, slw);
  }
}

bool NeedsUnpacking(const ImageState& image) {
  return orb::IsPackedBilevel(image) || image.kind == IK_PALETTE16;
}

// ----- stored form -------------------------------------------------------------------

// The file a stored-form stream reads.
std::string StoredPath(const ImageState& image) {
  if (image.sourceForm == SF_OWN_TIFF) return image.sourcePath;
  // A scanned black and white image thresholded by the scan is read from the output file
  // the scan wrote, not from its grey raw file. The version says so itself: what the
  // threshold tool is set to now does not tell how an image was scanned.
  if (image.state == VS_NORMAL && (image.kind == IK_BW || image.kind == IK_BW_FROM_GREEN) &&
      !image.linesOneBytePerPixel && image.thresholdDuringScan) {
    return image.sourcePath;
  }
  return image.rawPath;
}

// Stored lines run bottom-up in the file: image line y is stored line height - 1 - y.
bool IsBottomUp(const ImageState& image) { return image.rowOrder != 0; }

// The stored line that holds image line `y` (negative past the last line of a bottom-up
// file).
int64_t StoredLineOf(const ImageState& image, int64_t y) {
  return IsBottomUp(image) ? static_cast<int64_t>(image.height) - 1 - y : y;
}

// The next image line of a bottom-up file: the block is refilled with the stored lines
// that end at the wanted one, as the lines are read going up through the file.
int ReadBottomUp(LineReader* r, uint8_t* line) {
  const ImageState& image = *r->image;
  const size_t n = static_cast<size_t>(r->bytesPerLine);
  const int64_t stored = StoredLineOf(image, r->nextLine++);
  if (stored < 0) {
    std::memset(line, 255, n);  // past the last line: white, as in a top-down file
    return 1;
  }
  if (stored < r->blockFirst || stored >= r->blockFirst + r->blockLines) {
    const int64_t perBlock = std::max<int64_t>(1, static_cast<int64_t>(r->block.size() / std::max<size_t>(n, 1)));
    const int64_t first = std::max<int64_t>(0, stored - perBlock + 1);
    const size_t bytes = static_cast<size_t>(stored - first + 1) * n;
    const int64_t got = orb::rw::ReadAt(image.fileHandle, r->block.data(), bytes,
                                        static_cast<uint64_t>(first) * n + image.dataOffset);
    if (got < 0) {
      Fail(r, "cannot read " + StoredPath(image) + ": " + orb::rw::ErrnoText(errno));
      return 0;
    }
    // A file shorter than its height reads white where it ends.
    if (static_cast<size_t>(got) < bytes) std::memset(r->block.data() + got, 255, bytes - static_cast<size_t>(got));
    r->blockFirst = first;
    r->blockLines = stored - first + 1;
  }
  std::memcpy(line, r->block.data() + static_cast<size_t>(stored - r->blockFirst) * n, n);
  return 1;
}

enum class Fill { Ok, ReadError, ScanTooSlow };

// Fills the block from the file so that at least `need` valid bytes follow readPos (while
// a scan writes the file; otherwise whatever the file holds).
Fill FillBlock(LineReader* r, size_t need, bool scanning) {
  ImageState& image = *r->image;
  size_t rem = r->validEnd - r->readPos;
  if (rem > 0 && r->readPos > 0) std::memmove(r->block.data(), r->block.data() + r->readPos, rem);
  r->readPos = 0;
  r->validEnd = rem;
  const size_t room = r->block.size() - rem;
  int64_t got = 0;
  for (int attempt = 1;; ++attempt) {
    got = orb::rw::ReadAt(image.fileHandle, r->block.data() + rem, room, r->filePos);
    if (got < 0) {
      Fail(r, "cannot read " + StoredPath(image) + ": " + orb::rw::ErrnoText(errno));
      return Fill::ReadError;
    }
    if (!scanning || rem + static_cast<size_t>(got) >= need) break;
    if (attempt >= kGrowingFileReads) {
      Fail(r, "the scan did not deliver the lines in time");
      return Fill::ScanTooSlow;
    }
    r->clock->Sleep(kGrowingFileWait);
  }
  r->filePos += static_cast<uint64_t>(got);
  r->validEnd = rem + static_cast<size_t>(got);
  return Fill::Ok;
}

int OpenStored(LineReader* r, int mode) {
  ImageState& image = *r->image;
  const bool scanning = orb::IsScanning();
  r->readPos = r->validEnd = 0;
  const std::string path = StoredPath(image);
  const int flags = scanning ? O_RDWR : O_RDONLY;
  int fd = orb::OpenSharedFile(path, flags);
  if (fd < 0) {
    Fail(r, "cannot open " + path + ": " + orb::rw::ErrnoText(errno));
    return kReadOpenFailed;
  }
  image.fileHandle = fd;
  r->bytesPerLine = orb::StoredLineBytes(image);
  r->storedOpen = true;
  r->openMode = mode;
  const uint64_t top = static_cast<uint64_t>(std::max(image.region.top, 0));
  r->filePos = top * static_cast<uint64_t>(r->bytesPerLine) + image.dataOffset;
  r->nextLine = static_cast<int64_t>(top);
  r->blockFirst = r->blockLines = 0;
  if (mode == kReadByNumber) return kReadOpenOk;
  // Line after line: let the system read ahead generously.
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

  // Never less than one line, so that a very wide line still fits.
  const size_t capacity = std::max(kReadBlockBytes, static_cast<size_t>(r->bytesPerLine));
  try {
    r->block.assign(capacity, 255);
  } catch (const std::bad_alloc&) {
    Fail(r, "out of memory");
    return kReadOpenFailed;
  }
  // No scan writes a bottom-up file: its lines are read on demand from the end.
  if (IsBottomUp(image)) return kReadOpenOk;
  // While a scan writes the file, wait for a full block, or for every line the stream will
  // deliver when the image is smaller than one block.
  uint64_t remaining = 0;
  if (image.height > 0 && static_cast<uint64_t>(image.height) > top) {
    remaining = (static_cast<uint64_t>(image.height) - top) * static_cast<uint64_t>(r->bytesPerLine);
  }
  const size_t need = static_cast<size_t>(std::min<uint64_t>(capacity, remaining));
  switch (FillBlock(r, need, scanning)) {
    case Fill::Ok:
      return kReadOpenOk;
    case Fill::ReadError:
      orb::NotifyText(kReadFailedText, "", orb::MessageIcon::Error);
      return kReadOpenFailed;
    case Fill::ScanTooSlow:
      break;
  }
  return kReadOpenGrowingShort;
}

int ReadStored(LineReader* r, uint8_t* dest, int mode, int lineNumber) {
  ImageState& image = *r->image;
  const size_t n = static_cast<size_t>(r->bytesPerLine);
  const bool unpack = NeedsUnpacking(image);
  // Packed lines come through a temporary line; others straight into the destination.
  uint8_t* line = dest;
  if (unpack) {
    if (r->packedLine.size() < n) r->packedLine.resize(n);
    line = r->packedLine.data();
  }

  if (mode == kReadByNumber || r->openMode == kReadByNumber) {
    if (lineNumber < 0) return 0;
    const int64_t stored = StoredLineOf(image, lineNumber);
    int64_t got = 0;
    if (stored >= 0) got = orb::rw::ReadAt(image.fileHandle, line, n, static_cast<uint64_t>(stored) * n + image.dataOffset);
    if (got < 0) {
      Fail(r, "cannot read " + StoredPath(image) + ": " + orb::rw::ErrnoText(errno));
      return 0;
    }
    // Past the end of the file the line comes out white.
    if (static_cast<size_t>(got) < n) std::memset(line + got, 255, n - static_cast<size_t>(got));
  } else if (IsBottomUp(image)) {
    if (!ReadBottomUp(r, line)) return 0;
  } else {
    if (r->validEnd - r->readPos < n) {
      if (FillBlock(r, n, orb::IsScanning()) != Fill::Ok) return 0;
      if (r->validEnd - r->readPos < n) {
        // Past the end of a finished file: white.
        std::memset(r->block.data() + r->validEnd, 255, n - (r->validEnd - r->readPos));
        r->validEnd = r->readPos + n;
      }
    }
    std::memcpy(line, r->block.data() + r->readPos, n);
    r->readPos += n;
  }
  if (unpack) ExpandStoredLine(image, line, dest);
  return 1;
}

// ----- decode form -------------------------------------------------------------------

void AllocateDecodeBuffers(LineReader* r) {
  const ImageState& image = *r->image;
  const size_t slw = static_cast<size_t>(std::max(image.storedLineWidth, 1));
  r->bytesPerLine = orb::StoredLineBytes(image);
  const size_t bpl = static_cast<size_t>(std::max(r->bytesPerLine, 1));
  r->linesPerBlock = static_cast<int32_t>(std::max<size_t>(1, kReadBlockBytes / bpl));
  r->lineBuffer.assign((slw + 7) / 8 * 8, 0);
  std::fill(r->lineBuffer.begin(), r->lineBuffer.begin() + static_cast<ptrdiff_t>(slw), 255);
  r->decodeBlock.assign((bpl + 7) / 8 * static_cast<size_t>(r->linesPerBlock) * 8, 0);
  r->linesCollected = 0;
  r->rowsDecoded = 0;
}

// Names, checks room for, creates and heads the raw image file. 0, or the error:
// -1 no room, -2 not creatable.
int CreateRawImageFile(LineReader* r) {
  ImageState& image = *r->image;
  std::string folder = r->tempFolder.empty() ? orb::TempFilesFolder() : r->tempFolder;
  std::string path = orb::rw::CreateUniqueFile(folder, ".tif");
  if (path.empty()) {
    Fail(r, "cannot create a temporary file in " + folder + ": " + orb::rw::ErrnoText(errno));
    return -2;
  }
  // From here the record owns the file: it goes when the last version naming it goes.
  orb::SetRawImageFile(&image, path);
  const uint64_t needed =
      static_cast<uint64_t>(std::max(image.storedLineWidth, 0)) *
      static_cast<uint64_t>(std::max(image.height, 0));
  std::optional<uint64_t> avail = orb::AvailableDiskBytes(path);
  if (!avail || *avail <= needed) {
    orb::Notify(kMsgNotEnoughDiskSpace, orb::MessageIcon::Error);
    Fail(r, "not enough disk space for the raw image file");
    orb::SetRawImageFile(&image, "");
    return -1;
  }
  int fd = orb::OpenSharedFile(path, O_RDWR | O_TRUNC);
  if (fd < 0) {
    Fail(r, "cannot create " + path + ": " + orb::rw::ErrnoText(errno));
    orb::SetRawImageFile(&image, "");
    return -2;
  }
  image.fileHandle = fd;
  if (WriteRawImageHeader(r) < 0) {
    Fail(r, "cannot write " + path + ": " + orb::rw::ErrnoText(errno));
    CloseFd(&image.fileHandle);
    orb::SetRawImageFile(&image, "");
    return -2;
  }
  r->rawWritePos = image.dataOffset;
  r->linesCollected = 0;
  return 0;
}

// Writes the collected lines at the end of the raw image file.
bool FlushDecodeBlock(LineReader* r) {
  if (r->linesCollected == 0) return true;
  const size_t bytes = static_cast<size_t>(r->linesCollected) * static_cast<size_t>(r->bytesPerLine);
  if (!orb::rw::WriteAt(r->image->fileHandle, r->decodeBlock.data(), bytes, r->rawWritePos)) {
    Fail(r, "cannot write the raw image file: " + orb::rw::ErrnoText(errno));
    return false;
  }
  r->rawWritePos += bytes;
  r->rowsDecoded += r->linesCollected;
  r->linesCollected = 0;
  return true;
}

// Converts the library's row into the line buffer and appends its stored form to the
// decode block; writes the block when it is full or at the last row.
bool TakeDecodedRow(LineReader* r, const uint8_t* line, int row, int bytes) {
  const ImageState& image = *r->image;
  const size_t slw = static_cast<size_t>(std::max(image.storedLineWidth, 0));
  const size_t have = bytes > 0 ? static_cast<size_t>(bytes) : 0;
  uint8_t* buf = r->lineBuffer.data();
  const bool packedBw = orb::IsPackedBilevel(image);
  if (image.kind == IK_BW || image.kind == IK_BW_FROM_GREEN) {
    // A 1-bit row: set bits are white unless the file's table puts white first.
    const size_t pixels = std::min(slw, have * 8);
    const uint8_t set = r->bitsInverted ? 0 : 255;
    orb::ExpandBits(line, pixels, buf, set, static_cast<uint8_t>(255 - set));
  } else if (image.kind == IK_PALETTE16) {
    orb::ExpandNibbles(line, std::min(slw, have * 2), buf);
  } else {
    std::memcpy(buf, line, std::min(slw, have));
  }

  uint8_t* out = r->decodeBlock.data() +
                 static_cast<size_t>(r->linesCollected) * static_cast<size_t>(r->bytesPerLine);
  const size_t bpl = static_cast<size_t>(r->bytesPerLine);
  if (packedBw) {
    // A row of set bits with the bit of every black pixel cleared.
    std::memset(out, 0xFF, bpl);
    for (size_t x = 0; x < slw; ++x) {
      if (buf[x] == 0) out[x >> 3] &= static_cast<uint8_t>(~(0x80u >> (x & 7)));
    }
  } else if (image.kind == IK_PALETTE16) {
    orb::PackNibbles(buf, slw, out);
  } else {
    std::memcpy(out, buf, bpl);
  }
  ++r->linesCollected;
  if (r->linesCollected == r->linesPerBlock || row == image.height - 1) {
    return FlushDecodeBlock(r);
  }
  return true;
}

// Ends the GUI-thread opening's use of the raw image file and the display.
void FinishGuiDecode(LineReader* r) {
  ImageState& image = *r->image;
  if (orb::IDisplaySink* d = orb::Host().display) {
    d->DrawIncomingBand(orb::IDisplaySink::kStepEnd, r->lineBuffer.data(), 1);
  }
  CloseFd(&image.fileHandle);
  r->lineBuffer.clear();
  r->lineBuffer.shrink_to_fit();
  r->decodeBlock.clear();
  r->decodeBlock.shrink_to_fit();
  // What was decoded stays readable from the raw image file (all of it, or as far as the
  // user let it come).
  image.sourceForm = SF_RAW_FILE;
  if (orb::IDisplaySink* d = orb::Host().display) d->EndProgressiveDisplay();
  r->guiDecode = false;
}

void DecoderMain(LineReader* r) {
  int result = IM_ReadByCallback(r->sourceHandle, ReadLinesCallback, ReadHeaderCallback, r);
  r->decodeResult.store(result);
  if (result != IM_OK && result != IM_STOPPED) {
    Fail(r, "the imaging library cannot decode " + r->image->sourcePath);
  }
  r->decoderDone.store(true);
  // Wake a reader waiting for a line that will not come.
  r->lineReady->Set();
}

int OpenDecode(LineReader* r, int mode) {
  ImageState& image = *r->image;
  r->lineFree = std::make_unique<orb::Event>(orb::Event::Reset::Auto, true);
  r->lineReady = std::make_unique<orb::Event>(orb::Event::Reset::Auto, false);
  if (image.width <= 0 || image.height <= 0 || image.storedLineWidth <= 0) {
    Fail(r, "the image has no size");
    return kReadOpenFailed;
  }
  try {
    AllocateDecodeBuffers(r);
  } catch (const std::bad_alloc&) {
    Fail(r, "out of memory");
    return kReadOpenFailed;
  }
  r->sourceHandle = ::open(image.sourcePath.c_str(), O_RDONLY | O_CLOEXEC);
  if (r->sourceHandle < 0) {
    Fail(r, "cannot open " + image.sourcePath + ": " + orb::rw::ErrnoText(errno));
    return kReadOpenFailed;
  }
  int created = CreateRawImageFile(r);
  if (created != 0) {
    CloseFd(&r->sourceHandle);
    return created == -1 ? kReadOpenFailed : kReadOpenNoRawFile;
  }
  image.rowOrder = 0;
  r->openMode = mode;
  r->stopRequested.store(false);
  r->linePending.store(false);
  r->decoderDone.store(false);
  r->decodeOpen = true;
  r->decoder = std::thread(DecoderMain, r);
  return (mode & 0x100) ? kReadOpenNoRandomAccess : kReadOpenOk;
}

int ReadDecoded(LineReader* r, uint8_t* dest) {
  for (;;) {
    if (r->linePending.load()) break;
    if (r->decoderDone.load()) return 0;  // end of data, or the decode failed
    if (r->lineReady->Wait() == orb::WaitResult::Closed) return 0;
  }
  std::memcpy(dest, r->lineBuffer.data(), static_cast<size_t>(r->image->storedLineWidth));
  r->linePending.store(false);
  r->lineFree->Set();
  return 1;
}

void CloseDecode(LineReader* r) {
  ImageState& image = *r->image;
  r->stopRequested.store(true);
  r->lineFree->Set();  // a decoder waiting to hand over its next line stops
  if (r->decoder.joinable()) r->decoder.join();
  const bool complete = !r->failed.load() && r->decodeResult.load() == IM_OK &&
                        r->rowsDecoded == image.height;
  CloseFd(&image.fileHandle);
  CloseFd(&r->sourceHandle);
  r->lineFree.reset();
  r->lineReady.reset();
  r->lineBuffer.clear();
  r->decodeBlock.clear();
  if (complete) {
    // From now on the image is read from its raw image file.
    image.sourceForm = SF_RAW_FILE;
  } else {
    // An unfinished raw image file would deliver white lines as if they were the image:
    // drop it, and the next stream decodes the source again.
    orb::SetRawImageFile(&image, "");
  }
  r->decodeOpen = false;
}

}  // namespace

// ----- handle ------------------------------------------------------------------------

LineReader::LineReader(ImageState* img) : image(img), clock(&orb::DefaultClock()) {}

LineReader::~LineReader() {
  if (decodeOpen || storedOpen) {
    CloseReadStream(this);
  } else if (guiDecode && image) {
    // A GUI-thread opening that the library abandoned half-way.
    if (image->fileHandle >= 0) {
      ::close(image->fileHandle);
      image->fileHandle = kNoFile;
    }
    if (orb::IDisplaySink* d = orb::Host().display) d->EndProgressiveDisplay();
  }
  if (sourceHandle >= 0) ::close(sourceHandle);
}

// ----- interfaces --------------------------------------------------------------------

int OpenReadStream(LineReader* reader, int mode) {
  if (!reader || !reader->image) return kReadOpenFailed;
  if (reader->decodeOpen || reader->storedOpen) CloseReadStream(reader);
  reader->failed.store(false);
  reader->lastError.clear();
  reader->decodeResult.store(IM_OK);
  if (reader->image->sourceForm == SF_LIBRARY) return OpenDecode(reader, mode);
  return OpenStored(reader, mode);
}

int ReadLines(LineReader* reader, uint8_t* dest, int mode, int lineNumber) {
  if (!reader || !reader->image || !dest) return 0;
  if (reader->decodeOpen) return ReadDecoded(reader, dest);
  if (reader->storedOpen) return ReadStored(reader, dest, mode, lineNumber);
  return 0;
}

namespace {

// Whether ReadLineRun may read past the block straight into the user's lines: lines stored
// as delivered (one byte a sample), top-down, one after the other, in a file that no scan
// is still writing (a growing file needs the block's waits).
bool CanReadStraight(const LineReader* r, size_t stride) {
  const ImageState& image = *r->image;
  return r->storedOpen && r->openMode == kReadSequential && !NeedsUnpacking(image) && !IsBottomUp(image) &&
         stride == static_cast<size_t>(r->bytesPerLine) && !orb::IsScanning();
}

}  // namespace

int32_t ReadLineRun(LineReader* reader, uint8_t* dest, int32_t count, size_t stride) {
  if (!reader || !reader->image || !dest || count <= 0) return 0;
  LineReader* r = reader;
  const size_t n = static_cast<size_t>(r->bytesPerLine);
  // A request smaller than the block goes through it, as single lines do.
  if (n == 0 || !CanReadStraight(r, stride) || static_cast<size_t>(count) * n < r->block.size()) {
    for (int32_t i = 0; i < count; ++i) {
      if (ReadLines(r, dest + static_cast<size_t>(i) * stride, kReadSequential, 0) != 1) return i;
    }
    return count;
  }
  const size_t want = static_cast<size_t>(count) * n;
  // What the block holds already comes first, then the rest straight from the file.
  const size_t held = std::min(want, r->validEnd - r->readPos);
  std::memcpy(dest, r->block.data() + r->readPos, held);
  r->readPos += held;
  if (held == want) return count;
  const int64_t got = orb::rw::ReadAt(r->image->fileHandle, dest + held, want - held, r->filePos);
  if (got < 0) {
    Fail(r, "cannot read " + StoredPath(*r->image) + ": " + orb::rw::ErrnoText(errno));
    return static_cast<int32_t>(held / n);
  }
  r->filePos += static_cast<uint64_t>(got);
  r->readPos = r->validEnd = 0;
  // Past the end of a finished file the lines come out white.
  const size_t have = held + static_cast<size_t>(got);
  if (have < want) std::memset(dest + have, 255, want - have);
  return count;
}

int CloseReadStream(LineReader* reader) {
  if (!reader || !reader->image) return 1;
  if (reader->decodeOpen) {
    CloseDecode(reader);
  } else if (reader->storedOpen) {
    reader->block.clear();
    reader->block.shrink_to_fit();
    reader->packedLine.clear();
    reader->packedLine.shrink_to_fit();
    CloseFd(&reader->image->fileHandle);
    reader->storedOpen = false;
  }
  reader->readPos = reader->validEnd = 0;
  return 1;
}

// ----- library callbacks -------------------------------------------------------------

namespace {

struct DecodedGeometry {
  int32_t width = 0, height = 0, xDpi = 0, storedLineWidth = 0;
  uint32_t bitsPerPixel = 0, samples = 0, photometric = 0, bitsPerSample = 0;
  uint16_t kind = 0;
  bool clearsRegionFlag = false;
};

// The image the header describes, or false for one the streams cannot carry.
bool GeometryOf(const IM_BITMAPINFOHEADER& h, bool grey, DecodedGeometry* g) {
  if (h.biWidth <= 0 || h.biHeight <= 0) return false;
  g->width = h.biWidth;
  g->height = h.biHeight;
  int dpi = static_cast<int>(h.biXPelsPerMeter / 39.37 + 0.5);
  g->xDpi = dpi < 50 ? 100 : dpi;
  const int64_t w = h.biWidth;
  int64_t slw = 0;
  switch (h.biBitCount) {
    case 1:
      *g = {g->width, g->height, g->xDpi, 0, 8, 1, 1, 8, IK_BW, false};
      slw = w;
      break;
    case 4:
      *g = {g->width, g->height, g->xDpi, 0, 8, 1, 3, 8, IK_PALETTE16, false};
      slw = w + (w & 1);
      break;
    case 8:
      if (grey) {
        *g = {g->width, g->height, g->xDpi, 0, 8, 1, 1, 8, IK_GREY, false};
      } else {
        *g = {g->width, g->height, g->xDpi, 0, 8, 1, 3, 8, IK_PALETTE256, false};
      }
      slw = w;
      break;
    case 16:
      *g = {g->width, g->height, g->xDpi, 0, 16, 2, 3, 8, IK_PALETTE16BIT, true};
      slw = 2 * w;
      break;
    case 24:
      *g = {g->width, g->height, g->xDpi, 0, 24, 3, 2, 8, IK_RGB, false};
      slw = 3 * w;
      break;
    case 32:
      *g = {g->width, g->height, g->xDpi, 0, 32, 4, 5, 8, IK_CMYK32, true};
      slw = 4 * w;
      break;
    default:
      return false;
  }
  if (slw > INT32_MAX) return false;
  g->storedLineWidth = static_cast<int32_t>(slw);
  return true;
}

}  // namespace

int ReadHeaderCallback(void* user, IM_BITMAPINFOHEADER* header, IM_RGBQUAD* colors, int* grey) {
  auto* r = static_cast<LineReader*>(user);
  if (!r || !r->image || !header) return IM_ERR_PARAM;
  ImageState& image = *r->image;
  DecodedGeometry g;
  if (!GeometryOf(*header, grey && *grey != 0, &g)) return IM_ERR_UNSUPPORTED;

  // A 1-bit table whose first entry is the brighter one stores white as 0.
  bool inverted = false;
  if (header->biBitCount == 1 && colors) {
    auto lum = [](const IM_RGBQUAD& q) { return q.rgbRed + q.rgbGreen + q.rgbBlue; };
    inverted = lum(colors[0]) > lum(colors[1]);
  }

  if (r->decodeOpen) {
    // The decoder thread: the stream was opened for the geometry the probe found; the
    // reading thread uses those fields, so they are compared here, not rewritten.
    if (g.width != image.width || g.height != image.height || g.kind != image.kind ||
        g.storedLineWidth != image.storedLineWidth) {
      Fail(r, "the file changed since it was opened: " + image.sourcePath);
      return IM_ERR_CORRUPT;
    }
    r->bitsInverted = inverted;
    return IM_OK;
  }

  image.width = g.width;
  image.height = g.height;
  image.blockWidth = static_cast<uint32_t>(g.width);
  image.blockHeight = static_cast<uint32_t>(g.height);
  image.xDpi = image.yDpi = g.xDpi;
  image.bitsPerPixel = g.bitsPerPixel;
  image.samplesPerPixel = g.samples;
  image.photometric = static_cast<Photometric>(g.photometric);
  image.bitsPerSample = g.bitsPerSample;
  image.kind = static_cast<ImageKind>(g.kind);
  image.storedLineWidth = g.storedLineWidth;
  image.region = PixelRect{0, 0, g.width - 1, g.height - 1};
  if (g.clearsRegionFlag) r->regionFlag = 0;
  r->bitsInverted = inverted;
  // Palette: 16 or 256 colours from the table, the grey ramp for grey images.
  if (g.kind == IK_GREY) {
    orb::SetGreyRamp(&image);
  } else if ((g.kind == IK_PALETTE16 || g.kind == IK_PALETTE256) && colors) {
    const size_t n = g.kind == IK_PALETTE16 ? 16 : 256;
    for (size_t i = 0; i < n; ++i) {
      image.palette[i] = PaletteEntry{colors[i].rgbRed, colors[i].rgbGreen, colors[i].rgbBlue};
    }
  }
  image.palette2 = image.palette;

  if (!orb::HasStatus(orb::StatusBit::DecodingOnGuiThread)) return IM_OK;

  // The document's opening on the GUI thread: make the raw image file and start drawing.
  orb::IDisplaySink* display = orb::Host().display;
  if (display) display->UpdateTitle(&image);
  try {
    AllocateDecodeBuffers(r);
  } catch (const std::bad_alloc&) {
    return IM_ERR_MEMORY;
  }
  int created = CreateRawImageFile(r);
  if (created == -1) return -10000;
  if (created != 0) return -1;
  CancelFlag.store(0);
  r->guiDecode = true;
  if (display) {
    display->BeginProgressiveDisplay(&image);
    display->DrawIncomingBand(orb::IDisplaySink::kStepStart, nullptr, 0);
  }
  return IM_OK;
}

int ReadLinesCallback(void* user, uint8_t* line, int row, int bytes) {
  auto* r = static_cast<LineReader*>(user);
  if (!r || !r->image) return IM_STOPPED;

  if (r->decodeOpen) {
    // The decoder thread of a stream.
    if (CancelFlag.load() != 0 || r->stopRequested.load()) return IM_STOPPED;
    if (r->lineFree->Wait() == orb::WaitResult::Closed || r->stopRequested.load()) {
      return IM_STOPPED;
    }
    if (!TakeDecodedRow(r, line, row, bytes)) return IM_STOPPED;
    r->linePending.store(true);
    r->lineReady->Set();
    return IM_OK;
  }

  if (!r->guiDecode) return IM_STOPPED;  // nothing to fill: a probe's header-only read

  // The document's opening on the GUI thread.
  orb::IDisplaySink* display = orb::Host().display;
  if (CancelFlag.load() != 0) {
    // Keep what was decoded: the image stays readable as far as it came.
    FlushDecodeBlock(r);
    FinishGuiDecode(r);
    return IM_STOPPED;
  }
  if (!TakeDecodedRow(r, line, row, bytes)) {
    orb::Notify(kMsgNotEnoughDiskSpace, orb::MessageIcon::Error);
    FinishGuiDecode(r);
    return IM_STOPPED;
  }
  orb::PumpMessages();
  if (display) display->DrawIncomingBand(orb::IDisplaySink::kStepBand, r->lineBuffer.data(), 1);
  if (row != r->image->height - 1) return IM_OK;
  FinishGuiDecode(r);
  return IM_OK;
}

// ----- helpers -----------------------------------------------------------------------

namespace orb {

bool IsPackedBilevel(const ImageState& image) {
  return (image.kind == IK_BW || image.kind == IK_BW_FROM_GREEN) && !image.linesOneBytePerPixel;
}

int32_t StoredLineBytes(const ImageState& image) {
  const int32_t slw = std::max(image.storedLineWidth, 0);
  if (IsPackedBilevel(image)) return static_cast<int32_t>((static_cast<int64_t>(slw) + 7) / 8);
  if (image.kind == IK_PALETTE16) return slw / 2;
  return slw;
}

std::string TempFilesFolder() {
  {
    std::lock_guard<std::mutex> lock(g_tempFolderMutex);
    if (!g_tempFolder.empty()) return g_tempFolder;
  }
  return WorkingFolder();
}

void SetTempFilesFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(g_tempFolderMutex);
  g_tempFolder = folder;
}

}  // namespace orb
