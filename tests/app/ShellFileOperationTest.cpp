#include "app/ShellFileOperation.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/common/TestUtil.h"

using orbtest::ReadFile;
using orbtest::TempDir;
using orbtest::WriteFile;
namespace fs = std::filesystem;

namespace {

TEST(ShellFileOperation, RefusesIncompleteOrMismatchedOperations) {
  TempDir d;
  WriteFile(d.path() / "a", "A");
  WriteFile(d.path() / "b", "B");
  CShellFileOperation op;
  bool started = true;
  EXPECT_FALSE(op.Run(&started));  // no operation set
  EXPECT_FALSE(started);

  op.SetOperation(FO_COPY, nullptr, FOF_NOCONFIRMATION);
  EXPECT_FALSE(op.Run(&started));  // no source
  op.AddSourceFile((d.path() / "a").string());
  op.AddSourceFile((d.path() / "b").string());
  for (int i = 0; i < 3; ++i) op.AddDestFile((d.path() / ("t" + std::to_string(i))).string());
  EXPECT_FALSE(op.Run(&started));  // two sources, three destinations
  EXPECT_FALSE(started);
  EXPECT_FALSE(fs::exists(d.path() / "t0"));

  op.SetOperation(9, nullptr, 0);  // no such operation
  EXPECT_FALSE(op.Run(&started));

  CShellFileOperation move;
  move.SetOperation(FO_MOVE, nullptr, FOF_NOCONFIRMATION);
  move.AddSourceFile((d.path() / "a").string());
  EXPECT_FALSE(move.Run(&started));  // move without a destination
  EXPECT_FALSE(started);
  EXPECT_TRUE(fs::exists(d.path() / "a"));
}

TEST(ShellFileOperation, CopiesIntoOneFolderOrOneDestinationPerSource) {
  TempDir d;
  WriteFile(d.path() / "a", "A");
  WriteFile(d.path() / "b", "B");
  CShellFileOperation op;
  op.SetCopyOperation(nullptr);
  op.AddSourceFile((d.path() / "a").string());
  op.AddSourceFile((d.path() / "b").string());
  op.AddDestFile((d.path() / "out").string());
  bool started = false;
  int result = -1;
  ASSERT_TRUE(op.Run(&started, &result));
  EXPECT_TRUE(started);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(op.LastRunFlags() & FOF_MULTIDESTFILES, 0);
  EXPECT_EQ(ReadFile(d.path() / "out/a"), "A");
  EXPECT_EQ(ReadFile(d.path() / "out/b"), "B");

  op.Reset();
  op.SetCopyOperation(nullptr);
  op.AddSourceFile((d.path() / "a").string());
  op.AddSourceFile((d.path() / "b").string());
  op.AddDestFile((d.path() / "x1").string());
  op.AddDestFile((d.path() / "sub/x2").string());
  ASSERT_TRUE(op.Run());
  EXPECT_NE(op.LastRunFlags() & FOF_MULTIDESTFILES, 0);
  EXPECT_EQ(ReadFile(d.path() / "x1"), "A");
  EXPECT_EQ(ReadFile(d.path() / "sub/x2"), "B");
}

TEST(ShellFileOperation, WildcardCopiesAFolderTreeCreatingTheTarget) {
  TempDir d;
  WriteFile(d.path() / "prog/OrbalonData/MiscData.dat", "misc");
  WriteFile(d.path() / "prog/OrbalonData/presets/Vq/_FactoryDefaults.pst", "pst");
  WriteFile(d.path() / "prog/OrbalonData/.hidden", "h");
  CShellFileOperation op;
  op.SetCopyOperation(nullptr);
  op.AddSourceFile((d.path() / "prog/OrbalonData/*").string());
  op.AddDestFile((d.path() / "data/OrbalonData").string() + "/");
  ASSERT_TRUE(op.Run());
  EXPECT_EQ(ReadFile(d.path() / "data/OrbalonData/MiscData.dat"), "misc");
  EXPECT_EQ(ReadFile(d.path() / "data/OrbalonData/presets/Vq/_FactoryDefaults.pst"), "pst");
  EXPECT_EQ(ReadFile(d.path() / "data/OrbalonData/.hidden"), "h");
  // Copied files may be read and written by everyone the umask allows; no temporaries left.
  struct stat st {};
  ASSERT_EQ(::stat((d.path() / "data/OrbalonData/MiscData.dat").c_str(), &st), 0);
  mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
  int count = 0;
  for (auto& e : fs::directory_iterator(d.path() / "data/OrbalonData")) (void)e, ++count;
  EXPECT_EQ(count, 3);
}

TEST(ShellFileOperation, WithoutConfirmationFlagExistingFilesAreKept) {
  TempDir d;
  WriteFile(d.path() / "a", "new");
  WriteFile(d.path() / "t/a", "user's");
  CShellFileOperation op;
  op.SetOperation(FO_COPY, nullptr, 0);
  op.AddSourceFile((d.path() / "a").string());
  op.AddDestFile((d.path() / "t").string());
  int result = 0;
  EXPECT_FALSE(op.Run(nullptr, &result));
  EXPECT_NE(result, 0);
  EXPECT_TRUE(op.AnyOperationsAborted());
  EXPECT_EQ(ReadFile(d.path() / "t/a"), "user's");

  op.SetCopyOperation(nullptr);
  EXPECT_TRUE(op.Run());
  EXPECT_EQ(ReadFile(d.path() / "t/a"), "new");
}

TEST(ShellFileOperation, DeleteMoveAndRename) {
  TempDir d;
  WriteFile(d.path() / "a", "A");
  WriteFile(d.path() / "dir/b", "B");
  CShellFileOperation del;
  del.SetOperation(FO_DELETE, nullptr, FOF_NOCONFIRMATION);
  del.AddSourceFile((d.path() / "dir").string());
  EXPECT_TRUE(del.Run());  // delete needs no destination
  EXPECT_FALSE(fs::exists(d.path() / "dir"));
  int result = 0;
  EXPECT_FALSE(del.Run(nullptr, &result));  // already gone
  EXPECT_NE(result, 0);

  CShellFileOperation ren;
  ren.SetOperation(FO_RENAME, nullptr, FOF_NOCONFIRMATION);
  ren.AddSourceFile((d.path() / "a").string());
  ren.AddDestFile("renamed");
  ASSERT_TRUE(ren.Run());
  EXPECT_EQ(ReadFile(d.path() / "renamed"), "A");

  CShellFileOperation mv;
  mv.SetOperation(FO_MOVE, nullptr, FOF_NOCONFIRMATION);
  mv.AddSourceFile((d.path() / "renamed").string());
  mv.AddDestFile((d.path() / "moved").string());
  fs::create_directories(d.path() / "moved");
  ASSERT_TRUE(mv.Run());
  EXPECT_EQ(ReadFile(d.path() / "moved/renamed"), "A");
  EXPECT_FALSE(fs::exists(d.path() / "renamed"));

  CShellFileOperation missing;
  missing.SetCopyOperation(nullptr);
  missing.AddSourceFile((d.path() / "nothing").string());
  missing.AddDestFile((d.path() / "t").string());
  EXPECT_FALSE(missing.Run());
}

}  // namespace
