#include "app/batch/BatchEngine.h"

#include <unistd.h>

#include <cstdarg>
#include <ctime>
#include <filesystem>
#include <memory>

#include "app/Document.h"
#include "app/MessageText.h"
#include "common/LanguageModule.h"
#include "engine/EngineHost.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/TiffHeader.h"
#include "engine/filters/FilterChain.h"
#include "tools/ApplyPipeline.h"
#include "tools/transform/PaletteConvert.h"
#include "tools/transform/Rotate90.h"

namespace orb::batch {
namespace {

constexpr int kMsgCannotOpen = 201;
constexpr int kMsgNoRoom = 33018;

std::string Printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* fmt, ...) {
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
}

void Log(IBatchLog* log, const std::string& text) {
  if (log) log->Write(text);
}

// The palette and quarter-turn tools' own conversions, unless a caller installs others.
ImageState* Kept(const tools::ApplyOutcome& r) {
  return r.result == tools::ApplyResult::Applied ? r.working : nullptr;
}
BatchTransforms& Transforms() {
  static BatchTransforms t{[](ImageState* w, int mode) { return Kept(tools::ConvertToPalette(w, mode)); },
                           [](ImageState* w, int direction) { return Kept(tools::TurnImage(w, direction)); }};
  return t;
}

// While a batch writes its log, what the streams would say in a message box goes into the
// log instead: an unattended batch never stops on a dialog.
class LogNotifier final : public INotifier {
 public:
  explicit LogNotifier(IBatchLog* log) : log_(log), saved_(Host().notifier) {
    if (log_) Host().notifier = this;
  }
  ~LogNotifier() override {
    if (log_) Host().notifier = saved_;
  }
  void ShowMessage(int id, MessageIcon, const std::vector<MessageArg>& args) override {
    if (id == kMsgNoRoom) return;  // the engine writes its own line for a full disk
    Log(log_, "\tERROR: " + FormatMessageText(LoadString(id), args) + "\r\n");
  }
  void ShowText(std::string_view text, std::string_view, MessageIcon) override {
    Log(log_, "\tERROR: " + std::string(text) + "\r\n");
  }

