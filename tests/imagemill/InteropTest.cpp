// Files we write open in the tools users have; files those tools write read correctly.
// The tools make their files at test time; a missing tool skips its test.
#include <cctype>
#include <sstream>

#include "tests/imagemill/MillTestUtil.h"

using namespace milltest;

namespace {

std::string Q(const std::string& s) { return "'" + s + "'"; }

// Raw 8-bit RGB pixels of any file ImageMagick reads, row after row.
bool MagickPixels(const std::string& path, int w, int h, std::vector<uint8_t>* out) {
  std::string data;
  if (RunTool("convert " + Q(path) + "[0] -depth 8 rgb:- 2>/dev/null", &data) != 0) return false;
  if (data.size() != static_cast<size_t>(w) * h * 3) return false;
  out->assign(data.begin(), data.end());
  return true;
}

// Differences between what we decoded and raw RGB pixels.
Diff CompareRaw(const Image& im, const std::vector<uint8_t>& rgb) {
  Diff d;
  long long sum = 0, n = 0;
  for (int y = 0; y < im.h.biHeight; ++y)
    for (int x = 0; x < im.h.biWidth; ++x) {
      const auto p = im.Pixel(x, y);
      for (int c = 0; c < 3; ++c) {
        const int e = std::abs(int(p[c]) - int(rgb[(static_cast<size_t>(y) * im.h.biWidth + x) * 3 + c]));
        d.max = std::max(d.max, e);
        sum += e;
        ++n;
      }
    }
  d.mean = n ? double(sum) / double(n) : 0;
  return d;
}

// Reads a binary PGM or PPM as written by opj_decompress.
bool ReadPnm(const std::string& path, Image* im) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  // Header fields, with comment lines skipped.
  auto field = [f]() -> std::string {
    std::string t;
    int c;
    while ((c = std::fgetc(f)) != EOF) {
      if (c == '#') {
        while ((c = std::fgetc(f)) != EOF && c != '\n') {
        }
        continue;
      }
      if (std::isspace(c)) {
        if (!t.empty()) break;
        continue;
      }
      t.push_back(static_cast<char>(c));
    }
    return t;
  };
  const std::string magic = field();
  const int w = std::atoi(field().c_str()), h = std::atoi(field().c_str()), max = std::atoi(field().c_str());
  if ((magic != "P5" && magic != "P6") || w <= 0 || h <= 0 || max != 255) {
    std::fclose(f);
    return false;
  }
  const int comps = magic[1] == '6' ? 3 : 1;
  im->h.biWidth = w;
  im->h.biHeight = h;
  im->h.biBitCount = static_cast<uint16_t>(comps * 8);
  im->grey = comps == 1;
  im->rows.assign(static_cast<size_t>(h), std::vector<uint8_t>(static_cast<size_t>(w) * comps));
  bool ok = true;
  for (auto& r : im->rows) ok = ok && std::fread(r.data(), 1, r.size(), f) == r.size();
  std::fclose(f);
  return ok;
}

struct Out {
  uint32_t format;
  Kind kind;
  const char* ext;
};

const Out kOutputs[] = {
    {1, Kind::Rgb, "tif"},         {1, Kind::Pal16, "tif"},       {1, Kind::Bw, "tif"},
    {0x10001, Kind::Pal256, "tif"}, {0x20001, Kind::Bw, "tif"},    {0x30001, Kind::BwMinIsWhite, "tif"},
    {0x40001, Kind::Rgb, "tif"},   {0x40001, Kind::Grey, "tif"},  {2, Kind::Rgb, "jpg"},
    {2, Kind::Grey, "jpg"},        {3, Kind::Pal16, "png"},       {3, Kind::Rgb, "png"},
    {3, Kind::Bw, "png"},          {6, Kind::Rgb, "bmp"},         {6, Kind::Pal256, "bmp"},
    {6, Kind::Pal16, "bmp"},       {6, Kind::Bw, "bmp"},          {0x40004, Kind::Rgb, "pdf"},
    {0x40004, Kind::Grey, "pdf"},  {0x30004, Kind::Bw, "pdf"},    {5, Kind::Rgb, "jp2"},
    {5, Kind::Grey, "jp2"},
};

