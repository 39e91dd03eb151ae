#include "app/ViewInteraction.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "engine/AppStatus.h"
#include "engine/ReadWrite/LineReader.h"

namespace orb {

bool ViewMouseBlocked(uint32_t status) {
  return ScanStateOf(status) == ScanState::Scanning || HasStatus(status, StatusBit::Busy);
}

ShowingTools ShowingTools::For(const ViewContext& view) {
  ShowingTools t;
  t.join = ShowingViewTool(ViewToolRole::Join, view);
  t.crop = ShowingViewTool(ViewToolRole::Crop, view);
  t.deskew = ShowingViewTool(ViewToolRole::Deskew, view);
  t.split = ShowingViewTool(ViewToolRole::Split, view);
  t.colourClass = ShowingViewTool(ViewToolRole::ColourClass, view);
  t.despeckle = ShowingViewTool(ViewToolRole::Despeckle, view);
  return t;
}

ToolPress PressTools(const ShowingTools& tools, const ViewContext& view, Point p) {
  ToolPress press;
  auto ask = [&](IToolViewHooks* page) {
    if (!page) return;
    if (const uint16_t mode = page->OnButtonDown(view, p); mode != drag::None) {
      press.mode = mode;
      press.owner = page;
    }
  };
  ask(tools.join);
  if (tools.crop) {
    ask(tools.crop);
  } else if (tools.deskew) {
    ask(tools.deskew);
  } else if (!tools.split) {
    ask(tools.colourClass);
  } else {
    ask(tools.split);
  }
  return press;
}

uint16_t MoveCursor(const ShowingTools& tools, const ViewContext& view, Point p, bool dragScroll) {
  uint16_t id = dragScroll ? cursor::DragScroll : cursor::View;
  auto ask = [&](IToolViewHooks* page, bool skipOwnCursors) {
    if (!page) return;
    const uint16_t hit = page->HitTest(view, p);
    if (hit == cursor::None) return;
    if (skipOwnCursors && (hit == cursor::View || hit == cursor::DragScroll)) return;
    id = hit;
  };
  ask(tools.join, false);
  if (tools.deskew) {
    ask(tools.deskew, false);
  } else if (tools.crop) {
    ask(tools.crop, false);
  } else if (!tools.split) {
    ask(tools.colourClass, true);
  } else {
    ask(tools.split, false);
  }
  return id;
}

Rect NormalisedRect(Point a, Point b) {
  return Rect{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
}

Point ClampIntoRect(Point p, const Rect& r) {
  if (r.right <= r.left || r.bottom <= r.top) return p;
  return Point{std::clamp(p.x, r.left, r.right - 1), std::clamp(p.y, r.top, r.bottom - 1)};
}

PixelRect BandToImageRect(const Rect& band, const ViewContext& view) {
  const Point a = view.ToImage(Point{band.left, band.top});
  const Point b = view.ToImage(Point{band.right, band.bottom});
  return PixelRect{a.x, a.y, b.x, b.y};
}

BandResult ClassifyBand(const PixelRect& r) {
  const bool w = r.right != r.left, h = r.bottom != r.top;
  if (w && h) return BandResult::ZoomToRect;
  if (!w && !h) return BandResult::Click;
  return BandResult::Nothing;
}

Point ScrollShift(Point start, Point p, int32_t zoom) {
  return Point{static_cast<int32_t>(static_cast<int64_t>(start.x - p.x) * zoom / 10000),
               static_cast<int32_t>(static_cast<int64_t>(start.y - p.y) * zoom / 10000)};
}

namespace {

// Moves [start, end) by `by` and back inside [0, size) without changing its extent (an
// extent larger than the image starts at 0).
void ShiftAxis(int32_t& start, int32_t& end, int32_t by, int32_t size) {
  const int32_t extent = end - start;
  int64_t s = static_cast<int64_t>(start) + by;
  s = std::min<int64_t>(s, static_cast<int64_t>(size) - extent);
  s = std::max<int64_t>(s, 0);
  start = static_cast<int32_t>(s);
  end = start + extent;
}

}  // namespace

PixelRect ShiftRegion(const PixelRect& region, Point shift, int32_t imageWidth, int32_t imageHeight) {
  PixelRect r = region;
  ShiftAxis(r.left, r.right, shift.x, imageWidth);
  ShiftAxis(r.top, r.bottom, shift.y, imageHeight);
  return r;
}

CursorChoice ChooseCursor(uint32_t status, uint16_t cursorId) {
  using Kind = CursorChoice::Kind;
  if (HasStatus(status, StatusBit::ColourPickRequested)) return CursorChoice{Kind::ControlPick, cursorId};
  if (HasStatus(status, StatusBit::AreaMergeRequested)) {
    if (cursorId >= 301 && cursorId <= 309) return CursorChoice{Kind::Program, cursorId};
    return CursorChoice{Kind::ControlMerge, cursorId};
  }
  if (cursorId >= 300 && cursorId <= 309) return CursorChoice{Kind::Program, cursorId};
  return CursorChoice{Kind::System, cursorId};
}

namespace {

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::string PixelReadout(std::string_view label, ColourBytes c) {
  char tail[48];
  std::snprintf(tail, sizeof tail, " (%d,%d,%d)", c.red, c.green, c.blue);
  return std::string(TrimRight(label)) + tail;
}

std::string PositionReadout(std::string_view label, Point p) {
  char tail[64];
  std::snprintf(tail, sizeof tail, " (x=%d, y=%d)", p.x, p.y);
  return std::string(TrimRight(label)) + tail;
}

RightRelease RightButtonRelease(const RightReleaseInput& in) {
  using Kind = RightRelease::Kind;
  auto byMode = [&](int one, int two, int other) {
    return RightRelease{Kind::Menu, in.joinMode == 1 ? one : in.joinMode == 2 ? two : other};
  };
  if (in.joinCanvas && in.cursorId == cursor::JoinSelected) return byMode(140, 142, 138);
  if (in.joinCanvas && in.cursorId == cursor::JoinItem) return byMode(141, 143, 137);
  if (in.colourClassShown && in.cursorId != cursor::View && in.cursorId != cursor::DragScroll) {
    return RightRelease{Kind::Menu, in.areaMergeRequested ? 136 : 135};
  }
  if (in.dragMode == drag::RubberBand) return RightRelease{Kind::DespeckleBand, 0};
  return RightRelease{Kind::ZoomOut, 0};
}

std::optional<int32_t> SpeckSizeOfBand(const PixelRect& r) {
  const int32_t w = r.right - r.left, h = r.bottom - r.top;
  if (w == 0 || h == 0) return std::nullopt;
  return std::max(std::abs(w), std::abs(h));
}

size_t ColourCell(ColourBytes c) {
  return (static_cast<size_t>(c.red & 0xF8) << 8) | (static_cast<size_t>(c.green & 0xFC) << 3) | (c.blue >> 3);
}

ColourBytes LinePixelColour(const ImageState& image, const uint8_t* line, int32_t x) {
  if (image.kind == IK_RGB) {
    const uint8_t* p = line + static_cast<size_t>(x) * 3;
    return ColourBytes{p[0], p[1], p[2]};
  }
  const bool bilevel = image.kind == IK_BW || image.kind == IK_BW_FROM_GREEN || image.kind == IK_BW_SEPARATES ||
                       image.kind == IK_BW_SAVED_AS_4;
  if (bilevel) {
    const uint8_t v = line[x] ? 255 : 0;
    return ColourBytes{v, v, v};
  }
  const PaletteEntry& e = image.palette[line[x]];
  return ColourBytes{static_cast<uint8_t>(e.red & 0xFF), static_cast<uint8_t>(e.green & 0xFF),
                     static_cast<uint8_t>(e.blue & 0xFF)};
}

namespace {

// A read stream over `image` by line number, closed with the object.
class LineSource {
 public:
  explicit LineSource(ImageState* image) : m_reader(image) {
    m_open = OpenReadStream(&m_reader, kReadByNumber) == kReadOpenOk;
    if (m_open) {
      try {
        m_line.assign(static_cast<size_t>(std::max(image->storedLineWidth, 1)), 0);
      } catch (const std::bad_alloc&) {
        m_open = false;
      }
    }
  }
  ~LineSource() { CloseReadStream(&m_reader); }
  const uint8_t* Read(int32_t y) {
    if (!m_open || ReadLines(&m_reader, m_line.data(), kReadByNumber, y) != 1) return nullptr;
    return m_line.data();
  }

 private:
  LineReader m_reader;
  std::vector<uint8_t> m_line;
  bool m_open = false;
};

// Whether pixel x lies inside a stored line of the image.
bool LineHolds(const ImageState& image, int32_t x) {
  const int64_t need = image.kind == IK_RGB ? (static_cast<int64_t>(x) + 1) * 3 : static_cast<int64_t>(x) + 1;
  return need <= image.storedLineWidth;
}

}  // namespace

std::optional<uint8_t> PickColourClass(ImageState* image, Point p) {
  if (!image || !image->lookupTable) return std::nullopt;
  if (p.x < 0 || p.y < 0 || p.x >= image->width || p.y >= image->height || !LineHolds(*image, p.x)) {
    return std::nullopt;
  }
  LineSource source(image);
  const uint8_t* line = source.Read(p.y);
  if (!line) return std::nullopt;
  return image->lookupTable[ColourCell(LinePixelColour(*image, line, p.x))];
}

std::optional<std::array<uint32_t, 256>> CollectColourClasses(ImageState* image, const Rect& area,
                                                             const std::function<bool()>& pump) {
  if (!image || !image->lookupTable) return std::nullopt;
  const Rect r{std::max(area.left, 0), std::max(area.top, 0), std::min(area.right, image->width),
               std::min(area.bottom, image->height)};
  std::array<uint32_t, 256> flags{};
  if (r.right <= r.left || r.bottom <= r.top || !LineHolds(*image, r.right - 1)) return flags;
  LineSource source(image);
  const uint8_t* lut = image->lookupTable.get();
  for (int32_t y = r.top; y < r.bottom; ++y) {
    if (pump && !pump()) return std::nullopt;
    const uint8_t* line = source.Read(y);
    if (!line) return std::nullopt;
    for (int32_t x = r.left; x < r.right; ++x) flags[lut[ColourCell(LinePixelColour(*image, line, x))]] = 1;
  }
  return flags;
}

}  // namespace orb
