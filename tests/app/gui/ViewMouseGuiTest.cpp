// Pointing at the image in the running toolkit: the rubber band zooms, clicks zoom, the
// status bar reads the pixel under the pointer, drag-to-scroll moves the picture, a tool
// page gets its drags and paints its overlay, the magnifier enlarges and the navigator
// moves the view.
#include <gtest/gtest.h>
#include <wx/statusbr.h>
#include <wx/uiaction.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/Document.h"
#include "app/ViewGeometry.h"
#include "engine/ReadWrite/LineReader.h"
#include "app/ViewInteraction.h"
#include "app/gui/MainFrame.h"
#include "app/gui/OrbalonDoc.h"
#include "app/gui/ViewThumbDlg.h"
#include "common/AppGlobals.h"
#include "common/LanguageModule.h"
#include "common/ResourceIds.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "tests/app/doc_test_util.h"
#include "tests/common/TestUtil.h"
#include "tests/common/gui/GuiTestUtil.h"
#include "tests/common/gui/MainFrameFixture.h"
#include "tools/ToolViewHooks.h"

namespace {

namespace fs = std::filesystem;
using orb::Point;

// Every pixel tells where it lies: red x, green y (both modulo 256), blue 60.
doctest::Pattern Coordinates(int32_t w, int32_t h) {
  return {w, h, 24, false, [](int32_t x, int32_t y, int c) {
            return static_cast<uint8_t>(c == 0 ? x & 0xFF : c == 1 ? y & 0xFF : 60);
          }};
}

class ViewMouse : public orbtest::MainFrameFixture {
 protected:
  void SetUp() override {
    ViewDragMode = 0;
    StartFrame({.size = wxSize(1200, 900)});
  }
  // Opens a coordinates picture and returns its view, drawn.
  COrbalonView* OpenPicture(int32_t w = 1600, int32_t h = 1000) {
    EXPECT_TRUE(doctest::WritePattern(Path("p.tif"), OF_TIFF, Coordinates(w, h)));
    auto* doc = OpenSilently(Path("p.tif"));
    if (!doc) return nullptr;
    COrbalonView* view = doc->View();
    orbtest::PumpUntil([&] { return view->GetDocument()->WorkingImage()->bitmaps[2] != nullptr; });
    view->Canvas()->Snapshot();  // the drawing rectangle and zoom of a paint
    orbtest::PumpUntil([] { return false; }, 20);
    return view;
  }
  static ImageState* Image(COrbalonView* v) { return v->GetDocument()->WorkingImage(); }
};

TEST_F(ViewMouse, RubberBandDragZoomsToTheDraggedRectangle) {
  COrbalonView* view = OpenPicture();
  ASSERT_TRUE(view);
  ImageState* s = Image(view);
  const orb::ViewContext ctx{s};
  const PixelRect drawing = s->clientRect;
  const wxPoint a(drawing.left + 40, drawing.top + 30), b(drawing.left + 240, drawing.top + 150);
  // The image rectangle under the band, by the view's own conversion rule.
  const int64_t z = s->fitScale;
  const int32_t left = static_cast<int32_t>((a.x - drawing.left) * z / 10000) + s->region.left;
  const int32_t top = static_cast<int32_t>((a.y - drawing.top) * z / 10000) + s->region.top;
  const int32_t right = static_cast<int32_t>((b.x - drawing.left) * z / 10000) + s->region.left;
  const int32_t bottom = static_cast<int32_t>((b.y - drawing.top) * z / 10000) + s->region.top;
  orbtest::DragPointer(view->Canvas(), a, b);
  ASSERT_TRUE(orbtest::PumpUntil([&] { return s->region.right - s->region.left < 1600; }));
  // The view shows that rectangle, grown along one side to the window's shape.
  EXPECT_LE(s->region.left, left);
  EXPECT_LE(s->region.top, top);
  EXPECT_GE(s->region.right, right);
  EXPECT_GE(s->region.bottom, bottom);
  EXPECT_NEAR((s->region.left + s->region.right) / 2, (left + right) / 2, 2);
  EXPECT_NEAR((s->region.top + s->region.bottom) / 2, (top + bottom) / 2, 2);
  EXPECT_EQ(ViewDragMode.load(), 0);
  (void)ctx;
}

TEST_F(ViewMouse, ClickZoomsInAboutThePointAndRightClickZoomsOut) {
  COrbalonView* view = OpenPicture();
  ASSERT_TRUE(view);
  ImageState* s = Image(view);
  const PixelRect before = s->region;
  const Point p{s->clientRect.left + 100, s->clientRect.top + 80};
  const Point target = orb::ViewContext{s}.ToImage(p);
  view->OnLButtonDown(p);
  view->OnLButtonUp(p);
  const int32_t w = s->region.right - s->region.left, h = s->region.bottom - s->region.top;
  // Zoomed in (then fitted to the window's shape): a smaller part of the image.
  EXPECT_LT(w, before.right - before.left);
  EXPECT_LT(h, before.bottom - before.top);
  // Centred on the clicked pixel as far as the image's edges allow.
  EXPECT_LE(s->region.left, target.x);
  EXPECT_GE(s->region.right, target.x);
  view->OnRButtonUp(p);
  EXPECT_GT(s->region.right - s->region.left, w);
}

TEST_F(ViewMouse, TinyBandChangesNothing) {
  COrbalonView* view = OpenPicture();
  ASSERT_TRUE(view);
  ImageState* s = Image(view);
  view->UpdateView(orb::kHintZoomIn);
  view->UpdateView(orb::kHintZoomIn);
  view->Canvas()->Snapshot();
  const PixelRect before = s->region;
  ASSERT_LT(s->fitScale, 10000) << "enlarged: a client pixel is less than an image pixel";
  const Point a{s->clientRect.left + 50, s->clientRect.top + 50};
  view->OnLButtonDown(a);
  view->OnMouseMove(Point{a.x + 30, a.y}, true);
  view->OnLButtonUp(Point{a.x + 30, a.y});
  EXPECT_EQ(s->region.left, before.left);
  EXPECT_EQ(s->region.right, before.right);
  EXPECT_EQ(s->region.top, before.top);
}

TEST_F(ViewMouse, StatusBarShowsTheColourAndPositionUnderThePointer) {
  COrbalonView* view = OpenPicture();
  ASSERT_TRUE(view);
  ImageState* s = Image(view);
  const wxPoint p(s->clientRect.left + 37, s->clientRect.top + 21);
  wxUIActionSimulator sim;
  sim.MouseMove(view->Canvas()->ClientToScreen(p));
  wxStatusBar* bar = frame_->GetStatusBar();
  ASSERT_TRUE(orbtest::PumpUntil([&] { return bar->GetStatusText(1).Contains("x="); }));
  const Point image = orb::ViewContext{s}.ToImage(Point{p.x, p.y});
  const std::string position = "Position (x=" + std::to_string(image.x) + ", y=" + std::to_string(image.y) + ")";
  EXPECT_EQ(bar->GetStatusText(1).ToStdString(), position);
  // The painted pixel: the display's reduction of the picture around that point.
  const wxImage shot = view->Canvas()->Snapshot();
  const std::string colour = "RGB (" + std::to_string(shot.GetRed(p.x, p.y)) + "," +
                             std::to_string(shot.GetGreen(p.x, p.y)) + "," + std::to_string(shot.GetBlue(p.x, p.y)) + ")";
  EXPECT_EQ(bar->GetStatusText(2).ToStdString(), colour);
  EXPECT_EQ(shot.GetBlue(p.x, p.y), 60);
  EXPECT_NEAR(shot.GetRed(p.x, p.y), image.x & 0xFF, 8);
}

TEST_F(ViewMouse, DragToScrollMovesThePictureByWholeImagePixelsAndAClickZooms) {
  MiscSettings.DragScroll = 1;
  COrbalonView* view = OpenPicture();
  ASSERT_TRUE(view);
  ImageState* s = Image(view);
  view->UpdateView(orb::kHintZoomIn);
  view->Canvas()->Snapshot();
  const PixelRect before = s->region;
  const int64_t zoom = s->fitScale;
  const Point a{s->clientRect.left + 200, s->clientRect.top + 150};
  view->OnLButtonDown(a);
  view->OnMouseMove(Point{a.x - 40, a.y - 20}, true);
  view->OnLButtonUp(Point{a.x - 40, a.y - 20});
  EXPECT_EQ(s->region.left - before.left, static_cast<int32_t>(40 * zoom / 10000));
  EXPECT_EQ(s->region.top - before.top, static_cast<int32_t>(20 * zoom / 10000));
  EXPECT_EQ(s->region.right - s->region.left, before.right - before.left) << "scrolling keeps the size";
  // A click without movement still zooms in.
  const int32_t w = s->region.right - s->region.left;
  view->OnLButtonDown(a);
  view->OnLButtonUp(a);
  EXPECT_LT(s->region.right - s->region.left, w);
}

// A page that owns a rectangle of the image: grabs it inside, moves it, paints its frame.
class RectanglePage : public orb::IToolViewHooks {
 public:
  orb::Rect area{100, 100, 600, 400};
  Point grabbed;
  int ups = 0;
  bool IsShowing(const orb::ViewContext&) const override { return true; }
  uint16_t HitTest(const orb::ViewContext& v, Point p) override {
    return Inside(v.ToImage(p)) ? orb::cursor::SizeAll : orb::cursor::None;
  }
  uint16_t OnButtonDown(const orb::ViewContext& v, Point p) override {
    grabbed = v.ToImage(p);
    return Inside(grabbed) ? orb::drag::Move : orb::drag::None;
  }
  void OnDrag(const orb::ViewContext& v, uint16_t, Point p) override {
    const Point now = v.ToImage(p);
    area = orb::Rect{area.left + now.x - grabbed.x, area.top + now.y - grabbed.y, area.right + now.x - grabbed.x,
                     area.bottom + now.y - grabbed.y};
    grabbed = now;
  }
  void OnButtonUp(const orb::ViewContext&, uint16_t, Point) override { ++ups; }
  void Paint(const orb::ViewContext& v, orb::ViewCanvas& canvas) override {
    const Point a = v.ToClient(Point{area.left, area.top}), b = v.ToClient(Point{area.right, area.bottom});
    canvas.InvertFrame(orb::Rect{a.x, a.y, b.x, b.y}, 2);
  }

