// The interface of the colour-classification control, libtintwell.so, as its host sees it.
//
// The host finds the library through the registration file (TintwellRegistration.h), loads
// it, checks TintwellInterfaceVersion, and calls the factory with its own window (a
// wxWindow*, so that the classification dialog is a child of it: host and library share
// one wx) and an event sink. The control lives until Release(). Palettes are R, G, B per
// entry; the lookup table has one palette index per 5-6-5 cell:
//   lut[(r >> 3) * 2048 + (g >> 2) * 32 + (b >> 3)]
// Every call, event and dialog message runs on the host's GUI thread.
#pragma once

#include <array>
#include <cstdint>

using TwBool = int32_t;  // TRUE 1, FALSE 0, as the dispatch methods answer
inline constexpr TwBool kTwTrue = 1;
inline constexpr TwBool kTwFalse = 0;

// Dispatch ids of the methods and events, looked up by name for hosts that call by name.
struct TintwellDispatchEntry {
  int32_t dispid;
  const char* name;
};
inline constexpr TintwellDispatchEntry kTintwellMethods[] = {
    {1, "InitClassify"},          {2, "GetPalette"},
    {3, "SetPalette"},            {4, "SetNumberOfColors"},
    {5, "BuildHistogram"},        {6, "SetCursorToSelectCurrentColor"},
    {7, "SetCurrentColor"},       {8, "SetCursorToAreaMerge"},
    {9, "MergeAreaToCurrentColor"}, {10, "RunClassify"},
    {11, "SetScannerLut"},        {12, "SetLanguageAndHelpPath"},
};
inline constexpr TintwellDispatchEntry kTintwellEvents[] = {
    {-600, "Click"},
    {1, "PaletteModified"},
    {2, "HueflockDlgClosed"},
    {3, "DisplayUsingRGB"},
    {4, "DisplayUsingPalette"},
    {5, "RequestCurrentColor"},
    {6, "CancelRequestCurrentColor"},
    {7, "RequestMergeArea"},
    {8, "CancelRequestMergeArea"},
};
enum TintwellEventId : int32_t {
  kEvClick = -600,
  kEvPaletteModified = 1,
  kEvHueflockDlgClosed = 2,
  kEvDisplayUsingRGB = 3,
  kEvDisplayUsingPalette = 4,
  kEvRequestCurrentColor = 5,
  kEvCancelRequestCurrentColor = 6,
  kEvRequestMergeArea = 7,
  kEvCancelRequestMergeArea = 8,
};
// -1 when the name is not a method (or event) of the control.
int32_t TintwellMethodId(const char* name);
int32_t TintwellEventId(const char* name);

// What the control reports. The pointers of PaletteModified are the control's own
// buffers, valid for the call: a sink copies them.
class _DTintwellEvents {
public:
  virtual void Click() {}
  virtual void PaletteModified(const uint8_t* /*pPal*/, uint32_t /*iNbrColorsInPal*/,
                               const uint8_t* /*pScannerLUT*/) {}
  virtual void HueflockDlgClosed(uint32_t /*ulClosedState: 1 OK, 2 Cancel*/) {}
  virtual void DisplayUsingRGB() {}
  virtual void DisplayUsingPalette() {}
  virtual void RequestCurrentColor() {}
  virtual void CancelRequestCurrentColor() {}
  virtual void RequestMergeArea() {}
  virtual void CancelRequestMergeArea() {}

protected:
  virtual ~_DTintwellEvents() = default;
};

// Fires a parameterless event by its dispatch id; PaletteModified and HueflockDlgClosed
// carry data and have their own calls.
void FireTintwellEvent(_DTintwellEvents& sink, int32_t dispid);

class _DTintwell {
public:
  virtual TwBool InitClassify() = 0;
  virtual std::array<uint8_t, 768> GetPalette() = 0;
  virtual TwBool SetPalette(const uint8_t* pPal) = 0;
  virtual TwBool SetNumberOfColors(int16_t sNbr) = 0;
  virtual TwBool BuildHistogram(const uint8_t* pLines, int32_t lLineWid, int32_t lLines) = 0;
  virtual TwBool SetCursorToSelectCurrentColor() = 0;
  virtual TwBool SetCurrentColor(uint8_t bPalIdx) = 0;
  virtual TwBool SetCursorToAreaMerge() = 0;
  virtual TwBool MergeAreaToCurrentColor(const uint32_t* pArrMergeIdx) = 0;
  virtual TwBool RunClassify(TwBool fEdit) = 0;
  virtual TwBool SetScannerLut(const uint8_t* pLut) = 0;
  virtual TwBool SetLanguageAndHelpPath(uint16_t usLanguageID, const char* pszHelpPath) = 0;

  // Connection points: every advised sink gets every event, in the order advised.
  virtual void Advise(_DTintwellEvents* sink) = 0;
  virtual void Unadvise(_DTintwellEvents* sink) = 0;
  // Destroys the control (and its dialog, when open).
  virtual void Release() = 0;

protected:
  virtual ~_DTintwell() = default;
};

// The exports of libtintwell.so, by name for dlsym.
inline constexpr uint32_t kTintwellInterfaceVersion = 1;
inline constexpr const char* kTintwellVersionExport = "TintwellInterfaceVersion";
inline constexpr const char* kTintwellFactoryExport = "TintwellCreateControl";
using TintwellVersionFn = uint32_t (*)();
// hostWindow: the wxWindow* the dialog is made a child of (may be null); sink may be null.
using TintwellFactoryFn = _DTintwell* (*)(void* hostWindow, _DTintwellEvents* sink);
using ExportedSetScannerLutFn = TwBool (*)(const uint8_t* pLut);
using ExportedSetPaletteFn = TwBool (*)(const uint8_t* pPal);
using DllRegisterServerFn = uint32_t (*)();
