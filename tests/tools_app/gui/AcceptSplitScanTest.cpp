// Accept of a scan with the two-page split switched on, in the running main frame against
// the simulated scanner: the split line stands in the middle of the new scan, and Accept
// leaves the two pages (ImageMagick's crops of the scan, read back by tiffinfo and
// ImageMagick) in place of the scan, with the output name moved on past both.
#include <gtest/gtest.h>
#include <wx/docmdi.h>
#include <wx/tglbtn.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/gui/MainFrame.h"
#include "app/gui/OrbalonDoc.h"
#include "app/gui/ViewPropSheet.h"
#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "platform/sim/SimAttach.h"
#include "scanning/ScanOutputPageModel.h"
#include "scanning/ScannerEntryPoints.h"
#include "scanning/gui/ScanToolsPropPage.h"
#include "tests/common/ProcessUtil.h"
#include "tests/common/TestUtil.h"
#include "tests/common/gui/GuiTestUtil.h"
#include "tools/ToolTable.h"
#include "tools/ToolViewHooks.h"
#include "tools/gui/ToolPage.h"
#include "tools/gui/ToolsPropPages.h"
#include "tools/gui/transform/TransformPages.h"
#include "tools/transform/Split.h"

namespace {

namespace fs = std::filesystem;
using namespace orb::page_ids;
using namespace orb::tools;

using orbtest::Shell;
std::string Pixels(const std::string& path, const std::string& op = "") {
  return Shell("convert '" + path + "' " + op + " -depth 8 rgb:- 2>/dev/null");
}
using orbtest::ImageSize;

int32_t DownTo8(int32_t v) { return v >= 8 ? v / 8 * 8 : v; }

class AcceptSplitScan : public ::testing::Test {
 protected:
  void SetUp() override {
    g_szDataFolder = data_.path().string();
    g_szProgramFolder = orbtest::ProgramFolder().string();
    ScanSettings = orb::ScanSettingsRecord();
    MiscSettings = orb::MiscSettingsRecord();
    PaletteSettings = {};
    Rotate90Settings = {};
    AcceptAs2ImagesSettings = {};
    g_bBatchMode = 0;
    AppStatus = 0;
    orb::SetScanningEntryPoints({});
    orb::SetTempFilesFolder(work_.path().string());
    manager_ = new COrbalonDocManager;
    new wxDocTemplate(manager_, "Image", "*.*", "", "tif", "COrbalonDoc", "COrbalonView", CLASSINFO(COrbalonDoc),
                      CLASSINFO(COrbalonView));
  }
  void TearDown() override {
    if (frame_) {
      frame_->Destroy();
      orbtest::PumpUntil([] { return g_hMainFrame.load() == nullptr; });
    }
    delete manager_;
    orb::SetScanningEntryPoints({});
    orb::SetTempFilesFolder("");
    AcceptAs2ImagesSettings = {};
  }

