#include "tools/transform/ScanTools.h"

#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "tools/ToolDocumentHost.h"
#include "tools/ToolViewHooks.h"
#include "tools/transform/PaletteConvert.h"
#include "tools/transform/Rotate90.h"

namespace orb::tools {

bool PaletteConvertsScans() {
  return PaletteSettings.enabled != 0 && EffectivePaletteMode(static_cast<int>(PaletteSettings.ConvertTo)) != kToBilevel;
}

int ConvertScan() {
  if (!PaletteConvertsScans()) return -1;
  return ConvertActiveImage(static_cast<int>(PaletteSettings.ConvertTo));
}

int TurnScan() { return TurnActiveImage(Rotate90Settings.Direction); }

SplitResult SplitAcceptedScan(const std::string& scanPath, uint32_t format) {
  ImageState* image = ActiveToolImage();
  if (!image) return SplitResult::NoImage;
  int orientation = AcceptAs2ImagesSettings.orientation == kSplitVertical ? kSplitVertical : kSplitHorizontal;
  int32_t position = orientation == kSplitVertical ? image->width / 2 : image->height / 2;
  if (const auto* hooks = dynamic_cast<const SplitHooks*>(RegisteredViewTool(ViewToolRole::Split))) {
    orientation = hooks->Orientation();
    position = hooks->Position();
  }
  return SplitActiveScan(AcceptAs2ImagesSettings.enabled != 0, orientation, position, SplitOutput{scanPath, format});
}

}  // namespace orb::tools
