// Runs one transform tool over an uncompressed TIFF as the program does when the user
// presses Apply (read stream in, new uncompressed TIFF in the working folder), then moves
// the result to OUT. For timing against other tools on the same file.
//   transform_driver rotate-left|rotate-right|rotate-half IN.tif OUT.tif
//   transform_driver deskew DEGREES IN.tif OUT.tif     (positive: counter-clockwise)
//   transform_driver measure IN.tif                    (prints the measured angle)
//   transform_driver reduce DPI IN.tif OUT.tif
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/ImageState.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/TiffHeader.h"
#include "platform/imagemill/imagemill.h"
#include "tools/transform/Deskew.h"
#include "tools/transform/ReduceRes.h"
#include "tools/transform/Rotate90.h"

namespace {

using namespace orb::tools;

ImageState* OpenImage(const char* path) {
  ImageState* image = orb::NewImageState();
  image->sourcePath = path;
  image->state = VS_OPENED;
  LineReader probe(image);
  if (ProbeImageFile(&probe, false) != 0) {
    std::fprintf(stderr, "cannot read %s\n", path);
    orb::FreeImageChain(image);
    return nullptr;
  }
  image->region = PixelRect{0, 0, image->width, image->height};
  return image;
}

int Usage() {
  std::fprintf(stderr,
               "usage: transform_driver rotate-left|rotate-right|rotate-half IN OUT\n"
               "       transform_driver deskew DEGREES IN OUT | measure IN | reduce DPI IN OUT\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const std::string op = argv[1];
  const bool withValue = op == "deskew" || op == "reduce";
  if (op != "measure" && argc != (withValue ? 5 : 4)) return Usage();
  IM_Init();
  const char* in = argv[withValue ? 3 : 2];
  ImageState* image = OpenImage(in);
  if (!image) return 1;
  if (op == "measure") {
    DeskewAngle a;
    const bool ok = MeasureSkew(image, 5.0, &a);
    if (ok) std::printf("%.3f %s\n", a.angle, a.flag ? "counter-clockwise" : "clockwise");
    orb::FreeImageChain(image);
    return ok ? 0 : 1;
  }
  const std::filesystem::path out = std::filesystem::absolute(argv[withValue ? 4 : 3]);
  orb::SetTempFilesFolder(out.parent_path().string());
  ApplyOutcome r{};
  if (op == "rotate-left") r = TurnImage(image, kTurnLeft);
  else if (op == "rotate-right") r = TurnImage(image, kTurnRight);
  else if (op == "rotate-half") r = TurnImage(image, kTurnHalf);
  else if (op == "deskew") {
    const double d = std::atof(argv[2]);
    r = DeskewImage(image, DeskewAngle{d < 0 ? -d : d, static_cast<uint8_t>(d > 0 ? 1 : 0)});
  } else if (op == "reduce") {
    // A file that names no resolution (the reader then reports 0 or 1) counts as 600 dpi.
    if (image->xDpi <= 1 || image->yDpi <= 1) image->xDpi = image->yDpi = 600;
    r = ReduceResolution(image, std::atoi(argv[2]));
  } else {
    orb::FreeImageChain(image);
    return Usage();
  }
  if (r.result != ApplyResult::Applied) {
    std::fprintf(stderr, "the transform failed\n");
    orb::FreeImageChain(image);
    return 1;
  }
  std::error_code ec;
  std::filesystem::rename(r.working->sourcePath, out, ec);
  orb::FreeImageChain(image);
  return ec ? 1 : 0;
}
