#include "app/SaveFormats.h"

#include <algorithm>

#include "engine/Settings.h"

namespace orb {

int32_t* QualityField(int qualityKind) {
  switch (qualityKind) {
    case kQualityJpegColour:
      return &MiscSettings.JpegQualityColour;
    case kQualityPdfJpegColour:
      return &MiscSettings.PdfJpegQualityColour;
    case kQualityTiffJpeg:
      return &MiscSettings.TiffJpegQualityColour;
    case kQualityPdfJpegGrey:
      return &MiscSettings.PdfJpegQualityGrey;
    case kQualityJpegGrey:
      return &MiscSettings.JpegQualityGrey;
    case kQualityJpeg2000:
      return &MiscSettings.Jpeg2000Quality;
    default:
      return nullptr;
  }
}

int32_t QualityMaximum(int qualityKind) { return qualityKind == kQualityJpeg2000 ? 1000 : 100; }

int32_t StoredQuality(int qualityKind) {
  const int32_t* field = QualityField(qualityKind);
  if (!field) return 1;
  return std::clamp(*field, 1, QualityMaximum(qualityKind));
}

}  // namespace orb
