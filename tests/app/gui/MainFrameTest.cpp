#include <gtest/gtest.h>
#include <wx/bmpbuttn.h>
#include <wx/image.h>
#include <wx/notebook.h>
#include <wx/statusbr.h>
#include <wx/toolbar.h>

#include <filesystem>
#include <thread>

#include "common/AppGlobals.h"
#include "common/LanguageModule.h"
#include "common/ResourceIds.h"
#include "scanning/ScannerEntryPoints.h"
#include "app/gui/ChildFrame.h"
#include "app/gui/MainFrame.h"
#include "app/gui/OrbalonDoc.h"
#include "common/gui/Resources.h"
#include "app/gui/ViewPropSheet.h"
#include "app/gui/ViewThumbDlg.h"
#include "engine/Settings.h"
#include "scanning/gui/ScanPropSheet.h"
#include "tests/common/TestUtil.h"
#include "tests/common/gui/GuiTestUtil.h"
#include "tests/common/gui/MainFrameFixture.h"

namespace {

class MainFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_szDataFolder = data_.path().string();
    g_szProgramFolder = orbtest::ProgramFolder().string();
    ScanSettings = orb::ScanSettingsRecord();
    MiscSettings = orb::MiscSettingsRecord();
    g_scanFamilyTag.clear();
    g_bBatchMode = 0;
    AppStatus = 0;
    manager_ = new COrbalonDocManager;
    new wxDocTemplate(manager_, "Image", "*.*", "", "tif", "COrbalonDoc", "COrbalonView", CLASSINFO(COrbalonDoc),
                      CLASSINFO(COrbalonView));
  }
  void TearDown() override {
    if (frame_) {
      frame_->Destroy();
      orbtest::PumpUntil([] { return g_hMainFrame.load() == nullptr; });
    }
    EXPECT_EQ(g_hMainFrame.load(), nullptr);
    delete manager_;
    orb::SetScanningEntryPoints({});
  }
  CMainFrame* Make() {
    frame_ = orbtest::CreateFrameCountingMessages(manager_, &messages_);
    return frame_;
  }

  orbtest::TempDir data_;
  COrbalonDocManager* manager_ = nullptr;
  CMainFrame* frame_ = nullptr;
  std::map<uint32_t, int> messages_;
};

TEST_F(MainFrameTest, BuildsBarsAndPanesWithoutAScanner) {
  ScanSettings.StoredScannerType = 80;
  ScanSettings.StoredSubType = 1;
  ASSERT_TRUE(Make());
  EXPECT_EQ(g_hMainFrame.load(), orb::gui::HandleOf(frame_));
  EXPECT_EQ(g_bScannerPresent.load(), 0);
  EXPECT_EQ(g_scanFamilyTag, "QRDC");
  EXPECT_EQ(frame_->ScanSheet()->GetTabCaption(0), "Scanner (no scanner found)");

  wxStatusBar* status = frame_->GetStatusBar();
  ASSERT_TRUE(status);
  EXPECT_EQ(status->GetFieldsCount(), 3);
  EXPECT_EQ(status->GetStatusText(1), orb::gui::Str(orb::res::IDS_INDICATOR_1));
  EXPECT_EQ(status->GetStatusText(2), orb::gui::Str(orb::res::IDS_INDICATOR_2));

  for (const char* pane : {CMainFrame::kPaneScanSheet, CMainFrame::kPaneThumbnail, CMainFrame::kPaneViewSheet,
                           CMainFrame::kPaneDialogBar}) {
    EXPECT_TRUE(frame_->Panes().GetPane(pane).IsOk()) << pane;
    EXPECT_TRUE(frame_->Panes().GetPane(pane).IsShown()) << pane;
  }
  // The toolbar exists but shows only in the compact layout.
  ASSERT_TRUE(frame_->GetToolBar());
  EXPECT_FALSE(frame_->GetToolBar()->IsShown());
  EXPECT_EQ(g_outputFormatListIds.colour, 33105);
  EXPECT_EQ(g_outputFormatListIds.bilevel, 33107);
  EXPECT_EQ(g_hThumbDlg.load(), orb::gui::HandleOf(frame_->ThumbDlg()));
  // A start without a scanner saves nothing.
  EXPECT_FALSE(std::filesystem::exists(data_.path() / "ScanData.dat"));
}

