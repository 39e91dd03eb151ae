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
  // A decoder met damaged data that libtiff only warned about (a premature end of line,
  // a line of the wrong length, data cut short): the rows came out, but not as stored.
  bool damaged() const { return damaged_; }
  void MarkDamaged() { damaged_ = true; }

 private:
  void* cursor_;
  TIFF* tif_ = nullptr;
  bool damaged_ = false;
};

// Decodes the current directory of an open TIFF into the sink. Every row is delivered
// even from damaged data; the result then says IM_ERR_CORRUPT.
int ReadTiffFile(TiffFile& file, ReadSink& sink);

}  // namespace mill