 private:
  IBatchLog* log_;
  INotifier* saved_;
};

bool ToneKind(int k) { return k >= IK_RGB && k <= IK_GREY; }
bool DetailKind(int k) { return k == IK_RGB || k == IK_GREY; }

const char* PaletteWord(uint32_t mode) {
  switch (mode) {
    case 0: return "RGB";
    case 1: return "256 Colors";
    case 2: return "16 Colors";
    case 3: return "Grayscale";
    default: return "Black and White";
  }
}

// The filters of one pass for a source of `kind`, with their log lines, in the log's order.
tools::ApplyPlan PlanPass(const Recipe& r, int kind, FilterSettings* fs, IBatchLog* log) {
  tools::ApplyPlan plan;
  plan.kindRule = tools::KindRule::Keep;
  FilterSet& on = plan.filters;
  const bool threshold = r.threshold && r.palette && r.paletteValues.ConvertTo == 4 && kind == IK_GREY;
  // A grey image thresholded here is black and white from then on, so despeckle, which
  // acts on black and white only, follows it in the same pass.
  if (r.despeckle && (kind == IK_BW || threshold)) {
    on.Add(FilterKind::Despeckle);
    fs->despeckle = r.despeckleValues;
    Log(log, Printf("\tBinaryDespeckle: SpeckWidth = %d, SpeckHeight = %d\r\n", r.despeckleValues.SpeckWidth,
                    r.despeckleValues.SpeckHeight));
  }
  if (threshold) {
    on.Add(FilterKind::Threshold);
    fs->threshold = r.thresholdValues;
    plan.resultKind = IK_BW;
    const auto& t = r.thresholdValues;
    Log(log, Printf("\tBinaryThreshold: ThresholdingType = %d, AdaptiveWindowSize = %d, AdaptiveDynamic = %d, "
                    "FixedThreshhold = %d\r\n",
                    t.ThresholdingType, t.AdaptiveWindowSize, t.AdaptiveDynamic, t.FixedThreshhold));
  }
  if (r.invert) {
    on.Add(FilterKind::Invert);
    fs->invert.enabled = 1;
    Log(log, "\tInverting:\r\n");
  }
  if (r.mirror) {
    on.Add(FilterKind::Mirror);
    fs->mirror.enabled = 1;
    Log(log, "\tMirroring:\r\n");
  }
  if (r.gamma && ToneKind(kind)) {
    on.Add(FilterKind::ToneCurve);
    fs->toneCurve = r.gammaValues;
    Log(log, "\tApplying Gamma");
  }
  if (r.bwPoint && ToneKind(kind)) {
    on.Add(FilterKind::BWPoint);
    fs->bwPoint = r.bwPointValues;
    Log(log, Printf("\tWhiteBlackPoint: White = %d, Black = %d\r\n", r.bwPointValues.White, r.bwPointValues.Black));
  }
  if (r.brightCont && ToneKind(kind)) {
    on.Add(FilterKind::BrightCont);
    fs->brightCont = r.brightContValues;
    Log(log, Printf("\tBrightnessContrast: Brightness = %d, Contrast = %d\r\n", r.brightContValues.Brightness,
                    r.brightContValues.Contrast));
  }
  if (r.sharpen && DetailKind(kind)) {
    on.Add(FilterKind::Sharpen);
    fs->sharpen = r.sharpenValues;
    Log(log, Printf("\tSharpenBlur: %s level %d\r\n", r.sharpenValues.Level < 0 ? "Blurring" : "Sharpening",
                    r.sharpenValues.Level));
  }
  if (r.noise && DetailKind(kind)) {
    const int level = r.noiseValues.Level;
    if (level < 1) {
      // No median window is named: the filter is left out rather than guessed.
      Log(log, Printf("\tNoiseRemoval: level %d names no window, not applied\r\n", level));
    } else {
      on.Add(FilterKind::NoiseRemoval);
      fs->noise = r.noiseValues;
      fs->noise.Level = level > 3 ? 3 : level;
      Log(log, Printf("\tNoiseRemoval: %s\r\n", level == 1 ? "3 x 3" : level == 2 ? "5 x 5" : "7 x 7"));
    }
  }
  return plan;
}

// Reads back what was written: the file opens and has the result's size.
bool ReadsBack(const std::string& path, const ImageState& expected) {
  ImageState* probe = NewImageState();
  probe->sourcePath = path;
  probe->state = VS_OPENED;
  bool ok;
  {
    LineReader reader(probe);
    ok = ProbeImageFile(&reader, false) == 0 && probe->width == expected.width && probe->height == expected.height;
  }
  FreeImageChain(probe);
  return ok;
}

// The source's own format for the result: its recorded format when the result's kind
// allows it, else the first format of the same container that does (a file the imaging
// library decodes records none). Nullopt when the container cannot hold the result.
std::optional<uint32_t> SourceFormat(const ImageState& first, const ImageState& working) {
  if (first.outputFormat >= OF_RAW_RGB_LE) return OF_TIFF;  // a TIFF the program reads itself
  if (IsOutputFormatAllowed(working.kind, first.outputFormat)) return first.outputFormat;
  const uint32_t container = ImageFormatByContent(first.sourcePath);
  if (container == 0) return std::nullopt;
  for (uint32_t f : AllowedOutputFormats(working.kind)) {
    if (OutputContainer(f) == container) return f;
  }
  return std::nullopt;
}

}  // namespace

// ----- log ---------------------------------------------------------------------------------

FileBatchLog::FileBatchLog(const std::string& path) : file_(std::fopen(path.c_str(), "ab+")) {}
FileBatchLog::~FileBatchLog() {
  if (file_) std::fclose(file_);
}
void FileBatchLog::Write(std::string_view text) {
  if (file_) std::fwrite(text.data(), 1, text.size(), file_);
}

std::string LogStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%m/%d/%y - %H:%M:%S", &tm);
  return buf;
}

void SetBatchTransforms(const BatchTransforms& transforms) { Transforms() = transforms; }
const BatchTransforms& GetBatchTransforms() { return Transforms(); }

// ----- one file ------------------------------------------------------------------------------

