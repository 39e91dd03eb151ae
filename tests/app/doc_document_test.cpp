// The document without windows: save and close decisions, titles, the save itself (rename
// or re-encode through a temporary file), copies, cancelling and failures.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "app/Document.h"
#include "engine/EngineHost.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/TiffHeader.h"
#include "engine/ToolSettings.h"
#include "engine/filters/BWThreshold.h"
#include "tests/common/TestUtil.h"
#include "tests/app/doc_test_util.h"

namespace {

namespace fs = std::filesystem;

TEST(DocFormats, AllowedFormatsPerKind) {
  struct Case {
    int kind;
    uint32_t format;
    bool allowed;
  } cases[] = {
      {IK_RGB, OF_JPEG, true},          {IK_RGB, OF_BMP, true},         {IK_RGB, OF_TIFF_G4, false},
      {IK_PALETTE256, OF_JPEG, false},  {IK_PALETTE16, OF_PNG, true},   {IK_GREY, OF_PDF_JPEG, true},
      {IK_GREY, OF_JPEG2000, false},    {IK_BW, OF_TIFF_G4, true},      {IK_BW, OF_JPEG, false},
      {IK_BW_SAVED_AS_4, OF_PDF_G4, true}, {IK_BW_SEPARATES, OF_TIFF, false}, {IK_CMYK32, OF_TIFF, false},
      {11, OF_TIFF, false},
  };
  for (const auto& c : cases) EXPECT_EQ(orb::IsOutputFormatAllowed(c.kind, c.format), c.allowed) << c.kind << " " << c.format;
  EXPECT_EQ(orb::AllowedOutputFormats(IK_RGB).back(), static_cast<uint32_t>(OF_BMP));
}

TEST(DocFormats, SaveAsTypesFilterAndPreselection) {
  EXPECT_EQ(orb::SaveAsFilter(IK_PALETTE256),
            "PNG (*.png)|*.png|TIFF Uncompressed (*.tif, *.tiff)|*.tif;*.tiff|TIFF Packbits (*.tif, *.tiff)|*.tif;*.tiff||");
  EXPECT_EQ(orb::SaveAsFilter(IK_BW_SEPARATES), "");
  // BMP is accepted by a save but never offered.
  for (int kind : {0, 1, 3, 4}) {
    for (const auto& t : orb::SaveAsTypes(kind)) EXPECT_NE(t.format, static_cast<uint32_t>(OF_BMP));
  }
  EXPECT_EQ(orb::SaveAsTypes(IK_RGB)[0].qualityKind, 1);
  EXPECT_EQ(orb::SaveAsTypes(IK_RGB)[1].qualityKind, 6);
  EXPECT_EQ(orb::SaveAsTypes(IK_RGB)[2].qualityKind, 2);
  EXPECT_EQ(orb::SaveAsTypes(IK_GREY)[0].qualityKind, 5);
  EXPECT_EQ(orb::SaveAsTypes(IK_GREY)[1].qualityKind, 4);
  const std::string colour = orb::SaveAsFilter(IK_RGB);
  EXPECT_EQ(orb::PreselectSaveAsType(colour, "jpg"), 1);
  EXPECT_EQ(orb::PreselectSaveAsType(colour, "jp2"), 2);
  EXPECT_EQ(orb::PreselectSaveAsType(colour, "png"), 4);
  EXPECT_EQ(orb::PreselectSaveAsType(colour, "tif"), 5);
  EXPECT_EQ(orb::PreselectSaveAsType(colour, "bmp"), -1);
  EXPECT_EQ(orb::PreselectSaveAsType(colour, ""), -1);
  EXPECT_EQ(orb::FileNameForType("scan.tif", IK_RGB, 1), "scan.jpg");
  EXPECT_EQ(orb::FileNameForType("scan.tif", IK_RGB, 3), "scan.pdf");
  EXPECT_EQ(orb::FileNameForType("scan.tif", IK_RGB, 9), "scan.tif");
}

TEST(DocDecisions, SaveAsNameTakesTheChosenTypesExtension) {
  // Colour types: 1 JPEG, 2 JPEG 2000, 3 PDF, 4 PNG, 5 TIFF.
  const struct {
    const char* chosen;
    int position;
    const char* written;
  } cases[] = {
      {"/out/x.tif", 1, "/out/x.jpg"},        // the type changed, the name kept the old extension
      {"/out/x.TIF", 4, "/out/x.png"},
      {"/out/x.jpg", 5, "/out/x.tif"},
      {"/out/x.jpeg", 1, "/out/x.jpeg"},      // already fits the type
      {"/out/x.tiff", 5, "/out/x.tiff"},
      {"/out/x", 3, "/out/x.pdf"},            // no extension
      {"/out/plan.v2", 2, "/out/plan.v2.jp2"},  // not an image extension: part of the name
      {"/out/x.tif", 9, "/out/x.tif"},        // no such type: unchanged
  };
  for (const auto& c : cases) EXPECT_EQ(orb::SaveAsFileName(c.chosen, IK_RGB, c.position), c.written) << c.chosen;
}

TEST(DocDecisions, SaveAsStartsInTheLastFolderOrElseTheImagesOwn) {
  orbtest::TempDir dir;
  const std::string images = (dir.path() / "images").string(), copies = (dir.path() / "copies").string();
  std::filesystem::create_directories(images);
  std::filesystem::create_directories(copies);
  EXPECT_EQ(orb::SaveAsStartFolder("", images + "/scan.tif"), images);
  EXPECT_EQ(orb::SaveAsStartFolder(copies + "/old.jpg", images + "/scan.tif"), copies);
  EXPECT_EQ(orb::SaveAsStartFolder(dir.path().string() + "/gone/old.jpg", images + "/scan.tif"), images);
}

TEST(DocDecisions, SavePlanTable) {
  struct Case {
    uint16_t fileKind, workingKind;
    uint32_t fileFormat;
    bool distinct, edited, sameFs;
    orb::SaveRoute route;
    uint32_t format;
  } cases[] = {
      // Unedited tool version of an own-reader TIFF on the same file system: renamed.
      {IK_RGB, IK_RGB, OF_RAW_RGB_LE, true, false, true, orb::SaveRoute::Rename, OF_RAW_RGB_LE},
      // Another file system, or edited: re-encoded as uncompressed TIFF.
      {IK_RGB, IK_RGB, OF_RAW_RGB_LE, true, false, false, orb::SaveRoute::ReEncode, OF_TIFF},
      {IK_RGB, IK_RGB, OF_RAW_RGB_LE, true, true, true, orb::SaveRoute::ReEncode, OF_TIFF},
      // Black and white is always re-encoded.
      {IK_BW, IK_BW, OF_RAW_BW_LE, true, false, true, orb::SaveRoute::ReEncode, OF_TIFF},
      {IK_GREY, IK_BW_SAVED_AS_4, OF_RAW_GREY_LE, true, false, true, orb::SaveRoute::ReEncode, OF_TIFF},
      // A BMP colour image stays BMP; a format the kind does not allow asks for save-as.
      {IK_RGB, IK_RGB, OF_BMP, false, true, true, orb::SaveRoute::ReEncode, OF_BMP},
      {IK_RGB, IK_RGB, OF_PDF_G4, false, true, true, orb::SaveRoute::SaveAs, 0},
      // Kind 10 is checked as kind 4.
      {IK_BW, IK_BW_SAVED_AS_4, OF_TIFF_G4, true, true, true, orb::SaveRoute::ReEncode, OF_TIFF_G4},
      {IK_BW_SEPARATES, IK_BW_SEPARATES, OF_TIFF, false, true, true, orb::SaveRoute::SaveAs, 0},
  };
  for (const auto& c : cases) {
    ImageState f, w;
    f.kind = static_cast<ImageKind>(c.fileKind);
    f.outputFormat = c.fileFormat;
    w.kind = static_cast<ImageKind>(c.workingKind);
    w.edited = c.edited;
    const ImageState& working = c.distinct ? w : f;
    if (!c.distinct) f.edited = c.edited;
    orb::SavePlan p = orb::PlanSave(f, working, c.sameFs);
    EXPECT_EQ(p.route, c.route) << c.fileKind << " " << c.fileFormat;
    if (p.route != orb::SaveRoute::SaveAs) {
      EXPECT_EQ(p.format, c.format) << c.fileKind << " " << c.fileFormat;
    }
  }
}

TEST(DocDecisions, CloseAsksOnlyForEditedOpenedImages) {
  ImageState f, w;
  f.state = w.state = VS_OPENED;
  EXPECT_FALSE(orb::CloseAsks(f, f, false));  // unchanged file
  f.edited = 1;
  EXPECT_TRUE(orb::CloseAsks(f, f, false));
  EXPECT_FALSE(orb::CloseAsks(f, f, true));   // after the discard button
  EXPECT_TRUE(orb::CloseAsks(f, w, false));   // a newer version
  w.state = VS_NORMAL;
  EXPECT_FALSE(orb::CloseAsks(f, w, false));  // a scan never asks
}

TEST(DocTitle, TitleTextAndKindNames) {
  const std::string kinds = "RGB Color (24 bit)|256 Colors|16 Colors|Grayscale|Black/White (1 bit)|Gray from green";
  EXPECT_EQ(orb::KindName(kinds, 0), "RGB Color ");
  EXPECT_EQ(orb::KindName(kinds, IK_BW_SAVED_AS_4), "Black/White ");
  EXPECT_EQ(orb::KindName(kinds, 9), "");   // beyond the list
  EXPECT_EQ(orb::KindName(kinds, -3), "");
  EXPECT_EQ(orb::KindName("", 2), "");
  ImageState f;
  f.sourcePath = "/data/scans/plan.tif";
  f.width = 600;
  f.height = 300;
  f.xDpi = f.yDpi = 300;
  EXPECT_EQ(orb::DocumentTitleText(f, f, kinds, 2), "  plan.tif:   600px x 300px   RGB Color    300 dpi");
  EXPECT_EQ(orb::DocumentTitleText(f, f, kinds, 0), "  plan.tif:    2.00\" x  1.00\"   RGB Color    300 dpi");
  // A resolution of 0 (common in PNG and JPEG) shows pixels, never divides by it.
  f.xDpi = f.yDpi = 0;
  EXPECT_EQ(orb::DocumentTitleText(f, f, kinds, 1), "  plan.tif:   600px x 300px   RGB Color    0 dpi");
  EXPECT_EQ(orb::MainWindowTitle("Orbalon", "  a.tif"), "Orbalon  -   a.tif");
}

// ----- saving over real files ------------------------------------------------------------

class DocSave : public ::testing::Test {
 protected:
  void SetUp() override { orb::SetTempFilesFolder(dir.path().string()); }
  void TearDown() override {
    orb::SetTempFilesFolder("");
    CancelFlag.store(0);
  }
  std::string Path(const char* name) { return (dir.path() / name).string(); }
  // Rows of the document's working image, read through its stream.
  std::vector<std::vector<uint8_t>> ReadBack(ImageState* s) {
    std::vector<std::vector<uint8_t>> rows;
    const PixelRect saved = s->region;
    s->region = PixelRect{0, 0, s->width, s->height};
    LineReader r(s);
    if (OpenReadStream(&r, kReadSequential) == kReadOpenOk) {
      std::vector<uint8_t> line(static_cast<size_t>(s->storedLineWidth));
      for (int32_t y = 0; y < s->height && ReadLines(&r, line.data(), kReadSequential, 0) == 1; ++y) rows.push_back(line);
    }
    CloseReadStream(&r);
    s->region = saved;
    return rows;
  }
  size_t FilesInFolder() {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir.path())) n += e.is_regular_file();
    return n;
  }
  orbtest::TempDir dir;
};

