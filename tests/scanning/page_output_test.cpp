#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "scanning/ScanOutputPageModel.h"

namespace {

using namespace orb;
using namespace orb::page_ids;

struct Sent {
  uint32_t msg;
  uintptr_t wParam;
  bool operator==(const Sent&) const = default;
};

class FakePageHost : public ScanOutputPageHost {
 public:
  intptr_t SendToFrame(uint32_t msg, uintptr_t w, intptr_t) override {
    sent.push_back({msg, w});
    return 0;
  }
  std::string String(int id) override { return strings.count(id) ? strings[id] : std::string(); }
  void ShowMessage(int id) override { shown.push_back(id); }
  bool AskYesNo(int id) override {
    asked.push_back(id);
    return yes;
  }
  std::optional<std::string> RunSetupFilename(const std::string& name) override {
    namingInput = name;
    return namingResult;
  }
  std::optional<std::string> BrowseOutputFile(const std::string& path) override {
    browseStart = path;
    return browseResult;
  }
  void StartResolutionTimer() override { ++timers; }
  void UpdateToolButtons() override { ++toolButtonUpdates; }
  void LoadPaperSizes() override { ++paperLoads; }
  void WriteTotals() override { ++totals; }
  uint32_t Status() override { return status; }
  bool ScannerPresent() override { return present; }
  bool BatchMode() override { return batch; }

