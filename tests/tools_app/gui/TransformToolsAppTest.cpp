// The transform tools in the running main frame, on an opened colour, grey, 256-colour and
// black-and-white image each: rotate by 90, reduce resolution, palette conversion, deskew
// and crop by dragging the rectangle's handle with the pointer, each from its page on the
// tools tab, each result read back by ImageMagick (against its own rotation and crop) and
// each undone. With ORB_SCREENSHOT_DIR naming a folder, the screen is saved there with each
// page showing (and the split page with its line over the image, on the other tools tab).
#include <gtest/gtest.h>
#include <wx/docmdi.h>
#include <wx/radiobut.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/FrameCommands.h"
#include "app/gui/MainFrame.h"
#include "app/gui/OrbalonDoc.h"
#include "app/gui/ViewPropSheet.h"
#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "common/ResourceIds.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "scanning/ScannerEntryPoints.h"
#include "tests/common/TestUtil.h"
#include "tests/common/ProcessUtil.h"
#include "tests/common/gui/GuiTestUtil.h"
#include "tests/common/gui/MainFrameFixture.h"
#include "tools/ToolTable.h"
#include "tools/ToolViewHooks.h"
#include "tools/gui/ToolsPropPages.h"
#include "tools/gui/transform/TransformPages.h"
#include "tools/transform/Deskew.h"
#include "tools/transform/PaletteConvert.h"
#include "tools/transform/Rotate90.h"
#include "tools/transform/Split.h"

namespace {

using namespace orb::tools;

using orbtest::Shell;

using orbtest::Samples;
using orbtest::ImageSize;
std::string Dims(int w, int h) { return std::to_string(w) + " " + std::to_string(h); }

class TransformTools : public orbtest::MainFrameFixture {
 protected:
  void SetUp() override {
    BWThresholdSettings = {};
    Rotate90Settings = {};
    PaletteSettings = {};
    AcceptAs2ImagesSettings = {};
    orb::SetScanningEntryPoints({});
    StartFrame({.size = wxSize(1400, 1000), .tempFolder = work_.path()});
  }
  void TearDown() override {
    MainFrameFixture::TearDown();
    ScanSettings = orb::ScanSettingsRecord();
    AcceptAs2ImagesSettings = {};
  }
  CViewToolsPropPage* ToolsTab() { return dynamic_cast<CViewToolsPropPage*>(frame_->ViewSheet()->GetPage(1)); }
  COtherToolsPropPage* OtherTab() { return dynamic_cast<COtherToolsPropPage*>(frame_->ViewSheet()->GetPage(2)); }
  static void Shot(const std::string& name) {
    const char* dir = std::getenv("ORB_SCREENSHOT_DIR");
    if (!dir) return;
    orbtest::PumpUntil([] { return false; }, 150);
    const std::string cmd = "import -window root '" + std::string(dir) + "/" + name + ".png'";
    if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << cmd;
  }
  void Undo() {
    wxCommandEvent undo(wxEVT_MENU, orb::res::WxCommandId(orb::frame_cmds::kUndo));
    undo.SetEventObject(frame_);
    frame_->ProcessWindowEvent(undo);
    orbtest::PumpUntil([] { return false; }, 10);
  }

