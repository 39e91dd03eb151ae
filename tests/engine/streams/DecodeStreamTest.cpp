// Read streams over files only the imaging library decodes: the decoder thread, its
// hand-over of lines, the raw image file it fills, and the GUI-thread opening.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "engine/ReadWrite/LineReader.h"
#include "tests/engine/streams/StreamTestUtil.h"

using streams_test::EncodeFile;
using streams_test::FakeDisplay;
using streams_test::FakeNotifier;
using streams_test::FakePump;
using streams_test::FileSizeLimit;
using streams_test::HostScope;
using streams_test::Line;
using streams_test::MakeImage;
using streams_test::TempDir;

namespace {

int StopAtFirst(void*, uint8_t*, int, int) { return IM_STOPPED; }

// A record for `path` as the probe leaves it: geometry from the library, source form 1.
ImageState* Probe(const std::string& path) {
  ImageState* img = orb::NewImageState();
  img->state = VS_OPENED;  // opened from a file
  img->sourcePath = path;
  LineReader r(img);
  int fd = ::open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  IM_ReadByCallback(fd, StopAtFirst, ReadHeaderCallback, &r);
  ::close(fd);
  img->sourceForm = SF_LIBRARY;
  return img;
}

// Source files of `kind` in `code`, their lines made by Line().
std::string MakeSource(const TempDir& dir, uint16_t kind, int32_t w, int32_t h, uint32_t code,
                       const std::string& name) {
  ImageState* model = MakeImage(kind, w, h);
  std::string path = dir.File(name);
  EXPECT_EQ(EncodeFile(path, code, *model), IM_OK);
  orb::FreeImageChain(model);
  return path;
}

size_t CountTif(const TempDir& dir) {
  size_t n = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) {
    if (e.path().filename().string().rfind("Qel", 0) == 0) ++n;
  }
  return n;
}

struct Shape {
  uint16_t kind;
  int32_t width;
  int32_t height;
  uint32_t code;
};

class DecodeRoundTrip : public ::testing::TestWithParam<Shape> {};

TEST_P(DecodeRoundTrip, DecodesOnceIntoARawFileThatLaterStreamsRead) {
  HostScope host;
  TempDir dir;
  orb::SetTempFilesFolder(dir.path());
  const Shape s = GetParam();
  std::string src = MakeSource(dir, s.kind, s.width, s.height, s.code, "src.img");
  ImageState* img = Probe(src);
  ASSERT_EQ(img->kind, s.kind);
  ASSERT_EQ(img->width, s.width);
  ASSERT_EQ(img->height, s.height);
  ImageState* model = MakeImage(s.kind, s.width, s.height);

  std::vector<uint8_t> got(static_cast<size_t>(img->storedLineWidth));
  {
    LineReader r(img);
    ASSERT_EQ(OpenReadStream(&r, kReadSequential), kReadOpenOk);
    for (int32_t y = 0; y < s.height; ++y) {
      ASSERT_EQ(ReadLines(&r, got.data(), kReadSequential, 0), 1) << y;
      ASSERT_EQ(got, Line(*model, y)) << "line " << y;
    }
    // After the last line: end of data, at once and every time.
    EXPECT_EQ(ReadLines(&r, got.data(), kReadSequential, 0), 0);
    EXPECT_EQ(ReadLines(&r, got.data(), kReadSequential, 0), 0);
    EXPECT_FALSE(r.failed.load()) << r.lastError;
    EXPECT_EQ(CloseReadStream(&r), 1);
  }
  EXPECT_EQ(img->sourceForm, 2u);
  ASSERT_FALSE(img->rawPath.empty());
  EXPECT_EQ(img->fileHandle, kNoFile);

  // The raw image file holds every line, the last partial block included.
  LineReader again(img);
  ASSERT_EQ(OpenReadStream(&again, kReadByNumber), kReadOpenOk);
  for (int32_t y = s.height - 1; y >= 0; --y) {
    ASSERT_EQ(ReadLines(&again, got.data(), kReadByNumber, y), 1);
    ASSERT_EQ(got, Line(*model, y)) << "raw line " << y;
  }
  CloseReadStream(&again);

  // The record owns its raw file: freeing the record removes it.
  const std::string raw = img->rawPath;
  orb::FreeImageChain(img);
  EXPECT_FALSE(std::filesystem::exists(raw));
  orb::FreeImageChain(model);
  orb::SetTempFilesFolder("");
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DecodeRoundTrip,
    ::testing::Values(Shape{IK_BW, 1, 9, OF_TIFF_PACKBITS}, Shape{IK_BW, 13, 31, OF_TIFF_G4},
                      Shape{IK_PALETTE16, 5, 7, OF_TIFF_PACKBITS},
                      Shape{IK_PALETTE16, 1, 4, OF_PNG}, Shape{IK_PALETTE256, 19, 23, OF_PNG},
                      Shape{IK_GREY, 1024, 512, OF_TIFF_PACKBITS},  // 2 blocks exactly
                      Shape{IK_GREY, 1024, 300, OF_PNG},            // a partial last block
                      Shape{IK_RGB, 33, 20, OF_PNG}, Shape{IK_RGB, 7, 5, OF_BMP}));