TEST_F(MainFrameTest, AnotherScannerThanTheSavedOneLoadsTheFactoryPresetOnce) {
  orb::SetScanningEntryPoints({nullptr, [](orb::IdentifiedScanner* s) {
                                 s->vendor = "VENDOR";
                                 s->model = "QX-42";
                                 s->firmware = "1.07";
                                 ScanSettings.ScannerType = 1;
                                 ScanSettings.ScannerSubType = 1;
                                 return true;
                               }});
  ScanSettings.StoredScannerType = 0;
  ScanSettings.StoredSubType = 1;
  orb::SetTextField(MiscSettings.PresetName, "Mine");
  ASSERT_TRUE(Make());
  EXPECT_EQ(g_bScannerPresent.load(), 1);
  EXPECT_EQ(frame_->ScanSheet()->GetTabCaption(0), "Scanner (QX-42: 1.07)");
  EXPECT_EQ(orb::TextField(MiscSettings.PresetName), "_FactoryDefaults");
  EXPECT_TRUE(std::filesystem::exists(data_.path() / "ScanData.dat"));
  // Posted, so it arrives after creation, once.
  EXPECT_EQ(messages_[WM_LOAD_PRESET], 0);
  orbtest::PumpUntil([&] { return messages_[WM_LOAD_PRESET] > 0; });
  EXPECT_EQ(messages_[WM_LOAD_PRESET], 1);
}

TEST_F(MainFrameTest, TheSameScannerAsSavedLoadsNoPreset) {
  orb::SetScanningEntryPoints({[](orb::IdentifiedScanner* s) {
                                 s->model = "K";
                                 s->firmware = "2";
                                 return true;
                               },
                               nullptr});
  ScanSettings.ScannerType = ScanSettings.StoredScannerType = 80;
  ScanSettings.ScannerSubType = ScanSettings.StoredSubType = 0;
  orb::SetTextField(MiscSettings.PresetName, "Mine");
  ASSERT_TRUE(Make());
  orbtest::PumpUntil([] { return false; }, 50);
  EXPECT_EQ(messages_[WM_LOAD_PRESET], 0);
  EXPECT_EQ(orb::TextField(MiscSettings.PresetName), "Mine");
  EXPECT_FALSE(std::filesystem::exists(data_.path() / "ScanData.dat"));
}

TEST_F(MainFrameTest, BatchModePostsTheFirstBatchRun) {
  g_bBatchMode = 1;
  ASSERT_TRUE(Make());
  orbtest::PumpUntil([&] { return messages_[WM_RUN_BATCH_FILE] > 0; });
  EXPECT_EQ(messages_[WM_RUN_BATCH_FILE], 1);
}

TEST_F(MainFrameTest, LayoutCommandTwiceComesBack) {
  ASSERT_TRUE(Make());
  ASSERT_EQ(MiscSettings.ShowSettingsSheets, 1);
  frame_->ToggleCompactLayout();
  EXPECT_EQ(MiscSettings.ShowSettingsSheets, 0);
  EXPECT_FALSE(frame_->Panes().GetPane(CMainFrame::kPaneScanSheet).IsShown());
  EXPECT_FALSE(frame_->Panes().GetPane(CMainFrame::kPaneViewSheet).IsShown());
  EXPECT_FALSE(frame_->Panes().GetPane(CMainFrame::kPaneThumbnail).IsShown());
  EXPECT_TRUE(frame_->Panes().GetPane(CMainFrame::kPaneDialogBar).IsShown());
  EXPECT_TRUE(frame_->GetToolBar()->IsShown());
  wxBitmap compact = frame_->LayoutButton()->GetBitmap();

  // The dialog bar's button runs the same command.
  wxCommandEvent click(wxEVT_BUTTON, orb::res::IDC_LAYOUT_BUTTON);
  click.SetEventObject(frame_->LayoutButton());
  frame_->LayoutButton()->GetEventHandler()->ProcessEvent(click);
  EXPECT_EQ(MiscSettings.ShowSettingsSheets, 1);
  EXPECT_TRUE(frame_->Panes().GetPane(CMainFrame::kPaneScanSheet).IsShown());
  EXPECT_TRUE(frame_->Panes().GetPane(CMainFrame::kPaneViewSheet).IsShown());
  EXPECT_FALSE(frame_->GetToolBar()->IsShown());
  EXPECT_FALSE(frame_->LayoutButton()->GetBitmap().IsSameAs(compact));
}

