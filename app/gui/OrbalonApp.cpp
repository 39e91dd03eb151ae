#include "app/gui/OrbalonApp.h"

#include <wx/dialog.h>
#include <wx/fileconf.h>
#include <wx/log.h>
#include <wx/msgdlg.h>
#include <wx/xrc/xmlres.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/AppGlobals.h"
#include "app/FrameRules.h"
#include "common/LanguageModule.h"
#include "common/ResourceIds.h"
#include "app/gui/AboutDlg.h"
#include "common/gui/AppMessage.h"
#include "app/gui/EngineHostGui.h"
#include "app/gui/MainFrame.h"
#include "app/gui/OrbalonDoc.h"
#include "app/gui/Shutdown.h"
#include "app/gui/batch/BatchCommands.h"
#include "common/gui/Resources.h"
#include "app/gui/ViewPropSheet.h"
#include "common/gui/WndWithToolTip.h"
#include "engine/AppStatus.h"
#include "engine/EngineHost.h"
#include "engine/Settings.h"
#include "platform/Clock.h"
#include "platform/Folders.h"

namespace {
constexpr int kMsgFileNameNotText = 35233;
}  // namespace

COrbalonApp::COrbalonApp() = default;
COrbalonApp::~COrbalonApp() = default;

void COrbalonApp::FixedMessage(const wxString& text) {
  std::fprintf(stderr, "orbalon: %s\n", static_cast<const char*>(text.utf8_str()));
  std::fflush(stderr);
  wxMessageBox(text, "Orbalon", wxOK | wxICON_ERROR);
}

bool COrbalonApp::AskRunningInstance(const std::string& request) {
  // The running instance may still be starting: its socket appears at the end of its
  // start-up. Ask a few times before giving up.
  std::string path = orb::InstanceSocketPath(orb::SingleInstanceName());
  for (int attempt = 0; attempt < 30; ++attempt) {
    if (orb::SendInstanceRequest(path, request, 2000)) return true;
    orb::DefaultClock().Sleep(std::chrono::milliseconds(100));
  }
  return false;
}

std::vector<std::string> COrbalonApp::CommandLineWords() const {
  // File names are bytes: the toolkit's conversion drops one that is not UTF-8 text.
  std::vector<std::string> args = orb::RawProcessArguments();
  if (args.size() != static_cast<size_t>(argc)) {
    args.clear();
    for (int i = 0; i < argc; ++i) args.emplace_back(argv[i].utf8_str());
  }
  return args;
}

std::string COrbalonApp::HandOverRequest() const {
  CcmdInfo info;
  orb::ParseCommandLine(CommandLineWords(), info);
  if (!info.m_bBatch || info.m_strFileName.find('\n') != std::string::npos) return orb::kRaiseRequest;
  std::error_code ec;
  const std::filesystem::path whole = std::filesystem::absolute(info.m_strFileName, ec);
  return orb::kRunBatchRequest + (ec ? info.m_strFileName : whole.string());
}

