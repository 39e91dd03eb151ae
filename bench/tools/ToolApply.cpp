// Runs one tool's apply pipeline over an uncompressed TIFF, as the program does when the
// user presses Apply: the file's lines are read through the read stream, filtered strip by
// strip and written into a new uncompressed TIFF in the working folder, which is then
// moved to OUT. For timing against other tools on the same file.
//   tool_apply OPERATION IN.tif OUT.tif
// Operations: brightness-contrast, sharpen, blur, noise, despeckle, invert, mirror.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/ImageState.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/TiffHeader.h"
#include "engine/ToolSettings.h"
#include "platform/imagemill/imagemill.h"
#include "tools/ApplyPipeline.h"

namespace {

bool PlanFor(const std::string& op, orb::tools::ApplyPlan* plan, orb::FilterSettings* fs) {
  using namespace orb::tools;
  fs->brightCont.Brightness = 20;
  fs->brightCont.Contrast = 30;
  fs->sharpen.Level = op == "blur" ? -5 : 5;
  fs->noise.Level = 1;
  // Specks of up to 3 x 3 pixels, as filter_driver's despeckle.
  fs->despeckle.SpeckWidth = 3;
  fs->despeckle.SpeckHeight = 3;
  if (op == "brightness-contrast") *plan = {orb::FilterKind::BrightCont, 0, 0, KindRule::Keep};
  else if (op == "sharpen" || op == "blur") *plan = SharpenApply(fs->sharpen.Level);
  else if (op == "noise") *plan = NoiseRemovalApply();
  else if (op == "despeckle") *plan = DespeckleApply();
  else if (op == "invert") *plan = InvertApply();
  else if (op == "mirror") *plan = MirrorApply();
  else return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: tool_apply OPERATION IN.tif OUT.tif\n");
    return 2;
  }
  orb::tools::ApplyPlan plan;
  orb::FilterSettings fs = orb::FilterSettings::Current();
  if (!PlanFor(argv[1], &plan, &fs)) {
    std::fprintf(stderr, "unknown operation %s\n", argv[1]);
    return 2;
  }
  IM_Init();
  const std::filesystem::path out = std::filesystem::absolute(argv[3]);
  orb::SetTempFilesFolder(out.parent_path().string());
  ImageState* image = orb::NewImageState();
  image->sourcePath = argv[2];
  image->state = VS_OPENED;
  {
    LineReader probe(image);
    if (ProbeImageFile(&probe, false) != 0) {
      std::fprintf(stderr, "cannot read %s\n", argv[2]);
      return 1;
    }
  }
  image->region = PixelRect{0, 0, image->width, image->height};
  orb::tools::ApplyOutcome r = orb::tools::RunApplyPipeline(image, plan, fs);
  if (r.result != orb::tools::ApplyResult::Applied) {
    std::fprintf(stderr, "the apply failed\n");
    orb::FreeImageChain(image);
    return 1;
  }
  std::error_code ec;
  std::filesystem::rename(r.working->sourcePath, out, ec);
  orb::FreeImageChain(image);
  return ec ? 1 : 0;
}