TEST(Interop, OurFilesOpenInTheUsersTools) {
  TempDir dir;
  int checked = 0;
  for (const auto& o : kOutputs) {
    const std::string name = std::string("o_") + std::to_string(o.format) + "_" + KindName(o.kind) + "." + o.ext;
    const std::string path = dir.File(name);
    const Image src = MakeImage(o.kind, 83, 41, 200);
    ASSERT_EQ(WriteImage(path, o.format, src), IM_OK) << name;
    const bool lossy = o.format == 2 || o.format == 0x40001 || o.format == 0x40004;
    const std::string ext = o.ext;
    std::string out;
    if (ext == "tif" && HaveTool("tiffinfo")) {
      EXPECT_EQ(RunTool("tiffinfo -D " + Q(path), &out), 0) << name << out;
      EXPECT_EQ(out.find("rror"), std::string::npos) << name << out;
      EXPECT_NE(out.find("Image Width: 83 Image Length: 41"), std::string::npos) << out;
      ++checked;
    }
    if (ext == "pdf") {
      if (!HaveTool("pdfimages")) continue;
      ASSERT_EQ(RunTool("pdfimages -list " + Q(path), &out), 0) << out;
      // page num type width height color comp bpc enc interp object ID x-ppi y-ppi ...
      std::istringstream lines(out);
      std::string line;
      std::getline(lines, line);
      std::getline(lines, line);
      std::getline(lines, line);
      std::istringstream f(line);
      std::string page, num, type, width, height, color, comp, bpc, enc, interp, obj, id, xppi, yppi;
      f >> page >> num >> type >> width >> height >> color >> comp >> bpc >> enc >> interp >> obj >> id >> xppi >> yppi;
      EXPECT_EQ(type, "image") << out;
      EXPECT_EQ(width, "83");
      EXPECT_EQ(height, "41");
      EXPECT_EQ(enc, o.format == 0x30004 ? "ccitt" : "jpeg");
      EXPECT_EQ(xppi, "200");
      EXPECT_EQ(yppi, "200");
      ++checked;
      continue;
    }
    if (ext == "jp2") {
      if (!HaveTool("opj_decompress")) continue;
      const std::string pnm = dir.File(name + (o.kind == Kind::Rgb ? ".ppm" : ".pgm"));
      ASSERT_EQ(RunTool("opj_decompress -i " + Q(path) + " -o " + Q(pnm), &out), 0) << out;
      Image back;
      ASSERT_TRUE(ReadPnm(pnm, &back));
      EXPECT_EQ(Compare(src, back).max, 0) << name;
      ++checked;
      continue;
    }
    if (!HaveTool("identify")) continue;
    ASSERT_EQ(RunTool("identify " + Q(path), &out), 0) << name << out;
    EXPECT_NE(out.find(" 83x41 "), std::string::npos) << out;
    // Pixels as ImageMagick sees them.
    std::vector<uint8_t> rgb;
    ASSERT_TRUE(MagickPixels(path, 83, 41, &rgb)) << name;
    const Diff d = CompareRaw(src, rgb);
    if (lossy) {
      EXPECT_LT(d.mean, 3.0) << name;
    } else {
      EXPECT_EQ(d.max, 0) << name;
    }
    ++checked;
  }
  if (checked == 0) GTEST_SKIP() << "no tools installed";
}

// ----------------------------------------------------------------- files of the tools

class ToolFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("convert") || !HaveTool("tiffcp")) GTEST_SKIP() << "ImageMagick or libtiff tools missing";
  }
  // Decodes `path` with the library and compares with ImageMagick's pixels of `reference`.
  void Check(const std::string& what, const std::string& path, const std::string& reference, int w, int h,
             double meanBound, int expectBits = 0, int maxBound = 0) {
    ReadCtx r;
    ASSERT_EQ(ReadImage(path, &r), IM_OK) << what;
    ASSERT_EQ(r.im.h.biWidth, w) << what;
    ASSERT_EQ(r.im.h.biHeight, h) << what;
    ASSERT_EQ(static_cast<int>(r.im.rows.size()), h) << what;
    if (expectBits) {
      EXPECT_EQ(r.im.h.biBitCount, expectBits) << what;
    }
    std::vector<uint8_t> rgb;
    ASSERT_TRUE(MagickPixels(reference, w, h, &rgb)) << what;
    const Diff d = CompareRaw(r.im, rgb);
    if (meanBound == 0) {
      EXPECT_LE(d.max, maxBound) << what;
    } else {
      EXPECT_LT(d.mean, meanBound) << what;
    }
  }
  TempDir dir_;
};

