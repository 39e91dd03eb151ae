#include "app/gui/batch/BatchCommands.h"

#include <wx/button.h>
#include <wx/docview.h>
#include <wx/filedlg.h>
#include <wx/frame.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/statusbr.h>
#include <wx/timer.h>

#include <algorithm>
#include <filesystem>

#include "app/ViewGeometry.h"
#include "app/batch/BatchFile.h"
#include "tools/outside/OutsidePrograms.h"
#include "app/gui/OrbalonDoc.h"
#include "app/gui/batch/BatchFileSetupDlg.h"
#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "common/ResourceIds.h"
#include "common/gui/AppMessage.h"
#include "common/gui/Resources.h"
#include "engine/AppStatus.h"
#include "engine/EngineHost.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/Settings.h"
#include "scanning/gui/ScanToolsPropPage.h"

namespace orb::gui {
namespace {

BatchCommands* g_commands = nullptr;

wxString Title() { return wxString::FromUTF8(g_szAppTitle.empty() ? std::string("Orbalon") : g_szAppTitle); }

std::string Utf8(const wxString& s) { return std::string(s.utf8_str()); }

// The program sets this bit while it closes a document itself.
struct ProgramClose {
  ProgramClose() { orb::SetStatus(orb::StatusBit::ProgramClose); }
  ~ProgramClose() { orb::ClearStatus(orb::StatusBit::ProgramClose); }
};

}  // namespace

// The two answers of an inspection batch, over the main window while an image is held.
class BatchCommands::HoldBar : public wxFrame {
 public:
  HoldBar(wxWindow* parent, BatchCommands* owner)
      : wxFrame(parent, wxID_ANY, Str(kStrHoldCaption), wxDefaultPosition, wxDefaultSize,
                wxCAPTION | wxFRAME_TOOL_WINDOW | wxFRAME_FLOAT_ON_PARENT) {
    auto* sizer = new wxBoxSizer(wxHORIZONTAL);
    // Ids of their own: the document commands' Save would otherwise grey the button while
    // the document counts as unchanged.
    auto* save = new wxButton(this, kSaveButton, Str(kStrHoldSave));
    auto* discard = new wxButton(this, kDiscardButton, Str(kStrHoldDiscard));
    sizer->Add(save, 0, wxALL, 8);
    sizer->Add(discard, 0, wxALL, 8);
    SetSizerAndFit(sizer);
    save->Bind(wxEVT_BUTTON, [owner](wxCommandEvent&) { owner->SaveHeld(); });
    discard->Bind(wxEVT_BUTTON, [owner](wxCommandEvent&) { owner->DiscardHeld(); });
  }
  static constexpr int kSaveButton = wxID_HIGHEST + 40;
  static constexpr int kDiscardButton = wxID_HIGHEST + 41;
};

// Tries a waiting handed-over batch again while the program is not free.
class BatchCommands::RetryTimer : public wxTimer {
 public:
  explicit RetryTimer(BatchCommands* owner) : owner_(owner) {}
  void Notify() override { owner_->StartHandedOver(); }

