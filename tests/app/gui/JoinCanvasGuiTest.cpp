// The join tool in the running program: the page makes a canvas document, two scans are
// added, the pointer drags one of them and trims its edge in the canvas's view, and the join
// button writes the image, which tiffinfo and ImageMagick read back. Screens of the three
// modes are saved when ORB_SCREENSHOT_DIR names a folder.
#include <gtest/gtest.h>
#include <wx/frame.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/gui/MainFrame.h"
#include "app/gui/OrbalonDoc.h"
#include "common/AppGlobals.h"
#include "engine/EngineHost.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "tests/common/TestUtil.h"
#include "tests/common/gui/GuiTestUtil.h"
#include "tests/common/gui/MainFrameFixture.h"
#include "tests/tools/join/JoinTestUtil.h"
#include "tools/ToolViewHooks.h"
#include "tools/gui/join/JoinImagesTools.h"

namespace {

namespace fs = std::filesystem;
using namespace orb::join;
using jointest::Picture;

class JoinCanvasGui : public orbtest::MainFrameFixture {
 protected:
  void SetUp() override {
    JoinImagesSettings = orb::JoinImagesRecord();
    JoinImagesSettings.canvasWidth = JoinImagesSettings.canvasHeight = 1000;
    ViewDragMode = 0;
    ASSERT_NO_FATAL_FAILURE(StartFrame({.size = wxSize(1200, 900)}));
    pageFrame_ = new wxFrame(nullptr, wxID_ANY, "join", wxPoint(1210, 0), wxSize(320, 700));
    page_ = new CJoinImagesTools();
    ASSERT_TRUE(page_->Create(pageFrame_));
    page_->Show();
    pageFrame_->Show();
    orbtest::PumpUntil([] { return false; }, 20);
  }
  void TearDown() override {
    // Goes at the next idle time, after the fixture has closed the documents.
    if (pageFrame_) pageFrame_->Destroy();
    orbtest::MainFrameFixture::TearDown();
  }
  COrbalonView* CanvasView() {
    for (wxDocument* d : manager_->GetDocumentsVector()) {
      auto* doc = dynamic_cast<COrbalonDoc*>(d);
      if (doc && doc->WorkingImage() == page_->CanvasImage()) return doc->View();
    }
    return nullptr;
  }
  // The view drawn once more, and its picture kept when asked.
  wxImage Shot(COrbalonView* view, const char* name) {
    view->Canvas()->Refresh(false);
    orbtest::PumpUntil([] { return false; }, 20);
    const wxImage shot = view->Canvas()->Snapshot();
    if (const char* dir = std::getenv("ORB_SCREENSHOT_DIR")) {
      shot.SaveFile(wxString::FromUTF8((fs::path(dir) / name).string()), wxBITMAP_TYPE_PNG);
    }
    return shot;
  }
  static wxPoint Client(const orb::ViewContext& v, orb::Point canvasPoint) {
    const orb::Point p = v.ToClient(canvasPoint);
    return wxPoint(p.x, p.y);
  }

