// Whole scans, headless: the scan control drives the real scanner library over the simulated
// scanner and writes real files; the results are decoded and compared with what the
// simulator rendered for the same window.
#include "scanning/ScsiScanControl.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "engine/ImageState.h"
#include "engine/PaletteFile.h"
#include "platform/imagemill/imagemill.h"
#include "scanner_library/trennic.h"
#include "scanning/ScanOutputPageModel.h"
#include "tests/common/ProcessUtil.h"
#include "tests/scanning/FakeScanHost.h"
#include "tests/scanning/ScanReadBack.h"
#include "tests/scanning/ScanTestSupport.h"

namespace orb {
namespace {

using scantest::Decode;
using scantest::Decoded;

std::vector<uint8_t> Unpack1(const std::vector<uint8_t>& packed, int width) {
  std::vector<uint8_t> out(static_cast<size_t>(width));
  for (int x = 0; x < width; ++x) out[x] = (packed[x / 8] & (0x80 >> (x % 8))) ? 255 : 0;
  return out;
}

double MeanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 1e9;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
  return sum / a.size();
}

std::vector<uint8_t> Luma(const std::vector<uint8_t>& row, int mode) {
  if (mode != 0) return row;
  std::vector<uint8_t> out(row.size() / 3);
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<uint8_t>((299 * row[3 * i] + 587 * row[3 * i + 1] + 114 * row[3 * i + 2]) / 1000);
  return out;
}

class ScsiScan : public test::ScanTestBase {
 protected:
  void SetUp() override {
    ScanTestBase::SetUp();
    SetDefaultClock(&host_.clock);
    sim::SimScannerConfig cfg;
    cfg.sheet.paperTop = 0;  // the paper from the first line, one inch in from the left
    cfg.sheet.paperLeft = 1200;
    StartScanner(cfg);
    ScanSettingsRecord& s = ScanSettings;
    s = ScanSettingsRecord{};
    s.ScannerType = 0;
    s.ModelCode = 3;
    s.OpticalDpi = 400;
    s.MaxDpi = 800;
    s.MaxWidth = 5399;
    s.ResolutionIndex = 0;
    SetTextField(s.ResolutionText, "100 dpi");
    s.SizeMode = 2;
    s.AreaLeft = 100;  // the paper starts one inch in
    s.AreaTop = 0;
    s.CustomWidth = 200;
    s.CustomLength = 100;
    s.LeftOffsetMode = 1;
    s.ColourMode = 0;
    s.ScanBrightness = 5;
    s.GammaRed = s.GammaGreen = s.GammaBlue = 1.0f;
    s.HardwareThreshold = 1;
    s.OutputIsPlainTiff = 0;
    s.NoPadOutput = 0;
    BWThresholdSettings.SoftwareThreshold = 0;
    BWThresholdSettings.ThresholdingType = 0;
    image_ = NewImageState();
  }
  void TearDown() override {
    control_.reset();
    trennic_.reset();
    sti_.reset();
    if (image_) FreeImageChain(image_);
    SetDefaultClock(nullptr);
    ScanTestBase::TearDown();
  }
  void StartScanner(sim::SimScannerConfig c) {
    control_.reset();
    trennic_.reset();
    sti_.reset();  // one simulated scanner on the device list at a time
    sti_ = std::make_unique<sim::ScopedStiScanner>(std::move(c));
    trennic_ = std::make_unique<CTrennic>();
    DeviceInfoType info{};
    trennic_->Open(info);
    control_ = std::make_unique<ScsiScanControl>(*trennic_, host_);
  }
  sim::SimScanner& sim() { return sti_->scanner(); }

  // Chooses `format` for the colour mode and names the output after it.
  void Output(int mode, uint32_t format) {
    ScanSettings.ColourMode = mode;
    const auto& list = OutputFormatList(mode);
    const auto it = std::find(list.begin(), list.end(), format);
    ASSERT_NE(it, list.end());
    const int32_t index = static_cast<int32_t>(it - list.begin());
    ScanSettings.FormatIndexRgb = ScanSettings.FormatIndexPalette = ScanSettings.FormatIndexGrey =
        ScanSettings.FormatIndexBilevel = index;
    out_ = dir_ + "/scan-" + std::to_string(mode) + "-" + std::to_string(format) + scantest::FormatExtension(format);
    SetTextField(ScanSettings.OutputFileName, out_);
  }

  bool Scan() {
    if (!control_->StartScan(image_)) {
      for (const auto& t : host_.texts) ADD_FAILURE() << "text: " << t;
      for (int id : host_.messages) ADD_FAILURE() << "message: " << id;
      return false;
    }
    control_->WaitForScan();
    return true;
  }

  // The lines the simulator delivers for the last window, as the scan holds them in memory.
  std::vector<uint8_t> Expected(int line) {
    std::vector<uint8_t> raw = sim().RenderDeliveredLine(line);
    if (control_->LastPlan().oneBitTransfer) return Unpack1(raw, control_->LastPlan().widthPx);
    return raw;
  }

  // A 16- or 256-colour palette file of grey levels and the sheet's block colours.
  std::string MakePalette(int colours) {
    auto pal = std::make_unique<PaletteFile>();
    std::vector<std::array<int, 3>> c;
    const int blocks[6][3] = {{220, 30, 30}, {30, 180, 60}, {40, 60, 200},
                              {230, 210, 40}, {40, 200, 210}, {200, 50, 180}};
    for (auto& b : blocks) c.push_back({b[0], b[1], b[2]});
    while (static_cast<int>(c.size()) < colours) {
      const int g = static_cast<int>((c.size() - 6) * 255 / (colours - 7));
      c.push_back({g, g, g});
    }
    for (int cell = 0; cell < 65536; ++cell) {
      const int r = ((cell >> 11) << 3) + 4, g = (((cell >> 5) & 63) << 2) + 2, b = ((cell & 31) << 3) + 4;
      int best = 0, bestD = 1 << 30;
      for (int i = 0; i < colours; ++i) {
        const int d = (r - c[i][0]) * (r - c[i][0]) + (g - c[i][1]) * (g - c[i][1]) + (b - c[i][2]) * (b - c[i][2]);
        if (d < bestD) { bestD = d; best = i; }
      }
      pal->Lookup[cell] = static_cast<uint8_t>(best);
    }
    pal->N = pal->M = static_cast<uint8_t>(colours - 1);
    for (int i = 0; i < colours; ++i) {
      for (int k = 0; k < 3; ++k) pal->Palette[3 * i + k] = pal->OutputPalette[3 * i + k] = static_cast<uint8_t>(c[i][k]);
      pal->Map[i] = static_cast<uint8_t>(i);
    }
    const std::string path = dir_ + "/pal" + std::to_string(colours) + ".apt";
    EXPECT_TRUE(SavePaletteFile(path, *pal));
    return path;
  }

