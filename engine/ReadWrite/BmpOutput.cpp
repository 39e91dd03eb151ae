#include "engine/ReadWrite/BmpOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "engine/ImageState.h"
#include "engine/ReadWrite/LineWriter.h"
#include "engine/ReadWrite/StreamFiles.h"
#include "platform/Bytes.h"

namespace {

constexpr uint8_t kBilevelWhiteAbove = 0xAF;
constexpr size_t kChunkBytes = 1 << 20;

struct Layout {
  int bitsPerPixel = 0;
  uint32_t tableEntries = 0;
  size_t inLineBytes = 0;  // bytes of one staged line
};

bool LayoutFor(const ImageState& image, Layout* out) {
  const size_t w = static_cast<size_t>(image.width);
  switch (image.kind) {
    case IK_RGB:
      *out = {24, 0, 3 * w};
      return true;
    case IK_PALETTE256:
      *out = {8, 256, 3 * w};
      return true;
    case IK_PALETTE16:
      *out = {4, 16, 3 * w};
      return true;
    case IK_GREY:
    case IK_GREY_FROM_GREEN:
      *out = {8, 256, w};
      return true;
    case IK_BW:
    case IK_BW_FROM_GREEN:
    case IK_BW_SAVED_AS_4:
      *out = {1, 2, w};
      return true;
    case IK_BW_SEPARATES:
    case IK_CMYK32:
    case IK_PALETTE16BIT:
      break;
  }
  return false;
}

// Nearest palette colour of an R, G, B pixel, remembered per colour in a small table
// (scanned palette images hold few distinct colours).
class NearestColour {
 public:
  NearestColour(const ImageState& image, int entries) : count_(entries) {
    for (int i = 0; i < entries; ++i) {
      r_[i] = static_cast<uint8_t>(image.palette[i].red & 0xFF);
      g_[i] = static_cast<uint8_t>(image.palette[i].green & 0xFF);
      b_[i] = static_cast<uint8_t>(image.palette[i].blue & 0xFF);
    }
    keys_.assign(kSlots, kEmpty);
    values_.assign(kSlots, 0);
  }

  uint8_t operator()(uint8_t r, uint8_t g, uint8_t b) {
    uint32_t key = (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) | b;
    uint32_t slot = (key * 2654435761u) >> (32 - kSlotBits);
    if (keys_[slot] == key) return values_[slot];
    int best = 0;
    int bestDist = std::numeric_limits<int>::max();
    for (int i = 0; i < count_; ++i) {
      int dr = r - r_[i], dg = g - g_[i], db = b - b_[i];
      int d = dr * dr + dg * dg + db * db;
      if (d < bestDist) {
        bestDist = d;
        best = i;
        if (d == 0) break;
      }
    }
    keys_[slot] = key;
    values_[slot] = static_cast<uint8_t>(best);
    return static_cast<uint8_t>(best);
  }

