#include "app/LupeView.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <utility>
#include <vector>

#include "engine/Settings.h"

CLupeView::CLupeView(std::function<void()> repaint) : m_repaint(std::move(repaint)) {
  const orb::LensSettings lens = Settings();
  m_box = orb::Rect{0, 0, lens.diameter, lens.diameter};
}

CLupeView::~CLupeView() { Release(); }

// Lets go of the record: it no longer names this lens as its magnifier nor tells it when it goes.
void CLupeView::Release() {
  if (!m_image) return;
  if (m_image->magnifierWindow == static_cast<orb::DisplaySurface*>(this)) m_image->magnifierWindow = nullptr;
  m_image->magnifierWatch.Clear(this);
  m_image = nullptr;
}

orb::LensSettings CLupeView::Settings() const {
  const orb::LensSettings lens = orb::SanitizedLens(MiscSettings.MagnifierDiameter, MiscSettings.MagnifierZoom);
  // The display renders from the same fields: it must not see the damaged values either.
  MiscSettings.MagnifierDiameter = lens.diameter;
  MiscSettings.MagnifierZoom = lens.zoom;
  return lens;
}

void CLupeView::SetImage(ImageState* image) {
  if (m_image != image) Release();
  m_image = image;
  if (m_image) {
    m_image->magnifierWindow = static_cast<orb::DisplaySurface*>(this);
    // A save or an undo may free the record before the view hands over the next one.
    m_image->magnifierWatch.Set(this, [this] { m_image = nullptr; });
  }
  m_content.reset();
}

orb::Rect CLupeView::ClientRect() const { return orb::Rect{0, 0, m_box.Width(), m_box.Height()}; }

void CLupeView::Invalidate(bool) {
  if (m_repaint) m_repaint();
}

void CLupeView::MoveTo(bool reposition, int32_t x, int32_t y) {
  const orb::LensSettings lens = Settings();
  if (reposition) m_box = orb::LensBox(orb::Point{x, y}, lens.diameter);
  if (!m_image) {
    if (reposition) Invalidate(false);
    return;
  }
  const orb::ViewContext view{m_image};
  m_image->magnifierSource = orb::LensSource(view.ToImage(orb::Point{x, y}), lens.diameter, lens.zoom);
  m_image->magnifierWindow = static_cast<orb::DisplaySurface*>(this);
  ProgressiveDisplay display(m_image);
  orb::DisplayImagePtr content;
  // A failed rendering (memory short) keeps the previous content.
  if (RenderMagnifierContent(&display, lens.diameter, &content) == RebuildOutcome::Rebuilt && content) {
    m_content = content;
  }
  Invalidate(false);
}

uint16_t CLupeView::OnMouseMove(orb::Point p, bool leftHeld) {
  const uint16_t mode = ViewDragMode.load();
  if (mode == orb::drag::None) {
    const orb::RimHit rim = orb::LensRimTest(m_box, p);
    m_overRim = rim.onRim;
    if (rim.onRim) return rim.cursor;
  }
  if (mode == orb::drag::MagnifierRim) {
    const double cx = m_box.left + m_box.Width() / 2, cy = m_box.top + m_box.Height() / 2;
    const double dist = std::hypot(p.x - cx, p.y - cy);
    MiscSettings.MagnifierDiameter = orb::ResizedLensDiameter(dist);
    ViewDragMode = orb::drag::Magnifier;
    MoveTo(true, m_centre.x, m_centre.y);
    ViewDragMode = orb::drag::MagnifierRim;
  }
  const uint16_t zoomCursor = orb::LensZoomCursor(Settings().zoom);
  if ((mode == orb::drag::None || mode == orb::drag::Magnifier) && leftHeld) {
    m_centre = p;
    ViewDragMode = orb::drag::Magnifier;
    MoveTo(true, p.x, p.y);
  }
  return zoomCursor;
}

void CLupeView::OnLButtonDown(orb::Point) {
  if (m_overRim) ViewDragMode = orb::drag::MagnifierRim;
}

void CLupeView::OnLButtonUp(orb::Point p) {
  m_overRim = false;
  if (ViewDragMode.load() == orb::drag::None) {
    m_centre = p;
    ViewDragMode = orb::drag::Magnifier;
    MoveTo(true, p.x, p.y);
  }
  ViewDragMode = orb::drag::None;
}

uint16_t CLupeView::OnRButtonDown(orb::Point) {
  const orb::LensSettings lens = Settings();
  MiscSettings.MagnifierZoom = orb::NextLensZoom(lens.zoom);
  m_centre = orb::Point{m_box.left + m_box.Width() / 2, m_box.top + m_box.Height() / 2};
  ViewDragMode = orb::drag::Magnifier;
  MoveTo(true, m_centre.x, m_centre.y);
  ViewDragMode = orb::drag::None;
  return orb::LensZoomCursor(MiscSettings.MagnifierZoom);
}

void CLupeView::Paint(orb::ViewCanvas& canvas) const {
  if (!m_shown) return;
  const int32_t d = m_box.Width();
  if (d <= 0) return;
  // Twice the radius, to stay in integers: a pixel centre (2x + 1, 2y + 1) against 2r.
  const int64_t r2 = static_cast<int64_t>(d) * d;
  const int64_t inner = static_cast<int64_t>(d - 4) * (d - 4);  // a rim 2 pixels wide
  std::vector<uint8_t> row(static_cast<size_t>(std::max(d, m_content ? m_content->width : 0)) * 3, 255);
  for (int32_t y = 0; y < d; ++y) {
    const int32_t cy = m_box.top + y;
    if (cy < 0 || cy >= canvas.Height()) continue;
    const bool haveRow = m_content && y < m_content->height;
    if (haveRow) {
      std::lock_guard<std::mutex> lock(m_content->lock);
      m_content->PictureRowRgb(y, row.data());
    }
    const int64_t dy = 2 * y + 1 - d;
    for (int32_t x = 0; x < d; ++x) {
      const int32_t cx = m_box.left + x;
      if (cx < 0 || cx >= canvas.Width()) continue;
      const int64_t dx = 2 * x + 1 - d;
      const int64_t dist = dx * dx + dy * dy;
      if (dist > r2) continue;
      uint8_t* out = canvas.Pixel(cx, cy);
      if (dist >= inner) {
        out[0] = out[1] = out[2] = 64;
      } else if (haveRow && x < m_content->width) {
        out[0] = row[3 * static_cast<size_t>(x)];
        out[1] = row[3 * static_cast<size_t>(x) + 1];
        out[2] = row[3 * static_cast<size_t>(x) + 2];
      } else {
        out[0] = out[1] = out[2] = 255;
      }
    }
  }
}
