#include "tools/join/JoinRotate.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "engine/EngineHost.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/LineWriter.h"
#include "platform/Files.h"

namespace orb::join {
namespace {

constexpr double kRadiansPerDegree = 0.017453292519444445;

struct Turn {
  double c = 1;
  double s = 0;
  int32_t width = 0;   // result
  int32_t height = 0;
  int32_t x0 = 0;      // result column 0 in turned coordinates
  int32_t y0 = 0;
};

Turn MakeTurn(int32_t w, int32_t h, double angle, uint8_t direction) {
  const double theta = (direction ? angle : -angle) * kRadiansPerDegree;
  Turn t;
  t.c = std::cos(theta);
  t.s = std::sin(theta);
  const double xs[4] = {0, w * t.c, -h * t.s, w * t.c - h * t.s};
  const double ys[4] = {0, w * t.s, h * t.c, w * t.s + h * t.c};
  const double minX = *std::min_element(xs, xs + 4);
  const double maxX = *std::max_element(xs, xs + 4);
  const double minY = *std::min_element(ys, ys + 4);
  const double maxY = *std::max_element(ys, ys + 4);
  t.width = (static_cast<int32_t>(std::ceil(maxX - minX)) + 7) / 8 * 8;
  t.height = static_cast<int32_t>(std::ceil(maxY - minY));
  t.x0 = static_cast<int32_t>(minX);
  t.y0 = static_cast<int32_t>(minY);
  return t;
}

// Source lines by number, each read once while the rows they serve move on: a ring
// indexed by line number modulo its size.
class LineWindow {
 public:
  LineWindow(LineReader* reader, size_t lineBytes, int32_t lines)
      : reader_(reader), bytes_(lineBytes), rows_(static_cast<size_t>(lines), -1),
        data_(lineBytes * static_cast<size_t>(lines)) {}
  const uint8_t* Line(int32_t row) {
    const size_t slot = static_cast<size_t>(row) % rows_.size();
    uint8_t* p = data_.data() + slot * bytes_;
    if (rows_[slot] != row) {
      if (ReadLines(reader_, p, kReadByNumber, row) != 1) return nullptr;
      rows_[slot] = row;
    }
    return p;
  }

 private:
  LineReader* reader_;
  size_t bytes_;
  std::vector<int32_t> rows_;
  std::vector<uint8_t> data_;
};

class TurnRun {
 public:
  TurnRun(ImageState* source, const Turn& t) : src_(source), t_(t) {}
  ~TurnRun() { Close(); }
  ImageState* Run(Point* tracked, size_t trackedCount);

 private:
  bool Open();
  bool Rows();
  void Close();

