#include "platform/TempNames.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

namespace orb {
namespace {

constexpr std::string_view kOpen = "~orb";

// The pid of the first owner mark in `name` at or after `from`; 0 when there is none.
pid_t MarkAt(std::string_view name, size_t from) {
  const size_t at = name.find(kOpen, from);
  if (at == std::string_view::npos) return 0;
  const char* first = name.data() + at + kOpen.size();
  const char* last = name.data() + name.size();
  long pid = 0;
  auto [end, ec] = std::from_chars(first, last, pid);
  if (ec != std::errc() || end == first || end == last || *end != '~' || pid <= 0) return 0;
  return static_cast<pid_t>(pid);
}

bool Running(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

}  // namespace

std::string OwnerMark() { return std::string(kOpen) + std::to_string(::getpid()) + "~"; }

pid_t OwnerOfTempName(std::string_view name) {
  if (name.rfind("Qel", 0) == 0 && name.compare(3, kOpen.size(), kOpen) == 0) return MarkAt(name, 3);
  const size_t part = name.find(".part~orb");
  if (part != std::string_view::npos && part > 0) return MarkAt(name, part + 5);
  if (name.size() > 1 && name[0] == '.') return MarkAt(name, 1);
  return 0;
}

int RemoveStaleTempFiles(const std::string& folder) {
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return 0;
  int removed = 0;
  const int dfd = ::dirfd(dir);
  while (const dirent* e = ::readdir(dir)) {
    const pid_t owner = OwnerOfTempName(e->d_name);
    if (owner == 0 || owner == ::getpid() || Running(owner)) continue;
    struct stat st{};
    if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode) || st.st_uid != ::getuid()) continue;
    if (::unlinkat(dfd, e->d_name, 0) == 0) ++removed;
  }
  ::closedir(dir);
  return removed;
}

}  // namespace orb
