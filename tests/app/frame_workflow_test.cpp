#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/FrameCommands.h"
#include "common/Messages.h"
#include "app/ScanDecision.h"
#include "platform/Files.h"

namespace {

// The wait dialog's end codes: OK, Cancel and its Stop button.
static_assert(static_cast<int>(orb::BatchWaitResult::Paper) == 1 && static_cast<int>(orb::BatchWaitResult::Cancelled) == 2 &&
              static_cast<int>(orb::BatchWaitResult::Stop) == 1292);

using namespace orb;

struct Doc {
  ImageState* file = nullptr;
  ImageState* work = nullptr;
  std::string name;
};

class FakeFamily : public ScannerFamilyOps {
 public:
  bool StartScan(ImageState* image) override {
    calls.push_back("start");
    started = image;
    return startOk;
  }
  void StopScan() override { calls.push_back("stop"); }
  bool IsPaperPresent() override {
    calls.push_back("paper?");
    return paper;
  }
  void LoadMedium(bool wait) override { calls.push_back(wait ? "load-wait" : "load"); }
  void UnloadMedium(bool wait) override { calls.push_back(wait ? "unload-wait" : "unload"); }
  void ApplyPaperStaging() override { calls.push_back("staging"); }
  void ApplyPaperTransport() override { calls.push_back("transport"); }
  std::vector<std::string> calls;
  bool startOk = true, paper = true;
  ImageState* started = nullptr;
};

class FakeFrame : public ScanWorkflowHost {
 public:
  ~FakeFrame() override {
    for (auto& d : docs) FreeImageChain(d->file);
  }
  ScannerFamilyOps* ScsiFamily() override { return &scsi; }
  ScannerFamilyOps* KelvaneFamily() override { return nullptr; }
  void ReportAbsent(const std::string& what) override { absent.push_back(what); }
  void ShowScanNotWritten(DocHandle d) override { notWritten.push_back(d); }
  std::vector<DocHandle> Documents() override {
    std::vector<DocHandle> v;
    for (auto& d : docs) v.push_back(d.get());
    ++documentQueries;
    return v;
  }
  DocHandle ActiveDocument() override { return active; }
  void ActivateDocument(DocHandle d) override { active = d; }
  ImageState* WorkingRecord(DocHandle d) override { return static_cast<Doc*>(d)->work; }
  ImageState* FileRecord(DocHandle d) override { return static_cast<Doc*>(d)->file; }
  void SetWorkingRecord(DocHandle d, ImageState* r) override { static_cast<Doc*>(d)->work = r; }
  DocHandle OpenNewDocument() override {
    auto d = std::make_unique<Doc>();
    d->file = d->work = NewImageState();
    d->file->state = VS_NORMAL;
    d->name = "scan";
    active = d.get();
    docs.push_back(std::move(d));
    return active;
  }
  // An opened picture (state 1) made active, as the user would.
  Doc* OpenPicture(const std::string& path) {
    auto d = std::make_unique<Doc>();
    d->file = d->work = NewImageState();
    d->file->state = VS_OPENED;
    d->file->sourcePath = path;
    d->name = path;
    active = d.get();
    docs.push_back(std::move(d));
    return docs.back().get();
  }
  void CloseDocument(DocHandle d) override {
    closes.push_back({static_cast<Doc*>(d)->name, (AppStatus.load() & orb::Bits(orb::StatusBit::ProgramClose)) != 0});
    for (auto it = docs.begin(); it != docs.end(); ++it) {
      if (it->get() == d) {
        FreeImageChain((*it)->file);
        docs.erase(it);
        break;
      }
    }
    active = docs.empty() ? nullptr : docs.back().get();
  }
  bool SaveDocument(DocHandle, const std::string& path) override {
    saves.push_back(path);
    return saveOk;
  }
  void UpdateTitle(DocHandle d) override { titles.push_back(static_cast<Doc*>(d)->name); }
  void ShowMessage(int id) override { messages.push_back(id); }
  bool AskYesNo(int id) override {
    questions.push_back(id);
    return yes;
  }
  void PostToFrame(uint32_t msg, uintptr_t w) override { posted.push_back({msg, w}); }
  void RefreshScanPage() override { ++pageRefreshes; }
  void ToggleBatchScan() override { ScanSettings.BatchScan = !ScanSettings.BatchScan; }
  BatchWaitResult RunBatchWaitDialog() override { return waitResult; }
  bool RotateImageFile() override { return false; }
  void AppendScanLog(const std::string& path, int32_t, int32_t, int32_t, uint8_t rejected, uint32_t,
                     uint8_t edited, int64_t seconds) override {
    log.push_back(path + (rejected ? " rejected" : " accepted") + (edited ? " edited" : "") + " " +
                  std::to_string(seconds));
  }
  std::string NextFileName(const std::string& name) override {
    // Stands in for the file-naming counters: the digit before the extension goes up.
    std::string n = name;
    size_t dot = n.rfind('.');
    if (dot != std::string::npos && dot > 0) ++n[dot - 1];
    return n;
  }
  int64_t NowSeconds() override { return now; }
  void DeleteFile(const std::string& path) override {
    deleted.push_back(path);
    ScanWorkflowHost::DeleteFile(path);
  }

