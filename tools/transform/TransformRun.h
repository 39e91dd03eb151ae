// What every geometry and colour tool shares: reading the working version from its top
// and writing a new version of another shape, line by line, into a new uncompressed TIFF
// in the working folder. The new version is appended to the document's chain only for the
// length of the run: unless it is kept at the end, it and its file are removed, so that
// Esc, a full disk or a damaged source leave the working version as it was.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/ImageState.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/LineWriter.h"
#include "tools/ApplyPipeline.h"
#include "tools/ToolDocumentHost.h"

namespace orb::tools {

// Bytes a pixel takes in a stream line: 3 for colour, 1 for every other kind (the read
// streams hand out black and white and 16-colour lines one byte a pixel).
int32_t StreamPixelBytes(int kind);
bool IsBilevelKind(int kind);
bool IsPaletteKind(int kind);

// The value of a white pixel of a one-byte kind: the last palette index whose colour is
// white (the brightest colour when none is) for palette kinds, 255 for grey and black and
// white.
uint8_t WhiteIndex(const ImageState& image);

// The kind of a geometry tool's result for a black and white source: kind 10 when the
// program thresholds this version itself (a scan, with the software threshold chosen),
// else plain black and white. Other kinds stay.
ImageKind GeometryResultKind(const ImageState& source, bool* keptGrey);

// The source's lines from its top, with its region set to the whole image while open.
class SourceLines {
 public:
  explicit SourceLines(ImageState* source) : source_(source) {}
  ~SourceLines() { Close(); }
  SourceLines(const SourceLines&) = delete;
  SourceLines& operator=(const SourceLines&) = delete;

  bool Open();
  // The next line (stored line width bytes).
  bool Next(uint8_t* line);
  // Reads on to line `y` (at or after the next one) into `line`.
  bool SkipTo(int64_t y, uint8_t* line);
  void Close();
  int64_t Read() const { return read_; }
  size_t LineBytes() const { return static_cast<size_t>(source_->storedLineWidth); }

 private:
  ImageState* source_;
  std::unique_ptr<LineReader> reader_;
  PixelRect saved_{};
  bool open_ = false;
  int64_t read_ = 0;
};

// The shape of a new version.
struct VersionShape {
  ImageKind kind = IK_RGB;
  int32_t width = 0;
  int32_t height = 0;
  uint64_t spaceNeeded = 0;  // 0: line width x height
};

// A new version being written. Discarded (record and file) unless Keep() succeeds.
class NewVersion {
 public:
  explicit NewVersion(ImageState* source) : source_(source) {}
  ~NewVersion() { Discard(); }
  NewVersion(const NewVersion&) = delete;
  NewVersion& operator=(const NewVersion&) = delete;

  // Appends the record, checks the disk (message 33018 and the cancel flag when short),
  // creates the file. `prepare` may change the record (palette, resolution) before the
  // output starts.
  ApplyResult Begin(const VersionShape& shape);
  ApplyResult StartOutput();
  ImageState* Image() const { return image_; }
  size_t LineBytes() const { return static_cast<size_t>(image_->storedLineWidth); }
  // `count` lines of stored line width bytes.
  ApplyResult Write(const uint8_t* lines, int32_t count);
  int64_t Written() const { return written_; }
  // Closes the output; the new version stays when every line reached the file.
  ApplyResult Keep(uint32_t lastOperation);
  ApplyResult Fail(int msg, const std::string& arg);
  ApplyResult FailWrite() { return Fail(kMsgApplyWriteFailed, path_); }
  const std::string& Path() const { return path_; }

 private:
  void Close();
  void Discard();

  ImageState* source_;
  ImageState* image_ = nullptr;
  std::string path_;
  std::unique_ptr<LineWriter> writer_;
  bool writerOpen_ = false;
  bool kept_ = false;
  int64_t written_ = 0;
};

// Progress of a run (a null factory shows none).
class RunProgress {
 public:
  RunProgress(const ApplyProgressFactory& factory, int captionId, int lines);
  void Step(int lines = 1) {
    if (p_) p_->Step(lines);
  }

 private:
  std::unique_ptr<IApplyProgress> p_;
};

// Lets the program handle its messages; true when Esc asked to stop.
bool PumpAndCheckCancel();

// A buffer of `bytes`, or empty when memory is short.
bool TryAllocate(std::vector<uint8_t>& v, size_t bytes, uint8_t fill = 0);

}  // namespace orb::tools

#include <functional>

namespace orb::tools {

// One transform over a working version.
using TransformFn = std::function<ApplyOutcome(ImageState* working, const ApplyProgressFactory& progress)>;
// The part of the new version the user goes on looking at, from the old one's.
using RegionMap = std::function<PixelRect(const PixelRect& old)>;

// Runs a transform on the active image (ToolDocumentHost): -1 without an image or when the
// disk is short (nothing changed), else 0 (applied, or cancelled or failed with nothing
// changed). The view, title and thumbnail follow in every case that ran.
int ApplyTransformToActive(const TransformFn& fn, const RegionMap& region);

}  // namespace orb::tools
