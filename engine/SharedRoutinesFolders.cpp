// The folder chooser's logic: where it starts, what it shows while the user looks around,
// and whether the chosen path can be used. The window itself is the GUI's.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <utility>

#include "engine/EngineHost.h"
#include "engine/SharedRoutines.h"
#include "platform/Files.h"

namespace orb {

namespace {

std::mutex g_chooserMutex;
FolderChooser g_chooser;

// The folder above `path` ("/a/b/" and "/a/b" give "/a"; "/a" gives "/"; "a" gives "").
std::string ParentFolder(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return {};
  if (slash == 0) return path == "/" ? std::string() : std::string("/");
  return path.substr(0, slash);
}

}  // namespace

FolderCheck CheckFolder(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return FolderCheck::Missing;
  if (!S_ISDIR(st.st_mode)) return FolderCheck::NotAFolder;
  // The program keeps files in the folders it is given: a read-only folder (no write
  // permission for anyone, whoever runs the program) and one this user cannot enter or
  // write into are refused.
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK | X_OK) != 0) {
    return FolderCheck::NotWritable;
  }
  return FolderCheck::Usable;
}

FolderBrowseState::FolderBrowseState(const std::string& initial) {
  std::string folder = initial;
  while (!folder.empty() && !IsDirectory(folder)) folder = ParentFolder(folder);
  if (folder.empty()) {
    const char* home = std::getenv("HOME");
    folder = home && IsDirectory(home) ? std::string(home) : std::string("/");
  }
  start_ = folder;
  selected_ = folder;
}

void FolderBrowseState::Select(const std::string& path) { selected_ = path; }

void SetFolderChooser(FolderChooser chooser) {
  std::lock_guard<std::mutex> lock(g_chooserMutex);
  g_chooser = std::move(chooser);
}

}  // namespace orb

int BrowseForFolder(std::string& path) {
  orb::FolderChooser chooser;
  {
    std::lock_guard<std::mutex> lock(orb::g_chooserMutex);
    chooser = orb::g_chooser;
  }
  if (!chooser) return orb::kFolderNotChosen;
  orb::FolderBrowseState state(path);
  std::optional<std::string> chosen = chooser(state);
  if (!chosen) return orb::kFolderNotChosen;
  path = *chosen;
  if (orb::CheckFolder(path) == orb::FolderCheck::Usable) return orb::kFolderChosen;
  orb::Notify(orb::kMsgNotAPlainFolder, orb::MessageIcon::Exclamation, {path});
  return orb::kFolderNotChosen;
}
