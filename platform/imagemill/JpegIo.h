// JPEG decoding of a byte range of a file (a whole JPEG file, or a JPEG stream inside another).
#pragma once

#include "platform/imagemill/MillInternal.h"

namespace mill {

// Decodes the JPEG data in [offset, end) of fd. With `resolution` set, its pixels per metre
// replace those of the JPEG data.
int ReadJpegRange(int fd, uint64_t offset, uint64_t end, ReadSink& sink, const ImageDesc* resolution);

}  // namespace mill
