// Runs of lines: ReadLineRun reads several lines at once (straight into the caller's
// buffer where it can), WriteSpace/CommitLines let the caller fill the write stream's own
// buffer. Both must give exactly what line-by-line reading and writing give.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/LineWriter.h"
#include "tests/engine/streams/StreamTestUtil.h"

using streams_test::HostScope;
using streams_test::Line;
using streams_test::MakeImage;
using streams_test::ReadAll;
using streams_test::TempDir;
using streams_test::WriteAllBytes;

namespace {

constexpr uint64_t kHeader = 200;

// The stored form of a line, packed by hand for black and white (photometric 1: a set bit
// is white) and 16 colours.
std::vector<uint8_t> Stored(const ImageState& img, const std::vector<uint8_t>& line) {
  std::vector<uint8_t> out;
  if (img.kind == IK_BW) {
    out.assign((line.size() + 7) / 8, 0);
    for (size_t x = 0; x < line.size(); ++x) {
      if (line[x] != 0) out[x / 8] = static_cast<uint8_t>(out[x / 8] | (0x80 >> (x % 8)));
    }
  } else if (img.kind == IK_PALETTE16) {
    for (size_t x = 0; x < line.size(); x += 2) out.push_back(static_cast<uint8_t>((line[x] << 4) | line[x + 1]));
  } else {
    out = line;
  }
  return out;
}

// A raw image file of the first `lines` lines of `img` (all when negative).
void WriteRaw(ImageState* img, const std::string& path, int32_t lines = -1) {
  if (lines < 0) lines = img->height;
  std::vector<uint8_t> bytes(kHeader, 0x5A);
  for (int32_t y = 0; y < lines; ++y) {
    const auto s = Stored(*img, Line(*img, y));
    bytes.insert(bytes.end(), s.begin(), s.end());
  }
  WriteAllBytes(path, bytes);
  img->sourceForm = SF_RAW_FILE;
  img->rawPath = path;
  img->dataOffset = kHeader;
  img->photometric = img->kind == IK_BW ? PM_BLACK_IS_ZERO : img->photometric;
}

struct RunCase {
  const char* what;
  uint16_t kind;
  int32_t width;
  int32_t height;
  int32_t top;        // the region's first line
  int32_t rowOrder;   // 1: the file holds its lines bottom-up
};

class ReadLineRunTest : public ::testing::TestWithParam<RunCase> {};

// Runs of many sizes (single lines, runs inside a block, runs of several blocks, runs
// that start inside a line the block holds part of), mixed with single ReadLines calls.
TEST_P(ReadLineRunTest, DeliversTheLinesOfSingleReadsInOrder) {
  HostScope host;
  TempDir dir;
  const RunCase c = GetParam();
  ImageState* img = MakeImage(c.kind, c.width, c.height);
  WriteRaw(img, dir.File("raw.tif"));
  img->rowOrder = c.rowOrder;
  img->region.top = c.top;
  // A bottom-up file holds image line y as stored line height - 1 - y.
  auto expected = [&](int32_t y) { return Line(*img, y); };
  if (c.rowOrder != 0) {
    std::vector<uint8_t> bytes(kHeader, 0x5A);
    for (int32_t s = 0; s < c.height; ++s) {
      const auto st = Stored(*img, Line(*img, c.height - 1 - s));
      bytes.insert(bytes.end(), st.begin(), st.end());
    }
    WriteAllBytes(img->rawPath, bytes);
  }
  const size_t slw = static_cast<size_t>(img->storedLineWidth);
  LineReader r(img);
  ASSERT_EQ(OpenReadStream(&r, kReadSequential), kReadOpenOk);
  const int32_t runs[] = {1, 3, 200, 1, 57, 400, 2, 1000};
  int32_t y = c.top;
  for (size_t i = 0; y < c.height; ++i) {
    const int32_t n = std::min(runs[i % std::size(runs)], c.height - y);
    std::vector<uint8_t> got(slw * static_cast<size_t>(n), 0x33);
    if (i % 3 == 2) {
      for (int32_t k = 0; k < n; ++k) ASSERT_EQ(ReadLines(&r, got.data() + k * slw, kReadSequential, 0), 1);
    } else {
      ASSERT_EQ(ReadLineRun(&r, got.data(), n, slw), n);
    }
    for (int32_t k = 0; k < n; ++k) {
      ASSERT_EQ(std::vector<uint8_t>(got.begin() + static_cast<ptrdiff_t>(k * slw),
                                     got.begin() + static_cast<ptrdiff_t>((k + 1) * slw)),
                expected(y + k))
          << "line " << y + k;
    }
    y += n;
  }
  CloseReadStream(&r);
  orb::FreeImageChain(img);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ReadLineRunTest,
    ::testing::Values(RunCase{"grey, lines crossing block ends", IK_GREY, 3001, 900, 0, 0},
                      RunCase{"colour from the region's top", IK_RGB, 1001, 700, 37, 0},
                      RunCase{"a line wider than the block", IK_RGB, 100000, 5, 0, 0},
                      RunCase{"packed black and white", IK_BW, 4099, 700, 0, 0},
                      RunCase{"16 colours", IK_PALETTE16, 3000, 400, 0, 0},
                      RunCase{"bottom-up grey", IK_GREY, 3001, 500, 0, 1}),
    [](const ::testing::TestParamInfo<RunCase>& i) { return "case" + std::to_string(i.index); });

TEST(ReadLineRun, LinesPastTheEndOfAFinishedFileComeOutWhite) {
  HostScope host;
  TempDir dir;
  ImageState* img = MakeImage(IK_GREY, 3000, 400);
  WriteRaw(img, dir.File("short.tif"), 150);  // 150 of 400 lines
  LineReader r(img);
  ASSERT_EQ(OpenReadStream(&r, kReadSequential), kReadOpenOk);
  std::vector<uint8_t> got(size_t{3000} * 400, 0);
  ASSERT_EQ(ReadLineRun(&r, got.data(), 400, 3000), 400);
  for (int32_t y = 0; y < 400; ++y) {
    const std::vector<uint8_t> line(got.begin() + y * 3000, got.begin() + (y + 1) * 3000);
    ASSERT_EQ(line, y < 150 ? Line(*img, y) : std::vector<uint8_t>(3000, 255)) << "line " << y;
  }
  EXPECT_EQ(ReadLineRun(nullptr, got.data(), 1, 3000), 0);
  EXPECT_EQ(ReadLineRun(&r, got.data(), 0, 3000), 0);
  CloseReadStream(&r);
  orb::FreeImageChain(img);
}

TEST(ReadLineRun, AFailingReadDeliversOnlyWholeLinesAndSaysWhy) {
  HostScope host;
  TempDir dir;
  ImageState* img = MakeImage(IK_GREY, 3000, 400);
  WriteRaw(img, dir.File("raw.tif"));
  LineReader r(img);
  ASSERT_EQ(OpenReadStream(&r, kReadSequential), kReadOpenOk);
  // The descriptor now names a directory: every read fails.
  const int bad = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(bad, 0);
  ASSERT_GE(::dup2(bad, img->fileHandle), 0);
  ::close(bad);
  std::vector<uint8_t> got(size_t{3000} * 400);
  const int32_t n = ReadLineRun(&r, got.data(), 400, 3000);
  EXPECT_LT(n, 400);
  EXPECT_EQ(n, static_cast<int32_t>(kReadBlockBytes / 3000));  // what the first block held
  EXPECT_TRUE(r.failed.load());
  EXPECT_FALSE(r.lastError.empty());
  CloseReadStream(&r);
  orb::FreeImageChain(img);
}

// Writes `img` into `path` with WriteLines, a line at a time, or through the buffer itself
// in runs of uneven sizes. CloseWriteStream's result.
int Write(ImageState* img, const std::string& path, bool inPlace) {
  img->fileHandle = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
  LineWriter w(img);
  if (StartImageOutput(&w) != 0 || OpenWriteStream(&w) != 0) return -100;
  const size_t slw = static_cast<size_t>(img->storedLineWidth);
  const int32_t runs[] = {1, 300, 7, 1000, 2};
  for (int32_t y = 0, i = 0; y < img->height; ++i) {
    if (!inPlace) {
      const auto l = Line(*img, y++);
      if (WriteLines(&w, l.data(), static_cast<int64_t>(slw)) != 0) return -101;
      continue;
    }
    int32_t room = 0;
    uint8_t* space = WriteSpace(&w, &room);
    if (!space || room <= 0) return -102;
    const int32_t n = std::min({runs[i % 5], room, img->height - y});
    for (int32_t k = 0; k < n; ++k) {
      const auto l = Line(*img, y + k);
      std::copy(l.begin(), l.end(), space + static_cast<size_t>(k) * slw);
    }
    if (CommitLines(&w, n) != 0) return -103;
    y += n;
  }
  const int closed = CloseWriteStream(&w);
  ::close(img->fileHandle);
  img->fileHandle = kNoFile;
  return closed;
}

TEST(WriteSpace, LinesFilledInTheBufferMakeTheSameFileAsWriteLines) {
  HostScope host;
  TempDir dir;
  for (uint16_t kind : {uint16_t{IK_GREY}, uint16_t{IK_RGB}, uint16_t{IK_PALETTE256}}) {
    SCOPED_TRACE(kind);
    // Several 1 MB buffers, the last one part full.
    ImageState* img = MakeImage(kind, 2500, 1500);
    ASSERT_EQ(Write(img, dir.File("lines.tif"), false), 0);
    ASSERT_EQ(Write(img, dir.File("space.tif"), true), 0);
    const auto a = ReadAll(dir.File("lines.tif"));
    ASSERT_FALSE(a.empty());
    EXPECT_TRUE(a == ReadAll(dir.File("space.tif")));
    orb::FreeImageChain(img);
  }
}

TEST(WriteSpace, PackedKindsAndClosedOrFailedStreamsHaveNoRoom) {
  HostScope host;
  TempDir dir;
  for (uint16_t kind : {uint16_t{IK_BW}, uint16_t{IK_PALETTE16}}) {
    ImageState* img = MakeImage(kind, 64, 4);
    img->fileHandle = ::open(dir.File("p.tif").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
    LineWriter w(img);
    ASSERT_EQ(StartImageOutput(&w), 0);
    ASSERT_EQ(OpenWriteStream(&w), 0);
    int32_t room = 5;
    EXPECT_EQ(WriteSpace(&w, &room), nullptr) << kind;
    EXPECT_EQ(room, 0);
    CloseWriteStream(&w);
    ::close(img->fileHandle);
    img->fileHandle = kNoFile;
    orb::FreeImageChain(img);
  }
  ImageState* img = MakeImage(IK_GREY, 1024, 4);
  img->fileHandle = ::open(dir.File("g.tif").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
  LineWriter w(img);
  int32_t room = 0;
  EXPECT_EQ(WriteSpace(&w, &room), nullptr);  // not open yet
  ASSERT_EQ(StartImageOutput(&w), 0);
  ASSERT_EQ(OpenWriteStream(&w), 0);
  ASSERT_NE(WriteSpace(&w, &room), nullptr);
  EXPECT_EQ(room, 1024);
  EXPECT_EQ(CommitLines(&w, room + 1), -1);  // more than the buffer holds
  EXPECT_EQ(CommitLines(&w, -1), -1);
  // After a failure of the library nothing more is taken.
  w.writeResult.store(IM_ERR_IO);
  EXPECT_EQ(WriteSpace(&w, &room), nullptr);
  EXPECT_EQ(CommitLines(&w, 1), -1);
  CloseWriteStream(&w);
  EXPECT_EQ(WriteSpace(&w, &room), nullptr);
  ::close(img->fileHandle);
  img->fileHandle = kNoFile;
  orb::FreeImageChain(img);
}

}  // namespace