bool COrbalonApp::OnInit() {
  SetAppName("Orbalon");
  // 1. Single instance: a running instance is asked to come to the front, and this
  //    process ends without reading or writing any settings.
  m_instanceChecker = std::make_unique<wxSingleInstanceChecker>();
  wxString lockDir = wxString::FromUTF8(orb::InstanceSocketPath(orb::SingleInstanceName()));
  lockDir = lockDir.BeforeLast('/');
  if (!m_instanceChecker->Create(wxString::FromUTF8(orb::SingleInstanceName()) + ".lock", lockDir)) {
    FixedMessage("Unable to check for a running copy of the program.");
    return false;
  }
  if (m_instanceChecker->IsAnotherRunning()) {
    // Ends at once without a window; the exit status says whether the running one heard.
    // A batch file on the command line is handed to the running one, which runs it when
    // it is free (raising it alone would lose the batch).
    m_exitCode = AskRunningInstance(HandOverRequest()) ? 0 : 1;
    m_exitAtOnce = true;
    return true;
  }

  orb::gui::InstallMessageTransport();
  orb::gui::InstallEngineHost();

  // 3. Folders (the user folder and its images folder are made when missing).
  orb::SetUpProcessFolders();
  if (g_szProgramFolder.empty()) {
    FixedMessage("Unable to find the program folder.");
    return false;
  }
  // 5. First run: the program folder's initial data becomes the user's data.
  if (orb::NeedsFirstRunCopy(g_szDataFolder)) orb::CopyInitialData(g_szProgramFolder, g_szDataFolder);
  // 6. Settings.
  m_saveRule = orb::LoadAllSettings(g_szDataFolder);
  // Only the one running copy gets here: what killed earlier runs left behind goes now.
  orb::RemoveStaleTemporaries();

  // 7. Language module, from the program folder only, with English as the fallback.
  orb::LanguageChoice lang = orb::ChooseLanguageModule(g_szProgramFolder, MiscSettings.LanguageId);
  if (lang.usedFallback) {
    wxString text = wxString::Format(orb::kLanguageFallbackMessage, wxString::FromUTF8(lang.requestedName));
    std::fprintf(stderr, "orbalon: %s\n", static_cast<const char*>(text.utf8_str()));
    wxMessageBox(text, "Orbalon", wxOK);
  }
  wxString xrcError;
  if (!lang.module || !orb::gui::LoadXrcModule(*lang.module, &xrcError)) {
    FixedMessage(wxString::Format(orb::kNoEnglishModuleMessage,
                                  wxString::FromUTF8(orb::LanguageModuleFileName(orb::kEnglishLanguageId))));
    return false;
  }
  orb::SetCurrentLanguage(std::move(lang.module));
  orb::gui::ConfigureToolTips();

  // 8. Title.
  g_szAppTitle = orb::LoadString(orb::res::IDS_APP_TITLE);

  // 9, 10. Recent files and the document template.
  m_docManager = new COrbalonDocManager;
  m_docManager->SetMaxDocsOpen(1000);
  m_pDocTemplate = new wxDocTemplate(m_docManager, "Image", orb::gui::Str(orb::res::IDS_DOC_FILTER), "", "tif",
                                     "COrbalonDoc", "COrbalonView", CLASSINFO(COrbalonDoc),
                                     CLASSINFO(COrbalonView));
  m_recentFiles = std::make_unique<wxFileConfig>(
      "Orbalon", wxEmptyString, wxString::FromUTF8(orb::JoinPath(g_szDataFolder, "RecentFiles.ini")),
      wxEmptyString, wxCONFIG_USE_LOCAL_FILE);

  // 11. Command line.
  g_bBatchMode = 0;
  orb::ParseCommandLine(CommandLineWords(), m_cmdInfo);
  if (m_cmdInfo.m_bBatch) {
    g_bBatchMode = 1;
    g_szBatchFile = m_cmdInfo.m_strFileName;
  }

  // 12. The main frame. Making the view sheet activates each of its pages, which records
  //     them in turn; the page recorded before is restored afterwards.
  int activePage = MiscSettings.ActiveViewPage;
  m_frame = CMainFrame::Create(m_docManager, wxString::FromUTF8(g_szAppTitle));
  if (!m_frame) return false;
  m_frameRef = m_frame;
  SetTopWindow(m_frame);
  MiscSettings.ActiveViewPage = activePage;
  m_frame->ViewSheet()->SetActivePage(orb::ClampViewPage(activePage));
  if (wxMenuBar* menus = m_frame->GetMenuBar()) {
    int fileMenu = menus->FindMenu("File");
    if (fileMenu != wxNOT_FOUND) {
      m_docManager->FileHistoryUseMenu(menus->GetMenu(fileMenu));
    }
  }
  m_docManager->FileHistoryLoad(*m_recentFiles);

  // 13, 14. Show.
  m_frame->Show(true);
  m_frame->SetTitle(wxString::FromUTF8(g_szAppTitle));

  // 15. A saved compact layout is applied once.
  if (MiscSettings.ShowSettingsSheets == 0) {
    MiscSettings.ShowSettingsSheets = 1;
    m_frame->ToggleCompactLayout();
  }

  // Asked to end (log-out, kill, Ctrl+C in a terminal, the terminal gone): close as the user
  // would, so the settings are saved.
  m_modalDialogs = std::make_unique<orb::gui::ModalDialogs>();
  if (orb::gui::BatchCommands* b = orb::gui::GetBatchCommands())
    b->SetStartCheck([this] { return !m_terminating && orb::gui::SafeToCloseFrame(*m_modalDialogs); });
  m_terminationTimer.SetOwner(this);
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { FinishTermination(); }, m_terminationTimer.GetId());
  if (!orb::gui::InstallShutdownSignals([this] { BeginTermination(); }))
    std::fprintf(stderr, "orbalon: the end signals cannot be caught; ending the session may lose the settings\n");

  // From here on a second start raises this window.
  std::string err;
  if (!m_instanceServer.Start(orb::InstanceSocketPath(orb::SingleInstanceName()),
                              [](const std::string& request) {
                                if (request == orb::kRaiseRequest) {
                                  wxTheApp->CallAfter([] { static_cast<COrbalonApp*>(wxTheApp)->RaiseMainWindow(); });
                                } else if (request.rfind(orb::kRunBatchRequest, 0) == 0) {
                                  std::string batch = request.substr(std::string(orb::kRunBatchRequest).size());
                                  wxTheApp->CallAfter([batch] {
                                    if (orb::gui::BatchCommands* b = orb::gui::GetBatchCommands()) b->RunHandedOver(batch);
                                  });
                                }
                              },
                              &err)) {
    std::fprintf(stderr, "orbalon: a second start cannot reach this one: %s\n", err.c_str());
  }
  m_saveSettingsAtExit = true;

  // 16, 17. The About box and the file named on the command line, once the loop runs.
  bool about = MiscSettings.ShowAboutBox != 0 && m_cmdInfo.m_bShowSplash;
  const std::string name = m_cmdInfo.m_strFileName;
  bool open = !name.empty() && !g_bBatchMode;
  CallAfter([this, about, open, name] {
    if (about) OnAppAbout();
    if (!open) return;
    if (!orb::IsValidUtf8(name)) {
      orb::Notify(kMsgFileNameNotText, orb::MessageIcon::Error, {orb::MessageArg{orb::PrintableFileName(name)}});
      return;
    }
    OpenDocumentFile(wxString::FromUTF8(name));
  });
  return true;
}

