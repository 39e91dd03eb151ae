// The start of the main program for a due batch: handed over to a main program that runs
// already (it would only raise itself if started again, and the batch would be lost), or
// started from the scheduler's own folder without waiting, with the batch file's path as
// its only argument.
#pragma once

#include <string>
#include <vector>

#include "scheduler/ScheduleCheck.h"

namespace orb::scheduler {

class ProgramLauncher : public ILauncher {
 public:
  // `programFolder`: where the main program is looked for; `instanceSocket`: where a
  // running main program listens (empty: never hand over).
  ProgramLauncher(std::string programFolder, std::string instanceSocket);

  LaunchResult Launch(const std::string& batchPath, const std::function<void(pid_t)>& claim) override;

  // The main program's names, tried in this order.
  static const std::vector<std::string>& ProgramNames();
  // The request that hands a batch file to the running main program.
  static std::string HandOverRequest(const std::string& batchPath);

 private:
  std::string programFolder_;
  std::string instanceSocket_;
};

// Collects every ended child of this process (the started programs), so that none is
// left as a zombie.
void CollectEndedChildren();

}  // namespace orb::scheduler