  orbtest::TempDir data_, work_;
  COrbalonDocManager* manager_ = nullptr;
  CMainFrame* frame_ = nullptr;
};

TEST_F(AcceptSplitScan, AcceptWritesBothPagesInPlaceOfTheScan) {
  orb::sim::ScopedStiScanner scanner;
  scanner.scanner().InsertPaper();
  frame_ = CMainFrame::Create(manager_, "Orbalon");
  ASSERT_TRUE(frame_);
  wxTheApp->SetTopWindow(frame_);
  frame_->Show();
  CScanToolsPropPage* page = CScanToolsPropPage::Current();
  ASSERT_TRUE(page);

  const std::string out = (data_.path() / "Scan-0001.tif").string();
  orb::SetTextField(ScanSettings.OutputFileName, out);
  ScanSettings.NameSeparator[0] = '-';
  for (auto& c : ScanSettings.NameCounters) c = orb::NameCounter{1, 9999, 1, 0};
  ScanSettings.FormatIndexRgb = 4;  // tif-uncompressed
  ScanSettings.FormatIndexGrey = 3;
  ScanSettings.SizeMode = 2;
  ScanSettings.CustomWidth = 400;
  ScanSettings.CustomLength = 300;
  ScanSettings.PaperEndDetection = 1;  // a scanner that senses the paper's end
  ScanSettings.MediaHandlingByte = 2;
  page->OnSetActive();
  // The split switched on from its page on the other tools tab, as the user does.
  frame_->ViewSheet()->SetActivePage(2);
  orbtest::PumpUntil([] { return false; }, 20);
  auto* other = dynamic_cast<COtherToolsPropPage*>(frame_->ViewSheet()->GetPage(2));
  ASSERT_TRUE(other);
  other->OnSetActive();
  ASSERT_TRUE(other->Button(kToolSplit)->IsShown());
  other->OnToolButton(kToolSplit);
  auto* split = dynamic_cast<CAcceptAs2ImagesTools*>(other->Page(kToolSplit));
  ASSERT_TRUE(split);
  auto* toggle = dynamic_cast<wxToggleButton*>(split->FindWindow(IDC_TOOL_ENABLE));
  ASSERT_TRUE(toggle);
  toggle->SetValue(true);
  split->OnEnable();
  split->OnOrientation(orb::tools::kSplitVertical);
  orbtest::PumpUntil([] { return false; }, 20);

  page->PressButton(kScan);
  ASSERT_TRUE(orbtest::PumpUntil([] { return (AppStatus.load() & 3) == 2; }, 20000)) << AppStatus.load();
  ASSERT_EQ(ScanSettings.PaperEndDetection, 1u);
  ASSERT_EQ(AcceptAs2ImagesSettings.enabled, 1u);
  auto* doc = dynamic_cast<COrbalonDoc*>(manager_->GetDocumentsVector().at(0));
  ASSERT_TRUE(doc && doc->WorkingImage());
  const int32_t w = doc->WorkingImage()->width, h = doc->WorkingImage()->height;
  ASSERT_GT(w, 16);
  ASSERT_GT(h, 0);
  ASSERT_EQ(doc->WorkingImage()->state, 0u);
  const std::string scanned = (work_.path() / "scanned.tif").string();
  fs::copy_file(out, scanned);

  // The split line stands in the middle of the new scan, over its view.
  auto* hooks = dynamic_cast<orb::tools::SplitHooks*>(orb::RegisteredViewTool(orb::ViewToolRole::Split));
  ASSERT_TRUE(hooks);
  EXPECT_EQ(hooks->Orientation(), orb::tools::kSplitVertical);
  EXPECT_EQ(hooks->Position(), w / 2);
  EXPECT_TRUE(hooks->IsShowing(orb::ViewContext{doc->WorkingImage()}));
  if (const char* dir = std::getenv("ORB_SCREENSHOT_DIR")) {
    orbtest::PumpUntil([] { return false; }, 300);
    std::system(("import -window root '" + std::string(dir) + "/accept-split-line.png'").c_str());
  }

  page->PressButton(kAccept);
  ASSERT_TRUE(orbtest::PumpUntil([] { return (AppStatus.load() & 3) == 0; }, 20000));
  orbtest::PumpUntil([&] { return manager_->GetDocumentsVector().empty(); });
  EXPECT_TRUE(manager_->GetDocumentsVector().empty());

  const std::string page2 = (data_.path() / "Scan-0002.tif").string();
  const int32_t p = w / 2, w1 = DownTo8(p), w2 = DownTo8(w - p - 1);
  EXPECT_EQ(ImageSize(out), std::to_string(w1) + " " + std::to_string(h));
  EXPECT_EQ(ImageSize(page2), std::to_string(w2) + " " + std::to_string(h));
  EXPECT_NE(Shell("tiffinfo '" + page2 + "' 2>&1").find("Image Width: " + std::to_string(w2)), std::string::npos);
  const std::string crop1 = "-crop " + std::to_string(w1) + "x" + std::to_string(h) + "+0+0";
  const std::string crop2 = "-crop " + std::to_string(w2) + "x" + std::to_string(h) + "+" + std::to_string(w1) + "+0";
  EXPECT_TRUE(Pixels(out) == Pixels(scanned, crop1));
  EXPECT_TRUE(Pixels(page2) == Pixels(scanned, crop2));
  EXPECT_FALSE(fs::exists(data_.path() / "SplitSource.tif"));
  EXPECT_EQ(orb::TextField(ScanSettings.OutputFileName), (data_.path() / "Scan-0003.tif").string());
}

}  // namespace
