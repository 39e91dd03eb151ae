// The library's entry points: format detection, the callback plumbing shared by every
// codec, the push interface and the settings of the next write.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

#include "platform/imagemill/MillInternal.h"
#include "platform/imagemill/imagemill.h"

namespace mill {
namespace {

std::mutex g_settingsMutex;
WriteSettings g_settings;

enum class FileType { Unknown, Tiff, Jpeg, Png, Jp2, Pdf, Bmp };

FileType Detect(int fd) {
  uint8_t m[16] = {};
  const int64_t size = FileSize(fd);
  if (size < 4) return FileType::Unknown;
  const size_t n = size < 16 ? static_cast<size_t>(size) : 16;
  if (!ReadAt(fd, 0, m, n)) return FileType::Unknown;
  if ((m[0] == 'I' && m[1] == 'I' && (m[2] == 42 || m[2] == 43) && m[3] == 0) ||
      (m[0] == 'M' && m[1] == 'M' && m[2] == 0 && (m[3] == 42 || m[3] == 43)))
    return FileType::Tiff;
  if (m[0] == 0xFF && m[1] == 0xD8 && m[2] == 0xFF) return FileType::Jpeg;
  if (m[0] == 0x89 && m[1] == 'P' && m[2] == 'N' && m[3] == 'G') return FileType::Png;
  if (n >= 12 && std::memcmp(m, "\0\0\0\x0cjP  \r\n\x87\n", 12) == 0) return FileType::Jp2;
  if (m[0] == 0xFF && m[1] == 0x4F && m[2] == 0xFF && m[3] == 0x51) return FileType::Jp2;
  if (m[0] == 'B' && m[1] == 'M') return FileType::Bmp;
  // PDF: the header may follow some garbage within the first kilobyte.
  char head[1024];
  const size_t hn = size < 1024 ? static_cast<size_t>(size) : 1024;
  if (ReadAt(fd, 0, head, hn)) {
    for (size_t i = 0; i + 5 <= hn; ++i)
      if (std::memcmp(head + i, "%PDF-", 5) == 0) return FileType::Pdf;
  }
  return FileType::Unknown;
}

// Hands a reader's output to the caller's callbacks.
class CallbackSink : public ReadSink {
 public:
  CallbackSink(IM_LINESCALLBACK lines, IM_HEADERCALLBACK header, void* user)
      : lines_(lines), header_(header), user_(user) {}

  int Header(const ImageDesc& d) override {
    if (int rc = CheckDesc(d); rc != IM_OK) return rc;
    IM_BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = d.width;
    h.biHeight = d.height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<uint16_t>(d.bitsPerPixel);
    const uint64_t image = static_cast<uint64_t>(d.RowBytes()) * static_cast<uint64_t>(d.height);
    h.biSizeImage = image > 0xFFFFFFFFu ? 0 : static_cast<uint32_t>(image);
    h.biXPelsPerMeter = d.xPelsPerMeter;
    h.biYPelsPerMeter = d.yPelsPerMeter;
    h.biClrUsed = static_cast<uint32_t>(d.colors.size());
    IM_RGBQUAD table[256] = {};
    for (size_t i = 0; i < d.colors.size() && i < 256; ++i) table[i] = d.colors[i];
    int grey = d.grey && d.bitsPerPixel == 8 ? 1 : 0;
    // Set bits of a bilevel image travel as white.
    invert_ = d.bitsPerPixel == 1 && OneBitSetIsDark(d.colors);
    if (invert_) std::swap(table[0], table[1]);
    headerDone_ = true;
    rows_ = 0;
    height_ = d.height;
    rowBytes_ = d.RowBytes();
    if (!header_) return IM_OK;
    const int rc = header_(user_, &h, table, &grey);
    return rc < 0 ? rc : IM_OK;
  }

  int Row(uint8_t* row, int32_t index, size_t bytes) override {
    // The codecs deliver every row once, in order; anything else is a fault of ours and
    // must not reach the caller as a row it did not expect.
    if (!headerDone_ || index != rows_ || index >= height_ || bytes != rowBytes_)
      return IM_ERR_CORRUPT;
    ++rows_;
    if (invert_)
      for (size_t i = 0; i < bytes; ++i) row[i] = static_cast<uint8_t>(~row[i]);
    const int rc = lines_(user_, row, index, static_cast<int>(bytes));
    return rc < 0 ? rc : IM_OK;
  }

