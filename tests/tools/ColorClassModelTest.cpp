// The colour-classification page's logic: enabling, the number of colours, the typed path,
// palette files (every load checked), the default scan palette, the areas, the histogram
// fed to the control, the conversion into a palette image and the separation by colour
// (files read back with ImageMagick and tiffinfo).
#include "tools/ColorClassModel.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "color_control/TintwellInterface.h"
#include "engine/EngineHost.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/TiffHeader.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "tools/ToolTable.h"
#include "tests/common/OpenedImage.h"
#include "tests/common/ProcessUtil.h"
#include "tests/common/TestUtil.h"

namespace {

namespace fs = std::filesystem;
using namespace orb::tools;

using orbtest::Shell;

// Four colours: red, green, blue, white; each maps to its own output colour.
constexpr uint8_t kColours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};

int Nearest(uint8_t r, uint8_t g, uint8_t b, int count) {
  int best = 0;
  long bestD = -1;
  for (int i = 0; i < count; ++i) {
    const long dr = r - kColours[i][0], dg = g - kColours[i][1], db = b - kColours[i][2];
    const long d = dr * dr + dg * dg + db * db;
    if (bestD < 0 || d < bestD) best = i, bestD = d;
  }
  return best;
}

// A reported classification of the four colours (nearest colour per cell, as a control
// would report it), with `colours` palette entries (extra entries are grey and unused).
ReportedPalette Reported(uint32_t colours = 4) {
  ReportedPalette r;
  r.colours = colours;
  for (int i = 0; i < 4; ++i)
    for (int c = 0; c < 3; ++c) r.palette[3 * i + c] = kColours[i][c];
  for (uint32_t i = 4; i < colours; ++i) r.palette[3 * i] = r.palette[3 * i + 1] = r.palette[3 * i + 2] = uint8_t(i);
  r.lut.resize(65536);
  for (int cell = 0; cell < 65536; ++cell) {
    const auto red = static_cast<uint8_t>((cell >> 11) << 3), green = static_cast<uint8_t>(((cell >> 5) & 63) << 2),
               blue = static_cast<uint8_t>((cell & 31) << 3);
    r.lut[static_cast<size_t>(cell)] = static_cast<uint8_t>(Nearest(red, green, blue, 4));
  }
  return r;
}

// Counts what the histogram is given.
class CountingControl : public _DTintwell {
 public:
  TwBool InitClassify() override { return kTwTrue; }
  std::array<uint8_t, 768> GetPalette() override { return {}; }
  TwBool SetPalette(const uint8_t*) override { return kTwTrue; }
  TwBool SetNumberOfColors(int16_t) override { return kTwTrue; }
  TwBool BuildHistogram(const uint8_t* p, int32_t w, int32_t lines) override {
    pixels += static_cast<int64_t>(w) * lines;
    if (w > 0) firstRed.push_back(p[0]);
    return kTwTrue;
  }
  TwBool SetCursorToSelectCurrentColor() override { return kTwTrue; }
  TwBool SetCurrentColor(uint8_t) override { return kTwTrue; }
  TwBool SetCursorToAreaMerge() override { return kTwTrue; }
  TwBool MergeAreaToCurrentColor(const uint32_t*) override { return kTwTrue; }
  TwBool RunClassify(TwBool) override { return kTwTrue; }
  TwBool SetScannerLut(const uint8_t*) override { return kTwTrue; }
  TwBool SetLanguageAndHelpPath(uint16_t, const char*) override { return kTwTrue; }
  void Advise(_DTintwellEvents*) override {}
  void Unadvise(_DTintwellEvents*) override {}
  void Release() override {}
  int64_t pixels = 0;
  std::vector<uint8_t> firstRed;
};

