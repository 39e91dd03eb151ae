#include "app/gui/MainFrameCommands.h"

#include <wx/app.h>
#include <wx/docmdi.h>
#include <wx/msgdlg.h>
#include <wx/statusbr.h>
#include <wx/utils.h>
#include <wx/weakref.h>

#include <cstdio>

#include <atomic>
#include <chrono>
#include <set>
#include <string>

#include "common/AppGlobals.h"
#include "app/Display.h"
#include "app/FrameCommands.h"
#include "app/FrameRules.h"
#include "common/LanguageModule.h"
#include "common/Messages.h"
#include "common/ResourceIds.h"
#include "app/ScanDecision.h"
#include "app/ViewGeometry.h"
#include "common/gui/AppMessage.h"
#include "app/gui/batch/BatchDialogs.h"
#include "app/gui/MainFrame.h"
#include "scanning/kelvane/KelvaneScanControl.h"
#include "app/gui/OrbalonDoc.h"
#include "app/gui/PresetDlg.h"
#include "engine/EngineHost.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "scanner_library/trennic.h"
#include "scanning/ScanPipeline.h"
#include "scanning/ScsiScanControl.h"
#include "scanning/gui/ManualStitchDlg.h"
#include "scanning/gui/ScanSettingsPropPages.h"
#include "scanning/gui/ScanToolsPropPage.h"
#include "app/gui/OutputOptionDlgs.h"
#include "tools/FileNaming.h"
#include "tools/ToolDocumentHost.h"
#include "tools/ToolTable.h"
#include "tools/gui/ToolPage.h"
#include "tools/gui/ToolsPropPages.h"
#include "tools/transform/ScanTools.h"

namespace orb::gui {
namespace {

MainFrameCommands* g_commands = nullptr;

wxString Text(int id) { return wxString::FromUTF8(LoadString(id)); }
// The status line of a scan whose file could not be written.
constexpr int kStrScanNotWritten = res::IDS_SCAN_NOT_WRITTEN;

// The paper sensors through the scanner library.
class TrennicSensorPort final : public PaperSensorPort {
 public:
  explicit TrennicSensorPort(CTrennic& t) : t_(t) {}
  bool SetPaperTransport(int mode) override { return t_.SetPaperTransport(static_cast<PaperTransportType>(mode)); }
  bool SwitchSensorDiagnostic(bool on) override { return t_.SwitchSensorDiagnostic(on ? 1 : 0); }
  std::optional<uint8_t> ReadSensorByte() override {
    ReceiveResultsType r{};
    if (!t_.ReceiveResultsDiagnostic(&r, 128)) return std::nullopt;
    return reinterpret_cast<const uint8_t*>(&r)[5];
  }

 private:
  CTrennic& t_;
};

COrbalonDoc* AsDoc(DocHandle d) { return static_cast<COrbalonDoc*>(static_cast<wxDocument*>(d)); }

// The class library's file commands are the toolkit's stock ids here; every other command
// keeps its number, moved into the toolkit's range when it is above it.
int WxIdOf(int command) {
  using namespace frame_cmds;
  switch (command) {
    case kFileClose: return wxID_CLOSE;
    case kFileSave: return wxID_SAVE;
    case kFileOpen: return wxID_OPEN;
    case kFilePrint: return wxID_PRINT;
    case kFilePrintSetup: return wxID_PRINT_SETUP;
    case kAppExit: return wxID_EXIT;
    default: return res::WxCommandId(command);
  }
}

int CommandOf(int wxId) {
  using namespace frame_cmds;
  switch (wxId) {
    case wxID_CLOSE: return kFileClose;
    case wxID_SAVE: return kFileSave;
    case wxID_OPEN: return kFileOpen;
    case wxID_PRINT: return kFilePrint;
    case wxID_PRINT_SETUP: return kFilePrintSetup;
    case wxID_EXIT: return kAppExit;
    default: return res::CommandFromWx(wxId);
  }
}

// The commands whose menu items and tools the frame enables and checks.
constexpr int kUpdatedCommands[] = {
    frame_cmds::kFileClose, frame_cmds::kFileSave,     frame_cmds::kSaveAs,          frame_cmds::kFileOpen,
    frame_cmds::kAppExit,   frame_cmds::kFilePrint,    frame_cmds::kSendMail,        frame_cmds::kFilePrintSetup,
    frame_cmds::kSavePreset, frame_cmds::kUndo,        frame_cmds::kMagnifier,       frame_cmds::kDragScroll,
    frame_cmds::kPressStop,  frame_cmds::kPressAccept, frame_cmds::kPressReject,
};

}  // namespace

struct MainFrameCommands::Impl final : ScanWorkflowHost {
  Impl(MainFrameCommands& o, CMainFrame* f) : owner(o), frame(f), port(f->Scanner()), poll(port), pollTimer(&o) {}

