// Files the program writes for the user are flushed to the disk before they take the
// user's name, and a flush that fails fails the write: some disks report a write error
// only then (a network share, a thin-provisioned volume, a dying drive), and a program that
// did not flush, or did not look, would call a broken file saved.
//
// This program replaces the C library's flush calls with ones that fail while asked to
// (its own executable, so no other test meets them).
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "engine/ReadWrite/BmpOutput.h"
#include "engine/ReadWrite/LineWriter.h"
#include "engine/ReadWrite/ScanOutput.h"
#include "platform/Files.h"
#include "tests/engine/streams/StreamTestUtil.h"

namespace {
std::atomic<bool> gFlushFails{false};
}  // namespace

extern "C" int fsync(int fd) {
  if (gFlushFails.load()) {
    errno = EIO;
    return -1;
  }
  return static_cast<int>(::syscall(SYS_fsync, fd));
}

extern "C" int fdatasync(int fd) {
  if (gFlushFails.load()) {
    errno = EIO;
    return -1;
  }
  return static_cast<int>(::syscall(SYS_fdatasync, fd));
}

namespace {

using streams_test::HostScope;
using streams_test::MakeImage;
using streams_test::ReadAll;
using streams_test::TempDir;
using streams_test::WriteAllBytes;

const std::vector<uint8_t> kOld{'o', 'l', 'd'};

struct FlushFailing {
  FlushFailing() { gFlushFails.store(true); }
  ~FlushFailing() { gFlushFails.store(false); }
};

// Writes a small colour scan through the scan output in `format` over an older file at
// `path`. True when the output said it was written.
bool WriteScanOutput(uint32_t format, const std::string& path) {
  ImageState* img = MakeImage(IK_RGB, 64, 40);
  img->outputFormat = format;
  img->sourcePath = path;
  bool ok = false;
  {
    LineWriter w(img);
    if (OpenScanOutput(&w) == 0) {
      std::vector<uint8_t> lines;
      for (int32_t y = 0; y < img->height; ++y) {
        const auto line = streams_test::Line(*img, y);
        lines.insert(lines.end(), line.begin(), line.end());
      }
      WriteScanLines(&w, lines.data(), static_cast<int64_t>(lines.size()));
      ok = CloseScanOutput(&w) == 0;
    }
  }
  orb::FreeImageChain(img);
  return ok;
}

bool WriteBmp(const std::string& path) {
  ImageState* img = MakeImage(IK_GREY, 16, 4);
  img->sourcePath = path;
  const std::string stage = path + ".stage";
  WriteAllBytes(stage, std::vector<uint8_t>(16 * 4, 99));
  const bool ok = SaveScanAsBmp(*img, stage) == kBmpOk;
  ::unlink(stage.c_str());
  orb::FreeImageChain(img);
  return ok;
}

// A finished file put in place of the old one, as the join, the colour classes and a
// document's save do.
bool PutInPlace(const std::string& path) {
  const std::string temp = path + ".new";
  WriteAllBytes(temp, {'n', 'e', 'w'});
  const bool ok = orb::ReplaceWithFlushedFile(temp, path);
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

struct Writer {
  const char* name;
  std::function<bool(const std::string&)> write;
};

const Writer kWriters[] = {
    {"scan output, TIFF", [](const std::string& p) { return WriteScanOutput(OF_TIFF, p); }},
    {"scan output, JPEG", [](const std::string& p) { return WriteScanOutput(OF_JPEG, p); }},
    {"scan output, PNG", [](const std::string& p) { return WriteScanOutput(OF_PNG, p); }},
    {"scan output, PDF (JPEG)", [](const std::string& p) { return WriteScanOutput(OF_PDF_JPEG, p); }},
    {"scan saved as BMP", WriteBmp},
    {"finished file put in place", PutInPlace},
    {"settings file", [](const std::string& p) { return orb::WriteFileAtomically(p, std::string_view("new")); }},
};

TEST(LateWriteFailure, TheFlushesOfThisProgramFailWhenAsked) {
  TempDir dir;
  const int fd = ::open(dir.File("f").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  {
    FlushFailing failing;
    EXPECT_EQ(::fsync(fd), -1);
    EXPECT_EQ(::fdatasync(fd), -1);
  }
  EXPECT_EQ(::fsync(fd), 0);
  ::close(fd);
}

TEST(LateWriteFailure, AFailedFlushFailsTheWriteAndKeepsTheOlderFile) {
  HostScope host;
  for (const Writer& writer : kWriters) {
    TempDir dir;
    const std::string target = dir.File("out");
    WriteAllBytes(target, kOld);
    bool written = true;
    {
      FlushFailing failing;
      written = writer.write(target);
    }
    EXPECT_FALSE(written) << writer.name;
    EXPECT_EQ(ReadAll(target), kOld) << writer.name;
    EXPECT_EQ(dir.CountFiles(), 1u) << writer.name << ": no temporary file is left";
    // The same write with flushes that work replaces the file.
    EXPECT_TRUE(writer.write(target)) << writer.name;
    EXPECT_NE(ReadAll(target), kOld) << writer.name;
  }
}

}  // namespace
