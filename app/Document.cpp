#include "app/Document.h"

#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

#include "app/Display.h"
#include "common/Messages.h"
#include "engine/EngineHost.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/LineWriter.h"
#include "engine/ReadWrite/ScanOutput.h"
#include "engine/ReadWrite/TiffHeader.h"
#include "engine/SharedRoutines.h"
#include "engine/ToolSettings.h"
#include "engine/filters/FilterChain.h"
#include "platform/Files.h"

namespace orb {
namespace {

constexpr int kMsgNoRoom = 33018;
constexpr int kMsgSaving = 33030;
constexpr int kMsgDecodeFailed = 201;
constexpr int kMsgDecodedDamaged = 202;
constexpr int kMsgNoSuchFile = 35230;
constexpr int kMsgNotAFile = 35231;
constexpr int kMsgCannotOpen = 35232;
constexpr int kMsgWriteFailed = 35201;

inline int EffectiveKind(int kind) { return kind == IK_BW_SAVED_AS_4 ? IK_BW : kind; }

std::string FolderOf(const std::string& path) {
  std::filesystem::path p(path);
  std::string folder = p.parent_path().string();
  return folder.empty() ? std::string(".") : folder;
}

void RemoveFile(const std::string& path) {
  if (!path.empty()) ::unlink(path.c_str());
}

}  // namespace

// ----- formats ---------------------------------------------------------------------------

const std::vector<uint32_t>& AllowedOutputFormats(int kind) {
  static const std::vector<uint32_t> kColour{OF_JPEG, OF_JPEG2000, OF_PDF_JPEG, OF_PNG, OF_TIFF,
                                             OF_TIFF_PACKBITS, OF_TIFF_JPEG, OF_BMP};
  static const std::vector<uint32_t> kPalette{OF_PNG, OF_TIFF, OF_TIFF_PACKBITS, OF_BMP};
  static const std::vector<uint32_t> kGrey{OF_JPEG, OF_PDF_JPEG, OF_PNG, OF_TIFF, OF_TIFF_PACKBITS, OF_BMP};
  static const std::vector<uint32_t> kBilevel{OF_PDF_G4, OF_TIFF, OF_TIFF_G3, OF_TIFF_G4, OF_TIFF_PACKBITS, OF_BMP};
  static const std::vector<uint32_t> kNone;
  switch (EffectiveKind(kind)) {
    case IK_RGB:
      return kColour;
    case IK_PALETTE256:
    case IK_PALETTE16:
      return kPalette;
    case IK_GREY:
    case IK_GREY_FROM_GREEN:
      return kGrey;
    case IK_BW:
    case IK_BW_FROM_GREEN:
      return kBilevel;
    default:
      return kNone;
  }
}

bool IsOutputFormatAllowed(int kind, uint32_t format) {
  const auto& list = AllowedOutputFormats(kind);
  return std::find(list.begin(), list.end(), format) != list.end();
}

const std::vector<SaveAsType>& SaveAsTypes(int kind) {
  static const std::vector<SaveAsType> kColour{
      {"JPEG (*.jpg, *.jpeg)", "*.jpg;*.jpeg", OF_JPEG, 1},
      {"JPEG 2000 (*.jp2)", "*.jp2", OF_JPEG2000, 6},
      {"PDF compressed jpg (*.pdf)", "*.pdf", OF_PDF_JPEG, 2},
      {"PNG (*.png)", "*.png", OF_PNG, 0},
      {"TIFF Uncompressed (*.tif, *.tiff)", "*.tif;*.tiff", OF_TIFF, 0},
      {"TIFF Packbits (*.tif, *.tiff)", "*.tif; *.tiff", OF_TIFF_PACKBITS, 0},
      {"TIFF JPEG (*.tif, *.tiff)", "*.tif; *.tiff", OF_TIFF_JPEG, 0},
  };
  static const std::vector<SaveAsType> kPalette{
      {"PNG (*.png)", "*.png", OF_PNG, 0},
      {"TIFF Uncompressed (*.tif, *.tiff)", "*.tif;*.tiff", OF_TIFF, 0},
      {"TIFF Packbits (*.tif, *.tiff)", "*.tif;*.tiff", OF_TIFF_PACKBITS, 0},
  };
  static const std::vector<SaveAsType> kGrey{
      {"JPEG (*.jpg, *.jpeg)", "*.jpg;*.jpeg", OF_JPEG, 5},
      {"PDF compressed jpg (*.pdf)", "*.pdf", OF_PDF_JPEG, 4},
      {"PNG (*.png)", "*.png", OF_PNG, 0},
      {"TIFF Uncompressed (*.tif, *.tiff)", "*.tif;*.tiff", OF_TIFF, 0},
      {"TIFF Packbits (*.tif, *.tiff)", "*.tif;*.tiff", OF_TIFF_PACKBITS, 0},
  };
  static const std::vector<SaveAsType> kBilevel{
      {"PDF ccitt-g4 (*.pdf)", "*.pdf", OF_PDF_G4, 0},
      {"TIFF Uncompressed (*.tif, *.tiff)", "*.tif;*.tiff", OF_TIFF, 0},
      {"TIFF Group 3 (*.tif, *.tiff)", "*.tif;*.tiff", OF_TIFF_G3, 0},
      {"TIFF Group 4 (*.tif, *.tiff)", "*.tif;*.tiff", OF_TIFF_G4, 0},
      {"TIFF Packbits (*.tif, *.tiff)", "*.tif;*.tiff", OF_TIFF_PACKBITS, 0},
  };
  static const std::vector<SaveAsType> kNone;
  switch (EffectiveKind(kind)) {
    case IK_RGB:
      return kColour;
    case IK_PALETTE256:
    case IK_PALETTE16:
      return kPalette;
    case IK_GREY:
    case IK_GREY_FROM_GREEN:
      return kGrey;
    case IK_BW:
    case IK_BW_FROM_GREEN:
      return kBilevel;
    default:
      return kNone;
  }
}

std::string SaveAsFilter(int kind) {
  const auto& types = SaveAsTypes(kind);
  if (types.empty()) return {};
  std::string text;
  for (const auto& t : types) text += t.label + "|" + t.patterns + "|";
  return text + "|";
}

int PreselectSaveAsType(const std::string& filter, const std::string& extension) {
  if (extension.empty()) return -1;
  int position = 0;
  size_t at = 0;
  while ((at = filter.find("(*.", at)) != std::string::npos) {
    ++position;
    const std::string window = filter.substr(at, 7);
    if (window.find(extension) != std::string::npos) return position;
    at += 3;
  }
  return -1;
}

std::string ExtensionOfTypeLabel(const std::string& label) {
  const size_t dot = label.find('.');
  if (dot == std::string::npos) return {};
  return label.substr(dot, 4);
}

std::string FileNameForType(const std::string& fileName, int kind, int position) {
  const auto& types = SaveAsTypes(kind);
  if (position < 1 || position > static_cast<int>(types.size())) return fileName;
  std::filesystem::path p(fileName);
  p.replace_extension(ExtensionOfTypeLabel(types[static_cast<size_t>(position - 1)].label));
  return p.string();
}

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The extensions (with dot, lower case) that a type's patterns accept, e.g. ".jpg", ".jpeg".
std::vector<std::string> PatternExtensions(const std::string& patterns) {
  std::vector<std::string> out;
  size_t at = 0;
  while ((at = patterns.find("*.", at)) != std::string::npos) {
    const size_t end = patterns.find(';', at);
    out.push_back(Lower(patterns.substr(at + 1, end == std::string::npos ? std::string::npos : end - at - 1)));
    at += 2;
  }
  return out;
}

bool IsImageExtension(const std::string& ext) {
  static const char* const kKnown[] = {".jpg", ".jpeg", ".jp2", ".j2k", ".pdf", ".png", ".tif", ".tiff", ".bmp"};
  return std::find(std::begin(kKnown), std::end(kKnown), ext) != std::end(kKnown);
}

}  // namespace

