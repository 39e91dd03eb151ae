#include "app/GeneralSettingsModel.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "common/LanguageModule.h"
#include "engine/AppStatus.h"
#include "engine/Settings.h"

namespace orb::general {

namespace {
// String of a module that names its own language.
constexpr int kLanguageNameString = 33076;
// A primary language id has ten bits.
constexpr int kLargestLanguageId = 0x3FF;
}  // namespace

int TooltipRadioFor(int32_t mode) {
  switch (mode) {
    case 0: return kTooltipNone;
    case 1: return kTooltipFirstLine;
    case 2: return kTooltipWhole;
    default: return 0;
  }
}

int UnitRadioFor(int32_t unit) {
  switch (unit) {
    case 0: return kUnitInch;
    case 1: return kUnitCm;
    default: return 0;
  }
}

std::optional<int32_t> TooltipModeFor(bool none, bool firstLine, bool whole) {
  if (none) return 0;
  if (firstLine) return 1;
  if (whole) return 2;
  return std::nullopt;
}

std::optional<int32_t> UnitFor(bool inch, bool cm) {
  if (inch) return 0;
  if (cm) return 1;
  return std::nullopt;
}

FolderCheck CheckWorkFolder(const std::string& path) {
  if (path.empty()) return FolderCheck::Empty;
  if (path.size() >= kPathField) return FolderCheck::TooLong;
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? FolderCheck::AskCreate : FolderCheck::NotPlain;
  // Temporary images are made there: a folder the program cannot write into is refused
  // as a read-only folder is.
  if (!S_ISDIR(st.st_mode) || ::access(path.c_str(), W_OK | X_OK) != 0) return FolderCheck::NotPlain;
  return FolderCheck::Accept;
}

bool CreateWorkFolder(const std::string& path) {
  if (path.empty() || path.size() >= kPathField) return false;
  return ::mkdir(path.c_str(), 0777) == 0;
}

LanguageNameReader ModuleLanguageName() {
  return [](const std::filesystem::path& file) -> std::optional<std::string> {
    std::string error;
    auto module = LanguageModule::Load(file, &error);
    if (!module || !module->HasString(kLanguageNameString)) return std::nullopt;
    std::string name = module->String(kLanguageNameString);
    if (name.size() > 64) name.resize(64);
    return name;
  };
}

std::vector<LanguageEntry> ListLanguages(const std::filesystem::path& programFolder, const LanguageNameReader& read) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(programFolder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() < 8 || name.compare(0, 4, "Lang") != 0 || name.compare(name.size() - 4, 4, ".xrs") != 0)
      continue;
    std::error_code fe;
    if (it->is_regular_file(fe)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  std::vector<LanguageEntry> list;
  for (const auto& file : files) {
    const std::string name = file.filename().string();
    int id = 0;
    size_t i = 4;
    for (; i < name.size() && name[i] >= '0' && name[i] <= '9' && id <= kLargestLanguageId; ++i)
      id = id * 10 + (name[i] - '0');
    if (i == 4 || id == 0 || id > kLargestLanguageId) continue;
    if (auto language = read(file)) list.push_back({*language, id, file});
  }
  return list;
}

int LanguageIndex(const std::vector<LanguageEntry>& list, uint16_t storedId) {
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].id == storedId) return static_cast<int>(i);
  return -1;
}

bool DisplayOptionMayChange(uint32_t appStatus) {
  return ScanStateOf(appStatus) != ScanState::Scanning && !HasStatus(appStatus, StatusBit::Busy);
}

}  // namespace orb::general
