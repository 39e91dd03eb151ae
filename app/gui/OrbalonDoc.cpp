#include "app/gui/OrbalonDoc.h"

#include <wx/app.h>
#include <wx/filename.h>
#include <wx/scrolwin.h>

#include "app/gui/ChildFrame.h"

wxIMPLEMENT_DYNAMIC_CLASS(COrbalonDoc, wxDocument);
wxIMPLEMENT_DYNAMIC_CLASS(COrbalonView, wxView);

bool COrbalonDoc::DoOpenDocument(const wxString& file) {
  // Reading the image belongs to the document work; here the file only has to exist.
  return wxFileName::FileExists(file);
}

bool COrbalonDoc::DoSaveDocument(const wxString&) { return false; }

bool COrbalonView::OnCreate(wxDocument* doc, long flags) {
  if (!wxView::OnCreate(doc, flags)) return false;
  auto* frame = new CChildFrame(doc, this, wxStaticCast(wxTheApp->GetTopWindow(), wxDocMDIParentFrame));
  new wxScrolledWindow(frame, wxID_ANY);
  SetFrame(frame);
  frame->Show(true);
  return true;
}

void COrbalonView::OnDraw(wxDC*) {}

bool COrbalonView::OnClose(bool deleteWindow) {
  if (!wxView::OnClose(deleteWindow)) return false;
  Activate(false);
  if (deleteWindow && GetFrame()) {
    GetFrame()->Destroy();
    SetFrame(nullptr);
  }
  return true;
}