std::string SaveAsFileName(const std::string& chosen, int kind, int position) {
  const auto& types = SaveAsTypes(kind);
  if (position < 1 || position > static_cast<int>(types.size())) return chosen;
  const SaveAsType& type = types[static_cast<size_t>(position - 1)];
  const std::string wanted = ExtensionOfTypeLabel(type.label);
  std::filesystem::path p(chosen);
  const std::string ext = Lower(p.extension().string());
  const auto fitting = PatternExtensions(type.patterns);
  if (!ext.empty() && std::find(fitting.begin(), fitting.end(), ext) != fitting.end()) return chosen;
  if (ext.empty() || IsImageExtension(ext)) {
    p.replace_extension(wanted);
    return p.string();
  }
  return chosen + wanted;
}

std::optional<SaveAsChoice> ResolveSaveAs(int kind, const std::string& chosen, int filterIndex, int preselect) {
  const auto& types = SaveAsTypes(kind);
  const int count = static_cast<int>(types.size());
  if (count == 0) return std::nullopt;
  int position = filterIndex + 1;
  if (position < 1 || position > count) position = preselect >= 1 && preselect <= count ? preselect : 1;
  const SaveAsType& type = types[static_cast<size_t>(position - 1)];
  return SaveAsChoice{SaveAsFileName(chosen, kind, position), type.format, type.qualityKind, position};
}

