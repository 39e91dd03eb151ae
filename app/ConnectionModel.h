// The rules of the connection page, without a display: the scanner's connection (local or
// over the network), its IPv4 address and two ports, as the page shows and stores them in
// the scan settings.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/Settings.h"

namespace orb::connection {

// Controls of the page.
inline constexpr int kLocal = 1458;
inline constexpr int kAddress = 1459;
inline constexpr int kNetwork = 1460;
inline constexpr int kPort1 = 1461;
inline constexpr int kPort2 = 1462;
inline constexpr int kAddressLabel = 1463;
inline constexpr int kPortsLabel = 1464;
inline constexpr int kApply = 1349;

using Octets = std::array<uint8_t, 4>;

// A dotted IPv4 address: four decimal numbers 0-255 (at most three digits each), nothing
// else; nullopt otherwise.
std::optional<Octets> ParseAddress(std::string_view text);
// "%u.%u.%u.%u".
std::string FormatAddress(const Octets& o);
// The address the page shows for a stored text: the text's octets, or 255.255.255.255 for
// a text that is no address.
std::string ShownAddress(const ScanSettingsRecord& s);
// A port: decimal digits, 1 to 65535; nullopt otherwise.
std::optional<int32_t> ParsePort(std::string_view text);

// What the page's controls hold.
struct Entered {
  bool network = false;
  std::string address;
  std::string port1;
  std::string port2;
};
Entered FromSettings(const ScanSettingsRecord& s);

// Which entry is wrong (0 none, else the control's id).
struct Verdict {
  int control = 0;
};
// For a network connection the address and both ports must be valid. For a local one the
// (disabled) fields are stored when valid and otherwise left as stored, so nothing is
// refused.
Verdict Check(const Entered& e);
// Stores the entries into the record (after Check found nothing wrong): the option, the
// address as 16 bytes of text padded with zeros, the two ports.
void Store(const Entered& e, ScanSettingsRecord& s);

}  // namespace orb::connection
