// The run of batch files, display-free: the list that the process-files command makes,
// the step from one batch file to the next, the file counter of the running batch, and the
// end of a scheduled run. The frame and the application call it; it tells them what to do.
#pragma once

#include <string>
#include <vector>

namespace orb::batch {

// What the process-files command does with a selection: batch files run as they are;
// image files go into one temporary batch file run after them. A mixed selection never
// runs an image file as a batch file (nor a batch file as an image).
struct ProcessFilesPlan {
  std::vector<std::string> batchFiles;
  std::vector<std::string> images;
};
ProcessFilesPlan PlanProcessFiles(const std::vector<std::string>& chosen);
// A ".bch" name, without regard to case.
bool IsBatchPath(const std::string& path);

// Writes the process-files command's temporary batch file: [Files] with the images, then
// [General] ("HoldForQC" "1" with "CreateLog" "0" when holding, else "0" and "1"; never
// deleting) and the processing sections of the enabled tools. Empty when it cannot be made.
std::string MakeProcessFilesBatch(const std::string& folder, const std::vector<std::string>& images, bool hold);

// What the application does after one batch file ended (or to start a list).
enum class NextAction {
  Start,          // run `batchFile` (batch mode on, file counter at -1)
  Idle,           // the run is over: back to normal use
  QuitScheduled,  // a scheduled batch ended: its schedule files are gone; quit
};

class BatchRun {
 public:
  // A list of batch files to run one after the other (`temporary` names files made for
  // the run, removed when it ends).
  void SetList(std::vector<std::string> batchFiles, std::vector<std::string> temporary = {});
  // The command line's batch file.
  void StartSingle(const std::string& batchFile);

  // The step to the next batch file. `scheduledRoot` is the folder holding "Scheduled";
  // `scheduled` whether the batch that just ended carried a run date.
  NextAction Next(const std::string& scheduledRoot, bool scheduled);

  bool Active() const { return active_; }
  const std::string& Current() const { return current_; }
  // The next index of [Files] to take ("File%d"): -1 before the first message.
  int TakeNextIndex() { return ++counter_; }
  int Counter() const { return counter_; }

 private:
  std::vector<std::string> list_;
  std::vector<std::string> temporary_;
  size_t next_ = 0;
  std::string current_;
  bool active_ = false;
  int counter_ = -1;
};

}  // namespace orb::batch
