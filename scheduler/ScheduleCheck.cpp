#include "scheduler/ScheduleCheck.h"

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <limits>

#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Ini.h"

namespace orb::scheduler {
namespace {

// A batch path of a schedule file: its first line, as long as a path may be here.
constexpr size_t kScheduleLineLimit = 4095;
// "AutoRun" is read into 32 characters, as every reader of it does.
constexpr size_t kAutoRunBuffer = 32;

std::string FlagPath(const std::string& folder) { return JoinPath(folder, kFlagFile); }

// Cuts `text` at the first `sep`: the piece before it, and the rest after it (empty when
// there is no `sep`).
std::string_view TakePiece(std::string_view* text, char sep) {
  const size_t at = text->find(sep);
  std::string_view piece = text->substr(0, at);
  *text = at == std::string_view::npos ? std::string_view() : text->substr(at + 1);
  return piece;
}

bool EndsWithNoCase(const std::string& name, std::string_view ext) {
  if (name.size() <= ext.size()) return false;
  return std::equal(ext.begin(), ext.end(), name.end() - static_cast<std::ptrdiff_t>(ext.size()),
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) ==
                                                std::tolower(static_cast<unsigned char>(b)); });
}

std::optional<pid_t> ParsePid(std::string_view line) {
  if (line.empty() || line.size() > 10) return std::nullopt;
  long long v = 0;
  for (char c : line) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  if (v <= 0 || v > std::numeric_limits<pid_t>::max()) return std::nullopt;
  return static_cast<pid_t>(v);
}

// The state letter of /proc/<pid>/stat (after the command name in parentheses).
char ProcessState(pid_t pid) {
  const std::optional<std::string> stat = ReadTextFile("/proc/" + std::to_string(pid) + "/stat", 4096);
  if (!stat) return 0;
  const size_t close = stat->rfind(')');
  if (close == std::string::npos || close + 2 >= stat->size()) return 0;
  return (*stat)[close + 2];
}

}  // namespace

std::optional<std::time_t> ParseAutoRun(std::string_view text) {
  std::string_view rest = text;
  const std::string_view pieces[6] = {TakePiece(&rest, '/'), TakePiece(&rest, '/'), TakePiece(&rest, ','),
                                      TakePiece(&rest, ':'), TakePiece(&rest, ':'), rest};
  int v[6];
  for (int i = 0; i < 6; ++i) {
    const std::optional<int> n = LeadingInteger(pieces[i]);
    if (!n) return std::nullopt;
    v[i] = *n;
  }
  // Year 0 is what the batch engine takes for "not scheduled".
  if (v[0] == 0 || v[0] < std::numeric_limits<int>::min() + 1900) return std::nullopt;
  std::tm tm{};
  tm.tm_year = v[0] - 1900;
  tm.tm_mon = v[1] - 1;
  tm.tm_mday = v[2];
  tm.tm_hour = v[3];
  tm.tm_min = v[4];
  tm.tm_sec = v[5];
  tm.tm_isdst = -1;  // the date's own daylight-saving rule
  errno = 0;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1) && errno != 0) return std::nullopt;
  return t;
}

