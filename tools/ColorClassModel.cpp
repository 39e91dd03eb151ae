#include "tools/ColorClassModel.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "color_control/TintwellInterface.h"
#include "engine/EngineHost.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/LineWriter.h"
#include "engine/Settings.h"
#include "platform/Files.h"
#include "tools/ToolTable.h"

namespace orb::tools {
namespace fs = std::filesystem;

namespace {

std::string Trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return s.substr(a, b - a);
}

// The colour of a stored pixel of the working image: R, G, B bytes, or a palette index.
struct PixelColours {
  const ImageState& image;
  bool rgb;
  void At(const uint8_t* line, int32_t x, uint8_t& r, uint8_t& g, uint8_t& b) const {
    if (rgb) {
      r = line[3 * x];
      g = line[3 * x + 1];
      b = line[3 * x + 2];
      return;
    }
    const PaletteEntry& e = image.palette[line[x]];
    r = static_cast<uint8_t>(std::min<uint16_t>(e.red, 255));
    g = static_cast<uint8_t>(std::min<uint16_t>(e.green, 255));
    b = static_cast<uint8_t>(std::min<uint16_t>(e.blue, 255));
  }
};

// Reads the image's lines in order with its region the whole image, restored afterwards.
class WholeImageLines {
 public:
  explicit WholeImageLines(ImageState* image) : m_image(image), m_saved(image->region), m_reader(image) {
    image->region = PixelRect{0, 0, image->width, image->height};
    m_open = OpenReadStream(&m_reader, kReadSequential) == kReadOpenOk;
    if (m_open) m_line.resize(static_cast<size_t>(std::max(SourceLineBytes(*image), 3 * image->width)));
  }
  ~WholeImageLines() {
    if (m_open) CloseReadStream(&m_reader);
    m_image->region = m_saved;
  }
  bool Open() const { return m_open; }
  const uint8_t* Next() {
    return ReadLines(&m_reader, m_line.data(), kReadSequential, 0) == 1 ? m_line.data() : nullptr;
  }

 private:
  ImageState* m_image;
  PixelRect m_saved;
  LineReader m_reader;
  bool m_open = false;
  std::vector<uint8_t> m_line;
};

}  // namespace

// ----- enabling -------------------------------------------------------------------------

ColorClassEnabling ColorClassEnablingFor(bool pathSet, bool scanning, int kind) {
  ColorClassEnabling e;
  e.edit = pathSet;
  if (scanning || kind < 0) return e;
  e.classify = e.addArea = kind == IK_RGB;
  e.apply = e.defaultPal = e.separate = pathSet && (kind == IK_RGB || kind == IK_PALETTE256 || kind == IK_PALETTE16);
  return e;
}

int32_t ParseNumberOfColours(const std::string& text) {
  const std::string t = Trim(text);
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  int64_t v = 0;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])) && v < 100000) v = v * 10 + (t[i++] - '0');
  if (negative) v = -v;
  return static_cast<int32_t>(std::clamp<int64_t>(v, 1, 256));
}

// ----- the palette path ------------------------------------------------------------------

PathCheck CheckPalettePath(const std::string& typed, const std::string& outputName) {
  PathCheck c;
  std::string path = Trim(typed);
  if (path.empty()) return c;
  if (path.find('/') == std::string::npos) {
    const fs::path folder = fs::path(outputName.empty() ? std::string("Scan-0001.tif") : outputName).parent_path();
    path = (folder.empty() ? fs::current_path() : folder) / path;
  }
  std::error_code ec;
  const fs::path parent = fs::path(path).parent_path();
  if (!parent.empty() && !fs::is_directory(parent, ec)) {
    c.result = PathCheck::FolderMissing;
    return c;
  }
  if (fs::is_directory(path, ec)) {
    c.result = PathCheck::IsFolder;
    return c;
  }
  c.result = PathCheck::Stored;
  c.path = path;
  return c;
}

// ----- palette files ----------------------------------------------------------------------

bool LoadPalette(const std::string& path, PaletteFile& file, bool quiet) {
  if (!path.empty() && LoadPaletteFile(path, file)) return true;
  if (!quiet) Notify(kMsgPaletteUnreadable, MessageIcon::Exclamation, {MessageArg{path}});
  return false;
}

int PaletteOutputColours(const std::string& path) { return path.empty() ? 0 : ReadPaletteOutputCount(path); }

