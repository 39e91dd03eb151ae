// The tooltip rule of every page and dialog: a control's tip is the language module's
// string whose id is the control's id; the tooltip mode picks none, the first line or the
// whole text; a control without a text gets the general tip (string 33008).
#pragma once

#include <functional>
#include <string>

namespace orb {

enum class ToolTipMode : int { Off = 0, FirstLine = 1, Whole = 2 };

inline constexpr int kToolTipFallbackId = 33008;
inline constexpr int kToolTipMaxWidth = 32767;   // pixels
inline constexpr int kToolTipShowMs = 32767;     // how long a tip stays

// The tip text of control `controlId`, or empty when no tip is shown (mode off, control id
// 0 or not a real control). `lookup` returns the module's string, empty when missing.
// Any mode other than 1 or 2 counts as off.
std::string ToolTipText(int mode, int controlId, const std::function<std::string(int)>& lookup);

}  // namespace orb
