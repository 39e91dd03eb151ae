// Writes the colour-classification benchmark's test image as an RGB PNG: a scanned colour
// map. Land-use parcels in a few dozen flat tints with thin boundaries, lakes, contour
// lines, rivers, roads with dark casings, a graticule, labels and point symbols; every edge
// is antialiased (partial coverage blends the colours) and the scan adds sensor noise and
// a slight shading, so the image holds a few dozen designed colours and many thousands of
// colour cells around them. Deterministic: the same size always gives the same bytes.
//   make_map_image WIDTH HEIGHT OUT.png
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

inline uint32_t Hash(uint32_t a, uint32_t b, uint32_t c = 0) {
  uint32_t h = a * 0x9E3779B1u ^ (b + 0x7F4A7C15u) * 0x85EBCA77u ^ (c + 0x165667B1u) * 0xC2B2AE3Du;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  h *= 0x297A2D39u;
  h ^= h >> 15;
  return h;
}

struct Rgb {
  float r, g, b;
};

inline Rgb Mix(Rgb under, Rgb over, float a) {
  return {under.r + (over.r - under.r) * a, under.g + (over.g - under.g) * a, under.b + (over.b - under.b) * a};
}

// Coverage of a line `halfWidth` wide at distance `d` from its middle, with a one-pixel
// ramp at its edges.
inline float Cover(float d, float halfWidth) { return std::clamp(halfWidth + 0.5f - std::fabs(d), 0.0f, 1.0f); }

// Parcel tints: fields, woods, built-up areas, sand, marsh.
constexpr Rgb kTints[] = {
    {236, 242, 208}, {220, 236, 190}, {200, 226, 170}, {178, 214, 150}, {156, 200, 140}, {246, 236, 200},
    {240, 224, 176}, {232, 208, 160}, {250, 220, 210}, {238, 200, 196}, {226, 226, 226}, {212, 206, 196},
    {250, 246, 226}, {214, 232, 220}, {190, 222, 206}, {244, 214, 232}, {228, 236, 168}, {206, 190, 160},
    {252, 240, 160}, {236, 244, 244},
};
constexpr int kTintCount = sizeof(kTints) / sizeof(kTints[0]);
constexpr Rgb kLake{170, 208, 240}, kRiver{70, 140, 215}, kParcelEdge{120, 110, 100}, kContour{175, 120, 70};
constexpr Rgb kCasing{40, 36, 36}, kGraticule{60, 90, 170}, kText{25, 25, 30}, kWaterText{30, 70, 160};
constexpr Rgb kRoads[] = {{230, 60, 50}, {245, 150, 50}, {250, 220, 80}, {255, 255, 255}};
constexpr Rgb kSymbols[] = {{150, 40, 150}, {20, 120, 60}, {200, 20, 110}, {0, 0, 0}};

constexpr int kCell = 700;        // parcel pitch
constexpr int kCurves = 10;       // roads and rivers each way
constexpr uint32_t kGridPitch = 2400;  // graticule pitch

struct Curves {
  // Per curve, the curve's position across for every position along it, and the cosine
  // of its slope (distance = offset across x cosine).
  std::vector<std::vector<float>> pos, cosine;
  std::vector<int> kind;  // 0..3 road classes, 4 river
  std::vector<float> half;
};

Curves MakeCurves(uint32_t along, uint32_t across, uint32_t seed) {
  Curves c;
  for (int i = 0; i < kCurves; ++i) {
    const uint32_t h = Hash(i, seed, 1);
    const float base = (i + 0.5f) * across / kCurves + float(h % 200) - 100;
    const float amp = 150.0f + float(Hash(i, seed, 2) % 600);
    const float period = 3000.0f + float(Hash(i, seed, 3) % 6000);
    const float phase = float(Hash(i, seed, 4) % 628) / 100;
    std::vector<float> p(along), k(along);
    for (uint32_t t = 0; t < along; ++t) {
      p[t] = base + amp * std::sin(t / period * 6.2831853f + phase);
      const float slope = amp * 6.2831853f / period * std::cos(t / period * 6.2831853f + phase);
      k[t] = 1.0f / std::sqrt(1.0f + slope * slope);
    }
    c.pos.push_back(std::move(p));
    c.cosine.push_back(std::move(k));
    const int kind = (i % 4 == 3) ? 4 : int(Hash(i, seed, 5) % 4);
    c.kind.push_back(kind);
    c.half.push_back(kind == 4 ? 9.0f + float(h % 8) : 3.0f + float(kind == 0) * 2 + float(h % 2));
  }
  return c;
}

