// Whole scans on simulated Kelvane scanners, headless: the scan control drives the connection
// object over a real transport (the device lists in-process, or loopback TCP) and writes real
// files, which are read back through the imaging library and an outside reader and compared
// with what the simulator sent for the same window.
#include "scanning/kelvane/KelvaneScanControl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>

#include "engine/ImageState.h"
#include "engine/PaletteFile.h"
#include "platform/sim/SimKelvane.h"
#include "scanning/kelvane/EventCallback.h"
#include "scanning/kelvane/KelvaneConnection.h"
#include "scanning/kelvane/KelvaneModels.h"
#include "scanning/kelvane/KelvaneScanner.h"
#include "tests/kelvane/PostCapture.h"
#include "tests/scanning/ScanReadBack.h"
#include "tests/scanning/FakeScanHost.h"
#include "tests/scanning/ScanTestSupport.h"

namespace kv = orb::kelvane;
using orb::scantest::Decode;
using orb::scantest::Decoded;
using orb::ScanEnd;
using orb::sim::KelvaneConfigFor;
using orb::sim::KelvaneFault;
using orb::sim::SimKelvane;
using orb::sim::SimKelvaneConfig;
using kv::test::PostCapture;

namespace orb {
namespace {

enum class Transport { WiaGen1Bn53, StiGen2Ru, TcpGen2Ru, TcpGen2Pvk, WiaGen1Pv };

const char* Name(Transport t) {
  switch (t) {
    case Transport::WiaGen1Bn53: return "WiaGen1Bn53";
    case Transport::StiGen2Ru: return "StiGen2Ru";
    case Transport::TcpGen2Ru: return "TcpGen2Ru";
    case Transport::TcpGen2Pvk: return "TcpGen2Pvk";
    case Transport::WiaGen1Pv: return "WiaGen1Pv";
  }
  return "?";
}

SimKelvaneConfig ConfigOf(Transport t) {
  switch (t) {
    case Transport::WiaGen1Bn53: return KelvaneConfigFor(1, "Kelvane Bn Scanner", 4);
    case Transport::WiaGen1Pv: return KelvaneConfigFor(1, "Kelvane Pv Scanner", 7);
    case Transport::StiGen2Ru:
    case Transport::TcpGen2Ru: return KelvaneConfigFor(2, "KelvaneRu Scanner", 21);
    case Transport::TcpGen2Pvk: return KelvaneConfigFor(2, "KelvanePVk Scanner", 24);
  }
  return {};
}

// A sheet without sharp detail, so that lossy formats can be compared too: the same value in
// the three bytes of a colour pixel, rising slowly along and down the sheet.
uint8_t SmoothSheet(int64_t line, int64_t index) {
  return static_cast<uint8_t>(((index / 3) + line) / 2 & 0xFF);
}

class KelvaneScanBase : public orb::test::ScanTestBase {
 protected:
  void SetUp() override {
    ScanTestBase::SetUp();
    orb::SetDefaultClock(&host_.clock);
    savedHost_ = orb::CurrentScanHost();
    orb::SetScanHost(&host_);
    image_ = NewImageState();
  }
  void TearDown() override {
    control_.reset();
    if (scanner_) scanner_->Disconnect();
    callback_.reset();
    scanner_.reset();
    server_.reset();
    wia_.reset();
    sti_.reset();
    if (image_) FreeImageChain(image_);
    orb::SetScanHost(savedHost_);
    orb::SetDefaultClock(nullptr);
    ScanTestBase::TearDown();
  }

