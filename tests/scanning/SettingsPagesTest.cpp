// The general, extended and media handling pages of the scan settings sheet, without a
// display: options by scanner family, model and variant; conversions of shown values; what
// reaches the settings record and the frame.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "common/Messages.h"
#include "engine/AppStatus.h"
#include "engine/PaletteFile.h"
#include "scanning/ScanSettingsPages.h"
#include "tests/scanning/ScanTestSupport.h"

namespace orb::test {
namespace {

class RecordingPageHost final : public ScanSettingsPageHost {
 public:
  intptr_t SendToFrame(uint32_t msg, uintptr_t w, intptr_t) override {
    sent.push_back({'S', msg, w});
    return 0;
  }
  void PostToFrame(uint32_t msg, uintptr_t w, intptr_t) override { sent.push_back({'P', msg, w}); }
  std::string String(int id) override {
    if (id == 33105) return "JPEG|jpg|JPEG 2000|jp2|PDF|pdf|PNG|png|TIFF|tif|TIFF PackBits|tif|TIFF JPEG|tif|BMP|bmp";
    if (id == 1289) return "Staged";
    if (id == 1290) return "Ejected";
    return {};
  }
  void ShowMessage(int id) override { messages.push_back(id); }
  std::optional<std::string> BrowsePaletteFile(const std::string&) override { return browseAnswer; }
  void RunFormatOptions(FormatOptionsDialog dialog, int argument) override {
    options.push_back({static_cast<int>(dialog), argument});
  }
  uint32_t Status() override { return status; }

