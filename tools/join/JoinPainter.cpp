#include "tools/join/JoinPainter.h"

#include <algorithm>
#include <cstring>

#include "engine/ReadWrite/LineReader.h"

namespace orb::join {
namespace {

void Put(ViewCanvas& c, int32_t x, int32_t y, const uint8_t* rgb) {
  if (x < 0 || y < 0 || x >= c.Width() || y >= c.Height()) return;
  std::memcpy(c.Pixel(x, y), rgb, 3);
}

void Fill(ViewCanvas& c, const Rect& r, const uint8_t* rgb) {
  const Rect in = Intersect(r, Rect{0, 0, c.Width(), c.Height()});
  for (int32_t y = in.top; y < in.bottom; ++y)
    for (int32_t x = in.left; x < in.right; ++x) std::memcpy(c.Pixel(x, y), rgb, 3);
}

void Frame(ViewCanvas& c, const Rect& r, int32_t t, const uint8_t* rgb) {
  Fill(c, Rect{r.left, r.top, r.right, r.top + t}, rgb);
  Fill(c, Rect{r.left, r.bottom - t, r.right, r.bottom}, rgb);
  Fill(c, Rect{r.left, r.top, r.left + t, r.bottom}, rgb);
  Fill(c, Rect{r.right - t, r.top, r.right, r.bottom}, rgb);
}

// A dotted line, every other pixel, along x (horizontal) or y.
void Dotted(ViewCanvas& c, Point a, int32_t length, bool horizontal, int32_t period, const uint8_t* rgb) {
  for (int32_t i = 0; i < length; ++i) {
    if ((i / period) % 2) continue;
    Put(c, horizontal ? a.x + i : a.x, horizontal ? a.y : a.y + i, rgb);
  }
}

Rect ClientRect(const ViewContext& view, const Rect& r) {
  const Point a = view.ToClient(Point{r.left, r.top});
  const Point b = view.ToClient(Point{r.right, r.bottom});
  return Rect{a.x, a.y, b.x, b.y};
}

void PaintItem(const JoinItem& item, const ItemPicture& pic, const ViewContext& view, uint8_t alpha, ViewCanvas& c,
               Rect& drawn) {
  const Point origin = view.ToClient(Point{item.rect.left, item.rect.top});
  drawn = Intersect(ClientRect(view, item.visible), view.Drawing());
  drawn = Intersect(drawn, Rect{0, 0, c.Width(), c.Height()});
  for (int32_t y = drawn.top; y < drawn.bottom; ++y) {
    const int32_t ty = y - origin.y;
    if (ty < 0 || ty >= pic.height) continue;
    for (int32_t x = drawn.left; x < drawn.right; ++x) {
      const int32_t tx = x - origin.x;
      if (tx < 0 || tx >= pic.width) continue;
      const uint8_t* s = pic.rgb.data() + (static_cast<size_t>(ty) * pic.width + tx) * 3;
      uint8_t* d = c.Pixel(x, y);
      for (int k = 0; k < 3; ++k) d[k] = static_cast<uint8_t>((s[k] * alpha + d[k] * (255 - alpha)) / 255);
    }
  }
}

void PaintEdges(const JoinModel& model, const ViewContext& view, ViewCanvas& c) {
  const JoinItem& item = model.items[static_cast<size_t>(model.selected)];
  const uint8_t* colour = model.Mode() == kModeAlign && model.selected == 1 ? kRed : kBlue;
  const Rect r = ClientRect(view, item.Trimmed());
  const int32_t mx = (r.left + r.right) / 2;
  const int32_t my = (r.top + r.bottom) / 2;
  const bool all = model.Mode() != kModeFree;
  if (all || model.edgesShown[0]) {
    Dotted(c, Point{r.left, r.top}, r.Width(), true, 1, colour);
    Fill(c, Rect{mx - 4, r.top - 5, mx + 5, r.top + 4}, colour);
  }
  if (all || model.edgesShown[1]) {
    Dotted(c, Point{r.left, r.top}, r.Height(), false, 1, colour);
    Fill(c, Rect{r.left - 4, my - 4, r.left + 5, my + 5}, colour);
  }
  if (all || model.edgesShown[2]) {
    Dotted(c, Point{r.left, r.bottom}, r.Width(), true, 1, colour);
    Fill(c, Rect{mx - 4, r.bottom - 5, mx + 5, r.bottom + 4}, colour);
  }
  if (all || model.edgesShown[3]) {
    Dotted(c, Point{r.right, r.top}, r.Height(), false, 1, colour);
    Fill(c, Rect{r.right - 4, my - 4, r.right + 5, my + 5}, colour);
  }
}

// A point's marker: a square frame with its top-left at the point, A filled at its corner.
void PaintMarker(ViewCanvas& c, Point p, int32_t size, bool isA, const uint8_t* colour) {
  Frame(c, Rect{p.x, p.y, p.x + size, p.y + size}, 2, colour);
  Fill(c, Rect{p.x, p.y, p.x + (isA ? size / 2 : 4), p.y + (isA ? size / 2 : 4)}, colour);
}

}  // namespace

bool BuildItemPicture(ImageState* record, int32_t zoom, ItemPicture& out) {
  out = ItemPicture{};
  if (!record || zoom <= 0) return false;
  out.record = record;
  out.zoom = zoom;
  out.width = std::max<int32_t>(1, static_cast<int32_t>(static_cast<int64_t>(record->width) * 10000 / zoom));
  out.height = std::max<int32_t>(1, static_cast<int32_t>(static_cast<int64_t>(record->height) * 10000 / zoom));
  out.rgb.assign(static_cast<size_t>(out.width) * static_cast<size_t>(out.height) * 3, 255);
  const PixelRect saved = record->region;
  record->region = PixelRect{0, 0, record->width - 1, record->height - 1};
  LineReader reader(record);
  bool ok = OpenReadStream(&reader, kReadByNumber) == kReadOpenOk;
  std::vector<uint8_t> line(static_cast<size_t>(record->width) * 3);
  for (int32_t ty = 0; ok && ty < out.height; ++ty) {
    const auto row = static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(ty) * zoom / 10000, record->height - 1));
    if (ReadLines(&reader, line.data(), kReadByNumber, row) != 1) {
      ok = false;
      break;
    }
    uint8_t* d = out.rgb.data() + static_cast<size_t>(ty) * out.width * 3;
    for (int32_t tx = 0; tx < out.width; ++tx) {
      const auto col = std::min<int64_t>(static_cast<int64_t>(tx) * zoom / 10000, record->width - 1);
      std::memcpy(d + static_cast<size_t>(tx) * 3, line.data() + static_cast<size_t>(col) * 3, 3);
    }
  }
  if (reader.storedOpen || reader.decodeOpen) CloseReadStream(&reader);
  record->region = saved;
  return ok;
}