  test::FakeScanHost host_;
  std::unique_ptr<sim::ScopedStiScanner> sti_;
  std::unique_ptr<CTrennic> trennic_;
  std::unique_ptr<ScsiScanControl> control_;
  ImageState* image_ = nullptr;
  std::string out_;
};

struct ModeFormat {
  int mode;
  uint32_t format;
};

std::vector<ModeFormat> AllModeFormats() {
  std::vector<ModeFormat> v;
  for (int mode = 0; mode <= 6; ++mode)
    for (uint32_t f : OutputFormatList(mode)) v.push_back({mode, f});
  return v;
}

TEST_F(ScsiScan, EveryColourModeAndOutputFormat) {
  SetTextField(ScanSettings.Palette16File, MakePalette(16));
  SetTextField(ScanSettings.Palette256File, MakePalette(64));
  for (const ModeFormat& mf : AllModeFormats()) {
    SCOPED_TRACE("mode " + std::to_string(mf.mode) + " format " + std::to_string(mf.format));
    FreeImageChain(image_);
    image_ = NewImageState();
    Output(mf.mode, mf.format);
    ASSERT_TRUE(Scan());
    const ScanResult r = control_->LastResult();
    EXPECT_EQ(r.end, ScanEnd::Complete);
    EXPECT_EQ(r.linesReceived, 100);
    EXPECT_EQ(host_.Codes().back(), "P9");
    const int width = control_->LastPlan().widthPx;
    EXPECT_EQ(width, 192);

    Decoded d = Decode(out_);
    if (mf.format == 0x40004 || mf.format == 0x30004) {
      // PDF: the library may not read its own PDF back; the file must exist and be a PDF.
      if (d.rc != IM_OK) {
        std::ifstream f(out_, std::ios::binary);
        char head[5] = {};
        f.read(head, 4);
        EXPECT_EQ(std::string(head), "%PDF");
        continue;
      }
    }
    ASSERT_EQ(d.rc, IM_OK) << out_;
    ASSERT_EQ(d.width, width);
    ASSERT_EQ(d.height, 100);
    double worst = 0;
    int wrongRows = 0;
    for (int y = 0; y < 100; ++y) {
      const std::vector<uint8_t> want = Expected(y);
      if (scantest::LossyFormat(mf.format)) {
        // Lossy codecs: compare brightness (colour noise of single pixels is where they lose).
        worst = std::max(worst, MeanDifference(Luma(d.rows[y], mf.mode), Luma(want, mf.mode)));
      } else if (d.rows[y] != want) {
        ++wrongRows;
      }
    }
    if (scantest::LossyFormat(mf.format)) {
      EXPECT_LT(worst, 8.0);
    }
    EXPECT_EQ(wrongRows, 0);

    // The working copy holds the same lines as the raw image of the document.
    if (control_->LastPlan().workingCopy) {
      ASSERT_FALSE(image_->rawPath.empty());
      Decoded raw = Decode(image_->rawPath);
      ASSERT_EQ(raw.rc, IM_OK);
      ASSERT_EQ(raw.height, 100);
      EXPECT_EQ(image_->sourceForm, 2u);
      EXPECT_GE(image_->dataOffset, 8u);
      if (mf.mode != 4 && mf.mode != 6) {
        EXPECT_EQ(raw.rows[50], Expected(50));
      }
    } else {
      EXPECT_TRUE(image_->rawPath.empty());
    }
  }
}

TEST_F(ScsiScan, FilterOrderTracedThroughFakeFilters) {
  std::mutex m;
  std::vector<std::string> trace;
  auto add = [&](const std::string& what) {
    std::lock_guard<std::mutex> lock(m);
    trace.push_back(what);
  };
  struct Named final : LineFilter {
    std::string name;
    std::function<void(const std::string&)> add;
    void Process(uint8_t*, size_t) override { add(name); }
  };
  control_->stageFactory = [&](FilterKind f) -> std::unique_ptr<LineFilter> {
    auto s = std::make_unique<Named>();
    s->add = add;
    switch (f) {
      case FilterKind::NoiseRemoval: s->name = "noise"; break;
      case FilterKind::Sharpen: s->name = "sharpen"; break;
      case FilterKind::Mirror: s->name = "mirror"; break;
      case FilterKind::ToneCurve: s->name = "tone"; break;
      case FilterKind::BrightCont: s->name = "brightcont"; break;
      case FilterKind::BWPoint: s->name = "bwpoint"; break;
      case FilterKind::Invert: s->name = "invert"; break;
      case FilterKind::Threshold: s->name = "threshold"; break;
      case FilterKind::Despeckle: s->name = "despeckle"; break;
    }
    return s;
  };
  control_->trace = [&](const char* what) { add(what); };
  DescreenSettings.enabled = SharpenSettings.enabled = MirrorSettings.enabled = 1;
  GammaSettings.enabled = BrightContSettings.enabled = BWPointSettings.enabled = 1;
  InvertSettings.enabled = DespeckleSettings.enabled = 1;
  ScanSettings.CustomLength = 8;  // one block

  Output(0, 2);  // RGB to JPEG: a working copy is written
  ASSERT_TRUE(Scan());
  EXPECT_EQ(trace, (std::vector<std::string>{"noise", "sharpen", "mirror", "tone", "brightcont",
                                             "bwpoint", "invert", "copy", "draw", "output"}));
  trace.clear();
  FreeImageChain(image_);
  image_ = NewImageState();
  BWThresholdSettings.SoftwareThreshold = 1;
  Output(4, 1);
  ASSERT_TRUE(Scan());
  EXPECT_EQ(trace, (std::vector<std::string>{"mirror", "invert", "copy", "threshold", "despeckle",
                                             "draw", "output"}));
  DescreenSettings.enabled = SharpenSettings.enabled = MirrorSettings.enabled = 0;
  GammaSettings.enabled = BrightContSettings.enabled = BWPointSettings.enabled = 0;
  InvertSettings.enabled = DespeckleSettings.enabled = 0;
}

TEST_F(ScsiScan, RealInScanFiltersChangeThePixels) {
  InvertSettings.enabled = 1;
  MirrorSettings.enabled = 1;
  Output(3, 1);
  ASSERT_TRUE(Scan());
  InvertSettings.enabled = 0;
  MirrorSettings.enabled = 0;
  Decoded d = Decode(out_);
  ASSERT_EQ(d.rc, IM_OK);
  for (int y : {0, 37, 99}) {
    std::vector<uint8_t> want = Expected(y);

    std::reverse(want.begin(), want.end());
    for (auto& v : want) v = static_cast<uint8_t>(~v);
    EXPECT_EQ(d.rows[y], want) << y;
  }
}

struct EarlyEndCase {
  const char* name;
  bool stop;          // the user stops after 40 lines; otherwise the paper ends at line 50
  bool plainTiff;
  bool noPad;
};

class ScsiScanEarlyEnd : public ScsiScan, public ::testing::WithParamInterface<EarlyEndCase> {};

TEST_P(ScsiScanEarlyEnd, WhiteFillOrCut) {
  const EarlyEndCase c = GetParam();
  if (!c.stop) {
    sim::SimScannerConfig cfg;
    cfg.sheet.paperTop = 0;
    cfg.sheet.paperLength = 600;  // half an inch: 50 lines at 100 dpi
    StartScanner(cfg);
  }
  ScanSettings.OutputIsPlainTiff = c.plainTiff;
  ScanSettings.NoPadOutput = c.noPad;
  Output(3, 1);  // grey, uncompressed TIFF (plain stream output)
  if (c.stop) {
    control_->trace = [this](const char* what) {
      if (std::string(what) == "output" && host_.display.lines >= 40) control_->StopScan();
    };
  }
  ASSERT_TRUE(Scan());
  const ScanResult r = control_->LastResult();
  EXPECT_EQ(r.end, c.stop ? ScanEnd::Stopped : ScanEnd::EndOfMedium);
  if (c.stop) {
    EXPECT_GE(r.linesReceived, 40);
    EXPECT_LT(r.linesReceived, 100);
  } else {
    // The paper ends after 50 lines: the two that came with the end of the medium are kept.
    EXPECT_EQ(r.linesReceived, 50);
  }
  const int received = r.linesReceived;
  Decoded d = Decode(out_);
  ASSERT_EQ(d.rc, IM_OK);
  const bool cut = c.plainTiff || c.noPad;
  if (cut) {
    EXPECT_TRUE(r.cut);
    EXPECT_EQ(d.height, received);  // the header says how many lines there are
    EXPECT_EQ(image_->height, received);
    EXPECT_EQ(host_.Codes(), (std::vector<std::string>{"S9", "T8"}));
  } else {
    EXPECT_TRUE(r.whiteFilled);
    ASSERT_EQ(d.height, 100);
    for (int y = 0; y < received; ++y) ASSERT_EQ(d.rows[y], Expected(y)) << y;
    for (int y = received; y < 100; ++y)
      ASSERT_EQ(d.rows[y], std::vector<uint8_t>(d.width, 255)) << y;
    EXPECT_EQ(host_.Codes(), (std::vector<std::string>{"P9"}));
    if (c.stop) {
      EXPECT_EQ(host_.progressCaptions.back(), 33074);
    }
  }
  EXPECT_EQ(d.rows[10], Expected(10));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScsiScanEarlyEnd,
    ::testing::Values(EarlyEndCase{"StopPadded", true, false, false},
                      EarlyEndCase{"StopPlainTiff", true, true, false},
                      EarlyEndCase{"StopNoPad", true, false, true},
                      EarlyEndCase{"EndOfMediumPadded", false, false, false},
                      EarlyEndCase{"EndOfMediumPlainTiff", false, true, false},
                      EarlyEndCase{"EndOfMediumNoPad", false, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScsiScan, EscDuringWhiteFillRejectsThePage) {
  Output(3, 3);
  ScanSettings.CustomLength = 1000;
  control_->trace = [this](const char* what) {
    if (std::string(what) == "output" && host_.display.lines >= 16) control_->StopScan();
  };
  host_.escAtPump = 5;
  ASSERT_TRUE(Scan());
  const ScanResult r = control_->LastResult();
  EXPECT_TRUE(r.fillCancelled);
  EXPECT_EQ(host_.Codes(), (std::vector<std::string>{"P9", "P5"}));
}

TEST_F(ScsiScan, FullHeightEndsWithoutStop) {
  Output(0, 3);
  ASSERT_TRUE(Scan());
  EXPECT_EQ(host_.Codes(), (std::vector<std::string>{"P9"}));
  // No stop command (SEND with data type 1) after the scan started.
  int stops = 0;
  for (const auto& rec : sim().LogOf(0x2A))
    if (rec.cdb[2] == 1 && rec.cdb[4] == 0 && rec.cdb[5] == 0) ++stops;
  EXPECT_EQ(stops, 0);
  EXPECT_EQ(CancelFlag.load(), 0);
}

TEST_F(ScsiScan, ReadErrorAtLineIsReportedAndCut) {
  Output(0, 3);
  sim().FailReadAtLine(37);
  ASSERT_TRUE(Scan());
  const ScanResult r = control_->LastResult();
  EXPECT_EQ(r.end, ScanEnd::ReadError);
  EXPECT_TRUE(r.cut);
  EXPECT_FALSE(r.whiteFilled);
  EXPECT_LE(r.linesReceived, 37);
  EXPECT_EQ(host_.messages, std::vector<int>{33089});
  EXPECT_EQ(host_.Codes(), (std::vector<std::string>{"S9", "T8"}));
  EXPECT_EQ(image_->height, r.linesReceived);
  EXPECT_EQ(image_->region.bottom, r.linesReceived - 1);
}

TEST_F(ScsiScan, ScannerErrorIsNotAFullPage) {
  Output(3, 1);
  sim().FailCommand(4, sim::Sense{0x04, 0x44, 0x00}, 0x28);  // the fourth READ fails
  ASSERT_TRUE(Scan());
  const ScanResult r = control_->LastResult();
  EXPECT_EQ(r.end, ScanEnd::ScannerError);
  EXPECT_TRUE(r.cut);
  EXPECT_FALSE(r.whiteFilled);
  EXPECT_EQ(r.linesReceived, 24);
  ASSERT_EQ(host_.texts.size(), 1u);
  EXPECT_EQ(host_.Codes(), (std::vector<std::string>{"S9", "T8"}));
  Decoded d = Decode(out_);
  ASSERT_EQ(d.rc, IM_OK);
  EXPECT_EQ(d.height, 24);
}

TEST_F(ScsiScan, NoDataIsReported) {
  Output(3, 1);
  sim().EmptyReads(1000000);
  ASSERT_TRUE(Scan());
  const ScanResult r = control_->LastResult();
  EXPECT_EQ(r.end, ScanEnd::NoData);
  EXPECT_EQ(r.linesReceived, 0);
  EXPECT_FALSE(r.whiteFilled);
  EXPECT_EQ(host_.texts.size(), 1u);
  EXPECT_EQ(host_.Codes(), (std::vector<std::string>{"S9", "T8", "P5"}));  // the page is dropped
  EXPECT_FALSE(std::filesystem::exists(out_));
}

// A scanner that ends a sheet by sending nothing more: after lines have come that is the end
// of the sheet, not a failure. The lines that came (43, part way through a block) are kept,
// and the page is completed with white to its length as after an end of the medium.
TEST_F(ScsiScan, NoDataAfterLinesEndsTheSheetNormally) {
  Output(3, 1);
  sim().NoDataFromLine(43);
  ASSERT_TRUE(Scan());
  const ScanResult r = control_->LastResult();
  EXPECT_EQ(r.end, ScanEnd::EndOfMedium);
  EXPECT_EQ(r.linesReceived, 43);
  EXPECT_TRUE(r.whiteFilled);
  EXPECT_FALSE(r.cut);
  EXPECT_TRUE(host_.texts.empty());
  EXPECT_TRUE(host_.messages.empty());
  EXPECT_EQ(host_.Codes(), (std::vector<std::string>{"P9"}));
  EXPECT_EQ(CancelFlag.load(), 0);
  Decoded d = Decode(out_);
  ASSERT_EQ(d.rc, IM_OK);
  ASSERT_EQ(d.height, 100);
  for (int y = 0; y < 43; ++y) ASSERT_EQ(d.rows[y], Expected(y)) << y;
  const std::vector<uint8_t> white(d.rows[0].size(), 255);
  for (int y = 43; y < 100; ++y) ASSERT_EQ(d.rows[y], white) << y;
}

// Waits (in real time, bounded) until `done` holds; only a failing test waits long.
bool WaitUntil(const std::function<bool()>& done) {
  return orbtest::WaitFor(done, std::chrono::seconds(20), std::chrono::milliseconds(1));
}

// The scanner holds a READ unanswered: the stop must reach it at once, not after that READ,
// so the scan ends as stopped while the clock stands still (no command time limit ran out).
TEST_F(ScsiScan, StopReachesTheScannerWhileItHoldsARead) {
  Output(3, 1);
  ScanSettings.CustomLength = 1000;
  ScanSettings.NoPadOutput = 1;  // cut to the lines received
  sim().StallReads(true);
  // Whatever fails below, the scanner lets its reads go before the scan is waited for.
  struct Unstall {
    sim::SimScanner& s;
    ~Unstall() { s.StallReads(false); }
  } unstall{sim()};
  ASSERT_TRUE(control_->StartScan(image_));
  for (size_t block = 1; block <= 3; ++block) {  // three blocks of 8 lines come, the fourth is held
    ASSERT_TRUE(WaitUntil([&] { return sim().StalledReads() > 0; }));
    sim().ReleaseReads();
    ASSERT_TRUE(WaitUntil([&] { return sim().LogOf(0x28).size() >= block; }));
  }
  ASSERT_TRUE(WaitUntil([&] { return sim().StalledReads() > 0; }));
  const int64_t before = host_.clock.NowMs();
  control_->StopScan();
  const bool ended = WaitUntil([&] { return !control_->Scanning(); });
  if (!ended) {
    host_.clock.Advance(std::chrono::milliseconds(200000));  // let the held READ time out
    sim().StallReads(false);
  }
  control_->WaitForScan();
  ASSERT_TRUE(ended) << "the stop waited for the held READ";
  EXPECT_LT(host_.clock.NowMs() - before, 1000);
  const ScanResult r = control_->LastResult();
  EXPECT_EQ(r.end, ScanEnd::Stopped);
  EXPECT_TRUE(r.cut);
  // The stop (SEND, data type 1, qualifier 0) came in before the held READ was answered.
  const auto log = sim().Log();
  size_t stopAt = log.size(), lastRead = 0;
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].cdb[0] == 0x2A && log[i].cdb[2] == 1 && log[i].cdb[5] == 0 && stopAt == log.size())
      stopAt = i;
    if (log[i].cdb[0] == 0x28) lastRead = i;
  }
  ASSERT_LT(stopAt, log.size());
  EXPECT_LT(stopAt, lastRead);
  EXPECT_EQ(r.linesReceived, 24);
  Decoded d = Decode(out_);
  ASSERT_EQ(d.rc, IM_OK);
  ASSERT_EQ(d.height, 24);
  for (int y = 0; y < 24; ++y) ASSERT_EQ(d.rows[y], Expected(y)) << y;
}

