#include "engine/ReadWrite/ScanOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "engine/EngineHost.h"
#include "engine/ReadWrite/LinePacking.h"
#include "engine/ReadWrite/StreamFiles.h"
#include "engine/Settings.h"
#include "platform/Bytes.h"

namespace {

constexpr size_t kBandBytes = 0x100000;
constexpr size_t kInfoHeaderBytes = 40;

bool IsBilevelKind(uint16_t kind) {
  // Kind 10 is black and white too (saved as kind 4): its header says 1 bit as well.
  return kind == IK_BW || kind == IK_BW_FROM_GREEN || kind == IK_BW_SAVED_AS_4;
}

// BITMAPINFOHEADER and colour table (plus one spare entry) of the image.
std::vector<uint8_t> BuildBitmapInfo(const ImageState& image) {
  std::vector<uint8_t> info(kInfoHeaderBytes + 257 * 4, 0);
  uint16_t bits = 0;
  size_t entries = 0;
  switch (image.kind) {
    case IK_RGB:
      bits = 24;
      break;
    case IK_PALETTE256:
    case IK_GREY:
    case IK_GREY_FROM_GREEN:
      bits = 8;
      entries = 256;
      break;
    case IK_PALETTE16:
      bits = 4;
      entries = 16;
      break;
    case IK_BW:
    case IK_BW_FROM_GREEN:
    case IK_BW_SAVED_AS_4:
      bits = 1;
      break;
    case IK_BW_SEPARATES:
    case IK_CMYK32:
    case IK_PALETTE16BIT:
      break;  // no scan delivers these kinds
  }
  orb::PutU32LE(&info[0], 40);
  orb::PutI32LE(&info[4], image.width);
  orb::PutI32LE(&info[8], image.height);
  orb::PutU16LE(&info[12], 1);
  orb::PutU16LE(&info[14], bits);
  orb::PutI32LE(&info[24], orb::PixelsPerMetre(image.xDpi));
  orb::PutI32LE(&info[28], orb::PixelsPerMetre(image.yDpi));
  uint8_t* table = &info[kInfoHeaderBytes];
  for (size_t i = 0; i < entries; ++i) {
    table[4 * i] = static_cast<uint8_t>(image.palette[i].blue & 0xFF);
    table[4 * i + 1] = static_cast<uint8_t>(image.palette[i].green & 0xFF);
    table[4 * i + 2] = static_cast<uint8_t>(image.palette[i].red & 0xFF);
  }
  if (bits == 1) {
    // Photometric 0 (white is zero): entry 0 white; otherwise entry 0 black.
    const uint8_t first = image.photometric == PM_WHITE_IS_ZERO ? 255 : 0;
    std::memset(table, first, 3);
    std::memset(table + 4, 255 - first, 3);
  }
  return info;
}

// Lines callback of the library's pull: line `lineCount` of the band into `dest`.
int ScanLinesCallback(void* user, uint8_t* dest, int /*row*/, int bytes) {
  auto* w = static_cast<LineWriter*>(user);
  // An open-length output ends when it is released; a cut scan raises the cancel flag first.
  auto cancelled = [w] { return !w->openLength && CancelFlag.load() != 0; };
  if (cancelled()) return IM_STOPPED;
  std::unique_lock<std::mutex> lock(w->bandMutex);
  while (!w->bandFull) {
    if (w->released || w->stopRequested.load()) return IM_STOPPED;
    w->bandChanged.wait_for(lock, w->pollInterval);
    if (cancelled()) return IM_STOPPED;
  }
  const ImageState& image = *w->image;
  const size_t slw = static_cast<size_t>(image.storedLineWidth);
  const size_t n = bytes > 0 ? static_cast<size_t>(bytes) : 0;
  const uint8_t* src = w->bufferA.data() + static_cast<size_t>(w->lineCount) * slw;
  // The library asks for rows in its header's layout: packed at 1 and 4 bits, in every
  // format (BMP included).
  if (IsBilevelKind(image.kind)) {
    std::memset(dest, 0, n);
    orb::PackNonZeroBits(src, std::min(slw, n * 8), dest);
  } else if (image.kind == IK_PALETTE16) {
    std::memset(dest, 0, n);
    orb::PackNibbles(src, std::min(slw, n * 2), dest);
  } else {
    const size_t copy = std::min(n, slw);
    std::memcpy(dest, src, copy);
    if (n > copy) std::memset(dest + copy, 0, n - copy);
  }
  if (++w->lineCount >= w->linesPerBuffer) {
    w->bandFull = false;
    lock.unlock();
    w->bandChanged.notify_all();
  }
  return IM_OK;
}

int ScanHeaderCallback(void* user, IM_BITMAPINFOHEADER* header, IM_RGBQUAD* colors, int* grey) {
  auto* w = static_cast<LineWriter*>(user);
  const ImageState& image = *w->image;
  const uint8_t* info = w->bitmapInfo.data();
  header->biSize = orb::GetU32LE(info);
  header->biWidth = orb::GetI32LE(info + 4);
  header->biHeight = orb::GetI32LE(info + 8);
  header->biPlanes = orb::GetU16LE(info + 12);
  header->biBitCount = orb::GetU16LE(info + 14);
  header->biCompression = 0;
  const uint64_t size = static_cast<uint64_t>(std::max(image.storedLineWidth, 0)) *
                        static_cast<uint64_t>(std::max(image.height, 0));
  header->biSizeImage =
      size > std::numeric_limits<uint32_t>::max() ? 0 : static_cast<uint32_t>(size);
  header->biXPelsPerMeter = orb::GetI32LE(info + 24);
  header->biYPelsPerMeter = orb::GetI32LE(info + 28);
  header->biClrUsed = 0;
  header->biClrImportant = 0;
  const bool isGrey = image.kind == IK_GREY || image.kind == IK_GREY_FROM_GREEN;
  if (grey) *grey = isGrey ? 1 : 0;
  if (colors && header->biBitCount < 24 && header->biBitCount > 0 && !isGrey) {
    const size_t entries = size_t{1} << header->biBitCount;
    for (size_t i = 0; i < entries; ++i) {
      const uint8_t* e = info + kInfoHeaderBytes + 4 * i;
      colors[i] = IM_RGBQUAD{e[0], e[1], e[2], 0};
    }
  }
  return IM_OK;
}

void FinishWriter(LineWriter* w, int result) {
  {
    std::lock_guard<std::mutex> lock(w->bandMutex);
    w->libraryResult = result;
    w->writerFinished = true;
  }
  w->bandChanged.notify_all();
}

void LibraryWriterMain(LineWriter* w) {
  const uint32_t format = w->outputFormat | (w->openLength ? IM_OPEN_LENGTH : 0u);
  int result = IM_WriteByCallback(w->outputHandle, format, ScanLinesCallback, ScanHeaderCallback, w);
  FinishWriter(w, result);
}

void TiffWriterMain(LineWriter* w) {
  const ImageState& image = *w->image;
  const int32_t lineBytes = orb::WrittenLineBytes(image);
  std::vector<uint8_t> line(static_cast<size_t>(std::max(lineBytes, 1)), 0);
  // The output was started by OpenScanOutput.
  int result = w->outputStarted ? IM_OK : IM_ERR_PARAM;
  if (result == IM_OK) {
    for (int32_t row = 0; row < image.height; ++row) {
      if (ScanLinesCallback(w, line.data(), row, lineBytes) != IM_OK) {
        result = IM_STOPPED;
        break;
      }
      int r = IM_WriteNext(&w->context, line.data(), 0);
      if (r != IM_OK) {
        result = r;
        break;
      }
    }
    int r = IM_WriteNext(&w->context, nullptr, IM_STOPPED);
    if (result == IM_OK && r != IM_OK) result = r;
    w->image->dataOffset = w->context.dataOffset != 0 ? w->context.dataOffset : 8;
    r = IM_WriteEnd(&w->context);
    if (result == IM_OK && r != IM_OK) result = r;
    w->outputStarted = false;
  }
  FinishWriter(w, result);
}

void SetQualities(const ImageState& image, uint32_t code) {
  const orb::OutputQualities q = orb::CurrentOutputQualities();
  if (code & 1) {
    const orb::TiffTexts texts = orb::CurrentTiffTexts();
    if (image.kind == IK_RGB && !texts.iccProfile.empty()) {
      IM_TiffSetICCProfile(texts.iccProfile.c_str());
    }
    if (code == OF_TIFF_JPEG) IM_TiffJPEGSetQuality(q.tiffJpeg);
    if (!texts.copyright.empty()) IM_TiffSetCopyright(texts.copyright.c_str());
    if (!texts.artist.empty()) IM_TiffSetArtist(texts.artist.c_str());
  }
  if ((code == OF_JPEG || code == OF_PDF_JPEG) && (image.kind == IK_RGB || image.kind == IK_GREY)) {
    const bool colour = image.kind == IK_RGB;
    if (code == OF_JPEG) {
      IM_JpegSetQuality(colour ? q.jpegColour : q.jpegGrey);
    } else {
      IM_JpegSetQuality(colour ? q.pdfJpegColour : q.pdfJpegGrey);
    }
  } else if (code == OF_JPEG2000) {
    IM_Jp2SetQuality(q.jpeg2000Lossless ? 1000 : q.jpeg2000);
  }
}

}  // namespace

