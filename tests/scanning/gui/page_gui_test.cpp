// The scan output page and the file-naming dialog as windows over their models.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/choice.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/notebook.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/AppGlobals.h"
#include "common/LanguageModule.h"
#include "common/ResourceIds.h"
#include "common/gui/Resources.h"
#include "common/Messages.h"
#include "common/gui/AppMessage.h"
#include "scanning/gui/ScanToolsPropPage.h"
#include "tools/gui/SetupFilenameDlg.h"

namespace {

// Stands in for the main frame: records the messages the page sends.
class FakeMainFrame : public wxEvtHandler {
 public:
  FakeMainFrame() {
    map.Attach(this);
    for (uint32_t m : {WM_SCAN_BATCH_WAIT, WM_SCAN_STOP, WM_SCAN_ACCEPT_PAGE, WM_SCAN_REJECT_PAGE,
                       WM_SCANNER_LOAD, WM_SCANNER_UNLOAD, WM_APPLY_PAPER_STAGING}) {
      map.On(m, [this, m](uintptr_t w, intptr_t) {
        got.push_back({m, w});
        return intptr_t{0};
      });
    }
    g_hMainFrame.store(orb::gui::HandleOf(this));
  }
  ~FakeMainFrame() override { g_hMainFrame.store(nullptr); }
  orb::gui::MessageMap map;
  std::vector<std::pair<uint32_t, uintptr_t>> got;
};

class PageWindow : public testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = testing::TempDir() + "/pagegXXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
    saved = ScanSettings;
    ScanSettings = orb::ScanSettingsRecord();
    ScanSettings.ScannerType = 0;
    ScanSettings.ScannerSubType = 1;
    ScanSettings.ColourMode = 0;
    ScanSettings.FormatIndexRgb = 1;  // jp2
    ScanSettings.FormatIndexBilevel = 3;  // tif-g4
    ScanSettings.MaxDpi = 800;
    ScanSettings.OpticalDpi = 400;
    ScanSettings.MaxWidth = 3600;
    orb::SetTextField(ScanSettings.OutputFileName, dir + "/Scan-0001.jp2");
    AppStatus.store(0);
    g_bScannerPresent = 1;
    frame = new wxFrame(nullptr, wxID_ANY, "page");
    book = new wxNotebook(frame, wxID_ANY);
    page = new CScanToolsPropPage(book);
    book->AddPage(page, "Scan");
    frame->Show();
  }
  void TearDown() override {
    frame->Destroy();
    wxTheApp->ProcessPendingEvents();
    ScanSettings = saved;
    AppStatus.store(0);
    std::string cmd = "rm -rf '" + dir + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }
  std::string dir;
  orb::ScanSettingsRecord saved;
  FakeMainFrame main;
  wxFrame* frame = nullptr;
  wxNotebook* book = nullptr;
  CScanToolsPropPage* page = nullptr;
};

using namespace orb::page_ids;

TEST_F(PageWindow, ButtonsFollowTheScanStateAndSendTheirMessages) {
  page->OnSetActive();
  EXPECT_TRUE(page->ControlWindow(kScan)->IsShown());
  EXPECT_FALSE(page->ControlWindow(kAccept)->IsShown());
  EXPECT_TRUE(page->ControlWindow(kFileName)->IsEnabled());
  main.got.clear();
  page->PressButton(kScan);
  ASSERT_EQ(main.got.size(), 1u);
  EXPECT_EQ(main.got[0], (std::pair<uint32_t, uintptr_t>{WM_SCAN_BATCH_WAIT, WM_SCAN_NEW_DOCUMENT}));

  AppStatus.store(1);
  page->OnSetActive();
  EXPECT_FALSE(page->ControlWindow(kColourMode)->IsEnabled());
  EXPECT_FALSE(page->ControlWindow(kFileName)->IsEnabled());
  EXPECT_EQ(dynamic_cast<wxButton*>(page->ControlWindow(kScan))->GetLabel(), "Stop");
  main.got.clear();
  page->PressButton(kScan);
  EXPECT_EQ(main.got.at(0).first, WM_SCAN_STOP);

  AppStatus.store(2);
  page->OnSetActive();
  EXPECT_TRUE(page->ControlWindow(kAccept)->IsShown());
  EXPECT_TRUE(page->ControlWindow(kReject)->IsShown());
  main.got.clear();
  page->PressButton(kAccept);
  page->PressButton(kReject);
  ASSERT_EQ(main.got.size(), 2u);
  EXPECT_EQ(main.got[0].first, WM_SCAN_ACCEPT_PAGE);
  EXPECT_EQ(main.got[1].first, WM_SCAN_REJECT_PAGE);
}

