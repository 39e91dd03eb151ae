// An image file as the program opens it, for tests of what works on opened images.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "engine/ImageState.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/TiffHeader.h"

namespace orbtest {

// The working version of a newly opened file: probed by the program's own probe and
// showing the whole picture; the caller owns the chain it starts.
inline ImageState* OpenedImage(const std::string& path) {
  ImageState* s = orb::NewImageState();
  s->sourcePath = path;
  s->state = VS_OPENED;
  {
    LineReader probe(s);
    EXPECT_EQ(ProbeImageFile(&probe, false), 0) << path;
  }
  s->region = PixelRect{0, 0, s->width, s->height};
  return s;
}

}  // namespace orbtest
