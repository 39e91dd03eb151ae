// The main frame with a simulated Kelvane scanner: it connects and identifies the scanner
// while it is built (on the image-acquisition list, the still-image list or over TCP), and
// the scanner's button reaches the frame as the scan-button command, from the button
// callback or from the status poll.
#include <gtest/gtest.h>
#include <wx/docview.h>

#include <cstring>
#include <memory>

#include "app/gui/MainFrame.h"
#include "app/gui/OrbalonDoc.h"
#include "common/AppGlobals.h"
#include "common/ResourceIds.h"
#include "engine/Settings.h"
#include "platform/sim/SimKelvane.h"
#include "scanning/ScannerEntryPoints.h"
#include "scanning/kelvane/KelvaneConnection.h"
#include "scanning/kelvane/KelvaneScanner.h"
#include "tests/common/TestUtil.h"
#include "tests/common/gui/GuiTestUtil.h"
#include "tests/scanning/ScanTestSupport.h"

namespace {

using orb::sim::KelvaneConfigFor;
using orb::sim::SimKelvane;

class KelvaneFrame : public orb::test::ScanTestBase {
 protected:
  void SetUp() override {
    ScanTestBase::SetUp();
    g_szProgramFolder = orbtest::ProgramFolder().string();
    g_bBatchMode = 0;
    orb::SetScanningEntryPoints({});
    ScanSettings.NetworkOption = 0;
    manager_ = new COrbalonDocManager;
    new wxDocTemplate(manager_, "Image", "*.*", "", "tif", "COrbalonDoc", "COrbalonView",
                      CLASSINFO(COrbalonDoc), CLASSINFO(COrbalonView));
  }
  void TearDown() override {
    if (frame_) {
      frame_->Destroy();
      orbtest::PumpUntil([] { return g_hMainFrame.load() == nullptr; }, 20000);
    }
    EXPECT_EQ(g_hMainFrame.load(), nullptr);
    delete manager_;
    orb::SetScanningEntryPoints({});
    ScanTestBase::TearDown();
  }
  CMainFrame* Make() {
    frame_ = CMainFrame::Create(manager_, "Orbalon");
    if (frame_) {
      wxTheApp->SetTopWindow(frame_);
      // Counted and kept here: the frame's own handler would press Scan, which for this
      // family says in a message box that its scan is not available yet.
      frame_->Bind(
          wxEVT_MENU, [this](wxCommandEvent&) { ++buttonCommands_; },
          orb::res::WxCommandId(ID_SCANNER_BUTTON));
    }
    return frame_;
  }
  COrbalonDocManager* manager_ = nullptr;
  CMainFrame* frame_ = nullptr;
  int buttonCommands_ = 0;
};

TEST_F(KelvaneFrame, IdentifiesAnImageAcquisitionScannerAndHearsItsButton) {
  auto s = std::make_shared<SimKelvane>(KelvaneConfigFor(1, "Kelvane Bn Scanner", 4));
  orb::sim::ScopedKelvaneWia wia(s);
  ASSERT_TRUE(Make());
  EXPECT_EQ(g_bScannerPresent.load(), 1);
  EXPECT_EQ(ScanSettings.ScannerType, 80);
  EXPECT_EQ(frame_->Vendor(), "TESSIVAN");
  EXPECT_EQ(frame_->Model(), "QRD BN53c");  // scanner code 4
  EXPECT_EQ(frame_->Firmware(), "v01.02.03");  // firmware number 10203
  EXPECT_EQ(frame_->Kelvane().GetModelCode(), 4);
  EXPECT_FALSE(frame_->Kelvane().WatchRunning());  // local: the button comes as an event
  wia.PressButton();
  EXPECT_TRUE(orbtest::PumpUntil([&] { return buttonCommands_ == 1; }, 20000));
  wia.RaiseOtherEvent();
  orbtest::PumpUntil([] { return false; }, 20);
  EXPECT_EQ(buttonCommands_, 1);
}

TEST_F(KelvaneFrame, IdentifiesAStillImageScanner) {
  auto s = std::make_shared<SimKelvane>(KelvaneConfigFor(2, "KelvanePVk Scanner", 26));
  orb::sim::ScopedKelvaneSti sti(s);
  ASSERT_TRUE(Make());
  EXPECT_EQ(g_bScannerPresent.load(), 1);
  EXPECT_EQ(frame_->Model(), "QRD PVK78m");  // scanner code 26
  EXPECT_EQ(frame_->Firmware(), "v01.02.00");  // generation 2: version 1.2
  EXPECT_EQ(frame_->Kelvane().GetGeneration(), 2);
}

TEST_F(KelvaneFrame, ANetworkScannersButtonComesThroughTheStatusPoll) {
  auto s = std::make_shared<SimKelvane>(KelvaneConfigFor(2, "KelvaneRu Scanner", 33));
  orb::sim::SimKelvaneServer server(s);
  ASSERT_TRUE(server.Running());
  ScanSettings.NetworkOption = 1;
  std::memset(ScanSettings.ScannerAddress, 0, sizeof ScanSettings.ScannerAddress);
  std::strcpy(ScanSettings.ScannerAddress, "127.0.0.1");
  ScanSettings.NetworkPort1 = server.Port();
  ASSERT_TRUE(Make());
  EXPECT_EQ(frame_->Model(), "QRD Ru37c");  // scanner code 33
  EXPECT_EQ(frame_->Kelvane().GetConnectionKind(), orb::kelvane::ConnectionKind::Network);
  ASSERT_TRUE(frame_->Kelvane().WatchRunning());
  s->PressButton();
  // The poll asks every 500 ms: the command arrives within a few polls.
  EXPECT_TRUE(orbtest::PumpUntil([&] { return buttonCommands_ == 1; }, 20000));
  // The frame goes while the poll thread runs: it is stopped first (TearDown).
}

TEST_F(KelvaneFrame, WithoutAKelvaneScannerTheFrameGoesOnToTheScsiFamily) {
  ASSERT_TRUE(Make());
  EXPECT_NE(ScanSettings.ScannerType, 80);
  EXPECT_FALSE(frame_->Kelvane().IsConnected());
}

TEST(KelvaneFirmwareText, PairsOfDigits) {
  EXPECT_EQ(orb::kelvane::FirmwareText(123456), "v12.34.56");
  EXPECT_EQ(orb::kelvane::FirmwareText(5), "v00.00.05");
  EXPECT_EQ(orb::kelvane::FirmwareText(10203), "v01.02.03");
  EXPECT_EQ(orb::kelvane::FirmwareText(-7), "v00.00.00");
  EXPECT_EQ(orb::kelvane::FirmwareText(2147483647), "v99.99.99");
}

}  // namespace
