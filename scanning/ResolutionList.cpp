#include "scanning/ResolutionList.h"

namespace orb {
std::vector<std::string>& ResolutionList() {
  static std::vector<std::string> list{"100 dpi", ""};
  return list;
}
}  // namespace orb