  ImageState* src_;
  Turn t_;
  ImageState* out_ = nullptr;
  std::unique_ptr<LineReader> reader_;
  std::unique_ptr<LineWriter> writer_;
  bool readerOpen_ = false;
  bool writerOpen_ = false;
  bool ok_ = false;
};

bool TurnRun::Open() {
  std::string path;
  if (!MakeTempTiffName(TempFilesFolder(), path)) return false;
  out_ = PushImageState(src_);
  if (!out_) return false;
  ImageState& n = *out_;
  SetRawImageFile(out_, path);
  n.sourceForm = SF_RAW_FILE;
  n.width = t_.width;
  n.height = t_.height;
  n.kind = IK_RGB;
  n.bitsPerSample = 8;
  n.samplesPerPixel = 3;
  n.bitsPerPixel = 24;
  n.storedLineWidth = 3 * t_.width;
  n.outputFormat = OF_RAW_RGB_LE;
  n.rowOrder = 0;
  n.region = PixelRect{0, 0, t_.width - 1, t_.height - 1};
  n.bitmaps = {};
  n.operationCode = 6;
  n.fileHandle = OpenSharedFile(path, O_RDWR | O_CREAT | O_TRUNC);
  if (n.fileHandle < 0) return false;
  reader_ = std::make_unique<LineReader>(src_);
  if (OpenReadStream(reader_.get(), kReadByNumber) != kReadOpenOk) return false;
  readerOpen_ = true;
  writer_ = std::make_unique<LineWriter>(out_);
  if (StartImageOutput(writer_.get()) != 0 || OpenWriteStream(writer_.get()) != 0) return false;
  writerOpen_ = true;
  return true;
}

bool TurnRun::Rows() {
  const int32_t W = src_->width;
  const int32_t H = src_->height;
  // Each result row reaches the source rows between its two ends' rows: a window of
  // that many lines (and a few for the truncations) serves every row.
  const int32_t span = static_cast<int32_t>(std::ceil(std::fabs(t_.width * t_.s))) + 4;
  const int32_t windowLines = std::min(H, span);
  std::vector<uint8_t> out(static_cast<size_t>(t_.width) * 3);
  const size_t lineBytes = static_cast<size_t>(W) * 3;
  LineWindow window(reader_.get(), lineBytes, windowLines);
  for (int32_t y = 0; y < t_.height; ++y) {
    if ((y & 15) == 0) PumpMessages();
    if (IsCancelled()) return false;
    std::fill(out.begin(), out.end(), uint8_t{255});
    const double yy = t_.y0 + t_.height - 1 - y;
    double sxf = t_.x0 * t_.c + yy * t_.s;
    double syf = yy * t_.c - t_.x0 * t_.s;
    for (int32_t x = 0; x < t_.width; ++x, sxf += t_.c, syf -= t_.s) {
      const auto sx = static_cast<int32_t>(sxf);
      const auto sy = static_cast<int32_t>(syf);
      if (sx < 0 || sx >= W || sy < 0 || sy >= H) continue;
      const uint8_t* line = window.Line(H - 1 - sy);
      if (!line) return false;
      std::copy_n(line + static_cast<size_t>(sx) * 3, 3, out.data() + static_cast<size_t>(x) * 3);
    }
    if (WriteLines(writer_.get(), out.data(), static_cast<int64_t>(out.size())) != 0) return false;
  }
  return true;
}

void TurnRun::Close() {
  if (writerOpen_) {
    if (CloseWriteStream(writer_.get()) != 0) ok_ = false;
    writerOpen_ = false;
  }
  if (readerOpen_) {
    CloseReadStream(reader_.get());
    readerOpen_ = false;
  }
  if (out_ && out_->fileHandle >= 0) {
    ::close(out_->fileHandle);
    out_->fileHandle = kNoFile;
  }
  if (out_ && !ok_) FreeImageState(out_);  // its raw image file goes with it
  out_ = nullptr;
}

ImageState* TurnRun::Run(Point* tracked, size_t trackedCount) {
  const PixelRect savedRegion = src_->region;
  src_->region = PixelRect{0, 0, src_->width - 1, src_->height - 1};
  try {
    ok_ = Open() && Rows();
  } catch (const std::bad_alloc&) {
    ok_ = false;
  }
  ImageState* result = out_;
  // Close() frees the result on failure; keep it on success.
  if (writerOpen_ && CloseWriteStream(writer_.get()) != 0) ok_ = false;
  writerOpen_ = false;
  if (!ok_) result = nullptr;
  Close();
  src_->region = savedRegion;
  if (!result) return nullptr;
  const int32_t H = src_->height;
  for (size_t i = 0; i < trackedCount; ++i) {
    // The result row and column whose sample falls nearest the centre of the point's pixel.
    const double sx = tracked[i].x + 0.5;
    const double sy = (H - 1 - tracked[i].y) + 0.5;
    const double xx = sx * t_.c - sy * t_.s;
    const double yy = sx * t_.s + sy * t_.c;
    tracked[i] = Point{static_cast<int32_t>(std::lround(xx)) - t_.x0,
                       t_.y0 + t_.height - 1 - static_cast<int32_t>(std::lround(yy))};
  }
  return result;
}

}  // namespace

TurnedSize TurnedSizeOf(int32_t width, int32_t height, double angle) {
  const Turn t = MakeTurn(width, height, angle, 1);
  return TurnedSize{t.width, t.height};
}

ImageState* RotateRgbRecord(ImageState* source, double angle, uint8_t direction, Point* tracked,
                            size_t trackedCount) {
  if (!source || source->kind != IK_RGB || source->width <= 0 || source->height <= 0) return nullptr;
  TurnRun run(source, MakeTurn(source->width, source->height, angle, direction));
  return run.Run(tracked, trackedCount);
}

}  // namespace orb::join