doctest::Pattern Flat(int32_t w, int32_t h, uint8_t v, int bits = 24) {
  return {w, h, bits, false, [v](int32_t, int32_t, int) { return v; }};
}

// The record of a file as the program's own reader describes it (no display needed).
void Describe(ImageState* w, const std::string& path) {
  w->sourcePath = path;
  w->state = VS_OPENED;
  LineReader probe(w);
  ASSERT_EQ(ProbeImageFile(&probe, false), 0);
  w->region = PixelRect{0, 0, w->width, w->height};
}

TEST_F(DocSave, AJpegWiderThanTheFormatAllowsIsRefusedWithTheReason) {
  const std::string user = Path("wide.tif"), target = Path("wide.jpg");
  ASSERT_TRUE(doctest::WritePattern(user, OF_TIFF, Flat(32768, 2, 90, 8)));
  orb::ImageDocument doc;
  Describe(doc.working(), user);
  const size_t before = FilesInFolder();
  doctest::KeptMessages kept;
  {
    doctest::KeepMessages here(&kept);
    EXPECT_EQ(doc.WriteCopy(OF_JPEG, target, nullptr), orb::SaveResult::Failed);
  }
  // Only the reason: the format's limit, not the bare "could not be written".
  EXPECT_EQ(kept.ids, std::vector<int>{34009});
  EXPECT_EQ(kept.texts, std::vector<std::string>{"JPEG"});
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(FilesInFolder(), before);
  // The limit is 32767 pixels a side: a width of 32767 is written.
  const std::string edge = Path("edge.tif");
  ASSERT_TRUE(doctest::WritePattern(edge, OF_TIFF, Flat(32767, 2, 90, 8)));
  orb::ImageDocument atLimit;
  Describe(atLimit.working(), edge);
  doctest::KeptMessages none;
  doctest::KeepMessages here(&none);
  EXPECT_EQ(atLimit.WriteCopy(OF_JPEG, Path("edge.jpg"), nullptr), orb::SaveResult::Saved);
  EXPECT_EQ(none.ids, std::vector<int>{});
}