  wxFrame* pageFrame_ = nullptr;
  CJoinImagesTools* page_ = nullptr;
};

TEST_F(JoinCanvasGui, MakeAddDragTrimAndJoin) {
  page_->MakeCanvas();
  ASSERT_TRUE(orbtest::PumpUntil([&] { return page_->CanvasImage() != nullptr; }));
  ImageState* canvas = page_->CanvasImage();
  EXPECT_EQ(canvas->width, 1000);
  EXPECT_EQ(canvas->height, 1000);
  EXPECT_EQ(canvas->state, VS_JOIN_CANVAS);
  COrbalonView* view = CanvasView();
  ASSERT_TRUE(view);

  const Picture a = jointest::Noise(300, 200, 1);
  const Picture b = jointest::Noise(200, 150, 2);
  ASSERT_TRUE(page_->AddImage(jointest::WriteTiff(Path("a.tif"), a)));
  ASSERT_TRUE(page_->SetMode(kModeFree));
  ASSERT_TRUE(page_->AddImage(jointest::WriteTiff(Path("b.tif"), b)));
  JoinModel& m = page_->Model();
  ASSERT_EQ(m.items.size(), 2u);
  EXPECT_EQ(m.selected, 1);
  // Both centred: b (400..600 x 425..575) over a (350..650 x 400..600).
  EXPECT_EQ(m.items[1].rect, (orb::Rect{400, 425, 600, 575}));
  Shot(view, "join-free.png");

  // Drag b by its middle to the right and down.
  ASSERT_TRUE(orbtest::PumpUntil([&] { return canvas->fitScale > 0; }));
  const orb::ViewContext ctx{canvas};
  const int32_t zoom = canvas->fitScale;
  orbtest::DragPointer(view->Canvas(), Client(ctx, {500, 500}), Client(ctx, {500, 500}) + wxPoint(150, 120));
  const orb::Rect moved = m.items[1].rect;
  EXPECT_NEAR(moved.left, 400 + 150 * zoom / 10000, 2 + zoom / 10000);
  EXPECT_NEAR(moved.top, 425 + 120 * zoom / 10000, 2 + zoom / 10000);
  EXPECT_EQ(moved.Width(), 200);
  EXPECT_EQ(ViewDragMode.load(), 0);

  // Pull its right edge in by 40 screen pixels.
  const int32_t midY = (moved.top + moved.bottom) / 2;
  orbtest::DragPointer(view->Canvas(), Client(ctx, {moved.right, midY}),
                       Client(ctx, {moved.right, midY}) - wxPoint(40, 0));
  const int32_t trimmed = m.items[1].trim.right;
  // The view may take the first step of a drag as its start: at least most of the way.
  EXPECT_LE(trimmed, 40 * zoom / 10000 + 2 + zoom / 10000);
  EXPECT_GE(trimmed, 30 * zoom / 10000);
  EXPECT_EQ(m.items[1].rect, moved);
  // The selected item is drawn half transparent over a white canvas.
  JoinImagesSettings.alpha = 128;
  const wxImage shot = Shot(view, "join-free-dragged.png");
  ASSERT_TRUE(shot.IsOk());

  // The join button asks for the name and writes the cropped image.
  const std::string out = Path("joined.tif");
  const orb::Rect ta = m.items[0].Trimmed();
  const orb::Rect tb = m.items[1].Trimmed();
  const orb::Rect box{std::min(ta.left, tb.left), std::min(ta.top, tb.top), std::max(ta.right, tb.right),
                      std::max(ta.bottom, tb.bottom)};
  wxWindow* join = page_->FindWindow(CJoinImagesTools::kJoin);
  ASSERT_TRUE(join && join->IsEnabled());
  wxCommandEvent press(wxEVT_BUTTON, CJoinImagesTools::kJoin);
  press.SetEventObject(join);
  std::string proposed;
  page_->chooseOutput = [&](const std::string& p) {
    proposed = p;
    return out;
  };
  join->GetEventHandler()->ProcessEvent(press);
  EXPECT_EQ(proposed, Path("a.tif"));  // the first item's name
  ASSERT_TRUE(fs::exists(out));
  EXPECT_EQ(jointest::Shell("tiffinfo '" + out + "' 2>&1 | grep -c 'Compression Scheme: None'"), "1\n");
  const Picture joined = jointest::ReadBack(out);
  ASSERT_EQ(joined.width, box.Width());
  ASSERT_EQ(joined.height, box.Height());
  // b lies on a where they overlap: its first line at its place, its trimmed column white.
  EXPECT_EQ(std::memcmp(joined.At(tb.left - box.left, tb.top - box.top), b.At(0, 0),
                        static_cast<size_t>(tb.Width()) * 3),
            0);
  EXPECT_EQ(std::memcmp(joined.At(ta.left - box.left, ta.top - box.top), a.At(0, 0), 30 * 3), 0);
  // The canvas document became the joined image; the page has no canvas any more.
  EXPECT_EQ(page_->CanvasImage(), nullptr);
  EXPECT_TRUE(m.items.empty());
  EXPECT_FALSE(page_->FindWindow(CJoinImagesTools::kAdd)->IsEnabled());
}

TEST_F(JoinCanvasGui, AlignmentAndSeamModesShowTheirPoints) {
  page_->MakeCanvas();
  ASSERT_TRUE(orbtest::PumpUntil([&] { return page_->CanvasImage() != nullptr; }));
  COrbalonView* view = CanvasView();
  ASSERT_TRUE(view);
  ASSERT_TRUE(page_->SetMode(kModeAlign));
  ASSERT_TRUE(page_->AddImage(jointest::WriteTiff(Path("a.tif"), jointest::Noise(300, 200, 3))));
  ASSERT_TRUE(page_->AddImage(jointest::WriteTiff(Path("b.tif"), jointest::Noise(200, 300, 4))));
  EXPECT_TRUE(page_->FindWindow(CJoinImagesTools::kJoin)->IsEnabled());
  EXPECT_FALSE(page_->FindWindow(CJoinImagesTools::kAdd)->IsEnabled());
  ImageState* canvas = page_->CanvasImage();
  ASSERT_TRUE(orbtest::PumpUntil([&] { return canvas->fitScale > 0; }));
  // Point A1 is dragged with the pointer; the marker follows.
  const orb::ViewContext ctx{canvas};
  JoinModel& m = page_->Model();
  const orb::Point a1 = m.points[kA1];
  orbtest::DragPointer(view->Canvas(), Client(ctx, a1) + wxPoint(3, 3), Client(ctx, a1) + wxPoint(63, 3));
  EXPECT_GT(m.points[kA1].x, a1.x);
  EXPECT_EQ(m.points[kA1].y, a1.y);
  // The red marker of A1 lies where the point is now.
  const wxImage shot = Shot(view, "join-align.png");
  const wxPoint p = Client(ctx, m.points[kA1]) + wxPoint(1, 1);
  ASSERT_TRUE(shot.IsOk());
  EXPECT_EQ(shot.GetRed(p.x, p.y), 255);
  EXPECT_EQ(shot.GetGreen(p.x, p.y), 0);

  // Seam removal takes one item: remove one through the view's command, then switch.
  page_->HitTest(ctx, orb::ViewContext{canvas}.ToClient(orb::Point{500, 400}));
  EXPECT_TRUE(page_->OnViewCommand(ctx, CJoinImagesTools::kCmdRemove));
  ASSERT_EQ(m.items.size(), 1u);
  ASSERT_TRUE(page_->SetMode(kModeSeam));
  EXPECT_TRUE(page_->FindWindow(CJoinImagesTools::kJoin)->IsEnabled());
  Shot(view, "join-seam.png");
}

}  // namespace
