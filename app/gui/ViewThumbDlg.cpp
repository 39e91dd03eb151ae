#include "app/gui/ViewThumbDlg.h"

#include <wx/bmpbuttn.h>
#include <wx/dcbuffer.h>
#include <wx/docview.h>
#include <wx/sizer.h>
#include <wx/tglbtn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "app/Display.h"
#include "app/gui/OrbalonDoc.h"
#include "common/ResourceIds.h"
#include "common/gui/Resources.h"
#include "engine/AppStatus.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"

std::atomic<orb::WindowHandle> g_hMapImage{nullptr};

namespace {

// The navigator's background (R 255, G 255, B 240) and the frame's pattern colour (cyan).
constexpr uint8_t kNavigatorBackground[3] = {255, 255, 240};
constexpr uint8_t kFramePattern[3] = {0, 255, 255};
constexpr int kFrameThickness = 4;

bool Scanning(uint32_t status) { return orb::ScanStateOf(status) == orb::ScanState::Scanning; }

// Lays the frame over the picture: each pixel of a band `thickness` wide along the inside
// of `r` is combined with the pattern colour by exclusive or, each pixel once.
void XorFrame(wxImage& img, const orb::Rect& r, int thickness) {
  const int w = img.GetWidth(), h = img.GetHeight();
  for (int y = std::max(r.top, 0); y < std::min(r.bottom, h); ++y) {
    const bool band = y < r.top + thickness || y >= r.bottom - thickness;
    for (int x = std::max(r.left, 0); x < std::min(r.right, w); ++x) {
      if (!band && x >= r.left + thickness && x < r.right - thickness) continue;
      uint8_t* p = img.GetData() + (static_cast<size_t>(y) * w + x) * 3;
      for (int c = 0; c < 3; ++c) p[c] ^= kFramePattern[c];
    }
  }
}

// Copies `picture` scaled into `target` of `img` (nearest pixels).
void StretchInto(wxImage& img, const orb::DisplayImage& picture, const orb::Rect& target) {
  const int w = img.GetWidth(), h = img.GetHeight();
  if (target.Width() <= 0 || target.Height() <= 0 || picture.width <= 0 || picture.height <= 0) return;
  std::vector<uint8_t> row(static_cast<size_t>(picture.width) * 3);
  std::lock_guard<std::mutex> lock(picture.lock);
  int last = -1;
  for (int y = std::max(target.top, 0); y < std::min(target.bottom, h); ++y) {
    const int sy = static_cast<int>(static_cast<int64_t>(y - target.top) * picture.height / target.Height());
    if (sy != last) {
      picture.PictureRowRgb(sy, row.data());
      last = sy;
    }
    uint8_t* out = img.GetData() + static_cast<size_t>(y) * w * 3;
    for (int x = std::max(target.left, 0); x < std::min(target.right, w); ++x) {
      const int sx = static_cast<int>(static_cast<int64_t>(x - target.left) * picture.width / target.Width());
      std::memcpy(out + static_cast<size_t>(x) * 3, row.data() + static_cast<size_t>(sx) * 3, 3);
    }
  }
}

orb::Point PointOf(const wxMouseEvent& e) { return orb::Point{e.GetX(), e.GetY()}; }

bool Within(const orb::Rect& r, orb::Point p, int margin) {
  return p.x >= r.left - margin && p.x <= r.right + margin && p.y >= r.top - margin && p.y <= r.bottom + margin;
}

}  // namespace

// ----- navigator ---------------------------------------------------------------------------

