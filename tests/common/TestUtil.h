// Helpers of the application tests: private temporary folders and small zip archives.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace orbtest {

// A folder of its own under the test temporary folder, removed at the end of the test.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = ::testing::TempDir() + "orbapp.XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    char* made = ::mkdtemp(buf.data());
    EXPECT_NE(made, nullptr);
    path_ = made ? made : "";
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A folder of the running test's own under the test temporary folder, named `prefix`, this
// process and the test (runs side by side do not meet), empty at the start.
inline std::filesystem::path FreshTestFolder(const std::string& prefix) {
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) /
                                    (prefix + "." + std::to_string(::getpid()) + "." +
                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

inline void WriteFile(const std::filesystem::path& p, const std::string& content) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << content;
}

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A zip archive of stored (uncompressed) members, in the given order.
inline std::string MakeZip(const std::vector<std::pair<std::string, std::string>>& members) {
  auto u16 = [](std::string& s, unsigned v) { s += char(v & 0xFF); s += char((v >> 8) & 0xFF); };
  auto u32 = [&](std::string& s, uint32_t v) { u16(s, v & 0xFFFF); u16(s, v >> 16); };
  std::string out, dir;
  for (const auto& [name, data] : members) {
    uint32_t crc = static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(data.data()),
                                               static_cast<uInt>(data.size())));
    uint32_t offset = static_cast<uint32_t>(out.size());
    u32(out, 0x04034b50); u16(out, 10); u16(out, 0); u16(out, 0); u16(out, 0); u16(out, 0);
    u32(out, crc); u32(out, uint32_t(data.size())); u32(out, uint32_t(data.size()));
    u16(out, unsigned(name.size())); u16(out, 0);
    out += name;
    out += data;
    u32(dir, 0x02014b50); u16(dir, 20); u16(dir, 10); u16(dir, 0); u16(dir, 0); u16(dir, 0); u16(dir, 0);
    u32(dir, crc); u32(dir, uint32_t(data.size())); u32(dir, uint32_t(data.size()));
    u16(dir, unsigned(name.size())); u16(dir, 0); u16(dir, 0); u16(dir, 0); u16(dir, 0); u32(dir, 0);
    u32(dir, offset);
    dir += name;
  }
  uint32_t dirOffset = static_cast<uint32_t>(out.size());
  out += dir;
  u32(out, 0x06054b50); u16(out, 0); u16(out, 0);
  u16(out, unsigned(members.size())); u16(out, unsigned(members.size()));
  u32(out, uint32_t(dir.size())); u32(out, dirOffset); u16(out, 0);
  return out;
}

// The folder of the running test program: the program folder of the build.
inline std::filesystem::path ProgramFolder() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

}  // namespace orbtest