  MainFrameCommands& owner;
  CMainFrame* frame;
  ScanWorkflow workflow{*this};
  TrennicSensorPort port;
  PaperSensorPoll poll;
  wxTimer pollTimer;
  std::set<std::string> reported;
  // The desktop's mail hand-over was found (looked for once, when the commands are bound).
  bool mailAvailable = false;
  // Where the update handlers are bound: the document manager sees the frame's update
  // events before the frame does (and has its own handlers for the file commands).
  wxWeakRef<wxEvtHandler> updateTarget;

  wxDocManager* Docs() const { return frame->GetDocumentManager(); }
  CScanToolsPropPage* Page() const { return CScanToolsPropPage::Current(); }

  // ---- ScanWorkflowHost
  // The frame's own scanner object, scan control and scan host do the scanning.
  ScannerFamilyOps* ScsiFamily() override { return frame->ScsiFamily(); }
  ScannerFamilyOps* KelvaneFamily() override { return frame->KelvaneFamily(); }
  void ReportAbsent(const std::string& what) override {
    if (!reported.insert(what).second) return;
    wxMessageBox(wxString::FromUTF8("This version of the program has no " + what + "."),
                 wxString::FromUTF8(g_szAppTitle), wxOK | wxICON_INFORMATION, frame);
  }
  std::vector<DocHandle> Documents() override {
    std::vector<DocHandle> v;
    for (wxDocument* d : Docs()->GetDocumentsVector()) {
      if (dynamic_cast<COrbalonDoc*>(d)) v.push_back(static_cast<wxDocument*>(d));
    }
    return v;
  }
  DocHandle ActiveDocument() override {
    wxDocument* d = Docs()->GetCurrentDocument();
    return dynamic_cast<COrbalonDoc*>(d) ? static_cast<DocHandle>(d) : nullptr;
  }
  void ActivateDocument(DocHandle d) override {
    if (wxView* v = AsDoc(d)->GetFirstView()) {
      if (auto* child = dynamic_cast<wxDocMDIChildFrame*>(v->GetFrame())) child->Activate();
      v->Activate(true);
    }
  }
  ImageState* WorkingRecord(DocHandle d) override { return AsDoc(d)->WorkingImage(); }
  ImageState* FileRecord(DocHandle d) override { return AsDoc(d)->FileImage(); }
  void SetWorkingRecord(DocHandle d, ImageState* r) override { AsDoc(d)->Image().SetWorking(r); }
  DocHandle OpenNewDocument() override {
    wxDocument* d = Docs()->CreateDocument(wxString(), wxDOC_NEW);
    auto* doc = dynamic_cast<COrbalonDoc*>(d);
    if (!doc) return nullptr;
    doc->SetScanDocument(true);
    return static_cast<wxDocument*>(doc);
  }
  void CloseDocument(DocHandle d) override {
    COrbalonDoc* doc = AsDoc(d);
    doc->SetDiscardChanges(true);  // the decision was made: no question
    doc->SetScanDocument(false);
    Docs()->CloseDocument(doc, true);
  }
  bool SaveDocument(DocHandle d, const std::string& path) override {
    ImageState* w = AsDoc(d)->WorkingImage();
    uint32_t format = w ? AcceptedFileFormat(*w) : 0;
    return format != 0 && COrbalonDoc::WriteImageFile(format, AsDoc(d), path);
  }
  void UpdateTitle(DocHandle d) override { AsDoc(d)->UpdateTitle(); }
  // After a scan the lens stands in the middle of the view, where the new picture is.
  void CentreMagnifier(DocHandle d) override {
    COrbalonView* view = AsDoc(d)->View();
    if (!view || !view->Lupe() || !view->Canvas()) return;
    const wxSize client = view->Canvas()->GetClientSize();
    view->Lupe()->SetCentre(client.x / 2, client.y / 2);
  }
  void ShowScanNotWritten(DocHandle d) override {
    // The document keeps what arrived, unsaved, and the status bar says why.
    AsDoc(d)->Modify(true);
    if (wxStatusBar* bar = frame->GetStatusBar()) bar->SetStatusText(Text(kStrScanNotWritten), 0);
  }
  void ShowMessage(int id) override {
    wxMessageBox(Text(id), wxString::FromUTF8(g_szAppTitle), wxOK | wxICON_EXCLAMATION, frame);
  }
  bool AskYesNo(int id) override {
    return wxMessageBox(Text(id), wxString::FromUTF8(g_szAppTitle), wxYES_NO | wxICON_QUESTION, frame) == wxYES;
  }
  void PostToFrame(uint32_t msg, uintptr_t w) override { PostAppMessage(HandleOf(frame), msg, w); }
  void RefreshScanPage() override {
    if (auto* p = Page()) p->OnSetActive();
  }
  void ToggleBatchScan() override {
    if (auto* p = Page()) p->ToggleBatchScan();
  }
  void ValidateCustomArea() override {
    if (auto* p = Page()) p->ValidateCustomArea();
  }
  void RefreshViewAndThumbnails() override {
    // The active view draws its image again from the finished record.
    if (auto* doc = dynamic_cast<COrbalonDoc*>(Docs()->GetCurrentDocument())) {
      if (COrbalonView* view = doc->View(); view && !orb::IsScanning()) view->UpdateView(kHintRedraw);
    }
    PostAppMessage(g_hThumbDlg.load(), WM_THUMB_REFRESH);
  }
  BatchWaitResult RunBatchWaitDialog() override {
    CDlgBatchModeWait wait(frame, [this] { return workflow.IsPaperPresent(); });
    return wait.Run();
  }
  // The tools that run on a finished scan, through the same code as their pages' apply.
  bool ConvertToPalette() override {
    orb::tools::ConvertScan();
    return true;
  }
  bool PaletteOptionChecked() override { return !orb::tools::PaletteConvertsScans(); }
  bool RotateImageFile() override {
    orb::tools::TurnScan();
    return true;
  }
  SplitOutcome SplitIntoTwoPages(const std::string& scanPath) override { return SplitScanForAccept(scanPath); }
  void RefreshToolPages() override {
    if (CToolPage::s_refreshHosts) CToolPage::s_refreshHosts();
  }
  void RefreshToolControls() override {
    RefreshToolPages();
    if (auto* host = dynamic_cast<CToolHostPage*>(static_cast<wxEvtHandler*>(g_hToolsPage.load()))) {
      if (CToolPage* page = host->Page(orb::tools::kToolPalette)) page->UpdateControls();
    }
  }
  std::string NextFileName(const std::string& name) override {
    CSetupFilenameDlg naming(name);
    naming.MakeNextFileName();
    return naming.GetFileName();
  }
  int64_t NowSeconds() override {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  }