CMapImage::CMapImage(wxWindow* parent, wxWindowID id)
    : wxWindow(parent, id, wxDefaultPosition, parent->GetClientSize(), wxFULL_REPAINT_ON_RESIZE) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, &CMapImage::OnPaint, this);
  Bind(wxEVT_LEFT_DOWN, &CMapImage::OnLeftDown, this);
  Bind(wxEVT_LEFT_UP, &CMapImage::OnLeftUp, this);
  Bind(wxEVT_RIGHT_DOWN, &CMapImage::OnRightDown, this);
  // A press soon after the last one at the same place comes as a double click: on the
  // navigator it starts a drag all the same (a quick second drag was lost).
  Bind(wxEVT_LEFT_DCLICK, &CMapImage::OnLeftDown, this);
  Bind(wxEVT_RIGHT_DCLICK, &CMapImage::OnRightDown, this);
  Bind(wxEVT_RIGHT_UP, &CMapImage::OnRightUp, this);
  Bind(wxEVT_MOTION, &CMapImage::OnMotion, this);
  Bind(wxEVT_MOUSE_CAPTURE_LOST, [this](wxMouseCaptureLostEvent&) {
    m_dragState = 0;
    m_framing = false;
    Refresh(false);
  });
  g_hMapImage.store(orb::gui::HandleOf(this));
}

CMapImage::~CMapImage() {
  orb::WindowHandle self = orb::gui::HandleOf(this);
  g_hMapImage.compare_exchange_strong(self, nullptr);
}

wxImage CMapImage::Compose() {
  const wxSize cs = GetClientSize();
  wxImage img(std::max(cs.x, 1), std::max(cs.y, 1), false);
  {
    uint8_t* d = img.GetData();
    for (size_t i = 0; i < static_cast<size_t>(img.GetWidth()) * img.GetHeight(); ++i, d += 3) {
      std::memcpy(d, kNavigatorBackground, 3);
    }
  }
  // While a scan runs or a file opens, the running display's reduced picture stands here.
  const uint32_t status = AppStatus.load();
  orb::DisplayImagePtr running = orb::ThumbnailImage();
  if ((Scanning(status) || orb::HasStatus(status, orb::StatusBit::Opening)) && running) {
    StretchInto(img, *running, orb::NavigatorThumbRect(running->width, running->height, cs.x, cs.y));
    return img;
  }
  orb::DisplayImage* first = m_pImage ? orb::AsDisplayImage(m_pImage->bitmaps[0]) : nullptr;
  if (!first) return img;
  m_thumb = orb::NavigatorThumbRect(first->width, std::abs(first->height), cs.x, cs.y);
  StretchInto(img, *first, m_thumb);
  if (!m_framing) m_frame = orb::NavigatorFrame(m_pImage->region, m_pImage->width, m_pImage->height, m_thumb);
  XorFrame(img, m_frame, kFrameThickness);
  return img;
}

void CMapImage::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  dc.DrawBitmap(wxBitmap(Compose()), 0, 0);
}

bool CMapImage::Blocked() const {
  const uint32_t status = AppStatus.load();
  return Scanning(status) || orb::HasStatus(status, orb::StatusBit::ViewRefresh);
}

void CMapImage::OnLeftDown(wxMouseEvent& e) {
  if (Blocked() || m_dragState != 0 || !m_pImage || m_thumb.Width() <= 0) return;
  const orb::Point p = orb::ClampIntoRect(PointOf(e), m_thumb);
  if (!HasCapture()) CaptureMouse();
  m_frame = orb::Rect{p.x, p.y, p.x, p.y};
  m_anchor = m_last = p;
  m_dragState = 2;
  m_framing = true;
  Refresh(false);
}

void CMapImage::OnMotion(wxMouseEvent& e) {
  if (Blocked()) return;
  // The pointer is held inside the picture while a frame is drawn.
  const orb::Point p = orb::ClampIntoRect(PointOf(e), m_thumb);
  if (m_dragState == 2 && e.LeftIsDown() && !e.RightIsDown() && !e.MiddleIsDown()) {
    m_last = p;
    m_frame = orb::NormalisedRect(m_anchor, p);
    Refresh(false);
  } else if (m_dragState == 1 && e.RightIsDown() && !e.LeftIsDown() && !e.MiddleIsDown()) {
    m_frame = orb::MoveNavigatorFrame(m_frame, p.x - m_last.x, p.y - m_last.y, m_thumb);
    m_last = p;
    Refresh(false);
  }
}

