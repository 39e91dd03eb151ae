// Which files can be join items: uncompressed RGB TIFF files only.
#include "engine/JoinSource.h"

#include <gtest/gtest.h>

#include <fstream>

#include "engine/ReadWrite/LineReader.h"
#include "tests/tools/join/JoinTestUtil.h"

namespace {

using namespace jointest;

struct ProbeCase {
  const char* what;
  const char* name;
  const char* extra;  // ImageMagick options when written as a picture; null: written raw
  const char* raw;
  int expected;
};

TEST(ProbeJoinSource, TakesUncompressedRgbTiffOnly) {
  Folder dir;
  const ProbeCase cases[] = {
      {"uncompressed RGB", "rgb.tif", "", nullptr, 0},
      {"uncompressed RGB, big-endian", "rgbmm.tif", "-endian MSB", nullptr, 0},
      {"grey", "grey.tif", "-colorspace gray -type grayscale", nullptr, -1},
      {"LZW-compressed RGB", "lzw.tif", "-compress lzw", nullptr, -1},
      {"a PNG file", "pic.png", "", nullptr, -1},
      {"not an image", "text.tif", nullptr, "II*\0garbage", -1},
      {"empty file", "empty.tif", nullptr, "", -1},
  };
  for (const ProbeCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir / c.name;
    if (c.extra) {
      Picture p = Noise(37, 11, 3);
      const std::string extra = c.extra;
      if (extra.find("-compress") != std::string::npos || std::string(c.name).ends_with(".png")) {
        // ImageMagick's own choice of compression would be overridden by WriteTiff's.
        const std::string tmp = WriteTiff(dir / "src.tif", p);
        ASSERT_EQ(std::system(("convert '" + tmp + "' " + extra + " '" + path + "'").c_str()), 0);
      } else {
        WriteTiff(path, p, 150, extra);
      }
    } else {
      std::ofstream(path, std::ios::binary) << std::string(c.raw, c.raw[0] ? 11 : 0);
    }
    ImageState* s = orb::NewImageState();
    s->sourcePath = path;
    {
      LineReader probe(s);
      EXPECT_EQ(ProbeJoinSource(&probe), c.expected);
    }
    if (c.expected == 0) {
      EXPECT_EQ(s->width, 37);
      EXPECT_EQ(s->height, 11);
      EXPECT_EQ(s->xDpi, 150);
      EXPECT_EQ(s->region.left, 0);
      EXPECT_EQ(s->region.right, 36);
      EXPECT_EQ(s->region.bottom, 10);
      EXPECT_EQ(s->sourceForm, SF_OWN_TIFF);
    }
    EXPECT_EQ(s->fileHandle, kNoFile);
    orb::FreeImageChain(s);
  }
  ImageState* missing = orb::NewImageState();
  missing->sourcePath = dir / "missing.tif";
  LineReader probe(missing);
  EXPECT_EQ(ProbeJoinSource(&probe), -1);
  orb::FreeImageChain(missing);
}

}  // namespace
