// Files open by what they hold, whatever their names say, on every road to a document: the
// command line and File > Open (both create the document from the path), a recent file and
// a file dropped on the frame. The document template is the program's own, with the open
// filter of the language module, whose extension list the toolkit cannot match a BMP
// against.
#include <gtest/gtest.h>
#include <wx/dnd.h>
#include <wx/log.h>
#include <wx/msgdlg.h>
#include <wx/testing.h>

#include <filesystem>

#include "app/gui/FileOpen.h"
#include "app/gui/MainFrame.h"
#include "app/gui/OrbalonDoc.h"
#include "common/AppGlobals.h"
#include "common/ResourceIds.h"
#include "common/gui/Resources.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/Settings.h"
#include "tests/app/doc_test_util.h"
#include "tests/common/TestUtil.h"
#include "tests/common/gui/GuiTestUtil.h"
#include "tests/common/gui/MainFrameFixture.h"

namespace {

doctest::Pattern Stripes(int bits, bool palette = false) {
  // 60 x 40: the left third black, the rest light.
  return doctest::Pattern{60, 40, bits, palette, [](int32_t x, int32_t, int c) -> uint8_t {
                            if (x < 20) return 0;
                            return static_cast<uint8_t>(c == 0 ? 255 : 200);
                          }};
}

class OpenByContent : public orbtest::MainFrameFixture {
 protected:
  void SetUp() override {
    // Toolkit complaints (such as "format couldn't be determined") are failures of the test,
    // not boxes that wait for an answer.
    previousLog_ = wxLog::SetActiveTarget(&log_);
    // The program's template: its filter is the module's open filter.
    const wxString filter = orb::gui::Str(orb::res::IDS_DOC_FILTER);
    ASSERT_TRUE(filter.Contains("*.bmp")) << filter;
    StartFrame({.size = wxSize(1000, 700), .openFilter = filter});
  }
  void TearDown() override {
    MainFrameFixture::TearDown();
    wxLog::SetActiveTarget(previousLog_);
    EXPECT_EQ(log_.text, "") << "the toolkit logged";
  }
  COrbalonDoc* Open(const std::string& path) {
    wxDocument* doc = nullptr;
    // A refusal would show a message box: answered, so that the test sees the refusal.
    wxTEST_DIALOG(doc = manager_->CreateDocument(wxString::FromUTF8(path), wxDOC_SILENT),
                  wxExpectModal<wxMessageDialog>(wxID_OK).Optional());
    orbtest::PumpUntil([] { return false; }, 20);
    return wxDynamicCast(doc, COrbalonDoc);
  }
  // The document holds the file's picture at its size, drawn.
  static void ExpectStripes(COrbalonDoc* doc, const std::string& name) {
    ASSERT_TRUE(doc) << name;
    const ImageState* w = doc->WorkingImage();
    EXPECT_EQ(w->width, 60) << name;
    EXPECT_EQ(w->height, 40) << name;
    EXPECT_TRUE(doc->GetTitle().Contains(wxString::FromUTF8(name))) << doc->GetTitle();
    EXPECT_TRUE(w->bitmaps[2]) << name;  // drawn
  }

  // Keeps what the toolkit logs.
  struct KeptLog : wxLog {
    std::string text;
    void DoLogTextAtLevel(wxLogLevel, const wxString& msg) override { text += std::string(msg.utf8_str()) + "\n"; }
  };
  KeptLog log_;
  wxLog* previousLog_ = nullptr;
};

struct Named {
  const char* name;
  uint32_t format;
  int bits;
  bool palette;
};

// BMP files of every depth a scan writes, and files whose names lie about their content.
const Named kFiles[] = {
    {"colour.bmp", OF_BMP, 24, false},  {"palette.bmp", OF_BMP, 8, true},  {"grey.bmp", OF_BMP, 8, false},
    {"bilevel.bmp", OF_BMP, 1, false},  {"really-a-png.tif", OF_PNG, 24, false},
    {"photo.dat", OF_JPEG, 24, false},   {"scan.jpg", OF_BMP, 24, false}, {"noextension", OF_TIFF, 8, false},
};

TEST_F(OpenByContent, CommandLineAndFileOpenTakeBmpAndMisnamedFiles) {
  for (const Named& f : kFiles) {
    ASSERT_TRUE(doctest::WritePattern(Path(f.name), f.format, Stripes(f.bits, f.palette))) << f.name;
    ExpectStripes(Open(Path(f.name)), f.name);
  }
  EXPECT_EQ(manager_->GetDocumentsVector().size(), std::size(kFiles));
  // What is not an image is refused with the program's message, leaving no document.
  orbtest::WriteFile(Path("notes.bmp"), "these are words, not pixels");
  EXPECT_EQ(Open(Path("notes.bmp")), nullptr);
  EXPECT_EQ(manager_->GetDocumentsVector().size(), std::size(kFiles));
}

TEST_F(OpenByContent, RecentFilesReopenABmpAndAMisnamedFile) {
  for (const char* name : {"bilevel.bmp", "really-a-png.tif"}) {
    const Named* f = nullptr;
    for (const Named& n : kFiles)
      if (std::string(n.name) == name) f = &n;
    ASSERT_TRUE(f);
    ASSERT_TRUE(doctest::WritePattern(Path(name), f->format, Stripes(f->bits, f->palette)));
    ASSERT_TRUE(Open(Path(name)));
    // Listed as opened, although the toolkit's template would not match its name.
    ASSERT_GE(manager_->GetHistoryFilesCount(), 1u);
    EXPECT_EQ(manager_->GetHistoryFile(0), wxString::FromUTF8(Path(name)));
    ASSERT_TRUE(manager_->CloseDocuments(true));
    orbtest::PumpUntil([] { return false; }, 20);
    ASSERT_TRUE(manager_->GetDocumentsVector().empty());
    // The first recent file, chosen from the menu.
    wxCommandEvent pick(wxEVT_MENU, wxID_FILE1);
    wxTEST_DIALOG(manager_->ProcessEvent(pick), wxExpectModal<wxMessageDialog>(wxID_OK).Optional());
    orbtest::PumpUntil([] { return false; }, 20);
    ASSERT_EQ(manager_->GetDocumentsVector().size(), 1u) << name;
    ExpectStripes(wxDynamicCast(manager_->GetDocumentsVector().front(), COrbalonDoc), name);
    ASSERT_TRUE(manager_->CloseDocuments(true));
    orbtest::PumpUntil([] { return false; }, 20);
  }
}

TEST_F(OpenByContent, FilesDroppedOnTheFrameOpen) {
  auto* target = dynamic_cast<wxFileDropTarget*>(frame_->GetDropTarget());
  ASSERT_TRUE(target);
  wxArrayString paths;
  for (const Named& f : {kFiles[0], kFiles[3], kFiles[4]}) {
    ASSERT_TRUE(doctest::WritePattern(Path(f.name), f.format, Stripes(f.bits, f.palette)));
    paths.Add(wxString::FromUTF8(Path(f.name)));
  }
  EXPECT_TRUE(target->OnDropFiles(10, 10, paths));
  orbtest::PumpUntil([] { return false; }, 20);
  ASSERT_EQ(manager_->GetDocumentsVector().size(), 3u);
  for (wxDocument* d : manager_->GetDocumentsVector()) {
    const std::string name = std::filesystem::path(std::string(d->GetFilename().utf8_str())).filename().string();
    ExpectStripes(wxDynamicCast(d, COrbalonDoc), name);
  }
}

}  // namespace
