// The simulated scanner answered directly, without the scanner library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/sim/SimAttach.h"
#include "platform/sim/SimScanner.h"
#include "platform/sti/StillImage.h"
#include "scanner_library/TrennicDevices.h"

namespace orb::sim {
namespace {

namespace pt = orb::passthru;

SimScanner::Result Exec(SimScanner& s, std::vector<uint8_t> cdb, pt::Direction dir,
                       std::vector<uint8_t>& data) {
  return s.Execute(cdb.data(), static_cast<int>(cdb.size()), dir, data.data(),
                   static_cast<uint32_t>(data.size()));
}

std::vector<uint8_t> WindowBlock(int res, int ulx, int uly, int width, int length, int comp,
                                 int bpp, int stitch = 0) {
  std::vector<uint8_t> d(56, 0);
  d[7] = 0x30;
  auto be16 = [&](int at, int v) { d[at] = uint8_t(v >> 8); d[at + 1] = uint8_t(v); };
  auto be32 = [&](int at, int v) { for (int i = 0; i < 4; ++i) d[at + i] = uint8_t(v >> (24 - 8 * i)); };
  be16(10, res);
  be16(12, res);
  be32(14, ulx);
  be32(18, uly);
  be32(22, width);
  be32(26, length);
  d[31] = 128;
  d[33] = uint8_t(comp);
  d[34] = uint8_t(bpp);
  d[47] = uint8_t(stitch);
  return d;
}

TEST(SimScanner, InquiryCarriesTheConfiguredIdentification) {
  SimScannerConfig c;
  c.vendor = "TESSIVAN";
  c.product = "HALD24";
  c.revision = "2.07";
  c.byte36 = 3;
  c.byte37 = 9;
  SimScanner s(c);
  std::vector<uint8_t> d(52);
  auto r = Exec(s, {0x12, 0, 0, 0, 52, 0}, pt::Direction::In, d);
  EXPECT_EQ(r.status, pt::kStatusCompleted);
  EXPECT_EQ(r.transferred, 52u);
  EXPECT_EQ(d[0], 6);
  EXPECT_EQ(std::string(d.begin() + 8, d.begin() + 16), "TESSIVAN");
  EXPECT_EQ(std::string(d.begin() + 16, d.begin() + 32), "HALD24          ");
  EXPECT_EQ(std::string(d.begin() + 32, d.begin() + 36), "2.07");
  EXPECT_EQ(d[36], 3);
  EXPECT_EQ(d[37], 9);
  EXPECT_EQ(s.Log().size(), 1u);
}

TEST(SimScanner, UnknownCommandsAndBadLengthsAreRefusedWithSense) {
  SimScanner s;
  std::vector<uint8_t> none;
  auto r = Exec(s, {0x55, 0, 0, 0, 0, 0, 0, 0, 0, 0}, pt::Direction::None, none);
  EXPECT_EQ(r.status, pt::kStatusError);
  EXPECT_EQ(r.sense[2] & 0x0F, 5);
  EXPECT_EQ(r.sense[12], 0x20);
  // SEND(10) announcing more data than the host buffer holds.
  std::vector<uint8_t> small(2);
  r = Exec(s, {0x2A, 0, 1, 0, 0, 1, 0, 0, 5, 0}, pt::Direction::Out, small);
  EXPECT_EQ(r.status, pt::kStatusError);
  EXPECT_EQ(r.sense[12], 0x24);
}

TEST(SimScanner, SetWindowIsParsedAndKept) {
  SimScanner s;
  auto block = WindowBlock(300, 10, 20, 1200, 500, 5, 24);
  block[46] = 1;
  block[48] = 0x11;
  block[55] = 0x22;
  auto r = Exec(s, {0x24, 0, 0, 0, 0, 0, 0, 0, 56, 0}, pt::Direction::Out, block);
  ASSERT_EQ(r.status, pt::kStatusCompleted);
  SimWindow w = s.Window();
  EXPECT_TRUE(w.valid);
  EXPECT_EQ(w.xRes, 300);
  EXPECT_EQ(w.upperLeftX, 10);
  EXPECT_EQ(w.upperLeftY, 20);
  EXPECT_EQ(w.width, 1200);
  EXPECT_EQ(w.length, 500);
  EXPECT_EQ(w.composition, 5);
  EXPECT_EQ(w.bitsPerPixel, 24);
  EXPECT_EQ(w.cameraStitch, 1);
  EXPECT_EQ(w.vendor[0], 0x11);
  EXPECT_EQ(w.vendorLast, 0x22);
  EXPECT_EQ(w.raw, block);
}

TEST(SimScanner, InjectedFaultHitsTheNthMatchingCommand) {
  SimScanner s;
  s.FailCommand(2, {0x04, 0x44, 0x00}, 0x00);
  std::vector<uint8_t> none;
  std::vector<uint8_t> inq(36);
  EXPECT_EQ(Exec(s, {0, 0, 0, 0, 0, 0}, pt::Direction::None, none).status, pt::kStatusCompleted);
  EXPECT_EQ(Exec(s, {0x12, 0, 0, 0, 36, 0}, pt::Direction::In, inq).status, pt::kStatusCompleted);
  auto r = Exec(s, {0, 0, 0, 0, 0, 0}, pt::Direction::None, none);
  EXPECT_EQ(r.status, pt::kStatusError);
  EXPECT_EQ(r.sense[12], 0x44);
  EXPECT_EQ(Exec(s, {0, 0, 0, 0, 0, 0}, pt::Direction::None, none).status, pt::kStatusCompleted);
  auto log = s.Log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[2].sense.key, 4);
  EXPECT_EQ(log[2].sense.asc, 0x44);
}

TEST(SimScanner, ParametersAndTablesChangeItsState) {
  SimScanner s;
  std::vector<uint8_t> speed = {5};
  Exec(s, {0x2A, 0, 1, 0, 0, 1, 0, 0, 1, 0}, pt::Direction::Out, speed);
  EXPECT_EQ(s.FractionalSpeed(), 5);
  std::vector<uint8_t> staging = {0xFF, 0x9C};
  Exec(s, {0x2A, 0, 1, 0, 0, 22, 0, 0, 2, 0}, pt::Direction::Out, staging);
  EXPECT_EQ(s.StagingPosition(), -100);
  std::vector<uint8_t> trc(4097, 0);
  trc[0] = 3;
  trc[1] = 99;
  Exec(s, {0x2A, 0, 1, 0, 0, 39, 0, 0x10, 0x01, 0}, pt::Direction::Out, trc);
  EXPECT_EQ(s.ToneTable(2)[0], 99);
  EXPECT_EQ(s.ToneTable(0)[0], 0);
  EXPECT_EQ(s.Parameter(39)->size(), 4097u);
  std::vector<uint8_t> unknown = {1};
  auto r = Exec(s, {0x2A, 0, 1, 0, 0, 99, 0, 0, 1, 0}, pt::Direction::Out, unknown);
  EXPECT_EQ(r.status, pt::kStatusError);
}

TEST(SimScanner, DiagnosticJobFinishesAfterKPolls) {
  SimScanner s;
  s.SetDiagnosticOutcome(0x85, 2, false);
  std::vector<uint8_t> page = {0x85, 0, 0, 0};
  ASSERT_EQ(Exec(s, {0x1D, 0x10, 0, 0, 4, 0}, pt::Direction::Out, page).status, pt::kStatusCompleted);
  std::vector<uint8_t> res(128);
  std::vector<uint8_t> status;
  for (int i = 0; i < 3; ++i) {
    Exec(s, {0x1C, 0, 0, 0, 128, 0}, pt::Direction::In, res);
    status.push_back(res[4]);
  }
  EXPECT_EQ(status, (std::vector<uint8_t>{0x06, 0x06, 0x01}));
}

TEST(SimScanner, ObjectPositionPaperStateMachine) {
  SimScanner s;
  std::vector<uint8_t> none;
  EXPECT_EQ(Exec(s, {0x31, 1, 0, 0, 0, 0, 0, 0, 0, 0}, pt::Direction::None, none).status, pt::kStatusError);
  s.InsertPaper();
  EXPECT_EQ(s.Paper(), PaperState::AtEntry);
  EXPECT_EQ(Exec(s, {0x31, 5, 0, 0, 0, 0, 0, 0, 0, 0}, pt::Direction::None, none).status, pt::kStatusCompleted);
  EXPECT_EQ(s.Paper(), PaperState::Loaded);
  Exec(s, {0x31, 0, 0, 0, 0, 0, 0, 0, 0, 0}, pt::Direction::None, none);
  EXPECT_EQ(s.Paper(), PaperState::AtEntry);
  EXPECT_TRUE(s.PaperPresent());
  Exec(s, {0x31, 4, 0, 0, 0, 0, 0, 0, 0, 0}, pt::Direction::None, none);
  EXPECT_FALSE(s.PaperPresent());
}

TEST(SimScanner, SheetHasPaperEdgesBlocksAndTexture) {
  SheetPattern sheet;
  EXPECT_EQ(SheetColor(sheet, 0, 0), (Rgb{40, 40, 40}));
  EXPECT_EQ(SheetColor(sheet, sheet.paperLeft - 1, 2000), (Rgb{40, 40, 40}));
  // Block of the first cell: paper origin + [300, 900).
  EXPECT_EQ(SheetColor(sheet, sheet.paperLeft + 400, sheet.paperTop + 400), BlockColors()[0]);
  EXPECT_EQ(SheetColor(sheet, sheet.paperLeft + 1200 + 400, sheet.paperTop + 400), BlockColors()[1]);
  Rgb a = SheetColor(sheet, sheet.paperLeft + 10, sheet.paperTop + 10);
  Rgb b = SheetColor(sheet, sheet.paperLeft + 40, sheet.paperTop + 10);
  EXPECT_GT(a.r, 160);
  EXPECT_NE(a, b);  // texture
  EXPECT_EQ(SamplePixel(sheet, 100, 100, 20, 10), SheetColor(sheet, 246, 126));
}

TEST(SimScanner, StillImageDeviceCarriesCommandsThroughEscape) {
  ScopedStiScanner sti;
  std::unique_ptr<orb::sti::StillImage> si;
  ASSERT_EQ(orb::sti::StiCreateInstance(2, si), orb::sti::kOk);
  std::vector<orb::sti::DeviceInformation> list;
  ASSERT_EQ(si->GetDeviceList(0, 0, list), orb::sti::kOk);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_NE(list[0].vendorDescription.find("Varnholt"), std::string::npos);
  std::shared_ptr<orb::sti::Device> dev;
  ASSERT_EQ(si->CreateDevice(list[0].internalName, 3, dev), orb::sti::kOk);
  // The lock counts for one handle and keeps others out.
  std::shared_ptr<orb::sti::Device> other;
  ASSERT_EQ(si->CreateDevice(list[0].internalName, 3, other), orb::sti::kOk);
  EXPECT_EQ(dev->LockDevice(10), orb::sti::kOk);
  EXPECT_EQ(dev->LockDevice(10), orb::sti::kOk);
  EXPECT_EQ(other->LockDevice(0), orb::sti::kTimeout);
  EXPECT_EQ(dev->UnLockDevice(), orb::sti::kOk);
  EXPECT_EQ(dev->UnLockDevice(), orb::sti::kOk);
  EXPECT_EQ(other->LockDevice(0), orb::sti::kOk);
  other->UnLockDevice();
  EXPECT_EQ(dev->Escape(0x9999, nullptr, 0, nullptr, 0, nullptr), orb::sti::kInvalidArg);
}

TEST(SimScanner, EnvironmentVariableAttachesTheNamedScanners) {
  ::setenv("ORB_SIM_SCANNER", "scsi, hald24,kelvane-x", 1);
  ::setenv("ORB_SIM_SCAN_SPEED", " 25.5 ", 1);
  AttachEnvironmentScanners();
  AttachEnvironmentScanners();  // once per process
  ::unsetenv("ORB_SIM_SCANNER");
  ::unsetenv("ORB_SIM_SCAN_SPEED");
  auto list = EnvironmentScanners();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]->Config().product, "TR6729");
  EXPECT_EQ(list[1]->Config().product, "HALD24");
  EXPECT_EQ(list[1]->Config().opticalDpi, 600);
  EXPECT_TRUE(list[0]->PaperPresent());
  EXPECT_TRUE(list[0]->Config().feedsNextSheet) << "the program's scanner never runs out of paper";
  EXPECT_EQ(orb::trennic::StillImageDeviceCount(), 2u);
  for (const auto& scanner : list) EXPECT_DOUBLE_EQ(scanner->ReadPace(), 25.5);
}

}  // namespace
}  // namespace orb::sim