 private:
  static constexpr int kSlotBits = 14;
  static constexpr uint32_t kSlots = 1u << kSlotBits;
  static constexpr uint32_t kEmpty = 0xFFFFFFFFu;
  int count_;
  uint8_t r_[256] = {}, g_[256] = {}, b_[256] = {};
  std::vector<uint32_t> keys_;
  std::vector<uint8_t> values_;
};

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

struct FdCloser {
  int fd = -1;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

int SaveScanAsBmp(const ImageState& image, const std::string& stagingPath, std::string* error) {
  Layout layout;
  if (!LayoutFor(image, &layout) || image.width <= 0) {
    SetError(error, "BMP output does not hold this kind of image");
    return kBmpUnsupported;
  }

  FdCloser in;
  in.fd = ::open(stagingPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (in.fd < 0) {
    SetError(error, "cannot open the scan's staging file: " + orb::rw::ErrnoText(errno));
    return kBmpNoStagingFile;
  }
  int64_t stagedBytes = orb::rw::FileSize(in.fd);
  if (stagedBytes < 0) {
    SetError(error, "cannot read the scan's staging file: " + orb::rw::ErrnoText(errno));
    return kBmpNoStagingFile;
  }
  // Only whole lines count; an RGB image never takes more lines than its height.
  uint64_t lines = static_cast<uint64_t>(stagedBytes) / layout.inLineBytes;
  if (image.kind == IK_RGB && image.height > 0 && lines > static_cast<uint64_t>(image.height)) {
    lines = static_cast<uint64_t>(image.height);
  }

  const uint64_t rowBytes =
      ((static_cast<uint64_t>(layout.bitsPerPixel) * static_cast<uint64_t>(image.width) + 31) /
       32) * 4;
  const uint32_t dataOffset = 54 + 4 * layout.tableEntries;
  const uint64_t fileSize = dataOffset + rowBytes * lines;
  if (fileSize > std::numeric_limits<uint32_t>::max() ||
      lines > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
    SetError(error, "the image is too large for a BMP file");
    return kBmpUnsupported;
  }

  // Headers and colour table.
  std::vector<uint8_t> head(dataOffset, 0);
  head[0] = 'B';
  head[1] = 'M';
  orb::PutU32LE(&head[2], static_cast<uint32_t>(fileSize));
  orb::PutU32LE(&head[10], dataOffset);
  uint8_t* info = &head[14];
  orb::PutU32LE(info + 0, 40);
  orb::PutI32LE(info + 4, image.width);
  orb::PutI32LE(info + 8, static_cast<int32_t>(lines));
  orb::PutU16LE(info + 12, 1);
  orb::PutU16LE(info + 14, static_cast<uint16_t>(layout.bitsPerPixel));
  orb::PutU32LE(info + 16, 0);
  orb::PutU32LE(info + 20, 0);
  orb::PutI32LE(info + 24, orb::PixelsPerMetre(image.xDpi));
  orb::PutI32LE(info + 28, orb::PixelsPerMetre(image.yDpi));
  uint8_t* table = &head[54];
  for (uint32_t i = 0; i < layout.tableEntries; ++i) {
    uint8_t* e = table + 4 * i;
    if (layout.bitsPerPixel == 1) {
      e[0] = e[1] = e[2] = (i == 0) ? 0 : 255;
    } else if (image.kind == IK_PALETTE256 || image.kind == IK_PALETTE16) {
      e[0] = static_cast<uint8_t>(image.palette[i].blue & 0xFF);
      e[1] = static_cast<uint8_t>(image.palette[i].green & 0xFF);
      e[2] = static_cast<uint8_t>(image.palette[i].red & 0xFF);
    } else {
      e[0] = e[1] = e[2] = static_cast<uint8_t>(i);
    }
  }

  std::string tempPath;
  FdCloser out;
  out.fd = orb::rw::CreateBeside(image.sourcePath, &tempPath);
  if (out.fd < 0) {
    SetError(error, "cannot create " + image.sourcePath + ": " + orb::rw::ErrnoText(errno));
    return kBmpWriteFailed;
  }
  auto fail = [&](const std::string& what) {
    int err = errno;
    ::close(out.fd);
    out.fd = -1;
    ::unlink(tempPath.c_str());
    SetError(error, what + ": " + orb::rw::ErrnoText(err));
    return kBmpWriteFailed;
  };
  if (!orb::rw::WriteAll(out.fd, head.data(), head.size())) return fail("cannot write the BMP");

  // Rows bottom first: the staged lines are read backwards in chunks of whole lines.
  std::unique_ptr<NearestColour> nearest;
  if (image.kind == IK_PALETTE256 || image.kind == IK_PALETTE16) {
    nearest = std::make_unique<NearestColour>(image, static_cast<int>(layout.tableEntries));
  }
  const size_t inLine = layout.inLineBytes;
  const uint64_t chunkLines = std::max<uint64_t>(1, kChunkBytes / inLine);
  std::vector<uint8_t> inChunk(static_cast<size_t>(chunkLines * inLine));
  std::vector<uint8_t> outChunk(static_cast<size_t>(chunkLines * rowBytes), 0);
  const size_t w = static_cast<size_t>(image.width);
  uint64_t end = lines;
  while (end > 0) {
    uint64_t start = end > chunkLines ? end - chunkLines : 0;
    size_t n = static_cast<size_t>(end - start);
    int64_t got = orb::rw::ReadAt(in.fd, inChunk.data(), n * inLine, start * inLine);
    if (got < 0) return fail("cannot read the scan's staging file");
    if (static_cast<size_t>(got) < n * inLine) {
      // The staging file shrank under us: what is missing comes out white.
      std::memset(inChunk.data() + got, 255, n * inLine - static_cast<size_t>(got));
    }
    for (size_t k = 0; k < n; ++k) {
      const uint8_t* src = inChunk.data() + (n - 1 - k) * inLine;
      uint8_t* dst = outChunk.data() + k * rowBytes;
      std::memset(dst, 0, static_cast<size_t>(rowBytes));
      switch (layout.bitsPerPixel) {
        case 24:
          for (size_t x = 0; x < w; ++x) {
            dst[3 * x] = src[3 * x + 2];
            dst[3 * x + 1] = src[3 * x + 1];
            dst[3 * x + 2] = src[3 * x];
          }
          break;
        case 8:
          if (nearest) {
            for (size_t x = 0; x < w; ++x) {
              dst[x] = (*nearest)(src[3 * x], src[3 * x + 1], src[3 * x + 2]);
            }
          } else {
            std::memcpy(dst, src, w);
          }
          break;
        case 4:
          for (size_t x = 0; x < w; ++x) {
            uint8_t idx = (*nearest)(src[3 * x], src[3 * x + 1], src[3 * x + 2]);
            dst[x / 2] |= (x & 1) ? idx : static_cast<uint8_t>(idx << 4);
          }
          break;
        case 1:
          for (size_t x = 0; x < w; ++x) {
            if (src[x] > kBilevelWhiteAbove) dst[x / 8] |= static_cast<uint8_t>(0x80u >> (x & 7));
          }
          break;
      }
    }
    if (!orb::rw::WriteAll(out.fd, outChunk.data(), static_cast<size_t>(n * rowBytes))) {
      return fail("cannot write the BMP");
    }
    end = start;
  }

  if (::close(out.fd) != 0) {
    out.fd = -1;
    int err = errno;
    ::unlink(tempPath.c_str());
    SetError(error, "cannot write the BMP: " + orb::rw::ErrnoText(err));
    return kBmpWriteFailed;
  }
  out.fd = -1;
  if (!orb::rw::CommitBeside(tempPath, image.sourcePath)) {
    SetError(error, "cannot replace " + image.sourcePath + ": " + orb::rw::ErrnoText(errno));
    return kBmpWriteFailed;
  }
  return kBmpOk;
}

namespace orb {

std::string CreateScanStagingFile(const std::string& folder) {
  return rw::CreateUniqueFile(folder, ".raw");
}

}  // namespace orb
