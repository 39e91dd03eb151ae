// A scan through the running main frame against a simulated scanner: the frame is made
// after the test has attached its scanner, and the scan's results are read from the
// frame's document, the data folder and the scan log.
#pragma once

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/docview.h>
#include <wx/image.h>

#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "app/gui/MainFrame.h"
#include "app/gui/OrbalonDoc.h"
#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "engine/Settings.h"
#include "scanning/ScannerEntryPoints.h"
#include "tests/common/TestUtil.h"
#include "tests/common/gui/GuiTestUtil.h"

namespace orbtest {

// Every scan test starts from a fresh start's globals with a data folder of its own and
// the scan log on, and leaves no frame, manager or scanner entry points behind.
class FrameScanFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    g_szDataFolder = data_.path().string();
    g_szProgramFolder = ProgramFolder().string();
    ScanSettings = orb::ScanSettingsRecord();
    MiscSettings = orb::MiscSettingsRecord();
    MiscSettings.ScanLogEnabled = 1;
    g_bBatchMode = 0;
    AppStatus = 0;
    orb::SetScanningEntryPoints({});
    manager_ = new COrbalonDocManager;
    new wxDocTemplate(manager_, "Image", "*.*", "", "tif", "COrbalonDoc", "COrbalonView", CLASSINFO(COrbalonDoc),
                      CLASSINFO(COrbalonView));
  }
  void TearDown() override {
    DetachScanner();
    if (frame_) {
      frame_->Destroy();
      PumpUntil([] { return g_hMainFrame.load() == nullptr; }, 20000);
    }
    delete manager_;
    orb::SetScanningEntryPoints({});
  }
  // A simulated scanner the fixture holds goes before the frame does.
  virtual void DetachScanner() {}

  // The frame over the scanner attached so far, shown when `show` (a scan that is looked
  // at); null when it could not be made.
  CMainFrame* StartFrame(bool show) {
    frame_ = CMainFrame::Create(manager_, "Orbalon");
    if (frame_ && show) {
      wxTheApp->SetTopWindow(frame_);
      frame_->Show();
    }
    return frame_;
  }

  // The screen as an image file, for people to look at, when ORB_SCREENSHOT_DIR names a
  // folder (the X server's root window through ImageMagick's import); after a short wait,
  // so that the last drawing is on it.
  static void Screenshot(const std::string& name, int settleRounds) {
    const char* dir = std::getenv("ORB_SCREENSHOT_DIR");
    if (!dir) return;
    PumpUntil([] { return false; }, settleRounds);
    std::string cmd = "import -window root '" + std::string(dir) + "/" + name + "'";
    if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "no screenshot: " << cmd;
  }

  // How many colours the view shows, on a grid of every fourth pixel: a scanned sheet
  // shows more than a blank view's one or two.
  static size_t ColoursShown(COrbalonView* view) {
    wxImage picture = view->Canvas()->Snapshot();
    std::set<uint32_t> colours;
    if (!picture.IsOk()) return colours.size();
    for (int y = 0; y < picture.GetHeight(); y += 4) {
      for (int x = 0; x < picture.GetWidth(); x += 4) {
        colours.insert(picture.GetRed(x, y) << 16 | picture.GetGreen(x, y) << 8 | picture.GetBlue(x, y));
      }
    }
    return colours.size();
  }

  // The scan log's text in the data folder (empty when there is none).
  std::string ScanLogText() const { return ReadFile(data_.path() / "ScanLog.txt"); }

  TempDir data_;
  COrbalonDocManager* manager_ = nullptr;
  CMainFrame* frame_ = nullptr;
};

}  // namespace orbtest
