// Straightening a skewed scan: the angle from a reference line the user lays along an edge
// (or measured on a reduced copy of the image), and the rotation by that angle into a new,
// larger version whose uncovered corners are white. The rotation reads the source once,
// in order, keeping only the source lines the current band of result rows reaches, so
// memory grows with the width and the angle, never with the height.
#pragma once

#include <cstdint>

#include "tools/transform/TransformRun.h"

namespace orb::tools {

struct DeskewAngle {
  double angle = 0.0;  // degrees, 0 to 45
  uint8_t flag = 0;    // 0: the content turns clockwise to straighten, 1: counter-clockwise
};

struct LinePoint {
  int32_t x = 0;
  int32_t y = 0;
};

// The angle of the line from A to B (image pixels, y downwards) to the nearest horizontal
// or vertical. A line exactly at 0 or 45 degrees, or with a leg of 0, keeps `previous`.
DeskewAngle AngleFromLine(LinePoint a, LinePoint b, DeskewAngle previous);

// The rotation's signed angle in degrees: positive turns the content counter-clockwise.
double SignedDeskewAngle(const DeskewAngle& a);

struct DeskewGeometry {
  int32_t width = 0;   // rounded up to a multiple of 8
  int32_t height = 0;
  double x0 = 0.0;     // the result's corner in the turned source's frame (y upwards)
  double y0 = 0.0;
  double c = 1.0;
  double s = 0.0;
};
DeskewGeometry DeskewSize(int32_t width, int32_t height, double signedDegrees);

// Where the result's pixel (x, y) comes from; false when outside the source (white).
bool DeskewSourcePixel(const DeskewGeometry& g, int32_t width, int32_t height, int32_t x, int32_t y,
                       int32_t* sx, int32_t* sy);

// Rotates `working` into a new version (code 6). An angle of 0 is not applied (NoImage).
ApplyOutcome DeskewImage(ImageState* working, const DeskewAngle& angle, const ApplyProgressFactory& progress = {});

// Measures the skew of the text lines or edges of an image within +-maxDegrees, on a copy
// reduced to about 2000 pixels a side. False when the image cannot be read or holds no ink.
bool MeasureSkew(ImageState* working, double maxDegrees, DeskewAngle* out);

// The tool's apply on the active image.
int DeskewActiveImage(const DeskewAngle& angle);

}  // namespace orb::tools
