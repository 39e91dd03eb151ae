// The classification dialog's settings file "Hueflock.dat": six little-endian signed
// 32-bit values. An empty (or short) file leaves the missing values at their defaults.
#pragma once

#include <array>
#include <cstdint>
#include <string>

struct HueflockSettings {
  static constexpr size_t kSize = 24;
  static constexpr const char* kFileName = "Hueflock.dat";

  int32_t sortKey = 3;          // 0 Index, 1 Count, 2 Hue, 3 Lightness, 4 Saturation
  int32_t view = 0;             // 0 grid, 1 histogram, 2 cube
  int32_t top = -1;             // screen position; -1 keeps the centred one
  int32_t left = -1;
  int32_t replaceOn = 0;
  int32_t replaceColor = 0x00FF00;  // COLORREF, red in the low byte

  static HueflockSettings Decode(const uint8_t* data, size_t size);
  std::array<uint8_t, kSize> Encode() const;

  // Reads the file of the settings folder, creating it empty when missing (the creation
  // may fail: the defaults are used all the same).
  static HueflockSettings Load(const std::string& folder);
  // Writes the six values over the start of the file, keeping whatever follows them; the
  // file is replaced whole through a temporary, and made when missing.
  bool Save(const std::string& folder) const;
};
