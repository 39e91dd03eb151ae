// The image document and its view, as far as the frames need them: the document template
// registers these classes, the child frame asks whether a document is the scan document.
// Opening, showing and saving images come with the document and view work.
#pragma once

#include <wx/docview.h>

// The document manager, keeping four recent files.
class COrbalonDocManager : public wxDocManager {
 public:
  static constexpr int kRecentFiles = 4;
  wxFileHistory* OnCreateFileHistory() override { return new wxFileHistory(kRecentFiles); }
};

class COrbalonDoc : public wxDocument {
 public:
  COrbalonDoc() = default;
  // The scan document: its working image has state 0. Closed only by accepting or
  // rejecting the scan, never by the user through the frame.
  virtual bool IsScanDocument() const { return m_scanDocument; }
  void SetScanDocument(bool scan) { m_scanDocument = scan; }

 protected:
  bool DoOpenDocument(const wxString& file) override;
  bool DoSaveDocument(const wxString& file) override;

 private:
  bool m_scanDocument = false;
  wxDECLARE_DYNAMIC_CLASS(COrbalonDoc);
};

class COrbalonView : public wxView {
 public:
  COrbalonView() = default;
  bool OnCreate(wxDocument* doc, long flags) override;
  void OnDraw(wxDC* dc) override;
  bool OnClose(bool deleteWindow) override;

 private:
  wxDECLARE_DYNAMIC_CLASS(COrbalonView);
};
