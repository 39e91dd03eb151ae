// The apply pipeline on real files: the result is read back by ImageMagick and compared
// with ImageMagick's own operation (invert, mirror) or with the filter run over the whole
// image in memory (the delayed filters); Esc and failures leave the chain as it was.
#include "tools/ApplyPipeline.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/EngineHost.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/TiffHeader.h"
#include "engine/ToolSettings.h"
#include "tools/ToolTable.h"
#include "tests/common/OpenedImage.h"
#include "tests/common/ProcessUtil.h"
#include "tests/common/TestUtil.h"

namespace {

namespace fs = std::filesystem;
using namespace orb::tools;

using orbtest::Shell;

using orbtest::Samples;

class ApplyPipeline : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = orbtest::FreshTestFolder("apply");
    fs::create_directories(dir_ / "work");
    orb::SetTempFilesFolder((dir_ / "work").string());
    BWThresholdSettings = {};
    DescreenSettings = {};
    SharpenSettings = {};
    DespeckleSettings = {};
    CancelFlag = 0;
  }
  void TearDown() override {
    if (chainHead_) orb::FreeImageChain(chainHead_);
    orb::SetTempFilesFolder("");
    CancelFlag = 0;
    fs::remove_all(dir_);
  }
  std::string Make(const std::string& name, const std::string& plan) {
    const std::string path = (dir_ / name).string();
    // 8 bits a sample (black and white: 1), as scans are.
    const std::string depth = plan.find("-monochrome") != std::string::npos ? " -depth 1" : " -depth 8";
    EXPECT_EQ(std::system(("convert " + plan + depth + " -compress none '" + path + "'").c_str()), 0);
    return path;
  }
  // The working version of a newly opened file, in a chain of its own.
  ImageState* Open(const std::string& path) {
    chainHead_ = orbtest::OpenedImage(path);
    return chainHead_;
  }
  size_t TempFiles() const {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir_ / "work")) n += e.is_regular_file();
    return n;
  }
  // Every line of a version through the program's own read stream.
  static std::vector<uint8_t> ReadBack(ImageState* s) {
    std::vector<uint8_t> all;
    LineReader r(s);
    if (OpenReadStream(&r, kReadSequential) != kReadOpenOk) return all;
    std::vector<uint8_t> line(static_cast<size_t>(s->storedLineWidth));
    for (int32_t y = 0; y < s->height; ++y) {
      if (ReadLines(&r, line.data(), kReadSequential, 0) != 1) break;
      all.insert(all.end(), line.begin(), line.end());
    }
    CloseReadStream(&r);
    return all;
  }
  fs::path dir_;
  ImageState* chainHead_ = nullptr;
};

TEST_F(ApplyPipeline, InvertAndMirrorMatchImageMagick) {
  struct Case {
    const char* what;
    const char* plan;
    const char* map;
    ApplyPlan (*apply)();
    const char* op;
    uint32_t code;
  };
  const Case cases[] = {
      {"colour invert", "-size 37x23 -seed 4 plasma:", "rgb", InvertApply, "-negate", kOpInvert},
      {"colour mirror", "-size 37x23 -seed 5 plasma:", "rgb", MirrorApply, "-flop", kOpMirror},
      {"grey mirror", "-size 41x9 -seed 6 plasma: -colorspace gray -type grayscale", "gray", MirrorApply, "-flop",
       kOpMirror},
      {"grey invert", "-size 41x9 -seed 7 plasma: -colorspace gray -type grayscale", "gray", InvertApply, "-negate",
       kOpInvert},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string in = Make("in" + std::to_string(c.code) + c.map + ".tif", c.plan);
    ImageState* w = Open(in);
    ApplyOutcome out = RunApplyPipeline(w, c.apply(), orb::FilterSettings::Current());
    ASSERT_EQ(out.result, ApplyResult::Applied);
    ASSERT_NE(out.working, w);
    EXPECT_EQ(out.working->prev, w);
    EXPECT_EQ(out.working->operationCode, c.code);
    EXPECT_EQ(out.working->kind, w->kind);
    // An outside reader reads the new file, with the old one's size.
    EXPECT_EQ(Shell("identify -format '%w %h' '" + out.working->sourcePath + "'"),
              std::to_string(w->width) + " " + std::to_string(w->height));
    EXPECT_NE(Shell("tiffinfo '" + out.working->sourcePath + "' 2>&1").find("Image Width"), std::string::npos);
    const std::string expected = Samples(in, c.map, c.op);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(Samples(out.working->sourcePath, c.map), expected);
    // The program's own reader sees the same.
    const std::vector<uint8_t> own = ReadBack(out.working);
    EXPECT_EQ(std::string(own.begin(), own.end()), expected);
    orb::FreeImageChain(w);
    chainHead_ = nullptr;
  }
}

