// The program itself, started as a process in this test's X server with private folders:
// a second start raises the first and ends without touching the settings; a program folder
// without the English module ends with the fixed message and writes nothing.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "platform/InstanceChannel.h"
#include "tests/common/ProcessUtil.h"
#include "tests/common/TestUtil.h"

namespace fs = std::filesystem;

namespace {

using orbtest::PrivateEnv;
using orbtest::WaitExit;
using orbtest::WaitExitOrKill;

// The program started with its standard error on `stderrFd` (when given).
pid_t StartProgram(const fs::path& program, const PrivateEnv& env, int stderrFd = -1,
                   const std::vector<std::string>& args = {}) {
  orbtest::SpawnOptions options;
  options.stderrFd = stderrFd;
  return orbtest::Spawn(program, env, args, options);
}

void Stop(pid_t pid) {
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

std::map<std::string, std::string> Snapshot(const fs::path& dir) {
  std::map<std::string, std::string> files;
  std::error_code ec;
  if (!fs::exists(dir, ec)) return files;
  for (auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) files[e.path().string()] = orbtest::ReadFile(e.path());
  return files;
}

// How many dialog windows (message boxes among them) this X server shows, as the outside
// tools see them.
int VisibleDialogs() {
  const std::string counted = orbtest::Shell(
      "for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do xprop -id $w _NET_WM_WINDOW_TYPE; done "
      "| grep -c _NET_WM_WINDOW_TYPE_DIALOG");
  int n = -1;
  if (std::sscanf(counted.c_str(), "%d", &n) != 1) n = -1;
  return n;
}

// Whether the count of shown dialogs comes to satisfy `holds` in a while: the program
// shows and closes its boxes in its own time.
bool DialogsBecome(const std::function<bool(int)>& holds) {
  return orbtest::WaitFor([&] { return holds(VisibleDialogs()); }, std::chrono::seconds(30),
                          std::chrono::milliseconds(20));
}

// The instance listens once its start-up is complete; false when it ended before that.
bool WaitUp(const PrivateEnv& env, pid_t pid) {
  for (int i = 0; i < 3000; ++i) {
    if (orb::SendInstanceRequest(env.SocketPath(), "ping", 1000)) return true;
    if (WaitExit(pid, std::chrono::seconds(0)) != -1) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void ExpectSettingsWritten(const PrivateEnv& env) {
  EXPECT_EQ(fs::file_size(env.DataFolder() / "MiscData.dat"), 2720u);
  EXPECT_EQ(fs::file_size(env.DataFolder() / "ScanData.dat"), 1128u);
  EXPECT_EQ(fs::file_size(env.DataFolder() / "ScanLogTots.dat"), 56u);
}

TEST(StartupProcess, EndSignalWhileAMessageBoxIsOpenClosesTheBoxThenTheProgram) {
  orbtest::TempDir root;
  PrivateEnv env(root.path());
  // A file named on the command line that does not exist: the program says so in a box.
  const std::string missing = (root.path() / "no such scan.tif").string();
  pid_t pid = StartProgram(orbtest::ProgramFolder() / "orbalon", env, -1, {missing});
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitUp(env, pid));
  ASSERT_TRUE(DialogsBecome([](int n) { return n >= 1; })) << "the missing file is not told in a box";
  EXPECT_FALSE(fs::exists(env.DataFolder() / "MiscData.dat"));
  kill(pid, SIGTERM);
  int code = WaitExitOrKill(pid, std::chrono::seconds(10));
  EXPECT_EQ(code, 0) << "the program must end by itself, without a crash";
  ExpectSettingsWritten(env);
}

TEST(StartupProcess, ACommandLineFileThatCannotBeOpenedIsTold) {
  orbtest::TempDir root;
  // A name in Latin-1 bytes (not UTF-8 text), of a file that exists, and a FIFO.
  const std::string latin1 = (root.path() / "scan\xE9.tif").string();
  orbtest::WriteFile(latin1, "x");
  const std::string fifo = (root.path() / "pipe.tif").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& name : {latin1, fifo}) {
    PrivateEnv env(root.path() / ("env" + std::to_string(name.size())));
    pid_t pid = StartProgram(orbtest::ProgramFolder() / "orbalon", env, -1, {name});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitUp(env, pid));
    EXPECT_TRUE(DialogsBecome([](int n) { return n >= 1; })) << name;
    kill(pid, SIGTERM);
    int code = WaitExitOrKill(pid, std::chrono::seconds(10));
    EXPECT_EQ(code, 0) << name;
  }
}

TEST(StartupProcess, EndSignalsToAnIdleWindowEndItAtOnce) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    orbtest::TempDir root;
    PrivateEnv env(root.path());
    // A file on the command line keeps the About box away: nothing moves in the window.
    const std::string image = (root.path() / "grey.tif").string();
    ASSERT_EQ(std::system(("convert -size 40x30 xc:gray50 -depth 8 -compress none '" + image + "'").c_str()), 0);
    pid_t pid = StartProgram(orbtest::ProgramFolder() / "orbalon", env, -1, {image});
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(WaitUp(env, pid));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto sent = std::chrono::steady_clock::now();
    kill(pid, sig);
    int code = WaitExitOrKill(pid, std::chrono::seconds(5));
    const auto took = std::chrono::steady_clock::now() - sent;
    EXPECT_EQ(code, 0) << "signal " << sig;
    EXPECT_LT(took, std::chrono::seconds(3)) << "signal " << sig;
    ExpectSettingsWritten(env);
  }
}

