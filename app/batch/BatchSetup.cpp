#include "app/batch/BatchSetup.h"

#include <unistd.h>

#include <vector>

#include "app/Presets.h"
#include "platform/Files.h"
#include "platform/Ini.h"

namespace orb::batch {

bool WriteProcessingSectionsFromPreset(const std::string& batchPath, const presets::PresetStore& store,
                                       const std::string& preset) {
  std::vector<presets::PresetTool>& tools = presets::PresetTools();
  std::vector<std::vector<uint8_t>> saved;
  for (presets::PresetTool& t : tools) saved.push_back(t.save());
  for (presets::PresetTool& t : tools) {
    if (std::optional<std::vector<uint8_t>> bytes = ReadFileBytes(store.FilePath(preset, t.ext), 1 << 20)) {
      t.load(bytes->data(), bytes->size());
    }
  }
  const bool ok = WriteProcessingSections(batchPath, ToolRecordSet::Current());
  for (size_t i = 0; i < tools.size(); ++i) tools[i].load(saved[i].data(), saved[i].size());
  return ok;
}

BatchWorkingFile::BatchWorkingFile(const std::string& folder, const std::string& target) {
  path_ = MakeWorkingBatchFile(folder);
  if (path_.empty() || target.empty() || !FileExists(target)) return;
  editing_ = true;
  const std::optional<std::vector<uint8_t>> bytes = ReadFileBytes(target, 64u << 20);
  if (!bytes || !WriteFileAtomically(path_, *bytes)) {
    ::unlink(path_.c_str());
    path_.clear();
  }
}

BatchWorkingFile::~BatchWorkingFile() {
  if (!path_.empty()) ::unlink(path_.c_str());
}

bool BatchWorkingFile::Commit(const std::string& target, const Choices& c, const std::string& scheduleRoot,
                              const presets::PresetStore* store, std::string* error) {
  if (path_.empty()) {
    if (error) *error = "no working file";
    return false;
  }
  bool ok = WriteGeneral(path_, c.general);
  if (ok && !editing_) {
    ok = c.fromPreset && store ? WriteProcessingSectionsFromPreset(path_, *store, c.preset)
                               : WriteProcessingSections(path_, ToolRecordSet::Current());
  }
  const std::optional<std::vector<uint8_t>> bytes = ok ? ReadFileBytes(path_, 64u << 20) : std::nullopt;
  // Written beside the target and renamed over it: never removed first.
  if (!bytes || !WriteFileAtomically(target, *bytes, error)) return false;
  ::unlink(path_.c_str());
  path_.clear();
  if (c.general.automatic && c.general.scheduleBox) return WriteScheduleFile(scheduleRoot, target);
  return true;
}

}  // namespace orb::batch
