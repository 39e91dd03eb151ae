#include "platform/Folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/Files.h"

namespace orb {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string StripTrailingSlashes(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

// XDG variables count only when they hold an absolute path.
std::string AbsoluteEnv(const char* name) {
  std::string v = Env(name);
  if (v.empty() || v[0] != '/') return {};
  return StripTrailingSlashes(v);
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// Reads XDG_DOCUMENTS_DIR from user-dirs.dirs: a shell-style line
// XDG_DOCUMENTS_DIR="$HOME/Documents" (or an absolute path).
std::string DocumentsFromUserDirs(const std::string& home) {
  std::string config = AbsoluteEnv("XDG_CONFIG_HOME");
  if (config.empty()) config = JoinPath(home, ".config");
  auto text = ReadTextFile(JoinPath(config, "user-dirs.dirs"), 1 << 20);
  if (!text) return {};
  size_t pos = 0;
  while (pos < text->size()) {
    size_t end = text->find('\n', pos);
    if (end == std::string::npos) end = text->size();
    std::string line = Trim(text->substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line[0] == '#') continue;
    const std::string key = "XDG_DOCUMENTS_DIR=";
    if (line.compare(0, key.size(), key) != 0) continue;
    std::string value = line.substr(key.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    // Undo the shell escapes the format allows.
    std::string unescaped;
    for (size_t i = 0; i < value.size(); ++i) {
      if (value[i] == '\\' && i + 1 < value.size()) ++i;
      unescaped += value[i];
    }
    if (unescaped.compare(0, 5, "$HOME") == 0) {
      std::string rest = unescaped.substr(5);
      if (!rest.empty() && rest[0] != '/') return {};
      return StripTrailingSlashes(home + rest);
    }
    if (!unescaped.empty() && unescaped[0] == '/') return StripTrailingSlashes(unescaped);
    return {};
  }
  return {};
}

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (name.empty()) return folder;
  std::string f = folder;
  while (f.size() > 1 && f.back() == '/') f.pop_back();
  size_t start = 0;
  while (start < name.size() && name[start] == '/') ++start;
  if (f == "/") return "/" + name.substr(start);
  return f + "/" + name.substr(start);
}

std::string HomeFolder() {
  std::string home = Env("HOME");
  if (!home.empty()) return StripTrailingSlashes(home);
  std::vector<char> buf(16384);
  struct passwd pw{};
  struct passwd* result = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result &&
      result->pw_dir) {
    return StripTrailingSlashes(result->pw_dir);
  }
  return "/tmp";
}

std::string DataFolderPath() {
  std::string base = AbsoluteEnv("XDG_DATA_HOME");
  if (base.empty()) base = JoinPath(HomeFolder(), ".local/share");
  return JoinPath(base, "OrbalonData");
}

std::string DocumentsFolder() {
  std::string docs = AbsoluteEnv("XDG_DOCUMENTS_DIR");
  if (!docs.empty()) return docs;
  std::string home = HomeFolder();
  docs = DocumentsFromUserDirs(home);
  if (!docs.empty()) return docs;
  return JoinPath(home, "Documents");
}

std::string UserFolderPath() { return JoinPath(DocumentsFolder(), "Orbalon"); }

std::string UserImagesFolderPath() { return JoinPath(UserFolderPath(), "images"); }

std::string ProgramFolderPath() {
  std::vector<char> buf(4096);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buf.size()) {
      std::string exe(buf.data(), static_cast<size_t>(n));
      size_t slash = exe.find_last_of('/');
      if (slash == std::string::npos) return {};
      return slash == 0 ? "/" : exe.substr(0, slash);
    }
    buf.resize(buf.size() * 2);
  }
}

bool EnsureFolder(const std::string& path) {
  if (path.empty()) return false;
  if (IsDirectory(path)) return true;
  std::string p = StripTrailingSlashes(path);
  size_t slash = p.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    if (!EnsureFolder(p.substr(0, slash))) return false;
  }
  if (::mkdir(p.c_str(), 0777) != 0 && errno != EEXIST) return false;
  return IsDirectory(p);
}

bool EnsureUserFolders() {
  return EnsureFolder(UserFolderPath()) && EnsureFolder(UserImagesFolderPath());
}

}  // namespace orb
