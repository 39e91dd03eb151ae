// The scheduler as the user meets it: the plovis program in a private X server and private
// folders, with the real main program beside it. A batch file saved with a run date a few
// seconds ahead (written by the batch editor's own writers) runs by itself; a batch that
// falls due while the main program runs is handed to it; a second scheduler ends at once.
// Results are read back by ImageMagick and libtiff's tiffinfo.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <regex>
#include <thread>

#include "app/batch/BatchFile.h"
#include "platform/Ini.h"
#include "scheduler/ScheduleCheck.h"
#include "tests/common/ProcessUtil.h"
#include "tests/common/TestUtil.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

using orbtest::Shell;
using orbtest::WaitExitOrKill;
using orbtest::WaitFor;

// Starts a program of the build with the private folders; its standard error goes to `errFile`.
pid_t StartProgram(const std::string& name, const orbtest::PrivateEnv& env, const std::vector<std::string>& args,
                   const fs::path& errFile, const fs::path& cwd = {}) {
  orbtest::SpawnOptions options;
  options.stderrFile = errFile;
  options.cwd = cwd;
  return orbtest::Spawn(orbtest::ProgramFolder() / name, env, args, options);
}

// Ends a program of the test that still runs.
struct Running {
  pid_t pid = -1;
  ~Running() {
    if (pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0) {
      ::kill(pid, SIGTERM);
      if (WaitExitOrKill(pid, 30s) < 0) ADD_FAILURE() << "process " << pid << " did not end on SIGTERM";
    }
  }
};

// The main program's window of that title, once it is shown ("" when none).
std::string ShownWindow(const std::string& title) {
  std::string id = Shell("xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null | head -1");
  while (!id.empty() && (id.back() == '\n' || id.back() == '\r')) id.pop_back();
  return id;
}

// Answers the About box that a start without a file shows, with Esc.
bool CloseAboutBox() {
  std::string id;
  if (!WaitFor([&] { return !(id = ShownWindow("About Orbalon")).empty(); }, 120s)) return false;
  if (std::system(("xdotool windowfocus --sync " + id + " key Escape").c_str()) != 0) return false;
  return WaitFor([&] { return ShownWindow("About Orbalon").empty(); }, 30s);
}

class PlovisProcess : public ::testing::Test {
 protected:
  PlovisProcess() : env_(root_.path()) {}

  fs::path Scheduled() const { return env_.DataFolder() / "Scheduled"; }

  // Two grey drawings and a batch file that turns them into Group 4 TIFFs in "results",
  // with a log; with a run date when `runAt` is given and its schedule file beside the
  // program's data, both written by the batch editor's own writers.
  fs::path MakeBatch(const std::string& name, std::optional<std::time_t> runAt) {
    const fs::path in = root_.path() / "drawings";
    fs::create_directories(in);
    fs::create_directories(Results());
    std::vector<std::string> files;
    for (const char* image : {"one", "two"}) {
      const fs::path p = in / (std::string(image) + ".tif");
      EXPECT_EQ(std::system(("convert -size 120x90 gradient:white-black -colorspace Gray -depth 8 -compress none '" +
                             p.string() + "'").c_str()),
                0);
      files.push_back(p.string());
    }
    const fs::path bch = root_.path() / "jobs" / (name + ".bch");
    fs::create_directories(bch.parent_path());
    orb::batch::EditorGeneral g;
    g.automatic = true;
    g.log = true;
    g.folderBox = true;
    g.folder = Results().string();
    g.formatBox = true;
    g.format = "tif-g4";
    if (runAt) {
      g.scheduleBox = true;
      std::tm tm{};
      ::localtime_r(&*runAt, &tm);
      g.runDate = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
    }
    EXPECT_TRUE(orb::batch::WriteFileList(bch.string(), files));
    EXPECT_TRUE(orb::batch::WriteGeneral(bch.string(), g));
    EXPECT_TRUE(orb::WritePrivateProfileString("Palette", "ConvertTo", "4", bch.string()));
    EXPECT_TRUE(orb::WritePrivateProfileString("BinaryThreshold", "FixedThreshhold", "128", bch.string()));
    if (runAt) {
      EXPECT_TRUE(orb::batch::WriteScheduleFile(env_.DataFolder().string(), bch.string()));
    }
    return bch;
  }
  fs::path Results() const { return root_.path() / "results"; }
  fs::path Err(const std::string& who) const { return root_.path() / (who + ".err"); }