TEST(StartupProcess, SecondStartRaisesTheFirstAndChangesNoFile) {
  orbtest::TempDir root;
  PrivateEnv env(root.path());
  pid_t first = StartProgram(orbtest::ProgramFolder() / "orbalon", env);
  ASSERT_GT(first, 0);
  ASSERT_TRUE(WaitUp(env, first)) << "the first instance ended or never listened";
  // Settings of the user that must survive the second start untouched.
  orbtest::WriteFile(env.DataFolder() / "MiscData.dat", std::string(2720, '\x01'));
  auto before = Snapshot(root.path() / "data");

  pid_t second = StartProgram(orbtest::ProgramFolder() / "orbalon", env);
  ASSERT_GT(second, 0);
  int code = WaitExitOrKill(second, std::chrono::seconds(60));
  EXPECT_EQ(code, 0) << "the second start must end at once, after the first one heard it";
  EXPECT_EQ(WaitExit(first, std::chrono::seconds(0)), -1) << "the first instance keeps running";
  EXPECT_EQ(Snapshot(root.path() / "data"), before);
  Stop(first);
}

TEST(StartupProcess, SettingsAreSavedWhenTheProgramIsAskedToEnd) {
  orbtest::TempDir root;
  PrivateEnv env(root.path());
  pid_t pid = StartProgram(orbtest::ProgramFolder() / "orbalon", env);
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitUp(env, pid));
  // Nothing is written while the program runs; everything at its end (the About box
  // shown at the first start is closed by the request too).
  EXPECT_FALSE(fs::exists(env.DataFolder() / "MiscData.dat"));
  kill(pid, SIGTERM);
  int code = WaitExitOrKill(pid, std::chrono::seconds(60));
  EXPECT_EQ(code, 0);
  ExpectSettingsWritten(env);
  // The next start is no first run and the socket is gone.
  EXPECT_FALSE(orb::SendInstanceRequest(env.SocketPath(), "ping", 100));
}

TEST(StartupProcess, WithoutTheEnglishModuleTheProgramEndsAndWritesNothing) {
  orbtest::TempDir root;
  PrivateEnv env(root.path());
  // A program folder holding the program and its libraries but no language module.
  fs::path prog = root.path() / "prog";
  fs::create_directories(prog);
  fs::copy_file(orbtest::ProgramFolder() / "orbalon", prog / "orbalon");
  for (auto& e : fs::directory_iterator(orbtest::ProgramFolder()))
    if (e.path().extension() == ".so") fs::create_symlink(e.path(), prog / e.path().filename());

  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  pid_t pid = StartProgram(prog / "orbalon", env, pipeFds[1]);
  close(pipeFds[1]);
  ASSERT_GT(pid, 0);
  // The fixed text goes to standard error as well as into its message box.
  std::string err;
  char buf[512];
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (err.find("Lang9.xrs") == std::string::npos && std::chrono::steady_clock::now() < end) {
    ssize_t n = read(pipeFds[0], buf, sizeof buf);
    if (n <= 0) break;
    err.append(buf, static_cast<size_t>(n));
  }
  close(pipeFds[0]);
  Stop(pid);
  EXPECT_NE(err.find("Unable to load the English language resource Lang9.xrs"), std::string::npos) << err;
  for (const char* f : {"ScanData.dat", "MiscData.dat", "ScanLogTots.dat"})
    EXPECT_FALSE(fs::exists(env.DataFolder() / f)) << f;
}

// The first start as a user meets it: the About box, answered with Enter, then an idle
// window. The toolkit has nothing to say about the window's controls (a control sized
// smaller than its frame makes it warn), and an end signal to the idle window ends it at
// once, without waiting for the next mouse movement.
TEST(StartupProcess, FirstStartWarnsOfNothingAndEndsAtOnceAfterTheAboutBox) {
  orbtest::TempDir root;
  PrivateEnv env(root.path());
  const fs::path errPath = root.path() / "stderr.txt";
  const int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(errFd, 0);
  pid_t pid = StartProgram(orbtest::ProgramFolder() / "orbalon", env, errFd);
  ::close(errFd);
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitUp(env, pid));
  ASSERT_TRUE(DialogsBecome([](int n) { return n >= 1; })) << "no About box at the first start";
  ASSERT_EQ(std::system("xdotool key Return"), 0);
  ASSERT_TRUE(DialogsBecome([](int n) { return n == 0; })) << "Enter did not close the About box";
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  const auto sent = std::chrono::steady_clock::now();
  kill(pid, SIGTERM);
  const int code = WaitExitOrKill(pid, std::chrono::seconds(8));
  const auto took = std::chrono::steady_clock::now() - sent;
  EXPECT_EQ(code, 0);
  EXPECT_LT(took, std::chrono::seconds(3));
  ExpectSettingsWritten(env);
  const std::string err = orbtest::ReadFile(errPath);
  EXPECT_EQ(err.find("Negative content width"), std::string::npos) << err;
  EXPECT_EQ(err.find("Negative content height"), std::string::npos) << err;
}

}  // namespace
