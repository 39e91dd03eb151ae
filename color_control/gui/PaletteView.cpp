#include "color_control/gui/PaletteView.h"

#include <wx/dcbuffer.h>
#include <wx/settings.h>
#include <wx/time.h>

#include <algorithm>

PaletteView::PaletteView(wxWindow* parent, wxWindowID id, CClassificationModel& model)
    : wxPanel(parent, id, wxDefaultPosition, wxSize(420, 380), wxBORDER_SUNKEN), model_(model) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, &PaletteView::OnPaint, this);
  Bind(wxEVT_LEFT_DOWN, &PaletteView::OnLeftDown, this);
  Bind(wxEVT_MOTION, &PaletteView::OnMotion, this);
  Bind(wxEVT_LEFT_UP, &PaletteView::OnLeftUp, this);
  Bind(wxEVT_MOUSE_CAPTURE_LOST, &PaletteView::OnCaptureLost, this);
}

void PaletteView::SetKind(PaletteViewKind k) {
  kind_ = k;
  Refresh();
}

void PaletteView::SetScroll(int s) {
  scroll_ = std::max(0, s);
  Refresh();
}

std::vector<CellRect> PaletteView::Cells() const {
  const wxSize sz = GetClientSize();
  return LayoutCells(model_, kind_, sz.x, sz.y, scroll_);
}

void PaletteView::PaintCell(wxDC& dc, const CellRect& r) const {
  const ColorEntry& e = model_.Entries()[r.position];
  const wxColour fill(e.Red(), e.Green(), e.Blue());
  dc.SetBrush(wxBrush(fill));
  dc.SetPen(kind_ == PaletteViewKind::Cube ? wxPen(wxColour(40, 40, 40)) : wxPen(fill));
  dc.DrawRectangle(r.x, r.y, r.w, r.h);
  dc.SetBrush(*wxTRANSPARENT_BRUSH);
  if (e.dropTarget) {
    dc.SetPen(wxPen(*wxGREEN, 1));
    dc.DrawRectangle(r.x, r.y, r.w, r.h);
  } else if (r.position == model_.Current()) {
    dc.SetPen(wxPen(*wxWHITE, 4));
    dc.DrawRectangle(r.x + 2, r.y + 2, std::max(1, r.w - 4), std::max(1, r.h - 4));
  } else if (e.flagged) {
    dc.SetPen(wxPen(*wxRED, 1));
    dc.DrawRectangle(r.x, r.y, r.w, r.h);
  }
  if (e.hasMerges) {
    dc.SetTextForeground(e.Red() <= 128 ? *wxWHITE : *wxBLACK);
    dc.DrawText("*", r.x + 2, r.y);
  }
}

void PaletteView::PaintCubeAxes(wxDC& dc) const {
  const wxSize sz = GetClientSize();
  const CubeFrame f = LayoutCube(sz.x, sz.y);
  const int back = f.side / 2;
  // Each edge is a ramp of 256 steps from its start colour to its end colour.
  auto ramp = [&](int x1, int y1, int x2, int y2, wxColour a, wxColour b) {
    for (int i = 0; i < 256; i += 4) {
      const double t0 = i / 256.0, t1 = (i + 4) / 256.0;
      const wxColour c(a.Red() + (b.Red() - a.Red()) * i / 255, a.Green() + (b.Green() - a.Green()) * i / 255,
                       a.Blue() + (b.Blue() - a.Blue()) * i / 255);
      dc.SetPen(wxPen(c, 4));
      dc.DrawLine(int(x1 + (x2 - x1) * t0), int(y1 + (y2 - y1) * t0), int(x1 + (x2 - x1) * t1),
                  int(y1 + (y2 - y1) * t1));
    }
  };
  const int x0 = f.x0, y0 = f.y0, s = f.side;
  const wxColour k(0, 0, 0), r(255, 0, 0), g(0, 255, 0), b(0, 0, 255), y(255, 255, 0), m(255, 0, 255),
      c(0, 255, 255), w(255, 255, 255);
  ramp(x0, y0, x0 + s, y0, k, r);
  ramp(x0, y0, x0, y0 - s, k, g);
  ramp(x0, y0, x0 + back, y0 - back, k, b);
  ramp(x0 + s, y0, x0 + s, y0 - s, r, y);
  ramp(x0, y0 - s, x0 + s, y0 - s, g, y);
  ramp(x0 + back, y0 - back, x0 + back + s, y0 - back, b, m);
  ramp(x0 + back, y0 - back, x0 + back, y0 - back - s, b, c);
  ramp(x0 + s, y0, x0 + s + back, y0 - back, r, m);
  ramp(x0, y0 - s, x0 + back, y0 - s - back, g, c);
  ramp(x0 + s, y0 - s, x0 + s + back, y0 - s - back, y, w);
  ramp(x0 + back + s, y0 - back, x0 + back + s, y0 - back - s, m, w);
  ramp(x0 + back, y0 - back - s, x0 + back + s, y0 - back - s, c, w);
}

