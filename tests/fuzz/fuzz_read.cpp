// Decodes arbitrary bytes with the imaging library; one build per format, which only
// takes inputs of its own format so that each reader gets the whole fuzzing time.
#include <cstring>

#include "platform/imagemill/imagemill.h"
#include "tests/fuzz/fuzz_io.h"

namespace {

struct Seen {
  int width = 0;
  int height = 0;
  int rows = 0;
  size_t bytes = 0;
  uint32_t sum = 0;
};

int Header(void* u, IM_BITMAPINFOHEADER* h, IM_RGBQUAD* colors, int* grey) {
  auto* s = static_cast<Seen*>(u);
  s->width = h->biWidth;
  s->height = h->biHeight;
  // Touch the whole table and the flag: they must be valid memory.
  for (int i = 0; i < 256; ++i) s->sum += colors[i].rgbRed;
  s->sum += static_cast<uint32_t>(*grey);
  // Huge images would only measure the machine's patience.
  if (static_cast<int64_t>(h->biWidth) * h->biHeight > 4000000) return -1;
  return 0;
}

int Lines(void* u, uint8_t* line, int row, int bytes) {
  auto* s = static_cast<Seen*>(u);
  if (row != s->rows || bytes <= 0) __builtin_trap();  // rows in order, each once
  ++s->rows;
  s->bytes = static_cast<size_t>(bytes);
  s->sum += line[0] + line[bytes - 1];  // the whole row must be readable
  return 0;
}

bool OfFormat(const uint8_t* d, size_t n) {
#if defined(FUZZ_FORMAT_TIFF)
  return n >= 4 && ((d[0] == 'I' && d[1] == 'I') || (d[0] == 'M' && d[1] == 'M'));
#elif defined(FUZZ_FORMAT_JPEG)
  return n >= 3 && d[0] == 0xFF && d[1] == 0xD8;
#elif defined(FUZZ_FORMAT_PNG)
  return n >= 8 && d[0] == 0x89 && d[1] == 'P';
#elif defined(FUZZ_FORMAT_JP2)
  return n >= 12 && ((d[0] == 0 && d[4] == 'j') || (d[0] == 0xFF && d[1] == 0x4F));
#elif defined(FUZZ_FORMAT_PDF)
  return n >= 5 && std::memcmp(d, "%PDF-", 5) == 0;
#elif defined(FUZZ_FORMAT_BMP)
  return n >= 2 && d[0] == 'B' && d[1] == 'M';
#else
  (void)d;
  (void)n;
  return true;
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!OfFormat(data, size)) return -1;  // not kept in the corpus
  const int fd = FuzzInputFd(data, size);
  if (fd < 0) return 0;
  Seen seen;
  const int rc = IM_ReadByCallback(fd, Lines, Header, &seen);
  // Success means every row was delivered.
  if (rc == IM_OK && seen.rows != seen.height) __builtin_trap();
  ::close(fd);
  return 0;
}
