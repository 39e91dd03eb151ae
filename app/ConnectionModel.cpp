#include "app/ConnectionModel.h"

#include <cstdio>
#include <cstring>

namespace orb::connection {

namespace {

// Decimal digits only, at most `maxDigits`; nullopt for anything else.
std::optional<uint32_t> Digits(std::string_view s, size_t maxDigits) {
  if (s.empty() || s.size() > maxDigits) return std::nullopt;
  uint32_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<uint32_t>(c - '0');
  }
  return v;
}

}  // namespace

std::optional<Octets> ParseAddress(std::string_view text) {
  Octets o{};
  for (size_t i = 0; i < 4; ++i) {
    const size_t dot = text.find('.');
    if ((i < 3) == (dot == std::string_view::npos)) return std::nullopt;
    auto v = Digits(text.substr(0, dot), 3);
    if (!v || *v > 255) return std::nullopt;
    o[i] = static_cast<uint8_t>(*v);
    text = i < 3 ? text.substr(dot + 1) : std::string_view();
  }
  return o;
}

std::string FormatAddress(const Octets& o) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", o[0], o[1], o[2], o[3]);
  return buf;
}

std::string ShownAddress(const ScanSettingsRecord& s) {
  auto o = ParseAddress(TextField(s.ScannerAddress));
  return FormatAddress(o ? *o : Octets{255, 255, 255, 255});
}

std::optional<int32_t> ParsePort(std::string_view text) {
  auto v = Digits(text, 5);
  if (!v || *v < 1 || *v > 65535) return std::nullopt;
  return static_cast<int32_t>(*v);
}

Entered FromSettings(const ScanSettingsRecord& s) {
  Entered e;
  e.network = s.NetworkOption != 0;
  e.address = ShownAddress(s);
  e.port1 = std::to_string(s.NetworkPort1);
  e.port2 = std::to_string(s.NetworkPort2);
  return e;
}

Verdict Check(const Entered& e) {
  if (!e.network) return {};
  if (!ParseAddress(e.address)) return {kAddress};
  if (!ParsePort(e.port1)) return {kPort1};
  if (!ParsePort(e.port2)) return {kPort2};
  return {};
}

void Store(const Entered& e, ScanSettingsRecord& s) {
  s.NetworkOption = e.network ? 1 : 0;
  if (auto o = ParseAddress(e.address)) {
    const std::string text = FormatAddress(*o);  // at most 15 characters
    std::memset(s.ScannerAddress, 0, sizeof s.ScannerAddress);
    std::memcpy(s.ScannerAddress, text.data(), text.size());
  }
  if (auto p = ParsePort(e.port1)) s.NetworkPort1 = *p;
  if (auto p = ParsePort(e.port2)) s.NetworkPort2 = *p;
}

}  // namespace orb::connection
