#include <fcntl.h>
#include <malloc.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/imagemill/MillInternal.h"

namespace mill {

// The codecs under the library (OpenJPEG above all, libjpeg and zlib too) allocate their
// working buffers afresh for every tile or strip and free them after it. glibc gives the
// freed top of a heap back to the system past 128 KB and serves blocks past its mmap
// threshold with fresh mappings, so every tile paid page faults, zero-filling and
// cross-processor TLB flushes again: a fifth of a JPEG 2000 write was spent in the kernel.
// Freed memory up to 64 MB is kept for reuse and blocks up to 32 MB (a tile's or a strip's
// buffers) come from the heaps. The peak is unchanged: only what was already in use is kept.
void KeepFreedMemory() {
  static std::once_flag once;
  std::call_once(once, [] {
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
  });
}

bool ReadAt(int fd, uint64_t offset, void* buf, size_t n) {
  auto* p = static_cast<uint8_t*>(buf);
  while (n > 0) {
    const ssize_t r = ::pread(fd, p, n, static_cast<off_t>(offset));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
    offset += static_cast<uint64_t>(r);
  }
  return true;
}

bool WriteAt(int fd, uint64_t offset, const void* buf, size_t n) {
  const auto* p = static_cast<const uint8_t*>(buf);
  while (n > 0) {
    const ssize_t r = ::pwrite(fd, p, n, static_cast<off_t>(offset));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
    offset += static_cast<uint64_t>(r);
  }
  return true;
}

bool WriteAll(int fd, const void* buf, size_t n) {
  const auto* p = static_cast<const uint8_t*>(buf);
  while (n > 0) {
    const ssize_t r = ::write(fd, p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

int64_t FileSize(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

FILE* DupStream(int fd, const char* mode, uint64_t offset) {
  const int d = ::dup(fd);
  if (d < 0) return nullptr;
  if (::lseek(d, static_cast<off_t>(offset), SEEK_SET) < 0) {
    ::close(d);
    return nullptr;
  }
  FILE* f = ::fdopen(d, mode);
  if (!f) ::close(d);
  return f;
}

TempFile::TempFile() {
  const char* dir = ::getenv("TMPDIR");
  std::string base = (dir && *dir) ? dir : "/tmp";
#ifdef O_TMPFILE
  fd_ = ::open(base.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
  if (fd_ < 0) {
    std::string name = base + "/imagemillXXXXXX";
    fd_ = ::mkstemp(name.data());
    if (fd_ >= 0) ::unlink(name.c_str());
  }
}

TempFile::~TempFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::vector<IM_RGBQUAD> GreyTable(int entries) {
  std::vector<IM_RGBQUAD> t(static_cast<size_t>(entries));
  for (int i = 0; i < entries; ++i) {
    const auto v = static_cast<uint8_t>(entries > 1 ? i * 255 / (entries - 1) : 0);
    t[static_cast<size_t>(i)] = IM_RGBQUAD{v, v, v, 0};
  }
  return t;
}

bool IsGreyRamp(const std::vector<IM_RGBQUAD>& colors) {
  if (colors.size() != 256) return false;
  for (size_t i = 0; i < 256; ++i)
    if (colors[i].rgbRed != i || colors[i].rgbGreen != i || colors[i].rgbBlue != i) return false;
  return true;
}

bool OneBitSetIsDark(const std::vector<IM_RGBQUAD>& colors) {
  if (colors.size() < 2) return false;
  auto lum = [](const IM_RGBQUAD& q) {
    return 299 * q.rgbRed + 587 * q.rgbGreen + 114 * q.rgbBlue;
  };
  return lum(colors[0]) > lum(colors[1]);
}

int CheckDesc(const ImageDesc& d) {
  if (d.width <= 0 || d.height <= 0) return IM_ERR_PARAM;
  switch (d.bitsPerPixel) {
    case 1: case 4: case 8: case 24: case 32: break;
    default: return IM_ERR_UNSUPPORTED;
  }
  if (d.RowBytes() > kMaxRowBytes) return IM_ERR_TOO_LARGE;
  const size_t need = d.bitsPerPixel <= 8 ? (size_t{1} << d.bitsPerPixel) : 0;
  if (need && d.colors.size() < need && !(d.bitsPerPixel == 8 && d.grey)) return IM_ERR_PARAM;
  return IM_OK;
}

}  // namespace mill