  FakeFamily scsi;
  std::vector<std::unique_ptr<Doc>> docs;
  DocHandle active = nullptr;
  std::vector<std::string> absent, saves, titles, log, deleted;
  std::vector<DocHandle> notWritten;
  std::vector<std::pair<std::string, bool>> closes;
  std::vector<int> messages, questions;
  std::vector<std::pair<uint32_t, uintptr_t>> posted;
  int pageRefreshes = 0, documentQueries = 0;
  BatchWaitResult waitResult = BatchWaitResult::Paper;
  bool saveOk = true, yes = true;
  int64_t now = 1000;
};

class Workflow : public testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = testing::TempDir() + "/frameXXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
    savedScan = ScanSettings;
    ScanSettings = ScanSettingsRecord();
    ScanSettings.ScannerType = 0;
    ScanSettings.BatchScan = 0;
    ScanSettings.PaperEndDetection = 0;
    ScanSettings.MediaHandlingByte = 2;
    Out("Scan-0001.tif");
    AppStatus.store(0);
  }
  void TearDown() override {
    ScanSettings = savedScan;
    AppStatus.store(0);
    std::string cmd = "rm -rf '" + dir + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  void Out(const std::string& name) { ASSERT_TRUE(SetTextField(ScanSettings.OutputFileName, dir + "/" + name)); }
  std::string OutName() { return TextField(ScanSettings.OutputFileName); }
  void Touch(const std::string& path) { std::ofstream(path) << "image"; }
  // Runs a scan to the decision: the new document, the scan start and its completion.
  void ScanToDecision(ScanWorkflow& w) {
    ScanSettings.ScanStartTime = frame.now;
    w.OnNewScanDocument();
    ASSERT_EQ(AppStatus.load() & 3, 1u);
    Touch(OutName());
    frame.now += 42;
    w.OnScanComplete();
    ASSERT_EQ(AppStatus.load() & 3, 2u);
  }

  std::string dir;
  ScanSettingsRecord savedScan;
  FakeFrame frame;
};

// A scan whose file could not be written is a failed scan: nothing to accept, the name
// counter stays, and its document says what happened and stays open with what arrived.
TEST_F(Workflow, AScanThatCouldNotBeWrittenOffersNoDecision) {
  ScanWorkflow w(frame);
  w.OnNewScanDocument();
  ASSERT_EQ(frame.docs.size(), 1u);
  w.OnScanComplete(kScanCompleteNotWritten);
  EXPECT_EQ(AppStatus.load() & 3, 0u);
  ASSERT_EQ(frame.notWritten.size(), 1u);
  EXPECT_EQ(frame.notWritten[0], frame.docs[0].get());
  w.OnScanAcceptPage();
  w.OnScanRejectPage();
  EXPECT_EQ(OutName(), dir + "/Scan-0001.tif");
  EXPECT_EQ(frame.docs.size(), 1u);
  EXPECT_TRUE(frame.closes.empty());
  EXPECT_TRUE(frame.log.empty());
  EXPECT_EQ(AppStatus.load() & 3, 0u);
}

