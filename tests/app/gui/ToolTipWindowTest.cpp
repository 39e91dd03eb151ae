#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/frame.h>
#include <wx/evtloop.h>
#include <wx/tooltip.h>

#include "common/LanguageModule.h"
#include "common/ResourceIds.h"
#include "common/ToolTipText.h"
#include "common/gui/WndWithToolTip.h"
#include "engine/Settings.h"

namespace {

wxString Tip(wxWindow* w) { return w->GetToolTip() ? w->GetToolTip()->GetTip() : wxString(); }

TEST(ToolTipWindow, ModesFallbackAndControlsWithoutIds) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "t");
  auto* panel = new CWndWithToolTip(frame);
  auto* twoLines = new wxButton(panel, orb::res::IDC_LAYOUT_BUTTON, "layout");
  auto* noText = new wxButton(panel, 31001, "none");
  auto* anon = new wxButton(panel, wxID_ANY, "anonymous");
  auto* disabled = new wxButton(panel, 31002, "disabled");
  disabled->Disable();
  wxString general = wxString::FromUTF8(orb::LoadString(orb::kToolTipFallbackId));
  std::string full = orb::LoadString(orb::res::IDC_LAYOUT_BUTTON);
  ASSERT_NE(full.find('\n'), std::string::npos);

  MiscSettings.TooltipMode = 1;
  panel->RefreshToolTips();
  EXPECT_EQ(Tip(twoLines), wxString::FromUTF8(full.substr(0, full.find('\n'))));
  EXPECT_EQ(Tip(noText), general);
  EXPECT_EQ(Tip(disabled), general);
  EXPECT_EQ(Tip(anon), "");

  MiscSettings.TooltipMode = 2;
  panel->RefreshToolTips();
  EXPECT_EQ(Tip(twoLines), wxString::FromUTF8(full));

  MiscSettings.TooltipMode = 0;
  panel->RefreshToolTips();
  EXPECT_EQ(twoLines->GetToolTip(), nullptr);
  EXPECT_EQ(noText->GetToolTip(), nullptr);
  MiscSettings.TooltipMode = 1;
  frame->Destroy();
}

}  // namespace

#include "app/gui/EngineHostGui.h"
#include "engine/EngineHost.h"

namespace {

TEST(EnginePump, EscDuringAPumpSetsTheCancelFlagAndKeysAreKeptFromWindows) {
  orb::gui::InstallEngineHost();
  CancelFlag = 0;
  // Outside a pump keys belong to the windows.
  EXPECT_FALSE(orb::gui::FilterPumpedKey(wxEVT_KEY_DOWN, WXK_ESCAPE));
  EXPECT_EQ(CancelFlag.load(), 0);
  bool inside = false, escTaken = false, otherTaken = false, mouseTaken = true;
  wxTheApp->CallAfter([&] {
    inside = true;
    escTaken = orb::gui::FilterPumpedKey(wxEVT_KEY_DOWN, WXK_ESCAPE);
    otherTaken = orb::gui::FilterPumpedKey(wxEVT_CHAR, 'a');
    mouseTaken = orb::gui::FilterPumpedKey(wxEVT_LEFT_DOWN, 0);
  });
  {
    wxEventLoopGuarantor loop;
    for (int i = 0; i < 100 && !inside; ++i) orb::PumpMessages();
  }
  ASSERT_TRUE(inside);
  EXPECT_TRUE(escTaken);
  EXPECT_TRUE(otherTaken);
  EXPECT_FALSE(mouseTaken);
  EXPECT_EQ(CancelFlag.load(), 1);
  CancelFlag = 0;
}

}  // namespace
