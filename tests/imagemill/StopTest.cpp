// A callback's stop code ends reads and writes at once, in every format.
#include "tests/imagemill/MillTestUtil.h"

using namespace milltest;

namespace {

struct Fmt {
  uint32_t format;
  Kind kind;
};
const Fmt kFormats[] = {{1, Kind::Rgb},  {0x10001, Kind::Grey}, {0x30001, Kind::Bw}, {0x40001, Kind::Rgb},
                        {2, Kind::Grey}, {3, Kind::Pal16},      {5, Kind::Rgb},      {0x40004, Kind::Rgb},
                        {0x30004, Kind::Bw}, {6, Kind::Pal256}};

TEST(Stop, LinesCallbackStopsReadsAtTheRowItRefused) {
  TempDir dir;
  for (const auto& f : kFormats) {
    const Image src = MakeImage(f.kind, 40, 30);
    const std::string path = dir.File("s");
    ASSERT_EQ(WriteImage(path, f.format, src), IM_OK);
    for (int stopAt : {0, 7}) {
      ReadCtx r;
      r.stopAtRow = stopAt;
      EXPECT_EQ(ReadImage(path, &r), IM_STOPPED) << std::hex << f.format;
      EXPECT_EQ(r.lastRow, stopAt) << std::hex << f.format;  // no row after the refused one
      EXPECT_EQ(static_cast<int>(r.im.rows.size()), stopAt);
    }
  }
}

TEST(Stop, HeaderCallbackStopsReadsBeforeAnyRowWithItsCode) {
  TempDir dir;
  for (const auto& f : kFormats) {
    const Image src = MakeImage(f.kind, 40, 30);
    const std::string path = dir.File("s");
    ASSERT_EQ(WriteImage(path, f.format, src), IM_OK);
    for (int code : {IM_STOPPED, -10000, -6}) {
      ReadCtx r;
      r.stopHeader = code;
      EXPECT_EQ(ReadImage(path, &r), code) << std::hex << f.format;
      EXPECT_EQ(r.headerCalls, 1);
      EXPECT_EQ(r.lastRow, -1);
    }
  }
}

TEST(Stop, CallbacksStopWrites) {
  TempDir dir;
  for (const auto& f : kFormats) {
    const Image src = MakeImage(f.kind, 40, 30);
    WriteCtx h{&src};
    h.stopHeader = IM_STOPPED;
    EXPECT_EQ(WriteImage(dir.File("h"), f.format, src, &h), IM_STOPPED) << std::hex << f.format;
    EXPECT_EQ(h.rowsAsked, 0);
    WriteCtx l{&src};
    l.stopAtRow = 3;
    EXPECT_EQ(WriteImage(dir.File("l"), f.format, src, &l), IM_STOPPED) << std::hex << f.format;
    EXPECT_EQ(l.rowsAsked, 3);
  }
}

// Formats that cannot end early are completed with white rows, so the rows written stay
// readable; a TIFF keeps its rows as written.
TEST(Stop, StoppedWritesKeepWhatWasWritten) {
  TempDir dir;
  for (const auto& f : {Fmt{1, Kind::Grey}, Fmt{5, Kind::Grey}, Fmt{0x30004, Kind::Bw}, Fmt{6, Kind::Grey},
                        Fmt{3, Kind::Grey}}) {
    const Image src = MakeImage(f.kind, 40, 30);
    WriteCtx l{&src};
    l.stopAtRow = 10;
    const std::string path = dir.File("part");
    ASSERT_EQ(WriteImage(path, f.format, src, &l), IM_STOPPED);
    ReadCtx r;
    const int rc = ReadImage(path, &r);
    if (f.format == 3) {
      // A PNG cut short is damaged: an error, never success.
      EXPECT_NE(rc, IM_OK);
      continue;
    }
    ASSERT_EQ(rc, IM_OK) << std::hex << f.format;
    ASSERT_GE(r.im.rows.size(), 10u);
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 40; ++x) EXPECT_EQ(r.im.Pixel(x, y), src.Pixel(x, y)) << std::hex << f.format;
  }
}

}  // namespace

namespace {

// Tiny damaged files that claim enormous images (found by fuzzing): refused or handed to
// the header callback before anything of that size is allocated.
TEST(HostileFiles, HugeClaimsAreRefusedCheaply) {
  const std::string data = ORB_TEST_DATA_DIR "/imagemill/";
  ReadCtx wide;
  EXPECT_EQ(ReadImage(data + "huge_width.tif", &wide), IM_ERR_TOO_LARGE);
  EXPECT_EQ(wide.headerCalls, 0);
  ReadCtx refused;
  refused.stopHeader = -10000;
  EXPECT_EQ(ReadImage(data + "huge_multiscan.jpg", &refused), -10000);
  EXPECT_EQ(refused.im.h.biWidth, 65500);
  ReadCtx accepted;
  EXPECT_LT(ReadImage(data + "huge_multiscan.jpg", &accepted), 0);
  EXPECT_NE(ReadImage(data + "huge_multiscan.jpg", &accepted), IM_STOPPED);
}

}  // namespace
