// The host's side of libtintwell.so: finds the library through the registration file (or
// takes a path), loads it and resolves its exports. Display-free: the host passes its
// window through as a pointer.
#pragma once

#include <string>

#include "color_control/TintwellInterface.h"

class TintwellLibrary {
public:
  TintwellLibrary() = default;
  ~TintwellLibrary();
  TintwellLibrary(const TintwellLibrary&) = delete;
  TintwellLibrary& operator=(const TintwellLibrary&) = delete;

  // Loads the library at `path`; false (with `error` set) when it cannot be loaded, lacks
  // an export or speaks another interface version.
  bool Load(const std::string& path, std::string* error = nullptr);
  // The library registered for the control class in the controls folder.
  bool LoadRegistered(const std::string& controlsFolder, std::string* error = nullptr);
  bool Loaded() const { return handle_ != nullptr; }

  // A new control, its dialog a child of `hostWindow` (a wxWindow*); release it with
  // Release() before the library is unloaded.
  _DTintwell* CreateControl(void* hostWindow, _DTintwellEvents* sink) const;
  TwBool SetScannerLut(const uint8_t* lut) const;
  TwBool SetPalette(const uint8_t* pal) const;
  uint32_t RegisterServer() const;
  uint32_t UnregisterServer() const;

private:
  void* Symbol(const char* name) const;
  void* handle_ = nullptr;
  TintwellFactoryFn factory_ = nullptr;
  ExportedSetScannerLutFn setLut_ = nullptr;
  ExportedSetPaletteFn setPal_ = nullptr;
  DllRegisterServerFn reg_ = nullptr, unreg_ = nullptr;
};