class ColorClassModel : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = orbtest::FreshTestFolder("colclass");
    fs::create_directories(dir_ / "work");
    orb::SetTempFilesFolder((dir_ / "work").string());
    savedScan_ = ScanSettings;
    CancelFlag = 0;
  }
  void TearDown() override {
    if (chain_) orb::FreeImageChain(chain_);
    ScanSettings = savedScan_;
    orb::SetTempFilesFolder("");
    fs::remove_all(dir_);
  }
  // A 12 x 6 image of four bands (red, green, blue, white), 3 columns each.
  ImageState* OpenBands(const std::string& name, const std::string& extra = "") {
    const std::string path = (dir_ / name).string();
    const std::string cmd = "convert -size 3x6 xc:red xc:lime xc:blue xc:white +append " + extra +
                            " -depth 8 -compress none '" + path + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    ImageState* s = orbtest::OpenedImage(path);
    if (chain_) orb::FreeImageChain(chain_);
    chain_ = s;
    return s;
  }
  std::string SavePalette(const std::string& name, uint32_t colours = 4) {
    const std::string path = (dir_ / name).string();
    EXPECT_TRUE(SaveReportedPalette(path, Reported(colours)));
    return path;
  }
  fs::path dir_;
  ImageState* chain_ = nullptr;
  orb::ScanSettingsRecord savedScan_;
};

TEST_F(ColorClassModel, EnablingFollowsPathScanAndImageKind) {
  struct Row {
    bool path, scanning;
    int kind;
    ColorClassEnabling e;
  };
  const Row rows[] = {
      {false, false, -1, {false, false, false, false, false, false}},
      {true, false, -1, {true, false, false, false, false, false}},
      {false, false, IK_RGB, {false, true, true, false, false, false}},
      {true, false, IK_RGB, {true, true, true, true, true, true}},
      {true, true, IK_RGB, {true, false, false, false, false, false}},
      {true, false, IK_PALETTE256, {true, false, false, true, true, true}},
      {true, false, IK_PALETTE16, {true, false, false, true, true, true}},
      {true, false, IK_GREY, {true, false, false, false, false, false}},
      {true, false, IK_BW, {true, false, false, false, false, false}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.path << r.scanning << " kind " << r.kind);
    const ColorClassEnabling e = ColorClassEnablingFor(r.path, r.scanning, r.kind);
    EXPECT_EQ(e.edit, r.e.edit);
    EXPECT_EQ(e.classify, r.e.classify);
    EXPECT_EQ(e.addArea, r.e.addArea);
    EXPECT_EQ(e.apply, r.e.apply);
    EXPECT_EQ(e.defaultPal, r.e.defaultPal);
    EXPECT_EQ(e.separate, r.e.separate);
  }
}

TEST_F(ColorClassModel, NumberOfColoursIsKeptWithin1And256) {
  const std::pair<const char*, int> rows[] = {{"0", 1}, {"-5", 1}, {"300", 256}, {"16", 16}, {" 64 ", 64},
                                              {"abc", 1}, {"", 1}, {"99999999999", 256}, {"12x", 12}};
  for (const auto& [text, want] : rows) EXPECT_EQ(ParseNumberOfColours(text), want) << text;
}

TEST_F(ColorClassModel, TypedPathsAreCheckedBeforeTheyAreStored) {
  fs::create_directories(dir_ / "pal");
  const std::string out = (dir_ / "scans" / "Scan-0001.tif").string();
  fs::create_directories(dir_ / "scans");
  EXPECT_EQ(CheckPalettePath("   ", out).result, PathCheck::Cleared);
  EXPECT_EQ(CheckPalettePath((dir_ / "none" / "a.apt").string(), out).result, PathCheck::FolderMissing);
  EXPECT_EQ(CheckPalettePath((dir_ / "pal").string(), out).result, PathCheck::IsFolder);
  const PathCheck full = CheckPalettePath(" " + (dir_ / "pal" / "a.apt").string() + " ", out);
  EXPECT_EQ(full.result, PathCheck::Stored);
  EXPECT_EQ(full.path, (dir_ / "pal" / "a.apt").string());
  // A bare name goes into the folder of the scans.
  const PathCheck bare = CheckPalettePath("maps.apt", out);
  EXPECT_EQ(bare.result, PathCheck::Stored);
  EXPECT_EQ(bare.path, (dir_ / "scans" / "maps.apt").string());
}

