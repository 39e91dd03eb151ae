#include "tools/join/JoinModel.h"

#include <algorithm>
#include <cmath>

#include "engine/JoinSource.h"
#include "engine/ReadWrite/LineReader.h"
#include "tools/ToolViewHooks.h"
#include "tools/join/JoinRotate.h"

namespace orb::join {

Rect Intersect(const Rect& a, const Rect& b) {
  return Rect{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
}

bool IsEmpty(const Rect& r) { return r.right <= r.left || r.bottom <= r.top; }

Rect Inflate(const Rect& r, int32_t by) { return Rect{r.left - by, r.top - by, r.right + by, r.bottom + by}; }

bool Contains(const Rect& r, Point p) { return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom; }

namespace {

constexpr double kDegreesPerRadian = 57.29577951471995;

// Resolution as a divisor: a file that names none counts as 100 dpi.
int32_t Dpi(int32_t dpi) { return dpi > 0 ? dpi : 100; }

int32_t ScaleBy(int32_t v, double f) { return static_cast<int32_t>(v * f); }

}  // namespace

double DirectionAngle(Point a, Point b, int32_t canvasHeight) {
  const double ay = canvasHeight - a.y;
  const double by = canvasHeight - b.y;
  const double dx = b.x - a.x;
  const double dy = by - ay;
  const int q = GetDirectionCode(b.x, static_cast<int32_t>(by), a.x, static_cast<int32_t>(ay));
  switch (q) {
    case 1: return std::atan2(dy, dx) * kDegreesPerRadian;
    case 2: return 90 + std::atan2(-dx, dy) * kDegreesPerRadian;
    case 3: return 180 + std::atan2(-dy, -dx) * kDegreesPerRadian;
    case 4: return 270 + std::atan2(dx, -dy) * kDegreesPerRadian;
    default: return 0;
  }
}

JoinModel::~JoinModel() { Clear(); }

void JoinModel::Clear() {
  for (JoinItem& item : items) FreeImageChain(item.image);
  items.clear();
  selected = hovered = -1;
}

void JoinModel::MakeCanvas(const orb::JoinImagesRecord& settings) {
  if (!canvas.exists) {
    canvas.xDpi = canvas.yDpi = 100;
    selected = -1;
  }
  canvas.exists = true;
  canvas.height = static_cast<int32_t>(canvas.yDpi / 100.0 * std::max(settings.canvasHeight, 100));
  canvas.width = static_cast<int32_t>(canvas.xDpi / 100.0 * std::max(settings.canvasWidth, 100));
  canvas.region = Rect{0, 0, canvas.width, canvas.height};
}

bool JoinModel::AddItem(const std::string& path) {
  ImageState* image = NewImageState();
  image->sourcePath = path;
  {
    LineReader probe(image);
    if (ProbeJoinSource(&probe) != 0) {
      FreeImageChain(image);
      return false;
    }
  }
  // A sharper item raises the canvas to its resolution; the canvas keeps its size in
  // inches, so its pixels grow by the ratio of the new to the old resolution.
  if (image->xDpi > canvas.xDpi) {
    const double fx = static_cast<double>(image->xDpi) / Dpi(canvas.xDpi);
    const double fy = static_cast<double>(Dpi(image->yDpi)) / Dpi(canvas.yDpi);
    canvas.xDpi = image->xDpi;
    canvas.yDpi = Dpi(image->yDpi);
    canvas.width = ScaleBy(canvas.width, fx);
    canvas.height = ScaleBy(canvas.height, fy);
    canvas.region = Rect{ScaleBy(canvas.region.left, fx), ScaleBy(canvas.region.top, fy),
                         ScaleBy(canvas.region.right, fx), ScaleBy(canvas.region.bottom, fy)};
  }
  JoinItem item;
  item.image = image;
  const int32_t h = static_cast<int32_t>(static_cast<double>(Dpi(canvas.yDpi)) / Dpi(image->yDpi) * image->height);
  const int32_t w = static_cast<int32_t>(static_cast<double>(Dpi(canvas.xDpi)) / Dpi(image->xDpi) * image->width);
  item.rect.top = canvas.height / 2 - h / 2;
  item.rect.left = canvas.width / 2 - w / 2;
  item.rect.bottom = item.rect.top + h;
  item.rect.right = item.rect.left + w;
  PlacePoints(item.rect, items.empty() ? kA0 : kA1);
  items.push_back(item);
  selected = mode_ == kModeSeam ? -1 : static_cast<int>(items.size()) - 1;
  if (mode_ == kModeSeam && items.size() == 1) SeamToCentre();
  UpdateVisible();
  return true;
}

void JoinModel::PlacePoints(const Rect& r, int which) {
  const int32_t q = (r.bottom - r.top) / 4;
  const int32_t cx = r.left + (r.right - r.left) / 2;
  points[which] = Point{cx, r.top + q};
  points[which + 1] = Point{cx, r.top + 3 * q};
}

void JoinModel::SeamToCentre() {
  const Rect& r = items[0].rect;
  points[kA1] = Point{r.left + (r.right - r.left) / 2, r.top + (r.bottom - r.top) / 2};
}

bool JoinModel::SetMode(uint32_t mode) {
  if (mode > kModeSeam) return false;
  if (mode == kModeSeam && items.size() >= 2) return false;
  mode_ = mode;
  if (mode_ == kModeSeam && items.size() == 1) SeamToCentre();
  return true;
}

ButtonStates JoinModel::Buttons() const {
  ButtonStates b;
  if (!canvas.exists) return b;
  const size_t n = items.size();
  switch (mode_) {
    case kModeFree:
      b.add = true;
      b.join = n > 1;
      break;
    case kModeAlign:
      b.add = n != 2;
      b.join = n == 2;
      break;
    default:
      b.add = n == 0;
      b.join = n == 1;
      break;
  }
  return b;
}

int JoinModel::HitPoint(Point c, const HitContext& hc) const {
  const int32_t w = hc.ScreenToCanvas(hc.markerWidth);
  const int32_t h = hc.ScreenToCanvas(hc.markerHeight);
  int last = -1;
  if (mode_ == kModeAlign) last = items.size() > 1 ? kB1 : kB0;
  if (mode_ == kModeSeam) last = kB0;
  for (int i = 0; i <= last; ++i) {
    const Rect area{points[i].x - 2, points[i].y - 2, points[i].x + w + 3, points[i].y + h + 3};
    if (Contains(area, c)) return i;
  }
  return -1;
}

bool JoinModel::HitSeam(Point c, const HitContext& hc) const {
  if (mode_ != kModeSeam || items.empty()) return false;
  const int32_t w = hc.ScreenToCanvas(8);
  const int32_t x0 = points[kA1].x - w / 2 - 2;
  const Rect& r = items[0].rect;
  return c.x >= x0 && c.x <= x0 + w + 4 && c.y >= r.top - 2 && c.y <= r.bottom + 2;
}

int JoinModel::HitEdge(const JoinItem& item, Point c, const HitContext& hc) const {
  const Rect t = item.Trimmed();
  const int32_t e = hc.ScreenToCanvas(6);
  const bool inX = c.x >= t.left - 2 && c.x <= t.right + 2;
  const bool inY = c.y >= t.top - 2 && c.y <= t.bottom + 2;
  int edge = kEdgeNone;
  if (inX && std::abs(c.y - t.top) <= e) edge = kEdgeTop;
  if (inY && std::abs(c.x - t.left) <= e) edge = kEdgeLeft;
  if (inX && std::abs(c.y - t.bottom) <= e) edge = kEdgeBottom;
  if (inY && std::abs(c.x - t.right) <= e) edge = kEdgeRight;
  return edge;
}

uint16_t JoinModel::HitTest(Point c, const HitContext& hc) {
  if (items.empty()) return cursor::None;
  if (HitPoint(c, hc) >= 0) return cursor::SizeAll;
  if (HitSeam(c, hc)) return cursor::SizeWE;
  uint16_t result = cursor::None;
  const int32_t m = hc.ScreenToCanvas(4);
  for (size_t i = 0; i < items.size(); ++i) {
    const JoinItem& item = items[i];
    if (!Contains(Inflate(item.rect, m + 2), c)) continue;
    const bool isSelected = static_cast<int>(i) == selected;
    if (Contains(Inflate(item.Trimmed(), 2), c)) {
      hovered = static_cast<int>(i);
      result = isSelected ? cursor::JoinSelected : cursor::JoinItem;
    }
    if (isSelected) {
      const int edge = HitEdge(item, c, hc);
      if (edge == kEdgeTop || edge == kEdgeBottom) result = cursor::SizeNS;
      if (edge == kEdgeLeft || edge == kEdgeRight) result = cursor::SizeWE;
    }
  }
  return result;
}

uint16_t JoinModel::ButtonDown(Point c, const HitContext& hc) {
  grabbedPoint_ = -1;
  grabbedEdge_ = kEdgeNone;
  const int p = HitPoint(c, hc);
  if (p >= 0 || HitSeam(c, hc)) {
    grabbedPoint_ = p >= 0 ? p : kA1;
    last_ = c;
    return drag::JoinPoint;
  }
  if (selected < 0 || selected >= static_cast<int>(items.size())) return drag::None;
  const JoinItem& item = items[static_cast<size_t>(selected)];
  if (!Contains(Inflate(item.rect, hc.ScreenToCanvas(4) + 2), c)) return drag::None;
  last_ = c;
  uint16_t result = drag::None;
  if (Contains(Inflate(item.Trimmed(), 2), c)) result = drag::JoinItem;
  const int edge = HitEdge(item, c, hc);
  if (edge != kEdgeNone) {
    grabbedEdge_ = edge;
    edgesShown[edge - 1] = true;
    result = drag::JoinEdge;
  }
  return result;
}

void JoinModel::MoveSelected(int32_t dx, int32_t dy) {
  JoinItem& item = items[static_cast<size_t>(selected)];
  const ImageState* newest = item.Newest();
  const Rect before = item.rect;
  item.rect.left = std::max(0, item.rect.left + dx);
  item.rect.top = std::max(0, item.rect.top + dy);
  item.rect.right = item.rect.left + newest->width;
  item.rect.bottom = item.rect.top + newest->height;
  if (item.rect.bottom >= canvas.height) {
    item.rect.top = std::max(0, canvas.height - newest->height - 1);
    item.rect.bottom = item.rect.top + newest->height;
  }
  if (item.rect.right >= canvas.width) {
    item.rect.left = std::max(0, canvas.width - newest->width - 1);
    item.rect.right = item.rect.left + newest->width;
  }
  // The points stay on the features they mark: they move as far as the item did.
  const int32_t mx = item.rect.left - before.left;
  const int32_t my = item.rect.top - before.top;
  item.visible.left += mx;
  item.visible.top += my;
  if (selected <= 1) {
    const int base = ItemPointBase(selected);
    if (mode_ == kModeSeam && selected == 0) {
      points[kA1].x += mx;
    }
    for (int i = base; i < base + 2; ++i) points[i] = Point{points[i].x + mx, points[i].y + my};
  }
}

void JoinModel::Drag(uint16_t mode, Point c) {
  const int32_t dx = c.x - last_.x;
  const int32_t dy = c.y - last_.y;
  last_ = c;
  if (mode == drag::JoinPoint) {
    selected = -1;
    if (grabbedPoint_ < 0) return;
    Point& p = points[static_cast<size_t>(grabbedPoint_)];
    p = Point{std::max(0, p.x + dx), std::max(0, p.y + dy)};
    return;
  }
  if (selected < 0 || selected >= static_cast<int>(items.size())) return;
  if (mode == drag::JoinItem) {
    MoveSelected(dx, dy);
  } else if (mode == drag::JoinEdge) {
    JoinItem& item = items[static_cast<size_t>(selected)];
    Trim& t = item.trim;
    const int32_t w = item.rect.Width();
    const int32_t h = item.rect.Height();
    // Each trim stays at least 0 and the trimmed rectangle keeps at least one pixel.
    switch (grabbedEdge_) {
      case kEdgeTop: t.top = std::clamp(t.top + dy, 0, std::max(0, h - t.bottom - 1)); break;
      case kEdgeLeft: t.left = std::clamp(t.left + dx, 0, std::max(0, w - t.right - 1)); break;
      case kEdgeBottom: t.bottom = std::clamp(t.bottom - dy, 0, std::max(0, h - t.top - 1)); break;
      case kEdgeRight: t.right = std::clamp(t.right - dx, 0, std::max(0, w - t.left - 1)); break;
      default: break;
    }
  }
  UpdateVisible();
}

void JoinModel::RemoveHovered() {
  if (hovered < 0 || hovered >= static_cast<int>(items.size())) return;
  FreeImageChain(items[static_cast<size_t>(hovered)].image);
  items.erase(items.begin() + hovered);
  if (selected == hovered) {
    selected = -1;
  } else if (selected > hovered) {
    --selected;
  }
  hovered = -1;
}

void JoinModel::SelectHovered() {
  if (hovered >= 0 && hovered < static_cast<int>(items.size())) selected = hovered;
}

void JoinModel::SetAlignPointOnHovered(bool first) {
  if (hovered < 0 || hovered >= static_cast<int>(items.size())) return;
  const Rect& v = items[static_cast<size_t>(hovered)].visible;
  points[ItemPointBase(hovered) + (first ? 0 : 1)] = Point{v.left + v.Width() / 2, v.top + v.Height() / 2};
}

void JoinModel::Nudge(int32_t dx, int32_t dy) {
  if (selected < 0 || selected >= static_cast<int>(items.size())) return;
  JoinItem& item = items[static_cast<size_t>(selected)];
  const ImageState* newest = item.Newest();
  const Rect before = item.rect;
  item.rect.left = std::max(0, item.rect.left + dx);
  item.rect.top = std::max(0, item.rect.top + dy);
  item.rect.right = item.rect.left + newest->width;
  item.rect.bottom = item.rect.top + newest->height;
  if (selected <= 1) {
    const int base = ItemPointBase(selected);
    for (int i = base; i < base + 2; ++i) {
      points[i].x += item.rect.left - before.left;
      points[i].y += item.rect.top - before.top;
    }
  }
  UpdateVisible();
}

void JoinModel::UpdateVisible() {
  for (JoinItem& item : items) item.visible = Intersect(item.Trimmed(), canvas.region);
}

Rect JoinModel::OutputExtent(bool cropToItems) const {
  const Rect whole{0, 0, canvas.width, canvas.height};
  if (!cropToItems) return whole;
  Rect u{999999, 999999, 0, 0};
  for (const JoinItem& item : items) {
    const Rect t = item.Trimmed();
    u = Rect{std::min(u.left, t.left), std::min(u.top, t.top), std::max(u.right, t.right),
             std::max(u.bottom, t.bottom)};
  }
  // Only what lies on the canvas is joined.
  return Intersect(u, whole);
}

AlignAngle JoinModel::ComputeAlignAngle() const {
  const double a0 = DirectionAngle(points[kA0], points[kB0], canvas.height);
  const double a1 = DirectionAngle(points[kA1], points[kB1], canvas.height);
  // The counter-clockwise turn (y up) that takes item 1's line onto item 0's, the short
  // way round: a difference beyond half a turn is the same turn the other way.
  double turn = a0 - a1;
  if (turn > 180) turn -= 360;
  if (turn <= -180) turn += 360;
  return AlignAngle{std::fabs(turn), static_cast<uint8_t>(turn > 0 ? 1 : 0)};
}

bool JoinModel::RotateItems() {
  if (items.size() < 2) return false;
  selected = 1;
  JoinItem& item = items[1];
  const AlignAngle a = ComputeAlignAngle();
  if (a.angle > 0.05) {
    ImageState* source = item.Newest();
    const int32_t oldW = source->width;
    const int32_t oldH = source->height;
    Point tracked[2] = {Point{points[kA1].x - item.rect.left, points[kA1].y - item.rect.top},
                        Point{points[kB1].x - item.rect.left, points[kB1].y - item.rect.top}};
    ImageState* turned = RotateRgbRecord(source, a.angle, a.direction, tracked, 2);
    if (!turned) return false;
    item.rect.right = item.rect.left + turned->width;
    item.rect.bottom = item.rect.top + turned->height;
    // The turn's white corners are trimmed away, so that they do not cover item 0.
    const int32_t gw = std::max(0, turned->width - oldW);
    const int32_t gh = std::max(0, turned->height - oldH);
    const int32_t w = item.rect.Width();
    const int32_t h = item.rect.Height();
    item.trim.left = std::min(item.trim.left + gw, w - 1);
    item.trim.right = std::clamp(item.trim.right + gw, 0, w - item.trim.left - 1);
    item.trim.top = std::min(item.trim.top + gh, h - 1);
    item.trim.bottom = std::clamp(item.trim.bottom + gh, 0, h - item.trim.top - 1);
    points[kA1] = Point{tracked[0].x + item.rect.left, tracked[0].y + item.rect.top};
    points[kB1] = Point{tracked[1].x + item.rect.left, tracked[1].y + item.rect.top};
  }
  const int32_t dx = points[kA0].x - points[kA1].x;
  const int32_t dy = points[kA0].y - points[kA1].y;
  const ImageState* newest = item.Newest();
  item.rect.left += dx;
  item.rect.top += dy;
  item.rect.right = item.rect.left + newest->width;
  item.rect.bottom = item.rect.top + newest->height;
  points[kA1] = Point{points[kA1].x + dx, points[kA1].y + dy};
  points[kB1] = Point{points[kB1].x + dx, points[kB1].y + dy};
  UpdateVisible();
  return true;
}

}  // namespace orb::join
