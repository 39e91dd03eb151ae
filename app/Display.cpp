#include "app/Display.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "engine/EngineHost.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "engine/filters/FilterChain.h"

std::atomic<uint16_t> ViewDragMode{0};

namespace orb {
namespace {

constexpr int kMsgPrintMemory = 33063;

enum class Family { None, Colour, Indexed, BilevelGrey, BilevelAny };

Family FamilyOf(uint16_t kind, bool forBand) {
  switch (kind) {
    case IK_RGB:
      return Family::Colour;
    case IK_PALETTE256:
    case IK_PALETTE16:
    case IK_GREY:
    case IK_GREY_FROM_GREEN:
      return Family::Indexed;
    case IK_BW:
    case IK_BW_FROM_GREEN:
    case IK_BW_SAVED_AS_4:
      if (!forBand) return Family::BilevelAny;  // callers pick the variant themselves
      return BilevelGreyDisplay() ? Family::BilevelGrey : Family::BilevelAny;
    default:
      return Family::None;
  }
}

// trunc(a x 10000.0 / f) and trunc(a x f / 10000) in 64 bits.
inline int32_t ToDisplay(int64_t a, int32_t f) {
  return static_cast<int32_t>(static_cast<double>(a) * 10000.0 / static_cast<double>(f));
}
inline int32_t ToImage(int64_t a, int32_t f) { return static_cast<int32_t>(a * f / 10000); }

void FillColourTable(DisplayImage& img, const ImageState& image) {
  for (size_t i = 0; i < 256; ++i) {
    img.colours[i] = ColourBytes{static_cast<uint8_t>(image.palette[i].red & 0xFF),
                                 static_cast<uint8_t>(image.palette[i].green & 0xFF),
                                 static_cast<uint8_t>(image.palette[i].blue & 0xFF)};
  }
}

// Bytes of memory the system could still give, from /proc/meminfo (0 when unknown).
uint64_t AvailablePhysicalMemory() {
  std::ifstream in("/proc/meminfo");
  std::string key;
  uint64_t value = 0;
  std::string unit;
  while (in >> key >> value) {
    std::getline(in, unit);
    if (key == "MemAvailable:") return value * 1024;
  }
  long pages = sysconf(_SC_AVPHYS_PAGES);
  long size = sysconf(_SC_PAGESIZE);
  return pages > 0 && size > 0 ? static_cast<uint64_t>(pages) * static_cast<uint64_t>(size) : 0;
}

std::mutex g_sharedLock;
DisplaySurface* g_thumbSurface = nullptr;
DisplayImagePtr g_thumbImage;
DisplayImagePtr g_fullImage;
std::array<ChannelStatistics, 3> g_stats;

void PublishThumb(DisplayImagePtr img) {
  std::lock_guard<std::mutex> l(g_sharedLock);
  g_thumbImage = std::move(img);
}
void PublishFull(DisplayImagePtr img) {
  std::lock_guard<std::mutex> l(g_sharedLock);
  g_fullImage = std::move(img);
}

// ----- progressive band drawing ------------------------------------------------------

struct BandDrawState {
  bool active = false;
  Family family = Family::None;
  ImageState* image = nullptr;
  DisplaySurface* surface = nullptr;
  int32_t left = 0, top = 0, right = 0, bottom = 0, width = 0, height = 0;
  int32_t imageWidth = 0, imageHeight = 0;
  size_t lineBytes = 0;  // bytes of one delivered row
  DisplayFit fit;
  bool openEnded = false;
  DisplayImagePtr display;
  std::vector<int32_t> columns;  // source column of every display column
  // Full-size following.
  DisplayImagePtr client;
  int32_t clientWidth = 0, clientHeight = 0, clientRow = 0;
  bool fullSizeStarted = false;
  // Thumbnail.
  DisplaySurface* thumb = nullptr;
  DisplayImagePtr thumbImage;
  int32_t thumbFactor = 0, lastThumbRow = -1;
  bool thumbWrapped = false;
  // Rows.
  int64_t rowCounter = 0;
  int32_t lastDisplayRow = -1;
  bool viewNeedsClearing = true, thumbNeedsClearing = true, fullSizeDrawn = false;
  bool prepared = false;
  // Grey-level bilevel.
  std::vector<uint32_t> counts;
  int32_t rowsAccumulated = 0;
  int32_t accumulatedRow = -1;
  int32_t step = 1;
};

BandDrawState g_bandStates[5];

BandDrawState& StateOf(Family f) { return g_bandStates[static_cast<int>(f)]; }

uint32_t BitsFor(Family f) { return f == Family::Colour ? 24u : 8u; }

void PaintDisplayRow(BandDrawState& st, int32_t row) {
  if (!st.surface) return;
  if (st.viewNeedsClearing || st.fullSizeDrawn) {
    st.viewNeedsClearing = false;
    st.fullSizeDrawn = false;
    Rect rect = st.surface->ClientRect();
    CentreViewportOrigin(rect, nullptr, st.fit.width, st.fit.height, st.fit.horizontalLarger);
    st.image->clientRect = PixelRect{rect.left, rect.top, rect.right, rect.bottom};
    st.surface->PrepareView();
    st.prepared = true;
    if (row > 0) st.surface->ShowDisplayRows(0, row);
  }
  st.surface->ShowDisplayRows(row, 1);
}

bool FittedPaintWanted(bool refreshToo) {
  const uint32_t status = AppStatus.load();
  if (HasStatus(status, StatusBit::FittedDisplay)) return true;
  return refreshToo && HasStatus(status, StatusBit::ViewRefresh);
}

// Writes image row `src` into display row `d` for the colour and indexed families.
void FillSampledRow(BandDrawState& st, int32_t d, const uint8_t* src) {
  DisplayImage& img = *st.display;
  std::lock_guard<std::mutex> l(img.lock);
  uint8_t* dst = img.Row(d);
  const int32_t w = st.fit.width;
  if (st.family == Family::Colour) {
    for (int32_t x = 0; x < w; ++x) {
      const int32_t c = st.columns[static_cast<size_t>(x)];
      if (c >= st.imageWidth) break;
      std::memcpy(dst + static_cast<size_t>(x) * 3, src + static_cast<size_t>(c) * 3, 3);
    }
  } else {
    for (int32_t x = 0; x < w; ++x) {
      int32_t c = st.columns[static_cast<size_t>(x)];
      if (c >= st.imageWidth) c = st.imageWidth - 1;
      if (c < 0) c = 0;
      dst[x] = src[c];
    }
  }
}

void ConvertGreyRow(BandDrawState& st) {
  if (st.accumulatedRow < 0 || st.rowsAccumulated == 0) return;
  if (FittedPaintWanted(true)) {
    DisplayImage& img = *st.display;
    {
      std::lock_guard<std::mutex> l(img.lock);
      uint8_t* dst = img.Row(st.accumulatedRow);
      const int64_t n = static_cast<int64_t>(st.rowsAccumulated) * st.step;
      for (int32_t x = 0; x < st.fit.width; ++x) {
        const int64_t b = st.counts[static_cast<size_t>(x)];
        int64_t dnm = n - b;
        if (dnm == 0) dnm = 1;
        double g = 255.0 - 255.0 * static_cast<double>(b) / static_cast<double>(dnm);
        int32_t v = static_cast<int32_t>(g);
        dst[x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
      }
    }
    PaintDisplayRow(st, st.accumulatedRow);
  }
  std::fill(st.counts.begin(), st.counts.end(), 0u);
  st.rowsAccumulated = 0;
}

void DrawThumbnailRow(BandDrawState& st, int64_t y, const uint8_t* src) {
  if (!st.thumb || !st.thumbImage || st.thumbFactor <= 0) return;
  DisplayImage& t = *st.thumbImage;
  int32_t row = ToDisplay(y, st.thumbFactor);
  bool wrapped = false;
  if (st.openEnded && t.height > 0) {
    row %= t.height;
    if (row == 0 && st.lastThumbRow > 0) {
      st.lastThumbRow = -1;
      wrapped = true;
    }
  }
  if (row >= t.height) return;
  if (row <= st.lastThumbRow && !wrapped) return;
  st.lastThumbRow = row;
  {
    std::lock_guard<std::mutex> l(t.lock);
    uint8_t* dst = t.Row(row);
    for (int32_t x = 0; x < t.width; ++x) {
      int32_t c = ToImage(x, st.thumbFactor);
      if (c > st.imageWidth - 1) c = st.imageWidth - 1;
      if (c < 0) c = 0;
      if (st.family == Family::Colour) {
        std::memcpy(dst + static_cast<size_t>(x) * 3, src + static_cast<size_t>(c) * 3, 3);
      } else {
        dst[x] = src[c];
      }
    }
  }
  if (st.image->rowOrder != 0) return;
  if (st.thumbNeedsClearing) {
    st.thumbNeedsClearing = false;
    st.thumb->PrepareView();
  }
  st.thumb->ShowDisplayRows(row, 1);
}

void DrawFullSizeRow(BandDrawState& st, const uint8_t* src) {
  if (!st.client) return;
  DisplayImage& c = *st.client;
  if (!st.fullSizeStarted) {
    st.fullSizeStarted = true;
    st.clientRow = 0;
  }
  st.fullSizeDrawn = true;
  const size_t bpp = st.family == Family::Colour ? 3 : 1;
  const int32_t from = std::max(st.image->visibleSource.left, 0);
  const int32_t avail = std::max(0, st.imageWidth - from);
  const int32_t n = std::min(c.width, avail);
  {
    std::lock_guard<std::mutex> l(c.lock);
    uint8_t* dst = c.Row(st.clientRow);
    if (n > 0) std::memcpy(dst, src + static_cast<size_t>(from) * bpp, static_cast<size_t>(n) * bpp);
    // The rest of a row narrower than the window stays white.
    std::memset(dst + static_cast<size_t>(n) * bpp, 255, static_cast<size_t>(c.width - n) * bpp);
  }
  if (st.surface) st.surface->ShowFullSizeRow(st.clientRow);
  if (++st.clientRow >= c.height) st.clientRow = 0;
}

RebuildOutcome StartBand(Family family, ProgressiveDisplay* pd) {
  BandDrawState& st = StateOf(family);
  st = BandDrawState{};
  st.family = family;
  ImageState& image = *pd->image;
  st.image = &image;
  st.surface = SurfaceOf(&image);
  Rect client = st.surface ? st.surface->ClientRect()
                           : Rect{0, 0, image.clientRect.right - image.clientRect.left,
                                  image.clientRect.bottom - image.clientRect.top};
  image.clientRect = PixelRect{client.left, client.top, client.right, client.bottom};
  const int32_t cw = client.Width(), ch = client.Height();
  st.left = image.region.left;
  st.top = image.region.top;
  st.right = image.region.right;
  st.bottom = image.region.bottom;
  st.width = st.right - st.left;
  st.height = st.bottom - st.top;
  st.imageWidth = image.width;
  st.imageHeight = image.height;
  st.lineBytes = static_cast<size_t>(std::max(image.storedLineWidth, 0));
  st.openEnded = IsOpenEndedScan();
  st.fit = ComputeDisplayFit(st.width, st.height, cw, ch, st.openEnded);
  if (st.openEnded) image.region.bottom = ch;
  image.fitScale = st.fit.factor;
  image.visibleSource = PixelRect{0, 0, RoundUp4(std::max(cw, 0)), 0};
  if (st.fit.factor <= 0) return RebuildOutcome::Nothing;

  if (image.bitmaps[2] && image.bitmaps[2] != image.bitmaps[0]) image.bitmaps[2].reset();
  DisplayImagePtr disp = MakeDisplayImage(st.fit.width, st.fit.height, BitsFor(family), image.rowOrder != 0);
  if (!disp) return RebuildOutcome::OutOfMemory;
  if (family != Family::Colour) FillColourTable(*disp, image);
  image.bitmaps[2] = disp;
  st.display = disp;
  st.columns.resize(static_cast<size_t>(st.fit.width));
  for (int32_t x = 0; x < st.fit.width; ++x) st.columns[static_cast<size_t>(x)] = st.left + ToImage(x, st.fit.factor);

  if (cw > 0 && ch > 0) {
    st.clientWidth = RoundUp4(cw);
    st.clientHeight = ch;
    st.client = MakeDisplayImage(st.clientWidth, st.clientHeight, BitsFor(family), false);
    if (st.client && family != Family::Colour) FillColourTable(*st.client, image);
    PublishFull(st.client);
  }

  const uint32_t status = AppStatus.load();
  if ((ScanStateOf(status) == ScanState::Scanning || HasStatus(status, StatusBit::Opening)) && ThumbnailSurface()) {
    st.thumb = ThumbnailSurface();
    Rect tr = st.thumb->ClientRect();
    DisplayFit tf = ComputeDisplayFit(st.width, st.height, tr.Width(), tr.Height(), st.openEnded);
    st.thumbFactor = tf.factor;
    if (tf.factor > 0) {
      st.thumbImage = MakeDisplayImage(tf.width, tf.height, BitsFor(family), image.rowOrder != 0);
      if (st.thumbImage && family != Family::Colour) FillColourTable(*st.thumbImage, image);
      image.bitmaps[0] = st.thumbImage;
      PublishThumb(st.thumbImage);
    }
  }
  if (family == Family::BilevelGrey) {
    st.step = std::max(1, st.fit.factor / 10000);
    st.counts.assign(static_cast<size_t>(st.fit.width), 0u);
  }
  st.active = true;
  return RebuildOutcome::Rebuilt;
}

void BandRows(Family family, const uint8_t* rows, int count) {
  BandDrawState& st = StateOf(family);
  if (!st.active || !rows || count <= 0) return;
  const int32_t f = st.fit.factor;
  const int32_t dh = st.fit.height;
  const size_t stride = st.lineBytes;
  if (family == Family::Colour && st.rowCounter >= st.imageHeight) return;
  const uint32_t status = AppStatus.load();
  const bool fullSize = HasStatus(status, StatusBit::FullSizeDisplay);
  const bool thumb =
      st.thumb && (ScanStateOf(status) == ScanState::Scanning || HasStatus(status, StatusBit::Opening));

  for (int i = 0; i < count; ++i) {
    const uint8_t* src = rows + stride * static_cast<size_t>(i);
    const int64_t y = st.rowCounter;
    if (f > 10000) {
      int32_t d = ToDisplay(y, f);
      if (st.openEnded && dh > 0) {
        d %= dh;
        if (d == 0 && st.lastDisplayRow > 0) st.lastDisplayRow = -1;
      }
      if (d >= dh) {
        // Below the display: the band ends here.
        return;
      }
      switch (family) {
        case Family::Colour:
        case Family::Indexed:
          if (d <= st.lastDisplayRow) break;
          FillSampledRow(st, d, src);
          st.lastDisplayRow = d;
          if (FittedPaintWanted(false) && st.image->rowOrder == 0) PaintDisplayRow(st, d);
          break;
        case Family::BilevelAny: {
          DisplayImage& img = *st.display;
          const int32_t k = std::max(1, (f / 10000) / 8);
          {
            std::lock_guard<std::mutex> l(img.lock);
            uint8_t* dst = img.Row(d);
            if (d != st.lastDisplayRow) std::memset(dst, 255, static_cast<size_t>(img.width));
            for (int32_t x = 0; x < st.fit.width; ++x) {
              if (dst[x] == 0) continue;
              int32_t c = std::min(st.columns[static_cast<size_t>(x)], st.imageWidth - 1);
              const int32_t lo = std::max(0, c - k);
              const int32_t hi = std::min(st.imageWidth, c + k);
              if (hi > lo && std::memchr(src + lo, 0, static_cast<size_t>(hi - lo))) dst[x] = 0;
            }
          }
          st.lastDisplayRow = d;
          if (FittedPaintWanted(true)) PaintDisplayRow(st, d);
          break;
        }
        case Family::BilevelGrey: {
          if (d != st.accumulatedRow) {
            ConvertGreyRow(st);
            st.accumulatedRow = d;
          }
          for (int32_t x = 0; x < st.fit.width; ++x) {
            const int32_t c = st.columns[static_cast<size_t>(x)];
            const int32_t end = std::min(st.imageWidth, c + st.step);
            uint32_t zeros = 0;
            for (int32_t j = std::max(c, 0); j < end; ++j) zeros += src[j] == 0;
            st.counts[static_cast<size_t>(x)] += zeros;
          }
          ++st.rowsAccumulated;
          st.lastDisplayRow = d;
          break;
        }
        case Family::None:
          break;
      }
    } else {
      // Enlargement or 1:1: every display row up to this image row shows it; painted at the end.
      int32_t r = std::max(st.lastDisplayRow, 0);
      while (r < dh) {
        FillSampledRow(st, r, src);
        if (ToImage(r, f) <= y) {
          ++r;
        } else {
          break;
        }
      }
      st.lastDisplayRow = r;
    }
    if (fullSize) DrawFullSizeRow(st, src);
    if (thumb) DrawThumbnailRow(st, y, src);
    ++st.rowCounter;
  }
}

// The rows an earlier fit has drawn, sampled into a new picture of the same region: a view
// laid out while the first bands arrive keeps them (the navigator's picture is the display's
// at the end of the run, so rows lost here would stay white there).
void CarryOverRows(const DisplayImage& from, int32_t fromLastRow, DisplayImage& to, int32_t toLastRow,
                   size_t bytesPerPixel) {
  if (fromLastRow < 0 || from.width <= 0 || from.height <= 0 || to.width <= 0) return;
  const int32_t last = std::min(toLastRow, to.height - 1);
  std::scoped_lock both(from.lock, to.lock);
  for (int32_t r = 0; r <= last; ++r) {
    const int32_t fr = std::min<int32_t>(fromLastRow, static_cast<int32_t>(int64_t{r} * from.height / to.height));
    const uint8_t* src = from.Row(std::min(fr, from.height - 1));
    uint8_t* dst = to.Row(r);
    for (int32_t x = 0; x < to.width; ++x) {
      const int32_t fx = static_cast<int32_t>(int64_t{x} * from.width / to.width);
      std::memcpy(dst + static_cast<size_t>(x) * bytesPerPixel, src + static_cast<size_t>(fx) * bytesPerPixel,
                  bytesPerPixel);
    }
  }
}

// Fits an active run to its surface's present size (see RefitProgressiveDisplay).
bool RefitBand(BandDrawState& st) {
  if (!st.active || !st.surface || !st.display) return false;
  const Rect client = st.surface->ClientRect();
  const int32_t cw = client.Width(), ch = client.Height();
  const DisplayFit fit = ComputeDisplayFit(st.width, st.height, cw, ch, st.openEnded);
  if (fit.factor <= 0 || (fit.width == st.fit.width && fit.height == st.fit.height)) return false;
  ImageState& image = *st.image;
  DisplayImagePtr disp = MakeDisplayImage(fit.width, fit.height, BitsFor(st.family), image.rowOrder != 0);
  if (!disp) return false;  // keep drawing into the old picture
  if (st.family != Family::Colour) FillColourTable(*disp, image);
  image.clientRect = PixelRect{client.left, client.top, client.right, client.bottom};
  if (st.openEnded) image.region.bottom = ch;
  image.fitScale = fit.factor;
  image.visibleSource = PixelRect{0, 0, RoundUp4(std::max(cw, 0)), 0};
  image.bitmaps[2] = disp;
  const DisplayImagePtr old = std::exchange(st.display, disp);
  const int32_t oldLastRow = st.lastDisplayRow;
  st.fit = fit;
  st.columns.resize(static_cast<size_t>(fit.width));
  for (int32_t x = 0; x < fit.width; ++x) st.columns[static_cast<size_t>(x)] = st.left + ToImage(x, fit.factor);
  // The next row lands on the display row of its own image row in the new fit.
  st.lastDisplayRow = st.rowCounter > 0 ? ToDisplay(st.rowCounter - 1, fit.factor) : -1;
  if (fit.factor <= 10000) st.lastDisplayRow = std::max(st.lastDisplayRow, 0);
  if (old && st.rowCounter > 0) CarryOverRows(*old, oldLastRow, *disp, st.lastDisplayRow, BitsFor(st.family) / 8);
  if (st.family == Family::BilevelGrey) {
    st.step = std::max(1, fit.factor / 10000);
    st.counts.assign(static_cast<size_t>(fit.width), 0u);
    st.rowsAccumulated = 0;
    st.accumulatedRow = -1;
  }
  if (cw > 0 && ch > 0) {
    st.clientWidth = RoundUp4(cw);
    st.clientHeight = ch;
    st.clientRow = 0;
    st.client = MakeDisplayImage(st.clientWidth, st.clientHeight, BitsFor(st.family), false);
    if (st.client && st.family != Family::Colour) FillColourTable(*st.client, image);
    PublishFull(st.client);
  }
  st.surface->Invalidate(true);
  return true;
}

void EndBand(Family family) {
  BandDrawState& st = StateOf(family);
  if (!st.active) return;  // a failed start holds nothing to release
  if (family == Family::BilevelGrey) ConvertGreyRow(st);
  ImageState& image = *st.image;
  if (st.thumbImage && image.bitmaps[0] == st.thumbImage) image.bitmaps[0].reset();
  if (!image.bitmaps[0] && st.display) image.bitmaps[0] = CopyDisplayImage(st.display);
  PublishFull(nullptr);
  if (st.surface) st.surface->Invalidate(!st.prepared);
  st = BandDrawState{};
}

}  // namespace

bool RefitProgressiveDisplay(DisplaySurface* surface) {
  bool running = false;
  for (BandDrawState& st : g_bandStates) {
    if (!surface || !st.active || st.surface != surface) continue;
    RefitBand(st);
    running = true;
  }
  return running;
}

// ----- buffers, fit, process-wide values ---------------------------------------------

void DisplayImage::PictureRowRgb(int32_t y, uint8_t* out) const {
  const int32_t stored = bottomUp ? height - 1 - y : y;
  const uint8_t* src = Row(stored);
  if (bitsPerPixel == 24) {
    std::memcpy(out, src, static_cast<size_t>(width) * 3);
    return;
  }
  for (int32_t x = 0; x < width; ++x) {
    const ColourBytes& c = colours[src[x]];
    out[3 * x] = c.red;
    out[3 * x + 1] = c.green;
    out[3 * x + 2] = c.blue;
  }
}

DisplayImagePtr MakeDisplayImage(int32_t width, int32_t height, uint32_t bitsPerPixel, bool bottomUp) {
  if (width <= 0 || height <= 0 || (bitsPerPixel != 24 && bitsPerPixel != 8)) return nullptr;
  try {
    auto img = std::make_shared<DisplayImage>();
    img->width = width;
    img->height = height;
    img->bitsPerPixel = bitsPerPixel;
    img->stride = static_cast<size_t>(width) * (bitsPerPixel / 8);
    img->bottomUp = bottomUp;
    img->pixels.assign(img->stride * static_cast<size_t>(height), 255);
    return img;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

DisplayImage* AsDisplayImage(const DisplayBitmapPtr& bitmap) {
  return dynamic_cast<DisplayImage*>(bitmap.get());
}

DisplayImagePtr CopyDisplayImage(const DisplayBitmapPtr& source) {
  const DisplayImage* src = AsDisplayImage(source);
  if (!src) return nullptr;
  DisplayImagePtr copy = MakeDisplayImage(src->width, src->height, src->bitsPerPixel, src->bottomUp);
  if (!copy) return nullptr;
  std::lock_guard<std::mutex> l(src->lock);
  copy->pixels = src->pixels;
  copy->colours = src->colours;
  return copy;
}

DisplayFit ComputeDisplayFit(int32_t regionWidth, int32_t regionHeight, int32_t clientWidth,
                             int32_t clientHeight, bool openEnded) {
  DisplayFit fit;
  // A window without extent shows nothing.
  if (clientWidth <= 0 || clientHeight <= 0) return fit;
  if (openEnded) {
    fit.factor = ComputeFitScale(regionWidth, clientHeight, clientWidth, clientHeight, &fit.horizontalLarger);
    if (fit.factor <= 0) return DisplayFit{};
    fit.height = RoundUp4(clientHeight);
  } else {
    fit.factor = ComputeFitScale(regionWidth, regionHeight, clientWidth, clientHeight, &fit.horizontalLarger);
    if (fit.factor <= 0) return DisplayFit{};
    fit.height = RoundUp4(std::max(1, ToDisplay(regionHeight, fit.factor)));
  }
  // A very thin image still gets a picture of at least one row or column.
  fit.width = RoundUp4(std::max(1, ToDisplay(regionWidth, fit.factor)));
  return fit;
}

void SetThumbnailSurface(DisplaySurface* surface) {
  std::lock_guard<std::mutex> l(g_sharedLock);
  g_thumbSurface = surface;
}
DisplaySurface* ThumbnailSurface() {
  std::lock_guard<std::mutex> l(g_sharedLock);
  return g_thumbSurface;
}
DisplayImagePtr ThumbnailImage() {
  std::lock_guard<std::mutex> l(g_sharedLock);
  return g_thumbImage;
}
DisplayImagePtr FullSizeImage() {
  std::lock_guard<std::mutex> l(g_sharedLock);
  return g_fullImage;
}

std::array<ChannelStatistics, 3> LastChannelStatistics() {
  std::lock_guard<std::mutex> l(g_sharedLock);
  return g_stats;
}

bool BilevelGreyDisplay() { return (MiscSettings.DisplayOption & 0xFF) != 0; }

bool IsOpenEndedScan() {
  if (!IsScanning()) return false;
  if (ScanSettings.SizeMode != 0) return false;
  const int32_t len = ScanSettings.CustomLength;
  return len == 0xFFFFFF || len == 0xFFFF || len == 0x7FFF;
}

namespace {

// ----- previews of the pending tools ---------------------------------------------------

// The point previews (tone curve, brightness/contrast, black/white point) pending on a
// record; `palette`: the palette they remap for the palette kinds (not the pixels).
FilterChain PointPreviews(const ImageState& image, PaletteEntry* palette) {
  return BuildFilterChain(ChainPurpose::PointPreview, PendingPointFilters(image), FilterSettings::Current(),
                          FilterTarget{image.kind, 0, palette});
}

// The neighbourhood previews over a whole bitmap, each line keeping its place.
void ApplyNeighbourhoodPreviews(DisplayImage& img, int32_t kind) {
  const FilterSettings settings = FilterSettings::Current();
  FilterChain chain = BuildFilterChain(ChainPurpose::DetailPreview, DetailPreviewFilters(settings), settings,
                                       FilterTarget{kind, img.stride});
  chain.ProcessImage(img.pixels.data(), img.stride, static_cast<size_t>(img.height));
}

// Hook of the tool pages: the two neighbourhood previews were switched off.
void (*g_previewsCleared)() = nullptr;

// ----- reading rows by number ------------------------------------------------------------

// The stream of a display operation: the display's own reader when it has one open by
// number, else one made here for the call.
struct RowSource {
  LineReader* reader = nullptr;
  std::unique_ptr<LineReader> own;
  std::vector<uint8_t> line;
  int32_t lastRow = -1;
  bool open = false;

  bool Open(ProgressiveDisplay* pd) {
    if (pd->reader) {
      reader = pd->reader;
      open = true;
    } else {
      own = std::make_unique<LineReader>(pd->image);
      reader = own.get();
      open = OpenReadStream(reader, kReadByNumber) == kReadOpenOk;
    }
    // The callers index the row by pixel, up to three bytes each: a record whose stored
    // width says less (not yet set, or damaged) still gets a row they cannot read past.
    const size_t byPixel = static_cast<size_t>(std::max(pd->image->width, 0)) * 3;
    try {
      line.assign(std::max({static_cast<size_t>(std::max(pd->image->storedLineWidth, 1)), byPixel, size_t{1}}), 255);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }
  ~RowSource() {
    if (own) CloseReadStream(own.get());
  }
  // Row `y` of the image (white when it cannot be read).
  const uint8_t* Get(int32_t y) {
    if (y == lastRow) return line.data();
    lastRow = y;
    if (!open || ReadLines(reader, line.data(), kReadByNumber, y) != 1) {
      std::fill(line.begin(), line.end(), 255);
    }
    return line.data();
  }
};

struct RebuildSetup {
  ImageState* image = nullptr;
  DisplaySurface* surface = nullptr;
  int32_t width = 0, height = 0;
  DisplayFit fit;
};

bool SetUpRebuild(ProgressiveDisplay* pd, RebuildSetup* s) {
  ImageState& image = *pd->image;
  s->image = &image;
  s->surface = SurfaceOf(&image);
  Rect client = s->surface ? s->surface->ClientRect()
                           : Rect{0, 0, image.clientRect.right - image.clientRect.left,
                                  image.clientRect.bottom - image.clientRect.top};
  image.clientRect = PixelRect{client.left, client.top, client.right, client.bottom};
  s->width = image.region.right - image.region.left;
  s->height = image.region.bottom - image.region.top;
  s->fit = ComputeDisplayFit(s->width, s->height, client.Width(), client.Height());
  image.fitScale = s->fit.factor;
  return s->fit.factor > 0;
}

void ReplaceDisplayBitmaps(ImageState& image) {
  if (image.bitmaps[2] && image.bitmaps[2] != image.bitmaps[0]) {
    image.bitmaps[2].reset();
    image.bitmaps[3].reset();
  }
}

void FinishRebuild(RebuildSetup& s, const DisplayImagePtr& third, bool secondCopy) {
  ImageState& image = *s.image;
  if (!image.bitmaps[0]) {
    image.bitmaps[0] = CopyDisplayImage(third);
    if (secondCopy) image.bitmaps[1] = CopyDisplayImage(third);
  }
  if (s.surface) s.surface->Invalidate(false);
}

// The diagonal cross hatch of a join canvas, blue-grey on white.
void HatchJoinCanvas(DisplayImage& img) {
  for (int32_t y = 0; y < img.height; ++y) {
    uint8_t* row = img.Row(y);
    for (int32_t x = 0; x < img.width; ++x) {
      if (((x + y) & 7) == 0 || ((x - y) & 7) == 0) {
        row[3 * x] = 216;
        row[3 * x + 1] = 216;
        row[3 * x + 2] = 255;
      }
    }
  }
}

inline size_t CellOf(uint8_t r, uint8_t g, uint8_t b) {
  return (static_cast<size_t>(r >> 3) << 11) | (static_cast<size_t>(g >> 2) << 5) | (b >> 3);
}

bool ClassPreviewOn(const ImageState& image) {
  return HasStatus(StatusBit::ClassPreview) && image.lookupTable;
}

}  // namespace
}  // namespace orb

using namespace orb;

// ----- entries ---------------------------------------------------------------------------

int DrawIncomingBand(int step, ProgressiveDisplay* display, const uint8_t* rows, int count) {
  if (!display || !display->image) return 0;
  const Family family = FamilyOf(display->image->kind, true);
  if (family == Family::None) return 0;
  // The step is in the low four bits; a value that names no step draws nothing.
  switch (static_cast<BandStep>(step & 0xF)) {
    case BandStep::Start:
      StartBand(family, display);
      break;
    case BandStep::Rows:
      BandRows(family, rows, count);
      break;
    case BandStep::End:
      EndBand(family);
      break;
  }
  return 0;
}

RebuildOutcome RebuildDisplayRgb(ProgressiveDisplay* pd) {
  {
    std::lock_guard<std::mutex> l(g_sharedLock);
    g_stats = {};
  }
  RebuildSetup s;
  if (!SetUpRebuild(pd, &s)) return RebuildOutcome::Nothing;
  ImageState& image = *pd->image;
  ReplaceDisplayBitmaps(image);
  const bool bottomUp = image.rowOrder != 0;
  DisplayImagePtr third = MakeDisplayImage(s.fit.width, s.fit.height, 24, bottomUp);
  DisplayImagePtr fourth = MakeDisplayImage(s.fit.width, s.fit.height, 24, bottomUp);
  if (!third || !fourth) return RebuildOutcome::OutOfMemory;
  image.bitmaps[2] = third;
  image.bitmaps[3] = fourth;
  const int32_t f = s.fit.factor;
  if (image.state == VS_JOIN_CANVAS) {
    HatchJoinCanvas(*third);
    FinishRebuild(s, third, true);
    return RebuildOutcome::Rebuilt;
  }
  RowSource rows;
  if (!rows.Open(pd)) return RebuildOutcome::OutOfMemory;
  int64_t sum[3] = {0, 0, 0};
  int32_t mn[3] = {256, 256, 256}, mx[3] = {-1, -1, -1};
  int64_t count = 0;
  const bool classify = ClassPreviewOn(image);
  const uint8_t* lut = image.lookupTable.get();
  {
    std::lock_guard<std::mutex> l(third->lock);
    for (int32_t r = 0; r < s.fit.height; ++r) {
      // The picture's height is rounded up: rows beyond the image stay white and are not
      // measured, as the columns beyond it below.
      const int32_t row = image.region.top + ToImage(r, f);
      if (row > image.height - 1) break;
      const uint8_t* src = rows.Get(row);
      uint8_t* d3 = third->Row(r);
      uint8_t* d4 = fourth->Row(r);
      for (int32_t x = 0; x < s.fit.width; ++x) {
        const int32_t c = image.region.left + ToImage(x, f);
        // Columns beyond the image leave the rest of the row white.
        if (c > image.width - 1) break;
        const uint8_t* p = src + static_cast<size_t>(c) * 3;
        ++count;
        std::memcpy(d4 + 3 * x, p, 3);
        // Statistics are kept blue, green, red.
        for (int ch = 0; ch < 3; ++ch) {
          const int32_t v = p[2 - ch];
          sum[ch] += v;
          mn[ch] = std::min(mn[ch], v);
          mx[ch] = std::max(mx[ch], v);
        }
        if (classify) {
          const ColourBytes& cc = image.classPalette[lut[CellOf(p[0], p[1], p[2])]];
          d3[3 * x] = cc.red;
          d3[3 * x + 1] = cc.green;
          d3[3 * x + 2] = cc.blue;
        } else {
          std::memcpy(d3 + 3 * x, p, 3);
        }
      }
    }
    {
      std::lock_guard<std::mutex> l2(g_sharedLock);
      const int64_t n = count == 0 ? 1 : count;
      for (int ch = 0; ch < 3; ++ch) {
        g_stats[static_cast<size_t>(ch)] =
            ChannelStatistics{mn[ch], mx[ch], static_cast<int32_t>(sum[ch] / n)};
      }
    }
    FilterChain previews = PointPreviews(image, image.palette.data());
    if (!previews.Empty()) {
      for (int32_t r = 0; r < third->height; ++r) previews.Process(third->Row(r), third->stride);
    }
    if (f != 10000 && (DescreenSettings.preview || SharpenSettings.preview)) {
      // These previews need one image pixel a screen pixel.
      DescreenSettings.preview = 0;
      SharpenSettings.preview = 0;
      if (g_previewsCleared) g_previewsCleared();
    }
    ApplyNeighbourhoodPreviews(*third, image.kind);
  }
  FinishRebuild(s, third, true);
  return RebuildOutcome::Rebuilt;
}

RebuildOutcome RebuildDisplayIndexed(ProgressiveDisplay* pd) {
  ImageState& image = *pd->image;
  // Every rebuild starts from the image's own colours.
  image.palette = image.palette2;
  RebuildSetup s;
  if (!SetUpRebuild(pd, &s)) return RebuildOutcome::Nothing;
  ReplaceDisplayBitmaps(image);
  DisplayImagePtr third = MakeDisplayImage(s.fit.width, s.fit.height, 8, image.rowOrder != 0);
  if (!third) return RebuildOutcome::OutOfMemory;
  image.bitmaps[2] = third;
  const bool paletteKind = image.kind == IK_PALETTE256 || image.kind == IK_PALETTE16;
  FilterChain previews = PointPreviews(image, image.palette.data());
  if (paletteKind && !previews.Empty()) previews.ApplyToPalette();
  const bool classify = ClassPreviewOn(image);
  const uint8_t* lut = image.lookupTable.get();
  if (classify) {
    for (int32_t i = 0; i < 256; ++i) third->colours[static_cast<size_t>(i)] = image.classPalette[static_cast<size_t>(i)];
  } else {
    FillColourTable(*third, image);
  }
  RowSource rows;
  if (!rows.Open(pd)) return RebuildOutcome::OutOfMemory;
  const int32_t f = s.fit.factor;
  const int32_t lastCol = std::max(image.width - 1, 0);
  std::array<uint8_t, 256> classOf{};
  if (classify) {
    for (size_t i = 0; i < 256; ++i) {
      const PaletteEntry& p = image.palette[i];
      classOf[i] = lut[CellOf(static_cast<uint8_t>(p.red), static_cast<uint8_t>(p.green),
                              static_cast<uint8_t>(p.blue))];
    }
  }
  {
    std::lock_guard<std::mutex> l(third->lock);
    for (int32_t r = 0; r < s.fit.height; ++r) {
      const uint8_t* src = rows.Get(image.region.top + ToImage(r, f));
      uint8_t* d = third->Row(r);
      for (int32_t x = 0; x < s.fit.width; ++x) {
        const int32_t c = std::min(image.region.left + ToImage(x, f), lastCol);
        d[x] = classify ? classOf[src[c]] : src[c];
      }
    }
    if (!paletteKind && !previews.Empty()) {
      for (int32_t r = 0; r < third->height; ++r) previews.Process(third->Row(r), third->stride);
    }
    if (image.kind == IK_GREY) ApplyNeighbourhoodPreviews(*third, image.kind);
  }
  FinishRebuild(s, third, false);
  return RebuildOutcome::Rebuilt;
}

namespace {

DisplayImagePtr StartBilevelRebuild(ProgressiveDisplay* pd, RebuildSetup* s, RebuildOutcome* result) {
  *result = RebuildOutcome::Nothing;
  if (!SetUpRebuild(pd, s)) return nullptr;
  ImageState& image = *pd->image;
  ReplaceDisplayBitmaps(image);
  DisplayImagePtr third = MakeDisplayImage(s->fit.width, s->fit.height, 8, image.rowOrder != 0);
  *result = RebuildOutcome::OutOfMemory;
  if (!third) return nullptr;
  FillColourTable(*third, image);
  image.bitmaps[2] = third;
  *result = RebuildOutcome::Rebuilt;
  return third;
}

}  // namespace

RebuildOutcome RebuildDisplayBilevel(ProgressiveDisplay* pd) {
  RebuildSetup s;
  RebuildOutcome result = RebuildOutcome::Nothing;
  DisplayImagePtr third = StartBilevelRebuild(pd, &s, &result);
  if (!third) return result;
  ImageState& image = *pd->image;
  RowSource rows;
  if (!rows.Open(pd)) return RebuildOutcome::OutOfMemory;
  const int32_t f = s.fit.factor;
  const int32_t w = image.width;
  const int32_t k = std::max(1, (f / 10000) / 2);
  {
    std::lock_guard<std::mutex> l(third->lock);
    for (int32_t r = 0; r < s.fit.height; ++r) {
      const uint8_t* src = rows.Get(image.region.top + ToImage(r, f));
      uint8_t* d = third->Row(r);
      for (int32_t x = 0; x < s.fit.width; ++x) {
        const int32_t c = std::min(image.region.left + ToImage(x, f), w - 1);
        if (c < 0) break;
        if (f > 10000) {
          const int32_t lo = std::max(0, c - k), hi = std::min(w, c + k);
          d[x] = (hi > lo && std::memchr(src + lo, 0, static_cast<size_t>(hi - lo))) ? 0 : 255;
        } else {
          d[x] = src[c];
        }
      }
    }
  }
  FinishRebuild(s, third, false);
  return RebuildOutcome::Rebuilt;
}

RebuildOutcome RebuildDisplayBilevelGrey(ProgressiveDisplay* pd) {
  RebuildSetup s;
  RebuildOutcome result = RebuildOutcome::Nothing;
  DisplayImagePtr third = StartBilevelRebuild(pd, &s, &result);
  if (!third) return result;
  ImageState& image = *pd->image;
  RowSource rows;
  if (!rows.Open(pd)) return RebuildOutcome::OutOfMemory;
  const int32_t f = s.fit.factor;
  const int32_t w = image.width;
  const int32_t n = std::max(2, f / 10000);
  std::vector<uint32_t> counts(static_cast<size_t>(s.fit.width));
  {
    std::lock_guard<std::mutex> l(third->lock);
    for (int32_t r = 0; r < s.fit.height; ++r) {
      uint8_t* d = third->Row(r);
      const int32_t base = image.region.top + ToImage(r, f);
      if (f <= 10000) {
        const uint8_t* src = rows.Get(base);
        for (int32_t x = 0; x < s.fit.width; ++x) {
          const int32_t c = std::min(image.region.left + ToImage(x, f), w - 1);
          if (c < 0) break;
          d[x] = src[c];
        }
        continue;
      }
      std::fill(counts.begin(), counts.end(), 0u);
      for (int32_t j = 0; j < n; ++j) {
        const int32_t y = base - n / 2 + j;
        if (y < 0 || y >= image.height) continue;
        const uint8_t* src = rows.Get(y);
        for (int32_t x = 0; x < s.fit.width; ++x) {
          const int32_t c = image.region.left + ToImage(x, f);
          const int32_t end = std::min(w, c + n);
          uint32_t zeros = 0;
          for (int32_t q = std::max(c, 0); q < end; ++q) zeros += src[q] == 0;
          counts[static_cast<size_t>(x)] += zeros;
        }
      }
      const int64_t box = static_cast<int64_t>(n) * n;
      for (int32_t x = 0; x < s.fit.width; ++x) {
        const int64_t b = counts[static_cast<size_t>(x)];
        int64_t dnm = box - b;
        if (dnm == 0) dnm = 1;
        const int32_t v = static_cast<int32_t>(255.0 - 255.0 * static_cast<double>(b) / static_cast<double>(dnm));
        d[x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
      }
    }
  }
  FinishRebuild(s, third, false);
  return RebuildOutcome::Rebuilt;
}

// ----- magnifier -------------------------------------------------------------------------

namespace {

DisplayImagePtr g_magnifierImage;

RebuildOutcome RenderMagnifier(ProgressiveDisplay* pd, int32_t side, DisplayImagePtr* out, Family family) {
  ImageState& image = *pd->image;
  if (side <= 0) side = 1;
  const bool colour = family == Family::Colour;
  DisplayImagePtr img = MakeDisplayImage(side, side, colour ? 24 : 8, false);
  if (!img) return RebuildOutcome::OutOfMemory;
  const bool paletteKind = image.kind == IK_PALETTE256 || image.kind == IK_PALETTE16;
  const bool classify = family != Family::BilevelAny && ClassPreviewOn(image);
  std::array<PaletteEntry, 256> palette = image.palette2;
  FilterChain previews;
  if (family != Family::BilevelAny) previews = PointPreviews(image, palette.data());
  if (family == Family::Indexed && paletteKind && !previews.Empty()) previews.ApplyToPalette();
  const uint8_t* lut = image.lookupTable.get();
  std::array<uint8_t, 256> classOf{};
  if (!colour) {
    for (size_t i = 0; i < 256; ++i) {
      img->colours[i] = ColourBytes{static_cast<uint8_t>(palette[i].red & 0xFF),
                                    static_cast<uint8_t>(palette[i].green & 0xFF),
                                    static_cast<uint8_t>(palette[i].blue & 0xFF)};
      if (classify) {
        classOf[i] = lut[CellOf(static_cast<uint8_t>(palette[i].red), static_cast<uint8_t>(palette[i].green),
                                static_cast<uint8_t>(palette[i].blue))];
      }
    }
    if (classify) {
      for (size_t i = 0; i < 256; ++i) img->colours[i] = image.classPalette[i];
    }
  }
  RowSource rows;
  if (!rows.Open(pd)) return RebuildOutcome::OutOfMemory;
  const int32_t zoom = std::clamp(MiscSettings.MagnifierZoom, 1, 4);
  const PixelRect src = image.magnifierSource;
  int32_t by = 0;
  for (int32_t y = src.top; y < src.bottom && by < side; ++y) {
    for (int32_t rep = 0; rep < zoom && by < side; ++rep, ++by) {
      if (y < 0 || y >= image.height) continue;
      const uint8_t* line = rows.Get(y);
      uint8_t* d = img->Row(by);
      int32_t bx = 0;
      for (int32_t x = src.left; x < src.right && bx < side; ++x) {
        if (x >= image.width) break;  // the rest of the row stays white
        for (int32_t rx = 0; rx < zoom && bx < side; ++rx, ++bx) {
          if (x < 0) continue;
          if (colour) {
            const uint8_t* p = line + static_cast<size_t>(x) * 3;
            if (classify) {
              const ColourBytes& cc = image.classPalette[lut[CellOf(p[0], p[1], p[2])]];
              d[3 * bx] = cc.red;
              d[3 * bx + 1] = cc.green;
              d[3 * bx + 2] = cc.blue;
            } else {
              std::memcpy(d + 3 * bx, p, 3);
            }
          } else {
            d[bx] = classify ? classOf[line[x]] : line[x];
          }
        }
      }
    }
  }
  if (!previews.Empty() && (colour || !paletteKind)) {
    for (int32_t r = 0; r < img->height; ++r) previews.Process(img->Row(r), img->stride);
  }
  g_magnifierImage = img;
  if (out) *out = img;
  if (auto* surface = static_cast<DisplaySurface*>(image.magnifierWindow)) surface->Invalidate(false);
  return RebuildOutcome::Rebuilt;
}

}  // namespace

RebuildOutcome RenderMagnifierRgb(ProgressiveDisplay* pd, int32_t side, DisplayImagePtr* out) {
  return RenderMagnifier(pd, side, out, Family::Colour);
}
RebuildOutcome RenderMagnifierIndexed(ProgressiveDisplay* pd, int32_t side, DisplayImagePtr* out) {
  return RenderMagnifier(pd, side, out, Family::Indexed);
}
RebuildOutcome RenderMagnifierBilevel(ProgressiveDisplay* pd, int32_t side, DisplayImagePtr* out) {
  return RenderMagnifier(pd, side, out, Family::BilevelAny);
}

RebuildOutcome RenderMagnifierContent(ProgressiveDisplay* pd, int32_t side, DisplayImagePtr* out) {
  if (!pd || !pd->image) return RebuildOutcome::Nothing;
  switch (FamilyOf(pd->image->kind, false)) {
    case Family::Colour:
      return RenderMagnifierRgb(pd, side, out);
    case Family::Indexed:
      return RenderMagnifierIndexed(pd, side, out);
    case Family::BilevelAny:
    case Family::BilevelGrey:
      return RenderMagnifierBilevel(pd, side, out);
    case Family::None:
      return RebuildOutcome::Nothing;
  }
  return RebuildOutcome::Nothing;
}

// ----- whole-image show ------------------------------------------------------------------

namespace {

int32_t MagnifierSide(const ImageState& image) {
  if (auto* surface = static_cast<DisplaySurface*>(image.magnifierWindow)) return surface->ClientRect().Width();
  return std::max(MiscSettings.MagnifierDiameter, 1);
}

// A show that rebuilt the display (or the magnifier) failed only when memory was short.
ShowOutcome ShownBy(RebuildOutcome rebuilt) {
  return rebuilt == RebuildOutcome::OutOfMemory ? ShowOutcome::Stopped : ShowOutcome::Done;
}

// The sequential pass: the band drawing of `family` fed from the stream line after line.
// `converter` (bilevel) turns each line to black and white first, `delay` lines late.
ShowOutcome SequentialPass(ProgressiveDisplay* pd, Family family, FilterChain* converter, int delay) {
  ImageState& image = *pd->image;
  LineReader* reader = pd->reader;
  if (!reader->storedOpen && !reader->decodeOpen) OpenReadStream(reader, kReadSequential);
  StartBand(family, pd);
  std::vector<uint8_t> line;
  try {
    line.assign(static_cast<size_t>(std::max(image.storedLineWidth, 1)), 255);
  } catch (const std::bad_alloc&) {
    EndBand(family);
    return ShowOutcome::Stopped;
  }
  const int32_t rows = image.region.bottom - image.region.top;
  for (int i = 0; i < delay && i < rows; ++i) {
    if (ReadLines(reader, line.data(), kReadSequential, 0) != 1) break;
    if (converter) converter->Process(line.data(), line.size());
  }
  for (int32_t i = delay; i < rows + delay; ++i) {
    PumpMessages();
    if (CancelFlag.load()) break;
    if (i < rows && ReadLines(reader, line.data(), kReadSequential, 0) != 1) break;
    if (converter) converter->Process(line.data(), line.size());
    BandRows(family, line.data(), 1);
  }
  EndBand(family);
  return CancelFlag.load() ? ShowOutcome::Stopped : ShowOutcome::Done;
}

struct ShowReader {
  ProgressiveDisplay* pd;
  std::unique_ptr<LineReader> reader;
  explicit ShowReader(ProgressiveDisplay* d) : pd(d), reader(std::make_unique<LineReader>(d->image)) {
    pd->reader = reader.get();
  }
  ~ShowReader() {
    CloseReadStream(reader.get());
    pd->reader = nullptr;
  }
};

}  // namespace

ShowOutcome ShowImageRgb(ProgressiveDisplay* pd) {
  CancelFlag.store(0);
  ShowReader sr(pd);
  const int open = OpenReadStream(sr.reader.get(), kReadByNumber);
  if (open == kReadOpenOk) {
    return ShownBy(ViewDragMode.load() == kDragMagnifier ? RenderMagnifierRgb(pd, MagnifierSide(*pd->image), nullptr)
                                                         : RebuildDisplayRgb(pd));
  }
  if (pd->image->state != VS_JOIN_CANVAS) return SequentialPass(pd, Family::Colour, nullptr, 0);
  return ShownBy(RebuildDisplayRgb(pd));
}

ShowOutcome ShowImageIndexed(ProgressiveDisplay* pd) {
  CancelFlag.store(0);
  ShowReader sr(pd);
  const int open = OpenReadStream(sr.reader.get(), kReadByNumber);
  if (open == kReadOpenOk) {
    return ShownBy(ViewDragMode.load() == kDragMagnifier
                       ? RenderMagnifierIndexed(pd, MagnifierSide(*pd->image), nullptr)
                       : RebuildDisplayIndexed(pd));
  }
  return SequentialPass(pd, Family::Indexed, nullptr, 0);
}

ShowOutcome ShowImageBilevel(ProgressiveDisplay* pd) {
  CancelFlag.store(0);
  ImageState& image = *pd->image;
  FilterChain converter;
  if (ThresholdsOnTheWay(image, image)) {
    const size_t w = static_cast<size_t>(std::max(image.width, 1));
    converter = BuildFilterChain(ChainPurpose::Save, FilterSet{FilterKind::Threshold}, FilterSettings::Current(),
                                 FilterTarget{image.kind, w, nullptr, w});
  }
  const bool haveConverter = !converter.Empty();
  const Family variant = BilevelGreyDisplay() ? Family::BilevelGrey : Family::BilevelAny;
  ShowOutcome result = ShowOutcome::Done;
  {
    ShowReader sr(pd);
    const int open = OpenReadStream(sr.reader.get(), haveConverter ? kReadSequential : kReadByNumber);
    if (open == kReadOpenOk && !haveConverter) {
      result = ShownBy(ViewDragMode.load() == kDragMagnifier ? RenderMagnifierBilevel(pd, MagnifierSide(image), nullptr)
                       : variant == Family::BilevelGrey     ? RebuildDisplayBilevelGrey(pd)
                                                            : RebuildDisplayBilevel(pd));
    } else {
      result = SequentialPass(pd, variant, haveConverter ? &converter : nullptr, converter.PrimingLines());
    }
  }
  return CancelFlag.load() ? ShowOutcome::Stopped : result;
}

ShowOutcome FinishImageDisplay(ProgressiveDisplay* pd) {
  if (!pd || !pd->image) return ShowOutcome::Done;
  ShowOutcome result = ShowOutcome::Done;
  switch (FamilyOf(pd->image->kind, false)) {
    case Family::Colour:
      result = ShowImageRgb(pd);
      break;
    case Family::Indexed:
      result = ShowImageIndexed(pd);
      break;
    case Family::BilevelAny:
    case Family::BilevelGrey:
      result = ShowImageBilevel(pd);
      break;
    case Family::None:
      break;
  }
  if (IDisplaySink* sink = Host().display) sink->UpdateTitle(pd->image);
  return result;
}

// ----- printing --------------------------------------------------------------------------

namespace {

ShowOutcome PrintImage(ProgressiveDisplay* pd, int32_t pageWidth, int32_t pageHeight, DisplayImagePtr* out,
               Family family) {
  ImageState& image = *pd->image;
  const int32_t w = image.region.right - image.region.left;
  const int32_t h = image.region.bottom - image.region.top;
  const DisplayFit fit = ComputeDisplayFit(w, h, pageWidth, pageHeight);
  if (fit.factor <= 0) return ShowOutcome::Stopped;
  const bool colour = family == Family::Colour;
  const uint64_t need = static_cast<uint64_t>(fit.width) * static_cast<uint64_t>(fit.height) * 3;
  if (AvailablePhysicalMemory() < need) {
    Notify(kMsgPrintMemory, MessageIcon::Error);
    return ShowOutcome::Stopped;
  }
  DisplayImagePtr img = MakeDisplayImage(fit.width, fit.height, colour ? 24 : 8, false);
  if (!img) return ShowOutcome::Stopped;
  std::array<PaletteEntry, 256> palette = image.palette2;
  const bool paletteKind = image.kind == IK_PALETTE256 || image.kind == IK_PALETTE16;
  FilterChain previews;
  if (family != Family::BilevelAny) previews = PointPreviews(image, palette.data());
  if (!colour && paletteKind && !previews.Empty()) previews.ApplyToPalette();
  if (!colour) {
    for (size_t i = 0; i < 256; ++i) {
      img->colours[i] = ColourBytes{static_cast<uint8_t>(palette[i].red & 0xFF),
                                    static_cast<uint8_t>(palette[i].green & 0xFF),
                                    static_cast<uint8_t>(palette[i].blue & 0xFF)};
    }
  }
  ShowReader sr(pd);
  OpenReadStream(sr.reader.get(), kReadByNumber);
  RowSource rows;
  if (!rows.Open(pd)) return ShowOutcome::Stopped;
  const int32_t f = fit.factor;
  for (int32_t r = 0; r < fit.height; ++r) {
    const uint8_t* src = rows.Get(image.region.top + ToImage(r, f));
    uint8_t* d = img->Row(r);
    for (int32_t x = 0; x < fit.width; ++x) {
      const int32_t c = image.region.left + ToImage(x, f);
      if (c > image.width - 1) break;
      if (colour) {
        std::memcpy(d + 3 * x, src + static_cast<size_t>(c) * 3, 3);
      } else {
        d[x] = src[c];
      }
    }
  }
  if (!previews.Empty() && (colour || !paletteKind)) {
    for (int32_t r = 0; r < img->height; ++r) previews.Process(img->Row(r), img->stride);
  }
  if (out) *out = img;
  return CancelFlag.load() ? ShowOutcome::Stopped : ShowOutcome::Done;
}

}  // namespace

ShowOutcome PrintImageRgb(ProgressiveDisplay* pd, int32_t pageWidth, int32_t pageHeight, DisplayImagePtr* out) {
  return PrintImage(pd, pageWidth, pageHeight, out, Family::Colour);
}
ShowOutcome PrintImageIndexed(ProgressiveDisplay* pd, int32_t pageWidth, int32_t pageHeight, DisplayImagePtr* out) {
  return PrintImage(pd, pageWidth, pageHeight, out, Family::Indexed);
}
ShowOutcome PrintImageBilevel(ProgressiveDisplay* pd, int32_t pageWidth, int32_t pageHeight, DisplayImagePtr* out) {
  return PrintImage(pd, pageWidth, pageHeight, out, Family::BilevelAny);
}

ShowOutcome RenderImageForPrint(ProgressiveDisplay* pd, int32_t pageWidth, int32_t pageHeight, DisplayImagePtr* out) {
  if (!pd || !pd->image) return ShowOutcome::Done;
  switch (FamilyOf(pd->image->kind, false)) {
    case Family::Colour:
      return PrintImageRgb(pd, pageWidth, pageHeight, out);
    case Family::Indexed:
      return PrintImageIndexed(pd, pageWidth, pageHeight, out);
    case Family::BilevelAny:
    case Family::BilevelGrey:
      return PrintImageBilevel(pd, pageWidth, pageHeight, out);
    case Family::None:
      return ShowOutcome::Done;
  }
  return ShowOutcome::Done;
}
