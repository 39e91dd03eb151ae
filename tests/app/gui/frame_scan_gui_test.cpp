// A scan through the running main frame against the simulated scanner: Scan on the scan
// output page, the scan document drawn while it arrives, Accept, the output file, the scan
// log entry and the next output name.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "scanning/ScannerEntryPoints.h"
#include "app/gui/MainFrame.h"
#include "app/gui/MainFrameCommands.h"
#include "app/gui/OrbalonDoc.h"
#include "app/gui/ScanHostGui.h"
#include "engine/ScanLog.h"
#include "engine/Settings.h"
#include "platform/sim/SimAttach.h"
#include "scanning/ScanHost.h"
#include "scanning/ScanPipeline.h"
#include "scanning/ScsiScanControl.h"
#include "scanning/ScanOutputPageModel.h"
#include "scanning/gui/ScanToolsPropPage.h"
#include "tests/common/TestUtil.h"
#include "tests/common/gui/FrameScanFixture.h"
#include "tests/common/gui/GuiTestUtil.h"

namespace {

using namespace orb::page_ids;

class FrameScan : public orbtest::FrameScanFixture {
 protected:
  void DetachScanner() override { scanner_.reset(); }

  // The frame started over the simulated scanner with paper in it; its scan output page.
  CScanToolsPropPage* StartOverPaper(bool show) {
    scanner_.emplace();
    scanner_->scanner().InsertPaper();
    if (!StartFrame(show)) return nullptr;
    return CScanToolsPropPage::Current();
  }
  // The next scan: a custom area in `colourMode`, into Scan-0001 in the data folder (its
  // path returned); the caller picks the file format of the mode.
  std::string AskForCustomScan(int colourMode, int width, int length) {
    const std::string out = (data_.path() / "Scan-0001.tif").string();
    orb::SetTextField(ScanSettings.OutputFileName, out);
    ScanSettings.ColourMode = colourMode;
    ScanSettings.SizeMode = 2;
    ScanSettings.CustomWidth = width;
    ScanSettings.CustomLength = length;
    return out;
  }

  std::optional<orb::sim::ScopedStiScanner> scanner_;
};

TEST_F(FrameScan, ScanAcceptWritesTheFileTheLogAndAdvancesTheName) {
  CScanToolsPropPage* page = StartOverPaper(true);
  ASSERT_TRUE(frame_);
  ASSERT_EQ(g_bScannerPresent.load(), 1);
  ASSERT_TRUE(page);

  // A grey scan of a small custom area into an uncompressed TIFF in the test's folder.
  const std::string out = AskForCustomScan(3, 400, 300);
  ScanSettings.FormatIndexGrey = 3;  // tif-uncompressed
  page->OnSetActive();
  ASSERT_TRUE(page->ControlWindow(kScan)->IsEnabled());

  page->PressButton(kScan);
  ASSERT_TRUE(orbtest::PumpUntil([] { return (AppStatus.load() & 3) == 2; }, 20000))
      << "status " << AppStatus.load();
  ASSERT_EQ(manager_->GetDocumentsVector().size(), 1u);
  auto* doc = dynamic_cast<COrbalonDoc*>(manager_->GetDocumentsVector()[0]);
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->WorkingImage()->state, 0u);
  EXPECT_GT(doc->WorkingImage()->height, 0);
  EXPECT_TRUE(page->ControlWindow(kAccept)->IsShown());
  // The Scan button ran through the frame's one scanner object, scan control and host.
  EXPECT_EQ(orb::CurrentScanHost(), &frame_->GuiScanHost());
  EXPECT_FALSE(frame_->ScsiControl().Scanning());
  EXPECT_GT(frame_->ScsiControl().LastResult().linesReceived, 0);
  // The view shows the scanned sheet: its picture is not blank.
  COrbalonView* view = doc->View();
  ASSERT_TRUE(view && view->Canvas());
  // The sheet's blocks in several greys, the backing and the paper: more than a blank view.
  EXPECT_TRUE(orbtest::PumpUntil([&] { return ColoursShown(view) > 3; }, 200)) << ColoursShown(view);
  Screenshot("scan-decision.png", 200);