ImageState* OpenBatchSource(const std::string& path, IBatchLog* log) {
  ImageState* first = NewImageState();
  first->sourcePath = path;
  first->state = VS_OPENED;
  int probed;
  {
    LineReader reader(first);
    probed = ProbeImageFile(&reader, false);
  }
  if (probed != 0 || first->width <= 0 || first->height <= 0) {
    FreeImageChain(first);
    if (log) {
      log->Write("\tERROR: Unable to open or determine the format of this image\r\n");
    } else {
      NotifyText(Printf("ERROR: Unable to open or determine the format of %s", path.c_str()), "",
                 MessageIcon::Exclamation);
    }
    return nullptr;
  }
  first->region = PixelRect{0, 0, first->width, first->height};
  return first;
}

RecipeResult ApplyRecipe(ImageState* first, const Recipe& recipe, IBatchLog* log) {
  RecipeResult out;
  out.working = first;
  const int kind = first->kind;
  LogNotifier quiet(log);
  FilterSettings fs = FilterSettings::Current();
  const tools::ApplyPlan plan = PlanPass(recipe, kind, &fs, log);
  if (!plan.filters.Empty()) {
    const tools::ApplyOutcome r = tools::RunApplyPipeline(first, plan, fs);
    switch (r.result) {
      case tools::ApplyResult::Applied: out.working = r.working; break;
      case tools::ApplyResult::NoRoom:
        Log(log, "\tERROR: Insufficient disk space to complete processing on this image.\r\n");
        if (!log) Notify(kMsgNoRoom, MessageIcon::Error);
        out.error = out.cancelled = true;
        return out;
      case tools::ApplyResult::Cancelled:
        Log(log, "\tCancelled: the image was left as it was\r\n");
        out.cancelled = true;
        return out;
      case tools::ApplyResult::NoImage:
      case tools::ApplyResult::Failed:
        out.error = out.cancelled = true;
        return out;
    }
  }
  const BatchTransforms& t = Transforms();
  if (recipe.palette && kind == IK_RGB && recipe.paletteValues.ConvertTo >= 1 && recipe.paletteValues.ConvertTo <= 3) {
    Log(log, Printf("\tPalette: Converting to %s\r\n", PaletteWord(recipe.paletteValues.ConvertTo)));
    ImageState* n = t.convertToPalette ? t.convertToPalette(out.working, static_cast<int>(recipe.paletteValues.ConvertTo))
                                       : nullptr;
    if (n) {
      out.working = n;
    } else {
      Log(log, "\tERROR: The palette conversion could not be done\r\n");
      out.error = true;
    }
  }
  if (recipe.rotate) {
    Log(log, Printf("\tRotate: 90 degrees %s\r\n", recipe.rotateValues.Direction == 0 ? "Left" : "Right"));
    ImageState* n = t.rotate90 ? t.rotate90(out.working, recipe.rotateValues.Direction) : nullptr;
    if (n) {
      out.working = n;
    } else {
      Log(log, "\tERROR: The rotation could not be done\r\n");
      out.error = true;
    }
  }
  return out;
}

