// The main frame's routines of the SCSI scanner family: thin calls into the scan control,
// which does the work without any window.
#include <wx/msgdlg.h>
#include <wx/statusbr.h>

#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "app/ScanDecision.h"
#include "scanning/ScannerEntryPoints.h"
#include "app/gui/MainFrame.h"
#include "app/gui/OrbalonDoc.h"
#include "app/gui/ScanHostGui.h"
#include "common/gui/Resources.h"
#include "engine/AppStatus.h"
#include "engine/EngineHost.h"
#include "scanning/ScannerIdentification.h"
#include "scanning/ScannerService.h"
#include "scanning/ScsiScanControl.h"
#include "scanning/gui/ManualStitchDlg.h"

namespace {

constexpr int kMsgQuitWithPendingScan = 35234;

bool IdentificationIsTheDefault() {
  const auto& entry = orb::GetScanningEntryPoints().identifyScsi;
  auto* plain = entry.target<bool (*)(orb::IdentifiedScanner*)>();
  return plain && *plain == &orb::IdentifyNoScanner;
}

// The family's routines as the scan workflow sees them, each the frame's own.
class FrameScsiOps final : public orb::ScannerFamilyOps {
 public:
  explicit FrameScsiOps(CMainFrame& frame) : f_(frame) {}
  bool StartScan(ImageState* image) override { return f_.ScsiControl().StartScan(image); }
  void StopScan() override { f_.StopScanScsi(); }
  bool IsPaperPresent() override { return f_.IsPaperPresentScsi(); }
  void LoadMedium(bool wait) override { f_.LoadObjectScsi(wait); }
  void UnloadMedium(bool wait) override { f_.UnloadObjectScsi(wait); }
  int AlignScanner() override { return f_.AlignScannerScsi(); }
  int ShowDiagnostics() override { return f_.ShowDiagnosticsScsi(); }
  int Calibrate() override { return f_.CalibrateScsi(); }
  void ApplyPaperStaging() override { f_.ApplyPaperStaging(); }
  void ApplyPaperTransport() override { f_.ApplyPaperTransport(); }

 private:
  CMainFrame& f_;
};

}  // namespace

void CMainFrame::InitScsi() {
  if (m_scsi) return;
  m_scanHost = std::make_unique<orb::gui::ScanHostGui>(this, this);
  m_scsi = std::make_unique<orb::ScsiScanControl>(m_scanner, *m_scanHost);
  m_scsiOps = std::make_unique<FrameScsiOps>(*this);
  if (IdentificationIsTheDefault()) {
    // The frame's identification opens and identifies this object's scanner.
    orb::InstallScsiIdentification(&m_scanner);
    m_installedScsiIdentification = true;
  } else {
    // Something else identifies the scanner; this object still needs its device to scan.
    DeviceInfoType info{};
    (void)m_scanner.Open(info);
  }
  if (!orb::CurrentScanHost()) orb::SetScanHost(m_scanHost.get());
  Bind(wxEVT_CLOSE_WINDOW, &CMainFrame::OnCloseScsi, this);
}

void CMainFrame::EndScanNow() {
  if (!m_scsi) return;
  // Nothing may wait for the GUI thread while it waits for the scan.
  m_scanHost->SetDetached(true);
  if (m_scsi->Scanning()) {
    // The page is given up: a stopped scan is not completed with white lines.
    CancelFlag.store(1);
    m_scsi->StopScan();
    // A read the scanner is holding back ends with its scan.
    (void)m_scanner.StopScan();
  }
  m_scsi->WaitForScan();
}

void CMainFrame::OnCloseScsi(wxCloseEvent& e) {
  // A finished scan waits for Accept or Reject: quitting would throw it away unasked. A
  // close that cannot be refused (the session ends) is not asked about.
  if (e.CanVeto() && orb::CurrentScanState() == orb::ScanState::DecisionPending &&
      wxMessageBox(orb::gui::Str(kMsgQuitWithPendingScan), wxString::FromUTF8(g_szAppTitle),
                   wxYES_NO | wxNO_DEFAULT | wxICON_QUESTION, this) != wxYES) {
    e.Veto();
    return;
  }
  // The scan writes into a document that closes with the frame: end it first.
  if (m_scsi && m_scsi->Scanning()) {
    EndScanNow();
    m_scanHost->SetDetached(false);
    // What the scan asked for at its end (its display's last band, its messages) is done
    // now, while its document and view are still there.
    m_scanHost->Flush();
  }
  e.Skip();
}

void CMainFrame::ShutdownScsi() {
  if (!m_scsi) return;
  EndScanNow();
  m_scanHost->Shutdown();
  m_scsiOps.reset();
  m_scsi.reset();  // waits for a paper move too
  if (m_installedScsiIdentification) {
    orb::ScanningEntryPoints e = orb::GetScanningEntryPoints();
    e.identifyScsi = &orb::IdentifyNoScanner;
    orb::SetScanningEntryPoints(std::move(e));
    m_installedScsiIdentification = false;
  }
  if (orb::CurrentScanHost() == m_scanHost.get()) orb::SetScanHost(nullptr);
  m_scanHost.reset();
}

orb::ScannerFamilyOps* CMainFrame::ScsiFamily() { return m_scsiOps.get(); }

int CMainFrame::StartScanScsi() {
  wxDocManager* docs = GetDocumentManager();
  auto* doc = docs ? dynamic_cast<COrbalonDoc*>(docs->GetCurrentDocument()) : nullptr;
  ImageState* image = doc ? doc->WorkingImage() : nullptr;
  if (!image || !m_scsi) return 0;
  return m_scsi->StartScan(image) ? 1 : 0;
}

void CMainFrame::StopScanScsi() {
  if (m_scsi) m_scsi->StopScan();
}

bool CMainFrame::IsPaperPresentScsi() { return m_scsi && m_scsi->IsPaperPresent(); }

void CMainFrame::LoadObjectScsi(bool wait) {
  if (m_scsi) m_scsi->Load(wait);
}

void CMainFrame::UnloadObjectScsi(bool wait) {
  if (m_scsi) m_scsi->Unload(wait);
}

void CMainFrame::ApplyPaperStaging() {
  if (m_scsi) m_scsi->ApplyStaging();
}

void CMainFrame::ApplyPaperTransport() {
  if (m_scsi) m_scsi->ApplyTransport();
}

int CMainFrame::AlignScannerScsi() {
  if (!m_scanHost) return 0;
  return orb::AlignScannerScsi(m_scanner, *m_scanHost, ScanSettings) == orb::ServiceOutcome::Completed ? 1 : 0;
}

int CMainFrame::ShowDiagnosticsScsi() {
  if (!m_scanHost || !m_scanHost->AskOkCancel(orb::service_strings::kAlignQuestion)) return 0;
  CManualStitchDlg::Show(this, m_scanner);
  return 1;
}

int CMainFrame::CalibrateScsi() {
  if (!m_scanHost) return 0;
  return orb::CalibrateScsi(m_scanner, *m_scanHost, ScanSettings) == orb::ServiceOutcome::Completed ? 1 : 0;
}
