#include "app/batch/BatchRun.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "app/batch/BatchFile.h"

namespace orb::batch {

bool IsBatchPath(const std::string& path) {
  if (path.size() < 4) return false;
  std::string ext = path.substr(path.size() - 4);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == ".bch";
}

ProcessFilesPlan PlanProcessFiles(const std::vector<std::string>& chosen) {
  ProcessFilesPlan plan;
  for (const std::string& p : chosen) {
    if (p.empty()) continue;
    (IsBatchPath(p) ? plan.batchFiles : plan.images).push_back(p);
  }
  return plan;
}

std::string MakeProcessFilesBatch(const std::string& folder, const std::vector<std::string>& images, bool hold) {
  const std::string path = MakeWorkingBatchFile(folder);
  if (path.empty()) return {};
  EditorGeneral g;
  g.automatic = !hold;
  g.log = !hold;
  if (!WriteFileList(path, images) || !WriteGeneral(path, g) ||
      !WriteProcessingSections(path, ToolRecordSet::Current())) {
    ::unlink(path.c_str());
    return {};
  }
  return path;
}

void BatchRun::SetList(std::vector<std::string> batchFiles, std::vector<std::string> temporary) {
  list_ = std::move(batchFiles);
  temporary_ = std::move(temporary);
  next_ = 0;
  current_.clear();
}

void BatchRun::StartSingle(const std::string& batchFile) { SetList({batchFile}); }

NextAction BatchRun::Next(const std::string& scheduledRoot, bool scheduled) {
  const std::string ended = current_;
  active_ = false;
  if (next_ < list_.size()) {
    current_ = list_[next_++];
    active_ = true;
    counter_ = -1;
    return NextAction::Start;
  }
  for (const std::string& t : temporary_) ::unlink(t.c_str());
  list_.clear();
  temporary_.clear();
  next_ = 0;
  current_.clear();
  if (scheduled && !ended.empty()) {
    EndScheduledRun(scheduledRoot, ended);
    return NextAction::QuitScheduled;
  }
  return NextAction::Idle;
}

}  // namespace orb::batch