  bool Complete() const { return headerDone_ && rows_ == height_; }

 private:
  IM_LINESCALLBACK lines_;
  IM_HEADERCALLBACK header_;
  void* user_;
  bool headerDone_ = false;
  bool invert_ = false;
  int32_t rows_ = 0;
  int32_t height_ = 0;
  size_t rowBytes_ = 0;
};

struct PushState {
  std::unique_ptr<ImageWriter> writer;
  ImageDesc desc;
  int32_t rows = 0;
  bool ended = false;
  int error = IM_OK;
};

std::string Bounded(const char* text) {
  if (!text) return {};
  return std::string(text, strnlen(text, 4096));
}

}  // namespace

WriteSettings TakeWriteSettings() {
  std::lock_guard<std::mutex> lock(g_settingsMutex);
  WriteSettings s = g_settings;
  g_settings = WriteSettings{};
  return s;
}

std::unique_ptr<ImageWriter> MakeWriter(uint32_t format, const WriteSettings& s, int* error) {
  KeepFreedMemory();
  const uint32_t container = format & 0xFFFF;
  const uint32_t compression = format >> 16;
  *error = IM_OK;
  switch (container) {
    case 1:
      if (compression <= 4) return MakeTiffWriter(compression, s);
      break;
    case 2:
      if (compression == 0 || compression == 4) return MakeJpegWriter(s);
      break;
    case 3:
      if (compression == 0) return MakePngWriter(s);
      break;
    case 4:
      if (compression == 3 || compression == 4) return MakePdfWriter(compression, s);
      break;
    case 5:
      if (compression == 0) return MakeJp2Writer(s);
      break;
    case 6:
      if (compression == 0) return MakeBmpWriter(s);
      break;
    default:
      break;
  }
  *error = IM_ERR_PARAM;
  return nullptr;
}

}  // namespace mill

using mill::ImageDesc;

