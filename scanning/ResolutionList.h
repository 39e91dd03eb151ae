// The resolutions the identified scanner offers, as the scan output page lists them: entry 0 is
// the custom entry (a copy of the settings' resolution text), the model's entries follow, and
// the list ends at its first empty entry. Written by identification, read by the scan start and
// the settings pages.
#pragma once

#include <string>
#include <vector>

namespace orb {
inline constexpr size_t kResolutionEntryChars = 20;
// The process-wide list.
std::vector<std::string>& ResolutionList();
}  // namespace orb
