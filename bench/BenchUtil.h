// Small helpers the benchmark programs share.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace orb::bench {

// A private working folder under $ORB_BENCH_DIR (else $TMPDIR, else /tmp), made once per
// process; `tag` names it so that leftovers are recognisable.
inline std::string WorkFolder(const char* tag) {
  static std::string folder = [tag] {
    const char* base = std::getenv("ORB_BENCH_DIR");
    if (!base || !*base) base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/orb-" + tag + "-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    char* made = ::mkdtemp(buf.data());
    return std::string(made ? made : "/tmp");
  }();
  return folder;
}

// Current resident set size in bytes (from /proc/self/statm).
inline int64_t ResidentBytes() {
  std::ifstream f("/proc/self/statm");
  int64_t pages = 0, resident = 0;
  f >> pages >> resident;
  return resident * ::sysconf(_SC_PAGESIZE);
}

}  // namespace orb::bench