  struct Sent {
    char how;
    uint32_t msg;
    uintptr_t w;
  };
  int Count(char how, uint32_t msg) const {
    int n = 0;
    for (const Sent& s : sent) n += s.how == how && s.msg == msg;
    return n;
  }
  std::vector<Sent> sent;
  std::vector<int> messages;
  std::vector<std::pair<int, int>> options;
  std::optional<std::string> browseAnswer;
  uint32_t status = 0;
};

class PagesTest : public ScanTestBase {
 protected:
  void SetUp() override {
    ScanTestBase::SetUp();
    s = ScanSettingsRecord();
    s.ScannerType = 1;
    s.ModelCode = 9;
    s.ScannerSubType = 1;
    s.ScanBrightness = 5;
    s.GammaRed = s.GammaGreen = s.GammaBlue = 1.5f;
    SetTextField(s.OutputFileName, dir_ + "/work/Scan-0001.tif");
  }
  // A palette file of `colours` output colours in the work folder.
  std::string Palette(const std::string& name, int colours) {
    auto p = std::make_unique<PaletteFile>();
    p->N = static_cast<uint8_t>(colours - 1);
    p->M = static_cast<uint8_t>(colours - 1);
    for (int i = 0; i < colours; ++i) p->Map[i] = static_cast<uint8_t>(i);
    std::memset(p->Lookup, 7, sizeof p->Lookup);
    const std::string path = dir_ + "/work/" + name;
    EXPECT_TRUE(SavePaletteFile(path, *p));
    return path;
  }
  ScanSettingsRecord s;
  MiscSettingsRecord m;
  RecordingPageHost host;
};

// ---- general page ---------------------------------------------------------------------

TEST(FormatOptionsTable, EveryRowOfEveryGroupAsTheTableGivesIt) {
  struct Row {
    int group, row;
    bool enabled;
    int dialog, argument;
  };
  // Group 0 colour, 1 palette, 2 grey, 3 black and white; dialog 0 quality, 10 TIFF, -1 none.
  const Row rows[] = {
      {0, 0, true, 0, 1},   {0, 1, true, 0, 6},   {0, 2, true, 0, 2},   {0, 3, false, -1, 0},
      {0, 4, true, 10, 11}, {0, 5, true, 10, 11}, {0, 6, true, 10, 3},  {0, 7, false, 0, 0},
      {1, 0, false, -1, 0}, {1, 1, true, 10, 13}, {1, 2, true, 10, 13}, {1, 3, false, 0, 0},
      {2, 0, true, 0, 5},   {2, 1, true, 0, 4},   {2, 2, false, -1, 0}, {2, 3, true, 10, 14},
      {2, 4, true, 10, 14}, {2, 5, false, 0, 0},  {3, 0, false, -1, 0}, {3, 1, true, 10, 15},
      {3, 2, true, 10, 15}, {3, 3, true, 10, 15}, {3, 4, true, 10, 15}, {3, 5, false, 0, 0},
      {0, 8, false, -1, 0}, {3, -1, false, -1, 0}, {4, 0, false, -1, 0}};
  for (const Row& r : rows) {
    const FormatOptions o = FormatOptionsFor(r.group, r.row);
    EXPECT_EQ(o.enabled, r.enabled) << r.group << "/" << r.row;
    EXPECT_EQ(static_cast<int>(o.dialog), r.dialog) << r.group << "/" << r.row;
    EXPECT_EQ(o.argument, r.argument) << r.group << "/" << r.row;
  }
}

TEST_F(PagesTest, FormatCloseUpStoresTheRowAndSetsTheOptionsButton) {
  GeneralPageModel page(host, s, m);
  page.OnInitDialog();
  page.OnSetActive();
  ASSERT_EQ(page.Control(1047).items.size(), 8u);
  EXPECT_EQ(page.Control(1047).items[1], "JPEG 2000") << "names at the even positions of the module's list";
  struct Case {
    int group, box, button, row;
    bool enabled;
  };
  // png and bmp of every group, and pdf-g4 for black and white, have no options.
  const Case cases[] = {{0, 1047, 1450, 3, false}, {0, 1047, 1450, 7, false}, {0, 1047, 1450, 6, true},
                        {1, 1049, 1451, 0, false}, {1, 1049, 1451, 3, false}, {1, 1049, 1451, 2, true},
                        {2, 1050, 1452, 2, false}, {2, 1050, 1452, 5, false}, {2, 1050, 1452, 0, true},
                        {3, 1052, 1453, 0, false}, {3, 1052, 1453, 5, false}, {3, 1052, 1453, 3, true}};
  for (const Case& c : cases) {
    page.Control(c.box).selection = c.row;
    page.OnFormatCloseUp(c.group);
    EXPECT_EQ(page.Control(c.button).enabled, c.enabled) << c.box << " row " << c.row;
  }
  EXPECT_EQ(s.FormatIndexRgb, 6);
  EXPECT_EQ(s.FormatIndexPalette, 2);
  EXPECT_EQ(s.FormatIndexGrey, 0);
  EXPECT_EQ(s.FormatIndexBilevel, 3);
  // The options button opens the dialog of the stored row with its argument.
  page.OnFormatOptions(3);
  page.OnFormatOptions(2);
  EXPECT_EQ(host.options, (std::vector<std::pair<int, int>>{{10, 15}, {0, 5}}));
}

TEST_F(PagesTest, AStoredFormatIndexOutsideItsListFallsBackToTheDefault) {
  s.FormatIndexRgb = 99;
  s.FormatIndexBilevel = -2;
  GeneralPageModel page(host, s, m);
  page.OnInitDialog();
  page.OnSetActive();
  EXPECT_EQ(s.FormatIndexRgb, ScanSettingsRecord().FormatIndexRgb);
  EXPECT_EQ(s.FormatIndexBilevel, ScanSettingsRecord().FormatIndexBilevel);
  EXPECT_EQ(page.Control(1047).selection, s.FormatIndexRgb);
}

TEST_F(PagesTest, PaletteFilesAreCheckedForTheirColourCountWithoutSideEffects) {
  GeneralPageModel page(host, s, m);
  const std::string p16 = Palette("p16.apt", 16);
  const std::string p17 = Palette("p17.apt", 17);
  const std::string p2 = Palette("p2.apt", 2);
  const std::string p256 = Palette("p256.apt", 256);
  ColourLookupTable[1234] = 99;
  struct Case {
    std::string path;
    int colours;
    bool accepted;
  };
  const Case cases[] = {{p16, 16, true},  {p2, 16, true},    {p17, 16, false}, {p256, 16, false},
                        {p17, 256, true}, {p256, 256, true}, {p16, 256, false}, {p2, 256, false},
                        {dir_ + "/work/missing.apt", 16, false}, {dir_ + "/work", 256, false}};
  for (const Case& c : cases) {
    host.messages.clear();
    EXPECT_EQ(page.CheckPaletteFile(c.path, c.colours), c.accepted) << c.path << " for " << c.colours;
    EXPECT_EQ(host.messages, c.accepted ? std::vector<int>{} : std::vector<int>{33075});
  }
  // A damaged file (cut short) is refused too.
  std::filesystem::resize_file(p17, 100);
  EXPECT_FALSE(page.CheckPaletteFile(p17, 256));
  EXPECT_EQ(ColourLookupTable[1234], 99) << "checking a palette never replaces the program's colour table";
}

TEST_F(PagesTest, ATypedPalettePathIsTakenInTheOutputFolderAndCheckedBeforeItIsStored) {
  GeneralPageModel page(host, s, m);
  page.OnInitDialog();
  page.OnSetActive();
  const std::string good = Palette("good.apt", 200);
  Palette("small.apt", 8);
  SetTextField(s.Palette256File, "/keep/def256.apt");

  page.Control(1028).text = "good.apt";  // no folder: the output file's folder
  page.OnKillFocusPalette(256);
  EXPECT_EQ(TextField(s.Palette256File), good);
  EXPECT_EQ(page.Control(1028).text, good);
  EXPECT_EQ(page.Control(1028).selFrom, static_cast<int>(good.size())) << "caret at the end";

  struct Case {
    std::string typed;
    int message;
  };
  const Case refused[] = {{"small.apt", 33075},
                          {dir_ + "/nofolder/x.apt", 33006},
                          {dir_ + "/work", 33007}};
  for (const Case& c : refused) {
    host.messages.clear();
    page.Control(1028).text = c.typed;
    page.OnKillFocusPalette(256);
    EXPECT_EQ(host.messages, std::vector<int>{c.message}) << c.typed;
    EXPECT_EQ(TextField(s.Palette256File), good) << "a refused path leaves the stored one";
    EXPECT_EQ(page.Control(1028).text, good) << "and the edit shows the stored path again";
  }
}

TEST_F(PagesTest, BrowsingStoresOnlyAnAcceptedPalette) {
  GeneralPageModel page(host, s, m);
  SetTextField(s.Palette16File, "/keep/def16.apt");
  host.browseAnswer = Palette("big.apt", 40);
  page.OnBrowsePalette(16);
  EXPECT_EQ(TextField(s.Palette16File), "/keep/def16.apt");
  host.browseAnswer = Palette("ok16.apt", 16);
  page.OnBrowsePalette(16);
  EXPECT_EQ(TextField(s.Palette16File), *host.browseAnswer);
  host.browseAnswer.reset();  // Cancel
  page.OnBrowsePalette(16);
  EXPECT_EQ(TextField(s.Palette16File), dir_ + "/work/ok16.apt");
}

TEST_F(PagesTest, PaletteRadiosStoreTheChoiceAndEnableThePathOfAPaletteFile) {
  GeneralPageModel page(host, s, m);
  page.OnInitDialog();
  page.OnSetActive();
  page.OnPaletteRadio(1023);  // 16 colours: automatic
  EXPECT_EQ(s.AutoPalette16, 1);
  EXPECT_FALSE(page.Control(1030).enabled);
  EXPECT_FALSE(page.Control(1031).enabled);
  page.OnPaletteRadio(1022);  // 256 colours: a file
  EXPECT_EQ(s.AutoPalette256, 0);
  EXPECT_TRUE(page.Control(1028).enabled);
  EXPECT_TRUE(page.Control(1022).checked);
  EXPECT_FALSE(page.Control(1025).checked);
}

TEST_F(PagesTest, GeneralPageEnablingByScannerAndScanState) {
  struct Case {
    int subType;
    uint32_t status;
    bool radios, colourFormats, greyFormats, paletteEdit;
  };
  const Case cases[] = {{1, 0, true, true, true, true},
                        {1, 1, false, false, false, false},   // a scan runs
                        {1, 2, true, true, true, true},       // a scan awaits its decision
                        {0, 0, false, false, true, false}};   // a grey-only scanner
  for (const Case& c : cases) {
    s.ScannerSubType = c.subType;
    s.AutoPalette16 = 0;
    host.status = c.status;
    GeneralPageModel page(host, s, m);
    page.OnInitDialog();
    page.OnSetActive();
    for (int id : {1024, 1023, 1022, 1025}) EXPECT_EQ(page.Control(id).enabled, c.radios) << id;
    for (int id : {1047, 1049}) EXPECT_EQ(page.Control(id).enabled, c.colourFormats) << id;
    for (int id : {1050, 1052}) EXPECT_EQ(page.Control(id).enabled, c.greyFormats) << id;
    EXPECT_EQ(page.Control(1030).enabled, c.paletteEdit);
    EXPECT_EQ(page.Control(1031).enabled, c.paletteEdit);
  }
}

TEST_F(PagesTest, HighResolutionBoxesByScannerType) {
  struct Case {
    int highResWindow, type;
    bool rgb, bilevel, grey;
  };
  const Case cases[] = {{0, 1, false, false, false}, {1, 0, false, true, false}, {1, 1, true, true, true}};
  for (const Case& c : cases) {
    s.HighResWindow = static_cast<uint8_t>(c.highResWindow);
    s.ScannerType = c.type;
    GeneralPageModel page(host, s, m);
    page.OnInitDialog();
    EXPECT_EQ(page.Control(1340).shown, c.rgb);
    EXPECT_EQ(page.Control(1341).shown, c.bilevel);
    EXPECT_EQ(page.Control(1342).shown, c.grey);
  }
  GeneralPageModel page(host, s, m);
  page.OnInitDialog();
  page.Control(1342).checked = true;
  page.OnHighRes(1342);
  EXPECT_EQ(s.HighResGrey, 1);
  page.Control(1342).checked = false;
  page.OnHighRes(1342);
  EXPECT_EQ(s.HighResGrey, 0);
}

// ---- extended page --------------------------------------------------------------------

TEST(GammaText, TypedValuesAreLimitedAndShownWithOneDecimal) {
  struct Case {
    const char* typed;
    float stored;
    const char* shown;
  };
  const Case cases[] = {{"12.5", 10.0f, "10.0"}, {"-1", 0.0f, "0.0"}, {"0", 0.0f, "0.0"},
                        {"2.2", 2.2f, "2.2"},    {"abc", 0.0f, "0.0"}, {"1e9", 10.0f, "10.0"}};
  for (const Case& c : cases) {
    EXPECT_FLOAT_EQ(GammaFromText(c.typed), c.stored) << c.typed;
    EXPECT_EQ(GammaText(GammaFromText(c.typed)), c.shown) << c.typed;
  }
}

TEST_F(PagesTest, GammaEditStoresTheChannelOrAllThreeWhenTheScannerTakesOneValue) {
  ExtendedPageModel page(host, s, m);
  page.OnInitDialog();
  page.Control(1038).text = "12.5";
  page.OnKillFocusGamma(1038);
  EXPECT_FLOAT_EQ(s.GammaGreen, 10.0f);
  EXPECT_EQ(page.Control(1038).text, "10.0");
  EXPECT_FLOAT_EQ(s.GammaRed, 1.5f) << "a scanner with a value per channel keeps the others";

  s.ExtraSettingsFeature = 0;
  page.Control(1038).text = "2.2";
  page.OnKillFocusGamma(1038);
  for (float g : {s.GammaRed, s.GammaGreen, s.GammaBlue}) EXPECT_FLOAT_EQ(g, 2.2f);
  for (int id : {1037, 1038, 1039}) EXPECT_EQ(page.Control(id).text, "2.2");
}

TEST_F(PagesTest, GammaValuesThePageCannotShowAreReplacedWhenItOpens) {
  s.GammaRed = -1.0f;                                       // not set yet
  s.GammaGreen = std::numeric_limits<float>::quiet_NaN();   // a damaged record
  s.GammaBlue = 0.0f;                                       // typed by the user: stays
  s.ScanBrightness = 77;
  ExtendedPageModel page(host, s, m);
  page.OnInitDialog();
  EXPECT_FLOAT_EQ(s.GammaRed, 1.0f);
  EXPECT_FLOAT_EQ(s.GammaGreen, 1.5f);
  EXPECT_FLOAT_EQ(s.GammaBlue, 0.0f);
  EXPECT_EQ(s.ScanBrightness, 5);
  EXPECT_EQ(page.Control(1084).position, 5);
  EXPECT_EQ(page.Control(1034).text, "5");
}

TEST_F(PagesTest, BrightnessSliderRangeByFamilyAndItsPositionIsStored) {
  ExtendedPageModel scsi(host, s, m);
  scsi.OnInitDialog();
  EXPECT_EQ(scsi.Control(1084).low, 1);
  EXPECT_EQ(scsi.Control(1084).high, 50);
  EXPECT_EQ(scsi.Control(1084).tick, 5);
  scsi.Control(1084).position = 37;
  scsi.OnBrightnessScroll();
  EXPECT_EQ(s.ScanBrightness, 37);
  EXPECT_EQ(scsi.Control(1034).text, "37");
  s.ScannerType = 80;
  s.ModelCode = 90;
  ExtendedPageModel kelvane(host, s, m);
  kelvane.OnInitDialog();
  EXPECT_EQ(kelvane.Control(1084).high, 20);
  EXPECT_EQ(s.ScanBrightness, 5) << "37 is outside the Kelvane range";
}

TEST_F(PagesTest, ExtendedPageControlsByFamilyModelVariantAndScanState) {
  struct Case {
    int type, model, variant, subType;
    uint32_t status;
    bool calibrate, align, diagnostics, gamma, special, rgbShown;
  };
  const Case cases[] = {
      {1, 9, 0, 1, 0, true, true, true, true, false, false},
      {1, 9, 0, 1, 1, false, false, false, false, false, false},  // a scan runs
      {1, 9, 1, 1, 0, true, false, false, true, false, false},    // variant 1
      {1, 13, 0, 1, 0, true, false, false, true, false, false},
      {0, 5, 0, 1, 0, true, false, true, true, false, false},     // no align for 2, 5, 6, 15
      {0, 15, 0, 0, 0, true, false, true, false, false, false},   // grey only: no gamma
      {1, 17, 0, 1, 0, true, true, true, true, true, false},
      {1, 21, 0, 1, 0, true, true, true, true, true, false},
      {80, 63, 0, 1, 0, false, false, false, true, false, true},
      {80, 90, 0, 1, 0, false, false, false, true, false, false},
      {80, 106, 0, 1, 0, false, false, false, true, false, true},
  };
  for (const Case& c : cases) {
    s.ScannerType = c.type;
    s.ModelCode = c.model;
    s.ScannerVariant = c.variant;
    s.ScannerSubType = c.subType;
    host.status = c.status;
    ExtendedPageModel page(host, s, m);
    page.OnInitDialog();
    const std::string at = "type " + std::to_string(c.type) + " model " + std::to_string(c.model);
    EXPECT_EQ(page.Control(1051).enabled, c.calibrate) << at;
    EXPECT_EQ(page.Control(1054).enabled, c.align) << at;
    EXPECT_EQ(page.Control(1117).enabled, c.diagnostics) << at;
    EXPECT_EQ(page.Control(1038).enabled, c.gamma) << at;
    EXPECT_EQ(page.Control(1298).shown, c.special) << at;
    EXPECT_EQ(page.Control(1431).shown, c.special) << at;
    EXPECT_EQ(page.Control(1296).shown, c.rgbShown) << at;
    EXPECT_EQ(page.Control(1084).enabled, c.status == 0) << at;
  }
}

TEST_F(PagesTest, AKelvaneModelOutsideTheListScansWithoutRgbControl) {
  s.ScannerType = 80;
  s.RgbControl = 1;
  for (int model : {64, 90}) {
    s.ModelCode = model;
    s.RgbControl = 1;
    ExtendedPageModel page(host, s, m);
    page.OnInitDialog();
    EXPECT_EQ(s.RgbControl, model == 64 ? 1 : 0) << model;
  }
}

TEST_F(PagesTest, ExtendedPageChecksRadiosAndServiceButtons) {
  s.FirmwareAtLeast = 0;
  ExtendedPageModel page(host, s, m);
  page.OnInitDialog();
  EXPECT_FALSE(page.Control(1373).enabled) << "the extra option needs the newer firmware";
  page.Control(1374).checked = true;
  page.OnCheck(1374);
  EXPECT_EQ(s.LightCalibrationOnly, 1);
  page.OnRadio(1298);
  EXPECT_EQ(s.SpecialWindowOption, 1);
  page.OnRadio(1299);
  EXPECT_EQ(s.SpecialWindowOption, 0);
  EXPECT_FALSE(page.Control(1298).checked);
  page.OnCalibrate();
  page.OnAlign();
  page.OnDiagnostics();
  ASSERT_EQ(host.sent.size(), 3u);
  EXPECT_EQ(host.Count('S', WM_SCANNER_CALIBRATE), 1);
  EXPECT_EQ(host.Count('S', WM_SCANNER_ALIGN), 1);
  EXPECT_EQ(host.Count('P', WM_SCANNER_DIAGNOSTICS), 1) << "diagnostics is posted, the others sent";
}

// ---- media handling page --------------------------------------------------------------

TEST(LengthText, StagingAndRunOnConversions) {
  struct Case {
    const char* typed;
    int unit, dpi;
    double low, high, stored;
    const char* shown;
  };
  const Case cases[] = {
      {"2", 0, 100, -0.5, 0.5, 0.5, " 0.50\""},    // staging typed as 2 inches
      {"-2", 0, 100, -0.5, 0.5, -0.5, "-0.50\""},
      {"1", 1, 100, -0.5, 0.5, 0.39, " 0.99cm"},   // 1 cm: 39 pixels at 100 dpi
      {"25", 2, 100, -0.5, 0.5, 0.25, "25px"},     // pixels at 100 dpi
      {"-1", 0, 1000, 0.0, 1.0, 0.0, " 0.00\""},   // run-on typed as -1
      {"0.256", 0, 1000, 0.0, 1.0, 0.256, " 0.26\""},
      {"x", 0, 1000, 0.0, 1.0, 0.0, " 0.00\""},
  };
  for (const Case& c : cases) {
    const double v = LengthFromText(c.typed, c.unit, c.dpi, c.low, c.high);
    EXPECT_NEAR(v, c.stored, 1e-9) << c.typed << " unit " << c.unit;
    EXPECT_EQ(LengthText(v, c.unit, c.dpi), c.shown) << c.typed << " unit " << c.unit;
  }
}

TEST_F(PagesTest, ShowingTheMediaPageAppliesTheTransportOnceAndKeepsIt) {
  for (uint8_t manual : {0, 1}) {
    s.ManualTransport = manual;
    host.sent.clear();
    MediaPageModel page(host, s, m);
    page.OnInitDialog();
    EXPECT_EQ(host.Count('S', WM_APPLY_PAPER_TRANSPORT), 1);
    EXPECT_EQ(host.sent.size(), 1u);
    EXPECT_EQ(s.ManualTransport, manual);
    EXPECT_EQ(page.Control(1231).checked, manual != 0);
    EXPECT_EQ(page.Control(1138).shown, manual == 0) << "the delay goes with automatic loading";
    EXPECT_EQ(page.Control(1089).shown, manual == 0);
    page.OnSetActive();
    EXPECT_EQ(host.Count('S', WM_APPLY_PAPER_TRANSPORT), 2) << "one apply per activation";
  }
}

TEST_F(PagesTest, DelaySliderStoresEveryPositionButAppliesOnLineStepsAndTheFinalThumb) {
  MediaPageModel page(host, s, m);
  page.OnInitDialog();
  host.sent.clear();
  struct Step {
    int position;
    SliderCode code;
    bool applies;
  };
  const Step steps[] = {{2, SliderCode::ThumbTrack, false},   {3, SliderCode::ThumbTrack, false},
                        {3, SliderCode::ThumbPosition, true}, {4, SliderCode::LineRight, true},
                        {3, SliderCode::LineLeft, true},      {5, SliderCode::PageRight, false},
                        {0, SliderCode::Left, false},         {0, SliderCode::EndScroll, false}};
  int applied = 0;
  for (const Step& st : steps) {
    page.Control(1138).position = st.position;
    page.OnScroll(1138, st.code);
    applied += st.applies;
    EXPECT_EQ(s.AutoLoadDelay, st.position);
    EXPECT_EQ(page.Control(1089).text, std::to_string(st.position));
    EXPECT_EQ(host.Count('S', WM_APPLY_PAPER_TRANSPORT), applied) << static_cast<int>(st.code);
  }
  page.Control(1033).position = 3;
  page.OnScroll(1033, SliderCode::ThumbPosition);
  EXPECT_EQ(s.ScanSpeed, 3);
  EXPECT_EQ(page.Control(1036).text, "3");
  EXPECT_EQ(host.Count('S', WM_APPLY_PAPER_TRANSPORT), applied) << "the speed is read by the next scan";
}

TEST_F(PagesTest, TypedLengthsAreStoredInInchesAndShownInTheUnit) {
  m.LengthUnit = 1;
  MediaPageModel page(host, s, m);
  page.OnInitDialog();
  page.Control(1136).text = "1";
  page.OnKillFocusStaging();
  EXPECT_NEAR(s.StagingPosition, 0.39, 1e-9);
  EXPECT_EQ(page.Control(1136).text, " 0.99cm");
  m.LengthUnit = 0;
  page.Control(1137).text = "-1";
  page.OnKillFocusRunOn();
  EXPECT_EQ(s.RunOnLength, 0.0);
}

TEST_F(PagesTest, MediaPageByFamilyModelAndPaperEndDetection) {
  struct Case {
    int type, model, paperEnd;
    uint8_t mediaFeature;
    bool delay, manual, edge0Shown, edge0Enabled, alt, media0Enabled, media1Shown, runOnEnabled;
  };
  const Case cases[] = {
      {1, 9, 0, 0, true, true, true, true, false, true, true, true},
      {0, 5, 0, 0, false, true, true, true, false, true, true, false},    // no delay, no run-on
      {1, 9, 1, 0, false, false, false, true, false, true, false, true},  // paper-end detection
      {1, 9, 0, 1, true, true, true, false, false, true, true, true},     // media feature
      {80, 62, 0, 0, false, false, true, true, true, false, true, false},
      {80, 83, 0, 0, false, false, true, false, false, false, true, false},
      {80, 85, 0, 0, false, false, true, false, false, true, true, false},
  };
  for (const Case& c : cases) {
    s.ScannerType = c.type;
    s.ModelCode = c.model;
    s.PaperEndDetection = c.paperEnd;
    s.MediaFeature = c.mediaFeature;
    s.ManualTransport = 0;
    s.LeftOffsetMode = 1;
    MediaPageModel page(host, s, m);
    page.OnInitDialog();
    const std::string at = "type " + std::to_string(c.type) + " model " + std::to_string(c.model);
    EXPECT_EQ(page.Control(1138).shown, c.delay) << at;
    EXPECT_EQ(page.Control(1089).shown, c.delay) << at;
    EXPECT_EQ(page.Control(1231).shown, c.manual) << at;
    EXPECT_EQ(page.Control(1132).shown, c.edge0Shown) << at;
    EXPECT_EQ(page.Control(1132).enabled, c.edge0Enabled) << at;
    EXPECT_EQ(page.Control(1133).shown, c.alt) << at;
    EXPECT_EQ(page.Control(1134).shown, !c.alt && c.edge0Shown) << at;
    EXPECT_EQ(page.Control(c.alt ? 1133 : 1134).checked, true) << at;
    EXPECT_EQ(page.Control(1040).enabled, c.media0Enabled) << at;
    EXPECT_EQ(page.Control(1041).shown, c.media1Shown) << at;
    EXPECT_EQ(page.Control(1137).enabled, c.runOnEnabled) << at;
    for (int id : {1043, 1229, 1136, 1137}) EXPECT_FALSE(page.Control(id).shown) << at << " " << id;
  }
}

TEST_F(PagesTest, MediaFeatureSetsTheLeftEdgeAndPaperEndDetectionRenamesTheRadios) {
  s.MediaFeature = 1;
  s.LeftOffsetMode = 0;
  s.PaperEndDetection = 1;
  MediaPageModel page(host, s, m);
  page.OnInitDialog();
  EXPECT_EQ(s.LeftOffsetMode, 1);
  EXPECT_EQ(page.Control(1040).text, "Staged");
  EXPECT_EQ(page.Control(1042).text, "Ejected");
  EXPECT_FALSE(page.Control(1363).enabled);
}

TEST_F(PagesTest, MediaRadiosChecksAndUnloadToggle) {
  MediaPageModel page(host, s, m);
  page.OnInitDialog();
  page.OnMediaRadio(1042);
  EXPECT_EQ(s.MediaHandlingByte, 2);
  EXPECT_TRUE(page.Control(1042).checked);
  EXPECT_FALSE(page.Control(1041).checked);
  const uint8_t unload = s.UnloadMode;
  page.OnUnloadClick();
  EXPECT_EQ(s.UnloadMode, unload ? 0 : 1);
  page.OnUnloadClick();
  EXPECT_EQ(s.UnloadMode, unload);
  page.OnLeftEdgeRadio(1132);
  EXPECT_EQ(s.LeftOffsetMode, 0);
  page.OnLeftEdgeRadio(1134);
  EXPECT_EQ(s.LeftOffsetMode, 1);
}

TEST(RepairPageFields, ValuesThePagesCannotShowFallBackToTheirDefaults) {
  ScanSettingsRecord s;
  s.ScanBrightness = 5;
  s.GammaRed = s.GammaGreen = s.GammaBlue = 1.5f;
  EXPECT_EQ(RepairPageFields(s), 0);
  const ScanSettingsRecord d;
  s.MediaHandlingByte = 7;
  s.ScanSpeed = 0;
  s.AutoLoadDelay = 9;
  s.StagingPosition = std::numeric_limits<double>::quiet_NaN();
  s.RunOnLength = 4.0;
  s.GammaBlue = std::numeric_limits<float>::infinity();
  s.AutoPalette16 = 3;
  EXPECT_EQ(RepairPageFields(s), 7);
  EXPECT_EQ(s.MediaHandlingByte, d.MediaHandlingByte);
  EXPECT_EQ(s.ScanSpeed, d.ScanSpeed);
  EXPECT_EQ(s.AutoLoadDelay, d.AutoLoadDelay);
  EXPECT_EQ(s.StagingPosition, d.StagingPosition);
  EXPECT_EQ(s.RunOnLength, d.RunOnLength);
  EXPECT_FLOAT_EQ(s.GammaBlue, 1.5f);
  EXPECT_EQ(s.AutoPalette16, d.AutoPalette16);
}

}  // namespace
}  // namespace orb::test
