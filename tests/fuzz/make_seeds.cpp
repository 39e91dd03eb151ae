// Writes small images of every kind in every format into a folder: seeds for the fuzzers.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/imagemill/imagemill.h"

namespace {

struct Img {
  int w, h, bits, grey;
};

int Header(void* u, IM_BITMAPINFOHEADER* h, IM_RGBQUAD* colors, int* grey) {
  auto* im = static_cast<Img*>(u);
  h->biSize = 40;
  h->biWidth = im->w;
  h->biHeight = im->h;
  h->biPlanes = 1;
  h->biBitCount = static_cast<uint16_t>(im->bits);
  h->biXPelsPerMeter = h->biYPelsPerMeter = 3937;
  for (int i = 0; i < 256; ++i) colors[i] = IM_RGBQUAD{uint8_t(i), uint8_t(255 - i), uint8_t(i * 3), 0};
  *grey = im->grey;
  return 0;
}

int Lines(void*, uint8_t* line, int row, int bytes) {
  for (int i = 0; i < bytes; ++i) line[i] = static_cast<uint8_t>(i * 7 + row * 3);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_seeds folder\n");
    return 2;
  }
  const std::string dir = argv[1];
  struct F {
    uint32_t code;
    const char* ext;
  } formats[] = {{1, "tif"}, {0x10001, "tif"}, {0x20001, "tif"}, {0x30001, "tif"}, {0x40001, "tif"}, {2, "jpg"},
                 {3, "png"}, {5, "jp2"}, {0x40004, "pdf"}, {0x30004, "pdf"}, {6, "bmp"}};
  const Img kinds[] = {{13, 7, 24, 0}, {13, 7, 8, 1}, {13, 7, 8, 0}, {13, 7, 4, 0}, {13, 7, 1, 0}};
  int n = 0;
  for (const auto& f : formats) {
    for (Img im : kinds) {
      const std::string path = dir + "/seed_" + std::to_string(n++) + "." + f.ext;
      const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
      const int rc = IM_WriteByCallback(fd, f.code, Lines, Header, &im);
      ::close(fd);
      if (rc != IM_OK) ::unlink(path.c_str());
    }
  }
  return 0;
}