struct Map {
  uint32_t w, h;
  Curves across;  // run along x: position is a y
  Curves down;    // run along y: position is an x

  // Nearest and second nearest parcel centre (jittered grid); the parcel's tint.
  Rgb Parcels(uint32_t x, uint32_t y) const {
    const int gx = int(x / kCell), gy = int(y / kCell);
    float d1 = 1e30f, d2 = 1e30f;
    uint32_t id1 = 0, id2 = 0;
    for (int j = gy - 1; j <= gy + 1; ++j) {
      for (int i = gx - 1; i <= gx + 1; ++i) {
        const uint32_t hh = Hash(uint32_t(i + 1000), uint32_t(j + 1000), 21);
        const float cx = (i + 0.15f + 0.7f * float(hh & 1023) / 1023) * kCell;
        const float cy = (j + 0.15f + 0.7f * float((hh >> 10) & 1023) / 1023) * kCell;
        const float d = std::sqrt((cx - x) * (cx - x) + (cy - y) * (cy - y));
        const uint32_t id = hh >> 20;
        if (d < d1) {
          d2 = d1, id2 = id1;
          d1 = d, id1 = id;
        } else if (d < d2) {
          d2 = d, id2 = id;
        }
      }
    }
    auto tint = [](uint32_t id) { return (id % 11) == 0 ? kLake : kTints[id % kTintCount]; };
    // Half the difference of the two distances is the distance to the shared edge.
    const float edge = (d2 - d1) * 0.5f;
    Rgb c = tint(id1);
    if (edge < 1.0f) c = Mix(c, tint(id2), 0.5f * (1.0f - edge));
    return Mix(c, kParcelEdge, Cover(edge, 0.5f) * 0.7f);
  }