// Black and white at the default threshold (fixed, level 32) and the factory gamma of 1.5:
// the sheet's grey patches that a grey scan shows as 107 to 124 come out black, the paper
// (above 160 in grey) white, whether the scanner thresholds or the program does.
TEST_F(ScsiScan, BilevelScanBlackensTheDarkGreyPatchesAtTheDefaultThreshold) {
  ScanSettings.GammaRed = ScanSettings.GammaGreen = ScanSettings.GammaBlue = 1.5f;
  ScanSettings.CustomWidth = 400;  // across four blocks of the sheet
  BWThresholdSettings = BWThresholdRecord{};
  Output(3, 1);
  ASSERT_TRUE(Scan());
  Decoded grey = Decode(out_);
  ASSERT_EQ(grey.rc, IM_OK);
  for (const bool software : {true, false}) {
    SCOPED_TRACE(software ? "thresholded by the program" : "thresholded by the scanner");
    BWThresholdSettings = BWThresholdRecord{};
    BWThresholdSettings.SoftwareThreshold = software ? 1 : 0;
    FreeImageChain(image_);
    image_ = NewImageState();
    Output(4, 1);
    ASSERT_TRUE(Scan());
    ASSERT_EQ(control_->LastPlan().oneBitTransfer, !software);
    Decoded bw = Decode(out_);
    ASSERT_EQ(bw.rc, IM_OK);
    ASSERT_EQ(bw.height, grey.height);
    ASSERT_EQ(bw.width, grey.width);
    int patches = 0, paper = 0;
    for (int y = 0; y < grey.height; ++y)
      for (int x = 0; x < grey.width; ++x) {
        const int g = grey.rows[y][x];
        if (g >= 107 && g <= 124) {
          ++patches;
          ASSERT_EQ(bw.rows[y][x], 0) << x << "," << y << " grey " << g;
        } else if (g > 160) {
          ++paper;
          ASSERT_EQ(bw.rows[y][x], 255) << x << "," << y << " grey " << g;
        }
      }
    EXPECT_GT(patches, 1000);
    EXPECT_GT(paper, 1000);
  }
}