void CMapImage::OnLeftUp(wxMouseEvent& e) {
  if (HasCapture()) ReleaseMouse();
  if (Blocked()) return;
  if (m_dragState == 2) {
    const orb::Point p = orb::ClampIntoRect(PointOf(e), m_thumb);
    if (m_pImage && Within(m_thumb, p, 2) && orb::NavigatorBandCounts(m_anchor, m_last)) {
      m_frame = orb::NormalisedRect(m_anchor, p);
      ApplyFrameToRegion();
    }
    // A band too small to mean anything (or a release outside) ends the drag all the same.
    m_dragState = 0;
    m_framing = false;
    Refresh(false);
  }
}

void CMapImage::OnRightDown(wxMouseEvent& e) {
  if (Blocked() || m_dragState != 0 || !m_pImage) return;
  const orb::Point p = PointOf(e);
  if (!Within(m_frame, p, 2)) return;
  m_last = p;
  m_dragState = 1;
  m_framing = true;
  if (!HasCapture()) CaptureMouse();
}

void CMapImage::OnRightUp(wxMouseEvent&) {
  if (HasCapture()) ReleaseMouse();
  if (Blocked()) return;
  if (m_dragState == 1) {
    ApplyFrameToRegion();
    m_dragState = 0;
    m_framing = false;
    Refresh(false);
  }
}

void CMapImage::ApplyFrameToRegion() {
  if (!m_pImage) return;
  m_pImage->region = orb::NavigatorRegion(m_frame, m_thumb, m_pImage->width, m_pImage->height);
  orb::SendAppMessage(g_hThumbDlg.load(), WM_THUMB_REDRAW_VIEW);
}

// ----- dialog ------------------------------------------------------------------------------

namespace {

// The buttons' pictures from the language module, by control.
struct ButtonPicture {
  int control;
  int image;
  bool toggle;
};
constexpr ButtonPicture kButtons[] = {
    {CViewThumbDlg::kIdZoomIn, 173, false},      {CViewThumbDlg::kIdZoomOut, 174, false},
    {CViewThumbDlg::kIdWholeImage, 175, false},  {CViewThumbDlg::kIdActualSize, 176, false},
    {CViewThumbDlg::kIdMagnifier, 256, true},    {CViewThumbDlg::kIdDragScroll, 260, true},
};

void SetChecked(wxWindow* w, bool on) {
  if (auto* t = dynamic_cast<wxBitmapToggleButton*>(w)) t->SetValue(on);
}

}  // namespace

CViewThumbDlg::CViewThumbDlg(wxWindow* parent) : CWndWithToolTip(parent, orb::res::IDD_THUMBNAIL) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  wxPanel* content = orb::gui::LoadPanel(this, orb::res::IDD_THUMBNAIL);
  if (!content) content = new wxPanel(this);
  sizer->Add(content, 1, wxEXPAND);
  SetSizer(sizer);
  BuildControls(content);
  m_messages.Attach(this);
  m_messages.On(WM_THUMB_REFRESH, [this](uintptr_t, intptr_t) { return OnRefreshThumbnail(); });
  m_messages.On(WM_THUMB_CLEAR, [this](uintptr_t, intptr_t) { return OnClearThumbnail(); });
  m_messages.On(WM_THUMB_REDRAW_VIEW, [this](uintptr_t, intptr_t) { return OnRedrawView(); });
  RefreshToolTips();
  orb::gui::ApplyToolTips(content, MiscSettings.TooltipMode);
  CheckToggles();
  g_hThumbDlg.store(orb::gui::HandleOf(this));
}

CViewThumbDlg::~CViewThumbDlg() {
  orb::WindowHandle self = orb::gui::HandleOf(this);
  g_hThumbDlg.compare_exchange_strong(self, nullptr);
}

