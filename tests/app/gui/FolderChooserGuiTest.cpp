// The folder chooser as the user meets it: it opens at the given folder, its status line
// follows the selection, OK hands back the chosen folder, and a path that is no usable
// folder gets the language module's message 33025 in a message box.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <wx/frame.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/testing.h>
#include <wx/textctrl.h>

#include <filesystem>
#include <string>

#include "app/gui/EngineHostGui.h"
#include "common/LanguageModule.h"
#include "common/gui/FolderChooserDlg.h"
#include "engine/EngineHost.h"
#include "engine/SharedRoutines.h"
#include "tests/common/TestUtil.h"
#include "tests/common/gui/KeepMessageText.h"

namespace {

using orb::gui::CFolderChooserDlg;

// What the chooser looked like when it opened and while the test moved through it.
struct Seen {
  wxString title, treeAtStart, statusAtStart, statusAfterSelect;
};

// Selects `select` in the tree (when given), types `typed` into the path field (when
// given), and answers `answer`.
class ChooserReply : public wxExpectModalBase<CFolderChooserDlg, ChooserReply> {
 public:
  ChooserReply(Seen* seen, std::string select, std::string typed, int answer)
      : m_seen(seen), m_select(std::move(select)), m_typed(std::move(typed)), m_answer(answer) {}

 protected:
  int OnInvoked(CFolderChooserDlg* dlg) const override {
    m_seen->title = dlg->GetTitle();
    m_seen->treeAtStart = dlg->TreePath();
    m_seen->statusAtStart = dlg->StatusText();
    if (!m_select.empty()) dlg->SelectPath(m_select);
    if (!m_typed.empty()) {
      for (wxWindow* w : dlg->GetChildren()) {
        if (auto* t = dynamic_cast<wxTextCtrl*>(w)) t->SetValue(wxString::FromUTF8(m_typed));
      }
    }
    m_seen->statusAfterSelect = dlg->StatusText();
    return m_answer;
  }
  wxString GetDefaultDescription() const override { return "folder chooser"; }

 private:
  Seen* m_seen;
  std::string m_select, m_typed;
  int m_answer;
};

class FolderChooserGui : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_.path() / "start/inner");
    orbtest::WriteFile(dir_.path() / "start/file.txt", "x");
    saved_ = orb::Host();
    orb::gui::InstallEngineHost();
    frame_ = new wxFrame(nullptr, wxID_ANY, "chooser");
    frame_->Show();
    orb::gui::InstallFolderChooser(frame_);
  }
  void TearDown() override {
    orb::gui::RemoveFolderChooser();
    orb::SetEngineHost(saved_);
    frame_->Destroy();
  }
  std::string Path(const char* rel) const { return (dir_.path() / rel).string(); }

  orbtest::TempDir dir_;
  orb::EngineHost saved_;
  wxFrame* frame_ = nullptr;
};

TEST_F(FolderChooserGui, OpensAtTheFolderAndHandsBackTheSelectedOne) {
  Seen seen;
  std::string path = Path("start");
  int result = 0;
  wxTEST_DIALOG(result = BrowseForFolder(path), ChooserReply(&seen, Path("start/inner"), "", wxID_OK));
  EXPECT_EQ(result, orb::kFolderChosen);
  EXPECT_EQ(path, Path("start/inner"));
  EXPECT_EQ(std::string(seen.title.utf8_str()), orb::LoadString(35250));
  EXPECT_EQ(std::string(seen.treeAtStart.utf8_str()), Path("start"));
  EXPECT_EQ(std::string(seen.statusAtStart.utf8_str()), Path("start"));
  EXPECT_EQ(std::string(seen.statusAfterSelect.utf8_str()), Path("start/inner"));
}

TEST_F(FolderChooserGui, CancelKeepsThePath) {
  Seen seen;
  std::string path = Path("start/inner");
  int result = 0;
  wxTEST_DIALOG(result = BrowseForFolder(path), ChooserReply(&seen, Path("start"), "", wxID_CANCEL));
  EXPECT_EQ(result, orb::kFolderNotChosen);
  EXPECT_EQ(path, Path("start/inner"));
}

TEST_F(FolderChooserGui, ATypedFileIsRefusedWithTheMessage) {
  Seen seen;
  wxString message;
  std::string path = Path("start");
  int result = 0;
  wxTEST_DIALOG(result = BrowseForFolder(path), ChooserReply(&seen, "", Path("start/file.txt"), wxID_OK),
                orbtest::KeepMessageText(&message));
  EXPECT_EQ(result, orb::kFolderNotChosen);
  EXPECT_EQ(path, Path("start/file.txt"));
  // The status line showed the typed path.
  EXPECT_EQ(std::string(seen.statusAfterSelect.utf8_str()), Path("start/file.txt"));
  const std::string text(message.utf8_str());
  ASSERT_FALSE(orb::LoadString(33025).empty());
  EXPECT_NE(text.find(Path("start/file.txt")), std::string::npos) << text;
  std::string expected = orb::LoadString(33025);
  ASSERT_NE(expected.find("%s"), std::string::npos);
  expected.replace(expected.find("%s"), 2, Path("start/file.txt"));
  EXPECT_EQ(text, expected);
}

}  // namespace