int OpenScanOutput(LineWriter* writer) {
  if (!writer || !writer->image || writer->scanOpen) return -1;
  LineWriter& w = *writer;
  ImageState& image = *w.image;
  if (image.storedLineWidth <= 0 || image.height <= 0) {
    w.lastError = "the image has no size";
    return -1;
  }
  const uint32_t code = image.outputFormat;
  w.bitmapInfo = BuildBitmapInfo(image);
  SetQualities(image, code);

  image.fileHandle = kNoFile;
  w.outputHandle = -1;
  w.lineCount = 0;
  const size_t slw = static_cast<size_t>(image.storedLineWidth);
  const size_t s = slw > kBandBytes ? slw : kBandBytes - kBandBytes % slw;
  try {
    w.bufferA.assign(s, 0);
  } catch (const std::bad_alloc&) {
    w.lastError = "out of memory";
    return -1;
  }
  w.bandCapacity = static_cast<int32_t>(s / slw);
  w.linesPerBuffer = 0;
  w.bandFull = false;
  w.released = false;
  w.writerFinished = false;
  w.libraryResult = IM_OK;
  w.stopRequested.store(false);

  int fd = orb::rw::CreateBeside(image.sourcePath, &w.tempPath);
  if (fd < 0) {
    w.lastError = "cannot create " + image.sourcePath + ": " + orb::rw::ErrnoText(errno);
    w.bufferA.clear();
    return -1;
  }
  w.outputFormat = code;
  w.scanOpen = true;
  if (code == OF_TIFF) {
    image.fileHandle = fd;
    // Started here, on the caller's thread, so that a failed start is reported at once.
    if (StartImageOutput(&w) != IM_OK) {
      ::close(fd);
      image.fileHandle = kNoFile;
      ::unlink(w.tempPath.c_str());
      w.tempPath.clear();
      w.bufferA.clear();
      w.scanOpen = false;
      if (w.lastError.empty()) w.lastError = "the image output cannot start";
      return -1;
    }
    w.thread = std::thread(TiffWriterMain, &w);
  } else {
    w.outputHandle = fd;
    w.thread = std::thread(LibraryWriterMain, &w);
  }
  return 0;
}

