// The tools tab in the program's main frame: an opened image previews a brightness change
// in its view without touching the file, an invert applied from the tab makes a new
// version whose pixels are ImageMagick's negative, Undo brings the old pixels back, and
// the image written from the document holds the new ones.
#include <gtest/gtest.h>
#include <wx/dcmemory.h>
#include <wx/dcscreen.h>
#include <wx/docmdi.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/tglbtn.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/filedlg.h>
#include <wx/testing.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <utility>
#include <string>

#include "app/FrameCommands.h"
#include "app/Presets.h"
#include "app/gui/MainFrame.h"
#include "app/gui/OrbalonDoc.h"
#include "app/gui/ViewPropSheet.h"
#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "common/ResourceIds.h"
#include "engine/ImageState.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "scanning/ScannerEntryPoints.h"
#include "tests/common/TestUtil.h"
#include "tests/common/ProcessUtil.h"
#include "tests/common/gui/GuiTestUtil.h"
#include "tests/common/gui/MainFrameFixture.h"
#include "tools/ToolTable.h"
#include "tools/ColorClassModel.h"
#include "tools/gui/ColorClassTools.h"
#include "tools/gui/FilterPages.h"
#include "tools/gui/OutsideToolPages.h"
#include "tools/gui/ToolsPropPages.h"