  // ---- message and command handlers
  void OnMessage(OrbMessageEvent& e) {
    switch (e.Message()) {
      case WM_SCAN_NEW_DOCUMENT: workflow.OnNewScanDocument(); break;
      case WM_SCAN_BATCH_WAIT: workflow.OnScanBatchWait(e.WParam()); break;
      case WM_SCAN_STOP: workflow.OnScanStop(); break;
      case WM_SCAN_DISCARD_RESTART: workflow.OnScanDiscardRestart(); break;
      case WM_SCAN_ACCEPT_PAGE: workflow.OnScanAcceptPage(); break;
      case WM_SCAN_REJECT_PAGE: workflow.OnScanRejectPage(); break;
      case WM_SCAN_COMPLETE: workflow.OnScanComplete(e.WParam()); break;
      case WM_SCANNER_UNLOAD: workflow.OnScannerUnload(); break;
      case WM_SCANNER_LOAD: workflow.OnScannerLoad(e.WParam()); break;
      case WM_SCANNER_BUSY: workflow.OnScannerBusy(e.WParam()); break;
      case WM_SCANNER_CALIBRATE: e.SetResult(workflow.Calibrate()); break;
      case WM_SCANNER_ALIGN: e.SetResult(workflow.AlignScanner()); break;
      case WM_SCANNER_DIAGNOSTICS: e.SetResult(workflow.ShowDiagnostics()); break;
      case WM_APPLY_PAPER_STAGING: workflow.OnApplyPaperStaging(); break;
      case WM_APPLY_PAPER_TRANSPORT: workflow.OnApplyPaperTransport(); break;
      case WM_LOAD_PRESET:
        LoadCurrentPreset(frame);
        e.SetResult(0);
        break;
      default: e.Skip(); return;
    }
  }

