// The other tools tab in the running main frame: after layout every Browse button of the
// outside editor and indexer pages lies wholly inside its page and inside the tab, at no
// less than its own size.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/docmdi.h>
#include <wx/textctrl.h>

#include <string>

#include "app/FrameRules.h"
#include "app/gui/MainFrame.h"
#include "app/gui/OrbalonDoc.h"
#include "app/gui/ViewPropSheet.h"
#include "common/AppGlobals.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "scanning/ScannerEntryPoints.h"
#include "tests/common/TestUtil.h"
#include "tests/common/gui/GuiTestUtil.h"
#include "tools/ToolTable.h"
#include "tools/gui/ToolPage.h"
#include "tools/gui/ToolsPropPages.h"

namespace {

using namespace orb::tools;

constexpr int kBrowseProgram = 1019;
constexpr int kBrowseProject = 1322;

// `inner`'s rectangle on the screen lies inside `outer`'s client area.
::testing::AssertionResult InsideClientArea(const wxWindow* inner, const wxWindow* outer) {
  const wxRect in(inner->GetScreenPosition(), inner->GetSize());
  const wxRect area(outer->ClientToScreen(wxPoint(0, 0)), outer->GetClientSize());
  if (area.Contains(in)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "(" << in.x << "," << in.y << " " << in.width << "x" << in.height
                                       << ") is not inside (" << area.x << "," << area.y << " " << area.width << "x"
                                       << area.height << ")";
}

class OtherToolsTab : public ::testing::Test {
 protected:
  void SetUp() override {
    g_szDataFolder = data_.path().string();
    g_szProgramFolder = orbtest::ProgramFolder().string();
    ScanSettings = orb::ScanSettingsRecord();
    MiscSettings = orb::MiscSettingsRecord();
    EditorSettings = orb::EditorRecord();
    IndexSettings = orb::IndexRecord();
    AcceptAs2ImagesSettings = {};
    g_bBatchMode = 0;
    AppStatus = 0;
    orb::SetScanningEntryPoints({});
    orb::SetTempFilesFolder(files_.path().string());
    manager_ = new COrbalonDocManager;
    new wxDocTemplate(manager_, "Image", "*.*", "", "tif", "COrbalonDoc", "COrbalonView", CLASSINFO(COrbalonDoc),
                      CLASSINFO(COrbalonView));
    frame_ = CMainFrame::Create(manager_, "Orbalon");
    ASSERT_TRUE(frame_);
    wxTheApp->SetTopWindow(frame_);
    frame_->Show();
    orbtest::PumpUntil([] { return false; }, 10);
  }
  void TearDown() override {
    for (wxDocument* d : manager_->GetDocumentsVector()) {
      if (auto* doc = dynamic_cast<COrbalonDoc*>(d)) doc->SetDiscardChanges(true);
    }
    manager_->CloseDocuments(true);
    orbtest::PumpUntil([] { return false; }, 10);
    if (frame_) {
      frame_->Destroy();
      orbtest::PumpUntil([] { return g_hMainFrame.load() == nullptr; });
    }
    delete manager_;
    orb::SetTempFilesFolder("");
    AcceptAs2ImagesSettings = {};
    ScanSettings = orb::ScanSettingsRecord();
  }
  COtherToolsPropPage* OpenOtherTools() {
    frame_->ViewSheet()->SetActivePage(orb::kPageOtherTools);
    orbtest::PumpUntil([] { return false; }, 20);
    return dynamic_cast<COtherToolsPropPage*>(frame_->ViewSheet()->GetPage(orb::kPageOtherTools));
  }

  orbtest::TempDir data_, files_;
  COrbalonDocManager* manager_ = nullptr;
  CMainFrame* frame_ = nullptr;
};

TEST_F(OtherToolsTab, BrowseButtonsLieInsideTheirPages) {
  COtherToolsPropPage* tab = OpenOtherTools();
  ASSERT_TRUE(tab);
  struct Case {
    int tool;
    int browse;
  } cases[] = {{kToolEditor, kBrowseProgram}, {kToolIndex, kBrowseProgram}, {kToolIndex, kBrowseProject}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.tool) + " " + std::to_string(c.browse));
    if (tab->ActiveTool() != c.tool) tab->OnToolButton(c.tool);
    orbtest::PumpUntil([] { return false; }, 20);
    CToolPage* page = tab->Page(c.tool);
    ASSERT_TRUE(page);
    ASSERT_TRUE(page->IsShownOnScreen());
    auto* browse = dynamic_cast<wxButton*>(page->FindWindow(c.browse));
    ASSERT_TRUE(browse);
    EXPECT_TRUE(InsideClientArea(browse, page));
    EXPECT_TRUE(InsideClientArea(browse, tab));
    // Never squeezed below the size the button asks for.
    EXPECT_GE(browse->GetSize().x, browse->GetBestSize().x);
    EXPECT_GE(browse->GetSize().y, browse->GetBestSize().y);
    // The path edit beside it keeps room to show a path.
    auto* edit = dynamic_cast<wxTextCtrl*>(page->FindWindow(browse->GetId() == kBrowseProgram ? 1291 : 1292));
    ASSERT_TRUE(edit);
    EXPECT_TRUE(InsideClientArea(edit, page));
    EXPECT_GE(edit->GetSize().x, 3 * edit->GetCharWidth());
  }
}

}  // namespace
