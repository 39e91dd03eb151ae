#include "engine/ReadWrite/LineWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>

#include "engine/EngineHost.h"
#include "engine/ReadWrite/LinePacking.h"
#include "engine/ReadWrite/ScanOutput.h"
#include "engine/Settings.h"

namespace {

constexpr size_t kWriteBufferBytes = 0x100000;
constexpr int kMsgJpegTooLargeNotClamped = 34009;
constexpr int kMsgJpegTooLargeClamped = 34010;

// Lines of these kinds are written as the user holds them (one byte a sample, nothing to
// pack), so the user may fill them in the buffer itself.
bool WrittenAsHeld(const ImageState& image) {
  switch (image.kind) {
    case IK_BW:
    case IK_BW_FROM_GREEN:
    case IK_PALETTE16:
      return false;
    case IK_RGB:
    case IK_PALETTE256:
    case IK_GREY:
    case IK_GREY_FROM_GREEN:
    case IK_BW_SEPARATES:
    case IK_CMYK32:
    case IK_PALETTE16BIT:
    case IK_BW_SAVED_AS_4:
      break;
  }
  return true;
}

// Packs one line of one byte per sample into the written form of a write stream.
void PackLine(const ImageState& image, const uint8_t* in, uint8_t* out, size_t outBytes) {
  const size_t slw = static_cast<size_t>(image.storedLineWidth);
  if (WrittenAsHeld(image)) {
    // One byte a sample is written as it is (so is a kind no stream knows).
    std::memcpy(out, in, outBytes);
  } else if (image.kind == IK_PALETTE16) {
    orb::PackNibbles(in, slw, out);
  } else {
    orb::PackNonZeroBits(in, slw, out);
  }
}

void WriterMain(LineWriter* w) {
  for (;;) {
    if (w->blockFull->Wait() != orb::WaitResult::Signaled) break;
    if (w->stopRequested.load()) break;
    // The producer handed this buffer over before signalling and does not touch it
    // again until writerIdle is set below.
    if (w->writeResult.load() == IM_OK) {
      const int r = IM_WriteRows(&w->context, w->writing, w->linesPerBuffer, w->bytesPerWrittenLine);
      if (r != IM_OK) w->writeResult.store(r);
      if (w->flushBehind) w->flushBehind->Wrote(int64_t{w->linesPerBuffer} * w->bytesPerWrittenLine);
    }
    w->writerIdle->Set();
  }
}


// The filling buffer is full: it goes to the writer thread once the other one is written,
// and the other becomes the filling one. False when the writer failed (the full buffer is
// dropped, never written past).
bool HandOverFullBuffer(LineWriter& w) {
  // The previous buffer must be written before the buffers swap. Marking the writer busy
  // here, before it is woken, means the next swap waits for this buffer too.
  if (w.writerIdle->Wait() != orb::WaitResult::Signaled || w.writeResult.load() != IM_OK) {
    w.lineCount = 0;
    return false;
  }
  w.writerIdle->ResetEvent();
  ++w.buffersCompleted;
  w.writing = w.filling;
  w.filling = (w.filling == w.bufferA.data()) ? w.bufferB.data() : w.bufferA.data();
  w.lineCount = 0;
  w.blockFull->Set();
  return true;
}


}  // namespace

LineWriter::LineWriter(ImageState* img) : image(img) {}

LineWriter::~LineWriter() {
  if (streamOpen) CloseWriteStream(this);
  if (scanOpen) {
    ReleaseScanOutput(this);
    CloseScanOutput(this);
  }
}

