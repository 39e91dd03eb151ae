// The two small dialogs of batch work: the wait for paper between the pages of a batch
// scan, and the removal of image files from a batch file.
#pragma once

#include <wx/dialog.h>
#include <wx/timer.h>

#include <functional>
#include <string>

#include "app/ScanDecision.h"

class wxListBox;

namespace orb::gui {

inline constexpr int kStrWaitCaption = 36410;
inline constexpr int kStrWaitText = 36411;
inline constexpr int kStrWaitStop = 36412;
inline constexpr int kStrRemoveCaption = 36413;
inline constexpr int kStrRemoveText = 36414;

// Waits until paper lies in the scanner (asked every 100 ms), then ends by itself with
// Paper. Stop ends with Stop, Cancel with Cancelled. Opened with paper present it ends at
// once, unseen.
class CDlgBatchModeWait : public wxDialog {
 public:
  static constexpr int kStopButton = 1292;
  CDlgBatchModeWait(wxWindow* parent, std::function<bool()> isPaperPresent);
  // The dialog's answer.
  orb::BatchWaitResult Run();
  int ShowModal() override;

 private:
  void OnTimer(wxTimerEvent&);
  std::function<bool()> paper_;
  wxTimer timer_;
};

// Lists [Files] of a batch file; OK writes back the entries not selected (numbered again
// from File0), Cancel writes nothing.
class CDeleteFilesFromBatchDlg : public wxDialog {
 public:
  CDeleteFilesFromBatchDlg(wxWindow* parent, const std::string& batchPath);
  wxListBox* List() const { return list_; }
  // What OK does (also called by tests).
  bool ApplyRemoval();

 private:
  std::string path_;
  wxListBox* list_;
};

}  // namespace orb::gui
