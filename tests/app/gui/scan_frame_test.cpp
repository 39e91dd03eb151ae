// The main frame with a simulated scanner of the SCSI family: it identifies the scanner while
// it is built, scans into a new document through its SCSI routines (the band-by-band display
// on the GUI thread, the completion message to the frame, an output file with the scanner's
// pixels), stops a running scan cleanly and ends a scan that is still running when it goes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <wx/docview.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/testing.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "scanning/ScannerEntryPoints.h"
#include "app/gui/MainFrame.h"
#include "app/gui/OrbalonDoc.h"
#include "app/gui/ScanHostGui.h"
#include "engine/ImageState.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "platform/imagemill/imagemill.h"
#include "platform/sim/SimAttach.h"
#include "scanning/ScsiScanControl.h"
#include "scanning/gui/ScanPropSheet.h"
#include "tests/common/TestUtil.h"
#include "tests/common/gui/GuiTestUtil.h"
#include "tests/common/gui/MainFrameFixture.h"
#include "tests/scanning/ScanTestSupport.h"

namespace {

// Rows of an image file, one byte per sample.
struct Picture {
  int rc = -1;
  int width = 0, height = 0, bits = 0;
  std::vector<std::vector<uint8_t>> rows;
};

Picture ReadPicture(const std::string& path) {
  Picture p;
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return p;
  IM_Init();
  auto header = [](void* user, IM_BITMAPINFOHEADER* h, IM_RGBQUAD*, int*) -> int {
    auto* pp = static_cast<Picture*>(user);
    pp->width = h->biWidth;
    pp->height = h->biHeight;
    pp->bits = h->biBitCount;
    return 0;
  };
  auto lines = [](void* user, uint8_t* line, int, int) -> int {
    auto* pp = static_cast<Picture*>(user);
    pp->rows.emplace_back(line, line + static_cast<size_t>(pp->width) * (pp->bits / 8));
    return 0;
  };
  p.rc = IM_ReadByCallback(fd, lines, header, &p);
  ::close(fd);
  return p;
}

class ScsiFrameScan : public orb::test::ScanTestBase {
 protected:
  void SetUp() override {
    ScanTestBase::SetUp();
    g_szProgramFolder = orbtest::ProgramFolder().string();
    g_bBatchMode = 0;
    savedPalette_ = PaletteSettings;
    savedRotate_ = Rotate90Settings;
    PaletteSettings.enabled = 0;
    Rotate90Settings.enabled = 0;
    orb::SetScanningEntryPoints({});
    // The settings were saved with this family's scanner: no factory defaults.
    ScanSettings.StoredScannerType = 0;
    ScanSettings.StoredSubType = 1;
    orb::sim::SimScannerConfig cfg;
    cfg.sheet.paperTop = 0;  // paper from the first line, one inch in from the left
    cfg.sheet.paperLeft = 1200;
    sti_ = std::make_unique<orb::sim::ScopedStiScanner>(cfg);
    manager_ = new COrbalonDocManager;
    new wxDocTemplate(manager_, "Image", "*.*", "", "tif", "COrbalonDoc", "COrbalonView", CLASSINFO(COrbalonDoc),
                      CLASSINFO(COrbalonView));
  }
  void TearDown() override {
    if (frame_) {
      sim().StallReads(false);
      frame_->Destroy();
      orbtest::PumpUntil([] { return g_hMainFrame.load() == nullptr; }, 20000);
    }
    EXPECT_EQ(g_hMainFrame.load(), nullptr);
    delete manager_;
    sti_.reset();
    orb::SetScanningEntryPoints({});
    PaletteSettings = savedPalette_;
    Rotate90Settings = savedRotate_;
    ScanTestBase::TearDown();
  }

  orb::sim::SimScanner& sim() { return sti_->scanner(); }

  CMainFrame* Make() {
    frame_ = orbtest::CreateFrameCountingMessages(manager_, &messages_);
    return frame_;
  }