namespace orb::sim {
namespace {

// A scan of `lines` lines of 8-bit grey, 100 pixels wide, read `perRead` lines at a time
// until the window is used up; the scan is never stopped by the host.
struct ScanRun {
  SimScanner::Result setWindow, scan;
  std::vector<SimScanner::Result> reads;
  size_t bytes = 0;
};

ScanRun ScanWindow(SimScanner& s, int lines, int perRead) {
  ScanRun run;
  auto block = WindowBlock(100, 0, 0, 100, lines, 2, 8);
  run.setWindow = Exec(s, {0x24, 0, 0, 0, 0, 0, 0, 0, 56, 0}, pt::Direction::Out, block);
  std::vector<uint8_t> list(1, 0);
  run.scan = Exec(s, {0x1B, 0, 0, 0, 1, 0}, pt::Direction::Out, list);
  for (int done = 0; done < lines; done += perRead) {
    const int n = std::min(perRead, lines - done) * 100;
    std::vector<uint8_t> d(static_cast<size_t>(n));
    run.reads.push_back(Exec(s, {0x28, 0, 0, 0, 0, 0, uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n), 0},
                             pt::Direction::In, d));
    run.bytes += run.reads.back().transferred;
  }
  return run;
}

TEST(SimScanner, WindowReadToItsLastLineEndsTheScan) {
  SimScanner s;  // the sheet is far longer than the windows below
  // Two full-height scans in a row, without a stop between them; the last read of each
  // exactly takes the window's last line (60 = 7 x 8 + 4 and 64 = 8 x 8).
  for (int lines : {60, 64}) {
    ScanRun run = ScanWindow(s, lines, 8);
    ASSERT_EQ(run.setWindow.status, pt::kStatusCompleted) << lines;
    ASSERT_EQ(run.scan.status, pt::kStatusCompleted) << lines;
    for (const auto& r : run.reads) EXPECT_EQ(r.status, pt::kStatusCompleted) << lines;
    EXPECT_EQ(run.bytes, size_t(lines) * 100);
    EXPECT_FALSE(s.Scanning()) << lines;
  }
  // A READ after the window was used up finds the end of the medium with nothing in it.
  std::vector<uint8_t> d(100);
  auto r = Exec(s, {0x28, 0, 0, 0, 0, 0, 0, 0, 100, 0}, pt::Direction::In, d);
  EXPECT_EQ(r.status, pt::kStatusError);
  EXPECT_EQ(r.sense[12], 0x3B);
  EXPECT_EQ(r.sense[13], 0x09);
  EXPECT_EQ(r.transferred, 0u);
  // The window's end is not taken early: one line short of it the scan still runs.
  auto block = WindowBlock(100, 0, 0, 100, 20, 2, 8);
  std::vector<uint8_t> list(1, 0);
  ASSERT_EQ(Exec(s, {0x24, 0, 0, 0, 0, 0, 0, 0, 56, 0}, pt::Direction::Out, block).status,
            pt::kStatusCompleted);
  ASSERT_EQ(Exec(s, {0x1B, 0, 0, 0, 1, 0}, pt::Direction::Out, list).status, pt::kStatusCompleted);
  std::vector<uint8_t> most(1900);
  ASSERT_EQ(Exec(s, {0x28, 0, 0, 0, 0, 0, 0, 0x07, 0x6C, 0}, pt::Direction::In, most).status,
            pt::kStatusCompleted);
  EXPECT_TRUE(s.Scanning());
  EXPECT_EQ(Exec(s, {0x24, 0, 0, 0, 0, 0, 0, 0, 56, 0}, pt::Direction::Out, block).sense[12], 0x2C);
}

TEST(SimScanner, EndOfMediumCanComeWithTheLastData) {
  SimScannerConfig c;
  c.sheet.paperTop = 0;
  c.sheet.paperLength = 240;  // 20 lines at 100 dpi
  c.endOfMediumWithLastData = true;
  SimScanner s(c);
  auto block = WindowBlock(100, 0, 0, 100, 50, 2, 8);
  std::vector<uint8_t> list(1, 0), d(2000);
  ASSERT_EQ(Exec(s, {0x24, 0, 0, 0, 0, 0, 0, 0, 56, 0}, pt::Direction::Out, block).status,
            pt::kStatusCompleted);
  ASSERT_EQ(Exec(s, {0x1B, 0, 0, 0, 1, 0}, pt::Direction::Out, list).status, pt::kStatusCompleted);
  auto r = Exec(s, {0x28, 0, 0, 0, 0, 0, 0, 0x07, 0xD0, 0}, pt::Direction::In, d);
  EXPECT_EQ(r.status, pt::kStatusError);
  EXPECT_EQ(r.transferred, 2000u);
  EXPECT_EQ(r.sense[0] & 0x80, 0x80);  // the residue is valid, and 0
  EXPECT_EQ(r.sense[3] | r.sense[4] | r.sense[5] | r.sense[6], 0);
  EXPECT_EQ(r.sense[12], 0x3B);
  EXPECT_EQ(r.sense[13], 0x09);
  EXPECT_FALSE(s.Scanning());
}

TEST(SimScanner, ScannedSheetLeavesAndAFeederBringsTheNext) {
  for (bool feeder : {false, true}) {
    SimScannerConfig c;
    c.feedsNextSheet = feeder;
    SimScanner s(c);
    s.InsertPaper();
    ScanRun run = ScanWindow(s, 24, 8);
    ASSERT_EQ(run.bytes, 2400u) << feeder;
    EXPECT_EQ(s.Paper(), feeder ? PaperState::AtEntry : PaperState::Ejected) << feeder;
    EXPECT_EQ(s.PaperPresent(), feeder) << feeder;
  }
}

TEST(SimScanner, ScanStoppedEarlyAcceptsTheNextWindow) {
  SimScanner s;
  auto block = WindowBlock(100, 0, 0, 100, 200, 2, 8);
  std::vector<uint8_t> list(1, 0), d(800), stop(1, 0);
  ASSERT_EQ(Exec(s, {0x24, 0, 0, 0, 0, 0, 0, 0, 56, 0}, pt::Direction::Out, block).status,
            pt::kStatusCompleted);
  ASSERT_EQ(Exec(s, {0x1B, 0, 0, 0, 1, 0}, pt::Direction::Out, list).status, pt::kStatusCompleted);
  ASSERT_EQ(Exec(s, {0x28, 0, 0, 0, 0, 0, 0, 0x03, 0x20, 0}, pt::Direction::In, d).status,
            pt::kStatusCompleted);
  ASSERT_TRUE(s.Scanning());
  ASSERT_EQ(Exec(s, {0x2A, 0, 1, 0, 0, 0, 0, 0, 1, 0}, pt::Direction::Out, stop).status,
            pt::kStatusCompleted);
  EXPECT_FALSE(s.Scanning());
  // The next scan runs whole, from its first line.
  ScanRun run = ScanWindow(s, 24, 8);
  ASSERT_EQ(run.setWindow.status, pt::kStatusCompleted);
  ASSERT_EQ(run.scan.status, pt::kStatusCompleted);
  for (const auto& r : run.reads) EXPECT_EQ(r.status, pt::kStatusCompleted);
  EXPECT_EQ(run.bytes, 2400u);
  EXPECT_FALSE(s.Scanning());
}

}  // namespace
}  // namespace orb::sim

