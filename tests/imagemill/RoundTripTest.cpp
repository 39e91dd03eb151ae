// Every output format with every image kind it takes: written through the pull interface,
// read back through the library, compared pixel by pixel.
#include <cmath>
#include <fstream>
#include <iterator>

#include "tests/imagemill/MillTestUtil.h"

using namespace milltest;

namespace {

struct Case {
  uint32_t format;
  const char* name;
  Kind kind;
  bool lossy;
};

const Case kCases[] = {
    {1, "Tiff", Kind::Rgb, false},          {1, "Tiff", Kind::Grey, false},
    {1, "Tiff", Kind::Pal256, false},       {1, "Tiff", Kind::Pal16, false},
    {1, "Tiff", Kind::Bw, false},           {1, "Tiff", Kind::BwMinIsWhite, false},
    {0x10001, "TiffPackBits", Kind::Rgb, false}, {0x10001, "TiffPackBits", Kind::Grey, false},
    {0x10001, "TiffPackBits", Kind::Pal256, false}, {0x10001, "TiffPackBits", Kind::Pal16, false},
    {0x10001, "TiffPackBits", Kind::Bw, false},
    {0x20001, "TiffG3", Kind::Bw, false},   {0x20001, "TiffG3", Kind::BwMinIsWhite, false},
    {0x30001, "TiffG4", Kind::Bw, false},   {0x30001, "TiffG4", Kind::BwMinIsWhite, false},
    {0x40001, "TiffJpeg", Kind::Rgb, true}, {0x40001, "TiffJpeg", Kind::Grey, true},
    {2, "Jpeg", Kind::Rgb, true},           {2, "Jpeg", Kind::Grey, true},
    {3, "Png", Kind::Rgb, false},           {3, "Png", Kind::Grey, false},
    {3, "Png", Kind::Pal256, false},        {3, "Png", Kind::Pal16, false},
    {3, "Png", Kind::Bw, false},            {3, "Png", Kind::BwMinIsWhite, false},
    {0x40004, "PdfJpeg", Kind::Rgb, true},  {0x40004, "PdfJpeg", Kind::Grey, true},
    {0x30004, "PdfG4", Kind::Bw, false},    {0x30004, "PdfG4", Kind::BwMinIsWhite, false},
    {5, "Jp2", Kind::Rgb, false},           {5, "Jp2", Kind::Grey, false},
    {6, "Bmp", Kind::Rgb, false},           {6, "Bmp", Kind::Grey, false},
    {6, "Bmp", Kind::Pal256, false},        {6, "Bmp", Kind::Pal16, false},
    {6, "Bmp", Kind::Bw, false},            {6, "Bmp", Kind::BwMinIsWhite, false},
};

class RoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(RoundTrip, ReadsBackWhatWasWritten) {
  const Case& c = GetParam();
  TempDir dir;
  // Odd sizes catch padding and partial bytes; 300 dpi checks the resolution.
  const Image src = MakeImage(c.kind, 77, 53, 300);
  const std::string path = dir.File("out.img");
  WriteCtx w{&src};
  ASSERT_EQ(WriteImage(path, c.format, src, &w), IM_OK);
  EXPECT_EQ(w.rowsAsked, 53);
  ReadCtx r;
  ASSERT_EQ(ReadImage(path, &r), IM_OK);
  EXPECT_EQ(r.headerCalls, 1);
  EXPECT_TRUE(r.order);
  ASSERT_EQ(r.im.h.biWidth, 77);
  ASSERT_EQ(r.im.h.biHeight, 53);
  ASSERT_EQ(r.im.rows.size(), 53u);
  EXPECT_NEAR(r.im.h.biXPelsPerMeter / 39.37, 300.0, 1.0);
  EXPECT_NEAR(r.im.h.biYPelsPerMeter / 39.37, 300.0, 1.0);
  // Bilevel images always come back as 1 bit with set bits white.
  if (src.h.biBitCount == 1) {
    EXPECT_EQ(r.im.h.biBitCount, 1);
    EXPECT_EQ(r.im.colors[1].rgbRed, 255);
    EXPECT_EQ(r.im.colors[0].rgbRed, 0);
  }
  if (c.kind == Kind::Grey) {
    EXPECT_EQ(r.im.grey, 1);
  }
  const Diff d = Compare(src, r.im);
  if (c.lossy) {
    EXPECT_LT(d.mean, 3.0);
    EXPECT_LT(d.max, 48);
  } else {
    EXPECT_EQ(d.max, 0);
  }
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return std::string(info.param.name) + "_" + KindName(info.param.kind);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, RoundTrip, ::testing::ValuesIn(kCases), CaseName);

struct Refused {
  uint32_t format;
  Kind kind;
};

TEST(RoundTripRefusals, KindsAFormatCannotHoldAreRefusedBeforeAnyRow) {
  const Refused cases[] = {
      {0x30001, Kind::Rgb},  {0x20001, Kind::Grey},   {0x40001, Kind::Pal16}, {2, Kind::Pal256},
      {2, Kind::Bw},         {0x40004, Kind::Pal16},  {0x30004, Kind::Grey},  {5, Kind::Pal256},
      {5, Kind::Bw},
  };
  TempDir dir;
  for (const auto& c : cases) {
    const Image src = MakeImage(c.kind, 16, 4);
    WriteCtx w{&src};
    EXPECT_EQ(WriteImage(dir.File("x"), c.format, src, &w), IM_ERR_UNSUPPORTED)
        << std::hex << c.format << " " << KindName(c.kind);
    EXPECT_EQ(w.rowsAsked, 0);
  }
  const Image src = MakeImage(Kind::Rgb, 4, 4);
  EXPECT_EQ(WriteImage(dir.File("y"), 0x77, src), IM_ERR_PARAM);
}

// The header documents packed rows at 1 and 4 bits; BMP is no exception.
TEST(RoundTripBmp, BilevelAndSixteenColourRowsAreAskedPackedAsTheHeaderSays) {
  TempDir dir;
  struct Case {
    Kind kind;
    uint32_t format;
    int packedBytes;  // width 13
  };
  for (const Case& c : {Case{Kind::Bw, 6, 2}, Case{Kind::BwMinIsWhite, 6, 2}, Case{Kind::Pal16, 6, 7},
                        Case{Kind::Bw, 1, 2}, Case{Kind::Pal16, 1, 7}}) {
    const Image src = MakeImage(c.kind, 13, 5);
    WriteCtx w{&src};
    const std::string path = dir.File("a");
    ASSERT_EQ(WriteImage(path, c.format, src, &w), IM_OK);
    EXPECT_EQ(w.lastBytes, c.packedBytes) << KindName(c.kind) << " " << c.format;
    ReadCtx r;
    ASSERT_EQ(ReadImage(path, &r), IM_OK);
    ASSERT_EQ(r.im.rows.size(), 5u);
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 13; ++x)
        ASSERT_EQ(r.im.Pixel(x, y), src.Pixel(x, y)) << KindName(c.kind) << " " << x << "," << y;
  }
}