namespace {

using namespace orb::tools;

using orbtest::Shell;

std::string Samples(const std::string& path, const std::string& op = "") {
  return Shell("convert '" + path + "' " + op + " -depth 8 rgb:- 2>/dev/null");
}

// The whole screen as a PNG file at `path`: the tab layouts are judged by people looking.
bool SaveScreen(const char* path) {
  wxScreenDC screen;
  const wxSize size = wxGetDisplaySize();
  wxBitmap bmp(size);
  wxMemoryDC mem(bmp);
  mem.Blit(0, 0, size.x, size.y, &screen, 0, 0);
  mem.SelectObject(wxNullBitmap);
  return bmp.ConvertToImage().SaveFile(path, wxBITMAP_TYPE_PNG);
}

class ToolTabs : public orbtest::MainFrameFixture {
 protected:
  void SetUp() override {
    BrightContSettings = orb::BrightContRecord();
    orb::SetScanningEntryPoints({});
    StartFrame();
  }
  CViewToolsPropPage* ToolsTab() { return dynamic_cast<CViewToolsPropPage*>(frame_->ViewSheet()->GetPage(1)); }
};

TEST_F(ToolTabs, PreviewApplyUndoAndSaveOnAnOpenedImage) {
  const std::string path = (files_.path() / "page.tif").string();
  ASSERT_EQ(std::system(("convert -size 120x80 -seed 5 plasma: -depth 8 -compress none '" + path + "'").c_str()), 0);
  const std::string original = Samples(path);
  auto* doc = OpenSilently(path);
  ASSERT_TRUE(doc);
  orbtest::PumpUntil([] { return false; }, 20);
  CViewToolsPropPage* tab = ToolsTab();
  ASSERT_TRUE(tab);
  EXPECT_EQ(tab->AttachedImage(), doc->WorkingImage());
  EXPECT_TRUE(tab->Button(kToolInvert)->IsShown());

  // Brightness: the view changes, the file does not.
  COrbalonCanvas* canvas = doc->View()->Canvas();
  const wxImage before = canvas->Snapshot();
  tab->OnToolButton(kToolBrightCont);
  auto* bc = dynamic_cast<CBrightContTools*>(tab->Page(kToolBrightCont));
  ASSERT_TRUE(bc);
  auto* slider = dynamic_cast<wxSlider*>(bc->FindWindow(1021));
  slider->SetValue(180);
  bc->OnHScroll(4, 180, 1021);
  orbtest::PumpUntil([] { return false; }, 10);
  EXPECT_EQ(BrightContSettings.Brightness, 80);
  EXPECT_EQ(doc->WorkingImage()->brightnessPending, 1);
  const wxImage after = canvas->Snapshot();
  ASSERT_TRUE(before.IsOk() && after.IsOk());
  const int cx = after.GetWidth() / 2, cy = after.GetHeight() / 2;
  EXPECT_GT(after.GetRed(cx, cy) + after.GetGreen(cx, cy), before.GetRed(cx, cy) + before.GetGreen(cx, cy));
  EXPECT_EQ(Samples(path), original);
  bc->OnReset();  // back to 0: the pending filter changes nothing any more

  // Invert from the tab: a new version with ImageMagick's negative.
  tab->OnToolButton(kToolInvert);
  ImageState* old = doc->WorkingImage();
  tab->Page(kToolInvert)->OnOK();
  orbtest::PumpUntil([] { return false; }, 10);
  ImageState* inverted = doc->WorkingImage();
  ASSERT_NE(inverted, old);
  EXPECT_EQ(inverted->prev, old);
  EXPECT_EQ(Samples(inverted->sourcePath), Samples(path, "-negate"));

  // Undo: the opened pixels are what the document holds again.
  wxCommandEvent undo(wxEVT_MENU, orb::res::WxCommandId(orb::frame_cmds::kUndo));
  undo.SetEventObject(frame_);
  frame_->ProcessWindowEvent(undo);
  EXPECT_EQ(doc->WorkingImage(), old);
  EXPECT_EQ(Samples(path), original);

  // Apply again.
  tab->OnToolButton(kToolInvert);
  tab->Page(kToolInvert)->OnOK();
  ASSERT_NE(doc->WorkingImage(), old);
  // The image written from the document holds the negative.
  const std::string copy = (files_.path() / "copy.tif").string();
  ASSERT_TRUE(COrbalonDoc::WriteImageFile(OF_TIFF, doc, copy));
  EXPECT_EQ(Samples(copy), Samples(path, "-negate"));
  EXPECT_NE(Shell("tiffinfo '" + copy + "' 2>&1").find("Image Width: 120"), std::string::npos);
}

// A preset loaded while the tabs exist shows in the tool pages at once; a damaged value in
// its file comes back into its range.
TEST_F(ToolTabs, ALoadedPresetShowsInTheToolPages) {
  const std::filesystem::path folder = data_.path() / "presets" / "Fam";
  std::filesystem::create_directories(folder);
  auto le32 = [](std::string& out, int32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(static_cast<uint32_t>(v) >> (8 * i)));
  };
  std::string brc, sha;
  le32(brc, 40);
  le32(brc, 900);  // contrast beyond 100
  brc.append("\1\0\0\0", 4);
  le32(sha, -3);
  le32(sha, 0);
  for (auto [ext, bytes] : {std::pair{"brc", brc}, std::pair{"sha", sha}})
    std::ofstream(folder / (std::string("P.") + ext), std::ios::binary) << bytes;
  CViewToolsPropPage* tab = ToolsTab();
  ASSERT_TRUE(tab);
  orb::presets::PresetStore store(data_.path().string(), "Fam");
  const auto result = store.Load("P");
  EXPECT_EQ(result.toolsLoaded, 2);
  EXPECT_EQ(BrightContSettings.Brightness, 40);
  EXPECT_EQ(BrightContSettings.Contrast, 100);
  auto* bright = tab->Page(kToolBrightCont);
  EXPECT_EQ(dynamic_cast<wxSlider*>(bright->FindWindow(1021))->GetValue(), 140);
  EXPECT_EQ(dynamic_cast<wxSlider*>(bright->FindWindow(1078))->GetValue(), 200);
  EXPECT_EQ(dynamic_cast<wxStaticText*>(bright->FindWindow(1026))->GetLabel(), "100");
  EXPECT_EQ(SharpenSettings.Level, -3);
  EXPECT_EQ(dynamic_cast<wxStaticText*>(tab->Page(kToolSharpen)->FindWindow(1180))->GetLabel(), "-3");
  // The toggle of the loaded record reaches the button.
  orbtest::PumpUntil([&] { return tab->ShowsEnabled(kToolBrightCont); }, 200);
  EXPECT_TRUE(tab->ShowsEnabled(kToolBrightCont));
  BrightContSettings = orb::BrightContRecord();
  SharpenSettings = orb::SharpenRecord();
}

