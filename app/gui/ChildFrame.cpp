#include "app/gui/ChildFrame.h"

#include "common/Messages.h"
#include "app/gui/OrbalonDoc.h"

std::function<void(wxDocument*)> CChildFrame::s_toolsPageActivate;
std::function<void(wxDocument*)> CChildFrame::s_otherToolsPageActivate;

CChildFrame::CChildFrame(wxDocument* doc, wxView* view, wxMDIParentFrame* parent)
    : wxDocMDIChildFrame(doc, view, parent, wxID_ANY, doc ? doc->GetUserReadableName() : wxString(),
                         wxDefaultPosition, wxDefaultSize, wxDEFAULT_FRAME_STYLE | wxMAXIMIZE) {
  // Every new child covers the whole client area.
  Maximize(true);
  Bind(wxEVT_ACTIVATE, &CChildFrame::OnActivate, this);
  Bind(wxEVT_CLOSE_WINDOW, &CChildFrame::OnClose, this);
}

void CChildFrame::OnActivate(wxActivateEvent& e) {
  e.Skip();  // the document manager tracks the active view through it
  OnMDIActivate(e.GetActive());
}

void CChildFrame::OnMDIActivate(bool activating) {
  if (!activating) return;
  // The main window's title names the active image.
  if (auto* doc = dynamic_cast<COrbalonDoc*>(GetDocument())) doc->UpdateTitle();
  orb::SendAppMessage(g_hThumbDlg.load(), WM_THUMB_REFRESH);
  if (!orb::IsScanning()) {
    if (g_hToolsPage.load() && s_toolsPageActivate) s_toolsPageActivate(GetDocument());
    if (g_hOtherToolsPage.load() && s_otherToolsPageActivate) s_otherToolsPageActivate(GetDocument());
  }
}

bool CChildFrame::CanUserClose() const {
  auto* doc = dynamic_cast<COrbalonDoc*>(GetDocument());
  // The program itself closes the scan document when a scan is accepted or rejected.
  return !(doc && doc->IsScanDocument() && !orb::HasStatus(orb::StatusBit::ProgramClose));
}

void CChildFrame::OnClose(wxCloseEvent& e) {
  if (e.CanVeto() && !CanUserClose()) {
    e.Veto();
    return;
  }
  e.Skip();
}
