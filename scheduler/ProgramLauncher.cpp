#include "scheduler/ProgramLauncher.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Folders.h"
#include "platform/InstanceChannel.h"

extern char** environ;

namespace orb::scheduler {
namespace {

// The running main program answers at once (it only queues the batch); a little more
// time covers a loaded machine.
constexpr int kHandOverAnswerMs = 5000;

// Starts `program` with the batch path as its only argument, in a process group of its
// own (a Ctrl+C meant for the scheduler does not end a running batch), with the signal
// handling a new program expects. 0 or the error number.
int Spawn(const std::string& program, const std::string& batchPath, pid_t* pid) {
  posix_spawnattr_t attr;
  if (int e = ::posix_spawnattr_init(&attr)) return e;
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int s : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&defaults, s);
  ::posix_spawnattr_setsigmask(&attr, &none);
  ::posix_spawnattr_setsigdefault(&attr, &defaults);
  ::posix_spawnattr_setpgroup(&attr, 0);
  ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  std::string arg0 = program, arg1 = batchPath;
  char* argv[] = {arg0.data(), arg1.data(), nullptr};
  const int e = ::posix_spawn(pid, program.c_str(), nullptr, &attr, argv, environ);
  ::posix_spawnattr_destroy(&attr);
  return e;
}

}  // namespace

ProgramLauncher::ProgramLauncher(std::string programFolder, std::string instanceSocket)
    : programFolder_(std::move(programFolder)), instanceSocket_(std::move(instanceSocket)) {}

const std::vector<std::string>& ProgramLauncher::ProgramNames() {
  static const std::vector<std::string> names{"orbalonA", "plenwick", "orbalon"};
  return names;
}

std::string ProgramLauncher::HandOverRequest(const std::string& batchPath) { return kRunBatchRequest + batchPath; }

LaunchResult ProgramLauncher::Launch(const std::string& batchPath, const std::function<void(pid_t)>& claim) {
  LaunchResult r;
  if (!instanceSocket_.empty()) {
    if (batchPath.find('\n') != std::string::npos) {
      r.error = "the batch file's path holds a line break";
      return r;
    }
    pid_t listener = 0;
    const RequestResult sent =
        DeliverInstanceRequest(instanceSocket_, HandOverRequest(batchPath), kHandOverAnswerMs, [&](pid_t p) {
          listener = p;
          if (claim) claim(p);
        });
    switch (sent) {
      case RequestResult::Acknowledged:
        r.started = true;
        r.pid = listener;
        r.program = "the running main program";
        return r;
      case RequestResult::NotAcknowledged:
        // Another copy started now would only hand the batch to this one again.
        r.error = "the running main program did not take the batch";
        return r;
      case RequestResult::NoListener: break;
    }
  }
  std::string errors;
  for (const std::string& name : ProgramNames()) {
    const std::string program = JoinPath(programFolder_, name);
    pid_t pid = 0;
    const int e = Spawn(program, batchPath, &pid);
    if (e == 0) {
      if (claim) claim(pid);
      r.started = true;
      r.pid = pid;
      r.program = program;
      return r;
    }
    if (!errors.empty()) errors += "; ";
    errors += program + ": " + std::strerror(e);
  }
  r.error = errors;
  return r;
}

void CollectEndedChildren() {
  int status = 0;
  while (::waitpid(-1, &status, WNOHANG) > 0) {
  }
}

}  // namespace orb::scheduler
