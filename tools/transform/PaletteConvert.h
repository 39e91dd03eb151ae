// Converting an image to another colour mode: 24-bit colour, 256 colours, 16 colours,
// grey or black and white. Colour to 256 or 16 colours is adaptive: a first pass builds a
// palette with the median-cut quantiser, a second maps every pixel through its lookup
// table, and the palette is kept beside the image as a palette file ("<name>.apt.tmp" in
// the data folder, removed with the document's versions).
//
// Only the pairs the tool page offers are converted; any other (16 colours from grey, grey
// from grey, ...) is refused and changes nothing.
#pragma once

#include <cstdint>
#include <string>

#include "tools/transform/TransformRun.h"

namespace orb::tools {

enum PaletteMode : int {
  kToRgb = 0,
  kTo256 = 1,
  kTo16 = 2,
  kToGrey = 3,
  kToBilevel = 4,
  kToGreyGreen = 5,   // stored by older settings: converts as grey
  kToBilevelGreen = 6,  // stored by older settings: converts as black and white
};

// The mode a stored value converts as (5 and 6 as 3 and 4).
int EffectivePaletteMode(int mode);
// Whether the page offers converting an image of `kind` to `mode`.
bool IsOfferedConversion(int kind, int mode);

// Converts `working` into a new version (code 11). The palette file of an adaptive
// conversion goes into `paletteFolder` (the data folder when empty). A pair not offered
// gives NoImage.
ApplyOutcome ConvertToPalette(ImageState* working, int mode, const ApplyProgressFactory& progress = {},
                              const std::string& paletteFolder = {});

// The tool's apply on the active image.
int ConvertActiveImage(int mode);

}  // namespace orb::tools
