#include "app/gui/BatchUnavailable.h"

#include <wx/msgdlg.h>

#include "common/AppGlobals.h"
#include "common/gui/Resources.h"
#include "scanning/gui/ScanToolsPropPage.h"

namespace orb::gui {

void DeclineBatchRun(wxWindow* parent, const std::string& batchFile) {
  static bool said = false;
  if (!said) {
    said = true;
    wxMessageBox(wxString::Format(Str(kStrBatchRunUnavailable), wxString::FromUTF8(batchFile)),
                 wxString::FromUTF8(g_szAppTitle), wxOK | wxICON_INFORMATION, parent);
  }
  g_bBatchMode = 0;
  if (auto* page = CScanToolsPropPage::Current()) page->OnSetActive();
}

orb::BatchWaitResult DeclineBatchScan(wxWindow* parent) {
  wxMessageBox(Str(kStrBatchScanUnavailable), wxString::FromUTF8(g_szAppTitle), wxOK | wxICON_INFORMATION, parent);
  return orb::BatchWaitResult::Cancelled;
}

}  // namespace orb::gui
