// Small POSIX file helpers of the line streams and the output writers: whole reads and
// writes at 64-bit offsets that survive interrupted and partial calls, and the
// write-beside-then-rename way of creating a user's file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orb::rw {

// Reads up to `n` bytes at `offset`, repeating partial reads until `n` bytes or the end of
// the file. Returns the bytes read, or -1 on an error (errno kept).
int64_t ReadAt(int fd, void* buf, size_t n, uint64_t offset);
// Writes all `n` bytes at `offset`. False on an error (a full disk included).
bool WriteAt(int fd, const void* buf, size_t n, uint64_t offset);
// Writes all `n` bytes at the current position. False on an error.
bool WriteAll(int fd, const void* buf, size_t n);
// Size of the open file, or -1.
int64_t FileSize(int fd);

// Creates a new empty file with a unique name beside `target` (same folder, so that the
// final rename stays on one file system), mode 0666 under the umask. Returns the
// descriptor (and the name in `tempPath`), or -1.
int CreateBeside(const std::string& target, std::string* tempPath);
// Renames `tempPath` over `target`. False (and `tempPath` removed) on failure.
bool CommitBeside(const std::string& tempPath, const std::string& target);

// Creates a unique empty file "Qel??????<suffix>" in `folder` (mode 0666 under the umask)
// and returns its path, or an empty text on failure.
std::string CreateUniqueFile(const std::string& folder, const std::string& suffix);

// The text of errno, for error reports.
std::string ErrnoText(int err);

}  // namespace orb::rw
