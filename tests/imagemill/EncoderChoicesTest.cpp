// Choices made for speed leave the files' contents as they were: JPEG 2000 is the same file
// on one thread and on many, PNG rows still decode to the very pixels, TIFF with JPEG keeps
// its quality with its larger strips. Every file is read back with the format's own library
// or tool, not with ours.
#include <png.h>
#include <tiffio.h>
#include <zlib.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>

#include "tests/imagemill/MillTestUtil.h"

using namespace milltest;

namespace {

std::string Q(const std::string& s) { return "'" + s + "'"; }

std::vector<uint8_t> Bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// Sets an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) { ::setenv(name, value, 1); }
  ~ScopedEnv() { ::unsetenv(name_); }

 private:
  const char* name_;
};

// Reads a binary PGM or PPM as opj_decompress writes it (a comment line may come first).
bool ReadPnm(const std::string& path, Image* im) {
  const std::vector<uint8_t> b = Bytes(path);
  size_t at = 0;
  auto field = [&]() {
    std::string t;
    for (;;) {
      while (at < b.size() && std::isspace(b[at])) ++at;
      if (at >= b.size() || b[at] != '#') break;
      while (at < b.size() && b[at] != '\n') ++at;  // a comment line
    }
    while (at < b.size() && !std::isspace(b[at])) t.push_back(static_cast<char>(b[at++]));
    return t;
  };
  const std::string magic = field();
  const int w = std::atoi(field().c_str()), h = std::atoi(field().c_str()), max = std::atoi(field().c_str());
  ++at;  // the one white-space byte before the samples
  if ((magic != "P5" && magic != "P6") || w <= 0 || h <= 0 || max != 255) return false;
  const size_t comps = magic == "P6" ? 3 : 1;
  const size_t rowBytes = static_cast<size_t>(w) * comps;
  if (b.size() < at + rowBytes * static_cast<size_t>(h)) return false;
  im->h.biWidth = w;
  im->h.biHeight = h;
  im->h.biBitCount = static_cast<uint16_t>(comps * 8);
  im->grey = comps == 1;
  im->rows.clear();
  for (int y = 0; y < h; ++y) {
    const uint8_t* r = b.data() + at + rowBytes * static_cast<size_t>(y);
    im->rows.emplace_back(r, r + rowBytes);
  }
  return true;
}

TEST(EncoderChoices, JpegTwoThousandIsTheSameFileOnOneThreadAndOnMany) {
  TempDir dir;
  // Several tiles across and down, partial at the edges, so that many code blocks run at once.
  for (Kind kind : {Kind::Rgb, Kind::Grey}) {
    const Image src = MakeImage(kind, 2300, 600);
    for (int quality : {1000, 100}) {
      ASSERT_EQ(IM_Jp2SetQuality(quality), IM_OK);
      {
        ScopedEnv one("IMAGEMILL_JP2_THREADS", "1");
        ASSERT_EQ(WriteImage(dir.File("one.jp2"), 5, src), IM_OK);
      }
      ASSERT_EQ(IM_Jp2SetQuality(quality), IM_OK);
      {
        ScopedEnv many("IMAGEMILL_JP2_THREADS", "7");
        ASSERT_EQ(WriteImage(dir.File("many.jp2"), 5, src), IM_OK);
      }
      const auto one = Bytes(dir.File("one.jp2")), many = Bytes(dir.File("many.jp2"));
      ASSERT_GT(one.size(), 1000u);
      EXPECT_TRUE(one == many) << KindName(kind) << " quality " << quality;
      if (quality == 1000 && HaveTool("opj_decompress")) {
        const std::string pnm = dir.File(kind == Kind::Rgb ? "many.ppm" : "many.pgm");
        std::string out;
        ASSERT_EQ(RunTool("opj_decompress -i " + Q(dir.File("many.jp2")) + " -o " + Q(pnm), &out), 0) << out;
        Image back;
        ASSERT_TRUE(ReadPnm(pnm, &back));
        ASSERT_EQ(back.h.biWidth, 2300);
        ASSERT_EQ(back.h.biHeight, 600);
        EXPECT_EQ(Compare(src, back).max, 0) << KindName(kind);
      }
    }
  }
  IM_Jp2SetQuality(1000);
}

