#include "app/CommandLine.h"

void CcmdInfo::ParseParam(std::string_view param, bool /*isFlag*/, bool /*last*/) {
  m_bShowSplash = false;
  m_strFileName = std::string(param);
  if (orb::IsBatchFileName(param)) m_bBatch = true;
}

namespace orb {

bool IsBatchFileName(std::string_view name) {
  return name.size() >= 4 && name.substr(name.size() - 4) == ".bch";
}

void ParseCommandLine(const std::vector<std::string>& args, CcmdInfo& info) {
  for (size_t i = 1; i < args.size(); ++i) {
    std::string_view a = args[i];
    bool flag = a.size() > 1 && a[0] == '-';
    if (flag) a.remove_prefix(1);
    info.ParseParam(a, flag, i + 1 == args.size());
  }
}

}  // namespace orb