TEST_F(ApplyPipeline, InvertTwiceGivesTheOriginalPixelsInAThirdVersion) {
  ImageState* w = Open(Make("twice.tif", "-size 19x11 -seed 3 plasma:"));
  ApplyOutcome a = RunApplyPipeline(w, InvertApply(), orb::FilterSettings::Current());
  ASSERT_EQ(a.result, ApplyResult::Applied);
  ApplyOutcome b = RunApplyPipeline(a.working, InvertApply(), orb::FilterSettings::Current());
  ASSERT_EQ(b.result, ApplyResult::Applied);
  EXPECT_EQ(b.working->prev, a.working);
  EXPECT_EQ(Samples(b.working->sourcePath, "rgb"), Samples(w->sourcePath, "rgb"));
}

// Each delayed filter gives exactly H lines, equal to the filter run over the whole image.
TEST_F(ApplyPipeline, DelayedFiltersGiveEveryLineOnce) {
  struct Case {
    const char* what;
    const char* size;
    ApplyPlan plan;
    int level;
  };
  const Case cases[] = {
      {"noise 3x3", "31x17", NoiseRemovalApply(), 1},
      {"noise 7x7", "31x17", NoiseRemovalApply(), 3},
      {"noise 7x7 on three lines", "31x3", NoiseRemovalApply(), 3},
      {"sharpen", "29x13", SharpenApply(6), 6},
      {"blur", "29x13", SharpenApply(-4), -4},
      {"sharpen, one line", "29x1", SharpenApply(3), 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string in = Make(std::string("d") + std::to_string(&c - cases) + ".tif",
                                std::string("-size ") + c.size + " -seed 9 plasma: -colorspace gray -type grayscale");
    ImageState* w = Open(in);
    orb::FilterSettings fs = orb::FilterSettings::Current();
    fs.noise.Level = c.level;
    fs.sharpen.Level = c.level;
    ApplyOutcome out = RunApplyPipeline(w, c.plan, fs);
    ASSERT_EQ(out.result, ApplyResult::Applied);
    EXPECT_EQ(out.working->operationCode, c.plan.lastOperation);
    // The reference: the same filter over the image held whole in memory.
    std::string pixels = Samples(in, "gray");
    ASSERT_EQ(pixels.size(), static_cast<size_t>(w->width) * w->height);
    orb::FilterChain whole = orb::BuildFilterChain(orb::ChainPurpose::Tool, orb::FilterSet{c.plan.filter}, fs,
                                                   {IK_GREY, static_cast<size_t>(w->width)});
    whole.ProcessImage(reinterpret_cast<uint8_t*>(pixels.data()), static_cast<size_t>(w->width),
                       static_cast<size_t>(w->height));
    EXPECT_EQ(Shell("identify -format '%h' '" + out.working->sourcePath + "'"), std::to_string(w->height));
    EXPECT_EQ(Samples(out.working->sourcePath, "gray"), pixels);
    orb::FreeImageChain(w);
    chainHead_ = nullptr;
  }
  EXPECT_EQ(SharpenApply(5).lastOperation, static_cast<uint32_t>(kOpSharpen));
  EXPECT_EQ(SharpenApply(-1).lastOperation, static_cast<uint32_t>(kOpBlur));
}

// A tall image goes through in strips: the result equals ImageMagick's, line for line.
TEST_F(ApplyPipeline, ImagesTallerThanAStripKeepEveryLine) {
  const std::string in = Make("tall.tif", "-size 300x2000 gradient:white-black");
  ASSERT_GT(2000, StripLines(300 * 3));
  ImageState* w = Open(in);
  ApplyOutcome out = RunApplyPipeline(w, MirrorApply(), orb::FilterSettings::Current());
  ASSERT_EQ(out.result, ApplyResult::Applied);
  EXPECT_EQ(Samples(out.working->sourcePath, "gray"), Samples(in, "gray", "-flop"));
}

// Lines read and filtered in the write stream's own buffer, over many strips and buffers
// whose ends do not meet: a delayed filter still gives exactly H lines, each in its place,
// equal to the filter over the whole image in memory (ImageMagick reads the file).
TEST_F(ApplyPipeline, DelayedFiltersOverManyStripsGiveEveryLineOnce) {
  // 2000-byte lines: strips of 256 lines, write buffers of 524.
  const std::string in = Make("long.tif", "-size 2000x1400 -seed 11 plasma: -colorspace gray -type grayscale");
  ASSERT_EQ(StripLines(2000), 256);
  const std::string pixels = Samples(in, "gray");
  ASSERT_EQ(pixels.size(), size_t{2000} * 1400);
  struct Case {
    const char* what;
    ApplyPlan plan;
    int level;
  };
  const Case cases[] = {{"noise 7x7", NoiseRemovalApply(), 3}, {"sharpen", SharpenApply(6), 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ImageState* w = Open(in);
    orb::FilterSettings fs = orb::FilterSettings::Current();
    fs.noise.Level = c.level;
    fs.sharpen.Level = c.level;
    ApplyOutcome out = RunApplyPipeline(w, c.plan, fs);
    ASSERT_EQ(out.result, ApplyResult::Applied);
    std::string expected = pixels;
    orb::FilterChain whole =
        orb::BuildFilterChain(orb::ChainPurpose::Tool, orb::FilterSet{c.plan.filter}, fs, {IK_GREY, 2000});
    ASSERT_GT(whole.Delay(), 0);
    whole.ProcessImage(reinterpret_cast<uint8_t*>(expected.data()), 2000, 1400);
    EXPECT_EQ(Shell("identify -format '%w %h' '" + out.working->sourcePath + "'"), "2000 1400");
    EXPECT_TRUE(Samples(out.working->sourcePath, "gray") == expected);
    orb::FreeImageChain(w);
    chainHead_ = nullptr;
  }
}

class EscAfter : public orb::IMessagePump {
 public:
  explicit EscAfter(int n) : left_(n) {}
  void PumpMessages() override {
    ++pumped;
    if (--left_ <= 0) CancelFlag = 1;
  }
  int pumped = 0;

 private:
  int left_;
};

TEST_F(ApplyPipeline, EscLeavesTheChainAndRemovesTheTemporaryFile) {
  const std::string in = Make("esc.tif", "-size 200x3000 gradient:");
  ImageState* w = Open(in);
  const std::string before = Samples(in, "gray");
  EscAfter esc(2);
  orb::EngineHost saved = orb::Host();
  orb::EngineHost host = saved;
  host.pump = &esc;
  orb::SetEngineHost(host);
  ApplyOutcome out = RunApplyPipeline(w, InvertApply(), orb::FilterSettings::Current());
  orb::SetEngineHost(saved);
  EXPECT_EQ(out.result, ApplyResult::Cancelled);
  EXPECT_EQ(out.working, w);
  EXPECT_EQ(w->next, nullptr);
  EXPECT_EQ(orb::ImageChain::Of(w)->Last(), w);
  EXPECT_EQ(TempFiles(), 0u);
  EXPECT_EQ(w->region.bottom, w->height);
  EXPECT_EQ(Samples(in, "gray"), before);
}

// Strips of a metre-wide-like image are shared out over threads in parts of whole lines
// (invert and mirror keep their lines apart): every line still comes out once, in its
// place, as ImageMagick's own operation gives it; Esc between strips still stops the run.
TEST_F(ApplyPipeline, StripsSharedOverThreadsKeepEveryLineAndEscStillStops) {
  // 6000-byte colour lines: strips of 174 lines, about 1 MB, several parts each.
  const std::string in = Make("wide.tif", "-size 2000x700 -seed 2 plasma:");
  ASSERT_EQ(StripLines(6000), 174);
  struct Case {
    const char* what;
    ApplyPlan (*apply)();
    const char* op;
  };
  const Case cases[] = {{"invert", InvertApply, "-negate"}, {"mirror", MirrorApply, "-flop"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ImageState* w = Open(in);
    ApplyOutcome out = RunApplyPipeline(w, c.apply(), orb::FilterSettings::Current());
    ASSERT_EQ(out.result, ApplyResult::Applied);
    EXPECT_EQ(Shell("identify -format '%w %h' '" + out.working->sourcePath + "'"), "2000 700");
    EXPECT_TRUE(Samples(out.working->sourcePath, "rgb") == Samples(in, "rgb", c.op));
    orb::FreeImageChain(w);
    chainHead_ = nullptr;
  }
  ImageState* w = Open(in);
  const size_t kept = TempFiles();  // the versions made above
  EscAfter esc(2);
  orb::EngineHost saved = orb::Host();
  orb::EngineHost host = saved;
  host.pump = &esc;
  orb::SetEngineHost(host);
  ApplyOutcome out = RunApplyPipeline(w, InvertApply(), orb::FilterSettings::Current());
  orb::SetEngineHost(saved);
  EXPECT_EQ(out.result, ApplyResult::Cancelled);
  EXPECT_EQ(esc.pumped, 2);
  EXPECT_EQ(w->next, nullptr);
  EXPECT_EQ(TempFiles(), kept);
}

class KeptIds : public orb::INotifier {
 public:
  void ShowMessage(int id, orb::MessageIcon, const std::vector<orb::MessageArg>&) override { ids.push_back(id); }
  void ShowText(std::string_view, std::string_view, orb::MessageIcon) override {}
  std::vector<int> ids;
};

TEST_F(ApplyPipeline, AFolderThatCannotBeWrittenKeepsTheVersionAndSaysWhy) {
  ImageState* w = Open(Make("ro.tif", "-size 20x20 xc:gray50"));
  orb::SetTempFilesFolder((dir_ / "missing" / "folder").string());
  KeptIds kept;
  orb::EngineHost saved = orb::Host();
  orb::EngineHost host = saved;
  host.notifier = &kept;
  orb::SetEngineHost(host);
  ApplyOutcome out = RunApplyPipeline(w, MirrorApply(), orb::FilterSettings::Current());
  orb::SetEngineHost(saved);
  EXPECT_EQ(out.result, ApplyResult::Failed);
  EXPECT_EQ(out.working, w);
  EXPECT_EQ(w->next, nullptr);
  EXPECT_EQ(kept.ids, std::vector<int>{kMsgApplyWriteFailed});
}

TEST_F(ApplyPipeline, AMissingSourceFileFailsWithoutANewVersion) {
  const std::string in = Make("gone.tif", "-size 20x20 xc:gray50");
  ImageState* w = Open(in);
  fs::remove(in);
  KeptIds kept;
  orb::EngineHost saved = orb::Host();
  orb::EngineHost host = saved;
  host.notifier = &kept;
  orb::SetEngineHost(host);
  ApplyOutcome out = RunApplyPipeline(w, InvertApply(), orb::FilterSettings::Current());
  orb::SetEngineHost(saved);
  EXPECT_EQ(out.result, ApplyResult::Failed);
  EXPECT_EQ(w->next, nullptr);
  EXPECT_EQ(TempFiles(), 0u);
  EXPECT_EQ(kept.ids, std::vector<int>{kMsgApplyReadFailed});
}

TEST_F(ApplyPipeline, NoImageDoesNothing) {
  EXPECT_EQ(RunApplyPipeline(nullptr, InvertApply(), orb::FilterSettings::Current()).result, ApplyResult::NoImage);
}

// Black and white results: kind 10 (grey kept for thresholding) for a scan thresholded in
// software, kind 4 otherwise.
TEST_F(ApplyPipeline, BilevelResultsFollowTheThresholdRecord) {
  struct Case {
    const char* what;
    uint32_t state;
    uint8_t software;
    int32_t type;
    ApplyPlan (*apply)();
    uint16_t kind;
    uint32_t format;
  };
  const Case cases[] = {
      {"scan, software threshold, mirror", VS_NORMAL, 1, 0, MirrorApply, IK_BW_SAVED_AS_4, 0x0FF00009},
      {"scan, scanner threshold, mirror", VS_NORMAL, 0, 0, MirrorApply, IK_BW, 0x0FF0000B},
      {"scan, error diffusion, invert", VS_NORMAL, 0, 2, InvertApply, IK_BW_SAVED_AS_4, 0x0FF00009},
      {"opened file, invert", VS_OPENED, 1, 0, InvertApply, IK_BW, 0x0FF0000B},
      {"scan, scanner threshold, despeckle", VS_NORMAL, 0, 0, DespeckleApply, IK_BW, 0x0FF0000B},
      {"scan, software threshold, despeckle", VS_NORMAL, 1, 0, DespeckleApply, IK_BW_SAVED_AS_4, 0x0FF00009},
  };
  const std::string in = Make("bw.tif", "-size 40x16 pattern:checkerboard -monochrome");
  const std::string original = Samples(in, "gray");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ImageState* w = Open(in);
    ASSERT_EQ(w->kind, IK_BW);
    w->state = static_cast<VersionState>(c.state);
    BWThresholdSettings.SoftwareThreshold = c.software;
    BWThresholdSettings.ThresholdingType = c.type;
    ApplyOutcome out = RunApplyPipeline(w, c.apply(), orb::FilterSettings::Current());
    ASSERT_EQ(out.result, ApplyResult::Applied);
    EXPECT_EQ(out.working->kind, c.kind);
    EXPECT_EQ(out.working->outputFormat, c.format);
    // The file is what it says: identify reads it, and its pixels are the operation's.
    const std::string got = Samples(out.working->sourcePath, "gray");
    ASSERT_EQ(got.size(), original.size());
    if (c.apply == MirrorApply) {
      EXPECT_EQ(got, Samples(in, "gray", "-flop"));
    }
    if (c.apply == InvertApply) {
      EXPECT_EQ(got, Samples(in, "gray", "-negate"));
    }
    // The source file is read as it always was.
    EXPECT_EQ(w->linesOneBytePerPixel, 0);
    orb::FreeImageChain(w);
    chainHead_ = nullptr;
  }
}

TEST_F(ApplyPipeline, DespeckleRemovesSmallSpecksAndKeepsLargeOnes) {
  // White page, a 2x2 speck and a 12x12 block.
  const std::string in = Make("specks.tif",
                              "-size 64x40 xc:white -fill black -draw 'rectangle 5,5 6,6' "
                              "-draw 'rectangle 30,10 41,21' -monochrome");
  ImageState* w = Open(in);
  w->state = VS_OPENED;
  orb::FilterSettings fs = orb::FilterSettings::Current();
  fs.despeckle.SpeckWidth = 5;
  ApplyOutcome out = RunApplyPipeline(w, DespeckleApply(), fs);
  ASSERT_EQ(out.result, ApplyResult::Applied);
  EXPECT_EQ(out.working->operationCode, static_cast<uint32_t>(kOpDespeckle));
  const std::string got = Samples(out.working->sourcePath, "gray");
  ASSERT_EQ(got.size(), 64u * 40u);
  auto at = [&](int x, int y) { return static_cast<uint8_t>(got[static_cast<size_t>(y) * 64 + x]); };
  EXPECT_EQ(at(5, 5), 255);
  EXPECT_EQ(at(6, 6), 255);
  EXPECT_EQ(at(35, 15), 0);
  EXPECT_EQ(at(30, 10), 0);
}

}  // namespace
