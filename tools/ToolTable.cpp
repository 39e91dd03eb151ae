#include "tools/ToolTable.h"

namespace orb::tools {
namespace {

using H = ToolHostPage;
using O = OkAction;

constexpr ToolPageInfo kPages[] = {
    {"CDeskewTools", 190, kToolDeskew, H::ViewTools, 0, nullptr, nullptr, nullptr, O::OwnRule},
    {"CDespeckleTools", 191, kToolDespeckle, H::ViewTools, 12, "Despeckle.flt", "dsp", "BinaryDespeckle", O::Pipeline},
    {"CCropTools", 192, kToolCrop, H::ViewTools, 0, nullptr, nullptr, nullptr, O::OwnRule},
    {"CBrightContTools", 195, kToolBrightCont, H::ViewTools, 12, "BrightCont.flt", "brc", "BrightnessContrast",
     O::PostApply},
    {"CBWPointTools", 196, kToolBWPoint, H::ViewTools, 12, "BWPoint.flt", "bwp", "WhiteBlackPoint", O::PostApply},
    {"CPaletteTools", 197, kToolPalette, H::ViewTools, 8, "Palette.flt", "plt", "Palette", O::OwnRule},
    {"CSharpenTools", 198, kToolSharpen, H::ViewTools, 8, "Sharpen.flt", "sha", "SharpenBlur", O::Pipeline},
    {"CGammaTools", 200, kToolGamma, H::ViewTools, 1160, "Gamma.flt", "gma", "Gamma", O::PostApply},
    {"CDescreenTools", 202, kToolDescreen, H::ViewTools, 8, "Descreen.flt", "des", "NoiseRemoval", O::Pipeline},
    {"CRotate90Tools", 203, kToolRotate90, H::ViewTools, 8, "Rotate90.flt", "r90", "Rotate90", O::OwnRule},
    {"CMirrorTools", 220, kToolMirror, H::ViewTools, 1, "Mirror.flt", "mir", "Mirror", O::Pipeline},
    {"CInvertTools", 221, kToolInvert, H::ViewTools, 1, "Invert.flt", "inv", "Invert", O::Pipeline},
    {"CReduceResTools", 275, kToolReduceRes, H::ViewTools, 4, "ReduceRes.flt", "res", nullptr, O::OwnRule},
    {"CBWThreshTools", 277, kToolThreshold, H::ViewTools, 36, "BWThreshold.flt", "thr", "BinaryThreshold",
     O::PostApply},
    {"CEditorTools", 105, kToolEditor, H::OtherTools, 261, "Editor.flt", "edt", "Editor", O::OwnRule},
    {"CIndexTools", 106, kToolIndex, H::OtherTools, 521, "Index.flt", "idx", "Indexer", O::OwnRule},
    {"CColorClassTools", 129, kToolColorClass, H::OtherTools, 272, "ColorClass.flt", "cls", nullptr, O::OwnRule},
    {"CJoinImagesTools", 274, kToolJoin, H::OtherTools, 24, "JoinImages.flt", "joi", nullptr, O::OwnRule},
    {"CAcceptAs2ImagesTools", 276, kToolSplit, H::OtherTools, 2, "AcceptAs2Images.flt", "a2i", nullptr, O::OwnRule},
};

// Reduce resolution and join keep preset files of their own, but a preset of the main
// frame leaves them out.
constexpr FramePresetTool kFramePresets[] = {
    {kToolThreshold, "threshold"},
    {kToolMirror, "mirror"},
    {kToolInvert, "invert"},
    {kToolBWPoint, "black and white point"},
    {kToolBrightCont, "brightness and contrast"},
    {kToolGamma, "tone curves"},
    {kToolSharpen, "sharpen"},
    {kToolDescreen, "noise removal"},
    {kToolDespeckle, "despeckle"},
    {kToolRotate90, "rotate"},
    {kToolPalette, "palette"},
    {kToolEditor, "editor"},
    {kToolIndex, "indexer"},
    {kToolColorClass, "colour classification"},
    {kToolSplit, "accept as two images"},
};

}  // namespace

std::span<const FramePresetTool> FramePresetTools() { return kFramePresets; }

std::span<const ToolPageInfo> ToolPages() { return kPages; }

const ToolPageInfo* FindTool(int toolId) {
  for (const ToolPageInfo& p : kPages) {
    if (p.toolId == toolId) return &p;
  }
  return nullptr;
}

bool ShowsEnabledPicture(int toolId) { return toolId >= kToolDespeckle && toolId <= kToolDescreen; }

}  // namespace orb::tools