// The tools tab shows the chosen tool's page beside the image. With ORB_TOOLS_SHOT set the
// screen is saved there as a PNG (to look at the tab).
TEST_F(ToolTabs, ToolsTabShowsTheChosenToolPage) {
  const std::string path = (files_.path() / "shot.tif").string();
  ASSERT_EQ(std::system(("convert -size 600x400 -seed 8 plasma: -depth 8 -compress none '" + path + "'").c_str()), 0);
  auto* doc = OpenSilently(path);
  ASSERT_TRUE(doc);
  frame_->ViewSheet()->SetActivePage(1);
  CViewToolsPropPage* tab = ToolsTab();
  tab->OnToolButton(kToolBrightCont);
  orbtest::PumpUntil([] { return false; }, 50);
  EXPECT_TRUE(tab->IsShownOnScreen());
  EXPECT_TRUE(tab->Page(kToolBrightCont)->IsShownOnScreen());
  EXPECT_TRUE(tab->FindWindow(1021)->IsShownOnScreen());
  if (const char* shot = std::getenv("ORB_TOOLS_SHOT")) {
    EXPECT_TRUE(SaveScreen(shot));
  }
}

// The other tools tab offers the colours tool on a colour image and shows its page with
// the classification control. With ORB_TOOLS_SHOT_OTHER set the screen is saved there.
TEST_F(ToolTabs, OtherToolsTabShowsTheColoursPage) {
  const std::string path = (files_.path() / "map.tif").string();
  ASSERT_EQ(std::system(("convert -size 600x400 -seed 3 plasma: -depth 8 -compress none '" + path + "'").c_str()), 0);
  auto* doc = OpenSilently(path);
  ASSERT_TRUE(doc);
  frame_->ViewSheet()->SetActivePage(2);
  auto* tab = dynamic_cast<COtherToolsPropPage*>(frame_->ViewSheet()->GetPage(2));
  ASSERT_TRUE(tab);
  orbtest::PumpUntil([] { return false; }, 20);
  ASSERT_TRUE(tab->Button(kToolColorClass)->IsShown());
  tab->OnToolButton(kToolColorClass);
  orbtest::PumpUntil([] { return false; }, 50);
  auto* page = dynamic_cast<CColorClassTools*>(tab->Page(kToolColorClass));
  ASSERT_TRUE(page) << "the colours page was not made (no classification control?)";
  EXPECT_TRUE(page->IsShownOnScreen());
  EXPECT_TRUE(page->FindWindow(CColorClassTools::kClassify)->IsEnabled());
  EXPECT_FALSE(page->FindWindow(CColorClassTools::kApply)->IsEnabled());
  if (const char* shot = std::getenv("ORB_TOOLS_SHOT_OTHER")) {
    EXPECT_TRUE(SaveScreen(shot));
  }
}

// The classification dialog, while it is shown.
wxWindow* ClassificationDialog() {
  for (wxWindow* w : wxTopLevelWindows) {
    if (w->GetLabel() == "Color Classification" && !w->IsBeingDeleted() && w->IsShown()) return w;
  }
  return nullptr;
}

size_t DistinctColours(const wxImage& image) {
  std::set<uint32_t> seen;
  const unsigned char* p = image.GetData();
  for (int i = 0; i < image.GetWidth() * image.GetHeight(); ++i, p += 3) seen.insert(p[0] << 16 | p[1] << 8 | p[2]);
  return seen.size();
}

// The save dialog of the palette answered with a path.
class SavePaletteAnswer : public wxExpectModalBase<wxFileDialog, SavePaletteAnswer> {
 public:
  explicit SavePaletteAnswer(const wxString& path) : m_path(path) {}

 protected:
  int OnInvoked(wxFileDialog* dlg) const override {
    dlg->SetPath(m_path);
    return wxID_OK;
  }
  wxString GetDefaultDescription() const override { return "palette save dialog"; }

 private:
  wxString m_path;
};

