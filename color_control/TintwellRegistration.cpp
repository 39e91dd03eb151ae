#include "color_control/TintwellRegistration.h"

#include <cstdio>
#include <strings.h>

#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Ini.h"

namespace tintwell {

namespace {

std::string TypeLibSection() {
  return std::string("[TypeLib]\nId=") + kTypeLibId +
         "\nName=TintwellLib\nVersion=1.0\nLocale=1033\n";
}

std::string ClassSections(const std::string& library) {
  std::string s;
  s += std::string("[") + kControlClassId + "]\nProgID=" + kControlProgId +
       "\nName=Tintwell Control\nLibrary=" + library +
       "\nFactory=TintwellCreateControl\nDispatch=" + kDispatchId + "\nEvents=" + kEventsId +
       "\nThreading=Apartment\nMiscStatus=0x20191\nToolboxBitmap=1\n";
  s += std::string("[") + kPropPageClassId + "]\nProgID=" + kPropPageProgId +
       "\nName=Tintwell Property Page\nLibrary=" + library + "\n";
  return s;
}

}  // namespace

std::string ControlsFolder() { return orb::JoinPath(orb::DataFolderPath(), "Controls"); }

std::string RegistrationFile(const std::string& folder) {
  return orb::JoinPath(folder, "Tintwell.reg");
}

uint32_t RegisterServer(const std::string& library, const std::string& folder) {
  const std::string file = RegistrationFile(folder);
  if (!orb::EnsureFolder(folder) || !orb::WriteFileAtomically(file, TypeLibSection())) {
    return kRegTypeLibFailed;
  }
  if (!orb::WriteFileAtomically(file, TypeLibSection() + ClassSections(library))) {
    return kRegClassFailed;
  }
  return kRegOk;
}

uint32_t UnregisterServer(const std::string& folder) {
  const std::string file = RegistrationFile(folder);
  if (!orb::FileExists(file) || !orb::WritePrivateProfileString("TypeLib", nullptr, nullptr, file)) {
    return kRegTypeLibFailed;
  }
  if (std::remove(file.c_str()) != 0) return kRegClassFailed;
  return kRegOk;
}

std::string FindRegisteredLibrary(const std::string& key, const std::string& folder) {
  const std::string file = RegistrationFile(folder);
  for (const auto& section : orb::GetPrivateProfileSectionNames(file)) {
    const std::string prog = orb::GetPrivateProfileString(section, "ProgID", "", file);
    if (strcasecmp(section.c_str(), key.c_str()) == 0 || (!prog.empty() && prog == key)) {
      return orb::GetPrivateProfileString(section, "Library", "", file);
    }
  }
  return {};
}

}  // namespace tintwell
