// Documents and views in the running toolkit: opening TIFF, JPEG and PNG files into views
// that are drawn, save-as JPEG through the real dialogs, the close question, and the
// progress and output option dialogs.
#include <gtest/gtest.h>
#include <wx/checkbox.h>
#include <wx/fileconf.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/slider.h>
#include <wx/testing.h>
#include <wx/textctrl.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "common/AppGlobals.h"
#include "app/Document.h"
#include "app/SaveFormats.h"
#include "app/gui/MainFrame.h"
#include "app/gui/OrbalonDoc.h"
#include "app/gui/OutputOptionDlgs.h"
#include "app/gui/ProgressDlg.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/Settings.h"
#include "tests/common/ProcessUtil.h"
#include "tests/common/TestUtil.h"
#include "tests/app/doc_test_util.h"
#include "tests/common/gui/GuiTestUtil.h"
#include "tests/common/gui/MainFrameFixture.h"

namespace {

namespace fs = std::filesystem;

// The save-as dialog answered with a path and a file type.
class SaveAsAnswer : public wxExpectModalBase<wxFileDialog, SaveAsAnswer> {
 public:
  SaveAsAnswer(const wxString& path, int filterIndex) : m_path(path), m_index(filterIndex) {}

 protected:
  int OnInvoked(wxFileDialog* dlg) const override {
    dlg->SetFilterIndex(m_index);
    dlg->SetPath(m_path);
    return wxID_OK;
  }
  wxString GetDefaultDescription() const override { return "save-as dialog"; }

 private:
  wxString m_path;
  int m_index;
};

// The quality dialog answered with a slider position and OK.
class QualityAnswer : public wxExpectModalBase<CJpegQuality, QualityAnswer> {
 public:
  explicit QualityAnswer(int quality) : m_quality(quality) {}
  mutable int seenKind = 0;

 protected:
  int OnInvoked(CJpegQuality* dlg) const override {
    dlg->SetQuality(m_quality);
    return wxID_OK;
  }
  wxString GetDefaultDescription() const override { return "quality dialog"; }