  void Press(int command) {
    CScanToolsPropPage* p = Page();
    if (!p) return;
    for (int button : ButtonsPressedBy(command, AppStatus.load(), ScanSettings.ModelCode)) p->PressButton(button);
  }

  void OnCommand(wxCommandEvent& e) {
    const int command = res::CommandFromWx(e.GetId());
    using namespace frame_cmds;
    switch (command) {
      case kScannerButton:
      case kPressStop:
      case kPressAccept:
      case kPressReject:
      case kPressLoad:
      case kPressUnload:
      case kScanKey: Press(command); break;
      case kMenuScan: Press(kScanKey); break;
      case kDiskWritesDuringScan: {
        bool off = !DiskWritesDuringScanOff.load();
        DiskWritesDuringScanOff = off ? 1 : 0;
        wxMessageBox(wxString::FromUTF8(DiskWritesSwitchText(off)), wxString::FromUTF8(g_szAppTitle), wxOK, frame);
        break;
      }
      case kDisplayDuringScan: {
        bool off = !DisplayDuringScanOff.load();
        DisplayDuringScanOff = off ? 1 : 0;
        wxMessageBox(wxString::FromUTF8(DisplaySwitchText(off)), wxString::FromUTF8(g_szAppTitle), wxOK, frame);
        break;
      }
      case kForceModelFlag: ScanSettings.PaperEndDetection = 1; break;
      case kMagnifier: OnMagnifier(); break;
      case kDragScroll: MiscSettings.DragScroll = MiscSettings.DragScroll ? 0 : 1; break;
      case kRgbStatistics: OnRgbStatistics(); break;
      case kUndo: OnUndo(); break;
      case kSavePreset: SavePresetCommand(frame); break;
      case kSendMail: OnSendMail(); break;
      case kSaveAs:
        if (auto* doc = dynamic_cast<COrbalonDoc*>(Docs()->GetCurrentDocument())) doc->ShowSaveAsDialog();
        break;
      case kPaperSensorPolling:
        poll.Toggle();
        if (poll.On()) pollTimer.Start(PaperSensorPoll::kTickMs);
        else pollTimer.Stop();
        break;
      default: e.Skip(); break;
    }
  }

  // Undo of the active document's newest version.
  void OnUndo() {
    auto* doc = dynamic_cast<COrbalonDoc*>(Docs()->GetCurrentDocument());
    if (!doc) return;
    ImageState* prev = UndoNewestVersion(doc->WorkingImage(), [](const std::string& p) { std::remove(p.c_str()); });
    if (!prev) return;
    doc->Image().SetWorking(prev);
    doc->UpdateTitle();
    SendAppMessage(g_hThumbDlg.load(), WM_THUMB_REFRESH);
    if (COrbalonView* view = doc->View()) view->UpdateView(kHintRedraw);
  }

  // The working image handed to the desktop's mail program.
  void OnSendMail() {
    auto* doc = dynamic_cast<COrbalonDoc*>(Docs()->GetCurrentDocument());
    if (!doc || !doc->WorkingImage()) return;
    std::vector<std::string> args = MailCommand(doc->WorkingImage()->sourcePath);
    std::vector<wxString> wargs;
    for (const auto& a : args) wargs.push_back(wxString::FromUTF8(a));
    std::vector<const wxChar*> argv;
    for (const auto& a : wargs) argv.push_back(a.wc_str());
    argv.push_back(nullptr);
    long rc = wxExecute(const_cast<wxChar**>(argv.data()), wxEXEC_SYNC);
    if (MailFailed(static_cast<int>(rc))) {
      wxMessageBox("The image could not be handed to the mail program.", wxString::FromUTF8(g_szAppTitle),
                   wxOK | wxICON_EXCLAMATION, frame);
    }
  }

