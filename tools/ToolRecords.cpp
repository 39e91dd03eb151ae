#include "tools/ToolRecords.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <type_traits>

#include "common/AppGlobals.h"
#include "engine/Settings.h"
#include "platform/Files.h"
#include "tools/ToolTable.h"

namespace orb::tools {
namespace {

template <class T>
void Clamp(T& v, T lo, T hi, const char* name, std::vector<std::string>& changed) {
  const T c = std::clamp(v, lo, hi);
  if (c != v) {
    v = c;
    changed.emplace_back(name);
  }
}

void Flag(uint8_t& v, const char* name, std::vector<std::string>& changed) {
  if (v > 1) {
    v = 1;
    changed.emplace_back(name);
  }
}

// Calls f with the process-wide record of a tool; false for a tool without one here.
template <class F>
bool WithRecord(int toolId, F&& f) {
  switch (toolId) {
    case kToolBrightCont: f(BrightContSettings); return true;
    case kToolBWPoint: f(BWPointSettings); return true;
    case kToolThreshold: f(BWThresholdSettings); return true;
    case kToolDescreen: f(DescreenSettings); return true;
    case kToolDespeckle: f(DespeckleSettings); return true;
    case kToolGamma: f(GammaSettings); return true;
    case kToolInvert: f(InvertSettings); return true;
    case kToolMirror: f(MirrorSettings); return true;
    case kToolSharpen: f(SharpenSettings); return true;
    case kToolPalette: f(PaletteSettings); return true;
    case kToolRotate90: f(Rotate90Settings); return true;
    case kToolSplit: f(AcceptAs2ImagesSettings); return true;
    case kToolEditor: f(EditorSettings); return true;
    case kToolIndex: f(IndexSettings); return true;
    case kToolColorClass: f(ColorClassSettings); return true;
    case kToolJoin: f(JoinImagesSettings); return true;
    default: return false;
  }
}

template <class R>
std::vector<std::string> RangeOf(R& r) {
  if constexpr (requires { KeepInRange(r); }) {
    return KeepInRange(r);
  } else {
    return {};
  }
}

// Creates the file empty when missing (the settings and preset files always exist after a
// load, as users and the preset list expect).
void TouchFile(const std::string& path) {
  if (path.empty() || orb::FileExists(path)) return;
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  int fd = orb::OpenSharedFile(path, O_RDWR | O_CREAT);
  if (fd >= 0) ::close(fd);
}

bool LoadInto(int toolId, const std::string& path) {
  if (path.empty()) return false;
  TouchFile(path);
  bool ok = false;
  const bool known = WithRecord(toolId, [&](auto& record) {
    ok = LoadRecordFile(path, record);
    RangeOf(record);
  });
  return known && ok;
}

bool SaveFrom(int toolId, const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  bool ok = false;
  const bool known = WithRecord(toolId, [&](const auto& record) { ok = SaveRecordFile(path, record); });
  return known && ok;
}

}  // namespace

std::string ToolSettingsPath(int toolId) {
  const ToolPageInfo* t = FindTool(toolId);
  if (!t || !t->settingsFile) return {};
  return g_szDataFolder + "/" + t->settingsFile;
}

std::string ToolPresetPath(int toolId, const std::string& presetName) {
  const ToolPageInfo* t = FindTool(toolId);
  if (!t || !t->presetExt || presetName.empty()) return {};
  return g_szDataFolder + "/presets/" + g_scanFamilyTag + "/" + presetName + "." + t->presetExt;
}

bool LoadToolSettings(int toolId) {
  if (toolId == kToolGamma) GammaSettings = ToneCurveDefaults;
  return LoadInto(toolId, ToolSettingsPath(toolId));
}

bool SaveToolSettings(int toolId) { return SaveFrom(toolId, ToolSettingsPath(toolId)); }

bool SaveToolPreset(int toolId, const std::string& presetName) {
  return SaveFrom(toolId, ToolPresetPath(toolId, presetName));
}

bool LoadToolPreset(int toolId, const std::string& presetName) {
  return LoadInto(toolId, ToolPresetPath(toolId, presetName));
}

std::vector<uint8_t> ToolRecordBytes(int toolId) {
  std::vector<uint8_t> out;
  WithRecord(toolId, [&](const auto& record) {
    const auto b = EncodeRecord(record);
    out.assign(b.begin(), b.end());
  });
  return out;
}

std::vector<uint8_t> FactoryToolRecordBytes(int toolId) {
  std::vector<uint8_t> out;
  WithRecord(toolId, [&](const auto& record) {
    using R = std::decay_t<decltype(record)>;
    R factory{};
    if constexpr (std::is_same_v<R, GammaRecord>) factory = ToneCurveDefaults;
    const auto b = EncodeRecord(factory);
    out.assign(b.begin(), b.end());
  });
  return out;
}

bool SetToolRecordBytes(int toolId, const uint8_t* data, size_t n) {
  return WithRecord(toolId, [&](auto& record) {
    DecodeRecordPrefix(record, data, n);
    RangeOf(record);
  });
}

std::vector<std::string> KeepInRange(BrightContRecord& r) {
  std::vector<std::string> c;
  Clamp(r.Brightness, -100, 100, "Brightness", c);
  Clamp(r.Contrast, -100, 100, "Contrast", c);
  Flag(r.enabled, "enabled", c);
  return c;
}

std::vector<std::string> KeepInRange(BWPointRecord& r) {
  std::vector<std::string> c;
  Clamp(r.White, 0, 255, "White", c);
  Clamp(r.Black, 0, 255, "Black", c);
  // The page keeps the white point at or above the black point.
  Clamp(r.White, r.Black, 255, "White", c);
  Flag(r.enabled, "enabled", c);
  return c;
}

std::vector<std::string> KeepInRange(BWThresholdRecord& r) {
  std::vector<std::string> c;
  if (r.ThresholdingType < 0 || r.ThresholdingType > 2) {
    r.ThresholdingType = 0;
    c.emplace_back("ThresholdingType");
  }
  // The widest ranges the page and the dialog offer.
  Clamp(r.FixedThreshhold, 1, 100, "FixedThreshhold", c);
  Clamp(r.AdaptiveWindowSize, 1, 100, "AdaptiveWindowSize", c);
  Clamp(r.AdaptiveDynamic, 1, 100, "AdaptiveDynamic", c);
  Clamp(r.DiffusionLevel, 1, 100, "DiffusionLevel", c);
  Clamp(r.HybridWindowSize, 1, 100, "HybridWindowSize", c);
  Clamp(r.HybridDynamic, 1, 100, "HybridDynamic", c);
  Clamp(r.HybridDecisionWindow, 2, 50, "HybridDecisionWindow", c);
  Flag(r.SoftwareThreshold, "SoftwareThreshold", c);
  Flag(r.DiffusionSerpentine, "DiffusionSerpentine", c);
  Flag(r.DiffusionHybrid, "DiffusionHybrid", c);
  return c;
}

std::vector<std::string> KeepInRange(DescreenRecord& r) {
  std::vector<std::string> c;
  Clamp(r.Level, 1, 3, "Level", c);
  Flag(r.enabled, "enabled", c);
  Flag(r.preview, "preview", c);
  return c;
}

std::vector<std::string> KeepInRange(DespeckleRecord& r) {
  std::vector<std::string> c;
  Clamp(r.SpeckWidth, 0, 100, "SpeckWidth", c);
  Clamp(r.SpeckHeight, 0, 100, "SpeckHeight", c);
  Flag(r.enabled, "enabled", c);
  return c;
}

std::vector<std::string> KeepInRange(GammaRecord& r) {
  std::vector<std::string> c;
  if (r.Channel > 3) {
    r.Channel = 0;
    c.emplace_back("Channel");
  }
  Flag(r.enabled, "enabled", c);
  for (auto& curve : r.curves) {
    for (CurvePoint& p : curve) {
      Clamp(p.x, 0, 255, "curves", c);
      Clamp(p.y, 0, 255, "curves", c);
    }
  }
  return c;
}

std::vector<std::string> KeepInRange(SharpenRecord& r) {
  std::vector<std::string> c;
  Clamp(r.Level, -10, 10, "Level", c);
  Flag(r.enabled, "enabled", c);
  Flag(r.preview, "preview", c);
  return c;
}

std::vector<std::string> KeepInRange(EnabledByteRecord& r) {
  std::vector<std::string> c;
  Flag(r.enabled, "enabled", c);
  return c;
}

std::vector<std::string> KeepToolRecordInRange(int toolId) {
  std::vector<std::string> changed;
  WithRecord(toolId, [&](auto& record) { changed = RangeOf(record); });
  return changed;
}

}  // namespace orb::tools
