#include "app/gui/MainFrame.h"

#include <wx/bmpbuttn.h>
#include <wx/display.h>
#include <wx/msgdlg.h>
#include <wx/sizer.h>
#include <wx/statusbr.h>
#include <wx/toolbar.h>
#include <wx/xrc/xmlres.h>

#include "common/AppGlobals.h"
#include "app/FrameRules.h"
#include "common/LanguageModule.h"
#include "common/ResourceIds.h"
#include "scanning/ScannerEntryPoints.h"
#include "app/gui/FileOpen.h"
#include "app/gui/MainFrameCommands.h"
#include "app/gui/batch/BatchCommands.h"
#include "common/gui/FolderChooserDlg.h"
#include "common/gui/Resources.h"
#include "app/gui/ScanHostGui.h"
#include "app/gui/ViewPropSheet.h"
#include "app/gui/ViewThumbDlg.h"
#include "engine/Settings.h"
#include "platform/imagemill/imagemill.h"
#include "scanning/ScsiScanControl.h"
#include "scanning/kelvane/EventCallback.h"
#include "scanning/kelvane/KelvaneScanControl.h"
#include "scanning/kelvane/KelvaneScanner.h"
#include "scanning/gui/ScanPropSheet.h"

namespace res = orb::res;

const char* const CMainFrame::kPaneScanSheet = "scanSheet";
const char* const CMainFrame::kPaneThumbnail = "thumbnail";
const char* const CMainFrame::kPaneViewSheet = "viewSheet";
const char* const CMainFrame::kPaneDialogBar = "dialogBar";

CMainFrame::CMainFrame(wxDocManager* manager, const wxString& title)
    : wxDocMDIParentFrame(manager, nullptr, wxID_ANY, title, wxDefaultPosition, wxSize(1200, 800),
                          wxDEFAULT_FRAME_STYLE | wxFRAME_NO_WINDOW_MENU) {
  // Published before any scanner object, page or thread exists that could post to it;
  // messages that arrive before the frame is complete wait in its queue.
  g_hMainFrame.store(orb::gui::HandleOf(this));
  m_messages.Attach(this);
}

CMainFrame* CMainFrame::Create(wxDocManager* manager, const wxString& title) {
  auto* frame = new CMainFrame(manager, title);
  if (!frame->GetHandle() || !frame->Build()) {
    frame->Destroy();
    return nullptr;
  }
  return frame;
}

bool CMainFrame::Build() {
  // The SCSI family's scanner object, its scan control and the scan's host, and the scan
  // workflow over them, exist before the scanner is identified: the identification
  // installed here reaches the frame's own scanner object.
  InitScsi();
  InitKelvane();
  orb::gui::MainFrameCommands* commands = orb::gui::InstallMainFrameCommands(this);
  orb::gui::InstallBatchCommands(this, GetDocumentManager());
  if (wxMenuBar* menus = wxXmlResource::Get()->LoadMenuBar(this, orb::gui::ResName(res::IDR_MAINFRAME)))
    SetMenuBar(menus);

  g_bScannerPresent = 0;
  bool present = IdentifyScannerKelvane() || IdentifyScannerScsi();
  g_bScannerPresent = present ? 1 : 0;
  if (!present)
    g_scanFamilyTag = orb::FamilyTagFromSaved(static_cast<int8_t>(ScanSettings.StoredScannerType & 0xFF),
                                              static_cast<uint8_t>(ScanSettings.StoredSubType & 0xFF),
                                              g_scanFamilyTag);

  BuildStatusBar();
  BuildPanes();
  Maximize(true);
  // Without a window manager (a bare X server) nothing maximises: take the screen.
  if (!IsMaximized()) SetSize(wxGetClientDisplayRect());
  BuildToolBar();
  BuildDialogBar();
  m_mgr.Update();
  PlaceLayoutButton();

  WriteScannerLine();
  if (g_bBatchMode) StartBatchRun();
  InitImagingLibrary();
  g_outputFormatListIds = {res::IDS_FORMATS_COLOR, res::IDS_FORMATS_PALETTE, res::IDS_FORMATS_GREY,
                           res::IDS_FORMATS_BW};
  // E-mail goes through the desktop's mail hand-over; without it the command stays off.
  m_mailProgram = wxString::FromUTF8(orb::FindProgramInPath("xdg-email"));
  // The optional library is only loaded and released.
  if (!g_szProgramFolder.empty()) {
    wxString optional = wxString::FromUTF8(g_szProgramFolder) + "/libMorvast.so";
    if (wxFileExists(optional)) m_optionalLibrary.Load(optional, wxDL_DEFAULT | wxDL_QUIET);
  }

  Bind(wxEVT_MENU, [this](wxCommandEvent&) { ToggleCompactLayout(); }, res::WxCommandId(res::ID_TOGGLE_LAYOUT));
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ToggleCompactLayout(); }, res::IDC_LAYOUT_BUTTON);
  Bind(wxEVT_MENU, &CMainFrame::OnAbout, this, wxID_ABOUT);
  // The folder chooser of the settings pages opens over this window.
  orb::gui::InstallFolderChooser(this);
  commands->Attach();
  orb::gui::AcceptDroppedFiles(this, GetDocumentManager());
  return true;
}

