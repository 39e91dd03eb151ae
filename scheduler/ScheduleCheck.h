// The scheduler's check, without a display: which scheduled batch file is due, whether a
// batch is being processed, and the start of the main program for the due one.
//
// The "Scheduled" folder holds one "<name>.sch" file per scheduled batch file (its path,
// the first line) and, while a scheduled batch runs, "processing.flg". The main program
// removes both when the batch ends; while the flag exists nothing else is started.
//
// The flag names the process that runs the batch (its first line, a process id; the batch
// path follows). A flag whose process has ended (the program crashed or was killed before
// the batch ended) is removed by the next check, so scheduled runs go on. A flag that names
// no process (empty, or made by hand) keeps holding every start until it is removed; the
// check reports it, so that the tray can say why nothing runs.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orb::scheduler {

inline constexpr const char* kFlagFile = "processing.flg";
inline constexpr const char* kScheduleExtension = ".sch";

// The run time of an "AutoRun" value "year/month/day,hour:minute:second" (as the batch
// file editor writes it with "%d/%d/%d,%d:%d:%d") in local time. Whether daylight saving
// applies is decided for that date itself, not for the moment of the check, so a run set
// in winter does not move by an hour when it is checked in summer. nullopt when one of the
// six parts has no number or the year is 0 (the batch engine takes such a batch file for
// an unscheduled one, so it would never remove its schedule files).
std::optional<std::time_t> ParseAutoRun(std::string_view text);

// The batch path a schedule file names: its first line; nullopt when it cannot be read.
std::optional<std::string> ReadScheduleFile(const std::string& path);

// The schedule files of the folder ("*.sch", the extension without regard to case), in
// name order.
std::vector<std::string> ListScheduleFiles(const std::string& folder);

// Whether a process still runs (a zombie does not; an ended child of ours is collected).
bool ProcessRuns(pid_t pid);

// What "processing.flg" says.
struct FlagState {
  bool present = false;        // it exists and can be opened for reading
  std::optional<pid_t> pid;    // the process it names, when it names one
  std::string batch;           // the batch path it names, when it names one
};
FlagState ReadFlag(const std::string& folder);
// Writes the flag naming `pid` and `batch` (written beside it and renamed into place).
bool WriteFlag(const std::string& folder, pid_t pid, const std::string& batch, std::string* error = nullptr);

// The start of the main program for a batch file.
struct LaunchResult {
  bool started = false;
  pid_t pid = 0;        // the process that runs the batch
  std::string program;  // the program started, or the running one the batch was handed to
  std::string error;    // why nothing was started
};
class ILauncher {
 public:
  virtual ~ILauncher() = default;
  // Starts the batch, without waiting for it. `claim` gets the process that will run it as
  // soon as that is known and before that process can have ended the batch (the flag is
  // rewritten there to name it).
  virtual LaunchResult Launch(const std::string& batchPath, const std::function<void(pid_t)>& claim) = 0;
};

enum class CheckOutcome {
  NothingDue,     // no schedule file is due
  Started,        // the due batch was started (`batch`, `pid`, `program`)
  LaunchFailed,   // the due batch could not be started; it is tried again next time (`detail`)
  FlagUnwritable, // the flag could not be written, so nothing was started (`detail`)
  Running,        // a batch is being processed by a running process (`pid`, `batch`)
  HeldByFlag,     // a flag naming no process holds every start (`flagPath`)
};

struct CheckResult {
  CheckOutcome outcome = CheckOutcome::NothingDue;
  std::string batch;
  pid_t pid = 0;
  std::string program;
  std::string detail;
  std::string flagPath;
  // A flag of a process that had ended was removed by this check.
  std::optional<pid_t> clearedFlagOf;
};

// One check of the folder at `now`: nothing while a batch is being processed; otherwise
// the first due schedule file (in name order) is started and the flag written. At most
// one batch is started a check.
CheckResult CheckScheduledFolder(const std::string& folder, std::time_t now, ILauncher& launcher);

// One line saying what a check found, for the tray's tip and the program's output; empty
// when there is nothing to say (nothing due).
std::string DescribeCheck(const CheckResult& r);

}  // namespace orb::scheduler
