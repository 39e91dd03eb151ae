// Damaged TIFF data: what libtiff only warns about is still damage to the caller, and
// claims a file cannot hold are refused before any work of their size.
#include <tiffio.h>

#include <chrono>

#include "tests/imagemill/MillTestUtil.h"

using namespace milltest;

namespace {

constexpr uint32_t kW = 64, kH = 8;

// A bilevel fax-coded TIFF of kW x kH pixels, little-endian, one strip.
bool WriteFax(const std::string& path, uint16_t compression) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  if (!t) return false;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kW);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, kH);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, kH);
  std::vector<uint8_t> row(kW / 8);
  for (uint32_t y = 0; y < kH; ++y) {
    for (uint32_t i = 0; i < row.size(); ++i) row[i] = static_cast<uint8_t>((0x0F0F >> (y % 4)) ^ (i * 37));
    if (TIFFWriteScanline(t, row.data(), y, 0) < 0) return false;
  }
  TIFFClose(t);
  return true;
}

// Rewrites the value of a LONG or SHORT entry of the first directory (little-endian file).
bool PatchTag(const std::string& path, uint16_t tag, uint32_t value) {
  std::vector<uint8_t> b;
  {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    int c;
    while ((c = std::fgetc(f)) != EOF) b.push_back(static_cast<uint8_t>(c));
    std::fclose(f);
  }
  auto u16 = [&](size_t o) { return static_cast<uint32_t>(b[o] | (b[o + 1] << 8)); };
  const size_t ifd = b[4] | (b[5] << 8) | (b[6] << 16) | (static_cast<size_t>(b[7]) << 24);
  const uint32_t n = u16(ifd);
  bool found = false;
  for (uint32_t i = 0; i < n; ++i) {
    const size_t e = ifd + 2 + 12 * i;
    if (u16(e) != tag) continue;
    const bool isShort = u16(e + 2) == 3;
    for (int k = 0; k < (isShort ? 2 : 4); ++k) b[e + 8 + k] = static_cast<uint8_t>(value >> (8 * k));
    found = true;
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
  return std::fclose(f) == 0 && ok && found;
}

TEST(DamagedTiff, FaxDataLibtiffOnlyWarnsAboutIsReportedDamagedWithItsRows) {
  TempDir dir;
  struct Case {
    const char* name;
    uint16_t compression;
    uint32_t claimedWidth;  // the data hold kW pixels a line
    const char* warning;    // what libtiff's own tool says of it
  };
  for (const Case& c : {Case{"premature_eol", COMPRESSION_CCITTFAX3, kW + 16, "Premature EOL"},
                        Case{"length_mismatch", COMPRESSION_CCITTFAX3, kW - 16, "Line length mismatch"}}) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(std::string(c.name) + ".tif");
    ASSERT_TRUE(WriteFax(path, c.compression));
    ReadCtx intact;
    ASSERT_EQ(ReadImage(path, &intact), IM_OK);  // the undamaged file reads cleanly
    ASSERT_TRUE(PatchTag(path, TIFFTAG_IMAGEWIDTH, c.claimedWidth));
    if (HaveTool("tiffinfo")) {
      std::string said;
      RunTool("tiffinfo -D '" + path + "'", &said);
      EXPECT_NE(said.find(c.warning), std::string::npos) << said;
    }
    ReadCtx r;
    EXPECT_EQ(ReadImage(path, &r), IM_ERR_CORRUPT);
    EXPECT_EQ(r.headerCalls, 1);
    EXPECT_EQ(r.im.rows.size(), kH);  // what could be read is delivered
  }
}

// A few hundred bytes claiming what they cannot hold: refused before the header callback,
// so no row of that size is ever decoded.
TEST(DamagedTiff, ClaimsTheFileCannotHoldAreRefusedBeforeAnyWork) {
  const std::string data = ORB_TEST_DATA_DIR "/imagemill/";
  for (const char* name : {"bilevel_60000_samples.tif",  // a bilevel image has one sample
                           "deflate_rows_claimed.tif",   // 400 MB of rows from 23 bytes
                           "fax_rows_claimed.tif"}) {    // a million fax lines in 40 bytes
    SCOPED_TRACE(name);
    ReadCtx r;
    const int rc = ReadImage(data + name, &r);
    EXPECT_EQ(rc, IM_ERR_CORRUPT);
    EXPECT_EQ(r.headerCalls, 0);
    EXPECT_TRUE(r.im.rows.empty());
  }
}

// What such files could honestly mean still reads: many white fax lines cost one bit each.
TEST(DamagedTiff, HighlyCompressedHonestFilesStillRead) {
  TempDir dir;
  const std::string path = dir.File("white.tif");
  TIFF* t = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(t, nullptr);
  const uint32_t w = 1728, h = 4000;
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, h);
  std::vector<uint8_t> row(w / 8, 0);
  for (uint32_t y = 0; y < h; ++y) ASSERT_GE(TIFFWriteScanline(t, row.data(), y, 0), 0);
  TIFFClose(t);
  ReadCtx r;
  EXPECT_EQ(ReadImage(path, &r), IM_OK);
  EXPECT_EQ(r.im.rows.size(), h);
}

}  // namespace
