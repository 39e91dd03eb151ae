// A small reader of zip archives (stored and deflated members), enough to take the
// language module apart without a display. Archives are read whole into memory: language
// modules are small, and a damaged one must never crash the reader.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orb {

class ZipReader {
 public:
  // Opens and indexes the archive; nullopt with *error set when it is missing or damaged.
  static std::optional<ZipReader> Open(const std::filesystem::path& file, std::string* error);
  static std::optional<ZipReader> FromBytes(std::string bytes, std::string* error);

  const std::vector<std::string>& Names() const { return names_; }
  bool Contains(const std::string& name) const;
  // The member's content; nullopt when absent or damaged (bad method, size or CRC).
  std::optional<std::string> Read(const std::string& name, std::string* error = nullptr) const;

 private:
  struct Entry {
    std::string name;
    uint16_t method = 0;
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t size = 0;
    uint32_t localOffset = 0;
  };
  std::string bytes_;
  std::vector<Entry> entries_;
  std::vector<std::string> names_;
};

}  // namespace orb
