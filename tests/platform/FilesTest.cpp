#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/Files.h"
#include "tests/platform/TempFolder.h"

namespace {

using orb::testing::TempFolder;

int EntriesIn(const std::string& folder) {
  int n = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

unsigned ModeOf(const std::string& path) {
  struct stat st{};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st.st_mode & 07777;
}

TEST(Files, AtomicWriteCreatesAndReplaces) {
  TempFolder dir;
  std::string target = dir / "settings.dat";
  ASSERT_TRUE(orb::WriteFileAtomically(target, std::string_view("first")));
  EXPECT_EQ(orb::ReadTextFile(target).value(), "first");
  ASSERT_TRUE(orb::WriteFileAtomically(target, std::string_view("second, longer")));
  EXPECT_EQ(orb::ReadTextFile(target).value(), "second, longer");
  ASSERT_TRUE(orb::WriteFileAtomically(target, std::string_view("")));
  EXPECT_EQ(orb::FileSize(target).value(), 0u);
  EXPECT_EQ(EntriesIn(dir.path()), 1) << "no temporary file may stay behind";
}

TEST(Files, NewFilesAreSharedUnderTheUmaskAndNeverWorldWritable) {
  TempFolder dir;
  mode_t old = ::umask(022);
  std::string a = dir / "a.dat";
  std::string b = dir / "b.log";
  EXPECT_TRUE(orb::WriteFileAtomically(a, std::string_view("x")));
  EXPECT_TRUE(orb::AppendToFile(b, "y"));
  ::umask(002);
  std::string c = dir / "c.dat";
  EXPECT_TRUE(orb::WriteFileAtomically(c, std::string_view("z")));
  ::umask(old);
  EXPECT_EQ(ModeOf(a), 0644u);
  EXPECT_EQ(ModeOf(b), 0644u);
  EXPECT_EQ(ModeOf(c), 0664u);
}

TEST(Files, ReplacingKeepsTheModeOfTheExistingFile) {
  TempFolder dir;
  std::string target = dir / "keep.dat";
  ASSERT_TRUE(orb::WriteFileAtomically(target, std::string_view("1")));
  ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
  ASSERT_TRUE(orb::WriteFileAtomically(target, std::string_view("2")));
  EXPECT_EQ(ModeOf(target), 0600u);
}

TEST(Files, FailedWriteLeavesTheOldFileAndNoTemporary) {
  TempFolder dir;
  std::string target = dir / "ScanData.dat";
  ASSERT_TRUE(orb::WriteFileAtomically(target, std::string_view("old contents")));

  // A file size limit makes the write fail half way, like a full disk (even for root).
  struct sigaction ignore{}, oldAction{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &oldAction);
  struct rlimit oldLimit{};
  ::getrlimit(RLIMIT_FSIZE, &oldLimit);
  struct rlimit small = oldLimit;
  small.rlim_cur = 100;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error;
  bool ok = orb::WriteFileAtomically(target, std::string(5000, 'n'), &error);
  ::setrlimit(RLIMIT_FSIZE, &oldLimit);
  ::sigaction(SIGXFSZ, &oldAction, nullptr);

  EXPECT_FALSE(ok);
  EXPECT_NE(error.find("ScanData.dat"), std::string::npos) << error;
  EXPECT_EQ(orb::ReadTextFile(target).value(), "old contents");
  EXPECT_EQ(EntriesIn(dir.path()), 1);
}

TEST(Files, WriteIntoReadOnlyFolderFailsCleanly) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
  TempFolder dir;
  std::string target = dir / "x.dat";
  ASSERT_TRUE(orb::WriteFileAtomically(target, std::string_view("old")));
  ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
  std::string error;
  EXPECT_FALSE(orb::WriteFileAtomically(target, std::string_view("new"), &error));
  ::chmod(dir.path().c_str(), 0755);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(orb::ReadTextFile(target).value(), "old");
  EXPECT_EQ(EntriesIn(dir.path()), 1);
}

TEST(Files, WriteIntoMissingFolderOrOverAFolderFails) {
  TempFolder dir;
  std::string error;
  EXPECT_FALSE(orb::WriteFileAtomically(dir / "no/such/x.dat", std::string_view("a"), &error));
  EXPECT_FALSE(error.empty());
  std::filesystem::create_directory(dir / "sub");
  EXPECT_FALSE(orb::WriteFileAtomically(dir / "sub", std::string_view("a")));
  EXPECT_TRUE(orb::IsDirectory(dir / "sub"));
}

TEST(Files, ReplacingThroughASymlinkKeepsTheLink) {
  TempFolder dir;
  std::string real = dir / "real.dat";
  std::string link = dir / "link.dat";
  ASSERT_TRUE(orb::WriteFileAtomically(real, std::string_view("old")));
  ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
  ASSERT_TRUE(orb::WriteFileAtomically(link, std::string_view("new")));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(orb::ReadTextFile(real).value(), "new");
}

TEST(Files, ReadFileBytesHonoursTheLimit) {
  TempFolder dir;
  std::string p = dir / "r.bin";
  ASSERT_TRUE(orb::WriteFileAtomically(p, std::string_view("0123456789")));
  EXPECT_EQ(orb::ReadFileBytes(p, 4)->size(), 4u);
  EXPECT_EQ(orb::ReadFileBytes(p)->size(), 10u);
  EXPECT_FALSE(orb::ReadFileBytes(dir / "missing").has_value());
}

TEST(Files, AppendGrowsTheFile) {
  TempFolder dir;
  std::string p = dir / "log.txt";
  EXPECT_TRUE(orb::AppendToFile(p, "a\r\n"));
  EXPECT_TRUE(orb::AppendToFile(p, "b\r\n"));
  EXPECT_EQ(orb::ReadTextFile(p).value(), "a\r\nb\r\n");
  EXPECT_FALSE(orb::AppendToFile(dir / "no/such/log.txt", "x"));
}

TEST(Files, AvailableBytesOfAFileNotYetWritten) {
  TempFolder dir;
  auto here = orb::AvailableDiskBytes(dir.path());
  ASSERT_TRUE(here.has_value());
  auto later = orb::AvailableDiskBytes(dir / "not/yet/scan.tif");
  ASSERT_TRUE(later.has_value());
  // Same file system: the two answers are close (other writers may change it a little).
  uint64_t diff = *here > *later ? *here - *later : *later - *here;
  EXPECT_LT(diff, uint64_t{1} << 30);
}

TEST(Files, SharedAttributesCarryMode0666) {
  SharedSecurityAttributes* sa = CreateSharedSecurityAttributes();
  ASSERT_NE(sa, nullptr);
  EXPECT_EQ(sa->mode, 0666u);
  FreeSharedSecurityAttributes(sa);
  FreeSharedSecurityAttributes(nullptr);
}

}  // namespace
