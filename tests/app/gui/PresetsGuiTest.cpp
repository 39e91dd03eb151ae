// Presets in the running frame: the preset dialog, the save command, the presets page with
// load on selection and the Delete key.
#include <gtest/gtest.h>
#include <wx/filedlg.h>
#include <wx/listbox.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/stattext.h>
#include <wx/testing.h>
#include <wx/textctrl.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/Presets.h"
#include "app/gui/MainFrame.h"
#include "app/gui/OrbalonDoc.h"
#include "app/gui/PresetDlg.h"
#include "app/gui/ViewPresetPage.h"
#include "app/gui/ViewPropSheet.h"
#include "common/AppGlobals.h"
#include "common/Messages.h"
#include "engine/AppStatus.h"
#include "engine/Settings.h"
#include "engine/ToolSettings.h"
#include "platform/Files.h"
#include "scanning/ScannerEntryPoints.h"
#include "tests/common/TestUtil.h"
#include "tests/common/gui/GuiTestUtil.h"

namespace {

namespace fs = std::filesystem;

// Fills the preset dialog as a user would and presses OK: the dialog's reply is OK only
// when it saved.
class PresetReply : public wxExpectModalBase<CPresetDlg, PresetReply> {
 public:
  PresetReply(wxString name, std::vector<wxString> fields) : m_name(std::move(name)), m_fields(std::move(fields)) {}

 protected:
  int OnInvoked(CPresetDlg* dlg) const override {
    dlg->NameBox()->ChangeValue(m_name);
    for (size_t i = 0; i < m_fields.size(); ++i) dlg->Field(static_cast<int>(i))->ChangeValue(m_fields[i]);
    return dlg->SaveFromControls() ? wxID_OK : wxID_CANCEL;
  }
  wxString GetDefaultDescription() const override { return "preset dialog"; }

 private:
  wxString m_name;
  std::vector<wxString> m_fields;
};

// Reads what the dialog shows when it opens, then cancels.
class PresetPeek : public wxExpectModalBase<CPresetDlg, PresetPeek> {
 public:
  explicit PresetPeek(std::vector<wxString>* seen) : m_seen(seen) {}

 protected:
  int OnInvoked(CPresetDlg* dlg) const override {
    m_seen->push_back(dlg->NameBox()->GetValue());
    for (int i = 0; i < 8; ++i) m_seen->push_back(dlg->Field(i)->GetValue());
    return wxID_CANCEL;
  }
  wxString GetDefaultDescription() const override { return "preset dialog"; }

 private:
  std::vector<wxString>* m_seen;
};

class PresetsGui : public ::testing::Test {
 protected:
  void SetUp() override {
    g_szDataFolder = data_.path().string();
    g_szProgramFolder = orbtest::ProgramFolder().string();
    ScanSettings = orb::ScanSettingsRecord();
    MiscSettings = orb::MiscSettingsRecord();
    g_scanFamilyTag = "Vq";
    g_bBatchMode = 0;
    AppStatus = 0;
    brightBefore_ = BrightContSettings;
  }
  void TearDown() override {
    if (frame_) {
      frame_->Destroy();
      orbtest::PumpUntil([] { return g_hMainFrame.load() == nullptr; });
    }
    delete manager_;
    orb::SetScanningEntryPoints({});
    BrightContSettings = brightBefore_;
  }
  CMainFrame* MakeFrame() {
    manager_ = new COrbalonDocManager;
    new wxDocTemplate(manager_, "Image", "*.*", "", "tif", "COrbalonDoc", "COrbalonView", CLASSINFO(COrbalonDoc),
                      CLASSINFO(COrbalonView));
    frame_ = CMainFrame::Create(manager_, "Orbalon");
    if (frame_) wxTheApp->SetTopWindow(frame_);
    return frame_;
  }
  CViewPresetPropPage* Page() {
    return dynamic_cast<CViewPresetPropPage*>(frame_->ViewSheet()->GetPage(orb::kPagePresets));
  }
  std::vector<std::string> Listed() {
    std::vector<std::string> names;
    for (const wxString& s : Page()->List()->GetStrings()) names.emplace_back(s.utf8_str());
    return names;
  }
  void Select(const std::string& name) {
    wxListBox* list = Page()->List();
    const int i = list->FindString(wxString::FromUTF8(name), true);
    ASSERT_NE(i, wxNOT_FOUND) << name;
    list->SetSelection(i);
    wxCommandEvent e(wxEVT_LISTBOX, list->GetId());
    e.SetEventObject(list);
    e.SetInt(i);
    list->GetEventHandler()->ProcessEvent(e);
  }
  void PressDelete() {
    wxKeyEvent k(wxEVT_KEY_DOWN);
    k.m_keyCode = WXK_DELETE;
    k.SetEventObject(Page()->List());
    Page()->List()->GetEventHandler()->ProcessEvent(k);
  }
  fs::path Folder() const { return data_.path() / "presets" / "Vq"; }
  std::set<std::string> FilesOf(const std::string& name) const {
    std::set<std::string> files;
    std::error_code ec;
    for (fs::directory_iterator it(Folder(), ec), end; !ec && it != end; it.increment(ec)) {
      const std::string f = it->path().filename().string();
      if (f.rfind(name + ".", 0) == 0) files.insert(f);
    }
    return files;
  }

