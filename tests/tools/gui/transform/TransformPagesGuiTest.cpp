// The transform tool pages under a display, over a stand-in document: crop by dragging the
// rectangle's handle on the view hooks, deskew of a tilted page by its measured angle,
// rotate, reduce resolution, palette conversion, and the split of a scan; each result file
// is read by ImageMagick or tiffinfo.
#include <gtest/gtest.h>
#include <unistd.h>
#include <wx/button.h>
#include <wx/frame.h>
#include <wx/radiobut.h>
#include <wx/textctrl.h>
#include <wx/modalhook.h>
#include <wx/slider.h>
#include <wx/testing.h>
#include <wx/tglbtn.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/TiffHeader.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "tests/common/ProcessUtil.h"
#include "tests/common/gui/GuiTestUtil.h"
#include "tests/common/gui/ToolPageFixture.h"
#include "tools/ToolDocumentHost.h"
#include "tools/ToolTable.h"
#include "tools/gui/ThresholdPages.h"
#include "tools/gui/transform/TransformPages.h"

namespace {

namespace fs = std::filesystem;
using namespace orb::tools;

using orbtest::Shell;

using orbtest::Samples;
using orbtest::ImageSize;

// Answers the threshold dialog: what the image looked like while it was open, then OK or
// Cancel.
class ThresholdReply : public wxExpectModalBase<CBWThreshDlg, ThresholdReply> {
 public:
  ThresholdReply(int answer, ImageState** image, int* kindSeen) : m_answer(answer), m_image(image), m_kind(kindSeen) {}

 protected:
  int OnInvoked(CBWThreshDlg*) const override {
    *m_kind = (*m_image)->kind;
    return m_answer;
  }
  wxString GetDefaultDescription() const override { return "the black-and-white threshold dialog"; }

 private:
  int m_answer;
  ImageState** m_image;
  int* m_kind;
};

class TransformPagesGui : public orbtest::ToolPageFixture {
 protected:
  TransformPagesGui() : ToolPageFixture("transform tools", wxSize(420, 600)) {}
  void SetUp() override {
    ToolPageFixture::SetUp();
    savedScan_ = ScanSettings;
    BWThresholdSettings = {};
    Rotate90Settings = {};
    PaletteSettings = {};
    AcceptAs2ImagesSettings = {};
  }
  void TearDown() override {
    ToolPageFixture::TearDown();
    ScanSettings = savedScan_;
  }
  ImageState* Open(const std::string& name, const std::string& plan, uint32_t state = VS_OPENED) {
    const std::string path = (dir_ / name).string();
    EXPECT_EQ(std::system(("convert " + plan + " -compress none '" + path + "'").c_str()), 0);
    ImageState* s = Adopt(path, state);
    // The view shows it at actual size from the client's corner.
    s->clientRect = PixelRect{0, 0, s->width, s->height};
    s->fitScale = 10000;
    return s;
  }
  template <class P>
  P* MakePage() {
    return ToolPageFixture::MakePage<P>(wxSize(400, 560), true);
  }
  // A click on a radio button as the user makes it.
  static void Click(wxWindow* page, int id) {
    auto* r = dynamic_cast<wxRadioButton*>(page->FindWindow(id));
    ASSERT_NE(r, nullptr) << id;
    r->SetValue(true);
    wxCommandEvent e(wxEVT_RADIOBUTTON, id);
    e.SetEventObject(r);
    r->GetEventHandler()->ProcessEvent(e);
  }
  orb::ViewContext View() { return orb::ViewContext{host_.image}; }

