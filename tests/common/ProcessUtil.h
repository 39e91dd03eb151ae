// Other programs run from a test: outside readers whose output is the check, and the
// build's own programs as whole processes with private folders.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace orbtest {

// The exit code of a shell command (-1 when it could not be run or did not exit by itself),
// and what it printed on its standard output in `out` when given (left untouched when it
// could not be run): some outside readers' verdict is their exit code.
inline int ShellExit(const std::string& cmd, std::string* out = nullptr) {
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  const int status = ::pclose(p);
  if (out) *out = std::move(text);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What a shell command prints: outside readers (identify, tiffinfo) judge the files the
// system writes, so their answer is what tests compare.
inline std::string Shell(const std::string& cmd) {
  std::string out;
  ShellExit(cmd, &out);
  return out;
}

// A file's pixels as ImageMagick reads them after `op`: "rgb" or "gray" samples, 8 bits.
inline std::string Samples(const std::string& path, const std::string& map, const std::string& op = "") {
  return Shell("convert '" + path + "' " + op + " -depth 8 " + map + ":- 2>/dev/null");
}

// A file's width and height as ImageMagick's identify gives them ("W H"), or its complaint.
inline std::string ImageSize(const std::string& path) {
  return Shell("identify -format '%w %h' '" + path + "' 2>&1");
}

// Home, data, configuration, cache and runtime folders of its own under `root`, so that a
// started program neither reads nor changes the user's settings, nor meets another
// test's running instance.
struct PrivateEnv {
  explicit PrivateEnv(const std::filesystem::path& root) {
    vars = {{"HOME", (root / "home").string()},          {"XDG_DATA_HOME", (root / "data").string()},
            {"XDG_CONFIG_HOME", (root / "config").string()}, {"XDG_CACHE_HOME", (root / "cache").string()},
            {"XDG_DOCUMENTS_DIR", (root / "home/Documents").string()},
            {"XDG_RUNTIME_DIR", (root / "run").string()}};
    for (auto& [k, v] : vars) std::filesystem::create_directories(v);
    std::filesystem::permissions(root / "run", std::filesystem::perms::owner_all);
  }
  // This process's environment with the private folders in place of the user's.
  std::vector<std::string> Strings() const {
    std::vector<std::string> out;
    for (char** e = environ; *e; ++e) {
      std::string s(*e);
      if (!vars.count(s.substr(0, s.find('=')))) out.push_back(s);
    }
    for (auto& [k, v] : vars) out.push_back(k + "=" + v);
    return out;
  }
  std::filesystem::path DataFolder() const { return std::filesystem::path(vars.at("XDG_DATA_HOME")) / "OrbalonData"; }
  std::string SocketPath() const {
    return vars.at("XDG_RUNTIME_DIR") + "/orbalon-" + std::to_string(::getuid()) + ".sock";
  }
  std::map<std::string, std::string> vars;
};

// Where a started program's standard error goes and the folder it starts in: tests read
// what a program says and name files relative to it (unset: as this process has them).
struct SpawnOptions {
  int stderrFd = -1;                  // duplicated onto its standard error
  std::filesystem::path stderrFile;   // appended to
  std::filesystem::path cwd;
};

// Starts `program` with `args` in the private folders without waiting for it, so that the
// test can talk to it while it runs; -1 when it cannot be started.
inline pid_t Spawn(const std::filesystem::path& program, const PrivateEnv& env,
                   const std::vector<std::string>& args = {}, const SpawnOptions& options = {}) {
  std::vector<std::string> envs = env.Strings();
  std::vector<char*> envp;
  for (auto& s : envs) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> words{program.string()};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  if (options.stderrFd >= 0) ::posix_spawn_file_actions_adddup2(&actions, options.stderrFd, 2);
  if (!options.stderrFile.empty())
    ::posix_spawn_file_actions_addopen(&actions, 2, options.stderrFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (!options.cwd.empty()) ::posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, words[0].c_str(), &actions, nullptr, argv.data(), envp.data());
  ::posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// The exit code of `pid` once it ends within `limit` (128 when a signal ended it); -1 when
// it still runs. Bounded, so that a program that hangs fails the test instead of the run;
// a zero limit looks once.
inline int WaitExit(pid_t pid, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    if (std::chrono::steady_clock::now() >= end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// As WaitExit, but a process still running at the limit is killed, so that no test leaves
// one behind.
inline int WaitExitOrKill(pid_t pid, std::chrono::milliseconds limit) {
  const int code = WaitExit(pid, limit);
  if (code == -1) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  return code;
}

// Polls `done` on the clock (another process works meanwhile, not this one's event loop)
// until it holds or `limit` passes.
inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit,
                    std::chrono::milliseconds step = std::chrono::milliseconds(100)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(step);
  }
  return done();
}

// Makes every write of this process past `bytes` fail, as a full disk would, while alive
// (the size signal ignored, so that the write itself fails).
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    oldSignal_ = ::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &old_);
    rlimit lim = old_;
    lim.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &lim);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    ::signal(SIGXFSZ, oldSignal_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_{};
  sighandler_t oldSignal_ = SIG_DFL;
};

}  // namespace orbtest