  // What the enabling of the commands looks at, as it is now.
  CommandContext Context() {
    CommandContext c;
    c.status = AppStatus.load();
    c.batchMode = g_bBatchMode.load() != 0;
    auto* doc = dynamic_cast<COrbalonDoc*>(Docs()->GetCurrentDocument());
    ImageState* w = doc ? doc->WorkingImage() : nullptr;
    c.hasDocument = w != nullptr;
    if (w) {
      const ImageState* f = doc->FileImage();
      c.workingState = w->state;
      c.edited = w->edited != 0 || (f && f->next);
      c.operationCode = w->operationCode;
      c.kind = w->kind;
    }
    c.mailAvailable = mailAvailable;
    c.magnifierFlag = MiscSettings.MagnifierShown;
    c.dragScroll = MiscSettings.DragScroll;
    c.thresholdBlocksMagnifier = BWThresholdSettings.SoftwareThreshold != 0 || BWThresholdSettings.ThresholdingType == 2;
    return c;
  }

  void OnUpdateCommand(wxUpdateUIEvent& e) {
    std::optional<CommandUi> ui = UpdateCommand(CommandOf(e.GetId()), Context());
    if (!ui) {
      e.Skip();
      return;
    }
    if (ui->clearMagnifierFlag) MiscSettings.MagnifierShown = 0;
    e.Enable(ui->enabled);
    if (ui->checked) e.Check(*ui->checked);
    if (ui->textId && *ui->textId) {
      wxString text = Text(*ui->textId);
      if (!text.empty()) e.SetText(text);
    }
  }

  COrbalonView* ActiveView() {
    auto* doc = dynamic_cast<COrbalonDoc*>(Docs()->GetCurrentDocument());
    return doc ? doc->View() : nullptr;
  }

  // The magnifier on or off; the view shows or hides it at once unless it is busy.
  void OnMagnifier() {
    // A command its update handler refuses (a tool button may still be clicked) is ignored.
    if (std::optional<CommandUi> ui = UpdateCommand(frame_cmds::kMagnifier, Context()); ui && !ui->enabled) return;
    MiscSettings.MagnifierShown = MiscSettings.MagnifierShown ? 0 : 1;
    COrbalonView* view = ActiveView();
    const uint32_t status = AppStatus.load();
    if (!view || orb::StatusIsExactly(status, orb::StatusBit::ViewRefresh)) return;
    if (orb::ScanStateOf(status) != orb::ScanState::Scanning && !orb::HasStatus(status, orb::StatusBit::Opening)) {
      PostAppMessage(HandleOf(view), WM_SHOW_MAGNIFIER);
    } else {
      view->UpdateScrollBars();
    }
  }

  // The box with the colour statistics of the current view. Channels the display has not
  // measured yet (no colour view drawn) show as zero.
  void OnRgbStatistics() {
    const auto stats = LastChannelStatistics();
    int avg[3], mn[3], mx[3];
    // The display keeps its sums blue, green, red; the box's columns are red, green, blue.
    for (int column = 0; column < 3; ++column) {
      const ChannelStatistics& st = stats[static_cast<size_t>(2 - column)];
      const bool measured = st.minimum <= st.maximum;
      avg[column] = measured ? st.mean : 0;
      mn[column] = measured ? st.minimum : 0;
      mx[column] = measured ? st.maximum : 0;
    }
    wxMessageBox(wxString::FromUTF8(RgbStatisticsText(avg, mn, mx)), wxString::FromUTF8(g_szAppTitle),
                 wxOK | wxICON_INFORMATION, frame);
  }

