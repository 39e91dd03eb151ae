#include "tools/ToolViewHooks.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace orb {

namespace {

// GUI thread only, as are the pages themselves.
std::array<IToolViewHooks*, static_cast<size_t>(ViewToolRole::Count)> g_pages{};

size_t Slot(ViewToolRole role) { return static_cast<size_t>(role); }

Rect Clip(const Rect& r, int32_t width, int32_t height) {
  return Rect{std::max(r.left, 0), std::max(r.top, 0), std::min(r.right, width), std::min(r.bottom, height)};
}

}  // namespace

Point ViewContext::ToImage(Point client) const {
  if (!image) return client;
  const int64_t zoom = image->fitScale;
  return Point{static_cast<int32_t>(static_cast<int64_t>(client.x - image->clientRect.left) * zoom / 10000) +
                   image->region.left,
               static_cast<int32_t>(static_cast<int64_t>(client.y - image->clientRect.top) * zoom / 10000) +
                   image->region.top};
}

Point ViewContext::ToClient(Point imagePoint) const {
  if (!image) return imagePoint;
  const int64_t zoom = image->fitScale;
  if (zoom <= 0) return Point{image->clientRect.left, image->clientRect.top};
  return Point{static_cast<int32_t>(static_cast<int64_t>(imagePoint.x - image->region.left) * 10000 / zoom) +
                   image->clientRect.left,
               static_cast<int32_t>(static_cast<int64_t>(imagePoint.y - image->region.top) * 10000 / zoom) +
                   image->clientRect.top};
}

Rect ViewContext::Drawing() const {
  if (!image) return Rect{};
  const PixelRect& d = image->clientRect;
  return Rect{d.left, d.top, d.right, d.bottom};
}

void ViewCanvas::InvertPixel(int32_t x, int32_t y) {
  if (x < 0 || y < 0 || x >= m_width || y >= m_height) return;
  uint8_t* p = Pixel(x, y);
  p[0] = static_cast<uint8_t>(~p[0]);
  p[1] = static_cast<uint8_t>(~p[1]);
  p[2] = static_cast<uint8_t>(~p[2]);
}

void ViewCanvas::InvertRect(const Rect& r) {
  const Rect c = Clip(r, m_width, m_height);
  for (int32_t y = c.top; y < c.bottom; ++y) {
    uint8_t* p = Pixel(c.left, y);
    for (int32_t x = c.left; x < c.right; ++x, p += 3) {
      p[0] = static_cast<uint8_t>(~p[0]);
      p[1] = static_cast<uint8_t>(~p[1]);
      p[2] = static_cast<uint8_t>(~p[2]);
    }
  }
}

void ViewCanvas::InvertFrame(const Rect& r, int32_t thickness) {
  if (r.right <= r.left || r.bottom <= r.top || thickness <= 0) return;
  // Top and bottom bands, then the sides between them: no pixel twice, so a frame
  // thicker than half the rectangle becomes a filled rectangle.
  const int32_t topEnd = std::min(r.top + thickness, r.bottom);
  const int32_t bottomStart = std::max(r.bottom - thickness, topEnd);
  InvertRect(Rect{r.left, r.top, r.right, topEnd});
  InvertRect(Rect{r.left, bottomStart, r.right, r.bottom});
  const int32_t leftEnd = std::min(r.left + thickness, r.right);
  const int32_t rightStart = std::max(r.right - thickness, leftEnd);
  InvertRect(Rect{r.left, topEnd, leftEnd, bottomStart});
  InvertRect(Rect{rightStart, topEnd, r.right, bottomStart});
}

void ViewCanvas::InvertLine(Point a, Point b) {
  // Bresenham: every pixel of the line once, so drawing twice restores the picture.
  int32_t x = a.x, y = a.y;
  const int32_t dx = std::abs(b.x - a.x), dy = -std::abs(b.y - a.y);
  const int32_t sx = a.x < b.x ? 1 : -1, sy = a.y < b.y ? 1 : -1;
  int64_t err = static_cast<int64_t>(dx) + dy;
  for (;;) {
    InvertPixel(x, y);
    if (x == b.x && y == b.y) break;
    const int64_t e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
}

void ViewCanvas::CopyPixels(int32_t x, int32_t y, const uint8_t* rgb, int32_t width, int32_t height,
                            size_t stride) {
  if (!rgb) return;
  const Rect c = Clip(Rect{x, y, x + width, y + height}, m_width, m_height);
  if (c.right <= c.left) return;
  for (int32_t row = c.top; row < c.bottom; ++row) {
    const uint8_t* src = rgb + static_cast<size_t>(row - y) * stride + static_cast<size_t>(c.left - x) * 3;
    std::memcpy(Pixel(c.left, row), src, static_cast<size_t>(c.right - c.left) * 3);
  }
}

void RegisterViewTool(ViewToolRole role, IToolViewHooks* page) {
  if (role < ViewToolRole::Count) g_pages[Slot(role)] = page;
}

void UnregisterViewTool(ViewToolRole role, const IToolViewHooks* page) {
  if (role < ViewToolRole::Count && g_pages[Slot(role)] == page) g_pages[Slot(role)] = nullptr;
}

IToolViewHooks* RegisteredViewTool(ViewToolRole role) {
  return role < ViewToolRole::Count ? g_pages[Slot(role)] : nullptr;
}

IToolViewHooks* ShowingViewTool(ViewToolRole role, const ViewContext& view) {
  IToolViewHooks* page = RegisteredViewTool(role);
  return page && page->IsShowing(view) ? page : nullptr;
}

}  // namespace orb
