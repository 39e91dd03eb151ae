// The transforms a scan goes through between its end and its acceptance, without a display:
// the scan workflow over a document of one finished scan, with the palette conversion and
// the rotation switched on for scans running when the scan completes and the two-page
// split running on Accept, each through the tools' own code. Every file that Accept leaves
// is read back by ImageMagick (and tiffinfo), and compared with ImageMagick's own rotation
// and crops of the scan. Failures of the split keep the scan, under its own name, waiting
// for the decision.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <map>
#include <string>
#include <vector>

#include "app/Document.h"
#include "app/ScanDecision.h"
#include "engine/AppStatus.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "tests/common/ProcessUtil.h"
#include "tests/tools/transform/TransformFixture.h"
#include "tools/FileNaming.h"
#include "tools/ToolDocumentHost.h"
#include "tools/transform/PaletteConvert.h"
#include "tools/transform/Rotate90.h"
#include "tools/transform/ScanTools.h"
#include "tools/transform/Split.h"

namespace {

using namespace transform_test;
using orb::tools::SplitResult;
using orb::DocHandle;

using orbtest::FileSizeLimit;

// One document holding the finished scan; the workflow's host and the tools' host at once.
class ScanDocHost final : public orb::ScanWorkflowHost, public orb::tools::ToolDocumentHost {
 public:
  ImageState* file = nullptr;
  ImageState* work = nullptr;
  bool open = true;
  std::vector<std::string> absent, log;
  std::vector<int> messages;

  DocHandle Doc() { return open ? static_cast<DocHandle>(this) : nullptr; }
  // ScanWorkflowHost
  orb::ScannerFamilyOps* ScsiFamily() override { return nullptr; }
  orb::ScannerFamilyOps* KelvaneFamily() override { return nullptr; }
  void ReportAbsent(const std::string& what) override { absent.push_back(what); }
  std::vector<DocHandle> Documents() override {
    if (!open) return {};
    return {Doc()};
  }
  DocHandle ActiveDocument() override { return Doc(); }
  void ActivateDocument(DocHandle) override {}
  ImageState* WorkingRecord(DocHandle) override { return work; }
  ImageState* FileRecord(DocHandle) override { return file; }
  void SetWorkingRecord(DocHandle, ImageState* r) override { work = r; }
  DocHandle OpenNewDocument() override { return nullptr; }
  void CloseDocument(DocHandle) override { open = false; }
  bool SaveDocument(DocHandle, const std::string& path) override {
    return orb::WriteImageLines(file, work, orb::AcceptedFileFormat(*work), path, false, {}, nullptr,
                                nullptr) == orb::SaveResult::Saved;
  }
  void UpdateTitle(DocHandle) override {}
  void ShowMessage(int id) override { messages.push_back(id); }
  bool AskYesNo(int) override { return true; }
  void PostToFrame(uint32_t, uintptr_t) override {}
  void RefreshScanPage() override {}
  void ToggleBatchScan() override {}
  orb::BatchWaitResult RunBatchWaitDialog() override { return orb::BatchWaitResult::Cancelled; }
  bool ConvertToPalette() override {
    orb::tools::ConvertScan();
    return true;
  }
  bool PaletteOptionChecked() override { return !orb::tools::PaletteConvertsScans(); }
  bool RotateImageFile() override {
    orb::tools::TurnScan();
    return true;
  }
  SplitOutcome SplitIntoTwoPages(const std::string& scanPath) override { return orb::SplitScanForAccept(scanPath); }
  void AppendScanLog(const std::string& path, int32_t, int32_t, int32_t, uint8_t rejected, uint32_t, uint8_t,
                     int64_t) override {
    log.push_back(path + (rejected ? " rejected" : " accepted"));
  }
  std::string NextFileName(const std::string& name) override {
    CSetupFilenameDlg naming(name);
    naming.MakeNextFileName();
    return naming.GetFileName();
  }
  int64_t NowSeconds() override { return 1000; }
  // ToolDocumentHost
  ImageState* ActiveImage() override { return open ? work : nullptr; }
  void SetWorkingImage(ImageState* image) override { work = image; }
  void UpdateView(int) override {}
  void ImageChanged() override {}
  std::unique_ptr<orb::tools::IApplyProgress> MakeProgress(int, int) override { return nullptr; }
};

class AcceptSteps : public Fixture {
 protected:
  void SetUp() override {
    Fixture::SetUp();
    savedScan_ = ScanSettings;
    ScanSettings = orb::ScanSettingsRecord{};
    ScanSettings.NameSeparator[0] = '-';
    for (auto& c : ScanSettings.NameCounters) c = orb::NameCounter{1, 9999, 1, 0};
    ScanSettings.PaperEndDetection = 1;
    ScanSettings.MediaHandlingByte = 2;  // no paper moves after the scan
    // Uncompressed TIFF for every kind.
    ScanSettings.FormatIndexRgb = 4;
    ScanSettings.FormatIndexPalette = 1;
    ScanSettings.FormatIndexGrey = 3;
    ScanSettings.FormatIndexBilevel = 1;
    PaletteSettings = {};
    Rotate90Settings = {};
    AcceptAs2ImagesSettings = {};
    orb::tools::SetToolDocumentHost(&host_);
    AppStatus = 0;
  }
  void TearDown() override {
    orb::tools::SetToolDocumentHost(nullptr);
    ScanSettings = savedScan_;
    PaletteSettings = {};
    Rotate90Settings = {};
    AcceptAs2ImagesSettings = {};
    AppStatus = 0;
    Fixture::TearDown();
  }
  // A finished scan of `kind`, w x h, in the file `name`, waiting for the decision after
  // the workflow's scan-complete step ran.
  std::string Scan(const std::string& name, int kind, int w, int h) {
    ImageState* s = Synth("made" + std::to_string(made_++) + ".tif", kind, w, h, 11);
    const std::string path = Path(name);
    fs::rename(s->sourcePath, path);
    s->sourcePath = path;
    s->state = VS_NORMAL;
    host_.file = host_.work = s;
    host_.open = true;
    fs::copy_file(path, Path("original.tif"), fs::copy_options::overwrite_existing);
    orb::SetTextField(ScanSettings.OutputFileName, path);
    orb::SetScanState(orb::ScanState::Scanning);
    ScanSettings.ScanStartTime = 990;
    workflow_.OnScanComplete();
    return path;
  }
  std::string Original() const { return Path("original.tif"); }

