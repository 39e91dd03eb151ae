// Batch files: an INI file (".bch") with [General] (how results are handled), [Files]
// (the images, "File0" upwards) and one section per operation. Every reader and writer of
// batch files goes through here, over the private-profile calls of platform/Ini.h.
// Also the schedule hand-over: "<name>.sch" holding the batch path and "processing.flg",
// both in the "Scheduled" folder of the data folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/ToolSettings.h"

namespace orb::batch {

inline constexpr const char* kGeneral = "General";
inline constexpr const char* kFiles = "Files";
// The text a reader asks a missing [Files] key for; it ends the list when it comes back.
inline constexpr const char* kNotFound = "NotFound";
inline constexpr size_t kPathBuffer = 260;    // paths: up to 259 characters
inline constexpr size_t kFormatBuffer = 32;   // format names, run dates: up to 31

// ----- [Files] ---------------------------------------------------------------------------

// "File0", "File1" ... up to the first missing key (or one reading "NotFound").
std::vector<std::string> ReadFileList(const std::string& batchPath);
// The file's key `index` ("File%d"), nullopt when it ends the list.
std::optional<std::string> ReadFileEntry(const std::string& batchPath, int index);
// Rewrites [Files] whole: the section is removed, then File0.. written without gaps.
bool WriteFileList(const std::string& batchPath, const std::vector<std::string>& files);
// Appends every path not yet listed (exact comparison), in the given order.
bool AddFiles(const std::string& batchPath, const std::vector<std::string>& paths);
// Removes the entries at the given list positions (the file-removal dialog's OK). With an
// empty list the file stays as it was.
bool RemoveFiles(const std::string& batchPath, const std::vector<size_t>& positions);

// ----- [General] -------------------------------------------------------------------------

struct RunDate {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  bool operator==(const RunDate&) const = default;
};
// "%d/%d/%d,%d:%d:%d".
std::string FormatRunDate(const RunDate& d);
// Splits at the slashes, the comma and the colons; nullopt when a part has no number.
std::optional<RunDate> ParseRunDate(std::string_view text);

// What the engine reads at every file (its defaults: handle automatically, no log).
struct EngineGeneral {
  bool hold = false;
  bool log = false;
  bool scheduled = false;
  bool deleteOriginals = false;
  std::string location;  // with a trailing separator when not empty
  std::string format;    // a format name, as written
};
EngineGeneral ReadEngineGeneral(const std::string& batchPath);

// The editor's view of [General] (its defaults: hold for inspection).
struct EditorGeneral {
  bool automatic = false;
  bool log = false;
  bool folderBox = false;
  std::string folder;
  bool formatBox = false;
  std::string format;
  bool deleteOriginals = false;
  bool scheduleBox = false;
  RunDate runDate;
};
EditorGeneral ReadEditorGeneral(const std::string& batchPath);
// Replaces [General]: hold writes "HoldForQC" "1" alone; automatic writes the keys chosen.
bool WriteGeneral(const std::string& batchPath, const EditorGeneral& g);

// ----- processing sections ---------------------------------------------------------------

// The operations a batch file switches on, with their values (the engine's defaults for
// keys that are missing).
struct Recipe {
  bool threshold = false, despeckle = false, brightCont = false, bwPoint = false, noise = false,
       gamma = false, invert = false, mirror = false, palette = false, rotate = false, sharpen = false;
  BWThresholdRecord thresholdValues;
  DespeckleRecord despeckleValues;
  BrightContRecord brightContValues;
  BWPointRecord bwPointValues;
  DescreenRecord noiseValues;
  GammaRecord gammaValues;
  PaletteRecord paletteValues;
  Rotate90Record rotateValues;
  SharpenRecord sharpenValues;
};
Recipe ReadRecipe(const std::string& batchPath);

// The tool records a batch file's operations are written from.
struct ToolRecordSet {
  const BWThresholdRecord* threshold;
  const DespeckleRecord* despeckle;
  const BrightContRecord* brightCont;
  const BWPointRecord* bwPoint;
  const DescreenRecord* noise;
  const GammaRecord* gamma;
  const InvertRecord* invert;
  const MirrorRecord* mirror;
  const PaletteRecord* palette;
  const Rotate90Record* rotate;
  const SharpenRecord* sharpen;
  const EditorRecord* editor;
  const IndexRecord* index;
  // The process-wide records.
  static ToolRecordSet Current();
};
// Writes the section of every enabled tool with its record's values ("BinaryThreshold"
// only when the palette tool is on with mode 4).
bool WriteProcessingSections(const std::string& batchPath, const ToolRecordSet& tools);

// ----- save-as formats -------------------------------------------------------------------

// The output format a name selects for a source of `kind` (names compare without regard
// to case); nullopt when the name is not allowed for that kind.
std::optional<uint32_t> SaveAsFormatFor(int kind, std::string_view name);
// The allowed names of a kind, in table order (empty for other kinds).
const std::vector<std::string>& SaveAsFormatNames(int kind);

// A new empty file "Qel...tmp" in `folder` for a batch file being made (the process-files
// command's batch, the editor's working copy); empty when the folder takes no new file.
std::string MakeWorkingBatchFile(const std::string& folder);

// ----- log and schedule files ------------------------------------------------------------

// The batch path with its extension replaced by ".log".
std::string LogPathFor(const std::string& batchPath);
// "<root>/Scheduled".
std::string ScheduledFolder(const std::string& root);
// "<root>/Scheduled/<name>.sch" for the batch file.
std::string ScheduleFilePath(const std::string& root, const std::string& batchPath);
// Replaces the schedule file with one holding the batch path (no line end).
bool WriteScheduleFile(const std::string& root, const std::string& batchPath);
// The end of a scheduled run: the schedule file and "processing.flg" go.
void EndScheduledRun(const std::string& root, const std::string& batchPath);

}  // namespace orb::batch