bool SaveReportedPalette(const std::string& path, const ReportedPalette& reported) {
  if (reported.colours < 1 || reported.colours > 256 || reported.lut.size() != 65536) return false;
  auto file = std::make_unique<PaletteFile>();
  file->Header = 2;
  file->N = file->M = static_cast<uint8_t>(reported.colours - 1);
  std::memcpy(file->Lookup, reported.lut.data(), 65536);
  std::memcpy(file->Palette, reported.palette.data(), 768);
  std::memcpy(file->OutputPalette, reported.palette.data(), 768);
  for (uint32_t i = 0; i < 256; ++i) file->Map[i] = static_cast<uint8_t>(i < reported.colours ? i : 0);
  // A table entry beyond the colours would make a file that no load accepts.
  for (uint8_t& cell : file->Lookup) cell = static_cast<uint8_t>(std::min<uint32_t>(cell, reported.colours - 1));
  return SavePaletteFile(path, *file);
}

bool MakeDefaultScanPalette(const std::string& path) {
  auto file = std::make_unique<PaletteFile>();
  if (!LoadPalette(path, *file)) return false;
  const bool sixteen = file->M + 1 <= 16;
  return sixteen ? SetTextField(ScanSettings.Palette16File, path) : SetTextField(ScanSettings.Palette256File, path);
}

// ----- areas --------------------------------------------------------------------------

void ClassAreas::Add(const PixelRect& region) {
  const int32_t w = region.right - region.left, h = region.bottom - region.top;
  m_areas.push_back(ClassArea{region.left + w / 4, region.top + h / 4, std::max(w / 2, 3), std::max(h / 2, 3), 0, 0});
  m_current = static_cast<int>(m_areas.size()) - 1;
}

void ClassAreas::RemoveCurrent() {
  if (m_current < 0 || m_current >= static_cast<int>(m_areas.size())) return;
  m_areas.erase(m_areas.begin() + m_current);
  m_current = m_areas.empty() ? -1 : std::max(m_current - 1, 0);
}

void ClassAreas::Clear() {
  m_areas.clear();
  m_current = -1;
}

uint16_t ClassAreas::HitTest(Point p, bool select) {
  for (int i = static_cast<int>(m_areas.size()) - 1; i >= 0; --i) {
    const ClassArea& a = m_areas[static_cast<size_t>(i)];
    const int32_t l = a.left, t = a.top, r = a.left + a.width, b = a.top + a.height;
    if (p.x < l - 2 || p.x > r + 2 || p.y < t - 2 || p.y > b + 2) continue;
    // Corner handles reach from 2 pixels outside to 9 inside; side handles 5 either side
    // of the middle.
    auto nearEdge = [](int32_t v, int32_t edge, bool low) { return low ? v <= edge + 9 : v >= edge - 9; };
    const bool nearL = nearEdge(p.x, l, true), nearR = nearEdge(p.x, r, false);
    const bool nearT = nearEdge(p.y, t, true), nearB = nearEdge(p.y, b, false);
    uint16_t c = kCursorAreaInside;
    if ((nearL && nearT) || (nearR && nearB)) c = kCursorAreaNWSE;
    else if ((nearL && nearB) || (nearR && nearT)) c = kCursorAreaNESW;
    else if ((nearT || nearB) && std::abs(p.x - (l + r) / 2) <= 5) c = kCursorAreaNS;
    else if ((nearL || nearR) && std::abs(p.y - (t + b) / 2) <= 5) c = kCursorAreaWE;
    if (select) m_current = i;
    return c;
  }
  return kCursorAreaNone;
}

void ClassAreas::Drag(uint16_t grip, int32_t dx, int32_t dy, int32_t imageWidth, int32_t imageHeight) {
  if (m_current < 0 || m_current >= static_cast<int>(m_areas.size())) return;
  ClassArea& a = m_areas[static_cast<size_t>(m_current)];
  if (grip == kCursorAreaInside) {
    a.left = std::clamp(a.left + dx, 0, std::max(imageWidth - a.width, 0));
    a.top = std::clamp(a.top + dy, 0, std::max(imageHeight - a.height, 0));
    return;
  }
  int32_t l = a.left, t = a.top, r = a.left + a.width, b = a.top + a.height;
  const bool horizontal = grip != kCursorAreaNS, vertical = grip != kCursorAreaWE;
  // Which edges a grip moves: the corner cursors do not say which corner, so the edge
  // nearer the drag's direction follows it.
  if (horizontal) (dx < 0 ? l : r) += dx;
  if (vertical) (dy < 0 ? t : b) += dy;
  l = std::clamp(l, 0, imageWidth - 3);
  t = std::clamp(t, 0, imageHeight - 3);
  r = std::clamp(r, l + 3, imageWidth);
  b = std::clamp(b, t + 3, imageHeight);
  a = ClassArea{l, t, r - l, b - t, a.extra1, a.extra2};
}

