// Pictures in memory written as BMP files at each depth, read back by ImageMagick.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "engine/SharedRoutines.h"
#include "tests/common/ProcessUtil.h"
#include "tests/platform/TempFolder.h"

namespace {

using orbtest::Shell;

std::vector<uint8_t> Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

// Every pixel as ImageMagick reads the file, "r,g,b" in rows from the top.
std::vector<std::string> PixelsOf(const std::string& path) {
  const std::string text = Shell("convert '" + path + "' -depth 8 -type TrueColor txt:- 2>&1");
  std::vector<std::string> pixels;
  static const std::regex line(R"(^\d+,\d+: \(\s*(\d+),\s*(\d+),\s*(\d+))");
  std::smatch m;
  std::string::size_type start = 0;
  while (start < text.size()) {
    std::string::size_type end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string l = text.substr(start, end - start);
    if (std::regex_search(l, m, line)) pixels.push_back(m[1].str() + "," + m[2].str() + "," + m[3].str());
    start = end + 1;
  }
  return pixels;
}

// A 5 x 3 picture: the rows are black-white-red-green-blue, then white, then black, so
// that a file written upside down or with its colours swapped shows at once.
struct Picture {
  static constexpr int32_t kWidth = 5, kHeight = 3;
  std::array<uint8_t, kWidth * kHeight * 3> rgb{};
  Picture() {
    const uint8_t first[kWidth][3] = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    for (int x = 0; x < kWidth; ++x)
      for (int c = 0; c < 3; ++c) {
        rgb[3 * x + c] = first[x][c];
        rgb[3 * (kWidth + x) + c] = 255;
        rgb[3 * (2 * kWidth + x) + c] = 0;
      }
  }
  orb::BitmapPixels View() const {
    orb::BitmapPixels b;
    b.width = kWidth;
    b.height = kHeight;
    b.bitsPerPixel = 24;
    b.pixels = rgb.data();
    b.stride = kWidth * 3;
    b.xDpi = 200;
    b.yDpi = 100;
    return b;
  }
};

TEST(SaveBitmapAsBmpFile, EachDepthReadsBackWithItsColours) {
  orb::testing::TempFolder dir;
  Picture pic;
  const std::vector<std::string> exact = {"0,0,0",       "255,255,255", "255,0,0",     "0,255,0",    "0,0,255",
                                          "255,255,255", "255,255,255", "255,255,255", "255,255,255", "255,255,255",
                                          "0,0,0",       "0,0,0",       "0,0,0",       "0,0,0",       "0,0,0"};
  std::vector<std::string> bilevel = exact;
  // Pure red, green and blue are nearer to black than to white.
  bilevel[2] = bilevel[3] = bilevel[4] = "0,0,0";
  const struct {
    int bits;
    uint32_t dataOffset;  // 54 + 4 x table entries
    uint32_t rowBytes;    // ((bits x width + 31) / 32) x 4
    std::vector<std::string> pixels;
  } cases[] = {
      {24, 54, 16, exact},
      {8, 54 + 4 * 256, 8, exact},
      {4, 54 + 4 * 16, 4, exact},
      {1, 54 + 4 * 2, 4, bilevel},
  };
  for (const auto& c : cases) {
    const std::string path = dir / ("p" + std::to_string(c.bits) + ".bmp");
    ASSERT_TRUE(SaveBitmapAsBmpFile(pic.View(), path, c.bits)) << c.bits;
    const std::vector<uint8_t> b = Bytes(path);
    ASSERT_GE(b.size(), 54u);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(U32(b, 2), b.size()) << c.bits;
    EXPECT_EQ(U32(b, 10), c.dataOffset) << c.bits;
    EXPECT_EQ(U32(b, 14), 40u);
    EXPECT_EQ(b[28], c.bits);
    // trunc(dpi x 39.37) in doubles: 39.37 is a little less than itself there.
    EXPECT_EQ(U32(b, 38), static_cast<uint32_t>(200 * 39.37));
    EXPECT_EQ(U32(b, 42), static_cast<uint32_t>(100 * 39.37));
    EXPECT_EQ(b.size(), c.dataOffset + 3 * c.rowBytes) << c.bits;
    // The first row in the file is the bottom (black) row.
    if (c.bits == 24) {
      for (size_t i = 0; i < 15; ++i) EXPECT_EQ(b[54 + i], 0) << i;
      // The top row, last in the file, holds red as blue, green, red.
      EXPECT_EQ(b[54 + 2 * 16 + 6], 0);
      EXPECT_EQ(b[54 + 2 * 16 + 8], 255);
    }
    EXPECT_EQ(Shell("identify -format '%w %h' '" + path + "'"), "5 3") << c.bits;
    EXPECT_EQ(PixelsOf(path), c.pixels) << c.bits;
  }
}

TEST(SaveBitmapAsBmpFile, AnIndexedPictureKeepsItsTableAndIndexes) {
  orb::testing::TempFolder dir;
  std::array<ColourBytes, 256> colours{};
  for (int i = 0; i < 256; ++i) colours[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), 7};
  // Two rows stored bottom row first: the file's first row is the stored first row.
  const uint8_t rows[2][3] = {{10, 20, 30}, {200, 201, 202}};
  orb::BitmapPixels b;
  b.width = 3;
  b.height = 2;
  b.bitsPerPixel = 8;
  b.pixels = &rows[0][0];
  b.stride = 3;
  b.bottomUp = true;
  b.colours = colours.data();
  const std::string path = dir / "i.bmp";
  ASSERT_TRUE(SaveBitmapAsBmpFile(b, path, 8));
  const std::vector<uint8_t> f = Bytes(path);
  ASSERT_EQ(f.size(), 54u + 1024 + 2 * 4);
  EXPECT_EQ(f[54 + 4 * 10 + 2], 10);       // red of entry 10
  EXPECT_EQ(f[54 + 4 * 10 + 1], 245);      // its green
  EXPECT_EQ(f[54 + 4 * 10 + 0], 7);        // its blue
  EXPECT_EQ(f[1078], 10);                  // bottom row first
  EXPECT_EQ(f[1082 + 2], 202);
  const std::vector<std::string> expected = {"200,55,7", "201,54,7", "202,53,7", "10,245,7", "20,235,7", "30,225,7"};
  EXPECT_EQ(PixelsOf(path), expected);
}

TEST(SaveBitmapAsBmpFile, RefusesWhatItCannotWriteAndKeepsTheOlderFile) {
  orb::testing::TempFolder dir;
  Picture pic;
  const std::string path = dir / "keep.bmp";
  ASSERT_TRUE(SaveBitmapAsBmpFile(pic.View(), path, 24));
  const std::vector<uint8_t> before = Bytes(path);
  EXPECT_FALSE(SaveBitmapAsBmpFile(pic.View(), path, 16));  // no such depth here
  EXPECT_FALSE(SaveBitmapAsBmpFile(pic.View(), path, 2));
  orb::BitmapPixels empty = pic.View();
  empty.height = 0;
  EXPECT_FALSE(SaveBitmapAsBmpFile(empty, path, 24));
  orb::BitmapPixels noTable = pic.View();
  noTable.bitsPerPixel = 8;  // indexes without a table
  EXPECT_FALSE(SaveBitmapAsBmpFile(noTable, path, 8));
  EXPECT_EQ(Bytes(path), before);
  // A folder that does not exist: the file cannot be created.
  EXPECT_FALSE(SaveBitmapAsBmpFile(pic.View(), dir / "no/such/folder/x.bmp", 24));
  // Nothing is left beside the file.
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 1u);
}

}  // namespace
