#include "app/MessageText.h"

#include <cstdio>
#include <cstring>

namespace orb {

std::string FormatMessageText(const std::string& format, const std::vector<MessageArg>& args) {
  std::string out;
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    char c = format[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i + 1 < format.size() && format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    // Flags, width and precision are kept (bounded); length modifiers are dropped.
    std::string conversion = "%";
    size_t start = i;
    size_t j = i + 1;
    while (j < format.size() && std::strchr("-+ #0123456789.", format[j]) && conversion.size() < 12) conversion += format[j++];
    while (j < format.size() && std::strchr("hlLqjzt", format[j])) ++j;
    if (j >= format.size()) {
      out += format.substr(i);
      break;
    }
    char conv = format[j];
    i = j;
    const MessageArg* arg = next < args.size() ? &args[next++] : nullptr;
    char buf[512];
    if (std::strchr("diuxXoc", conv)) {
      if (!arg) continue;
      if (auto* n = std::get_if<int64_t>(arg)) {
        std::string f = conversion + (conv == 'c' ? "c" : std::string("ll") + (conv == 'i' ? 'd' : conv));
        if (conv == 'c')
          std::snprintf(buf, sizeof buf, f.c_str(), static_cast<int>(*n));
        else
          std::snprintf(buf, sizeof buf, f.c_str(), static_cast<long long>(*n));
        out += buf;
      } else {
        out += std::get<std::string>(*arg);
      }
    } else if (conv == 's') {
      if (!arg) continue;
      std::string text = std::holds_alternative<std::string>(*arg) ? std::get<std::string>(*arg)
                                                                     : std::to_string(std::get<int64_t>(*arg));
      if (conversion.size() > 1 && text.size() < 256 && text.find('\0') == std::string::npos) {
        std::snprintf(buf, sizeof buf, (conversion + "s").c_str(), text.c_str());
        out += buf;
      } else {
        out += text;
      }
    } else {
      // Not a conversion we fill: shown as written.
      out += format.substr(start, j - start + 1);
      if (arg) --next;
    }
  }
  return out;
}

}  // namespace orb