TEST_F(DocSave, UneditedToolVersionIsRenamedOverTheFile) {
  const std::string user = Path("user.tif"), tool = Path("Qeltool.tif");
  ASSERT_TRUE(doctest::WritePattern(user, OF_TIFF, Flat(8, 4, 10)));
  ASSERT_TRUE(doctest::WritePattern(tool, OF_TIFF, Flat(8, 4, 200)));
  orb::ImageDocument doc;
  ASSERT_EQ(orb::OpenImageIntoDocument(doc.working(), user, nullptr), orb::OpenResult::Opened);
  ASSERT_GE(doc.fileImage()->outputFormat, static_cast<uint32_t>(OF_RAW_RGB_LE));
  ImageState* w = PushImageState(doc.working());
  w->sourcePath = tool;
  LineReader probe(w);
  ASSERT_EQ(ProbeImageFile(&probe, false), 0);
  w->edited = 0;
  doc.SetWorking(w);
  ASSERT_EQ(doc.Save(nullptr), orb::SaveResult::Saved);
  EXPECT_FALSE(fs::exists(tool));
  EXPECT_EQ(doc.working(), doc.fileImage());
  EXPECT_EQ(doc.working()->next, nullptr);
  EXPECT_EQ(doc.working()->sourcePath, user);
  auto rows = ReadBack(doc.working());
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[2][5], 200);
}