TEST_F(MainFrameTest, MessagesPostedFromWorkerThreadsArrive) {
  ASSERT_TRUE(Make());
  int before = frame_->ThumbDlg()->RefreshCount();
  std::thread worker([] {
    for (int i = 0; i < 3; ++i) orb::PostAppMessage(g_hThumbDlg.load(), WM_THUMB_REFRESH);
    orb::PostAppMessage(g_hMainFrame.load(), WM_SCAN_COMPLETE, 7, -1);
  });
  worker.join();
  orbtest::PumpUntil([&] { return frame_->ThumbDlg()->RefreshCount() == before + 3 && messages_[WM_SCAN_COMPLETE] == 1; });
  EXPECT_EQ(frame_->ThumbDlg()->RefreshCount(), before + 3);
  EXPECT_EQ(messages_[WM_SCAN_COMPLETE], 1);
  // Nothing goes to a window that is not there.
  EXPECT_FALSE(orb::PostAppMessage(nullptr, WM_SCAN_COMPLETE));
}

TEST_F(MainFrameTest, ViewSheetPageBookkeeping) {
  MiscSettings.ActiveViewPage = 2;
  ASSERT_TRUE(Make());
  CViewPropSheet* sheet = frame_->ViewSheet();
  EXPECT_EQ(sheet->GetPageCount(), 5);
  // Making the sheet activated every page: the connection page is active and the last
  // page that records itself (general settings) is in the settings.
  EXPECT_EQ(sheet->GetActiveIndex(), orb::kPageConnection);
  EXPECT_EQ(MiscSettings.ActiveViewPage, orb::kPageSettings);
  sheet->SetActivePage(orb::kPageOtherTools);
  EXPECT_EQ(MiscSettings.ActiveViewPage, orb::kPageOtherTools);
  sheet->SetActivePage(orb::kPageConnection);
  EXPECT_EQ(MiscSettings.ActiveViewPage, orb::kPageOtherTools);
  sheet->SetActivePage(9);
  EXPECT_EQ(sheet->GetActiveIndex(), orb::kPageConnection);
  EXPECT_EQ(sheet->GetTabControl()->GetPageText(0), orb::gui::Str(orb::res::IDS_PAGE_PRESETS));
  EXPECT_GE(sheet->SheetWidth(), sheet->ConvertDialogToPixels(wxSize(140, 0)).x);
}

