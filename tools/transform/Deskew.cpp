#include "tools/transform/Deskew.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/EngineHost.h"
#include "tools/ToolTable.h"

namespace orb::tools {
namespace {

constexpr int kCaptionDeskew = 33044;
constexpr double kDegree = 0.017453292519943295;
constexpr int32_t kBandRows = 64;

class DeskewRun {
 public:
  DeskewRun(ImageState* source, double degrees) : src_(source), out_(source), degrees_(degrees) {}
  ApplyOutcome Run(const ApplyProgressFactory& factory);

 private:
  ApplyResult Rotate(RunProgress& progress);
  // Source rows (top-down) that result rows [ya, yb) reach, clamped to the image.
  void RowsOf(int32_t ya, int32_t yb, int64_t* first, int64_t* last) const;
  bool LoadTo(int64_t last);
  const uint8_t* Row(int64_t r) const { return ring_.data() + static_cast<size_t>(r % cap_) * lineBytes_; }
  void RenderRow(int32_t y, uint8_t* dst) const;

  ImageState* src_;
  NewVersion out_;
  double degrees_;
  DeskewGeometry g_{};
  SourceLines* in_ = nullptr;
  std::vector<uint8_t> ring_;
  int64_t cap_ = 1;
  int64_t loaded_ = 0;  // source rows read so far
  size_t lineBytes_ = 0;
  int32_t px_ = 1;
  uint8_t white_ = 255;
};

void DeskewRun::RowsOf(int32_t ya, int32_t yb, int64_t* first, int64_t* last) const {
  double lo = 1e300, hi = -1e300;
  for (int32_t y : {ya, yb - 1}) {
    const double yy = g_.y0 + g_.height - 1 - y;
    for (double xx : {g_.x0, g_.x0 + g_.width - 1}) {
      const double sy = yy * g_.c - xx * g_.s;
      lo = std::min(lo, sy);
      hi = std::max(hi, sy);
    }
  }
  const int64_t h = src_->height;
  *first = std::clamp<int64_t>(h - 1 - static_cast<int64_t>(std::floor(hi)) - 1, 0, h - 1);
  *last = std::clamp<int64_t>(h - 1 - static_cast<int64_t>(std::floor(lo)) + 1, 0, h - 1);
}

bool DeskewRun::LoadTo(int64_t last) {
  while (loaded_ <= last) {
    if (!in_->Next(ring_.data() + static_cast<size_t>(loaded_ % cap_) * lineBytes_)) return false;
    ++loaded_;
  }
  return true;
}

void DeskewRun::RenderRow(int32_t y, uint8_t* dst) const {
  const int32_t w = src_->width, h = src_->height;
  const double yy = g_.y0 + g_.height - 1 - y;
  const double ys = yy * g_.s, yc = yy * g_.c;
  for (int32_t x = 0; x < g_.width; ++x) {
    const double xx = g_.x0 + x;
    const double vx = xx * g_.c + ys;
    const double vy = yc - xx * g_.s;
    // Negative positions are outside (a cast would round them up to 0).
    if (vx < 0 || vy < 0) continue;
    const auto sx = static_cast<int64_t>(vx), sy = static_cast<int64_t>(vy);
    if (sx >= w || sy >= h) continue;
    const uint8_t* p = Row(h - 1 - sy) + sx * px_;
    uint8_t* d = dst + static_cast<size_t>(x) * static_cast<size_t>(px_);
    if (px_ == 3) {
      d[0] = p[0];
      d[1] = p[1];
      d[2] = p[2];
    } else {
      *d = *p;
    }
  }
}

ApplyResult DeskewRun::Rotate(RunProgress& progress) {
  const size_t outBytes = out_.LineBytes();
  // The rows a band reaches: its own height turned, plus the width's slope.
  const double span = (kBandRows - 1) * g_.c + (g_.width - 1) * std::fabs(g_.s);
  cap_ = static_cast<int64_t>(std::ceil(span)) + 4;
  cap_ = std::min<int64_t>(cap_, src_->height);
  std::vector<uint8_t> band;
  if (!TryAllocate(ring_, static_cast<size_t>(cap_) * lineBytes_) ||
      !TryAllocate(band, outBytes * kBandRows, white_))
    return out_.FailWrite();
  SourceLines in(src_);
  in_ = &in;
  if (!in.Open()) return out_.Fail(kMsgApplyReadFailed, src_->sourcePath);
  for (int32_t ya = 0; ya < g_.height; ya += kBandRows) {
    const int32_t yb = std::min(g_.height, ya + kBandRows);
    int64_t first = 0, last = 0;
    RowsOf(ya, yb, &first, &last);
    if (!LoadTo(last)) return out_.Fail(kMsgApplyReadFailed, src_->sourcePath);
    std::memset(band.data(), white_, band.size());
    for (int32_t y = ya; y < yb; ++y) {
      if (PumpAndCheckCancel()) return ApplyResult::Cancelled;
      RenderRow(y, band.data() + static_cast<size_t>(y - ya) * outBytes);
    }
    const ApplyResult w = out_.Write(band.data(), yb - ya);
    if (w != ApplyResult::Applied) return w;
    progress.Step(yb - ya);
  }
  return ApplyResult::Applied;
}

ApplyOutcome DeskewRun::Run(const ApplyProgressFactory& factory) {
  g_ = DeskewSize(src_->width, src_->height, degrees_);
  px_ = StreamPixelBytes(src_->kind);
  lineBytes_ = static_cast<size_t>(std::max(src_->storedLineWidth, 1));
  white_ = WhiteIndex(*src_);
  VersionShape shape{GeometryResultKind(*src_, nullptr), g_.width, g_.height, 0};
  ApplyResult r = out_.Begin(shape);
  if (r == ApplyResult::Applied && shape.kind == IK_BW_SAVED_AS_4) out_.Image()->edited = 1;
  if (r == ApplyResult::Applied) r = out_.StartOutput();
  RunProgress progress(factory, kCaptionDeskew, g_.height);
  if (r == ApplyResult::Applied) r = Rotate(progress);
  if (r == ApplyResult::Applied) r = out_.Keep(kOpDeskew);
  if (r != ApplyResult::Applied) return {r, src_};
  return {ApplyResult::Applied, out_.Image()};
}

// ----- measuring

// Ink of the image reduced by `f` in both directions: the dark pixels of each cell.
bool ReduceInk(ImageState* image, int32_t f, std::vector<uint16_t>& ink, int32_t* rw, int32_t* rh) {
  const int32_t w = image->width, h = image->height, px = StreamPixelBytes(image->kind);
  *rw = (w + f - 1) / f;
  *rh = (h + f - 1) / f;
  try {
    ink.assign(static_cast<size_t>(*rw) * static_cast<size_t>(*rh), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  // Palette images: dark by the palette entry's brightness.
  uint8_t dark[256];
  for (int i = 0; i < 256; ++i) {
    int v = i;
    if (IsPaletteKind(image->kind)) {
      const PaletteEntry& e = image->palette[static_cast<size_t>(i)];
      v = ((e.red & 0xFF) + (e.green & 0xFF) + (e.blue & 0xFF)) / 3;
    }
    dark[i] = v < 128 ? 1 : 0;
  }
  std::vector<uint8_t> line(static_cast<size_t>(std::max(image->storedLineWidth, 1)));
  SourceLines in(image);
  if (!in.Open()) return false;
  for (int32_t y = 0; y < h; ++y) {
    if (!in.Next(line.data())) return false;
    uint16_t* row = ink.data() + static_cast<size_t>(y / f) * static_cast<size_t>(*rw);
    for (int32_t x = 0; x < w; ++x) {
      const uint8_t* p = line.data() + static_cast<size_t>(x) * static_cast<size_t>(px);
      const int v = px == 3 ? (p[0] + 2 * p[1] + p[2]) / 4 : p[0];
      row[x / f] = static_cast<uint16_t>(row[x / f] + (px == 3 ? (v < 128) : dark[v]));
    }
  }
  return true;
}

struct InkPoint {
  float x, y, v;
};

// Sharpness of the row profile of the ink sheared by tan(a): sum of the squared bins.
double ProfileScore(const std::vector<InkPoint>& pts, double a, int32_t rows, std::vector<double>& bins) {
  const double t = std::tan(a);
  std::fill(bins.begin(), bins.end(), 0.0);
  const double off = static_cast<double>(bins.size() - static_cast<size_t>(rows)) / 2;
  for (const InkPoint& p : pts) {
    const double r = p.y + p.x * t + off;
    const double fl = std::floor(r);
    const auto i = static_cast<int64_t>(fl);
    if (i < 0 || i + 1 >= static_cast<int64_t>(bins.size())) continue;
    const double frac = r - fl;
    bins[static_cast<size_t>(i)] += p.v * (1 - frac);
    bins[static_cast<size_t>(i) + 1] += p.v * frac;
  }
  double sum = 0;
  for (size_t i = 1; i < bins.size(); ++i) {
    const double d = bins[i] - bins[i - 1];
    sum += d * d;
  }
  return sum;
}

}  // namespace

DeskewAngle AngleFromLine(LinePoint a, LinePoint b, DeskewAngle previous) {
  const double dx = b.x - a.x;
  const double dy = a.y - b.y;  // y upwards
  if (dx == 0 || dy == 0) return previous;
  double d;
  if (dx > 0 && dy > 0) {
    d = std::atan2(dy, dx);
  } else if (dx < 0 && dy > 0) {
    d = std::atan2(-dx, dy);
  } else if (dx < 0 && dy < 0) {
    d = std::atan2(-dy, -dx);
  } else {
    d = std::atan2(dx, -dy);
  }
  d *= 57.29577951471995;
  // A line at 45 degrees has no nearer axis (the degrees may miss 45 by a rounding).
  if (std::fabs(d - 45) < 1e-6) return previous;
  if (d > 0 && d < 45) return {d, 0};
  if (d > 45 && d < 90) return {90 - d, 1};
  return previous;
}

double SignedDeskewAngle(const DeskewAngle& a) { return a.flag == 0 ? -a.angle : a.angle; }

DeskewGeometry DeskewSize(int32_t width, int32_t height, double signedDegrees) {
  DeskewGeometry g;
  const double th = signedDegrees * kDegree;
  g.c = std::cos(th);
  g.s = std::sin(th);
  const double w = width, h = height;
  const double xs[4] = {0, w * g.c, -h * g.s, w * g.c - h * g.s};
  const double ys[4] = {0, w * g.s, h * g.c, w * g.s + h * g.c};
  const double minX = *std::min_element(xs, xs + 4), maxX = *std::max_element(xs, xs + 4);
  const double minY = *std::min_element(ys, ys + 4), maxY = *std::max_element(ys, ys + 4);
  // A hair's tolerance, so that 90 x cos(0) is not taken for more than 90.
  const auto w1 = static_cast<int32_t>(std::ceil(maxX - minX - 1e-9));
  g.width = (std::max(w1, 1) + 7) / 8 * 8;
  g.height = std::max(static_cast<int32_t>(std::ceil(maxY - minY - 1e-9)), 1);
  g.x0 = std::trunc(minX);
  g.y0 = std::trunc(minY);
  return g;
}

bool DeskewSourcePixel(const DeskewGeometry& g, int32_t width, int32_t height, int32_t x, int32_t y, int32_t* sx,
                       int32_t* sy) {
  const double yy = g.y0 + g.height - 1 - y;
  const double xx = g.x0 + x;
  const auto fx = static_cast<int64_t>(std::floor(xx * g.c + yy * g.s));
  const auto fy = static_cast<int64_t>(std::floor(yy * g.c - xx * g.s));
  if (fx < 0 || fx >= width || fy < 0 || fy >= height) return false;
  *sx = static_cast<int32_t>(fx);
  *sy = static_cast<int32_t>(height - 1 - fy);
  return true;
}

ApplyOutcome DeskewImage(ImageState* working, const DeskewAngle& angle, const ApplyProgressFactory& progress) {
  if (!working || working->width <= 0 || working->height <= 0) return {ApplyResult::NoImage, working};
  if (!(std::fabs(angle.angle) > 0) || !(std::fabs(angle.angle) <= 45)) return {ApplyResult::NoImage, working};
  CancelFlag = 0;
  DeskewRun run(working, SignedDeskewAngle(angle));
  return run.Run(progress);
}

bool MeasureSkew(ImageState* working, double maxDegrees, DeskewAngle* out) {
  if (!working || working->width <= 0 || working->height <= 0 || !out) return false;
  const int32_t f = std::max(1, (std::max(working->width, working->height) + 1999) / 2000);
  std::vector<uint16_t> ink;
  int32_t rw = 0, rh = 0;
  if (!ReduceInk(working, f, ink, &rw, &rh)) return false;
  std::vector<InkPoint> pts;
  for (int32_t y = 0; y < rh; ++y) {
    for (int32_t x = 0; x < rw; ++x) {
      const uint16_t v = ink[static_cast<size_t>(y) * static_cast<size_t>(rw) + static_cast<size_t>(x)];
      if (v) pts.push_back({static_cast<float>(x), static_cast<float>(y), static_cast<float>(v)});
    }
  }
  if (pts.empty()) return false;
  const double lim = std::clamp(maxDegrees, 0.1, 45.0) * kDegree;
  const int32_t margin = static_cast<int32_t>(std::ceil(rw * std::tan(lim))) + 2;
  std::vector<double> bins(static_cast<size_t>(rh + 2 * margin + 2));
  // Coarse steps of 0.1 degree on every fourth inked cell (enough for the profile's
  // shape), then 0.01 and 0.001 degree around the best on all of them.
  std::vector<InkPoint> sparse;
  for (size_t i = 0; i < pts.size(); i += 4) sparse.push_back(pts[i]);
  double best = 0, bestScore = -1;
  double step = 0.1 * kDegree;
  double lo = -lim, hi = lim;
  for (int pass = 0; pass < 3; ++pass) {
    const std::vector<InkPoint>& use = pass == 0 ? sparse : pts;
    bestScore = -1;
    for (double a = lo; a <= hi + step / 2; a += step) {
      const double s = ProfileScore(use, a, rh, bins);
      if (s > bestScore) {
        bestScore = s;
        best = a;
      }
    }
    lo = best - step;
    hi = best + step;
    step /= 10;
  }
  // The ink's rows rise to the right by `best` when it is positive.
  const double deg = best / kDegree;
  *out = deg >= 0 ? DeskewAngle{deg, 0} : DeskewAngle{-deg, 1};
  return true;
}

int DeskewActiveImage(const DeskewAngle& angle) {
  return ApplyTransformToActive(
      [angle](ImageState* s, const ApplyProgressFactory& p) { return DeskewImage(s, angle, p); },
      nullptr);
}

// ----- the reference line

void DeskewHooks::ResetLine(const PixelRect& r) {
  const int32_t w = r.right - r.left, h = r.bottom - r.top;
  a_ = {r.left + w / 4, r.top + h / 2};
  b_ = {r.right - w / 4, r.top + h / 2};
  angle_ = DeskewAngle{};
}

int DeskewHooks::EndAt(const ViewContext& view, Point p) const {
  const Point i = view.ToImage(p);
  const int32_t h = static_cast<int32_t>(static_cast<int64_t>(view.Zoom()) * 8 / 10000);
  auto near = [&](LinePoint e) { return i.x >= e.x - 2 && i.x <= e.x + h + 2 && i.y >= e.y - 2 && i.y <= e.y + h + 2; };
  if (near(b_)) return 2;
  return near(a_) ? 1 : 0;
}

uint16_t DeskewHooks::HitTest(const ViewContext& view, Point p) {
  return view.image && EndAt(view, p) ? cursor::SizeAll : cursor::None;
}

uint16_t DeskewHooks::OnButtonDown(const ViewContext& view, Point p) {
  picked_ = view.image ? EndAt(view, p) : 0;
  return picked_ ? drag::Move : drag::None;
}

void DeskewHooks::OnDrag(const ViewContext& view, uint16_t mode, Point p) {
  if (!view.image || mode != drag::Move || !picked_) return;
  const Point i = view.ToImage(p);
  (picked_ == 1 ? a_ : b_) = LinePoint{i.x, i.y};
  angle_ = AngleFromLine(a_, b_, angle_);
  if (onChange_) onChange_();
}

void DeskewHooks::Paint(const ViewContext& view, ViewCanvas& canvas) {
  if (!view.image) return;
  const Point a = view.ToClient(Point{a_.x, a_.y}), b = view.ToClient(Point{b_.x, b_.y});
  canvas.InvertRect(Rect{a.x, a.y, a.x + 12, a.y + 12});
  canvas.InvertRect(Rect{b.x, b.y, b.x + 12, b.y + 12});
  canvas.InvertLine(Point{a.x + 4, a.y + 4}, Point{b.x + 4, b.y + 4});
}

}  // namespace orb::tools