 private:
  int m_quality;
};

class DocGui : public orbtest::MainFrameFixture {
 protected:
  void SetUp() override { StartFrame({.size = wxSize(1200, 900)}); }
  COrbalonDoc* Open(const std::string& path) {
    COrbalonDoc* doc = OpenSilently(path);
    orbtest::PumpUntil([] { return false; }, 30);
    return doc;
  }
};

// A picture with a red left half and a blue right half over a vertical grey ramp.
doctest::Pattern Halves(int32_t w, int32_t h) {
  return {w, h, 24, false, [w, h](int32_t x, int32_t y, int c) {
            const uint8_t ramp = static_cast<uint8_t>(y * 100 / h);
            if (x < w / 2) return static_cast<uint8_t>(c == 0 ? 220 : ramp);
            return static_cast<uint8_t>(c == 2 ? 220 : ramp);
          }};
}

TEST_F(DocGui, OpensTiffJpegAndPngIntoDrawnViews) {
  struct File {
    const char* name;
    uint32_t format;
  } files[] = {{"plan.tif", OF_TIFF}, {"photo.jpg", OF_JPEG}, {"map.png", OF_PNG}};
  for (const auto& f : files) {
    ASSERT_TRUE(doctest::WritePattern(Path(f.name), f.format, Halves(1200, 600))) << f.name;
    COrbalonDoc* doc = Open(Path(f.name));
    ASSERT_TRUE(doc) << f.name;
    COrbalonView* view = doc->View();
    ASSERT_TRUE(view && view->Canvas());
    EXPECT_EQ(doc->WorkingImage()->width, 1200);
    EXPECT_TRUE(doc->GetTitle().Contains(wxString::FromUTF8(f.name))) << doc->GetTitle();
    EXPECT_TRUE(frame_->GetLabel().Contains(wxString::FromUTF8(f.name)));
    // The display is fitted to the window as it is now.
    const orb::DisplayImage* display = orb::AsDisplayImage(doc->WorkingImage()->bitmaps[2]);
    ASSERT_TRUE(display);
    EXPECT_GE(display->width, view->Canvas()->ClientRect().Width()) << f.name;
    wxImage shot = view->Canvas()->Snapshot();
    ASSERT_TRUE(shot.IsOk());
    KeepScreenshot(shot, (std::string("view-") + f.name + ".png").c_str());
    // The picture fills the width, centred vertically: red at the left, blue at the right.
    const int cy = shot.GetHeight() / 2;
    const int lx = shot.GetWidth() / 4, rx = shot.GetWidth() * 3 / 4;
    EXPECT_GT(shot.GetRed(lx, cy), 180) << f.name;
    EXPECT_LT(shot.GetBlue(lx, cy), 120) << f.name;
    EXPECT_GT(shot.GetBlue(rx, cy), 180) << f.name;
    // Above and below the picture: the view's background.
    EXPECT_EQ(shot.GetRed(lx, 1), 255);
    EXPECT_EQ(shot.GetBlue(lx, 1), 240);
  }
  EXPECT_EQ(manager_->GetDocumentsVector().size(), 3u);
}

TEST_F(DocGui, SaveAsJpegAtQuality80ThroughTheDialogs) {
  ASSERT_TRUE(doctest::WritePattern(Path("source.tif"), OF_TIFF, Halves(400, 300)));
  COrbalonDoc* doc = Open(Path("source.tif"));
  ASSERT_TRUE(doc);
  const std::string target = Path("copy.jpg");
  wxTEST_DIALOG(doc->ShowSaveAsDialog(), SaveAsAnswer(wxString::FromUTF8(target), 0), QualityAnswer(80));
  EXPECT_EQ(MiscSettings.JpegQualityColour, 80);
  EXPECT_EQ(MiscSettings.LastSaveAsType, 1);
  EXPECT_EQ(orb::TextField(MiscSettings.LastSaveAsPath), target);
  doctest::Decoded d = doctest::DecodeFile(target);
  ASSERT_EQ(d.width, 400);
  ASSERT_EQ(d.height, 300);
  EXPECT_NEAR(d.rows[150][3 * 50], 220, 12);
  EXPECT_NEAR(d.rows[150][3 * 350 + 2], 220, 12);
  // The document keeps its own file.
  EXPECT_EQ(doc->FileImage()->sourcePath, Path("source.tif"));
  // Saving as over the document's own file is refused and the dialog comes again.
  wxTEST_DIALOG(doc->ShowSaveAsDialog(), SaveAsAnswer(wxString::FromUTF8(Path("source.tif")), 4),
                wxExpectModal<wxMessageDialog>(wxID_OK),
                wxExpectModal<wxFileDialog>(wxString::FromUTF8(Path("other.tif")), wxID_CANCEL));
  EXPECT_FALSE(fs::exists(Path("other.tif")));
}

// The save-as dialog answered with a path and a type; keeps the folder it started in.
class SaveAsAnswerSeeingFolder : public wxExpectModalBase<wxFileDialog, SaveAsAnswerSeeingFolder> {
 public:
  SaveAsAnswerSeeingFolder(const wxString& path, int filterIndex, wxString* folder)
      : m_path(path), m_index(filterIndex), m_folder(folder) {}

 protected:
  int OnInvoked(wxFileDialog* dlg) const override {
    *m_folder = dlg->GetDirectory();
    dlg->SetPath(m_path);
    dlg->SetFilterIndex(m_index);
    return wxID_OK;
  }

