// The main frame's scan workflow without a display: the scan messages from the scan output
// page, the scan threads and the frame itself, the scan state in AppStatus
// (0 idle -> 1 scanning -> 2 decision pending -> 0), the paper gate before a scan, the
// decision after it (accept, reject, scan again), the dispatch of scanner operations to the
// configured family and the settings snapshot of batch scanning.
//
// Everything the workflow needs of the program around it (documents, the scanner family's
// routines, the tools, message boxes, the scan output page, the batch wait dialog) goes
// through ScanWorkflowHost, which the frame implements over the toolkit and tests implement
// with recorders.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/ImageState.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "scanning/ScannerFamilyOps.h"

namespace orb {

// Message strings of the workflow.
namespace frame_strings {
inline constexpr int kBadFolder = 33006;
inline constexpr int kNameIsFolder = 33007;
inline constexpr int kNoPaper = 33010;
inline constexpr int kKeepChangedSettings = 1254;
inline constexpr int kMailFailed = 34007;
}  // namespace frame_strings

// How the batch-scan wait dialog ended, by the dialog's end codes: OK when paper arrived,
// Cancel, or its Stop button (1292).
enum class BatchWaitResult : int { Paper = 1, Cancelled = 2, Stop = 1292 };

using DocHandle = void*;

class ScanWorkflowHost {
 public:
  virtual ~ScanWorkflowHost() = default;

  // The routines of the SCSI family (scanner types 0 and 1) and of the Kelvane family (80);
  // null while a family's code is absent.
  virtual ScannerFamilyOps* ScsiFamily() = 0;
  virtual ScannerFamilyOps* KelvaneFamily() = 0;
  // Tells the user (once per kind of request) that a part of the program is not there.
  virtual void ReportAbsent(const std::string& what) = 0;

  // Documents. The open documents in the frame's order, the active one, activation.
  virtual std::vector<DocHandle> Documents() = 0;
  virtual DocHandle ActiveDocument() = 0;
  virtual void ActivateDocument(DocHandle doc) = 0;
  // The document's working record and its first record (the image as opened or scanned).
  virtual ImageState* WorkingRecord(DocHandle doc) = 0;
  virtual ImageState* FileRecord(DocHandle doc) = 0;
  virtual void SetWorkingRecord(DocHandle doc, ImageState* record) = 0;
  // Opens a new empty document, which becomes the active one; null when it cannot.
  virtual DocHandle OpenNewDocument() = 0;
  // Closes the document (no save question: the workflow decided). The program-close bit
  // of AppStatus tells the document whether to run the editor and indexer tools.
  virtual void CloseDocument(DocHandle doc) = 0;
  // Saves the working image over `path`; false when it could not be saved.
  virtual bool SaveDocument(DocHandle doc, const std::string& path) = 0;
  virtual void UpdateTitle(DocHandle doc) = 0;
  // The document of a scan whose file could not be written says so; it is kept unsaved.
  virtual void ShowScanNotWritten(DocHandle doc) { (void)doc; }
  // Puts the magnifier's centre in the middle of the document's view.
  virtual void CentreMagnifier(DocHandle doc) { (void)doc; }

  // Windows of the frame.
  virtual void ShowMessage(int stringId) = 0;
  virtual bool AskYesNo(int stringId) = 0;
  virtual void PostToFrame(uint32_t msg, uintptr_t wParam = 0) = 0;
  // The scan output page shows itself again (its page activation) / flips batch scanning.
  virtual void RefreshScanPage() = 0;
  virtual void ToggleBatchScan() = 0;
  virtual void ValidateCustomArea() {}
  // The tools page takes the active image; the tool pages enable their tools; the
  // thumbnail dialog and navigator are refreshed.
  virtual void RefreshToolPages() {}
  virtual void RefreshViewAndThumbnails() {}
  // The batch-scan wait dialog, modal.
  virtual BatchWaitResult RunBatchWaitDialog() = 0;

  // Tools run after a scan or on accept; each returns false when the tool is absent.
  virtual bool ConvertToPalette() { return false; }
  virtual bool PaletteOptionChecked() { return false; }
  virtual bool RotateImageFile() { return false; }
  // The two-page split of the accepted scan, whose file is `scanPath`: Split when both
  // pages were written in place of the scan; Kept when the split did not happen (no room,
  // a failure, Esc) and the scan is still there under its own name, the tool having said
  // why; NotApplicable when there is nothing the tool can split (no image, an image too
  // small for two pages): the scan is accepted whole; Absent when the program has no split
  // tool.
  enum class SplitOutcome { Absent, Split, Kept, NotApplicable };
  virtual SplitOutcome SplitIntoTwoPages(const std::string& scanPath) {
    (void)scanPath;
    return SplitOutcome::Absent;
  }
  virtual void RefreshToolControls() {}