TEST_F(ScsiScan, StartFailuresLeaveNothingRunning) {
  // Empty area.
  ScanSettings.CustomWidth = 0;
  Output(0, 3);
  EXPECT_FALSE(control_->StartScan(image_));
  EXPECT_EQ(host_.messages, std::vector<int>{kStrEmptyArea});
  // Existing output, answered No.
  ScanSettings.CustomWidth = 200;
  { std::ofstream(out_) << "x"; }
  host_.answerYes = false;
  EXPECT_FALSE(control_->StartScan(image_));
  ASSERT_EQ(host_.questions.size(), 1u);
  EXPECT_EQ(host_.questions[0], "33009:" + out_);
  // Colour mode 7 is refused.
  host_.answerYes = true;
  ScanSettings.ColourMode = 7;
  EXPECT_FALSE(control_->StartScan(image_));
  EXPECT_FALSE(control_->Scanning());
  EXPECT_EQ(sim().LogOf(0x1B).size(), 0u);  // no SCAN was sent
}

TEST_F(ScsiScan, AutomaticWidthOnASheetWithKnownEdges) {
  sim::SimScannerConfig cfg;
  cfg.sheet.paperTop = 1800;    // the paper arrives after 1.5 inches
  cfg.sheet.paperLeft = 1200;   // 1 inch
  cfg.sheet.paperWidth = 9600;  // 8 inches
  cfg.sheet.paperLength = 2400;
  StartScanner(cfg);
  ScanSettings.SizeMode = 0;
  ScanSettings.OutputIsPlainTiff = 1;  // the real scan runs to the paper's end, then is cut
  Output(3, 1);
  ASSERT_TRUE(Scan());
  EXPECT_EQ(ScanWindowSize.Left, 80);
  EXPECT_EQ(ScanWindowSize.Width, 899 + 20 - 80);
  EXPECT_EQ(ScanSettings.AreaLeft, 80);
  EXPECT_EQ(host_.progressCaptions.front(), kStrAutoSizeCaption);
  const ScanResult r = control_->LastResult();
  EXPECT_EQ(r.end, ScanEnd::EndOfMedium);
  // 3.5 inches to the end of the paper, every line of it.
  EXPECT_EQ(r.linesReceived, 350);
  EXPECT_EQ(ScanSettings.CustomLength, 350);
  EXPECT_TRUE(host_.messages.empty());
}

TEST_F(ScsiScan, AutomaticWidthWithoutEdgesFallsBackToFullWidth) {
  sim::SimScannerConfig cfg;
  cfg.sheet.paperWidth = 0;  // nothing but the backing: a uniform pre-scan
  cfg.sheet.paperLength = 4800;
  StartScanner(cfg);
  ScanSettings.SizeMode = 0;
  ScanSettings.OutputIsPlainTiff = 1;
  Output(3, 1);
  ASSERT_TRUE(Scan());
  ASSERT_EQ(host_.messages.size(), 1u);
  EXPECT_EQ(host_.messages.front(), kStrNoEdges);
  EXPECT_EQ(ScanWindowSize.Left, 0);
  EXPECT_EQ(ScanWindowSize.Width, 5399);
}

TEST_F(ScsiScan, PalettePreScanWritesAutomaticPalette) {
  ScanSettings.ColourMode = 1;
  ScanSettings.AutoPalette256 = 1;
  Output(1, 3);
  ASSERT_TRUE(Scan());
  const std::string path = g_szDataFolder + "/AutoPalette256.tmp";
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(image_->paletteFilePath, path);
  EXPECT_EQ(host_.progressCaptions.front(), kStrPreScanCaption);
  EXPECT_EQ(control_->LastResult().end, ScanEnd::Complete);
}

