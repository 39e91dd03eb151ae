// The program started on a batch file, as the scheduler starts it: it works through the
// files, writes the results and the log, removes the schedule hand-over files and ends by
// itself. Results are read back by ImageMagick.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "tests/common/ProcessUtil.h"
#include "tests/common/TestUtil.h"

namespace fs = std::filesystem;

namespace {

using orbtest::Shell;

TEST(BatchRunProcess, AScheduledBatchFileRunsItsFilesLogsThemAndEnds) {
  orbtest::TempDir root;
  orbtest::PrivateEnv env(root.path());
  const fs::path in = root.path() / "drawings", out = root.path() / "results";
  fs::create_directories(in);
  fs::create_directories(out);
  for (const char* name : {"one", "two"}) {
    ASSERT_EQ(std::system(("convert -size 120x90 gradient:white-black -colorspace Gray -depth 8 -compress none '" +
                           (in / name).string() + ".tif'").c_str()),
              0);
  }
  orbtest::WriteFile(in / "broken.tif", "no image here");
  const fs::path bch = root.path() / "night run.bch";
  orbtest::WriteFile(bch, "[General]\nHoldForQC=0\nCreateLog=1\nSaveAsLocation=" + out.string() +
                              "\nSaveAsFormat=tif-g4\nDeleteOriginalFiles=1\nAutoRun=2026/3/7,14:5:0\n[Files]\n"
                              "File0=" + (in / "one.tif").string() + "\nFile1=" + (in / "broken.tif").string() +
                              "\nFile2=" + (in / "two.tif").string() +
                              "\n[Palette]\nConvertTo=4\n[BinaryThreshold]\nThresholdingType=0\nFixedThreshhold=25\n"
                              "[BinaryDespeckle]\nSpeckWidth=2\nSpeckHeight=2\n");
  // The hand-over files the scheduler leaves while the batch runs.
  const fs::path scheduled = env.DataFolder() / "Scheduled";
  fs::create_directories(scheduled);
  orbtest::WriteFile(scheduled / "night run.sch", bch.string());
  orbtest::WriteFile(scheduled / "processing.flg", "");

  const pid_t pid = orbtest::Spawn(orbtest::ProgramFolder() / "orbalon", env, {bch.string()});
  ASSERT_GT(pid, 0);
  EXPECT_EQ(orbtest::WaitExitOrKill(pid, std::chrono::seconds(240)), 0) << "the scheduled run must end the program";

  for (const char* name : {"one", "two"}) {
    const std::string result = (out / name).string() + ".tif";
    EXPECT_EQ(Shell("identify -format '%[type] %wx%h' '" + result + "' 2>&1"), "Bilevel 120x90") << name;
    EXPECT_NE(Shell("tiffinfo '" + result + "' 2>&1").find("CCITT Group 4"), std::string::npos) << name;
    EXPECT_FALSE(fs::exists(in / (std::string(name) + ".tif"))) << "deleted once its result was written";
  }
  EXPECT_TRUE(fs::exists(in / "broken.tif"));
  const std::string log = orbtest::ReadFile(root.path() / "night run.log");
  EXPECT_NE(log.find(", Processing " + (in / "broken.tif").string() +
                     "\r\n\tERROR: Unable to open or determine the format of this image\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("\tImage saved as " + (out / "two.tif").string() + "\r\n\tOriginal image deleted\r\n"),
            std::string::npos)
      << log;
  EXPECT_FALSE(fs::exists(scheduled / "night run.sch"));
  EXPECT_FALSE(fs::exists(scheduled / "processing.flg"));
}

}  // namespace