TEST_F(DocSave, PendingFiltersAreSavedAndTheSavedPixelsShown) {
  const std::string user = Path("photo.jpg");
  ASSERT_TRUE(doctest::WritePattern(user, OF_JPEG, Flat(32, 16, 100)));
  orb::ImageDocument doc;
  ASSERT_EQ(orb::OpenImageIntoDocument(doc.working(), user, nullptr), orb::OpenResult::Opened);
  ASSERT_EQ(doc.fileImage()->outputFormat, 0u);  // a decoded file names no format yet
  doc.fileImage()->outputFormat = OF_JPEG;
  const auto savedBc = BrightContSettings;
  BrightContSettings.Brightness = 60;
  doc.working()->brightnessPending = 1;
  doc.working()->edited = 1;
  int steps = 0;
  struct Counter : orb::ProgressReporter {
    int* n;
    explicit Counter(int* c) : n(c) {}
    void Step() override { ++*n; }
  };
  orb::ProgressFactory progress = [&](int, int) { return std::make_unique<Counter>(&steps); };
  ASSERT_EQ(doc.Save(progress), orb::SaveResult::Saved);
  BrightContSettings = savedBc;
  EXPECT_EQ(steps, 16);
  EXPECT_EQ(doc.working()->brightnessPending, 0);
  EXPECT_EQ(doc.working()->edited, 0);
  // The document now reads what was written, not the pixels from before the filter.
  auto rows = ReadBack(doc.working());
  ASSERT_EQ(rows.size(), 16u);
  const int shown = rows[8][9];
  doctest::Decoded onDisk = doctest::DecodeFile(user);
  ASSERT_EQ(onDisk.height, 16);
  EXPECT_GT(onDisk.rows[8][9], 130);
  EXPECT_NEAR(shown, onDisk.rows[8][9], 2);
  // Saving again keeps those pixels (no filter is applied twice).
  doc.working()->edited = 1;
  ASSERT_EQ(doc.Save(nullptr), orb::SaveResult::Saved);
  EXPECT_NEAR(doctest::DecodeFile(user).rows[8][9], onDisk.rows[8][9], 3);
  // No temporary file left behind: only the user's file and the document's own raw file.
  for (const auto& e : fs::directory_iterator(dir.path())) {
    EXPECT_TRUE(e.path().string() == user || e.path().string() == doc.working()->rawPath) << e.path();
  }
}