extern "C" {

IM_EXPORT int IM_Init(void) {
  mill::KeepFreedMemory();
  return IM_OK;
}

IM_EXPORT int IM_DetectFormat(int fd) {
  if (fd < 0) return 0;
  switch (mill::Detect(fd)) {
    case mill::FileType::Tiff: return 1;
    case mill::FileType::Jpeg: return 2;
    case mill::FileType::Png: return 3;
    case mill::FileType::Pdf: return 4;
    case mill::FileType::Jp2: return 5;
    case mill::FileType::Bmp: return 6;
    case mill::FileType::Unknown: break;
  }
  return 0;
}

IM_EXPORT int IM_ReadByCallback(int fd, IM_LINESCALLBACK lines, IM_HEADERCALLBACK header,
                                void* user) {
  if (fd < 0 || !lines) return IM_ERR_PARAM;
  mill::KeepFreedMemory();
  try {
    mill::CallbackSink sink(lines, header, user);
    int rc = IM_ERR_FORMAT;
    switch (mill::Detect(fd)) {
      case mill::FileType::Tiff: rc = mill::ReadTiff(fd, sink); break;
      case mill::FileType::Jpeg: rc = mill::ReadJpeg(fd, sink); break;
      case mill::FileType::Png: rc = mill::ReadPng(fd, sink); break;
      case mill::FileType::Jp2: rc = mill::ReadJp2(fd, sink); break;
      case mill::FileType::Pdf: rc = mill::ReadPdf(fd, sink); break;
      case mill::FileType::Bmp: rc = mill::ReadBmp(fd, sink); break;
      case mill::FileType::Unknown: return IM_ERR_FORMAT;
    }
    if (rc == IM_OK && !sink.Complete()) rc = IM_ERR_CORRUPT;
    return rc;
  } catch (const std::bad_alloc&) {
    return IM_ERR_MEMORY;
  } catch (...) {
    return IM_ERR_CORRUPT;
  }
}

IM_EXPORT int IM_WriteByCallback(int fd, uint32_t format, IM_LINESCALLBACK lines,
                                 IM_HEADERCALLBACK header, void* user) {
  mill::WriteSettings settings = mill::TakeWriteSettings();
  if (fd < 0 || !lines || !header) return IM_ERR_PARAM;
  try {
    IM_BITMAPINFOHEADER h{};
    IM_RGBQUAD table[256] = {};
    int grey = 0;
    if (int rc = header(user, &h, table, &grey); rc < 0) return rc;
    ImageDesc d;
    d.width = h.biWidth;
    d.height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    d.bitsPerPixel = h.biBitCount;
    d.xPelsPerMeter = h.biXPelsPerMeter;
    d.yPelsPerMeter = h.biYPelsPerMeter;
    d.grey = grey != 0 && d.bitsPerPixel == 8;
    if (d.bitsPerPixel == 1 || d.bitsPerPixel == 4 || (d.bitsPerPixel == 8 && !d.grey))
      d.colors.assign(table, table + (1 << d.bitsPerPixel));
    else if (d.bitsPerPixel == 8)
      d.colors = mill::GreyTable(256);
    if (int rc = mill::CheckDesc(d); rc != IM_OK) return rc;

    int err = IM_OK;
    const bool open = (format & IM_OPEN_LENGTH) != 0;
    format &= ~IM_OPEN_LENGTH;
    auto writer = open ? mill::MakeOpenLengthWriter(format, settings, &err)
                       : mill::MakeWriter(format, settings, &err);
    if (!writer) return err;
    if (int rc = writer->Begin(fd, d); rc != IM_OK) {
      writer->Finish(false);
      return rc;
    }
    // Rows are asked in the header's layout whatever the format: packed at 1 and 4 bits.
    const size_t rowBytes = d.RowBytes();
    std::vector<uint8_t> ask(rowBytes);
    for (int32_t y = 0; y < d.height; ++y) {
      std::fill(ask.begin(), ask.end(), 0);
      if (lines(user, ask.data(), y, static_cast<int>(rowBytes)) < 0) {
        // A writer that finishes the rows it has (open length) may still fail doing so.
        const int rc = writer->Finish(false);
        return open && rc != IM_OK && rc != IM_STOPPED ? rc : IM_STOPPED;
      }
      const uint8_t* row = ask.data();
      if (int rc = writer->Row(row); rc != IM_OK) {
        writer->Finish(false);
        return rc;
      }
    }
    return writer->Finish(true);
  } catch (const std::bad_alloc&) {
    return IM_ERR_MEMORY;
  } catch (...) {
    return IM_ERR_IO;
  }
}

IM_EXPORT int IM_WriteStart(int fd, IM_WRITECONTEXT* ctx) {
  mill::WriteSettings settings = mill::TakeWriteSettings();
  if (!ctx) return IM_ERR_PARAM;
  ctx->state = nullptr;
  ctx->dataOffset = 0;
  if (fd < 0) return IM_ERR_PARAM;
  try {
    auto st = std::make_unique<mill::PushState>();
    ImageDesc& d = st->desc;
    d.width = ctx->header.biWidth;
    d.height = ctx->header.biHeight < 0 ? -ctx->header.biHeight : ctx->header.biHeight;
    d.bitsPerPixel = ctx->header.biBitCount;
    d.xPelsPerMeter = ctx->header.biXPelsPerMeter;
    d.yPelsPerMeter = ctx->header.biYPelsPerMeter;
    d.grey = ctx->grey != 0 && d.bitsPerPixel == 8;
    if (d.bitsPerPixel == 1) {
      d.colors.assign(ctx->colors, ctx->colors + 2);
    } else if (d.bitsPerPixel == 4 || (d.bitsPerPixel == 8 && !d.grey)) {
      d.colors.assign(ctx->colors, ctx->colors + (1 << d.bitsPerPixel));
    } else if (d.bitsPerPixel == 8) {
      d.colors = mill::GreyTable(256);
    }
    if (int rc = mill::CheckDesc(d); rc != IM_OK) return rc;
    int err = IM_OK;
    const uint32_t format = ctx->format == 0 ? 1u : ctx->format;
    st->writer = mill::MakeWriter(format, settings, &err);
    if (!st->writer) return err;
    if (int rc = st->writer->Begin(fd, d); rc != IM_OK) {
      st->writer->Finish(false);
      return rc;
    }
    ctx->dataOffset = st->writer->DataOffset();
    ctx->state = st.release();
    return IM_OK;
  } catch (const std::bad_alloc&) {
    return IM_ERR_MEMORY;
  } catch (...) {
    return IM_ERR_IO;
  }
}

IM_EXPORT int IM_WriteNext(IM_WRITECONTEXT* ctx, const uint8_t* line, int flag) {
  if (!ctx || !ctx->state) return IM_ERR_PARAM;
  auto* st = static_cast<mill::PushState*>(ctx->state);
  if (flag == IM_STOPPED || !line) {
    st->ended = true;
    return IM_OK;
  }
  if (st->ended || st->error != IM_OK) return st->error != IM_OK ? st->error : IM_ERR_PARAM;
  if (st->rows >= st->desc.height) return IM_ERR_PARAM;
  try {
    const int rc = st->writer->Row(line);
    if (rc != IM_OK) st->error = rc;
    else ++st->rows;
    return rc;
  } catch (...) {
    st->error = IM_ERR_IO;
    return IM_ERR_IO;
  }
}

IM_EXPORT int IM_WriteRows(IM_WRITECONTEXT* ctx, const uint8_t* rows, int32_t count, int32_t rowBytes) {
  if (!ctx || !ctx->state || !rows || count < 0) return IM_ERR_PARAM;
  auto* st = static_cast<mill::PushState*>(ctx->state);
  if (st->ended || st->error != IM_OK) return st->error != IM_OK ? st->error : IM_ERR_PARAM;
  if (rowBytes < 0 || static_cast<size_t>(rowBytes) != st->desc.RowBytes()) return IM_ERR_PARAM;
  // As row by row: the rows that fit the height are written, the first beyond it refused.
  const int32_t fit = std::min(count, st->desc.height - st->rows);
  try {
    if (fit > 0) {
      const int rc = st->writer->Rows(rows, static_cast<uint32_t>(fit), static_cast<size_t>(rowBytes));
      if (rc != IM_OK) {
        st->error = rc;
        return rc;
      }
      st->rows += fit;
    }
    return fit < count ? IM_ERR_PARAM : IM_OK;
  } catch (...) {
    st->error = IM_ERR_IO;
    return IM_ERR_IO;
  }
}

IM_EXPORT int IM_WriteEnd(IM_WRITECONTEXT* ctx) {
  if (!ctx || !ctx->state) return IM_ERR_PARAM;
  std::unique_ptr<mill::PushState> st(static_cast<mill::PushState*>(ctx->state));
  ctx->state = nullptr;
  try {
    const bool complete = st->rows == st->desc.height && st->error == IM_OK;
    const int rc = st->writer->Finish(complete);
    if (st->error != IM_OK) return st->error;
    return complete ? rc : (rc == IM_OK ? IM_STOPPED : rc);
  } catch (...) {
    return IM_ERR_IO;
  }
}

IM_EXPORT int IM_JpegSetQuality(int quality) {
  if (quality < 1 || quality > 100) return IM_ERR_PARAM;
  std::lock_guard<std::mutex> lock(mill::g_settingsMutex);
  mill::g_settings.jpegQuality = quality;
  return IM_OK;
}

IM_EXPORT int IM_Jp2SetQuality(int quality) {
  if (quality < 1 || quality > 1000) return IM_ERR_PARAM;
  std::lock_guard<std::mutex> lock(mill::g_settingsMutex);
  mill::g_settings.jp2Quality = quality;
  return IM_OK;
}

IM_EXPORT int IM_TiffJPEGSetQuality(int quality) {
  if (quality < 1 || quality > 100) return IM_ERR_PARAM;
  std::lock_guard<std::mutex> lock(mill::g_settingsMutex);
  mill::g_settings.tiffJpegQuality = quality;
  return IM_OK;
}

IM_EXPORT int IM_TiffSetICCProfile(const char* path) {
  std::lock_guard<std::mutex> lock(mill::g_settingsMutex);
  mill::g_settings.iccProfilePath = mill::Bounded(path);
  return IM_OK;
}

IM_EXPORT int IM_TiffSetCopyright(const char* text) {
  std::lock_guard<std::mutex> lock(mill::g_settingsMutex);
  mill::g_settings.copyright = mill::Bounded(text);
  return IM_OK;
}

IM_EXPORT int IM_TiffSetArtist(const char* text) {
  std::lock_guard<std::mutex> lock(mill::g_settingsMutex);
  mill::g_settings.artist = mill::Bounded(text);
  return IM_OK;
}

}  // extern "C"