TEST_F(MainFrameTest, ChildFrameActivationAndTheScanDocumentsClose) {
  ASSERT_TRUE(Make());
  orbtest::TempDir files;
  wxImage picture(8, 6);
  picture.SetRGB(wxRect(0, 0, 8, 6), 200, 100, 50);
  wxString file = wxString::FromUTF8((files.path() / "a.png").string());
  ASSERT_TRUE(picture.SaveFile(file, wxBITMAP_TYPE_PNG));
  wxDocument* doc = manager_->CreateDocument(file, wxDOC_SILENT);
  ASSERT_TRUE(doc);
  auto* child = dynamic_cast<CChildFrame*>(doc->GetFirstView()->GetFrame());
  ASSERT_TRUE(child);

  int toolsCalls = 0;
  CChildFrame::s_toolsPageActivate = [&](wxDocument*) { ++toolsCalls; };
  int dummy = 0;
  g_hToolsPage = &dummy;
  int refresh = frame_->ThumbDlg()->RefreshCount();
  child->OnMDIActivate(true);
  EXPECT_EQ(frame_->ThumbDlg()->RefreshCount(), refresh + 1);
  EXPECT_EQ(toolsCalls, 1);
  // While a scan runs only the thumbnail dialog follows.
  orb::SetScanState(orb::ScanState::Scanning);
  child->OnMDIActivate(true);
  EXPECT_EQ(frame_->ThumbDlg()->RefreshCount(), refresh + 2);
  EXPECT_EQ(toolsCalls, 1);
  orb::SetScanState(orb::ScanState::Idle);
  child->OnMDIActivate(false);
  EXPECT_EQ(frame_->ThumbDlg()->RefreshCount(), refresh + 2);
  g_hToolsPage = nullptr;
  CChildFrame::s_toolsPageActivate = nullptr;

  // The user cannot close the scan document; the program can.
  auto* orbDoc = dynamic_cast<COrbalonDoc*>(doc);
  ASSERT_TRUE(orbDoc);
  orbDoc->SetScanDocument(true);
  EXPECT_FALSE(child->CanUserClose());
  EXPECT_FALSE(child->Close(false));
  AppStatus |= orb::Bits(orb::StatusBit::ProgramClose);
  EXPECT_TRUE(child->CanUserClose());
  AppStatus &= ~orb::Bits(orb::StatusBit::ProgramClose);
  orbDoc->SetScanDocument(false);
  EXPECT_TRUE(child->CanUserClose());
  EXPECT_TRUE(manager_->CloseDocuments(true));
}

}  // namespace

namespace {

TEST_F(MainFrameTest, TheFrameCanBePostedToWhileTheScannerIsIdentified) {
  // The identification may start threads that post to the frame at once.
  bool published = false;
  orb::SetScanningEntryPoints({[&](orb::IdentifiedScanner*) {
                                 published = g_hMainFrame.load() != nullptr;
                                 std::thread([] { orb::PostAppMessage(g_hMainFrame.load(), WM_SCANNER_BUSY, 1); }).join();
                                 return false;
                               },
                               nullptr});
  ASSERT_TRUE(Make());
  EXPECT_TRUE(published);
  orbtest::PumpUntil([&] { return messages_[WM_SCANNER_BUSY] > 0; });
  EXPECT_EQ(messages_[WM_SCANNER_BUSY], 1);
}

}  // namespace

namespace {

std::string Joined(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\n";
  return s;
}

// Every control of the frame gets at least the room it needs, on every tab of both sheets:
// a control given less makes GTK complain at each layout and shows clipped.
TEST_F(MainFrameTest, NoControlGetsLessRoomThanItNeeds) {
  ASSERT_TRUE(Make());
  frame_->Show();
  orbtest::PumpUntil([] { return false; }, 50);
  std::vector<std::string> squeezed;
  auto visit = [&](wxNotebook* tabs, const char* sheet) {
    ASSERT_TRUE(tabs) << sheet;
    for (size_t i = 0; i < tabs->GetPageCount(); ++i) {
      tabs->SetSelection(i);
      orbtest::PumpUntil([] { return false; }, 20);
      for (const std::string& s : orbtest::SqueezedControls(frame_))
        squeezed.push_back(std::string(sheet) + " tab " + std::to_string(i) + ": " + s);
    }
  };
  // The sheets show their pages whole in height (the scan sheet may scroll sideways only).
  for (wxWindow* sheet : {static_cast<wxWindow*>(frame_->ScanSheet()), static_cast<wxWindow*>(frame_->ViewSheet())}) {
    wxNotebook* tabs = frame_ == nullptr ? nullptr : dynamic_cast<wxNotebook*>(sheet->GetChildren().GetFirst()->GetData());
    ASSERT_TRUE(tabs);
    EXPECT_GE(sheet->GetClientSize().y, tabs->GetBestSize().y) << sheet->GetClassInfo()->GetClassName();
  }
  visit(frame_->ScanSheet()->GetTabControl(), "scan sheet");
  visit(frame_->ViewSheet()->GetTabControl(), "view sheet");
  EXPECT_TRUE(squeezed.empty()) << Joined(squeezed);
}

}  // namespace