std::string SaveAsStartFolder(const std::string& lastSaveAsPath, const std::string& sourcePath) {
  std::error_code ec;
  if (!lastSaveAsPath.empty()) {
    const std::filesystem::path folder = std::filesystem::path(lastSaveAsPath).parent_path();
    if (!folder.empty() && std::filesystem::is_directory(folder, ec)) return folder.string();
  }
  return std::filesystem::path(sourcePath).parent_path().string();
}

// ----- decisions -------------------------------------------------------------------------

SavePlan PlanSave(const ImageState& f, const ImageState& w, bool sameFileSystem) {
  const bool bilevel = f.kind == IK_BW || f.kind == IK_BW_FROM_GREEN || w.kind == IK_BW_SAVED_AS_4;
  const bool ownReader = f.outputFormat >= OF_RAW_RGB_LE;
  SavePlan plan;
  if (!bilevel && ownReader && &w != &f && !w.edited && sameFileSystem) {
    plan.route = SaveRoute::Rename;
    plan.format = f.outputFormat;
    return plan;
  }
  if (ownReader) {
    plan.format = OF_TIFF;
  } else if (IsOutputFormatAllowed(w.kind, f.outputFormat)) {
    plan.format = f.outputFormat;
  } else {
    plan.route = SaveRoute::SaveAs;
    return plan;
  }
  plan.route = SaveRoute::ReEncode;
  return plan;
}

bool CloseAsks(const ImageState& f, const ImageState& w, bool discardChanges) {
  return (w.edited || &w != &f) && w.state != VS_NORMAL && !discardChanges;
}

bool IsSameFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  struct stat sa {}, sb {};
  const bool ea = ::stat(a.c_str(), &sa) == 0, eb = ::stat(b.c_str(), &sb) == 0;
  if (ea && eb) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (ea != eb) return false;
  std::error_code ec;
  return std::filesystem::absolute(a, ec).lexically_normal() == std::filesystem::absolute(b, ec).lexically_normal();
}

bool OnSameFileSystem(const std::string& a, const std::string& b) {
  auto devOf = [](const std::string& p, dev_t* dev) {
    struct stat st {};
    if (::stat(p.c_str(), &st) == 0 || ::stat(FolderOf(p).c_str(), &st) == 0) {
      *dev = st.st_dev;
      return true;
    }
    return false;
  };
  dev_t da = 0, db = 0;
  return devOf(a, &da) && devOf(b, &db) && da == db;
}

// ----- titles ----------------------------------------------------------------------------

