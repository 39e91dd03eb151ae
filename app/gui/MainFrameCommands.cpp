#include "app/gui/MainFrameCommands.h"

#include <wx/app.h>
#include <wx/docmdi.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

#include <cstdio>

#include <atomic>
#include <chrono>
#include <set>
#include <string>

#include "app/AppGlobals.h"
#include "app/FrameCommands.h"
#include "app/LanguageModule.h"
#include "app/Messages.h"
#include "app/ResourceIds.h"
#include "app/ScannerEntryPoints.h"
#include "app/ScanDecision.h"
#include "app/ViewGeometry.h"
#include "app/gui/AppMessage.h"
#include "app/gui/OrbalonDoc.h"
#include "engine/EngineHost.h"
#include "platform/Clock.h"
#include "platform/Event.h"
#include "scanner_library/trennic.h"
#include "scanning/ScanHost.h"
#include "scanning/ScanPipeline.h"
#include "scanning/ScannerIdentification.h"
#include "scanning/ScsiScanControl.h"
#include "scanning/gui/ScanToolsPropPage.h"
#include "tools/FileNaming.h"

namespace orb::gui {
namespace {

MainFrameCommands* g_commands = nullptr;

wxString Text(int id) { return wxString::FromUTF8(LoadString(id)); }

// Set while the frame waits on the GUI thread for a scan to end: workers then wait for
// nothing the GUI thread would have to do.
std::atomic<bool> g_detached{false};

// Runs `fn` on the GUI thread and waits for it (at once when already there). Once the host
// is detached a worker stops waiting; `fn` must then own everything it touches.
template <class F>
void OnGuiThread(F fn) {
  if (wxThread::IsMain() || !wxTheApp) {
    fn();
    return;
  }
  if (g_detached.load()) return;
  auto done = std::make_shared<Event>(Event::Reset::Manual, false);
  wxTheApp->CallAfter([fn, done] {
    if (!g_detached.load()) fn();
    done->Set();
  });
  while (done->WaitFor(std::chrono::milliseconds(50)) == WaitResult::TimedOut) {
    if (g_detached.load()) return;
  }
}

// The scan logic's view of the program.
class WxScanHost final : public ScanHost {
 public:
  void PostToFrame(uint32_t msg, uintptr_t w, intptr_t l) override { PostAppMessage(g_hMainFrame.load(), msg, w, l); }
  void SendToFrame(uint32_t msg, uintptr_t w, intptr_t l) override {
    OnGuiThread([=] { SendAppMessage(g_hMainFrame.load(), msg, w, l); });
  }
  void PostToThumbnails(uint32_t msg, uintptr_t w, intptr_t l) override { PostAppMessage(g_hThumbDlg.load(), msg, w, l); }
  bool AskYesNo(int id, std::string_view prefix) override {
    auto yes = std::make_shared<std::atomic<bool>>(false);
    std::string text = std::string(prefix) + (prefix.empty() ? "" : " ") + LoadString(id);
    OnGuiThread([yes, text] {
      *yes = wxMessageBox(wxString::FromUTF8(text), wxString::FromUTF8(g_szAppTitle), wxYES_NO | wxICON_QUESTION) == wxYES;
    });
    return yes->load();
  }
  void ShowMessage(int id, MessageIcon icon, const std::vector<MessageArg>& args) override { Notify(id, icon, args); }
  void ShowText(std::string_view text, std::string_view caption, MessageIcon icon) override {
    NotifyText(text, caption, icon);
  }
  void ProgressBegin(int, int) override {}
  void ProgressStep() override {}
  void ProgressEnd() override {}
  void WaitCursor(bool on) override {
    OnGuiThread([on] { on ? wxBeginBusyCursor() : wxEndBusyCursor(); });
  }
  void PumpMessages() override { orb::PumpMessages(); }
  IDisplaySink* Display() override { return Host().display; }
  Clock& GetClock() override { return DefaultClock(); }
};

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

}  // namespace

struct MainFrameCommands::Impl final : ScanWorkflowHost {
  Impl(MainFrameCommands& o, wxDocMDIParentFrame* f) : owner(o), frame(f), port(trennic), poll(port), pollTimer(&o) {}

  MainFrameCommands& owner;
  wxDocMDIParentFrame* frame;
  CTrennic trennic;
  WxScanHost scanHost;
  std::unique_ptr<ScsiScanControl> scsi;
  std::unique_ptr<ScsiFamilyOps> scsiOps;
  ScanWorkflow workflow{*this};
  TrennicSensorPort port;
  PaperSensorPoll poll;
  wxTimer pollTimer;
  std::set<std::string> reported;
  bool installedIdentification = false;

  wxDocManager* Docs() const { return frame->GetDocumentManager(); }
  CScanToolsPropPage* Page() const { return CScanToolsPropPage::Current(); }

