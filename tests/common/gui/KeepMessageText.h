// A message box the code under test shows, answered as the user would, its text kept for
// the test to check.
#pragma once

#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/testing.h>

#include <utility>

namespace orbtest {

// Answers the next message box with OK and keeps its text in `*seen`; `description` names
// the box when it never comes.
class KeepMessageText : public wxExpectModalBase<wxMessageDialog, KeepMessageText> {
 public:
  explicit KeepMessageText(wxString* seen, wxString description = "a message box")
      : m_seen(seen), m_description(std::move(description)) {}

 protected:
  int OnInvoked(wxMessageDialog* dlg) const override {
    *m_seen = dlg->GetMessage();
    return wxID_OK;
  }
  wxString GetDefaultDescription() const override { return m_description; }

 private:
  wxString* m_seen;
  wxString m_description;
};

}  // namespace orbtest
