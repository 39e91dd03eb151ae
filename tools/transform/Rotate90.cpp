#include "tools/transform/Rotate90.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "engine/EngineHost.h"
#include "tools/ToolTable.h"

namespace orb::tools {
namespace {

constexpr int kCaptionTurn = 33040;
size_t g_stripBudget = size_t{16} << 20;

// D[r][c] from S, in blocks so that both sides stay in the cache.
template <int S>
void TurnTileT(const uint8_t* src, size_t ss, uint8_t* dst, size_t ds, int32_t n, int dir) {
  constexpr int32_t kBlock = 32;
  for (int32_t r0 = 0; r0 < n; r0 += kBlock) {
    const int32_t r1 = std::min(n, r0 + kBlock);
    for (int32_t c0 = 0; c0 < n; c0 += kBlock) {
      const int32_t c1 = std::min(n, c0 + kBlock);
      for (int32_t r = r0; r < r1; ++r) {
        uint8_t* d = dst + static_cast<size_t>(r) * ds + static_cast<size_t>(c0) * S;
        for (int32_t c = c0; c < c1; ++c, d += S) {
          int32_t sr, sc;
          if (dir == kTurnLeft) {
            sr = c;
            sc = n - 1 - r;
          } else if (dir == kTurnRight) {
            sr = n - 1 - c;
            sc = r;
          } else {
            sr = n - 1 - r;
            sc = n - 1 - c;
          }
          const uint8_t* p = src + static_cast<size_t>(sr) * ss + static_cast<size_t>(sc) * S;
          for (int b = 0; b < S; ++b) d[b] = p[b];
        }
      }
    }
  }
}

int32_t CeilDiv(int32_t a, int32_t b) { return (a + b - 1) / b; }

bool WriteAll(int fd, const uint8_t* p, size_t n, off_t at) {
  while (n > 0) {
    const ssize_t w = ::pwrite(fd, p, n, at);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
    at += w;
  }
  return true;
}

bool ReadAll(int fd, uint8_t* p, size_t n, off_t at) {
  while (n > 0) {
    const ssize_t r = ::pread(fd, p, n, at);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
    at += r;
  }
  return true;
}

// The tile file: a unique name in the working folder, gone from the folder at once, so
// that nothing is left behind whatever ends the run.
class TileFile {
 public:
  ~TileFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Create(const std::string& folder) {
    std::string name = folder + "/QelRotate.XXXXXX";
    fd_ = ::mkstemp(name.data());
    if (fd_ < 0) return false;
    ::unlink(name.c_str());
    return true;
  }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

class TurnRun {
 public:
  TurnRun(ImageState* source, int dir) : src_(source), out_(source), dir_(dir) {}
  ApplyOutcome Run(const ApplyProgressFactory& progress);

 private:
  ApplyResult Cut(RunProgress& progress);
  ApplyResult Assemble(RunProgress& progress);
  int64_t TileIndex(int32_t i, int32_t j) const {
    if (dir_ == kTurnRight) return static_cast<int64_t>(R_ - 1 - j) * C_ + i;
    if (dir_ == kTurnLeft) return static_cast<int64_t>(j) * C_ + (C_ - 1 - i);
    return static_cast<int64_t>(R_ - 1 - i) * C_ + (C_ - 1 - j);
  }

