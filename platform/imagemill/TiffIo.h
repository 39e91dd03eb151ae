// libtiff on a caller's file descriptor (never closed by libtiff, never memory-mapped).
#pragma once

#include <tiffio.h>

#include "platform/imagemill/MillInternal.h"

namespace mill {

class TiffFile {
 public:
  TiffFile(int fd, const char* mode);
  ~TiffFile();
  TiffFile(const TiffFile&) = delete;
  TiffFile& operator=(const TiffFile&) = delete;
  TIFF* tif() const { return tif_; }
  // Writes what is pending (directory included) and closes; false when writing failed.
  bool Close();

 private:
  void* cursor_;
  TIFF* tif_ = nullptr;
};

// Decodes the current directory of an open TIFF into the sink.
int ReadTiffFile(TIFF* tif, ReadSink& sink);

}  // namespace mill