namespace orb::sim {
namespace {

TEST(SimScannerPace, ReadsTakeTheirLinesTimeAndDeliverTheSameImage) {
  // 100 lines read 8 at a time at 30 lines a second: 3.333 s in all, although no single
  // READ is a whole number of milliseconds long.
  orb::FakeClock clock;
  SimScanner paced, plain;
  EXPECT_DOUBLE_EQ(paced.ReadPace(), 0);
  paced.SetReadPace(30, &clock);
  ScanRun slow = ScanWindow(paced, 100, 8);
  ScanRun fast = ScanWindow(plain, 100, 8);
  EXPECT_EQ(clock.NowMs(), 3333);
  EXPECT_EQ(clock.SleepCount(), 13);  // one wait per READ
  ASSERT_EQ(slow.bytes, 10000u);
  ASSERT_EQ(slow.reads.size(), fast.reads.size());
  for (size_t i = 0; i < slow.reads.size(); ++i) {
    EXPECT_EQ(slow.reads[i].status, fast.reads[i].status) << i;
    EXPECT_EQ(slow.reads[i].transferred, fast.reads[i].transferred) << i;
  }
  for (int line : {0, 37, 99})
    EXPECT_EQ(paced.RenderDeliveredLine(line), plain.RenderDeliveredLine(line)) << line;
  // A READ past the end delivers nothing and takes no time.
  std::vector<uint8_t> d(100);
  auto r = Exec(paced, {0x28, 0, 0, 0, 0, 0, 0, 0, 100, 0}, pt::Direction::In, d);
  EXPECT_EQ(r.transferred, 0u);
  EXPECT_EQ(clock.NowMs(), 3333);
}

TEST(SimScannerPace, WithoutAClockTheProcessClockIsUsedAndZeroTurnsItOff) {
  orb::FakeClock clock;
  orb::SetDefaultClock(&clock);
  SimScanner s;
  s.SetReadPace(200);
  ScanRun run = ScanWindow(s, 50, 10);  // 50 lines at 200 lines a second
  EXPECT_EQ(run.bytes, 5000u);
  EXPECT_EQ(clock.NowMs(), 250);
  for (double off : {0.0, -5.0, std::nan("")}) {
    s.SetReadPace(off);
    EXPECT_DOUBLE_EQ(s.ReadPace(), 0) << off;
  }
  ScanWindow(s, 50, 10);
  EXPECT_EQ(clock.NowMs(), 250);
  orb::SetDefaultClock(nullptr);
}

TEST(SimScannerPace, StopComesThroughWhileAReadIsBeingPaced) {
  // A clock whose sleep sends the stop, as the scan thread's user would press Cancel while
  // the scanner is still moving: the stop must not wait for the READ's lock.
  struct StoppingClock final : orb::Clock {
    SimScanner* scanner = nullptr;
    bool stopped = false;
    int64_t NowMs() override { return 0; }
    std::time_t WallTime() override { return 0; }
    void Sleep(Ms) override {
      std::vector<uint8_t> stop(1, 0);
      stopped = Exec(*scanner, {0x2A, 0, 1, 0, 0, 0, 0, 0, 1, 0}, pt::Direction::Out, stop)
                    .status == pt::kStatusCompleted;
    }
  } clock;
  SimScanner s;
  clock.scanner = &s;
  s.SetReadPace(10, &clock);
  auto block = WindowBlock(100, 0, 0, 100, 200, 2, 8);
  std::vector<uint8_t> list(1, 0), d(800);
  ASSERT_EQ(Exec(s, {0x24, 0, 0, 0, 0, 0, 0, 0, 56, 0}, pt::Direction::Out, block).status,
            pt::kStatusCompleted);
  ASSERT_EQ(Exec(s, {0x1B, 0, 0, 0, 1, 0}, pt::Direction::Out, list).status, pt::kStatusCompleted);
  auto r = Exec(s, {0x28, 0, 0, 0, 0, 0, 0, 0x03, 0x20, 0}, pt::Direction::In, d);
  EXPECT_EQ(r.transferred, 800u);
  EXPECT_TRUE(clock.stopped);
  EXPECT_FALSE(s.Scanning());
}

TEST(SimScannerPace, SpeedTextIsParsedStrictly) {
  struct Case {
    const char* text;
    std::optional<double> want;
  };
  const Case cases[] = {
      {"120", 120.0},  {" 37.5\t", 37.5}, {"0", 0.0},           {"1000000", 1e6},
      {"", {}},        {"   ", {}},         {"fast", {}},         {"12lines", {}},
      {"-3", {}},      {"1e3", {}},         {"inf", {}},          {"nan", {}},
      {"2000000", {}}, {"1,5", {}},         {"5 5", {}},
  };
  for (const Case& c : cases) {
    std::string error;
    std::optional<double> got = ParseScanSpeed(c.text, error);
    EXPECT_EQ(got, c.want) << '"' << c.text << '"';
    EXPECT_EQ(error.empty(), got.has_value()) << '"' << c.text << '"';
  }
}

}  // namespace
}  // namespace orb::sim