void COrbalonApp::BeginTermination() {
  m_terminating = true;
  // Boxes open now are answered Cancel; boxes their callers open on the way out are
  // answered the same without being shown.
  m_modalDialogs->SetRefusing(true);
  m_modalDialogs->CancelAll();
  // A file still decoding stops at its next row.
  if (orb::HasStatus(orb::StatusBit::Opening)) CancelFlag.store(1);
  FinishTermination();
}

void COrbalonApp::FinishTermination() {
  wxWindow* frame = m_frameRef.get();
  if (!frame || frame->IsBeingDeleted()) return;
  // The frame is closed only from the main loop itself: a dialog's loop or a message pump
  // below would return into windows that no longer exist.
  if (!orb::gui::SafeToCloseFrame(*m_modalDialogs)) {
    m_modalDialogs->CancelAll();
    m_terminationTimer.StartOnce(20);
    return;
  }
  frame->Close(true);
}

int COrbalonApp::OnRun() {
  if (m_exitAtOnce) return m_exitCode;
  return wxApp::OnRun();
}

int COrbalonApp::OnExit() {
  orb::gui::RemoveShutdownSignals();
  m_terminationTimer.Stop();
  m_instanceServer.Stop();
  if (m_saveSettingsAtExit) {
    // Saving the settings makes the data folder on a first run; the recent files go
    // beside them, and a failure there only loses that list, without a message box.
    orb::SaveAllSettings(g_szDataFolder, m_saveRule);
    if (m_docManager && m_recentFiles && orb::EnsureFolder(g_szDataFolder)) {
      wxLogNull quiet;
      m_docManager->FileHistorySave(*m_recentFiles);
      m_recentFiles->Flush();
    }
  }
  delete m_docManager;
  m_docManager = nullptr;
  orb::gui::UnloadXrcModule();
  return wxApp::OnExit();
}

int COrbalonApp::FilterEvent(wxEvent& event) {
  // Whether a mouse button is held anywhere in the program: the view's wait cursor.
  wxEventType t = event.GetEventType();
  if (event.IsKindOf(wxCLASSINFO(wxKeyEvent)) &&
      orb::gui::FilterPumpedKey(t, static_cast<wxKeyEvent&>(event).GetKeyCode()))
    return Event_Processed;
  if (t == wxEVT_LEFT_DOWN || t == wxEVT_RIGHT_DOWN)
    g_bMouseButtonDown = 1;
  else if (t == wxEVT_LEFT_UP || t == wxEVT_RIGHT_UP)
    g_bMouseButtonDown = 0;
  return Event_Skip;
}

wxDocument* COrbalonApp::OpenDocumentFile(const wxString& file) {
  if (!m_docManager) return nullptr;
  return m_docManager->CreateDocument(file, wxDOC_SILENT);
}

void COrbalonApp::OnAppAbout() {
  if (m_terminating) return;
  orb::gui::ShowAboutBox(m_frame);
}

void COrbalonApp::RaiseMainWindow() {
  if (!m_frame) return;
  if (m_frame->IsIconized()) m_frame->Iconize(false);
  m_frame->Show(true);
  m_frame->Raise();
  if (wxWindow* modal = wxGetTopLevelParent(wxWindow::FindFocus())) modal->Raise();
}
