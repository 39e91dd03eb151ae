// The general settings and connection pages of the view options sheet: values shown,
// changed, stored and shown again after a restart; the sheet's tabs that hold them.
#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/frame.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/radiobut.h>
#include <wx/testing.h>
#include <wx/textctrl.h>

#include <filesystem>
#include <string>

#include "app/gui/ViewConnectPage.h"
#include "app/gui/ViewPropSheet.h"
#include "app/gui/ViewSetPage.h"
#include "common/AppGlobals.h"
#include "engine/AppStatus.h"
#include "engine/Settings.h"
#include "tests/common/TestUtil.h"
#include "tests/common/gui/GuiTestUtil.h"

namespace {

namespace fs = std::filesystem;
using namespace orb::general;

void Click(wxRadioButton* r) {
  r->SetValue(true);
  wxCommandEvent e(wxEVT_RADIOBUTTON, r->GetId());
  e.SetEventObject(r);
  e.SetInt(1);
  r->GetEventHandler()->ProcessEvent(e);
}

void Toggle(wxCheckBox* c) {
  c->SetValue(!c->GetValue());
  wxCommandEvent e(wxEVT_CHECKBOX, c->GetId());
  e.SetEventObject(c);
  e.SetInt(c->GetValue() ? 1 : 0);
  c->GetEventHandler()->ProcessEvent(e);
}

class OptionPages : public ::testing::Test {
 protected:
  void SetUp() override {
    g_szDataFolder = data_.path().string();
    g_szProgramFolder = orbtest::ProgramFolder().string();
    g_szUserFolder = data_.path().string();
    ScanSettings = orb::ScanSettingsRecord();
    MiscSettings = orb::MiscSettingsRecord();
    orb::SetTextField(MiscSettings.WorkingFolder, data_.path().string());
    g_scanFamilyTag = "Vq";
    AppStatus = 0;
    frame_ = new wxFrame(nullptr, wxID_ANY, "options", wxDefaultPosition, wxSize(400, 700));
    frame_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ++frameButtons_; }, orb::connection::kApply);
  }
  void TearDown() override {
    // The toolkit destroys the frame at its next idle time, and the pages write their
    // settings then: let that happen while the test's data folder still exists.
    wxWindow* frame = frame_;
    frame_->Destroy();
    EXPECT_TRUE(orbtest::PumpUntil([frame] { return !wxTopLevelWindows.Find(frame); }, 500));
    AppStatus = 0;
  }
  orbtest::TempDir data_;
  wxFrame* frame_ = nullptr;
  int frameButtons_ = 0;
};

// ------------------------------------------------------------------ general settings

TEST_F(OptionPages, SettingsPageShowsChangesAndKeepsItsValuesOverARestart) {
  MiscSettings.TooltipMode = 2;
  MiscSettings.LengthUnit = 1;
  MiscSettings.DisplayOption = 0x100;  // only the low byte counts: off
  MiscSettings.ScanLogEnabled = 1;
  auto* page = new CViewSetPropPage(frame_);
  page->OnSetActive();
  EXPECT_TRUE(page->Radio(kTooltipWhole)->GetValue());
  EXPECT_FALSE(page->Radio(kTooltipNone)->GetValue());
  EXPECT_TRUE(page->Radio(kUnitCm)->GetValue());
  EXPECT_FALSE(page->DisplayOptionBox()->GetValue());
  EXPECT_TRUE(page->ScanLogBox()->GetValue());
  EXPECT_EQ(std::string(page->FolderBox()->GetValue().utf8_str()), data_.path().string());
  EXPECT_EQ(page->LanguageList()->GetStringSelection(), "English");

  Click(page->Radio(kTooltipNone));
  Click(page->Radio(kUnitInch));
  Toggle(page->DisplayOptionBox());
  Toggle(page->ScanLogBox());
  EXPECT_EQ(MiscSettings.TooltipMode, 0);
  EXPECT_EQ(MiscSettings.LengthUnit, 0);
  EXPECT_EQ(MiscSettings.DisplayOption, 1);
  EXPECT_EQ(MiscSettings.ScanLogEnabled, 0);

  // The program's exit writes the settings; the next start reads them.
  ASSERT_EQ(SaveMiscData(), SettingsWrite::Written);
  MiscSettings = orb::MiscSettingsRecord();
  LoadMiscData();
  auto* again = new CViewSetPropPage(frame_);
  EXPECT_TRUE(again->Radio(kTooltipNone)->GetValue());
  EXPECT_TRUE(again->Radio(kUnitInch)->GetValue());
  EXPECT_TRUE(again->DisplayOptionBox()->GetValue());
  EXPECT_FALSE(again->ScanLogBox()->GetValue());
}

