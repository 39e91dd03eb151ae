#include "tools/transform/Crop.h"

#include <algorithm>
#include <vector>

#include "engine/EngineHost.h"
#include "tools/ToolTable.h"

namespace orb::tools {
namespace {

constexpr int kCaptionCrop = 33042;

}  // namespace

CropRect DefaultCropRect(const PixelRect& region) {
  const int32_t w = region.right - region.left, h = region.bottom - region.top;
  return {region.left + w / 4, region.top + h / 4, w / 2, h / 2};
}

CropRect CropTaken(const CropRect& r, int32_t width, int32_t height) {
  // The part of the rectangle asked for that lies inside the image.
  const int64_t left = std::max<int64_t>(r.x, 0), top = std::max<int64_t>(r.y, 0);
  const int64_t right = std::min<int64_t>(static_cast<int64_t>(r.x) + std::max(r.w, 0), width);
  const int64_t bottom = std::min<int64_t>(static_cast<int64_t>(r.y) + std::max(r.h, 0), height);
  if (right <= left || bottom <= top) return CropRect{};
  CropRect t{static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(right - left),
             static_cast<int32_t>(bottom - top)};
  // Widths are kept to multiples of 8 where the line has the columns.
  t.w = std::min((t.w + 7) / 8 * 8, width - t.x);
  return t;
}

ApplyOutcome CropImage(ImageState* working, const CropRect& r, const ApplyProgressFactory& factory) {
  if (!working || working->width <= 0 || working->height <= 0) return {ApplyResult::NoImage, working};
  const CropRect t = CropTaken(r, working->width, working->height);
  if (t.w <= 0 || t.h <= 0) return {ApplyResult::NoImage, working};
  CancelFlag = 0;
  NewVersion out(working);
  VersionShape shape{GeometryResultKind(*working, nullptr), t.w, t.h, 0};
  ApplyResult res = out.Begin(shape);
  if (res == ApplyResult::Applied && shape.kind == IK_BW_SAVED_AS_4) out.Image()->edited = 1;
  if (res == ApplyResult::Applied) res = out.StartOutput();
  const int32_t px = StreamPixelBytes(working->kind);
  std::vector<uint8_t> in, line;
  if (res == ApplyResult::Applied &&
      (!TryAllocate(in, static_cast<size_t>(working->storedLineWidth)) ||
       !TryAllocate(line, out.LineBytes(), WhiteIndex(*working))))
    res = out.FailWrite();
  SourceLines lines(working);
  if (res == ApplyResult::Applied && !lines.Open()) res = out.Fail(kMsgApplyReadFailed, working->sourcePath);
  RunProgress progress(factory, kCaptionCrop, t.h);
  for (int32_t y = 0; res == ApplyResult::Applied && y < t.h; ++y) {
    if (PumpAndCheckCancel()) {
      res = ApplyResult::Cancelled;
      break;
    }
    if (!lines.SkipTo(t.y + y, in.data())) {
      res = out.Fail(kMsgApplyReadFailed, working->sourcePath);
      break;
    }
    std::copy_n(in.data() + static_cast<size_t>(t.x) * static_cast<size_t>(px),
                static_cast<size_t>(t.w) * static_cast<size_t>(px), line.data());
    res = out.Write(line.data(), 1);
    progress.Step();
  }
  lines.Close();
  if (res == ApplyResult::Applied) res = out.Keep(kOpCrop);
  if (res != ApplyResult::Applied) return {res, working};
  return {ApplyResult::Applied, out.Image()};
}

int CropActiveImage(const CropRect& r) {
  return ApplyTransformToActive(
      [r](ImageState* s, const ApplyProgressFactory& p) { return CropImage(s, r, p); }, nullptr);
}

// ----- hooks

CropRect CropHooks::Current(const ImageState& image) {
  if (rect_.Empty()) rect_ = DefaultCropRect(image.region);
  return rect_;
}

bool CropHooks::IsShowing(const ViewContext& view) const { return showing_ && view.image != nullptr; }

CropHooks::Screen CropHooks::OnScreen(const ViewContext& view) const {
  Screen s{};
  const Point a = view.ToClient(Point{rect_.x, rect_.y});
  const int64_t zoom = std::max(view.Zoom(), 1);
  s.sx = a.x;
  s.sy = a.y;
  s.sw = static_cast<int32_t>(static_cast<int64_t>(rect_.w) * 10000 / zoom);
  s.sh = static_cast<int32_t>(static_cast<int64_t>(rect_.h) * 10000 / zoom);
  s.sx2 = s.sx + s.sw;
  s.sy2 = s.sy + s.sh;
  return s;
}

bool CropHooks::Inside(Point i) const {
  return i.x >= rect_.x - 2 && i.x <= rect_.x + rect_.w + 2 && i.y >= rect_.y - 2 && i.y <= rect_.y + rect_.h + 2;
}

bool CropHooks::Zone(const Screen& s, Point c, int handle) const {
  auto in = [](int32_t v, int32_t lo, int32_t hi) { return v >= lo && v <= hi; };
  const bool left = in(c.x, s.sx - 2, s.sx + 11), right = in(c.x, s.sx2 - 11, s.sx2 + 2);
  const bool midX = in(c.x, s.sx + s.sw / 2 - 6, s.sx + s.sw / 2 + 6);
  const bool top = in(c.y, s.sy - 2, s.sy + 11), bottom = in(c.y, s.sy2 - 11, s.sy2 + 2);
  const bool midY = in(c.y, s.sy + s.sh / 2 - 6, s.sy + s.sh / 2 + 6);
  switch (handle) {
    case 1: return left && top;
    case 2: return left && midY;
    case 3: return left && bottom;
    case 4: return midX && bottom;
    case 5: return right && bottom;
    case 6: return right && midY;
    case 7: return right && top;
    case 8: return midX && top;
    default: return false;
  }
}

uint16_t CropHooks::HitTest(const ViewContext& view, Point p) {
  if (!view.image) return cursor::None;
  Current(*view.image);
  if (!Inside(view.ToImage(p))) return cursor::None;
  static constexpr uint16_t kCursors[9] = {cursor::SizeAll, cursor::SizeNWSE, cursor::SizeWE,
                                           cursor::SizeNESW, cursor::SizeNS,  cursor::SizeNWSE,
                                           cursor::SizeWE,  cursor::SizeNESW, cursor::SizeNS};
  const Screen s = OnScreen(view);
  for (int h = 1; h <= 8; ++h) {
    if (Zone(s, p, h)) return kCursors[h];
  }
  return cursor::SizeAll;
}

uint16_t CropHooks::OnButtonDown(const ViewContext& view, Point p) {
  grabbed_ = kNone;
  if (!view.image) return drag::None;
  Current(*view.image);
  last_ = view.ToImage(p);
  if (!Inside(last_)) return drag::None;
  grabbed_ = kInside;
  const Screen s = OnScreen(view);
  // A later zone wins where zones overlap.
  for (int h = 1; h <= 8; ++h) {
    if (Zone(s, p, h)) grabbed_ = h;
  }
  return grabbed_ == kInside ? drag::Move : drag::Resize;
}

void CropHooks::Resize(const ImageState& image, int32_t dx, int32_t dy) {
  CropRect n = rect_;
  switch (grabbed_) {
    case 1: n.x += dx, n.w -= dx, n.y += dy, n.h -= dy; break;
    case 2: n.x += dx, n.w -= dx; break;
    case 3: n.x += dx, n.w -= dx, n.h += dy; break;
    case 4: n.h += dy; break;
    case 5: n.w += dx, n.h += dy; break;
    case 6: n.w += dx; break;
    case 7: n.w += dx, n.y += dy, n.h -= dy; break;
    case 8: n.y += dy, n.h -= dy; break;
    default: return;
  }
  if (n.w < 3 || n.h < 3) return;
  // A handle pulled past the image's left or top edge shrinks the rectangle there.
  if (n.x < 0) n.w += n.x, n.x = 0;
  if (n.y < 0) n.h += n.y, n.y = 0;
  if (n.x + n.w >= image.width - 1) n.w = image.width - n.x - 1;
  if (n.y + n.h >= image.height - 1) n.h = image.height - n.y - 1;
  if (n.w < 1 || n.h < 1) return;
  rect_ = n;
}

void CropHooks::Move(const ImageState& image, int32_t dx, int32_t dy) {
  CropRect n = rect_;
  n.x = std::max(n.x + dx, 0);
  n.y = std::max(n.y + dy, 0);
  if (n.y + n.h >= image.height) n.y = std::max(image.height - n.h - 1, 0);
  if (n.x + n.w >= image.width) n.x = std::max(image.width - n.w - 1, 0);
  rect_ = n;
}

void CropHooks::OnDrag(const ViewContext& view, uint16_t mode, Point p) {
  if (!view.image || grabbed_ == kNone) return;
  const Point i = view.ToImage(p);
  if (mode == drag::Resize) Resize(*view.image, i.x - last_.x, i.y - last_.y);
  if (mode == drag::Move) Move(*view.image, i.x - last_.x, i.y - last_.y);
  last_ = i;
}

void CropHooks::Paint(const ViewContext& view, ViewCanvas& canvas) {
  if (!view.image) return;
  Current(*view.image);
  const Screen s = OnScreen(view);
  canvas.InvertFrame(Rect{s.sx, s.sy, s.sx2 + 1, s.sy2 + 1}, 1);
  const int32_t cx = s.sx + s.sw / 2, cy = s.sy + s.sh / 2;
  const Rect handles[8] = {
      {s.sx, s.sy, s.sx + 9, s.sy + 9},           {s.sx, cy - 4, s.sx + 9, cy + 4},
      {s.sx, s.sy2 - 9, s.sx + 9, s.sy2},         {cx - 4, s.sy2 - 9, cx + 4, s.sy2},
      {s.sx2 - 9, s.sy2 - 9, s.sx2, s.sy2},       {s.sx2 - 9, cy - 4, s.sx2, cy + 4},
      {s.sx2 - 9, s.sy, s.sx2, s.sy + 9},         {cx - 4, s.sy, cx + 4, s.sy + 9},
  };
  for (const Rect& h : handles) canvas.InvertRect(h);
}

}  // namespace orb::tools
