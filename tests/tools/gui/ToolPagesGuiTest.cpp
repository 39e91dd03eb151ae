// The tool pages and their hosts under a display: the buttons an image offers, the value
// handlers and their previews, apply through the pipeline (checked against ImageMagick),
// undo, the threshold page's controls, the tone-curve graph, tooltips and the settings
// files across a restart. The document is a stand-in host holding one image chain.
#include <gtest/gtest.h>
#include <unistd.h>
#include <wx/checkbox.h>
#include <wx/frame.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/tglbtn.h>
#include <wx/tooltip.h>
#include <wx/uiaction.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/TiffHeader.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "tests/common/ProcessUtil.h"
#include "tests/common/gui/GuiTestUtil.h"
#include "tests/common/gui/ToolPageFixture.h"
#include "tools/ToolDocumentHost.h"
#include "tools/ToolPageModels.h"
#include "tools/ToolTable.h"
#include "tools/gui/FilterPages.h"
#include "tools/gui/GammaTools.h"
#include "tools/gui/ThresholdPages.h"
#include "tools/gui/ToolsPropPages.h"

namespace {

namespace fs = std::filesystem;
using namespace orb::tools;

using orbtest::Shell;

using orbtest::Samples;

class ToolPagesGui : public orbtest::ToolPageFixture {
 protected:
  ToolPagesGui() : ToolPageFixture("tools", wxSize(420, 700)) {}
  void SetUp() override {
    ToolPageFixture::SetUp();
    BrightContSettings = {};
    BWPointSettings = {};
    SharpenSettings = {};
    DescreenSettings = {};
    DespeckleSettings = {};
    InvertSettings = {};
    MirrorSettings = {};
    BWThresholdSettings = {};
    GammaSettings = ToneCurveDefaults;
    ScanSettings.HardwareThreshold = 1;
    ScanSettings.ColourMode = IK_RGB;
    MiscSettings.TooltipMode = 1;
  }
  ImageState* Open(const std::string& name, const std::string& plan, uint32_t state = VS_OPENED) {
    const std::string path = (dir_ / name).string();
    // 8 bits a sample (black and white: 1), as scans are.
    const std::string depth = plan.find("-monochrome") != std::string::npos ? " -depth 1" : " -depth 8";
    EXPECT_EQ(std::system(("convert " + plan + depth + " -compress none '" + path + "'").c_str()), 0);
    return Adopt(path, state);
  }
  template <class P>
  P* MakePage() {
    return ToolPageFixture::MakePage<P>(wxSize(400, 650), false);
  }
  wxSlider* Slider(wxWindow* page, int id) { return dynamic_cast<wxSlider*>(page->FindWindow(id)); }
  void Move(CToolPage* page, int id, int position, int code = 4) {
    Slider(page, id)->SetValue(position);
    page->OnHScroll(code, position, id);
  }
};

TEST_F(ToolPagesGui, ToolsPageOffersTheButtonsOfTheImageKind) {
  auto* page = new CViewToolsPropPage(frame_);
  struct Row {
    const char* what;
    const char* plan;
    std::vector<int> shown, hidden;
  };
  const Row rows[] = {
      {"colour", "-size 8x8 xc:red", {1065, 1067, 1069, 1072}, {1063, 1073}},
      {"palette", "-size 8x8 xc:red -colors 4 -type palette", {1064, 1068}, {1067, 1069, 1072, 1063, 1073}},
      {"bilevel file", "-size 8x8 xc:white -monochrome", {1063, 1069}, {1065, 1066, 1067, 1071, 1072, 1073}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    Open("k.tif", r.plan);
    page->OnToolButton(kToolSharpen);
    page->AttachActiveImage();
    page->UpdateButtons();
    for (int id : r.shown) EXPECT_TRUE(page->Button(id)->IsShown()) << id;
    for (int id : r.hidden) EXPECT_FALSE(page->Button(id)->IsShown()) << id;
    // A tool the image does not offer is closed.
    const bool sharpenOffered = page->Button(kToolSharpen)->IsShown();
    EXPECT_EQ(page->ActiveTool(), sharpenOffered ? kToolSharpen : 0);
    if (sharpenOffered) page->OnToolButton(kToolSharpen);
  }
}

// A host laid out smaller than its controls (as the sheet lays its pages out before the
// frame sizes them) cuts them off at its edge and never squeezes them below their own
// minimum: the toolkit refuses a button of a few pixels.
TEST_F(ToolPagesGui, HostsNeverSqueezeTheirControlsBelowTheirMinimum) {
  auto* tools = new CViewToolsPropPage(frame_);
  auto* other = new COtherToolsPropPage(frame_);
  tools->OnToolButton(kToolBrightCont);
  for (CToolHostPage* host : {static_cast<CToolHostPage*>(tools), static_cast<CToolHostPage*>(other)}) {
    for (const wxSize size : {wxSize(20, 20), wxSize(0, 0), wxSize(150, 60), wxSize(400, 650)}) {
      SCOPED_TRACE(testing::Message() << size.x << "x" << size.y);
      host->SetSize(size);
      host->Layout();
      std::vector<wxWindow*> controls(host->GetChildren().begin(), host->GetChildren().end());
      if (CToolPage* open = host->Page(host->ActiveTool()))
        controls.insert(controls.end(), open->GetChildren().begin(), open->GetChildren().end());
      int checked = 0;
      for (wxWindow* c : controls) {
        if (!c->IsShown() || dynamic_cast<wxPanel*>(c)) continue;
        const wxSize min = c->GetEffectiveMinSize();
        EXPECT_GE(c->GetSize().x, min.x) << c->GetId();
        EXPECT_GE(c->GetSize().y, min.y) << c->GetId();
        ++checked;
      }
      EXPECT_GE(checked, 3);
    }
  }
}

TEST_F(ToolPagesGui, ToolButtonsOpenAndCloseAndTheMessagesReachTheHost) {
  auto* page = new CViewToolsPropPage(frame_);
  frame_->Show();
  page->OnToolButton(kToolMirror);
  EXPECT_EQ(page->ActiveTool(), kToolMirror);
  EXPECT_TRUE(page->Page(kToolMirror)->IsShown());
  EXPECT_FALSE(page->Placeholder()->IsShown());
  page->OnToolButton(kToolInvert);  // another button switches directly
  EXPECT_TRUE(page->Page(kToolInvert)->IsShown());
  EXPECT_FALSE(page->Page(kToolMirror)->IsShown());
  page->OnToolButton(kToolInvert);  // its own button closes it
  EXPECT_EQ(page->ActiveTool(), 0);
  EXPECT_TRUE(page->Placeholder()->IsShown());

  // The toggle of a page tells the host, which marks the button.
  auto* mirror = page->Page(kToolMirror);
  dynamic_cast<wxToggleButton*>(mirror->FindWindow(IDC_TOOL_ENABLE))->SetValue(true);
  mirror->OnEnable();
  orbtest::PumpUntil([&] { return page->ShowsEnabled(kToolMirror); }, 200);
  EXPECT_TRUE(page->ShowsEnabled(kToolMirror));
  EXPECT_EQ(MirrorSettings.enabled, 1);
  // Enable messages of the threshold or of unknown ids change nothing.
  orb::SendAppMessage(orb::gui::HandleOf(page), WM_TOOL_ENABLE, kToolThreshold, 1);
  orb::SendAppMessage(orb::gui::HandleOf(page), WM_TOOL_ENABLE, 4242, 1);
  EXPECT_FALSE(page->ShowsEnabled(kToolThreshold));
  EXPECT_FALSE(page->ShowsEnabled(4242));
  // An applied tool closes its page.
  page->OnToolButton(kToolBrightCont);
  page->Page(kToolBrightCont)->OnOK();
  orbtest::PumpUntil([&] { return page->ActiveTool() == 0; }, 200);
  EXPECT_EQ(page->ActiveTool(), 0);
}

TEST_F(ToolPagesGui, BrightnessSliderPreviewsOnTheWorkingImageOnly) {
  auto* page = MakePage<CBrightContTools>();
  // No image: the value changes and shows; nothing is drawn.
  host_.image = nullptr;
  Move(page, 1021, 0);
  EXPECT_EQ(BrightContSettings.Brightness, -100);
  EXPECT_EQ(dynamic_cast<wxStaticText*>(page->FindWindow(1035))->GetLabel(), "-100");
  EXPECT_TRUE(host_.hints.empty());
  ImageState* w = Open("bc.tif", "-size 16x16 xc:gray40");
  const std::string before = Samples(w->sourcePath, "gray");
  Move(page, 1078, 200);
  EXPECT_EQ(BrightContSettings.Contrast, 100);
  EXPECT_EQ(host_.hints, std::vector<int>{kViewHintRepaint});
  EXPECT_EQ(w->brightnessPending, 1);
  EXPECT_EQ(w->edited, 1);
  // The file is not touched by a preview.
  EXPECT_EQ(Samples(w->sourcePath, "gray"), before);
  // Middle is 0; a position giving the stored value again draws nothing.
  Move(page, 1021, 100);
  EXPECT_EQ(BrightContSettings.Brightness, 0);
  host_.hints.clear();
  Move(page, 1021, 100);
  EXPECT_TRUE(host_.hints.empty());
  // Reset with both values already at 0 still redraws once.
  Move(page, 1078, 100);
  host_.hints.clear();
  page->OnReset();
  EXPECT_EQ(host_.hints, std::vector<int>{kViewHintRepaint});
}

TEST_F(ToolPagesGui, WhitePointStaysAtOrAboveBlackPoint) {
  auto* page = MakePage<CBWPointTools>();
  Move(page, 1087, 100);  // black to 100
  EXPECT_EQ(BWPointSettings.Black, 100);
  Move(page, 1085, 40);  // white below black: put on black, nothing stored
  EXPECT_EQ(Slider(page, 1085)->GetValue(), 100);
  EXPECT_EQ(BWPointSettings.White, 255);
  Move(page, 1087, 180);  // black above white's slider (100): put back on it
  EXPECT_EQ(Slider(page, 1087)->GetValue(), 100);
  page->OnReset();
  EXPECT_EQ(BWPointSettings.White, 255);
  EXPECT_EQ(BWPointSettings.Black, 0);
}

TEST_F(ToolPagesGui, InvertAndMirrorApplyMatchImageMagickAndUndoRestores) {
  struct Case {
    int tool;
    const char* op;
    uint32_t code;
  };
  for (const Case& c : {Case{kToolInvert, "-negate", kOpInvert}, Case{kToolMirror, "-flop", kOpMirror}}) {
    SCOPED_TRACE(c.op);
    ImageState* w = Open("im.tif", "-size 33x21 -seed 2 plasma:");
    const std::string original = Samples(w->sourcePath, "rgb");
    CToolPage* page = c.tool == kToolInvert ? static_cast<CToolPage*>(MakePage<CInvertTools>())
                                            : static_cast<CToolPage*>(MakePage<CMirrorTools>());
    // Enter applies.
    wxKeyEvent enter(wxEVT_CHAR_HOOK);
    enter.m_keyCode = WXK_RETURN;
    page->GetEventHandler()->ProcessEvent(enter);
    ImageState* n = host_.image;
    ASSERT_NE(n, w);
    EXPECT_EQ(n->prev, w);
    EXPECT_EQ(n->operationCode, c.code);
    EXPECT_EQ(Samples(n->sourcePath, "rgb"), Samples(w->sourcePath, "rgb", c.op));
    EXPECT_EQ(host_.changed, 1);
    EXPECT_EQ(host_.hints, (std::vector<int>{kViewHintWholeImage, kViewHintRedraw}));
    // Undo: the newest version goes, the old pixels are what the document shows.
    const std::string newFile = n->sourcePath;
    fs::remove(newFile);
    host_.image = FreeImageState(n);
    EXPECT_EQ(host_.image, w);
    EXPECT_EQ(Samples(host_.image->sourcePath, "rgb"), original);
    host_.changed = 0;
    host_.hints.clear();
  }
}

TEST_F(ToolPagesGui, SharpenWithLevelZeroDoesNothingAndApplyLeavesThePreviewOff) {
  auto* page = MakePage<CSharpenTools>();
  ImageState* w = Open("sh.tif", "-size 20x12 -seed 3 plasma:");
  // Slider ends: 0 is -10, 20 is 10.
  Move(page, 1179, 0);
  EXPECT_EQ(SharpenSettings.Level, -10);
  Move(page, 1179, 20);
  EXPECT_EQ(SharpenSettings.Level, 10);
  Move(page, 1179, 14, 5);  // thumb being dragged: not taken
  EXPECT_EQ(SharpenSettings.Level, 10);
  Move(page, 1179, 10);
  EXPECT_EQ(SharpenSettings.Level, 0);
  page->OnOK();
  EXPECT_EQ(host_.image, w);
  EXPECT_EQ(w->next, nullptr);
  // Preview on: actual size; apply turns it off and makes a sharpened version.
  auto* preview = dynamic_cast<wxCheckBox*>(page->FindWindow(IDC_TOOL_PREVIEW));
  preview->SetValue(true);
  dynamic_cast<CPreviewToolPage*>(page)->OnPreview();
  EXPECT_EQ(SharpenSettings.preview, 1);
  EXPECT_EQ(host_.hints.back(), kViewHintActualSize);
  Move(page, 1179, 15);
  page->OnOK();
  EXPECT_EQ(SharpenSettings.preview, 0);
  EXPECT_FALSE(preview->GetValue());
  ASSERT_NE(host_.image, w);
  EXPECT_EQ(host_.image->operationCode, static_cast<uint32_t>(kOpSharpen));
  EXPECT_EQ(Shell("identify -format '%w %h' '" + host_.image->sourcePath + "'"), "20 12");
  // Hiding the page with the preview on returns the view to its normal display.
  preview->SetValue(true);
  dynamic_cast<CPreviewToolPage*>(page)->OnPreview();
  page->Hide();
  EXPECT_EQ(SharpenSettings.preview, 0);
  EXPECT_EQ(host_.hints.back(), kViewHintRedraw);
}

TEST_F(ToolPagesGui, DespeckleAndNoisePagesApply) {
  auto* noise = MakePage<CDescreenTools>();
  ImageState* w = Open("n.tif", "-size 24x10 -seed 4 plasma: -colorspace gray -type grayscale");
  Move(noise, 1082, 3);
  EXPECT_EQ(DescreenSettings.Level, 3);
  noise->OnOK();
  ASSERT_NE(host_.image, w);
  EXPECT_EQ(host_.image->operationCode, static_cast<uint32_t>(kOpNoiseRemoval));
  EXPECT_EQ(Shell("identify -format '%h' '" + host_.image->sourcePath + "'"), "10");

  auto* speck = MakePage<CDespeckleTools>();
  EXPECT_FALSE(speck->FindWindow(IDC_TOOL_ENABLE)->IsShown());
  DespeckleSettings.SpeckWidth = 250;
  speck->UpdateControls();
  EXPECT_EQ(DespeckleSettings.SpeckWidth, 100);
  EXPECT_EQ(Slider(speck, 1183)->GetValue(), 100);
  speck->OnReset();
  EXPECT_EQ(DespeckleSettings.SpeckWidth, 5);
  ImageState* bw = Open("s.tif", "-size 30x20 xc:white -fill black -draw 'point 4,4' -monochrome");
  speck->OnOK();
  ASSERT_NE(host_.image, bw);
  EXPECT_EQ(host_.image->kind, IK_BW);
  const std::string px = Samples(host_.image->sourcePath, "gray");
  ASSERT_EQ(px.size(), 600u);
  EXPECT_EQ(static_cast<uint8_t>(px[4 * 30 + 4]), 255);
}

TEST_F(ToolPagesGui, ThresholdPageShowsTheControlsOfItsType) {
  auto* page = MakePage<CBWThreshTools>();
  auto shown = [&](int id) { return page->FindWindow(id)->IsShown(); };
  BWThresholdSettings.ThresholdingType = 2;
  BWThresholdSettings.DiffusionHybrid = 0;
  page->UpdateControls();
  EXPECT_TRUE(shown(1442));
  EXPECT_FALSE(shown(1441));
  EXPECT_FALSE(shown(1443));
  EXPECT_FALSE(shown(1001));
  // The adaptive part shows the other two sliders at once.
  dynamic_cast<wxCheckBox*>(page->FindWindow(1458))->SetValue(true);
  wxCommandEvent click(wxEVT_CHECKBOX, 1458);
  click.SetEventObject(page->FindWindow(1458));
  page->FindWindow(1458)->GetEventHandler()->ProcessEvent(click);
  EXPECT_EQ(BWThresholdSettings.DiffusionHybrid, 1);
  EXPECT_TRUE(shown(1441));
  EXPECT_TRUE(shown(1443));
  // Fixed type: one slider, its label carries the value.
  BWThresholdSettings.ThresholdingType = 0;
  BWThresholdSettings.FixedThreshhold = 40;
  page->UpdateControls();
  EXPECT_TRUE(shown(1001));
  EXPECT_FALSE(shown(1442));
  EXPECT_EQ(dynamic_cast<wxStaticText*>(page->FindWindow(1438))->GetLabel(), "Level (40)");
  // A scanner without hardware thresholding: the check is hidden and thresholding is software.
  ScanSettings.HardwareThreshold = 0;
  BWThresholdSettings.SoftwareThreshold = 0;
  page->EnableControls(true);
  EXPECT_EQ(BWThresholdSettings.SoftwareThreshold, 1);
  EXPECT_FALSE(shown(1001));
}

TEST_F(ToolPagesGui, ThresholdPreviewFollowsTheReleaseNotTheDrag) {
  auto* page = MakePage<CBWThreshTools>();
  ImageState* w = Open("g.tif", "-size 8x8 xc:gray50", VS_NORMAL);
  w->linesOneBytePerPixel = 1;  // a scan whose lines hold grey
  host_.hints.clear();
  Move(page, 1441, 50, 5);
  EXPECT_EQ(BWThresholdSettings.FixedThreshhold, 50);
  EXPECT_TRUE(host_.hints.empty());
  Move(page, 1441, 51, 4);
  EXPECT_EQ(host_.hints, std::vector<int>{kViewHintRepaint});
  EXPECT_EQ(w->thresholdPending, 1);
}

TEST_F(ToolPagesGui, ToneCurveDragMovesEndPointsOnlyUpAndDown) {
  auto* page = MakePage<CGammaTools>();
  frame_->Show();
  page->Layout();
  const CurveGraph g = page->GraphGeometry();
  ASSERT_GT(g.width, 50);
  const orb::Point p0 = g.ClampedBox(GammaSettings.curves[0][0]);
  page->OnLButtonDown(p0.x, p0.y);
  EXPECT_EQ(page->Picked(), 0);
  page->OnMouseMove(p0.x + 40, g.height / 2);
  EXPECT_EQ(GammaSettings.curves[0][0].x, 0);
  EXPECT_GT(GammaSettings.curves[0][0].y, 100);
  page->OnLButtonUp();
  EXPECT_FALSE(page->Graph()->HasCapture());
  // A click outside every point still lets the pointer go.
  page->OnLButtonDown(g.width / 2, 5);
  EXPECT_EQ(page->Picked(), -1);
  page->OnLButtonUp();
  EXPECT_FALSE(page->Graph()->HasCapture());
  page->OnReset();
  EXPECT_EQ(GammaSettings.curves[0][0], (orb::CurvePoint{0, 0}));
}

TEST_F(ToolPagesGui, TooltipsFollowTheMode) {
  struct Row {
    int mode;
    bool tip;
    bool secondLine;
  };
  for (const Row& r : {Row{0, false, false}, Row{1, true, false}, Row{2, true, true}}) {
    MiscSettings.TooltipMode = r.mode;
    auto* page = MakePage<CMirrorTools>();
    wxToolTip* tip = page->FindWindow(IDC_TOOL_ENABLE)->GetToolTip();
    EXPECT_EQ(tip != nullptr, r.tip) << r.mode;
    if (tip) {
      EXPECT_EQ(tip->GetTip().Contains("batch runs.\n") || tip->GetTip().Contains("While on"), r.secondLine);
    }
  }
}

TEST_F(ToolPagesGui, ValuesSurviveARestartThroughTheSettingsFile) {
  {
    auto* page = MakePage<CBrightContTools>();
    Move(page, 1021, 130);
    page->GetParent()->GetParent()->Destroy();  // the page goes with its host: the file is written
    orbtest::PumpUntil([] { return false; }, 5);
  }
  EXPECT_EQ(fs::file_size(dir_ / "BrightCont.flt"), 12u);
  BrightContSettings = {};
  auto* again = MakePage<CBrightContTools>();  // a new start reads it
  EXPECT_EQ(BrightContSettings.Brightness, 30);
  EXPECT_EQ(Slider(again, 1021)->GetValue(), 130);
}

}  // namespace
