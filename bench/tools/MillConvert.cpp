// Converts one image file to another format through libimagemill alone, row by row: the
// library decodes the input and every row goes straight into the library's writer, so
// memory stays a few rows whatever the image's height. bench/formats.sh times it.
//   mill_convert FORMAT IN OUT
// FORMAT: tiff, packbits, g3, g4, tiffjpeg, jpeg, png, pdfjpeg, pdfg4, jp2, bmp.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/imagemill/imagemill.h"

namespace {

struct Format {
  const char* name;
  uint32_t code;
};
constexpr Format kFormats[] = {
    {"tiff", 1},          {"packbits", 0x10001}, {"g3", 0x20001},  {"g4", 0x30001},
    {"tiffjpeg", 0x40001}, {"jpeg", 2},          {"png", 3},       {"pdfjpeg", 0x40004},
    {"pdfg4", 0x30004},   {"jp2", 5},            {"bmp", 6},
};

struct Run {
  int out = -1;
  uint32_t format = 0;
  IM_WRITECONTEXT ctx{};
  bool started = false;
  int writeResult = IM_OK;
};

int Header(void* user, IM_BITMAPINFOHEADER* h, IM_RGBQUAD* colors, int* grey) {
  auto* r = static_cast<Run*>(user);
  r->ctx = IM_WRITECONTEXT{};
  r->ctx.format = r->format;
  r->ctx.header = *h;
  std::memcpy(r->ctx.colors, colors, sizeof r->ctx.colors);
  r->ctx.grey = *grey ? 1 : 0;
  r->writeResult = IM_WriteStart(r->out, &r->ctx);
  r->started = r->writeResult == IM_OK;
  return r->started ? IM_OK : IM_STOPPED;
}

int Lines(void* user, uint8_t* line, int, int) {
  auto* r = static_cast<Run*>(user);
  r->writeResult = IM_WriteNext(&r->ctx, line, 0);
  return r->writeResult == IM_OK ? IM_OK : IM_STOPPED;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s FORMAT IN OUT\n", argv[0]);
    return 2;
  }
  Run run;
  for (const auto& f : kFormats)
    if (std::strcmp(f.name, argv[1]) == 0) run.format = f.code;
  if (!run.format) {
    std::fprintf(stderr, "mill_convert: unknown format %s\n", argv[1]);
    return 2;
  }
  IM_Init();
  const int in = ::open(argv[2], O_RDONLY | O_CLOEXEC);
  run.out = ::open(argv[3], O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (in < 0 || run.out < 0) {
    std::fprintf(stderr, "mill_convert: cannot open the files\n");
    return 1;
  }
  const int readResult = IM_ReadByCallback(in, Lines, Header, &run);
  int endResult = IM_OK;
  if (run.started) {
    IM_WriteNext(&run.ctx, nullptr, IM_STOPPED);
    endResult = IM_WriteEnd(&run.ctx);
  }
  ::close(in);
  const bool closed = ::close(run.out) == 0;
  if (readResult != IM_OK || run.writeResult != IM_OK || endResult != IM_OK || !closed) {
    std::fprintf(stderr, "mill_convert: failed (read %d, write %d, end %d)\n", readResult, run.writeResult,
                 endResult);
    ::unlink(argv[3]);
    return 1;
  }
  return 0;
}