  std::vector<Sent> sent;
  std::map<int, std::string> strings{{33005, "Custom"}};
  std::vector<int> shown, asked;
  bool yes = true;
  std::string namingInput, browseStart;
  std::optional<std::string> namingResult, browseResult;
  int timers = 0, toolButtonUpdates = 0, paperLoads = 0, totals = 0;
  uint32_t status = 0;
  bool present = true, batch = false;
};

_WINDOWSIZES Size(const char* name, int32_t w, int32_t l) {
  _WINDOWSIZES s;
  std::snprintf(s.Name, sizeof s.Name, "%s", name);
  s.Width = w;
  s.Length = l;
  return s;
}

struct Fixture {
  Fixture() {
    scan.ScannerType = 0;
    scan.ScannerSubType = 1;
    scan.OpticalDpi = 400;
    scan.MaxDpi = 800;
    scan.MaxWidth = 3600;
    scan.MaxLength = 10000;
    scan.ColourMode = 0;
    scan.FormatIndexRgb = 4;  // tif-uncompressed
    SetTextField(scan.OutputFileName, "/tmp/Scan-0001.tif");
    resolutions = {"100 dpi", "200 dpi", "400 dpi", ""};
    sizes = {Size("A4", 827, 1169), Size("A3", 1169, 1654)};
  }
  ScanOutputPageModel& Page() {
    if (!page) {
      page = std::make_unique<ScanOutputPageModel>(host, scan, misc, &resolutions, &sizes);
      page->OnInitDialog();
    }
    return *page;
  }
  FakePageHost host;
  ScanSettingsRecord scan;
  MiscSettingsRecord misc;
  std::vector<std::string> resolutions;
  std::vector<_WINDOWSIZES> sizes;
  std::unique_ptr<ScanOutputPageModel> page;
};

std::string OutName(const ScanSettingsRecord& s) { return TextField(s.OutputFileName); }

// ------------------------------------------------------------------ colour modes

TEST(ScanOutputPage, ColourModeListsByScanner) {
  struct Case {
    int32_t type, sub, variant, model, stored;
    size_t rows;
    int32_t storedAfter;  // the mode after the page clamps it
    int selectedRow;
  } cases[] = {
      {0, 1, 0, 5, 6, 7, 6, 6},    // SCSI colour: all seven
      {1, 0, 0, 5, 4, 2, 4, 1},    // SCSI grey: modes 3 and 4, row 0 is mode 3
      {0, 1, 0, 5, 9, 7, 6, 6},    // above 6 is lowered
      {80, 1, 1, 60, 6, 5, 4, 4},  // Kelvane variant 1 colour: 0..4, lowered to 4
      {80, 0, 0, 100, 3, 2, 3, 0}, // Kelvane large grey: 3, 4
      {80, 0, 0, 85, 5, 4, 5, 2},  // Kelvane small grey: 3..6
      {80, 1, 0, 85, 6, 7, 6, 6},  // Kelvane small colour: all seven
      {80, 1, 0, 95, 2, 0, 2, -1}, // no list for this model
      {7, 1, 0, 0, 2, 0, 2, -1},   // unknown scanner type
  };
  for (const auto& c : cases) {
    Fixture f;
    f.scan.ScannerType = c.type;
    f.scan.ScannerSubType = c.sub;
    f.scan.ScannerVariant = c.variant;
    f.scan.ModelCode = c.model;
    f.scan.ColourMode = c.stored;
    f.Page().OnSetActive();
    const auto& cm = f.page->Control(kColourMode);
    EXPECT_EQ(cm.items.size(), c.rows) << c.type << "/" << c.model;
    EXPECT_EQ(cm.selection, c.selectedRow) << c.type << "/" << c.model;
    EXPECT_EQ(f.scan.ColourMode, c.storedAfter) << c.type << "/" << c.model;
  }
}

TEST(ScanOutputPage, GreyScannerRowZeroMeansGrey) {
  Fixture f;
  f.scan.ScannerSubType = 0;
  f.scan.ColourMode = 4;
  f.Page().OnSetActive();
  ASSERT_EQ(f.page->Control(kColourMode).items.size(), 2u);
  f.page->Control(kColourMode).selection = 0;
  f.page->OnColourModeCloseUp();
  EXPECT_EQ(f.scan.ColourMode, 3);
  // A stored colour mode the grey scanner lacks selects its first row, never a negative one.
  f.scan.ColourMode = 0;
  f.page->OnSetActive();
  EXPECT_EQ(f.page->Control(kColourMode).selection, 0);
  EXPECT_EQ(f.scan.ColourMode, 3);
}

TEST(ScanOutputPage, PaletteNamesCarryTheirSuffix) {
  Fixture f;
  f.host.strings[33002] = "C|P256|P16|G|B|GG|BG";
  f.host.strings[33072] = " file";
  f.host.strings[33073] = " auto";
  f.scan.AutoPalette256 = 1;
  f.scan.AutoPalette16 = 0;
  f.Page().OnSetActive();
  const auto& items = f.page->Control(kColourMode).items;
  ASSERT_EQ(items.size(), 7u);
  EXPECT_EQ(items[1], "P256 auto");
  EXPECT_EQ(items[2], "P16 file");
  EXPECT_EQ(items[6], "BG");
}

// ------------------------------------------------------------------ formats

TEST(ScanOutputPage, FormatGivesExtensionAndFlags) {
  struct Case {
    int32_t kind;
    int32_t index;
    const char* ext;
    uint8_t plain, noPad;
  } cases[] = {
      {0, 0, ".jpg", 0, 1}, {0, 1, ".jp2", 0, 0}, {0, 2, ".pdf", 0, 1}, {0, 3, ".png", 0, 1},
      {0, 4, ".tif", 1, 0}, {0, 5, ".tif", 0, 1}, {0, 6, ".tif", 0, 0}, {0, 7, ".bmp", 0, 1},
      {1, 0, ".png", 0, 1}, {2, 1, ".tif", 1, 0}, {1, 3, ".bmp", 0, 0},
      {3, 0, ".jpg", 0, 1}, {5, 3, ".tif", 1, 0}, {3, 5, ".bmp", 0, 0},
      {4, 0, ".pdf", 0, 1}, {4, 1, ".tif", 1, 0}, {6, 2, ".tif", 0, 1}, {4, 3, ".tif", 0, 1},
      {4, 5, ".bmp", 0, 0},
      {0, 99, ".jpg", 0, 1},  // a stored index outside the list takes the first format
  };
  for (const auto& c : cases) {
    Fixture f;
    f.scan.ColourMode = c.kind;
    f.scan.FormatIndexRgb = f.scan.FormatIndexPalette = f.scan.FormatIndexGrey =
        f.scan.FormatIndexBilevel = c.index;
    f.Page().OnSetActive();
    std::string name = OutName(f.scan);
    EXPECT_EQ(name.substr(name.size() - 4), c.ext) << c.kind << "/" << c.index;
    EXPECT_EQ(f.scan.OutputIsPlainTiff, c.plain) << c.kind << "/" << c.index;
    EXPECT_EQ(f.scan.NoPadOutput, c.noPad) << c.kind << "/" << c.index;
  }
}

TEST(ScanOutputPage, ExtensionFollowsTheColourMode) {
  Fixture f;
  f.scan.FormatIndexRgb = 1;      // jp2
  f.scan.FormatIndexBilevel = 3;  // tif-g4
  SetTextField(f.scan.OutputFileName, "/tmp/plan.v2/Scan-0001.jp2");
  f.Page().OnSetActive();
  EXPECT_EQ(OutName(f.scan), "/tmp/plan.v2/Scan-0001.jp2");
  f.page->Control(kColourMode).selection = 4;
  f.page->OnColourModeCloseUp();
  EXPECT_EQ(OutName(f.scan), "/tmp/plan.v2/Scan-0001.tif");
  EXPECT_EQ(f.page->Control(kFileName).text, "/tmp/plan.v2/Scan-0001.tif");
  EXPECT_EQ(f.page->Control(kFileName).selFrom, static_cast<int>(OutName(f.scan).size()));
  EXPECT_GE(f.host.toolButtonUpdates, 1);
  // An unknown extension stays in the name; a missing one is added.
  SetTextField(f.scan.OutputFileName, "/tmp/Scan-0001.abc");
  f.page->OnColourModeCloseUp();
  EXPECT_EQ(OutName(f.scan), "/tmp/Scan-0001.abc.tif");
  SetTextField(f.scan.OutputFileName, "/tmp/Scan-0001");
  f.page->OnColourModeCloseUp();
  EXPECT_EQ(OutName(f.scan), "/tmp/Scan-0001.tif");
  SetTextField(f.scan.OutputFileName, "/tmp/Scan-0001.PNG");
  f.page->OnColourModeCloseUp();
  EXPECT_EQ(OutName(f.scan), "/tmp/Scan-0001.tif");
}

TEST(ScanOutputPage, PaperEndModelsRefuseAutomaticWidthForCompressedOutput) {
  Fixture f;
  f.scan.PaperEndDetection = 1;
  f.scan.SizeMode = 0;
  f.scan.FormatIndexRgb = 0;  // jpg
  f.Page().OnSetActive();
  EXPECT_FALSE(f.page->Control(kSizeAuto).enabled);
  EXPECT_EQ(f.scan.SizeMode, 2);
  EXPECT_TRUE(f.page->Control(kSizeCustom).checked);
  Fixture g;
  g.scan.PaperEndDetection = 1;
  g.scan.SizeMode = 0;  // uncompressed TIFF colour: automatic width stays
  g.Page().OnSetActive();
  EXPECT_TRUE(g.page->Control(kSizeAuto).enabled);
  EXPECT_EQ(g.scan.SizeMode, 0);
}

// ------------------------------------------------------------------ activation by state

TEST(ScanOutputPage, SetActiveStatesTable) {
  struct Case {
    uint32_t status;
    int32_t type;
    int bitmap;
    bool scanShown, scanEnabled, acceptShown, nameEnabled, settingsEnabled, loadEnabled;
    int focus;
  } cases[] = {
      {0, 0, 137, true, true, false, true, true, true, kScan},
      {1, 0, 138, true, true, false, false, false, false, kScan},
      {2, 0, 152, true, true, true, false, true, true, kAccept},
      {2, 80, 152, false, true, true, false, true, true, kAccept},  // Kelvane: Accept, Reject only
      {0 | 4, 0, 137, true, false, false, true, true, false, kScan},  // medium moving
      {1 | 4, 0, 138, true, false, false, false, false, false, kScan},
      {2 | 4, 0, 152, true, false, true, false, true, false, kAccept},
  };
  for (const auto& c : cases) {
    Fixture f;
    f.scan.ScannerType = c.type;
    f.scan.ScannerVariant = 1;
    f.host.status = c.status;
    f.Page().OnSetActive();
    auto& p = *f.page;
    SCOPED_TRACE(testing::Message() << "status " << c.status << " type " << c.type);
    EXPECT_EQ(p.Control(kScan).bitmap, c.bitmap);
    EXPECT_EQ(p.Control(kScan).shown, c.scanShown);
    EXPECT_EQ(p.Control(kScan).enabled, c.scanEnabled);
    EXPECT_EQ(p.Control(kAccept).shown, c.acceptShown);
    EXPECT_EQ(p.Control(kReject).shown, c.acceptShown);
    EXPECT_EQ(p.Control(kFileName).enabled, c.nameEnabled);
    EXPECT_EQ(p.Control(kBrowse).enabled, c.nameEnabled);
    EXPECT_EQ(p.Control(kSetupFilename).enabled, c.nameEnabled);
    for (int id : {kColourMode, kResolution, kBatchScan, kSizeCustom, kTotals})
      EXPECT_EQ(p.Control(id).enabled, c.settingsEnabled) << id;
    if (c.type == 0) {
      EXPECT_EQ(p.Control(kLoad).enabled, c.loadEnabled);
    }
    EXPECT_EQ(p.Focus(), c.focus);
    // Paper staging is applied only while no scan runs.
    bool staged = !f.host.sent.empty() && f.host.sent[0] == Sent{WM_APPLY_PAPER_STAGING, 0};
    EXPECT_EQ(staged, (c.status & 1) == 0);
  }
}

TEST(ScanOutputPage, ScannerPresenceBatchModeAndModelFlags) {
  Fixture f;
  f.host.present = false;
  f.Page().OnSetActive();
  EXPECT_FALSE(f.page->Control(kScan).enabled);
  EXPECT_FALSE(f.page->Control(kUnload).enabled);
  EXPECT_FALSE(f.page->Control(kLoad).enabled);

  Fixture b;
  b.host.batch = true;
  b.Page().OnSetActive();
  EXPECT_FALSE(b.page->Control(kScan).enabled);
  EXPECT_TRUE(b.page->Control(kLoad).enabled);

  Fixture p;
  p.scan.PaperEndDetection = 1;
  p.scan.MediaHandlingByte = 2;
  p.Page().OnSetActive();
  EXPECT_FALSE(p.page->Control(kBatchScan).shown);
  EXPECT_FALSE(p.page->Control(kUnload).shown);
  EXPECT_TRUE(p.page->Control(kLoad).shown);

  Fixture k;
  k.scan.ScannerType = 80;
  k.scan.ScannerVariant = 1;
  k.misc.ScanLogEnabled = 1;
  k.Page().OnSetActive();
  EXPECT_FALSE(k.page->Control(kUnload).shown);
  EXPECT_FALSE(k.page->Control(kLoad).shown);
  EXPECT_TRUE(k.page->Control(kTotals).shown);
  EXPECT_FALSE(f.page->Control(kTotals).shown);
}

TEST(ScanOutputPage, BatchScanningOnSetsMediaHandling) {
  Fixture f;
  f.scan.BatchScan = 1;
  f.scan.MediaHandlingByte = 0;
  f.Page().OnSetActive();
  EXPECT_EQ(f.scan.BatchScan, 1);
  EXPECT_EQ(f.scan.MediaHandlingByte, 1);
  EXPECT_EQ(f.page->Control(kBatchScan).bitmap, 139);
  EXPECT_TRUE(f.page->Control(kBatchScan).checked);
  f.page->ToggleBatchScan();
  EXPECT_EQ(f.scan.BatchScan, 0);
  EXPECT_EQ(f.page->Control(kBatchScan).bitmap, 140);
  EXPECT_FALSE(f.page->Control(kBatchScan).checked);
}

// ------------------------------------------------------------------ buttons

TEST(ScanOutputPage, ScanButtonByState) {
  struct Case {
    uint32_t status;
    std::vector<Sent> sent;
  } cases[] = {
      {0, {{WM_SCAN_BATCH_WAIT, WM_SCAN_NEW_DOCUMENT}}},
      {1, {{WM_SCAN_STOP, 0}}},
      {2, {{WM_SCAN_BATCH_WAIT, WM_SCAN_DISCARD_RESTART}}},
      {3, {}},
      {0x100 | 2, {{WM_SCAN_BATCH_WAIT, WM_SCAN_DISCARD_RESTART}}},
      {4, {}},  // the medium is moving
  };
  for (const auto& c : cases) {
    Fixture f;
    f.Page();
    f.host.status = c.status;
    f.page->OnScan();
    EXPECT_EQ(f.host.sent, c.sent) << c.status;
  }
  Fixture f;
  f.Page();
  f.page->OnAcceptPage();
  f.page->OnRejectPage();
  f.page->OnUnloadMedium();
  f.page->OnLoadMedium();
  std::vector<Sent> want = {{WM_SCAN_ACCEPT_PAGE, 0}, {WM_SCAN_REJECT_PAGE, 0}, {WM_SCANNER_UNLOAD, 0},
                            {WM_SCANNER_LOAD, 0}};
  EXPECT_EQ(f.host.sent, want);
}

TEST(ScanOutputPage, TotalsReportOnlyAfterYes) {
  Fixture f;
  f.Page();
  f.host.yes = false;
  f.page->OnReportTotals();
  EXPECT_EQ(f.host.totals, 0);
  f.host.yes = true;
  f.page->OnReportTotals();
  EXPECT_EQ(f.host.totals, 1);
  EXPECT_EQ(f.host.asked, (std::vector<int>{34007, 34007}));
}

// ------------------------------------------------------------------ size controls

TEST(ScanOutputPage, SizeControlsByMode) {
  struct Case {
    int32_t mode;
    bool paperShown, widthShown, widthEnabled;
    int checkedRadio;
  } cases[] = {
      {0, false, true, false, kSizeAuto},
      {1, true, false, true, kSizeStandard},
      {2, false, true, true, kSizeCustom},
      {5, true, false, true, kSizeStandard},  // anything else is a paper size
  };
  for (const auto& c : cases) {
    Fixture f;
    f.scan.SizeMode = c.mode;
    f.scan.PaperSizeIndex = 1;
    f.scan.Landscape = 1;
    f.Page().OnSetActive();
    auto& p = *f.page;
    SCOPED_TRACE(c.mode);
    EXPECT_EQ(p.Control(kPaperSize).shown, c.paperShown);
    EXPECT_EQ(p.Control(kOrientation).shown, c.paperShown);
    EXPECT_EQ(p.Control(kWidth).shown, c.widthShown);
    EXPECT_EQ(p.Control(kWidthLabel).shown, c.widthShown);
    EXPECT_EQ(p.Control(kLength).shown, c.widthShown);
    if (c.widthShown) {
      EXPECT_EQ(p.Control(kWidth).enabled, c.widthEnabled);
    }
    EXPECT_FALSE(p.Control(kLeft).shown);
    EXPECT_FALSE(p.Control(kTop).shown);
    for (int id : {kSizeAuto, kSizeStandard, kSizeCustom}) EXPECT_EQ(p.Control(id).checked, id == c.checkedRadio);
    if (c.paperShown) {
      EXPECT_EQ(p.Control(kPaperSize).items, (std::vector<std::string>{"A4", "A3"}));
      EXPECT_EQ(p.Control(kPaperSize).selection, 1);
      EXPECT_EQ(p.Control(kOrientation).items.size(), 2u);
      EXPECT_EQ(p.Control(kOrientation).selection, 1);
    }
  }
}

TEST(ScanOutputPage, CustomWidthIsClampedAndShownInTheUnit) {
  struct Case {
    int32_t unit;
    const char* typed;
    int32_t stored;
    const char* shown;
  } cases[] = {
      {0, "0", 100, " 1.00\""}, {1, "0", 100, " 2.54cm"}, {2, "0", 100, "100px"},
      {0, "99", 3600, "36.00\""}, {0, "abc", 100, " 1.00\""}, {2, "850", 850, "850px"},
  };
  for (const auto& c : cases) {
    Fixture f;
    f.misc.LengthUnit = c.unit;
    f.scan.SizeMode = 2;
    f.Page().OnSetActive();
    f.page->Control(kWidth).text = c.typed;
    f.page->OnKillFocusWidth();
    EXPECT_EQ(f.scan.CustomWidth, c.stored) << c.typed;
    EXPECT_EQ(f.page->Control(kWidth).text, c.shown) << c.typed;
  }
  Fixture f;
  f.scan.SizeMode = 2;
  f.Page().OnSetActive();
  f.page->Control(kLength).text = "500";  // inches: beyond MaxLength
  f.page->Control(kWidth).text = "0.5";
  f.page->ValidateCustomArea();
  EXPECT_EQ(f.scan.CustomLength, 10000);
  EXPECT_EQ(f.scan.CustomWidth, 100);
  f.page->Control(kLeft).text = "90";
  f.page->OnKillFocusLeftOffset();
  EXPECT_EQ(f.scan.AreaLeft, 3600);
  f.page->Control(kTop).text = "3.5";
  f.page->OnKillFocusTopOffset();
  EXPECT_EQ(f.scan.AreaTop, 350);
}

// ------------------------------------------------------------------ resolution

TEST(ScanOutputPage, ResolutionBoxFromTheList) {
  Fixture f;
  f.scan.ResolutionIndex = 7;  // outside the list
  f.Page();
  const auto& r = f.page->Control(kResolution);
  EXPECT_EQ(r.items, (std::vector<std::string>{"Custom: 100 dpi", "200 dpi", "400 dpi"}));
  EXPECT_EQ(f.scan.ResolutionIndex, 0);
}

TEST(ScanOutputPage, TypedCustomResolutionIsClamped) {
  struct Case {
    const char* typed;
    int32_t type, model, option, optionValue, mode;
    const char* stored;
  } cases[] = {
      {"Custom: 50000 dpi", 0, 5, 0, 0, 0, "800 dpi"},      // above MaxDpi
      {"Custom: 10 dpi", 0, 5, 0, 0, 0, "50 dpi"},          // below OpticalDpi / 8
      {"Custom: 2000 dpi", 0, 5, 1, 6, 0, "2000 dpi"},      // option: 6 x 400
      {"Custom: 3000 dpi", 0, 5, 1, 6, 0, "2400 dpi"},
      {"Custom: 2000 dpi", 0, 5, 1, 6, 1, "800 dpi"},       // not in a palette mode
      {"Custom: 9000 dpi", 80, 90, 0, 0, 0, "9000 dpi"},    // Kelvane 87..92: 9600
      {"Custom: 50 dpi", 80, 90, 0, 0, 0, "100 dpi"},       // Kelvane lower bound 100
      {"Custom: 9000 dpi", 80, 60, 0, 4, 0, "1600 dpi"},    // Kelvane: factor x optical
      {"Custom: 9000 dpi", 80, 60, 0, 0, 0, "800 dpi"},     // no factor: the maximum
      {"Custom: 99999999999999 dpi", 0, 5, 0, 0, 0, "800 dpi"},
      {"Custom:   300dpi", 0, 5, 0, 0, 0, "300 dpi"},
  };
  for (const auto& c : cases) {
    Fixture f;
    f.scan.ScannerType = c.type;
    f.scan.ScannerVariant = 1;
    f.scan.ModelCode = c.model;
    f.scan.ResolutionOption = static_cast<uint8_t>(c.option);
    f.scan.ResolutionOptionValue = c.optionValue;
    f.scan.ColourMode = c.mode;
    f.Page();
    auto& r = f.page->Control(kResolution);
    r.selection = -1;
    r.text = c.typed;
    f.page->OnResolutionKillFocus();
    EXPECT_EQ(TextField(f.scan.ResolutionText), c.stored) << c.typed;
    EXPECT_EQ(f.scan.ResolutionIndex, 0);
    EXPECT_EQ(r.selection, 0);
    EXPECT_EQ(r.items[0], std::string("Custom: ") + c.stored);
    EXPECT_EQ(f.resolutions[0], c.stored);
    EXPECT_EQ(f.host.timers, 1);
  }
}

TEST(ScanOutputPage, TypedTextWithoutCaptionRestoresTheRow) {
  for (const char* typed : {"1200 dpi", "Custom 1200 dpi", "", "Custom: dpi"}) {
    Fixture f;
    f.scan.ResolutionIndex = 2;
    f.Page();
    auto& r = f.page->Control(kResolution);
    r.selection = -1;
    r.text = typed;
    f.page->OnResolutionKillFocus();
    EXPECT_EQ(r.selection, 2) << typed;
    EXPECT_EQ(r.text, "400 dpi") << typed;
    EXPECT_EQ(TextField(f.scan.ResolutionText), TextField(ScanSettingsRecord().ResolutionText));
  }
}

TEST(ScanOutputPage, EditingTheCustomEntryKeepsItsForm) {
  Fixture f;
  f.host.strings[33005] = "Custom resolution";  // a caption with a blank in it
  f.Page();
  auto& r = f.page->Control(kResolution);
  r.selection = 0;
  r.text = "Custom resolution: 12x00 dpi";
  f.page->OnResolutionEditUpdate();
  EXPECT_EQ(r.text, "Custom resolution: 1200 dpi");
  EXPECT_EQ(r.selFrom, static_cast<int>(std::string("Custom resolution: 1200").size()));
  f.page->SelectResolutionNumber();
  EXPECT_EQ(r.text.substr(r.selFrom, r.selTo - r.selFrom), "1200");
  r.selection = 1;
  r.text = "20 dpi";
  f.page->OnResolutionEditUpdate();
  EXPECT_EQ(r.text, "200 dpi");
  f.page->SelectResolutionNumber();
  EXPECT_EQ(f.scan.ResolutionIndex, 1);
  EXPECT_EQ(r.selFrom, 0);
  EXPECT_EQ(r.selTo, 7);
}

TEST(ScanOutputPage, PaletteModeLowersTheCustomResolution) {
  Fixture f;
  f.scan.ResolutionOption = 1;
  f.scan.ResolutionOptionValue = 6;
  f.scan.ColourMode = 0;
  f.Page().OnSetActive();
  auto& r = f.page->Control(kResolution);
  r.selection = -1;
  r.text = "Custom: 2000 dpi";
  f.page->OnResolutionKillFocus();
  EXPECT_EQ(TextField(f.scan.ResolutionText), "2000 dpi");
  f.page->Control(kColourMode).selection = 1;  // 256 colours
  f.page->OnColourModeCloseUp();
  EXPECT_EQ(TextField(f.scan.ResolutionText), "800 dpi");
  EXPECT_EQ(r.items[0], "Custom: 800 dpi");
}

// ------------------------------------------------------------------ output name

class OutputNameTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = testing::TempDir() + "/pageXXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
    ASSERT_EQ(mkdir((dir + "/folder.tif").c_str(), 0777), 0);
    ASSERT_EQ(mkdir((dir + "/ro").c_str(), 0555), 0);
    SetTextField(f.scan.OutputFileName, dir + "/Scan-0001.tif");
    f.Page().OnSetActive();
  }
  void TearDown() override {
    rmdir((dir + "/folder.tif").c_str());
    rmdir((dir + "/ro").c_str());
    rmdir(dir.c_str());
  }
  std::string dir;
  Fixture f;
};