class ColoursInTheProgram : public ToolTabs {
 protected:
  // Opens a plasma image of many colours and shows the colours page on it.
  CColorClassTools* OpenWithColoursPage(COrbalonDoc** docOut) {
    const std::string path = (files_.path() / "map.tif").string();
    EXPECT_EQ(std::system(("convert -size 160x100 -seed 3 plasma: -depth 8 -compress none '" + path + "'").c_str()), 0);
    auto* doc = OpenSilently(path);
    if (!doc) return nullptr;
    *docOut = doc;
    frame_->ViewSheet()->SetActivePage(2);
    auto* tab = dynamic_cast<COtherToolsPropPage*>(frame_->ViewSheet()->GetPage(2));
    if (!tab) return nullptr;
    orbtest::PumpUntil([] { return false; }, 20);
    tab->OnToolButton(kToolColorClass);
    orbtest::PumpUntil([] { return false; }, 20);
    auto* page = dynamic_cast<CColorClassTools*>(tab->Page(kToolColorClass));
    if (!page) return nullptr;
    ColorClassSettings.NumColors = 4;
    page->UpdateControls();
    return page;
  }
  void ClickOk(wxWindow* dialog) {
    auto* ok = wxDynamicCast(dialog->FindWindow(wxID_OK), wxButton);
    ASSERT_NE(ok, nullptr);
    wxCommandEvent click(wxEVT_BUTTON, wxID_OK);
    click.SetEventObject(ok);
    ok->ProcessWindowEvent(click);
  }
};

// In the running program: classify an opened image, the view shows it through the palette,
// OK saves the ".apt", Apply converts the image into a palette image and the separation
// writes one black-and-white image per colour; the files are read back with ImageMagick
// and tiffinfo.
TEST_F(ColoursInTheProgram, ClassifySeeSaveConvertAndSeparate) {
  COrbalonDoc* doc = nullptr;
  CColorClassTools* page = OpenWithColoursPage(&doc);
  ASSERT_TRUE(page) << "no colours page (classification control not loaded?)";
  COrbalonCanvas* canvas = doc->View()->Canvas();
  EXPECT_GT(DistinctColours(canvas->Snapshot()), 500u);

  page->OnBuildHistogram();
  ASSERT_TRUE(orbtest::PumpUntil([] { return ClassificationDialog() != nullptr; }, 3000));
  ASSERT_TRUE(orbtest::PumpUntil([] { return orb::HasStatus(orb::StatusBit::ClassPreview); }, 3000));
  orbtest::PumpUntil([] { return false; }, 40);  // the dialog's refresh
  EXPECT_EQ(page->Reported().colours, 4u);
  // Four palette colours, plus the view's background around the image.
  const wxImage through = canvas->Snapshot();
  EXPECT_LE(DistinctColours(through), 6u);
  const std::array<uint8_t, 768>& pal = page->Reported().palette;
  const unsigned char* centre = through.GetData() + 3 * (through.GetHeight() / 2 * through.GetWidth() + through.GetWidth() / 2);
  bool inPalette = false;
  for (int i = 0; i < 4; ++i) inPalette |= centre[0] == pal[3 * i] && centre[1] == pal[3 * i + 1] && centre[2] == pal[3 * i + 2];
  EXPECT_TRUE(inPalette);

  const std::string apt = (files_.path() / "classes.apt").string();
  SavePaletteAnswer answer(wxString::FromUTF8(apt));
  wxTEST_DIALOG(ClickOk(ClassificationDialog()), answer);
  ASSERT_TRUE(orbtest::PumpUntil([] { return ClassificationDialog() == nullptr; }, 3000));
  EXPECT_FALSE(orb::HasStatus(orb::StatusBit::ClassPreview));
  EXPECT_GT(DistinctColours(canvas->Snapshot()), 500u);  // the view shows the image again
  EXPECT_EQ(orb::GetPathField(ColorClassSettings.PaletteFile), apt);
  auto file = std::make_unique<PaletteFile>();
  ASSERT_TRUE(LoadPalette(apt, *file, true));
  EXPECT_EQ(file->M + 1, 4);

  auto* separate = dynamic_cast<wxCheckBox*>(page->FindWindow(CColorClassTools::kSeparate));
  separate->SetValue(true);
  page->OnApply();
  const auto targets = SeparationTargets((files_.path() / "map.tif").string(), 4);
  ASSERT_EQ(targets.size(), 4u);
  size_t black = 0;
  for (const std::string& t : targets) {
    SCOPED_TRACE(t);
    EXPECT_NE(Shell("tiffinfo '" + t + "' 2>&1").find("Bits/Sample: 1"), std::string::npos);
    const std::string grey = Samples(t, "-colorspace gray");
    ASSERT_EQ(grey.size(), 160u * 100u * 3u);
    for (size_t i = 0; i < grey.size(); i += 3) black += grey[i] == 0;
  }
  EXPECT_EQ(black, 160u * 100u);  // every pixel is black on exactly one plate
  separate->SetValue(false);

  ImageState* source = doc->WorkingImage();
  page->OnApply();
  ImageState* converted = doc->WorkingImage();
  ASSERT_NE(converted, source);
  EXPECT_EQ(converted->kind, IK_PALETTE16);
  EXPECT_NE(Shell("identify -format '%w %h %[type]' '" + converted->sourcePath + "'").find("160 100 Palette"),
            std::string::npos);
}

