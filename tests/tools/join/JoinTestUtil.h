// Helpers of the join tests: RGB pictures made here, written to uncompressed TIFF files by
// ImageMagick, and read back from the joined file by ImageMagick.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/common/ProcessUtil.h"

namespace jointest {

namespace fs = std::filesystem;

using orbtest::Shell;

// W x H R, G, B pixels, top line first.
struct Picture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgb;
  Picture() = default;
  Picture(int32_t w, int32_t h, uint8_t fill = 255)
      : width(w), height(h), rgb(static_cast<size_t>(w) * static_cast<size_t>(h) * 3, fill) {}
  uint8_t* At(int32_t x, int32_t y) { return rgb.data() + (static_cast<size_t>(y) * width + x) * 3; }
  const uint8_t* At(int32_t x, int32_t y) const {
    return rgb.data() + (static_cast<size_t>(y) * width + x) * 3;
  }
  void Set(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b) {
    uint8_t* p = At(x, y);
    p[0] = r, p[1] = g, p[2] = b;
  }
  bool IsWhite(int32_t x, int32_t y) const {
    const uint8_t* p = At(x, y);
    return p[0] == 255 && p[1] == 255 && p[2] == 255;
  }
};

// A picture no two pixels of which are likely alike (a fixed pseudo-random pattern).
inline Picture Noise(int32_t w, int32_t h, uint32_t seed) {
  Picture p(w, h);
  uint32_t s = seed * 2654435761u + 1;
  for (uint8_t& b : p.rgb) {
    s = s * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(s >> 24);
  }
  return p;
}

// Writes `p` as an uncompressed RGB TIFF at `dpi` through ImageMagick.
inline std::string WriteTiff(const fs::path& path, const Picture& p, int dpi = 100, const std::string& extra = "") {
  const fs::path raw = path.string() + ".rgb";
  std::ofstream(raw, std::ios::binary).write(reinterpret_cast<const char*>(p.rgb.data()),
                                             static_cast<std::streamsize>(p.rgb.size()));
  const std::string cmd = "convert -size " + std::to_string(p.width) + "x" + std::to_string(p.height) +
                          " -depth 8 rgb:'" + raw.string() + "' -units PixelsPerInch -density " +
                          std::to_string(dpi) + " -type TrueColor " + extra +
                          " -compress none '" + path.string() + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  fs::remove(raw);
  return path.string();
}

// The image in `path` as ImageMagick reads it (empty when it cannot).
inline Picture ReadBack(const std::string& path) {
  Picture p;
  const std::string size = Shell("identify -format '%w %h' '" + path + "' 2>/dev/null");
  if (std::sscanf(size.c_str(), "%d %d", &p.width, &p.height) != 2) return Picture{};
  const std::string rgb = Shell("convert '" + path + "' -depth 8 rgb:- 2>/dev/null");
  if (rgb.size() != static_cast<size_t>(p.width) * static_cast<size_t>(p.height) * 3) return Picture{};
  p.rgb.assign(rgb.begin(), rgb.end());
  return p;
}

// A folder of its own for one test.
class Folder {
 public:
  Folder() {
    std::string tmpl = ::testing::TempDir() + "join.XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    char* made = ::mkdtemp(buf.data());
    EXPECT_NE(made, nullptr);
    path_ = made ? made : "";
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

}  // namespace jointest
