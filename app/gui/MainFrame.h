// The main frame: an MDI parent whose docked panes (wxAuiManager) hold the scan settings
// sheet at the top, the thumbnail dialog and the view options sheet at the left and the
// dialog bar with the layout button at the left edge; a status bar of three panes and a
// toolbar that shows only in the compact layout.
#pragma once

#include <wx/aui/framemanager.h>
#include <wx/docmdi.h>
#include <wx/dynlib.h>

#include <memory>

#include "common/gui/AppMessage.h"
#include "scanner_library/trennic.h"

class CEventCallback;
class CKelvaneScanner;
class CScanPropSheet;
class CViewPropSheet;
class CViewThumbDlg;
class wxBitmapButton;
namespace orb {
class ScsiScanControl;
class ScannerFamilyOps;
namespace kelvane {
class KelvaneScanControl;
}
namespace gui {
class ScanHostGui;
}
}  // namespace orb

class CMainFrame : public wxDocMDIParentFrame {
 public:
  // Creates the frame and everything it holds (the creation sequence); nullptr when the
  // toolkit's frame creation fails.
  static CMainFrame* Create(wxDocManager* manager, const wxString& title);
  ~CMainFrame() override;

  // Flips between the layout with the sheets shown and the compact one (toolbar only).
  void ToggleCompactLayout();

  bool IdentifyScannerKelvane();
  bool IdentifyScannerScsi();
  // Posts the first batch-run message (batch mode from the command line).
  void StartBatchRun();

  // The SCSI family's routines (MainFrameScsi.cpp): thin calls into the scan control.
  // StartScanScsi scans into the active document's working image: non-zero when the scan's
  // threads run.
  int StartScanScsi();
  void StopScanScsi();
  bool IsPaperPresentScsi();
  void LoadObjectScsi(bool wait);
  void UnloadObjectScsi(bool wait);
  void ApplyPaperStaging();
  void ApplyPaperTransport();
  // Not part of this version: they say so in the status bar and return 0.
  int AlignScannerScsi();
  int ShowDiagnosticsScsi();
  int CalibrateScsi();
  CTrennic& Scanner() { return m_scanner; }
  // The connection to a Kelvane-family scanner (MainFrameKelvane.cpp).
  CKelvaneScanner& Kelvane() { return *m_kelvane; }
  // The Kelvane family's scan run and its routines as the scan workflow calls them.
  orb::kelvane::KelvaneScanControl& KelvaneControl() { return *m_kelvaneScan; }
  orb::ScannerFamilyOps* KelvaneFamily();
  orb::ScsiScanControl& ScsiControl() { return *m_scsi; }
  // The SCSI family's routines as the scan workflow calls them.
  orb::ScannerFamilyOps* ScsiFamily();
  orb::gui::ScanHostGui& GuiScanHost() { return *m_scanHost; }

  CScanPropSheet* ScanSheet() const { return m_scanSheet; }
  CViewPropSheet* ViewSheet() const { return m_viewSheet; }
  CViewThumbDlg* ThumbDlg() const { return m_dlgThumb; }
  wxAuiManager& Panes() { return m_mgr; }
  wxWindow* DialogBar() const { return m_dlgBar; }
  wxBitmapButton* LayoutButton() const { return m_layoutButton; }
  bool MailAvailable() const { return !m_mailProgram.empty(); }
  const wxString& Vendor() const { return m_strVendor; }
  const wxString& Model() const { return m_strModel; }
  const wxString& Firmware() const { return m_strFirmware; }
  // Names of the docked panes.
  static const char* const kPaneScanSheet;
  static const char* const kPaneThumbnail;
  static const char* const kPaneViewSheet;
  static const char* const kPaneDialogBar;

 private:
  explicit CMainFrame(wxDocManager* manager, const wxString& title);
  bool Build();
  void BuildStatusBar();
  void BuildPanes();
  void BuildToolBar();
  void BuildDialogBar();
  void WriteScannerLine();
  void PlaceLayoutButton();
  void InitImagingLibrary();
  void OnAbout(wxCommandEvent& e);
  // Makes the scan host and control and lets the identification reach the scanner object
  // (first thing while the frame is built); ends a running scan and frees them.
  void InitScsi();
  void ShutdownScsi();
  void OnCloseScsi(wxCloseEvent& e);
  // Stops a running scan and waits for its threads without waiting on the GUI thread.
  void EndScanNow();
  // Makes the Kelvane connection and the button callback before identification; stops the
  // status poll and ends the button's registration before the frame goes.
  void InitKelvane();
  void ShutdownKelvane();
  // Stops a running Kelvane scan and waits for its threads without waiting on the GUI thread.
  void EndKelvaneScanNow();

  orb::gui::MessageMap m_messages;
  std::unique_ptr<CKelvaneScanner> m_kelvane;
  std::unique_ptr<CEventCallback> m_eventCallback;
  std::unique_ptr<orb::kelvane::KelvaneScanControl> m_kelvaneScan;
  std::unique_ptr<orb::ScannerFamilyOps> m_kelvaneOps;
  bool m_installedKelvaneIdentification = false;
  uint8_t m_bStopRequested = 0;
  wxString m_strVendor, m_strModel, m_strFirmware;
  bool m_scannerChanged = false;
  wxAuiManager m_mgr;
  CScanPropSheet* m_scanSheet = nullptr;
  CViewPropSheet* m_viewSheet = nullptr;
  CViewThumbDlg* m_dlgThumb = nullptr;
  wxWindow* m_dlgBar = nullptr;
  wxBitmapButton* m_layoutButton = nullptr;
  wxBitmap m_bmpCompact, m_bmpSheetsShown;
  wxString m_mailProgram;
  wxDynamicLibrary m_optionalLibrary;
  // The SCSI family: the scanner object, the host through which the scan reaches the
  // program, and the scan control over both.
  CTrennic m_scanner;
  std::unique_ptr<orb::gui::ScanHostGui> m_scanHost;
  std::unique_ptr<orb::ScsiScanControl> m_scsi;
  std::unique_ptr<orb::ScannerFamilyOps> m_scsiOps;
  bool m_installedScsiIdentification = false;
};