  ImageState* src_;
  NewVersion out_;
  int dir_;
  int32_t W_ = 0, H_ = 0, s_ = 1, C_ = 0, R_ = 0;
  size_t tileBytes_ = 0;
  uint8_t white_ = 255;
  TileFile tiles_;
};

ApplyResult TurnRun::Cut(RunProgress& progress) {
  const size_t stride = static_cast<size_t>(C_) * kTurnTile * static_cast<size_t>(s_);
  std::vector<uint8_t> band, spare, line;
  if (!TryAllocate(band, stride * kTurnTile, white_) || !TryAllocate(spare, tileBytes_) ||
      !TryAllocate(line, std::max(src_->storedLineWidth, 1)))
    return out_.FailWrite();
  SourceLines in(src_);
  if (!in.Open()) return out_.Fail(kMsgApplyReadFailed, src_->sourcePath);
  const size_t used = static_cast<size_t>(W_) * static_cast<size_t>(s_);
  for (int32_t q = 0; q < R_; ++q) {
    const int32_t rows = std::min(kTurnTile, H_ - q * kTurnTile);
    for (int32_t i = 0; i < kTurnTile; ++i) {
      uint8_t* row = band.data() + static_cast<size_t>(i) * stride;
      if (i >= rows) {
        std::memset(row, white_, stride);
        continue;
      }
      if (PumpAndCheckCancel()) return ApplyResult::Cancelled;
      if (!in.Next(line.data())) return out_.Fail(kMsgApplyReadFailed, src_->sourcePath);
      std::memcpy(row, line.data(), used);
      progress.Step();
    }
    for (int32_t k = 0; k < C_; ++k) {
      TurnTile(band.data() + static_cast<size_t>(k) * kTurnTile * static_cast<size_t>(s_), stride, spare.data(),
               static_cast<size_t>(kTurnTile) * static_cast<size_t>(s_), kTurnTile, s_, dir_);
      const auto at = static_cast<off_t>((static_cast<int64_t>(q) * C_ + k) * static_cast<int64_t>(tileBytes_));
      if (!WriteAll(tiles_.fd(), spare.data(), tileBytes_, at)) return out_.FailWrite();
    }
  }
  return ApplyResult::Applied;
}

ApplyResult TurnRun::Assemble(RunProgress& progress) {
  const bool quarter = dir_ != kTurnHalf;
  const int32_t cols = quarter ? R_ : C_;  // tile columns of the turned image
  const int32_t x0 = dir_ == kTurnLeft ? 0 : (quarter ? R_ * kTurnTile - H_ : C_ * kTurnTile - W_);
  const int32_t y0 = dir_ == kTurnRight ? 0 : (quarter ? C_ * kTurnTile - W_ : R_ * kTurnTile - H_);
  const int32_t real = quarter ? H_ : W_;  // pixels of a result line that come from the image
  const int32_t height = out_.Image()->height;
  const size_t stride = static_cast<size_t>(cols) * kTurnTile * static_cast<size_t>(s_);
  // Strip rows: a power of two up to a tile's height, within the memory allowed.
  int32_t g = kTurnTile;
  while (g > 1 && static_cast<size_t>(g) * stride > g_stripBudget) g /= 2;
  const size_t part = static_cast<size_t>(g) * kTurnTile * static_cast<size_t>(s_);
  std::vector<uint8_t> strip, piece, line;
  if (!TryAllocate(strip, stride * static_cast<size_t>(g)) || !TryAllocate(piece, part) ||
      !TryAllocate(line, out_.LineBytes(), white_))
    return out_.FailWrite();
  for (int32_t sp = (y0 / g) * g; sp < y0 + height; sp += g) {
    const int32_t i = sp / kTurnTile;
    const size_t within = static_cast<size_t>(sp % kTurnTile) * kTurnTile * static_cast<size_t>(s_);
    for (int32_t j = 0; j < cols; ++j) {
      const auto at = static_cast<off_t>(TileIndex(i, j) * static_cast<int64_t>(tileBytes_) + static_cast<int64_t>(within));
      if (!ReadAll(tiles_.fd(), piece.data(), part, at)) return out_.FailWrite();
      const size_t rowBytes = static_cast<size_t>(kTurnTile) * static_cast<size_t>(s_);
      for (int32_t r = 0; r < g; ++r) {
        std::memcpy(strip.data() + static_cast<size_t>(r) * stride + static_cast<size_t>(j) * rowBytes,
                    piece.data() + static_cast<size_t>(r) * rowBytes, rowBytes);
      }
    }
    for (int32_t r = 0; r < g; ++r) {
      const int32_t yp = sp + r;
      if (yp < y0 || yp >= y0 + height) continue;
      if (PumpAndCheckCancel()) return ApplyResult::Cancelled;
      std::memcpy(line.data(), strip.data() + static_cast<size_t>(r) * stride + static_cast<size_t>(x0) * s_,
                  static_cast<size_t>(real) * static_cast<size_t>(s_));
      const ApplyResult w = out_.Write(line.data(), 1);
      if (w != ApplyResult::Applied) return w;
      progress.Step();
    }
  }
  return ApplyResult::Applied;
}

ApplyOutcome TurnRun::Run(const ApplyProgressFactory& factory) {
  W_ = src_->width;
  H_ = src_->height;
  s_ = StreamPixelBytes(src_->kind);
  C_ = CeilDiv(W_, kTurnTile);
  R_ = CeilDiv(H_, kTurnTile);
  tileBytes_ = static_cast<size_t>(kTurnTile) * kTurnTile * static_cast<size_t>(s_);
  white_ = WhiteIndex(*src_);
  const TurnedSize size = TurnSize(W_, H_, dir_);
  VersionShape shape{GeometryResultKind(*src_, nullptr), size.width, size.height, 0};
  shape.spaceNeeded = static_cast<uint64_t>(StoredLineWidthFor(shape.kind, size.width)) *
                          static_cast<uint64_t>(size.height) +
                      static_cast<uint64_t>(C_) * static_cast<uint64_t>(R_) * tileBytes_;
  ApplyResult r = out_.Begin(shape);
  if (r == ApplyResult::Applied && shape.kind == IK_BW_SAVED_AS_4) out_.Image()->edited = 1;
  if (r == ApplyResult::Applied) r = out_.StartOutput();
  if (r == ApplyResult::Applied && !tiles_.Create(TempFilesFolder())) r = out_.FailWrite();
  RunProgress progress(factory, kCaptionTurn, H_ + size.height);
  if (r == ApplyResult::Applied) r = Cut(progress);
  if (r == ApplyResult::Applied) r = Assemble(progress);
  if (r == ApplyResult::Applied) r = out_.Keep(kOpRotate90);
  if (r != ApplyResult::Applied) return {r, src_};
  return {ApplyResult::Applied, out_.Image()};
}

}  // namespace

TurnedSize TurnSize(int32_t width, int32_t height, int direction) {
  if (direction == kTurnHalf) return {width, height};
  return {(height + 7) / 8 * 8, width};
}

PixelRect TurnRegion(const PixelRect& r, int32_t w, int32_t h, int direction) {
  switch (direction) {
    case kTurnLeft: return {r.top, w - r.right, r.bottom, w - r.left};
    case kTurnRight: return {h - r.bottom, r.left, h - r.top, r.right};
    default: return {w - r.right, h - r.bottom, w - r.left, h - r.top};
  }
}

void TurnTile(const uint8_t* src, size_t srcStride, uint8_t* dst, size_t dstStride, int32_t side, int32_t pixelBytes,
              int direction) {
  if (pixelBytes == 3) {
    TurnTileT<3>(src, srcStride, dst, dstStride, side, direction);
  } else {
    TurnTileT<1>(src, srcStride, dst, dstStride, side, direction);
  }
}

ApplyOutcome TurnImage(ImageState* working, int direction, const ApplyProgressFactory& progress) {
  if (!working || working->width <= 0 || working->height <= 0) return {ApplyResult::NoImage, working};
  if (direction < kTurnLeft || direction > kTurnHalf) direction = kTurnRight;
  CancelFlag = 0;
  TurnRun run(working, direction);
  return run.Run(progress);
}

int TurnActiveImage(int direction) {
  ImageState* image = ActiveToolImage();
  const int32_t w = image ? image->width : 0;
  const int32_t h = image ? image->height : 0;
  return ApplyTransformToActive(
      [direction](ImageState* s, const ApplyProgressFactory& p) { return TurnImage(s, direction, p); },
      [w, h, direction](const PixelRect& old) { return TurnRegion(old, w, h, direction); });
}

void SetTurnStripBudget(size_t bytes) { g_stripBudget = bytes == 0 ? (size_t{16} << 20) : bytes; }

}  // namespace orb::tools
