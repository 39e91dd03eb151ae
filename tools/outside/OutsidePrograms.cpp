#include "tools/outside/OutsidePrograms.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <thread>

extern char** environ;

namespace orb::tools {

pid_t StartProgram(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> words = args;
  if (words.empty()) words.push_back(program);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

bool StartDetached(const std::string& program, const std::vector<std::string>& args) {
  const pid_t pid = StartProgram(program, args);
  if (pid < 0) return false;
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return true;
}

WaitEnd WaitForProgram(pid_t pid, const std::function<bool()>& pump, int pollMs, int* exitCode) {
  if (pid <= 0) return WaitEnd::NotStarted;
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      return WaitEnd::Exited;
    }
    if (r < 0 && errno != EINTR) return WaitEnd::Exited;
    if (pump && !pump()) {
      // The program runs on; its end is collected in the background.
      std::thread([pid] {
        int s = 0;
        while (::waitpid(pid, &s, 0) < 0 && errno == EINTR) {
        }
      }).detach();
      return WaitEnd::Stopped;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
  }
}

std::vector<std::string> EditorArguments(const std::string& program, const std::string& image) {
  std::vector<std::string> a{std::filesystem::path(program).filename().string()};
  if (!image.empty()) a.push_back(image);
  return a;
}

std::vector<std::string> IndexerArguments(const std::string& program, const std::string& project,
                                          const std::string& image) {
  std::vector<std::string> a{std::filesystem::path(program).filename().string()};
  if (image.empty()) return a;
  a.push_back("/single");
  a.push_back("/" + project);
  a.push_back("/" + image);
  return a;
}

bool IsProgramSet(const std::string& program) { return !program.empty() && program[0] != ' '; }

}  // namespace orb::tools
