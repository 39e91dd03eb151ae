// The image tools of the program: which tool pages exist, where each lives, the files its
// settings record is kept in, and the codes a tool leaves in the image version it makes.
// Everything the hosting pages, the settings files, the presets and the undo text need to
// know about a tool by its id is here, in one table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace orb::tools {

// Tool ids: the id of the tool's button on its host and the value that WM_TOOL_APPLY and
// WM_TOOL_ENABLE carry.
enum ToolId : int {
  kToolNone = 0,
  kToolDeskew = 1061,
  kToolCrop = 1062,
  kToolDespeckle = 1063,
  kToolPalette = 1064,
  kToolBrightCont = 1065,
  kToolBWPoint = 1066,
  kToolSharpen = 1067,
  kToolMirror = 1068,
  kToolInvert = 1069,
  kToolRotate90 = 1070,
  kToolGamma = 1071,
  kToolDescreen = 1072,
  kToolThreshold = 1073,
  kToolReduceRes = 1093,
  kToolEditor = 1252,
  kToolIndex = 1253,
  kToolColorClass = 1255,
  kToolJoin = 1256,
  kToolSplit = 1257,
};

// Control ids every filter page shares.
inline constexpr int IDC_TOOL_ENABLE = 1081;   // enable toggle (a check drawn as a bitmap)
inline constexpr int IDC_TOOL_RESET = 1175;    // back to the tool's defaults
inline constexpr int IDC_TOOL_PREVIEW = 1083;  // preview at actual size (noise, sharpen)
// Pictures of the module the pages use.
inline constexpr int IDB_TOGGLE_ON = 218;
inline constexpr int IDB_TOGGLE_OFF = 219;
inline constexpr int IDB_RESET = 243;
// The placeholder page a host shows when no tool is chosen.
inline constexpr int IDD_DUMMY_TOOLS = 193;

// The operation a tool's new image version records (undo names it; 0 after a save).
enum LastOperation : uint32_t {
  kOpNone = 0,
  kOpMirror = 1,
  kOpInvert = 2,
  kOpSharpen = 3,
  kOpBlur = 4,
  kOpNoiseRemoval = 5,
  kOpDeskew = 6,
  kOpRotate90 = 7,
  kOpDespeckle = 8,
  kOpCrop = 9,
  kOpReduceRes = 10,
  kOpPalette = 11,  // palette conversion and colour classification
};

enum class ToolHostPage { ViewTools, OtherTools };

// What the page's OK (Enter, the apply button) does.
enum class OkAction {
  PostApply,  // the change is previewed and reaches the file when the image is saved
  Pipeline,   // the apply pipeline makes a new version of the image
  OwnRule,    // the tool's own apply (geometry and colour tools)
};

struct ToolPageInfo {
  const char* pageClass;
  int templateId;
  int toolId;
  ToolHostPage host;
  size_t recordBytes;        // 0: no settings record
  const char* settingsFile;  // in the data folder; null: none
  const char* presetExt;     // null: no preset
  const char* batchSection;  // null: not in batch files
  OkAction ok;
};

// Every tool page with a tool id, in the hosts' creation order.
std::span<const ToolPageInfo> ToolPages();
// The entry of a tool id; null for an unknown id.
const ToolPageInfo* FindTool(int toolId);

// The tools whose records the main frame's preset save and load carry, in the fixed order
// of their files, with the name a message gives each.
struct FramePresetTool {
  int toolId;
  const char* name;
};
std::span<const FramePresetTool> FramePresetTools();

// Tools whose toggle is shown by an own picture on the tools page while enabled.
bool ShowsEnabledPicture(int toolId);

}  // namespace orb::tools