  // Connects to and identifies a simulated scanner reached through `t`, then sets a custom
  // area of 5.2 x 6 inches at 100 dpi.
  void Attach(Transport t, const std::function<void(SimKelvaneConfig&)>& tweak = {}) {
    SimKelvaneConfig c = ConfigOf(t);
    if (tweak) tweak(c);
    sim_ = std::make_shared<SimKelvane>(c);
    ScanSettings.NetworkOption = 0;
    if (t == Transport::TcpGen2Ru || t == Transport::TcpGen2Pvk) {
      server_ = std::make_unique<orb::sim::SimKelvaneServer>(sim_);
      ASSERT_TRUE(server_->Running()) << server_->Error();
      ScanSettings.NetworkOption = 1;
      std::memset(ScanSettings.ScannerAddress, 0, sizeof ScanSettings.ScannerAddress);
      std::strcpy(ScanSettings.ScannerAddress, "127.0.0.1");
      ScanSettings.NetworkPort1 = server_->Port();
    } else if (t == Transport::StiGen2Ru) {
      sti_ = std::make_unique<orb::sim::ScopedKelvaneSti>(sim_);
    } else {
      wia_ = std::make_unique<orb::sim::ScopedKelvaneWia>(sim_);
    }
    scanner_ = std::make_unique<CKelvaneScanner>();
    scanner_->SetClock(&host_.clock);
    callback_ = std::make_unique<CEventCallback>();
    static int frame;
    orb::IdentifiedScanner who;
    ASSERT_TRUE(kv::ConnectForFrame(*scanner_, *callback_, &frame, &who));
    control_ = std::make_unique<kv::KelvaneScanControl>(*scanner_, host_);
    ScanSettingsRecord& s = ScanSettings;
    s.ResolutionIndex = 0;
    orb::SetTextField(s.ResolutionText, "100 dpi");
    s.SizeMode = 2;
    s.AreaLeft = 0;
    s.AreaTop = 0;
    s.CustomWidth = 520;
    s.CustomLength = 600;
    s.ScanSpeed = 8;
    s.RgbControl = 0;
    s.OutputIsPlainTiff = 0;
    s.NoPadOutput = 0;
    BWThresholdSettings.SoftwareThreshold = 0;
    BWThresholdSettings.ThresholdingType = 0;
  }