// ----- classification --------------------------------------------------------------------

bool FeedHistogram(ImageState* image, const std::vector<ClassArea>& areas, _DTintwell& control,
                   const std::function<void(int lines)>& step) {
  if (!image || image->kind != IK_RGB || image->width <= 0) return false;
  CancelFlag = 0;
  WholeImageLines lines(image);
  if (!lines.Open()) return false;
  for (int32_t y = 0; y < image->height; ++y) {
    PumpMessages();
    if (IsCancelled()) return false;
    const uint8_t* line = lines.Next();
    if (!line) return false;
    if (areas.empty()) {
      control.BuildHistogram(line, image->width, 1);
    } else {
      for (const ClassArea& a : areas) {
        if (y < a.top || y >= a.top + a.height) continue;
        const int32_t left = std::clamp(a.left, 0, image->width);
        const int32_t width = std::clamp(a.width, 0, image->width - left);
        if (width > 0) control.BuildHistogram(line + 3 * static_cast<size_t>(left), width, 1);
      }
    }
    if (step) step(1);
  }
  return true;
}

// ----- applying ------------------------------------------------------------------------

ApplyOutcome ConvertToPaletteImage(ImageState* working, const PaletteFile& file, const ApplyProgressFactory& progress) {
  if (!working) return {ApplyResult::NoImage, working};
  const bool rgb = working->kind == IK_RGB;
  const int outputs = file.M + 1;
  LineTransform t;
  t.prepare = [&file, outputs](const ImageState&, ImageState& made) {
    made.kind = outputs > 16 ? IK_PALETTE256 : IK_PALETTE16;
    for (size_t i = 0; i < 256; ++i) {
      const bool used = static_cast<int>(i) < outputs;
      PaletteEntry e;
      if (used) e = PaletteEntry{file.OutputPalette[3 * i], file.OutputPalette[3 * i + 1], file.OutputPalette[3 * i + 2]};
      made.palette[i] = made.palette2[i] = e;
    }
    made.edited = 1;
  };
  const int32_t width = working->width;
  const int32_t outStride = StoredLineWidthFor(outputs > 16 ? IK_PALETTE256 : IK_PALETTE16, width);
  const int32_t inStride = SourceLineBytes(*working);
  PixelColours colours{*working, rgb};
  t.convert = [&file, &colours, width, inStride, outStride](const uint8_t* in, int32_t count, uint8_t* out) {
    for (int32_t y = 0; y < count; ++y) {
      const uint8_t* src = in + static_cast<size_t>(y) * static_cast<size_t>(inStride);
      uint8_t* dst = out + static_cast<size_t>(y) * static_cast<size_t>(outStride);
      for (int32_t x = 0; x < width; ++x) {
        uint8_t r, g, b;
        colours.At(src, x, r, g, b);
        dst[x] = ClassOf(file.Lookup, r, g, b);
      }
      if (outStride > width) std::memset(dst + width, 0, static_cast<size_t>(outStride - width));
    }
  };
  return RunLineTransform(working, ApplyPlan{FilterKind::Invert, kStrConverting, kOpPalette, KindRule::Keep}, t,
                          progress);
}

std::vector<std::string> SeparationTargets(const std::string& source, int colours) {
  const fs::path p(source);
  std::string ext = p.extension().string();
  std::string lower = ext;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // The separations are TIFF files: a source of another format lends its name, not its
  // extension.
  if (lower != ".tif" && lower != ".tiff") ext = ".tif";
  std::vector<std::string> out;
  for (int k = 1; k <= colours; ++k)
    out.push_back((p.parent_path() / (p.stem().string() + "_" + std::to_string(k) + ext)).string());
  return out;
}

