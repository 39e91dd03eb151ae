// The program's own TIFF header reader on arbitrary bytes: it either refuses the file or
// describes an image whose lines all lie inside the file.
#include "engine/ImageState.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/TiffHeader.h"
#include "tests/fuzz/fuzz_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = FuzzInputFd(data, size);
  if (fd < 0) return 0;
  ImageState image;
  image.fileHandle = fd;
  LineReader reader(&image);
  if (IsTiffFile(&reader) && ReadTiffHeader(&reader) == 0) {
    const uint64_t bytesPerLine = image.kind == IK_BW ? (static_cast<uint64_t>(image.storedLineWidth) + 7) / 8
                                  : image.kind == IK_PALETTE16 ? static_cast<uint64_t>(image.storedLineWidth) / 2
                                                               : static_cast<uint64_t>(image.storedLineWidth);
    if (image.width < 1 || image.height < 1 || image.xDpi < 50 || !orb::IsInternalFormat(image.outputFormat) ||
        image.dataOffset + bytesPerLine * static_cast<uint64_t>(image.height) > size)
      __builtin_trap();
  }
  image.fileHandle = kNoFile;
  ::close(fd);
  return 0;
}