TEST_F(Workflow, ScanThenAcceptAdvancesTheName) {
  ScanWorkflow w(frame);
  ScanToDecision(w);
  ASSERT_EQ(frame.docs.size(), 1u);
  EXPECT_EQ(frame.scsi.started, frame.docs[0]->work);
  EXPECT_EQ(ScanSettings.ScanStartTime, 42);
  w.OnScanAcceptPage();
  EXPECT_EQ(AppStatus.load(), 0u);
  EXPECT_TRUE(frame.docs.empty());
  EXPECT_TRUE(frame.saves.empty());  // not edited: nothing written again
  EXPECT_EQ(OutName(), dir + "/Scan-0002.tif");
  EXPECT_TRUE(FileExists(dir + "/Scan-0001.tif"));
  ASSERT_EQ(frame.closes.size(), 1u);
  EXPECT_FALSE(frame.closes[0].second);  // the editor and indexer may run
  EXPECT_EQ(frame.log, (std::vector<std::string>{dir + "/Scan-0001.tif accepted 42"}));
  // Batch scanning off, paper-end mode word 0, media choice 2: no paper move.
  EXPECT_EQ(frame.scsi.calls, (std::vector<std::string>{"start"}));
}

TEST_F(Workflow, AcceptOfAnEditedScanSavesAndAFailedSaveKeepsTheDecision) {
  ScanWorkflow w(frame);
  ScanToDecision(w);
  frame.docs[0]->work->edited = 1;
  frame.saveOk = false;
  w.OnScanAcceptPage();
  EXPECT_EQ(frame.saves, (std::vector<std::string>{dir + "/Scan-0001.tif"}));
  EXPECT_EQ(AppStatus.load() & 3, 2u);
  EXPECT_EQ(frame.docs.size(), 1u);
  EXPECT_EQ(OutName(), dir + "/Scan-0001.tif");
  EXPECT_TRUE(frame.log.empty());  // the decision has not gone through
  frame.saveOk = true;
  w.OnScanAcceptPage();
  EXPECT_EQ(AppStatus.load() & 3, 0u);
  EXPECT_EQ(OutName(), dir + "/Scan-0002.tif");
  EXPECT_EQ(frame.log.size(), 1u);  // one entry for the one decision
}

TEST_F(Workflow, AcceptKeepsTheOutputEvenWhenALaterVersionNamesIt) {
  ScanWorkflow w(frame);
  ScanToDecision(w);
  Doc* d = frame.docs[0].get();
  d->file->sourcePath = OutName();
  ImageState* v = PushImageState(d->file);  // a tool's version: same source path
  v->operationCode = 2;
  std::string own = dir + "/QelTool.tif";
  Touch(own);
  v->rawPath = own;
  d->work = v;
  w.OnScanAcceptPage();
  EXPECT_TRUE(FileExists(dir + "/Scan-0001.tif"));
  EXPECT_FALSE(FileExists(own));
}

TEST_F(Workflow, RejectDeletesTheOutputAndClosesAsTheProgram) {
  ScanWorkflow w(frame);
  ScanToDecision(w);
  w.OnScanRejectPage();
  EXPECT_EQ(AppStatus.load(), 0u);
  EXPECT_FALSE(FileExists(dir + "/Scan-0001.tif"));
  EXPECT_EQ(OutName(), dir + "/Scan-0001.tif");  // no advance
  ASSERT_EQ(frame.closes.size(), 1u);
  EXPECT_TRUE(frame.closes[0].second);
  EXPECT_EQ(frame.log, (std::vector<std::string>{dir + "/Scan-0001.tif rejected 42"}));
}

TEST_F(Workflow, RescanDropsTheScanAndScansToTheSameName) {
  ScanWorkflow w(frame);
  ScanToDecision(w);
  ImageState* first = frame.docs[0]->work;
  (void)first;
  w.OnScanDiscardRestart();
  EXPECT_EQ(AppStatus.load() & 3, 1u);
  ASSERT_EQ(frame.closes.size(), 1u);
  EXPECT_TRUE(frame.closes[0].second);
  EXPECT_FALSE(FileExists(dir + "/Scan-0001.tif"));
  EXPECT_EQ(OutName(), dir + "/Scan-0001.tif");
  ASSERT_EQ(frame.docs.size(), 1u);
  EXPECT_EQ(frame.scsi.started, frame.docs[0]->work);
  EXPECT_EQ(frame.scsi.calls, (std::vector<std::string>{"start", "start"}));
}

