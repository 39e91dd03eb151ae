// The batch engine's work on one file, without a display: open the source, stream it once
// through the operations its batch file switches on (the apply pipeline, in the in-scan
// chain's order), convert and rotate it when asked, then save it (over the source, or in a
// folder and format), delete the source when asked and safe, and say in the log what
// really happened. The frame steps through a batch one file per message on top of this;
// tests and the benchmark run whole batches with RunBatch.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "app/batch/BatchFile.h"
#include "engine/ImageState.h"

namespace orb::batch {

// Where the engine's log lines go (none: no log is written).
class IBatchLog {
 public:
  virtual ~IBatchLog() = default;
  virtual void Write(std::string_view text) = 0;
};

// The batch log beside the batch file, opened for appending for one file's entries.
class FileBatchLog final : public IBatchLog {
 public:
  explicit FileBatchLog(const std::string& path);
  ~FileBatchLog() override;
  FileBatchLog(const FileBatchLog&) = delete;
  FileBatchLog& operator=(const FileBatchLog&) = delete;
  bool IsOpen() const { return file_ != nullptr; }
  void Write(std::string_view text) override;

 private:
  std::FILE* file_ = nullptr;
};

// Palette conversion and quarter turns: the tools' own by default. Each makes a new version
// after `working` in its chain and returns it, or null when it failed (nothing changed);
// the engine then logs that the operation could not be done and keeps the source.
struct BatchTransforms {
  std::function<ImageState*(ImageState* working, int mode)> convertToPalette;
  std::function<ImageState*(ImageState* working, int direction)> rotate90;
};
void SetBatchTransforms(const BatchTransforms& transforms);
const BatchTransforms& GetBatchTransforms();

// Opens a source as the first version of a chain of its own; null (after the log line, or
// the message when there is no log) when it cannot be read.
ImageState* OpenBatchSource(const std::string& path, IBatchLog* log);

struct RecipeResult {
  ImageState* working = nullptr;  // the newest version (the first when nothing ran)
  bool error = false;             // an operation failed or could not be done
  bool cancelled = false;         // Esc, a full disk or a failed pass: nothing to save
};
// Runs the recipe over `first` (the opened source).
RecipeResult ApplyRecipe(ImageState* first, const Recipe& recipe, IBatchLog* log);

enum class EntryOutcome { End, Unreadable, Cancelled, Failed, Held, SavedOver, SavedAs };
struct EntryReport {
  EntryOutcome outcome = EntryOutcome::End;
  std::string source;
  std::string output;
  bool sourceDeleted = false;
};
// Saves `working` as [General] asks, then deletes the source when asked and safe.
EntryReport SaveBatchResult(ImageState* first, ImageState* working, const EngineGeneral& general, bool error,
                            IBatchLog* log);

// One whole file of a batch (hold: processed, then nothing saved). The log header and
// the blank line after the file's entries are written here.
EntryReport ProcessBatchEntry(const std::string& source, const EngineGeneral& general, const Recipe& recipe,
                              IBatchLog* log);

// The date and time of a log entry's header: "MM/DD/YY - HH:MM:SS".
std::string LogStamp();

// The file `index` of a batch, as one message of the frame handles it: reads [General],
// the entry and the sections anew, writes the log when asked. End when the list is done.
EntryReport RunBatchStep(const std::string& batchPath, int index);

// Every file of a batch in turn, one step each (held results are not saved).
struct BatchSummary {
  int files = 0, saved = 0, skipped = 0;
};
BatchSummary RunBatch(const std::string& batchPath);

}  // namespace orb::batch