  void Output(int mode, uint32_t format) {
    ScanSettings.ColourMode = mode;
    const auto& list = OutputFormatList(mode);
    const auto it = std::find(list.begin(), list.end(), format);
    ASSERT_NE(it, list.end());
    const int32_t index = static_cast<int32_t>(it - list.begin());
    ScanSettings.FormatIndexRgb = ScanSettings.FormatIndexPalette = ScanSettings.FormatIndexGrey =
        ScanSettings.FormatIndexBilevel = index;
    ScanSettings.OutputIsPlainTiff = format == 1 ? 1 : 0;
    out_ = dir_ + "/scan-" + std::to_string(mode) + "-" + std::to_string(format) +
           orb::scantest::FormatExtension(format);
    orb::SetTextField(ScanSettings.OutputFileName, out_);
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

  // A palette file: `colours` grey levels, the lookup table nearest by brightness.
  std::string MakePalette(int colours) {
    auto pal = std::make_unique<PaletteFile>();
    for (int cell = 0; cell < 65536; ++cell) {
      const int g = (((cell >> 5) & 63) << 2) + 2;
      pal->Lookup[cell] = static_cast<uint8_t>(std::min(colours - 1, g * colours / 256));
    }
    pal->N = pal->M = static_cast<uint8_t>(colours - 1);
    for (int i = 0; i < colours; ++i) {
      const uint8_t v = static_cast<uint8_t>(i * 255 / (colours - 1));
      for (int k = 0; k < 3; ++k) pal->Palette[3 * i + k] = pal->OutputPalette[3 * i + k] = v;
      pal->Map[i] = static_cast<uint8_t>(i);
    }
    lookup_.assign(pal->Lookup, pal->Lookup + 65536);
    const std::string path = dir_ + "/pal" + std::to_string(colours) + ".apt";
    EXPECT_TRUE(SavePaletteFile(path, *pal));
    return path;
  }

  // The line the scan should hold, worked out from what the simulator sends.
  std::vector<uint8_t> Expected(int64_t line) {
    const kv::KelvanePlan& k = control_->LastPlan();
    const int w = k.scan.widthPx;
    const auto& sheet = sim_->Config().sheet;
    auto raw = [&](int64_t i) { return sheet ? sheet(line, i) : SimKelvane::SheetByte(line, i); };
    std::vector<uint8_t> v;
    if (k.packedBits) {
      for (int x = 0; x < w; ++x) v.push_back((raw(x / 8) & (0x80 >> (x % 8))) ? 255 : 0);
    } else if (k.scan.paletteMode) {
      for (int x = 0; x < w; ++x)
        v.push_back(lookup_[orb::PaletteCell(raw(3 * x), raw(3 * x + 1), raw(3 * x + 2))]);
    } else {
      for (int i = 0; i < k.scan.lineBytes; ++i) v.push_back(raw(i));
    }
    return v;
  }

  int EndScans() const { return sim_->EscapeCount(kv::kEscEndScan); }

  orb::test::FakeScanHost host_;
  orb::ScanHost* savedHost_ = nullptr;
  std::shared_ptr<SimKelvane> sim_;
  std::unique_ptr<orb::sim::SimKelvaneServer> server_;
  std::unique_ptr<orb::sim::ScopedKelvaneWia> wia_;
  std::unique_ptr<orb::sim::ScopedKelvaneSti> sti_;
  std::unique_ptr<CKelvaneScanner> scanner_;
  std::unique_ptr<CEventCallback> callback_;
  std::unique_ptr<kv::KelvaneScanControl> control_;
  ImageState* image_ = nullptr;
  std::string out_;
  std::vector<uint8_t> lookup_;
};

class KelvaneScanEveryMode : public KelvaneScanBase,
                             public ::testing::WithParamInterface<Transport> {};

double MeanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 1e9;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
  return sum / static_cast<double>(a.size());
}

TEST_P(KelvaneScanEveryMode, EveryColourModeAndOutputFormat) {
  Attach(GetParam(), [](SimKelvaneConfig& c) { c.sheet = SmoothSheet; });
  orb::SetTextField(ScanSettings.Palette16File, MakePalette(16));
  const std::vector<uint8_t> lookup16 = lookup_;
  orb::SetTextField(ScanSettings.Palette256File, MakePalette(64));
  const std::vector<uint8_t> lookup64 = lookup_;
  for (int mode = 0; mode <= 6; ++mode) {
    lookup_ = mode == 2 ? lookup16 : lookup64;
    for (uint32_t format : OutputFormatList(mode)) {
      SCOPED_TRACE("mode " + std::to_string(mode) + " format " + std::to_string(format));
      FreeImageChain(image_);
      image_ = NewImageState();
      host_.msgs.clear();
      const int endScansBefore = EndScans();
      Output(mode, format);
      ASSERT_TRUE(Scan());
      const orb::ScanResult r = control_->LastResult();
      EXPECT_EQ(r.end, ScanEnd::Complete);
      EXPECT_EQ(r.linesReceived, 600);
      EXPECT_EQ(host_.Codes().back(), "P9");
      EXPECT_EQ(EndScans(), endScansBefore + 1);
      EXPECT_EQ(control_->LastPlan().scan.widthPx, 520);
      EXPECT_EQ(orb::scantest::OutsideSize(out_, format, dir_), "520 600");

      Decoded d = Decode(out_);
      if (format == 0x40004 || format == 0x30004) {
        if (d.rc != IM_OK) continue;  // the library need not read PDF back: pdfimages did
      }
      ASSERT_EQ(d.rc, IM_OK) << out_;
      ASSERT_EQ(d.width, 520);
      ASSERT_EQ(d.height, 600);
      int wrongRows = 0;
      double worst = 0;
      for (int y = 0; y < 600; y += 7) {
        const std::vector<uint8_t> want = Expected(y);
        if (orb::scantest::LossyFormat(format))
          worst = std::max(worst, MeanDifference(d.rows[y], want));
        else if (d.rows[y] != want)
          ++wrongRows;
      }
      EXPECT_EQ(wrongRows, 0);
      EXPECT_LT(worst, 8.0);
      if (control_->LastPlan().scan.workingCopy) {
        ASSERT_FALSE(image_->rawPath.empty());
        Decoded raw = Decode(image_->rawPath);
        ASSERT_EQ(raw.rc, IM_OK);
        ASSERT_EQ(raw.height, 600);
        if (mode != 4 && mode != 6) {
          EXPECT_EQ(raw.rows[300], Expected(300));
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Transports, KelvaneScanEveryMode,
                         ::testing::Values(Transport::WiaGen1Bn53, Transport::StiGen2Ru,
                                           Transport::TcpGen2Ru, Transport::TcpGen2Pvk),
                         [](const auto& info) { return std::string(Name(info.param)); });

// ---- The plan's edge cases ------------------------------------------------------------

class KelvanePlanCases : public orb::test::ScanTestBase {
 protected:
  std::optional<kv::KelvanePlan> Plan(int32_t scannerCode) {
    const kv::KelvaneModel* m = kv::FindKelvaneModel(scannerCode);
    EXPECT_NE(m, nullptr);
    std::string tag;
    std::vector<std::string> list;
    kv::ApplyFamilyDefaults(ScanSettings);
    kv::ApplyModel(*m, ScanSettings, list, tag);
    orb::ScanPlanInput in{ScanSettings, orb::CurrentScanToolRecords(), WindowSizes, list,
                          std::nullopt, g_szDataFolder};
    orb::PlanError e;
    auto p = kv::MakeKelvaneScanPlan(in, &e);
    EXPECT_TRUE(p) << e.stringId << " " << e.text;
    return p;
  }
  void SetUp() override {
    ScanTestBase::SetUp();
    ScanSettingsRecord& s = ScanSettings;
    s.SizeMode = 2;
    s.ResolutionIndex = 0;
    orb::SetTextField(s.ResolutionText, "100 dpi");
    s.CustomWidth = 1001;
    s.CustomLength = 700;
    s.AreaLeft = s.AreaTop = 0;
    s.FormatIndexRgb = s.FormatIndexGrey = s.FormatIndexBilevel = s.FormatIndexPalette = 1;
    s.ColourMode = 3;
  }
};

TEST_F(KelvanePlanCases, WidthIsCutToAMultipleOfEightInEveryMode) {
  for (int mode : {0, 3, 6}) {
    ScanSettings.ColourMode = mode;
    auto p = Plan(20);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->scan.widthPx, 1000) << mode;  // the SCSI family would keep 996 in colour
    EXPECT_EQ(p->scan.lineBytes, mode == 0 ? 3000 : 1000);
  }
}

TEST_F(KelvanePlanCases, ModeCodeByModelLine) {
  struct Case { int32_t code; int mode; bool software; uint8_t rgb; int32_t modeCode; };
  const Case cases[] = {
      {7, 3, false, 0, 5},   // grey on a Pv-line scanner
      {21, 3, false, 0, 1},  // grey on a Ru-line scanner
      {4, 3, false, 0, 1},   // BN53: variant 1
      {24, 3, false, 0, 1},  // PVK: model code above 92
      {7, 5, false, 0, 1},   {21, 0, false, 1, 7},  {21, 1, false, 0, 0},
      {7, 4, true, 0, 5},    {21, 4, true, 0, 1},   {21, 4, false, 0, 2},
      {21, 6, false, 0, 2},  {21, 6, true, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.code) + " mode " + std::to_string(c.mode));
    ScanSettings.ColourMode = c.mode;
    ScanSettings.RgbControl = c.rgb;
    BWThresholdSettings.SoftwareThreshold = c.software ? 1 : 0;
    BWThresholdSettings.ThresholdingType = 0;
    orb::SetTextField(ScanSettings.Palette256File, "unused.apt");
    auto p = Plan(c.code);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->modeCode, c.modeCode);
    EXPECT_EQ(p->packedBits, c.modeCode == 2);
  }
}

TEST_F(KelvanePlanCases, SpeedPaperHandlingStartMomentAndBlock) {
  struct Speed { int32_t scanSpeed; uint8_t sent; };
  for (const Speed c : {Speed{3, 3}, Speed{0, 5}, Speed{9, 0}, Speed{8, 1}, Speed{1, 4}})
    EXPECT_EQ(kv::SpeedFor(c.scanSpeed), c.sent) << c.scanSpeed;
  // Paper handling: 0 for media byte 1; 2 for byte 0 from the BN53 models on; 1 otherwise.
  ScanSettings.MediaHandlingByte = 1;
  EXPECT_EQ(Plan(21)->paperHandling, 0);
  ScanSettings.MediaHandlingByte = 0;
  EXPECT_EQ(Plan(3)->paperHandling, 2);
  EXPECT_EQ(Plan(0)->paperHandling, 1);
  ScanSettings.MediaHandlingByte = 2;
  EXPECT_EQ(Plan(21)->paperHandling, 1);
  // The Ru and PVK lines start once everything is ready; the others before.
  EXPECT_TRUE(Plan(4)->startBeforeBuffers);
  EXPECT_TRUE(Plan(7)->startBeforeBuffers);
  EXPECT_FALSE(Plan(21)->startBeforeBuffers);
  EXPECT_FALSE(Plan(24)->startBeforeBuffers);
  EXPECT_FALSE(Plan(4)->sendLeftOffset);
  EXPECT_TRUE(Plan(7)->sendLeftOffset);
  // Blocks: a small custom image in one block of at most 98 lines, else whole lines in 1 MB.
  EXPECT_EQ(kv::BlockLinesFor(2, 50, 3000), 50);
  EXPECT_EQ(kv::BlockLinesFor(2, 600, 3000), 98);
  EXPECT_EQ(kv::BlockLinesFor(0, 50, 3000), 98);
  EXPECT_EQ(kv::BlockLinesFor(2, 5000, 70866), 14);
  EXPECT_EQ(kv::BlockLinesFor(2, 5000, 2000000), 1);
}

// ---- Scans with one simulated scanner ----------------------------------------------------

class KelvaneScan : public KelvaneScanBase {};

TEST_F(KelvaneScan, GenerationOneSendsSpeedFiveAsFour) {
  Attach(Transport::WiaGen1Bn53);
  Output(3, 1);
  ScanSettings.ScanSpeed = 0;
  ASSERT_TRUE(Scan());
  const auto log = sim_->Log();
  auto speed = std::find_if(log.begin(), log.end(), [](const auto& l) { return l.code == 103; });
  ASSERT_NE(speed, log.end());
  ASSERT_EQ(speed->in.size(), 1u);
  EXPECT_EQ(speed->in[0], 4);
}

TEST_F(KelvaneScan, CommandsInTheirOrder) {
  Attach(Transport::WiaGen1Pv);
  Output(4, 1);  // scanner thresholds: the threshold command goes out
  ASSERT_TRUE(Scan());
  std::vector<int32_t> codes;
  for (const auto& l : sim_->Log())
    if (l.code != kv::kEscReadData && l.code != kv::kEscStatusV1 && l.code >= 100) codes.push_back(l.code);
  // Info of the connection and of the identification, then left offset, window, gamma, paper handling, threshold,
  // speed, start; the reads; EndScan.
  const std::vector<int32_t> want = {kv::kEscInfoV1, kv::kEscInfoV1, kv::kEscLeftOffsetV1, kv::kEscSetWindow,
                                     kv::kEscGammaV1, kv::kEscPaperHandling, kv::kEscThreshold,
                                     kv::kEscSetSpeed, kv::kEscStartScan, kv::kEscEndScan};
  EXPECT_EQ(codes, want);
}

TEST_F(KelvaneScan, PureRedInA256ColourScanStoresLookupEntryF800) {
  Attach(Transport::StiGen2Ru, [](SimKelvaneConfig& c) {
    c.sheet = [](int64_t, int64_t i) { return static_cast<uint8_t>(i % 3 == 0 ? 255 : 0); };
  });
  auto pal = std::make_unique<PaletteFile>();
  pal->N = pal->M = 255;
  for (int i = 0; i < 256; ++i) pal->Map[i] = static_cast<uint8_t>(i);
  pal->Lookup[0xF800] = 77;  // every other cell stays at entry 0
  pal->Palette[3 * 77] = pal->OutputPalette[3 * 77] = 255;
  ASSERT_TRUE(SavePaletteFile(dir_ + "/red.apt", *pal));
  orb::SetTextField(ScanSettings.Palette256File, dir_ + "/red.apt");
  Output(1, 1);
  ASSERT_TRUE(Scan());
  Decoded d = Decode(out_);
  ASSERT_EQ(d.rc, IM_OK);
  ASSERT_EQ(d.height, 600);
  EXPECT_EQ(d.rows[0], std::vector<uint8_t>(520, 77));
  EXPECT_EQ(d.rows[599], std::vector<uint8_t>(520, 77));
  EXPECT_EQ(d.colours[77].rgbRed, 255);
}

// A wide colour scan's blocks (near 1 MB) are mirrored and inverted in parts on several
// threads: every line comes out as one thread would make it, worked out here by hand.
TEST_F(KelvaneScan, WideColourBlocksFilteredInPartsKeepEveryLine) {
  Attach(Transport::TcpGen2Pvk);
  ScanSettings.CustomWidth = 3000;  // 3000 pixels at 100 dpi: 98-line blocks of 882 KB
  MirrorSettings.enabled = 1;
  InvertSettings.enabled = 1;
  Output(0, 1);
  const bool scanned = Scan();
  MirrorSettings.enabled = 0;
  InvertSettings.enabled = 0;
  ASSERT_TRUE(scanned);
  EXPECT_EQ(control_->LastResult().end, ScanEnd::Complete);
  EXPECT_EQ(orb::scantest::OutsideSize(out_, 1, dir_), "3000 600");
  Decoded d = Decode(out_);
  ASSERT_EQ(d.rc, IM_OK);
  ASSERT_EQ(d.height, 600);
  int wrong = 0;
  for (int y = 0; y < 600; ++y) {
    const std::vector<uint8_t> in = Expected(y);
    std::vector<uint8_t> want(in.size());
    const size_t pixels = in.size() / 3;
    for (size_t x = 0; x < pixels; ++x)
      for (size_t c = 0; c < 3; ++c) want[3 * x + c] = static_cast<uint8_t>(~in[3 * (pixels - 1 - x) + c]);
    if (d.rows[static_cast<size_t>(y)] != want) ++wrong;
  }
  EXPECT_EQ(wrong, 0);
}

TEST_F(KelvaneScan, AStopSendsEndScanTwice) {
  kv::KelvaneScanControl* control = nullptr;
  int reads = 0;
  Attach(Transport::StiGen2Ru, [&](SimKelvaneConfig& c) {
    c.afterEscape = [&](int32_t code) {
      if (code == kv::kEscReadData && ++reads == 2 && control) control->StopScan();
    };
  });
  control = control_.get();
  Output(0, 3);  // PNG: a stopped scan is completed with white lines
  ScanSettings.CustomLength = 2000;  // longer than two blocks
  ASSERT_TRUE(Scan());
  const orb::ScanResult r = control_->LastResult();
  EXPECT_EQ(r.end, ScanEnd::Stopped);
  EXPECT_EQ(r.linesReceived, 2 * 98);
  EXPECT_EQ(EndScans(), 2);
  // Completed with white lines: the file has the window's height.
  EXPECT_TRUE(r.whiteFilled);
  EXPECT_EQ(orb::scantest::OutsideSize(out_, 3, dir_), "520 2000");
  Decoded d = Decode(out_);
  ASSERT_EQ(d.rc, IM_OK);
  EXPECT_EQ(d.rows[195], Expected(195));
  EXPECT_EQ(d.rows[1999], std::vector<uint8_t>(3 * 520, 255));
}

TEST_F(KelvaneScan, AutomaticSizeTiffAsksTheAreaWithFlagZeroAndScansToThePapersEnd) {
  Attach(Transport::WiaGen1Bn53, [](SimKelvaneConfig& c) {
    c.paperWidthPixels = 600 * 8;   // an 8 x 9 inch sheet
    c.paperLengthPixels = 600 * 9;
  });
  Output(3, 1);
  ScanSettings.SizeMode = 0;
  ASSERT_TRUE(Scan());
  const auto log = sim_->Log();
  auto area = std::find_if(log.begin(), log.end(), [](const auto& l) { return l.code == 137; });
  ASSERT_NE(area, log.end());
  ASSERT_GE(area->in.size(), 4u);
  EXPECT_EQ(area->in[0], 0);  // flag 0: the scan runs to the end of the paper
  EXPECT_EQ(ScanSettings.LeftOffsetMode, 1);
  const orb::ScanResult r = control_->LastResult();
  EXPECT_EQ(r.end, ScanEnd::EndOfMedium);
  EXPECT_EQ(r.linesReceived, 900);
  EXPECT_TRUE(r.cut);
  EXPECT_EQ(ScanSettings.CustomLength, 900);  // the measured length, in hundredths
  EXPECT_EQ(orb::scantest::OutsideSize(out_, 1, dir_), "800 900");
  Decoded d = Decode(out_);
  ASSERT_EQ(d.rc, IM_OK);
  EXPECT_EQ(d.rows[899], Expected(899));
}

TEST_F(KelvaneScan, AutomaticSizeOfAPaddedOutputAsksTheLength) {
  Attach(Transport::WiaGen1Bn53, [](SimKelvaneConfig& c) {
    c.paperWidthPixels = 600 * 8;
    c.paperLengthPixels = 600 * 7;
  });
  Output(3, 3);  // PNG
  ScanSettings.SizeMode = 0;
  ASSERT_TRUE(Scan());
  const auto log = sim_->Log();
  auto area = std::find_if(log.begin(), log.end(), [](const auto& l) { return l.code == 137; });
  ASSERT_NE(area, log.end());
  EXPECT_EQ(area->in[0], 1);
  EXPECT_EQ(control_->LastResult().end, ScanEnd::Complete);
  EXPECT_EQ(orb::scantest::OutsideSize(out_, 3, dir_), "800 700");
}

TEST_F(KelvaneScan, AFailedReadIsReportedAndTheImageCut) {
  SimKelvane* device = nullptr;
  std::atomic<int> reads{0};
  Attach(Transport::TcpGen2Ru, [&](SimKelvaneConfig& c) {
    c.afterEscape = [&](int32_t code) {
      // The third block's read fails.
      if (code == kv::kEscReadData && ++reads == 2 && device)
        device->InjectFault(kv::kEscReadData, KelvaneFault::Fail);
    };
  });
  device = sim_.get();
  Output(0, 3);  // PNG: a padded output would be completed with white, a failed one is cut
  ScanSettings.CustomLength = 1000;
  ASSERT_TRUE(Scan());
  const orb::ScanResult r = control_->LastResult();
  EXPECT_EQ(r.end, ScanEnd::ReadError);
  EXPECT_EQ(r.linesReceived, 2 * 98);
  EXPECT_TRUE(r.cut);
  EXPECT_FALSE(r.whiteFilled);
  EXPECT_NE(std::find(host_.messages.begin(), host_.messages.end(), orb::kStrReadError),
            host_.messages.end());
  EXPECT_EQ(orb::scantest::OutsideSize(out_, 3, dir_), "520 196");
  Decoded d = Decode(out_);
  ASSERT_EQ(d.rc, IM_OK);
  EXPECT_EQ(d.rows[195], Expected(195));
  EXPECT_EQ(EndScans(), 1);
  EXPECT_TRUE(scanner_->WatchRunning());
}

TEST_F(KelvaneScan, ButtonPollScanEndScanPollAgain) {
  PostCapture posts;
  Attach(Transport::TcpGen2Ru);
  ASSERT_TRUE(scanner_->WatchRunning());
  sim_->PressButton();
  ASSERT_TRUE(posts.WaitFor(1, std::chrono::seconds(20)));
  EXPECT_EQ(posts.Posts()[0].msg, kv::kWmCommand);
  EXPECT_EQ(posts.Posts()[0].wParam, static_cast<uintptr_t>(ID_SCANNER_BUTTON));
  // The frame's handler of the button starts a scan: the window command stops the poll.
  Output(0, 1);
  ASSERT_TRUE(control_->StartScan(image_));
  control_->WaitForScan();
  EXPECT_EQ(control_->LastResult().end, ScanEnd::Complete);
  EXPECT_EQ(EndScans(), 1);
  // EndScan started the poll again: the next press is heard.
  EXPECT_TRUE(scanner_->WatchRunning());
  sim_->PressButton();
  EXPECT_TRUE(posts.WaitFor(2, std::chrono::seconds(20)));
}

TEST_F(KelvaneScan, PalettePreScanWritesTheAutomaticPalette) {
  Attach(Transport::WiaGen1Bn53, [](SimKelvaneConfig& c) { c.sheet = SmoothSheet; });
  Output(1, 3);
  ScanSettings.AutoPalette256 = 1;
  ASSERT_TRUE(Scan());
  const std::string auto256 = g_szDataFolder + "/AutoPalette256.tmp";
  ASSERT_TRUE(std::filesystem::exists(auto256));
  EXPECT_EQ(image_->paletteFilePath, auto256);
  EXPECT_EQ(EndScans(), 2);  // the pre-scan's and the scan's
  // The scan maps its colours through the palette just made.
  auto pal = std::make_unique<PaletteFile>();
  ASSERT_TRUE(LoadPaletteFile(auto256, *pal));
  lookup_.assign(pal->Lookup, pal->Lookup + 65536);
  Decoded d = Decode(out_);
  ASSERT_EQ(d.rc, IM_OK);
  EXPECT_EQ(d.rows[10], Expected(10));
  EXPECT_EQ(orb::scantest::OutsideSize(out_, 3, dir_), "520 600");
}

TEST_F(KelvaneScan, EscInThePalettePreScanStartsNoScan) {
  Attach(Transport::StiGen2Ru);
  Output(2, 3);
  ScanSettings.AutoPalette16 = 1;
  host_.escAtPump = 1;
  EXPECT_FALSE(control_->StartScan(image_));
  EXPECT_FALSE(control_->Scanning());
  EXPECT_FALSE(std::filesystem::exists(g_szDataFolder + "/AutoPalette16.tmp"));
  EXPECT_FALSE(std::filesystem::exists(out_));
  EXPECT_GE(EndScans(), 1);
  EXPECT_EQ(sim_->EscapeCount(kv::kEscSetWindow), 1);  // only the pre-scan's window
}

TEST_F(KelvaneScan, APaletteScanOfANarrowAreaIsRefused) {
  Attach(Transport::WiaGen1Bn53);
  Output(1, 3);
  ScanSettings.AutoPalette256 = 1;
  ScanSettings.CustomWidth = 200;
  EXPECT_FALSE(control_->StartScan(image_));
  EXPECT_EQ(host_.messages, std::vector<int>{orb::kStrEmptyArea});
  EXPECT_EQ(sim_->EscapeCount(kv::kEscSetWindow), 0);
}

TEST_F(KelvaneScan, AStartThatFailsLeavesNothingAndTheButtonAlive) {
  PostCapture posts;
  Attach(Transport::TcpGen2Ru);
  ASSERT_TRUE(scanner_->WatchRunning());
  Output(0, 1);
  // The Ru line starts after its output exists: that output and its working copy go again.
  sim_->InjectFault(kv::kEscStartScan, KelvaneFault::Fail);
  EXPECT_FALSE(control_->StartScan(image_));
  EXPECT_FALSE(control_->Scanning());
  EXPECT_FALSE(std::filesystem::exists(out_));
  EXPECT_TRUE(std::filesystem::is_empty(dir_ + "/work"));
  EXPECT_TRUE(image_->rawPath.empty());
  EXPECT_TRUE(scanner_->WatchRunning());  // EndScan restarted the status poll
  EXPECT_EQ(EndScans(), 1);
  // A refused window: the fixed text, and the poll runs again.
  host_.texts.clear();
  sim_->InjectFault(kv::kEscSetWindow, KelvaneFault::Fail);
  EXPECT_FALSE(control_->StartScan(image_));
  ASSERT_EQ(host_.texts.size(), 1u);
  EXPECT_EQ(host_.texts[0], "Invailid scan parameters");
  EXPECT_TRUE(scanner_->WatchRunning());
  // Nothing was left behind beside the output either.
  for (const auto& e : std::filesystem::directory_iterator(dir_))
    EXPECT_EQ(e.path().string().find(".part"), std::string::npos) << e.path();
}

}  // namespace
}  // namespace orb