TEST_F(Workflow, FailedStartClosesTheNewDocumentAndGoesIdle) {
  frame.scsi.startOk = false;
  ScanWorkflow w(frame);
  w.OnNewScanDocument();
  EXPECT_EQ(AppStatus.load(), 0u);
  EXPECT_TRUE(frame.docs.empty());
  ASSERT_EQ(frame.closes.size(), 1u);
  EXPECT_TRUE(frame.closes[0].second);
  EXPECT_GE(frame.pageRefreshes, 1);
}

TEST_F(Workflow, BadOutputNamesStopTheScan) {
  struct Case {
    std::string name;
    int message;
  } cases[] = {{"missing/Scan-0001.tif", 33006}, {"afolder", 33007}};
  ASSERT_EQ(mkdir((dir + "/afolder").c_str(), 0777), 0);
  for (const auto& c : cases) {
    frame.messages.clear();
    Out(c.name);
    ScanWorkflow w(frame);
    w.OnNewScanDocument();
    EXPECT_EQ(frame.messages, std::vector<int>{c.message}) << c.name;
    EXPECT_TRUE(frame.docs.empty()) << c.name;
    EXPECT_EQ(AppStatus.load(), 0u) << c.name;
    EXPECT_TRUE(frame.scsi.calls.empty()) << c.name;
  }
}

TEST_F(Workflow, CompletionActsOnTheScansOwnDocument) {
  ScanWorkflow w(frame);
  ScanSettings.ScanStartTime = frame.now;
  w.OnNewScanDocument();
  Doc* scanDoc = frame.docs[0].get();
  frame.OpenPicture(dir + "/other.tif");  // the user opens and activates another image
  w.OnScanComplete();
  EXPECT_EQ(frame.active, scanDoc);
  EXPECT_EQ(frame.titles.back(), "scan");
  w.OnScanAcceptPage();
  ASSERT_EQ(frame.docs.size(), 1u);
  EXPECT_EQ(frame.docs[0]->name, dir + "/other.tif");
}

TEST_F(Workflow, NoScanDocumentNeverLoops) {
  ScanWorkflow w(frame);
  frame.OpenPicture(dir + "/a.tif");
  frame.OpenPicture(dir + "/b.tif");
  AppStatus.store(2);
  w.OnScanAcceptPage();
  EXPECT_EQ(AppStatus.load() & 3, 0u);
  EXPECT_EQ(frame.docs.size(), 2u);
  EXPECT_TRUE(frame.closes.empty());
  EXPECT_LE(frame.documentQueries, 1);
}

TEST_F(Workflow, PaperGateWithoutBatchScanning) {
  struct Case {
    bool paper;
    uintptr_t next;
    std::vector<std::pair<uint32_t, uintptr_t>> posted;
    std::vector<int> messages;
    uint32_t statusAfter;
    std::vector<std::string> calls;
  } cases[] = {
      {true, WM_SCAN_NEW_DOCUMENT, {{WM_SCAN_NEW_DOCUMENT, 0}}, {}, 0, {"paper?"}},
      {false, WM_SCAN_NEW_DOCUMENT, {}, {33010}, 0, {"paper?"}},
      {true, WM_SCAN_DISCARD_RESTART, {{WM_SCAN_DISCARD_RESTART, 0}}, {}, 2, {"load-wait", "paper?"}},
      {false, WM_SCAN_DISCARD_RESTART, {}, {33010}, 2, {"load-wait", "paper?"}},
  };
  for (const auto& c : cases) {
    FakeFrame f;
    f.scsi.paper = c.paper;
    AppStatus.store(c.next == WM_SCAN_DISCARD_RESTART ? 2 : 0);
    ScanWorkflow w(f);
    w.OnScanBatchWait(c.next);
    EXPECT_EQ(f.posted, c.posted);
    EXPECT_EQ(f.messages, c.messages);
    EXPECT_EQ(AppStatus.load() & 3, c.statusAfter);
    EXPECT_EQ(f.scsi.calls, c.calls);
  }
}