 private:
  wxString m_path;
  int m_index;
  wxString* m_folder;
};

TEST_F(DocGui, SaveAsStartsInTheImagesFolderAndTheTypeDecidesTheExtension) {
  fs::create_directories(Path("images"));
  const std::string source = Path("images/source.tif");
  ASSERT_TRUE(doctest::WritePattern(source, OF_TIFF, Halves(80, 60)));
  COrbalonDoc* doc = Open(source);
  ASSERT_TRUE(doc);
  orb::SetTextField(MiscSettings.LastSaveAsPath, "");
  wxString folder;
  // JPEG chosen while the name still ends in the TIFF's extension.
  wxTEST_DIALOG(doc->ShowSaveAsDialog(),
                SaveAsAnswerSeeingFolder(wxString::FromUTF8(Path("images/copy.tif")), 0, &folder),
                QualityAnswer(90));
  EXPECT_EQ(std::string(folder.utf8_str()), Path("images"));
  EXPECT_FALSE(fs::exists(Path("images/copy.tif")));
  ASSERT_TRUE(fs::exists(Path("images/copy.jpg")));
  // An outside reader sees a JPEG of the image's size.
  EXPECT_EQ(orbtest::Shell("identify -format '%m %w %h' '" + Path("images/copy.jpg") + "'"), "JPEG 80 60");
  EXPECT_EQ(orb::TextField(MiscSettings.LastSaveAsPath), Path("images/copy.jpg"));
}

TEST_F(DocGui, CloseAsksForEditedImagesAndCancelKeepsThem) {
  ASSERT_TRUE(doctest::WritePattern(Path("edit.png"), OF_PNG, Halves(64, 64)));
  COrbalonDoc* doc = Open(Path("edit.png"));
  ASSERT_TRUE(doc);
  doc->WorkingImage()->edited = 1;
  bool closed = true;
  wxTEST_DIALOG(closed = manager_->CloseDocument(doc), wxExpectModal<wxMessageDialog>(wxID_CANCEL));
  EXPECT_FALSE(closed);
  EXPECT_EQ(manager_->GetDocumentsVector().size(), 1u);
  // After the discard button no question is asked.
  doc->SetDiscardChanges(true);
  EXPECT_TRUE(manager_->CloseDocument(doc));
  orbtest::PumpUntil([this] { return manager_->GetDocumentsVector().empty(); });
  EXPECT_TRUE(manager_->GetDocumentsVector().empty());
  EXPECT_TRUE(fs::exists(Path("edit.png")));
}

TEST_F(DocGui, AFileThatCannotBeDecodedLeavesNoWindow) {
  orbtest::WriteFile(Path("broken.jpg"), "\xFF\xD8 not really a JPEG");
  COrbalonDoc* doc = nullptr;
  wxTEST_DIALOG(doc = Open(Path("broken.jpg")), wxExpectModal<wxMessageDialog>(wxID_OK).Optional());
  EXPECT_EQ(doc, nullptr);
  EXPECT_TRUE(manager_->GetDocumentsVector().empty());
  EXPECT_EQ(AppStatus.load() & (orb::Bits(orb::StatusBit::ProgramClose) | 0x200001F0u), 0u);
}

TEST_F(DocGui, ZoomAndScrollMoveTheRegion) {
  ASSERT_TRUE(doctest::WritePattern(Path("big.tif"), OF_TIFF, Halves(2000, 1000)));
  COrbalonDoc* doc = Open(Path("big.tif"));
  ASSERT_TRUE(doc);
  COrbalonView* view = doc->View();
  view->UpdateView(orb::kHintWholeImage);
  const PixelRect whole = doc->WorkingImage()->region;
  view->UpdateView(orb::kHintZoomIn);
  const PixelRect zoomed = doc->WorkingImage()->region;
  EXPECT_LT(zoomed.right - zoomed.left, whole.right - whole.left);
  view->Scroll(wxHORIZONTAL, orb::ScrollCode::LineDown, 0);
  EXPECT_GT(doc->WorkingImage()->region.left, zoomed.left);
  view->UpdateView(orb::kHintZoomOut);
  view->UpdateView(orb::kHintZoomOut);
  view->UpdateView(orb::kHintWholeImage);
  EXPECT_EQ(doc->WorkingImage()->region.left, 0);
}

TEST_F(DocGui, ProgressDialogStepsAndCancels) {
  CProgressDlg dlg(frame_, "Working", 0, 1000, true);
  ASSERT_TRUE(dlg.CreateWindow());
  for (int i = 0; i < 250; ++i) dlg.Step();
  EXPECT_EQ(dlg.BarValue(), 20);
  dlg.OnCancel();
  EXPECT_EQ(CancelFlag.load(), 1);
  EXPECT_TRUE(dlg.Ended());
  CancelFlag = 0;
  CProgressDlg same(frame_, "Equal ends", 5, 5, false);
  ASSERT_TRUE(same.CreateWindow());
  same.Step();
  EXPECT_EQ(same.BarValue(), 100);
  same.OnOK();
  EXPECT_EQ(CancelFlag.load(), 0);
}

TEST_F(DocGui, QualityDialogShowsEachKindsOwnValue) {
  MiscSettings.PdfJpegQualityGrey = 37;
  CJpegQuality grey(orb::kQualityPdfJpegGrey, frame_);
  EXPECT_EQ(grey.Quality(), 37);
  EXPECT_FALSE(grey.LosslessShown());
  MiscSettings.LosslessJpeg2000 = 1;
  MiscSettings.Jpeg2000Quality = 700;
  CJpegQuality jp2(orb::kQualityJpeg2000, frame_);
  EXPECT_EQ(jp2.Quality(), 700);
  EXPECT_FALSE(jp2.QualityControlsEnabled());
  // The lossless box changes the setting at once, even when the dialog is cancelled.
  jp2.OnLosslessClicked();
  EXPECT_EQ(MiscSettings.LosslessJpeg2000, 0);
  EXPECT_TRUE(jp2.QualityControlsEnabled());
  EXPECT_EQ(MiscSettings.Jpeg2000Quality, 700);
}

TEST_F(DocGui, TiffOptionsStoreTextsAndCheckTheProfile) {
  CTiffOpt plain(11, frame_);
  EXPECT_FALSE(plain.QualityShown());
  plain.SetTexts(wxString::FromUTF8(files_.path().string()), "(c) Someone", "Artist");
  EXPECT_EQ(plain.CheckProfilePath(), 33007);  // a folder, not a profile file
  plain.SetTexts(wxString::FromUTF8(Path("missing/dir/p.icc")), "(c) Someone", "Artist");
  EXPECT_EQ(plain.CheckProfilePath(), 33006);
  plain.SetTexts(wxString::FromUTF8(Path("p.icc")), "(c) Someone", "Artist");
  EXPECT_EQ(plain.CheckProfilePath(), 0);
  MiscSettings.TiffJpegQualityColour = 55;
  plain.Store();
  EXPECT_EQ(orb::TextField(MiscSettings.TiffCopyright), "(c) Someone");
  EXPECT_EQ(orb::TextField(MiscSettings.IccProfile), Path("p.icc"));
  EXPECT_EQ(MiscSettings.TiffJpegQualityColour, 55);
  CTiffOpt withJpeg(orb::kQualityTiffJpeg, frame_);
  EXPECT_TRUE(withJpeg.QualityShown());
  withJpeg.SetQuality(66);
  withJpeg.Store();
  EXPECT_EQ(MiscSettings.TiffJpegQualityColour, 66);
}

}  // namespace

