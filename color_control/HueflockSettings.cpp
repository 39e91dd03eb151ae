#include "color_control/HueflockSettings.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/Bytes.h"
#include "platform/Files.h"
#include "platform/Folders.h"

HueflockSettings HueflockSettings::Decode(const uint8_t* data, size_t size) {
  HueflockSettings s;
  int32_t* fields[] = {&s.sortKey, &s.view, &s.top, &s.left, &s.replaceOn, &s.replaceColor};
  for (size_t i = 0; i < 6 && (i + 1) * 4 <= size; ++i) *fields[i] = orb::GetI32LE(data + 4 * i);
  return s;
}

std::array<uint8_t, HueflockSettings::kSize> HueflockSettings::Encode() const {
  std::array<uint8_t, kSize> out{};
  const int32_t fields[] = {sortKey, view, top, left, replaceOn, replaceColor};
  for (size_t i = 0; i < 6; ++i) orb::PutI32LE(out.data() + 4 * i, fields[i]);
  return out;
}

HueflockSettings HueflockSettings::Load(const std::string& folder) {
  const std::string path = orb::JoinPath(folder, kFileName);
  if (!orb::FileExists(path)) {
    const int fd = orb::OpenSharedFile(path, O_WRONLY | O_CREAT);
    if (fd >= 0) ::close(fd);
    return {};
  }
  const auto bytes = orb::ReadFileBytes(path, 4096);
  if (!bytes) return {};
  return Decode(bytes->data(), bytes->size());
}

bool HueflockSettings::Save(const std::string& folder) const {
  const std::string path = orb::JoinPath(folder, kFileName);
  std::vector<uint8_t> bytes = orb::ReadFileBytes(path).value_or(std::vector<uint8_t>{});
  if (bytes.size() < kSize) bytes.resize(kSize);
  const auto head = Encode();
  std::copy(head.begin(), head.end(), bytes.begin());
  return orb::WriteFileAtomically(path, bytes);
}
