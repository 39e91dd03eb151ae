// The pages of the view options sheet that are not built yet each say, in one line of the
// language module, what they will hold and that it is not available yet; none is a blank
// panel. The scan sheet's pages come in the order and with the captions and templates of
// the module.
#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/stattext.h>

#include "app/gui/ViewPropSheet.h"
#include "common/LanguageModule.h"
#include "scanning/gui/ScanPropSheet.h"
#include "tools/gui/ToolsPropPages.h"

namespace {

// The texts of the page's static controls, shown ones only.
wxString ShownText(wxWindow* page) {
  wxString all;
  for (wxWindow* child : page->GetChildren()) {
    auto* t = dynamic_cast<wxStaticText*>(child);
    if (t && t->IsShown()) all += t->GetLabel() + " ";
  }
  all.Replace("\n", " ");  // wrapped lines
  return all;
}

TEST(SheetPages, PagesNotBuiltYetSayWhatTheyWillHold) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "sheets", wxDefaultPosition, wxSize(1200, 800));
  auto* scan = new CScanPropSheet(frame);
  auto* view = new CViewPropSheet(frame);
  frame->Show();
  struct Case {
    wxWindow* page;
    const char* words;  // what the line names
  } cases[] = {
      {view->GetPage(1), "Tools"},
      {view->GetPage(2), "Other tools"},
      {view->GetPage(0), "Presets"},
      {view->GetPage(3), "language"},
      {view->GetPage(4), "network"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    ASSERT_NE(c.page, nullptr);
    const wxString text = ShownText(c.page);
    EXPECT_TRUE(text.Contains(c.words)) << text;
    EXPECT_TRUE(text.Contains("Not available yet")) << text;
  }
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
