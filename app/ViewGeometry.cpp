#include "app/ViewGeometry.h"

#include <algorithm>

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

}  // namespace orb
