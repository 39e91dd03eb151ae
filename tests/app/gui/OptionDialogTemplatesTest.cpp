// The output option dialogs are the language module's templates 249 and 279: their
// titles, the quality label and the controls by the ids they are known by come from the
// module.
#include <gtest/gtest.h>
#include <wx/checkbox.h>
#include <wx/frame.h>
#include <wx/slider.h>
#include <wx/stattext.h>

#include "app/gui/OutputOptionDlgs.h"

namespace {

// The labels of the dialog's static texts that carry no control id of their own.
wxString FreeLabels(wxWindow* dlg) {
  wxString all;
  for (wxWindow* child : dlg->GetChildren()) {
    auto* t = dynamic_cast<wxStaticText*>(child);
    if (t && t->GetId() < 0 && t->IsShown()) all += t->GetLabel() + "|";
  }
  return all;
}

wxString Label(wxWindow* dlg, int id) {
  auto* t = dynamic_cast<wxStaticText*>(dlg->FindWindow(id));
  return t ? t->GetLabel() : wxString("<missing>");
}

TEST(OptionDialogTemplates, QualityDialogIsTemplate249WithItsLabel) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "options");
  struct Case {
    int kind, max;
    bool lossless;
  } cases[] = {{1, 100, false}, {4, 100, false}, {6, 1000, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    CJpegQuality dlg(c.kind, frame);
    EXPECT_EQ(dlg.GetId(), CJpegQuality::kTemplateId);
    EXPECT_FALSE(dlg.GetTitle().empty());
    EXPECT_TRUE(FreeLabels(&dlg).Contains("Quality")) << FreeLabels(&dlg);
    auto* slider = dynamic_cast<wxSlider*>(dlg.FindWindow(CJpegQuality::kSliderId));
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(slider->GetMax(), c.max);
    EXPECT_EQ(Label(&dlg, CJpegQuality::kHighLabelId), wxString::Format("%d", c.max));
    EXPECT_EQ(dlg.LosslessShown(), c.lossless);
  }
  frame->Destroy();
}

TEST(OptionDialogTemplates, TiffOptionsAreTemplate279AndShowTheQualityOnlyForTiffJpeg) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "options");
  for (int kind : {3, 11, 15}) {
    SCOPED_TRACE(kind);
    CTiffOpt dlg(kind, frame);
    EXPECT_EQ(dlg.GetId(), CTiffOpt::kTemplateId);
    EXPECT_FALSE(dlg.GetTitle().empty());
    EXPECT_FALSE(Label(&dlg, CTiffOpt::kProfileLabelId).empty());
    EXPECT_NE(Label(&dlg, CTiffOpt::kProfileLabelId), "<missing>");
    EXPECT_EQ(dlg.FindWindow(CTiffOpt::kQualityLabelId)->IsShown(), kind == 3);
    EXPECT_EQ(dlg.QualityShown(), kind == 3);
    EXPECT_TRUE(FreeLabels(&dlg).Contains("Copyright")) << FreeLabels(&dlg);
  }
  frame->Destroy();
}

}  // namespace