void PaletteView::OnPaint(wxPaintEvent&) {
  wxAutoBufferedPaintDC dc(this);
  dc.SetBackground(wxBrush(wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE)));
  dc.Clear();
  if (kind_ == PaletteViewKind::Cube) PaintCubeAxes(dc);
  for (const auto& r : Cells()) PaintCell(dc, r);
  if (kind_ == PaletteViewKind::Histogram) {
    const wxSize sz = GetClientSize();
    const HistogramArrows a = LayoutArrows(sz.x, sz.y);
    dc.SetPen(*wxBLACK_PEN);
    dc.SetBrush(*wxGREY_BRUSH);
    for (const CellRect& r : {a.left, a.right}) {
      const int mid = r.y + r.h / 2, left = r.position == -1;
      wxPoint tri[3] = {wxPoint(left ? r.x : r.x + r.w, mid), wxPoint(left ? r.x + r.w : r.x, r.y),
                        wxPoint(left ? r.x + r.w : r.x, r.y + r.h)};
      dc.DrawPolygon(3, tri);
    }
  }
}

bool PaletteView::ScrollByArrow(int x, int y) {
  if (kind_ != PaletteViewKind::Histogram) return false;
  const wxSize sz = GetClientSize();
  const HistogramArrows a = LayoutArrows(sz.x, sz.y);
  const auto& t = model_.Tables();
  const int max = HistogramScrollMax(t.colorCount, t.activeCount);
  int s = scroll_;
  if (a.left.Contains(x, y)) s = std::max(0, scroll_ - 1);
  else if (a.right.Contains(x, y)) s = std::min(max, scroll_ + 1);
  else return false;
  if (s != scroll_) {
    SetScroll(s);
    if (onScrolled) onScrolled(s);
  }
  return true;
}

void PaletteView::OnLeftDown(wxMouseEvent& e) {
  if (ScrollByArrow(e.GetX(), e.GetY())) return;
  const int p = HitCell(Cells(), e.GetX(), e.GetY());
  if (p < 0) return;
  auto& list = model_.Entries();
  ColorEntry& c = list[p];
  if (!e.ShiftDown() && !c.flagged) {
    for (auto& x : list) x.flagged = x.pendingFlag = x.pendingUnflag = 0;
    c.flagged = c.pendingFlag = 1;
  } else if (e.ShiftDown()) {
    if (c.flagged) c.pendingUnflag = 1;
    else c.flagged = c.pendingFlag = 1;
  }
  pressed_ = p;
  dragging_ = true;
  moved_ = false;
  if (!HasCapture()) CaptureMouse();
  Refresh();
}

void PaletteView::ClearDropTargets() {
  for (auto& x : model_.Entries()) x.dropTarget = 0;
}

void PaletteView::OnMotion(wxMouseEvent& e) {
  if (!dragging_) return;
  moved_ = true;
  // Held over an arrow, the histogram scrolls one bar per 50 ms of movement, not per
  // mouse event.
  const wxLongLong now = wxGetLocalTimeMillis();
  if (now - lastArrowScroll_ < 50) return;
  if (ScrollByArrow(e.GetX(), e.GetY())) {
    lastArrowScroll_ = now;
    return;
  }
  const int p = HitCell(Cells(), e.GetX(), e.GetY());
  ClearDropTargets();
  auto& list = model_.Entries();
  if (p >= 0 && p != pressed_ && list[p].flagged) {
    SetCursor(wxCursor(wxCURSOR_NO_ENTRY));
  } else if (p < 0 || p == pressed_) {
    SetCursor(*wxSTANDARD_CURSOR);
  } else {
    list[p].dropTarget = 1;
    SetCursor(wxCursor(wxCURSOR_HAND));
  }
  Refresh();
}

void PaletteView::OnLeftUp(wxMouseEvent& e) {
  if (HasCapture()) ReleaseMouse();
  if (!dragging_) return;
  dragging_ = false;
  ClearDropTargets();
  SetCursor(*wxSTANDARD_CURSOR);
  auto& list = model_.Entries();
  const int p = HitCell(Cells(), e.GetX(), e.GetY());
  const int pressed = pressed_;
  pressed_ = -1;
  if (e.ShiftDown()) {
    for (auto& x : list) {
      if (x.pendingUnflag) x.flagged = 0;
      x.pendingFlag = x.pendingUnflag = 0;
    }
  } else if (p == pressed && p >= 0) {
    list[p].flagged = list[p].pendingFlag = 0;
    if (onSelect) onSelect(p);
  } else if (p >= 0 && moved_ && !list[p].flagged) {
    if (onMerge) onMerge(p);
  }
  Refresh();
}

void PaletteView::OnCaptureLost(wxMouseCaptureLostEvent&) {
  dragging_ = false;
  pressed_ = -1;
  ClearDropTargets();
  Refresh();
}