CMainFrame::~CMainFrame() {
  orb::gui::RemoveBatchCommands();
  ShutdownKelvane();
  orb::gui::RemoveFolderChooser();
  ShutdownScsi();
  orb::WindowHandle self = orb::gui::HandleOf(this);
  g_hMainFrame.compare_exchange_strong(self, nullptr);
  if (m_optionalLibrary.IsLoaded()) m_optionalLibrary.Unload();
  m_mgr.UnInit();
}

bool CMainFrame::IdentifyScannerKelvane() {
  orb::IdentifiedScanner s;
  if (!orb::GetScanningEntryPoints().identifyKelvane(&s)) return false;
  m_strVendor = wxString::FromUTF8(s.vendor);
  m_strModel = wxString::FromUTF8(s.model);
  m_strFirmware = wxString::FromUTF8(s.firmware);
  m_scannerChanged = s.changed;
  return true;
}

bool CMainFrame::IdentifyScannerScsi() {
  orb::IdentifiedScanner s;
  if (!orb::GetScanningEntryPoints().identifyScsi(&s)) return false;
  m_strVendor = wxString::FromUTF8(s.vendor);
  m_strModel = wxString::FromUTF8(s.model);
  m_strFirmware = wxString::FromUTF8(s.firmware);
  m_scannerChanged = s.changed;
  return true;
}

void CMainFrame::StartBatchRun() { orb::PostAppMessage(orb::gui::HandleOf(this), WM_RUN_BATCH_FILE); }

void CMainFrame::BuildStatusBar() {
  wxStatusBar* bar = CreateStatusBar(3);
  wxString ind1 = orb::gui::Str(res::IDS_INDICATOR_1), ind2 = orb::gui::Str(res::IDS_INDICATOR_2);
  int widths[3] = {-1, bar->GetTextExtent(ind1).x + 16, bar->GetTextExtent(ind2).x + 16};
  bar->SetStatusWidths(3, widths);
  bar->SetStatusText(orb::gui::Str(res::IDS_STATUS_READY), 0);
  bar->SetStatusText(ind1, 1);
  bar->SetStatusText(ind2, 2);
}

void CMainFrame::BuildPanes() {
  m_mgr.SetManagedWindow(this);
  m_mgr.AddPane(GetClientWindow(), wxAuiPaneInfo().Name("documents").CenterPane());

  m_scanSheet = new CScanPropSheet(this);
  m_mgr.AddPane(m_scanSheet, wxAuiPaneInfo()
                                 .Name(kPaneScanSheet)
                                 .Caption(orb::gui::Str(res::IDS_PANE_SCAN))
                                 .Top()
                                 .Layer(0)
                                 .CaptionVisible(false)
                                 .Gripper(false)
                                 .CloseButton(false)
                                 .Floatable(false)
                                 .MinSize(wxSize(-1, m_scanSheet->GetBestSize().y))
                                 .BestSize(wxSize(-1, m_scanSheet->GetBestSize().y)));

  m_viewSheet = new CViewPropSheet(this);
  m_dlgThumb = new CViewThumbDlg(this);
  int width = m_viewSheet->SheetWidth();
  m_mgr.AddPane(m_dlgThumb, wxAuiPaneInfo()
                                .Name(kPaneThumbnail)
                                .Caption(orb::gui::Str(res::IDS_PANE_THUMBNAIL))
                                .Left()
                                .Layer(1)
                                .Position(0)
                                .CaptionVisible(false)
                                .Gripper(false)
                                .CloseButton(false)
                                .Floatable(false)
                                .BestSize(wxSize(width, m_dlgThumb->GetBestSize().y)));
  m_mgr.AddPane(m_viewSheet, wxAuiPaneInfo()
                                 .Name(kPaneViewSheet)
                                 .Caption(orb::gui::Str(res::IDS_PANE_VIEW_OPTIONS))
                                 .Left()
                                 .Layer(1)
                                 .Position(1)
                                 .CaptionVisible(false)
                                 .Gripper(false)
                                 .CloseButton(false)
                                 .Floatable(false)
                                 .MinSize(wxSize(width, -1))
                                 .BestSize(wxSize(width, 400)));
}

