// Outside programs the program starts: the batch scheduler (not waited for), the image
// editor and the indexing program of the outside-tool pages (waited for while the
// program's own messages keep being handled, so a program that never ends freezes no
// window). Started with posix_spawn, each argument one word: no shell sees them.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace orb::tools {

// Starts `program` with `args` (args[0] is the name the program sees as its own).
// -1 when it cannot be started.
pid_t StartProgram(const std::string& program, const std::vector<std::string>& args);
// Starts it and lets it run on its own; its end is collected in the background.
bool StartDetached(const std::string& program, const std::vector<std::string>& args);

enum class WaitEnd { Exited, Stopped, NotStarted };
// Waits for the program to end, calling `pump` between looks (every `pollMs`); the wait
// stops early (the program runs on) when `pump` returns false.
WaitEnd WaitForProgram(pid_t pid, const std::function<bool()>& pump, int pollMs = 20, int* exitCode = nullptr);

// The command lines of the outside-tool pages.
// Editor: its own file name, then the image path as one argument (none without an image).
std::vector<std::string> EditorArguments(const std::string& program, const std::string& image);
// Indexer: its file name, "/single", "/<project>", "/<image>" (its file name alone without an image).
std::vector<std::string> IndexerArguments(const std::string& program, const std::string& project,
                                          const std::string& image);
// A program path that is empty or begins with a blank counts as not set.
bool IsProgramSet(const std::string& program);

}  // namespace orb::tools