  // Both results are black-and-white Group 4 TIFFs of the drawings' size, and the log
  // beside the batch file names them.
  void ExpectResults(const fs::path& bch) {
    for (const char* name : {"one", "two"}) {
      const std::string result = (Results() / name).string() + ".tif";
      EXPECT_EQ(Shell("identify -format '%[type] %wx%h' '" + result + "' 2>&1"), "Bilevel 120x90") << name;
      EXPECT_NE(Shell("tiffinfo '" + result + "' 2>&1").find("CCITT Group 4"), std::string::npos) << name;
    }
    const std::string log = orbtest::ReadFile(fs::path(bch).replace_extension(".log"));
    EXPECT_NE(log.find("\tImage saved as " + (Results() / "two.tif").string() + "\r\n"), std::string::npos) << log;
  }
  bool ResultsWritten() const {
    return fs::exists(Results() / "one.tif") && fs::exists(Results() / "two.tif");
  }
  // The process plovis reports having started the batch in (its output line).
  pid_t StartedIn(const std::string& what) const {
    std::smatch m;
    const std::string err = orbtest::ReadFile(Err("plovis"));
    if (!std::regex_search(err, m, std::regex("Started .*\\(" + what + ", process ([0-9]+)\\)"))) return -1;
    return static_cast<pid_t>(std::stol(m[1]));
  }
  std::string Diagnostics() const {
    return "plovis:\n" + orbtest::ReadFile(Err("plovis")) + "orbalon:\n" + orbtest::ReadFile(Err("orbalon"));
  }

  orbtest::TempDir root_;
  orbtest::PrivateEnv env_;
};

TEST_F(PlovisProcess, ABatchSavedWithARunDateRunsByItselfWhenItFallsDue) {
  const std::time_t due = std::time(nullptr) + 5;
  const fs::path bch = MakeBatch("night run", due);
  const fs::path sch = Scheduled() / "night run.sch";
  ASSERT_TRUE(fs::exists(sch));
  Running plovis{StartProgram("plovis", env_, {}, Err("plovis"))};
  ASSERT_GT(plovis.pid, 0);

  // Before its time nothing starts.
  std::this_thread::sleep_for(2500ms);
  if (std::time(nullptr) < due) {
    EXPECT_FALSE(fs::exists(Scheduled() / orb::scheduler::kFlagFile));
    EXPECT_EQ(StartedIn(".*"), -1);
  }
  // Then the main program starts, runs the batch, removes the schedule file and the flag,
  // and ends.
  ASSERT_TRUE(WaitFor([&] { return StartedIn(".*orbalon") > 0; }, 60s)) << Diagnostics();
  EXPECT_GE(std::time(nullptr), due);
  const pid_t main = StartedIn(".*orbalon");
  EXPECT_TRUE(WaitFor([&] { return !fs::exists(sch) && !fs::exists(Scheduled() / "processing.flg"); }, 240s))
      << Diagnostics();
  EXPECT_TRUE(WaitFor([&] { return !orb::scheduler::ProcessRuns(main); }, 60s)) << "the scheduled run ends the program";
  ExpectResults(bch);
  // The scheduler goes on, and starts nothing more.
  std::this_thread::sleep_for(2500ms);
  EXPECT_EQ(::waitpid(plovis.pid, nullptr, WNOHANG), 0);
  EXPECT_FALSE(fs::exists(Scheduled() / "processing.flg"));
}

