// Transparent PNG pixels come out as they would lie on white paper: composited onto white,
// compared with ImageMagick's flattening onto white.
#include <png.h>

#include "tests/imagemill/MillTestUtil.h"

using namespace milltest;

namespace {

struct PngFixture {
  const char* name;
  int colorType;
  int depth;
  std::vector<uint8_t> pixels;     // rows of 4 pixels in the file's own layout
  std::vector<png_color> palette;  // palette images
  std::vector<uint8_t> trnsAlpha;  // palette transparency
  bool colourKey = false;          // grey/RGB tRNS: the first pixel's value is transparent
};

bool WritePng(const std::string& path, const PngFixture& s) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, 4, 2, s.depth, s.colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), static_cast<int>(s.palette.size()));
  if (!s.trnsAlpha.empty())
    png_set_tRNS(png, info, s.trnsAlpha.data(), static_cast<int>(s.trnsAlpha.size()), nullptr);
  if (s.colourKey) {
    png_color_16 key{};
    key.gray = s.pixels[0];
    key.red = s.pixels[0];
    key.green = s.pixels[1];
    key.blue = s.pixels[2];
    png_set_tRNS(png, info, nullptr, 0, &key);
  }
  png_write_info(png, info);
  const size_t rowBytes = s.pixels.size() / 2;
  for (int y = 0; y < 2; ++y) png_write_row(png, s.pixels.data() + rowBytes * static_cast<size_t>(y));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}

TEST(PngTransparency, TransparentPixelsAreCompositedOntoWhite) {
  if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  TempDir dir;
  const std::vector<PngFixture> fixtures = {
      {"rgba", PNG_COLOR_TYPE_RGB_ALPHA, 8,
       {255, 0, 0, 0, 0, 0, 0, 128, 0, 0, 255, 255, 10, 200, 30, 64,
        0, 0, 0, 0, 40, 50, 60, 255, 255, 255, 255, 1, 100, 100, 100, 200}, {}, {}},
      {"grey_alpha", PNG_COLOR_TYPE_GRAY_ALPHA, 8,
       {0, 0, 0, 128, 90, 255, 200, 30, 17, 254, 0, 1, 255, 0, 60, 100}, {}, {}},
      {"palette_trns", PNG_COLOR_TYPE_PALETTE, 8,
       {0, 1, 2, 3, 3, 2, 1, 0},
       {{255, 0, 0}, {0, 0, 0}, {0, 128, 255}, {9, 9, 9}},
       {0, 128, 255}},
      {"grey_key", PNG_COLOR_TYPE_GRAY, 8, {7, 100, 7, 200, 50, 7, 0, 255}, {}, {}, true},
      {"rgb_key", PNG_COLOR_TYPE_RGB, 8,
       {5, 6, 7, 1, 2, 3, 5, 6, 7, 250, 0, 0, 0, 0, 0, 5, 6, 7, 5, 6, 8, 9, 9, 9}, {}, {}, true},
  };
  for (const PngFixture& s : fixtures) {
    SCOPED_TRACE(s.name);
    const std::string path = dir.File(std::string(s.name) + ".png");
    ASSERT_TRUE(WritePng(path, s));
    std::string ref;
    ASSERT_EQ(RunTool("convert '" + path + "' -background white -alpha remove -alpha off -depth 8 rgb:- 2>/dev/null",
                      &ref),
              0);
    ASSERT_EQ(ref.size(), 4u * 2u * 3u);
    ReadCtx r;
    ASSERT_EQ(ReadImage(path, &r), IM_OK);
    ASSERT_EQ(r.im.rows.size(), 2u);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 4; ++x) {
        const auto p = r.im.Pixel(x, y);
        for (int c = 0; c < 3; ++c)
          EXPECT_NEAR(p[c], static_cast<uint8_t>(ref[static_cast<size_t>((y * 4 + x) * 3 + c)]), 1)
              << x << "," << y << " channel " << c;
      }
  }
}

// The rule itself, at the ends of the range, without any tool.
TEST(PngTransparency, FullyTransparentIsWhiteAndOpaqueKeepsItsColour) {
  TempDir dir;
  PngFixture s{"ends", PNG_COLOR_TYPE_RGB_ALPHA, 8,
            {0, 0, 0, 0, 12, 34, 56, 255, 0, 0, 0, 0, 12, 34, 56, 255,
             0, 0, 0, 0, 12, 34, 56, 255, 0, 0, 0, 0, 12, 34, 56, 255}, {}, {}};
  const std::string path = dir.File("ends.png");
  ASSERT_TRUE(WritePng(path, s));
  ReadCtx r;
  ASSERT_EQ(ReadImage(path, &r), IM_OK);
  ASSERT_EQ(r.im.h.biBitCount, 24);
  EXPECT_EQ(r.im.Pixel(0, 0), (std::array<uint8_t, 3>{255, 255, 255}));
  EXPECT_EQ(r.im.Pixel(1, 0), (std::array<uint8_t, 3>{12, 34, 56}));
}

}  // namespace