namespace {

TEST_F(DocGui, YesOnCloseWithADisallowedFormatOffersSaveAsAndStillCloses) {
  ASSERT_TRUE(doctest::WritePattern(Path("odd.png"), OF_PNG, Halves(32, 32)));
  const std::string before = orbtest::ReadFile(Path("odd.png"));
  COrbalonDoc* doc = Open(Path("odd.png"));
  ASSERT_TRUE(doc);
  doc->FileImage()->outputFormat = OF_PDF_G4;  // not a format of colour images
  doc->WorkingImage()->edited = 1;
  bool closed = false;
  wxTEST_DIALOG(closed = manager_->CloseDocument(doc), wxExpectModal<wxMessageDialog>(wxID_YES),
                wxExpectModal<wxFileDialog>(wxString::FromUTF8(Path("never.png")), wxID_CANCEL));
  EXPECT_TRUE(closed);
  orbtest::PumpUntil([this] { return manager_->GetDocumentsVector().empty(); });
  EXPECT_TRUE(manager_->GetDocumentsVector().empty());
  EXPECT_EQ(orbtest::ReadFile(Path("odd.png")), before);
  EXPECT_FALSE(fs::exists(Path("never.png")));
}

TEST_F(DocGui, SaveReplacesTheFileAndKeepsTheDocumentOpen) {
  ASSERT_TRUE(doctest::WritePattern(Path("keep.png"), OF_PNG, Halves(40, 20)));
  COrbalonDoc* doc = Open(Path("keep.png"));
  ASSERT_TRUE(doc);
  doc->FileImage()->outputFormat = OF_PNG;
  doc->WorkingImage()->edited = 1;
  EXPECT_TRUE(doc->Save());
  EXPECT_EQ(doc->WorkingImage()->edited, 0);
  EXPECT_EQ(manager_->GetDocumentsVector().size(), 1u);
  doctest::Decoded d = doctest::DecodeFile(Path("keep.png"));
  EXPECT_EQ(d.width, 40);
  EXPECT_EQ(d.height, 20);
  // The view still shows the image after the save.
  EXPECT_NE(doc->WorkingImage()->bitmaps[2], nullptr);
}

}  // namespace

