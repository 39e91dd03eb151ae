// The colour-classification page with the real classification control (libtintwell.so
// from the program folder) on an opened image: classify, see the image through the
// palette, OK saves the ".apt", the palette converts the image and separates it by colour;
// every file written is read back with ImageMagick or tiffinfo.
#include <gtest/gtest.h>
#include <unistd.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/spinctrl.h>
#include <wx/frame.h>
#include <wx/stattext.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "common/AppGlobals.h"
#include "engine/AppStatus.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/ReadWrite/TiffHeader.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "tests/common/TestUtil.h"
#include "tests/common/ProcessUtil.h"
#include "tests/common/gui/GuiTestUtil.h"
#include "tests/common/gui/ToolPageFixture.h"
#include "tools/ColorClassModel.h"
#include "tools/ToolDocumentHost.h"
#include "tools/gui/ColorClassTools.h"

namespace {

namespace fs = std::filesystem;
using namespace orb::tools;

using orbtest::Shell;

// The page with its file dialog answered.
class Page : public CColorClassTools {
 public:
  std::string savePath;
  int saveAsked = 0;

 protected:
  std::optional<std::string> ChooseSavePath(const std::string&) override {
    ++saveAsked;
    if (savePath.empty()) return std::nullopt;
    return savePath;
  }
};

wxWindow* ClassificationDialog() {
  for (wxWindow* w : wxTopLevelWindows) {
    if (w->GetLabel() == "Color Classification" && !w->IsBeingDeleted() && w->IsShown()) return w;
  }
  return nullptr;
}

class ColorClassPage : public orbtest::ToolPageFixture {
 protected:
  ColorClassPage() : ToolPageFixture("tools", wxSize(420, 700)) {}
  void SetUp() override {
    ToolPageFixture::SetUp();
    g_szProgramFolder = orbtest::ProgramFolder().string();
    ColorClassSettings = {};
    ColorClassSettings.NumColors = 4;
    AppStatus = 0;
    auto* frameCtl = new wxPanel(frame_);
    page_ = new Page();
    ASSERT_TRUE(page_->Create(frameCtl));
    frameCtl->SetSize(400, 650);
    page_->SetSize(400, 650);
    page_->Show();
    frame_->Show();
  }
  void TearDown() override {
    ToolPageFixture::TearDown();
    AppStatus = 0;
  }
  // A map of four colour bands (red, green, blue, white), 10 columns each, 8 lines.
  ImageState* OpenMap() {
    const std::string path = (dir_ / "map.tif").string();
    EXPECT_EQ(std::system(("convert -size 10x8 xc:red xc:lime xc:blue xc:white +append -depth 8 -compress none '" +
                           path + "'").c_str()),
              0);
    return Adopt(path);
  }
  bool Enabled(int id) const { return page_->FindWindow(id)->IsEnabled(); }

