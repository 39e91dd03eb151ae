#include "app/CommandLine.h"

#include <cstdio>
#include <fstream>
#include <iterator>

void CcmdInfo::ParseParam(std::string_view param, bool /*isFlag*/, bool /*last*/) {
  m_bShowSplash = false;
  m_strFileName = std::string(param);
  if (orb::IsBatchFileName(param)) m_bBatch = true;
}

namespace orb {
namespace {

// Length of the well-formed UTF-8 sequence at the start of `s`, 0 when there is none.
size_t Utf8SequenceLength(std::string_view s) {
  const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = b(0);
  if (c < 0x80) return 1;
  size_t n = 0;
  uint32_t cp = 0;
  if (c >= 0xC2 && c <= 0xDF) { n = 2; cp = c & 0x1F; }
  else if (c >= 0xE0 && c <= 0xEF) { n = 3; cp = c & 0x0F; }
  else if (c >= 0xF0 && c <= 0xF4) { n = 4; cp = c & 0x07; }
  else return 0;
  if (s.size() < n) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i) & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::vector<std::string> RawProcessArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> args;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    args.emplace_back(all, start, end - start);
    start = end + 1;
  }
  return args;
}

bool IsValidUtf8(std::string_view text) {
  while (!text.empty()) {
    const size_t n = Utf8SequenceLength(text);
    if (n == 0) return false;
    text.remove_prefix(n);
  }
  return true;
}

std::string PrintableFileName(std::string_view name) {
  std::string out;
  while (!name.empty()) {
    const size_t n = Utf8SequenceLength(name);
    if (n == 0) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(name[0]));
      out += hex;
      name.remove_prefix(1);
    } else {
      out.append(name.substr(0, n));
      name.remove_prefix(n);
    }
  }
  return out;
}

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