  orbtest::TempDir work_;
};

struct KindCase {
  const char* name;
  const char* plan;
  int kind;
  const char* map;   // ImageMagick's channels to compare
  int paletteMode;   // a conversion the page offers for the kind
  int paletteKind;   // and the kind it gives
};

TEST_F(TransformTools, EveryTransformOnEveryKindOfImage) {
  const KindCase kinds[] = {
      {"colour", "-size 240x160 -seed 3 plasma: -type TrueColor -depth 8", IK_RGB, "rgb", kToGrey, IK_GREY},
      {"grey", "-size 240x160 -seed 4 plasma: -colorspace gray -type grayscale -depth 8", IK_GREY, "gray", kTo256,
       IK_PALETTE256},
      {"palette", "-size 60x40 -seed 5 plasma: +dither -colors 40 -fill white -draw 'point 0,0' -sample 240x160! -type Palette -depth 8",
       IK_PALETTE256, "rgb", kToRgb, IK_RGB},
      {"bilevel", "-size 240x160 -seed 7 plasma: -colorspace gray -threshold 50% -depth 1", IK_BW, "gray", kToGrey,
       IK_GREY},
  };
  for (const KindCase& k : kinds) {
    SCOPED_TRACE(k.name);
    const std::string path = (files_.path() / (std::string(k.name) + ".tif")).string();
    ASSERT_EQ(std::system(("convert " + std::string(k.plan) + " -density 300 -units PixelsPerInch -compress none '" +
                           path + "'")
                              .c_str()),
              0);
    auto* doc = OpenSilently(path);
    ASSERT_TRUE(doc);
    orbtest::PumpUntil([] { return false; }, 30);
    ImageState* const opened = doc->WorkingImage();
    ASSERT_EQ(opened->kind, k.kind);
    const int W = opened->width, H = opened->height;
    frame_->ViewSheet()->SetActivePage(1);
    CViewToolsPropPage* tab = ToolsTab();
    ASSERT_TRUE(tab);
    auto applied = [&]() -> ImageState* {
      orbtest::PumpUntil([] { return false; }, 10);
      ImageState* now = doc->WorkingImage();
      EXPECT_NE(now, opened);
      EXPECT_EQ(now->prev, opened);
      return now;
    };
    auto show = [&](int id) {
      if (tab->ActiveTool() != id) tab->OnToolButton(id);
      orbtest::PumpUntil([] { return false; }, 10);
    };
    auto undone = [&] {
      Undo();
      EXPECT_EQ(doc->WorkingImage(), opened);
    };

    // Rotate by 90, to the right.
    show(kToolRotate90);
    auto* rotate = dynamic_cast<CRotate90Tools*>(tab->Page(kToolRotate90));
    ASSERT_TRUE(rotate);
    Rotate90Settings.Direction = kTurnRight;
    rotate->UpdateControls();
    Shot(std::string("rotate-") + k.name);
    rotate->OnOK();
    ImageState* r = applied();
    EXPECT_EQ(ImageSize(r->sourcePath), Dims(H, W));
    EXPECT_TRUE(Samples(r->sourcePath, k.map) == Samples(path, k.map, "-rotate 90"));
    undone();

    // Reduce resolution from 300 to 150 dpi.
    show(kToolReduceRes);
    auto* reduce = dynamic_cast<CReduceResTools*>(tab->Page(kToolReduceRes));
    ASSERT_TRUE(reduce);
    auto* edit = dynamic_cast<wxTextCtrl*>(reduce->FindWindow(1422));
    ASSERT_TRUE(edit);
    edit->ChangeValue("150");
    Shot(std::string("reduce-") + k.name);
    reduce->OnOK();
    r = applied();
    EXPECT_EQ(ImageSize(r->sourcePath), Dims(W / 2, H / 2));
    EXPECT_NE(Shell("tiffinfo '" + r->sourcePath + "' 2>&1").find("Resolution: 150, 150"), std::string::npos);
    undone();

    // Palette conversion to a mode the page offers for the kind.
    show(kToolPalette);
    auto* palette = dynamic_cast<CPaletteTools*>(tab->Page(kToolPalette));
    ASSERT_TRUE(palette);
    palette->UpdateControls();
    palette->OnMode(k.paletteMode);
    Shot(std::string("palette-") + k.name);
    palette->OnOK();
    r = applied();
    EXPECT_EQ(r->kind, k.paletteKind);
    EXPECT_EQ(ImageSize(r->sourcePath), Dims(W, H));
    if (k.paletteKind == IK_RGB) {
      EXPECT_TRUE(Samples(r->sourcePath, "rgb") == Samples(path, "rgb"));
    }
    if (k.paletteKind == IK_PALETTE256) {
      EXPECT_TRUE(Samples(r->sourcePath, "gray") == Samples(path, "gray"));
    }
    if (k.paletteKind == IK_GREY) {
      EXPECT_EQ(Shell("identify -format '%[colorspace] %z' '" + r->sourcePath + "'"), "Gray 8");
    }
    undone();

    // Deskew by 2 degrees: a larger image with white corners.
    show(kToolDeskew);
    auto* deskew = dynamic_cast<CDeskewTools*>(tab->Page(kToolDeskew));
    ASSERT_TRUE(deskew);
    orbtest::PumpUntil([] { return false; }, 20);
    Shot(std::string("deskew-") + k.name);
    deskew->Hooks().SetAngle(DeskewAngle{2.0, 0});
    deskew->ShowAngle();
    deskew->OnOK();
    r = applied();
    const DeskewGeometry g = DeskewSize(W, H, -2.0);
    EXPECT_EQ(ImageSize(r->sourcePath), Dims(g.width, g.height));
    EXPECT_GT(g.width, W);
    const std::string corner = Samples(r->sourcePath, "rgb", "-crop 1x1+0+0");
    EXPECT_EQ(corner, std::string(3, '\xff'));
    undone();

    // Crop: the rectangle's bottom-right handle dragged with the pointer over the view.
    show(kToolCrop);
    auto* crop = dynamic_cast<CCropTools*>(tab->Page(kToolCrop));
    ASSERT_TRUE(crop);
    orbtest::PumpUntil([&] { return crop->Hooks().IsShowing(orb::ViewContext{doc->WorkingImage()}); }, 500);
    wxWindow* canvas = doc->View()->Canvas();
    const orb::ViewContext view{doc->WorkingImage()};
    const CropRect start = crop->Hooks().Current(*doc->WorkingImage());
    ASSERT_FALSE(start.Empty());
    const orb::Point corner2 = view.ToClient(orb::Point{start.x + start.w, start.y + start.h});
    const wxPoint handle(corner2.x - 4, corner2.y - 4);
    const int zoom = view.Zoom();
    ASSERT_GT(zoom, 0);
    // 24 and 16 image pixels further, in client pixels.
    const wxPoint to = handle + wxPoint(24 * 10000 / zoom, 16 * 10000 / zoom);
    orbtest::DragPointer(canvas, handle, to);
    const CropRect dragged = crop->Hooks().Rectangle();
    EXPECT_EQ(dragged.x, start.x);
    EXPECT_EQ(dragged.y, start.y);
    EXPECT_NEAR(dragged.w, start.w + 24, 2);
    EXPECT_NEAR(dragged.h, start.h + 16, 2);
    Shot(std::string("crop-") + k.name);
    crop->OnOK();
    r = applied();
    const int cw = std::min((dragged.w + 7) / 8 * 8, W);
    EXPECT_EQ(ImageSize(r->sourcePath), Dims(cw, dragged.h));
    EXPECT_TRUE(Samples(r->sourcePath, k.map) ==
                Samples(path, k.map,
                        "-crop " + std::to_string(cw) + "x" + std::to_string(dragged.h) + "+" +
                            std::to_string(dragged.x) + "+" + std::to_string(dragged.y) + " +repage"));
    undone();

    // The split page with its line over the image, as over a scan (screens only).
    if (std::getenv("ORB_SCREENSHOT_DIR")) {
      ScanSettings.PaperEndDetection = 1;
      AcceptAs2ImagesSettings.enabled = 1;
      AcceptAs2ImagesSettings.orientation = kSplitVertical;
      opened->state = VS_NORMAL;
      frame_->ViewSheet()->SetActivePage(2);
      COtherToolsPropPage* other = OtherTab();
      other->OnSetActive();
      if (other->ActiveTool() != kToolSplit) other->OnToolButton(kToolSplit);
      other->Page(kToolSplit)->UpdateControls();
      doc->View()->UpdateView(5);
      Shot(std::string("split-") + k.name);
      opened->state = VS_OPENED;
      ScanSettings.PaperEndDetection = 0;
      AcceptAs2ImagesSettings.enabled = 0;
      frame_->ViewSheet()->SetActivePage(1);
    }
    doc->SetDiscardChanges(true);
    manager_->CloseDocument(doc, true);
    orbtest::PumpUntil([] { return false; }, 20);
  }
}

}  // namespace