TEST_F(OptionPages, DisplayOptionSnapsBackWhileScanning) {
  MiscSettings.DisplayOption = 1;
  auto* page = new CViewSetPropPage(frame_);
  AppStatus = orb::Bits(orb::ScanState::Scanning);
  Toggle(page->DisplayOptionBox());
  EXPECT_TRUE(page->DisplayOptionBox()->GetValue());
  EXPECT_EQ(MiscSettings.DisplayOption, 1);
}

TEST_F(OptionPages, ChoosingAnotherLanguageTellsItComesWithTheNextStart) {
  MiscSettings.LanguageId = 7;  // no such module here: nothing is selected
  MiscSettings.SubLanguageId = 3;
  auto* page = new CViewSetPropPage(frame_);
  page->OnSetActive();
  EXPECT_EQ(page->LanguageList()->GetSelection(), wxNOT_FOUND);
  const int english = LanguageIndex(page->Languages(), 9);
  ASSERT_GE(english, 0);
  page->LanguageList()->SetSelection(english);
  wxTEST_DIALOG(page->OnLanguageCloseUp(), wxExpectModal<wxMessageDialog>(wxID_OK).Describe("next start"));
  EXPECT_EQ(MiscSettings.LanguageId, 9);
  EXPECT_EQ(MiscSettings.SubLanguageId, 3);
  page->OnLanguageCloseUp();  // the language in force: no message
  EXPECT_EQ(MiscSettings.LanguageId, 9);
}

TEST_F(OptionPages, WorkingFolderIsAskedForCreatedOrRefused) {
  auto* page = new CViewSetPropPage(frame_);
  const std::string old = orb::TextField(MiscSettings.WorkingFolder);
  const fs::path fresh = data_.path() / "fresh";

  // A missing folder: No brings the old text back.
  page->FolderBox()->ChangeValue(wxString::FromUTF8(fresh.string()));
  wxTEST_DIALOG(page->ApplyWorkFolder(), wxExpectModal<wxMessageDialog>(wxID_NO).Describe("create?"));
  EXPECT_FALSE(fs::exists(fresh));
  EXPECT_EQ(std::string(page->FolderBox()->GetValue().utf8_str()), old);
  // Yes creates it and it becomes the working folder.
  page->FolderBox()->ChangeValue(wxString::FromUTF8(fresh.string()));
  wxTEST_DIALOG(page->ApplyWorkFolder(), wxExpectModal<wxMessageDialog>(wxID_YES).Describe("create?"));
  EXPECT_TRUE(fs::is_directory(fresh));
  EXPECT_EQ(orb::TextField(MiscSettings.WorkingFolder), fresh.string());

  // A file, and a path longer than the setting: refused, the folder stays.
  orbtest::WriteFile(data_.path() / "file.txt", "x");
  for (const std::string& bad : {(data_.path() / "file.txt").string(), "/" + std::string(300, 'p')}) {
    page->FolderBox()->ChangeValue(wxString::FromUTF8(bad));
    wxTEST_DIALOG(page->ApplyWorkFolder(), wxExpectModal<wxMessageDialog>(wxID_OK).Describe("refused"));
    EXPECT_EQ(orb::TextField(MiscSettings.WorkingFolder), fresh.string());
    EXPECT_EQ(std::string(page->FolderBox()->GetValue().utf8_str()), fresh.string());
  }
}

// ------------------------------------------------------------------ connection

