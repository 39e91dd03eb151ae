#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/Files.h"
#include "platform/Folders.h"
#include "tests/platform/TempFolder.h"

namespace {

using orb::testing::ScopedEnv;
using orb::testing::TempFolder;

TEST(Folders, DataFolderFollowsXdgDataHome) {
  TempFolder dir;
  ScopedEnv home("HOME", dir.path().c_str());
  {
    ScopedEnv data("XDG_DATA_HOME", (dir / "data").c_str());
    EXPECT_EQ(orb::DataFolderPath(), dir / "data/OrbalonData");
  }
  {
    ScopedEnv data("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(orb::DataFolderPath(), dir / ".local/share/OrbalonData");
  }
  {
    // A relative value is not a valid XDG path and is ignored.
    ScopedEnv data("XDG_DATA_HOME", "relative/dir");
    EXPECT_EQ(orb::DataFolderPath(), dir / ".local/share/OrbalonData");
  }
  EXPECT_FALSE(orb::IsDirectory(orb::DataFolderPath())) << "looking it up creates nothing";
}

TEST(Folders, DocumentsFromEnvThenUserDirsThenDefault) {
  TempFolder dir;
  ScopedEnv home("HOME", dir.path().c_str());
  ScopedEnv config("XDG_CONFIG_HOME", nullptr);
  {
    ScopedEnv docs("XDG_DOCUMENTS_DIR", (dir / "EnvDocs").c_str());
    EXPECT_EQ(orb::UserFolderPath(), dir / "EnvDocs/Orbalon");
  }
  ScopedEnv docs("XDG_DOCUMENTS_DIR", nullptr);
  EXPECT_EQ(orb::DocumentsFolder(), dir / "Documents");

  std::filesystem::create_directories(dir / ".config");
  ASSERT_TRUE(orb::WriteFileAtomically(dir / ".config/user-dirs.dirs",
                                       std::string_view("# written by xdg-user-dirs-update\n"
                                                        "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                                        "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n")));
  EXPECT_EQ(orb::DocumentsFolder(), dir / "Dokumente");
  EXPECT_EQ(orb::UserImagesFolderPath(), dir / "Dokumente/Orbalon/images");

  TempFolder other;
  ScopedEnv config2("XDG_CONFIG_HOME", other.path().c_str());
  ASSERT_TRUE(orb::WriteFileAtomically(other / "user-dirs.dirs",
                                       "XDG_DOCUMENTS_DIR=\"" + other.path() + "/Docs\"\n"));
  EXPECT_EQ(orb::DocumentsFolder(), other / "Docs");
}

TEST(Folders, EnsureUserFoldersCreatesBoth) {
  TempFolder dir;
  ScopedEnv home("HOME", dir.path().c_str());
  ScopedEnv docs("XDG_DOCUMENTS_DIR", (dir / "deep/docs").c_str());
  EXPECT_TRUE(orb::EnsureUserFolders());
  EXPECT_TRUE(orb::IsDirectory(dir / "deep/docs/Orbalon/images"));
  EXPECT_TRUE(orb::EnsureUserFolders()) << "existing folders are fine";
}

TEST(Folders, EnsureFolderFailsUnderAFile) {
  TempFolder dir;
  ASSERT_TRUE(orb::WriteFileAtomically(dir / "file", std::string_view("x")));
  EXPECT_FALSE(orb::EnsureFolder(dir / "file/sub"));
}

TEST(Folders, ProgramFolderHoldsThisTestProgram) {
  std::string folder = orb::ProgramFolderPath();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(orb::IsDirectory(folder));
  EXPECT_NE(folder.back(), '/');
}

TEST(Folders, JoinPathUsesOneSlash) {
  EXPECT_EQ(orb::JoinPath("/a/", "/b"), "/a/b");
  EXPECT_EQ(orb::JoinPath("/", "b"), "/b");
  EXPECT_EQ(orb::JoinPath("", "b"), "b");
  EXPECT_EQ(orb::JoinPath("a", ""), "a");
}

}  // namespace