TEST_F(Workflow, PaperGateWithBatchScanning) {
  ScanSettings.BatchScan = 1;
  {
    ScanWorkflow w(frame);
    frame.waitResult = BatchWaitResult::Paper;
    w.OnScanBatchWait(WM_SCAN_NEW_DOCUMENT);
    EXPECT_EQ(frame.posted.back(), (std::pair<uint32_t, uintptr_t>{WM_SCAN_NEW_DOCUMENT, 0}));
  }
  {
    // Stop button: the stop is remembered with the settings of the moment.
    ScanWorkflow w(frame);
    frame.waitResult = BatchWaitResult::Stop;
    w.OnScanBatchWait(WM_SCAN_NEW_DOCUMENT);
    EXPECT_TRUE(w.StopRequested());
    EXPECT_TRUE(w.BatchInterrupted());
  }
  {
    // Cancelled while a decision is pending: batch scanning off and the page accepted.
    ScanWorkflow w(frame);
    ScanToDecision(w);
    frame.posted.clear();
    frame.waitResult = BatchWaitResult::Cancelled;
    w.OnScanBatchWait(WM_SCAN_NEW_DOCUMENT);
    EXPECT_EQ(ScanSettings.BatchScan, 0);
    EXPECT_EQ(AppStatus.load() & 3, 0u);
    EXPECT_EQ(OutName(), dir + "/Scan-0002.tif");
  }
}

TEST_F(Workflow, BatchScanLoopPostsTheGateAfterEachPage) {
  ScanSettings.BatchScan = 1;
  ScanSettings.MediaHandlingByte = 1;
  ScanWorkflow w(frame);
  ScanSettings.ScanStartTime = frame.now;
  w.OnNewScanDocument();
  w.OnScanComplete();
  EXPECT_EQ(frame.posted.back(), (std::pair<uint32_t, uintptr_t>{WM_SCAN_BATCH_WAIT, WM_SCAN_NEW_DOCUMENT}));
  EXPECT_EQ(frame.scsi.calls.back(), "unload-wait");
  // A stop during the next scan: completion waits for the decision instead.
  frame.posted.clear();
  w.OnScanAcceptPage();
  w.OnNewScanDocument();
  w.OnScanStop();
  EXPECT_TRUE(w.BatchInterrupted());
  frame.posted.clear();
  w.OnScanComplete();
  EXPECT_TRUE(frame.posted.empty());
  // Unchanged settings: no question, the loop goes on.
  w.OnScanAcceptPage();
  EXPECT_TRUE(frame.questions.empty());
  EXPECT_FALSE(w.BatchInterrupted());
  EXPECT_EQ(frame.posted.back(), (std::pair<uint32_t, uintptr_t>{WM_SCAN_BATCH_WAIT, WM_SCAN_NEW_DOCUMENT}));
}

TEST_F(Workflow, ChangedSettingsAfterABatchStopAreAskedAbout) {
  ScanSettings.BatchScan = 1;
  ScanWorkflow w(frame);
  w.OnNewScanDocument();
  w.OnScanStop();
  w.OnScanComplete();
  ScanSettings.CustomWidth = 1234;  // changed while the decision waited
  frame.yes = false;                // do not keep them
  w.OnScanAcceptPage();
  EXPECT_EQ(frame.questions, std::vector<int>{1254});
  EXPECT_EQ(ScanSettings.CustomWidth, ScanSettingsRecord().CustomWidth);
  EXPECT_EQ(OutName(), dir + "/Scan-0002.tif");  // the output name is not restored
}

TEST_F(Workflow, FamilyDispatch) {
  ScanSettings.ScannerType = 80;
  ScanWorkflow w(frame);
  EXPECT_FALSE(w.StartScan(nullptr));
  EXPECT_FALSE(w.IsPaperPresent());
  ASSERT_EQ(frame.absent.size(), 2u);
  EXPECT_NE(frame.absent[0].find("Kelvane"), std::string::npos);
  w.LoadMedium(true);  // nothing for this family
  ScanSettings.ScannerType = 7;
  EXPECT_FALSE(w.StartScan(nullptr));
  EXPECT_EQ(w.Calibrate(), 0);
  EXPECT_EQ(frame.absent.size(), 2u);
  ScanSettings.ScannerType = 0;
  w.OnApplyPaperStaging();
  w.OnApplyPaperTransport();  // type 1 only
  ScanSettings.ScannerType = 1;
  w.OnApplyPaperTransport();
  EXPECT_EQ(frame.scsi.calls, (std::vector<std::string>{"staging", "transport"}));
}

TEST_F(Workflow, ScannerBusyTogglesTheMediumBit) {
  ScanWorkflow w(frame);
  AppStatus.store(2);
  w.OnScannerBusy(1);
  EXPECT_EQ(AppStatus.load(), 2u | 4u);
  w.OnScannerBusy(0);
  EXPECT_EQ(AppStatus.load(), 2u);
  EXPECT_EQ(frame.pageRefreshes, 2);
}