TEST(EncoderChoices, JpegTwoThousandReadsTheSameOnOneThreadAndOnMany) {
  TempDir dir;
  const Image src = MakeImage(Kind::Rgb, 1500, 700);
  ASSERT_EQ(IM_Jp2SetQuality(50), IM_OK);
  ASSERT_EQ(WriteImage(dir.File("lossy.jp2"), 5, src), IM_OK);
  ReadCtx one, many;
  {
    ScopedEnv e("IMAGEMILL_JP2_THREADS", "1");
    ASSERT_EQ(ReadImage(dir.File("lossy.jp2"), &one), IM_OK);
  }
  {
    ScopedEnv e("IMAGEMILL_JP2_THREADS", "6");
    ASSERT_EQ(ReadImage(dir.File("lossy.jp2"), &many), IM_OK);
  }
  ASSERT_EQ(one.im.rows.size(), 700u);
  EXPECT_TRUE(one.im.rows == many.im.rows);
  EXPECT_LT(Compare(src, many.im).mean, 6.0);
}

// The rows of a PNG file as libpng decodes them, and the filter type byte of every row
// (from the inflated image data: the file is not interlaced).
struct PngRows {
  int width = 0, height = 0, depth = 0, color = 0;
  std::vector<std::vector<uint8_t>> rows;
  std::vector<int> filters;
};

bool DecodePng(const std::string& path, PngRows* out) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_read_info(png, info);
  out->width = static_cast<int>(png_get_image_width(png, info));
  out->height = static_cast<int>(png_get_image_height(png, info));
  out->depth = png_get_bit_depth(png, info);
  out->color = png_get_color_type(png, info);
  const size_t rb = png_get_rowbytes(png, info);
  out->rows.assign(static_cast<size_t>(out->height), std::vector<uint8_t>(rb));
  for (auto& r : out->rows) png_read_row(png, r.data(), nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);

  // The filter bytes: every IDAT chunk's data inflated as one stream.
  const std::vector<uint8_t> b = Bytes(path);
  std::vector<uint8_t> z;
  for (size_t at = 8; at + 12 <= b.size();) {
    const uint32_t len = uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
    if (at + 12 + len > b.size()) return false;
    if (std::memcmp(&b[at + 4], "IDAT", 4) == 0) z.insert(z.end(), b.begin() + long(at + 8), b.begin() + long(at + 8 + len));
    at += 12 + len;
  }
  std::vector<uint8_t> raw((rb + 1) * static_cast<size_t>(out->height));
  uLongf rawLen = static_cast<uLongf>(raw.size());
  if (uncompress(raw.data(), &rawLen, z.data(), static_cast<uLong>(z.size())) != Z_OK || rawLen != raw.size())
    return false;
  for (int y = 0; y < out->height; ++y) out->filters.push_back(raw[static_cast<size_t>(y) * (rb + 1)]);
  return true;
}

TEST(EncoderChoices, PngRowsAreUnfilteredAndDecodeToTheSamePixels) {
  TempDir dir;
  for (Kind kind : {Kind::Rgb, Kind::Grey, Kind::Pal256, Kind::Bw}) {
    const Image src = MakeImage(kind, 301, 97);
    const std::string path = dir.File(std::string("p_") + KindName(kind) + ".png");
    ASSERT_EQ(WriteImage(path, 3, src), IM_OK);
    PngRows p;
    ASSERT_TRUE(DecodePng(path, &p)) << KindName(kind);
    ASSERT_EQ(p.width, 301);
    ASSERT_EQ(p.height, 97);
    for (int y = 0; y < p.height; ++y) ASSERT_EQ(p.filters[static_cast<size_t>(y)], 0) << KindName(kind) << " row " << y;
    for (int y = 0; y < p.height; ++y) {
      const auto& row = p.rows[static_cast<size_t>(y)];
      for (int x = 0; x < 301; ++x) {
        const auto want = src.Pixel(x, y);
        switch (kind) {
          case Kind::Rgb:
            ASSERT_EQ(row[3 * x], want[0]);
            ASSERT_EQ(row[3 * x + 1], want[1]);
            ASSERT_EQ(row[3 * x + 2], want[2]);
            break;
          case Kind::Grey:
            ASSERT_EQ(row[x], want[0]);
            break;
          case Kind::Pal256:
            // The index is kept, and so is the table it points into.
            ASSERT_EQ(p.color, PNG_COLOR_TYPE_PALETTE);
            ASSERT_EQ(row[x], src.rows[static_cast<size_t>(y)][x]);
            break;
          default: {
            ASSERT_EQ(p.depth, 1);
            const bool white = (row[x >> 3] >> (7 - (x & 7))) & 1;
            ASSERT_EQ(white ? 255 : 0, want[0]) << x << "," << y;
            break;
          }
        }
      }
    }
  }
}