wxWindow* CViewThumbDlg::Control(int id) const { return FindWindow(id); }

void CViewThumbDlg::BuildControls(wxWindow* content) {
  // A module without the controls gets them made here, in the template's arrangement.
  if (!content->FindWindow(kIdFrame)) {
    auto* v = new wxBoxSizer(wxVERTICAL);
    auto* frame = new wxPanel(content, kIdFrame, wxDefaultPosition, wxSize(200, 150), wxBORDER_SUNKEN);
    v->Add(frame, 1, wxEXPAND | wxALL, 4);
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    for (const ButtonPicture& b : kButtons) {
      wxWindow* button = b.toggle ? static_cast<wxWindow*>(new wxBitmapToggleButton(content, b.control, wxBitmap(1, 1)))
                                  : new wxBitmapButton(content, b.control, wxBitmap(1, 1));
      row->Add(button, 0, wxALL, 1);
    }
    v->Add(row, 0, wxALIGN_CENTER_HORIZONTAL | wxBOTTOM, 4);
    content->SetSizer(v);
  }
  for (const ButtonPicture& b : kButtons) {
    auto* button = dynamic_cast<wxAnyButton*>(content->FindWindow(b.control));
    if (!button) continue;
    const wxBitmap picture = orb::gui::ModuleBitmap(b.image);
    if (picture.IsOk()) button->SetBitmap(picture);
  }
  wxWindow* frame = content->FindWindow(kIdFrame);
  m_map = new CMapImage(frame, kIdNavigator);
  auto* fill = new wxBoxSizer(wxVERTICAL);
  fill->Add(m_map, 1, wxEXPAND);
  frame->SetSizer(fill);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnZoomIn(); }, kIdZoomIn);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnZoomOut(); }, kIdZoomOut);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnWholeImage(); }, kIdWholeImage);
  Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnActualSize(); }, kIdActualSize);
  Bind(wxEVT_TOGGLEBUTTON, [this](wxCommandEvent&) { OnMagnifier(); }, kIdMagnifier);
  Bind(wxEVT_TOGGLEBUTTON, [this](wxCommandEvent&) { OnDragScrollMode(); }, kIdDragScroll);
  content->Layout();
}

void CViewThumbDlg::CheckToggles() {
  SetChecked(Control(kIdMagnifier), MiscSettings.MagnifierShown != 0);
  SetChecked(Control(kIdDragScroll), MiscSettings.DragScroll != 0);
}

COrbalonView* CViewThumbDlg::ActiveView() {
  wxDocManager* manager = wxDocManager::GetDocumentManager();
  return manager ? dynamic_cast<COrbalonView*>(manager->GetCurrentView()) : nullptr;
}

void CViewThumbDlg::OnZoomIn() {
  COrbalonView* view = ActiveView();
  if (!view || orb::StatusIsExactly(AppStatus.load(), orb::StatusBit::ViewRefresh)) return;
  view->UpdateView(orb::kHintZoomIn);
}

void CViewThumbDlg::OnZoomOut() {
  COrbalonView* view = ActiveView();
  if (!view || orb::StatusIsExactly(AppStatus.load(), orb::StatusBit::ViewRefresh)) return;
  view->UpdateView(orb::kHintZoomOut);
}

void CViewThumbDlg::OnWholeImage() {
  COrbalonView* view = ActiveView();
  if (!view || orb::StatusIsExactly(AppStatus.load(), orb::StatusBit::ViewRefresh)) return;
  orb::SetDisplayMode(orb::StatusBit::FittedDisplay);
  const uint32_t status = AppStatus.load();
  if (Scanning(status) || orb::HasStatus(status, orb::StatusBit::Opening)) {
    view->UpdateScrollBars();  // the running display follows the mode itself
    return;
  }
  view->UpdateView(orb::kHintWholeImage);
  orb::ClearStatus(orb::StatusBit::DisplayField);
}

