// Shared set-up of the transform tests: a private folder, images made by ImageMagick,
// opened as the program opens them, and read back by outside readers and by the program's
// own read stream.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/EngineHost.h"
#include <fcntl.h>

#include <random>

#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/LineWriter.h"
#include "platform/Files.h"
#include "engine/ReadWrite/TiffHeader.h"
#include "engine/ToolSettings.h"
#include "tools/ApplyPipeline.h"
#include "tests/common/OpenedImage.h"
#include "tests/common/ProcessUtil.h"
#include "tests/common/TestUtil.h"

namespace transform_test {

namespace fs = std::filesystem;

using orbtest::Shell;

using orbtest::Samples;

using orbtest::ImageSize;

// Image kinds the tests make, as ImageMagick plans.
struct KindPlan {
  const char* name;
  const char* plan;  // "%S" stands for the size, "WxH"
  int kind;
};
inline const std::vector<KindPlan>& Kinds() {
  static const std::vector<KindPlan> k = {
      {"colour", "-size %S -seed 3 plasma: -type TrueColor -depth 8", IK_RGB},
      {"grey", "-size %S -seed 4 plasma: -colorspace gray -type grayscale -depth 8", IK_GREY},
      // Palettes with white among their colours (where uncovered parts take it from),
      // quantised small and scaled up: quantising is slow.
      {"256 colours",
       "-size 97x89 -seed 5 plasma: +dither -colors 199 -sample %S! -fill white -draw 'point 0,0' -type Palette "
       "-depth 8",
       IK_PALETTE256},
      {"16 colours",
       "-size 97x89 -seed 6 plasma: +dither -colors 15 -sample %S! -fill white -draw 'point 0,0' -type Palette "
       "-depth 4",
       IK_PALETTE16},
      {"bilevel", "-size %S -seed 7 plasma: -colorspace gray -threshold 50% -depth 1", IK_BW},
  };
  return k;
}

class Fixture : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = orbtest::FreshTestFolder("transform");
    fs::create_directories(dir_ / "work");
    orb::SetTempFilesFolder((dir_ / "work").string());
    BWThresholdSettings = {};
    CancelFlag = 0;
  }
  void TearDown() override {
    for (ImageState* s : chains_) orb::FreeImageChain(s);
    orb::SetTempFilesFolder("");
    CancelFlag = 0;
    fs::remove_all(dir_);
  }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  // An uncompressed image made by ImageMagick.
  std::string Make(const std::string& name, const std::string& plan) {
    const std::string path = Path(name);
    EXPECT_EQ(std::system(("convert " + plan + " -compress none '" + path + "'").c_str()), 0) << plan;
    return path;
  }
  std::string MakeKind(const std::string& name, const KindPlan& k, int w, int h) {
    std::string plan = k.plan;
    const std::string size = std::to_string(w) + "x" + std::to_string(h);
    for (size_t at; (at = plan.find("%S")) != std::string::npos;) plan.replace(at, 2, size);
    return Make(name, plan);
  }
  // A file of random pixels of `kind` written by the engine's write stream (much faster
  // than ImageMagick), opened as the program opens files. Palettes hold white at index 7.
  ImageState* Synth(const std::string& name, int kind, int w, int h, unsigned seed = 1) {
    const std::string path = Path(name);
    ImageState s;
    orb::SetGreyRamp(&s);
    s.kind = static_cast<ImageKind>(kind);
    s.width = w;
    s.height = h;
    s.storedLineWidth = orb::StoredLineWidthFor(s.kind, w);
    s.bitsPerSample = 8;
    s.samplesPerPixel = kind == IK_RGB ? 3 : 1;
    s.bitsPerPixel = kind == IK_RGB ? 24 : 8;
    const bool pal = kind == IK_PALETTE256 || kind == IK_PALETTE16;
    s.photometric = kind == IK_RGB ? PM_RGB : pal ? PM_PALETTE : PM_BLACK_IS_ZERO;
    s.outputFormat = kind == IK_RGB            ? OF_RAW_RGB_LE
                     : kind == IK_PALETTE256   ? OF_RAW_PAL256_LE
                     : kind == IK_PALETTE16    ? OF_RAW_PAL16_LE
                     : kind == IK_BW           ? OF_RAW_BW_LE
                                               : OF_RAW_GREY_LE;
    s.xDpi = s.yDpi = 300;
    std::mt19937 rng(seed);
    if (pal) {
      for (auto& e : s.palette) e = PaletteEntry{uint16_t(rng() & 0xFF), uint16_t(rng() & 0xFF), uint16_t(rng() & 0xFF)};
      s.palette[7] = PaletteEntry{255, 255, 255};
      s.palette2 = s.palette;
    }
    s.sourcePath = path;
    s.region = PixelRect{0, 0, w, h};
    s.fileHandle = orb::OpenSharedFile(path, O_RDWR | O_CREAT | O_TRUNC);
    EXPECT_GE(s.fileHandle, 0);
    {
      LineWriter wr(&s);
      EXPECT_EQ(StartImageOutput(&wr), 0);
      EXPECT_EQ(OpenWriteStream(&wr), 0);
      std::vector<uint8_t> line(static_cast<size_t>(s.storedLineWidth));
      for (int y = 0; y < h; ++y) {
        for (auto& b : line) {
          const uint8_t v = static_cast<uint8_t>(rng());
          b = kind == IK_BW ? (v & 1 ? 255 : 0) : kind == IK_PALETTE16 ? v & 15 : v;
        }
        EXPECT_EQ(WriteLines(&wr, line.data(), static_cast<int64_t>(line.size())), 0);
      }
      EXPECT_EQ(CloseWriteStream(&wr), 0);
    }
    ::close(s.fileHandle);
    return Open(path);
  }
  // The working version of a newly opened file, in a chain of its own.
  ImageState* Open(const std::string& path) {
    chains_.push_back(orbtest::OpenedImage(path));
    return chains_.back();
  }
  void Forget(ImageState* s) {
    std::erase(chains_, s);
    orb::FreeImageChain(s);
  }
  size_t TempFiles() const {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir_ / "work")) n += e.is_regular_file();
    return n;
  }
  // Every line of a version through the program's own read stream, `width` x bytes a pixel
  // bytes of each.
  static std::vector<uint8_t> ReadBack(ImageState* s) {
    std::vector<uint8_t> all;
    LineReader r(s);
    const PixelRect saved = s->region;
    s->region = PixelRect{0, 0, s->width, s->height};
    if (OpenReadStream(&r, kReadSequential) == kReadOpenOk) {
      const size_t px = s->kind == IK_RGB ? 3 : 1;
      std::vector<uint8_t> line(static_cast<size_t>(s->storedLineWidth) + 8);
      for (int32_t y = 0; y < s->height; ++y) {
        if (ReadLines(&r, line.data(), kReadSequential, 0) != 1) break;
        all.insert(all.end(), line.begin(), line.begin() + static_cast<long>(px * static_cast<size_t>(s->width)));
      }
      CloseReadStream(&r);
    }
    s->region = saved;
    return all;
  }
  fs::path dir_;
  std::vector<ImageState*> chains_;
};

// Sets CancelFlag on the n-th message pump (Esc).
class EscAfter : public orb::IMessagePump {
 public:
  explicit EscAfter(int n) : left_(n) {}
  void PumpMessages() override {
    if (--left_ <= 0) CancelFlag = 1;
  }

 private:
  int left_;
};

// Installs a pump or a notifier for one scope.
class HostScope {
 public:
  explicit HostScope(orb::IMessagePump* pump, orb::INotifier* notifier = nullptr) : saved_(orb::Host()) {
    orb::EngineHost h = saved_;
    if (pump) h.pump = pump;
    if (notifier) h.notifier = notifier;
    orb::SetEngineHost(h);
  }
  ~HostScope() { orb::SetEngineHost(saved_); }

 private:
  orb::EngineHost saved_;
};

class KeptIds : public orb::INotifier {
 public:
  void ShowMessage(int id, orb::MessageIcon, const std::vector<orb::MessageArg>&) override { ids.push_back(id); }
  void ShowText(std::string_view, std::string_view, orb::MessageIcon) override {}
  std::vector<int> ids;
};

}  // namespace transform_test