TEST(RoundTripJpeg, SidesPastTheJpegLimitAreRefusedClearly) {
  TempDir dir;
  Image im = MakeImage(Kind::Grey, 8, 2);
  im.h.biWidth = 65501;
  for (uint32_t format : {2u, 0x40004u}) {
    WriteCtx w{&im};
    EXPECT_EQ(WriteImage(dir.File("big.jpg"), format, im, &w), IM_ERR_TOO_LARGE);
    EXPECT_EQ(w.rowsAsked, 0);
  }
  im = MakeImage(Kind::Grey, 8, 2);
  im.h.biHeight = 65501;
  WriteCtx w{&im};
  EXPECT_EQ(WriteImage(dir.File("tall.jpg"), 2, im, &w), IM_ERR_TOO_LARGE);
}

TEST(RoundTripJpeg, QualitySettingChangesTheOutputAndIsUsedOnce) {
  TempDir dir;
  const Image src = MakeImage(Kind::Rgb, 120, 80);
  ASSERT_EQ(IM_JpegSetQuality(10), IM_OK);
  ASSERT_EQ(WriteImage(dir.File("q10.jpg"), 2, src), IM_OK);
  ASSERT_EQ(WriteImage(dir.File("dflt.jpg"), 2, src), IM_OK);
  ASSERT_EQ(IM_JpegSetQuality(95), IM_OK);
  ASSERT_EQ(WriteImage(dir.File("q95.jpg"), 2, src), IM_OK);
  const auto size = [](const std::string& p) { return std::filesystem::file_size(p); };
  EXPECT_LT(size(dir.File("q10.jpg")), size(dir.File("dflt.jpg")));
  EXPECT_LT(size(dir.File("dflt.jpg")), size(dir.File("q95.jpg")));
  EXPECT_EQ(IM_JpegSetQuality(0), IM_ERR_PARAM);
  EXPECT_EQ(IM_JpegSetQuality(101), IM_ERR_PARAM);
}