void CMainFrame::BuildToolBar() {
  // The toolbar is made hidden: the frame always starts with the sheets shown.
  wxToolBar* bar = wxXmlResource::Get()->LoadToolBar(this, orb::gui::ResName(res::IDR_TOOLBAR));
  if (bar) {
    SetToolBar(bar);
    bar->Hide();
  }
}

void CMainFrame::BuildDialogBar() {
  m_bmpCompact = orb::gui::ModuleBitmap(res::IDB_LAYOUT_COMPACT);
  m_bmpSheetsShown = orb::gui::ModuleBitmap(res::IDB_LAYOUT_SHEETS);
  m_dlgBar = orb::gui::LoadPanel(this, res::IDD_DIALOGBAR);
  if (!m_dlgBar) m_dlgBar = new wxPanel(this);
  m_layoutButton = dynamic_cast<wxBitmapButton*>(m_dlgBar->FindWindow(res::IDC_LAYOUT_BUTTON));
  if (!m_layoutButton) {
    m_layoutButton = new wxBitmapButton(m_dlgBar, res::IDC_LAYOUT_BUTTON, m_bmpSheetsShown);
  } else if (m_bmpSheetsShown.IsOk()) {
    m_layoutButton->SetBitmap(m_bmpSheetsShown);
  }
  orb::gui::ApplyToolTips(m_dlgBar, MiscSettings.TooltipMode);
  int w = m_dlgBar->GetBestSize().x;
  m_mgr.AddPane(m_dlgBar, wxAuiPaneInfo()
                              .Name(kPaneDialogBar)
                              .Left()
                              .Layer(2)
                              .CaptionVisible(false)
                              .Gripper(false)
                              .CloseButton(false)
                              .Floatable(false)
                              .Resizable(false)
                              .MinSize(wxSize(w, -1))
                              .BestSize(wxSize(w, -1)));
}

void CMainFrame::PlaceLayoutButton() {
  // The bar's sizer stretches the button over the height of the left side.
  if (m_dlgBar) m_dlgBar->Layout();
}

void CMainFrame::WriteScannerLine() {
  std::string caption = orb::ScannerTabCaption(
      g_bScannerPresent != 0, orb::LoadString(res::IDS_SCANNER_TAB), std::string(m_strModel.utf8_str()),
      std::string(m_strFirmware.utf8_str()), orb::LoadString(res::IDS_NO_SCANNER));
  if (g_bScannerPresent &&
      (m_scannerChanged || orb::ScannerChanged(ScanSettings.ScannerType, ScanSettings.ScannerSubType,
                                               ScanSettings.StoredScannerType, ScanSettings.StoredSubType))) {
    orb::SetTextField(MiscSettings.PresetName, "_FactoryDefaults");
    orb::PostAppMessage(orb::gui::HandleOf(this), WM_LOAD_PRESET);
    SaveScanData();
  }
  m_scanSheet->SetTabCaption(0, wxString::FromUTF8(caption));
}

void CMainFrame::InitImagingLibrary() {
  int rc = IM_Init();
  if (rc != 0)
    wxMessageBox(wxString::Format(orb::gui::Str(res::IDS_IMAGING_INIT_FAILED), rc), g_szAppTitle,
                 wxOK | wxICON_EXCLAMATION, this);
}

void CMainFrame::ToggleCompactLayout() {
  MiscSettings.ShowSettingsSheets = MiscSettings.ShowSettingsSheets ? 0 : 1;
  bool shown = MiscSettings.ShowSettingsSheets != 0;
  m_mgr.GetPane(kPaneScanSheet).Show(shown);
  m_mgr.GetPane(kPaneThumbnail).Show(shown);
  m_mgr.GetPane(kPaneViewSheet).Show(shown);
  if (m_layoutButton) {
    const wxBitmap& bmp = shown ? m_bmpSheetsShown : m_bmpCompact;
    if (bmp.IsOk()) m_layoutButton->SetBitmap(bmp);
  }
  if (wxToolBar* bar = GetToolBar()) bar->Show(!shown);
  SendSizeEvent();
  m_mgr.Update();
  PlaceLayoutButton();
  if (shown) m_viewSheet->SetFocus();
  Tile(wxVERTICAL);
}

void CMainFrame::OnAbout(wxCommandEvent&) {
  wxDialog dlg;
  if (wxXmlResource::Get()->LoadDialog(&dlg, this, orb::gui::ResName(res::IDD_ABOUTBOX))) dlg.ShowModal();
}
