#include "app/FrameRules.h"

#include "platform/Bytes.h"

namespace orb {

std::string FamilyTagFromSaved(int savedType, int savedSubType, const std::string& current) {
  if (savedType == 0 || savedType == 1 || savedType == -1) return "Vq";
  if (savedType == 80) {
    if (savedSubType == 0) return "QRDM";
    if (savedSubType == 1) return "QRDC";
  }
  return current;
}

std::string ScannerTabCaption(bool scannerPresent, const std::string& scannerText,
                              const std::string& model, const std::string& firmware,
                              const std::string& noScannerText) {
  std::string text = scannerPresent ? scannerText + " (" + model + ": " + firmware + ")"
                                    : scannerText + " (" + noScannerText + ")";
  text.resize(Utf8PrefixLength(text, kTabCaptionMax));
  return text;
}

}  // namespace orb
