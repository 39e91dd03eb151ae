// Where the output option dialogs keep their values: the quality of each quality kind
// and its range, in the program's settings.
#pragma once

#include <cstdint>

namespace orb {

// Quality kinds: 1 JPEG colour, 2 PDF with JPEG colour, 3 TIFF with JPEG colour, 4 PDF
// with JPEG grey, 5 JPEG grey, 6 JPEG 2000. The TIFF option kinds 11, 13, 14 and 15 have
// no quality.
inline constexpr int kQualityJpegColour = 1;
inline constexpr int kQualityPdfJpegColour = 2;
inline constexpr int kQualityTiffJpeg = 3;
inline constexpr int kQualityPdfJpegGrey = 4;
inline constexpr int kQualityJpegGrey = 5;
inline constexpr int kQualityJpeg2000 = 6;

// The settings field holding the quality of a kind; null for a kind without one.
int32_t* QualityField(int qualityKind);
// Highest value of the kind's slider (1000 for JPEG 2000, else 100).
int32_t QualityMaximum(int qualityKind);
// The stored quality of a kind, limited to its slider range (1 when the kind has none).
int32_t StoredQuality(int qualityKind);

}  // namespace orb
