#include "app/Startup.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "app/ShellFileOperation.h"
#include "engine/ScanLog.h"
#include "engine/Settings.h"
#include "platform/Folders.h"
#include "platform/TempNames.h"

namespace orb {

bool NeedsFirstRunCopy(const std::string& dataFolder) {
  std::error_code ec;
  return !std::filesystem::exists(JoinPath(dataFolder, kMiscDataFile), ec);
}

int CopyInitialData(const std::string& programFolder, const std::string& dataFolder) {
  std::string source = JoinPath(programFolder, kInitialDataFolder);
  std::error_code ec;
  if (!std::filesystem::is_directory(source, ec)) return 0;
  CShellFileOperation op;
  op.AddSourceFile(JoinPath(source, "*"));
  op.AddDestFile(dataFolder + "/");
  op.SetCopyOperation(nullptr);
  int result = 0;
  op.Run(nullptr, &result);
  return result;
}

namespace {
bool ExistsButUnreadable(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return false;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  ::close(fd);
  return std::filesystem::is_directory(path, ec);
}
}  // namespace

SettingsSaveRule CheckSettingsReadable(const std::string& dataFolder) {
  SettingsSaveRule r;
  r.scanData = !ExistsButUnreadable(JoinPath(dataFolder, kScanDataFile));
  r.miscData = !ExistsButUnreadable(JoinPath(dataFolder, kMiscDataFile));
  r.scanLogTotals = !ExistsButUnreadable(JoinPath(dataFolder, kScanLogTotalsFile));
  return r;
}

int RemoveStaleTemporaries() {
  std::set<std::string> folders;
  const auto add = [&](const std::string& folder) {
    if (!folder.empty()) folders.insert(folder);
  };
  const auto parentOf = [](const std::string& path) { return std::filesystem::path(path).parent_path().string(); };
  add(g_szDataFolder);
  add(TextField(MiscSettings.WorkingFolder));
  add(JoinPath(g_szUserFolder, "images"));
  add(parentOf(TextField(ScanSettings.OutputFileName)));
  add(parentOf(TextField(MiscSettings.LastSaveAsPath)));
  const std::string open = TextField(MiscSettings.OpenFolder);
  std::error_code ec;
  add(std::filesystem::is_directory(open, ec) ? open : parentOf(open));
  int removed = 0;
  for (const std::string& folder : folders) removed += RemoveStaleTempFiles(folder);
  return removed;
}

SettingsSaveRule LoadAllSettings(const std::string& dataFolder) {
  SettingsSaveRule rule = CheckSettingsReadable(dataFolder);
  LoadScanData();
  LoadMiscData();
  LoadScanLogTotals();
  return rule;
}

bool SaveAllSettings(const std::string& dataFolder, const SettingsSaveRule& rule) {
  if (!EnsureFolder(dataFolder)) return false;
  bool ok = true;
  if (rule.scanData) ok = SaveScanData() == SettingsWrite::Written && ok;
  if (rule.miscData) ok = SaveMiscData() == SettingsWrite::Written && ok;
  if (rule.scanLogTotals) ok = SaveScanLogTotals() == SettingsWrite::Written && ok;
  return ok;
}

}  // namespace orb