// ------------------------------------------------------------------ settings snapshot

TEST(SettingsSnapshotTest, WatchedFieldsOnly) {
  struct Case {
    const char* what;
    void (*change)();
    bool changed;
  } cases[] = {
      {"custom width", [] { ScanSettings.CustomWidth += 1; }, true},
      {"gamma", [] { ScanSettings.GammaRed = 2.2f; }, true},
      {"output name", [] { SetTextField(ScanSettings.OutputFileName, "/elsewhere/x.tif"); }, false},
      {"resolution text case", [] { SetTextField(ScanSettings.ResolutionText, "100 DPI"); }, false},
      {"palette file", [] { SetTextField(ScanSettings.Palette16File, "/p/other.apt"); }, true},
      {"model code", [] { ScanSettings.ModelCode += 1; }, false},
      {"sharpen level", [] { SharpenSettings.Level += 1; }, false},
      {"sharpen enabled", [] { SharpenSettings.enabled ^= 1; }, true},
      {"threshold level", [] { BWThresholdSettings.FixedThreshhold += 1; }, true},
      {"editor enabled", [] { EditorSettings.enabled ^= 1; }, true},
  };
  for (const auto& c : cases) {
    ScanSettingsRecord savedScan = ScanSettings;
    auto savedSharpen = SharpenSettings;
    auto savedThreshold = BWThresholdSettings;
    auto savedEditor = EditorSettings;
    SetTextField(ScanSettings.ResolutionText, "100 dpi");
    SettingsSnapshot snap = TakeSettingsSnapshot();
    c.change();
    EXPECT_EQ(SettingsChanged(snap), c.changed) << c.what;
    RestoreSettingsSnapshot(snap, false);
    EXPECT_FALSE(SettingsChanged(snap)) << c.what;
    ScanSettings = savedScan;
    SharpenSettings = savedSharpen;
    BWThresholdSettings = savedThreshold;
    EditorSettings = savedEditor;
  }
}

// ------------------------------------------------------------------ commands

TEST(FrameCommandsTest, ButtonsByCommandAndState) {
  struct Case {
    int command;
    uint32_t status;
    int32_t model;
    std::vector<int> pressed;
  } cases[] = {
      {32797, 0, 5, {32774}},   {32797, 1, 5, {}},         {32797, 2, 5, {32774}},
      {32798, 0, 5, {}},        {32798, 1, 5, {32774}},    {32799, 2, 5, {32775}},
      {32799, 0, 5, {}},        {32800, 2, 5, {32776}},    {40031, 0, 5, {1143}},
      {40031, 1, 5, {}},        {40032, 2, 5, {1142}},     {40038, 2, 5, {32775}},
      {40038, 0, 5, {32774}},   {40038, 2, 20, {32775, 32774}}, {40038, 0, 17, {32774}},
      {40038, 1, 20, {}},       {12345, 0, 5, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ButtonsPressedBy(c.command, c.status, c.model), c.pressed) << c.command << "/" << c.status;
  }
}