TEST_F(OutputNameTest, TypedNamesAreCheckedBeforeTheyAreStored) {
  struct Case {
    std::string typed;
    std::string stored;
    std::vector<int> messages;
  } cases[] = {
      {dir + "/Other-01.tif", dir + "/Other-01.tif", {}},
      {"Plain-7.tif", dir + "/Plain-7.tif", {}},  // no folder: the stored one
      {dir + "/missing/x.tif", dir + "/Plain-7.tif", {33006}},
      {dir + "/folder.tif", dir + "/Plain-7.tif", {33007}},
      {"/x.tif", dir + "/Plain-7.tif", geteuid() == 0 ? std::vector<int>{} : std::vector<int>{33006}},
  };
  for (const auto& c : cases) {
    if (geteuid() == 0 && c.typed == "/x.tif") continue;  // root may write anywhere
    f.host.shown.clear();
    f.page->Control(kFileName).text = c.typed;
    f.page->OnKillFocusFileName();
    EXPECT_EQ(OutName(f.scan), c.stored) << c.typed;
    EXPECT_EQ(f.host.shown, c.messages) << c.typed;
    EXPECT_EQ(f.page->Control(kFileName).text, c.stored);
  }
  if (geteuid() != 0) {
    f.page->Control(kFileName).text = dir + "/ro/x.tif";
    f.page->OnKillFocusFileName();
    EXPECT_EQ(f.host.shown.back(), 33006);
    EXPECT_EQ(f.page->Focus(), kFileName);
  }
}

