#include "app/ViewGeometry.h"

#include <algorithm>
#include <cmath>

#include "tools/ToolViewHooks.h"

namespace orb {

PixelRect ZoomRegion(const PixelRect& region, int32_t percent, int32_t imageWidth, int32_t imageHeight) {
  float f = 0.0f;
  if (percent > 0) f = static_cast<float>(percent) / 400.0f;
  if (percent < 0) f = static_cast<float>(percent) / 100.0f;
  const float dx = static_cast<float>(region.right - region.left) * f + 0.5f;
  const float dy = static_cast<float>(region.bottom - region.top) * f + 0.5f;
  const bool in = dx > 2.0f && dy > 2.0f;
  const bool out = dx < 0.0f && dy < 0.0f;
  if (!in && !out) return region;
  const int32_t ix = static_cast<int32_t>(dx), iy = static_cast<int32_t>(dy);
  PixelRect r = region;
  r.left = std::max(0, r.left + ix);
  r.right = std::min(imageWidth, r.right - ix);
  r.top = std::max(0, r.top + iy);
  r.bottom = std::min(imageHeight, r.bottom - iy);
  return r;
}

PixelRect RegionForHint(int hint, const PixelRect& region, int32_t clientWidth, int32_t clientHeight,
                        int32_t imageWidth, int32_t imageHeight, int32_t zoomInStep, int32_t zoomOutStep) {
  switch (hint) {
    case kHintZoomOut:
      return ZoomRegion(region, -zoomOutStep, imageWidth, imageHeight);
    case kHintActualSize: {
      const int32_t cx = region.left + (region.right - region.left) / 2;
      const int32_t cy = region.top + (region.bottom - region.top) / 2;
      PixelRect r{cx - clientWidth / 2, cy - clientHeight / 2, cx + clientWidth / 2, cy + clientHeight / 2};
      if (r.left < 0 || r.top < 0 || r.right > imageWidth || r.bottom > imageHeight) {
        r = PixelRect{0, 0, imageWidth, imageHeight};
      }
      return r;
    }
    case kHintZoomIn:
      return ZoomRegion(region, zoomInStep, imageWidth, imageHeight);
    case kHintWholeImage:
      return PixelRect{0, 0, imageWidth, imageHeight};
    default:
      return region;
  }
}

PixelRect FitRegionToClient(const PixelRect& region, int32_t clientWidth, int32_t clientHeight,
                            int32_t imageWidth, int32_t imageHeight) {
  if (clientWidth <= 0 || clientHeight <= 0) return region;
  Rect r{region.left, region.top, region.right, region.bottom};
  FitRectToAspect(r, Rect{0, 0, clientWidth, clientHeight}, imageWidth, imageHeight);
  return PixelRect{r.left, r.top, r.right, r.bottom};
}

PixelRect CentreRegionAt(const PixelRect& region, Point point, const PixelRect& drawing, int32_t zoom) {
  const int32_t x = static_cast<int32_t>(static_cast<int64_t>(point.x - drawing.left) * zoom / 10000) + region.left;
  const int32_t y = static_cast<int32_t>(static_cast<int64_t>(point.y - drawing.top) * zoom / 10000) + region.top;
  const int32_t w = region.right - region.left, h = region.bottom - region.top;
  return PixelRect{x - w / 2, y - h / 2, x + w / 2, y + h / 2};
}

void ScrollAxis(int32_t& start, int32_t& end, int32_t size, ScrollCode code, int32_t position) {
  const int32_t h = end - start;
  switch (code) {
    case ScrollCode::LineUp:
    case ScrollCode::PageUp:
      start = std::max(0, start - (code == ScrollCode::LineUp ? h / 4 : h / 2));
      end = start + h;
      break;
    case ScrollCode::LineDown:
    case ScrollCode::PageDown:
      end = std::min(size, end + (code == ScrollCode::LineDown ? h / 4 : h / 2));
      start = end - h;
      break;
    case ScrollCode::ThumbPosition:
    case ScrollCode::ThumbTrack:
      start = std::max(0, position - h / 2);
      end = start + h;
      if (end > size) {
        end = size;
        start = end - h;
      }
      break;
    case ScrollCode::Top:
    case ScrollCode::Bottom:
    case ScrollCode::EndScroll:
      break;
  }
}

int32_t ScrollBarPosition(int32_t start, int32_t end, int32_t size) {
  if (end >= size) return size;
  if (start <= 0) return 0;
  return start + (end - start) / 2;
}

ScrollArrows ScrollArrowsFor(const PixelRect& region, int32_t imageWidth, int32_t imageHeight) {
  ScrollArrows a;
  a.down = region.bottom < imageHeight;
  a.up = region.top > 0;
  a.right = region.right < imageWidth;
  a.left = region.left > 0;
  return a;
}

DrawPlacement PlaceDisplayBitmap(int32_t bitmapWidth, int32_t bitmapHeight, int32_t clientWidth,
                                 int32_t clientHeight) {
  DrawPlacement p;
  bool horizontalLarger = false;
  p.scale = ComputeFitScale(bitmapWidth, bitmapHeight, clientWidth, clientHeight, &horizontalLarger);
  if (p.scale <= 0) return p;
  auto up4 = [](int64_t v) { return static_cast<int32_t>((v + 3) & ~int64_t{3}); };
  p.width = up4(static_cast<int64_t>(bitmapWidth) * 10000 / p.scale);
  p.height = up4(static_cast<int64_t>(bitmapHeight) * 10000 / p.scale);
  Rect r{0, 0, clientWidth, clientHeight};
  CentreViewportOrigin(r, nullptr, p.width, p.height, horizontalLarger);
  r.right = r.left + p.width;
  r.bottom = r.top + p.height;
  p.target = r;
  return p;
}

// ----- magnifier --------------------------------------------------------------------------

LensSettings SanitizedLens(int32_t diameter, int32_t zoom) {
  LensSettings s;
  if (diameter >= kLensMinDiameter && diameter <= kLensMaxDiameter) s.diameter = diameter;
  if (zoom == 1 || zoom == 2 || zoom == 4) s.zoom = zoom;
  return s;
}

PixelRect LensSource(Point centre, int32_t diameter, int32_t zoom) {
  const LensSettings lens = SanitizedLens(diameter, zoom);
  const int32_t left = centre.x - lens.diameter / (2 * lens.zoom);
  const int32_t top = centre.y - lens.diameter / (2 * lens.zoom);
  return PixelRect{left, top, left + lens.diameter / lens.zoom, top + lens.diameter / lens.zoom};
}

int32_t NextLensZoom(int32_t zoom) {
  int32_t z = zoom + 1;
  if (z == 3) z = 4;
  if (z > 4 || z < 1) z = 1;
  return z;
}

uint16_t LensZoomCursor(int32_t zoom) {
  if (zoom == 4) return cursor::MagnifierZoom4;
  if (zoom == 2) return cursor::MagnifierZoom2;
  return cursor::MagnifierZoom1;
}

int32_t ResizedLensDiameter(double distance) {
  if (!(distance >= 0.0)) distance = 0.0;  // NaN too
  const double capped = std::min(distance, static_cast<double>(kLensMaxDiameter));
  const int32_t d = ((static_cast<int32_t>(capped) * 2 + 4) / 4) * 4;
  return std::clamp(d, kLensMinDiameter, kLensMaxDiameter);
}

Rect LensBox(Point centre, int32_t diameter) {
  const int32_t h = diameter / 2;
  return Rect{centre.x - h, centre.y - h, centre.x - h + diameter, centre.y - h + diameter};
}

bool InsideLens(const Rect& box, Point p) {
  const double r = box.Width() / 2.0;
  const double dx = p.x - (box.left + r), dy = p.y - (box.top + box.Height() / 2.0);
  return dx * dx + dy * dy <= r * r;
}

RimHit LensRimTest(const Rect& box, Point p) {
  const int32_t r = box.Width() / 2;
  const Point c{box.left + r, box.top + box.Height() / 2};
  Point q;
  double m = 9999.0;
  if (p.x != c.x) {
    m = static_cast<double>(c.y - p.y) / static_cast<double>(c.x - p.x);
    const int32_t dx = static_cast<int32_t>(std::sqrt(static_cast<double>(r) * r / (m * m + 1.0)));
    q.x = c.x >= p.x ? c.x - dx : c.x + dx;
    q.y = static_cast<int32_t>((q.x - c.x) * m + c.y);
  } else {
    q.x = p.x;
    q.y = c.y >= p.y ? box.top : box.bottom;
  }
  RimHit hit;
  if (p.x < q.x - 10 || p.x > q.x + 10 || p.y < q.y - 10 || p.y > q.y + 10) return hit;
  hit.onRim = true;
  const double am = std::fabs(m);
  if (am < 0.5) {
    hit.cursor = cursor::SizeWE;
  } else if (am >= 2.0) {
    hit.cursor = cursor::SizeNS;
  } else {
    const int code = GetDirectionCode(c.x, c.y, q.x, q.y);
    hit.cursor = code == 1 || code == 3 ? cursor::SizeNWSE : cursor::SizeNESW;
  }
  return hit;
}

// ----- navigator --------------------------------------------------------------------------

Rect NavigatorThumbRect(int32_t bitmapWidth, int32_t bitmapHeight, int32_t clientWidth, int32_t clientHeight) {
  if (bitmapWidth <= 0 || bitmapHeight <= 0) return Rect{};
  bool horizontalLarger = false;
  const int32_t s = ComputeFitScale(bitmapWidth, bitmapHeight, clientWidth, clientHeight, &horizontalLarger);
  if (s <= 0) return Rect{};
  const int32_t w = static_cast<int32_t>(static_cast<int64_t>(bitmapWidth) * 10000 / s);
  const int32_t h = static_cast<int32_t>(static_cast<int64_t>(bitmapHeight) * 10000 / s);
  int32_t x = 0, y = 0;
  if (horizontalLarger) {
    y = static_cast<int32_t>((clientHeight - h) * 0.5 + 0.5);
  } else {
    x = static_cast<int32_t>((clientWidth - w) * 0.5 + 0.5);
  }
  return Rect{x, y, x + w, y + h};
}

Rect NavigatorFrame(const PixelRect& region, int32_t imageWidth, int32_t imageHeight, const Rect& thumb) {
  const int64_t sx = ComputeScale(imageWidth, thumb.Width());
  const int64_t sy = ComputeScale(imageHeight, thumb.Height());
  const int32_t fw = static_cast<int32_t>((static_cast<int64_t>(region.right) - region.left) * 10000 / sx);
  const int32_t fh = static_cast<int32_t>((static_cast<int64_t>(region.bottom) - region.top) * 10000 / sy);
  const int32_t rightMargin = static_cast<int32_t>((static_cast<int64_t>(imageWidth) - region.right) * 10000 / sx);
  const int32_t bottomMargin = static_cast<int32_t>((static_cast<int64_t>(imageHeight) - region.bottom) * 10000 / sy);
  Rect f;
  f.right = thumb.right - rightMargin;
  f.left = f.right - fw;
  f.bottom = thumb.bottom - bottomMargin;
  f.top = f.bottom - fh;
  return f;
}

PixelRect NavigatorRegion(const Rect& frame, const Rect& thumb, int32_t imageWidth, int32_t imageHeight) {
  const int64_t sx = ComputeScale(thumb.Width(), imageWidth);
  const int64_t sy = ComputeScale(thumb.Height(), imageHeight);
  const int32_t w = static_cast<int32_t>(static_cast<int64_t>(frame.Width()) * 10000 / sx);
  const int32_t h = static_cast<int32_t>(static_cast<int64_t>(frame.Height()) * 10000 / sy);
  const int32_t left = static_cast<int32_t>(static_cast<int64_t>(frame.left - thumb.left) * 10000 / sx);
  const int32_t top = static_cast<int32_t>(static_cast<int64_t>(frame.top - thumb.top) * 10000 / sy);
  return PixelRect{std::max(left, 0), std::max(top, 0), std::min(left + w, imageWidth), std::min(top + h, imageHeight)};
}

Rect MoveNavigatorFrame(const Rect& frame, int32_t dx, int32_t dy, const Rect& thumb) {
  auto clampShift = [](int32_t lo, int32_t hi, int32_t d, int32_t tlo, int32_t thi) {
    if (hi - lo >= thi - tlo) return tlo - lo;  // as wide as T: it sits at T's start
    return std::clamp(d, tlo - lo, thi - hi);
  };
  const int32_t mx = clampShift(frame.left, frame.right, dx, thumb.left, thumb.right);
  const int32_t my = clampShift(frame.top, frame.bottom, dy, thumb.top, thumb.bottom);
  return Rect{frame.left + mx, frame.top + my, frame.right + mx, frame.bottom + my};
}

}  // namespace orb
