// The one pixel byte order of the engine, decided once.
//
// RGB pixels are three bytes R, G, B in memory, in raw temporary files and between every
// stream, filter and tool: the order libtiff, libjpeg and libpng use, so codecs need no
// swizzle. BGR appears only at the BMP file boundary, where the writer and reader convert.
//
// Black-and-white lines travel one byte per pixel (0 black, 255 white) between streams and
// their users; 16-colour lines one palette index per byte. The streams pack and unpack.
#pragma once

#include <cstddef>

namespace orb {

inline constexpr size_t kRed = 0;
inline constexpr size_t kGreen = 1;
inline constexpr size_t kBlue = 2;

inline constexpr unsigned char kBlack = 0;
inline constexpr unsigned char kWhite = 255;

}  // namespace orb