TEST(RoundTripJp2, LossyQualityStaysCloseAndIsSmaller) {
  TempDir dir;
  const Image src = MakeImage(Kind::Rgb, 300, 200);
  ASSERT_EQ(WriteImage(dir.File("lossless.jp2"), 5, src), IM_OK);
  ASSERT_EQ(IM_Jp2SetQuality(100), IM_OK);  // 10:1
  ASSERT_EQ(WriteImage(dir.File("lossy.jp2"), 5, src), IM_OK);
  EXPECT_LT(std::filesystem::file_size(dir.File("lossy.jp2")),
            std::filesystem::file_size(dir.File("lossless.jp2")));
  ReadCtx r;
  ASSERT_EQ(ReadImage(dir.File("lossy.jp2"), &r), IM_OK);
  EXPECT_LT(Compare(src, r.im).mean, 3.0);
}

TEST(RoundTripJp2, ManyTilesBothWaysReadBackExactly) {
  TempDir dir;
  // Wider than one tile and taller than one band of tiles, with partial edge tiles.
  const Image src = MakeImage(Kind::Grey, 1100, 300);
  ASSERT_EQ(WriteImage(dir.File("tiles.jp2"), 5, src), IM_OK);
  ReadCtx r;
  ASSERT_EQ(ReadImage(dir.File("tiles.jp2"), &r), IM_OK);
  EXPECT_EQ(Compare(src, r.im).max, 0);
}

TEST(RoundTripPdf, PagesPast200InchesUseUserUnitAndKeepTheResolution) {
  TempDir dir;
  // 30000 pixels at 100 dpi: 300 inches.
  Image src = MakeImage(Kind::Bw, 30000, 8, 100);
  ASSERT_EQ(WriteImage(dir.File("wide.pdf"), 0x30004, src), IM_OK);
  std::string pdf;
  {
    FILE* f = std::fopen(dir.File("wide.pdf").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) pdf.append(buf, n);
    std::fclose(f);
  }
  EXPECT_NE(pdf.find("/UserUnit 2"), std::string::npos);
  EXPECT_NE(pdf.find("/CCITTFaxDecode"), std::string::npos);
  EXPECT_NE(pdf.find("/K -1"), std::string::npos);
  ReadCtx r;
  ASSERT_EQ(ReadImage(dir.File("wide.pdf"), &r), IM_OK);
  EXPECT_NEAR(r.im.h.biXPelsPerMeter / 39.37, 100.0, 0.5);
  EXPECT_EQ(Compare(src, r.im).max, 0);
}

