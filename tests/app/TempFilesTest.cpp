// Temporary files name their owner process, and a start removes those of processes that
// no longer run: the "*.part" beside a user's file, the raw "Qel" files of the working
// folder and the settings' ".tmp" files, but nothing of a running process or of the user.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/Startup.h"
#include "common/AppGlobals.h"
#include "engine/ReadWrite/StreamFiles.h"
#include "engine/Settings.h"
#include "engine/SharedRoutines.h"
#include "platform/TempNames.h"
#include "tests/common/TestUtil.h"

namespace {

namespace fs = std::filesystem;

// The id of a process that has ended (a child that ran and was reaped).
pid_t DeadPid() {
  pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

TEST(TempFiles, EveryTemporaryNameNamesItsOwner) {
  orbtest::TempDir dir;
  const std::string target = (dir.path() / "plan.tif").string();
  std::string part;
  const int fd = orb::rw::CreateBeside(target, &part);
  ASSERT_GE(fd, 0);
  ::close(fd);
  const std::string raw = orb::rw::CreateUniqueFile(dir.path().string(), ".raw");
  std::string temp;
  ASSERT_TRUE(MakeTempTiffName(dir.path().string(), temp));
  for (const std::string& path : {part, raw, temp}) {
    EXPECT_EQ(orb::OwnerOfTempName(fs::path(path).filename().string()), ::getpid()) << path;
  }
  // The settings write's temporary name, as its writer makes it beside the file.
  EXPECT_EQ(orb::OwnerOfTempName(".MiscData.dat" + orb::OwnerMark() + "1f2e.tmp"), ::getpid());
  // Names of the user's files are nobody's temporary files.
  for (const char* name : {"plan.tif", "plan.part.tif", ".hidden", "Qel123456.tif", "x.part~orb~", "Qel~orb12",
                           ".a~orb-5~b", "Qel~orb0~x.tif", "plan~orb77~.tif"}) {
    EXPECT_EQ(orb::OwnerOfTempName(name), 0) << name;
  }
}

TEST(TempFiles, StartRemovesOnlyWhatEndedProcessesLeft) {
  orbtest::TempDir dir;
  const std::string dead = "~orb" + std::to_string(DeadPid()) + "~";
  const std::string running = "~orb" + std::to_string(::getppid()) + "~";
  const fs::path d = dir.path();
  const struct {
    std::string name;
    bool stays;
  } files[] = {
      {"plan.tif.part" + dead + "a1b2c3", false},       // a killed save's part file
      {"Qel" + dead + "x9y8z7.raw", false},               // a killed run's raw file
      {".ScanData.dat" + dead + "5e.tmp", false},          // a killed settings write
      {"plan.tif.part" + running + "a1b2c3", true},      // another copy still writes it
      {"Qel" + orb::OwnerMark() + "abcdef.tif", true},   // this process's own
      {"plan.tif", true},                                 // the user's files
      {"plan.tif.part", true},
  };
  for (const auto& f : files) orbtest::WriteFile(d / f.name, "x");
  fs::create_directory(d / ("Qel" + dead + "folder"));  // not a file: kept
  EXPECT_EQ(orb::RemoveStaleTempFiles(d.string()), 3);
  for (const auto& f : files) EXPECT_EQ(fs::exists(d / f.name), f.stays) << f.name;
  EXPECT_TRUE(fs::exists(d / ("Qel" + dead + "folder")));
}

TEST(TempFiles, StartLooksInEveryFolderTheProgramWritesInto) {
  orbtest::TempDir data, user, work, saved;
  g_szDataFolder = data.path().string();
  g_szUserFolder = user.path().string();
  fs::create_directories(user.path() / "images");
  MiscSettings = orb::MiscSettingsRecord();
  ScanSettings = orb::ScanSettingsRecord();
  orb::SetTextField(MiscSettings.WorkingFolder, work.path().string());
  orb::SetTextField(MiscSettings.LastSaveAsPath, (saved.path() / "copy.jpg").string());
  orb::SetTextField(ScanSettings.OutputFileName, (user.path() / "images/Scan-0001.tif").string());
  const std::string dead = "~orb" + std::to_string(DeadPid()) + "~";
  const fs::path left[] = {data.path() / (".MiscData.dat" + dead + "1.tmp"), work.path() / ("Qel" + dead + "r.raw"),
                           user.path() / "images" / ("Scan-0001.tif.part" + dead + "7"),
                           saved.path() / ("copy.jpg.part" + dead + "q")};
  for (const auto& p : left) orbtest::WriteFile(p, "x");
  EXPECT_EQ(orb::RemoveStaleTemporaries(), 4);
  for (const auto& p : left) EXPECT_FALSE(fs::exists(p)) << p;
  g_szDataFolder.clear();
  g_szUserFolder.clear();
  MiscSettings = orb::MiscSettingsRecord();
  ScanSettings = orb::ScanSettingsRecord();
}

}  // namespace
