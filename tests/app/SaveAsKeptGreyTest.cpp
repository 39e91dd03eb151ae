// Save As of a black-and-white scan that a geometry tool left as grey lines (kind 10): the
// dialog offers the black-and-white types, and each writes a bilevel file that tiffinfo,
// pdfimages and ImageMagick read back with the thresholded pixels.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/Document.h"
#include "engine/ImageState.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ToolSettings.h"
#include "tests/app/doc_test_util.h"
#include "tests/common/ProcessUtil.h"
#include "tests/common/TestUtil.h"
#include "tools/transform/Rotate90.h"

namespace {

namespace fs = std::filesystem;

using orbtest::Shell;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

constexpr int32_t kWidth = 40, kHeight = 24;

// The scan: dark on the left (columns below 16), light elsewhere; its grey values lie far
// from any threshold level.
uint8_t ScanGrey(int32_t x, int32_t) { return x < 16 ? 12 : 240; }

// The picture after a half turn, as one byte a pixel 0 or 255 (what ImageMagick gives for a
// bilevel file): the dark band moves to the right.
std::string TurnedBilevel() {
  std::string rows;
  for (int32_t y = 0; y < kHeight; ++y)
    for (int32_t x = 0; x < kWidth; ++x) rows.push_back(ScanGrey(kWidth - 1 - x, y) < 128 ? '\0' : '\xff');
  return rows;
}

class SaveAsKeptGrey : public ::testing::Test {
 protected:
  void SetUp() override {
    orb::SetTempFilesFolder(dir_.path().string());
    savedThreshold_ = BWThresholdSettings;
    BWThresholdSettings = orb::BWThresholdRecord();
    BWThresholdSettings.ThresholdingType = 0;  // fixed level
    BWThresholdSettings.SoftwareThreshold = 1;  // the program thresholds this scan itself
  }
  void TearDown() override {
    BWThresholdSettings = savedThreshold_;
    orb::SetTempFilesFolder("");
    CancelFlag.store(0);
  }
  std::string Path(const std::string& name) const { return (dir_.path() / name).string(); }

  // A black-and-white scan whose lines are still grey, turned by half a turn: the turn
  // leaves it as kind 10.
  void MakeTurnedScan(orb::ImageDocument& doc) {
    const std::string scan = Path("scan.tif");
    ASSERT_TRUE(doctest::WritePattern(scan, OF_TIFF, {kWidth, kHeight, 8, false, [](int32_t x, int32_t y, int) {
                                                        return ScanGrey(x, y);
                                                      }}));
    ASSERT_EQ(orb::OpenImageIntoDocument(doc.working(), scan, nullptr), orb::OpenResult::Opened);
    ImageState* f = doc.fileImage();
    f->state = VS_NORMAL;
    f->kind = IK_BW;
    f->linesOneBytePerPixel = 1;
    f->thresholdPending = 1;
    const orb::tools::ApplyOutcome turn = orb::tools::TurnImage(f, orb::tools::kTurnHalf);
    ASSERT_EQ(turn.result, orb::tools::ApplyResult::Applied);
    ImageState* turned = turn.working;
    ASSERT_NE(turned, f);
    doc.SetWorking(turned);
    ASSERT_EQ(turned->kind, IK_BW_SAVED_AS_4);
  }

