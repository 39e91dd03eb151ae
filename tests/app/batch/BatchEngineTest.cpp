// The batch engine on real files, one file at a time, without a display. Results are read
// back by outside readers (identify, tiffinfo, pdfimages); the expected kinds, names and
// log lines follow from the batch file's format.
#include "app/batch/BatchEngine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/EngineHost.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/SharedRoutines.h"
#include "tests/common/ProcessUtil.h"
#include "tests/common/TestUtil.h"

namespace {

namespace fs = std::filesystem;
using namespace orb::batch;

using orbtest::Shell;

class BatchEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = orbtest::FreshTestFolder("bengine");
    fs::create_directories(dir_ / "work");
    fs::create_directories(dir_ / "out");
    orb::SetTempFilesFolder((dir_ / "work").string());
    CancelFlag = 0;
  }
  void TearDown() override {
    orb::SetTempFilesFolder("");
    fs::remove_all(dir_);
  }
  // Sources: grey, colour and black and white drawings as a scanner leaves them.
  std::string Make(const std::string& name, const std::string& kind) {
    const std::string path = (dir_ / name).string();
    std::string plan;
    if (kind == "grey") plan = "-size 64x48 gradient:white-black -colorspace Gray -depth 8";
    if (kind == "rgb") plan = "-size 64x48 gradient:red-blue -depth 8";
    if (kind == "bw") plan = "-size 64x48 xc:white -fill black -draw 'rectangle 10,10 30,30' -monochrome -depth 1";
    EXPECT_EQ(std::system(("convert " + plan + " -compress none '" + path + "'").c_str()), 0);
    return path;
  }
  std::string Batch(const std::string& text) {
    const std::string p = (dir_ / "job.bch").string();
    std::ofstream(p, std::ios::binary) << text;
    return p;
  }
  static std::string Text(const std::string& p) { return orbtest::ReadFile(p); }
  size_t WorkFiles() const {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir_ / "work")) n += e.is_regular_file();
    return n;
  }
  fs::path dir_;
};

