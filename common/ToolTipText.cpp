#include "common/ToolTipText.h"

namespace orb {

std::string ToolTipText(int mode, int controlId, const std::function<std::string(int)>& lookup) {
  if (mode != static_cast<int>(ToolTipMode::FirstLine) && mode != static_cast<int>(ToolTipMode::Whole))
    return {};
  // 0 is no control; negative ids are the toolkit's own (unnamed) controls.
  if (controlId <= 0 || controlId == 0xFFFF) return {};
  std::string text = lookup(controlId);
  if (mode == static_cast<int>(ToolTipMode::FirstLine)) {
    size_t lf = text.find('\n');
    if (lf != std::string::npos) text.resize(lf);
  }
  if (text.empty()) text = lookup(kToolTipFallbackId);
  return text;
}

}  // namespace orb
