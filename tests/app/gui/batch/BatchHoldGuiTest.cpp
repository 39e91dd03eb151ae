// A batch that holds each result for inspection, in the program's own frame: the run stops
// with the processed image open and the source untouched; the user's answer (save over the
// source, discard, or simply closing the window) goes on with the next file, and the last
// answer ends the run. Nothing is logged and nothing else is written. Files are read back by
// ImageMagick.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/msgdlg.h>
#include <wx/testing.h>

#include <cstdio>
#include <filesystem>

#include "app/gui/MainFrame.h"
#include "app/gui/OrbalonDoc.h"
#include "app/gui/batch/BatchCommands.h"
#include "common/AppGlobals.h"
#include "common/gui/Resources.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/Settings.h"
#include "tests/common/TestUtil.h"
#include "tests/common/ProcessUtil.h"
#include "tests/common/gui/GuiTestUtil.h"
#include "tests/common/gui/MainFrameFixture.h"

namespace fs = std::filesystem;

namespace {

using orbtest::Shell;

// The grey values of an image file, as ImageMagick reads them.
std::string Pixels(const std::string& path) { return Shell("convert '" + path + "' -depth 8 gray:- | md5sum"); }

class BatchHold : public orbtest::MainFrameFixture {
 protected:
  void SetUp() override {
    fs::create_directories(files_.path() / "work");
    StartFrame({.size = wxSize(1000, 700), .tempFolder = files_.path() / "work"});
  }
  void TearDown() override {
    MainFrameFixture::TearDown();
    g_bBatchMode = 0;
  }
  std::string Grey(const std::string& name, const char* plan) {
    const std::string p = (files_.path() / name).string();
    EXPECT_EQ(std::system(("convert " + std::string(plan) + " -colorspace Gray -depth 8 -compress none '" + p + "'")
                              .c_str()),
              0);
    return p;
  }
  // The document the run holds, once it holds one.
  COrbalonDoc* WaitHeld(orb::gui::BatchCommands* cmds) {
    if (!orbtest::PumpUntil([&] { return cmds->Holding(); }, 20000)) return nullptr;
    const auto docs = manager_->GetDocumentsVector();
    return docs.size() == 1 ? wxDynamicCast(docs[0], COrbalonDoc) : nullptr;
  }