TEST_F(PageWindow, ChoosingAColourModeChangesTheExtension) {
  page->OnSetActive();
  auto* colour = dynamic_cast<wxChoice*>(page->ControlWindow(kColourMode));
  ASSERT_NE(colour, nullptr);
  EXPECT_EQ(colour->GetCount(), 7u);
  colour->SetSelection(4);
  wxCommandEvent e(wxEVT_CHOICE, kColourMode);
  e.SetEventObject(colour);
  colour->ProcessWindowEvent(e);
  EXPECT_EQ(ScanSettings.ColourMode, 4);
  auto* name = dynamic_cast<wxTextCtrl*>(page->ControlWindow(kFileName));
  EXPECT_EQ(std::string(name->GetValue().ToUTF8()), dir + "/Scan-0001.tif");
}

TEST_F(PageWindow, TypedWidthIsClampedWhenTheEditLosesFocus) {
  ScanSettings.SizeMode = 2;
  page->OnSetActive();
  auto* width = dynamic_cast<wxTextCtrl*>(page->ControlWindow(kWidth));
  ASSERT_TRUE(width->IsShown());
  width->ChangeValue("0");
  wxFocusEvent kill(wxEVT_KILL_FOCUS, kWidth);
  kill.SetEventObject(width);
  width->ProcessWindowEvent(kill);
  EXPECT_EQ(ScanSettings.CustomWidth, 100);
  EXPECT_EQ(width->GetValue(), " 1.00\"");
}

TEST(NamingWindow, FieldsFollowTheName) {
  orb::ScanSettingsRecord s;
  CSetupFilenameDlg model("Job-01-001", s);
  auto* frame = new wxFrame(nullptr, wxID_ANY, "naming");
  {
    orb::gui::SetupFilenameDialog dlg(frame, model);
    EXPECT_EQ(dlg.GetId(), orb::naming_ids::kTemplate);  // the module's template
    EXPECT_FALSE(dlg.GetTitle().empty());
    auto* start2 = dynamic_cast<wxTextCtrl*>(dlg.ControlWindow(orb::naming_ids::kStart[1]));
    ASSERT_NE(start2, nullptr);
    EXPECT_EQ(start2->GetValue(), "001");
    EXPECT_FALSE(dlg.ControlWindow(orb::naming_ids::kStart[2])->IsEnabled());
    auto* limit2 = dynamic_cast<wxTextCtrl*>(dlg.ControlWindow(orb::naming_ids::kLimit[1]));
    limit2->ChangeValue("50000");
    wxFocusEvent kill(wxEVT_KILL_FOCUS, limit2->GetId());
    kill.SetEventObject(limit2);
    limit2->ProcessWindowEvent(kill);
    auto* name = dynamic_cast<wxTextCtrl*>(dlg.ControlWindow(orb::naming_ids::kName));
    EXPECT_EQ(name->GetValue(), "Job-01-00001");
  }
  frame->Destroy();
}

}  // namespace

#include <dlfcn.h>
#include <wx/combobox.h>

#include "scanning/ResolutionList.h"
#include "tests/common/gui/GuiTestUtil.h"

