// The batch commands of the main frame and the application: the batch-run message (one
// file per message), process files, new and open batch file, start the scheduler and the
// step to the next batch file, which also ends a scheduled run. Thin over app/batch/.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/batch/BatchEngine.h"
#include "app/batch/BatchRun.h"

class wxFrame;
class wxDocManager;

namespace orb::gui {

// Command numbers (menu ids through res::WxCommandId).
inline constexpr int kCmdProcessFiles = 40005;
inline constexpr int kCmdNewBatchFile = 40007;
inline constexpr int kCmdOpenBatchFile = 40009;
inline constexpr int kCmdStartScheduler = 40010;
inline constexpr int kCmdBatchNext = 32872;

// Strings of the batch commands.
inline constexpr int kStrHoldQuestion = 33091;
inline constexpr int kStrProcessFilesTitle = 36400;
inline constexpr int kStrProcessFilesFilter = 36401;
inline constexpr int kStrOpenBatchTitle = 36402;
inline constexpr int kStrBatchFilter = 36403;
inline constexpr int kStrProcessingFile = 36404;  // "%s"
inline constexpr int kStrHoldSave = 36405;
inline constexpr int kStrHoldDiscard = 36406;
inline constexpr int kStrHoldCaption = 36407;
inline constexpr int kStrProcessFilesFailed = 36408;
inline constexpr int kStrHoldSaveFailed = 36409;  // "%s"

class BatchCommands {
 public:
  BatchCommands(wxFrame* frame, wxDocManager* docs);
  ~BatchCommands();
  BatchCommands(const BatchCommands&) = delete;
  BatchCommands& operator=(const BatchCommands&) = delete;

  // The handler of WM_RUN_BATCH_FILE: the next file of the running batch file.
  void OnRunBatchFile();
  // The step to the next batch file of the list (or the end of the run).
  void BatchNext();
  // The process-files command after its dialog and question.
  void ProcessFiles(const std::vector<std::string>& chosen, bool hold);
  // Starts the scheduler program beside this one, without waiting; nothing is said when it
  // is missing.
  void StartScheduler();

  // A batch file handed to this running program (by the scheduler, or by a second start
  // of the program with a batch file): run as soon as the program is free (no batch
  // running, no scan, nothing being opened, no dialog open), one at a time, in the order
  // they came; one already waiting or running is not taken twice. A scheduled one removes
  // its schedule files when it ends, but this program, which the user may be using, goes
  // on.
  void RunHandedOver(const std::string& batchFile);
  // What else must hold for a handed-over batch to start (the application: no dialog
  // open and the main loop at rest).
  void SetStartCheck(std::function<bool()> check) { startCheck_ = std::move(check); }
  const std::vector<std::string>& HandedOverWaiting() const { return handedOver_; }

  // Hold mode: the inspected document's two answers.
  void SaveHeld();
  void DiscardHeld();
  bool Holding() const { return held_ != nullptr; }

  const batch::BatchRun& Run() const { return run_; }

 private:
  void OnCommand(int command);
  void ProcessFilesCommand();
  void OpenBatchFileCommand();
  void PostNext();
  void Hold(const std::string& source);
  void CloseHeld(bool save);
  void RefreshScanPage();
  bool FreeForHandedOver() const;
  void StartHandedOver();

  wxFrame* frame_;
  wxDocManager* docs_;
  batch::BatchRun run_;
  bool scheduled_ = false;
  class HoldBar;
  HoldBar* bar_ = nullptr;
  void* held_ = nullptr;  // the held document
  std::vector<std::string> handedOver_;  // waiting to run
  bool runningHandedOver_ = false;
  std::function<bool()> startCheck_;
  class RetryTimer;
  std::unique_ptr<RetryTimer> retry_;
};

// The frame's batch commands (null before the frame installs them).
BatchCommands* InstallBatchCommands(wxFrame* frame, wxDocManager* docs);
void RemoveBatchCommands();
BatchCommands* GetBatchCommands();

}  // namespace orb::gui
