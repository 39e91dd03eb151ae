// The test drawing the document benchmarks open: white paper with a dark grid every 100
// pixels and a light gradient, written through the imaging library in any of its formats.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/imagemill/imagemill.h"

namespace orb::bench {

struct DrawingSize {
  int32_t width;
  int32_t height;
};

inline int DrawingHeader(void* user, IM_BITMAPINFOHEADER* h, IM_RGBQUAD*, int*) {
  const auto* size = static_cast<const DrawingSize*>(user);
  h->biSize = 40;
  h->biWidth = size->width;
  h->biHeight = size->height;
  h->biPlanes = 1;
  h->biBitCount = 24;
  h->biXPelsPerMeter = h->biYPelsPerMeter = 23622;
  return IM_OK;
}

inline int DrawingLines(void*, uint8_t* line, int row, int bytes) {
  for (int i = 0; i < bytes; i += 3) {
    const int x = i / 3;
    const bool ink = x % 100 < 2 || row % 100 < 2;
    const uint8_t v = ink ? 20 : static_cast<uint8_t>(255 - (x + row) % 32);
    line[i] = v;
    line[i + 1] = v;
    line[i + 2] = ink ? 120 : v;
  }
  return IM_OK;
}

// Writes the drawing to `path` (kept when it is already there). False when it cannot.
inline bool WriteDrawing(const std::string& path, uint32_t format, int32_t width, int32_t height) {
  if (::access(path.c_str(), R_OK) == 0) return true;
  IM_Init();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  DrawingSize size{width, height};
  const int rc = IM_WriteByCallback(fd, format, DrawingLines, DrawingHeader, &size);
  ::close(fd);
  if (rc != IM_OK) ::unlink(path.c_str());
  return rc == IM_OK;
}

}  // namespace orb::bench
