// The Open dialog has the module's title and the image filter of the open command.
#include <gtest/gtest.h>
#include <wx/docview.h>
#include <wx/filedlg.h>
#include <wx/frame.h>
#include <wx/modalhook.h>
#include <wx/testing.h>

#include "app/gui/FileOpen.h"
#include "common/LanguageModule.h"

namespace {

class FileDialogSeen : public wxExpectModalBase<wxFileDialog, FileDialogSeen> {
 public:
  FileDialogSeen(wxString* title, wxString* filter) : m_title(title), m_filter(filter) {}

 protected:
  int OnInvoked(wxFileDialog* dlg) const override {
    *m_title = dlg->GetMessage();
    *m_filter = dlg->GetWildcard();
    return wxID_CANCEL;
  }
  wxString GetDefaultDescription() const override { return "open dialog"; }

 private:
  wxString* m_title;
  wxString* m_filter;
};

TEST(FileDialogs, OpenHasItsTitleAndFilter) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "open");
  wxDocManager manager;
  wxString title, filter;
  wxTEST_DIALOG(orb::gui::OnFileOpen(&manager, frame), FileDialogSeen(&title, &filter));
  EXPECT_FALSE(title.empty());
  EXPECT_EQ(title, wxString::FromUTF8(orb::CurrentLanguage()->String(orb::gui::kStrOpenTitle)));
  EXPECT_EQ(filter, "Image Files (All supported formats)|*.tif;*.jpg;*.jp2;*.pdf;*.png;|All Files (*.*)|*.*");
  frame->Destroy();
}

}  // namespace
