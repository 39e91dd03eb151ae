#include "engine/JoinSource.h"

#include <fcntl.h>
#include <unistd.h>

#include "engine/AppStatus.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/TiffHeader.h"
#include "platform/Files.h"

int ProbeJoinSource(LineReader* reader) {
  if (!reader || !reader->image) return -1;
  ImageState& image = *reader->image;
  // A scan may still be writing the file: it holds it open for writing.
  const int fd = orb::OpenSharedFile(image.sourcePath, orb::IsScanning() ? O_RDWR : O_RDONLY);
  if (fd < 0) return -1;
  const int saved = image.fileHandle;
  image.fileHandle = fd;
  reader->regionFlag = 1;
  const bool own = IsTiffFile(reader) && ReadTiffHeader(reader) == 0;
  ::close(fd);
  image.fileHandle = saved;
  if (!own) return -1;
  image.sourceForm = SF_OWN_TIFF;
  image.region = PixelRect{0, 0, image.width - 1, image.height - 1};
  // Items are copied byte for byte into the RGB canvas: nothing else can join.
  const bool rgb = image.kind == IK_RGB && image.samplesPerPixel == 3 && image.bitsPerSample == 8 &&
                   image.storedLineWidth == 3 * image.width;
  return rgb && image.width > 0 && image.height > 0 ? 0 : -1;
}