TEST_F(ScsiScan, PalettePreScanCancelledByEscFails) {
  // A sheet longer than one pre-scan read, so that Esc comes while the pre-scan runs.
  sim::SimScannerConfig cfg;
  cfg.sheet.paperTop = 0;
  cfg.sheet.paperLength = 30000;
  StartScanner(cfg);
  ScanSettings.ColourMode = 2;
  ScanSettings.AutoPalette16 = 1;
  ScanSettings.CustomLength = 2000;
  Output(2, 3);
  host_.escAtPump = 2;
  EXPECT_FALSE(control_->StartScan(image_));
  EXPECT_FALSE(std::filesystem::exists(g_szDataFolder + "/AutoPalette16.tmp"));
  EXPECT_FALSE(control_->Scanning());
  bool stopped = false;  // Esc stopped the pre-scan's scanner
  for (const auto& rec : sim().LogOf(0x2A)) stopped |= rec.cdb[2] == 1 && rec.cdb[5] == 0 && rec.cdb[4] == 0;
  EXPECT_TRUE(stopped);
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

// A filter that takes its time, so the reader is always a block ahead of the processor.
struct SlowStage final : LineFilter {
  void Process(uint8_t* lines, size_t length) override {
    volatile uint32_t sum = 0;
    for (int round = 0; round < 20; ++round)
      for (size_t i = 0; i < length; ++i) sum = sum + lines[i];
    std::this_thread::yield();
  }
};

TEST_F(ScsiScan, HandOverLosesAndOverwritesNoBlock) {
  InvertSettings.enabled = 1;  // one stage, replaced by the slow one
  control_->stageFactory = [](FilterKind) { return std::make_unique<SlowStage>(); };
  ScanSettings.CustomLength = 900;
  Output(3, 3);
  std::atomic<bool> targetSeenEarly{false};
  control_->trace = [&](const char* what) {
    if (std::string(what) == "output" && std::filesystem::exists(out_)) targetSeenEarly = true;
  };
  ASSERT_TRUE(Scan());
  EXPECT_FALSE(targetSeenEarly.load());  // the target appears only when it is complete
  Decoded d = Decode(out_);
  ASSERT_EQ(d.rc, IM_OK);
  ASSERT_EQ(d.height, 900);
  int wrong = 0;
  for (int y = 0; y < 900; ++y)
    if (d.rows[y] != Expected(y)) ++wrong;
  EXPECT_EQ(wrong, 0);
}

TEST_F(ScsiScan, PlainOutputAppearsOnlyWhenComplete) {
  ScanSettings.CustomLength = 200;
  Output(0, 1);
  std::atomic<bool> targetSeenEarly{false};
  control_->trace = [&](const char*) {
    if (std::filesystem::exists(out_)) targetSeenEarly = true;
  };
  ASSERT_TRUE(Scan());
  EXPECT_FALSE(targetSeenEarly.load());
  EXPECT_TRUE(std::filesystem::exists(out_));
  // Nothing is left beside it.
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir_)) files += e.is_regular_file();
  EXPECT_EQ(files, 1);
}

TEST_F(ScsiScan, InvertOnPaletteScansInvertsThePalette) {
  const std::string file = MakePalette(16);
  SetTextField(ScanSettings.Palette16File, file);
  PaletteFile pal;
  ASSERT_TRUE(LoadPaletteFile(file, pal));
  InvertSettings.enabled = 1;
  Output(2, 1);
  ASSERT_TRUE(Scan());
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(image_->palette[i].red, 255 - pal.OutputPalette[3 * i]) << i;
    EXPECT_EQ(image_->palette[i].blue, 255 - pal.OutputPalette[3 * i + 2]) << i;
  }
  Decoded d = Decode(out_);
  ASSERT_EQ(d.rc, IM_OK);
  EXPECT_EQ(d.rows[20], Expected(20));  // the indices are the scanner's, untouched
  EXPECT_EQ(d.colours[0].rgbRed, 255 - pal.OutputPalette[0]);
}

// The palette files shipped in the program folder's initial data (what a first run copies
// into a fresh data folder) carry 16- and 256-colour scans: each pixel is the shipped
// classification of the colour an RGB scan of the same window sees.
TEST_F(ScsiScan, SixteenAndTwoHundredFiftySixColourScansWithTheShippedPalettes) {
  const std::string shipped = (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "OrbalonData").string();
  SetTextField(ScanSettings.Palette16File, shipped + "/def16.apt");
  SetTextField(ScanSettings.Palette256File, shipped + "/def256.apt");
  Output(0, OutputFormatList(0).at(3));  // png
  ASSERT_TRUE(Scan());
  const Decoded rgb = Decode(out_);
  ASSERT_EQ(rgb.rc, IM_OK);
  for (int mode : {2, 1}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    // The shipped file by its layout: cell table after the two leading bytes.
    std::ifstream f(mode == 2 ? shipped + "/def16.apt" : shipped + "/def256.apt", std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 65538u);
    const int colours = bytes[1] + 1;
    EXPECT_EQ(colours, mode == 2 ? 16 : 256);
    FreeImageChain(image_);
    image_ = NewImageState();
    Output(mode, OutputFormatList(mode).at(0));  // png
    ASSERT_TRUE(Scan());
    EXPECT_EQ(control_->LastResult().end, ScanEnd::Complete);
    const Decoded d = Decode(out_);
    ASSERT_EQ(d.rc, IM_OK);
    ASSERT_EQ(d.height, rgb.height);
    ASSERT_EQ(d.width, rgb.width);
    EXPECT_EQ(d.bits, mode == 2 ? 4 : 8);
    int wrong = 0;
    std::set<int> used;
    for (int y = 0; y < d.height; ++y)
      for (int x = 0; x < d.width; ++x) {
        const uint8_t* p = &rgb.rows[y][3 * x];
        const int want = bytes[2 + ((p[0] >> 3) << 11 | (p[1] >> 2) << 5 | (p[2] >> 3))];
        wrong += d.rows[y][x] != want;
        used.insert(d.rows[y][x]);
      }
    EXPECT_EQ(wrong, 0);
    EXPECT_GE(used.size(), 3u);  // paper, ink and the sheet's colour blocks
  }
}

// A disk that fills during the scan (here: a file size limit of the process): the scan
// says the image could not be written and tells the frame so, which then offers no
// decision on it.
TEST_F(ScsiScan, AFileThatCannotBeWrittenReachesTheFrameAsNotWritten) {
  Output(0, 1);  // uncompressed TIFF, 57600 bytes of pixels
  struct rlimit before {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = before;
  small.rlim_cur = 16384;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool started = control_->StartScan(image_);
  if (started) control_->WaitForScan();
  setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, oldSignal);
  ASSERT_TRUE(started);
  EXPECT_FALSE(control_->LastResult().outputOk);
  bool said = false;
  for (const auto& t : host_.texts) said = said || t.find("could not be written") != std::string::npos;
  EXPECT_TRUE(said);
  int complete = 0;
  for (const auto& m : host_.Messages()) {
    if (m.msg != WM_SCAN_COMPLETE) continue;
    ++complete;
    EXPECT_EQ(m.wParam, kScanCompleteNotWritten);
  }
  EXPECT_EQ(complete, 1);
}

TEST_F(ScsiScan, DiskWritesOffStillWritesLibraryOutput) {
  DiskWritesDuringScanOff.store(1);
  DisplayDuringScanOff.store(1);
  Output(3, 3);  // PNG, through the library's writer
  const bool started = Scan();
  DiskWritesDuringScanOff.store(0);
  DisplayDuringScanOff.store(0);
  ASSERT_TRUE(started);
  Decoded d = Decode(out_);
  ASSERT_EQ(d.rc, IM_OK);
  EXPECT_EQ(d.height, 100);
  EXPECT_EQ(d.rows[99], Expected(99));
  EXPECT_EQ(host_.display.lines, 0);  // nothing drawn while the display is off
}