std::string KindName(const std::string& kindNames, int kind) {
  kind = EffectiveKind(kind);
  if (kind < 0) return {};
  size_t start = 0;
  for (int i = 0; i < kind; ++i) {
    const size_t bar = kindNames.find('|', start);
    if (bar == std::string::npos) return {};
    start = bar + 1;
  }
  std::string entry = kindNames.substr(start, kindNames.find('|', start) - start);
  const size_t paren = entry.find('(');
  if (paren != std::string::npos) entry.resize(paren);
  return entry;
}

std::string DocumentTitleText(const ImageState& f, const ImageState& w, const std::string& kindNames,
                              int32_t unit) {
  const std::filesystem::path p(f.sourcePath);
  const std::string name = p.stem().string();
  const std::string ext = p.extension().string();
  const std::string width = FormatLength(unit, w.width, w.xDpi);
  const std::string height = FormatLength(unit, w.height, w.yDpi);
  const std::string text = name + ext + ":   " + width + " x " + height + "   " + KindName(kindNames, w.kind) +
                           "   " + std::to_string(w.xDpi) + " dpi";
  return "  " + text;
}

std::string MainWindowTitle(const std::string& appTitle, const std::string& documentTitle) {
  return appTitle + "  - " + documentTitle;
}

// ----- writing ---------------------------------------------------------------------------

namespace {

// The pending filters of a save or copy of `w`: the threshold on the way out, and the
// point filters of the tools still pending unless the output keeps a palette.
FilterChain PendingSaveFilters(const ImageState* fileImage, const ImageState& w, const ImageState& n,
                               std::array<PaletteEntry, 256>& palette) {
  FilterSet on;
  if (fileImage && ThresholdsOnTheWay(*fileImage, w)) on.Add(FilterKind::Threshold);
  if (n.kind != IK_PALETTE256 && n.kind != IK_PALETTE16) {
    palette = w.palette;
    FilterSet point = PendingPointFilters(w);
    for (FilterKind k : {FilterKind::ToneCurve, FilterKind::BrightCont, FilterKind::BWPoint})
      if (point.Has(k)) on.Add(k);
  }
  // The converter works on pixels: a width, never less than one.
  const size_t width = static_cast<size_t>(std::max(w.width, 1));
  return BuildFilterChain(ChainPurpose::Save, on, FilterSettings::Current(),
                          FilterTarget{w.kind, width, palette.data(), width});
}

}  // namespace