  page->PressButton(kAccept);
  ASSERT_TRUE(orbtest::PumpUntil([] { return (AppStatus.load() & 3) == 0; }, 20000));
  orbtest::PumpUntil([&] { return manager_->GetDocumentsVector().empty(); });
  EXPECT_TRUE(manager_->GetDocumentsVector().empty());
  EXPECT_TRUE(std::filesystem::exists(out));
  EXPECT_GT(std::filesystem::file_size(out), 0u);
  EXPECT_EQ(orb::TextField(ScanSettings.OutputFileName), (data_.path() / "Scan-0002.tif").string());

  const std::string log = ScanLogText();
  EXPECT_NE(log.find("Scan-0001.tif"), std::string::npos) << log;
}

TEST_F(FrameScan, RejectRemovesTheOutputAndKeepsTheName) {
  CScanToolsPropPage* page = StartOverPaper(false);
  ASSERT_TRUE(frame_);
  ASSERT_TRUE(page);
  const std::string out = AskForCustomScan(4, 300, 200);
  ScanSettings.FormatIndexBilevel = 1;  // tif-uncompressed
  page->OnSetActive();
  page->PressButton(kScan);
  ASSERT_TRUE(orbtest::PumpUntil([] { return (AppStatus.load() & 3) == 2; }, 20000));
  page->PressButton(kReject);
  ASSERT_TRUE(orbtest::PumpUntil([] { return (AppStatus.load() & 3) == 0; }, 20000));
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(orb::TextField(ScanSettings.OutputFileName), out);
}

}  // namespace

#include <sys/resource.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/statusbr.h>
#include <wx/testing.h>

#include <csignal>

#include "common/LanguageModule.h"
#include "common/ResourceIds.h"
#include "tests/common/gui/KeepMessageText.h"

namespace {

// A disk that fills during the scan (a file size limit of the process stands in): the
// scan is failed, not waiting for a decision; no Accept, the name stays, the document
// keeps what arrived and the status line says what happened.
TEST_F(FrameScan, AScanThatCannotBeWrittenOffersNoAcceptAndKeepsTheName) {
  CScanToolsPropPage* page = StartOverPaper(false);
  ASSERT_TRUE(frame_);
  ASSERT_TRUE(page);
  const std::string out = AskForCustomScan(3, 400, 300);
  ScanSettings.FormatIndexGrey = 3;  // tif-uncompressed: 120000 bytes of pixels
  page->OnSetActive();

  struct rlimit before {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = before;
  small.rlim_cur = 16384;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  wxString said;
  bool ended = false;
  wxTEST_DIALOG(page->PressButton(kScan);
                ended = orbtest::PumpUntil([&] { return !said.empty() && frame_->ScsiControl().LastResult().finalHeight > 0 &&
                                                        !frame_->ScsiControl().Scanning() && (AppStatus.load() & 3) == 0; },
                                           20000),
                orbtest::KeepMessageText(&said, "the scan's write failure"));
  setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, oldSignal);
  ASSERT_TRUE(ended) << "status " << AppStatus.load();
  EXPECT_TRUE(said.Contains("could not be written")) << said;
  orbtest::PumpUntil([] { return false; }, 20);
  EXPECT_EQ(AppStatus.load() & 3, 0u);
  EXPECT_FALSE(page->ControlWindow(kAccept)->IsShown());
  page->PressButton(kAccept);
  orbtest::PumpUntil([] { return false; }, 20);
  EXPECT_EQ(orb::TextField(ScanSettings.OutputFileName), out);
  ASSERT_EQ(manager_->GetDocumentsVector().size(), 1u);
  EXPECT_TRUE(manager_->GetDocumentsVector()[0]->IsModified());
  ASSERT_TRUE(frame_->GetStatusBar());
  EXPECT_EQ(frame_->GetStatusBar()->GetStatusText(0),
            wxString::FromUTF8(orb::CurrentLanguage()->String(orb::res::IDS_SCAN_NOT_WRITTEN)));
}

}  // namespace
