// CMYK JPEG files open as RGB: inks become light the way ImageMagick converts them, with the
// inverted inks of files that carry an Adobe marker.
#include <cstdio>
// jpeglib.h needs size_t and FILE first.
#include <jpeglib.h>

#include "tests/imagemill/MillTestUtil.h"

using namespace milltest;

namespace {

constexpr int kW = 16, kH = 8;

uint8_t Ink(int x, int y, int c) { return static_cast<uint8_t>((x * 16 + y * 30 + c * 60) & 255); }

bool WriteCmykJpeg(const std::string& path, bool adobeMarker) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  jpeg_stdio_dest(&c, f);
  c.image_width = kW;
  c.image_height = kH;
  c.input_components = 4;
  c.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&c);
  jpeg_set_colorspace(&c, JCS_CMYK);
  jpeg_set_quality(&c, 100, TRUE);
  c.write_Adobe_marker = adobeMarker ? TRUE : FALSE;
  jpeg_start_compress(&c, TRUE);
  std::vector<uint8_t> row(kW * 4);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x)
      for (int k = 0; k < 4; ++k) row[static_cast<size_t>(x * 4 + k)] = Ink(x, y, k);
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&c, &p, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  return std::fclose(f) == 0;
}

// The file's CMYK samples as libjpeg decodes them, independently of the library.
std::vector<uint8_t> DecodeCmyk(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return {};
  jpeg_decompress_struct d;
  jpeg_error_mgr err;
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_stdio_src(&d, f);
  jpeg_read_header(&d, TRUE);
  d.out_color_space = JCS_CMYK;
  jpeg_start_decompress(&d);
  std::vector<uint8_t> all(static_cast<size_t>(kW) * kH * 4);
  while (d.output_scanline < d.output_height) {
    JSAMPROW p = all.data() + static_cast<size_t>(d.output_scanline) * kW * 4;
    jpeg_read_scanlines(&d, &p, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  std::fclose(f);
  return all;
}

void ExpectRgb(const ReadCtx& r, const std::vector<uint8_t>& rgb, int tolerance) {
  ASSERT_EQ(r.im.h.biBitCount, 24);
  ASSERT_EQ(r.im.rows.size(), static_cast<size_t>(kH));
  ASSERT_EQ(rgb.size(), static_cast<size_t>(kW) * kH * 3);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const auto p = r.im.Pixel(x, y);
      for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(p[c], rgb[static_cast<size_t>((y * kW + x) * 3 + c)], tolerance) << x << "," << y << " " << c;
    }
}

TEST(CmykJpeg, AdobeInvertedInksReadAsImageMagickShowsThem) {
  if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick is not installed";
  TempDir dir;
  const std::string path = dir.File("adobe.jpg");
  ASSERT_TRUE(WriteCmykJpeg(path, true));
  std::string ref;
  ASSERT_EQ(RunTool("convert '" + path + "' -colorspace sRGB -depth 8 rgb:- 2>/dev/null", &ref), 0);
  ReadCtx r;
  ASSERT_EQ(ReadImage(path, &r), IM_OK);
  ExpectRgb(r, std::vector<uint8_t>(ref.begin(), ref.end()), 1);
}

TEST(CmykJpeg, PlainInksWithoutAdobeMarkerLeaveWhatTheirInkAndBlackLeaveOfWhite) {
  TempDir dir;
  const std::string path = dir.File("plain.jpg");
  ASSERT_TRUE(WriteCmykJpeg(path, false));
  const std::vector<uint8_t> cmyk = DecodeCmyk(path);
  ASSERT_EQ(cmyk.size(), static_cast<size_t>(kW) * kH * 4);
  std::vector<uint8_t> rgb;
  for (size_t i = 0; i < cmyk.size(); i += 4)
    for (int c = 0; c < 3; ++c) {
      const double light = (1.0 - cmyk[i + c] / 255.0) * (1.0 - cmyk[i + 3] / 255.0);
      rgb.push_back(static_cast<uint8_t>(light * 255.0 + 0.5));
    }
  ReadCtx r;
  ASSERT_EQ(ReadImage(path, &r), IM_OK);
  ExpectRgb(r, rgb, 1);
}

}  // namespace