 private:
  BatchCommands* owner_;
};

BatchCommands::BatchCommands(wxFrame* frame, wxDocManager* docs)
    : frame_(frame), docs_(docs), retry_(std::make_unique<RetryTimer>(this)) {
  frame_->Bind(orbEVT_APP_MESSAGE, [this](OrbMessageEvent& e) {
    if (e.Message() != WM_RUN_BATCH_FILE) {
      e.Skip();
      return;
    }
    OnRunBatchFile();
    e.SetResult(0);
  });
  for (int c : {kCmdProcessFiles, kCmdNewBatchFile, kCmdOpenBatchFile, kCmdStartScheduler, kCmdBatchNext}) {
    frame_->Bind(wxEVT_MENU, [this, c](wxCommandEvent&) { OnCommand(c); }, res::WxCommandId(c));
  }
  frame_->Bind(wxEVT_UPDATE_UI, [this](wxUpdateUIEvent& e) {
    // Process files only without an open image; the batch file commands outside batch mode.
    const int c = res::CommandFromWx(e.GetId());
    if (c == kCmdProcessFiles) e.Enable(docs_->GetDocumentsVector().empty() && !g_bBatchMode.load());
    else e.Enable(!g_bBatchMode.load());
  }, res::WxCommandId(kCmdProcessFiles), res::WxCommandId(kCmdStartScheduler));
}

// The hold bar is a child of the frame, which destroys it.
BatchCommands::~BatchCommands() = default;

void BatchCommands::OnCommand(int command) {
  switch (command) {
    case kCmdProcessFiles: ProcessFilesCommand(); break;
    case kCmdNewBatchFile: {
      CBatchFileSetupDlg dlg(frame_, "");
      dlg.ShowModal();
      break;
    }
    case kCmdOpenBatchFile: OpenBatchFileCommand(); break;
    case kCmdStartScheduler: StartScheduler(); break;
    case kCmdBatchNext: BatchNext(); break;
    default: break;
  }
}

void BatchCommands::RefreshScanPage() {
  if (CScanToolsPropPage* page = CScanToolsPropPage::Current()) page->OnSetActive();
}

void BatchCommands::PostNext() { orb::PostAppMessage(HandleOf(frame_), WM_RUN_BATCH_FILE); }

void BatchCommands::OnRunBatchFile() {
  if (held_) {
    const auto docs = docs_->GetDocumentsVector();
    if (std::find(docs.begin(), docs.end(), static_cast<wxDocument*>(held_)) != docs.end()) return;  // still held
    held_ = nullptr;  // the user closed it: the batch goes on
    if (bar_) bar_->Hide();
  }
  if (!run_.Active()) {
    // The command line's batch file.
    if (!g_bBatchMode.load() || g_szBatchFile.empty()) return;
    run_.StartSingle(g_szBatchFile);
    scheduled_ = false;
    BatchNext();
    return;
  }
  const std::string batchFile = run_.Current();
  const int index = run_.TakeNextIndex();
  const batch::EngineGeneral general = batch::ReadEngineGeneral(batchFile);
  scheduled_ = general.scheduled;
  const std::optional<std::string> source = batch::ReadFileEntry(batchFile, index);
  if (!source) {
    BatchNext();
    return;
  }
  if (general.hold) {
    Hold(*source);
    return;
  }
  if (wxStatusBar* bar = frame_->GetStatusBar()) {
    bar->SetStatusText(wxString::Format(Str(kStrProcessingFile), wxString::FromUTF8(*source)), 0);
  }
  CancelFlag = 0;
  orb::SetStatus(orb::StatusBit::Opening);
  batch::RunBatchStep(batchFile, index);
  orb::ClearStatus(orb::StatusBit::Opening);
  CancelFlag = 0;  // Esc moves on to the next file
  if (wxStatusBar* bar = frame_->GetStatusBar()) bar->SetStatusText("", 0);
  PostNext();
}

void BatchCommands::Hold(const std::string& source) {
  // Checked first, so that an unreadable file costs no document window.
  ImageState* probe = batch::OpenBatchSource(source, nullptr);
  if (!probe) {
    PostNext();
    return;
  }
  FreeImageChain(probe);
  auto* doc = dynamic_cast<COrbalonDoc*>(docs_->CreateDocument(wxString::FromUTF8(source), wxDOC_SILENT));
  if (!doc || !doc->WorkingImage()) {
    PostNext();
    return;
  }
  const batch::RecipeResult r = batch::ApplyRecipe(doc->WorkingImage(), batch::ReadRecipe(run_.Current()), nullptr);
  CancelFlag = 0;
  if (r.cancelled) {
    ProgramClose closing;
    doc->SetDiscardChanges(true);
    docs_->CloseDocument(doc, true);  // its closing posts the next file
    return;
  }
  doc->Image().SetWorking(r.working);
  COrbalonViewHint hint(orb::kHintWholeImage);
  doc->UpdateAllViews(nullptr, &hint);
  doc->UpdateTitle();
  held_ = doc;
  if (!bar_) bar_ = new HoldBar(frame_, this);
  bar_->CentreOnParent();
  bar_->Show();
  bar_->Raise();
}

void BatchCommands::CloseHeld(bool save) {
  auto* doc = static_cast<COrbalonDoc*>(held_);
  held_ = nullptr;
  if (bar_) bar_->Hide();
  if (!doc) return;
  if (save) {
    // Over the source in its own format, as an automatic batch saves without a folder or
    // format: the document's own Save would ask for a name for a file it did not read
    // itself, and the answer "Save over the file" must not end in nothing saved.
    const batch::EntryReport r =
        batch::SaveBatchResult(doc->FileImage(), doc->WorkingImage(), batch::EngineGeneral{}, false, nullptr);
    if (r.outcome != batch::EntryOutcome::SavedOver) {
      wxMessageBox(wxString::Format(Str(kStrHoldSaveFailed), wxString::FromUTF8(doc->FileImage()->sourcePath)),
                   Title(), wxOK | wxICON_ERROR, frame_);
    }
  }
  ProgramClose closing;
  doc->SetDiscardChanges(true);
  docs_->CloseDocument(doc, true);
}

void BatchCommands::SaveHeld() { CloseHeld(true); }
void BatchCommands::DiscardHeld() { CloseHeld(false); }

void BatchCommands::BatchNext() {
  const batch::NextAction next = run_.Next(g_szDataFolder, scheduled_);
  scheduled_ = false;
  g_bBatchMode = 0;
  RefreshScanPage();
  switch (next) {
    case batch::NextAction::Start:
      g_bBatchMode = 1;
      g_szBatchFile = run_.Current();
      RefreshScanPage();
      PostNext();
      break;
    case batch::NextAction::QuitScheduled:
      // A program the scheduler started for this batch ends, so the scheduler may start
      // the next due batch; one that was handed the batch (or has more waiting) goes on.
      if (!runningHandedOver_ && handedOver_.empty()) {
        frame_->CallAfter([f = frame_] { f->Close(true); });
        break;
      }
      runningHandedOver_ = false;
      StartHandedOver();
      break;
    case batch::NextAction::Idle:
      runningHandedOver_ = false;
      StartHandedOver();
      break;
  }
}

void BatchCommands::RunHandedOver(const std::string& batchFile) {
  if (batchFile.empty()) return;
  if (run_.Active() && run_.Current() == batchFile) return;
  if (std::find(handedOver_.begin(), handedOver_.end(), batchFile) != handedOver_.end()) return;
  handedOver_.push_back(batchFile);
  StartHandedOver();
}

bool BatchCommands::FreeForHandedOver() const {
  const uint32_t status = AppStatus.load();
  return !g_bBatchMode.load() && !run_.Active() && !held_ &&
         (status & orb::Bits(orb::StatusBit::ScanStateField)) == orb::Bits(orb::ScanState::Idle) &&
         !orb::HasStatus(status, orb::StatusBit::Busy) && (!startCheck_ || startCheck_());
}

void BatchCommands::StartHandedOver() {
  if (handedOver_.empty()) return;
  if (!FreeForHandedOver()) {
    if (!retry_->IsRunning()) retry_->StartOnce(1000);
    return;
  }
  const std::string next = handedOver_.front();
  handedOver_.erase(handedOver_.begin());
  run_.StartSingle(next);
  runningHandedOver_ = true;
  scheduled_ = false;
  BatchNext();
}

void BatchCommands::ProcessFiles(const std::vector<std::string>& chosen, bool hold) {
  const batch::ProcessFilesPlan plan = batch::PlanProcessFiles(chosen);
  std::vector<std::string> list = plan.batchFiles;
  std::vector<std::string> temporary;
  if (!plan.images.empty()) {
    const std::string tmp = batch::MakeProcessFilesBatch(TempFilesFolder(), plan.images, hold);
    if (tmp.empty()) {
      wxMessageBox(wxString::Format(Str(kStrProcessFilesFailed), wxString::FromUTF8(TempFilesFolder())), Title(),
                   wxOK | wxICON_ERROR, frame_);
    } else {
      list.push_back(tmp);
      temporary.push_back(tmp);
    }
  }
  run_.SetList(std::move(list), std::move(temporary));
  scheduled_ = false;
  BatchNext();
}

void BatchCommands::ProcessFilesCommand() {
  wxFileDialog dlg(frame_, Str(kStrProcessFilesTitle), wxString::FromUTF8(MiscSettings.BatchFolder), "",
                   Str(kStrProcessFilesFilter), wxFD_OPEN | wxFD_MULTIPLE | wxFD_FILE_MUST_EXIST);
  if (dlg.ShowModal() != wxID_OK) return;
  wxArrayString paths;
  dlg.GetPaths(paths);
  std::vector<std::string> chosen;
  for (const wxString& p : paths) chosen.push_back(Utf8(p));
  if (!chosen.empty()) orb::SetTextField(MiscSettings.BatchFolder, chosen.front());
  bool hold = false;
  if (!batch::PlanProcessFiles(chosen).images.empty()) {
    hold = wxMessageBox(Str(kStrHoldQuestion), Title(), wxYES_NO | wxICON_QUESTION, frame_) == wxYES;
  }
  ProcessFiles(chosen, hold);
}

void BatchCommands::OpenBatchFileCommand() {
  wxFileDialog dlg(frame_, Str(kStrOpenBatchTitle), "", wxString::FromUTF8(MiscSettings.BatchFolder),
                   Str(kStrBatchFilter), wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (dlg.ShowModal() != wxID_OK) return;
  const std::string path = Utf8(dlg.GetPath());
  orb::SetTextField(MiscSettings.BatchFolder, path);
  if (path.empty()) return;
  CBatchFileSetupDlg setup(frame_, path);
  setup.ShowModal();
}

void BatchCommands::StartScheduler() {
  const std::string program = (std::filesystem::path(g_szProgramFolder) / "plovis").string();
  orb::tools::StartDetached(program, {"plovis"});  // a missing program says nothing
}

BatchCommands* InstallBatchCommands(wxFrame* frame, wxDocManager* docs) {
  delete g_commands;
  g_commands = new BatchCommands(frame, docs);
  return g_commands;
}

void RemoveBatchCommands() {
  delete g_commands;
  g_commands = nullptr;
}

BatchCommands* GetBatchCommands() { return g_commands; }

}  // namespace orb::gui
