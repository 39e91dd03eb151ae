// A sheet that ends inside a block of lines: every line the scanner sent before
// the end of the medium reaches the caller, in every read mode, however many
// lines a read asks for.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "tests/scanner_library/TrennicFixture.h"

namespace orb::test {
namespace {

struct EomCase {
  const char *name;
  int res, bits, ulx, uly, width, flags;
  int mode;          // the read mode the window must select
  int outLineBytes;  // one line as the caller gets it
};

// The default scanner has an optical resolution of 400 dpi. Every window is
// longer than the sheet, so each scan ends at the end of the medium.
const EomCase kCases[] = {
    {"plain 24 bit", 200, 24, 200, 150, 192, 131, 0, 3 * 192},
    {"plain 8 bit", 200, 8, 200, 150, 192, 131, 0, 192},
    {"plain 1 bit", 200, 1, 200, 150, 192, 131, 0, 24},
    {"doubled", 800, 24, 800, 800, 768, 131, 1, 3 * 768},
    {"three for two", 600, 24, 600, 600, 576, 131, 1, 3 * 576},
    {"down-scaled 24 bit", 500, 24, 500, 500, 480, 131, 2, 3 * 480},
    {"down-scaled 1 bit", 500, 1, 0, 500, 480, 131, 2, 60},
    {"large scale", 1000, 24, 1000, 1000, 960, 131, 3, 3 * 960},
    {"half lines", 300, 8, 0, 300, 600, 139, 3, 600},
    {"replicated", 800, 1, 800, 800, 640, 139, 4, 80},
};

class EndOfMediumRead : public TrennicFixture {
 protected:
  // `withLastData`: the scanner reports the end of the medium on the read that
  // brings the last line, instead of on the read after it.
  void AttachSheet(bool withLastData) {
    sim::SimScannerConfig cfg;
    cfg.sheet.paperTop = 600;
    cfg.sheet.paperLength = 3030;  // the medium ends 3630/1200 inch down, between lines
    cfg.endOfMediumWithLastData = withLastData;
    Attach(cfg);
  }
  // One scan of the window set, read `linesPerRead` output lines at a time to
  // the end of the medium; every read's result goes to `results`.
  std::vector<uint8_t> Scan(int lineBytes, int linesPerRead,
                            std::vector<ReadCompleteType> &results) {
    EXPECT_TRUE(t().StartScan());
    std::vector<uint8_t> all, block(static_cast<size_t>(lineBytes) * linesPerRead);
    for (int guard = 0; guard < 100000; ++guard) {
      DataTransferType rec{lineBytes * linesPerRead, block.data(), 0};
      const ReadCompleteType r = t().ReadData(&rec);
      results.push_back(r);
      EXPECT_GE(rec.ReturnedBytes, 0);
      EXPECT_LE(rec.ReturnedBytes, rec.RequestedBytes);
      EXPECT_EQ(rec.ReturnedBytes % lineBytes, 0);
      all.insert(all.end(), block.begin(), block.begin() + rec.ReturnedBytes);
      if (r != READ_COMPLETE) break;
    }
    return all;
  }
};

TEST_F(EndOfMediumRead, LinesArrivingWithTheEndOfTheMediumAreDelivered) {
  std::vector<std::vector<uint8_t>> firstRun(std::size(kCases));
  for (bool withLastData : {false, true}) {
    AttachSheet(withLastData);
    for (size_t k = 0; k < std::size(kCases); ++k) {
      const EomCase &c = kCases[k];
      SCOPED_TRACE(std::string(c.name) +
                   (withLastData ? ", end with the last data" : ", end after it"));
      WindowDescriptorType w{};
      w.XResolution = w.YResolution = c.res;
      w.UpperLeftX = c.ulx;
      w.UpperLeftY = c.uly;
      w.Width = c.width;
      w.Length = 4000;
      w.Threshold = 128;
      w.ImageComposition = c.bits == 24 ? 5 : c.bits == 1 ? 0 : 2;
      w.BitsPerPixel = c.bits;
      w.Flags = c.flags;
      ASSERT_TRUE(t().SetWindow(w, 0, false));
      ASSERT_EQ(t().GetReadMode(), c.mode);
      const int scannerLines = sim().DeliveredLineCount();
      ASSERT_LT(scannerLines,
                sim().Window().length);  // the paper ends before the window

      // Line by line, every line the scanner sends is asked for on its own.
      std::vector<ReadCompleteType> single, blocks;
      const auto reference = Scan(c.outLineBytes, 1, single);
      // Both ways of ending give the same picture.
      if (withLastData) {
        EXPECT_TRUE(reference == firstRun[k]);
      } else {
        firstRun[k] = reference;
      }
      ASSERT_EQ(single.back(), READ_END_OF_MEDIUM);
      const size_t lines = reference.size() / static_cast<size_t>(c.outLineBytes);
      ASSERT_NE(lines % 8, 0u) << lines;  // the end falls inside a block of 8
      if (c.mode <= 1) {
        EXPECT_EQ(lines, static_cast<size_t>(scannerLines));
      }
      if (c.mode == 0) {
        std::vector<uint8_t> want;
        for (int i = 0; i < scannerLines; ++i) {
          const auto l = sim().RenderDeliveredLine(i);
          want.insert(want.end(), l.begin(), l.end());
        }
        EXPECT_EQ(reference, want);
      }

      // Eight lines a read: the last read meets the end of the medium part way
      // through and still hands over what came before it.
      const auto got = Scan(c.outLineBytes, 8, blocks);
      EXPECT_EQ(blocks.back(), READ_END_OF_MEDIUM);
      EXPECT_EQ(got.size() / static_cast<size_t>(c.outLineBytes), lines);
      EXPECT_TRUE(got == reference);
    }
  }
}

}  // namespace
}  // namespace orb::test