void CViewThumbDlg::OnActualSize() {
  COrbalonView* view = ActiveView();
  if (!view || orb::StatusIsExactly(AppStatus.load(), orb::StatusBit::ViewRefresh)) return;
  orb::SetDisplayMode(orb::StatusBit::FullSizeDisplay);
  const uint32_t status = AppStatus.load();
  if (Scanning(status) || orb::HasStatus(status, orb::StatusBit::Opening)) {
    view->UpdateScrollBars();
    return;
  }
  view->UpdateView(orb::kHintActualSize);
  orb::ClearStatus(orb::StatusBit::DisplayField);
}

void CViewThumbDlg::OnMagnifier() {
  MiscSettings.MagnifierShown = MiscSettings.MagnifierShown ? 0 : 1;
  SetChecked(Control(kIdMagnifier), MiscSettings.MagnifierShown != 0);
  COrbalonView* view = ActiveView();
  const uint32_t status = AppStatus.load();
  if (!view || orb::StatusIsExactly(status, orb::StatusBit::ViewRefresh)) return;
  if (!Scanning(status) && !orb::HasStatus(status, orb::StatusBit::Opening)) {
    orb::SendAppMessage(orb::gui::HandleOf(view), WM_SHOW_MAGNIFIER);
  } else {
    view->UpdateScrollBars();
  }
}

void CViewThumbDlg::OnDragScrollMode() {
  MiscSettings.DragScroll = MiscSettings.DragScroll ? 0 : 1;
  SetChecked(Control(kIdDragScroll), MiscSettings.DragScroll != 0);
}

intptr_t CViewThumbDlg::OnRefreshThumbnail() {
  ++m_refreshes;
  COrbalonView* view = ActiveView();
  if (view && view->GetDocument()) {
    m_pImage = view->GetDocument()->WorkingImage();
    if (view->Lupe()) view->Lupe()->SetImage(m_pImage);
    if (m_map) m_map->SetImage(m_pImage);
    // A black-and-white scan has nothing a lens could enlarge better than the view.
    const bool bilevelScan = m_pImage && m_pImage->state == VS_NORMAL && (m_pImage->kind == IK_BW || m_pImage->kind == IK_BW_FROM_GREEN);
    if (bilevelScan) MiscSettings.MagnifierShown = 0;
    if (wxWindow* lens = Control(kIdMagnifier)) lens->Show(!bilevelScan);
    CheckToggles();
    Layout();
  }
  if (m_map) {
    m_map->Refresh(true);
    m_map->Update();
  }
  return 0;
}

intptr_t CViewThumbDlg::OnClearThumbnail() {
  ++m_refreshes;
  m_pImage = nullptr;
  if (m_map) {
    m_map->SetImage(nullptr);
    m_map->Refresh(true);
    m_map->Update();
  }
  return 0;
}

intptr_t CViewThumbDlg::OnRedrawView() {
  ++m_refreshes;
  COrbalonView* view = ActiveView();
  if (view && !orb::StatusIsExactly(AppStatus.load(), orb::StatusBit::ViewRefresh)) view->UpdateView(orb::kHintRedraw);
  return 0;
}

void CViewThumbDlg::UpdateForScanState() {
  const bool visible = !Scanning(AppStatus.load());
  for (int id : {kIdZoomIn, kIdZoomOut, kIdMagnifier, kIdDragScroll}) {
    if (wxWindow* w = Control(id)) w->Show(visible);
  }
  if (m_pImage && m_pImage->state == VS_NORMAL && (m_pImage->kind == IK_BW || m_pImage->kind == IK_BW_FROM_GREEN) &&
      (BWThresholdSettings.SoftwareThreshold != 0 || BWThresholdSettings.ThresholdingType == 2)) {
    MiscSettings.MagnifierShown = 0;
    if (wxWindow* w = Control(kIdMagnifier)) w->Hide();
  }
  Layout();
}