TEST_F(ScsiScan, OutputThatCannotBeCreatedStopsTheScanner) {
  Output(3, 1);
  SetTextField(ScanSettings.OutputFileName, dir_ + "/no/such/folder/x.tif");
  EXPECT_FALSE(control_->StartScan(image_));
  EXPECT_FALSE(control_->Scanning());
  ASSERT_EQ(host_.texts.size(), 1u);
  EXPECT_FALSE(sim().Scanning());
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

TEST_F(ScsiScan, NextScanStartedFromTheFramesHandlerOfTheLastMessage) {
  Output(3, 3);
  sim().FailReadAtLine(20);  // the first scan is cut short and its message is sent
  ImageState* second = NewImageState();
  std::atomic<bool> started{false}, handled{false};
  // The handler runs on the first scan's read thread here; the test thread keeps off the
  // control object until it has returned, as the GUI thread would be inside the handler.
  host_.onSend = [&](uint32_t msg) {
    if (msg != WM_SCAN_COMPLETE || started.exchange(true)) return;
    SetTextField(ScanSettings.OutputFileName, dir_ + "/second.png");
    EXPECT_TRUE(control_->StartScan(second));
    handled = true;
  };
  ASSERT_TRUE(control_->StartScan(image_));
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!handled.load() && std::chrono::steady_clock::now() < giveUp) std::this_thread::yield();
  ASSERT_TRUE(handled.load());
  control_->WaitForScan();
  EXPECT_EQ(control_->LastResult().end, ScanEnd::Complete);
  EXPECT_EQ(second->height, 100);
  control_.reset();  // joins the first scan's thread too
  FreeImageChain(second);
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

TEST_F(ScsiScan, SoftwarePaperEndStopsTheScanAfterThePaper) {
  sim::SimScannerConfig cfg;
  cfg.sheet.paperTop = 1800;     // 150 lines of backing at 100 dpi
  cfg.sheet.paperLeft = 1200;
  cfg.sheet.paperWidth = 6000;
  cfg.sheet.paperLength = 3600;  // the paper ends at line 450
  cfg.runOn = 3600;              // the scanner would feed three inches more
  StartScanner(cfg);
  ScanSettings.ModelCode = 17;
  ScanSettings.PaperEndDetection = 1;
  ScanSettings.SizeMode = 0;
  ScanSettings.OutputIsPlainTiff = 1;
  Output(3, 1);
  ASSERT_TRUE(Scan());
  ASSERT_NE(CurrentAutoSize(), nullptr);
  const ScanResult r = control_->LastResult();
  EXPECT_EQ(r.end, ScanEnd::EndOfMedium);
  EXPECT_GE(r.linesReceived, 450);
  EXPECT_LE(r.linesReceived, 480);  // not the 750 lines up to the scanner's own end
  Decoded d = Decode(out_);
  ASSERT_EQ(d.rc, IM_OK);
  EXPECT_EQ(d.height, r.linesReceived);

  // Without the detector the same sheet runs to the end of the medium.
  ScanSettings.PaperEndDetection = 0;
  FreeImageChain(image_);
  image_ = NewImageState();
  host_.messages.clear();
  ASSERT_TRUE(Scan());
  EXPECT_GT(control_->LastResult().linesReceived, 700);
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

TEST_F(ScsiScan, SheetShorterThanTheWidthPreScanStillScans) {
  sim::SimScannerConfig cfg;
  cfg.sheet.paperTop = 0;
  cfg.sheet.paperLength = 1200;  // one inch: the pre-scan ends before its 300 lines
  StartScanner(cfg);
  ScanSettings.SizeMode = 0;
  ScanSettings.OutputIsPlainTiff = 1;
  Output(3, 1);
  ASSERT_TRUE(Scan());
  ASSERT_EQ(host_.messages.size(), 1u);
  EXPECT_EQ(host_.messages.front(), kStrNoEdges);
  EXPECT_EQ(ScanWindowSize.Width, 5399);
  EXPECT_EQ(control_->LastResult().end, ScanEnd::EndOfMedium);
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

TEST_F(ScsiScan, FamilyRoutinesForTheFrame) {
  ScsiFamilyOps ops(*control_);
  Output(3, 3);
  ASSERT_TRUE(ops.StartScan(image_));
  control_->WaitForScan();
  EXPECT_EQ(control_->LastResult().end, ScanEnd::Complete);
  sim().InsertPaper();
  EXPECT_TRUE(ops.IsPaperPresent());
  sim().ClearLog();
  ScanSettings.UnloadMode = 1;
  ops.UnloadMedium(true);
  ASSERT_EQ(sim().LogOf(0x31).size(), 1u);
  EXPECT_EQ(sim().LogOf(0x31)[0].cdb[1], 0);
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

bool StopWasSent(const sim::SimScanner& s) {
  for (const auto& rec : s.LogOf(0x2A))
    if (rec.cdb[2] == 1 && rec.cdb[4] == 0 && rec.cdb[5] == 0) return true;
  return false;
}

TEST_F(ScsiScan, FullHeightScansFollowEachOtherWithoutAStop) {
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    FreeImageChain(image_);
    image_ = NewImageState();
    Output(3, 1);
    SetTextField(ScanSettings.OutputFileName, dir_ + "/full" + std::to_string(i) + ".tif");
    sim().ClearLog();
    ASSERT_TRUE(Scan());
    EXPECT_EQ(control_->LastResult().end, ScanEnd::Complete);
    EXPECT_EQ(control_->LastResult().linesReceived, 100);
    // The window was read to its last line: the scanner ended the scan by itself.
    EXPECT_FALSE(StopWasSent(sim()));
    EXPECT_FALSE(sim().Scanning());
    const auto windows = sim().LogOf(0x24);
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].status, orb::passthru::kStatusCompleted);
  }
  // A scan stopped early, then a whole one.
  FreeImageChain(image_);
  image_ = NewImageState();
  Output(3, 1);
  ScanSettings.CustomLength = 1000;
  control_->trace = [this](const char* what) {
    if (std::string(what) == "output" && host_.display.lines >= 16) control_->StopScan();
  };
  ASSERT_TRUE(Scan());
  EXPECT_EQ(control_->LastResult().end, ScanEnd::Stopped);
  control_->trace = nullptr;
  FreeImageChain(image_);
  image_ = NewImageState();
  ScanSettings.CustomLength = 100;
  Output(3, 1);
  ASSERT_TRUE(Scan());
  EXPECT_EQ(control_->LastResult().end, ScanEnd::Complete);
  EXPECT_EQ(control_->LastResult().linesReceived, 100);
  Decoded d = Decode(out_);
  ASSERT_EQ(d.rc, IM_OK);
  ASSERT_EQ(d.height, 100);
  EXPECT_EQ(d.rows[0], Expected(0));
  EXPECT_EQ(d.rows[99], Expected(99));
}

struct EndOfMediumCase {
  const char* name;
  int mode;
  const char* resolution;
};

TEST_F(ScsiScan, EndOfMediumScanKeepsEveryLineTheScannerSent) {
  const EndOfMediumCase cases[] = {
      {"grey", 3, "100 dpi"},
      {"bilevel", 4, "100 dpi"},
      {"colour, widened by the library", 0, "800 dpi"},
  };
  for (bool withLastData : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (withLastData ? ", end with the last data" : ""));
      sim::SimScannerConfig cfg;
      cfg.sheet.paperTop = 0;
      cfg.sheet.paperLeft = 1200;
      cfg.sheet.paperLength = 610;  // ends part way through a block of 8 lines
      cfg.endOfMediumWithLastData = withLastData;
      StartScanner(cfg);
      FreeImageChain(image_);
      image_ = NewImageState();
      SetTextField(ScanSettings.ResolutionText, c.resolution);
      ScanSettings.OutputIsPlainTiff = 1;  // the image is cut to the lines received
      Output(c.mode, 1);
      ASSERT_TRUE(Scan());
      const int sent = sim().DeliveredLineCount();
      ASSERT_NE(sent % 8, 0) << sent;
      const ScanResult r = control_->LastResult();
      EXPECT_EQ(r.end, ScanEnd::EndOfMedium);
      EXPECT_EQ(r.linesReceived, sent);
      Decoded d = Decode(out_);
      ASSERT_EQ(d.rc, IM_OK);
      ASSERT_EQ(d.height, sent);
      if (std::string(c.resolution) == "100 dpi") {
        for (int y = 0; y < sent; ++y) ASSERT_EQ(d.rows[y], Expected(y)) << y;
      }
    }
  }
  SetTextField(ScanSettings.ResolutionText, "100 dpi");
}


