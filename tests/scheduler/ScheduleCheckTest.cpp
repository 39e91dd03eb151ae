// The scheduler's check of the "Scheduled" folder, without a display: run dates, the flag,
// the order of due files and the start through a recording launcher. Times are in
// Europe/Berlin; the expected instants come from date(1):
//   TZ=Europe/Berlin date -d "2026-12-09 07:30:00" +%s   -> 1796797800 (06:30 UTC, winter time)
//   TZ=Europe/Berlin date -d "2026-07-01 12:00:00" +%s   -> 1782900000 (10:00 UTC, summer time)
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "scheduler/ScheduleCheck.h"

extern char** environ;
namespace fs = std::filesystem;
using namespace orb::scheduler;

namespace {

constexpr std::time_t kDec9At0730 = 1796797800;
constexpr std::time_t kJul1At1200 = 1782900000;

// Every test of this program reads local times of one zone.
class BerlinTime : public ::testing::Environment {
 public:
  void SetUp() override {
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
  }
};
const auto* const kZone = ::testing::AddGlobalTestEnvironment(new BerlinTime);

void Write(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A process id that no longer runs: a child that has ended and been collected.
pid_t EndedProcess() {
  pid_t pid = 0;
  char arg0[] = "true";
  char* argv[] = {arg0, nullptr};
  EXPECT_EQ(::posix_spawn(&pid, "/bin/true", nullptr, nullptr, argv, environ), 0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

// Records every start; starts (claiming `pid`) or fails as told.
struct RecordingLauncher : ILauncher {
  LaunchResult Launch(const std::string& batch, const std::function<void(pid_t)>& claim) override {
    launched.push_back(batch);
    flagDuringLaunch.push_back(Read(flagPath));
    LaunchResult r;
    if (fail) {
      r.error = "no program";
      return r;
    }
    claim(pid);
    r.started = true;
    r.pid = pid;
    r.program = "/opt/orbalon/orbalon";
    return r;
  }
  std::vector<std::string> launched;
  std::vector<std::string> flagDuringLaunch;
  std::string flagPath;
  bool fail = false;
  pid_t pid = ::getpid();  // a process that runs
};

class ScheduleCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "plovisXXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    folder_ = root_ / "Scheduled";
    fs::create_directories(folder_);
    launcher_.flagPath = (folder_ / kFlagFile).string();
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  // A batch file with the run date, and its schedule file as the batch editor writes it
  // (the path, no line end).
  std::string Schedule(const std::string& name, const std::string& autoRun) {
    const fs::path bch = root_ / "jobs" / (name + ".bch");
    Write(bch, "[General]\nHoldForQC=0\nCreateLog=1\n" + (autoRun.empty() ? "" : "AutoRun=" + autoRun + "\n") +
                   "[Files]\nFile0=/images/a.tif\n");
    Write(folder_ / (name + ".sch"), bch.string());
    return bch.string();
  }
  CheckResult Check(std::time_t now) { return CheckScheduledFolder(folder_.string(), now, launcher_); }
  fs::path Flag() const { return folder_ / kFlagFile; }

  fs::path root_, folder_;
  RecordingLauncher launcher_;
};

TEST(AutoRun, ReadsTheEditorsDateAsLocalTimeWithTheDatesOwnDaylightSaving) {
  EXPECT_EQ(ParseAutoRun("2026/12/9,7:30:0"), std::optional<std::time_t>(kDec9At0730));
  // Summer time: one hour more ahead of UTC, whatever the season of the check.
  EXPECT_EQ(ParseAutoRun("2026/7/1,12:0:0"), std::optional<std::time_t>(kJul1At1200));
  EXPECT_EQ(ParseAutoRun("2026/07/01,12:00:00"), std::optional<std::time_t>(kJul1At1200));
}

TEST(AutoRun, AValueThatNamesNoCompleteDateIsNoRunDate) {
  for (const char* bad : {"", "2026", "2026/12", "2026/12/9", "2026/12/9,7:30", "x/12/9,7:30:0", "2026/12/9,7:xx:0",
                          "0/12/9,7:30:0", "2026-12-09 07:30:00"}) {
    EXPECT_EQ(ParseAutoRun(bad), std::nullopt) << bad;
  }
}

// One check of a folder in a given state.
struct DueCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> schedules;  // name, AutoRun
  enum Flag { NoFlag, FlagOfRunningProcess, FlagNamingNoProcess, FlagOfEndedProcess } flag;
  std::time_t now;
  bool launcherFails;
  CheckOutcome outcome;
  std::string launched;  // the batch started ("" none)
  bool flagAfter;
};

class DueCheckTable : public ScheduleCheck, public ::testing::WithParamInterface<DueCase> {};

TEST_P(DueCheckTable, StartsWhatIsDueAndNothingElse) {
  const DueCase& c = GetParam();
  std::string launchedPath;
  for (const auto& [name, autoRun] : c.schedules) {
    const std::string bch = Schedule(name, autoRun);
    if (name == c.launched) launchedPath = bch;
  }
  pid_t ended = 0;
  switch (c.flag) {
    case DueCase::NoFlag: break;
    case DueCase::FlagOfRunningProcess: Write(Flag(), std::to_string(::getpid()) + "\n/jobs/earlier.bch\n"); break;
    case DueCase::FlagNamingNoProcess: Write(Flag(), ""); break;
    case DueCase::FlagOfEndedProcess:
      ended = EndedProcess();
      Write(Flag(), std::to_string(ended) + "\n/jobs/crashed.bch\n");
      break;
  }
  launcher_.fail = c.launcherFails;

  const CheckResult r = Check(c.now);

  EXPECT_EQ(r.outcome, c.outcome);
  if (c.launched.empty() || c.launcherFails) {
    EXPECT_EQ(launcher_.launched.size(), c.launched.empty() ? 0u : 1u);
  } else {
    ASSERT_EQ(launcher_.launched, std::vector<std::string>{launchedPath});
    // The flag is in place while the program starts, and then names the process that runs it.
    EXPECT_EQ(launcher_.flagDuringLaunch[0], std::to_string(::getpid()) + "\n" + launchedPath + "\n");
    EXPECT_EQ(Read(Flag()), std::to_string(launcher_.pid) + "\n" + launchedPath + "\n");
    EXPECT_EQ(r.batch, launchedPath);
  }
  EXPECT_EQ(fs::exists(Flag()), c.flagAfter);
  if (c.flag == DueCase::FlagOfEndedProcess) EXPECT_EQ(r.clearedFlagOf, std::optional<pid_t>(ended));
  else EXPECT_EQ(r.clearedFlagOf, std::nullopt);
  // The scheduler never removes a schedule file.
  for (const auto& s : c.schedules) EXPECT_TRUE(fs::exists(folder_ / (s.first + ".sch"))) << s.first;
}

const std::string kAt0730 = "2026/12/9,7:30:0";

INSTANTIATE_TEST_SUITE_P(
    Folder, DueCheckTable,
    ::testing::Values(
        DueCase{"DueOnTheSecond", {{"night", kAt0730}}, DueCase::NoFlag, kDec9At0730, false, CheckOutcome::Started,
                "night", true},
        DueCase{"NotDueASecondBefore", {{"night", kAt0730}}, DueCase::NoFlag, kDec9At0730 - 1, false,
                CheckOutcome::NothingDue, "", false},
        DueCase{"DueLater", {{"night", kAt0730}}, DueCase::NoFlag, kDec9At0730 + 86400, false, CheckOutcome::Started,
                "night", true},
        DueCase{"TimeInTheFuture", {{"night", "2027/1/1,0:0:0"}}, DueCase::NoFlag, kDec9At0730, false,
                CheckOutcome::NothingDue, "", false},
        DueCase{"EmptyAutoRun", {{"night", ""}}, DueCase::NoFlag, kDec9At0730, false, CheckOutcome::NothingDue, "",
                false},
        DueCase{"DamagedAutoRun", {{"night", "soon"}}, DueCase::NoFlag, kDec9At0730, false, CheckOutcome::NothingDue,
                "", false},
        DueCase{"FutureFirstDueSecond", {{"a-later", "2027/1/1,0:0:0"}, {"b-now", kAt0730}}, DueCase::NoFlag,
                kDec9At0730, false, CheckOutcome::Started, "b-now", true},
        DueCase{"TwoDueOnlyTheFirstStarts", {{"b-second", kAt0730}, {"a-first", "2026/12/1,0:0:0"}}, DueCase::NoFlag,
                kDec9At0730, false, CheckOutcome::Started, "a-first", true},
        DueCase{"FlagOfARunningBatchHoldsEverything", {{"night", kAt0730}}, DueCase::FlagOfRunningProcess,
                kDec9At0730, false, CheckOutcome::Running, "", true},
        DueCase{"FlagNamingNoProcessHoldsEverything", {{"night", kAt0730}}, DueCase::FlagNamingNoProcess,
                kDec9At0730, false, CheckOutcome::HeldByFlag, "", true},
        DueCase{"FlagOfAnEndedProcessIsClearedAndTheBatchStarts", {{"night", kAt0730}}, DueCase::FlagOfEndedProcess,
                kDec9At0730, false, CheckOutcome::Started, "night", true},
        DueCase{"FlagOfAnEndedProcessIsClearedWithNothingDue", {{"night", "2027/1/1,0:0:0"}},
                DueCase::FlagOfEndedProcess, kDec9At0730, false, CheckOutcome::NothingDue, "", false},
        DueCase{"FailingLauncherLeavesNoFlag", {{"night", kAt0730}}, DueCase::NoFlag, kDec9At0730, true,
                CheckOutcome::LaunchFailed, "night", false}),
    [](const ::testing::TestParamInfo<DueCase>& i) { return std::string(i.param.name); });

TEST_F(ScheduleCheck, TheSecondDueBatchWaitsUntilTheFlagIsGone) {
  const std::string first = Schedule("a-first", kAt0730);
  const std::string second = Schedule("b-second", kAt0730);
  EXPECT_EQ(Check(kDec9At0730).outcome, CheckOutcome::Started);
  // While the first runs, every check leaves everything as it is.
  for (int i = 0; i < 3; ++i) {
    const CheckResult r = Check(kDec9At0730 + 2 * (i + 1));
    EXPECT_EQ(r.outcome, CheckOutcome::Running);
    EXPECT_EQ(r.batch, first);
  }
  EXPECT_EQ(launcher_.launched, std::vector<std::string>{first});
  // The main program ends the first: its schedule file and the flag go.
  fs::remove(folder_ / "a-first.sch");
  fs::remove(Flag());
  EXPECT_EQ(Check(kDec9At0730 + 10).outcome, CheckOutcome::Started);
  EXPECT_EQ(launcher_.launched, (std::vector<std::string>{first, second}));
}

TEST_F(ScheduleCheck, AFailedStartIsTriedAgainAtTheNextCheck) {
  const std::string bch = Schedule("night", kAt0730);
  launcher_.fail = true;
  EXPECT_EQ(Check(kDec9At0730).outcome, CheckOutcome::LaunchFailed);
  EXPECT_EQ(Check(kDec9At0730 + 2).outcome, CheckOutcome::LaunchFailed);
  launcher_.fail = false;
  EXPECT_EQ(Check(kDec9At0730 + 4).outcome, CheckOutcome::Started);
  EXPECT_EQ(launcher_.launched, (std::vector<std::string>{bch, bch, bch}));
}

TEST_F(ScheduleCheck, AFlagOfACrashedRunIsClearedAndTheBatchRunsAgain) {
  const std::string bch = Schedule("night", kAt0730);
  launcher_.pid = EndedProcess();  // the program started, then died without ending the batch
  EXPECT_EQ(Check(kDec9At0730).outcome, CheckOutcome::Started);
  launcher_.pid = ::getpid();
  const CheckResult again = Check(kDec9At0730 + 2);
  EXPECT_EQ(again.outcome, CheckOutcome::Started);
  EXPECT_TRUE(again.clearedFlagOf.has_value());
  EXPECT_NE(DescribeCheck(again).find("was removed"), std::string::npos);
  EXPECT_EQ(launcher_.launched, (std::vector<std::string>{bch, bch}));
}

TEST_F(ScheduleCheck, AFlagNamingNoProcessIsReported) {
  Schedule("night", kAt0730);
  Write(Flag(), "left by hand\n");
  const CheckResult r = Check(kDec9At0730);
  EXPECT_EQ(r.outcome, CheckOutcome::HeldByFlag);
  EXPECT_EQ(DescribeCheck(r), "Scheduled runs are held until " + Flag().string() + " is removed");
  EXPECT_EQ(Read(Flag()), "left by hand\n");
}

TEST_F(ScheduleCheck, SchedulesThatCannotBeFollowedAreSkipped) {
  // A schedule file naming a batch file that is gone, one naming nothing, one that is a
  // folder, and one with a line end after the path (written by hand): only the last runs.
  Write(folder_ / "a-gone.sch", (root_ / "jobs" / "gone.bch").string());
  Write(folder_ / "b-empty.sch", "");
  fs::create_directories(folder_ / "c-folder.sch");
  const std::string bch = Schedule("d-by-hand", kAt0730);
  Write(folder_ / "d-by-hand.sch", bch + "\r\nsecond line\r\n");
  Write(folder_ / "e-not-a-schedule.txt", bch);
  EXPECT_EQ(Check(kDec9At0730).outcome, CheckOutcome::Started);
  EXPECT_EQ(launcher_.launched, std::vector<std::string>{bch});
}

TEST_F(ScheduleCheck, AScheduleFileNamedInCapitalsCounts) {
  const std::string bch = Schedule("night", kAt0730);
  fs::rename(folder_ / "night.sch", folder_ / "NIGHT.SCH");
  EXPECT_EQ(Check(kDec9At0730).outcome, CheckOutcome::Started);
  EXPECT_EQ(launcher_.launched, std::vector<std::string>{bch});
}

TEST_F(ScheduleCheck, AFlagThatCannotBeWrittenStartsNothing) {
  Schedule("night", kAt0730);
  // No file of this process may grow (a full disk, for root too).
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit none = old;
  none.rlim_cur = 0;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &none), 0);
  const CheckResult r = Check(kDec9At0730);
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(r.outcome, CheckOutcome::FlagUnwritable);
  EXPECT_FALSE(r.detail.empty());
  EXPECT_TRUE(launcher_.launched.empty());
  EXPECT_FALSE(fs::exists(Flag()));
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(folder_)) left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"night.sch"}) << "no temporary flag is left";
}

