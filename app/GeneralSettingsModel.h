// The rules of the general settings page, without a display: which radio button shows a
// stored tooltip mode or length unit, what a typed working folder calls for, which
// language modules the page offers, and when the display option may change.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orb::general {

// Controls of the page.
inline constexpr int kTooltipNone = 1113;
inline constexpr int kTooltipFirstLine = 1114;
inline constexpr int kTooltipWhole = 1115;
inline constexpr int kUnitInch = 1140;
inline constexpr int kUnitCm = 1141;
inline constexpr int kWorkFolder = 1171;
inline constexpr int kBrowse = 1019;
inline constexpr int kLanguage = 1202;
inline constexpr int kDisplayOption = 1430;
inline constexpr int kScanLog = 1431;

// The radio button that shows a stored value; 0 (none checked) for values without one.
int TooltipRadioFor(int32_t mode);
int UnitRadioFor(int32_t unit);
// The stored value for the checked radio button; nullopt when none of the group is checked.
std::optional<int32_t> TooltipModeFor(bool none, bool firstLine, bool whole);
std::optional<int32_t> UnitFor(bool inch, bool cm);

// What applying a typed working folder calls for.
enum class FolderCheck {
  Accept,        // an existing, usable folder: it becomes the working folder
  AskCreate,     // missing: ask (33023) whether to create it
  NotPlain,      // exists but is no folder, or one the program cannot write into (33025)
  TooLong,       // longer than the setting holds
  Empty,         // nothing typed: the old folder comes back
};
FolderCheck CheckWorkFolder(const std::string& path);
// Creates the one missing level of a folder; false when it cannot.
bool CreateWorkFolder(const std::string& path);

// One entry of the language list: the module's own name for its language and its number.
struct LanguageEntry {
  std::string name;
  int id = 0;
  std::filesystem::path file;
};
// Reads string 33076 of a module file; nullopt when the file is no module or lacks it.
using LanguageNameReader = std::function<std::optional<std::string>(const std::filesystem::path&)>;
LanguageNameReader ModuleLanguageName();
// The modules "Lang<number>*.xrs" of the program folder that name their language, sorted by
// file name. The number is the decimal digits after "Lang" (a name without them is skipped).
std::vector<LanguageEntry> ListLanguages(const std::filesystem::path& programFolder,
                                         const LanguageNameReader& read = ModuleLanguageName());
// The entry to select for the stored language id; -1 when none has it.
int LanguageIndex(const std::vector<LanguageEntry>& list, uint16_t storedId);

// The display option may not change while a scan runs or the program is busy or
// redrawing its view.
bool DisplayOptionMayChange(uint32_t appStatus);

}  // namespace orb::general