#include "app/gui/FileOpen.h"

namespace {

TEST_F(DocGui, SeveralFilesOpenInTurnAndFailuresLeaveNothing) {
  ASSERT_TRUE(doctest::WritePattern(Path("one.png"), OF_PNG, Halves(20, 10)));
  ASSERT_TRUE(doctest::WritePattern(Path("two.tif"), OF_TIFF, Halves(20, 10)));
  wxArrayString paths;
  paths.Add(wxString::FromUTF8(Path("one.png")));
  paths.Add("");
  paths.Add(wxString::FromUTF8(Path("missing.png")));
  paths.Add(wxString::FromUTF8(Path("two.tif")));
  std::vector<wxDocument*> docs = orb::gui::OpenImageFiles(manager_, paths);
  EXPECT_EQ(docs.size(), 2u);
  EXPECT_EQ(manager_->GetDocumentsVector().size(), 2u);
}

}  // namespace

namespace {

TEST(RecentFiles, KeepsFourEntriesInTheListAndItsFile) {
  orbtest::TempDir dir;
  const std::string ini = (dir.path() / "RecentFiles.ini").string();
  // A list written by an older build with nine entries.
  std::string nine;
  for (int i = 1; i <= 9; ++i) nine += "file" + std::to_string(i) + "=/images/scan" + std::to_string(i) + ".tif\n";
  orbtest::WriteFile(ini, nine);
  {
    COrbalonDocManager manager;
    ASSERT_TRUE(manager.GetFileHistory());
    EXPECT_EQ(manager.GetFileHistory()->GetMaxFiles(), 4u);
    wxFileConfig config("Orbalon", wxEmptyString, wxString::FromUTF8(ini), wxEmptyString, wxCONFIG_USE_LOCAL_FILE);
    manager.FileHistoryLoad(config);
    EXPECT_EQ(manager.GetHistoryFilesCount(), 4u);
    for (int i = 10; i <= 15; ++i) manager.AddFileToHistory(wxString::Format("/images/new%d.tif", i));
    EXPECT_EQ(manager.GetHistoryFilesCount(), 4u);
    config.DeleteAll();
    manager.FileHistorySave(config);
    config.Flush();
  }
  // Read back as text: four entries, the newest first.
  const std::string text = orbtest::ReadFile(ini);
  int entries = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) entries += line.rfind("file", 0) == 0 ? 1 : 0;
  EXPECT_EQ(entries, 4) << text;
  EXPECT_NE(text.find("file1=/images/new15.tif"), std::string::npos) << text;
  EXPECT_EQ(text.find("new11.tif"), std::string::npos) << text;
}

}  // namespace