TEST_F(ScheduleCheck, AMissingFolderHasNothingDue) {
  fs::remove_all(folder_);
  EXPECT_EQ(Check(kDec9At0730).outcome, CheckOutcome::NothingDue);
  EXPECT_TRUE(launcher_.launched.empty());
}

TEST(ProcessRuns, TellsRunningEndedAndUnreapedProcesses) {
  EXPECT_TRUE(ProcessRuns(::getpid()));
  EXPECT_TRUE(ProcessRuns(1));
  EXPECT_FALSE(ProcessRuns(EndedProcess()));
  EXPECT_FALSE(ProcessRuns(0));
  EXPECT_FALSE(ProcessRuns(-1));
  // A child that has ended but was not collected yet is a zombie: it no longer runs.
  pid_t pid = 0;
  char arg0[] = "true";
  char* argv[] = {arg0, nullptr};
  ASSERT_EQ(::posix_spawn(&pid, "/bin/true", nullptr, nullptr, argv, environ), 0);
  for (int i = 0; i < 200; ++i) {
    const std::string stat = Read("/proc/" + std::to_string(pid) + "/stat");
    if (stat.find(") Z") != std::string::npos) break;
    ::usleep(10000);
  }
  EXPECT_FALSE(ProcessRuns(pid));
}

}  // namespace
