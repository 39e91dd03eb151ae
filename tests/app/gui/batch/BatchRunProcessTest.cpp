// The program started on a batch file, as the scheduler starts it: it works through the
// files, writes the results and the log, removes the schedule hand-over files and ends by
// itself. Results are read back by ImageMagick.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <thread>

#include "tests/common/TestUtil.h"

extern char** environ;
namespace fs = std::filesystem;

namespace {

std::string Shell(const std::string& cmd) {
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

struct Env {
  explicit Env(const fs::path& root) {
    vars = {{"HOME", (root / "home").string()},          {"XDG_DATA_HOME", (root / "data").string()},
            {"XDG_CONFIG_HOME", (root / "config").string()}, {"XDG_CACHE_HOME", (root / "cache").string()},
            {"XDG_DOCUMENTS_DIR", (root / "home/Documents").string()},
            {"XDG_RUNTIME_DIR", (root / "run").string()}};
    for (auto& [k, v] : vars) fs::create_directories(v);
    fs::permissions(root / "run", fs::perms::owner_all);
  }
  fs::path DataFolder() const { return fs::path(vars.at("XDG_DATA_HOME")) / "OrbalonData"; }
  std::map<std::string, std::string> vars;
};

pid_t Spawn(const fs::path& program, const Env& env, const std::vector<std::string>& args) {
  std::vector<std::string> envs;
  for (char** e = environ; *e; ++e) {
    std::string s(*e);
    if (!env.vars.count(s.substr(0, s.find('=')))) envs.push_back(s);
  }
  for (auto& [k, v] : env.vars) envs.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& s : envs) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> words{program.string()};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  return ::posix_spawn(&pid, words[0].c_str(), nullptr, nullptr, argv.data(), envp.data()) == 0 ? pid : -1;
}

int WaitExit(pid_t pid, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return -1;
}

TEST(BatchRunProcess, AScheduledBatchFileRunsItsFilesLogsThemAndEnds) {
  orbtest::TempDir root;
  Env env(root.path());
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

  const pid_t pid = Spawn(orbtest::ProgramFolder() / "orbalon", env, {bch.string()});
  ASSERT_GT(pid, 0);
  EXPECT_EQ(WaitExit(pid, std::chrono::seconds(240)), 0) << "the scheduled run must end the program";

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
