// Writes of an open length: the header gives the most rows the image may have, and the
// image ends wherever its rows stop (a scan that runs to the end of the paper, or that is
// stopped). Every format but plain TIFF carries its height before its first row (JPEG in
// its frame header, PNG in IHDR, JPEG 2000 in its size marker and tile grid, PDF in the
// image dictionary, BMP in the row placement, compressed TIFF in its strip table), so the
// rows are kept in an unlinked temporary file, strip by strip, and the file is encoded once
// their number is known: always a complete image of exactly the rows that came.
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/imagemill/MillInternal.h"

namespace mill {
namespace {

// About 1 MB of rows travel between the caller, the temporary file and the encoder.
constexpr size_t kChunkBytes = size_t{1} << 20;

class OpenLengthWriter : public ImageWriter {
 public:
  OpenLengthWriter(uint32_t format, WriteSettings s) : format_(format), s_(std::move(s)) {}

  int Begin(int fd, const ImageDesc& d) override {
    fd_ = fd;
    d_ = d;
    if (!temp_.ok()) return IM_ERR_IO;
    // Whatever the format refuses (a kind it cannot hold, a size past its limits at one
    // row), it refuses now, before any row is taken.
    ImageDesc probe = d;
    probe.height = 1;
    {
      TempFile scratch;
      if (!scratch.ok()) return IM_ERR_IO;
      int err = IM_OK;
      auto w = MakeWriter(format_, s_, &err);
      if (!w) return err;
      const int rc = w->Begin(scratch.fd(), probe);
      if (rc != IM_OK) return rc;
    }
    rowBytes_ = d.RowBytes();
    rowsPerChunk_ = std::max<size_t>(1, kChunkBytes / rowBytes_);
    chunk_.reserve(rowsPerChunk_ * rowBytes_);
    return IM_OK;
  }

  int Row(const uint8_t* row) override {
    if (rows_ >= d_.height) return IM_ERR_PARAM;
    chunk_.insert(chunk_.end(), row, row + rowBytes_);
    ++rows_;
    if (chunk_.size() >= rowsPerChunk_ * rowBytes_) return FlushChunk();
    return IM_OK;
  }

  // Complete or not, the file is the rows written. With no row there is no image: the
  // output stays empty and the stop is the answer.
  int Finish(bool) override {
    if (int rc = FlushChunk(); rc != IM_OK) return rc;
    if (rows_ == 0) return IM_STOPPED;
    ImageDesc real = d_;
    real.height = rows_;
    int err = IM_OK;
    auto w = MakeWriter(format_, s_, &err);
    if (!w) return err;
    if (int rc = w->Begin(fd_, real); rc != IM_OK) {
      w->Finish(false);
      return rc;
    }
    std::vector<uint8_t> buf(rowsPerChunk_ * rowBytes_);
    for (int32_t done = 0; done < rows_;) {
      const int32_t n = static_cast<int32_t>(std::min<size_t>(rowsPerChunk_, static_cast<size_t>(rows_ - done)));
      const uint64_t at = static_cast<uint64_t>(done) * rowBytes_;
      if (!ReadAt(temp_.fd(), at, buf.data(), static_cast<size_t>(n) * rowBytes_)) {
        w->Finish(false);
        return IM_ERR_IO;
      }
      for (int32_t i = 0; i < n; ++i) {
        if (int rc = w->Row(buf.data() + static_cast<size_t>(i) * rowBytes_); rc != IM_OK) {
          w->Finish(false);
          return rc;
        }
      }
      done += n;
    }
    return w->Finish(true);
  }

 private:
  int FlushChunk() {
    if (chunk_.empty()) return IM_OK;
    const bool ok = WriteAt(temp_.fd(), written_, chunk_.data(), chunk_.size());
    written_ += chunk_.size();
    chunk_.clear();
    return ok ? IM_OK : IM_ERR_IO;
  }

  uint32_t format_;
  WriteSettings s_;
  int fd_ = -1;
  ImageDesc d_;
  TempFile temp_;
  size_t rowBytes_ = 0;
  size_t rowsPerChunk_ = 1;
  std::vector<uint8_t> chunk_;
  uint64_t written_ = 0;
  int32_t rows_ = 0;
};

}  // namespace

std::unique_ptr<ImageWriter> MakeOpenLengthWriter(uint32_t format, const WriteSettings& s, int* error) {
  // The format code must be one the library writes.
  auto check = MakeWriter(format, s, error);
  if (!check) return nullptr;
  return std::make_unique<OpenLengthWriter>(format, s);
}

}  // namespace mill
