// Registration of the control: DllRegisterServer writes a file that names the library,
// its classes and interfaces; hosts read it to find the library to load.
//
// The file is "Tintwell.reg" in the controls folder ("Controls" under the data folder),
// private-profile text: a [TypeLib] section and one section per class, named by its class
// id. Registration writes the type library first and then the classes, unregistration
// removes them in the same order; each step fails with its own code.
#pragma once

#include <cstdint>
#include <string>

namespace tintwell {

inline constexpr uint32_t kRegOk = 0;
inline constexpr uint32_t kRegTypeLibFailed = 0x80040200;  // SELFREG_E_TYPELIB
inline constexpr uint32_t kRegClassFailed = 0x80040201;    // SELFREG_E_CLASS

inline constexpr const char* kTypeLibId = "{A4662F48-0628-44EF-B928-47B90A325D83}";
inline constexpr const char* kControlClassId = "{DE87BFDB-6A28-44D4-AB35-CDCFE860784D}";
inline constexpr const char* kControlProgId = "TINTWELL.TintwellCtrl.1";
inline constexpr const char* kDispatchId = "{1D7DC673-940F-423E-8005-AE8708B91433}";
inline constexpr const char* kEventsId = "{0C431E21-DCCC-45A9-B729-2847A7EB30B4}";
inline constexpr const char* kPropPageClassId = "{A697138D-2C09-4A83-90F9-4BB27EC5B627}";
inline constexpr const char* kPropPageProgId = "TINTWELL.TintwellPropPage.1";

std::string ControlsFolder();
std::string RegistrationFile(const std::string& controlsFolder);

uint32_t RegisterServer(const std::string& libraryPath, const std::string& controlsFolder);
// Unregistering what is not registered fails as the type library step (nothing to remove).
uint32_t UnregisterServer(const std::string& controlsFolder);

// The library registered for a class id or ProgID; empty when none.
std::string FindRegisteredLibrary(const std::string& classIdOrProgId,
                                  const std::string& controlsFolder);

}  // namespace tintwell
