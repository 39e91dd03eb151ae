#include "app/ShellFileOperation.h"

#include "platform/Files.h"
#include "platform/TempNames.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

void CShellFileOperation::Reset() {
  m_sources.clear();
  m_dests.clear();
  m_operationSet = false;
  m_started = false;
  m_title.clear();
  m_op = 0;
  m_owner = nullptr;
  m_flags = 0;
  m_lastRunFlags = 0;
  m_aborted = false;
}

bool CShellFileOperation::AddSourceFile(const std::string& path) {
  m_sources.push_back(path);
  return true;
}

bool CShellFileOperation::AddDestFile(const std::string& path) {
  m_dests.push_back(path);
  return true;
}

void CShellFileOperation::SetOperation(uint32_t op, orb::WindowHandle owner, uint16_t flags) {
  m_op = op;
  m_owner = owner;
  m_flags = flags;
  m_operationSet = true;
}

void CShellFileOperation::SetCopyOperation(orb::WindowHandle owner) {
  SetOperation(FO_COPY, owner, FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR);
}

bool CShellFileOperation::Run(bool* started, int* result) {
  m_started = false;
  if (started) *started = false;
  if (!m_operationSet || m_op < FO_MOVE || m_op > FO_RENAME || m_sources.empty()) return false;
  if (m_op != FO_DELETE && m_dests.size() != 1 && m_dests.size() != m_sources.size()) return false;
  uint16_t flags = m_flags;
  if (m_op != FO_DELETE && m_dests.size() > 1) flags |= FOF_MULTIDESTFILES;
  m_lastRunFlags = flags;
  m_started = true;
  if (started) *started = true;
  m_aborted = false;
  static const std::vector<std::string> kNone;
  int rc = orb::RunFileOperation(m_op, m_sources, m_op == FO_DELETE ? kNone : m_dests, flags, &m_aborted);
  if (result) *result = rc;
  return rc == 0;
}

namespace orb {
namespace {

bool HasWildcard(const std::string& name) { return name.find_first_of("*?") != std::string::npos; }

// Expands a trailing wildcard component; a plain path stays as it is.
std::vector<fs::path> Expand(const std::string& source, int* err) {
  fs::path p(source);
  std::string pattern = p.filename().string();
  if (!HasWildcard(pattern)) return {p};
  std::vector<fs::path> out;
  std::error_code ec;
  fs::path dir = p.parent_path().empty() ? fs::path(".") : p.parent_path();
  for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (fnmatch(pattern.c_str(), name.c_str(), 0) == 0) out.push_back(it->path());
  }
  if (ec) *err = ec.value();
  return out;
}

int CopyFileAtomically(const fs::path& from, const fs::path& to, bool overwrite, bool* aborted) {
  std::error_code ec;
  if (fs::exists(to, ec)) {
    if (!overwrite) {
      *aborted = true;
      return EEXIST;
    }
    if (fs::is_directory(to, ec)) return EISDIR;
  }
  int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return errno;
  std::string tmpl = (to.parent_path() / ("." + to.filename().string() + orb::OwnerMark() + "XXXXXX")).string();
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  int out = ::mkstemp(name.data());
  if (out < 0) {
    int e = errno;
    ::close(in);
    return e;
  }
  // Files the program creates may be read and written by everyone (under the umask).
  mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(out, 0666 & ~mask);
  int rc = 0;
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      rc = errno;
      break;
    }
    if (n == 0) break;
    if (!orb::WriteAll(out, buf, static_cast<size_t>(n))) {
      rc = errno ? errno : EIO;
      break;
    }
  }
  // On the disk before it takes its name: a move deletes the source right after.
  if (rc == 0 && ::fsync(out) != 0) rc = errno;
  if (::close(out) != 0 && rc == 0) rc = errno;
  ::close(in);
  if (rc == 0 && ::rename(name.data(), to.c_str()) != 0) rc = errno;
  if (rc != 0) ::unlink(name.data());
  return rc;
}

int CopyTree(const fs::path& from, const fs::path& to, bool overwrite, bool* aborted) {
  std::error_code ec;
  auto st = fs::symlink_status(from, ec);
  if (ec) return ec.value() ? ec.value() : ENOENT;
  if (fs::is_directory(st)) {
    fs::create_directories(to, ec);
    if (ec) return ec.value();
    for (auto it = fs::directory_iterator(from, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
      int rc = CopyTree(it->path(), to / it->path().filename(), overwrite, aborted);
      if (rc) return rc;
    }
    return ec ? ec.value() : 0;
  }
  if (!fs::is_regular_file(st)) return 0;  // links, devices: not copied
  return CopyFileAtomically(from, to, overwrite, aborted);
}

int MoveOne(const fs::path& from, const fs::path& to, bool overwrite, bool* aborted) {
  std::error_code ec;
  if (fs::exists(to, ec) && !overwrite) {
    *aborted = true;
    return EEXIST;
  }
  fs::rename(from, to, ec);
  if (!ec) return 0;
  if (ec.value() != EXDEV) return ec.value();
  int rc = CopyTree(from, to, overwrite, aborted);
  if (rc) return rc;
  fs::remove_all(from, ec);
  return ec ? ec.value() : 0;
}

}  // namespace

int RunFileOperation(uint32_t op, const std::vector<std::string>& sources,
                     const std::vector<std::string>& dests, uint16_t flags, bool* aborted) {
  bool dummy = false;
  if (!aborted) aborted = &dummy;
  *aborted = false;
  bool overwrite = (flags & FOF_NOCONFIRMATION) != 0;
  bool multi = (flags & FOF_MULTIDESTFILES) != 0;
  std::error_code ec;

  if (op == FO_DELETE) {
    for (const auto& s : sources) {
      int err = 0;
      for (const auto& p : Expand(s, &err)) {
        if (!fs::exists(fs::symlink_status(p, ec))) return ENOENT;
        fs::remove_all(p, ec);
        if (ec) return ec.value();
      }
      if (err) return err;
    }
    return 0;
  }
  if (op != FO_COPY && op != FO_MOVE && op != FO_RENAME) return EINVAL;
  if (dests.empty()) return EINVAL;

  for (size_t i = 0; i < sources.size(); ++i) {
    int err = 0;
    bool wild = HasWildcard(fs::path(sources[i]).filename().string());
    std::vector<fs::path> items = Expand(sources[i], &err);
    if (err) return err;
    if (!wild && !fs::exists(fs::symlink_status(items[0], ec))) return ENOENT;
    for (const auto& from : items) {
      fs::path target;
      if (multi) {
        target = dests[i];
      } else if (op == FO_RENAME) {
        target = dests[0];
      } else {
        fs::path dest(dests[0]);
        bool intoFolder = wild || sources.size() > 1 || fs::is_directory(dest, ec);
        target = intoFolder ? dest / from.filename() : dest;
      }
      if (op == FO_RENAME && target.parent_path().empty()) target = from.parent_path() / target;
      if (!target.parent_path().empty()) {
        fs::create_directories(target.parent_path(), ec);
        if (ec) return ec.value();
      }
      int rc = op == FO_COPY ? CopyTree(from, target, overwrite, aborted)
                             : MoveOne(from, target, overwrite, aborted);
      if (rc) return rc;
    }
  }
  return 0;
}

}  // namespace orb