TEST_F(ToolFiles, TiffCompressionsLayoutsAndByteOrders) {
  const std::string base = dir_.File("base.tif");
  const std::string bw = dir_.File("bw.tif");
  ASSERT_EQ(RunTool("convert -size 97x61 gradient:'#ff0000-#0000ff' -depth 8 -compress none " + Q(base)), 0);
  ASSERT_EQ(RunTool("convert -size 97x61 pattern:checkerboard -monochrome -depth 1 -compress none " + Q(bw)), 0);
  struct V {
    const char* name;
    const char* args;
    bool bilevel;
    double bound;
  } variants[] = {
      {"none", "-c none", false, 0},
      {"packbits", "-c packbits", false, 0},
      {"lzw", "-c lzw", false, 0},
      {"zip", "-c zip", false, 0},
      {"lzw predictor", "-c lzw:2", false, 0},
      {"jpeg", "-c jpeg:75 -r 16", false, 3.0},
      {"tiles", "-c none -t -w 32 -l 16", false, 0},
      {"tiles zip", "-c zip -t -w 16 -l 16", false, 0},
      {"big-endian", "-c none -B", false, 0},
      {"big-endian lzw", "-c lzw -B", false, 0},
      {"separate planes", "-c none -p separate", false, 0},
      {"separate planes zip strips", "-c zip -p separate -r 7", false, 0},
      {"tiled separate", "-c none -p separate -t -w 16 -l 16", false, 0},
      {"strips of 5", "-c none -r 5", false, 0},
      {"g3", "-c g3", true, 0},
      {"g3 2d", "-c g3:2d", true, 0},
      {"g4", "-c g4", true, 0},
      {"g4 big-endian", "-c g4 -B", true, 0},
      {"g4 tiles", "-c g4 -t -w 32 -l 32", true, 0},
      {"bilevel packbits", "-c packbits", true, 0},
      {"bilevel lsb first", "-c none -L -f lsb2msb", true, 0},
  };
  for (const auto& v : variants) {
    const std::string out = dir_.File(std::string("v_") + std::to_string(&v - variants) + ".tif");
    const std::string& src = v.bilevel ? bw : base;
    std::string msg;
    ASSERT_EQ(RunTool(std::string("tiffcp ") + v.args + " " + Q(src) + " " + Q(out), &msg), 0) << v.name << msg;
    Check(v.name, out, src, 97, 61, v.bound, v.bilevel ? 1 : 0);
  }
}

TEST_F(ToolFiles, MagickWrittenVariants) {
  const std::string rgb = dir_.File("rgb.png");
  // A 16-bit source: every variant without -depth 8 keeps 16-bit samples.
  ASSERT_EQ(RunTool("convert -size 71x45 gradient:'#20c040-#e01080' " + Q(rgb)), 0);
  struct V {
    const char* name;
    const char* args;
    const char* ext;
    double bound;
    int bits;
  } variants[] = {
      {"16-bit rgb tiff", "-depth 16 -compress none", "tif", 0, 24},
      {"16-bit rgb tiff lzw", "-depth 16 -compress lzw", "tif", 0, 24},
      {"16-bit grey tiff", "-colorspace gray -depth 16 -compress none", "tif", 0, 8},
      {"16-bit png", "-depth 16", "png", 0, 24},
      {"16-bit grey png", "-colorspace gray -depth 16", "png", 0, 8},
      {"palette tiff", "-colors 200 -type Palette -compress none", "tif", 0, 8},
      {"16-colour palette tiff", "-colors 16 -type Palette -depth 4 -compress none", "tif", 0, 0},
      {"palette png", "-colors 100 -type Palette", "png", 0, 8},
      {"palette bmp", "-colors 100 -type Palette -compress none", "bmp", 0, 8},
      {"palette bmp rle8", "-colors 100 -type Palette -compress rle", "bmp", 0, 8},
      {"16-colour bmp", "-colors 16 -type Palette -depth 4", "bmp", 0, 0},
      {"16-colour bmp rle4", "-colors 16 -type Palette -depth 4 -compress rle", "bmp", 0, 0},
      {"grey tiff", "-colorspace gray -depth 8 -compress none", "tif", 0, 8},
      {"min-is-white bilevel tiff", "-monochrome -depth 1 -define quantum:polarity=min-is-white -compress none", "tif", 0, 1},
      {"min-is-black bilevel tiff", "-monochrome -depth 1 -define quantum:polarity=min-is-black -compress none", "tif", 0, 1},
      {"min-is-white group 4 tiff", "-monochrome -compress group4", "tif", 0, 1},
      {"min-is-white grey tiff", "-colorspace gray -depth 8 -define quantum:polarity=min-is-white -compress none", "tif", 0, 8},
      {"bilevel png", "-monochrome -depth 1", "png", 0, 1},
      {"bilevel bmp", "-monochrome -depth 1 -type bilevel", "bmp", 0, 1},
      {"rgba tiff", "-alpha on -compress none", "tif", 0, 24},
      {"rgba png", "-alpha on", "png", 0, 24},
      {"24-bit bmp", "-type TrueColor", "bmp", 0, 24},
      {"32-bit bmp", "-alpha on -define bmp:format=bmp4", "bmp", 0, 24},
      {"bmp3", "-type TrueColor", "bmp3", 0, 24},
      {"baseline jpeg", "-quality 90", "jpg", 2.0, 24},
      {"progressive jpeg", "-quality 90 -interlace Plane", "jpg", 2.0, 24},
      {"grey jpeg", "-colorspace gray -quality 90", "jpg", 2.0, 8},
      {"interlaced png", "-interlace PNG", "png", 0, 24},
  };
  for (const auto& v : variants) {
    std::string ext = v.ext;
    const std::string prefix = ext == "bmp3" ? "bmp3:" : "";
    if (ext == "bmp3") ext = "bmp";
    const std::string out = dir_.File(std::string("m_") + std::to_string(&v - variants) + "." + ext);
    std::string msg;
    ASSERT_EQ(RunTool("convert " + Q(rgb) + " " + v.args + " " + prefix + Q(out), &msg), 0) << v.name << msg;
    // ImageMagick rounds 16-bit samples down to 8 bits its own way: one step apart at most.
    Check(v.name, out, out, 71, 45, v.bound, v.bits, 1);
  }
}

