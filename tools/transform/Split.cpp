#include "tools/transform/Split.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "engine/EngineHost.h"
#include "engine/Settings.h"
#include "engine/SharedRoutines.h"
#include "engine/ReadWrite/ScanOutput.h"
#include "engine/filters/FilterChain.h"
#include "tools/FileNaming.h"

namespace orb::tools {
namespace {

constexpr int kCaptionSplit = 33030;

int32_t DownTo8(int32_t v) { return v >= 8 ? v / 8 * 8 : v; }

// One page being written through the scan output writer.
struct PageOut {
  std::unique_ptr<ImageState> image;
  std::unique_ptr<LineWriter> writer;
  bool open = false;
};

std::unique_ptr<ImageState> PageRecord(const ImageState& src, const std::string& path, int32_t w, int32_t h,
                                       uint32_t format) {
  auto n = std::make_unique<ImageState>(src);
  n->next = n->prev = nullptr;
  for (auto& b : n->bitmaps) b.reset();
  n->rawPath.clear();
  n->rawFile.reset();
  n->fileHandle = kNoFile;
  n->sourcePath = path;
  n->sourceForm = SF_OWN_TIFF;
  if (n->kind == IK_BW_SAVED_AS_4) n->kind = IK_BW;
  n->width = w;
  n->height = h;
  n->storedLineWidth = StoredLineWidthFor(n->kind, w);
  n->region = PixelRect{0, 0, w - 1, h - 1};
  n->rowOrder = 0;
  // The lines reach the page through the filters already.
  n->thresholdPending = n->toneCurvePending = n->brightnessPending = n->bwPointPending = 0;
  if (format != 0) n->outputFormat = format;
  if (IsInternalFormat(n->outputFormat) || n->outputFormat == 0) n->outputFormat = OF_TIFF;
  return n;
}

class SplitRun {
 public:
  SplitRun(ImageState* src, const SplitPages& pages, const SplitOutput& output)
      : src_(src), pages_(pages), output_(output) {}
  ~SplitRun();
  SplitResult Run(int orientation, const ApplyProgressFactory& factory);

 private:
  SplitResult Fail(const std::string& what) {
    Notify(kMsgSplitFailed, MessageIcon::Error, {MessageArg{what}});
    return SplitResult::Failed;
  }
  bool Open(PageOut& p, const std::string& path, int32_t w, int32_t h);
  SplitResult Stream(int orientation, RunProgress& progress);
  bool CloseAll();
  bool RoomForPages();
  SplitResult ParkScan();

