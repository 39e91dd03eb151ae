// SET WINDOW: the read mode chosen and the exact window block sent.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/scanner_library/TrennicFixture.h"

namespace orb::test {
namespace {

WindowDescriptorType Window(int res, int bits, int ulx, int uly, int width, int length,
                            int flags = 131, int option = 0, int yres = 0) {
  WindowDescriptorType w{};
  w.XResolution = res;
  w.YResolution = yres ? yres : res;
  w.UpperLeftX = ulx;
  w.UpperLeftY = uly;
  w.Width = width;
  w.Length = length;
  w.Brightness = 5;
  w.Threshold = 128;
  w.ImageComposition = bits == 24 ? 5 : bits == 1 ? 0 : 2;
  w.BitsPerPixel = bits;
  w.Flags = flags;
  w.Option = option;
  w.Vendor[4] = 48;
  w.VendorLast = 2;
  return w;
}

std::vector<uint8_t> Block(const WindowDescriptorType& w, int xr, int yr, int ulx, int uly,
                           int width, int length) {
  std::vector<uint8_t> b(56, 0);
  auto be16 = [&](int at, int v) { b[at] = uint8_t(v >> 8); b[at + 1] = uint8_t(v); };
  auto be32 = [&](int at, int v) { for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(uint32_t(v) >> (24 - 8 * i)); };
  be16(6, 0x30);
  be16(10, xr);
  be16(12, yr);
  be32(14, ulx);
  be32(18, uly);
  be32(22, width);
  be32(26, length);
  b[30] = uint8_t(w.Brightness);
  b[31] = uint8_t(w.Threshold);
  b[33] = uint8_t(w.ImageComposition);
  b[34] = uint8_t(w.BitsPerPixel);
  b[37] = uint8_t(w.Flags);
  b[40] = uint8_t(w.Option);
  for (int i = 0; i < 6; ++i) b[48 + i] = uint8_t(w.Vendor[i]);
  b[55] = uint8_t(w.VendorLast);
  return b;
}

struct ModeCase {
  const char* name;
  WindowDescriptorType window;
  int mode;
  int xr, yr, ulx, uly, width, length;  // what the scanner is asked for
};

// Optical 400 dpi (TR6729).
std::vector<ModeCase> Cases() {
  std::vector<ModeCase> c;
  c.push_back({"24-bit 800: pixel doubling", Window(800, 24, 40, 100, 768, 400), 1, 400, 800, 20, 100, 384, 400});
  c.push_back({"24-bit 600: 3-for-2", Window(600, 24, 40, 100, 576, 300), 1, 400, 600, 26, 100, 384, 300});
  {
    // 500 dpi: down-scaled through 600. Y: trunc(trunc(100 / 5) x 600 / 100) = 120, the
    // length trunc(trunc(250 / 5) x 6) = 300; X at 400: trunc(trunc(40 / 5) x 4) = 32,
    // width trunc(480 x 400 / 500) = 384, a multiple of 12.
    c.push_back({"24-bit 500: down-scaled via 600", Window(500, 24, 40, 100, 480, 250), 2, 400, 600, 32, 120, 384, 300});
    // Non-colour at 500: X at 600 too, width rounded up to 16: trunc(trunc(490/5)*6) = 588 -> 592.
    c.push_back({"8-bit 500: down-scaled at 600", Window(500, 8, 40, 100, 490, 250), 2, 600, 600, 48, 120, 592, 300});
  }
  {
    // 1000 dpi: factors 960 / trunc(960 / 2.5) = 2.5 and 500 / trunc(500 / 2.5) = 2.5.
    c.push_back({"24-bit 1000: large scale", Window(1000, 24, 50, 100, 960, 500), 3, 400, 400, 20, 40, 384, 200});
    // Factors that are not exactly 2.5: 1001 / trunc(1001/2.5) = 1001/400.
    const double xf = 1001.0 / 400, yf = 333.0 / 133;
    c.push_back({"8-bit 1000 odd sizes", Window(1000, 8, 77, 91, 1001, 333), 3, 400, 400, int(77 / xf), int(91 / yf),
                 int((1001 + 0.005) / xf), int((333 + 0.005) / yf)});
  }
  c.push_back({"8-bit 800: the scanner does it", Window(800, 8, 40, 100, 768, 400), 0, 800, 800, 40, 100, 768, 400});
  c.push_back({"1-bit 800 option 0: the scanner does it", Window(800, 1, 40, 100, 768, 400), 0, 800, 800, 40, 100, 768, 400});
  c.push_back({"1-bit 800 flag 8: replicated", Window(800, 1, 41, 101, 769, 401, 139), 4, 400, 400, 21, 51, 385, 201});
  c.push_back({"8-bit 300 flag 8: half lines", Window(300, 8, 40, 90, 600, 401, 139), 3, 300, 300, 40, 90, 600, 201});
  c.push_back({"8-bit 300 plain: band-scaled top", Window(300, 8, 40, 90, 600, 400), 0, 300, 300, 40, 120, 600, 400});
  c.push_back({"8-bit 150 plain: quarter band", Window(150, 8, 40, 90, 600, 400), 0, 150, 150, 40, 120, 600, 400});
  c.push_back({"8-bit 100: on a band limit", Window(100, 8, 40, 90, 600, 400), 0, 100, 100, 40, 90, 600, 400});
  c.push_back({"X 800 Y 400: the scanner does it", Window(800, 8, 40, 100, 768, 400, 131, 0, 400), 0, 800, 400, 40, 100, 768, 400});
  return c;
}

class WindowTest : public TrennicFixture {};

TEST_F(WindowTest, ReadModeAndWindowBlockAtOptical400) {
  ASSERT_EQ(t().ScannerInfoOpticalResolution(), 400);
  for (const auto& c : Cases()) {
    sim().ClearLog();
    ASSERT_TRUE(t().SetWindow(c.window, 0, false)) << c.name;
    EXPECT_EQ(t().GetReadMode(), c.mode) << c.name;
    auto log = sim().LogOf(0x24);
    ASSERT_EQ(log.size(), 1u) << c.name;
    EXPECT_EQ(log[0].cdb, Bytes({0x24, 0, 0, 0, 0, 0, 0, 0, 56, 0})) << c.name;
    EXPECT_EQ(log[0].dataOut, Block(c.window, c.xr, c.yr, c.ulx, c.uly, c.width, c.length)) << c.name;
  }
}

TEST_F(WindowTest, UnsupportedWindowsAreRefused) {
  // 1 bit above the optical resolution with an option: refused, no error recorded.
  EXPECT_FALSE(t().SetWindow(Window(800, 1, 0, 0, 768, 400, 131, 1), 0, false));
  EXPECT_EQ(t().GetLastTrennicError(), TRENNIC_NO_ERROR);
  // X != Y past the optical resolution: no read mode for it, error type 5.
  for (int y : {600, 800, 1000}) {
    sim().ClearLog();
    EXPECT_FALSE(t().SetWindow(Window(300, 24, 0, 0, 768, 400, 131, 0, y), 0, false)) << y;
    EXPECT_EQ(t().GetLastTrennicError(), TRENNIC_WINDOW_XY_MISMATCH);
    EXPECT_EQ(sim().CommandCount(), 0u);
  }
  // Nonsense sizes never reach the scanner.
  EXPECT_FALSE(t().SetWindow(Window(0, 8, 0, 0, 768, 400), 0, false));
  EXPECT_FALSE(t().SetWindow(Window(300, 8, 0, 0, 0, 400), 0, false));
  EXPECT_EQ(sim().CommandCount(), 0u);
}

TEST_F(WindowTest, StitchAlignFlagAndCameraStitchByte) {
  auto w = Window(300, 8, 40, 0, 600, 400);
  ASSERT_TRUE(t().SetWindow(w, 0, true));
  auto b = sim().Window().raw;
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + 42, b.begin() + 46), Bytes({1, 1, 1, 1}));
  EXPECT_EQ(b[46], 0);
  EXPECT_EQ(b[47], 0);
}

TEST_F(WindowTest, SetWindowFailureCopiesTheErrorTriple) {
  sim().FailCommand(1, {0x05, 0x26, 0x00}, 0x24);
  EXPECT_FALSE(t().SetWindow(Window(300, 8, 40, 0, 600, 400), 0, false));
  EXPECT_EQ(t().GetLastTrennicError(), TRENNIC_SCSI_ERROR);
  EXPECT_EQ(t().GetLastTrennicScsiError(), 0x2600);
}

TEST_F(WindowTest, StartScanSendsScanWithOneWindow) {
  ASSERT_TRUE(t().SetWindow(Window(300, 8, 40, 0, 600, 400), 0, false));
  sim().ClearLog();
  ASSERT_TRUE(t().StartScan());
  auto log = sim().Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].cdb, Bytes({0x1B, 0, 0, 0, 1, 0}));
  EXPECT_EQ(log[0].dataOut, Bytes({0}));
  EXPECT_TRUE(sim().Scanning());
}

}  // namespace
}  // namespace orb::test
