// Small helpers the benchmark programs share.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace orb::bench {

// A new folder under $ORB_BENCH_DIR (else $TMPDIR, else /tmp), named after `tag`; empty
// when it cannot be made. The caller removes it.
inline std::string NewTempFolder(const char* tag) {
  const char* base = std::getenv("ORB_BENCH_DIR");
  if (!base || !*base) base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/orb-" + tag + "-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  const char* made = ::mkdtemp(buf.data());
  return made ? std::string(made) : std::string();
}

// A private working folder under $ORB_BENCH_DIR (else $TMPDIR, else /tmp), made once per
// process; `tag` names it so that leftovers are recognisable. The object holding its path
// removes it, with everything in it, when the program ends: a clean-up kept elsewhere ran
// after this static was gone and removed nothing.
class WorkDir {
 public:
  explicit WorkDir(const char* tag) : path_(NewTempFolder(tag)) {}
  ~WorkDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The process's working folder (see WorkDir); made at the first call.
inline const std::string& WorkFolder(const char* tag) {
  static WorkDir folder(tag);
  return folder.path();
}

// Current resident set size in bytes (from /proc/self/statm).
inline int64_t ResidentBytes() {
  std::ifstream f("/proc/self/statm");
  int64_t pages = 0, resident = 0;
  f >> pages >> resident;
  return resident * ::sysconf(_SC_PAGESIZE);
}

}  // namespace orb::bench
