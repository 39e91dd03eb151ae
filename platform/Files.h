// Files as the program creates, replaces and reads them.
//
// Every file the program makes may be read and written by every user the umask allows:
// it is created with mode 0666 and the process umask takes away what the user wants
// taken away (never world-writable on an ordinary 022 umask). A stored file is replaced
// by writing a temporary file beside it, flushing it to disk and renaming it over the
// target, so a crash or a full disk never leaves a truncated settings or user file and
// the old file stays until the new one is complete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The attributes every file creation of the program is made with. Created right before
// a file is made and freed right after it.
struct SharedSecurityAttributes {
  unsigned mode = 0666;  // permission bits before the umask
};

// A new attributes object for one file creation; never null here (nothing can fail).
SharedSecurityAttributes* CreateSharedSecurityAttributes();
// Frees what CreateSharedSecurityAttributes returned; null is allowed.
void FreeSharedSecurityAttributes(SharedSecurityAttributes* attributes);

namespace orb {

// The permission bits a new file gets before the umask.
inline constexpr unsigned kSharedFileMode = 0666;

// open(2) with O_CLOEXEC and the shared creation mode (or `attributes->mode`).
// Returns the descriptor or -1 with errno set.
int OpenSharedFile(const std::string& path, int flags,
                   const SharedSecurityAttributes* attributes = nullptr);

// Replaces (or creates) `path` with `size` bytes: a temporary file in the same folder,
// written in full, flushed, then renamed over the target. An existing target keeps its
// permission bits; a new one gets 0666 under the umask. On any failure (full disk,
// read-only folder, missing folder) the target is untouched, no temporary file is left
// behind, false is returned and `error` (when given) says why.
bool WriteFileAtomically(const std::string& path, const void* data, size_t size,
                         std::string* error = nullptr);
inline bool WriteFileAtomically(const std::string& path, std::string_view bytes,
                                std::string* error = nullptr) {
  return WriteFileAtomically(path, bytes.data(), bytes.size(), error);
}
inline bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                                std::string* error = nullptr) {
  return WriteFileAtomically(path, bytes.data(), bytes.size(), error);
}

// Puts a finished file in place of another: flushes `temp` to the disk, renames it over
// `target` and flushes the folder, so that a crash at any moment leaves the old file or the
// whole new one under the name, never an empty or partly written one. False (errno set)
// when the flush or the rename failed; `temp` is then still there, the caller's to remove.
bool ReplaceWithFlushedFile(const std::string& temp, const std::string& target);

// Reads at most `limit` bytes from the start of a file. nullopt when it cannot be
// opened or read (a missing file included).
std::optional<std::vector<uint8_t>> ReadFileBytes(const std::string& path,
                                                  size_t limit = SIZE_MAX);
// The whole file as text; nullopt when it cannot be read.
std::optional<std::string> ReadTextFile(const std::string& path, size_t limit = SIZE_MAX);

// Appends bytes at the end of a file (created when missing), in one write where the
// system allows. False when it cannot be opened or written completely.
bool AppendToFile(const std::string& path, std::string_view bytes, std::string* error = nullptr);

// Bytes available to the caller on the file system that holds `path`. A path that does
// not exist yet (an output file about to be written) is measured at its nearest existing
// parent folder. nullopt when the file system cannot be queried.
std::optional<uint64_t> AvailableDiskBytes(const std::string& path);

// Whole reads and writes on an open descriptor that survive interrupted and partial calls.
// ReadAt reads up to `n` bytes at `offset` (fewer only at the end of the file) and returns
// the count, or -1 on an error (errno kept). WriteAt and WriteAll write all `n` bytes (at
// `offset`, or at the current position); false on an error, a full disk included.
int64_t ReadAt(int fd, void* buf, size_t n, uint64_t offset);
bool WriteAt(int fd, const void* buf, size_t n, uint64_t offset);
bool WriteAll(int fd, const void* buf, size_t n);

bool FileExists(const std::string& path);
bool IsDirectory(const std::string& path);
// Size of a file in bytes, nullopt when it does not exist or cannot be examined.
std::optional<uint64_t> FileSize(const std::string& path);

}  // namespace orb
