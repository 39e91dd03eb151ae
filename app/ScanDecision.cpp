#include "app/ScanDecision.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "common/Messages.h"
#include "engine/ScanLog.h"
#include "platform/Files.h"
#include "tools/ToolDocumentHost.h"
#include "tools/transform/ScanTools.h"

namespace orb {
namespace {

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool FolderIsWritable(const std::string& folder) {
  return IsDirectory(folder) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool SameTextNoCase(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
    if (a[i] == 0) return true;
  }
  return true;
}

template <class R>
uint8_t ByteAt(const R& r, size_t offset) {
  return EncodeRecord(r)[offset];
}

}  // namespace

void ScanWorkflowHost::AppendScanLog(const std::string& path, int32_t width, int32_t height,
                                     int32_t dpi, uint8_t rejected, uint32_t kind, uint8_t edited,
                                     int64_t seconds) {
  ::AppendScanLog(path, width, height, dpi, rejected, kind, edited, seconds);
}

void ScanWorkflowHost::DeleteFile(const std::string& path) { std::remove(path.c_str()); }

uint32_t AcceptedFileFormat(const ImageState& image) {
  return ChosenOutputFormat(ScanSettings, image.kind == IK_BW_SAVED_AS_4 ? IK_BW : image.kind);
}

ScanWorkflowHost::SplitOutcome SplitScanForAccept(const std::string& scanPath) {
  using tools::SplitResult;
  using Outcome = ScanWorkflowHost::SplitOutcome;
  ImageState* image = tools::ActiveToolImage();
  if (!image) return Outcome::NotApplicable;
  switch (tools::SplitAcceptedScan(scanPath, AcceptedFileFormat(*image))) {
    case SplitResult::Split: return Outcome::Split;
    case SplitResult::NoImage: return Outcome::NotApplicable;
    case SplitResult::Cancelled:
    case SplitResult::NoRoom:
    case SplitResult::Failed: return Outcome::Kept;
  }
  return Outcome::Kept;
}

// ------------------------------------------------------------------ settings snapshot

SettingsSnapshot TakeSettingsSnapshot() {
  SettingsSnapshot s;
  s.scan = ScanSettings;
  s.sharpen = SharpenSettings;
  s.gamma = GammaSettings;
  s.brightCont = BrightContSettings;
  s.bwPoint = BWPointSettings;
  s.noiseRemoval = DescreenSettings;
  s.threshold = BWThresholdSettings;
  s.despeckle = DespeckleSettings;
  s.rotate = Rotate90Settings;
  s.palette = PaletteSettings;
  s.editor = EditorSettings;
  s.indexer = IndexSettings;
  return s;
}

bool SettingsChanged(const SettingsSnapshot& snap) {
  const ScanSettingsRecord& a = ScanSettings;
  const ScanSettingsRecord& b = snap.scan;
  if (a.WindowVendorOption != b.WindowVendorOption || a.StagingPosition != b.StagingPosition ||
      a.MediaHandlingByte != b.MediaHandlingByte || a.ResolutionIndex != b.ResolutionIndex)
    return true;
  if (!SameTextNoCase(a.ResolutionText, b.ResolutionText, sizeof a.ResolutionText)) return true;
  const int32_t ai[] = {a.SizeMode, a.PaperSizeIndex, a.Landscape, a.CustomWidth, a.CustomLength,
                        a.ColourMode, a.WhiteLevel, a.BlackLevel, a.ScanBrightness, a.ScanSpeed,
                        a.LeftOffsetMode};
  const int32_t bi[] = {b.SizeMode, b.PaperSizeIndex, b.Landscape, b.CustomWidth, b.CustomLength,
                        b.ColourMode, b.WhiteLevel, b.BlackLevel, b.ScanBrightness, b.ScanSpeed,
                        b.LeftOffsetMode};
  if (!std::equal(std::begin(ai), std::end(ai), std::begin(bi))) return true;
  if (a.GammaRed != b.GammaRed || a.GammaGreen != b.GammaGreen || a.GammaBlue != b.GammaBlue) return true;
  if (a.AutoPalette16 != b.AutoPalette16 || a.AutoPalette256 != b.AutoPalette256) return true;
  if (!SameTextNoCase(a.Palette16File, b.Palette16File, sizeof a.Palette16File) ||
      !SameTextNoCase(a.Palette256File, b.Palette256File, sizeof a.Palette256File))
    return true;
  if (a.FormatIndexRgb != b.FormatIndexRgb || a.FormatIndexPalette != b.FormatIndexPalette ||
      a.FormatIndexGrey != b.FormatIndexGrey || a.FormatIndexBilevel != b.FormatIndexBilevel ||
      a.UnloadMode != b.UnloadMode || a.RgbControl != b.RgbControl)
    return true;
  // Tool records count by their enable byte, the threshold record by every byte.
  if (ByteAt(SharpenSettings, 4) != ByteAt(snap.sharpen, 4) || ByteAt(GammaSettings, 4) != ByteAt(snap.gamma, 4) ||
      ByteAt(BrightContSettings, 8) != ByteAt(snap.brightCont, 8) ||
      ByteAt(BWPointSettings, 8) != ByteAt(snap.bwPoint, 8) ||
      ByteAt(DescreenSettings, 4) != ByteAt(snap.noiseRemoval, 4))
    return true;
  if (EncodeRecord(BWThresholdSettings) != EncodeRecord(snap.threshold)) return true;
  return ByteAt(DespeckleSettings, 8) != ByteAt(snap.despeckle, 8) ||
         ByteAt(Rotate90Settings, 4) != ByteAt(snap.rotate, 4) ||
         ByteAt(PaletteSettings, 4) != ByteAt(snap.palette, 4) ||
         ByteAt(EditorSettings, 0) != ByteAt(snap.editor, 0) ||
         ByteAt(IndexSettings, 0) != ByteAt(snap.indexer, 0);
}

void RestoreSettingsSnapshot(const SettingsSnapshot& snap, bool restoreOutputName) {
  ScanSettingsRecord& a = ScanSettings;
  const ScanSettingsRecord& b = snap.scan;
  a.WindowVendorOption = b.WindowVendorOption;
  a.StagingPosition = b.StagingPosition;
  a.MediaHandlingByte = b.MediaHandlingByte;
  a.ResolutionIndex = b.ResolutionIndex;
  std::memcpy(a.ResolutionText, b.ResolutionText, sizeof a.ResolutionText);
  a.SizeMode = b.SizeMode;
  a.PaperSizeIndex = b.PaperSizeIndex;
  a.Landscape = b.Landscape;
  a.CustomWidth = b.CustomWidth;
  a.CustomLength = b.CustomLength;
  a.ColourMode = b.ColourMode;
  a.WhiteLevel = b.WhiteLevel;
  a.BlackLevel = b.BlackLevel;
  a.ScanBrightness = b.ScanBrightness;
  a.ScanSpeed = b.ScanSpeed;
  a.LeftOffsetMode = b.LeftOffsetMode;
  a.GammaRed = b.GammaRed;
  a.GammaGreen = b.GammaGreen;
  a.GammaBlue = b.GammaBlue;
  a.AutoPalette16 = b.AutoPalette16;
  a.AutoPalette256 = b.AutoPalette256;
  std::memcpy(a.Palette16File, b.Palette16File, sizeof a.Palette16File);
  std::memcpy(a.Palette256File, b.Palette256File, sizeof a.Palette256File);
  a.FormatIndexRgb = b.FormatIndexRgb;
  a.FormatIndexPalette = b.FormatIndexPalette;
  a.FormatIndexGrey = b.FormatIndexGrey;
  a.FormatIndexBilevel = b.FormatIndexBilevel;
  a.UnloadMode = b.UnloadMode;
  a.RgbControl = b.RgbControl;
  if (restoreOutputName) std::memcpy(a.OutputFileName, b.OutputFileName, sizeof a.OutputFileName);
  SharpenSettings = snap.sharpen;
  GammaSettings = snap.gamma;
  BrightContSettings = snap.brightCont;
  BWPointSettings = snap.bwPoint;
  DescreenSettings = snap.noiseRemoval;
  BWThresholdSettings = snap.threshold;
  DespeckleSettings = snap.despeckle;
  Rotate90Settings = snap.rotate;
  PaletteSettings = snap.palette;
  EditorSettings = snap.editor;
  IndexSettings = snap.indexer;
}

// ------------------------------------------------------------------ files of a version

std::vector<std::string> FilesOwnedBy(const ImageState* record, const std::vector<std::string>& keep) {
  std::vector<std::string> out;
  if (!record) return out;
  // The palette file of a version a tool made (a conversion's ".apt.tmp") goes with it; the
  // scan's own palette file is the scan settings' and stays.
  const std::string none;
  const std::string& palette = record->prev ? record->paletteFilePath : none;
  for (const std::string* p : {&record->sourcePath, &record->rawPath, &palette}) {
    if (p->empty()) continue;
    if (std::find(keep.begin(), keep.end(), *p) != keep.end()) continue;
    if (std::find(out.begin(), out.end(), *p) != out.end()) continue;
    bool older = false;
    for (const ImageState* o = record->prev; o && !older; o = o->prev)
      older = o->sourcePath == *p || o->rawPath == *p || o->paletteFilePath == *p;
    if (!older) out.push_back(*p);
  }
  return out;
}

// ------------------------------------------------------------------ family dispatch

ScanWorkflow::ScanWorkflow(ScanWorkflowHost& host, ScanSettingsRecord& settings)
    : host_(host), s_(settings) {}

ScannerFamilyOps* ScanWorkflow::Family(const char* operation) {
  if (s_.ScannerType == 0 || s_.ScannerType == 1) {
    ScannerFamilyOps* f = host_.ScsiFamily();
    if (!f) host_.ReportAbsent(std::string("SCSI scanner family (") + operation + ")");
    return f;
  }
  if (s_.ScannerType == 80) {
    ScannerFamilyOps* f = host_.KelvaneFamily();
    if (!f) host_.ReportAbsent(std::string("Kelvane scanner family (") + operation + ")");
    return f;
  }
  return nullptr;
}

bool ScanWorkflow::StartScan(ImageState* image) {
  ScannerFamilyOps* f = Family("scan");
  return f ? f->StartScan(image) : false;
}
void ScanWorkflow::StopScan() {
  if (ScannerFamilyOps* f = Family("stop")) f->StopScan();
}
bool ScanWorkflow::IsPaperPresent() {
  ScannerFamilyOps* f = Family("paper sensor");
  return f ? f->IsPaperPresent() : false;
}
// Paper moves and paper settings belong to the SCSI family alone.
void ScanWorkflow::LoadMedium(bool wait) {
  if (s_.ScannerType == 0 || s_.ScannerType == 1) {
    if (ScannerFamilyOps* f = Family("load")) f->LoadMedium(wait);
  }
}
void ScanWorkflow::UnloadMedium(bool wait) {
  if (s_.ScannerType == 0 || s_.ScannerType == 1) {
    if (ScannerFamilyOps* f = Family("unload")) f->UnloadMedium(wait);
  }
}
int ScanWorkflow::AlignScanner() {
  ScannerFamilyOps* f = Family("alignment");
  return f ? f->AlignScanner() : 0;
}
int ScanWorkflow::ShowDiagnostics() {
  ScannerFamilyOps* f = Family("diagnostics");
  return f ? f->ShowDiagnostics() : 0;
}
int ScanWorkflow::Calibrate() {
  ScannerFamilyOps* f = Family("calibration");
  return f ? f->Calibrate() : 0;
}
void ScanWorkflow::OnApplyPaperStaging() {
  if (s_.ScannerType == 0 || s_.ScannerType == 1) {
    if (ScannerFamilyOps* f = Family("paper staging")) f->ApplyPaperStaging();
  }
}
void ScanWorkflow::OnApplyPaperTransport() {
  if (s_.ScannerType == 1) {
    if (ScannerFamilyOps* f = Family("paper transport")) f->ApplyPaperTransport();
  }
}

// ------------------------------------------------------------------ the scan document

DocHandle ScanWorkflow::ActivateScanDocument() {
  // The document this workflow opened for the scan first, then any document whose working
  // record has state 0. Each open document is looked at once: no document, no loop.
  std::vector<DocHandle> docs = host_.Documents();
  DocHandle found = nullptr;
  auto isScan = [&](DocHandle d) {
    ImageState* w = host_.WorkingRecord(d);
    return w && w->state == 0;
  };
  if (scanDoc_ && std::find(docs.begin(), docs.end(), scanDoc_) != docs.end() && isScan(scanDoc_)) {
    found = scanDoc_;
  } else {
    for (DocHandle d : docs) {
      if (isScan(d)) {
        found = d;
        break;
      }
    }
  }
  if (found && host_.ActiveDocument() != found) host_.ActivateDocument(found);
  return found;
}

ImageState* ScanWorkflow::DropLaterVersions(DocHandle doc, const std::vector<std::string>& keep) {
  ImageState* file = host_.FileRecord(doc);
  if (!file) return nullptr;
  host_.SetWorkingRecord(doc, file);
  while (file->next) {
    ImageState* last = GetLastImageState(file);
    for (const auto& f : FilesOwnedBy(last, keep)) host_.DeleteFile(f);
    FreeImageState(last);
  }
  return file;
}

// ------------------------------------------------------------------ the scan messages

void ScanWorkflow::OnScanBatchWait(uintptr_t next) {
  if (!s_.BatchScan) {
    if (next == WM_SCAN_DISCARD_RESTART) LoadMedium(true);
    if (IsPaperPresent()) {
      host_.PostToFrame(static_cast<uint32_t>(next));
    } else {
      host_.ShowMessage(frame_strings::kNoPaper);
      if (next != WM_SCAN_DISCARD_RESTART) {
        SetScanState(ScanState::Idle);
        host_.RefreshScanPage();
      }
    }
    return;
  }
  const BatchWaitResult result = host_.RunBatchWaitDialog();
  const bool pending = CurrentScanState() == ScanState::DecisionPending;
  switch (result) {
    case BatchWaitResult::Paper:
      if (!pending) {
        host_.PostToFrame(WM_SCAN_NEW_DOCUMENT);
      } else if (batchInterrupted_) {
        if (next == WM_SCAN_DISCARD_RESTART) {
          LoadMedium(true);
          host_.PostToFrame(WM_SCAN_DISCARD_RESTART);
          batchInterrupted_ = false;
        }
      } else {
        OnScanAcceptPage();
      }
      break;
    case BatchWaitResult::Cancelled:
      host_.ToggleBatchScan();
      if (pending) OnScanAcceptPage();
      break;
    case BatchWaitResult::Stop:
      stopRequested_ = true;
      batchInterrupted_ = true;
      snapshot_ = TakeSettingsSnapshot();
      break;
  }
}

void ScanWorkflow::OnNewScanDocument() {
  const std::string out = TextField(s_.OutputFileName);
  auto stop = [&](int message) {
    host_.ShowMessage(message);
    // A rescan whose old document is gone has nothing left to decide on.
    if (CurrentScanState() == ScanState::DecisionPending && !ActivateScanDocument()) {
      SetScanState(ScanState::Idle);
      host_.RefreshScanPage();
    }
  };
  if (!FolderIsWritable(FolderOf(out))) return stop(frame_strings::kBadFolder);
  // Scanning into a folder's name would fail at the end of the scan or, worse, be taken for
  // a file; the scan does not start.
  if (out.empty() || IsDirectory(out)) return stop(frame_strings::kNameIsFolder);

  SetScanState(ScanState::Scanning);
  DocHandle doc = host_.OpenNewDocument();
  stopRequested_ = false;
  bool started = false;
  if (doc) {
    scanDoc_ = doc;
    started = StartScan(host_.WorkingRecord(doc));
    if (!started) {
      SetStatus(StatusBit::ProgramClose);
      host_.CloseDocument(doc);
      scanDoc_ = nullptr;
    }
  }
  if (!started) AppStatus.store(0);
  host_.RefreshToolPages();
  host_.RefreshScanPage();
  host_.RefreshViewAndThumbnails();
  if (DocHandle active = host_.ActiveDocument()) {
    host_.UpdateTitle(active);
    host_.CentreMagnifier(active);
  }
}

void ScanWorkflow::OnScanStop() {
  stopRequested_ = true;
  if (s_.BatchScan) {
    batchInterrupted_ = true;
    // The settings as they are now are what the next decision compares against.
    snapshot_ = TakeSettingsSnapshot();
  }
  StopScan();
}

void ScanWorkflow::OnScanComplete(uintptr_t outcome) {
  // The scan's own document, whichever document the user made active meanwhile.
  DocHandle doc = ActivateScanDocument();
  s_.ScanStartTime = host_.NowSeconds() - s_.ScanStartTime;
  if (doc && outcome == kScanCompleteNotWritten) {
    // Nothing to accept: the file is not there. What arrived stays in the document, which
    // says what happened and can still be saved elsewhere; the name counter stays.
    SetScanState(ScanState::Idle);
    host_.ShowScanNotWritten(doc);
    host_.UpdateTitle(doc);
    host_.RefreshScanPage();
    host_.RefreshViewAndThumbnails();
    return;
  }
  if (!doc) {
    SetScanState(ScanState::Idle);
    host_.RefreshScanPage();
    return;
  }
  SetScanState(ScanState::DecisionPending);
  host_.UpdateTitle(doc);
  host_.RefreshScanPage();
  if (s_.PaperEndDetection == 1 && s_.MediaHandlingByte == 0) LoadMedium(false);
  host_.RefreshViewAndThumbnails();
  host_.RefreshToolPages();
  if (PaletteSettings.enabled && !host_.PaletteOptionChecked()) {
    if (!host_.ConvertToPalette()) host_.ReportAbsent("palette conversion tool");
    host_.RefreshToolControls();
  }
  if (Rotate90Settings.enabled && !host_.RotateImageFile()) host_.ReportAbsent("rotate tool");
  if (s_.BatchScan && !stopRequested_) {
    if (s_.MediaHandlingByte == 1) UnloadMedium(true);
    host_.PostToFrame(WM_SCAN_BATCH_WAIT, WM_SCAN_NEW_DOCUMENT);
  }
}

void ScanWorkflow::OnScanDiscardRestart() {
  DocHandle doc = ActivateScanDocument();
  if (doc) {
    ImageState* file = DropLaterVersions(doc, {});
    for (const auto& f : FilesOwnedBy(file)) host_.DeleteFile(f);
    SetStatus(StatusBit::ProgramClose);
    host_.CloseDocument(doc);
    ClearStatus(StatusBit::ProgramClose);
    scanDoc_ = nullptr;
  }
  const std::string out = TextField(s_.OutputFileName);
  if (!out.empty() && !IsDirectory(out)) host_.DeleteFile(out);
  OnNewScanDocument();
}

void ScanWorkflow::OnScanAcceptPage() { Decide(true); }
void ScanWorkflow::OnScanRejectPage() { Decide(false); }

void ScanWorkflow::Decide(bool accept) {
  // Only a finished scan waits for a decision (a failed one never does).
  if (CurrentScanState() != ScanState::DecisionPending) return;
  DocHandle doc = ActivateScanDocument();
  if (!doc) {
    // Nothing waits for a decision any more.
    SetScanState(ScanState::Idle);
    host_.RefreshScanPage();
    return;
  }
  ImageState* work = host_.WorkingRecord(doc);
  ImageState* file = host_.FileRecord(doc);
  const bool edited = (work && work->edited) || (file && file->next);
  const std::string out = TextField(s_.OutputFileName);
  // The log entry describes the scan as it waited for the decision; it is written once the
  // decision goes through, so that a decision that has to wait (a failed save or split)
  // is not logged twice.
  std::function<void()> logEntry = [] {};
  if (work) {
    logEntry = [this, path = work->sourcePath.empty() ? out : work->sourcePath, w = work->width, h = work->height,
                dpi = work->xDpi, kind = work->kind, accept, edited, seconds = s_.ScanStartTime] {
      host_.AppendScanLog(path, w, h, dpi, accept ? 0 : 1, kind, edited ? 1 : 0, seconds);
    };
  }

  bool split = false;
  if (accept) {
    if (work && work->state == 0 && s_.PaperEndDetection == 1 && AcceptAs2ImagesSettings.enabled) {
      switch (host_.SplitIntoTwoPages(out)) {
        case ScanWorkflowHost::SplitOutcome::Split: split = true; break;
        // The scan stays as it was, waiting for the decision: the user may make room, turn
        // the split off or reject it. Nothing is accepted that was not written.
        case ScanWorkflowHost::SplitOutcome::Kept: return;
        case ScanWorkflowHost::SplitOutcome::Absent: host_.ReportAbsent("two-page split tool"); break;
        case ScanWorkflowHost::SplitOutcome::NotApplicable: break;
      }
    }
    if (!split && edited && !host_.SaveDocument(doc, out)) return;  // stays pending
  }
  logEntry();

  // The scanned output is the user's file now (accept) or goes (reject); later versions
  // never take it with them.
  std::vector<std::string> keep = {out};
  if (file) keep.push_back(file->sourcePath);
  file = DropLaterVersions(doc, keep);
  if (file && !file->rawPath.empty() && file->rawPath != out && file->rawPath != file->sourcePath)
    host_.DeleteFile(file->rawPath);

  if (accept) {
    std::string next = host_.NextFileName(out);
    if (split) next = host_.NextFileName(next);
    SetTextField(s_.OutputFileName, next);  // a name too long for the field keeps the old one
    host_.CloseDocument(doc);
  } else {
    SetStatus(StatusBit::ProgramClose);
    host_.CloseDocument(doc);
    ClearStatus(StatusBit::ProgramClose);
    if (!out.empty() && !IsDirectory(out)) host_.DeleteFile(out);
  }
  scanDoc_ = nullptr;
  SetScanState(ScanState::Idle);
  host_.RefreshScanPage();

  if (s_.BatchScan) {
    if (batchInterrupted_) {
      batchInterrupted_ = false;
      if (SettingsChanged(snapshot_) && !host_.AskYesNo(frame_strings::kKeepChangedSettings)) {
        RestoreSettingsSnapshot(snapshot_, false);
        host_.RefreshScanPage();
        host_.RefreshToolControls();
      }
    }
    host_.PostToFrame(WM_SCAN_BATCH_WAIT, WM_SCAN_NEW_DOCUMENT);
  } else if (s_.PaperEndDetection == 0) {
    if (s_.MediaHandlingByte == 0) LoadMedium(true);
    else if (s_.MediaHandlingByte == 1) UnloadMedium(true);
  }
}

void ScanWorkflow::OnScannerBusy(uintptr_t busy) {
  PutStatus(StatusBit::MediumMoving, busy != 0);
  host_.ValidateCustomArea();
  host_.RefreshScanPage();
}

}  // namespace orb
