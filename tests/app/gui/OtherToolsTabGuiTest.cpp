// The other tools tab in the running main frame: after layout every Browse button of the
// outside editor and indexer pages lies wholly inside its page and inside the tab, at no
// less than its own size; the split line over a fresh scan is drawn with the names of both
// pages beside it in the toolkit's font, and nothing else.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/docmdi.h>
#include <wx/image.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <cstdlib>
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
#include "tests/common/gui/MainFrameFixture.h"
#include "tools/ToolTable.h"
#include "tools/ToolViewHooks.h"
#include "tools/gui/ToolPage.h"
#include "tools/gui/ToolsPropPages.h"
#include "tools/transform/Split.h"

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

class OtherToolsTab : public orbtest::MainFrameFixture {
 protected:
  void SetUp() override {
    EditorSettings = orb::EditorRecord();
    IndexSettings = orb::IndexRecord();
    AcceptAs2ImagesSettings = {};
    orb::SetScanningEntryPoints({});
    StartFrame();
  }
  void TearDown() override {
    MainFrameFixture::TearDown();
    AcceptAs2ImagesSettings = {};
    ScanSettings = orb::ScanSettingsRecord();
  }
  COtherToolsPropPage* OpenOtherTools() {
    frame_->ViewSheet()->SetActivePage(orb::kPageOtherTools);
    orbtest::PumpUntil([] { return false; }, 20);
    return dynamic_cast<COtherToolsPropPage*>(frame_->ViewSheet()->GetPage(orb::kPageOtherTools));
  }
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

// Pixels that differ between two pictures inside [left, right) x [top, bottom).
int Differing(const wxImage& a, const wxImage& b, int left, int top, int right, int bottom) {
  int n = 0;
  for (int y = std::max(top, 0); y < std::min(bottom, a.GetHeight()); ++y)
    for (int x = std::max(left, 0); x < std::min(right, a.GetWidth()); ++x)
      n += a.GetRed(x, y) != b.GetRed(x, y) || a.GetGreen(x, y) != b.GetGreen(x, y) || a.GetBlue(x, y) != b.GetBlue(x, y);
  return n;
}

TEST_F(OtherToolsTab, TheLineAndBothNamesAreDrawn) {
  const std::string path = (files_.path() / "Scan.tif").string();
  ASSERT_EQ(std::system(("convert -size 600x400 xc:gray85 -depth 8 -compress none '" + path + "'").c_str()), 0);
  auto* doc = OpenSilently(path);
  ASSERT_TRUE(doc);
  orbtest::PumpUntil([] { return false; }, 20);
  // As a scan fresh from a scanner that senses the paper's end.
  ImageState* image = doc->WorkingImage();
  image->state = VS_NORMAL;
  ScanSettings.PaperEndDetection = 1;
  auto* hooks = dynamic_cast<SplitHooks*>(orb::RegisteredViewTool(orb::ViewToolRole::Split));
  ASSERT_TRUE(hooks);
  hooks->SetOrientation(kSplitVertical);
  hooks->CenterSplitLine(*image);
  COrbalonCanvas* canvas = doc->View()->Canvas();

  AcceptAs2ImagesSettings.enabled = 0;
  const wxImage plain = canvas->Snapshot();
  AcceptAs2ImagesSettings.enabled = 1;
  ASSERT_TRUE(hooks->IsShowing(orb::ViewContext{image}));
  const wxImage split = canvas->Snapshot();
  ASSERT_TRUE(plain.IsOk() && split.IsOk());
  const orb::ViewContext view{image};
  const orb::Rect d = view.Drawing();
  ASSERT_GT(d.Width(), 100);
  const int lineX = view.ToClient(orb::Point{hooks->Position(), 0}).x;
  const int lineHeight = canvas->GetCharHeight();
  ASSERT_GT(lineHeight, 4);
  // The dashed line in its column.
  EXPECT_GT(Differing(plain, split, lineX, d.top, lineX + 1, d.bottom), d.Height() / 3);
  // A name on each side, at the picture's top, 10 pixels clear of the line.
  EXPECT_GT(Differing(plain, split, d.left, d.top, lineX - 10, d.top + lineHeight), 20);
  EXPECT_GT(Differing(plain, split, lineX + 10, d.top, d.right, d.top + lineHeight), 20);
  EXPECT_EQ(Differing(plain, split, lineX - 10, d.top, lineX, d.bottom), 0);
  EXPECT_EQ(Differing(plain, split, lineX + 1, d.top, lineX + 10, d.bottom), 0);
  // Nothing below the names but the line, nothing outside the picture.
  const int below = d.top + lineHeight + 2;
  EXPECT_EQ(Differing(plain, split, d.left, below, lineX, d.bottom), 0);
  EXPECT_EQ(Differing(plain, split, lineX + 1, below, d.right, d.bottom), 0);
  EXPECT_EQ(Differing(plain, split, 0, 0, split.GetWidth(), d.top), 0);

  // A horizontal line: the names over and under it.
  hooks->SetOrientation(kSplitHorizontal);
  hooks->CenterSplitLine(*image);
  const wxImage across = canvas->Snapshot();
  const int lineY = view.ToClient(orb::Point{0, hooks->Position()}).y;
  EXPECT_GT(Differing(plain, across, d.left, lineY - 5 - lineHeight, d.right, lineY - 5), 20);
  EXPECT_GT(Differing(plain, across, d.left, lineY + 5, d.right, lineY + 5 + lineHeight), 20);
  EXPECT_EQ(Differing(plain, across, d.left, d.top, d.right, lineY - 5 - lineHeight - 2), 0);
  if (const char* shots = std::getenv("ORB_TEST_SHOTS")) {
    split.SaveFile(wxString::FromUTF8(std::string(shots) + "/split-vertical.png"), wxBITMAP_TYPE_PNG);
    across.SaveFile(wxString::FromUTF8(std::string(shots) + "/split-horizontal.png"), wxBITMAP_TYPE_PNG);
  }
}

}  // namespace