TEST_F(ColorClassModel, EveryPaletteFileLoadIsChecked) {
  const std::string good = SavePalette("good.apt");
  std::ifstream in(good, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(bytes.size(), 1 + 1 + 65536 + 12 + 1 + 4 + 12u);
  auto write = [&](const std::string& name, const std::string& b) {
    std::ofstream(dir_ / name, std::ios::binary) << b;
    return (dir_ / name).string();
  };
  std::string badMap = bytes;
  badMap[1 + 1 + 65536 + 12 + 1 + 2] = 9;  // colour 2 mapped beyond the 4 output colours
  struct Row {
    const char* what;
    std::string path;
    bool loads;
  };
  const Row rows[] = {
      {"whole", good, true},
      {"missing", (dir_ / "none.apt").string(), false},
      {"empty", write("empty.apt", ""), false},
      {"cut in the table", write("cut.apt", bytes.substr(0, 3000)), false},
      {"cut in the output palette", write("cut2.apt", bytes.substr(0, bytes.size() - 1)), false},
      {"map beyond the output colours", write("map.apt", badMap), false},
      {"no path", "", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    auto file = std::make_unique<PaletteFile>();
    EXPECT_EQ(LoadPalette(r.path, *file, true), r.loads);
    EXPECT_EQ(PaletteOutputColours(r.path) > 0, r.loads);
  }
  auto file = std::make_unique<PaletteFile>();
  ASSERT_TRUE(LoadPalette(good, *file, true));
  EXPECT_EQ(file->Header, 2);
  EXPECT_EQ(file->M, 3);
  EXPECT_EQ(file->Lookup[orb::PaletteCell(250, 10, 10)], 0);
  EXPECT_EQ(file->Lookup[orb::PaletteCell(10, 10, 250)], 2);
  EXPECT_EQ(file->OutputPalette[3 * 1 + 1], 255);
}

TEST_F(ColorClassModel, DefaultScanPaletteBy16Or17OutputColours) {
  const std::string sixteen = SavePalette("p16.apt", 16), seventeen = SavePalette("p17.apt", 17);
  ScanSettings.Palette16File[0] = ScanSettings.Palette256File[0] = 0;
  ASSERT_TRUE(MakeDefaultScanPalette(sixteen));
  EXPECT_EQ(orb::TextField(ScanSettings.Palette16File), sixteen);
  EXPECT_EQ(orb::TextField(ScanSettings.Palette256File), "");
  ASSERT_TRUE(MakeDefaultScanPalette(seventeen));
  EXPECT_EQ(orb::TextField(ScanSettings.Palette256File), seventeen);
  EXPECT_EQ(orb::TextField(ScanSettings.Palette16File), sixteen);
  // A file that cannot be read changes neither.
  std::ofstream(dir_ / "bad.apt") << "x";
  EXPECT_FALSE(MakeDefaultScanPalette((dir_ / "bad.apt").string()));
  EXPECT_EQ(orb::TextField(ScanSettings.Palette256File), seventeen);
}

TEST_F(ColorClassModel, AreasAreAddedInTheMiddleHitAndDraggedWithinTheImage) {
  ClassAreas areas;
  areas.Add(PixelRect{0, 0, 400, 200});
  ASSERT_EQ(areas.All().size(), 1u);
  const ClassArea a = areas.All()[0];
  EXPECT_EQ(a.left, 100);
  EXPECT_EQ(a.top, 50);
  EXPECT_EQ(a.width, 200);
  EXPECT_EQ(a.height, 100);
  const std::pair<orb::Point, uint16_t> hits[] = {
      {{200, 100}, kCursorAreaInside}, {{99, 49}, kCursorAreaNWSE},  {{300, 150}, kCursorAreaNWSE},
      {{100, 150}, kCursorAreaNESW},   {{200, 50}, kCursorAreaNS},    {{100, 100}, kCursorAreaWE},
      {{97, 100}, kCursorAreaNone},    {{200, 153}, kCursorAreaNone}, {{102, 100}, kCursorAreaWE},
  };
  for (const auto& [p, cursor] : hits) EXPECT_EQ(areas.HitTest(p), cursor) << p.x << "," << p.y;
  // Moving is clipped to the image; resizing keeps 3 pixels.
  areas.Drag(kCursorAreaInside, 1000, 1000, 400, 200);
  EXPECT_EQ(areas.All()[0].left, 200);
  EXPECT_EQ(areas.All()[0].top, 100);
  areas.Drag(kCursorAreaWE, -500, 0, 400, 200);
  EXPECT_EQ(areas.All()[0].left, 0);
  EXPECT_EQ(areas.All()[0].width, 400);
  areas.Drag(kCursorAreaNS, 0, -1000, 400, 200);
  EXPECT_GE(areas.All()[0].height, 3);
  EXPECT_GE(areas.All()[0].top, 0);
  // Removing steps the current one back, not below 0.
  areas.Add(PixelRect{0, 0, 400, 200});
  areas.Add(PixelRect{0, 0, 400, 200});
  EXPECT_EQ(areas.Current(), 2);
  areas.RemoveCurrent();
  EXPECT_EQ(areas.Current(), 1);
  areas.RemoveCurrent();
  areas.RemoveCurrent();
  EXPECT_TRUE(areas.Empty());
  areas.RemoveCurrent();
  EXPECT_EQ(areas.Current(), -1);
}

TEST_F(ColorClassModel, HistogramTakesWholeLinesOrTheAreasTwiceWhereTheyOverlap) {
  ImageState* image = OpenBands("bands.tif");
  ASSERT_EQ(image->kind, IK_RGB);
  CountingControl whole;
  ASSERT_TRUE(FeedHistogram(image, {}, whole));
  EXPECT_EQ(whole.pixels, 12 * 6);
  // Two areas over the green and blue bands, overlapping in column 5 on rows 1 and 2.
  CountingControl parts;
  const std::vector<ClassArea> areas = {{3, 1, 3, 2, 0, 0}, {5, 0, 4, 3, 0, 0}};
  ASSERT_TRUE(FeedHistogram(image, areas, parts));
  EXPECT_EQ(parts.pixels, 3 * 2 + 4 * 3);
  EXPECT_EQ(parts.firstRed.front(), 0);  // green band: no red
  // The region the view had comes back.
  image->region = PixelRect{1, 1, 4, 4};
  ASSERT_TRUE(FeedHistogram(image, {}, whole));
  EXPECT_EQ(image->region.right, 4);
  // Esc stops it.
  class Cancelling : public CountingControl {
    TwBool BuildHistogram(const uint8_t* p, int32_t w, int32_t l) override {
      CancelFlag = 1;
      return CountingControl::BuildHistogram(p, w, l);
    }
  } cancelling;
  EXPECT_FALSE(FeedHistogram(image, {}, cancelling));
  EXPECT_EQ(cancelling.pixels, 12);
  CancelFlag = 0;
}

TEST_F(ColorClassModel, ConversionMakesAPaletteImageByTheOutputColours) {
  struct Row {
    uint32_t colours;
    uint16_t kind;
    const char* identifyType;
  };
  const Row rows[] = {{4, IK_PALETTE16, "Palette"}, {17, IK_PALETTE256, "Palette"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.colours);
    ImageState* image = OpenBands("conv.tif");
    auto file = std::make_unique<PaletteFile>();
    ASSERT_TRUE(LoadPalette(SavePalette("conv.apt", r.colours), *file, true));
    const ApplyOutcome out = ConvertToPaletteImage(image, *file);
    ASSERT_EQ(out.result, ApplyResult::Applied);
    ASSERT_NE(out.working, image);
    EXPECT_EQ(out.working->kind, r.kind);
    EXPECT_EQ(out.working->operationCode, kOpPalette);
    EXPECT_EQ(out.working->palette[2].blue, 255);
    const std::string path = out.working->sourcePath;
    // An outside reader sees a palette image whose pixels are the four colours.
    EXPECT_NE(Shell("identify -format '%w %h %[type]' '" + path + "'").find(std::string("12 6 ") + r.identifyType),
              std::string::npos)
        << Shell("identify '" + path + "'");
    const std::string rgb = Shell("convert '" + path + "' -depth 8 rgb:- 2>/dev/null");
    ASSERT_EQ(rgb.size(), 12u * 6u * 3u);
    for (int x = 0; x < 12; ++x) {
      const int band = x / 3;
      for (int c = 0; c < 3; ++c) EXPECT_EQ(static_cast<uint8_t>(rgb[3 * x + c]), kColours[band][c]) << x;
    }
  }
}

TEST_F(ColorClassModel, PaletteImagesMapThroughTheirPaletteColours) {
  ImageState* image = OpenBands("pal.tif", "-type palette");
  ASSERT_TRUE(image->kind == IK_PALETTE256 || image->kind == IK_PALETTE16) << image->kind;
  auto file = std::make_unique<PaletteFile>();
  ASSERT_TRUE(LoadPalette(SavePalette("p.apt"), *file, true));
  const ApplyOutcome out = ConvertToPaletteImage(image, *file);
  ASSERT_EQ(out.result, ApplyResult::Applied);
  const std::string rgb = Shell("convert '" + out.working->sourcePath + "' -depth 8 rgb:- 2>/dev/null");
  ASSERT_EQ(rgb.size(), 12u * 6u * 3u);
  EXPECT_EQ(static_cast<uint8_t>(rgb[3 * 4 + 1]), 255);  // the green band stays green
  EXPECT_EQ(static_cast<uint8_t>(rgb[3 * 4 + 0]), 0);
}

TEST_F(ColorClassModel, SeparationWritesOneBlackAndWhiteImagePerColour) {
  ImageState* image = OpenBands("map.tif");
  auto file = std::make_unique<PaletteFile>();
  ASSERT_TRUE(LoadPalette(SavePalette("sep.apt"), *file, true));
  const auto targets = SeparationTargets(image->sourcePath, 4);
  ASSERT_EQ(targets.size(), 4u);
  EXPECT_EQ(targets[0], (dir_ / "map_1.tif").string());
  EXPECT_EQ(SeparationTargets((dir_ / "x.png").string(), 1)[0], (dir_ / "x_1.tif").string());
  ASSERT_TRUE(SeparateByColour(image, *file, nullptr));
  for (int k = 0; k < 4; ++k) {
    SCOPED_TRACE(k);
    const std::string info = Shell("tiffinfo '" + targets[static_cast<size_t>(k)] + "' 2>&1");
    EXPECT_NE(info.find("Image Width: 12 Image Length: 6"), std::string::npos) << info;
    EXPECT_NE(info.find("Bits/Sample: 1"), std::string::npos) << info;
    const std::string grey = Shell("convert '" + targets[static_cast<size_t>(k)] + "' -depth 8 gray:- 2>/dev/null");
    ASSERT_EQ(grey.size(), 72u);
    for (int x = 0; x < 12; ++x) EXPECT_EQ(static_cast<uint8_t>(grey[x]), x / 3 == k ? 0 : 255) << x;
  }
  // No temporary is left beside the targets.
  for (const auto& e : fs::directory_iterator(dir_)) EXPECT_EQ(e.path().filename().string().rfind("Qel", 0), std::string::npos);
  // Existing targets: No stops everything, nothing changes; Yes replaces them.
  const auto before = fs::last_write_time(targets[0]);
  int asked = 0;
  EXPECT_FALSE(SeparateByColour(image, *file, [&](const std::string&) { return ++asked, false; }));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(fs::last_write_time(targets[0]), before);
  EXPECT_TRUE(SeparateByColour(image, *file, [&](const std::string&) { return ++asked, true; }));
  EXPECT_EQ(asked, 5);
}

TEST_F(ColorClassModel, EscDuringSeparationLeavesTheTargetsAndNoTemporaries) {
  ImageState* image = OpenBands("esc.tif");
  auto file = std::make_unique<PaletteFile>();
  ASSERT_TRUE(LoadPalette(SavePalette("esc.apt"), *file, true));
  int lines = 0;
  EXPECT_FALSE(SeparateByColour(image, *file, nullptr, [&](int n) {
    lines += n;
    if (lines == 3) CancelFlag = 1;
  }));
  CancelFlag = 0;
  for (const auto& t : SeparationTargets(image->sourcePath, 4)) EXPECT_FALSE(fs::exists(t)) << t;
  for (const auto& e : fs::directory_iterator(dir_)) EXPECT_EQ(e.path().filename().string().rfind("Qel", 0), std::string::npos);
}

}  // namespace