TEST(RoundTripTiff, ArtistCopyrightAndProfileAreWrittenForTheNextImageOnly) {
  TempDir dir;
  const std::string icc = dir.File("p.icc");
  {
    // Any bytes do for the tag; a real profile starts with its size.
    std::vector<uint8_t> prof(200, 7);
    prof[0] = 0, prof[1] = 0, prof[2] = 0, prof[3] = 200;
    FILE* f = std::fopen(icc.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(prof.data(), 1, prof.size(), f);
    std::fclose(f);
  }
  const Image src = MakeImage(Kind::Rgb, 10, 10);
  IM_TiffSetArtist("Ann Example");
  IM_TiffSetCopyright("(c) Example");
  IM_TiffSetICCProfile(icc.c_str());
  ASSERT_EQ(WriteImage(dir.File("a.tif"), 1, src), IM_OK);
  ASSERT_EQ(WriteImage(dir.File("b.tif"), 1, src), IM_OK);
  if (!HaveTool("tiffinfo")) GTEST_SKIP() << "tiffinfo missing";
  std::string a, b;
  ASSERT_EQ(RunTool("tiffinfo " + dir.File("a.tif"), &a), 0);
  ASSERT_EQ(RunTool("tiffinfo " + dir.File("b.tif"), &b), 0);
  EXPECT_NE(a.find("Ann Example"), std::string::npos);
  EXPECT_NE(a.find("(c) Example"), std::string::npos);
  EXPECT_NE(a.find("ICC Profile"), std::string::npos);
  EXPECT_EQ(b.find("Ann Example"), std::string::npos);
  EXPECT_EQ(b.find("ICC Profile"), std::string::npos);
}

TEST(PushInterface, UncompressedTiffHasItsPixelsRightAfterTheHeader) {
  TempDir dir;
  for (Kind k : {Kind::Rgb, Kind::Grey, Kind::Pal256, Kind::Pal16, Kind::Bw}) {
    const Image src = MakeImage(k, 21, 9);
    IM_WRITECONTEXT ctx;
    std::memset(&ctx, 0, sizeof ctx);
    ctx.format = 1;
    ctx.header = src.h;
    if (k == Kind::Pal256 || k == Kind::Pal16)
      std::memcpy(ctx.colors, src.colors.data(), sizeof ctx.colors);
    ctx.grey = src.grey;
    const std::string path = dir.File("push.tif");
    const int fd = OpenNew(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(IM_WriteStart(fd, &ctx), IM_OK);
    EXPECT_EQ(ctx.dataOffset, 8u);
    for (const auto& row : src.rows) ASSERT_EQ(IM_WriteNext(&ctx, row.data(), 0), IM_OK);
    EXPECT_EQ(IM_WriteNext(&ctx, nullptr, IM_STOPPED), IM_OK);
    EXPECT_EQ(IM_WriteEnd(&ctx), IM_OK);
    EXPECT_EQ(ctx.state, nullptr);
    // The rows lie one after another from byte 8.
    for (size_t y = 0; y < src.rows.size(); ++y) {
      std::vector<uint8_t> got(src.RowBytes());
      ASSERT_EQ(::pread(fd, got.data(), got.size(), static_cast<off_t>(8 + y * got.size())),
                static_cast<ssize_t>(got.size()));
      EXPECT_EQ(got, src.rows[y]) << KindName(k) << " row " << y;
    }
    ::close(fd);
    ReadCtx r;
    ASSERT_EQ(ReadImage(path, &r), IM_OK);
    Image expect = src;
    if (k != Kind::Pal256 && k != Kind::Pal16 && k != Kind::Grey) expect.colors[1] = {255, 255, 255, 0};
    EXPECT_EQ(Compare(expect, r.im).max, 0) << KindName(k);
  }
}

TEST(PushInterface, EndedEarlyKeepsTheRowsWrittenAndSaysSo) {
  TempDir dir;
  const Image src = MakeImage(Kind::Grey, 16, 10);
  IM_WRITECONTEXT ctx;
  std::memset(&ctx, 0, sizeof ctx);
  ctx.format = 1;
  ctx.header = src.h;
  ctx.grey = 1;
  const int fd = OpenNew(dir.File("short.tif"));
  ASSERT_EQ(IM_WriteStart(fd, &ctx), IM_OK);
  for (int y = 0; y < 4; ++y) IM_WriteNext(&ctx, src.rows[static_cast<size_t>(y)].data(), 0);
  IM_WriteNext(&ctx, nullptr, IM_STOPPED);
  EXPECT_EQ(IM_WriteNext(&ctx, src.rows[4].data(), 0), IM_ERR_PARAM);  // after the end
  EXPECT_EQ(IM_WriteEnd(&ctx), IM_STOPPED);
  std::vector<uint8_t> got(16);
  ASSERT_EQ(::pread(fd, got.data(), 16, 8 + 3 * 16), 16);
  EXPECT_EQ(got, src.rows[3]);
  ::close(fd);
  EXPECT_EQ(IM_WriteEnd(&ctx), IM_ERR_PARAM);
  EXPECT_EQ(IM_WriteNext(nullptr, nullptr, 0), IM_ERR_PARAM);
}

// Rows handed over in runs (whole strips straight from the caller, part strips gathered)
// give the file that row-by-row writing gives, and ImageMagick reads the pixels back.
TEST(PushInterface, RowsInRunsGiveTheFileOfRowByRow) {
  TempDir dir;
  // 12000 colour pixels a row: strips of 7 rows, the last of 6.
  const Image src = MakeImage(Kind::Rgb, 12000, 20);
  const int32_t rb = static_cast<int32_t>(src.RowBytes());
  std::vector<uint8_t> all;
  for (const auto& row : src.rows) all.insert(all.end(), row.begin(), row.end());
  auto start = [&](const std::string& path, IM_WRITECONTEXT* ctx) {
    std::memset(ctx, 0, sizeof *ctx);
    ctx->format = 1;
    ctx->header = src.h;
    const int fd = OpenNew(path);
    EXPECT_EQ(IM_WriteStart(fd, ctx), IM_OK);
    return fd;
  };
  auto slurp = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
  };
  IM_WRITECONTEXT ctx;
  int fd = start(dir.File("rows.tif"), &ctx);
  for (const auto& row : src.rows) ASSERT_EQ(IM_WriteNext(&ctx, row.data(), 0), IM_OK);
  ASSERT_EQ(IM_WriteEnd(&ctx), IM_OK);
  ::close(fd);
  const std::vector<char> reference = slurp(dir.File("rows.tif"));

  const std::vector<std::vector<int32_t>> runs = {
      {20}, std::vector<int32_t>(20, 1), {3, 5, 12}, {7, 7, 6}, {0, 4, 16}, {1, 19}, {19, 1}, {6, 8, 6}};
  for (const auto& pattern : runs) {
    const std::string path = dir.File("runs.tif");
    fd = start(path, &ctx);
    int32_t y = 0;
    for (int32_t n : pattern) {
      ASSERT_EQ(IM_WriteRows(&ctx, all.data() + static_cast<size_t>(y) * rb, n, rb), IM_OK);
      y += n;
    }
    ASSERT_EQ(IM_WriteEnd(&ctx), IM_OK);
    ::close(fd);
    EXPECT_EQ(slurp(path), reference) << "runs starting " << pattern[0] << "," << pattern[1 % pattern.size()];
  }
  if (!HaveTool("convert")) GTEST_SKIP() << "ImageMagick missing";
  std::string pixels;
  ASSERT_EQ(RunTool("convert " + dir.File("runs.tif") + " -depth 8 rgb:-", &pixels), 0);
  EXPECT_TRUE(pixels.size() == all.size() && std::memcmp(pixels.data(), all.data(), all.size()) == 0);
}

TEST(PushInterface, RowsPastTheHeightAreRefusedAfterTheRowsThatFit) {
  TempDir dir;
  const Image src = MakeImage(Kind::Grey, 16, 6);
  std::vector<uint8_t> all;
  for (const auto& row : src.rows) all.insert(all.end(), row.begin(), row.end());
  all.resize(all.size() + 3 * 16, 0x55);
  IM_WRITECONTEXT ctx;
  std::memset(&ctx, 0, sizeof ctx);
  ctx.format = 1;
  ctx.header = src.h;
  ctx.grey = 1;
  const std::string path = dir.File("over.tif");
  const int fd = OpenNew(path);
  ASSERT_EQ(IM_WriteStart(fd, &ctx), IM_OK);
  EXPECT_EQ(IM_WriteRows(&ctx, all.data(), 2, 15), IM_ERR_PARAM);  // not the row's size
  EXPECT_EQ(IM_WriteRows(&ctx, all.data(), -1, 16), IM_ERR_PARAM);
  EXPECT_EQ(IM_WriteRows(&ctx, all.data(), 9, 16), IM_ERR_PARAM);  // 6 fit
  EXPECT_EQ(IM_WriteEnd(&ctx), IM_OK);
  ::close(fd);
  ReadCtx r;
  ASSERT_EQ(ReadImage(path, &r), IM_OK);
  EXPECT_EQ(Compare(src, r.im).max, 0);
  if (!HaveTool("tiffinfo")) GTEST_SKIP() << "tiffinfo missing";
  std::string info;
  ASSERT_EQ(RunTool("tiffinfo " + path, &info), 0);
  EXPECT_NE(info.find("Image Width: 16 Image Length: 6"), std::string::npos) << info;
}

TEST(PushInterface, RowsEndedEarlyKeepTheRowsWritten) {
  TempDir dir;
  const Image src = MakeImage(Kind::Rgb, 12000, 17);
  const int32_t rb = static_cast<int32_t>(src.RowBytes());
  std::vector<uint8_t> all;
  for (const auto& row : src.rows) all.insert(all.end(), row.begin(), row.end());
  IM_WRITECONTEXT ctx;
  std::memset(&ctx, 0, sizeof ctx);
  ctx.format = 1;
  ctx.header = src.h;
  const std::string path = dir.File("short.tif");
  const int fd = OpenNew(path);
  ASSERT_EQ(IM_WriteStart(fd, &ctx), IM_OK);
  ASSERT_EQ(IM_WriteRows(&ctx, all.data(), 9, rb), IM_OK);  // a whole strip of 7 and two rows
  IM_WriteNext(&ctx, nullptr, IM_STOPPED);
  EXPECT_EQ(IM_WriteEnd(&ctx), IM_STOPPED);
  ::close(fd);
  if (!HaveTool("convert") || !HaveTool("tiffinfo")) GTEST_SKIP() << "tiffinfo or ImageMagick missing";
  std::string info, pixels;
  ASSERT_EQ(RunTool("tiffinfo " + path, &info), 0);
  EXPECT_NE(info.find("Image Length: 9"), std::string::npos) << info;
  ASSERT_EQ(RunTool("convert " + path + " -depth 8 rgb:-", &pixels), 0);
  ASSERT_EQ(pixels.size(), static_cast<size_t>(9 * rb));
  EXPECT_EQ(std::memcmp(pixels.data(), all.data(), pixels.size()), 0);
}

TEST(PushInterface, BadArgumentsAreRefused) {
  IM_WRITECONTEXT ctx;
  std::memset(&ctx, 0, sizeof ctx);
  ctx.format = 1;
  EXPECT_EQ(IM_WriteStart(-1, &ctx), IM_ERR_PARAM);
  EXPECT_EQ(IM_WriteStart(0, nullptr), IM_ERR_PARAM);
  TempDir dir;
  const int fd = OpenNew(dir.File("z.tif"));
  ctx.header.biWidth = 0;
  ctx.header.biHeight = 5;
  ctx.header.biBitCount = 8;
  EXPECT_NE(IM_WriteStart(fd, &ctx), IM_OK);
  ctx.header.biWidth = 5;
  ctx.header.biBitCount = 7;
  EXPECT_EQ(IM_WriteStart(fd, &ctx), IM_ERR_UNSUPPORTED);
  ::close(fd);
  EXPECT_EQ(IM_Init(), IM_OK);
}

TEST(ReadRefusals, EmptyUnknownAndTruncatedFilesGiveErrorsNotRows) {
  TempDir dir;
  auto write = [&](const std::string& name, const std::string& bytes) {
    FILE* f = std::fopen(dir.File(name).c_str(), "wb");
    fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return dir.File(name);
  };
  ReadCtx r1;
  EXPECT_EQ(ReadImage(write("empty", ""), &r1), IM_ERR_FORMAT);
  ReadCtx r2;
  EXPECT_EQ(ReadImage(write("text", "hello world, not an image"), &r2), IM_ERR_FORMAT);
  EXPECT_EQ(r2.headerCalls, 0);
  // Every format cut in half: an error, never success.
  const Image src = MakeImage(Kind::Rgb, 64, 64);
  for (uint32_t format : {1u, 2u, 3u, 5u, 6u, 0x40004u, 0x10001u}) {
    const std::string p = dir.File("whole");
    ASSERT_EQ(WriteImage(p, format, src), IM_OK);
    const auto size = std::filesystem::file_size(p);
    std::filesystem::resize_file(p, size / 2);
    ReadCtx r;
    EXPECT_LT(ReadImage(p, &r), 0) << std::hex << format;
    EXPECT_NE(ReadImage(p, &r), IM_STOPPED);
  }
  EXPECT_EQ(IM_ReadByCallback(-1, ReadLinesCb, ReadHeaderCb, nullptr), IM_ERR_PARAM);
}

}  // namespace