  ImageState* src_;
  SplitPages pages_;
  SplitOutput output_;
  std::string original_, parked_, name1_, name2_;
  PageOut p1_, p2_;
  bool renamed_ = false;
  bool readsParked_ = false;  // the working version is the scanned file itself
  bool done_ = false;
};

bool SplitRun::Open(PageOut& p, const std::string& path, int32_t w, int32_t h) {
  ::unlink(path.c_str());
  p.image = PageRecord(*src_, path, w, h, output_.format);
  p.writer = std::make_unique<LineWriter>(p.image.get());
  if (OpenScanOutput(p.writer.get()) != 0) return false;
  p.open = true;
  return true;
}

bool SplitRun::CloseAll() {
  bool ok = true;
  for (PageOut* p : {&p1_, &p2_}) {
    if (!p->open) continue;
    if (!done_) ReleaseScanOutput(p->writer.get());
    if (CloseScanOutput(p->writer.get()) != 0) ok = false;
    p->open = false;
  }
  return ok;
}

SplitRun::~SplitRun() {
  CloseAll();
  if (done_) return;
  // Nothing half-done stays: the pages go and the scan gets its name back.
  if (!name1_.empty()) ::unlink(name1_.c_str());
  if (!name2_.empty()) ::unlink(name2_.c_str());
  if (renamed_ && std::rename(parked_.c_str(), original_.c_str()) == 0 && readsParked_) src_->sourcePath = original_;
}

SplitResult SplitRun::Stream(int orientation, RunProgress& progress) {
  const size_t lineBytes = static_cast<size_t>(std::max(src_->storedLineWidth, 1));
  const int32_t px = StreamPixelBytes(src_->kind);
  FilterSet on = PendingPointFilters(*src_);
  if (src_->thresholdPending || src_->kind == IK_BW_SAVED_AS_4) on.Add(FilterKind::Threshold);
  FilterChain filters =
      BuildFilterChain(ChainPurpose::Save, on, FilterSettings::Current(), FilterTarget{src_->kind, lineBytes, nullptr, 0});
  const int lag = filters.PrimingLines();
  std::vector<uint8_t> line;
  if (!TryAllocate(line, lineBytes + 8, 255)) return Fail(name1_);
  SourceLines in(src_);
  if (!in.Open()) return Fail(src_->sourcePath);
  const int32_t h = src_->height;
  for (int i = 0; i < lag && in.Read() < h; ++i) {
    if (!in.Next(line.data())) return Fail(src_->sourcePath);
    filters.Process(line.data(), lineBytes);
  }
  for (int32_t y = 0; y < h; ++y) {
    if (PumpAndCheckCancel()) return SplitResult::Cancelled;
    if (in.Read() < h && !in.Next(line.data())) return Fail(src_->sourcePath);
    filters.Process(line.data(), lineBytes);
    int rc = 0;
    if (orientation == kSplitVertical) {
      rc = WriteScanLines(p1_.writer.get(), line.data() + static_cast<size_t>(pages_.x1) * px,
                          p1_.image->storedLineWidth);
      if (rc == 0) {
        rc = WriteScanLines(p2_.writer.get(), line.data() + static_cast<size_t>(pages_.x2) * px,
                            p2_.image->storedLineWidth);
      }
    } else if (y < pages_.position) {
      rc = WriteScanLines(p1_.writer.get(), line.data(), p1_.image->storedLineWidth);
    } else if (y > pages_.position) {
      rc = WriteScanLines(p2_.writer.get(), line.data(), p2_.image->storedLineWidth);
    }
    if (rc != 0) return IsCancelled() ? SplitResult::Cancelled : Fail(name1_);
    progress.Step();
  }
  return SplitResult::Split;
}

bool SplitRun::RoomForPages() {
  const uint64_t b1 = static_cast<uint64_t>(StoredLineWidthFor(src_->kind, pages_.width1)) * pages_.height1;
  const uint64_t b2 = static_cast<uint64_t>(StoredLineWidthFor(src_->kind, pages_.width2)) * pages_.height2;
  // Both pages on one disk need room for both.
  const bool sameFolder = SplitFileName(name1_).folder == SplitFileName(name2_).folder;
  return HasFreeDiskSpace(name1_, sameFolder ? b1 + b2 : b1) && HasFreeDiskSpace(name2_, b2);
}

// The scanned file steps aside as "SplitSource" so that page 1 can take its name; it comes
// back when the split does not finish.
SplitResult SplitRun::ParkScan() {
  SplitName parked = SplitFileName(original_);
  parked.name = "SplitSource";
  parked_ = parked.Join();
  readsParked_ = src_->sourcePath == original_;
  if (parked_ == original_) return SplitResult::Split;
  struct stat st {};
  if (!readsParked_ && ::stat(original_.c_str(), &st) != 0) return SplitResult::Split;  // nothing to keep aside
  ::unlink(parked_.c_str());
  if (std::rename(original_.c_str(), parked_.c_str()) != 0) return Fail(original_);
  renamed_ = true;
  if (readsParked_) src_->sourcePath = parked_;
  return SplitResult::Split;
}

SplitResult SplitRun::Run(int orientation, const ApplyProgressFactory& factory) {
  original_ = output_.scanPath.empty() ? src_->sourcePath : output_.scanPath;
  // The names as they are now, whatever the line's last drawing showed.
  MakeSplitPageNames(original_, &name1_, &name2_);
  if (!RoomForPages()) {
    Notify(kMsgSplitNoRoom, MessageIcon::Error);
    CancelFlag = 1;
    name1_.clear();
    name2_.clear();
    return SplitResult::NoRoom;
  }
  const std::string page1 = name1_, page2 = name2_;
  name1_.clear();  // nothing of ours to remove before the scan is aside
  name2_.clear();
  if (const SplitResult parked = ParkScan(); parked != SplitResult::Split) return parked;
  name1_ = page1;
  name2_ = page2;
  if (!Open(p1_, name1_, pages_.width1, pages_.height1)) return Fail(name1_);
  if (!Open(p2_, name2_, pages_.width2, pages_.height2)) return Fail(name2_);
  RunProgress progress(factory, kCaptionSplit, src_->height);
  const SplitResult r = Stream(orientation, progress);
  if (r != SplitResult::Split) return r;
  done_ = true;
  if (!CloseAll()) {
    done_ = false;
    return Fail(name1_);
  }
  if (renamed_) ::unlink(parked_.c_str());
  // The version now stands for page 1 (the scanned file is gone).
  if (readsParked_) src_->sourcePath = name1_;
  return SplitResult::Split;
}

}  // namespace

int32_t ClampSplitPosition(int32_t position, int32_t size) {
  if (size < 3) return 0;
  return std::clamp(position, 1, size - 2);
}

SplitPages SplitLayout(int32_t width, int32_t height, int orientation, int32_t position) {
  SplitPages s;
  if (orientation == kSplitVertical) {
    if (width < 3 || height < 1) return s;
    const int32_t p = ClampSplitPosition(position, width);
    s.position = p;
    s.width1 = DownTo8(p);
    s.width2 = DownTo8(width - p - 1);
    s.height1 = s.height2 = height;
    s.x2 = s.width1;
  } else {
    if (height < 3 || width < 1) return s;
    const int32_t p = ClampSplitPosition(position, height);
    s.position = p;
    s.height1 = p;
    s.height2 = height - p - 1;
    s.width1 = s.width2 = width;
    s.y2 = p + 1;
  }
  return s;
}

void MakeSplitPageNames(const std::string& path, std::string* page1, std::string* page2) {
  CSetupFilenameDlg naming(path);
  if (naming.MakeNextFileName() && naming.GetFileName() != path) {
    *page1 = path;
    *page2 = naming.GetFileName();
    return;
  }
  SplitName n = SplitFileName(path);
  const std::string base = n.name;
  n.name = base + "-Page1";
  *page1 = n.Join();
  n.name = base + "-Page2";
  *page2 = n.Join();
}

bool SplitApplies(const ImageState* image, bool enabled) {
  return enabled && image && image->state == VS_NORMAL && ScanSettings.PaperEndDetection == 1;
}

SplitResult SplitScan(ImageState* working, int orientation, int32_t position, const ApplyProgressFactory& progress,
                      const SplitOutput& output) {
  if (!working || (working->sourcePath.empty() && output.scanPath.empty())) return SplitResult::NoImage;
  const SplitPages pages = SplitLayout(working->width, working->height, orientation, position);
  if (!pages.Valid()) return SplitResult::NoImage;
  CancelFlag = 0;
  SplitRun run(working, pages, output);
  return run.Run(orientation, progress);
}

SplitResult SplitActiveScan(bool enabled, int orientation, int32_t position, const SplitOutput& output) {
  ToolDocumentHost* host = GetToolDocumentHost();
  ImageState* image = host ? host->ActiveImage() : nullptr;
  if (!SplitApplies(image, enabled)) return SplitResult::NoImage;
  ApplyProgressFactory progress = [host](int caption, int lines) { return host->MakeProgress(caption, lines); };
  const SplitResult r = SplitScan(image, orientation, position, progress, output);
  if (r != SplitResult::NoImage && r != SplitResult::NoRoom) host->ImageChanged();
  return r;
}

// ----- hooks

void SplitHooks::CenterSplitLine(const ImageState& image) {
  position_ = orientation_ == kSplitHorizontal ? image.height / 2 : image.width / 2;
}

bool SplitHooks::IsShowing(const ViewContext& view) const { return SplitApplies(view.image, Enabled()); }

bool SplitHooks::OnLine(const ViewContext& view, Point p) const {
  const Point i = view.ToImage(p);
  const int32_t w = static_cast<int32_t>(static_cast<int64_t>(view.Zoom()) * 8 / 10000);
  const int32_t iw = view.image->width, ih = view.image->height;
  if (orientation_ == kSplitVertical) {
    return i.x >= position_ - w / 2 - 2 && i.x <= position_ + w + 2 && i.y >= -2 && i.y <= ih + 2;
  }
  return i.x >= -2 && i.x <= iw + 2 && i.y >= position_ - w / 2 - 2 && i.y <= position_ + w + 2;
}

uint16_t SplitHooks::HitTest(const ViewContext& view, Point p) {
  if (!view.image || !OnLine(view, p)) return cursor::None;
  return orientation_ == kSplitVertical ? cursor::SizeWE : cursor::SizeNS;
}

uint16_t SplitHooks::OnButtonDown(const ViewContext& view, Point p) {
  dragging_ = false;
  if (!view.image || !OnLine(view, p)) return drag::None;
  const Point i = view.ToImage(p);
  lastDrag_ = orientation_ == kSplitVertical ? i.x : i.y;
  dragging_ = true;
  return drag::Move;
}

void SplitHooks::OnButtonUp(const ViewContext&, uint16_t, Point) { dragging_ = false; }

void SplitHooks::OnDrag(const ViewContext& view, uint16_t mode, Point p) {
  if (!view.image || mode != drag::Move) return;
  const Point i = view.ToImage(p);
  const int32_t now = orientation_ == kSplitVertical ? i.x : i.y;
  const int32_t size = orientation_ == kSplitVertical ? view.image->width : view.image->height;
  // The line stays inside the image, so that both pages keep pixels.
  position_ = ClampSplitPosition(position_ + now - lastDrag_, size);
  lastDrag_ = now;
}

void SplitHooks::Paint(const ViewContext& view, ViewCanvas& canvas) {
  if (!view.image) return;
  const Rect d = view.Drawing();
  const Point at = view.ToClient(Point{position_, position_});
  // Dashed: every other run of four pixels.
  if (orientation_ == kSplitVertical) {
    for (int32_t y = d.top; y < d.bottom; y += 8) canvas.InvertRect(Rect{at.x, y, at.x + 1, std::min(y + 4, d.bottom)});
  } else {
    for (int32_t x = d.left; x < d.right; x += 8) canvas.InvertRect(Rect{x, at.y, std::min(x + 4, d.right), at.y + 1});
  }
  if (!dragging_) PaintNames(view, canvas, at);
}

void SplitHooks::PaintNames(const ViewContext& view, ViewCanvas& canvas, Point lineAt) const {
  ViewTextWriter* writer = canvas.TextWriter();
  if (!writer) return;
  // The names come from the document's own file, the first version of the chain.
  const ImageState* first = view.image;
  while (first->prev) first = first->prev;
  if (first->sourcePath.empty()) return;
  std::string page1, page2;
  MakeSplitPageNames(first->sourcePath, &page1, &page2);
  const Rect d = view.Drawing();
  const auto labels =
      SplitNameLabels(d, orientation_ == kSplitVertical ? lineAt.x : lineAt.y, orientation_, page1, page2,
                      [writer](const std::string& t) { return writer->TextWidth(t); }, writer->LineHeight());
  for (const SplitNameLabel& l : labels) {
    if (!l.text.empty()) writer->InvertText(canvas, l.at, l.text, l.band);
  }
}

namespace {

// The largest cut of `text` at most `bytes` long that ends on a character boundary.
size_t CharBoundaryAtOrBefore(const std::string& text, size_t bytes) {
  bytes = std::min(bytes, text.size());
  while (bytes > 0 && bytes < text.size() && (static_cast<unsigned char>(text[bytes]) & 0xC0) == 0x80) --bytes;
  return bytes;
}

// The largest n in [0, limit] for which fits(n) holds, fits being true up to some point
// and false after it; -1 when fits(0) is false.
template <class F>
int64_t LargestFitting(size_t limit, F&& fits) {
  if (!fits(0)) return -1;
  size_t lo = 0, hi = limit;
  while (lo < hi) {
    const size_t mid = lo + (hi - lo + 1) / 2;
    if (fits(mid)) lo = mid;
    else hi = mid - 1;
  }
  return static_cast<int64_t>(lo);
}

}  // namespace

std::string FitPathToWidth(const std::string& path, int32_t width, const TextWidthFn& textWidth) {
  if (textWidth(path) <= width) return path;
  static const std::string kDots = "...";
  const size_t slash = path.find_last_of('/');
  const std::string head = slash == std::string::npos ? std::string() : path.substr(0, slash);
  const std::string name = slash == std::string::npos ? path : path.substr(slash);
  // The start of the folder part, as much of it as fits before the dots and the name.
  auto withHead = [&](size_t n) { return head.substr(0, CharBoundaryAtOrBefore(head, n)) + kDots + name; };
  if (!head.empty()) {
    const int64_t keep = LargestFitting(head.size(), [&](size_t n) { return textWidth(withHead(n)) <= width; });
    if (keep >= 0) return withHead(static_cast<size_t>(keep));
  }
  // Not even the name fits: the dots and the end of the name.
  auto withTail = [&](size_t n) {
    size_t from = name.size() - n;
    while (from < name.size() && (static_cast<unsigned char>(name[from]) & 0xC0) == 0x80) ++from;
    return kDots + name.substr(from);
  };
  const int64_t tail = LargestFitting(name.size(), [&](size_t n) { return textWidth(withTail(n)) <= width; });
  return tail >= 0 ? withTail(static_cast<size_t>(tail)) : std::string();
}

std::array<SplitNameLabel, 2> SplitNameLabels(const Rect& d, int32_t lineAt, int orientation, const std::string& page1,
                                              const std::string& page2, const TextWidthFn& textWidth,
                                              int32_t lineHeight) {
  std::array<SplitNameLabel, 2> out;
  if (orientation == kSplitVertical) {
    out[0].band = Rect{d.left, d.top, std::min(lineAt - 10, d.right), d.bottom};
    out[1].band = Rect{std::max(lineAt + 10, d.left), d.top, d.right, d.bottom};
  } else {
    out[0].band = Rect{d.left, d.top, d.right, std::min(lineAt - 5, d.bottom)};
    out[1].band = Rect{d.left, std::max(lineAt + 5, d.top), d.right, d.bottom};
  }
  const std::string* names[] = {&page1, &page2};
  for (size_t i = 0; i < 2; ++i) {
    SplitNameLabel& l = out[i];
    if (l.band.Width() <= 0 || l.band.Height() <= 0) continue;
    l.text = FitPathToWidth(*names[i], l.band.Width(), textWidth);
    if (l.text.empty()) continue;
    const int32_t w = textWidth(l.text);
    if (orientation == kSplitVertical) {
      // Page 1 ends at its band's right edge; page 2 starts at its band's left edge.
      l.at = Point{i == 0 ? l.band.right - w : l.band.left, l.band.top};
    } else {
      // Centred; page 1 sits on its band's bottom, page 2 hangs from its band's top.
      l.at = Point{l.band.left + (l.band.Width() - w) / 2, i == 0 ? l.band.bottom - lineHeight : l.band.top};
    }
  }
  return out;
}

}  // namespace orb::tools