void PaintJoinCanvas(const JoinModel& model, const std::vector<ItemPicture>& pictures, const ViewContext& view,
                     const PaintOptions& options, ViewCanvas& c) {
  Fill(c, Rect{0, 0, c.Width(), c.Height()}, kBackground);
  if (!model.canvas.exists) return;
  const Rect canvasRect = Intersect(ClientRect(view, model.canvas.region), view.Drawing());
  const uint8_t white[3] = {255, 255, 255};
  Fill(c, canvasRect, white);
  const bool framed = model.Mode() != kModeFree;
  for (size_t i = 0; i < model.items.size() && i < pictures.size(); ++i) {
    const JoinItem& item = model.items[i];
    if (IsEmpty(item.visible)) continue;
    const bool blended = model.Mode() == kModeFree && static_cast<int>(i) == model.selected;
    Rect drawn;
    PaintItem(item, pictures[i], view, blended ? options.alpha : 255, c, drawn);
    if (framed && !IsEmpty(drawn)) Frame(c, Inflate(drawn, 2), 2, i == 1 ? kRed : kBlue);
  }
  if (model.selected >= 0 && model.selected < static_cast<int>(model.items.size())) PaintEdges(model, view, c);
  if (model.Mode() == kModeAlign || model.Mode() == kModeSeam) {
    PaintMarker(c, view.ToClient(model.points[kA0]), options.markerSize, true, kBlue);
    PaintMarker(c, view.ToClient(model.points[kB0]), options.markerSize, false, kBlue);
    if (model.Mode() == kModeAlign && model.items.size() > 1) {
      PaintMarker(c, view.ToClient(model.points[kA1]), options.markerSize, true, kRed);
      PaintMarker(c, view.ToClient(model.points[kB1]), options.markerSize, false, kRed);
    }
  }
  if (model.Mode() == kModeSeam) {
    for (const JoinItem& item : model.items) {
      const Rect r = ClientRect(view, item.rect);
      const Point top = view.ToClient(Point{model.points[kA1].x, item.rect.top});
      Dotted(c, Point{top.x, r.top}, r.Height(), false, 4, kBlue);
    }
  }
}

}  // namespace orb::join