int WriteScanLines(LineWriter* writer, const uint8_t* band, int64_t byteCount) {
  if (CancelFlag.load() != 0) return -1;
  if (!writer || !writer->scanOpen || !band) return -1;
  LineWriter& w = *writer;
  const size_t slw = static_cast<size_t>(w.image->storedLineWidth);
  int64_t lines = byteCount / static_cast<int64_t>(slw);
  const uint8_t* src = band;
  while (lines > 0) {
    const int32_t chunk = static_cast<int32_t>(std::min<int64_t>(lines, w.bandCapacity));
    {
      std::unique_lock<std::mutex> lock(w.bandMutex);
      while (w.bandFull && !w.released && !w.writerFinished) {
        if (w.bandChanged.wait_for(lock, w.pollInterval) == std::cv_status::timeout &&
            CancelFlag.load() != 0) {
          return -1;
        }
      }
      if (w.released || w.writerFinished) return -1;
      std::memcpy(w.bufferA.data(), src, static_cast<size_t>(chunk) * slw);
      w.lineCount = 0;
      w.linesPerBuffer = chunk;
      w.bandFull = true;
    }
    w.bandChanged.notify_all();
    src += static_cast<size_t>(chunk) * slw;
    lines -= chunk;
  }
  return 0;
}

int ReleaseScanOutput(LineWriter* writer) {
  if (!writer) return 0;
  {
    std::lock_guard<std::mutex> lock(writer->bandMutex);
    writer->released = true;
  }
  writer->bandChanged.notify_all();
  return 0;
}