namespace orb::sim {
namespace {

// Reads a whole window of `lines` lines of 8-bit grey, 100 pixels wide, at `top`, an inch
// in from the left: on the paper.
std::vector<uint8_t> ReadWholeWindow(SimScanner& s, int top, int lines) {
  auto block = WindowBlock(100, 100, top, 100, lines, 2, 8);
  std::vector<uint8_t> list(1, 0);
  Exec(s, {0x24, 0, 0, 0, 0, 0, 0, 0, 56, 0}, pt::Direction::Out, block);
  Exec(s, {0x1B, 0, 0, 0, 1, 0}, pt::Direction::Out, list);
  const int n = lines * 100;
  std::vector<uint8_t> d(static_cast<size_t>(n));
  const auto r = Exec(s, {0x28, 0, 0, 0, 0, 0, uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n), 0},
                      pt::Direction::In, d);
  d.resize(r.transferred);
  return d;
}

TEST(SimScannerRepeat, RepeatedLinesAreTheWindowsFirstLinesOverAndOver) {
  SimScannerConfig c;
  c.repeatLines = 7;
  SimScanner repeating(c), plain;
  // Two windows on the paper's texture; a new window renders its own lines.
  for (int top : {100, 330}) {
    const auto got = ReadWholeWindow(repeating, top, 30);
    ASSERT_EQ(got.size(), 3000u);
    ReadWholeWindow(plain, top, 30);
    bool differs = false;
    for (int line = 0; line < 30; ++line) {
      const std::vector<uint8_t> want = plain.RenderDeliveredLine(line % 7);
      EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin() + line * 100)) << top << " " << line;
      differs = differs || plain.RenderDeliveredLine(line) != want;
    }
    EXPECT_TRUE(differs);  // the sheet itself does not repeat every 7 lines
  }
}

}  // namespace
}  // namespace orb::sim
