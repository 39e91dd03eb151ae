#include "color_control/TintwellHost.h"

#include <dlfcn.h>

#include "color_control/TintwellRegistration.h"

TintwellLibrary::~TintwellLibrary() {
  if (handle_) dlclose(handle_);
}

void* TintwellLibrary::Symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

bool TintwellLibrary::Load(const std::string& path, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    if (handle_) dlclose(handle_);
    handle_ = nullptr;
    return false;
  };
  if (handle_) return fail("already loaded");
  // Never unmapped: a closed dialog's window is deleted by wx later, when the idle loop
  // runs, and its code must still be there then.
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!handle_) return fail(dlerror());
  auto version = reinterpret_cast<TintwellVersionFn>(Symbol(kTintwellVersionExport));
  if (!version || version() != kTintwellInterfaceVersion) return fail("interface version mismatch");
  factory_ = reinterpret_cast<TintwellFactoryFn>(Symbol(kTintwellFactoryExport));
  setLut_ = reinterpret_cast<ExportedSetScannerLutFn>(Symbol("ExportedSetScannerLut"));
  setPal_ = reinterpret_cast<ExportedSetPaletteFn>(Symbol("ExportedSetPalette"));
  reg_ = reinterpret_cast<DllRegisterServerFn>(Symbol("DllRegisterServer"));
  unreg_ = reinterpret_cast<DllRegisterServerFn>(Symbol("DllUnregisterServer"));
  if (!factory_ || !setLut_ || !setPal_ || !reg_ || !unreg_) return fail("missing export");
  return true;
}

bool TintwellLibrary::LoadRegistered(const std::string& folder, std::string* error) {
  const std::string path = tintwell::FindRegisteredLibrary(tintwell::kControlClassId, folder);
  if (path.empty()) {
    if (error) *error = "the control is not registered";
    return false;
  }
  return Load(path, error);
}

_DTintwell* TintwellLibrary::CreateControl(void* hostWindow, _DTintwellEvents* sink) const {
  return factory_ ? factory_(hostWindow, sink) : nullptr;
}

TwBool TintwellLibrary::SetScannerLut(const uint8_t* lut) const { return setLut_ ? setLut_(lut) : kTwFalse; }
TwBool TintwellLibrary::SetPalette(const uint8_t* pal) const { return setPal_ ? setPal_(pal) : kTwFalse; }
uint32_t TintwellLibrary::RegisterServer() const { return reg_ ? reg_() : tintwell::kRegTypeLibFailed; }
uint32_t TintwellLibrary::UnregisterServer() const { return unreg_ ? unreg_() : tintwell::kRegTypeLibFailed; }