  void OnPollTimer() {
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    if (poll.Tick(now, AppStatus.load())) Press(frame_cmds::kScannerButton);
  }
};

namespace {
// The manual stitch dialog zooms the active scan's view onto a camera seam.
void InstallSeamZoom(CMainFrame* frame) {
  auto activeDoc = [frame]() -> COrbalonDoc* {
    wxDocManager* docs = frame ? frame->GetDocumentManager() : nullptr;
    return docs ? dynamic_cast<COrbalonDoc*>(docs->GetCurrentDocument()) : nullptr;
  };
  CManualStitchDlg::ImageAccess access;
  access.size = [activeDoc](int32_t* w, int32_t* h, int32_t* cw, int32_t* ch) {
    COrbalonDoc* doc = activeDoc();
    ImageState* image = doc ? doc->WorkingImage() : nullptr;
    if (!image) return false;
    *w = image->width;
    *h = image->height;
    wxView* view = doc->GetFirstView();
    wxWindow* win = view && view->GetFrame() ? view->GetFrame() : nullptr;
    const wxSize client = win ? win->GetClientSize() : wxSize(1, 1);
    *cw = client.x;
    *ch = client.y;
    return true;
  };
  access.showRegion = [activeDoc](const orb::Rect& r) {
    COrbalonDoc* doc = activeDoc();
    ImageState* image = doc ? doc->WorkingImage() : nullptr;
    if (!image) return;
    image->region = PixelRect{r.left, r.top, r.right - 1, r.bottom - 1};
    COrbalonViewHint hint(orb::kHintActualSize);
    doc->UpdateAllViews(nullptr, &hint);
    (void)orb::PostAppMessage(g_hThumbDlg.load(), WM_THUMB_REDRAW_VIEW);
  };
  access.refreshOutputPage = [] {
    if (CScanToolsPropPage* page = CScanToolsPropPage::Current()) page->OnSetActive();
  };
  CManualStitchDlg::SetImageAccess(std::move(access));
}
}  // namespace

MainFrameCommands::MainFrameCommands(CMainFrame* frame) : d_(std::make_unique<Impl>(*this, frame)) {
  g_commands = this;
  InstallScanOutputPage();
  InstallScanSettingsPages();
  SetFormatOptionsRunner([](wxWindow* parent, orb::FormatOptionsDialog dialog, int argument) {
    if (dialog == orb::FormatOptionsDialog::Quality) {
      CJpegQuality dlg(argument, parent);
      dlg.ShowModal();
    } else if (dialog == orb::FormatOptionsDialog::Tiff) {
      CTiffOpt dlg(argument, parent);
      dlg.ShowModal();
    }
  });
  InstallSeamZoom(frame);
}

MainFrameCommands::~MainFrameCommands() {
  d_->pollTimer.Stop();
  d_->frame->Unbind(orbEVT_APP_MESSAGE, &Impl::OnMessage, d_.get());
  d_->frame->Unbind(wxEVT_MENU, &Impl::OnCommand, d_.get());
  if (wxEvtHandler* target = d_->updateTarget.get()) {
    for (int command : kUpdatedCommands) target->Unbind(wxEVT_UPDATE_UI, &Impl::OnUpdateCommand, d_.get(), WxIdOf(command));
  }
  if (g_commands == this) g_commands = nullptr;
}

void MainFrameCommands::Attach() {
  d_->frame->Bind(orbEVT_APP_MESSAGE, &Impl::OnMessage, d_.get());
  d_->frame->Bind(wxEVT_MENU, &Impl::OnCommand, d_.get());
  d_->pollTimer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { d_->OnPollTimer(); });
  d_->mailAvailable = !FindProgramInPath("xdg-email").empty();
  wxEvtHandler* target = d_->frame->GetDocumentManager();
  if (!target) target = d_->frame;
  d_->updateTarget = target;
  for (int command : kUpdatedCommands) target->Bind(wxEVT_UPDATE_UI, &Impl::OnUpdateCommand, d_.get(), WxIdOf(command));
}

MainFrameCommands* MainFrameCommands::Current() { return g_commands; }

void MainFrameCommands::WaitForScan() {
  if (d_->frame->ScsiFamily()) d_->frame->ScsiControl().WaitForScan();
  if (d_->frame->KelvaneFamily()) d_->frame->KelvaneControl().WaitForScan();
}

MainFrameCommands* InstallMainFrameCommands(CMainFrame* frame) {
  auto* commands = new MainFrameCommands(frame);
  // Owned by the frame: deleted when the frame is destroyed.
  frame->Bind(wxEVT_DESTROY, [frame, commands](wxWindowDestroyEvent& e) {
    if (e.GetEventObject() == frame) delete commands;
    e.Skip();
  });
  return commands;
}

}  // namespace orb::gui