// A host with a frame thread of its own, as the program's is: everything the scan threads ask
// for is queued and carried out, in order, only when the frame thread (the test's) runs the
// queue; a sent message keeps its sender waiting until then. The display's bands look at the
// image record as they are drawn, and every change of the record is noted with its thread.
class FrameQueueHost final : public ScanHost {
 public:
  FrameQueueHost(Clock& clock, const ImageState*& image) : clock_(clock), image_(image) {}

  struct Seen {  // the record as one band or message found it
    int32_t height;
    PixelRect region;
    const void* bitmap;
    uint64_t dataOffset;
  };

  void PostToFrame(uint32_t msg, uintptr_t, intptr_t) override {
    Queue([this, msg] { Note("P" + std::to_string(msg - WM_APP)); }, msg);
  }
  void SendToFrame(uint32_t msg, uintptr_t, intptr_t) override {
    if (OnFrameThread()) return Queue([this, msg] { Note("S" + std::to_string(msg - WM_APP)); }, msg);
    auto done = std::make_shared<std::atomic<bool>>(false);
    Queue([this, msg, done] {
      Note("S" + std::to_string(msg - WM_APP));
      std::lock_guard<std::mutex> lock(mutex_);
      done->store(true);
    }, msg);
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [&] { return done->load(); });
  }
  void PostToThumbnails(uint32_t msg, uintptr_t, intptr_t) override {
    Queue([this, msg] { Note("T" + std::to_string(msg - WM_APP)); });
  }
  bool AskYesNo(int, std::string_view) override { return true; }
  void ShowMessage(int, MessageIcon, const std::vector<MessageArg>&) override {}
  void ShowText(std::string_view, std::string_view, MessageIcon) override {}
  void ProgressBegin(int, int) override {}
  void ProgressStep() override {}
  void ProgressEnd() override {}
  void WaitCursor(bool) override {}
  void PumpMessages() override {}
  IDisplaySink* Display() override { return &sink_; }
  Clock& GetClock() override { return clock_; }
  void ChangeImageRecord(std::function<void()> change) override {
    Queue([this, change = std::move(change)] {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        changeThreads.push_back(std::this_thread::get_id());
      }
      change();
    });
  }

  // Frame thread: waits until message `msg` is queued, leaving the queue as it is.
  void WaitUntilQueued(uint32_t msg) {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [&] {
      return std::any_of(queue_.begin(), queue_.end(), [&](const Item& i) { return i.msg == msg; });
    });
  }
  // Frame thread: carries out everything queued, in order.
  void RunQueue() {
    for (;;) {
      std::function<void()> run;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (queue_.empty()) return;
        run = std::move(queue_.front().run);
        queue_.pop_front();
      }
      run();
      cv_.notify_all();
    }
  }
  size_t Queued() {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
  }

  std::atomic<int> linesAsked{0};    // lines handed to the display (on the caller's thread)
  std::vector<Seen> bands;           // frame thread only
  std::vector<std::string> codes;    // frame thread only
  std::vector<Seen> atMessages;      // the record as each frame message found it
  std::vector<std::thread::id> changeThreads;
  const std::thread::id frameThread = std::this_thread::get_id();

 private:
  struct Item {
    std::function<void()> run;
    uint32_t msg = 0;
  };
  class Sink final : public IDisplaySink {
   public:
    explicit Sink(FrameQueueHost& h) : h_(h) {}
    void UpdateTitle(ImageState*) override {}
    void BeginProgressiveDisplay(ImageState*) override {}
    void DrawIncomingBand(orb::BandStep step, const uint8_t*, int count) override {
      if (step == kStepBand) h_.linesAsked += count;
      h_.Queue([this] { h_.bands.push_back(h_.Look()); });
    }
    void EndProgressiveDisplay() override {}

   private:
    FrameQueueHost& h_;
  };

  bool OnFrameThread() const { return std::this_thread::get_id() == frameThread; }
  Seen Look() const {
    return Seen{image_->height, image_->region, image_->bitmaps[2].get(), image_->dataOffset};
  }
  void Note(std::string code) {
    codes.push_back(std::move(code));
    atMessages.push_back(Look());
  }
  void Queue(std::function<void()> run, uint32_t msg = 0) {
    if (OnFrameThread()) {
      RunQueue();
      run();
      return;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(Item{std::move(run), msg});
    }
    cv_.notify_all();
  }

  Clock& clock_;
  const ImageState*& image_;
  Sink sink_{*this};
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Item> queue_;
};

class ScsiScanFrameThread : public ScsiScan {
 protected:
  void UseFrameHost() {
    control_ = std::make_unique<ScsiScanControl>(*trennic_, frame_);
    watched_ = image_;
  }
  const ImageState* watched_ = nullptr;
  FrameQueueHost frame_{host_.clock, watched_};
};

struct RecordCase {
  const char* name;
  bool stop;       // stopped after 40 lines; otherwise the paper ends after 50 (or never)
  bool shortPaper;
  bool cut;        // the output may not be padded: the image is cut to the lines received
  const char* completion;  // how the frame is told
};

// The scan's record is drawn from on the frame thread while the scan runs: the scan threads
// leave it alone, and its final height (and, for a cut image, its region and display bitmap)
// change on the frame thread after the last band and before the frame's message.
TEST_F(ScsiScanFrameThread, ImageRecordChangesOnlyOnTheFrameThread) {
  const RecordCase cases[] = {
      {"full height", false, false, false, "P9"},
      {"stopped, padded", true, false, false, "P9"},
      {"stopped, cut", true, false, true, "S9"},
      {"end of the paper, cut", false, true, true, "S9"},
  };
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimScannerConfig cfg;
    cfg.sheet.paperTop = 0;
    cfg.sheet.paperLeft = 1200;
    if (c.shortPaper) cfg.sheet.paperLength = 600;
    StartScanner(cfg);
    FreeImageChain(image_);
    image_ = NewImageState();
    UseFrameHost();
    frame_.bands.clear();
    frame_.codes.clear();
    frame_.atMessages.clear();
    frame_.changeThreads.clear();
    frame_.linesAsked = 0;
    auto shown = std::make_shared<DisplayBitmap>();
    image_->bitmaps[2] = shown;
    ScanSettings.OutputIsPlainTiff = 0;
    ScanSettings.NoPadOutput = c.cut ? 1 : 0;
    Output(3, 1);
    if (c.stop) {
      control_->trace = [this](const char* what) {
        if (std::string(what) == "output" && frame_.linesAsked.load() >= 40) control_->StopScan();
      };
    }
    ASSERT_TRUE(control_->StartScan(image_));
    const PixelRect planned = image_->region;
    ASSERT_EQ(image_->height, 100);
    const uint64_t offsetBefore = image_->dataOffset;

    // The scan threads have done everything up to the frame's message: the record is as the
    // scan start left it.
    frame_.WaitUntilQueued(WM_SCAN_COMPLETE);
    EXPECT_EQ(image_->height, 100);
    EXPECT_EQ(image_->region.bottom, planned.bottom);
    EXPECT_EQ(image_->bitmaps[2], shown);
    EXPECT_EQ(image_->dataOffset, offsetBefore);
    EXPECT_EQ(image_->fileHandle, kNoFile);

    frame_.RunQueue();
    control_->WaitForScan();
    frame_.RunQueue();
    control_->trace = nullptr;

    const ScanResult r = control_->LastResult();
    const int32_t height = c.cut ? r.linesReceived : 100;
    if (c.cut) {
      EXPECT_LT(height, 100);
    }
    ASSERT_FALSE(frame_.codes.empty());
    EXPECT_EQ(frame_.codes.front(), c.completion);
    EXPECT_FALSE(frame_.changeThreads.empty());
    for (std::thread::id t : frame_.changeThreads) EXPECT_EQ(t, frame_.frameThread);
    // Every band but the closing one saw the planned record; the closing one the final height.
    ASSERT_GE(frame_.bands.size(), 3u);
    for (size_t i = 0; i + 1 < frame_.bands.size(); ++i) ASSERT_EQ(frame_.bands[i].height, 100) << i;
    EXPECT_EQ(frame_.bands.back().height, height);
    // The frame's message finds the record complete.
    const FrameQueueHost::Seen& m = frame_.atMessages.front();
    EXPECT_EQ(m.height, height);
    EXPECT_NE(m.dataOffset, 0u);  // where the lines start in the file the document reads
    if (c.cut) {
      EXPECT_EQ(m.bitmap, nullptr);
      EXPECT_EQ(m.region.bottom, height - 1);
      EXPECT_EQ(frame_.codes, (std::vector<std::string>{"S9", "T8"}));
    } else {
      EXPECT_EQ(m.bitmap, shown.get());
      EXPECT_EQ(frame_.codes, (std::vector<std::string>{"P9"}));
    }
    EXPECT_EQ(Decode(out_).height, height);
    EXPECT_EQ(image_->height, height);
    EXPECT_EQ(frame_.Queued(), 0u);
  }
}

}  // namespace
}  // namespace orb