SaveResult WriteImageLines(const ImageState* fileImage, ImageState* w, uint32_t format, const std::string& target,
                           bool jpegClamp, const ProgressFactory& progress, ImageState** written,
                           bool* filtersApplied) {
  if (filtersApplied) *filtersApplied = false;
  if (written) *written = nullptr;
  CancelFlag.store(0);
  // A side the format cannot hold is refused before anything is written; its message
  // gives the limit (a longer image is cut to it below, a wider one cannot be).
  int32_t width = w->width;
  if (CheckJpegSizeLimit(format, &width, true, false)) return SaveResult::Failed;
  std::string temp;
  if (!MakeTempTiffName(FolderOf(target), temp)) {
    Notify(kMsgWriteFailed, MessageIcon::Error, {MessageArg{target}});
    return SaveResult::Failed;
  }
  // The new record: a standalone copy of the working version describing the new file.
  auto* n = new ImageState(*w);
  n->prev = n->next = nullptr;
  n->bitmaps = {};
  n->rawPath.clear();
  n->rawFile.reset();
  n->fileHandle = kNoFile;
  n->sourcePath = temp;
  n->sourceForm = SF_OWN_TIFF;
  if (jpegClamp) CheckJpegSizeLimit(format, &n->height, true, true);
  n->kind = static_cast<ImageKind>(EffectiveKind(w->kind));
  n->outputFormat = format;
  n->region = PixelRect{0, 0, n->width - 1, n->height - 1};

  // The whole image is read from its top; the view's region comes back afterwards.
  const PixelRect savedRegion = w->region;
  w->region = PixelRect{0, 0, w->width, w->height};
  LineReader reader(w);
  const int opened = OpenReadStream(&reader, kReadSequential);
  std::vector<uint8_t> line;
  FilterChain filters;
  std::array<PaletteEntry, 256> palette{};
  LineWriter writer(n);
  SaveResult result = SaveResult::Saved;
  try {
    line.assign(static_cast<size_t>(std::max(n->storedLineWidth, 1)), 255);
  } catch (const std::bad_alloc&) {
    result = SaveResult::Failed;
  }
  if (result == SaveResult::Saved && opened != kReadOpenOk) result = SaveResult::Failed;
  if (result == SaveResult::Saved && OpenScanOutput(&writer) != 0) result = SaveResult::Failed;
  int lag = 0;
  if (result == SaveResult::Saved) {
    filters = PendingSaveFilters(fileImage, *w, *n, palette);
    lag = filters.PrimingLines();
    if (filtersApplied) *filtersApplied = !filters.Empty();

    std::unique_ptr<ProgressReporter> bar = progress ? progress(kMsgSaving, w->height) : nullptr;
    const int32_t height = n->height;
    int32_t read = 0;
    // The threshold filter's look-ahead.
    for (int i = 0; i < lag && read < height; ++i) {
      if (ReadLines(&reader, line.data(), kReadSequential, 0) != 1) break;
      ++read;
      filters.Process(line.data(), line.size());
    }
    for (int32_t i = lag; i < height + lag; ++i) {
      PumpMessages();
      if (CancelFlag.load()) {
        result = SaveResult::Cancelled;
        break;
      }
      if (read < height) {
        if (ReadLines(&reader, line.data(), kReadSequential, 0) != 1) {
          result = SaveResult::Failed;
          break;
        }
        ++read;
      }
      filters.Process(line.data(), line.size());
      if (WriteScanLines(&writer, line.data(), static_cast<int64_t>(line.size())) != 0) {
        result = CancelFlag.load() ? SaveResult::Cancelled : SaveResult::Failed;
        break;
      }
      if (bar) bar->Step();
    }
  }
  n->operationCode = 0;
  CloseReadStream(&reader);
  w->region = savedRegion;
  if (result != SaveResult::Saved) ReleaseScanOutput(&writer);
  const int closed = writer.scanOpen || writer.thread.joinable() ? CloseScanOutput(&writer) : 0;
  if (result == SaveResult::Saved && closed != 0) result = SaveResult::Failed;
  if (result == SaveResult::Saved && !orb::ReplaceWithFlushedFile(temp, target)) result = SaveResult::Failed;
  if (result != SaveResult::Saved) {
    RemoveFile(temp);
    FreeImageState(n);
    if (result == SaveResult::Failed) Notify(kMsgWriteFailed, MessageIcon::Error, {MessageArg{target}});
    return result;
  }
  n->sourcePath = target;
  if (written) {
    *written = n;
  } else {
    FreeImageState(n);
  }
  return SaveResult::Saved;
}

// ----- the document ----------------------------------------------------------------------

ImageDocument::ImageDocument() {
  m_pImage = m_pFileImage = NewImageState();
}

ImageDocument::~ImageDocument() {
  FreeChainExcept(nullptr);
}

void ImageDocument::FreeChainExcept(ImageState* keep) {
  ImageState* f = m_pFileImage;
  if (!f) return;
  const std::string userFile = f->sourcePath;
  auto guarded = [&](const std::string& path) {
    if (path.empty()) return true;
    if (path == userFile || IsSameFile(path, userFile)) return true;
    if (keep && (path == keep->sourcePath || path == keep->rawPath || IsSameFile(path, keep->sourcePath))) return true;
    return false;
  };
  // Later versions: their own files go with them (never the user's file).
  for (ImageState* r = f->next; r; r = r->next) {
    if (r == keep) continue;
    if (!guarded(r->sourcePath)) RemoveFile(r->sourcePath);
    if (!guarded(r->paletteFilePath)) RemoveFile(r->paletteFilePath);
  }
  if (f != keep && !guarded(f->paletteFilePath)) RemoveFile(f->paletteFilePath);
  // The kept record leaves the old chain first and starts a chain of its own; then what is
  // left of the old chain goes.
  ImageState* rest = f == keep ? f->next : f;
  std::unique_ptr<ImageState> kept = keep ? TakeImageState(keep) : nullptr;
  FreeImageChain(rest);
  m_pFileImage = m_pImage = StartImageChain(std::move(kept));
}