  // A small colour scan: 100 dpi, two inches wide from one inch in, `length` hundredths.
  void Settings(int32_t length) {
    orb::ScanSettingsRecord& s = ScanSettings;
    s.ResolutionIndex = 0;
    orb::SetTextField(s.ResolutionText, "100 dpi");
    s.SizeMode = 2;
    s.AreaLeft = 100;
    s.AreaTop = 0;
    s.CustomWidth = 200;
    s.CustomLength = length;
    s.LeftOffsetMode = 1;
    s.ColourMode = 0;
    s.FormatIndexRgb = 3;  // PNG
    s.ScanBrightness = 5;
    s.GammaRed = s.GammaGreen = s.GammaBlue = 1.0f;
    s.OutputIsPlainTiff = 0;
    s.NoPadOutput = 0;
    s.AutoPalette16 = s.AutoPalette256 = 0;
    out_ = dir_ + "/scan.png";
    orb::SetTextField(s.OutputFileName, out_);
  }

  // A new, empty document that is the active one, as before a scan start.
  COrbalonDoc* NewScanDocument() {
    auto* doc = dynamic_cast<COrbalonDoc*>(manager_->CreateDocument(wxString(), wxDOC_NEW));
    if (!doc) return nullptr;
    doc->SetScanDocument(true);
    if (wxView* v = doc->GetFirstView()) v->Activate(true);
    return doc;
  }

  // Lets the simulated scanner deliver one read that it holds back, and waits until it has.
  bool ReleaseOneRead() {
    if (!orbtest::PumpUntil([&] { return sim().StalledReads() > 0; }, 20000)) return false;
    const size_t before = sim().LogOf(0x28).size();
    sim().ReleaseReads();
    return orbtest::PumpUntil([&] { return sim().LogOf(0x28).size() > before; }, 20000);
  }

  // Starts a scan through the frame's routine as the scan workflow does: with the status
  // word saying that a scan runs (the settings pages leave the scanner alone meanwhile).
  int StartScan() {
    orb::SetScanState(orb::ScanState::Scanning);
    const int started = frame_->StartScanScsi();
    if (!started) orb::SetScanState(orb::ScanState::Idle);
    return started;
  }

