// Tool pages under a display without the program's frame: the document they work on is a
// stand-in host holding one image chain, and each test has its own data and temporary
// folders.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>
#include <wx/frame.h>
#include <wx/panel.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/AppGlobals.h"
#include "engine/ImageState.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/TiffHeader.h"
#include "engine/Settings.h"
#include "tests/common/gui/GuiTestUtil.h"
#include "tools/ToolDocumentHost.h"

namespace orbtest {

// The document as the tools see it: one image, and what the tools asked of the view.
class StandInToolHost : public orb::tools::ToolDocumentHost {
 public:
  ImageState* ActiveImage() override { return image; }
  void SetWorkingImage(ImageState* i) override { image = i; }
  void UpdateView(int hint) override { hints.push_back(hint); }
  void ImageChanged() override { ++changed; }
  std::unique_ptr<orb::tools::IApplyProgress> MakeProgress(int, int) override { return nullptr; }
  ImageState* image = nullptr;
  std::vector<int> hints;
  int changed = 0;
};

// The set-up every tool page test shares: the stand-in host installed, a folder of the
// test's own for data and temporary files (both given back afterwards), a top-level frame
// for the pages, and the image chain the host holds freed at the end.
class ToolPageFixture : public ::testing::Test {
 protected:
  ToolPageFixture(const char* frameTitle, wxSize frameSize) : frameTitle_(frameTitle), frameSize_(frameSize) {}

  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::path(::testing::TempDir()) /
           ("toolpage." + std::to_string(::getpid()) + "." + test->test_suite_name() + "." + test->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_ / "work");
    savedData_ = g_szDataFolder;
    g_szDataFolder = dir_.string();
    orb::SetTempFilesFolder((dir_ / "work").string());
    orb::tools::SetToolDocumentHost(&host_);
    frame_ = new wxFrame(nullptr, wxID_ANY, frameTitle_, wxDefaultPosition, frameSize_);
  }
  void TearDown() override {
    if (frame_) frame_->Destroy();
    PumpUntil([] { return false; }, 20);
    orb::tools::SetToolDocumentHost(nullptr);
    if (chain_) orb::FreeImageChain(chain_);
    g_szDataFolder = savedData_;
    orb::SetTempFilesFolder("");
    std::filesystem::remove_all(dir_);
  }

  // The image file at `path` as the document's only chain, probed as opening probes it.
  ImageState* Adopt(const std::string& path, uint32_t state = VS_OPENED) {
    ImageState* s = orb::NewImageState();
    s->sourcePath = path;
    LineReader probe(s);
    EXPECT_EQ(ProbeImageFile(&probe, false), 0);
    s->state = static_cast<VersionState>(state);
    s->region = PixelRect{0, 0, s->width, s->height};
    if (chain_) orb::FreeImageChain(chain_);
    chain_ = s;
    host_.image = s;
    return s;
  }

  // A page of `size` inside a frame control inside its host, as on the tools tab.
  template <class P>
  P* MakePage(wxSize size, bool showFrame) {
    auto* hostWin = new wxPanel(frame_);
    auto* frameCtl = new wxPanel(hostWin);
    auto* p = new P();
    EXPECT_TRUE(p->Create(frameCtl));
    hostWin->SetSize(size);
    frameCtl->SetSize(size);
    p->SetSize(size);
    p->Show();
    p->Layout();
    if (showFrame) frame_->Show();
    return p;
  }

  StandInToolHost host_;
  wxFrame* frame_ = nullptr;
  std::filesystem::path dir_;
  std::string savedData_;
  ImageState* chain_ = nullptr;

 private:
  const char* frameTitle_;
  wxSize frameSize_;
};

}  // namespace orbtest