TEST(DecodeStream, RandomAccessIsRefusedButTheStreamStillReads) {
  HostScope host;
  TempDir dir;
  orb::SetTempFilesFolder(dir.path());
  ImageState* img = Probe(MakeSource(dir, IK_GREY, 8, 3, OF_PNG, "g.png"));
  ImageState* model = MakeImage(IK_GREY, 8, 3);
  LineReader r(img);
  EXPECT_EQ(OpenReadStream(&r, kReadByNumber), kReadOpenNoRandomAccess);
  std::vector<uint8_t> got(8);
  ASSERT_EQ(ReadLines(&r, got.data(), kReadByNumber, 2), 1);
  EXPECT_EQ(got, Line(*model, 0));  // the decode form delivers the next line
  CloseReadStream(&r);
  orb::FreeImageChain(img);
  orb::FreeImageChain(model);
  orb::SetTempFilesFolder("");
}

TEST(DecodeStream, ClosingWhileTheDecoderRunsStopsItAndDropsTheUnfinishedRawFile) {
  HostScope host;
  TempDir dir;
  orb::SetTempFilesFolder(dir.path());
  ImageState* img = Probe(MakeSource(dir, IK_GREY, 2000, 3000, OF_PNG, "big.png"));
  for (int round = 0; round < 3; ++round) {
    LineReader r(img);
    ASSERT_EQ(OpenReadStream(&r, kReadSequential), kReadOpenOk);
    std::vector<uint8_t> got(2000);
    for (int y = 0; y < 5 * round; ++y) ASSERT_EQ(ReadLines(&r, got.data(), kReadSequential, 0), 1);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(CloseReadStream(&r), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    EXPECT_EQ(img->sourceForm, 1u);
    EXPECT_TRUE(img->rawPath.empty());
    EXPECT_EQ(CountTif(dir), 0u);
  }
  // Destroying a reader whose stream is open does the same.
  {
    LineReader r(img);
    ASSERT_EQ(OpenReadStream(&r, kReadSequential), kReadOpenOk);
  }
  EXPECT_EQ(img->sourceForm, 1u);
  EXPECT_EQ(CountTif(dir), 0u);
  orb::FreeImageChain(img);
  orb::SetTempFilesFolder("");
}

TEST(DecodeStream, ADamagedFileEndsTheLinesAndIsReportedAsAFailure) {
  HostScope host;
  TempDir dir;
  orb::SetTempFilesFolder(dir.path());
  std::string src = MakeSource(dir, IK_RGB, 300, 400, OF_PNG, "cut.png");
  std::filesystem::resize_file(src, std::filesystem::file_size(src) / 2);
  ImageState* img = Probe(src);
  ASSERT_EQ(img->height, 400);
  LineReader r(img);
  ASSERT_EQ(OpenReadStream(&r, kReadSequential), kReadOpenOk);
  std::vector<uint8_t> got(900);
  int lines = 0;
  while (lines <= 400 && ReadLines(&r, got.data(), kReadSequential, 0) == 1) ++lines;
  EXPECT_LT(lines, 400);
  EXPECT_TRUE(r.failed.load());
  EXPECT_FALSE(r.lastError.empty());
  EXPECT_EQ(ReadLines(&r, got.data(), kReadSequential, 0), 0);
  CloseReadStream(&r);
  EXPECT_EQ(img->sourceForm, 1u);
  EXPECT_EQ(CountTif(dir), 0u);
  orb::FreeImageChain(img);
  orb::SetTempFilesFolder("");
}

TEST(DecodeStream, ARawFileThatCannotBeWrittenFailsTheStream) {
  HostScope host;
  TempDir dir;
  orb::SetTempFilesFolder(dir.path());
  ImageState* img = Probe(MakeSource(dir, IK_GREY, 1000, 2000, OF_PNG, "g.png"));
  LineReader r(img);
  int lines = 0;
  {
    FileSizeLimit limit(600 * 1000);
    ASSERT_EQ(OpenReadStream(&r, kReadSequential), kReadOpenOk);
    std::vector<uint8_t> got(1000);
    while (lines <= 2000 && ReadLines(&r, got.data(), kReadSequential, 0) == 1) ++lines;
  }
  EXPECT_LT(lines, 2000);
  EXPECT_TRUE(r.failed.load());
  CloseReadStream(&r);
  EXPECT_EQ(img->sourceForm, 1u);
  orb::FreeImageChain(img);
  orb::SetTempFilesFolder("");
}

TEST(DecodeStream, NoRoomForTheRawFileIsRefusedWithTheDiskSpaceMessage) {
  FakeNotifier notifier;
  HostScope host(&notifier);
  TempDir dir;
  orb::SetTempFilesFolder(dir.path());
  ImageState* img = Probe(MakeSource(dir, IK_GREY, 10, 10, OF_PNG, "g.png"));
  // Claims about 2 PB: more than any disk holds.
  img->width = 1'000'000;
  img->height = 2'000'000'000;
  img->storedLineWidth = 1'000'000;
  LineReader r(img);
  EXPECT_EQ(OpenReadStream(&r, kReadSequential), kReadOpenFailed);
  EXPECT_EQ(notifier.ids, std::vector<int>{33018});
  EXPECT_EQ(CountTif(dir), 0u);
  orb::FreeImageChain(img);
  orb::SetTempFilesFolder("");
}

TEST(ReadHeaderCallback, FillsGeometryKindAndResolution) {
  struct Case {
    uint16_t bits;
    int grey;
    int32_t ppm;
    uint16_t kind;
    int32_t slw;
    int32_t dpi;
    uint32_t photometric;
    bool regionFlag;
  };
  const Case cases[] = {
      {1, 0, 11811, IK_BW, 7, 300, 1, true},          {4, 0, 0, IK_PALETTE16, 8, 100, 3, true},
      {8, 1, 1968, IK_GREY, 7, 50, 1, true},          {8, 0, 1900, IK_PALETTE256, 7, 100, 3, true},
      {16, 0, 23622, IK_PALETTE16BIT, 14, 600, 3, false}, {24, 0, 3937, IK_RGB, 21, 100, 2, true},
      {32, 0, 3937, IK_CMYK32, 28, 100, 5, false},
  };
  for (const Case& c : cases) {
    ImageState* img = orb::NewImageState();
    LineReader r(img);
    r.regionFlag = 1;
    IM_BITMAPINFOHEADER h{40, 7, 5, 1, c.bits, 0, 0, c.ppm, c.ppm, 0, 0};
    std::vector<IM_RGBQUAD> table(256);
    for (int i = 0; i < 256; ++i) table[i] = IM_RGBQUAD{uint8_t(i), uint8_t(255 - i), 9, 0};
    int grey = c.grey;
    ASSERT_EQ(ReadHeaderCallback(&r, &h, table.data(), &grey), 0) << c.bits;
    EXPECT_EQ(img->kind, c.kind) << c.bits;
    EXPECT_EQ(img->storedLineWidth, c.slw) << c.bits;
    EXPECT_EQ(img->xDpi, c.dpi) << c.bits;
    EXPECT_EQ(img->yDpi, c.dpi) << c.bits;
    EXPECT_EQ(img->photometric, c.photometric) << c.bits;
    EXPECT_EQ(r.regionFlag != 0, c.regionFlag) << c.bits;
    EXPECT_EQ(img->region.right, 6);
    EXPECT_EQ(img->region.bottom, 4);
    if (c.kind == IK_PALETTE256) {
      EXPECT_EQ(img->palette[3].red, 9);
      EXPECT_EQ(img->palette[3].green, 252);
      EXPECT_EQ(img->palette[3].blue, 3);
      EXPECT_EQ(img->palette2[3].blue, 3);
    }
    orb::FreeImageChain(img);
  }
  // A header the streams cannot carry stops the read.
  ImageState* img = orb::NewImageState();
  LineReader r(img);
  IM_BITMAPINFOHEADER bad{40, 7, 5, 1, 2, 0, 0, 0, 0, 0, 0};
  int grey = 0;
  EXPECT_LT(ReadHeaderCallback(&r, &bad, nullptr, &grey), 0);
  IM_BITMAPINFOHEADER empty{40, 0, 5, 1, 8, 0, 0, 0, 0, 0, 0};
  EXPECT_LT(ReadHeaderCallback(&r, &empty, nullptr, &grey), 0);
  orb::FreeImageChain(img);
}

class GuiDecode : public ::testing::Test {
 protected:
  void Run(int escAtPump, int* result) {
    orb::SetTempFilesFolder(dir.path());
    src = MakeSource(dir, IK_RGB, 40, 30, OF_PNG, "open.png");
    img = orb::NewImageState();
    img->sourcePath = src;
    display.rowBytes = 120;
    pump.escAtCall = escAtPump;
    HostScope host(&notifier, &display, &pump);
    AppStatus.store(0x20000110);
    img->sourceForm = SF_RAW_FILE;
    LineReader r(img);
    int fd = ::open(src.c_str(), O_RDONLY);
    *result = IM_ReadByCallback(fd, ReadLinesCallback, ReadHeaderCallback, &r);
    ::close(fd);
    orb::SetTempFilesFolder("");
  }
  TempDir dir;
  std::string src;
  ImageState* img = nullptr;
  FakeNotifier notifier;
  FakeDisplay display;
  FakePump pump;
};

TEST_F(GuiDecode, DrawsEveryRowAndLeavesTheImageReadableFromItsRawFile) {
  int result = 0;
  Run(0, &result);
  EXPECT_EQ(result, IM_OK);
  ImageState* model = MakeImage(IK_RGB, 40, 30);
  EXPECT_EQ(display.titles, 1);
  EXPECT_EQ(display.begun, 1);
  EXPECT_EQ(display.ended, 1);
  ASSERT_GE(display.steps.size(), 2u);
  EXPECT_EQ(display.steps.front(), orb::IDisplaySink::kStepStart);
  EXPECT_EQ(display.steps.back(), orb::IDisplaySink::kStepEnd);
  ASSERT_EQ(display.rowsSeen.size(), 30u);
  for (int y = 0; y < 30; ++y) EXPECT_EQ(display.rowsSeen[y], Line(*model, y)) << y;
  EXPECT_EQ(pump.calls, 30);
  EXPECT_EQ(img->sourceForm, 2u);
  EXPECT_EQ(img->fileHandle, kNoFile);
  LineReader r(img);
  ASSERT_EQ(OpenReadStream(&r, kReadSequential), kReadOpenOk);
  std::vector<uint8_t> got(120);
  for (int y = 0; y < 30; ++y) {
    ASSERT_EQ(ReadLines(&r, got.data(), kReadSequential, 0), 1);
    EXPECT_EQ(got, Line(*model, y));
  }
  CloseReadStream(&r);
  orb::FreeImageChain(img);
  orb::FreeImageChain(model);
}

TEST_F(GuiDecode, EscStopsTheDecodeAndKeepsWhatArrived) {
  int result = 0;
  Run(5, &result);
  EXPECT_EQ(result, IM_STOPPED);
  EXPECT_EQ(display.ended, 1);
  EXPECT_EQ(display.steps.back(), orb::IDisplaySink::kStepEnd);
  EXPECT_EQ(display.rowsSeen.size(), 5u);
  EXPECT_EQ(img->sourceForm, 2u);
  EXPECT_EQ(img->fileHandle, kNoFile);
  ImageState* model = MakeImage(IK_RGB, 40, 30);
  LineReader r(img);
  ASSERT_EQ(OpenReadStream(&r, kReadByNumber), kReadOpenOk);
  std::vector<uint8_t> got(120);
  ASSERT_EQ(ReadLines(&r, got.data(), kReadByNumber, 4), 1);
  EXPECT_EQ(got, Line(*model, 4));
  CloseReadStream(&r);
  orb::FreeImageChain(img);
  orb::FreeImageChain(model);
}

}  // namespace
