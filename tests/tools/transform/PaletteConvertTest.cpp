// Palette conversion: which pairs are offered, every offered pair run on a real file and
// read back by ImageMagick, the adaptive palette and its file, the values of the Part's
// examples, the adaptive threshold's delay, and refusals.
#include "tools/transform/PaletteConvert.h"

#include "engine/PaletteFile.h"
#include "tests/tools/transform/TransformFixture.h"
#include "tools/ToolTable.h"

namespace {

using namespace orb::tools;
using namespace transform_test;

class PaletteConvert : public Fixture {};

TEST(PaletteOffer, TheTableOfThePage) {
  // Rows: kinds 0..6; columns: modes RGB, 256, 16, grey, black and white.
  const bool table[7][5] = {
      {false, true, true, true, false},  {true, false, false, true, false}, {true, true, false, true, false},
      {true, true, false, false, true},  {true, true, false, true, false},  {true, true, false, false, true},
      {true, true, false, true, false},
  };
  for (int kind = 0; kind < 7; ++kind) {
    for (int mode = 0; mode < 5; ++mode) {
      EXPECT_EQ(IsOfferedConversion(kind, mode), table[kind][mode]) << "kind " << kind << " mode " << mode;
    }
    EXPECT_EQ(IsOfferedConversion(kind, kToGreyGreen), table[kind][kToGrey]);
    EXPECT_EQ(IsOfferedConversion(kind, kToBilevelGreen), table[kind][kToBilevel]);
  }
  for (int kind : {7, 8, 9, 10}) EXPECT_FALSE(IsOfferedConversion(kind, kToRgb)) << kind;
}

// Every offered pair: the result's kind, the file ImageMagick reads, and its pixels.
TEST_F(PaletteConvert, EveryOfferedPairConverts) {
  int made = 0;
  for (const KindPlan& k : Kinds()) {
    ImageState* src = Synth("s" + std::to_string(made) + ".tif", k.kind, 61, 23, static_cast<unsigned>(made + 1));
    ++made;
    const std::string rgb = Samples(src->sourcePath, "rgb");
    const std::string grey = Samples(src->sourcePath, "gray");
    for (int mode : {kToRgb, kTo256, kTo16, kToGrey, kToBilevel}) {
      if (!IsOfferedConversion(k.kind, mode)) continue;
      SCOPED_TRACE(std::string(k.name) + " to mode " + std::to_string(mode));
      ApplyOutcome out = ConvertToPalette(src, mode, {}, (dir_ / "work").string());
      ASSERT_EQ(out.result, ApplyResult::Applied);
      ImageState* n = out.working;
      const int kinds[] = {IK_RGB, IK_PALETTE256, IK_PALETTE16, IK_GREY, IK_BW};
      EXPECT_EQ(n->kind, kinds[mode]);
      EXPECT_EQ(n->operationCode, kOpPalette);
      EXPECT_EQ(ImageSize(n->sourcePath), "61 23");
      const std::string got = Samples(n->sourcePath, "rgb");
      if (mode == kToRgb || (mode == kTo256 && k.kind != IK_RGB)) {
        EXPECT_TRUE(got == rgb) << "the colours stay";
      }
      if (mode == kToGrey && k.kind != IK_BW) {
        // (r + g + b) / 3 of each source pixel, truncated.
        std::string expected;
        for (size_t i = 0; i < rgb.size(); i += 3) {
          expected += static_cast<char>((uint8_t(rgb[i]) + uint8_t(rgb[i + 1]) + uint8_t(rgb[i + 2])) / 3);
        }
        EXPECT_TRUE(Samples(n->sourcePath, "gray") == expected);
      }
      if (mode == kToGrey && k.kind == IK_BW) {
        EXPECT_TRUE(Samples(n->sourcePath, "gray") == grey);
      }
      FreeImageState(n);
    }
  }
}

TEST_F(PaletteConvert, ColourToSixteenIsAdaptiveWithItsPaletteFile) {
  const std::string in = Make("c.tif", "-size 120x80 -seed 9 plasma: -type TrueColor -depth 8");
  ImageState* src = Open(in);
  const std::string folder = (dir_ / "work").string();
  ApplyOutcome out = ConvertToPalette(src, kTo16, {}, folder);
  ASSERT_EQ(out.result, ApplyResult::Applied);
  ImageState* n = out.working;
  EXPECT_EQ(n->kind, IK_PALETTE16);
  EXPECT_EQ(n->outputFormat, 0x0FF00007u);
  ASSERT_FALSE(n->paletteFilePath.empty());
  EXPECT_NE(n->paletteFilePath.find(".apt.tmp"), std::string::npos);
  PaletteFile file;
  ASSERT_TRUE(LoadPaletteFile(n->paletteFilePath, file));
  EXPECT_EQ(file.N, 15);
  EXPECT_EQ(file.M, 15);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(file.Map[i], i);
  for (uint8_t v : ReadBack(n)) ASSERT_LT(v, 16);
  EXPECT_LE(std::stoi(Shell("identify -format '%k' '" + n->sourcePath + "'")), 16);
  // Each pixel takes its 5-6-5 cell's colour of the lookup table.
  const std::string src3 = Samples(in, "rgb");
  const std::vector<uint8_t> idx = ReadBack(n);
  for (size_t i = 0; i < idx.size(); i += 97) {
    const uint8_t r = uint8_t(src3[3 * i]), g = uint8_t(src3[3 * i + 1]), b = uint8_t(src3[3 * i + 2]);
    EXPECT_EQ(idx[i], file.Lookup[orb::PaletteCell(r, g, b)]);
  }
}

TEST_F(PaletteConvert, ThePartsValues) {
  // Grey from the colour (255, 255, 254) is 254.
  ImageState* c = Open(Make("w.tif", "-size 4x2 xc:'rgb(255,255,254)' -type TrueColor -depth 8"));
  ApplyOutcome g = ConvertToPalette(c, kToGrey);
  ASSERT_EQ(g.result, ApplyResult::Applied);
  EXPECT_EQ(ReadBack(g.working), std::vector<uint8_t>(8, 254));
  // Grey from a palette entry (1, 1, 0) is 0; 16 to 256 keeps indices and the first 16 colours.
  ImageState* p = Synth("p.tif", IK_PALETTE16, 9, 3, 4);
  p->palette[3] = PaletteEntry{1, 1, 0};
  const std::vector<uint8_t> before = ReadBack(p);
  ApplyOutcome to256 = ConvertToPalette(p, kTo256);
  ASSERT_EQ(to256.result, ApplyResult::Applied);
  EXPECT_EQ(ReadBack(to256.working), before);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(to256.working->palette[static_cast<size_t>(i)].red, p->palette[static_cast<size_t>(i)].red);
  FreeImageState(to256.working);
  ApplyOutcome grey = ConvertToPalette(p, kToGrey);
  ASSERT_EQ(grey.result, ApplyResult::Applied);
  const std::vector<uint8_t> gv = ReadBack(grey.working);
  for (size_t i = 0; i < before.size(); ++i) {
    if (before[i] == 3) {
      EXPECT_EQ(gv[i], 0);
    }
  }
}

TEST_F(PaletteConvert, TheAdaptiveThresholdStillWritesEveryLine) {
  BWThresholdSettings.ThresholdingType = 1;
  BWThresholdSettings.AdaptiveWindowSize = 25;
  ImageState* src = Open(Make("g.tif", "-size 90x70 gradient: -depth 8"));
  ApplyOutcome out = ConvertToPalette(src, kToBilevel);
  ASSERT_EQ(out.result, ApplyResult::Applied);
  EXPECT_EQ(out.working->kind, IK_BW);
  EXPECT_EQ(ImageSize(out.working->sourcePath), "90 70");
  for (uint8_t v : ReadBack(out.working)) ASSERT_TRUE(v == 0 || v == 255);
}

TEST_F(PaletteConvert, PairsNotOfferedAreRefused) {
  ImageState* g = Synth("g.tif", IK_GREY, 10, 10);
  // 16 colours from grey would read three bytes of a one-byte pixel.
  EXPECT_EQ(ConvertToPalette(g, kTo16).result, ApplyResult::NoImage);
  EXPECT_EQ(ConvertToPalette(g, kToGrey).result, ApplyResult::NoImage);
  EXPECT_EQ(g->next, nullptr);
}

TEST_F(PaletteConvert, EscRemovesTheResultAndItsPaletteFile) {
  ImageState* src = Synth("e.tif", IK_RGB, 100, 300);
  const std::string folder = (dir_ / "pal").string();
  fs::create_directories(folder);
  const size_t before = TempFiles();
  EscAfter esc(400);  // in the second pass
  HostScope scope(&esc);
  EXPECT_EQ(ConvertToPalette(src, kTo256, {}, folder).result, ApplyResult::Cancelled);
  EXPECT_EQ(src->next, nullptr);
  EXPECT_EQ(TempFiles(), before);
  EXPECT_TRUE(fs::is_empty(folder));
}

}  // namespace