// Writes the image as a binary PGM or PPM, the input of opj_compress.
void WritePnm(const std::string& path, const Image& im) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fprintf(f, "%s\n%d %d\n255\n", im.grey ? "P5" : "P6", im.h.biWidth, im.h.biHeight);
  for (const auto& r : im.rows) std::fwrite(r.data(), 1, r.size(), f);
  std::fclose(f);
}

// Lossless tiles are coded on several codecs at once and put together in one codestream:
// the file is byte for byte the one codec's, also with edge tiles of one column or one row,
// a single tile row, and white rows filling an image that ended early.
TEST(EncoderChoices, JpegTwoThousandLosslessTilesCodedAtOnceAreOneCodecsFile) {
  TempDir dir;
  const struct {
    Kind kind;
    int w, h;
    int stopAt;
  } cases[] = {
      {Kind::Grey, 3000, 100, -1}, {Kind::Rgb, 1100, 700, -1}, {Kind::Rgb, 1024, 257, -1},
      {Kind::Grey, 1025, 300, -1}, {Kind::Rgb, 2100, 800, 300},
  };
  ASSERT_EQ(IM_Jp2SetQuality(1000), IM_OK);
  for (const auto& c : cases) {
    const std::string what = std::string(KindName(c.kind)) + " " + std::to_string(c.w) + "x" + std::to_string(c.h);
    const Image src = MakeImage(c.kind, c.w, c.h);
    for (const char* threads : {"1", "4"}) {
      ScopedEnv e("IMAGEMILL_JP2_THREADS", threads);
      WriteCtx ctx{&src};
      ctx.stopAtRow = c.stopAt;
      const int rc = WriteImage(dir.File(std::string("t") + threads + ".jp2"), 5, src, &ctx);
      if (c.stopAt < 0) {
        ASSERT_EQ(rc, IM_OK) << what;
      }
    }
    const auto one = Bytes(dir.File("t1.jp2")), many = Bytes(dir.File("t4.jp2"));
    ASSERT_GT(one.size(), 100u) << what;
    EXPECT_TRUE(one == many) << what;
    if (!HaveTool("opj_decompress")) continue;
    const std::string pnm = dir.File(c.kind == Kind::Rgb ? "t4.ppm" : "t4.pgm");
    std::string out;
    ASSERT_EQ(RunTool("opj_decompress -i " + Q(dir.File("t4.jp2")) + " -o " + Q(pnm), &out), 0) << out;
    Image back;
    ASSERT_TRUE(ReadPnm(pnm, &back)) << what;
    ASSERT_EQ(back.h.biWidth, c.w);
    ASSERT_EQ(back.h.biHeight, c.h);
    const int rows = c.stopAt < 0 ? c.h : c.stopAt;
    for (int y = 0; y < c.h; ++y) {
      std::vector<uint8_t> want = y < rows ? src.rows[static_cast<size_t>(y)]
                                           : std::vector<uint8_t>(src.rows[0].size(), 255);
      ASSERT_TRUE(back.rows[static_cast<size_t>(y)] == want) << what << " row " << y;
    }
  }
}

// Files of several tiles are decoded a tile per worker at once: every count of threads gives
// OpenJPEG's own decoder's pixels, whatever the tiles' size, offsets or coding, and the rows
// still arrive in order.
TEST(EncoderChoices, JpegTwoThousandTilesDecodedAtOnceGiveOpenJpegsPixels) {
  if (!HaveTool("opj_compress") || !HaveTool("opj_decompress")) GTEST_SKIP() << "OpenJPEG tools missing";
  TempDir dir;
  const struct {
    const char* name;
    const char* args;  // empty: our own writer's file (tiles of 1024 x 256)
    const char* ext;
  } variants[] = {
      {"ours", "", "jp2"},
      {"small tiles", "-t 128,96", "jp2"},
      {"offset image and tiles", "-t 128,96 -d 37,21 -T 10,5", "j2k"},
      {"lossy, tall tiles", "-t 200,450 -r 20", "jp2"},
      {"one tile row", "-t 64,2000", "jp2"},
  };
  for (Kind kind : {Kind::Rgb, Kind::Grey}) {
    const Image src = MakeImage(kind, 2300, 700);
    const std::string pnm = dir.File(kind == Kind::Rgb ? "src.ppm" : "src.pgm");
    WritePnm(pnm, src);
    for (const auto& v : variants) {
      const std::string what = std::string(KindName(kind)) + ", " + v.name;
      const std::string file = dir.File(std::string("t") + std::to_string(&v - variants) + "." + v.ext);
      std::string msg;
      if (*v.args) {
        ASSERT_EQ(RunTool("opj_compress -i " + Q(pnm) + " -o " + Q(file) + " " + v.args, &msg), 0) << msg;
      } else {
        ASSERT_EQ(IM_Jp2SetQuality(1000), IM_OK);
        ASSERT_EQ(WriteImage(file, 5, src), IM_OK);
      }
      const std::string ref = dir.File(kind == Kind::Rgb ? "ref.ppm" : "ref.pgm");
      ASSERT_EQ(RunTool("opj_decompress -i " + Q(file) + " -o " + Q(ref), &msg), 0) << msg;
      Image want;
      ASSERT_TRUE(ReadPnm(ref, &want)) << what;
      if (std::strstr(v.args, "-r") == nullptr) {
        EXPECT_EQ(Compare(src, want).max, 0) << what;
      }
      for (const char* threads : {"1", "3", "8"}) {
        ScopedEnv e("IMAGEMILL_JP2_THREADS", threads);
        ReadCtx r;
        ASSERT_EQ(ReadImage(file, &r), IM_OK) << what << ", threads " << threads;
        ASSERT_EQ(r.im.rows.size(), 700u) << what;
        EXPECT_TRUE(r.order) << what;
        EXPECT_EQ(r.im.h.biWidth, 2300) << what;
        EXPECT_EQ(Compare(want, r.im).max, 0) << what << ", threads " << threads;
      }
    }
  }
}