TEST_F(OutputNameTest, NamingDialogWorksOnTheNamePart) {
  f.host.namingResult = "Job-01-001";
  f.page->OnSetupFilename();
  EXPECT_EQ(f.host.namingInput, "Scan-0001");
  EXPECT_EQ(OutName(f.scan), dir + "/Job-01-001.tif");
  f.host.namingResult.reset();
  f.page->OnSetupFilename();
  EXPECT_EQ(OutName(f.scan), dir + "/Job-01-001.tif");
  // A name too long for the field leaves the stored one.
  f.host.namingResult = std::string(300, 'n');
  f.page->OnSetupFilename();
  EXPECT_EQ(OutName(f.scan), dir + "/Job-01-001.tif");
}

TEST_F(OutputNameTest, BrowseTakesThePathOrKeepsTheNameOnCancel) {
  f.host.browseResult = dir + "/chosen.png";
  f.page->OnBrowseOutputFile();
  EXPECT_EQ(OutName(f.scan), dir + "/chosen.tif");  // the colour mode's format decides
  f.host.browseResult.reset();
  f.page->OnBrowseOutputFile();
  EXPECT_EQ(f.host.browseStart, dir + "/chosen.tif");
  EXPECT_EQ(OutName(f.scan), dir + "/chosen.tif");
}

}  // namespace