TEST_F(PlovisProcess, ABatchFallingDueWhileTheMainProgramRunsIsHandedToIt) {
  Running orbalon{StartProgram("orbalon", env_, {}, Err("orbalon"))};
  ASSERT_GT(orbalon.pid, 0);
  ASSERT_TRUE(WaitFor([&] { return fs::exists(env_.SocketPath()); }, 120s)) << Diagnostics();
  const fs::path bch = MakeBatch("lunch run", std::time(nullptr) - 60);
  Running plovis{StartProgram("plovis", env_, {}, Err("plovis"))};
  ASSERT_GT(plovis.pid, 0);

  ASSERT_TRUE(WaitFor([&] { return StartedIn("the running main program") > 0; }, 60s)) << Diagnostics();
  EXPECT_EQ(StartedIn("the running main program"), orbalon.pid);
  // The program shows its About box: the batch waits until the box is answered, and the
  // scheduler starts nothing else meanwhile.
  std::this_thread::sleep_for(3s);
  EXPECT_FALSE(ResultsWritten());
  EXPECT_TRUE(fs::exists(Scheduled() / "lunch run.sch"));
  EXPECT_NE(orbtest::ReadFile(Scheduled() / "processing.flg").find(std::to_string(orbalon.pid) + "\n"),
            std::string::npos);
  ASSERT_TRUE(CloseAboutBox()) << Diagnostics();
  EXPECT_TRUE(WaitFor([&] { return !fs::exists(Scheduled() / "lunch run.sch") &&
                                   !fs::exists(Scheduled() / "processing.flg") && ResultsWritten(); },
                      240s))
      << Diagnostics();
  ExpectResults(bch);
  // The program the user started stays; it ends when asked.
  std::this_thread::sleep_for(1s);
  EXPECT_EQ(::waitpid(orbalon.pid, nullptr, WNOHANG), 0);
  ::kill(orbalon.pid, SIGTERM);
  EXPECT_EQ(WaitExitOrKill(orbalon.pid, 60s), 0);
}

TEST_F(PlovisProcess, ASecondStartOfTheMainProgramHandsItsBatchToTheRunningOne) {
  Running orbalon{StartProgram("orbalon", env_, {}, Err("orbalon"))};
  ASSERT_GT(orbalon.pid, 0);
  ASSERT_TRUE(WaitFor([&] { return fs::exists(env_.SocketPath()); }, 120s)) << Diagnostics();
  ASSERT_TRUE(CloseAboutBox()) << Diagnostics();
  const fs::path bch = MakeBatch("by hand", std::nullopt);
  // Named relative to the second start's folder.
  const pid_t second = StartProgram("orbalon", env_, {"jobs/by hand.bch"}, Err("second"), root_.path());
  ASSERT_GT(second, 0);
  EXPECT_EQ(WaitExitOrKill(second, 60s), 0) << orbtest::ReadFile(Err("second"));
  EXPECT_TRUE(WaitFor([&] { return ResultsWritten(); }, 240s)) << Diagnostics();
  ExpectResults(bch);
  EXPECT_EQ(::waitpid(orbalon.pid, nullptr, WNOHANG), 0);
}

TEST_F(PlovisProcess, ASecondSchedulerEndsAtOnce) {
  Running first{StartProgram("plovis", env_, {}, Err("plovis"))};
  ASSERT_GT(first.pid, 0);
  ASSERT_TRUE(WaitFor([&] { return orbtest::ReadFile(Err("plovis")).find("checking") != std::string::npos; }, 60s))
      << Diagnostics();
  const pid_t second = StartProgram("plovis", env_, {}, Err("second"));
  ASSERT_GT(second, 0);
  EXPECT_EQ(WaitExitOrKill(second, 30s), 0);
  EXPECT_EQ(orbtest::ReadFile(Err("second")).find("checking"), std::string::npos);
  EXPECT_EQ(::waitpid(first.pid, nullptr, WNOHANG), 0) << "the first one runs on";
}

}  // namespace