  std::unique_ptr<orb::sim::ScopedStiScanner> sti_;
  COrbalonDocManager* manager_ = nullptr;
  CMainFrame* frame_ = nullptr;
  std::map<uint32_t, int> messages_;
  std::string out_;
  orb::PaletteRecord savedPalette_;
  orb::Rotate90Record savedRotate_;
};

TEST_F(ScsiFrameScan, TheFrameIdentifiesTheSimulatedScanner) {
  ASSERT_TRUE(Make());
  EXPECT_EQ(g_bScannerPresent.load(), 1);
  EXPECT_EQ(g_scanFamilyTag, "Vq");
  EXPECT_EQ(ScanSettings.ModelCode, 3);
  EXPECT_EQ(ScanSettings.OpticalDpi, 400);
  EXPECT_EQ(frame_->Vendor().Strip(wxString::trailing), "TESSIVAN");
  // The product field as the scanner gives it, "e" appended for its series.
  EXPECT_TRUE(frame_->Model().StartsWith("TR6729")) << frame_->Model();
  EXPECT_EQ(frame_->Firmware(), "1.52");
  const wxString caption = frame_->ScanSheet()->GetTabCaption(0);
  EXPECT_TRUE(caption.Contains("TR6729")) << caption;
  EXPECT_TRUE(caption.Contains("1.52")) << caption;
  // The frame's own scanner object reaches the device too.
  sim().InsertPaper();
  EXPECT_TRUE(frame_->IsPaperPresentScsi());
  sim().RemovePaper();
  EXPECT_FALSE(frame_->IsPaperPresentScsi());
  sim().InsertPaper();
  // The service routines of this family ask first; Cancel leaves the scanner alone.
  sim().ClearLog();
  wxTEST_DIALOG(EXPECT_EQ(frame_->CalibrateScsi(), 0), wxExpectModal<wxMessageDialog>(wxID_CANCEL));
  wxTEST_DIALOG(EXPECT_EQ(frame_->AlignScannerScsi(), 0), wxExpectModal<wxMessageDialog>(wxID_CANCEL));
  wxTEST_DIALOG(EXPECT_EQ(frame_->ShowDiagnosticsScsi(), 0), wxExpectModal<wxMessageDialog>(wxID_CANCEL));
  ASSERT_TRUE(frame_->ScsiFamily());
  wxTEST_DIALOG(EXPECT_EQ(frame_->ScsiFamily()->Calibrate(), 0), wxExpectModal<wxMessageDialog>(wxID_CANCEL));
  EXPECT_TRUE(sim().LogOf(0x1D).empty()) << "no service step was started";
}

TEST_F(ScsiFrameScan, AScanIntoANewDocumentCompletesWithTheScannersPixels) {
  ASSERT_TRUE(Make());
  Settings(100);
  COrbalonDoc* doc = NewScanDocument();
  ASSERT_TRUE(doc);
  ImageState* image = doc->WorkingImage();
  ASSERT_EQ(StartScan(), 1);
  ASSERT_TRUE(orbtest::PumpUntil([&] { return messages_[WM_SCAN_COMPLETE] > 0; }, 30000));
  frame_->ScsiControl().WaitForScan();
  frame_->GuiScanHost().Flush();

  const orb::ScanResult r = frame_->ScsiControl().LastResult();
  EXPECT_EQ(r.end, orb::ScanEnd::Complete);
  EXPECT_EQ(r.linesReceived, 100);
  EXPECT_EQ(messages_[WM_SCAN_COMPLETE], 1);
  EXPECT_EQ(messages_[WM_SCAN_REJECT_PAGE], 0);

  Picture p = ReadPicture(out_);
  ASSERT_EQ(p.rc, IM_OK) << out_;
  ASSERT_EQ(p.width, 192);
  ASSERT_EQ(p.height, 100);
  ASSERT_EQ(p.bits, 24);
  int wrong = 0;
  for (int y = 0; y < 100; ++y) wrong += p.rows[y] != sim().RenderDeliveredLine(y);
  EXPECT_EQ(wrong, 0);
  // Not all one colour: the sheet's blocks are in it.
  EXPECT_NE(p.rows[50], p.rows[0]);

  // The document works on the scan's working copy, and its view got the bands.
  EXPECT_EQ(image->width, 192);
  EXPECT_EQ(image->height, 100);
  EXPECT_EQ(image->sourceForm, 2u);
  EXPECT_TRUE(std::filesystem::exists(image->rawPath));
  EXPECT_TRUE(image->bitmaps[2]) << "nothing was drawn into the view";
  EXPECT_EQ(frame_->GuiScanHost().ProgressDialog(), nullptr);
}

TEST_F(ScsiFrameScan, AScanStoppedMidwayEndsCleanlyWithWhiteToItsLength) {
  ASSERT_TRUE(Make());
  Settings(300);
  ASSERT_TRUE(NewScanDocument());
  sim().StallReads(true);
  ASSERT_EQ(StartScan(), 1);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(ReleaseOneRead());
  ASSERT_TRUE(orbtest::PumpUntil([&] { return sim().StalledReads() > 0; }, 20000));
  EXPECT_TRUE(frame_->ScsiControl().Scanning());
  frame_->StopScanScsi();
  sim().StallReads(false);
  sim().ReleaseReads();
  ASSERT_TRUE(orbtest::PumpUntil([&] { return messages_[WM_SCAN_COMPLETE] > 0; }, 30000));
  frame_->ScsiControl().WaitForScan();
  frame_->GuiScanHost().Flush();
  EXPECT_FALSE(frame_->ScsiControl().Scanning());

  const orb::ScanResult r = frame_->ScsiControl().LastResult();
  EXPECT_EQ(r.end, orb::ScanEnd::Stopped);
  EXPECT_TRUE(r.whiteFilled);
  EXPECT_FALSE(r.fillCancelled);
  EXPECT_GE(r.linesReceived, 8);
  EXPECT_LT(r.linesReceived, 300);
  EXPECT_EQ(messages_[WM_SCAN_REJECT_PAGE], 0);
  // The white completion's progress dialog came and went on the GUI thread.
  EXPECT_EQ(frame_->GuiScanHost().ProgressDialog(), nullptr);

  Picture p = ReadPicture(out_);
  ASSERT_EQ(p.rc, IM_OK) << out_;
  ASSERT_EQ(p.height, 300);
  for (int y = 0; y < r.linesReceived; ++y) ASSERT_EQ(p.rows[y], sim().RenderDeliveredLine(y)) << "line " << y;
  const std::vector<uint8_t> white(p.rows[0].size(), 255);
  for (int y = r.linesReceived; y < 300; ++y) ASSERT_EQ(p.rows[y], white) << "line " << y;
}

TEST_F(ScsiFrameScan, AFrameThatGoesDuringAScanEndsItFirst) {
  ASSERT_TRUE(Make());
  Settings(300);
  COrbalonDoc* doc = NewScanDocument();
  ASSERT_TRUE(doc);
  sim().StallReads(true);
  ASSERT_EQ(StartScan(), 1);
  ASSERT_TRUE(ReleaseOneRead());
  ASSERT_TRUE(orbtest::PumpUntil([&] { return sim().StalledReads() > 0; }, 20000));
  // The scanner holds the read back while the frame goes: the frame must not wait for ever,
  // and the scan must be over before the document it writes into is gone.
  frame_->Destroy();
  ASSERT_TRUE(orbtest::PumpUntil([] { return g_hMainFrame.load() == nullptr; }, 20000));
  frame_ = nullptr;
  EXPECT_FALSE(sim().Scanning());
  // Nothing half-written is left beside the output.
  for (const auto& e : std::filesystem::directory_iterator(dir_))
    EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
  CancelFlag = 0;
}

TEST_F(ScsiFrameScan, ClosingTheFrameDuringAScanEndsTheScanBeforeTheDocumentsClose) {
  ASSERT_TRUE(Make());
  Settings(300);
  ASSERT_TRUE(NewScanDocument());
  sim().StallReads(true);
  ASSERT_EQ(StartScan(), 1);
  ASSERT_TRUE(ReleaseOneRead());
  ASSERT_TRUE(orbtest::PumpUntil([&] { return sim().StalledReads() > 0; }, 20000));
  // The close handlers run before the documents close with the frame; a scan still writing
  // into its document after that would write into freed memory (the sanitizer build sees it).
  frame_->Close(true);
  EXPECT_FALSE(sim().Scanning());
  ASSERT_TRUE(orbtest::PumpUntil([] { return g_hMainFrame.load() == nullptr; }, 20000));
  frame_ = nullptr;
  EXPECT_TRUE(manager_->GetDocumentsVector().empty());
  CancelFlag = 0;
}

// Last: what ORB_SIM_SCANNER attaches stays attached for the rest of the process.
TEST_F(ScsiFrameScan, WithTheEnvironmentsScannerTheProgramIdentifiesIt) {
  sti_.reset();
  ::setenv("ORB_SIM_SCANNER", "scsi", 1);
  orb::sim::AttachEnvironmentScanners();
  ::unsetenv("ORB_SIM_SCANNER");
  if (orb::sim::EnvironmentScanners().empty())
    GTEST_SKIP() << "the simulated scanners of the environment were attached earlier in this process";
  ASSERT_TRUE(Make());
  EXPECT_EQ(g_bScannerPresent.load(), 1);
  EXPECT_TRUE(frame_->Model().StartsWith("TR6729"));
  EXPECT_TRUE(frame_->ScanSheet()->GetTabCaption(0).Contains("TR6729"));
  frame_->Destroy();
  orbtest::PumpUntil([] { return g_hMainFrame.load() == nullptr; }, 20000);
  frame_ = nullptr;
}

}  // namespace
