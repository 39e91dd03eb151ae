// The program's folders on a Linux desktop, found the XDG way.
//
// Everything is looked up from the environment at the time of the call, so a test (or a
// user) can point HOME and the XDG variables somewhere else and the program follows.
//   data folder:   $XDG_DATA_HOME/OrbalonData      (XDG_DATA_HOME defaults to ~/.local/share)
//   documents:     $XDG_DOCUMENTS_DIR, else XDG_DOCUMENTS_DIR of user-dirs.dirs
//                  ($XDG_CONFIG_HOME, default ~/.config), else ~/Documents
//   user folder:   <documents>/Orbalon, its images in <documents>/Orbalon/images
//   program folder: the folder of the running executable (/proc/self/exe)
// Paths come back without a trailing slash.
#pragma once

#include <string>

namespace orb {

// The user's home folder: $HOME, else the password database entry.
std::string HomeFolder();
// The data folder ("OrbalonData" under the XDG data home). Not created here.
std::string DataFolderPath();
// The XDG documents folder.
std::string DocumentsFolder();
// "Orbalon" under the documents folder. Not created here.
std::string UserFolderPath();
// "images" under the user folder. Not created here.
std::string UserImagesFolderPath();
// The folder of the running executable; empty when it cannot be found.
std::string ProgramFolderPath();

// Creates a folder and its missing parents (mode 0777 under the umask). True when the
// folder exists afterwards.
bool EnsureFolder(const std::string& path);
// Creates the user folder and its images folder when missing; true when both exist.
bool EnsureUserFolders();

// Joins two path parts with exactly one slash between them.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace orb