// The document closes while the dialog is open, then the program closes with it still
// open: nothing crashes, the dialog works on without the document and goes with the program.
TEST_F(ColoursInTheProgram, DocumentAndProgramCloseWhileTheDialogIsOpen) {
  COrbalonDoc* doc = nullptr;
  CColorClassTools* page = OpenWithColoursPage(&doc);
  ASSERT_TRUE(page);
  page->OnBuildHistogram();
  ASSERT_TRUE(orbtest::PumpUntil([] { return ClassificationDialog() != nullptr; }, 3000));
  doc->SetDiscardChanges(true);
  ASSERT_TRUE(manager_->CloseDocuments(true));
  orbtest::PumpUntil([] { return false; }, 60);
  ASSERT_NE(ClassificationDialog(), nullptr);
  // Picking with no image does nothing; the next report finds no view.
  page->RequestCurrentColor();
  orbtest::PumpUntil([] { return false; }, 10);
  // TearDown closes the program with the dialog still open.
}

// The outside editor page in the running program: the test script, run as the editor,
// blackens the image's file, and the view then shows the file as it now is, whether the
// program reads the file itself (uncompressed TIFF) or through its decoded copy (PNG).
TEST_F(ToolTabs, OutsideEditorShowsTheImageItChanged) {
  const orb::EditorRecord saved = EditorSettings;
  const std::string editor = (files_.path() / "blacken.sh").string();
  std::ofstream(editor) << "#!/bin/sh\nconvert \"$1\" -fill black -colorize 100 \"$1\"\n";
  ::chmod(editor.c_str(), 0755);
  orb::SetPathField(EditorSettings.AppName, editor);
  EditorSettings.enabled = 0;  // not run again when the document closes
  for (const char* name : {"light.tif", "light.png"}) {
    SCOPED_TRACE(name);
    const std::string path = (files_.path() / name).string();
    ASSERT_EQ(std::system(("convert -size 200x160 xc:gray85 -depth 8 -compress none '" + path + "'").c_str()), 0);
    auto* doc = OpenSilently(path);
    ASSERT_TRUE(doc);
    frame_->ViewSheet()->SetActivePage(2);
    auto* tab = dynamic_cast<COtherToolsPropPage*>(frame_->ViewSheet()->GetPage(2));
    ASSERT_TRUE(tab);
    orbtest::PumpUntil([] { return false; }, 20);
    tab->OnToolButton(kToolEditor);
    auto* page = dynamic_cast<CEditorTools*>(tab->Page(kToolEditor));
    ASSERT_TRUE(page);
    COrbalonCanvas* canvas = doc->View()->Canvas();
    const wxImage before = canvas->Snapshot();
    ASSERT_TRUE(before.IsOk());
    const int cx = before.GetWidth() / 2, cy = before.GetHeight() / 2;
    EXPECT_GT(before.GetGreen(cx, cy), 150);

    EXPECT_EQ(page->Apply(), 0);
    orbtest::PumpUntil([] { return false; }, 20);
    EXPECT_EQ(Shell("convert '" + path + "' -format '%[fx:int(255*maxima)]' info:"), "0") << "the editor ran";
    const wxImage after = canvas->Snapshot();
    ASSERT_TRUE(after.IsOk());
    EXPECT_LT(after.GetGreen(cx, cy), 40) << "the view shows the file as the editor left it";
    EXPECT_EQ(doc->WorkingImage(), doc->FileImage());
    EXPECT_EQ(doc->WorkingImage()->sourcePath, path);
    doc->SetDiscardChanges(true);
    manager_->CloseDocument(doc, true);
    orbtest::PumpUntil([] { return false; }, 10);
  }
  EditorSettings = saved;
}

}  // namespace