namespace {

// A row chosen from the resolution list is stored (after the box's 50 ms timer) and
// stays through the next activation of the page. The row is chosen through the toolkit
// itself, so the events come in the order and form a user's choice gives.
TEST_F(PageWindow, AResolutionChosenFromTheListSticks) {
  const std::vector<std::string> savedList = orb::ResolutionList();
  orb::ResolutionList() = {"100 dpi", "200 dpi", "400 dpi", ""};
  auto* fresh = new CScanToolsPropPage(book);
  book->AddPage(fresh, "Scan 2");
  orbtest::PumpUntil([] { return false; }, 5);  // the page's first activation
  auto* res = dynamic_cast<wxComboBox*>(fresh->ControlWindow(kResolution));
  ASSERT_NE(res, nullptr);
  ASSERT_EQ(res->GetCount(), 3u);
  ASSERT_EQ(ScanSettings.ResolutionIndex, 0);
  using SetActive = void (*)(void*, int);
  auto choose = reinterpret_cast<SetActive>(dlsym(RTLD_DEFAULT, "gtk_combo_box_set_active"));
  ASSERT_NE(choose, nullptr);
  choose(res->GetHandle(), 2);
  EXPECT_TRUE(orbtest::PumpUntil([] { return ScanSettings.ResolutionIndex == 2; }));
  fresh->OnSetActive();
  EXPECT_EQ(ScanSettings.ResolutionIndex, 2);
  EXPECT_EQ(res->GetValue(), "400 dpi");
  EXPECT_EQ(res->GetSelection(), 2);
  orb::ResolutionList() = savedList;
}

}  // namespace

namespace {

std::string ModuleString(int id) { return orb::CurrentLanguage() ? orb::CurrentLanguage()->String(id) : std::string(); }

// Every control of the page and of the naming dialog shows the tooltip rule's text: its
// own string (Scan and the other commands under their command ids), whole in mode 2.
TEST_F(PageWindow, ControlsShowTheirToolTips) {
  const uint8_t mode = MiscSettings.TooltipMode;
  MiscSettings.TooltipMode = 2;
  auto* fresh = new CScanToolsPropPage(book);
  book->AddPage(fresh, "Scan 3");
  for (int id : {kScan, kAccept, kReject, kColourMode, kResolution, kFileName, kSetupFilename, kOutputFormat}) {
    SCOPED_TRACE(id);
    ASSERT_FALSE(ModuleString(id).empty());
    EXPECT_EQ(std::string(fresh->ControlWindow(id)->GetToolTipText().utf8_str()), ModuleString(id));
  }
  orb::ScanSettingsRecord s;
  CSetupFilenameDlg model("Job-01-001", s);
  {
    orb::gui::SetupFilenameDialog dlg(frame, model);
    for (int id : {orb::naming_ids::kName, orb::naming_ids::kStart[0], orb::naming_ids::kCarry[2]}) {
      SCOPED_TRACE(id);
      ASSERT_FALSE(ModuleString(id).empty());
      EXPECT_EQ(std::string(dlg.ControlWindow(id)->GetToolTipText().utf8_str()), ModuleString(id));
    }
  }
  MiscSettings.TooltipMode = mode;
}

}  // namespace

namespace {

// The page's pictures come from the module: each one the page names is there, and the
// buttons show them (the batch button the picture of its state).
TEST_F(PageWindow, ButtonsShowTheModulesPictures) {
  namespace pics = orb::page_bitmaps;
  for (int id : {pics::kScanIdle, pics::kScanStop, pics::kScanAgain, pics::kAccept, pics::kReject, pics::kBatchOn,
                 pics::kBatchOff, pics::kUnload, pics::kLoad, pics::kFileNaming, pics::kTotals}) {
    SCOPED_TRACE(id);
    EXPECT_TRUE(orb::gui::ModuleBitmap(id).IsOk());
  }
  page->OnSetActive();
  for (int id : {kScan, kAccept, kReject, kUnload, kLoad, kSetupFilename, kTotals, kBatchScan}) {
    SCOPED_TRACE(id);
    auto* b = dynamic_cast<wxAnyButton*>(page->ControlWindow(id));
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(b->GetBitmap().IsOk());
  }
}

}  // namespace

namespace {

// The page is the module's template 102: its controls by their ids (the commands by their
// moved ids) and its labels, none built by the program.
TEST_F(PageWindow, IsTheModulesTemplate) {
  EXPECT_EQ(page->GetId(), CScanToolsPropPage::kTemplateId);
  EXPECT_EQ(page->ControlWindow(kScan)->GetId(), orb::res::WxCommandId(kScan));
  wxString labels;
  for (wxWindow* child : page->GetChildren())
    if (auto* t = dynamic_cast<wxStaticText*>(child); t && t->GetId() < 0) labels += t->GetLabel() + "|";
  EXPECT_TRUE(labels.Contains("Colour mode|")) << labels;
  EXPECT_TRUE(labels.Contains("Output format|")) << labels;
}

}  // namespace
