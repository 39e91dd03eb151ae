// The batch commands and dialogs in a window: process files runs the chosen images (and
// batch files) and cleans up after itself; the editor writes what its choices say and
// nothing on Cancel; the removal and wait dialogs answer as the batch road expects.
#include <gtest/gtest.h>
#include <unistd.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/docview.h>
#include <wx/frame.h>
#include <wx/listbox.h>
#include <wx/radiobut.h>
#include <wx/textctrl.h>

#include <filesystem>

#include "app/batch/BatchFile.h"
#include "app/gui/batch/BatchCommands.h"
#include "app/gui/batch/BatchDialogs.h"
#include "app/gui/batch/BatchFileSetupDlg.h"
#include "common/AppGlobals.h"
#include "engine/ReadWrite/LineReader.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "platform/Ini.h"
#include "tests/common/ProcessUtil.h"
#include "tests/common/TestUtil.h"
#include "tests/common/gui/GuiTestUtil.h"

namespace fs = std::filesystem;

namespace {

using orbtest::Shell;

class BatchGui : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_.path() / "work");
    orb::SetTempFilesFolder((root_.path() / "work").string());
    savedInvert_ = InvertSettings;
    savedMisc_ = MiscSettings;
    frame_ = new wxFrame(nullptr, wxID_ANY, "batch");
    docs_ = new wxDocManager;
  }
  void TearDown() override {
    orb::gui::RemoveBatchCommands();
    frame_->Destroy();
    delete docs_;
    orb::SetTempFilesFolder("");
    InvertSettings = savedInvert_;
    MiscSettings = savedMisc_;
    g_bBatchMode = 0;
  }
  std::string Grey(const std::string& name) {
    const std::string p = (root_.path() / name).string();
    EXPECT_EQ(std::system(("convert -size 50x40 gradient:white-black -colorspace Gray -depth 8 -compress none '" + p +
                           "'").c_str()),
              0);
    return p;
  }
  std::vector<fs::path> Work(const std::string& ext) const {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(root_.path() / "work")) {
      if (e.path().extension() == ext) out.push_back(e.path());
    }
    return out;
  }
  orbtest::TempDir root_;
  orb::InvertRecord savedInvert_;
  orb::MiscSettingsRecord savedMisc_;
  wxFrame* frame_ = nullptr;
  wxDocManager* docs_ = nullptr;
};

