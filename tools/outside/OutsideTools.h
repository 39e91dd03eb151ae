// The outside editor and indexer tools without their pages: the program path a user types
// checked and completed, and the run of the program on an image, waited for while the
// program's own messages go on being handled.
#pragma once

#include <functional>
#include <string>

#include "engine/ToolSettings.h"

namespace orb::tools {

inline constexpr int kMsgProgramFolderMissing = 33006;
inline constexpr int kMsgProgramNameIsFolder = 33007;
inline constexpr int kMsgProgramNotStarted = 36440;  // "%s": the program

struct TypedPath {
  enum Result { Ok, FolderMissing, IsFolder } result = Ok;
  std::string path;  // the completed path (Ok)
};
// A typed path: a bare name takes the folder of `scanOutputName`; the folder must exist and
// the whole path must not be a folder.
TypedPath CheckTypedPath(const std::string& typed, const std::string& scanOutputName);

// Between looks at the program: handles the program's messages; false stops the wait
// (Esc). The default pumps the engine host's messages and stops on the cancel flag.
using WaitPump = std::function<bool()>;

// -1 when no program is set; 0 when it ran (or could not be started: said in a message).
// `ran` tells whether the program was started and ended with the image.
int RunEditor(const EditorRecord& editor, const std::string& image, const WaitPump& pump = {}, bool* ran = nullptr);
int RunIndexer(const IndexRecord& indexer, const std::string& image, const WaitPump& pump = {});

// A document's closing: the editor, then the indexer, each when its tool is switched on.
void RunOutsideToolsOnClose(const std::string& image);

}  // namespace orb::tools