 private:
  bool Inside(Point p) const { return p.x >= area.left && p.x < area.right && p.y >= area.top && p.y < area.bottom; }
};

TEST_F(ViewMouse, AShowingToolPageTakesTheDragInsteadOfTheRubberBand) {
  COrbalonView* view = OpenPicture();
  ASSERT_TRUE(view);
  ImageState* s = Image(view);
  RectanglePage page;
  orb::ScopedViewTool scope(orb::ViewToolRole::Crop, &page);
  const orb::ViewContext ctx{s};
  const Point inside = ctx.ToClient(Point{300, 200});
  const PixelRect region = s->region;
  orbtest::DragPointer(view->Canvas(), wxPoint(inside.x, inside.y), wxPoint(inside.x + 50, inside.y + 20));
  EXPECT_EQ(page.ups, 1);
  EXPECT_GT(page.area.left, 100) << "the rectangle moved";
  EXPECT_EQ(s->region.right - s->region.left, region.right - region.left) << "no zoom";
  // The overlay inverts the picture along the rectangle's edge.
  const wxImage shot = view->Canvas()->Snapshot();
  const Point corner = ctx.ToClient(Point{page.area.left, page.area.top});
  const Point mid = ctx.ToClient(Point{(page.area.left + page.area.right) / 2, (page.area.top + page.area.bottom) / 2});
  EXPECT_GT(shot.GetBlue(corner.x, corner.y), 150) << "blue 60 inverted";
  EXPECT_EQ(shot.GetBlue(mid.x, mid.y), 60);
  EXPECT_EQ(view->CursorId(), orb::cursor::SizeAll) << "the pointer rests on the rectangle it moved";
}

TEST_F(ViewMouse, MagnifierShowsTheImageEnlargedUnderItsCentre) {
  MiscSettings.MagnifierDiameter = 120;
  MiscSettings.MagnifierZoom = 2;
  COrbalonView* view = OpenPicture();
  ASSERT_TRUE(view);
  ImageState* s = Image(view);
  CLupeView* lupe = view->Lupe();
  ASSERT_TRUE(lupe);
  MiscSettings.MagnifierShown = 1;
  const Point centre{s->clientRect.left + 300, s->clientRect.top + 200};
  lupe->SetCentre(centre.x, centre.y);
  view->OnShowMagnifier();
  orbtest::PumpUntil([] { return false; }, 20);
  ASSERT_TRUE(lupe->IsShown());
  const wxImage shot = view->Canvas()->Snapshot();
  KeepScreenshot(shot, "view-magnifier.png");
  const Point c = orb::ViewContext{s}.ToImage(centre);
  // Lens pixel (i, j) of its square shows image pixel (c - 30 + i / 2, c - 30 + j / 2).
  const orb::Rect box = lupe->Box();
  for (const Point& k : {Point{60, 60}, Point{40, 70}, Point{80, 50}, Point{61, 61}}) {
    const int32_t ix = c.x - 30 + k.x / 2, iy = c.y - 30 + k.y / 2;
    EXPECT_EQ(shot.GetRed(box.left + k.x, box.top + k.y), ix & 0xFF) << k.x << "," << k.y;
    EXPECT_EQ(shot.GetGreen(box.left + k.x, box.top + k.y), iy & 0xFF) << k.x << "," << k.y;
  }
}

TEST_F(ViewMouse, MagnifierZoomCyclesOnRightClicksAndDamagedSettingsFallBack) {
  MiscSettings.MagnifierDiameter = 0;      // a damaged settings file
  MiscSettings.MagnifierZoom = 3;
  COrbalonView* view = OpenPicture();
  ASSERT_TRUE(view);
  CLupeView* lupe = view->Lupe();
  MiscSettings.MagnifierShown = 1;
  lupe->SetCentre(300, 250);
  view->OnShowMagnifier();
  EXPECT_EQ(lupe->Box().Width(), 300);
  EXPECT_EQ(MiscSettings.MagnifierZoom, 1);
  const Point centre{300, 250};
  for (int expect : {2, 4, 1, 2}) {
    view->OnRButtonDown(centre);
    view->OnRButtonUp(centre);
    EXPECT_EQ(MiscSettings.MagnifierZoom, expect);
  }
  EXPECT_EQ(lupe->GetCentre(), centre) << "re-rendered where it stands";
}

TEST_F(ViewMouse, MagnifierMovesByDragAndResizesByItsRim) {
  MiscSettings.MagnifierDiameter = 200;
  COrbalonView* view = OpenPicture();
  ASSERT_TRUE(view);
  CLupeView* lupe = view->Lupe();
  MiscSettings.MagnifierShown = 1;
  lupe->SetCentre(300, 250);
  view->OnShowMagnifier();
  // Drag from inside the lens: it follows the pointer.
  view->OnLButtonDown(Point{310, 250});
  view->OnMouseMove(Point{360, 280}, true);
  view->OnMouseMove(Point{400, 300}, true);
  view->OnLButtonUp(Point{400, 300});
  EXPECT_EQ(lupe->GetCentre(), (Point{400, 300}));
  EXPECT_EQ(lupe->Box(), orb::LensBox(Point{400, 300}, 200));
  EXPECT_EQ(ViewDragMode.load(), 0);
  // Grab the rim at the right and pull it out to 101 pixels from the centre.
  view->OnMouseMove(Point{496, 300}, false);
  ASSERT_TRUE(lupe->OverRim());
  view->OnLButtonDown(Point{496, 300});
  EXPECT_EQ(ViewDragMode.load(), orb::drag::MagnifierRim);
  view->OnMouseMove(Point{501, 300}, true);
  view->OnLButtonUp(Point{501, 300});
  EXPECT_EQ(MiscSettings.MagnifierDiameter, 204);
  EXPECT_EQ(lupe->Box().Width(), 204);
  EXPECT_EQ(ViewDragMode.load(), 0);
}

TEST_F(ViewMouse, DraggingTheNavigatorFrameScrollsTheView) {
  COrbalonView* view = OpenPicture();
  ASSERT_TRUE(view);
  ImageState* s = Image(view);
  CViewThumbDlg* thumb = frame_->ThumbDlg();
  ASSERT_TRUE(thumb && thumb->Navigator());
  thumb->OnRefreshThumbnail();
  thumb->OnZoomIn();
  orbtest::PumpUntil([] { return false; }, 20);
  CMapImage* map = thumb->Navigator();
  map->Compose();
  const orb::Rect frame = map->Frame();
  const orb::Rect t = map->ThumbRect();
  ASSERT_GT(t.Width(), 0);
  ASSERT_LT(frame.Width(), t.Width());
  const PixelRect before = s->region;
  const wxPoint grab((frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2);
  orbtest::DragPointer(map, grab, grab + wxPoint(12, 6), wxMOUSE_BTN_RIGHT);
  ASSERT_TRUE(orbtest::PumpUntil([&] { return s->region.left != before.left; }));
  // 12 navigator pixels are 12 x W / T-width image pixels.
  const int32_t expectDx = static_cast<int32_t>(12LL * s->width / t.Width());
  EXPECT_NEAR(s->region.left - before.left, expectDx, s->width / t.Width() + 2);
  EXPECT_GT(s->region.top, before.top);
  KeepScreenshot(wxImage(map->Compose()), "navigator.png");
}

TEST_F(ViewMouse, NavigatorBandOfTwoPixelsChangesNothing) {
  COrbalonView* view = OpenPicture();
  ASSERT_TRUE(view);
  ImageState* s = Image(view);
  CViewThumbDlg* thumb = frame_->ThumbDlg();
  thumb->OnRefreshThumbnail();
  CMapImage* map = thumb->Navigator();
  map->Compose();
  const orb::Rect t = map->ThumbRect();
  const PixelRect before = s->region;
  orbtest::DragPointer(map, wxPoint(t.left + 10, t.top + 10), wxPoint(t.left + 12, t.top + 40));
  EXPECT_EQ(s->region.left, before.left);
  EXPECT_EQ(s->region.right, before.right);
  orbtest::DragPointer(map, wxPoint(t.left + 10, t.top + 10), wxPoint(t.left + 40, t.top + 30));
  ASSERT_TRUE(orbtest::PumpUntil([&] { return s->region.right - s->region.left < before.right - before.left; }));
}

TEST_F(ViewMouse, ViewButtonsWithoutADocumentDoNothingAndZoomWithOne) {
  CViewThumbDlg* thumb = frame_->ThumbDlg();
  thumb->OnZoomIn();  // nothing open: no crash, nothing to do
  thumb->OnWholeImage();
  EXPECT_EQ(AppStatus.load(), 0u);
  COrbalonView* view = OpenPicture();
  ASSERT_TRUE(view);
  ImageState* s = Image(view);
  const int32_t w = s->region.right - s->region.left;
  thumb->OnZoomIn();
  EXPECT_NEAR(s->region.right - s->region.left, w / 2, 2);
  thumb->OnWholeImage();
  EXPECT_EQ(s->region.right - s->region.left, 1600);
  EXPECT_EQ(AppStatus.load() & orb::Bits(orb::StatusBit::DisplayField), 0u);
}

TEST_F(ViewMouse, MouseIsIgnoredWhileTheProgramIsBusy) {
  COrbalonView* view = OpenPicture();
  ASSERT_TRUE(view);
  ImageState* s = Image(view);
  const PixelRect before = s->region;
  orb::SetStatus(orb::StatusBit::Opening);
  const Point p{s->clientRect.left + 100, s->clientRect.top + 80};
  view->OnLButtonDown(p);
  view->OnLButtonUp(p);
  orb::ClearStatus(orb::StatusBit::Opening);
  EXPECT_EQ(s->region.right - s->region.left, before.right - before.left);
  EXPECT_EQ(ViewDragMode.load(), 0);
}

}  // namespace