// Every output format of every image-kind group, ended in every way a scan ends: each file is
// read back by the program's own reader and by an outside reader at the height the image
// record (and so the document's title) gives, with the rows that came and, where the image
// is cut, no band of filler after them.
namespace orb {
namespace {

enum class EndBy { Full, Stop, PaperEnd, AutomaticWidth };

const char* EndName(EndBy e) {
  switch (e) {
    case EndBy::Full: return "full";
    case EndBy::Stop: return "stop";
    case EndBy::PaperEnd: return "paper-end";
    case EndBy::AutomaticWidth: return "automatic-width";
  }
  return "?";
}


struct FormatEnd {
  int mode;
  uint32_t format;
  EndBy end;
};

class ScsiScanFormatEnds : public ScsiScan, public ::testing::WithParamInterface<FormatEnd> {};

TEST_P(ScsiScanFormatEnds, FileClosedAtTheScannedLength) {
  const FormatEnd c = GetParam();
  if (c.end == EndBy::PaperEnd) {
    sim::SimScannerConfig cfg;
    cfg.sheet.paperTop = 0;
    cfg.sheet.paperLeft = 1200;
    cfg.sheet.paperLength = 600;  // half an inch: 50 lines at 100 dpi
    StartScanner(cfg);
  } else if (c.end == EndBy::AutomaticWidth) {
    sim::SimScannerConfig cfg;
    cfg.sheet.paperTop = 0;
    cfg.sheet.paperLeft = 1200;
    cfg.sheet.paperWidth = 2400;   // two inches
    cfg.sheet.paperLength = 4200;  // three and a half inches: the edges are measured first
    StartScanner(cfg);
    ScanSettings.SizeMode = 0;
  }
  SetTextField(ScanSettings.Palette16File, MakePalette(16));
  SetTextField(ScanSettings.Palette256File, MakePalette(64));
  Output(c.mode, c.format);
  // The flags the scan output page sets for the chosen format.
  const std::string name = ChosenFormatName(ScanSettings, c.mode);
  ScanSettings.OutputIsPlainTiff = name == "tif-uncompressed" ? 1 : 0;
  ScanSettings.NoPadOutput = FormatNeedsNoPad(c.mode, name) ? 1 : 0;
  const bool cut = ScanSettings.OutputIsPlainTiff || ScanSettings.NoPadOutput;
  if (c.end == EndBy::Stop) {
    control_->trace = [this](const char* what) {
      if (std::string(what) == "output" && host_.display.lines >= 40) control_->StopScan();
    };
  }
  ASSERT_TRUE(Scan());
  const ScanResult r = control_->LastResult();
  const int planned = control_->LastPlan().heightPx;
  const int received = r.linesReceived;
  switch (c.end) {
    case EndBy::Full:
      EXPECT_EQ(r.end, ScanEnd::Complete);
      EXPECT_EQ(received, 100);
      break;
    case EndBy::Stop:
      EXPECT_EQ(r.end, ScanEnd::Stopped);
      EXPECT_GE(received, 40);
      EXPECT_LT(received, 100);
      break;
    case EndBy::PaperEnd:
      EXPECT_EQ(r.end, ScanEnd::EndOfMedium);
      EXPECT_EQ(received, 50);
      break;
    case EndBy::AutomaticWidth:
      EXPECT_EQ(received, 350);
      break;
  }
  // A cut image is the lines that came; otherwise white lines complete it to its window.
  const int height = cut ? received : planned;
  EXPECT_EQ(r.finalHeight, height);
  EXPECT_EQ(image_->height, height);
  ASSERT_TRUE(std::filesystem::exists(out_));
  for (const auto& entry : std::filesystem::directory_iterator(dir_))
    EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();

  const Decoded d = Decode(out_);
  ASSERT_EQ(d.rc, IM_OK) << out_;
  const int width = control_->LastPlan().widthPx;
  ASSERT_EQ(d.width, width);
  ASSERT_EQ(d.height, height);
  const std::string outside = scantest::OutsideSize(out_, c.format, dir_);
  EXPECT_EQ(outside, std::to_string(width) + " " + std::to_string(height));

  // The rows that came are there, up to the last one.
  for (int y : {0, received / 2, received - 1}) {
    const std::vector<uint8_t> want = Expected(y);
    if (scantest::LossyFormat(c.format))
      EXPECT_LT(MeanDifference(Luma(d.rows[y], c.mode), Luma(want, c.mode)), 8.0) << y;
    else
      EXPECT_EQ(d.rows[y], want) << y;
  }
  // The completion, where there is one, is white (the palette's lightest entry).
  if (height > received) {
    EXPECT_TRUE(r.whiteFilled);
    // A lossy coder blurs the first white lines into the block of the last scanned one:
    // there, lines a whole block row further on are looked at.
    const int firstWhite = scantest::LossyFormat(c.format) ? std::min(height - 1, (received / 16 + 2) * 16) : received;
    for (int y : {firstWhite, height - 1}) {
      const std::vector<uint8_t>& row = d.rows[y];
      ASSERT_FALSE(row.empty());
      if (c.mode == 1 || c.mode == 2) {
        EXPECT_EQ(std::count(row.begin(), row.end(), row[0]), static_cast<long>(row.size())) << y;
      } else if (scantest::LossyFormat(c.format)) {
        EXPECT_LT(MeanDifference(row, std::vector<uint8_t>(row.size(), 255)), 4.0) << y;
      } else {
        EXPECT_EQ(*std::min_element(row.begin(), row.end()), 255) << y;
      }
    }
  }
}

std::vector<FormatEnd> AllFormatEnds() {
  std::vector<FormatEnd> v;
  for (int mode : {0, 1, 2, 3, 4})
    for (uint32_t f : OutputFormatList(mode))
      for (EndBy e : {EndBy::Full, EndBy::Stop, EndBy::PaperEnd, EndBy::AutomaticWidth})
        v.push_back({mode, f, e});
  return v;
}

INSTANTIATE_TEST_SUITE_P(Table, ScsiScanFormatEnds, ::testing::ValuesIn(AllFormatEnds()),
                         [](const auto& info) {
                           char hex[16];
                           std::snprintf(hex, sizeof hex, "%x", info.param.format);
                           std::string n = "mode" + std::to_string(info.param.mode) + "_" + hex + "_" +
                                           EndName(info.param.end);
                           std::replace(n.begin(), n.end(), '-', '_');
                           return n;
                         });

}  // namespace
}  // namespace orb
