// A scan through the running main frame against simulated Kelvane scanners: the Scan key
// (F5) or the scanner's button starts it, the scan document is drawn as it arrives, Accept
// writes the file and the scan log entry; a network scanner's status poll runs again after.
#include <gtest/gtest.h>
#include <wx/docview.h>

#include <cstring>
#include <filesystem>

#include "app/FrameCommands.h"
#include "app/gui/MainFrame.h"
#include "app/gui/OrbalonDoc.h"
#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "common/ResourceIds.h"
#include "engine/Settings.h"
#include "platform/sim/SimKelvane.h"
#include "scanning/ScanOutputPageModel.h"
#include "scanning/ScannerEntryPoints.h"
#include "scanning/gui/ScanToolsPropPage.h"
#include "scanning/kelvane/KelvaneScanControl.h"
#include "scanning/kelvane/KelvaneScanner.h"
#include "tests/common/TestUtil.h"
#include "tests/common/gui/FrameScanFixture.h"
#include "tests/common/gui/GuiTestUtil.h"
#include "tests/scanning/ScanReadBack.h"

namespace {

using namespace orb::page_ids;
using orb::sim::KelvaneConfigFor;
using orb::sim::SimKelvane;

class KelvaneFrameScan : public orbtest::FrameScanFixture {
 protected:
  void Make() {
    ASSERT_TRUE(StartFrame(true));
    ASSERT_EQ(g_bScannerPresent.load(), 1);
    ASSERT_EQ(ScanSettings.ScannerType, 80);
    ASSERT_TRUE(frame_->KelvaneFamily());
  }
  // A colour scan into an uncompressed TIFF.
  void Settings() {
    out_ = (data_.path() / "Scan-0001.tif").string();
    orb::SetTextField(ScanSettings.OutputFileName, out_);
    ScanSettings.ColourMode = 0;
    ScanSettings.FormatIndexRgb = 4;  // tif-uncompressed
    ScanSettings.OutputIsPlainTiff = 1;
    ScanSettings.SizeMode = 2;
    ScanSettings.CustomWidth = 600;
    ScanSettings.CustomLength = 700;
    ScanSettings.ResolutionIndex = 0;
    orb::SetTextField(ScanSettings.ResolutionText, "100 dpi");
    ASSERT_EQ(orb::OutputFormatList(0)[4], 1u);
  }
  // Waits for the decision, checks the drawn document and the file, accepts.
  void ScannedThenAccepted(CScanToolsPropPage* page, SimKelvane& sim, const std::string& shot) {
    ASSERT_TRUE(orbtest::PumpUntil([] { return (AppStatus.load() & 3) == 2; }, 60000))
        << "status " << AppStatus.load();
    EXPECT_FALSE(frame_->KelvaneControl().Scanning());
    // The page's own choices (paper, resolution) decide the window: the whole of it came.
    const orb::kelvane::KelvanePlan& plan = frame_->KelvaneControl().LastPlan();
    size_ = std::to_string(plan.scan.widthPx) + " " + std::to_string(plan.scan.heightPx);
    EXPECT_EQ(frame_->KelvaneControl().LastResult().linesReceived, plan.scan.heightPx);
    EXPECT_EQ(plan.scan.widthPx % 8, 0);
    EXPECT_EQ(sim.EscapeCount(orb::kelvane::kEscEndScan), 1);
    ASSERT_EQ(manager_->GetDocumentsVector().size(), 1u);
    auto* doc = dynamic_cast<COrbalonDoc*>(manager_->GetDocumentsVector()[0]);
    ASSERT_TRUE(doc && doc->View() && doc->View()->Canvas());
    EXPECT_EQ(doc->WorkingImage()->height, plan.scan.heightPx);
    EXPECT_TRUE(orbtest::PumpUntil([&] { return ColoursShown(doc->View()) > 3; }, 2000)) << ColoursShown(doc->View());
    Screenshot(shot, 300);
    page->PressButton(kAccept);
    ASSERT_TRUE(orbtest::PumpUntil([] { return (AppStatus.load() & 3) == 0; }, 20000));
    EXPECT_EQ(orb::scantest::OutsideSize(out_, 1, data_.path().string()), size_);
    EXPECT_EQ(orb::TextField(ScanSettings.OutputFileName), (data_.path() / "Scan-0002.tif").string());
    const std::string log = ScanLogText();
    EXPECT_NE(log.find("Scan-0001.tif"), std::string::npos) << log;
  }

  std::string out_;
  std::string size_;
};

TEST_F(KelvaneFrameScan, F5ScansAGenerationOneSheetAndAcceptWritesIt) {
  auto sim = std::make_shared<SimKelvane>(KelvaneConfigFor(1, "Kelvane Bn Scanner", 4));
  orb::sim::ScopedKelvaneWia wia(sim);
  Make();
  Settings();
  CScanToolsPropPage* page = CScanToolsPropPage::Current();
  ASSERT_TRUE(page);
  page->OnSetActive();
  // F5: the File menu's Scan item.
  wxCommandEvent key(wxEVT_MENU, orb::res::WxCommandId(orb::frame_cmds::kMenuScan));
  frame_->ProcessWindowEvent(key);
  ScannedThenAccepted(page, *sim, "kelvane-gen1-decision.png");
  orb::scantest::Decoded d = orb::scantest::Decode(out_);
  ASSERT_EQ(d.rc, IM_OK);
  ASSERT_EQ(d.height, frame_->KelvaneControl().LastPlan().scan.heightPx);
  std::vector<uint8_t> want;
  for (int i = 0; i < 3 * d.width; ++i) want.push_back(SimKelvane::SheetByte(350, i));
  EXPECT_EQ(d.rows[350], want);
}

TEST_F(KelvaneFrameScan, ANetworkScannersButtonScansAndThePollRunsAgain) {
  auto sim = std::make_shared<SimKelvane>(KelvaneConfigFor(2, "KelvaneRu Scanner", 21));
  orb::sim::SimKelvaneServer server(sim);
  ASSERT_TRUE(server.Running());
  ScanSettings.NetworkOption = 1;
  std::strcpy(ScanSettings.ScannerAddress, "127.0.0.1");
  ScanSettings.NetworkPort1 = server.Port();
  Make();
  ASSERT_TRUE(frame_->Kelvane().WatchRunning());
  Settings();
  CScanToolsPropPage* page = CScanToolsPropPage::Current();
  ASSERT_TRUE(page);
  page->OnSetActive();
  // The button -> the status poll -> the scanner-button command -> Scan.
  sim->PressButton();
  ScannedThenAccepted(page, *sim, "kelvane-gen2-tcp-decision.png");
  EXPECT_TRUE(frame_->Kelvane().WatchRunning());
}

}  // namespace