TEST_F(DocSave, CancelledSaveLeavesFileAndDocumentAsTheyWere) {
  const std::string user = Path("keep.png");
  ASSERT_TRUE(doctest::WritePattern(user, OF_PNG, Flat(16, 40, 77)));
  const std::string before = orbtest::ReadFile(user);
  orb::ImageDocument doc;
  ASSERT_EQ(orb::OpenImageIntoDocument(doc.working(), user, nullptr), orb::OpenResult::Opened);
  doc.fileImage()->outputFormat = OF_PNG;
  doc.working()->edited = 1;
  ImageState* w = doc.working();
  struct Canceller : orb::ProgressReporter {
    void Step() override { CancelFlag.store(1); }
  };
  orb::ProgressFactory progress = [](int, int) { return std::make_unique<Canceller>(); };
  EXPECT_EQ(doc.Save(progress), orb::SaveResult::Cancelled);
  EXPECT_EQ(orbtest::ReadFile(user), before);
  EXPECT_EQ(doc.working(), w);
  EXPECT_EQ(doc.working()->edited, 1);
  // Only the user's file and the document's raw image file remain.
  EXPECT_EQ(FilesInFolder(), 2u);
}

TEST_F(DocSave, FailedWriteKeepsTheOriginal) {
  const std::string user = Path("orig.png");
  ASSERT_TRUE(doctest::WritePattern(user, OF_PNG, Flat(16, 8, 5)));
  const std::string before = orbtest::ReadFile(user);
  orb::ImageDocument doc;
  ASSERT_EQ(orb::OpenImageIntoDocument(doc.working(), user, nullptr), orb::OpenResult::Opened);
  // A copy into a folder that does not exist fails without touching anything.
  EXPECT_EQ(doc.WriteCopy(OF_PNG, Path("no/such/folder/x.png"), nullptr), orb::SaveResult::Failed);
  // A format the writer refuses fails the same way.
  EXPECT_EQ(doc.WriteCopy(0x77, Path("x.png"), nullptr), orb::SaveResult::Failed);
  EXPECT_FALSE(fs::exists(Path("x.png")));
  EXPECT_EQ(orbtest::ReadFile(user), before);
}