namespace orb {
namespace {

// The output format box of the page: the names of the colour mode's group (the module's
// list text gives names and extensions in turn), the stored row selected, a choice stored
// in the group's field with the extension and the output flags following it.
TEST(ScanOutputPage, OutputFormatBoxOffersTheModesGroupAndStoresTheChoice) {
  const OutputFormatListIds savedIds = g_outputFormatListIds;
  g_outputFormatListIds = {33105, 33106, 33108, 33107};
  Fixture f;
  // Only two names in the colour list: the other rows keep the format names.
  f.host.strings[33105] = "JPEG|jpg|JPEG 2000|jp2";
  f.host.strings[33107] = "PDF G4|pdf-g4|TIFF|tif-uncompressed|TIFF G3|tif-g3|TIFF G4|tif-g4|PackBits|tif-packbits|BMP|bmp";
  ScanOutputPageModel& page = f.Page();
  page.OnSetActive();
  const ControlState& box = page.Controls().at(page_ids::kOutputFormat);
  EXPECT_EQ(box.items, (std::vector<std::string>{"JPEG", "JPEG 2000", "pdf-jpeg", "png", "tif-uncompressed",
                                                 "tif-packbits", "tif-jpeg", "bmp"}));
  EXPECT_EQ(box.selection, 4);

  struct Case {
    int32_t mode;
    int row;
    const char* ext;
    int32_t ScanSettingsRecord::*field;
    uint8_t plainTiff, noPad;
  } cases[] = {
      {0, 1, ".jp2", &ScanSettingsRecord::FormatIndexRgb, 0, 0},
      {0, 0, ".jpg", &ScanSettingsRecord::FormatIndexRgb, 0, 1},
      {4, 3, ".tif", &ScanSettingsRecord::FormatIndexBilevel, 0, 1},
      {4, 1, ".tif", &ScanSettingsRecord::FormatIndexBilevel, 1, 0},
      {4, 0, ".pdf", &ScanSettingsRecord::FormatIndexBilevel, 0, 1},
      {1, 3, ".bmp", &ScanSettingsRecord::FormatIndexPalette, 0, 0},
      {3, 2, ".png", &ScanSettingsRecord::FormatIndexGrey, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.mode) + "/" + std::to_string(c.row));
    page.Control(page_ids::kColourMode).selection = c.mode;
    page.OnColourModeCloseUp();
    page.Control(page_ids::kOutputFormat).selection = c.row;
    page.OnOutputFormatCloseUp();
    EXPECT_EQ(f.scan.*c.field, c.row);
    EXPECT_EQ(OutName(f.scan).substr(OutName(f.scan).size() - 4), c.ext);
    EXPECT_EQ(f.scan.OutputIsPlainTiff, c.plainTiff);
    EXPECT_EQ(f.scan.NoPadOutput, c.noPad);
    EXPECT_EQ(box.selection, c.row);
    EXPECT_EQ(box.items.size(), FormatNamesForKind(c.mode).size());
  }
  EXPECT_EQ(box.items[0], "jpg");  // no grey list text: the format names stand
  page.Control(page_ids::kColourMode).selection = 4;
  page.OnColourModeCloseUp();
  EXPECT_EQ(box.items[3], "TIFF G4");

  f.host.status = 1;  // scanning: the format cannot change under a running scan
  page.OnSetActive();
  EXPECT_FALSE(page.Controls().at(page_ids::kOutputFormat).enabled);
  g_outputFormatListIds = savedIds;
}

}  // namespace
}  // namespace orb
