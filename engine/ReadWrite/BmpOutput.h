// BMP output of a scan saved as BMP: the scan stores its lines one after another, without
// any header, in a staging file; after the scan the staging file becomes a Windows BMP at
// the image's source path.
#pragma once

#include <string>

struct ImageState;

// Results of SaveScanAsBmp.
inline constexpr int kBmpOk = 0;
inline constexpr int kBmpNoStagingFile = -1;  // the staging file cannot be read
inline constexpr int kBmpWriteFailed = -2;    // the BMP cannot be created or written
inline constexpr int kBmpUnsupported = -3;    // a kind BMP output does not hold, or too large

// Turns the raw lines of `stagingPath` into a BMP at `image.sourcePath`:
// kinds 0, 1, 2 arrive as R, G, B (three bytes a pixel), kinds 3 and 5 as grey bytes,
// kinds 4, 6 and 10 as one byte a pixel (above 175 white). Kind 0 is written at 24 bits,
// grey at 8 bits with a grey table, black and white at 1 bit; the palette kinds 1 and 2 at
// 8 and 4 bits with the image's own palette (each pixel takes the nearest palette colour).
// The file is written beside the target and renamed over it, so a failure leaves any older
// file at the target untouched. The staging file is the caller's: it is not removed.
// `error`, when given, receives a text for the log on failure.
int SaveScanAsBmp(const ImageState& image, const std::string& stagingPath,
                  std::string* error = nullptr);

namespace orb {

// A new unique, empty staging file for a BMP scan in `folder`; its path, or empty.
std::string CreateScanStagingFile(const std::string& folder);

}  // namespace orb
