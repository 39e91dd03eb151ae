// Temporary files carry the id of the process that made them ("~orb<pid>~" in the name):
// a save or scan killed half-way leaves its "*.part", its raw "Qel..." file or its settings
// ".tmp" behind, and the next start removes those whose process no longer runs, without
// touching another running copy's files or anything the user named.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>

namespace orb {

// "~orb<pid>~" of this process.
std::string OwnerMark();
// The process id in a temporary name made with OwnerMark: "<name>.part~orb<pid>~...",
// "Qel~orb<pid>~..." or ".<name>~orb<pid>~..."; 0 for any other name.
pid_t OwnerOfTempName(std::string_view fileName);
// Removes the regular files of this user in `folder` (not below it) whose name is such a
// temporary name of a process that no longer runs. Returns how many were removed.
int RemoveStaleTempFiles(const std::string& folder);

}  // namespace orb