namespace {

// One separation image being written into its temporary.
struct Separation {
  std::string target, temp;
  ImageState* record = nullptr;
  std::unique_ptr<LineWriter> writer;
  bool open = false;
  ~Separation() {
    if (open) CloseWriteStream(writer.get());
    writer.reset();
    if (record) {
      if (record->fileHandle >= 0) ::close(record->fileHandle);
      record->fileHandle = kNoFile;
      orb::FreeImageChain(record);
    }
    if (!temp.empty()) ::unlink(temp.c_str());
  }
  bool Start(const ImageState& source) {
    const std::string folder = fs::path(target).parent_path().string();
    if (!MakeTempTiffName(folder, temp)) return false;
    record = orb::NewImageState();
    record->kind = IK_BW;
    record->width = source.width;
    record->height = source.height;
    record->xDpi = source.xDpi;
    record->yDpi = source.yDpi;
    record->storedLineWidth = StoredLineWidthFor(IK_BW, source.width);
    record->bitsPerSample = 8;
    record->samplesPerPixel = 1;
    record->bitsPerPixel = 8;
    record->outputFormat = OF_RAW_BW_LE;
    record->photometric = PM_BLACK_IS_ZERO;  // a white pixel is packed as a set bit
    record->sourcePath = temp;
    record->region = PixelRect{0, 0, source.width, source.height};
    record->fileHandle = OpenSharedFile(temp, O_RDWR | O_CREAT | O_TRUNC);
    if (record->fileHandle < 0) return false;
    writer = std::make_unique<LineWriter>(record);
    open = StartImageOutput(writer.get()) == 0 && OpenWriteStream(writer.get()) == 0;
    return open;
  }
  bool Finish() {
    open = false;
    const bool closed = CloseWriteStream(writer.get()) == 0;
    ::close(record->fileHandle);
    record->fileHandle = kNoFile;
    return closed;
  }
};

}  // namespace

bool SeparateByColour(ImageState* working, const PaletteFile& file,
                      const std::function<bool(const std::string& target)>& replace,
                      const std::function<void(int lines)>& step) {
  if (!working || working->width <= 0) return false;
  const int colours = file.M + 1;
  const std::vector<std::string> targets = SeparationTargets(working->sourcePath, colours);
  std::error_code ec;
  for (const std::string& t : targets) {
    if (fs::exists(t, ec) && !(replace && replace(t))) return false;
  }
  CancelFlag = 0;
  std::vector<std::unique_ptr<Separation>> out;
  for (const std::string& t : targets) {
    out.push_back(std::make_unique<Separation>());
    out.back()->target = t;
    if (!out.back()->Start(*working)) {
      Notify(kMsgApplyWriteFailed, MessageIcon::Error, {MessageArg{t}});
      return false;
    }
  }
  WholeImageLines lines(working);
  if (!lines.Open()) {
    Notify(kMsgApplyReadFailed, MessageIcon::Error, {MessageArg{working->sourcePath}});
    return false;
  }
  PixelColours pixel{*working, working->kind == IK_RGB};
  const auto width = static_cast<size_t>(working->width);
  std::vector<uint8_t> classes(width), bw(static_cast<size_t>(out.front()->record->storedLineWidth));
  for (int32_t y = 0; y < working->height; ++y) {
    PumpMessages();
    if (IsCancelled()) return false;
    const uint8_t* line = lines.Next();
    if (!line) {
      Notify(kMsgApplyReadFailed, MessageIcon::Error, {MessageArg{working->sourcePath}});
      return false;
    }
    for (size_t x = 0; x < width; ++x) {
      uint8_t r, g, b;
      pixel.At(line, static_cast<int32_t>(x), r, g, b);
      classes[x] = ClassOf(file.Lookup, r, g, b);
    }
    for (int k = 0; k < colours; ++k) {
      std::fill(bw.begin(), bw.end(), uint8_t{255});
      for (size_t x = 0; x < width; ++x) {
        if (classes[x] == k) bw[x] = 0;
      }
      Separation& s = *out[static_cast<size_t>(k)];
      if (WriteLines(s.writer.get(), bw.data(), static_cast<int64_t>(bw.size())) != 0) {
        Notify(kMsgApplyWriteFailed, MessageIcon::Error, {MessageArg{s.target}});
        return false;
      }
    }
    if (step) step(1);
  }
  for (auto& s : out) {
    if (!s->Finish()) {
      Notify(kMsgApplyWriteFailed, MessageIcon::Error, {MessageArg{s->target}});
      return false;
    }
  }
  // Every image is whole: only now do the targets change.
  for (auto& s : out) {
    if (!ReplaceWithFlushedFile(s->temp, s->target)) {
      Notify(kMsgApplyWriteFailed, MessageIcon::Error, {MessageArg{s->target}});
      return false;
    }
    s->temp.clear();
  }
  return true;
}

}  // namespace orb::tools