int CloseScanOutput(LineWriter* writer) {
  if (!writer || !writer->scanOpen) return -1;
  LineWriter& w = *writer;
  ImageState& image = *w.image;
  // A writer that still waits for lines would wait for ever: nothing more will come.
  ReleaseScanOutput(&w);
  if (w.thread.joinable()) w.thread.join();

  bool ok = (w.libraryResult == IM_OK || w.libraryResult == IM_STOPPED);
  // An open-length output stopped before its first line (the scan was cancelled, or nothing
  // came) holds no image: nothing replaces the target, and nothing failed.
  bool empty = false;
  if (ok && w.openLength && w.outputHandle >= 0) {
    struct stat st {};
    empty = ::fstat(w.outputHandle, &st) == 0 && st.st_size == 0;
  }
  auto closeFd = [&](int* fd) {
    if (*fd < 0) return;
    if (::close(*fd) != 0 && ok) {
      ok = false;
      w.lastError = "cannot write " + image.sourcePath + ": " + orb::rw::ErrnoText(errno);
    }
    *fd = -1;
  };
  closeFd(&image.fileHandle);
  closeFd(&w.outputHandle);
  if (ok && empty) {
    ::unlink(w.tempPath.c_str());
  } else if (ok) {
    // CommitBeside flushes the file before it takes the target's name: a crash never leaves
    // a half-written file there, and a write the disk failed late is reported, not passed off.
    if (!orb::rw::CommitBeside(w.tempPath, image.sourcePath)) {
      ok = false;
      w.lastError = "cannot replace " + image.sourcePath + ": " + orb::rw::ErrnoText(errno);
    }
  } else {
    if (w.lastError.empty()) w.lastError = "the image could not be written: " + image.sourcePath;
    ::unlink(w.tempPath.c_str());
  }
  w.tempPath.clear();
  w.bufferA.clear();
  w.bufferA.shrink_to_fit();
  w.bitmapInfo.clear();
  w.scanOpen = false;
  return ok ? 0 : -1;
}

namespace orb {

OutputQualities CurrentOutputQualities() {
  OutputQualities q;
  q.jpegColour = MiscSettings.JpegQualityColour;
  q.jpegGrey = MiscSettings.JpegQualityGrey;
  q.pdfJpegColour = MiscSettings.PdfJpegQualityColour;
  q.pdfJpegGrey = MiscSettings.PdfJpegQualityGrey;
  q.tiffJpeg = MiscSettings.TiffJpegQualityColour;
  q.jpeg2000 = MiscSettings.Jpeg2000Quality;
  q.jpeg2000Lossless = MiscSettings.LosslessJpeg2000 != 0;
  return q;
}

}  // namespace orb
