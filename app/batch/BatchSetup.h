// The batch file editor's work without its window: a working copy of the batch file that
// every change goes into, and OK, which writes [General] and (for a new file) the
// processing sections into it and then replaces the target with it.
#pragma once

#include <string>

#include "app/batch/BatchFile.h"

namespace orb::presets {
class PresetStore;
}

namespace orb::batch {

// Writes the processing sections from a stored preset's tool files, leaving the program's
// own tool settings as they were.
bool WriteProcessingSectionsFromPreset(const std::string& batchPath, const presets::PresetStore& store,
                                       const std::string& preset);

class BatchWorkingFile {
 public:
  // A working file in `folder`; for an existing batch file (`target` not empty and
  // existing) a copy of it.
  BatchWorkingFile(const std::string& folder, const std::string& target);
  // Cancel: the working file goes, the target stays as it was.
  ~BatchWorkingFile();
  BatchWorkingFile(const BatchWorkingFile&) = delete;
  BatchWorkingFile& operator=(const BatchWorkingFile&) = delete;

  bool Ok() const { return !path_.empty(); }
  bool Editing() const { return editing_; }
  const std::string& Path() const { return path_; }

  struct Choices {
    EditorGeneral general;
    bool fromPreset = false;
    std::string preset;
  };
  // OK: [General] anew; a new file also gets its processing sections (from the current
  // tool settings, or from the preset). The target is then replaced by the working file
  // (written beside it and renamed over it), and with a run date the schedule file is
  // written under `scheduleRoot`. False (with `error`) when the target could not be written:
  // it is then as it was.
  bool Commit(const std::string& target, const Choices& choices, const std::string& scheduleRoot,
              const presets::PresetStore* store, std::string* error);

 private:
  std::string path_;
  bool editing_ = false;
};

}  // namespace orb::batch
