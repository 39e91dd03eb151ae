// Write streams: lines in, an uncompressed TIFF out, and back through a read stream.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/LineWriter.h"
#include "tests/engine/streams/StreamTestUtil.h"

using streams_test::DecodeFile;
using streams_test::FakeNotifier;
using streams_test::FileSizeLimit;
using streams_test::HostScope;
using streams_test::Line;
using streams_test::MakeImage;
using streams_test::ReadAll;
using streams_test::TempDir;

namespace {

// Writes `img` through a write stream into `path`, `band` lines per WriteLines call.
// Returns CloseWriteStream's result (or the first failure).
// With `openFirst` the stream opens before the output starts, as the scan pipelines do.
int WriteImage(ImageState* img, const std::string& path, int band = 1, bool openFirst = false) {
  img->fileHandle = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
  if (img->fileHandle < 0) return -100;
  LineWriter w(img);
  int result = 0;
  if (openFirst && OpenWriteStream(&w) != 0) result = -102;
  if (StartImageOutput(&w) != 0) result = -101;
  if (!openFirst && OpenWriteStream(&w) != 0) result = -102;
  const size_t slw = static_cast<size_t>(img->storedLineWidth);
  std::vector<uint8_t> lines;
  for (int32_t y = 0; y < img->height; ++y) {
    auto l = Line(*img, y);
    lines.insert(lines.end(), l.begin(), l.end());
    if (static_cast<int>(lines.size() / slw) == band || y == img->height - 1) {
      if (WriteLines(&w, lines.data(), static_cast<int64_t>(lines.size())) != 0 && result == 0) {
        result = -103;
      }
      lines.clear();
    }
  }
  int closed = CloseWriteStream(&w);
  if (result == 0) result = closed;
  ::close(img->fileHandle);
  img->fileHandle = kNoFile;
  return result;
}

// Reads the written file back through a read stream, as the next tool would.
void ExpectReadsBack(ImageState* written, const std::string& path) {
  ImageState* back = MakeImage(written->kind, written->width, written->height);
  back->sourceForm = SF_RAW_FILE;
  back->rawPath = path;
  back->dataOffset = written->dataOffset;
  back->photometric = written->photometric;
  std::vector<uint8_t> got(static_cast<size_t>(back->storedLineWidth));
  LineReader seq(back);
  ASSERT_EQ(OpenReadStream(&seq, kReadSequential), kReadOpenOk);
  for (int32_t y = 0; y < back->height; ++y) {
    ASSERT_EQ(ReadLines(&seq, got.data(), kReadSequential, 0), 1);
    ASSERT_EQ(got, Line(*back, y)) << "line " << y;
  }
  CloseReadStream(&seq);
  LineReader rnd(back);
  ASSERT_EQ(OpenReadStream(&rnd, kReadByNumber), kReadOpenOk);
  for (int32_t y = back->height - 1; y >= 0; y -= 3) {
    ASSERT_EQ(ReadLines(&rnd, got.data(), kReadByNumber, y), 1);
    ASSERT_EQ(got, Line(*back, y)) << "line " << y;
  }
  CloseReadStream(&rnd);
  orb::FreeImageChain(back);
}

struct Shape {
  uint16_t kind;
  int32_t width;
  int32_t height;
  int band;
};

class WriteRoundTrip : public ::testing::TestWithParam<Shape> {};

TEST_P(WriteRoundTrip, WriteStreamThenRawFileThenReadStream) {
  HostScope host;
  TempDir dir;
  const Shape s = GetParam();
  ImageState* img = MakeImage(s.kind, s.width, s.height);
  const std::string path = dir.File("out.tif");
  // Odd bands open the stream before the output starts; both orders work.
  ASSERT_EQ(WriteImage(img, path, s.band, s.band % 2 == 1), 0);
  EXPECT_EQ(img->dataOffset, 8u);
  ExpectReadsBack(img, path);

  // The file is a TIFF the imaging library reads too, with the same pixels.
  auto d = DecodeFile(path);
  ASSERT_EQ(d.result, IM_OK);
  EXPECT_EQ(d.header.biWidth, s.width);
  EXPECT_EQ(d.header.biHeight, s.height);
  ASSERT_EQ(d.rows.size(), static_cast<size_t>(s.height));
  for (int32_t y = 0; y < s.height; y += 7) {
    auto want = Line(*img, y);
    want.resize(static_cast<size_t>(s.kind == IK_RGB ? 3 * s.width : s.width));
    ASSERT_EQ(d.rows[static_cast<size_t>(y)], want) << "line " << y;
  }
  orb::FreeImageChain(img);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, WriteRoundTrip,
    ::testing::Values(Shape{IK_RGB, 17, 30, 1}, Shape{IK_RGB, 3000, 200, 64},
                      Shape{IK_PALETTE256, 11, 20, 3}, Shape{IK_PALETTE16, 5, 21, 1},
                      Shape{IK_PALETTE16, 1, 9, 4}, Shape{IK_GREY, 1, 12, 5},
                      Shape{IK_GREY_FROM_GREEN, 33, 40, 40}, Shape{IK_BW, 1, 15, 1},
                      Shape{IK_BW, 9, 25, 2}, Shape{IK_BW, 12, 19, 19},
                      Shape{IK_BW_FROM_GREEN, 20001, 100, 33},
                      // 16 lines a buffer: a dozen hand-overs between the two threads.
                      Shape{IK_GREY, 65536, 200, 7}));

TEST(WriteStream, ALineCountThatFillsTheBuffersExactlyGoesThroughTheWriterThread) {
  HostScope host;
  TempDir dir;
  // 1024-byte lines: 1024 lines a 1 MB buffer; 2048 lines fill exactly two buffers.
  ImageState* img = MakeImage(IK_GREY, 1024, 2048);
  LineWriter w(img);
  const std::string path = dir.File("exact.tif");
  img->fileHandle = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
  ASSERT_EQ(StartImageOutput(&w), 0);
  ASSERT_EQ(OpenWriteStream(&w), 0);
  EXPECT_EQ(w.linesPerBuffer, 1024);
  for (int32_t y = 0; y < img->height; ++y) {
    auto l = Line(*img, y);
    ASSERT_EQ(WriteLines(&w, l.data(), static_cast<int64_t>(l.size())), 0);
  }
  EXPECT_EQ(w.buffersCompleted, 2);
  EXPECT_EQ(w.lineCount, 0);
  ASSERT_EQ(CloseWriteStream(&w), 0);
  ::close(img->fileHandle);
  img->fileHandle = kNoFile;
  ExpectReadsBack(img, path);
  orb::FreeImageChain(img);
}

TEST(WriteStream, AStreamClosedBeforeTheHeightKeepsTheLinesItWasGiven) {
  HostScope host;
  TempDir dir;
  ImageState* img = MakeImage(IK_GREY, 16, 100);
  const std::string path = dir.File("short.tif");
  img->fileHandle = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
  LineWriter w(img);
  ASSERT_EQ(StartImageOutput(&w), 0);
  ASSERT_EQ(OpenWriteStream(&w), 0);
  for (int32_t y = 0; y < 30; ++y) {
    auto l = Line(*img, y);
    ASSERT_EQ(WriteLines(&w, l.data(), 16), 0);
  }
  EXPECT_EQ(CloseWriteStream(&w), 0);
  ::close(img->fileHandle);
  img->fileHandle = kNoFile;
  auto d = DecodeFile(path);
  ASSERT_EQ(d.result, IM_OK);
  ASSERT_EQ(d.rows.size(), 30u);
  EXPECT_EQ(d.rows[29], Line(*img, 29));
  orb::FreeImageChain(img);
}

TEST(WriteStream, AFullDiskIsReportedNotReturnedAsSuccess) {
  HostScope host;
  TempDir dir;
  ImageState* img = MakeImage(IK_RGB, 2000, 400);  // 2.4 MB
  int result = 0;
  {
    FileSizeLimit limit(300 * 1024);
    result = WriteImage(img, dir.File("full.tif"), 16);
  }
  EXPECT_NE(result, 0);
  orb::FreeImageChain(img);
}

// A stream flushed as it grows takes the flushes' failures as its own: the kernel reports a
// writeback error to one flush only, so the owner's final flush would not see it. Here the
// "disk" takes every byte but cannot flush (a character device).
TEST(WriteStream, AFlushThatFailsWhileTheFileGrowsFailsTheClose) {
  HostScope host;
  ImageState* img = MakeImage(IK_GREY, 8000, 4400);  // 35 MB: past one flush step
  for (bool flushed : {false, true}) {
    img->fileHandle = ::open("/dev/null", O_WRONLY);
    ASSERT_GE(img->fileHandle, 0);
    LineWriter w(img);
    w.writeBehind = flushed;
    ASSERT_EQ(StartImageOutput(&w), 0);
    ASSERT_EQ(OpenWriteStream(&w), 0);
    std::vector<uint8_t> lines(size_t{8000} * 100, 9);
    for (int y = 0; y < 4400; y += 100)
      ASSERT_EQ(WriteLines(&w, lines.data(), static_cast<int64_t>(lines.size())), 0);
    // A flush asked for but not begun when the stream closes is left to the owner's final
    // one: wait for the flushing thread to have run.
    for (int i = 0; flushed && w.flushBehind && w.flushBehind->Flushes() == 0 && i < 2000; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(CloseWriteStream(&w), flushed ? -1 : 0) << (flushed ? "flushed as it grows" : "not flushed");
    ::close(img->fileHandle);
    img->fileHandle = kNoFile;
  }
  orb::FreeImageChain(img);
}

TEST(WriteStream, WritesAfterAFailureAreRefusedAndClosingTwiceIsHarmless) {
  HostScope host;
  ImageState* img = MakeImage(IK_GREY, 8, 4);
  img->fileHandle = kNoFile;  // no output file: the library cannot start
  LineWriter w(img);
  EXPECT_NE(StartImageOutput(&w), 0);
  ASSERT_EQ(OpenWriteStream(&w), 0);
  std::vector<uint8_t> line(8, 1);
  EXPECT_EQ(WriteLines(&w, line.data(), 8), -1);
  EXPECT_EQ(CloseWriteStream(&w), -1);
  EXPECT_EQ(CloseWriteStream(&w), -1);
  EXPECT_EQ(WriteLines(&w, line.data(), 8), -1);
  orb::FreeImageChain(img);
}

TEST(WriteStream, DestroyingAnOpenStreamStopsItsThread) {
  HostScope host;
  TempDir dir;
  ImageState* img = MakeImage(IK_GREY, 4096, 600);
  img->fileHandle = ::open(dir.File("d.tif").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
  {
    LineWriter w(img);
    ASSERT_EQ(StartImageOutput(&w), 0);
    ASSERT_EQ(OpenWriteStream(&w), 0);
    std::vector<uint8_t> lines(4096 * 300, 7);
    ASSERT_EQ(WriteLines(&w, lines.data(), static_cast<int64_t>(lines.size())), 0);
  }
  ::close(img->fileHandle);
  img->fileHandle = kNoFile;
  orb::FreeImageChain(img);
}

struct JpegCase {
  uint32_t code;
  int32_t dimension;
  bool show, clamp, over;
  int32_t after;
  int message;
};

TEST(CheckJpegSizeLimit, OnlyTheJpegCodesHaveALimit) {
  const JpegCase cases[] = {
      {OF_JPEG, 32768, true, true, true, 32760, 34010},
      {OF_JPEG, 32767, true, true, false, 32767, 0},
      {OF_PDF_JPEG, 40000, true, false, true, 40000, 34009},
      {OF_PDF_JPEG, 40000, false, true, true, 32760, 0},
      {OF_TIFF, 40000, true, true, false, 40000, 0},
      {OF_TIFF_JPEG, 40000, true, true, false, 40000, 0},
      {OF_JPEG2000, 90000, true, true, false, 90000, 0},
  };
  for (const JpegCase& c : cases) {
    FakeNotifier notifier;
    HostScope host(&notifier);
    int32_t dim = c.dimension;
    EXPECT_EQ(CheckJpegSizeLimit(c.code, &dim, c.show, c.clamp), c.over) << c.code << " " << c.dimension;
    EXPECT_EQ(dim, c.after);
    if (c.message != 0) {
      ASSERT_EQ(notifier.ids, std::vector<int>{c.message});
      ASSERT_EQ(notifier.args.size(), 2u);
      EXPECT_EQ(std::get<std::string>(notifier.args[0]), "JPEG");
      EXPECT_EQ(std::get<int64_t>(notifier.args[1]), 32767);
    } else {
      EXPECT_TRUE(notifier.ids.empty());
    }
  }
}

}  // namespace
