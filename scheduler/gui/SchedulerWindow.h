// The scheduler's window (hidden; shown from the tray icon), its tray icon and the timer
// that checks the "Scheduled" folder every 2000 ms. Thin over scheduler/ScheduleCheck.h.
#pragma once

#include <wx/frame.h>
#include <wx/taskbar.h>
#include <wx/timer.h>

#include <memory>
#include <string>

#include "scheduler/ProgramLauncher.h"

namespace orb::scheduler {

inline constexpr const char* kTitle = "Varnholt Batch Scheduler";
inline constexpr const char* kExitQuestion = "Are you sure you want to exit the scheduler?";
inline constexpr const char* kExitCaption = "Qel Batch Scheduler";
inline constexpr const char* kAboutText = "Varnholt Batch Scheduler Version 1.0";
inline constexpr int kCheckIntervalMs = 2000;
inline constexpr int kCmdAbout = 104;
inline constexpr int kCmdExit = 105;

class SchedulerWindow : public wxFrame {
 public:
  SchedulerWindow(std::string scheduledFolder, std::string programFolder, std::string instanceSocket);
  ~SchedulerWindow() override;

  // One check of the folder now (the timer's work).
  void Check();
  // What the tray icon's tip says.
  const wxString& Tip() const { return tip_; }
  bool HasTrayIcon() const { return tray_ != nullptr; }

 private:
  class TrayIcon;
  void OnClose(wxCloseEvent& e);
  void OnIconize(wxIconizeEvent& e);
  void ShowAbout();
  void RestoreFromTray();
  void SetStatusLine(const std::string& line);

  std::string folder_;
  ProgramLauncher launcher_;
  wxTimer timer_;
  std::unique_ptr<TrayIcon> tray_;
  wxString tip_;
  std::string lastLine_;
};

// The program's icon, drawn (a clock over a page).
wxIcon SchedulerIcon(int size);

}  // namespace orb::scheduler