TEST(FrameCommandsTest, UpdateHandlersTable) {
  using namespace frame_cmds;
  CommandContext doc;
  doc.hasDocument = true;
  doc.workingState = 1;
  CommandContext scanDoc = doc;
  scanDoc.workingState = 0;
  CommandContext busy = doc;
  busy.status = 0x100;
  CommandContext scanning = doc;
  scanning.status = 1;
  CommandContext batch = doc;
  batch.batchMode = true;
  CommandContext none;
  CommandContext edited = doc;
  edited.edited = true;
  CommandContext mail = doc;
  mail.mailAvailable = true;
  struct Case {
    int command;
    const CommandContext* ctx;
    bool enabled;
  } cases[] = {
      {kFileClose, &doc, true},      {kFileClose, &scanDoc, false}, {kFileClose, &batch, false},
      {kFileClose, &busy, false},    {kFileClose, &scanning, false}, {kFileSave, &doc, false},
      {kFileSave, &edited, true},    {kSaveAs, &none, false},        {kSaveAs, &doc, true},
      {kFileOpen, &batch, false},    {kFileOpen, &none, true},       {kAppExit, &scanning, false},
      {kSendMail, &doc, false},      {kSendMail, &mail, true},       {kFilePrintSetup, &busy, false},
      {kSavePreset, &none, true},    {kFilePrint, &none, false},
  };
  for (const auto& c : cases) {
    auto ui = UpdateCommand(c.command, *c.ctx);
    ASSERT_TRUE(ui.has_value()) << c.command;
    EXPECT_EQ(ui->enabled, c.enabled) << c.command;
  }
  // Undo names the operation and ignores the busy bits.
  CommandContext crop = busy;
  crop.operationCode = 9;
  auto undo = UpdateCommand(kUndo, crop);
  EXPECT_TRUE(undo->enabled);
  EXPECT_EQ(undo->textId, 33043);
  undo = UpdateCommand(kUndo, doc);
  EXPECT_FALSE(undo->enabled);
  EXPECT_EQ(undo->textId, 33020);
  EXPECT_EQ(UndoLabelFor(99).stringId, 0);
  // The magnifier is refused for a thresholded black-and-white scan.
  CommandContext bw = scanDoc;
  bw.kind = 4;
  bw.thresholdBlocksMagnifier = true;
  bw.magnifierFlag = 1;
  auto mag = UpdateCommand(kMagnifier, bw);
  EXPECT_FALSE(mag->enabled);
  EXPECT_TRUE(mag->clearMagnifierFlag);
  EXPECT_FALSE(UpdateCommand(kMagnifier, none).has_value());
}

TEST(FrameCommandsTest, StopAcceptAndRejectAreOfferedOnlyInTheirScanState) {
  using namespace frame_cmds;
  const uint32_t scanning = Bits(ScanState::Scanning), pending = Bits(ScanState::DecisionPending);
  const struct {
    uint32_t status;
    bool stop, decide;
  } cases[] = {
      {0, false, false},                                  // idle
      {scanning, true, false},                            // a scan runs
      {pending, false, true},                             // the scan waits for the decision
      {pending | Bits(StatusBit::Opening), false, false},  // busy meanwhile
      {Bits(StatusBit::MediumMoving), false, false},      // the medium moves, no scan
  };
  for (const auto& c : cases) {
    CommandContext ctx;
    ctx.status = c.status;
    ctx.hasDocument = true;
    EXPECT_EQ(UpdateCommand(kPressStop, ctx)->enabled, c.stop) << c.status;
    EXPECT_EQ(UpdateCommand(kPressAccept, ctx)->enabled, c.decide) << c.status;
    EXPECT_EQ(UpdateCommand(kPressReject, ctx)->enabled, c.decide) << c.status;
  }
}

TEST(FrameCommandsTest, MailGoesThroughTheDesktop) {
  EXPECT_EQ(MailCommand("/a b/c.tif"), (std::vector<std::string>{"xdg-email", "--attach", "/a b/c.tif"}));
  EXPECT_FALSE(MailFailed(0));
  EXPECT_TRUE(MailFailed(3));
  EXPECT_NE(DiskWritesSwitchText(true).find("DISABLED"), std::string::npos);
  EXPECT_NE(DisplaySwitchText(false).find("enabled"), std::string::npos);
  int avg[3] = {1, 2, 3}, mn[3] = {0, 0, 0}, mx[3] = {255, 255, 255};
  EXPECT_NE(RgbStatisticsText(avg, mn, mx).find(" Avg:    001      002       003   \n"), std::string::npos);
}

// ------------------------------------------------------------------ paper-sensor poll

class FakeSensor : public PaperSensorPort {
 public:
  bool SetPaperTransport(int mode) override {
    calls.push_back("transport " + std::to_string(mode));
    return true;
  }
  bool SwitchSensorDiagnostic(bool) override {
    calls.push_back("switch");
    return true;
  }
  std::optional<uint8_t> ReadSensorByte() override {
    calls.push_back("read");
    if (next >= bytes.size()) return std::nullopt;
    return bytes[next++];
  }
  std::vector<std::string> calls;
  std::vector<uint8_t> bytes;
  size_t next = 0;
};