  // ---- ScanWorkflowHost
  ScannerFamilyOps* ScsiFamily() override { return scsiOps.get(); }
  ScannerFamilyOps* KelvaneFamily() override { return nullptr; }
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
    uint32_t format = w ? ChosenOutputFormat(ScanSettings, w->kind) : 0;
    return format != 0 && COrbalonDoc::WriteImageFile(format, AsDoc(d), path);
  }
  void UpdateTitle(DocHandle d) override { AsDoc(d)->UpdateTitle(); }
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
      if (COrbalonView* view = doc->View(); view && (AppStatus.load() & 3) != 1) view->UpdateView(kHintRedraw);
    }
    PostAppMessage(g_hThumbDlg.load(), WM_THUMB_REFRESH);
  }
  int RunBatchWaitDialog() override {
    // The wait dialog comes with the batch tools; until then paper is awaited here once.
    ReportAbsent("batch-scan wait dialog");
    return workflow.IsPaperPresent() ? kBatchWaitPaper : kBatchWaitCancelled;
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
      case WM_SCAN_COMPLETE: workflow.OnScanComplete(); break;
      case WM_SCANNER_UNLOAD: workflow.OnScannerUnload(); break;
      case WM_SCANNER_LOAD: workflow.OnScannerLoad(e.WParam()); break;
      case WM_SCANNER_BUSY: workflow.OnScannerBusy(e.WParam()); break;
      case WM_SCANNER_CALIBRATE: e.SetResult(workflow.Calibrate()); break;
      case WM_SCANNER_ALIGN: e.SetResult(workflow.AlignScanner()); break;
      case WM_SCANNER_DIAGNOSTICS: e.SetResult(workflow.ShowDiagnostics()); break;
      case WM_APPLY_PAPER_STAGING: workflow.OnApplyPaperStaging(); break;
      case WM_APPLY_PAPER_TRANSPORT: workflow.OnApplyPaperTransport(); break;
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
      case kUndo: OnUndo(); break;
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

  void OnUpdateUndo(wxUpdateUIEvent& e) {
    CommandContext c;
    auto* doc = dynamic_cast<COrbalonDoc*>(Docs()->GetCurrentDocument());
    c.hasDocument = doc && doc->WorkingImage();
    if (c.hasDocument) c.operationCode = doc->WorkingImage()->operationCode;
    if (auto ui = UpdateCommand(frame_cmds::kUndo, c)) {
      e.Enable(ui->enabled);
      if (ui->textId && *ui->textId) {
        wxString text = Text(*ui->textId);
        if (!text.empty()) e.SetText(text);
      }
    }
  }

  void OnPollTimer() {
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    if (poll.Tick(now, AppStatus.load())) Press(frame_cmds::kScannerButton);
  }
};

MainFrameCommands::MainFrameCommands(wxDocMDIParentFrame* frame) : d_(std::make_unique<Impl>(*this, frame)) {
  g_commands = this;
  SetScanHost(&d_->scanHost);
  d_->scsi = std::make_unique<ScsiScanControl>(d_->trennic, d_->scanHost);
  d_->scsiOps = std::make_unique<ScsiFamilyOps>(*d_->scsi);
  // The frame identifies through this object's scanner unless someone (a test) put in its
  // own identification.
  const auto& entry = GetScanningEntryPoints().identifyScsi;
  auto* plain = entry.target<bool (*)(IdentifiedScanner*)>();
  if (plain && *plain == &IdentifyNoScanner) {
    InstallScsiIdentification(&d_->trennic);
    d_->installedIdentification = true;
  }
  InstallScanOutputPage();
}

MainFrameCommands::~MainFrameCommands() {
  d_->pollTimer.Stop();
  d_->frame->Unbind(orbEVT_APP_MESSAGE, &Impl::OnMessage, d_.get());
  d_->frame->Unbind(wxEVT_MENU, &Impl::OnCommand, d_.get());
  d_->frame->Unbind(wxEVT_UPDATE_UI, &Impl::OnUpdateUndo, d_.get(), res::WxCommandId(frame_cmds::kUndo));
  if (d_->scsi) {
    // A scan still running ends now; its threads wait for nothing on this thread meanwhile.
    d_->scsi->StopScan();
    g_detached = true;
    d_->scsi->WaitForScan();
    g_detached = false;
  }
  if (d_->installedIdentification) {
    ScanningEntryPoints e = GetScanningEntryPoints();
    e.identifyScsi = &IdentifyNoScanner;
    SetScanningEntryPoints(std::move(e));
  }
  if (CurrentScanHost() == &d_->scanHost) SetScanHost(nullptr);
  if (g_commands == this) g_commands = nullptr;
}

void MainFrameCommands::Attach() {
  d_->frame->Bind(orbEVT_APP_MESSAGE, &Impl::OnMessage, d_.get());
  d_->frame->Bind(wxEVT_MENU, &Impl::OnCommand, d_.get());
  d_->pollTimer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { d_->OnPollTimer(); });
  d_->frame->Bind(wxEVT_UPDATE_UI, &Impl::OnUpdateUndo, d_.get(), res::WxCommandId(frame_cmds::kUndo));
}

MainFrameCommands* MainFrameCommands::Current() { return g_commands; }

void MainFrameCommands::WaitForScan() {
  if (d_->scsi) d_->scsi->WaitForScan();
}

MainFrameCommands* InstallMainFrameCommands(wxDocMDIParentFrame* frame) {
  auto* commands = new MainFrameCommands(frame);
  // Owned by the frame: deleted when the frame is destroyed.
  frame->Bind(wxEVT_DESTROY, [frame, commands](wxWindowDestroyEvent& e) {
    if (e.GetEventObject() == frame) delete commands;
    e.Skip();
  });
  return commands;
}

}  // namespace orb::gui
