#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "engine/filters/BWPoint.h"
#include "engine/filters/BrightCont.h"
#include "engine/filters/Invert.h"
#include "engine/filters/Mirror.h"
#include "engine/filters/ToneCurve.h"

namespace {

std::vector<uint8_t> Ramp() {
  std::vector<uint8_t> v(256);
  for (int i = 0; i < 256; ++i) v[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  return v;
}

std::vector<uint8_t> BrightContGrey(int brightness, int contrast, std::vector<uint8_t> band,
                                    int32_t kind = IK_GREY) {
  orb::BrightContRecord r;
  r.Brightness = brightness;
  r.Contrast = contrast;
  BrightContState st;
  EXPECT_NE(BrightContInit(&st, &r, kind, nullptr), nullptr);
  BrightContRows(&st, band.data(), band.size());
  BrightContFree(&st);
  return band;
}

TEST(BrightCont, IdentityAtZero) { EXPECT_EQ(BrightContGrey(0, 0, Ramp()), Ramp()); }

TEST(BrightCont, TableCases) {
  struct Case {
    int b, c, in, out;
  };
  const Case cases[] = {
      {0, 100, 0, 0},     {0, 100, 127, 0},   {0, 100, 128, 255}, {0, 100, 255, 255},
      {0, -100, 0, 128},  {0, -100, 255, 128}, {100, 0, 0, 254},  {100, 0, 1, 255},
      {-100, 0, 254, 0},  {-100, 0, 255, 1},  {0, 50, 63, 0},     {0, 50, 64, 0},
      {0, 50, 65, 2},     {0, 50, 191, 254},  {0, 50, 192, 255},  {0, -50, 0, 64},
      {0, -50, 255, 192}, {10, 0, 100, 125},  {0, 100, 0, 0},
  };
  for (const Case& c : cases) {
    auto out = BrightContGrey(c.b, c.c, {static_cast<uint8_t>(c.in)});
    EXPECT_EQ(out[0], c.out) << "b=" << c.b << " c=" << c.c << " in=" << c.in;
  }
}

TEST(BrightCont, RgbPaletteAndBilevelKinds) {
  auto rgb = BrightContGrey(100, 0, {0, 1, 2, 0, 0, 0}, IK_RGB);
  EXPECT_EQ(rgb, (std::vector<uint8_t>{254, 255, 255, 254, 254, 254}));
  for (int32_t kind : {4, 6, 7, 10}) {
    EXPECT_EQ(BrightContGrey(50, 50, {0, 100, 255}, kind), (std::vector<uint8_t>{0, 100, 255}));
  }
  // Palette kinds remap the palette on every rows call, ignoring the band.
  std::array<PaletteEntry, 256> pal{};
  for (int i = 0; i < 256; ++i) pal[static_cast<size_t>(i)] = {uint16_t(i), uint16_t(i), uint16_t(255 - i)};
  orb::BrightContRecord r;
  r.Brightness = 10;  // +25
  BrightContState st;
  ASSERT_NE(BrightContInit(&st, &r, IK_PALETTE256, pal.data()), nullptr);
  std::vector<uint8_t> untouched{1, 2, 3};
  BrightContRows(&st, untouched.data(), 0);
  EXPECT_EQ(pal[0].red, 25);
  EXPECT_EQ(pal[0].blue, 255);
  EXPECT_EQ(pal[200].green, 225);
  r.Brightness = 0;  // read in init only
  BrightContRows(&st, nullptr, 0);  // a second call remaps again
  EXPECT_EQ(pal[0].red, 50);
  EXPECT_EQ(untouched, (std::vector<uint8_t>{1, 2, 3}));
  BrightContFree(&st);
}

TEST(BWPoint, Cases) {
  orb::BWPointRecord r;
  BWPointState st;
  ASSERT_NE(BWPointInit(&st, &r, IK_GREY, nullptr), nullptr);
  auto band = Ramp();
  BWPointRows(&st, band.data(), band.size());
  EXPECT_EQ(band, Ramp());  // 255 / 0: nothing changes

  r.White = 200;
  r.Black = 50;  // read on every call
  band = {49, 50, 200, 201};
  BWPointRows(&st, band.data(), band.size());
  EXPECT_EQ(band, (std::vector<uint8_t>{0, 50, 200, 255}));

  r.White = 10;
  r.Black = 100;  // white first
  band = {5, 50, 11};
  BWPointRows(&st, band.data(), band.size());
  EXPECT_EQ(band, (std::vector<uint8_t>{0, 255, 255}));

  BWPointState rgb;
  r.White = 245;
  r.Black = 0;
  ASSERT_NE(BWPointInit(&rgb, &r, IK_RGB, nullptr), nullptr);
  band = {250, 250, 240, 250, 250, 235};  // means 246 and 245
  BWPointRows(&rgb, band.data(), band.size());
  EXPECT_EQ(band, (std::vector<uint8_t>{255, 255, 255, 250, 250, 235}));

  std::array<PaletteEntry, 256> pal{};
  pal[3] = {10, 20, 30};
  pal[4] = {250, 250, 250};
  r.White = 200;
  r.Black = 25;
  BWPointState p;
  ASSERT_NE(BWPointInit(&p, &r, IK_PALETTE16, pal.data()), nullptr);
  BWPointRows(&p, nullptr, 0);
  EXPECT_EQ(pal[3].red, 0);
  EXPECT_EQ(pal[4].blue, 255);

  BWPointState bw;
  ASSERT_NE(BWPointInit(&bw, &r, IK_BW, nullptr), nullptr);
  band = {0, 100, 255};
  BWPointRows(&bw, band.data(), band.size());
  EXPECT_EQ(band, (std::vector<uint8_t>{0, 100, 255}));
}

TEST(Invert, ComplementsEveryByte) {
  InvertState st;
  InvertInit(&st);
  std::vector<uint8_t> band{0x00, 0xFF, 0x0F, 100};
  InvertRow(band.data(), band.size());
  EXPECT_EQ(band, (std::vector<uint8_t>{0xFF, 0x00, 0xF0, 155}));
  InvertFree(&st);
}

TEST(Mirror, Cases) {
  MirrorState st;
  MirrorInit(&st, 0);
  std::vector<uint8_t> four{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  MirrorRows(&st, four.data(), four.size(), four.size());
  EXPECT_EQ(four, (std::vector<uint8_t>{10, 11, 12, 7, 8, 9, 4, 5, 6, 1, 2, 3}));
  std::vector<uint8_t> five{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  MirrorRows(&st, five.data(), five.size(), five.size());
  EXPECT_EQ(five, (std::vector<uint8_t>{13, 14, 15, 10, 11, 12, 7, 8, 9, 4, 5, 6, 1, 2, 3}));
  std::vector<uint8_t> one{1, 2, 3};
  MirrorRows(&st, one.data(), 3, 3);
  EXPECT_EQ(one, (std::vector<uint8_t>{1, 2, 3}));

  MirrorInit(&st, 3);
  std::vector<uint8_t> grey{1, 2, 3, 4, 5, 6, 7, 8, 9};
  MirrorRows(&st, grey.data(), 9, 3);  // three lines, each by itself
  EXPECT_EQ(grey, (std::vector<uint8_t>{3, 2, 1, 6, 5, 4, 9, 8, 7}));
  std::vector<uint8_t> partial{1, 2, 3, 4};
  MirrorRows(&st, partial.data(), 4, 3);  // the incomplete second line is left alone
  EXPECT_EQ(partial, (std::vector<uint8_t>{3, 2, 1, 4}));

  MirrorInit(&st, 7);
  std::vector<uint8_t> k7{1, 2, 3};
  MirrorRows(&st, k7.data(), 3, 3);
  EXPECT_EQ(k7, (std::vector<uint8_t>{1, 2, 3}));
  MirrorFree(&st);
}

TEST(ToneCurve, StraightCurveSampledByParameter) {
  orb::GammaRecord g = ToneCurveDefaults;
  g.curves[0] = {{{0, 0}, {85, 85}, {170, 170}, {255, 255}}};
  ToneCurveState st;
  ASSERT_NE(BuildToneCurveTables(&st, &g, IK_GREY, nullptr), nullptr);
  EXPECT_EQ(g.tables[0][1], 1);
  EXPECT_EQ(g.tables[0][255], 254);
  for (int i = 0; i < 256; ++i)
    EXPECT_EQ(g.tables[0][static_cast<size_t>(i)], static_cast<int>(255.0 * i / 256 + 0.5)) << i;
}

TEST(ToneCurve, ClampsAndChannels) {
  orb::GammaRecord g = ToneCurveDefaults;
  g.Channel = 2;
  g.curves[1] = {{{0, 0}, {0, 600}, {255, 600}, {255, 255}}};   // red overshoots
  g.curves[2] = {{{0, 255}, {85, 170}, {170, 85}, {255, 0}}};   // green inverted
  g.curves[3] = {{{0, 0}, {0, -400}, {255, -400}, {255, 255}}};  // blue undershoots
  g.tables[0][10] = 77;  // a stored master entry, used for grey whatever Channel says
  ToneCurveState st;
  ASSERT_NE(BuildToneCurveTables(&st, &g, IK_RGB, nullptr), nullptr);
  EXPECT_EQ(g.tables[1][128], 255);
  EXPECT_EQ(g.tables[3][128], 0);
  EXPECT_EQ(g.tables[0][10], 77);  // master left as stored
  std::vector<uint8_t> px{128, 0, 128};
  ApplyToneCurveRow(&st, px.data(), px.size());
  EXPECT_EQ(px, (std::vector<uint8_t>{255, 255, 0}));  // R through red, G green, B blue

  ToneCurveState grey;
  ASSERT_NE(BuildToneCurveTables(&grey, &g, IK_GREY, nullptr), nullptr);
  std::vector<uint8_t> gl{10};
  ApplyToneCurveRow(&grey, gl.data(), 1);
  EXPECT_EQ(gl[0], 77);

  // A scanner block in B, G, R leaves as R, G, B with each channel through its own table.
  std::vector<uint8_t> bgr{128, 0, 128};  // blue 128, green 0, red 128
  ApplyToneCurveLineBuffer(&st, bgr.data(), bgr.size());
  EXPECT_EQ(bgr, (std::vector<uint8_t>{255, 255, 0}));

  std::array<PaletteEntry, 256> pal{};
  pal[1] = {128, 0, 128};
  ToneCurveState p;
  ASSERT_NE(BuildToneCurveTables(&p, &g, IK_PALETTE256, pal.data()), nullptr);
  ApplyToneCurveRow(&p, nullptr, 0);
  EXPECT_EQ(pal[1].red, 255);
  EXPECT_EQ(pal[1].green, 255);
  EXPECT_EQ(pal[1].blue, 0);
}

}  // namespace