  Page* page_ = nullptr;
};

TEST_F(ColorClassPage, ClassifySeeThroughThePaletteSaveConvertAndSeparate) {
  ASSERT_TRUE(page_->HasControl()) << "libtintwell.so not loaded from " << g_szProgramFolder;
  ImageState* image = OpenMap();
  page_->UpdateControls();
  EXPECT_TRUE(Enabled(CColorClassTools::kClassify));
  EXPECT_FALSE(Enabled(CColorClassTools::kApply));  // no palette file yet
  EXPECT_FALSE(Enabled(CColorClassTools::kEdit));

  // Classify: the dialog opens and the view is drawn through the reported palette.
  page_->OnBuildHistogram();
  ASSERT_TRUE(orbtest::PumpUntil([&] { return page_->Reported().colours > 0; }, 3000));
  wxWindow* dialog = ClassificationDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_FALSE(Enabled(CColorClassTools::kClassify));
  ASSERT_TRUE(image->lookupTable);
  const uint8_t red = image->lookupTable[orb::PaletteCell(255, 0, 0)];
  const uint8_t blue = image->lookupTable[orb::PaletteCell(0, 0, 255)];
  EXPECT_NE(red, blue);
  EXPECT_GT(image->classPalette[red].red, 200);
  EXPECT_LT(image->classPalette[red].blue, 60);
  EXPECT_GT(image->classPalette[blue].blue, 200);
  EXPECT_NE(std::find(host_.hints.begin(), host_.hints.end(), kViewHintRepaint), host_.hints.end());
  ASSERT_TRUE(orbtest::PumpUntil([] { return orb::HasStatus(orb::StatusBit::ClassPreview); }, 3000));

  // OK: the palette is saved as a palette file through the save dialog.
  page_->savePath = (dir_ / "classes.apt").string();
  auto* ok = wxDynamicCast(dialog->FindWindow(wxID_OK), wxButton);
  ASSERT_NE(ok, nullptr);
  wxCommandEvent click(wxEVT_BUTTON, wxID_OK);
  click.SetEventObject(ok);
  ok->ProcessWindowEvent(click);
  ASSERT_TRUE(orbtest::PumpUntil([] { return ClassificationDialog() == nullptr; }, 3000));
  EXPECT_EQ(page_->saveAsked, 1);
  EXPECT_FALSE(orb::HasStatus(orb::StatusBit::ClassPreview));
  EXPECT_EQ(orb::GetPathField(ColorClassSettings.PaletteFile), page_->savePath);
  auto file = std::make_unique<PaletteFile>();
  ASSERT_TRUE(LoadPalette(page_->savePath, *file, true));
  EXPECT_EQ(static_cast<uint32_t>(file->M) + 1, page_->Reported().colours);
  EXPECT_EQ(file->Lookup[orb::PaletteCell(255, 0, 0)], red);
  const wxString info = dynamic_cast<wxStaticText*>(page_->FindWindow(CColorClassTools::kInfo))->GetLabel();
  EXPECT_TRUE(info.Contains(wxString::Format("%u", page_->Reported().colours))) << info;
  EXPECT_TRUE(Enabled(CColorClassTools::kApply));
  EXPECT_TRUE(Enabled(CColorClassTools::kEdit));

  // Apply: a palette image in a new version whose colours are the palette's.
  page_->OnApply();
  ASSERT_NE(host_.image, image);
  ImageState* converted = host_.image;
  EXPECT_TRUE(converted->kind == IK_PALETTE16 || converted->kind == IK_PALETTE256);
  EXPECT_NE(Shell("identify -format '%w %h %[type]' '" + converted->sourcePath + "'").find("40 8 Palette"),
            std::string::npos);
  const std::string rgb = Shell("convert '" + converted->sourcePath + "' -depth 8 rgb:- 2>/dev/null");
  ASSERT_EQ(rgb.size(), 40u * 8u * 3u);
  EXPECT_EQ(static_cast<uint8_t>(rgb[0]), file->OutputPalette[3 * red]);
  EXPECT_EQ(static_cast<uint8_t>(rgb[3 * 25 + 2]), file->OutputPalette[3 * blue + 2]);

  // Separation: one black-and-white image per colour beside the source.
  host_.image = image;
  dynamic_cast<wxCheckBox*>(page_->FindWindow(CColorClassTools::kSeparate))->SetValue(true);
  page_->OnApply();
  EXPECT_EQ(host_.image, image);
  const auto targets = SeparationTargets(image->sourcePath, file->M + 1);
  for (size_t k = 0; k < targets.size(); ++k) {
    SCOPED_TRACE(targets[k]);
    ASSERT_TRUE(fs::exists(targets[k]));
    EXPECT_NE(Shell("tiffinfo '" + targets[k] + "' 2>&1").find("Bits/Sample: 1"), std::string::npos);
  }
  const std::string redPlate = Shell("convert '" + targets[red] + "' -depth 8 gray:- 2>/dev/null");
  ASSERT_EQ(redPlate.size(), 320u);
  EXPECT_EQ(static_cast<uint8_t>(redPlate[0]), 0);     // red: black on its plate
  EXPECT_EQ(static_cast<uint8_t>(redPlate[35]), 255);  // white: not on it
}

TEST_F(ColorClassPage, CancelKeepsThePathAndAnUnreadablePaletteDoesNothing) {
  ASSERT_TRUE(page_->HasControl());
  ImageState* image = OpenMap();
  orb::SetPathField(ColorClassSettings.PaletteFile, (dir_ / "old.apt").string());
  // The user's palette file is damaged: Edit and Apply say so and change nothing.
  { std::ofstream((dir_ / "old.apt").string()) << "not a palette"; }
  page_->UpdateControls();
  EXPECT_EQ(dynamic_cast<wxStaticText*>(page_->FindWindow(CColorClassTools::kInfo))->GetLabel(), "");
  page_->OnClassify();
  EXPECT_EQ(ClassificationDialog(), nullptr);
  page_->OnApply();
  EXPECT_EQ(host_.image, image);
  // Classify, then OK without choosing a file: the old path stays.
  page_->OnBuildHistogram();
  ASSERT_TRUE(orbtest::PumpUntil([&] { return ClassificationDialog() != nullptr; }, 3000));
  auto* ok = wxDynamicCast(ClassificationDialog()->FindWindow(wxID_OK), wxButton);
  ASSERT_NE(ok, nullptr);
  wxCommandEvent click(wxEVT_BUTTON, wxID_OK);
  click.SetEventObject(ok);
  ok->ProcessWindowEvent(click);
  ASSERT_TRUE(orbtest::PumpUntil([] { return ClassificationDialog() == nullptr; }, 3000));
  EXPECT_EQ(page_->saveAsked, 1);
  EXPECT_EQ(orb::GetPathField(ColorClassSettings.PaletteFile), (dir_ / "old.apt").string());
}

// Forty well separated colours, 5 pixels each, in one 200 x 1 line: the TIFF's path.
std::string WriteColours(const fs::path& dir) {
  const std::string path = (dir / "colours.ppm").string();
  {
    std::ofstream out(path, std::ios::binary);
    out << "P6 200 1 255\n";
    for (int i = 0; i < 40; ++i) {
      const char px[3] = {static_cast<char>(16 + 32 * (i % 8)), static_cast<char>(20 + 50 * (i / 8)), static_cast<char>(i % 2 ? 40 : 200)};
      for (int k = 0; k < 5; ++k) out.write(px, 3);
    }
  }
  const std::string tif = (dir / "colours.tif").string();
  EXPECT_EQ(std::system(("convert '" + path + "' -depth 8 -compress none '" + tif + "'").c_str()), 0);
  return tif;
}

// A first start (no "ColorClass.flt" yet) offers 256 colours: classifying an image of
// forty colours gives all forty, where a single colour would leave the dialog nothing to
// re-classify to.
TEST_F(ColorClassPage, FirstStartClassifiesToAllTheImagesColours) {
  // The fixture's page wrote its record on closing: this start has none.
  frame_->Destroy();
  frame_ = nullptr;
  orbtest::PumpUntil([] { return false; }, 20);
  fs::remove(dir_ / "ColorClass.flt");
  ColorClassSettings = orb::ColorClassRecord{};
  frame_ = new wxFrame(nullptr, wxID_ANY, "tools", wxDefaultPosition, wxSize(420, 700));
  page_ = new Page();
  ASSERT_TRUE(page_->Create(new wxPanel(frame_)));
  frame_->Show();
  ASSERT_TRUE(page_->HasControl());
  EXPECT_EQ(dynamic_cast<wxSpinCtrl*>(page_->FindWindow(CColorClassTools::kColours))->GetValue(), 256);
  Adopt(WriteColours(dir_));
  page_->UpdateControls();
  page_->OnBuildHistogram();
  ASSERT_TRUE(orbtest::PumpUntil([&] { return page_->Reported().colours > 0; }, 3000));
  EXPECT_EQ(page_->Reported().colours, 40u);
}

// The page goes (the program closes) while its classification dialog is open: the dialog
// goes with it, the view's classification bits are cleared, and a new page classifies again.
TEST_F(ColorClassPage, PageClosedWithTheDialogOpenTakesTheDialogAlong) {
  ASSERT_TRUE(page_->HasControl());
  OpenMap();
  page_->UpdateControls();
  page_->OnBuildHistogram();
  ASSERT_TRUE(orbtest::PumpUntil([] { return ClassificationDialog() != nullptr; }, 3000));
  orb::SetStatus(orb::StatusBit::ColourPickRequested);
  frame_->Destroy();
  frame_ = nullptr;
  orbtest::PumpUntil([] { return false; }, 50);
  for (wxWindow* w : wxTopLevelWindows) EXPECT_NE(w->GetLabel(), "Color Classification");
  EXPECT_FALSE(orb::HasStatus(orb::StatusBit::ClassPreview));
  EXPECT_FALSE(orb::HasStatus(orb::StatusBit::ClassRgb));
  EXPECT_FALSE(orb::HasStatus(orb::StatusBit::ColourPickRequested));

  frame_ = new wxFrame(nullptr, wxID_ANY, "tools", wxDefaultPosition, wxSize(420, 700));
  page_ = new Page();
  ASSERT_TRUE(page_->Create(new wxPanel(frame_)));
  frame_->Show();
  page_->UpdateControls();
  page_->OnBuildHistogram();
  EXPECT_TRUE(orbtest::PumpUntil([] { return ClassificationDialog() != nullptr; }, 3000));
}

// The document goes and the page is hidden while the dialog is open: the classification
// lives in the control, so the dialog keeps working and OK still saves its palette.
TEST_F(ColorClassPage, DocumentClosedAndPageHiddenWithTheDialogOpen) {
  ASSERT_TRUE(page_->HasControl());
  OpenMap();
  page_->UpdateControls();
  page_->OnBuildHistogram();
  ASSERT_TRUE(orbtest::PumpUntil([] { return ClassificationDialog() != nullptr; }, 3000));
  const uint32_t colours = page_->Reported().colours;
  ASSERT_GT(colours, 0u);
  // Before the dialog's refresh reports again.
  host_.image = nullptr;
  orb::FreeImageChain(chain_);
  chain_ = nullptr;
  page_->Hide();
  page_->UpdateControls();
  orbtest::PumpUntil([] { return false; }, 60);  // the refresh (250 ms) reports to a page without an image
  ASSERT_NE(ClassificationDialog(), nullptr);
  EXPECT_FALSE(Enabled(CColorClassTools::kClassify));

  page_->savePath = (dir_ / "kept.apt").string();
  wxWindow* dialog = ClassificationDialog();
  auto* ok = wxDynamicCast(dialog->FindWindow(wxID_OK), wxButton);
  ASSERT_NE(ok, nullptr);
  wxCommandEvent click(wxEVT_BUTTON, wxID_OK);
  click.SetEventObject(ok);
  ok->ProcessWindowEvent(click);
  ASSERT_TRUE(orbtest::PumpUntil([] { return ClassificationDialog() == nullptr; }, 3000));
  EXPECT_FALSE(orb::HasStatus(orb::StatusBit::ClassRgb));
  auto file = std::make_unique<PaletteFile>();
  ASSERT_TRUE(LoadPalette(page_->savePath, *file, true));
  EXPECT_EQ(static_cast<uint32_t>(file->M) + 1, colours);
}

}  // namespace