std::optional<std::string> ReadScheduleFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return std::nullopt;
  std::string line;
  int c;
  while (line.size() < kScheduleLineLimit && (c = std::fgetc(f)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::vector<std::string> ListScheduleFiles(const std::string& folder) {
  std::vector<std::string> names;
  DIR* d = ::opendir(folder.c_str());
  if (!d) return names;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (EndsWithNoCase(name, kScheduleExtension)) names.push_back(name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  std::vector<std::string> paths;
  for (const std::string& n : names) paths.push_back(JoinPath(folder, n));
  return paths;
}

bool ProcessRuns(pid_t pid) {
  if (pid <= 0) return false;
  int status = 0;
  const pid_t r = ::waitpid(pid, &status, WNOHANG);
  if (r == pid) return false;  // a child of ours that has ended, now collected
  if (r == 0) return true;     // a child of ours, running
  if (::kill(pid, 0) != 0 && errno == ESRCH) return false;
  const char state = ProcessState(pid);
  return state != 'Z' && state != 'X';
}

FlagState ReadFlag(const std::string& folder) {
  FlagState s;
  std::FILE* f = std::fopen(FlagPath(folder).c_str(), "r");
  if (!f) return s;
  s.present = true;
  std::string text;
  char buf[512];
  size_t n;
  while (text.size() < 8192 && (n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  std::fclose(f);
  std::string_view rest = text;
  std::string_view first = TakePiece(&rest, '\n');
  if (!first.empty() && first.back() == '\r') first.remove_suffix(1);
  s.pid = ParsePid(first);
  if (s.pid) {
    std::string_view second = TakePiece(&rest, '\n');
    if (!second.empty() && second.back() == '\r') second.remove_suffix(1);
    s.batch = std::string(second);
  }
  return s;
}

bool WriteFlag(const std::string& folder, pid_t pid, const std::string& batch, std::string* error) {
  return WriteFileAtomically(FlagPath(folder), std::to_string(pid) + "\n" + batch + "\n", error);
}

CheckResult CheckScheduledFolder(const std::string& folder, std::time_t now, ILauncher& launcher) {
  CheckResult result;
  const FlagState flag = ReadFlag(folder);
  if (flag.present) {
    if (!flag.pid) {
      result.outcome = CheckOutcome::HeldByFlag;
      result.flagPath = FlagPath(folder);
      return result;
    }
    if (ProcessRuns(*flag.pid)) {
      result.outcome = CheckOutcome::Running;
      result.pid = *flag.pid;
      result.batch = flag.batch;
      return result;
    }
    // The process that ran the batch has gone without ending it: its schedule file is
    // still there, so the batch runs again.
    ::unlink(FlagPath(folder).c_str());
    result.clearedFlagOf = *flag.pid;
  }

  std::string due;
  for (const std::string& sch : ListScheduleFiles(folder)) {
    const std::optional<std::string> batch = ReadScheduleFile(sch);
    if (!batch || batch->empty()) continue;
    const std::string autoRun = GetPrivateProfileString("General", "AutoRun", "", *batch, kAutoRunBuffer);
    if (autoRun.empty()) continue;
    const std::optional<std::time_t> at = ParseAutoRun(autoRun);
    if (!at || now < *at) continue;
    due = *batch;
    break;
  }
  if (due.empty()) return result;
  result.batch = due;

  // The flag is there before the program starts: a program that ends the batch at once
  // must find it to remove it.
  if (!WriteFlag(folder, ::getpid(), due, &result.detail)) {
    result.outcome = CheckOutcome::FlagUnwritable;
    return result;
  }
  const LaunchResult launched = launcher.Launch(due, [&](pid_t runner) { WriteFlag(folder, runner, due); });
  if (!launched.started) {
    ::unlink(FlagPath(folder).c_str());
    result.outcome = CheckOutcome::LaunchFailed;
    result.detail = launched.error;
    return result;
  }
  result.outcome = CheckOutcome::Started;
  result.pid = launched.pid;
  result.program = launched.program;
  return result;
}

std::string DescribeCheck(const CheckResult& r) {
  std::string cleared;
  if (r.clearedFlagOf) {
    cleared = "The flag of process " + std::to_string(*r.clearedFlagOf) +
              ", which ended before its batch did, was removed. ";
  }
  switch (r.outcome) {
    case CheckOutcome::NothingDue: return cleared;
    case CheckOutcome::Started:
      return cleared + "Started " + r.batch + " (" + r.program + ", process " + std::to_string(r.pid) + ")";
    case CheckOutcome::LaunchFailed:
      return cleared + "Unable to start " + r.batch + ": " + r.detail + "; trying again";
    case CheckOutcome::FlagUnwritable:
      return cleared + "Unable to write the flag for " + r.batch + ": " + r.detail + "; nothing started";
    case CheckOutcome::Running:
      return "Processing " + (r.batch.empty() ? std::string("a batch") : r.batch) + " (process " +
             std::to_string(r.pid) + ")";
    case CheckOutcome::HeldByFlag:
      return "Scheduled runs are held until " + r.flagPath + " is removed";
  }
  return {};
}

}  // namespace orb::scheduler
