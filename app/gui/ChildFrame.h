// The MDI child that holds one document's view. It fills the client area, keeps the side
// windows in step with the document that becomes active, and refuses to be closed by the
// user while it shows the scan document.
#pragma once

#include <wx/docmdi.h>

#include <functional>

class CChildFrame : public wxDocMDIChildFrame {
 public:
  CChildFrame(wxDocument* doc, wxView* view, wxMDIParentFrame* parent);

  // Called on activation when no scan runs: the tools page and the other tools page take
  // the active document's working image (installed by those pages).
  static std::function<void(wxDocument*)> s_toolsPageActivate;
  static std::function<void(wxDocument*)> s_otherToolsPageActivate;

  // The activation steps (also run by the toolkit's activation event).
  void OnMDIActivate(bool activating);
  // Whether the user may close this child now.
  bool CanUserClose() const;

 private:
  void OnActivate(wxActivateEvent& e);
  void OnClose(wxCloseEvent& e);
};