EntryReport SaveBatchResult(ImageState* first, ImageState* working, const EngineGeneral& g, bool error,
                            IBatchLog* log) {
  EntryReport rep;
  rep.source = first->sourcePath;
  LogNotifier quiet(log);
  const bool saveAs = !g.location.empty() || !g.format.empty();
  if (!saveAs) {
    // Over the source, in its own format where the result's kind allows it.
    const std::optional<uint32_t> own = SourceFormat(*first, *working);
    if (!own) {
      Log(log, "\tERROR: The result cannot be saved in its source's format; the source was left as it was\r\n");
      rep.outcome = EntryOutcome::Failed;
      return rep;
    }
    const SaveResult r = WriteImageLines(first, working, *own, first->sourcePath, false, {}, nullptr, nullptr);
    rep.outcome = r == SaveResult::Saved ? EntryOutcome::SavedOver : EntryOutcome::Failed;
    rep.output = first->sourcePath;
    if (r != SaveResult::Saved) Log(log, "\tERROR: The image could not be saved\r\n");
    return rep;
  }
  const std::filesystem::path src(first->sourcePath);
  const std::filesystem::path folder = g.location.empty() ? src.parent_path() : std::filesystem::path(g.location);
  std::string ext = src.extension().string();
  uint32_t format = 0;
  if (!g.format.empty()) {
    // The kind of the result decides: a grey source thresholded in the pass is black and
    // white and may go to Group 4.
    std::optional<uint32_t> f = SaveAsFormatFor(working->kind == IK_BW_SAVED_AS_4 ? IK_BW : working->kind, g.format);
    if (f) {
      format = *f;
      ext = "." + g.format.substr(0, 3);
    } else {
      Log(log, Printf("\tSaveAsType: %s is an invalid save as format for this image\r\n", g.format.c_str()));
      error = true;
    }
  }
  if (format == 0) {
    const std::optional<uint32_t> own = SourceFormat(*first, *working);
    if (!own) {
      Log(log, "\tERROR: The result cannot be saved in its source's format\r\n");
      if (g.deleteOriginals) Log(log, "\tOriginal image NOT deleted\r\n");
      rep.outcome = EntryOutcome::Failed;
      return rep;
    }
    format = *own;
  }
  rep.output = (folder / (src.stem().string() + ext)).string();
  const SaveResult r = WriteImageLines(first, working, format, rep.output, false, {}, nullptr, nullptr);
  if (r != SaveResult::Saved) {
    Log(log, Printf("\tERROR: Unable to save the image as %s\r\n", rep.output.c_str()));
    rep.outcome = EntryOutcome::Failed;
    if (g.deleteOriginals) Log(log, "\tOriginal image NOT deleted\r\n");
    return rep;
  }
  Log(log, Printf("\tImage saved as %s\r\n", rep.output.c_str()));
  rep.outcome = EntryOutcome::SavedAs;
  if (!g.deleteOriginals) return rep;
  // The source goes only when the result stands on its own: written, read back, and not
  // the source's own file.
  if (error) {
    Log(log, "\tOriginal image NOT deleted\r\n");
  } else if (IsSameFile(rep.output, first->sourcePath)) {
    Log(log, "\tOriginal image NOT deleted: the result was saved over it\r\n");
  } else if (!ReadsBack(rep.output, *working)) {
    Log(log, "\tOriginal image NOT deleted: the result could not be read back\r\n");
  } else if (::unlink(first->sourcePath.c_str()) != 0) {
    Log(log, "\tOriginal image NOT deleted: it could not be removed\r\n");
  } else {
    rep.sourceDeleted = true;
    Log(log, "\tOriginal image deleted\r\n");
  }
  return rep;
}

EntryReport ProcessBatchEntry(const std::string& source, const EngineGeneral& g, const Recipe& recipe,
                              IBatchLog* log) {
  EntryReport rep;
  rep.source = source;
  ImageState* first = OpenBatchSource(source, log);
  if (!first) {
    rep.outcome = EntryOutcome::Unreadable;
    return rep;
  }
  const RecipeResult r = ApplyRecipe(first, recipe, log);
  if (r.cancelled) {
    rep.outcome = EntryOutcome::Cancelled;
  } else if (g.hold) {
    rep.outcome = EntryOutcome::Held;
  } else {
    rep = SaveBatchResult(first, r.working, g, r.error, log);
  }
  // Every later version's file is the engine's own temporary.
  for (ImageState* s = first->next; s; s = s->next) {
    if (!s->sourcePath.empty()) ::unlink(s->sourcePath.c_str());
    if (!s->rawPath.empty()) ::unlink(s->rawPath.c_str());
  }
  FreeImageChain(first);
  return rep;
}

EntryReport RunBatchStep(const std::string& batchPath, int index) {
  EntryReport rep;
  const EngineGeneral g = ReadEngineGeneral(batchPath);
  const std::optional<std::string> source = ReadFileEntry(batchPath, index);
  if (!source) return rep;  // End: nothing is logged
  std::unique_ptr<FileBatchLog> log;
  if (g.log) {
    log = std::make_unique<FileBatchLog>(LogPathFor(batchPath));
    if (!log->IsOpen()) log.reset();
  }
  if (log) log->Write(Printf("%s, Processing %s\r\n", LogStamp().c_str(), source->c_str()));
  rep = ProcessBatchEntry(*source, g, ReadRecipe(batchPath), log.get());
  if (log) log->Write("\r\n");
  return rep;
}

BatchSummary RunBatch(const std::string& batchPath) {
  BatchSummary s;
  for (int i = 0;; ++i) {
    const EntryReport r = RunBatchStep(batchPath, i);
    if (r.outcome == EntryOutcome::End) break;
    ++s.files;
    if (r.outcome == EntryOutcome::SavedAs || r.outcome == EntryOutcome::SavedOver) ++s.saved;
    else ++s.skipped;
  }
  return s;
}

}  // namespace orb::batch
