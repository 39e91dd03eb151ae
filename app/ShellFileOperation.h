// Copy, move, delete or rename several files at once, with the semantics of the desktop's
// file operation: sources may end in a wildcard ("folder/*"), one destination folder takes
// every source, or one destination per source with FOF_MULTIDESTFILES. Used by the
// first-run set-up to copy the program folder's initial data into the data folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/Messages.h"

inline constexpr uint32_t FO_MOVE = 1;
inline constexpr uint32_t FO_COPY = 2;
inline constexpr uint32_t FO_DELETE = 3;
inline constexpr uint32_t FO_RENAME = 4;

inline constexpr uint16_t FOF_MULTIDESTFILES = 0x0001;
inline constexpr uint16_t FOF_SILENT = 0x0004;
inline constexpr uint16_t FOF_NOCONFIRMATION = 0x0010;
inline constexpr uint16_t FOF_NOCONFIRMMKDIR = 0x0200;
inline constexpr uint16_t FOF_NOERRORUI = 0x0400;

namespace orb {

// The file operation itself, over std::filesystem. Returns 0 on success, else the error
// number of the first failure (the operation stops there). Copies are written to a
// temporary file beside the target and renamed over it, so a failed copy never leaves a
// half-written file in place of the user's. Without FOF_NOCONFIRMATION an existing target
// is kept and *aborted is set (there is nobody to ask).
int RunFileOperation(uint32_t op, const std::vector<std::string>& sources,
                     const std::vector<std::string>& dests, uint16_t flags, bool* aborted);

}  // namespace orb

class CShellFileOperation {
 public:
  CShellFileOperation() { Reset(); }

  void Reset();
  bool AddSourceFile(const std::string& path);
  bool AddDestFile(const std::string& path);
  const std::vector<std::string>& GetSourceFiles() const { return m_sources; }
  const std::vector<std::string>& GetDestFiles() const { return m_dests; }

  void SetOperation(uint32_t op, orb::WindowHandle owner, uint16_t flags);
  void SetCopyOperation(orb::WindowHandle owner);
  void SetProgressTitle(const std::string& title) { m_title = title; }

  // True only when the operation ran and succeeded. `started` tells whether it was handed
  // to the file operation at all (false when refused), `result` its return code.
  bool Run(bool* started = nullptr, int* result = nullptr);
  bool AnyOperationsAborted() const { return m_aborted; }

  // The flags of the last run, as handed to the file operation.
  uint16_t LastRunFlags() const { return m_lastRunFlags; }
  bool Started() const { return m_started; }

 private:
  bool m_operationSet = false;
  bool m_started = false;
  std::vector<std::string> m_sources;
  std::vector<std::string> m_dests;
  uint32_t m_op = 0;
  orb::WindowHandle m_owner = nullptr;
  uint16_t m_flags = 0;
  uint16_t m_lastRunFlags = 0;
  bool m_aborted = false;
  std::string m_title;
};