int StartImageOutput(LineWriter* writer) {
  if (!writer || !writer->image) return IM_ERR_PARAM;
  ImageState& image = *writer->image;
  IM_WRITECONTEXT& ctx = writer->context;
  ctx = IM_WRITECONTEXT{};
  ctx.format = OF_TIFF;
  ctx.header.biSize = 40;
  ctx.header.biWidth = image.width;
  ctx.header.biHeight = image.height;
  ctx.header.biPlanes = 1;

  const orb::TiffTexts texts = orb::CurrentTiffTexts();
  uint16_t bits = 0;
  size_t colours = 0;
  switch (image.kind) {
    case IK_BW:
    case IK_BW_FROM_GREEN:
      bits = 1;
      break;
    case IK_PALETTE16:
      bits = 4;
      colours = 16;
      break;
    case IK_PALETTE256:
      bits = 8;
      colours = 256;
      break;
    case IK_GREY:
    case IK_GREY_FROM_GREEN:
      bits = static_cast<uint16_t>(image.bitsPerSample);
      ctx.grey = 1;
      break;
    case IK_BW_SAVED_AS_4:
      bits = 8;
      ctx.grey = 1;
      break;
    case IK_RGB:
      bits = 24;
      if (!texts.iccProfile.empty()) IM_TiffSetICCProfile(texts.iccProfile.c_str());
      break;
    case IK_BW_SEPARATES:
    case IK_CMYK32:
    case IK_PALETTE16BIT:
      break;  // kinds that are only read: no depth to write
  }
  ctx.header.biBitCount = bits;
  for (size_t i = 0; i < colours; ++i) {
    ctx.colors[i].rgbBlue = static_cast<uint8_t>(image.palette[i].blue & 0xFF);
    ctx.colors[i].rgbGreen = static_cast<uint8_t>(image.palette[i].green & 0xFF);
    ctx.colors[i].rgbRed = static_cast<uint8_t>(image.palette[i].red & 0xFF);
  }
  const int32_t ppm = orb::PixelsPerMetre(image.xDpi);
  ctx.header.biXPelsPerMeter = ppm;
  ctx.header.biYPelsPerMeter = ppm;
  if (!texts.copyright.empty()) IM_TiffSetCopyright(texts.copyright.c_str());
  if (!texts.artist.empty()) IM_TiffSetArtist(texts.artist.c_str());
  int result = IM_WriteStart(image.fileHandle, &ctx);
  writer->outputStarted = (result == IM_OK);
  if (result != IM_OK) {
    writer->lastError = "the image output cannot start";
    // Whether the stream opens before or after this, nothing will be written.
    writer->writeResult.store(result);
  }
  return result;
}

int OpenWriteStream(LineWriter* writer) {
  if (!writer || !writer->image || writer->image->storedLineWidth <= 0) return -1;
  LineWriter& w = *writer;
  if (w.streamOpen) return -1;
  w.lineCount = 0;
  w.bytesPerWrittenLine = orb::WrittenLineBytes(*w.image);
  const size_t bpl = static_cast<size_t>(std::max(w.bytesPerWrittenLine, 1));
  // Whole lines of at most 1 MB, and never less than one line.
  const size_t s = bpl > kWriteBufferBytes ? bpl : kWriteBufferBytes - kWriteBufferBytes % bpl;
  try {
    w.bufferA.assign(s, 0);
    w.bufferB.assign(s, 0);
  } catch (const std::bad_alloc&) {
    w.bufferA.clear();
    w.bufferB.clear();
    w.lastError = "out of memory";
    return -1;
  }
  w.linesPerBuffer = static_cast<int32_t>(s / bpl);
  w.buffersCompleted = 0;
  w.filling = w.bufferA.data();
  w.writing = w.bufferA.data();
  w.blockFull = std::make_unique<orb::Event>(orb::Event::Reset::Auto, false);
  w.writerIdle = std::make_unique<orb::Event>(orb::Event::Reset::Manual, true);
  w.stopRequested.store(false);
  if (w.writeBehind && w.image->fileHandle >= 0) {
    try {
      w.flushBehind = std::make_unique<orb::FlushBehind>(w.image->fileHandle);
    } catch (const std::exception&) {
      w.flushBehind.reset();  // no thread for it: the owner's flush at the close does it all
    }
  }
  w.thread = std::thread(WriterMain, &w);
  w.streamOpen = true;
  return 0;
}

int WriteLines(LineWriter* writer, const uint8_t* lines, int64_t byteCount) {
  if (!writer || !writer->streamOpen || !lines) return -1;
  LineWriter& w = *writer;
  const ImageState& image = *w.image;
  const size_t slw = static_cast<size_t>(image.storedLineWidth);
  const size_t bpl = static_cast<size_t>(w.bytesPerWrittenLine);
  const int64_t count = byteCount / static_cast<int64_t>(slw);
  // After a failure nothing more is taken: the output is lost already.
  if (w.writeResult.load() != IM_OK) return -1;
  for (int64_t i = 0; i < count; ++i) {
    PackLine(image, lines + static_cast<size_t>(i) * slw,
             w.filling + static_cast<size_t>(w.lineCount) * bpl, bpl);
    if (++w.lineCount < w.linesPerBuffer) continue;
    if (!HandOverFullBuffer(w)) return -1;
  }
  return w.writeResult.load() == IM_OK ? 0 : -1;
}

uint8_t* WriteSpace(LineWriter* writer, int32_t* lines) {
  if (lines) *lines = 0;
  if (!writer || !writer->streamOpen || !lines || !writer->image) return nullptr;
  LineWriter& w = *writer;
  if (!WrittenAsHeld(*w.image) || w.bytesPerWrittenLine != w.image->storedLineWidth) return nullptr;
  if (w.writeResult.load() != IM_OK) return nullptr;
  *lines = w.linesPerBuffer - w.lineCount;
  return w.filling + static_cast<size_t>(w.lineCount) * static_cast<size_t>(w.bytesPerWrittenLine);
}

