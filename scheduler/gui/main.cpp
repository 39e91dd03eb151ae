// Plovis: the batch scheduler. One copy a user; it keeps an eye on the "Scheduled" folder
// of the main program's data folder and starts the main program (the one beside it) for a
// scheduled batch file that falls due.
#include <wx/app.h>
#include <wx/snglinst.h>

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/Folders.h"
#include "platform/InstanceChannel.h"
#include "scheduler/gui/SchedulerWindow.h"

namespace {

// The single-instance name of the scheduler, per user.
std::string SchedulerInstanceName() {
  return "plovis-{{09291644-43C3-4926-A350-107C83092CB6}}-" + std::to_string(::getuid());
}

class PlovisApp : public wxApp {
 public:
  bool OnInit() override {
    SetAppName("plovis");
    const std::string name = SchedulerInstanceName();
    std::string lockDir = orb::InstanceSocketPath(name);
    lockDir = lockDir.substr(0, lockDir.rfind('/'));
    instance_ = std::make_unique<wxSingleInstanceChecker>();
    if (!instance_->Create(wxString::FromUTF8(name + ".lock"), wxString::FromUTF8(lockDir))) {
      std::fprintf(stderr, "plovis: unable to check for a running copy\n");
      return false;
    }
    if (instance_->IsAnotherRunning()) {
      exitAtOnce_ = true;  // one scheduler at a time; this one ends silently
      return true;
    }
    const std::string programFolder = orb::ProgramFolderPath();
    if (programFolder.empty()) {
      std::fprintf(stderr, "plovis: unable to find the program folder\n");
      return false;
    }
    const std::string scheduled = orb::JoinPath(orb::DataFolderPath(), "Scheduled");
    auto* window = new orb::scheduler::SchedulerWindow(
        scheduled, programFolder, orb::InstanceSocketPath(orb::SingleInstanceName()));
    SetTopWindow(window);
    // The window stays hidden; the tray icon shows it.
    SetExitOnFrameDelete(true);
    std::fprintf(stderr, "plovis: checking %s every %d ms\n", scheduled.c_str(), orb::scheduler::kCheckIntervalMs);
    std::fflush(stderr);
    return true;
  }
  int OnRun() override { return exitAtOnce_ ? 0 : wxApp::OnRun(); }

 private:
  std::unique_ptr<wxSingleInstanceChecker> instance_;
  bool exitAtOnce_ = false;
};

}  // namespace

wxIMPLEMENT_APP(PlovisApp);
