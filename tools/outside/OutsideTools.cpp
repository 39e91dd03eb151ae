#include "tools/outside/OutsideTools.h"

#include <filesystem>

#include "engine/EngineHost.h"
#include "tools/outside/OutsidePrograms.h"

namespace orb::tools {
namespace {

namespace fs = std::filesystem;

bool DefaultPump() {
  PumpMessages();
  return !IsCancelled();
}

// Starts and waits; false (said) when the program cannot be started.
bool RunAndWait(const std::string& program, const std::vector<std::string>& args, const WaitPump& pump) {
  const pid_t pid = StartProgram(program, args);
  if (pid < 0) {
    Notify(kMsgProgramNotStarted, MessageIcon::Exclamation, {MessageArg{program}});
    return false;
  }
  CancelFlag = 0;
  WaitForProgram(pid, pump ? pump : WaitPump(DefaultPump));
  CancelFlag = 0;
  return true;
}

}  // namespace

TypedPath CheckTypedPath(const std::string& typed, const std::string& scanOutputName) {
  TypedPath r;
  fs::path p(typed);
  if (!p.has_parent_path()) p = fs::path(scanOutputName).parent_path() / p;
  std::error_code ec;
  if (p.parent_path().empty() || !fs::is_directory(p.parent_path(), ec)) {
    r.result = TypedPath::FolderMissing;
  } else if (fs::is_directory(p, ec)) {
    r.result = TypedPath::IsFolder;
  } else {
    r.path = p.string();
  }
  return r;
}

int RunEditor(const EditorRecord& editor, const std::string& image, const WaitPump& pump, bool* ran) {
  if (ran) *ran = false;
  const std::string program = GetPathField(editor.AppName);
  if (!IsProgramSet(program)) return -1;
  const bool done = RunAndWait(program, EditorArguments(program, image), pump);
  if (ran) *ran = done && !image.empty();
  return 0;
}

int RunIndexer(const IndexRecord& indexer, const std::string& image, const WaitPump& pump) {
  const std::string program = GetPathField(indexer.AppName);
  if (!IsProgramSet(program)) return -1;
  RunAndWait(program, IndexerArguments(program, GetPathField(indexer.ProjName), image), pump);
  return 0;
}

void RunOutsideToolsOnClose(const std::string& image) {
  if (EditorSettings.enabled) RunEditor(EditorSettings, image);
  if (IndexSettings.enabled) RunIndexer(IndexSettings, image);
}

}  // namespace orb::tools