SaveResult ImageDocument::Save(const ProgressFactory& progress) {
  ImageState* f = m_pFileImage;
  ImageState* w = m_pImage;
  const bool sameFs = w != f && OnSameFileSystem(f->sourcePath, w->sourcePath);
  SavePlan plan = PlanSave(*f, *w, sameFs);
  const bool ownReader = f->outputFormat >= OF_RAW_RGB_LE;
  ImageState* n = nullptr;
  bool filtered = false;
  bool renamed = false;
  if (plan.route == SaveRoute::Rename) {
    // The new version's file replaces the user's file in one step.
    if (!w->sourcePath.empty() && orb::ReplaceWithFlushedFile(w->sourcePath, f->sourcePath)) {
      renamed = true;
      n = w;
    } else {
      plan.route = SaveRoute::ReEncode;
      plan.format = OF_TIFF;
    }
  }
  if (!renamed) {
    const uint64_t needed = static_cast<uint64_t>(std::max(w->storedLineWidth, 0)) *
                            static_cast<uint64_t>(std::max(w->height, 0));
    if (!HasFreeDiskSpace(f->sourcePath, needed)) {
      Notify(kMsgNoRoom, MessageIcon::Error);
      return SaveResult::NoRoom;
    }
    if (plan.route == SaveRoute::SaveAs) return SaveResult::NeedsSaveAs;
    SaveResult r = WriteImageLines(f, w, plan.format, f->sourcePath, false, progress, &n, &filtered);
    if (r != SaveResult::Saved) return r;
  }

  // The new record stands for the saved file.
  const bool bilevelScan = (f->kind == IK_BW || f->kind == IK_BW_FROM_GREEN || w->kind == IK_BW_SAVED_AS_4) &&
                           f->state == VS_NORMAL;
  n->sourcePath = f->sourcePath;
  n->edited = n->thresholdPending = n->bwPointPending = n->brightnessPending = n->toneCurvePending = 0;
  n->operationCode = 0;
  n->region = w->region;
  n->clientRect = w->clientRect;
  if (n != w) {
    n->bitmaps = w->bitmaps;
    w->bitmaps = {};
    n->lookupTable = w->lookupTable;
  }
  // Where later reads find the pixels: the working version's raw image file when it holds
  // exactly what was saved; otherwise the saved file itself, so that after a save that ran
  // pending filters the document shows and saves again what was written.
  const bool takeRaw = !renamed && !filtered && w->rawFile && !(ownReader && !bilevelScan);
  if (takeRaw) {
    n->rawPath = w->rawPath;
    n->rawFile = w->rawFile;
    w->rawPath.clear();
    w->rawFile.reset();
    n->sourceForm = SF_RAW_FILE;
  } else {
    if (n == w) {
      n->rawPath.clear();
      n->rawFile.reset();
    }
    const PixelRect region = n->region;
    LineReader probe(n);
    if (ProbeImageFile(&probe, false) != 0) n->sourceForm = SF_LIBRARY;
    CloseReadStream(&probe);
    n->region = region;
    if (n->region.right > n->width) n->region.right = n->width;
    if (n->region.bottom > n->height) n->region.bottom = n->height;
  }
  if (n == w) w->sourcePath = f->sourcePath;
  FreeChainExcept(n);
  SendAppMessage(g_hThumbDlg.load(), WM_THUMB_REFRESH);
  return SaveResult::Saved;
}

SaveResult ImageDocument::WriteCopy(uint32_t format, const std::string& path, const ProgressFactory& progress) {
  return WriteImageLines(m_pFileImage, m_pImage, format, path, true, progress, nullptr, nullptr);
}

// ----- opening ---------------------------------------------------------------------------

