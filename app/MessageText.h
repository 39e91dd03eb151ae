// Filling the language module's printf-style message texts with their arguments, in order:
// a number for %d (and the other integer conversions), a text for %s. A missing argument
// prints nothing and a mismatched one is printed as what it is, so a module with a wrong
// text can never crash the program.
#pragma once

#include <string>
#include <vector>

#include "engine/EngineHost.h"

namespace orb {

std::string FormatMessageText(const std::string& format, const std::vector<MessageArg>& args);

}  // namespace orb