  orbtest::TempDir dir_;
  orb::BWThresholdRecord savedThreshold_{};
};

TEST_F(SaveAsKeptGrey, TheDialogOffersTheBlackAndWhiteTypes) {
  // The black-and-white type list, written out as the save-as dialog shows it.
  const std::string bilevel =
      "PDF ccitt-g4 (*.pdf)|*.pdf|TIFF Uncompressed (*.tif, *.tiff)|*.tif;*.tiff|TIFF Group 3 (*.tif, "
      "*.tiff)|*.tif;*.tiff|TIFF Group 4 (*.tif, *.tiff)|*.tif;*.tiff|TIFF Packbits (*.tif, *.tiff)|*.tif;*.tiff||";
  EXPECT_EQ(orb::SaveAsFilter(IK_BW_SAVED_AS_4), bilevel);
  EXPECT_EQ(orb::SaveAsFilter(IK_BW), bilevel);
  const uint32_t formats[] = {OF_PDF_G4, OF_TIFF, OF_TIFF_G3, OF_TIFF_G4, OF_TIFF_PACKBITS};
  ASSERT_EQ(orb::SaveAsTypes(IK_BW_SAVED_AS_4).size(), std::size(formats));
  for (size_t i = 0; i < std::size(formats); ++i) {
    EXPECT_EQ(orb::SaveAsTypes(IK_BW_SAVED_AS_4)[i].format, formats[i]) << i;
    EXPECT_EQ(orb::SaveAsTypes(IK_BW_SAVED_AS_4)[i].qualityKind, 0) << i;
  }
  // A scan saved as TIFF before preselects the uncompressed TIFF type.
  EXPECT_EQ(orb::PreselectSaveAsType(bilevel, "tif"), 2);
  EXPECT_EQ(orb::PreselectSaveAsType(bilevel, "pdf"), 1);
}

TEST_F(SaveAsKeptGrey, EveryOfferedTypeWritesABilevelFile) {
  orb::ImageDocument doc;
  MakeTurnedScan(doc);
  if (HasFatalFailure()) return;
  struct Case {
    int filterIndex;         // as the dialog counts its types, from 0
    const char* chosen;      // the name typed into the dialog
    const char* written;     // the file the save writes
    const char* compression; // tiffinfo's name of the compression (empty: a PDF)
  } cases[] = {
      {0, "page", "page.pdf", ""},
      {1, "plain.tif", "plain.tif", "None"},
      {2, "g3.tiff", "g3.tiff", "CCITT Group 3"},
      {3, "g4.jpg", "g4.tif", "CCITT Group 4"},
      {4, "packed", "packed.tif", "PackBits"},
  };
  const std::string expected = TurnedBilevel();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.written);
    const std::optional<orb::SaveAsChoice> choice =
        orb::ResolveSaveAs(doc.working()->kind, Path(c.chosen), c.filterIndex, -1);
    ASSERT_TRUE(choice.has_value());
    EXPECT_EQ(choice->path, Path(c.written));
    EXPECT_EQ(choice->position, c.filterIndex + 1);
    EXPECT_EQ(choice->qualityKind, 0);
    ASSERT_EQ(doc.WriteCopy(choice->format, choice->path, nullptr), orb::SaveResult::Saved);
    ASSERT_TRUE(fs::exists(Path(c.written)));
    std::string pixels;
    if (*c.compression) {
      const std::string info = Shell("tiffinfo '" + Path(c.written) + "' 2>&1");
      EXPECT_TRUE(Has(info, "Image Width: 40 Image Length: 24")) << info;
      EXPECT_TRUE(Has(info, "Bits/Sample: 1")) << info;
      EXPECT_TRUE(Has(info, "Compression Scheme: " + std::string(c.compression))) << info;
      pixels = Shell("convert '" + Path(c.written) + "' -depth 8 gray:- 2>/dev/null");
    } else {
      const std::string list = Shell("pdfimages -list '" + Path(c.written) + "' 2>&1");
      EXPECT_TRUE(Has(list, "40    24  gray    1   1  ccitt")) << list;
      ASSERT_EQ(std::system(("pdfimages -png '" + Path(c.written) + "' '" + Path("pdfpage") + "'").c_str()), 0);
      pixels = Shell("convert '" + Path("pdfpage-000.png") + "' -depth 8 gray:- 2>/dev/null");
    }
    EXPECT_EQ(pixels, expected);
  }
  // The document keeps its version: a copy changes nothing of it.
  EXPECT_EQ(doc.working()->kind, IK_BW_SAVED_AS_4);
}

// A type position the dialog did not report takes the preselected type, else the first.
TEST_F(SaveAsKeptGrey, AnUnknownTypeFallsBackToThePreselectedOne) {
  const auto preselected = orb::ResolveSaveAs(IK_BW_SAVED_AS_4, Path("a"), 9, 4);
  ASSERT_TRUE(preselected.has_value());
  EXPECT_EQ(preselected->format, static_cast<uint32_t>(OF_TIFF_G4));
  EXPECT_EQ(preselected->path, Path("a.tif"));
  const auto first = orb::ResolveSaveAs(IK_BW_SAVED_AS_4, Path("a"), -1, -1);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->format, static_cast<uint32_t>(OF_PDF_G4));
  EXPECT_EQ(first->path, Path("a.pdf"));
  // A kind no type holds writes nothing.
  EXPECT_FALSE(orb::ResolveSaveAs(IK_BW_SEPARATES, Path("a"), 0, -1).has_value());
}

}  // namespace