TEST_F(BatchGui, ProcessFilesRunsBatchFilesThenTheChosenImages) {
  InvertSettings.enabled = 1;
  const std::string a = Grey("a.tif"), b = Grey("b.tif"), c = Grey("c.tif");
  const std::string expected = Shell("convert '" + a + "' -negate -depth 8 gray:- | md5sum");
  // A batch file among the images runs as a batch file; the images go into one of their own.
  const fs::path out = root_.path() / "out";
  fs::create_directories(out);
  const std::string bch = (root_.path() / "x.BCH").string();
  orbtest::WriteFile(bch, "[General]\nSaveAsLocation=" + out.string() + "\nSaveAsFormat=png\n[Files]\nFile0=" + c +
                              "\n[Mirror]\nMirror=True\n");
  orb::gui::BatchCommands* cmds = orb::gui::InstallBatchCommands(frame_, docs_);
  cmds->ProcessFiles({a, bch, b}, false);
  EXPECT_EQ(g_bBatchMode.load(), 1);
  ASSERT_TRUE(orbtest::PumpUntil([&] { return !cmds->Run().Active(); }, 20000));
  EXPECT_EQ(g_bBatchMode.load(), 0);
  // The batch file's own work: c mirrored into out/ as PNG.
  EXPECT_EQ(Shell("identify -format '%wx%h' '" + (out / "c.png").string() + "'"), "50x40");
  // The images: inverted over their files, as the tool settings say.
  for (const std::string& img : {a, b}) {
    EXPECT_EQ(Shell("convert '" + img + "' -depth 8 gray:- | md5sum"), expected) << img;
  }
  EXPECT_TRUE(Work(".tmp").empty()) << "the temporary batch file goes at the end";
  const std::vector<fs::path> logs = Work(".log");
  ASSERT_EQ(logs.size(), 1u);
  const std::string log = orbtest::ReadFile(logs[0]);
  EXPECT_NE(log.find(", Processing " + a + "\r\n\tInverting:\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find(", Processing " + b), std::string::npos) << log;
}

TEST_F(BatchGui, ProcessFilesHeldWritesHoldWithoutLogOrDeletion) {
  const std::string a = Grey("a.tif");
  const std::string tmp = orb::batch::MakeProcessFilesBatch((root_.path() / "work").string(), {a}, true);
  ASSERT_FALSE(tmp.empty());
  EXPECT_EQ(orb::GetPrivateProfileString("General", "HoldForQC", "", tmp), "1");
  EXPECT_EQ(orb::GetPrivateProfileString("General", "CreateLog", "", tmp), "");
  EXPECT_EQ(orb::GetPrivateProfileString("Files", "File0", "", tmp), a);
  fs::remove(tmp);
}

TEST_F(BatchGui, EditorWritesItsChoicesAndCancelLeavesTheTarget) {
  const std::string target = (root_.path() / "job.bch").string();
  {
    orb::gui::CBatchFileSetupDlg dlg(frame_, "");
    dlg.Target()->ChangeValue(wxString::FromUTF8((root_.path() / "job").string()));
    dlg.HoldRadio()->SetValue(true);
    dlg.UpdateEnabling();
    EXPECT_FALSE(dlg.LogBox()->IsEnabled());
    dlg.AddFiles({"/x/1.tif", "/x/2.tif", "/x/1.tif"});
    EXPECT_EQ(dlg.FilesList()->GetCount(), 2u);
    ASSERT_TRUE(dlg.AcceptTarget());
    ASSERT_TRUE(dlg.Commit());
  }
  EXPECT_EQ(orb::GetPrivateProfileSection("General", target), (std::vector<std::string>{"HoldForQC=1"}));
  EXPECT_EQ(orb::batch::ReadFileList(target), (std::vector<std::string>{"/x/1.tif", "/x/2.tif"}));
  // Editing: automatic, delete only once a folder or format is ticked; the sections stay.
  orb::WritePrivateProfileString("Invert", "Invert", "True", target);
  const std::string before = orbtest::ReadFile(target);
  {
    orb::gui::CBatchFileSetupDlg dlg(frame_, target);
    dlg.AutomaticRadio()->SetValue(true);
    dlg.FolderBox()->SetValue(false);
    dlg.FormatBox()->SetValue(false);
    dlg.UpdateEnabling();
    EXPECT_FALSE(dlg.DeleteBox()->IsEnabled());
    dlg.AddFiles({"/x/3.tif"});
    // No OK: the target stays as it was.
  }
  EXPECT_EQ(orbtest::ReadFile(target), before);
  EXPECT_TRUE(Work(".tmp").empty());
  {
    orb::gui::CBatchFileSetupDlg dlg(frame_, target);
    dlg.AutomaticRadio()->SetValue(true);
    dlg.FolderBox()->SetValue(true);
    dlg.FolderEdit()->SetValue("/results");
    dlg.FormatBox()->SetValue(false);
    dlg.LogBox()->SetValue(true);
    dlg.ScheduleBox()->SetValue(false);
    dlg.UpdateEnabling();
    EXPECT_TRUE(dlg.DeleteBox()->IsEnabled());
    dlg.DeleteBox()->SetValue(true);
    ASSERT_TRUE(dlg.AcceptTarget());
    ASSERT_TRUE(dlg.Commit());
  }
  EXPECT_EQ(orb::GetPrivateProfileSection("General", target),
            (std::vector<std::string>{"HoldForQC=0", "CreateLog=1", "SaveAsLocation=/results", "DeleteOriginalFiles=1"}));
  EXPECT_EQ(orb::GetPrivateProfileString("Invert", "Invert", "", target), "True");
}

TEST_F(BatchGui, RemovalDialogRenumbersWhatIsLeft) {
  const std::string bch = (root_.path() / "r.bch").string();
  orbtest::WriteFile(bch, "[Files]\nFile0=/a.tif\nFile1=/b.tif\nFile2=/c.tif\n");
  {
    orb::gui::CDeleteFilesFromBatchDlg dlg(frame_, bch);
    ASSERT_EQ(dlg.List()->GetCount(), 3u);
    dlg.List()->SetSelection(1);
    ASSERT_TRUE(dlg.ApplyRemoval());
  }
  EXPECT_EQ(orb::batch::ReadFileList(bch), (std::vector<std::string>{"/a.tif", "/c.tif"}));
  {
    orb::gui::CDeleteFilesFromBatchDlg dlg(frame_, bch);
    dlg.List()->SetSelection(0);
    dlg.List()->SetSelection(1);
    ASSERT_TRUE(dlg.ApplyRemoval());
  }
  EXPECT_TRUE(orb::batch::ReadFileList(bch).empty());
}

TEST_F(BatchGui, WaitDialogEndsWhenPaperArrives) {
  int asked = 0;
  orb::gui::CDlgBatchModeWait present(frame_, [&] { return ++asked > 0; });
  EXPECT_EQ(present.Run(), orb::BatchWaitResult::Paper);
  EXPECT_FALSE(present.IsShown());
  EXPECT_EQ(asked, 1);
  // Paper on the third look: the timer ends the dialog by itself.
  asked = 0;
  orb::gui::CDlgBatchModeWait later(frame_, [&] { return ++asked >= 3; });
  EXPECT_EQ(later.Run(), orb::BatchWaitResult::Paper);
  EXPECT_GE(asked, 3);
}

// No paper: the dialog stays up, looking again and again, until the user answers. Stop and
// Cancel each give their own answer.
TEST_F(BatchGui, WaitDialogWithoutPaperWaitsForTheUser) {
  struct Case {
    int button;
    orb::BatchWaitResult expected;
  } cases[] = {{orb::gui::CDlgBatchModeWait::kStopButton, orb::BatchWaitResult::Stop},
               {wxID_CANCEL, orb::BatchWaitResult::Cancelled}};
  for (const Case& c : cases) {
    int looks = 0;
    orb::gui::CDlgBatchModeWait* shown = nullptr;
    orb::gui::CDlgBatchModeWait wait(frame_, [&] {
      // After two seconds of looking (one look every 100 ms) the user presses the button.
      if (++looks == 20 && shown) {
        shown->CallAfter([&, b = c.button] {
          auto* button = wxDynamicCast(shown->FindWindow(b), wxButton);
          ASSERT_TRUE(button);
          EXPECT_TRUE(shown->IsShown());
          wxCommandEvent click(wxEVT_BUTTON, b);
          click.SetEventObject(button);
          button->ProcessWindowEvent(click);
        });
      }
      return false;
    });
    shown = &wait;
    EXPECT_EQ(wait.Run(), c.expected);
    EXPECT_GE(looks, 20);
  }
}

}  // namespace