  Rgb Pixel(uint32_t x, uint32_t y) const {
    Rgb c = Parcels(x, y);
    // Contours of a smooth height, every 40 units, every fifth one heavier.
    const float height = 0.35f * x + 0.22f * y + 500 * std::sin(x / 2300.0f) + 380 * std::cos(y / 1700.0f) +
                         260 * std::sin((x + y) / 3100.0f);
    const float step = 40.0f;
    const float k = std::round(height / step);
    const float off = (height - k * step) / 0.6f;  // about pixels, the height's slope near 0.6
    c = Mix(c, kContour, Cover(off, int(k) % 5 == 0 ? 1.2f : 0.5f) * 0.85f);
    // Graticule.
    const float gxd = float(int(x % kGridPitch) - (x % kGridPitch > kGridPitch / 2 ? int(kGridPitch) : 0));
    const float gyd = float(int(y % kGridPitch) - (y % kGridPitch > kGridPitch / 2 ? int(kGridPitch) : 0));
    c = Mix(c, kGraticule, std::max(Cover(gxd, 0.7f), Cover(gyd, 0.7f)));
    // Rivers first, then roads: casing, then the fill.
    for (int pass = 0; pass < 3; ++pass) {
      for (const Curves* cv : {&across, &down}) {
        const bool alongX = cv == &across;
        const uint32_t t = alongX ? x : y;
        const float p = alongX ? float(y) : float(x);
        for (size_t i = 0; i < cv->pos.size(); ++i) {
          const bool river = cv->kind[i] == 4;
          if ((pass == 0) != river) continue;
          const float d = (p - cv->pos[i][t]) * cv->cosine[i][t];
          if (std::fabs(d) > 20) continue;
          if (river) c = Mix(c, kRiver, Cover(d, cv->half[i]));
          else if (pass == 1) c = Mix(c, kCasing, Cover(d, cv->half[i] + 1.5f));
          else c = Mix(c, kRoads[cv->kind[i]], Cover(d, cv->half[i]));
        }
      }
    }
    // Labels: rows of 5x7 glyphs in blocks, black on land, blue in some blocks.
    const uint32_t by = y % 1500, bx = x % 3700;
    if (by >= 300 && by < 356 && bx >= 400 && bx < 1800) {
      const uint32_t cx = (x - 400) / 24, gx = (x - 400) % 24, gy = y - 300;
      if (gx < 20 && gy < 42) {
        const uint32_t glyph = Hash(cx, y / 1500, x / 3700) % 61;
        if (glyph < 52 && (Hash(glyph, (gy / 6) * 5 + gx / 4, 11) & 3) == 0) {
          c = Mix(c, Hash(x / 3700, y / 1500, 3) % 3 == 0 ? kWaterText : kText, 0.92f);
        }
      }
    }
    // Point symbols: antialiased discs on a sparse grid.
    const uint32_t sx = x / 500, sy = y / 500;
    const uint32_t sh = Hash(sx, sy, 77);
    if (sh % 7 == 0) {
      const float cx = sx * 500.0f + 100 + float(sh % 300), cy = sy * 500.0f + 100 + float((sh >> 9) % 300);
      const float d = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy));
      c = Mix(c, kSymbols[(sh >> 18) % 4], Cover(d, 7.0f));
    }
    return c;
  }
};

uint8_t Byte(float v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s WIDTH HEIGHT OUT.png\n", argv[0]);
    return 2;
  }
  const uint32_t w = static_cast<uint32_t>(std::atol(argv[1]));
  const uint32_t h = static_cast<uint32_t>(std::atol(argv[2]));
  if (w == 0 || h == 0) return 2;
  const Map map{w, h, MakeCurves(w, h, 5), MakeCurves(h, w, 9)};

  const std::string tmp = std::string(argv[3]) + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "cannot create %s\n", tmp.c_str());
    return 1;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    std::fclose(f);
    std::remove(tmp.c_str());
    return 1;
  }
  png_init_io(png, f);
  png_set_compression_level(png, 1);
  png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);

  const uint32_t band = 64;
  std::vector<uint8_t> rows(static_cast<size_t>(w) * 3 * band);
  const unsigned threads = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
  for (uint32_t y0 = 0; y0 < h; y0 += band) {
    const uint32_t n = std::min(band, h - y0);
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) {
      pool.emplace_back([&, t] {
        for (uint32_t r = t; r < n; r += threads) {
          const uint32_t y = y0 + r;
          uint8_t* out = &rows[static_cast<size_t>(r) * w * 3];
          for (uint32_t x = 0; x < w; ++x, out += 3) {
            const Rgb c = map.Pixel(x, y);
            // The scan: a slight shading across the width and sensor noise per channel.
            const float shade = 1.0f - 0.04f * float(x) / float(w);
            const uint32_t noise = Hash(x, y, 4242);
            out[0] = Byte(c.r * shade + float(int(noise % 11) - 5));
            out[1] = Byte(c.g * shade + float(int((noise >> 8) % 11) - 5));
            out[2] = Byte(c.b * shade + float(int((noise >> 16) % 11) - 5));
          }
        }
      });
    }
    for (auto& th : pool) th.join();
    for (uint32_t r = 0; r < n; ++r) png_write_row(png, &rows[static_cast<size_t>(r) * w * 3]);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fclose(f) != 0 || std::rename(tmp.c_str(), argv[3]) != 0) {
    std::remove(tmp.c_str());
    return 1;
  }
  return 0;
}
