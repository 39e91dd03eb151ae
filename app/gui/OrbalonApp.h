// The application object: start-up (single instance, folders, first-run copy, settings,
// language module, recent files, document template, command line, main frame) and the
// saving of the settings when the program ends.
#pragma once

#include <wx/app.h>
#include <wx/docview.h>
#include <wx/snglinst.h>
#include <wx/timer.h>
#include <wx/weakref.h>
#include <wx/window.h>

#include <memory>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "platform/InstanceChannel.h"
#include "app/Startup.h"

class CMainFrame;
class wxFileConfig;
namespace orb::gui {
class ModalDialogs;
}

class COrbalonApp : public wxApp {
 public:
  COrbalonApp();
  ~COrbalonApp() override;
  bool OnInit() override;
  int OnRun() override;
  int OnExit() override;
  int FilterEvent(wxEvent& event) override;

  // Opens a file as a document (silently refused when it cannot be opened).
  wxDocument* OpenDocumentFile(const wxString& file);
  void OnAppAbout();
  // Brings the main window to the front, restored when minimised (a second start asks).
  void RaiseMainWindow();

  CMainFrame* MainFrame() const { return m_frame; }
  const CcmdInfo& CommandLine() const { return m_cmdInfo; }

 private:
  // Shows a fixed text (no language module yet) and writes it to standard error.
  static void FixedMessage(const wxString& text);
  // The session asked the program to end: answer every open box, then close the frame.
  void BeginTermination();
  void FinishTermination();
  // A second start: sends the running instance the request, asking a few times.
  bool AskRunningInstance(const std::string& request);
  // What a second start asks of the running instance: to run the command line's batch
  // file, else to come to the front.
  std::string HandOverRequest() const;
  std::vector<std::string> CommandLineWords() const;

  wxDocTemplate* m_pDocTemplate = nullptr;
  CcmdInfo m_cmdInfo;
  std::unique_ptr<wxSingleInstanceChecker> m_instanceChecker;
  orb::InstanceServer m_instanceServer;
  wxDocManager* m_docManager = nullptr;
  std::unique_ptr<wxFileConfig> m_recentFiles;
  CMainFrame* m_frame = nullptr;
  // Settings reach their files at exit only after a complete start-up.
  bool m_saveSettingsAtExit = false;
  // A second start: nothing runs, the process ends with m_exitCode.
  bool m_exitAtOnce = false;
  bool m_terminating = false;
  std::unique_ptr<orb::gui::ModalDialogs> m_modalDialogs;
  wxTimer m_terminationTimer;
  wxWeakRef<wxWindow> m_frameRef;
  int m_exitCode = 0;
  orb::SettingsSaveRule m_saveRule;
};

wxDECLARE_APP(COrbalonApp);
