// The English module's XRC objects, loaded by the toolkit, keep their numeric ids.
#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/toolbar.h>
#include <wx/xrc/xmlres.h>

#include "common/ResourceIds.h"
#include "common/gui/Resources.h"

namespace res = orb::res;

TEST(LanguageResources, ObjectsKeepTheirNumericIds) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "t");
  std::unique_ptr<wxMenuBar> menus(wxXmlResource::Get()->LoadMenuBar(orb::gui::ResName(res::IDR_MAINFRAME)));
  ASSERT_TRUE(menus);
  for (int id : {32793, 32792, 32797, 32799, 32800, 40012, 40039, 1243, 40029, int(wxID_OPEN), int(wxID_EXIT)})
    EXPECT_NE(menus->FindItem(res::WxCommandId(id)), nullptr) << id;

  wxToolBar* bar = wxXmlResource::Get()->LoadToolBar(frame, orb::gui::ResName(res::IDR_TOOLBAR));
  ASSERT_TRUE(bar);
  // The first two tools are check boxes.
  ASSERT_GE(bar->GetToolsCount(), 2u);
  EXPECT_EQ(bar->GetToolByPos(0)->GetKind(), wxITEM_CHECK);
  EXPECT_EQ(bar->GetToolByPos(1)->GetKind(), wxITEM_CHECK);
  EXPECT_NE(bar->FindById(res::WxCommandId(32797)), nullptr);
  EXPECT_TRUE(bar->GetToolByPos(0)->GetNormalBitmap().IsOk());

  wxPanel* dlgBar = orb::gui::LoadPanel(frame, res::IDD_DIALOGBAR);
  ASSERT_TRUE(dlgBar);
  EXPECT_EQ(dlgBar->GetId(), res::IDD_DIALOGBAR);
  EXPECT_NE(dlgBar->FindWindow(res::IDC_LAYOUT_BUTTON), nullptr);

  // A template the module does not have: no panel and no error box.
  EXPECT_EQ(orb::gui::LoadPanel(frame, 31999), nullptr);
  EXPECT_TRUE(orb::gui::ModuleBitmap(res::IDB_LAYOUT_COMPACT).IsOk());
  EXPECT_FALSE(orb::gui::ModuleBitmap(31999).IsOk());
  EXPECT_EQ(orb::gui::Str(res::IDS_APP_TITLE), "Orbalon");
  frame->Destroy();
}