  ScanDocHost host_;
  orb::ScanWorkflow workflow_{host_};
  orb::ScanSettingsRecord savedScan_;
  int made_ = 0;
};

// Each setting on and off, on each kind: the files Accept leaves, their sizes, and their
// pixels against ImageMagick's rotation and crops of the scan.
TEST_F(AcceptSteps, TheToolsSetForScansShapeTheAcceptedFiles) {
  struct Case {
    const char* what;
    int kind, w, h;
    int palette;      // -1 off, else the mode
    int turn;         // -1 off, else the direction
    int split;        // -1 off, else the orientation
    const char* map;  // ImageMagick's channels to compare
    // The files (by name) Accept leaves, with their sizes and ImageMagick's operation on the
    // scan that gives their pixels (null when the pixels are checked some other way).
    std::vector<std::pair<std::string, std::pair<std::string, const char*>>> files;
    const char* nextName;
  } cases[] = {
      {"colour, nothing on", IK_RGB, 160, 96, -1, -1, -1, "rgb", {{"Scan-0001.tif", {"160 96", ""}}}, "Scan-0002.tif"},
      {"256 colours, nothing on", IK_PALETTE256, 160, 96, -1, -1, -1, "rgb", {{"Scan-0001.tif", {"160 96", ""}}},
       "Scan-0002.tif"},
      {"colour, turned right", IK_RGB, 160, 96, -1, 1, -1, "rgb", {{"Scan-0001.tif", {"96 160", "-rotate 90"}}},
       "Scan-0002.tif"},
      {"grey, turned left", IK_GREY, 160, 96, -1, 0, -1, "gray", {{"Scan-0001.tif", {"96 160", "-rotate -90"}}},
       "Scan-0002.tif"},
      {"bilevel, half turn", IK_BW, 160, 96, -1, 2, -1, "gray", {{"Scan-0001.tif", {"160 96", "-rotate 180"}}},
       "Scan-0002.tif"},
      {"256 colours, turned right", IK_PALETTE256, 160, 96, -1, 1, -1, "rgb",
       {{"Scan-0001.tif", {"96 160", "-rotate 90"}}}, "Scan-0002.tif"},
      {"colour to grey", IK_RGB, 160, 96, orb::tools::kToGrey, -1, -1, "gray",
       {{"Scan-0001.tif", {"160 96", nullptr}}}, "Scan-0002.tif"},
      {"grey to 256 colours", IK_GREY, 160, 96, orb::tools::kTo256, -1, -1, "gray",
       {{"Scan-0001.tif", {"160 96", ""}}}, "Scan-0002.tif"},
      // Black and white is never converted after a scan.
      {"grey, black and white chosen", IK_GREY, 160, 96, orb::tools::kToBilevel, -1, -1, "gray",
       {{"Scan-0001.tif", {"160 96", ""}}}, "Scan-0002.tif"},
      {"grey, split across", IK_GREY, 160, 96, -1, -1, orb::tools::kSplitHorizontal, "gray",
       {{"Scan-0001.tif", {"160 48", "-crop 160x48+0+0"}}, {"Scan-0002.tif", {"160 47", "-crop 160x47+0+49"}}},
       "Scan-0003.tif"},
      {"bilevel, split down", IK_BW, 300, 64, -1, -1, orb::tools::kSplitVertical, "gray",
       {{"Scan-0001.tif", {"144 64", "-crop 144x64+0+0"}}, {"Scan-0002.tif", {"144 64", "-crop 144x64+144+0"}}},
       "Scan-0003.tif"},
      {"colour, split down", IK_RGB, 200, 40, -1, -1, orb::tools::kSplitVertical, "rgb",
       {{"Scan-0001.tif", {"96 40", "-crop 96x40+0+0"}}, {"Scan-0002.tif", {"96 40", "-crop 96x40+96+0"}}},
       "Scan-0003.tif"},
      // Turned first (96 x 160), then split across at row 80.
      {"16 colours, turned and split", IK_PALETTE16, 160, 96, -1, 1, orb::tools::kSplitHorizontal, "rgb",
       {{"Scan-0001.tif", {"96 80", "-rotate 90 -crop 96x80+0+0"}}, {"Scan-0002.tif", {"96 79", "-rotate 90 -crop 96x79+0+81"}}},
       "Scan-0003.tif"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string dir = "case" + std::to_string(n++);
    fs::create_directories(Path(dir));
    PaletteSettings.enabled = c.palette >= 0;
    PaletteSettings.ConvertTo = static_cast<uint32_t>(c.palette >= 0 ? c.palette : 0);
    Rotate90Settings.enabled = c.turn >= 0;
    Rotate90Settings.Direction = c.turn >= 0 ? c.turn : 0;
    AcceptAs2ImagesSettings.enabled = c.split >= 0;
    AcceptAs2ImagesSettings.orientation = static_cast<uint8_t>(c.split >= 0 ? c.split : 0);
    Scan(dir + "/Scan-0001.tif", c.kind, c.w, c.h);
    ASSERT_EQ(orb::CurrentScanState(), orb::ScanState::DecisionPending);
    workflow_.OnScanAcceptPage();
    EXPECT_EQ(orb::CurrentScanState(), orb::ScanState::Idle);
    EXPECT_FALSE(host_.open);
    EXPECT_TRUE(host_.absent.empty());
    EXPECT_EQ(orb::TextField(ScanSettings.OutputFileName), Path(dir + "/" + c.nextName));
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(Path(dir))) left.push_back(e.path().filename().string());
    EXPECT_EQ(left.size(), c.files.size()) << "no SplitSource or other file stays";
    for (const auto& [name, expect] : c.files) {
      const std::string f = Path(dir + "/" + name);
      SCOPED_TRACE(name);
      EXPECT_EQ(ImageSize(f), expect.first);
      EXPECT_NE(Shell("tiffinfo '" + f + "' 2>&1").find("Image Width"), std::string::npos);
      if (expect.second) {
        EXPECT_TRUE(Samples(f, c.map) == Samples(Original(), c.map, expect.second)) << expect.second;
      }
    }
    if (c.palette == orb::tools::kToGrey) {
      EXPECT_NE(Shell("identify -format '%[type]' '" + Path(dir + "/Scan-0001.tif") + "'").find("Gray"),
                std::string::npos);
    }
  }
}

TEST_F(AcceptSteps, APatternWithoutCountersGivesPageNamesAndKeepsTheName) {
  AcceptAs2ImagesSettings.enabled = 1;
  AcceptAs2ImagesSettings.orientation = orb::tools::kSplitHorizontal;
  Scan("Scan.tif", IK_GREY, 64, 41);
  workflow_.OnScanAcceptPage();
  EXPECT_FALSE(fs::exists(Path("Scan.tif")));
  EXPECT_EQ(ImageSize(Path("Scan-Page1.tif")), "64 20");
  EXPECT_EQ(ImageSize(Path("Scan-Page2.tif")), "64 20");
  EXPECT_TRUE(Samples(Path("Scan-Page2.tif"), "gray") == Samples(Original(), "gray", "-crop 64x20+0+21"));
  EXPECT_EQ(orb::TextField(ScanSettings.OutputFileName), Path("Scan.tif"));
}

// A split that cannot finish keeps the scan under its own name, untouched, still waiting
// for the decision; the log gets no entry until the decision goes through.
TEST_F(AcceptSteps, AFailedSplitKeepsTheScanWaiting) {
  AcceptAs2ImagesSettings.enabled = 1;
  AcceptAs2ImagesSettings.orientation = orb::tools::kSplitVertical;
  const std::string scan = Scan("Scan-0001.tif", IK_GREY, 400, 300);
  const std::string before = Samples(scan, "gray");
  KeptIds kept;
  {
    HostScope notices(nullptr, &kept);
    // The disk fills while the pages are written.
    FileSizeLimit full(20000);
    workflow_.OnScanAcceptPage();
  }
  EXPECT_EQ(kept.ids, std::vector<int>{orb::tools::kMsgSplitFailed});
  EXPECT_EQ(orb::CurrentScanState(), orb::ScanState::DecisionPending);
  EXPECT_TRUE(host_.open);
  EXPECT_EQ(host_.work->sourcePath, scan);
  EXPECT_EQ(Samples(scan, "gray"), before);
  EXPECT_FALSE(fs::exists(Path("Scan-0002.tif")));
  EXPECT_FALSE(fs::exists(Path("SplitSource.tif")));
  EXPECT_EQ(orb::TextField(ScanSettings.OutputFileName), scan);
  EXPECT_TRUE(host_.log.empty());

  // No room for the pages: refused before the scan is renamed.
  kept.ids.clear();
  const int32_t h = host_.work->height;
  host_.work->height = 2'000'000'000;
  {
    HostScope notices(nullptr, &kept);
    workflow_.OnScanAcceptPage();
  }
  host_.work->height = h;
  EXPECT_EQ(kept.ids, std::vector<int>{orb::tools::kMsgSplitNoRoom});
  EXPECT_EQ(orb::CurrentScanState(), orb::ScanState::DecisionPending);
  EXPECT_EQ(Samples(scan, "gray"), before);
  EXPECT_FALSE(fs::exists(Path("SplitSource.tif")));

  // Esc during the split: the scan is back, the decision still waits.
  {
    EscAfter esc(50);
    HostScope pump(&esc);
    workflow_.OnScanAcceptPage();
  }
  EXPECT_EQ(orb::CurrentScanState(), orb::ScanState::DecisionPending);
  EXPECT_EQ(Samples(scan, "gray"), before);
  EXPECT_FALSE(fs::exists(Path("Scan-0002.tif")));

  // With room again the same Accept splits, logs once and moves the name on twice.
  CancelFlag = 0;
  workflow_.OnScanAcceptPage();
  EXPECT_EQ(orb::CurrentScanState(), orb::ScanState::Idle);
  EXPECT_EQ(ImageSize(scan), "200 300");
  EXPECT_EQ(ImageSize(Path("Scan-0002.tif")), "192 300");
  EXPECT_TRUE(Samples(Path("Scan-0002.tif"), "gray") == Samples(Original(), "gray", "-crop 192x300+200+0"));
  EXPECT_EQ(host_.log, std::vector<std::string>{scan + " accepted"});
  EXPECT_EQ(orb::TextField(ScanSettings.OutputFileName), Path("Scan-0003.tif"));
}

// A scan converted to 16 colours when it completed: Accept keeps the 16-colour image and
// removes the conversion's palette file with the version that owned it.
TEST_F(AcceptSteps, TheConversionsPaletteFileGoesWithItsVersion) {
  const std::string saved = g_szDataFolder;
  g_szDataFolder = Path("data");
  fs::create_directories(Path("data"));
  PaletteSettings.enabled = 1;
  PaletteSettings.ConvertTo = orb::tools::kTo16;
  const std::string scan = Scan("Scan-0001.tif", IK_RGB, 96, 64);
  ASSERT_NE(host_.work, host_.file);
  EXPECT_EQ(host_.work->kind, IK_PALETTE16);
  const std::string palette = host_.work->paletteFilePath;
  EXPECT_TRUE(fs::exists(palette)) << palette;
  workflow_.OnScanAcceptPage();
  EXPECT_EQ(orb::CurrentScanState(), orb::ScanState::Idle);
  EXPECT_LE(std::stoi(Shell("identify -format '%k' '" + scan + "'")), 16);
  EXPECT_NE(Shell("tiffinfo '" + scan + "' 2>&1").find("palette color"), std::string::npos);
  EXPECT_FALSE(fs::exists(palette));
  g_szDataFolder = saved;
}

// Reject never splits; the scan's file goes.
TEST_F(AcceptSteps, RejectDoesNotSplit) {
  AcceptAs2ImagesSettings.enabled = 1;
  const std::string scan = Scan("Scan-0001.tif", IK_GREY, 64, 40);
  workflow_.OnScanRejectPage();
  EXPECT_FALSE(fs::exists(scan));
  EXPECT_FALSE(fs::exists(Path("Scan-0002.tif")));
  EXPECT_EQ(orb::TextField(ScanSettings.OutputFileName), scan);
}

}  // namespace