  orbtest::TempDir data_;
  COrbalonDocManager* manager_ = nullptr;
  CMainFrame* frame_ = nullptr;
  orb::BrightContRecord brightBefore_;
};

TEST_F(PresetsGui, SaveThroughTheDialogListLoadBySelectionAndDeleteWithTheKey) {
  ASSERT_TRUE(MakeFrame());
  ASSERT_TRUE(Page());
  Page()->OnSetActive();
  EXPECT_EQ(Listed(), std::vector<std::string>{"_FactoryDefaults"});

  ScanSettings.ColourMode = 3;
  ScanSettings.WhiteLevel = 240;
  BrightContSettings.Brightness = 40;
  wxTEST_DIALOG(orb::gui::SavePresetCommand(frame_), PresetReply("  A", {"Blueprints", "A1 sheets"}));

  // Saved under the name without its leading blanks, listed and shown with its description.
  EXPECT_EQ(orb::TextField(MiscSettings.PresetName), "A");
  EXPECT_EQ(FilesOf("A").size(), 17u);
  EXPECT_EQ(Listed(), (std::vector<std::string>{"_FactoryDefaults", "A"}));
  EXPECT_EQ(Page()->List()->GetStringSelection(), "A");
  EXPECT_EQ(Page()->FieldText(0)->GetLabel(), "Blueprints");
  EXPECT_EQ(Page()->FieldText(1)->GetLabel(), "A1 sheets");

  // Changed settings come back when A is selected.
  ScanSettings.ColourMode = 4;
  ScanSettings.WhiteLevel = 200;
  BrightContSettings.Brightness = -3;
  Select("_FactoryDefaults");
  EXPECT_EQ(orb::TextField(MiscSettings.PresetName), "_FactoryDefaults");
  EXPECT_EQ(BrightContSettings.Brightness, 0);  // the factory record
  Select("A");
  EXPECT_EQ(orb::TextField(MiscSettings.PresetName), "A");
  EXPECT_EQ(ScanSettings.ColourMode, 3);
  EXPECT_EQ(ScanSettings.WhiteLevel, 240);
  EXPECT_EQ(BrightContSettings.Brightness, 40);

  // Delete on A, answered OK: every file of A goes; the list is rebuilt.
  wxTEST_DIALOG(PressDelete(), wxExpectModal<wxMessageDialog>(wxID_OK).Describe("delete question"));
  EXPECT_TRUE(FilesOf("A").empty());
  EXPECT_EQ(Listed(), std::vector<std::string>{"_FactoryDefaults"});
  EXPECT_EQ(Page()->List()->GetSelection(), 0);
  EXPECT_EQ(orb::TextField(MiscSettings.PresetName), "A");  // changes only with a selection

  // The factory preset says it cannot be deleted and stays.
  const auto factory = FilesOf("_FactoryDefaults");
  wxTEST_DIALOG(PressDelete(), wxExpectModal<wxMessageDialog>(wxID_OK).Describe("cannot delete"));
  EXPECT_EQ(FilesOf("_FactoryDefaults"), factory);
  EXPECT_EQ(Listed(), std::vector<std::string>{"_FactoryDefaults"});
}

TEST_F(PresetsGui, DeleteAnsweredCancelKeepsThePreset) {
  ASSERT_TRUE(MakeFrame());
  std::string error;
  ASSERT_TRUE(orb::presets::PresetStore::Current().Save("Keep", {}, &error)) << error;
  Page()->OnSetActive();
  Page()->List()->SetStringSelection("Keep");
  wxTEST_DIALOG(PressDelete(), wxExpectModal<wxMessageDialog>(wxID_CANCEL).Describe("delete question"));
  EXPECT_EQ(FilesOf("Keep").size(), 17u);
}

TEST_F(PresetsGui, TheLoadMessageLoadsBeforeItReturns) {
  ASSERT_TRUE(MakeFrame());
  ScanSettings.WhiteLevel = 77;
  std::string error;
  ASSERT_TRUE(orb::presets::PresetStore::Current().Save("R7", {}, &error)) << error;
  ScanSettings.WhiteLevel = 1;
  orb::SetTextField(MiscSettings.PresetName, "R7");
  EXPECT_EQ(orb::SendAppMessage(orb::gui::HandleOf(frame_), WM_LOAD_PRESET), 0);
  EXPECT_EQ(ScanSettings.WhiteLevel, 77);
}

class PresetDialogTest : public PresetsGui {
 protected:
  void SetUp() override {
    PresetsGui::SetUp();
    parent_ = new wxFrame(nullptr, wxID_ANY, "presets");
  }
  void TearDown() override {
    parent_->Destroy();
    PresetsGui::TearDown();
  }
  // The dialog without the frame's saver writes only the description.
  bool Save(const wxString& name, std::vector<wxString> fields) {
    CPresetDlg dlg(parent_);
    dlg.NameBox()->ChangeValue(name);
    for (size_t i = 0; i < fields.size(); ++i) dlg.Field(static_cast<int>(i))->ChangeValue(fields[i]);
    return dlg.SaveFromControls();
  }
  wxFrame* parent_ = nullptr;
};

TEST_F(PresetDialogTest, FieldsAreStoredCutTo32AndShownSoWhenItOpensAgain) {
  const wxString forty(wxString('f', 40));
  ASSERT_TRUE(Save("Long", {"one", forty, "", "", "", "", "", "eight"}));
  const auto bytes = orb::ReadFileBytes((Folder() / "Long.pst").string());
  ASSERT_TRUE(bytes);
  ASSERT_EQ(bytes->size(), 256u);
  EXPECT_EQ(std::string(bytes->begin() + 32, bytes->begin() + 64), std::string(32, 'f'));
  EXPECT_EQ(orb::TextField(MiscSettings.PresetName), "Long");

  std::vector<wxString> seen;
  wxTEST_DIALOG(CPresetDlg(parent_).ShowModal(), PresetPeek(&seen));
  ASSERT_EQ(seen.size(), 9u);
  EXPECT_EQ(seen[0], "Long");
  EXPECT_EQ(seen[1], "one");
  EXPECT_EQ(seen[2], wxString('f', 32));
  EXPECT_EQ(seen[8], "eight");
}

TEST_F(PresetDialogTest, NamesThatCannotBeUsedKeepTheDialogOpen) {
  // Blanks only: nothing happens, no message.
  EXPECT_FALSE(Save("   ", {"x"}));
  // Refused names say why; the current name stays.
  for (const char* bad : {"../up", ".dot", "a*b", "_FACTORYDEFAULTS"}) {
    SCOPED_TRACE(bad);
    bool saved = true;
    wxTEST_DIALOG(saved = Save(bad, {"x"}), wxExpectModal<wxMessageDialog>(wxID_OK).Describe("refused"));
    EXPECT_FALSE(saved);
    EXPECT_EQ(orb::TextField(MiscSettings.PresetName), "_FactoryDefaults");
  }
  EXPECT_FALSE(fs::exists(data_.path() / "presets" / "up.pst"));
}

TEST_F(PresetDialogTest, ReplacingAPresetAsksFirst) {
  ASSERT_TRUE(Save("Same", {"first"}));
  orb::SetTextField(MiscSettings.PresetName, "Other");
  const auto before = orb::ReadFileBytes((Folder() / "Same.pst").string());
  bool saved = true;
  wxTEST_DIALOG(saved = Save("Same", {"second"}), wxExpectModal<wxMessageDialog>(wxID_NO).Describe("replace?"));
  EXPECT_FALSE(saved);
  EXPECT_EQ(orb::ReadFileBytes((Folder() / "Same.pst").string()), before);
  EXPECT_EQ(orb::TextField(MiscSettings.PresetName), "Other");  // changes only with a save
  wxTEST_DIALOG(saved = Save("Same", {"second"}), wxExpectModal<wxMessageDialog>(wxID_YES).Describe("replace?"));
  EXPECT_TRUE(saved);
  EXPECT_EQ(orb::presets::PresetStore::Current().ReadHeader("Same")->at(0), "second");
}

TEST_F(PresetDialogTest, AFailedSaveIsReportedAndChangesNothing) {
  CPresetDlg dlg(parent_, [](const std::string&, const orb::presets::HeaderFields&, std::string* error) {
    *error = "No space left on device";
    return false;
  });
  dlg.NameBox()->ChangeValue("Full");
  bool saved = true;
  wxTEST_DIALOG(saved = dlg.SaveFromControls(), wxExpectModal<wxMessageDialog>(wxID_OK).Describe("not saved"));
  EXPECT_FALSE(saved);
  EXPECT_EQ(orb::TextField(MiscSettings.PresetName), "_FactoryDefaults");
}

TEST_F(PresetDialogTest, CancellingTheBrowseDialogKeepsTheTypedName) {
  CPresetDlg dlg(parent_);
  dlg.NameBox()->ChangeValue("Typed");
  wxTEST_DIALOG(dlg.BrowsePresets(), wxExpectModal<wxFileDialog>(wxString(), wxID_CANCEL));
  EXPECT_EQ(dlg.NameBox()->GetValue(), "Typed");
}

}  // namespace
