// The view options sheet holds the tool hosts on its tools and other tools tabs. The scan
// sheet's pages come in the order and with the captions and templates of the module.
#include <gtest/gtest.h>
#include <wx/frame.h>

#include "app/gui/ViewPropSheet.h"
#include "common/LanguageModule.h"
#include "scanning/gui/ScanPropSheet.h"
#include "tools/gui/ToolsPropPages.h"

namespace {

TEST(SheetPages, PagesHoldTheirControls) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "sheets", wxDefaultPosition, wxSize(1200, 800));
  auto* scan = new CScanPropSheet(frame);
  auto* view = new CViewPropSheet(frame);
  frame->Show();
  // The tools and other tools tabs hold their tool buttons now.
  EXPECT_NE(dynamic_cast<CViewToolsPropPage*>(view->GetPage(1)), nullptr);
  EXPECT_NE(dynamic_cast<COtherToolsPropPage*>(view->GetPage(2)), nullptr);
  // Tab order and captions: output, general (32777), media handling (32782), extended (32778).
  const auto* module = orb::CurrentLanguage();
  EXPECT_EQ(scan->GetTabCaption(CScanPropSheet::kGeneral), wxString::FromUTF8(module->String(32777)));
  EXPECT_EQ(scan->GetTabCaption(2), wxString::FromUTF8(module->String(32782)));
  EXPECT_EQ(scan->GetTabCaption(3), wxString::FromUTF8(module->String(32778)));
  EXPECT_EQ(scan->GetPage(CScanPropSheet::kGeneral)->GetId(), 145);
  EXPECT_EQ(scan->GetPage(CScanPropSheet::kMedia)->GetId(), 251);
  EXPECT_EQ(scan->GetPage(CScanPropSheet::kExtended)->GetId(), 155);
  // Each holds its controls (the format boxes, the speed slider, the calibrate button).
  EXPECT_NE(scan->GetPage(CScanPropSheet::kGeneral)->FindWindow(1047), nullptr);
  EXPECT_NE(scan->GetPage(CScanPropSheet::kMedia)->FindWindow(1033), nullptr);
  EXPECT_NE(scan->GetPage(CScanPropSheet::kExtended)->FindWindow(1051), nullptr);
  frame->Destroy();
}

}  // namespace