TEST_F(OptionPages, ConnectionPageEnablesByChoiceAndStoresOnlyOnApply) {
  auto* page = new CViewConnectPropPage(frame_);
  EXPECT_TRUE(page->LocalButton()->GetValue());
  EXPECT_FALSE(page->AddressBox()->IsEnabled());
  EXPECT_FALSE(page->PortBox(1)->IsEnabled());
  EXPECT_EQ(page->PortBox(1)->GetValue(), "702");

  Click(page->NetworkButton());
  EXPECT_TRUE(page->AddressBox()->IsEnabled());
  EXPECT_TRUE(page->PortBox(2)->IsEnabled());
  EXPECT_EQ(ScanSettings.NetworkOption, 0);  // nothing stored before Apply
  page->AddressBox()->ChangeValue("192.168.10.20");
  page->PortBox(1)->ChangeValue("9100");
  page->PortBox(2)->ChangeValue("9101");
  wxButton* apply = dynamic_cast<wxButton*>(page->FindWindow(orb::connection::kApply));
  ASSERT_TRUE(apply);
  wxCommandEvent press(wxEVT_BUTTON, apply->GetId());
  press.SetEventObject(apply);
  apply->GetEventHandler()->ProcessEvent(press);
  EXPECT_EQ(frameButtons_, 0);  // the frame's button of the same id was not pressed
  EXPECT_EQ(ScanSettings.NetworkOption, 1);
  EXPECT_EQ(orb::TextField(ScanSettings.ScannerAddress), "192.168.10.20");
  EXPECT_EQ(ScanSettings.NetworkPort1, 9100);

  // A restart reads "ScanData.dat", written by Apply.
  ScanSettings = orb::ScanSettingsRecord();
  LoadScanData();
  auto* again = new CViewConnectPropPage(frame_);
  EXPECT_TRUE(again->NetworkButton()->GetValue());
  EXPECT_EQ(again->AddressBox()->GetValue(), "192.168.10.20");
  EXPECT_EQ(again->PortBox(1)->GetValue(), "9100");
  EXPECT_EQ(again->PortBox(2)->GetValue(), "9101");
}

TEST_F(OptionPages, ConnectionPageRefusesAWrongAddressOrPort) {
  auto* page = new CViewConnectPropPage(frame_);
  Click(page->NetworkButton());
  struct Case {
    const char* address;
    const char* port1;
    const char* port2;
  } cases[] = {{"300.1.1.1", "702", "704"}, {"10.0.0.1", "70000", "704"}, {"10.0.0.1", "702", "port"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    page->AddressBox()->ChangeValue(c.address);
    page->PortBox(1)->ChangeValue(c.port1);
    page->PortBox(2)->ChangeValue(c.port2);
    bool stored = true;
    wxTEST_DIALOG(stored = page->OnApply(), wxExpectModal<wxMessageDialog>(wxID_OK).Describe("wrong entry"));
    EXPECT_FALSE(stored);
    EXPECT_EQ(ScanSettings.NetworkOption, 0);
    EXPECT_FALSE(fs::exists(data_.path() / "ScanData.dat"));
  }
}

// ------------------------------------------------------------------ the sheet's tabs

TEST_F(OptionPages, TheSheetHoldsThePresetsSettingsAndConnectionPages) {
  frame_->SetSize(wxSize(420, 760));
  auto* sheet = new CViewPropSheet(frame_);
  frame_->Show();
  EXPECT_TRUE(dynamic_cast<CViewSetPropPage*>(sheet->GetPage(orb::kPageSettings)));
  EXPECT_TRUE(dynamic_cast<CViewConnectPropPage*>(sheet->GetPage(orb::kPageConnection)));
  EXPECT_TRUE(sheet->GetPage(orb::kPagePresets)->FindWindow(1151));
  for (int page : {orb::kPagePresets, orb::kPageSettings, orb::kPageConnection}) {
    sheet->SetActivePage(page);
    EXPECT_EQ(sheet->GetActiveIndex(), page);
    orbtest::PumpUntil([&] { return sheet->GetPage(page)->IsShownOnScreen(); }, 200);
    EXPECT_TRUE(sheet->GetPage(page)->IsShownOnScreen());
  }
  // Every page but the connection page records itself as the page to reopen.
  EXPECT_EQ(MiscSettings.ActiveViewPage, orb::kPageSettings);
}

}  // namespace
