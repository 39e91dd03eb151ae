// Texts of the tool pages in the language module.
#pragma once

#include <wx/string.h>

namespace orb::tools {

inline constexpr int kStrApply = 35302;
inline constexpr int kStrReset = 35303;
inline constexpr int kStrPreview = 35304;
inline constexpr int kStrToggleCaption = 35305;
inline constexpr int kStrBrightness = 35306;
inline constexpr int kStrContrast = 35307;
inline constexpr int kStrWhitePoint = 35308;
inline constexpr int kStrBlackPoint = 35309;
inline constexpr int kStrSharpenLevel = 35310;
inline constexpr int kStrNoiseWindow = 35311;
inline constexpr int kStrSpeckSize = 35312;
inline constexpr int kStrChannel = 35313;
inline constexpr int kStrThresholding = 35314;
inline constexpr int kStrFixed = 35315;
inline constexpr int kStrAdaptive = 35316;
inline constexpr int kStrCombined = 35317;
inline constexpr int kStrSoftware = 35318;
inline constexpr int kStrOption = 35319;
inline constexpr int kStrAdaptivePart = 35320;
inline constexpr int kStrNotBuilt = 35321;
inline constexpr int kStrSlider1 = 35323;
inline constexpr int kStrSlider2 = 35324;
inline constexpr int kStrSlider3 = 35325;
inline constexpr int kStrLow = 35326;
inline constexpr int kStrHigh = 35327;
inline constexpr int kStrThresholdDlgTitle = 35328;
inline constexpr int kStrNoiseInvertMirror = 35329;  // the invert and mirror pages' line
// Labels of the tool buttons: 35330 + the button's place in the host's table.
inline constexpr int kStrToolButtonBase = 35330;
inline constexpr int kStrOtherToolButtonBase = 35350;
inline constexpr int kStrChannelNames = 33031;

wxString ToolStr(int id);

}  // namespace orb::tools

using orb::tools::ToolStr;