namespace {

// Past 4 GB a TIFF switches to BigTIFF; the switch point is lowered here so that the test
// writes kilobytes, not gigabytes.
TEST(RoundTripTiff, LargeOutputSwitchesToBigTiff) {
  TempDir dir;
  ::setenv("IMAGEMILL_BIGTIFF_ABOVE", "1000", 1);
  const Image src = MakeImage(Kind::Rgb, 50, 40);
  const std::string pulled = dir.File("big.tif");
  const int rc = WriteImage(pulled, 0x10001, src);
  // The push interface, whose pixels then start after the 16-byte header.
  IM_WRITECONTEXT ctx;
  std::memset(&ctx, 0, sizeof ctx);
  ctx.format = 1;
  ctx.header = src.h;
  const std::string pushed = dir.File("push.tif");
  const int fd = OpenNew(pushed);
  const int start = IM_WriteStart(fd, &ctx);
  ::unsetenv("IMAGEMILL_BIGTIFF_ABOVE");
  ASSERT_EQ(rc, IM_OK);
  ASSERT_EQ(start, IM_OK);
  EXPECT_EQ(ctx.dataOffset, 16u);
  for (const auto& row : src.rows) IM_WriteNext(&ctx, row.data(), 0);
  IM_WriteNext(&ctx, nullptr, IM_STOPPED);
  ASSERT_EQ(IM_WriteEnd(&ctx), IM_OK);
  std::vector<uint8_t> first(150);
  ASSERT_EQ(::pread(fd, first.data(), first.size(), 16), 150);
  EXPECT_EQ(first, src.rows[0]);
  ::close(fd);
  for (const std::string& p : {pulled, pushed}) {
    uint8_t magic[4] = {};
    FILE* f = std::fopen(p.c_str(), "rb");
    ASSERT_EQ(std::fread(magic, 1, 4, f), 4u);
    std::fclose(f);
    EXPECT_EQ(magic[2], 43);  // BigTIFF
    ReadCtx r;
    ASSERT_EQ(ReadImage(p, &r), IM_OK);
    EXPECT_EQ(Compare(src, r.im).max, 0);
    if (HaveTool("tiffinfo")) {
      std::string out;
      EXPECT_EQ(RunTool("tiffinfo " + p, &out), 0) << out;
      EXPECT_NE(out.find("Image Width: 50 Image Length: 40"), std::string::npos) << out;
    }
  }
}

}  // namespace