// Sources x sections x formats x deletion x hold.
TEST_F(BatchEngine, OneFilePerStepAsTheBatchFileSays) {
  struct Case {
    const char* what;
    const char* kind;
    const char* sections;
    const char* general;      // besides HoldForQC/CreateLog
    bool hold;
    EntryOutcome outcome;
    const char* output;       // file name in out/ ("" none; "=" over the source)
    const char* identify;     // identify's "%[type] %wx%h" of the result
    const char* tiffCompression;  // in tiffinfo's report ("" not a TIFF check)
    bool sourceDeleted;
    std::vector<const char*> logHas, logLacks;
  } cases[] = {
      {"grey thresholded and despeckled to Group 4", "grey",
       "[Palette]\nConvertTo=4\n[BinaryThreshold]\nThresholdingType=1\nAdaptiveWindowSize=9\n"
       "[BinaryDespeckle]\nSpeckWidth=3\nSpeckHeight=3\n",
       "SaveAsFormat=tif-g4\nDeleteOriginalFiles=1\n", false, EntryOutcome::SavedAs, "a.tif", "Bilevel 64x48",
       "CCITT Group 4", true,
       {"\tBinaryDespeckle: SpeckWidth = 3, SpeckHeight = 3\r\n",
        "\tBinaryThreshold: ThresholdingType = 1, AdaptiveWindowSize = 9, AdaptiveDynamic = 25, FixedThreshhold = 64\r\n",
        "\tOriginal image deleted\r\n"},
       {}},
      {"jpg refused for black and white: own format, source kept", "bw", "[Invert]\nInvert=True\n",
       "SaveAsFormat=jpg\nDeleteOriginalFiles=1\n", false, EntryOutcome::SavedAs, "a.tif", "Bilevel 64x48", "", false,
       {"\tInverting:\r\n", "\tSaveAsType: jpg is an invalid save as format for this image\r\n",
        "\tOriginal image NOT deleted\r\n"},
       {"Original image deleted"}},
      {"colour with black and white chosen is not thresholded", "rgb",
       "[Palette]\nConvertTo=4\n[BinaryThreshold]\nFixedThreshhold=100\n", "SaveAsFormat=png\n", false,
       EntryOutcome::SavedAs, "a.png", "PNG colour type 2 64x48", "", false, {"Image saved as"}, {"BinaryThreshold"}},
      {"black and white passes the tone filters untouched", "bw",
       "[BrightnessContrast]\nBrightness=50\n[WhiteBlackPoint]\nWhite=200\n[Gamma]\nChannel=0\n",
       "SaveAsFormat=TIF-G4\n", false, EntryOutcome::SavedAs, "a.TIF", "Bilevel 64x48", "CCITT Group 4", false, {},
       {"BrightnessContrast", "WhiteBlackPoint", "Gamma"}},
      {"colour mirrored and sharpened to a JPEG PDF", "rgb", "[Mirror]\nMirror=True\n[SharpenBlur]\nLevel=3\n",
       "SaveAsFormat=pdf-jpeg\n", false, EntryOutcome::SavedAs, "a.pdf", "", "", false,
       {"\tMirroring:\r\n", "\tSharpenBlur: Sharpening level 3\r\n"}, {}},
      {"grey noise removal, packbits", "grey", "[NoiseRemoval]\nLevel=2\n", "SaveAsFormat=tif-packbits\n", false,
       EntryOutcome::SavedAs, "a.tif", "Grayscale 64x48", "PackBits", false, {"\tNoiseRemoval: 5 x 5\r\n"}, {}},
      {"colour turned right and converted to grey", "rgb", "[Rotate90]\nDirection=1\n[Palette]\nConvertTo=3\n",
       "SaveAsFormat=png\n", false, EntryOutcome::SavedAs, "a.png", "PNG colour type 0 48x64", "", false,
       {"\tPalette: Converting to Grayscale\r\n", "\tRotate: 90 degrees Right\r\n"}, {"ERROR"}},
      {"held for inspection: nothing saved, no log", "grey", "[Invert]\n", "CreateLog=1\nSaveAsFormat=png\n", true,
       EntryOutcome::Held, "", "", "", false, {}, {}},
      {"no folder and no format: over the source, never deleted", "grey", "[Invert]\nInvert=True\n",
       "DeleteOriginalFiles=1\n", false, EntryOutcome::SavedOver, "=", "Grayscale 64x48", "None", false, {},
       {"deleted"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_ / "out");
    fs::create_directories(dir_ / "out");
    const std::string src = Make("a.tif", c.kind);
    const std::string bch = Batch(std::string("[General]\nHoldForQC=") + (c.hold ? "1" : "0") + "\nCreateLog=1\n" +
                                  (std::string(c.output) == "=" ? "" : "SaveAsLocation=" + (dir_ / "out").string() + "\n") +
                                  c.general + "[Files]\nFile0=" +
                                  src + "\n" + c.sections);
    fs::remove(LogPathFor(bch));
    const EntryReport r = RunBatchStep(bch, 0);
    EXPECT_EQ(r.outcome, c.outcome);
    EXPECT_EQ(r.sourceDeleted, c.sourceDeleted);
    EXPECT_EQ(fs::exists(src), !c.sourceDeleted);
    std::string out = c.output;
    if (out == "=") out = src;
    else if (!out.empty()) out = (dir_ / "out" / out).string();
    if (!out.empty()) {
      EXPECT_EQ(r.output, out);
      if (*c.identify) {
        // A PNG's own colour type tells truecolour from palette whatever the pixels are.
        const char* f = out.ends_with(".png") ? "PNG colour type %[png:IHDR.color-type-orig] %wx%h" : "%[type] %wx%h";
        EXPECT_EQ(Shell(std::string("identify -format '") + f + "' '" + out + "' 2>&1"), c.identify);
      }
      if (*c.tiffCompression) {
        EXPECT_NE(Shell("tiffinfo '" + out + "' 2>&1").find(std::string("Compression Scheme: ") + c.tiffCompression),
                  std::string::npos);
      }
      if (out.ends_with(".pdf")) {
        EXPECT_NE(Shell("pdfimages -list '" + out + "'").find("jpeg"), std::string::npos);
      }
    } else {
      EXPECT_TRUE(fs::is_empty(dir_ / "out"));
    }
    const std::string log = fs::exists(LogPathFor(bch)) ? Text(LogPathFor(bch)) : "";
    if (c.hold) {
      EXPECT_FALSE(fs::exists(LogPathFor(bch)));
    } else {
      EXPECT_NE(log.find(", Processing " + src + "\r\n"), std::string::npos) << log;
    }
    for (const char* s : c.logHas) EXPECT_NE(log.find(s), std::string::npos) << s << "\n" << log;
    for (const char* s : c.logLacks) EXPECT_EQ(log.find(s), std::string::npos) << s << "\n" << log;
    EXPECT_EQ(WorkFiles(), 0u) << "temporaries left behind";
  }
}

TEST_F(BatchEngine, InvertedGreyMatchesImageMagick) {
  const std::string src = Make("g.tif", "grey");
  const std::string bch = Batch("[General]\nSaveAsLocation=" + (dir_ / "out").string() +
                                "\nSaveAsFormat=png\n[Files]\nFile0=" + src + "\n[Invert]\nInvert=True\n");
  ASSERT_EQ(RunBatchStep(bch, 0).outcome, EntryOutcome::SavedAs);
  const std::string ours = Shell("convert '" + (dir_ / "out" / "g.png").string() + "' -depth 8 gray:- | md5sum");
  const std::string theirs = Shell("convert '" + src + "' -negate -depth 8 gray:- | md5sum");
  EXPECT_EQ(ours, theirs);
}

TEST_F(BatchEngine, AdaptiveThresholdKeepsEveryLineInPlace) {
  // A black bar on the last lines: a pass that lost the delayed lines at the end would drop
  // it, one that shifted them would move it.
  const std::string src = (dir_ / "bar.tif").string();
  ASSERT_EQ(std::system(("convert -size 80x60 xc:white -fill black -draw 'rectangle 0,54 79,59' -colorspace Gray "
                         "-depth 8 -compress none '" + src + "'").c_str()),
            0);
  const std::string bch = Batch("[General]\nSaveAsLocation=" + (dir_ / "out").string() +
                                "\nSaveAsFormat=tif-g4\n[Files]\nFile0=" + src +
                                "\n[Palette]\nConvertTo=4\n[BinaryThreshold]\nThresholdingType=0\nFixedThreshhold=25\n"
                                "[BinaryDespeckle]\nSpeckWidth=2\nSpeckHeight=2\n");
  ASSERT_EQ(RunBatchStep(bch, 0).outcome, EntryOutcome::SavedAs);
  const std::string out = (dir_ / "out" / "bar.tif").string();
  EXPECT_EQ(Shell("convert '" + out + "' -crop 80x6+0+54 -format '%[fx:mean]' info:"), "0");
  EXPECT_EQ(Shell("convert '" + out + "' -crop 80x54+0+0 -format '%[fx:mean]' info:"), "1");
}

TEST_F(BatchEngine, UnreadableFileIsLoggedAndTheBatchGoesOn) {
  const std::string bad = (dir_ / "bad.tif").string();
  std::ofstream(bad) << "not an image at all";
  const std::string good = Make("good.tif", "grey");
  const std::string bch = Batch("[General]\nCreateLog=1\nSaveAsLocation=" + (dir_ / "out").string() +
                                "\nSaveAsFormat=png\nDeleteOriginalFiles=1\n[Files]\nFile0=" + bad + "\nFile1=" + good +
                                "\nFile2=" + (dir_ / "missing.tif").string() + "\n[Invert]\nInvert=True\n");
  const BatchSummary s = RunBatch(bch);
  EXPECT_EQ(s.files, 3);
  EXPECT_EQ(s.saved, 1);
  EXPECT_EQ(s.skipped, 2);
  EXPECT_TRUE(fs::exists(bad));
  EXPECT_EQ(Shell("identify -format '%wx%h' '" + (dir_ / "out" / "good.png").string() + "'"), "64x48");
  const std::string log = Text(LogPathFor(bch));
  size_t n = 0;
  for (size_t p = 0; (p = log.find("\tERROR: Unable to open or determine the format of this image\r\n", p)) !=
                     std::string::npos;
       ++p)
    ++n;
  EXPECT_EQ(n, 2u);
  EXPECT_NE(log.find("\r\n\r\n"), std::string::npos);  // a blank line after each file
}

TEST_F(BatchEngine, EmptyFileListEndsAtOnceWithoutALog) {
  const std::string bch = Batch("[General]\nCreateLog=1\n[Files]\n[Invert]\nInvert=True\n");
  EXPECT_EQ(RunBatchStep(bch, 0).outcome, EntryOutcome::End);
  EXPECT_FALSE(fs::exists(LogPathFor(bch)));
}

TEST_F(BatchEngine, ResultOverItsOwnSourceKeepsTheSource) {
  // Folder and format name the source itself: deleting "the original" would delete the result.
  const std::string src = Make("same.tif", "grey");
  const std::string bch = Batch("[General]\nCreateLog=1\nSaveAsLocation=" + dir_.string() +
                                "\nSaveAsFormat=tif-uncompressed\nDeleteOriginalFiles=1\n[Files]\nFile0=" + src +
                                "\n[Invert]\nInvert=True\n");
  const EntryReport r = RunBatchStep(bch, 0);
  EXPECT_EQ(r.outcome, EntryOutcome::SavedAs);
  EXPECT_FALSE(r.sourceDeleted);
  EXPECT_EQ(Shell("identify -format '%[type] %wx%h' '" + src + "'"), "Grayscale 64x48");
  EXPECT_NE(Text(LogPathFor(bch)).find("Original image NOT deleted"), std::string::npos);
}

TEST_F(BatchEngine, EscDropsTheResultAndLeavesTheSource) {
  const std::string src = Make("esc.tif", "grey");
  const std::string bch = Batch("[General]\nSaveAsLocation=" + (dir_ / "out").string() +
                                "\nSaveAsFormat=png\nDeleteOriginalFiles=1\n[Files]\nFile0=" + src + "\n[Invert]\n"
                                "Invert=True\n");
  // Esc pressed while the lines stream: the pump sets the cancel flag.
  struct EscPump final : orb::IMessagePump {
    void PumpMessages() override { CancelFlag = 1; }
  } pump;
  const orb::EngineHost saved = orb::Host();
  orb::EngineHost h = saved;
  h.pump = &pump;
  orb::SetEngineHost(h);
  const EntryReport r = RunBatchStep(bch, 0);
  orb::SetEngineHost(saved);
  EXPECT_EQ(r.outcome, EntryOutcome::Cancelled);
  EXPECT_TRUE(fs::exists(src));
  EXPECT_TRUE(fs::is_empty(dir_ / "out"));
  EXPECT_EQ(WorkFiles(), 0u);
}

}  // namespace