  orb::ScanSettingsRecord savedScan_;
};

TEST_F(TransformPagesGui, CropByDraggingTheRectangle) {
  Open("c.tif", "-size 200x120 -seed 3 plasma: -type TrueColor -depth 8");
  auto* page = MakePage<CCropTools>();
  orbtest::PumpUntil([&] { return page->Hooks().IsShowing(View()); }, 500);
  ASSERT_TRUE(page->Hooks().IsShowing(View()));
  // The default rectangle (50, 30, 100, 60); its bottom-right handle pulled by (+12, +8).
  ASSERT_EQ(page->Hooks().OnButtonDown(View(), {148, 88}), orb::drag::Resize);
  page->Hooks().OnDrag(View(), orb::drag::Resize, {160, 96});
  EXPECT_EQ(page->Hooks().Rectangle(), (CropRect{50, 30, 112, 68}));
  const std::string before = host_.image->sourcePath;
  page->OnOK();
  ASSERT_NE(host_.image, chain_);
  EXPECT_EQ(host_.image->operationCode, kOpCrop);
  EXPECT_EQ(ImageSize(host_.image->sourcePath), "112 68");
  EXPECT_EQ(Samples(host_.image->sourcePath, "rgb"), Samples(before, "rgb", "-crop 112x68+50+30 +repage"));
  EXPECT_TRUE(page->Hooks().Rectangle().Empty());
}

TEST_F(TransformPagesGui, DeskewATiltedPageByItsMeasuredAngle) {
  std::string bars;
  for (int y = 30; y < 280; y += 20) bars += "rectangle 30," + std::to_string(y) + " 370," + std::to_string(y + 6) + " ";
  Open("tilt.tif", "-size 400x300 xc:white -fill black -draw '" + bars +
                       "' -background white -rotate 2 -alpha off -colorspace gray -threshold 50% -depth 1");
  const int w = host_.image->width, h = host_.image->height;
  auto* page = MakePage<CDeskewTools>();
  page->OnMeasure();
  auto* edit = dynamic_cast<wxTextCtrl*>(page->FindWindow(1075));
  ASSERT_NE(edit, nullptr);
  double shown = 0;
  ASSERT_TRUE(edit->GetValue().ToCDouble(&shown));
  EXPECT_NEAR(shown, 2.0, 0.05);
  const double applied = page->Hooks().Angle().angle;
  EXPECT_TRUE(dynamic_cast<wxRadioButton*>(page->FindWindow(1077))->GetValue());  // counter-clockwise
  page->OnOK();
  ASSERT_NE(host_.image, chain_);
  EXPECT_EQ(host_.image->operationCode, kOpDeskew);
  const DeskewGeometry g = DeskewSize(w, h, applied);
  EXPECT_EQ(ImageSize(host_.image->sourcePath), std::to_string(g.width) + " " + std::to_string(g.height));
  EXPECT_EQ(Shell("convert '" + host_.image->sourcePath + "' -format '%[pixel:p{0,0}]' info:"), "gray(255)");
  // The straightened bars: the page's rows are dark or light across the whole bar again.
  DeskewAngle again;
  ASSERT_TRUE(MeasureSkew(host_.image, 5, &again));
  EXPECT_LT(again.angle, 0.1);
}

TEST_F(TransformPagesGui, RotateTurnsByTheChosenDirection) {
  Open("r.tif", "-size 90x50 -seed 4 plasma: -type TrueColor -depth 8");
  const std::string before = host_.image->sourcePath;
  auto* page = MakePage<CRotate90Tools>();
  Click(page, 1109);  // left
  EXPECT_EQ(Rotate90Settings.Direction, 0);
  page->OnOK();
  ASSERT_NE(host_.image, chain_);
  EXPECT_EQ(ImageSize(host_.image->sourcePath), "56 90");
  EXPECT_EQ(Samples(host_.image->sourcePath, "rgb", "-crop 50x90+0+0 +repage"), Samples(before, "rgb", "-rotate -90"));
}

TEST_F(TransformPagesGui, ReduceResolutionShowsAndAppliesTheValue) {
  Open("d.tif", "-size 120x80 -seed 5 plasma: -type TrueColor -depth 8 -density 400 -units PixelsPerInch");
  host_.image->xDpi = host_.image->yDpi = 400;
  auto* page = MakePage<CReduceResTools>();
  auto* edit = dynamic_cast<wxTextCtrl*>(page->FindWindow(1422));
  ASSERT_NE(edit, nullptr);
  edit->ChangeValue("600");
  page->CommitValue();
  EXPECT_EQ(edit->GetValue(), "399");
  edit->ChangeValue("20");
  page->CommitValue();
  EXPECT_EQ(edit->GetValue(), "50");
  edit->ChangeValue("200");
  page->OnOK();
  ASSERT_NE(host_.image, chain_);
  EXPECT_EQ(ImageSize(host_.image->sourcePath), "60 40");
  EXPECT_NE(Shell("tiffinfo '" + host_.image->sourcePath + "' 2>&1").find("Resolution: 200, 200"), std::string::npos);
}

TEST_F(TransformPagesGui, PaletteOffersTheImagesConversions) {
  Open("p.tif", "-size 64x48 -seed 6 plasma: -type TrueColor -depth 8");
  auto* page = MakePage<CPaletteTools>();
  page->UpdateControls();
  auto radio = [&](int id) { return dynamic_cast<wxRadioButton*>(page->FindWindow(id)); };
  EXPECT_FALSE(radio(1100)->IsEnabled());  // colour from colour: not offered
  EXPECT_TRUE(radio(1106)->IsEnabled());
  EXPECT_FALSE(radio(1104)->IsEnabled());
  Click(page, 1106);
  EXPECT_EQ(PaletteSettings.ConvertTo, 2u);
  page->OnOK();
  ASSERT_NE(host_.image, chain_);
  EXPECT_EQ(host_.image->kind, IK_PALETTE16);
  EXPECT_LE(std::stoi(Shell("identify -format '%k' '" + host_.image->sourcePath + "'")), 16);
  // A 16-colour image with its palette file: the 16-colour save button, not the 256 one.
  EXPECT_TRUE(page->FindWindow(1232)->IsEnabled());
  EXPECT_FALSE(page->FindWindow(1234)->IsEnabled());
  // Black and white leaves no toggle for after-scan use.
  Open("g.tif", "-size 30x20 gradient: -depth 8");
  page->UpdateControls();
  Click(page, 1104);
  EXPECT_FALSE(page->FindWindow(IDC_TOOL_ENABLE)->IsEnabled());
}

TEST_F(TransformPagesGui, SplitAScanAtTheDraggedLine) {
  ScanSettings.PaperEndDetection = 1;
  ScanSettings.NameSeparator[0] = '-';
  for (auto& c : ScanSettings.NameCounters) c = orb::NameCounter{1, 9999, 1, 0};
  Open("Scan-0001.tif", "-size 300x100 -seed 7 plasma: -colorspace gray -type grayscale -depth 8", VS_NORMAL);
  const std::string copy = (dir_ / "copy.tif").string();
  fs::copy_file(host_.image->sourcePath, copy);
  auto* page = MakePage<CAcceptAs2ImagesTools>();
  auto* toggle = dynamic_cast<wxToggleButton*>(page->FindWindow(IDC_TOOL_ENABLE));
  ASSERT_NE(toggle, nullptr);
  toggle->SetValue(true);
  page->OnEnable();
  Click(page, 1427);  // vertical: the line in the middle
  EXPECT_EQ(page->Hooks().Position(), 150);
  ASSERT_TRUE(page->Hooks().IsShowing(View()));
  ASSERT_EQ(page->Hooks().OnButtonDown(View(), {150, 40}), orb::drag::Move);
  page->Hooks().OnDrag(View(), orb::drag::Move, {170, 40});
  EXPECT_EQ(page->Hooks().Position(), 170);
  EXPECT_EQ(page->Apply(), 0);
  const std::string p1 = (dir_ / "Scan-0001.tif").string(), p2 = (dir_ / "Scan-0002.tif").string();
  EXPECT_EQ(ImageSize(p1), "168 100");
  EXPECT_EQ(ImageSize(p2), "128 100");
  EXPECT_EQ(Samples(p1, "gray"), Samples(copy, "gray", "-crop 168x100+0+0 +repage"));
  EXPECT_EQ(Samples(p2, "gray"), Samples(copy, "gray", "-crop 128x100+168+0 +repage"));
  EXPECT_FALSE(fs::exists(dir_ / "SplitSource.tif"));
}

// Black and white from grey asks for the threshold first, showing the grey image
// thresholded while the dialog is open; Cancel changes nothing, OK converts.
TEST_F(TransformPagesGui, BlackAndWhiteAsksForTheThresholdFirst) {
  BWThresholdSettings.ThresholdingType = 0;
  Open("g.tif", "-size 64x40 gradient: -rotate 90 -colorspace gray -type grayscale -depth 8");
  ImageState* const grey = host_.image;
  auto* page = MakePage<CPaletteTools>();
  page->UpdateControls();
  Click(page, 1104);
  int kindSeen = -1;
  wxTEST_DIALOG(page->OnOK(), ThresholdReply(wxID_CANCEL, &host_.image, &kindSeen));
  EXPECT_EQ(kindSeen, IK_BW_SAVED_AS_4);  // the view showed it thresholded
  EXPECT_EQ(host_.image, grey);
  EXPECT_EQ(grey->kind, IK_GREY);
  EXPECT_EQ(grey->next, nullptr);

  wxTEST_DIALOG(page->OnOK(), ThresholdReply(wxID_OK, &host_.image, &kindSeen));
  ASSERT_NE(host_.image, grey);
  EXPECT_EQ(grey->kind, IK_GREY);
  EXPECT_EQ(host_.image->kind, IK_BW);
  // Two colours only: the dark end of ImageMagick's gradient black, the light end white.
  const std::string out = host_.image->sourcePath;
  EXPECT_EQ(Shell("identify -format '%k' '" + out + "'"), "2");
  EXPECT_EQ(Shell("convert '" + out + "' -format '%[pixel:p{2,20}] %[pixel:p{61,20}]' info:"), "gray(0) gray(255)");
}

}  // namespace
