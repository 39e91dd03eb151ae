#include "engine/ReadWrite/StreamFiles.h"

#include "platform/Files.h"
#include "platform/TempNames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>

namespace orb::rw {

int64_t FileSize(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

namespace {

std::string RandomTag() {
  static std::atomic<uint64_t> counter{0};
  thread_local std::mt19937_64 rng{std::random_device{}() ^
                                   (static_cast<uint64_t>(::getpid()) << 32)};
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  uint64_t v = rng() ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
  std::string tag;
  for (int i = 0; i < 6; ++i) {
    tag += kChars[v % 36];
    v /= 36;
  }
  return tag;
}

int CreateExclusive(const std::string& prefix, const std::string& suffix, std::string* path) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix + RandomTag() + suffix;
    int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      *path = name;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

int CreateBeside(const std::string& target, std::string* tempPath) {
  return CreateExclusive(target + ".part" + orb::OwnerMark(), "", tempPath);
}

bool CommitBeside(const std::string& tempPath, const std::string& target) {
  if (orb::ReplaceWithFlushedFile(tempPath, target)) return true;
  int err = errno;
  ::unlink(tempPath.c_str());
  errno = err;
  return false;
}

std::string CreateUniqueFile(const std::string& folder, const std::string& suffix) {
  std::string prefix = folder.empty() ? std::string("./") : folder;
  if (prefix.back() != '/') prefix += '/';
  std::string path;
  int fd = CreateExclusive(prefix + "Qel" + orb::OwnerMark(), suffix, &path);
  if (fd < 0) return {};
  ::close(fd);
  return path;
}

std::string ErrnoText(int err) { return std::strerror(err); }

}  // namespace orb::rw
