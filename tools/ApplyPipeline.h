// The apply pipeline: one tool's filter run over the working version of an image, strip by
// strip, into a new version appended to the document's chain, so that undo brings the old
// one back. The working image is read through a read stream, each strip goes through a
// filter chain built for the tool (ChainPurpose::Tool), and the result is written through a
// write stream into a new uncompressed TIFF in the working folder. Filters that hold lines
// back (noise removal, sharpen and blur, despeckle, the adaptive threshold) give up what
// they hold at the end, so the new version has exactly as many lines as the old one.
//
// Memory stays a few strips whatever the image's length. Between strips the pipeline lets
// the program handle its messages; Esc (the process-wide cancel flag) stops it, and then,
// as after any failure, the partial result is removed and the working version stays as it
// was. The batch engine runs the same code.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/ImageState.h"
#include "engine/filters/FilterChain.h"

namespace orb::tools {

// Progress of one apply (the GUI shows a progress dialog; tests count).
class IApplyProgress {
 public:
  virtual ~IApplyProgress() = default;
  // `lines` more lines were written.
  virtual void Step(int lines) = 0;
};
using ApplyProgressFactory = std::function<std::unique_ptr<IApplyProgress>(int captionId, int lines)>;

// How the new version's image kind follows from the working one.
enum class KindRule {
  Keep,       // the same kind (noise removal, sharpen and blur)
  Bilevel,    // black and white sources become kind 10 when thresholded in software (4 else)
  Despeckle,  // as Bilevel, and a grey source kept for thresholding is thresholded first
};

struct ApplyPlan {
  FilterKind filter = FilterKind::Invert;
  int captionId = 0;                 // caption of the progress
  uint32_t lastOperation = 0;        // code the new version records
  KindRule kindRule = KindRule::Keep;
  // Several filters in one pass, in the chain's order (the batch engine); when empty,
  // `filter` alone.
  FilterSet filters{};
  // The new version's kind when not negative (a grey image thresholded in the pass becomes
  // black and white); the filters then work on the source's kind.
  int32_t resultKind = -1;
};

// The plans of the pipeline tools (sharpen's caption and code follow the level's sign).
ApplyPlan InvertApply();
ApplyPlan MirrorApply();
ApplyPlan NoiseRemovalApply();
ApplyPlan SharpenApply(int32_t level);
ApplyPlan DespeckleApply();

enum class ApplyResult {
  Applied,    // the new version is the working one
  NoImage,    // nothing to apply to
  NoRoom,     // not enough disk space (message shown)
  Cancelled,  // Esc: nothing changed
  Failed,     // reading or writing failed (message shown): nothing changed
};

struct ApplyOutcome {
  ApplyResult result = ApplyResult::NoImage;
  ImageState* working = nullptr;  // the new version when applied, else the old one
};

// Runs one tool over `working` (the last version of its chain). `settings` are the records
// the filter is made from (FilterSettings::Current() in the program).
ApplyOutcome RunApplyPipeline(ImageState* working, const ApplyPlan& plan, const FilterSettings& settings,
                              const ApplyProgressFactory& progress = {});

// A tool's own work on each line (the palette conversion) in place of a filter chain.
// `prepare` gives the new version its kind and palette (it starts as a copy of the working
// one); `convert` turns `count` source lines (the working version's stored lines, one
// after the other) into as many lines of the new version.
struct LineTransform {
  std::function<void(const ImageState& source, ImageState& made)> prepare;
  std::function<void(const uint8_t* in, int32_t count, uint8_t* out)> convert;
};
// Runs a line transform over `working` as RunApplyPipeline runs a filter: strip by strip,
// Esc and failures leaving the working version as it was. `plan` gives the progress
// caption and the code the new version records.
ApplyOutcome RunLineTransform(ImageState* working, const ApplyPlan& plan, const LineTransform& transform,
                              const ApplyProgressFactory& progress = {});

// Bytes of one line of `image` as its read stream delivers them.
int32_t SourceLineBytes(const ImageState& image);

// Lines of one strip for a line of `lineBytes` bytes (about 1 MB a strip, 1 to 256 lines).
int32_t StripLines(size_t lineBytes);

// Message ids of the failures.
inline constexpr int kMsgApplyNoRoom = 33018;
inline constexpr int kMsgApplyReadFailed = 35300;   // "%s": the image's file
inline constexpr int kMsgApplyWriteFailed = 35301;  // "%s": the new file

}  // namespace orb::tools
