// Presets: named sets of the scan settings and the fifteen image tools' settings, stored
// as files of one folder per scanner family ("<data>/presets/<family tag>/<name>.<ext>").
//
//   <name>.pst   the description: eight text fields of 32 bytes, 256 bytes, nothing else
//   <name>.s     a copy of "ScanData.dat"
//   <name>.<ext> one tool's settings record, raw (the fifteen extensions of PresetTools())
//
// No widgets here: the preset dialog, the presets page and the main frame's commands are
// thin over these routines. Every file is replaced through a temporary file beside it, and
// a save stages the whole set before it renames any of it, so a failed save leaves the
// preset as it was.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Settings.h"

namespace orb::presets {

inline constexpr size_t kFieldCount = 8;
inline constexpr size_t kFieldSize = 32;
inline constexpr size_t kHeaderSize = kFieldCount * kFieldSize;
inline constexpr const char* kFactoryDefaults = "_FactoryDefaults";
inline constexpr const char* kHeaderExt = "pst";
inline constexpr const char* kScanCopyExt = "s";

using HeaderFields = std::array<std::string, kFieldCount>;
using HeaderBytes = std::array<uint8_t, kHeaderSize>;

// The 256 header bytes of eight texts: each cut to at most 32 bytes on a UTF-8 character
// boundary, followed by a zero when shorter than 32, zeros to the field's end.
HeaderBytes EncodeHeader(const HeaderFields& fields);
// The eight texts of a header file's bytes: each up to its first zero (at most 32 bytes),
// trailing white space removed, invalid UTF-8 cut off. A short file gives empty fields
// for what it lacks.
HeaderFields DecodeHeader(const uint8_t* bytes, size_t size);

// Leading white space removed (the name box's text as the dialog takes it).
std::string TrimLeft(std::string_view text);
// True for "_FactoryDefaults" in any letter case: it cannot be deleted or overwritten.
bool IsFactoryPreset(std::string_view name);

// Why a typed preset name cannot be used.
enum class NameProblem {
  None,
  Empty,
  TooLong,      // the name and its longest extension must fit a file name and the setting
  BadCharacter, // '/', a control character, '*', '?', '[' or a leading '.', or not UTF-8
};
NameProblem CheckName(std::string_view name);

// One tool that takes part in presets: its extension and its record's bytes. The record
// is the tool's process-wide settings record; `refresh` (set by the tool's page once it
// exists) shows the record again after a load.
struct PresetTool {
  const char* name;  // for messages
  const char* ext;
  size_t size;
  std::function<std::vector<uint8_t>()> save;
  // Lays a file's bytes over the record (a short file replaces a prefix).
  std::function<void(const uint8_t* data, size_t n)> load;
  std::function<void()> refresh;
};
// The fifteen tools in their fixed order (threshold, mirror, invert, black and white point,
// brightness and contrast, tone curves, sharpen, noise removal, despeckle, rotate, palette,
// editor, indexer, colour classification, accept as two images).
std::vector<PresetTool>& PresetTools();
// Installs a tool page's refresh for the tool with this extension; false when no tool has it.
bool SetToolRefresh(std::string_view ext, std::function<void()> refresh);

// Writes a file (whole, replacing); false with *error on failure. Tests inject failures.
using FileWriter = std::function<bool(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error)>;
FileWriter DefaultWriter();

// The presets of one family.
class PresetStore {
 public:
  PresetStore(std::string dataFolder, std::string familyTag, FileWriter writer = DefaultWriter());
  // The store of the running program (data folder and family tag of the moment).
  static PresetStore Current();

  // False without a family tag or a data folder: then there is no presets folder at all.
  bool HasFamily() const { return !tag_.empty() && !data_.empty(); }
  std::string Folder() const;
  std::string FilePath(std::string_view name, std::string_view ext) const;

  // Names of the presets ("*.pst"), sorted without regard to case; empty when the folder
  // is missing.
  std::vector<std::string> List() const;
  bool Exists(std::string_view name) const;

  // The description of a preset; nullopt when its header cannot be read.
  std::optional<HeaderFields> ReadHeader(std::string_view name) const;
  // Writes only the description (the dialog without the frame's save).
  bool WriteHeader(std::string_view name, const HeaderFields& fields, std::string* error) const;

  // Saves the program's current settings as preset `name`: "ScanData.dat" first, then the
  // description, the scan settings copy and the fifteen tools' files, all staged before
  // any is renamed into place. On failure nothing of the preset has changed.
  bool Save(std::string_view name, const HeaderFields& fields, std::string* error) const;

  struct LoadResult {
    bool scanLoaded = false;     // the scan settings copy was read and merged
    bool scanDamaged = false;    // it exists but is not a whole record: not used
    bool colourWarning = false;  // a colour preset on a scanner without colour
    int toolsLoaded = 0;
    std::vector<std::string> toolsUnreadable;
  };
  // Loads preset `name` into ScanSettings and the tools' records. The scan settings copy is
  // read into a record of its own first; a missing one is skipped, a damaged one reported
  // and skipped. The scanner's own fields, the output name and the network connection
  // stay as they are. "ScanData.dat" is then written with the merged settings.
  LoadResult Load(std::string_view name) const;

  enum class DeleteResult { Deleted, Protected, Failed };
  // Removes every file of preset `name` ("<name>.<ext>", ext without a dot), and no other.
  DeleteResult Delete(std::string_view name, std::string* error) const;

  // Makes sure the family's factory preset has a description and tool files (the factory
  // tool settings) so that it can be listed and loaded; its scan settings copy is written
  // by the scanner's identification. Existing files are left alone.
  void EnsureFactoryPreset(const std::string& description) const;

 private:
  std::string data_;
  std::string tag_;
  FileWriter writer_;
};

// The fields of ScanSettings that a loaded preset never changes: those that describe the
// attached scanner, the next output file and the network connection.
void KeepProtectedFields(const ScanSettingsRecord& live, ScanSettingsRecord& loaded);

// The index to select among `names` for the current preset name: an exact match, else the
// first name beginning with it without regard to case, else 0; -1 for an empty list.
int SelectIndex(const std::vector<std::string>& names, std::string_view current);

}  // namespace orb::presets
