// The About box the program shows at start and from the Help menu: the language module's
// template 100 filled with the version line, the program's line and the copyright, and
// the start-up check box that only OK keeps.
#include <gtest/gtest.h>
#include <wx/checkbox.h>
#include <wx/frame.h>
#include <wx/modalhook.h>
#include <wx/stattext.h>
#include <wx/testing.h>

#include "common/LanguageModule.h"
#include "app/gui/AboutDlg.h"
#include "app/gui/OrbalonApp.h"
#include "engine/Settings.h"

namespace {

class AboutReply : public wxExpectModalBase<CAboutDlg, AboutReply> {
 public:
  AboutReply(bool show, int id) : m_show(show), m_id(id) {}

 protected:
  int OnInvoked(CAboutDlg* dlg) const override {
    dlg->ShowAtStart()->SetValue(m_show);
    return m_id;
  }
  wxString GetDefaultDescription() const override { return "About box"; }

 private:
  bool m_show;
  int m_id;
};

wxString Label(wxWindow* w, int id) {
  auto* t = dynamic_cast<wxStaticText*>(w->FindWindow(id));
  return t ? t->GetLabel() : wxString("<missing>");
}

TEST(AboutBox, KeepsItsChoiceOnlyWithOk) {
  EXPECT_EQ(CAboutDlg::TitleLine("Orbalon", "2, 5, 0, 17"), "Orbalon v2. 5. 0. 17");
  auto* frame = new wxFrame(nullptr, wxID_ANY, "about");
  const uint8_t before = MiscSettings.ShowAboutBox;
  MiscSettings.ShowAboutBox = 1;
  wxTEST_DIALOG(orb::gui::ShowAboutBox(frame), AboutReply(false, wxID_CANCEL));
  EXPECT_EQ(MiscSettings.ShowAboutBox, 1);
  wxTEST_DIALOG(orb::gui::ShowAboutBox(frame), AboutReply(false, wxID_OK));
  EXPECT_EQ(MiscSettings.ShowAboutBox, 0);
  MiscSettings.ShowAboutBox = before;
  frame->Destroy();
}

TEST(AboutBox, TheApplicationsAboutCommandShowsTheRealBoxAndKeepsTheChoiceOnOk) {
  const uint8_t before = MiscSettings.ShowAboutBox;
  wxAppConsole* const testApp = wxTheApp;
  {
    COrbalonApp app;  // not started: only its About command runs
    wxApp::SetInstance(testApp);
    MiscSettings.ShowAboutBox = 1;
    wxTEST_DIALOG(app.OnAppAbout(), AboutReply(false, wxID_CANCEL));
    EXPECT_EQ(MiscSettings.ShowAboutBox, 1);
    wxTEST_DIALOG(app.OnAppAbout(), AboutReply(false, wxID_OK));
    EXPECT_EQ(MiscSettings.ShowAboutBox, 0);
    wxTEST_DIALOG(app.OnAppAbout(), AboutReply(true, wxID_OK));
    EXPECT_EQ(MiscSettings.ShowAboutBox, 1);
  }
  // A second application object takes the process-wide instance with it when it goes.
  wxApp::SetInstance(testApp);
  MiscSettings.ShowAboutBox = before;
}

TEST(AboutBox, IsTheModulesTemplateWithItsLinesAndEnlargedFonts) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "about");
  MiscSettings.ShowAboutBox = 0;
  {
    CAboutDlg dlg(frame);
    EXPECT_TRUE(dlg.FromModule());
    EXPECT_EQ(dlg.GetId(), CAboutDlg::kTemplateId);
    EXPECT_EQ(Label(&dlg, 1446), "Orbalon v0. 1. 0. 0");
    // The program's line is the module's string 33092, read here from its table.
    EXPECT_EQ(Label(&dlg, 1303), wxString::FromUTF8(orb::CurrentLanguage()->String(33092)));
    EXPECT_FALSE(Label(&dlg, 1303).empty());
    EXPECT_TRUE(Label(&dlg, 1445).Contains("Copyright"));
    ASSERT_NE(dlg.ShowAtStart(), nullptr);
    EXPECT_FALSE(dlg.ShowAtStart()->GetValue());
    EXPECT_FALSE(dlg.ShowAtStart()->GetLabel().empty());
    // Twice, twice and one and a half times the template's font (that of the check box).
    const int base = dlg.ShowAtStart()->GetFont().GetPointSize();
    EXPECT_EQ(dlg.FindWindow(1446)->GetFont().GetPointSize(), 2 * base);
    EXPECT_EQ(dlg.FindWindow(1303)->GetFont().GetPointSize(), 2 * base);
    EXPECT_EQ(dlg.FindWindow(1445)->GetFont().GetPointSize(), base * 3 / 2);
    EXPECT_EQ(dlg.GetBackgroundColour(), wxColour(250, 241, 208));
  }
  frame->Destroy();
}

}  // namespace