TEST_F(ToolFiles, JpegTwoThousandFromOpenJpeg) {
  if (!HaveTool("opj_compress")) GTEST_SKIP() << "opj_compress missing";
  const Image src = MakeImage(Kind::Rgb, 90, 70);
  const std::string ppm = dir_.File("src.ppm");
  {
    FILE* f = std::fopen(ppm.c_str(), "wb");
    std::fprintf(f, "P6\n90 70\n255\n");
    for (const auto& r : src.rows) std::fwrite(r.data(), 1, r.size(), f);
    std::fclose(f);
  }
  const struct {
    const char* name;
    const char* args;
    const char* ext;
  } variants[] = {
      {"jp2 one tile", "", "jp2"},
      {"jp2 tiles", "-t 32,32", "jp2"},
      {"j2k codestream", "", "j2k"},
      {"jp2 tiles and precincts", "-t 64,16 -n 3", "jp2"},
  };
  for (const auto& v : variants) {
    const std::string out = dir_.File(std::string("j_") + std::to_string(&v - variants) + "." + v.ext);
    std::string msg;
    ASSERT_EQ(RunTool(std::string("opj_compress -i ") + Q(ppm) + " -o " + Q(out) + " " + v.args, &msg), 0) << msg;
    ReadCtx r;
    ASSERT_EQ(ReadImage(out, &r), IM_OK) << v.name;
    EXPECT_EQ(Compare(src, r.im).max, 0) << v.name;
  }
}

TEST_F(ToolFiles, PdfFromTiff2pdf) {
  if (!HaveTool("tiff2pdf")) GTEST_SKIP() << "tiff2pdf missing";
  const std::string bw = dir_.File("bw.tif");
  const std::string g4 = dir_.File("g4.tif");
  ASSERT_EQ(RunTool("convert -size 120x50 pattern:bricks -monochrome -depth 1 -compress none " + Q(bw)), 0);
  ASSERT_EQ(RunTool("tiffcp -c g4 " + Q(bw) + " " + Q(g4)), 0);
  const std::string rgb = dir_.File("rgb.tif");
  const std::string jpg = dir_.File("j.tif");
  ASSERT_EQ(RunTool("convert -size 96x64 gradient:'#ff8000-#0040ff' -depth 8 -compress none " + Q(rgb)), 0);
  ASSERT_EQ(RunTool("tiffcp -c jpeg:90 -r 64 " + Q(rgb) + " " + Q(jpg)), 0);
  const struct {
    const char* name;
    std::string tif;
    std::string reference;
    int w, h;
    double bound;
  } variants[] = {
      {"ccitt pass-through", g4, bw, 120, 50, 0},
      {"jpeg pass-through", jpg, rgb, 96, 64, 4.0},
  };
  for (const auto& v : variants) {
    const std::string pdf = dir_.File(std::string(v.name).substr(0, 4) + ".pdf");
    std::string msg;
    ASSERT_EQ(RunTool("tiff2pdf -o " + Q(pdf) + " " + Q(v.tif), &msg), 0) << msg;
    Check(v.name, pdf, v.reference, v.w, v.h, v.bound);
  }
}

}  // namespace