int OpenImageFileForReading(const std::string& path, int flags, bool report) {
  // Opened without waiting: a pipe or a device would hold the GUI thread in open() or in the
  // first read until some other process writes to it.
  int fd = OpenSharedFile(path, flags | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    const int error = errno;
    if (!report) return -1;
    if (error == ENOENT || error == ENOTDIR) {
      Notify(kMsgNoSuchFile, MessageIcon::Error, {MessageArg{path}});
    } else if (error == EISDIR) {
      Notify(kMsgNotAFile, MessageIcon::Error, {MessageArg{path}});
    } else {
      Notify(kMsgCannotOpen, MessageIcon::Error, {MessageArg{path}, MessageArg{std::string(std::strerror(error))}});
    }
    return -1;
  }
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    if (report) Notify(kMsgNotAFile, MessageIcon::Error, {MessageArg{path}});
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

uint32_t ImageFormatByContent(const std::string& path) {
  const int fd = OpenImageFileForReading(path, O_RDONLY, false);
  if (fd < 0) return 0;
  const int format = IM_DetectFormat(fd);
  ::close(fd);
  return format > 0 ? static_cast<uint32_t>(format) : 0;
}

OpenResult OpenImageIntoDocument(ImageState* w, const std::string& path, const std::function<void()>& updateTitle) {
  LineReader reader(w);
  w->sourcePath = path;
  const int flags = IsScanning() ? O_RDWR : O_RDONLY;
  int fd = OpenImageFileForReading(path, flags, true);
  if (fd < 0) return OpenResult::CannotOpen;
  w->fileHandle = fd;
  int own = -1;
  if (IsTiffFile(&reader)) own = ReadTiffHeader(&reader);
  ::close(fd);
  w->fileHandle = kNoFile;

  if (own == 0) {
    w->state = VS_OPENED;
    w->sourceForm = SF_OWN_TIFF;
    w->rowOrder = 0;
    w->region = PixelRect{0, 0, w->width - 1, w->height - 1};
    if (updateTitle) updateTitle();
    SetDisplayMode(StatusBit::FittedDisplay, StatusBit::Opening);
    CancelFlag.store(0);
    ProgressiveDisplay display(w);
    const ShowOutcome shown = FinishImageDisplay(&display);
    ClearStatus(StatusBit::DisplayField | StatusBit::Opening);
    if (shown != ShowOutcome::Done || CancelFlag.load()) return OpenResult::Cancelled;
    return OpenResult::Opened;
  }

  w->state = VS_OPENED;
  w->sourceForm = SF_RAW_FILE;
  w->rowOrder = 0;
  SetDisplayMode(StatusBit::FittedDisplay, StatusBit::Opening | StatusBit::DecodingOnGuiThread);
  CancelFlag.store(0);
  int result = IM_ERR_IO;
  fd = OpenImageFileForReading(path, O_RDONLY, false);
  if (fd >= 0) {
    reader.sourceHandle = fd;
    result = IM_ReadByCallback(fd, ReadLinesCallback, ReadHeaderCallback, &reader);
    ::close(fd);
    reader.sourceHandle = -1;
  }
  ClearStatus(StatusBit::DecodingOnGuiThread | StatusBit::DisplayField | StatusBit::Opening);
  if (result == IM_OK && !reader.failed.load()) return OpenResult::Opened;
  if (result == IM_STOPPED && CancelFlag.load()) return OpenResult::Cancelled;
  // Damaged data the decoder worked around: every row arrived (the raw file took the last
  // one and became the image's source), so the user sees what could be read and is told.
  if (result == IM_ERR_CORRUPT && !reader.failed.load() && w->sourceForm == SF_RAW_FILE && w->height > 0 &&
      reader.rowsDecoded == w->height) {
    Notify(kMsgDecodedDamaged, MessageIcon::Exclamation, {MessageArg{path}});
    return OpenResult::Opened;
  }
  Notify(kMsgDecodeFailed, MessageIcon::Error, {MessageArg{path}});
  return OpenResult::DecodeFailed;
}

}  // namespace orb
