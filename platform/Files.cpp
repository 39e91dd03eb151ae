#include "platform/Files.h"

#include "platform/TempNames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

SharedSecurityAttributes* CreateSharedSecurityAttributes() {
  return new SharedSecurityAttributes{};
}

void FreeSharedSecurityAttributes(SharedSecurityAttributes* attributes) { delete attributes; }

namespace orb {

namespace {

std::string ErrnoText(const char* what, const std::string& path, int err) {
  return std::string(what) + " \"" + path + "\": " + std::strerror(err);
}

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}


std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Makes a rename in the folder of `path` durable; a failure here no longer risks the data.
void FlushFolderOf(const std::string& path) {
  const int dfd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
}

std::string NameOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name for the temporary file beside the target; unique per process and call.
std::string TempNameBeside(const std::string& path) {
  static std::atomic<uint64_t> counter{0};
  static const uint64_t seed = [] {
    std::random_device rd;
    return (static_cast<uint64_t>(rd()) << 32) ^ rd();
  }();
  uint64_t n = counter.fetch_add(1) + 1;
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, "%s%llx.tmp", orb::OwnerMark().c_str(),
                static_cast<unsigned long long>(seed ^ (n * 0x9E3779B97F4A7C15ull)));
  size_t slash = path.find_last_of('/');
  std::string prefix = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  return prefix + "." + NameOf(path) + suffix;
}

}  // namespace

int OpenSharedFile(const std::string& path, int flags, const SharedSecurityAttributes* attributes) {
  mode_t mode = static_cast<mode_t>(attributes ? attributes->mode : kSharedFileMode);
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool WriteFileAtomically(const std::string& requestedPath, const void* data, size_t size,
                         std::string* error) {
  if (requestedPath.empty()) {
    SetError(error, "cannot write a file without a name");
    return false;
  }
  // Replace what a symbolic link points to, not the link itself.
  std::string path = requestedPath;
  struct stat link{};
  if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    if (char* real = ::realpath(path.c_str(), nullptr)) {
      path = real;
      ::free(real);
    }
  }
  struct stat target{};
  bool targetExists = ::stat(path.c_str(), &target) == 0;
  if (targetExists && S_ISDIR(target.st_mode)) {
    SetError(error, ErrnoText("cannot replace", path, EISDIR));
    return false;
  }

  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temp = TempNameBeside(path);
    SharedSecurityAttributes* sa = CreateSharedSecurityAttributes();
    fd = OpenSharedFile(temp, O_WRONLY | O_CREAT | O_EXCL, sa);
    FreeSharedSecurityAttributes(sa);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    SetError(error, ErrnoText("cannot create a file in the folder of", path, errno));
    return false;
  }

  auto fail = [&](const char* what) {
    int err = errno;
    ::close(fd);
    ::unlink(temp.c_str());
    SetError(error, ErrnoText(what, path, err));
    return false;
  };

  // Keep the permissions the user gave an existing file.
  if (targetExists && ::fchmod(fd, target.st_mode & 07777) != 0) return fail("cannot set the mode of");
  if (!WriteAll(fd, data, size)) return fail("cannot write");
  if (::fsync(fd) != 0) return fail("cannot flush");
  if (::close(fd) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    SetError(error, ErrnoText("cannot close", path, err));
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    SetError(error, ErrnoText("cannot replace", path, err));
    return false;
  }
  FlushFolderOf(path);
  return true;
}

bool ReplaceWithFlushedFile(const std::string& temp, const std::string& target) {
  const int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool flushed = ::fsync(fd) == 0;
  const int err = errno;
  ::close(fd);
  if (!flushed) {
    errno = err;
    return false;
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) return false;
  FlushFolderOf(target);
  return true;
}

std::optional<std::vector<uint8_t>> ReadFileBytes(const std::string& path, size_t limit) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::vector<uint8_t> out;
  uint8_t buf[65536];
  while (out.size() < limit) {
    size_t want = std::min(sizeof buf, limit - out.size());
    ssize_t n = ::read(fd, buf, want);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  ::close(fd);
  return out;
}

std::optional<std::string> ReadTextFile(const std::string& path, size_t limit) {
  auto bytes = ReadFileBytes(path, limit);
  if (!bytes) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

bool AppendToFile(const std::string& path, std::string_view bytes, std::string* error) {
  SharedSecurityAttributes* sa = CreateSharedSecurityAttributes();
  int fd = OpenSharedFile(path, O_WRONLY | O_CREAT | O_APPEND, sa);
  FreeSharedSecurityAttributes(sa);
  if (fd < 0) {
    SetError(error, ErrnoText("cannot open", path, errno));
    return false;
  }
  bool ok = WriteAll(fd, bytes.data(), bytes.size());
  int err = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) SetError(error, ErrnoText("cannot append to", path, err));
  return ok;
}

std::optional<uint64_t> AvailableDiskBytes(const std::string& path) {
  std::string probe = path.empty() ? "." : path;
  struct statvfs vfs{};
  for (;;) {
    if (::statvfs(probe.c_str(), &vfs) == 0) {
      return static_cast<uint64_t>(vfs.f_bavail) * static_cast<uint64_t>(vfs.f_frsize);
    }
    if (errno != ENOENT && errno != ENOTDIR) return std::nullopt;
    // Not there yet: measure the folder it would be created in.
    while (probe.size() > 1 && probe.back() == '/') probe.pop_back();
    size_t slash = probe.find_last_of('/');
    if (slash == std::string::npos) {
      if (probe == ".") return std::nullopt;
      probe = ".";
    } else if (slash == 0) {
      if (probe == "/") return std::nullopt;
      probe = "/";
    } else {
      probe.resize(slash);
    }
  }
}

bool FileExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<uint64_t> FileSize(const std::string& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

int64_t ReadAt(int fd, void* buf, size_t n, uint64_t offset) {
  auto* p = static_cast<uint8_t*>(buf);
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::pread(fd, p + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(done);
}

bool WriteAt(int fd, const void* buf, size_t n, uint64_t offset) {
  const auto* p = static_cast<const uint8_t*>(buf);
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::pwrite(fd, p + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (r == 0) {
      errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(r);
  }
  return true;
}

bool WriteAll(int fd, const void* buf, size_t n) {
  const auto* p = static_cast<const uint8_t*>(buf);
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::write(fd, p + done, n - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (r == 0) {
      errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(r);
  }
  return true;
}

}  // namespace orb