  // Scan log entry of an accepted or rejected scan.
  virtual void AppendScanLog(const std::string& path, int32_t width, int32_t height, int32_t dpi,
                             uint8_t rejected, uint32_t kind, uint8_t edited, int64_t seconds);
  // The next output name (the file-naming counters).
  virtual std::string NextFileName(const std::string& name) = 0;
  // Seconds since 1970.
  virtual int64_t NowSeconds() = 0;
  // Removes a file the workflow owns; the default unlinks it.
  virtual void DeleteFile(const std::string& path);
};

// The output format the scan settings choose for an accepted scan's image: a black-and-white
// image kept as grey until it is written (kind 10, as the tools leave a bilevel scan with
// the software threshold) is written as the black and white it becomes. 0 for a kind
// without output formats.
uint32_t AcceptedFileFormat(const ImageState& image);

// The split of the accepted scan (file `scanPath`) by the two-page split tool over the
// active document, its pages in the output format the scan settings choose for the image.
ScanWorkflowHost::SplitOutcome SplitScanForAccept(const std::string& scanPath);

// The watched part of the settings for batch scanning: a copy of the scan settings and of
// the eleven tool records that change what a scan produces.
struct SettingsSnapshot {
  ScanSettingsRecord scan;
  SharpenRecord sharpen;
  GammaRecord gamma;
  BrightContRecord brightCont;
  BWPointRecord bwPoint;
  DescreenRecord noiseRemoval;
  BWThresholdRecord threshold;
  DespeckleRecord despeckle;
  Rotate90Record rotate;
  PaletteRecord palette;
  EditorRecord editor;
  IndexRecord indexer;
};
SettingsSnapshot TakeSettingsSnapshot();
// Whether the watched settings differ from the snapshot (see the rules in the source).
bool SettingsChanged(const SettingsSnapshot& snap);
// Copies the watched settings back; the output name only when asked.
void RestoreSettingsSnapshot(const SettingsSnapshot& snap, bool restoreOutputName);

// The files a record may remove: its image and raw files, and the palette file of a version
// made after the scan, unless an older record of its chain (or `keep`) names the same file,
// so freeing a version never removes the user's own file or a file an older version still
// uses.
std::vector<std::string> FilesOwnedBy(const ImageState* record, const std::vector<std::string>& keep = {});

class ScanWorkflow {
 public:
  explicit ScanWorkflow(ScanWorkflowHost& host, ScanSettingsRecord& settings = ScanSettings);

  // Family dispatch by the scanner type of the settings.
  bool StartScan(ImageState* image);
  void StopScan();
  bool IsPaperPresent();
  void LoadMedium(bool wait);
  void UnloadMedium(bool wait);
  int AlignScanner();
  int ShowDiagnostics();
  int Calibrate();
  void OnApplyPaperStaging();
  void OnApplyPaperTransport();

  // The scan messages.
  void OnScanBatchWait(uintptr_t next);
  void OnNewScanDocument();
  void OnScanStop();
  // `outcome` kScanCompleteNotWritten: the file could not be written; the scan failed.
  void OnScanComplete(uintptr_t outcome = 0);
  void OnScanDiscardRestart();
  void OnScanAcceptPage();
  void OnScanRejectPage();
  void OnScannerUnload() { UnloadMedium(false); }
  void OnScannerLoad(uintptr_t wait) { LoadMedium(wait != 0); }
  void OnScannerBusy(uintptr_t busy);

  // The open document whose working record has state 0, made the active one; null when
  // there is none (each open document is looked at once).
  DocHandle ActivateScanDocument();

  bool StopRequested() const { return stopRequested_; }
  void SetStopRequested(bool on) { stopRequested_ = on; }
  bool BatchInterrupted() const { return batchInterrupted_; }
  void ClearBatchInterrupted() { batchInterrupted_ = false; }
  const SettingsSnapshot& Snapshot() const { return snapshot_; }

 private:
  ScannerFamilyOps* Family(const char* operation);
  // Frees every record after the file record, deleting the files they own, and makes the
  // file record the working record.
  ImageState* DropLaterVersions(DocHandle doc, const std::vector<std::string>& keep);
  void Decide(bool accept);

  ScanWorkflowHost& host_;
  ScanSettingsRecord& s_;
  bool stopRequested_ = false;
  bool batchInterrupted_ = false;
  DocHandle scanDoc_ = nullptr;
  SettingsSnapshot snapshot_;
};

}  // namespace orb
