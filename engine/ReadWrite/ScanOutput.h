// The scan output writer: writes one image file in any output format while its lines are
// still being produced (a scan band by band, a document's saving or the two-page split
// strip by strip). The image's height must be known when it opens. A writer thread drives
// the imaging library, which pulls the lines one by one; the producer hands over one band
// at a time through a single band buffer. Uncompressed TIFF goes through the write context
// of the write streams instead.
//
// The file is written beside the record's source path and renamed over it when closed, so
// that a failed write never leaves a broken file at the target. An output stopped early
// (Esc, or a scan cut short and released) keeps what was written, as the caller expects.
#pragma once

#include <cstdint>

#include "engine/ReadWrite/LineWriter.h"

// Creates the output file for the record's source path and starts the writer thread.
// 0, or -1 when the file cannot be created (writer->lastError says why).
int OpenScanOutput(LineWriter* writer);
// Hands over byteCount / storedLineWidth lines (a band larger than the band buffer goes in
// several hand-overs). 0, or -1 when cancelled (CancelFlag), released, or the writer has
// ended (all lines written, or the library failed).
int WriteScanLines(LineWriter* writer, const uint8_t* band, int64_t byteCount);
// Waits for the writer thread, closes the output and frees the band buffer. A writer
// still waiting for lines is stopped first (as ReleaseScanOutput). 0 when the file was
// written (completely, or as far as a stop let it); -1 when writing failed, and then the
// target is left as it was.
int CloseScanOutput(LineWriter* writer);
// No more bands will come: a writer waiting for the next band stops (the library gets the
// stop code and keeps what it has). Lines already handed over are still written. Safe
// before or after CloseScanOutput. Returns 0.
int ReleaseScanOutput(LineWriter* writer);

namespace orb {

// The qualities of the compressed formats, from the settings.
struct OutputQualities {
  int jpegColour = 100;
  int jpegGrey = 100;
  int pdfJpegColour = 100;
  int pdfJpegGrey = 100;
  int tiffJpeg = 100;
  int jpeg2000 = 500;
  bool jpeg2000Lossless = false;
};
OutputQualities CurrentOutputQualities();

}  // namespace orb
