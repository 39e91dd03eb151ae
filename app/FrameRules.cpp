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

#include <unistd.h>

#include <cstdlib>

namespace orb {
std::string FindProgramInPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (!path || name.empty() || name.find('/') != std::string::npos) return {};
  std::string all(path);
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(':', start);
    if (end == std::string::npos) end = all.size();
    std::string dir = all.substr(start, end - start);
    if (!dir.empty()) {
      std::string candidate = dir + "/" + name;
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    start = end + 1;
  }
  return {};
}
}  // namespace orb
