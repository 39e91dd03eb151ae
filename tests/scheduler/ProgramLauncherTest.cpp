// The start of the main program for a due batch: the programs tried in turn from the
// program folder, the batch path as the only argument, and the hand-over to a main program
// that runs already. Stand-in programs are small shell scripts that write down what they got.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "platform/InstanceChannel.h"
#include "scheduler/ProgramLauncher.h"

namespace fs = std::filesystem;
using namespace orb::scheduler;

namespace {

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class Launcher : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "plovisXXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    programs_ = dir_ / "bin";
    fs::create_directories(programs_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  // A stand-in main program that writes its name and each argument on a line of its own.
  void Program(const std::string& name) {
    const fs::path p = programs_ / name;
    std::ofstream(p) << "#!/bin/sh\n{ echo " << name << "; for a in \"$@\"; do echo \"[$a]\"; done; } > '"
                     << (dir_ / "ran").string() << ".tmp'\nmv '" << (dir_ / "ran").string() << ".tmp' '"
                     << (dir_ / "ran").string() << "'\n";
    fs::permissions(p, fs::perms::owner_all);
  }
  // Waits for the started program and says what it wrote.
  std::string Ran(pid_t pid) {
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return Read(dir_ / "ran");
  }

  fs::path dir_, programs_;
};

TEST_F(Launcher, StartsTheMainProgramWithTheBatchPathAsItsOnlyArgument) {
  Program("orbalon");
  ProgramLauncher launcher(programs_.string(), "");
  std::vector<pid_t> claimed;
  const std::string batch = "/home/me/batch jobs/night \"run\".bch";
  const LaunchResult r = launcher.Launch(batch, [&](pid_t p) { claimed.push_back(p); });
  ASSERT_TRUE(r.started) << r.error;
  EXPECT_EQ(r.program, (programs_ / "orbalon").string());
  EXPECT_EQ(claimed, std::vector<pid_t>{r.pid});
  // One argument, unquoted and whole: the path as it is, blanks and quotes included.
  EXPECT_EQ(Ran(r.pid), "orbalon\n[" + batch + "]\n");
}

TEST_F(Launcher, TheProgramsAreTriedInTheirOrder) {
  Program("orbalon");
  Program("plenwick");
  ProgramLauncher launcher(programs_.string(), "");
  LaunchResult r = launcher.Launch("/jobs/a.bch", nullptr);
  ASSERT_TRUE(r.started) << r.error;
  EXPECT_EQ(Ran(r.pid), "plenwick\n[/jobs/a.bch]\n");
  Program("orbalonA");
  r = launcher.Launch("/jobs/a.bch", nullptr);
  ASSERT_TRUE(r.started) << r.error;
  EXPECT_EQ(Ran(r.pid), "orbalonA\n[/jobs/a.bch]\n");
}

TEST_F(Launcher, WithoutAProgramNothingStartsAndTheReasonNamesEachOne) {
  // A file of the right name that cannot be run counts as missing too.
  std::ofstream(programs_ / "orbalon") << "not a program";
  ProgramLauncher launcher(programs_.string(), "");
  bool claimed = false;
  const LaunchResult r = launcher.Launch("/jobs/a.bch", [&](pid_t) { claimed = true; });
  EXPECT_FALSE(r.started);
  EXPECT_FALSE(claimed);
  for (const std::string& name : ProgramLauncher::ProgramNames()) {
    EXPECT_NE(r.error.find((programs_ / name).string()), std::string::npos) << r.error;
  }
}

TEST_F(Launcher, ARunningMainProgramIsHandedTheBatchInsteadOfAStart) {
  Program("orbalon");
  const std::string socket = (dir_ / "orbalon.sock").string();
  std::mutex m;
  std::vector<std::string> requests;
  orb::InstanceServer running;
  std::string err;
  ASSERT_TRUE(running.Start(socket, [&](const std::string& r) { std::lock_guard l(m); requests.push_back(r); }, &err))
      << err;
  ProgramLauncher launcher(programs_.string(), socket);
  std::vector<pid_t> claimed;
  size_t requestsAtClaim = 99;
  const LaunchResult r = launcher.Launch("/jobs/night run.bch", [&](pid_t p) {
    claimed.push_back(p);
    std::lock_guard l(m);
    requestsAtClaim = requests.size();
  });
  running.Stop();
  ASSERT_TRUE(r.started) << r.error;
  EXPECT_EQ(r.pid, ::getpid());  // the listener is this test process
  EXPECT_EQ(claimed, std::vector<pid_t>{::getpid()});
  EXPECT_EQ(requestsAtClaim, 0u) << "the flag names the runner before the runner has the batch";
  EXPECT_EQ(requests, std::vector<std::string>{"batch /jobs/night run.bch"});
  ::usleep(200000);
  EXPECT_FALSE(fs::exists(dir_ / "ran")) << "no second copy is started";
}

TEST_F(Launcher, AMainProgramThatDoesNotTakeTheBatchStartsNothing) {
  Program("orbalon");
  const std::string socket = (dir_ / "orbalon.sock").string();
  // Listens, never answers.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socket.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  ProgramLauncher launcher(programs_.string(), socket);
  const LaunchResult r = launcher.Launch("/jobs/a.bch", nullptr);
  ::close(fd);
  EXPECT_FALSE(r.started);
  EXPECT_NE(r.error.find("did not take"), std::string::npos) << r.error;
  ::usleep(200000);
  EXPECT_FALSE(fs::exists(dir_ / "ran"));
}

TEST_F(Launcher, AStaleSocketWithNobodyListeningStartsTheProgram) {
  Program("orbalon");
  const std::string socket = (dir_ / "orbalon.sock").string();
  std::ofstream(socket) << "left by a crash";
  ProgramLauncher launcher(programs_.string(), socket);
  const LaunchResult r = launcher.Launch("/jobs/a.bch", nullptr);
  ASSERT_TRUE(r.started) << r.error;
  EXPECT_EQ(Ran(r.pid), "orbalon\n[/jobs/a.bch]\n");
}

TEST_F(Launcher, EndedProgramsAreCollected) {
  Program("orbalon");
  ProgramLauncher launcher(programs_.string(), "");
  const LaunchResult r = launcher.Launch("/jobs/a.bch", nullptr);
  ASSERT_TRUE(r.started);
  for (int i = 0; i < 500 && !fs::exists(dir_ / "ran"); ++i) ::usleep(10000);
  ::usleep(100000);
  CollectEndedChildren();
  EXPECT_EQ(::waitpid(r.pid, nullptr, WNOHANG), -1) << "already collected";
  EXPECT_FALSE(ProcessRuns(r.pid));
}

}  // namespace
