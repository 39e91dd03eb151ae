// Writes whose rows stop before the header's height. With IM_OPEN_LENGTH every format is a
// complete image of the rows that came (even when the header asked for the 16777215 rows of
// a scan to the end of the paper); a TIFF written through the push interface and ended
// early has a strip table that lists exactly its strips. Each file is read back by this
// library and by the outside readers.
#include <sys/stat.h>

#include <cstdio>
#include <sstream>

#include "tests/imagemill/MillTestUtil.h"

using namespace milltest;

namespace {

struct Fmt {
  uint32_t format;
  Kind kind;
  bool lossy;
};

const Fmt kFormats[] = {
    {1, Kind::Rgb, false},          {0x10001, Kind::Grey, false}, {0x10001, Kind::Pal16, false},
    {0x20001, Kind::Bw, false},     {0x30001, Kind::Bw, false},   {0x40001, Kind::Rgb, true},
    {0x40001, Kind::Grey, true},    {2, Kind::Rgb, true},         {2, Kind::Grey, true},
    {3, Kind::Rgb, false},          {3, Kind::Pal256, false},     {3, Kind::Bw, false},
    {5, Kind::Rgb, true},           {5, Kind::Grey, true},        {0x40004, Kind::Rgb, true},
    {0x30004, Kind::Bw, false},     {6, Kind::Rgb, false},        {6, Kind::Pal256, false},
    {6, Kind::Pal16, false},        {6, Kind::Bw, false},
};

const char* Ext(uint32_t format) {
  switch (format & 0xFFFF) {
    case 1: return "tif";
    case 2: return "jpg";
    case 3: return "png";
    case 4: return "pdf";
    case 5: return "jp2";
    default: return "bmp";
  }
}

// Width and height as an outside reader gives them ("w h"), or its complaint.
std::string Outside(const std::string& path, uint32_t format, const TempDir& dir) {
  std::string out;
  const std::string q = "'" + path + "'";
  const uint32_t c = format & 0xFFFF;
  if (c == 1 && (RunTool("tiffinfo -D " + q, &out) != 0 || out.find("Warning") != std::string::npos))
    return "tiffinfo: " + out;
  if (c == 4) {
    if (RunTool("pdfimages -list " + q, &out) != 0) return "pdfimages: " + out;
    std::istringstream lines(out);
    std::string line, page, num, type, w, h;
    std::getline(lines, line);
    std::getline(lines, line);
    if (!std::getline(lines, line)) return "pdfimages: " + out;
    std::istringstream(line) >> page >> num >> type >> w >> h;
    return w + " " + h;
  }
  std::string target = q;
  if (c == 5) {
    const std::string pnm = dir.File("decoded.pnm");
    if (RunTool("opj_decompress -i " + q + " -o '" + pnm + "'", &out) != 0) return "opj_decompress: " + out;
    target = "'" + pnm + "'";
  }
  if (RunTool("identify -format '%w %h' " + target, &out) != 0) return "identify: " + out;
  return out;
}

TEST(OpenLength, EveryFormatEndsAtTheRowsWritten) {
  TempDir dir;
  for (const Fmt& f : kFormats) {
    for (int planned : {200, 16777215}) {
      SCOPED_TRACE(std::string(KindName(f.kind)) + " " + std::to_string(f.format) + " planned " +
                   std::to_string(planned));
      const Image src = MakeImage(f.kind, 64, 37);
      Image asked = src;
      asked.h.biHeight = planned;
      asked.rows.resize(37);  // the rows stop after 37
      WriteCtx ctx{&asked};
      ctx.stopAtRow = 37;
      const std::string path = dir.File(std::string("open.") + Ext(f.format));
      ASSERT_EQ(WriteImage(path, f.format | IM_OPEN_LENGTH, asked, &ctx), IM_STOPPED);
      ReadCtx r;
      ASSERT_EQ(ReadImage(path, &r), IM_OK);
      ASSERT_EQ(r.im.h.biWidth, 64);
      ASSERT_EQ(r.im.h.biHeight, 37);
      const Diff d = Compare(src, r.im);
      if (f.lossy) EXPECT_LT(d.mean, 4.0);
      else EXPECT_EQ(d.max, 0);
      EXPECT_EQ(Outside(path, f.format, dir), "64 37");
    }
  }
}

TEST(OpenLength, AllRowsGiveTheFullImageAndNoRowGivesNoFile) {
  TempDir dir;
  for (const Fmt& f : kFormats) {
    SCOPED_TRACE(std::to_string(f.format));
    const Image src = MakeImage(f.kind, 30, 21);
    const std::string full = dir.File(std::string("full.") + Ext(f.format));
    ASSERT_EQ(WriteImage(full, f.format | IM_OPEN_LENGTH, src), IM_OK);
    ReadCtx r;
    ASSERT_EQ(ReadImage(full, &r), IM_OK);
    EXPECT_EQ(r.im.h.biHeight, 21);
    EXPECT_EQ(Outside(full, f.format, dir), "30 21");

    WriteCtx none{&src};
    none.stopAtRow = 0;
    const std::string empty = dir.File(std::string("empty.") + Ext(f.format));
    ASSERT_EQ(WriteImage(empty, f.format | IM_OPEN_LENGTH, src, &none), IM_STOPPED);
    struct stat st {};
    ASSERT_EQ(::stat(empty.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
  }
}

TEST(OpenLength, FormatsRefuseWhatTheyCannotHoldBeforeAnyRow) {
  TempDir dir;
  const Image bw = MakeImage(Kind::Bw, 16, 8);
  WriteCtx ctx{&bw};
  EXPECT_EQ(WriteImage(dir.File("bw.jpg"), 2 | IM_OPEN_LENGTH, bw, &ctx), IM_ERR_UNSUPPORTED);
  EXPECT_EQ(ctx.rowsAsked, 0);
  Image wide = MakeImage(Kind::Grey, 70000, 1);
  WriteCtx w{&wide};
  EXPECT_EQ(WriteImage(dir.File("wide.jpg"), 2 | IM_OPEN_LENGTH, wide, &w), IM_ERR_TOO_LARGE);
  EXPECT_EQ(w.rowsAsked, 0);
  EXPECT_EQ(WriteImage(dir.File("bad"), 0x70007u | IM_OPEN_LENGTH, bw), IM_ERR_PARAM);
}

// An uncompressed TIFF pushed row by row and ended early: several strips of rows, each one
// in the table, the last one short, and nothing libtiff's tools warn about.
TEST(PushedTiffEndedEarly, StripTableListsExactlyTheWrittenStrips) {
  TempDir dir;
  for (Kind kind : {Kind::Grey, Kind::Rgb, Kind::Bw}) {
    SCOPED_TRACE(KindName(kind));
    // Rows of 3000 bytes or more: strips of at most 87 rows.
    const int width = kind == Kind::Bw ? 24000 : 3000, planned = 5000, rows = 333;
    const Image src = MakeImage(kind, width, rows);
    const std::string path = dir.File("pushed.tif");
    const int fd = OpenNew(path);
    ASSERT_GE(fd, 0);
    IM_WRITECONTEXT ctx{};
    ctx.format = 1;
    ctx.header = src.h;
    ctx.header.biHeight = planned;
    std::memcpy(ctx.colors, src.colors.data(), sizeof ctx.colors);
    ctx.grey = static_cast<uint32_t>(src.grey);
    ASSERT_EQ(IM_WriteStart(fd, &ctx), IM_OK);
    for (int y = 0; y < rows; ++y) ASSERT_EQ(IM_WriteNext(&ctx, src.rows[static_cast<size_t>(y)].data(), 0), IM_OK);
    ASSERT_EQ(IM_WriteNext(&ctx, nullptr, IM_STOPPED), IM_OK);
    EXPECT_EQ(IM_WriteEnd(&ctx), IM_STOPPED);
    ::close(fd);

    std::string info;
    ASSERT_EQ(RunTool("tiffinfo -D '" + path + "'", &info), 0) << info;
    EXPECT_EQ(info.find("Warning"), std::string::npos) << info;
    EXPECT_EQ(info.find("Bogus"), std::string::npos) << info;
    EXPECT_NE(info.find("Image Length: " + std::to_string(rows)), std::string::npos) << info;
    // The table as stored: as many offsets and counts as strips of RowsPerStrip rows.
    std::string dump;
    ASSERT_EQ(RunTool("tiffdump '" + path + "'", &dump), 0) << dump;
    const size_t rpsAt = dump.find("RowsPerStrip (278)");
    ASSERT_NE(rpsAt, std::string::npos) << dump;
    const std::string rpsLine = dump.substr(rpsAt, dump.find('\n', rpsAt) - rpsAt);
    const int rps = std::stoi(rpsLine.substr(rpsLine.rfind('<') + 1));
    ASSERT_GT(rps, 0);
    const int strips = (rows + rps - 1) / rps;
    EXPECT_GT(strips, 1) << "the case must span several strips";
    for (const char* tag : {"StripOffsets (273)", "StripByteCounts (279)"}) {
      const size_t at = dump.find(tag);
      ASSERT_NE(at, std::string::npos) << dump;
      const std::string line = dump.substr(at, dump.find('\n', at) - at);
      EXPECT_NE(line.find(" " + std::to_string(strips) + "<"), std::string::npos) << line;
    }
    ReadCtx r;
    ASSERT_EQ(ReadImage(path, &r), IM_OK);
    ASSERT_EQ(r.im.h.biHeight, rows);
    EXPECT_EQ(Compare(src, r.im).max, 0);
  }
}

}  // namespace
