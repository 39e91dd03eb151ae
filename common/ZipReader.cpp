#include "common/ZipReader.h"

#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "platform/Bytes.h"

namespace orb {
namespace {

constexpr uint32_t kEndOfCentralDir = 0x06054b50;
constexpr uint32_t kCentralEntry = 0x02014b50;
constexpr uint32_t kLocalHeader = 0x04034b50;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kCentralEntrySize = 46;
constexpr size_t kLocalHeaderSize = 30;
// Nothing we ship comes near this; it bounds what a damaged size field can make us allocate.
constexpr uint32_t kMaxMemberSize = 256u * 1024 * 1024;

const uint8_t* At(const std::string& s, size_t off) {
  return reinterpret_cast<const uint8_t*>(s.data()) + off;
}

bool Fail(std::string* error, const std::string& text) {
  if (error) *error = text;
  return false;
}

}  // namespace

std::optional<ZipReader> ZipReader::Open(const std::filesystem::path& file, std::string* error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot open " + file.string();
    return std::nullopt;
  }
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) {
    if (error) *error = "cannot read " + file.string();
    return std::nullopt;
  }
  return FromBytes(std::move(bytes), error);
}

std::optional<ZipReader> ZipReader::FromBytes(std::string bytes, std::string* error) {
  ZipReader zip;
  zip.bytes_ = std::move(bytes);
  const std::string& b = zip.bytes_;
  if (b.size() < kEndRecordSize) {
    Fail(error, "not a zip archive (too short)");
    return std::nullopt;
  }
  // The end record sits in the last 64 KiB + 22 bytes (its comment is at most 65535 bytes).
  size_t lowest = b.size() > kEndRecordSize + 0xFFFF ? b.size() - kEndRecordSize - 0xFFFF : 0;
  size_t end = std::string::npos;
  for (size_t pos = b.size() - kEndRecordSize + 1; pos-- > lowest;) {
    if (GetU32LE(At(b, pos)) == kEndOfCentralDir) {
      end = pos;
      break;
    }
  }
  if (end == std::string::npos) {
    Fail(error, "not a zip archive (no end record)");
    return std::nullopt;
  }
  uint16_t count = GetU16LE(At(b, end + 10));
  uint32_t dirSize = GetU32LE(At(b, end + 12));
  uint32_t dirOffset = GetU32LE(At(b, end + 16));
  if (uint64_t{dirOffset} + dirSize > end) {
    Fail(error, "damaged zip archive (central directory out of range)");
    return std::nullopt;
  }
  size_t pos = dirOffset;
  for (uint16_t i = 0; i < count; ++i) {
    if (pos + kCentralEntrySize > end || GetU32LE(At(b, pos)) != kCentralEntry) {
      Fail(error, "damaged zip archive (central directory entry)");
      return std::nullopt;
    }
    Entry e;
    e.method = GetU16LE(At(b, pos + 10));
    e.crc = GetU32LE(At(b, pos + 16));
    e.compressedSize = GetU32LE(At(b, pos + 20));
    e.size = GetU32LE(At(b, pos + 24));
    uint16_t nameLen = GetU16LE(At(b, pos + 28));
    uint16_t extraLen = GetU16LE(At(b, pos + 30));
    uint16_t commentLen = GetU16LE(At(b, pos + 32));
    e.localOffset = GetU32LE(At(b, pos + 42));
    size_t next = pos + kCentralEntrySize + nameLen + extraLen + commentLen;
    if (next > end) {
      Fail(error, "damaged zip archive (entry name out of range)");
      return std::nullopt;
    }
    e.name.assign(b, pos + kCentralEntrySize, nameLen);
    zip.names_.push_back(e.name);
    zip.entries_.push_back(std::move(e));
    pos = next;
  }
  return zip;
}

bool ZipReader::Contains(const std::string& name) const {
  return std::find(names_.begin(), names_.end(), name) != names_.end();
}

std::optional<std::string> ZipReader::Read(const std::string& name, std::string* error) const {
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&](const Entry& e) { return e.name == name; });
  if (it == entries_.end()) {
    Fail(error, "no member " + name);
    return std::nullopt;
  }
  const Entry& e = *it;
  const std::string& b = bytes_;
  if (uint64_t{e.localOffset} + kLocalHeaderSize > b.size() ||
      GetU32LE(At(b, e.localOffset)) != kLocalHeader) {
    Fail(error, "damaged member " + name);
    return std::nullopt;
  }
  uint64_t data = uint64_t{e.localOffset} + kLocalHeaderSize + GetU16LE(At(b, e.localOffset + 26)) +
                  GetU16LE(At(b, e.localOffset + 28));
  if (data + e.compressedSize > b.size() || e.size > kMaxMemberSize) {
    Fail(error, "damaged member " + name);
    return std::nullopt;
  }
  std::string out;
  if (e.method == 0) {
    if (e.compressedSize != e.size) {
      Fail(error, "damaged member " + name);
      return std::nullopt;
    }
    out.assign(b, data, e.size);
  } else if (e.method == 8) {
    out.resize(e.size);
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) {
      Fail(error, "cannot inflate " + name);
      return std::nullopt;
    }
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(b.data() + data));
    zs.avail_in = e.compressedSize;
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = e.size;
    int rc = inflate(&zs, Z_FINISH);
    bool ok = rc == Z_STREAM_END && zs.total_out == e.size;
    inflateEnd(&zs);
    if (!ok) {
      Fail(error, "damaged member " + name);
      return std::nullopt;
    }
  } else {
    Fail(error, "unsupported compression in " + name);
    return std::nullopt;
  }
  uint32_t crc = static_cast<uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(out.size())));
  if (crc != e.crc) {
    Fail(error, "checksum mismatch in " + name);
    return std::nullopt;
  }
  return out;
}

}  // namespace orb