  // Presses one of the hold bar's buttons as the user does; false when it is not there to
  // be pressed (hidden or greyed).
  bool Press(int labelId) {
    auto* b = wxDynamicCast(wxWindow::FindWindowByLabel(orb::gui::Str(labelId)), wxButton);
    if (!b) return false;
    orbtest::PumpUntil([] { return false; }, 10);  // menu and button states follow the idle time
    b->UpdateWindowUI();
    if (!b->IsShownOnScreen() || !b->IsEnabled()) return false;
    wxCommandEvent click(wxEVT_BUTTON, b->GetId());
    click.SetEventObject(b);
    b->ProcessWindowEvent(click);
    return true;
  }
};

TEST_F(BatchHold, EachResultWaitsForTheUserAndTheAnswerGoesOn) {
  const std::string a = Grey("a.tif", "-size 50x40 gradient:white-black");
  const std::string b = Grey("b.tif", "-size 50x40 gradient:black-white");
  const std::string c = Grey("c.tif", "-size 30x20 xc:gray30");
  const std::string aInverted = Shell("convert '" + a + "' -negate -depth 8 gray:- | md5sum");
  const std::string bBefore = Pixels(b), cBefore = Pixels(c);
  const std::string bch = (files_.path() / "inspect.bch").string();
  // A log is asked for, but a held batch writes none.
  orbtest::WriteFile(bch, "[General]\nHoldForQC=1\nCreateLog=1\nSaveAsFormat=png\n[Files]\nFile0=" + a +
                              "\nFile1=" + b + "\nFile2=" + c + "\n[Invert]\nInvert=True\n");
  orb::gui::BatchCommands* cmds = orb::gui::GetBatchCommands();
  ASSERT_TRUE(cmds);
  cmds->ProcessFiles({bch}, false);

  // First file: held with the inverted image as its working version, the file untouched.
  COrbalonDoc* held = WaitHeld(cmds);
  ASSERT_TRUE(held);
  EXPECT_EQ(g_bBatchMode.load(), 1);
  EXPECT_EQ(held->FileImage()->sourcePath, a);
  EXPECT_NE(held->WorkingImage(), held->FileImage()) << "the result is the working image";
  EXPECT_NE(Pixels(a), aInverted) << "nothing is saved before the user says so";
  // It stays held while the program handles its messages.
  orbtest::PumpUntil([] { return false; }, 50);
  EXPECT_TRUE(cmds->Holding());
  EXPECT_EQ(manager_->GetDocumentsVector().size(), 1u);

  // Save: the result goes over the source, and the next file is held.
  ASSERT_TRUE(Press(orb::gui::kStrHoldSave));
  held = WaitHeld(cmds);
  ASSERT_TRUE(held);
  EXPECT_EQ(held->FileImage()->sourcePath, b);
  EXPECT_EQ(Pixels(a), aInverted);
  EXPECT_EQ(Shell("identify -format '%[type] %wx%h' '" + a + "'"), "Grayscale 50x40");

  // Discard: the source stays as it was.
  ASSERT_TRUE(Press(orb::gui::kStrHoldDiscard));
  held = WaitHeld(cmds);
  ASSERT_TRUE(held);
  EXPECT_EQ(held->FileImage()->sourcePath, c);
  EXPECT_EQ(Pixels(b), bBefore);

  // The user closes the window, refusing to save: the run goes on, here to its end.
  wxTEST_DIALOG(manager_->CloseDocument(held), wxExpectModal<wxMessageDialog>(wxID_NO).Optional());
  ASSERT_TRUE(orbtest::PumpUntil([&] { return !cmds->Run().Active() && !cmds->Holding(); }, 20000));
  orbtest::PumpUntil([] { return false; }, 20);
  EXPECT_EQ(g_bBatchMode.load(), 0);
  EXPECT_TRUE(manager_->GetDocumentsVector().empty());
  EXPECT_EQ(Pixels(c), cBefore);
  EXPECT_FALSE(fs::exists(files_.path() / "inspect.log"));
  for (const char* name : {"a.png", "b.png", "c.png"}) EXPECT_FALSE(fs::exists(files_.path() / name)) << name;
  EXPECT_TRUE(fs::is_empty(files_.path() / "work")) << "temporaries left behind";
}

TEST_F(BatchHold, AnUnreadableFileIsSkippedWithoutAWindow) {
  const std::string bad = (files_.path() / "bad.tif").string();
  orbtest::WriteFile(bad, "no image here");
  const std::string good = Grey("good.tif", "-size 20x10 xc:gray40");
  const std::string bch = (files_.path() / "skip.bch").string();
  orbtest::WriteFile(bch, "[General]\nHoldForQC=1\n[Files]\nFile0=" + bad + "\nFile1=" + good +
                              "\n[Mirror]\nMirror=True\n");
  orb::gui::BatchCommands* cmds = orb::gui::GetBatchCommands();
  ASSERT_TRUE(cmds);
  // Without a log the unreadable file is told in a message box, answered here.
  COrbalonDoc* held = nullptr;
  wxTEST_DIALOG({
    cmds->ProcessFiles({bch}, false);
    held = WaitHeld(cmds);
  }, wxExpectModal<wxMessageDialog>(wxID_OK).Optional());
  ASSERT_TRUE(held);
  EXPECT_EQ(held->FileImage()->sourcePath, good);
  cmds->DiscardHeld();
  ASSERT_TRUE(orbtest::PumpUntil([&] { return !cmds->Run().Active(); }, 20000));
  EXPECT_EQ(g_bBatchMode.load(), 0);
  EXPECT_TRUE(fs::exists(bad));
}

}  // namespace