TEST_F(DocSave, DisallowedFormatAsksForSaveAs) {
  const std::string user = Path("odd.png");
  ASSERT_TRUE(doctest::WritePattern(user, OF_PNG, Flat(4, 4, 5)));
  orb::ImageDocument doc;
  ASSERT_EQ(orb::OpenImageIntoDocument(doc.working(), user, nullptr), orb::OpenResult::Opened);
  doc.fileImage()->outputFormat = OF_PDF_G4;
  EXPECT_EQ(doc.Save(nullptr), orb::SaveResult::NeedsSaveAs);
  EXPECT_TRUE(fs::exists(user));
}

TEST_F(DocSave, JpegCopyOfATallImageIsCut) {
  const std::string user = Path("tall.tif");
  ASSERT_TRUE(doctest::WritePattern(user, OF_TIFF, Flat(8, 33000, 128, 8)));
  orb::ImageDocument doc;
  ASSERT_EQ(orb::OpenImageIntoDocument(doc.working(), user, nullptr), orb::OpenResult::Opened);
  ASSERT_EQ(doc.working()->height, 33000);
  ASSERT_EQ(doc.WriteCopy(OF_JPEG, Path("tall.jpg"), nullptr), orb::SaveResult::Saved);
  doctest::Decoded d = doctest::DecodeFile(Path("tall.jpg"));
  EXPECT_EQ(d.height, 32760);
  EXPECT_EQ(doc.working()->height, 33000);  // the document is unchanged
}

TEST_F(DocSave, ThresholdOnAScanReadsAheadAndWritesEveryLine) {
  const std::string user = Path("scan.tif");
  ASSERT_TRUE(doctest::WritePattern(user, OF_TIFF, {40, 60, 8, false, [](int32_t x, int32_t, int) {
                                      return static_cast<uint8_t>(x < 20 ? 30 : 230);
                                    }}));
  orb::ImageDocument doc;
  ASSERT_EQ(orb::OpenImageIntoDocument(doc.working(), user, nullptr), orb::OpenResult::Opened);
  const auto saved = BWThresholdSettings;
  BWThresholdSettings.ThresholdingType = 1;
  BWThresholdSettings.AdaptiveWindowSize = 25;
  EXPECT_EQ(orb::ThresholdPrimingLines(BWThresholdSettings), 12);
  doc.fileImage()->state = VS_NORMAL;
  doc.working()->kind = IK_BW_SAVED_AS_4;
  ASSERT_EQ(doc.WriteCopy(OF_TIFF, Path("bw.tif"), nullptr), orb::SaveResult::Saved);
  BWThresholdSettings = saved;
  doctest::Decoded d = doctest::DecodeFile(Path("bw.tif"));
  EXPECT_EQ(d.height, 60);
  EXPECT_EQ(d.bits, 1);  // kind 10 is written as black and white
}

TEST_F(DocSave, FreeingTheChainNeverRemovesTheUsersFile) {
  const std::string user = Path("mine.tif");
  ASSERT_TRUE(doctest::WritePattern(user, OF_TIFF, Flat(4, 4, 9)));
  {
    orb::ImageDocument doc;
    ASSERT_EQ(orb::OpenImageIntoDocument(doc.working(), user, nullptr), orb::OpenResult::Opened);
    // A version that only marks a pending tool still names the user's file.
    ImageState* w = PushImageState(doc.working());
    w->toneCurvePending = 1;
    doc.SetWorking(w);
  }
  EXPECT_TRUE(fs::exists(user));
}

TEST_F(DocSave, SameFileByIdentity) {
  const std::string a = Path("a.tif");
  orbtest::WriteFile(a, "x");
  fs::create_symlink(a, Path("link.tif"));
  EXPECT_TRUE(orb::IsSameFile(a, Path("link.tif")));
  EXPECT_TRUE(orb::IsSameFile(a, (dir.path() / "." / "a.tif").string()));
  // Names differing only in case are different files here.
  orbtest::WriteFile(Path("A.tif"), "y");
  EXPECT_FALSE(orb::IsSameFile(a, Path("A.tif")));
  EXPECT_FALSE(orb::IsSameFile(a, Path("missing.tif")));
  EXPECT_TRUE(orb::OnSameFileSystem(a, Path("new.tif")));
}

}  // namespace
