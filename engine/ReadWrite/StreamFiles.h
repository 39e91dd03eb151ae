// Small POSIX file helpers of the line streams and the output writers: whole reads and
// writes at 64-bit offsets that survive interrupted and partial calls, and the
// write-beside-then-rename way of creating a user's file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Files.h"

namespace orb::rw {

// Whole reads and writes at 64-bit offsets (platform/Files.h).
using orb::ReadAt;
using orb::WriteAt;
using orb::WriteAll;
// Size of the open file, or -1.
int64_t FileSize(int fd);

// Creates a new empty file with a unique name beside `target` (same folder, so that the
// final rename stays on one file system), mode 0666 under the umask. Returns the
// descriptor (and the name in `tempPath`), or -1.
int CreateBeside(const std::string& target, std::string* tempPath);
// Flushes `tempPath` to the disk and renames it over `target` (ReplaceWithFlushedFile).
// False (and `tempPath` removed) on failure.
bool CommitBeside(const std::string& tempPath, const std::string& target);

// Creates a unique empty file "Qel??????<suffix>" in `folder` (mode 0666 under the umask)
// and returns its path, or an empty text on failure.
std::string CreateUniqueFile(const std::string& folder, const std::string& suffix);

// The text of errno, for error reports.
std::string ErrnoText(int err);

}  // namespace orb::rw
