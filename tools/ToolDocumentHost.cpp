#include "tools/ToolDocumentHost.h"

#include "engine/filters/FilterChain.h"

namespace orb::tools {
namespace {
ToolDocumentHost* g_host = nullptr;
}  // namespace

void SetToolDocumentHost(ToolDocumentHost* host) { g_host = host; }
ToolDocumentHost* GetToolDocumentHost() { return g_host; }
ImageState* ActiveToolImage() { return g_host ? g_host->ActiveImage() : nullptr; }

int ApplyToActiveImage(const std::function<ApplyOutcome(ImageState*, const ApplyProgressFactory&)>& run) {
  ToolDocumentHost* host = g_host;
  ImageState* source = host ? host->ActiveImage() : nullptr;
  if (!source) return -1;
  const PixelRect region = source->region;
  ApplyProgressFactory progress = [host](int caption, int lines) { return host->MakeProgress(caption, lines); };
  ApplyOutcome out = run(source, progress);
  if (out.result == ApplyResult::NoImage || out.result == ApplyResult::NoRoom) return -1;
  if (out.result == ApplyResult::Applied) host->SetWorkingImage(out.working);
  host->ImageChanged();
  host->UpdateView(kViewHintWholeImage);
  // The user keeps looking at the part of the image he looked at before.
  source->region = region;
  out.working->region = region;
  host->UpdateView(kViewHintRedraw);
  return 0;
}

int ApplyToolToActiveImage(const ApplyPlan& plan) {
  return ApplyToActiveImage([&plan](ImageState* source, const ApplyProgressFactory& progress) {
    return RunApplyPipeline(source, plan, FilterSettings::Current(), progress);
  });
}

bool PreviewPendingFilter(PendingFilter which) {
  ImageState* image = ActiveToolImage();
  if (!image) return false;
  switch (which) {
    case PendingFilter::BrightCont: image->brightnessPending = 1; break;
    case PendingFilter::BWPoint: image->bwPointPending = 1; break;
    case PendingFilter::ToneCurve: image->toneCurvePending = 1; break;
    case PendingFilter::Threshold:
      // Only a scan whose lines hold grey can show another threshold.
      if (!image->linesOneBytePerPixel) return false;
      image->thresholdPending = 1;
      break;
  }
  image->edited = 1;
  g_host->UpdateView(kViewHintRepaint);
  return true;
}

}  // namespace orb::tools