int CommitLines(LineWriter* writer, int32_t count) {
  if (!writer || !writer->streamOpen || count < 0) return -1;
  LineWriter& w = *writer;
  if (w.writeResult.load() != IM_OK) return -1;
  if (count > w.linesPerBuffer - w.lineCount) return -1;
  w.lineCount += count;
  if (w.lineCount == w.linesPerBuffer && !HandOverFullBuffer(w)) return -1;
  return w.writeResult.load() == IM_OK ? 0 : -1;
}

int CloseWriteStream(LineWriter* writer) {
  if (!writer || !writer->streamOpen) return -1;
  LineWriter& w = *writer;
  // The last full buffer is written before the rest; then the thread ends and only this
  // thread talks to the library.
  w.writerIdle->Wait();
  w.stopRequested.store(true);
  w.blockFull->Set();
  if (w.thread.joinable()) w.thread.join();

  int result = w.writeResult.load();
  if (result == IM_OK && w.lineCount > 0)
    result = IM_WriteRows(&w.context, w.filling, w.lineCount, w.bytesPerWrittenLine);
  if (w.outputStarted) {
    int r = IM_WriteNext(&w.context, nullptr, IM_STOPPED);
    if (result == IM_OK && r != IM_OK) result = r;
    // Where the pixel data start: after the 8-byte header, or 16 for a BigTIFF.
    w.image->dataOffset = w.context.dataOffset != 0 ? w.context.dataOffset : 8;
    r = IM_WriteEnd(&w.context);
    // IM_STOPPED: fewer lines than the height were handed over; those are all written.
    if (result == IM_OK && r != IM_OK && r != IM_STOPPED) result = r;
    w.outputStarted = false;
  }
  if (w.flushBehind) {
    w.flushBehind->Stop();
    // A writeback error is reported to one flush only: the owner's final one may not see it.
    if (result == IM_OK && w.flushBehind->Failed()) result = IM_ERR_IO;
    w.flushBehind.reset();
  }
  w.bufferA.clear();
  w.bufferA.shrink_to_fit();
  w.bufferB.clear();
  w.bufferB.shrink_to_fit();
  w.filling = w.writing = nullptr;
  w.blockFull.reset();
  w.writerIdle.reset();
  w.lineCount = 0;
  w.streamOpen = false;
  if (result != IM_OK) {
    if (w.lastError.empty()) w.lastError = "the image could not be written (disk full?)";
    return -1;
  }
  return 0;
}

bool CheckJpegSizeLimit(uint32_t outputFormat, int32_t* dimension, bool showMessage, bool clamp) {
  if (outputFormat != OF_JPEG && outputFormat != OF_PDF_JPEG) return false;
  if (!dimension || *dimension <= orb::kJpegSideLimit) return false;
  if (clamp) *dimension = orb::kJpegClampedSide;
  if (showMessage) {
    orb::Notify(clamp ? kMsgJpegTooLargeClamped : kMsgJpegTooLargeNotClamped,
                orb::MessageIcon::Exclamation,
                {orb::MessageArg{std::string("JPEG")}, orb::MessageArg{int64_t{orb::kJpegSideLimit}}});
  }
  return true;
}

namespace orb {

int32_t PixelsPerMetre(int32_t dpi) {
  const double ppm = std::trunc(static_cast<double>(dpi) * 39.37);
  constexpr double kMax = std::numeric_limits<int32_t>::max();
  constexpr double kMin = std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(std::clamp(ppm, kMin, kMax));
}

int32_t WrittenLineBytes(const ImageState& image) {
  const int64_t slw = std::max(image.storedLineWidth, 0);
  switch (image.kind) {
    case IK_BW:
    case IK_BW_FROM_GREEN:
      return static_cast<int32_t>((slw + 7) / 8);
    case IK_PALETTE16:
      return static_cast<int32_t>(slw / 2);
    case IK_RGB:
    case IK_PALETTE256:
    case IK_GREY:
    case IK_GREY_FROM_GREEN:
    case IK_BW_SEPARATES:
    case IK_CMYK32:
    case IK_PALETTE16BIT:
    case IK_BW_SAVED_AS_4:
      break;
  }
  return static_cast<int32_t>(slw);
}

TiffTexts CurrentTiffTexts() {
  auto text = [](const char* field, size_t size) {
    return std::string(field, strnlen(field, size));
  };
  return TiffTexts{text(MiscSettings.IccProfile, sizeof MiscSettings.IccProfile),
                   text(MiscSettings.TiffCopyright, sizeof MiscSettings.TiffCopyright),
                   text(MiscSettings.TiffArtist, sizeof MiscSettings.TiffArtist)};
}

}  // namespace orb