// A stop from the rows' receiver and a file cut short end the read with tiles decoded at
// once as they do on one decoder: the same result, the same rows, no worker left behind.
TEST(EncoderChoices, JpegTwoThousandTilesDecodedAtOnceStopAndFailAsOnOneDecoder) {
  TempDir dir;
  const Image src = MakeImage(Kind::Rgb, 2300, 700);
  ASSERT_EQ(IM_Jp2SetQuality(1000), IM_OK);
  const std::string whole = dir.File("whole.jp2");
  ASSERT_EQ(WriteImage(whole, 5, src), IM_OK);
  std::vector<uint8_t> b = Bytes(whole);
  const std::string cut = dir.File("cut.jp2");
  {
    std::ofstream f(cut, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size() * 6 / 10));
  }
  for (int stopAt : {0, 255, 256, 600}) {
    ReadCtx one, many;
    one.stopAtRow = many.stopAtRow = stopAt;
    {
      ScopedEnv e("IMAGEMILL_JP2_THREADS", "1");
      EXPECT_EQ(ReadImage(whole, &one), IM_STOPPED);
    }
    {
      ScopedEnv e("IMAGEMILL_JP2_THREADS", "5");
      EXPECT_EQ(ReadImage(whole, &many), IM_STOPPED);
    }
    EXPECT_EQ(many.im.rows.size(), static_cast<size_t>(stopAt));
    EXPECT_TRUE(one.im.rows == many.im.rows) << stopAt;
  }
  ReadCtx one, many;
  int rcOne = 0, rcMany = 0;
  {
    ScopedEnv e("IMAGEMILL_JP2_THREADS", "1");
    rcOne = ReadImage(cut, &one);
  }
  {
    ScopedEnv e("IMAGEMILL_JP2_THREADS", "5");
    rcMany = ReadImage(cut, &many);
  }
  EXPECT_NE(rcMany, IM_OK);
  EXPECT_EQ(rcMany, rcOne);
  EXPECT_LT(many.im.rows.size(), 700u);
  EXPECT_TRUE(one.im.rows == many.im.rows);
}

