// Until the batch tools exist: a batch file named at start and a batch scan each say, in
// the module's words, that they are not available, and the program leaves batch mode.
#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/notebook.h>
#include <wx/testing.h>

#include "app/gui/BatchUnavailable.h"
#include "common/AppGlobals.h"
#include "common/LanguageModule.h"
#include "engine/AppStatus.h"
#include "engine/Settings.h"
#include "scanning/gui/ScanToolsPropPage.h"

namespace {

class MessageReply : public wxExpectModalBase<wxMessageDialog, MessageReply> {
 public:
  explicit MessageReply(wxString* seen) : m_seen(seen) {}

 protected:
  int OnInvoked(wxMessageDialog* dlg) const override {
    *m_seen = dlg->GetMessage();
    return wxID_OK;
  }
  wxString GetDefaultDescription() const override { return "message box"; }

 private:
  wxString* m_seen;
};

TEST(BatchUnavailable, ABatchFileAtStartIsDeclinedOnceAndScanWorksAgain) {
  const orb::ScanSettingsRecord saved = ScanSettings;
  ScanSettings.ScannerType = 0;
  ScanSettings.ScannerSubType = 1;
  g_bScannerPresent = 1;
  AppStatus.store(0);
  auto* frame = new wxFrame(nullptr, wxID_ANY, "batch");
  auto* book = new wxNotebook(frame, wxID_ANY);
  auto* page = new CScanToolsPropPage(book);
  book->AddPage(page, "Scan");
  g_bBatchMode = 1;
  page->OnSetActive();
  ASSERT_FALSE(page->ControlWindow(orb::page_ids::kScan)->IsEnabled());

  wxString seen;
  wxTEST_DIALOG(orb::gui::DeclineBatchRun(frame, "/jobs/night.bch"), MessageReply(&seen));
  EXPECT_EQ(g_bBatchMode.load(), 0);
  EXPECT_TRUE(page->ControlWindow(orb::page_ids::kScan)->IsEnabled());
  const wxString text = wxString::FromUTF8(orb::CurrentLanguage()->String(orb::gui::kStrBatchRunUnavailable));
  ASSERT_TRUE(text.Contains("%s"));
  EXPECT_EQ(seen, wxString::Format(text, "/jobs/night.bch"));

  frame->Destroy();
  ScanSettings = saved;
}

TEST(BatchUnavailable, ABatchScanSaysSoAndIsSwitchedOffAsACancelledWait) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "batch scan");
  wxString seen;
  orb::BatchWaitResult result = orb::BatchWaitResult::Paper;
  wxTEST_DIALOG(result = orb::gui::DeclineBatchScan(frame), MessageReply(&seen));
  EXPECT_EQ(result, orb::BatchWaitResult::Cancelled);
  EXPECT_EQ(seen, wxString::FromUTF8(orb::CurrentLanguage()->String(orb::gui::kStrBatchScanUnavailable)));
  EXPECT_FALSE(seen.empty());
  frame->Destroy();
}

}  // namespace