TEST(PaperSensorPollTest, OneScanPerSheetAndNoWaitOnTheCaller) {
  FakeSensor port;
  port.bytes = {0, 1, 3, 2, 0, 0, 4};  // clear, covered x3, clear (press), clear, other bit
  PaperSensorPoll poll(port);
  poll.Toggle();
  EXPECT_EQ(port.calls, std::vector<std::string>{"transport 1"});
  int presses = 0, pressTick = -1;
  int64_t now = 0;
  for (int tick = 0; tick < 14; ++tick, now += PaperSensorPoll::kTickMs) {
    if (poll.Tick(now, 0)) {
      ++presses;
      pressTick = tick;
    }
  }
  EXPECT_EQ(presses, 1);
  EXPECT_EQ(pressTick, 9);  // the read of the fifth byte, the first clear one after paper
  poll.Toggle();
  EXPECT_EQ(port.calls.back(), "transport 0");
  EXPECT_FALSE(poll.Tick(now, 0));
}

TEST(PaperSensorPollTest, ScannerLeftAloneWhileScanningMovingOrBusy) {
  for (uint32_t status : {1u, 4u, 2u | 4u, 0x100u, 0x200u}) {
    FakeSensor port;
    port.bytes = {1, 0};
    PaperSensorPoll poll(port);
    poll.Toggle();
    port.calls.clear();
    for (int tick = 0; tick < 6; ++tick) EXPECT_FALSE(poll.Tick(tick * 100, status));
    EXPECT_TRUE(port.calls.empty()) << status;
  }
  // A reading begun before a scan started is dropped, not finished.
  FakeSensor port;
  port.bytes = {0};
  PaperSensorPoll poll(port);
  poll.Toggle();
  poll.Tick(0, 0);           // switch
  poll.Tick(100, 1);         // scan runs: nothing
  poll.Tick(200, 0);         // switch again
  EXPECT_EQ(port.calls, (std::vector<std::string>{"transport 1", "switch", "switch"}));
  // Too early for the result: not read yet.
  EXPECT_FALSE(poll.Tick(220, 0));
  EXPECT_EQ(port.calls.back(), "switch");
}

TEST(PaperSensorPollTest, RescanWhileADecisionWaits) {
  FakeSensor port;
  port.bytes = {1, 0};
  PaperSensorPoll poll(port);
  poll.Toggle();
  bool pressed = false;
  for (int tick = 0; tick < 4; ++tick) pressed |= poll.Tick(tick * 100, 2);
  EXPECT_TRUE(pressed);
  EXPECT_EQ(ButtonsPressedBy(frame_cmds::kScannerButton, 2, 5), std::vector<int>{32774});
}

// ------------------------------------------------------------------ undo

TEST(UndoTest, NeverDeletesTheUsersFileAndCarriesTheRegion) {
  std::string tmpl = testing::TempDir() + "/undoXXXXXX";
  ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
  std::string dir = tmpl;
  std::string user = dir + "/photo.tif", temp = dir + "/QelA.tif";
  std::ofstream(user) << "u";
  std::ofstream(temp) << "t";
  struct Case {
    uint32_t code;
    PixelRect expected;
  } cases[] = {
      {1, {70, 5, 90, 20}},                      // mirror: columns 10..29 of 100 become 70..89
      {2, {10, 5, 30, 20}},                      // invert: carried as it is
      {9, {0, 0, 99, 49}},                       // crop: the previous region stays
      {7, {0, 0, 99, 49}},
  };
  for (const auto& c : cases) {
    ImageState* first = NewImageState();
    first->sourcePath = user;
    first->width = 100;
    first->height = 50;
    first->region = {0, 0, 99, 49};
    ImageState* v = PushImageState(first);
    v->operationCode = c.code;
    v->region = {10, 5, 30, 20};
    v->rawPath = temp;
    std::vector<std::string> deleted;
    ImageState* back = UndoNewestVersion(v, [&](const std::string& p) { deleted.push_back(p); });
    ASSERT_EQ(back, first);
    EXPECT_EQ(first->next, nullptr);
    EXPECT_EQ(deleted, std::vector<std::string>{temp}) << c.code;
    EXPECT_EQ(first->region.left, c.expected.left) << c.code;
    EXPECT_EQ(first->region.right, c.expected.right) << c.code;
    EXPECT_EQ(first->region.top, c.expected.top) << c.code;
    FreeImageChain(first);
  }
  // Nothing to undo.
  ImageState* only = NewImageState();
  EXPECT_EQ(UndoNewestVersion(only, [](const std::string&) { FAIL(); }), nullptr);
  FreeImageChain(only);
  EXPECT_TRUE(FileExists(user));
  std::string cmd = "rm -rf '" + dir + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
}

}  // namespace