// The image data are deflated in blocks on several threads: the file is the same with any
// count, libpng and zlib read it back (chunk CRCs, the stream's checksum) to the very rows,
// also when the data end exactly on a block's end or fill less than one block.
TEST(EncoderChoices, PngDeflatedInBlocksIsTheSameFileOnOneThreadAndOnMany) {
  TempDir dir;
  const struct {
    Kind kind;
    int w, h;
  } cases[] = {
      {Kind::Rgb, 2300, 600},  // about 16 blocks
      {Kind::Grey, 1023, 256}, // a row and its filter byte are 1 KB: exactly one block
      {Kind::Grey, 1023, 512}, // exactly two
      {Kind::Grey, 1, 1},
      {Kind::Bw, 3001, 700},
      {Kind::Pal256, 700, 500},
  };
  for (const auto& c : cases) {
    const std::string what = std::string(KindName(c.kind)) + " " + std::to_string(c.w) + "x" + std::to_string(c.h);
    const Image src = MakeImage(c.kind, c.w, c.h);
    {
      ScopedEnv e("IMAGEMILL_PNG_THREADS", "1");
      ASSERT_EQ(WriteImage(dir.File("one.png"), 3, src), IM_OK) << what;
    }
    {
      ScopedEnv e("IMAGEMILL_PNG_THREADS", "6");
      ASSERT_EQ(WriteImage(dir.File("many.png"), 3, src), IM_OK) << what;
    }
    EXPECT_TRUE(Bytes(dir.File("one.png")) == Bytes(dir.File("many.png"))) << what;
    PngRows p;
    ASSERT_TRUE(DecodePng(dir.File("many.png"), &p)) << what;
    ASSERT_EQ(p.width, c.w);
    ASSERT_EQ(p.height, c.h);
    ReadCtx back;
    ASSERT_EQ(ReadImage(dir.File("many.png"), &back), IM_OK) << what;
    EXPECT_EQ(Compare(src, back.im).max, 0) << what;
    if (c.kind == Kind::Grey || c.kind == Kind::Pal256) {
      for (int y = 0; y < c.h; ++y)
        ASSERT_TRUE(std::equal(p.rows[static_cast<size_t>(y)].begin(), p.rows[static_cast<size_t>(y)].end(),
                               src.rows[static_cast<size_t>(y)].begin()))
            << what << " row " << y;
    }
  }
}

// JPEGTables of a TIFF file (the quantisation and Huffman tables every strip uses).
std::vector<uint8_t> JpegTables(const std::string& path, uint32_t* rowsPerStrip) {
  TIFF* t = TIFFOpen(path.c_str(), "r");
  if (!t) return {};
  uint32_t n = 0;
  void* data = nullptr;
  std::vector<uint8_t> out;
  if (TIFFGetField(t, TIFFTAG_JPEGTABLES, &n, &data) && data)
    out.assign(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + n);
  TIFFGetField(t, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
  TIFFClose(t);
  return out;
}

TEST(EncoderChoices, TiffJpegStripsKeepTheQualityTables) {
  TempDir dir;
  const Image src = MakeImage(Kind::Rgb, 640, 300);
  ASSERT_EQ(IM_TiffJPEGSetQuality(60), IM_OK);
  const std::string ours = dir.File("ours.tif");
  ASSERT_EQ(WriteImage(ours, 0x40001, src), IM_OK);

  // The same pixels through libtiff alone, at that quality in 16-row strips.
  const std::string ref = dir.File("ref.tif");
  {
    TIFF* t = TIFFOpen(ref.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 640u);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 300u);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
    TIFFSetField(t, TIFFTAG_JPEGQUALITY, 60);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
    TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 16u);
    for (uint32_t y = 0; y < 300; ++y) {
      std::vector<uint8_t> row = src.rows[y];
      ASSERT_GE(TIFFWriteScanline(t, row.data(), y, 0), 0);
    }
    TIFFClose(t);
  }
  uint32_t ourRows = 0, refRows = 0;
  const auto ourTables = JpegTables(ours, &ourRows), refTables = JpegTables(ref, &refRows);
  ASSERT_GT(ourTables.size(), 100u);
  EXPECT_TRUE(ourTables == refTables);
  EXPECT_EQ(refRows, 16u);
  EXPECT_EQ(ourRows % 16, 0u);  // whole MCU rows: no strip but the last is padded

  // libtiff decodes it to pixels near the source, as near as the 16-row file.
  auto decode = [](const std::string& path, std::vector<uint32_t>* px) {
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t) return false;
    px->assign(640u * 300u, 0);
    const bool ok = TIFFReadRGBAImageOriented(t, 640, 300, px->data(), ORIENTATION_TOPLEFT, 0) != 0;
    TIFFClose(t);
    return ok;
  };
  auto meanError = [&](const std::vector<uint32_t>& px) {
    double sum = 0;
    for (uint32_t y = 0; y < 300; ++y)
      for (uint32_t x = 0; x < 640; ++x) {
        const auto want = src.Pixel(static_cast<int>(x), static_cast<int>(y));
        const uint32_t p = px[y * 640 + x];
        sum += std::abs(int(TIFFGetR(p)) - want[0]) + std::abs(int(TIFFGetG(p)) - want[1]) +
               std::abs(int(TIFFGetB(p)) - want[2]);
      }
    return sum / (640.0 * 300.0 * 3.0);
  };
  std::vector<uint32_t> a, b;
  ASSERT_TRUE(decode(ours, &a));
  ASSERT_TRUE(decode(ref, &b));
  EXPECT_LT(meanError(a), 3.0);
  EXPECT_LE(meanError(a), meanError(b) * 1.02 + 0.01);
  IM_TiffJPEGSetQuality(75);
}

}  // namespace
